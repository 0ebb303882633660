// Between the portable and the platform halves of Thread: what a new thread runs, and the calls
// each platform provides.
#pragma once

#include <functional>

namespace ks::detail {

struct ThreadStart {
  void (*fn)(void*) = nullptr;
  void* arg = nullptr;
  std::function<void()> f;
  // Runs the body, then frees the record: the thread owns it from its first instruction.
  void run_and_free() {
    if (fn)
      fn(arg);
    else
      f();
    delete this;
  }
};

// Starts a thread running s->run_and_free(); frees s when it cannot.
bool launch_thread(ThreadStart* s, void*& handle);
// Gives up the handle of a thread that runs on.
void release_thread(void* handle);

}  // namespace ks::detail
