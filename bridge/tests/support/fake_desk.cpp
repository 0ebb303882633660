#include "bridge/tests/support/fake_desk.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bridge/lifecycle.h"
#include "os/tests/support/manual_clock.h"

namespace ks {

namespace {

FakeDesk g_fake;

std::string key_of(const char* bank) { return fake_key(bank ? bank : ""); }

std::string fmt(const char* f, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string fmt(const char* f, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, f);
  std::vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

// Writes text into out[len] the way the slot's caller expects, or hostile bytes when asked.
void put_text(char* out, int32_t len, const std::string& text) {
  if (!out || len <= 0) return;
  if (g_fake.hostile_.load()) {
    std::memset(out, 'X', size_t(len));
    return;
  }
  std::snprintf(out, size_t(len), "%s", text.c_str());
}

const char* KS_ABI f_identity() { return "WING,127.0.0.1,Fake,ngc-full,S0000,3.0"; }
bool KS_ABI f_connect(const char* ip) {
  g_fake.connects_++;
  return g_fake.enter("connect", fmt("connect %s", ip ? ip : "(null)"));
}
void KS_ABI f_disconnect() {
  g_fake.disconnects_++;
  g_fake.enter("disconnect", "disconnect");
  if (g_fake.stick_disconnect_.load()) add_stuck_thread();
}
bool KS_ABI f_link_alive() { return g_fake.link_.load(); }
int32_t KS_ABI f_discover(const char* ip, DeskAnswer* out, int32_t max, uint32_t) {
  if (!g_fake.enter("discover", fmt("discover %s", ip ? ip : "(all)"))) return 0;
  if (!out || max < 1) return 0;
  std::memset(out, 0, sizeof *out);
  std::snprintf(out->ip, sizeof out->ip, "%s", ip ? ip : "127.0.0.1");
  std::snprintf(out->name, sizeof out->name, "Fake");
  std::snprintf(out->model, sizeof out->model, "ngc-full");
  std::snprintf(out->id, sizeof out->id, "S0000");
  std::snprintf(out->identity, sizeof out->identity, "%s", f_identity());
  out->card = 1;
  return 1;
}
void KS_ABI f_adopt(const DeskAnswer* a) {
  g_fake.enter("adopt", fmt("adopt %s", a ? a->ip : "(null)"));
}

bool KS_ABI f_read_preamp(const char* bank, int32_t n, double* db, uint8_t* ph, uint8_t* valid) {
  if (!g_fake.enter("read_preamp", fmt("read_preamp %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  FakeInput in = g_fake.input(bank, uint32_t(n));
  *db = in.gain;
  *ph = in.phantom;
  if (valid) *valid = 1;
  return true;
}
bool KS_ABI f_read_gain(const char* bank, int32_t n, double* db) {
  if (!g_fake.enter("read_gain", fmt("read_gain %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  *db = g_fake.input(bank, uint32_t(n)).gain;
  return true;
}
bool KS_ABI f_read_phantom(const char* bank, int32_t n, uint8_t* on) {
  if (!g_fake.enter("read_phantom", fmt("read_phantom %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  *on = g_fake.input(bank, uint32_t(n)).phantom;
  return true;
}
bool KS_ABI f_read_mute(const char* bank, int32_t n, uint32_t* state) {
  if (!g_fake.enter("read_mute", fmt("read_mute %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  *state = g_fake.input(bank, uint32_t(n)).mute;
  return true;
}
bool KS_ABI f_read_mode(const char* bank, int32_t n, uint32_t* mode) {
  if (!g_fake.enter("read_mode", fmt("read_mode %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  *mode = g_fake.input(bank, uint32_t(n)).mode;
  return true;
}
uint32_t KS_ABI f_stereo_lead(const char*, int32_t n) {
  return (n % 2 == 0) ? uint32_t(n - 1) : uint32_t(n);
}
bool KS_ABI f_read_source(const char* slot, uint32_t n, char* bank_out, uint32_t bank_len,
                          uint32_t* n_out) {
  if (!g_fake.enter("read_source", fmt("read_source %s %u", slot, n), key_of(slot), n))
    return false;
  FakeRoute r;
  {
    std::lock_guard<std::mutex> lock(g_fake.mu);
    auto s = g_fake.routes.find(key_of(slot));
    if (s != g_fake.routes.end()) {
      auto it = s->second.find(n);
      if (it != s->second.end()) r = it->second;
    }
  }
  put_text(bank_out, int32_t(bank_len), r.bank.empty() ? "OFF" : r.bank);
  *n_out = r.input;
  return true;
}
bool KS_ABI f_set_patch(const char* slot, uint32_t n, const char* bank, uint32_t input) {
  if (!g_fake.enter("set_patch", fmt("set_patch %s %u %s %u", slot, n, bank, input))) return false;
  g_fake.route(slot, n, bank, input);
  return true;
}
bool KS_ABI f_read_route(const char* slot, uint32_t n, const char* leaf, uint32_t* value,
                         char* text, int32_t len) {
  if (!g_fake.enter("read_route", fmt("read_route %s %u %s", slot, n, leaf))) return false;
  *value = 0;
  put_text(text, len, "");
  return true;
}
bool KS_ABI f_read_name(const char* bank, int32_t n, char* out, int32_t len) {
  if (!g_fake.enter("read_name", fmt("read_name %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  put_text(out, len, g_fake.input(bank, uint32_t(n)).name);
  return true;
}
bool KS_ABI f_gain_range(const char* bank, int32_t n, double* min, double* max, double* step) {
  if (!g_fake.enter("gain_range", fmt("gain_range %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  std::lock_guard<std::mutex> lock(g_fake.mu);
  auto it = g_fake.ranges.find(key_of(bank));
  if (it == g_fake.ranges.end()) return false;
  *min = it->second.min;
  *max = it->second.max;
  *step = it->second.step;
  return true;
}
bool KS_ABI f_is_preamp_bank(const char* bank) {
  std::lock_guard<std::mutex> lock(g_fake.mu);
  return g_fake.preamp_banks.count(key_of(bank)) != 0;
}
bool KS_ABI f_send_gain(const char* bank, int32_t n, double db) {
  if (!g_fake.enter("send_gain", fmt("send_gain %s %d %.2f", bank, n, db), key_of(bank),
                    uint32_t(n)))
    return false;
  std::lock_guard<std::mutex> lock(g_fake.mu);
  g_fake.inputs[{key_of(bank), uint32_t(n)}].gain = db;
  return true;
}
bool KS_ABI f_send_phantom(const char* bank, int32_t n, uint8_t on) {
  if (!g_fake.enter("send_phantom", fmt("send_phantom %s %d %d", bank, n, on), key_of(bank),
                    uint32_t(n)))
    return false;
  std::lock_guard<std::mutex> lock(g_fake.mu);
  g_fake.inputs[{key_of(bank), uint32_t(n)}].phantom = on != 0;
  return true;
}
bool KS_ABI f_send_mode(const char* bank, int32_t n, const char* mode) {
  if (!g_fake.enter("send_mode", fmt("send_mode %s %d %s", bank, n, mode), key_of(bank),
                    uint32_t(n)))
    return false;
  std::lock_guard<std::mutex> lock(g_fake.mu);
  uint32_t lower = uint32_t(n), upper = uint32_t(n) + 1;
  uint32_t lo = 0, hi = 0;
  if (std::strcmp(mode, "ST") == 0) lo = 1, hi = 2;
  if (std::strcmp(mode, "M/S") == 0) lo = 3, hi = 4;
  g_fake.inputs[{key_of(bank), lower}].mode = lo;
  g_fake.inputs[{key_of(bank), upper}].mode = hi;
  return true;
}
void KS_ABI f_set_event_callback(EventFn fn) {
  g_fake.callback_.store(fn);
  g_fake.enter("set_event_callback", fn ? "set_event_callback fn" : "set_event_callback null");
}
bool KS_ABI f_meters_start(const DeskAnswer*) {
  return g_fake.enter("meters_start", "meters_start");
}
void KS_ABI f_meters_stop() { g_fake.enter("meters_stop", "meters_stop"); }
bool KS_ABI f_false() { return false; }
uint32_t KS_ABI f_zero() { return 0; }
bool KS_ABI f_meter(const char*, int32_t, double*) { return false; }
bool KS_ABI f_clip(const char*, int32_t) { return false; }
bool KS_ABI f_read_card_type(const char* slot, char* out, int32_t len) {
  if (!g_fake.enter("read_card_type", fmt("read_card_type %s", slot), key_of(slot))) return false;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(g_fake.mu);
    auto it = g_fake.card_types.find(key_of(slot));
    if (it == g_fake.card_types.end()) return false;
    text = it->second;
  }
  put_text(out, len, text);
  return true;
}
bool KS_ABI f_headamp_type(const char* bank, int32_t n, uint32_t* type) {
  if (!g_fake.enter("headamp_type", fmt("headamp_type %s %d", bank, n), key_of(bank), uint32_t(n)))
    return false;
  *type = uint32_t(g_fake.input(bank, uint32_t(n)).headamp_type);
  return true;
}
bool KS_ABI f_read_port_devices(const char* port, char* out, int32_t len) {
  if (!g_fake.enter("read_port_devices", fmt("read_port_devices %s", port), key_of(port)))
    return false;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(g_fake.mu);
    auto it = g_fake.ports.find(key_of(port));
    if (it == g_fake.ports.end()) return false;
    text = it->second.devices;
  }
  put_text(out, len, text);
  return true;
}
bool KS_ABI f_read_port_remote(const char* port, uint8_t* on) {
  if (!g_fake.enter("read_port_remote", fmt("read_port_remote %s", port), key_of(port)))
    return false;
  std::lock_guard<std::mutex> lock(g_fake.mu);
  auto it = g_fake.ports.find(key_of(port));
  if (it == g_fake.ports.end() || it->second.remote < 0) return false;
  *on = uint8_t(it->second.remote);
  return true;
}
uint32_t KS_ABI f_stagebox_channels(const char* names) {
  g_fake.enter("stagebox_channels", fmt("stagebox_channels %s", names));
  std::lock_guard<std::mutex> lock(g_fake.mu);
  for (auto& [k, p] : g_fake.ports)
    if (p.devices == names) return p.stagebox;
  return 0xFFFFFFFFu;
}
uint32_t KS_ABI f_bank_size(const char*) { return 0; }
bool KS_ABI f_read_tcplock(uint8_t* on) {
  if (!g_fake.enter("read_tcplock", "read_tcplock")) return false;
  *on = g_fake.tcplock_.load();
  return true;
}
int32_t KS_ABI f_ha_link_partner(const char* bank, int32_t n, char* bank_out, int32_t len,
                                 int32_t* n_out) {
  if (!g_fake.enter("ha_link_partner", fmt("ha_link_partner %s %d", bank, n), key_of(bank),
                    uint32_t(n)))
    return -1;
  std::lock_guard<std::mutex> lock(g_fake.mu);
  auto it = g_fake.partners.find({key_of(bank), uint32_t(n)});
  if (it == g_fake.partners.end()) return 0;
  put_text(bank_out, len, it->second.bank);
  *n_out = it->second.n;
  return it->second.result;
}
int32_t KS_ABI f_aes50(const char*) { return -1; }

}  // namespace

std::string fake_key(const std::string& bank) {
  std::string k;
  for (char c : bank) k.push_back((c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c);
  return k;
}

FakeDesk& fake_desk() { return g_fake; }

void FakeDesk::reset() {
  desc = DeskDriver{};
  desc.model_name = "Fake Desk";
  desc.maker = "Kestrune tests";
  desc.identity = f_identity;
  desc.connect = f_connect;
  desc.disconnect = f_disconnect;
  desc.link_alive = f_link_alive;
  desc.discover = f_discover;
  desc.adopt = f_adopt;
  desc.read_preamp = f_read_preamp;
  desc.read_gain = f_read_gain;
  desc.read_phantom = f_read_phantom;
  desc.read_mute = f_read_mute;
  desc.read_mode = f_read_mode;
  desc.stereo_lead = f_stereo_lead;
  desc.read_source = f_read_source;
  desc.set_patch = f_set_patch;
  desc.read_route = f_read_route;
  desc.read_name = f_read_name;
  desc.gain_range = f_gain_range;
  desc.is_preamp_bank = f_is_preamp_bank;
  desc.send_gain = f_send_gain;
  desc.send_phantom = f_send_phantom;
  desc.send_mode = f_send_mode;
  desc.set_event_callback = f_set_event_callback;
  desc.meters_start = f_meters_start;
  desc.meters_stop = f_meters_stop;
  desc.meters_flowing = f_false;
  desc.meter_frames = f_zero;
  desc.meter_now = f_meter;
  desc.meter_peak = f_meter;
  desc.meter_clip = f_clip;
  desc.sent_count = f_zero;
  desc.received_count = f_zero;
  desc.event_count = f_zero;
  desc.read_card_type = f_read_card_type;
  desc.headamp_type = f_headamp_type;
  desc.read_port_devices = f_read_port_devices;
  desc.read_port_remote = f_read_port_remote;
  desc.stagebox_channels = f_stagebox_channels;
  desc.caps = CAP_STEREO_LINK | CAP_REPATCH;
  desc.bank_size = f_bank_size;
  desc.read_tcplock = f_read_tcplock;
  desc.ha_link_partner = nullptr;  // odd/even pairs, as the WING
  desc.aes50_port_present = f_aes50;
  std::lock_guard<std::mutex> lock(mu);
  inputs.clear();
  routes.clear();
  card_types.clear();
  ranges.clear();
  preamp_banks = {"LCL", "A", "B", "C", "SC"};
  ports.clear();
  partners.clear();
  failing_.clear();
  failing_inputs_.clear();
  delays_.clear();
  calls_.clear();
  on_call_ = nullptr;
  clock_ = nullptr;
  link_.store(true);
  tcplock_.store(false);
  hostile_.store(false);
  stick_disconnect_.store(false);
  callback_.store(nullptr);
  connects_.store(0);
  disconnects_.store(0);
}

bool FakeDesk::enter(const char* slot, const std::string& call, const std::string& bank,
                     uint32_t n) {
  uint32_t delay = 0;
  ManualClock* clock = nullptr;
  bool fails;
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(mu);
    hook = on_call_;
  }
  if (hook) hook(call);
  {
    std::lock_guard<std::mutex> lock(mu);
    calls_.push_back(call);
    auto d = delays_.find(slot);
    if (d != delays_.end()) delay = d->second;
    clock = clock_;
    fails = failing_.count(slot) ||
            failing_inputs_.count(std::string(slot) + " " + bank + " " + std::to_string(n));
  }
  if (delay) {
    if (clock)
      clock->advance(delay);
    else
      sleep_ms(delay);
  }
  return !fails;
}

void FakeDesk::set_input(const std::string& bank, uint32_t n, const FakeInput& in) {
  std::lock_guard<std::mutex> lock(mu);
  inputs[{fake_key(bank), n}] = in;
}

FakeInput FakeDesk::input(const std::string& bank, uint32_t n) {
  std::lock_guard<std::mutex> lock(mu);
  auto it = inputs.find({fake_key(bank), n});
  return it == inputs.end() ? FakeInput{} : it->second;
}

void FakeDesk::route(const std::string& slot, uint32_t n, const std::string& bank, uint32_t input) {
  std::lock_guard<std::mutex> lock(mu);
  routes[fake_key(slot)][n] = FakeRoute{bank, input};
}

void FakeDesk::unroute(const std::string& slot, uint32_t n) {
  std::lock_guard<std::mutex> lock(mu);
  routes[fake_key(slot)].erase(n);
}

void FakeDesk::set_card_type(const std::string& slot, const std::string& text) {
  std::lock_guard<std::mutex> lock(mu);
  card_types[fake_key(slot)] = text;
}

void FakeDesk::set_range(const std::string& bank, double min, double max, double step) {
  std::lock_guard<std::mutex> lock(mu);
  ranges[fake_key(bank)] = Range{min, max, step};
}

void FakeDesk::set_preamp_banks(std::set<std::string> banks) {
  std::lock_guard<std::mutex> lock(mu);
  preamp_banks.clear();
  for (auto& b : banks) preamp_banks.insert(fake_key(b));
}

void FakeDesk::set_port(const std::string& port, const std::string& devices, int remote,
                        uint32_t stagebox_inputs) {
  std::lock_guard<std::mutex> lock(mu);
  ports[fake_key(port)] = Port{devices, remote, stagebox_inputs};
}

void FakeDesk::set_partner(const std::string& bank, uint32_t n, int32_t result,
                           const std::string& pbank, int32_t pn) {
  std::lock_guard<std::mutex> lock(mu);
  partners[{fake_key(bank), n}] = Partner{result, pbank, pn};
}

void FakeDesk::enable_partner_slot() { desc.ha_link_partner = f_ha_link_partner; }

void FakeDesk::fail(const std::string& slot, bool on) {
  std::lock_guard<std::mutex> lock(mu);
  if (on)
    failing_.insert(slot);
  else
    failing_.erase(slot);
}

void FakeDesk::fail_input(const std::string& slot, const std::string& bank, uint32_t n, bool on) {
  std::lock_guard<std::mutex> lock(mu);
  std::string k = slot + " " + fake_key(bank) + " " + std::to_string(n);
  if (on)
    failing_inputs_.insert(k);
  else
    failing_inputs_.erase(k);
}

void FakeDesk::on_call(std::function<void(const std::string&)> fn) {
  std::lock_guard<std::mutex> lock(mu);
  on_call_ = std::move(fn);
}

void FakeDesk::delay(const std::string& slot, uint32_t ms) {
  std::lock_guard<std::mutex> lock(mu);
  delays_[slot] = ms;
}

std::vector<std::string> FakeDesk::calls() {
  std::lock_guard<std::mutex> lock(mu);
  return calls_;
}

std::vector<std::string> FakeDesk::calls_of(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(mu);
  std::vector<std::string> out;
  for (auto& c : calls_)
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  return out;
}

void FakeDesk::clear_calls() {
  std::lock_guard<std::mutex> lock(mu);
  calls_.clear();
}

bool FakeDesk::push(const char* bank, int32_t n, const char* kind, double value, uint8_t flag) {
  EventFn fn = callback_.load();
  if (!fn) return false;
  fn(bank, n, kind, value, flag, nullptr);
  return true;
}

}  // namespace ks
