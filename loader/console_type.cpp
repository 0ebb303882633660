#include "loader/console_type.h"

namespace ks {

namespace {

struct Types {
  ConsoleTypeRecord t[kConsoleTypes];
  Types() {
    t[0].type_name = "wing";
    t[0].status_suffix = u"";
    t[0].log_channel = 1;
    t[1].type_name = "x32";
    t[1].status_suffix = u"-x32";
    t[1].log_channel = 2;
  }
};

}  // namespace

ConsoleTypeRecord& console_type(int type) {
  static Types types;
  return types.t[type == 1 ? 1 : 0];
}

}  // namespace ks
