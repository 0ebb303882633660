// The loader's own objects and process-wide state: device-box wrappers, the 64 gain objects, the
// ConsoleIO stubs, the Waves modules behind each card, and the calls into LV1's objects.
// Everything here lives for the life of LV1's process; nothing is ever freed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "loader/card_table.h"
#include "loader/console_type.h"
#include "loader/win/thunk_offsets.h"
#include "os/lock.h"
#include "shared/gain_object.h"
#include "shared/loader_block.h"
#include "shared/iobox.h"

namespace ks {

// The wrapper LV1 gets for a box of a known card. Zeroed at creation.
struct DeviceBox {
  SlotFn slot[kIoBoxSlots];
  IoBox* inner;          // Waves' box
  int32_t index;         // 0..63, order of creation
  int32_t console_type;  // -1: none
  uint32_t product;
  uint32_t online;  // atomic: a real MAC is known
  uint8_t mac[kMacBytes];
  uint8_t reserved0[2];
  uint32_t released;  // atomic
  uint32_t reserved1;
  IoBoxListener* listener;  // LV1's, null until set_listener
  uint32_t offline;         // atomic: LV1 declared the device offline
  uint32_t info_valid;
  uint32_t ownership;
  char owner[64];
  uint8_t last_status[kBoxStatusBytes];
};
static_assert(offsetof(DeviceBox, inner) == KS_BOX_INNER);
static_assert(offsetof(DeviceBox, listener) == KS_BOX_LISTENER);

// Answer to "WavesIOBoxWavesConsoleIO" when Waves' box has none: supports nothing, but LV1 hands
// it the host through which strips are redrawn.
struct ConsoleIOStub {
  SlotFn slot[kConsoleIOSlots];
  DeviceBox* box;
  ConsoleIOHost* host;  // LV1's, set through slot 14
};
static_assert(offsetof(ConsoleIOStub, box) == 120 && offsetof(ConsoleIOStub, host) == 128);

// Answer to "WavesIOMChunkInfoSupport": Waves' decoder behind the loader's own.
struct ChunkInfoWrapper {
  SlotFn slot[3];
  DeviceBox* box;
  ChunkInfoSupport* waves;  // may be null
};
static_assert(offsetof(ChunkInfoWrapper, waves) == KS_CHUNK_INFO_WAVES);

// Answer to "WavesChannelsChunkSupport".
struct ChannelsChunkObject {
  SlotFn slot[2];
  DeviceBox* box;
};

// One known card: Waves' module that drives it, filled by the factory.
struct CardRuntime {
  HMODULE module = nullptr;
  IoBoxModuleInterface* inner = nullptr;
  std::string bundle_path;  // what Waves' factory got
  bool own_bundle = false;  // it got its own bundle path
};

struct LoaderPaths {
  std::wstring loader_folder;  // ...\Kestrune.bundle\Contents\Win64
  std::wstring module_root;    // the folder holding the .bundle folders
};

LoaderPaths& loader_paths();
CardRuntime& card_runtime(int row);

// Library entry: everything that needs no Waves module (locks, logs, the gain objects).
void loader_attach(HMODULE self);
void loader_detach();

// One watcher pass at a time; the value paths only ever try it.
CriticalSection& module_lock();

// ---- boxes and gain objects ----

// Boxes created so far (the counter, at most 64).
int box_count();
// The box of index i, or null (not created, or its allocation failed).
DeviceBox* box_at(int i);
// Publishes a new box at its index.
void publish_box(DeviceBox* box);
// Takes the next box index (may be 64 or more: no wrapper then).
int take_box_index();

GainObject* gain_object(int index);            // 0..63
int gain_object_index(const GainObject* obj);  // -1 for a foreign pointer
DeviceBox* box_of(const GainObject* obj);
int box_log_channel(const DeviceBox* box);  // its type's log, or the loader log

bool box_released(const DeviceBox* b);
bool box_online(const DeviceBox* b);
bool box_offline(const DeviceBox* b);

// The live card rule over the current box table.
GainObject* live_gain_object(int type);
bool is_not_live_card(const DeviceBox* box);
// The live card's box, or null.
DeviceBox* live_box(int type);

ConsoleIOStub* stub_at(int index);
void publish_stub(int index, ConsoleIOStub* stub);

void fill_gain_objects();

// The box is flagged for a device-state notice; the notifier tells LV1 400 ms after the last one.
void flag_box_state(int index);
// Strip ch of the type needs a redraw by LV1.
void mark_strip_dirty(int type, int ch);

// Factory step 9: the device-state notifier and the strip-redraw thread.
bool start_notify_threads();
// A real MAC arrived: one more device-state notice 20 s later.
void start_mac_settle(int index);

// Fills both ModuleHost records with the loader's callbacks and the settings-file paths.
void fill_module_hosts();

// Asks LV1 to redraw strip ch (ch < 0: all 64) of the type's live card; false when a call faulted.
bool rebuild_strips(int type, int ch);

// ---- calls into LV1, each under the exception guard; false when LV1's code faulted ----

bool lv1_identify(IoBoxListener* l, const uint8_t* mac, uint8_t on);
bool lv1_device_state_changed(IoBoxListener* l, const uint8_t* mac);
bool lv1_channel_type_state_changed(IoBoxListener* l, const uint8_t* mac);
bool lv1_rebuild_strip(ConsoleIOHost* h, const uint8_t* mac, int32_t ch);
bool lv1_gain_changed(GainChangedCallback* cb, const uint8_t* mac, int32_t ch, double db);
bool lv1_phantom_changed(GainChangedCallback* cb, const uint8_t* mac, int32_t ch, uint32_t on);

// ---- box factory ----

IoBox* create_device_box_for(uint32_t vendor, uint32_t product);

}  // namespace ks
