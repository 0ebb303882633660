// The bridge pages' clicks (status page, channel page and its link popover, reroute page,
// details panel) over DashboardUiState, and the outcomes of the commands they post. Portable:
// the ring is reached through BridgeLink.
#pragma once
#include <cstdint>
#include <string>

#include "tray/ui/bridge_link.h"
#include "tray/ui/bridge_state.h"
#include "tray/ui/model/ui_state.h"

namespace ks::tray {

inline constexpr char kDeskRefusedText[] = "The desk refused that.";
inline constexpr char kLinkDownText[] = "The desk link is down \xE2\x80\x94 nothing was sent.";
inline constexpr char kRefusedPrefix[] = "Refused \xE2\x80\x94 ";
inline constexpr char kTooOldToReroute[] =
    "The installed module is too old to reroute \xE2\x80\x94 close eMotion LV1, then Reinstall in Setup.";
inline constexpr char kPickFirstText[] = "Pick an input above first.";
inline constexpr char kRepatchingText[] = "Repatching\xE2\x80\xA6";
inline constexpr char kUnroutingText[] = "Unrouting\xE2\x80\xA6";

// The one-line outcome of a served command: "" for done, else the text shown.
std::string outcome_text(uint32_t result, const std::string& reply);

// The click of the dashboard window procedure for the bridge pages' ids. `id` 0 is a click on
// no region; `inside_reroute_panel` says whether the click fell inside the reroute page's panel.
// True when the click was the bridge pages' to handle (the caller then does nothing further);
// false passes it on (setup ids and the rest).
bool dispatch_bridge_click(int32_t id, bool inside_reroute_panel, DashboardUiState& ui,
                           BridgeState& bs, BridgeLink& link);

// The channel page's pending action: when served, its outcome becomes the channel message.
void take_action_outcome(DashboardUiState& ui, BridgeLink& link);
// The reroute page's pending scan or repatch: outcome, cache and closing the page.
void take_reroute_outcome(DashboardUiState& ui, BridgeState& bs, BridgeLink& link);

// Lists one group on the reroute page: the page's state, then op 4.
void start_reroute_scan(DashboardUiState& ui, BridgeLink& link, const std::string& group);

// Gain one step down (up false) or up for channel ch, clamped to its range; false when the
// step cannot move (no head amp, at the end of the range).
bool gain_step_target(const StatusBlock* b, int ch, bool up, double* value);

// Whether an unlink of channel ch can go straight through without asking.
bool unlink_goes_straight(const StatusBlock* b, int ch);

// Upper-cased cache key of a group.
std::string cache_key(std::string_view group);

void close_reroute_page(DashboardUiState& ui);

}  // namespace ks::tray
