// The tray program's own search for consoles: "WING?" on UDP 2222 and "/xinfo" on UDP 10023,
// sent to the broadcast addresses of this machine's subnets, answered by the desks' identity
// lines. One record per console type feeds the pages, and the address found is saved as the
// `hint` of that console's settings file so the module finds the desk sooner. A console module
// that is linked already publishes its desk line in its status block; that line is used instead.
//
// Only the local subnets are asked: the limited broadcast 255.255.255.255, the directed
// broadcast of each up adapter's subnet, and the limited broadcast out of each local address.
// Loopback, point-to-point and tunnel adapters are never asked (a broadcast down a tunnel
// reaches another site). Tests hand in their own targets and ports through DiscoveryEnv::net.
//
// Replies are bounded by their received length; a reply that is too short, oversized, from
// another port or from outside the asked subnets, or not an identity line is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/clock.h"
#include "os/socket.h"

namespace ks::tray {

class FileSystem;

inline constexpr uint16_t kWingDiscoveryPort = 2222;
inline constexpr uint16_t kX32DiscoveryPort = 10023;
inline constexpr uint32_t kDiscoveryRoundMs = 400;
inline constexpr int kWingRounds = 3;
inline constexpr int kX32Rounds = 2;
inline constexpr size_t kMaxDiscoveryTargets = 16;
inline constexpr size_t kMaxBroadcastSockets = 16;
inline constexpr size_t kDiscoveryLineMax = 159;    // UTF-16 units, as the pages keep it
inline constexpr size_t kDiscoveryFieldMax = 63;    // UTF-16 units of the ip and the model
inline constexpr size_t kDiscoveryReplyCap = 2048;  // a larger datagram is dropped unread

// The questions as they go on the wire.
inline constexpr char kWingQuestion[] = "WING?";  // 5 bytes, no NUL
inline constexpr uint8_t kXinfoQuestion[12] = {'/', 'x', 'i', 'n', 'f', 'o', 0, 0, ',', 0, 0, 0};

// One console's identity: the line ("WING,ip,name,model,serial,firmware" or
// "X32,ip,name,model,version"), and its ip and model fields. UTF-8.
struct DiscoveryRecord {
  bool found = false;
  std::string line;
  std::string ip;
  std::string model;
};

// ---- replies ----------------------------------------------------------------------------------

// Text of a reply as the pages keep it: up to the first NUL or n, control bytes and invalid
// UTF-8 as U+FFFD, at most kDiscoveryLineMax UTF-16 units (a pair is never split).
std::string reply_text(const uint8_t* data, size_t n, size_t max_units = kDiscoveryLineMax);

// A WING's answer: more than 5 bytes holding "WING,"; the line is the text from there on.
bool parse_wing_reply(const uint8_t* data, size_t n, std::string* line);

// An X32/M32's answer: at least 16 bytes, the OSC address exactly "/xinfo", then up to four
// string arguments (ip, name, model, version) as the type tag announces them; a missing or
// unterminated one is empty, but the ip must be there. The line is "X32,ip,name,model,version".
bool parse_x32_reply(const uint8_t* data, size_t n, std::string* line);

// Field `index` (0-based) of a comma-separated line, at most kDiscoveryFieldMax UTF-16 units.
std::string line_field(std::string_view line, size_t index);

// ---- where to ask -----------------------------------------------------------------------------

// An adapter as the system lists it. IPv6 addresses are listed (ipv4 false) and never used.
struct NetAdapter {
  enum class Kind { ethernet, loopback, point_to_point };  // ethernet: any broadcast-capable LAN
  struct Address {
    bool ipv4 = true;
    uint32_t addr = 0;   // host byte order
    uint8_t prefix = 0;  // 0-32
  };
  std::string name;  // UTF-8, for the log
  bool up = false;
  Kind kind = Kind::ethernet;
  std::vector<Address> addresses;
};

// The machine's adapters (GetAdaptersAddresses on Windows, getifaddrs natively).
std::vector<NetAdapter> system_net_adapters();

// An address asked, with the subnet its answers may come from (mask 0: from anywhere on the
// link, which is what the limited broadcast reaches; all ones: only that host).
struct DiscoveryTarget {
  uint32_t addr = 0;
  uint32_t mask = 0;
  bool operator==(const DiscoveryTarget&) const = default;
};

uint32_t mask_of_prefix(uint8_t prefix);

// 255.255.255.255, then the directed broadcast (address OR NOT mask) of every IPv4 address
// with a prefix of 1 to 30 bits on an up ethernet adapter; each once, at most max.
size_t broadcast_targets(const std::vector<NetAdapter>& adapters, DiscoveryTarget* out,
                         size_t max = kMaxDiscoveryTargets);

// The local addresses a broadcast socket is bound to: every IPv4 address of an up ethernet
// adapter (not 0.0.0.0, not 127/8), each once, at most max.
size_t broadcast_bind_addresses(const std::vector<NetAdapter>& adapters, uint32_t* out,
                                size_t max = kMaxBroadcastSockets);

// Everything a search sends to, and how long it waits.
struct DiscoveryNet {
  std::vector<DiscoveryTarget> targets;  // asked from the main socket
  std::vector<uint32_t> broadcast_from;  // one socket each, asking 255.255.255.255
  uint16_t wing_port = kWingDiscoveryPort;
  uint16_t x32_port = kX32DiscoveryPort;
  uint32_t round_ms = kDiscoveryRoundMs;
};

// The search of the live program, from the adapter list.
DiscoveryNet live_discovery_net(const std::vector<NetAdapter>& adapters);

// True when an answer from `from` may come from what was asked on `port`.
bool answer_source_ok(const DiscoveryNet& net, uint16_t port, Endpoint from);

// ---- the sockets --------------------------------------------------------------------------------

// The sockets of one search. The real one is in discovery_sockets.cpp; tests bring their own.
class DiscoveryIo {
public:
  virtual ~DiscoveryIo() = default;
  // The main socket (SO_BROADCAST, bound to any address, port 0) and one broadcast socket per
  // address that can be bound; false when the main socket cannot be had.
  virtual bool open(const std::vector<uint32_t>& broadcast_from) = 0;
  // Sends from the main socket; false when it was not sent whole.
  virtual bool send_main(Endpoint to, const uint8_t* data, size_t n) = 0;
  // Sends from every broadcast socket; how many sent it whole.
  virtual int send_from_each(Endpoint to, const uint8_t* data, size_t n) = 0;
  // Waits up to ms on all sockets together for one datagram: its length, or kSocketTimeout,
  // kSocketTruncated (larger than cap: dropped), kSocketError.
  virtual int receive(uint8_t* buf, size_t cap, Endpoint* from, uint32_t ms) = 0;
  virtual void close() = 0;
};

std::unique_ptr<DiscoveryIo> make_socket_discovery_io();

// ---- the search ---------------------------------------------------------------------------------

enum class DeskKind { wing, x32 };

// Up to the kind's rounds: ask, then wait round_ms on all sockets for an answer; the first
// answer ends it. The line, or false when nothing answered (or no socket could be opened).
bool discover_desk(DeskKind kind, const DiscoveryNet& net, DiscoveryIo& io, Clock& clock,
                   std::string* line, const std::function<void(const std::string&)>& log = {});

// What the search is bound to. Production leaves the seams empty; tests fill them.
struct DiscoveryEnv {
  std::function<DiscoveryNet()> net;  // null: live_discovery_net(system adapters)
  std::function<std::unique_ptr<DiscoveryIo>()> make_io;  // null: the real sockets
  Clock* clock = nullptr;                                 // null: the system clock
  // A console module's published desk line; suffix "" is the WING module's, "-x32" the X32's.
  std::function<bool(std::string_view suffix, std::string* line)> desk_line;
  std::function<std::string()> install_dir;     // "" when not installed
  FileSystem* fs = nullptr;                     // null: the real one
  std::function<void(const std::string&)> log;  // null: the tray log
};

class StatusLink;

// DiscoveryEnv::desk_line bound to the tray's status link (which must outlive the search).
std::function<bool(std::string_view suffix, std::string* line)> desk_lines_of(
    const StatusLink& link);

class ConsoleDiscovery {
public:
  explicit ConsoleDiscovery(DiscoveryEnv env = {});

  // Stores the line in the current record with its ip (field 1) and model (field 3).
  void take_discovery_line(std::string_view line);
  // One search each; the answer lands in the current record. False when nothing answered.
  bool discover_wing();
  bool discover_x32();
  // Status-block lines first, then the network for a console type still missing, then a hint
  // for each found console (WING, then X32).
  void discover_consoles();
  // `hint` = the current record's ip in the found console's settings file, when the system is
  // installed (the install folder holds Kestrune.dll) and the ip is a host's IPv4 address.
  // True when the file holds it afterwards.
  bool save_console_hint();

  const DiscoveryRecord& current() const { return current_; }
  const DiscoveryRecord& wing() const { return wing_; }
  const DiscoveryRecord& x32() const { return x32_; }
  void set_current(const DiscoveryRecord& r) { current_ = r; }

private:
  bool discover(DeskKind kind);
  void log(const std::string& line) const;

  DiscoveryEnv env_;
  DiscoveryRecord current_, wing_, x32_;
};

}  // namespace ks::tray
