#include "os/stoppable_threads.h"

namespace ks {

using Guard = LockGuard<CriticalSection>;

bool StoppableThreads::wait_stop(Clock& clock, uint32_t ms) {
  if (!running()) return true;
  clock.wait_stop(stop_event(), ms);
  return !running();
}

bool StoppableThreads::alive(int slot) const {
  return slot >= 0 && slot < kMaxThreads && slots_[slot].alive.load(std::memory_order_acquire);
}

int StoppableThreads::live() const {
  int n = 0;
  for (const Slot& s : slots_) n += s.alive.load(std::memory_order_acquire) ? 1 : 0;
  return n;
}

void StoppableThreads::run(void* p) {
  Slot* s = static_cast<Slot*>(p);
  s->fn(s->arg);
  // Last touch of the slot: from here a new run may take it.
  s->alive.store(false, std::memory_order_release);
}

bool StoppableThreads::ensure_events() {
  if (events_ready_.load(std::memory_order_relaxed)) return true;
  if (!stop_.valid() && !stop_.create(Event::Reset::manual)) return false;
  if (!idle_.valid() && !idle_.create(Event::Reset::manual, true)) return false;
  events_ready_.store(true, std::memory_order_release);
  return true;
}

void StoppableThreads::wait_idle() {
  while (stopping_) {
    lock_.unlock();
    idle_.wait(kInfinite);  // a stop is bounded by its joins' budget
    lock_.lock();
  }
}

StoppableThreads::Start::Start(StoppableThreads& set, bool wait_for_stop) : set_(set) {
  set_.lock_.lock();
  if (wait_for_stop) set_.wait_idle();
}

StoppableThreads::Start::~Start() { set_.lock_.unlock(); }

bool StoppableThreads::Start::launch(int slot, void (*fn)(void*), void* arg) {
  StoppableThreads& t = set_;
  if (t.stopping_ || left_over() || slot < 0 || slot >= kMaxThreads || !fn) return false;
  Slot& s = t.slots_[slot];
  if (s.alive.load(std::memory_order_acquire) || !t.ensure_events()) return false;
  s.thread.detach();  // the handle of one that ended after an abandoned run
  const bool first = !t.running();
  if (first) {
    t.stop_.reset();
    t.running_.store(true, std::memory_order_release);
  }
  s.fn = fn;
  s.arg = arg;
  s.alive.store(true, std::memory_order_release);
  if (s.thread.start(run, &s)) return true;
  s.alive.store(false, std::memory_order_release);
  if (first) t.running_.store(false, std::memory_order_release);
  return false;
}

void StoppableThreads::Start::abandon() {
  StoppableThreads& t = set_;
  if (!t.running()) return;
  t.running_.store(false, std::memory_order_release);
  t.stop_.set();
  for (Slot& s : t.slots_) s.thread.detach();
}

StoppableThreads::Stopped StoppableThreads::stop(uint32_t budget_ms, Budget budget,
                                                 void (*wake)()) {
  Stopped r;
  {
    Guard g(lock_);
    wait_idle();
    if (!running()) return r;
    r.was_running = true;
    stopping_ = true;
    idle_.reset();
    running_.store(false, std::memory_order_release);
    stop_.set();
  }
  // The lock is free while the threads end: one of them that starts a sibling with a start that
  // must not wait is refused at once, instead of holding this stop until it gives up on it.
  if (wake) wake();
  const Tick started = tick_now();
  for (Slot& s : slots_) {
    if (!s.thread.joinable()) continue;
    uint32_t wait = budget_ms;
    if (budget == Budget::kShared) {
      uint32_t spent = ticks_elapsed(tick_now(), started);
      wait = spent < budget_ms ? budget_ms - spent : 0;
    }
    if (!s.thread.join(wait)) {
      ++r.left;
      s.thread.detach();  // it runs on, with everything it uses left in place
    }
  }
  Guard g(lock_);
  stopping_ = false;
  if (live() == 0) stop_.reset();
  idle_.set();
  return r;
}

}  // namespace ks
