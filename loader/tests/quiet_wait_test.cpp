#include "loader/quiet_wait.h"

#include <gtest/gtest.h>

#include <deque>

namespace ks {
namespace {

// A clock that plays a script of signal times: a wait returns at the next signal when it falls
// within the wait, else after the whole wait.
class ScriptedClock : public Clock {
public:
  explicit ScriptedClock(std::deque<uint64_t> signals) : signals_(std::move(signals)) {}
  Tick now() override { return static_cast<Tick>(now_); }
  uint64_t now64() override { return now_; }
  void sleep(uint32_t ms) override { now_ += ms; }
  bool wait(Event&, uint32_t ms) override {
    ++waits;
    const uint64_t deadline = ms == kInfinite ? UINT64_MAX : now_ + ms;
    if (!signals_.empty() && signals_.front() <= deadline) {
      now_ = std::max(now_, signals_.front());
      signals_.pop_front();
      return true;
    }
    if (ms == kInfinite) ADD_FAILURE() << "waiting for ever";
    now_ = deadline;
    return false;
  }
  int waits = 0;

private:
  std::deque<uint64_t> signals_;
  uint64_t now_ = 0;
};

TEST(QuietWait, ReturnsAQuietPeriodAfterTheLastSignalOfABurst) {
  struct Case {
    std::deque<uint64_t> signals;
    uint64_t returns_at;
  } cases[] = {
      {{50}, 450},
      {{50, 150, 250, 350}, 750},  // a move every 100 ms: one notice after the last
      {{0, 399, 798}, 1198},       // just inside the window each time
      {{0, 401}, 400},             // the next signal starts a new burst
  };
  for (const Case& c : cases) {
    ScriptedClock clock(c.signals);
    Event ev;
    wait_for_quiet(clock, ev, kStateQuietMs);
    EXPECT_EQ(clock.now64(), c.returns_at) << c.signals.size();
  }
}

}  // namespace
}  // namespace ks
