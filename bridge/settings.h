// The module's settings as the running threads read them: single atomic words, so LV1's
// threads, the driver's threads and the watcher never see a half-written value and never wait.
// The file side (load, save, edit) is config.h; the string settings (ip, hint, console) are
// copied out under the settings lock there.
#pragma once

#include <atomic>
#include <cstdint>

#include "bridge/config_text.h"
#include "bridge/shared_values.h"

namespace ks {

struct Settings {
  AtomicText8 bank{"LCL"};
  std::atomic<int32_t> base{1};
  std::atomic<int32_t> watch{64};  // kept within 1..64
  std::atomic<bool> notify{true};
  AtomicText8 card{"MOD"};
  std::atomic<bool> resync_lv1{true};
  std::atomic<bool> diag{false};
  std::atomic<bool> session_recall{true};
};

Settings& settings();

// The watch count, always within 1..64.
int watch_count();

// Protect list storage. Readers never wait: an entry is written before the count that makes it
// visible, and a removal moves the last entry into the gap before the count shrinks. Writers are
// serialised by the caller (the settings lock in config.cpp).
int protect_count();
int protect_find(const char* bank, uint32_t input);  // index or -1
bool protect_at(int index, ProtectedInput& out);
int protect_snapshot(ProtectedInput* out, int cap);
void protect_replace(const ProtectedInput* entries, int count);
bool protect_append(const char* bank, uint32_t input);
void protect_remove(const char* bank, uint32_t input);

}  // namespace ks
