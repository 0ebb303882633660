// The corpus replay of one fuzz target, as an ordinary test: every file of the folder named on
// the command line goes through the target once, in name order, so the run is the same each time.
// A property that fails aborts the process, which the test run counts as a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::string g_corpus;

TEST(FuzzCorpus, EveryInputPassesTheTarget) {
  namespace fs = std::filesystem;
  std::error_code ec;
  ASSERT_TRUE(fs::is_directory(g_corpus, ec)) << "no corpus folder " << g_corpus;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(g_corpus, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty()) << "the corpus " << g_corpus << " is empty";
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    ASSERT_TRUE(in) << f;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that the sanitizers see any read past its end.
    uint8_t* exact = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    std::copy(bytes.begin(), bytes.end(), exact);
    LLVMFuzzerTestOneInput(exact, bytes.size());
    std::free(exact);
  }
  RecordProperty("inputs", int(files.size()));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  g_corpus = argv[1];
  if (const char* dir = std::getenv("KS_TEST_TEMP")) {
    if (*dir) {
#ifndef _WIN32
      mkdir(dir, 0700);
#endif
      setenv("TMPDIR", dir, 1);
    }
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  return RUN_ALL_TESTS();
}
