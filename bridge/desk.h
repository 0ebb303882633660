// The framework's side of the desk driver: the driver record the module hands over, taking a
// desk and dropping it, the desk identity that the watcher and re-finding share, and small guards
// for calls into the driver.
#pragma once

#include <cstdint>

#include "shared/desk_driver.h"

namespace ks {

// The module's desk driver, handed over at the module's entry (tests hand theirs): the static
// record, and its count of refused control connections (null: the desk refuses none). Before
// any is handed, desk_driver() is null.
void use_desk_driver(const DeskDriver* driver, uint32_t (*control_refusals)());
// The handed record; the same pointer on every call until another is handed. Any thread.
const DeskDriver* desk_driver();
// Refused control connections so far (WING: consecutive failed control connects; X32/M32: 0).
uint32_t control_refusals();

// The desk as the framework knows it (copied under a lock; any thread).
struct DeskIdentity {
  char ip[64];
  char id[40];
  char name[40];  // display name: the answer's name, else its id, else its ip
};
DeskIdentity desk_identity();

// Takes the answer as the desk: identity, log line, then meters_start, the event callback and,
// last, connect.
void use_desk(const DeskAnswer& answer);
// Clears the event callback, disconnects and stops the meters (each waits for the driver's
// threads). Returns true when no driver thread got stuck during the drop.
bool drop_desk();

// True when the driver's link_alive says the desk answers.
bool desk_link_alive();

// Calls that fill a caller's text buffer: the result is forced to end within the buffer.
bool desk_read_source(const char* slot, uint32_t n, char bank_out[8], uint32_t* input);
bool desk_read_name(const char* bank, int32_t n, char* out, int32_t len);

// Back to the state at load (tests).
void desk_reset();

}  // namespace ks
