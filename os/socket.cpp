// One implementation for Winsock 2 and BSD sockets: the calls are the same but for a few names.
#include "os/socket.h"

#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <mutex>
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
using sock_t = SOCKET;
using socklen = int;
#define KS_CLOSESOCK closesocket
#define KS_WOULDBLOCK(e) ((e) == WSAEWOULDBLOCK || (e) == WSAEINPROGRESS)
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using sock_t = int;
using socklen = socklen_t;
#define KS_CLOSESOCK ::close
#define KS_WOULDBLOCK(e) ((e) == EINPROGRESS || (e) == EWOULDBLOCK || (e) == EAGAIN)
#endif

#include "os/clock.h"

namespace ks {

namespace {

sock_t raw(Socket::Native s) { return static_cast<sock_t>(s); }

sockaddr_in to_sockaddr(Endpoint e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(e.addr);
  sa.sin_port = htons(e.port);
  return sa;
}

Endpoint from_sockaddr(const sockaddr_in& sa) { return Endpoint{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)}; }

timeval to_timeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return tv;
}

// select() on one socket; fd_set on POSIX cannot hold descriptors >= FD_SETSIZE, so poll there.
bool wait_one(Socket::Native s, bool write, uint32_t ms) {
  if (s == Socket::kInvalid) return false;
#ifdef _WIN32
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
#else
  pollfd p{raw(s), static_cast<short>(write ? POLLOUT : POLLIN), 0};
  int timeout = ms == kInfinite ? -1 : static_cast<int>(ms > 0x7FFFFFFFu ? 0x7FFFFFFF : ms);
  int n;
  do {
    n = ::poll(&p, 1, timeout);
  } while (n < 0 && errno == EINTR);
  return n > 0;
#endif
}

int set_opt(Socket::Native s, int level, int name, int value) {
  return ::setsockopt(raw(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

Socket::Native make(int type, int proto) {
  if (!net_startup()) return Socket::kInvalid;
  sock_t s = ::socket(AF_INET, type, proto);
#ifdef _WIN32
  if (s == INVALID_SOCKET) return Socket::kInvalid;
  if (type == SOCK_DGRAM) {
    // Without this a datagram answered by ICMP "port unreachable" makes the next recvfrom fail
    // with WSAECONNRESET, and a discovery socket would look broken after one silent host.
    BOOL off = FALSE;
    DWORD bytes = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &bytes, nullptr, nullptr);
  }
#else
  if (s < 0) return Socket::kInvalid;
  fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
  return static_cast<Socket::Native>(s);
}

}  // namespace

bool net_startup() {
#ifdef _WIN32
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA wsa;
    ok = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  });
  return ok;
#else
  return true;
#endif
}

int Socket::last_error() {
#ifdef _WIN32
  return WSAGetLastError();
#else
  return errno;
#endif
}

Socket::~Socket() { close(); }
Socket::Socket(Socket&& o) noexcept : s_(o.s_) { o.s_ = kInvalid; }
Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    close();
    s_ = o.s_;
    o.s_ = kInvalid;
  }
  return *this;
}

Socket Socket::udp() { return Socket(make(SOCK_DGRAM, IPPROTO_UDP)); }
Socket Socket::tcp() { return Socket(make(SOCK_STREAM, IPPROTO_TCP)); }

void Socket::close() {
  if (s_ != kInvalid) KS_CLOSESOCK(raw(s_));
  s_ = kInvalid;
}

bool Socket::bind(Endpoint local) {
  sockaddr_in sa = to_sockaddr(local);
  return valid() && ::bind(raw(s_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool Socket::set_broadcast(bool on) { return valid() && set_opt(s_, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0) == 0; }
bool Socket::set_reuse_address(bool on) { return valid() && set_opt(s_, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0) == 0; }
bool Socket::set_nodelay(bool on) { return valid() && set_opt(s_, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0) == 0; }

bool Socket::set_recv_timeout(uint32_t ms) {
  if (!valid()) return false;
#ifdef _WIN32
  DWORD v = ms;
  return ::setsockopt(raw(s_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v), sizeof v) == 0;
#else
  timeval tv = to_timeval(ms);
  return ::setsockopt(raw(s_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
#endif
}

bool Socket::set_receive_buffer(int bytes) {
  return valid() && ::setsockopt(raw(s_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool Socket::set_nonblocking(bool on) {
  if (!valid()) return false;
#ifdef _WIN32
  u_long mode = on ? 1 : 0;
  return ioctlsocket(raw(s_), FIONBIO, &mode) == 0;
#else
  int flags = fcntl(raw(s_), F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(raw(s_), F_SETFL, flags) == 0;
#endif
}

std::optional<Endpoint> Socket::local_endpoint() const {
  sockaddr_in sa{};
  socklen len = sizeof sa;
  if (!valid() || ::getsockname(raw(s_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return std::nullopt;
  return from_sockaddr(sa);
}

bool Socket::connect(Endpoint remote, uint32_t timeout_ms) {
  if (!valid() || !set_nonblocking(true)) return false;
  sockaddr_in sa = to_sockaddr(remote);
  bool ok = false;
  if (::connect(raw(s_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    ok = true;
  } else if (KS_WOULDBLOCK(last_error()) && wait_one(s_, true, timeout_ms)) {
    int err = 0;
    socklen len = sizeof err;
    ok = ::getsockopt(raw(s_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 && err == 0;
  }
  set_nonblocking(false);
  return ok;
}

bool Socket::listen(int backlog) { return valid() && ::listen(raw(s_), backlog) == 0; }

Socket Socket::accept(uint32_t timeout_ms, Endpoint* peer) {
  if (!wait_one(s_, false, timeout_ms)) return Socket();
  sockaddr_in sa{};
  socklen len = sizeof sa;
  sock_t c = ::accept(raw(s_), reinterpret_cast<sockaddr*>(&sa), &len);
#ifdef _WIN32
  if (c == INVALID_SOCKET) return Socket();
#else
  if (c < 0) return Socket();
#endif
  if (peer) *peer = from_sockaddr(sa);
  return Socket(static_cast<Native>(c));
}

bool Socket::wait_readable(uint32_t timeout_ms) const { return wait_one(s_, false, timeout_ms); }

int Socket::recv(void* buf, size_t cap, uint32_t timeout_ms) {
  if (!valid() || cap == 0) return kSocketError;
  if (!wait_one(s_, false, timeout_ms)) return kSocketTimeout;
  int n = static_cast<int>(::recv(raw(s_), static_cast<char*>(buf), static_cast<int>(cap > 0x7FFFFFFF ? 0x7FFFFFFF : cap), 0));
  if (n < 0) return KS_WOULDBLOCK(last_error()) ? kSocketTimeout : kSocketError;
  return n;
}

int Socket::send(const void* buf, size_t len) {
  if (!valid()) return kSocketError;
#ifdef _WIN32
  int flags = 0;
#else
  int flags = MSG_NOSIGNAL;  // a closed peer gives an error, not SIGPIPE
#endif
  int n = static_cast<int>(::send(raw(s_), static_cast<const char*>(buf), static_cast<int>(len), flags));
  return n < 0 ? kSocketError : n;
}

bool Socket::send_all(const void* buf, size_t len, uint32_t timeout_ms) {
  const char* p = static_cast<const char*>(buf);
  Tick start = tick_now();
  while (len > 0) {
    uint32_t spent = ticks_elapsed(tick_now(), start);
    if (timeout_ms != kInfinite && spent >= timeout_ms) return false;
    if (!wait_one(s_, true, timeout_ms == kInfinite ? kInfinite : timeout_ms - spent)) return false;
    int n = send(p, len);
    if (n < 0 && KS_WOULDBLOCK(last_error())) continue;  // a non-blocking socket that filled again
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

#ifdef _WIN32
// Winsock has no per-call "don't wait": the socket is non-blocking for the one call.
template <class F>
int without_waiting(sock_t s, F&& f) {
  u_long on = 1, off = 0;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return kSocketError;
  int n = f(0);
  int e = WSAGetLastError();
  ioctlsocket(s, FIONBIO, &off);
  if (n >= 0) return n;
  WSASetLastError(e);
  return KS_WOULDBLOCK(e) ? kSocketTimeout : kSocketError;
}
#else
template <class F>
int without_waiting(sock_t, F&& f) {
  int n = f(MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n >= 0) return n;
  return KS_WOULDBLOCK(errno) ? kSocketTimeout : kSocketError;
}
#endif

}  // namespace

int Socket::try_send(const void* buf, size_t len) {
  if (!valid()) return kSocketError;
  if (len == 0) return 0;
  const int n = static_cast<int>(len > 0x7FFFFFFF ? 0x7FFFFFFF : len);
  return without_waiting(raw(s_), [&](int flags) {
    return static_cast<int>(::send(raw(s_), static_cast<const char*>(buf), n, flags));
  });
}

int Socket::try_send_to(const void* buf, size_t len, Endpoint to) {
  if (!valid()) return kSocketError;
  sockaddr_in sa = to_sockaddr(to);
  const int n = static_cast<int>(len > 0xFFFF ? 0xFFFF : len);
  return without_waiting(raw(s_), [&](int flags) {
    return static_cast<int>(::sendto(raw(s_), static_cast<const char*>(buf), n, flags,
                                     reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  });
}

int Socket::send_to(const void* buf, size_t len, Endpoint to) {
  if (!valid()) return kSocketError;
  sockaddr_in sa = to_sockaddr(to);
  int n = static_cast<int>(::sendto(raw(s_), static_cast<const char*>(buf), static_cast<int>(len), 0,
                                    reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  return n < 0 ? kSocketError : n;
}

int Socket::recv_from(void* buf, size_t cap, Endpoint* from, uint32_t timeout_ms) {
  if (!valid() || cap == 0) return kSocketError;
  if (!wait_one(s_, false, timeout_ms)) return kSocketTimeout;
  sockaddr_in sa{};
  socklen slen = sizeof sa;
  int icap = static_cast<int>(cap > 0xFFFF ? 0xFFFF : cap);
#ifdef _WIN32
  int n = ::recvfrom(raw(s_), static_cast<char*>(buf), icap, 0, reinterpret_cast<sockaddr*>(&sa), &slen);
  if (n < 0) {
    int e = WSAGetLastError();
    if (e == WSAEMSGSIZE) {
      if (from) *from = from_sockaddr(sa);
      return kSocketTruncated;
    }
    return KS_WOULDBLOCK(e) || e == WSAETIMEDOUT ? kSocketTimeout : kSocketError;
  }
#else
  // MSG_TRUNC makes the kernel report the datagram's real length, so a cut one is recognised.
  int n = static_cast<int>(::recvfrom(raw(s_), buf, static_cast<size_t>(icap), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&sa), &slen));
  if (n < 0) return KS_WOULDBLOCK(errno) ? kSocketTimeout : kSocketError;
  if (n > icap) {
    if (from) *from = from_sockaddr(sa);
    return kSocketTruncated;
  }
#endif
  if (from) *from = from_sockaddr(sa);
  return n;
}

int select_readable(const Socket::Native* sockets, int n, uint32_t timeout_ms) {
  if (!sockets || n < 1) return -1;
  if (n > 64) n = 64;
#ifdef _WIN32
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
#else
  pollfd p[64];
  int count = 0;
  for (int i = 0; i < n; ++i) {
    if (sockets[i] == Socket::kInvalid) continue;
    bool dup = false;
    for (int j = 0; j < count; ++j) dup = dup || p[j].fd == raw(sockets[i]);
    if (!dup) p[count++] = pollfd{raw(sockets[i]), POLLIN, 0};
  }
  if (count == 0) return -1;
  int timeout = timeout_ms == kInfinite ? -1 : static_cast<int>(timeout_ms > 0x7FFFFFFFu ? 0x7FFFFFFF : timeout_ms);
  int r;
  do {
    r = ::poll(p, static_cast<nfds_t>(count), timeout);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return -1;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < count; ++j)
      if (p[j].fd == raw(sockets[i]) && (p[j].revents & (POLLIN | POLLERR | POLLHUP))) return i;
  return -1;
#endif
}

int select_readable(const Socket* const* sockets, int n, uint32_t timeout_ms) {
  if (!sockets || n < 1) return -1;
  if (n > 64) n = 64;
  Socket::Native raw_list[64];
  for (int i = 0; i < n; ++i) raw_list[i] = sockets[i] ? sockets[i]->native() : Socket::kInvalid;
  return select_readable(raw_list, n, timeout_ms);
}

}  // namespace ks
