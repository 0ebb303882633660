#include "sim/x32/sim_udp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace ks::sim {

namespace {
sockaddr_in to_sockaddr(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(ip);
  a.sin_port = htons(port);
  return a;
}

bool winsock_up() {
  static bool ok = [] {
    WSADATA d;
    return WSAStartup(MAKEWORD(2, 2), &d) == 0;
  }();
  return ok;
}
}  // namespace

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::open(uint32_t ip, uint16_t port) {
  close();
  if ((ip >> 24) != 127 || !winsock_up()) return false;
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in a = to_sockaddr(ip, port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s);
    return false;
  }
  // A send to a port nobody listens on must not make the next receive fail.
  BOOL off = FALSE;
  DWORD ret = 0;
  WSAIoctl(s, _WSAIOW(IOC_VENDOR, 12), &off, sizeof off, nullptr, 0, &ret, nullptr, nullptr);
  handle_ = intptr_t(s);
  return true;
}

void UdpSocket::close() {
  if (handle_ != -1) closesocket(SOCKET(handle_));
  handle_ = -1;
}

uint16_t UdpSocket::local_port() const {
  sockaddr_in a{};
  int len = sizeof a;
  if (handle_ == -1 || getsockname(SOCKET(handle_), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  return ntohs(a.sin_port);
}

int UdpSocket::receive(uint8_t* buf, size_t cap, UdpPeer* from, int timeout_ms) {
  if (handle_ == -1) return -1;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(SOCKET(handle_), &set);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int r = ::select(0, &set, nullptr, nullptr, &tv);
  if (r <= 0) return r < 0 ? -1 : 0;
  sockaddr_in a{};
  int len = sizeof a;
  int n = ::recvfrom(SOCKET(handle_), reinterpret_cast<char*>(buf), int(cap), 0,
                     reinterpret_cast<sockaddr*>(&a), &len);
  if (n < 0) return 0;  // reset by an ICMP error, or larger than the buffer: nothing usable
  from->ip = ntohl(a.sin_addr.s_addr);
  from->port = ntohs(a.sin_port);
  return n;
}

bool UdpSocket::send(const UdpPeer& to, const uint8_t* data, size_t len) {
  if (handle_ == -1 || (to.ip >> 24) != 127) return false;
  sockaddr_in a = to_sockaddr(to.ip, to.port);
  return ::sendto(SOCKET(handle_), reinterpret_cast<const char*>(data), int(len), 0,
                  reinterpret_cast<sockaddr*>(&a), sizeof a) == int(len);
}

}  // namespace ks::sim
