// x32-sim: the X32/M32 stand-in as a program of its own.
//   x32-sim --address 127.0.0.x [--name N] [--model M] [--version V] [--card 11]
// Runs until killed. Lines on standard input drive it:
//   change <address> <i|f|s> <value>   a change at the desk, sent to the subscribers
//   burst <count> <ms>                 a scene load
//   silent on|off, drop <n>, quit
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "sim/x32/x32_sim.h"

using ks::sim::X32Sim;

int main(int argc, char** argv) {
  X32Sim::Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string k = argv[i], v = argv[i + 1];
    if (k == "--address")
      o.address = v;
    else if (k == "--name")
      o.name = v;
    else if (k == "--model")
      o.model = v;
    else if (k == "--version")
      o.version = v;
    else if (k == "--card")
      o.card_type = std::atoi(v.c_str());
    else {
      std::fprintf(stderr, "x32-sim: unknown option %s\n", k.c_str());
      return 2;
    }
  }
  X32Sim sim;
  if (!sim.start(o)) {
    std::fprintf(stderr, "x32-sim: cannot listen on %s:%u (loopback addresses only)\n",
                 o.address.c_str(), o.port);
    return 1;
  }
  std::printf("x32-sim: %s (%s) listening on %s:%u\n", o.name.c_str(), o.model.c_str(),
              o.address.c_str(), o.port);
  std::fflush(stdout);

  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd == "quit") return 0;
    if (cmd == "change") {
      std::string address, type, value;
      in >> address >> type >> value;
      if (type == "i")
        sim.desk_change(address, ks::sim::osc_i(std::atoi(value.c_str())));
      else if (type == "f")
        sim.desk_change(address, ks::sim::osc_f(float(std::atof(value.c_str()))));
      else
        sim.desk_change(address, ks::sim::osc_s(value));
    } else if (cmd == "burst") {
      int count = 200, ms = 300;
      in >> count >> ms;
      sim.scene_load(count, ms);
    } else if (cmd == "silent") {
      std::string on;
      in >> on;
      sim.set_silent(on == "on");
    } else if (cmd == "drop") {
      int n = 0;
      in >> n;
      sim.set_drop_every(n);
    } else if (!cmd.empty()) {
      std::fprintf(stderr, "x32-sim: unknown command %s\n", cmd.c_str());
    }
  }
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}
