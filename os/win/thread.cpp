#include "os/thread.h"

#include <windows.h>

#include "os/thread_start.h"

namespace ks {

namespace detail {

namespace {
DWORD WINAPI thread_main(LPVOID p) {
  static_cast<ThreadStart*>(p)->run_and_free();
  return 0;
}
}  // namespace

bool launch_thread(ThreadStart* s, void*& h) {
  HANDLE t = CreateThread(nullptr, 0, thread_main, s, 0, nullptr);
  if (!t) {
    delete s;
    return false;
  }
  h = t;
  return true;
}

void release_thread(void* h) { CloseHandle(static_cast<HANDLE>(h)); }

}  // namespace detail

bool Thread::join(uint32_t timeout_ms) {
  if (!h_) return true;
  if (WaitForSingleObject(static_cast<HANDLE>(h_),
                          timeout_ms == kInfinite ? INFINITE : timeout_ms) != WAIT_OBJECT_0)
    return false;
  CloseHandle(static_cast<HANDLE>(h_));
  h_ = nullptr;
  return true;
}

uint32_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace ks
