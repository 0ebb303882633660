// Natively there is no Code Integrity log.
#include "tray/services/load_watch.h"

namespace ks::tray {

namespace {

class NoEventLog : public EventSource {
public:
  bool query(const std::string&, const std::string&,
             const std::function<bool(const std::string&)>&) override {
    return false;
  }
};

}  // namespace

EventSource& system_event_log() {
  static NoEventLog log;
  return log;
}

}  // namespace ks::tray
