// The end-to-end tests' one check: a run for each resync setting, every step the test names seen,
// and the run's own list of required steps (the demo's verdict) naming exactly those steps.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/desk_run.h"

namespace ks::e2e {

inline std::vector<std::string> step_names(const std::vector<DeskRunResult::Step>& steps) {
  std::vector<std::string> names;
  for (DeskRunResult::Step s : steps) names.push_back(step_name(s));
  std::sort(names.begin(), names.end());
  return names;
}

inline void expect_every_step(DeskRunResult (*run)(const DeskRunOptions&),
                              const std::vector<DeskRunResult::Step>& steps) {
  for (bool resync_desk : {false, true}) {
    SCOPED_TRACE(resync_desk ? "resync=desk" : "resync=lv1");
    DeskRunOptions o;
    o.resync_desk = resync_desk;
    o.verbose = true;
    DeskRunResult r = run(o);
    for (DeskRunResult::Step s : steps) EXPECT_TRUE(r.*s) << step_name(s);
    EXPECT_EQ(step_names(r.required), step_names(steps));
    EXPECT_TRUE(r.all_seen()) << ::testing::PrintToString(r.missing());
    if (::testing::Test::HasFailure())
      for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
  }
}

}  // namespace ks::e2e
