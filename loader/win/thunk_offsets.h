// Byte offsets the assembly thunks rely on. Shared by thunks.S and the C++ records, which
// static_assert against them, so the two can never drift apart.
#pragma once

#define KS_BOX_SLOTS 35
#define KS_BOX_INNER 280    /* DeviceBox: Waves' box, right after the 35 slots */
#define KS_BOX_LISTENER 320 /* DeviceBox: LV1's listener */
#define KS_BOX_SLOT_SET_LISTENER 6
#define KS_CHUNK_INFO_WAVES 32 /* ChunkInfoWrapper: Waves' own object (may be null) */
