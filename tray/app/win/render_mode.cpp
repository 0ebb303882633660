// "--render [out] [page] [scale] [width]": paints a page of made-up data into a PNG and exits,
// with no window, no shared memory and no network.
#include <string>

#include "tray/app/win/app_modes.h"
#include "tray/ui/setup_preview.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {

int run_render(const ModeArgs& args) {
  size_t at = 0;
  while (at < args.args.size() && args.args[at] != u"--render") ++at;
  const RenderArgs r = render_args(args.args, at);
  return render_setup_preview(std::wstring(r.out.begin(), r.out.end()), r.page, r.scale,
                              r.width);
}

}  // namespace ks::tray
