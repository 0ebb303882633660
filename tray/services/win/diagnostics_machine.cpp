#include "tray/services/diagnostics_machine.h"

#include <windows.h>
#include <shlobj.h>

#include <memory>

#include "os/file.h"
#include "os/shared_memory.h"
#include "os/temp.h"
#include "os/win/wide.h"
#include "tray/services/diagnostics_facts.h"
#include "tray/services/install_machine.h"
#include "tray/services/installer.h"
#include "tray/services/lv1_build.h"
#include "tray/services/settings_file.h"
#include "tray/services/status_link.h"
#include "tray/services/tray_log.h"

namespace ks::tray {
namespace {

using win::narrow;
using win::widen;

constexpr const char* kReportLogs[] = {"kestrune-loader.1.log", "kestrune-loader.log",
                                       "kestrune.1.log",        "kestrune.log",
                                       "kestrune-x32.1.log",    "kestrune-x32.log"};

std::string without_trailing_slash(std::string s) {
  while (!s.empty() && (s.back() == '\\' || s.back() == '/')) s.pop_back();
  return s;
}

bool last_write(const std::string& path, uint64_t& when) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &a)) return false;
  when = (uint64_t(a.ftLastWriteTime.dwHighDateTime) << 32) | a.ftLastWriteTime.dwLowDateTime;
  return true;
}

// The account folder whose kestrune.log is newest: ours when it holds one, else every account
// under the users' root. Accounts that refuse a look (error 5) are counted.
std::string log_folder(const DiagGatherEnv& env, DiagFacts& f) {
  uint64_t when = 0;
  if (last_write(env.temp + "\\kestrune.log", when)) return env.temp;
  std::string best;
  uint64_t best_time = 0;
  int refused = 0;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(widen(env.users_root + "\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || fd.cFileName[0] == L'.') continue;
      const std::string temp =
          env.users_root + "\\" + narrow(fd.cFileName) + "\\AppData\\Local\\Temp";
      if (last_write(temp + "\\kestrune.log", when)) {
        if (best.empty() || when > best_time) best = temp, best_time = when;
      } else if (GetLastError() == ERROR_ACCESS_DENIED) {
        ++refused;
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  if (!best.empty()) return best;
  f.log_folder_found = false;
  f.unreadable_accounts = refused;
  return env.temp;
}

// The log's last kReportLogTail bytes, read while the loader may be writing it.
std::optional<std::string> read_log_tail(const std::string& path) {
  HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > static_cast<LONGLONG>(kReportLogTail)) {
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart - static_cast<LONGLONG>(kReportLogTail);
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
  }
  std::string out;
  char buf[65536];
  DWORD got = 0;
  // Bounded even when the file grows while it is read.
  while (out.size() < kReportLogTail && ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
    out.append(buf, got);
  CloseHandle(h);
  return log_tail(out);
}

// The report as a text-mode file holds it: every line ends in CR LF.
std::string with_crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string system_folder() {
  wchar_t buf[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryW(buf, MAX_PATH + 1);
  return n && n <= MAX_PATH ? narrow(std::wstring(buf, n)) : std::string("C:\\Windows\\System32");
}

bool copy_over(const std::string& from, const std::string& to) {
  // Through a shared read: the loader keeps its logs open while LV1 runs.
  std::string bytes;
  if (read_file(from, 64u << 20, bytes) != ReadStatus::ok) return false;
  return write_file_replace(to, bytes);
}

bool is_file_at(const std::string& p) {
  DWORD a = GetFileAttributesW(widen(p).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// Runs tar.exe on the folder; true when it ended with 0 within the time.
bool run_tar(const BundlePlan& plan, uint32_t timeout_ms) {
  std::wstring cl = widen(plan.tar_command);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(widen(plan.tar_exe).c_str(), cl.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    tray_log("support bundle: tar.exe could not start (error %lu)", GetLastError());
    return false;
  }
  DWORD code = 1;
  if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = 1;
  } else {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
    tray_log("support bundle: tar.exe did not finish in %u ms - stopped", timeout_ms);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code == 0;
}

void show(HWND__* owner, const UserMessage& m) {
  MessageBoxW(owner, widen(m.text).c_str(), widen(m.title).c_str(),
              MB_OK | (m.warning ? MB_ICONWARNING : MB_ICONINFORMATION));
}

}  // namespace

DiagGatherEnv machine_diag_env() {
  DiagGatherEnv e;
  e.temp = without_trailing_slash(temp_dir());
  return e;
}

DiagFacts gather_diagnostics_facts(const DiagGatherEnv& env) {
  DiagFacts f;
  SYSTEMTIME st;
  GetLocalTime(&st);
  f.year = st.wYear, f.month = st.wMonth, f.day = st.wDay, f.hour = st.wHour, f.minute = st.wMinute,
  f.second = st.wSecond;
  f.version_text = version_text();

  std::unique_ptr<InstallPaths> own;
  InstallPaths* paths = env.install;
  if (!paths) {
    own = std::make_unique<InstallPaths>(
        machine_install_env([] { return lv1_running(system_lv1()); }));
    paths = own.get();
  }
  paths->locate_install();
  const InstallState& is = paths->state();
  if (!is.install_dir.empty()) {
    f.install_folder_known = true;
    f.install = install_state_of(is.installed, is.legacy,
                                 is.installed && !is.legacy && paths->update_pending());
    f.installed_version = paths->installed_version();
    const char* cfg = is.current_console == 1 ? "\\x32.cfg" : "\\wing.cfg";
    f.diag_enabled = diag_enabled(is.install_dir + cfg);
  }

  uint8_t block[kLoaderBlockSize];
  StatusLink link;
  if (link.read_loader_block(block)) loader_facts_of(block, f);

  Lv1System& sys = system_lv1();
  f.lv1_path = lv1_exe_path(sys);
  Lv1BuildEnv be;
  be.sys = &sys;
  const std::string install_dir = is.install_dir;
  be.install_dir = [install_dir] { return install_dir; };
  be.log = [](const std::string& line) { tray_log("%s", line.c_str()); };
  Lv1BuildCache cache(be);
  const Lv1BuildInfo& info = cache.get(true);
  f.mixer_core_path = info.mixer_path;
  f.mixer_core_read = !info.mixer_path.empty() && info.mixer_size > 0;
  f.mixer_core_size = info.mixer_size;
  if (info.matched) f.profile_name = info.profile_name, f.profile_from_file = info.from_file;

  // The block of the module that runs: the WING's first, the X32/M32's when the WING's is absent.
  for (int console : {is.current_console, 1 - is.current_console}) {
    SharedMemory m;
    if (!m.open(std::string(kStatusBlockBaseName) + status_suffix(console), sizeof(StatusBlock),
                SharedMemory::Access::read_only))
      continue;
    f.status = status_facts_of({static_cast<uint8_t*>(m.data()), m.size()});
    if (f.status) break;
  }

  const std::string folder = log_folder(env, f);
  for (const char* name : kReportLogs) {
    const std::string path = folder + "\\" + name;
    f.logs.push_back({path, read_log_tail(path)});
  }
  return f;
}

bool write_diagnostics_report(const std::string& path, const DiagGatherEnv& env) {
  return write_file_replace(path,
                            with_crlf(format_diagnostics_report(gather_diagnostics_facts(env))));
}

bool write_diagnostics_report(const std::string& path) {
  return write_diagnostics_report(path, machine_diag_env());
}

std::string desktop_folder() {
  PWSTR p = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &p)) && p) out = narrow(p);
  CoTaskMemFree(p);
  return out.empty() ? without_trailing_slash(temp_dir()) : without_trailing_slash(out);
}

LocalStamp local_stamp_now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute};
}

SupportBundleEnv machine_support_bundle_env() {
  SupportBundleEnv e;
  e.desktop = desktop_folder();
  e.temp = without_trailing_slash(temp_dir());
  e.system_dir = system_folder();
  e.stamp = local_stamp_now();
  e.report = machine_diag_env();
  InstallPaths paths(machine_install_env([] { return lv1_running(system_lv1()); }));
  paths.locate_install();
  if (paths.state().installed) e.install_folder = paths.state().install_dir;
  return e;
}

bool create_support_bundle(const SupportBundleEnv& env, std::string& path, std::string& message) {
  path.clear();
  message.clear();
  BundleInputs in{env.desktop, env.temp, env.install_folder, env.system_dir, env.stamp};
  const BundlePlan plan = plan_support_bundle(in);
  // A second bundle in the same minute goes into the same folder, as the report file does.
  const std::wstring folder = widen(plan.folder);
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    message = kSupportFolderFailed;
    return false;
  }
  DWORD fa = GetFileAttributesW(folder.c_str());
  if (fa == INVALID_FILE_ATTRIBUTES || !(fa & FILE_ATTRIBUTE_DIRECTORY)) {
    message = kSupportFolderFailed;
    return false;
  }
  std::vector<std::string> collected;
  if (write_diagnostics_report(plan.report, env.report)) collected.push_back(plan.report);
  for (const auto& [from, to] : plan.copies)
    if (is_file_at(from) && copy_over(from, to)) collected.push_back(to);
  if (collected.empty()) {
    RemoveDirectoryW(folder.c_str());
    message = kSupportNothingYet;
    return false;
  }
  DeleteFileW(widen(plan.zip).c_str());  // a zip left from this minute must not pass for a new one
  const bool zipped = run_tar(plan, env.tar_timeout_ms) && is_file_at(plan.zip);
  path = bundle_result_path(plan, zipped, zipped);
  if (zipped) {
    for (const std::string& f : collected) DeleteFileW(widen(f).c_str());
    RemoveDirectoryW(folder.c_str());
  }
  tray_log("support bundle written: %s", path.c_str());
  return true;
}

bool create_support_bundle(std::string& path, std::string& message) {
  return create_support_bundle(machine_support_bundle_env(), path, message);
}

std::string save_diagnostics_file() {
  const std::string path = desktop_folder() + "\\" + diagnostics_file_name(local_stamp_now());
  return write_diagnostics_report(path) ? path : std::string();
}

bool save_diagnostics_to_desktop(HWND__* owner) {
  const std::string path = save_diagnostics_file();
  if (path.empty()) return false;
  show(owner, diagnostics_saved_message(path));
  return true;
}

bool save_support_bundle_to_desktop(HWND__* owner) {
  std::string path, message;
  const bool ok = create_support_bundle(path, message);
  show(owner, support_bundle_message(ok, ok ? path : message));
  return ok;
}

}  // namespace ks::tray
