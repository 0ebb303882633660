// The settings files beside the installed loader: single-key edits of wing.cfg, x32.cfg and
// state.cfg, the settings template the installer starts a console's file from, and the `diag`
// switch of the tray's own toggles.
//
// Files are read whole and rewritten whole. A rewrite goes to a file beside the target that is
// then moved over it, so a failed write or move leaves the old file as it was. Line ends: a CR LF
// pair reads as LF (a file we rewrite has LF line ends); a 0x1A byte is data like any other.
// Keys compare without regard to ASCII case, as the console module reads them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ks::tray {

inline constexpr size_t kCfgFileCap = 1 << 20;  // bytes of a settings file we read or edit
inline constexpr size_t kCfgLineMax = 255;      // bytes of a line the readers look at
inline constexpr size_t kCfgValueMax = 127;     // bytes of a value cfg_get gives

// <install folder>/<type key>.cfg, or "" for an empty folder or a console index out of range.
std::string console_cfg_path(const std::string& install_dir, int console);
// <install folder>/state.cfg, or "" for an empty folder.
std::string state_cfg_path(const std::string& install_dir);

enum class CfgEdit {
  unchanged,  // every key line already is key=value: nothing to write
  edited,     // text now holds the new file
  bad_key,    // empty, or holds "=", ";", a blank, a control byte
  bad_value,  // holds CR, LF, ";" or a NUL, or key=value is longer than kCfgLineMax
  not_text,   // the file holds NUL bytes (UTF-16, binary): not ours to edit
};
// The edit cfg_set makes, on the file's bytes. Every key line is replaced in its place by
// key=value and LF; every other line is kept byte for byte, except that CR LF becomes LF. With
// no key line, the line is appended on a line of its own.
CfgEdit cfg_edit(std::string& text, std::string_view key, std::string_view value);

// True when the file now holds key=value as the last (and every) line of that key. A missing
// file is created with the one line; a file that exists but cannot be read, is over
// kCfgFileCap, or is not text is left untouched and gives false, as does a failed write.
bool cfg_set(const std::string& path, std::string_view key, std::string_view value);

// The value of the last line of `key` (UTF-8, at most kCfgValueMax bytes, invalid bytes as
// U+FFFD): the text after "=" up to LF, CR, ";" or a NUL, nothing trimmed. Empty when absent or
// when the file cannot be read.
std::string cfg_get(const std::string& path, std::string_view key);
std::string cfg_value(std::string_view text, std::string_view key);

// The 23 lines a console's settings file starts from, as they lie on disk (CR LF line ends,
// the last line included).
extern const std::string_view kSettingsTemplate;
// Writes the template to `path` (beside and moved into place); true when every byte was written.
bool write_settings_template(const std::string& path);

// True when the settings file's last `diag` line holds a non-zero decimal number.
bool diag_enabled(const std::string& cfg_path);
// Sets diag=1 or diag=0 in each console's settings file that exists (none is created); true
// when at least one was written.
bool set_diag(const std::string& install_dir, bool on);

}  // namespace ks::tray
