// Threads: start, join with a time-out, and leave a stuck thread behind without killing it.
#pragma once

#include <cstdint>
#include <functional>

#include "os/clock.h"

namespace ks {

class Thread {
public:
  Thread() = default;
  // A thread still running at destruction is detached, never waited for or terminated.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  Thread(Thread&& o) noexcept;
  Thread& operator=(Thread&& o) noexcept;

  // Starts `fn(arg)` on a new thread (CreateThread). False when the system refused, or when this
  // object already holds a thread.
  bool start(void (*fn)(void*), void* arg);
  bool start(std::function<void()> fn);

  // Waits up to `timeout_ms` (kInfinite: forever) for the thread to end. True when it ended;
  // the object is then empty. On time-out the thread keeps running and stays joinable.
  bool join(uint32_t timeout_ms);
  // Gives the thread up: it runs on and frees its own start record when it ends.
  void detach();

  bool joinable() const { return h_ != nullptr; }

private:
  void* h_ = nullptr;
};

uint32_t current_process_id();

}  // namespace ks
