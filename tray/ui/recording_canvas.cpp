#include "tray/ui/recording_canvas.h"

#include <algorithm>
#include <cmath>

namespace ks::tray {

float RecordingCanvas::char_width(const FontSpec& f) {
  return f.px * (f.weight == FontWeight::regular ? 0.55f : 0.6f);
}

void RecordingCanvas::fill_rect(Argb c, float x, float y, float w, float h) {
  ops.push_back({DrawOp::k_rect, c, x, y, w, h, 0, {}, {}});
}
void RecordingCanvas::fill_round_rect(Argb c, float x, float y, float w, float h, float r) {
  ops.push_back({DrawOp::k_round_fill, c, x, y, w, h, r, {}, {}});
}
void RecordingCanvas::stroke_round_rect(Argb c, float x, float y, float w, float h, float r,
                                        float) {
  ops.push_back({DrawOp::k_round_stroke, c, x, y, w, h, r, {}, {}});
}
void RecordingCanvas::fill_ellipse(Argb c, float x, float y, float w, float h) {
  ops.push_back({DrawOp::k_ellipse_fill, c, x, y, w, h, 0, {}, {}});
}
void RecordingCanvas::stroke_ellipse(Argb c, float x, float y, float w, float h, float) {
  ops.push_back({DrawOp::k_ellipse_stroke, c, x, y, w, h, 0, {}, {}});
}
void RecordingCanvas::line(Argb c, float x1, float y1, float x2, float y2, float) {
  ops.push_back({DrawOp::k_line, c, x1, y1, x2 - x1, y2 - y1, 0, {}, {}});
}

namespace {

// Lines of text wrapped at words within width (a word wider than the width stands alone).
std::vector<std::u16string> wrap_lines(const std::u16string& text, float cw, float width) {
  std::vector<std::u16string> lines;
  std::u16string cur;
  size_t i = 0;
  while (i <= text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != u' ' && text[j] != u'\n') ++j;
    std::u16string word = text.substr(i, j - i);
    std::u16string trial = cur.empty() ? word : cur + u" " + word;
    if (!cur.empty() && width > 0 && static_cast<float>(trial.size()) * cw > width) {
      lines.push_back(cur);
      cur = word;
    } else {
      cur = trial;
    }
    if (j < text.size() && text[j] == u'\n') {
      lines.push_back(cur);
      cur.clear();
    }
    i = j + 1;
  }
  if (!cur.empty() || lines.empty()) lines.push_back(cur);
  return lines;
}

}  // namespace

TextSize RecordingCanvas::measure(const std::u16string& text, const FontSpec& f, float box_w,
                                  float box_h, bool wrap) {
  if (text.empty()) return {0, 0};
  const float cw = char_width(f), lh = line_height(f);
  if (!wrap) return {static_cast<float>(text.size()) * cw, lh};
  auto lines = wrap_lines(text, cw, box_w);
  float w = 0;
  for (auto& l : lines) w = std::max(w, static_cast<float>(l.size()) * cw);
  size_t fit = lines.size();
  if (box_h > 0) fit = std::min(fit, static_cast<size_t>(std::floor(box_h / lh)));
  return {w, static_cast<float>(fit) * lh};
}

void RecordingCanvas::draw_line_text(const std::u16string& text, const FontSpec& f, Argb c,
                                     float x, float y, float w, float h, TextAlign) {
  std::u16string shown = text;
  const float cw = char_width(f);
  if (w > 0 && static_cast<float>(text.size()) * cw > w) {
    size_t keep = static_cast<size_t>(std::max(0.0f, std::floor(w / cw) - 1));
    shown = text.substr(0, keep) + u"\u2026";
  }
  ops.push_back({DrawOp::k_text, c, x, y, w, h, 0, shown, f});
}

void RecordingCanvas::draw_wrapped(const std::u16string& text, const FontSpec& f, Argb c,
                                   float x, float y, float w, float h) {
  ops.push_back({DrawOp::k_wrapped, c, x, y, w, h, 0, text, f});
}

std::vector<std::u16string> RecordingCanvas::texts() const {
  std::vector<std::u16string> out;
  for (auto& o : ops)
    if (o.kind == DrawOp::k_text || o.kind == DrawOp::k_wrapped) out.push_back(o.text);
  return out;
}

}  // namespace ks::tray
