#include "loader/live_card.h"

#include <gtest/gtest.h>

#include <vector>

namespace ks {
namespace {

// A box of type t: online, with the callback, not released, not offline.
BoxFacts card(int t) { return BoxFacts{true, t, false, false, true, true}; }

TEST(LiveCard, FirstOnlineCandidateElseTheLastCandidate) {
  struct Case {
    const char* what;
    std::vector<BoxFacts> boxes;
    int type;
    int live;
  };
  BoxFacts no_cb = card(0);
  no_cb.has_callback = false;
  BoxFacts released = card(0);
  released.released = true;
  BoxFacts offline = card(0);
  offline.offline = true;
  BoxFacts no_mac = card(0);
  no_mac.online = false;
  BoxFacts hole{};
  const Case cases[] = {
      {"none", {}, 0, -1},
      {"one", {card(0)}, 0, 0},
      {"first online wins", {card(0), card(0)}, 0, 0},
      {"other type ignored", {card(1), card(0)}, 0, 1},
      {"no callback is not a candidate", {no_cb, card(0)}, 0, 1},
      {"released is not", {released, card(0)}, 0, 1},
      {"offline is not", {offline, card(0)}, 0, 1},
      {"online beats an earlier box without MAC", {no_mac, card(0)}, 0, 1},
      {"none online: the last candidate", {no_mac, no_mac, no_cb}, 0, 1},
      {"hole in the table", {hole, card(0)}, 0, 1},
      {"only x32 boxes for wing", {card(1)}, 0, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(live_card_index(c.boxes.data(), static_cast<int>(c.boxes.size()), c.type), c.live)
        << c.what;
}

TEST(LiveCard, NotLiveCard) {
  BoxFacts no_cb = card(0);
  no_cb.has_callback = false;
  BoxFacts offline = card(0);
  offline.offline = true;
  BoxFacts untyped = card(-1);
  std::vector<BoxFacts> two{card(0), card(0)};
  EXPECT_FALSE(is_not_live_card(two.data(), 2, 0));
  EXPECT_TRUE(is_not_live_card(two.data(), 2, 1));  // another box is live
  // No live card of the type at all: a box that is not offline counts as live.
  std::vector<BoxFacts> none{no_cb, offline, untyped};
  EXPECT_FALSE(is_not_live_card(none.data(), 3, 0));
  EXPECT_TRUE(is_not_live_card(none.data(), 3, 1));
  EXPECT_TRUE(is_not_live_card(none.data(), 3, 2));
  EXPECT_TRUE(is_not_live_card(none.data(), 3, 3));  // no box there
  EXPECT_TRUE(is_not_live_card(none.data(), 3, -1));
  // A box without the callback is not live while another box of the type is.
  std::vector<BoxFacts> mixed{no_cb, card(0)};
  EXPECT_TRUE(is_not_live_card(mixed.data(), 2, 0));
}

}  // namespace
}  // namespace ks
