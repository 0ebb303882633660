// Lookups into the shown console's status block and the small texts the bridge pages share.
// The block is live shared memory written by LV1's process: every text is read bounded by its
// field, every count clamped to its array, every number checked before it is drawn.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shared/status_block.h"
#include "tray/services/json.h"
#include "tray/ui/canvas.h"

namespace ks::tray {

// A text field that may arrive without its NUL.
std::string field_text(const char* field, size_t size);
template <size_t N>
std::string field_text(const char (&f)[N]) {
  return field_text(f, N);
}

uint32_t block_version(const StatusBlock* b);
// min(watch count, 64); 0 without a block.
int watched_channels(const StatusBlock* b);

// A dB value as the pages use it: not a number, or at or below -144, is "no value" (-144);
// anything above +20 is held at +20.
double clean_db(double v);

// "%.1f" (or "%.*f") with the hyphen-minus shown as U+2212.
std::u16string db_text(double v, int decimals = 1);

bool same_group(std::string_view a, std::string_view b);  // case-insensitive
bool is_unpatched(const StatusBlock* b, int ch);

int find_channel(const StatusBlock* b, std::string_view group, uint32_t input);
const char16_t* group_label(std::string_view code);

struct GainRange {
  double min = kUnknownRangeMin, max = kUnknownRangeMax, step = kUnknownRangeStep;
};
// The watched bank's range, replaced by the first range record of that bank.
GainRange group_record(const StatusBlock* b, std::string_view code);
// The range of channel ch's source group, with the step the gain buttons both show and post:
// a published step of 0 or less (or not a number) is 0.5 dB.
GainRange channel_gain_range(const StatusBlock* b, int ch);

// "%02d  %s": channel number and its name, or its source "%s %d".
std::u16string channel_label(const StatusBlock* b, int ch);
// "%s %d" of the channel's source, or "not patched".
std::u16string source_label(const StatusBlock* b, int ch);
std::u16string channel_name(const StatusBlock* b, int ch);  // empty when none or too old

struct PageNote {
  std::u16string text;
  Argb border = 0, fill = 0, accent = 0;
  uint32_t kind = 0;  // 0 warning triangle, 1 check, 2 shield
  float height = 0;
};
void add_page_note(std::vector<PageNote>& list, std::u16string text, Argb border, Argb fill,
                   Argb accent, uint32_t kind);

struct ConsoleChoice {
  std::u16string name, card;
  bool beta = false;
};
void read_console_choices(std::vector<ConsoleChoice>& list, const JsonValue& model);

struct InputRow {
  uint32_t input = 0;
  int32_t channel = -1;
  std::u16string label, name;
  double gain = 0;
  uint8_t phantom = 0, is_protected = 0, found = 0;
};
InputRow read_input_row(const StatusBlock* b, std::string_view group, uint32_t input);

}  // namespace ks::tray
