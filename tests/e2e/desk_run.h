// One whole run of the product against a simulated desk, for the end-to-end test and the demo:
// the LV1 stand-in loads the real Kestrune.dll from a bundle folder; the loader finds the signed
// console module in its modules folder, starts it, and the module talks to the simulator on
// loopback. The run moves values from both ends and records what each side saw.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ks::e2e {

// What a check from outside the run (the tray program's side, in this process) may ask of it.
struct DeskProbe {
  std::string identity_line;                    // the line the simulated desk answers with
  std::function<double(int)> desk_gain_db;      // the head-amp gain of input n of the watched bank
  std::function<void(const std::string&)> say;  // a line for the transcript
  std::string log_folder;                       // LV1's temporary folder, where the loader logs
  // WING run only: a node of the desk as text (numbers as "%g", "" when absent), and the engineer
  // switching 48 V on input n of the watched bank at the desk.
  std::function<std::string(const std::string&)> desk_node;
  std::function<void(int, bool)> desk_phantom;
};

struct DeskRunOptions {
  bool resync_desk = false;  // `resync` = desk: when the desk returns, LV1 takes its values
  bool verbose = false;      // the transcript also carries the module's log
  // The bundle's module is cut short and signed again: it verifies, then fails to load.
  bool damaged_module = false;
  // Another side's turn (WING run). With a sound module it comes once the values moved both ways
  // and the status block shows them; with a damaged one as soon as LV1 runs. The run ends after it.
  std::function<void(const DeskProbe&)> outside_check;
  // Puts the bundle in place instead of the run copying it: given LV1's I/O-module folder (with
  // Waves' card bundles, no Kestrune.bundle) and the console's settings text, it installs and
  // says what it did (false: it could not, with why). The run then loads the loader it left there.
  std::function<bool(const std::string& io_modules, const std::string& settings, std::string& said)>
      install_bundle;
  // LV1's I/O-module folder, when not one of the run's own (e.g. the fixed one of an LV1 machine).
  std::string io_modules_root;
};

// What was seen, step by step. Each flag is set only when the thing was observed.
struct DeskRunResult {
  bool module_loaded = false;      // the loader logged the signed module as loaded
  bool desk_subscribed = false;    // the module subscribed at the simulator (X32 /xremote; WING
                                   // native control and the meter subscription)
  bool seeded_from_desk = false;   // LV1's callback got the desk's ch 1 value when the link came up
  bool gain_reached_desk = false;  // LV1 ch 2 +20 dB -> the desk's head amp
  bool clamped_at_desk = false;    // LV1 ch 3 +80 dB -> the top of the head amp's range
  bool phantom_reached_desk = false;
  bool protected_refused = false;  // LV1's 48 V on a protected input did not reach the desk
  bool desk_gain_reached_lv1 = false;
  bool desk_phantom_reached_lv1 = false;
  bool resynced = false;  // after the desk dropped and returned, the side `resync` names won
  bool reread_after_scene_load =
      false;                     // X32: a burst at the desk led to the patch being read again
  bool xremote_renewed = false;  // X32: the desk saw a second "/xremote" before the first expired
  bool meters_in_status =
      false;  // WING: the desk's input levels in the status block, frames growing
  bool meters_resubscribed = false;  // WING: a stalled meter stream was subscribed again and flows
  bool session_saved = false;        // WING: LV1's saved chunk = Waves' text + the desk's values
  bool session_recalled = false;  // WING: a session's values reached the desk (the protected 48 V
                                  // not), Waves got its own text
  bool status_shows_desk =
      false;                  // the status block names the desk, answering, with the moved gains
  bool lv1_finished = false;  // the whole LV1 script ran and the stand-in exited normally
  std::vector<std::string> transcript;

  // The steps the run must see; the run sets them, for its desk's own facts.
  using Step = bool DeskRunResult::*;
  std::vector<Step> required;

  // Every required step seen (false when the run set none).
  bool all_seen() const;
  // The names of the required steps not seen, in order.
  std::vector<std::string> missing() const;
};

// The field's name, for messages.
const char* step_name(DeskRunResult::Step step);

// The X32/M32 run: the simulator at 127.0.0.1:10023, Brannock as the module.
DeskRunResult run_x32(const DeskRunOptions& options);

// The WING run: the simulator and its discovery answers at 127.0.0.1 (TCP and UDP 2222, UDP
// 2223), Fellbrook as the module.
DeskRunResult run_wing(const DeskRunOptions& options);

}  // namespace ks::e2e
