// A stand-in X32/M32 for tests and the demo: OSC on UDP 10023 of one 127.0.0.x address.
// It keeps a parameter store of what the driver reads and writes, answers a get (a message
// without arguments) with the value and stores a set without answering, keeps "/xremote"
// subscriptions for 10 s and sends every change to the live subscribers. It can play a scene
// load (a burst of changes) and misbehave on request: go silent, drop datagrams, answer at the
// wrong address, or send garbage.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/x32/sim_osc.h"
#include "sim/x32/sim_udp.h"

namespace ks::sim {

class X32Sim {
public:
  struct Options {
    std::string address = "127.0.0.2";
    uint16_t port = 10023;
    std::string name = "Sim X32";
    std::string model = "X32";
    std::string version = "4.06";
    int card_type = 11;           // "/-stat/xcardtype": 11 is the SoundGrid card
    int subscription_ms = 10000;  // how long one "/xremote" keeps a client subscribed
    bool echo_to_sender = false;  // send a client's own sets back to it as well
  };

  struct Received {
    std::chrono::steady_clock::time_point at;
    UdpPeer from;
    std::vector<uint8_t> bytes;
    std::string address;  // empty when the datagram was not OSC
    bool has_args = false;
  };

  X32Sim();
  ~X32Sim();
  X32Sim(const X32Sim&) = delete;
  X32Sim& operator=(const X32Sim&) = delete;

  bool start(const Options& options);
  void stop();
  const Options& options() const { return options_; }

  // The parameter store.
  bool has(const std::string& address);
  OscArg value(const std::string& address);
  void put(const std::string& address, OscArg v);  // silently, as a preset would
  float headamp_gain(int index);                   // 0..1 wire value
  int headamp_phantom(int index);

  // A change made at the desk: stored and sent to every live subscriber.
  void desk_change(const std::string& address, OscArg v);
  // A scene load: `count` changes spread over `spread_ms`, to every live subscriber.
  void scene_load(int count, int spread_ms);

  // Misbehaviour.
  void set_silent(bool on) { silent_ = on; }  // receive, never send
  // Frozen: reads nothing and sends nothing; datagrams queue until it thaws, then each is answered
  // with the value the store holds by then.
  void set_frozen(bool on) { frozen_ = on; }
  // Falls silent the moment a datagram for this address arrives (before answering it).
  void set_silent_from(const std::string& address);
  void set_drop_every(int n) { drop_every_ = n; }  // drop every n-th datagram received (0: none)
  void set_wrong_reply_address(bool on) { wrong_address_ = on; }  // answer gets at another address
  // Holds each answer for ms before sending it; with an address, only the answers to it.
  void set_reply_delay_ms(int ms, const std::string& only_address = "");
  // Sends each datagram to every live subscriber, from the desk's own socket.
  void send_raw_to_subscribers(const std::vector<uint8_t>& datagram);
  void send_raw(const UdpPeer& to, const std::vector<uint8_t>& datagram);

  // What the simulator saw.
  std::vector<Received> received();
  void clear_received();
  int count(const std::string& address);
  std::vector<UdpPeer> subscribers();
  bool wait_for(const std::function<bool()>& ready, int timeout_ms);
  // Called on the simulator's thread after every set a client makes (benchmarks time it).
  void set_observer(std::function<void(const std::string& address)> fn);

private:
  void run();
  void handle(const UdpPeer& from, const uint8_t* data, size_t len);
  void fan_out(const OscPacket& p, const UdpPeer* except);
  void reply(const UdpPeer& to, OscPacket p);
  void seed_store();

  Options options_;
  UdpSocket socket_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> silent_{false};
  std::atomic<bool> frozen_{false};
  std::atomic<int> drop_every_{0};
  std::atomic<bool> wrong_address_{false};
  std::atomic<int> reply_delay_ms_{0};
  std::string delay_address_;  // under mutex_
  std::string silent_from_;    // under mutex_
  std::atomic<uint64_t> datagrams_{0};

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, OscArg> store_;
  std::vector<std::pair<UdpPeer, std::chrono::steady_clock::time_point>> subs_;
  std::vector<Received> received_;
  std::function<void(const std::string&)> observer_;  // under mutex_
};

}  // namespace ks::sim
