#include "bridge/status_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace ks {
namespace {

struct Case {
  StatusTextInputs in;
  const char* expect;
};

TEST(StatusText, FirstRuleThatAppliesWins) {
  auto chosen = [] {
    StatusTextInputs s;
    s.desk_chosen = true;
    return s;
  };
  StatusTextInputs one_no_card;
  one_no_card.decision = 4;
  one_no_card.answer_count = 1;
  StatusTextInputs several = one_no_card;
  several.answer_count = 3;
  StatusTextInputs absent;
  absent.decision = 5;
  StatusTextInputs looking = chosen();
  looking.address_state = 1;
  looking.desk_display = "FOH Wing";
  looking.patch_read = true;
  StatusTextInputs refused = chosen();
  refused.control_refusals = 3;
  StatusTextInputs refused_but_read = refused;
  refused_but_read.patch_read = true;
  StatusTextInputs locked = chosen();
  locked.patch_read = true;
  locked.tcp_lock = true;
  StatusTextInputs reading = chosen();
  reading.control_refusals = 2;

  const Case cases[] = {
      {StatusTextInputs{}, "Searching for the desk..."},
      {one_no_card,
       "The only console found has no SoundGrid card - choose it in Setup if it is this LV1's"},
      {several, "Several consoles found - choose this LV1's in Kestrune Setup"},
      {absent, "The console chosen in Setup is not on the network"},
      {looking, "Looking for FOH Wing again - did its address change?"},
      {refused,
       "Desk refused the control link - close WING Edit / the WING app, or check the firewall"},
      {refused_but_read, ""},
      {locked, "The desk refuses changes from the network (TCP lock in its Setup)"},
      {reading, "Reading the desk patch..."},
  };
  for (const Case& c : cases) {
    char out[kStatusTextSize];
    std::memset(out, 'x', sizeof out);
    choose_status_text(c.in, out, sizeof out);
    EXPECT_STREQ(out, c.expect);
  }
}

TEST(StatusText, LongDeskNameIsCutToTheField) {
  std::string name(300, 'N');
  StatusTextInputs in;
  in.desk_chosen = true;
  in.address_state = 1;
  in.desk_display = name.c_str();
  char out[kStatusTextSize + 8];
  std::memset(out, 'x', sizeof out);
  choose_status_text(in, out, kStatusTextSize);
  EXPECT_EQ(std::strlen(out), kStatusTextSize - 1);
  EXPECT_EQ(out[kStatusTextSize], 'x');  // nothing written past the field
}

}  // namespace
}  // namespace ks
