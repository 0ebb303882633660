// What a fuzz target asserts: a property that does not hold stops the run at once, so libFuzzer
// keeps the input as a crash and the corpus replay test fails on it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KS_FUZZ_CHECK(cond)                                                                 \
  do {                                                                                      \
    if (!(cond)) {                                                                          \
      std::fprintf(stderr, "%s:%d: fuzz property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)
