#include "sim/wing/discovery.h"

#include <cstring>

namespace ks::sim {

namespace {

void pad4(std::string& s) {
  s += '\0';
  while (s.size() % 4) s += '\0';
}

// The OSC address of a message, when it is a well-formed padded string.
bool osc_address(const char* data, int len, std::string& out) {
  const void* nul = std::memchr(data, 0, size_t(len));
  if (!nul) return false;
  out.assign(data, size_t(static_cast<const char*>(nul) - data));
  return true;
}

}  // namespace

std::string wing_identity_line(const std::string& ip, const std::string& name,
                               const std::string& model, const std::string& serial,
                               const std::string& firmware) {
  return "WING," + ip + "," + name + "," + model + "," + serial + "," + firmware;
}

DiscoveryResponder::~DiscoveryResponder() { stop(); }

bool DiscoveryResponder::start(uint32_t addr, const DiscoveryBehaviour& b, uint16_t discovery_port,
                               uint16_t osc_port) {
  stop();
  set_behaviour(b);
  disc_ = Socket::udp();
  osc_ = Socket::udp();
  // Bound to any address, the ports are shared with responders bound to single addresses.
  if (addr == 0) {
    disc_.set_reuse_address(true);
    osc_.set_reuse_address(true);
  }
  if (!disc_.bind({addr, discovery_port}) || !osc_.bind({addr, osc_port})) {
    disc_.close();
    osc_.close();
    return false;
  }
  running_ = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void DiscoveryResponder::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  disc_.close();
  osc_.close();
}

void DiscoveryResponder::set_behaviour(const DiscoveryBehaviour& b) {
  std::lock_guard<std::mutex> g(m_);
  b_ = b;
}

void DiscoveryResponder::run() {
  const Socket* both[] = {&disc_, &osc_};
  char buf[2048];
  while (running_) {
    int idx = select_readable(both, 2, 50);
    if (idx < 0) continue;
    Endpoint from;
    Socket& s = idx == 0 ? disc_ : osc_;
    int n = s.recv_from(buf, sizeof buf, &from, 0);
    if (n <= 0) continue;
    DiscoveryBehaviour b;
    {
      std::lock_guard<std::mutex> g(m_);
      b = b_;
    }
    if (idx == 0) {
      if (n != 5 || std::memcmp(buf, "WING?", 5) != 0) continue;
      ++questions_;
      if (b.silent) continue;
      if (!b.extra.empty()) disc_.send_to(b.extra.data(), b.extra.size(), from);
      disc_.send_to(b.line.data(), b.line.size(), from);
    } else {
      answer_osc(buf, n, from);
    }
  }
}

void DiscoveryResponder::answer_osc(const char* data, int len, const Endpoint& from) {
  std::string address;
  if (!osc_address(data, len, address)) return;
  ++card_questions_;
  std::string text;
  {
    std::lock_guard<std::mutex> g(m_);
    if (address == "/$syscfg/opt_mod")
      text = b_.opt_mod;
    else if (address == "/cards/$type")
      text = b_.card_type;
    else
      return;
  }
  if (text.empty()) return;
  std::string reply = address;
  pad4(reply);
  reply += ",s";
  pad4(reply);
  reply += text;
  pad4(reply);
  osc_.send_to(reply.data(), reply.size(), from);
}

}  // namespace ks::sim
