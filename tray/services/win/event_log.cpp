// The Windows event log through wevtapi. Wine's EvtQuery is a stub that finds nothing, which
// reads as "no Smart App Control event".
#include <windows.h>
#include <winevt.h>

#include <vector>

#include "os/win/wide.h"
#include "tray/services/load_watch.h"

namespace ks::tray {

namespace {

class WindowsEventLog : public EventSource {
public:
  bool query(const std::string& channel, const std::string& xpath,
             const std::function<bool(const std::string&)>& visit) override {
    EVT_HANDLE q = EvtQuery(nullptr, win::widen(channel).c_str(), win::widen(xpath).c_str(),
                            EvtQueryChannelPath | EvtQueryReverseDirection);
    if (!q) return false;
    bool done = false;
    while (!done) {
      EVT_HANDLE events[16];
      DWORD got = 0;
      if (!EvtNext(q, 16, events, 1000, 0, &got) || got == 0) break;
      for (DWORD i = 0; i < got; ++i) {
        if (!done) {
          DWORD used = 0, props = 0;
          EvtRender(nullptr, events[i], EvtRenderEventXml, 0, nullptr, &used, &props);
          if (used > 0 && used < (1u << 24)) {
            std::vector<wchar_t> buf(used / sizeof(wchar_t) + 1, L'\0');
            if (EvtRender(nullptr, events[i], EvtRenderEventXml,
                          DWORD(buf.size() * sizeof(wchar_t)), buf.data(), &used, &props))
              done = visit(win::narrow(buf.data()));
          }
        }
        EvtClose(events[i]);
      }
    }
    EvtClose(q);
    return true;
  }
};

}  // namespace

EventSource& system_event_log() {
  static WindowsEventLog log;
  return log;
}

}  // namespace ks::tray
