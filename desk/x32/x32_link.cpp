#include "desk/x32/x32_link.h"

#include <atomic>
#include <cstring>

#include "bridge/driver_services.h"
#include "desk/x32/x32_rules.h"
#include "os/event.h"
#include "os/lock.h"
#include "os/socket.h"
#include "os/stoppable_threads.h"

namespace ks {

namespace {

constexpr size_t kReceiveCap = 2048;
constexpr uint32_t kReceiveWaitMs = 250;
constexpr int kBadDatagramsLoggedAtInfo = 3;
// A reply can come this long after its query gave up (a desk that froze, then answered all it
// had queued); until then a message at that address is taken as the late reply, not a change.
constexpr uint32_t kLateReplyMs = 30000;
constexpr int kLateMax = 64;

struct LateQuery {
  char address[96];
  Tick at;
};

struct Link {
  char ip[64] = {};
  Endpoint desk;
  Socket socket;
  // The receive and poll threads; running while linked.
  StoppableThreads threads;
  std::atomic<bool> initialised{false};
  std::atomic<bool> heard{false};
  std::atomic<Tick> heard_tick{0};

  // One query in flight: query_lock admits it, pending_lock guards what the receive thread and
  // the asker share, so a late reply can never complete a later query.
  CriticalSection query_lock;
  CriticalSection pending_lock;
  Event reply_event;
  bool pending = false;
  bool done = false;
  char pending_address[96] = {};
  OscMessage reply{};
  // Queries that gave up and whose replies may still come, oldest first (pending_lock).
  LateQuery late[kLateMax];
  int late_count = 0;
  std::atomic<uint32_t> late_dropped{0};

  std::atomic<uint32_t> sent{0}, received{0}, events{0}, dropped{0}, foreign{0};
  std::atomic<int> bad_logged{0};

  X32BurstDetector burst;
  X32ReseedTimer reseed;
  std::atomic<bool> ha_link_dirty{false};
  std::atomic<bool> facts_logged{false};

  // Guards the socket handle against a close while a framework thread (LV1's, for a gain) sends:
  // senders share it (datagrams need no more), opening and closing take it alone.
  RwLock socket_lock;
  CriticalSection event_lock;  // held while the callback runs, so clearing it waits for a push
  EventFn event_fn = nullptr;

  std::atomic<Clock*> clock{nullptr};

  bool linked() const { return threads.running(); }
};

Link& link() {
  static Link* l = new Link;  // lives for the process: a stuck thread may still use it at exit
  return *l;
}

Tick now() { return x32_clock().now(); }

// pending_lock held.
void note_late(Link& l, const char* address) {
  if (l.late_count == kLateMax) {
    std::memmove(l.late, l.late + 1, sizeof l.late[0] * (kLateMax - 1));
    --l.late_count;
  }
  LateQuery& q = l.late[l.late_count++];
  std::memcpy(q.address, address, sizeof q.address);
  q.at = now();
}

// pending_lock held. True when a message at `address` is the late reply of a query that gave up.
bool take_late(Link& l, const char* address) {
  Tick t = now();
  int kept = 0;
  bool found = false;
  for (int i = 0; i < l.late_count; ++i) {
    if (ticks_elapsed(t, l.late[i].at) > kLateReplyMs) continue;
    if (!found && std::strcmp(l.late[i].address, address) == 0) {
      found = true;
      continue;
    }
    l.late[kept++] = l.late[i];
  }
  l.late_count = kept;
  return found;
}

// pending_lock held. The desk answers in order: once a reply came, the replies to queries sent
// before it came too or never will, but for those at the same address (the reply just taken may
// have been one of them).
void settle_late(Link& l, const char* address) {
  int kept = 0;
  for (int i = 0; i < l.late_count; ++i)
    if (std::strcmp(l.late[i].address, address) == 0) l.late[kept++] = l.late[i];
  l.late_count = kept;
}

bool send_query(const char* address) {
  uint8_t buf[kOscMaxQuery];
  size_t n = osc_encode_query(address, buf, sizeof buf);
  return n && x32_send(buf, n);
}

void receive_loop() {
  Link& l = link();
  uint8_t buf[kReceiveCap];
  while (l.linked()) {
    Endpoint from;
    int n = l.socket.recv_from(buf, sizeof buf, &from, kReceiveWaitMs);
    if (n == kSocketTimeout) continue;
    if (n == kSocketError) {
      // Not a datagram (a reset from an earlier send, or the socket is going away): do not spin.
      l.threads.wait_stop(x32_clock(), 20);
      continue;
    }
    if (n == kSocketTruncated) {
      // Too large to be anything we asked for; its sender is not known, so it proves nothing.
      l.dropped++;
      driver_log_detail("[x32] dropped a datagram larger than %d bytes", int(kReceiveCap));
      continue;
    }
    // Only the desk's own port speaks for the desk; anyone else could forge values.
    if (!(from == l.desk)) {
      l.foreign++;
      continue;
    }
    l.received++;
    l.heard_tick = now();
    l.heard = true;
    OscMessage msg;
    OscError e = osc_parse(buf, size_t(n), &msg);
    if (e != OscError::ok) {
      const char* why = osc_error_text(e);
      l.dropped++;
      if (l.bad_logged.fetch_add(1) < kBadDatagramsLoggedAtInfo)
        driver_log_info("[x32] dropped a datagram from the desk: %s", why);
      else
        driver_log_detail("[x32] dropped a datagram from the desk: %s", why);
      continue;
    }
    bool answered = false, late_reply = false;
    {
      LockGuard g(l.pending_lock);
      if (l.pending && !l.done && std::strcmp(msg.address, l.pending_address) == 0) {
        l.reply = msg;
        l.done = true;
        l.pending = false;
        l.reply_event.set();
        answered = true;
      } else if (l.late_count > 0) {
        late_reply = take_late(l, msg.address);
      }
    }
    if (answered) continue;
    if (late_reply) {
      // What the desk held when it got round to an old question: not a change made at the desk.
      uint32_t k = ++l.late_dropped;
      if (k == 1 || k % 100 == 0)
        driver_log_detail(
            "[x32] a late reply to %s came after its query gave up - dropped, not a desk change (%u so far)",
            msg.address, unsigned(k));
      continue;
    }
    if (std::strcmp(msg.address, "/status") != 0 &&
        std::strncmp(msg.address, "/-stat/aes50/", 13) != 0)
      l.burst.note_push(now());
    x32_on_push(msg);
  }
}

// One 100 ms step of the poll thread; false when the link is going down.
bool poll_step() {
  Link& l = link();
  if (l.threads.wait_stop(x32_clock(), 100)) return false;
  if (l.ha_link_dirty) x32_read_ha_link();
  if (!l.linked()) return false;
  Tick t = now();
  if (l.reseed.take_due(t)) x32_emit("", 0, "$reseed", 0, 0);
  if (l.burst.take_end(t)) {
    x32_forget_patch();
    driver_log_info(
        "[x32] a burst of changes (a scene load or reset?) - re-reading the patch and preamps");
    x32_emit("", 0, "$reread", 0, 0);
  }
  return true;
}

void poll_loop() {
  Link& l = link();
  while (l.linked()) {
    send_query("/xremote");
    send_query("/status");
    if (l.ha_link_dirty) x32_read_ha_link();
    if (!l.linked()) break;
    if (!l.facts_logged && x32_link_alive()) {
      x32_log_facts();
      l.facts_logged = true;
    }
    for (int round = 0; round < 8 && l.linked(); round++) {
      send_query("/-stat/aes50/A");
      send_query("/-stat/aes50/B");
      for (int step = 0; step < 10; step++)
        if (!poll_step()) break;
    }
  }
}

void receive_thread(void*) { receive_loop(); }
void poll_thread(void*) { poll_loop(); }

}  // namespace

void x32_set_clock(Clock* clock) { link().clock = clock; }

Clock& x32_clock() {
  Clock* c = link().clock.load();
  return c ? *c : system_clock();
}

bool x32_linked() { return link().linked(); }

bool x32_connect(const char* ip) {
  Link& l = link();
  if (!ip || !*ip) return false;
  StoppableThreads::Start start(l.threads);
  if (start.running()) return true;
  if (start.left_over()) {
    // A thread of the last connection never came back: a second set would share its state.
    driver_log_info("[x32] not connecting: a thread of the last link is still running");
    return false;
  }
  auto addr = parse_ipv4(ip);
  if (!addr) {
    driver_log_info("[x32] not an IPv4 address: %.63s", ip);
    return false;
  }
  std::strncpy(l.ip, ip, sizeof l.ip - 1);
  l.ip[sizeof l.ip - 1] = 0;
  l.desk = {*addr, kX32Port};
  l.heard = false;
  l.heard_tick = 0;
  l.ha_link_dirty = true;
  l.facts_logged = false;
  l.bad_logged = 0;
  {
    LockGuard g(l.pending_lock);
    l.late_count = 0;
  }
  l.burst.reset();
  l.reseed.reset(now());
  x32_reset_connection_state();
  if (!l.initialised) {
    if (!l.reply_event.create(Event::Reset::manual)) return false;
    l.initialised = true;
  }
  {
    LockGuard<RwLock> g(l.socket_lock);
    l.socket = Socket::udp();
    if (!l.socket.valid() || !l.socket.bind({0, 0})) {
      l.socket.close();
      driver_log_info("[x32] could not open a UDP socket");
      return false;
    }
    l.socket.set_recv_timeout(kReceiveWaitMs);
    l.socket.set_receive_buffer(0x100000);
    // A send that cannot go out soon fails instead of holding a caller (LV1's thread).
    l.socket.set_send_timeout(1000);
  }
  if (!start.launch(0, receive_thread) || !start.launch(1, poll_thread)) {
    start.abandon();
    driver_log_info("[x32] could not start the link's threads");
    return false;
  }
  driver_log_info("[x32] talking OSC to %s:%d", l.ip, kX32Port);
  return true;
}

void x32_disconnect() {
  Link& l = link();
  // Both threads together; a waiting query ends at once, without done: it fails.
  StoppableThreads::Stopped stopped = l.threads.stop(
      kX32ThreadWaitMs, StoppableThreads::Budget::kShared, [] { link().reply_event.set(); });
  if (!stopped.was_running) return;
  if (stopped.left) {
    driver_thread_stuck();
    driver_log_info("[x32] a thread did not stop in time");
    // The socket stays with the stuck thread; the next connect refuses until it has ended.
    return;
  }
  LockGuard<RwLock> g(l.socket_lock);
  l.socket.close();
}

bool x32_link_alive() {
  Link& l = link();
  return l.linked() && l.heard && ticks_elapsed(now(), l.heard_tick) < kX32AliveMs;
}

bool x32_send(const uint8_t* data, size_t len) {
  Link& l = link();
  if (!l.linked() || len == 0) return false;
  SharedGuard g(l.socket_lock);
  if (!l.socket.valid() || l.socket.send_to(data, len, l.desk) != int(len)) return false;
  l.sent++;
  return true;
}

bool x32_try_send(const uint8_t* data, size_t len) {
  Link& l = link();
  if (!l.linked() || len == 0) return false;
  // The socket is being opened or closed: LV1's thread does not wait for that.
  if (!l.socket_lock.try_lock_shared()) return false;
  bool ok = l.socket.valid() && l.socket.try_send_to(data, len, l.desk) == int(len);
  l.socket_lock.unlock_shared();
  if (ok) l.sent++;
  return ok;
}

bool x32_query(const char* address, OscMessage* reply, uint32_t timeout_ms) {
  Link& l = link();
  if (!l.initialised || !l.linked()) return false;
  uint8_t buf[kOscMaxQuery];
  size_t n = osc_encode_query(address, buf, sizeof buf);
  if (n == 0) return false;
  LockGuard q(l.query_lock);
  {
    LockGuard g(l.pending_lock);
    l.reply_event.reset();
    std::strcpy(l.pending_address, address);  // fits: the encoder took at most 95 characters
    l.done = false;
    l.pending = true;
  }
  bool ok = false;
  bool sent = x32_send(buf, n);
  if (sent) x32_clock().wait(l.reply_event, timeout_ms);
  {
    LockGuard g(l.pending_lock);
    if (l.done) {
      ok = true;
      if (reply) *reply = l.reply;
      settle_late(l, address);
    } else if (sent) {
      note_late(l, l.pending_address);
    }
    l.pending = false;
    l.done = false;
  }
  if (!ok) driver_log_detail("[x32] no reply to %s", address);
  return ok;
}

uint32_t x32_sent_count() { return link().sent; }
uint32_t x32_received_count() { return link().received; }
uint32_t x32_event_count() { return link().events; }
uint32_t x32_dropped_count() { return link().dropped; }
uint32_t x32_foreign_count() { return link().foreign; }
uint32_t x32_late_replies_dropped() { return link().late_dropped; }
void x32_count_event() { link().events++; }

void x32_set_event_callback(EventFn fn) {
  Link& l = link();
  LockGuard g(l.event_lock);
  l.event_fn = fn;
}

void x32_emit(const char* bank, int32_t n, const char* kind, double value, uint8_t flag) {
  Link& l = link();
  LockGuard g(l.event_lock);
  if (l.event_fn) l.event_fn(bank, n, kind, value, flag, nullptr);
}

void x32_note_local_write() { link().reseed.note_local_write(now()); }
void x32_set_ha_link_dirty() { link().ha_link_dirty = true; }
bool x32_ha_link_dirty() { return link().ha_link_dirty; }
bool x32_take_ha_link_dirty() { return link().ha_link_dirty.exchange(false); }

}  // namespace ks
