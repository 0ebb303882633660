// The load watch on a stepped clock, with LV1's process, the install folder and the loader block
// held in memory and the notices recorded.
#include "tray/services/load_watch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "os/tests/support/manual_clock.h"
#include "tray/services/tests/support/fake_lv1_system.h"

namespace ks::tray {
namespace {

using testing::FakeLv1System;

struct RecordingSink : NoticeSink {
  std::vector<std::string> events;
  void set_notice_and_status(const std::string& t) override { events.push_back("texts: " + t); }
  void set_status(const std::string& t) override { events.push_back("status: " + t); }
  void clear_notice() override { events.push_back("clear"); }
  void balloon(const std::string& title, const std::string& t) override {
    events.push_back("balloon " + title + ": " + t);
  }
  std::vector<std::string> take() {
    std::vector<std::string> e;
    e.swap(events);
    return e;
  }
  std::vector<std::string> balloons() const {
    std::vector<std::string> b;
    for (const std::string& e : events)
      if (e.rfind("balloon ", 0) == 0) b.push_back(e);
    return b;
  }
};

constexpr uint64_t kMinute = 60ull * 1000 * 10000;  // FILETIME units
const std::string kDir = "C:\\IO\\Kestrune.bundle\\Contents\\Win64";

struct Watch : ::testing::Test {
  Watch() {
    env.sys = &sys;
    env.clock = &clock;
    env.read_loader_block = [this](uint8_t(&out)[kLoaderBlockSize]) {
      if (!block) return false;
      std::memcpy(out, &*block, kLoaderBlockSize);
      return true;
    };
    env.install_dir = [this] { return dir; };
    env.is_own_module = [this](const std::string& p) {
      return own && p == path_join(kDir, "Kestrune.dll");
    };
    env.sac_blocked_recently = [this](int minutes) {
      sac_minutes = minutes;
      return sac;
    };
    env.sink = &sink;
    env.log = [this](const std::string& s) { log.push_back(s); };
  }

  void lv1_starts(uint64_t at_filetime) {
    sys.procs = {{"eMotion LV1.exe", 42}};
    sys.created[42] = at_filetime;
  }
  void lv1_ends() { sys.procs.clear(); }
  LoaderTypeRecord& type(int t) {
    if (!block) {
      block = LoaderBlock{};
      block->magic = kLoaderMagic;
      block->size = kLoaderBlockSize;
      set_field_text(block->types[0].type_name, "wing");
      set_field_text(block->types[1].type_name, "x32");
    }
    return block->types[t];
  }
  void fail(int t, uint32_t count, uint32_t error, const char* file, const char* running = "") {
    LoaderTypeRecord& r = type(t);
    r.failure_count = count;
    r.last_error = error;
    set_field_text(r.failed_file, file);
    set_field_text(r.running_version, running);
  }
  void installed(uint64_t version_time, uint64_t dll_time) {
    sys.files[path_join(kDir, "kestrune.version")] = {"3.2.0", version_time, ""};
    sys.files[path_join(kDir, "Kestrune.dll")] = {"MZ", dll_time, ""};
  }
  void tick_after(uint32_t ms) {
    clock.advance(ms);
    w.tick();
  }

  FakeLv1System sys;
  ManualClock clock{5000};
  std::optional<LoaderBlock> block;
  std::string dir = kDir;
  bool own = true, sac = false;
  int sac_minutes = 0;
  RecordingSink sink;
  std::vector<std::string> log;
  LoadWatchEnv env;
  LoadWatch w{LoadWatchEnv{}};

  void start() { w = LoadWatch(env); }
};

const char* const kWingFailed = "The WING module wing-4.0.0.dll could not be loaded (error 193).";

TEST_F(Watch, FirstFailureIsNotifiedOnceAndARiseTwiceBetweenTicksOnceWithTheLastError) {
  start();
  lv1_starts(100 * kMinute);
  w.tick();
  EXPECT_TRUE(sink.take().empty());
  fail(0, 1, 193, "wing-4.0.0.dll");
  tick_after(1000);
  EXPECT_EQ(sink.take(), (std::vector<std::string>{
                             std::string("texts: ") + kWingFailed,
                             std::string("balloon Kestrune update blocked: ") + kWingFailed}));
  EXPECT_EQ(log, (std::vector<std::string>{std::string("notified: ") + kWingFailed}));
  tick_after(1000);  // the same count again
  tick_after(1000);
  EXPECT_TRUE(sink.take().empty());

  fail(1, 2, 4551, "x32-4.1.0.dll");  // two failures between ticks
  tick_after(1000);
  const std::string blocked =
      "Windows (Smart App Control) blocked the X32 / M32 module x32-4.1.0.dll. That console runs without Kestrune "
      "until it is allowed.";
  EXPECT_EQ(sink.take(), (std::vector<std::string>{"texts: " + blocked,
                                                   "balloon Kestrune update blocked: " + blocked}));
  EXPECT_FALSE(w.blocked());
}

// The loader block is created zeroed at every LV1 start: the next run's first failure is news
// even when its count equals the last run's, and a zero count is never reported.
TEST_F(Watch, Lv1RestartStartsTheCountersAfresh) {
  start();
  lv1_starts(100 * kMinute);
  fail(0, 1, 193, "wing-4.0.0.dll");
  w.tick();
  EXPECT_EQ(sink.balloons().size(), 1u);
  sink.take();

  lv1_ends();
  block.reset();
  tick_after(1000);
  EXPECT_EQ(sink.take(), (std::vector<std::string>{"clear"}));

  lv1_starts(110 * kMinute);
  fail(0, 0, 0, "");  // the new block, nothing failed yet
  tick_after(1000);
  EXPECT_TRUE(sink.take().empty());
  fail(0, 1, 193, "wing-4.0.0.dll");
  tick_after(1000);
  EXPECT_EQ(sink.balloons().size(), 1u);
  sink.take();

  // LV1 restarted between two ticks: the counter went down, then up again to where it was.
  fail(0, 3, 193, "wing-4.0.0.dll");
  tick_after(1000);
  sink.take();
  fail(0, 3, 126, "wing-4.0.1.dll");
  block->types[0].failure_count = 1;
  tick_after(1000);
  ASSERT_EQ(sink.balloons().size(), 1u);
  EXPECT_NE(sink.balloons()[0].find("wing-4.0.1.dll could not be loaded (error 126)"),
            std::string::npos);
}

TEST_F(Watch, NoLoaderBlock45SecondsAfterLv1StartedIsJudgedOnce) {
  struct Case {
    bool sac;
    const char* text;
  } cases[] = {{false, kMayBeBlocked}, {true, kBlockedBySac}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sac);
    sink.take();
    sac = c.sac;
    start();
    lv1_starts(100 * kMinute);
    installed(90 * kMinute, 80 * kMinute);  // installed before LV1 started
    w.tick();
    tick_after(44999);
    EXPECT_TRUE(sink.take().empty());
    EXPECT_FALSE(w.blocked());
    tick_after(1);
    EXPECT_TRUE(w.blocked());
    EXPECT_EQ(sink.take(), (std::vector<std::string>{
                               std::string("texts: ") + c.text,
                               std::string("balloon Kestrune is not running in LV1: ") + c.text}));
    EXPECT_EQ(sac_minutes, 30);
    tick_after(1000);
    tick_after(60000);
    EXPECT_TRUE(sink.take().empty());
    lv1_ends();
    tick_after(1000);
    EXPECT_FALSE(w.blocked());
  }
}

TEST_F(Watch, LoaderBlockAt44SecondsMeansNoNotRunningNotice) {
  start();
  lv1_starts(100 * kMinute);
  installed(90 * kMinute, 80 * kMinute);
  w.tick();
  tick_after(44000);
  type(0);  // the loader came up
  for (int i = 0; i < 10; ++i) tick_after(1000);
  EXPECT_TRUE(sink.balloons().empty());
  EXPECT_FALSE(w.blocked());
}

// An install while LV1 ran: kestrune.version was written after LV1 started, though the copied
// Kestrune.dll keeps its build's older write time.
TEST_F(Watch, InstalledWhileLv1RanIsNotCalledBlocked) {
  start();
  lv1_starts(100 * kMinute);
  installed(101 * kMinute, 50 * kMinute);
  w.tick();
  tick_after(45000);
  EXPECT_EQ(sink.take(),
            (std::vector<std::string>{std::string("status: ") + kInstalledWhileRunning}));
  EXPECT_FALSE(w.blocked());
  tick_after(1000);
  EXPECT_TRUE(sink.take().empty());
}

TEST_F(Watch, NotInstalledOrNotOursIsNotJudgedYet) {
  start();
  lv1_starts(100 * kMinute);
  installed(90 * kMinute, 80 * kMinute);
  dir.clear();
  w.tick();
  tick_after(50000);
  own = false;
  dir = kDir;
  tick_after(1000);
  EXPECT_TRUE(sink.take().empty());
  own = true;  // installed later in this run: judged now
  tick_after(1000);
  EXPECT_TRUE(w.blocked());
  // LV1's process cannot be looked at: the milder reading, never "installed".
  sys.created.clear();
  lv1_ends();
  tick_after(1000);
  sys.procs = {{"eMotion LV1.exe", 42}};
  w.tick();
  tick_after(45000);
  EXPECT_TRUE(w.blocked());
}

TEST(LoadFailureNotice, Texts) {
  struct Case {
    const char* type;
    uint32_t error;
    const char* running;
    const char* want;
  } cases[] = {
      {"wing", 193, "", "The WING module f.dll could not be loaded (error 193)."},
      {"wing", 193, "4.0.0",
       "The WING module f.dll could not be loaded (error 193). Kestrune keeps running the version it had."},
      {"x32", 4551, "4.0.0",
       "Windows (Smart App Control) blocked the X32 / M32 module f.dll. Kestrune keeps running the version it had."},
      {"x32", 4551, "",
       "Windows (Smart App Control) blocked the X32 / M32 module f.dll. That console runs without Kestrune until it is allowed."},
      {"X32", 1, "", "The WING module f.dll could not be loaded (error 1)."},
  };
  for (const Case& c : cases) {
    LoaderTypeRecord r{};
    set_field_text(r.type_name, c.type);
    set_field_text(r.running_version, c.running);
    set_field_text(r.failed_file, "f.dll");
    r.last_error = c.error;
    EXPECT_EQ(load_failure_notice(r), c.want);
  }
  LoaderTypeRecord hostile;
  std::memset(&hostile, 'q', sizeof hostile);
  hostile.last_error = 5;
  const std::string t = load_failure_notice(hostile);
  EXPECT_NE(t.find(std::string(63, 'q') + " could not"), std::string::npos);
  EXPECT_NE(t.find("Kestrune keeps running"), std::string::npos);
}

struct FakeLog : EventSource {
  std::vector<std::string> events;
  std::string channel, xpath;
  int visited = 0;
  bool query(const std::string& c, const std::string& x,
             const std::function<bool(const std::string&)>& visit) override {
    channel = c;
    xpath = x;
    for (const std::string& e : events) {
      ++visited;
      if (visit(e)) break;
    }
    return true;
  }
};

TEST(SmartAppControl, QueryAndMatch) {
  EXPECT_EQ(
      sac_query(30),
      "*[System[(EventID=3077 or EventID=3033) and TimeCreated[timediff(@SystemTime) <= 1800000]]]");
  FakeLog log;
  log.events = {"<Event>C:\\x\\Kestrune.dll</Event>", "<Event>eMotion LV1.exe</Event>"};
  EXPECT_FALSE(sac_blocked_recently(log, 30));
  EXPECT_EQ(log.channel, "Microsoft-Windows-CodeIntegrity/Operational");
  log.events.push_back("<Event>\\Device\\eMotion LV1\\eMotion LV1.exe loaded Kestrune.dll</Event>");
  log.events.push_back("<Event>Kestrune eMotion LV1</Event>");
  log.visited = 0;
  EXPECT_TRUE(sac_blocked_recently(log, 30));
  EXPECT_EQ(log.visited, 3);  // stops at the first that names both
}

}  // namespace
}  // namespace ks::tray
