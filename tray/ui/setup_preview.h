// The portable half of "--render" for the setup pages: its arguments, the demo facts of each
// page and state, and one paint of the page with its dialog over it. The Windows half only
// makes the bitmaps and writes the PNG.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tray/services/json.h"
#include "tray/ui/canvas.h"
#include "tray/ui/dialogs.h"
#include "tray/ui/kit.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/preview_demo.h"
#include "tray/ui/model/ui_state.h"
#include "tray/ui/setup_page.h"

namespace ks::tray {

inline constexpr int kSetupMinWidth = 540;
inline constexpr int kSetupDefaultWidth = 628;

// "--render [out] [page] [scale] [width]": each argument is optional from the right.
struct RenderArgs {
  std::u16string out = u"preview.png";
  std::string page = "setup";
  int scale = 1;  // clamped to 1..4
  int width = 0;  // 0: the page's default width
};
// Reads the arguments after the one at `render_at` ("--render").
RenderArgs render_args(const std::vector<std::u16string>& args, size_t render_at);

int render_scale(int scale);
// An absent or non-positive width is the default; any other is raised to the minimum.
int setup_render_width(int width);

struct SetupPreview {
  PreviewDemo demo;
  DashboardUiState ui;
  PageModelInputs inputs;
};

enum class PreviewPage { ok, unknown_page, unknown_state };

// The facts of a setup page ("setup", "setupopen", "setupinstalled", "setupbusy" or any other
// name beginning "setup") or of a setup state ("setup-<state>").
PreviewPage prepare_setup_preview(std::string_view page, SetupPreview& out);

// The page model of the prepared preview; false when it cannot be built.
bool build_preview_model(const SetupPreview& p, JsonValue& model);

struct PreviewPaint {
  float content_height = 0;
  ConfirmLayout dialog;  // the modal card, when one is open
};

// The setup page at width W in a client H high and, when a modal is open, its dialog over it
// (the page's regions give way to the dialog's, as in the live frame).
PreviewPaint paint_setup_preview(Canvas& g, PaintContext& pc, const SetupPreview& p,
                                 const JsonValue& model, float W, float H);

// The image height for what a measuring paint found: the content, and tall enough that an
// open dialog keeps its margins instead of running off the bottom.
int setup_preview_height(const PreviewPaint& measured);

}  // namespace ks::tray
