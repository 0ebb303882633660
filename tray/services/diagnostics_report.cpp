#include "tray/services/diagnostics_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace ks::tray {
namespace {

void add(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void add(std::string& out, const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n > 0) out.append(buf, std::min<size_t>(size_t(n), sizeof buf - 1));
}

}  // namespace

std::string log_tail(const std::string& text) {
  return text.size() > kReportLogTail ? text.substr(text.size() - kReportLogTail) : text;
}

std::string format_diagnostics_report(const DiagFacts& f) {
  std::string out;
  add(out, "Kestrune diagnostics  %04d-%02d-%02d %02d:%02d:%02d\n", f.year, f.month, f.day, f.hour,
      f.minute, f.second);
  add(out, "Kestrune             : %s\n", f.version_text.c_str());
  if (f.install_folder_known) {
    const char* state = "this app's version, or newer";
    if (f.install == DiagInstall::older_layout)
      state = "older layout (2.x) - press Update in Setup to move it into Kestrune.bundle";
    else if (f.install == DiagInstall::behind)
      state = "BEHIND this app's - it installs once LV1 is closed";
    else if (f.install == DiagInstall::not_installed)
      state = "not installed (stock Waves module)";
    bool older = f.install == DiagInstall::older_layout;
    std::string version = older ? ""
                          : f.installed_version.empty()
                              ? "of unknown version (installed before the version file existed)"
                              : f.installed_version;
    add(out, "installed module     : %s%s%s\n", state, older ? "" : " - installed loader ",
        version.c_str());
  }
  add(out, "detailed logging     : %s\n", f.diag_enabled ? "on (diag=1)" : "off");
  if (f.loader_version) {
    add(out, "loader               : %s\n", f.loader_version->c_str());
    for (const DiagLoaderType& t : f.loader_types) {
      if (t.type.empty()) continue;
      bool refused = t.load_failures != 0;
      add(out, "  %-5s              : %s, Waves module %s, running %s%s%s (error %u)\n",
          t.type.c_str(), t.enabled ? "on" : "off", t.waves_module_loaded ? "yes" : "NO",
          t.running_version.empty() ? "nothing" : t.running_version.c_str(),
          refused ? ", last refused " : "", refused ? t.last_refused.c_str() : "", t.last_error);
    }
  } else {
    out += "loader               : no status (LV1 not running, or Kestrune not loaded in it)\n";
  }
  add(out, "eMotion LV1          : %s\n", f.lv1_path.empty() ? "not found" : f.lv1_path.c_str());
  if (f.mixer_core_read) {
    add(out, "MixerCoreSG.dll      : %s, %llu bytes\n", f.mixer_core_path.c_str(),
        static_cast<unsigned long long>(f.mixer_core_size));
    if (!f.profile_name.empty())
      add(out, "LV1 build check      : supported (profile %s%s)\n", f.profile_name.c_str(),
          f.profile_from_file ? ", from kestrune_profiles.cfg" : "");
    else
      out +=
          "LV1 build check      : no offset profile (not needed since 1.0.7: the module wraps the I/O box)\n";
  } else {
    add(out, "LV1 build check      : could not read %s\n", f.mixer_core_path.c_str());
  }
  out += std::string(64, '=') + "\n\n";
  if (f.status) {
    const DiagStatus& s = *f.status;
    add(out, "status block version : %u (tray expects %u)%s\n", s.layout_version,
        s.expected_version, s.mismatch ? "   ** MISMATCH **" : "");
    add(out, "LV1 build profile    : %s\n", s.lv1_build_profile.c_str());
    add(out, "device MAC           : %s\n", s.device_mac.c_str());
    add(out, "desk                 : %s  (%s)\n", s.desk_name.c_str(), s.desk_identity.c_str());
    add(out, "connected / loaded   : %u / %u\n", s.connected, s.loaded);
    add(out, "degraded             : %u   %s\n", s.degraded, s.degraded_reason.c_str());
    add(out, "watching             : %d ch, fallback bank %s base %d\n", s.watching,
        s.fallback_bank.c_str(), s.fallback_base);
    add(out, "patch age            : %u ms\n", s.patch_age_ms);
    add(out, "sent / recv          : %u / %u\n\n", s.sent, s.received);
    out += "groups learned from the console\n";
    for (size_t i = 0; i < s.groups.size() && i < 8; ++i) {
      const DiagGainGroup& g = s.groups[i];
      add(out, "  %-6s %6.1f .. %6.1f dB  step %.2f  (%u ch)\n", g.group.c_str(), g.min_db,
          g.max_db, g.step_db, g.channels);
    }
    if (s.layout_version >= 16 && !s.ports.empty()) {
      out += "\nremote ports the card reads from\n";
      for (size_t i = 0; i < s.ports.size() && i < 4; ++i)
        add(out, "  %-6s %s, %u strip(s) from it without a knob\n", s.ports[i].name.c_str(),
            s.ports[i].connected ? "box connected" : "NOTHING CONNECTED",
            s.ports[i].strips_without_knob);
    }
    out += "\npatch\n";
    for (size_t i = 0; i < s.patch.size() && i < 64; ++i) {
      const DiagPatchRow& p = s.patch[i];
      add(out, "  LV1 %2d <- %-5s %-3d %s  gain %6.1f  48V %d\n", p.lv1_channel,
          p.input_group.c_str(), p.input_number,
          p.input_name.empty() ? "(none)" : p.input_name.c_str(), p.gain_db, p.phantom);
    }
  } else {
    out += "bridge not running (LV1 closed, or the module was not loaded)\n";
  }
  if (!f.log_folder_found && f.unreadable_accounts != 0)
    add(out,
        "\nlog: none in this account's %%TEMP%%, and %d other Windows account(s) could not be read. If LV1 runs as "
        "another user, collect diagnostics as that user or as administrator.\n",
        f.unreadable_accounts);
  for (const DiagLog& log : f.logs) {
    add(out, "\n================ %s ================\n", log.path.c_str());
    if (!log.text) {
      out += "(no log file)\n";
      continue;
    }
    std::string tail = log_tail(*log.text);
    out += tail;
    if (!tail.empty() && tail.back() != '\n') out += '\n';
  }
  return out;
}

}  // namespace ks::tray
