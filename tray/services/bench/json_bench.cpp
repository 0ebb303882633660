// Throughput of the JSON reader and the Base64 decoder on an update reply at its size limit
// (256 KiB): build/native/tray/services/tray_services_bench
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tray/services/base64.h"
#include "tray/services/json.h"

int main() {
  using clock = std::chrono::steady_clock;
  // A release reply: entries with names, URLs, hashes, sizes and signatures.
  std::string reply = "{\"manifest\":{\"format\":\"kestrune-release/1\",\"entries\":[";
  for (int i = 0; reply.size() < 256 * 1024 - 400; ++i) {
    char entry[400];
    std::snprintf(
        entry, sizeof entry,
        "%s{\"file\":\"wing-3.%d.0.dll\",\"url\":\"https://example.invalid/m/%d\",\"sha256\":\"%064d\","
        "\"size\":%d,\"abi\":3,\"sig\":\"%086d==\"}",
        i ? "," : "", i, i, i, 100000 + i, i);
    reply += entry;
  }
  reply += "]}}";

  const int rounds = 200;
  auto t0 = clock::now();
  size_t members = 0;
  for (int r = 0; r < rounds; ++r) {
    ks::tray::JsonValue v;
    if (!ks::tray::parsed_then_blank(reply, v)) {
      std::fprintf(stderr, "the reply did not parse\n");
      return 1;
    }
    members += v.members.size();
  }
  double s = std::chrono::duration<double>(clock::now() - t0).count();
  std::printf("json: %zu bytes x %d in %.3f s: %.1f MB/s, %.2f ms per reply\n", reply.size(),
              rounds, s, reply.size() * rounds / s / 1e6, s / rounds * 1e3);

  std::string b64;
  while (b64.size() < 1 << 20) b64 += "QUJDRGVm";
  std::vector<uint8_t> out;
  t0 = clock::now();
  for (int r = 0; r < 50; ++r)
    if (!ks::tray::base64_decode(b64, out) || out.size() != (1u << 20) / 4 * 3) {
      std::fprintf(stderr, "the Base64 text did not decode\n");
      return 1;
    }
  s = std::chrono::duration<double>(clock::now() - t0).count();
  std::printf("base64: 1 MiB x 50 in %.3f s: %.1f MB/s\n", s, 50.0 * (1 << 20) / s / 1e6);
  return members ? 0 : 1;
}
