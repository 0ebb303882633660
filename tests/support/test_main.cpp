// The main() of every test executable: gives each test run its own temporary folder, then runs
// gtest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
// Unix paths reach Windows programs through drive Z:.
std::string windows_path(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}
#endif

// tools/wine-run (and the native ctest run, via KS_TEST_TEMP when set) names a Unix folder;
// under Wine the Unix root is drive Z:.
void use_private_temp() {
  const char* dir = std::getenv("KS_TEST_TEMP");
  if (!dir || !*dir) return;
#ifdef _WIN32
  std::string win = windows_path(dir);
  CreateDirectoryA(win.c_str(), nullptr);
  SetEnvironmentVariableA("TEMP", win.c_str());
  SetEnvironmentVariableA("TMP", win.c_str());
#else
  mkdir(dir, 0700);
  setenv("TMPDIR", dir, 1);
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // gtest takes "/work/..." as relative on Windows; give it the Z: form of the report path
  // before InitGoogleTest, which sets up the report.
  std::string out = GTEST_FLAG_GET(output);
  if (out.rfind("xml:/", 0) == 0) GTEST_FLAG_SET(output, "xml:" + windows_path(out.substr(4)));
#endif
  testing::InitGoogleTest(&argc, argv);
  use_private_temp();
  return RUN_ALL_TESTS();
}
