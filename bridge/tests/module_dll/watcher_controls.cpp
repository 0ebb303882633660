// Controls of the test console module for the status block tests: take the fake desk as the
// desk (as discovery would) and count what the fake desk was asked to send.
#include <cstdint>
#include <cstring>
#include <string>

#include "bridge/desk.h"
#include "bridge/lifecycle.h"
#include "bridge/tests/support/fake_desk.h"

// A desk of eight inputs (LCL 1..8, gains 0, 2.5, ... dB) patched to card channels 1..8, taken
// as the module's desk; the watcher starts on it.
extern "C" __declspec(dllexport) void ks_test_take_desk() {
  ks::FakeDesk& d = ks::fake_desk();
  for (uint32_t n = 1; n <= 8; ++n) {
    ks::FakeInput in;
    in.gain = 2.5 * (n - 1);
    in.name = "in " + std::to_string(n);
    d.set_input("LCL", n, in);
    d.route("MOD", n, "LCL", n);
  }
  ks::DeskAnswer a{};
  std::strcpy(a.ip, "127.0.0.1");
  std::strcpy(a.name, "Fake");
  std::strcpy(a.model, "ngc-full");
  std::strcpy(a.id, "S0000");
  ks::use_desk(a);
  ks::set_desk_chosen(true);
  ks::start_lv1_watcher();
}

// Calls of the fake desk whose text begins with prefix.
extern "C" __declspec(dllexport) int32_t ks_test_calls_of(const char* prefix) {
  return static_cast<int32_t>(ks::fake_desk().calls_of(prefix ? prefix : "").size());
}
