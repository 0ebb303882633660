// The tooltip's first matching case and the menu's items per state.
#include <gtest/gtest.h>

#include "tray/services/text_utils.h"
#include "tray/ui/shell/shell_texts.h"

namespace ks::tray {
namespace {

TEST(Tooltip, FirstCaseThatHoldsThenTheVersion) {
  TrayFacts linked;
  linked.block_selected = true;
  linked.desk_ip = "192.168.1.20";
  linked.watch_count = 48;
  linked.sent = 7;
  linked.received = 9;
  linked.version = "Kestrune 3.2.0";
  struct Case {
    const char* name;
    TrayFacts f;
    std::string want;
  };
  TrayFacts blocked = linked, none = linked, old = linked, text = linked;
  blocked.blocked = true;
  blocked.module_too_old = true;  // blocked wins over every later case
  none.block_selected = false;
  none.status_text = "ignored";
  old.module_too_old = true;
  old.status_text = "ignored";
  text.status_text = "Desk not answering";
  const Case cases[] = {
      {"blocked", blocked,
       "Kestrune \xE2\x80\x94 blocked by Windows, LV1 runs without it\nKestrune 3.2.0"},
      {"no block", none, "Kestrune \xE2\x80\x94 LV1 not running\nKestrune 3.2.0"},
      {"too old", old,
       "Kestrune \xE2\x80\x94 app and module versions do not match\nKestrune 3.2.0"},
      {"status text", text, "Kestrune \xE2\x80\x94 Desk not answering\nKestrune 3.2.0"},
      {"linked", linked,
       "Kestrune \xE2\x80\x94 192.168.1.20, 48 ch\nsent 7   recv 9\nKestrune 3.2.0"},
  };
  for (const Case& c : cases) EXPECT_EQ(to_utf8(tooltip_text(c.f)), c.want) << c.name;
}

TEST(Tooltip, CutTo127UnitsWithoutSplittingAPair) {
  TrayFacts f;
  f.block_selected = true;
  f.status_text = std::string(200, 'x');
  EXPECT_EQ(tooltip_text(f).size(), kTipMax);
  // A four-byte character whose pair would straddle the cut is dropped whole.
  f.status_text =
      std::string(114, 'x') + "\xF0\x9F\x8E\x9A";  // 11 + 114 = 125 units, pair at 126-127
  f.status_text += "tail";
  const std::u16string tip = tooltip_text(f);
  EXPECT_EQ(tip.size(), 127u);
  f.status_text = std::string(115, 'x') + "\xF0\x9F\x8E\x9A";  // the pair would be units 127-128
  const std::u16string cut = tooltip_text(f);
  EXPECT_EQ(cut.size(), 126u);
  EXPECT_FALSE(cut.back() >= 0xD800 && cut.back() <= 0xDBFF);
}

std::string shape(const std::vector<MenuItem>& m) {
  std::string s;
  for (const MenuItem& i : m) {
    s += i.id == 0 ? std::string("-") : std::to_string(i.id);
    if (i.checked) s += "*";
    if (i.disabled) s += "~";
    s += " ";
  }
  return s;
}

TEST(TrayMenu, ItemsPerState) {
  MenuFacts none;  // nothing installed, LV1 closed
  none.always_on_top = false;
  MenuFacts wing = none;
  wing.always_on_top = true;
  wing.module_present[0] = true;
  wing.console_on[0] = true;
  wing.settings_known = true;
  wing.diag_on = true;
  MenuFacts both = wing;
  both.module_present[1] = true;
  both.clipped_channels = 3;
  struct Case {
    const char* name;
    MenuFacts f;
    std::string want;
  } cases[] = {
      {"no console module: no console items, no extra separator", none,
       "1000~ - 1015 1016 - 1013 1014 1020~ 1021 - 1022 "},
      {"WING module on, diag on", wing,
       "1000~ - 1015* 1016 - 1100* - 1013 1014 1020* 1021 - 1022 "},
      {"both modules, clips", both,
       "1000~ - 1015* 1016 - 1100* 1101 - 1019 - 1013 1014 1020* 1021 - 1022 "},
  };
  for (const Case& c : cases) EXPECT_EQ(shape(tray_menu(c.f)), c.want) << c.name;
}

TEST(TrayMenu, Texts) {
  MenuFacts f;
  f.module_present[1] = true;
  f.clipped_channels = 1;
  auto text_of = [](const std::vector<MenuItem>& m, int32_t id) {
    for (const MenuItem& i : m)
      if (i.id == id) return i.text;
    return std::string("(absent)");
  };
  auto m = tray_menu(f);
  EXPECT_EQ(text_of(m, 1000), "LV1 not running");
  EXPECT_EQ(text_of(m, 1101), "Kestrune on Behringer X32 / Midas M32");
  EXPECT_EQ(text_of(m, 1019), "Clear clip history (1 channel)");
  EXPECT_EQ(text_of(m, 1016), "Setup\xE2\x80\xA6");
  f.clipped_channels = 2;
  f.tray.block_selected = true;
  f.tray.desk_ip = "10.0.0.5";
  f.tray.watch_count = 32;
  f.tray.build_profile = "v17.3";
  m = tray_menu(f);
  EXPECT_EQ(text_of(m, 1019), "Clear clip history (2 channels)");
  EXPECT_EQ(text_of(m, 1000), "10.0.0.5  \xC2\xB7  32 ch  \xC2\xB7  v17.3");
  f.tray.status_text = "Linking\xE2\x80\xA6";
  EXPECT_EQ(text_of(tray_menu(f), 1000), "Linking\xE2\x80\xA6");
}

}  // namespace
}  // namespace ks::tray
