// Runs the LV1 stand-in against the real Kestrune.dll and Waves' stand-in, one process per
// scenario, in a folder laid out as LV1's SoundGrid I/O-module folder (a path with spaces):
//   <case>\SoundGrid IO Modules\Kestrune.bundle\Contents\Win64\Kestrune.dll
//   <case>\SoundGrid IO Modules\<Waves module>.bundle\Contents\Win64\<Waves module>.dll
//   <case>\tmp\   the process's TEMP, where the loader writes its logs
// A crash of the stand-in is a failed scenario with its exit code, never a dead test run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks::sim {

struct JournalLine {
  double ms;
  uint32_t thread;
  std::string text;
};

struct Journal {
  std::vector<JournalLine> lines;

  bool has(const std::string& needle) const { return first(needle) != nullptr; }
  int count(const std::string& needle) const;
  const JournalLine* first(const std::string& needle) const;
  std::vector<const JournalLine*> all(const std::string& needle) const;
};

struct RunResult {
  uint32_t exit_code = 0;
  bool timed_out = false;
  Journal journal;
  // The whole script ran and the process ended normally.
  bool finished() const;
};

constexpr const char* kWavesModules[] = {"SoundGrid Wing Control", "SoundGrid X-WSG Control",
                                         "SoundGrid DN32-WSG Control"};

class Scenario {
public:
  // A fresh case folder under TEMP with the loader and the Waves stand-in installed under each
  // of the given module names.
  // `module_root` (when given) is the I/O-module folder to use in place of one in the case folder,
  // e.g. the fixed one of an LV1 machine.
  explicit Scenario(const std::string& name,
                    const std::vector<std::string>& waves = {kWavesModules[0], kWavesModules[1],
                                                             kWavesModules[2]},
                    const std::string& module_root = "");

  const std::string& module_root() const { return root_; }
  const std::string& case_folder() const { return case_; }
  std::string bundle() const { return root_ + "\\Kestrune.bundle"; }
  std::string loader_folder() const { return bundle() + "\\Contents\\Win64"; }

  // Runs the script after "env TEMP/TMP" and "load <Kestrune.dll>" lines. In the script,
  // $BUNDLE stands for the loader's bundle folder and $ROOT for the module root.
  RunResult run(const std::string& script, uint32_t timeout_ms = 60000);

  // The whole text of a loader log: 0 loader, 1 WING, 2 X32/M32 ("" when there is none).
  std::string log(int channel) const;
  const std::string& temp() const { return temp_; }

private:
  std::string case_;
  std::string root_;
  std::string temp_;
};

// Reads a whole file ("" when missing).
std::string read_text(const std::string& path);

// Count of non-overlapping occurrences.
int occurrences(const std::string& text, const std::string& needle);

}  // namespace ks::sim
