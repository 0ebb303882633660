#include "os/thread.h"

#include <windows.h>

#include <new>

namespace ks {

namespace {

struct Start {
  void (*fn)(void*) = nullptr;
  void* arg = nullptr;
  std::function<void()> f;
};

DWORD WINAPI thread_main(LPVOID p) {
  Start* s = static_cast<Start*>(p);
  if (s->fn) s->fn(s->arg);
  else s->f();
  delete s;
  return 0;
}

bool launch(Start* s, void*& h) {
  HANDLE t = CreateThread(nullptr, 0, thread_main, s, 0, nullptr);
  if (!t) {
    delete s;
    return false;
  }
  h = t;
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
  if (WaitForSingleObject(static_cast<HANDLE>(h_), timeout_ms == kInfinite ? INFINITE : timeout_ms) != WAIT_OBJECT_0)
    return false;
  CloseHandle(static_cast<HANDLE>(h_));
  h_ = nullptr;
  return true;
}

void Thread::detach() {
  if (!h_) return;
  CloseHandle(static_cast<HANDLE>(h_));
  h_ = nullptr;
}

uint32_t current_thread_id() { return GetCurrentThreadId(); }
uint32_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace ks
