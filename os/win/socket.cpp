// Sockets on Windows: Winsock 2, select for the waits.
#include "os/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <mutex>

#include "os/clock.h"
#include "os/socket_wait.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace ks {

namespace {

SOCKET raw(Socket::Native s) { return static_cast<SOCKET>(s); }

timeval to_timeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return tv;
}

}  // namespace

namespace detail {

bool would_block(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }

bool wait_socket(Socket::Native s, bool write, uint32_t ms) {
  if (s == Socket::kInvalid) return false;
  fd_set set, failed;
  FD_ZERO(&set);
  FD_ZERO(&failed);
  FD_SET(raw(s), &set);
  FD_SET(raw(s), &failed);
  timeval tv = to_timeval(ms);
  // Winsock reports a failed connect in the exception set, not as writable: without it a
  // refused connect would sit out the whole time-out.
  int n = ::select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &failed : nullptr,
                   ms == kInfinite ? nullptr : &tv);
  return n > 0;
}

}  // namespace detail

namespace {

sockaddr_in to_sockaddr(Endpoint e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(e.addr);
  sa.sin_port = htons(e.port);
  return sa;
}

Endpoint from_sockaddr(const sockaddr_in& sa) {
  return Endpoint{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

int set_opt(Socket::Native s, int level, int name, int value) {
  return ::setsockopt(raw(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

int set_opt_ms(Socket::Native s, int name, uint32_t ms) {
  DWORD v = ms;
  return ::setsockopt(raw(s), SOL_SOCKET, name, reinterpret_cast<const char*>(&v), sizeof v);
}

Socket::Native make(int type, int proto) {
  if (!net_startup()) return Socket::kInvalid;
  SOCKET s = ::socket(AF_INET, type, proto);
  if (s == INVALID_SOCKET) return Socket::kInvalid;
  if (type == SOCK_DGRAM) {
    // Without this a datagram answered by ICMP "port unreachable" makes the next recvfrom fail
    // with WSAECONNRESET, and a discovery socket would look broken after one silent host.
    BOOL off = FALSE;
    DWORD bytes = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &bytes, nullptr, nullptr);
  }
  return static_cast<Socket::Native>(s);
}

// Winsock has no per-call "don't wait": the socket is non-blocking for the one call.
template <class F>
int without_waiting(SOCKET s, F&& f) {
  u_long on = 1, off = 0;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return kSocketError;
  int n = f();
  int e = WSAGetLastError();
  ioctlsocket(s, FIONBIO, &off);
  if (n >= 0) return n;
  WSASetLastError(e);
  return detail::would_block(e) ? kSocketTimeout : kSocketError;
}

}  // namespace

bool net_startup() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA wsa;
    ok = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  });
  return ok;
}

int Socket::last_error() { return WSAGetLastError(); }

Socket Socket::udp() { return Socket(make(SOCK_DGRAM, IPPROTO_UDP)); }
Socket Socket::tcp() { return Socket(make(SOCK_STREAM, IPPROTO_TCP)); }

void Socket::close() {
  if (s_ != kInvalid) closesocket(raw(s_));
  s_ = kInvalid;
}

bool Socket::bind(Endpoint local) {
  sockaddr_in sa = to_sockaddr(local);
  return valid() && ::bind(raw(s_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool Socket::set_broadcast(bool on) {
  return valid() && set_opt(s_, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0) == 0;
}
bool Socket::set_reuse_address(bool on) {
  return valid() && set_opt(s_, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0) == 0;
}
bool Socket::set_nodelay(bool on) {
  return valid() && set_opt(s_, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0) == 0;
}
bool Socket::set_receive_buffer(int bytes) {
  return valid() && set_opt(s_, SOL_SOCKET, SO_RCVBUF, bytes) == 0;
}
bool Socket::set_recv_timeout(uint32_t ms) {
  return valid() && set_opt_ms(s_, SO_RCVTIMEO, ms) == 0;
}
bool Socket::set_send_timeout(uint32_t ms) {
  return valid() && set_opt_ms(s_, SO_SNDTIMEO, ms) == 0;
}

bool Socket::set_nonblocking(bool on) {
  u_long mode = on ? 1 : 0;
  return valid() && ioctlsocket(raw(s_), FIONBIO, &mode) == 0;
}

std::optional<Endpoint> Socket::local_endpoint() const {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (!valid() || ::getsockname(raw(s_), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return std::nullopt;
  return from_sockaddr(sa);
}

ConnectState Socket::connect_begin(Endpoint remote, int* error) {
  *error = 0;
  if (!valid() || !set_nonblocking(true)) {
    *error = WSAGetLastError();
    return ConnectState::kFailed;
  }
  sockaddr_in sa = to_sockaddr(remote);
  if (::connect(raw(s_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    set_nonblocking(false);
    return ConnectState::kConnected;
  }
  int e = WSAGetLastError();
  if (detail::would_block(e)) return ConnectState::kPending;
  *error = e;
  set_nonblocking(false);
  return ConnectState::kFailed;
}

ConnectState Socket::connect_poll(uint32_t ms, int* error) {
  *error = 0;
  if (!valid()) {
    *error = WSAENOTSOCK;
    return ConnectState::kFailed;
  }
  SOCKET h = raw(s_);
  fd_set wr, ex;
  FD_ZERO(&wr);
  FD_ZERO(&ex);
  FD_SET(h, &wr);
  FD_SET(h, &ex);  // Winsock reports a failed connect here, not as writable
  timeval tv = to_timeval(ms);
  int r = ::select(0, nullptr, &wr, &ex, ms == kInfinite ? nullptr : &tv);
  if (r == 0) return ConnectState::kPending;
  int so = 0;
  if (r == SOCKET_ERROR) {
    so = WSAGetLastError();
  } else {
    int len = sizeof so;
    if (::getsockopt(h, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so), &len) != 0)
      so = WSAGetLastError();
    if (FD_ISSET(h, &ex) && so == 0) so = WSAECONNREFUSED;
  }
  set_nonblocking(false);
  *error = so;
  return so == 0 ? ConnectState::kConnected : ConnectState::kFailed;
}

bool Socket::listen(int backlog) { return valid() && ::listen(raw(s_), backlog) == 0; }

Socket Socket::accept(uint32_t timeout_ms, Endpoint* peer) {
  if (!detail::wait_socket(s_, false, timeout_ms)) return Socket();
  sockaddr_in sa{};
  int len = sizeof sa;
  SOCKET c = ::accept(raw(s_), reinterpret_cast<sockaddr*>(&sa), &len);
  if (c == INVALID_SOCKET) return Socket();
  if (peer) *peer = from_sockaddr(sa);
  return Socket(static_cast<Native>(c));
}

int Socket::recv(void* buf, size_t cap, uint32_t timeout_ms) {
  if (!valid() || cap == 0) return kSocketError;
  if (!detail::wait_socket(s_, false, timeout_ms)) return kSocketTimeout;
  int n = ::recv(raw(s_), static_cast<char*>(buf),
                 static_cast<int>(cap > 0x7FFFFFFF ? 0x7FFFFFFF : cap), 0);
  if (n < 0) return detail::would_block(WSAGetLastError()) ? kSocketTimeout : kSocketError;
  return n;
}

int Socket::send(const void* buf, size_t len) {
  if (!valid()) return kSocketError;
  int n = ::send(raw(s_), static_cast<const char*>(buf), static_cast<int>(len), 0);
  return n < 0 ? kSocketError : n;
}

int Socket::try_send(const void* buf, size_t len) {
  if (!valid()) return kSocketError;
  if (len == 0) return 0;
  const int n = static_cast<int>(len > 0x7FFFFFFF ? 0x7FFFFFFF : len);
  return without_waiting(raw(s_),
                         [&] { return ::send(raw(s_), static_cast<const char*>(buf), n, 0); });
}

int Socket::try_send_to(const void* buf, size_t len, Endpoint to) {
  if (!valid()) return kSocketError;
  sockaddr_in sa = to_sockaddr(to);
  const int n = static_cast<int>(len > 0xFFFF ? 0xFFFF : len);
  return without_waiting(raw(s_), [&] {
    return ::sendto(raw(s_), static_cast<const char*>(buf), n, 0, reinterpret_cast<sockaddr*>(&sa),
                    sizeof sa);
  });
}

int Socket::send_to(const void* buf, size_t len, Endpoint to) {
  if (!valid()) return kSocketError;
  sockaddr_in sa = to_sockaddr(to);
  int n = ::sendto(raw(s_), static_cast<const char*>(buf), static_cast<int>(len), 0,
                   reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n < 0 ? kSocketError : n;
}

int Socket::recv_from(void* buf, size_t cap, Endpoint* from, uint32_t timeout_ms) {
  if (!valid() || cap == 0) return kSocketError;
  if (!detail::wait_socket(s_, false, timeout_ms)) return kSocketTimeout;
  sockaddr_in sa{};
  int slen = sizeof sa;
  int icap = static_cast<int>(cap > 0xFFFF ? 0xFFFF : cap);
  int n = ::recvfrom(raw(s_), static_cast<char*>(buf), icap, 0, reinterpret_cast<sockaddr*>(&sa),
                     &slen);
  if (n < 0) {
    int e = WSAGetLastError();
    if (e == WSAEMSGSIZE) {
      if (from) *from = from_sockaddr(sa);
      return kSocketTruncated;
    }
    return detail::would_block(e) || e == WSAETIMEDOUT ? kSocketTimeout : kSocketError;
  }
  if (from) *from = from_sockaddr(sa);
  return n;
}

int select_readable(const Socket::Native* sockets, int n, uint32_t timeout_ms) {
  if (!sockets || n < 1) return -1;
  if (n > 64) n = 64;
  fd_set set;
  FD_ZERO(&set);
  for (int i = 0; i < n; ++i)
    if (sockets[i] != Socket::kInvalid) FD_SET(raw(sockets[i]), &set);  // FD_SET skips duplicates
  if (set.fd_count == 0) return -1;
  timeval tv = to_timeval(timeout_ms);
  if (::select(0, &set, nullptr, nullptr, timeout_ms == kInfinite ? nullptr : &tv) <= 0) return -1;
  for (int i = 0; i < n; ++i)
    if (sockets[i] != Socket::kInvalid && FD_ISSET(raw(sockets[i]), &set)) return i;
  return -1;
}

}  // namespace ks
