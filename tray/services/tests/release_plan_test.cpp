// Which files of a checked release are taken now, set aside or staged.
#include "tray/services/release_plan.h"

#include <gtest/gtest.h>

#include <map>

namespace ks::tray {
namespace {

ReleaseEntry module(const std::string& console, const std::string& version, int32_t abi) {
  ReleaseEntry e;
  e.console = console;
  e.version = version;
  e.file = console + "-" + version + ".dll";
  e.abi = abi;
  return e;
}

TEST(ReleasePlan, ModulesNewerThanInstalledAreTakenByAbi) {
  Release r;
  r.modules = {module("wing", "3.3.0", -1), module("wing", "3.2.0", -1),
               module("x32", "3.3.0", 3),   module("x32", "3.4.0", 4),
               module("m99", "1.0.0", -1),  module("wing", "3.2.1-rc1", -1)};
  std::map<std::string, std::string> have = {{"wing", "3.2.0"}, {"x32", "3.2.9"}};
  auto newest = [&](const std::string& c) { return have.count(c) ? have[c] : std::string(); };
  ReleasePlan p = plan_release(r, newest, "3.2.0", "standard");
  std::vector<std::string> now, aside;
  for (auto& e : p.install_now) now.push_back(e.file);
  for (auto& e : p.set_aside) aside.push_back(e.file);
  EXPECT_EQ(now, (std::vector<std::string>{"wing-3.3.0.dll", "x32-3.3.0.dll", "m99-1.0.0.dll",
                                           "wing-3.2.1-rc1.dll"}));
  EXPECT_EQ(aside, (std::vector<std::string>{"x32-3.4.0.dll"}));
}

TEST(ReleasePlan, LoaderAndProgramAreTakenOnlyWhenNewerAndOfThisEdition) {
  struct Case {
    const char* own;
    const char* loader;
    const char* app;
    const char* app_edition;
    bool loader_taken, app_taken;
  };
  const Case cases[] = {
      {"3.2.0", "3.2.1", "3.2.1", "standard", true, true},
      {"3.2.0", "3.2.0", "3.2.0", "standard", false, false},
      {"3.2.0-rc1", "3.2.0", "3.2.0", "standard", true, true},
      {"3.2.0", "3.1.9", "3.3.0", "pro", false, false},
      {"3.2.0", "3.3.0", "3.3.0", "", true, false},
  };
  for (const Case& c : cases) {
    Release r;
    ReleaseEntry l, a;
    l.version = c.loader;
    a.version = c.app;
    a.edition = c.app_edition;
    r.loader = l;
    r.app = a;
    ReleasePlan p = plan_release(r, nullptr, c.own, "standard");
    EXPECT_EQ(p.take_loader, c.loader_taken) << c.own << " / " << c.loader;
    EXPECT_EQ(p.take_app, c.app_taken) << c.own << " / " << c.app << " " << c.app_edition;
  }
  ReleasePlan none = plan_release(Release{}, nullptr, "3.2.0", "standard");
  EXPECT_FALSE(none.take_loader || none.take_app);
}

}  // namespace
}  // namespace ks::tray
