#include "desk/x32/x32_socket_options.h"

#include <sys/socket.h>
#include <sys/time.h>

namespace ks {

bool x32_set_receive_buffer(Socket::Native s, int bytes) {
  return setsockopt(int(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool x32_set_send_timeout(Socket::Native s, uint32_t ms) {
  timeval tv{time_t(ms / 1000), suseconds_t((ms % 1000) * 1000)};
  return setsockopt(int(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

}  // namespace ks
