// The other process of the cross-process tests. Exit code 0 means every step held; any other
// code names the step that failed.
//   os_peer block <shared block name> <size> <ready event name> <go event name>
//     opens the block, checks the parent's pattern in the first half, writes its own in the
//     second half, sets the ready event, then waits up to 10 s for the go event.
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/event.h"
#include "os/shared_memory.h"

int main(int argc, char** argv) {
  if (argc != 6 || std::strcmp(argv[1], "block") != 0) return 2;
  const size_t size = std::strtoul(argv[3], nullptr, 10);
  ks::SharedMemory block;
  if (!block.open(argv[2], size)) return 10;
  auto* p = static_cast<unsigned char*>(block.data());
  for (size_t i = 0; i < size / 2; ++i)
    if (p[i] != static_cast<unsigned char>(i * 7 + 1)) return 11;
  for (size_t i = size / 2; i < size; ++i) p[i] = static_cast<unsigned char>(i * 13 + 5);

  ks::Event ready, go;
  if (!ready.open_named(argv[4])) return 20;
  if (!go.open_named(argv[5])) return 21;
  ready.set();
  if (!go.wait(10000)) return 22;
  return 0;
}
