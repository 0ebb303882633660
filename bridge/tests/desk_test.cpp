// Taking and dropping a desk through the driver record.
#include "bridge/desk.h"

#include <gtest/gtest.h>

#include <cstring>

#include "bridge/lifecycle.h"
#include "bridge/tests/support/framework_fixture.h"

namespace ks {
namespace {

std::string g_taken_ip, g_taken_line;
void record_taken(const char* ip, const char* line) {
  g_taken_ip = ip ? ip : "";
  g_taken_line = line ? line : "(none)";
}

DeskAnswer answer(const char* ip, const char* name, const char* id) {
  DeskAnswer a{};
  std::strcpy(a.ip, ip);
  std::strcpy(a.name, name);
  std::strcpy(a.model, "ngc-full");
  std::strcpy(a.id, id);
  a.card = 1;
  return a;
}

class Desk : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    framework_hooks().desk_taken = record_taken;
    g_taken_ip.clear();
    g_taken_line.clear();
  }
};

TEST_F(Desk, TakingADeskConnectsLast) {
  use_desk(answer("127.0.0.5", "FOH", "S1234"));
  EXPECT_EQ(desk().calls(), (std::vector<std::string>{"meters_start", "set_event_callback fn",
                                                      "connect 127.0.0.5"}));
  EXPECT_TRUE(host().logged("[bridge] using 127.0.0.5 (Fake Desk) - ngc-full FOH, id S1234"));
  DeskIdentity d = desk_identity();
  EXPECT_STREQ(d.ip, "127.0.0.5");
  EXPECT_STREQ(d.id, "S1234");
  EXPECT_STREQ(d.name, "FOH");
  EXPECT_EQ(g_taken_ip, "127.0.0.5");
  EXPECT_EQ(g_taken_line, "WING,127.0.0.1,Fake,ngc-full,S0000,3.0");
}

TEST_F(Desk, DisplayNameFallsBackToTheIdThenTheAddress) {
  use_desk(answer("127.0.0.6", "", "S9"));
  EXPECT_STREQ(desk_identity().name, "S9");
  use_desk(answer("127.0.0.7", "", ""));
  EXPECT_STREQ(desk_identity().name, "127.0.0.7");
  EXPECT_TRUE(host().logged("[bridge] using 127.0.0.7 (Fake Desk) - identity not checked"));
  desk().desc.identity = []() -> const char* { return nullptr; };
  use_desk(answer("127.0.0.8", "x", "y"));
  EXPECT_EQ(g_taken_line, "(none)");
}

TEST_F(Desk, AnAnswerWithoutTerminatorsIsBoundedByItsFields) {
  DeskAnswer a;
  std::memset(&a, 'Z', sizeof a);
  use_desk(a);
  DeskIdentity d = desk_identity();
  EXPECT_EQ(std::strlen(d.ip), 47u);
  EXPECT_EQ(std::strlen(d.id), 39u);
  EXPECT_EQ(std::strlen(d.name), 39u);
}

TEST_F(Desk, DroppingADeskReportsADriverThreadThatGotStuck) {
  EXPECT_TRUE(drop_desk());
  EXPECT_EQ(desk().calls(),
            (std::vector<std::string>{"set_event_callback null", "disconnect", "meters_stop"}));
  desk().stick_on_disconnect(true);
  EXPECT_FALSE(drop_desk());
}

}  // namespace
}  // namespace ks
