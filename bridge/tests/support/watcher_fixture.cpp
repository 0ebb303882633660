#include "bridge/tests/support/watcher_fixture.h"

#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/desk.h"
#include "bridge/lifecycle.h"
#include "bridge/session_recall.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/watcher_flags.h"

namespace ks {

void WatcherTest::SetUp() {
  FrameworkTest::SetUp();
  watcher_reset();
  session_recall_reset();
  status_block_reset();
  set_bridge_clock(&clock);
  // The tests script the channel model themselves; each puts in the reads it wants to see.
  watcher_patch_reads() = PatchReads{};
  status_block_use_memory(block.get());
  // The pass is driven by the test: the thread slot returns at once.
  framework_hooks().lv1_watcher_thread = [] {};
  framework_hooks().desk_event = on_desk_event;
  framework_attach(&host().gain_object);
  settings().watch.store(8);
  for (int ch = 0; ch < 8; ++ch) {
    patch(ch, "LCL", static_cast<std::uint32_t>(ch + 1));
    FakeInput in;
    in.gain = 2.5 * ch;
    desk().set_input("LCL", static_cast<std::uint32_t>(ch + 1), in);
  }
  DeskAnswer a{};
  std::strcpy(a.ip, "127.0.0.1");
  std::strcpy(a.name, "Fake");
  std::strcpy(a.model, "ngc-full");
  std::strcpy(a.id, "S0000");
  use_desk(a);
  set_desk_chosen(true);
  watcher_begin(*w);
}

void WatcherTest::TearDown() {
  framework_shutdown();
  status_block_reset();
  session_recall_reset();
  watcher_reset();
  watcher_patch_reads() = default_patch_reads();
  FrameworkTest::TearDown();
}

void WatcherTest::patch(int ch, const char* bank, std::uint32_t input, bool head_amp) {
  ChannelRecord r = empty_channel_record();
  copy_text(r.bank, sizeof r.bank, bank);
  r.input = input;
  r.head_amp_input = input;
  r.head_amp_type = head_amp ? 3 : 1;
  r.has_head_amp = head_amp ? 1 : 0;
  channel_store(ch, r);
  set_patch_read(clock.now());
}

void WatcherTest::pass(std::uint32_t ms) {
  clock.advance(ms);
  watcher_pass(*w);
}

void WatcherTest::run_for(std::uint32_t ms) {
  for (std::uint32_t t = 0; t < ms; t += 20) pass(20);
}

std::vector<FakeReport> WatcherTest::gain_reports(int ch) {
  std::vector<FakeReport> out;
  for (const FakeReport& r : host().reports())
    if (r.channel == ch && r.has_gain) out.push_back(r);
  return out;
}

std::vector<FakeReport> WatcherTest::phantom_reports(int ch) {
  std::vector<FakeReport> out;
  for (const FakeReport& r : host().reports())
    if (r.channel == ch && r.has_48v) out.push_back(r);
  return out;
}

void WatcherTest::seed_all() {
  want(watcher_flags().reseed_wanted);
  pass();
  host().clear();
  desk().clear_calls();
}

}  // namespace ks
