// The receive walk: reply-or-push decisions, replies split across receives, and hostile streams
// that must neither stall the parser nor turn payload bytes into pushed values.
#include "desk/wing/wing_parse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace ks {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes item(uint32_t hash, Bytes value) {
  Bytes b = {0xD7, uint8_t(hash >> 24), uint8_t(hash >> 16), uint8_t(hash >> 8), uint8_t(hash)};
  b.insert(b.end(), value.begin(), value.end());
  return b;
}
Bytes f32(float x) {
  uint32_t v;
  std::memcpy(&v, &x, 4);
  return {0xD5, uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
Bytes escape(const Bytes& data) {
  Bytes out;
  for (uint8_t b : data) {
    out.push_back(b);
    if (b == 0xDF) out.push_back(0xDE);
  }
  return out;
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Plays the link's part: one reply slot, a set of learned hashes, and a log of what came out.
struct Harness : RxSink {
  ReplySlot slot;
  std::set<uint32_t> known;
  std::vector<Bytes> pushes;
  std::vector<RxError> errors;
  int completed = 0;
  RxStream rx;

  void on_node_item(const uint8_t* p, size_t len) override {
    bool k = known.count(read_be32(p + 1)) > 0;
    ItemAction a = slot.take_node_item(p, len, k);
    if (a == ItemAction::kPush) pushes.emplace_back(p, p + len);
    if (a == ItemAction::kReply) ++completed;
  }
  void on_block(const uint8_t* p, size_t len) override {
    if (slot.take_block(p, len)) ++completed;
  }
  void on_end_mark() override {
    if (slot.take_end_mark()) ++completed;
  }
  void on_rx_error(RxError e, size_t) override { errors.push_back(e); }

  void feed(const Bytes& wire) { rx.feed(wire.data(), wire.size(), *this); }
  Bytes reply() const { return Bytes(slot.buf, slot.buf + slot.fill); }
};

TEST(WingParse, DecisionTable) {
  struct Case {
    const char* what;
    PendingRequest p;
    uint32_t hash;
    bool known;
    size_t fill;
    ItemAction want;
  };
  const Case cases[] = {
      {"nothing pending", {false, false, false, 0}, 5, false, 0, ItemAction::kPush},
      {"block request pending", {true, true, false, 0}, 5, false, 0, ItemAction::kPush},
      {"other hash than expected", {true, false, false, 7}, 5, true, 0, ItemAction::kPush},
      {"expected hash", {true, false, false, 5}, 5, true, 0, ItemAction::kReply},
      {"no hash expected, learned", {true, false, false, 0}, 5, true, 0, ItemAction::kPush},
      {"no hash expected, unlearned", {true, false, false, 0}, 5, false, 0, ItemAction::kReply},
      {"multi-part with room", {true, false, true, 0}, 5, true, 300, ItemAction::kAppend},
      {"multi-part full", {true, false, true, 0}, 5, false, 315, ItemAction::kSkip},
  };
  for (const Case& c : cases)
    EXPECT_EQ(classify_node_item(c.p, c.hash, c.known, 10, c.fill), c.want) << c.what;
}

TEST(WingParse, ReplySplitAcrossReceivesIsParsedOnceComplete) {
  Harness h;
  h.slot.arm(false, 0x11223344, false);
  Bytes wire = item(0x11223344, f32(12.5f));
  for (size_t i = 0; i + 1 < wire.size(); ++i) {
    h.feed({wire[i]});
    EXPECT_EQ(h.completed, 0);
  }
  EXPECT_EQ(h.rx.buffered(), wire.size() - 1) << "partial bytes stay at the front";
  h.feed({wire.back()});
  EXPECT_EQ(h.completed, 1);
  EXPECT_EQ(h.reply(), wire);
  EXPECT_EQ(h.rx.buffered(), 0u);
}

TEST(WingParse, LearnedPushDuringUnguardedReadIsAPush) {
  Harness h;
  h.known.insert(0xAA);
  h.slot.arm(false, 0, false);
  h.feed(item(0xAA, f32(3.0f)) + item(0xBB, f32(4.0f)));
  ASSERT_EQ(h.pushes.size(), 1u);
  EXPECT_EQ(h.pushes[0], item(0xAA, f32(3.0f)));
  EXPECT_EQ(h.reply(), item(0xBB, f32(4.0f)));
}

TEST(WingParse, MultiPartCollectsUpToEndMarkAndSkipsPastCapacity) {
  Harness h;
  h.slot.arm(false, 0, true);
  Bytes wire;
  for (uint32_t i = 1; i <= 40; ++i) wire = wire + item(i, f32(float(i)));  // 40 x 10 bytes
  h.feed(wire);
  EXPECT_EQ(h.completed, 0) << "no end mark yet";
  EXPECT_EQ(h.slot.fill, 320u);
  h.feed({0xDE});
  EXPECT_EQ(h.completed, 1);
  EXPECT_TRUE(h.slot.done);
  EXPECT_TRUE(h.pushes.empty());
  EXPECT_EQ(Bytes(h.slot.buf + 310, h.slot.buf + 320), item(32, f32(32.0f)));
}

TEST(WingParse, BlockReplyTakesBlockAndLeavesItemsAsPushes) {
  Harness h;
  h.slot.arm(true, 0, false);
  Bytes block = {0xDF, 0x00, 0x04, 1, 2, 3, 4};
  h.feed(item(9, {0x01}) + escape(block));
  EXPECT_EQ(h.pushes.size(), 1u);
  EXPECT_EQ(h.completed, 1);
  EXPECT_EQ(h.reply(), block);

  // No block request pending: a block is skipped whole, its payload never parsed.
  Harness idle;
  Bytes inner = item(0xAA, f32(1.0f));
  Bytes b2 = {0xDF, 0x00, uint8_t(inner.size())};
  idle.known.insert(0xAA);
  idle.feed(escape(b2 + inner));
  EXPECT_TRUE(idle.pushes.empty());
}

TEST(WingParse, LongValueIsCutTo315Bytes) {
  Harness h;
  h.slot.arm(false, 0x42, false);
  Bytes value = {0xDF, 0x01, 0x90};  // a 400-byte block as the value
  value.resize(3 + 400, 'n');
  h.feed(item(0x42, value));
  ASSERT_EQ(h.completed, 1);
  EXPECT_EQ(h.slot.fill, 320u);
  Bytes sent = item(0x42, value);
  EXPECT_EQ(h.reply(), Bytes(sent.begin(), sent.begin() + 320));
}

TEST(WingParse, AbortedMultiPartNeverCountsAsDone) {
  ReplySlot slot;
  slot.arm(false, 0, true);
  Bytes it = item(1, {0x01});
  EXPECT_EQ(slot.take_node_item(it.data(), it.size(), false), ItemAction::kAppend);
  EXPECT_TRUE(slot.abort());
  EXPECT_FALSE(slot.done);
  EXPECT_EQ(slot.fill, 0u);
  EXPECT_FALSE(slot.take_end_mark()) << "a late end mark completes nothing";
  EXPECT_FALSE(slot.done);
}

TEST(WingParse, ArmGivesFreshSequenceAndClearsOldReply) {
  ReplySlot slot;
  uint32_t a = slot.arm(false, 5, false);
  Bytes it = item(5, {0x01});
  slot.take_node_item(it.data(), it.size(), true);
  ASSERT_TRUE(slot.done);
  slot.disarm();
  uint32_t b = slot.arm(false, 5, false);
  EXPECT_NE(a, b);
  EXPECT_FALSE(slot.done);
  EXPECT_EQ(slot.fill, 0u);
  slot.disarm();
  // Disarmed: a late reply is a push, not stored.
  EXPECT_EQ(slot.take_node_item(it.data(), it.size(), true), ItemAction::kPush);
  EXPECT_FALSE(slot.done);
}

// Each hostile stream is followed by a valid reply to an armed request: it must still match,
// and no push may have come out of the garbage.
TEST(WingParse, HostileStreams) {
  const uint32_t kLearned = 0x0A0B0C0D;
  const Bytes fake = item(kLearned, f32(48.0f));  // what a hostile peer would like to smuggle in
  Bytes huge_block = {0xDF, 0xFF, 0xFF};
  while (huge_block.size() + fake.size() <= 65538) huge_block = huge_block + fake;
  huge_block.resize(65538, 0x00);
  // Long form: DF 00 00 and a 32-bit length. Its length bytes and payload are no tokens.
  Bytes fakes;
  for (int i = 0; i < 20; ++i) fakes = fakes + fake;
  Bytes long_block = Bytes{0xDF, 0x00, 0x00, 0x00, 0x00, 0x00, uint8_t(fakes.size())} + fakes;
  Bytes huge_long_block = {0xDF, 0x00, 0x00, 0x00, 0x01, 0x86, 0xA0};  // 100000 bytes
  while (huge_long_block.size() + fake.size() <= 100007) huge_long_block = huge_long_block + fake;
  huge_long_block.resize(100007, 0x00);
  Bytes chain;
  for (int i = 0; i < 2000; ++i) chain = chain + Bytes{0xD7, 0x01, 0x02, 0x03, 0x04};
  Bytes random_junk(7000);
  std::mt19937 rng(3);
  for (auto& b : random_junk) {
    b = uint8_t(rng());
    if (b == 0xD7 || b == 0xDF || b == 0xDE) b = 0x20;
  }

  struct Case {
    const char* what;
    Bytes junk;  // un-escaped bytes
    bool expect_error;
    RxError error;
  };
  const Case cases[] = {
      {"unknown value token", item(kLearned, {0xE3}), true, RxError::kUnknownToken},
      {"value token 0xFF", item(kLearned, {0xFF, 0x00}), true, RxError::kUnknownToken},
      {"empty block", {0xDF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, true, RxError::kEmptyBlock},
      {"oversized block with fake items inside", huge_block, true, RxError::kOversize},
      {"long block with fake items inside", long_block, false, RxError::kResync},
      {"oversized long block with fake items inside", huge_long_block, true, RxError::kOversize},
      {"oversized node value", item(kLearned, huge_block), true, RxError::kOversize},
      {"deep node chain", chain, true, RxError::kUnknownToken},
      {"random junk", random_junk, false, RxError::kResync},
      {"stray end marks", {0xDE, 0xDE, 0xDE}, false, RxError::kResync},
  };
  for (const Case& c : cases) {
    Harness h;
    h.known.insert(kLearned);
    h.feed(escape(c.junk));
    EXPECT_TRUE(h.pushes.empty()) << c.what;
    EXPECT_EQ(h.rx.discarding(), 0u) << c.what;
    if (c.expect_error) {
      ASSERT_FALSE(h.errors.empty()) << c.what;
      EXPECT_EQ(h.errors[0], c.error) << c.what;
    } else {
      EXPECT_TRUE(h.errors.empty()) << c.what;
    }
    h.slot.arm(false, 0x5150, false);
    Bytes good = item(0x5150, f32(-3.5f));
    h.feed(escape(good));
    EXPECT_EQ(h.completed, 1) << c.what;
    EXPECT_EQ(h.reply(), good) << c.what;
    EXPECT_TRUE(h.pushes.empty()) << c.what;
  }
}

// Both block forms are taken whole as a definition reply, split anywhere across receives.
TEST(WingParse, LongBlockIsTakenWholeAsTheReply) {
  Bytes payload;
  for (int i = 0; i < 40; ++i) payload = payload + item(0xAA, {0x01});  // looks like pushes
  Bytes short_form = Bytes{0xDF, 0x00, uint8_t(payload.size())} + payload;
  Bytes long_form = Bytes{0xDF, 0x00, 0x00, 0x00, 0x00, 0x00, uint8_t(payload.size())} + payload;
  for (const Bytes& block : {short_form, long_form}) {
    for (size_t cut : {size_t(1), size_t(3), size_t(5), size_t(7), size_t(100)}) {
      Harness h;
      h.known.insert(0xAA);
      h.slot.arm(true, 0, false);
      Bytes wire = escape(block);
      h.feed(Bytes(wire.begin(), wire.begin() + cut));
      EXPECT_EQ(h.completed, 0);
      h.feed(Bytes(wire.begin() + cut, wire.end()));
      ASSERT_EQ(h.completed, 1) << block.size() << "/" << cut;
      EXPECT_EQ(h.reply(),
                Bytes(block.begin(), block.begin() + std::min<size_t>(block.size(), 320)));
      EXPECT_TRUE(h.pushes.empty()) << "payload bytes never become pushes";
      EXPECT_TRUE(h.errors.empty());
      EXPECT_EQ(h.rx.buffered(), 0u);
    }
  }
}

// The end marks a desk sends after every data and definition request, in the orders they can
// arrive: only a multi-part reply's own mark completes it.
TEST(WingParse, EndMarkCompletesOnlyItsOwnMultiPartReply) {
  enum Step { kLeaf, kLeafReply, kBlockReq, kBlockReply, kNode, kNodeItem, kEnd, kGiveUp };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    bool node_done;    // the whole-node request ends complete
    size_t node_fill;  // with this many reply bytes
  };
  const size_t one = 10;  // one node item of the fixture
  const Case cases[] = {
      {"leaf end mark before the node read",
       {kLeaf, kLeafReply, kEnd, kNode, kNodeItem, kEnd},
       true,
       one},
      {"leaf end mark after the node read was armed",
       {kLeaf, kLeafReply, kNode, kEnd, kNodeItem, kEnd},
       true,
       one},
      {"definition end mark after the node read was armed",
       {kBlockReq, kBlockReply, kNode, kEnd, kNodeItem, kNodeItem, kEnd},
       true,
       2 * one},
      {"desk without trailing end marks", {kLeaf, kLeafReply, kNode, kNodeItem, kEnd}, true, one},
      {"empty node answer of its own", {kLeaf, kLeafReply, kEnd, kNode, kEnd}, true, 0},
      {"only the earlier mark came", {kLeaf, kLeafReply, kNode, kEnd}, false, 0},
      {"unanswered leaf read, late mark",
       {kLeaf, kGiveUp, kNode, kEnd, kNodeItem, kEnd},
       true,
       one},
      {"node read given up, its late mark",
       {kNode, kGiveUp, kNode, kEnd, kNodeItem, kEnd},
       true,
       one},
  };
  for (const Case& c : cases) {
    Harness h;
    uint32_t hash = 0x100;
    for (Step st : c.steps) {
      switch (st) {
        case kLeaf: h.slot.arm(false, 0, false); break;
        case kBlockReq: h.slot.arm(true, 0, false); break;
        case kNode: h.slot.arm(false, 0, true); break;
        case kLeafReply: h.feed(item(0x55, {0x01})); break;
        case kBlockReply: h.feed({0xDF, 0x00, 0x02, 0x01, 0x02}); break;
        case kNodeItem: h.feed(item(++hash, f32(1.0f))); break;
        case kEnd: h.feed({0xDE}); break;
        case kGiveUp: h.slot.disarm(); break;
      }
    }
    EXPECT_EQ(h.slot.done, c.node_done) << c.what;
    EXPECT_EQ(h.slot.req.pending, !c.node_done) << c.what;
    if (c.node_done) {
      EXPECT_EQ(h.slot.fill, c.node_fill) << c.what;
    }
    EXPECT_TRUE(h.pushes.empty()) << c.what;
  }
}

TEST(WingParse, OversizedItemIsDiscardedAcrossReceives) {
  Harness h;
  h.known.insert(0xAA);
  Bytes block = {0xDF, 0x40, 0x00};  // 16384 payload bytes, more than the buffer holds
  h.feed(block);
  EXPECT_EQ(h.rx.discarding(), 16384u);
  Bytes payload;
  while (payload.size() < 16384) payload = payload + item(0xAA, {0x01});
  payload.resize(16384, 0x00);
  for (size_t pos = 0; pos < payload.size(); pos += 1000)
    h.feed(Bytes(payload.begin() + pos, payload.begin() + std::min(pos + 1000, payload.size())));
  EXPECT_EQ(h.rx.discarding(), 0u);
  EXPECT_TRUE(h.pushes.empty()) << "payload bytes never become pushes";
  h.feed(item(0xAA, {0x00}));
  EXPECT_EQ(h.pushes.size(), 1u) << "the stream goes on after the discarded item";
}

TEST(WingParse, TruncatedLongStringHoldsOnlyUntilItCompletes) {
  Harness h;
  Bytes s = {0xD1, 0xFF};
  s.resize(2 + 100, 'q');
  h.slot.arm(false, 0x77, false);
  h.feed(item(0x77, s));
  EXPECT_EQ(h.completed, 0);
  h.feed(Bytes(155, 'q'));
  EXPECT_EQ(h.completed, 0);
  h.feed(Bytes(1, 'q'));
  EXPECT_EQ(h.completed, 1);
  EXPECT_EQ(h.slot.fill, 5u + 258u);
}

// The longest item the buffer waits for still completes across receives; one byte more is
// discarded as it arrives. Either way nothing piles up to a resync.
TEST(WingParse, LongestItemBoundary) {
  for (size_t extra : {size_t(0), size_t(1)}) {
    Harness h;
    size_t n = kRxMaxItem - 3 + extra;  // block payload
    Bytes block = {0xDF, uint8_t(n >> 8), uint8_t(n)};
    block.resize(3 + n, 0x11);
    h.slot.arm(true, 0, false);
    for (size_t pos = 0; pos < block.size(); pos += 2048)
      h.feed(Bytes(block.begin() + pos, block.begin() + std::min(pos + 2048, block.size())));
    EXPECT_EQ(h.completed, extra ? 0 : 1) << extra;
    EXPECT_EQ(h.errors.size(), extra ? 1u : 0u) << extra;
    if (extra) {
      EXPECT_EQ(h.errors[0], RxError::kOversize);
    }
    EXPECT_EQ(h.rx.buffered(), 0u);
  }
}

// Bounded random streams, mixing valid items with garbage, split at random points: the parser
// must never crash, never read out of bounds (sanitizers), and every push it reports must be a
// node item that was actually sent whole.
TEST(WingParse, RandomStreamsFuzz) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 400; ++round) {
    Bytes data;
    std::set<Bytes> sent;
    for (int k = 0; k < 40; ++k) {
      switch (rng() % 6) {
        case 0: {
          Bytes it = item(1 + rng() % 5, f32(float(rng() % 100)));
          sent.insert(it);
          data = data + it;
          break;
        }
        case 1: {
          Bytes junk(rng() % 40);
          for (auto& b : junk) b = uint8_t(rng());
          data = data + junk;
          break;
        }
        case 2: data = data + Bytes{0xDF, uint8_t(rng() % 3), uint8_t(rng())}; break;
        case 3:
          data = data + Bytes{0xD7, 0, 0, 0, uint8_t(rng()), uint8_t(0xE0 + rng() % 32)};
          break;
        case 4: data.push_back(0xDE); break;
        default: data = data + item(9, {0xD1, uint8_t(rng()), 'x', 'y'}); break;
      }
    }
    Bytes wire = escape(data);
    // Raw wire garbage too: bare escapes and channel markers.
    for (int k = 0; k < 5; ++k) wire.insert(wire.begin() + rng() % wire.size(), 0xDF);
    Harness h;
    if (rng() % 2) h.slot.arm(rng() % 2, 0, rng() % 2);
    size_t pos = 0;
    while (pos < wire.size()) {
      size_t len = 1 + rng() % 300;
      if (len > wire.size() - pos) len = wire.size() - pos;
      h.rx.feed(wire.data() + pos, len, h);
      pos += len;
    }
    ASSERT_LE(h.rx.buffered(), kRxResyncAt);
    for (const Bytes& p : h.pushes) {
      size_t len = 0;
      ASSERT_EQ(token_length(p.data(), p.size(), &len), TokenScan::kComplete);
      ASSERT_EQ(len, p.size()) << "a push is one whole node item";
      ASSERT_NE(p[5], 0xD7);
    }
    // Whatever state the garbage left, the stream recovers and the next reply matches. A long
    // block's length out of garbage can claim more than any filler ends (up to 4 GB): the link
    // then starts a clean connection after a second, which is a reset here.
    h.feed(Bytes(70000, 0x00));
    if (h.rx.discarding() > 0) h.rx.reset();
    h.slot.arm(false, 0x5150, false);
    h.feed(item(0x5150, {0x01}));
    ASSERT_TRUE(h.slot.done) << "round " << round;
    ASSERT_EQ(h.reply(), item(0x5150, {0x01}));
  }
}

}  // namespace
}  // namespace ks
