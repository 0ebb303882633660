#include "tray/ui/setup_preview.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tray/services/text_utils.h"
#include "tray/ui/model/page_loader.h"

namespace ks::tray {

namespace {

int whole_number(const std::u16string& text) {
  // Digits with an optional sign; anything after them is ignored, nothing usable reads as 0.
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  long v = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    v = v * 10 + (text[i] - u'0');
    if (v >= 100000) {  // far beyond any scale or width
      v = 100000;
      break;
    }
  }
  return static_cast<int>(negative ? -v : v);
}

// The system installed with the found WING on (the X32/M32 is not on the network).
void install(PreviewDemo& d) {
  d.con[0].installed = true;
  d.con[0].on = true;
}

}  // namespace

RenderArgs render_args(const std::vector<std::u16string>& args, size_t render_at) {
  RenderArgs r;
  auto at = [&](size_t k) -> const std::u16string* {
    const size_t i = render_at + 1 + k;
    return i < args.size() ? &args[i] : nullptr;
  };
  if (auto* s = at(0); s && !s->empty()) r.out = *s;
  if (auto* s = at(1); s && !s->empty()) r.page = to_utf8(*s);
  if (auto* s = at(2)) r.scale = whole_number(*s);
  if (auto* s = at(3)) r.width = whole_number(*s);
  return r;
}

int render_scale(int scale) { return std::clamp(scale, 1, 4); }

int setup_render_width(int width) {
  return width <= 0 ? kSetupDefaultWidth : std::max(width, kSetupMinWidth);
}

PreviewPage prepare_setup_preview(std::string_view page, SetupPreview& out) {
  out = SetupPreview{};
  out.inputs.version = "3.2.0";
  if (page.substr(0, 6) == "setup-")
    return apply_render_state(page, out.demo, out.ui, out.inputs) ? PreviewPage::ok
                                                                  : PreviewPage::unknown_state;
  if (page.substr(0, 5) != "setup") return PreviewPage::unknown_page;

  PreviewDemo& d = out.demo;
  d.preview = true;
  d.con[0].found = true;  // the demo WING answers the tray's discovery
  if (page == "setupinstalled" || page == "setupbusy" || page == "setupopen") install(d);
  if (page == "setupbusy") {
    d.lv1_running = true;
    d.lv1_uptime_ms = 600000;
  }
  if (page == "setupopen") d.open[0] = d.open[1] = true;
  out.ui.setup_panel_open[0] = out.inputs.fake_open[0] = d.open[0];
  out.ui.setup_panel_open[1] = out.inputs.fake_open[1] = d.open[1];
  out.inputs.preview = true;
  return PreviewPage::ok;
}

bool build_preview_model(const SetupPreview& p, JsonValue& model) {
  DashboardState st;
  fill_demo_snapshot(p.demo, st);
  return parse_page_model(build_page_model(st, p.inputs), model);
}

PreviewPaint paint_setup_preview(Canvas& g, PaintContext& pc, const SetupPreview& p,
                                 const JsonValue& model, float W, float H) {
  PreviewPaint out;
  SetupPageInputs in;
  in.panel_open = {p.ui.setup_panel_open[0], p.ui.setup_panel_open[1]};
  out.content_height = paint_setup_page(g, pc, model, in, W).content_height;
  if (p.ui.modal >= kModalConfirmOff) {
    pc.regions.clear();
    AddressInputs ai;
    ai.console = p.ui.pending_console >= 0 ? p.ui.pending_console : 0;
    ai.message = from_utf8(p.ui.address_message);
    out.dialog = paint_confirm_dialog(
        g, pc, model, {p.ui.modal, p.ui.pending_console, p.demo.lv1_running}, W, H, &ai);
  }
  return out;
}

int setup_preview_height(const PreviewPaint& m) {
  float h = m.content_height;
  if (m.dialog.drawn) h = std::max(h, m.dialog.h + 80);  // 40 above and below the card
  return std::max(1, static_cast<int>(std::ceil(h)));
}

}  // namespace ks::tray
