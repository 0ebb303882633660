// The WING driver's slots: connecting with the hash preload, guarded node reads, and the
// head-amp, mode, patch, name, card and port reads and writes the framework calls through the
// DeskDriver record. Signatures match the record's slots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/desk_driver.h"

namespace ks {

// Node hashes of one firmware build, learned at connect so no read of that build runs
// unguarded.
struct PreloadRow {
  const char* bank;
  uint32_t index;
  const char* leaf;
  uint32_t hash;
};
struct PreloadBuild {
  const char* firmware;
  const PreloadRow* rows;
  uint32_t count;
};
// Replaces the builds the driver knows (tests; null restores the shipped list).
void wing_set_preload_builds(const PreloadBuild* builds, uint32_t count);

bool KS_ABI wing_connect(const char* ip);
void KS_ABI wing_disconnect();
void KS_ABI wing_adopt(const DeskAnswer* answer);
const char* KS_ABI wing_identity();
bool KS_ABI wing_link_alive();

// Guarded read of an input leaf: the reply must carry the node's learned hash (when one is
// learned) and a value token that fits the leaf.
bool wing_read_leaf(const char* bank, int32_t n, const char* leaf, double* value, uint8_t* flag);
bool wing_read_text(const char* bank, int32_t n, const char* leaf, char* out, size_t cap);

bool KS_ABI wing_read_preamp(const char* bank, int32_t n, double* db, uint8_t* phantom,
                             uint8_t* gain_valid);
bool KS_ABI wing_read_gain(const char* bank, int32_t n, double* db);
bool KS_ABI wing_read_phantom(const char* bank, int32_t n, uint8_t* on);
bool KS_ABI wing_read_mute(const char* bank, int32_t n, uint32_t* state);
bool KS_ABI wing_read_mode(const char* bank, int32_t n, uint32_t* mode);
uint32_t KS_ABI wing_stereo_lead(const char* bank, int32_t n);
bool KS_ABI wing_send_gain(const char* bank, int32_t n, double db);
bool KS_ABI wing_send_phantom(const char* bank, int32_t n, uint8_t on);
bool KS_ABI wing_send_mode(const char* bank, int32_t n, const char* mode);
void KS_ABI wing_set_event_callback(EventFn fn);
bool KS_ABI wing_gain_range(const char* bank, int32_t n, double* min, double* max, double* step);
bool KS_ABI wing_is_preamp_bank(const char* bank);
uint32_t KS_ABI wing_bank_size(const char* bank);

bool KS_ABI wing_read_source(const char* slot, uint32_t n, char* bank_out, uint32_t bank_len,
                             uint32_t* n_out);
bool KS_ABI wing_set_patch(const char* slot, uint32_t n, const char* bank, uint32_t input);
bool KS_ABI wing_read_route(const char* slot, uint32_t n, const char* leaf, uint32_t* value,
                            char* text, int32_t text_len);
bool KS_ABI wing_read_card_type(const char* slot, char* out, int32_t len);
bool KS_ABI wing_read_port_devices(const char* port, char* out, int32_t len);
bool KS_ABI wing_read_port_remote(const char* port, uint8_t* on);
bool KS_ABI wing_read_tcplock(uint8_t* on);
bool KS_ABI wing_read_name(const char* bank, int32_t n, char* out, int32_t len);
bool KS_ABI wing_headamp_type(const char* bank, int32_t n, uint32_t* type);
// Forgets the channel map and the once-only log keys (tests).
void wing_reset_name_state();

}  // namespace ks
