// A simulated WING console for tests and the demo: native control on TCP 2222 of a loopback
// address, a node tree with the values the drivers read and write, pushes to every connected
// client when a value changes, and switches that make it misbehave. It runs in process (tests)
// or as the wing-sim program (demo), driven through its control port.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/socket.h"
#include "sim/wing/meters.h"
#include "sim/wing/sim_wire.h"

namespace ks::sim {

struct SimIdentity {
  std::string name = "Sim WING";
  std::string model = "wing";
  std::string serial = "S2026000001";
  std::string firmware = "3.1-0-gsim00001";
};

struct GainRange {
  double min = -3.0, max = 45.5, step = 0.5;
};

// Ways to misbehave. Counted switches apply to the next N replies.
struct SimFaults {
  bool silent = false;    // read everything, answer nothing
  uint32_t delay_ms = 0;  // hold every reply this long
  bool refuse = false;    // accept and close at once
  bool bytewise = false;  // one byte per TCP segment
  bool echo = true;       // push a client's own writes back to it too
  bool marker = true;     // open every frame with DF D1
  // Like the console: an end mark after every data and definition request (a leaf's value and
  // a definition block too), definition blocks in the long form, raw-float (0xD6) leaves in
  // whole-node answers, and writes taken only in a token type that fits the node. Off: the
  // stream the drivers were first written against (end marks after whole-node answers only).
  bool console = true;
  bool late_end_marks = false;  // the trailing end mark goes only after the next request came
  int garble_next = 0;          // reply's value token replaced by an unknown one
  int oversize_next = 0;        // a block too large for any buffer goes before the reply
  int unknown_next = 0;         // an item with an unknown value token goes before the reply
  int wrong_hash_next = 0;      // reply carries another node's hash
  int wrong_type_next = 0;      // reply carries a string where the node holds a number
  std::string omit_leaf;        // this leaf is missing from the tree as clients see it
  std::string omit_item;        // this leaf is left out of whole-node answers only
  int max_connections = 8;
  bool stall = false;  // read nothing: requests queue in TCP until cleared, then each is answered
  bool hold_pushes =
      false;  // changes at the desk are stored, not pushed (with stall: a frozen desk)
};

struct SimRecord {
  uint64_t at_ms;  // steady clock
  int connection;
  SimRequest request;
};

class WingSim {
public:
  WingSim();
  ~WingSim();
  WingSim(const WingSim&) = delete;
  WingSim& operator=(const WingSim&) = delete;

  // Listens on addr:port (port 2222 for the real thing). False when it cannot bind.
  bool start(uint32_t addr, uint16_t port = 2222);
  // Before start: the receive buffer of every connection (small, so a stall fills it soon).
  void set_receive_buffer(int bytes) { receive_buffer_ = bytes; }
  void stop();
  uint32_t address() const { return addr_; }
  // The meter stream: subscriptions arrive on connections to the same port.
  MeterSim& meters() { return meters_; }

  // The node tree. Paths are "io/in/LCL/1/g" style.
  bool get(const std::string& path, SimValue* out) const;
  // A move at the desk: stores (stepped and clamped like a write) and pushes to every client.
  bool set(const std::string& path, const SimValue& v);
  // The node now holds this value in this type, as a build may encode it otherwise (a raw
  // float, a string where a number was). Nothing is pushed.
  bool retype(const std::string& path, const SimValue& v);
  uint32_t hash_of(const std::string& path) const { return node_hash(salt(), path); }
  // The leaf or node with this hash under the current build; empty when there is none.
  std::string path_of(uint32_t hash) const;
  uint32_t rejected_writes() const { return rejected_.load(); }
  std::string salt() const;
  void set_firmware(const std::string& fw);  // another build: other hashes
  SimIdentity identity() const;
  std::string identity_line() const;  // WING,ip,name,model,serial,firmware
  GainRange gain_range(const std::string& bank) const;

  // Faults.
  void set_faults(const SimFaults& f);
  SimFaults faults() const;
  void update_faults(const std::function<void(SimFaults&)>& change);
  void drop_connections();
  // Raw bytes to every connected client, exactly as given (no escaping).
  void inject(const std::vector<uint8_t>& raw);

  // What was asked.
  std::vector<SimRecord> records() const;
  void clear_records();
  int connections() const;
  uint32_t accepted() const { return accepted_.load(); }
  uint32_t junk_bytes() const { return junk_.load(); }
  // Waits (real time) until `pred(records)` holds; false on time-out.
  bool wait_records(const std::function<bool(const std::vector<SimRecord>&)>& pred,
                    uint32_t timeout_ms) const;
  bool wait_connections(int n, uint32_t timeout_ms) const;

private:
  struct Conn;
  void accept_loop();
  void serve(std::shared_ptr<Conn> c);
  void answer(Conn& c, const SimRequest& r);
  void write_value(Conn& from, const std::string& path, const SimValue& v);
  bool store(const std::string& path, const SimValue& v, SimValue* stored);
  void push_to_all(const std::string& path, const SimValue& v, const Conn* skip);
  void send_frame(Conn& c, const WireOut& w);
  void fill_tree();

  mutable std::mutex m_;  // tree, faults, records, connections
  mutable std::condition_variable changed_;
  std::map<std::string, SimValue> tree_;
  std::map<std::string, std::vector<std::string>> node_order_;  // whole-node reads
  std::map<std::string, GainRange> ranges_;
  SimIdentity identity_;
  SimFaults faults_;
  std::vector<SimRecord> records_;
  std::vector<std::shared_ptr<Conn>> conns_;

  Socket listener_;
  std::thread accept_thread_;
  std::atomic<bool> running_{false};
  std::atomic<uint32_t> accepted_{0}, junk_{0}, rejected_{0};
  uint32_t addr_ = 0;
  int receive_buffer_ = 0;
  int next_conn_ = 0;
  MeterSim meters_;
};

}  // namespace ks::sim
