#include "desk/x32/x32_socket_options.h"

#include <winsock2.h>

namespace ks {

bool x32_set_receive_buffer(Socket::Native s, int bytes) {
  return setsockopt(SOCKET(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool x32_set_send_timeout(Socket::Native s, uint32_t ms) {
  DWORD v = ms;
  return setsockopt(SOCKET(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

}  // namespace ks
