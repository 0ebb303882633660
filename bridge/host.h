// The loader's host callbacks as the framework uses them, and the module log.
//
// The host record is the loader's; the module keeps the pointer from start until stop returns.
// Every wrapper does nothing (or gives the default) while there is no host or the callback slot
// is empty, so code that runs after stop, or in tests without a host, is safe.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/text.h"

namespace ks {

struct ModuleHost;
struct GainObject;
struct IoBoxListener;

// The host given to start (null while stopped). Readable from any thread.
const ModuleHost* module_host();
void set_module_host(const ModuleHost* host);

// One log line through the host's log callback, formatted into 1024 bytes (longer text is cut).
void log_info(const char* fmt, ...) KS_PRINTF(1, 2);
// As log_info at level 2, written only while the `diag` setting asks for detail lines.
void log_detail(const char* fmt, ...) KS_PRINTF(1, 2);

std::string host_config_path();       // the settings file as UTF-8, "" without a host
std::u16string host_status_suffix();  // u"" or u"-x32"
bool host_live_gain_object();
// The live box's MAC (6 bytes) or null; the first miss is logged once per process.
const uint8_t* host_get_mac();
IoBoxListener* host_lv1_listener();
void host_report(GainObject* ctx, int32_t channel, double db, bool has_gain, bool on, bool has_48v,
                 bool forced);
void host_rebuild_strip(int32_t channel);

uint32_t mac_missing_count();
// Back to the count at load (tests only: a module counts for its whole life).
void mac_missing_reset_for_tests();

}  // namespace ks
