// The OSC link to one X32/M32 (one per process): a UDP socket, a receive thread that completes
// the one query in flight and hands everything else on as a push, and a poll thread that keeps
// "/xremote" alive, polls the AES50 status, and asks the framework to reseed or re-read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "desk/x32/osc.h"
#include "os/clock.h"
#include "shared/desk_driver.h"

namespace ks {

constexpr uint16_t kX32Port = 10023;
constexpr uint32_t kX32QueryMs = 300;
constexpr uint32_t kX32CardQueryMs = 500;
constexpr uint32_t kX32AliveMs = 15000;
constexpr uint32_t kX32ThreadWaitMs = 2000;

bool x32_connect(const char* ip);
void x32_disconnect();
bool x32_link_alive();
bool x32_linked();
// Asks for one value and waits up to timeout_ms for the reply at the same address. One query is
// in flight at a time; callers queue on the query lock.
bool x32_query(const char* address, OscMessage* reply, uint32_t timeout_ms);
// Sends one datagram to the desk; true when all of it went out (then counted as sent).
bool x32_send(const uint8_t* data, size_t len);
// The same from a thread that must never wait (LV1's): false at once, nothing sent, while the
// socket is being opened or closed or when it takes nothing now. The caller defers the value.
bool x32_try_send(const uint8_t* data, size_t len);

uint32_t x32_sent_count();
uint32_t x32_received_count();
uint32_t x32_event_count();
uint32_t x32_dropped_count();         // datagrams from the desk that did not parse
uint32_t x32_foreign_count();         // datagrams from anyone but the desk
uint32_t x32_late_replies_dropped();  // replies after their query gave up, not taken as pushes

void x32_set_event_callback(EventFn fn);
// Calls the event callback, if any; after set_event_callback(null) returns, none is running.
void x32_emit(const char* bank, int32_t n, const char* kind, double value, uint8_t flag);
void x32_count_event();

void x32_note_local_write();  // a gain was written: reseed once the desk has settled
void x32_set_ha_link_dirty();
bool x32_ha_link_dirty();
bool x32_take_ha_link_dirty();  // true once per dirty mark

// Time source of the link's timers and of link_alive (tests may hand in another clock).
void x32_set_clock(Clock* clock);
Clock& x32_clock();

// Supplied by the driver (x32_driver.cpp), called on the link's threads.
void x32_on_push(const OscMessage& msg);  // receive thread
void x32_read_ha_link();                  // poll thread, when dirty
void x32_log_facts();                     // poll thread, once per connection
void x32_forget_patch();                  // poll thread, at the end of a burst
void x32_reset_connection_state();        // at connect

}  // namespace ks
