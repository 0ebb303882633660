// The version resource of Kestrune.dll, read the way Windows and the tray program read it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring dll_path() {
  std::string p = KS_KESTRUNE_DLL;
  if (!p.empty() && p[0] == '/') {
    for (char& c : p)
      if (c == '/') c = '\\';
    p = "Z:" + p;
  }
  return std::wstring(p.begin(), p.end());
}

TEST(KestruneDll, VersionResource) {
  const std::wstring path = dll_path();
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u) << GetLastError();
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS, (17u << 16) | 0u);
  EXPECT_EQ(fixed->dwFileVersionLS, (69u << 16) | 70u);
  EXPECT_EQ(fixed->dwProductVersionMS, (17u << 16) | 0u);
  EXPECT_EQ(fixed->dwProductVersionLS, (69u << 16) | 70u);
  struct Case {
    const wchar_t* key;
    const wchar_t* value;
  } cases[] = {
      {L"FileDescription", L"Kestrune preamp control for SoundGrid"},
      {L"InternalName", L"Kestrune"},
      {L"ProductName", L"Kestrune"},
      {L"OriginalFilename", L"SoundGrid Wing Control.dll"},
  };
  for (const Case& c : cases) {
    wchar_t* value = nullptr;
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + c.key;
    ASSERT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &len));
    EXPECT_EQ(std::wstring(value), c.value);
  }
}

}  // namespace
