// Every UI-thread variable the dashboard's painters, its window procedure and the status link
// share. One instance lives for the program; nothing here is touched off the UI thread.
#pragma once

#include <cstdint>
#include <string>

namespace ks::tray {

// Modal pages over the dashboard.
enum ModalId : int32_t {
  kModalNone = 0,
  kModalRemove = 1,  // also 3-9: the remove page
  kModalReroute = 2,
  kModalConfirmOff = 10,  // 10 and above: confirm dialogs
  kModalConfirmRemove = 11,
  kModalConfirmUpdate = 12,
  kModalAddress = 13,
};

// The one-line result of the last user action. A failure says so with its flag: the setup page
// styles it from the flag, never from the words.
struct ActionMessage {
  std::string text;  // UTF-8
  bool failed = false;
  void set(std::string t, bool failure) {
    text = std::move(t);
    failed = failure;
  }
  void clear() {
    text.clear();
    failed = false;
  }
};

struct DashboardUiState {
  // Pages and dialogs.
  bool setup_open = false;    // the setup page is shown
  bool details_open = false;  // the details panel is shown
  int32_t modal = kModalNone;
  int32_t pending_console = -1;               // the console a confirm dialog acts on, -1 none
  bool setup_panel_open[2] = {false, false};  // each console card's details unfolded
  int32_t selected_channel = -1;              // channel open on the channel page, -1 none

  // Window and scrolling.
  float design_width = 628.0f;
  float content_height = 0.0f;    // of the last painted content
  float scroll_offset = 0.0f;     // >= 0
  bool regions_scrolled = false;  // the base page's regions are in the list
  bool fit_shrink = false;        // the next frame may shrink the window
  int32_t hover_id = 0;
  uint32_t view_filter = 0;  // 0 all, 1 signal, 2 clipped, 3 48V

  // The channel page's link popover.
  bool link_popover_open = false;
  uint32_t link_op = 0;             // 1 stereo link, 2 unlink, 3 mid/side link
  int32_t link_phantom_choice = 0;  // 0 unset, 1 or 2
  int32_t unlink_gain_choice = 3;   // 3 or 4

  // The reroute page.
  int32_t reroute_channel = -1;
  uint32_t reroute_input = 0;  // picked input, 0 none
  char reroute_group[8] = {};
  bool reroute_listing = false;  // a scan runs
  uint32_t reroute_pending = 0;  // 4 scanning, 5 repatching
  uint32_t reroute_list_serial = 0;
  std::string reroute_reply;  // UTF-8
  float reroute_panel[4] = {0, 0, 0, 0};
  char reroute_groups[16][8] = {};
  uint32_t reroute_group_count = 0;

  // Pending dashboard action and its reply.
  uint32_t action_seq = 0;       // sequence of the last command posted, 0 none
  std::string action_reply;      // UTF-8; the channel page's one-line result
  ActionMessage action_message;  // the setup page's one-line result

  // The console-address dialog: its one-line message (a validation failure, or the preview's
  // hint) and, per console, the typed address waiting to be confirmed by the console answering.
  std::string address_message;  // UTF-8
  std::string remembered_address[2];
  int32_t address_console = -1;  // the console the open address dialog is for, -1 none

  // Per console, the identity of each answer the setup page drew (its painter fills them); a
  // "use this console" click names a slot of these.
  std::string candidate_ids[2][8];

  // The console whose status block the dashboard shows (0 WING, 1 X32/M32).
  int32_t active_console = 0;
};

}  // namespace ks::tray
