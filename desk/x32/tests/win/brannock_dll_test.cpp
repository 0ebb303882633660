// Brannock as the loader sees it: a DLL that imports only system libraries and exports one entry,
// whose table for version 3 names the type "x32".
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "bridge/tests/support/module_dll_host.h"
#include "os/library.h"
#include "shared/module_table.h"

namespace ks {
namespace {

using module_dll::beside_this_program;

TEST(Brannock, EntryGivesTheX32TableForVersionThreeOnly) {
  Library lib;
  ASSERT_TRUE(lib.load(beside_this_program("Brannock.dll"))) << lib.last_error();
  auto entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
  ASSERT_NE(entry, nullptr);
  const ConsoleModuleTable* t = entry(kModuleApiVersion);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->version, kModuleApiVersion);
  EXPECT_EQ(t->size, kModuleTableSize);
  EXPECT_STREQ(t->type_name, "x32");
  EXPECT_NE(t->start, nullptr);
  EXPECT_NE(t->session_recall, nullptr);
  EXPECT_EQ(entry(2), nullptr);
  EXPECT_EQ(entry(4), nullptr);
}

}  // namespace
}  // namespace ks
