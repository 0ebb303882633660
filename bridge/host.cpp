#include "bridge/host.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "bridge/settings.h"
#include "os/utf.h"
#include "shared/module_table.h"

namespace ks {

namespace {

std::atomic<const ModuleHost*> g_host{nullptr};
std::atomic<uint32_t> g_mac_missing{0};
// The MAC buffer the host fills; written and read on the watcher thread only.
uint8_t g_mac[6];

void vlog(int32_t level, const char* fmt, va_list ap) {
  const ModuleHost* h = g_host.load(std::memory_order_acquire);
  if (!h || !h->log) return;
  char buf[1024];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  h->log(h->ctx, level, buf);
}

std::u16string bounded16(const char16_t* s, size_t cap) {
  std::u16string out;
  if (!s) return out;
  for (size_t i = 0; i < cap && s[i]; ++i) out.push_back(s[i]);
  return out;
}

}  // namespace

const ModuleHost* module_host() { return g_host.load(std::memory_order_acquire); }
void set_module_host(const ModuleHost* host) { g_host.store(host, std::memory_order_release); }

void log_info(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vlog(kLogInfo, fmt, ap);
  va_end(ap);
}

void log_detail(const char* fmt, ...) {
  if (!settings().diag.load(std::memory_order_relaxed)) return;
  va_list ap;
  va_start(ap, fmt);
  vlog(kLogDetail, fmt, ap);
  va_end(ap);
}

std::string host_config_path() {
  const ModuleHost* h = module_host();
  if (!h) return {};
  return utf16_to_utf8(bounded16(h->config_path, 260));
}

std::u16string host_status_suffix() {
  const ModuleHost* h = module_host();
  if (!h) return {};
  return bounded16(h->status_suffix, 16);
}

bool host_live_gain_object() {
  const ModuleHost* h = module_host();
  return h && h->live_gain_object && h->live_gain_object() != nullptr;
}

const uint8_t* host_get_mac() {
  const ModuleHost* h = module_host();
  if (!h || !h->get_mac) return nullptr;
  if (h->get_mac(g_mac)) return g_mac;
  if (g_mac_missing.fetch_add(1) == 0)
    log_info(
        "[mac] LV1 has not given the device box a MAC yet - LV1 will not be notified until it does");
  return nullptr;
}

IoBoxListener* host_lv1_listener() {
  const ModuleHost* h = module_host();
  return (h && h->lv1_listener) ? h->lv1_listener() : nullptr;
}

void host_report(GainObject* ctx, int32_t channel, double db, bool has_gain, bool on, bool has_48v,
                 bool forced) {
  const ModuleHost* h = module_host();
  if (!ctx || !h || !h->report_to_lv1) return;
  h->report_to_lv1(ctx, channel, db, has_gain, on, has_48v, forced);
}

void host_rebuild_strip(int32_t channel) {
  const ModuleHost* h = module_host();
  if (h && h->rebuild_strip) h->rebuild_strip(channel);
}

uint32_t mac_missing_count() { return g_mac_missing.load(); }
void mac_missing_reset_for_tests() { g_mac_missing.store(0); }

}  // namespace ks
