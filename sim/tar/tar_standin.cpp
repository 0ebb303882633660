// Stand-in for Windows' tar.exe: "-a -c -f <archive> -C <folder> ." writes a zip (stored, no
// compression) of the folder's files. What a test asks of it comes through the environment:
//   KS_TAR_RECORD  a file that receives the whole command line, then one "file <name> <size>"
//                  line per file put into the archive
//   KS_TAR_MODE    "fail": writes nothing and exits 2; "hang": waits until it is ended
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring env(const wchar_t* name) {
  wchar_t buf[32768];
  DWORD n = GetEnvironmentVariableW(name, buf, 32768);
  return n && n < 32768 ? std::wstring(buf, n) : std::wstring();
}

std::string utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

uint32_t crc32(const std::string& d) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : d) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

void u16(std::string& o, uint32_t v) { o += char(v & 0xFF), o += char((v >> 8) & 0xFF); }
void u32(std::string& o, uint32_t v) { u16(o, v & 0xFFFF), u16(o, v >> 16); }

bool read_all(const std::wstring& path, std::string& out) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
  CloseHandle(h);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring record_path = env(L"KS_TAR_RECORD"), mode = env(L"KS_TAR_MODE");
  std::string record = utf8(GetCommandLineW()) + "\n";
  std::wstring archive, folder;
  bool create = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"-c")
      create = true;
    else if (a == L"-f" && i + 1 < argc)
      archive = argv[++i];
    else if (a == L"-C" && i + 1 < argc)
      folder = argv[++i];
  }
  auto finish = [&](int code) {
    if (!record_path.empty()) {
      FILE* f = _wfopen(record_path.c_str(), L"wb");
      if (f) {
        std::fwrite(record.data(), 1, record.size(), f);
        std::fclose(f);
      }
    }
    return code;
  };
  if (mode == L"hang") {
    finish(0);
    Sleep(INFINITE);
  }
  if (mode == L"fail") return finish(2);
  if (!create || archive.empty() || folder.empty()) return finish(1);

  std::string zip, central;
  uint32_t count = 0;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return finish(1);
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string data;
    if (!read_all(folder + L"\\" + fd.cFileName, data)) return finish(1);
    const std::string name = utf8(fd.cFileName);
    const uint32_t crc = crc32(data), at = static_cast<uint32_t>(zip.size());
    u32(zip, 0x04034b50), u16(zip, 20), u16(zip, 0x0800), u16(zip, 0), u16(zip, 0), u16(zip, 0);
    u32(zip, crc), u32(zip, uint32_t(data.size())), u32(zip, uint32_t(data.size()));
    u16(zip, uint32_t(name.size())), u16(zip, 0);
    zip += name + data;
    u32(central, 0x02014b50), u16(central, 20), u16(central, 20), u16(central, 0x0800),
        u16(central, 0);
    u16(central, 0), u16(central, 0), u32(central, crc), u32(central, uint32_t(data.size()));
    u32(central, uint32_t(data.size())), u16(central, uint32_t(name.size())), u16(central, 0),
        u16(central, 0);
    u16(central, 0), u16(central, 0), u32(central, 0), u32(central, at);
    central += name;
    record += "file " + name + " " + std::to_string(data.size()) + "\n";
    ++count;
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  const uint32_t dir_at = static_cast<uint32_t>(zip.size());
  zip += central;
  u32(zip, 0x06054b50), u16(zip, 0), u16(zip, 0), u16(zip, count), u16(zip, count);
  u32(zip, uint32_t(central.size())), u32(zip, dir_at), u16(zip, 0);
  FILE* out = _wfopen(archive.c_str(), L"wb");
  if (!out) return finish(1);
  const bool ok = std::fwrite(zip.data(), 1, zip.size(), out) == zip.size();
  std::fclose(out);
  return finish(ok ? 0 : 1);
}
