#include "desk/wing/wing_meters.h"

#include <atomic>
#include <cstring>

#include "desk/wing/wing_meters_frame.h"
#include "bridge/driver_services.h"
#include "os/clock.h"
#include "os/socket.h"
#include "os/stoppable_threads.h"

namespace ks {

namespace {

constexpr uint16_t kDeskPort = 2222;
constexpr uint32_t kSetupEveryMs = 3000;
constexpr uint32_t kIdleSleepMs = 150;
constexpr uint32_t kSocketRetryMs = 500;
constexpr uint32_t kConnectWaitMs = 2000;
constexpr uint32_t kConnectSliceMs = 100;  // a stop is seen between slices of the connect wait
constexpr uint32_t kSendTimeoutMs = 1000;
constexpr uint32_t kRenewEveryMs = 3000;
constexpr uint32_t kReceiveWaitMs = 200;
constexpr uint32_t kStallMs = 6000;
constexpr uint32_t kStopWaitMs = 2000;
constexpr size_t kDatagramMax = 2048;
constexpr uint32_t kOddDatagramsLogged = 3;

constexpr auto kRelaxed = std::memory_order_relaxed;

// The meter thread, its start lock and stop event. Never freed: a thread that outlived its stop
// may still wait on the event when the module is unloaded.
StoppableThreads& g_threads = *new StoppableThreads;
std::atomic<Clock*> g_clock{nullptr};

char g_ip[64];
uint32_t g_desk_addr = 0;

MeterLevels g_levels;
std::atomic<uint32_t> g_id{0};
std::atomic<uint16_t> g_port{0};
std::atomic<uint32_t> g_subscriptions{0}, g_renewals{0}, g_foreign{0};

Clock& clock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : system_clock();
}

bool stopping() { return !g_threads.running(); }

// Waits `ms` on the stream's clock; true when a stop came meanwhile.
bool pause(uint32_t ms) { return g_threads.wait_stop(clock(), ms); }

// A connect to the desk that gives up between short waits once a stop is asked for.
bool connect_desk(Socket& tcp) {
  tcp = Socket::tcp();
  if (!tcp.valid()) return false;
  int error = 0;
  ConnectState st = tcp.connect_begin(Endpoint{g_desk_addr, kDeskPort}, &error);
  for (uint32_t waited = 0; st == ConnectState::kPending && waited < kConnectWaitMs && !stopping();
       waited += kConnectSliceMs)
    st = tcp.connect_poll(kConnectSliceMs, &error);
  return st == ConnectState::kConnected;
}

bool send_frame(Socket& tcp, const NodeFrame& f) {
  return !f.overflow && tcp.send_all(f.bytes, f.fill, kSendTimeoutMs);
}

void prime(Socket& udp) { udp.send_to("WING?", 5, Endpoint{g_desk_addr, kDeskPort}); }

// Sets up the UDP socket when there is none; false when the system gave none.
bool open_udp(Socket& udp) {
  if (udp.valid()) return true;
  udp = Socket::udp();
  std::optional<Endpoint> local;
  if (!udp.valid() || !udp.bind(Endpoint{0, 0}) || !(local = udp.local_endpoint())) {
    udp.close();
    return false;
  }
  udp.set_recv_timeout(kReceiveWaitMs);
  g_port.store(local->port, kRelaxed);
  driver_log_info("[nat] meter socket on udp/%d", int(local->port));
  return true;
}

// Connects and subscribes; false leaves no connection.
bool subscribe(Socket& udp, Socket& tcp) {
  if (!connect_desk(tcp)) {
    tcp.close();
    return false;
  }
  prime(udp);
  NodeFrame f;
  frame_reset(f);
  meter_put_subscription(f, g_port.load(kRelaxed), g_id.load(kRelaxed));
  if (!send_frame(tcp, f)) {
    tcp.close();
    return false;
  }
  g_subscriptions.fetch_add(1, kRelaxed);
  driver_log_info("[nat] connected %s:%d, meters requested (%d source devices)", g_ip,
                  int(kDeskPort), int(kMeterGroupCount));
  return true;
}

// The desk never writes on the subscription connection; bytes are read away, and a close or a
// reset is seen at once instead of at the next renewal.
bool connection_lost(Socket& tcp) {
  if (!tcp.wait_readable(0)) return false;
  uint8_t sink[512];
  int r = tcp.recv(sink, sizeof sink, 0);
  return r != kSocketTimeout && r <= 0;
}

void take_datagram(const uint8_t* p, int n, Endpoint from, Tick now, Tick* data_tick) {
  if (from.addr != g_desk_addr) {
    // Only the desk's own frames count: anyone else on the network could show false levels.
    if (g_foreign.fetch_add(1, kRelaxed) < kOddDatagramsLogged)
      driver_log_info("[nat] meter datagram of %d bytes from %s, not the desk - dropped", n,
                      format_ipv4(from.addr).c_str());
    return;
  }
  uint32_t id = g_id.load(kRelaxed);
  switch (g_levels.take(p, size_t(n), id, now)) {
    case MeterDatagram::kTooShort:
    case MeterDatagram::kDeskAnswer: return;
    case MeterDatagram::kWrongSize:
      *data_tick = now;
      if (g_levels.wrong_size_frames() <= kMeterWrongSizeLogged)
        driver_log_info(
            "[nat] meter frame is %d bytes, expected %d - channel counts have changed (sample rate or "
            "card?). Not decoding rather than showing wrong levels.",
            n, int(kMeterFrameSize));
      return;
    case MeterDatagram::kWrongId:
      if (g_levels.wrong_id_frames() <= kOddDatagramsLogged)
        driver_log_info("[nat] meter frame for subscription %u, ours is %u - dropped", read_be32(p),
                        id);
      return;
    case MeterDatagram::kFirstDecoded: {
      *data_tick = now;
      double lcl1 = kMeterFloorDb;
      g_levels.level("LCL", 1, &lcl1);
      driver_log_info("[nat] meter data flowing: %d bytes, %d words, LCL 1 = %.1f dB", n,
                      int(kMeterChannelCount), lcl1);
      return;
    }
    case MeterDatagram::kDecoded: *data_tick = now; return;
  }
}

void meter_thread() {
  Socket udp, tcp;
  bool tried = false;
  Tick setup_tick = 0, renew_tick = 0, data_tick = 0;
  uint8_t buf[kDatagramMax];
  uint32_t oversize = 0;

  while (!stopping()) {
    Tick now = clock().now();
    if (!tcp.valid()) {
      if (tried && ticks_elapsed(now, setup_tick) < kSetupEveryMs) {
        pause(kIdleSleepMs);
        continue;
      }
      tried = true;
      setup_tick = now;
      if (!open_udp(udp)) {
        pause(kSocketRetryMs);
        continue;
      }
      if (!subscribe(udp, tcp)) {
        if (!stopping()) driver_log_detail("[nat] connect %s:%d failed", g_ip, int(kDeskPort));
        g_levels.set_flowing(false);
        continue;
      }
      now = clock().now();
      renew_tick = data_tick = now;
    }

    if (ticks_elapsed(now, renew_tick) > kRenewEveryMs) {
      renew_tick = now;
      NodeFrame f;
      frame_reset(f);
      meter_put_renewal(f, g_id.load(kRelaxed));
      if (send_frame(tcp, f)) {
        g_renewals.fetch_add(1, kRelaxed);
      } else {
        tcp.close();
        g_levels.set_flowing(false);
        driver_log_info("[nat] renew failed, reconnecting");
        continue;
      }
    }
    if (connection_lost(tcp)) {
      // The state changes before it is said, so whoever reads the line sees the stream off.
      tcp.close();
      g_levels.set_flowing(false);
      driver_log_info("[nat] meter connection closed by the desk, reconnecting");
      continue;
    }

    Endpoint from{};
    int n = udp.recv_from(buf, sizeof buf, &from, kReceiveWaitMs);
    now = clock().now();
    if (n >= 0) {
      take_datagram(buf, n, from, now, &data_tick);
    } else if (n == kSocketTruncated) {
      if (++oversize <= kOddDatagramsLogged)
        driver_log_info("[nat] meter datagram over %d bytes - dropped", int(kDatagramMax));
    } else if (n == kSocketError) {
      pause(50);  // a broken receive must not spin
    }
    if (ticks_elapsed(now, data_tick) > kStallMs) {
      // The desk may have forgotten us while the connection stayed up: prime and subscribe again.
      g_levels.set_flowing(false);
      data_tick = now;
      tcp.close();
      setup_tick = now - kSetupEveryMs;  // the next pass subscribes at once
      driver_log_info("[nat] no meter data for 6 s, re-priming");
    }
  }
  tcp.close();
  udp.close();
  g_levels.set_flowing(false);
}

void thread_main(void*) { meter_thread(); }

// A value that differs between processes and runs, for the subscription id.
uint64_t process_salt() { return reinterpret_cast<uintptr_t>(&g_levels) >> 4; }

}  // namespace

bool KS_ABI wing_meters_start(const DeskAnswer* answer) {
  StoppableThreads::Start start(g_threads);
  if (!answer || !answer->ip[0]) return false;
  if (start.running()) return true;
  if (start.left_over()) {
    driver_log_info("[nat] the meter thread of the last stop is still running - meters stay off");
    return false;
  }
  size_t len = strnlen(answer->ip, sizeof answer->ip);
  std::optional<uint32_t> addr = parse_ipv4(std::string_view(answer->ip, len));
  if (!addr || len >= sizeof g_ip) {
    driver_log_info("[nat] desk address '%.47s' is not an IPv4 address - no meters", answer->ip);
    return false;
  }
  std::memcpy(g_ip, answer->ip, len);
  g_ip[len] = 0;
  g_desk_addr = *addr;
  g_levels.reset();
  g_id.store(meter_subscription_id(clock().now(), process_salt()), kRelaxed);
  g_port.store(0, kRelaxed);
  g_subscriptions.store(0, kRelaxed);
  g_renewals.store(0, kRelaxed);
  g_foreign.store(0, kRelaxed);
  return start.launch(0, thread_main);
}

void KS_ABI wing_meters_stop() {
  StoppableThreads::Stopped stopped = g_threads.stop(kStopWaitMs, StoppableThreads::Budget::kEach);
  if (!stopped.was_running) return;
  if (stopped.left) driver_thread_stuck();
  g_levels.set_flowing(false);
}

bool KS_ABI wing_meters_flowing() { return g_levels.flowing(); }
uint32_t KS_ABI wing_meter_frames() { return g_levels.frames(); }

bool KS_ABI wing_meter_now(const char* bank, int32_t n, double* db) {
  return g_levels.level(bank, n, db);
}

bool KS_ABI wing_meter_peak(const char* bank, int32_t n, double* db) {
  return g_levels.peak(bank, n, clock().now(), db);
}

bool KS_ABI wing_meter_clip(const char* bank, int32_t n) {
  return g_levels.clip(bank, n, clock().now());
}

WingMeterStats wing_meters_stats() {
  WingMeterStats s{};
  s.udp_port = g_port.load(kRelaxed);
  s.id = g_id.load(kRelaxed);
  s.subscriptions = g_subscriptions.load(kRelaxed);
  s.renewals = g_renewals.load(kRelaxed);
  s.wrong_size = g_levels.wrong_size_frames();
  s.wrong_id = g_levels.wrong_id_frames();
  s.foreign = g_foreign.load(kRelaxed);
  return s;
}

void wing_meters_set_clock(Clock* clock) { g_clock.store(clock, std::memory_order_release); }

}  // namespace ks
