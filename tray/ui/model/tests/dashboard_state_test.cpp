// Gathering over scripted sources: what is read when, the settings reading rules, the one write
// of `console`, link ages and the severity order.
#include <gtest/gtest.h>

#include "tray/ui/model/dashboard_state.h"
#include "tray/ui/model/preview_demo.h"
#include "tray/ui/model/tests/support/fake_sources.h"

namespace ks::tray {
namespace {

using test::FakeSources;
using test::live_snapshot;

DashboardState gather(FakeSources& src) {
  DashboardState st;
  LinkAgeMemory ages;
  gather_dashboard_state(src, st, ages);
  return st;
}

// The tray reads session_recall and resync as the console module does, so the card never shows
// the opposite of what the module will do.
TEST(SettingsRules, ReadAsTheModuleReadsThem) {
  struct Case {
    const char* text;
    bool recall, resync_lv1;
  } cases[] = {
      {"", true, true},  // absent: recall on, resync lv1
      {"session_recall=off\n", false, true},
      {"session_recall=Off\n", false, true},   // any case
      {"session_recall=off \n", false, true},  // a trailing blank still begins with off
      {"session_recall=OFF ; no recall at shows\n", false, true},
      {"session_recall=no\n", true, true},    // only "off..." switches it off
      {"session_recall= off\n", true, true},  // a leading blank does not begin with off
      {"SESSION_RECALL=off\n", false, true},  // keys without regard to case
      {"resync=desk\n", true, false},
      {"resync=Desk\r\n", true, false},
      {"resync= desk \n", true, false},  // blanks around the word
      {"resync=LV1\n", true, true},
      {"resync=\n", true, true},
      {"resync=desktop\n", true, true},
      {"resync=desk;comment\n", true, false},
      {"resync=desk\nresync=lv1\n", true, true},  // the last line wins
      {"session_recall=off\nsession_recall=on\n", true, true},
      {"; session_recall=off\n", true, true},  // a comment line's key is "; session_recall"
  };
  for (const auto& c : cases) {
    ConsoleSettings s = read_console_settings(c.text);
    EXPECT_EQ(s.session_recall, c.recall) << c.text;
    EXPECT_EQ(s.resync_lv1, c.resync_lv1) << c.text;
  }
}

TEST(SettingsRules, AddressKeysAreTrimmedAndBounded) {
  ConsoleSettings s =
      read_console_settings("ip=  10.0.0.5 ; typed\nhint=\t10.0.0.6\nconsole=WING-PP-1 \n");
  EXPECT_EQ(s.ip, "10.0.0.5");
  EXPECT_EQ(s.hint, "10.0.0.6");
  EXPECT_EQ(s.console, "WING-PP-1 ");  // the module keeps console untrimmed
  // A line longer than the module reads is cut where the module cuts it.
  std::string longline = "ip=" + std::string(300, '1') + "\n";
  EXPECT_EQ(read_console_settings(longline).ip.size(), 255u - 3u);
  // Lines without "=" and odd bytes are ignored without harm.
  s = read_console_settings(std::string("garbage\n\0\xff=\x01\nip", 14));
  EXPECT_TRUE(s.ip.empty());
}

TEST(Gathering, WithoutAnInstallNoSettingsAreRead) {
  FakeSources src;
  src.settings[0] = src.settings[1] = "session_recall=off\nresync=lv1\nip=10.1.1.1\n";
  DashboardState st = gather(src);
  EXPECT_EQ(src.settings_reads, 0);
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(st.session_recall[t], 1);
    EXPECT_EQ(st.resync_lv1[t], 0);
    EXPECT_EQ(st.address_known[t], 0);
    EXPECT_EQ(st.typed_ip[t], "");
  }
  EXPECT_EQ(st.platform, 1);
  EXPECT_EQ(st.network_gate, 0);
  EXPECT_EQ(st.identify_offered, 0);
}

TEST(Gathering, InstalledConsoleTakesItsSettings) {
  FakeSources src;
  src.installed[1] = true;
  src.on[1] = false;
  src.settings[1] = "session_recall=off\nhint=10.2.2.2\nip=10.3.3.3\n";
  DashboardState st = gather(src);
  EXPECT_EQ(src.settings_reads, 1);
  EXPECT_EQ(st.installed[1], 1);
  EXPECT_EQ(st.on[1], 0);
  EXPECT_EQ(st.session_recall[1], 0);
  EXPECT_EQ(st.resync_lv1[1], 1);  // no resync key: the module resends LV1's values
  EXPECT_EQ(st.address_known[1], 1);
  EXPECT_EQ(st.typed_ip[1], "10.3.3.3");
  EXPECT_EQ(st.session_recall[0], 1);

  // An unreadable settings file counts as one without keys.
  FakeSources none;
  none.installed[0] = none.on[0] = true;
  none.settings_readable[0] = false;
  none.settings[0] = "session_recall=off\n";
  st = gather(none);
  EXPECT_EQ(st.session_recall[0], 1);
  EXPECT_EQ(st.on[0], 1);
}

TEST(Gathering, OnNeedsAnInstallAndHandsOffNeedsTheLoaderBlock) {
  FakeSources src;
  src.on[0] = true;  // state.cfg says on, but the install cannot drive it
  src.loader.hands_off[0] = 1;
  src.loader_present = false;
  DashboardState st = gather(src);
  EXPECT_EQ(st.on[0], 0);
  EXPECT_EQ(st.hands_off[0], 0);
  EXPECT_EQ(st.loader_block.hands_off[0], 0u);  // an absent block leaves no stale bytes

  src.loader_present = true;
  st = gather(src);
  EXPECT_EQ(st.hands_off[0], 1);
  EXPECT_EQ(st.hands_off[1], 0);
}

TEST(Gathering, Lv1FactsAndAnAbsentSnapshot) {
  FakeSources src;
  src.running = false;
  src.uptime = 5000;  // a stale run time of a closed LV1 is not shown
  src.version = "17.3.50.135";
  src.snap[0].present = 0;
  src.snap[0].desk_answering = 1;  // junk behind a missing magic is not carried
  DashboardState st = gather(src);
  EXPECT_EQ(st.lv1_uptime_ms, -1);
  EXPECT_EQ(st.lv1_found, 1);
  EXPECT_EQ(st.snapshot[0].desk_answering, 0u);
  src.running = true;
  st = gather(src);
  EXPECT_EQ(st.lv1_uptime_ms, 5000);
  EXPECT_EQ(st.lv1_running, 1);
}

TEST(Gathering, ConsoleIsWrittenOnceAfterATypedAddressIsConfirmed) {
  FakeSources src;
  src.installed[0] = src.on[0] = true;
  src.settings[0] = "ip=10.42.20.2\n";
  // Not confirmed: nothing written, and the current console key is handed on.
  DashboardState st = gather(src);
  EXPECT_TRUE(src.writes.empty());
  src.settings[0] = "ip=10.42.20.2\nconsole=OLD\n";
  gather(src);
  EXPECT_EQ(src.confirm_key_seen[0], "OLD");
  // Confirmed: exactly one write of console, and only for that console.
  src.confirm_reply[0] = "WING-PP-20060733";
  gather(src);
  ASSERT_EQ(src.writes.size(), 1u);
  EXPECT_EQ(src.writes[0], "0 console=WING-PP-20060733");
  // A console that is not installed is never asked.
  src.confirm_reply[1] = "X32-1";
  gather(src);
  EXPECT_EQ(src.writes.size(), 2u);
  EXPECT_EQ(src.writes[1].substr(0, 2), "0 ");
}

TEST(Gathering, AnIdentityThatWouldBreakTheSettingsFileIsNotWritten) {
  const char* bad[] = {"WING\nip=1.2.3.4", "WING;x", "WING\r", "\x01WING",
                       "A-very-long-identity-that-does-not-fit-the-key-40"};
  for (const char* id : bad) {
    FakeSources src;
    src.installed[0] = src.on[0] = true;
    src.confirm_reply[0] = id;
    gather(src);
    EXPECT_TRUE(src.writes.empty()) << id;
    EXPECT_EQ(src.logs.size(), 1u) << id;
  }
  FakeSources failing;
  failing.installed[0] = failing.on[0] = true;
  failing.confirm_reply[0] = "WING-PP-1";
  failing.write_ok = false;
  gather(failing);
  ASSERT_EQ(failing.logs.size(), 1u);
  EXPECT_NE(failing.logs[0].find("could not save console=WING-PP-1"), std::string::npos);
}

TEST(LinkAges, UpIsZeroDownCountsAndLv1ClosedForgets) {
  DashboardState st;
  dashboard_state_init(st);
  LinkAgeMemory ages;
  st.lv1_running = 1;
  st.snapshot[0] = live_snapshot(true);
  st.snapshot[1] = live_snapshot(false);
  update_link_ages(st, 10000, ages);
  EXPECT_EQ(st.link_age_ms[0], 0u);
  EXPECT_EQ(st.link_age_ms[1], kLinkAgeNever);  // never seen up since LV1 started

  st.snapshot[0].desk_answering = 0;
  update_link_ages(st, 15001, ages);
  EXPECT_EQ(st.link_age_ms[0], 5001u);

  st.lv1_running = 0;
  update_link_ages(st, 16000, ages);
  EXPECT_EQ(st.link_age_ms[0], kLinkAgeNever);
  st.lv1_running = 1;
  update_link_ages(st, 17000, ages);
  EXPECT_EQ(st.link_age_ms[0], kLinkAgeNever);  // forgotten, not resumed

  // A clock at 0 counts as 1, so "seen up" is never confused with "never".
  LinkAgeMemory fresh;
  st.snapshot[1].desk_answering = 1;
  update_link_ages(st, 0, fresh);
  EXPECT_EQ(fresh.last_up[1], 1u);
  EXPECT_EQ(st.link_age_ms[1], 0u);
}

TEST(Severity, CodeRankOrder) {
  const uint32_t order[] = {0, 13, 1, 15, 2, 4, 3, 16, 12, 5, 6, 7, 8, 9, 10, 14, 11};
  for (int i = 0; i < 17; ++i) EXPECT_EQ(code_rank(order[i]), i) << order[i];
  EXPECT_EQ(code_rank(17), 99);
  EXPECT_EQ(code_rank(0xFFFFFFFF), 99);
}

// The preview's picture comes from the demo record alone: nothing else is asked and nothing is
// written, whatever the state.
TEST(PreviewGathering, ReadsOnlyTheDemoAndWritesNothing) {
  struct SpyPreview : test::FakeSources {
    PreviewDemo demo;
    bool whole_picture(DashboardState& out) override {
      fill_demo_snapshot(demo, out);
      return true;
    }
  };
  for (const char* state : kSetupStates) {
    SpyPreview spy;
    ASSERT_TRUE(apply_setup_state(spy.demo, state));
    spy.installed[0] = spy.installed[1] = true;  // would be read by a live gathering
    spy.confirm_reply[0] = "WING-PP-1";
    DashboardState st = gather(spy);
    EXPECT_EQ(spy.other_calls, 0) << state;
    EXPECT_TRUE(spy.writes.empty()) << state;
    EXPECT_EQ(st.platform, 1);
    EXPECT_EQ(st.network_gate, 0);
    EXPECT_EQ(st.identify_offered, 0);
  }
  // The preview's own sources refuse to write, and their picture is the demo's.
  PreviewDemo demo;
  ASSERT_TRUE(apply_setup_state(demo, "setup-rig"));
  PreviewSources src(demo);
  EXPECT_FALSE(src.write_setting(0, "console", "x"));
  DashboardState a, b;
  LinkAgeMemory ages;
  gather_dashboard_state(src, a, ages);
  fill_demo_snapshot(demo, b);
  EXPECT_EQ(a.lv1_running, b.lv1_running);
  EXPECT_EQ(0, std::memcmp(&a.loader_block, &b.loader_block, sizeof a.loader_block));
  EXPECT_EQ(0, std::memcmp(&a.snapshot[1], &b.snapshot[1], sizeof a.snapshot[1]));
}

TEST(PreviewStates, UnknownNamesAreRefused) {
  PreviewDemo demo;
  for (const char* name : {"setup-", "setup", "setupopen", "setup-RIG", "setup-rig ", ""})
    EXPECT_FALSE(apply_setup_state(demo, name)) << name;
  EXPECT_FALSE(demo.preview);
  for (const char* name : kSetupStates) EXPECT_TRUE(apply_setup_state(demo, name)) << name;
}

TEST(PreviewStates, RenderStateCarriesTheModalChoice) {
  struct Case {
    const char* state;
    int32_t modal, pending;
    const char* fake;
  } cases[] = {
      {"setup-cfm-off", kModalConfirmOff, 0, "off"},
      {"setup-cfm-remove", kModalConfirmRemove, -1, "remove"},
      {"setup-cfm-update", kModalConfirmUpdate, -1, "update"},
      {"setup-addr", kModalAddress, 0, "addr"},
      {"setup-rig", kModalNone, -1, ""},
  };
  for (const auto& c : cases) {
    PreviewDemo demo;
    DashboardUiState ui;
    ui.modal = 99;
    PageModelInputs in;
    ASSERT_TRUE(apply_render_state(c.state, demo, ui, in));
    EXPECT_EQ(ui.modal, c.modal) << c.state;
    EXPECT_EQ(ui.pending_console, c.pending) << c.state;
    EXPECT_EQ(in.fake_modal, c.fake) << c.state;
    EXPECT_TRUE(in.preview);
  }
  {
    PreviewDemo demo;
    DashboardUiState ui;
    PageModelInputs in;
    ASSERT_TRUE(apply_render_state("setup-nothing-addr-open", demo, ui, in));
    EXPECT_EQ(ui.modal, kModalAddress);
    EXPECT_EQ(ui.pending_console, 0);
    EXPECT_EQ(ui.address_message, "Type the console's address, like 192.168.1.20.");
  }
  PreviewDemo demo;
  DashboardUiState ui;
  ui.modal = 7;
  PageModelInputs in;
  EXPECT_FALSE(apply_render_state("setup-nope", demo, ui, in));
  EXPECT_EQ(ui.modal, 7);
  EXPECT_FALSE(in.preview);
}

}  // namespace
}  // namespace ks::tray
