#include "desk/wing/wing_connect.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace ks {

ConnectState connect_begin(Socket& s, Endpoint to, int* error) {
  *error = 0;
  if (!s.valid() || !s.set_nonblocking(true)) {
    *error = WSAGetLastError();
    return ConnectState::kFailed;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(to.port);
  sa.sin_addr.s_addr = htonl(to.addr);
  SOCKET h = SOCKET(s.native());
  if (::connect(h, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    s.set_nonblocking(false);
    return ConnectState::kConnected;
  }
  int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK || e == WSAEINPROGRESS) return ConnectState::kPending;
  *error = e;
  return ConnectState::kFailed;
}

ConnectState connect_poll(Socket& s, uint32_t ms, int* error) {
  *error = 0;
  SOCKET h = SOCKET(s.native());
  fd_set wr, ex;
  FD_ZERO(&wr);
  FD_ZERO(&ex);
  FD_SET(h, &wr);
  FD_SET(h, &ex);  // Winsock reports a failed connect here, not as writable
  timeval tv{long(ms / 1000), long((ms % 1000) * 1000)};
  int r = ::select(0, nullptr, &wr, &ex, &tv);
  if (r == 0) return ConnectState::kPending;
  if (r == SOCKET_ERROR) {
    *error = WSAGetLastError();
    return ConnectState::kFailed;
  }
  int so = 0;
  int len = sizeof so;
  if (getsockopt(h, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so), &len) != 0)
    so = WSAGetLastError();
  if (FD_ISSET(h, &ex) && so == 0) so = WSAECONNREFUSED;
  if (so != 0) {
    *error = so;
    return ConnectState::kFailed;
  }
  s.set_nonblocking(false);
  return ConnectState::kConnected;
}

}  // namespace ks
