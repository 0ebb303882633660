#include "os/event.h"

#include <windows.h>

#include "os/win/wide.h"

namespace ks {

bool Event::create(Reset reset, bool initially_set) {
  close();
  h_ = CreateEventW(nullptr, reset == Reset::manual, initially_set, nullptr);
  return h_ != nullptr;
}

bool Event::create_named(const std::string& name, Reset reset, bool initially_set) {
  close();
  if (name.empty()) return false;
  h_ = CreateEventW(nullptr, reset == Reset::manual, initially_set, win::widen(name).c_str());
  existed_ = h_ && GetLastError() == ERROR_ALREADY_EXISTS;
  return h_ != nullptr;
}

bool Event::open_named(const std::string& name) {
  close();
  if (name.empty()) return false;
  h_ = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, win::widen(name).c_str());
  existed_ = h_ != nullptr;
  return h_ != nullptr;
}

void Event::close() {
  if (h_) CloseHandle(static_cast<HANDLE>(h_));
  h_ = nullptr;
  existed_ = false;
}

void Event::set() {
  if (h_) SetEvent(static_cast<HANDLE>(h_));
}

void Event::reset() {
  if (h_) ResetEvent(static_cast<HANDLE>(h_));
}

bool Event::wait(uint32_t ms) {
  if (!h_) return false;
  return WaitForSingleObject(static_cast<HANDLE>(h_), ms == kInfinite ? INFINITE : ms) ==
         WAIT_OBJECT_0;
}

}  // namespace ks
