// The link's two timing rules, as plain state that takes the time as an argument so that tests
// can step it: the burst detector (a scene load shows as a flood of pushes) and the reseed timer.
#pragma once

#include <cstdint>

#include "os/clock.h"
#include "os/lock.h"

namespace ks {

constexpr uint32_t kX32BurstWindowMs = 500;
constexpr uint32_t kX32BurstPushes = 150;
constexpr uint32_t kX32BurstQuietMs = 700;
constexpr uint32_t kX32ReseedAfterWriteMs = 801;
constexpr uint32_t kX32ReseedEveryMs = 10000;

// Pushes are noted by the receive thread, the end is taken by the poll thread.
class X32BurstDetector {
public:
  void reset();
  void note_push(Tick now);
  // True once when a burst is on and more than 700 ms passed since the last push (clears it).
  bool take_end(Tick now);
  bool in_burst();

private:
  CriticalSection lock_;
  bool started_ = false;
  Tick window_start_ = 0;
  uint32_t pushes_ = 0;
  bool burst_ = false;
  Tick last_push_ = 0;
};

class X32ReseedTimer {
public:
  void reset(Tick now);
  void note_local_write(Tick now);  // any gain write
  // True when a reseed is due now (then it counts as done): 801 ms after a local write, else
  // every 10 s.
  bool take_due(Tick now);

private:
  CriticalSection lock_;
  Tick local_write_ = 0;  // (now | 1), 0 = none
  Tick last_reseed_ = 0;
};

}  // namespace ks
