// Discovery network helpers. Adapter lists are injected, and every datagram goes to 127.0.0.x.
#include "bridge/net_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>

#include "os/thread.h"

namespace ks {
namespace {

uint32_t net(const char* text) {
  uint32_t a = 0;
  EXPECT_TRUE(ipv4_parse_net(text, &a)) << text;
  return a;
}

TEST(NetOrder, ConversionsAndParse) {
  uint32_t a = net("192.168.1.20");
  const auto* b = reinterpret_cast<const uint8_t*>(&a);
  EXPECT_EQ(b[0], 192);  // the first byte on the wire comes first in memory
  EXPECT_EQ(b[3], 20);
  EXPECT_EQ(ipv4_from_net(a), 0xC0A80114u);
  EXPECT_EQ(ipv4_to_net(0xC0A80114u), a);
  uint32_t out = 7;
  EXPECT_FALSE(ipv4_parse_net("192.168.1", &out));
  EXPECT_FALSE(ipv4_parse_net(nullptr, &out));
  EXPECT_EQ(out, 7u);
}

struct TargetsCase {
  const char* what;
  const char* hint;
  const char* ip;
  std::vector<Ipv4Adapter> adapters;
  std::vector<const char*> want;
};

TEST(DiscoveryTargets, OrderAndWhatIsLeftOut) {
  const std::vector<Ipv4Adapter> lan = {
      {0xC0A80114u, 24, true, false, "lan"},    // 192.168.1.20/24
      {0x0A000005u, 8, true, false, "second"},  // 10.0.0.5/8
      {0xC6336401u, 31, true, false, "p2p"},    // /31: no broadcast
      {0xC6336402u, 32, true, false, "host"},   // /32: none either
      {0xCB007101u, 24, false, false, "down"},  // not up
      {0x7F000001u, 8, true, true, "loopback"},
  };
  const TargetsCase cases[] = {
      {"nothing configured", "", "", {}, {"255.255.255.255"}},
      {"hint then ip",
       "192.168.1.50",
       "10.1.1.1",
       {},
       {"255.255.255.255", "192.168.1.50", "10.1.1.1"}},
      {"ip equal to hint once",
       "192.168.1.50",
       "192.168.1.50",
       {},
       {"255.255.255.255", "192.168.1.50"}},
      {"unparsable settings skipped", "desk.local", "1.2.3", {}, {"255.255.255.255"}},
      {"adapters",
       "",
       "192.168.1.50",
       lan,
       {"255.255.255.255", "192.168.1.50", "192.168.1.255", "10.255.255.255", "127.255.255.255"}},
      {"two addresses on one subnet ask once",
       "",
       "",
       {{0xC0A80114u, 24, true, false, "a"}, {0xC0A80115u, 24, true, false, "b"}},
       {"255.255.255.255", "192.168.1.255"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t out[32];
    int n = discovery_targets_for(c.hint, c.ip, c.adapters, out, 32);
    ASSERT_EQ(n, static_cast<int>(c.want.size()));
    for (int i = 0; i < n; ++i) EXPECT_EQ(out[i], net(c.want[i])) << i;
  }
}

TEST(DiscoveryTargets, StopsAtMax) {
  std::vector<Ipv4Adapter> many;
  for (uint32_t i = 0; i < 40; ++i) many.push_back({0x0A000001u + (i << 8), 24, true, false, "n"});
  uint32_t out[40];
  EXPECT_EQ(discovery_targets_for("", "", many, out, 32), 32);
  EXPECT_EQ(discovery_targets_for("1.2.3.4", "", many, out, 1), 1);
  EXPECT_EQ(out[0], 0xFFFFFFFFu);
  EXPECT_EQ(discovery_targets_for("", "", many, out, 0), 0);
  EXPECT_EQ(discovery_targets_for("", "", many, nullptr, 4), 0);
}

TEST(ConfiguredAddress, MatchesHintOrIpWhenTheyParse) {
  uint32_t a = net("192.168.1.50"), b = net("10.0.0.9"), other = net("10.0.0.10");
  EXPECT_TRUE(is_configured_address_for("192.168.1.50", "", &a));
  EXPECT_TRUE(is_configured_address_for("bad", "10.0.0.9", &b));
  EXPECT_FALSE(is_configured_address_for("192.168.1.50", "10.0.0.9", &other));
  EXPECT_FALSE(is_configured_address_for("", "", &a));
  EXPECT_FALSE(is_configured_address_for("192.168.1.50", "", nullptr));
}

TEST(BroadcastSockets, OnePerUpNonLoopbackAddressThatBinds) {
  const std::vector<Ipv4Adapter> adapters = {
      {0x7F000002u, 8, true, false, "a"},  // 127.0.0.2 stands in for a LAN address
      {0x7F000001u, 8, true, true, "lo"},  // loopback: skipped
      {0x7F000004u, 8, false, false, "down"},
      {0x7F000003u, 8, true, false, "b"},
  };
  Socket socks[8];
  uint32_t bound[8] = {};
  int n = open_broadcast_sockets_for(adapters, socks, bound, 8);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(bound[0], net("127.0.0.2"));
  EXPECT_EQ(bound[1], net("127.0.0.3"));
  for (int i = 0; i < n; ++i) {
    ASSERT_TRUE(socks[i].valid());
    auto ep = socks[i].local_endpoint();
    ASSERT_TRUE(ep);
    EXPECT_EQ(ipv4_to_net(ep->addr), bound[i]);
    EXPECT_NE(ep->port, 0);
  }
  Socket one[1];
  EXPECT_EQ(open_broadcast_sockets_for(adapters, one, nullptr, 1), 1);
}

#ifndef _WIN32
// Wine binds broadcast sockets to any address whatever is asked, so only the native tier can
// show an address that is on no interface being left out.
TEST(BroadcastSockets, AnAddressThatDoesNotBindIsLeftOut) {
  const std::vector<Ipv4Adapter> adapters = {
      {0xC6336407u, 24, true, false, "not ours"},  // 198.51.100.7 is on no interface
      {0x7F000002u, 8, true, false, "a"},
  };
  Socket socks[4];
  uint32_t bound[4] = {};
  ASSERT_EQ(open_broadcast_sockets_for(adapters, socks, bound, 4), 1);
  EXPECT_EQ(bound[0], net("127.0.0.2"));
}
#endif

TEST(WaitSockets, FirstReadableIndexDuplicatesAndTimeout) {
  Socket a = Socket::udp(), b = Socket::udp();
  ASSERT_TRUE(a.bind({kLoopback, 0}));
  ASSERT_TRUE(b.bind({kLoopback, 0}));
  Socket::Native list[] = {a.native(), b.native(), b.native()};
  EXPECT_EQ(wait_sockets_readable(list, 3, 30), -1);
  ASSERT_EQ(a.send_to("x", 1, *b.local_endpoint()), 1);
  EXPECT_EQ(wait_sockets_readable(list, 3, 2000), 1);
  Socket::Native dup_first[] = {b.native(), a.native(), b.native()};
  EXPECT_EQ(wait_sockets_readable(dup_first, 3, 2000), 0);
  EXPECT_EQ(wait_sockets_readable(list, 0, 10), -1);
  Socket owned[2];
  owned[1] = std::move(b);
  EXPECT_EQ(wait_sockets_readable(owned, 2, 2000), 1);
}

TEST(OscPutAddress, PaddingAndFit) {
  struct Case {
    const char* addr;
    int cap;
    int want;
  };
  const Case cases[] = {
      {"", 8, 4},        {"/ab", 8, 4},    {"/abc", 16, 8},
      {"/xinfo", 16, 8}, {"/xinfo", 9, 8},  // padded 8 plus the ","
      {"/xinfo", 8, 0},  {"/abc", 8, 0},
  };
  for (const auto& c : cases) {
    uint8_t out[32];
    std::memset(out, 0xEE, sizeof out);
    int len = static_cast<int>(std::strlen(c.addr));
    EXPECT_EQ(osc_put_address(out, c.cap, c.addr, len), c.want) << c.addr << " cap " << c.cap;
    if (c.want == 0) {
      continue;
    }
    EXPECT_EQ(std::memcmp(out, c.addr, static_cast<size_t>(len)), 0);
    for (int i = len; i < c.want; ++i) EXPECT_EQ(out[i], 0) << i;
    EXPECT_EQ(out[c.want], ',');
    EXPECT_EQ(out[c.want + 1], 0xEE) << "nothing written past the ','";
  }
  uint8_t out[8];
  EXPECT_EQ(osc_put_address(out, 8, nullptr, 0), 0);
  EXPECT_EQ(osc_put_address(out, 8, "/a", -1), 0);
}

std::string osc(std::initializer_list<std::string> parts) {
  std::string m;
  for (const auto& p : parts) m += p;
  return m;
}

TEST(OscFirstArg, TypesAndMalformedMessages) {
  using namespace std::string_literals;
  struct Case {
    const char* what;
    std::string msg;
    uint8_t tag;
    const char* text;
    uint32_t value;
  };
  const Case cases[] = {
      {"string", osc({"/$syscfg/opt_mod\0\0\0\0"s, ",s\0\0"s, "WSG\0"s}), 's', "WSG", 0},
      {"int", osc({"/a\0\0"s, ",i\0\0"s, "\x00\x00\x01\x02"s}), 'i', "", 0x102},
      {"float", osc({"/a\0\0"s, ",f\0\0"s, "\x3f\x80\x00\x00"s}), 'f', "", 0x3F800000u},
      {"only the first of two", osc({"/a\0\0"s, ",si\0"s, "ab\0\0"s, "\0\0\0\x05"s}), 's', "ab", 0},
      {"last string unpadded", osc({"/a\0\0"s, ",s\0\0"s, "abcd\0"s}), 's', "abcd", 0},
      {"no comma", osc({"/a\0\0"s, "s\0\0\0"s, "ab\0\0"s}), 0, "", 0},
      {"no types", osc({"/a\0\0"s, ",\0\0\0"s}), 0, "", 0},
      {"other type", osc({"/a\0\0"s, ",b\0\0"s, "\0\0\0\0"s}), 0, "", 0},
      {"int cut short", osc({"/a\0\0"s, ",i\0\0"s, "\0\0"s}), 0, "", 0},
      {"string without NUL", osc({"/a\0\0"s, ",s\0\0"s, "abcd"s}), 0, "", 0},
      {"address without NUL", "/abcdefg"s, 0, "", 0},
      {"address padding cut", osc({"/abcd\0\0"s, ",s"s}), 0, "", 0},
      {"too short", "/a\0"s, 0, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    char text[16] = "unchanged";
    uint32_t value = 0;
    uint8_t tag = osc_first_arg(reinterpret_cast<const uint8_t*>(c.msg.data()),
                                static_cast<int>(c.msg.size()), text, sizeof text, &value);
    EXPECT_EQ(tag, c.tag);
    if (tag == 's') EXPECT_STREQ(text, c.text);
    if (tag == 'i' || tag == 'f') EXPECT_EQ(value, c.value);
  }
}

TEST(OscFirstArg, LongStringIsCutToTheBuffer) {
  using namespace std::string_literals;
  std::string m = osc({"/n\0\0"s, ",s\0\0"s, "ABCDEFGHIJ\0\0"s});
  char text[5];
  EXPECT_EQ(osc_first_arg(reinterpret_cast<const uint8_t*>(m.data()), static_cast<int>(m.size()),
                          text, 5, nullptr),
            's');
  EXPECT_STREQ(text, "ABCD");
}

// Answers each datagram on 127.0.0.1 with `answer`, or not at all when it is empty.
class Responder {
public:
  explicit Responder(std::string answer) : answer_(std::move(answer)) {
    sock_ = Socket::udp();
    EXPECT_TRUE(sock_.bind({kLoopback, 0}));
    port_ = sock_.local_endpoint()->port;
    thread_.start([this] {
      char buf[2048];
      Endpoint from;
      while (!stop_) {
        int n = sock_.recv_from(buf, sizeof buf, &from, 50);
        if (n <= 0) continue;
        {
          std::lock_guard<std::mutex> g(m_);
          last_ = std::string(buf, static_cast<size_t>(n));
        }
        if (!answer_.empty()) sock_.send_to(answer_.data(), answer_.size(), from);
      }
    });
  }
  ~Responder() {
    stop_ = true;
    thread_.join(5000);
  }
  uint16_t port() const { return port_; }
  std::string last() {
    std::lock_guard<std::mutex> g(m_);
    return last_;
  }

private:
  std::string answer_;
  Socket sock_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::string last_;
  Thread thread_;
};

TEST(UdpAsk, ReplyTimeoutAndCut) {
  Responder r("WING,127.0.0.1,FOH,ngc-full,S123,3.0");
  const uint8_t q[] = {'W', 'I', 'N', 'G', '?'};
  uint8_t reply[64];
  int n = udp_ask("127.0.0.1", r.port(), q, 5, reply, sizeof reply, 2000);
  ASSERT_EQ(n, 36);
  EXPECT_STREQ(reinterpret_cast<char*>(reply), "WING,127.0.0.1,FOH,ngc-full,S123,3.0");
  EXPECT_EQ(r.last(), "WING?");

  std::memset(reply, 'x', sizeof reply);
  EXPECT_EQ(udp_ask("127.0.0.1", r.port(), q, 5, reply, 5, 2000), 4);
  EXPECT_STREQ(reinterpret_cast<char*>(reply), "WING");

  Responder silent("");
  std::memset(reply, 'x', sizeof reply);
  EXPECT_EQ(udp_ask("127.0.0.1", silent.port(), q, 5, reply, sizeof reply, 100), 0);
  EXPECT_EQ(reply[0], 0) << "reply is NUL-terminated on failure too";
}

TEST(UdpAsk, RefusesBadArguments) {
  const uint8_t q[] = {'?'};
  uint8_t reply[8] = {'x'};
  EXPECT_EQ(udp_ask(nullptr, 9, q, 1, reply, 8, 10), 0);
  EXPECT_EQ(reply[0], 0);
  reply[0] = 'x';
  EXPECT_EQ(udp_ask("not an address", 9, q, 1, reply, 8, 10), 0);
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(udp_ask("127.0.0.1", 9, q, 1, nullptr, 8, 10), 0);
  reply[0] = 'x';
  EXPECT_EQ(udp_ask("127.0.0.1", 9, q, 1, reply, 1, 10), 0);
  EXPECT_EQ(reply[0], 0);
}

}  // namespace
}  // namespace ks
