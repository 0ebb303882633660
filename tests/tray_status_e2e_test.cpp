// The tray program's status link against the real system: the LV1 stand-in runs the real
// Kestrune.dll and the signed Fellbrook against the simulated WING, and this process, as the tray
// program, reads both blocks through the product's names, posts dashboard commands that the
// module serves and the desk receives, and, with the module's file damaged, gives the load watch's
// notice from the real loader block.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

#include "tests/e2e/desk_run.h"
#include "tests/e2e/tray_side.h"
#include "tray/services/load_watch.h"
#include "tray/services/status_link.h"

namespace ks::e2e {
namespace {

using namespace ks::tray;

bool same_db(double a, double b) { return std::fabs(a - b) < 0.01; }

// The run's transcript is the record of what each side saw: always printed.
void print_transcript(const DeskRunResult& r) {
  for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
}

// The command's result once the module served it.
bool served(StatusLink& link, uint32_t seq, uint32_t& result, std::string& reply) {
  return eventually([&] { return link.command_result(seq, &result, &reply); }, 10000);
}

TEST(TrayStatusEndToEnd, ReadsBothBlocksAndCommandsTheRunningModule) {
  DeskRunOptions o;
  o.verbose = true;
  bool checked = false;
  o.outside_check = [&](const DeskProbe& p) {
    StandInAsLv1 sys;
    StatusLinkEnv env;  // the product's block names and the system clock
    env.lv1_running = [&sys] { return lv1_running(sys); };
    StatusLink link(env);
    ASSERT_TRUE(eventually([&] { return link.tray_state() == TrayState::linked; }, 10000));
    EXPECT_EQ(link.active_console(), 0);
    EXPECT_FALSE(link.module_too_old());
    p.say("tray    status link: WING block active, tray state linked");

    char line[160];
    ASSERT_TRUE(link.read_desk_line("", line, sizeof line));
    EXPECT_EQ(std::string(line), p.identity_line);
    EXPECT_FALSE(link.read_desk_line("-x32", line, sizeof line));  // no X32 module runs

    const StatusSnapshot s = link.read_status_snapshot("");
    EXPECT_EQ(s.present, 1u);
    EXPECT_EQ(s.version, kStatusLayoutVersion);
    EXPECT_NE(s.desk_answering, 0u);
    EXPECT_NE(s.lv1_loaded, 0u);
    for (int ch = 0; ch < 8; ++ch) {
      EXPECT_STREQ(s.src_bank[ch], "LCL") << ch;
      EXPECT_EQ(s.src_input[ch], uint32_t(ch + 1)) << ch;
      EXPECT_EQ(s.has_head_amp[ch], 1) << ch;
    }
    // The values the module published are the desk's: LV1 moved ch 2, the desk moved ch 4.
    const StatusBlock* b = status_block_of(link.active_view());
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(same_db(b->gain_db[1], p.desk_gain_db(2))) << b->gain_db[1];
    EXPECT_TRUE(same_db(b->gain_db[3], p.desk_gain_db(4))) << b->gain_db[3];
    EXPECT_TRUE(same_db(b->gain_db[3], 42.0));
    char say[200];
    std::snprintf(
        say, sizeof say,
        "tray    snapshot: desk line \"%s\"; ch 2 %+.1f dB, ch 4 %+.1f dB, LCL 1..8 with head amps",
        line, b->gain_db[1], b->gain_db[3]);
    p.say(say);

    char groups[16][kBankBytes];
    uint32_t counts[16];
    const size_t n = link.list_reroute_groups(groups, counts, 16);
    ASSERT_GE(n, 1u);
    EXPECT_STREQ(groups[0], "LCL");
    EXPECT_EQ(counts[0], 8u);
    EXPECT_EQ(link.group_cache_key("lcl"), "127.0.0.1/LCL");

    uint8_t raw[kLoaderBlockSize];
    ASSERT_TRUE(link.read_loader_block(raw));
    const auto* lb = reinterpret_cast<const LoaderBlock*>(raw);
    EXPECT_STREQ(lb->types[0].type_name, "wing");
    EXPECT_STREQ(lb->types[0].running_version, KS_E2E_VERSION);
    EXPECT_EQ(lb->types[0].failure_count, 0u);
    p.say(std::string("tray    loader block: loader ") + lb->loader_version + ", wing module " +
          lb->types[0].running_version + " running, no failed loads");

    // A gain through the ring: on the range's grid, for LCL 7, which nothing else moved.
    const double step = b->range_step > 0 ? b->range_step : 0.5;
    const double want = b->range_min + step * std::round((30.0 - b->range_min) / step);
    const uint32_t seq = link.post_command(uint32_t(ControlOpCode::SetGain), 6, 0, want);
    ASSERT_NE(seq, 0u);
    uint32_t result = 0;
    std::string reply;
    ASSERT_TRUE(served(link, seq, result, reply));
    EXPECT_EQ(result, uint32_t(ControlResult::Done)) << reply;
    EXPECT_TRUE(eventually([&] { return same_db(p.desk_gain_db(7), want); }, 5000))
        << p.desk_gain_db(7);
    std::snprintf(
        say, sizeof say,
        "tray    posted SetGain ch 7 %+.1f dB as #%u: done; the desk's LCL 7 reads %+.1f dB", want,
        unsigned(seq), p.desk_gain_db(7));
    p.say(say);

    // One the module refuses, with its reply text.
    const uint32_t refused = link.post_command(uint32_t(ControlOpCode::SetGain), 6, 0, 500.0);
    ASSERT_NE(refused, 0u);
    ASSERT_TRUE(served(link, refused, result, reply));
    EXPECT_EQ(result, uint32_t(ControlResult::Refused));
    EXPECT_EQ(reply, "500.0 dB is outside this input's range");
    EXPECT_TRUE(same_db(p.desk_gain_db(7), want));
    p.say("tray    posted SetGain ch 7 +500 dB as #" + std::to_string(refused) + ": refused, \"" +
          reply + "\"");
    checked = true;
  };
  DeskRunResult r = run_wing(o);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(r.module_loaded);
  EXPECT_TRUE(r.status_shows_desk);
  print_transcript(r);
}

struct RecordingSink : NoticeSink {
  std::vector<std::string> balloons, texts;
  void set_notice_and_status(const std::string& t) override { texts.push_back(t); }
  void set_status(const std::string& t) override { texts.push_back(t); }
  void clear_notice() override {}
  void balloon(const std::string& title, const std::string& t) override {
    balloons.push_back(title + ": " + t);
  }
};

TEST(TrayStatusEndToEnd, DamagedModuleGivesTheLoadWatchsNotice) {
  DeskRunOptions o;
  o.damaged_module = true;
  bool checked = false;
  o.outside_check = [&](const DeskProbe& p) {
    StatusLink link;
    StandInAsLv1 sys;
    RecordingSink sink;
    std::vector<std::string> log;
    LoadWatchEnv env;
    env.sys = &sys;
    env.read_loader_block = [&](uint8_t(&out)[kLoaderBlockSize]) {
      return link.read_loader_block(out);
    };
    env.sink = &sink;
    env.log = [&](const std::string& s) { log.push_back(s); };
    LoadWatch watch(env);
    ASSERT_TRUE(eventually(
        [&] {
          watch.tick();
          return !sink.balloons.empty();
        },
        40000));
    uint8_t raw[kLoaderBlockSize];
    ASSERT_TRUE(link.read_loader_block(raw));
    const LoaderTypeRecord& rec = reinterpret_cast<const LoaderBlock*>(raw)->types[0];
    const std::string file = std::string("wing-") + KS_E2E_VERSION + ".dll";
    EXPECT_EQ(rec.failure_count, 1u);
    EXPECT_STREQ(rec.failed_file, file.c_str());
    EXPECT_STREQ(rec.running_version, "");
    EXPECT_NE(rec.last_error, 0u);
    const std::string text = "The WING module " + file + " could not be loaded (error " +
                             std::to_string(rec.last_error) + ").";
    ASSERT_EQ(sink.balloons.size(), 1u);
    EXPECT_EQ(sink.balloons[0], std::string(kTitleUpdateBlocked) + ": " + text);
    EXPECT_EQ(log, (std::vector<std::string>{"notified: " + text}));
    for (int i = 0; i < 5; ++i) watch.tick();  // the same count is not news
    EXPECT_EQ(sink.balloons.size(), 1u);
    EXPECT_FALSE(watch.blocked());
    p.say("tray    load watch: \"" + sink.balloons[0] + "\"");
    checked = true;
  };
  DeskRunResult r = run_wing(o);
  EXPECT_TRUE(checked);
  EXPECT_FALSE(r.module_loaded);
  print_transcript(r);
}

}  // namespace
}  // namespace ks::e2e
