// The framework's driver services played for a desk driver's tests: every line the driver logs
// ("I " info, "D " detail), a count of its threads that did not stop in time, and a stop flag
// the test raises.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks::test {

// Installed as the driver services for the life of the object (one at a time).
class DriverRecorder {
public:
  // Starts with no lines, no stuck thread and the module running.
  DriverRecorder();
  ~DriverRecorder();
  DriverRecorder(const DriverRecorder&) = delete;
  DriverRecorder& operator=(const DriverRecorder&) = delete;

  std::vector<std::string> lines() const;
  int count_containing(const std::string& text) const;
  bool has_line(const std::string& text) const { return count_containing(text) > 0; }
  // Forgets the lines (the stuck count stays).
  void clear();
  static uint32_t stuck();
  // What the driver's stopping() answers from now on.
  void set_stopping(bool on);
};

}  // namespace ks::test
