#include "tray/services/discovery.h"

#include <algorithm>
#include <cstring>

#include "bridge/text.h"
#include "tray/services/console_table.h"
#include "tray/services/fs_ops.h"
#include "tray/services/settings_file.h"
#include "tray/services/status_link.h"
#include "tray/services/text_utils.h"
#include "tray/services/tray_log.h"

namespace ks::tray {

namespace {

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
constexpr int kIgnoredLoggedPerSearch = 4;

bool is_loopback(uint32_t a) { return (a >> 24) == 127; }
bool is_multicast_or_reserved(uint32_t a) { return a >= 0xE0000000u; }

// The pages keep UTF-16 units; cut there, never inside a pair.
std::string cut_units(std::string_view utf8, size_t max_units) {
  std::u16string w = from_utf8(utf8);
  if (w.size() > max_units) {
    size_t n = max_units;
    if (n > 0 && w[n - 1] >= 0xD800 && w[n - 1] <= 0xDBFF) --n;
    w.resize(n);
  }
  return to_utf8(w);
}

}  // namespace

// ---- replies ----------------------------------------------------------------------------------

std::string reply_text(const uint8_t* data, size_t n, size_t max_units) {
  if (!data) return {};
  const size_t len = bounded_len(reinterpret_cast<const char*>(data), n);
  std::string clean;
  clean.reserve(len);
  for (size_t i = 0; i < len; ++i) {
    const char c = static_cast<char>(data[i]);
    if (data[i] < 0x20 || data[i] == 0x7F)
      clean += "\xEF\xBF\xBD";
    else
      clean += c;
  }
  return cut_units(clean, max_units);
}

bool parse_wing_reply(const uint8_t* data, size_t n, std::string* line) {
  static constexpr char kMark[] = "WING,";
  constexpr size_t kMarkLen = sizeof kMark - 1;
  if (!data || n <= 5) return false;
  for (size_t i = 0; i + kMarkLen <= n; ++i) {
    if (std::memcmp(data + i, kMark, kMarkLen) == 0) {
      if (line) *line = reply_text(data + i, n - i);
      return true;
    }
  }
  return false;
}

bool parse_x32_reply(const uint8_t* data, size_t n, std::string* line) {
  if (!data || n < 16) return false;
  // The address: "/xinfo", NUL-padded to 8 bytes.
  if (std::memcmp(data, "/xinfo", 7) != 0) return false;
  // The type tag starts at the first "," from byte 8; it is padded to a multiple of 4 with at
  // least one NUL. Only its 's' entries are read as strings.
  size_t tag = 8;
  while (tag < n && data[tag] != ',') ++tag;
  std::string fields[4];
  size_t read = 0;
  if (tag < n) {
    size_t tag_end = tag;
    while (tag_end < n && data[tag_end] != 0) ++tag_end;
    if (tag_end < n) {
      size_t at = tag + ((tag_end - tag) / 4 + 1) * 4;
      const size_t types = tag_end - tag - 1;
      for (size_t k = 0; k < 4 && k < types && at < n; ++k) {
        if (data[tag + 1 + k] != 's') break;
        const size_t len = bounded_len(reinterpret_cast<const char*>(data + at), n - at);
        if (len == n - at) break;  // runs past the end: not a string
        fields[k] = reply_text(data + at, len);
        at += (len / 4 + 1) * 4;
        ++read;
      }
    }
  }
  // Without even the ip it names no desk, and taking it would end the search for one that does.
  if (read == 0) return false;
  if (line) {
    std::string text = "X32," + fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3];
    *line = cut_units(text, kDiscoveryLineMax);
  }
  return true;
}

std::string line_field(std::string_view line, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
  size_t end = line.find(',', start);
  if (end == std::string_view::npos) end = line.size();
  return cut_units(line.substr(start, end - start), kDiscoveryFieldMax);
}

// ---- where to ask -----------------------------------------------------------------------------

uint32_t mask_of_prefix(uint8_t prefix) {
  if (prefix == 0) return 0;
  if (prefix >= 32) return 0xFFFFFFFFu;
  return 0xFFFFFFFFu << (32 - prefix);
}

namespace {

bool asked_adapter(const NetAdapter& a) { return a.up && a.kind == NetAdapter::Kind::ethernet; }

bool usable_local(const NetAdapter::Address& ad) {
  return ad.ipv4 && ad.addr != 0 && !is_loopback(ad.addr) && !is_multicast_or_reserved(ad.addr);
}

}  // namespace

size_t broadcast_targets(const std::vector<NetAdapter>& adapters, DiscoveryTarget* out,
                         size_t max) {
  if (!out || max == 0) return 0;
  size_t n = 0;
  out[n++] = {kLimitedBroadcast, 0};
  for (const NetAdapter& a : adapters) {
    if (!asked_adapter(a)) continue;
    for (const NetAdapter::Address& ad : a.addresses) {
      if (!usable_local(ad) || ad.prefix == 0 || ad.prefix >= 31) continue;
      const uint32_t mask = mask_of_prefix(ad.prefix);
      const DiscoveryTarget t{ad.addr | ~mask, mask};
      if (std::find(out, out + n, t) != out + n) continue;
      if (n == max) return n;
      out[n++] = t;
    }
  }
  return n;
}

size_t broadcast_bind_addresses(const std::vector<NetAdapter>& adapters, uint32_t* out,
                                size_t max) {
  if (!out) return 0;
  size_t n = 0;
  for (const NetAdapter& a : adapters) {
    if (!asked_adapter(a)) continue;
    for (const NetAdapter::Address& ad : a.addresses) {
      if (!usable_local(ad) || std::find(out, out + n, ad.addr) != out + n) continue;
      if (n == max) return n;
      out[n++] = ad.addr;
    }
  }
  return n;
}

DiscoveryNet live_discovery_net(const std::vector<NetAdapter>& adapters) {
  DiscoveryNet net;
  DiscoveryTarget targets[kMaxDiscoveryTargets];
  net.targets.assign(targets, targets + broadcast_targets(adapters, targets));
  uint32_t from[kMaxBroadcastSockets];
  net.broadcast_from.assign(from, from + broadcast_bind_addresses(adapters, from));
  return net;
}

bool answer_source_ok(const DiscoveryNet& net, uint16_t port, Endpoint from) {
  if (from.port != port || from.addr == 0 || from.addr == kLimitedBroadcast ||
      is_multicast_or_reserved(from.addr))
    return false;
  for (const DiscoveryTarget& t : net.targets)
    if ((from.addr & t.mask) == (t.addr & t.mask)) return true;
  return false;
}

// ---- the search ---------------------------------------------------------------------------------

bool discover_desk(DeskKind kind, const DiscoveryNet& net, DiscoveryIo& io, Clock& clock,
                   std::string* line, const std::function<void(const std::string&)>& log) {
  const bool wing = kind == DeskKind::wing;
  const uint16_t port = wing ? net.wing_port : net.x32_port;
  const int rounds = wing ? kWingRounds : kX32Rounds;
  const uint8_t* question = wing ? reinterpret_cast<const uint8_t*>(kWingQuestion) : kXinfoQuestion;
  const size_t question_len = wing ? sizeof kWingQuestion - 1 : sizeof kXinfoQuestion;
  const char* what = wing ? "WING?" : "/xinfo";
  auto say = [&](const std::string& s) {
    if (log) log(s);
  };

  if (!io.open(net.broadcast_from)) {
    say(std::string("discovery: no socket for ") + what);
    return false;
  }
  bool answered = false;
  int ignored = 0;
  uint8_t buf[kDiscoveryReplyCap];
  for (int round = 0; round < rounds && !answered; ++round) {
    for (const DiscoveryTarget& t : net.targets)
      io.send_main({t.addr, port}, question, question_len);
    io.send_from_each({kLimitedBroadcast, port}, question, question_len);
    const Tick deadline = clock.now() + net.round_ms;
    while (!answered && !tick_reached(clock.now(), deadline)) {
      Endpoint from;
      const int got = io.receive(buf, sizeof buf, &from, ticks_elapsed(deadline, clock.now()));
      if (got == kSocketTimeout) continue;
      if (got == kSocketError) {
        // Not a reason to give up the round, but no reason to spin on it either.
        clock.sleep(std::min<uint32_t>(10, ticks_elapsed(deadline, clock.now())));
        continue;
      }
      std::string text;
      const char* why = nullptr;
      if (got == kSocketTruncated)
        why = "oversized";
      else if (got <= 0)
        why = "empty";
      else if (!answer_source_ok(net, port, from))
        why = "from an address or port not asked";
      else if (!(wing ? parse_wing_reply(buf, size_t(got), &text)
                      : parse_x32_reply(buf, size_t(got), &text)))
        why = "not an answer";
      if (why) {
        if (ignored++ < kIgnoredLoggedPerSearch)
          say("discovery: ignored a reply to " + std::string(what) + " from " +
              format_ipv4(from.addr) + ":" + std::to_string(from.port) + " (" + why + ")");
        continue;
      }
      if (line) *line = text;
      answered = true;
    }
  }
  io.close();
  return answered;
}

// ---- the records --------------------------------------------------------------------------------

std::function<bool(std::string_view, std::string*)> desk_lines_of(const StatusLink& link) {
  return [&link](std::string_view suffix, std::string* line) {
    char buf[kDiscoveryLineMax + 1];
    if (!link.read_desk_line(suffix, buf, sizeof buf)) return false;
    *line = buf;
    return true;
  };
}

ConsoleDiscovery::ConsoleDiscovery(DiscoveryEnv env) : env_(std::move(env)) {}

void ConsoleDiscovery::log(const std::string& line) const {
  if (env_.log)
    env_.log(line);
  else
    tray_log("%s", line.c_str());
}

void ConsoleDiscovery::take_discovery_line(std::string_view line) {
  current_.line = cut_units(line, kDiscoveryLineMax);
  current_.found = true;
  current_.ip = line_field(current_.line, 1);
  current_.model = line_field(current_.line, 3);
}

bool ConsoleDiscovery::discover(DeskKind kind) {
  const DiscoveryNet net = env_.net ? env_.net() : live_discovery_net(system_net_adapters());
  std::unique_ptr<DiscoveryIo> io = env_.make_io ? env_.make_io() : make_socket_discovery_io();
  if (!io) return false;
  Clock& clock = env_.clock ? *env_.clock : system_clock();
  std::string line;
  if (!discover_desk(kind, net, *io, clock, &line, [this](const std::string& s) { log(s); }))
    return false;
  take_discovery_line(line);
  log("discovery: " + current_.line);
  return true;
}

bool ConsoleDiscovery::discover_wing() { return discover(DeskKind::wing); }
bool ConsoleDiscovery::discover_x32() { return discover(DeskKind::x32); }

void ConsoleDiscovery::discover_consoles() {
  struct Step {
    DiscoveryRecord* record;
    std::string_view suffix;
    DeskKind kind;
  };
  const Step steps[] = {{&wing_, "", DeskKind::wing}, {&x32_, "-x32", DeskKind::x32}};
  for (const Step& s : steps) {
    *s.record = {};
    std::string published;
    if (env_.desk_line && env_.desk_line(s.suffix, &published) && !published.empty()) {
      take_discovery_line(
          reply_text(reinterpret_cast<const uint8_t*>(published.data()), published.size()));
      *s.record = current_;
    }
  }
  for (const Step& s : steps) {
    if (s.record->found) continue;
    current_ = {};
    if (discover(s.kind)) *s.record = current_;
  }
  for (const Step& s : steps) {
    if (!s.record->found) continue;
    current_ = *s.record;
    save_console_hint();
  }
}

bool ConsoleDiscovery::save_console_hint() {
  if (!current_.found || current_.ip.empty()) return false;
  const std::string dir = env_.install_dir ? env_.install_dir() : std::string();
  if (dir.empty()) return false;
  FileSystem& fs = env_.fs ? *env_.fs : real_file_system();
  if (!is_file(fs, join(dir, "Kestrune.dll"))) return false;
  const int console = current_.line.rfind("X32,", 0) == 0 ? 1 : 0;
  const std::optional<uint32_t> ip = parse_ipv4(current_.ip);
  // A hint the module would send to must name one host.
  if (!ip || *ip == 0 || *ip == kLimitedBroadcast || is_multicast_or_reserved(*ip)) {
    log("discovery: no hint saved for the address '" + current_.ip + "'");
    return false;
  }
  const std::string path = join(dir, std::string(console_table[console].type_key) + ".cfg");
  // Written in the plain dotted form, which every reader takes the same way.
  if (!cfg_set(path, "hint", format_ipv4(*ip))) {
    log("discovery: could not save the hint in " + path);
    return false;
  }
  return true;
}

}  // namespace ks::tray
