#include "sim/x32/x32_sim.h"

#include <cstdio>

namespace ks::sim {

namespace {
using Clock = std::chrono::steady_clock;

std::string fmt(const char* f, int a) {
  char b[64];
  std::snprintf(b, sizeof b, f, a);
  return b;
}
std::string fmt2(const char* f, int a, int c) {
  char b[64];
  std::snprintf(b, sizeof b, f, a, c);
  return b;
}
}  // namespace

X32Sim::X32Sim() = default;
X32Sim::~X32Sim() { stop(); }

void X32Sim::seed_store() {
  store_.clear();
  for (int i = 0; i < 128; i++) {
    store_[fmt("/headamp/%03d/gain", i)] = osc_f(0.25f);  // +6 dB
    store_[fmt("/headamp/%03d/phantom", i)] = osc_i(0);
  }
  static const char* blocks[4] = {"1-8", "9-16", "17-24", "25-32"};
  for (int k = 0; k < 4; k++) store_[std::string("/config/routing/CARD/") + blocks[k]] = osc_i(k);
  for (int k = 0; k < 4; k++) store_[std::string("/config/routing/IN/") + blocks[k]] = osc_i(k);
  for (int e = 1; e <= 48; e++) store_[fmt("/config/userrout/out/%02d", e)] = osc_i(e);
  for (int e = 1; e <= 32; e++) store_[fmt("/config/userrout/in/%02d", e)] = osc_i(e);
  store_["/config/linkcfg/hadly"] = osc_i(0);
  for (int p = 1; p <= 31; p += 2) store_[fmt2("/config/chlink/%d-%d", p, p + 1)] = osc_i(0);
  for (int c = 1; c <= 32; c++) {
    store_[fmt("/-ha/%02d/index", c)] = osc_i(c - 1);  // channel c is fed by head amp c-1
    store_[fmt("/ch/%02d/config/source", c)] = osc_i(c);
  }
  store_["/-stat/aes50/A"] = osc_s("    000000");
  store_["/-stat/aes50/B"] = osc_s("    000000");
  store_["/-stat/aes50/state"] = osc_s("A:- B:-");
  store_["/-stat/aes50/stats"] = osc_s("0 0");
  store_["/-stat/xcardtype"] = osc_i(options_.card_type);
  store_["/-stat/xcardsync"] = osc_i(1);
}

bool X32Sim::start(const Options& options) {
  stop();
  options_ = options;
  uint32_t ip;
  if (!parse_loopback(options.address, &ip) || !socket_.open(ip, options.port)) return false;
  {
    std::lock_guard<std::mutex> g(mutex_);
    seed_store();
    subs_.clear();
    received_.clear();
  }
  running_ = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void X32Sim::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  socket_.close();
}

void X32Sim::run() {
  uint8_t buf[4096];
  // A datagram that came in while the freeze began waits with those still queued.
  std::vector<std::pair<UdpPeer, std::vector<uint8_t>>> held;
  while (running_) {
    if (frozen_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    for (auto& [peer, bytes] : held) handle(peer, bytes.data(), bytes.size());
    held.clear();
    UdpPeer from;
    int n = socket_.receive(buf, sizeof buf, &from, 50);
    if (n > 0 && frozen_)
      held.emplace_back(from, std::vector<uint8_t>(buf, buf + n));
    else if (n > 0)
      handle(from, buf, size_t(n));
  }
}

void X32Sim::handle(const UdpPeer& from, const uint8_t* data, size_t len) {
  auto packet = osc_read(data, len);
  {
    std::lock_guard<std::mutex> g(mutex_);
    Received r{Clock::now(), from, std::vector<uint8_t>(data, data + len),
               packet ? packet->address : "", packet && !packet->args.empty()};
    received_.push_back(std::move(r));
  }
  changed_.notify_all();
  uint64_t seen = ++datagrams_;
  int drop = drop_every_;
  if (!packet || (drop > 0 && seen % uint64_t(drop) == 0)) return;
  const OscPacket& p = *packet;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!silent_from_.empty() && p.address == silent_from_) silent_ = true;
  }

  if (p.address == "/xremote") {
    std::lock_guard<std::mutex> g(mutex_);
    auto until = Clock::now() + std::chrono::milliseconds(options_.subscription_ms);
    bool found = false;
    for (auto& s : subs_)
      if (s.first == from) s.second = until, found = true;
    if (!found) subs_.push_back({from, until});
    return;
  }
  if (p.address == "/xinfo") {
    reply(from, {"/xinfo",
                 {osc_s(options_.address), osc_s(options_.name), osc_s(options_.model),
                  osc_s(options_.version)}});
    return;
  }
  if (p.address == "/status") {
    reply(from, {"/status", {osc_s("active"), osc_s(options_.address), osc_s(options_.name)}});
    return;
  }

  OscArg stored;
  {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = store_.find(p.address);
    if (it == store_.end()) return;  // an unknown address gets no answer
    if (p.args.empty()) {
      stored = it->second;
    } else {
      // A set: the desk keeps its own type for the parameter.
      OscArg in = p.args[0];
      OscArg& v = it->second;
      if (v.type == 'f')
        v.f = in.type == 'f' ? in.f : in.type == 'i' ? float(in.i) : v.f;
      else if (v.type == 'i')
        v.i = in.type == 'i' ? in.i : in.type == 'f' ? int32_t(in.f) : v.i;
      else if (in.type == 's')
        v.s = in.s;
      stored = v;
    }
  }
  changed_.notify_all();
  if (p.args.empty()) {
    reply(from, {p.address, {stored}});
  } else {
    std::function<void(const std::string&)> observer;
    {
      std::lock_guard<std::mutex> g(mutex_);
      observer = observer_;
    }
    if (observer) observer(p.address);
    OscPacket change{p.address, {stored}};
    fan_out(change, options_.echo_to_sender ? nullptr : &from);
  }
}

void X32Sim::set_silent_from(const std::string& address) {
  std::lock_guard<std::mutex> g(mutex_);
  silent_from_ = address;
}

void X32Sim::set_reply_delay_ms(int ms, const std::string& only_address) {
  std::lock_guard<std::mutex> g(mutex_);
  delay_address_ = only_address;
  reply_delay_ms_ = ms;
}

void X32Sim::reply(const UdpPeer& to, OscPacket p) {
  if (silent_) return;
  int delay = reply_delay_ms_;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!delay_address_.empty() && delay_address_ != p.address) delay = 0;
  }
  if (wrong_address_) p.address += "/x";
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  auto bytes = osc_write(p);
  socket_.send(to, bytes.data(), bytes.size());
}

void X32Sim::fan_out(const OscPacket& p, const UdpPeer* except) {
  if (silent_ || frozen_) return;
  auto bytes = osc_write(p);
  for (const UdpPeer& s : subscribers())
    if (!except || !(s == *except)) socket_.send(s, bytes.data(), bytes.size());
}

std::vector<UdpPeer> X32Sim::subscribers() {
  std::lock_guard<std::mutex> g(mutex_);
  std::vector<UdpPeer> live;
  auto now = Clock::now();
  for (auto& s : subs_)
    if (s.second > now) live.push_back(s.first);
  return live;
}

bool X32Sim::has(const std::string& address) {
  std::lock_guard<std::mutex> g(mutex_);
  return store_.count(address) != 0;
}

OscArg X32Sim::value(const std::string& address) {
  std::lock_guard<std::mutex> g(mutex_);
  auto it = store_.find(address);
  return it == store_.end() ? OscArg{} : it->second;
}

void X32Sim::put(const std::string& address, OscArg v) {
  std::lock_guard<std::mutex> g(mutex_);
  store_[address] = std::move(v);
}

float X32Sim::headamp_gain(int index) { return value(fmt("/headamp/%03d/gain", index)).f; }
int X32Sim::headamp_phantom(int index) { return value(fmt("/headamp/%03d/phantom", index)).i; }

void X32Sim::desk_change(const std::string& address, OscArg v) {
  put(address, v);
  fan_out({address, {v}}, nullptr);
}

void X32Sim::scene_load(int count, int spread_ms) {
  auto start = Clock::now();
  for (int i = 0; i < count; i++) {
    int ha = i % 128;
    desk_change(fmt("/headamp/%03d/gain", ha), osc_f(float((i * 7) % 145) / 144.0f));
    if (spread_ms > 0 && count > 1)
      std::this_thread::sleep_until(
          start + std::chrono::microseconds(int64_t(spread_ms) * 1000 * (i + 1) / count));
  }
}

void X32Sim::send_raw_to_subscribers(const std::vector<uint8_t>& datagram) {
  for (const UdpPeer& s : subscribers()) socket_.send(s, datagram.data(), datagram.size());
}

void X32Sim::send_raw(const UdpPeer& to, const std::vector<uint8_t>& datagram) {
  socket_.send(to, datagram.data(), datagram.size());
}

std::vector<X32Sim::Received> X32Sim::received() {
  std::lock_guard<std::mutex> g(mutex_);
  return received_;
}

void X32Sim::clear_received() {
  std::lock_guard<std::mutex> g(mutex_);
  received_.clear();
}

int X32Sim::count(const std::string& address) {
  std::lock_guard<std::mutex> g(mutex_);
  int n = 0;
  for (const auto& r : received_) n += r.address == address;
  return n;
}

void X32Sim::set_observer(std::function<void(const std::string&)> fn) {
  std::lock_guard<std::mutex> g(mutex_);
  observer_ = std::move(fn);
}

bool X32Sim::wait_for(const std::function<bool()>& ready, int timeout_ms) {
  auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ready()) {
    if (Clock::now() >= until) return false;
    std::unique_lock<std::mutex> lk(mutex_);
    changed_.wait_for(lk, std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace ks::sim
