// A module with a desk taken, a patch of eight LV1 channels (LCL 1..8 with head amps), a status
// block in ordinary memory and a stepped clock: the ground on which the watcher's tests run
// single passes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge/tests/support/framework_fixture.h"
#include "bridge/watcher.h"
#include "os/tests/support/manual_clock.h"
#include "shared/status_block.h"

namespace ks {

class WatcherTest : public FrameworkTest {
protected:
  void SetUp() override;
  void TearDown() override;

  // Patch LV1 channel ch to bank/input (head amp as given) and mark the patch read.
  void patch(int ch, const char* bank, std::uint32_t input, bool head_amp = true);
  // Advance the clock by ms and run one pass.
  void pass(std::uint32_t ms = 20);
  // Passes of 20 ms until ms have gone by.
  void run_for(std::uint32_t ms);
  // Reports to LV1 of one channel (gain reports only, or 48 V reports only).
  std::vector<FakeReport> gain_reports(int ch);
  std::vector<FakeReport> phantom_reports(int ch);
  // Desk-side sends recorded by the fake ("send_gain LCL 3").
  std::vector<std::string> sends(const std::string& prefix) { return desk().calls_of(prefix); }
  // Seeding as done and the desk's first values reported, then the record of calls cleared.
  void seed_all();

  ManualClock clock{100000, ManualClock::Mode::automatic};
  std::unique_ptr<StatusBlock> block = std::make_unique<StatusBlock>();
  std::unique_ptr<WatcherState> w = std::make_unique<WatcherState>();
};

}  // namespace ks
