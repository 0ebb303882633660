// WING end to end, measured over the real path: the LV1 stand-in process loads the real
// Kestrune.dll, the loader loads the signed Fellbrook, and Fellbrook talks to the WING simulator
// on 127.0.0.1. Prints, for a gain move, LV1 -> desk latency (the stand-in's gain_set to the
// simulator holding the write) and desk -> LV1 latency (the simulator's push to the stand-in's
// gain-changed callback) beside a raw loopback TCP send of the same frame, and the CPU time the
// stand-in process uses while connected and idle; then what one gain_set costs LV1's thread
// (median, p99.9, worst) against the healthy desk and against one that stops reading its socket,
// and how long the last value LV1 wrote then takes to reach the desk once it reads again. A
// benchmark: it asserts nothing about speed and exits non-zero only when the run itself could not
// happen.
//
//   KS_WINEPREFIX=$PWD/build/windows/bench-prefix tools/netns-run tools/wine-run
//       build/windows/tests/wing_latency_bench.exe [--samples N] [--idle-seconds S] [--calls N]
//
// One clock for both processes: QueryPerformanceCounter, which under Wine reads the host's
// monotonic clock in every process. The stand-in journals the QPC time of each gain_set and of
// each callback; this process stamps the pushes and the receipts. The run checks that the clocks
// agree: every stand-in stamp must fall after the cause and before the effect this process
// stamped, which bounds the offset between the two, and the bound is printed.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "desk/wing/wing_codec.h"
#include "os/socket.h"
#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/lv1/script_text.h"
#include "sim/wing/discovery.h"
#include "sim/wing/wing_sim.h"
#include "tests/e2e/bundle_files.h"

namespace {

using namespace ks;
using e2e::copy_into;
using e2e::write_file;
using sim::SimValue;

constexpr int32_t kLv1Channel = 1;  // LV1's moves: card channel 2, LCL 2 in the simulated patch
// The desk's moves go to LCL 5, LV1's channel 4, which LV1 never writes.
constexpr double kWatcherPeriodMs = 20.0;
constexpr int kGapMs = 25;  // between two writes; LV1's alternate, so none repeats the cached value
const char* const kLv1Path = "io/in/LCL/2/g";
// Our own writes to the simulator go to an input no LV1 channel watches.
constexpr int32_t kPlainInput = 20;
const char* const kPlainPath = "io/in/LCL/20/g";
const char* const kDeskPath = "io/in/LCL/5/g";
const char* const kCallback = "gain_changed mac=0a:1b:2c:3d:4e:5f ch=4 db=";

double g_tick_ms;

int64_t qpc() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

double ms_between(int64_t from, int64_t to) { return double(to - from) * g_tick_ms; }

// Polls every poll_ms until ready, at most limit_ms; false on time-out.
bool wait_until(const std::function<bool()>& ready, int limit_ms, DWORD poll_ms = 2) {
  const int64_t end = qpc() + int64_t(limit_ms / g_tick_ms);
  while (!ready()) {
    if (qpc() > end) return false;
    Sleep(poll_ms);
  }
  return true;
}

// The journal's lines that contain `needle`, each from the needle on.
std::vector<std::string> lines_with(const std::string& text, const std::string& needle) {
  std::vector<std::string> out;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    out.push_back(text.substr(at, end - at));
  }
  return out;
}

struct Figures {
  size_t n = 0;
  double median = 0, p99 = 0, min = 0;
};

Figures figures(std::vector<double> ms) {
  Figures f;
  f.n = ms.size();
  if (ms.empty()) return f;
  std::sort(ms.begin(), ms.end());
  f.median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
  f.p99 = ms[size_t(std::ceil(0.99 * double(ms.size()))) - 1];  // nearest rank
  f.min = ms.front();
  return f;
}

void print_row(const char* what, const Figures& f) {
  if (f.n == 0) {
    std::printf("  %-58s %7s   (no samples)\n", what, "0");
    return;
  }
  std::printf("  %-58s %7zu %9.3f ms %9.3f ms\n", what, f.n, f.median, f.p99);
}

// The frame Fellbrook writes for a gain: the same bytes the driver sends.
NodeFrame gain_frame(int32_t input, double db) {
  NodeFrame f;
  frame_reset(f);
  frame_put_path(f, "LCL", input, "g");
  frame_put_float(f, float(db));
  return f;
}

// A write as the simulator took it: our stamp of the moment its record appeared, and the
// simulator's own stamp (steady clock, whole ms).
struct Receipt {
  double db;
  int64_t at;
  uint64_t sim_ms;
  bool late;  // the record was there before we waited: the stamp is late, the sample left out
};

// Waits on the simulator's records and stamps each write to `path` as its record appears; ends
// after n writes or 5 s without one.
std::vector<Receipt> observe_writes(const sim::WingSim& desk, const std::string& path, int n) {
  std::vector<Receipt> out;
  size_t cursor = desk.records().size();
  while (int(out.size()) < n) {
    bool first_look = true;
    Receipt r{};
    const bool seen = desk.wait_records(
        [&](const std::vector<sim::SimRecord>& all) {
          const int64_t now = qpc();
          for (; cursor < all.size(); ++cursor) {
            const sim::SimRecord& x = all[cursor];
            if (x.request.kind != sim::SimRequest::Kind::kWrite || x.request.path != path) continue;
            r = Receipt{x.request.value.number, now, x.at_ms, first_look};
            ++cursor;
            return true;
          }
          first_look = false;
          return false;
        },
        5000);
    if (!seen) break;
    out.push_back(r);
  }
  return out;
}

// The simulator's own share of LV1 -> desk: the same frame from a plain socket of ours to the
// simulator holding it, observed the same way.
std::vector<double> plain_to_desk(const sim::WingSim& desk, int samples, std::string* error) {
  Socket tx = Socket::tcp();
  if (!tx.valid() || !tx.connect(Endpoint{desk.address(), 2222}, 2000)) {
    *error = "cannot connect to the simulator";
    return {};
  }
  tx.set_nodelay(true);
  std::vector<Receipt> receipts;
  std::atomic<bool> waiting{false};
  std::thread observer([&] {
    waiting = true;
    receipts = observe_writes(desk, kPlainPath, samples);
  });
  while (!waiting) Sleep(1);
  Sleep(50);
  std::vector<int64_t> sent;
  for (int i = 0; i < samples; ++i) {
    const NodeFrame f = gain_frame(kPlainInput, i % 2 ? 20.0 : 10.0);
    sent.push_back(qpc());
    if (!tx.send_all(f.bytes, f.fill, 1000)) break;
    Sleep(kGapMs);
  }
  observer.join();
  std::vector<double> ms;
  for (size_t i = 0; i < receipts.size() && i < sent.size(); ++i)
    if (!receipts[i].late) ms.push_back(ms_between(sent[i], receipts[i].at));
  if (receipts.size() < size_t(samples))
    *error = "the simulator took " + std::to_string(receipts.size()) + " of our " +
             std::to_string(samples) + " writes";
  return ms;
}

// The floor: one loopback TCP connection in this process, a gain frame sent on one end and
// stamped when its last byte is received on the other, by a thread waiting in recv as the
// simulator's connection threads do.
std::vector<double> loopback_floor(int samples, int gap_ms, std::string* error) {
  Socket listener = Socket::tcp();
  if (!listener.valid() || !listener.bind(Endpoint{kLoopback, 0}) || !listener.listen(1)) {
    *error = "cannot listen on 127.0.0.1";
    return {};
  }
  Socket tx = Socket::tcp();
  const uint16_t port = listener.local_endpoint() ? listener.local_endpoint()->port : 0;
  if (!tx.valid() || !tx.connect(Endpoint{kLoopback, port}, 2000)) {
    *error = "cannot connect on 127.0.0.1";
    return {};
  }
  Socket rx = listener.accept(2000);
  if (!rx.valid()) {
    *error = "the loopback connection was not accepted";
    return {};
  }
  tx.set_nodelay(true);
  rx.set_nodelay(true);

  const uint32_t size = gain_frame(2, 10.0).fill;
  std::vector<int64_t> received;
  std::atomic<int> got{0};
  std::thread receiver([&] {
    uint8_t buf[512];
    uint32_t pending = 0;
    while (got.load() < samples) {
      int r = rx.recv(buf, sizeof buf, 2000);
      if (r <= 0) break;
      const int64_t now = qpc();
      for (pending += uint32_t(r); pending >= size; pending -= size) {
        received.push_back(now);
        got.fetch_add(1);
      }
    }
  });
  std::vector<int64_t> sent;
  for (int i = 0; i < samples; ++i) {
    const NodeFrame f = gain_frame(2, i % 2 ? 20.0 : 10.0);
    sent.push_back(qpc());
    if (!tx.send_all(f.bytes, f.fill, 1000)) break;
    if (!wait_until([&] { return got.load() > i; }, 2000)) break;
    Sleep(DWORD(gap_ms));
  }
  tx.close();
  receiver.join();
  std::vector<double> ms;
  for (size_t i = 0; i < received.size() && i < sent.size(); ++i)
    ms.push_back(ms_between(sent[i], received[i]));
  if (ms.size() < size_t(samples))
    *error = "the loopback connection stopped after " + std::to_string(ms.size()) + " frames";
  return ms;
}

// The stand-in, when the run has to be cut short: our own child lv1sim.exe.
void end_stand_in() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  for (bool more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
    if (e.th32ParentProcessID != GetCurrentProcessId() || _wcsicmp(e.szExeFile, L"lv1sim.exe") != 0)
      continue;
    if (HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, e.th32ProcessID)) {
      TerminateProcess(p, 3);
      CloseHandle(p);
    }
  }
  CloseHandle(snap);
}

struct Options {
  int samples = 200;
  int idle_s = 60;
  int calls = 3000;  // gain_set calls timed against the healthy and the stalled desk, each
};

struct CallFigures {
  size_t n = 0;
  double median = 0, p999 = 0, worst = 0;  // ms
};

CallFigures call_figures(std::vector<double> ms) {
  CallFigures f;
  f.n = ms.size();
  if (ms.empty()) return f;
  std::sort(ms.begin(), ms.end());
  f.median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
  f.p999 = ms[size_t(std::ceil(0.999 * double(ms.size()))) - 1];  // nearest rank
  f.worst = ms.back();
  return f;
}

// call_us of the journal's timed-gain lines [from, to).
std::vector<double> call_ms_of(const std::vector<std::string>& lines, size_t from, size_t to) {
  std::vector<double> ms;
  for (size_t i = from; i < to && i < lines.size(); ++i) {
    const char* c = std::strstr(lines[i].c_str(), "call_us=");
    if (c) ms.push_back(std::atof(c + 8) / 1000.0);
  }
  return ms;
}

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--samples") == 0 && has_value)
      o->samples = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--idle-seconds") == 0 && has_value)
      o->idle_s = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--calls") == 0 && has_value)
      o->calls = std::atoi(argv[++i]);
    else
      return false;
  }
  return o->samples >= 10 && o->samples <= 100000 && o->idle_s >= 1 && o->idle_s <= 3600 &&
         o->calls >= 100 && o->calls <= 100000;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fprintf(
        stderr,
        "usage: wing_latency_bench [--samples 10..100000] [--idle-seconds 1..3600] [--calls 100..100000]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  g_tick_ms = 1000.0 / double(freq.QuadPart);

  // The desk and its discovery answers, on 127.0.0.1 (under Wine every datagram leaves from there).
  sim::WingSim desk;
  desk.set_receive_buffer(4096);  // so that a desk that stops reading fills its socket soon
  sim::DiscoveryResponder answers;
  sim::DiscoveryBehaviour behaviour;
  behaviour.line = desk.identity_line();
  if (!desk.start(kLoopback) || !answers.start(kLoopback, behaviour)) {
    std::printf("wing_latency_bench: the WING simulator cannot listen on 127.0.0.1:2222\n");
    return 1;
  }

  // The bundle as installed, with the signed module in the loader's modules folder.
  sim::Scenario s("wing-bench-" + std::to_string(GetTickCount64()));
  const std::string modules = s.loader_folder() + "\\modules";
  const std::string module = modules + "\\wing-" + KS_E2E_VERSION + ".dll";
  CreateDirectoryA(modules.c_str(), nullptr);
  if (!copy_into(KS_E2E_WING_MODULE, module) ||
      !copy_into(std::string(KS_E2E_WING_MODULE) + ".sig", module + ".sig") ||
      !write_file(s.loader_folder() + "\\wing.cfg",
                  "bank=LCL\nwatch=8\ncard=MOD\nip=127.0.0.1\nresync=lv1\n")) {
    std::printf(
        "wing_latency_bench: the signed module or its settings could not be put into the bundle\n");
    return 1;
  }

  const std::string case_folder = s.module_root().substr(0, s.module_root().rfind('\\'));
  const std::string journal_path = case_folder + "\\journal.txt";
  const std::string go_lv1 = case_folder + "\\go-lv1", go_idle = case_folder + "\\go-idle",
                    go_end = case_folder + "\\go-end", go_calls = case_folder + "\\go-calls",
                    go_stall = case_folder + "\\go-stall";
  const std::string script =
      ks::sim::card_setup_script("box b 11 2") +
      "callback g stamp\n"
      "wait-file \"" +
      go_lv1 + "\" 120000\n" + "timed-gain g " + std::to_string(kLv1Channel) + " 10 20 " +
      std::to_string(o.samples) + " " + std::to_string(kGapMs) + "\n" + "wait-file \"" + go_calls +
      "\" " + std::to_string(600000 + o.samples * 200) + "\n" + "timed-gain g " +
      std::to_string(kLv1Channel) + " 10 20 " + std::to_string(o.calls) + " 1\n" + "wait-file \"" +
      go_stall + "\" 600000\n" + "timed-gain g " + std::to_string(kLv1Channel) + " 12 22 " +
      std::to_string(o.calls) + " 1\n" + "wait-file \"" + go_idle + "\" 600000\n" + "idle " +
      std::to_string(o.idle_s * 1000) + "\n" + "wait-file \"" + go_end +
      "\" 60000\n"
      "release b\n";
  std::atomic<bool> lv1_ended{false};
  sim::RunResult run;
  std::thread lv1([&] {
    run = s.run(script, uint32_t(900000 + o.samples * 300 + o.calls * 40 + o.idle_s * 1000));
    lv1_ended = true;
  });
  auto journal = [&] { return sim::read_text(journal_path); };
  auto module_log = [&] { return s.log(1); };
  // The run cannot go on: say why, end the stand-in and leave.
  auto give_up = [&](const std::string& why) {
    std::printf("wing_latency_bench: %s - no figures (the run's files: %s)\n", why.c_str(),
                case_folder.c_str());
    end_stand_in();
    lv1.join();
    answers.stop();
    desk.stop();
    return 1;
  };

  std::printf(
      "WING end to end: the LV1 stand-in (lv1sim.exe) -> Kestrune.dll -> signed Fellbrook "
      "(modules\\wing-%s.dll) -> WING simulator on 127.0.0.1:2222\n",
      KS_E2E_VERSION);
  const std::string loaded = std::string("[loader] wing module ") + KS_E2E_VERSION + " loaded from";
  if (!wait_until([&] { return desk.connections() >= 1 || lv1_ended; }, 60000) ||
      desk.connections() < 1)
    return give_up(module_log().find(loaded) == std::string::npos
                       ? "the module was not loaded"
                       : "the module never connected to the desk");
  if (!wait_until(
          [&] { return module_log().find("[bridge] seeded ") != std::string::npos || lv1_ended; },
          30000) ||
      lv1_ended)
    return give_up("LV1 was never seeded from the desk");
  std::printf("connected and seeded; %d samples each way\n\n", o.samples);

  // LV1 -> desk: each gain_set, stamped by the stand-in, to the simulator's record of the write.
  std::vector<Receipt> receipts;
  std::atomic<bool> waiting{false};
  std::thread observer([&] {
    waiting = true;
    receipts = observe_writes(desk, kLv1Path, o.samples);
  });
  while (!waiting) Sleep(1);
  const int64_t go_at = qpc();
  write_file(go_lv1, "");
  observer.join();
  std::vector<std::string> calls;
  wait_until(
      [&] {
        calls = lines_with(journal(), "timed-gain n=");
        return calls.size() >= receipts.size() || lv1_ended;
      },
      5000);
  long long lv1_freq = 0;
  for (const std::string& l : lines_with(journal(), "timed-gain g "))
    if (const char* f = std::strstr(l.c_str(), "freq=")) lv1_freq = std::atoll(f + 5);

  std::vector<double> to_desk, call_ms;
  int late = 0;
  std::string pairing;
  int64_t first_call = 0;
  double sim_lag_min = 1e9, sim_lag_max = -1e9;  // our receipt stamp minus the simulator's own, ms
  for (size_t i = 0; i < receipts.size() && i < calls.size(); ++i) {
    long n = -1;
    double db = 0;
    long long at = 0;
    double call_us = 0;
    if (std::sscanf(calls[i].c_str(), "timed-gain n=%ld db=%lf qpc=%lld call_us=%lf", &n, &db, &at,
                    &call_us) != 4 ||
        n != long(i) || std::fabs(db - receipts[i].db) > 0.01) {
      pairing = "the desk's write " + std::to_string(i) + " does not match LV1's call " +
                std::to_string(i);
      break;
    }
    if (i == 0) first_call = at;
    const double sim_lag = double(receipts[i].at) * g_tick_ms - double(receipts[i].sim_ms);
    sim_lag_min = std::min(sim_lag_min, sim_lag);
    sim_lag_max = std::max(sim_lag_max, sim_lag);
    call_ms.push_back(call_us / 1000.0);
    if (receipts[i].late) {
      ++late;
      continue;
    }
    to_desk.push_back(ms_between(at, receipts[i].at));
  }
  if (receipts.size() < size_t(o.samples) && pairing.empty())
    pairing = "the desk received " + std::to_string(receipts.size()) + " of " +
              std::to_string(o.samples) + " writes";

  // desk -> LV1: a move at the desk, stamped just before the simulator pushes it, to the stand-in's
  // callback. The callback carries its own stamp, so the journal is read only now and then (every
  // read is load on Wine's server, which the path under test also uses). The spacing varies so
  // the pushes fall at every phase of the watcher's period.
  std::vector<double> to_lv1;
  std::string missed;
  size_t scanned = 0;
  for (int i = 0; i < o.samples && missed.empty(); ++i) {
    const double db = i % 2 ? 31.0 : 30.0;
    char want[64];
    std::snprintf(want, sizeof want, "%s%.2f qpc=", kCallback, db);
    const int64_t at = qpc();
    desk.set(kDeskPath, SimValue::of_float(db));
    long long seen = 0;
    Sleep(DWORD(2 * kWatcherPeriodMs + 5));
    wait_until(
        [&] {
          const std::string text = journal();
          for (const std::string& l : lines_with(text.substr(std::min(scanned, text.size())), want))
            seen = std::atoll(l.c_str() + std::strlen(want));
          if (seen) scanned = text.size();
          return seen != 0 || lv1_ended;
        },
        3000, 10);
    if (!seen) {
      missed = "the desk's move " + std::to_string(i) + " never reached LV1's callback";
      break;
    }
    to_lv1.push_back(ms_between(at, seen));
    Sleep(DWORD((i * 7) % 23));
  }

  std::string floor_error, plain_error;
  const std::vector<double> floor = loopback_floor(o.samples, 5, &floor_error);
  const std::vector<double> plain = plain_to_desk(desk, o.samples, &plain_error);

  // What one gain_set costs LV1's thread: against the healthy desk, then against one that reads
  // nothing (its socket fills after a few hundred writes), then how long LV1's last value takes
  // to reach the desk once it reads again.
  const size_t call0 = lines_with(journal(), "timed-gain n=").size();
  auto calls_done = [&](size_t n) {
    return wait_until(
        [&] { return lines_with(journal(), "timed-gain n=").size() >= n || lv1_ended; },
        60000 + o.calls * 40, 20);
  };
  write_file(go_calls, "");
  calls_done(call0 + size_t(o.calls));
  desk.update_faults([](sim::SimFaults& f) { f.stall = true; });
  write_file(go_stall, "");
  calls_done(call0 + 2 * size_t(o.calls));
  const int64_t thawed = qpc();
  desk.update_faults([](sim::SimFaults& f) { f.stall = false; });
  const std::vector<std::string> all_calls = lines_with(journal(), "timed-gain n=");
  const CallFigures healthy = call_figures(call_ms_of(all_calls, call0, call0 + size_t(o.calls)));
  const CallFigures stalled =
      call_figures(call_ms_of(all_calls, call0 + size_t(o.calls), call0 + 2 * size_t(o.calls)));
  double last_db = 0;
  if (!all_calls.empty())
    if (const char* d = std::strstr(all_calls.back().c_str(), "db=")) last_db = std::atof(d + 3);
  double reached_ms = -1;
  if (wait_until(
          [&] {
            SimValue v;
            return desk.get(kLv1Path, &v) && v.number == last_db;
          },
          20000))
    reached_ms = ms_between(thawed, qpc());
  const std::string mlog = module_log();
  int deferrals = 0;
  for (size_t at = mlog.find("deferred, sent at the next pass"); at != std::string::npos;
       at = mlog.find("deferred, sent at the next pass", at + 1))
    ++deferrals;
  const bool link_dropped = mlog.find("failed or timed out, dropping") != std::string::npos;

  // Connected and idle: the stand-in measures its own CPU time over the interval.
  const uint32_t frames_before = desk.meters().frames_sent();
  write_file(go_idle, "");
  std::printf("measuring the idle stand-in for %d s ...\n", o.idle_s);
  std::string idle_line;
  wait_until(
      [&] {
        std::vector<std::string> l = lines_with(journal(), "idle ms=");
        if (!l.empty()) idle_line = l.front();
        return !idle_line.empty() || lv1_ended;
      },
      o.idle_s * 1000 + 30000, 500);
  const uint32_t meter_frames = desk.meters().frames_sent() - frames_before;
  const bool still_connected = desk.connections() >= 1;
  write_file(go_end, "");
  lv1.join();
  answers.stop();
  desk.stop();

  const Figures fl = figures(floor), sim_share = figures(plain), up = figures(to_desk),
                down = figures(to_lv1), call = figures(call_ms);
  std::printf("\n  %-58s %7s %12s %12s\n", "gain move latency", "samples", "median", "p99");
  print_row("floor: raw loopback TCP send of the write frame", fl);
  print_row("the same frame from a plain socket to the simulator", sim_share);
  print_row("LV1 -> desk: gain_set to the simulator holding the write", up);
  print_row("desk -> LV1: simulator push to the gain-changed callback", down);
  std::printf("\n  the write frame is %u bytes, as Fellbrook sends it for a gain;\n",
              gain_frame(2, 10.0).fill);
  std::printf(
      "  the simulator holds a write when its record of it wakes a thread of ours, the same way in both\n"
      "  rows that reach it; writes %d ms apart\n",
      kGapMs);
  if (up.n && sim_share.n) {
    const double added = up.median - sim_share.median;
    std::printf(
        "  LV1 -> desk minus the plain socket (median): %+.3f ms, what the stand-in's process, the loader and\n"
        "  Fellbrook add%s\n",
        added, added <= 0 ? ": nothing measurable beyond the simulator's own handling" : "");
  }
  if (call.n)
    std::printf(
        "  LV1's gain_set call returns after %.3f ms (median), %.3f ms (p99): Fellbrook sends on LV1's thread\n",
        call.median, call.p99);
  if (down.n)
    std::printf(
        "  desk -> LV1 waits for the module's watcher, which passes every %.0f ms: median %.2f periods, "
        "p99 %.2f periods\n  (from the period alone a push waits half a period on average, at most one)\n",
        kWatcherPeriodMs, down.median / kWatcherPeriodMs, down.p99 / kWatcherPeriodMs);
  if (late)
    std::printf("  %d LV1 -> desk receipt(s) were seen late by the observer and left out\n", late);
  for (const std::string* e : {&pairing, &missed, &floor_error, &plain_error})
    if (!e->empty()) std::printf("  incomplete: %s\n", e->c_str());

  // One clock: with every stand-in stamp after its cause and before its effect here, the stand-in's
  // clock can be behind ours by at most the fastest LV1 -> desk sample, ahead by the fastest
  // desk -> LV1 one.
  const bool ordered = first_call >= go_at && up.n && down.n && up.min > 0 && down.min > 0;
  std::printf("\nclocks: the stand-in stamps with QPC at %.1f MHz, this process at %.1f MHz; ",
              double(lv1_freq) / 1e6, double(freq.QuadPart) / 1e6);
  if (ordered)
    std::printf(
        "every stand-in stamp lies between\n  its cause and its effect here, so the stand-in's clock reads "
        "within -%.3f .. +%.3f ms of ours\n",
        up.min, down.min);
  else
    std::printf(
        "the stamps are NOT in causal order:\n  the two processes' clocks cannot be compared, so the "
        "latency figures above are not sound\n");
  if (sim_lag_min <= sim_lag_max)
    std::printf(
        "  the simulator's own record stamps (steady clock, whole ms) lie %.3f .. %.3f ms before ours\n",
        sim_lag_min, sim_lag_max);

  std::printf("\n  %-58s %7s %12s %12s %12s\n", "LV1's gain_set call (LV1's thread)", "calls",
              "median", "p99.9", "worst");
  for (auto [what, f] :
       {std::pair<const char*, CallFigures>{"desk healthy", healthy},
        std::pair<const char*, CallFigures>{"desk stopped reading its socket", stalled}})
    std::printf("  %-58s %7zu %9.3f ms %9.3f ms %9.3f ms\n", what, f.n, f.median, f.p999, f.worst);
  std::printf("  calls 1 ms apart; while stalled the module logged %d deferral(s)%s\n", deferrals,
              link_dropped ? " and dropped the link after a send timed out" : "");
  if (reached_ms >= 0)
    std::printf("  LV1's last value (%.1f dB) was at the desk %.1f ms after it read again\n",
                last_db, reached_ms);
  else
    std::printf("  LV1's last value (%.1f dB) never reached the desk after it read again\n",
                last_db);

  double wall_ms = 0, cpu_ms = 0;
  if (std::sscanf(idle_line.c_str(), "idle ms=%*d wall_ms=%lf cpu_ms=%lf", &wall_ms, &cpu_ms) ==
          2 &&
      wall_ms > 0) {
    std::printf(
        "\nCPU time of the whole LV1 stand-in process (lv1sim.exe with Kestrune.dll, Fellbrook and Waves'\n"
        "stand-in), connected and idle for %.1f s%s: %.1f ms, that is %.1f ms per minute (%.3f %% of one core)\n",
        wall_ms / 1000.0, meter_frames ? ", meters streaming" : "", cpu_ms,
        cpu_ms * 60000.0 / wall_ms, 100.0 * cpu_ms / wall_ms);
    if (!still_connected) std::printf("  the desk link was down by the end of the interval\n");
  } else {
    std::printf("\nCPU time while idle: not measured (%s)\n",
                idle_line.empty() ? "the stand-in did not report it" : idle_line.c_str());
  }
  if (!run.finished())
    std::printf("\nthe stand-in did not finish its script (exit code %lu%s)\n",
                static_cast<unsigned long>(run.exit_code), run.timed_out ? ", timed out" : "");
  if (!fl.n || !sim_share.n || !up.n || !down.n || cpu_ms <= 0) {
    std::printf("wing_latency_bench: a measurement could not be made at all - see above\n");
    return 1;
  }
  return 0;
}
