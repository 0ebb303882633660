#include "desk/wing/wing_parse.h"

#include <cstring>

namespace ks {

ItemAction classify_node_item(const PendingRequest& p, uint32_t hash, bool hash_known,
                              size_t item_len, size_t reply_fill) {
  if (p.pending && p.multi_part)
    return reply_fill + item_len <= kReplyCapacity ? ItemAction::kAppend : ItemAction::kSkip;
  if (!p.pending || p.block_reply) return ItemAction::kPush;
  if (p.expected_hash != 0) return hash == p.expected_hash ? ItemAction::kReply : ItemAction::kPush;
  return hash_known ? ItemAction::kPush : ItemAction::kReply;
}

namespace {
// Far more requests than ever go unanswered in a row; keeps the count from wrapping.
constexpr uint32_t kMaxEndsOwed = 1u << 20;
void owe_end(uint32_t& owed) {
  if (owed < kMaxEndsOwed) ++owed;
}
}  // namespace

uint32_t ReplySlot::arm(bool block_reply, uint32_t expected_hash, bool multi_part) {
  req.pending = true;
  req.block_reply = block_reply;
  req.multi_part = multi_part;
  req.expected_hash = expected_hash;
  done = false;
  fill = 0;
  items = 0;
  // A single value or a block completes this request; its end mark, if any, trails.
  if (!multi_part) owe_end(ends_owed);
  return ++seq;
}

void ReplySlot::disarm() {
  // A multi-part request given up before its end mark still gets one later.
  if (req.pending && req.multi_part) owe_end(ends_owed);
  req = PendingRequest{};
}

bool ReplySlot::abort() {
  bool was = req.pending;
  req.pending = false;
  done = false;
  fill = 0;
  items = 0;
  ends_owed = 0;  // a new connection owes nothing
  return was;
}

ItemAction ReplySlot::take_node_item(const uint8_t* item, size_t len, bool hash_known) {
  uint32_t hash = read_be32(item + 1);
  ItemAction a = classify_node_item(req, hash, hash_known, len, fill);
  switch (a) {
    case ItemAction::kAppend:
      std::memcpy(buf + fill, item, len);
      fill += uint32_t(len);
      [[fallthrough]];
    case ItemAction::kSkip:
      // The desk answers in order: once this reply has begun, no earlier end mark can follow.
      ++items;
      ends_owed = 0;
      break;
    case ItemAction::kReply: {
      size_t take = len < kReplyCapacity ? len : kReplyCapacity;
      std::memcpy(buf, item, take);
      fill = uint32_t(take);
      req.pending = false;
      done = true;
      ends_owed = 1;  // only this request's own mark can still come
      break;
    }
    default: break;
  }
  return a;
}

bool ReplySlot::take_block(const uint8_t* block, size_t len) {
  if (!req.pending || !req.block_reply) return false;
  size_t take = len < kReplyCapacity ? len : kReplyCapacity;
  std::memcpy(buf, block, take);
  fill = uint32_t(take);
  req.pending = false;
  done = true;
  ends_owed = 1;
  return true;
}

bool ReplySlot::take_end_mark() {
  if (req.pending && req.multi_part && (items > 0 || ends_owed == 0)) {
    req.pending = false;
    done = true;
    return true;
  }
  if (ends_owed > 0) --ends_owed;
  return false;
}

void RxStream::reset() {
  fill_ = 0;
  discard_ = 0;
  unescape_.reset();
}

size_t RxStream::parse(uint8_t* buf, size_t len, RxSink& sink) {
  size_t i = 0;
  while (i < len) {
    const uint8_t* p = buf + i;
    size_t avail = len - i;
    uint8_t b = p[0];
    if (b == kNodeItem) {
      if (avail < 5) break;
      size_t item = 0;
      // A node item's value is a value token; a nested item header there is as meaningless as
      // an unknown token (and would let a chain of headers swallow the replies behind it).
      TokenScan s =
          (avail > 5 && p[5] == kNodeItem) ? TokenScan::kUnknown : token_length(p, avail, &item);
      if (s == TokenScan::kUnknown) {
        // Waiting for more bytes cannot help: skip the header and carry on with what follows.
        sink.on_rx_error(RxError::kUnknownToken, 5);
        i += 5;
        continue;
      }
      if (s == TokenScan::kNeedMore) {
        if (item > kRxMaxItem) {
          discard_ = item - avail;
          sink.on_rx_error(RxError::kOversize, item);
          return len;
        }
        break;
      }
      if (item > kRxMaxItem) {
        sink.on_rx_error(RxError::kOversize, item);
        i += item;
        continue;
      }
      sink.on_node_item(p, item);
      i += item;
    } else if (b == kBlock) {
      // Short form DF <u16 length> or long form DF 00 00 <u32 length>: either way the block is
      // taken or skipped whole, its payload never read as tokens.
      size_t header = 0, item = 0;
      if (!block_header(p, avail, &header, &item)) break;
      if (item == header) {
        sink.on_rx_error(RxError::kEmptyBlock, item);
        i += item;
        continue;
      }
      if (item > kRxMaxItem) {
        if (item > avail) {
          discard_ = item - avail;
          sink.on_rx_error(RxError::kOversize, item);
          return len;
        }
        sink.on_rx_error(RxError::kOversize, item);
        i += item;
        continue;
      }
      if (item > avail) break;
      sink.on_block(p, item);
      i += item;
    } else if (b == kEndOfReply) {
      sink.on_end_mark();
      ++i;
    } else {
      ++i;  // stray byte between items
    }
  }
  return i;
}

void RxStream::feed(const uint8_t* raw, size_t n, RxSink& sink) {
  while (n > 0) {
    size_t used = 0;
    fill_ += unescape_.run(raw, n, buf_ + fill_, sizeof buf_ - 1 - fill_, &used);
    raw += used;
    n -= used;
    if (discard_ > 0) {
      size_t drop = discard_ < fill_ ? discard_ : fill_;
      std::memmove(buf_, buf_ + drop, fill_ - drop);
      fill_ -= drop;
      discard_ -= drop;
    }
    size_t done = parse(buf_, fill_, sink);
    std::memmove(buf_, buf_ + done, fill_ - done);
    fill_ -= done;
    if (fill_ >= kRxResyncAt || (used == 0 && n > 0)) {
      sink.on_rx_error(RxError::kResync, fill_);
      fill_ = 0;
    }
  }
}

}  // namespace ks
