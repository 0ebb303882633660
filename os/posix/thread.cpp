#include "os/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <ctime>

#include "os/thread_start.h"

namespace ks {

namespace detail {

namespace {
void* thread_main(void* p) {
  static_cast<ThreadStart*>(p)->run_and_free();
  return nullptr;
}
}  // namespace

bool launch_thread(ThreadStart* s, void*& h) {
  pthread_t t;
  if (pthread_create(&t, nullptr, thread_main, s) != 0) {
    delete s;
    return false;
  }
  static_assert(sizeof(pthread_t) <= sizeof(void*));
  h = reinterpret_cast<void*>(t);
  return true;
}

void release_thread(void* h) { pthread_detach(reinterpret_cast<pthread_t>(h)); }

}  // namespace detail

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

uint32_t current_process_id() { return static_cast<uint32_t>(getpid()); }

}  // namespace ks
