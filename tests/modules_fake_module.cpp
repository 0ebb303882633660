// Stand-in console module for the module manager's scenarios. One source, built in variants by
// the FAKE_* definitions; every call is written to the loader's log through the host, tagged
// with the variant's FAKE_TAG, so a scenario reads what the loader did from kestrune.log.
#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "shared/module_table.h"

namespace {

const ks::ModuleHost* g_host = nullptr;

void say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void say(const char* format, ...) {
  const ks::ModuleHost* h = g_host;
  if (!h || !h->log) return;
  char body[600], line[700];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(body, sizeof body, format, ap);
  va_end(ap);
  std::snprintf(line, sizeof line, "FAKE %s %s", FAKE_TAG, body);
  h->log(h->ctx, ks::kLogInfo, line);
}

int32_t KS_ABI fake_start(const ks::ModuleHost* host) {
  g_host = host;
  say("start v=%u size=%u ctx=%s", host->version, host->size, host->ctx);
#ifdef FAKE_SLOW_START
  Sleep(1500);
  say("start returns");
#endif
  return 1;
}

bool KS_ABI fake_stop() {
  say("stop begins");
#ifdef FAKE_SLOW_STOP
  Sleep(3000);
#endif
#ifdef FAKE_STOP_FALSE
  say("stop reports false");
  return false;
#else
  say("stop reports true");
  return true;
#endif
}

void KS_ABI fake_attach(ks::GainObject* live) { say("attach %p", static_cast<void*>(live)); }
void KS_ABI fake_set_gain(uint32_t ch, double db) { say("set_gain ch=%u %.2f", ch, db); }
void KS_ABI fake_set_phantom(uint32_t ch, uint32_t on) { say("set_phantom ch=%u %u", ch, on); }
bool KS_ABI fake_has_preamp(uint32_t ch) { return ch < 8; }
double KS_ABI fake_gain_min(uint32_t) { return -6.0; }
double KS_ABI fake_gain_max(uint32_t) { return 54.0; }
double KS_ABI fake_gain_step(uint32_t) { return 1.0; }
void KS_ABI fake_session_recall(const double*, const uint32_t*, const uint32_t*) {
  say("session_recall");
}

const ks::ConsoleModuleTable kTable = {
    ks::kModuleApiVersion,
    ks::kModuleTableSize,
    FAKE_TYPE,
    FAKE_TAG,
    fake_start,
    fake_stop,
    fake_attach,
    fake_set_gain,
    fake_set_phantom,
    fake_has_preamp,
    fake_gain_min,
    fake_gain_max,
    fake_gain_step,
    fake_session_recall,
};

}  // namespace

#ifndef FAKE_NO_EXPORT
extern "C" __declspec(dllexport) const ks::ConsoleModuleTable* KS_ABI
    ks_module_entry(uint32_t version) {
#ifdef FAKE_NULL_TABLE
  (void)version;
  return nullptr;
#else
  return version == ks::kModuleApiVersion ? &kTable : nullptr;
#endif
}
#endif

// A FreeLibrary that unmaps the module (reserved is null; at process exit it is not) is logged,
// so a scenario sees whether and when the loader let the module go. The loader stays loaded
// for the life of the process, so its log function is still there.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
#ifdef FAKE_DLLMAIN_FAILS
  if (reason == DLL_PROCESS_ATTACH) return FALSE;
#endif
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) say("unmapped");
  return TRUE;
}
