#include "tests/e2e/desk_run.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "shared/names.h"
#include "shared/status_block.h"
#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/x32/x32_sim.h"

namespace ks::e2e {

namespace {

using Clock = std::chrono::steady_clock;

// Build paths are Unix paths; the Unix root is drive Z: under Wine.
std::string windows_path(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

std::wstring wide(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  return w;
}

bool copy_into(const std::string& from, const std::string& to) {
  return CopyFileW(wide(windows_path(from)).c_str(), wide(to).c_str(), FALSE) != 0;
}

bool write_file(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr) && n == text.size();
  CloseHandle(h);
  return ok;
}

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Polls until ready or the time is up; the time it took, or a negative number.
double wait_ms(const std::function<bool()>& ready, int limit_ms) {
  const Clock::time_point start = Clock::now();
  while (!ready()) {
    if (ms_since(start) > limit_ms) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return ms_since(start);
}

std::string format(const char* f, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string format(const char* f, ...) {
  char buf[512];
  va_list a;
  va_start(a, f);
  std::vsnprintf(buf, sizeof buf, f, a);
  va_end(a);
  return buf;
}

// The X32's head-amp gain on the wire: -12..+60 dB as 0..1.
double x32_db(float wire) { return double(wire) * 72.0 - 12.0; }
float x32_wire(double db) { return float((db + 12.0) / 72.0); }
bool wire_is(float got, double db) { return std::fabs(double(got) - double(x32_wire(db))) < 1e-4; }

// The module's status block as the tray program sees it.
class StatusView {
 public:
  explicit StatusView(const char16_t* suffix) {
    std::u16string name = std::u16string(kStatusBlockBaseNameU16) + suffix;
    name_ = std::wstring(name.begin(), name.end());
  }
  ~StatusView() {
    if (view_) UnmapViewOfFile(view_);
    if (map_) CloseHandle(map_);
  }
  const StatusBlock* get() {
    if (!view_) {
      map_ = OpenFileMappingW(FILE_MAP_READ, FALSE, name_.c_str());
      if (map_) view_ = MapViewOfFile(map_, FILE_MAP_READ, 0, 0, sizeof(StatusBlock));
    }
    auto* b = static_cast<const StatusBlock*>(view_);
    return b && b->magic == kStatusMagic && b->version == kStatusLayoutVersion ? b : nullptr;
  }

 private:
  std::wstring name_;
  HANDLE map_ = nullptr;
  void* view_ = nullptr;
};

// Lines of the module's log worth showing in the transcript.
bool notable(const std::string& line) {
  static const char* const marks[] = {"[loader]", "seeded", "REFUSED", "[x32]", "[desk]", "[bridge]", "[refind]"};
  for (const char* m : marks)
    if (line.find(m) != std::string::npos) return true;
  return false;
}

}  // namespace

bool DeskRunResult::all_seen() const {
  return module_loaded && desk_subscribed && seeded_from_desk && gain_reached_desk &&
         clamped_at_desk && phantom_reached_desk && protected_refused && desk_gain_reached_lv1 &&
         desk_phantom_reached_lv1 && status_shows_desk && resynced && reread_after_scene_load && xremote_renewed &&
         lv1_finished;
}

DeskRunResult run_x32(const DeskRunOptions& o) {
  DeskRunResult r;
  auto say = [&](const std::string& line) { r.transcript.push_back(line); };

  sim::X32Sim desk;
  sim::X32Sim::Options so;
  so.address = "127.0.0.1";
  if (!desk.start(so)) {
    say("desk    the X32 simulator cannot listen on 127.0.0.1:10023");
    return r;
  }
  desk.put("/headamp/000/gain", sim::osc_f(x32_wire(24.0)));
  say(format("desk    X32 simulator \"%s\" (%s) on %s:%u; its ch 1 head amp stands at +24.0 dB", so.name.c_str(),
             so.model.c_str(), so.address.c_str(), unsigned(so.port)));

  // The bundle as installed: the loader, its settings file and the signed module beside it.
  // A folder no earlier run used: a stale journal or go-file would pass a step that never ran.
  sim::Scenario s("e2e-x32-" + std::to_string(GetTickCount64()));
  const std::string modules = s.loader_folder() + "\\modules";
  CreateDirectoryW(wide(modules).c_str(), nullptr);
  const std::string module_name = std::string("x32-") + KS_E2E_VERSION + ".dll";
  if (!copy_into(KS_E2E_X32_MODULE, modules + "\\" + module_name) ||
      !copy_into(std::string(KS_E2E_X32_MODULE) + ".sig", modules + "\\" + module_name + ".sig")) {
    say("setup   the signed module could not be copied into the bundle");
    return r;
  }
  const char* resync = o.resync_desk ? "desk" : "lv1";
  write_file(s.loader_folder() + "\\x32.cfg",
             std::string("bank=AN\nwatch=8\ncard=CRD\nip=127.0.0.1\nprotect=AN:6\nresync=") + resync + "\n");
  say("setup   bundle " + s.bundle() + " with modules\\" + module_name +
      " (signed with the test key); x32.cfg: ip=127.0.0.1, input AN 6 protected, resync=" + resync);

  const std::string go_lv1 = s.module_root() + "\\go-lv1";
  const std::string go_end = s.module_root() + "\\go-end";
  const std::string script =
      "factory \"$BUNDLE\"\n"
      "box b 11 0\n"
      "listener b plain\n"
      "query b WavesIOBoxGain g\n"
      "query b WavesIOBoxWavesConsoleIO io\n"
      "host io\n"
      "mac b 0a1b2c3d4e5f\n"
      "callback g\n"
      "wait-file \"" + go_lv1 + "\" 60000\n"
      "gain g 1 20\n"
      "gain g 2 80\n"
      "phantom g 2 1\n"
      "phantom g 5 1\n"
      "wait-file \"" + go_end + "\" 240000\n"
      "release b\n";
  const std::string journal_path = s.module_root().substr(0, s.module_root().rfind('\\')) + "\\journal.txt";
  auto journal_has = [&](const std::string& needle) { return sim::read_text(journal_path).find(needle) != std::string::npos; };

  sim::RunResult run;
  std::thread lv1([&] { run = s.run(script, 400000); });
  say("LV1     stand-in loads Kestrune.dll, opens an X32 card (box, gain object, callback)");

  StatusView status(u"-x32");
  double t = wait_ms([&] { return !desk.subscribers().empty(); }, 40000);
  r.desk_subscribed = t >= 0;
  if (r.desk_subscribed) say(format("desk    the module subscribed (/xremote) %.0f ms after LV1 started", t));

  // The link comes up and LV1 is seeded with the desk's values. LV1's moves wait until every
  // channel is seeded: before that the module holds them back, and the seed overwrites them.
  t = wait_ms([&] { return journal_has("gain_changed mac=0a:1b:2c:3d:4e:5f ch=0 db=24.00"); }, 20000);
  r.seeded_from_desk = t >= 0 && wait_ms([&] { return s.log(2).find("[bridge] seeded ") != std::string::npos; }, 10000) >= 0;
  if (r.seeded_from_desk) say(format("LV1     gain-changed callback: ch 1 = +24.0 dB, the desk's value (%.0f ms later)", t));

  // LV1 -> desk.
  write_file(go_lv1, "");
  say("LV1     gain ch 2 -> +20.0 dB; gain ch 3 -> +80.0 dB; 48 V on ch 3; 48 V on ch 6 (protected)");
  t = wait_ms([&] { return wire_is(desk.headamp_gain(1), 20.0); }, 10000);
  r.gain_reached_desk = t >= 0;
  if (r.gain_reached_desk)
    say(format("desk    /headamp/001/gain = %.4f (%+.1f dB), %.0f ms after the signal", desk.headamp_gain(1),
               x32_db(desk.headamp_gain(1)), t));
  r.clamped_at_desk = wait_ms([&] { return wire_is(desk.headamp_gain(2), 60.0); }, 10000) >= 0;
  if (r.clamped_at_desk) say(format("desk    /headamp/002/gain = %.4f (%+.1f dB: +80 clamped to the top)",
                                    desk.headamp_gain(2), x32_db(desk.headamp_gain(2))));
  r.phantom_reached_desk = wait_ms([&] { return desk.headamp_phantom(2) == 1; }, 10000) >= 0;
  if (r.phantom_reached_desk) say("desk    /headamp/002/phantom = 1");
  // The protected switch was sent after the one above; give it the same room to (wrongly) arrive.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const bool protected_off = desk.headamp_phantom(5) == 0;
  if (protected_off) say("desk    /headamp/005/phantom stays 0: AN 6 is protected");

  // desk -> LV1.
  say("desk    the engineer turns ch 4 to +42.0 dB and switches 48 V on ch 5 at the desk");
  desk.desk_change("/headamp/003/gain", sim::osc_f(x32_wire(42.0)));
  desk.desk_change("/headamp/004/phantom", sim::osc_i(1));
  t = wait_ms([&] { return journal_has("gain_changed mac=0a:1b:2c:3d:4e:5f ch=3 db=42.00"); }, 10000);
  r.desk_gain_reached_lv1 = t >= 0;
  if (r.desk_gain_reached_lv1) say(format("LV1     gain-changed callback: ch 4 = +42.0 dB (%.0f ms after the desk move)", t));
  r.desk_phantom_reached_lv1 =
      wait_ms([&] { return journal_has("phantom_changed mac=0a:1b:2c:3d:4e:5f ch=4 on=1"); }, 10000) >= 0;
  if (r.desk_phantom_reached_lv1) say("LV1     48V-changed callback: ch 5 on");

  // The status block, as the tray program reads it.
  r.status_shows_desk = wait_ms([&] {
    const StatusBlock* b = status.get();
    return b && std::strncmp(b->desk_ip, "127.0.0.1", sizeof b->desk_ip) == 0 && b->desk_answering != 0 &&
           std::fabs(b->gain_db[3] - 42.0) < 0.01 && std::fabs(b->gain_db[1] - 20.0) < 0.01;
  }, 5000) >= 0;
  if (const StatusBlock* b = status.get()) {
    char line[sizeof b->desk_line + 1] = {};
    std::memcpy(line, b->desk_line, sizeof b->desk_line);
    char ip[sizeof b->desk_ip + 1] = {};
    std::memcpy(ip, b->desk_ip, sizeof b->desk_ip);
    say(format("status  desk %s \"%s\" answering=%u; ch 2 %+.1f dB, ch 4 %+.1f dB, ch 3 48 V %u", ip, line,
               unsigned(b->desk_answering), b->gain_db[1], b->gain_db[3], unsigned(b->phantom[2])));
  }

  // The desk drops and returns; meanwhile ch 2 was turned at the desk. With resync = LV1 the desk
  // gets LV1's value back, with resync = desk LV1 takes the desk's.
  say("desk    goes silent (the cable is pulled); meanwhile ch 2 is turned to -6.0 dB at the desk");
  desk.set_silent(true);
  desk.put("/headamp/001/gain", sim::osc_f(x32_wire(-6.0)));
  auto answering = [&] {
    const StatusBlock* b = status.get();
    return b && b->desk_answering != 0;
  };
  t = wait_ms([&] { return !answering(); }, 40000);
  if (t >= 0) say(format("status  desk not answering, %.0f ms after it went silent", t));
  desk.set_silent(false);
  say("desk    answers again");
  if (t >= 0 && wait_ms(answering, 40000) >= 0) {
    if (o.resync_desk) {
      t = wait_ms([&] { return journal_has("gain_changed mac=0a:1b:2c:3d:4e:5f ch=1 db=-6.00"); }, 20000);
      r.resynced = t >= 0;
      if (r.resynced) say("LV1     gain-changed callback: ch 2 = -6.0 dB, the desk's value (resync = desk)");
    } else {
      t = wait_ms([&] { return wire_is(desk.headamp_gain(1), 20.0); }, 20000);
      r.resynced = t >= 0;
      if (r.resynced)
        say(format("desk    /headamp/001/gain back to %+.1f dB, LV1's value (resync = lv1)", x32_db(desk.headamp_gain(1))));
    }
  }

  // A scene load at the desk: a burst of changes, after which the module reads the patch again.
  const int patch_reads = desk.count("/config/routing/CARD/1-8");
  say("desk    a scene load: a burst of 200 changes in 300 ms");
  desk.scene_load(200, 300);
  t = wait_ms([&] { return desk.count("/config/routing/CARD/1-8") > patch_reads; }, 10000);
  r.reread_after_scene_load = t >= 0;
  if (r.reread_after_scene_load) say(format("desk    the module read the patch again (/config/routing/CARD/1-8), %.0f ms later", t));

  // The desk forgets a subscriber 10 s after its last "/xremote"; the module renews in time.
  if (wait_ms([&] { return desk.count("/xremote") >= 2; }, 15000) >= 0) {
    double longest = 0;
    Clock::time_point last{};
    for (const sim::X32Sim::Received& m : desk.received()) {
      if (m.address != "/xremote") continue;
      if (last != Clock::time_point{})
        longest = std::max(longest, std::chrono::duration<double, std::milli>(m.at - last).count());
      last = m.at;
    }
    r.xremote_renewed = longest < so.subscription_ms;
    say(format("desk    /xremote renewed: %d so far, at most %.0f ms apart (a subscription lasts %d ms)",
               desk.count("/xremote"), longest, so.subscription_ms));
  }

  write_file(go_end, "");
  lv1.join();
  desk.stop();
  r.lv1_finished = run.finished();
  say(r.lv1_finished ? "LV1     script done, card released, stand-in exited normally"
                     : format("LV1     stand-in did not finish (exit code %lu%s)", static_cast<unsigned long>(run.exit_code),
                              run.timed_out ? ", timed out" : ""));

  const std::string log = s.log(2);
  r.module_loaded = log.find(std::string("[loader] x32 module ") + KS_E2E_VERSION + " loaded from") != std::string::npos;
  const bool refused_logged = log.find("REFUSED ch=5") != std::string::npos;
  r.protected_refused = protected_off && refused_logged;
  say("module log (kestrune-x32.log):");
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (o.verbose || notable(line)) say("  " + line);
    at = end + 1;
  }
  return r;
}

}  // namespace ks::e2e
