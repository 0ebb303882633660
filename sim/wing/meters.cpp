#include "sim/wing/meters.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <cmath>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace ks::sim {

namespace {

struct Group {
  const char* name;
  int channels;
};
// The frame's groups, in frame order.
const Group kGroups[] = {{"LCL", 24}, {"AUX", 8},  {"A", 48},   {"B", 48},
                         {"C", 48},   {"SC", 32},  {"USB", 48}, {"CRD", 64},
                         {"MOD", 64}, {"PLAY", 4}, {"AES", 2},  {"USR", 56}};
constexpr int kWords = 446;

// After the port and the id, a subscription asks for the twelve groups and ends.
const uint8_t kSubscriptionTail[] = {0xDC, 0xA7, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xDE};
constexpr size_t kSubscriptionLen = 3 + 5 + sizeof kSubscriptionTail;

uint64_t steady_ms() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t peer_address(const Socket& s) {
  sockaddr_in sa{};
#ifdef _WIN32
  int len = sizeof sa;
  if (getpeername(SOCKET(s.native()), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
#else
  socklen_t len = sizeof sa;
  if (getpeername(int(s.native()), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
#endif
  return ntohl(sa.sin_addr.s_addr);
}

uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

MeterSim::MeterSim() : levels_(kWords, int16_t(-90 * 256)) {}

MeterSim::~MeterSim() { stop(); }

bool MeterSim::start(uint32_t addr) {
  if ((addr >> 24) != 127) return false;  // loopback only, always
  if (running_) return true;
  udp_ = Socket::udp();
  if (!udp_.valid() || !udp_.bind(Endpoint{addr, 0})) {
    udp_.close();
    return false;
  }
  running_ = true;
  send_thread_ = std::thread([this] { send_loop(); });
  return true;
}

bool MeterSim::listen(uint32_t addr, uint16_t port) {
  if (!start(addr)) return false;
  listener_ = Socket::tcp();
  listener_.set_reuse_address(true);
  if (!listener_.valid() || !listener_.bind(Endpoint{addr, port}) || !listener_.listen(8)) {
    listener_.close();
    return false;
  }
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void MeterSim::stop() {
  if (!running_.exchange(false)) return;
  changed_.notify_all();
  if (accept_thread_.joinable()) accept_thread_.join();
  for (std::thread& t : conn_threads_)
    if (t.joinable()) t.join();
  conn_threads_.clear();
  if (send_thread_.joinable()) send_thread_.join();
  listener_.close();
  udp_.close();
}

void MeterSim::accept_loop() {
  while (running_) {
    Endpoint peer{};
    Socket s = listener_.accept(100, &peer);
    if (!s.valid()) continue;
    conn_threads_.emplace_back([this, peer, sock = std::move(s)]() mutable {
      uint8_t buf[512];
      int r = kSocketTimeout;
      while (running_ && r == kSocketTimeout) r = sock.recv(buf, sizeof buf, 100);
      if (r > 0 && claims(buf, size_t(r)))
        serve(sock, peer.addr, buf, size_t(r), [] { return true; });
      sock.close();
    });
  }
}

bool MeterSim::claims(const uint8_t* first, size_t n) {
  return n >= 2 && first[0] == 0xDF && first[1] == 0xD3;
}

void MeterSim::serve(Socket& conn, uint32_t peer_addr, const uint8_t* first, size_t n,
                     const std::function<bool()>& keep_going) {
  if (!peer_addr) peer_addr = peer_address(conn);
  uint32_t generation;
  {
    std::lock_guard<std::mutex> g(m_);
    generation = drop_generation_;
  }
  std::vector<uint8_t> q;  // un-escaped bytes not yet read
  bool escape = false;
  int mine = -1;  // this connection's entry in subs_

  auto unescape = [&](const uint8_t* p, size_t len) {
    for (size_t i = 0; i < len; ++i) {
      uint8_t b = p[i];
      if (!escape) {
        if (b == 0xDF)
          escape = true;
        else
          q.push_back(b);
        continue;
      }
      escape = false;
      if (b == 0xDE)
        q.push_back(0xDF);
      else if (b == 0xD3)
        continue;  // the meter channel marker
      else
        junk_ += 2;  // any other marker has no business here
    }
  };
  auto read_requests = [&] {
    size_t at = 0;
    for (;;) {
      size_t left = q.size() - at;
      if (left == 0) break;
      const uint8_t* p = q.data() + at;
      if (p[0] == 0xD3) {
        if (left < kSubscriptionLen) break;
        if (p[3] != 0xD4) {
          ++junk_;
          ++at;
          continue;
        }
        MeterSubscriber s;
        s.addr = peer_addr;
        s.port = uint16_t((p[1] << 8) | p[2]);
        s.id = be32(p + 4);
        s.well_formed =
            std::equal(std::begin(kSubscriptionTail), std::end(kSubscriptionTail), p + 8);
        s.subscribed_ms = s.renewed_ms = steady_ms();
        std::lock_guard<std::mutex> g(m_);
        if (mine >= 0)
          subs_[size_t(mine)].open = false;  // a second subscription replaces the first
        subs_.push_back(s);
        mine = int(subs_.size() - 1);
        changed_.notify_all();
        at += kSubscriptionLen;
      } else if (p[0] == 0xD4) {
        if (left < 5) break;
        uint32_t id = be32(p + 1);
        at += 5;
        std::lock_guard<std::mutex> g(m_);
        if (mine < 0 || subs_[size_t(mine)].id != id) {
          junk_ += 5;
          continue;
        }
        MeterSubscriber& s = subs_[size_t(mine)];
        ++s.renewals;
        if (!faults_.ignore_renewals) s.renewed_ms = steady_ms();
        changed_.notify_all();
      } else {
        ++junk_;
        ++at;
      }
    }
    q.erase(q.begin(), q.begin() + long(at));
  };

  unescape(first, n);
  read_requests();
  uint8_t buf[512];
  while (running_ && keep_going()) {
    {
      std::lock_guard<std::mutex> g(m_);
      if (drop_generation_ != generation) break;
    }
    int r = conn.recv(buf, sizeof buf, 100);
    if (r == kSocketTimeout) continue;
    if (r <= 0) break;
    unescape(buf, size_t(r));
    read_requests();
  }
  conn.close();
  std::lock_guard<std::mutex> g(m_);
  if (mine >= 0) subs_[size_t(mine)].open = false;
  changed_.notify_all();
}

std::vector<uint8_t> MeterSim::frame_for(uint32_t id, const MeterFaults& f) const {
  std::vector<uint8_t> out;
  out.reserve(4 + 2 * kWords);
  uint32_t v = id + f.id_offset;
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
  for (int16_t w : levels_) {
    out.push_back(uint8_t(uint16_t(w) >> 8));
    out.push_back(uint8_t(uint16_t(w)));
  }
  out.resize(f.frame_size, 0);
  return out;
}

void MeterSim::send_loop() {
  while (running_) {
    struct Target {
      Endpoint to;
      std::vector<uint8_t> frame;
    };
    std::vector<Target> targets;
    uint32_t interval;
    {
      std::unique_lock<std::mutex> g(m_);
      interval = faults_.interval_ms ? faults_.interval_ms : 1;
      uint64_t now = steady_ms();
      if (!faults_.silent) {
        for (const MeterSubscriber& s : subs_) {
          if (!s.open || !s.well_formed || now - s.renewed_ms >= faults_.lifetime_ms) continue;
          targets.push_back(Target{Endpoint{s.addr, s.port}, frame_for(s.id, faults_)});
        }
      }
    }
    for (const Target& t : targets) {
      if (udp_.send_to(t.frame.data(), t.frame.size(), t.to) > 0) ++frames_sent_;
    }
    std::unique_lock<std::mutex> g(m_);
    changed_.wait_for(g, std::chrono::milliseconds(interval), [this] { return !running_; });
  }
}

bool MeterSim::set_level(const std::string& bank, int n, double db) {
  int base = 0;
  for (const Group& grp : kGroups) {
    if (bank == grp.name) {
      if (n < 1 || n > grp.channels) return false;
      double raw = std::round(db * 256.0);
      raw = raw < -32768 ? -32768 : raw > 32767 ? 32767 : raw;
      std::lock_guard<std::mutex> g(m_);
      levels_[size_t(base + n - 1)] = int16_t(raw);
      return true;
    }
    base += grp.channels;
  }
  return false;
}

void MeterSim::set_faults(const MeterFaults& f) {
  std::lock_guard<std::mutex> g(m_);
  faults_ = f;
}

void MeterSim::update_faults(const std::function<void(MeterFaults&)>& change) {
  std::lock_guard<std::mutex> g(m_);
  change(faults_);
}

std::string MeterSim::command(const std::string& verb, const std::string& args) {
  std::istringstream in(args);
  if (verb == "meter") {
    std::string bank;
    int n = 0;
    double db = 0;
    if (!(in >> bank >> n >> db)) return "err usage: meter <bank> <n> <dB>";
    return set_level(bank, n, db) ? "ok" : "err no such meter";
  }
  std::string name, arg;
  in >> name >> arg;
  char* end = nullptr;
  unsigned long v = std::strtoul(arg.c_str(), &end, 10);
  bool number = !arg.empty() && *end == 0;
  bool ok = true;
  update_faults([&](MeterFaults& f) {
    if (name == "silent" && (arg == "on" || arg == "off"))
      f.silent = arg == "on";
    else if (name == "size" && number && v <= 2048)
      f.frame_size = uint32_t(v);
    else if (name == "id" && number)
      f.id_offset = uint32_t(v);
    else if (name == "clear")
      f = MeterFaults{};
    else
      ok = false;
  });
  return ok ? "ok" : "err unknown meter fault or value";
}

std::vector<MeterSubscriber> MeterSim::subscribers() const {
  std::lock_guard<std::mutex> g(m_);
  return subs_;
}

bool MeterSim::wait_subscribers(
    const std::function<bool(const std::vector<MeterSubscriber>&)>& pred,
    uint32_t timeout_ms) const {
  std::unique_lock<std::mutex> g(m_);
  return changed_.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return pred(subs_); });
}

void MeterSim::drop_connections() {
  std::lock_guard<std::mutex> g(m_);
  ++drop_generation_;
  changed_.notify_all();
}

}  // namespace ks::sim
