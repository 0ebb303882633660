// The installer, the merge and the removal over a temporary tree laid out as an LV1 machine,
// with every file-system operation made to fail in turn.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "sim/lv1machine/lv1_machine.h"
#include "tray/services/bundle_merge.h"
#include "tray/services/installer.h"
#include "tray/services/settings_file.h"
#include "tray/services/unattended.h"
#include "tray/services/tests/support/faulty_fs.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::FaultyFs;
using testing::Op;
using testing::put;
using testing::slurp;
using testing::TempFolder;
namespace fsys = std::filesystem;

// The tree under a folder: relative path -> bytes ("<dir>" for a folder).
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::string& root) {
  Tree t;
  if (!fsys::exists(root)) return t;
  for (auto it = fsys::recursive_directory_iterator(root);
       it != fsys::recursive_directory_iterator(); ++it) {
    std::string rel = fsys::relative(it->path(), root).string();
    if (it->is_symlink()) {
      t[rel] = "<link>";
      it.disable_recursion_pending();
    } else if (it->is_directory()) {
      t[rel] = "<dir>";
    } else {
      t[rel] = slurp(it->path().string());
    }
  }
  return t;
}

void mk(const std::string& path, const std::string& bytes) {
  fsys::create_directories(fsys::path(path).parent_path());
  put(path, bytes);
}

// The card bundles' device-id files (CR LF; LF with blanks and an empty line; no end).
constexpr const char* kWingVdid = sim::kVdid[0];
constexpr const char* kXwsgVdid = sim::kVdid[1];
constexpr const char* kDn32Vdid = sim::kVdid[2];
constexpr char kProtectCfg[] = "console=wing\r\nprotect=LCL:3,A:12\r\n";

struct Machine {
  TempFolder tmp;
  std::string io = tmp.at("io"), disabled = tmp.at("disabled"), prog = tmp.at("prog");
  FaultyFs fs;
  std::vector<uint32_t> codes;  // load-test codes in turn (0 once they run out)
  std::vector<uint32_t> sleeps;
  bool lv1 = false;
  int signals = 0;
  std::vector<std::string> logs;

  std::string waves(int card) const { return io + "/" + kWavesCards[card] + ".bundle"; }

  // Waves' three card bundles as the LV1 machine's layout has them, with text in place of DLLs.
  void waves_bundles() {
    sim::Lv1Machine layout;
    layout.io_modules = io;
    layout.disabled = disabled;
    layout.waves_module_text = "WAVES module ";
    std::string why;
    ASSERT_TRUE(sim::lay_out_lv1_machine(layout, why)) << why;
  }
  void program(const std::string& loader = "OWN loader 3.2.0") {
    mk(prog + "/Kestrune.dll", loader);
    mk(prog + "/modules/wing-4.2.0.dll", "OWN wing module");
    mk(prog + "/modules/wing-4.2.0.dll.sig", std::string(64, 's'));
  }
  // An earlier installation of the current layout with a protect list and state.cfg.
  void installed(const std::string& version = "3.1.0") {
    std::string w = io + "/Kestrune.bundle/Contents/Win64";
    mk(w + "/Kestrune.dll", "OWN loader " + version);
    mk(w + "/kestrune.version", version);
    mk(w + "/wing.cfg", kProtectCfg);
    mk(w + "/state.cfg", "wing=on\nx32=off\n");
    mk(w + "/modules/x32-2.0.0.dll", "OWN x32 module");
    mk(w + "/modules/x32-2.0.0.dll.sig", std::string(64, 'x'));
    mk(w + "/modules/bad-1.0.0.dll", "OWN unsigned");
  }

  InstallEnv env() {
    InstallEnv e;
    e.fs = &fs;
    e.io_modules_dir = io;
    e.disabled_dir = disabled;
    e.program_dir = prog;
    e.app_version = "3.2.0";
    e.is_own_module = [](const std::string& p) { return slurp(p).rfind("OWN", 0) == 0; };
    e.lv1_running = [this] { return lv1; };
    e.verify_module = [this](const std::string&) {
      if (codes.empty()) return 0u;
      uint32_t c = codes.front();
      codes.erase(codes.begin());
      return c;
    };
    e.signature_ok = [](const std::string& p) {
      return slurp(p + ".sig").size() == 64 || slurp(p).find("loader") != std::string::npos;
    };
    e.sleep_ms = [this](uint32_t ms) { sleeps.push_back(ms); };
    e.now_ms = [] { return uint64_t{0}; };
    e.signal_modules_changed = [this] { ++signals; };
    e.log = [this](const std::string& l) { logs.push_back(l); };
    return e;
  }
};

// ---- merge rules ----

TEST(DeviceIdUnion, WholeLinesOnceCrLfEnded) {
  struct Case {
    const char* staging;
    const char* waves;
    const char* want;
  } cases[] = {
      {"", kWingVdid, "0x0001\r\n0x0002\r\n"},
      {"0x0001\r\n0x0002\r\n", kXwsgVdid, "0x0001\r\n0x0002\r\n0x0003\r\n"},
      {"0x0001\r\n0x0002\r\n0x0003\r\n", kDn32Vdid, "0x0001\r\n0x0002\r\n0x0003\r\n0x0004\r\n"},
      {"0x123\r\n", "0x12\n", "0x123\r\n0x12\r\n"},  // an id inside another is its own
      {"", "0x5\n0x5\r\n0x5  \n", "0x5\r\n"},        // duplicates in one file
      {"0x1", "0x2", "0x1\r\n0x2\r\n"},              // staging text without a line end
      {"0x1\r\n", "\r\n\n  \n", "0x1\r\n"},          // blank lines only
  };
  for (const Case& c : cases)
    EXPECT_EQ(device_id_union(c.staging, c.waves), c.want) << c.staging << "|" << c.waves;
}

TEST(AssignmentPriority, WholePartBecomes600) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"assignment_priority: 350.0\r\n", "assignment_priority: 600.0\r\n"},
      {"assignment_priority:\t  12.75\n", "assignment_priority:\t  600.75\n"},
      {"assignment_priority: 350\n", "assignment_priority: 350\n"},
      {"  assignment_priority: 1.5\n", "  assignment_priority: 1.5\n"},
      {"Assignment_Priority: 1.5\n", "Assignment_Priority: 1.5\n"},
      {"assignment_priority: high.5\n", "assignment_priority: high.5\n"},
      {"a: 1\nassignment_priority: 7.0\nb: 2.0", "a: 1\nassignment_priority: 600.0\nb: 2.0"},
      {"name: none\r\n", "name: none\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(patched_assignment_priority(c.in), c.want) << c.in;
}

TEST(Merge, FirstBundleWinsAndWavesBinariesStayOut) {
  Machine m;
  m.waves_bundles();
  // Odd letter case of Waves' folder still keeps their binaries out.
  fsys::rename(m.waves(1) + "/Contents/Win64", m.waves(1) + "/Contents/wIN64");
  std::string staging = m.tmp.at("staging"), msg;
  for (int c = 0; c < 3; ++c)
    ASSERT_TRUE(merge_waves_bundle(m.fs, m.waves(c), staging, kWavesCards[c], msg)) << msg;
  Tree t = snapshot(staging);
  EXPECT_EQ(t["Kestrune.ico"], "icon of SoundGrid Wing Control");
  EXPECT_EQ(t["Contents/Resources/shared.txt"], "shared from SoundGrid Wing Control");
  EXPECT_EQ(t["Contents/Resources/VDID/1000"], "0x0001\r\n0x0002\r\n0x0003\r\n0x0004\r\n");
  EXPECT_EQ(t.count("Contents/manifest.yaml"), 0u);
  for (const auto& [rel, bytes] : t) {
    EXPECT_EQ(rel.find("Win64"), std::string::npos) << rel;
    EXPECT_EQ(rel.find("wIN64"), std::string::npos) << rel;
  }
  EXPECT_EQ(t.count("SoundGrid X-WSG Control.ico"), 0u);
}

TEST(Merge, ALinkInsideABundleIsNeitherEnteredNorCopied) {
  Machine m;
  m.waves_bundles();
  mk(m.tmp.at("outside/secret.txt"), "not Waves'");
  fsys::create_directory_symlink(m.tmp.at("outside"), m.waves(0) + "/Contents/Resources/junction");
  std::string staging = m.tmp.at("staging"), msg;
  ASSERT_TRUE(merge_waves_bundle(m.fs, m.waves(0), staging, kWavesCards[0], msg)) << msg;
  EXPECT_FALSE(fsys::exists(fsys::symlink_status(staging + "/Contents/Resources/junction")));
}

TEST(Merge, ReadAndCopyFailuresSayWhich) {
  Machine m;
  m.waves_bundles();
  std::string staging = m.tmp.at("staging"), msg;
  m.fs.fail_by_path = true;
  m.fs.fail_op = Op::list;
  m.fs.fail_path = "Resources";
  EXPECT_FALSE(merge_waves_bundle(m.fs, m.waves(0), staging, kWavesCards[0], msg));
  EXPECT_EQ(msg, "Could not read Waves' bundle SoundGrid Wing Control.");
  m.fs.fail_op = Op::copy;
  m.fs.fail_path = "shared.txt|";
  EXPECT_FALSE(merge_waves_bundle(m.fs, m.waves(0), staging, kWavesCards[0], msg));
  EXPECT_EQ(msg, "Could not copy Contents\\Resources\\shared.txt (need admin?).");
}

TEST(Merge, AnUnreadableManifestIsNeverWrittenBack) {
  Machine m;
  std::string yaml = m.tmp.at("a.yaml");
  put(yaml, "assignment_priority: 350.0\n");
  m.fs.fail_by_path = true;
  m.fs.fail_op = Op::read;
  m.fs.fail_path = "a.yaml";
  EXPECT_FALSE(patch_assignment_priority(m.fs, yaml));
  EXPECT_EQ(slurp(yaml), "assignment_priority: 350.0\n");
}

// ---- install ----

std::string win64(const Machine& m) { return m.io + "/Kestrune.bundle/Contents/Win64"; }

TEST(Install, FromWavesBundlesOverAnEarlierInstallation) {
  Machine m;
  m.waves_bundles();
  m.program();
  m.installed();
  InstallPaths paths(m.env());
  Installer inst(paths);
  std::string msg;
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  Tree t = snapshot(m.io + "/Kestrune.bundle");
  EXPECT_EQ(t["Contents/Win64/Kestrune.dll"], "OWN loader 3.2.0");
  EXPECT_EQ(t["Contents/Win64/kestrune.version"], "3.2.0");
  EXPECT_EQ(t["Contents/Win64/wing.cfg"], kProtectCfg);
  EXPECT_EQ(t["Contents/Win64/x32.cfg"], std::string(kSettingsTemplate));
  EXPECT_EQ(t["Contents/Win64/state.cfg"], "wing=on\nx32=off\n");
  EXPECT_EQ(t["Contents/Win64/modules/wing-4.2.0.dll"], "OWN wing module");
  EXPECT_EQ(t["Contents/Win64/modules/x32-2.0.0.dll"], "OWN x32 module");  // the updater's, carried
  EXPECT_EQ(t.count("Contents/Win64/modules/bad-1.0.0.dll"), 0u);          // unsigned, left behind
  EXPECT_EQ(t["Contents/Resources/APPINFO/SoundGrid Wing Control.yaml"],
            "name: SoundGrid Wing Control\r\nassignment_priority: 600.25\r\n");
  EXPECT_EQ(t["Contents/Resources/VDID/1000"], "0x0001\r\n0x0002\r\n0x0003\r\n0x0004\r\n");
  EXPECT_EQ(t.count("Contents/manifest.yaml"), 0u);
  EXPECT_FALSE(fsys::exists(m.io + "/Kestrune.bundle.new"));
  EXPECT_FALSE(fsys::exists(m.io + "/Kestrune.bundle.old"));
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(slurp(m.waves(c) + "/Contents/Win64/" + kWavesCards[c] + ".dll"),
              std::string("WAVES module ") + kWavesCards[c]);
}

TEST(Install, RefusalsChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(Machine&)> setup;
    const char* want;
  } cases[] = {
      {"dn32 only",
       [](Machine& m) { mk(m.waves(2) + "/Contents/Win64/SoundGrid DN32-WSG Control.dll", "W"); },
       "No supported I/O module found."},
      {"lv1 running",
       [](Machine& m) {
         m.waves_bundles();
         m.program();
         m.installed("3.2.0");
         m.lv1 = true;
       },
       "Close eMotion LV1 first."},
      {"no loader",
       [](Machine& m) {
         m.waves_bundles();
         fsys::create_directories(m.prog + "/modules");
       },
       "Kestrune.dll or the modules folder is missing beside Kestrune.exe."},
      {"unsigned loader",
       [](Machine& m) {
         m.waves_bundles();
         m.program("OWN tampered");
         m.installed();
       },
       "Kestrune.dll beside Kestrune.exe is not signed by Kestrune - download Kestrune again. Nothing was changed."},
      {"busy",
       [](Machine& m) {
         m.waves_bundles();
         m.program();
         m.installed();
       },
       "An update is being written - try again in a moment."},
      {"1114 three times",
       [](Machine& m) {
         m.waves_bundles();
         m.program();
         m.installed();
         m.codes = {1114, 1114, 1114};
       },
       "Kestrune would not load (error 1114). Nothing was changed."},
      {"258 three times",
       [](Machine& m) {
         m.waves_bundles();
         m.program();
         m.installed();
         m.codes = {258, 258, 258};
       },
       "Kestrune would not load (error 258). Nothing was changed."},
      {"SAC",
       [](Machine& m) {
         m.waves_bundles();
         m.program();
         m.installed();
         m.codes = {4551, 4551, 4551};
       },
       kSacRefusalText},
  };
  for (const Case& c : cases) {
    Machine m;
    c.setup(m);
    InstallEnv e = m.env();
    if (std::string(c.name) == "busy") e.update_busy = [] { return true; };
    Tree before = snapshot(m.io);
    InstallPaths paths(e);
    Installer inst(paths);
    std::string msg;
    EXPECT_FALSE(inst.install_bundle(msg)) << c.name;
    EXPECT_EQ(msg, c.want) << c.name;
    EXPECT_EQ(snapshot(m.io), before) << c.name;
  }
}

TEST(Install, LoadTestRetriesAfterPauses) {
  Machine m;
  m.waves_bundles();
  m.program();
  m.codes = {1114, 1114, 0};
  InstallPaths paths(m.env());
  Installer inst(paths);
  std::string msg;
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  EXPECT_EQ(m.sleeps, (std::vector<uint32_t>{1500, 1500}));
  EXPECT_EQ(slurp(win64(m) + "/state.cfg"), "wing=on\r\nx32=on\r\n");
  EXPECT_EQ(slurp(win64(m) + "/wing.cfg"), std::string(kSettingsTemplate));
}

TEST(Install, WhileLv1RunsOnlyANewModuleIsCopiedLive) {
  Machine m;
  m.waves_bundles();
  m.program();
  InstallPaths paths(m.env());
  Installer inst(paths);
  std::string msg;
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  mk(m.prog + "/modules/wing-4.3.0.dll", "OWN newer wing");
  m.lv1 = true;
  paths.locate_install();
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  EXPECT_EQ(inst.notice(), "Updated while LV1 runs - the new module is live.");
  EXPECT_EQ(slurp(win64(m) + "/modules/wing-4.3.0.dll"), "OWN newer wing");
  EXPECT_EQ(m.signals, 1);
}

TEST(Install, ModuleCopyRepairsACutFileAndNeverKeepsAPart) {
  Machine m;
  m.program();
  InstallPaths paths(m.env());
  Installer inst(paths);
  std::string dest = m.tmp.at("dest"), msg;
  mk(dest + "/wing-4.2.0.dll", "OWN wi");  // what an interrupted copy left
  uint32_t n = 0;
  ASSERT_TRUE(inst.copy_modules_folder(dest, msg, &n)) << msg;
  EXPECT_EQ(slurp(dest + "/wing-4.2.0.dll"), "OWN wing module");
  EXPECT_EQ(n, 2u);
  ASSERT_TRUE(inst.copy_modules_folder(dest, msg, &n));
  EXPECT_EQ(n, 0u);
  m.fs.fail_by_path = true;
  m.fs.fail_op = Op::move;
  m.fs.fail_path = "wing-4.2.0.dll.part";
  mk(dest + "/wing-4.2.0.dll", "OWN wi");
  EXPECT_FALSE(inst.copy_modules_folder(dest, msg, &n));
  EXPECT_EQ(msg, "Could not copy wing-4.2.0.dll (need admin?).");
  EXPECT_FALSE(fsys::exists(dest + "/wing-4.2.0.dll.part"));
}

// Fails operation k of a run, for every k the run has: afterwards the bundle is the old one or the
// new one, whole, and every settings file is what it was (or carried unchanged).
template <class Setup, class Run>
void sweep(Setup setup, Run run, const char* what, bool keeps_protect = true) {
  Tree done;
  int total = 0;
  {
    Machine m;
    setup(m);
    InstallPaths paths(m.env());
    paths.locate_install();
    m.fs.count = 0;  // the run's own operations are counted
    Installer inst(paths);
    std::string msg;
    ASSERT_TRUE(run(inst, msg)) << msg;
    done = snapshot(m.io);
    total = m.fs.count;
  }
  ASSERT_GT(total, 10);
  for (int k = 1; k <= total; ++k) {
    Machine m;
    setup(m);
    Tree before = snapshot(m.io);
    InstallPaths paths(m.env());
    paths.locate_install();
    m.fs.count = 0;
    Installer inst(paths);
    m.fs.fail_at = k;
    std::string msg;
    bool ok = run(inst, msg);
    EXPECT_TRUE(m.fs.failed) << what << ": op " << k << " was never reached";
    Tree after = snapshot(m.io);
    // Leftovers of ignored deletes may remain beside the bundle; what LV1 reads must be whole.
    auto only = [](const Tree& t, const std::string& prefix) {
      Tree o;
      for (const auto& [k2, v] : t)
        if (k2.rfind(prefix, 0) == 0 && (k2.size() == prefix.size() || k2[prefix.size()] == '/'))
          o[k2] = v;
      return o;
    };
    const std::string main = "Kestrune.bundle";
    Tree now = only(after, main);
    EXPECT_TRUE(now == only(before, main) || now == only(done, main))
        << what << ": op " << k << " ok=" << ok << " " << msg << " [" << m.fs.failed_what << "]";
    if (!ok) EXPECT_FALSE(msg.empty()) << what << ": op " << k;
    // The protect list is somewhere LV1's next start reads it: where it was, or carried over.
    auto holds_protect = [](const Tree& t) {
      for (const auto& [rel, v] : t)
        if (v == kProtectCfg) return true;
      return false;
    };
    if (keeps_protect && holds_protect(before))
      EXPECT_TRUE(holds_protect(after)) << what << ": op " << k << " [" << m.fs.failed_what << "]";
    for (const char* cfg :
         {"Kestrune.bundle/Contents/Win64/wing.cfg", "Kestrune.bundle/Contents/Win64/state.cfg"})
      if (before.count(cfg) && now.count(cfg))
        EXPECT_EQ(now[cfg], before[cfg]) << what << ": op " << k << " " << cfg;
  }
}

TEST(Install, EveryFailedOperationLeavesOneWholeBundleAndTheSettings) {
  sweep(
      [](Machine& m) {
        m.waves_bundles();
        m.program();
        m.installed();
      },
      [](Installer& i, std::string& msg) { return i.install_bundle(msg); }, "install");
}

TEST(Install, ASettingsFileThatCannotBeCarriedFailsTheInstall) {
  for (const char* which : {"wing.cfg|", "state.cfg|"}) {
    Machine m;
    m.waves_bundles();
    m.program();
    m.installed();
    Tree before = snapshot(m.io);
    m.fs.fail_by_path = true;
    m.fs.fail_op = Op::copy;
    m.fs.fail_path = which;
    InstallPaths paths(m.env());
    Installer inst(paths);
    std::string msg;
    EXPECT_FALSE(inst.install_bundle(msg)) << which;
    EXPECT_NE(msg.find("Nothing was changed."), std::string::npos) << msg;
    EXPECT_EQ(snapshot(m.io), before) << which;
  }
}

TEST(Install, ABundleLeftAsOldByACrashIsPutBackFirst) {
  Machine m;
  m.waves_bundles();
  m.program();
  m.installed();
  fsys::rename(m.io + "/Kestrune.bundle", m.io + "/Kestrune.bundle.old");
  fsys::create_directories(m.io + "/Kestrune.bundle.new/Contents/junk");
  InstallPaths paths(m.env());
  Installer inst(paths);
  std::string msg;
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  EXPECT_EQ(slurp(win64(m) + "/wing.cfg"), kProtectCfg);
  EXPECT_EQ(slurp(win64(m) + "/state.cfg"), "wing=on\nx32=off\n");
  EXPECT_FALSE(fsys::exists(m.io + "/Kestrune.bundle.old"));
  EXPECT_FALSE(fsys::exists(m.io + "/Kestrune.bundle/Contents/junk"));
}

// ---- older layouts and removal ----

void legacy_in_place(Machine& m) {
  m.waves_bundles();
  m.program();
  std::string w = m.waves(0) + "/Contents/Win64/", n = kWavesCards[0];
  put(w + n + ".dll", "OWN loader 2.4");
  mk(w + n + ".orig.dll", "WAVES module " + n);
  mk(w + n + ".dll.prev", "OWN loader 2.3");
  mk(w + "kestrune.cfg", kProtectCfg);
  mk(m.disabled + "/Kestrune X32.bundle/Contents/Win64/kestrune.cfg", "console=x32\n");
}

TEST(Install, FromTheOlderLayoutCarriesItsSettingsAndRestoresWaves) {
  Machine m;
  legacy_in_place(m);
  InstallPaths paths(m.env());
  paths.locate_install();
  EXPECT_TRUE(paths.state().legacy);
  EXPECT_TRUE(paths.state().installed);
  EXPECT_TRUE(paths.loader_needs_update());
  Installer inst(paths);
  std::string msg;
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  EXPECT_EQ(inst.notice(), "");
  EXPECT_EQ(slurp(win64(m) + "/wing.cfg"), kProtectCfg);
  EXPECT_EQ(slurp(win64(m) + "/x32.cfg"), "console=x32\n");
  EXPECT_EQ(slurp(win64(m) + "/state.cfg"), "wing=on\r\nx32=off\r\n");
  std::string w = m.waves(0) + "/Contents/Win64/";
  EXPECT_EQ(snapshot(w),
            (Tree{{"SoundGrid Wing Control.dll", "WAVES module SoundGrid Wing Control"}}));
  EXPECT_FALSE(fsys::exists(m.disabled + "/Kestrune X32.bundle"));
}

TEST(Install, FromTheOlderLayoutEveryFailedOperationKeepsTheProtectList) {
  sweep([](Machine& m) { legacy_in_place(m); },
        [](Installer& i, std::string& msg) { return i.install_bundle(msg); }, "older layout");
}

TEST(Remove, RestoresWavesAndLeavesNothingOfOurs) {
  Machine m;
  legacy_in_place(m);
  m.installed();
  Tree waves_before = snapshot(m.waves(1));
  InstallPaths paths(m.env());
  paths.locate_install();
  Installer inst(paths);
  std::string msg;
  ASSERT_TRUE(inst.remove_installation(msg)) << msg;
  Tree t = snapshot(m.io);
  for (const auto& [rel, v] : t) EXPECT_EQ(rel.find("Kestrune"), std::string::npos) << rel;
  EXPECT_EQ(slurp(m.waves(0) + "/Contents/Win64/SoundGrid Wing Control.dll"),
            "WAVES module SoundGrid Wing Control");
  EXPECT_EQ(snapshot(m.waves(1)), waves_before);
  EXPECT_FALSE(fsys::exists(m.disabled + "/Kestrune X32.bundle"));
}

TEST(Remove, RefusalsChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(Machine&)> setup;
    const char* want;
  } cases[] = {
      {"nothing", [](Machine&) {}, "Nothing to remove."},
      {"lv1 running",
       [](Machine& m) {
         legacy_in_place(m);
         m.lv1 = true;
       },
       "Close eMotion LV1 first."},
      {"orig missing",
       [](Machine& m) {
         legacy_in_place(m);
         m.installed();
         fsys::remove(m.waves(0) + "/Contents/Win64/SoundGrid Wing Control.orig.dll");
       },
       ""},
  };
  for (const Case& c : cases) {
    Machine m;
    c.setup(m);
    Tree before = snapshot(m.io);
    InstallPaths paths(m.env());
    paths.locate_install();
    Installer inst(paths);
    std::string msg;
    EXPECT_FALSE(inst.remove_installation(msg)) << c.name;
    std::string want = *c.want ? c.want
                               : "The original Waves module is missing from " + m.waves(0) +
                                     "/Contents/Win64 - reinstall the card from Waves Central.";
    EXPECT_EQ(msg, want) << c.name;
    EXPECT_EQ(snapshot(m.io), before) << c.name;
  }
}

TEST(Remove, ABundleInUseFailsWholeAfterTheCardsAreBack) {
  Machine m;
  legacy_in_place(m);
  m.installed();
  Tree bundle_before = snapshot(m.io + "/Kestrune.bundle");
  m.fs.fail_by_path = true;
  m.fs.fail_op = Op::move;
  m.fs.fail_path = "Kestrune.bundle|";
  InstallPaths paths(m.env());
  paths.locate_install();
  Installer inst(paths);
  std::string msg;
  EXPECT_FALSE(inst.remove_installation(msg));
  EXPECT_EQ(msg, "Could not delete " + m.io + "/Kestrune.bundle - is a file in it open?");
  EXPECT_EQ(snapshot(m.io + "/Kestrune.bundle"), bundle_before);
  EXPECT_EQ(slurp(m.waves(0) + "/Contents/Win64/SoundGrid Wing Control.dll"),
            "WAVES module SoundGrid Wing Control");
}

TEST(Remove, ALinkInTheBundleIsRemovedNotFollowed) {
  Machine m;
  m.waves_bundles();
  m.installed();
  mk(m.tmp.at("outside/keep.txt"), "keep");
  fsys::create_directory_symlink(m.tmp.at("outside"), m.io + "/Kestrune.bundle/Contents/junction");
  InstallPaths paths(m.env());
  paths.locate_install();
  Installer inst(paths);
  std::string msg;
  ASSERT_TRUE(inst.remove_installation(msg)) << msg;
  EXPECT_EQ(slurp(m.tmp.at("outside/keep.txt")), "keep");
  EXPECT_FALSE(fsys::exists(m.io + "/Kestrune.bundle"));
}

TEST(Remove, EveryFailedOperationLeavesOneWholeBundle) {
  sweep(
      [](Machine& m) {
        legacy_in_place(m);
        m.installed();
      },
      [](Installer& i, std::string& msg) { return i.remove_installation(msg); }, "remove", false);
}

// ---- currency ----

TEST(LoaderNeedsUpdate, VersionAndFileRules) {
  struct Case {
    const char* installed;  // nullptr: no kestrune.version
    bool same_dll;
    bool want;
  } cases[] = {
      {"3.1.0", false, true},  {"3.2.0", false, false},  {"3.2.0-rc1", false, true},
      {nullptr, false, true},  {"garbage", false, true}, {"3.1.0", true, false},
      {"3.3.0", false, false},
  };
  for (const Case& c : cases) {
    Machine m;
    m.waves_bundles();
    m.program();
    m.installed("x");
    std::string w = win64(m);
    // Same Wfis and IOM_VERSION as the Waves bundles, so only the loader decides.
    for (int card = 0; card < 3; ++card)
      mk(m.io + "/Kestrune.bundle/Contents/Wfis/" + kWavesCards[card] + ".wfi", "wfi");
    mk(m.io + "/Kestrune.bundle/Contents/Resources/IOM_VERSION/1000",
       slurp(m.waves(0) + "/Contents/Resources/IOM_VERSION/1000"));
    if (c.installed)
      put(w + "/kestrune.version", c.installed);
    else
      fsys::remove(w + "/kestrune.version");
    put(w + "/Kestrune.dll", c.same_dll ? "OWN loader 3.2.0" : "OWN other");
    InstallPaths paths(m.env());
    paths.locate_install();
    EXPECT_EQ(paths.loader_needs_update(), c.want)
        << (c.installed ? c.installed : "(none)") << " " << c.same_dll;
  }
}

TEST(LocateInstall, Layouts) {
  Machine m;
  InstallPaths paths(m.env());
  paths.locate_install();
  EXPECT_TRUE(paths.state().install_dir.empty());
  mk(m.waves(0) + "/Contents/Win64/SoundGrid Wing Control.dll", "WAVES");
  paths.locate_install();
  EXPECT_EQ(paths.state().install_dir, win64(m));
  EXPECT_FALSE(paths.state().installed);
  EXPECT_FALSE(paths.state().legacy);
  mk(m.disabled + "/Kestrune WING.bundle/Contents/Win64/kestrune.cfg", "x");
  paths.locate_install();
  EXPECT_TRUE(paths.state().legacy);
  EXPECT_TRUE(paths.state().installed);
}

TEST(FindConsoleConfig, OrderAndFoldersSkipped) {
  Machine m;
  m.waves_bundles();
  InstallPaths paths(m.env());
  paths.locate_install();
  std::string in_card = m.waves(0) + "/Contents/Win64/kestrune.cfg";
  std::string in_disabled = m.disabled + "/Kestrune WING.bundle/Contents/Win64/kestrune.cfg";
  std::string own = win64(m) + "/wing.cfg";
  EXPECT_EQ(paths.find_console_config(0), "");
  mk(in_card, "a");
  EXPECT_EQ(paths.find_console_config(0), in_card);
  mk(in_disabled, "b");
  EXPECT_EQ(paths.find_console_config(0), in_disabled);
  fsys::create_directories(own);  // a folder of that name is no settings file
  EXPECT_EQ(paths.find_console_config(0), in_disabled);
  fsys::remove(own);
  mk(own, "c");
  EXPECT_EQ(paths.find_console_config(0), own);
}

TEST(DeferredInstall, PacedSeenTwiceWaitsWhileBusyAndBacksOff) {
  Machine m;
  m.waves_bundles();
  m.program();
  m.installed("3.1.0");
  uint64_t now = 0;
  bool busy = false;
  InstallEnv e = m.env();
  e.now_ms = [&] { return now; };
  e.update_busy = [&] { return busy; };
  InstallPaths paths(e);
  paths.locate_install();
  Installer inst(paths);
  auto installed_version = [&] { return slurp(win64(m) + "/kestrune.version"); };

  inst.deferred_install_tick();  // first seen
  now = 4999;
  inst.deferred_install_tick();  // paced: not looked at
  EXPECT_EQ(installed_version(), "3.1.0");
  now = 5000;
  busy = true;  // the updater is writing: the conditions start over
  inst.deferred_install_tick();
  now = 10000;
  busy = false;
  inst.deferred_install_tick();  // seen once more after busy
  EXPECT_EQ(installed_version(), "3.1.0");
  // The load test refuses: logged, then nothing for 10 minutes.
  m.codes = {1114, 1114, 1114};
  now = 15000;
  inst.deferred_install_tick();
  EXPECT_EQ(installed_version(), "3.1.0");
  EXPECT_EQ(
      m.logs.back(),
      "install: this app's loader was not installed: Kestrune would not load (error 1114). Nothing was "
      "changed. - trying again in 10 min");
  now = 15000 + 599999;
  inst.deferred_install_tick();
  now = 15000 + 600000;
  inst.deferred_install_tick();  // first seen again
  EXPECT_EQ(installed_version(), "3.1.0");
  now += 5000;
  inst.deferred_install_tick();
  EXPECT_EQ(installed_version(), "3.2.0");
  EXPECT_EQ(m.logs.back(),
            "install: this app's loader installed while LV1 was closed (Kestrune 3.2.0)");
  EXPECT_EQ(slurp(win64(m) + "/wing.cfg"), kProtectCfg);
}

TEST(Unattended, ModesExitCodesAndLogLines) {
  Machine m;
  m.waves_bundles();
  m.program();
  InstallPaths paths(m.env());
  Installer inst(paths);
  EXPECT_FALSE(is_unattended("Kestrune.exe --tray"));
  EXPECT_EQ(run_unattended("Kestrune.exe --install", paths, inst), 0);
  EXPECT_EQ(m.logs.back(), "unattended Kestrune.exe --install: OK ");
  EXPECT_EQ(run_unattended("Kestrune.exe --off=X32", paths, inst), 0);
  EXPECT_EQ(slurp(win64(m) + "/state.cfg"), "wing=on\nx32=off\n");
  EXPECT_EQ(run_unattended("Kestrune.exe --on=x32", paths, inst), 0);
  EXPECT_EQ(slurp(win64(m) + "/state.cfg"), "wing=on\nx32=on\n");
  EXPECT_EQ(run_unattended("Kestrune.exe --on=dn32", paths, inst), 1);
  EXPECT_EQ(m.logs.back(), "unattended Kestrune.exe --on=dn32: FAILED ");
  m.lv1 = true;
  EXPECT_EQ(run_unattended("Kestrune.exe --remove", paths, inst), 1);
  EXPECT_EQ(m.logs.back(), "unattended Kestrune.exe --remove: FAILED Close eMotion LV1 first.");
  m.lv1 = false;
  EXPECT_EQ(run_unattended("Kestrune.exe --remove", paths, inst), 0);
  EXPECT_FALSE(fsys::exists(m.io + "/Kestrune.bundle"));
  EXPECT_EQ(run_unattended("Kestrune.exe --remove", paths, inst),
            0);  // Waves' cards remain: nothing of ours
}

}  // namespace
}  // namespace ks::tray
