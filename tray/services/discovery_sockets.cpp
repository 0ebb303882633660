// The real sockets of a search, on the os layer's UDP sockets (Winsock on Windows).
#include <vector>

#include "tray/services/discovery.h"

namespace ks::tray {

namespace {

class SocketDiscoveryIo : public DiscoveryIo {
public:
  bool open(const std::vector<uint32_t>& broadcast_from) override {
    close();
    main_ = Socket::udp();
    if (!main_.valid() || !main_.set_broadcast(true) || !main_.bind({0, 0})) {
      main_.close();
      return false;
    }
    main_.set_recv_timeout(
        kDiscoveryRoundMs);  // the waits are select's; this only bounds a stray recv
    for (uint32_t addr : broadcast_from) {
      if (extra_.size() >= kMaxBroadcastSockets) break;
      Socket s = Socket::udp();
      // An address that cannot be bound (gone since the list was made) is left out.
      if (s.valid() && s.set_broadcast(true) && s.bind({addr, 0})) extra_.push_back(std::move(s));
    }
    return true;
  }

  bool send_main(Endpoint to, const uint8_t* data, size_t n) override {
    return main_.send_to(data, n, to) == static_cast<int>(n);
  }

  int send_from_each(Endpoint to, const uint8_t* data, size_t n) override {
    int sent = 0;
    for (Socket& s : extra_) sent += s.send_to(data, n, to) == static_cast<int>(n) ? 1 : 0;
    return sent;
  }

  int receive(uint8_t* buf, size_t cap, Endpoint* from, uint32_t ms) override {
    const Socket* all[1 + kMaxBroadcastSockets];
    int n = 0;
    all[n++] = &main_;
    for (const Socket& s : extra_) all[n++] = &s;
    const int ready = select_readable(all, n, ms);
    if (ready < 0) return kSocketTimeout;
    return const_cast<Socket*>(all[ready])->recv_from(buf, cap, from, 0);
  }

  void close() override {
    main_.close();
    extra_.clear();
  }

private:
  Socket main_;
  std::vector<Socket> extra_;
};

}  // namespace

std::unique_ptr<DiscoveryIo> make_socket_discovery_io() {
  return std::make_unique<SocketDiscoveryIo>();
}

}  // namespace ks::tray
