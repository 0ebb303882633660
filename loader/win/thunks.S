/* Hand-written x64 thunks (Windows ABI).
 *
 * Box forwarders: true tail jumps. They swap the first argument for Waves' box and jump into
 * the same slot of Waves' table, leaving every register, the stack and the result untouched.
 * They have no frame, so the unwinder treats them as leaves.
 */
#include "loader/win/thunk_offsets.h"

        .text

/* Forwarder for slot k. */
        .macro  KS_FORWARD k
        .globl  ks_box_forward_\k
        .def    ks_box_forward_\k; .scl 2; .type 32; .endef
ks_box_forward_\k:
        movq    KS_BOX_INNER(%rcx), %rcx
        jmpq    *(8*\k)(%rcx)
        .endm

        .irp    k, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,33,34
        KS_FORWARD \k
        .endr

/* Table of the 35 forwarders, slot order. */
        .section .rdata,"dr"
        .p2align 3
        .globl  ks_box_forwarders
ks_box_forwarders:
        .irp    k, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,33,34
        .quad   ks_box_forward_\k
        .endr
        .text

/* Box slot 6: keep LV1's listener, then on into Waves' slot 6 with every argument as it came. */
        .globl  ks_box_set_listener
        .def    ks_box_set_listener; .scl 2; .type 32; .endef
ks_box_set_listener:
        movq    %rdx, KS_BOX_LISTENER(%rcx)
        movq    KS_BOX_INNER(%rcx), %rcx
        jmpq    *(8*KS_BOX_SLOT_SET_LISTENER)(%rcx)

/* ChunkInfoWrapper slot 0: on into Waves' slot 0 with Waves' object first; nothing when none. */
        .globl  ks_chunk_info_op0
        .def    ks_chunk_info_op0; .scl 2; .type 32; .endef
ks_chunk_info_op0:
        movq    KS_CHUNK_INFO_WAVES(%rcx), %rax
        testq   %rax, %rax
        jz      1f
        movq    %rax, %rcx
        jmpq    *(%rax)
1:      xorl    %eax, %eax
        ret

/* A slot that does nothing: returns 0 / false in RAX and 0.0 in XMM0, whatever LV1 expects. */
        .globl  ks_zero_slot
        .def    ks_zero_slot; .scl 2; .type 32; .endef
ks_zero_slot:
        xorl    %eax, %eax
        xorps   %xmm0, %xmm0
        ret
