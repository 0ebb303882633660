// Placing a staged release beside the running program, over temporary folders: which files are
// placed when some of them fail their check, and the hand-over to the new program.
#include "tray/services/placing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tray/services/tests/support/faulty_fs.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::mk;
using testing::slurp;
using testing::snapshot;
using testing::TempFolder;

// A file verifies here when its .sig holds "sig(" + its bytes + ")".
bool fake_verify(const std::string& p) { return slurp(p + ".sig") == "sig(" + slurp(p) + ")"; }

void put_signed(const std::string& path, const std::string& bytes, bool good = true) {
  mk(path, bytes);
  mk(path + ".sig", good ? "sig(" + bytes + ")" : "sig(other)");
}

struct Machine {
  TempFolder root;
  std::string staged = root.at("staged"), app = root.at("app"),
              exe = join(root.at("app"), "Kestrune.exe");
  std::string pending = root.at("install-pending");
  std::vector<std::string> log;
  std::vector<std::string> started;
  bool start_ok = true;
  int closed = 0;
  UpdaterState state;

  Machine() {
    put_signed(exe, "program 3.2.0");
    put_signed(join(app, "Kestrune.dll"), "loader 3.2.0");
    mk(join(join(app, "modules"), "wing-3.2.0.dll"), "wing 3.2.0");
    state.staged = 1;
  }
  PlaceEnv place(FileSystem& fs) {
    PlaceEnv e;
    e.fs = &fs;
    e.staged_folder = staged;
    e.program_dir = app;
    e.exe_path = exe;
    e.verify = fake_verify;
    e.log = [this](const std::string& s) { log.push_back(s); };
    return e;
  }
  RestartEnv restart(FileSystem& fs, bool auto_install = true) {
    RestartEnv r;
    r.place = place(fs);
    r.auto_install = auto_install;
    r.install_pending_path = pending;
    r.start_program = [this](const std::string& path, unsigned long& error) {
      started.push_back(path);
      error = 2;
      return start_ok;
    };
    r.close_self = [this] { ++closed; };
    return r;
  }
  bool logged(const std::string& l) const {
    return std::find(log.begin(), log.end(), l) != log.end();
  }
};

TEST(Placing, WhatIsPlacedWhenStagedFilesFailTheirCheck) {
  enum class F { ok, bad, absent };
  struct Case {
    const char* name;
    F module, loader, app;
    bool ok, app_placed, dropped;
    const char* line;  // a log line the case must give, or ""
  };
  const Case cases[] = {
      {"all verify", F::ok, F::ok, F::ok, true, true, false, ""},
      {"module fails", F::bad, F::ok, F::ok, true, true, false, ""},
      {"no loader staged", F::ok, F::absent, F::ok, true, true, false, ""},
      {"no program staged", F::ok, F::ok, F::absent, true, false, false, ""},
      {"program fails, the loader is still placed", F::ok, F::ok, F::bad, false, false, false,
       "update: staged app fails verification - discarded"},
      // The program must not go in beside the old loader, which it would then install as its own.
      {"loader fails: nothing but modules", F::ok, F::bad, F::ok, false, false, true,
       "update: staged loader fails verification - discarded"},
  };
  for (const Case& c : cases) {
    Machine m;
    if (c.module != F::absent)
      put_signed(join(join(m.staged, "modules"), "wing-3.3.0.dll"), "wing 3.3.0",
                 c.module == F::ok);
    if (c.loader != F::absent)
      put_signed(join(m.staged, "Kestrune.dll"), "loader 3.3.0", c.loader == F::ok);
    if (c.app != F::absent)
      put_signed(join(m.staged, "Kestrune.exe"), "program 3.3.0", c.app == F::ok);
    PlaceOutcome out = stage_loader_and_app(m.place(real_file_system()));
    EXPECT_EQ(out.ok, c.ok) << c.name;
    EXPECT_EQ(out.app_placed, c.app_placed) << c.name;
    EXPECT_EQ(out.drop_release, c.dropped) << c.name;
    if (*c.line) {
      EXPECT_TRUE(m.logged(c.line)) << c.name;
    }
    EXPECT_EQ(slurp(join(join(m.app, "modules"), "wing-3.3.0.dll")),
              c.module == F::ok ? "wing 3.3.0" : "<missing>")
        << c.name;
    bool loader_placed = c.loader == F::ok;
    EXPECT_EQ(slurp(join(m.app, "Kestrune.dll")), loader_placed ? "loader 3.3.0" : "loader 3.2.0")
        << c.name;
    EXPECT_TRUE(fake_verify(join(m.app, "Kestrune.dll")))
        << c.name << ": a loader always with its own .sig";
    EXPECT_EQ(slurp(m.exe), c.app_placed ? "program 3.3.0" : "program 3.2.0") << c.name;
    EXPECT_TRUE(fake_verify(m.exe)) << c.name;
  }
}

TEST(Placing, RestartPlacesMarksTheInstallAndHandsOverToTheNewProgram) {
  Machine m;
  put_signed(join(m.staged, "Kestrune.dll"), "loader 3.3.0");
  put_signed(join(m.staged, "Kestrune.exe"), "program 3.3.0");
  mk(join(m.staged, "ready"), "3.3.0");
  ASSERT_TRUE(restart_into_new_app(m.state, m.restart(real_file_system())));
  EXPECT_EQ(m.state.staged.load(), 0u);
  EXPECT_EQ(slurp(m.pending), "3.3.0");
  EXPECT_FALSE(exists(real_file_system(), m.staged));
  EXPECT_TRUE(m.logged("update: Kestrune 3.3.0 placed beside the app - restarting into it"));
  EXPECT_EQ(m.started, std::vector<std::string>{m.exe});
  EXPECT_EQ(m.closed, 1);
  EXPECT_EQ(slurp(m.exe + ".old"), "program 3.2.0")
      << "the new program removes it once this one ended";

  // A failed start keeps this copy running; the new program starts at the next logon.
  Machine f;
  f.start_ok = false;
  put_signed(join(f.staged, "Kestrune.exe"), "program 3.3.0");
  mk(join(f.staged, "ready"), "3.3.0");
  ASSERT_TRUE(restart_into_new_app(f.state, f.restart(real_file_system(), false)));
  EXPECT_TRUE(f.logged("update: could not start the new Kestrune.exe (2) - it starts next logon"));
  EXPECT_EQ(f.closed, 0);
  EXPECT_EQ(slurp(f.pending), "<missing>") << "no install-pending without auto install";
}

TEST(Placing, ABadStagedLoaderDropsTheReleaseAndABadProgramKeepsItForTheRetry) {
  Machine loader;
  put_signed(join(loader.staged, "Kestrune.dll"), "loader 3.3.0", false);
  put_signed(join(loader.staged, "Kestrune.exe"), "program 3.3.0");
  mk(join(loader.staged, "ready"), "3.3.0");
  EXPECT_FALSE(restart_into_new_app(loader.state, loader.restart(real_file_system())));
  EXPECT_EQ(loader.state.staged.load(), 0u) << "the next check stages it anew";
  EXPECT_FALSE(exists(real_file_system(), loader.staged));
  EXPECT_EQ(slurp(loader.pending), "<missing>");
  EXPECT_EQ(slurp(loader.exe), "program 3.2.0");
  EXPECT_TRUE(loader.started.empty());

  Machine app;
  put_signed(join(app.staged, "Kestrune.exe"), "program 3.3.0", false);
  mk(join(app.staged, "ready"), "3.3.0");
  const auto before = snapshot(app.staged);
  EXPECT_FALSE(restart_into_new_app(app.state, app.restart(real_file_system())));
  EXPECT_EQ(app.state.staged.load(), 1u);
  EXPECT_EQ(snapshot(app.staged), before);
  EXPECT_EQ(slurp(app.pending), "<missing>");
}

TEST(Placing, AFailureAtEachFileOperationKeepsAVerifiedProgramAndLoader) {
  auto stage = [](Machine& m) {
    put_signed(join(m.staged, "Kestrune.dll"), "loader 3.3.0");
    put_signed(join(m.staged, "Kestrune.exe"), "program 3.3.0");
    mk(join(m.staged, "ready"), "3.3.0");
  };
  int total = 0;
  {
    Machine m;
    stage(m);
    testing::FaultyFs fs;
    ASSERT_TRUE(restart_into_new_app(m.state, m.restart(fs)));
    total = fs.count;
  }
  for (int at = 1; at <= total; ++at) {
    Machine m;
    stage(m);
    testing::FaultyFs fs;
    fs.fail_at = at;
    bool placed = restart_into_new_app(m.state, m.restart(fs));
    const std::string exe = slurp(m.exe);
    EXPECT_TRUE(exe == "program 3.2.0" || exe == "program 3.3.0") << "op " << at << ": " << exe;
    EXPECT_TRUE(fake_verify(m.exe)) << "op " << at << " (" << fs.failed_what << ")";
    // A torn loader copy is possible, but never one that verifies under the wrong bytes.
    const std::string loader = slurp(join(m.app, "Kestrune.dll"));
    if (fake_verify(join(m.app, "Kestrune.dll"))) {
      EXPECT_TRUE(loader == "loader 3.2.0" || loader == "loader 3.3.0") << "op " << at;
    }
    if (!placed) {
      EXPECT_EQ(m.state.staged.load(), 1u) << "op " << at << ": retried after 10 minutes";
    }
    if (m.closed) {
      EXPECT_EQ(exe, "program 3.3.0") << "op " << at << ": handed over to the new program only";
    }
  }
}

}  // namespace
}  // namespace ks::tray
