// The page model as the painters read it: header pill rules, tones, the sub line, steps,
// notices, the nothing-found keys and the action message's failure flag.
#include <gtest/gtest.h>

#include <functional>

#include "tray/services/json.h"
#include "tray/ui/model/page_loader.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/tests/support/fixtures.h"

namespace ks::tray {
namespace {

using test::connected_state;

// Both consoles connected.
DashboardState both_connected() {
  DashboardState st = connected_state(kWing);
  DashboardState x = connected_state(kX32);
  st.loader_block.types[1] = x.loader_block.types[1];
  st.card_module_present[1] = 1;
  st.installed[1] = st.on[1] = 1;
  st.snapshot[1] = x.snapshot[1];
  st.discovery[1] = x.discovery[1];
  st.link_age_ms[1] = 0;
  return st;
}

JsonValue model_of(const DashboardState& st, const PageModelInputs& in = {}) {
  JsonValue v;
  std::string text = build_page_model(st, in);
  EXPECT_TRUE(parse_page_model(text, v)) << text;
  return v;
}

std::string str(const JsonValue& v, std::string_view a, std::string_view b) {
  const JsonValue* o = json_find(v, a);
  return o ? json_get_string(*o, b) : "<none>";
}

bool flag(const JsonValue& v, std::string_view key) {
  const JsonValue* b = json_find(v, key);
  return b && b->kind == JsonKind::boolean && b->boolean;
}

void silent(DashboardState& st, int k) {
  st.snapshot[k].desk_answering = 0;
  st.link_age_ms[k] = kLinkAgeNever;
}

TEST(ToneNames, EveryToneCode) {
  const char* names[] = {"dim", "ok", "warn", "bad", "lv1", "dim", "dim"};
  for (uint32_t t = 0; t < 7; ++t) EXPECT_STREQ(tone_name(t), names[t]) << t;
  EXPECT_STREQ(tone_name(0xFFFFFFFF), "dim");
}

TEST(HeaderPill, RulesInOrder) {
  struct Case {
    const char* what;
    std::function<DashboardState()> make;
    const char* pill;
    const char* tone;
    bool edge;
  } cases[] = {
      {"blocked wins over two connected consoles",
       [] {
         auto s = both_connected();
         s.blocked = 1;
         return s;
       },
       "Windows blocked Kestrune", "bad", true},
      {"no card shown",
       [] {
         DashboardState s;
         dashboard_state_init(s);
         return s;
       },
       "No console found", "warn", true},
      {"found but nothing installed",
       [] {
         auto s = connected_state(kWing);
         s.installed[0] = s.on[0] = 0;
         return s;
       },
       "Not set up yet", "dim", false},
      {"two need attention, the worse tone",
       [] {
         auto s = both_connected();
         silent(s, 0);
         s.blocked = 0;
         std::strcpy(s.snapshot[1].status_text, "refused");
         s.snapshot[1].desk_answering = 0;
         s.link_age_ms[0] = 60000;
         return s;
       },
       "2 consoles need attention", "bad", true},
      {"two connected", both_connected, "All consoles connected", "ok", false},
      {"one connected", [] { return connected_state(kX32); }, "Midas M32 Rack \u00b7 connected",
       "ok", false},
      {"the worse card's status, first letter lower",
       [] {
         auto s = both_connected();
         silent(s, 1);
         return s;
       },
       "Midas M32 Rack \u00b7 not answering", "warn", true},
      {"a dim status has no edge",
       [] {
         auto s = both_connected();
         s.lv1_running = 0;
         return s;
       },
       "WING Rack \u00b7 on \u00b7 waiting for LV1", "dim", false},
      {"switched off with an empty status",
       [] {
         auto s = connected_state(kWing);
         s.on[0] = 0;
         return s;
       },
       "WING Rack \u00b7 off", "dim", false},
      {"connected and off: off ranks last, so the connected card speaks",
       [] {
         auto s = both_connected();
         s.on[1] = 0;
         return s;
       },
       "WING Rack \u00b7 connected", "ok", false},
      {"a rank tie goes to the WING",
       [] {
         auto s = both_connected();
         silent(s, 0);
         silent(s, 1);
         return s;
       },
       "2 consoles need attention", "warn", true},
      {"one needing attention with a calm one",
       [] {
         auto s = both_connected();
         s.loader_block.types[0].live_usable = 0;
         return s;
       },
       "WING Rack \u00b7 not in a rack slot", "warn", true},
  };
  for (const auto& c : cases) {
    JsonValue m = model_of(c.make());
    EXPECT_EQ(str(m, "header", "pill"), c.pill) << c.what;
    EXPECT_EQ(str(m, "header", "tone"), c.tone) << c.what;
    EXPECT_EQ(flag(*json_find(m, "header"), "edge"), c.edge) << c.what;
    EXPECT_EQ(str(m, "menu", "state"), c.pill) << c.what;
    EXPECT_EQ(str(m, "menu", "tone"), c.tone) << c.what;
  }
}

TEST(HeaderSub, ConsoleCountAndLv1Version) {
  struct Case {
    const char* version;
    bool two;
    const char* sub;
  } cases[] = {
      {"17.3.50.135", true, "2 consoles \u00b7 eMotion LV1 v17.3"},
      {"17.3.50.135", false, "1 console \u00b7 eMotion LV1 v17.3"},
      {"17", false, "1 console \u00b7 eMotion LV1 v17"},
      {"17.3", false, "1 console \u00b7 eMotion LV1 v17.3"},
      {"", false, "1 console \u00b7 eMotion LV1 not found"},
  };
  for (const auto& c : cases) {
    DashboardState st = c.two ? both_connected() : connected_state(kWing);
    st.lv1_version = c.version;
    st.lv1_found = *c.version != 0;
    EXPECT_EQ(str(model_of(st), "header", "sub"), c.sub) << c.version;
  }
  DashboardState none;
  dashboard_state_init(none);
  EXPECT_EQ(str(model_of(none), "header", "sub"), "0 consoles \u00b7 eMotion LV1 not found");
}

TEST(Steps, EmptyCasesAndTheActiveStep) {
  auto steps = [](const DashboardState& st) { return json_find(model_of(st), "steps")->items; };
  DashboardState fresh = connected_state(kWing);
  fresh.installed[0] = fresh.on[0] = 0;
  fresh.lv1_running = 0;
  fresh.loader_block_present = 0;
  auto s = steps(fresh);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_FALSE(s[0].members[0].value.boolean);
  EXPECT_TRUE(s[0].members[1].value.boolean);  // active
  EXPECT_EQ(json_get_string(s[0], "detail"),
            "Switches the WING Rack on. Each switches off and on later, even while LV1 runs.");
  EXPECT_TRUE(flag(s[0], "install"));
  EXPECT_EQ(json_get_string(s[1], "title"), "Open eMotion LV1 v17.3.50.135");
  EXPECT_TRUE(flag(s[1], "start"));
  EXPECT_FALSE(flag(s[1], "active"));

  // Installed, LV1 runs without the loader: close and reopen.
  DashboardState reopen = connected_state(kWing);
  reopen.loader_block_present = 0;
  s = steps(reopen);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_TRUE(flag(s[0], "done"));
  EXPECT_EQ(json_get_string(s[0], "detail"), "");
  EXPECT_EQ(json_get_string(s[1], "title"), "Close and reopen eMotion LV1, so it loads Kestrune");
  EXPECT_TRUE(flag(s[1], "active"));
  EXPECT_FALSE(flag(s[1], "start"));

  // Loader in, no live card: step 3 is the active one.
  DashboardState slot = connected_state(kWing);
  slot.loader_block.types[0].live_usable = 0;
  s = steps(slot);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_TRUE(flag(s[2], "active"));

  // Two consoles are named in step 1.
  DashboardState two = both_connected();
  two.installed[0] = two.installed[1] = 0;
  two.on[0] = two.on[1] = 0;
  s = steps(two);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(
      json_get_string(s[0], "detail"),
      "Switches the WING Rack and Midas M32 Rack on. Each switches off and on later, even while LV1 runs.");

  // No LV1 version: "Open eMotion LV1" alone.
  DashboardState nolv1 = fresh;
  nolv1.lv1_version.clear();
  nolv1.lv1_found = 0;
  nolv1.lv1_exe_present = 0;
  s = steps(nolv1);
  EXPECT_EQ(json_get_string(s[1], "title"), "Open eMotion LV1");
  EXPECT_FALSE(flag(s[1], "start"));

  struct Empty {
    const char* what;
    std::function<void(DashboardState&)> change;
  } empties[] = {
      {"all done", [](DashboardState&) {}},
      {"older layout",
       [](DashboardState& s) {
         s.legacy_any = 1;
         s.installed[0] = 0;
       }},
      {"blocked",
       [](DashboardState& s) {
         s.blocked = 1;
         s.installed[0] = 0;
       }},
      {"no card", [](DashboardState& s) { dashboard_state_init(s); }},
  };
  for (const auto& e : empties) {
    DashboardState st = connected_state(kWing);
    e.change(st);
    EXPECT_TRUE(steps(st).empty()) << e.what;
  }
}

TEST(Notice, AtMostOneInOrder) {
  struct Case {
    const char* what;
    std::function<void(DashboardState&)> change;
    const char* action;  // "" no notice; "-" the info notice without action
  } cases[] = {
      {"blocked",
       [](DashboardState& s) {
         s.blocked = 1;
         s.legacy_any = 1;
         s.update_pending = 1;
       },
       "reinstall"},
      {"older layout",
       [](DashboardState& s) {
         s.legacy_any = 1;
         s.update_pending = 1;
       },
       "update3"},
      {"update ready", [](DashboardState& s) { s.update_pending = 1; }, "-"},
      {"update ready but LV1 closed",
       [](DashboardState& s) {
         s.update_pending = 1;
         s.lv1_running = 0;
       },
       ""},
      {"update ready but nothing installed",
       [](DashboardState& s) {
         s.update_pending = 1;
         s.installed[0] = 0;
       },
       ""},
      {"nothing to say", [](DashboardState&) {}, ""},
  };
  for (const auto& c : cases) {
    DashboardState st = connected_state(kWing);
    c.change(st);
    JsonValue m = model_of(st);
    const JsonValue* n = json_find(m, "notice");
    if (!*c.action) {
      EXPECT_EQ(n, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(n, nullptr) << c.what;
    if (std::string(c.action) == "-") {
      EXPECT_EQ(json_get_string(*n, "kind"), "info");
      EXPECT_EQ(json_get_string(*n, "action"), "");
      EXPECT_FALSE(flag(*n, "enabled"));
    } else {
      EXPECT_EQ(json_get_string(*n, "action"), c.action) << c.what;
      EXPECT_FALSE(flag(*n, "enabled")) << c.what;  // LV1 runs
    }
  }
  DashboardState closed = connected_state(kWing);
  closed.blocked = 1;
  closed.lv1_running = 0;
  EXPECT_TRUE(flag(*json_find(model_of(closed), "notice"), "enabled"));
}

TEST(NothingFound, InstallAnywayAndAddressEntries) {
  DashboardState st;
  dashboard_state_init(st);
  JsonValue m = model_of(st);
  EXPECT_TRUE(flag(m, "nothing"));
  EXPECT_FALSE(flag(m, "installAnyway"));  // no LV1
  EXPECT_TRUE(json_find(m, "nothingAddr")->items.empty());
  st.lv1_version = "17.3.50.135";
  st.lv1_found = 1;
  EXPECT_TRUE(flag(model_of(st), "installAnyway"));
  st.blocked = 1;
  EXPECT_FALSE(flag(model_of(st), "installAnyway"));
  st.blocked = 0;

  st.installed[1] = st.on[1] = 1;
  m = model_of(st);
  EXPECT_FALSE(flag(m, "installAnyway"));
  const auto& entries = json_find(m, "nothingAddr")->items;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(json_find(entries[0], "c")->number, 1);
  EXPECT_EQ(json_get_string(entries[0], "btn"), "X32 / M32 address\u2026");
  EXPECT_EQ(json_get_string(*json_find(entries[0], "addr"), "title"), "Address of the X32 / M32");

  st.installed[0] = st.on[0] = 1;
  st.hands_off[0] = 1;  // a shared card takes no address
  EXPECT_EQ(json_find(model_of(st), "nothingAddr")->items.size(), 1u);
  // Once a card is shown, no entries.
  EXPECT_TRUE(json_find(model_of(connected_state(kWing)), "nothingAddr")->items.empty());
}

// A failed action is styled from its flag, whatever its words.
TEST(ActionMessage, FailureComesFromTheFlag) {
  struct Case {
    const char* text;
    bool failed;
  } cases[] = {
      {"Installed, but could not switch it on \u2014 access denied", true},
      {"Installed, but could not leave the Behringer WING off \u2014 disk full", true},
      {"Could not install \u2014 the folder is read-only", true},
      {"Installed. Start eMotion LV1 and assign the card.", false},
      {"Kestrune is installed. It starts with LV1 \u2014 close and reopen LV1 once.", false},
      {"Saved. Kestrune uses 10.0.0.1 the next time it looks for the console - after a dropout, or when LV1 starts.",
       false},
  };
  for (const auto& c : cases) {
    PageModelInputs in;
    in.message = c.text;
    in.message_failed = c.failed;
    JsonValue m = model_of(connected_state(kWing), in);
    EXPECT_EQ(json_get_string(m, "message"), c.text);
    EXPECT_EQ(flag(m, "messageBad"), c.failed) << c.text;
  }
}

TEST(Confirms, RemoveAndUpdateLists) {
  DashboardState st = both_connected();
  st.installed[1] = 0;
  st.on[1] = 0;
  JsonValue m = model_of(st);
  const auto& list = json_find(*json_find(m, "confirmRemove"), "list")->items;
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(json_get_string(list[0], "name"), "WING Rack");
  EXPECT_EQ(json_get_string(list[0], "card"), "WSG card");
  EXPECT_EQ(json_find(m, "confirmUpdate"), nullptr);
  st.legacy[1] = 1;
  st.legacy_any = 1;
  m = model_of(st);
  const auto& up = json_find(*json_find(m, "confirmUpdate"), "list")->items;
  ASSERT_EQ(up.size(), 2u);
  EXPECT_TRUE(flag(up[1], "beta"));
  EXPECT_TRUE(flag(m, "legacyAny"));
}

TEST(PageModel, HostileTextsStayValidJson) {
  DashboardState st = connected_state(kX32);
  std::strcpy(st.snapshot[1].desk_line, "X32,10.0.0.1,\"na\\me\"\t\x01,M32\x02,4.06\n");
  std::memset(st.snapshot[1].status_text, '\x7f', sizeof st.snapshot[1].status_text);  // no NUL
  st.lv1_version = "17.\"3\\";
  st.typed_ip[1] = "\xff\xfe\"";
  PageModelInputs in;
  in.message = std::string("bad \0 byte", 10);
  in.version = "3.2.0\n";
  JsonValue m = model_of(st, in);
  EXPECT_EQ(json_get_string(m, "message"), in.message);
  EXPECT_EQ(json_get_string(m, "version"), "Kestrune 3.2.0\n");
  EXPECT_EQ(json_get_string(*json_find(m, "lv1"), "version"), st.lv1_version);
  const auto& cards = json_find(m, "cards")->items;
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(json_get_string(cards[0], "meta"), "X-WSG card \u00b7 10.0.0.1 \u00b7 fw 4.06\n");
  EXPECT_EQ(json_get_string(*json_find(cards[0], "addr"), "set"), "\xff\xfe\"");
}

TEST(LoadPageModel, GathersBuildsAndParses) {
  test::FakeSources src;
  src.running = true;
  src.version = "17.3.50.135";
  src.installed[0] = src.on[0] = true;
  src.disc[0].found = 1;
  src.disc[0].line = test::kWingLine;
  src.snap[0] = test::live_snapshot(true, test::kWingLine);
  LinkAgeMemory ages;
  JsonValue m;
  ASSERT_TRUE(load_page_model(src, ages, "3.2.0", m));
  EXPECT_EQ(json_get_string(m, "version"), "Kestrune 3.2.0");
  EXPECT_EQ(json_get_string(m, "message"), "");
  EXPECT_FALSE(flag(m, "busy"));
  EXPECT_EQ(json_find(m, "fakeModal"), nullptr);  // preview keys only in the preview
  EXPECT_EQ(str(m, "header", "pill"), "WING Rack \u00b7 not in a rack slot");
  EXPECT_EQ(ages.last_up[0], src.now);
}

}  // namespace
}  // namespace ks::tray
