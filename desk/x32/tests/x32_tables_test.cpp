// Head-amp numbering, the gain scale, card routing, AES50 digits and the model rules.
#include "desk/x32/x32_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace ks {
namespace {

TEST(X32Numbering, BanksMapToHeadAmpsAndBack) {
  struct Case {
    const char* bank;
    int n;
    int index;
  };
  std::vector<Case> cases = {
      {"AN", 1, 0},   {"AN", 32, 31}, {"an", 5, 4},   {"A", 1, 32},
      {"A", 48, 79},  {"B", 1, 80},   {"B", 48, 127}, {"AN", 33, -1},
      {"AN", 0, -1},  {"A", 49, -1},  {"B", 49, -1},  {"B", -1, -1},
      {"CRD", 1, -1}, {"", 1, -1},    {"ANX", 1, -1}, {nullptr, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.bank ? c.bank : "(null)") + " " + std::to_string(c.n));
    EXPECT_EQ(x32_headamp_index(c.bank, c.n), c.index);
  }
  for (int i = 0; i < kX32HeadAmps; i++) {
    const char* bank;
    int n;
    ASSERT_TRUE(x32_headamp_input(i, &bank, &n));
    EXPECT_EQ(x32_headamp_index(bank, n), i);
  }
  const char* bank;
  int n;
  EXPECT_FALSE(x32_headamp_input(-1, &bank, &n));
  EXPECT_FALSE(x32_headamp_input(128, &bank, &n));
}

TEST(X32GainScale, WritesClampToTheDeskRange) {
  struct Case {
    double db;
    float wire;
  };
  std::vector<Case> cases = {{0.0, 12.0f / 72.0f}, {-12.0, 0.0f}, {60.0, 1.0f},        {70.0, 1.0f},
                             {-20.0, 0.0f},        {24.0, 0.5f},  {std::nan(""), 0.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.db);
    EXPECT_EQ(x32_gain_to_wire(c.db), c.wire);
  }
  EXPECT_NEAR(x32_gain_to_wire(0.0), 0.16667, 1e-5);
}

TEST(X32GainScale, DeskValuesOutsideTheRangeNeverBecomeGains) {
  double db = 99;
  EXPECT_TRUE(x32_gain_from_wire(0.5, &db));
  EXPECT_EQ(db, 24.0);
  EXPECT_TRUE(x32_gain_from_wire(0.0, &db));
  EXPECT_EQ(db, -12.0);
  EXPECT_TRUE(x32_gain_from_wire(1.0, &db));
  EXPECT_EQ(db, 60.0);
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), 5.0, 1.0001, -0.001}) {
    db = 7;
    EXPECT_FALSE(x32_gain_from_wire(bad, &db)) << bad;
    EXPECT_EQ(db, 7);
  }
}

TEST(X32Routing, CardBlockValues) {
  struct Case {
    int v;
    uint32_t n;
    X32Route::Kind kind;
    std::string bank;
    uint32_t input;
    int entry;
  };
  std::vector<Case> cases = {
      {0, 1, X32Route::direct, "AN", 1, 0},    {3, 32, X32Route::direct, "AN", 32, 0},
      {1, 9, X32Route::direct, "AN", 9, 0},    {4, 1, X32Route::direct, "A", 1, 0},
      {5, 12, X32Route::direct, "A", 12, 0},   {9, 8, X32Route::direct, "A", 48, 0},
      {10, 1, X32Route::direct, "B", 1, 0},    {15, 24, X32Route::direct, "B", 48, 0},
      {16, 3, X32Route::direct, "OUT", 3, 0},  {25, 3, X32Route::direct, "OUT", 3, 0},
      {-1, 3, X32Route::direct, "OUT", 3, 0},  {36, 3, X32Route::direct, "OUT", 3, 0},
      {26, 1, X32Route::user_out, "", 0, 1},   {26, 10, X32Route::user_out, "", 0, 2},
      {31, 32, X32Route::user_out, "", 0, 48}, {32, 1, X32Route::user_in, "", 0, 1},
      {35, 16, X32Route::user_in, "", 0, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + " card " + std::to_string(c.n));
    X32Route r = x32_card_route(c.v, c.n);
    EXPECT_EQ(r.kind, c.kind);
    if (c.kind == X32Route::direct) {
      EXPECT_EQ(r.bank, c.bank);
      EXPECT_EQ(r.n, c.input);
    } else {
      EXPECT_EQ(r.entry, c.entry);
    }
  }
}

TEST(X32Routing, UserRoutingEntries) {
  struct Case {
    int u;
    std::string bank;
    uint32_t n;
  };
  std::vector<Case> cases = {{1, "AN", 1},  {32, "AN", 32},  {33, "A", 1},
                             {80, "A", 48}, {81, "B", 1},    {128, "B", 48},
                             {0, "OUT", 7}, {129, "OUT", 7}, {-3, "OUT", 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.u);
    X32Route r = x32_user_route(c.u, 7);
    EXPECT_EQ(r.bank, c.bank);
    EXPECT_EQ(r.n, c.n);
  }
  EXPECT_EQ(x32_card_block_of_address("/config/routing/CARD/9-16"), 1);
  EXPECT_EQ(x32_card_block_of_address("/config/routing/CARD/25-32"), 3);
  EXPECT_EQ(x32_card_block_of_address("/config/routing/CARD/33-40"), -1);
  EXPECT_STREQ(x32_card_block_address(2), "/config/routing/CARD/17-24");
}

TEST(X32Aes50, DigitsPerBlockAndPerChannel) {
  struct Case {
    const char* status;
    int n;
    int digit;
  };
  std::string per_channel = "DL16" + std::string(16, '3') + std::string(32, '0');
  std::vector<Case> cases = {
      {"DL16330000", 1, 3},  // per block: 6 digits, one per 8 inputs
      {"DL16330000", 8, 3},
      {"DL16330000", 9, 3},
      {"DL16330000", 17, 0},
      {"DL16330000", 48, 0},
      {"    000000", 1, 0},
      {"DL1633", 9, 3},  // shorter string: input 17 falls past its end
      {"DL1633", 17, 0},
      {"DL1633", 48, 0},
      {"DL16x", 1, 0},  // not a digit
      {"DL16", 1, 0},   // shorter than 5
      {"", 1, 0},
      {per_channel.c_str(), 16, 3},
      {per_channel.c_str(), 17, 0},
      {"AAAA1234567", 7, 7},  // 7 characters after the head: one digit per input
      {"AAAA1234567", 8, 0},  // past the end, not the byte after it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.status) + " input " + std::to_string(c.n));
    EXPECT_EQ(x32_aes50_digit(c.status, c.n), c.digit);
  }
  EXPECT_EQ(x32_aes50_present("DL16330000"), 1);
  EXPECT_EQ(x32_aes50_present("    000000"), 0);
  EXPECT_EQ(x32_aes50_present("   X"), 1);
  EXPECT_EQ(x32_aes50_present("  "), 0);
  EXPECT_EQ(x32_aes50_present(""), 0);
}

TEST(X32Models, LocalPreampsByModel) {
  struct Case {
    const char* identity;
    uint32_t type_at_1;
    uint32_t type_at_16;
    uint32_t type_at_17;
    uint32_t type_at_32;
  };
  std::vector<Case> cases = {
      {"X32,10.0.0.1,FOH,X32,4.06", 3, 3, 3, 3},
      {"X32,10.0.0.1,FOH,M32,4.06", 3, 3, 3, 3},
      {"X32,10.0.0.1,FOH,X32RACK,4.06", 3, 3, 0, 0},
      {"X32,10.0.0.1,FOH,X32C,4.06", 3, 3, 0, 0},
      {"X32,10.0.0.1,FOH,X32P,4.06", 3, 3, 0, 0},
      {"X32,10.0.0.1,FOH,M32R,4.06", 3, 3, 0, 0},
      {"X32,10.0.0.1,FOH,X32 COMPACT,4.06", 3, 3, 0, 0},
      {"X32,10.0.0.1,FOH,x32producer,4.06", 3, 3, 0, 0},
      {"X32,10.0.0.1,FOH,M32C,4.06", 0, 0, 0, 0},
      {"X32,10.0.0.1,FOH,X32CORE,4.06", 0, 0, 0, 0},
      {"X32,10.0.0.1,Desk,with,commas,X32RACK,4.06", 3, 3, 0, 0},  // fields count from the end
      {"X32", 3, 3, 3, 3},                                         // no model field
      {"", 3, 3, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    char model[24];
    x32_identity_model(c.identity, model, sizeof model);
    EXPECT_EQ(x32_local_preamp_type(model, 1), c.type_at_1);
    EXPECT_EQ(x32_local_preamp_type(model, 16), c.type_at_16);
    EXPECT_EQ(x32_local_preamp_type(model, 17), c.type_at_17);
    EXPECT_EQ(x32_local_preamp_type(model, 32), c.type_at_32);
    EXPECT_EQ(x32_local_preamp_type(model, 33), 0u);
  }
  char model[24];
  EXPECT_TRUE(x32_identity_model("X32,ip,name,X32RACK,4.0", model, sizeof model));
  EXPECT_STREQ(model, "X32RACK");
  EXPECT_TRUE(x32_identity_model(("X32,ip,name," + std::string(40, 'M') + ",4.0").c_str(), model,
                                 sizeof model));
  EXPECT_EQ(std::string(model), std::string(23, 'M'));
  EXPECT_FALSE(x32_identity_model("X32,only", model, sizeof model));
  EXPECT_STREQ(model, "");
}

TEST(X32Numbers, BoundedDecimalParse) {
  auto parse = [](const char* s, int digits, int* v) {
    return x32_parse_number(s, s + std::strlen(s), digits, v);
  };
  int v = -1;
  EXPECT_TRUE(parse("000", 3, &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(parse("127", 3, &v));
  EXPECT_EQ(v, 127);
  EXPECT_FALSE(parse("", 3, &v));
  EXPECT_FALSE(parse("-1", 3, &v));
  EXPECT_FALSE(parse("0a1", 3, &v));
  EXPECT_FALSE(parse("1000", 3, &v));
  EXPECT_FALSE(parse("+12", 3, &v));
}

}  // namespace
}  // namespace ks
