// tray_event_peer <event name> <ready event name> <wait ms>
// Creates the auto-reset event <event name> as the loader does, sets <ready event name> (made by
// the test), and waits for somebody to set the event. Exit 0: it was set; 3: not within the
// time; 1x: a step failed.
#include <cstdlib>
#include <string>

#include "os/event.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  ks::Event changed, ready;
  if (!changed.create_named(argv[1], ks::Event::Reset::automatic)) return 10;
  if (changed.existed()) return 11;  // a stale one would make the result meaningless
  if (!ready.open_named(argv[2])) return 12;
  ready.set();
  return changed.wait(static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10))) ? 0 : 3;
}
