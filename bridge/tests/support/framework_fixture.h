// The common fixture of the framework's tests: every module-wide piece back to its state at
// load, the fake desk reset and handed over as the module's driver, a fake host installed and a
// private folder for settings files.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bridge/channel_model.h"
#include "bridge/tests/support/fake_desk.h"
#include "bridge/tests/support/fake_host.h"

namespace ks {

// Everything back to its state at load, with the fake desk (reset) as the driver.
void reset_framework();

// A channel record fed from bank/input; an upper stereo or mid/side leg takes its head amp from
// input - 1.
ChannelRecord make_record(const char* bank, uint32_t input, bool head_amp = true, uint8_t mode = 0);

// A folder of its own for each test (under KS_TEST_TEMP when set).
std::string test_folder();
void write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);

class FrameworkTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  // Installs a host whose settings file is cfg_path (and starts nothing).
  FakeHost& use_host(const std::string& cfg_path = "");
  FakeDesk& desk() { return fake_desk(); }
  FakeHost& host() { return *host_; }
  std::string dir;
  std::unique_ptr<FakeHost> host_;
};

}  // namespace ks
