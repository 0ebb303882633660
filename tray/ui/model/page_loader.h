// The one entry the painters use: gather the state, build the page text and read it back.
#pragma once

#include <string_view>

#include "tray/services/json.h"
#include "tray/ui/model/dashboard_state.h"

namespace ks::tray {

// The page text read back: true only when it is one JSON value with nothing but blanks after it.
bool parse_page_model(std::string_view text, JsonValue& out);

// Gathers from src, builds the page model with an empty action message, busy false and the
// tray program's version text, and parses it into out. false leaves the painters without a model
// for this frame.
bool load_page_model(DashboardSources& src, LinkAgeMemory& ages, std::string_view version,
                     JsonValue& out);

}  // namespace ks::tray
