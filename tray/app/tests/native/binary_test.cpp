// Kestrune.exe as Windows meets it: a 64-bit GUI program importing Windows system DLLs only
// (nothing of the C++ runtime beside it), carrying the common-controls v6 manifest and its
// version resource. Reads the Windows build's program with the cross binutils.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

const std::string kWindowsBuild = KS_WINDOWS_BUILD;

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
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

// The resource section's bytes by virtual address, from objdump's hex dump.
std::map<unsigned long, unsigned char> rsrc_bytes(const std::string& exe) {
  std::map<unsigned long, unsigned char> bytes;
  std::istringstream in(run("x86_64-w64-mingw32-objdump -s -j .rsrc '" + exe + "'"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::string addr;
    if (!(l >> addr) || addr.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
    unsigned long at = std::stoul(addr, nullptr, 16);
    std::string word;
    for (int w = 0; w < 4 && (l >> word); ++w) {
      if (word.size() != 8 || word.find_first_not_of("0123456789abcdef") != std::string::npos)
        break;
      for (int i = 0; i < 4; ++i)
        bytes[at++] = static_cast<unsigned char>(std::stoul(word.substr(2 * i, 2), nullptr, 16));
    }
  }
  return bytes;
}

std::string slice(const std::map<unsigned long, unsigned char>& bytes, unsigned long at,
                  unsigned long size) {
  std::string s;
  for (unsigned long i = 0; i < size; ++i) {
    auto it = bytes.find(at + i);
    if (it == bytes.end()) break;
    s += static_cast<char>(it->second);
  }
  return s;
}

std::string utf16(const std::string& ascii) {
  std::string s;
  for (char c : ascii) {
    s += c;
    s += '\0';
  }
  return s;
}

class KestruneExe : public ::testing::Test {
protected:
  void SetUp() override {
    if (!exists(kWindowsBuild + "/CMakeCache.txt"))
      GTEST_SKIP() << "no Windows build configured at " << kWindowsBuild;
    exe = kWindowsBuild + "/tray/app/Kestrune.exe";
    ASSERT_TRUE(exists(exe)) << "build the Windows tree first: " << exe;
    dump = run("x86_64-w64-mingw32-objdump -p '" + exe + "'");
  }
  std::string exe, dump;
};

TEST_F(KestruneExe, GuiProgramPe32PlusImportingSystemDllsOnly) {
  ASSERT_NE(dump.find("file format pei-x86-64"), std::string::npos) << dump.substr(0, 400);
  EXPECT_NE(dump.find("(PE32+)"), std::string::npos);
  EXPECT_NE(dump.find("Subsystem\t\t00000002\t(Windows GUI)"), std::string::npos);

  const std::set<std::string> system = {
      "kernel32.dll", "msvcrt.dll",   "ntdll.dll",    "user32.dll",  "advapi32.dll",
      "bcrypt.dll",   "ws2_32.dll",   "iphlpapi.dll", "version.dll", "shell32.dll",
      "gdi32.dll",    "comctl32.dll", "ole32.dll",    "gdiplus.dll", "winhttp.dll",
      "wevtapi.dll",  "uxtheme.dll",  "dwmapi.dll",   "shlwapi.dll"};
  std::set<std::string> imports;
  const std::string key = "DLL Name: ";
  for (size_t at = dump.find(key); at != std::string::npos; at = dump.find(key, at + 1)) {
    std::string name = dump.substr(at + key.size(), dump.find('\n', at) - at - key.size());
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    imports.insert(name);
  }
  EXPECT_TRUE(imports.count("kernel32.dll"));
  for (const std::string& name : imports) EXPECT_TRUE(system.count(name)) << "imports " << name;
}

TEST_F(KestruneExe, CarriesTheManifestAndTheVersionResource) {
  // Type 24 (manifest) with id 1, the one Windows reads at process start, and type 16 (version).
  const size_t table = dump.find("The .rsrc Resource Directory section:");
  ASSERT_NE(table, std::string::npos);
  const std::string dir = dump.substr(table, dump.find("Resources start at", table) - table);
  const size_t manifest = dir.find("Entry: ID: 0x000018");
  const size_t version = dir.find("Entry: ID: 0x000010");
  ASSERT_NE(manifest, std::string::npos) << dir;
  ASSERT_NE(version, std::string::npos) << dir;
  EXPECT_EQ(dir.find("Entry: ID: ", dir.find('\n', manifest)),
            dir.find("Entry: ID: 0x000001", manifest))
      << "the manifest's id is 1";

  // The leaves' bytes.
  // Leaf addresses are relative to the image base; the hex dump prints full addresses.
  const size_t base_at = dump.find("ImageBase\t\t");
  ASSERT_NE(base_at, std::string::npos);
  const unsigned long base = std::stoul(dump.substr(base_at + 11, 16), nullptr, 16);
  auto leaf = [&](size_t from) {
    const size_t at = dir.find("Leaf: Addr: 0x", from);
    unsigned long addr = std::stoul(dir.substr(at + 14, 10), nullptr, 16);
    const size_t sz = dir.find("Size: 0x", at);
    unsigned long size = std::stoul(dir.substr(sz + 8, 10), nullptr, 16);
    return std::make_pair(base + addr, size);
  };
  const auto bytes = rsrc_bytes(exe);
  ASSERT_FALSE(bytes.empty());
  auto [maddr, msize] = leaf(manifest);
  const std::string xml = slice(bytes, maddr, msize);
  EXPECT_NE(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
  EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos);

  auto [vaddr, vsize] = leaf(version);
  const std::string ver = slice(bytes, vaddr, vsize);
  EXPECT_NE(ver.find(utf16("VS_VERSION_INFO")), std::string::npos);
  // A string's value follows its key, its NUL and the padding to 32 bits.
  auto value = [&](const std::string& k) {
    size_t at = ver.find(utf16(k) + std::string(2, '\0'));
    if (at == std::string::npos) return std::string("(no ") + k + ")";
    at += 2 * k.size() + 2;
    while (at + 1 < ver.size() && ver[at] == '\0' && ver[at + 1] == '\0') at += 2;
    std::string v;
    for (; at + 1 < ver.size() && (ver[at] || ver[at + 1]); at += 2) v += ver[at];
    return v;
  };
  EXPECT_EQ(value("ProductName"), "Kestrune");
  EXPECT_EQ(value("OriginalFilename"), "Kestrune.exe");
  EXPECT_EQ(value("ProductVersion"), "3.2.0");
  // VS_FIXEDFILEINFO: signature, struct version, then file version 3.2.0.0 (MS: 3 << 16 | 2).
  const std::string fixed("\xbd\x04\xef\xfe\x00\x00\x01\x00\x02\x00\x03\x00\x00\x00\x00\x00", 16);
  EXPECT_NE(ver.find(fixed), std::string::npos);
}

}  // namespace
