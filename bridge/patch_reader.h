// The desk patch reader: fills the channel model from the desk. For each watched LV1 channel it
// finds the desk input that feeds the card slot's output, whether that input has a head amp this
// module may drive, its stereo mode (and so whose head amp it uses), the gain parked on its own
// input, and its name; around that, which slot holds the SoundGrid card, what hangs on the
// stage-box ports, and whether the desk refuses network changes.
//
// Everything here runs on the watcher thread. It only reads from the desk. Answers from the
// driver are checked before they reach the model: a source whose bank does not fit, an input
// beyond its bank, a mode that does not match its input, are treated as no answer or no head
// amp, and logged; nothing read here can make the module write to an input it did not read.
#pragma once

#include <cstdint>

namespace ks {

// One full read; false only when a waiting dashboard command cut it short.
bool patch_read_all();
// -1 the source read failed; 0 nothing that matters changed; 1 source or head-amp presence changed.
int32_t patch_read_one(uint32_t channel);
void patch_read_cards();
void patch_read_ports();
bool patch_try_other_slot();
void patch_read_stereo();
void patch_read_mode_one(int32_t channel);
void patch_read_names();
void patch_read_parked(int32_t channel);

// A source counts as routed when its input is 1 or more and its bank is neither empty nor "OFF".
bool source_routed(const char* bank, uint32_t input);

// The once-flags of the card and port looks (tests and a fresh module).
void patch_reader_reset();

}  // namespace ks
