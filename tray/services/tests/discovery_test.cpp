// The console search without a network: reply parsing against hostile datagrams, the targets
// from a table of adapters, the rounds on a stepped clock with scripted sockets, and the
// records, status-block precedence and hints of discover_consoles.
#include "tray/services/discovery.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "os/tests/support/manual_clock.h"
#include "tray/services/settings_file.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

std::vector<uint8_t> B(std::string_view s) { return {s.begin(), s.end()}; }

uint32_t ip(const char* text) { return *parse_ipv4(text); }

// An OSC message: address and tag padded to 4 with at least one NUL, then padded strings.
std::vector<uint8_t> osc(std::string_view address, std::string_view tag,
                         const std::vector<std::string>& strings) {
  std::vector<uint8_t> out;
  auto pad = [&](std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
    do {
      out.push_back(0);
    } while (out.size() % 4);
  };
  pad(address);
  pad(tag);
  for (const std::string& s : strings) pad(s);
  return out;
}

// ---- replies ----------------------------------------------------------------------------------

struct WingCase {
  const char* what;
  std::vector<uint8_t> bytes;
  bool accepted;
  std::string line;
};

TEST(DiscoveryReplies, WingAnswersTakenFromTheMarkOnAndBoundedByTheirLength) {
  const std::string long_name(300, 'n');
  std::string capped = "WING,10.0.0.9," + long_name;
  capped.resize(kDiscoveryLineMax);
  // 158 units, then a character needing two: the pair does not fit and is dropped whole.
  const std::string pair_at_cap = "WING," + std::string(153, 'a') + "\xF0\x9F\x98\x80" + "tail";
  std::vector<uint8_t> embedded_nul = B("WING,10.0.0.2,Desk");
  embedded_nul.push_back(0);
  for (char c : std::string_view("JUNK after the NUL")) embedded_nul.push_back(uint8_t(c));
  const WingCase cases[] = {
      {"the desk's own line", B("WING,192.168.1.62,FOH,ngc-full,S123,3.0.5"), true,
       "WING,192.168.1.62,FOH,ngc-full,S123,3.0.5"},
      {"bytes before the mark", B("\x01\x02xxWING,10.0.0.5,A,B,C,D"), true,
       "WING,10.0.0.5,A,B,C,D"},
      {"the mark ends the datagram", B("abcWING,"), true, "WING,"},
      {"only the five bytes of the mark", B("WING,"), false, ""},
      {"our own question echoed", B("WING?"), false, ""},
      {"no mark at all", B("HELLO,10.0.0.5,A,B,C,D"), false, ""},
      {"the mark cut short at the end", B("xxxxWING"), false, ""},
      {"a NUL ends the text", embedded_nul, true, "WING,10.0.0.2,Desk"},
      {"control bytes shown as replacement", B("WING,1.2.3.4,a\rb\n"), true,
       "WING,1.2.3.4,a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},
      {"invalid UTF-8 shown as replacement", B("WING,1.2.3.4,\xFF"), true,
       "WING,1.2.3.4,\xEF\xBF\xBD"},
      {"longer than a line", B("WING,10.0.0.9," + long_name), true, capped},
      {"a pair at the cap", B(pair_at_cap), true, "WING," + std::string(153, 'a')},
      {"empty", {}, false, ""},
  };
  for (const WingCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string line = "untouched";
    // From a copy of exactly its length, so an overread shows under the sanitizers.
    std::vector<uint8_t> exact(c.bytes);
    EXPECT_EQ(parse_wing_reply(exact.data(), exact.size(), &line), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(line, c.line);
    }
  }
}

struct X32Case {
  const char* what;
  std::vector<uint8_t> bytes;
  bool accepted;
  std::string line;
};

TEST(DiscoveryReplies, X32AnswersReadOnlyTheStringsTheyHold) {
  std::vector<uint8_t> unterminated = osc("/xinfo", ",ssss", {"10.0.0.3", "Desk", "M32"});
  for (char c : std::string_view("4.0"))
    unterminated.push_back(uint8_t(c));  // the version runs off the end
  std::vector<uint8_t> tag_unterminated = B(std::string_view("/xinfo\0\0,sssssss", 16));
  const std::vector<uint8_t> full =
      osc("/xinfo", ",ssss", {"192.168.0.64", "FOH X32", "X32", "4.06"});
  const X32Case cases[] = {
      {"four strings", full, true, "X32,192.168.0.64,FOH X32,X32,4.06"},
      {"three strings: empty version", osc("/xinfo", ",sss", {"10.0.0.3", "Desk", "M32"}), true,
       "X32,10.0.0.3,Desk,M32,"},
      {"tag says four, three are there", osc("/xinfo", ",ssss", {"10.0.0.3", "Desk", "M32"}), true,
       "X32,10.0.0.3,Desk,M32,"},
      {"last string runs past the end", unterminated, true, "X32,10.0.0.3,Desk,M32,"},
      {"an integer where a string was", osc("/xinfo", ",sis", {"10.0.0.3", "abc", "M32"}), true,
       "X32,10.0.0.3,,,"},
      {"the tag has no end", tag_unterminated, false, ""},
      {"no strings at all", osc("/xinfo", ",ssss", {}), false, ""},
      {"the ip runs past the end",
       B(std::string_view("/xinfo\0\0,ssss\0\0\0"
                          "10.0.0.3",
                          24)),
       false, ""},
      {"no tag",
       B(std::string_view("/xinfo\0\0"
                          "10.0.0.3\0\0\0\0",
                          20)),
       false, ""},
      {"a fifth string is not read", osc("/xinfo", ",sssss", {"1.1.1.1", "n", "m", "v", "extra"}),
       true, "X32,1.1.1.1,n,m,v"},
      {"another address", osc("/xinfoo", ",ssss", {"1.1.1.1", "n", "m", "v"}), false, ""},
      {"a near address", osc("/xinf", ",ssss", {"1.1.1.1", "n", "m", "v"}), false, ""},
      {"our own question echoed", std::vector<uint8_t>(kXinfoQuestion, kXinfoQuestion + 12), false,
       ""},
      {"shorter than 16 bytes", std::vector<uint8_t>(full.begin(), full.begin() + 15), false, ""},
      {"a WING line", B("WING,1.2.3.4,a,b,c,d,e,f,g"), false, ""},
  };
  for (const X32Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string line = "untouched";
    std::vector<uint8_t> exact(c.bytes);
    EXPECT_EQ(parse_x32_reply(exact.data(), exact.size(), &line), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(line, c.line);
    }
  }
}

TEST(DiscoveryReplies, X32LineIsCappedLikeAWingLine) {
  const std::vector<uint8_t> big =
      osc("/xinfo", ",ssss", {"10.0.0.1", std::string(200, 'n'), "X32", "4.06"});
  std::string line;
  ASSERT_TRUE(parse_x32_reply(big.data(), big.size(), &line));
  EXPECT_EQ(line.size(), kDiscoveryLineMax);
  EXPECT_EQ(line.rfind("X32,10.0.0.1,nnn", 0), 0u);
}

TEST(DiscoveryRecords, TakenLineGivesIpAndModelWithinTheirFields) {
  ConsoleDiscovery d;
  d.take_discovery_line("WING,192.168.1.62,FOH,ngc-full,S123,3.0.5");
  EXPECT_TRUE(d.current().found);
  EXPECT_EQ(d.current().ip, "192.168.1.62");
  EXPECT_EQ(d.current().model, "ngc-full");

  d.take_discovery_line("X32,10.0.0.3,Desk");  // no model field
  EXPECT_EQ(d.current().ip, "10.0.0.3");
  EXPECT_EQ(d.current().model, "");

  d.take_discovery_line("WING,1.2.3.4,n," + std::string(100, 'm'));
  EXPECT_EQ(d.current().model, std::string(kDiscoveryFieldMax, 'm'));
}

// ---- where to ask -----------------------------------------------------------------------------

NetAdapter adapter(const char* name, bool up, NetAdapter::Kind kind,
                   std::vector<NetAdapter::Address> a) {
  NetAdapter n;
  n.name = name;
  n.up = up;
  n.kind = kind;
  n.addresses = std::move(a);
  return n;
}
NetAdapter::Address v4(const char* a, uint8_t prefix) { return {true, ip(a), prefix}; }
NetAdapter::Address v6() { return {false, 0, 64}; }

using Kind = NetAdapter::Kind;

TEST(DiscoveryTargets, OnlyTheLocalSubnetsOfUpLanAdaptersAreAsked) {
  const std::vector<NetAdapter> machine = {
      adapter("LAN", true, Kind::ethernet, {v4("192.168.1.20", 24), v6()}),
      adapter("unplugged", false, Kind::ethernet, {v4("10.1.0.5", 16)}),
      adapter("loopback", true, Kind::loopback, {v4("127.0.0.1", 8)}),
      adapter("VPN", true, Kind::point_to_point, {v4("10.8.0.2", 24)}),
      adapter("single host", true, Kind::ethernet, {v4("172.16.0.9", 32)}),
      adapter("pair link", true, Kind::ethernet, {v4("172.16.1.0", 31)}),
      adapter("IPv6 only", true, Kind::ethernet, {v6(), v6()}),
      adapter("two subnets", true, Kind::ethernet, {v4("10.20.30.40", 8), v4("192.168.1.21", 24)}),
      adapter("stray loopback address", true, Kind::ethernet, {v4("127.5.0.1", 8)}),
      adapter("no address yet", true, Kind::ethernet, {v4("0.0.0.0", 0)}),
  };
  DiscoveryTarget t[kMaxDiscoveryTargets];
  const size_t n = broadcast_targets(machine, t);
  const std::vector<DiscoveryTarget> got(t, t + n);
  const std::vector<DiscoveryTarget> want = {
      {0xFFFFFFFFu, 0},
      {ip("192.168.1.255"), ip("255.255.255.0")},
      {ip("10.255.255.255"), ip("255.0.0.0")},
  };
  EXPECT_EQ(got, want);

  uint32_t from[kMaxBroadcastSockets];
  const size_t m = broadcast_bind_addresses(machine, from);
  const std::vector<uint32_t> bound(from, from + m);
  const std::vector<uint32_t> want_bound = {ip("192.168.1.20"), ip("172.16.0.9"), ip("172.16.1.0"),
                                            ip("10.20.30.40"), ip("192.168.1.21")};
  EXPECT_EQ(bound, want_bound);
}

TEST(DiscoveryTargets, NoAdaptersLeavesOnlyTheLimitedBroadcastAndTheListStopsAtItsSize) {
  DiscoveryTarget t[kMaxDiscoveryTargets];
  ASSERT_EQ(broadcast_targets({}, t), 1u);
  EXPECT_EQ(t[0].addr, 0xFFFFFFFFu);

  std::vector<NetAdapter> many;
  for (int i = 0; i < 40; ++i) {
    const std::string a = "10." + std::to_string(i) + ".0.1";
    many.push_back(adapter("lan", true, Kind::ethernet, {v4(a.c_str(), 16)}));
  }
  EXPECT_EQ(broadcast_targets(many, t), kMaxDiscoveryTargets);
  EXPECT_EQ(t[kMaxDiscoveryTargets - 1].addr, ip("10.14.255.255"));
  uint32_t from[kMaxBroadcastSockets];
  EXPECT_EQ(broadcast_bind_addresses(many, from), kMaxBroadcastSockets);

  const DiscoveryNet live = live_discovery_net(many);
  EXPECT_EQ(live.targets.size(), kMaxDiscoveryTargets);
  EXPECT_EQ(live.broadcast_from.size(), kMaxBroadcastSockets);
  EXPECT_EQ(live.wing_port, 2222);
  EXPECT_EQ(live.x32_port, 10023);
}

TEST(DiscoveryTargets, LiveSearchOfThisMachineNeverAsksLoopback) {
  const DiscoveryNet live = live_discovery_net(system_net_adapters());
  ASSERT_FALSE(live.targets.empty());
  for (const DiscoveryTarget& t : live.targets)
    EXPECT_NE(t.addr >> 24, 127u) << format_ipv4(t.addr);
  for (uint32_t a : live.broadcast_from) EXPECT_NE(a >> 24, 127u) << format_ipv4(a);
}

TEST(DiscoveryTargets, AnswersAreTakenOnlyFromTheAskedPortAndSubnets) {
  DiscoveryNet unicast;
  unicast.targets = {{kLoopback, 0xFFFFFFFFu}};
  DiscoveryNet subnet;
  subnet.targets = {{ip("192.168.1.255"), ip("255.255.255.0")}};
  DiscoveryNet link;
  link.targets = {{0xFFFFFFFFu, 0}};
  struct Case {
    const char* what;
    const DiscoveryNet* net;
    Endpoint from;
    bool ok;
  } cases[] = {
      {"the asked host and port", &unicast, {kLoopback, 2222}, true},
      {"the asked host, another port", &unicast, {kLoopback, 2223}, false},
      {"another host", &unicast, {ip("127.0.0.2"), 2222}, false},
      {"inside the subnet", &subnet, {ip("192.168.1.7"), 2222}, true},
      {"outside the subnet", &subnet, {ip("192.168.2.7"), 2222}, false},
      {"anyone on the link", &link, {ip("10.9.9.9"), 2222}, true},
      {"a broadcast source", &link, {0xFFFFFFFFu, 2222}, false},
      {"a multicast source", &link, {ip("239.1.1.1"), 2222}, false},
      {"no source", &link, {0, 2222}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(answer_source_ok(*c.net, 2222, c.from), c.ok);
  }
}

// ---- the rounds ---------------------------------------------------------------------------------

// Sockets that play a script on the test's clock: each datagram arrives at its time (ms after the
// search opened) when the question went to its port.
class ScriptedIo : public DiscoveryIo {
public:
  struct Datagram {
    uint16_t asked_port;
    uint32_t at;
    Endpoint from;
    std::vector<uint8_t> bytes;  // empty with truncated: an oversized one
    bool truncated = false;
  };
  struct Sent {
    uint32_t at;
    Endpoint to;
    std::vector<uint8_t> bytes;
    bool from_each;
  };

  ScriptedIo(ManualClock& clock, std::vector<Datagram> script)
      : clock_(clock), script_(std::move(script)) {}

  bool open(const std::vector<uint32_t>& broadcast_from) override {
    ++opens;
    bound = broadcast_from;
    start_ = clock_.now();
    port_ = 0;
    delivered_.assign(script_.size(), false);
    return !fail_open;
  }
  bool send_main(Endpoint to, const uint8_t* data, size_t n) override {
    port_ = to.port;
    sent.push_back({clock_.now() - start_, to, {data, data + n}, false});
    return true;
  }
  int send_from_each(Endpoint to, const uint8_t* data, size_t n) override {
    sent.push_back({clock_.now() - start_, to, {data, data + n}, true});
    return int(bound.size());
  }
  int receive(uint8_t* buf, size_t cap, Endpoint* from, uint32_t ms) override {
    const uint32_t now = clock_.now() - start_;
    int next = -1;
    for (size_t i = 0; i < script_.size(); ++i) {
      if (delivered_[i] || script_[i].asked_port != port_ || script_[i].at > now + ms) continue;
      if (next < 0 || script_[i].at < script_[size_t(next)].at) next = int(i);
    }
    if (next < 0) {
      clock_.advance(ms);
      return kSocketTimeout;
    }
    const Datagram& d = script_[size_t(next)];
    delivered_[size_t(next)] = true;
    if (d.at > now) clock_.advance(d.at - now);
    *from = d.from;
    if (d.truncated || d.bytes.size() > cap) return kSocketTruncated;
    std::copy(d.bytes.begin(), d.bytes.end(), buf);
    return int(d.bytes.size());
  }
  void close() override { ++closes; }

  int opens = 0, closes = 0;
  bool fail_open = false;
  std::vector<uint32_t> bound;
  std::vector<Sent> sent;

private:
  ManualClock& clock_;
  std::vector<Datagram> script_;
  std::vector<bool> delivered_;
  uint32_t start_ = 0;
  uint16_t port_ = 0;
};

DiscoveryNet loopback_net() {
  DiscoveryNet net;
  net.targets = {{kLoopback, 0xFFFFFFFFu}};
  net.broadcast_from = {ip("192.168.1.20")};
  net.wing_port = 42222;
  net.x32_port = 41023;
  return net;
}

const Endpoint kWingSim{kLoopback, 42222};
const Endpoint kX32Sim{kLoopback, 41023};
const std::string kWingLine = "WING,192.168.1.62,FOH,ngc-full,S123,3.0.5";

std::vector<uint32_t> send_times(const ScriptedIo& io, bool from_each) {
  std::vector<uint32_t> out;
  for (const auto& s : io.sent)
    if (s.from_each == from_each) out.push_back(s.at);
  return out;
}

TEST(DiscoveryRounds, SilenceAsksThreeTimesForAWingAndTwiceForAnX32) {
  struct Case {
    DeskKind kind;
    std::vector<uint32_t> asked_at;
    uint32_t total_ms;
    std::vector<uint8_t> question;
    uint16_t port;
  } cases[] = {
      {DeskKind::wing, {0, 400, 800}, 1200, B("WING?"), 42222},
      {DeskKind::x32,
       {0, 400},
       800,
       std::vector<uint8_t>(kXinfoQuestion, kXinfoQuestion + 12),
       41023},
  };
  for (const Case& c : cases) {
    ManualClock clock(1000, ManualClock::Mode::automatic);
    ScriptedIo io(clock, {});
    std::string line = "untouched";
    const Tick t0 = clock.now();
    EXPECT_FALSE(discover_desk(c.kind, loopback_net(), io, clock, &line));
    EXPECT_EQ(line, "untouched");
    EXPECT_EQ(ticks_elapsed(clock.now(), t0), c.total_ms);
    EXPECT_EQ(send_times(io, false), c.asked_at);
    EXPECT_EQ(send_times(io, true), c.asked_at);
    for (const auto& s : io.sent) {
      EXPECT_EQ(s.bytes, c.question);
      EXPECT_EQ(s.to, (Endpoint{s.from_each ? 0xFFFFFFFFu : kLoopback, c.port}));
    }
    EXPECT_EQ(io.bound, loopback_net().broadcast_from);
    EXPECT_EQ(io.closes, 1);
  }
}

TEST(DiscoveryRounds, FirstGoodAnswerEndsTheSearchWhateverCameBefore) {
  ManualClock clock(0, ManualClock::Mode::automatic);
  std::vector<uint8_t> xinfo = osc("/xinfo", ",ssss", {"10.0.0.3", "Desk", "X32", "4.06"});
  ScriptedIo io(clock, {
                           {42222, 10, kWingSim, B("WING?")},  // our own echo
                           {42222, 20, {kLoopback, 9999}, B("WING,6.6.6.6,wrong port,,,")},
                           {42222, 30, {ip("127.0.0.9"), 42222}, B("WING,6.6.6.6,not asked,,,")},
                           {42222, 40, kWingSim, {}, true},  // oversized
                           {42222, 50, kWingSim, xinfo},     // the other kind
                           {42222, 60, kWingSim, B("garbage")},
                           {42222, 70, kWingSim, {}},             // empty
                           {42222, 530, kWingSim, B(kWingLine)},  // in round 2
                           {42222, 540, kWingSim, B("WING,10.0.0.99,second desk,,,")},
                       });
  std::vector<std::string> logged;
  std::string line;
  ASSERT_TRUE(discover_desk(DeskKind::wing, loopback_net(), io, clock, &line,
                            [&](const std::string& s) { logged.push_back(s); }));
  EXPECT_EQ(line, kWingLine);
  EXPECT_EQ(clock.now(), 530u);  // not a moment longer
  EXPECT_EQ(send_times(io, false), (std::vector<uint32_t>{0, 400}));
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged[0].find("ignored"), std::string::npos);
}

TEST(DiscoveryRounds, AnswerLateForItsRoundIsStillTakenInTheNext) {
  ManualClock clock(0, ManualClock::Mode::automatic);
  // Answers to round 1 that arrive only after it ended: the first ends the search.
  ScriptedIo io(
      clock, {{41023, 401, kX32Sim, osc("/xinfo", ",ssss", {"10.0.0.3", "Desk", "M32", "4.0"})},
              {41023, 402, kX32Sim, osc("/xinfo", ",ssss", {"10.0.0.3", "Desk", "M32", "4.0"})}});
  std::string line;
  ASSERT_TRUE(discover_desk(DeskKind::x32, loopback_net(), io, clock, &line));
  EXPECT_EQ(line, "X32,10.0.0.3,Desk,M32,4.0");
  EXPECT_EQ(clock.now(), 401u);
}

TEST(DiscoveryRounds, NoSocketMeansNoSearch) {
  ManualClock clock(0, ManualClock::Mode::automatic);
  ScriptedIo io(clock, {{42222, 0, kWingSim, B(kWingLine)}});
  io.fail_open = true;
  std::string line;
  EXPECT_FALSE(discover_desk(DeskKind::wing, loopback_net(), io, clock, &line));
  EXPECT_TRUE(io.sent.empty());
  EXPECT_EQ(clock.now(), 0u);
}

// ---- discover_consoles --------------------------------------------------------------------------

struct Fixture {
  explicit Fixture(std::vector<ScriptedIo::Datagram> script) : script(std::move(script)) {}
  ManualClock clock{0, ManualClock::Mode::automatic};
  std::vector<ScriptedIo::Datagram> script;
  std::map<std::string, std::string> published;  // suffix -> desk line
  std::string install;
  std::vector<uint16_t> searched;  // ports of the searches made
  std::vector<std::string> logged;

  DiscoveryEnv env() {
    DiscoveryEnv e;
    e.net = [] { return loopback_net(); };
    e.make_io = [this] {
      auto io = std::make_unique<RecordingIo>(clock, script, &searched);
      return std::unique_ptr<DiscoveryIo>(std::move(io));
    };
    e.clock = &clock;
    e.desk_line = [this](std::string_view suffix, std::string* line) {
      auto it = published.find(std::string(suffix));
      if (it == published.end()) return false;
      *line = it->second;
      return true;
    };
    e.install_dir = [this] { return install; };
    e.log = [this](const std::string& s) { logged.push_back(s); };
    return e;
  }

  struct RecordingIo : ScriptedIo {
    RecordingIo(ManualClock& c, std::vector<Datagram> s, std::vector<uint16_t>* searched)
        : ScriptedIo(c, std::move(s)), searched_(searched) {}
    bool send_main(Endpoint to, const uint8_t* data, size_t n) override {
      if (sent.empty()) searched_->push_back(to.port);
      return ScriptedIo::send_main(to, data, n);
    }
    std::vector<uint16_t>* searched_;
  };
};

std::vector<ScriptedIo::Datagram> both_desks() {
  return {{42222, 5, kWingSim, B(kWingLine)},
          {41023, 5, kX32Sim, osc("/xinfo", ",ssss", {"10.0.0.3", "Desk", "M32", "4.0"})}};
}

TEST(DiscoverConsoles, FindsBothAndSavesEachHintInItsOwnFile) {
  TempFolder dir;
  put(dir.at("Kestrune.dll"), "MZ");
  put(dir.at("wing.cfg"), "ip=\r\nhint=old\r\n");
  Fixture f(both_desks());
  f.install = dir.path();
  ConsoleDiscovery d(f.env());
  d.discover_consoles();
  EXPECT_TRUE(d.wing().found);
  EXPECT_EQ(d.wing().line, kWingLine);
  EXPECT_EQ(d.wing().ip, "192.168.1.62");
  EXPECT_EQ(d.wing().model, "ngc-full");
  EXPECT_TRUE(d.x32().found);
  EXPECT_EQ(d.x32().line, "X32,10.0.0.3,Desk,M32,4.0");
  EXPECT_EQ(d.x32().model, "M32");
  EXPECT_EQ(d.current().line, d.x32().line);  // the last one made current
  EXPECT_EQ(f.searched, (std::vector<uint16_t>{42222, 41023}));
  EXPECT_EQ(slurp(dir.at("wing.cfg")), "ip=\nhint=192.168.1.62\n");
  EXPECT_EQ(cfg_get(dir.at("x32.cfg"), "hint"), "10.0.0.3");
}

TEST(DiscoverConsoles, LinkedModulesDeskLineIsUsedWithoutAskingTheNetwork) {
  TempFolder dir;
  put(dir.at("Kestrune.dll"), "MZ");
  Fixture f(both_desks());
  f.install = dir.path();
  f.published[""] = "WING,10.1.1.1,From the block,wing-compact,S9,3.1";
  ConsoleDiscovery d(f.env());
  d.discover_consoles();
  EXPECT_EQ(d.wing().line, "WING,10.1.1.1,From the block,wing-compact,S9,3.1");
  EXPECT_EQ(f.searched, (std::vector<uint16_t>{41023}));  // only the X32 was searched
  EXPECT_EQ(cfg_get(dir.at("wing.cfg"), "hint"), "10.1.1.1");
  EXPECT_TRUE(d.x32().found);

  // Both published: nothing goes on the network.
  Fixture g(both_desks());
  g.published[""] = "WING,10.1.1.1,a,b,c,d";
  g.published["-x32"] = "X32,10.1.1.2,n,X32,4.06";
  ConsoleDiscovery e(g.env());
  e.discover_consoles();
  EXPECT_TRUE(g.searched.empty());
  EXPECT_EQ(e.x32().ip, "10.1.1.2");
}

TEST(DiscoverConsoles, NothingAnsweringLeavesRecordsClearAndWritesNothing) {
  TempFolder dir;
  put(dir.at("Kestrune.dll"), "MZ");
  Fixture f({});
  f.install = dir.path();
  ConsoleDiscovery d(f.env());
  d.take_discovery_line("WING,1.1.1.1,stale,,,");
  d.discover_consoles();
  EXPECT_FALSE(d.wing().found);
  EXPECT_FALSE(d.x32().found);
  EXPECT_FALSE(d.current().found);
  EXPECT_EQ(f.clock.now(), 3 * 400u + 2 * 400u);  // the whole blocking budget, no more
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"Kestrune.dll"}));
}

TEST(DiscoverConsoles, HintNeedsAnInstallationAndAHostAddress) {
  struct Case {
    const char* what;
    bool folder, loader;
    std::string line;
    std::string hint;  // "" : none saved
  } cases[] = {
      {"installed", true, true, "WING,192.168.1.62,a,b,c,d", "192.168.1.62"},
      {"an X32 goes to its own file", true, true, "X32,10.0.0.3,a,b,c", "10.0.0.3"},
      {"leading zeros saved in the plain form", true, true, "WING,192.168.001.062,a,b,c,d",
       "192.168.1.62"},
      {"no install folder", false, false, "WING,192.168.1.62,a,b,c,d", ""},
      {"folder without the loader", true, false, "WING,192.168.1.62,a,b,c,d", ""},
      {"not an address", true, true, "WING,desk.local,a,b,c,d", ""},
      {"no address", true, true, "WING,,a,b,c,d", ""},
      {"a broadcast address", true, true, "WING,255.255.255.255,a,b,c,d", ""},
      {"a multicast address", true, true, "X32,239.0.0.1,a,b,c", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder dir;
    if (c.loader) put(dir.at("Kestrune.dll"), "MZ");
    Fixture f({});
    if (c.folder) f.install = dir.path();
    ConsoleDiscovery d(f.env());
    d.take_discovery_line(c.line);
    EXPECT_EQ(d.save_console_hint(), !c.hint.empty());
    const bool x32 = c.line.rfind("X32,", 0) == 0;
    EXPECT_EQ(cfg_get(dir.at(x32 ? "x32.cfg" : "wing.cfg"), "hint"), c.hint);
    EXPECT_EQ(slurp(dir.at(x32 ? "wing.cfg" : "x32.cfg")), "<missing>");
  }
}

}  // namespace
}  // namespace ks::tray
