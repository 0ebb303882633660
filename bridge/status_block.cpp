#include "bridge/status_block.h"

#include <atomic>
#include <cstring>
#include <string>

#include "os/shared_memory.h"

namespace ks {

namespace {

SharedMemory g_mapping;
StatusBlock* g_memory = nullptr;  // a block in ordinary memory instead of the mapping
std::atomic<StatusBlock*> g_block{nullptr};

void stamp(StatusBlock* b) {
  std::memset(b, 0, sizeof *b);
  b->magic = kStatusMagic;
  b->version = kStatusLayoutVersion;
}

}  // namespace

StatusBlock* status_block() { return g_block.load(std::memory_order_acquire); }

void status_block_use_memory(StatusBlock* mem) {
  g_memory = mem;
  if (mem) stamp(mem);
  g_block.store(mem, std::memory_order_release);
}

}  // namespace ks
