// create_device_box and the DeviceBox wrapper's own slots. Every other slot is a tail-jump
// forwarder (thunks.S) into the same slot of Waves' box.
#include <cstdlib>
#include <cstring>

#include "loader/device_info.h"
#include "loader/win/guard.h"
#include "loader/win/loader_core.h"
#include "loader/win/loader_log.h"
#include "loader/win/module_seam.h"
#include "loader/win/session_chunks.h"

extern "C" {
extern const ks::SlotFn ks_box_forwarders[ks::kIoBoxSlots];
void ks_box_set_listener();
void ks_chunk_info_op0();
void ks_zero_slot();
}

namespace ks {

namespace {

// Per box, the named objects handed out once and returned again on later queries.
struct BoxExtras {
  ChunkInfoWrapper* chunk_info;
  ChunkInfoSupport* chunk_info_waves;
  ChannelsChunkObject* channels_chunk;
};
BoxExtras g_extras[kMaxDeviceBoxes];

DeviceBox* self_box(IoBox* box) { return reinterpret_cast<DeviceBox*>(box); }

template <class Fn>
Fn inner_slot(const DeviceBox* b, uint32_t k) {
  return slot_as<Fn>(b->inner->slot[k]);
}

int number(const DeviceBox* b) { return b->index + 1; }

uint64_t KS_ABI box_release(IoBox* box) {
  DeviceBox* b = self_box(box);
  // Released first: from here on no loader thread takes this box for live.
  __atomic_store_n(&b->released, 1u, __ATOMIC_RELEASE);
  uint64_t r = inner_slot<IoBoxReleaseFn>(b, kIoBoxRelease)(b->inner);
  loader_log(box_log_channel(b), "[box] device box #%d released by LV1", number(b));
  if (b->console_type >= 0) refresh_live_card(b->console_type);
  return r;
}

uint64_t KS_ABI box_set_status(IoBox* box, const uint8_t* status) {
  DeviceBox* b = self_box(box);
  if (is_readable(status, kBoxStatusBytes) &&
      std::memcmp(status, b->last_status, kBoxStatusBytes) != 0) {
    std::memcpy(b->last_status, status, kBoxStatusBytes);
    loader_log(box_log_channel(b), "[box] device box #%d status: %s", number(b),
               format_status(status).c_str());
  }
  return inner_slot<IoBoxSetStatusFn>(b, kIoBoxSetStatus)(b->inner, status);
}

uint64_t KS_ABI box_device_up(IoBox* box, const uint8_t* info) {
  DeviceBox* b = self_box(box);
  const int log = box_log_channel(b);
  if (is_readable(info, kDeviceUpInfoBytes)) {
    DeviceInfo d = parse_device_info(info);
    std::memcpy(b->owner, d.owner, sizeof b->owner);
    b->ownership = d.ownership;
    __atomic_store_n(&b->info_valid, 1u, __ATOMIC_RELEASE);
    char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD len = sizeof host;
    if (!GetComputerNameA(host, &len)) host[0] = 0;
    loader_log(
        log,
        "[box] device box #%d up: fw %u.%u.%u / %u.%u.%u, owner \"%s\", ownership %u (this host \"%s\")",
        number(b), d.firmware[0], d.firmware[1], d.firmware[2], d.firmware[3], d.firmware[4],
        d.firmware[5], d.owner, d.ownership, host);
  } else {
    loader_log(log, "[box] device box #%d up (no info)", number(b));
  }
  return inner_slot<IoBoxDeviceUpFn>(b, kIoBoxDeviceUp)(b->inner, info);
}

uint64_t KS_ABI box_set_mac(IoBox* box, const uint8_t* mac) {
  DeviceBox* b = self_box(box);
  const MacKind kind = is_readable(mac, kMacBytes) ? classify_mac(mac) : MacKind::kNone;
  if (kind == MacKind::kNone) {
    __atomic_store_n(&b->offline, 0u, __ATOMIC_RELEASE);
    return inner_slot<IoBoxSetMacFn>(b, kIoBoxSetMac)(b->inner, mac);
  }
  const int log = box_log_channel(b);
  if (kind == MacKind::kOffline) {
    __atomic_store_n(&b->offline, 1u, __ATOMIC_RELEASE);
    __atomic_store_n(&b->online, 0u, __ATOMIC_RELEASE);
    loader_log(log,
               "[box] device box #%d: MAC %s - an OFFLINE device in LV1: no preamps, no recall",
               number(b), format_mac(mac).c_str());
  } else {
    __atomic_store_n(&b->offline, 0u, __ATOMIC_RELEASE);
    std::memcpy(b->mac, mac, kMacBytes);
    __atomic_store_n(&b->online, 1u, __ATOMIC_RELEASE);
    loader_log(log, "[box] device box #%d: MAC %s (from LV1)", number(b), format_mac(mac).c_str());
  }
  uint64_t r = inner_slot<IoBoxSetMacFn>(b, kIoBoxSetMac)(b->inner, mac);
  if (b->console_type >= 0) {
    refresh_live_card(b->console_type);
    if (kind == MacKind::kReal) start_mac_settle(b->index);
  }
  return r;
}

// ---- the named interfaces ----

uint64_t KS_ABI stub_count(ConsoleIOStub* stub) {
  if (stub && stub->box && stub->box->console_type >= 0)
    count_call(console_type(stub->box->console_type), kCountConsoleIO);
  return 0;
}

void KS_ABI stub_set_host(ConsoleIOStub* stub, ConsoleIOHost* host) {
  __atomic_store_n(&stub->host, host, __ATOMIC_RELEASE);
}

ConsoleIOStub* make_stub(DeviceBox* b) {
  ConsoleIOStub* s = static_cast<ConsoleIOStub*>(std::calloc(1, sizeof(ConsoleIOStub)));
  if (!s) return nullptr;
  for (SlotFn& slot : s->slot) slot = reinterpret_cast<SlotFn>(&ks_zero_slot);
  for (int k : {1, 3, 4, 6, 7, 9, 10}) s->slot[k] = reinterpret_cast<SlotFn>(&stub_count);
  s->slot[14] = reinterpret_cast<SlotFn>(&stub_set_host);
  s->box = b;
  return s;
}

void* KS_ABI box_query_interface(IoBox* box, const char* name) {
  DeviceBox* b = self_box(box);
  void* inner = inner_slot<IoBoxQueryInterfaceFn>(b, kIoBoxQueryInterface)(b->inner, name);
  // LV1's names are short; anything unreadable or without an end is nothing we answer.
  if (readable_length(name, 256) < 0) return inner;
  const int log = box_log_channel(b);
  const bool typed = b->console_type >= 0;
  const bool gain = std::strcmp(name, kIfaceGain) == 0;
  if (!gain)
    loader_log(log, "[box] device box #%d: LV1 asked for %.64s - Waves' module %s", number(b), name,
               inner ? "provides it" : "has none");
  BoxExtras& x = g_extras[b->index];
  if (typed && std::strcmp(name, kIfaceChunkInfo) == 0) {
    ChunkInfoWrapper* w = __atomic_load_n(&x.chunk_info, __ATOMIC_ACQUIRE);
    if (!w || x.chunk_info_waves != inner) {
      w = static_cast<ChunkInfoWrapper*>(std::calloc(1, sizeof(ChunkInfoWrapper)));
      if (!w) return inner;
      w->slot[0] = reinterpret_cast<SlotFn>(&ks_chunk_info_op0);
      w->slot[1] = reinterpret_cast<SlotFn>(&chunk_info_decode);
      w->slot[2] = reinterpret_cast<SlotFn>(&chunk_info_op2);
      w->box = b;
      w->waves = static_cast<ChunkInfoSupport*>(inner);
      x.chunk_info_waves = w->waves;
      __atomic_store_n(&x.chunk_info, w, __ATOMIC_RELEASE);
    }
    loader_log(log, "[box] device box #%d: %s wrapped (Waves' decoder + Kestrune's preamp values)",
               number(b), name);
    return w;
  }
  if (!inner && typed && std::strcmp(name, kIfaceConsoleIO) == 0) {
    // One stub per box: LV1's host stays with the stub the strips are redrawn through.
    ConsoleIOStub* s = stub_at(b->index);
    if (!s) {
      s = make_stub(b);
      if (!s) return nullptr;
      publish_stub(b->index, s);
    }
    loader_log(
        log, "[box] device box #%d: %s answered (nothing supported) - lets Kestrune redraw strips",
        number(b), name);
    return s;
  }
  if (!inner && typed && std::strcmp(name, kIfaceChannelsChunk) == 0) {
    ChannelsChunkObject* o = __atomic_load_n(&x.channels_chunk, __ATOMIC_ACQUIRE);
    if (!o) {
      o = static_cast<ChannelsChunkObject*>(std::calloc(1, sizeof(ChannelsChunkObject)));
      if (!o) return nullptr;
      o->slot[0] = reinterpret_cast<SlotFn>(&ks_zero_slot);
      o->slot[1] = reinterpret_cast<SlotFn>(&channels_scene_recall);
      o->box = b;
      __atomic_store_n(&x.channels_chunk, o, __ATOMIC_RELEASE);
    }
    loader_log(log, "[box] device box #%d: LV1 asked for %s - answered with Kestrune's", number(b),
               name);
    return o;
  }
  if (gain) {
    if (!inner) {
      loader_log(log,
                 "[box] device box #%d: LV1 asked for WavesIOBoxGain - answered with Kestrune's",
                 number(b));
      return gain_object(b->index);
    }
    loader_log(log,
               "[box] device box #%d: the stock module answers WavesIOBoxGain itself - left alone",
               number(b));
  }
  return inner;
}

}  // namespace

IoBox* create_device_box_for(uint32_t vendor, uint32_t product) {
  const int row = find_card_row(vendor, product);
  IoBoxModuleInterface* waves = row >= 0 ? card_runtime(row).inner : nullptr;
  if (!waves) {
    loader_log(kLogLoader, "[box] device %u,%u is not a card Kestrune knows - refused", vendor,
               product);
    return nullptr;
  }
  IoBox* inner = waves->create_device_box(waves, vendor, product);
  if (!inner) return nullptr;
  const int index = take_box_index();
  if (index >= static_cast<int>(kMaxDeviceBoxes)) {
    loader_log(
        kLogLoader,
        "[box] more than %d device boxes - device %u,%u gets Waves' box, no preamp control (restart LV1)",
        static_cast<int>(kMaxDeviceBoxes), vendor, product);
    return inner;
  }
  DeviceBox* b = static_cast<DeviceBox*>(std::calloc(1, sizeof(DeviceBox)));
  if (!b) return inner;
  std::memcpy(b->slot, ks_box_forwarders, sizeof b->slot);
  b->slot[kIoBoxRelease] = reinterpret_cast<SlotFn>(&box_release);
  b->slot[kIoBoxSetListener] = reinterpret_cast<SlotFn>(&ks_box_set_listener);
  b->slot[kIoBoxSetStatus] = reinterpret_cast<SlotFn>(&box_set_status);
  b->slot[kIoBoxDeviceUp] = reinterpret_cast<SlotFn>(&box_device_up);
  b->slot[kIoBoxSetChunk] = reinterpret_cast<SlotFn>(&box_set_chunk);
  b->slot[kIoBoxGetChunk] = reinterpret_cast<SlotFn>(&box_get_chunk);
  b->slot[kIoBoxSetMac] = reinterpret_cast<SlotFn>(&box_set_mac);
  b->slot[kIoBoxQueryInterface] = reinterpret_cast<SlotFn>(&box_query_interface);
  b->inner = inner;
  b->index = index;
  b->console_type = kCardTable[row].console_type;
  b->product = product;
  publish_box(b);
  loader_log(box_log_channel(b), "[box] device box #%d created for device %u,%u", index + 1, vendor,
             product);
  return reinterpret_cast<IoBox*>(b);
}

}  // namespace ks
