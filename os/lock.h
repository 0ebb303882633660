// Critical section (recursive, like Windows') and reader/writer lock with a tried shared acquire.
#pragma once

#include <cstddef>

namespace ks {

// A module's global locks are made with new and never freed ("CriticalSection& g = *new
// CriticalSection;"): a thread left running by a stop that timed out must never enter a lock
// the module's unload deleted.
class CriticalSection {
public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock();
  bool try_lock();
  void unlock();

private:
  alignas(16) unsigned char storage_[64];
};

// Slim reader/writer lock: not recursive in either mode. try_lock_shared never waits, so callers
// on threads that must not stall (LV1's) get "busy" instead of blocking behind a writer.
class RwLock {
public:
  RwLock();
  ~RwLock();
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  void lock();
  bool try_lock();
  void unlock();
  void lock_shared();
  bool try_lock_shared();
  void unlock_shared();

private:
  alignas(16) unsigned char storage_[64];
};

template <class L>
class LockGuard {
public:
  explicit LockGuard(L& l) : l_(l) { l_.lock(); }
  ~LockGuard() { l_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

private:
  L& l_;
};

class SharedGuard {
public:
  explicit SharedGuard(RwLock& l) : l_(l) { l_.lock_shared(); }
  ~SharedGuard() { l_.unlock_shared(); }
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;

private:
  RwLock& l_;
};

// Tried shared hold: check held() before using what the lock guards.
class TrySharedGuard {
public:
  explicit TrySharedGuard(RwLock& l) : l_(l), held_(l.try_lock_shared()) {}
  ~TrySharedGuard() {
    if (held_) l_.unlock_shared();
  }
  TrySharedGuard(const TrySharedGuard&) = delete;
  TrySharedGuard& operator=(const TrySharedGuard&) = delete;
  bool held() const { return held_; }

private:
  RwLock& l_;
  bool held_;
};

}  // namespace ks
