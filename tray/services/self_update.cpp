#include "tray/services/self_update.h"

#include <cstdlib>

namespace ks::tray {

bool place_new_app(const PlaceOps& ops, const std::string& staged_exe, const std::string& exe) {
  auto log = [&](const std::string& s) {
    if (ops.log) ops.log(s);
  };
  auto err = [&] { return std::to_string(ops.last_error()); };
  if (!ops.verify(staged_exe)) {
    log("update: staged app fails verification - discarded");
    return false;
  }
  const std::string fresh = exe + ".new", old = exe + ".old";
  ops.remove(fresh);
  ops.remove(fresh + ".sig");
  if (!ops.copy(staged_exe, fresh) || !ops.copy(staged_exe + ".sig", fresh + ".sig") ||
      !ops.verify(fresh)) {
    log("update: could not write the new Kestrune.exe (" + err() + ") - keeping this one");
    ops.remove(fresh);
    ops.remove(fresh + ".sig");
    return false;
  }
  ops.remove(old);
  if (!ops.move(exe, old)) {
    log("update: cannot move the running app aside (" + err() + ")");
    ops.remove(fresh);
    ops.remove(fresh + ".sig");
    return false;
  }
  if (!ops.move(fresh, exe)) {
    log("update: could not write the new Kestrune.exe (" + err() + ") - keeping this one");
    ops.move(old, exe);
    ops.remove(fresh);
    ops.remove(fresh + ".sig");
    return false;
  }
  // The program is in place; its signature follows (the loader's install checks it).
  ops.remove(exe + ".sig");
  if (!ops.move(fresh + ".sig", exe + ".sig")) ops.copy(staged_exe + ".sig", exe + ".sig");
  return true;
}

unsigned long updated_pid(const std::string& command_line) {
  size_t at = command_line.find("--updated=");
  if (at == std::string::npos) return 0;
  const char* p = command_line.c_str() + at + 10;
  if (*p < '0' || *p > '9') return 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(p, &end, 10);
  return v > 0xFFFFFFFFull ? 0 : static_cast<unsigned long>(v);
}

}  // namespace ks::tray
