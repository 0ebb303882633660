// The WING's DeskDriver record as the module hands it over: names, capability bits, which slots
// it fills, the refusal count beside it, and that each slot reaches the desk as its name says (a
// swapped slot would send a gain as 48 V).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "desk/wing/tests/support/wing_test_support.h"
#include "desk/wing/wing_desk.h"
#include "desk/wing/wing_link.h"
#include "os/socket.h"
#include "shared/desk_driver.h"
#include "sim/wing/wing_sim.h"

namespace ks {
namespace {

using sim::SimValue;
using test::eventually;

TEST(WingDeskRecord, NamesCapsAndFilledSlots) {
  const DeskDriver* d = wing_module_parts().driver;
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d, wing_module_parts().driver);
  EXPECT_STREQ(wing_module_parts().type_name, "wing");
  EXPECT_STREQ(d->model_name, "Behringer WING");
  EXPECT_STREQ(d->maker, "Music Tribe");
  EXPECT_EQ(d->caps, 0x1Fu);
  EXPECT_TRUE(d->caps & CAP_STEREO_LINK);
  EXPECT_TRUE(d->caps & CAP_REPATCH);

  // Every function slot but the last two is filled: the record is pointers from identity up to
  // aes50_port_present, with caps as the one value among them.
  const auto* slots = reinterpret_cast<const void* const*>(d);
  const size_t caps_slot = offsetof(DeskDriver, caps) / sizeof(void*);
  const size_t partner_slot = offsetof(DeskDriver, ha_link_partner) / sizeof(void*);
  for (size_t i = 0; i < kDeskDriverSize / sizeof(void*); i++) {
    if (i == caps_slot) continue;
    SCOPED_TRACE("slot " + std::to_string(i));
    if (i >= partner_slot)
      EXPECT_EQ(slots[i], nullptr);
    else
      EXPECT_NE(slots[i], nullptr);
  }
  // Distinct functions where the desk reads distinct things.
  EXPECT_NE(reinterpret_cast<const void*>(d->meter_now),
            reinterpret_cast<const void*>(d->meter_peak));
  EXPECT_NE(reinterpret_cast<const void*>(d->sent_count),
            reinterpret_cast<const void*>(d->received_count));

  EXPECT_TRUE(d->is_preamp_bank("lcl"));
  EXPECT_TRUE(d->is_preamp_bank("SC"));
  EXPECT_FALSE(d->is_preamp_bank("CRD"));
  EXPECT_EQ(d->stagebox_channels("DL16,DL16"), 32u);
  EXPECT_EQ(d->stagebox_channels(""), 0xFFFFFFFFu);
}

TEST(WingDeskRecord, RefusalsAreTheLinksFailedConnects) {
  test::DriverRecorder rec;
  const ModuleParts& parts = wing_module_parts();
  const DeskDriver* d = parts.driver;
  ASSERT_NE(parts.control_refusals, nullptr);
  const uint32_t before = parts.control_refusals();
  EXPECT_EQ(before, link_failed_connects());
  // Nothing listens here: every connect is refused.
  ASSERT_TRUE(d->connect("127.0.0.152"));
  EXPECT_TRUE(eventually([&] { return parts.control_refusals() > before; }, 8000));
  d->disconnect();
  EXPECT_FALSE(d->link_alive());
  EXPECT_EQ(parts.control_refusals(), link_failed_connects());
  EXPECT_GT(parts.control_refusals(), before);
}

struct Event {
  std::string bank, kind;
  int32_t n;
  double value;
  uint8_t flag;
};
std::mutex g_m;
std::vector<Event> g_events;
void KS_ABI on_event(const char* bank, int32_t n, const char* kind, double value, uint8_t flag,
                     const void*) {
  std::lock_guard<std::mutex> g(g_m);
  g_events.push_back(Event{bank, kind, n, value, flag});
}
bool got(const char* bank, int32_t n, const char* kind, double value) {
  std::lock_guard<std::mutex> g(g_m);
  for (const Event& e : g_events)
    if (e.bank == bank && e.n == n && e.kind == kind && e.value == value) return true;
  return false;
}

TEST(WingDeskRecord, SlotsReachTheDesk) {
  test::DriverRecorder rec;
  sim::WingSim desk;
  ASSERT_TRUE(desk.start(*parse_ipv4("127.0.0.151")));
  desk.set("io/in/A/3/g", SimValue::of_float(18.0));
  desk.set("io/in/A/4/vph", SimValue::of_flag(true));

  const DeskDriver* d = wing_module_parts().driver;
  DeskAnswer a{};
  std::snprintf(a.ip, sizeof a.ip, "127.0.0.151");
  std::snprintf(a.identity, sizeof a.identity, "%s", desk.identity_line().c_str());
  d->adopt(&a);
  EXPECT_STREQ(d->identity(), desk.identity_line().c_str());
  d->set_event_callback(on_event);
  ASSERT_TRUE(d->connect("127.0.0.151"));
  ASSERT_TRUE(eventually([&] { return d->link_alive(); }, 4000));

  double db = 0;
  ASSERT_TRUE(d->read_gain("A", 3, &db));
  EXPECT_EQ(db, 18.0);
  uint8_t on = 0;
  ASSERT_TRUE(d->read_phantom("A", 4, &on));
  EXPECT_EQ(on, 1);
  ASSERT_TRUE(d->read_phantom("A", 3, &on));
  EXPECT_EQ(on, 0);

  const uint32_t sent = d->sent_count();
  ASSERT_TRUE(d->send_gain("A", 5, 9.5));
  ASSERT_TRUE(d->send_phantom("A", 6, 1));
  SimValue v;
  EXPECT_TRUE(eventually([&] { return desk.get("io/in/A/5/g", &v) && v.number == 9.5; }, 3000));
  EXPECT_TRUE(eventually([&] { return desk.get("io/in/A/6/vph", &v) && v.number == 1; }, 3000));
  EXPECT_GE(d->sent_count(), sent + 2);
  EXPECT_GT(d->received_count(), 0u);

  // A move at the desk comes back through the callback the record installed.
  desk.set("io/in/A/3/g", SimValue::of_float(-2.0));
  EXPECT_TRUE(eventually([] { return got("A", 3, "g", -2.0); }, 3000));
  EXPECT_GT(d->event_count(), 0u);

  d->set_event_callback(nullptr);
  d->disconnect();
  EXPECT_FALSE(d->link_alive());
  desk.stop();
}

}  // namespace
}  // namespace ks
