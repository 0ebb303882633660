// End to end with a WING that stops reading its socket: the LV1 stand-in storms gain_set from two
// threads through the real Kestrune.dll into the signed Fellbrook while the simulated desk reads
// nothing. LV1's thread must never wait for the desk's socket or its lock (no call near the
// link's one-second send time-out), and once the desk reads again every value LV1 left deferred
// reaches it: the desk ends with LV1's last value on each strip.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/lv1/script_text.h"
#include "sim/wing/discovery.h"
#include "sim/wing/wing_sim.h"
#include "tests/e2e/bundle_files.h"

namespace ks::e2e {
namespace {

using sim::SimValue;

constexpr int kStrips = 8;  // LV1 channels 0..7: LCL 1..8 in the simulated patch
double final_db(int ch) { return 10.0 + 1.5 * ch; }

bool wait_until(const std::function<bool()>& ready, int limit_ms) {
  for (int waited = 0; !ready(); waited += 20) {
    if (waited >= limit_ms) return false;
    Sleep(20);
  }
  return true;
}

TEST(EndToEndWingStorm, Lv1NeverWaitsForADeskThatStopsReadingAndNoDeferredValueIsLost) {
  sim::WingSim desk;
  desk.set_receive_buffer(4096);  // a stalled desk's socket fills within a few hundred writes
  sim::DiscoveryResponder answers;
  sim::DiscoveryBehaviour behaviour;
  behaviour.line = desk.identity_line();
  ASSERT_TRUE(desk.start(kLoopback));
  ASSERT_TRUE(answers.start(kLoopback, behaviour));

  sim::Scenario s("wing-storm-" + std::to_string(GetTickCount64()));
  const std::string modules = s.loader_folder() + "\\modules";
  const std::string module = modules + "\\wing-" + KS_E2E_VERSION + ".dll";
  CreateDirectoryA(modules.c_str(), nullptr);
  ASSERT_TRUE(copy_into(KS_E2E_WING_MODULE, module));
  ASSERT_TRUE(copy_into(std::string(KS_E2E_WING_MODULE) + ".sig", module + ".sig"));
  ASSERT_TRUE(write_file(s.loader_folder() + "\\wing.cfg",
                         "bank=LCL\nwatch=8\ncard=MOD\nip=127.0.0.1\nresync=lv1\n"));

  const std::string folder = s.module_root().substr(0, s.module_root().rfind('\\'));
  const std::string journal_path = folder + "\\journal.txt";
  const std::string go_storm = folder + "\\go-storm", go_end = folder + "\\go-end";
  std::string script = sim::card_setup_script("box b 11 2") + "callback g\n" + "wait-file \"" +
                       go_storm + "\" 120000\n" + "storm g 3000\n";
  for (int ch = 0; ch < kStrips; ++ch) {
    char line[48];
    std::snprintf(line, sizeof line, "gain g %d %.1f\n", ch, final_db(ch));
    script += line;
  }
  script += "wait-file \"" + go_end + "\" 60000\nrelease b\n";

  sim::RunResult run;
  std::thread lv1([&] { run = s.run(script, 240000); });
  auto journal = [&] { return sim::read_text(journal_path); };
  auto module_log = [&] { return s.log(1); };
  struct Finish {
    std::function<void()> f;
    ~Finish() { f(); }
  } finish{[&] {
    desk.update_faults([](sim::SimFaults& f) { f.stall = false; });
    write_file(go_storm, "");
    write_file(go_end, "");
    lv1.join();
    answers.stop();
    desk.stop();
  }};

  ASSERT_TRUE(
      wait_until([&] { return module_log().find("[bridge] seeded ") != std::string::npos; }, 60000))
      << "LV1 was never seeded from the desk\n"
      << module_log();

  desk.update_faults([](sim::SimFaults& f) { f.stall = true; });
  write_file(go_storm, "");
  ASSERT_TRUE(
      wait_until([&] { return journal().find("gain g ch=7 ") != std::string::npos; }, 60000))
      << journal();
  const std::string text = journal();
  const size_t at = text.find("storm g calls=");
  ASSERT_NE(at, std::string::npos);
  long calls = 0;
  double worst = 0;
  ASSERT_EQ(std::sscanf(text.c_str() + at, "storm g calls=%ld worst=%lf ms", &calls, &worst), 2);
  Sleep(200);
  desk.update_faults([](sim::SimFaults& f) { f.stall = false; });

  const std::string log = module_log();
  std::printf(
      "%ld gain_set calls from two LV1 threads against a desk that stopped reading, the slowest %.3f ms; "
      "%d deferral(s) logged\n",
      calls, worst, sim::occurrences(log, "deferred, sent at the next pass"));
  RecordProperty("worst_gain_set_ms", std::to_string(worst));
  EXPECT_GT(calls, 500);
  // Two LV1 threads and the watcher meet at the link's socket: some writes find it busy or full.
  EXPECT_GE(sim::occurrences(log, "deferred, sent at the next pass"), 1)
      << "no write met a busy or full socket";
  EXPECT_LT(worst, 100.0) << "an LV1 thread waited for the desk's socket";

  // Every last value LV1 wrote reaches the desk once it reads again, unless the link was down at
  // that moment (then it was never deferred, and resync reconciles it).
  for (int ch = 0; ch < kStrips; ++ch) {
    char down[80];
    std::snprintf(down, sizeof down, "SET gain ch=%d %.1f dB  [desk link is down", ch,
                  final_db(ch));
    if (log.find(down) != std::string::npos) {
      std::printf("LV1 ch %d: the link was down when LV1 moved it - not deferred\n", ch);
      continue;
    }
    const std::string path = "io/in/LCL/" + std::to_string(ch + 1) + "/g";
    SimValue v;
    EXPECT_TRUE(wait_until([&] { return desk.get(path, &v) && v.number == final_db(ch); }, 15000))
        << "LV1 ch " << ch << ": the desk has " << v.number << ", LV1 last wrote " << final_db(ch);
  }
  if (HasFailure()) std::printf("%s\n", log.c_str());
}

}  // namespace
}  // namespace ks::e2e
