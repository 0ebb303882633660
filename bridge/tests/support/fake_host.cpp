#include "bridge/tests/support/fake_host.h"

#include <atomic>

#include "os/utf.h"

namespace ks {

namespace {
std::atomic<FakeHost*> g_current{nullptr};
}

struct FakeHostThunks {
  static void KS_ABI log(const char*, int32_t, const char* text) {
    if (FakeHost* h = g_current.load()) {
      std::lock_guard<std::mutex> lock(h->mu_);
      h->lines_.push_back(text ? text : "");
    }
  }
  static GainObject* KS_ABI live_gain_object() {
    FakeHost* h = g_current.load();
    return (h && h->live) ? &h->gain_object : nullptr;
  }
  static bool KS_ABI get_mac(uint8_t* out) {
    FakeHost* h = g_current.load();
    if (!h || !h->has_mac) return false;
    for (int i = 0; i < 6; ++i) out[i] = h->mac[i];
    return true;
  }
  static IoBoxListener* KS_ABI lv1_listener() {
    FakeHost* h = g_current.load();
    return h ? h->listener : nullptr;
  }
  static void KS_ABI report(GainObject*, int32_t ch, double db, uint32_t has_gain, uint32_t on,
                            uint32_t has_48v, uint32_t forced) {
    if (FakeHost* h = g_current.load()) {
      std::lock_guard<std::mutex> lock(h->mu_);
      h->reports_.push_back(FakeReport{ch, db, has_gain, on, has_48v, forced});
    }
  }
  static void KS_ABI rebuild(int32_t ch) {
    if (FakeHost* h = g_current.load()) {
      std::lock_guard<std::mutex> lock(h->mu_);
      h->rebuilds_.push_back(ch);
    }
  }
};

FakeHost::FakeHost(const std::string& config_path, const char* type)
    : path16_(utf8_to_utf16(config_path)),
      suffix16_(std::string_view(type) == "x32" ? u"-x32" : u"") {
  host_.version = kModuleApiVersion;
  host_.size = kModuleHostSize;
  host_.ctx = type;
  host_.config_path = path16_.c_str();
  host_.status_suffix = suffix16_.c_str();
  host_.log = FakeHostThunks::log;
  host_.live_gain_object = FakeHostThunks::live_gain_object;
  host_.get_mac = FakeHostThunks::get_mac;
  host_.lv1_listener = FakeHostThunks::lv1_listener;
  host_.report_to_lv1 = FakeHostThunks::report;
  host_.rebuild_strip = FakeHostThunks::rebuild;
  g_current.store(this);
}

FakeHost::~FakeHost() {
  FakeHost* self = this;
  g_current.compare_exchange_strong(self, nullptr);
}

std::vector<std::string> FakeHost::lines() {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

std::vector<std::string> FakeHost::lines_with(const std::string& needle) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out;
  for (auto& l : lines_)
    if (l.find(needle) != std::string::npos) out.push_back(l);
  return out;
}

void FakeHost::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
  reports_.clear();
  rebuilds_.clear();
}

std::vector<FakeReport> FakeHost::reports() {
  std::lock_guard<std::mutex> lock(mu_);
  return reports_;
}

std::vector<int32_t> FakeHost::rebuilds() {
  std::lock_guard<std::mutex> lock(mu_);
  return rebuilds_;
}

}  // namespace ks
