// A TCP connect that can be given up between short waits, so a stop never sits behind a
// connect to a desk that does not answer.
#pragma once

#include <cstdint>

#include "os/socket.h"

namespace ks {

enum class ConnectState { kConnected, kPending, kFailed };

// Starts a non-blocking connect. *error is the system error when kFailed.
ConnectState connect_begin(Socket& s, Endpoint to, int* error);
// Waits up to `ms` for the started connect. kConnected leaves the socket blocking again;
// kFailed sets *error (SO_ERROR, or the wait's own error).
ConnectState connect_poll(Socket& s, uint32_t ms, int* error);

}  // namespace ks
