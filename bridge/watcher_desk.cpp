// Which console the link drives: the desk re-finding hands over, and the check after a lost link
// that the console answering at the desk's address is still the desk.
#include <atomic>
#include <cstring>

#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/status_block.h"
#include "bridge/text.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_mailbox.h"
#include "bridge/watcher_steps.h"
#include "os/lock.h"

namespace ks {

namespace {

constexpr std::uint32_t kIdentityWaitMs = 800;

// Set when the console at the desk's address turned out to be another one: nothing is read from
// or written to it until re-finding hands over the real desk.
std::atomic<bool> g_desk_dropped{false};

// The re-find hand-over: one answer, taken by the watcher.
CriticalSection& g_handover_lock = *new CriticalSection;  // never freed (os/lock.h)
bool g_handover_set = false;
DeskAnswer g_handover{};

bool take_handover(DeskAnswer* out) {
  LockGuard<CriticalSection> hold(g_handover_lock);
  if (!g_handover_set) return false;
  *out = g_handover;
  g_handover_set = false;
  return true;
}

}  // namespace

void desk_switch() {
  DeskAnswer next;
  if (!take_handover(&next)) return;
  next.ip[sizeof next.ip - 1] = '\0';
  next.id[sizeof next.id - 1] = '\0';
  next.name[sizeof next.name - 1] = '\0';
  DeskIdentity old = desk_identity();
  if (!drop_desk()) {
    log_info(
        "[refind] the old link to %s did not stop in time - NOT moving to %s until LV1 restarts",
        old.ip, next.ip);
    return;
  }
  const DeskDriver* d = driver();
  if (d && d->adopt) d->adopt(&next);
  use_desk(next);
  g_desk_dropped.store(false);
  AddressCheck a = status_address();
  if (std::strcmp(old.ip, next.ip) != 0) ++a.moves;
  a.state = 0;
  status_set_address(a);
}

bool identity_recheck() {
  if (!identity_check_pending()) return false;
  // Whatever follows, the flag is cleared in a pass with the link alive: left set, it would
  // refuse every write from LV1 for the rest of the session.
  set_identity_check_pending(false);
  DeskIdentity me = desk_identity();
  char console[40] = {};
  config_console(console);
  char target[40] = {};
  if (!desk_target_id(console, me.id, target, sizeof target)) return false;
  const DeskDriver* d = driver();
  if (!d || !d->discover) return false;
  DeskAnswer answers[8];
  std::memset(answers, 0, sizeof answers);
  std::int32_t n = d->discover(me.ip, answers, 8, kIdentityWaitMs);
  if (n < 0) n = 0;
  if (n > 8) n = 8;
  if (n == 0) {
    log_info("[refind] link back at %s; it did not say who it is (%s) - carrying on", me.ip,
             "no answer");
    return false;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    DeskAnswer& a = answers[i];
    a.ip[sizeof a.ip - 1] = a.name[sizeof a.name - 1] = a.model[sizeof a.model - 1] =
        a.id[sizeof a.id - 1] = '\0';
    if (iequals(a.id, target)) return false;  // the same console
  }
  const DeskAnswer& other = answers[0];
  log_info(
      "[refind] ANOTHER console answers at %s now: %s %s, id %s - not %s (id %s). NOT driving it, nothing written; "
      "looking for %s at other addresses",
      me.ip, other.model, other.name, other.id, me.name, target, me.name);
  drop_desk();
  g_desk_dropped.store(true);
  mailbox_invalidate_all();
  AddressCheck a = status_address();
  a.state = 1;
  status_set_address(a);
  return true;
}

bool watcher_desk_dropped() { return g_desk_dropped.load(); }

void watcher_hand_over_desk(const DeskAnswer& answer) {
  LockGuard<CriticalSection> hold(g_handover_lock);
  g_handover = answer;
  g_handover_set = true;
}

void watcher_desk_reset() {
  {
    LockGuard<CriticalSection> hold(g_handover_lock);
    g_handover_set = false;
  }
  g_desk_dropped.store(false);
}

}  // namespace ks
