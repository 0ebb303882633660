#include "bridge/reporting.h"

#include <cmath>

namespace ks {

namespace {

// Ticks are 32-bit and wrap after 49.7 days: the age is the unsigned difference.
std::uint32_t age(std::uint32_t now, std::uint32_t then) { return now - then; }

// The module wrote the channel after `at` (the moment a held value arrived).
bool written_since(OwnWrite w, std::uint32_t at) {
  return w.ever && static_cast<std::int32_t>(w.tick - at) > 0;
}

bool gain_moved(const ChannelReportState& s, double db) {
  return std::fabs(db - s.last_gain) >= kReportMinMoveDb - 1e-9;
}

}  // namespace

bool inside_echo_window(std::uint32_t now, OwnWrite w) {
  return w.ever && age(now, w.tick) <= kEchoWindowMs;
}

ReportVerdict offer_gain(ChannelReportState& s, double db, std::uint32_t now, OwnWrite w) {
  if (!std::isfinite(db)) return ReportVerdict::dropped;
  if (!s.gain_reported) {
    s.gain_reported = true;
    s.last_gain = db;
    s.gain_pending = false;
    return ReportVerdict::first;
  }
  if (inside_echo_window(now, w)) {
    s.gain_pending = true;
    s.pending_gain = db;
    s.pending_gain_at = now;
    return ReportVerdict::deferred;
  }
  s.gain_pending = false;
  if (!gain_moved(s, db)) return ReportVerdict::dropped;
  s.last_gain = db;
  return ReportVerdict::report;
}

ReportVerdict offer_phantom(ChannelReportState& s, bool on, std::uint32_t now, OwnWrite w) {
  if (!s.phantom_known) {
    s.phantom_known = true;
    s.last_phantom = on;
    s.phantom_pending = false;
    return ReportVerdict::first;
  }
  if (inside_echo_window(now, w)) {
    s.phantom_pending = true;
    s.pending_phantom = on;
    s.pending_phantom_at = now;
    return ReportVerdict::deferred;
  }
  s.phantom_pending = false;
  if (on == s.last_phantom) return ReportVerdict::dropped;
  s.last_phantom = on;
  return ReportVerdict::report;
}

bool due_gain(ChannelReportState& s, std::uint32_t now, OwnWrite w, double* db) {
  if (!s.gain_pending) return false;
  if (written_since(w, s.pending_gain_at)) {
    s.gain_pending = false;
    return false;
  }
  if (inside_echo_window(now, w)) return false;
  s.gain_pending = false;
  if (!gain_moved(s, s.pending_gain)) return false;
  s.last_gain = s.pending_gain;
  *db = s.pending_gain;
  return true;
}

bool due_phantom(ChannelReportState& s, std::uint32_t now, OwnWrite w, bool* on) {
  if (!s.phantom_pending) return false;
  if (written_since(w, s.pending_phantom_at)) {
    s.phantom_pending = false;
    return false;
  }
  if (inside_echo_window(now, w)) return false;
  s.phantom_pending = false;
  if (s.pending_phantom == s.last_phantom) return false;
  s.last_phantom = s.pending_phantom;
  *on = s.pending_phantom;
  return true;
}

void forget_reports(ChannelReportState& s) { s = ChannelReportState{}; }

}  // namespace ks
