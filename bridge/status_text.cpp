#include "bridge/status_text.h"

#include <cstdio>

namespace ks {

void choose_status_text(const StatusTextInputs& in, char* out, std::size_t size) {
  if (!out || size == 0) return;
  const char* text = "";
  if (!in.desk_chosen) {
    if (in.decision == kDecisionSeveral && in.answer_count == 1)
      text =
          "The only console found has no SoundGrid card - choose it in Setup if it is this LV1's";
    else if (in.decision == kDecisionSeveral)
      text = "Several consoles found - choose this LV1's in Kestrune Setup";
    else if (in.decision == kDecisionChosenAbsent)
      text = "The console chosen in Setup is not on the network";
    else
      text = "Searching for the desk...";
  } else if (in.address_state == 1) {
    std::snprintf(out, size, "Looking for %s again - did its address change?",
                  in.desk_display ? in.desk_display : "");
    return;
  } else if (!in.patch_read && in.control_refusals >= 3) {
    text = "Desk refused the control link - close WING Edit / the WING app, or check the firewall";
  } else if (in.patch_read) {
    text = in.tcp_lock ? "The desk refuses changes from the network (TCP lock in its Setup)" : "";
  } else {
    text = "Reading the desk patch...";
  }
  std::snprintf(out, size, "%s", text);
}

}  // namespace ks
