#include "tray/ui/model/page_loader.h"

#include "tray/ui/model/page_model.h"

namespace ks::tray {

bool parse_page_model(std::string_view text, JsonValue& out) {
  out = JsonValue{};
  if (parsed_then_blank(text, out)) return true;
  out = JsonValue{};
  return false;
}

bool load_page_model(DashboardSources& src, LinkAgeMemory& ages, std::string_view version,
                     JsonValue& out) {
  DashboardState state;
  gather_dashboard_state(src, state, ages);
  PageModelInputs in;
  in.version = std::string(version);
  std::string text;
  build_page_model(state, in, text);
  return parse_page_model(text, out);
}

}  // namespace ks::tray
