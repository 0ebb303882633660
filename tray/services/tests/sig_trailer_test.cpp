// Signed trailers: fixtures signed by tools/sign-trailer (openssl, this tree's throw-away keys),
// their variants, and every single-bit flip of the signed part, the marker and the signature.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tray/services/base64.h"
#include "tray/services/build_keys.h"
#include "tray/services/sig_trailer.h"
#include "tray/services/tests/support/fixtures.h"

namespace ks::tray {
namespace {

const std::string kMarker = "\n# sig ed25519 ";

bool verify(const std::string& file, size_t* signed_length = nullptr) {
  return verify_sig_trailer(reinterpret_cast<const uint8_t*>(file.data()), file.size(),
                            signed_length);
}

class SigTrailer : public ::testing::Test {
protected:
  void SetUp() override {
    body = test::read_fixture("profiles_body.txt");
    signed_file = test::read_fixture("profiles_signed.cfg");
    ASSERT_FALSE(body.empty()) << test::fixture_path("profiles_body.txt");
    ASSERT_EQ(signed_file.compare(0, body.size(), body), 0);
    marker = signed_file.rfind(kMarker);
    ASSERT_EQ(marker + 1, body.size());
    const size_t label_end = signed_file.find(' ', marker + kMarker.size());
    sig_text =
        signed_file.substr(label_end + 1, signed_file.size() - label_end - 2);  // without the LF
    ASSERT_EQ(sig_text.size(), 88u);
    sig_at = label_end + 1;
  }

  // The file with its trailer's Base64 replaced.
  std::string with_sig_text(const std::string& text) const {
    return signed_file.substr(0, sig_at) + text + "\n";
  }

  std::string body, signed_file, sig_text;
  size_t marker = 0, sig_at = 0;
};

TEST_F(SigTrailer, SignedFixtureVerifiesAndReportsTheSignedLength) {
  size_t n = 0;
  ASSERT_TRUE(verify(signed_file, &n));
  EXPECT_EQ(n, body.size()) << "the signed bytes end with the marker's line feed";
  EXPECT_TRUE(verify(signed_file, nullptr));
}

TEST_F(SigTrailer, LineEndsAndWhatFollowsTheSignature) {
  const std::string head = signed_file.substr(0, sig_at);
  struct Case {
    std::string file;
    bool ok;
    const char* why;
  } cases[] = {
      {head + sig_text, true, "ends at the end of the file without a line feed"},
      {head + sig_text + "\r\n", true, "CR LF after the signature"},
      {head + sig_text + "\r", true, "a lone CR after the signature"},
      {head + sig_text + "\nmore text\n", true, "text after the trailer line is not read"},
      {head + sig_text.substr(0, 86) + "\n", true, "no padding: the decoder stops at the data"},
      {head + sig_text.substr(0, 86) + "=\n", true, "one = of padding"},
      {head + sig_text.substr(0, 40) + " " + sig_text.substr(40) + "\n", false,
       "a blank inside the Base64"},
      {head + sig_text.substr(0, 40) + "\t" + sig_text.substr(40) + "\n", false,
       "a tab inside the Base64"},
      {head + sig_text.substr(0, 84) + "==\n", false, "63 bytes"},
      {head + sig_text.substr(0, 86) + "AAAA==\n", false, "a 65th byte"},
      {head + sig_text.substr(0, 86) + std::string(60, 'A') + "\n", false,
       "more than 127 bytes: the first 127 decode too long"},
      {head + sig_text + "AAAA\n", true, "bytes after the first = are not read"},
      {head + "\n", false, "no signature text"},
      {head, false, "nothing after the label's blank"},
      {signed_file.substr(0, marker + kMarker.size()) + "test", false, "no blank after the label"},
      {signed_file.substr(0, marker + kMarker.size()), false, "nothing after the marker"},
      {signed_file.substr(0, marker + kMarker.size()) + " " + sig_text + "\n", true,
       "an empty label"},
      {signed_file.substr(0, marker + kMarker.size()) + "another-label " + sig_text + "\n", true,
       "the label is not compared"},
      {body, false, "no trailer"},
      {"", false, "empty file"},
      {kMarker.substr(0, 14), false, "shorter than the marker"},
      {signed_file.substr(marker + 1), false,
       "a trailer at the very start has no line feed before it"},
  };
  for (const Case& c : cases) EXPECT_EQ(verify(c.file), c.ok) << c.why;
}

TEST_F(SigTrailer, TheLastTrailerCounts) {
  // Signed again over the signed file: two trailers, the first inside the second's signed bytes.
  const std::string twice = test::read_fixture("profiles_signed_twice.cfg");
  size_t n = 0;
  ASSERT_TRUE(verify(twice, &n));
  EXPECT_EQ(n, signed_file.size());
  // A valid trailer followed by a bad one: the bad one is judged.
  EXPECT_FALSE(verify(signed_file + "# sig ed25519 test " + std::string(86, 'A') + "==\n"));
  // The same good trailer line twice: the second signs the body plus the first line, so fails.
  EXPECT_FALSE(verify(signed_file + signed_file.substr(marker + 1)));
}

TEST_F(SigTrailer, OnlyTheProfilesKeyIsTrusted) {
  const std::string by_release = test::read_fixture("profiles_signed_release_key.cfg");
  ASSERT_FALSE(by_release.empty());
  EXPECT_FALSE(verify(by_release)) << "the release key does not sign profiles";
  EXPECT_TRUE(verify_sig_trailer_with_key(reinterpret_cast<const uint8_t*>(by_release.data()),
                                          by_release.size(), release_key(), nullptr));
  EXPECT_TRUE(profiles_key_is_test_key());
}

TEST_F(SigTrailer, BodyRewrittenWithCrLfFails) {
  // The signed bytes are the file's bytes: a copy whose lines were turned into CR LF is not the
  // signed text.
  std::string crlf;
  for (char c : body) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  EXPECT_FALSE(verify(crlf + signed_file.substr(marker + 1)));
}

TEST(SigTrailerBytes, CrLfAndA1AByteAreSignedAsTheyAre) {
  // Read as bytes: a text-mode read would turn CR LF into LF, or end the file at the 0x1A.
  const std::string body = test::read_fixture("profiles_crlf_body.txt");
  const std::string file = test::read_fixture("profiles_crlf_signed.cfg");
  ASSERT_NE(body.find('\x1a'), std::string::npos);
  ASSERT_NE(body.find("\r\n"), std::string::npos);
  size_t n = 0;
  ASSERT_TRUE(verify(file, &n));
  EXPECT_EQ(n, body.size());
  std::string lf;
  for (char c : body)
    if (c != '\r') lf += c;
  EXPECT_FALSE(verify(lf + file.substr(body.size())));
  EXPECT_FALSE(verify(body.substr(0, body.find('\x1a')) + file.substr(body.size())));
}

TEST_F(SigTrailer, EverySingleBitFlipIsRefused) {
  // The signed part, the marker included.
  for (size_t i = 0; i < marker + kMarker.size(); ++i)
    for (int b = 0; b < 8; ++b) {
      std::string f = signed_file;
      f[i] = static_cast<char>(f[i] ^ (1 << b));
      EXPECT_FALSE(verify(f)) << "byte " << i << " bit " << b;
    }
  // Each bit of the 64 signature bytes, re-encoded.
  std::vector<uint8_t> sig;
  ASSERT_TRUE(base64_decode(sig_text, sig));
  ASSERT_EQ(sig.size(), 64u);
  for (size_t i = 0; i < 64; ++i)
    for (int b = 0; b < 8; ++b) {
      std::vector<uint8_t> s = sig;
      s[i] ^= static_cast<uint8_t>(1 << b);
      EXPECT_FALSE(verify(with_sig_text(test::base64_encode(s.data(), s.size()))))
          << "sig byte " << i << " bit " << b;
    }
  // Each bit of the Base64 text: refused, unless the flip lands where the text carries no
  // signature bits (the unused low bits of the last data character, the padding after the first
  // "=") and the 64 bytes are unchanged.
  for (size_t i = 0; i < sig_text.size(); ++i)
    for (int b = 0; b < 8; ++b) {
      std::string t = sig_text;
      t[i] = static_cast<char>(t[i] ^ (1 << b));
      std::vector<uint8_t> decoded;
      const bool same =
          (i == 85 || i == 87) && base64_decode(t.substr(0, 86), decoded) && decoded == sig;
      EXPECT_EQ(verify(with_sig_text(t)), same) << "text byte " << i << " bit " << b;
    }
}

TEST_F(SigTrailer, LabelIsNotSigned) {
  // The label names the key for people; it is neither signed nor compared. A flip that keeps it
  // one word keeps the file valid; one that makes a blank splits the label and fails.
  const size_t label_at = marker + kMarker.size();
  for (size_t i = label_at; i + 1 < sig_at; ++i)
    for (int b = 0; b < 8; ++b) {
      std::string f = signed_file;
      f[i] = static_cast<char>(f[i] ^ (1 << b));
      EXPECT_EQ(verify(f), f[i] != ' ') << "label byte " << i - label_at << " bit " << b;
    }
}

}  // namespace
}  // namespace ks::tray
