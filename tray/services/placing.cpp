#include "tray/services/placing.h"

#include <vector>

#include "tray/services/self_update.h"
#include "tray/services/staging.h"

namespace ks::tray {

bool copy_with_sig(FileSystem& fs, const std::string& from, const std::string& to) {
  return fs.copy_file(from, to) && fs.copy_file(from + ".sig", to + ".sig");
}

PlaceOutcome stage_loader_and_app(const PlaceEnv& env) {
  FileSystem& fs = *env.fs;
  auto log = [&](const std::string& s) {
    if (env.log) env.log(s);
  };
  auto verify = [&](const std::string& p) { return env.verify && env.verify(p); };
  PlaceOutcome out;

  const std::string staged_modules = join(env.staged_folder, "modules");
  std::vector<FsEntry> entries;
  if (fs.list(staged_modules, entries)) {
    const std::string own_modules = join(env.program_dir, "modules");
    for (const FsEntry& e : entries) {
      if (e.kind != PathKind::file || e.name.size() < 4 ||
          e.name.compare(e.name.size() - 4, 4, ".sig") == 0)
        continue;
      const std::string from = join(staged_modules, e.name);
      if (!verify(from)) continue;
      if (!fs.make_dirs(own_modules) || !copy_with_sig(fs, from, join(own_modules, e.name)))
        log("update: cannot write " + e.name + " beside the app");
    }
  }

  // A staged file that cannot even be looked at is tried again later, not discarded.
  const std::string staged_loader = join(env.staged_folder, "Kestrune.dll");
  const PathKind loader_kind = fs.kind(staged_loader);
  if (loader_kind == PathKind::error) return out;
  if (loader_kind != PathKind::none) {
    if (!verify(staged_loader)) {
      log("update: staged loader fails verification - discarded");
      // It never verifies again; the next check stages the release anew.
      out.drop_release = true;
      return out;
    }
    if (!copy_with_sig(fs, staged_loader, join(env.program_dir, "Kestrune.dll"))) {
      log("update: cannot write Kestrune.dll beside the app (read-only folder?)");
      return out;
    }
  }

  const std::string staged_exe = join(env.staged_folder, "Kestrune.exe");
  const PathKind exe_kind = fs.kind(staged_exe);
  if (exe_kind == PathKind::error) return out;
  if (exe_kind != PathKind::none) {
    PlaceOps ops;
    ops.copy = [&](const std::string& a, const std::string& b) { return fs.copy_file(a, b); };
    ops.move = [&](const std::string& a, const std::string& b) {
      return !exists(fs, b) && fs.move(a, b);
    };
    ops.remove = [&](const std::string& p) {
      return fs.kind(p) == PathKind::none || fs.remove_tree(p);
    };
    ops.verify = verify;
    ops.log = env.log;
    if (env.last_error) ops.last_error = env.last_error;
    if (!place_new_app(ops, staged_exe, env.exe_path)) return out;
    out.app_placed = true;
  }
  out.ok = true;
  return out;
}

bool restart_into_new_app(UpdaterState& state, const RestartEnv& env) {
  FileSystem& fs = *env.place.fs;
  FsStageFiles files(fs);
  auto log = [&](const std::string& s) {
    if (env.place.log) env.place.log(s);
  };
  const std::string version = read_ready_marker(files, env.place.staged_folder);
  PlaceOutcome placed = stage_loader_and_app(env.place);
  if (placed.drop_release) {
    fs.remove_tree(env.place.staged_folder);
    state.staged.store(0);
    return false;
  }
  if (!placed.ok) return false;
  if (env.auto_install && !write_file_replacing(files, env.install_pending_path, version))
    log("update: could not write the install-pending marker");
  fs.remove_tree(env.place.staged_folder);
  state.staged.store(0);
  log("update: Kestrune " + version + " placed beside the app" +
      (placed.app_placed ? " - restarting into it" : ""));
  if (placed.app_placed) {
    unsigned long error = 0;
    if (env.start_program && env.start_program(env.place.exe_path, error)) {
      if (env.close_self) env.close_self();
    } else {
      log("update: could not start the new Kestrune.exe (" + std::to_string(error) +
          ") - it starts next logon");
    }
  }
  return true;
}

}  // namespace ks::tray
