// The simulator's own UDP socket: one datagram socket bound to a loopback address. It refuses
// every address outside 127.0.0.0/8, in both directions: the simulator never talks to a network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ks::sim {

struct UdpPeer {
  uint32_t ip = 0;  // host byte order
  uint16_t port = 0;
  bool operator==(const UdpPeer& o) const { return ip == o.ip && port == o.port; }
};

bool parse_loopback(const std::string& text, uint32_t* ip);  // false unless 127.x.y.z
std::string peer_text(const UdpPeer& p);

class UdpSocket {
public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  bool open(uint32_t ip, uint16_t port);  // port 0: any
  void close();
  bool is_open() const { return handle_ != -1; }
  uint16_t local_port() const;
  // Waits up to timeout_ms for one datagram; its length, 0 on time-out, -1 on error.
  int receive(uint8_t* buf, size_t cap, UdpPeer* from, int timeout_ms);
  bool send(const UdpPeer& to, const uint8_t* data, size_t len);

private:
  intptr_t handle_ = -1;
};

}  // namespace ks::sim
