// UDP and TCP on 127.0.0.1 (the tests run in a private network namespace).
#include "os/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "os/clock.h"
#include "os/thread.h"

namespace ks {
namespace {

TEST(Ipv4Text, ParseAndFormat) {
  struct Case {
    const char* text;
    std::optional<uint32_t> addr;
  };
  const Case cases[] = {
      {"127.0.0.1", 0x7F000001u},
      {"0.0.0.0", 0u},
      {"255.255.255.255", 0xFFFFFFFFu},
      {"192.168.001.010", 0xC0A8010Au},
      {"256.0.0.1", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"", std::nullopt},
      {"a.b.c.d", std::nullopt},
      {"1..2.3", std::nullopt},
      {"1.2.3.0004", std::nullopt},
      {"-1.2.3.4", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_ipv4(c.text), c.addr) << '"' << c.text << '"';
  EXPECT_EQ(format_ipv4(0xC0A8010Au), "192.168.1.10");
  EXPECT_EQ(format_ipv4(0xFFFFFFFFu), "255.255.255.255");
}

Endpoint bound_udp(Socket& s) {
  s = Socket::udp();
  EXPECT_TRUE(s.valid());
  EXPECT_TRUE(s.bind({kLoopback, 0}));
  auto ep = s.local_endpoint();
  EXPECT_TRUE(ep.has_value());
  return ep.value_or(Endpoint{});
}

TEST(Udp, RoundTripReportsTheSender) {
  Socket a, b;
  Endpoint ea = bound_udp(a), eb = bound_udp(b);
  ASSERT_NE(ea.port, 0);
  EXPECT_EQ(ea.addr, kLoopback);
  ASSERT_EQ(a.send_to("WING?", 5, eb), 5);
  char buf[64];
  Endpoint from;
  ASSERT_EQ(b.recv_from(buf, sizeof buf, &from, 2000), 5);
  EXPECT_EQ(std::string(buf, 5), "WING?");
  EXPECT_EQ(from, ea);
  ASSERT_EQ(b.send_to("answer", 6, from), 6);
  ASSERT_EQ(a.recv_from(buf, sizeof buf, nullptr, 2000), 6);
  EXPECT_EQ(std::string(buf, 6), "answer");
}

#ifndef _WIN32
// Wine 8 sends from 127.0.0.1 whatever loopback address a socket is bound to (getsockname still
// names the bound one), so this holds natively and on Windows, not under Wine.
TEST(Udp, SenderOnAnotherLoopbackAddressIsReported) {
  Socket a = Socket::udp(), b = Socket::udp();
  ASSERT_TRUE(a.bind({kLoopback + 41, 0}));  // 127.0.0.42
  ASSERT_TRUE(b.bind({kLoopback, 0}));
  ASSERT_EQ(a.send_to("q", 1, *b.local_endpoint()), 1);
  char buf[8];
  Endpoint from;
  ASSERT_EQ(b.recv_from(buf, sizeof buf, &from, 2000), 1);
  EXPECT_EQ(format_ipv4(from.addr), "127.0.0.42");
  EXPECT_EQ(from, *a.local_endpoint());
}
#endif

TEST(Udp, TimeoutAndOversizeDatagram) {
  Socket a, b;
  bound_udp(a);
  Endpoint eb = bound_udp(b);
  char buf[8];
  Tick start = tick_now();
  EXPECT_EQ(b.recv_from(buf, sizeof buf, nullptr, 80), kSocketTimeout);
  EXPECT_GE(ticks_elapsed(tick_now(), start), 60u);

  std::string big(100, 'x');
  ASSERT_EQ(a.send_to(big.data(), big.size(), eb), 100);
  Endpoint from;
  EXPECT_EQ(b.recv_from(buf, sizeof buf, &from, 2000), kSocketTruncated);
  EXPECT_EQ(from, a.local_endpoint().value()) << "the sender of a dropped datagram is still told";
  // The next datagram is unaffected.
  ASSERT_EQ(a.send_to("ok", 2, eb), 2);
  EXPECT_EQ(b.recv_from(buf, sizeof buf, nullptr, 2000), 2);
}

TEST(Udp, SilentPortDoesNotBreakTheSocket) {
  // A datagram to a closed port draws an ICMP error; the socket must go on receiving.
  Socket a, b, closed;
  bound_udp(a);
  Endpoint eb = bound_udp(b);
  Endpoint gone = bound_udp(closed);
  closed.close();
  ASSERT_GT(a.send_to("x", 1, gone), 0);
  sleep_ms(20);
  char buf[8];
  Endpoint ea = a.local_endpoint().value();
  ASSERT_EQ(b.send_to("y", 1, ea), 1);
  EXPECT_EQ(a.recv_from(buf, sizeof buf, nullptr, 2000), 1);
}

TEST(Udp, BroadcastFlagCanBeSet) {
  Socket s = Socket::udp();
  EXPECT_TRUE(s.set_broadcast(true));
  EXPECT_TRUE(s.set_broadcast(false));
  Socket none;
  EXPECT_FALSE(none.set_broadcast(true));
}

TEST(Select, ReportsTheFirstReadableIndexAndCollapsesDuplicates) {
  Socket a, b, c;
  bound_udp(a);
  Endpoint eb = bound_udp(b);
  bound_udp(c);
  const Socket* none_ready[] = {&a, &b, &c};
  EXPECT_EQ(select_readable(none_ready, 3, 30), -1);
  ASSERT_EQ(c.send_to("z", 1, eb), 1);
  const Socket* list[] = {&a, &b, &c, &b};
  EXPECT_EQ(select_readable(list, 4, 2000), 1);
  const Socket* dup_first[] = {&b, &a, &b};
  EXPECT_EQ(select_readable(dup_first, 3, 2000), 0);
  EXPECT_EQ(select_readable(list, 0, 10), -1);
  const Socket* invalid[] = {nullptr};
  EXPECT_EQ(select_readable(invalid, 1, 10), -1);
}

TEST(Tcp, RoundTripAndOrderlyClose) {
  Socket server = Socket::tcp();
  ASSERT_TRUE(server.set_reuse_address(true));
  ASSERT_TRUE(server.bind({kLoopback, 0}));
  ASSERT_TRUE(server.listen());
  Endpoint ep = server.local_endpoint().value();

  Thread echo;
  ASSERT_TRUE(echo.start([&] {
    Endpoint peer;
    Socket c = server.accept(5000, &peer);
    if (!c.valid()) return;
    char buf[256];
    int n;
    while ((n = c.recv(buf, sizeof buf, 5000)) > 0) c.send_all(buf, static_cast<size_t>(n), 5000);
  }));

  Socket client = Socket::tcp();
  ASSERT_TRUE(client.connect(ep, 2000));
  ASSERT_TRUE(client.set_nodelay(true));
  std::string msg(10000, '\0');
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<char>(i * 31);
  ASSERT_TRUE(client.send_all(msg.data(), msg.size(), 5000));
  std::string got;
  char buf[1024];
  while (got.size() < msg.size()) {
    int n = client.recv(buf, sizeof buf, 5000);
    ASSERT_GT(n, 0);
    got.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, msg);
  client.close();
  ASSERT_TRUE(echo.join(5000));
}

TEST(Tcp, PeerCloseAndReceiveTimeoutAreTold) {
  Socket server = Socket::tcp();
  ASSERT_TRUE(server.bind({kLoopback, 0}));
  ASSERT_TRUE(server.listen());
  Socket client = Socket::tcp();
  ASSERT_TRUE(client.connect(server.local_endpoint().value(), 2000));
  Socket accepted = server.accept(2000);
  ASSERT_TRUE(accepted.valid());
  char buf[16];
  EXPECT_EQ(client.recv(buf, sizeof buf, 50), kSocketTimeout);
  accepted.close();
  EXPECT_EQ(client.recv(buf, sizeof buf, 2000), kSocketClosed);
}

TEST(Tcp, ConnectToAClosedPortFailsAndAcceptTimesOut) {
  Socket probe = Socket::tcp();
  ASSERT_TRUE(probe.bind({kLoopback, 0}));
  Endpoint ep = probe.local_endpoint().value();
  probe.close();
  Socket client = Socket::tcp();
  EXPECT_FALSE(client.connect(ep, 2000));

  Socket server = Socket::tcp();
  ASSERT_TRUE(server.bind({kLoopback, 0}));
  ASSERT_TRUE(server.listen());
  EXPECT_FALSE(server.accept(30).valid());
}

// The connect in steps: each poll waits a slice, so a caller can give up between slices.
TEST(Tcp, ConnectInStepsConnectsFailsOrStaysPending) {
  Socket server = Socket::tcp();
  ASSERT_TRUE(server.bind({kLoopback, 0}));
  ASSERT_TRUE(server.listen());
  Socket probe = Socket::tcp();
  ASSERT_TRUE(probe.bind({kLoopback, 0}));
  Endpoint closed = probe.local_endpoint().value();
  probe.close();
  // A listener whose accept queue is full answers neither yes nor no.
  Socket full = Socket::tcp();
  ASSERT_TRUE(full.bind({kLoopback, 0}));
  ASSERT_TRUE(full.listen(0));
  Endpoint full_ep = full.local_endpoint().value();
  std::vector<Socket> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(Socket::tcp());
    fillers.back().connect(full_ep, 50);
  }

  struct Case {
    const char* what;
    Endpoint to;
    ConnectState after_slices;
  };
  const Case cases[] = {
      {"listener", server.local_endpoint().value(), ConnectState::kConnected},
      {"closed port", closed, ConnectState::kFailed},
      {"full accept queue", full_ep, ConnectState::kPending},
  };
  for (const Case& c : cases) {
    Socket s = Socket::tcp();
    int error = -1;
    ConnectState st = s.connect_begin(c.to, &error);
    for (int slice = 0; slice < 10 && st == ConnectState::kPending; ++slice)
      st = s.connect_poll(50, &error);
    EXPECT_EQ(st, c.after_slices) << c.what;
    if (st == ConnectState::kFailed) {
      EXPECT_NE(error, 0) << c.what;
    }
    if (st == ConnectState::kConnected) {
      EXPECT_EQ(error, 0);
      Socket accepted = server.accept(2000);
      ASSERT_TRUE(accepted.valid());
      ASSERT_TRUE(s.send_all("ping", 4, 2000));
      char buf[8];
      EXPECT_EQ(accepted.recv(buf, sizeof buf, 2000), 4);
      EXPECT_EQ(s.recv(buf, sizeof buf, 20), kSocketTimeout) << "blocking again, and nothing came";
    }
  }
  Socket none;
  int error = 0;
  EXPECT_EQ(none.connect_begin(server.local_endpoint().value(), &error), ConnectState::kFailed);
  EXPECT_EQ(none.connect_poll(10, &error), ConnectState::kFailed);
  EXPECT_NE(error, 0);
}

// A send to a peer that stops reading fails once the send time-out passes, instead of holding
// its caller for good.
TEST(Tcp, SendTimeoutEndsASendThePeerNeverTakes) {
  Socket server = Socket::tcp();
  ASSERT_TRUE(server.bind({kLoopback, 0}));
  ASSERT_TRUE(server.listen());
  Socket client = Socket::tcp();
  ASSERT_TRUE(client.connect(server.local_endpoint().value(), 2000));
  Socket accepted = server.accept(2000);
  ASSERT_TRUE(accepted.valid());
  ASSERT_TRUE(client.set_send_timeout(100));
  std::string chunk(64 * 1024, 'x');
  int result = 0;
  std::chrono::steady_clock::duration last{};
  for (int i = 0; i < 2000 && result >= 0; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    result = client.send(chunk.data(), chunk.size());
    last = std::chrono::steady_clock::now() - t0;
  }
  EXPECT_EQ(result, kSocketError) << "the buffers filled and a send gave up";
  // It gave up after waiting, as a blocking socket with a send time-out does, not at once as a
  // socket left non-blocking by the connect would.
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(last).count(), 50);
}

}  // namespace
}  // namespace ks
