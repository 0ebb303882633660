// The frame of ks_guarded_call, shared by its assembly and its language handler.
#pragma once

#define KS_GUARD_OUT_SLOT 32 /* where the code pointer sits in the guard's frame */
