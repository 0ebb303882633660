// Loading a library by absolute path and calling its export.
#include "os/library.h"

#include <gtest/gtest.h>

#include "os/tests/support/process.h"

namespace ks {
namespace {

#ifdef _WIN32
const char* kLib = "os_test_lib.dll";
#else
const char* kLib = "os_test_lib.so";
#endif

TEST(Library, LoadFindCallFree) {
  Library lib;
  ASSERT_TRUE(lib.load(testing::exe_dir() + kLib)) << lib.last_error();
  auto add = reinterpret_cast<int (*)(int, int)>(lib.find("ks_test_add"));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(2, 3), 1005);
  EXPECT_EQ(lib.find("ks_no_such_export"), nullptr);
  EXPECT_EQ(lib.find(nullptr), nullptr);
  lib.free();
  EXPECT_FALSE(lib.loaded());
  EXPECT_EQ(lib.find("ks_test_add"), nullptr);
}

TEST(Library, MissingFileFailsWithTheSystemsCode) {
  Library lib;
  EXPECT_FALSE(lib.load(testing::exe_dir() + "no_such_module.dll"));
  EXPECT_FALSE(lib.loaded());
  EXPECT_NE(lib.last_error(), 0u);
#ifdef _WIN32
  EXPECT_EQ(lib.last_error(), 126u);  // ERROR_MOD_NOT_FOUND
#endif
  EXPECT_FALSE(lib.load(""));
}

}  // namespace
}  // namespace ks
