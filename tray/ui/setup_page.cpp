#include "tray/ui/setup_page.h"

#include <algorithm>
#include <cmath>

#include "os/utf.h"

namespace ks::tray {

namespace {

const FontSpec fConsoles{"Segoe UI", 19, FontWeight::bold};
const FontSpec fTitle{"Segoe UI", 13, FontWeight::bold};
const FontSpec fName{"Segoe UI", 14, FontWeight::bold};
const FontSpec fText{"Segoe UI", 12, FontWeight::regular};
const FontSpec fSemi{"Segoe UI Semibold", 12, FontWeight::semibold};
const FontSpec fSmall{"Segoe UI", 11.5f, FontWeight::regular};
const FontSpec fSmallSemi{"Segoe UI Semibold", 11.5f, FontWeight::semibold};
const FontSpec fSwitch{"Segoe UI Semibold", 11, FontWeight::semibold};
const FontSpec fSection{"Segoe UI Semibold", 12.5f, FontWeight::semibold};
const FontSpec fBeta{"Consolas", 10, FontWeight::bold};
const FontSpec fStepNo{"Consolas", 12, FontWeight::bold};
const FontSpec fMono{"Consolas", 12, FontWeight::regular};

constexpr Argb kSecondary = 0xFFB9C6CF, kDivider = 0xFF1F272F, kDark = 0xFF081418;

bool flag(const JsonValue* o, const char* k) {
  const JsonValue* v = o ? json_find(*o, k) : nullptr;
  return v && v->kind == JsonKind::boolean && v->boolean;
}
std::u16string str(const JsonValue* o, const char* k) { return json_wstring(o, k); }
std::string str8(const JsonValue* o, const char* k) { return o ? json_get_string(*o, k) : ""; }
const JsonValue* arr(const JsonValue* o, const char* k) {
  const JsonValue* v = o ? json_find(*o, k) : nullptr;
  return v && v->kind == JsonKind::array ? v : nullptr;
}
size_t count(const JsonValue* a) { return a ? a->items.size() : 0; }
// A console index from "c": 0 or 1, else -1 (absurd numbers included).
int console_of(const JsonValue& o) {
  const JsonValue* v = json_find(o, "c");
  if (!v || v->kind != JsonKind::number || !(v->number > -1 && v->number < 2)) return -1;
  return static_cast<int>(v->number);
}

float bw(Canvas& g, const std::u16string& t) { return text_width(g, t, fSemi) + 32; }

void card(Canvas& g, float L, float y, float cw, float h, Argb outline) {
  fill_round_rect(g, 0xFF151A20, L, y, cw, h, 8);
  add_rounded_rect(g, outline, L, y, cw, h, 8);
}

struct Ctx {
  Canvas& g;
  PaintContext& pc;
  float L, cw;
};

float console_card(Ctx& c, const JsonValue& cd, int i, float y, bool open,
                   std::array<std::string, kMaxAnswers>& slots) {
  Canvas& g = c.g;
  const float L = c.L, cw = c.cw;
  const std::u16string msg = str(&cd, "msg");
  const bool retry = flag(&cd, "retry"), support = flag(&cd, "support"), blink = flag(&cd, "blink"),
             installed = flag(&cd, "installed");
  const JsonValue* addr = json_find(cd, "addr");
  const bool band = flag(addr, "band"), can = flag(addr, "can");
  const std::u16string abtn = str(addr, "btn");
  const JsonValue* cands = arr(&cd, "cands");
  const size_t k = std::min<size_t>(count(cands), kMaxAnswers);

  float sum = 0;
  if (!msg.empty()) {
    if (retry) sum += bw(g, u"Retry now") + 8;
    if (band) sum += bw(g, abtn) + 8;
    if (blink) sum += bw(g, u"Blink this LV1's card") + 8;
    if (support) sum += bw(g, u"Save support file\u2026") + 8;
  }
  const float mw = cw - 51 - (sum > 0 ? sum + 10 : 0);
  const float msg_h = text_height(g, msg, fText, mw);
  float m = 0;
  if (!msg.empty())
    m = std::max((retry || support) ? 52.0f : 0.0f, msg_h + 23) + (k > 0 ? 40.0f * k + 6 : 0);

  const bool resync = flag(&cd, "resyncLv1");
  float wr = text_width(g, u"Resend LV1 values", fSmallSemi) + 22;
  float wk = text_width(g, u"Keep desk values", fSmallSemi) + 22;
  (resync ? wr : wk) += 14;
  const float iw = cw - 51;
  const float rd = text_height(g, str(&cd, "recallDesc"), fSmall, iw - 64);
  const float dw = iw - (wr + wk) - 20;
  const float dh = text_height(g, str(&cd, "dropTitle"), fSection, dw) + 3 +
                   text_height(g, str(&cd, "dropDesc"), fSmall, dw);
  const std::u16string ashort = str(addr, "short");
  const float aw = iw - (text_width(g, ashort, fSemi) + 32) - 20;
  const float ah = can ? text_height(g, str(addr, "desc"), fSmall, aw) + 18 : 0;
  const JsonValue* details = arr(&cd, "details");
  float d = 0;
  if (open && installed)
    d = 24.0f * count(details) + 32 + (rd + 18) + 16 + std::max(dh, 30.0f) + 16 +
        (can ? ah + 16 : 0);
  const float f = installed ? 38 : 0;
  const float h = 66 + m + d + f;

  const std::string edge = str8(&cd, "edge");
  card(g, L, y, cw, h, tone_border_color(edge, open ? 0xFF2F3B46 : 0xFF1C242C));
  g.fill_rect(tone_color(edge), L + 18, y + 14, 3, 38);

  const float X = L + cw - 60;
  const std::u16string status = str(&cd, "status");
  // Name and meta give way to the status text on a narrow page instead of running under it.
  const float status_left = status.empty() ? X - 48 : X - 62 - text_width(g, status, fSemi) - 15;
  const float room = std::max(status_left - 10 - (L + 35), 40.0f);
  const std::u16string name = str(&cd, "name");
  const float name_w = std::min(260.0f, room - (flag(&cd, "beta") ? 50.0f : 0.0f));
  draw_text_box(g, name, fName, pal::text, L + 35, y + 14, name_w, TextAlign::near_);
  if (flag(&cd, "beta")) {
    const float bx = L + 35 + std::min(text_width(g, name, fName), name_w) + 8;
    const float bwid = text_width(g, u"BETA", fBeta) + 10;
    add_rounded_rect(g, 0xFF3D4B57, bx, y + 16, bwid, 16, 4);
    draw_text_centred(g, u"BETA", fBeta, kSecondary, bx, y + 16, bwid, 16, true, 0);
  }
  draw_text_box(g, str(&cd, "meta"), fText, pal::muted, L + 35, y + 36, std::min(300.0f, room),
                TextAlign::near_);

  draw_toggle(g, c.pc, X, y + 21, flag(&cd, "on"), 400 + i, flag(&cd, "switchEnabled"));
  g.fill_rect(0xFF242D36, X - 48, y + 10, 1, 46);
  draw_text_box(g, flag(&cd, "on") ? u"On" : u"Off", fSwitch, pal::muted, X - 34, y + 25.5f, 26,
                TextAlign::near_);
  if (!status.empty()) {
    const float sw = text_width(g, status, fSemi);
    draw_text_box(g, status, fSemi, kSecondary, X - 62 - sw, y + 25, 0, TextAlign::near_);
    draw_status_dot(g, X - 62 - sw - 15, y + 33, tone_color(str8(&cd, "dot")));
  }

  const float b = y + 66;
  if (m > 0) {
    g.fill_rect(kDivider, L + 1, b, cw - 2, 1);
    draw_wrapped_text(g, msg, fText, tone_color(str8(&cd, "msgTone")), L + 35, b + 11, mw);
    float r = L + cw - 16;
    const float mid = b + (m - (k > 0 ? 40.0f * k + 6 : 0)) / 2 - 15;
    if (retry)
      r -= draw_button_at_right(g, c.pc, fSemi, u"Retry now", r, mid, 450 + i, true, false, 30) + 8;
    if (band)
      r -= draw_button_at_right(g, c.pc, fSemi, abtn, r, k > 0 ? b + 8 : mid, 500 + i, true, false,
                                30) +
           8;
    if (blink)
      r -= draw_button_at_right(g, c.pc, fSemi, u"Blink this LV1's card", r, b + 8, 470 + i, true,
                                false, 30) +
           8;
    if (support)
      draw_button_at_right(g, c.pc, fSemi, u"Save support file\u2026", r, mid, 1, true, false, 30);
    for (size_t a_i = 0; a_i < k; ++a_i) {
      const JsonValue& an = cands->items[a_i];
      const float a = b + 11 + msg_h + 10 + 40.0f * a_i;
      const bool has_card = flag(&an, "card");
      fill_round_rect(g, 0xFF0A0D10, L + 35, a, cw - 51, 34, 6);
      draw_status_dot(g, L + 47, a + 17, has_card ? pal::ok : pal::muted);
      draw_text_box(g, str(&an, "head"), fSemi, pal::text, L + 63, a + 3, cw - 260,
                    TextAlign::near_);
      draw_text_box(g, str(&an, "sub"), fSmall, pal::muted, L + 63, a + 18, cw - 260,
                    TextAlign::near_);
      draw_button_at_right(g, c.pc, fSemi, u"Use this one", L + cw - 22, a + 3,
                           480 + 8 * i + static_cast<int>(a_i), true, has_card, 30);
      const JsonValue* id = json_find(an, "id");
      slots[a_i] = id && id->kind == JsonKind::string ? id->text : std::string();
    }
  }

  if (d > 0) {
    const float e = b + m;
    g.fill_rect(kDivider, L + 1, e, cw - 2, 1);
    float s = e + 14;
    for (const auto& row : details->items) {
      draw_text_box(g, str(&row, "k"), fText, pal::muted, L + 35, s, 96, TextAlign::near_);
      draw_text_box(g, str(&row, "v"), flag(&row, "mono") ? fMono : fText, 0xFFD3DDE4, L + 145, s,
                    cw - 161, TextAlign::near_);
      s += 24;
    }
    g.fill_rect(kDivider, L + 35, s + 4, cw - 51, 1);
    s += 18;
    draw_text_box(g, u"Recall preamps with sessions", fSection, pal::text, L + 35, s, 0,
                  TextAlign::near_);
    draw_wrapped_text(g, str(&cd, "recallDesc"), fSmall, pal::muted, L + 35, s + 18, iw - 64);
    draw_toggle(g, c.pc, L + cw - 60, s + 2, flag(&cd, "recall"), 420 + i, true);
    const float t = s + rd + 34;
    const float th =
        draw_wrapped_text(g, str(&cd, "dropTitle"), fSection, pal::text, L + 35, t, dw);
    draw_wrapped_text(g, str(&cd, "dropDesc"), fSmall, pal::muted, L + 35, t + th + 3, dw);
    const float sx = L + cw - 16 - wr - wk;
    fill_round_rect(g, 0xFF12181E, sx, t + 1, wr + wk, 28, 6);
    fill_round_rect(g, 0xFF1D5E6E, resync ? sx : sx + wr, t + 1, resync ? wr : wk, 28, 6);
    add_rounded_rect(g, 0xFF2F3B46, sx, t + 1, wr + wk, 28, 6);
    draw_text_centred(g, resync ? u"\u2713 Resend LV1 values" : u"Resend LV1 values", fSmallSemi,
                      resync ? 0xFFFFFFFF : pal::muted, sx, t + 1, wr, 28, true, 0);
    draw_text_centred(g, resync ? u"Keep desk values" : u"\u2713 Keep desk values", fSmallSemi,
                      resync ? pal::muted : 0xFFFFFFFF, sx + wr, t + 1, wk, 28, true, 0);
    c.pc.regions.push_back({sx, t + 1, wr, 28, 430 + i, 1});
    c.pc.regions.push_back({sx + wr, t + 1, wk, 28, 440 + i, 1});
    if (can) {
      const float u = t + std::max(dh, 30.0f) + 16;
      draw_text_box(g, u"Console address", fSection, pal::text, L + 35, u, 0, TextAlign::near_);
      draw_wrapped_text(g, str(addr, "desc"), fSmall, pal::muted, L + 35, u + 18, aw);
      draw_button_at_right(g, c.pc, fSemi, ashort, L + cw - 16, u, 500 + i, true, false, 28);
    }
  }

  if (installed) {
    const float gy = b + m + d;
    g.fill_rect(kDivider, L + 1, gy, cw - 2, 1);
    if (!open)
      draw_text_box(g, str(&cd, "summary"), fSmall, pal::muted, L + 35, gy + 11, cw - 165,
                    TextAlign::near_);
    const std::u16string label = open ? u"Hide details \u25B4" : u"Details \u25BE";
    const float w = text_width(g, label, fSmallSemi) + 20;
    const float x = L + cw - 16 - w;
    fill_round_rect(g, c.pc.hover_id == 410 + i ? 0xFF1B222A : 0xFF151A20, x, gy + 7, w, 24, 6);
    add_rounded_rect(g, 0xFF2F3B46, x, gy + 7, w, 24, 6);
    draw_text_centred(g, label, fSmallSemi, kSecondary, x, gy + 7, w, 24, true, 0);
    c.pc.regions.push_back({x, gy + 7, w, 24, 410 + i, 1});
  }
  return h;
}

}  // namespace

SetupPageResult paint_setup_page(Canvas& g, PaintContext& pc, const JsonValue& model,
                                 const SetupPageInputs& in, float W) {
  SetupPageResult res;
  const float cw = std::min(W - 48, 852.0f);
  const float L = (W - cw) / 2;
  float y = 16;
  Ctx c{g, pc, L, cw};

  // 1. Header.
  const JsonValue* hd = json_find(model, "header");
  card(g, L, y, cw, 50, 0xFF242D36);
  draw_state_icon(g, L + 14, y + 13, 24, pal::ok);
  draw_text_box(g, u"Kestrune", fTitle, pal::text, L + 50, y + 8, 0, TextAlign::near_);
  const std::u16string pill = str(hd, "pill");
  const float pw = text_width(g, pill, fSmallSemi) + 36;
  // The sub line gives way to the pill rather than running under it.
  draw_text_box(g, str(hd, "sub"), fSmall, pal::muted, L + 50, y + 26,
                std::max(cw - 14 - pw - 50 - 8, 1.0f), TextAlign::near_);
  const float px = L + cw - 14 - pw;
  const std::string tone = str8(hd, "tone");
  fill_round_rect(g, 0xFF0A0D10, px, y + 12, pw, 26, 13);
  add_rounded_rect(g, flag(hd, "edge") ? tone_border_color(tone, 0xFF242D36) : 0xFF242D36, px,
                   y + 12, pw, 26, 13);
  draw_status_dot(g, px + 10, y + 25, tone_color(tone));
  draw_text_centred(g, pill, fSmallSemi, pal::text, px + 26, y + 12, pw - 26, 26, false, 0);
  y += 68;

  // 2.
  draw_text_box(g, u"Consoles", fConsoles, pal::text, L, y, 0, TextAlign::near_);
  y += 30;

  // 3. Steps.
  const JsonValue* steps = arr(&model, "steps");
  if (count(steps) > 0) {
    y += draw_wrapped_text(g,
                           u"Kestrune puts each console's preamp gain and 48V on eMotion LV1's "
                           u"channel strip.",
                           fText, pal::muted, L, y, cw) +
         10;
    std::vector<float> rows;
    float sum = 0;
    for (const auto& s : steps->items) {
      const bool ins = flag(&s, "install"), st = flag(&s, "start");
      const float btn = ins ? bw(g, u"Install") : st ? bw(g, u"Start LV1") : 0;
      const float dw = (ins || st) ? (L + cw - 14) - btn - 12 - (L + 50) : cw - 80;
      const std::u16string det = str(&s, "detail");
      const float rh = det.empty() ? 40 : std::max(text_height(g, det, fSmall, dw) + 1, 16.0f) + 40;
      rows.push_back(rh);
      sum += rh;
    }
    card(g, L, y, cw, sum + 12, 0xFF1C242C);
    float r = y + 6;
    for (size_t n = 0; n < steps->items.size(); ++n) {
      const JsonValue& s = steps->items[n];
      const bool done = flag(&s, "done"), active = flag(&s, "active");
      const bool ins = flag(&s, "install"), st = flag(&s, "start");
      g.fill_ellipse(done ? pal::ok : active ? pal::accent : 0xFF1B222A, L + 16, r + 9, 22, 22);
      if (done) {
        g.line(kDark, L + 22.5f, r + 20.5f, L + 25.5f, r + 23.5f, 2);
        g.line(kDark, L + 25.5f, r + 23.5f, L + 31.5f, r + 17, 2);
      } else {
        const std::u16string no(1, static_cast<char16_t>(u'1' + std::min<size_t>(n, 8)));
        draw_text_centred(g, no, fStepNo, active ? kDark : pal::muted, L + 16, r + 9, 22, 22, true,
                          0);
      }
      draw_text_box(g, str(&s, "title"), fSemi, done ? pal::muted : pal::text, L + 50, r + 12,
                    cw - 200, TextAlign::near_);
      const float btn = ins ? bw(g, u"Install") : st ? bw(g, u"Start LV1") : 0;
      const float dw = (ins || st) ? (L + cw - 14) - btn - 12 - (L + 50) : cw - 80;
      draw_wrapped_text(g, str(&s, "detail"), fSmall, pal::muted, L + 50, r + 32, dw);
      if (ins)
        draw_button_at_right(g, pc, fSemi, u"Install", L + cw - 14, r + 5, 465, true, active, 30);
      else if (st)
        draw_button_at_right(g, pc, fSemi, u"Start LV1", L + cw - 14, r + 5, 7, true, active, 30);
      r += rows[n];
    }
    y += sum + 12 + 14;
  }

  // 4. LV1 card.
  const JsonValue* lv1 = json_find(model, "lv1");
  const bool found = flag(lv1, "found"), up = flag(lv1, "up");
  const JsonValue* slots = arr(lv1, "slots");
  const float lh = (count(slots) > 0 ? 68.0f : 46.0f) + (found ? 0 : 4);
  card(g, L, y, cw, lh, 0xFF1C242C);
  const float t = y + 13;
  draw_status_dot(g, L + 18, t + 9, !found ? pal::bad : up ? pal::ok : pal::muted);
  if (!found) {
    draw_text_box(g, u"eMotion LV1 not found", fTitle, pal::text, L + 36, t, 0, TextAlign::near_);
    draw_text_box(g, u"Install LV1 on this PC, then Rescan.", fText, pal::muted, L + 36, t + 19, 0,
                  TextAlign::near_);
  } else {
    draw_text_box(g, u"eMotion LV1", fTitle, pal::text, L + 36, t, 0, TextAlign::near_);
    const std::u16string ver = u"v" + str(lv1, "version");
    const float vx = L + 36 + text_width(g, u"eMotion LV1 ", fTitle);
    draw_text_box(g, ver, fMono, pal::muted, vx, t + 1, 0, TextAlign::near_);
    draw_text_box(g, up ? u"\u00B7 running" : u"Not running", fText, pal::muted,
                  vx + text_width(g, ver + u" ", fMono), t + 1, 0, TextAlign::near_);
    if (flag(lv1, "canStart") && count(steps) == 0)
      draw_button_at_right(g, pc, fSemi, u"Start LV1", L + cw - 14, y + (lh - 30) / 2, 7, true,
                           false, 30);
    float sx = L + 36;
    for (size_t n = 0; slots && n < slots->items.size(); ++n) {
      const JsonValue& s = slots->items[n];
      const bool ok = flag(&s, "ok");
      const std::u16string txt = (ok ? u"\u2713 " : u"! ") + str(&s, "text");
      draw_text_box(g, txt, fText, ok ? kSecondary : pal::warn, sx, t + 24, 0, TextAlign::near_);
      sx += text_width(g, txt, fText) + 20;
    }
  }
  y += lh + 8;

  // 5. Notice.
  const JsonValue* notice = json_find(model, "notice");
  if (notice && notice->kind == JsonKind::object) {
    const std::string kind = str8(notice, "kind"), action = str8(notice, "action");
    const Argb fill = kind == "bad" ? 0xFF1C1214 : kind == "lv1" ? 0xFF10232A : 0xFF12191F;
    const Argb line = kind == "bad" ? 0xFF5E2A2F : kind == "lv1" ? 0xFF2C6C7C : 0xFF242D36;
    const int id = action == "update3" ? 460 : action == "reinstall" ? 461 : 0;
    const std::u16string btn = str(notice, "btn"), head = str(notice, "head"),
                         body = str(notice, "body"), note = str(notice, "note");
    const bool enabled = flag(notice, "enabled");
    const float tw = cw - 32 - (btn.empty() ? 0 : bw(g, btn) + 20);
    const bool show_note = !btn.empty() && !note.empty() && !enabled;
    const float hh = text_height(g, head, fSemi, tw);
    const float bh = body.empty() ? 0 : text_height(g, body, fText, tw) + 3;
    const float nh = show_note ? text_height(g, note, fSmallSemi, tw) + 6 : 0;
    const float h = std::max(btn.empty() ? 0.0f : 56.0f, hh + bh + nh + 24);
    fill_round_rect(g, fill, L, y, cw, h, 8);
    add_rounded_rect(g, line, L, y, cw, h, 8);
    draw_wrapped_text(g, head, fSemi, pal::text, L + 16, y + 12, tw);
    if (!body.empty()) draw_wrapped_text(g, body, fText, kSecondary, L + 16, y + 12 + hh + 3, tw);
    if (show_note)
      draw_wrapped_text(g, note, fSmallSemi, pal::warn, L + 16, y + 12 + hh + bh + 6, tw);
    if (!btn.empty())
      draw_button_at_right(g, pc, fSemi, btn, L + cw - 16, y + (h - 30) / 2, id, enabled, true, 30);
    y += h + 8;
  }

  // 6. No console answered.
  if (flag(&model, "nothing")) {
    static const char16_t* kQuestions[] = {
        u"Is the console on and on the same network as this PC \u2014 not only SoundGrid?",
        u"Can WING Edit or X32-Edit see it from this PC? If not, Kestrune cannot either.",
        u"Did Windows ask whether Kestrune may use the network, and was it allowed?"};
    const std::u16string install_s =
        u"Or install Kestrune now: once eMotion LV1 starts, Kestrune looks for the console from "
        u"inside it.";
    const std::u16string addr_s =
        u"On another subnet or VLAN, or the network blocks broadcasts? Type the console's "
        u"address.";
    const bool anyway = flag(&model, "installAnyway");
    const JsonValue* na = arr(&model, "nothingAddr");
    float h = 62;
    for (auto* q : kQuestions) h += text_height(g, q, fText, cw - 52) + 6;
    if (anyway) h += text_height(g, install_s, fText, cw - 36) + 8;
    if (count(na) > 0) h += text_height(g, addr_s, fText, cw - 36) + 8;
    h += 44;
    card(g, L, y, cw, h, 0xFF4A3A22);
    draw_text_box(g, u"No console answered", fSemi, pal::text, L + 18, y + 14, 0, TextAlign::near_);
    draw_wrapped_text(g,
                      u"Kestrune looked for a WING and an X32 / M32 on every network this PC is "
                      u"on.",
                      fText, pal::muted, L + 18, y + 36, cw - 36);
    float q = y + 62;
    for (auto* qt : kQuestions) {
      draw_status_dot(g, L + 22, q + 8, pal::muted);
      q += draw_wrapped_text(g, qt, fText, kSecondary, L + 36, q, cw - 52) + 6;
    }
    if (anyway) q += draw_wrapped_text(g, install_s, fText, pal::muted, L + 18, q + 2, cw - 36) + 8;
    if (count(na) > 0)
      q += draw_wrapped_text(g, addr_s, fText, pal::muted, L + 18, q + 2, cw - 36) + 8;
    const float by = y + h - 44 + 6;
    const float rw = bw(g, u"Rescan");
    draw_button(g, pc, fSemi, u"Rescan", L + 18, by, rw, 30, 4, true, true);
    float bx = L + 18 + rw + 8;
    if (anyway) {
      const float w = bw(g, u"Install anyway");
      draw_button(g, pc, fSemi, u"Install anyway", bx, by, w, 30, 465, true, false);
      bx += w + 8;
    }
    for (size_t n = 0; na && n < na->items.size(); ++n) {
      const int ci = console_of(na->items[n]);
      if (ci < 0) continue;
      const std::u16string b = str(&na->items[n], "btn");
      const float w = bw(g, b);
      draw_button(g, pc, fSemi, b, bx, by, w, 30, 500 + ci, true, false);
      bx += w + 8;
    }
    y += h + 8;
  }

  // 7. Console cards.
  y += 6;
  bool any_card = false;
  if (const JsonValue* cards = arr(&model, "cards")) {
    for (const auto& cd : cards->items) {
      const int i = console_of(cd);
      if (i < 0) continue;
      any_card = true;
      y += console_card(c, cd, i, y, in.panel_open[static_cast<size_t>(i)],
                        res.candidate_ids[static_cast<size_t>(i)]) +
           8;
    }
  }

  // 8. Action message.
  if (!in.action_message.empty()) {
    const std::u16string& am = in.action_message;
    const bool bad = am.find(u"Could not") != std::u16string::npos ||
                     am.find(u"blocked") != std::u16string::npos;
    const float h = text_height(g, am, fText, cw - 28) + 18;
    fill_round_rect(g, bad ? 0xFF341A1A : 0xFF15291A, L, y + 4, cw, h, 6);
    g.fill_rect(bad ? pal::bad : pal::ok, L, y + 4, 3, h);
    draw_wrapped_text(g, am, fText, bad ? pal::bad : pal::ok, L + 14, y + 13, cw - 28);
    y += h + 8;
  }

  // 9. Footer.
  y += 8;
  const float sw = bw(g, u"Save support file\u2026");
  draw_button(g, pc, fSemi, u"Save support file\u2026", L, y, sw, 32, 1, true, false);
  if (!any_card) {
    const float x = L + sw + 10, w = text_width(g, u"Rescan", fSemi) + 53;
    const auto col = button_colours(ButtonKind::plain, true, pc.hover_id == 4);
    fill_round_rect(g, col.fill, x, y, w, 32, 6);
    add_rounded_rect(g, col.border, x, y, w, 32, 6);
    // The refresh mark: an open ring whose start carries the arrow's head.
    g.stroke_arc(kSecondary, x + 16, y + 10, 12, 12, -30, -300, 1.6f, LineCap::round);
    g.line(kSecondary, x + 27, y + 11, x + 27, y + 14, 1.6f);
    g.line(kSecondary, x + 27, y + 14, x + 24, y + 14, 1.6f);
    draw_text_centred(g, u"Rescan", fSemi, 0xFFCDD8DF, x + 37, y, w - 37, 32, false, 0);
    pc.regions.push_back({x, y, w, 32, 4, 1});
  }
  const std::u16string ver = str(&model, "version");
  draw_text_box(g, ver, fSmall, pal::muted, L + cw - text_width(g, ver, fSmall), y + 9, 0,
                TextAlign::near_);
  y += 42;
  if (!flag(&model, "anyInstalled") && !flag(&model, "legacyAny")) {
    draw_text_box(g, u"Kestrune installs into its own bundle; Waves' files are not changed.",
                  fSmall, pal::muted, L, y, 0, TextAlign::near_);
    y += 26;
  } else {
    y += 4;
    g.fill_rect(kDivider, L, y, cw, 1);
    y += 10;
    const std::u16string link = u"Remove Kestrune from this computer\u2026";
    const Argb col = pc.hover_id == 462 ? pal::text : pal::muted;
    const float lw = text_width(g, link, fSmall);
    draw_text_box(g, link, fSmall, col, L, y, 0, TextAlign::near_);
    g.fill_rect(col, L, y + 17, lw, 1);
    pc.regions.push_back({L, y - 2, lw, 20, 462, 1});
    y += 24;
  }
  res.content_height = y + 16;
  return res;
}

}  // namespace ks::tray
