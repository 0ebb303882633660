// What Socket does on top of the system calls, the same on every platform.
#include "os/socket.h"

#include "os/clock.h"
#include "os/socket_wait.h"

namespace ks {

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

bool Socket::connect(Endpoint remote, uint32_t timeout_ms) {
  int error = 0;
  ConnectState st = connect_begin(remote, &error);
  if (st == ConnectState::kPending) st = connect_poll(timeout_ms, &error);
  if (st == ConnectState::kPending) set_nonblocking(false);
  return st == ConnectState::kConnected;
}

bool Socket::wait_readable(uint32_t timeout_ms) const {
  return detail::wait_socket(s_, false, timeout_ms);
}

bool Socket::send_all(const void* buf, size_t len, uint32_t timeout_ms) {
  const char* p = static_cast<const char*>(buf);
  Tick start = tick_now();
  while (len > 0) {
    uint32_t spent = ticks_elapsed(tick_now(), start);
    if (timeout_ms != kInfinite && spent >= timeout_ms) return false;
    if (!detail::wait_socket(s_, true, timeout_ms == kInfinite ? kInfinite : timeout_ms - spent))
      return false;
    int n = send(p, len);
    if (n < 0 && detail::would_block(last_error()))
      continue;  // a non-blocking socket that filled again
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

int select_readable(const Socket* const* sockets, int n, uint32_t timeout_ms) {
  if (!sockets || n < 1) return -1;
  if (n > 64) n = 64;
  Socket::Native raw_list[64];
  for (int i = 0; i < n; ++i) raw_list[i] = sockets[i] ? sockets[i]->native() : Socket::kInvalid;
  return select_readable(raw_list, n, timeout_ms);
}

}  // namespace ks
