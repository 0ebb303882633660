// ks-test: timeout=180
// Kestrune.exe started the way the installer starts it for the module load test: the exit code
// says whether the library loaded in that throw-away process.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::wstring win_path(std::string p) {
  if (!p.empty() && p[0] == '/') {
    for (char& c : p)
      if (c == '/') c = '\\';
    p = "Z:" + p;
  }
  return std::wstring(p.begin(), p.end());
}

// Runs Kestrune.exe with `tail` after its quoted path, no window; its exit code or -1.
long run(const std::wstring& tail) {
  std::wstring cmd = L"\"" + win_path(KS_KESTRUNE_EXE) + L"\"" + tail;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return -1;
  long code = -1;
  if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) {
    DWORD c = 0;
    if (GetExitCodeProcess(pi.hProcess, &c)) code = static_cast<long>(c);
  } else {
    TerminateProcess(pi.hProcess, 1);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

TEST(VerifyModule, ExitCodeTellsWhetherTheLibraryLoaded) {
  struct Case {
    std::wstring tail;
    long code;
    const char* why;
  } cases[] = {
      {L" --verify-module", 87, "no path"},
      {L" --verify-module \"" + win_path(KS_LOADS_OK_DLL) + L"\"", 0, "a library that loads"},
      {L" --verify-module \"" + win_path(KS_REFUSES_LOAD_DLL) + L"\"", ERROR_DLL_INIT_FAILED,
       "its entry refuses"},
      {L" --verify-module \"C:\\no such folder\\missing.dll\"", ERROR_MOD_NOT_FOUND,
       "no such file"},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.tail), c.code) << c.why;
  // Without a mode it is the resident program, which stays: tray/app/tests/desktop covers it.
}

std::string tray_log() {
  char dir[MAX_PATH];
  const DWORD n = GetTempPathA(MAX_PATH, dir);
  std::ifstream in(std::string(dir, n) + "kestrune-tray.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The unattended modes are rows of the program's mode table: on a machine where nothing is
// installed each one fails with exit code 1 and says so in the tray log. (What they do on an LV1
// machine is proven on laid-out trees by the installer's own tests.)
TEST(UnattendedModes, EachFailsCleanlyWhereNothingIsInstalled) {
  for (const wchar_t* mode :
       {L" --install", L" --remove", L" --on=wing", L" --off=X32", L" --on=nothing"}) {
    const std::string before = tray_log();
    EXPECT_EQ(run(mode), 1) << std::string(mode, mode + wcslen(mode));
    const std::string added = tray_log().substr(before.size());
    EXPECT_NE(added.find("unattended "), std::string::npos) << added;
    EXPECT_NE(added.find(": FAILED"), std::string::npos) << added;
  }
}

// "--render" is a row of the mode table: the PNG is written where the command line says, and an
// unknown page is refused with exit code 2.
TEST(RenderMode, WritesThePngItIsAskedFor) {
  char dir[MAX_PATH];
  const DWORD n = GetTempPathA(MAX_PATH, dir);
  const std::string png = std::string(dir, n) + "render-mode.png";
  DeleteFileA(png.c_str());
  const std::wstring wpng(png.begin(), png.end());
  EXPECT_EQ(run(L" --render \"" + wpng + L"\" setup-first 2 540"), 0);
  std::ifstream in(png, std::ios::binary);
  char magic[8] = {};
  in.read(magic, sizeof magic);
  EXPECT_EQ(std::string(magic, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(run(L" --render \"" + wpng + L"\" nosuchpage"), 2);
  EXPECT_EQ(run(L" --render \"" + wpng + L"\" setup-nosuchstate"), 2);
}

}  // namespace
