// Kestrune.dll as LV1 meets it: the one export is the factory, and every import is a Windows
// system DLL (LV1's folders hold no C++ runtime, and a dependency found beside the loader would
// be code nobody checked). Reads the Windows build's DLL with the cross binutils.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

const std::string kWindowsBuild = KS_WINDOWS_BUILD;

std::string objdump(const std::string& file) {
  std::string out;
  FILE* p = popen(("x86_64-w64-mingw32-objdump -p '" + file + "' 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::set<std::string> lines_after(const std::string& dump, const std::string& key) {
  std::set<std::string> out;
  for (size_t at = dump.find(key); at != std::string::npos; at = dump.find(key, at + 1)) {
    size_t end = dump.find('\n', at);
    out.insert(dump.substr(at + key.size(), end - at - key.size()));
  }
  return out;
}

TEST(KestruneDll, ExportsOnlyTheFactoryAndImportsOnlySystemDlls) {
  if (!exists(kWindowsBuild + "/CMakeCache.txt"))
    GTEST_SKIP() << "no Windows build configured at " << kWindowsBuild;
  const std::string dll = kWindowsBuild + "/loader/Kestrune.dll";
  ASSERT_TRUE(exists(dll)) << "build the Windows tree first: " << dll;
  const std::string dump = objdump(dll);
  ASSERT_NE(dump.find("file format pei-x86-64"), std::string::npos) << dump.substr(0, 400);

  // "[   0] name" lines of the export name table.
  std::set<std::string> exports;
  const size_t table = dump.find("[Ordinal/Name Pointer] Table");
  ASSERT_NE(table, std::string::npos);
  for (size_t at = dump.find("\t[", table);
       at != std::string::npos && at < dump.find("\n\n", table); at = dump.find("\t[", at + 1)) {
    size_t close = dump.find("] ", at);
    size_t end = dump.find('\n', at);
    exports.insert(dump.substr(close + 2, end - close - 2));
  }
  EXPECT_EQ(exports, (std::set<std::string>{"create_waves_iobox_module_interface_ver9"}));

  // DLLs every Windows installation has in System32 (compared in lower case).
  const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll", "ntdll.dll",  "user32.dll",
                                        "advapi32.dll", "bcrypt.dll", "ws2_32.dll", "iphlpapi.dll",
                                        "version.dll",  "shell32.dll"};
  std::set<std::string> imports = lines_after(dump, "DLL Name: ");
  EXPECT_FALSE(imports.empty());
  for (std::string name : imports) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(system.count(name)) << "imports " << name;
  }
}

}  // namespace
