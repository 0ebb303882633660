#include "desk/wing/wing_link.h"

#include <atomic>
#include <cstring>

#include "desk/wing/wing_desk_rules.h"
#include "desk/wing/wing_nodes.h"
#include "desk/wing/wing_parse.h"
#include "bridge/driver_services.h"
#include "os/clock.h"
#include "os/event.h"
#include "os/lock.h"
#include "os/socket.h"
#include "os/stoppable_threads.h"

namespace ks {

namespace {

constexpr uint32_t kRetryMs = 3000;
constexpr uint32_t kConnectWaitMs = 2000;
constexpr uint32_t kConnectSliceMs = 100;
constexpr uint32_t kKeepAliveAfterMs = 4000;
constexpr uint32_t kConnectLoopMs = 120;
constexpr uint32_t kRxWaitMs = 100;
constexpr uint32_t kSendTimeoutMs = 1000;
constexpr uint32_t kBackoffMs = 400;
constexpr uint32_t kBackoffMaxWaitMs = 600;
constexpr uint32_t kThreadStopMs = 2000;
constexpr uint32_t kStalePartialMs = 1000;
// A reply can come this long after its request gave up (a desk that froze and then answers all it
// queued); until then an item of that node is taken as the late reply, never as a desk change.
constexpr uint32_t kLateReplyMs = 30000;
constexpr int kLateMax = 64;

using Guard = LockGuard<CriticalSection>;

// Slots of the two threads; a stop waits for the connect thread first.
constexpr int kConnectSlot = 0;
constexpr int kRxSlot = 1;

struct LinkState : RxSink {
  StoppableThreads threads;      // the connect and receive threads, their stop event
  CriticalSection socket_lock;   // the socket handle and every send
  CriticalSection request_lock;  // one request in flight; taken before socket_lock
  CriticalSection pending_lock;  // the reply slot, shared with the receive thread
  CriticalSection push_lock;     // held around every push callback
  Event reply_event;             // manual reset: the armed request completed or was aborted

  char address[64] = {};
  std::atomic<KeepAliveFn> keep_alive{nullptr};
  LinkPushFn push = nullptr;  // push_lock

  Socket sock;  // written under socket_lock; closed only by the receive thread (or after stop)
  std::atomic<bool> sock_valid{false};
  std::atomic<bool> initialised{false}, link_up{false}, drop_pending{false};
  std::atomic<uint32_t> last_send{0};
  std::atomic<uint32_t> sent{0}, received{0}, events{0}, failed_connects{0};
  std::atomic<uint32_t> unknown_tokens{0}, empty_blocks{0}, oversize{0}, resyncs{0};
  std::atomic<bool> backoff_set{false};
  std::atomic<uint32_t> backoff_deadline{0};

  ReplySlot slot;  // pending_lock
  // Requests that gave up and whose replies may still come, oldest first (pending_lock).
  struct Late {
    uint32_t hash;
    Tick at;
  };
  Late late[kLateMax];
  int late_count = 0;
  // Whole-node reads that gave up: their items, up to each one's end mark, may still come.
  int late_multi = 0;
  Tick late_multi_at = 0;
  std::atomic<uint32_t> late_dropped{0};

  // The rest of a frame the socket took only in part: it goes out before any other byte, so the
  // stream stays whole (socket_lock).
  uint8_t tail[kNodeFrameCapacity];
  uint32_t tail_len = 0;
  RxStream rx;  // receive thread only

  std::atomic<Clock*> clock{nullptr};

  Clock& clk() {
    Clock* c = clock.load(std::memory_order_acquire);
    return c ? *c : system_clock();
  }
  Tick now() { return clk().now(); }
  bool running() const { return threads.running(); }
  // Sleeps up to ms; false when the link is being stopped.
  bool nap(uint32_t ms) { return !threads.wait_stop(clk(), ms); }

  void on_node_item(const uint8_t* item, size_t len) override;
  void on_block(const uint8_t* block, size_t len) override {
    Guard g(pending_lock);
    if (slot.take_block(block, len)) reply_event.set();
  }
  void on_end_mark() override {
    Guard g(pending_lock);
    if (slot.take_end_mark()) reply_event.set();
    if (late_multi > 0) --late_multi;  // in order: the end of the oldest whole-node reply
  }
  void on_rx_error(RxError e, size_t bytes) override;
  void on_push(uint32_t hash, const uint8_t* value, size_t len);
  void abort_request() {
    Guard g(pending_lock);
    if (slot.abort()) reply_event.set();
  }
  // pending_lock held.
  void note_late(uint32_t hash) {
    if (late_count == kLateMax) {
      std::memmove(late, late + 1, sizeof late[0] * (kLateMax - 1));
      --late_count;
    }
    late[late_count++] = Late{hash, now()};
  }
  // pending_lock held. True when an item of `hash` is the late reply of a request that gave up.
  bool take_late(uint32_t hash) {
    Tick t = now();
    int kept = 0;
    bool found = false;
    for (int i = 0; i < late_count; ++i) {
      if (ticks_elapsed(t, late[i].at) > kLateReplyMs) continue;
      if (!found && late[i].hash == hash) {
        found = true;
        continue;
      }
      late[kept++] = late[i];
    }
    late_count = kept;
    return found;
  }
  // pending_lock held. The desk answers in order: once a reply came, the replies of requests
  // sent before it came too or never will, except those of the same node, which the reply
  // just taken may have been.
  void settle_late(uint32_t reply_hash) {
    late_multi = 0;
    int kept = 0;
    for (int i = 0; i < late_count; ++i)
      if (reply_hash != 0 && late[i].hash == reply_hash) late[kept++] = late[i];
    late_count = kept;
  }
};

LinkState& L() {
  static LinkState* state = new LinkState;  // lives to the end of the process, like its threads
  return *state;
}

bool rare(uint32_t count) { return count == 1 || count % 100 == 0; }

void LinkState::on_rx_error(RxError e, size_t bytes) {
  uint32_t n;
  switch (e) {
    case RxError::kUnknownToken:
      n = ++unknown_tokens;
      if (rare(n))
        driver_log_detail("[ctl] rx: node item with an unknown value token skipped (%u so far)", n);
      break;
    case RxError::kEmptyBlock:
      n = ++empty_blocks;
      if (rare(n)) driver_log_detail("[ctl] rx: empty block skipped (%u so far)", n);
      break;
    case RxError::kOversize:
      n = ++oversize;
      if (rare(n))
        driver_log_detail(
            "[ctl] rx: item of %u bytes is larger than the receive buffer - discarded (%u so far)",
            unsigned(bytes), n);
      break;
    case RxError::kResync:
      ++resyncs;
      driver_log_detail("[ctl] rx resync");
      break;
  }
}

void LinkState::on_node_item(const uint8_t* item, size_t len) {
  uint32_t hash = read_be32(item + 1);
  bool known = node_table().find(hash) != nullptr;
  ItemAction a;
  bool late_reply = false;
  {
    Guard g(pending_lock);
    a = slot.take_node_item(item, len, known);
    if (a == ItemAction::kReply) reply_event.set();
    if (a == ItemAction::kPush) {
      // An item while a whole-node read that gave up may still be answered is taken as part of
      // that late reply; else one of a single read that gave up, by its hash.
      if (late_multi > 0 && ticks_elapsed(now(), late_multi_at) <= kLateReplyMs)
        late_reply = true;
      else if (late_count > 0)
        late_reply = take_late(hash);
    }
  }
  if (late_reply) {
    // What the desk held when it got round to an old question: not a change made at the desk.
    uint32_t n = ++late_dropped;
    if (rare(n))
      driver_log_detail(
          "[ctl] a late reply (hash %08X) came after its request gave up - dropped, not a desk change (%u so far)",
          hash, n);
    return;
  }
  if (a == ItemAction::kPush) on_push(hash, item + 5, len - 5);
}

void LinkState::on_push(uint32_t hash, const uint8_t* value, size_t len) {
  ++events;
  const NodeHashEntry* e = node_table().find(hash);
  double v = 0;
  uint8_t flag = 0;
  bool decoded = decode_value(value, len, &v, &flag);
  if (!e) {
    driver_log_detail(
        "[ctl] push for an unlearned node: hash=%08X token=%02X decoded=%d value=%.3f", hash,
        len ? value[0] : 0, decoded ? 1 : 0, v);
    return;
  }
  if (!leaf_accepts_token(e->leaf, len ? value[0] : 0)) {
    driver_log_detail("[ctl] push for %s %u/%s carries value type 0x%02X - not this leaf, dropped",
                      e->bank, e->index, e->leaf, len ? value[0] : 0);
    return;
  }
  if (!decoded && len && value[0] == kFloat) {
    // A float that is not a number must not reach LV1 as 0 dB.
    driver_log_detail("[ctl] push for %s %u/%s carries no finite value - dropped", e->bank,
                      e->index, e->leaf);
    return;
  }
  Guard g(push_lock);
  if (push) push(e->bank, int32_t(e->index), e->leaf, v, flag);
}

void drop_after_send_failure(LinkState& s) {
  if (!s.drop_pending.exchange(true))
    driver_log_info("[ctl] send to %s:2222 failed or timed out, dropping", s.address);
  s.link_up = false;
}

// Callers hold socket_lock. A send that fails or times out drops the connection, so the next
// one starts on a clean stream.
bool link_send(LinkState& s, const NodeFrame& f) {
  if (f.overflow) {
    driver_log_detail("[ctl] request longer than %u bytes - not sent", kNodeFrameCapacity);
    return false;
  }
  if (!s.sock_valid.load() || s.drop_pending.load()) return false;
  if (s.tail_len > 0) {
    if (!s.sock.send_all(s.tail, s.tail_len, kSendTimeoutMs)) {
      drop_after_send_failure(s);
      return false;
    }
    s.tail_len = 0;
  }
  if (f.fill > 0 && !s.sock.send_all(f.bytes, f.fill, kSendTimeoutMs)) {
    drop_after_send_failure(s);
    return false;
  }
  s.last_send = s.now();
  ++s.sent;
  return true;
}

// Callers hold socket_lock. Sends what the socket takes now and never waits: false when nothing
// of the frame went out (the stream is as before). A frame the socket took in part is sent: its
// rest waits in the tail, ahead of every later byte.
bool link_send_now(LinkState& s, const NodeFrame& f) {
  if (f.overflow) {
    driver_log_detail("[ctl] request longer than %u bytes - not sent", kNodeFrameCapacity);
    return false;
  }
  if (!s.sock_valid.load() || s.drop_pending.load()) return false;
  while (s.tail_len > 0) {
    int n = s.sock.try_send(s.tail, s.tail_len);
    if (n == kSocketTimeout || n == 0) return false;
    if (n < 0) {
      drop_after_send_failure(s);
      return false;
    }
    std::memmove(s.tail, s.tail + n, s.tail_len - uint32_t(n));
    s.tail_len -= uint32_t(n);
  }
  if (f.fill == 0) return true;
  int n = s.sock.try_send(f.bytes, f.fill);
  if (n == kSocketTimeout || n == 0) return false;
  if (n < 0) {
    drop_after_send_failure(s);
    return false;
  }
  if (uint32_t(n) < f.fill) {
    s.tail_len = f.fill - uint32_t(n);
    std::memcpy(s.tail, f.bytes + n, s.tail_len);
  }
  s.last_send = s.now();
  ++s.sent;
  return true;
}

void close_connection(LinkState& s) {
  {
    Guard g(s.socket_lock);
    s.sock.close();
    s.sock_valid = false;
    s.link_up = false;
    s.tail_len = 0;
  }
  s.drop_pending = false;
  s.rx.reset();
  s.abort_request();  // the waiter fails at once instead of at its time-out
  Guard g(s.pending_lock);
  s.late_count = 0;  // a new connection answers nothing that was asked on the old one
  s.late_multi = 0;
}

void rx_thread(void*) {
  LinkState& s = L();
  uint8_t buf[kRxReceiveChunk];
  bool partial_waiting = false;  // an incomplete item has been waiting since partial_since
  Tick partial_since = 0;
  while (s.running()) {
    if (!s.sock_valid.load(std::memory_order_acquire)) {
      s.rx.reset();
      // Only a poll for the connect thread's socket, no timer of the link: it waits in real time,
      // as the reads below do.
      system_clock().wait_stop(s.threads.stop_event(), kRxWaitMs);
      continue;
    }
    if (s.drop_pending.load()) {
      partial_waiting = false;
      close_connection(s);
      continue;
    }
    int r = s.sock.recv(buf, sizeof buf, kRxWaitMs);
    if (r > 0 && !s.drop_pending.load()) {
      ++s.received;
      s.rx.feed(buf, size_t(r), s);
    }
    if (r > 0 || r == kSocketTimeout) {
      // A desk sends each item whole within milliseconds. One left half-done for a second means
      // a length was garbage and the stream position is lost: start a clean connection.
      bool partial = s.rx.buffered() > 0 || s.rx.discarding() > 0;
      if (!partial) {
        partial_waiting = false;
      } else if (!partial_waiting) {
        partial_waiting = true;
        partial_since = s.now();
      } else if (ticks_elapsed(s.now(), partial_since) > kStalePartialMs) {
        driver_log_info(
            "[ctl] rx: an item from %s stayed incomplete for %u ms - the stream is lost, reconnecting",
            s.address, kStalePartialMs);
        partial_waiting = false;
        close_connection(s);
      }
      continue;
    }
    if (!s.drop_pending.load() && s.running())
      driver_log_info("[ctl] %s:2222 closed the connection%s", s.address,
                      r == kSocketClosed ? "" : " (error)");
    partial_waiting = false;
    close_connection(s);
  }
}

// One connect attempt, given up in slices so a stop never waits behind it.
void try_connect(LinkState& s) {
  auto addr = parse_ipv4(s.address);
  if (!addr) {
    s.nap(1000);
    return;
  }
  Socket sock = Socket::tcp();
  if (!sock.valid()) {
    s.nap(500);
    return;
  }
  int err = 0;
  ConnectState st = sock.connect_begin(Endpoint{*addr, kWingControlPort}, &err);
  Tick start = s.now();
  while (st == ConnectState::kPending && s.running() &&
         ticks_elapsed(s.now(), start) < kConnectWaitMs)
    st = sock.connect_poll(kConnectSliceMs, &err);
  if (!s.running()) return;
  if (st != ConnectState::kConnected) {
    uint32_t n = ++s.failed_connects;
    if (n == 1 || n % 20 == 0)
      driver_log_info(
          "[ctl] cannot connect to %s:2222 (attempt %ld, %s %d) - the desk answers discovery "
          "but refuses control: WING Edit / the WING app may hold its connections, or a "
          "firewall blocks TCP 2222",
          s.address, long(n), st == ConnectState::kFailed ? "socket error" : "timed out", err);
    return;
  }
  sock.set_recv_timeout(250);
  sock.set_nodelay(true);  // small requests, one at a time: no reason to hold them back
  {
    Guard g(s.socket_lock);
    s.sock = std::move(sock);
    s.tail_len = 0;
    s.drop_pending = false;
    Guard pg(s.pending_lock);
    s.late_count = 0;  // nothing asked on an earlier connection is answered on this one
    s.late_multi = 0;
    s.sock_valid.store(true, std::memory_order_release);
  }
  s.link_up = true;
  s.last_send = s.now();
  driver_log_info("[ctl] connected %s:2222 (native control)", s.address);
  s.failed_connects = 0;
}

void connect_thread(void*) {
  LinkState& s = L();
  bool attempted = false;
  Tick last_attempt = 0;
  while (s.running()) {
    if (!s.sock_valid.load()) {
      if (attempted && ticks_elapsed(s.now(), last_attempt) < kRetryMs) {
        s.nap(150);
        continue;
      }
      attempted = true;
      last_attempt = s.now();
      try_connect(s);
      if (!s.sock_valid.load()) continue;
    }
    KeepAliveFn ka = s.keep_alive.load();
    if (!s.drop_pending.load() && ticks_elapsed(s.now(), s.last_send.load()) > kKeepAliveAfterMs &&
        ka && s.running() && !ka()) {
      if (s.running() && !s.drop_pending.exchange(true)) {
        driver_log_info("[ctl] keep-alive failed, dropping");
        s.link_up = false;
      }
    }
    s.nap(kConnectLoopMs);
  }
}

}  // namespace

bool link_start(const char* ip, KeepAliveFn keep_alive) {
  LinkState& s = L();
  s.keep_alive = keep_alive;
  if (!ip || !*ip) return false;
  StoppableThreads::Start start(s.threads);
  if (start.running()) return true;
  if (start.left_over()) {
    driver_log_info(
        "[ctl] a link thread of the last stop is still running - not starting the link again");
    return false;
  }
  size_t n = strnlen(ip, sizeof s.address - 1);
  std::memcpy(s.address, ip, n);
  s.address[n] = 0;
  s.failed_connects = 0;
  if (!s.initialised.load()) {
    if (!s.reply_event.create(Event::Reset::manual)) return false;
    s.initialised = true;
  }
  s.drop_pending = false;
  if (!start.launch(kRxSlot, rx_thread) || !start.launch(kConnectSlot, connect_thread)) {
    start.abandon();
    return false;
  }
  return true;
}

void link_stop() {
  LinkState& s = L();
  StoppableThreads::Stopped stopped =
      s.threads.stop(kThreadStopMs, StoppableThreads::Budget::kEach, [] { L().abort_request(); });
  // Left running: counted, and the link refuses to start again until it has ended.
  for (int i = 0; i < stopped.left; ++i) driver_thread_stuck();
  if (!s.initialised.load()) return;
  // The receive thread is the one that reads the socket without the lock; once it has ended the
  // socket can go (anyone else touches it only under the lock).
  if (!s.threads.alive(kRxSlot)) {
    Guard sg(s.socket_lock);
    s.sock.close();
    s.sock_valid = false;
    s.tail_len = 0;
    s.rx.reset();
  }
  s.link_up = false;
}

bool link_send_frame(const NodeFrame& frame) {
  LinkState& s = L();
  if (!s.initialised.load()) return false;
  Guard g(s.socket_lock);
  return link_send(s, frame);
}

bool link_try_send_frame(const NodeFrame& frame) {
  LinkState& s = L();
  if (!s.initialised.load() || !s.sock_valid.load()) return false;
  // Another thread is sending (and may wait on a full socket): LV1's thread does not queue behind
  // it.
  if (!s.socket_lock.try_lock()) return false;
  bool ok = link_send_now(s, frame);
  s.socket_lock.unlock();
  return ok;
}

bool link_request(const NodeFrame& frame, bool block_reply, uint32_t expected_hash, uint8_t* out,
                  uint32_t capacity, uint32_t* out_length, uint32_t timeout_ms, bool multi_part) {
  LinkState& s = L();
  if (out_length) *out_length = 0;
  if (!s.initialised.load() || !s.sock_valid.load()) return false;
  if (expected_hash == 0 && s.backoff_set.load()) {
    // Let a late reply to the failed request drain as a push before an unguarded read.
    uint32_t left = s.backoff_deadline.load() - s.now();
    if (int32_t(left) > 0)
      s.clk().wait_stop(s.threads.stop_event(),
                        left < kBackoffMaxWaitMs ? left : kBackoffMaxWaitMs);
    s.backoff_set = false;
  }
  Guard rg(s.request_lock);
  uint32_t seq;
  bool sent;
  {
    Guard sg(s.socket_lock);
    {
      Guard pg(s.pending_lock);
      seq = s.slot.arm(block_reply, expected_hash, multi_part);
      s.reply_event.reset();
    }
    sent = s.running() && link_send(s, frame);
  }
  bool ok = false;
  if (sent) {
    s.clk().wait(s.reply_event, timeout_ms);
    Guard pg(s.pending_lock);
    if (s.slot.done && s.slot.seq == seq) {
      uint32_t n = s.slot.fill < capacity ? s.slot.fill : capacity;
      if (out && n) std::memcpy(out, s.slot.buf, n);
      if (out_length) *out_length = n;
      ok = true;
      s.settle_late(!block_reply && !multi_part && s.slot.fill >= 5 ? read_be32(s.slot.buf + 1)
                                                                    : 0);
    } else if (multi_part) {
      s.late_multi = (s.late_multi < kLateMax ? s.late_multi : kLateMax - 1) + 1;
      s.late_multi_at = s.now();
    } else if (expected_hash != 0 && !block_reply) {
      s.note_late(expected_hash);
    }
    s.slot.disarm();
  } else {
    Guard pg(s.pending_lock);
    s.slot.disarm();
  }
  if (!ok) {
    s.backoff_deadline = s.now() + kBackoffMs;
    s.backoff_set = true;
  }
  return ok;
}

bool link_alive() { return L().link_up.load(); }
uint32_t link_failed_connects() { return L().failed_connects.load(); }
uint32_t link_sent_count() { return L().sent.load(); }
uint32_t link_received_count() { return L().received.load(); }
uint32_t link_event_count() { return L().events.load(); }
uint32_t link_late_replies_dropped() { return L().late_dropped.load(); }

void link_set_push_callback(LinkPushFn fn) {
  LinkState& s = L();
  Guard g(s.push_lock);
  s.push = fn;
}

void link_deliver_push(uint32_t hash, const uint8_t* value, size_t len) {
  L().on_push(hash, value, len);
}

LinkRxErrors link_rx_errors() {
  LinkState& s = L();
  return {s.unknown_tokens.load(), s.empty_blocks.load(), s.oversize.load(), s.resyncs.load()};
}

void link_set_clock(Clock* clock) { L().clock.store(clock, std::memory_order_release); }

}  // namespace ks
