// Stand-in for eMotion LV1: loads an I/O module (Kestrune.dll) from its bundle folder, drives it
// as LV1 does, and writes every call it makes and every callback it receives to a journal, one
// line each: "<ms since start> t<thread id> <what>". Waves' stand-in writes into the same journal
// through the exported sim_journal, so one file shows the whole conversation in order.
//
//   lv1sim.exe <journal file> <script file>
//
// The script has one command a line ('#' starts a comment; "quoted words" may hold blanks). The
// commands, their arguments and what each does are the table kCommands near the end of this
// file; a missing argument reads as an empty word. A line that fails, or names no command, ends
// the run with an error in the journal. The journal ends with "done" when the whole script ran.
#include <windows.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "loader/log_rules.h"
#include "sim/lv1/script_text.h"

namespace {

using ks::sim::script_escaped;
using ks::sim::script_unescaped;

using u64 = uint64_t;
using Slot = void (*)();

CRITICAL_SECTION g_journal_lock;
FILE* g_journal = nullptr;
bool g_journal_ended = false;  // the run's last line is written: later calls are not recorded
LARGE_INTEGER g_start, g_freq;

void journal_line(const char* text) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const double ms = double(now.QuadPart - g_start.QuadPart) * 1000.0 / double(g_freq.QuadPart);
  EnterCriticalSection(&g_journal_lock);
  if (!g_journal_ended) {
    std::fprintf(g_journal, "%.1f t%lu %s\n", ms, GetCurrentThreadId(), text);
    std::fflush(g_journal);
  }
  LeaveCriticalSection(&g_journal_lock);
}

// The run's last line; the journal records nothing after it, as LV1's end would cut it off.
void journal_end(const char* text) {
  journal_line(text);
  EnterCriticalSection(&g_journal_lock);
  g_journal_ended = true;
  LeaveCriticalSection(&g_journal_lock);
}

void journal(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void journal(const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  journal_line(text);
}

// Wine ends the other threads of a process while they run; one ended between asking the server
// for a file's descriptor and taking it leaves that descriptor to the next thread that asks, and
// that thread aborts (a fault of Wine's: on Windows the other threads are gone first). The
// loader's log thread opens its files as their first lines come, so the stand-in ends only once
// the loader's logs have held still for a moment, and never waits more than three seconds.
void let_the_loader_logs_settle() {
  char temp[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n >= sizeof temp) return;
  const std::string folder(temp, n);
  auto sizes = [&folder] {
    std::string all;
    for (int channel = 0; channel < ks::kLogChannels; ++channel) {
      const std::string file = folder + ks::log_file_name(channel, false);
      WIN32_FILE_ATTRIBUTE_DATA d;
      if (GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &d))
        all += std::to_string(d.nFileSizeLow) + ",";
      else
        all += "-,";
    }
    return all;
  };
  std::string last = sizes();
  for (int polls = 0, still = 0; still < 4 && polls < 120; ++polls) {
    Sleep(25);
    const std::string now = sizes();
    still = now == last ? still + 1 : 0;
    last = now;
  }
}

std::string mac_text(const uint8_t* mac) {
  if (!mac) return "(null)";
  char b[24];
  std::snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return b;
}

// ---- LV1's objects ----

enum class Kind { plain, fault, raise, stamp };

Kind parse_kind(const std::string& s) {
  return s == "fault"   ? Kind::fault
         : s == "raise" ? Kind::raise
         : s == "stamp" ? Kind::stamp
                        : Kind::plain;
}

// Absolute QPC ticks: under Wine the host's monotonic clock, the same in every process, so
// another process can pair these stamps with its own.
long long qpc_now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

volatile int* volatile g_null = nullptr;

void misbehave(Kind k) {
  if (k == Kind::fault) *g_null = 1;
  if (k == Kind::raise) RaiseException(0xE06D7363, 0, 0, nullptr);
}

struct Listener {
  Slot slot[6];
  Kind kind;
  std::string name;
};

void trap_slot(void* self) { journal("unexpected call into an LV1 object %p", self); }

void listener_identify(Listener* l, const uint8_t* mac, uint8_t on) {
  journal("listener %s identify mac=%s on=%u", l->name.c_str(), mac_text(mac).c_str(), on);
  misbehave(l->kind);
}
void listener_state(Listener* l, const uint8_t* mac) {
  journal("listener %s device_state_changed mac=%s", l->name.c_str(), mac_text(mac).c_str());
  misbehave(l->kind);
  journal("listener %s device_state_changed returned", l->name.c_str());
}
void listener_channel_type(Listener* l, const uint8_t* mac) {
  journal("listener %s channel_type_state_changed mac=%s", l->name.c_str(), mac_text(mac).c_str());
  misbehave(l->kind);
}

struct Host {
  Slot slot[3];
  Kind kind;
  std::string name;
};

void host_rebuild_strip(Host* h, const uint8_t* mac, int32_t ch, int32_t zero) {
  journal("host %s rebuild_strip mac=%s ch=%d zero=%d", h->name.c_str(), mac_text(mac).c_str(), ch,
          zero);
  misbehave(h->kind);
}

struct Callback {
  Slot slot[2];
  Kind kind;
  std::string name;
};

void cb_gain_changed(Callback* c, const uint8_t* mac, int32_t ch, double db) {
  char stamp[40] = "";
  if (c->kind == Kind::stamp) std::snprintf(stamp, sizeof stamp, " qpc=%lld", qpc_now());
  journal("callback %s gain_changed mac=%s ch=%d db=%.2f%s", c->name.c_str(), mac_text(mac).c_str(),
          ch, db, stamp);
  misbehave(c->kind);
}
void cb_phantom_changed(Callback* c, const uint8_t* mac, int32_t ch, uint32_t on) {
  journal("callback %s phantom_changed mac=%s ch=%d on=%u", c->name.c_str(), mac_text(mac).c_str(),
          ch, on);
  misbehave(c->kind);
}

std::string escaped(const char* text) {
  return text ? script_escaped(text) : std::string("(null)");
}

struct Sink {
  Slot slot[1];
};
void sink_put(Sink*, const char* text) { journal("sink put [%s]", escaped(text).c_str()); }

struct DecodeSink {
  Slot slot[2];
};
void decode_gain(DecodeSink*, const uint8_t* mac, int32_t ch, double db) {
  journal("decode-sink gain mac=%s ch=%d db=%.2f", mac_text(mac).c_str(), ch, db);
}
void decode_phantom(DecodeSink*, const uint8_t* mac, int32_t ch, uint32_t on) {
  journal("decode-sink 48v mac=%s ch=%d on=%u", mac_text(mac).c_str(), ch, on);
}

// ---- the script ----

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size() || line[i] == '#') break;
    std::string w;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) end = line.size();
      w = line.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
        w += line[i++];
    }
    out.push_back(w);
  }
  return out;
}

bool parse_hex(const std::string& s, uint8_t* out, size_t n) {
  if (s.size() != 2 * n) return false;
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(std::strtoul(s.substr(2 * i, 2).c_str(), nullptr, 16));
  return true;
}

double parse_db(const std::string& s) {
  if (s == "nan") return NAN;
  if (s == "inf") return INFINITY;
  if (s == "-inf") return -INFINITY;
  return std::strtod(s.c_str(), nullptr);
}

// A committed page that is then decommitted: a pointer LV1 might hand over after freeing.
const void* unreadable_pointer() {
  void* p = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  VirtualFree(p, 4096, MEM_DECOMMIT);
  return p;
}

template <class Fn>
Fn slot(void* obj, int k) {
  return reinterpret_cast<Fn>(static_cast<Slot*>(obj)[k]);
}

struct Sim {
  HMODULE module = nullptr;
  void* iface = nullptr;
  std::map<std::string, void*> boxes;
  std::map<std::string, void*> objects;
  std::vector<HANDLE> side_threads;  // "async" commands still running

  void* find(std::map<std::string, void*>& m, const std::string& name) {
    auto it = m.find(name);
    if (it == m.end()) {
      journal("error: no object named %s", name.c_str());
      return nullptr;
    }
    return it->second;
  }
};

// One script line as a command sees it: its words ([0] the command) and what the first argument
// named, looked up before the command runs.
struct Line {
  const std::vector<std::string>& words;
  void* target = nullptr;  // the box or object of the first argument, or the module interface

  const std::string& operator[](size_t i) const {
    static const std::string none;
    return i < words.size() ? words[i] : none;
  }
};

bool run_command(Sim& sim, const std::vector<std::string>& words);

// ---- the commands (listed in kCommands below) ----

bool cmd_env(Sim&, const Line& a) {
  SetEnvironmentVariableA(a[1].c_str(), a[2].c_str());
  return true;
}

bool cmd_load(Sim& sim, const Line& a) {
  std::wstring path(a[1].begin(), a[1].end());
  sim.module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  journal("load %s -> %s (error %lu)", a[1].c_str(), sim.module ? "loaded" : "failed",
          sim.module ? 0 : GetLastError());
  return sim.module != nullptr;
}

bool cmd_factory(Sim& sim, const Line& a) {
  using Factory = void* (*)(const char*);
  Factory f = sim.module ? reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(
                               sim.module, "create_waves_iobox_module_interface_ver9")))
                         : nullptr;
  if (!f) {
    journal("factory: no export");
    return false;
  }
  std::string long_arg;
  const char* p = a[1].c_str();
  if (a[1] == "-null") p = nullptr;
  if (a[1] == "-unreadable") p = static_cast<const char*>(unreadable_pointer());
  if (a[1] == "-long") {
    long_arg = "C:\\" + std::string(5000, 'x') + "\\Kestrune.bundle";
    p = long_arg.c_str();
  }
  void* r = f(p);
  journal("factory -> %p", r);
  if (r) sim.iface = r;
  return true;
}

bool cmd_version(Sim&, const Line& a) {
  journal("module_version -> %llx",
          (unsigned long long)slot<u64 (*)(void*)>(a.target, 1)(a.target));
  return true;
}

bool cmd_op0(Sim&, const Line& a) {
  journal("op0 -> %llx", (unsigned long long)slot<u64 (*)(void*)>(a.target, 0)(a.target));
  return true;
}

bool cmd_op2(Sim&, const Line& a) {
  u64 v = std::strtoull(a[1].c_str(), nullptr, 16);
  journal("op2 %llx -> %llx", (unsigned long long)v,
          (unsigned long long)slot<u64 (*)(void*, u64)>(a.target, 2)(a.target, v));
  return true;
}

bool cmd_box(Sim& sim, const Line& a) {
  using Create = void* (*)(void*, uint32_t, uint32_t);
  uint32_t vendor = std::strtoul(a[2].c_str(), nullptr, 10),
           product = std::strtoul(a[3].c_str(), nullptr, 10);
  void* b = slot<Create>(a.target, 3)(a.target, vendor, product);
  journal("box %s %u,%u -> %p", a[1].c_str(), vendor, product, b);
  if (b) sim.boxes[a[1]] = b;
  return true;
}

bool cmd_listener(Sim&, const Line& a) {
  Listener* l = new Listener{};
  for (Slot& s : l->slot) s = reinterpret_cast<Slot>(&trap_slot);
  l->slot[3] = reinterpret_cast<Slot>(&listener_identify);
  l->slot[4] = reinterpret_cast<Slot>(&listener_state);
  l->slot[5] = reinterpret_cast<Slot>(&listener_channel_type);
  l->kind = parse_kind(a[2]);
  l->name = a[1];
  using Set = u64 (*)(void*, void*, u64, double);
  u64 r = slot<Set>(a.target, 6)(a.target, l, 0xABCDEF0123ull, 2.5);
  journal("listener %s set %p -> %llx", a[1].c_str(), (void*)l, (unsigned long long)r);
  return true;
}

bool cmd_query(Sim& sim, const Line& a) {
  using Query = void* (*)(void*, const char*);
  const char* name =
      a[2] == "-unreadable" ? static_cast<const char*>(unreadable_pointer()) : a[2].c_str();
  void* r = slot<Query>(a.target, 34)(a.target, name);
  journal("query %s %s -> %p", a[1].c_str(), a[2].c_str(), r);
  if (r && !a[3].empty()) sim.objects[a[3]] = r;
  return true;
}

bool cmd_host(Sim&, const Line& a) {
  Host* h = new Host{};
  for (Slot& s : h->slot) s = reinterpret_cast<Slot>(&trap_slot);
  h->slot[2] = reinterpret_cast<Slot>(&host_rebuild_strip);
  h->kind = parse_kind(a[2]);
  h->name = a[1];
  slot<void (*)(void*, void*)>(a.target, 14)(a.target, h);
  journal("host %s set %p", a[1].c_str(), (void*)h);
  return true;
}

// set_mac, set_status and device_up: slot `k` of the box with a block of bytes that the command's
// second argument fills (or "-null", "-unreadable" in its place).
enum class Block { mac, status, device };

bool device_block(const Line& a, Block kind, int k) {
  static uint8_t bytes[1292];
  std::memset(bytes, 0, sizeof bytes);
  const void* p = bytes;
  if (a[2] == "-null")
    p = nullptr;
  else if (a[2] == "-unreadable")
    p = unreadable_pointer();
  else if (kind == Block::mac)
    parse_hex(a[2], bytes, 6);
  else if (kind == Block::status)
    parse_hex(a[2], bytes, 16);
  else {
    const uint8_t fw[6] = {2, 1, 0, 1, 4, 7};
    std::memcpy(bytes, fw, 6);
    std::snprintf(reinterpret_cast<char*>(bytes + 6), 64, "%s", a[2].c_str());
    uint32_t own = std::strtoul(a[3].c_str(), nullptr, 10);
    std::memcpy(bytes + 1288, &own, 4);
  }
  u64 r = slot<u64 (*)(void*, const void*)>(a.target, k)(a.target, p);
  journal("%s %s -> %llx", a[0].c_str(), a[1].c_str(), (unsigned long long)r);
  return true;
}

bool cmd_mac(Sim&, const Line& a) { return device_block(a, Block::mac, 14); }
bool cmd_status(Sim&, const Line& a) { return device_block(a, Block::status, 8); }
bool cmd_up(Sim&, const Line& a) { return device_block(a, Block::device, 10); }

bool cmd_callback(Sim&, const Line& a) {
  Callback* c = nullptr;
  if (a[2] != "-") {
    c = new Callback{};
    c->slot[0] = reinterpret_cast<Slot>(&cb_gain_changed);
    c->slot[1] = reinterpret_cast<Slot>(&cb_phantom_changed);
    c->kind = parse_kind(a[2]);
    c->name = a[1];
  }
  slot<void (*)(void*, void*)>(a.target, 25)(a.target, c);
  journal("callback %s set %p", a[1].c_str(), (void*)c);
  return true;
}

bool cmd_gain(Sim&, const Line& a) {
  int32_t ch = std::strtol(a[2].c_str(), nullptr, 10);
  // Stamped as the call starts: the loader's 400 ms notice delay runs from the move, not from the
  // moment LV1's call returned.
  journal("gain %s ch=%d %s", a[1].c_str(), ch, a[3].c_str());
  slot<void (*)(void*, int32_t, double)>(a.target, 5)(a.target, ch, parse_db(a[3]));
  return true;
}

// Two threads of LV1 call gain_set back to back for MS milliseconds; the slowest call shows
// whether LV1 ever waited on the loader.
bool cmd_storm(Sim&, const Line& a) {
  struct Storm {
    void* obj;
    LONGLONG end;
    double worst_ms = 0;
    long calls = 0;
  } st[2] = {{a.target, 0}, {a.target, 0}};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  for (Storm& x : st)
    x.end = now.QuadPart + std::strtoll(a[2].c_str(), nullptr, 10) * g_freq.QuadPart / 1000;
  // A test that drives the storm for as long as its own steps take names an event that ends it.
  HANDLE stop = a[3].empty() ? nullptr : OpenEventA(SYNCHRONIZE, FALSE, a[3].c_str());
  auto run = [](void* p) -> DWORD {
    Storm* x = static_cast<Storm*>(p);
    LARGE_INTEGER t0, t1;
    for (long i = 0;; ++i) {
      QueryPerformanceCounter(&t0);
      if (t0.QuadPart >= InterlockedCompareExchange64(&x->end, 0, 0)) break;
      slot<void (*)(void*, int32_t, double)>(x->obj, 5)(x->obj, int32_t(i % 8),
                                                        double(i % 600) / 10.0);
      QueryPerformanceCounter(&t1);
      const double ms = double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(g_freq.QuadPart);
      if (ms > x->worst_ms) x->worst_ms = ms;
      ++x->calls;
      Sleep(1);
    }
    return 0;
  };
  HANDLE h[2];
  for (int k = 0; k < 2; ++k) h[k] = CreateThread(nullptr, 0, run, &st[k], 0, nullptr);
  if (stop) {
    HANDLE both[3] = {h[0], h[1], stop};
    if (WaitForMultipleObjects(3, both, FALSE, INFINITE) == WAIT_OBJECT_0 + 2)
      for (Storm& x : st) InterlockedExchange64(&x.end, 0);
    CloseHandle(stop);
  }
  WaitForMultipleObjects(2, h, TRUE, INFINITE);
  for (HANDLE x : h) CloseHandle(x);
  journal("storm %s calls=%ld worst=%.3f ms", a[1].c_str(), st[0].calls + st[1].calls,
          st[0].worst_ms > st[1].worst_ms ? st[0].worst_ms : st[1].worst_ms);
  return true;
}

bool cmd_timed_gain(Sim&, const Line& a) {
  void* o = a.target;
  const int32_t ch = std::strtol(a[2].c_str(), nullptr, 10);
  const double db_a = parse_db(a[3]), db_b = parse_db(a[4]);
  const long n = std::strtol(a[5].c_str(), nullptr, 10);
  const DWORD gap = std::strtoul(a[6].c_str(), nullptr, 10);
  journal("timed-gain %s ch=%d count=%ld gap=%lu freq=%lld", a[1].c_str(), ch, n, gap,
          g_freq.QuadPart);
  for (long i = 0; i < n; ++i) {
    const double db = i % 2 ? db_b : db_a;  // alternate, so no call repeats the cached value
    const long long at = qpc_now();
    slot<void (*)(void*, int32_t, double)>(o, 5)(o, ch, db);
    const long long back = qpc_now();
    journal("timed-gain n=%ld db=%.2f qpc=%lld call_us=%.1f", i, db, at,
            double(back - at) * 1e6 / double(g_freq.QuadPart));
    Sleep(gap);
  }
  return true;
}

bool cmd_idle(Sim&, const Line& a) {
  auto cpu_100ns = [] {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1.0;
    auto ticks = [](const FILETIME& f) {
      return double((u64(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    return ticks(kernel) + ticks(user);
  };
  const DWORD ms = std::strtoul(a[1].c_str(), nullptr, 10);
  const double cpu0 = cpu_100ns();
  const long long t0 = qpc_now();
  Sleep(ms);
  const double cpu1 = cpu_100ns();
  const long long t1 = qpc_now();
  if (cpu0 < 0 || cpu1 < 0) {
    journal("idle ms=%lu: GetProcessTimes failed (error %lu)", ms, GetLastError());
    return false;
  }
  journal("idle ms=%lu wall_ms=%.1f cpu_ms=%.1f", ms,
          double(t1 - t0) * 1000.0 / double(g_freq.QuadPart), (cpu1 - cpu0) / 1e4);
  return true;
}

bool cmd_phantom(Sim&, const Line& a) {
  uint32_t ch = std::strtoul(a[2].c_str(), nullptr, 10);
  uint8_t on = static_cast<uint8_t>(std::strtoul(a[3].c_str(), nullptr, 10));
  slot<void (*)(void*, uint32_t, uint8_t)>(a.target, 8)(a.target, ch, on);
  journal("phantom %s ch=%u %u", a[1].c_str(), ch, on);
  return true;
}

bool cmd_read(Sim&, const Line& a) {
  void* o = a.target;
  uint32_t ch = std::strtoul(a[2].c_str(), nullptr, 10);
  using B = bool (*)(void*, uint32_t);
  using D = double (*)(void*, uint32_t);
  journal("read %s ch=%u gain=%.2f 48v=%d preamp=%d has48v=%d min=%.2f max=%.2f step=%.2f",
          a[1].c_str(), ch, slot<D>(o, 6)(o, ch), slot<B>(o, 9)(o, ch), slot<B>(o, 1)(o, ch),
          slot<B>(o, 7)(o, ch), slot<D>(o, 2)(o, ch), slot<D>(o, 3)(o, ch), slot<D>(o, 4)(o, ch));
  return true;
}

bool cmd_forward(Sim&, const Line& line) {
  void* box = line.target;
  using Even = u64 (*)(void*, u64, double, u64, u64, double, u64);
  using Odd = double (*)(void*, double, u64, double, double, u64, double);
  for (int k = 1; k < 34; ++k) {
    if (k == 6 || k == 8 || k == 10 || k == 12 || k == 13 || k == 14) continue;
    const u64 base = 0x1000000000ull * static_cast<u64>(k);
    if (k % 2 == 0) {
      u64 a = base + 1, c = base + 3, d = base + 4, f = base + 6;
      double b = k + 0.25, e = -k - 0.125;
      u64 r = slot<Even>(box, k)(box, a, b, c, d, e, f);
      journal("lv1 slot %d a=%llx b=%.17g c=%llx d=%llx e=%.17g f=%llx -> %llx", k,
              (unsigned long long)a, b, (unsigned long long)c, (unsigned long long)d, e,
              (unsigned long long)f, (unsigned long long)r);
    } else {
      double a = k * 1.5, c = k * 2.75, d = -k * 0.5, f = k + 0.0625;
      u64 b = base + 2, e = base + 5;
      double r = slot<Odd>(box, k)(box, a, b, c, d, e, f);
      journal("lv1 slot %d a=%.17g b=%llx c=%.17g d=%.17g e=%llx f=%.17g -> %.17g", k, a,
              (unsigned long long)b, c, d, (unsigned long long)e, f, r);
    }
  }
  return true;
}

bool cmd_chunk_get(Sim&, const Line& a) {
  Sink sink{{reinterpret_cast<Slot>(&sink_put)}};
  u64 r = slot<u64 (*)(void*, void*)>(a.target, 13)(a.target, &sink);
  journal("chunk-get %s -> %llx", a[1].c_str(), (unsigned long long)r);
  return true;
}

bool cmd_chunk_set(Sim&, const Line& a) {
  std::string text = script_unescaped(a[2]);
  const char* p =
      a[2] == "-unreadable" ? static_cast<const char*>(unreadable_pointer()) : text.c_str();
  u64 r = slot<u64 (*)(void*, const char*)>(a.target, 12)(a.target, p);
  journal("chunk-set %s -> %llx", a[1].c_str(), (unsigned long long)r);
  return true;
}

bool cmd_decode(Sim&, const Line& a) {
  std::string text = script_unescaped(a[2]);
  DecodeSink sink{{reinterpret_cast<Slot>(&decode_gain), reinterpret_cast<Slot>(&decode_phantom)}};
  if (a[3] == "half") sink.slot[1] = nullptr;
  u64 r = slot<u64 (*)(void*, const char*, void*, int64_t)>(a.target, 1)(a.target, text.c_str(),
                                                                         &sink, 7);
  journal("decode %s -> %llx", a[1].c_str(), (unsigned long long)r);
  return true;
}

bool cmd_scene(Sim&, const Line& a) {
  const std::string& channels = a[2];
  std::vector<uint32_t> list;
  for (size_t at = 0; channels != "-null" && at < channels.size();) {
    list.push_back(static_cast<uint32_t>(std::strtoul(channels.c_str() + at, nullptr, 10)));
    size_t comma = channels.find(',', at);
    at = comma == std::string::npos ? channels.size() : comma + 1;
  }
  uint32_t count = static_cast<uint32_t>(std::strtoul(a[3].c_str(), nullptr, 10));
  std::string text = script_unescaped(a[4]);
  using Recall = u64 (*)(void*, const uint32_t*, uint32_t, u64, u64, const char*);
  u64 r = slot<Recall>(a.target, 1)(a.target, channels == "-null" ? nullptr : list.data(), count,
                                    0x11, 0x22, text.c_str());
  journal("scene %s -> %llx", a[1].c_str(), (unsigned long long)r);
  return true;
}

bool cmd_release(Sim&, const Line& a) {
  u64 r = slot<u64 (*)(void*)>(a.target, 0)(a.target);
  journal("release %s -> %llx", a[1].c_str(), (unsigned long long)r);
  return true;
}

bool cmd_async(Sim& sim, const Line& a) {
  if (a.words.size() < 2) return false;
  struct Job {
    Sim* sim;
    std::vector<std::string> words;
  };
  Job* job = new Job{&sim, std::vector<std::string>(a.words.begin() + 1, a.words.end())};
  HANDLE h = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        Job* j = static_cast<Job*>(p);
        if (!run_command(*j->sim, j->words)) journal("error: async %s failed", j->words[0].c_str());
        delete j;
        return 0;
      },
      job, 0, nullptr);
  if (!h) {
    delete job;
    return false;
  }
  sim.side_threads.push_back(h);
  journal("async %s started", a[1].c_str());
  return true;
}

bool cmd_join(Sim& sim, const Line&) {
  for (HANDLE h : sim.side_threads) {
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
  }
  sim.side_threads.clear();
  journal("joined");
  return true;
}

bool cmd_sleep(Sim&, const Line& a) {
  Sleep(std::strtoul(a[1].c_str(), nullptr, 10));
  return true;
}

bool cmd_wait_file(Sim&, const Line& a) {
  const DWORD limit = std::strtoul(a[2].c_str(), nullptr, 10);
  const DWORD start = GetTickCount();
  bool there = false;
  while (!(there = GetFileAttributesA(a[1].c_str()) != INVALID_FILE_ATTRIBUTES) &&
         GetTickCount() - start < limit)
    Sleep(10);
  journal("wait-file %s -> %s", a[1].c_str(), there ? "there" : "timed out");
  return true;
}

// What a command needs before it runs. A box or an object is the one its first argument names;
// a name nobody gave fails the line with an error in the journal, a missing interface fails it.
enum class Needs { nothing, iface, box, object };

struct Command {
  const char* name;
  const char* args;  // as the script writes them
  Needs needs;
  bool (*run)(Sim& sim, const Line& line);  // false fails the line
};

const Command kCommands[] = {
    // set an environment variable (TEMP, Waves' knobs) before load
    {"env", "NAME VALUE", Needs::nothing, cmd_env},
    // load the I/O module (altered search path, like LV1)
    {"load", "PATH", Needs::nothing, cmd_load},
    // call the factory; ARG "-null" passes null, "-unreadable" a freed page, "-long" a
    // 5000-character path ending in Kestrune.bundle
    {"factory", "ARG", Needs::nothing, cmd_factory},
    // the module interface's operations
    {"version", "", Needs::iface, cmd_version},
    {"op0", "", Needs::iface, cmd_op0},
    {"op2", "HEX", Needs::iface, cmd_op2},
    // create_device_box
    {"box", "NAME VENDOR PRODUCT", Needs::iface, cmd_box},
    // set_listener with a listener that is "plain", "fault" or "raise" in every slot, passing two
    // more arguments LV1 does not document
    {"listener", "BOX KIND", Needs::box, cmd_listener},
    // query_interface; OBJ names the answer for later commands
    {"query", "BOX IFACE [OBJ]", Needs::box, cmd_query},
    // set_host on a ConsoleIO object with a strip host
    {"host", "OBJ [KIND]", Needs::object, cmd_host},
    // set_mac (HEX: 12 hex digits)
    {"mac", "BOX HEX|-null|-unreadable", Needs::box, cmd_mac},
    // set_status (HEX: 32 hex digits)
    {"status", "BOX HEX|-unreadable", Needs::box, cmd_status},
    // device_up
    {"up", "BOX OWNER OWNERSHIP|-unreadable", Needs::box, cmd_up},
    // register a gain-changed callback on a gain object; "-" clears it; KIND "stamp": each call
    // also journals its absolute QPC time (qpc=)
    {"callback", "OBJ [KIND]", Needs::object, cmd_callback},
    // gain_set (DB may be nan, inf, -inf)
    {"gain", "OBJ CH DB", Needs::object, cmd_gain},
    // two threads call gain_set on OBJ for MS ms, or until the named event EVENT (made by the
    // test) is set; journals the slowest call
    {"storm", "OBJ MS [EVENT]", Needs::object, cmd_storm},
    // N gain_set calls on CH, alternately A and B dB, GAP ms apart; journals each call's absolute
    // QPC time (qpc=, taken just before it) and how long LV1's thread spent in it (call_us=)
    {"timed-gain", "OBJ CH A B N GAP", Needs::object, cmd_timed_gain},
    // sleep MS and journal the CPU time the whole process used meanwhile
    {"idle", "MS", Needs::nothing, cmd_idle},
    // phantom_set
    {"phantom", "OBJ CH ON", Needs::object, cmd_phantom},
    // the gain object's read slots
    {"read", "OBJ CH", Needs::object, cmd_read},
    // every forwarded slot with distinct integer, double and stack arguments
    {"forward", "BOX", Needs::box, cmd_forward},
    // get_chunk into a sink that journals what it is given
    {"chunk-get", "BOX", Needs::box, cmd_chunk_get},
    // set_chunk ("\n" in TEXT is a newline; "-unreadable" a freed page)
    {"chunk-set", "BOX TEXT", Needs::box, cmd_chunk_set},
    // a chunk-info object's decode into a sink ("half": no 48 V slot)
    {"decode", "OBJ TEXT [SINK]", Needs::object, cmd_decode},
    // a channels-chunk object's scene recall (LIST "1,5,70" or "-null")
    {"scene", "OBJ LIST COUNT TEXT", Needs::object, cmd_scene},
    {"release", "BOX", Needs::box, cmd_release},
    // runs one command on a thread of its own (a second LV1 thread) while the script goes on;
    // "join" waits for every such thread
    {"async", "COMMAND...", Needs::nothing, cmd_async},
    {"join", "", Needs::nothing, cmd_join},
    {"sleep", "MS", Needs::nothing, cmd_sleep},
    // wait until PATH exists, at most MS (a test's signal to go on)
    {"wait-file", "PATH MS", Needs::nothing, cmd_wait_file},
};

bool run_command(Sim& sim, const std::vector<std::string>& words) {
  const std::string& name = words[0];
  for (const Command& c : kCommands) {
    if (name != c.name) continue;
    Line line{words};
    switch (c.needs) {
      case Needs::nothing: break;
      case Needs::iface: line.target = sim.iface; break;
      case Needs::box: line.target = sim.find(sim.boxes, line[1]); break;
      case Needs::object: line.target = sim.find(sim.objects, line[1]); break;
    }
    if (c.needs != Needs::nothing && !line.target) return false;
    return c.run(sim, line);
  }
  journal("error: unknown command %s", name.c_str());
  return false;
}

}  // namespace

extern "C" __declspec(dllexport) void sim_journal(const char* text) {
  journal_line(text ? text : "(null)");
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: lv1sim <journal> <script>\n");
    return 2;
  }
  InitializeCriticalSection(&g_journal_lock);
  QueryPerformanceFrequency(&g_freq);
  QueryPerformanceCounter(&g_start);
  g_journal = std::fopen(argv[1], "wb");
  if (!g_journal) return 2;
  std::ifstream script(argv[2]);
  if (!script) {
    journal("error: no script %s", argv[2]);
    return 2;
  }
  Sim sim;
  std::string line;
  int n = 0;
  while (std::getline(script, line)) {
    ++n;
    std::vector<std::string> words = split(line);
    if (words.empty()) continue;
    if (!run_command(sim, words)) {
      journal_end(("error: line " + std::to_string(n) + " failed: " + line).c_str());
      let_the_loader_logs_settle();
      return 1;
    }
  }
  journal_end("done");
  let_the_loader_logs_settle();
  // LV1 ends without unloading its modules; the loader's threads go with the process.
  ExitProcess(0);
}
