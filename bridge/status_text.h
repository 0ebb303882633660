// The one-line status the dashboard shows under a console card.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ks {

constexpr std::size_t kStatusTextSize = 96;

// Discovery's verdict on what it found (published in the status block).
enum DiscoveryDecisionCode : std::uint32_t {
  kDecisionSeveral = 4,      // several consoles, or only one without a card: the user chooses
  kDecisionChosenAbsent = 5  // the console chosen in Setup is not on the network
};

struct StatusTextInputs {
  bool desk_chosen = false;
  std::uint32_t decision = 0;
  std::uint32_t answer_count = 0;
  std::uint32_t address_state = 0;  // 1: looking everywhere for the desk again
  const char* desk_display = "";    // the desk's name, else its id
  bool patch_read = false;
  std::uint32_t control_refusals = 0;
  bool tcp_lock = false;
};

// Writes the text that applies first into out (always NUL-terminated, cut to `size`).
void choose_status_text(const StatusTextInputs& in, char* out, std::size_t size);

}  // namespace ks
