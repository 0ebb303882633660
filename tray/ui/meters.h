// Level meters and clip tracking. The module meters; the tray only scales and colours the values,
// latches clips into a history that outlives the module's short clip flag, and keeps the loudest
// channel. Everything here reads the live status block and trusts none of its numbers.
#pragma once
#include <cstdint>
#include <vector>

#include "shared/status_block.h"
#include "tray/ui/canvas.h"

namespace ks::tray {

namespace meter_colour {
inline constexpr Argb green = 0xFF5CC98A, amber = 0xFFE0A04A, red = 0xFFE8737B, muted = 0xFF8FA1AE,
                      light = 0xFFE8EEF2, veil = 0xB20D1014;
}

// clamp((dB + 60) / 60, 0, 1); a value that is not a number is empty.
double meter_fraction(double db);
Argb level_colour(double db);  // red above -1, amber above -6, else green
Argb peak_colour(double db);   // the same, muted in place of green

struct ClipHistory {
  uint8_t latch[kChannels] = {};
  uint8_t previous[kChannels] = {};
  uint32_t clipped_channels = 0;
  uint32_t overloads = 0;
  double loudest_peak_db = kNoLevelDb;
  int32_t loudest_channel = -1;
};

struct SignalSummary {
  uint64_t mask = 0;  // channels above -60 dBFS
  int32_t loudest_channel = -1;
  uint64_t last_scan_ms = 0;
  bool scanned = false;
};

// One frame-timer tick: only for a block of the right magic with live meters.
void track_clips(ClipHistory& h, const StatusBlock* b);
void clear_clip_history(ClipHistory& h);
// At most once every 500 ms by `now_ms`.
void scan_signal(SignalSummary& s, const StatusBlock* b, int count, uint64_t now_ms);

struct MeterOverlay {
  float x = 0, y = 0, w = 0, h = 0;
  int32_t channel = -1;  // -1: the overall meter
  uint8_t highlight = 0;
};

void draw_channel_meter(Canvas& g, const StatusBlock* b, const ClipHistory& h, int ch, float x,
                        float y, float w, float h_);
void draw_overall_meter(Canvas& g, const StatusBlock* b, const ClipHistory& h, float x, float y,
                        float w, float h_, int count);
void draw_meter_overlay(Canvas& g, const std::vector<MeterOverlay>& list, const StatusBlock* b,
                        const ClipHistory& h, int count);

}  // namespace ks::tray
