// The console module manager's decisions, free of Windows: which console types state.cfg turns
// on, which module file of a type is the newest usable one, what a watcher pass does with the
// running module, and the texts it logs. The Windows side (loader/win/module_manager.cpp) does
// the file system, the loading and the locks around these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ks {

// ---- state.cfg -------------------------------------------------------------------------------

struct TypeSwitches {
  bool enabled = true;     // "<type>=..." unless the value begins with "off"
  bool hands_off = false;  // "<type>.guest=1": the card is shared to this LV1 from another one
};

// Reads state.cfg's text for the two types ("wing", "x32"). Both start enabled and not
// hands-off. The text is taken as fgets with a 128-byte buffer would: pieces of at most 127
// bytes, each ending at a newline; a piece without '=' is skipped; keys compare without case;
// a later line overrides an earlier one.
void parse_state_cfg(std::string_view text, TypeSwitches out[2]);

// The two log lines of a hands-off change of `type_name`.
std::string hands_off_log_line(const char* type_name, bool hands_off);

// ---- module files ----------------------------------------------------------------------------

struct ModuleVersion {
  int32_t major = 0, minor = 0, patch = 0;
};
bool version_newer(const ModuleVersion& a, const ModuleVersion& b);  // a > b
// Characters of a version text: it is kept in 24-byte fields with their NUL.
inline constexpr size_t kVersionTextMax = 23;
// "%d.%d.%d", at most kVersionTextMax characters.
std::string version_text(const ModuleVersion& v);

// "<type>-...<major>.<minor>.<patch>.dll", the version after the name's last '-': the type's
// prefix and the ".dll" end compare without case, each number is 1 to 9 decimal digits and the
// version text of the three fits kVersionTextMax. Anything else (two numbers, letters after the
// patch, a fourth number, a sign, blanks, a number too long to hold, a version too long to
// show whole) is not a module file of the type.
bool parse_module_file_name(std::string_view name, std::string_view type_name, ModuleVersion& out);

// Paths compared as Windows compares them for these purposes: without case (ASCII).
bool same_path(std::string_view a, std::string_view b);

// Module files that failed to load, kept for the life of the process.
class RejectedFiles {
public:
  void add(const std::string& path);
  bool contains(std::string_view path) const;
  size_t size() const { return paths_.size(); }

private:
  std::vector<std::string> paths_;
};

struct FoundModule {
  std::string path;
  std::string version;  // "%d.%d.%d"
};

// The newest module of a type among `names` (the entries of the modules folder, in listing
// order). Only a name strictly newer than the candidate so far is looked at further: it is
// skipped when rejected, otherwise `verify` decides; a file that fails verification is logged
// through `log` ("[loader] <name> is not signed by Kestrune - skipped"). On equal versions the
// first listed wins. False when nothing usable was found.
bool find_newest_module(const std::vector<std::string>& names, const std::string& folder,
                        std::string_view type_name, const RejectedFiles& rejected,
                        const std::function<bool(const std::string& path)>& verify,
                        const std::function<void(const std::string& line)>& log, FoundModule& out);

// ---- one watcher pass for one type ------------------------------------------------------------

enum class ModuleAction { keep, load, replace, switch_off };

// want: the type is enabled, not hands-off, and a module file was found.
ModuleAction decide_module_action(bool want, bool module_runs, std::string_view found_path,
                                  std::string_view running_path);

// "[loader] <path> would not load (error N[ = Smart App Control blocked it], entry P) - keeping X"
std::string load_failure_log_line(const std::string& path, uint32_t error, const void* table,
                                  bool module_runs);

// The file name part of a path (after the last '\' or '/'), cut to fit 64 bytes with its NUL.
std::string failed_file_name(std::string_view path);

// ---- identify requests -----------------------------------------------------------------------

// One type's identify service, driven by the watcher pass with the loader block's two words.
struct IdentifyState {
  uint32_t seen_counter = 0;
  uint64_t deadline_ms = 0;  // 0: no LED lit by us
};

struct IdentifyStep {
  bool call = false;  // call identify_card(type, on)
  bool on = false;
  bool clear_on_word = false;  // the LED time ended: write 0 to "identify on"
};

// What a pass does for one type at `now_ms`, given the block's counter and identify-on words.
IdentifyStep identify_step(IdentifyState& s, uint32_t counter, uint32_t on_word, uint64_t now_ms);
// After identify_card: the LED stays lit for 20000 ms when it was switched on and the call went
// through, otherwise no deadline.
void identify_done(IdentifyState& s, bool on, bool call_ok, uint64_t now_ms);
// The watcher's wait: the time left to the nearest deadline, or `forever` when none is set.
uint32_t identify_wait_ms(const IdentifyState* states, int count, uint64_t now_ms,
                          uint32_t forever);

inline constexpr uint32_t kIdentifyLedMs = 20000;
inline constexpr uint32_t kModulesChangedPauseMs = 300;

}  // namespace ks
