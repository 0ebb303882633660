// The installed product end to end with a WING, on the folders of an LV1 machine: Waves' three
// card bundles in "C:\ProgramData\Waves Audio\SoundGrid IO Modules" and an older installation in
// place of Waves' WING module with a settings file holding a protect list. Kestrune.exe, copied
// into a program folder with the signed loader and WING module as a release leaves them, installs
// with "--install" as its own process (the load test in a further copy of itself). The LV1
// stand-in then loads the installed Kestrune.dll, which loads the installed Fellbrook and reaches
// the simulated WING; the protect list is still in the installed settings and the protected
// input's 48 V never reaches the desk. "--remove" then puts Waves' bundles back byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <vector>

#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/lv1machine/lv1_machine.h"
#include "tests/e2e/bundle_files.h"
#include "tests/e2e/desk_run.h"
#include "tray/services/install_paths.h"
#include "tray/services/tests/support/files.h"

namespace ks::e2e {
namespace {

namespace fsys = std::filesystem;
using ks::tray::testing::slurp;
using ks::tray::testing::snapshot;
using ks::tray::testing::Tree;
using R = DeskRunResult;

bool cp(const std::string& from, const std::string& to) {
  std::error_code ec;
  fsys::create_directories(fsys::u8path(to).parent_path(), ec);
  fsys::remove(fsys::u8path(to), ec);  // this libstdc++ refuses overwrite_existing under Wine
  return fsys::copy_file(fsys::u8path(windows_path(from)), fsys::u8path(to), ec);
}

void clear(const std::string& folder) {
  std::error_code ec;
  fsys::remove_all(fsys::u8path(folder), ec);
}

// Runs "<exe>" <options> as its own process, as a user's command line would; its exit code, or
// 0xFFFFFFFF when it did not start or end within two minutes.
uint32_t run_program(const std::string& exe, const std::string& options) {
  std::wstring cl = wide("\"" + exe + "\" " + options);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cl.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 0xFFFFFFFF;
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  else
    TerminateProcess(pi.hProcess, 0xFFFFFFFF);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// The tray log the program's modes write into this test's TEMP (the children inherit it).
std::string tray_log_text() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return {};
  const std::wstring w(buf, n);
  return sim::read_text(std::string(w.begin(), w.end()) + "kestrune-tray.log");
}

TEST(EndToEndInstall, KestruneExeInstallsOverTheOlderLayoutAndRemovesIt) {
  ks::tray::testing::TempFolder tmp;
  const std::string io = tray::kIoModulesDir, disabled = tray::kDisabledDir;
  clear(io);
  clear(disabled);
  const std::string prog = tmp.at("Kestrune"), exe = prog + "\\Kestrune.exe";
  const std::string module = std::string("wing-") + KS_E2E_VERSION + ".dll";
  Tree waves_shipped;
  const size_t log_before = tray_log_text().size();  // the TEMP of an earlier run may hold lines

  DeskRunOptions o;
  o.verbose = true;
  o.io_modules_root = io;
  // Ends the run once values moved both ways: what follows is the desk's, not the installer's.
  o.outside_check = [](const DeskProbe&) {};
  o.install_bundle = [&](const std::string& root, const std::string& cfg, std::string& said) {
    // Waves' card bundles around the stand-in card modules the run put there, as Waves ships them.
    sim::Lv1Machine m;
    m.io_modules = root;
    m.disabled = disabled;
    std::string why;
    if (!sim::lay_out_lv1_machine(m, why)) {
      said = "the card bundles could not be laid out: " + why;
      return false;
    }
    waves_shipped = snapshot(root);
    // The older installation: our loader in place of Waves' WING module, Waves' kept beside it,
    // and its settings file with the protect list.
    sim::Lv1Machine older;
    older.io_modules = root;
    for (bool& c : older.cards) c = false;
    older.older_in_place_loader = sim::own_module_dll();
    older.older_settings = cfg;
    if (!sim::lay_out_lv1_machine(older, why)) {
      said = "the older installation could not be laid out: " + why;
      return false;
    }
    // The program folder as a release leaves it.
    if (!cp(KS_E2E_KESTRUNE_EXE, exe) ||
        !cp(KS_E2E_SIGNED "/Kestrune.dll", prog + "\\Kestrune.dll") ||
        !cp(KS_E2E_SIGNED "/Kestrune.dll.sig", prog + "\\Kestrune.dll.sig") ||
        !cp(std::string(KS_E2E_SIGNED "/") + module, prog + "\\modules\\" + module) ||
        !cp(std::string(KS_E2E_SIGNED "/") + module + ".sig",
            prog + "\\modules\\" + module + ".sig")) {
      said = "the program folder could not be laid out";
      return false;
    }
    const uint32_t code = run_program(exe, "--install");
    if (code != 0) {
      said = "Kestrune.exe --install exited with " + std::to_string(code);
      return false;
    }
    said = "Kestrune.exe --install exited 0: Kestrune.bundle made over the older layout";
    return true;
  };

  DeskRunResult r = run_wing(o);
  for (R::Step s :
       {&R::module_loaded, &R::desk_subscribed, &R::seeded_from_desk, &R::gain_reached_desk,
        &R::phantom_reached_desk, &R::protected_refused, &R::desk_gain_reached_lv1})
    EXPECT_TRUE(r.*s) << step_name(s);
  ASSERT_FALSE(waves_shipped.empty());
  const std::string win64 = io + "\\Kestrune.bundle\\Contents\\Win64\\";
  // The loader LV1 ran is the installed one, with the module the installer carried over.
  EXPECT_EQ(slurp(win64 + "Kestrune.dll"), slurp(prog + "\\Kestrune.dll"));
  EXPECT_EQ(slurp(win64 + "modules\\" + module), slurp(prog + "\\modules\\" + module));
  EXPECT_NE(slurp(win64 + "wing.cfg").find("protect=LCL:6"), std::string::npos)
      << slurp(win64 + "wing.cfg");
  EXPECT_EQ(slurp(io + "\\Kestrune.bundle\\Contents\\Resources\\VDID\\1000"), sim::kVdidUnion);
  bool from_bundle = false;
  for (const std::string& l : r.transcript)
    if (l.find("loaded from") != std::string::npos &&
        l.find("Kestrune.bundle") != std::string::npos)
      from_bundle = true;
  EXPECT_TRUE(from_bundle) << "the module was not loaded from the installed bundle";

  // The on/off modes with their exit codes: a type key is switched, a word that is none fails.
  EXPECT_EQ(run_program(exe, "--off=X32"), 0u);
  EXPECT_EQ(slurp(win64 + "state.cfg"), "wing=on\nx32=off\n");
  EXPECT_EQ(run_program(exe, "--on=mixer"), 1u);

  EXPECT_EQ(run_program(exe, "--remove"), 0u);
  // Compared path by path: a module's bytes make an unreadable message.
  const Tree after = snapshot(io);
  for (const auto& [rel, bytes] : waves_shipped) {
    auto it = after.find(rel);
    EXPECT_TRUE(it != after.end() && it->second == bytes) << "not restored: " << rel;
  }
  // The run's own signal files (go-lv1, go-end ...) lie at the top of the folder; they are not ours
  // to remove, anything else new is.
  for (const auto& [rel, bytes] : after) {
    if (rel.rfind("go-", 0) != 0) {
      EXPECT_TRUE(waves_shipped.count(rel)) << "left behind: " << rel;
    }
  }

  const std::string whole_log = tray_log_text();
  const std::string log =
      whole_log.size() > log_before ? whole_log.substr(log_before) : std::string();
  EXPECT_NE(log.find("--install: OK"), std::string::npos) << log;
  EXPECT_NE(log.find("--on=mixer: FAILED"), std::string::npos) << log;
  EXPECT_NE(log.find("--remove: OK"), std::string::npos) << log;
  if (::testing::Test::HasFailure()) {
    for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
    std::printf("tray log:\n%s\n", log.c_str());
  }
  clear(io);
  clear(disabled);
}

}  // namespace
}  // namespace ks::e2e
