// Values that one thread writes while others read them, without locks and without tearing.
//
// LV1 calls the module on its own threads and must never wait for the watcher or the desk, so
// everything those threads read is either a single atomic word or a sequence-locked record: the
// reader retries while a write is in progress and never sees half of one.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <thread>
#include <type_traits>

namespace ks {

// A text of at most 7 characters (bank and slot names) held in one atomic 64-bit word.
class AtomicText8 {
public:
  AtomicText8() = default;
  explicit AtomicText8(std::string_view s) { set(s); }
  void set(std::string_view s) {
    char b[8] = {};
    for (size_t i = 0; i < s.size() && i < 7 && s[i] != '\0'; ++i) b[i] = s[i];
    uint64_t w;
    std::memcpy(&w, b, 8);
    word_.store(w, std::memory_order_release);
  }
  // Copies the text (NUL-terminated) into out[8].
  void get(char out[8]) const {
    uint64_t w = word_.load(std::memory_order_acquire);
    std::memcpy(out, &w, 8);
    out[7] = '\0';
  }
  struct Copy {
    char s[8];
    operator const char*() const { return s; }
    std::string_view view() const { return s; }
  };
  Copy get() const {
    Copy c;
    get(c.s);
    return c;
  }

private:
  std::atomic<uint64_t> word_{0};
};

// A trivially copyable record behind a sequence lock. One writer at a time (callers serialise
// writers); any number of readers, which never block the writer and never see a torn record.
template <class T>
class SeqCell {
  static_assert(std::is_trivially_copyable_v<T>);
  static constexpr size_t kWords = (sizeof(T) + 7) / 8;

public:
  SeqCell() { store(T{}); }
  explicit SeqCell(const T& v) { store(v); }

  void store(const T& v) {
    uint64_t w[kWords] = {};
    std::memcpy(w, &v, sizeof(T));
    uint32_t s = seq_.load(std::memory_order_relaxed);
    seq_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kWords; ++i) words_[i].store(w[i], std::memory_order_relaxed);
    seq_.store(s + 2, std::memory_order_release);
  }

  T load() const {
    uint64_t w[kWords];
    for (unsigned spins = 0;; ++spins) {
      // A write is a handful of stores; only a writer preempted in the middle of one keeps a
      // reader here, and then the reader gives its time slice back instead of burning it.
      if (spins >= 64) std::this_thread::yield();
      uint32_t s1 = seq_.load(std::memory_order_acquire);
      if (s1 & 1u) continue;
      for (size_t i = 0; i < kWords; ++i) w[i] = words_[i].load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (seq_.load(std::memory_order_relaxed) == s1) break;
    }
    T v;
    std::memcpy(&v, w, sizeof(T));
    return v;
  }

private:
  std::atomic<uint32_t> seq_{0};
  std::atomic<uint64_t> words_[kWords];
};

}  // namespace ks
