// What the driver tells the framework, recorded for tests: its events, its log lines and its
// stuck threads.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "bridge/tests/support/driver_recorder.h"
#include "shared/desk_driver.h"

namespace ks::test {

struct RecordedEvent {
  std::chrono::steady_clock::time_point at;
  std::string bank;
  int32_t n;
  std::string kind;
  double value;
  uint8_t flag;
};

// Installs itself as the driver's event callback and, through its DriverRecorder, as the driver
// services while alive.
class X32Recorder {
public:
  X32Recorder();
  ~X32Recorder();
  std::vector<RecordedEvent> events();
  std::vector<std::string> lines() { return services_.lines(); }
  // Forgets the events and the lines.
  void clear();
  int count_kind(const std::string& kind);
  bool has_line(const std::string& part) { return services_.has_line(part); }
  void set_stopping(bool on) { services_.set_stopping(on); }
  // Waits (real time) until ready() holds; false on time-out.
  bool wait_for(const std::function<bool()>& ready, int timeout_ms);
  static int stuck_reports() { return int(DriverRecorder::stuck()); }

private:
  DriverRecorder services_;
};

}  // namespace ks::test

namespace ks::test {

// Loopback address for simulated desk number n. Natively each desk gets 127.0.0.n. Under Wine a
// UDP socket bound to one loopback address holds the port on the whole loopback interface (a
// second desk on 10023 cannot bind), so there every desk is 127.0.0.1, one at a time.
std::string x32_test_address(int n);
bool x32_several_desks();

}  // namespace ks::test
