// The status block as the tray program reads it, on a block in ordinary memory: publishing,
// the per-channel write, the watch request from the tray, closing.
#include <gtest/gtest.h>

#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/watcher_fixture.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"

namespace ks {
namespace {

class StatusBlockTest : public WatcherTest {
protected:
  void request(std::uint32_t seq, const char* bank, std::uint32_t base, std::uint32_t count,
               std::uint32_t resync) {
    WatchRequest& r = block->watch_request;
    std::memset(r.bank, 0, sizeof r.bank);
    std::memcpy(r.bank, bank, strnlen(bank, sizeof r.bank));
    r.base = base;
    r.count = count;
    block->watch_resync = resync;
    shm_store(r.request_seq, seq);
  }
};

TEST_F(StatusBlockTest, PublishingZeroesAStaleBlockAndStamps) {
  std::memset(block.get(), 0xAB, sizeof *block);
  status_block_use_memory(block.get());
  EXPECT_EQ(block->magic, kStatusMagic);
  EXPECT_EQ(block->version, kStatusLayoutVersion);
  EXPECT_EQ(block->watch_request.request_seq, 0u);
  for (const ControlOp& op : block->ring.op) EXPECT_FALSE(control_op_pending(op));
  EXPECT_EQ(block->status_text[0], '\0');
}

TEST_F(StatusBlockTest, ChannelsAtOrAboveTheWatchCountReadAsZero) {
  ChannelRecord r = channel_record(1);
  r.mute_bits = kMutedByDollarMute;
  channel_store(1, r);
  ASSERT_TRUE(protect_list_set("LCL", 3, true));
  settings().watch.store(4);
  status_block_sync();
  EXPECT_STREQ(block->src_bank[0], "LCL");
  EXPECT_EQ(block->src_input[3], 4u);
  EXPECT_EQ(block->has_head_amp[3], 1);
  EXPECT_EQ(block->mute_state[1], 2);
  EXPECT_EQ(block->is_protected[2], 1);
  EXPECT_EQ(block->level_db[0], kNoLevelDb);  // the fake gives no meters
  for (int ch = 4; ch < 64; ++ch) {
    EXPECT_EQ(block->src_bank[ch][0], '\0') << ch;
    EXPECT_EQ(block->src_input[ch], 0u) << ch;
    EXPECT_EQ(block->has_head_amp[ch], 0) << ch;
    EXPECT_EQ(block->level_db[ch], kNoLevelDb) << ch;
    EXPECT_EQ(block->peak_db[ch], kNoLevelDb) << ch;
  }
  EXPECT_EQ(block->watch_count, 4u);
  EXPECT_EQ(block->protect_count, 1u);
  EXPECT_STREQ(block->protect[0].bank, "LCL");
  EXPECT_EQ(block->protect[0].input, 3);
  EXPECT_STREQ(block->profile, "box");
  EXPECT_EQ(block->publish_mark, 1u);
  EXPECT_EQ(block->degraded, 0u);
  EXPECT_STREQ(block->status_text, "");
}

TEST_F(StatusBlockTest, PatchUnreadShowsReadingAndDegraded) {
  channel_model_reset();
  status_block_sync();
  EXPECT_STREQ(block->status_text, "Reading the desk patch...");
  EXPECT_EQ(block->degraded, 1u);
  EXPECT_EQ(block->patch_age_ms, kPatchNeverRead);
  EXPECT_EQ(block->range_max, kUnknownRangeMax);
}

// The refusals are the count handed over with the driver; a module that hands none (the
// X32/M32) never shows the refused-link text.
TEST_F(StatusBlockTest, HandedRefusalsTurnAnUnreadPatchIntoTheRefusedLinkText) {
  channel_model_reset();
  use_desk_driver(&desk().desc, [] { return uint32_t(3); });
  status_block_sync();
  EXPECT_STREQ(
      block->status_text,
      "Desk refused the control link - close WING Edit / the WING app, or check the firewall");
  use_desk_driver(&desk().desc, nullptr);
  status_block_sync();
  EXPECT_STREQ(block->status_text, "Reading the desk patch...");
}

TEST_F(StatusBlockTest, WatchRequestIsAppliedOnceAndBounded) {
  std::string cfg = dir + "/wing.cfg";
  write_text(cfg, "bank=LCL\n");
  use_host(cfg);
  config_load(cfg);
  settings().watch.store(8);
  watcher_flags().patch_wanted.store(0);

  request(1, "A", 200, 0, 0);
  status_block_sync();
  EXPECT_STREQ(settings().bank.get().s, "A");
  EXPECT_EQ(settings().base.load(), 64);  // base 200 becomes 64
  EXPECT_EQ(watch_count(), 8);            // count 0 keeps the watch count
  EXPECT_FALSE(settings().resync_lv1.load());
  EXPECT_TRUE(take(watcher_flags().patch_wanted));
  EXPECT_TRUE(host().logged("[shm] config applied from tray: bank=A base=64 watch=8 resync=desk"));
  std::string saved = read_text(cfg);
  EXPECT_NE(saved.find("bank=A\n"), std::string::npos);
  EXPECT_NE(saved.find("resync=desk\n"), std::string::npos);

  host().clear();
  status_block_sync();  // the same seq again: nothing
  EXPECT_FALSE(host().logged("[shm] config applied"));
  EXPECT_FALSE(take(watcher_flags().patch_wanted));

  request(2, "", 0, 300, 1);
  status_block_sync();
  EXPECT_STREQ(settings().bank.get().s, "A");  // an empty bank keeps the bank
  EXPECT_EQ(watch_count(), 64);
  EXPECT_TRUE(settings().resync_lv1.load());
}

TEST_F(StatusBlockTest, WatchRequestWithJunkBankKeepsTheBank) {
  const char* junk[] = {"ABCDEFGH" /* no NUL */, "A\nip=9", "B;x", "C D"};
  std::uint32_t seq = 1;
  for (const char* bank : junk) {
    request(seq++, bank, 0, 0, 1);
    status_block_sync();
    EXPECT_STREQ(settings().bank.get().s, "LCL") << bank;
  }
  EXPECT_TRUE(host().logged("[shm] watch request names no usable bank - keeping LCL"));
}

TEST_F(StatusBlockTest, ShrinkingTheWatchLeavesNoDrivableChannelAboveIt) {
  ASSERT_TRUE(channel_has_head_amp(6));
  request(1, "", 0, 4, 1);
  status_block_sync();
  EXPECT_EQ(watch_count(), 4);
  for (int ch = 4; ch < 8; ++ch) {
    EXPECT_FALSE(module_has_preamp(static_cast<std::uint32_t>(ch))) << ch;
    EXPECT_NE(bridge_set_gain(ch, 3.0), WriteOutcome::sent) << ch;
  }
  EXPECT_TRUE(module_has_preamp(3));
}

TEST_F(StatusBlockTest, RepublishingForgetsTheLastAppliedRequest) {
  request(5, "A", 0, 0, 1);
  status_block_sync();
  ASSERT_STREQ(settings().bank.get().s, "A");
  // The module is stopped and started again; the tray, seeing a fresh block, counts from where
  // it happens to be and posts 5 again.
  status_block_close(true);
  status_block_use_memory(block.get());
  request(5, "B", 0, 0, 1);
  status_block_sync();
  EXPECT_STREQ(settings().bank.get().s, "B");
}

TEST_F(StatusBlockTest, CloseLeavesModuleStoppedAndClearsTheLiveFlags) {
  status_block_sync();
  block->desk_answering = 1;
  block->lv1_loaded = 1;
  block->meters_live = 1;
  status_block_close(false);
  EXPECT_STREQ(block->status_text, "Module stopped");
  EXPECT_EQ(block->desk_answering, 0u);
  EXPECT_EQ(block->lv1_loaded, 0u);
  EXPECT_EQ(block->meters_live, 0u);
  EXPECT_NE(status_block(), nullptr);  // kept mapped: a late thread may still write
  status_block_close(true);
  EXPECT_EQ(status_block(), nullptr);
  status_block_sync();  // writers do nothing without a block
  status_set_text("ignored");
}

TEST_F(StatusBlockTest, DiscoveryTextIsClearedOnlyWhenItIsStillTheOneItWrote) {
  set_desk_chosen(false);
  status_set_text("Nothing answers at 10.0.0.9, the address set for this console");
  EXPECT_STREQ(block->status_text, "Nothing answers at 10.0.0.9, the address set for this console");
  status_set_text(nullptr);
  EXPECT_STREQ(block->status_text, "Searching for the desk...");
  std::strcpy(block->status_text, "someone else's");
  status_set_text("");
  EXPECT_STREQ(block->status_text, "someone else's");
}

TEST_F(StatusBlockTest, AddressCheckIsCopiedBounded) {
  AddressCheck a;
  a.state = 3;
  a.moves = 2;
  std::memset(a.ip, '9', sizeof a.ip);  // no NUL
  std::strcpy(a.id, "S77");
  status_set_address(a);
  status_write_address();
  EXPECT_EQ(block->address_state, 3u);
  EXPECT_EQ(block->address_moves, 2u);
  EXPECT_EQ(std::strlen(block->address_ip), sizeof block->address_ip - 1);
  EXPECT_STREQ(block->address_id, "S77");
}

}  // namespace
}  // namespace ks
