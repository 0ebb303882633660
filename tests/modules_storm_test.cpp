// End to end: while the watcher swaps console modules a hundred times, two LV1 threads call
// gain_set without pause. LV1's calls only ever try the module's lock, so none of them may wait
// for a swap, not even for the slow stops (3 s) among them.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "shared/loader_block.h"
#include "shared/names.h"
#include "sim/lv1/scenario/lv1_scenario.h"
#include "tests/modules_support.h"

namespace ks::sim {
namespace {

TEST(ModulesStorm, HundredSwapsWhileTwoLv1ThreadsStormGainSet) {
  const std::string fakes = windows_path(KS_FAKE_MODULES);
  Scenario s("storm");
  const std::string modules = s.loader_folder() + "\\modules";
  CreateDirectoryA(modules.c_str(), nullptr);
  auto install = [&](const char* variant, int minor) {
    const std::string from = fakes + "\\fake_module_" + variant + ".dll";
    const std::string to = modules + "\\wing-5." + std::to_string(minor) + ".0.dll";
    // The .sig first, then the file: the watcher never sees an unsigned newest file.
    ASSERT_TRUE(CopyFileA((from + ".sig").c_str(), (to + ".sig").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
  };
  install("wing_good", 0);

  // The storm lasts until the swaps are done (or at most 5 minutes): on a slow machine a hundred
  // swaps may take longer than any fixed storm would.
  HANDLE storm_stop = CreateEventA(nullptr, TRUE, FALSE, "KestruneTestStormStop");
  ASSERT_NE(storm_stop, nullptr);
  RunResult r;
  std::thread lv1([&] {
    r = s.run(
        "factory \"$BUNDLE\"\nbox b 11 2\nlistener b plain\nquery b WavesIOBoxGain g\n"
        "mac b 0a1b2c3d4e5f\ncallback g\nsleep 500\nstorm g 300000 KestruneTestStormStop\n",
        400000);
  });
  struct EndStorm {
    HANDLE stop;
    std::thread& lv1;
    ~EndStorm() {
      SetEvent(stop);
      if (lv1.joinable()) lv1.join();
      CloseHandle(stop);
    }
  } end_storm{storm_stop, lv1};

  // The block from this process: the running version tells when a swap is done.
  HANDLE mapping = nullptr;
  for (int i = 0; i < 500 && !mapping; ++i, Sleep(10))
    mapping = OpenFileMappingW(FILE_MAP_READ, FALSE,
                               reinterpret_cast<const wchar_t*>(kLoaderBlockNameU16));
  ASSERT_NE(mapping, nullptr);
  auto* block = static_cast<const LoaderBlock*>(
      MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kLoaderBlockSize));
  ASSERT_NE(block, nullptr);
  auto running = [&](int minor) {
    char want[24];
    std::snprintf(want, sizeof want, "5.%d.0", minor);
    const double end = now_ms() + 10000;
    while (now_ms() < end) {
      char got[24];
      std::memcpy(got, block->types[0].running_version, sizeof got);
      got[23] = '\0';
      if (std::strcmp(got, want) == 0) return true;
      Sleep(5);
    }
    return false;
  };
  ASSERT_TRUE(running(0));
  Sleep(600);  // the storm has begun

  const double t0 = now_ms();
  int swaps = 0;
  for (int k = 1; k <= 100; ++k) {
    // Every twentieth module stops slowly: a call that waited for a swap would show 3 s.
    install(k % 20 == 0 ? "wing_slow_stop" : k % 2 ? "wing_newer" : "wing_good", k);
    signal_modules_changed();
    ASSERT_TRUE(running(k)) << "swap " << k;
    ++swaps;
  }
  const double swap_ms = now_ms() - t0;
  UnmapViewOfFile(block);
  CloseHandle(mapping);
  SetEvent(storm_stop);
  lv1.join();

  ASSERT_TRUE(r.finished());
  const JournalLine* storm = r.journal.first("storm g calls=");
  ASSERT_NE(storm, nullptr);
  long calls = 0;
  double worst = 0;
  ASSERT_EQ(std::sscanf(storm->text.c_str(), "storm g calls=%ld worst=%lf ms", &calls, &worst), 2)
      << storm->text;
  std::printf("%d swaps in %.0f ms; %ld gain_set calls from two LV1 threads, the slowest %.3f ms\n",
              swaps, swap_ms, calls, worst);
  RecordProperty("worst_gain_set_ms", std::to_string(worst));
  EXPECT_EQ(swaps, 100);
  EXPECT_GT(calls, 1000);
  EXPECT_LT(worst, 500.0) << "an LV1 thread waited for a module swap";
  // The storm reached the modules between swaps.
  EXPECT_NE(s.log(1).find("FAKE "), std::string::npos);
}

}  // namespace
}  // namespace ks::sim
