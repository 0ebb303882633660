// The status page: header with the state pill, notices, grid tools, group chips and the grid.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "tray/services/text_utils.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/channel_kit.h"
#include "tray/ui/lookups.h"

namespace ks::tray {

namespace {

const FontSpec fTitle{"Segoe UI", 15, FontWeight::bold};
const FontSpec fBody{"Segoe UI", 12, FontWeight::regular};
const FontSpec fSmall{"Segoe UI", 11, FontWeight::regular};
const FontSpec fSemi{"Segoe UI Semibold", 12, FontWeight::semibold};
const FontSpec fNum{"Consolas", 11, FontWeight::regular};
const FontSpec fGain{"Segoe UI Semibold", 15, FontWeight::semibold};
constexpr Argb kCard = 0xFF151A20, kOutline = 0xFF2A333C, kNeutral = 0xFF8FA1AE;

std::u16string fmt(const char* f, auto... a) {
  char buf[256];
  std::snprintf(buf, sizeof buf, f, a...);
  return from_utf8(buf);
}

bool answering(const StatusBlock* b) { return b && shm_load(b->desk_answering) != 0; }
bool loaded(const StatusBlock* b) { return b && shm_load(b->lv1_loaded) != 0; }

void empty_state(Canvas& g, PaintContext& pc, const BridgeView& v, float W, float top) {
  const char16_t *title, *body, *btn = nullptr;
  int32_t id = 0;
  Argb bc = pal::muted;
  if (v.block) {
    title = u"Waiting for the card to be assigned";
    body =
        u"Kestrune is loaded. Assign the device to a rack slot in Setup \u25B8 System Inventory and the channels will appear here.";
    btn = u"Open setup", id = 6;
  } else if (lv1_starting(v)) {
    title = u"Starting up\u2026";
    body =
        u"eMotion LV1 is loading its modules. Preamp controls appear on the channel strip once it has finished, and this page follows them.";
  } else if (v.lv1_running) {
    title = u"LV1 is running, but Kestrune did not load";
    body =
        u"The module was refused at load or is not installed. On Windows 11 this is usually Smart App Control rejecting a new build \u2014 its verdict is not consistent, so a second attempt often succeeds.";
    bc = pal::bad, btn = u"Collect diagnostics", id = 8;
  } else {
    title = u"eMotion LV1 is not running";
    body =
        u"Start LV1 and assign the card. Preamp controls appear on the channel strip, and this page follows them.";
    btn = u"Start LV1", id = 7;
  }
  const float cw = std::min(W - 32, 520.0f), x = (W - cw) / 2;
  const float bh = text_height(g, body, fBody, cw - 48);
  const float h = 24 + 22 + 8 + bh + (btn ? 16 + 32 : 0) + 24;
  g.fill_round_rect(kCard, x, top, cw, h, 10);
  add_rounded_rect(g, kOutline, x, top, cw, h, 10);
  draw_text_box(g, title, fTitle, pal::text, x + 24, top + 24, cw - 48, TextAlign::near_);
  draw_wrapped_text(g, body, fBody, bc, x + 24, top + 54, cw - 48);
  if (btn)
    draw_button(g, pc, fSemi, btn, x + 24, top + 54 + bh + 16, text_width(g, btn, fSemi) + 32, 32,
                id, true, true);
}

}  // namespace

PillState status_pill(const BridgeView& v) {
  const StatusBlock* b = v.block;
  if (b) {
    const bool ans = answering(b), ld = loaded(b), deg = shm_load(b->degraded) != 0;
    if (ld && ans && !deg && !v.too_old && v.problems == 0) return {u"Linked", pal::ok, true};
    const uint32_t d = shm_load(b->discovery_decision);
    if (!ans && block_version(b) >= 15 && (d == 4 || d == 5))
      return {u"Choose the console in Setup", pal::warn, false};
    if (ld && ans) return {u"Attention", pal::warn, false};
    if (ld) return {u"Desk unreachable", pal::bad, false};
    return {u"No card assigned", pal::warn, false};
  }
  if (lv1_starting(v)) return {u"Starting\u2026", kNeutral, false};
  if (v.lv1_running) return {u"Module not loaded", pal::bad, false};
  return {u"Not running", kNeutral, false};
}

float paint_status_page(Canvas& g, PaintContext& pc, const BridgeView& v,
                        const DashboardUiState& ui, BridgeState& bs, float W) {
  const StatusBlock* b = v.block;
  bs.meters.clear();
  // Header.
  g.fill_round_rect(kCard, 16, 16, W - 32, 64, 10);
  add_rounded_rect(g, kOutline, 16, 16, W - 32, 64, 10);
  draw_state_icon(g, 32, 36, 24, pal::ok);
  draw_text_box(g, u"Kestrune", fTitle, pal::text, 66, 26, 200, TextAlign::near_);
  float tx = 66 + text_width(g, u"Kestrune", fTitle) + 14;
  if (v.both_alive) {
    const char16_t* tabs[2] = {u"WING", u"X32"};
    for (int i = 0; i < 2; ++i) {
      const float w = text_width(g, tabs[i], fSmall) + 18;
      const bool on = v.active_console == i;
      g.fill_round_rect(on ? 0xFF1B222A : 0xFF0A0D10, tx, 26, w, 20, 5);
      add_rounded_rect(g, on ? 0xFF3D4B59 : 0xFF26333C, tx, 26, w, 20, 5);
      draw_text_centred(g, tabs[i], fSmall, on ? pal::text : pal::muted, tx, 26, w, 20, true, w);
      pc.regions.push_back({tx, 26, w, 20, 900 + i, 1});
      tx += w + 6;
    }
  }
  std::u16string subtitle = u"Preamps on eMotion LV1's strips";
  if (b) {
    const std::string line = field_text(b->desk_line);
    // IdentityLine: model,ip,name,...: the desk's name is the third field.
    size_t p1 = line.find(','), p2 = p1 == std::string::npos ? p1 : line.find(',', p1 + 1);
    size_t p3 = p2 == std::string::npos ? p2 : line.find(',', p2 + 1);
    if (p2 != std::string::npos) {
      const std::string name =
          line.substr(p2 + 1, p3 == std::string::npos ? std::string::npos : p3 - p2 - 1);
      subtitle = fmt("%s \xC2\xB7 %s", v.active_console == 1 ? "X32 / M32" : "WING", name.c_str());
    }
  }
  draw_text_box(g, subtitle, fSmall, pal::muted, 66, 50, W / 2 - 66, TextAlign::near_);

  // State pill: the details button.
  const PillState ps = status_pill(v);
  std::u16string pill = ps.text;
  if (ps.linked && b) {
    int amps = 0;
    for (int c = 0; c < watched_channels(b); ++c) amps += b->has_head_amp[c] != 0;
    pill += fmt(" \xC2\xB7 %d preamps", amps);
  }
  const float pw = text_width(g, pill, fSemi) + 46, px = W - 32 - pw;
  g.fill_round_rect(0xFF0A0D10, px, 29, pw, 32, 16);
  add_rounded_rect(g, ui.details_open ? 0xFF3D4B59 : 0xFF26333C, px, 29, pw, 32, 16);
  g.fill_ellipse((ps.colour & 0x00FFFFFF) | 0x33000000, px + 9, 38, 14, 14);
  g.fill_ellipse(ps.colour, px + 12, 41, 8, 8);
  draw_text_box(g, pill, fSemi, pal::text, px + 30, 37, pw - 36, TextAlign::near_);
  pc.regions.push_back({px, 29, pw, 32, 12, 1});
  bs.details_button[0] = px, bs.details_button[1] = 29, bs.details_button[2] = pw,
  bs.details_button[3] = 32;
  const float sw =
      draw_button_at_right(g, pc, fSmall, u"     Setup", px - 10, 33, 6, true, false, 24);
  draw_gear_glyph(g, px - 10 - sw + 19, 45, 6, pal::muted);
  const std::u16string lv1 = v.lv1_version.empty() ? u"LV1 \u2014" : u"LV1 " + v.lv1_version;
  draw_text_box(g, lv1, fSmall, pal::dim, px - 10 - sw - 10 - text_width(g, lv1, fSmall), 38, 0,
                TextAlign::near_);

  // Notices.
  float y = 92;
  std::vector<std::u16string> notices;
  if (v.problems > 0)
    notices.push_back(fmt("%d problem(s) in the log \xE2\x80\x94 %s", v.problems,
                          "see Collect diagnostics in Setup"));
  if (v.install_pending)
    notices.push_back(u"A Kestrune update is waiting \u2014 it installs when eMotion LV1 closes.");
  const uint32_t ver = block_version(b);
  if (b && ver < kAppLayoutVersion)
    notices.push_back(fmt(
        "The Kestrune module is stale (v%u, this app is v%u) \xE2\x80\x94 close eMotion LV1, then Reinstall in Setup.",
        ver, kAppLayoutVersion));
  if (b && ver > kAppLayoutVersion)
    notices.push_back(fmt(
        "The Kestrune module (v%u) is newer than this app (v%u) \xE2\x80\x94 update the app to match.",
        ver, kAppLayoutVersion));
  for (const auto& n : notices) {
    const float h = text_height(g, n, fBody, W - 32 - 44) + 16;
    g.fill_round_rect(0xFF1D1710, 16, y, W - 32, h, 8);
    add_rounded_rect(g, 0xFF5A4526, 16, y, W - 32, h, 8);
    draw_warning_glyph(g, 32, y + h / 2, 6, pal::warn, 1.5f);
    draw_wrapped_text(g, n, fBody, pal::text, 48, y + 8, W - 32 - 44);
    y += h + 8;
  }

  const int n = watched_channels(b);
  const bool grid = b && loaded(b) && n > 0;
  if (!grid) {
    empty_state(g, pc, v, W, y + 8);
    bs.columns = dashboard_columns(W), bs.cell_w = 0, bs.grid_top = 0;
    return y + 8 + 200;
  }

  // Grid tools: filters with counts, clips, the protect list and the overall meter.
  int phantom = 0, clipped = 0;
  for (int c = 0; c < n; ++c) phantom += b->phantom[c] != 0, clipped += bs.clips.latch[c] != 0;
  const int signal =
      std::popcount(bs.signal.mask & (n >= 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1)));
  const char16_t* names[4] = {u"All", u"Signal", u"Clipped", u"48V"};
  const int counts[4] = {n, signal, clipped, phantom};
  float fx = 16;
  for (int i = 0; i < 4; ++i) {
    const std::u16string t = std::u16string(names[i]) + u"  " + fmt("%d", counts[i]);
    const float w = text_width(g, t, fSmall) + 20;
    const bool on = ui.view_filter == uint32_t(i);
    const bool mark = i == 2 && counts[2] >= 1;
    g.fill_round_rect(on ? 0xFF1B222A : 0xFF0A0D10, fx, y, w, 26, 6);
    add_rounded_rect(g, mark ? 0xFF5E2A2F : (on ? 0xFF3D4B59 : 0xFF26333C), fx, y, w, 26, 6);
    draw_text_centred(g, t, fSmall, mark ? pal::bad : (on ? pal::text : pal::muted), fx, y, w, 26,
                      true, w);
    pc.regions.push_back({fx, y, w, 26, 15 + i, 1});
    fx += w + 6;
  }
  fx += 6;
  if (bs.clips.clipped_channels > 0 || clipped > 0) {
    const float w = text_width(g, u"Clear clips", fSmall) + 20;
    draw_button(g, pc, fSmall, u"Clear clips", fx, y, w, 26, 19, true, false);
    fx += w + 10;
  } else {
    draw_text_box(g, u"No clips", fSmall, pal::dim, fx, y + 6, 80, TextAlign::near_);
    fx += text_width(g, u"No clips", fSmall) + 14;
  }
  // Overall meter at the right.
  const float mw = std::min(180.0f, std::max(80.0f, W * 0.16f)), mx = W - 16 - 12 - mw;
  draw_text_box(g, u"\u221260", fNum, pal::dim, mx - 30, y + 6, 28, TextAlign::near_);
  g.fill_round_rect(0xFF0A0D10, mx, y + 10, mw, 6, 3);
  bs.meters.push_back({mx, y + 10, mw, 6, -1, 0});
  draw_text_box(g, u"0", fNum, pal::dim, mx + mw + 3, y + 6, 12, TextAlign::near_);
  if (bs.clips.loudest_peak_db > kNoLevelDb)
    draw_text_box(g, u"pk " + db_text(bs.clips.loudest_peak_db), fNum, pal::muted, mx, y + 16, mw,
                  TextAlign::far_);
  // Protect list between the clips and the meter.
  {
    const uint32_t pn = std::min<uint32_t>(shm_load(b->protect_count), kProtectCapacity);
    std::u16string t = u"48V locked: ";
    if (pn == 0) t += u"none";
    const float room = mx - 40 - fx;
    uint32_t shown = 0;
    for (uint32_t i = 0; i < pn; ++i) {
      std::u16string e = (shown ? u" \u00B7 " : u"") +
                         fmt("%s %u", field_text(b->protect[i].bank).c_str(), b->protect[i].input);
      if (text_width(g, t + e + u" +99", fSmall) > room) break;
      t += e, ++shown;
    }
    if (shown < pn) t += fmt(" +%u", pn - shown);
    if (room > 40) draw_text_box(g, t, fSmall, pal::muted, fx, y + 6, room, TextAlign::near_);
  }
  y += 36;

  // Groups of the watched range.
  {
    float cx = 16;
    const uint32_t rn = std::min<uint32_t>(b->range_count, kGroupRanges);
    for (uint32_t i = 0; i < rn; ++i) {
      const std::string bank = field_text(b->ranges[i].bank);
      int chans = 0, amps = 0;
      for (int c = 0; c < n; ++c)
        if (same_group(field_text(b->src_bank[c]), bank)) ++chans, amps += b->has_head_amp[c] != 0;
      if (chans == 0) continue;
      std::u16string t = fmt("%s \xC2\xB7 %d ch", bank.c_str(), chans);
      if (amps > 0)
        t += u"  " + db_text(b->ranges[i].min) + u" \u2026 " + db_text(b->ranges[i].max) +
             u" \u00B7 step " + db_text(b->ranges[i].step, 2);
      else
        t += u"  no preamp";
      const float w = text_width(g, t, fSmall) + 26;
      if (cx + w > W - 16) break;
      g.fill_round_rect(0xFF0A0D10, cx, y, w, 24, 6);
      add_rounded_rect(g, 0xFF1C242C, cx, y, w, 24, 6);
      g.fill_round_rect(source_tag_colour(bank), cx + 8, y + 6, 3, 12, 1.5f);
      draw_text_box(g, t, fSmall, pal::muted, cx + 16, y + 5, w - 18, TextAlign::near_);
      cx += w + 6;
    }
    if (cx + 200 < W - 16)
      draw_text_box(g, u"read from the console, never assumed", fSmall, pal::dim, cx + 6, y + 5,
                    W - 16 - cx, TextAlign::near_);
  }
  y += 24 + 19;  // the grid starts at 171 when no notice is shown

  // Channel grid.
  const int cols = dashboard_columns(W);
  const float cw = (W - 32 - 5.0f * float(cols - 1)) / float(cols);
  bs.columns = cols, bs.cell_w = cw, bs.grid_top = y;
  for (int c = 0; c < n; ++c) {
    const float x = 16 + float(c % cols) * (cw + 5), cy = y + float(c / cols) * 83;
    const bool amp = b->has_head_amp[c] != 0;
    bool match = true;
    if (ui.view_filter == 1) match = (bs.signal.mask >> c) & 1;
    if (ui.view_filter == 2) match = bs.clips.latch[c] != 0;
    if (ui.view_filter == 3) match = b->phantom[c] != 0;
    const bool hover = pc.hover_id == 1000 + c;
    g.fill_round_rect(hover ? 0xFF1B222A : kCard, x, cy, cw, 78, 8);
    add_rounded_rect(g, hover ? 0xFF3D4B59 : 0xFF1C242C, x, cy, cw, 78, 8);
    g.fill_round_rect(source_tag_colour(field_text(b->src_bank[c])), x + 5, cy + 3, 2, 72, 1);
    draw_text_box(g, fmt("%02d", c + 1), fNum, pal::dim, x + 12, cy + 7, 22, TextAlign::near_);
    const std::u16string src = is_unpatched(b, c) ? u"unpatched" : source_label(b, c);
    const uint8_t lm = block_version(b) >= 5 ? b->link_mode[c] : 0;
    draw_text_box(g, src, fSmall, pal::muted, x + 34, cy + 6, cw - 34 - (lm ? 34 : 6),
                  TextAlign::near_);
    if (lm) {
      const char16_t* lt = lm == 1 ? u"L" : (lm == 2 ? u"R" : u"M/S");
      const float bw = std::max(17.0f, text_width(g, lt, fSmall) + 8);
      add_rounded_rect(g, pal::accent, x + cw - 8 - bw, cy + 6, bw, 15, 3);
      draw_text_centred(g, lt, fSmall, pal::accent, x + cw - 8 - bw, cy + 6, bw, 15, true, bw);
    }
    std::u16string name = channel_name(b, c);
    int shares = 0;
    if (!is_unpatched(b, c))
      for (int o = 0; o < n; ++o)
        shares += b->src_input[o] == b->src_input[c] &&
                  same_group(field_text(b->src_bank[o]), field_text(b->src_bank[c]));
    if (shares > 1) name += fmt("  \xC3\x97%d", shares);

    // The gain row's badges sit at the right: 48V outermost, MUTE left of it. Where they would
    // cover the gain, MUTE moves up to the end of the name's row; the unit is drawn only where
    // it fits before them.
    const std::u16string gt = amp ? db_text(b->gain_db[c]) : u"\u2013\u2013";
    const float gain_end = x + 12 + (amp ? text_width(g, gt, fGain) : 30.0f);
    const float right = x + cw - 8;
    const float w48 = amp && b->phantom[c] ? text_width(g, u"48V", fSmall) + 10 : 0;
    const bool muted = block_version(b) >= 7 && b->mute_state[c];
    const float wm = muted ? text_width(g, u"MUTE", fSmall) + 10 : 0;
    float row_left = right - w48;  // where the gain row's badges begin
    float mute_x = row_left - 4 - wm, mute_y = cy + 41;
    const bool mute_up = muted && mute_x < gain_end + 4;
    if (mute_up) {
      mute_x = right - wm;
      mute_y = cy + 22;
    } else if (muted) {
      row_left = mute_x;
    }
    draw_text_box(g, name, fSmall, pal::text, x + 12, cy + 22,
                  (mute_up ? mute_x - 4 - (x + 12) : cw - 20), TextAlign::near_);
    if (amp) {
      draw_text_box(g, gt, fGain, pal::text, x + 12, cy + 38, cw - 20, TextAlign::near_);
      const float unit_x = x + 14 + text_width(g, gt, fGain);
      if (unit_x + text_width(g, u"dB", fSmall) <= row_left - 3)
        draw_text_box(g, u"dB", fSmall, pal::dim, unit_x, cy + 42, 20, TextAlign::near_);
    } else {
      draw_text_box(g, gt, fGain, pal::dim, x + 12, cy + 38, 30, TextAlign::near_);
    }
    if (w48 > 0) draw_48v_badge(g, fSmall, right - w48, cy + 41, pal::bad);
    if (muted) {
      g.fill_round_rect(0xFF361A1D, mute_x, mute_y, wm, 17, 3);
      draw_text_centred(g, u"MUTE", fSmall, pal::bad, mute_x, mute_y, wm, 17, true, wm);
    }
    g.fill_round_rect(0xFF0A0D10, x + 12, cy + 66, cw - 24, 5, 2);
    bs.meters.push_back({x + 12, cy + 66, cw - 24, 5, c, uint8_t(match ? 0 : 1)});
    if (!match) g.fill_round_rect(0xB20D1014, x, cy, cw, 78, 8);
    pc.regions.push_back({x, cy, cw, 78, 1000 + c, 1});
  }
  const int rows = (n + cols - 1) / cols;
  y += float(rows) * 83 + 10;

  // Footer hints, wrapped as the width allows; the count of lines is kept for the page height.
  const std::u16string hints =
      u"Gain and 48V follow the desk both ways.   Click a channel for its head amp, stereo link and routing.   48V stays with the XLR \u2014 a link or repatch never moves it.   Ctrl+Shift+D";
  const float hh = text_height(g, hints, fSmall, W - 32);
  const float lh = text_height(g, u"X", fSmall, W - 32);
  bs.hint_lines = lh > 0 ? unsigned(std::max(1.0f, std::round(hh / lh))) : 1;
  draw_wrapped_text(g, hints, fSmall, pal::dim, 16, y, W - 32);
  return y + 16 + float(bs.hint_lines) * 15 - 15 + 16;
}

}  // namespace ks::tray
