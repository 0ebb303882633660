// Child processes and paths for os tests: the cross-process tests start os_peer beside the test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks::testing {

// Folder of the running test executable, with a trailing separator.
std::string exe_dir();

class Child {
public:
  Child() = default;
  ~Child();  // kills a child still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool start(const std::string& program, const std::vector<std::string>& args);
  // Waits up to `timeout_ms`; true with `exit_code` set when the child ended.
  bool wait(uint32_t timeout_ms, int& exit_code);

private:
  void kill();
  intptr_t pid_ = -1;  // process id natively, process handle on Windows
};

// A name no other test run uses at the same time, for named kernel objects.
std::string unique_name(const std::string& stem);

// The helper program built beside the tests.
std::string peer_path();

}  // namespace ks::testing
