// ks-test: timeout=120
// Finding WING desks across subnets with real sockets: this test moves itself into a network
// namespace of its own and joins two more, one per simulated desk, by veth pairs with TEST-NET-2
// and TEST-NET-3 addresses. Nothing it sends can reach the machine's own interfaces.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/discovery.h"
#include "bridge/driver_services.h"
#include "bridge/lifecycle.h"
#include "bridge/module_table.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/framework_fixture.h"
#include "desk/wing/wing_discovery.h"
#include "os/clock.h"
#include "os/file.h"

extern char** environ;

namespace ks {
namespace {

// A process started with posix_spawnp, killed when the object goes.
class Proc {
public:
  bool start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
  }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int st;
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }
  ~Proc() { kill(); }
  pid_t pid() const { return pid_; }

private:
  pid_t pid_ = -1;
};

bool run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

std::string sim_path() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string self(buf, n > 0 ? size_t(n) : 0);
  // build/<tree>/desk/wing/<test> -> build/<tree>/sim/wing/wing-discovery-sim
  std::string tree = self.substr(0, self.rfind("/desk/wing/"));
  return tree + "/sim/wing/wing-discovery-sim";
}

// One simulated desk host: a namespace held by a sleeping process, joined to ours by a veth.
struct Host {
  Proc holder, sim;
  std::string ns_pid;
  std::string peer;

  bool make(const std::string& tag, const std::string& our_addr, const std::string& its_addr) {
    if (!holder.start({"unshare", "-n", "sleep", "600"})) return false;
    ns_pid = std::to_string(holder.pid());
    // Wait until the holder sits in its own namespace.
    struct stat mine {
    }, theirs{};
    stat("/proc/self/ns/net", &mine);
    for (int i = 0; i < 200; ++i) {
      if (stat(("/proc/" + ns_pid + "/ns/net").c_str(), &theirs) == 0 &&
          theirs.st_ino != mine.st_ino)
        break;
      sleep_ms(10);
    }
    if (theirs.st_ino == mine.st_ino) return false;
    peer = tag + "1";
    return run("ip link add " + tag + "0 type veth peer name " + peer + " netns " + ns_pid) &&
           run("ip addr add " + our_addr + " dev " + tag + "0") &&
           run("ip link set " + tag + "0 up") && in_ns("ip link set lo up") &&
           in_ns("ip addr add " + its_addr + " dev " + peer) &&
           in_ns("ip link set " + peer + " up");
  }
  bool in_ns(const std::string& cmd) { return run("nsenter -t " + ns_pid + " -n " + cmd); }
  bool start_sim(const std::string& ip, const std::string& serial, const std::string& name) {
    return sim.start({"nsenter", "-t", ns_pid, "-n", sim_path(), "--ip", ip, "--serial", serial,
                      "--name", name});
  }
};

bool answers_at(const char* ip, uint32_t within_ms) {
  Tick start = tick_now();
  DeskAnswer a[8];
  while (ticks_elapsed(tick_now(), start) < within_ms)
    if (wing_discover(ip, a, 8, 300) == 1) return true;
  return false;
}

class WingSubnet : public FrameworkTest {
protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make network namespaces";
    // Before any thread exists: the whole process moves into a namespace of its own.
    if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "cannot make a network namespace here";
    ASSERT_TRUE(run("ip link set lo up"));
    FrameworkTest::SetUp();
    discovery_reset();
    status_block_reset();
    status_block_use_memory(block.get());
    // The fake desk with the WING's discovery, and the framework's services for it.
    desk().desc.discover = wing_discover;
    set_driver_services(framework_driver_services());
    cfg = path_join(dir, "wing.cfg");
  }
  void TearDown() override {
    framework_shutdown();
    set_driver_services(nullptr);
    status_block_reset();
    discovery_reset();
    FrameworkTest::TearDown();
  }
  std::unique_ptr<StatusBlock> block = std::make_unique<StatusBlock>();
  std::string cfg;
};

TEST_F(WingSubnet, FindsBothChoosesByIdAndFollowsTheDeskToItsNewAddress) {
  Host a, b;
  ASSERT_TRUE(a.make("ksa", "198.51.100.1/24", "198.51.100.2/24"));
  ASSERT_TRUE(b.make("ksb", "203.0.113.1/24", "203.0.113.2/24"));
  ASSERT_TRUE(a.start_sim("198.51.100.2", "S-A", "FOH"));
  ASSERT_TRUE(b.start_sim("203.0.113.2", "S-B", "MON"));
  ASSERT_TRUE(answers_at("198.51.100.2", 5000));
  ASSERT_TRUE(answers_at("203.0.113.2", 5000));

  // Both answer a general search, across both subnets, by broadcast.
  DeskAnswer found[8];
  int n = wing_discover(nullptr, found, 8, 1200);
  ASSERT_EQ(n, 2);
  for (int i = 0; i < n; ++i) EXPECT_EQ(found[i].card, 1) << found[i].ip;

  write_text(cfg, "console=s-b\n");
  use_host(cfg);
  install_discovery_hooks();
  framework_start();
  Tick start = tick_now();
  while (!desk_chosen() && ticks_elapsed(tick_now(), start) < 10000) sleep_ms(20);
  ASSERT_TRUE(desk_chosen());
  EXPECT_STREQ(desk_identity().ip, "203.0.113.2");
  EXPECT_STREQ(desk_identity().id, "S-B");
  EXPECT_TRUE(host().logged("[desk] 2 answered: "));
  EXPECT_EQ(block->discovery_decision, uint32_t(DiscoveryDecision::ChosenFound));

  // The desk goes away and comes back at another address of its subnet.
  b.sim.kill();
  ASSERT_TRUE(b.in_ns("ip addr del 203.0.113.2/24 dev ksb1"));
  ASSERT_TRUE(b.in_ns("ip addr add 203.0.113.7/24 dev ksb1"));
  ASSERT_TRUE(b.start_sim("203.0.113.7", "S-B", "MON"));
  ASSERT_TRUE(answers_at("203.0.113.7", 5000));
  desk().set_link(false);
  Tick down = tick_now();
  const std::string moved = "answers at 203.0.113.7 now, not 203.0.113.2 - moving the link there";
  while (!host().logged(moved) && ticks_elapsed(tick_now(), down) < 40000) sleep_ms(50);
  uint32_t took = ticks_elapsed(tick_now(), down);
  ASSERT_TRUE(host().logged(moved)) << testing::PrintToString(host().lines_with("[refind]"));
  // Looked for only after 20 s down; found at the first sweep: one tick, one discover and the
  // card questions later.
  EXPECT_GE(took, 20000u);
  EXPECT_LE(took, 20000u + 1000 + 1200 + 2 * 500 + 1500);
  EXPECT_TRUE(host().lines_with("answers at 198.51.100.2 now").empty()) << "never another console";
  // The hint is written just after that line is logged.
  std::string text;
  Tick logged_at = tick_now();
  do {
    ASSERT_EQ(read_file(cfg, 4096, text), ReadStatus::ok);
    if (text.find("hint=203.0.113.7") != std::string::npos) break;
    sleep_ms(20);
  } while (ticks_elapsed(tick_now(), logged_at) < 3000);
  EXPECT_NE(text.find("hint=203.0.113.7"), std::string::npos) << text;
}

}  // namespace
}  // namespace ks
