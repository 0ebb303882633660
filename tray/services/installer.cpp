#include "tray/services/installer.h"

#include <cctype>
#include <vector>

#include "tray/services/bundle_merge.h"
#include "tray/services/console_switch.h"
#include "tray/services/console_table.h"
#include "tray/services/settings_file.h"

namespace ks::tray {
namespace {

constexpr char kNeedAdmin[] = "Could not write Kestrune into LV1's modules folder (need admin?).";
constexpr char kSwapFailed[] =
    "Could not replace the installed Kestrune bundle - is a file in it open?";

bool ends_with_nocase(const std::string& s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) !=
        std::tolower(static_cast<unsigned char>(suffix[i])))
      return false;
  return true;
}

std::string win64_of(const std::string& bundle) { return join(join(bundle, "Contents"), "Win64"); }

}  // namespace

bool Installer::copy_modules_folder(const std::string& dest, std::string& message,
                                    uint32_t* count) {
  if (count) *count = 0;
  if (!fs().make_dirs(dest)) {
    message = kNeedAdmin;
    return false;
  }
  std::vector<FsEntry> entries;
  const std::string src = join(env().program_dir, "modules");
  if (!fs().list(src, entries)) {
    // A missing source folder copies nothing; one that is there but cannot be read is a failure,
    // not an install without its modules.
    if (fs().kind(src) == PathKind::none) return true;
    message = "Could not read the modules folder beside Kestrune.exe.";
    return false;
  }
  for (const FsEntry& e : entries) {
    if (e.kind != PathKind::file) continue;
    const std::string from = join(src, e.name), to = join(dest, e.name);
    PathKind there = fs().kind(to);
    // A file of that name that differs is what an interrupted copy left: it is replaced.
    if (there == PathKind::file && p_.files_identical(from, to)) continue;
    const std::string part = to + ".part";
    if (there == PathKind::dir || there == PathKind::link || !fs().copy_file(from, part) ||
        !fs().move(part, to)) {
      fs().remove_tree(part);
      message = "Could not copy " + e.name + " (need admin?).";
      return false;
    }
    if (count) ++*count;
  }
  return true;
}

bool Installer::live_module_update(std::string& message) {
  uint32_t copied = 0;
  if (!copy_modules_folder(join(st().install_dir, "modules"), message, &copied)) return false;
  if (copied > 0 && env().signal_modules_changed) env().signal_modules_changed();
  return true;
}

bool Installer::load_test(const std::string& dll, std::string& message) {
  uint32_t code = 1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0 && env().sleep_ms) env().sleep_ms(1500);
    code = env().verify_module ? env().verify_module(dll) : 1;
    if (code == 0) return true;
    p_.log("install: load test " + std::to_string(attempt + 1) + " of the staged loader gave " +
           std::to_string(code));
  }
  message = code == kSacRefusalCode ? std::string(kSacRefusalText)
                                    : "Kestrune would not load (error " + std::to_string(code) +
                                          "). Nothing was changed.";
  return false;
}

bool Installer::carry_installed_extras(const std::string& win64, std::string& message) {
  // Modules the updater could put only into the bundle, and the user's profiles file, are
  // carried over; a module whose signature fails is left behind.
  const std::string& dir = st().install_dir;
  auto unreadable = [&](const std::string& what) {
    message = "Could not read " + what + ". Nothing was changed.";
    return false;
  };
  PathKind k = fs().kind(dir);
  if (k == PathKind::error) return unreadable(dir);
  if (k != PathKind::dir) return true;
  std::vector<FsEntry> entries;
  const std::string mods = join(dir, "modules"), dest = join(win64, "modules");
  k = fs().kind(mods);
  if (k == PathKind::error || (k == PathKind::dir && !fs().list(mods, entries)))
    return unreadable(mods);
  if (k == PathKind::dir) {
    for (const FsEntry& e : entries) {
      if (e.kind != PathKind::file || !ends_with_nocase(e.name, ".dll")) continue;
      const std::string from = join(mods, e.name), to = join(dest, e.name);
      PathKind there = fs().kind(to), sig = fs().kind(from + ".sig");
      if (there == PathKind::error) return unreadable(to);
      if (sig == PathKind::error) return unreadable(from + ".sig");
      if (there != PathKind::none) continue;
      if (sig != PathKind::file || !env().signature_ok || !env().signature_ok(from)) continue;
      if (!fs().copy_file(from, to) || !fs().copy_file(from + ".sig", to + ".sig")) {
        message = "Could not copy " + e.name + " (need admin?).";
        return false;
      }
    }
  }
  const std::string profiles = join(dir, "kestrune_profiles.cfg");
  k = fs().kind(profiles);
  if (k == PathKind::error ||
      (k == PathKind::file && !fs().copy_file(profiles, join(win64, "kestrune_profiles.cfg")))) {
    message = "Could not carry kestrune_profiles.cfg over. Nothing was changed.";
    return false;
  }
  return true;
}

bool Installer::carry_settings(const std::string& win64, std::string& message) {
  // An earlier file that exists is carried over or the install fails: the template or a fresh
  // state.cfg only ever stands in for a file that was not there.
  const std::string state = join(st().install_dir, "state.cfg");
  PathKind k = fs().kind(state);
  if (k == PathKind::file) {
    if (!fs().copy_file(state, join(win64, "state.cfg"))) {
      message = "Could not carry state.cfg over. Nothing was changed.";
      return false;
    }
  } else if (k != PathKind::none) {
    message = "Could not read " + state + ". Nothing was changed.";
    return false;
  } else {
    bool on[kConsoleCount];
    for (int c = 0; c < kConsoleCount; ++c) {
      // A console switched off in the older layout stays off: a store we cannot look at fails
      // the install rather than switching it on.
      PathKind off = fs().kind(p_.disabled_bundle_path(c)),
               active = fs().kind(p_.legacy_bundle_path(c));
      if (off == PathKind::error || active == PathKind::error) {
        message = "Could not read the older " + std::string(console_table[c].bundle_name) +
                  " bundle. Nothing was changed.";
        return false;
      }
      on[c] = !(off != PathKind::none && active == PathKind::none);
    }
    if (!fs().write(join(win64, "state.cfg"), installed_state_cfg(on[0], on[1]))) {
      message = kNeedAdmin;
      return false;
    }
  }
  for (int c = 0; c < kConsoleCount; ++c) {
    const std::string target = join(win64, std::string(console_table[c].type_key) + ".cfg");
    const std::string own = join(st().install_dir, std::string(console_table[c].type_key) + ".cfg");
    PathKind ok = fs().kind(own);
    if (ok == PathKind::error) {
      message = "Could not read " + own + ". Nothing was changed.";
      return false;
    }
    bool unreadable = false;
    const std::string from = p_.find_console_config(c, &unreadable);
    if (unreadable) {
      message = std::string("Could not read the earlier ") + console_table[c].type_key +
                " settings. Nothing was changed.";
      return false;
    }
    if (!from.empty()) {
      if (!fs().copy_file(from, target)) {
        message = "Could not carry " + from + " over. Nothing was changed.";
        return false;
      }
    } else if (!fs().write(target, std::string(kSettingsTemplate))) {
      message = kNeedAdmin;
      return false;
    }
  }
  return true;
}

bool Installer::build_staging(const std::string& staging, std::string& message) {
  for (int card = 0; card < 3; ++card) {
    const std::string wb = p_.waves_bundle_path(card);
    PathKind k = fs().kind(wb);
    if (k == PathKind::error) {
      message = std::string("Could not read Waves' bundle ") + kWavesCards[card] + ".";
      return false;
    }
    if (k != PathKind::dir) continue;
    if (!merge_waves_bundle(fs(), wb, staging, kWavesCards[card], message)) return false;
  }
  const std::string appinfo = join(join(join(staging, "Contents"), "Resources"), "APPINFO");
  PathKind ak = fs().kind(appinfo);
  if (ak == PathKind::error) {
    message = "Could not read the staged APPINFO folder.";
    return false;
  }
  if (ak == PathKind::dir) {
    std::vector<FsEntry> entries;
    if (!fs().list(appinfo, entries)) {
      message = "Could not read the staged APPINFO folder.";
      return false;
    }
    for (const FsEntry& e : entries) {
      if (e.kind != PathKind::file || !ends_with_nocase(e.name, ".yaml")) continue;
      if (!patch_assignment_priority(fs(), join(appinfo, e.name))) {
        message = "Could not read Contents\\Resources\\APPINFO\\" + e.name + ".";
        return false;
      }
    }
  }
  const std::string win64 = win64_of(staging);
  if (!fs().make_dirs(win64) ||
      !fs().copy_file(join(env().program_dir, "Kestrune.dll"), join(win64, "Kestrune.dll"))) {
    message = kNeedAdmin;
    return false;
  }
  message.clear();
  if (!copy_modules_folder(join(win64, "modules"), message, nullptr) ||
      !carry_installed_extras(win64, message)) {
    if (message.empty()) message = kNeedAdmin;
    return false;
  }
  return true;
}

bool Installer::swap_in(const std::string& staging, std::string& message) {
  const std::string main = p_.main_bundle_path(), old = main + ".old";
  fs().remove_tree(old);
  PathKind k = fs().kind(main);
  if (k == PathKind::error || exists(fs(), old)) {
    message = kSwapFailed;
    return false;
  }
  bool had_main = k != PathKind::none;
  if (had_main && !fs().move(main, old)) {
    message = kSwapFailed;
    return false;
  }
  if (!fs().move(staging, main)) {
    if (had_main && !fs().move(old, main))
      p_.log("install: Kestrune.bundle.old could not be put back; the next start puts it back");
    message = "Could not put the new Kestrune bundle in place.";
    return false;
  }
  return true;
}

void Installer::remove_legacy_bundles(int console) {
  fs().remove_tree(p_.legacy_bundle_path(console));
  fs().remove_tree(p_.disabled_bundle_path(console));
}

bool Installer::install_bundle(std::string& message) {
  if (env().update_busy && env().update_busy()) {
    message = "An update is being written - try again in a moment.";
    return false;
  }
  if (!p_.recover_interrupted_swap()) {
    message = "Could not put Kestrune.bundle.old back in place - is a file in it open?";
    return false;
  }
  p_.locate_install();
  if (st().install_dir.empty()) {
    message = "No supported I/O module found.";
    return false;
  }
  const std::string main = p_.main_bundle_path(), staging = main + ".new";
  bool fresh = !st().legacy && fs().kind(main) == PathKind::none;
  if (!fresh && env().lv1_running && env().lv1_running()) {
    if (st().installed && !p_.loader_needs_update() && p_.modules_missing()) {
      if (!live_module_update(message)) return false;
      notice_ = "Updated while LV1 runs - the new module is live.";
      return true;
    }
    message = "Close eMotion LV1 first.";
    return false;
  }
  const std::string loader = join(env().program_dir, "Kestrune.dll");
  if (!is_file(fs(), loader) || !is_dir(fs(), join(env().program_dir, "modules"))) {
    message =
        env().running_from_temp && env().running_from_temp()
            ? "Kestrune is running from inside the zip \xE2\x80\x94 Extract All, then run it from that folder."
            : "Kestrune.dll or the modules folder is missing beside Kestrune.exe.";
    return false;
  }
  // The loader goes into LV1's process: only one signed with the release key.
  if (!env().signature_ok || !env().signature_ok(loader)) {
    message =
        "Kestrune.dll beside Kestrune.exe is not signed by Kestrune - download Kestrune again. Nothing was changed.";
    return false;
  }
  fs().remove_tree(staging);
  if (exists(fs(), staging) || fs().kind(staging) == PathKind::error) {
    message = "Could not clear " + staging + " - is a file in it open?";
    return false;
  }
  auto fail = [&]() {
    fs().remove_tree(staging);
    return false;
  };
  if (!build_staging(staging, message)) return fail();
  const std::string win64 = win64_of(staging);
  if (!load_test(join(win64, "Kestrune.dll"), message)) return fail();
  if (!carry_settings(win64, message)) return fail();
  if (!fs().write(join(win64, "kestrune.version"), env().app_version)) {
    message = kNeedAdmin;
    return fail();
  }
  if (!swap_in(staging, message)) return fail();

  fs().remove_tree(main + ".old");
  for (int c = 0; c < kConsoleCount; ++c) {
    std::string why;
    if (!restore_card_module(c, why)) {
      if (notice_.empty()) notice_ = "Installed, but " + why;
      continue;
    }
    remove_legacy_bundles(c);
  }
  st().legacy = false;
  st().installed = true;
  p_.log("install: Kestrune " + env().app_version + " installed");
  return true;
}

void Installer::deferred_install_tick() {
  uint64_t now = env().now_ms ? env().now_ms() : 0;
  if (now < next_check_) return;
  next_check_ = now + 5000;
  bool hold = !st().legacy && st().installed && !(env().update_staged && env().update_staged()) &&
              !(env().update_busy && env().update_busy()) && p_.loader_needs_update() &&
              !(env().lv1_running && env().lv1_running());
  if (!hold) {
    first_seen_ = 0;
    return;
  }
  if (first_seen_ == 0) {
    first_seen_ = now ? now : 1;
    return;
  }
  first_seen_ = 0;
  notice_.clear();
  std::string message;
  if (install_bundle(message)) {
    p_.log("install: this app's loader installed while LV1 was closed (Kestrune " +
           env().app_version + ")");
    p_.locate_install();
  } else {
    if (message.size() > 255) message.resize(255);
    p_.log("install: this app's loader was not installed: " + message +
           " - trying again in 10 min");
    next_check_ = now + 600000;
  }
}

bool Installer::restore_card_module(int console, std::string& message) {
  if (!p_.card_module_is_ours(console)) return true;
  const std::string card = p_.card_module_path(console), orig = p_.orig_module_path(console);
  if (!is_file(fs(), orig)) {
    message = "The original Waves module is missing from " + p_.bundle_win64_path(console) +
              " - reinstall the card from Waves Central.";
    return false;
  }
  // Through a name of its own and a move: an interrupted copy never leaves a cut card module.
  const std::string tmp = card + ".restore";
  if (!fs().copy_file(orig, tmp) || !fs().move(tmp, card)) {
    fs().remove_tree(tmp);
    message = "Could not put Waves' module back (need admin?).";
    return false;
  }
  fs().remove_tree(orig);
  const std::string prev = card + ".prev";
  if (is_file(fs(), prev) && env().is_own_module && env().is_own_module(prev))
    fs().remove_tree(prev);
  fs().remove_tree(join(p_.bundle_win64_path(console), "kestrune.cfg"));
  return true;
}

bool Installer::remove_installation(std::string& message) {
  if (!p_.recover_interrupted_swap()) {
    message = "Could not put Kestrune.bundle.old back in place - is a file in it open?";
    return false;
  }
  if (st().install_dir.empty()) {
    message = "Nothing to remove.";
    return false;
  }
  if (env().lv1_running && env().lv1_running()) {
    message = "Close eMotion LV1 first.";
    return false;
  }
  for (int c = 0; c < kConsoleCount; ++c) {
    if (!restore_card_module(c, message)) return false;
    remove_legacy_bundles(c);
  }
  const std::string main = p_.main_bundle_path();
  fs().remove_tree(main + ".new");
  fs().remove_tree(main + ".old");
  PathKind k = fs().kind(main);
  if (k == PathKind::error) {
    message = "Could not delete " + main + " - is a file in it open?";
    return false;
  }
  if (k != PathKind::none) {
    // Renamed out of the way first: a file in use fails the rename whole, and LV1 never finds
    // a half-deleted bundle.
    std::string trash;
    for (int n = 0; n < 10 && trash.empty(); ++n) {
      std::string t = main + ".remove" + (n ? std::to_string(n) : std::string());
      fs().remove_tree(t);
      if (fs().kind(t) == PathKind::none) trash = t;
    }
    if (trash.empty() || !fs().move(main, trash)) {
      message = "Could not delete " + main + " - is a file in it open?";
      return false;
    }
    if (!fs().remove_tree(trash)) p_.log("remove: " + trash + " could not be deleted whole");
  }
  st().installed = false;
  return true;
}

}  // namespace ks::tray
