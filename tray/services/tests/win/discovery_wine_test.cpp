// The console search over real sockets, against the WING and X32 simulators and a hostile
// responder, all on 127.0.0.1 with ports of the test's own: the targets and ports are handed in,
// so nothing is broadcast. The tier runs inside a private network namespace as well.
// ks-test: timeout=120
#include "tray/services/discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bridge/config.h"
#include "sim/wing/discovery.h"
#include "sim/x32/x32_sim.h"
#include "tray/services/settings_file.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

constexpr uint16_t kWingPort = 47222;
constexpr uint16_t kWingOscPort = 47223;
constexpr uint16_t kX32Port = 47023;

DiscoveryEnv loopback_env(const std::string& install = "") {
  DiscoveryEnv e;
  e.net = [] {
    DiscoveryNet n;
    n.targets = {{kLoopback, 0xFFFFFFFFu}};
    n.wing_port = kWingPort;
    n.x32_port = kX32Port;
    return n;
  };
  e.install_dir = [install] { return install; };
  e.log = [](const std::string&) {};
  return e;
}

const std::string kWingLine =
    sim::wing_identity_line("192.168.1.62", "FOH", "ngc-full", "S1234567", "3.0.5");

sim::DiscoveryBehaviour answering(bool silent = false) {
  sim::DiscoveryBehaviour b;
  b.line = kWingLine;
  b.silent = silent;
  return b;
}

sim::X32Sim::Options x32_options() {
  sim::X32Sim::Options o;
  o.address = "127.0.0.1";
  o.port = kX32Port;
  o.name = "Monitor M32";
  o.model = "M32";
  o.version = "4.06";
  return o;
}

TEST(DiscoveryWine, FindsTheSimulatedWingWithItsIdentity) {
  sim::DiscoveryResponder wing;
  ASSERT_TRUE(wing.start(kLoopback, answering(), kWingPort, kWingOscPort));
  ConsoleDiscovery d(loopback_env());
  ASSERT_TRUE(d.discover_wing());
  EXPECT_EQ(d.current().line, kWingLine);
  EXPECT_EQ(d.current().ip, "192.168.1.62");
  EXPECT_EQ(d.current().model, "ngc-full");
  EXPECT_EQ(wing.questions(), 1);  // answered in the first round
  EXPECT_FALSE(d.discover_x32());  // nobody on the X32 port
}

TEST(DiscoveryWine, FindsTheSimulatedX32WithItsIdentity) {
  sim::X32Sim x32;
  ASSERT_TRUE(x32.start(x32_options()));
  ConsoleDiscovery d(loopback_env());
  ASSERT_TRUE(d.discover_x32());
  EXPECT_EQ(d.current().line, "X32,127.0.0.1,Monitor M32,M32,4.06");
  EXPECT_EQ(d.current().ip, "127.0.0.1");
  EXPECT_EQ(d.current().model, "M32");
  EXPECT_EQ(x32.count("/xinfo"), 1);
}

TEST(DiscoveryWine, BothDesksFoundAndEachHintReadByTheModule) {
  TempFolder dir;
  put(dir.at("Kestrune.dll"), "MZ");
  sim::DiscoveryResponder wing;
  ASSERT_TRUE(wing.start(kLoopback, answering(), kWingPort, kWingOscPort));
  sim::X32Sim x32;
  ASSERT_TRUE(x32.start(x32_options()));
  ConsoleDiscovery d(loopback_env(dir.path()));
  d.discover_consoles();
  EXPECT_EQ(d.wing().line, kWingLine);
  EXPECT_EQ(d.x32().line, "X32,127.0.0.1,Monitor M32,M32,4.06");
  for (const auto& [file, want] : {std::pair<std::string, std::string>{"wing.cfg", "192.168.1.62"},
                                   std::pair<std::string, std::string>{"x32.cfg", "127.0.0.1"}}) {
    ConsoleConfig c;
    config_defaults(c);
    config_parse(slurp(dir.at(file)), c, nullptr);
    EXPECT_EQ(std::string(c.hint), want) << file;
  }
}

TEST(DiscoveryWine, SilentWingIsAskedThreeTimes) {
  sim::DiscoveryResponder wing;
  ASSERT_TRUE(wing.start(kLoopback, answering(true), kWingPort, kWingOscPort));
  ConsoleDiscovery d(loopback_env());
  EXPECT_FALSE(d.discover_wing());
  EXPECT_FALSE(d.current().found);
  EXPECT_EQ(wing.questions(), 3);
}

// Answers every question with a burst of junk, some of it from a second socket on another port,
// then (when given) the real answer.
class HostileResponder {
public:
  HostileResponder(uint16_t port, std::vector<std::vector<uint8_t>> junk,
                   std::vector<uint8_t> answer)
      : junk_(std::move(junk)), answer_(std::move(answer)) {
    sock_ = Socket::udp();
    other_ = Socket::udp();
    ok_ = sock_.bind({kLoopback, port}) && other_.bind({kLoopback, uint16_t(port + 700)});
    if (ok_) thread_ = std::thread([this] { run(); });
  }
  ~HostileResponder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }
  int questions() const { return questions_.load(); }

private:
  void run() {
    uint8_t buf[64];
    while (!stop_) {
      Endpoint from;
      if (sock_.recv_from(buf, sizeof buf, &from, 50) <= 0) continue;
      ++questions_;
      for (const auto& j : junk_) {
        sock_.send_to(j.data(), j.size(), from);
        other_.send_to(j.data(), j.size(), from);
      }
      const std::string looks_right = "WING,6.6.6.6,from another port,x,y,z";
      other_.send_to(looks_right.data(), looks_right.size(), from);
      if (!answer_.empty()) {
        sock_.send_to(answer_.data(), answer_.size(), from);
        sock_.send_to(answer_.data(), answer_.size(), from);  // and once more
      }
    }
  }

  Socket sock_, other_;
  std::vector<std::vector<uint8_t>> junk_;
  std::vector<uint8_t> answer_;
  std::thread thread_;
  std::atomic<bool> stop_{false}, ok_{false};
  std::atomic<int> questions_{0};
};

std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<std::vector<uint8_t>> junk() {
  std::vector<uint8_t> xinfo_cut =
      bytes(std::string_view("/xinfo\0\0,ssss\0\0\0"
                             "127.0.0.1",
                             25));
  return {
      bytes("W"),
      bytes("WING?"),
      bytes("WING,"),
      std::vector<uint8_t>(60000, 'A'),                               // oversized
      bytes("xx" + std::string(3000, 'Z') + "WING,9.9.9.9,huge,,,"),  // oversized with the mark
      std::vector<uint8_t>(20, 0),
      std::vector<uint8_t>(kXinfoQuestion, kXinfoQuestion + 12),
      xinfo_cut,  // a string running off the end
      bytes(std::string_view("/xinfoo\0,ssss\0\0\0a\0\0\0", 20)),
  };
}

TEST(DiscoveryWine, HostileWingResponderIsSurvivedAndItsRealAnswerTaken) {
  HostileResponder h(kWingPort, junk(), bytes(kWingLine));
  ASSERT_TRUE(h.ok());
  ConsoleDiscovery d(loopback_env());
  ASSERT_TRUE(d.discover_wing());
  EXPECT_EQ(d.current().line, kWingLine);
}

TEST(DiscoveryWine, JunkAloneFindsNothingOnEitherPort) {
  TempFolder dir;
  put(dir.at("Kestrune.dll"), "MZ");
  HostileResponder w(kWingPort, junk(), {});
  ASSERT_TRUE(w.ok());
  ConsoleDiscovery d(loopback_env(dir.path()));
  EXPECT_FALSE(d.discover_wing());
  EXPECT_EQ(w.questions(), 3);
  // A console answering the other kind's question on the X32 port: a WING line is no /xinfo.
  HostileResponder x(kX32Port, junk(), bytes(kWingLine));
  ASSERT_TRUE(x.ok());
  EXPECT_FALSE(d.discover_x32());
  EXPECT_EQ(x.questions(), 2);
  EXPECT_FALSE(d.current().found);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"Kestrune.dll"}));
}

}  // namespace
}  // namespace ks::tray
