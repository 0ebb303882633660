#include "loader/win/loader_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <string>

#include "loader/tests/win/temp_file.h"
#include "loader/win/guard.h"

namespace ks {
namespace {

using test::read_file;
using test::temp_dir;

uint64_t size_of(const std::string& path) {
  log_flush();
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return 0;
  return (uint64_t(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class LoaderLog : public ::testing::Test {
protected:
  void SetUp() override {
    log_attach();
    log_close_all();
    for (int ch = 0; ch < kLogChannels; ++ch) {
      DeleteFileA((temp_dir() + log_file_name(ch, false)).c_str());
      DeleteFileA((temp_dir() + log_file_name(ch, true)).c_str());
    }
  }
  void TearDown() override { log_close_all(); }
};

TEST_F(LoaderLog, ChannelsGoToTheirFilesWithTimeStampedLines) {
  loader_log(kLogLoader, "[loader] hello %d", 1);
  loader_log(kLogWing, "[box] wing %s", "line");
  loader_log(kLogX32, "[box] x32 %S", L"wide");
  loader_log(3, "nowhere");
  loader_log(-1, "nowhere");
  log_close_all();
  const std::regex stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  ");
  struct Case {
    int ch;
    const char* text;
  } cases[] = {{kLogLoader, "[loader] hello 1\n"},
               {kLogWing, "[box] wing line\n"},
               {kLogX32, "[box] x32 wide\n"}};
  for (const Case& c : cases) {
    std::string body = read_file(temp_dir() + log_file_name(c.ch, false));
    ASSERT_EQ(body.size(), 14 + std::strlen(c.text)) << body;
    EXPECT_TRUE(std::regex_search(body, stamp)) << body;
    EXPECT_EQ(body.substr(14), c.text);
  }
}

TEST_F(LoaderLog, LongTextIsCutToOneLine) {
  std::string big(5000, 'z');
  loader_log(kLogLoader, "%s", big.c_str());
  log_close_all();
  std::string body = read_file(temp_dir() + log_file_name(kLogLoader, false));
  EXPECT_EQ(body.size(), 14 + 1023 + 1);
  EXPECT_EQ(body.back(), '\n');
}

TEST_F(LoaderLog, RotatesAtTwoMebibytesAndReplacesTheOldRotation) {
  const std::string log = temp_dir() + log_file_name(kLogWing, false);
  const std::string old = temp_dir() + log_file_name(kLogWing, true);
  const std::string text(985, 'r');  // 1000 bytes a line with stamp and newline
  uint64_t lines = 0;
  while (size_of(log) < kLogRotateBytes) {
    write_log_line(kLogWing, text.c_str());
    ++lines;
  }
  // The line that passed the limit went into the full file; nothing rotated yet.
  EXPECT_EQ(size_of(log), lines * 1000);
  EXPECT_FALSE(exists(old));
  write_log_line(kLogWing, "first after rotation");
  EXPECT_EQ(size_of(old), lines * 1000);
  EXPECT_EQ(read_file(log).substr(14), "first after rotation\n");
  // A second rotation replaces the ".1" file.
  while (size_of(log) < kLogRotateBytes) write_log_line(kLogWing, text.c_str());
  write_log_line(kLogWing, "second after rotation");
  EXPECT_EQ(read_file(old).substr(14, 20), "first after rotation");
  EXPECT_EQ(read_file(log).substr(14), "second after rotation\n");
}

TEST_F(LoaderLog, ExistingLogIsAppendedAndCountedFromItsSize) {
  {
    std::ofstream f(temp_dir() + log_file_name(kLogX32, false), std::ios::binary);
    f << std::string(kLogRotateBytes, 'o');
  }
  write_log_line(kLogX32, "rotates at once");
  EXPECT_EQ(size_of(temp_dir() + log_file_name(kLogX32, true)), kLogRotateBytes);
  EXPECT_EQ(read_file(temp_dir() + log_file_name(kLogX32, false)).substr(14), "rotates at once\n");
}

// A burst from several threads at once, far more lines than the queue holds: the queue runs
// full, callers write their own lines, and still every line is in the file once, whole, and in
// its thread's order.
TEST_F(LoaderLog, ABurstBeyondTheQueueKeepsEveryLineWholeAndInOrder) {
  constexpr int kThreads = 4, kLines = 2500;  // about 1.5 MB: no rotation meanwhile
  const std::string pad(120, 'p');
  struct Arg {
    int thread;
    const std::string* pad;
  } args[kThreads];
  HANDLE threads[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    args[t] = {t, &pad};
    threads[t] = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
          const Arg& a = *static_cast<Arg*>(p);
          for (int i = 0; i < kLines; ++i)
            loader_log(kLogWing, "burst %d %d %s", a.thread, i, a.pad->c_str());
          return 0;
        },
        &args[t], 0, nullptr);
    ASSERT_NE(threads[t], nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE h : threads) CloseHandle(h);
  const std::string body = read_file(temp_dir() + log_file_name(kLogWing, false));
  const std::regex line_re("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  burst (\\d+) (\\d+) p{120}$");
  int next[kThreads] = {};
  int lines = 0;
  size_t at = 0;
  while (at < body.size()) {
    const size_t nl = body.find('\n', at);
    ASSERT_NE(nl, std::string::npos) << "a line without its end";
    std::smatch m;
    const std::string line = body.substr(at, nl - at);
    ASSERT_TRUE(std::regex_match(line, m, line_re)) << line;
    const int t = std::stoi(m[1]), i = std::stoi(m[2]);
    ASSERT_EQ(i, next[t]) << "thread " << t << " out of order";
    ++next[t];
    ++lines;
    at = nl + 1;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

volatile int* volatile g_null = nullptr;
void fault(void*) { *g_null = 5; }
void raise_foreign(void*) { RaiseException(0xE06D7363, 0, 0, nullptr); }

TEST_F(LoaderLog, AccessViolationsAreSampledWithABacktraceAndNeverHandled) {
  void* veh = AddVectoredExceptionHandler(0, on_access_violation);
  ASSERT_NE(veh, nullptr);
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(ks_guarded_call(fault, nullptr, nullptr), 0);  // still reaches the guard
  EXPECT_EQ(ks_guarded_call(raise_foreign, nullptr, nullptr), 0);
  RemoveVectoredExceptionHandler(veh);
  log_close_all();
  std::string body = read_file(temp_dir() + log_file_name(kLogLoader, false));
  for (int n : {1, 2, 3, 4, 5, 50}) {
    EXPECT_NE(body.find("!! ACCESS VIOLATION #" + std::to_string(n) +
                        " at loader_loader_log_test.exe+0x"),
              std::string::npos)
        << n;
  }
  for (int n : {6, 7, 49, 51})
    EXPECT_EQ(body.find("!! ACCESS VIOLATION #" + std::to_string(n) + " "), std::string::npos) << n;
  // Each logged fault has a backtrace starting at the faulting code, at most 24 frames.
  EXPECT_NE(body.find("     #00 loader_loader_log_test.exe+0x"), std::string::npos) << body;
  EXPECT_EQ(body.find("     #24 "), std::string::npos);
  // Only access violations are counted: exactly six headings.
  size_t headings = 0;
  for (size_t at = body.find("!! ACCESS"); at != std::string::npos;
       at = body.find("!! ACCESS", at + 1))
    ++headings;
  EXPECT_EQ(headings, 6u);
}

}  // namespace
}  // namespace ks
