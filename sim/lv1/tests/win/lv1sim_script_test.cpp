// ks-test: lock=loader-block timeout=600
// The LV1 stand-in's own script handling: a line it cannot carry out ends the run with an error
// in the journal instead of calling into the module with nothing behind it.
#include <gtest/gtest.h>

#include <string>

#include "sim/lv1/scenario/lv1_scenario.h"

namespace ks::sim {
namespace {

TEST(Lv1Script, ALineThatCannotRunEndsTheScript) {
  struct Case {
    const char* script;
    const char* error;        // journalled before the line fails ("" for none)
    const char* failed_line;  // the line named in the failure
  } cases[] = {
      {"bogus x\n", "error: unknown command bogus", "bogus x"},
      {"version\n", "", "version"},  // no interface before the factory ran
      {"factory \"$BUNDLE\\\"\nlistener nobox plain\n", "error: no object named nobox",
       "listener nobox plain"},
      // a box by that name is no gain object
      {"factory \"$BUNDLE\\\"\nbox g 11 2\ngain g 1 3\n", "error: no object named g", "gain g 1 3"},
      {"async\n", "", "async"},
  };
  for (const Case& c : cases) {
    Scenario s("script-error");
    RunResult r = s.run(std::string(c.script) + "sleep 0\n");
    EXPECT_FALSE(r.timed_out) << c.script;
    EXPECT_EQ(r.exit_code, 1u) << c.script;
    const Journal& j = r.journal;
    if (*c.error) {
      EXPECT_TRUE(j.has(c.error)) << c.script;
    }
    const JournalLine* failed = j.first("error: line ");
    ASSERT_NE(failed, nullptr) << c.script;
    EXPECT_NE(failed->text.find(std::string(" failed: ") + c.failed_line), std::string::npos)
        << failed->text;
    EXPECT_FALSE(j.has("done")) << c.script;
  }
}

TEST(Lv1Script, CommentsBlankLinesAndMissingArgumentsAreNoFault) {
  Scenario s("script-lines");
  RunResult r = s.run(
      "# a comment\n"
      "\n"
      "   \n"
      "sleep\n"  // no MS: no sleep
      "factory \"$BUNDLE\\\"  # after a command\n"
      "version\n");
  ASSERT_TRUE(r.finished()) << r.exit_code;
  EXPECT_EQ(r.journal.count("module_version -> 10008"), 1);
  EXPECT_FALSE(r.journal.has("error:"));
}

}  // namespace
}  // namespace ks::sim
