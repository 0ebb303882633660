// wing-sim: a simulated WING console on a loopback address, for the demo and manual runs.
//   wing-sim --address 127.0.0.x [--control-port N] [--firmware TEXT] [--model TEXT]
// It serves native control on TCP 2222 and the text control port, until "quit" arrives there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "os/socket.h"
#include "sim/wing/discovery.h"
#include "sim/wing/sim_control.h"
#include "sim/wing/wing_sim.h"

int main(int argc, char** argv) {
  std::string address = "127.0.0.2";
  int control_port = ks::sim::kDefaultControlPort;
  std::string firmware;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](const char* what) -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "wing-sim: %s needs a value\n", what);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--address")
      address = next("--address");
    else if (a == "--control-port")
      control_port = std::atoi(next("--control-port").c_str());
    else if (a == "--firmware")
      firmware = next("--firmware");
    else {
      std::fprintf(stderr,
                   "usage: wing-sim --address 127.0.0.x [--control-port N] [--firmware TEXT]\n");
      return 2;
    }
  }
  auto addr = ks::parse_ipv4(address);
  if (!addr || (*addr >> 24) != 127) {
    std::fprintf(
        stderr, "wing-sim: %s is not a loopback address - this simulator serves 127.0.0.0/8 only\n",
        address.c_str());
    return 2;
  }
  if (control_port <= 0 || control_port > 65535) {
    std::fprintf(stderr, "wing-sim: bad control port\n");
    return 2;
  }
  ks::sim::WingSim sim;
  if (!firmware.empty()) sim.set_firmware(firmware);
  if (!sim.start(*addr)) {
    std::fprintf(stderr, "wing-sim: cannot listen on %s:2222\n", address.c_str());
    return 1;
  }
  // Discovery ("WING?" on UDP 2222) and the card questions (UDP 2223) on the same address.
  ks::sim::DiscoveryBehaviour found;
  found.line = sim.identity_line();
  ks::sim::DiscoveryResponder discovery;
  if (!discovery.start(*addr, found)) {
    std::fprintf(stderr, "wing-sim: cannot listen on %s UDP 2222/2223 for discovery\n",
                 address.c_str());
    return 1;
  }
  ks::sim::SimControl control(sim);
  if (!control.start(*addr, uint16_t(control_port))) {
    std::fprintf(stderr, "wing-sim: cannot listen on %s:%d for control\n", address.c_str(),
                 control_port);
    return 1;
  }
  std::printf("wing-sim: %s listening on %s:2222, control on port %d\n",
              sim.identity_line().c_str(), address.c_str(), control_port);
  std::fflush(stdout);
  while (!control.quit_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  control.stop();
  discovery.stop();
  sim.stop();
  return 0;
}
