#include "tray/ui/meters.h"

#include <algorithm>
#include <cmath>

#include "tray/ui/lookups.h"

namespace ks::tray {

double meter_fraction(double db) {
  if (std::isnan(db)) return 0;
  return std::clamp((db + 60.0) / 60.0, 0.0, 1.0);
}

Argb level_colour(double db) {
  if (db > -1.0) return meter_colour::red;
  if (db > -6.0) return meter_colour::amber;
  return meter_colour::green;
}

Argb peak_colour(double db) {
  if (db > -1.0) return meter_colour::red;
  if (db > -6.0) return meter_colour::amber;
  return meter_colour::muted;
}

void track_clips(ClipHistory& h, const StatusBlock* b) {
  if (!b || shm_load(b->magic) != kStatusMagic || shm_load(b->meters_live) == 0) return;
  uint32_t n = shm_load(b->watch_count);
  if (n < 1 || n > kChannels) n = kChannels;
  for (uint32_t c = 0; c < n; ++c) {
    const uint8_t now = b->clip[c] != 0;
    if (now && !h.previous[c]) {
      ++h.overloads;
      if (!h.latch[c]) {
        h.latch[c] = 1;
        ++h.clipped_channels;
      }
    }
    h.previous[c] = now;
    if (b->has_head_amp[c]) {
      const double peak = clean_db(b->peak_db[c]);
      if (peak > kNoLevelDb && peak > h.loudest_peak_db) {
        h.loudest_peak_db = peak;
        h.loudest_channel = int32_t(c);
      }
    }
  }
}

void clear_clip_history(ClipHistory& h) {
  std::fill(std::begin(h.latch), std::end(h.latch), uint8_t(0));
  h.clipped_channels = 0;
  h.overloads = 0;
  h.loudest_peak_db = kNoLevelDb;
  h.loudest_channel = -1;
}

void scan_signal(SignalSummary& s, const StatusBlock* b, int count, uint64_t now_ms) {
  if (s.scanned && now_ms - s.last_scan_ms < 500) return;
  s.scanned = true;
  s.last_scan_ms = now_ms;
  s.mask = 0;
  s.loudest_channel = -1;
  if (count < 1 || !b) return;
  count = std::min(count, int(kChannels));
  double best = kNoLevelDb;
  for (int c = 0; c < count; ++c) {
    const double lv = clean_db(b->level_db[c]);
    if (lv > -60.0) s.mask |= uint64_t(1) << c;
    if (lv > kNoLevelDb && (s.loudest_channel < 0 || lv > best)) {
      best = lv;
      s.loudest_channel = c;
    }
  }
}

namespace {

void level_bar(Canvas& g, double level, float x, float y, float w, float h) {
  const double f = meter_fraction(level);
  if (level > kNoLevelDb && f > 0.001)
    g.fill_round_rect(level_colour(level), x, y, float(w * f), h, 2);
}

float tick_x(double db, float x, float w) {
  const float t = x + float(w * meter_fraction(db)) - 1;
  return std::clamp(t, x, x + w - 2);
}

}  // namespace

void draw_channel_meter(Canvas& g, const StatusBlock* b, const ClipHistory& h, int ch, float x,
                        float y, float w, float hh) {
  if (!b || ch < 0 || ch >= int(kChannels)) return;
  const double level = clean_db(b->level_db[ch]);
  const double peak = clean_db(b->peak_db[ch]);
  level_bar(g, level, x, y, w, hh);
  if (peak > kNoLevelDb && peak > level)
    g.fill_round_rect(peak_colour(peak), tick_x(peak, x, w), y - 1, 2, hh + 2, 1);
  if (h.latch[ch]) g.fill_round_rect(meter_colour::red, x + w - 4, y - 2, 5, hh + 4, 2);
}

void draw_overall_meter(Canvas& g, const StatusBlock* b, const ClipHistory& h, float x, float y,
                        float w, float hh, int count) {
  double loudest = kNoLevelDb;
  if (b) {
    count = std::clamp(count, 0, int(kChannels));
    for (int c = 0; c < count; ++c) loudest = std::max(loudest, clean_db(b->level_db[c]));
  }
  level_bar(g, loudest, x, y, w, hh);
  if (h.loudest_peak_db > kNoLevelDb)
    g.fill_round_rect(meter_colour::light, tick_x(h.loudest_peak_db, x, w), y - 1, 2, hh + 2, 1);
}

void draw_meter_overlay(Canvas& g, const std::vector<MeterOverlay>& list, const StatusBlock* b,
                        const ClipHistory& h, int count) {
  for (const MeterOverlay& m : list) {
    if (m.channel >= 0) {
      draw_channel_meter(g, b, h, m.channel, m.x, m.y, m.w, m.h);
      if (m.highlight) g.fill_round_rect(meter_colour::veil, m.x - 1, m.y - 2, m.w + 2, m.h + 4, 2);
    } else {
      draw_overall_meter(g, b, h, m.x, m.y, m.w, m.h, count);
    }
  }
}

}  // namespace ks::tray
