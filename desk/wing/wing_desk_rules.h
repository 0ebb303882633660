// Pure rules of the WING driver's slots: identity-line fields, bank sizes by model, stage-box
// channel counts, input modes, the gain-range definition block, and which value token each
// leaf must carry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/records.h"

namespace ks {

// Field of the identity line counted from the end: 0 is after the last comma (firmware), 1 the
// serial, 2 the model. False when the line has too few commas. Cut to cap - 1.
bool identity_field_from_end(const char* line, int from_end, char* out, size_t cap);
// The firmware build: after the last comma, cut at the first ':'.
bool identity_firmware(const char* line, char* out, size_t cap);

// Inputs in a bank for the desk model (the identity line's model field); 0 unknown.
uint32_t wing_bank_size_for(const char* model, const char* bank);
// Inputs offered by the devices named in the text; 0xFFFFFFFF unknown.
uint32_t KS_ABI wing_stagebox_channels(const char* names);

// "M" 0; "ST" 1 / 2 and "M/S" 3 / 4 for odd / even n. False for anything else.
bool wing_mode_from_text(const char* text, int32_t n, uint32_t* mode);
uint32_t wing_stereo_lead(int32_t n, bool stereo);

// The gain range out of a definition block (as the link returns it, from its 0xDF on).
// Every offset is checked against the length.
bool parse_gain_range_block(const uint8_t* b, size_t len, double* min, double* max, double* step);

// Does a reply's (or push's) value token fit the leaf? Leaves without a rule accept anything.
bool leaf_accepts_token(const char* leaf, uint8_t token);

// An input name of "PATCH" followed only by spaces and digits is the desk's placeholder.
bool is_placeholder_name(const char* name);
// A patch group answer: letters and digits only, 1..6 characters.
bool is_group_token(const char* text);

}  // namespace ks
