// SHA-512 throughput and the time to verify a 1 MiB module file, ours beside OpenSSL's in the
// same run. Prints one line per measurement and the ratio (ours / OpenSSL, speed).
#include "crypto/ed25519.h"
#include "crypto/sha512.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Best of several rounds, in seconds per call.
template <class F>
double best_seconds(int rounds, int calls, F&& f) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i) f();
    double s = std::chrono::duration<double>(Clock::now() - t0).count() / calls;
    if (s < best) best = s;
  }
  return best;
}

}  // namespace

int main() {
  std::mt19937_64 rng(1);
  std::vector<uint8_t> file(1 << 20);
  for (auto& b : file) b = uint8_t(rng());

  uint8_t digest[64];
  unsigned dn = 0;
  volatile uint8_t sink = 0;
  double ours = best_seconds(5, 16, [&] {
    ks::sha512(file.data(), file.size(), digest);
    sink = sink ^ digest[0];
  });
  double theirs = best_seconds(5, 16, [&] {
    EVP_Digest(file.data(), file.size(), digest, &dn, EVP_sha512(), nullptr);
    sink = sink ^ digest[0];
  });
  const double mib = double(file.size()) / (1 << 20);
  std::printf("sha512 1 MiB: ours %.0f MiB/s, OpenSSL %.0f MiB/s, ratio %.2f\n", mib / ours,
              mib / theirs, theirs / ours);

  uint8_t seed[32];
  for (auto& b : seed) b = uint8_t(rng());
  EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
  uint8_t pk[32], sig[64];
  size_t n = 32;
  EVP_PKEY_get_raw_public_key(key, pk, &n);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  n = 64;
  EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key);
  EVP_DigestSign(ctx, sig, &n, file.data(), file.size());
  EVP_MD_CTX_free(ctx);
  if (!ks::ed25519_verify(sig, file.data(), file.size(), pk)) {
    std::printf("our verify refused OpenSSL's signature\n");
    return 1;
  }

  double v_ours = best_seconds(
      5, 8, [&] { sink = sink ^ ks::ed25519_verify(sig, file.data(), file.size(), pk); });
  double v_theirs = best_seconds(5, 8, [&] {
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestVerifyInit(c, nullptr, nullptr, nullptr, key);
    sink = sink ^ EVP_DigestVerify(c, sig, 64, file.data(), file.size());
    EVP_MD_CTX_free(c);
  });
  std::printf("verify 1 MiB file: ours %.2f ms, OpenSSL %.2f ms, ratio %.2f\n", v_ours * 1e3,
              v_theirs * 1e3, v_theirs / v_ours);

  // The curve part alone (empty message), where the no-tables ladder shows.
  double e_ours =
      best_seconds(5, 20, [&] { sink = sink ^ ks::ed25519_verify(sig, nullptr, 0, pk); });
  double e_theirs = best_seconds(5, 20, [&] {
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestVerifyInit(c, nullptr, nullptr, nullptr, key);
    sink = sink ^ EVP_DigestVerify(c, sig, 64, nullptr, 0);
    EVP_MD_CTX_free(c);
  });
  std::printf("verify empty message: ours %.3f ms, OpenSSL %.3f ms, ratio %.2f\n", e_ours * 1e3,
              e_theirs * 1e3, e_theirs / e_ours);
  EVP_PKEY_free(key);
  return 0;
}
