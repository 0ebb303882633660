// ks-test: timeout=180
// The WING driver's slots against the simulated desk: the hash preload, guarded reads, the
// whole-node preamp read, writes and pushes, gain range, patch, card and port reads.
#include "desk/wing/wing_slots.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "desk/wing/tests/support/wing_test_support.h"
#include "desk/wing/wing_link.h"
#include "desk/wing/wing_nodes.h"
#include "os/socket.h"
#include "sim/wing/wing_sim.h"

namespace ks {
namespace {

using sim::SimValue;
using test::eventually;

std::string in(const char* bank, int n, const char* leaf) {
  return std::string("io/in/") + bank + "/" + std::to_string(n) + "/" + leaf;
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
                     const void* extra) {
  std::lock_guard<std::mutex> g(g_m);
  g_events.push_back(Event{bank, kind, n, value, flag});
  EXPECT_EQ(extra, nullptr);
}
std::vector<Event> events() {
  std::lock_guard<std::mutex> g(g_m);
  return g_events;
}

class WingSlots : public testing::Test {
protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> g(g_m);
      g_events.clear();
    }
    ASSERT_TRUE(sim_.start(addr_));
  }
  void connect() {
    DeskAnswer a{};
    std::snprintf(a.identity, sizeof a.identity, "%s", sim_.identity_line().c_str());
    wing_adopt(&a);
    ASSERT_TRUE(wing_connect("127.0.0.131"));
    ASSERT_TRUE(eventually([] { return wing_link_alive(); }, 4000));
  }
  void TearDown() override {
    wing_set_event_callback(nullptr);
    wing_disconnect();
    sim_.stop();
  }
  const uint32_t addr_ = *parse_ipv4("127.0.0.131");
  test::DriverRecorder rec_;
  sim::WingSim sim_;
};

// First in this file: the preload runs once per process.
TEST_F(WingSlots, PreloadOfAnnouncedBuild) {
  sim_.set_firmware("9.9-sim");
  const PreloadRow rows[] = {
      {"C", 40, "g", sim_.hash_of(in("C", 40, "g"))},
      {"C", 40, "vph", sim_.hash_of(in("C", 40, "vph"))},
      {"C", 41, "g", sim_.hash_of(in("C", 41, "g"))},
  };
  const PreloadBuild builds[] = {{"9.9-sim", rows, 3}};
  wing_set_preload_builds(builds, 1);
  connect();
  EXPECT_EQ(rec_.count_containing(
                "[bin] firmware 9.9-sim: 3 node hashes preloaded - no read runs on trust"),
            1);
  EXPECT_EQ(node_table().lookup("C", 40, "vph"), rows[1].hash);
  // Preloaded, so the very first read is guarded.
  sim_.set(in("C", 41, "g"), SimValue::of_float(6.0));
  double v = 0;
  EXPECT_TRUE(wing_read_gain("C", 41, &v));
  EXPECT_EQ(v, 6.0);
  // Not tried again on a reconnect, even for another build.
  wing_disconnect();
  DeskAnswer a{};
  std::snprintf(a.identity, sizeof a.identity, "WING,127.0.0.131,Sim,wing,S1,10.0-other");
  wing_adopt(&a);
  EXPECT_EQ(rec_.count_containing("[desk] WING firmware is now 10.0-other (was 9.9-sim)"), 1);
  ASSERT_TRUE(wing_connect("127.0.0.131"));
  EXPECT_EQ(rec_.count_containing("[bin] firmware"), 1);
  wing_set_preload_builds(nullptr, 0);
}

TEST_F(WingSlots, UnknownBuildLearnsAsItReads) {
  wing_set_preload_builds(nullptr, 0);
  connect();
  EXPECT_EQ(rec_.count_containing("no hash table for this build - learning hashes as it reads"), 1);
}

TEST_F(WingSlots, PreampReadLearnsAndGuards) {
  // Set before connecting: a push arriving during the whole-node read would join its answer.
  sim_.set(in("LCL", 5, "g"), SimValue::of_float(12.5));
  sim_.set(in("LCL", 5, "vph"), SimValue::of_flag(true));
  connect();
  double db = 0;
  uint8_t on = 0, valid = 0;
  ASSERT_TRUE(wing_read_preamp("LCL", 5, &db, &on, &valid));
  EXPECT_EQ(db, 12.5);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(valid, 1);
  EXPECT_EQ(node_table().lookup("LCL", 5, "g"), sim_.hash_of(in("LCL", 5, "g")));
  EXPECT_EQ(node_table().lookup("LCL", 5, "vph"), sim_.hash_of(in("LCL", 5, "vph")));

  // Guarded reads: a reply of the wrong type is refused, and logged.
  sim_.update_faults([](sim::SimFaults& f) { f.wrong_type_next = 1; });
  EXPECT_FALSE(wing_read_gain("LCL", 5, &db));
  EXPECT_EQ(
      rec_.count_containing("[read] LCL 5/g answered value type 0x80 - not this leaf, ignoring"),
      1);
  EXPECT_TRUE(wing_read_phantom("LCL", 5, &on));
  EXPECT_EQ(on, 1);

  // Unknown inputs get no answer.
  EXPECT_FALSE(wing_read_preamp("LCL", 99, &db, &on, &valid));
  EXPECT_FALSE(wing_read_gain("LCL", 0, &db));
}

// A whole-node answer without its 48 V item does not mean "off".
TEST_F(WingSlots, PreampWithoutPhantomItemIsNotOff) {
  sim_.set(in("LCL", 7, "vph"), SimValue::of_flag(true));
  connect();
  double db = 0;
  uint8_t on = 0, valid = 0;
  ASSERT_TRUE(wing_read_preamp("LCL", 7, &db, &on, &valid));  // learns the node's hashes
  EXPECT_EQ(on, 1);
  sim_.update_faults([](sim::SimFaults& f) { f.omit_leaf = "vph"; });
  on = 7;
  EXPECT_FALSE(wing_read_preamp("LCL", 7, &db, &on, &valid)) << "the desk did not say: no answer";
  EXPECT_EQ(on, 7) << "no 48 V value was reported";
  // Missing from the node's answer only: the leaf is asked on its own.
  sim_.set_faults(sim::SimFaults{});
  sim_.update_faults([](sim::SimFaults& f) { f.omit_item = "vph"; });
  sim_.clear_records();
  ASSERT_TRUE(wing_read_preamp("LCL", 7, &db, &on, &valid));
  EXPECT_EQ(on, 1);
  ASSERT_TRUE(sim_.wait_records([](auto& r) { return r.size() >= 2; }, 1000));
  EXPECT_EQ(sim_.records()[1].request.path, "io/in/LCL/7/vph");
}

TEST_F(WingSlots, WritesReachTheDeskAndPushesReachTheFramework) {
  connect();
  wing_set_event_callback(on_event);
  double db;
  uint8_t on;
  ASSERT_TRUE(wing_read_gain("A", 3, &db));  // learns the hashes the pushes will carry
  ASSERT_TRUE(wing_read_phantom("A", 3, &on));

  ASSERT_TRUE(wing_send_gain("A", 3, 31.2));
  ASSERT_TRUE(wing_send_phantom("A", 3, 1));
  ASSERT_TRUE(wing_send_mode("A", 3, "ST"));
  ASSERT_TRUE(sim_.wait_records([](auto& r) { return r.size() >= 5; }, 2000));
  SimValue v;
  sim_.get(in("A", 3, "g"), &v);
  EXPECT_EQ(v.number, 31.0) << "stepped at the desk";
  sim_.get(in("A", 3, "vph"), &v);
  EXPECT_EQ(v.number, 1.0);
  sim_.get(in("A", 3, "mode"), &v);
  EXPECT_EQ(v.text, "ST");
  EXPECT_FALSE(wing_send_gain("A", 3, NAN));

  // A move at the desk.
  sim_.set(in("A", 3, "g"), SimValue::of_float(-2.0));
  ASSERT_TRUE(eventually(
      [] {
        for (const Event& e : events())
          if (e.kind == "g" && e.value == -2.0) return true;
        return false;
      },
      2000));
  for (const Event& e : events()) {
    EXPECT_EQ(e.bank, "A");
    EXPECT_EQ(e.n, 3);
  }
  bool saw_vph = false;
  for (const Event& e : events()) saw_vph |= e.kind == "vph" && e.flag == 1;
  EXPECT_TRUE(saw_vph) << "the echo of the 48 V write";

  // A pushed value of the wrong type for its leaf never reaches the framework.
  size_t before = events().size();
  uint32_t h = sim_.hash_of(in("A", 3, "g"));
  sim_.inject(
      {0xD7, uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), 0x81, 'x', 'y'});
  sim_.set(in("A", 3, "vph"), SimValue::of_flag(false));
  ASSERT_TRUE(eventually([&] { return events().size() > before; }, 2000));
  for (size_t i = before; i < events().size(); ++i) EXPECT_EQ(events()[i].kind, "vph");

  // Cleared: nothing more arrives.
  wing_set_event_callback(nullptr);
  before = events().size();
  sim_.set(in("A", 3, "g"), SimValue::of_float(5.0));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(events().size(), before);
}

// The console ends every data and definition request with an end mark, also when the value
// already answered it, and the mark may come only after the next request went out. A
// whole-node read behind a leaf read or a definition read must not take that mark as its end.
TEST_F(WingSlots, PreampReadsBehindTrailingEndMarks) {
  sim_.set(in("LCL", 6, "g"), SimValue::of_float(18.0));
  sim_.set(in("LCL", 6, "vph"), SimValue::of_flag(true));
  connect();
  struct Case {
    const char* what;
    bool console, late;
  };
  const Case cases[] = {
      {"end marks after whole-node answers only", false, false},
      {"end marks after every request", true, false},
      {"end marks after every request, sent late", true, true},
  };
  for (const Case& c : cases) {
    sim_.update_faults([&](sim::SimFaults& f) {
      f.console = c.console;
      f.late_end_marks = c.late;
    });
    int ok = 0;
    for (int i = 0; i < 10; ++i) {
      double db = 0, mn = 0, mx = 0, st = 0;
      uint8_t on = 0, valid = 0;
      EXPECT_TRUE(wing_read_gain("LCL", 6, &db)) << c.what;
      bool a = wing_read_preamp("LCL", 6, &db, &on, &valid);
      EXPECT_TRUE(a && db == 18.0 && on == 1 && valid == 1)
          << c.what << " after a leaf read, round " << i;
      EXPECT_TRUE(wing_gain_range("LCL", 6, &mn, &mx, &st)) << c.what;
      EXPECT_EQ(mx, 45.5) << c.what;
      bool b = wing_read_preamp("LCL", 6, &db, &on, &valid);
      EXPECT_TRUE(b && db == 18.0 && on == 1 && valid == 1)
          << c.what << " after a definition read, round " << i;
      ok += a && b;
    }
    EXPECT_EQ(ok, 10) << c.what;
  }
}

// A value is read only from a whole token of a type the read takes: a raw float or a string
// where the desk says whether another desk holds the preamp is no answer, not 63 or 49.
TEST_F(WingSlots, ValuesOnlyFromWholeTokens) {
  wing_reset_name_state();
  struct Case {
    const char* what;
    int n;
    SimValue ract;
    uint32_t type;
    const char* log;
  };
  const Case cases[] = {
      {"raw float 1.0", 6, SimValue::of_raw(1.0), 3, "[patch] A 6: remote control is enabled"},
      {"string 'A1'", 7, SimValue::of_text("A1"), 3, "[patch] A 7: remote control is enabled"},
      {"integer 2", 8, SimValue::of_int(2), 0,
       "[patch] A 8: preamp controlled remotely by another desk over AES50 - no knob here (2)"},
  };
  for (const Case& c : cases) {
    sim_.set(in("A", c.n, "rmt"), SimValue::of_text("ON"));
    ASSERT_TRUE(sim_.retype(in("A", c.n, "$ract"), c.ract));
  }
  connect();
  for (const Case& c : cases) {
    uint32_t type = 99;
    ASSERT_TRUE(wing_headamp_type("A", c.n, &type)) << c.what;
    EXPECT_EQ(type, c.type) << c.what;
    EXPECT_EQ(rec_.count_containing(c.log), 1) << c.what;
  }
}

TEST_F(WingSlots, ModeMuteAndStereoLead) {
  // Before connecting: a first (unguarded) read could take a concurrent push for its reply.
  sim_.set(in("LCL", 9, "mode"), SimValue::of_text("ST"));
  sim_.set(in("LCL", 10, "mode"), SimValue::of_text("ST"));
  sim_.set(in("LCL", 11, "mode"), SimValue::of_text("bogus"));
  connect();
  uint32_t mode = 99;
  ASSERT_TRUE(wing_read_mode("LCL", 9, &mode));
  EXPECT_EQ(mode, 1u);
  ASSERT_TRUE(wing_read_mode("LCL", 10, &mode));
  EXPECT_EQ(mode, 2u);
  EXPECT_FALSE(wing_read_mode("LCL", 11, &mode));
  EXPECT_EQ(rec_.count_containing("[mode] LCL 11 answered 'bogus' - not a mode token"), 1);
  EXPECT_EQ(wing_stereo_lead("LCL", 10), 9u);
  EXPECT_EQ(wing_stereo_lead("LCL", 12), 12u);

  uint32_t state = 9;
  ASSERT_TRUE(wing_read_mute("LCL", 9, &state));
  EXPECT_EQ(state, 0u);
  sim_.set(in("LCL", 9, "$mute"), SimValue::of_int(1));
  ASSERT_TRUE(wing_read_mute("LCL", 9, &state));
  EXPECT_EQ(state, 2u);
  sim_.set(in("LCL", 9, "mute"), SimValue::of_flag(true));
  ASSERT_TRUE(wing_read_mute("LCL", 9, &state));
  EXPECT_EQ(state, 1u);
}

TEST_F(WingSlots, GainRangePatchCardsAndPorts) {
  sim_.set("io/out/MOD/31/grp", SimValue::of_text("L-1!"));
  sim_.set("io/out/MOD/32/in", SimValue::of_int(70));
  connect();
  double mn = 0, mx = 0, st = 0;
  ASSERT_TRUE(wing_gain_range("LCL", 1, &mn, &mx, &st));
  EXPECT_EQ(mn, -3.0);
  EXPECT_EQ(mx, 45.5);
  EXPECT_DOUBLE_EQ(st, 0.5);
  EXPECT_FALSE(wing_gain_range("LCL", 99, &mn, &mx, &st));

  char bank[8];
  uint32_t idx = 0;
  ASSERT_TRUE(wing_read_source("MOD", 30, bank, sizeof bank, &idx));
  EXPECT_STREQ(bank, "A");
  EXPECT_EQ(idx, 6u);
  ASSERT_TRUE(wing_set_patch("MOD", 30, "B", 12));
  ASSERT_TRUE(sim_.wait_records(
      [](auto& r) {
        for (auto& x : r)
          if (x.request.path == "io/out/MOD/30/in" &&
              x.request.kind == sim::SimRequest::Kind::kWrite)
            return true;
        return false;
      },
      2000));
  ASSERT_TRUE(wing_read_source("MOD", 30, bank, sizeof bank, &idx));
  EXPECT_STREQ(bank, "B");
  EXPECT_EQ(idx, 12u);
  // The index goes as an integer token, the type the node reads back as; a console refuses a
  // float for it. Read once first: guarded reads never take the writes' echoes for replies.
  ASSERT_TRUE(wing_read_source("MOD", 29, bank, sizeof bank, &idx));
  for (uint32_t input : {1u, 63u, 64u}) {
    sim_.clear_records();
    ASSERT_TRUE(wing_set_patch("MOD", 29, "C", input));
    sim::SimRecord write{};
    ASSERT_TRUE(sim_.wait_records(
        [&](auto& r) {
          for (auto& x : r)
            if (x.request.path == "io/out/MOD/29/in" &&
                x.request.kind == sim::SimRequest::Kind::kWrite)
              return write = x, true;
          return false;
        },
        2000));
    EXPECT_EQ(write.request.value.kind, SimValue::Kind::kInt) << input;
    EXPECT_EQ(write.request.value.number, double(input));
    ASSERT_TRUE(wing_read_source("MOD", 29, bank, sizeof bank, &idx)) << input;
    EXPECT_STREQ(bank, "C");
    EXPECT_EQ(idx, input);
  }
  EXPECT_EQ(sim_.rejected_writes(), 0u);
  EXPECT_FALSE(wing_set_patch("MOD", 65, "B", 1));
  EXPECT_FALSE(wing_set_patch("MOD", 1, "B", 0));

  EXPECT_FALSE(wing_read_source("MOD", 31, bank, sizeof bank, &idx));
  EXPECT_EQ(rec_.count_containing("[patch] out MOD/31 grp answered 'L-1!' - not a group token"), 1);
  EXPECT_FALSE(wing_read_source("MOD", 32, bank, sizeof bank, &idx));
  EXPECT_EQ(rec_.count_containing("[patch] out MOD/32 in answered 70 - out of range"), 1);

  uint32_t value = 0;
  char text[32];
  ASSERT_TRUE(wing_read_route("MOD", 30, "grp", &value, text, sizeof text));
  EXPECT_STREQ(text, "B");
  ASSERT_TRUE(wing_read_route("MOD", 30, "in", &value, text, sizeof text));
  EXPECT_EQ(value, 12u);

  char card[16];
  ASSERT_TRUE(wing_read_card_type("MOD", card, sizeof card));
  EXPECT_STREQ(card, "WSG");
  ASSERT_TRUE(wing_read_card_type("CRD", card, sizeof card));
  EXPECT_STREQ(card, "NONE");
  EXPECT_FALSE(wing_read_card_type("XYZ", card, sizeof card));

  char devices[32];
  ASSERT_TRUE(wing_read_port_devices("A", devices, sizeof devices));
  EXPECT_STREQ(devices, "DL32");
  uint8_t on = 9;
  ASSERT_TRUE(wing_read_port_remote("B", &on));
  EXPECT_EQ(on, 0);
  ASSERT_TRUE(wing_read_tcplock(&on));
  EXPECT_EQ(on, 0);

  EXPECT_EQ(wing_bank_size("LCL"), 8u) << "model 'wing'";
  EXPECT_TRUE(wing_is_preamp_bank("sc"));
  EXPECT_FALSE(wing_is_preamp_bank("AUX"));
}

TEST_F(WingSlots, NamesThroughTheChannelMap) {
  wing_reset_name_state();
  sim_.set("ch/3/name", SimValue::of_text("Kick In"));
  sim_.set("ch/4/in/conn/grp", SimValue::of_text("OFF"));  // not connected: no entry
  sim_.set("ch/5/in/conn/in", SimValue::of_int(3));        // second channel on LCL 3
  sim_.set("ch/5/name", SimValue::of_text("Kick Sub"));
  sim_.set(in("LCL", 4, "name"), SimValue::of_text("Snare Top Microphone 1"));
  sim_.set(in("LCL", 6, "name"), SimValue::of_text("PATCH 12"));
  sim_.set("ch/6/in/conn/grp", SimValue::of_text("OFF"));
  connect();
  char name[20];
  ASSERT_TRUE(wing_read_name("LCL", 3, name, sizeof name));
  EXPECT_STREQ(name, "Kick In") << "the first channel on an input names it";
  ASSERT_TRUE(wing_read_name("lcl", 1, name, sizeof name));
  EXPECT_STREQ(name, "Ch 1");
  ASSERT_TRUE(wing_read_name("LCL", 4, name, sizeof name));
  EXPECT_STREQ(name, "Snare Top Microphon") << "the input's own name, cut to the caller's buffer";
  ASSERT_TRUE(wing_read_name("LCL", 6, name, sizeof name));
  EXPECT_STREQ(name, "") << "the desk's placeholder is no name";
  EXPECT_FALSE(wing_read_name("LCL", 0, name, sizeof name));

  // The map is kept for 5 s: a rename shows through the input's own name only after that.
  sim_.set("ch/3/name", SimValue::of_text("Renamed"));
  ASSERT_TRUE(wing_read_name("LCL", 3, name, sizeof name));
  EXPECT_STREQ(name, "Kick In");
}

TEST_F(WingSlots, HeadAmpTypes) {
  wing_reset_name_state();
  sim_.set(in("LCL", 2, "$ha"), SimValue::of_int(5));
  sim_.set(in("A", 4, "rmt"), SimValue::of_text("ON"));
  sim_.set(in("A", 4, "$ract"), SimValue::of_int(2));
  sim_.set(in("A", 5, "rmt"), SimValue::of_text("ON"));
  connect();
  uint32_t type = 99;
  ASSERT_TRUE(wing_headamp_type("LCL", 1, &type));
  EXPECT_EQ(type, 3u);
  ASSERT_TRUE(wing_headamp_type("B", 1, &type));
  EXPECT_EQ(type, 0u);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(wing_headamp_type("LCL", 2, &type));
    EXPECT_EQ(type, 5u);
    ASSERT_TRUE(wing_headamp_type("A", 4, &type));
    EXPECT_EQ(type, 0u) << "taken by another desk over AES50";
  }
  EXPECT_EQ(rec_.count_containing(
                "[patch] LCL 2: head-amp type 5 has not been seen before - counted as a head amp"),
            1);
  EXPECT_EQ(
      rec_.count_containing(
          "[patch] A 4: preamp controlled remotely by another desk over AES50 - no knob here (2)"),
      1);

  sim_.update_faults([](sim::SimFaults& f) { f.omit_leaf = "$ract"; });
  ASSERT_TRUE(wing_headamp_type("A", 5, &type));
  EXPECT_EQ(type, 3u);
  EXPECT_EQ(
      rec_.count_containing(
          "[patch] A 5: remote control is enabled for this input and the desk will not say whether it is active (3)"),
      1);
}

}  // namespace
}  // namespace ks
