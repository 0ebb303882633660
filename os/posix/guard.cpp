// On the host there are no structured exceptions: the body runs and counts as returned.
#include "os/guard.h"

extern "C" int ks_guarded_call(void (*body)(void*), void* ctx, uint32_t*) {
  body(ctx);
  return 1;
}
