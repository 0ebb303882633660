#include "desk/wing/wing_nodes.h"

#include <cstring>

#include "bridge/driver_services.h"
#include "bridge/text.h"
#include "os/lock.h"

namespace ks {

namespace {

CriticalSection& node_table_lock() {
  static CriticalSection lock;
  return lock;
}

}  // namespace

LearnResult NodeHashTable::learn(uint32_t hash, const char* bank, uint32_t index,
                                 const char* leaf) {
  if (hash == 0) return LearnResult::kIgnored;
  if (find(hash)) return LearnResult::kKnown;
  uint32_t n = count_.load(std::memory_order_relaxed);
  if (n >= kNodeHashCapacity) {
    if (full_reported_) return LearnResult::kFull;
    full_reported_ = true;
    return LearnResult::kFirstFull;
  }
  NodeHashEntry& e = entries_[n];
  e.hash = hash;
  copy_text(e.bank, sizeof e.bank, bank);
  e.index = index;
  copy_text(e.leaf, sizeof e.leaf, leaf);
  count_.store(n + 1, std::memory_order_release);
  return LearnResult::kAdded;
}

const NodeHashEntry* NodeHashTable::find(uint32_t hash) const {
  uint32_t n = size();
  for (uint32_t i = 0; i < n; ++i)
    if (entries_[i].hash == hash) return &entries_[i];
  return nullptr;
}

uint32_t NodeHashTable::lookup(const char* bank, uint32_t index, const char* leaf) const {
  if (!bank || !leaf) return 0;
  char b[8], l[8];
  copy_text(b, sizeof b, bank);
  copy_text(l, sizeof l, leaf);
  uint32_t n = size();
  for (uint32_t i = 0; i < n; ++i) {
    const NodeHashEntry& e = entries_[i];
    if (e.index == index && iequals(e.bank, b) && iequals(e.leaf, l)) return e.hash;
  }
  return 0;
}

NodeHashTable& node_table() {
  static NodeHashTable table;
  return table;
}

void node_hash_learn(uint32_t hash, const char* bank, uint32_t index, const char* leaf) {
  LearnResult r;
  {
    LockGuard<CriticalSection> g(node_table_lock());
    r = node_table().learn(hash, bank, index, leaf);
  }
  if (r == LearnResult::kFirstFull)
    driver_log_info(
        "[bin] node-hash table is FULL (%ld) - %s %d/%s and every new leaf after it will "
        "be read UNGUARDED. Reads can be mis-attributed; restart LV1 to clear it.",
        long(kNodeHashCapacity), bank && *bank ? bank : "?", int(index),
        leaf && *leaf ? leaf : "?");
}

}  // namespace ks
