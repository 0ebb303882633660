#include "tray/app/tests/desktop/plugin_side.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/lv1/script_text.h"
#include "sim/wing/discovery.h"
#include "sim/wing/wing_sim.h"
#include "tray/services/install_paths.h"
#include "tray/services/lv1_build.h"

namespace ks::tray::testing {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool write_text(const fs::path& p, const std::string& text) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

bool copy(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(fs::path(to).parent_path(), ec);
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

bool launch(const std::string& cmdline, PROCESS_INFORMATION& pi) {
  std::wstring cmd = wide(cmdline);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  return CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi) != 0;
}

void end(PROCESS_INFORMATION& pi, DWORD grace_ms) {
  if (!pi.hProcess) return;
  if (WaitForSingleObject(pi.hProcess, grace_ms) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
  WaitForSingleObject(pi.hProcess, 5000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  pi = {};
}

}  // namespace

std::string win_path(const char* unix_path) {
  return unix_path[0] == '/' ? std::string("Z:") + unix_path : std::string(unix_path);
}

struct PluginSide::Desk {
  sim::WingSim wing;
  sim::DiscoveryResponder answers;
};

PluginSide::PluginSide() : desk_(std::make_unique<Desk>()) {
  io_ = kIoModulesDir;
  win64_ = io_ + "\\Kestrune.bundle\\Contents\\Win64";
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH + 1, temp);
  case_ = std::string(temp) + "plugin-side-" + std::to_string(GetCurrentProcessId());
  temp_ = case_ + "\\tmp";
  go_end_ = case_ + "\\go-end";
}

PluginSide::~PluginSide() {
  write_text(go_end_, "end");
  end(lv1sim_, 10000);
  end(lv1_process_, 0);
  desk_->answers.stop();
  desk_->wing.stop();
  std::error_code ec;
  fs::remove_all(io_ + "\\Kestrune.bundle", ec);
  fs::remove(kLv1Locations[1], ec);
}

bool PluginSide::install(std::string& why) {
  std::error_code ec;
  fs::remove_all(io_ + "\\Kestrune.bundle", ec);
  fs::remove_all(case_, ec);  // the logs and signals of an earlier run must not count
  fs::remove_all(io_ + "\\Kestrune.bundle", ec);
  for (const char* card :
       {"SoundGrid Wing Control", "SoundGrid X-WSG Control", "SoundGrid DN32-WSG Control"}) {
    if (!copy(win_path(KS_WAVES_DLL),
              io_ + "\\" + card + ".bundle\\Contents\\Win64\\" + card + ".dll")) {
      why = "Waves' card bundles could not be laid out";
      return false;
    }
  }
  const std::string module = std::string("wing-") + KS_MODULE_VERSION + ".dll";
  if (!copy(win_path(KS_KESTRUNE_DLL), win64_ + "\\Kestrune.dll") ||
      !copy(win_path(KS_WING_MODULE), win64_ + "\\modules\\" + module) ||
      !copy(win_path(KS_WING_MODULE) + ".sig", win64_ + "\\modules\\" + module + ".sig") ||
      !write_text(win64_ + "\\state.cfg", "wing=on\nx32=off\n") ||
      !write_text(win64_ + "\\wing.cfg", "bank=LCL\nwatch=8\ncard=MOD\nip=127.0.0.1\n")) {
    why = "the bundle could not be laid out in " + win64_;
    return false;
  }
  fs::create_directories(temp_, ec);
  return true;
}

bool PluginSide::start(std::string& why) {
  if (!desk_->wing.start(kLoopback)) {
    why = "the WING simulator cannot listen on 127.0.0.1:2222";
    return false;
  }
  sim::DiscoveryBehaviour found;
  found.line = desk_->wing.identity_line();
  if (!desk_->answers.start(kLoopback, found)) {
    why = "the WING simulator's discovery cannot listen on 127.0.0.1";
    return false;
  }
  // LV1's process, from where LV1 is installed, so the tray program also finds its program.
  const std::string lv1_exe = kLv1Locations[1];
  if (!copy(win_path(KS_LV1_STANDIN), lv1_exe) ||
      !launch("\"" + lv1_exe + "\" 600", lv1_process_)) {
    why = "LV1's process stand-in did not start";
    return false;
  }
  const std::string script = "env TEMP \"" + temp_ + "\"\nenv TMP \"" + temp_ + "\"\nload \"" +
                             win64_ + "\\Kestrune.dll\"\n" + sim::card_setup_script("box b 11 2") +
                             "callback g\n" + "wait-file \"" + go_end_ + "\" 600000\nrelease b\n";
  if (!write_text(case_ + "\\script.txt", script)) {
    why = "the LV1 script could not be written";
    return false;
  }
  if (!launch("\"" + win_path(KS_LV1SIM_EXE) + "\" \"" + case_ + "\\journal.txt\" \"" + case_ +
                  "\\script.txt\"",
              lv1sim_)) {
    why = "the LV1 stand-in did not start";
    return false;
  }
  return true;
}

std::string PluginSide::module_log() const {
  HANDLE h = CreateFileW(wide(temp_ + "\\kestrune.log").c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
  CloseHandle(h);
  return text;
}

std::string PluginSide::identity_line() const { return desk_->wing.identity_line(); }

double PluginSide::desk_gain_db(int n) const {
  sim::SimValue v;
  if (!desk_->wing.get("io/in/LCL/" + std::to_string(n) + "/g", &v)) return std::nan("");
  return v.number;
}

}  // namespace ks::tray::testing
