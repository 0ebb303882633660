// The module-wide values several threads touch at once: arming from two threads, the capability
// statistics, the settings file written by the watcher and the discovery thread together, and the
// string settings read while discovery replaces them. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "bridge/config.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/tests/support/framework_fixture.h"
#include "os/file.h"

namespace ks {
namespace {

std::atomic<int> g_discovery_runs{0};
void counting_discovery() {
  g_discovery_runs++;
  while (!wait_stop(2)) {}
}

class Concurrency : public FrameworkTest {};

TEST_F(Concurrency, ArmingFromSeveralThreadsStartsOneDiscovery) {
  g_discovery_runs = 0;
  framework_hooks().discovery_thread = counting_discovery;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      while (!go.load()) {}
      framework_start();  // the loader's start and LV1's writes may both arm
    });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_TRUE(framework_shutdown());
  EXPECT_EQ(g_discovery_runs.load(), 1);
  EXPECT_EQ(host().lines_with("[bridge] searching for a").size(), 1u);
}

TEST_F(Concurrency, CapabilityExtremesKeepEveryQuery) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 2000; ++i) module_has_preamp(uint32_t(10 + ((i * 7 + t * 13) % 40)));
      module_has_preamp(uint32_t(t == 0 ? 3 : 60 + t));
    });
  for (auto& t : threads) t.join();
  CapabilityQueries q = capability_queries();
  EXPECT_EQ(q.count, 4u * 2001u);
  EXPECT_EQ(q.lowest, 3);
  EXPECT_EQ(q.highest, 63);
}

TEST_F(Concurrency, TheSettingsFileSurvivesTwoWritersAtOnce) {
  std::string path = path_join(dir, "wing.cfg");
  write_text(path, "bank=A\nwatch=8\n");
  config_load(path);
  std::thread watcher([] {
    for (int i = 0; i < 60; ++i) {
      settings().watch.store(1 + i % 64);
      config_save();
    }
  });
  std::thread discovery([] {
    for (int i = 0; i < 60; ++i)
      config_set_key("hint", ("127.0.0." + std::to_string(i % 200)).c_str());
  });
  std::thread reader([&] {
    for (int i = 0; i < 200; ++i) {
      std::string text;
      ReadStatus r = read_file(path, 1 << 16, text);
      // Whenever the file is there it is whole: it begins with a key line or the header.
      if (r == ReadStatus::ok) {
        EXPECT_TRUE(text.rfind("bank=", 0) == 0 || text.rfind("; written", 0) == 0) << text;
      }
    }
  });
  watcher.join();
  discovery.join();
  reader.join();
  ConsoleConfig c;
  config_defaults(c);
  config_parse(read_text(path), c, nullptr);
  EXPECT_STREQ(c.hint, "127.0.0.59") << "the last hint written is kept by every later save";
  EXPECT_EQ(c.watch, 60);
  EXPECT_STREQ(c.bank, "A");
}

TEST_F(Concurrency, StringSettingsAreCopiedWhole) {
  std::string path = path_join(dir, "wing.cfg");
  const std::string a = "ip=127.0.0.1\nconsole=AAAAAAAAAAAAAAAAAAAA\n";
  const std::string b = "ip=127.100.100.100\nconsole=BB\n";
  write_text(path, a);
  config_load(path);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop.load()) {
      char ip[64], console[40];
      config_ip(ip);
      config_console(console);
      std::string i = ip, c = console;
      EXPECT_TRUE(i == "127.0.0.1" || i == "127.100.100.100") << i;
      EXPECT_TRUE(c == "AAAAAAAAAAAAAAAAAAAA" || c == "BB") << c;
    }
  });
  for (int k = 0; k < 100; ++k) {
    write_file_replace(path, (k & 1) ? a : b);
    config_reload_address();
  }
  stop = true;
  reader.join();
}

}  // namespace
}  // namespace ks
