#include "tray/services/update_check.h"

#include <set>

#include "tray/services/module_files.h"
#include "tray/services/release_plan.h"
#include "tray/services/staging.h"

namespace ks::tray {

void run_update_check(UpdaterState& state, const CheckEnv& env) {
  auto log = [&](const std::string& s) {
    if (env.log) env.log(s);
  };
  FileSystem& fs = *env.fs;
  FsStageFiles files(fs);

  int status = 0;
  std::string reply;
  if (!env.get || !env.get(env.check_url, kManifestLimit, status, reply)) {
    log("update: check failed (HTTP " + std::to_string(status) + ") - next try in 6 h");
    return;
  }
  ReleaseNames names;
  names.edition = env.edition;
  Release release;
  std::string message;
  if (!parse_release_manifest(reply, names, env.key, release, message)) {
    log("update: " + message);
    return;
  }
  log("update: release " + release.version + " available (this is " + env.own_version + ")");

  const bool into_bundle = env.auto_install && !env.install_dir.empty();
  const std::string bundle_modules = into_bundle ? join(env.install_dir, "modules") : std::string();
  const std::string app_modules = join(env.program_dir, "modules");
  const std::string& target = into_bundle ? bundle_modules : app_modules;
  auto newest = [&](const std::string& type) {
    std::vector<ModuleFile> have = list_module_files(fs, target, type, env.verify);
    return have.empty() ? std::string() : have.front().version;
  };
  ReleasePlan plan = plan_release(release, newest, env.own_version, env.edition);

  int installed = 0;
  for (const ReleaseEntry& e : plan.install_now) {
    std::string bytes;
    if (!download_and_verify(env.get, e, env.key, bytes, message)) {
      log("update: " + e.file + " " + e.version + " refused: " + message);
      continue;  // nothing of a refused file is written anywhere
    }
    bool bundle_ok = true;
    if (into_bundle)
      bundle_ok = fs.make_dirs(bundle_modules) &&
                  write_sig_beside(files, join(bundle_modules, e.file), bytes, e.sig);
    bool app_ok = fs.make_dirs(app_modules) &&
                  write_sig_beside(files, join(app_modules, e.file), bytes, e.sig);
    if (bundle_ok) {
      log("update: " + e.file + " verified and " +
          (into_bundle ? "installed" : "kept for the next install") +
          (app_ok ? "" : " (the app folder is read-only)"));
      if (into_bundle) ++installed;
    } else {
      log("update: could not write " + e.file + " into Kestrune.bundle");
    }
  }
  if (installed > 0) {
    if (env.modules_changed) env.modules_changed();
    std::set<std::string> types;
    for (const ReleaseEntry& e : release.modules) types.insert(e.console);
    for (const std::string& t : types)
      prune_old_modules(fs, bundle_modules, t,
                        env.loaded_module_version ? env.loaded_module_version(t) : std::string(),
                        env.verify, env.log);
  }

  if (!plan.take_loader && !plan.take_app) return;  // set-aside modules wait for a later release
  if (read_ready_marker(files, env.staged_folder) == release.version) return;

  // Everything is fetched and checked before the staging area is touched: a failed download
  // leaves an earlier staged release as it was.
  std::vector<StagedFile> staged;
  std::vector<const ReleaseEntry*> wanted;
  std::vector<std::string> names_in_stage;
  if (plan.take_loader) {
    wanted.push_back(&*release.loader);
    names_in_stage.push_back("Kestrune.dll");
  }
  if (plan.take_app) {
    wanted.push_back(&*release.app);
    names_in_stage.push_back(
        "Kestrune.exe");  // an edition's own file name is placed under this one
  }
  for (const ReleaseEntry& e : plan.set_aside) {
    wanted.push_back(&e);
    names_in_stage.push_back("modules/" + e.file);
  }
  for (size_t i = 0; i < wanted.size(); ++i) {
    StagedFile f;
    if (!download_and_verify(env.get, *wanted[i], env.key, f.bytes, message)) {
      log("update: " + wanted[i]->file + " " + wanted[i]->version + " not staged: " + message);
      return;
    }
    f.name = names_in_stage[i];
    f.sig = wanted[i]->sig;
    staged.push_back(std::move(f));
  }
  state.staged.store(0);  // the earlier staged release goes first
  std::string failed;
  if (!stage_release(files, env.staged_folder, release.version, staged, failed)) {
    std::string what = failed, version = release.version;
    for (size_t i = 0; i < staged.size(); ++i)
      if (staged[i].name == failed) {
        what = wanted[i]->file;
        version = wanted[i]->version;
      }
    log("update: " + what + " " + version + " not staged: could not write it");
    // A failure before the old marker went leaves the earlier release whole and placeable.
    state.staged.store(read_ready_marker(files, env.staged_folder).empty() ? 0 : 1);
    return;
  }
  log("update: Kestrune " + release.version + " staged - it installs the next time LV1 is closed");
  state.staged.store(1);
}

}  // namespace ks::tray
