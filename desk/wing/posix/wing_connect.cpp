#include "desk/wing/wing_connect.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace ks {

ConnectState connect_begin(Socket& s, Endpoint to, int* error) {
  *error = 0;
  if (!s.valid() || !s.set_nonblocking(true)) {
    *error = errno;
    return ConnectState::kFailed;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(to.port);
  sa.sin_addr.s_addr = htonl(to.addr);
  int fd = int(s.native());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    s.set_nonblocking(false);
    return ConnectState::kConnected;
  }
  if (errno == EINPROGRESS) return ConnectState::kPending;
  *error = errno;
  return ConnectState::kFailed;
}

ConnectState connect_poll(Socket& s, uint32_t ms, int* error) {
  *error = 0;
  pollfd p{int(s.native()), POLLOUT, 0};
  int r = ::poll(&p, 1, int(ms));
  if (r == 0) return ConnectState::kPending;
  if (r < 0) {
    if (errno == EINTR) return ConnectState::kPending;
    *error = errno;
    return ConnectState::kFailed;
  }
  int so = 0;
  socklen_t len = sizeof so;
  if (getsockopt(int(s.native()), SOL_SOCKET, SO_ERROR, &so, &len) != 0) so = errno;
  if (so != 0) {
    *error = so;
    return ConnectState::kFailed;
  }
  s.set_nonblocking(false);
  return ConnectState::kConnected;
}

}  // namespace ks
