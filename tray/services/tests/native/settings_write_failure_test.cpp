// A rewrite cut short at any byte (the file-size limit makes the write fail there, as a full
// disk would) leaves the settings file as it was, with nothing beside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "bridge/config.h"
#include "tray/services/console_switch.h"
#include "tray/services/settings_file.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }
  bool ok() const { return ok_; }

private:
  rlimit old_{};
  void (*old_handler_)(int) = nullptr;
  bool ok_ = false;
};

TEST(RewriteCutShort, AtEveryByteTheOldFileStaysWhole) {
  TempFolder dir;
  const std::string path = dir.at("wing.cfg");
  const std::string before = std::string(kSettingsTemplate) + "protect=LCL:3,A:12\r\n";
  put(path, before);
  std::string expected = before;
  ASSERT_EQ(cfg_edit(expected, "ip", "192.168.10.20"), CfgEdit::edited);

  for (size_t limit = 0; limit < expected.size(); ++limit) {
    bool wrote;
    {
      FileSizeLimit cap(limit);
      ASSERT_TRUE(cap.ok());
      wrote = cfg_set(path, "ip", "192.168.10.20");
    }
    ASSERT_FALSE(wrote) << "a write cut at byte " << limit << " was reported as done";
    ASSERT_EQ(slurp(path), before) << "cut at byte " << limit;
    ASSERT_EQ(dir.names(), std::vector<std::string>{"wing.cfg"}) << "cut at byte " << limit;
  }
  ConsoleConfig m;
  config_defaults(m);
  config_parse(slurp(path), m, nullptr);
  EXPECT_EQ(m.protect_count, 2) << "the protect list is still there";

  // With room for the whole text the same call goes through.
  {
    FileSizeLimit cap(expected.size());
    ASSERT_TRUE(cfg_set(path, "ip", "192.168.10.20"));
  }
  EXPECT_EQ(slurp(path), expected);
}

TEST(RewriteCutShort, StateCfgKeepsBothLines) {
  TempFolder dir;
  put(dir.at("state.cfg"), installed_state_cfg(true, true));
  std::string message;
  {
    FileSizeLimit cap(10);  // "wing=on\nx32=off\n" needs 16
    ASSERT_TRUE(cap.ok());
    EXPECT_FALSE(set_module_enabled(dir.path(), 1, false, message));
  }
  EXPECT_EQ(message, "Could not write " + dir.at("state.cfg") + ".");
  EXPECT_EQ(slurp(dir.at("state.cfg")), "wing=on\r\nx32=on\r\n");
}

}  // namespace
}  // namespace ks::tray
