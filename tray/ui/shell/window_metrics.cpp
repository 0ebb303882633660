#include "tray/ui/shell/window_metrics.h"

#include <algorithm>

namespace ks::tray {

PxSize dashboard_client_size(float design_width, float content_height, int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  const int32_t design_w = static_cast<int32_t>(design_width + 0.5f);
  const int32_t design_h =
      static_cast<int32_t>(content_height > kMinContentHeight ? content_height : kMinContentHeight);
  return {static_cast<int32_t>(static_cast<int64_t>(design_w) * dpi / 96),
          static_cast<int32_t>(static_cast<int64_t>(design_h) * dpi / 96)};
}

PxRect pull_inside(PxRect r, const PxRect& work) {
  const int32_t w = r.width(), h = r.height();
  if (r.right > work.right) r.left = work.right - w;
  if (r.bottom > work.bottom) r.top = work.bottom - h;
  if (r.left < work.left) r.left = work.left;
  if (r.top < work.top) r.top = work.top;
  r.right = r.left + w;
  r.bottom = r.top + h;
  return r;
}

PxRect centre_in(const PxRect& work, int32_t w, int32_t h) {
  const int32_t left = work.left + (work.width() - w) / 2;
  const int32_t top = work.top + (work.height() - h) / 2;
  return pull_inside({left, top, left + w, top + h}, work);
}

PxRect resize_about_centre(const PxRect& r, int32_t w, int32_t h, const PxRect& work) {
  const int32_t cx = r.left + r.width() / 2, cy = r.top + r.height() / 2;
  return pull_inside({cx - w / 2, cy - h / 2, cx - w / 2 + w, cy - h / 2 + h}, work);
}

TrackLimits track_limits(int32_t dpi, PxSize frame, PxSize dash, const PxRect* monitor_work) {
  if (dpi <= 0) dpi = 96;
  TrackLimits t;
  t.min.w = static_cast<int32_t>(kMinDesignWidth) * dpi / 96 + frame.w;
  t.min.h = std::min(320 * dpi / 96, dash.h);
  t.max.w = monitor_work ? monitor_work->width() : 8192;
  t.max.h = dash.h;
  return t;
}

FitAction fit_action(int32_t window_h, int32_t wanted_h, bool shrink_asked) {
  if (wanted_h > window_h) return FitAction::grow;
  if (shrink_asked && wanted_h < window_h) return FitAction::shrink;
  return FitAction::keep;
}

float wheel_scroll(float offset, int32_t delta) {
  const float next = offset - static_cast<float>(delta) / 120.0f * kWheelStep;
  return next < 0.0f ? 0.0f : next;
}

DesignPoint design_point(int32_t px, int32_t py, int32_t dpi, float scroll, bool regions_scrolled) {
  if (dpi <= 0) dpi = 96;
  const float k = 96.0f / static_cast<float>(dpi);
  DesignPoint p{static_cast<float>(px) * k, static_cast<float>(py) * k};
  if (regions_scrolled) p.y += scroll;
  return p;
}

int32_t hit_test(std::span<const HitRegion> regions, float x, float y) {
  for (size_t i = regions.size(); i-- > 0;) {
    const HitRegion& r = regions[i];
    if (!r.enabled) continue;
    if (x >= r.x && x <= r.x + r.w && y >= r.y && y <= r.y + r.h) return r.id;
  }
  return 0;
}

}  // namespace ks::tray
