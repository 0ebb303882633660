// ks-test: lock=status-block
// The block under its shared-memory name, as the tray program opens it: the host's suffix picks
// the name, and a stop leaves "Module stopped" for the tray before the view goes.
#include <gtest/gtest.h>

#include <cstring>

#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/framework_fixture.h"
#include "os/shared_memory.h"

namespace ks {
namespace {

class StatusBlockNamed : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    status_block_reset();
  }
  void TearDown() override {
    status_block_reset();
    FrameworkTest::TearDown();
  }
};

TEST_F(StatusBlockNamed, PublishedUnderTheHostsSuffix) {
  host().record().status_suffix = u"-x32";
  ASSERT_TRUE(status_block_publish());
  EXPECT_TRUE(host().logged("[shm] status block published as Local\\KestruneStatus-x32"));
  SharedMemory tray;
  ASSERT_TRUE(
      tray.open("Local\\KestruneStatus-x32", kStatusBlockUsed, SharedMemory::Access::read_only));
  auto* seen = static_cast<const StatusBlock*>(tray.data());
  EXPECT_EQ(seen->magic, kStatusMagic);
  EXPECT_EQ(seen->version, kStatusLayoutVersion);

  status_block_close(true);
  EXPECT_STREQ(seen->status_text, "Module stopped");  // the tray's view outlives ours
  EXPECT_EQ(status_block(), nullptr);
}

TEST_F(StatusBlockNamed, AStaleBlockFromAnEarlierRunIsZeroed) {
  SharedMemory earlier;
  ASSERT_TRUE(earlier.create("Local\\KestruneStatus", kStatusMappingSize));
  auto* b = static_cast<StatusBlock*>(earlier.data());
  std::memset(b, 0x5A, kStatusBlockUsed);
  ASSERT_TRUE(status_block_publish());
  EXPECT_EQ(b->magic, kStatusMagic);
  EXPECT_EQ(b->watch_request.request_seq, 0u);
  EXPECT_EQ(b->ring.op[3].seq, 0u);
  EXPECT_EQ(b->status_text[0], '\0');
  status_block_close(true);
}

// A reset forgets the line discovery wrote and the address check. The status-text path holds the
// text lock while it reads the address; the reset takes the same two locks, never both at once.
TEST_F(StatusBlockNamed, ResetForgetsTheDiscoveryLineAndTheAddressCheck) {
  set_desk_chosen(false);
  AddressCheck a;
  a.state = 3;
  std::strcpy(a.ip, "10.0.0.9");
  status_set_address(a);
  status_set_text("Nothing answers at 10.0.0.9, the address set for this console");
  status_block_reset();
  EXPECT_EQ(status_block(), nullptr);
  EXPECT_EQ(status_address().state, 0u);
  EXPECT_STREQ(status_address().ip, "");

  ASSERT_TRUE(status_block_publish());
  StatusBlock* b = status_block();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->status_text[0], '\0');
  // The remembered line is gone: clearing "ours" now writes where discovery is at.
  status_set_text(nullptr);
  EXPECT_STREQ(b->status_text, "Searching for the desk...");
  status_block_close(true);
}

}  // namespace
}  // namespace ks
