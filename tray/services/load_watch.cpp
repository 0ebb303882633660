#include "tray/services/load_watch.h"

#include <cctype>
#include <cstdio>

#include "os/file.h"
#include "shared/records.h"
#include "tray/services/ansi_text.h"
#include "tray/services/status_link.h"
#include "tray/services/tray_log.h"

namespace ks::tray {

std::string sac_query(int minutes) {
  char q[160];
  std::snprintf(
      q, sizeof q,
      "*[System[(EventID=3077 or EventID=3033) and TimeCreated[timediff(@SystemTime) <= %lld]]]",
      static_cast<long long>(minutes) * 60000);
  return q;
}

bool sac_event_names_us(std::string_view xml) {
  return xml.find("Kestrune") != std::string_view::npos &&
         xml.find("eMotion LV1") != std::string_view::npos;
}

bool sac_blocked_recently(EventSource& log, int minutes) {
  bool found = false;
  log.query(kCodeIntegrityChannel, sac_query(minutes), [&](const std::string& xml) {
    found = sac_event_names_us(xml);
    return found;
  });
  return found;
}

std::string load_failure_notice(const LoaderTypeRecord& rec) {
  char type[sizeof rec.type_name], version[sizeof rec.running_version],
      file[sizeof rec.failed_file];
  copy_field_text(type, rec.type_name, sizeof rec.type_name);
  copy_field_text(version, rec.running_version, sizeof rec.running_version);
  copy_field_text(file, rec.failed_file, sizeof rec.failed_file);
  const std::string console = std::string(type) == "x32" ? "X32 / M32" : "WING";
  const std::string name = ansi_to_utf8(file);
  const uint32_t error = rec.last_error;
  std::string closing;
  if (version[0] != '\0')
    closing = "Kestrune keeps running the version it had.";
  else if (error == kErrorBlockedByPolicy)
    closing = "That console runs without Kestrune until it is allowed.";
  std::string text =
      error == kErrorBlockedByPolicy
          ? "Windows (Smart App Control) blocked the " + console + " module " + name + "."
          : "The " + console + " module " + name + " could not be loaded (error " +
                std::to_string(error) + ").";
  if (!closing.empty()) text += " " + closing;
  return text;
}

LoadWatch::LoadWatch(LoadWatchEnv env) : env_(std::move(env)) {
  if (!env_.read_loader_block)
    env_.read_loader_block = [](uint8_t(&out)[kLoaderBlockSize]) {
      return StatusLink().read_loader_block(out);
    };
  if (!env_.log) env_.log = [](const std::string& line) { tray_log("%s", line.c_str()); };
}

Lv1System& LoadWatch::sys() { return env_.sys ? *env_.sys : system_lv1(); }

void LoadWatch::notify(const char* title, const std::string& text) {
  if (env_.sink) {
    env_.sink->set_notice_and_status(text);
    env_.sink->balloon(title, text);
  }
  env_.log("notified: " + text);
}

// The install writes kestrune.version fresh each time; Kestrune.dll keeps its source's write
// time when copied, so it alone would call a fresh install older than LV1.
bool LoadWatch::installed_after_lv1_started(const std::string& dir) {
  uint64_t created = 0;
  if (!lv1_creation_time(sys(), created)) return false;
  uint64_t installed = 0;
  for (const char* name : {"kestrune.version", "Kestrune.dll"}) {
    uint64_t time = 0, size = 0;
    if (sys().file_stat(path_join(dir, name), time, size) && time > installed) installed = time;
  }
  return installed > created;
}

void LoadWatch::tick() {
  if (!lv1_running(sys())) {
    lv1_seen_at_ = 0;
    blocked_ = false;
    judged_ = false;
    // The loader block of the next LV1 run starts from zero counters.
    for (uint32_t& s : seen_failures_) s = 0;
    if (env_.sink) env_.sink->clear_notice();
    return;
  }
  const Tick now = env_.clock ? env_.clock->now() : tick_now();
  if (lv1_seen_at_ == 0) lv1_seen_at_ = now ? now : 1;

  uint8_t raw[kLoaderBlockSize];
  if (env_.read_loader_block(raw)) {
    blocked_ = false;
    const auto* block = reinterpret_cast<const LoaderBlock*>(raw);
    for (uint32_t t = 0; t < kConsoleTypes; ++t) {
      const LoaderTypeRecord& rec = block->types[t];
      // A lower counter is a new block (LV1 restarted between two ticks): count from zero.
      if (rec.failure_count < seen_failures_[t]) seen_failures_[t] = 0;
      if (rec.failure_count <= seen_failures_[t]) continue;
      seen_failures_[t] = rec.failure_count;
      notify(kTitleUpdateBlocked, load_failure_notice(rec));
    }
    return;
  }
  // No loader block: a block that comes later is a new one.
  for (uint32_t& s : seen_failures_) s = 0;
  if (ticks_elapsed(now, lv1_seen_at_) < kJudgeAfterMs || judged_) return;

  const std::string dir = env_.install_dir ? env_.install_dir() : std::string();
  if (dir.empty()) return;
  const std::string loader = path_join(dir, "Kestrune.dll");
  const bool own = env_.is_own_module ? env_.is_own_module(loader) : sys().file_exists(loader);
  if (!own) return;
  const bool newer = installed_after_lv1_started(dir);
  judged_ = true;
  if (newer) {
    if (env_.sink) env_.sink->set_status(kInstalledWhileRunning);
    return;
  }
  blocked_ = true;
  const bool sac = env_.sac_blocked_recently ? env_.sac_blocked_recently(30)
                                             : sac_blocked_recently(system_event_log(), 30);
  notify(kTitleNotRunning, sac ? kBlockedBySac : kMayBeBlocked);
}

}  // namespace ks::tray
