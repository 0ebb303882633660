// Finding LV1 under Wine: the stand-in "eMotion LV1.exe" installed where LV1 lives, started and
// ended, seen through the real process list, process times and version resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "os/file.h"
#include "os/win/wide.h"
#include "sim/lv1proc/mixercore_image.h"
#include "tray/services/lv1_build.h"

namespace ks::tray {
namespace {

const std::string kFolder = "C:\\Program Files (x86)\\Waves\\eMotion LV1";

bool eventually(const std::function<bool()>& ready, int limit_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

struct StandIn {
  PROCESS_INFORMATION pi{};
  bool start(const std::string& exe) {
    std::wstring cmd = L"\"" + win::widen(exe) + L"\" 120";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    return CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &si, &pi);
  }
  void end() {
    if (!pi.hProcess) return;
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    pi = {};
  }
  ~StandIn() { end(); }
};

struct Lv1Install : ::testing::Test {
  const std::string exe = kFolder + "\\eMotion LV1.exe";
  const std::string mixer = kFolder + "\\Modules\\MixerCoreSG.dll";
  void SetUp() override {
    ASSERT_TRUE(make_dirs(kFolder + "\\Modules"));
    ASSERT_TRUE(CopyFileW(win::widen(KS_LV1_STANDIN).c_str(), win::widen(exe).c_str(), FALSE));
  }
  void TearDown() override {
    remove_file(exe);
    remove_file(mixer);
  }
};

TEST_F(Lv1Install, RunningUptimeAndPathFollowTheStandIn) {
  Lv1System& sys = system_lv1();
  ASSERT_FALSE(lv1_running(sys));
  EXPECT_EQ(lv1_uptime_ms(sys), -1);
  EXPECT_EQ(lv1_exe_path(sys), kLv1Locations[0]);

  StandIn first;
  ASSERT_TRUE(first.start(exe));
  ASSERT_TRUE(eventually([&] { return lv1_running(sys); }, 10000));
  ASSERT_TRUE(eventually([&] { return lv1_uptime_ms(sys) >= 0; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  const int32_t up = lv1_uptime_ms(sys);
  EXPECT_GE(up, 500);
  EXPECT_LT(up, 60000);

  StandIn second;  // a second LV1: the uptime stays the first one's
  ASSERT_TRUE(second.start(exe));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<ProcessEntry> list;
  ASSERT_TRUE(sys.processes(list));
  int seen = 0;
  for (const ProcessEntry& p : list) seen += p.exe == kLv1ExeName;
  EXPECT_EQ(seen, 2);
  EXPECT_GE(lv1_uptime_ms(sys), up);

  first.end();
  second.end();
  EXPECT_TRUE(eventually([&] { return !lv1_running(sys); }, 10000));
  EXPECT_EQ(lv1_uptime_ms(sys), -1);
}

TEST_F(Lv1Install, BuildCheckReadsTheGeneratedMixerCore) {
  const BuiltinProfile& p = kBuiltinProfiles[2];
  ASSERT_TRUE(
      sim::write_mixercore_image(mixer, {p.prologue_rva, p.load_rva, p.displacement, true}));
  Lv1BuildCache cache({});
  Lv1BuildInfo info = cache.get();
  EXPECT_TRUE(info.matched);
  EXPECT_EQ(info.profile_name, "v17.3");
  EXPECT_EQ(info.mixer_path, mixer);
  uint64_t size = 0;
  ASSERT_TRUE(file_size(mixer, size));
  EXPECT_EQ(info.mixer_size, size);
  ASSERT_TRUE(
      sim::write_mixercore_image(mixer, {p.prologue_rva, p.load_rva, p.displacement + 1, true}));
  EXPECT_FALSE(cache.get(true).matched);
}

TEST(FileVersion, FromTheFixedVersionInformation) {
  wchar_t sys32[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(sys32, MAX_PATH), 0u);
  const std::string v = system_lv1().file_version(win::narrow(sys32) + "\\kernel32.dll");
  int a, b, c, d;
  char end;
  EXPECT_EQ(std::sscanf(v.c_str(), "%d.%d.%d.%d%c", &a, &b, &c, &d, &end), 4) << v;
  EXPECT_EQ(system_lv1().file_version("C:\\no\\such.dll"), "");
}

}  // namespace
}  // namespace ks::tray
