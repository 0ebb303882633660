// The load watch: once a second it notices that LV1 failed to load a console module (from the
// loader block's failure counters) or, 45 s after LV1 started without a loader block, that LV1
// did not load the loader, and tells the user through the notice sink.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "os/clock.h"
#include "shared/loader_block.h"
#include "tray/services/lv1_build.h"

namespace ks::tray {

// What the tray window shows. Replacing the texts never shows a balloon by itself.
class NoticeSink {
public:
  virtual ~NoticeSink() = default;
  virtual void set_notice_and_status(const std::string& text) = 0;
  virtual void set_status(const std::string& text) = 0;
  virtual void clear_notice() = 0;
  virtual void balloon(const std::string& title, const std::string& text) = 0;
};

// The Code Integrity log, or a stand-in: visits the rendered XML of each event the query finds,
// newest first, until the visitor returns true. False when the log cannot be queried.
class EventSource {
public:
  virtual ~EventSource() = default;
  virtual bool query(const std::string& channel, const std::string& xpath,
                     const std::function<bool(const std::string& xml)>& visit) = 0;
};

// The system's event log (Windows); natively one that cannot be queried.
EventSource& system_event_log();

inline constexpr char kCodeIntegrityChannel[] = "Microsoft-Windows-CodeIntegrity/Operational";
// Windows' code for a file refused by an application control policy.
inline constexpr uint32_t kErrorBlockedByPolicy = 4551;
inline constexpr uint32_t kJudgeAfterMs = 45000;

inline constexpr char kTitleUpdateBlocked[] = "Kestrune update blocked";
inline constexpr char kTitleNotRunning[] = "Kestrune is not running in LV1";
inline constexpr char kInstalledWhileRunning[] =
    "Kestrune is installed. It starts with LV1 \xE2\x80\x94 close and reopen LV1 once.";
inline constexpr char kBlockedBySac[] =
    "Windows (Smart App Control) blocked Kestrune from loading into eMotion LV1, so LV1 runs without preamp "
    "control. Close LV1 and Reinstall in Setup for a fresh copy, or turn Smart App Control off in Windows Security.";
inline constexpr char kMayBeBlocked[] =
    "Kestrune did not load into eMotion LV1, so LV1 runs without preamp control. Windows may have blocked it - "
    "Collect diagnostics will show why.";

// The XPath of Code Integrity events 3077 and 3033 within the last `minutes`.
std::string sac_query(int minutes);
// An event that names both the system and LV1.
bool sac_event_names_us(std::string_view xml);
bool sac_blocked_recently(EventSource& log, int minutes);

// The notice for a type record whose failure counter rose.
std::string load_failure_notice(const LoaderTypeRecord& rec);

struct LoadWatchEnv {
  Lv1System* sys = nullptr;  // null: system_lv1()
  Clock* clock = nullptr;    // null: the system clock
  std::function<bool(uint8_t (&)[kLoaderBlockSize])>
      read_loader_block;                                       // null: Local\\KestruneLoader
  std::function<std::string()> install_dir;                    // "" while not installed
  std::function<bool(const std::string& path)> is_own_module;  // null: an existing file counts
  std::function<bool(int minutes)> sac_blocked_recently;       // null: the system's event log
  NoticeSink* sink = nullptr;
  std::function<void(const std::string&)> log;  // null: the tray log
};

class LoadWatch {
public:
  explicit LoadWatch(LoadWatchEnv env);
  void tick();
  // The loader did not load into LV1 (the tray state shows attention).
  bool blocked() const { return blocked_; }

private:
  Lv1System& sys();
  void notify(const char* title, const std::string& text);
  bool installed_after_lv1_started(const std::string& dir);

  LoadWatchEnv env_;
  Tick lv1_seen_at_ = 0;
  uint32_t seen_failures_[kConsoleTypes] = {};
  bool judged_ = false;
  bool blocked_ = false;
};

}  // namespace ks::tray
