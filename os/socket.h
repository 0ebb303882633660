// IPv4 UDP and TCP sockets (Winsock 2), with time-outs on connect, send and receive.
// Addresses here are host byte order u32 (127.0.0.1 == 0x7F000001), ports host order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ks {

struct Endpoint {
  uint32_t addr = 0;
  uint16_t port = 0;
  bool operator==(const Endpoint&) const = default;
};

constexpr uint32_t kLoopback = 0x7F000001u;
constexpr uint32_t kBroadcast = 0xFFFFFFFFu;

// "a.b.c.d", four decimal parts of at most 3 digits, each 0-255, nothing else.
std::optional<uint32_t> parse_ipv4(std::string_view text);
std::string format_ipv4(uint32_t addr);

// Starts Winsock once per process (no-op natively). Sockets call it themselves.
bool net_startup();

// Results of the byte-moving calls: > 0 bytes moved; kSocketClosed when a TCP peer closed.
constexpr int kSocketClosed = 0;
constexpr int kSocketError = -1;
constexpr int kSocketTimeout = -2;
constexpr int kSocketTruncated =
    -3;  // datagram larger than the buffer: dropped (sender still told)

enum class ConnectState { kConnected, kPending, kFailed };

class Socket {
public:
  using Native = uint64_t;  // SOCKET or fd
  static constexpr Native kInvalid = ~Native(0);

  Socket() = default;
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& o) noexcept;
  Socket& operator=(Socket&& o) noexcept;

  static Socket udp();
  static Socket tcp();

  bool valid() const { return s_ != kInvalid; }
  Native native() const { return s_; }
  void close();

  bool bind(Endpoint local);  // addr 0 = any, port 0 = any
  bool set_broadcast(bool on);
  bool set_reuse_address(bool on);
  bool set_nodelay(bool on);
  bool set_recv_timeout(uint32_t ms);  // SO_RCVTIMEO, for plain recv without a wait
  // SO_SNDTIMEO: a send that cannot go out within ms fails instead of holding its caller.
  bool set_send_timeout(uint32_t ms);
  bool set_receive_buffer(int bytes);  // SO_RCVBUF (a listener's passes to what it accepts)
  bool set_nonblocking(bool on);
  std::optional<Endpoint> local_endpoint() const;

  // TCP: connects within `timeout_ms` (non-blocking connect, select, SO_ERROR); the socket is
  // blocking again afterwards.
  bool connect(Endpoint remote, uint32_t timeout_ms);
  // The same connect in steps, so that a caller can give it up between short waits (a stop need
  // not sit behind a connect to a host that does not answer). connect_begin starts it; each
  // connect_poll waits up to `ms` for it. Once connected or failed the socket is blocking again;
  // *error is the system error of a failure (SO_ERROR, or the call's own).
  ConnectState connect_begin(Endpoint remote, int* error);
  ConnectState connect_poll(uint32_t ms, int* error);
  bool listen(int backlog = 8);
  // Waits up to `timeout_ms` for a connection; an invalid socket on time-out or error.
  Socket accept(uint32_t timeout_ms, Endpoint* peer = nullptr);

  // Waits up to `timeout_ms` for data (kInfinite: forever), then receives once.
  int recv(void* buf, size_t cap, uint32_t timeout_ms);
  // Sends once; returns bytes sent or kSocketError.
  int send(const void* buf, size_t len);
  // Sends everything, waiting up to `timeout_ms` in total; false when not all was sent.
  bool send_all(const void* buf, size_t len, uint32_t timeout_ms);
  // Sends what the socket takes at once, never waiting: bytes sent (possibly fewer than len),
  // kSocketTimeout when it takes nothing now, kSocketError. For threads that must not stall; on
  // Windows it switches the socket to non-blocking for the call, so callers serialise their sends.
  int try_send(const void* buf, size_t len);
  int try_send_to(const void* buf, size_t len, Endpoint to);

  int send_to(const void* buf, size_t len, Endpoint to);
  int recv_from(void* buf, size_t cap, Endpoint* from, uint32_t timeout_ms);

  bool wait_readable(uint32_t timeout_ms) const;

  // System error of the last failed call on this thread (WSAGetLastError / errno).
  static int last_error();

private:
  explicit Socket(Native s) : s_(s) {}
  Native s_ = kInvalid;
};

// Waits with select over up to 64 sockets for at most `timeout_ms`. Returns the index of the
// first readable one in the caller's list, or -1 on time-out, error or n < 1.
int select_readable(const Socket* const* sockets, int n, uint32_t timeout_ms);
int select_readable(const Socket::Native* sockets, int n, uint32_t timeout_ms);

}  // namespace ks
