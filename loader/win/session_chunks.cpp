// Session chunks: the loader's preamp values ride in the live card's chunk text, Waves' module
// only ever sees its own text, and LV1 gets the stored values back on session load (the running
// module's session_recall), on decode (LV1's sink) and on scene recall (the module's writes).
#include "loader/win/session_chunks.h"

#include <string>

#include "loader/session_block.h"
#include "loader/win/guard.h"
#include "loader/win/loader_log.h"

namespace ks {

namespace {

// Longest chunk text looked at; a longer or unterminated one is passed on untouched.
constexpr size_t kChunkTextCap = 64u << 20;

// The text LV1 handed over when it is readable and terminated; null otherwise.
const char* readable_chunk(const char* text) {
  return readable_length(text, kChunkTextCap) >= 0 ? text : nullptr;
}

// One per get_chunk call: keeps its own copy of what Waves puts, so two boxes saved at once on
// two of LV1's threads never mix, and Waves' buffer may die after put returns.
struct CaptureSink {
  ChunkSink sink;
  std::string text;
  bool put = false;
};

void KS_ABI capture_put(ChunkSink* s, const char* text) {
  CaptureSink* c = reinterpret_cast<CaptureSink*>(s);
  c->put = true;
  c->text = text ? text : "";
}

bool lv1_put(ChunkSink* sink, const char* text) {
  auto call = [=] { sink->put(sink, text); };
  return guarded(call);
}

// Live usable: the box has a type, is not released, is online, not offline and is the live card.
bool live_usable(const DeviceBox* b) {
  return b && b->console_type >= 0 && !box_released(b) && box_online(b) && !box_offline(b) &&
         live_gain_object(b->console_type) == gain_object(b->index);
}

const char* not_applied_reason(const DeviceBox* b) {
  return box_offline(b) ? "an OFFLINE device in LV1" : "not the console's live card";
}

// Waves' own text of a chunk; the whole text when stripping fails.
std::string waves_text(const char* text) {
  std::string out;
  if (!strip_chunk_block(chunk_text(text), out)) out = text ? text : "";
  return out;
}

void log_unusable(const DeviceBox* b, const ParsedChunkBlock& p) {
  if (p.found && !p.present)
    loader_log(
        box_log_channel(b),
        "[chunk] device box #%d: Kestrune's values in the chunk are unusable (%s) - nothing applied",
        b->index + 1, p.problem ? p.problem : "damaged");
  if (p.present && p.dropped)
    loader_log(
        box_log_channel(b),
        "[chunk] device box #%d: %u stored gain(s) out of range - those channels are not applied",
        b->index + 1, p.dropped);
}

}  // namespace

uint64_t KS_ABI box_get_chunk(IoBox* box, ChunkSink* sink) {
  DeviceBox* b = reinterpret_cast<DeviceBox*>(box);
  CaptureSink capture;
  capture.sink.put = &capture_put;
  const uint64_t r =
      slot_as<IoBoxGetChunkFn>(b->inner->slot[kIoBoxGetChunk])(b->inner, &capture.sink);
  if (!sink) return r;
  if (live_usable(b)) {
    const GainObject* g = gain_object(b->index);
    const ConsoleTypeRecord& t = console_type(b->console_type);
    double gain[kChannels];
    uint8_t phantom[kChannels];
    uint32_t preamp[kChannels];
    for (uint32_t ch = 0; ch < kChannels; ++ch) {
      gain[ch] = gain_object_gain(*g, ch);
      phantom[ch] = gain_object_phantom(*g, ch) ? 1 : 0;
      preamp[ch] = __atomic_load_n(&t.has_preamp[ch], __ATOMIC_RELAXED) ? 1 : 0;
    }
    char block[kChunkBlockMax];
    const size_t n = format_chunk_block(gain, phantom, preamp, block, sizeof block);
    std::string saved;
    if (n > 0 && compose_saved_chunk(capture.text, std::string_view(block, n), saved)) {
      loader_log(box_log_channel(b),
                 "[chunk] LV1 saved device box #%d: Waves' %zu bytes + Kestrune's preamp values",
                 b->index + 1, capture.text.size());
      if (!lv1_put(sink, saved.c_str()))
        loader_log(box_log_channel(b), "[chunk] handing LV1 the saved chunk faulted");
      return r;
    }
  }
  if (capture.put && !lv1_put(sink, capture.text.c_str()))
    loader_log(box_log_channel(b), "[chunk] handing LV1 the saved chunk faulted");
  return r;
}

uint64_t KS_ABI box_set_chunk(IoBox* box, const char* text) {
  DeviceBox* b = reinterpret_cast<DeviceBox*>(box);
  const auto forward = slot_as<IoBoxSetChunkFn>(b->inner->slot[kIoBoxSetChunk]);
  const char* readable = readable_chunk(text);
  if (!readable) {
    if (text)
      loader_log(box_log_channel(b),
                 "[chunk] device box #%d: LV1's chunk is unreadable - handed to Waves as it is",
                 b->index + 1);
    return forward(b->inner, text);
  }
  if (b->console_type >= 0) log_chunk_text(box_log_channel(b), "LV1 set_chunk", readable);
  const std::string own = waves_text(readable);
  const uint64_t r = forward(b->inner, own.c_str());
  ParsedChunkBlock p;
  parse_chunk_block(chunk_text(readable), p);
  if (b->console_type < 0) return r;
  log_unusable(b, p);
  if (!p.present) return r;
  ConsoleTypeRecord& t = console_type(b->console_type);
  if (!live_usable(b)) {
    loader_log(t.log_channel, "[chunk] session preamp values for device box #%d not applied: %s",
               b->index + 1, not_applied_reason(b));
    return r;
  }
  {
    ModuleCall m(t);
    if (m.running()) {
      m.table().session_recall(p.gain, p.phantom, p.preamp);
      return r;
    }
  }
  loader_log(
      t.log_channel,
      "[chunk] session preamp values arrived while the %s module is not running - not applied",
      t.type_name);
  return r;
}

uint64_t KS_ABI chunk_info_decode(ChunkInfoSupport* self, const char* text, ChunkDecodeSink* out,
                                  int64_t n) {
  ChunkInfoWrapper* w = reinterpret_cast<ChunkInfoWrapper*>(self);
  DeviceBox* b = w->box;
  const char* readable = readable_chunk(text);
  if (!readable) return w->waves ? w->waves->decode(w->waves, text, out, n) : 0;
  log_chunk_text(box_log_channel(b), "LV1 decodes", readable);
  uint64_t r = 0;
  if (w->waves) r = w->waves->decode(w->waves, waves_text(readable).c_str(), out, n);
  ParsedChunkBlock p;
  parse_chunk_block(chunk_text(readable), p);
  log_unusable(b, p);
  if (!p.present || !out || !live_usable(b)) return r;
  for (int32_t ch = 0; ch < static_cast<int32_t>(kChannels); ++ch) {
    if (!p.preamp[ch]) continue;
    const double db = p.gain[ch];
    const uint32_t on = p.phantom[ch];
    const uint8_t* mac = b->mac;
    auto call = [=] {
      if (out->gain) out->gain(out, mac, ch, db);
      if (out->phantom) out->phantom(out, mac, ch, on);
    };
    if (!guarded(call)) {
      loader_log(box_log_channel(b), "[chunk] handing LV1 the decoded values faulted (ch=%d)", ch);
      break;
    }
  }
  return r;
}

uint64_t KS_ABI chunk_info_op2(ChunkInfoSupport* self, const char* text, uint64_t a, uint64_t b) {
  ChunkInfoWrapper* w = reinterpret_cast<ChunkInfoWrapper*>(self);
  if (!w->waves) return 0;
  const char* readable = readable_chunk(text);
  if (!readable) return w->waves->op2(w->waves, text, a, b);
  return w->waves->op2(w->waves, waves_text(readable).c_str(), a, b);
}

uint64_t KS_ABI channels_scene_recall(ChannelsChunkSupport* self, const uint32_t* channels,
                                      uint32_t count, uint64_t, uint64_t, const char* chunk) {
  DeviceBox* b = reinterpret_cast<ChannelsChunkObject*>(self)->box;
  if (!b || b->console_type < 0) return 0;
  ConsoleTypeRecord& t = console_type(b->console_type);
  // A channel list LV1 cannot have filled is not walked; without one only 0..63 can apply.
  if (channels && !is_readable(channels, size_t(count) * sizeof(uint32_t))) {
    loader_log(t.log_channel,
               "[chunk] scene recall: LV1's channel list is unreadable - nothing applied");
    return 0;
  }
  std::string label = "scene recall, inputs";
  for (uint32_t i = 0; i < count && i < kChannels; ++i)
    label += " " + std::to_string(channels ? channels[i] : i);
  const char* readable = readable_chunk(chunk);
  log_chunk_text(t.log_channel, label.c_str(), readable);
  ParsedChunkBlock p;
  parse_chunk_block(chunk_text(readable), p);
  log_unusable(b, p);
  if (!p.present) {
    loader_log(
        t.log_channel,
        "[chunk] scene recall: the chunk has no Kestrune values (saved before Kestrune 3) - nothing to apply");
    return 0;
  }
  if (!live_usable(b)) {
    loader_log(t.log_channel, "[chunk] scene recall for device box #%d not applied: %s",
               b->index + 1, not_applied_reason(b));
    return 0;
  }
  GainObject* g = gain_object(b->index);
  int applied = 0;
  const uint32_t walk = channels ? count : (count < kChannels ? count : kChannels);
  for (uint32_t i = 0; i < walk; ++i) {
    const uint32_t ch = channels ? channels[i] : i;
    if (ch >= kChannels || !p.preamp[ch]) continue;
    ModuleCall m(t);
    if (!m.running()) continue;
    const double db = p.gain[ch];
    if (gain_object_gain(*g, ch) != db) {
      __atomic_store(&g->gain[ch], &db, __ATOMIC_RELAXED);
      m.table().set_gain(ch, db);
    }
    const bool on = p.phantom[ch] != 0;
    if (gain_object_phantom(*g, ch) != on) {
      __atomic_store_n(&g->phantom[ch], on ? 1 : 0, __ATOMIC_RELAXED);
      m.table().set_phantom(ch, on ? 1u : 0u);
    }
    ++applied;
  }
  loader_log(t.log_channel, "[chunk] %s: %d of %u channel(s) applied to the console",
             "scene recall", applied, count);
  return 0;
}

}  // namespace ks
