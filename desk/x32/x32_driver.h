// The X32/M32 desk driver's slots on top of the OSC link: head-amp reads and writes, the card
// patch, head-amp types, the desk's head-amp link, AES50 status, pushes, and discovery.
#pragma once

#include <cstdint>

#include "desk/x32/osc.h"
#include "os/socket.h"
#include "shared/desk_driver.h"

namespace ks {

bool x32_read_gain(const char* bank, int32_t n, double* db);
bool x32_read_phantom(const char* bank, int32_t n, uint8_t* on);
bool x32_read_preamp(const char* bank, int32_t n, double* db, uint8_t* phantom,
                     uint8_t* gain_valid);
bool x32_send_gain(const char* bank, int32_t n, double db);
bool x32_send_phantom(const char* bank, int32_t n, uint8_t on);
bool x32_read_source(const char* slot, uint32_t n, char* bank_out, uint32_t bank_len,
                     uint32_t* n_out);
bool x32_headamp_type(const char* bank, int32_t n, uint32_t* type);
int32_t x32_ha_link_partner(const char* bank, int32_t n, char* bank_out, int32_t len,
                            int32_t* n_out);
int32_t x32_aes50_port_present(const char* port);

void x32_adopt(const DeskAnswer* answer);
const char* x32_identity();  // null before a desk was adopted

// Discovery. With ip, asks that address only; without, every target and every adapter's
// broadcast. Writes at most max (and at most 8) answers.
int32_t x32_discover(const char* ip, DeskAnswer* out, int32_t max, uint32_t wait_ms);

// One datagram received from sender_ip during discovery, as an answer: an "/xinfo" with at least
// three strings. Fills ip, name, model and identity (control characters in the desk's texts
// become '?'), id "name:" + name (discovery replaces it with the MAC when ARP gives one) and card
// -1. False, out untouched, for anything else.
bool x32_parse_xinfo(const uint8_t* data, size_t n, const char* sender_ip, DeskAnswer* out);

// What discovery asks when no address is given; a null slot uses the framework's network
// utilities. Tests hand in their own lists so that a sweep stays on loopback.
struct X32DiscoveryNet {
  int32_t (*targets)(uint32_t* out, int32_t max) = nullptr;          // host-order addresses
  int32_t (*broadcast_sockets)(Socket* out, int32_t max) = nullptr;  // bound, broadcast on
};
void x32_set_discovery_net(const X32DiscoveryNet& net);

}  // namespace ks
