// Replacing the running program over an in-memory folder that fails at a chosen operation.
#include "tray/services/self_update.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace ks::tray {
namespace {

struct Folder {
  std::map<std::string, std::string> files;
  int ops = 0, fail_at = -1;
  std::vector<std::string> log;
  bool step() { return ops++ != fail_at; }

  PlaceOps place_ops() {
    PlaceOps o;
    o.copy = [this](const std::string& a, const std::string& b) {
      if (!step() || !files.count(a)) return false;
      files[b] = files[a];
      return true;
    };
    o.move = [this](const std::string& a, const std::string& b) {
      if (!step() || !files.count(a) || files.count(b)) return false;
      files[b] = files[a];
      files.erase(a);
      return true;
    };
    o.remove = [this](const std::string& p) {
      if (!step()) return false;
      files.erase(p);
      return true;
    };
    // A file verifies when its .sig is "sig(" + its bytes + ")".
    o.verify = [this](const std::string& p) {
      auto f = files.find(p), s = files.find(p + ".sig");
      return f != files.end() && s != files.end() && s->second == "sig(" + f->second + ")";
    };
    o.log = [this](const std::string& s) { log.push_back(s); };
    return o;
  }
};

void setup(Folder& d) {
  d.files["/app/Kestrune.exe"] = "old";
  d.files["/app/Kestrune.exe.sig"] = "sig(old)";
  d.files["/stage/Kestrune.exe"] = "new";
  d.files["/stage/Kestrune.exe.sig"] = "sig(new)";
}

TEST(SelfUpdate, EveryFailurePointLeavesAVerifiedProgramInPlace) {
  Folder good;
  setup(good);
  ASSERT_TRUE(place_new_app(good.place_ops(), "/stage/Kestrune.exe", "/app/Kestrune.exe"));
  EXPECT_EQ(good.files["/app/Kestrune.exe"], "new");
  EXPECT_EQ(good.files["/app/Kestrune.exe.sig"], "sig(new)");
  EXPECT_EQ(good.files["/app/Kestrune.exe.old"], "old");
  const int total = good.ops;
  for (int at = 0; at < total; ++at) {
    Folder d;
    setup(d);
    d.fail_at = at;
    bool placed = place_new_app(d.place_ops(), "/stage/Kestrune.exe", "/app/Kestrune.exe");
    ASSERT_TRUE(d.files.count("/app/Kestrune.exe"))
        << "no program left after a failure at op " << at;
    const std::string& now = d.files["/app/Kestrune.exe"];
    EXPECT_EQ(now, placed ? "new" : "old") << "op " << at;
    if (!placed) {
      EXPECT_EQ(d.files["/app/Kestrune.exe.sig"], "sig(old)") << "op " << at;
    }
    EXPECT_FALSE(d.log.empty() && !placed) << "a failure at op " << at << " is logged";
  }
}

TEST(SelfUpdate, ABadStagedOrCopiedProgramNeverReplacesTheRunningOne) {
  Folder d;
  setup(d);
  d.files["/stage/Kestrune.exe.sig"] = "sig(other)";
  EXPECT_FALSE(place_new_app(d.place_ops(), "/stage/Kestrune.exe", "/app/Kestrune.exe"));
  EXPECT_EQ(d.files["/app/Kestrune.exe"], "old");
  ASSERT_EQ(d.log.size(), 1u);
  EXPECT_EQ(d.log[0], "update: staged app fails verification - discarded");

  // The copy beside the running program comes out damaged: checked there, before any rename.
  Folder t;
  setup(t);
  PlaceOps ops = t.place_ops();
  auto copy = ops.copy;
  ops.copy = [&](const std::string& a, const std::string& b) {
    bool ok = copy(a, b);
    if (ok && b == "/app/Kestrune.exe.new") t.files[b] = "ne";  // a short write
    return ok;
  };
  EXPECT_FALSE(place_new_app(ops, "/stage/Kestrune.exe", "/app/Kestrune.exe"));
  EXPECT_EQ(t.files["/app/Kestrune.exe"], "old");
  EXPECT_EQ(t.files.count("/app/Kestrune.exe.new"), 0u);
  EXPECT_EQ(t.files.count("/app/Kestrune.exe.old"), 0u);
}

TEST(SelfUpdate, UpdatedPidFromTheCommandLine) {
  struct Case {
    const char* line;
    unsigned long pid;
  };
  const Case cases[] = {{"\"C:\\K\\Kestrune.exe\" --tray --updated=1234", 1234},
                        {"Kestrune.exe --tray", 0},
                        {"Kestrune.exe --updated=", 0},
                        {"Kestrune.exe --updated=-5", 0},
                        {"Kestrune.exe --updated=99999999999", 0},
                        {"Kestrune.exe --updated=42 --tray", 42}};
  for (const Case& c : cases) EXPECT_EQ(updated_pid(c.line), c.pid) << c.line;
}

}  // namespace
}  // namespace ks::tray
