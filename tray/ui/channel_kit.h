// The small controls the bridge pages add to the kit (whose glyphs they use): the close cross, the
// channel page's step and segment buttons, its section rule and the link popover's choice pair.
#pragma once
#include <cstdint>
#include <string>

#include "tray/ui/kit.h"

namespace ks::tray {

void draw_close_cross(Canvas& g, float cx, float cy, Argb c);

// The step buttons' labels for a step ("−0.50"/"+0.50" below 1 dB, else one decimal).
std::u16string step_label(double step, bool up);
// Both buttons as wide as the wider label + 14.
float step_button_width(Canvas& g, const FontSpec& f, double step);
void draw_step_button(Canvas& g, PaintContext& pc, const FontSpec& f, const std::u16string& text,
                      float x, float y, float w, int32_t id, bool enabled);

// Width text + 20; registers no region (the page adds one where the segment is live).
float draw_segment_button(Canvas& g, const FontSpec& f, const std::u16string& text, float x,
                          float y, float h, bool inactive, bool selected, bool emphasised);

void draw_section_rule(Canvas& g, float card_left, float& y);

// Two answers with radios; returns the y below the pair.
float draw_choice_pair(Canvas& g, PaintContext& pc, const FontSpec& f, const FontSpec& emph,
                       float left, float y, float card_w, const std::u16string (&answers)[2],
                       const int32_t (&ids)[2], int32_t chosen, bool enabled);

}  // namespace ks::tray
