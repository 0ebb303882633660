// Structured-exception guard and readability checks for everything that comes from, or goes
// into, LV1's process memory. Windows only.
#pragma once

#include <cstddef>
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

// True when all n bytes at p are committed and readable now. Checks the page map instead of
// probing, so a bad pointer never raises a fault that the access-violation log would count.
bool is_readable(const void* p, size_t n);

// Length of the text at s when it is readable and ends within cap bytes; -1 otherwise (null,
// unreadable before its end, or no terminator among the first cap bytes).
ptrdiff_t readable_length(const char* s, size_t cap);

}  // namespace ks
