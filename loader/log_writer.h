// What the log thread and a caller with a full queue do with finished lines: collect lines of
// one channel into one write, keep the rotation rule line by line, and keep each file's order
// when a caller writes its own line. The files themselves (open, rotate, write) and the lock
// that serialises writers belong to the caller (loader/win/loader_log.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "loader/log_queue.h"
#include "loader/log_rules.h"

namespace ks {

// The files behind a writer.
class LogFiles {
public:
  virtual ~LogFiles() = default;
  // Before a line: opens the channel's file on first use and rotates it when it is full
  // (log_needs_rotation); false when there is no file to write to.
  virtual bool ready(int channel) = 0;
  // Bytes in the channel's file as counted so far.
  virtual uint64_t bytes(int channel) = 0;
  // Appends to the channel's file (ready was true) and adds what was written to its count.
  virtual void write(int channel, const char* data, size_t n) = 0;
};

template <size_t Slots>
class BasicLogWriter {
public:
  explicit BasicLogWriter(LogFiles& files) : files_(files) {}
  BasicLogWriter(const BasicLogWriter&) = delete;
  BasicLogWriter& operator=(const BasicLogWriter&) = delete;

  // Any thread, never waits: false when the queue is full (the caller then uses write_now).
  bool hand_over(int channel, const char* line, size_t n) { return queue_.push(channel, line, n); }

  // The writer's lock held: writes what was queued before the call, at most max_lines of it
  // (see BasicLogQueue::drain for through_claimed); the number of lines taken.
  size_t drain(bool through_claimed, size_t max_lines = Slots) {
    const size_t n =
        queue_.drain([this](int channel, const char* line, size_t k) { add(channel, line, k); },
                     through_claimed, max_lines);
    flush();
    return n;
  }

  // The writer's lock held: the caller's own line, behind every line handed over before it.
  void write_now(int channel, const char* line, size_t n) {
    queue_.drain([this](int c, const char* l, size_t k) { add(c, l, k); }, true);
    add(channel, line, n);
    flush();
  }

  // Nothing handed over is waiting.
  bool idle() const { return queue_.empty(); }

private:
  void flush() {
    if (len_ == 0) return;
    files_.write(channel_, batch_, len_);
    len_ = 0;
  }

  // A batch is written out before a line that would find its file full, so that the line that
  // passes the limit is still written and the next one rotates.
  void add(int channel, const char* line, size_t n) {
    if (channel < 0 || channel >= kLogChannels || n == 0) return;
    if (n > sizeof batch_) n = sizeof batch_;
    if (len_ && (channel != channel_ || len_ + n > sizeof batch_ ||
                 log_needs_rotation(files_.bytes(channel) + len_)))
      flush();
    if (len_ == 0) {
      if (!files_.ready(channel)) return;  // no file: the line is lost as a failed write is
      channel_ = channel;
    }
    std::memcpy(batch_ + len_, line, n);
    len_ += n;
  }

  LogFiles& files_;
  BasicLogQueue<Slots> queue_;
  char batch_[64 * 1024];
  size_t len_ = 0;
  int channel_ = 0;
};

// The loader's writer: 1024 queued lines (about 1 MiB) ride out a burst of value traffic while
// the log thread writes.
using LogWriter = BasicLogWriter<1024>;

}  // namespace ks
