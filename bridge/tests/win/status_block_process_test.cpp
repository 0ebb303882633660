// ks-test: lock=status-block timeout=120
// The status block seen from a second process, as the tray program sees it: the test loads the
// test console module as the loader would, gives it a desk, and starts itself again as a reader
// that maps "Local\KestruneStatus", checks magic and layout version, watches the desk and the
// channel values arrive, posts a set-gain and a set-48 V record and reads their answers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge/tests/win/watcher_module_host.h"
#include "os/clock.h"
#include "os/shared_memory.h"
#include "shared/names.h"
#include "shared/status_block.h"

namespace ks {
namespace {

constexpr char kReaderFlag[] = "KS_STATUS_READER";

// Waits up to ms of real time for cond.
template <class F>
bool eventually(F cond, uint32_t ms = 15000) {
  Tick start = tick_now();
  while (!cond()) {
    if (ticks_elapsed(tick_now(), start) > ms) return false;
    sleep_ms(10);
  }
  return true;
}

// ---- the reader: a second process, written as the tray program reads the block --------------

uint32_t post(StatusBlock* b, uint32_t seq, uint32_t op, int32_t channel, uint32_t arg,
              double value) {
  ControlOp& r = b->ring.op[command_slot(seq)];
  if (control_op_pending(r)) return 0;
  r.op = op;
  r.channel = channel;
  r.arg = arg;
  r.arg2 = 0;
  r.value = value;
  std::memset(r.group, 0, sizeof r.group);
  shm_store(r.result, 0);
  r.reply[0] = '\0';
  shm_store(r.done_seq, 0);
  shm_store(r.seq, seq);
  b->last_posted_seq = seq;
  return seq;
}

int run_reader() {
  SharedMemory shm;
  if (!eventually([&] { return shm.open(kStatusBlockBaseName, kStatusBlockUsed); })) return 10;
  auto* b = static_cast<StatusBlock*>(shm.data());
  if (shm_load(b->magic) != kStatusMagic || shm_load(b->version) != kStatusLayoutVersion) return 11;
  if (!eventually([&] { return shm_load(b->desk_answering) == 1; })) return 12;
  if (std::strcmp(b->desk_ip, "127.0.0.1") != 0) return 13;
  // The desk's values arrive: LCL 3 holds 5 dB.
  if (!eventually([&] {
        double g;
        __atomic_load(&b->gain_db[2], &g, __ATOMIC_ACQUIRE);
        return g == 5.0 && std::strcmp(b->src_bank[2], "LCL") == 0 && b->src_input[2] == 3;
      }))
    return 14;
  uint32_t gain = post(b, 1, 6, 2, 0, 12.5);
  uint32_t phantom = post(b, 2, 7, 3, 2, 0.0);
  if (!gain || !phantom) return 15;
  if (!eventually([&] { return shm_load(b->ring.op[command_slot(gain)].done_seq) == gain; }))
    return 16;
  if (!eventually([&] { return shm_load(b->ring.op[command_slot(phantom)].done_seq) == phantom; }))
    return 17;
  if (b->ring.op[command_slot(gain)].result != 1 || b->ring.op[command_slot(gain)].reply[0] != '\0')
    return 18;
  if (b->ring.op[command_slot(phantom)].result != 1) return 19;
  // The values the commands set are published.
  if (!eventually([&] {
        double g;
        __atomic_load(&b->gain_db[2], &g, __ATOMIC_ACQUIRE);
        return g == 12.5 && b->phantom[3] == 1;
      }))
    return 20;
  // A command the module must refuse, with its reply.
  uint32_t bad = post(b, 3, 6, 40, 0, 1.0);
  if (!eventually([&] { return shm_load(b->ring.op[command_slot(bad)].done_seq) == bad; }))
    return 21;
  if (b->ring.op[command_slot(bad)].result != 2) return 22;
  if (std::strncmp(b->ring.op[command_slot(bad)].reply, "that channel is out of range",
                   kReplyBytes) != 0)
    return 23;
  return 0;
}

TEST(StatusBlockProcess, Reader) {
  if (!std::getenv(kReaderFlag)) GTEST_SKIP() << "runs as the second process of TrayView";
  EXPECT_EQ(run_reader(), 0);
}

// ---- the module side ----------------------------------------------------------------------

TEST(StatusBlockProcess, TrayView) {
  if (std::getenv(kReaderFlag)) GTEST_SKIP();
  testing_module::TestModule m;
  ASSERT_TRUE(m.load_and_start());
  m.take_desk();
  std::string exe = testing_module::exe_path();

  SetEnvironmentVariableA(kReaderFlag, "1");
  // The reader's own report must not overwrite this process's.
  char report[1024] = {};
  DWORD report_len = GetEnvironmentVariableA("GTEST_OUTPUT", report, sizeof report);
  SetEnvironmentVariableA("GTEST_OUTPUT", nullptr);
  std::wstring cmd = L"\"" +
                     std::wstring(reinterpret_cast<const wchar_t*>(utf8_to_utf16(exe).c_str())) +
                     L"\" --gtest_filter=StatusBlockProcess.Reader";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  SetEnvironmentVariableA(kReaderFlag, nullptr);
  if (report_len > 0 && report_len < sizeof report) SetEnvironmentVariableA("GTEST_OUTPUT", report);
  DWORD waited = WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(code, 0u) << "the reader stopped at its check " << code;
  EXPECT_EQ(m.calls_of("send_gain LCL 3 12.50"), 1);
  EXPECT_EQ(m.calls_of("send_phantom LCL 4 1"), 1);
  EXPECT_TRUE(m.table->stop());
}

}  // namespace
}  // namespace ks
