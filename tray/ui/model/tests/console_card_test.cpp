// The console card: one minimal state per row of the state table, the precedence between rows,
// the message variants, identity parsing and the flags.
#include <gtest/gtest.h>

#include <functional>

#include "tray/ui/model/console_card.h"
#include "tray/ui/model/tests/support/fixtures.h"

namespace ks::tray {
namespace {

using test::connected_state;

void silent(DashboardState& st, int k) {
  st.snapshot[k].desk_answering = 0;
  st.link_age_ms[k] = kLinkAgeNever;
}

struct Row {
  const char* what;
  int kind;
  std::function<void(DashboardState&)> change;
  uint32_t code;
  const char* status;
  uint32_t dot, edge;
};

TEST(CardStates, EachRowFromAMinimalState) {
  const Row rows[] = {
      {"hands-off", kWing, [](DashboardState& s) { s.hands_off[0] = 1; }, 14,
       "Shared from another LV1", kToneDim, kToneDim},
      {"older layout, answering", kWing, [](DashboardState& s) { s.legacy[0] = 1; }, 9,
       "Connected \u00b7 Kestrune 2", kToneOk, kToneLv1},
      {"older layout, silent", kWing,
       [](DashboardState& s) {
         s.legacy[0] = 1;
         silent(s, 0);
       },
       9, "Kestrune 2", kToneDim, kToneLv1},
      {"switched off", kWing, [](DashboardState& s) { s.on[0] = 0; }, 11, "", kToneDim, kToneDim},
      {"LV1 closed", kWing, [](DashboardState& s) { s.lv1_running = 0; }, 8,
       "On \u00b7 waiting for LV1", kToneDim, kToneDim},
      {"loader blocked", kWing, [](DashboardState& s) { s.blocked = 1; }, 0, "Blocked by Windows",
       kToneBad, kToneBad},
      {"module failed to load", kWing,
       [](DashboardState& s) {
         s.loader_block.types[0].running_version[0] = 0;
         s.loader_block.types[0].failure_count = 1;
       },
       4, "Blocked by Windows", kToneBad, kToneBad},
      {"refused", kX32,
       [](DashboardState& s) {
         silent(s, 1);
         std::strcpy(s.snapshot[1].status_text, "Desk refused the control link");
       },
       2, "Refused", kToneWarn, kToneWarn},
      {"lost contact", kWing,
       [](DashboardState& s) {
         silent(s, 0);
         s.link_age_ms[0] = 5001;
       },
       1, "Lost contact", kToneBad, kToneBad},
      {"re-finding", kWing,
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].address_state = 1;
       },
       15, "Looking for it again", kToneBad, kToneBad},
      {"update blocked", kX32, [](DashboardState& s) { s.loader_block.types[1].failure_count = 2; },
       3, "Update blocked", kToneWarn, kToneWarn},
      {"another console at the address", kWing,
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].address_state = 3;
         std::strcpy(s.snapshot[0].address_id, "WING-CP-1");
       },
       16, "Another console at its address", kToneWarn, kToneWarn},
      {"nothing at the typed address", kX32,
       [](DashboardState& s) {
         silent(s, 1);
         s.snapshot[1].address_state = 2;
         std::strcpy(s.snapshot[1].address_ip, "10.42.30.40");
       },
       5, "Not answering", kToneWarn, kToneWarn},
      {"choose", kWing,
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].discovery_decision = 4;
         s.snapshot[0].answer_count = 2;
       },
       12, "Choose the console", kToneWarn, kToneWarn},
      {"not answering", kWing, [](DashboardState& s) { silent(s, 0); }, 5, "Not answering",
       kToneWarn, kToneWarn},
      {"no rack slot", kX32, [](DashboardState& s) { s.loader_block.types[1].live_usable = 0; }, 6,
       "Not in a rack slot", kToneWarn, kToneWarn},
      {"no status block", kWing,
       [](DashboardState& s) { std::memset(&s.snapshot[0], 0, sizeof s.snapshot[0]); }, 7,
       "Looking for it\u2026", kToneDim, kToneDim},
      {"connected", kWing, [](DashboardState&) {}, 10, "Connected", kToneOk, kToneLv1},
  };
  for (const auto& r : rows) {
    DashboardState st = connected_state(r.kind);
    r.change(st);
    ConsoleCard c = build_console_card(st, r.kind);
    EXPECT_EQ(c.state, r.code) << r.what;
    EXPECT_EQ(c.status, r.status) << r.what;
    EXPECT_EQ(c.dot, r.dot) << r.what;
    EXPECT_EQ(c.edge, r.edge) << r.what;
    // The message's tone follows the row: dim for the calm rows, bad or warn for the rest.
    const uint32_t msg_tone[17] = {kToneBad,  kToneBad, kToneWarn, kToneWarn, kToneBad, kToneWarn,
                                   kToneWarn, kToneDim, kToneDim,  kToneDim,  kToneDim, kToneDim,
                                   kToneWarn, kToneDim, kToneDim,  kToneBad,  kToneWarn};
    EXPECT_EQ(c.msg_tone, msg_tone[r.code]) << r.what;
    EXPECT_EQ(c.msg.empty(), r.code == 7 || r.code == 8 || r.code == 10) << r.what;
  }
}

// Where two rows apply, the earlier one wins.
TEST(CardStates, Precedence) {
  struct Case {
    const char* what;
    std::function<void(DashboardState&)> change;
    uint32_t code;
  } cases[] = {
      {"hands-off beats blocked and off",
       [](DashboardState& s) {
         s.hands_off[0] = 1;
         s.blocked = 1;
         s.on[0] = 0;
       },
       14},
      {"off beats blocked",
       [](DashboardState& s) {
         s.on[0] = 0;
         s.blocked = 1;
       },
       11},
      {"LV1 closed beats blocked",
       [](DashboardState& s) {
         s.lv1_running = 0;
         s.blocked = 1;
       },
       8},
      {"blocked beats refused",
       [](DashboardState& s) {
         s.blocked = 1;
         std::strcpy(s.snapshot[0].status_text, "refused");
       },
       0},
      {"link age 5000 is not yet lost",
       [](DashboardState& s) {
         silent(s, 0);
         s.link_age_ms[0] = 5000;
       },
       5},
      {"lost beats choose",
       [](DashboardState& s) {
         silent(s, 0);
         s.link_age_ms[0] = 60000;
         s.snapshot[0].discovery_decision = 5;
         s.snapshot[0].answer_count = 1;
       },
       1},
      {"re-finding is not lost contact",
       [](DashboardState& s) {
         silent(s, 0);
         s.link_age_ms[0] = 60000;
         s.snapshot[0].address_state = 1;
       },
       15},
      {"an old layout's address state is ignored",
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].version = 16;
         s.snapshot[0].address_state = 1;
       },
       5},
      {"choose needs answers",
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].discovery_decision = 4;
       },
       5},
      {"decisions other than 4 and 5 do not ask",
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].discovery_decision = 3;
         s.snapshot[0].answer_count = 2;
       },
       5},
      {"address state 3 without an identity",
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].address_state = 3;
       },
       5},
  };
  for (const auto& c : cases) {
    DashboardState st = connected_state(kWing);
    c.change(st);
    EXPECT_EQ(build_console_card(st, kWing).state, c.code) << c.what;
  }
}

TEST(CardMessages, LinkDownIsToldInSecondsThenMinutes) {
  struct Case {
    uint32_t age;
    const char* part;
  } cases[] = {{5001, "No answer for 5 s."},
               {89999, "No answer for 89 s."},
               {90000, "No answer for 1 min."},
               {150000, "No answer for 2 min."}};
  for (const auto& c : cases) {
    DashboardState st = connected_state(kWing);
    silent(st, 0);
    st.link_age_ms[0] = c.age;
    ConsoleCard card = build_console_card(st, kWing);
    EXPECT_EQ(card.msg.rfind(c.part, 0), 0u) << card.msg;
    EXPECT_EQ(card.msg_tone, kToneBad);
  }
  DashboardState st = connected_state(kWing);
  silent(st, 0);
  st.snapshot[0].address_state = 1;
  EXPECT_EQ(build_console_card(st, kWing).msg.rfind(
                "No answer at 10.42.20.2. Kestrune is looking for this same WING Rack", 0),
            0u);
  st.link_age_ms[0] = 120000;
  EXPECT_EQ(build_console_card(st, kWing).msg.rfind("No answer at 10.42.20.2 for 2 min. ", 0), 0u);
}

TEST(CardMessages, NotAnsweringAndChooseVariants) {
  DashboardState st = connected_state(kWing);
  silent(st, 0);
  EXPECT_EQ(
      build_console_card(st, kWing).msg,
      "Not answering at 10.42.20.2. Is it powered and on this network? Trying again every few seconds.");
  st.snapshot[0].desk_line[0] = 0;
  st.discovery[0] = {};
  st.address_known[0] = 1;
  EXPECT_EQ(build_console_card(st, kWing).msg,
            "Not answering. Is it powered and on this network? Trying again every few seconds.");
  st.address_known[0] = 0;
  EXPECT_EQ(
      build_console_card(st, kWing).msg,
      "Not answering. Is it powered and on this network? If it is on another subnet or VLAN, set its address. "
      "Trying again every few seconds.");

  st.snapshot[0].discovery_decision = 4;
  st.snapshot[0].answer_count = 1;
  EXPECT_EQ(build_console_card(st, kWing).msg.rfind(
                "The only WING that answered has no SoundGrid card", 0),
            0u);
  st.snapshot[0].answer_count = 3;
  EXPECT_EQ(build_console_card(st, kWing).msg.rfind("3 WINGs answered. Choose the one", 0), 0u);
  st.snapshot[0].discovery_decision = 5;
  std::strcpy(st.snapshot[0].chosen_console, "WING-PP-9");
  EXPECT_EQ(build_console_card(st, kWing).msg.rfind(
                "The WING chosen for this LV1 (WING-PP-9) is not on the network.", 0),
            0u);

  DashboardState x = connected_state(kX32);
  silent(x, 1);
  x.snapshot[1].discovery_decision = 4;
  x.snapshot[1].answer_count = 2;
  EXPECT_EQ(build_console_card(x, kX32).msg.rfind("2 X32 / M32 desks answered.", 0), 0u);
  // The typed address is silent: with and without a chosen console.
  x = connected_state(kX32);
  silent(x, 1);
  x.snapshot[1].address_state = 2;
  std::strcpy(x.snapshot[1].address_ip, "10.1.2.3");
  EXPECT_EQ(
      build_console_card(x, kX32).msg,
      "Nothing answers at 10.1.2.3, the address set for it. Is it powered, and is that still its address? "
      "Trying again every few seconds.");
  std::strcpy(x.snapshot[1].chosen_console, "M32C-1");
  EXPECT_EQ(
      build_console_card(x, kX32).msg,
      "Nothing answers at 10.1.2.3, the address set for it. Kestrune is also looking for Midas M32 Rack "
      "everywhere else on the network.");
}

TEST(CardMessages, UpdateBlockedWithAndWithoutAFailedFile) {
  DashboardState st = connected_state(kX32);
  st.loader_block.types[1].failure_count = 1;
  EXPECT_EQ(
      build_console_card(st, kX32).msg,
      "The update to Midas M32 Rack would not load. Kestrune keeps running 3.1.0 \u2014 nothing on the strip changed.");
  std::strcpy(st.loader_block.types[1].failed_file, "x32-3.2.0.dll");
  EXPECT_EQ(
      build_console_card(st, kX32).msg,
      "Windows blocked the update to x32-3.2.0.dll. Kestrune keeps running 3.1.0 \u2014 nothing on the strip changed.");
}

TEST(CardMessages, ExtraCardsAndMissingHeadAmps) {
  DashboardState st = connected_state(kWing);
  st.loader_block.extra_live_cards[0] = 1;
  EXPECT_EQ(
      build_console_card(st, kWing).msg,
      "LV1 has another WSG card in a rack slot. Kestrune drives one WSG card per LV1, so that card's strips have "
      "no gain or 48V.");
  st.loader_block.extra_live_cards[0] = 2;
  EXPECT_EQ(
      build_console_card(st, kWing).msg,
      "LV1 has more WSG cards in a rack slot. Kestrune drives one WSG card per LV1, so those cards' strips have "
      "no gain or 48V.");
  st.lv1_running = 0;  // code 8: no message of its own, but LV1 closed has no extra cards to tell
  EXPECT_EQ(build_console_card(st, kWing).msg, "");

  DashboardState x = connected_state(kX32);
  x.snapshot[1].source_device_count = 2;
  std::strcpy(x.snapshot[1].source_devices[0].port, "A");
  x.snapshot[1].source_devices[0].strips_without_head_amp = 1;
  std::strcpy(x.snapshot[1].source_devices[1].port, "B");
  x.snapshot[1].source_devices[1].device = 7;  // connected: not told
  x.snapshot[1].source_devices[1].strips_without_head_amp = 4;
  EXPECT_EQ(
      build_console_card(x, kX32).msg,
      "No gain knob on 1 strip: nothing is connected to the Midas M32 Rack's AES50 A, where the X-WSG card takes "
      "it from. Connect the stagebox and the knob appears by itself.");
  x.snapshot[1].source_devices[1].device = 0;
  EXPECT_EQ(build_console_card(x, kX32).msg.rfind(
                "No gain knobs on 5 strips: nothing is connected to the Midas M32 "
                "Rack's AES50 A or AES50 B, where the X-WSG card takes them from.",
                0),
            0u);
}

TEST(Identity, LinesAndModelNames) {
  struct Case {
    int kind;
    const char* line;
    const char* name;
    const char* meta;
  } cases[] = {
      {kWing, test::kWingLine, "WING Rack", "WSG card \u00b7 10.42.20.2 \u00b7 fw 3.1-0"},
      {kWing, "WING,10.0.0.9,stage,wing-compact,S1,2.0:beta", "WING Compact",
       "WSG card \u00b7 10.0.0.9 \u00b7 fw 2.0"},
      {kWing, "WING,10.0.0.9,stage,,S1,3.0", "WING", "WSG card \u00b7 10.0.0.9 \u00b7 fw 3.0"},
      {kWing, "WING,10.0.0.9", "WING", "WSG card \u00b7 10.0.0.9"},  // missing commas
      {kWing, "WING", "WING", "WSG card"},
      {kWing, "", "WING", "WSG card"},
      {kWing, "WING,10.0.0.9,a,wing,b,1.0,extra,7.7-g1", "WING",
       "WSG card \u00b7 10.0.0.9 \u00b7 fw 7.7"},  // extra commas
      {kX32, test::kX32Line, "Midas M32 Rack", "X-WSG card \u00b7 10.42.20.40 \u00b7 fw 4.06"},
      {kX32, "X32,10.0.0.5,foh,M32R,4.06", "Midas M32R",
       "X-WSG card \u00b7 10.0.0.5 \u00b7 fw 4.06"},
      {kX32, "X32,10.0.0.5,foh,X32,4.06", "Behringer X32",
       "X-WSG card \u00b7 10.0.0.5 \u00b7 fw 4.06"},
      {kX32, "X32,10.0.0.5,foh,X32RACK,4.06", "Behringer X32 Rack",
       "X-WSG card \u00b7 10.0.0.5 \u00b7 fw 4.06"},
      {kX32, "X32,10.0.0.5,foh,X32 Producer,4.06", "Behringer X32 Producer",
       "X-WSG card \u00b7 10.0.0.5 \u00b7 fw 4.06"},
      {kX32, "X32,,,,", "X32 / M32", "X-WSG card"},
  };
  for (const auto& c : cases) {
    DashboardState st = connected_state(c.kind);
    std::memset(st.snapshot[c.kind].desk_line, 0, sizeof st.snapshot[c.kind].desk_line);
    st.discovery[c.kind].line = c.line;
    ConsoleCard card = build_console_card(st, c.kind);
    EXPECT_EQ(card.name, c.name) << c.line;
    EXPECT_EQ(card.meta, c.meta) << c.line;
  }
  // The status block's desk line comes before the discovery line.
  DashboardState st = connected_state(kWing);
  st.discovery[0].line = "WING,10.9.9.9,x,wing-compact,s,1.0";
  EXPECT_EQ(build_console_card(st, kWing).name, "WING Rack");
}

TEST(CardFacts, CardTypeBetaAndFlags) {
  for (uint32_t pid : {1u, 4u}) {
    DashboardState st = connected_state(kX32);
    st.loader_block.types[1].product_id = pid;
    EXPECT_EQ(build_console_card(st, kX32).card_type, "DN32-WSG card") << pid;
  }
  DashboardState st = connected_state(kX32);
  EXPECT_EQ(build_console_card(st, kX32).card_type, "X-WSG card");
  EXPECT_TRUE(build_console_card(st, kX32).beta);
  EXPECT_FALSE(build_console_card(connected_state(kWing), kWing).beta);

  // retry and support by code; the switch is off only for shared cards and the older layout.
  const bool retry[17] = {0, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  const bool support[17] = {1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  struct Make {
    uint32_t code;
    std::function<void(DashboardState&)> change;
  } makes[] = {
      {0, [](DashboardState& s) { s.blocked = 1; }},
      {1,
       [](DashboardState& s) {
         silent(s, 0);
         s.link_age_ms[0] = 9000;
       }},
      {2, [](DashboardState& s) { std::strcpy(s.snapshot[0].status_text, "refused"); }},
      {3, [](DashboardState& s) { s.loader_block.types[0].failure_count = 1; }},
      {5, [](DashboardState& s) { silent(s, 0); }},
      {10, [](DashboardState&) {}},
      {14, [](DashboardState& s) { s.hands_off[0] = 1; }},
      {15,
       [](DashboardState& s) {
         silent(s, 0);
         s.snapshot[0].address_state = 1;
       }},
  };
  for (const auto& m : makes) {
    DashboardState s = connected_state(kWing);
    m.change(s);
    ConsoleCard c = build_console_card(s, kWing);
    ASSERT_EQ(c.state, m.code);
    EXPECT_EQ(c.retry, retry[m.code]) << m.code;
    EXPECT_EQ(c.support, support[m.code]) << m.code;
    EXPECT_EQ(c.switch_enabled, m.code != 14) << m.code;
  }
  DashboardState old = connected_state(kWing);
  old.legacy[0] = 1;
  old.on[0] = 0;
  ConsoleCard c = build_console_card(old, kWing);
  EXPECT_TRUE(c.on);
  EXPECT_FALSE(c.switch_enabled);
  // Candidates are offered only while the user must choose.
  DashboardState answered = connected_state(kWing);
  answered.snapshot[0].answer_count = 2;
  answered.snapshot[0].discovery_decision = 4;
  EXPECT_TRUE(build_console_card(answered, kWing).cands.empty());
  silent(answered, 0);
  EXPECT_EQ(build_console_card(answered, kWing).cands.size(), 2u);
  // Blink is offered only where the gathering offers it and the card is live.
  DashboardState blink = connected_state(kWing);
  EXPECT_FALSE(build_console_card(blink, kWing).blink);
  blink.identify_offered = 1;
  EXPECT_TRUE(build_console_card(blink, kWing).blink);
  blink.loader_block.types[0].live_usable = 0;
  EXPECT_FALSE(build_console_card(blink, kWing).blink);
}

TEST(CardShown, WhenACardIsShown) {
  struct Case {
    const char* what;
    std::function<void(DashboardState&)> change;
    bool shown;
  } cases[] = {
      {"found", [](DashboardState&) {}, true},
      {"no card module, but on with a live card",
       [](DashboardState& s) { s.card_module_present[0] = 0; }, true},
      {"no card module, off",
       [](DashboardState& s) {
         s.card_module_present[0] = 0;
         s.on[0] = 0;
       },
       false},
      {"only the status block names the desk",
       [](DashboardState& s) {
         s.discovery[0] = {};
         s.on[0] = 0;
       },
       true},
      {"older layout",
       [](DashboardState& s) {
         s.discovery[0] = {};
         s.on[0] = 0;
         s.snapshot[0] = {};
         s.legacy[0] = 1;
       },
       true},
      {"on with an address",
       [](DashboardState& s) {
         s.discovery[0] = {};
         s.snapshot[0] = {};
         s.loader_block_present = 0;
         s.address_known[0] = 1;
       },
       true},
      {"on, nothing known",
       [](DashboardState& s) {
         s.discovery[0] = {};
         s.snapshot[0] = {};
         s.loader_block_present = 0;
       },
       false},
  };
  for (const auto& c : cases) {
    DashboardState st = connected_state(kWing);
    c.change(st);
    EXPECT_EQ(build_console_card(st, kWing).shown, c.shown) << c.what;
  }
}

// A snapshot straight from shared memory: texts without a NUL, counts beyond the arrays.
TEST(CardInput, HostileSnapshotStaysInsideItsFields) {
  DashboardState st = connected_state(kX32);
  StatusSnapshot& s = st.snapshot[1];
  silent(st, 1);
  std::memset(s.status_text, 'r', sizeof s.status_text);
  std::memset(s.desk_line, ',', sizeof s.desk_line);
  std::memset(s.chosen_console, 'C', sizeof s.chosen_console);
  std::memset(s.answers, 'A', sizeof s.answers);
  for (auto& bank : s.src_bank) std::memset(bank, 'B', sizeof bank);
  std::memset(s.has_head_amp, 1, sizeof s.has_head_amp);
  s.answer_count = 0xFFFFFFFF;
  s.source_device_count = 1000;
  s.discovery_decision = 4;
  ConsoleCard c = build_console_card(st, kX32);
  EXPECT_EQ(c.state, kCodeChoose);
  EXPECT_EQ(c.cands.size(), kAnswerSummaries);
  for (const auto& cand : c.cands) EXPECT_EQ(cand.head, std::string(40, 'A'));
  EXPECT_EQ(c.input_count, 64u);
  EXPECT_EQ(c.input_groups, "BBBBBBBB 0");
  // A layout the tray does not know yet still gives a card; one too old has no address states.
  s.version = 99;
  EXPECT_EQ(build_console_card(st, kX32).state, kCodeChoose);
  s.version = 14;  // before the discovery fields
  s.address_state = 1;
  EXPECT_EQ(build_console_card(st, kX32).state, kCodeNotAnswering);
  EXPECT_TRUE(build_console_card(st, kX32).cands.empty());
}

TEST(CardJson, AddressObjectAndConfirmOff) {
  DashboardState st = connected_state(kWing);
  for (int ch = 0; ch < 3; ++ch) {
    st.snapshot[0].has_head_amp[ch] = 1;
    std::strcpy(st.snapshot[0].src_bank[ch], ch < 2 ? "LCL" : "A");
    st.snapshot[0].src_input[ch] = uint32_t(ch + 1);
  }
  ConsoleCard c = build_console_card(st, kWing);
  EXPECT_EQ(c.input_count, 3u);
  EXPECT_EQ(c.input_groups, "Local 1\u20132, AES50 A 3");
  JsonWriter w;
  write_console_card(w, c);
  EXPECT_NE(
      w.out.find(
          "\"body\":\"The sound is not affected. Its 3 strips lose their gain and 48V controls in LV1 "
          "until you switch it back on; the WING Rack keeps every value it has now.\""),
      std::string::npos);
  EXPECT_NE(
      w.out.find(
          "\"btn\":\"Set address\u2026\",\"short\":\"Set\u2026\",\"desc\":\"Found automatically, at "
          "10.42.20.2\""),
      std::string::npos);

  st.snapshot[0].has_head_amp[1] = st.snapshot[0].has_head_amp[2] = 0;
  st.typed_ip[0] = "10.42.20.9";
  w = JsonWriter{};
  write_console_card(w, build_console_card(st, kWing));
  EXPECT_NE(w.out.find("Its 1 strip loses their gain"), std::string::npos);
  EXPECT_NE(
      w.out.find(
          "\"set\":\"10.42.20.9\",\"can\":true,\"band\":false,\"btn\":\"Change address\u2026\","
          "\"short\":\"Change\u2026\",\"desc\":\"10.42.20.9, typed here."),
      std::string::npos);

  st.snapshot[0].has_head_amp[0] = 0;
  st.typed_ip[0].clear();
  st.discovery[0].found = 0;
  st.hands_off[0] = 1;
  w = JsonWriter{};
  write_console_card(w, build_console_card(st, kWing));
  EXPECT_NE(
      w.out.find(
          "Its strips lose their gain and 48V controls in LV1 until you switch it back on; the console"),
      std::string::npos);
  EXPECT_NE(w.out.find("\"can\":false"), std::string::npos);
  EXPECT_NE(w.out.find("\"desc\":\"Found automatically on the network.\""), std::string::npos);

  // recall and resyncLv1 only for an installed console.
  st.installed[0] = 0;
  w = JsonWriter{};
  write_console_card(w, build_console_card(st, kWing));
  EXPECT_EQ(w.out.find("\"recall\""), std::string::npos);
  EXPECT_EQ(w.out.find("\"resyncLv1\""), std::string::npos);
}

}  // namespace
}  // namespace ks::tray
