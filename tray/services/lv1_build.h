// Whether eMotion LV1 runs, since when, where it is installed, and whether its build is one we
// checked against: two byte patterns in its Modules\MixerCoreSG.dll at addresses known per build
// (build profiles). The check is informational; nothing is refused because of it.
//
// The process list, process times, version resources and files come through Lv1System, so the
// rules run natively on fixtures; system_lv1() is the real one (the Windows edge).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "os/file.h"

namespace ks::tray {

inline constexpr char kLv1ExeName[] = "eMotion LV1.exe";
inline constexpr const char* kLv1Locations[] = {
    "C:\\Program Files (x86)\\Waves\\eMotion LV1\\eMotion LV1.exe",
    "C:\\Program Files\\Waves\\eMotion LV1\\eMotion LV1.exe",
};
inline constexpr char kProfilesFileName[] = "kestrune_profiles.cfg";
inline constexpr size_t kProfilesFileMax = 65536;
inline constexpr uint64_t kMixerImageMax = 0x7FFFFFF;  // bytes; a larger file is not read

struct ProcessEntry {
  std::string exe;  // executable name without folder, UTF-8
  uint32_t pid = 0;
};

// What the system can tell of one listed process without taking the list again.
enum class ProcessWatch { unknown, runs, ended };

class Lv1System {
public:
  virtual ~Lv1System() = default;
  // The running processes in the system's order; false when the list cannot be taken.
  virtual bool processes(std::vector<ProcessEntry>& out) = 0;
  // A process's creation time in FILETIME units; false when it cannot be read.
  virtual bool process_creation_time(uint32_t pid, uint64_t& filetime) = 0;
  virtual uint64_t now_filetime() = 0;
  // "%u.%u.%u.%u" from the file's fixed version information, "" on any failure.
  virtual std::string file_version(const std::string& path) = 0;
  virtual bool file_exists(const std::string& path) { return ks::file_exists(path); }
  // Last write time (FILETIME units) and size; false when the file cannot be looked at.
  virtual bool file_stat(const std::string& path, uint64_t& write_time, uint64_t& size);
  virtual ReadStatus read_file(const std::string& path, size_t cap, std::string& out) {
    return ks::read_file(path, cap, out);
  }
  // Whether the listed process still runs, told by a handle the system keeps to it (one process
  // at a time); unknown when it cannot tell.
  virtual ProcessWatch watch_process(const ProcessEntry& p) {
    (void)p;
    return ProcessWatch::unknown;
  }
};

// The process list for questions asked every second and more often: taken again once it is
// `max_age_ms` old, except that a list holding LV1 stays the answer while that LV1 process runs.
// A running LV1 thus costs no new list (taking one is the dearest part of the tray's second);
// an LV1 that ended is noticed as soon as the list is that old.
class PacedProcessList {
public:
  explicit PacedProcessList(uint64_t max_age_ms = 500) : max_age_ms_(max_age_ms) {}
  // The list as `sys` gives it; false (and an empty list) when it cannot be taken.
  bool get(Lv1System& sys, uint64_t now_ms, std::vector<ProcessEntry>& out);

private:
  uint64_t max_age_ms_;
  std::vector<ProcessEntry> list_;
  bool have_ = false;
  uint64_t at_ = 0;
  int lv1_ = -1;  // index of the first LV1 entry in list_
};

// The real process list, times and version resources (Windows); natively the list cannot be
// taken and nothing has a version.
Lv1System& system_lv1();

// True when a process named "eMotion LV1.exe" (any case) runs, and when the list cannot be
// taken: a failed look never lets an install run under LV1.
bool lv1_running(Lv1System& sys);
// Milliseconds since the first such process started, at most INT32_MAX; -1 when unknown.
int32_t lv1_uptime_ms(Lv1System& sys);
// Creation time (FILETIME units) of the first LV1 process in the list; false when unknown.
bool lv1_creation_time(Lv1System& sys, uint64_t& filetime);
// The first of the two install locations that exists, "" when neither does.
std::string lv1_exe_path(Lv1System& sys);

// ---- the build check --------------------------------------------------------------------------

struct BuildProfile {
  std::string name;  // at most 23 characters
  uint32_t prologue_rva = 0;
  uint32_t load_rva = 0;
  uint32_t displacement = 0;
};

struct BuiltinProfile {
  const char* name;
  uint32_t prologue_rva, load_rva, displacement;
};
inline constexpr BuiltinProfile kBuiltinProfiles[] = {
    {"v16.5", 0x898490, 0x89895B, 0xF0},
    {"v16.5.289", 0x8984A0, 0x89896B, 0xF0},
    {"v17.3", 0x8EE560, 0x8EEAAB, 0x118},
};

// File offset of an RVA in a PE image, 0 when the image is no PE, no section holds the RVA, or
// 8 bytes from the offset would pass the end.
uint64_t pe_rva_to_offset(std::string_view image, uint32_t rva);
// 48 89 5C 24 at the prologue; 48 8B 8F and the displacement (u32 LE) at the load.
bool matches_build_profile(std::string_view image, uint32_t prologue_rva, uint32_t load_rva,
                           uint32_t displacement);

// One line of the profiles file: a name of at most 23 characters and at least four hexadecimal
// numbers (an optional 0x each; the last two are read and not used). False, with the reason when
// asked, for a line that is not one.
bool parse_profile_line(std::string_view line, BuildProfile& out, std::string* why = nullptr);
// The profile lines of a signed body, in order. Comment, blank and unusable lines are skipped;
// each unusable one is said through `problem` ("line N: why").
std::vector<BuildProfile> parse_profiles(
    std::string_view body, const std::function<void(const std::string&)>& problem = {});

struct Lv1BuildInfo {
  bool valid = false;
  bool matched = false;
  std::string lv1_version;
  std::string mixer_path;
  std::string mixer_version;
  uint64_t mixer_size = 0;
  std::string profile_name;
  bool from_file = false;
};

// Checks a file's signature trailer: true with the length of the signed part when it verifies.
using TrailerCheck = std::function<bool(std::string_view file, size_t& signed_length)>;

struct Lv1BuildEnv {
  Lv1System* sys = nullptr;                  // null: system_lv1()
  std::function<std::string()> install_dir;  // the folder of kestrune_profiles.cfg; "" none
  TrailerCheck verify;                       // null: verify_sig_trailer, the profiles key
  std::function<void(const std::string&)>
      log;  // why a profiles file or line was not used; null: the tray log
};

// The cached build record, computed again when forced or when the stamp changes.
class Lv1BuildCache {
public:
  explicit Lv1BuildCache(Lv1BuildEnv env);
  const Lv1BuildInfo& get(bool force = false);
  // A mix of the last-write times and sizes of MixerCoreSG.dll and the profiles file.
  uint64_t stamp();

private:
  Lv1System& sys();
  std::string mixer_path_of(const std::string& exe) const;
  std::string profiles_path();
  void compute(uint64_t stamp);

  Lv1BuildEnv env_;
  Lv1BuildInfo info_;
  uint64_t stamp_ = 0;
};

}  // namespace ks::tray
