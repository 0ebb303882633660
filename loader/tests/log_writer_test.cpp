// The log queue and writer behind the loader's logs: every line handed over is written once, in
// order per file; a full queue refuses without waiting and the caller's own line then goes out
// behind everything queued before it; batches keep the rotation rule line by line.
#include "loader/log_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ks {
namespace {

// Files in memory: what each channel holds, every write as it came, rotations.
class MemoryFiles final : public LogFiles {
public:
  bool ready(int channel) override {
    ++readies;
    if (fail_open) return false;
    if (log_needs_rotation(count[channel])) {
      rotated[channel] = text[channel];
      text[channel].clear();
      count[channel] = 0;
      ++rotations;
    }
    return true;
  }
  uint64_t bytes(int channel) override { return count[channel]; }
  void write(int channel, const char* data, size_t n) override {
    text[channel].append(data, n);
    count[channel] += n;
    ++writes;
  }
  std::string text[kLogChannels], rotated[kLogChannels];
  uint64_t count[kLogChannels] = {};
  int writes = 0, readies = 0, rotations = 0;
  bool fail_open = false;
};

bool hand(BasicLogWriter<8>& w, int channel, const std::string& line) {
  return w.hand_over(channel, line.data(), line.size());
}

TEST(LogWriter, LinesLeaveInOrderPerChannelInOneWriteEach) {
  MemoryFiles files;
  BasicLogWriter<8> w(files);
  ASSERT_TRUE(hand(w, 1, "a1\n"));
  ASSERT_TRUE(hand(w, 1, "a2\n"));
  ASSERT_TRUE(hand(w, 2, "x1\n"));
  ASSERT_TRUE(hand(w, 1, "a3\n"));
  EXPECT_FALSE(w.idle());
  w.drain(false);
  EXPECT_TRUE(w.idle());
  EXPECT_EQ(files.text[1], "a1\na2\na3\n");
  EXPECT_EQ(files.text[2], "x1\n");
  EXPECT_EQ(files.writes, 3) << "a1+a2, x1, a3";
  // Lines for no channel are dropped without touching a file.
  ASSERT_TRUE(hand(w, 3, "nowhere\n"));
  ASSERT_TRUE(hand(w, -1, "nowhere\n"));
  w.drain(false);
  EXPECT_EQ(files.writes, 3);
}

TEST(LogWriter, AFullQueueRefusesAndTheCallersLineGoesOutBehindTheQueuedOnes) {
  MemoryFiles files;
  BasicLogWriter<8> w(files);
  // The log thread is stalled: nobody drains.
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(hand(w, 0, "q" + std::to_string(i) + "\n")) << i;
  EXPECT_FALSE(hand(w, 0, "late\n")) << "full: refused at once";
  EXPECT_EQ(files.writes, 0);
  w.write_now(0, "late\n", 5);
  EXPECT_EQ(files.text[0], "q0\nq1\nq2\nq3\nq4\nq5\nq6\nq7\nlate\n");
  EXPECT_TRUE(w.idle());
  // The slots are free again, a lap later.
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(hand(w, 0, "r\n")) << i;
  w.drain(false);
  EXPECT_EQ(files.text[0].size(), 8 * 3 + 5 + 8 * 2);
}

TEST(LogWriter, BatchesKeepTheRotationRuleLineByLine) {
  MemoryFiles files;
  BasicLogWriter<8> w(files);
  files.count[1] = kLogRotateBytes - 4;  // the next line passes the limit
  ASSERT_TRUE(hand(w, 1, "passes\n"));
  ASSERT_TRUE(hand(w, 1, "rotates\n"));
  ASSERT_TRUE(hand(w, 1, "after\n"));
  w.drain(false);
  EXPECT_EQ(files.rotations, 1);
  EXPECT_EQ(files.rotated[1], "passes\n")
      << "the line that passed the limit went into the full file";
  EXPECT_EQ(files.text[1], "rotates\nafter\n");
  EXPECT_EQ(files.count[1], 14u);
}

TEST(LogWriter, LongLinesAreCutAndNoFileMeansTheLineIsLost) {
  MemoryFiles files;
  BasicLogWriter<8> w(files);
  const std::string big(kLogLineBytes + 500, 'z');
  ASSERT_TRUE(hand(w, 0, big));
  w.drain(false);
  EXPECT_EQ(files.text[0].size(), kLogLineBytes);
  files.fail_open = true;
  ASSERT_TRUE(hand(w, 2, "lost\n"));
  w.drain(false);
  w.write_now(2, "lost too\n", 9);
  EXPECT_TRUE(files.text[2].empty());
  EXPECT_TRUE(w.idle());
}

// Producers hammer a small queue while a log thread drains; a producer that finds it full writes
// its own line under the writers' lock, as the loader does. Every line arrives exactly once, and
// each producer's lines stay in their order.
TEST(LogWriter, ManyProducersOneFileEveryLineOnceInOrderPerThread) {
  MemoryFiles files;
  BasicLogWriter<8> w(files);
  std::mutex writers;
  std::atomic<bool> done{false};
  std::atomic<int> direct{0};
  constexpr int kThreads = 4, kLines = 3000;
  std::thread drainer([&] {
    while (!done.load()) {
      {
        std::lock_guard<std::mutex> g(writers);
        w.drain(false);
      }
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        const std::string line = std::to_string(t) + ":" + std::to_string(i) + "\n";
        if (w.hand_over(0, line.data(), line.size())) continue;
        direct++;
        std::lock_guard<std::mutex> g(writers);
        w.write_now(0, line.data(), line.size());
      }
    });
  }
  for (auto& p : producers) p.join();
  done = true;
  drainer.join();
  w.drain(false);

  std::vector<int> next(kThreads, 0);
  size_t at = 0;
  int lines = 0;
  const std::string& text = files.text[0];
  while (at < text.size()) {
    const size_t nl = text.find('\n', at);
    ASSERT_NE(nl, std::string::npos);
    const std::string line = text.substr(at, nl - at);
    const size_t colon = line.find(':');
    ASSERT_NE(colon, std::string::npos) << line;
    const int t = std::stoi(line.substr(0, colon));
    const int i = std::stoi(line.substr(colon + 1));
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    ASSERT_EQ(i, next[t]) << "thread " << t << " out of order";
    ++next[t];
    ++lines;
    at = nl + 1;
  }
  EXPECT_EQ(lines, kThreads * kLines);
  RecordProperty("direct_writes", direct.load());
}

}  // namespace
}  // namespace ks
