// "--render [out] [page] [scale] [width]": paints a page of made-up data into a PNG and exits,
// with no window, no shared memory and no network.
#include <cstdlib>
#include <string>

#include "tray/app/win/app_modes.h"
#include "tray/services/text_utils.h"
#include "tray/ui/dashboard_preview.h"
#include "tray/ui/win/dashboard_render.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {

namespace {

// The argument after "--render" at `k`, or empty.
std::u16string arg_after(const ModeArgs& args, size_t render_at, size_t k) {
  const size_t i = render_at + 1 + k;
  return i < args.args.size() ? args.args[i] : std::u16string();
}

int whole_number(const std::u16string& text, int fallback) {
  if (text.empty()) return fallback;
  return std::atoi(to_utf8(text).c_str());
}

}  // namespace

int run_render(const ModeArgs& args) {
  size_t at = 0;
  while (at < args.args.size() && args.args[at] != u"--render") ++at;
  std::u16string out = arg_after(args, at, 0);
  if (out.empty()) out = u"preview.png";
  std::string page = to_utf8(arg_after(args, at, 1));
  if (page.empty()) page = "setup";
  const int scale = whole_number(arg_after(args, at, 2), 1);
  // The dashboard's pages: their own painters and a wider default page.
  if (is_dashboard_page(page)) {
    const int dash_width = whole_number(arg_after(args, at, 3), 976);
    return render_dashboard_preview(std::wstring(out.begin(), out.end()), page, scale, dash_width ? dash_width : 976);
  }
  const int width = whole_number(arg_after(args, at, 3), 628);
  return render_setup_preview(std::wstring(out.begin(), out.end()), page, scale, width);
}

}  // namespace ks::tray
