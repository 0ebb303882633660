// The plug-in side on this machine, as the tray program finds it: LV1's I/O-module folder with
// Waves' card bundles and the installed Kestrune.bundle (the real loader and the signed WING
// module), LV1's process by its name, the LV1 stand-in running the loader with one card open, and
// the WING simulator answering on 127.0.0.1. For the window test and the demo's screenshot.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace ks::tray::testing {

class PluginSide {
public:
  PluginSide();
  ~PluginSide();  // ends LV1's side and the desk, removes the bundle
  PluginSide(const PluginSide&) = delete;
  PluginSide& operator=(const PluginSide&) = delete;

  // Lays out the folders; false with why.
  bool install(std::string& why);
  // Starts the desk, LV1's process and the LV1 stand-in; false with why.
  bool start(std::string& why);

  std::string win64() const { return win64_; }  // the bundle's Contents\Win64
  std::string module_log() const;               // the WING module's log ("" none yet)
  std::string identity_line() const;
  // The head-amp gain the desk holds for its local input n (from 1); NaN when it has none.
  double desk_gain_db(int n) const;

private:
  struct Desk;
  std::unique_ptr<Desk> desk_;
  std::string io_, win64_, case_, temp_, go_end_;
  PROCESS_INFORMATION lv1_process_{}, lv1sim_{};
};

// A build path as Windows names it under Wine (the host's root is drive Z:).
std::string win_path(const char* unix_path);

}  // namespace ks::tray::testing
