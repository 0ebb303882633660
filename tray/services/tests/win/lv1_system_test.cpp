// The real process watch: a held handle tells a process that runs from one that ended, and an id
// that names another program is not taken for the one listed.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tray/services/lv1_build.h"

namespace ks::tray {
namespace {

TEST(Lv1ProcessWatch, TellsRunningFromEndedAndChecksTheName) {
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring cmd = std::wstring(L"\"") + self + L"\" --gtest_list_tests";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // Suspended, it runs until it is ended here.
  ASSERT_TRUE(CreateProcessW(self, cmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &si, &pi));
  std::wstring base = self;
  base = base.substr(base.find_last_of(L'\\') + 1);
  ProcessEntry listed{std::string(base.begin(), base.end()), static_cast<uint32_t>(pi.dwProcessId)};
  Lv1System& sys = system_lv1();

  EXPECT_EQ(sys.watch_process({"eMotion LV1.exe", listed.pid}), ProcessWatch::unknown);
  EXPECT_EQ(sys.watch_process({listed.exe.substr(3), listed.pid}),
            ProcessWatch::unknown);  // only its tail
  EXPECT_EQ(sys.watch_process(listed), ProcessWatch::runs);
  EXPECT_EQ(sys.watch_process(listed), ProcessWatch::runs);
  TerminateProcess(pi.hProcess, 0);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(sys.watch_process(listed), ProcessWatch::ended);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

}  // namespace
}  // namespace ks::tray
