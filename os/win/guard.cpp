// The language handler of ks_guarded_call (os/win/guard.S).
#include "os/guard.h"

#include <windows.h>

#include "os/win/guard_frame.h"

extern "C" void ks_guard_landing();

extern "C" EXCEPTION_DISPOSITION ks_guard_handler(EXCEPTION_RECORD* rec, void* frame, CONTEXT* ctx,
                                                  DISPATCHER_CONTEXT* dc) {
  if (rec->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  // g++'s own throw ("GCC" codes) is for the thrower's own catch; unwinding it here would
  // leave g++'s unwinder half done.
  if ((rec->ExceptionCode & 0xFFFFFF) == 0x474343) return ExceptionContinueSearch;
  uint32_t* out = *reinterpret_cast<uint32_t**>(static_cast<char*>(frame) + KS_GUARD_OUT_SLOT);
  if (out) *out = rec->ExceptionCode;
  RtlUnwindEx(frame, reinterpret_cast<void*>(&ks_guard_landing), rec, nullptr, ctx,
              dc->HistoryTable);
  return ExceptionContinueSearch;  // not reached
}
