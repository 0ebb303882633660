// The updater bound to this machine: the clock, the staging area under the local application
// data folder, the check on its own thread, the process start of a new program and the tray
// window it closes.
#include "tray/services/updater.h"

#include <windows.h>
#include <shlobj.h>

#include <memory>

#include "os/win/wide.h"
#include "tray/services/build_keys.h"
#include "tray/services/console_switch.h"
#include "tray/services/file_sig.h"
#include "tray/services/fs_ops.h"
#include "tray/services/https_get.h"
#include "tray/services/module_files.h"
#include "tray/services/placing.h"
#include "tray/services/self_update.h"
#include "tray/services/staging.h"
#include "tray/services/tray_log.h"
#include "tray/services/update_check.h"
#include "shared/names.h"

#include "tray/services/version_info.inc"

namespace ks::tray {
namespace {

using win::narrow;
using win::widen;

UpdaterState g_state;

void log_line(const std::function<void(const std::string&)>& log, const std::string& s) {
  if (log)
    log(s);
  else
    tray_log("%s", s.c_str());
}

// What the check thread gets: its own copy, freed by the thread.
struct CheckRecord {
  std::string install_dir;
  bool auto_install = false;
  std::function<void(const std::string&)> log;
  std::function<void()> modules_changed;
};

DWORD WINAPI update_check_thread(void* arg) {
  std::unique_ptr<CheckRecord> rec(static_cast<CheckRecord*>(arg));
  CheckEnv env;
  env.fs = &real_file_system();
  env.get = https_get;
  env.key = release_key();
  env.check_url = update_check_url();
  env.own_version = KS_VERSION_STRING;
  env.edition = KS_EDITION;
  env.program_dir = app_folder();
  env.install_dir = rec->install_dir;
  env.auto_install = rec->auto_install;
  env.staged_folder = staged_folder();
  env.verify = [](const std::string& p) { return verify_file_sig(p); };
  env.loaded_module_version = [](const std::string& type) {
    return loaded_module_version(kLoaderBlockName, type);
  };
  env.modules_changed = rec->modules_changed;
  env.log = rec->log;
  if (!env.staged_folder.empty() && !env.program_dir.empty()) run_update_check(g_state, env);
  rec.reset();
  g_state.busy.store(0);  // last
  return 0;
}

bool start_new_program(const std::string& exe, unsigned long& error) {
  std::wstring line =
      L"\"" + widen(exe) + L"\" --tray --updated=" + std::to_wstring(GetCurrentProcessId());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    error = GetLastError();
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

}  // namespace

UpdaterState& updater_state() { return g_state; }
bool update_staged() { return g_state.staged.load() != 0; }
bool update_busy() { return g_state.busy.load() != 0; }

static std::string ask_updates_folder() {
  PWSTR local = nullptr;
  std::string out;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local) == S_OK && local)
    out = narrow(std::wstring(local) + L"\\Kestrune\\updates");
  CoTaskMemFree(local);
  return out;
}

std::string updates_folder() {
  // The profile's folder does not move while the program runs: asked once, not at every poll tick.
  static const std::string folder = ask_updates_folder();
  return folder;
}
std::string staged_folder() {
  std::string u = updates_folder();
  return u.empty() ? u : u + "\\staged";
}
std::string install_pending_path() {
  std::string u = updates_folder();
  return u.empty() ? u : u + "\\install-pending";
}

std::string app_exe_path() {
  std::wstring buf(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
  if (n == 0 || n >= buf.size()) return {};
  buf.resize(n);
  return narrow(buf);
}
std::string app_folder() {
  std::string exe = app_exe_path();
  size_t slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

void update_tick(const UpdateHost& host) { update_tick_at(host, GetTickCount64()); }

void update_tick_at(const UpdateHost& host, uint64_t now_ms) {
  FileSystem& fs = real_file_system();
  FsStageFiles files(fs);
  const std::string staged = staged_folder(), pending = install_pending_path();
  auto log = [&host](const std::string& s) { log_line(host.log, s); };
  const bool auto_install = host.auto_install && host.auto_install();

  SchedulerHooks h;
  h.auto_install = auto_install;
  h.ready_marker_present = [&] {
    return !staged.empty() && !read_ready_marker(files, staged).empty();
  };
  h.start_check = [&] {
    auto* rec = new CheckRecord;
    rec->install_dir = host.install_folder ? host.install_folder() : std::string();
    rec->auto_install = auto_install;
    rec->log = [l = host.log](const std::string& s) { log_line(l, s); };
    rec->modules_changed = [] { signal_modules_changed(); };
    HANDLE t = CreateThread(nullptr, 0, update_check_thread, rec, 0, nullptr);
    if (!t) {
      delete rec;
      return false;
    }
    CloseHandle(t);
    return true;
  };
  h.lv1_running = host.lv1_running;
  h.install_pending = [&] { return !pending.empty() && fs.kind(pending) == PathKind::file; };
  h.restart_into_new_app = [&] {
    RestartEnv r;
    r.place.fs = &fs;
    r.place.staged_folder = staged;
    r.place.program_dir = app_folder();
    r.place.exe_path = app_exe_path();
    r.place.verify = [](const std::string& p) { return verify_file_sig(p); };
    r.place.log = log;
    r.place.last_error = [] { return static_cast<unsigned long>(GetLastError()); };
    r.auto_install = auto_install;
    r.install_pending_path = pending;
    r.start_program = start_new_program;
    r.close_self = [w = host.tray_window] {
      if (w) PostMessageW(static_cast<HWND>(w), WM_CLOSE, 0, 0);
    };
    return !r.place.program_dir.empty() && restart_into_new_app(g_state, r);
  };
  h.install_loader = host.install_loader;
  h.remove_install_pending = [&] { fs.remove_tree(pending); };
  h.log = log;
  run_update_scheduler(g_state, now_ms, h);
  if (host.deferred_install_tick) host.deferred_install_tick();
}

void finish_self_update(const std::u16string& command_line) {
  const std::wstring old = widen(app_exe_path() + ".old");
  DeleteFileW(old.c_str());
  std::string ascii;
  for (char16_t c : command_line) ascii += c < 0x80 ? char(c) : '?';
  unsigned long pid = updated_pid(ascii);
  if (pid == 0) return;
  if (HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
    WaitForSingleObject(p, 15000);
    CloseHandle(p);
  }
  DeleteFileW(old.c_str());
}

}  // namespace ks::tray
