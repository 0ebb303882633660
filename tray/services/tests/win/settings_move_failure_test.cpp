// The move that puts a rewrite in place fails while another program holds the settings file
// open without letting it be replaced: the old file stays as it was and nothing is left beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include "os/utf.h"
#include "tray/services/console_switch.h"
#include "tray/services/settings_file.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

HANDLE hold_open(const std::string& path) {
  std::u16string w = utf8_to_utf16(path);
  // Readers and writers may share it; nobody may delete or replace it.
  return CreateFileW(reinterpret_cast<const wchar_t*>(w.c_str()), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(RewriteMoveFails, OldFileStaysWhole) {
  TempFolder dir;
  const std::string path = dir.at("wing.cfg");
  const std::string before = std::string(kSettingsTemplate) + "protect=LCL:3\r\n";
  put(path, before);
  HANDLE h = hold_open(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(cfg_set(path, "diag", "1")) << "a move that failed was reported as done";
  CloseHandle(h);
  EXPECT_EQ(slurp(path), before);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"wing.cfg"});
  EXPECT_FALSE(diag_enabled(path));

  // Once it is let go the same edit goes through.
  EXPECT_TRUE(cfg_set(path, "diag", "1"));
  EXPECT_TRUE(diag_enabled(path));
}

TEST(RewriteMoveFails, StateCfgHeldOpenGivesTheMessage) {
  TempFolder dir;
  put(dir.at("state.cfg"), installed_state_cfg(true, true));
  HANDLE h = hold_open(dir.at("state.cfg"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string message;
  EXPECT_FALSE(set_module_enabled(dir.path(), 1, false, message));
  CloseHandle(h);
  EXPECT_EQ(message, "Could not write " + dir.at("state.cfg") + ".");
  EXPECT_EQ(slurp(dir.at("state.cfg")), "wing=on\r\nx32=on\r\n");
}

}  // namespace
}  // namespace ks::tray
