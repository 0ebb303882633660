#include "os/tests/support/manual_clock.h"

#include <algorithm>
#include <chrono>

#include "os/event.h"

namespace ks {

ManualClock::ManualClock(uint64_t start, Mode mode) : now_(start), mode_(mode) {}

Tick ManualClock::now() { return static_cast<Tick>(now_.load()); }
uint64_t ManualClock::now64() { return now_.load(); }

void ManualClock::advance(uint64_t ms) {
  {
    std::lock_guard<std::mutex> g(m_);
    now_ += ms;
  }
  cv_.notify_all();
}

void ManualClock::set(uint64_t now) {
  {
    std::lock_guard<std::mutex> g(m_);
    now_ = now;
  }
  cv_.notify_all();
}

int ManualClock::waiting() {
  std::lock_guard<std::mutex> g(m_);
  return waiters_;
}

bool ManualClock::wait_for_waiters(int n, uint32_t real_timeout_ms) {
  std::unique_lock<std::mutex> g(m_);
  return cv_.wait_for(g, std::chrono::milliseconds(real_timeout_ms), [&] { return waiters_ >= n; });
}

bool ManualClock::wait_idle(int n, uint32_t real_timeout_ms) {
  std::unique_lock<std::mutex> g(m_);
  return cv_.wait_for(g, std::chrono::milliseconds(real_timeout_ms), [&] {
    if (waiters_ < n) return false;
    for (uint64_t d : deadlines_)
      if (d <= now_.load()) return false;
    return true;
  });
}

void ManualClock::sleep(uint32_t ms) {
  slept_ += ms;
  if (mode_ == Mode::automatic) {
    advance(ms);
    return;
  }
  wait_until(now_.load() + ms, nullptr);
}

bool ManualClock::wait(Event& ev, uint32_t ms) {
  if (ev.wait(0)) return true;
  if (mode_ == Mode::automatic) {
    if (ms != kInfinite) {
      slept_ += ms;
      advance(ms);
    }
    return ev.wait(0);
  }
  uint64_t deadline = ms == kInfinite ? UINT64_MAX : now_.load() + ms;
  return wait_until(deadline, &ev);
}

// Blocks until the clock reaches `deadline` or `ev` is set. The event is a system object that
// cannot wake this condition, so it is polled every millisecond of real time while waiting.
bool ManualClock::wait_until(uint64_t deadline, Event* ev) {
  std::unique_lock<std::mutex> g(m_);
  ++waiters_;
  deadlines_.push_back(deadline);
  cv_.notify_all();
  bool signalled = false;
  while (now_.load() < deadline) {
    if (ev) {
      g.unlock();
      signalled = ev->wait(1);
      g.lock();
      if (signalled) break;
    } else {
      cv_.wait(g);
    }
  }
  --waiters_;
  deadlines_.erase(std::find(deadlines_.begin(), deadlines_.end(), deadline));
  cv_.notify_all();
  return signalled;
}

}  // namespace ks
