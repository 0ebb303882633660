// sha256_hex through this build's hash service (BCrypt in the Windows tier): the FIPS 180-4
// examples and Python's hashlib at every length 0..300 and on 1 MiB.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

#include "tray/services/sha256.h"
#include "tray/services/tests/support/fixtures.h"

namespace ks::tray {
namespace {

TEST(Sha256, FipsExamplesInLowerCase) {
  struct Case {
    std::string in;
    const char* hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    const std::string got = sha256_hex(c.in);
    EXPECT_EQ(got, c.hex) << c.in.size() << " bytes";
    std::string upper = c.hex;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_NE(got, upper) << "an upper-case expected value never matches";
  }
}

TEST(Sha256, MatchesPythonAtEveryLength) {
  std::istringstream in(test::read_fixture("crosscheck.txt"));
  std::string line;
  size_t rows = 0;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    size_t n;
    std::string sha;
    l >> n >> sha;
    const std::vector<uint8_t> data = test::crosscheck_pattern(n);
    EXPECT_EQ(sha256_hex(data.data(), data.size()), sha) << n << " bytes";
    ++rows;
  }
  EXPECT_EQ(rows, 302u) << test::fixture_path("crosscheck.txt");
}

TEST(Sha256, HexIsLowerCaseHighNibbleFirst) {
  const uint8_t b[] = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ(hex_lower(b, 4), "000fa5ff");
  EXPECT_EQ(hex_lower(b, 0), "");
}

}  // namespace
}  // namespace ks::tray
