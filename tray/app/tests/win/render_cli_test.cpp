// ks-test: timeout=300
// Kestrune.exe --render started as a person starts it: exit codes, messages' effect and the
// picture written, including a picture path that holds another mode's option.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
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

std::wstring temp_dir() {
  wchar_t buf[MAX_PATH] = {};
  const DWORD n = GetTempPathW(MAX_PATH, buf);
  std::wstring d(buf, n);
  if (!d.empty() && d.back() == L'\\') d.pop_back();
  return d;
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
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
    DWORD c = 0;
    if (GetExitCodeProcess(pi.hProcess, &c)) code = static_cast<long>(c);
  } else {
    TerminateProcess(pi.hProcess, 1);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// The width in a PNG's header, 0 when the file is no PNG.
uint32_t png_width(const std::wstring& path) {
  std::ifstream f(path.c_str(), std::ios::binary);
  unsigned char b[24] = {};
  if (!f.read(reinterpret_cast<char*>(b), 24) || b[1] != 'P' || b[2] != 'N' || b[3] != 'G')
    return 0;
  return (uint32_t{b[16]} << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
}

TEST(RenderCommandLine, ExitCodesAndPictures) {
  const std::wstring dir = temp_dir();
  // A folder whose name holds the unattended options: only a picture may appear in it.
  const std::wstring odd = dir + L"\\--remove --install --on=wing";
  CreateDirectoryW(odd.c_str(), nullptr);
  struct Case {
    std::wstring out;  // the picture's path, quoted on the command line
    std::wstring rest;
    long code;
    uint32_t width;  // 0: no picture
  } cases[] = {
      {dir + L"\\plain.png", L"", 0, 628},
      {dir + L"\\first.png", L" setup-first", 0, 628},
      {dir + L"\\wide.png", L" setupbusy 2 900", 0, 1800},
      {dir + L"\\zero.png", L" setup 1 0", 0, 628},
      {dir + L"\\narrow.png", L" setup 1 300", 0, 540},
      {dir + L"\\big.png", L" setup 9 540", 0, 2160},
      {dir + L"\\state.png", L" setup-", 2, 0},
      {dir + L"\\nostate.png", L" setup-nosuch", 2, 0},
      {dir + L"\\nopage.png", L" nosuch", 2, 0},
      {L"Z:\\no\\such\\folder\\x.png", L" setup", 1, 0},
      {odd + L"\\--remove.png", L" setup", 0, 628},
  };
  for (const Case& c : cases) {
    DeleteFileW(c.out.c_str());
    EXPECT_EQ(run(L" --render \"" + c.out + L"\"" + c.rest), c.code)
        << std::string(c.rest.begin(), c.rest.end());
    EXPECT_EQ(png_width(c.out), c.width) << std::string(c.rest.begin(), c.rest.end());
    DeleteFileW(c.out.c_str());
  }
  RemoveDirectoryW(odd.c_str());
}

}  // namespace
