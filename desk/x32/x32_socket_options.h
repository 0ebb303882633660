// Socket options the link sets that the os layer does not offer.
#pragma once

#include "os/socket.h"

namespace ks {

bool x32_set_receive_buffer(Socket::Native s, int bytes);
// A send that cannot go out within ms fails instead of holding a caller (LV1's thread) forever.
bool x32_set_send_timeout(Socket::Native s, uint32_t ms);

}  // namespace ks
