#include "os/thread.h"

#include <new>

#include "os/thread_start.h"

namespace ks {

Thread::~Thread() { detach(); }

Thread::Thread(Thread&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }

Thread& Thread::operator=(Thread&& o) noexcept {
  if (this != &o) {
    detach();
    h_ = o.h_;
    o.h_ = nullptr;
  }
  return *this;
}

bool Thread::start(void (*fn)(void*), void* arg) {
  if (h_ || !fn) return false;
  auto* s = new (std::nothrow) detail::ThreadStart;
  if (!s) return false;
  s->fn = fn;
  s->arg = arg;
  return detail::launch_thread(s, h_);
}

bool Thread::start(std::function<void()> fn) {
  if (h_ || !fn) return false;
  auto* s = new (std::nothrow) detail::ThreadStart;
  if (!s) return false;
  s->f = std::move(fn);
  return detail::launch_thread(s, h_);
}

void Thread::detach() {
  if (!h_) return;
  detail::release_thread(h_);
  h_ = nullptr;
}

}  // namespace ks
