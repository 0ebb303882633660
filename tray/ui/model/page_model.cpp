#include "tray/ui/model/page_model.h"

#include <cstdio>

#include "bridge/text.h"
#include "tray/services/console_table.h"

namespace ks::tray {

namespace {

constexpr int kAttentionRank = 10;  // code 6 and everything more severe

int worst_of(const ConsoleCard (&cards)[2]) {
  if (cards[0].shown && cards[1].shown)
    return code_rank(cards[1].state) < code_rank(cards[0].state) ? 1 : 0;
  return cards[0].shown ? 0 : 1;
}

bool warn_or_bad(uint32_t tone) { return tone == kToneWarn || tone == kToneBad; }

std::string lower_first(const std::string& s) {
  std::string out = s;
  if (!out.empty()) out[0] = ascii_lower(out[0]);
  return out;
}

}  // namespace

std::string short_lv1_version(const std::string& v) {
  if (v.empty()) return "";
  size_t first = v.find('.');
  size_t second = first == std::string::npos ? std::string::npos : v.find('.', first + 1);
  return "v" + v.substr(0, second);
}

HeaderPill header_pill(const DashboardState& st, const ConsoleCard (&cards)[2]) {
  HeaderPill h;
  int shown = int(cards[0].shown) + int(cards[1].shown);
  bool installed_any =
      (cards[0].shown && cards[0].installed) || (cards[1].shown && cards[1].installed);
  int attention = 0;
  for (const auto& c : cards)
    if (c.shown && code_rank(c.state) <= kAttentionRank) ++attention;
  if (st.blocked) return {"Windows blocked Kestrune", kToneBad, true};
  if (shown == 0) return {"No console found", kToneWarn, true};
  if (!installed_any && !st.legacy_any) return {"Not set up yet", kToneDim, false};
  const ConsoleCard& w = cards[worst_of(cards)];
  if (attention >= 2) return {"2 consoles need attention", w.dot, warn_or_bad(w.dot)};
  if (w.state == kCodeConnected && shown == 2 && cards[0].state == kCodeConnected &&
      cards[1].state == kCodeConnected)
    return {"All consoles connected", kToneOk, false};
  if (w.state == kCodeConnected) return {w.name + " \u00b7 connected", w.dot, false};
  if (!w.status.empty())
    return {w.name + " \u00b7 " + lower_first(w.status), w.dot, warn_or_bad(w.dot)};
  return {w.name + " \u00b7 off", w.dot, warn_or_bad(w.dot)};
}

PageModel build_page_model(const DashboardState& st, const PageModelInputs& in) {
  PageModel out;
  build_page_model(st, in, out);
  return out;
}

void build_page_model(const DashboardState& st, const PageModelInputs& in, PageModel& out) {
  ConsoleCard cards[2] = {build_console_card(st, kWing), build_console_card(st, kX32)};
  const int shown = int(cards[0].shown) + int(cards[1].shown);
  const bool installed_any =
      (cards[0].shown && cards[0].installed) || (cards[1].shown && cards[1].installed);
  const bool any_installed = st.installed[0] || st.installed[1];
  const bool lv1_up = st.lv1_running;

  JsonWriter w;
  w.out.swap(out);
  w.out.clear();
  json_begin_object(w);

  HeaderPill h = header_pill(st, cards);
  json_begin_object(w, "header");
  {
    char sub[160];
    std::string ver = st.lv1_found ? short_lv1_version(st.lv1_version) : std::string("not found");
    std::snprintf(sub, sizeof sub, "%d console%s \u00b7 eMotion LV1 %s", shown,
                  shown == 1 ? "" : "s", ver.c_str());
    json_string(w, "sub", sub);
  }
  json_string(w, "pill", h.pill);
  json_string(w, "tone", tone_name(h.tone));
  json_bool(w, "edge", h.edge);
  json_end_object(w);

  json_begin_object(w, "menu");
  json_string(w, "state", h.pill);
  json_string(w, "tone", tone_name(h.tone));
  json_end_object(w);

  // Steps.
  const bool loader = st.loader_block_present;
  const bool step_done[3] = {
      installed_any,
      lv1_up && loader,
      loader &&
          (st.loader_block.types[0].live_usable != 0 || st.loader_block.types[1].live_usable != 0),
  };
  json_begin_array(w, "steps");
  if (!st.legacy_any && !st.blocked && shown > 0 &&
      !(step_done[0] && step_done[1] && step_done[2])) {
    int active = step_done[0] ? (step_done[1] ? 2 : 1) : 0;
    std::string names;
    for (const auto& c : cards)
      if (c.shown) names += (names.empty() ? "" : " and ") + c.name;
    std::string titles[3] = {
        "Install Kestrune in LV1",
        lv1_up && step_done[0] && !loader
            ? "Close and reopen eMotion LV1, so it loads Kestrune"
            : "Open eMotion LV1" + (st.lv1_found ? " v" + st.lv1_version : std::string()),
        "Assign the card to a rack slot",
    };
    std::string details[3] = {
        step_done[0]
            ? ""
            : "Switches the " + names + " on. Each switches off and on later, even while LV1 runs.",
        "",
        "In LV1: Setup \u25b8 System Inventory. Ticks itself once LV1 reports it.",
    };
    for (int i = 0; i < 3; ++i) {
      json_begin_object(w);
      json_bool(w, "done", step_done[i]);
      json_bool(w, "active", i == active);
      json_string(w, "title", titles[i]);
      json_string(w, "detail", details[i]);
      json_bool(w, "start", i == 1 && !lv1_up && st.lv1_exe_present);
      json_bool(w, "install", i == 0 && !step_done[0]);
      json_end_object(w);
    }
  }
  json_end_array(w);

  json_begin_object(w, "lv1");
  json_bool(w, "found", st.lv1_found);
  json_string(w, "version", st.lv1_version);
  json_bool(w, "up", lv1_up);
  json_bool(w, "canStart", !lv1_up && st.lv1_exe_present);
  json_begin_array(w, "slots");
  if (lv1_up && loader) {
    for (int t = 0; t < 2; ++t) {
      if (!cards[t].shown || !st.on[t]) continue;
      bool ok = st.loader_block.types[t].live_usable != 0;
      json_begin_object(w);
      json_bool(w, "ok", ok);
      json_string(
          w, "text",
          cards[t].card_type + (ok ? " \u00b7 in a rack slot" : " \u00b7 not in a rack slot"));
      json_end_object(w);
    }
  }
  json_end_array(w);
  json_end_object(w);

  // The other platform's permission rows: none asks for anything here.
  json_begin_object(w, "perm");
  json_bool(w, "open", false);
  json_string(w, "summary", "");
  json_string(w, "tone", tone_name(kToneDim));
  json_begin_array(w, "rows");
  json_end_array(w);
  json_end_object(w);

  const char* close_first = "Close eMotion LV1 first \u2014 the button enables itself.";
  if (st.blocked) {
    json_begin_object(w, "notice");
    json_string(w, "kind", "bad");
    json_string(w, "head", "Windows blocked Kestrune \u2014 LV1 runs without preamp control");
    json_string(
        w, "body",
        "LV1 and its audio are fine. No console gets gain or 48V on the strip until Kestrune is "
        "reinstalled.");
    json_string(w, "btn", "Reinstall Kestrune");
    json_string(w, "action", "reinstall");
    json_bool(w, "enabled", !lv1_up);
    json_string(w, "note", close_first);
    json_end_object(w);
  } else if (st.legacy_any) {
    json_begin_object(w, "notice");
    json_string(w, "kind", "lv1");
    json_string(w, "head", "Update to Kestrune 3");
    json_string(
        w, "body",
        "Kestrune 2 keeps working until you do \u2014 there is no need to stop a show for this. The "
        "update moves every console into Kestrune's own bundle and keeps their settings.");
    json_string(w, "btn", "Update to Kestrune 3");
    json_string(w, "action", "update3");
    json_bool(w, "enabled", !lv1_up);
    json_string(w, "note", close_first);
    json_end_object(w);
  } else if (any_installed && lv1_up && st.update_pending) {
    json_begin_object(w, "notice");
    json_string(w, "kind", "info");
    json_string(w, "head", "Kestrune update ready");
    json_string(w, "body", "It applies by itself the next time you close LV1.");
    json_string(w, "btn", "");
    json_string(w, "action", "");
    json_bool(w, "enabled", false);
    json_string(w, "note", "");
    json_end_object(w);
  }

  json_bool(w, "nothing", shown == 0);
  json_bool(w, "installAnyway",
            shown == 0 && !any_installed && !st.legacy_any && !st.blocked && st.lv1_found);
  json_begin_array(w, "nothingAddr");
  if (shown == 0) {
    for (int t = 0; t < 2; ++t) {
      if (!cards[t].addr_can) continue;
      json_begin_object(w);
      json_int(w, "c", t);
      json_string(w, "btn", t == kWing ? "WING address\u2026" : "X32 / M32 address\u2026");
      write_address_object(w, cards[t]);
      json_end_object(w);
    }
  }
  json_end_array(w);

  json_begin_array(w, "cards");
  for (const auto& c : cards)
    if (c.shown) write_console_card(w, c);
  json_end_array(w);

  auto write_list = [&] {
    json_begin_array(w, "list");
    for (const auto& c : cards) {
      if (!c.installed && !c.older) continue;
      json_begin_object(w);
      json_string(w, "name", c.name);
      json_string(w, "card", c.card_type);
      json_bool(w, "beta", c.beta);
      json_end_object(w);
    }
    json_end_array(w);
  };
  json_begin_object(w, "confirmRemove");
  json_string(w, "title", "Remove Kestrune from this computer?");
  json_string(
      w, "body",
      "These consoles' strips lose their gain and 48V controls; LV1 runs their cards on Waves' stock "
      "modules. The sound is not affected and the consoles keep their values.");
  json_string(w, "ok", "Remove Kestrune");
  write_list();
  json_end_object(w);
  if (st.legacy_any) {
    json_begin_object(w, "confirmUpdate");
    json_string(w, "title", "Update to Kestrune 3");
    json_string(
        w, "body",
        "Moves every console into Kestrune's own bundle and keeps their settings. Waves' files go "
        "back to stock.");
    json_string(w, "ok", "Update to Kestrune 3");
    write_list();
    json_end_object(w);
  }

  json_string(w, "message", in.message);
  json_bool(w, "messageBad", in.message_failed);
  json_bool(w, "anyInstalled", any_installed);
  json_bool(w, "legacyAny", st.legacy_any);
  json_bool(w, "lv1Up", lv1_up);
  json_string(w, "version", "Kestrune " + in.version);
  json_bool(w, "busy", in.busy);
  if (in.preview) {
    json_string(w, "fakeModal", in.fake_modal);
    json_int(w, "fakeModalCon", in.fake_modal_con);
    json_begin_array(w, "fakeOpen");
    json_bool(w, in.fake_open[0]);
    json_bool(w, in.fake_open[1]);
    json_end_array(w);
  }
  json_end_object(w);
  out.swap(w.out);
}

}  // namespace ks::tray
