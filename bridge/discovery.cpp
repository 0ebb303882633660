#include "bridge/discovery.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/status_block.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/watcher.h"
#include "bridge/watcher_rules.h"
#include "os/lock.h"
#include "shared/status_block.h"

namespace ks {

namespace {

// What the discovery thread remembers between sweeps. Only that thread writes it; the lock is
// for tests that look from outside.
struct DiscoveryMemory {
  char last_ip[64] = {};
  int silent_sweeps = 0;
  int last_kind = -1;  // outcome of the last ask of the configured address
  char last_kind_id[40] = {};
  int logged_decision = -1;
  int logged_count = -1;
};
CriticalSection& g_memory_lock = *new CriticalSection;  // never freed (os/lock.h)
DiscoveryMemory g_memory;

enum AskKind { kAskOther = 0, kAskSilentLooking, kAskUnchecked, kAskSilentWaiting, kAskUsing };

const char* card_text(int32_t card) { return card > 0 ? "yes" : card == 0 ? "no" : "unknown"; }

const char* decision_text(uint32_t decision) {
  switch (decision) {
    case 1: return "the only answer has a SoundGrid card";
    case 2: return "it is the console chosen in Setup";
    case 3: return "the only one with a SoundGrid card";
    case 4: return "a choice is needed in Setup";
    case 5: return "the console chosen in Setup is not among them";
    default: return "nothing yet";
  }
}

// Answers come from the driver, which copied them off the network: every text is forced to end
// inside its field before anything reads it.
void seal(DeskAnswer& a) {
  terminate(a.ip, sizeof a.ip);
  terminate(a.name, sizeof a.name);
  terminate(a.model, sizeof a.model);
  terminate(a.id, sizeof a.id);
  terminate(a.identity, sizeof a.identity);
  if (a.card > 1) a.card = 1;
  if (a.card < -1) a.card = -1;
}

int discover(const char* ip, DeskAnswer* out, int max, uint32_t wait_ms) {
  const DeskDriver* d = desk_driver();
  if (!d || !d->discover || max < 1) return 0;
  std::memset(out, 0, sizeof(DeskAnswer) * size_t(max));
  int n = d->discover(ip, out, max, wait_ms);
  if (n < 0) n = 0;
  if (n > max) n = max;
  for (int i = 0; i < n; ++i) seal(out[i]);
  return n;
}

const char* display_name(const DeskAnswer& a) { return a.name[0] ? a.name : a.id[0] ? a.id : a.ip; }

void set_address_state(uint32_t state, const char* ip, const char* id, const char* name) {
  AddressCheck a = status_address();
  a.state = state;
  if (ip) copy_text(a.ip, sizeof a.ip, ip);
  if (id) copy_text(a.id, sizeof a.id, id);
  if (name) copy_text(a.name, sizeof a.name, name);
  status_set_address(a);
}

void set_address_state_only(uint32_t state) {
  AddressCheck a = status_address();
  a.state = state;
  status_set_address(a);
}

void publish_answers(const DeskAnswer* answers, int n, uint32_t decision, const char* console) {
  if (!status_block_publish()) return;
  StatusBlock* b = status_block();
  if (!b) return;
  uint32_t shown = n < 0 ? 0 : uint32_t(n) > kAnswerSummaries ? kAnswerSummaries : uint32_t(n);
  for (uint32_t i = 0; i < kAnswerSummaries; ++i) {
    DeskAnswerSummary& s = b->answers[i];
    std::memset(&s, 0, sizeof s);
    if (i >= shown) continue;
    copy_text(s.ip, sizeof s.ip, answers[i].ip);
    copy_text(s.name, sizeof s.name, answers[i].name);
    copy_text(s.model, sizeof s.model, answers[i].model);
    copy_text(s.id, sizeof s.id, answers[i].id);
    s.card = answers[i].card;
  }
  b->answer_count = shown;
  b->discovery_decision = decision;
  std::memset(b->chosen_console, 0, sizeof b->chosen_console);
  copy_text(b->chosen_console, sizeof b->chosen_console, console);
}

}  // namespace

int choose_answer(const DeskAnswer* answers, int n, const char* console_id, uint32_t* decision) {
  uint32_t dummy;
  if (!decision) decision = &dummy;
  if (!answers || n < 0) n = 0;
  if (console_id && console_id[0]) {
    for (int i = 0; i < n; ++i) {
      if (iequals(std::string_view(answers[i].id, bounded_len(answers[i].id, sizeof answers[i].id)),
                  console_id)) {
        *decision = uint32_t(DiscoveryDecision::ChosenFound);
        return i;
      }
    }
    *decision = uint32_t(DiscoveryDecision::ChosenAbsent);
    return -1;
  }
  if (n == 0) {
    *decision = uint32_t(DiscoveryDecision::Nothing);
    return -1;
  }
  if (n == 1) {
    if (answers[0].card != 0) {
      *decision = uint32_t(DiscoveryDecision::OnlyAnswerHasCard);
      return 0;
    }
    *decision = uint32_t(DiscoveryDecision::ChoiceNeeded);
    return -1;
  }
  int with_card = 0, unknown = 0, pick = -1;
  for (int i = 0; i < n; ++i) {
    if (answers[i].card > 0) {
      ++with_card;
      pick = i;
    } else if (answers[i].card < 0) {
      ++unknown;
    }
  }
  if (with_card == 1 && unknown == 0) {
    *decision = uint32_t(DiscoveryDecision::OneOfSeveralHasCard);
    return pick;
  }
  *decision = uint32_t(DiscoveryDecision::ChoiceNeeded);
  return -1;
}

int pick_answer(const DeskAnswer* answers, int n) {
  config_reload_address();
  char console[40];
  config_console(console);
  uint32_t decision = 0;
  int idx = choose_answer(answers, n, console, &decision);
  publish_answers(answers, n, decision, console);

  bool changed;
  {
    LockGuard<CriticalSection> hold(g_memory_lock);
    changed = g_memory.logged_decision != int(decision) || g_memory.logged_count != n;
    g_memory.logged_decision = int(decision);
    g_memory.logged_count = n;
  }
  if (changed) {
    std::string list;
    for (int i = 0; i < n; ++i) {
      char one[256];
      std::snprintf(one, sizeof one, "%s%s %s at %s (id %s, SoundGrid card %s)", answers[i].model,
                    "", answers[i].name, answers[i].ip, answers[i].id, card_text(answers[i].card));
      if (i) list += "; ";
      list += one;
    }
    const char* chosen = idx >= 0 ? display_name(answers[idx]) : "";
    log_info("[desk] %d answered: %s -> %s%s%s", n, n ? list.c_str() : "(none)", chosen,
             idx >= 0 ? ", " : "", decision_text(decision));
  }
  return idx;
}

bool ask_configured_address(DeskAnswer* out, uint8_t* stop_general_search, char* text,
                            uint32_t size) {
  uint8_t stop_dummy;
  if (!stop_general_search) stop_general_search = &stop_dummy;
  *stop_general_search = 0;
  if (text && size) text[0] = '\0';
  char ip[64], console[40];
  config_ip(ip);
  config_console(console);
  if (!is_dotted_ipv4(ip)) return false;

  DeskAnswer answers[kDiscoverMax];
  int n = discover(ip, answers, kDiscoverMax, kDiscoverWaitMs);
  // The driver was asked for this address only; anything from elsewhere is not its answer.
  const DeskAnswer* got = nullptr;
  for (int i = 0; i < n && !got; ++i)
    if (std::strcmp(answers[i].ip, ip) == 0) got = &answers[i];

  int silent;
  {
    LockGuard<CriticalSection> hold(g_memory_lock);
    if (std::strcmp(g_memory.last_ip, ip) != 0) {
      copy_text(g_memory.last_ip, sizeof g_memory.last_ip, ip);
      g_memory.silent_sweeps = 0;
    }
    g_memory.silent_sweeps = got ? 0 : g_memory.silent_sweeps + 1;
    silent = g_memory.silent_sweeps;
  }

  int kind;
  if (got && console[0] && !iequals(got->id, console))
    kind = kAskOther;
  else if (got)
    kind = kAskUsing;
  else if (console[0])
    kind = kAskSilentLooking;
  else if (silent >= kSilentSweepsBeforeUnchecked)
    kind = kAskUnchecked;
  else
    kind = kAskSilentWaiting;

  bool log_it;
  {
    LockGuard<CriticalSection> hold(g_memory_lock);
    const char* id = got ? got->id : "";
    log_it = g_memory.last_kind != kind || std::strcmp(g_memory.last_kind_id, id) != 0;
    g_memory.last_kind = kind;
    copy_text(g_memory.last_kind_id, sizeof g_memory.last_kind_id, id);
  }

  auto say = [&](const char* fmt, auto... args) {
    if (text && size) std::snprintf(text, size, fmt, args...);
  };
  switch (kind) {
    case kAskOther:
      if (log_it)
        log_info(
            "[ip] %s answers as %s %s, id %s - but console= is %s: NOT connecting to it. Looking for %s everywhere instead",
            ip, got->model, got->name, got->id, console, console);
      say("%s is %s - not the console chosen in Setup", ip, display_name(*got));
      set_address_state(uint32_t(AddressState::OtherConsoleAtIp), ip, got->id, got->name);
      return false;
    case kAskSilentLooking:
      if (log_it)
        log_info("[ip] nothing answers at %s - looking everywhere for console= %s", ip, console);
      say("Nothing answers at %s, the address set for this console", ip);
      set_address_state(uint32_t(AddressState::NothingAtIp), ip, "", "");
      return false;
    case kAskUnchecked:
      if (log_it)
        log_info(
            "[ip] nothing answered the console question at %s in %d sweeps - connecting there UNCHECKED, as ip= "
            "always has (a TCP-only path cannot answer it). No console= to check against; no re-find this session",
            ip, silent);
      if (out) {
        std::memset(out, 0, sizeof *out);
        copy_text(out->ip, sizeof out->ip, ip);
      }
      set_address_state(uint32_t(AddressState::Ok), ip, "", "");
      return true;
    case kAskSilentWaiting:
      if (log_it)
        log_info(
            "[ip] nothing answers at %s - asking there again (connecting unchecked after %d silent sweeps). Not "
            "searching elsewhere: no console= says which console belongs there",
            ip, kSilentSweepsBeforeUnchecked);
      say("Nothing answers at %s, the address set for this console", ip);
      set_address_state(uint32_t(AddressState::NothingAtIp), ip, "", "");
      *stop_general_search = 1;
      return false;
    default:
      if (log_it)
        log_info(
            "[ip] %s answers: %s %s, id %s, SoundGrid card %s - using it (%s)", ip, got->model,
            got->name, got->id,
            got->card > 0    ? "yes"
            : got->card == 0 ? "NO"
                             : "unknown",
            console[0] ? "it is the console chosen in Setup" : "no console= to check it against");
      if (out) *out = *got;
      set_address_state(uint32_t(AddressState::Ok), ip, got->id, got->name);
      return true;
  }
}

bool discovery_sweep(int k, DeskAnswer* out) {
  if (k % 5 == 0) log_info("[bridge] discovery sweep %d ...", k + 1);
  config_reload_address();
  char ip[64];
  config_ip(ip);
  char text[kStatusTextBytes] = {};
  uint8_t stop_general = 0;
  if (is_dotted_ipv4(ip)) {
    if (ask_configured_address(out, &stop_general, text, sizeof text)) return true;
  } else {
    set_address_state_only(uint32_t(AddressState::Ok));
  }
  if (!stop_general && !stop_requested()) {
    DeskAnswer answers[kDiscoverMax];
    int n = discover(nullptr, answers, kDiscoverMax, kDiscoverWaitMs);
    int idx = pick_answer(answers, n);
    if (idx >= 0) {
      if (out) *out = answers[idx];
      return true;
    }
  }
  status_set_text(text);
  return false;
}

void take_desk(const DeskAnswer& answer) {
  const DeskDriver* d = desk_driver();
  if (d && d->adopt) d->adopt(&answer);
  use_desk(answer);
  set_address_state_only(uint32_t(AddressState::Ok));
  set_desk_chosen(true);
  set_searching(false);
  status_set_text(nullptr);
  start_lv1_watcher();
}

void refind_tick(RefindState& r) {
  Tick now = clock_now();
  if (!r.started) {
    r.started = true;
    r.last_alive = now;
  }
  DeskIdentity desk = desk_identity();
  if (!watcher_desk_dropped() && desk_link_alive()) {
    r.last_alive = now;
    r.sweeps = 0;
    r.told_no_id = false;
    r.other_seen_at_own_ip = false;
    if (status_address().state == uint32_t(AddressState::LookingEverywhere)) {
      log_info("[refind] %s answers again at %s", desk.name, desk.ip);
      set_address_state_only(uint32_t(AddressState::Ok));
    }
    return;
  }
  if (r.gave_up || !ticks_elapsed_at_least(now, r.last_alive, kRefindAfterDownMs)) return;

  char console[40], target[40];
  config_console(console);
  if (!desk_target_id(console, desk.id, target, sizeof target)) {
    // Only when the id rule gives nothing to look for: an id that could be another desk's.
    if (!r.told_no_id) {
      r.told_no_id = true;
      if (console[0] && desk.id[0])
        log_info(
            "[refind] %s is not answering, and console= now names %s - another console. Not looking for either "
            "until LV1 restarts",
            desk.name, console);
      else
        log_info(
            "[refind] %s is not answering. Not looking for it at other addresses: its id (%s) could belong to "
            "another desk - choose it in Setup to make that possible",
            desk.name, desk.id[0] ? desk.id : "none");
    }
    if (console[0] && desk.id[0]) r.gave_up = true;
    return;
  }
  if (r.sweeps > 0 && tick_before(now, r.next_sweep)) return;

  ++r.sweeps;
  r.next_sweep = now + (r.sweeps <= kFastSweeps ? kFastSweepGapMs : kSlowSweepGapMs);
  log_info(
      "[refind] the link to %s at %s has been down for %lu s - looking for it (id %s) at any address",
      desk.name, desk.ip, static_cast<unsigned long>(ticks_elapsed(now, r.last_alive) / 1000),
      target);
  set_address_state_only(uint32_t(AddressState::LookingEverywhere));
  DeskAnswer answers[kDiscoverMax];
  int n = discover(nullptr, answers, kDiscoverMax, kDiscoverWaitMs);
  const DeskAnswer* found = nullptr;
  for (int i = 0; i < n && !found; ++i)
    if (iequals(answers[i].id, target)) found = &answers[i];
  if (!found) {
    for (int i = 0; i < n; ++i)
      if (std::strcmp(answers[i].ip, desk.ip) == 0) r.other_seen_at_own_ip = true;
    if (r.sweeps % 5 == 0)
      log_info("[refind] sweep %d: not found%s", r.sweeps,
               n > 0 ? " (other consoles answered - none is this one)" : "");
    return;
  }
  bool same_ip = std::strcmp(found->ip, desk.ip) == 0;
  bool dropped = watcher_desk_dropped();
  if (same_ip && !dropped && !r.other_seen_at_own_ip) {
    log_info(
        "[refind] %s answers discovery at its own address %s - waiting for the control link to come back",
        desk.name, desk.ip);
    set_address_state_only(uint32_t(AddressState::Ok));
    return;
  }
  if (same_ip)
    log_info("[refind] %s (id %s) answers at %s again - restarting the link there", desk.name,
             target, found->ip);
  else
    log_info("[refind] %s (id %s) answers at %s now, not %s - moving the link there", desk.name,
             target, found->ip, desk.ip);
  char hint[64];
  config_hint(hint);
  if (std::strcmp(hint, found->ip) != 0) config_set_key("hint", found->ip);
  watcher_hand_over_desk(*found);
  // Give the watcher time to switch before judging the link again.
  r.last_alive = now;
  r.sweeps = 0;
  r.other_seen_at_own_ip = false;
}

void refind_loop() {
  RefindState r;
  while (!stop_requested()) {
    refind_tick(r);
    if (wait_stop(kRefindTickMs)) break;
  }
}

void discovery_thread() {
  if (!desk_chosen()) {
    DeskAnswer answer{};
    bool found = false;
    for (int k = 0; !stop_requested() && !desk_chosen(); ++k) {
      if (discovery_sweep(k, &answer)) {
        found = true;
        break;
      }
      if (wait_stop(k < kFastSweeps ? kFastSweepGapMs : kSlowSweepGapMs)) break;
    }
    if (found && !stop_requested()) take_desk(answer);
  }
  if (!stop_requested()) refind_loop();
}

void install_discovery_hooks() { framework_hooks().discovery_thread = discovery_thread; }

void discovery_reset() {
  LockGuard<CriticalSection> hold(g_memory_lock);
  g_memory = DiscoveryMemory{};
}

}  // namespace ks
