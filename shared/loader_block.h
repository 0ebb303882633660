// LoaderBlock: the loader's state in named shared memory ("Local\KestruneLoader"), read by the
// tray program. No lock: each field has one writer. The loader creates it zeroed, writes size and
// version, and writes the magic last, so a reader that sees the magic sees a complete header.
// The tray program writes only the identify words (identify_on first, then the counter).
#pragma once

#include <cstdint>

#include "shared/names.h"
#include "shared/records.h"

namespace ks {

inline constexpr uint32_t kLoaderMagic = fourcc("DLSK");
inline constexpr uint32_t kLoaderBlockSize = 304;
inline constexpr char kLoaderVersionText[] = "3.2.0";

// One console type's state (t = 0 "wing", 1 "x32").
struct LoaderTypeRecord {
  char type_name[8];
  uint32_t enabled;          // from state.cfg
  uint32_t waves_loaded;     // Waves' module of the type loaded
  uint32_t live_usable;      // the live card's box is online and not released
  uint32_t product_id;       // of the live card's box, 0 without one
  char running_version[24];  // of the running console module, empty when none
  uint32_t failure_count;    // failed module loads, incremented atomically
  uint32_t last_error;       // system error code, or 1
  char failed_file[64];      // the last file that failed to load, without folder, ANSI
};
static_assert(sizeof(LoaderTypeRecord) == 120);
static_assert(offsetof(LoaderTypeRecord, enabled) == 8);
static_assert(offsetof(LoaderTypeRecord, waves_loaded) == 12);
static_assert(offsetof(LoaderTypeRecord, live_usable) == 16);
static_assert(offsetof(LoaderTypeRecord, product_id) == 20);
static_assert(offsetof(LoaderTypeRecord, running_version) == 24);
static_assert(offsetof(LoaderTypeRecord, failure_count) == 48);
static_assert(offsetof(LoaderTypeRecord, last_error) == 52);
static_assert(offsetof(LoaderTypeRecord, failed_file) == 56);

struct LoaderBlock {
  uint32_t magic;           // kLoaderMagic, written last
  uint32_t size;            // kLoaderBlockSize
  char loader_version[24];  // "3.2.0"
  LoaderTypeRecord types[kConsoleTypes];
  uint32_t extra_live_cards[kConsoleTypes];  // live boxes of the type minus 1 (0 below 2)
  uint32_t identify_counter[kConsoleTypes];  // tray: incremented per request
  uint32_t identify_on[kConsoleTypes];  // tray: 1 light, 0 clear; loader clears it at the LED's end
  uint32_t hands_off[kConsoleTypes];    // the card is shared to this LV1 from another one
};

static_assert(sizeof(LoaderBlock) == kLoaderBlockSize && kPlainRecord<LoaderBlock>);
static_assert(offsetof(LoaderBlock, size) == 4);
static_assert(offsetof(LoaderBlock, loader_version) == 8);
static_assert(offsetof(LoaderBlock, types) == 32);
static_assert(offsetof(LoaderBlock, types[1]) == 152);
static_assert(offsetof(LoaderBlock, extra_live_cards) == 272);
static_assert(offsetof(LoaderBlock, identify_counter) == 280);
static_assert(offsetof(LoaderBlock, identify_on) == 288);
static_assert(offsetof(LoaderBlock, hands_off) == 296);

}  // namespace ks
