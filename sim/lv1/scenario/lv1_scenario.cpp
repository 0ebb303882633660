#include "sim/lv1/scenario/lv1_scenario.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sim/lv1/scenario/wine_paths.h"

namespace ks::sim {

namespace {

std::string temp_root() {
  char buf[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, buf);
  std::string t(buf, n);
  while (!t.empty() && (t.back() == '\\' || t.back() == '/')) t.pop_back();
  return t;
}

void make_dirs(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryW(wide(path.substr(0, at)).c_str(), nullptr);
  CreateDirectoryW(wide(path).c_str(), nullptr);
}

void copy_file(const std::string& from, const std::string& to) {
  if (!CopyFileW(wide(from).c_str(), wide(to).c_str(), FALSE)) {
    std::fprintf(stderr, "scenario: cannot copy %s to %s (error %lu)\n", from.c_str(), to.c_str(),
                 GetLastError());
    std::abort();
  }
}

void replace_all(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

Journal parse_journal(const std::string& text) {
  Journal j;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    JournalLine l{};
    char* end = nullptr;
    l.ms = std::strtod(line.c_str(), &end);
    size_t at = static_cast<size_t>(end - line.c_str());
    if (at + 2 < line.size() && line[at] == ' ' && line[at + 1] == 't') {
      l.thread = static_cast<uint32_t>(std::strtoul(line.c_str() + at + 2, &end, 10));
      at = static_cast<size_t>(end - line.c_str()) + 1;
    }
    l.text = at < line.size() ? line.substr(at) : std::string();
    j.lines.push_back(l);
  }
  return j;
}

int g_cases = 0;

}  // namespace

int Journal::count(const std::string& needle) const {
  int n = 0;
  for (const JournalLine& l : lines) n += l.text.find(needle) != std::string::npos;
  return n;
}

const JournalLine* Journal::first(const std::string& needle) const {
  for (const JournalLine& l : lines)
    if (l.text.find(needle) != std::string::npos) return &l;
  return nullptr;
}

std::vector<const JournalLine*> Journal::all(const std::string& needle) const {
  std::vector<const JournalLine*> out;
  for (const JournalLine& l : lines)
    if (l.text.find(needle) != std::string::npos) out.push_back(&l);
  return out;
}

bool RunResult::finished() const {
  return !timed_out && exit_code == 0 && !journal.lines.empty() &&
         journal.lines.back().text == "done";
}

Scenario::Scenario(const std::string& name, const std::vector<std::string>& waves,
                   const std::string& module_root) {
  case_ = temp_root() + "\\" + name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(++g_cases);
  root_ = module_root.empty() ? case_ + "\\SoundGrid IO Modules" : module_root;
  temp_ = case_ + "\\tmp";
  make_dirs(loader_folder());
  make_dirs(temp_);
  copy_file(windows_path(KS_KESTRUNE_DLL), loader_folder() + "\\Kestrune.dll");
  for (const std::string& m : waves) {
    const std::string dir = root_ + "\\" + m + ".bundle\\Contents\\Win64";
    make_dirs(dir);
    copy_file(windows_path(KS_WAVES_DLL), dir + "\\" + m + ".dll");
  }
}

RunResult Scenario::run(const std::string& script, uint32_t timeout_ms) {
  std::string body = "env TEMP \"" + temp_ + "\"\nenv TMP \"" + temp_ + "\"\nload \"" +
                     loader_folder() + "\\Kestrune.dll\"\n" + script;
  replace_all(body, "$BUNDLE", bundle());
  replace_all(body, "$ROOT", root_);
  const std::string script_path = case_ + "\\script.txt";
  const std::string journal_path = case_ + "\\journal.txt";
  {
    std::ofstream out(script_path, std::ios::binary);
    out << body << "\n";
  }
  std::wstring cmd = L"\"" + wide(windows_path(KS_LV1SIM_EXE)) + L"\" \"" + wide(journal_path) +
                     L"\" \"" + wide(script_path) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  RunResult r;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, wide(case_).c_str(),
                      &si, &pi)) {
    r.exit_code = 0xFFFFFFFF;
    return r;
  }
  if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_TIMEOUT) {
    r.timed_out = true;
    TerminateProcess(pi.hProcess, 0xDEAD);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  r.exit_code = code;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  r.journal = parse_journal(read_text(journal_path));
  return r;
}

std::string Scenario::log(int channel) const {
  static const char* const names[] = {"kestrune-loader.log", "kestrune.log", "kestrune-x32.log"};
  if (channel < 0 || channel > 2) return {};
  return read_text(temp_ + "\\" + names[channel]);
}

std::string read_text(const std::string& path) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  CloseHandle(h);
  return out;
}

int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++n;
  return n;
}

}  // namespace ks::sim
