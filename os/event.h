// Auto- and manual-reset events, unnamed or named ("Local\\..."), shared across processes.
#pragma once

#include <cstdint>
#include <string>

#include "os/clock.h"

namespace ks {

class Event {
public:
  enum class Reset { automatic, manual };

  Event() = default;
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  Event(Event&& o) noexcept;
  Event& operator=(Event&& o) noexcept;

  // Unnamed event, private to this process.
  bool create(Reset reset, bool initially_set = false);
  // Named event: created, or opened when it already exists (then `reset` and `initially_set`
  // are those of the existing one, and existed() is true).
  bool create_named(const std::string& name, Reset reset, bool initially_set = false);
  // Opens an existing named event; false when there is none.
  bool open_named(const std::string& name);
  void close();

  bool valid() const { return h_ != nullptr; }
  bool existed() const { return existed_; }

  void set();
  void reset();
  // True when signalled within `ms` (kInfinite waits forever). Auto-reset events are consumed.
  bool wait(uint32_t ms);

private:
  void* h_ = nullptr;  // HANDLE on Windows, an event record natively
  bool existed_ = false;
};

}  // namespace ks
