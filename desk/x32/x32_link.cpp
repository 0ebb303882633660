#include "desk/x32/x32_link.h"

#include <atomic>
#include <cstring>

#include "desk/x32/x32_log.h"
#include "desk/x32/x32_rules.h"
#include "desk/x32/x32_socket_options.h"
#include "os/event.h"
#include "os/lock.h"
#include "os/socket.h"
#include "os/thread.h"

namespace ks {

namespace {

constexpr size_t kReceiveCap = 2048;
constexpr uint32_t kReceiveWaitMs = 250;
constexpr int kBadDatagramsLoggedAtInfo = 3;

struct Link {
  char ip[64] = {};
  Endpoint desk;
  Socket socket;
  std::atomic<bool> linked{false};
  std::atomic<bool> initialised{false};
  std::atomic<bool> heard{false};
  std::atomic<Tick> heard_tick{0};

  // One query in flight: query_lock admits it, pending_lock guards what the receive thread and
  // the asker share, so a late reply can never complete a later query.
  CriticalSection query_lock;
  CriticalSection pending_lock;
  Event reply_event;
  Event stop_event;
  bool pending = false;
  bool done = false;
  char pending_address[96] = {};
  OscMessage reply{};

  std::atomic<uint32_t> sent{0}, received{0}, events{0}, dropped{0}, foreign{0};
  std::atomic<int> bad_logged{0};

  X32BurstDetector burst;
  X32ReseedTimer reseed;
  std::atomic<bool> ha_link_dirty{false};
  std::atomic<bool> facts_logged{false};

  // Guards the socket handle against a close while a framework thread (LV1's, for a gain) sends.
  CriticalSection socket_lock;
  CriticalSection event_lock;  // held while the callback runs, so clearing it waits for a push
  EventFn event_fn = nullptr;

  Thread receive_thread, poll_thread;
  std::atomic<int> threads_running{0};
  std::atomic<Clock*> clock{nullptr};
};

Link& link() {
  static Link* l = new Link;  // lives for the process: a stuck thread may still use it at exit
  return *l;
}

Tick now() { return x32_clock().now(); }

bool send_query(const char* address) {
  uint8_t buf[kOscMaxQuery];
  size_t n = osc_encode_query(address, buf, sizeof buf);
  return n && x32_send(buf, n);
}

void receive_loop() {
  Link& l = link();
  uint8_t buf[kReceiveCap];
  while (l.linked) {
    Endpoint from;
    int n = l.socket.recv_from(buf, sizeof buf, &from, kReceiveWaitMs);
    if (n == kSocketTimeout) continue;
    if (n == kSocketError) {
      // Not a datagram (a reset from an earlier send, or the socket is going away): do not spin.
      x32_clock().wait_stop(&l.stop_event, 20);
      continue;
    }
    if (n == kSocketTruncated) {
      // Too large to be anything we asked for; its sender is not known, so it proves nothing.
      l.dropped++;
      x32_detail("[x32] dropped a datagram larger than %d bytes", int(kReceiveCap));
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
        x32_info("[x32] dropped a datagram from the desk: %s", why);
      else
        x32_detail("[x32] dropped a datagram from the desk: %s", why);
      continue;
    }
    bool answered = false;
    {
      LockGuard g(l.pending_lock);
      if (l.pending && !l.done && std::strcmp(msg.address, l.pending_address) == 0) {
        l.reply = msg;
        l.done = true;
        l.pending = false;
        l.reply_event.set();
        answered = true;
      }
    }
    if (answered) continue;
    if (std::strcmp(msg.address, "/status") != 0 && std::strncmp(msg.address, "/-stat/aes50/", 13) != 0)
      l.burst.note_push(now());
    x32_on_push(msg);
  }
}

// One 100 ms step of the poll thread; false when the link is going down.
bool poll_step() {
  Link& l = link();
  if (x32_clock().wait_stop(&l.stop_event, 100) || !l.linked) return false;
  if (l.ha_link_dirty) x32_read_ha_link();
  if (!l.linked) return false;
  Tick t = now();
  if (l.reseed.take_due(t)) x32_emit("", 0, "$reseed", 0, 0);
  if (l.burst.take_end(t)) {
    x32_forget_patch();
    x32_info("[x32] a burst of changes (a scene load or reset?) - re-reading the patch and preamps");
    x32_emit("", 0, "$reread", 0, 0);
  }
  return true;
}

void poll_loop() {
  Link& l = link();
  while (l.linked) {
    send_query("/xremote");
    send_query("/status");
    if (l.ha_link_dirty) x32_read_ha_link();
    if (!l.linked) break;
    if (!l.facts_logged && x32_link_alive()) {
      x32_log_facts();
      l.facts_logged = true;
    }
    for (int round = 0; round < 8 && l.linked; round++) {
      send_query("/-stat/aes50/A");
      send_query("/-stat/aes50/B");
      for (int step = 0; step < 10; step++)
        if (!poll_step()) break;
    }
  }
}

void thread_body(void (*loop)()) {
  loop();
  link().threads_running--;
}

}  // namespace

void x32_set_clock(Clock* clock) { link().clock = clock; }

Clock& x32_clock() {
  Clock* c = link().clock.load();
  return c ? *c : system_clock();
}

bool x32_linked() { return link().linked; }
const char* x32_desk_ip() { return link().ip; }

bool x32_connect(const char* ip) {
  Link& l = link();
  if (!ip || !*ip) return false;
  if (l.linked) return true;
  if (l.threads_running != 0) {
    // A thread of the last connection never came back: a second set would share its state.
    x32_info("[x32] not connecting: a thread of the last link is still running");
    return false;
  }
  auto addr = parse_ipv4(ip);
  if (!addr) {
    x32_info("[x32] not an IPv4 address: %.63s", ip);
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
  l.burst.reset();
  l.reseed.reset(now());
  x32_reset_connection_state();
  if (!l.initialised) {
    if (!l.reply_event.create(Event::Reset::manual) || !l.stop_event.create(Event::Reset::manual)) return false;
    l.initialised = true;
  }
  l.stop_event.reset();
  {
    LockGuard g(l.socket_lock);
    l.socket = Socket::udp();
    if (!l.socket.valid() || !l.socket.bind({0, 0})) {
      l.socket.close();
      x32_info("[x32] could not open a UDP socket");
      return false;
    }
    l.socket.set_recv_timeout(kReceiveWaitMs);
    x32_set_receive_buffer(l.socket.native(), 0x100000);
    x32_set_send_timeout(l.socket.native(), 1000);
  }
  l.linked = true;
  l.threads_running = 2;
  bool ok_receive = l.receive_thread.start([] { thread_body(receive_loop); });
  if (!ok_receive) l.threads_running--;
  bool ok_poll = l.poll_thread.start([] { thread_body(poll_loop); });
  if (!ok_poll) l.threads_running--;
  x32_info("[x32] talking OSC to %s:%d", l.ip, kX32Port);
  return ok_receive && ok_poll;
}

void x32_disconnect() {
  Link& l = link();
  if (!l.linked) return;
  l.linked = false;
  l.stop_event.set();
  l.reply_event.set();  // a waiting query ends now, without done: it fails
  uint64_t t0 = tick_now64();
  bool ok = l.receive_thread.join(kX32ThreadWaitMs);
  uint64_t spent = tick_now64() - t0;
  uint32_t left = spent >= kX32ThreadWaitMs ? 0 : uint32_t(kX32ThreadWaitMs - spent);
  ok = l.poll_thread.join(left) && ok;
  if (!ok) {
    x32_report_stuck_thread();
    x32_info("[x32] a thread did not stop in time");
    // The socket stays with the stuck thread; the next connect refuses until it has ended.
    l.receive_thread.detach();
    l.poll_thread.detach();
    return;
  }
  LockGuard g(l.socket_lock);
  l.socket.close();
}

bool x32_link_alive() {
  Link& l = link();
  return l.linked && l.heard && ticks_elapsed(now(), l.heard_tick) < kX32AliveMs;
}

bool x32_send(const uint8_t* data, size_t len) {
  Link& l = link();
  if (!l.linked || len == 0) return false;
  LockGuard g(l.socket_lock);
  if (!l.socket.valid() || l.socket.send_to(data, len, l.desk) != int(len)) return false;
  l.sent++;
  return true;
}

bool x32_query(const char* address, OscMessage* reply, uint32_t timeout_ms) {
  Link& l = link();
  if (!l.initialised || !l.linked) return false;
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
  if (x32_send(buf, n)) x32_clock().wait(l.reply_event, timeout_ms);
  {
    LockGuard g(l.pending_lock);
    if (l.done) {
      ok = true;
      if (reply) *reply = l.reply;
    }
    l.pending = false;
    l.done = false;
  }
  if (!ok) x32_detail("[x32] no reply to %s", address);
  return ok;
}

uint32_t x32_sent_count() { return link().sent; }
uint32_t x32_received_count() { return link().received; }
uint32_t x32_event_count() { return link().events; }
uint32_t x32_dropped_count() { return link().dropped; }
uint32_t x32_foreign_count() { return link().foreign; }
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
