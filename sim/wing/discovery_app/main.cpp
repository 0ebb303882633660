// wing-discovery-sim: the discovery side of a simulated WING, for subnet tests in private
// network namespaces (it binds any address there, so that it hears broadcasts).
//   wing-discovery-sim --ip TEXT --serial TEXT [--name TEXT] [--card wsg|none|silent] [--bind
//   A.B.C.D]
// Runs until it is killed.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "os/adapters.h"
#include "sim/wing/discovery.h"

int main(int argc, char** argv) {
  std::string ip, serial, name = "Sim WING", card = "wsg", bind = "0.0.0.0";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string k = argv[i], v = argv[i + 1];
    if (k == "--ip")
      ip = v;
    else if (k == "--serial")
      serial = v;
    else if (k == "--name")
      name = v;
    else if (k == "--card")
      card = v;
    else if (k == "--bind")
      bind = v;
    else {
      std::fprintf(stderr, "wing-discovery-sim: unknown option %s\n", k.c_str());
      return 2;
    }
  }
  auto addr = ks::parse_ipv4(bind);
  if (ip.empty() || !addr) {
    std::fprintf(
        stderr,
        "usage: wing-discovery-sim --ip TEXT --serial TEXT [--name TEXT] [--card wsg|none|silent] [--bind A.B.C.D]\n");
    return 2;
  }
  // It answers whoever asks, broadcasts included: run it only where nothing but loopback and
  // the test networks (TEST-NET-2 and -3) can hear it, i.e. in a namespace a test made.
  for (const auto& a : ks::system_ipv4_adapters()) {
    uint32_t net24 = a.address & 0xFFFFFF00u;
    if ((a.address >> 24) != 127 && net24 != 0xC6336400u && net24 != 0xCB007100u) {
      std::fprintf(
          stderr,
          "wing-discovery-sim: %s is not a test network - run me in a private network namespace\n",
          ks::format_ipv4(a.address).c_str());
      return 3;
    }
  }
  ks::sim::DiscoveryBehaviour b;
  b.line = ks::sim::wing_identity_line(ip, name, "ngc-full", serial, "3.1-0-gsim");
  if (card == "none")
    b.opt_mod = b.card_type = "NONE";
  else if (card == "silent")
    b.opt_mod = b.card_type = "";
  ks::sim::DiscoveryResponder r;
  if (!r.start(*addr, b)) {
    std::fprintf(stderr, "wing-discovery-sim: cannot bind UDP 2222/2223 on %s\n", bind.c_str());
    return 1;
  }
  std::printf("wing-discovery-sim: %s\n", b.line.c_str());
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}
