// Whatever shared memory and the sources hold, the page model is valid JSON with a known pill and
// known card states, and nothing is read outside a field (the native tier runs this under ASan).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tray/ui/model/page_loader.h"
#include "tray/ui/model/page_model.h"

namespace ks::tray {
namespace {

TEST(RandomStates, PageModelAlwaysReadsBack) {
  std::mt19937 rng(20261211);
  auto coin = [&] { return uint8_t(rng() & 1); };
  auto fill = [&](void* p, size_t n) {
    auto* b = static_cast<uint8_t*>(p);
    // Mostly printable with commas and NULs, sometimes anything: shared memory is not ours.
    bool wild = (rng() & 3) == 0;
    for (size_t i = 0; i < n; ++i) {
      uint32_t r = rng();
      b[i] = wild ? uint8_t(r) : (r % 7 == 0 ? ',' : r % 11 == 0 ? 0 : uint8_t(0x20 + r % 95));
    }
  };
  const char* pills[] = {"Windows blocked Kestrune", "No console found", "Not set up yet",
                         "2 consoles need attention", "All consoles connected"};
  for (int round = 0; round < 1500; ++round) {
    DashboardState st;
    dashboard_state_init(st);
    st.lv1_running = coin();
    st.lv1_found = coin();
    if (st.lv1_found)
      st.lv1_version = std::to_string(rng() % 40) + "." + std::to_string(rng() % 9) + ".5";
    st.lv1_exe_present = coin();
    st.loader_block_present = coin();
    fill(&st.loader_block, sizeof st.loader_block);
    st.blocked = (rng() % 5) == 0;
    st.update_pending = coin();
    st.legacy_any = (rng() % 4) == 0;
    for (int t = 0; t < 2; ++t) {
      st.card_module_present[t] = coin();
      st.installed[t] = coin();
      st.on[t] = st.installed[t] && coin();
      st.legacy[t] = (rng() % 5) == 0;
      st.address_known[t] = coin();
      st.hands_off[t] = (rng() % 6) == 0;
      fill(&st.snapshot[t], sizeof st.snapshot[t]);
      st.snapshot[t].present = coin();
      st.snapshot[t].desk_answering = coin();
      st.snapshot[t].version = 12 + rng() % 8;
      st.snapshot[t].address_state = rng() % 5;
      st.snapshot[t].discovery_decision = rng() % 7;
      if (coin()) st.snapshot[t].answer_count = rng() % 9;
      st.discovery[t].found = coin();
      st.discovery[t].line.resize(rng() % 170);
      fill(st.discovery[t].line.data(), st.discovery[t].line.size());
      st.link_age_ms[t] = coin() ? kLinkAgeNever : rng() % 400000;
      st.typed_ip[t] = coin() ? "10.0.0." + std::to_string(rng() % 256) : "";
    }
    PageModelInputs in;
    in.version = "3.2.0";
    std::string text = build_page_model(st, in);
    JsonValue m;
    ASSERT_TRUE(parse_page_model(text, m)) << "round " << round;
    std::string pill = json_get_string(*json_find(m, "header"), "pill");
    bool known = false;
    for (const char* p : pills) known |= pill == p;
    known |= pill.find(" \u00b7 ") != std::string::npos;
    EXPECT_TRUE(known) << pill;
    const JsonValue* cards = json_find(m, "cards");
    ASSERT_NE(cards, nullptr);
    ASSERT_LE(cards->items.size(), 2u);
    for (const auto& c : cards->items) {
      double code = json_find(c, "state")->number;
      EXPECT_TRUE(code >= 0 && code <= 16 && code != 13) << code;
      EXPECT_LE(json_find(c, "cands")->items.size(), kAnswerSummaries);
    }
  }
}

}  // namespace
}  // namespace ks::tray
