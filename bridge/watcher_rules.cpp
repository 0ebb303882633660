#include "bridge/watcher_rules.h"

#include <cstring>

#include "bridge/text.h"

namespace ks {

namespace {

// Banks are compared on their first seven characters, as the record holds them.
bool same_bank(const char* a, const char* b) {
  return iequals(std::string_view(a, bounded_len(a, 7)), std::string_view(b, bounded_len(b, 7)));
}

}  // namespace

std::uint32_t next_seed_backoff(std::uint32_t current_ms) {
  if (current_ms == 0) return kSeedBackoffFirstMs;
  if (current_ms >= kSeedBackoffMaxMs / 2) return kSeedBackoffMaxMs;
  return current_ms * 2;
}

void BankSkipList::clear() {
  count_ = 0;
  last_failed_[0] = '\0';
  fails_in_row_ = 0;
}

bool BankSkipList::skipped(const char* bank) const {
  for (int i = 0; i < count_; ++i)
    if (same_bank(banks_[i], bank ? bank : "")) return true;
  return false;
}

bool BankSkipList::note_read(const char* bank, bool answered) {
  if (!bank) bank = "";
  if (answered) {
    fails_in_row_ = 0;
    last_failed_[0] = '\0';
    return false;
  }
  if (fails_in_row_ > 0 && same_bank(last_failed_, bank)) {
    ++fails_in_row_;
  } else {
    fails_in_row_ = 1;
    copy_text(last_failed_, sizeof last_failed_, bank);
  }
  if (fails_in_row_ < 2 || count_ >= kMax || skipped(bank)) return false;
  copy_text(banks_[count_++], sizeof banks_[0], bank);
  return true;
}

bool DeskBackEdge::answering(Tick now) const {
  return ever_alive_ && ticks_elapsed(now, last_alive_) < kDeskAnsweringWindowMs;
}

bool DeskBackEdge::pass(Tick now, bool link_alive) {
  if (link_alive) {
    ever_alive_ = true;
    last_alive_ = now;
  }
  bool now_answering = answering(now);
  bool back = false;
  if (now_answering && !was_answering_) {
    back = seen_;
    seen_ = true;
  }
  was_answering_ = now_answering;
  return back;
}

bool CapsNotice::look(Tick now, std::uint32_t query_count, std::uint32_t* growth) {
  if (looked_ && ticks_elapsed(now, last_look_) <= 400) return false;
  std::uint32_t g = looked_ ? query_count - last_count_ : 0;
  bool due = looked_ && g >= 8 && (!noticed_ || ticks_elapsed(now, last_notice_) > 800);
  if (due) {
    noticed_ = true;
    last_notice_ = now;
  }
  looked_ = true;
  last_count_ = query_count;
  last_look_ = now;
  if (growth) *growth = g;
  return due;
}

bool id_identifies_console(const char* id) {
  if (!id || !*id) return false;
  if (istarts_with(id, "name:")) return false;
  return !is_dotted_ipv4(id);
}

bool desk_target_id(const char* console, const char* desk_id, char* out, std::size_t out_len) {
  if (!out || out_len == 0) return false;
  out[0] = '\0';
  if (!console) console = "";
  if (!desk_id) desk_id = "";
  const char* pick = nullptr;
  if (!*console)
    pick = id_identifies_console(desk_id) ? desk_id : nullptr;
  else if (!*desk_id)
    pick = console;
  else
    pick = iequals(console, desk_id) ? console : nullptr;
  if (!pick) return false;
  copy_text(out, out_len, pick);
  return true;
}

}  // namespace ks
