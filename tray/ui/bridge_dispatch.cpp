#include "tray/ui/bridge_dispatch.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "tray/ui/lookups.h"

namespace ks::tray {

namespace {

constexpr uint32_t kRingVersion = 13;  // blocks below this have no command ring

void set_group(char (&dst)[8], std::string_view g) {
  std::memset(dst, 0, sizeof dst);
  std::memcpy(dst, g.data(), std::min<size_t>(g.size(), 7));
}

void post_pending(DashboardUiState& ui, BridgeLink& link, const CommandRequest& r) {
  std::string refusal;
  ui.action_seq = link.post(r, &refusal);
  ui.action_reply = ui.action_seq ? kWorkingText : refusal;
}

void close_channel_page(DashboardUiState& ui) {
  ui.selected_channel = -1;
  ui.link_popover_open = false;
  ui.action_reply.clear();
}

void choose_mode(DashboardUiState& ui, BridgeLink& link, const StatusBlock* b, int ch,
                 uint32_t want) {
  // want: 0 mono, 1 stereo, 2 mid/side
  if (!b || block_version(b) < 5 || is_unpatched(b, ch)) return;
  const uint8_t lm = b->link_mode[ch];
  const uint32_t now = lm == 0 ? 0 : (lm <= 2 ? 1 : (lm <= 4 ? 2 : 0));
  if (want == now) return;
  ui.link_op = want == 0 ? 2 : (want == 1 ? 1 : 3);
  ui.link_phantom_choice = 0;
  ui.unlink_gain_choice = 3;
  ui.action_reply.clear();
  if (ui.link_op != 2 || !unlink_goes_straight(b, ch)) {
    ui.link_popover_open = true;
    return;
  }
  post_pending(ui, link, {2, ch, 3, b->gain_db[ch], {}, 0});
}

void open_reroute(DashboardUiState& ui, BridgeLink& link, const StatusBlock* b, int ch) {
  if (block_version(b) < 11) {
    ui.action_reply = kTooOldToReroute;
    return;
  }
  ui.reroute_channel = ch;
  ui.reroute_input = 0;
  ui.reroute_reply.clear();
  ui.selected_channel = -1;
  ui.link_popover_open = false;
  ui.modal = kModalReroute;
  char groups[16][kBankBytes] = {};
  uint32_t counts[16] = {};
  const size_t n = reroute_groups_of(
      {reinterpret_cast<uint8_t*>(const_cast<StatusBlock*>(b)), sizeof *b}, groups, counts, 16);
  ui.reroute_group_count = uint32_t(n);
  for (size_t i = 0; i < 16; ++i)
    set_group(ui.reroute_groups[i], i < n ? field_text(groups[i]) : "");
  std::string g = field_text(b->src_bank[ch]);
  if (g.empty() || same_group(g, "OFF")) {
    g = std::min<uint32_t>(b->range_count, kGroupRanges) > 0 ? field_text(b->ranges[0].bank) : "";
    if (g.empty()) g = "LCL";
  }
  start_reroute_scan(ui, link, g);
}

bool reroute_click(int32_t id, bool inside, DashboardUiState& ui, BridgeState& bs,
                   BridgeLink& link) {
  const StatusBlock* b = link.block();
  if (id >= 700 && id <= 763) {
    // The input drawn in that cell, never an index into a list that may have changed since.
    const size_t n = size_t(id - 700);
    if (b && n < bs.cell_inputs.size() && bs.cell_inputs[n] >= 1) {
      const uint32_t input = bs.cell_inputs[n];
      ui.reroute_input = ui.reroute_input == input ? 0 : input;
      ui.reroute_reply.clear();
    }
    return true;
  }
  if (id >= 600 && id <= 615) {
    const uint32_t n = uint32_t(id - 600);
    if (b && n < std::min<uint32_t>(ui.reroute_group_count, 16))
      start_reroute_scan(ui, link, field_text(ui.reroute_groups[n]));
    return true;
  }
  if (id == 37 || id == 38) {
    if (!b) return true;
    if (id == 37 && ui.reroute_input < 1) return true;
    if (ui.reroute_pending == 5) return true;  // one repatch at a time
    ui.reroute_reply = id == 37 ? kRepatchingText : kUnroutingText;
    ui.reroute_pending = 5;
    ui.reroute_listing = false;
    const std::string group = id == 37 ? field_text(ui.reroute_group) : "OFF";
    std::string refusal;
    ui.action_seq = link.post(
        {5, ui.reroute_channel, 0, 0.0, group, id == 37 ? ui.reroute_input : 1}, &refusal);
    if (!ui.action_seq) {
      ui.reroute_reply = refusal;
      ui.reroute_pending = 0;
    } else {
      ui.action_reply.clear();
    }
    return true;
  }
  if (id == 36 || !inside) {
    close_reroute_page(ui);
    return true;
  }
  if (id == 0 && ui.reroute_input == 0) ui.reroute_reply = kPickFirstText;
  return true;
}

}  // namespace

std::string cache_key(std::string_view group) {
  std::string k(group.substr(0, 7));
  for (char& c : k) c = char(std::toupper(static_cast<unsigned char>(c)));
  return k;
}

std::string outcome_text(uint32_t result, const std::string& reply) {
  if (result == uint32_t(ControlResult::Done)) return {};
  if (result == uint32_t(ControlResult::DeskNotAnswering)) return kLinkDownText;
  if (reply.empty()) return kDeskRefusedText;
  return std::string(kRefusedPrefix) + reply;
}

void close_reroute_page(DashboardUiState& ui) {
  ui.modal = kModalNone;
  ui.reroute_channel = -1;
  ui.reroute_input = 0;
  ui.reroute_reply.clear();
  ui.reroute_pending = 0;
  ui.reroute_listing = false;
}

bool gain_step_target(const StatusBlock* b, int ch, bool up, double* value) {
  if (!b || ch < 0 || ch >= watched_channels(b) || !b->has_head_amp[ch]) return false;
  const GainRange r = channel_gain_range(b, ch);
  const double gain = b->gain_db[ch];
  if (!std::isfinite(gain)) return false;
  if (up ? !(gain < r.max - 0.001) : !(gain > r.min + 0.001)) return false;
  *value = std::clamp(up ? gain + r.step : gain - r.step, r.min, r.max);
  return true;
}

bool unlink_goes_straight(const StatusBlock* b, int ch) {
  if (!b || ch < 0 || ch >= int(kChannels)) return false;
  if (!b->has_head_amp[ch]) return true;
  const uint32_t in = b->src_input[ch];
  const int freed = (in % 2) ? find_channel(b, field_text(b->src_bank[ch]), in + 1) : ch;
  if (freed < 0 || freed > 63 || block_version(b) < 10 || !b->parked_valid[freed]) return false;
  const double half = channel_gain_range(b, ch).step / 2;
  return std::fabs(b->parked_gain_db[freed] - b->gain_db[freed]) <= half;
}

void start_reroute_scan(DashboardUiState& ui, BridgeLink& link, const std::string& group) {
  const StatusBlock* b = link.block();
  if (!b) return;
  set_group(ui.reroute_group, group);
  ui.reroute_listing = true;
  ui.reroute_reply.clear();
  ui.reroute_input = 0;
  ui.reroute_pending = 4;
  ui.reroute_list_serial = shm_load(b->input_list_serial);
  ui.action_seq =
      link.post({4, ui.reroute_channel, 0, 0.0, field_text(ui.reroute_group), 0}, nullptr);
  ui.action_reply.clear();
}

void take_action_outcome(DashboardUiState& ui, BridgeLink& link) {
  if (!ui.action_seq) return;
  const StatusBlock* b = link.block();
  if (b && block_version(b) < kRingVersion) {
    // A module of an older layout took over: it will never answer this command.
    ui.action_reply = kRefusedTooOld;
    ui.action_seq = 0;
    return;
  }
  uint32_t result = 0;
  std::string reply;
  if (!link.result(ui.action_seq, &result, &reply)) return;
  ui.action_seq = 0;
  ui.action_reply = outcome_text(result, reply);
  if (result == uint32_t(ControlResult::Done)) ui.link_popover_open = false;
}

void take_reroute_outcome(DashboardUiState& ui, BridgeState& bs, BridgeLink& link) {
  const StatusBlock* b = link.block();
  if (!b || ui.reroute_channel < 0) {
    close_reroute_page(ui);
    return;
  }
  if (!ui.action_seq) return;
  if (block_version(b) < kRingVersion) {
    ui.action_seq = 0;
    ui.reroute_pending = 0;
    ui.reroute_listing = false;
    ui.reroute_reply = kRefusedTooOld;
    return;
  }
  uint32_t result = 0;
  std::string reply;
  if (!link.result(ui.action_seq, &result, &reply)) return;
  const uint32_t pending = ui.reroute_pending;
  ui.reroute_listing = false;
  ui.action_seq = 0;
  ui.reroute_pending = 0;
  ui.reroute_reply = outcome_text(result, reply);
  if (result != uint32_t(ControlResult::Done)) return;
  if (pending == 5) {
    close_reroute_page(ui);
  } else if (pending == 4 &&
             same_group(field_text(b->input_list_group), field_text(ui.reroute_group))) {
    const uint32_t n = std::min<uint32_t>(shm_load(b->input_list_count), kListedInputs);
    bs.input_cache[cache_key(field_text(ui.reroute_group))].assign(b->input_list,
                                                                   b->input_list + n);
    ui.reroute_list_serial = shm_load(b->input_list_serial);
  }
}

bool dispatch_bridge_click(int32_t id, bool inside_reroute_panel, DashboardUiState& ui,
                           BridgeState& bs, BridgeLink& link) {
  if (ui.modal == kModalReroute) return reroute_click(id, inside_reroute_panel, ui, bs, link);
  if (ui.modal != kModalNone) return false;

  const StatusBlock* b = link.block();
  if (id >= 1000 && id < 1000 + int(kChannels)) {
    const int ch = id - 1000;
    if (ui.selected_channel == ch && !ui.link_popover_open) {
      close_channel_page(ui);
    } else {
      ui.selected_channel = ch;
      ui.link_popover_open = false;
      ui.action_reply.clear();
    }
    ui.details_open = false;
    return true;
  }
  if (ui.selected_channel >= 0 && (id < 20 || id > 32)) {
    close_channel_page(ui);
    if (id == 0) return true;
  }
  if (id == 12) {
    ui.details_open = !ui.details_open;
    return true;
  }
  if (ui.details_open) {
    ui.details_open = false;
    if (id == 0) return true;
  }
  if (id == 0) return true;

  const int ch = ui.selected_channel;
  switch (id) {
    case 900:
    case 901:
      if (link.console_alive(id - 900)) {
        ui.active_console = id - 900;
        link.show_console(id - 900);
        close_channel_page(ui);
      }
      return true;
    case 15: ui.view_filter = 0; return true;
    case 16:
    case 17:
    case 18: {
      const uint32_t f = uint32_t(id - 15);
      ui.view_filter = ui.view_filter == f ? 0 : f;
      return true;
    }
    case 19:
      clear_clip_history(bs.clips);
      if (ui.view_filter == 2) ui.view_filter = 0;
      return true;
    case 20: close_channel_page(ui); return true;
    case 21:
    case 22:
    case 23:
      if (ch >= 0) choose_mode(ui, link, b, ch, uint32_t(id - 21));
      return true;
    case 24:
      if (b && ch >= 0) open_reroute(ui, link, b, ch);
      return true;
    case 25:
      ui.link_popover_open = false;
      ui.action_reply.clear();
      return true;
    case 26:
      if (!b || ch < 0 || ch >= watched_channels(b)) return true;
      if (ui.link_op == 2)
        post_pending(ui, link, {2, ch, uint32_t(ui.unlink_gain_choice), b->gain_db[ch], {}, 0});
      else if (ui.link_op == 1 || ui.link_op == 3)
        post_pending(ui, link, {ui.link_op, ch, uint32_t(ui.link_phantom_choice), 0.0, {}, 0});
      return true;
    case 27:
    case 28: ui.link_phantom_choice = id - 26; return true;
    case 29:
    case 30: ui.unlink_gain_choice = id - 26; return true;
    case 31:
    case 32: {
      double v = 0;
      if (gain_step_target(b, ch, id == 32, &v)) post_pending(ui, link, {6, ch, 0, v, {}, 0});
      return true;
    }
    default: return false;
  }
}

}  // namespace ks::tray
