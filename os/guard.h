// The structured-exception guard around every call into an object of LV1's. A fault or a raised
// exception inside the call is caught here and the call counts as failed; LV1's own handlers
// still see everything they catch themselves. On the host there is nothing to catch with, so the
// body simply runs (the native tests exercise the callers' paths, the Wine tier the guard).
#pragma once

#include <cstdint>

extern "C" {
// Runs body(ctx); 1 when it returned, 0 when an exception (fault or raised) left it, with the
// exception code in *code when code is not null. The body must take no lock and own nothing
// with a destructor: a caught fault skips the destructors of every frame between here and it.
int ks_guarded_call(void (*body)(void*), void* ctx, uint32_t* code);
}

namespace ks {

// Runs f() under the guard. f is a small lambda that only calls into LV1.
template <class F>
bool guarded(F& f, uint32_t* code = nullptr) {
  return ks_guarded_call([](void* p) { (*static_cast<F*>(p))(); }, &f, code) != 0;
}

}  // namespace ks
