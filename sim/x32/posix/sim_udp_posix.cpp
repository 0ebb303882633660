#include "sim/x32/sim_udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ks::sim {

namespace {
sockaddr_in to_sockaddr(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(ip);
  a.sin_port = htons(port);
  return a;
}
}  // namespace

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::open(uint32_t ip, uint16_t port) {
  close();
  if ((ip >> 24) != 127) return false;
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return false;
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = to_sockaddr(ip, port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return false;
  }
  handle_ = s;
  return true;
}

void UdpSocket::close() {
  if (handle_ != -1) ::close(int(handle_));
  handle_ = -1;
}

uint16_t UdpSocket::local_port() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (handle_ == -1 || getsockname(int(handle_), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  return ntohs(a.sin_port);
}

int UdpSocket::receive(uint8_t* buf, size_t cap, UdpPeer* from, int timeout_ms) {
  if (handle_ == -1) return -1;
  pollfd p{int(handle_), POLLIN, 0};
  int r = ::poll(&p, 1, timeout_ms);
  if (r <= 0) return r < 0 ? -1 : 0;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ssize_t n = ::recvfrom(int(handle_), buf, cap, 0, reinterpret_cast<sockaddr*>(&a), &len);
  if (n < 0) return 0;  // an ICMP error from an earlier send: nothing to read
  from->ip = ntohl(a.sin_addr.s_addr);
  from->port = ntohs(a.sin_port);
  return int(n);
}

bool UdpSocket::send(const UdpPeer& to, const uint8_t* data, size_t len) {
  if (handle_ == -1 || (to.ip >> 24) != 127) return false;
  sockaddr_in a = to_sockaddr(to.ip, to.port);
  return ::sendto(int(handle_), data, len, 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
         ssize_t(len);
}

}  // namespace ks::sim
