// The lasting views over real named blocks: which block the dashboard shows, when a missing one
// is looked for again, the tray state, and the commands and copies through the mappings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "os/shared_memory.h"
#include "os/tests/support/manual_clock.h"
#include "tray/services/status_link.h"

#ifdef _WIN32
#include <process.h>
#define ks_getpid _getpid
#else
#include <unistd.h>
#define ks_getpid getpid
#endif

namespace ks::tray {
namespace {

// Names no other test (nor a running product) uses.
std::string unique_base(const char* what) {
  static int n = 0;
  return std::string("Local\\KsTrayViews") + what + std::to_string(ks_getpid()) + "-" +
         std::to_string(++n);
}

// The module side of one block: created, stamped, and its flags set as a module sets them.
struct ModuleBlock {
  bool publish(const std::string& name, uint32_t version = 17) {
    if (!mem.create(name, kStatusMappingSize)) return false;
    b = static_cast<StatusBlock*>(mem.data());
    b->version = version;
    shm_store(b->magic, kStatusMagic);
    return true;
  }
  void flags(bool answering, bool loaded, const char* text = "") {
    b->desk_answering = answering;
    b->lv1_loaded = loaded;
    set_field_text(b->status_text, text);
  }
  SharedMemory mem;
  StatusBlock* b = nullptr;
};

struct Views : testing::Test {
  Views() {
    env.status_base = unique_base("S");
    env.loader_name = unique_base("L");
    env.clock = &clock;
    env.lv1_running = [this] { return lv1; };
    env.blocked = [this] { return blocked; };
    env.log_problems = [this] { return problems; };
  }
  ManualClock clock{1000};
  StatusLinkEnv env;
  bool lv1 = true, blocked = false;
  int problems = 0;
};

TEST_F(Views, NothingRunningRefusesEveryPostWithTheNotRunningText) {
  StatusLink link(env);
  EXPECT_FALSE(link.select());
  EXPECT_EQ(link.post_command(6, 0, 0, 1.0), 0u);
  link.post_pending_command(1, 0, 0, 0.0);
  EXPECT_EQ(link.action_seq(), 0u);
  EXPECT_EQ(link.action_reply(), kRefusedNotRunning);
  EXPECT_EQ(link.read_status_snapshot("").present, 0u);
  uint8_t lb[kLoaderBlockSize];
  lb[0] = 0xEE;
  EXPECT_FALSE(link.read_loader_block(lb));
  EXPECT_EQ(lb[0], 0xEE);
  EXPECT_EQ(link.tray_state(), TrayState::idle);
}

// A block that appears is picked up at once while none is open, and within a second while the
// other one is.
TEST_F(Views, MissingBlockIsLookedForAgainAtMostOnceASecondWhileTheOtherIsOpen) {
  StatusLink link(env);
  EXPECT_FALSE(link.select());
  ModuleBlock x32;
  ASSERT_TRUE(x32.publish(env.status_base + "-x32"));
  EXPECT_TRUE(link.select());  // none open: looked for at every call
  EXPECT_EQ(link.active_console(), 1);
  ModuleBlock wing;
  ASSERT_TRUE(wing.publish(env.status_base));
  clock.advance(999);
  link.select();
  EXPECT_FALSE(link.attached(0));
  clock.advance(1);
  link.select();
  EXPECT_TRUE(link.attached(0));
}

TEST_F(Views, ActiveBlockFollowsTheRunningModule) {
  ModuleBlock wing, x32;
  ASSERT_TRUE(wing.publish(env.status_base));
  ASSERT_TRUE(x32.publish(env.status_base + "-x32"));
  StatusLink link(env);
  wing.flags(true, true);
  x32.flags(true, true);
  ASSERT_TRUE(link.select());
  EXPECT_EQ(link.active_console(), 0);
  wing.flags(false, false, "Module stopped");  // WING stops, X32 runs: X32 shown
  link.select();
  EXPECT_EQ(link.active_console(), 1);
  wing.flags(true, false);  // WING alive again, X32 too: stays
  link.select();
  EXPECT_EQ(link.active_console(), 1);
  x32.flags(false, false, "Module stopped");
  link.select();
  EXPECT_EQ(link.active_console(), 0);
  x32.flags(false, false);  // neither alive: never leaves for a stopped one
  wing.flags(false, false);
  link.select();
  EXPECT_EQ(link.active_console(), 0);
}

// The console tabs pick the shown block; it stays while it runs, and only a view that exists
// can be picked.
TEST_F(Views, ConsoleTabShowsThatConsolesBlockWhileItRuns) {
  ModuleBlock wing, x32;
  ASSERT_TRUE(wing.publish(env.status_base));
  StatusLink link(env);
  wing.flags(true, true);
  ASSERT_TRUE(link.select());
  EXPECT_FALSE(link.show_console(1));  // no X32 block yet
  EXPECT_FALSE(link.show_console(2));
  EXPECT_FALSE(link.show_console(-1));
  EXPECT_EQ(link.active_console(), 0);
  ASSERT_TRUE(x32.publish(env.status_base + "-x32"));
  x32.flags(true, true);
  clock.advance(1000);
  link.select();
  ASSERT_TRUE(link.show_console(1));
  ASSERT_TRUE(link.select());
  EXPECT_EQ(link.active_console(), 1);
  EXPECT_EQ(link.active_view().base, link.view(1).base);
  ASSERT_TRUE(link.show_console(0));
  link.select();
  EXPECT_EQ(link.active_console(), 0);
  ASSERT_TRUE(link.show_console(1));
  x32.flags(false, false, "Module stopped");  // the shown module stops: the running one returns
  link.select();
  EXPECT_EQ(link.active_console(), 0);
}

TEST_F(Views, TrayState) {
  struct Side {
    bool present, answering, loaded;
    uint32_t degraded;
    const char* text;
  };
  struct Case {
    const char* what;
    Side wing, x32;
    bool blocked;
    int problems;
    uint32_t version;
    TrayState want;
  };
  const Side none{false, false, false, 0, ""};
  const Side linked{true, true, true, 0, ""};
  const Side idle{true, true, false, 0, ""};
  const Side unreachable{true, false, false, 0, ""};
  const Side loaded_no_desk{true, false, true, 0, ""};
  const Side degraded{true, true, true, 1, ""};
  const Side stopped{true, false, false, 0, "Module stopped"};
  const Case cases[] = {
      {"nothing", none, none, false, 0, 17, TrayState::idle},
      {"linked", linked, none, false, 0, 17, TrayState::linked},
      {"desk answers, LV1 has no card", idle, none, false, 0, 17, TrayState::idle},
      {"desk not answering", loaded_no_desk, none, false, 0, 17, TrayState::unreachable},
      {"degraded", degraded, none, false, 0, 17, TrayState::attention},
      {"blocked overrides", linked, none, true, 0, 17, TrayState::attention},
      {"log problems", linked, none, false, 2, 17, TrayState::attention},
      {"module too old", linked, none, false, 0, 15, TrayState::attention},
      {"stopped block says nothing", stopped, linked, false, 0, 17, TrayState::linked},
      {"only stopped", stopped, none, false, 0, 17, TrayState::idle},
      {"a dead block beside an alive one", unreachable, linked, false, 0, 17, TrayState::linked},
      {"unreachable beats idle", idle, loaded_no_desk, false, 0, 17, TrayState::unreachable},
      {"attention beats unreachable", loaded_no_desk, degraded, false, 0, 17, TrayState::attention},
      {"idle beats linked", linked, idle, false, 0, 17, TrayState::idle},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    env.status_base = unique_base("T");
    ModuleBlock w, x;
    if (c.wing.present) {
      ASSERT_TRUE(w.publish(env.status_base, c.version));
      w.flags(c.wing.answering, c.wing.loaded, c.wing.text);
      w.b->degraded = c.wing.degraded;
    }
    if (c.x32.present) {
      ASSERT_TRUE(x.publish(env.status_base + "-x32", c.version));
      x.flags(c.x32.answering, c.x32.loaded, c.x32.text);
      x.b->degraded = c.x32.degraded;
    }
    blocked = c.blocked;
    problems = c.problems;
    StatusLink link(env);
    EXPECT_EQ(link.tray_state(), c.want);
  }
}

// LV1 closing: two polls keep the last state, the third lets the views go and says idle.
TEST_F(Views, Lv1ClosingKeepsTheStateForTwoPollsThenDetaches) {
  ModuleBlock wing;
  ASSERT_TRUE(wing.publish(env.status_base));
  wing.flags(true, true);
  StatusLink link(env);
  ASSERT_EQ(link.tray_state(), TrayState::linked);
  lv1 = false;
  EXPECT_EQ(link.tray_state(), TrayState::linked);
  EXPECT_EQ(link.tray_state(), TrayState::linked);
  EXPECT_TRUE(link.attached(0));
  EXPECT_EQ(link.tray_state(), TrayState::idle);
  EXPECT_FALSE(link.attached(0));
  EXPECT_EQ(link.tray_state(), TrayState::idle);
  lv1 = true;  // back: the misses start again from nothing
  EXPECT_EQ(link.tray_state(), TrayState::linked);
  lv1 = false;
  EXPECT_EQ(link.tray_state(), TrayState::linked);
}

TEST_F(Views, CommandsAndCopiesThroughTheMappings) {
  ModuleBlock x32;
  ASSERT_TRUE(x32.publish(env.status_base + "-x32"));
  x32.flags(true, true);
  set_field_text(x32.b->desk_line, "X32,10.0.0.7,FOH");
  set_field_text(x32.b->desk_ip, "10.0.0.7");
  StatusLink link(env);
  const uint32_t seq = link.post_command(6, 2, 0, 3.5);
  ASSERT_EQ(seq, 1u);
  EXPECT_EQ(x32.b->ring.op[1].op, 6u);
  EXPECT_EQ(x32.b->ring.op[1].value, 3.5);
  EXPECT_FALSE(link.command_result(seq, nullptr, nullptr));
  set_field_text(x32.b->ring.op[1].reply, "gain ch 3 +3.5 dB");
  x32.b->ring.op[1].result = 1;
  shm_store(x32.b->ring.op[1].done_seq, seq);
  uint32_t result = 0;
  std::string reply;
  ASSERT_TRUE(link.command_result(seq, &result, &reply));
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(reply, "gain ch 3 +3.5 dB");
  link.post_pending_command(1, 0, 0, 0.0);
  EXPECT_EQ(link.action_seq(), 2u);
  EXPECT_EQ(link.action_reply(), kWorkingText);

  EXPECT_EQ(link.group_cache_key("an"), "10.0.0.7/AN");
  link.post_watch_request("AN", 1, 8);
  EXPECT_EQ(x32.b->watch_request.request_seq, 1u);
  link.status_post_request("-x32", true);
  EXPECT_EQ(x32.b->watch_resync, 1u);
  EXPECT_EQ(x32.b->watch_request.request_seq, 2u);

  char line[64];
  EXPECT_TRUE(link.read_desk_line("-x32", line, sizeof line));
  EXPECT_STREQ(line, "X32,10.0.0.7,FOH");
  EXPECT_FALSE(link.read_desk_line("", line, sizeof line));
  EXPECT_STREQ(link.read_status_snapshot("-x32").desk_line, "X32,10.0.0.7,FOH");

  // Too old: the refusal says so.
  x32.b->version = 12;
  link.post_pending_command(1, 0, 0, 0.0);
  EXPECT_EQ(link.action_seq(), 0u);
  EXPECT_EQ(link.action_reply(), kRefusedTooOld);
  EXPECT_TRUE(link.module_too_old());
}

TEST_F(Views, RingFullRefusalText) {
  ModuleBlock wing;
  ASSERT_TRUE(wing.publish(env.status_base));
  wing.flags(true, true);
  StatusLink link(env);
  for (int i = 0; i < 8; ++i) ASSERT_NE(link.post_command(2, i, 0, 0.0), 0u);
  link.post_pending_command(2, 9, 0, 0.0);
  EXPECT_EQ(link.action_seq(), 0u);
  EXPECT_EQ(link.action_reply(), kRefusedRingFull);
}

TEST_F(Views, LoaderBlockAndShortStatusBlock) {
  SharedMemory loader;
  ASSERT_TRUE(loader.create(env.loader_name, kLoaderBlockSize));
  auto* lb = static_cast<LoaderBlock*>(loader.data());
  lb->size = 280;
  set_field_text(lb->types[0].failed_file, "wing-4.0.0.dll");
  lb->types[0].failure_count = 1;
  lb->identify_counter[0] = 77;  // past the 280 bytes the size field covers
  shm_store(lb->magic, kLoaderMagic);
  StatusLink link(env);
  uint8_t out[kLoaderBlockSize];
  ASSERT_TRUE(link.read_loader_block(out));
  const auto* copy = reinterpret_cast<const LoaderBlock*>(out);
  EXPECT_STREQ(copy->types[0].failed_file, "wing-4.0.0.dll");
  EXPECT_EQ(copy->identify_counter[0], 0u);

  SharedMemory tiny;  // a status block shorter than the record is never mapped
  ASSERT_TRUE(tiny.create(env.status_base, 4096));
  std::memcpy(tiny.data(), "GNGW", 4);
  EXPECT_FALSE(link.select());
  EXPECT_EQ(link.read_status_snapshot("").present, 0u);
}

}  // namespace
}  // namespace ks::tray
