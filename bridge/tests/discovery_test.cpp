// Finding, choosing and re-finding the desk, against a scripted discover slot.
#include "bridge/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/lifecycle.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/timebase.h"
#include "os/file.h"
#include "os/tests/support/manual_clock.h"
#include "os/thread.h"

namespace ks {
namespace {

DeskAnswer answer(const char* ip, const char* id, int32_t card, const char* name = "FOH",
                  const char* model = "ngc-full") {
  DeskAnswer a{};
  std::snprintf(a.ip, sizeof a.ip, "%s", ip);
  std::snprintf(a.id, sizeof a.id, "%s", id);
  std::snprintf(a.name, sizeof a.name, "%s", name);
  std::snprintf(a.model, sizeof a.model, "%s", model);
  a.card = card;
  return a;
}

// What the scripted discover answers: per asked address ("" for a general search).
struct Script {
  std::mutex mu;
  std::map<std::string, std::vector<DeskAnswer>> answers;
  std::vector<std::pair<std::string, Tick>> calls;
  Clock* clock = nullptr;
  void set(const std::string& ip, std::vector<DeskAnswer> a) {
    std::lock_guard<std::mutex> g(mu);
    answers[ip] = std::move(a);
  }
  std::vector<std::pair<std::string, Tick>> taken() {
    std::lock_guard<std::mutex> g(mu);
    return calls;
  }
};
Script g_script;

int32_t KS_ABI scripted_discover(const char* ip, DeskAnswer* out, int32_t max, uint32_t) {
  std::lock_guard<std::mutex> g(g_script.mu);
  std::string key = ip ? ip : "";
  g_script.calls.push_back({key, g_script.clock ? g_script.clock->now() : 0});
  const auto& list = g_script.answers[key];
  int n = 0;
  for (const auto& a : list) {
    if (n >= max) break;
    out[n++] = a;
  }
  return n;
}

class Discovery : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    discovery_reset();
    status_block_reset();
    status_block_use_memory(block.get());
    set_bridge_clock(&clock);
    {
      std::lock_guard<std::mutex> g(g_script.mu);
      g_script.answers.clear();
      g_script.calls.clear();
      g_script.clock = &clock;
    }
    desk().desc.discover = scripted_discover;
    cfg = path_join(dir, "wing.cfg");
  }
  void TearDown() override {
    framework_shutdown();
    status_block_reset();
    discovery_reset();
    FrameworkTest::TearDown();
  }
  void settings_file(const std::string& text) {
    write_text(cfg, text);
    use_host(cfg);
    config_load(cfg);
  }
  int logged(const std::string& needle) {
    return static_cast<int>(host().lines_with(needle).size());
  }

  std::unique_ptr<StatusBlock> block = std::make_unique<StatusBlock>();
  ManualClock clock{1000, ManualClock::Mode::automatic};
  std::string cfg;
};

TEST(ChooseAnswer, DecisionTable) {
  struct Case {
    const char* what;
    const char* console;
    std::vector<DeskAnswer> answers;
    int index;
    DiscoveryDecision decision;
  };
  const Case cases[] = {
      {"nothing", "", {}, -1, DiscoveryDecision::Nothing},
      {"one with card", "", {answer("10.0.0.1", "S1", 1)}, 0, DiscoveryDecision::OnlyAnswerHasCard},
      {"one with unknown card",
       "",
       {answer("10.0.0.1", "S1", -1)},
       0,
       DiscoveryDecision::OnlyAnswerHasCard},
      {"one without card", "", {answer("10.0.0.1", "S1", 0)}, -1, DiscoveryDecision::ChoiceNeeded},
      {"one of two has a card",
       "",
       {answer("10.0.0.1", "S1", 0), answer("10.0.0.2", "S2", 1)},
       1,
       DiscoveryDecision::OneOfSeveralHasCard},
      {"card and unknown",
       "",
       {answer("10.0.0.1", "S1", 1), answer("10.0.0.2", "S2", -1)},
       -1,
       DiscoveryDecision::ChoiceNeeded},
      {"two with cards",
       "",
       {answer("10.0.0.1", "S1", 1), answer("10.0.0.2", "S2", 1)},
       -1,
       DiscoveryDecision::ChoiceNeeded},
      {"console in another case",
       "s2",
       {answer("10.0.0.1", "S1", 1), answer("10.0.0.2", "S2", 0)},
       1,
       DiscoveryDecision::ChosenFound},
      {"console absent", "S9", {answer("10.0.0.1", "S1", 1)}, -1, DiscoveryDecision::ChosenAbsent},
      {"console set, nothing answers", "S9", {}, -1, DiscoveryDecision::ChosenAbsent},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t decision = 99;
    EXPECT_EQ(
        choose_answer(c.answers.data(), static_cast<int>(c.answers.size()), c.console, &decision),
        c.index);
    EXPECT_EQ(decision, static_cast<uint32_t>(c.decision));
  }
}

TEST(ChooseAnswer, AnIdWithoutItsNulStillCompares) {
  DeskAnswer a = answer("10.0.0.1", "", 1);
  std::memset(a.id, 'A', sizeof a.id);  // no NUL in the field
  uint32_t decision = 0;
  EXPECT_EQ(choose_answer(&a, 1, std::string(sizeof a.id, 'a').c_str(), &decision), 0);
  EXPECT_EQ(choose_answer(&a, 1, std::string(sizeof a.id + 1, 'a').c_str(), &decision), -1);
}

TEST_F(Discovery, PickPublishesAnswersAndLogsOnlyChanges) {
  settings_file("console=\n");
  std::vector<DeskAnswer> two = {answer("10.0.0.1", "S1", 1, "FOH"),
                                 answer("10.0.0.2", "S2", -1, "MON")};
  EXPECT_EQ(pick_answer(two.data(), 2), -1);
  EXPECT_EQ(block->discovery_decision, 4u);
  EXPECT_EQ(block->answer_count, 2u);
  EXPECT_STREQ(block->answers[1].ip, "10.0.0.2");
  EXPECT_EQ(block->answers[1].card, -1);
  EXPECT_EQ(
      logged(
          "[desk] 2 answered: ngc-full FOH at 10.0.0.1 (id S1, SoundGrid card yes); ngc-full MON at 10.0.0.2 "
          "(id S2, SoundGrid card unknown) -> "),
      1);
  EXPECT_EQ(pick_answer(two.data(), 2), -1);
  EXPECT_EQ(logged("[desk] 2 answered"), 1) << "the same answers are logged once";

  // console= written by the tray is read again at the next pick.
  write_text(cfg, "console=s2\n");
  EXPECT_EQ(pick_answer(two.data(), 2), 1);
  EXPECT_EQ(block->discovery_decision, 2u);
  EXPECT_STREQ(block->chosen_console, "s2");
  EXPECT_EQ(logged("-> MON, "), 1);

  std::vector<DeskAnswer> many;
  for (int i = 0; i < 8; ++i)
    many.push_back(answer(("10.0.1." + std::to_string(i)).c_str(), "X", 0));
  pick_answer(many.data(), 8);
  EXPECT_EQ(block->answer_count, 6u) << "the block holds six";
}

TEST_F(Discovery, SilentConfiguredAddressIsConnectedUncheckedAfterThreeSweeps) {
  settings_file("ip=198.51.100.7\n");
  DeskAnswer out{};
  uint8_t stop = 9;
  char text[96];
  for (int sweep = 1; sweep <= 2; ++sweep) {
    EXPECT_FALSE(ask_configured_address(&out, &stop, text, sizeof text)) << sweep;
    EXPECT_EQ(stop, 1) << "no console= says which console belongs there: do not search elsewhere";
    EXPECT_STREQ(text, "Nothing answers at 198.51.100.7, the address set for this console");
    EXPECT_EQ(status_address().state, uint32_t(AddressState::NothingAtIp));
  }
  EXPECT_EQ(logged("[ip] nothing answers at 198.51.100.7 - asking there again"), 1)
      << "logged once";
  EXPECT_TRUE(ask_configured_address(&out, &stop, text, sizeof text));
  EXPECT_STREQ(out.ip, "198.51.100.7");
  EXPECT_STREQ(out.id, "");
  EXPECT_EQ(status_address().state, uint32_t(AddressState::Ok));
  EXPECT_EQ(logged("in 3 sweeps - connecting there UNCHECKED"), 1);

  // A new address starts the count again.
  write_text(cfg, "ip=198.51.100.8\n");
  config_reload_address();
  EXPECT_FALSE(ask_configured_address(&out, &stop, text, sizeof text));
  EXPECT_FALSE(ask_configured_address(&out, &stop, text, sizeof text));
  EXPECT_TRUE(ask_configured_address(&out, &stop, text, sizeof text));
  EXPECT_STREQ(out.ip, "198.51.100.8");
}

TEST_F(Discovery, ConfiguredAddressOutcomes) {
  settings_file("ip=198.51.100.7\nconsole=S1\n");
  DeskAnswer out{};
  uint8_t stop = 9;
  char text[96];

  // Nothing answers, console= set: look everywhere.
  EXPECT_FALSE(ask_configured_address(&out, &stop, text, sizeof text));
  EXPECT_EQ(stop, 0);
  EXPECT_EQ(logged("[ip] nothing answers at 198.51.100.7 - looking everywhere for console= S1"), 1);

  // Another console answers there.
  g_script.set("198.51.100.7", {answer("198.51.100.7", "S2", 1, "MON")});
  EXPECT_FALSE(ask_configured_address(&out, &stop, text, sizeof text));
  EXPECT_EQ(stop, 0);
  EXPECT_STREQ(text, "198.51.100.7 is MON - not the console chosen in Setup");
  AddressCheck a = status_address();
  EXPECT_EQ(a.state, uint32_t(AddressState::OtherConsoleAtIp));
  EXPECT_STREQ(a.id, "S2");
  EXPECT_EQ(logged("answers as ngc-full MON, id S2 - but console= is S1: NOT connecting"), 1);

  // An answer from elsewhere is not the answer of the asked address.
  g_script.set("198.51.100.7", {answer("198.51.100.99", "S1", 1)});
  EXPECT_FALSE(ask_configured_address(&out, &stop, text, sizeof text));

  // The chosen console, in another case.
  g_script.set("198.51.100.7", {answer("198.51.100.7", "s1", 0, "FOH")});
  EXPECT_TRUE(ask_configured_address(&out, &stop, text, sizeof text));
  EXPECT_STREQ(out.id, "s1");
  EXPECT_EQ(
      logged(
          "[ip] 198.51.100.7 answers: ngc-full FOH, id s1, SoundGrid card NO - using it (it is the console "
          "chosen in Setup)"),
      1);
  EXPECT_EQ(status_address().state, uint32_t(AddressState::Ok));
}

TEST_F(Discovery, SweepAsksTheAddressFirstAndSearchesWhenAllowed) {
  settings_file("ip=198.51.100.7\nconsole=S2\n");
  g_script.set("", {answer("10.0.0.1", "S1", 1), answer("10.0.0.2", "S2", 1)});
  DeskAnswer out{};
  ASSERT_TRUE(discovery_sweep(0, &out));
  EXPECT_STREQ(out.ip, "10.0.0.2");
  auto calls = g_script.taken();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].first, "198.51.100.7");
  EXPECT_EQ(calls[1].first, "");
  EXPECT_EQ(logged("[bridge] discovery sweep 1 ..."), 1);
}

TEST_F(Discovery, SeveralConsolesLeaveTheChoiceToSetup) {
  settings_file("");
  g_script.set("", {answer("10.0.0.1", "S1", 1), answer("10.0.0.2", "S2", -1)});
  DeskAnswer out{};
  EXPECT_FALSE(discovery_sweep(1, &out));
  EXPECT_EQ(block->discovery_decision, 4u);
  EXPECT_STREQ(block->status_text, "Several consoles found - choose this LV1's in Kestrune Setup");
  EXPECT_EQ(logged("discovery sweep"), 0) << "only every fifth sweep says so";
}

TEST_F(Discovery, ThreadSpacesSweepsThenTakesTheDeskAndStartsTheWatcher) {
  settings_file("");
  // The desk appears at the 17th sweep.
  desk().desc.discover = [](const char* ip, DeskAnswer* out, int32_t max,
                            uint32_t wait) -> int32_t {
    int32_t n = scripted_discover(ip, out, max, wait);
    if (g_script.taken().size() == 16) g_script.set("", {answer("10.0.0.9", "S9", 1)});
    return n;
  };
  install_discovery_hooks();
  framework_start();
  for (int i = 0; i < 2000 && !desk_chosen(); ++i) sleep_ms(2);
  ASSERT_TRUE(desk_chosen());
  EXPECT_TRUE(watcher_started());
  EXPECT_FALSE(searching());
  EXPECT_TRUE(framework_shutdown()) << "the discovery thread came back in time";
  auto calls = g_script.taken();
  ASSERT_GE(calls.size(), 17u);
  for (size_t i = 1; i < 17; ++i)
    EXPECT_EQ(ticks_elapsed(calls[i].second, calls[i - 1].second), i <= 15 ? 4000u : 15000u)
        << "before sweep " << i + 1;
  EXPECT_STREQ(desk_identity().ip, "10.0.0.9");
  EXPECT_EQ(desk().calls_of("adopt 10.0.0.9").size(), 1u);
  EXPECT_EQ(desk().calls_of("connect 10.0.0.9").size(), 1u);
}

class Refind : public Discovery {
protected:
  void SetUp() override {
    Discovery::SetUp();
    clock.set(5000);
  }
  void take(const DeskAnswer& a) {
    use_desk(a);
    set_desk_chosen(true);
  }
  // Ticks every second for `ms`.
  void run(RefindState& r, uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 1000) {
      refind_tick(r);
      clock.advance(1000);
    }
  }
  size_t general_searches() {
    size_t n = 0;
    for (auto& c : g_script.taken()) n += c.first.empty();
    return n;
  }
};

TEST_F(Refind, LooksAfterTwentySecondsDownAndMovesToTheNewAddress) {
  settings_file("hint=10.0.0.5\n");
  take(answer("10.0.0.5", "S5", 1));
  desk().set_link(false);
  RefindState r;
  run(r, 20000);
  EXPECT_EQ(general_searches(), 0u) << "not before 20 s down";
  g_script.set("", {answer("10.0.0.6", "S7", 1, "MON")});
  run(r, 1000);
  EXPECT_EQ(general_searches(), 1u);
  EXPECT_EQ(status_address().state, uint32_t(AddressState::LookingEverywhere));
  EXPECT_EQ(
      logged(
          "[refind] the link to FOH at 10.0.0.5 has been down for 20 s - looking for it (id S5)"),
      1);

  // Sweeps are 4000 ms apart.
  run(r, 3000);
  EXPECT_EQ(general_searches(), 1u);
  run(r, 1000);
  EXPECT_EQ(general_searches(), 2u);

  g_script.set("", {answer("10.0.0.6", "S7", 1, "MON"), answer("10.0.0.8", "s5", 1)});
  run(r, 4000);
  EXPECT_EQ(
      logged("[refind] FOH (id S5) answers at 10.0.0.8 now, not 10.0.0.5 - moving the link there"),
      1);
  std::string text;
  ASSERT_EQ(read_file(cfg, 4096, text), ReadStatus::ok);
  EXPECT_NE(text.find("hint=10.0.0.8"), std::string::npos) << text;
  EXPECT_EQ(text.find("hint=10.0.0.5"), std::string::npos);
}

TEST_F(Refind, SweepSpacingGrowsAfterFifteen) {
  settings_file("");
  take(answer("10.0.0.5", "S5", 1));
  desk().set_link(false);
  RefindState r;
  run(r, 20000 + 15 * 4000 + 15000 * 2 + 1000);
  auto calls = g_script.taken();
  ASSERT_EQ(calls.size(), 18u);
  for (size_t i = 1; i < calls.size(); ++i)
    EXPECT_EQ(ticks_elapsed(calls[i].second, calls[i - 1].second), i <= 15 ? 4000u : 15000u) << i;
  EXPECT_EQ(logged("[refind] sweep 5: not found"), 1);
  EXPECT_EQ(logged("[refind] sweep 4: not found"), 0);
}

TEST_F(Refind, WhatTheIdRuleAllows) {
  struct Case {
    const char* what;
    const char* cfg;
    const char* desk_id;
    bool looks;
    const char* line;
  };
  const Case cases[] = {
      // With console= empty the desk's own serial is enough to look for it.
      {"serial, no console=", "", "S5", true, nullptr},
      {"console= names the desk", "console=s5\n", "S5", true, nullptr},
      {"no desk id, console= set", "console=S5\n", "", true, nullptr},
      {"name id, no console=", "", "name:FOH", false,
       "is not answering. Not looking for it at other addresses: its id (name:FOH)"},
      {"address id, no console=", "", "10.0.0.5", false,
       "its id (10.0.0.5) could belong to another desk"},
      {"console= names another", "console=S6\n", "S5", false,
       "and console= now names S6 - another console"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset_framework();
    SetUp();
    settings_file(c.cfg);
    take(answer("10.0.0.5", c.desk_id, 1));
    desk().set_link(false);
    RefindState r;
    run(r, 30000);
    EXPECT_EQ(general_searches() > 0, c.looks);
    if (c.line) EXPECT_EQ(logged(c.line), 1) << "once";
  }
}

TEST_F(Refind, FoundAtItsOwnAddressWaitsUnlessAnotherConsoleWasThere) {
  settings_file("");
  take(answer("10.0.0.5", "S5", 1));
  desk().set_link(false);
  RefindState r;
  run(r, 20000);
  g_script.set("", {answer("10.0.0.5", "S5", 1)});
  run(r, 1000);
  EXPECT_EQ(
      logged(
          "answers discovery at its own address 10.0.0.5 - waiting for the control link to come back"),
      1);
  EXPECT_EQ(status_address().state, uint32_t(AddressState::Ok));

  // Another console holds the address for a while, then the desk is back there.
  g_script.set("", {answer("10.0.0.5", "S6", 1, "MON")});
  run(r, 4000);
  g_script.set("", {answer("10.0.0.5", "S5", 1)});
  run(r, 4000);
  EXPECT_EQ(logged("[refind] FOH (id S5) answers at 10.0.0.5 again - restarting the link there"),
            1);

  // The link comes back: state back to Ok with a line.
  desk().set_link(true);
  AddressCheck a = status_address();
  a.state = uint32_t(AddressState::LookingEverywhere);
  status_set_address(a);
  refind_tick(r);
  EXPECT_EQ(logged("[refind] FOH answers again at 10.0.0.5"), 1);
  EXPECT_EQ(status_address().state, uint32_t(AddressState::Ok));
}

}  // namespace
}  // namespace ks
