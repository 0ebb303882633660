#include "tests/e2e/desk_run.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <thread>

#include "loader/session_block.h"
#include "os/socket.h"
#include "tests/e2e/bundle_files.h"
#include "shared/names.h"
#include "shared/status_block.h"
#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/lv1/script_text.h"
#include "sim/wing/discovery.h"
#include "sim/wing/wing_sim.h"
#include "sim/x32/x32_sim.h"

namespace ks::e2e {

namespace {

using Clock = std::chrono::steady_clock;
using sim::card_setup_script;
using sim::script_escaped;
using sim::script_unescaped;

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

bool same_db(double got, double want) { return std::fabs(got - want) < 0.01; }

// A field of the block as text, however it is terminated.
template <size_t N>
std::string text_of(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

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
  bool answering() {
    const StatusBlock* b = get();
    return b && b->desk_answering != 0;
  }

private:
  std::wstring name_;
  HANDLE map_ = nullptr;
  void* view_ = nullptr;
};

// Lines of the module's log worth showing in the transcript.
bool notable(const std::string& line) {
  static const char* const marks[] = {"[loader]", "seeded",   "REFUSED",  "[x32]",
                                      "[desk]",   "[bridge]", "[refind]", "[ctl]",
                                      "[nat]",    "[bin]",    "[patch]"};
  for (const char* m : marks)
    if (line.find(m) != std::string::npos) return true;
  return false;
}

// A simulated desk as the shared steps see it; inputs of the watched bank numbered from 1.
class DeskSide {
public:
  virtual ~DeskSide() = default;
  virtual double gain_db(int n) = 0;
  virtual bool phantom(int n) = 0;
  virtual std::string gain_text(int n) = 0;  // the node and its value, as the desk holds it
  virtual std::string phantom_node(int n) = 0;
  virtual double top_db() = 0;         // the top of the head amp's gain range
  virtual std::string top_text() = 0;  // how the top comes about
  // The engineer at the desk: the desk tells its clients.
  virtual void turn(int n, double db) = 0;
  virtual void switch_phantom(int n, bool on) = 0;
  // The desk drops off; a move while it is away reaches nobody; it returns (false: it could not).
  virtual void go_away() = 0;
  virtual void turn_while_away(int n, double db) = 0;
  virtual bool come_back() = 0;
  virtual std::string away_text() = 0;  // how it drops, for the transcript
};

// What differs between the two console types for the shared steps.
struct Facts {
  const char* type;           // the loader's type key: module file prefix, settings file name
  const char* module_file;    // the module built and signed for these runs
  const char* settings;       // the settings file without its resync line
  const char* settings_said;  // the same, said for the transcript
  const char* box;            // LV1's box command for the card
  const char16_t* status_suffix;
  int log_channel;  // the loader's log of this type
  const char* log_name;
  const char* bank;  // the watched bank, for the transcript
};

constexpr const char* kMac = "mac=0a:1b:2c:3d:4e:5f";
constexpr int kWatched = 8;  // both runs' settings say watch=8

// The steps both runs share: the bundle, LV1 in its own thread, the moves from both ends, the
// status block, the drop and return, and the module's log.
class Run {
public:
  Run(DeskRunResult& r, const DeskRunOptions& o, const Facts& f)
      : r_(r),
        o_(o),
        f_(f),
        s_(std::string("e2e-") + f.type + "-" + std::to_string(GetTickCount64()),
           {sim::kWavesModules[0], sim::kWavesModules[1], sim::kWavesModules[2]},
           o.io_modules_root),
        status_(f.status_suffix) {}
  ~Run() { finish_lv1(); }

  void say(const std::string& line) { r_.transcript.push_back(line); }
  StatusView& status() { return status_; }
  bool journal_has(const std::string& needle) const {
    return sim::read_text(journal_).find(needle) != std::string::npos;
  }
  double waited_for_journal(const std::string& needle, int limit_ms) const {
    return wait_ms([&] { return journal_has(needle); }, limit_ms);
  }
  double since_start() const { return ms_since(started_); }
  std::string journal_text() const { return sim::read_text(journal_); }
  std::string module_log() const { return s_.log(f_.log_channel); }
  const std::string& log_folder() const { return s_.temp(); }
  // A file the LV1 script waits for (wait-file); a run that stops early has finish write it.
  std::string signal_file(const std::string& name) {
    signals_.push_back(s_.module_root() + "\\" + name);
    return signals_.back();
  }

  // The bundle as installed: the loader, its settings file and the signed module beside it,
  // in a folder no earlier run used (a stale journal or go-file would pass a step that never ran).
  bool install() {
    const char* resync = o_.resync_desk ? "desk" : "lv1";
    if (o_.install_bundle) {
      // The scenario laid out a bundle of its own; the installer is to make it.
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::path(wide(s_.bundle())), ec);
      std::string said;
      const bool ok =
          !ec && o_.install_bundle(s_.module_root(),
                                   std::string(f_.settings) + "resync=" + resync + "\n", said);
      say("setup   " + (ec ? "the scenario's own bundle could not be removed" : said));
      return ok;
    }
    const std::string modules = s_.loader_folder() + "\\modules";
    CreateDirectoryW(wide(modules).c_str(), nullptr);
    const std::string name = std::string(f_.type) + "-" + KS_E2E_VERSION + ".dll";
    std::string file = f_.module_file;
    if (o_.damaged_module) file = file.substr(0, file.size() - 4) + "-damaged.dll";
    if (!copy_into(file, modules + "\\" + name) ||
        !copy_into(file + ".sig", modules + "\\" + name + ".sig")) {
      say("setup   the signed module could not be copied into the bundle");
      return false;
    }
    const std::string cfg = std::string(f_.type) + ".cfg";
    if (!write_file(s_.loader_folder() + "\\" + cfg,
                    std::string(f_.settings) + "resync=" + resync + "\n")) {
      say("setup   " + cfg + " could not be written");
      return false;
    }
    say("setup   bundle " + s_.bundle() + " with modules\\" + name +
        (o_.damaged_module ? " (cut short, then " : " (") + "signed with the test key); " + cfg +
        ": " + f_.settings_said + ", resync=" + resync);
    return true;
  }

  // LV1 opens the card, waits for the signal, makes its moves, runs the run's own lines, and waits
  // for the end.
  void start_lv1(const std::string& own = "") {
    const std::string script = card_setup_script(f_.box) +
                               "callback g\n"
                               "wait-file \"" +
                               go_lv1_ +
                               "\" 60000\n"
                               "gain g 1 20\n"
                               "gain g 2 80\n"
                               "phantom g 2 1\n"
                               "phantom g 5 1\n" +
                               own + "wait-file \"" + go_end_ +
                               "\" 240000\n"
                               "release b\n";
    started_ = Clock::now();
    lv1_ = std::thread([this, script] { run_ = s_.run(script, 400000); });
  }

  // The link comes up and LV1 is seeded with the desk's values. LV1's moves wait until every
  // channel is seeded: before that the module holds them back, and the seed overwrites them.
  // They also wait for the strips the first patch read re-validates, the last watched channel's
  // 48 V last: a re-validation after LV1's 48 V on the protected input would put the desk's off
  // back on that strip, one before it leaves LV1's own, so the run would depend on the order.
  void seeded() {
    double t = waited_for_journal(std::string("gain_changed ") + kMac + " ch=0 db=24.00", 20000);
    const std::string last_revalidated = format("phantom_changed %s ch=%d ", kMac, kWatched - 1);
    r_.seeded_from_desk =
        t >= 0 &&
        wait_ms(
            [&] { return s_.log(f_.log_channel).find("[bridge] seeded ") != std::string::npos; },
            10000) >= 0 &&
        waited_for_journal(last_revalidated, 10000) >= 0;
    if (r_.seeded_from_desk)
      say(format("LV1     gain-changed callback: ch 1 = +24.0 dB, the desk's value (%.0f ms later)",
                 t));
  }

  // LV1 -> desk: ch 2 to +20, ch 3 beyond the top, 48 V on ch 3 and on the protected ch 6.
  void lv1_moves(DeskSide& desk) {
    write_file(go_lv1_, "");
    say("LV1     gain ch 2 -> +20.0 dB; gain ch 3 -> +80.0 dB; 48 V on ch 3; 48 V on ch 6 (protected)");
    double t = wait_ms([&] { return same_db(desk.gain_db(2), 20.0); }, 10000);
    r_.gain_reached_desk = t >= 0;
    if (r_.gain_reached_desk)
      say(format("desk    %s, %.0f ms after the signal", desk.gain_text(2).c_str(), t));
    r_.clamped_at_desk =
        wait_ms([&] { return same_db(desk.gain_db(3), desk.top_db()); }, 10000) >= 0;
    if (r_.clamped_at_desk)
      say("desk    " + desk.gain_text(3) + ": +80 clamped to " + desk.top_text());
    r_.phantom_reached_desk = wait_ms([&] { return desk.phantom(3); }, 10000) >= 0;
    if (r_.phantom_reached_desk) say("desk    " + desk.phantom_node(3) + " = 1");
    // The protected switch was sent after the one above; give it the same room to (wrongly) arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    protected_off_ = !desk.phantom(6);
    if (protected_off_)
      say("desk    " + desk.phantom_node(6) + " stays 0: " + f_.bank + " 6 is protected");
  }

  // desk -> LV1: ch 4 to +42 and 48 V on ch 5 at the desk.
  void desk_moves(DeskSide& desk) {
    say("desk    the engineer turns ch 4 to +42.0 dB and switches 48 V on ch 5 at the desk");
    desk.turn(4, 42.0);
    desk.switch_phantom(5, true);
    double t = waited_for_journal(std::string("gain_changed ") + kMac + " ch=3 db=42.00", 10000);
    r_.desk_gain_reached_lv1 = t >= 0;
    if (r_.desk_gain_reached_lv1)
      say(format("LV1     gain-changed callback: ch 4 = +42.0 dB (%.0f ms after the desk move)",
                 t));
    r_.desk_phantom_reached_lv1 =
        waited_for_journal(std::string("phantom_changed ") + kMac + " ch=4 on=1", 10000) >= 0;
    if (r_.desk_phantom_reached_lv1) say("LV1     48V-changed callback: ch 5 on");
  }

  // The status block, as the tray program reads it: LV1's move beyond the range shows as the top.
  void status_shows_desk(DeskSide& desk) {
    r_.status_shows_desk = wait_ms(
                               [&] {
                                 const StatusBlock* b = status_.get();
                                 return b && text_of(b->desk_ip) == "127.0.0.1" &&
                                        b->desk_answering != 0 && same_db(b->gain_db[3], 42.0) &&
                                        same_db(b->gain_db[1], 20.0) &&
                                        same_db(b->gain_db[2], desk.top_db()) && b->phantom[2] == 1;
                               },
                               5000) >= 0;
    if (const StatusBlock* b = status_.get())
      say(format(
          "status  desk %s \"%s\" answering=%u; ch 2 %+.1f dB, ch 3 %+.1f dB, ch 4 %+.1f dB, ch 3 48 V %u",
          text_of(b->desk_ip).c_str(), text_of(b->desk_line).c_str(), unsigned(b->desk_answering),
          b->gain_db[1], b->gain_db[2], b->gain_db[3], unsigned(b->phantom[2])));
  }

  // The desk drops and returns; meanwhile ch 2 was turned at the desk (to a value in every desk's
  // range). With resync = LV1 the desk gets LV1's value back, with resync = desk LV1 takes the
  // desk's; either way the other side must not keep its own.
  void drop_and_return(DeskSide& desk) {
    say("desk    " + desk.away_text() + "; meanwhile ch 2 is turned to +10.0 dB at the desk");
    desk.go_away();
    desk.turn_while_away(2, 10.0);
    double t = wait_ms([&] { return !status_.answering(); }, 40000);
    if (t >= 0) say(format("status  desk not answering, %.0f ms after it dropped", t));
    if (!desk.come_back()) {
      say("desk    cannot listen again");
      return;
    }
    say("desk    answers again");
    if (t < 0) return;
    t = wait_ms([&] { return status_.answering(); }, 40000);
    if (t < 0) return;
    say(format("status  desk answering again, %.0f ms after it came back", t));
    const std::string lv1_took_desk = std::string("gain_changed ") + kMac + " ch=1 db=10.00";
    if (o_.resync_desk) {
      const bool lv1_took = waited_for_journal(lv1_took_desk, 20000) >= 0;
      if (lv1_took)
        say("LV1     gain-changed callback: ch 2 = +10.0 dB, the desk's value (resync = desk)");
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      const bool desk_kept = same_db(desk.gain_db(2), 10.0);
      if (!desk_kept) say("desk    " + desk.gain_text(2) + ": the desk's value was overwritten");
      r_.resynced = lv1_took && desk_kept;
    } else {
      const bool desk_took = wait_ms([&] { return same_db(desk.gain_db(2), 20.0); }, 20000) >= 0;
      if (desk_took) say("desk    " + desk.gain_text(2) + " again, LV1's value (resync = lv1)");
      const bool lv1_kept = !journal_has(lv1_took_desk);
      if (!lv1_kept)
        say("LV1     gain-changed callback: ch 2 = +10.0 dB, the desk's value (resync = lv1 names LV1's)");
      r_.resynced = desk_took && lv1_kept;
    }
  }

  // LV1 releases the card and exits; then the module's log is read.
  void finish() {
    finish_lv1();
    r_.lv1_finished = run_.finished();
    say(r_.lv1_finished ? "LV1     script done, card released, stand-in exited normally"
                        : format("LV1     stand-in did not finish (exit code %lu%s)",
                                 static_cast<unsigned long>(run_.exit_code),
                                 run_.timed_out ? ", timed out" : ""));
    const std::string log = s_.log(f_.log_channel);
    r_.module_loaded = log.find(std::string("[loader] ") + f_.type + " module " + KS_E2E_VERSION +
                                " loaded from") != std::string::npos;
    r_.protected_refused = protected_off_ && log.find("REFUSED ch=5") != std::string::npos;
    say(std::string("module log (") + f_.log_name + "):");
    size_t at = 0;
    while (at < log.size()) {
      size_t end = log.find('\n', at);
      if (end == std::string::npos) end = log.size();
      std::string line = log.substr(at, end - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (o_.verbose || notable(line)) say("  " + line);
      at = end + 1;
    }
  }

private:
  void finish_lv1() {
    if (!lv1_.joinable()) return;
    write_file(go_lv1_, "");  // a run that stopped early must not leave LV1 waiting for either
    for (const std::string& f : signals_) write_file(f, "");
    write_file(go_end_, "");
    lv1_.join();
  }

  DeskRunResult& r_;
  const DeskRunOptions& o_;
  const Facts& f_;
  sim::Scenario s_;
  StatusView status_;
  const std::string go_lv1_ = s_.module_root() + "\\go-lv1";
  const std::string go_end_ = s_.module_root() + "\\go-end";
  const std::string journal_ = s_.case_folder() + "\\journal.txt";
  std::vector<std::string> signals_;
  std::thread lv1_;
  sim::RunResult run_;
  Clock::time_point started_ = Clock::now();
  bool protected_off_ = false;
};

// ---- X32 / M32 ----------------------------------------------------------------------------------

// The X32's head-amp gain on the wire: -12..+60 dB as 0..1; head amp 000 is AN 1.
double x32_db(float wire) { return double(wire) * 72.0 - 12.0; }
float x32_wire(double db) { return float((db + 12.0) / 72.0); }
std::string headamp(int n, const char* leaf) { return format("/headamp/%03d/%s", n - 1, leaf); }

class X32Side : public DeskSide {
public:
  explicit X32Side(sim::X32Sim& sim) : sim_(sim) {}
  double gain_db(int n) override { return x32_db(sim_.headamp_gain(n - 1)); }
  bool phantom(int n) override { return sim_.headamp_phantom(n - 1) == 1; }
  std::string gain_text(int n) override {
    return format("%s = %.4f (%+.1f dB)", headamp(n, "gain").c_str(), sim_.headamp_gain(n - 1),
                  gain_db(n));
  }
  std::string phantom_node(int n) override { return headamp(n, "phantom"); }
  double top_db() override { return 60.0; }
  std::string top_text() override { return "the top (1.0)"; }
  void turn(int n, double db) override {
    sim_.desk_change(headamp(n, "gain"), sim::osc_f(x32_wire(db)));
  }
  void switch_phantom(int n, bool on) override {
    sim_.desk_change(headamp(n, "phantom"), sim::osc_i(on ? 1 : 0));
  }
  void go_away() override { sim_.set_silent(true); }
  void turn_while_away(int n, double db) override {
    sim_.put(headamp(n, "gain"), sim::osc_f(x32_wire(db)));
  }
  bool come_back() override {
    sim_.set_silent(false);
    return true;
  }
  std::string away_text() override { return "goes silent (the cable is pulled)"; }

private:
  sim::X32Sim& sim_;
};

const Facts kX32 = {"x32",
                    KS_E2E_X32_MODULE,
                    "bank=AN\nwatch=8\ncard=CRD\nip=127.0.0.1\nprotect=AN:6\n",
                    "ip=127.0.0.1, input AN 6 protected",
                    "box b 11 0",
                    u"-x32",
                    2,
                    "kestrune-x32.log",
                    "AN"};

// ---- WING ---------------------------------------------------------------------------------------

std::string lcl(int n, const char* leaf) { return format("io/in/LCL/%d/%s", n, leaf); }

class WingSide : public DeskSide {
public:
  WingSide(sim::WingSim& sim, sim::DiscoveryResponder& answers,
           const sim::DiscoveryBehaviour& found)
      : sim_(sim), answers_(answers), found_(found) {}
  double number(const std::string& path) {
    sim::SimValue v;
    return sim_.get(path, &v) ? v.number : -1000.0;
  }
  double gain_db(int n) override { return number(lcl(n, "g")); }
  bool phantom(int n) override { return number(lcl(n, "vph")) == 1.0; }
  std::string gain_text(int n) override {
    return format("%s = %+.1f dB", lcl(n, "g").c_str(), gain_db(n));
  }
  std::string phantom_node(int n) override { return lcl(n, "vph"); }
  double top_db() override { return sim_.gain_range("LCL").max; }
  std::string top_text() override {
    sim::GainRange g = sim_.gain_range("LCL");
    return format("the top of the range the desk defines (%+.1f..%+.1f dB, %.1f dB steps)", g.min,
                  g.max, g.step);
  }
  void turn(int n, double db) override { sim_.set(lcl(n, "g"), sim::SimValue::of_float(db)); }
  void switch_phantom(int n, bool on) override {
    sim_.set(lcl(n, "vph"), sim::SimValue::of_flag(on));
  }
  void go_away() override {
    // Nothing answers: discovery is quiet and the desk's ports close, ending the control and
    // meter connections. Its values stay as they are.
    sim::DiscoveryBehaviour quiet = found_;
    quiet.silent = true;
    answers_.set_behaviour(quiet);
    sim_.stop();
  }
  // No client is connected: the move reaches nobody.
  void turn_while_away(int n, double db) override { turn(n, db); }
  bool come_back() override {
    answers_.set_behaviour(found_);
    return sim_.start(kLoopback);
  }
  std::string away_text() override {
    return "drops off the network (its ports close, discovery goes quiet)";
  }

private:
  sim::WingSim& sim_;
  sim::DiscoveryResponder& answers_;
  sim::DiscoveryBehaviour found_;
};

// LV1 channel c is card channel c + 1, which the simulated patch gives LCL c + 1.
const Facts kWing = {"wing",
                     KS_E2E_WING_MODULE,
                     "bank=LCL\nwatch=8\ncard=MOD\nip=127.0.0.1\nprotect=LCL:6\n",
                     "ip=127.0.0.1, card MOD, input LCL 6 protected",
                     "box b 11 2",
                     u"",
                     1,
                     "kestrune-wing.log",
                     "LCL"};

// The level the run gives input n of LCL: distinct for each, on the frame's 1/256 dB grid.
double test_level(int n) { return -3.0 * n - 0.5; }

bool levels_shown(const StatusBlock* b) {
  if (!b || b->meters_live != 1) return false;
  for (int ch = 0; ch < kWatched; ++ch)
    if (!same_db(b->level_db[ch], test_level(ch + 1)) ||
        !same_db(b->peak_db[ch], test_level(ch + 1)))
      return false;
  return true;
}

// The meter stream: levels set at the desk reach the status block and frames keep coming.
void wing_meters_in_status(Run& run, sim::WingSim& desk, DeskRunResult& r) {
  for (int n = 1; n <= kWatched; ++n) desk.meters().set_level("LCL", n, test_level(n));
  run.say(format("desk    meters: LCL 1..%d at %.1f, %.1f ... %.1f dB", kWatched, test_level(1),
                 test_level(2), test_level(kWatched)));
  StatusView& status = run.status();
  if (wait_ms([&] { return levels_shown(status.get()); }, 10000) >= 0) {
    const uint32_t frames = status.get()->meter_frames;
    r.meters_in_status = wait_ms(
                             [&] {
                               const StatusBlock* b = status.get();
                               return levels_shown(b) && b->meter_frames >= frames + 3;
                             },
                             5000) >= 0;
  }
  if (const StatusBlock* b = status.get())
    run.say(format(
        "status  meters_live=%u, %u frames; level/peak ch 1 %.1f/%.1f, ch 2 %.1f/%.1f ... ch %d %.1f/%.1f dB",
        unsigned(b->meters_live), unsigned(b->meter_frames), b->level_db[0], b->peak_db[0],
        b->level_db[1], b->peak_db[1], kWatched, b->level_db[kWatched - 1],
        b->peak_db[kWatched - 1]));
}

// The meter stream stalls with its connection up; the module subscribes again and frames flow.
void wing_meters_resubscribed(Run& run, sim::WingSim& desk, DeskRunResult& r) {
  StatusView& status = run.status();
  const StatusBlock* b = status.get();
  if (!b) return;
  const uint32_t frames = b->meter_frames;
  const size_t subscriptions = desk.meters().subscribers().size();
  run.say("desk    the meter stream stalls: subscriptions taken, no frame sent");
  desk.meters().update_faults([](sim::MeterFaults& f) { f.silent = true; });
  const Clock::time_point stalled = Clock::now();
  double t = wait_ms(
      [&] {
        const StatusBlock* now = status.get();
        return now && now->meters_live == 0;
      },
      15000);
  const bool noticed = t >= 0;
  if (noticed) run.say(format("status  meters_live=0, %.0f ms after the stall began", t));
  const bool again = wait_ms(
                         [&] {
                           std::vector<sim::MeterSubscriber> s = desk.meters().subscribers();
                           return s.size() > subscriptions && s.back().well_formed && s.back().open;
                         },
                         15000) >= 0;
  t = ms_since(stalled);
  desk.meters().update_faults([](sim::MeterFaults& f) { f.silent = false; });
  if (!again) return;
  const sim::MeterSubscriber sub = desk.meters().subscribers().back();
  run.say(
      format("desk    a new meter subscription (UDP port %u, id %u), %.0f ms after the stall began",
             unsigned(sub.port), unsigned(sub.id), t));
  run.say("desk    frames flow again");
  t = wait_ms(
      [&] {
        const StatusBlock* now = status.get();
        return levels_shown(now) && now->meter_frames >= frames + 3;
      },
      10000);
  r.meters_resubscribed = noticed && t >= 0;
  if (t >= 0)
    run.say(format("status  meters_live=1 again, %u frames (%u before the stall), %.0f ms later",
                   unsigned(status.get()->meter_frames), unsigned(frames), t));
}

// ---- the session chunk --------------------------------------------------------------------------

// Waves' stand-in's own chunk text (its default), and Waves' part of the session LV1 opens.
constexpr const char* kWavesText = "waves-state: 1\n";
constexpr const char* kStoredWavesText = "waves-state: 2\n";

// A channel of the session LV1 opens, numbered from 1.
struct Recalled {
  int n;
  double db;
  bool phantom;
};
// Ch 7 and 8 are touched by nothing else in the run; ch 6 is the protected input, stored with 48 V
// on.
constexpr Recalled kRecalled[] = {{7, 33.0, false}, {8, 6.0, true}, {6, 12.0, true}};
constexpr int kProtected = 6;

// The stored session's chunk, written out by hand as a saved session holds it: Waves' part, then
// the block with the recalled channels marked as preamps.
std::string recalled_chunk() {
  std::string gain, phantom, preamp;
  for (int ch = 0; ch < 64; ++ch) {
    const Recalled* r = nullptr;
    for (const Recalled& c : kRecalled)
      if (c.n == ch + 1) r = &c;
    const char* sep = ch ? ", " : "";
    gain += sep + format("%.2f", r ? r->db : 0.0);
    phantom += sep + std::string(r && r->phantom ? "1" : "0");
    preamp += sep + std::string(r ? "1" : "0");
  }
  return std::string(kStoredWavesText) + kChunkBlockTag + "\n  gain: [" + gain + "]\n  phantom: [" +
         phantom + "]\n  preamp: [" + preamp + "]\n";
}

// The first line of text holding needle, without its end ("" when none does).
std::string line_with(const std::string& text, const std::string& needle) {
  const size_t at = text.find(needle);
  if (at == std::string::npos) return "";
  const size_t before = text.rfind('\n', at);
  const size_t begin = before == std::string::npos ? 0 : before + 1;
  std::string line = text.substr(begin, std::min(text.find('\n', at), text.size()) - begin);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The LV1 script's session lines: it asks which watched channels have a preamp, as LV1 does when it
// draws its strips (a saved block marks only those as recallable), saves the card's chunk, then
// opens the stored session.
std::string session_script(const std::string& go_save, const std::string& go_load) {
  std::string strips;
  for (int ch = 0; ch < kWatched; ++ch) strips += "read g " + std::to_string(ch) + "\n";
  return "wait-file \"" + go_save + "\" 240000\n" + strips +
         "chunk-get b\n"
         "wait-file \"" +
         go_load +
         "\" 240000\n"
         "chunk-set b \"" +
         script_escaped(recalled_chunk()) + "\"\n";
}

// LV1 saves its session: the chunk it gets is Waves' text as it stands, then a block with the
// values the desk holds for the watched channels (but for the protected input's 48 V, LV1's own).
void wing_session_saved(Run& run, DeskSide& desk, const std::string& go_save, DeskRunResult& r) {
  run.say(format(
      "LV1     asks which of ch 1..%d have a preamp (as when it draws its strips), then saves its session: "
      "chunk-get on the card",
      kWatched));
  write_file(go_save, "");
  const std::string put = "sink put [";
  if (run.waited_for_journal(put, 10000) < 0) return;
  std::string line = line_with(run.journal_text(), put);
  line = line.substr(line.find(put) + put.size());
  if (line.empty() || line.back() != ']') return;
  line.pop_back();
  const std::string saved = script_unescaped(line);
  const bool waves_intact =
      saved.compare(0, strlen(kWavesText), kWavesText) == 0 &&
      saved.compare(strlen(kWavesText), strlen(kChunkBlockTag), kChunkBlockTag) == 0;
  if (waves_intact)
    run.say(
        format("LV1     the chunk: Waves' text \"%s\" as it stands, then a %zu-byte kestrune block",
               script_escaped(kWavesText).c_str(), saved.size() - strlen(kWavesText)));
  ParsedChunkBlock p;
  parse_chunk_block(saved, p);
  if (!p.present) {
    run.say(std::string("LV1     the chunk has no usable kestrune block: ") +
            (p.problem ? p.problem : "none found"));
    return;
  }
  std::string values;
  int differ = 0;
  for (int n = 1; n <= kWatched; ++n) {
    values += format("%s%+.1f%s", n > 1 ? ", " : "", p.gain[n - 1], p.phantom[n - 1] ? " 48V" : "");
    // A refused value stays in LV1: the protected strip keeps the 48 V LV1 switched on, which
    // the desk never got.
    const bool phantom = n == kProtected || desk.phantom(n);
    const bool same = p.preamp[n - 1] == 1 && same_db(p.gain[n - 1], desk.gain_db(n)) &&
                      (p.phantom[n - 1] != 0) == phantom;
    if (same) continue;
    ++differ;
    run.say(format(
        "LV1     block ch %d: %+.2f dB, 48 V %u, preamp %u; the desk holds %+.2f dB, 48 V %d", n,
        p.gain[n - 1], unsigned(p.phantom[n - 1]), unsigned(p.preamp[n - 1]), desk.gain_db(n),
        desk.phantom(n) ? 1 : 0));
  }
  run.say("LV1     block ch 1.." + std::to_string(kWatched) + ": " + values);
  const bool protected_kept = p.phantom[kProtected - 1] != 0 && !desk.phantom(kProtected);
  if (protected_kept)
    run.say(format("LV1     block ch %d: 48 V on as LV1 holds it (its refused switch); %s stays 0",
                   kProtected, desk.phantom_node(kProtected).c_str()));
  r.session_saved = waves_intact && differ == 0 && protected_kept && same_db(p.gain[1], 20.0) &&
                    same_db(p.gain[3], 42.0) && p.phantom[2] == 1;
}

// LV1 opens a stored session: Waves gets its own text, the desk the stored values, except the
// protected input's 48 V.
void wing_session_recalled(Run& run, DeskSide& desk, const std::string& go_load, DeskRunResult& r) {
  const std::string refusal = format("[48V] REFUSED ch=%d", kProtected - 1);
  const int refused = sim::occurrences(run.module_log(), refusal);
  std::string said;
  for (const Recalled& c : kRecalled)
    said +=
        format("%sch %d %+.1f dB%s", said.empty() ? "" : "; ", c.n, c.db, c.phantom ? " 48 V" : "");
  run.say("LV1     opens a session: chunk-set on the card, Waves' \"" +
          script_escaped(kStoredWavesText) + "\" + a kestrune block (" + said + ")");
  write_file(go_load, "");
  const std::string waves_got = "set_chunk self=";
  const std::string waves_text = "text=[" + script_escaped(kStoredWavesText) + "]";
  const bool waves_own =
      run.waited_for_journal(waves_got, 10000) >= 0 &&
      line_with(run.journal_text(), waves_got).find(waves_text) != std::string::npos;
  if (waves_own)
    run.say("waves   set_chunk got \"" + script_escaped(kStoredWavesText) +
            "\": the block taken out");
  bool reached = true;
  for (const Recalled& c : kRecalled) {
    const bool phantom = c.phantom && c.n != kProtected;
    const double t = wait_ms(
        [&] { return same_db(desk.gain_db(c.n), c.db) && desk.phantom(c.n) == phantom; }, 10000);
    if (t >= 0)
      run.say(format("desk    %s, %s = %d", desk.gain_text(c.n).c_str(),
                     desk.phantom_node(c.n).c_str(), phantom ? 1 : 0));
    reached = reached && t >= 0;
  }
  // LV1's strips follow, or a later resync with LV1's values would undo the session.
  bool lv1_follows = true;
  for (const Recalled& c : kRecalled) {
    if (c.n == kProtected) continue;
    const std::string gain = format("gain_changed %s ch=%d db=%.2f", kMac, c.n - 1, c.db);
    const std::string phantom = format("phantom_changed %s ch=%d on=1", kMac, c.n - 1);
    const bool seen = run.waited_for_journal(gain, 10000) >= 0 &&
                      (!c.phantom || run.waited_for_journal(phantom, 10000) >= 0);
    if (seen)
      run.say(format("LV1     gain-changed callback: ch %d = %+.1f dB%s", c.n, c.db,
                     c.phantom ? "; 48V-changed: on" : ""));
    lv1_follows = lv1_follows && seen;
  }
  // The protected switch goes out with the others; give it room to (wrongly) arrive.
  const bool refused_again =
      wait_ms([&] { return sim::occurrences(run.module_log(), refusal) > refused; }, 5000) >= 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const bool protected_off = !desk.phantom(kProtected);
  if (protected_off && refused_again)
    run.say(format("desk    %s stays 0: the session's 48 V on the protected input was refused",
                   desk.phantom_node(kProtected).c_str()));
  r.session_recalled = waves_own && reached && lv1_follows && protected_off && refused_again;
}

}  // namespace

const char* step_name(DeskRunResult::Step step) {
  static const struct {
    DeskRunResult::Step step;
    const char* name;
  } kNames[] = {
      {&DeskRunResult::module_loaded, "module_loaded"},
      {&DeskRunResult::desk_subscribed, "desk_subscribed"},
      {&DeskRunResult::seeded_from_desk, "seeded_from_desk"},
      {&DeskRunResult::gain_reached_desk, "gain_reached_desk"},
      {&DeskRunResult::clamped_at_desk, "clamped_at_desk"},
      {&DeskRunResult::phantom_reached_desk, "phantom_reached_desk"},
      {&DeskRunResult::protected_refused, "protected_refused"},
      {&DeskRunResult::desk_gain_reached_lv1, "desk_gain_reached_lv1"},
      {&DeskRunResult::desk_phantom_reached_lv1, "desk_phantom_reached_lv1"},
      {&DeskRunResult::resynced, "resynced"},
      {&DeskRunResult::reread_after_scene_load, "reread_after_scene_load"},
      {&DeskRunResult::xremote_renewed, "xremote_renewed"},
      {&DeskRunResult::meters_in_status, "meters_in_status"},
      {&DeskRunResult::meters_resubscribed, "meters_resubscribed"},
      {&DeskRunResult::session_saved, "session_saved"},
      {&DeskRunResult::session_recalled, "session_recalled"},
      {&DeskRunResult::status_shows_desk, "status_shows_desk"},
      {&DeskRunResult::lv1_finished, "lv1_finished"},
  };
  for (const auto& n : kNames)
    if (n.step == step) return n.name;
  return "?";
}

bool DeskRunResult::all_seen() const { return !required.empty() && missing().empty(); }

std::vector<std::string> DeskRunResult::missing() const {
  std::vector<std::string> out;
  for (Step s : required)
    if (!(this->*s)) out.push_back(step_name(s));
  return out;
}

namespace {

// A result that requires the steps every run has and the run's own.
DeskRunResult requiring(std::initializer_list<DeskRunResult::Step> own) {
  DeskRunResult r;
  r.required = {
      &DeskRunResult::module_loaded,
      &DeskRunResult::desk_subscribed,
      &DeskRunResult::seeded_from_desk,
      &DeskRunResult::gain_reached_desk,
      &DeskRunResult::clamped_at_desk,
      &DeskRunResult::phantom_reached_desk,
      &DeskRunResult::protected_refused,
      &DeskRunResult::desk_gain_reached_lv1,
      &DeskRunResult::desk_phantom_reached_lv1,
      &DeskRunResult::status_shows_desk,
      &DeskRunResult::resynced,
      &DeskRunResult::lv1_finished,
  };
  r.required.insert(r.required.end(), own);
  return r;
}

}  // namespace

DeskRunResult run_x32(const DeskRunOptions& o) {
  DeskRunResult r =
      requiring({&DeskRunResult::reread_after_scene_load, &DeskRunResult::xremote_renewed});
  Run run(r, o, kX32);

  sim::X32Sim desk;
  sim::X32Sim::Options so;
  so.address = "127.0.0.1";
  if (!desk.start(so)) {
    run.say("desk    the X32 simulator cannot listen on 127.0.0.1:10023");
    return r;
  }
  desk.put("/headamp/000/gain", sim::osc_f(x32_wire(24.0)));
  run.say(format("desk    X32 simulator \"%s\" (%s) on %s:%u; its ch 1 head amp stands at +24.0 dB",
                 so.name.c_str(), so.model.c_str(), so.address.c_str(), unsigned(so.port)));
  if (!run.install()) return r;
  run.start_lv1();
  run.say("LV1     stand-in loads Kestrune.dll, opens an X32 card (box, gain object, callback)");

  double t = wait_ms([&] { return !desk.subscribers().empty(); }, 40000);
  r.desk_subscribed = t >= 0;
  if (r.desk_subscribed)
    run.say(format("desk    the module subscribed (/xremote) %.0f ms after LV1 started",
                   run.since_start()));

  X32Side side(desk);
  run.seeded();
  run.lv1_moves(side);
  run.desk_moves(side);
  run.status_shows_desk(side);
  run.drop_and_return(side);

  // A scene load at the desk: a burst of changes, after which the module reads the patch again.
  const int patch_reads = desk.count("/config/routing/CARD/1-8");
  run.say("desk    a scene load: a burst of 200 changes in 300 ms");
  desk.scene_load(200, 300);
  t = wait_ms([&] { return desk.count("/config/routing/CARD/1-8") > patch_reads; }, 10000);
  r.reread_after_scene_load = t >= 0;
  if (r.reread_after_scene_load)
    run.say(format(
        "desk    the module read the patch again (/config/routing/CARD/1-8), %.0f ms later", t));

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
    run.say(format(
        "desk    /xremote renewed: %d so far, at most %.0f ms apart (a subscription lasts %d ms)",
        desk.count("/xremote"), longest, so.subscription_ms));
  }

  run.finish();
  desk.stop();
  return r;
}

DeskRunResult run_wing(const DeskRunOptions& o) {
  DeskRunResult r =
      requiring({&DeskRunResult::meters_in_status, &DeskRunResult::meters_resubscribed,
                 &DeskRunResult::session_saved, &DeskRunResult::session_recalled});
  Run run(r, o, kWing);
  const std::string go_save = run.signal_file("go-save"), go_load = run.signal_file("go-load");

  // Under Wine every datagram leaves from 127.0.0.1, so the desk lives there.
  sim::WingSim desk;
  sim::DiscoveryResponder answers;
  sim::DiscoveryBehaviour found;
  if (!desk.start(kLoopback)) {
    run.say("desk    the WING simulator cannot listen on 127.0.0.1:2222");
    return r;
  }
  found.line = desk.identity_line();
  if (!answers.start(kLoopback, found)) {
    run.say("desk    the WING simulator's discovery cannot listen on 127.0.0.1 UDP 2222/2223");
    return r;
  }
  desk.set(lcl(1, "g"), sim::SimValue::of_float(24.0));
  // The console's stream, end marks held late: the mark that closes each value or definition
  // answer comes only after the module's next request is out.
  desk.update_faults([](sim::SimFaults& f) { f.late_end_marks = true; });
  const sim::SimIdentity id = desk.identity();
  run.say(format(
      "desk    WING simulator \"%s\" (%s, firmware %s) on 127.0.0.1: control TCP 2222, discovery UDP 2222/2223;",
      id.name.c_str(), id.model.c_str(), id.firmware.c_str()));
  run.say(
      "        its patch gives card MOD 1..24 LCL 1..24; the LCL 1 head amp stands at +24.0 dB;");
  run.say(
      "        it answers like the console, each answer's end mark sent only after the next request");
  if (!run.install()) return r;
  run.start_lv1(session_script(go_save, go_load));
  run.say("LV1     stand-in loads Kestrune.dll, opens a WING card (box, gain object, callback)");

  WingSide side(desk, answers, found);
  DeskProbe probe;
  probe.identity_line = found.line;
  probe.desk_gain_db = [&side](int n) { return side.gain_db(n); };
  probe.say = [&run](const std::string& line) { run.say(line); };
  probe.log_folder = run.log_folder();
  probe.desk_node = [&desk](const std::string& path) {
    sim::SimValue v;
    if (!desk.get(path, &v)) return std::string();
    return v.kind == sim::SimValue::Kind::kText ? v.text : format("%g", v.number);
  };
  probe.desk_phantom = [&side](int n, bool on) { side.switch_phantom(n, on); };
  if (o.outside_check && o.damaged_module) {
    o.outside_check(probe);
    run.finish();
    answers.stop();
    desk.stop();
    return r;
  }

  double t = wait_ms(
      [&] {
        std::vector<sim::MeterSubscriber> s = desk.meters().subscribers();
        return desk.connections() >= 2 && !s.empty() && s.back().well_formed && s.back().open;
      },
      40000);
  r.desk_subscribed = t >= 0;
  if (r.desk_subscribed) {
    const sim::MeterSubscriber sub = desk.meters().subscribers().back();
    run.say(format(
        "desk    the module connected (native control) and subscribed to meters (UDP port %u, id %u), "
        "%.0f ms after LV1 started",
        unsigned(sub.port), unsigned(sub.id), run.since_start()));
  }

  run.seeded();
  run.lv1_moves(side);
  run.desk_moves(side);
  run.status_shows_desk(side);
  if (o.outside_check) {
    o.outside_check(probe);
    run.finish();
    answers.stop();
    desk.stop();
    return r;
  }
  wing_session_saved(run, side, go_save, r);
  wing_session_recalled(run, side, go_load, r);
  wing_meters_in_status(run, desk, r);
  wing_meters_resubscribed(run, desk, r);
  run.drop_and_return(side);

  run.finish();
  answers.stop();
  desk.stop();
  return r;
}

}  // namespace ks::e2e
