// Between the portable and the platform halves of Socket: the waits and error tests the portable
// half builds on.
#pragma once

#include <cstdint>

#include "os/socket.h"

namespace ks::detail {

// Waits up to `ms` (kInfinite: forever) until the socket is readable, or writable (then a failed
// connect counts too). False on time-out, error or an invalid socket.
bool wait_socket(Socket::Native s, bool write, uint32_t ms);
// The system error means "would have had to wait" (a non-blocking call, a connect under way).
bool would_block(int error);

}  // namespace ks::detail
