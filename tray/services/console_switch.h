// Switching a console type's module on or off: state.cfg (one line per type, "wing=on",
// "x32=off"), and the event that tells a running loader to read it again.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ks::tray {

// state.cfg's rule for one console: lines of at most 127 bytes (a longer line reads as several),
// the key before the first "=" compared without case, on unless the value begins with "off" in
// any case, the last matching line wins, on when no line matches.
bool state_says_on(std::string_view state_text, int console);

// What the installer writes: "wing=on\r\nx32=on\r\n", a type off when asked.
std::string installed_state_cfg(bool wing_on, bool x32_on);

// What the install folder must hold for a console to be driven by it.
struct InstallProbe {
  std::function<bool(const std::string& loader_path)> is_own_module;  // Kestrune.dll is ours
  std::function<std::string(int console)> card_module_path;           // Waves' card module file
};

// False when the install folder is empty, its Kestrune.dll is not ours or the console's card
// module is missing. Otherwise true, with `on` from state.cfg (a missing or unreadable file: on).
bool console_module_state(const std::string& install_dir, int console, const InstallProbe& probe,
                          bool& on);

// Writes "<type>=on" or "<type>=off" into state.cfg and signals the loader. On failure `message`
// is "Could not write <state.cfg path>." and the result false.
bool set_module_enabled(const std::string& install_dir, int console, bool on, std::string& message);

// Sets the named event when it exists; never creates it. True when it was set.
bool set_event_if_exists(const std::string& name);
// Sets Local\KestruneModulesChanged, which the loader creates; nothing happens without it.
void signal_modules_changed();

// "--on=<type>" or "--off=<type>" somewhere in a command line. `on` holds when "--on=" occurs;
// the type is the text right after "--on=" (else after "--off="), matched without case against
// the first characters of each type key ("wing", then "x32"), over the key's length.
struct OnOffRequest {
  bool on = false;
  int console = -1;  // -1: no type key matched
};
// False when neither option occurs.
bool find_on_off_request(std::string_view command_line, OnOffRequest& out);

}  // namespace ks::tray
