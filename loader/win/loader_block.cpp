// The loader block (Local\KestruneLoader) for the tray program, and the identify requests it
// carries: the tray program writes only the identify words, the loader everything else.
#include <windows.h>

#include <cstring>

#include "loader/module_manager_rules.h"
#include "loader/win/loader_core.h"
#include "loader/win/loader_log.h"
#include "loader/win/module_manager.h"
#include "loader/win/module_seam.h"
#include "os/clock.h"
#include "os/shared_memory.h"
#include "shared/loader_block.h"

namespace ks {
namespace {

SharedMemory g_mapping;
LoaderBlock* g_block = nullptr;
CriticalSection g_publish_lock;  // the watcher and LV1's threads both publish
uint32_t g_extra_logged[kConsoleTypes] = {};
IdentifyState g_identify[kConsoleTypes];

uint32_t load_word(const uint32_t& w) { return __atomic_load_n(&w, __ATOMIC_ACQUIRE); }
void store_word(uint32_t& w, uint32_t v) { __atomic_store_n(&w, v, __ATOMIC_RELEASE); }

void copy_text(char* dst, size_t cap, const char* src) {
  size_t n = src ? strnlen(src, cap - 1) : 0;
  std::memcpy(dst, src, n);
  std::memset(dst + n, 0, cap - n);
}

// A live box, for the count: of the type, not released, online and not offline.
int live_boxes(int type) {
  int n = 0;
  for (int i = 0; i < box_count(); ++i) {
    const DeviceBox* b = box_at(i);
    if (b && b->console_type == type && !box_released(b) && box_online(b) && !box_offline(b)) ++n;
  }
  return n;
}

// Lights or clears the live card's LED; true when LV1 took the call.
bool identify_card(int type, bool on) {
  ConsoleTypeRecord& t = console_type(type);
  DeviceBox* b = live_box(type);
  if (!b || box_released(b) || !box_online(b) || !b->listener) {
    loader_log(t.log_channel, "[identify] no live %s card to light", t.type_name);
    return false;
  }
  const bool ok = lv1_identify(b->listener, b->mac, on ? 1 : 0);
  loader_log(t.log_channel, "[identify] card %02x:%02x:%02x:%02x:%02x:%02x LED %s%s", b->mac[0],
             b->mac[1], b->mac[2], b->mac[3], b->mac[4], b->mac[5], on ? "on" : "off",
             ok ? "" : " - FAULTED");
  return ok;
}

}  // namespace

void create_loader_block() {
  if (!g_mapping.create(kLoaderBlockName, kLoaderBlockSize)) {
    loader_log(kLogLoader, "[loader] %s could not be created (error %lu) - running without it",
               kLoaderBlockName, static_cast<unsigned long>(g_mapping.last_error()));
    return;
  }
  auto* block = static_cast<LoaderBlock*>(g_mapping.data());
  std::memset(block, 0, kLoaderBlockSize);
  block->size = kLoaderBlockSize;
  copy_text(block->loader_version, sizeof block->loader_version, kLoaderVersionText);
  __atomic_store_n(&block->magic, kLoaderMagic, __ATOMIC_RELEASE);  // last: the header is complete
  g_block = block;
}

void publish_type_status(int type) {
  if (!g_block || type < 0 || type >= int(kConsoleTypes)) return;
  ConsoleTypeRecord& t = console_type(type);
  LockGuard<CriticalSection> g(g_publish_lock);
  LoaderTypeRecord& r = g_block->types[type];
  copy_text(r.type_name, sizeof r.type_name, t.type_name);
  DeviceBox* b = live_box(type);
  {
    SharedGuard s(t.module_srw);
    store_word(r.enabled, t.enabled ? 1 : 0);
    copy_text(r.running_version, sizeof r.running_version, t.version_text);
    store_word(g_block->hands_off[type], t.hands_off ? 1 : 0);
  }
  store_word(r.waves_loaded, t.waves_module ? 1 : 0);
  store_word(r.live_usable, b && box_online(b) && !box_released(b) ? 1 : 0);
  store_word(r.product_id, b ? b->product : 0);

  const int live = live_boxes(type);
  const uint32_t extra = live > 1 ? uint32_t(live - 1) : 0;
  if (extra != g_extra_logged[type]) {
    g_extra_logged[type] = extra;
    loader_log(t.log_channel, "[box] %d live %s card(s) in LV1 - Kestrune drives one%s", live,
               t.type_name,
               extra ? "; the other(s) get no preamp control (one console per type)" : "");
  }
  store_word(g_block->extra_live_cards[type], extra);
}

void note_load_failure(int type, const char* file_name_ansi, uint32_t error) {
  if (!g_block || type < 0 || type >= int(kConsoleTypes)) return;
  LockGuard<CriticalSection> g(g_publish_lock);
  LoaderTypeRecord& r = g_block->types[type];
  copy_text(r.failed_file, sizeof r.failed_file, file_name_ansi);
  store_word(r.last_error, error);
  __atomic_add_fetch(&r.failure_count, 1u, __ATOMIC_ACQ_REL);
}

uint32_t serve_identify_requests(uint32_t forever) {
  if (!g_block) return forever;
  for (int type = 0; type < int(kConsoleTypes); ++type) {
    const uint32_t counter = load_word(g_block->identify_counter[type]);
    const uint32_t on_word = load_word(g_block->identify_on[type]);
    IdentifyStep step = identify_step(g_identify[type], counter, on_word, tick_now64());
    if (!step.call) continue;
    const bool ok = identify_card(type, step.on);
    identify_done(g_identify[type], step.on, ok, tick_now64());
    if (step.clear_on_word) store_word(g_block->identify_on[type], 0);
  }
  return identify_wait_ms(g_identify, int(kConsoleTypes), tick_now64(), forever);
}

}  // namespace ks
