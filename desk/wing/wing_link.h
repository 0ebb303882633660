// The WING control link: one TCP connection to port 2222 of the desk, kept up by a connect /
// keep-alive thread, read by a receive thread, with one request in flight at a time. State is
// module-global: one link per process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "desk/wing/wing_codec.h"

namespace ks {

class Clock;

constexpr uint16_t kWingControlPort = 2222;

// Called on the connect thread after 4 s without a send; false drops the connection.
using KeepAliveFn = bool (*)();
// A value the desk pushed for a learned node; called on the receive thread, must not block and
// must not issue a request.
using LinkPushFn = void (*)(const char* bank, int32_t index, const char* leaf, double value,
                            uint8_t flag);

// Starts both threads for the desk at `ip` (dotted IPv4). True at once when already running;
// false for an empty address, or while threads of an earlier stop are still running.
bool link_start(const char* ip, KeepAliveFn keep_alive);
// Ends both threads (2000 ms each; one that does not end is counted as stuck) and closes.
void link_stop();

// A write: sends the frame when connected. Never waits longer than the send time-out.
bool link_send_frame(const NodeFrame& frame);
// A write from a thread that must never wait (LV1's): false at once, with nothing sent, when
// another thread holds the socket or the socket takes nothing now. The caller defers the value.
bool link_try_send_frame(const NodeFrame& frame);
// A read: sends the frame and waits up to `timeout_ms` for the reply the parser assigns to it.
// `out` receives at most `capacity` bytes of the reply (node item, block, or the node items of a
// multi-part reply).
bool link_request(const NodeFrame& frame, bool block_reply, uint32_t expected_hash, uint8_t* out,
                  uint32_t capacity, uint32_t* out_length, uint32_t timeout_ms, bool multi_part);

bool link_alive();
uint32_t link_failed_connects();
uint32_t link_sent_count();
uint32_t link_received_count();
uint32_t link_event_count();
// Replies that came after their request gave up and were dropped rather than taken as pushes.
uint32_t link_late_replies_dropped();

// Installs (null: clears) the push callback. When it returns, no call of the old one is running.
void link_set_push_callback(LinkPushFn fn);

// Hands one node value to the push path as if the desk had pushed it (a whole-node read meets
// values of other nodes). Runs the push callback on the calling thread.
void link_deliver_push(uint32_t hash, const uint8_t* value, size_t len);

// Protocol errors the receive side recovered from, by kind.
struct LinkRxErrors {
  uint32_t unknown_tokens, empty_blocks, oversize, resyncs;
};
LinkRxErrors link_rx_errors();

// Clock for the link's ticks and waits (tests); null restores the system clock. Set it only
// while the link is stopped.
void link_set_clock(Clock* clock);

}  // namespace ks
