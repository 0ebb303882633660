#include "os/tests/support/process.h"

#include <atomic>

#include "os/thread.h"

#ifdef _WIN32
#include <windows.h>
#include "os/win/wide.h"
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
extern char** environ;
#endif

namespace ks::testing {

std::string exe_dir() {
#ifdef _WIN32
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  std::string path = win::narrow(std::wstring_view(buf, n));
  return path.substr(0, path.find_last_of("\\/") + 1);
#else
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path(buf, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.find_last_of('/') + 1);
#endif
}

std::string peer_path() {
#ifdef _WIN32
  return exe_dir() + "os_peer.exe";
#else
  return exe_dir() + "os_peer";
#endif
}

std::string unique_name(const std::string& stem) {
  static std::atomic<int> seq{0};
  return "Local\\ks-test-" + stem + "-" + std::to_string(current_process_id()) + "-" +
         std::to_string(seq++);
}

Child::~Child() { kill(); }

#ifdef _WIN32

bool Child::start(const std::string& program, const std::vector<std::string>& args) {
  std::string cmd = "\"" + program + "\"";
  for (const auto& a : args) cmd += " \"" + a + "\"";
  std::wstring wcmd = win::widen(cmd);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, wcmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  pid_ = reinterpret_cast<intptr_t>(pi.hProcess);
  return true;
}

bool Child::wait(uint32_t timeout_ms, int& exit_code) {
  if (pid_ == -1) return false;
  HANDLE h = reinterpret_cast<HANDLE>(pid_);
  if (WaitForSingleObject(h, timeout_ms) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(h, &code);
  exit_code = static_cast<int>(code);
  CloseHandle(h);
  pid_ = -1;
  return true;
}

void Child::kill() {
  if (pid_ == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(pid_);
  TerminateProcess(h, 99);
  WaitForSingleObject(h, 5000);
  CloseHandle(h);
  pid_ = -1;
}

#else

bool Child::start(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  pid_ = pid;
  return true;
}

bool Child::wait(uint32_t timeout_ms, int& exit_code) {
  if (pid_ == -1) return false;
  for (uint32_t waited = 0;; waited += 5) {
    int status = 0;
    pid_t r = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (r == pid_) {
      exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
      return true;
    }
    if (r < 0 || waited >= timeout_ms) return false;
    timespec ts{0, 5000000};
    nanosleep(&ts, nullptr);
  }
}

void Child::kill() {
  if (pid_ == -1) return;
  ::kill(static_cast<pid_t>(pid_), SIGKILL);
  int status;
  waitpid(static_cast<pid_t>(pid_), &status, 0);
  pid_ = -1;
}

#endif

}  // namespace ks::testing
