// Node hashes: the desk answers a read with the node's 32-bit hash and later pushes changes by
// hash alone, so every hash learned from a reply is kept to turn pushes back into inputs.
#pragma once

#include <atomic>
#include <cstdint>

namespace ks {

constexpr uint32_t kNodeHashCapacity = 4096;

struct NodeHashEntry {
  uint32_t hash;  // never 0
  char bank[8];
  uint32_t index;
  char leaf[8];
};

enum class LearnResult { kAdded, kKnown, kIgnored, kFull, kFirstFull };

// Entries are appended and never removed. Lookups take no lock: an entry is written completely
// before the count that includes it is published. Adding is serialised by the caller.
class NodeHashTable {
public:
  LearnResult learn(uint32_t hash, const char* bank, uint32_t index, const char* leaf);
  const NodeHashEntry* find(uint32_t hash) const;
  uint32_t lookup(const char* bank, uint32_t index, const char* leaf) const;  // 0: not learned
  uint32_t size() const { return count_.load(std::memory_order_acquire); }

private:
  NodeHashEntry entries_[kNodeHashCapacity] = {};
  std::atomic<uint32_t> count_{0};
  bool full_reported_ = false;
};

// The driver's one table, guarded by its node-table lock for adding.
NodeHashTable& node_table();
// Learns under the lock; logs the first time the table is full.
void node_hash_learn(uint32_t hash, const char* bank, uint32_t index, const char* leaf);

}  // namespace ks
