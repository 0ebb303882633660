// The module's one call into LV1's listener (re-read which channels have preamps): made with the
// box's MAC, skipped with a line when something is missing, and under Wine a listener that
// faults or raises is caught and logged while the module carries on.
#include <gtest/gtest.h>

#include <cstring>

#include "bridge/host.h"
#include "bridge/lv1_notify.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/framework_fixture.h"
#include "shared/iobox.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ks {
namespace {

struct Recorder {
  IoBoxListener listener{};
  int calls = 0;
  uint8_t mac[6] = {};
};
Recorder g_rec;

void KS_ABI record_call(IoBoxListener* self, const uint8_t* mac) {
  if (self != &g_rec.listener) return;
  ++g_rec.calls;
  std::memcpy(g_rec.mac, mac, 6);
}

class Lv1Listener : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    g_rec = Recorder{};
    host().has_mac = true;
    host().listener = &g_rec.listener;
  }
};

constexpr const char* kSent = "[notify] channel_type_state_changed(mac) sent to LV1";
constexpr const char* kCannot =
    "[notify] no common callback / MAC yet - cannot ask LV1 to re-read the channels";

TEST_F(Lv1Listener, TheCallCarriesTheBoxMac) {
  g_rec.listener.channel_type_state_changed = record_call;
  notify_channel_types();
  EXPECT_EQ(g_rec.calls, 1);
  EXPECT_EQ(std::memcmp(g_rec.mac, host().mac, 6), 0);
  EXPECT_TRUE(host().logged(kSent));
}

TEST_F(Lv1Listener, NothingIsCalledWithoutListenerSlotOrMac) {
  struct Case {
    const char* what;
    bool listener, slot, mac;
  } cases[] = {{"no listener", false, true, true},
               {"empty slot", true, false, true},
               {"no MAC", true, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host().clear();
    g_rec = Recorder{};
    g_rec.listener.channel_type_state_changed = c.slot ? record_call : nullptr;
    host().listener = c.listener ? &g_rec.listener : nullptr;
    host().has_mac = c.mac;
    notify_channel_types();
    EXPECT_EQ(g_rec.calls, 0);
    EXPECT_TRUE(host().logged(kCannot));
    EXPECT_FALSE(host().logged(kSent));
  }
}

#ifdef _WIN32
volatile int* volatile g_null = nullptr;
void KS_ABI faulting_call(IoBoxListener*, const uint8_t*) { *g_null = 1; }
void KS_ABI raising_call(IoBoxListener*, const uint8_t*) {
  RaiseException(0xE06D7363, 0, 0, nullptr);
}

TEST_F(Lv1Listener, AListenerThatFaultsIsCaughtLoggedAndTheModuleCarriesOn) {
  struct Case {
    void(KS_ABI* fn)(IoBoxListener*, const uint8_t*);
    const char* line;
  } cases[] = {
      {faulting_call,
       "[notify] asking LV1 to re-read the channels faulted (exception 0xc0000005) - ignored"},
      {raising_call,
       "[notify] asking LV1 to re-read the channels faulted (exception 0xe06d7363) - ignored"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    host().clear();
    g_rec.listener.channel_type_state_changed = c.fn;
    notify_channel_types();
    EXPECT_TRUE(host().logged(c.line));
    EXPECT_FALSE(host().logged(kSent));
  }
  // A listener that went away altogether: even reading its slot faults.
  host().clear();
  host().listener = reinterpret_cast<IoBoxListener*>(uintptr_t(0x10));
  notify_channel_types();
  EXPECT_TRUE(
      host().logged("[notify] asking LV1 to re-read the channels faulted (exception 0xc0000005)"));

  // The next call, with a sound listener, goes through.
  host().clear();
  host().listener = &g_rec.listener;
  g_rec.listener.channel_type_state_changed = record_call;
  notify_channel_types();
  EXPECT_EQ(g_rec.calls, 1);
  EXPECT_TRUE(host().logged(kSent));
}
#endif

}  // namespace
}  // namespace ks
