// Text control port of the WING simulator: one command per line on TCP (loopback only), one
// reply line per command starting "ok" or "err". Lets scripts and other processes (the demo,
// Wine programs) move values at the desk and switch faults.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "os/socket.h"

namespace ks::sim {

class WingSim;

constexpr uint16_t kDefaultControlPort = 2399;

class SimControl {
public:
  explicit SimControl(WingSim& sim) : sim_(sim) {}
  ~SimControl() { stop(); }
  bool start(uint32_t addr, uint16_t port = kDefaultControlPort);
  void stop();
  bool quit_requested() const { return quit_.load(); }

  // One command line in, one reply line out (no newline). Exposed for in-process use.
  std::string execute(const std::string& line);

private:
  void loop();

  WingSim& sim_;
  Socket listener_;
  std::thread thread_;
  std::atomic<bool> running_{false}, quit_{false};
};

}  // namespace ks::sim
