// The dashboard's setup page, painted from the page model.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "tray/services/json.h"
#include "tray/ui/canvas.h"
#include "tray/ui/kit.h"

namespace ks::tray {

inline constexpr int kMaxAnswers = 8;

struct SetupPageInputs {
  std::u16string action_message;
  std::array<bool, 2> panel_open{false, false};
};

struct SetupPageResult {
  float content_height = 0;
  // Per console, the identity of each shown answer ("" when it has no string id).
  std::array<std::array<std::string, kMaxAnswers>, 2> candidate_ids{};
};

SetupPageResult paint_setup_page(Canvas& g, PaintContext& pc, const JsonValue& model,
                                 const SetupPageInputs& in, float W);

}  // namespace ks::tray
