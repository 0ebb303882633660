// A status block in memory for the bridge pages' tests, and a module stand-in that serves its
// command ring the way the console module does (reply, result, then done_seq).
#pragma once
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shared/status_block.h"
#include "tray/ui/bridge_link.h"

namespace ks::tray::test {

struct Served {
  uint32_t op;
  int32_t channel;
  uint32_t arg;
  double value;
  std::string group;
  uint32_t arg2;
};

class BridgeFixture {
public:
  BridgeFixture();
  StatusBlock& b() { return *block_; }
  BlockView view() { return {reinterpret_cast<uint8_t*>(block_.get()), sizeof(StatusBlock)}; }
  BlockBridgeLink& link() { return link_; }

  // Channel ch fed from group/input with a head amp (or not).
  void patch(int ch, const char* group, uint32_t input, bool amp = true, double gain = 20.0);
  void range(const char* group, double min, double max, double step);

  // Serves every pending record with this outcome; returns what was served.
  std::vector<Served> serve(uint32_t result, const char* reply = "");

private:
  std::unique_ptr<StatusBlock> block_;
  BlockBridgeLink link_;
};

}  // namespace ks::tray::test
