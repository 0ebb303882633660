// The modal cards over the dashboard: the confirm dialog (switch-off, remove, update) and the
// console address dialog. Both read their texts from the page model and append their buttons'
// regions; the caller clears the regions before a modal is painted.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tray/services/json.h"
#include "tray/ui/model/ui_state.h"
#include "tray/ui/canvas.h"
#include "tray/ui/kit.h"

namespace ks::tray {

struct ConsoleChoice {
  std::u16string name;
  std::u16string card;
  bool beta = false;
};

// One entry per item of the object's "list" array; nothing when the object or array is missing.
void read_console_choices(std::vector<ConsoleChoice>& out, const JsonValue* object);

struct ConfirmInputs {
  int32_t modal = 0;
  int32_t pending_console = -1;  // the console a switch-off confirmation is for
  bool lv1_running = false;
};

// What the confirm card took, for the window and the tests.
struct ConfirmLayout {
  float x = 0, y = 0, w = 0, h = 0;
  bool drawn = false;
};

// The address dialog's native edit box: where it belongs (design units, at the window's DPI
// scale) and whether it must be moved there. The scale is part of the place, so a DPI change
// moves the box even though its design rectangle stays the same.
struct AddressEditPlace {
  float x = 0, y = 0, w = 0, h = 0;
  float scale = 1;
  bool valid = false;
  bool operator==(const AddressEditPlace&) const = default;
};

// The window forgets the place it last posted whenever it makes a new edit box (each time the
// dialog opens), so a reopened dialog places its box even at the same window size.
inline void forget_address_edit_place(AddressEditPlace& last) { last = AddressEditPlace{}; }

struct AddressInputs {
  int32_t console = 0;       // whose card's "addr" object is shown
  std::u16string message;    // the dashboard input's last message, shown under the box
  bool edit_exists = false;  // the native edit box is up (a render has none)
  AddressEditPlace* last_posted = nullptr;  // the place last sent to the window (may be null)
  float dpi_scale = 1;                      // the window's DPI / 96
};

struct AddressLayout {
  ConfirmLayout card;
  AddressEditPlace edit;
  bool place_changed = false;  // the window must move the edit box (one post per change)
};

ConfirmLayout paint_confirm_dialog(Canvas& g, PaintContext& pc, const JsonValue& model,
                                   const ConfirmInputs& in, float W, float H,
                                   const AddressInputs* addr = nullptr);
AddressLayout paint_address_dialog(Canvas& g, PaintContext& pc, const JsonValue& model,
                                   const AddressInputs& in, float W, float H);

}  // namespace ks::tray
