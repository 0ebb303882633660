#include "tray/ui/page_key.h"

#include <cstddef>
#include <cstring>

namespace ks::tray {
namespace {

// FNV-1a, 64 bits.
struct Fold {
  uint64_t h = 0xcbf29ce484222325ull;
  void bytes(const void* p, size_t n) {
    const auto* b =
        static_cast<const volatile unsigned char*>(p);  // the module writes the block meanwhile
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 0x100000001b3ull;
  }
  template <class T>
  void value(const T& v) {
    bytes(&v, sizeof v);
  }
  // The block's bytes from field `from` up to field `to`.
  void span(const StatusBlock* b, size_t from, size_t to) {
    bytes(reinterpret_cast<const char*>(b) + from, to - from);
  }
};

}  // namespace

uint64_t status_page_key(const BridgeView& v, const BridgeState& bs) {
  Fold f;
  const StatusBlock* b = v.block;
  f.value(b);
  if (b) {
    // Left out: publish_mark, the send and receive counts and the last write's tick, the patch's
    // age, the levels, peaks, clip flags and meter frame count, and the command ring.
    f.span(b, 0, offsetof(StatusBlock, publish_mark));
    f.span(b, offsetof(StatusBlock, range_min), offsetof(StatusBlock, sent_count));
    f.span(b, offsetof(StatusBlock, gain_db), offsetof(StatusBlock, patch_age_ms));
    f.span(b, offsetof(StatusBlock, degraded), offsetof(StatusBlock, level_db));
    f.span(b, offsetof(StatusBlock, meters_live), offsetof(StatusBlock, meter_frames));
    f.span(b, offsetof(StatusBlock, channel_name), offsetof(StatusBlock, ring));
    f.span(b, offsetof(StatusBlock, input_list_serial), sizeof(StatusBlock));
  }
  f.value(v.lv1_running);
  // The uptime shows only as "Starting…" during LV1's first 20 s.
  f.value(lv1_starting(v));
  f.bytes(v.lv1_version.data(), v.lv1_version.size() * sizeof(char16_t));
  f.value(v.problems);
  f.value(v.too_old);
  f.value(v.both_alive);
  f.value(v.install_pending);
  f.value(v.active_console);
  f.bytes(bs.clips.latch, sizeof bs.clips.latch);
  f.value(bs.clips.clipped_channels);
  f.value(bs.clips.overloads);
  f.value(bs.clips.loudest_peak_db);
  f.value(bs.signal.mask);
  f.value(bs.signal.loudest_channel);
  return f.h;
}

}  // namespace ks::tray
