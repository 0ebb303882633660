// The whole release check over a scripted server and temporary folders, the manifests and files
// signed here with OpenSSL by a key of the test's own: what is installed, what is staged, and
// that each misbehaviour of the server leaves every installed and staged file as it was.
#include "tray/services/update_check.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tray/services/module_files.h"
#include "tray/services/sha256.h"
#include "tray/services/staging.h"
#include "tray/services/tests/support/faulty_fs.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::mk;
using testing::slurp;
using testing::snapshot;
using testing::TempFolder;

struct Key {
  EVP_PKEY* k = nullptr;
  uint8_t pk[32] = {};
  explicit Key(uint8_t s) {
    uint8_t seed[32];
    for (int i = 0; i < 32; ++i) seed[i] = uint8_t(s * 7 + i);
    k = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
    size_t n = 32;
    EVP_PKEY_get_raw_public_key(k, pk, &n);
  }
  ~Key() { EVP_PKEY_free(k); }
  std::string sign(const std::string& d) const {
    std::string sig(64, '\0');
    size_t n = 64;
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestSignInit(c, nullptr, nullptr, nullptr, k);
    EVP_DigestSign(c, reinterpret_cast<uint8_t*>(sig.data()), &n,
                   reinterpret_cast<const uint8_t*>(d.data()), d.size());
    EVP_MD_CTX_free(c);
    return sig;
  }
};

std::string b64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
  out.resize(size_t(n));
  return out;
}

const Key& release_key_for_test() {
  static Key k(5);
  return k;
}

// A file of a release as the server lists it and serves it.
struct Served {
  std::string file, version, console, edition, bytes;
  int abi = -1;
  std::string url() const { return "https://localhost/f/" + file; }
};

std::string entry_json(const Served& s, const std::string& listed_bytes) {
  const Key& key = release_key_for_test();
  std::string j = "{\"file\":\"" + s.file + "\",\"version\":\"" + s.version + "\",\"url\":\"" +
                  s.url() + "\",\"sha256\":\"" + sha256_hex(listed_bytes) +
                  "\",\"size\":" + std::to_string(listed_bytes.size()) + ",\"sig\":\"" +
                  b64(key.sign(listed_bytes)) + "\"";
  if (!s.console.empty()) j += ",\"console\":\"" + s.console + "\"";
  if (!s.edition.empty()) j += ",\"edition\":\"" + s.edition + "\"";
  if (s.abi != -1) j += ",\"abi\":" + std::to_string(s.abi);
  return j + "}";
}

struct Server {
  std::string version = "3.3.0";
  std::vector<Served> modules;
  std::optional<Served> loader, app;
  std::map<std::string, std::pair<int, std::string>> overrides;  // url -> (status, bytes)
  int manifest_status = 200;
  std::vector<std::string> asked;

  std::string body() const {
    std::string j = "{\"product\":\"kestrune\",\"platform\":\"windows-x64\",\"version\":\"" +
                    version + "\",\"modules\":[";
    for (size_t i = 0; i < modules.size(); ++i)
      j += (i ? "," : "") + entry_json(modules[i], modules[i].bytes);
    j += "]";
    if (loader) j += ",\"loader\":" + entry_json(*loader, loader->bytes);
    if (app) j += ",\"app\":" + entry_json(*app, app->bytes);
    return j + "}";
  }
  std::string manifest() const {
    std::string b = body();
    return R"({"manifest":{"format":"kestrune-release/1","platforms":{"windows-x64":{"body":")" +
           b64(b) + R"(","sig":")" + b64(release_key_for_test().sign(b)) + R"("}}}})";
  }
  HttpGet get() {
    return [this](const std::string& url, size_t limit, int& status, std::string& bytes) {
      asked.push_back(url);
      status = 0;
      bytes.clear();
      if (auto it = overrides.find(url); it != overrides.end()) {
        status = it->second.first;
        if (status != 200) return false;
        if (it->second.second.size() > limit) return false;
        bytes = it->second.second;
        return true;
      }
      if (url == "https://localhost/v1/updates?product=kestrune") {
        status = manifest_status;
        if (status != 200) return false;
        bytes = manifest();
        return true;
      }
      for (const Served* s : all())
        if (url == s->url()) {
          status = 200;
          bytes = s->bytes;
          return true;
        }
      status = 404;
      return false;
    };
  }
  std::vector<const Served*> all() const {
    std::vector<const Served*> out;
    for (const Served& m : modules) out.push_back(&m);
    if (loader) out.push_back(&*loader);
    if (app) out.push_back(&*app);
    return out;
  }
};

Served module(const std::string& console, const std::string& version, int abi = 3) {
  return {console + "-" + version + ".dll",    version, console, "",
          "module " + console + " " + version, abi};
}

// A signed file on disk, as the loader and the updater find them.
void put_signed(const std::string& path, const std::string& bytes) {
  mk(path, bytes);
  mk(path + ".sig", release_key_for_test().sign(bytes));
}

class UpdateCheck : public ::testing::Test {
protected:
  TempFolder root;
  std::string bundle = root.at("bundle"), app = root.at("app"), staged = root.at("updates/staged");
  UpdaterState state;
  std::vector<std::string> log;
  int changed = 0;
  std::map<std::string, std::string> running;
  Server server;

  void SetUp() override {
    state.busy = 1;
    put_signed(join(join(bundle, "modules"), "wing-3.2.0.dll"), "installed wing 3.2.0");
    put_signed(join(join(app, "modules"), "wing-3.2.0.dll"), "installed wing 3.2.0");
    mk(join(app, "Kestrune.exe"), "program 3.2.0");
  }

  CheckEnv env() {
    CheckEnv e;
    e.fs = &real_file_system();
    e.get = server.get();
    e.key = release_key_for_test().pk;
    e.check_url = "https://localhost/v1/updates?product=kestrune";
    e.own_version = "3.2.0";
    e.edition = "standard";
    e.program_dir = app;
    e.install_dir = bundle;
    e.auto_install = true;
    e.staged_folder = staged;
    e.verify = [](const std::string& p) {
      std::string bytes = slurp(p), sig = slurp(p + ".sig");
      Key& k = const_cast<Key&>(release_key_for_test());
      return sig.size() == 64 && k.sign(bytes) == sig;  // Ed25519 signatures are deterministic
    };
    e.loaded_module_version = [this](const std::string& t) {
      return running.count(t) ? running[t] : std::string();
    };
    e.modules_changed = [this] { ++changed; };
    e.log = [this](const std::string& s) { log.push_back(s); };
    return e;
  }
  bool logged(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  std::string all_log() const {
    std::string s;
    for (auto& l : log) s += l + "\n";
    return s;
  }
};

TEST_F(UpdateCheck, GoodReleaseInstallsNewerModulesAndStagesLoaderProgramAndModulesNeedingThem) {
  server.modules = {module("wing", "3.3.0"), module("wing", "3.1.0"), module("x32", "3.4.0", 4)};
  server.loader = Served{"Kestrune.dll", "3.3.0", "", "", "loader 3.3.0"};
  server.app = Served{"Kestrune.exe", "3.3.0", "", "standard", "program 3.3.0"};
  run_update_check(state, env());

  EXPECT_TRUE(logged("update: release 3.3.0 available (this is 3.2.0)")) << all_log();
  EXPECT_TRUE(logged("update: wing-3.3.0.dll verified and installed")) << all_log();
  EXPECT_EQ(slurp(join(join(bundle, "modules"), "wing-3.3.0.dll")), "module wing 3.3.0");
  EXPECT_EQ(slurp(join(join(app, "modules"), "wing-3.3.0.dll")), "module wing 3.3.0");
  EXPECT_EQ(slurp(join(join(bundle, "modules"), "wing-3.3.0.dll.sig")).size(), 64u);
  EXPECT_EQ(slurp(join(join(bundle, "modules"), "wing-3.1.0.dll")), "<missing>")
      << "older than what is installed";
  EXPECT_EQ(slurp(join(join(bundle, "modules"), "x32-3.4.0.dll")), "<missing>")
      << "needs the newer loader";
  EXPECT_EQ(changed, 1);

  EXPECT_EQ(slurp(join(staged, "Kestrune.dll")), "loader 3.3.0");
  EXPECT_EQ(slurp(join(staged, "Kestrune.exe")), "program 3.3.0");
  EXPECT_EQ(slurp(join(join(staged, "modules"), "x32-3.4.0.dll")), "module x32 3.4.0");
  EXPECT_EQ(slurp(join(staged, "ready")), "3.3.0");
  EXPECT_EQ(state.staged.load(), 1u);
  EXPECT_TRUE(logged("update: Kestrune 3.3.0 staged - it installs the next time LV1 is closed"))
      << all_log();
  EXPECT_EQ(state.busy.load(), 1u) << "busy is the thread's to clear";

  // The same release again: the marker names it, nothing is fetched but the manifest.
  server.asked.clear();
  run_update_check(state, env());
  EXPECT_EQ(server.asked,
            std::vector<std::string>{"https://localhost/v1/updates?product=kestrune"});
}

TEST_F(UpdateCheck, WithoutAutoInstallModulesAreKeptBesideTheProgramOnly) {
  server.modules = {module("wing", "3.3.0")};
  auto e = env();
  e.auto_install = false;
  run_update_check(state, e);
  EXPECT_TRUE(logged("update: wing-3.3.0.dll verified and kept for the next install")) << all_log();
  EXPECT_EQ(slurp(join(join(app, "modules"), "wing-3.3.0.dll")), "module wing 3.3.0");
  EXPECT_EQ(slurp(join(join(bundle, "modules"), "wing-3.3.0.dll")), "<missing>");
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(state.staged.load(), 0u);
}

// Each misbehaviour of the server, against a machine that already holds a staged release: no
// installed or staged file changes, and the log says why.
TEST_F(UpdateCheck, EachMisbehaviourLeavesEveryFileAsItWas) {
  server.modules = {module("wing", "3.3.0")};
  server.loader = Served{"Kestrune.dll", "3.3.0", "", "", "loader 3.3.0"};
  const std::string mod_url = "https://localhost/f/wing-3.3.0.dll",
                    loader_url = "https://localhost/f/Kestrune.dll";
  const std::string manifest_url = "https://localhost/v1/updates?product=kestrune";
  Server other = server;
  other.version = "3.1.0";
  struct Case {
    const char* name;
    std::function<void(Server&)> misbehave;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"HTTP error",
       [](Server& s) { s.manifest_status = 503; },
       {"update: check failed (HTTP 503) - next try in 6 h"}},
      {"answer past the size limit",
       [&](Server& s) {
         s.overrides[manifest_url] = {200, std::string(kManifestLimit + 1, ' ')};
       },
       {"update: check failed (HTTP 200) - next try in 6 h"}},
      {"body changed after signing",
       [&](Server& s) {
         // A body of the same release signed for other bytes.
         std::string b = s.body();
         std::string changed = b;
         changed.replace(changed.find("3.3.0"), 5, "9.9.9");
         s.overrides[manifest_url] = {
             200,
             R"({"manifest":{"format":"kestrune-release/1","platforms":{"windows-x64":{"body":")" +
                 b64(changed) + R"(","sig":")" + b64(release_key_for_test().sign(b)) + R"("}}}})"};
       },
       {"update: release manifest is NOT signed by Kestrune - ignored"}},
      {"signed by another key",
       [&](Server& s) {
         Key other_key(9);
         std::string b = s.body();
         s.overrides[manifest_url] = {
             200,
             R"({"manifest":{"format":"kestrune-release/1","platforms":{"windows-x64":{"body":")" +
                 b64(b) + R"(","sig":")" + b64(other_key.sign(b)) + R"("}}}})"};
       },
       {"update: release manifest is NOT signed by Kestrune - ignored"}},
      {"module differs from its sha256",
       [&](Server& s) {
         s.overrides[mod_url] = {200, std::string("module wing 3.3.X")};
       },
       {"update: wing-3.3.0.dll 3.3.0 refused: SHA-256 mismatch"}},
      {"module shorter",
       [&](Server& s) {
         s.overrides[mod_url] = {200, std::string("module wing")};
       },
       {"update: wing-3.3.0.dll 3.3.0 refused: wrong size"}},
      {"module longer",
       [&](Server& s) {
         s.overrides[mod_url] = {200, std::string("module wing 3.3.0!")};
       },
       {"update: wing-3.3.0.dll 3.3.0 refused: wrong size"}},
      {"module HTTP 404",
       [&](Server& s) {
         s.overrides[mod_url] = {404, ""};
       },
       {"update: wing-3.3.0.dll 3.3.0 refused: download failed (HTTP 404)"}},
      {"loader of another release under this one's entry",
       [&](Server& s) {
         s.overrides[loader_url] = {200, std::string("loader 3.2.5")};
       },
       {"update: Kestrune.dll 3.3.0 not staged: SHA-256 mismatch"}},
      {"older release",
       [&](Server& s) {
         s = other;
         s.modules = {module("wing", "3.1.0")};
         s.loader->version = "3.1.0";
       },
       {"update: release 3.1.0 available (this is 3.2.0)"}},
  };
  const Server base = server;
  for (const Case& c : cases) {
    // A fresh machine for each case: the installed modules and the earlier staged release.
    for (const std::string& d : {bundle, app, staged}) real_file_system().remove_tree(d);
    SetUp();
    put_signed(join(staged, "Kestrune.dll"), "loader 3.2.5");
    mk(join(staged, "ready"), "3.2.5");
    server = base;
    c.misbehave(server);
    log.clear();
    changed = 0;
    state.staged = 1;
    const bool loader_case = std::string(c.name).rfind("loader", 0) == 0;
    if (!loader_case) server.loader.reset();  // the module cases break the module alone
    const auto staged_before = snapshot(staged), bundle_before = snapshot(bundle),
               app_before = snapshot(app);
    run_update_check(state, env());
    for (const std::string& l : c.lines) EXPECT_TRUE(logged(l)) << c.name << "\n" << all_log();
    EXPECT_EQ(snapshot(staged), staged_before) << c.name;
    EXPECT_EQ(state.staged.load(), 1u) << c.name << ": the earlier staged release still waits";
    if (!loader_case) {
      EXPECT_EQ(snapshot(bundle), bundle_before) << c.name;
      EXPECT_EQ(snapshot(app), app_before) << c.name;
      EXPECT_EQ(changed, 0) << c.name;
    }
  }
}

TEST_F(UpdateCheck, AStagingWriteFailureLeavesNoPlaceableRelease) {
  server.loader = Served{"Kestrune.dll", "3.3.0", "", "", "loader 3.3.0"};
  put_signed(join(staged, "Kestrune.exe"), "program 3.2.5");
  mk(join(staged, "ready"), "3.2.5");
  state.staged = 1;
  testing::FaultyFs faulty;
  faulty.fail_by_path = true;
  faulty.fail_op = testing::Op::write;
  faulty.fail_path = "Kestrune.dll.part";  // the loader itself, after its .sig went in
  auto e = env();
  e.fs = &faulty;
  run_update_check(state, e);
  ASSERT_TRUE(faulty.failed);
  EXPECT_TRUE(logged("update: Kestrune.dll 3.3.0 not staged: could not write it")) << all_log();
  EXPECT_EQ(slurp(join(staged, "ready")), "<missing>");
  EXPECT_EQ(slurp(join(staged, "Kestrune.exe")), "<missing>")
      << "no file of the earlier release waits unmarked";
  EXPECT_EQ(state.staged.load(), 0u);
}

TEST(ModuleFiles, NewestVerifiedFirstAndPruneKeepsTheTwoNewestAndTheRunningOne) {
  TempFolder root;
  const std::string dir = root.at("modules");
  for (const char* v : {"3.0.0", "3.1.0", "3.1.5", "3.2.0", "3.10.0"})
    put_signed(join(dir, std::string("wing-") + v + ".dll"), v);
  mk(join(dir, "wing-9.0.0.dll"), "unsigned");  // no .sig: never counted
  mk(join(dir, "x32-4.0.0.dll"), "x");
  put_signed(join(dir, "wing-x.dll"), "not a version");
  auto verify = [](const std::string& p) {
    std::string sig = slurp(p + ".sig");
    return sig.size() == 64 && const_cast<Key&>(release_key_for_test()).sign(slurp(p)) == sig;
  };
  std::vector<std::string> order;
  for (const ModuleFile& m : list_module_files(real_file_system(), dir, "wing", verify))
    order.push_back(m.version);
  EXPECT_EQ(order, (std::vector<std::string>{"3.10.0", "3.2.0", "3.1.5", "3.1.0", "3.0.0"}));

  std::vector<std::string> log;
  prune_old_modules(real_file_system(), dir, "wing", "3.1.0", verify,
                    [&](const std::string& s) { log.push_back(s); });
  EXPECT_EQ(log, (std::vector<std::string>{"update: removed old module wing-3.1.5.dll",
                                           "update: removed old module wing-3.0.0.dll"}));
  std::vector<std::string> left;
  for (const ModuleFile& m : list_module_files(real_file_system(), dir, "wing", verify))
    left.push_back(m.version);
  EXPECT_EQ(left, (std::vector<std::string>{"3.10.0", "3.2.0", "3.1.0"}));
  EXPECT_EQ(slurp(join(dir, "wing-3.0.0.dll.sig")), "<missing>");
  EXPECT_EQ(slurp(join(dir, "wing-9.0.0.dll")), "unsigned") << "only what was listed is pruned";
}

}  // namespace
}  // namespace ks::tray
