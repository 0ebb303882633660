// The status block copy the tray takes, and the preview's demo status block built with the real
// record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tray/ui/model/console_card.h"
#include "tray/ui/model/preview_demo.h"

namespace ks::tray {
namespace {

TEST(SnapshotCopy, MagicAndLayoutDecideWhatIsCopied) {
  auto block = std::make_unique<StatusBlock>();
  make_demo_status_block(*block);
  block->address_state = 1;
  std::memset(block->source_devices[0].port, 'P', sizeof block->source_devices[0].port);  // no NUL
  block->source_device_count = 1;
  StatusSnapshot s;
  snapshot_from_block(*block, s);
  EXPECT_EQ(s.present, 1u);
  EXPECT_EQ(s.version, 17u);
  EXPECT_EQ(snap_text(s.desk_line), kDemoBlockLine);
  EXPECT_EQ(s.address_state, 1u);
  EXPECT_EQ(snap_text(s.source_devices[0].port), "PPPPPPP");  // bank text cut to 7 characters
  EXPECT_EQ(answer_count(s), 1u);

  block->version = 15;
  snapshot_from_block(*block, s);
  EXPECT_EQ(s.answer_count, 1u);  // version 15 fields
  EXPECT_EQ(s.source_device_count, 0u);
  EXPECT_EQ(s.address_state, 0u);

  block->version = 14;
  snapshot_from_block(*block, s);
  EXPECT_EQ(s.answer_count, 0u);
  EXPECT_EQ(snap_text(s.chosen_console), "");

  block->magic = 0;
  snapshot_from_block(*block, s);
  EXPECT_EQ(s.present, 0u);
  EXPECT_EQ(snap_text(s.desk_line), "");
}

TEST(DemoBlock, ADeskTheDashboardPagesCanShow) {
  auto b = std::make_unique<StatusBlock>();
  make_demo_status_block(*b);
  EXPECT_EQ(b->magic, kStatusMagic);
  EXPECT_EQ(b->version, kStatusLayoutVersion);
  EXPECT_EQ(b->desk_answering, 1u);
  EXPECT_EQ(b->meter_frames, 4210u);
  EXPECT_STREQ(b->desk_ip, "10.42.20.2");
  EXPECT_STREQ(b->mac, "00:1c:d1:01:b0:d9");
  EXPECT_STREQ(b->profile, "v17.3");
  EXPECT_EQ(b->watch_count, 64u);
  EXPECT_EQ(b->input_list_count, 24u);
  EXPECT_LE(b->answer_count, kAnswerSummaries);
  EXPECT_LE(b->protect_count, kProtectCapacity);
  EXPECT_LE(b->range_count, kGroupRanges);
  // The groups and names the pages are drawn with.
  bool groups[6] = {};
  const char* want[6] = {"LCL", "A", "B", "SC", "USB", "OFF"};
  for (uint32_t ch = 0; ch < kChannels; ++ch)
    for (int g = 0; g < 6; ++g)
      if (std::strcmp(b->src_bank[ch], want[g]) == 0) groups[g] = true;
  for (int g = 0; g < 6; ++g) EXPECT_TRUE(groups[g]) << want[g];
  bool names[6] = {};
  const char* wanted[6] = {"Amb L", "Amb R", "Playback L", "Playback R", "Click", "Shout"};
  for (uint32_t ch = 0; ch < kChannels; ++ch)
    for (int n = 0; n < 6; ++n)
      if (std::strcmp(b->channel_name[ch], wanted[n]) == 0) names[n] = true;
  for (int n = 0; n < 6; ++n) EXPECT_TRUE(names[n]) << wanted[n];
  // Every text field is terminated inside its field.
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    EXPECT_LT(std::strlen(b->channel_name[ch]), kChannelNameBytes);
    EXPECT_LT(std::strlen(b->src_bank[ch]), kBankBytes);
  }
  // A protected input never has 48 V on in the demo.
  for (uint32_t ch = 0; ch < kChannels; ++ch)
    if (b->is_protected[ch]) {
      EXPECT_EQ(b->phantom[ch], 0) << ch;
    }

  // Read as the tray reads it, it is a connected WING.
  DashboardState st;
  dashboard_state_init(st);
  st.lv1_running = 1;
  st.installed[0] = st.on[0] = st.card_module_present[0] = 1;
  st.loader_block_present = 1;
  st.loader_block.types[0].live_usable = 1;
  snapshot_from_block(*b, st.snapshot[0]);
  ConsoleCard c = build_console_card(st, kWing);
  EXPECT_EQ(c.state, kCodeConnected);
  EXPECT_EQ(c.name, "WING Rack");
  EXPECT_EQ(c.meta, "WSG card \u00b7 10.42.20.2 \u00b7 fw 3.1-0");
  EXPECT_TRUE(c.shown);
}

}  // namespace
}  // namespace ks::tray
