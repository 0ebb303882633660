// ks-test: timeout=300
// Install and removal on a tree laid out as an LV1 machine, with the machine's own bindings: the
// real file system, version resources, the release signature and the load test in a child
// process, the real loader and the signed WING module. The older in-place layout is there first,
// with a protect list in its settings file.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>

#include "os/tests/support/process.h"
#include "os/win/wide.h"
#include "sim/lv1machine/lv1_machine.h"
#include "tray/services/install_machine.h"
#include "tray/services/installer.h"
#include "tray/services/tests/support/files.h"

#ifndef KS_SIGNED_DIR
#define KS_SIGNED_DIR ""
#define KS_WING_MODULE_FILE ""
#endif

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;
namespace fsys = std::filesystem;

using testing::mk;
using testing::snapshot;
using testing::Tree;
void cp(const std::string& from, const std::string& to) {
  fsys::create_directories(fsys::u8path(to).parent_path());
  fsys::remove(fsys::u8path(to));  // this libstdc++ refuses overwrite_existing under Wine
  ASSERT_TRUE(fsys::copy_file(fsys::u8path(from), fsys::u8path(to))) << from;
}

TEST(InstallUnderWine, OlderLayoutToBundleAndBack) {
  if (std::string(KS_SIGNED_DIR).empty())
    GTEST_SKIP() << "built without the loader and the WING module";
  TempFolder tmp;
  const std::string io = tmp.at("io"), prog = tmp.at("prog"), signed_dir = KS_SIGNED_DIR;
  // Waves' three card bundles as Waves ships them.
  sim::Lv1Machine m;
  m.io_modules = io;
  m.disabled = tmp.at("disabled");
  m.waves_dll = sim::waves_module_dll();
  std::string why;
  ASSERT_TRUE(sim::lay_out_lv1_machine(m, why)) << why;
  const Tree waves_shipped = snapshot(io);
  // The older layout: our loader in place of Waves' WING module, Waves' kept beside it.
  const std::string protect = "console=wing\r\nprotect=LCL:3,A:12\r\n";
  sim::Lv1Machine older;
  older.io_modules = io;
  for (bool& c : older.cards) c = false;
  older.older_in_place_loader = sim::own_module_dll();
  older.older_settings = protect;
  older.older_bundles = true;  // and the per-console bundles, the X32's switched off
  older.disabled = m.disabled;
  ASSERT_TRUE(sim::lay_out_lv1_machine(older, why)) << why;
  // The program folder: the signed loader and module.
  cp(signed_dir + "/Kestrune.dll", prog + "\\Kestrune.dll");
  cp(signed_dir + "/Kestrune.dll.sig", prog + "\\Kestrune.dll.sig");
  cp(signed_dir + "/" + KS_WING_MODULE_FILE, prog + "\\modules\\" + KS_WING_MODULE_FILE);
  cp(signed_dir + "/" + KS_WING_MODULE_FILE + ".sig",
     prog + "\\modules\\" + KS_WING_MODULE_FILE + ".sig");

  InstallEnv env = machine_install_env([] { return false; });
  env.io_modules_dir = io;
  env.disabled_dir = m.disabled;
  env.program_dir = prog;
  const std::string child = ks::testing::exe_dir() + "tray_verify_child.exe";
  env.verify_module = [&](const std::string& dll) { return run_load_test(child, dll); };
  env.sleep_ms = [](uint32_t) {};
  InstallPaths paths(env);
  Installer inst(paths);
  paths.locate_install();
  ASSERT_TRUE(paths.state().legacy);

  std::string msg;
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  const std::string b = io + "\\Kestrune.bundle\\Contents\\Win64\\";
  EXPECT_TRUE(is_own_module_file(b + "Kestrune.dll"));
  EXPECT_EQ(slurp(b + "Kestrune.dll"), slurp(prog + "\\Kestrune.dll"));
  EXPECT_EQ(slurp(b + "modules\\" + KS_WING_MODULE_FILE + ".sig"),
            slurp(prog + "\\modules\\" + KS_WING_MODULE_FILE + ".sig"));
  EXPECT_EQ(slurp(b + "wing.cfg"), protect);
  EXPECT_EQ(slurp(b + "x32.cfg"), "console=x32\r\n");  // from the switched-off bundle
  EXPECT_EQ(slurp(b + "state.cfg"), "wing=on\r\nx32=off\r\n");
  EXPECT_EQ(snapshot(m.disabled), Tree{}) << "the switched-off bundle is gone";
  EXPECT_EQ(slurp(b + "kestrune.version"), "3.2.0");
  EXPECT_EQ(slurp(io + "\\Kestrune.bundle\\Contents\\Resources\\VDID\\1000"), sim::kVdidUnion);
  EXPECT_EQ(
      slurp(io + "\\Kestrune.bundle\\Contents\\Resources\\APPINFO\\SoundGrid Wing Control.yaml"),
      "name: SoundGrid Wing Control\r\nassignment_priority: 600.25\r\n");
  // Waves' card bundles are again as Waves shipped them.
  Tree now = snapshot(io);
  for (const auto& [rel, bytes] : waves_shipped) EXPECT_EQ(now[rel], bytes) << rel;
  paths.locate_install();
  EXPECT_TRUE(paths.state().installed);
  EXPECT_FALSE(paths.state().legacy);

  ASSERT_TRUE(inst.remove_installation(msg)) << msg;
  EXPECT_EQ(snapshot(io), waves_shipped);
}

// A host path of a Windows one (Wine's own export); "" when there is none.
std::string host_path(const std::string& p) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (!unix_name) return {};
  char* n = unix_name(win::widen(p).c_str());
  std::string out = n ? n : "";
  HeapFree(GetProcessHeap(), 0, n);
  return out;
}

// Runs a host program (Wine starts it without a handle that waits for it).
bool run_host(const std::wstring& program, const std::wstring& command_line) {
  std::wstring cl = command_line;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), cl.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// A link to a folder outside, made as a host symbolic link, which Wine shows as a folder reparse
// point (Wine 8 refuses to set a junction itself). False when it could not be made.
bool make_link(const std::string& link, const std::string& target) {
  const size_t slash = link.find_last_of('\\');
  const std::string parent = host_path(link.substr(0, slash)), to = host_path(target);
  if (parent.empty() || to.empty()) return false;
  if (!run_host(L"Z:\\bin\\ln", L"ln -s \"" + win::widen(to) + L"\" \"" +
                                    win::widen(parent + "/" + link.substr(slash + 1)) + L"\""))
    return false;
  for (int i = 0; i < 500; ++i) {  // until the host program has made it
    const DWORD a = GetFileAttributesW(win::widen(link).c_str());
    if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    Sleep(10);
  }
  return false;
}

// Wine cannot delete a host symbolic link through Win32 (it looks through it), so the test's
// own folder is cleared on the host side.
void remove_on_host(const std::string& folder) {
  const std::string p = host_path(folder);
  if (p.empty() || !run_host(L"Z:\\bin\\rm", L"rm -rf \"" + win::widen(p) + L"\"")) return;
  for (int i = 0;
       i < 500 && GetFileAttributesW(win::widen(folder).c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(10);
}

TEST(InstallUnderWine, ALinkInsideABundleIsNeverFollowed) {
  TempFolder tmp;
  const std::string io = tmp.at("io"), prog = tmp.at("prog"), outside = tmp.at("outside");
  sim::Lv1Machine m;
  m.io_modules = io;
  m.disabled = tmp.at("disabled");
  m.waves_dll = sim::waves_module_dll();
  std::string why;
  ASSERT_TRUE(sim::lay_out_lv1_machine(m, why)) << why;
  mk(outside + "\\keep.txt", "the user's own file");
  const std::string in_waves = io + "\\SoundGrid Wing Control.bundle\\Contents\\Resources\\Shared";
  ASSERT_TRUE(make_link(in_waves, outside));
  cp(sim::own_module_dll(), prog + "\\Kestrune.dll");
  fsys::create_directories(fsys::u8path(prog + "\\modules"));

  InstallEnv env = machine_install_env([] { return false; });
  env.io_modules_dir = io;
  env.disabled_dir = m.disabled;
  env.program_dir = prog;
  env.signature_ok = [](const std::string&) { return true; };
  const std::string child = ks::testing::exe_dir() + "tray_verify_child.exe";
  env.verify_module = [&](const std::string& dll) { return run_load_test(child, dll); };
  env.sleep_ms = [](uint32_t) {};
  InstallPaths paths(env);
  Installer inst(paths);
  const std::string bundle = io + "\\Kestrune.bundle",
                    in_ours = bundle + "\\Contents\\Win64\\elsewhere";
  std::string msg;

  // The merge neither copies the link nor what it points at.
  paths.locate_install();
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  EXPECT_FALSE(
      fsys::exists(fsys::symlink_status(fsys::u8path(bundle + "\\Contents\\Resources\\Shared"))));
  EXPECT_EQ(snapshot(bundle).count("Contents\\Resources\\Shared\\keep.txt"), 0u);

  // An update deletes the previous bundle (.old) with a link inside, and the next install carries
  // nothing through it: what the link points at stays, and is not copied. (Under Wine the link
  // itself outlives the delete, see remove_on_host; on Windows it goes with its folder.)
  ASSERT_TRUE(make_link(in_ours, outside));
  paths.locate_install();
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  EXPECT_EQ(slurp(outside + "\\keep.txt"), "the user's own file");
  EXPECT_FALSE(fsys::exists(fsys::symlink_status(fsys::u8path(in_ours))))
      << "carried into the new bundle";

  // Removal deletes the bundle with a link inside: the same.
  ASSERT_TRUE(make_link(in_ours, outside));
  paths.locate_install();
  ASSERT_TRUE(inst.remove_installation(msg)) << msg;
  EXPECT_FALSE(fsys::exists(fsys::symlink_status(fsys::u8path(bundle))));
  EXPECT_EQ(slurp(outside + "\\keep.txt"), "the user's own file");
  // Waves' bundle keeps its own link.
  EXPECT_TRUE(GetFileAttributesW(win::widen(in_waves).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  remove_on_host(io);
}

TEST(InstallUnderWine, ALoaderThatDoesNotLoadChangesNothing) {
  if (std::string(KS_SIGNED_DIR).empty())
    GTEST_SKIP() << "built without the loader and the WING module";
  TempFolder tmp;
  const std::string io = tmp.at("io"), prog = tmp.at("prog");
  cp(sim::waves_module_dll(),
     io + "\\SoundGrid Wing Control.bundle\\Contents\\Win64\\SoundGrid Wing Control.dll");
  cp(ks::testing::exe_dir() + "tray_fixture_refusing.dll", prog + "\\Kestrune.dll");
  fsys::create_directories(fsys::u8path(prog + "\\modules"));
  const Tree before = snapshot(io);
  InstallEnv env = machine_install_env([] { return false; });
  env.io_modules_dir = io;
  env.disabled_dir = tmp.at("disabled");
  env.program_dir = prog;
  env.signature_ok = [](const std::string&) { return true; };  // the load test is what refuses here
  const std::string child = ks::testing::exe_dir() + "tray_verify_child.exe";
  int runs = 0;
  env.verify_module = [&](const std::string& dll) {
    ++runs;
    return run_load_test(child, dll);
  };
  env.sleep_ms = [](uint32_t) {};
  InstallPaths paths(env);
  Installer inst(paths);
  std::string msg;
  EXPECT_FALSE(inst.install_bundle(msg));
  EXPECT_EQ(msg, "Kestrune would not load (error 1114). Nothing was changed.");
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(snapshot(io), before);
}

}  // namespace
}  // namespace ks::tray
