// The simulated WING's meter stream: it reads meter subscriptions off TCP connections to port
// 2222 (the connection opens with the raw pair DF D3), keeps each alive while it is renewed, and
// sends every live subscriber a frame of its levels over UDP at a steady rate, from the desk's
// own address. Switches make it send frames of the wrong size or for the wrong id, or go quiet.
//
// Its reader and frame writer are its own, written apart from the driver's codec.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/socket.h"

namespace ks::sim {

struct MeterFaults {
  bool silent = false;           // subscriptions are taken, no frame is sent
  uint32_t frame_size = 896;     // anything else: frames cut or padded to this size
  uint32_t id_offset = 0;        // frames carry the subscriber's id plus this
  bool ignore_renewals = false;  // renewals are read but do not keep a subscription alive
  uint32_t interval_ms = 50;     // between two frames
  uint32_t lifetime_ms = 8000;   // a subscription not renewed for this long stops
};

// One subscription as the desk saw it.
struct MeterSubscriber {
  uint32_t addr = 0;  // where frames go
  uint16_t port = 0;  // read as unsigned: ports above 32767 are ordinary
  uint32_t id = 0;
  bool well_formed = false;  // the group list and end mark were exactly as expected
  uint32_t renewals = 0;
  uint64_t subscribed_ms = 0;  // steady clock
  uint64_t renewed_ms = 0;
  bool open = true;  // its connection is still open
};

class MeterSim {
public:
  MeterSim();
  ~MeterSim();
  MeterSim(const MeterSim&) = delete;
  MeterSim& operator=(const MeterSim&) = delete;

  // Starts the frame sender with frames leaving from `addr` (a loopback address).
  bool start(uint32_t addr);
  // For use without the rest of the simulator: also listens on addr:port for subscriptions.
  bool listen(uint32_t addr, uint16_t port = 2222);
  void stop();

  // A TCP connection begins with these bytes: is it a meter subscription?
  static bool claims(const uint8_t* first, size_t n);
  // Serves one subscription connection on the caller's thread until it closes or `keep_going`
  // turns false; `first` are the bytes already read from it.
  void serve(Socket& conn, uint32_t peer_addr, const uint8_t* first, size_t n,
             const std::function<bool()>& keep_going);

  // Level of one input of the frame, dB (bank as in the frame: "LCL", "A", ... "USR").
  bool set_level(const std::string& bank, int n, double db);
  void set_faults(const MeterFaults& f);
  void update_faults(const std::function<void(MeterFaults&)>& change);

  // The control port's commands: "meter <bank> <n> <dB>" sets a level; "meterfault silent on|off",
  // "meterfault size <bytes>", "meterfault id <offset>" and "meterfault clear" switch faults.
  // Returns the reply line, "ok" or "err ...".
  std::string command(const std::string& verb, const std::string& args);

  std::vector<MeterSubscriber> subscribers() const;
  uint32_t frames_sent() const { return frames_sent_.load(); }
  uint32_t junk_bytes() const { return junk_.load(); }
  // Waits (real time) until `pred(subscribers)` holds; false on time-out.
  bool wait_subscribers(const std::function<bool(const std::vector<MeterSubscriber>&)>& pred,
                        uint32_t timeout_ms) const;
  // Closes every subscription connection (they end as a desk reboot would end them).
  void drop_connections();

private:
  void send_loop();
  void accept_loop();
  std::vector<uint8_t> frame_for(uint32_t id, const MeterFaults& f) const;

  mutable std::mutex m_;
  mutable std::condition_variable changed_;
  std::vector<MeterSubscriber> subs_;
  std::vector<int16_t> levels_;  // 1/256 dB, frame order
  MeterFaults faults_;
  uint32_t drop_generation_ = 0;

  Socket udp_, listener_;
  std::thread send_thread_, accept_thread_;
  std::vector<std::thread> conn_threads_;
  std::atomic<bool> running_{false};
  std::atomic<uint32_t> frames_sent_{0}, junk_{0};
};

}  // namespace ks::sim
