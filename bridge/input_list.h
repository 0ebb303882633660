// The list of one bank's inputs that the dashboard's reroute page offers (status block InputList).
#pragma once

#include <cstdint>

#include "shared/status_block.h"

namespace ks {

// Lists every input of group: from the channel model for inputs that feed a watched LV1 channel,
// else from the desk (name, 48 V, whether it has a head amp). Stops after 4 unanswered inputs in
// a row, at 64 entries, at the end of the bank, or as soon as the tray posts a newer command.
ControlResult scan_group(const char* group, char* reply, std::int32_t reply_len);

// Refreshes gain and 48 V of one listed input from the desk.
ControlResult reread_listed_input(const char* group, std::int32_t input, char* reply,
                                  std::int32_t reply_len);

}  // namespace ks
