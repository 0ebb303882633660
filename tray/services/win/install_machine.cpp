#include "tray/services/install_machine.h"

#include <windows.h>

#include <cwctype>

#include "crypto/module_signature.h"
#include "os/win/wide.h"
#include "tray/services/console_switch.h"
#include "tray/services/json.h"
#include "tray/services/tray_log.h"

#include "tray/services/version_info.inc"

namespace ks::tray {
namespace {

using win::narrow;
using win::widen;

std::wstring own_exe() {
  std::wstring buf(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  buf.resize(n < buf.size() ? n : 0);
  return buf;
}

std::string own_folder() {
  std::wstring exe = own_exe();
  size_t slash = exe.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string() : narrow(exe.substr(0, slash));
}

bool starts_with_nocase(const std::wstring& s, const std::wstring& prefix) {
  if (prefix.empty() || s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::towlower(s[i]) != std::towlower(prefix[i])) return false;
  return true;
}

}  // namespace

bool is_own_module_file(const std::string& path) {
  std::wstring w = widen(path);
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(w.c_str(), &ignored);
  if (size == 0) return false;
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(w.c_str(), 0, size, data.data())) return false;
  struct Translation {
    WORD language, code_page;
  }* tr = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr),
                      &len) ||
      !tr || len < sizeof(Translation))
    return false;
  wchar_t key[64];
  swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\ProductName", tr->language, tr->code_page);
  wchar_t* name = nullptr;
  if (!VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&name), &len) || !name || len == 0)
    return false;
  // The value's length counts its NUL; never read past what the resource holds.
  std::wstring product(name, wcsnlen(name, len));
  return _wcsicmp(product.c_str(), L"Kestrune") == 0;
}

uint32_t verify_module_in_child(const std::string& dll) {
  return run_load_test(narrow(own_exe()), dll);
}

uint32_t run_load_test(const std::string& program, const std::string& dll) {
  std::wstring cl = L"\"" + widen(program) + L"\" --verify-module \"" + widen(dll) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cl.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return GetLastError();
  uint32_t code;
  if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) {
    DWORD c = 1;
    code = GetExitCodeProcess(pi.hProcess, &c) ? c : 1;
  } else {
    TerminateProcess(pi.hProcess, 1);
    code = 258;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

uint32_t verify_module_here(const std::string& dll, bool have_path) {
  if (!have_path) return 87;
  if (LoadLibraryW(widen(dll).c_str())) return 0;
  DWORD e = GetLastError();
  return e ? e : 1;
}

bool program_runs_from_temp() {
  static const bool answer = [] {
    std::string dir = own_folder();
    std::wstring w = widen(dir) + L"\\";
    if (GetFileAttributesW((w + L"bridge.dll").c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    wchar_t tmp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
    if (n == 0 || n > MAX_PATH) return false;
    std::wstring short_form(tmp, n);
    wchar_t long_buf[32768] = {};
    DWORD m = GetLongPathNameW(tmp, long_buf, 32768);
    std::wstring long_form = m && m < 32768 ? std::wstring(long_buf, m) : std::wstring();
    return starts_with_nocase(w, short_form) || starts_with_nocase(w, long_form);
  }();
  return answer;
}

InstallEnv machine_install_env(std::function<bool()> lv1_running) {
  InstallEnv e;
  e.fs = &real_file_system();
  e.io_modules_dir = kIoModulesDir;
  e.disabled_dir = kDisabledDir;
  e.program_dir = own_folder();
  e.app_version = KS_VERSION_STRING;
  e.is_own_module = is_own_module_file;
  e.lv1_running = std::move(lv1_running);
  e.verify_module = verify_module_in_child;
  e.signature_ok = [](const std::string& p) { return verify_module_file(p); };
  e.sleep_ms = [](uint32_t ms) { Sleep(ms); };
  e.now_ms = [] { return static_cast<uint64_t>(GetTickCount64()); };
  e.signal_modules_changed = signal_modules_changed;
  e.running_from_temp = program_runs_from_temp;
  e.log = [](const std::string& line) { tray_log("%s", line.c_str()); };
  return e;
}

}  // namespace ks::tray
