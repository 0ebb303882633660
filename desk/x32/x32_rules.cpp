#include "desk/x32/x32_rules.h"

namespace ks {

void X32BurstDetector::reset() {
  LockGuard g(lock_);
  started_ = false;
  pushes_ = 0;
  burst_ = false;
}

void X32BurstDetector::note_push(Tick now) {
  LockGuard g(lock_);
  if (!started_ || ticks_elapsed(now, window_start_) > kX32BurstWindowMs) {
    started_ = true;
    window_start_ = now;
    pushes_ = 0;
  }
  if (++pushes_ == kX32BurstPushes) burst_ = true;
  last_push_ = now;
}

bool X32BurstDetector::take_end(Tick now) {
  LockGuard g(lock_);
  if (!burst_ || ticks_elapsed(now, last_push_) <= kX32BurstQuietMs) return false;
  burst_ = false;
  return true;
}

bool X32BurstDetector::in_burst() {
  LockGuard g(lock_);
  return burst_;
}

void X32ReseedTimer::reset(Tick now) {
  LockGuard g(lock_);
  local_write_ = 0;
  last_reseed_ = now;
}

void X32ReseedTimer::note_local_write(Tick now) {
  LockGuard g(lock_);
  local_write_ = now | 1;
}

bool X32ReseedTimer::take_due(Tick now) {
  LockGuard g(lock_);
  bool after_write =
      local_write_ != 0 && ticks_elapsed(now, local_write_) >= kX32ReseedAfterWriteMs;
  if (after_write) local_write_ = 0;
  if (!after_write && ticks_elapsed(now, last_reseed_) <= kX32ReseedEveryMs) return false;
  last_reseed_ = now;
  return true;
}

}  // namespace ks
