#include "os/thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace ks {

namespace {

struct Start {
  void (*fn)(void*) = nullptr;
  void* arg = nullptr;
  std::function<void()> f;
};

void* thread_main(void* p) {
  Start* s = static_cast<Start*>(p);
  if (s->fn) s->fn(s->arg);
  else s->f();
  delete s;
  return nullptr;
}

bool launch(Start* s, void*& h) {
  pthread_t t;
  if (pthread_create(&t, nullptr, thread_main, s) != 0) {
    delete s;
    return false;
  }
  static_assert(sizeof(pthread_t) <= sizeof(void*));
  h = reinterpret_cast<void*>(t);
  return true;
}

}  // namespace

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
  auto* s = new (std::nothrow) Start;
  if (!s) return false;
  s->fn = fn;
  s->arg = arg;
  return launch(s, h_);
}

bool Thread::start(std::function<void()> fn) {
  if (h_ || !fn) return false;
  auto* s = new (std::nothrow) Start;
  if (!s) return false;
  s->f = std::move(fn);
  return launch(s, h_);
}

bool Thread::join(uint32_t timeout_ms) {
  if (!h_) return true;
  pthread_t t = reinterpret_cast<pthread_t>(h_);
  int rc;
  if (timeout_ms == kInfinite) {
    rc = pthread_join(t, nullptr);
  } else {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    rc = pthread_timedjoin_np(t, nullptr, &deadline);
  }
  if (rc != 0) return false;
  h_ = nullptr;
  return true;
}

void Thread::detach() {
  if (!h_) return;
  pthread_detach(reinterpret_cast<pthread_t>(h_));
  h_ = nullptr;
}

uint32_t current_thread_id() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t current_process_id() { return static_cast<uint32_t>(getpid()); }

}  // namespace ks
