#include "tray/ui/dialogs.h"

#include <algorithm>

namespace ks::tray {

namespace {

const FontSpec kTitle{"Segoe UI", 15, FontWeight::bold};
const FontSpec kBody{"Segoe UI", 12.5f, FontWeight::regular};
const FontSpec kName{"Segoe UI", 12, FontWeight::regular};
const FontSpec kSmall{"Segoe UI", 11.5f, FontWeight::regular};
const FontSpec kButton{"Segoe UI Semibold", 12.5f, FontWeight::semibold};
const FontSpec kBadge{"Consolas", 9.5f, FontWeight::bold};
const FontSpec kAddr{"Segoe UI", 13, FontWeight::regular};

bool json_true(const JsonValue* v) { return v && v->kind == JsonKind::boolean && v->boolean; }

// The entry of a list ("cards", "nothingAddr") whose "c" (a number, truncated) is i.
const JsonValue* entry_of(const JsonValue& model, const char* list, int32_t i) {
  const JsonValue* cards = json_find(model, list);
  if (!cards || cards->kind != JsonKind::array) return nullptr;
  for (const auto& c : cards->items) {
    const JsonValue* n = json_find(c, "c");
    // Bounded before the cast: an absurd number must not become an undefined conversion.
    if (n && n->kind == JsonKind::number && n->number > -2147483648.0 && n->number < 2147483648.0 &&
        static_cast<int32_t>(n->number) == i)
      return &c;
  }
  return nullptr;
}
const JsonValue* card_of(const JsonValue& model, int32_t i) { return entry_of(model, "cards", i); }

// The console's "addr" object: on its card, or, while no console answered and so no card is
// shown, on its entry of the address offers.
const JsonValue* address_object(const JsonValue& model, int32_t i) {
  for (const char* list : {"cards", "nothingAddr"})
    if (const JsonValue* e = entry_of(model, list, i))
      if (const JsonValue* a = json_find(*e, "addr"); a && a->kind == JsonKind::object) return a;
  return nullptr;
}

std::u16string or_default(std::u16string s, const char16_t* fallback) {
  return s.empty() ? std::u16string(fallback) : s;
}

void card_box(Canvas& g, float x, float y, float h) {
  fill_round_rect(g, 0xFF1B222A, x, y, 452, h, 10);
  add_rounded_rect(g, 0xFF2F3B46, x, y, 452, h, 10);
}

}  // namespace

void read_console_choices(std::vector<ConsoleChoice>& out, const JsonValue* object) {
  if (!object || object->kind != JsonKind::object) return;
  const JsonValue* list = json_find(*object, "list");
  if (!list || list->kind != JsonKind::array) return;
  for (const auto& item : list->items)
    out.push_back({json_wstring(&item, "name"), json_wstring(&item, "card"),
                   json_true(json_find(item, "beta"))});
}

ConfirmLayout paint_confirm_dialog(Canvas& g, PaintContext& pc, const JsonValue& model,
                                   const ConfirmInputs& in, float W, float H,
                                   const AddressInputs* addr) {
  if (in.modal == kModalAddress) {
    AddressInputs none;
    return paint_address_dialog(g, pc, model, addr ? *addr : none, W, H).card;
  }
  if (in.modal < kModalConfirmOff || in.modal > kModalConfirmUpdate) return {};

  g.fill_rect(0x96040608, 0, 0, W, H);

  std::u16string title, body, ok;
  std::vector<ConsoleChoice> list;
  bool status = false, danger = false;
  if (in.modal == kModalConfirmOff && in.pending_console >= 0) {
    const JsonValue* card = card_of(model, in.pending_console);
    const JsonValue* src = card ? json_find(*card, "confirmOff") : nullptr;
    title = or_default(json_wstring(src, "title"), u"Switch this console off?");
    body = json_wstring(src, "body");
    ok = src ? json_wstring(src, "ok") : u"Switch off";
    if (ok.empty()) ok = u"Switch off";
  } else if (in.modal == kModalConfirmRemove) {
    const JsonValue* src = json_find(model, "confirmRemove");
    title = json_wstring(src, "title");
    body = json_wstring(src, "body");
    ok = json_wstring(src, "ok");
    read_console_choices(list, src);
    status = danger = true;
  } else {
    const JsonValue* src = json_find(model, "confirmUpdate");
    title = src ? json_wstring(src, "title") : u"Update to Kestrune 3";
    body = json_wstring(src, "body");
    ok = src ? json_wstring(src, "ok") : u"Update to Kestrune 3";
    read_console_choices(list, src);
    status = true;
  }

  const float n = static_cast<float>(list.size());
  const float B = text_height(g, body, kBody, 404);
  const float h = B + 54 + (n > 0 ? 30 * n + 22 : 0) + (status ? 44 : 0) + 74;
  const float x = (W - 452) / 2;
  const float y = std::max((H - h) / 2, 40.0f);
  card_box(g, x, y, h);

  draw_text_box(g, title, kTitle, pal::text, x + 24, y + 22, 404, TextAlign::near_);
  const float D = draw_wrapped_text(g, body, kBody, 0xFFB9C6CF, x + 24, y + 48, 404);
  float c = y + 48 + D + 8;

  if (n > 0) {
    c += 6;
    fill_round_rect(g, 0xFF12181E, x + 24, c, 404, 30 * n + 8, 6);
    add_rounded_rect(g, 0xFF242D36, x + 24, c, 404, 30 * n + 8, 6);
    for (size_t k = 0; k < list.size(); ++k) {
      const float r = c + 4 + 30 * static_cast<float>(k);
      draw_text_box(g, list[k].name, kName, pal::text, x + 36, r + 7, 0, TextAlign::near_);
      if (list[k].beta) {
        const float bx = x + 36 + text_width(g, list[k].name, kName) + 8;
        const float bw = text_width(g, u"BETA", kBadge) + 10;
        add_rounded_rect(g, 0xFF5A4322, bx, r + 8, bw, 15, 4);
        draw_text_centred(g, u"BETA", kBadge, pal::warn, bx, r + 8, bw, 15, true, 0);
      }
      const float cw = text_width(g, list[k].card, kSmall);
      draw_text_box(g, list[k].card, kSmall, pal::muted, x + 452 - 36 - cw, r + 8, 0,
                    TextAlign::near_);
    }
    c += 30 * n + 8 + 8;
  }

  float b = c + 14;
  if (status) {
    fill_round_rect(g, 0xFF12181E, x + 24, c + 4, 404, 32, 6);
    add_rounded_rect(g, in.lv1_running ? 0xFF242D36 : 0xFF24302A, x + 24, c + 4, 404, 32, 6);
    const std::u16string line = in.lv1_running ? u"\u25CC  Waiting for eMotion LV1 to close\u2026"
                                               : u"\u2713  eMotion LV1 is closed.";
    const float th = g.measure(line, kSmall, 0, 0, false).h;
    draw_text_box(g, line, kSmall, in.lv1_running ? pal::muted : pal::ok, x + 36,
                  c + 4 + (32 - th) / 2, 0, TextAlign::near_);
    b = c + 4 + 38 + 14;
  }

  const bool enabled = !(status && in.lv1_running);
  const float w = text_width(g, ok, kButton) + 32;
  float left;
  if (danger) {
    left = x + 452 - 24 - w - 14;
    draw_danger_button(g, pc, kButton, ok, left, b, w + 14, 34, 463, enabled);
  } else {
    left = x + 452 - 24 - w;
    draw_button(g, pc, kButton, ok, left, b, w, 34, 463, enabled, true);
  }
  const float cw = text_width(g, u"Cancel", kButton) + 32;
  draw_button(g, pc, kButton, u"Cancel", left - 10 - cw, b, cw, 34, 464, true, false);
  return {x, y, 452, h, true};
}

AddressLayout paint_address_dialog(Canvas& g, PaintContext& pc, const JsonValue& model,
                                   const AddressInputs& in, float W, float H) {
  AddressLayout out;
  const JsonValue* a = address_object(model, in.console);
  const std::u16string title = or_default(json_wstring(a, "title"), u"Console address");
  const std::u16string body = json_wstring(a, "body");
  const std::u16string placeholder = json_wstring(a, "placeholder");
  const std::u16string set = json_wstring(a, "set");

  g.fill_rect(0x96040608, 0, 0, W, H);
  const float bh = text_height(g, body, kBody, 404);
  // Room for the message line under the box, measured, so a long message is never cut off.
  const float mh = in.message.empty() ? 0 : text_height(g, in.message, kSmall, 404) + 8;
  const float h = bh + 48 + 14 + 36 + mh + 74;
  const float x = (W - 452) / 2;
  const float y = std::max((H - h) / 2, 40.0f);
  card_box(g, x, y, h);

  draw_text_box(g, title, kTitle, pal::text, x + 24, y + 22, 404, TextAlign::near_);
  draw_wrapped_text(g, body, kBody, 0xFFB9C6CF, x + 24, y + 48, 404);
  const float box_y = y + 22 + 26 + bh + 14;
  fill_round_rect(g, 0xFF12181E, x + 24, box_y, 404, 36, 6);
  add_rounded_rect(g, pal::accent, x + 24, box_y, 404, 36, 6);

  out.edit = {x + 24 + 11, box_y + 9, 382, 19, in.dpi_scale, true};
  if (in.last_posted && !(*in.last_posted == out.edit)) {
    *in.last_posted = out.edit;
    out.place_changed = true;
  }
  if (!in.edit_exists) {
    if (!set.empty())
      draw_text_box(g, set, kAddr, pal::text, x + 35, box_y + 9, 382, TextAlign::near_);
    else
      draw_text_box(g, placeholder, kAddr, pal::dim, x + 35, box_y + 9, 382, TextAlign::near_);
  }
  float c = box_y + 36;
  if (!in.message.empty()) {
    draw_wrapped_text(g, in.message, kSmall, pal::warn, x + 24, c + 8, 404);
    c += mh;
  }

  const float b = c + 20;
  const float sw = text_width(g, u"Save", kButton) + 40;
  draw_button(g, pc, kButton, u"Save", x + 452 - 24 - sw, b, sw, 34, 463, true, true);
  const float cw = text_width(g, u"Cancel", kButton) + 32;
  draw_button(g, pc, kButton, u"Cancel", x + 452 - 24 - sw - 10 - cw, b, cw, 34, 464, true, false);
  if (!set.empty()) {
    const std::u16string find = u"Find it automatically";
    draw_button(g, pc, kButton, find, x + 24, b, text_width(g, find, kButton) + 32, 34, 502, true,
                false);
  }
  out.card = {x, y, 452, h, true};
  return out;
}

}  // namespace ks::tray
