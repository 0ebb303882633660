// The X32/M32's DeskDriver record as the module hands it over: what it offers, what it leaves to
// the desk, and its stubs.
#include <gtest/gtest.h>

#include <cstring>

#include "desk/x32/x32_desk.h"
#include "shared/desk_driver.h"

namespace ks {
namespace {

TEST(X32DeskRecord, SlotsAndStubs) {
  const DeskDriver* d = x32_module_parts().driver;
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d, x32_module_parts().driver);
  EXPECT_STREQ(x32_module_parts().type_name, "x32");
  EXPECT_STREQ(d->model_name, "Behringer X32 / Midas M32");
  EXPECT_STREQ(d->maker, "Music Tribe");
  EXPECT_EQ(d->caps, 0u);
  EXPECT_EQ(x32_module_parts().control_refusals, nullptr) << "the framework answers 0";
  // Left to the framework's defaults.
  EXPECT_EQ(d->read_card_type, nullptr);
  EXPECT_EQ(d->read_port_devices, nullptr);
  EXPECT_EQ(d->read_port_remote, nullptr);
  EXPECT_EQ(d->stagebox_channels, nullptr);
  EXPECT_EQ(d->bank_size, nullptr);
  EXPECT_EQ(d->read_tcplock, nullptr);
  EXPECT_NE(d->ha_link_partner, nullptr);
  EXPECT_NE(d->aes50_port_present, nullptr);

  uint32_t v = 9;
  EXPECT_FALSE(d->read_mute("AN", 1, &v));
  EXPECT_EQ(v, 0u);
  v = 9;
  EXPECT_TRUE(d->read_mode("AN", 1, &v));
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(d->stereo_lead("AN", 6), 6u);
  EXPECT_FALSE(d->set_patch("CRD", 1, "AN", 1));
  EXPECT_FALSE(d->send_mode("AN", 1, "ST"));
  char text[32] = "x";
  EXPECT_FALSE(d->read_route("CRD", 1, "grp", &v, text, sizeof text));
  EXPECT_STREQ(text, "");
  char name[20] = "x";
  EXPECT_FALSE(d->read_name("AN", 1, name, sizeof name));
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(d->meters_start(nullptr));
  EXPECT_FALSE(d->meters_flowing());
  EXPECT_EQ(d->meter_frames(), 0u);
  double db;
  EXPECT_FALSE(d->meter_now("AN", 1, &db));
  EXPECT_FALSE(d->meter_clip("AN", 1));

  double lo, hi, step;
  ASSERT_TRUE(d->gain_range("B", 48, &lo, &hi, &step));
  EXPECT_EQ(lo, -12.0);
  EXPECT_EQ(hi, 60.0);
  EXPECT_EQ(step, 0.5);
  EXPECT_FALSE(d->gain_range("AN", 33, &lo, &hi, &step));
  EXPECT_FALSE(d->gain_range("CRD", 1, &lo, &hi, &step));
  EXPECT_TRUE(d->is_preamp_bank("AN"));
  EXPECT_TRUE(d->is_preamp_bank("a"));
  EXPECT_TRUE(d->is_preamp_bank("B"));
  EXPECT_FALSE(d->is_preamp_bank("LCL"));
  EXPECT_FALSE(d->is_preamp_bank("CRD"));

  // Without a link nothing is sent and nothing is read.
  EXPECT_FALSE(d->link_alive());
  EXPECT_FALSE(d->send_gain("AN", 1, 0));
  EXPECT_FALSE(d->read_gain("AN", 1, &db));
  EXPECT_EQ(d->aes50_port_present("A"), -1);
  EXPECT_EQ(d->ha_link_partner("AN", 1, name, sizeof name, nullptr), -1);
  EXPECT_FALSE(d->connect(""));
  EXPECT_FALSE(d->connect("desk.local"));
}

TEST(X32DeskRecord, AdoptKeepsTheIdentityLineBounded) {
  const DeskDriver* d = x32_module_parts().driver;
  DeskAnswer a;
  std::memset(&a, 'x', sizeof a);  // no terminator anywhere: the copy must stop at the field
  d->adopt(&a);
  ASSERT_NE(d->identity(), nullptr);
  EXPECT_EQ(std::strlen(d->identity()), sizeof a.identity - 1);
  std::strcpy(a.identity, "X32,192.0.2.9,FOH,M32C,4.06");
  d->adopt(&a);
  EXPECT_STREQ(d->identity(), "X32,192.0.2.9,FOH,M32C,4.06");
  uint32_t type = 9;
  ASSERT_TRUE(d->headamp_type("AN", 1, &type));
  EXPECT_EQ(type, 0u);  // an M32C has no local preamps
}

}  // namespace
}  // namespace ks
