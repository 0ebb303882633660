#include "tray/ui/dashboard_preview.h"

#include <cstring>

#include "tray/services/text_utils.h"
#include "tray/ui/lookups.h"
#include "tray/ui/model/preview_demo.h"

namespace ks::tray {

namespace {

const char* const kPages[] = {"channels",     "detail",     "detailR",     "detailmid", "detailbus",
                              "detailshared", "detailprot", "detailalarm", "link",      "linkdiff",
                              "linkprot",     "unlink",     "ms",          "remove",    "reroute",
                              "reroutepick",  "empty"};

// The preview never posts: its link holds the demo block and refuses every command.
class PreviewLink : public BridgeLink {
public:
  explicit PreviewLink(const StatusBlock* b) : b_(b) {}
  const StatusBlock* block() override { return b_; }
  uint32_t post(const CommandRequest&, std::string* refusal) override {
    if (refusal) *refusal = kRefusedNotRunning;
    return 0;
  }
  bool result(uint32_t, uint32_t*, std::string*) override { return false; }

private:
  const StatusBlock* b_;
};

void pair(StatusBlock& b, int lead, uint8_t lower) {
  b.link_mode[lead] = lower;
  b.link_mode[lead + 1] = uint8_t(lower + 1);
}

}  // namespace

bool is_dashboard_page(std::string_view name) {
  for (const char* p : kPages)
    if (name == p) return true;
  return false;
}

bool prepare_dashboard_preview(std::string_view name, DashboardPreview& p) {
  if (!is_dashboard_page(name)) return false;
  p.ui = DashboardUiState{};
  p.bs = BridgeState{};
  p.view = BridgeView{};
  p.view.lv1_running = name != "empty";
  p.view.lv1_uptime_ms = 600000;
  p.view.lv1_version = from_utf8(kDemoLv1Version);
  if (name == "empty") {
    p.view.lv1_running = false;
    p.block.reset();
    return true;
  }
  p.block = std::make_unique<StatusBlock>();
  StatusBlock& b = *p.block;
  make_demo_status_block(b);
  // Input pairs as the desk pairs them (odd input leading): LCL 15 + 16 stereo, A 11 + 12 mid/side.
  std::memset(b.link_mode, 0, sizeof b.link_mode);
  pair(b, 14, 1);
  pair(b, 26, 3);
  pair(b, 22, 1);  // A 7 + 8, the ambience pair
  // B 1 feeds two strips.
  std::memcpy(b.src_bank[41], "B", 2);
  b.src_input[41] = 1;
  b.parked_valid[15] = 1, b.parked_gain_db[15] = b.gain_db[15];

  int open = -1;
  if (name == "detail")
    open = 4;
  else if (name == "detailR")
    open = 15;
  else if (name == "detailmid")
    open = 27;
  else if (name == "detailbus") {
    // A return on the strip: patched, without a head amp.
    open = 62;
    std::memcpy(b.src_bank[62], "USB", 4);
    b.src_input[62] = 7;
  } else if (name == "detailshared")
    open = 41;
  else if (name == "detailprot")
    open = 2;
  else if (name == "detailalarm")
    open = 2, b.phantom[2] = 1;
  if (name == "link" || name == "linkdiff" || name == "linkprot" || name == "unlink" ||
      name == "ms") {
    open = 16;
    p.ui.link_popover_open = true;
    p.ui.link_op = name == "unlink" ? 2 : (name == "ms" ? 3 : 1);
    b.phantom[16] = b.phantom[17] = 0;
    if (name == "linkdiff") b.phantom[16] = 1;
    if (name == "linkprot") b.phantom[16] = 1, b.is_protected[17] = 1;
    if (name == "unlink") pair(b, 16, 1);
  }
  p.ui.selected_channel = open;
  if (name == "remove") {
    p.ui.modal = kModalRemove;
    p.view.lv1_running = false;
  }
  if (name == "reroute" || name == "reroutepick") {
    p.ui.modal = kModalReroute;
    p.ui.reroute_channel = 16;
    std::memcpy(p.ui.reroute_group, "A", 2);
    char groups[16][kBankBytes] = {};
    uint32_t counts[16] = {};
    p.ui.reroute_group_count =
        uint32_t(reroute_groups_of({reinterpret_cast<uint8_t*>(&b), sizeof b}, groups, counts, 16));
    std::memcpy(p.ui.reroute_groups, groups, sizeof groups);
    if (name == "reroutepick") p.ui.reroute_input = 9;
  }
  p.view.block = p.block.get();
  track_clips(p.bs.clips, p.view.block);
  scan_signal(p.bs.signal, p.view.block, watched_channels(p.view.block), 0);
  return true;
}

float paint_dashboard_preview(Canvas& g, PaintContext& pc, DashboardPreview& p, float W, float H) {
  PreviewLink link(p.view.block);
  pc.regions.clear();
  const float content = paint_status_page(g, pc, p.view, p.ui, p.bs, W);
  // Meters belong to the page: drawn before anything that lies over it.
  draw_meter_overlay(g, p.bs.meters, p.view.block, p.bs.clips, watched_channels(p.view.block));
  if (p.ui.details_open)
    paint_details_panel(g, p.view, p.bs);
  else if (p.ui.selected_channel >= 0)
    paint_channel_detail(g, pc, p.view, p.ui, p.bs, link, W, H);
  if (p.ui.modal == kModalReroute) {
    pc.regions.clear();
    paint_reroute_page(g, pc, p.view, p.ui, p.bs, link, W, H);
  } else if (p.ui.modal >= 1 && p.ui.modal <= 9) {
    pc.regions.clear();
    paint_remove_page(g, pc, p.view.lv1_running, W, H);
  }
  return content;
}

}  // namespace ks::tray
