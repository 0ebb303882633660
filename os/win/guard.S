/* ks_guarded_call: the one structured-exception guard around calls into LV1's objects. g++ has
 * no __try; a frame with its own language handler is the only guard that sees LV1's faults after
 * LV1's own handlers declined them (a vectored handler would steal LV1's exceptions first).
 *
 * int ks_guarded_call(void (*body)(void*), void* ctx, uint32_t* code)
 * Runs body(ctx). Returns 1, or 0 when an exception left body; *code (when not null) then
 * holds the exception code. ks_guard_handler unwinds to ks_guard_landing. */
#include "os/win/guard_frame.h"

        .text
        .globl  ks_guarded_call
        .globl  ks_guard_landing
        .def    ks_guarded_call; .scl 2; .type 32; .endef
        .seh_proc ks_guarded_call
ks_guarded_call:
        subq    $56, %rsp
        .seh_stackalloc 56
        .seh_endprologue
        .seh_handler ks_guard_handler, @except
        movq    %r8, KS_GUARD_OUT_SLOT(%rsp)
        movq    %rcx, %rax
        movq    %rdx, %rcx
        callq   *%rax
        nop
        movl    $1, %eax
        addq    $56, %rsp
        ret
ks_guard_landing:
        xorl    %eax, %eax
        addq    $56, %rsp
        ret
        .seh_endproc
