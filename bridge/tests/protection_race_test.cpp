// 48 V protection while the watcher rewrites the patch: LV1's threads switch 48 V on as fast as
// they can while another thread flips a channel between two unprotected inputs whose bank of one
// with the input of the other is protected. A torn read would send 48 V there; it never may.
// ks-test: timeout=300
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/lifecycle.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"

namespace ks {
namespace {

class ProtectionRace : public FrameworkTest {};

TEST_F(ProtectionRace, NoProtectedInputEverGets48V) {
  ASSERT_TRUE(protect_list_set("A", 7, true));
  channel_store(0, make_record("A", 5));
  channel_store(1, make_record("A", 5));  // a gang member, so gang copies run too
  set_desk_chosen(true);
  watcher_flags().seeding_done.store(1);
  set_patch_read(0);
  host().clear();

  std::atomic<bool> stop{false};
  std::thread patcher([&] {
    const ChannelRecord a = make_record("A", 5), aux = make_record("AUX", 7);
    for (uint32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
      channel_store(0, (i & 1) ? aux : a);
      channel_store(1, (i & 1) ? a : aux);
    }
  });
  std::vector<std::thread> lv1;
  for (int t = 0; t < 3; ++t)
    lv1.emplace_back([t] {
      for (int i = 0; i < 3000; ++i) {
        bridge_set_phantom(t % 2, true);
        bridge_set_gain(t % 2, double(i % 40));
        bridge_set_phantom(t % 2, false);
      }
    });
  for (auto& t : lv1) t.join();
  stop = true;
  patcher.join();

  std::set<std::string> targets;
  for (const std::string& c : desk().calls_of("send_phantom"))
    targets.insert(c.substr(0, c.size() - 2));
  EXPECT_EQ(targets.count("send_phantom A 7"), 0u);
  for (const std::string& t : targets)
    EXPECT_TRUE(t == "send_phantom A 5" || t == "send_phantom AUX 7") << t;
  for (const std::string& c : desk().calls_of("send_gain"))
    EXPECT_TRUE(c.rfind("send_gain A 5 ", 0) == 0 || c.rfind("send_gain AUX 7 ", 0) == 0) << c;
  EXPECT_FALSE(desk().calls_of("send_phantom").empty());
}

}  // namespace
}  // namespace ks
