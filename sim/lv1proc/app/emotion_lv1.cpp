// Stand-in for LV1's process: it exists under LV1's name until it is ended, or at most the
// number of seconds given as its argument (default 600), so a test that dies leaves no process.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 600;
  if (seconds <= 0 || seconds > 3600) seconds = 600;
  Sleep(static_cast<DWORD>(seconds) * 1000);
  return 0;
}
