// The access-violation logger on a broken stack: its own walk faults, and that fault must neither
// be counted nor reach the logger again (recursing there would overflow the faulting thread's
// stack and turn a survivable fault into a crash). A process of its own: the count starts at 0.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "loader/tests/win/temp_file.h"
#include "loader/win/guard.h"
#include "loader/win/loader_log.h"

namespace ks {
namespace {

std::string loader_log_text() { return test::read_temp_file(log_file_name(kLogLoader, false)); }

__attribute__((noinline)) void some_code() { asm volatile(""); }

TEST(AccessViolationLogger, ABrokenStackEndsTheBacktraceWithoutRecursion) {
  log_attach();
  void* veh = AddVectoredExceptionHandler(0, on_access_violation);
  ASSERT_NE(veh, nullptr);
  // A fault whose context claims a stack in memory nobody may read.
  void* dead = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(dead, nullptr);
  EXCEPTION_RECORD rec{};
  rec.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  rec.ExceptionAddress = reinterpret_cast<void*>(&some_code);
  CONTEXT ctx{};
  RtlCaptureContext(&ctx);
  ctx.Rip = reinterpret_cast<DWORD64>(&some_code);
  ctx.Rsp = reinterpret_cast<DWORD64>(dead) + 2048;
  EXCEPTION_POINTERS info{&rec, &ctx};
  EXPECT_EQ(on_access_violation(&info), EXCEPTION_CONTINUE_SEARCH);
  // A second, ordinary fault is counted as the second one.
  volatile int* volatile null = nullptr;
  auto fault = [&] { *null = 1; };
  EXPECT_FALSE(guarded(fault));
  RemoveVectoredExceptionHandler(veh);
  log_close_all();
  const std::string log = loader_log_text();
  EXPECT_NE(log.find("!! ACCESS VIOLATION #1 at loader_av_logger_test.exe+0x"), std::string::npos)
      << log;
  EXPECT_NE(log.find("     #00 loader_av_logger_test.exe+0x"), std::string::npos);
  EXPECT_NE(log.find("!! ACCESS VIOLATION #2 at loader_av_logger_test.exe+0x"), std::string::npos);
  EXPECT_EQ(log.find("!! ACCESS VIOLATION #3"), std::string::npos);
  // The broken walk stopped at its first frame: #01 appears only under the second fault.
  const size_t second = log.find("!! ACCESS VIOLATION #2");
  EXPECT_EQ(log.substr(0, second).find("     #01 "), std::string::npos) << log;
  VirtualFree(dead, 0, MEM_RELEASE);
}

// Any exception that is not an access violation passes untouched and uncounted.
TEST(AccessViolationLogger, OtherExceptionsAreIgnored) {
  EXCEPTION_RECORD rec{};
  rec.ExceptionCode = 0xE06D7363;
  CONTEXT ctx{};
  EXCEPTION_POINTERS info{&rec, &ctx};
  EXPECT_EQ(on_access_violation(&info), EXCEPTION_CONTINUE_SEARCH);
  EXPECT_EQ(on_access_violation(nullptr), EXCEPTION_CONTINUE_SEARCH);
}

}  // namespace
}  // namespace ks
