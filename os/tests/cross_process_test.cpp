// Named shared blocks and named events are seen by another process under the same name.
#include <gtest/gtest.h>

#include <cstring>

#include "os/event.h"
#include "os/shared_memory.h"
#include "os/tests/support/process.h"

namespace ks {
namespace {

TEST(CrossProcess, PeerSeesTheBlockAndBothEventDirectionsWork) {
  const size_t size = 64 * 1024 + 100;  // not a whole number of pages
  const std::string name = testing::unique_name("block");
  SharedMemory block;
  ASSERT_TRUE(block.create(name, size)) << block.last_error();
  EXPECT_FALSE(block.existed());
  auto* p = static_cast<unsigned char*>(block.data());
  for (size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << "a new block starts zeroed";
  for (size_t i = 0; i < size / 2; ++i) p[i] = static_cast<unsigned char>(i * 7 + 1);

  Event ready, go;
  const std::string ready_name = testing::unique_name("ready");
  const std::string go_name = testing::unique_name("go");
  ASSERT_TRUE(ready.create_named(ready_name, Event::Reset::automatic));
  ASSERT_TRUE(go.create_named(go_name, Event::Reset::manual));

  testing::Child peer;
  ASSERT_TRUE(
      peer.start(testing::peer_path(), {"block", name, std::to_string(size), ready_name, go_name}));
  ASSERT_TRUE(ready.wait(20000)) << "the peer never set the named event";
  for (size_t i = size / 2; i < size; ++i)
    ASSERT_EQ(p[i], static_cast<unsigned char>(i * 13 + 5)) << "peer's write not seen at " << i;
  go.set();
  int code = -1;
  ASSERT_TRUE(peer.wait(20000, code));
  EXPECT_EQ(code, 0) << "peer failed at step " << code;
}

TEST(NamedObjects, SecondCreateOpensTheSameObject) {
  const std::string name = testing::unique_name("same");
  SharedMemory a, b;
  ASSERT_TRUE(a.create(name, 4096));
  ASSERT_TRUE(b.create(name, 4096));
  EXPECT_FALSE(a.existed());
  EXPECT_TRUE(b.existed());
  static_cast<char*>(a.data())[100] = 'x';
  EXPECT_EQ(static_cast<char*>(b.data())[100], 'x');

  // Asking for more than the existing block holds fails instead of handing out a short view.
  SharedMemory big;
  EXPECT_FALSE(big.create(name, 1 << 20));
  EXPECT_FALSE(big.open(name, 1 << 20));

  Event e1, e2;
  const std::string ev = testing::unique_name("same-ev");
  ASSERT_TRUE(e1.create_named(ev, Event::Reset::manual));
  ASSERT_TRUE(e2.create_named(ev, Event::Reset::automatic));  // opens e1's: stays manual-reset
  EXPECT_TRUE(e2.existed());
  e2.set();
  EXPECT_TRUE(e1.wait(0));
  EXPECT_TRUE(e1.wait(0)) << "manual-reset stays set";
  e1.reset();
  EXPECT_FALSE(e2.wait(0));
}

TEST(NamedObjects, OpenFailsWhenNoneExistsAndTheNameGoesWithTheLastClose) {
  const std::string name = testing::unique_name("gone");
  SharedMemory m;
  EXPECT_FALSE(m.open(name, 16));
  Event e;
  EXPECT_FALSE(e.open_named(name));
  EXPECT_FALSE(e.valid());

  {
    SharedMemory a;
    ASSERT_TRUE(a.create(name, 16));
    SharedMemory ro;
    ASSERT_TRUE(ro.open(name, 16, SharedMemory::Access::read_only));
    static_cast<char*>(a.data())[0] = 'k';
    EXPECT_EQ(static_cast<const char*>(ro.data())[0], 'k');
  }
  EXPECT_FALSE(m.open(name, 16)) << "a block outlived its last handle";

  {
    Event a;
    ASSERT_TRUE(a.create_named(name, Event::Reset::automatic, true));
    Event b;
    ASSERT_TRUE(b.open_named(name));
    EXPECT_TRUE(b.wait(0));
  }
  EXPECT_FALSE(e.open_named(name)) << "an event outlived its last handle";
}

}  // namespace
}  // namespace ks
