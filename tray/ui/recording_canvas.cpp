#include "tray/ui/recording_canvas.h"

#include <algorithm>
#include <cmath>

namespace ks::tray {

float RecordingCanvas::char_width(const FontSpec& f) {
  return f.px * (f.weight == FontWeight::regular ? 0.55f : 0.6f);
}

namespace {
DrawOp op(DrawOp::Kind k, Argb c, float x, float y, float w, float h, float r, bool aa) {
  DrawOp o{};
  o.kind = k;
  o.colour = c;
  o.x = x, o.y = y, o.w = w, o.h = h, o.r = r;
  o.antialias = aa;
  return o;
}
}  // namespace

void RecordingCanvas::fill_rect(Argb c, float x, float y, float w, float h) {
  ops.push_back(op(DrawOp::k_rect, c, x, y, w, h, 0, antialias));
}
void RecordingCanvas::fill_round_rect(Argb c, float x, float y, float w, float h, float r) {
  ops.push_back(op(DrawOp::k_round_fill, c, x, y, w, h, r, antialias));
}
void RecordingCanvas::stroke_round_rect(Argb c, float x, float y, float w, float h, float r,
                                        float pen) {
  ops.push_back(op(DrawOp::k_round_stroke, c, x, y, w, h, r, antialias));
  ops.back().pen = pen;
}
void RecordingCanvas::fill_ellipse(Argb c, float x, float y, float w, float h) {
  ops.push_back(op(DrawOp::k_ellipse_fill, c, x, y, w, h, 0, antialias));
}
void RecordingCanvas::stroke_ellipse(Argb c, float x, float y, float w, float h, float pen) {
  ops.push_back(op(DrawOp::k_ellipse_stroke, c, x, y, w, h, 0, antialias));
  ops.back().pen = pen;
}
void RecordingCanvas::line(Argb c, float x1, float y1, float x2, float y2, float pen) {
  ops.push_back(op(DrawOp::k_line, c, x1, y1, x2 - x1, y2 - y1, 0, antialias));
  ops.back().pen = pen;
}
void RecordingCanvas::stroke_polyline(Argb c, const Pt* pts, size_t n, bool closed, float pen,
                                      LineCap cap, bool) {
  DrawOp o = op(DrawOp::k_polyline, c, 0, 0, 0, 0, 0, antialias);
  o.pts.assign(pts, pts + n);
  o.closed = closed;
  o.pen = pen;
  o.cap = cap;
  ops.push_back(std::move(o));
}
void RecordingCanvas::stroke_arc(Argb c, float x, float y, float w, float h, float start,
                                 float sweep, float pen, LineCap cap) {
  DrawOp o = op(DrawOp::k_arc, c, x, y, w, h, 0, antialias);
  o.start = start;
  o.sweep = sweep;
  o.pen = pen;
  o.cap = cap;
  ops.push_back(std::move(o));
}
void RecordingCanvas::clear(Argb c) {
  ops.push_back(op(DrawOp::k_clear, c, 0, 0, 0, 0, 0, antialias));
}
void RecordingCanvas::erase_line(float x1, float y1, float x2, float y2, float pen) {
  ops.push_back(op(DrawOp::k_erase_line, 0, x1, y1, x2 - x1, y2 - y1, 0, antialias));
  ops.back().pen = pen;
}
void RecordingCanvas::erase_rect(float x, float y, float w, float h) {
  ops.push_back(op(DrawOp::k_erase_rect, 0, x, y, w, h, 0, antialias));
}
void RecordingCanvas::draw_layer(int px, float x, float y, float size,
                                 const std::function<void(Canvas&)>& paint) {
  RecordingCanvas inner;
  paint(inner);
  layers.push_back(std::move(inner.ops));
  DrawOp o = op(DrawOp::k_layer, 0, x, y, size, size, static_cast<float>(px), antialias);
  o.layer = static_cast<int>(layers.size()) - 1;
  ops.push_back(std::move(o));
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

void RecordingCanvas::draw_line_text(const std::u16string& text, const FontSpec& f, Argb c, float x,
                                     float y, float w, float h, TextAlign) {
  std::u16string shown = text;
  const float cw = char_width(f);
  if (w > 0 && static_cast<float>(text.size()) * cw > w) {
    size_t keep = static_cast<size_t>(std::max(0.0f, std::floor(w / cw) - 1));
    shown = text.substr(0, keep) + u"\u2026";
  }
  ops.push_back(op(DrawOp::k_text, c, x, y, w, h, 0, antialias));
  ops.back().text = shown;
  ops.back().font = f;
}

void RecordingCanvas::draw_wrapped(const std::u16string& text, const FontSpec& f, Argb c, float x,
                                   float y, float w, float h) {
  ops.push_back(op(DrawOp::k_wrapped, c, x, y, w, h, 0, antialias));
  ops.back().text = text;
  ops.back().font = f;
}

std::vector<std::u16string> RecordingCanvas::texts() const {
  std::vector<std::u16string> out;
  for (auto& o : ops)
    if (o.kind == DrawOp::k_text || o.kind == DrawOp::k_wrapped) out.push_back(o.text);
  return out;
}

}  // namespace ks::tray
