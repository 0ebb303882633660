// Decisions of the gain objects' value paths: what LV1's gain and 48 V writes do to the cache,
// what the range queries answer, and which desk reports reach LV1. Pure rules.
#pragma once

#include <cmath>
#include <cstdint>

namespace ks {

// Moves closer than 0.01 dB to the cached value are not sent. The margin keeps a move of exactly
// 0.01 dB (10.00 -> 10.01 is 0.00999... in binary) from being taken for "the same".
constexpr double kGainSameWindow = 0.01 - 1e-9;

inline bool gain_same(double cached, double db) { return std::fabs(cached - db) < kGainSameWindow; }

enum class SetDecision {
  kIgnore,     // channel outside 0..63: nothing, not even a line
  kNotFinite,  // NaN or infinite dB: logged, never cached
  kNotLive,    // not the console's live card: logged, not cached
  kSame,       // same as cached: logged, not re-sent
  kStore,      // cache it, notify, redraw, send to the module when one runs
};

// LV1's gain_set.
SetDecision decide_gain_set(int ch, double db, double cached, bool live);

// LV1's phantom_set (48 V compares exactly).
SetDecision decide_phantom_set(uint32_t ch, bool on, bool cached, bool live);

enum class RangeKind { kMin, kMax, kStep };

// Defaults when the module was never asked: 0.0, 60.0, 0.5.
double range_default(RangeKind kind);

// The answer from the cache when no module ran: min is the cache itself, max and step fall back
// to the default while the cache holds 0.0 (never asked).
double range_from_cache(RangeKind kind, double cached);

// A module's answer is kept only when it is a finite number; otherwise the default stands in.
inline bool range_answer_usable(double v) { return std::isfinite(v); }

// A desk report of a gain: false when it is dropped (not finite, or equal to the cache and not
// forced). Equal means bit-for-bit the cached value, as the module reports exact values.
inline bool report_gain_passes(double cached, double db, bool forced) {
  if (!std::isfinite(db)) return false;
  return forced || db != cached;
}

inline bool report_phantom_passes(bool cached, bool on, bool forced) {
  return forced || on != cached;
}

}  // namespace ks
