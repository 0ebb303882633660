// A file system that fails on demand: the n-th operation, or every operation of one kind on a
// path holding a given text. Everything else goes to the real file system.
#pragma once

#include <string>

#include "tray/services/fs_ops.h"

namespace ks::tray::testing {

enum class Op { make_dirs, copy, move, remove, kind, read, write, list };

class FaultyFs final : public FileSystem {
public:
  int fail_at = 0;  // 1-based operation number that fails; 0: none
  Op fail_op = Op::make_dirs;
  std::string fail_path;  // with fail_by_path, that op on a path holding this text fails
  bool fail_by_path = false;
  int count = 0;            // operations seen
  bool failed = false;      // a failure was injected
  std::string failed_what;  // "<op number> <path>" of the injected failure

  bool make_dirs(const std::string& p) override {
    return hit(Op::make_dirs, p) ? false : real().make_dirs(p);
  }
  bool copy_file(const std::string& a, const std::string& b) override {
    return hit(Op::copy, a + "|" + b) ? false : real().copy_file(a, b);
  }
  bool move(const std::string& a, const std::string& b) override {
    return hit(Op::move, a + "|" + b) ? false : real().move(a, b);
  }
  bool remove_tree(const std::string& p) override {
    return hit(Op::remove, p) ? false : real().remove_tree(p);
  }
  PathKind kind(const std::string& p) override {
    return hit(Op::kind, p) ? PathKind::error : real().kind(p);
  }
  bool read(const std::string& p, size_t cap, std::string& out) override {
    out.clear();
    return hit(Op::read, p) ? false : real().read(p, cap, out);
  }
  bool write(const std::string& p, const std::string& d) override {
    return hit(Op::write, p) ? false : real().write(p, d);
  }
  bool list(const std::string& p, std::vector<FsEntry>& out) override {
    out.clear();
    return hit(Op::list, p) ? false : real().list(p, out);
  }

private:
  static FileSystem& real() { return real_file_system(); }
  bool hit(Op op, const std::string& p) {
    ++count;
    bool f =
        fail_by_path ? (op == fail_op && p.find(fail_path) != std::string::npos) : count == fail_at;
    if (f) failed_what = std::to_string(static_cast<int>(op)) + " " + p;
    failed = failed || f;
    return f;
  }
};

}  // namespace ks::tray::testing
