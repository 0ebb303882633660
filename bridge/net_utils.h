// IPv4/UDP helpers both desk drivers use to find consoles and ask them one-shot questions: the
// addresses to ask, one broadcast socket per local address, a wait over several sockets, the
// little OSC the drivers need, and a send-and-wait-once exchange.
//
// Addresses here are u32 in network byte order, as they travel (the os layer's are host order).
#pragma once

#include <cstdint>
#include <vector>

#include "os/adapters.h"
#include "os/socket.h"

namespace ks {

constexpr int kMaxWaitSockets = 64;

// Network <-> host byte order, whatever the host is.
uint32_t ipv4_to_net(uint32_t host_order);
uint32_t ipv4_from_net(uint32_t net_order);
// Dotted text to network order; false when it is not a dotted IPv4 address.
bool ipv4_parse_net(const char* text, uint32_t* out);

// The addresses a general search asks, in order: 255.255.255.255; `hint` when it parses; `ip`
// when it parses and differs from `hint`; then each address of every adapter that is up with a
// prefix below 31 gives its directed broadcast. Each target is listed once. Stops at max.
int discovery_targets_for(const char* hint, const char* ip,
                          const std::vector<Ipv4Adapter>& adapters, uint32_t* out, int max);
// The same with the module's settings and this machine's adapters.
int discovery_targets(uint32_t* out, int max);

// A UDP socket with SO_BROADCAST, bound to port 0 of each address of every adapter that is up
// and not loopback. Sockets that cannot be bound are left out. Returns the count (at most max);
// the bound addresses are written when asked.
int open_broadcast_sockets_for(const std::vector<Ipv4Adapter>& adapters, Socket* out,
                               uint32_t* bound_addresses, int max);
int open_broadcast_sockets(Socket* out, uint32_t* bound_addresses, int max);

// True when the address equals the `hint` or the `ip` setting (each only when it parses).
bool is_configured_address_for(const char* hint, const char* ip, const uint32_t* address);

// Waits with select over the distinct sockets among the first n (at most 64) for at most
// timeout_ms: the index in the caller's list of the first readable one, or -1 on time-out,
// error or n < 1.
int wait_sockets_readable(const Socket::Native* sockets, int n, uint32_t timeout_ms);
int wait_sockets_readable(const Socket* sockets, int n, uint32_t timeout_ms);

// Writes the address NUL-padded to the next multiple of 4 (at least one NUL), then the ","
// that opens the type tag. Returns the padded length (the "," sits at out[padded]), or 0 when
// that does not fit in cap.
int osc_put_address(uint8_t* out, int cap, const char* address, int len);

// The first argument of an OSC message: 's' with the string copied into text (bounded,
// NUL-terminated), 'i' or 'f' with the 32-bit big-endian word in value; 0 for anything else,
// for a malformed message or for data too short.
uint8_t osc_first_arg(const uint8_t* msg, int len, char* text, int text_len, uint32_t* value);

// Sends data to ip:port from a fresh UDP socket and waits up to timeout_ms (SO_RCVTIMEO) for one
// datagram, of which at most cap - 1 bytes are kept. Returns the length kept, 0 on any failure;
// reply is always NUL-terminated when cap >= 1. Null ip, null reply or cap below 2 give 0.
int udp_ask(const char* ip, uint16_t port, const uint8_t* data, int len, uint8_t* reply, int cap,
            uint32_t timeout_ms);

}  // namespace ks
