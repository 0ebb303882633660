// End to end: the LV1 stand-in runs the real Kestrune.dll while this process plays the tray
// program beside it: it drops signed stand-in console modules into the loader's modules folder,
// rewrites state.cfg, sets Local\KestruneModulesChanged and reads Local\KestruneLoader.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "shared/loader_block.h"
#include "shared/names.h"
#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/lv1/script_text.h"
#include "tests/modules_support.h"

namespace ks::sim {
namespace {

const std::string kFakes = windows_path(KS_FAKE_MODULES);

// One WING card as LV1 sets it up, with its MAC known, so it is the live card.
const std::string kWingCard = card_setup_script("box b 11 2") + "callback g\n";

const char* kX32Card =
    "box x 11 0\n"
    "listener x plain\n"
    "query x WavesIOBoxGain xg\n"
    "mac x 0a1b2c3d4e60\n"
    "callback xg\n";

// A scenario whose script runs on its own thread while the test acts beside it.
class Live {
public:
  Live(const std::string& name) : s_(name) { CreateDirectoryA(modules().c_str(), nullptr); }
  ~Live() { finish(); }

  std::string modules() const { return s_.loader_folder() + "\\modules"; }

  // Copies a built variant (and, unless told otherwise, its .sig) into modules\<file>.
  void install(const std::string& variant, const std::string& file, bool with_sig = true) {
    const std::string from =
        kFakes + "\\" +
        (variant == "not_a_pe" ? "not_a_pe.dll" : "fake_module_" + variant + ".dll");
    ASSERT_TRUE(CopyFileA(from.c_str(), (modules() + "\\" + file).c_str(), FALSE)) << from;
    if (with_sig) {
      ASSERT_TRUE(
          CopyFileA((from + ".sig").c_str(), (modules() + "\\" + file + ".sig").c_str(), FALSE));
    }
  }
  void write(const std::string& file, const std::string& bytes) {
    std::ofstream out(s_.loader_folder() + "\\" + file, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  void start(const std::string& script) {
    thread_ = std::thread([this, script] { result_ = s_.run(script, 120000); });
  }
  RunResult& finish() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

  // Waits until the type's log holds `needle` `times` times; the time it showed, or -1.
  double wait_log(int channel, const std::string& needle, int times = 1, int timeout_ms = 15000) {
    const double end = now_ms() + timeout_ms;
    while (now_ms() < end) {
      if (occurrences(s_.log(channel), needle) >= times) return now_ms();
      Sleep(5);
    }
    ADD_FAILURE() << "not in log " << channel << ": " << needle << "\n" << s_.log(channel);
    return -1;
  }
  std::string log(int channel) const { return s_.log(channel); }

  static void signal() { signal_modules_changed(); }

private:
  Scenario s_;
  std::thread thread_;
  RunResult result_;
};

// The loader block as a second process sees it.
struct BlockView {
  HANDLE mapping = nullptr;
  LoaderBlock* block = nullptr;
  BlockView() {
    mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE,
                               reinterpret_cast<const wchar_t*>(kLoaderBlockNameU16));
    if (mapping)
      block = static_cast<LoaderBlock*>(
          MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kLoaderBlockSize));
  }
  ~BlockView() {
    if (block) UnmapViewOfFile(block);
    if (mapping) CloseHandle(mapping);
  }
};

TEST(ModulesManager, NewerSignedModuleIsSwappedInLiveWithinASecond) {
  Live l("swap");
  l.install("wing_good", "wing-4.2.0.dll");
  l.start(std::string(kWingCard) + "sleep 6000\n");
  ASSERT_GT(l.wait_log(1, "FAKE good attach "), 0);
  EXPECT_NE(l.log(1).find("FAKE good start v=3 size=80 ctx=wing"), std::string::npos);

  l.install("wing_newer", "wing-4.10.0.dll");  // numerically newer than 4.2.0
  const double t0 = now_ms();
  Live::signal();
  const double t1 = l.wait_log(1, "FAKE newer attach ");
  ASSERT_GT(t1, 0);
  EXPECT_LT(t1 - t0, 1000.0) << "swapped in " << (t1 - t0) << " ms";
  ASSERT_TRUE(l.finish().finished());

  const std::string log = l.log(1);
  const size_t stop = log.find("FAKE good stop reports true");
  const size_t unmapped = log.find("FAKE good unmapped");
  const size_t replaced = log.find("[loader] wing 4.2.0 replaced");
  const size_t loaded = log.find("[loader] wing module 4.10.0 loaded from ");
  const size_t started = log.find("FAKE newer start v=3");
  ASSERT_NE(stop, std::string::npos) << log;
  EXPECT_LT(stop, unmapped) << "unmapped only after its stop reported finished";
  EXPECT_LT(unmapped, replaced);
  EXPECT_LT(replaced, loaded);
  EXPECT_LT(loaded, started);
  EXPECT_NE(log.find("wing-4.10.0.dll", loaded), std::string::npos);
}

// Every way a newer file can be bad, in one folder: unsigned, a signature of other bytes, empty,
// cut short, and signed files that will not load. Each is logged and skipped or rejected, the
// load failures are counted in the block, and the good 4.2.0 runs.
TEST(ModulesManager, BadFilesAreRefusedAndTheNextNewestRuns) {
  Live l("refused");
  l.install("wing_good", "wing-4.2.0.dll");
  l.install("wing_wrong_type", "wing-4.3.0.dll");
  l.install("wing_no_export", "wing-4.4.0.dll");
  l.install("wing_null_table", "wing-4.5.0.dll");
  l.install("wing_dllmain_fails", "wing-4.6.0.dll");
  l.install("not_a_pe", "wing-4.7.0.dll");
  l.install("wing_newer", "wing-4.8.0.dll", false);
  CopyFileA((kFakes + "\\fake_module_wing_good.dll.sig").c_str(),
            (l.modules() + "\\wing-4.8.0.dll.sig").c_str(), FALSE);
  l.install("wing_newer", "wing-4.9.0.dll", false);  // unsigned
  l.write("modules\\wing-4.9.1.dll", "");
  l.write("modules\\wing-4.9.1.dll.sig", std::string(64, '\0'));
  l.install("wing_newer", "wing-4.9.2.dll");
  {
    std::ifstream in(l.modules() + "\\wing-4.9.2.dll", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    in.close();
    l.write("modules\\wing-4.9.2.dll", bytes.substr(0, bytes.size() / 2));  // cut short, old .sig
  }
  l.write("modules\\wing-4.9.3.dll", "x");
  l.write("modules\\wing-4.9.3.dll.sig", std::string(65, 'x'));  // one byte too many
  l.write("modules\\wing-4.10.dll", "two numbers only");
  l.start(std::string(kWingCard) + "sleep 1500\n");
  ASSERT_GT(l.wait_log(1, "FAKE good attach "), 0);

  BlockView v;
  ASSERT_NE(v.block, nullptr);
  const LoaderTypeRecord& r = v.block->types[0];
  EXPECT_EQ(r.failure_count, 5u);
  EXPECT_EQ(r.last_error, 1u);
  EXPECT_STREQ(r.failed_file, "wing-4.3.0.dll");  // the last one tried
  EXPECT_STREQ(r.running_version, "4.2.0");
  ASSERT_TRUE(l.finish().finished());

  const std::string log = l.log(1);
  for (const char* skipped :
       {"wing-4.8.0.dll", "wing-4.9.0.dll", "wing-4.9.1.dll", "wing-4.9.2.dll", "wing-4.9.3.dll"})
    EXPECT_NE(log.find(std::string("[loader] ") + skipped + " is not signed by Kestrune - skipped"),
              std::string::npos)
        << skipped;
  struct Failure {
    const char* file;
    const char* error;
  } failures[] = {{"wing-4.7.0.dll", "(error 193, entry "},
                  {"wing-4.6.0.dll", "(error 1114, entry "},
                  {"wing-4.5.0.dll", "(error 1, entry "},
                  {"wing-4.4.0.dll", "(error 1, entry "},
                  {"wing-4.3.0.dll", "(error 1, entry "}};
  size_t at = 0;
  for (const Failure& f : failures) {
    at = log.find(std::string(f.file) + " would not load " + f.error, at);
    ASSERT_NE(at, std::string::npos) << f.file << "\n" << log;
    EXPECT_NE(log.find(") - keeping none", at), std::string::npos);
  }
  EXPECT_EQ(occurrences(log, "would not load"), 5) << "each bad file is tried once, then rejected";
  EXPECT_EQ(occurrences(log, "FAKE good start"), 1);
  EXPECT_EQ(log.find("FAKE wrong-type start"), std::string::npos);
}

TEST(ModulesManager, SwitchingX32OffStopsFirstAndUnmapsOnlyAfterTheStopFinished) {
  Live l("x32off");
  l.install("wing_good", "wing-4.2.0.dll");
  l.install("x32_slow_stop", "x32-1.0.0.dll");
  l.start(std::string(kWingCard) + kX32Card + "sleep 7000\n");
  ASSERT_GT(l.wait_log(2, "FAKE x32-slow-stop attach "), 0);
  l.write("state.cfg", "wing=on\r\nx32=off\r\n");
  Live::signal();
  ASSERT_GT(l.wait_log(2, "[loader] x32 1.0.0 switched off", 1, 10000), 0);
  ASSERT_TRUE(l.finish().finished());

  const std::string log = l.log(2);
  const size_t begins = log.find("FAKE x32-slow-stop stop begins");
  const size_t finished = log.find("FAKE x32-slow-stop stop reports true");
  const size_t unmapped = log.find("FAKE x32-slow-stop unmapped");
  const size_t off = log.find("[loader] x32 1.0.0 switched off");
  ASSERT_NE(begins, std::string::npos) << log;
  EXPECT_LT(begins, finished);
  EXPECT_LT(finished, unmapped);
  EXPECT_LT(unmapped, off);
  // Channels 0-7 have a preamp in the stand-in: their strips are redrawn without a knob.
  EXPECT_NE(
      log.find(
          "[redraw] x32 off: 8 strip(s) had a knob (0 LV1 asked about, 8 with a preamp in the module); "
          "device box live, ConsoleIO callback not asked for"),
      std::string::npos)
      << log;
  EXPECT_EQ(l.log(1).find("FAKE good stop"), std::string::npos) << "the WING module is left alone";
}

// Milliseconds of the day of the first log line holding `needle` ("HH:MM:SS.mmm  text"), or -1.
long line_time(const std::string& log, const std::string& needle) {
  size_t at = log.find(needle);
  if (at == std::string::npos) return -1;
  size_t start = log.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  int h = 0, m = 0, sec = 0, ms = 0;
  if (std::sscanf(log.c_str() + start, "%d:%d:%d.%d", &h, &m, &sec, &ms) != 4) return -1;
  return ((h * 60L + m) * 60L + sec) * 1000L + ms;
}

// LV1 registers the WING callback while a pass holds module_lock for the X32 module's slow stop:
// its own start attempt only tries the lock and gives up, so the pass must make the start up.
TEST(ModulesManager, StartAskedForDuringAPassIsNotLost) {
  Live l("startlost");
  l.install("wing_good", "wing-4.2.0.dll");
  l.install("x32_slow_stop", "x32-1.0.0.dll");
  std::string wing_without_callback = kWingCard;
  wing_without_callback.resize(wing_without_callback.find("callback g\n"));
  l.start("factory \"$BUNDLE\"\n" +
          wing_without_callback.substr(wing_without_callback.find("box b")) + kX32Card +
          "sleep 2000\ncallback g\nsleep 5000\n");
  ASSERT_GT(l.wait_log(2, "FAKE x32-slow-stop attach "), 0);
  l.write("state.cfg", "x32=off\n");
  Live::signal();
  ASSERT_GT(l.wait_log(1, "FAKE good start v=3", 1, 12000), 0);
  ASSERT_GT(l.wait_log(1, "FAKE good attach "), 0);
  ASSERT_TRUE(l.finish().finished());

  // The registration really fell inside the pass: after the stop began, before it ended.
  const long registered = line_time(l.log(1), "GOT gain_changed_callback=");
  const long stop_began = line_time(l.log(2), "FAKE x32-slow-stop stop begins");
  const long stop_ended = line_time(l.log(2), "FAKE x32-slow-stop stop reports true");
  ASSERT_GE(registered, 0);
  EXPECT_LT(stop_began, registered);
  EXPECT_LT(registered, stop_ended);
  EXPECT_GE(line_time(l.log(1), "FAKE good start v=3"), stop_ended);
}

// LV1 lets go of its last WING card while the watcher swaps the module: the stop runs on LV1's
// thread for 3 s, and the swap must not unmap the module while that stop is still running.
TEST(ModulesManager, NoUnloadWhileAStopOnLv1sThreadRuns) {
  Live l("lv1stop");
  l.install("wing_slow_stop", "wing-4.2.0.dll");
  l.start(std::string(kWingCard) + "sleep 1000\ncallback g -\nsleep 3000\n");
  ASSERT_GT(l.wait_log(1, "FAKE slow-stop attach "), 0);
  ASSERT_GT(l.wait_log(1, "FAKE slow-stop stop begins"), 0);
  l.install("wing_good", "wing-4.3.0.dll");
  Live::signal();
  ASSERT_GT(l.wait_log(1, "[loader] wing module 4.3.0 loaded from ", 1, 10000), 0);
  ASSERT_TRUE(l.finish().finished());
  const std::string log = l.log(1);
  const size_t ended = log.find("FAKE slow-stop stop reports true");
  const size_t unmapped = log.find("FAKE slow-stop unmapped");
  ASSERT_NE(ended, std::string::npos) << log;
  EXPECT_LT(ended, unmapped) << log;
  EXPECT_LT(unmapped, log.find("[loader] wing 4.2.0 replaced"));
  EXPECT_NE(log.find("[loader] wing stopped: LV1 released the device"), std::string::npos);
}

// LV1 clears its last WING callback on one thread (a 3 s stop) and registers it again on another
// while that stop runs: the start must not go into the stopping module, and must not be lost:
// it is made up once the stop has finished.
TEST(ModulesManager, AStartAskedForDuringAStopOnAnotherLv1ThreadFollowsTheStop) {
  Live l("stopstart");
  l.install("wing_slow_stop", "wing-4.2.0.dll");
  l.start(std::string(kWingCard) +
          "sleep 1500\nasync callback g -\nsleep 700\ncallback g\njoin\nsleep 1500\n");
  ASSERT_GT(l.wait_log(1, "FAKE slow-stop stop begins"), 0);
  ASSERT_GT(l.wait_log(1, "FAKE slow-stop start v=3", 2, 10000), 0);
  ASSERT_TRUE(l.finish().finished());
  const std::string log = l.log(1);
  const size_t begins = log.find("FAKE slow-stop stop begins");
  const size_t ended = log.find("FAKE slow-stop stop reports true");
  // Registered, cleared, registered again.
  const size_t cleared =
      log.find("GOT gain_changed_callback=", log.find("GOT gain_changed_callback=") + 1);
  const size_t registered = log.find("GOT gain_changed_callback=", cleared + 1);
  ASSERT_NE(ended, std::string::npos) << log;
  EXPECT_LT(begins, registered) << "the registration fell inside the stop";
  EXPECT_LT(registered, ended) << log;
  const size_t restarted = log.find("FAKE slow-stop start v=3", begins);
  EXPECT_GT(restarted, ended) << "no start while the stop ran\n" << log;
  EXPECT_NE(log.find("FAKE slow-stop attach ", restarted), std::string::npos)
      << "the made-up start attaches\n"
      << log;
}

// The other order: LV1 registers its callback (a 1.5 s start runs) and clears it on another
// thread before the start returned. The stop waits for the start instead of finding the module
// "not started" and leaving it running with no card.
TEST(ModulesManager, AStopAskedForDuringAStartFollowsTheStart) {
  Live l("startstop");
  l.install("wing_slow_start", "wing-4.2.0.dll");
  std::string wing_without_callback = kWingCard;
  wing_without_callback.resize(wing_without_callback.find("callback g\n"));
  l.start(wing_without_callback +
          "sleep 1500\nasync callback g\nsleep 500\ncallback g -\njoin\nsleep 500\n");
  ASSERT_GT(l.wait_log(1, "FAKE slow-start stop begins", 1, 10000), 0);
  ASSERT_TRUE(l.finish().finished());
  const std::string log = l.log(1);
  const size_t returned = log.find("FAKE slow-start start returns");
  const size_t begins = log.find("FAKE slow-start stop begins");
  ASSERT_NE(returned, std::string::npos) << log;
  EXPECT_LT(returned, begins) << log;
  EXPECT_NE(log.find("[loader] wing stopped: LV1 released the device"), std::string::npos) << log;
  EXPECT_EQ(log.find("FAKE slow-start start v=3", log.find("FAKE slow-start start v=3") + 1),
            std::string::npos)
      << "one start only\n"
      << log;
}

// LV1's calls reach a module only once its start has returned: while start runs (1.5 s here, on
// the watcher's thread), the values stay in the loader's cache.
TEST(ModulesManager, NoCallReachesAModuleBeforeItsStartReturned) {
  Live l("slowstart");
  l.start(std::string(kWingCard) + "sleep 700\nstorm g 2500\n");
  ASSERT_GT(l.wait_log(1, "GOT gain_changed_callback="), 0);
  l.install("wing_slow_start", "wing-4.2.0.dll");
  Live::signal();
  ASSERT_TRUE(l.finish().finished());
  const std::string log = l.log(1);
  const size_t begun = log.find("FAKE slow-start start v=3");
  const size_t done = log.find("FAKE slow-start start returns");
  ASSERT_NE(begun, std::string::npos) << log;
  ASSERT_NE(done, std::string::npos);
  const size_t first_call = log.find("FAKE slow-start set_gain");
  ASSERT_NE(first_call, std::string::npos) << "the storm went on after the start";
  EXPECT_LT(done, first_call);
  const size_t kept = log.find("[module not running - not sent]", begun);
  EXPECT_LT(kept, done) << "LV1 moved gains while start ran; they were kept, not sent";
}

// Two live WING cards in LV1: the loader drives one, the block counts the other, and the line
// saying so is written once, when the count changes.
TEST(ModulesManager, SecondLiveCardOfATypeIsCountedAndLoggedOnce) {
  Live l("twocards");
  l.install("wing_good", "wing-4.2.0.dll");
  l.start(
      std::string(kWingCard) +
      "box c 11 2\nlistener c plain\nquery c WavesIOBoxGain g2\nmac c 0a1b2c3d4e70\ncallback g2\n"
      "sleep 1500\n");
  const std::string line =
      "[box] 2 live wing card(s) in LV1 - Kestrune drives one; the other(s) get no preamp control (one console per type)";
  ASSERT_GT(l.wait_log(1, line), 0);
  l.install("wing_newer", "wing-4.3.0.dll");  // one more pass publishes again
  Live::signal();
  ASSERT_GT(l.wait_log(1, "FAKE newer attach "), 0);
  BlockView v;
  ASSERT_NE(v.block, nullptr);
  EXPECT_EQ(v.block->extra_live_cards[0], 1u);
  EXPECT_EQ(v.block->extra_live_cards[1], 0u);
  ASSERT_TRUE(l.finish().finished());
  EXPECT_EQ(occurrences(l.log(1), line), 1);
}

TEST(ModulesManager, ModuleWhoseStopReportsFalseStaysMapped) {
  Live l("stopfalse");
  l.install("wing_stop_false", "wing-4.2.0.dll");
  l.start(std::string(kWingCard) + "sleep 4000\n");
  ASSERT_GT(l.wait_log(1, "FAKE stop-false attach "), 0);
  l.install("wing_good", "wing-4.3.0.dll");
  Live::signal();
  ASSERT_GT(l.wait_log(1, "FAKE good attach "), 0);
  ASSERT_TRUE(l.finish().finished());
  const std::string log = l.log(1);
  EXPECT_NE(log.find("FAKE stop-false stop reports false"), std::string::npos);
  EXPECT_NE(log.find("[loader] old module did not stop cleanly - left mapped (not unloaded)"),
            std::string::npos);
  EXPECT_EQ(log.find("FAKE stop-false unmapped"), std::string::npos) << log;
}

TEST(ModulesManager, LoaderBlockFromASecondProcessAndIdentifyReachesLv1) {
  Live l("block");
  l.install("wing_good", "wing-4.2.0.dll");
  l.write("state.cfg", "x32.guest=1\n");
  l.start(std::string(kWingCard) + "sleep 3000\n");
  ASSERT_GT(l.wait_log(1, "FAKE good attach "), 0);
  ASSERT_GT(
      l.wait_log(
          2,
          "[loader] x32: the card is shared to this LV1 from another one - Kestrune stays hands-off"),
      0);

  BlockView v;
  ASSERT_NE(v.block, nullptr);
  LoaderBlock& b = *v.block;
  EXPECT_EQ(std::memcmp(&b.magic, "DLSK", 4), 0);
  EXPECT_EQ(b.size, kLoaderBlockSize);
  EXPECT_STREQ(b.loader_version, "3.2.0");
  EXPECT_STREQ(b.types[0].type_name, "wing");
  EXPECT_EQ(b.types[0].enabled, 1u);
  EXPECT_EQ(b.types[0].waves_loaded, 1u);
  EXPECT_EQ(b.types[0].live_usable, 1u);
  EXPECT_EQ(b.types[0].product_id, 2u);
  EXPECT_STREQ(b.types[0].running_version, "4.2.0");
  EXPECT_EQ(b.types[0].failure_count, 0u);
  EXPECT_STREQ(b.types[1].type_name, "x32");
  EXPECT_EQ(b.types[1].live_usable, 0u);
  EXPECT_EQ(b.hands_off[1], 1u);
  EXPECT_EQ(b.hands_off[0], 0u);

  // The tray program's order: identify on, then the counter, then the event.
  __atomic_store_n(&b.identify_on[0], 1u, __ATOMIC_RELEASE);
  __atomic_add_fetch(&b.identify_counter[0], 1u, __ATOMIC_ACQ_REL);
  __atomic_store_n(&b.identify_on[1], 1u, __ATOMIC_RELEASE);
  __atomic_add_fetch(&b.identify_counter[1], 1u, __ATOMIC_ACQ_REL);
  Live::signal();
  ASSERT_GT(l.wait_log(1, "[identify] card 0a:1b:2c:3d:4e:5f LED on"), 0);
  ASSERT_GT(l.wait_log(2, "[identify] no live x32 card to light"), 0);
  RunResult& r = l.finish();
  ASSERT_TRUE(r.finished());
  EXPECT_TRUE(r.journal.has("listener b identify mac=0a:1b:2c:3d:4e:5f on=1"));
}

}  // namespace
}  // namespace ks::sim
