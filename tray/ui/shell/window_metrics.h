// The dashboard window's arithmetic: its size from the content and the DPI, where it goes on the
// work area, the track limits, scrolling and the point a click lands on. All sizes in pixels
// unless named design units (one design unit is one pixel at 96 DPI).
#pragma once

#include <cstdint>
#include <span>

#include "tray/ui/kit.h"

namespace ks::tray {

struct PxRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool operator==(const PxRect&) const = default;
};

inline constexpr float kMinContentHeight = 460.0f;
inline constexpr float kMinDesignWidth = 540.0f;
inline constexpr float kWheelStep = 48.0f;  // design units per wheel notch

// The client size for a design width and content height at a DPI (integer arithmetic,
// truncating): width (design + 0.5, truncated) x DPI / 96, height max(content, 460) x DPI / 96.
struct PxSize {
  int32_t w = 0, h = 0;
  bool operator==(const PxSize&) const = default;
};
PxSize dashboard_client_size(float design_width, float content_height, int32_t dpi);

// A window rectangle of size w x h centred in the work area, then pulled inside it.
PxRect centre_in(const PxRect& work, int32_t w, int32_t h);
// Moves r inside the work area: right and bottom edges first, then left and top, so a window
// larger than the area keeps its top-left corner on it.
PxRect pull_inside(PxRect r, const PxRect& work);
// A window of the new size keeping r's centre, then pulled inside.
PxRect resize_about_centre(const PxRect& r, int32_t w, int32_t h, const PxRect& work);

// WM_GETMINMAXINFO: `frame` is what the window's frame adds to a client (window - client size),
// `dash` the window size dashboard_size gives.
struct TrackLimits {
  PxSize min, max;
};
TrackLimits track_limits(int32_t dpi, PxSize frame, PxSize dash, const PxRect* monitor_work);

// What WM_FIT_CONTENT does with the window: its height stays, shrinks (only when asked and
// smaller) or grows (taller content).
enum class FitAction { keep, shrink, grow };
FitAction fit_action(int32_t window_h, int32_t wanted_h, bool shrink_asked);

// The scroll offset after a wheel message of `delta` (a notch is 120; touchpads send less):
// offset - delta / 120 x 48 in floating point, never below 0.
float wheel_scroll(float offset, int32_t delta);

// The design point of a client pixel; y moves by the scroll offset while the base page's regions
// are the ones in the list.
struct DesignPoint {
  float x = 0, y = 0;
};
DesignPoint design_point(int32_t px, int32_t py, int32_t dpi, float scroll, bool regions_scrolled);

// The id of the last enabled region that holds the point (edges included), 0 for none.
int32_t hit_test(std::span<const HitRegion> regions, float x, float y);

}  // namespace ks::tray
