// The gain objects' paths that need a console module or LV1's callbacks, in process: the host
// callbacks a module uses, the value paths with a module running or its lock busy, and the stop
// when LV1 lets go of its last card.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "loader/session_block.h"
#include "loader/tests/win/fake_waves.h"
#include "loader/tests/win/temp_file.h"
#include "loader/win/loader_log.h"

namespace ks {
namespace {

std::string wing_log() { return test::read_temp_file("kestrune.log"); }

// LV1's gain-changed callback, recording what reaches it.
struct Lv1Callback {
  GainChangedCallback cb;
  bool fault = false;
  std::vector<std::string> calls;
};
volatile int* volatile g_null = nullptr;

void KS_ABI on_gain(GainChangedCallback* c, const uint8_t* mac, int32_t ch, double db) {
  auto* self = reinterpret_cast<Lv1Callback*>(c);
  char b[96];
  std::snprintf(b, sizeof b, "gain %02x ch=%d %.2f", mac[5], ch, db);
  self->calls.push_back(b);
  if (self->fault) *g_null = 1;
}
void KS_ABI on_phantom(GainChangedCallback* c, const uint8_t* mac, int32_t ch, uint32_t on) {
  auto* self = reinterpret_cast<Lv1Callback*>(c);
  char b[96];
  std::snprintf(b, sizeof b, "48v %02x ch=%d %u", mac[5], ch, on);
  self->calls.push_back(b);
}

struct Lv1Host {
  ConsoleIOHost host;
  int fault_at = -1;
  std::vector<int> strips;
};
void KS_ABI on_rebuild(ConsoleIOHost* h, const uint8_t*, int32_t ch, int32_t) {
  auto* self = reinterpret_cast<Lv1Host*>(h);
  self->strips.push_back(ch);
  if (ch == self->fault_at) *g_null = 2;
}

// A fake console module whose answers differ from the loader's defaults.
struct FakeModule {
  static inline std::vector<std::string> calls;
  static inline int stops = 0;
  static void KS_ABI set_gain(uint32_t ch, double db) {
    calls.push_back("set_gain " + std::to_string(ch) + " " + std::to_string(db));
  }
  static void KS_ABI set_phantom(uint32_t ch, uint32_t on) {
    calls.push_back("set_phantom " + std::to_string(ch) + " " + std::to_string(on));
  }
  static bool KS_ABI has_preamp(uint32_t ch) { return ch < 8; }
  static double KS_ABI gain_min(uint32_t) { return -6.0; }
  static double KS_ABI gain_max(uint32_t) { return 54.0; }
  static double KS_ABI gain_step(uint32_t) { return 1.0; }
  static inline double recalled_gain[kChannels];
  static inline uint32_t recalled_phantom[kChannels], recalled_preamp[kChannels];
  static void KS_ABI session_recall(const double* g, const uint32_t* ph, const uint32_t* pre) {
    calls.push_back("session_recall");
    std::memcpy(recalled_gain, g, sizeof recalled_gain);
    std::memcpy(recalled_phantom, ph, sizeof recalled_phantom);
    std::memcpy(recalled_preamp, pre, sizeof recalled_preamp);
  }
  static bool KS_ABI stop() {
    ++stops;
    return true;
  }
  static ConsoleModuleTable table() {
    ConsoleModuleTable t{};
    t.version = kModuleApiVersion;
    t.size = kModuleTableSize;
    t.type_name = "wing";
    t.stop = &stop;
    t.set_gain = &set_gain;
    t.set_phantom = &set_phantom;
    t.has_preamp = &has_preamp;
    t.gain_min = &gain_min;
    t.gain_max = &gain_max;
    t.gain_step = &gain_step;
    t.session_recall = &session_recall;
    return t;
  }
};

class GainObjects : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    loader_attach(nullptr);
    fake::install_waves();
    // No notifier threads: a redraw running late would call into a later test's host.
  }

  // A fresh live WING card with LV1's callback and strip host; released again after the test so
  // the next test's card is the live one.
  void SetUp() override {
    static uint8_t next_mac = 1;
    box = fake::make_box(2, next_mac++);
    ASSERT_NE(box, nullptr);
    g = gain_object(box->index);
    lv1.cb.gain_changed = &on_gain;
    lv1.cb.phantom_changed = &on_phantom;
    g->set_gain_changed_callback(g, &lv1.cb);
    ASSERT_EQ(live_gain_object(0), g);
    FakeModule::calls.clear();
    FakeModule::stops = 0;
  }
  void TearDown() override {
    set_module(nullptr);
    if (!box_released(box))
      reinterpret_cast<IoBoxReleaseFn>(box->slot[kIoBoxRelease])(reinterpret_cast<IoBox*>(box));
  }

  void set_module(const ConsoleModuleTable* table) {
    ConsoleTypeRecord& t = console_type(0);
    t.module_srw.lock();
    t.table = table;
    t.started = table ? 1 : 0;
    t.module_srw.unlock();
  }

  void give_host() {
    void* io = reinterpret_cast<IoBoxQueryInterfaceFn>(box->slot[kIoBoxQueryInterface])(
        reinterpret_cast<IoBox*>(box), kIfaceConsoleIO);
    ASSERT_NE(io, nullptr);
    host.host.rebuild_strip = &on_rebuild;
    static_cast<ConsoleIO*>(io)->set_host(static_cast<ConsoleIO*>(io), &host.host);
  }

  const ModuleHost& module_host() { return console_type(0).host; }

  DeviceBox* box = nullptr;
  GainObject* g = nullptr;
  Lv1Callback lv1;
  Lv1Host host;
};

TEST_F(GainObjects, DeskReportsReachLv1OnlyForALiveUsableBox) {
  const ModuleHost& h = module_host();
  const uint8_t mac = box->mac[5];
  char want[64];
  h.report_to_lv1(g, 4, 12.5, 1, 1, 1, 0);
  std::snprintf(want, sizeof want, "gain %02x ch=4 12.50", mac);
  ASSERT_EQ(lv1.calls.size(), 2u);
  EXPECT_EQ(lv1.calls[0], want);
  std::snprintf(want, sizeof want, "48v %02x ch=4 1", mac);
  EXPECT_EQ(lv1.calls[1], want);
  EXPECT_EQ(g->gain[4], 12.5);
  EXPECT_EQ(g->phantom[4], 1);

  struct Case {
    const char* what;
    int32_t ch;
    double db;
    uint32_t forced;
    size_t reaches;
  } cases[] = {
      {"same values", 4, 12.5, 0, 0},
      {"same values, forced", 4, 12.5, 1, 2},
      {"channel 64", 64, 3.0, 1, 0},
      {"channel -1", -1, 3.0, 1, 0},
      {"not a number: only 48 V, forced", 5, NAN, 1, 1},
      {"infinite: only 48 V, forced", 5, INFINITY, 1, 1},
  };
  for (const Case& c : cases) {
    lv1.calls.clear();
    h.report_to_lv1(g, c.ch, c.db, 1, 1, 1, c.forced);
    EXPECT_EQ(lv1.calls.size(), c.reaches) << c.what;
  }
  EXPECT_EQ(g->gain[5], 0.0);  // a non-finite value never enters the cache
  EXPECT_NE(wing_log().find("<- LV1 gain ch=4 12.5 dB via object #" +
                            std::to_string(box->index + 1) + " (forced)\n"),
            std::string::npos);
  EXPECT_NE(wing_log().find("[not a finite value - dropped]\n"), std::string::npos);

  // A box LV1 declared offline, or released, gets nothing: its callback may be gone.
  lv1.calls.clear();
  const uint8_t offline[6] = {0, 0, 0, 1, 2, 3};
  reinterpret_cast<IoBoxSetMacFn>(box->slot[kIoBoxSetMac])(reinterpret_cast<IoBox*>(box), offline);
  h.report_to_lv1(g, 6, 1.0, 1, 1, 1, 1);
  reinterpret_cast<IoBoxReleaseFn>(box->slot[kIoBoxRelease])(reinterpret_cast<IoBox*>(box));
  h.report_to_lv1(g, 6, 2.0, 1, 1, 1, 1);
  EXPECT_TRUE(lv1.calls.empty());
  h.report_to_lv1(nullptr, 6, 2.0, 1, 1, 1, 1);  // no object: nothing, no crash
}

TEST_F(GainObjects, AFaultInLv1sCallbackIsSwallowed) {
  lv1.fault = true;
  module_host().report_to_lv1(g, 7, 3.0, 1, 0, 0, 0);
  ASSERT_EQ(lv1.calls.size(), 1u);
  EXPECT_NE(wing_log().find("[lv1] telling LV1 gain ch=7 changed faulted\n"), std::string::npos);
  lv1.fault = false;
  module_host().report_to_lv1(g, 7, 4.0, 1, 0, 0, 0);
  EXPECT_EQ(lv1.calls.size(), 2u);
}

TEST_F(GainObjects, StripRedrawsFromTheModule) {
  give_host();
  module_host().rebuild_strip(-1);
  ASSERT_EQ(host.strips.size(), 64u);
  for (int ch = 0; ch < 64; ++ch) EXPECT_EQ(host.strips[ch], ch);
  host.strips.clear();
  module_host().rebuild_strip(64);  // no such strip
  module_host().rebuild_strip(12);
  EXPECT_EQ(host.strips, std::vector<int>{12});
  host.strips.clear();
  host.fault_at = 2;
  module_host().rebuild_strip(-1);
  EXPECT_EQ(host.strips, (std::vector<int>{0, 1, 2}));  // a fault stops the walk
  EXPECT_NE(wing_log().find("[redraw] asking LV1 to rebuild strip 2 faulted\n"), std::string::npos);
}

TEST_F(GainObjects, HostQueriesFollowTheLiveCard) {
  const ModuleHost& h = module_host();
  EXPECT_EQ(h.live_gain_object(), g);
  uint8_t mac[6] = {};
  ASSERT_TRUE(h.get_mac(mac));
  EXPECT_EQ(0, std::memcmp(mac, box->mac, 6));
  IoBoxListener listener{};
  reinterpret_cast<IoBoxSetListenerFn>(box->slot[kIoBoxSetListener])(reinterpret_cast<IoBox*>(box),
                                                                     &listener);
  EXPECT_EQ(h.lv1_listener(), &listener);
  EXPECT_EQ(box->listener, &listener);
  // Released first, then Waves' release runs: no loader thread takes the box for live meanwhile.
  fake::g_release_saw_released = -1;
  reinterpret_cast<IoBoxReleaseFn>(box->slot[kIoBoxRelease])(reinterpret_cast<IoBox*>(box));
  EXPECT_EQ(fake::g_release_saw_released, 1);
  EXPECT_EQ(h.live_gain_object(), nullptr);
  EXPECT_EQ(h.lv1_listener(), nullptr);
  EXPECT_FALSE(h.get_mac(mac));
}

TEST_F(GainObjects, ValuesReachARunningModuleAndItsAnswersAreCached) {
  static const ConsoleModuleTable module = FakeModule::table();
  set_module(&module);
  g->gain_set(g, 3, 20.0);
  g->phantom_set(g, 3, 1);
  EXPECT_EQ(FakeModule::calls,
            (std::vector<std::string>{"set_gain 3 20.000000", "set_phantom 3 1"}));
  EXPECT_TRUE(g->gain_has_preamp(g, 3));
  EXPECT_FALSE(g->gain_has_preamp(g, 9));
  EXPECT_EQ(g->gain_min_query(g, 3), -6.0);
  EXPECT_EQ(g->gain_max_query(g, 3), 54.0);
  EXPECT_EQ(g->gain_step_query(g, 3), 1.0);
  ConsoleTypeRecord& t = console_type(0);
  const uint32_t from_cache = read_counter(t, kCountFromCache);
  // The module goes: LV1 gets the cached answers, counted as such.
  set_module(nullptr);
  EXPECT_TRUE(g->gain_has_preamp(g, 3));
  EXPECT_EQ(read_counter(t, kCountFromCache), from_cache + 1);
  EXPECT_EQ(g->gain_min_query(g, 3), -6.0);
  EXPECT_EQ(g->gain_max_query(g, 3), 54.0);
  EXPECT_EQ(g->gain_step_query(g, 3), 1.0);
  EXPECT_EQ(g->gain_max_query(g, 63), 60.0);  // never asked
  g->gain_set(g, 3, 21.0);
  EXPECT_EQ(FakeModule::calls.size(), 2u);
  EXPECT_EQ(g->gain_get(g, 3), 21.0);
}

TEST_F(GainObjects, LV1NeverWaitsForAModuleSwap) {
  static const ConsoleModuleTable module = FakeModule::table();
  set_module(&module);
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  struct Ctx {
    HANDLE held, release;
  } ctx{held, release};
  HANDLE th = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* c = static_cast<Ctx*>(p);
        console_type(0).module_srw.lock();
        SetEvent(c->held);
        WaitForSingleObject(c->release, INFINITE);
        console_type(0).module_srw.unlock();
        return 0;
      },
      &ctx, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(held, 5000), WAIT_OBJECT_0);
  g->gain_set(g, 10, 33.0);  // returns at once: the value stays cached
  EXPECT_FALSE(g->gain_has_preamp(g, 10));
  EXPECT_EQ(g->gain_max_query(g, 10), 60.0);
  SetEvent(release);
  WaitForSingleObject(th, 5000);
  CloseHandle(th);
  EXPECT_TRUE(FakeModule::calls.empty());
  EXPECT_EQ(g->gain_get(g, 10), 33.0);
  EXPECT_NE(wing_log().find("SET gain ch=10 33.0 dB  [module not running - not sent]\n"),
            std::string::npos);
}

TEST_F(GainObjects, ClearingTheLastLiveCallbackStopsTheModule) {
  static const ConsoleModuleTable module = FakeModule::table();
  set_module(&module);
  // Another live WING card keeps the module running.
  DeviceBox* other = fake::make_box(5, 0xEE);
  ASSERT_NE(other, nullptr);
  GainObject* og = gain_object(other->index);
  Lv1Callback cb2;
  cb2.cb.gain_changed = &on_gain;
  cb2.cb.phantom_changed = &on_phantom;
  og->set_gain_changed_callback(og, &cb2.cb);
  g->set_gain_changed_callback(g, nullptr);
  EXPECT_EQ(FakeModule::stops, 0);
  EXPECT_EQ(live_gain_object(0), og);
  og->set_gain_changed_callback(og, nullptr);
  EXPECT_EQ(FakeModule::stops, 1);
  EXPECT_EQ(console_type(0).started, 0);
  EXPECT_NE(wing_log().find("[loader] wing stopped: LV1 released the device\n"), std::string::npos);
  reinterpret_cast<IoBoxReleaseFn>(other->slot[kIoBoxRelease])(reinterpret_cast<IoBox*>(other));
}

// A chunk holding Kestrune's block: gains 1.00 + ch, 48 V on odd channels, preamps on 0..7.
std::string stored_chunk() {
  double gain[kChannels];
  uint8_t phantom[kChannels];
  uint32_t preamp[kChannels];
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    gain[ch] = 1.0 + ch;
    phantom[ch] = ch % 2;
    preamp[ch] = ch < 8;
  }
  char block[kChunkBlockMax];
  size_t n = format_chunk_block(gain, phantom, preamp, block, sizeof block);
  return "waves\n" + std::string(block, n);
}

TEST_F(GainObjects, AnOpenedSessionReachesTheRunningModule) {
  static const ConsoleModuleTable module = FakeModule::table();
  set_module(&module);
  const std::string chunk = stored_chunk();
  reinterpret_cast<IoBoxSetChunkFn>(box->slot[kIoBoxSetChunk])(reinterpret_cast<IoBox*>(box),
                                                               chunk.c_str());
  ASSERT_EQ(FakeModule::calls, std::vector<std::string>{"session_recall"});
  EXPECT_EQ(FakeModule::recalled_gain[0], 1.0);
  EXPECT_EQ(FakeModule::recalled_gain[63], 64.0);
  EXPECT_EQ(FakeModule::recalled_phantom[3], 1u);
  EXPECT_EQ(FakeModule::recalled_preamp[7], 1u);
  EXPECT_EQ(FakeModule::recalled_preamp[8], 0u);
  EXPECT_EQ(g->gain[0], 0.0);  // opening a session leaves LV1's caches alone
}

TEST_F(GainObjects, SceneRecallSendsOnlyWhatDiffers) {
  static const ConsoleModuleTable module = FakeModule::table();
  set_module(&module);
  g->gain_set(g, 2, 3.0);  // already what the scene holds: not sent again
  g->phantom_set(g, 3, 1);
  FakeModule::calls.clear();
  void* obj = reinterpret_cast<IoBoxQueryInterfaceFn>(box->slot[kIoBoxQueryInterface])(
      reinterpret_cast<IoBox*>(box), kIfaceChannelsChunk);
  ASSERT_NE(obj, nullptr);
  auto* cc = static_cast<ChannelsChunkSupport*>(obj);
  const std::string chunk = stored_chunk();
  const uint32_t list[] = {2, 3, 9, 70};  // 9 has no preamp, 70 is no channel
  cc->scene_recall(cc, list, 4, 0, 0, chunk.c_str());
  EXPECT_EQ(FakeModule::calls, (std::vector<std::string>{"set_gain 3 4.000000"}));
  EXPECT_EQ(g->gain[3], 4.0);
  EXPECT_NE(wing_log().find("[chunk] scene recall: 2 of 4 channel(s) applied to the console\n"),
            std::string::npos);
  // No list: channels 0..count-1.
  FakeModule::calls.clear();
  cc->scene_recall(cc, nullptr, 2, 0, 0, chunk.c_str());
  EXPECT_EQ(
      FakeModule::calls,
      (std::vector<std::string>{"set_gain 0 1.000000", "set_gain 1 2.000000", "set_phantom 1 1"}));
}

TEST_F(GainObjects, SavedChunkCarriesTheModulesPreampAnswers) {
  static const ConsoleModuleTable module = FakeModule::table();
  set_module(&module);
  for (uint32_t ch = 0; ch < kChannels; ++ch) g->gain_has_preamp(g, ch);
  g->gain_set(g, 1, 7.25);
  struct Capture {
    ChunkSink sink;
    std::string text;
  } cap;
  cap.sink.put = [](ChunkSink* s, const char* text) { reinterpret_cast<Capture*>(s)->text = text; };
  reinterpret_cast<IoBoxGetChunkFn>(box->slot[kIoBoxGetChunk])(reinterpret_cast<IoBox*>(box),
                                                               &cap.sink);
  ParsedChunkBlock p;
  parse_chunk_block(cap.text, p);
  ASSERT_TRUE(p.present) << cap.text;
  EXPECT_EQ(p.gain[1], 7.25);
  for (uint32_t ch = 0; ch < kChannels; ++ch) EXPECT_EQ(p.preamp[ch], ch < 8 ? 1u : 0u) << ch;
}

}  // namespace
}  // namespace ks
