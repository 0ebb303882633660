// What one dashboard frame costs the page model: gather + build + read back, per frame, with
// scripted sources (both consoles live, full status blocks), through the poll-tick cache, and on
// the preview's road. Prints median, p99 and worst per frame in microseconds.
//
//   page_model_bench [frames]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "tray/ui/model/cached_sources.h"
#include "tray/ui/model/page_loader.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/preview_demo.h"
#include "tray/ui/model/tests/support/fake_sources.h"

using namespace ks;
using namespace ks::tray;

namespace {

using Clock = std::chrono::steady_clock;

void report(const char* what, std::vector<double>& us) {
  std::sort(us.begin(), us.end());
  double sum = 0;
  for (double v : us) sum += v;
  size_t n = us.size();
  std::printf(
      "%-44s median %7.1f us   p99 %7.1f us   worst %8.1f us   mean %7.1f us   (%zu frames)\n",
      what, us[n / 2], us[std::min(n - 1, n * 99 / 100)], us[n - 1], sum / double(n), n);
}

void run(const char* what, int frames, const std::function<void()>& frame) {
  for (int i = 0; i < frames / 10 + 10; ++i) frame();  // warm the caches and the allocator
  std::vector<double> us;
  us.reserve(size_t(frames));
  for (int i = 0; i < frames; ++i) {
    auto t0 = Clock::now();
    frame();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  report(what, us);
}

// Both consoles installed, on, answering, loaded with live cards; full channel data and answers.
void full_rig(test::FakeSources& s) {
  PreviewDemo demo;
  apply_setup_state(demo, "setup-aes50-both");
  DashboardState st;
  fill_demo_snapshot(demo, st);
  s.running = true;
  s.uptime = 600000;
  s.version = "17.3.50.135";
  s.exe = true;
  s.loader_present = true;
  s.loader = st.loader_block;
  for (int t = 0; t < 2; ++t) {
    s.installed[t] = s.on[t] = true;
    s.snap[t] = st.snapshot[t];
    s.snap[t].answer_count = 2;
    s.disc[t] = st.discovery[t];
    s.settings[t] =
        "; Kestrune - edit while eMotion LV1 is closed.\nresync=desk\nsession_recall=on\ndiag=0\n"
        "ip=10.42.20.2\nprotect=LCL:3,A:12\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (frames < 100) frames = 100;
  std::printf("page model per dashboard frame (goal: well under 1000 us)\n");

  test::FakeSources live;
  full_rig(live);
  LinkAgeMemory ages;
  JsonValue model;
  bool ok = true;

  run("gather + build + load, scripted sources", frames, [&] {
    live.now += 50;
    ok &= load_page_model(live, ages, "3.2.0", model);
  });

  PollCachedSources cached(live);
  int tick = 0;
  run("same through the poll-tick cache (1 s ticks)", frames, [&] {
    live.now += 50;
    if (++tick % 20 == 0) cached.poll_tick();
    ok &= load_page_model(cached, ages, "3.2.0", model);
  });

  DashboardState st;
  run("  gather alone", frames, [&] { gather_dashboard_state(live, st, ages); });
  std::string text;
  PageModelInputs in;
  in.version = "3.2.0";
  run("  build alone", frames, [&] { build_page_model(st, in, text); });
  run("  read back alone", frames, [&] { ok &= parse_page_model(text, model); });
  std::printf("  page text: %zu bytes\n", text.size());

  PreviewDemo demo;
  apply_setup_state(demo, "setup-aes50-both");
  PreviewSources preview(demo);
  run("gather + build + load, preview sources", frames,
      [&] { ok &= load_page_model(preview, ages, "3.2.0", model); });

  if (!ok) {
    std::printf("a page model did not read back\n");
    return 1;
  }
  return 0;
}
