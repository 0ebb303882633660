// "--render" for the dashboard pages ("channels", "detail", "link", "reroute", ...).
#pragma once
#include <string>

namespace ks::tray {

// 0 written, 1 not written, 2 not a dashboard page.
int render_dashboard_preview(const std::wstring& out, const std::string& page, int scale,
                             int width);

}  // namespace ks::tray
