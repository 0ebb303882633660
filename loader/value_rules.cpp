#include "loader/value_rules.h"

#include "shared/gain_object.h"

namespace ks {

SetDecision decide_gain_set(int ch, double db, double cached, bool live) {
  if (ch < 0 || ch > 63) return SetDecision::kIgnore;
  if (!std::isfinite(db)) return SetDecision::kNotFinite;
  if (!live) return SetDecision::kNotLive;
  if (gain_same(cached, db)) return SetDecision::kSame;
  return SetDecision::kStore;
}

SetDecision decide_phantom_set(uint32_t ch, bool on, bool cached, bool live) {
  if (ch > 63) return SetDecision::kIgnore;
  if (!live) return SetDecision::kNotLive;
  if (on == cached) return SetDecision::kSame;
  return SetDecision::kStore;
}

double range_default(RangeKind kind) {
  switch (kind) {
    case RangeKind::kMin: return kDefaultGainMin;
    case RangeKind::kMax: return kDefaultGainMax;
    case RangeKind::kStep: return kDefaultGainStep;
  }
  return kDefaultGainMin;
}

double range_from_cache(RangeKind kind, double cached) {
  if (kind == RangeKind::kMin) return cached;
  return cached == 0.0 ? range_default(kind) : cached;
}

}  // namespace ks
