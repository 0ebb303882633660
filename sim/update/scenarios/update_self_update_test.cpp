// The updater end to end under Wine against the update server's stand-in: a running tray program
// (the host, copied into a program folder as Kestrune.exe) checks, installs the new WING module
// into the installed bundle, and stages the new loader and program; nothing is placed while the
// LV1 stand-in runs; once it ends the loader and program are placed beside the running one, the
// new Kestrune.exe is started with --updated=<pid> and the old copy closes; the new one waits for
// it and removes the old file.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "os/file.h"
#include "os/win/wide.h"
#include "sim/update/win/root_store.h"
#include "tray/services/file_sig.h"
#include "tray/services/fs_ops.h"
#include "tray/services/tests/support/files.h"
#include "tray/services/tray_log.h"
#include "tray/services/updater.h"

namespace ks::tray {
namespace {

using testing::mk;
using testing::slurp;
using testing::TempFolder;

bool eventually(const std::function<bool()>& ready, int limit_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The new program stays as the resident tray program: closed through its menu's exit command,
// and any copy still running from `exe` after that is ended, so that no tray program outlives the
// test (it would hold the single-instance name and the test's output pipes).
void close_tray_programs(const std::string& exe) {
  if (HWND tray = FindWindowW(L"KestruneTray", nullptr)) {
    PostMessageW(tray, WM_COMMAND, 1022, 0);
    eventually([] { return FindWindowW(L"KestruneTray", nullptr) == nullptr; }, 10000);
  }
  const std::wstring want = ks::win::widen(exe);
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
    if (_wcsicmp(e.szExeFile, L"Kestrune.exe") != 0) continue;
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                           FALSE, e.th32ProcessID);
    if (!p) continue;
    wchar_t path[MAX_PATH * 2];
    DWORD n = MAX_PATH * 2;
    if (QueryFullProcessImageNameW(p, 0, path, &n) && _wcsicmp(path, want.c_str()) == 0) {
      TerminateProcess(p, 0);
      WaitForSingleObject(p, 5000);
    }
    CloseHandle(p);
  }
  CloseHandle(snap);
}

struct Process {
  PROCESS_INFORMATION pi{};
  bool start(const std::string& exe, const std::string& args) {
    std::wstring cmd = L"\"" + win::widen(exe) + L"\" " + win::widen(args);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    return CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &si, &pi);
  }
  bool ended(DWORD ms, DWORD* code = nullptr) {
    if (!pi.hProcess || WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return false;
    if (code) GetExitCodeProcess(pi.hProcess, code);
    return true;
  }
  void end() {
    if (!pi.hProcess) return;
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    pi = {};
  }
  ~Process() { end(); }
};

std::string entry(const char* role, const char* file, const char* extra, const char* source) {
  return std::string(R"({"role":")") + role + R"(","file":")" + file + R"(","version":"3.3.0",)" +
         extra + R"("source":")" + source + R"("})";
}

TEST(SelfUpdate, StagedWhileLv1RunsPlacedWhenItEndsAndTheNewProgramTakesOver) {
  std::string why;
  ASSERT_TRUE(sim::trust_test_root(KS_UPDATE_CERTS "/ca.der", why)) << why;
  ASSERT_TRUE(sim::set_server_mode("good"));
  ASSERT_TRUE(sim::set_server_release(
      std::string(R"({"version":"3.3.0","entries":[)") +
      entry("module", "wing-3.3.0.dll", R"("console":"wing","abi":3,)", KS_NEW_WING) + "," +
      entry("loader", "Kestrune.dll", "", KS_NEW_LOADER) + "," +
      entry("app", "Kestrune.exe", R"("edition":"standard",)", KS_NEW_APP) + "]}"));
  FileSystem& fs = real_file_system();
  const std::string updates = updates_folder();
  ASSERT_FALSE(updates.empty());
  ASSERT_TRUE(fs.remove_tree(updates));

  TempFolder root;
  const std::string prog = root.at("Kestrune"), exe = join(prog, "Kestrune.exe");
  struct CloseAtEnd {
    std::string exe;
    ~CloseAtEnd() { close_tray_programs(exe); }
  } close_at_end{exe};
  const std::string bundle = join(join(root.at("Kestrune.bundle"), "Contents"), "Win64");
  mk(exe, slurp(sim::wine_path(KS_TRAY_HOST)));
  mk(join(prog, "Kestrune.dll"), "the loader of 3.2.0");
  ASSERT_TRUE(fs.make_dirs(join(bundle, "modules")));
  const std::string lv1 = root.at("eMotion LV1.exe");
  mk(lv1, slurp(sim::wine_path(KS_LV1_STANDIN)));
  const std::string log_path = tray_log_path();
  remove_file(log_path);

  Process lv1proc, host;
  ASSERT_TRUE(lv1proc.start(lv1, "120"));
  ASSERT_TRUE(host.start(exe, "\"" + bundle + "\""));

  // The check runs on the second tick; the module goes live into the bundle, the rest is staged.
  const std::string ready = join(join(updates, "staged"), "ready");
  ASSERT_TRUE(eventually([&] { return slurp(ready) == "3.3.0"; }, 60000)) << slurp(log_path);
  EXPECT_TRUE(verify_file_sig(join(join(bundle, "modules"), "wing-3.3.0.dll"))) << slurp(log_path);
  EXPECT_EQ(slurp(join(join(bundle, "modules"), "wing-3.3.0.dll")),
            slurp(sim::wine_path(KS_NEW_WING)));

  // LV1 runs: nothing is placed however many ticks go by.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(slurp(exe), slurp(sim::wine_path(KS_TRAY_HOST)));
  EXPECT_EQ(slurp(join(prog, "Kestrune.dll")), "the loader of 3.2.0");
  EXPECT_FALSE(host.ended(0)) << slurp(log_path);

  lv1proc.end();
  DWORD code = 99;
  ASSERT_TRUE(host.ended(30000, &code)) << "the old copy closes once the new one runs\n"
                                        << slurp(log_path);
  EXPECT_EQ(code, 0u);
  // The new program waits for the old one to end, then removes it.
  EXPECT_TRUE(eventually([&] { return !file_exists(exe + ".old"); }, 30000)) << slurp(log_path);

  EXPECT_EQ(slurp(exe), slurp(sim::wine_path(KS_NEW_APP)));
  EXPECT_TRUE(verify_file_sig(exe));
  EXPECT_EQ(slurp(join(prog, "Kestrune.dll")), slurp(sim::wine_path(KS_NEW_LOADER)));
  EXPECT_TRUE(verify_file_sig(join(prog, "Kestrune.dll")));
  EXPECT_TRUE(verify_file_sig(join(join(prog, "modules"), "wing-3.3.0.dll")));
  EXPECT_FALSE(exists(fs, join(updates, "staged"))) << "placed, the staging area is emptied";
  EXPECT_EQ(slurp(install_pending_path()), "3.3.0")
      << "the loader's install follows while LV1 is closed";
  const std::string log = slurp(log_path);
  EXPECT_NE(log.find("update: wing-3.3.0.dll verified and installed"), std::string::npos) << log;
  EXPECT_NE(log.find("update: Kestrune 3.3.0 staged - it installs the next time LV1 is closed"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("update: Kestrune 3.3.0 placed beside the app - restarting into it"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("could not start"), std::string::npos) << log;
  fs.remove_tree(updates);
}

}  // namespace
}  // namespace ks::tray
