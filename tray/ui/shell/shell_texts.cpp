#include "tray/ui/shell/shell_texts.h"

#include <cstdio>

#include "tray/services/console_table.h"
#include "tray/services/text_utils.h"

namespace ks::tray {

namespace {

constexpr char kDash[] = "Kestrune \xE2\x80\x94 ";

std::string tooltip_line(const TrayFacts& f) {
  if (f.blocked) return std::string(kDash) + "blocked by Windows, LV1 runs without it";
  if (!f.block_selected) return std::string(kDash) + "LV1 not running";
  if (f.module_too_old) return std::string(kDash) + "app and module versions do not match";
  if (!f.status_text.empty()) return kDash + f.status_text;
  char tail[96];
  std::snprintf(tail, sizeof tail, ", %d ch\nsent %u   recv %u", static_cast<int>(f.watch_count),
                f.sent, f.received);
  return kDash + f.desk_ip + tail;
}

}  // namespace

std::u16string tooltip_text(const TrayFacts& f) {
  std::u16string tip = from_utf8(tooltip_line(f) + "\n" + f.version);
  if (tip.size() > kTipMax) {
    tip.resize(kTipMax);
    // Never leave half of a surrogate pair at the end.
    if (!tip.empty() && tip.back() >= 0xD800 && tip.back() <= 0xDBFF) tip.pop_back();
  }
  return tip;
}

std::vector<MenuItem> tray_menu(const MenuFacts& f) {
  std::vector<MenuItem> m;
  auto item = [&](int32_t id, std::string text, bool checked = false, bool disabled = false) {
    m.push_back({id, std::move(text), checked, disabled});
  };
  auto separator = [&] { m.push_back({}); };

  std::string first;
  if (!f.tray.block_selected) {
    first = "LV1 not running";
  } else if (!f.tray.status_text.empty()) {
    first = f.tray.status_text;
  } else {
    char mid[48];
    std::snprintf(mid, sizeof mid, "  \xC2\xB7  %d ch  \xC2\xB7  ",
                  static_cast<int>(f.tray.watch_count));
    first = f.tray.desk_ip + mid + f.tray.build_profile;
  }
  item(kMenuStatus, first, false, true);
  separator();
  item(kMenuAlwaysOnTop, "Always on top", f.always_on_top);
  item(kMenuSetup, "Setup\xE2\x80\xA6");
  separator();
  bool any_console = false;
  for (int i = 0; i < 2; ++i) {
    if (!f.module_present[i]) continue;
    item(kMenuConsoleBase + i, std::string("Kestrune on ") + console_table[i].display_name,
         f.console_on[i]);
    any_console = true;
  }
  if (any_console) separator();
  if (f.clipped_channels != 0) {
    char text[64];
    std::snprintf(text, sizeof text, "Clear clip history (%u channel%s)", f.clipped_channels,
                  f.clipped_channels == 1 ? "" : "s");
    item(kMenuClearClips, text);
    separator();
  }
  item(kMenuOpenLog, "Open log");
  item(kMenuDiagnostics, "Collect diagnostics\xE2\x80\xA6");
  item(kMenuDetailedLogging, "Detailed logging", f.diag_on, !f.settings_known);
  item(kMenuSupportBundle, "Create support bundle\xE2\x80\xA6");
  separator();
  item(kMenuExit, "Exit tray");
  return m;
}

}  // namespace ks::tray
