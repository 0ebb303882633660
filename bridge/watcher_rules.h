// Small decisions of the LV1 watcher, kept apart from the pass so they can be checked alone:
// the seeding back-off, the bank skip list of one sweep, the "desk back" edge and the
// capability re-query notice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/clock.h"

namespace ks {

constexpr std::uint32_t kSeedBackoffFirstMs = 2000;
constexpr std::uint32_t kSeedBackoffMaxMs = 60000;
constexpr std::uint32_t kDeskAnsweringWindowMs = 6000;

// The next back-off after a sweep in which no gain read answered: 2 s, then doubling, at most 60 s.
std::uint32_t next_seed_backoff(std::uint32_t current_ms);

// Banks skipped for the rest of one seeding sweep: two failed gain reads of the same bank in a
// row put it on the list (at most 8 banks).
class BankSkipList {
public:
  static constexpr int kMax = 8;
  void clear();
  bool skipped(const char* bank) const;
  // Records the result of one gain read of bank; true when this failure put the bank on the list.
  bool note_read(const char* bank, bool answered);
  int count() const { return count_; }

private:
  char banks_[kMax][8] = {};
  int count_ = 0;
  char last_failed_[8] = {};
  int fails_in_row_ = 0;
};

// Whether the desk counts as answering: a pass with the link alive less than 6000 ms ago.
// `pass` returns true on the edge from not answering to answering, except the first time in
// the thread's life, which only marks the desk as seen.
class DeskBackEdge {
public:
  bool pass(Tick now, bool link_alive);
  bool answering(Tick now) const;
  bool ever_alive() const { return ever_alive_; }

private:
  bool ever_alive_ = false;
  bool was_answering_ = false;
  bool seen_ = false;
  Tick last_alive_ = 0;
};

// The capability re-query notice: LV1 asking has_preamp for many channels at once means its
// channel model changed. Looked at every 400 ms; a growth of 8 or more, with the last notice more
// than 800 ms ago, gives a notice.
class CapsNotice {
public:
  // True when a notice is due now; *growth is the growth since the last look.
  bool look(Tick now, std::uint32_t query_count, std::uint32_t* growth);

private:
  bool looked_ = false;
  Tick last_look_ = 0;
  bool noticed_ = false;
  Tick last_notice_ = 0;
  std::uint32_t last_count_ = 0;
};

// An id names one console by itself unless it is empty, begins with "name:" or is a dotted IPv4
// address.
bool id_identifies_console(const char* id);

// The id the module looks for to tell whether the console answering is still its desk: with
// `console` empty, the desk's own id when that identifies a console; with the desk's id empty,
// `console`; with both, `console` when they agree (any case), else none. False: no id to look for.
// The watcher's identity re-check and discovery's re-find both ask this one rule.
bool desk_target_id(const char* console, const char* desk_id, char* out, std::size_t out_len);

}  // namespace ks
