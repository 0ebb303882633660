// The simulated desk checked on its own, with hand-written bytes: its encoder, its request
// reader, what it serves over TCP, and its control commands.
#include "sim/wing/wing_sim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "os/socket.h"
#include "sim/wing/sim_control.h"

namespace ks::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Data bytes as they go on the wire: each 0xDF followed by 0xDE.
Bytes escaped(const Bytes& data) {
  Bytes out;
  for (uint8_t b : data) {
    out.push_back(b);
    if (b == 0xDF) out.push_back(0xDE);
  }
  return out;
}

// DF D1 DA "io" "in" "LCL" 1 "g"
const Bytes kLcl1G = {0xDF, 0xD1, 0xDA, 0xC1, 'i', 'o',  0xC1, 'i',
                      'n',  0xC2, 'L',  'C',  'L', 0x40, 0xC0, 'g'};

TEST(WingSimWire, EncoderGoldens) {
  struct Case {
    SimValue v;
    Bytes wire;
  };
  uint32_t bits = 0x3F8000DF;
  float odd;
  std::memcpy(&odd, &bits, 4);
  const Case cases[] = {
      {SimValue::of_float(0.0), {0xD5, 0, 0, 0, 0}},
      {SimValue::of_float(10.0), {0xD5, 0x41, 0x20, 0, 0}},
      {SimValue::of_float(odd), {0xD5, 0x3F, 0x80, 0x00, 0xDF, 0xDE}},
      {SimValue::of_flag(true), {0x01}},
      {SimValue::of_int(63), {0x3F}},
      {SimValue::of_int(100), {0xD3, 0x00, 0x64}},
      {SimValue::of_int(-1), {0xD3, 0xFF, 0xFF}},
      {SimValue::of_int(70000), {0xD4, 0x00, 0x01, 0x11, 0x70}},
      {SimValue::of_text(""), {0xD0}},
      {SimValue::of_text("ST"), {0x81, 'S', 'T'}},
  };
  for (const Case& c : cases) {
    WireOut w;
    w.value(c.v);
    EXPECT_EQ(w.bytes(), c.wire) << c.v.describe();
  }
  WireOut longer;
  longer.value(SimValue::of_text(std::string(70, 'x')));
  ASSERT_EQ(longer.bytes().size(), 72u);
  EXPECT_EQ(longer.bytes()[0], 0xD1);
  EXPECT_EQ(longer.bytes()[1], 69);
}

TEST(WingSimWire, ReaderTakesRequestsInAnyChunking) {
  Bytes stream = kLcl1G + Bytes{0xDC};                             // read
  stream = stream + kLcl1G + Bytes{0xDD};                          // definition
  stream = stream + kLcl1G + Bytes{0xD5, 0x41, 0xA0, 0x00, 0x00};  // write 20.0
  stream = stream + Bytes{0xDF, 0xD1, 0xDA, 0xC1, 'i',  'o', 0xC1, 'i', 'n', 0xC0,
                          'A',  0xD2, 0x00, 0x40, 0xC2, 'v', 'p',  'h', 0x01};  // A 65 vph = 1
  stream = stream + Bytes{0xE9, 0xE9};  // junk between requests
  stream = stream + Bytes{0xDF, 0xD1, 0xDA, 0xC3, 'm', 'o', 'd', 'e', 0x81, 'S', 'T'};
  stream = stream + Bytes{0xDF, 0xD1, 0xDA, 0xC1, 'x', 'y', 0xD5, 0x3F, 0x80, 0x00, 0xDF, 0xDE};

  std::mt19937 rng(11);
  for (int round = 0; round < 50; ++round) {
    RequestReader reader;
    std::vector<SimRequest> got;
    for (size_t pos = 0; pos < stream.size();) {
      size_t n = std::min<size_t>(1 + rng() % 5, stream.size() - pos);
      reader.feed(stream.data() + pos, n, got);
      pos += n;
    }
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].kind, SimRequest::Kind::kRead);
    EXPECT_EQ(got[0].path, "io/in/LCL/1/g");
    EXPECT_EQ(got[1].kind, SimRequest::Kind::kDefinition);
    EXPECT_EQ(got[2].kind, SimRequest::Kind::kWrite);
    EXPECT_EQ(got[2].value.number, 20.0);
    EXPECT_EQ(got[3].path, "io/in/A/65/vph");
    EXPECT_EQ(got[3].value.number, 1.0);
    EXPECT_EQ(got[4].value.text, "ST");
    uint32_t bits;
    float f = float(got[5].value.number);
    std::memcpy(&bits, &f, 4);
    EXPECT_EQ(bits, 0x3F8000DFu) << "DF DE inside a value is one data byte";
    EXPECT_EQ(reader.junk(), 2u);
  }
}

class Client {
public:
  bool open(uint32_t addr) {
    s_ = Socket::tcp();
    return s_.connect(Endpoint{addr, 2222}, 1000);
  }
  bool send(const Bytes& b) { return s_.send_all(b.data(), b.size(), 1000); }
  // Reads until `n` bytes are in or the time is up.
  Bytes read(size_t n, uint32_t ms = 1000) {
    Bytes out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    uint8_t buf[4096];
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
      int r = s_.recv(buf, sizeof buf, 50);
      if (r > 0) out.insert(out.end(), buf, buf + r);
      if (r == kSocketClosed) break;
    }
    return out;
  }
  bool closed_by_peer(uint32_t ms) {
    uint8_t b;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      int r = s_.recv(&b, 1, 50);
      if (r == kSocketClosed || r == kSocketError) return true;
    }
    return false;
  }

private:
  Socket s_;
};

class WingSimServe : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(sim_.start(addr_)); }
  const uint32_t addr_ = *parse_ipv4("127.0.0.121");
  WingSim sim_;
};

TEST_F(WingSimServe, AnswersReadsAndPushesWritesToEveryClient) {
  Client a, b;
  ASSERT_TRUE(a.open(addr_));
  ASSERT_TRUE(b.open(addr_));
  ASSERT_TRUE(sim_.wait_connections(2, 2000));

  ASSERT_TRUE(a.send(kLcl1G + Bytes{0xDC}));
  uint32_t h = sim_.hash_of("io/in/LCL/1/g");
  // Like the console, a leaf's value is followed by the end mark.
  Bytes esc = Bytes{0xDF, 0xD1} + escaped(Bytes{0xD7} + be32(h) + Bytes{0xD5, 0, 0, 0, 0, 0xDE});
  EXPECT_EQ(a.read(esc.size()), esc);

  // A write of 20.2 dB is stepped to 20.0 at the desk and pushed to both clients.
  ASSERT_TRUE(a.send(kLcl1G + Bytes{0xD5, 0x41, 0xA1, 0x99, 0x9A}));
  Bytes push =
      Bytes{0xDF, 0xD1} + escaped(Bytes{0xD7} + be32(h) + Bytes{0xD5, 0x41, 0xA0, 0x00, 0x00});
  EXPECT_EQ(b.read(push.size()), push);
  EXPECT_EQ(a.read(push.size()), push) << "the writer gets its echo too";
  SimValue v;
  ASSERT_TRUE(sim_.get("io/in/LCL/1/g", &v));
  EXPECT_EQ(v.number, 20.0);

  // Out of range is clamped; the same value again pushes nothing.
  sim_.set("io/in/LCL/1/g", SimValue::of_float(99.0));
  sim_.get("io/in/LCL/1/g", &v);
  EXPECT_EQ(v.number, sim_.gain_range("LCL").max);
  b.read(64, 200);
  sim_.set("io/in/LCL/1/g", SimValue::of_float(99.0));
  EXPECT_TRUE(b.read(1, 200).empty());

  auto recs = sim_.records();
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[1].request.kind, SimRequest::Kind::kWrite);
}

TEST_F(WingSimServe, WholeNodeReadEndsWithEndMark) {
  Client a;
  ASSERT_TRUE(a.open(addr_));
  Bytes node(kLcl1G.begin(), kLcl1G.end() - 2);
  ASSERT_TRUE(a.send(node + Bytes{0xDC}));
  Bytes got = a.read(2000, 500);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), 0xDE);
  // Leaves in the desk's order: the gain is the second item.
  Bytes g = Bytes{0xD7} + be32(sim_.hash_of("io/in/LCL/1/g"));
  EXPECT_NE(std::search(got.begin(), got.end(), g.begin(), g.end()), got.end());
}

TEST_F(WingSimServe, FaultSwitches) {
  Client a;
  ASSERT_TRUE(a.open(addr_));
  sim_.update_faults([](SimFaults& f) { f.silent = true; });
  ASSERT_TRUE(a.send(kLcl1G + Bytes{0xDC}));
  EXPECT_TRUE(a.read(1, 300).empty()) << "silent";
  sim_.set_faults(SimFaults{});

  sim_.update_faults([](SimFaults& f) { f.delay_ms = 300; });
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(a.send(kLcl1G + Bytes{0xDC}));
  EXPECT_FALSE(a.read(12, 1000).empty());
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290)) << "delayed";
  sim_.set_faults(SimFaults{});

  sim_.update_faults([](SimFaults& f) { f.garble_next = 1; });
  ASSERT_TRUE(a.send(kLcl1G + Bytes{0xDC}));
  Bytes garbled = a.read(10, 500);
  ASSERT_GE(garbled.size(), 10u);
  EXPECT_EQ(garbled[garbled.size() - 3], 0xE5) << "value token is not in the table";

  sim_.drop_connections();
  EXPECT_TRUE(a.closed_by_peer(1000));
  sim_.update_faults([](SimFaults& f) { f.refuse = true; });
  Client b;
  ASSERT_TRUE(b.open(addr_));
  EXPECT_TRUE(b.closed_by_peer(1000)) << "refused";
}

// What the console sends and the first-written stream did not: end marks after every data and
// definition request, long definition blocks, raw floats, and requests addressed by hash.
TEST_F(WingSimServe, AnswersLikeTheConsole) {
  Client a;
  ASSERT_TRUE(a.open(addr_));
  const uint32_t hg = sim_.hash_of("io/in/LCL/1/g");
  const Bytes g_item = Bytes{0xD7} + be32(hg) + Bytes{0xD5, 0, 0, 0, 0};
  struct Case {
    const char* what;
    bool console;
    Bytes request;
    Bytes answer;  // un-escaped, after DF D1
  };
  Bytes def_body;  // the gain definition's payload as the reader expects it
  {
    Client d;
    ASSERT_TRUE(d.open(addr_));
    sim_.update_faults([](SimFaults& f) { f.console = false; });
    ASSERT_TRUE(d.send(kLcl1G + Bytes{0xDD}));
    Bytes got = d.read(64, 300);
    ASSERT_GE(got.size(), 6u);
    def_body.assign(got.begin() + 6, got.end());  // after DF D1, the escaped DF, the u16
    sim_.set_faults(SimFaults{});
  }
  const Bytes d7_lcl1g = Bytes{0xDF, 0xD1, 0xD7} + be32(hg);
  const Case cases[] = {
      {"leaf read", true, kLcl1G + Bytes{0xDC}, g_item + Bytes{0xDE}},
      {"leaf read, first stream", false, kLcl1G + Bytes{0xDC}, g_item},
      {"read by hash", true, d7_lcl1g + Bytes{0xDC}, g_item + Bytes{0xDE}},
      {"definition, long form", true, kLcl1G + Bytes{0xDD},
       Bytes{0xDF, 0x00, 0x00} + be32(uint32_t(def_body.size())) + def_body + Bytes{0xDE}},
      {"definition by hash", true, d7_lcl1g + Bytes{0xDD},
       Bytes{0xDF, 0x00, 0x00} + be32(uint32_t(def_body.size())) + def_body + Bytes{0xDE}},
      {"definition, short form", false, kLcl1G + Bytes{0xDD},
       Bytes{0xDF, 0x00, uint8_t(def_body.size())} + def_body},
      {"unknown path: the end mark alone", true, Bytes{0xDF, 0xD1, 0xDA, 0xC1, 'x', 'y', 0xDC},
       Bytes{0xDE}},
      {"unknown hash: the end mark alone", true, Bytes{0xDF, 0xD1, 0xD7, 1, 2, 3, 4, 0xDC},
       Bytes{0xDE}},
  };
  for (const Case& c : cases) {
    sim_.update_faults([&](SimFaults& f) { f.console = c.console; });
    ASSERT_TRUE(a.send(c.request));
    Bytes want = Bytes{0xDF, 0xD1} + escaped(c.answer);
    EXPECT_EQ(a.read(want.size() + 1, 300), want) << c.what;
  }
  sim_.set_faults(SimFaults{});
  ASSERT_FALSE(def_body.empty());

  // Whole-node answers carry the gain knob's position as a raw float (0xD6) in console mode.
  sim_.set("io/in/LCL/1/g", SimValue::of_float(sim_.gain_range("LCL").max));
  Bytes node(kLcl1G.begin(), kLcl1G.end() - 2);
  ASSERT_TRUE(a.send(node + Bytes{0xDC}));
  Bytes got = a.read(2000, 300);
  Bytes raw =
      Bytes{0xD7} + be32(sim_.hash_of("io/in/LCL/1/$graw")) + Bytes{0xD6, 0x3F, 0x80, 0x00, 0x00};
  EXPECT_NE(std::search(got.begin(), got.end(), raw.begin(), raw.end()), got.end());
  EXPECT_EQ(got.back(), 0xDE);
}

TEST_F(WingSimServe, WritesByHashAndTokenType) {
  Client a;
  ASSERT_TRUE(a.open(addr_));
  // 0xD6 carries a float; addressed by hash.
  uint32_t hg = sim_.hash_of("io/in/LCL/2/g");
  ASSERT_TRUE(a.send(Bytes{0xDF, 0xD1, 0xD7} + be32(hg) + Bytes{0xD6, 0x41, 0x40, 0x00, 0x00}));
  ASSERT_TRUE(
      sim_.wait_records([](const std::vector<SimRecord>& r) { return r.size() == 1; }, 1000));
  SimValue v;
  ASSERT_TRUE(sim_.get("io/in/LCL/2/g", &v));
  EXPECT_EQ(v.number, 12.0);
  EXPECT_EQ(sim_.records()[0].request.path, "io/in/LCL/2/g");
  EXPECT_EQ(sim_.records()[0].request.hash, hg);

  // An integer node takes an integer token and refuses a float, like the console.
  const Bytes in30 = {0xDF, 0xD1, 0xDA, 0xC1, 'i', 'o',  0xC2, 'o', 'u',
                      't',  0xC2, 'M',  'O',  'D', 0x5D, 0xC1, 'i', 'n'};
  struct Case {
    bool console;
    Bytes value;
    double want;
    uint32_t rejected;
  };
  const Case cases[] = {
      {true, {0x0C}, 12, 0},
      {true, {0xD3, 0x00, 0x40}, 64, 0},
      {true, {0xD5, 0x41, 0x00, 0x00, 0x00}, 64, 1},  // 8.0 as a float: refused, 64 stays
      {false, {0xD5, 0x41, 0x00, 0x00, 0x00}, 8, 1},  // the first stream coerced it
  };
  for (const Case& c : cases) {
    sim_.update_faults([&](SimFaults& f) { f.console = c.console; });
    size_t before = sim_.records().size();
    ASSERT_TRUE(a.send(in30 + c.value));
    ASSERT_TRUE(sim_.wait_records(
        [&](const std::vector<SimRecord>& r) { return r.size() == before + 1; }, 1000));
    ASSERT_TRUE(sim_.get("io/out/MOD/30/in", &v));
    EXPECT_EQ(v.number, c.want) << testing::PrintToString(c.value);
    EXPECT_EQ(sim_.rejected_writes(), c.rejected) << testing::PrintToString(c.value);
  }
}

// The trailing end mark held back until the next request is in: it then comes first.
TEST_F(WingSimServe, LateEndMarks) {
  Client a;
  ASSERT_TRUE(a.open(addr_));
  sim_.update_faults([](SimFaults& f) { f.late_end_marks = true; });
  uint32_t hg = sim_.hash_of("io/in/LCL/1/g");
  Bytes g_item = Bytes{0xD7} + be32(hg) + Bytes{0xD5, 0, 0, 0, 0};
  ASSERT_TRUE(a.send(kLcl1G + Bytes{0xDC}));
  Bytes want = Bytes{0xDF, 0xD1} + g_item;
  EXPECT_EQ(a.read(want.size() + 1, 300), want) << "no end mark yet";
  ASSERT_TRUE(a.send(kLcl1G + Bytes{0xDC}));
  want = Bytes{0xDF, 0xD1, 0xDE} + Bytes{0xDF, 0xD1} + g_item;
  EXPECT_EQ(a.read(want.size() + 1, 300), want) << "the last answer's mark, then this value";
  // A whole-node answer's own mark is never held.
  Bytes node(kLcl1G.begin(), kLcl1G.end() - 2);
  ASSERT_TRUE(a.send(node + Bytes{0xDC}));
  Bytes got = a.read(2000, 300);
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), (Bytes{0xDF, 0xD1, 0xDE}));
  EXPECT_EQ(got.back(), 0xDE);
}

TEST_F(WingSimServe, ControlCommands) {
  SimControl control(sim_);
  EXPECT_EQ(control.execute("set io/in/LCL/2/g 12.3"), "ok 12.500");
  EXPECT_EQ(control.execute("get io/in/LCL/2/g"), "ok 12.500");
  EXPECT_EQ(control.execute("set io/in/LCL/2/vph 1"), "ok 1");
  EXPECT_EQ(control.execute("set io/in/LCL/2/name Kick In"), "ok 'Kick In'");
  EXPECT_EQ(control.execute("set io/in/LCL/99/g 1"), "err no such node");
  EXPECT_EQ(control.execute("set io/in/LCL/2/g loud"), "err not a number");
  EXPECT_EQ(control.execute("fault silent on"), "ok");
  EXPECT_TRUE(sim_.faults().silent);
  EXPECT_EQ(control.execute("fault silent maybe"), "err unknown fault or value");
  EXPECT_EQ(control.execute("fault console off"), "ok");
  EXPECT_EQ(control.execute("fault lateend on"), "ok");
  EXPECT_FALSE(sim_.faults().console);
  EXPECT_TRUE(sim_.faults().late_end_marks);
  EXPECT_EQ(control.execute("fault clear"), "ok");
  EXPECT_TRUE(sim_.faults().console) << "console-like is the default";
  EXPECT_FALSE(sim_.faults().silent);
  EXPECT_EQ(control.execute("bogus"), "err unknown command");
  uint32_t before = sim_.hash_of("io/in/LCL/2/g");
  EXPECT_EQ(control.execute("firmware 9.9-test"), "ok");
  EXPECT_NE(sim_.hash_of("io/in/LCL/2/g"), before) << "another build, other hashes";
  EXPECT_NE(control.execute("identity").find(",9.9-test"), std::string::npos);

  // The same over the control port.
  ASSERT_TRUE(control.start(addr_, 2399));
  Socket c = Socket::tcp();
  ASSERT_TRUE(c.connect(Endpoint{addr_, 2399}, 1000));
  std::string cmd = "get io/in/LCL/2/vph\nquit\n";
  ASSERT_TRUE(c.send_all(cmd.data(), cmd.size(), 1000));
  std::string reply;
  char buf[256];
  for (int i = 0; i < 20 && reply.find("ok\n", 4) == std::string::npos; ++i) {
    int r = c.recv(buf, sizeof buf, 100);
    if (r > 0) reply.append(buf, size_t(r));
  }
  EXPECT_EQ(reply, "ok 1\nok\n");
  EXPECT_TRUE(control.quit_requested());
}

TEST(WingSimStart, LoopbackOnly) {
  WingSim sim;
  EXPECT_FALSE(sim.start(*parse_ipv4("192.0.2.1")));
  SimControl control(sim);
  EXPECT_FALSE(control.start(*parse_ipv4("198.51.100.1")));
}

}  // namespace
}  // namespace ks::sim
