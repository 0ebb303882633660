// The shapes of LV1's SoundGrid I/O-module interface as the loader meets them: the factory and
// module interface, device boxes, and LV1's own objects the loader calls back (listener, strip
// host, gain-changed callback, chunk sinks). The loader, the LV1 stand-in and the Waves stand-in
// all build against these.
//
// Every object here begins with its function-pointer slots inline (no separate table), and every
// slot takes the object itself first. Slots the loader passes through without knowing their
// arguments are kept as the untyped SlotFn and only ever called through a typed alias.
#pragma once

#include <cstdint>

#include "shared/records.h"

namespace ks {

using SlotFn = void(KS_ABI*)();

// Reads slot k of an object as the typed function it is known to be.
template <class Fn>
inline Fn slot_as(SlotFn slot) {
  return reinterpret_cast<Fn>(slot);
}

inline constexpr uint32_t kMacBytes = 6;

// Names LV1 asks a device box for through query_interface.
inline constexpr char kIfaceGain[] = "WavesIOBoxGain";
inline constexpr char kIfaceChunkInfo[] = "WavesIOMChunkInfoSupport";
inline constexpr char kIfaceConsoleIO[] = "WavesIOBoxWavesConsoleIO";
inline constexpr char kIfaceChannelsChunk[] = "WavesChannelsChunkSupport";

// The cards LV1 creates boxes for, and Waves' module that drives each.
inline constexpr uint32_t kCardVendor = 11;
inline constexpr char kWavesModuleWing[] = "SoundGrid Wing Control";   // products 2, 5; type wing
inline constexpr char kWavesModuleXWsg[] = "SoundGrid X-WSG Control";  // products 0, 3; type x32
inline constexpr char kWavesModuleDn32[] = "SoundGrid DN32-WSG Control";  // products 1, 4; type x32

struct IoBox;
struct IoBoxListener;
struct ChunkSink;

// ---- the module interface (the factory's result) ----------------------------------------------

struct IoBoxModuleInterface;

// Exported by the loader and by each of Waves' modules; called by LV1 (or by the loader for
// Waves' modules) on LV1's thread. The interface it returns lives for the life of the process;
// null means the module is unusable (LV1 may call again).
using IoBoxFactoryFn = IoBoxModuleInterface*(KS_ABI*)(const char* bundle_path);
inline constexpr char kIoBoxFactoryName[] = "create_waves_iobox_module_interface_ver9";

struct IoBoxModuleInterface {
  // LV1's thread; meaning owned by LV1 and Waves, passed through unchanged.
  uint64_t(KS_ABI* module_op0)(IoBoxModuleInterface* self);
  // LV1's thread; the module's version word, higher wins when LV1 compares modules.
  uint64_t(KS_ABI* module_version)(IoBoxModuleInterface* self);
  // LV1's thread; meaning owned by LV1 and Waves, passed through unchanged.
  uint64_t(KS_ABI* module_op2)(IoBoxModuleInterface* self, uint64_t arg);
  // LV1's thread; a box for the device, owned by the module and released through its slot 0;
  // null refuses the device.
  IoBox*(KS_ABI* create_device_box)(IoBoxModuleInterface* self, uint32_t vendor, uint32_t product);
  // The loader's interface only: Waves' interface its calls reach (Waves' own ends at 32).
  IoBoxModuleInterface* inner_interface;
};
static_assert(sizeof(IoBoxModuleInterface) == 40 && kPlainRecord<IoBoxModuleInterface>);
static_assert(offsetof(IoBoxModuleInterface, create_device_box) == 24);
static_assert(offsetof(IoBoxModuleInterface, inner_interface) == 32);

// ---- device boxes -------------------------------------------------------------------------------

inline constexpr uint32_t kIoBoxSlots = 35;
inline constexpr uint32_t kIoBoxRelease = 0;
inline constexpr uint32_t kIoBoxSetListener = 6;
inline constexpr uint32_t kIoBoxSetStatus = 8;
inline constexpr uint32_t kIoBoxDeviceUp = 10;
inline constexpr uint32_t kIoBoxSetChunk = 12;
inline constexpr uint32_t kIoBoxGetChunk = 13;
inline constexpr uint32_t kIoBoxSetMac = 14;
inline constexpr uint32_t kIoBoxQueryInterface = 34;

inline constexpr uint32_t kBoxStatusBytes = 16;       // set_status argument
inline constexpr uint32_t kDeviceUpInfoBytes = 1292;  // device_up argument
inline constexpr uint32_t kDeviceUpOwnerOffset = 6;   // owner name, up to 63 bytes, NUL-ended
inline constexpr uint32_t kDeviceUpOwnerMax = 63;
inline constexpr uint32_t kDeviceUpOwnershipOffset = 1288;  // u32

// The box LV1 receives for a device; Waves' boxes and the loader's wrappers share this shape.
// Slots other than the typed ones below are passed through by the loader untouched.
struct IoBox {
  SlotFn slot[kIoBoxSlots];
};
static_assert(sizeof(IoBox) == 280 && kPlainRecord<IoBox>);

// Slot 0, LV1's thread: LV1 is done with the box; the box's owner frees it.
using IoBoxReleaseFn = uint64_t(KS_ABI*)(IoBox* self);
// Slot 6, LV1's thread: LV1's listener for this box, owned by LV1, valid until release; further
// arguments, if LV1 passes any, travel on unchanged.
using IoBoxSetListenerFn = uint64_t(KS_ABI*)(IoBox* self, IoBoxListener* listener);
// Slot 8, LV1's thread: 16 status bytes, read during the call only.
using IoBoxSetStatusFn = uint64_t(KS_ABI*)(IoBox* self, const uint8_t* status);
// Slot 10, LV1's thread: kDeviceUpInfoBytes of device info, read during the call only.
using IoBoxDeviceUpFn = uint64_t(KS_ABI*)(IoBox* self, const uint8_t* info);
// Slot 12, LV1's thread: a session chunk text to restore, LV1's, read during the call only.
using IoBoxSetChunkFn = uint64_t(KS_ABI*)(IoBox* self, const char* text);
// Slot 13, LV1's thread: the box puts its chunk text to the sink before returning.
using IoBoxGetChunkFn = uint64_t(KS_ABI*)(IoBox* self, ChunkSink* sink);
// Slot 14, LV1's thread: the device's MAC (6 bytes, may be null or all zero), read during the call.
using IoBoxSetMacFn = uint64_t(KS_ABI*)(IoBox* self, const uint8_t* mac);
// Slot 34, LV1's thread: the named interface object, owned by the box and never freed by LV1;
// null when the box has none.
using IoBoxQueryInterfaceFn = void*(KS_ABI*)(IoBox* self, const char* name);

// ---- LV1's objects the loader calls ------------------------------------------------------------

// LV1's listener of one box. Every call is made inside the loader's exception guard.
struct IoBoxListener {
  SlotFn reserved[3];
  // Loader's module watcher thread: light (on 1) or clear (0) the card's LED.
  void(KS_ABI* identify)(IoBoxListener* self, const uint8_t* mac, uint8_t on);
  // Loader's notifier thread: the box's state changed; LV1 re-reads it.
  void(KS_ABI* device_state_changed)(IoBoxListener* self, const uint8_t* mac);
  // Loader or console-module thread: which channels have preamps changed; LV1 re-asks them.
  void(KS_ABI* channel_type_state_changed)(IoBoxListener* self, const uint8_t* mac);
};
static_assert(offsetof(IoBoxListener, identify) == 3 * 8);
static_assert(offsetof(IoBoxListener, channel_type_state_changed) == 5 * 8);

// LV1's host of a box's console I/O, given through the ConsoleIO object's set_host.
struct ConsoleIOHost {
  SlotFn reserved[2];
  // Loader's redraw thread: redraw strip ch of the device; the last argument is always 0.
  void(KS_ABI* rebuild_strip)(ConsoleIOHost* self, const uint8_t* mac, int32_t ch, int32_t zero);
};
static_assert(offsetof(ConsoleIOHost, rebuild_strip) == 2 * 8);

// The "WavesIOBoxWavesConsoleIO" object: 15 slots; the loader answers it with a stub that
// supports nothing but set_host.
inline constexpr uint32_t kConsoleIOSlots = 15;
struct ConsoleIO {
  SlotFn slot[kConsoleIOSlots - 1];
  // LV1's thread: LV1's host for strip redraws, LV1's, valid for the life of the box.
  void(KS_ABI* set_host)(ConsoleIO* self, ConsoleIOHost* host);
};
static_assert(sizeof(ConsoleIO) == 120 && offsetof(ConsoleIO, set_host) == 14 * 8);

// LV1's gain-changed callback, registered through GainObject slot 25.
struct GainChangedCallback {
  // Console module's watcher thread (through the loader): the desk moved a gain, dB.
  void(KS_ABI* gain_changed)(GainChangedCallback* self, const uint8_t* mac, int32_t ch, double db);
  // Same thread: the desk switched 48 V (on 0/1).
  void(KS_ABI* phantom_changed)(GainChangedCallback* self, const uint8_t* mac, int32_t ch,
                                uint32_t on);
};
static_assert(sizeof(GainChangedCallback) == 16);

// LV1's sink for a box's chunk text: put copies the text before it returns.
struct ChunkSink {
  // The thread that called get_chunk; text is the caller's, null counts as empty.
  void(KS_ABI* put)(ChunkSink* self, const char* text);
};

// LV1's sink for decoded chunk values. Either slot may be null.
struct ChunkDecodeSink {
  // LV1's thread, during decode: a stored gain of channel ch, dB.
  void(KS_ABI* gain)(ChunkDecodeSink* self, const uint8_t* mac, int32_t ch, double db);
  // LV1's thread, during decode: a stored 48 V flag of channel ch (0/1).
  void(KS_ABI* phantom)(ChunkDecodeSink* self, const uint8_t* mac, int32_t ch, uint32_t on);
};

// The "WavesIOMChunkInfoSupport" object: decodes chunk texts for LV1.
struct ChunkInfoSupport {
  // LV1's thread; arguments unknown to us, passed through unchanged.
  SlotFn op0;
  // LV1's thread: decode text into out; n is LV1's, passed through unchanged.
  uint64_t(KS_ABI* decode)(ChunkInfoSupport* self, const char* text, ChunkDecodeSink* out,
                           int64_t n);
  // LV1's thread; a and b passed through unchanged.
  uint64_t(KS_ABI* op2)(ChunkInfoSupport* self, const char* text, uint64_t a, uint64_t b);
};
static_assert(sizeof(ChunkInfoSupport) == 24);

// The "WavesChannelsChunkSupport" object: serves scene recall.
struct ChannelsChunkSupport {
  SlotFn op0;  // does nothing
  // LV1's thread: apply the stored values of the listed channels (channels null: 0..count-1);
  // everything is LV1's and read during the call only.
  uint64_t(KS_ABI* scene_recall)(ChannelsChunkSupport* self, const uint32_t* channels,
                                 uint32_t count, uint64_t a, uint64_t b, const char* chunk);
};
static_assert(sizeof(ChannelsChunkSupport) == 16);

}  // namespace ks
