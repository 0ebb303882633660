// The poll tick's order and its two message-clearing rules; the module-log scan.
#include <gtest/gtest.h>

#include <vector>

#include "tray/ui/shell/poll_tick.h"

namespace ks::tray {
namespace {

struct RecordingSteps : PollSteps {
  bool running = false, loaded = false;
  TrayState state = TrayState::idle;
  std::vector<std::string> calls;
  void scan_module_logs() override { calls.push_back("scan"); }
  void load_watch_tick() override { calls.push_back("watch"); }
  void update_tick() override { calls.push_back("update"); }
  void locate_install() override { calls.push_back("locate"); }
  bool lv1_running() override { return running; }
  bool selected_block_lv1_loaded() override { return loaded; }
  TrayState tray_state() override {
    calls.push_back("state");
    return state;
  }
  void show_state_icon(TrayState from, TrayState to) override {
    calls.push_back("icon " + std::to_string(int(from)) + "->" + std::to_string(int(to)));
  }
  void refresh_tooltip() override { calls.push_back("tip"); }
  void invalidate_dashboard() override { calls.push_back("paint"); }
  std::string joined() const {
    std::string s;
    for (const auto& c : calls) s += (s.empty() ? "" : " ") + c;
    return s;
  }
};

TEST(PollTick, StepsInOrderAndTheIconOnlyOnAChange) {
  RecordingSteps steps;
  DashboardUiState ui;
  TrayState shown = TrayState::idle;
  run_poll_tick(ui, shown, steps);
  EXPECT_EQ(steps.joined(), "scan watch update state tip paint");  // setup page closed: no locate
  steps.calls.clear();
  ui.setup_open = true;
  steps.state = TrayState::attention;
  run_poll_tick(ui, shown, steps);
  EXPECT_EQ(steps.joined(), "scan watch update locate state icon 0->2 tip paint");
  EXPECT_EQ(shown, TrayState::attention);
  steps.calls.clear();
  run_poll_tick(ui, shown, steps);
  EXPECT_EQ(steps.joined(), "scan watch update locate state tip paint");
}

TEST(PollTick, ClearsTheStartingAndInstalledMessagesWhenTheyCameTrue) {
  struct Case {
    const char* message;
    bool setup_open, running, loaded;
    bool cleared;
  } cases[] = {
      {"Starting eMotion LV1\xE2\x80\xA6", true, true, false, true},
      {"Starting eMotion LV1\xE2\x80\xA6", true, false, true, false},
      {"Starting eMotion LV1\xE2\x80\xA6", false, true, true,
       false},  // only while the setup page is open
      {"Starting eMotion LV1\xE2\x80\xA6 now", true, true, true, false},  // exactly that text
      {"Installed. Start eMotion LV1 and assign the card.", true, true, true, true},
      {"Installed. Start eMotion LV1 and assign the card.", true, true, false, false},
      {"Installed, but could not switch it on", true, true, true, false},
      {"Kestrune was reinstalled. Start LV1.", true, true, true, false},
  };
  for (const Case& c : cases) {
    RecordingSteps steps;
    steps.running = c.running;
    steps.loaded = c.loaded;
    DashboardUiState ui;
    ui.setup_open = c.setup_open;
    ui.action_message.set(c.message, false);
    TrayState shown = TrayState::idle;
    run_poll_tick(ui, shown, steps);
    EXPECT_EQ(ui.action_message.text.empty(), c.cleared) << c.message;
  }
}

TEST(ModuleLogScan, CountsFaultsSinceTheLastStart) {
  const std::string log =
      "12:00 ACCESS VIOLATION in old session\n"
      "12:01 ---- Wing preamp bridge attached ----\n"
      "12:02 gain FAULTED once\r\n"
      "12:03 fine\n"
      "12:04 [x32] started by the loader ----\n"
      "12:05 UNSUPPORTED LV1 BUILD v18.0\r\n"
      "12:06 fine\n"
      "12:07 ACCESS VIOLATION at 0x1234";  // no line end at the tail
  std::string line;
  EXPECT_EQ(scan_module_log(log, line), 2);
  EXPECT_EQ(line, "12:07 ACCESS VIOLATION at 0x1234");
  EXPECT_EQ(scan_module_log("12:00 FAULTED\n12:01 FAULTED again\n", line),
            2);  // no marker: from the start
  EXPECT_EQ(line, "12:01 FAULTED again");
  EXPECT_EQ(scan_module_log("a\n---- Wing preamp bridge attached ----\n", line), 0);
  EXPECT_EQ(line, "");
  EXPECT_EQ(scan_module_log("", line), 0);
  // A very long fault line is cut to what is kept; a NUL inside does not end the scan.
  std::string nul("FAULTED\0x\n", 10);
  EXPECT_EQ(scan_module_log(nul + "FAULTED " + std::string(400, 'z'), line), 2);
  EXPECT_EQ(line.size(), kFaultLineMax);
}

TEST(ModuleLogScan, FoldingBothLogs) {
  FaultSummary s;
  fold_fault_scans(s, 2, "wing fault", 0, "");
  EXPECT_EQ(s.count, 2u);
  EXPECT_EQ(s.last_line, "wing fault");
  fold_fault_scans(s, 1, "wing again", 3, "x32 fault");
  EXPECT_EQ(s.count, 4u);
  EXPECT_EQ(s.last_line, "x32 fault");
  fold_fault_scans(s, 0, "", 0, "");  // nothing new: the stored line stays
  EXPECT_EQ(s.count, 0u);
  EXPECT_EQ(s.last_line, "x32 fault");
}

}  // namespace
}  // namespace ks::tray
