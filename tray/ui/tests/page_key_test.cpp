// The status page's key: what the page shows changes it, what only the meters show (and the
// counters that move on every publish) does not.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "tray/ui/page_key.h"

namespace ks::tray {
namespace {

struct Scene {
  std::unique_ptr<StatusBlock> block = std::make_unique<StatusBlock>();
  BridgeView view;
  BridgeState bs;
  Scene() {
    std::memset(block.get(), 0, sizeof *block);
    block->watch_count = 16;
    view.block = block.get();
    view.lv1_running = true;
    view.lv1_uptime_ms = 600000;
  }
  uint64_t key() const { return status_page_key(view, bs); }
};

TEST(StatusPageKey, ChangesWithWhatThePageShowsOnly) {
  struct Case {
    const char* what;
    std::function<void(Scene&)> change;
    bool page_changes;
  } cases[] = {
      // What only the meters show, and what moves on every publish.
      {"a level", [](Scene& s) { s.block->level_db[3] = -12.5; }, false},
      {"a peak", [](Scene& s) { s.block->peak_db[63] = -3.0; }, false},
      {"a clip flag", [](Scene& s) { s.block->clip[0] = 1; }, false},
      {"the meter frames", [](Scene& s) { s.block->meter_frames += 7; }, false},
      {"the publish mark", [](Scene& s) { s.block->publish_mark += 1; }, false},
      {"the send count", [](Scene& s) { s.block->sent_count += 1; }, false},
      {"the receive count", [](Scene& s) { s.block->recv_count += 1; }, false},
      {"the last write's tick", [](Scene& s) { s.block->last_write_tick = 123456; }, false},
      {"the patch's age", [](Scene& s) { s.block->patch_age_ms = 2500; }, false},
      {"a command's reply", [](Scene& s) { s.block->ring.op[0].reply[0] = 'x'; }, false},
      {"the signal scan's time", [](Scene& s) { s.bs.signal.last_scan_ms = 99; }, false},
      {"LV1's uptime past its start", [](Scene& s) { s.view.lv1_uptime_ms = 700000; }, false},
      // What the page itself shows.
      {"a gain", [](Scene& s) { s.block->gain_db[5] = 30.5; }, true},
      {"a 48 V", [](Scene& s) { s.block->phantom[63] = 1; }, true},
      {"the desk answering", [](Scene& s) { s.block->desk_answering = 1; }, true},
      {"the watch count", [](Scene& s) { s.block->watch_count = 24; }, true},
      {"the status text", [](Scene& s) { s.block->status_text[0] = 'L'; }, true},
      {"a source", [](Scene& s) { s.block->src_input[2] = 9; }, true},
      {"the meters going live", [](Scene& s) { s.block->meters_live = 1; }, true},
      {"a channel name", [](Scene& s) { s.block->channel_name[1][0] = 'K'; }, true},
      {"a link mode", [](Scene& s) { s.block->link_mode[8] = 1; }, true},
      {"a protected input", [](Scene& s) { s.block->is_protected[4] = 1; }, true},
      {"a parked gain", [](Scene& s) { s.block->parked_valid[4] = 1; }, true},
      {"the protect list", [](Scene& s) { s.block->protect_count = 1; }, true},
      {"the last field", [](Scene& s) { s.block->address_name[39] = 'z'; }, true},
      {"another block", [](Scene& s) { s.view.block = nullptr; }, true},
      {"LV1 gone", [](Scene& s) { s.view.lv1_running = false; }, true},
      {"LV1 starting", [](Scene& s) { s.view.lv1_uptime_ms = 5000; }, true},
      {"LV1's version", [](Scene& s) { s.view.lv1_version = u"4.1"; }, true},
      {"a problem counted", [](Scene& s) { s.view.problems = 1; }, true},
      {"an install pending", [](Scene& s) { s.view.install_pending = true; }, true},
      {"the other console", [](Scene& s) { s.view.active_console = 1; }, true},
      {"a clip latched", [](Scene& s) { s.bs.clips.latch[7] = 1; }, true},
      {"the loudest peak", [](Scene& s) { s.bs.clips.loudest_peak_db = -1.0; }, true},
      {"a signal", [](Scene& s) { s.bs.signal.mask = 1; }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene s;
    const uint64_t before = s.key();
    EXPECT_EQ(s.key(), before);
    c.change(s);
    if (c.page_changes)
      EXPECT_NE(s.key(), before);
    else
      EXPECT_EQ(s.key(), before);
  }
}

}  // namespace
}  // namespace ks::tray
