// Receive side of the WING control link as pure code: the stream of received bytes is
// un-escaped into a buffer, cut into items (node values, blocks, end marks), and each node item
// is either the reply to the one request in flight or a value the desk pushed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "desk/wing/wing_codec.h"

namespace ks {

constexpr size_t kRxBufferSize = 8192;
constexpr size_t kRxReceiveChunk = 2048;
// More unparsed bytes than this can only be garbage: the buffer is dropped.
constexpr size_t kRxResyncAt = 6145;
// Longest item waited for. A longer one cannot complete inside the buffer, so it is discarded
// as it arrives rather than ever parsing its payload as tokens.
constexpr size_t kRxMaxItem = kRxResyncAt - 1;
constexpr size_t kReplyCapacity = 320;

// The request in flight as the parser sees it.
struct PendingRequest {
  bool pending = false;
  bool block_reply = false;    // the reply is a block (a node definition)
  bool multi_part = false;     // every node item up to an end mark
  uint32_t expected_hash = 0;  // 0: none learned yet
};

enum class ItemAction { kPush, kReply, kAppend, kSkip };

// Reply-or-push decision for one complete node item.
ItemAction classify_node_item(const PendingRequest& p, uint32_t hash, bool hash_known,
                              size_t item_len, size_t reply_fill);

// The reply being collected. Callers serialise every call (the link holds its pending lock).
// `seq` grows with every arm, so a waiter can tell its own reply from an older one.
//
// A desk may close every data and definition request with an end mark, also when the value
// itself already answered it; such a trailing mark can arrive after the next request was armed.
// So an end mark completes a multi-part reply only when it is that reply's own: an item of the
// reply came first, or no earlier request is still owed its end mark. Any other end mark is
// counted off as an earlier request's. A desk that sends no trailing marks costs nothing but a
// time-out on an empty whole-node answer, which fails in any case.
struct ReplySlot {
  PendingRequest req;
  uint32_t seq = 0;
  bool done = false;  // complete reply held; only this counts as success
  uint8_t buf[kReplyCapacity];
  uint32_t fill = 0;
  uint32_t items = 0;      // items of the multi-part reply seen, kept or skipped
  uint32_t ends_owed = 0;  // earlier requests whose trailing end mark may still come

  uint32_t arm(bool block_reply, uint32_t expected_hash, bool multi_part);
  void disarm();
  // The link dropped: a half-collected reply is thrown away. True when a request was waiting.
  bool abort();
  // Each returns the action taken; kReply (and an end mark) complete the request.
  ItemAction take_node_item(const uint8_t* item, size_t len, bool hash_known);
  bool take_block(const uint8_t* block, size_t len);  // true: became the reply
  // True: completed a multi-part reply. Otherwise the mark is counted off as an earlier one's.
  bool take_end_mark();
};

enum class RxError {
  kUnknownToken,  // node item whose value token is unknown (or another header): header skipped
  kEmptyBlock,    // a block without payload (DF 00 00 00 00 00 00) at the top level: skipped
  kOversize,      // item longer than the buffer can hold: discarded
  kResync,        // unparsable pile-up: buffer dropped
};

class RxSink {
public:
  virtual void on_node_item(const uint8_t* item, size_t len) = 0;  // D7, hash, value token
  virtual void on_block(const uint8_t* block, size_t len) = 0;     // DF, length, payload
  virtual void on_end_mark() = 0;
  virtual void on_rx_error(RxError e, size_t bytes) = 0;

protected:
  ~RxSink() = default;
};

// Receive buffer and un-escape state, owned by the receive thread.
class RxStream {
public:
  void reset();
  // Takes any number of received bytes; every complete item is handed to the sink in order.
  void feed(const uint8_t* raw, size_t n, RxSink& sink);
  size_t buffered() const { return fill_; }
  size_t discarding() const { return discard_; }

  // One pass of the item walk over `buf` (exposed for tests); returns the bytes consumed.
  size_t parse(uint8_t* buf, size_t len, RxSink& sink);

private:
  uint8_t buf_[kRxBufferSize];
  size_t fill_ = 0;
  size_t discard_ = 0;  // bytes of an oversized item still to drop
  Unescaper unescape_;
};

}  // namespace ks
