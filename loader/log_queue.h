// The loader's queue of finished log lines: LV1's threads hand a line over without waiting for
// the file, the log thread writes it. Bounded (fixed slots, no allocation after construction),
// many producers, one consumer at a time (the caller serialises consumers).
//
// A producer claims a slot, copies its line in and publishes it; a full queue refuses the line
// and the caller writes it itself. Lines leave in the order their slots were claimed, so the
// lines of one thread keep their order, and a consumer that drains "through the lines claimed so
// far" before writing a line of its own keeps it behind everything handed over before it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

#include "loader/log_rules.h"

namespace ks {

// A finished line: time stamp, two blanks, text and newline.
constexpr size_t kLogLineBytes = kLogTextBytes + 32;

template <size_t Slots>
class BasicLogQueue {
  static_assert(Slots >= 2 && (Slots & (Slots - 1)) == 0, "a power of two");

public:
  BasicLogQueue() {
    for (size_t i = 0; i < Slots; ++i) slots_[i].seq.store(i, std::memory_order_relaxed);
  }
  BasicLogQueue(const BasicLogQueue&) = delete;
  BasicLogQueue& operator=(const BasicLogQueue&) = delete;

  // Any thread, never waits. Copies up to kLogLineBytes bytes of the line; false when full.
  bool push(int channel, const char* line, size_t len) {
    if (len > kLogLineBytes) len = kLogLineBytes;
    uint64_t pos = tail_.load(std::memory_order_relaxed);
    Slot* s;
    for (;;) {
      s = &slots_[pos & (Slots - 1)];
      const uint64_t seq = s->seq.load(std::memory_order_acquire);
      const int64_t dif = int64_t(seq - pos);
      if (dif == 0) {
        if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
      } else if (dif < 0) {
        return false;  // the slot still holds a line from one lap ago
      } else {
        pos = tail_.load(std::memory_order_relaxed);
      }
    }
    s->channel = channel;
    s->len = uint32_t(len);
    std::memcpy(s->text, line, len);
    s->seq.store(pos + 1, std::memory_order_release);
    return true;
  }

  // One consumer at a time. Hands the lines claimed before the call, oldest first, to
  // sink(channel, text, len), at most max_lines of them. With through_claimed it waits for those
  // whose producers are still copying, so that nothing handed over earlier is left behind;
  // otherwise it stops at the first line not yet published. Lines handed over meanwhile wait for
  // the next call, so a stream of producers never keeps one drain going.
  template <class Sink>
  size_t drain(Sink&& sink, bool through_claimed, size_t max_lines = Slots) {
    const uint64_t end = tail_.load(std::memory_order_acquire);
    size_t n = 0;
    uint32_t waits = 0;
    while (n < max_lines) {
      const uint64_t pos = head_.load(std::memory_order_relaxed);
      if (pos >= end) return n;
      Slot& s = slots_[pos & (Slots - 1)];
      const uint64_t seq = s.seq.load(std::memory_order_acquire);
      if (seq != pos + 1) {
        // A producer that never publishes (a thread suspended or killed halfway) must not hold
        // the writer up for ever: after a long while its line is left for a later drain.
        if (!through_claimed || ++waits > kMaxClaimedWaits) return n;
        std::this_thread::yield();
        continue;
      }
      sink(s.channel, static_cast<const char*>(s.text), size_t(s.len));
      head_.store(pos + 1, std::memory_order_relaxed);
      s.seq.store(pos + Slots, std::memory_order_release);
      ++n;
    }
    return n;
  }

  // Nothing claimed that the consumer has not taken (a line being copied counts as there).
  bool empty() const {
    return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
  }

  static constexpr size_t capacity() { return Slots; }
  static constexpr uint32_t kMaxClaimedWaits = 1u << 20;

private:
  struct Slot {
    std::atomic<uint64_t> seq;
    int channel = 0;
    uint32_t len = 0;
    char text[kLogLineBytes];
  };
  alignas(64) std::atomic<uint64_t> tail_{0};  // next slot a producer claims
  alignas(64) std::atomic<uint64_t> head_{0};  // next slot the consumer takes
  Slot slots_[Slots];
};

}  // namespace ks
