// The WING control link's receive side: any byte stream, received in any pieces, is cut into
// items that stay inside the buffer, and every node item goes through the reply slot safely.
#include <cstring>

#include "desk/wing/wing_codec.h"
#include "desk/wing/wing_parse.h"
#include "tests/support/fuzz_check.h"

namespace {

using namespace ks;

struct Sink : RxSink {
  ReplySlot slot;
  void on_node_item(const uint8_t* item, size_t len) override {
    KS_FUZZ_CHECK(len >= 1 && len <= kRxMaxItem && item[0] == kNodeItem);
    size_t token = 0;
    KS_FUZZ_CHECK(token_length(item, len, &token) == TokenScan::kComplete && token == len);
    double v;
    uint8_t flag;
    decode_value(item, len, &v, &flag);
    slot.take_node_item(item, len, (len & 1) != 0);
    KS_FUZZ_CHECK(slot.fill <= kReplyCapacity);
  }
  void on_block(const uint8_t* block, size_t len) override {
    KS_FUZZ_CHECK(len >= 1 && len <= kRxMaxItem);
    slot.take_block(block, len);
    KS_FUZZ_CHECK(slot.fill <= kReplyCapacity);
  }
  void on_end_mark() override { slot.take_end_mark(); }
  void on_rx_error(RxError, size_t) override {}
};

RxStream g_stream;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the receive size, the second what the request in flight expects.
  size_t chunk = size_t(data[0]) * 8 + 1;
  uint8_t mode = data[1];
  data += 2;
  size -= 2;
  Sink sink;
  sink.slot.arm((mode & 1) != 0, (mode & 2) ? 0x12345678u : 0u, (mode & 4) != 0);
  g_stream.reset();
  for (size_t off = 0; off < size; off += chunk) {
    size_t n = size - off < chunk ? size - off : chunk;
    g_stream.feed(data + off, n, sink);
    KS_FUZZ_CHECK(g_stream.buffered() <= kRxBufferSize);
  }
  return 0;
}
