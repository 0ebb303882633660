// "--render [out] [page] [scale] [width]": paints a page of made-up data into a PNG and exits,
// with no window, no shared memory and no network.
#include <string>

#include "tray/app/win/app_modes.h"
#include "tray/ui/setup_preview.h"
#include "tray/ui/dashboard_preview.h"
#include "tray/ui/win/dashboard_render.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {

int run_render(const ModeArgs& args) {
  size_t at = 0;
  while (at < args.args.size() && args.args[at] != u"--render") ++at;
  const RenderArgs r = render_args(args.args, at);
  const std::wstring out(r.out.begin(), r.out.end());
  // The dashboard's pages: their own painters and a wider default page.
  if (is_dashboard_page(r.page))
    return render_dashboard_preview(out, r.page, r.scale, r.width > 0 ? r.width : 976);
  return render_setup_preview(out, r.page, r.scale, r.width);
}

}  // namespace ks::tray
