// Stand-ins for the framework around the WING driver in its tests: the recording driver
// services (a log that records every line, a stuck-thread counter, a stop flag), and a recorder
// of pushed values.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/tests/support/driver_recorder.h"

namespace ks::test {

struct PushRecord {
  std::string bank, leaf;
  int32_t index;
  double value;
  uint8_t flag;
};

// Installs a push callback with the link that records into a list.
class PushRecorder {
public:
  PushRecorder();
  ~PushRecorder();
  std::vector<PushRecord> pushes() const;
  size_t size() const;
  bool wait_for(size_t n, uint32_t timeout_ms) const;
};

// Waits (real time) until cond() holds; false on time-out.
template <class F>
bool eventually(F cond, uint32_t timeout_ms);

uint64_t now_ms();

}  // namespace ks::test

#include <chrono>
#include <thread>

template <class F>
bool ks::test::eventually(F cond, uint32_t timeout_ms) {
  uint64_t end = now_ms() + timeout_ms;
  while (!cond()) {
    if (now_ms() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
