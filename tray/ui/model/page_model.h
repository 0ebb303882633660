// The page model: one JSON text that says everything the setup page, the dashboard header, the
// tray menu's state line, the console cards and the confirm dialogs show. The painters read its
// keys; they decide nothing about wording.
#pragma once

#include <string>

#include "tray/ui/model/console_card.h"
#include "tray/ui/model/dashboard_state.h"

namespace ks::tray {

// What the caller hands in beside the state.
struct PageModelInputs {
  std::string message;          // the last action's one-line result, UTF-8
  bool message_failed = false;  // that action failed: the message is shown as a failure
  bool busy = false;
  std::string version;  // the tray program's version text
  // Preview only: the modal page to open, its console kind (-1 none), the two setup-page open
  // flags.
  bool preview = false;
  std::string fake_modal;
  int fake_modal_con = -1;
  bool fake_open[2] = {false, false};
};

// Header pill, tone and edge, with the counts they come from.
struct HeaderPill {
  std::string pill;
  uint32_t tone = kToneDim;
  bool edge = false;
};
HeaderPill header_pill(const DashboardState& state, const ConsoleCard (&cards)[2]);

// "17.3.50.135" -> "v17.3"; "" -> "".
std::string short_lv1_version(const std::string& version);

// The page model is its JSON text; the painters read it back as a JsonValue (load_page_model).
using PageModel = std::string;

PageModel build_page_model(const DashboardState& state, const PageModelInputs& inputs);
void build_page_model(const DashboardState& state, const PageModelInputs& inputs, PageModel& out);

}  // namespace ks::tray
