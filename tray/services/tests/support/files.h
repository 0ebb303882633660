// A fresh folder per test and byte-exact file access for the settings tests.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace ks::tray::testing {

class TempFolder {
public:
  TempFolder();   // <temp>/tray-<test name>-<pid>-<n>, new and empty
  ~TempFolder();  // removes it with what it holds
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string at(const std::string& name) const;
  // Names in the folder, sorted: shows a temporary left behind.
  std::vector<std::string> names() const;

private:
  std::string path_;
};

// The whole file, or "<missing>" when it cannot be read.
std::string slurp(const std::string& path);
void put(const std::string& path, const std::string& bytes);  // fails the test when it cannot
// put, making the folders on the way first.
void mk(const std::string& path, const std::string& bytes);

// Every file and folder under root by its relative path: a file's bytes, a folder "<dir>".
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::string& root);

}  // namespace ks::tray::testing
