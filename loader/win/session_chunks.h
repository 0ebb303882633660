// The box and wrapper slots that carry session chunks (see session_chunks.cpp).
#pragma once

#include "loader/win/loader_core.h"

namespace ks {

uint64_t KS_ABI box_get_chunk(IoBox* box, ChunkSink* sink);   // IoBox slot 13
uint64_t KS_ABI box_set_chunk(IoBox* box, const char* text);  // IoBox slot 12
uint64_t KS_ABI chunk_info_decode(ChunkInfoSupport* self, const char* text, ChunkDecodeSink* out,
                                  int64_t n);
uint64_t KS_ABI chunk_info_op2(ChunkInfoSupport* self, const char* text, uint64_t a, uint64_t b);
uint64_t KS_ABI channels_scene_recall(ChannelsChunkSupport* self, const uint32_t* channels,
                                      uint32_t count, uint64_t a, uint64_t b, const char* chunk);

}  // namespace ks
