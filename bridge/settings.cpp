#include "bridge/settings.h"

#include "bridge/text.h"

namespace ks {

namespace {

Settings g_settings;

struct StoredEntry {
  char bank[8];
  uint32_t input;
  uint32_t pad;
};

SeqCell<StoredEntry> g_protect[kProtectMax];
std::atomic<int> g_protect_count{0};

}  // namespace

Settings& settings() { return g_settings; }

int watch_count() {
  int w = g_settings.watch.load();
  return w < 1 ? 1 : (w > 64 ? 64 : w);
}

int protect_count() {
  int n = g_protect_count.load(std::memory_order_acquire);
  return n < 0 ? 0 : (n > kProtectMax ? kProtectMax : n);
}

bool protect_at(int index, ProtectedInput& out) {
  if (index < 0 || index >= protect_count()) return false;
  StoredEntry e = g_protect[index].load();
  copy_text(out.bank, sizeof out.bank, std::string_view(e.bank, bounded_len(e.bank, 8)));
  out.input = e.input;
  return true;
}

int protect_find(const char* bank, uint32_t input) {
  if (!bank) return -1;
  std::string_view b(bank, bounded_len(bank, 8));
  int n = protect_count();
  for (int i = 0; i < n; ++i) {
    StoredEntry e = g_protect[i].load();
    if (e.input == input && iequals(std::string_view(e.bank, bounded_len(e.bank, 8)), b)) return i;
  }
  return -1;
}

int protect_snapshot(ProtectedInput* out, int cap) {
  int n = protect_count();
  int k = 0;
  for (int i = 0; i < n && k < cap; ++i)
    if (protect_at(i, out[k])) ++k;
  return k;
}

static void put(int index, const char* bank, uint32_t input) {
  StoredEntry e{};
  copy_text(e.bank, sizeof e.bank, bank);
  e.input = input;
  g_protect[index].store(e);
}

void protect_replace(const ProtectedInput* entries, int count) {
  if (count > kProtectMax) count = kProtectMax;
  // Shrink first so no reader looks at an entry while it is rewritten.
  g_protect_count.store(0, std::memory_order_release);
  for (int i = 0; i < count; ++i) put(i, entries[i].bank, entries[i].input);
  g_protect_count.store(count < 0 ? 0 : count, std::memory_order_release);
}

bool protect_append(const char* bank, uint32_t input) {
  int n = protect_count();
  if (n >= kProtectMax) return false;
  put(n, bank, input);
  g_protect_count.store(n + 1, std::memory_order_release);
  return true;
}

void protect_remove(const char* bank, uint32_t input) {
  int i = protect_find(bank, input);
  if (i < 0) return;
  int n = protect_count();
  if (i != n - 1) g_protect[i].store(g_protect[n - 1].load());
  g_protect_count.store(n - 1, std::memory_order_release);
}

}  // namespace ks
