// The simulated WING's discovery side: answers "WING?" on UDP 2222 with its identity line, and
// the card questions "/$syscfg/opt_mod" and "/cards/$type" on UDP 2223 with an OSC string.
// Its own small encoder and parser, so a fault in the product's cannot hide behind it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "os/socket.h"

namespace ks::sim {

struct DiscoveryBehaviour {
  std::string line;             // the identity line sent for "WING?"
  std::string opt_mod = "WSG";  // answer to /$syscfg/opt_mod ("" : no answer)
  std::string card_type = "WSG";
  bool silent = false;  // no answer to "WING?"
  std::string extra;    // sent before the identity line, as a datagram of its own
};

class DiscoveryResponder {
public:
  DiscoveryResponder() = default;
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  // Binds UDP 2222 and 2223 (or the given ports) on addr; 0 means any address, which a desk
  // needs to hear broadcasts. False when a port cannot be bound.
  bool start(uint32_t addr, const DiscoveryBehaviour& b, uint16_t discovery_port = 2222,
             uint16_t osc_port = 2223);
  void stop();

  void set_behaviour(const DiscoveryBehaviour& b);
  int questions() const { return questions_.load(); }
  int card_questions() const { return card_questions_.load(); }

private:
  void run();
  void answer_osc(const char* data, int len, const Endpoint& from);

  Socket disc_, osc_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<int> questions_{0}, card_questions_{0};
  mutable std::mutex m_;
  DiscoveryBehaviour b_;
};

// "WING,ip,name,model,serial,firmware"
std::string wing_identity_line(const std::string& ip, const std::string& name,
                               const std::string& model, const std::string& serial,
                               const std::string& firmware);

}  // namespace ks::sim
