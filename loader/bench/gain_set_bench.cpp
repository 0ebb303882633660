// What one gain move costs LV1's thread in GainObject::gain_set: median and 99.9th percentile,
// with no console module, with a module running, and while another thread holds the type's
// module lock exclusively (a swap in progress): LV1 must not wait for it.
//
//   tools/netns-run tools/wine-run build/windows/loader/gain_set_bench.exe [moves]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "loader/tests/win/fake_waves.h"
#include "loader/win/loader_log.h"

namespace {

using namespace ks;

void KS_ABI module_set_gain(uint32_t, double) {}

ConsoleModuleTable make_module() {
  ConsoleModuleTable t{};
  t.version = kModuleApiVersion;
  t.size = kModuleTableSize;
  t.type_name = "wing";
  t.set_gain = &module_set_gain;
  return t;
}

double g_tick_us;

struct Figures {
  double median, p999, worst;
};

Figures measure(GainObject* g, int moves) {
  std::vector<double> us(moves);
  LARGE_INTEGER a, b;
  for (int i = 0; i < moves; ++i) {
    const double db = (i % 2) ? 10.0 : 20.0;  // every call a real move
    QueryPerformanceCounter(&a);
    g->gain_set(g, i % 64, db);
    QueryPerformanceCounter(&b);
    us[i] = double(b.QuadPart - a.QuadPart) * g_tick_us;
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 999 / 1000)], us.back()};
}

void print(const char* what, const Figures& f) {
  std::printf("%-44s median %8.2f us   p99.9 %8.2f us   worst %8.2f us\n", what, f.median, f.p999,
              f.worst);
}

DWORD WINAPI hold_exclusive(void* p) {
  ConsoleTypeRecord& t = console_type(0);
  t.module_srw.lock();
  SetEvent(static_cast<HANDLE>(p));
  Sleep(INFINITE);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int moves = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 20000;
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  g_tick_us = 1e6 / double(f.QuadPart);

  loader_attach(nullptr);
  fake::install_waves();
  start_notify_threads();
  DeviceBox* box = fake::make_box(2, 1);
  GainObject* g = gain_object(box->index);
  GainChangedCallback cb{};
  g->set_gain_changed_callback(g, &cb);

  std::printf("gain_set on LV1's thread, %d moves each (log lines written to %%TEMP%%)\n", moves);
  print("no console module", measure(g, moves));

  static const ConsoleModuleTable module = make_module();
  ConsoleTypeRecord& t = console_type(0);
  t.module_srw.lock();
  t.table = &module;
  t.started = 1;
  t.module_srw.unlock();
  print("module running", measure(g, moves));

  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, hold_exclusive, held, 0, nullptr);
  WaitForSingleObject(held, INFINITE);
  print("module lock held exclusively by another thread", measure(g, moves));
  std::fflush(stdout);
  ExitProcess(0);
}
