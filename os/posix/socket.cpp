// Sockets natively: BSD sockets, poll for the waits.
#include "os/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "os/clock.h"
#include "os/socket_wait.h"

namespace ks {

namespace detail {

bool would_block(int e) { return e == EINPROGRESS || e == EWOULDBLOCK || e == EAGAIN; }

namespace {
int poll_timeout(uint32_t ms) {
  return ms == kInfinite ? -1 : static_cast<int>(ms > 0x7FFFFFFFu ? 0x7FFFFFFF : ms);
}
}  // namespace

// poll, not select: an fd_set cannot hold descriptors >= FD_SETSIZE.
bool wait_socket(Socket::Native s, bool write, uint32_t ms) {
  if (s == Socket::kInvalid) return false;
  pollfd p{static_cast<int>(s), static_cast<short>(write ? POLLOUT : POLLIN), 0};
  int n;
  do {
    n = ::poll(&p, 1, poll_timeout(ms));
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

}  // namespace detail

namespace {

int fd(Socket::Native s) { return static_cast<int>(s); }

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

timeval to_timeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return tv;
}

int set_opt(Socket::Native s, int level, int name, int value) {
  return ::setsockopt(fd(s), level, name, &value, sizeof value);
}

Socket::Native make(int type, int proto) {
  int s = ::socket(AF_INET, type, proto);
  if (s < 0) return Socket::kInvalid;
  fcntl(s, F_SETFD, FD_CLOEXEC);
  return static_cast<Socket::Native>(s);
}

// MSG_NOSIGNAL: a closed peer gives an error, not SIGPIPE.
template <class F>
int without_waiting(F&& f) {
  int n = f(MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n >= 0) return n;
  return detail::would_block(errno) ? kSocketTimeout : kSocketError;
}

}  // namespace

bool net_startup() { return true; }

int Socket::last_error() { return errno; }

Socket Socket::udp() { return Socket(make(SOCK_DGRAM, IPPROTO_UDP)); }
Socket Socket::tcp() { return Socket(make(SOCK_STREAM, IPPROTO_TCP)); }

void Socket::close() {
  if (s_ != kInvalid) ::close(fd(s_));
  s_ = kInvalid;
}

bool Socket::bind(Endpoint local) {
  sockaddr_in sa = to_sockaddr(local);
  return valid() && ::bind(fd(s_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
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
  timeval tv = to_timeval(ms);
  return valid() && ::setsockopt(fd(s_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool Socket::set_send_timeout(uint32_t ms) {
  timeval tv = to_timeval(ms);
  return valid() && ::setsockopt(fd(s_), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool Socket::set_nonblocking(bool on) {
  if (!valid()) return false;
  int flags = fcntl(fd(s_), F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd(s_), F_SETFL, flags) == 0;
}

std::optional<Endpoint> Socket::local_endpoint() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (!valid() || ::getsockname(fd(s_), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return std::nullopt;
  return from_sockaddr(sa);
}

ConnectState Socket::connect_begin(Endpoint remote, int* error) {
  *error = 0;
  if (!valid() || !set_nonblocking(true)) {
    *error = errno;
    return ConnectState::kFailed;
  }
  sockaddr_in sa = to_sockaddr(remote);
  if (::connect(fd(s_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    set_nonblocking(false);
    return ConnectState::kConnected;
  }
  if (detail::would_block(errno)) return ConnectState::kPending;
  *error = errno;
  set_nonblocking(false);
  return ConnectState::kFailed;
}

ConnectState Socket::connect_poll(uint32_t ms, int* error) {
  *error = 0;
  if (!valid()) {
    *error = EBADF;
    return ConnectState::kFailed;
  }
  pollfd p{fd(s_), POLLOUT, 0};
  int r = ::poll(&p, 1, detail::poll_timeout(ms));
  if (r == 0 || (r < 0 && errno == EINTR)) return ConnectState::kPending;
  int so = 0;
  if (r < 0) {
    so = errno;
  } else {
    socklen_t len = sizeof so;
    if (::getsockopt(fd(s_), SOL_SOCKET, SO_ERROR, &so, &len) != 0) so = errno;
  }
  set_nonblocking(false);
  *error = so;
  return so == 0 ? ConnectState::kConnected : ConnectState::kFailed;
}

bool Socket::listen(int backlog) { return valid() && ::listen(fd(s_), backlog) == 0; }

Socket Socket::accept(uint32_t timeout_ms, Endpoint* peer) {
  if (!detail::wait_socket(s_, false, timeout_ms)) return Socket();
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int c = ::accept(fd(s_), reinterpret_cast<sockaddr*>(&sa), &len);
  if (c < 0) return Socket();
  if (peer) *peer = from_sockaddr(sa);
  return Socket(static_cast<Native>(c));
}

int Socket::recv(void* buf, size_t cap, uint32_t timeout_ms) {
  if (!valid() || cap == 0) return kSocketError;
  if (!detail::wait_socket(s_, false, timeout_ms)) return kSocketTimeout;
  int n = static_cast<int>(::recv(fd(s_), buf, cap > 0x7FFFFFFF ? 0x7FFFFFFF : cap, 0));
  if (n < 0) return detail::would_block(errno) ? kSocketTimeout : kSocketError;
  return n;
}

int Socket::send(const void* buf, size_t len) {
  if (!valid()) return kSocketError;
  int n = static_cast<int>(::send(fd(s_), buf, len, MSG_NOSIGNAL));
  return n < 0 ? kSocketError : n;
}

int Socket::try_send(const void* buf, size_t len) {
  if (!valid()) return kSocketError;
  if (len == 0) return 0;
  const size_t n = len > 0x7FFFFFFF ? 0x7FFFFFFF : len;
  return without_waiting(
      [&](int flags) { return static_cast<int>(::send(fd(s_), buf, n, flags)); });
}

int Socket::try_send_to(const void* buf, size_t len, Endpoint to) {
  if (!valid()) return kSocketError;
  sockaddr_in sa = to_sockaddr(to);
  const size_t n = len > 0xFFFF ? 0xFFFF : len;
  return without_waiting([&](int flags) {
    return static_cast<int>(
        ::sendto(fd(s_), buf, n, flags, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  });
}

int Socket::send_to(const void* buf, size_t len, Endpoint to) {
  if (!valid()) return kSocketError;
  sockaddr_in sa = to_sockaddr(to);
  int n =
      static_cast<int>(::sendto(fd(s_), buf, len, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  return n < 0 ? kSocketError : n;
}

int Socket::recv_from(void* buf, size_t cap, Endpoint* from, uint32_t timeout_ms) {
  if (!valid() || cap == 0) return kSocketError;
  if (!detail::wait_socket(s_, false, timeout_ms)) return kSocketTimeout;
  sockaddr_in sa{};
  socklen_t slen = sizeof sa;
  int icap = static_cast<int>(cap > 0xFFFF ? 0xFFFF : cap);
  // MSG_TRUNC makes the kernel report the datagram's real length, so a cut one is recognised.
  int n = static_cast<int>(::recvfrom(fd(s_), buf, static_cast<size_t>(icap), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&sa), &slen));
  if (n < 0) return detail::would_block(errno) ? kSocketTimeout : kSocketError;
  if (from) *from = from_sockaddr(sa);
  return n > icap ? kSocketTruncated : n;
}

int select_readable(const Socket::Native* sockets, int n, uint32_t timeout_ms) {
  if (!sockets || n < 1) return -1;
  if (n > 64) n = 64;
  pollfd p[64];
  int count = 0;
  for (int i = 0; i < n; ++i) {
    if (sockets[i] == Socket::kInvalid) continue;
    bool dup = false;
    for (int j = 0; j < count; ++j) dup = dup || p[j].fd == fd(sockets[i]);
    if (!dup) p[count++] = pollfd{fd(sockets[i]), POLLIN, 0};
  }
  if (count == 0) return -1;
  int r;
  do {
    r = ::poll(p, static_cast<nfds_t>(count), detail::poll_timeout(timeout_ms));
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return -1;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < count; ++j)
      if (p[j].fd == fd(sockets[i]) && (p[j].revents & (POLLIN | POLLERR | POLLHUP))) return i;
  return -1;
}

}  // namespace ks
