#include "bridge/tests/support/framework_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <fstream>
#include <sstream>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/text.h"
#include "bridge/patch_reader.h"
#include "bridge/timebase.h"
#include "bridge/status_block.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"
#include "os/file.h"
#include "os/temp.h"
#include "os/thread.h"

namespace ks {

void reset_framework() {
  // A stop that ran out of its budget left the driver's stop running on: it still uses the fake
  // desk, so it ends before anything is reset under it.
  for (int i = 0; i < 10000 && driver_stop_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  lifecycle_reset_for_tests();
  mac_missing_reset_for_tests();
  fake_desk().reset();
  // The fake desk is the driver of every framework test, handed over as a module's entry does.
  use_desk_driver(&fake_desk().desc, nullptr);
  config_reset();
  channel_model_reset();
  patch_reader_reset();
  value_writer_reset();
  desk_reset();
  watcher_flags_reset();
  mailbox_reset_all();
  status_block_use_memory(nullptr);
  set_bridge_clock(nullptr);
}

ChannelRecord make_record(const char* bank, uint32_t input, bool head_amp, uint8_t mode) {
  ChannelRecord r = empty_channel_record();
  copy_text(r.bank, sizeof r.bank, bank);
  r.input = input;
  r.head_amp_input = (mode == kStereoUpper || mode == kMidSideUpper) ? input - 1 : input;
  r.has_head_amp = head_amp;
  r.link_mode = mode;
  return r;
}

std::string test_folder() {
  static std::atomic<int> serial{0};
  // The test main points the temporary folder at the test's own (KS_TEST_TEMP), in the form the
  // platform understands.
  std::string root = temp_dir();
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = t ? std::string(t->test_suite_name()) + "." + t->name() : "test";
  for (char& c : name)
    if (c == '/' || c == '\\') c = '_';
  // The process id keeps a run from meeting what an earlier run left behind.
  std::string dir = path_join(
      root, name + "." + std::to_string(current_process_id()) + "." + std::to_string(serial++));
  make_dirs(dir);
  return dir;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void FrameworkTest::SetUp() {
  reset_framework();
  dir = test_folder();
  use_host();
}

void FrameworkTest::TearDown() {
  reset_framework();
  host_.reset();
}

FakeHost& FrameworkTest::use_host(const std::string& cfg_path) {
  set_module_host(nullptr);
  host_.reset();
  host_ = std::make_unique<FakeHost>(cfg_path);
  set_module_host(host_->host());
  return *host_;
}

}  // namespace ks
