// A scriptable desk behind the DeskDriver record, for the framework's tests (natively and under
// Wine, and inside the test console module DLL).
//
// It holds an in-memory desk (inputs with gain, 48 V, mode, name, head-amp type; card slots with
// their routing and card type; ports; ranges), answers the driver slots from it, records every
// call, and can be told to fail a slot, to answer with hostile text, to take time (on a
// ManualClock, or in real milliseconds), and to push desk events through the installed callback.
// Any slot can be removed (set to null) in `desc` to play a driver without it.
#pragma once

#include <atomic>
#include <functional>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "shared/desk_driver.h"

namespace ks {

class ManualClock;

struct FakeInput {
  double gain = 0.0;
  bool phantom = false;
  uint32_t mode = 0;
  std::string name = "";
  int32_t headamp_type = 3;  // 2 and above: a head amp
  uint32_t mute = 0;
};

struct FakeRoute {
  std::string bank;
  uint32_t input = 0;
};

class FakeDesk {
public:
  // Back to a desk with every slot filled, the link up, caps 0x3, no inputs and no routes.
  void reset();

  // The record handed to the framework as its driver (tests may null slots or change caps).
  DeskDriver desc{};

  // ---- the desk ----
  void set_link(bool alive) { link_.store(alive); }
  void set_input(const std::string& bank, uint32_t n, const FakeInput& in);
  FakeInput input(const std::string& bank, uint32_t n);
  // Card channel n of slot is fed from bank/input.
  void route(const std::string& slot, uint32_t n, const std::string& bank, uint32_t input);
  void unroute(const std::string& slot, uint32_t n);
  void set_card_type(const std::string& slot, const std::string& text);
  void set_range(const std::string& bank, double min, double max, double step);
  void set_preamp_banks(std::set<std::string> banks);
  void set_port(const std::string& port, const std::string& devices, int remote,
                uint32_t stagebox_inputs);
  void set_tcplock(bool on) { tcplock_.store(on); }
  // ha_link_partner answers: result with partner bank/input, for one input.
  // Installs the ha_link_partner slot (absent by default, as on the WING).
  void set_partner(const std::string& bank, uint32_t n, int32_t result, const std::string& pbank,
                   int32_t pn);
  void enable_partner_slot();

  // ---- misbehaviour ----
  // Slot names as in DeskDriver ("read_gain", "send_gain", ...). A failing slot answers false
  // (or 0 / -1 where it answers a number) without touching its outputs.
  void fail(const std::string& slot, bool on = true);
  // Fails only this input (bank/n) for this slot.
  void fail_input(const std::string& slot, const std::string& bank, uint32_t n, bool on = true);
  // Text slots fill the whole buffer with 'X' and no NUL.
  void hostile_text(bool on) { hostile_.store(on); }
  // Every call of this slot takes ms (advancing the clock when one is given, else sleeping).
  void delay(const std::string& slot, uint32_t ms);
  void use_clock(ManualClock* clock) { clock_ = clock; }
  // Called (outside the fake's lock) with the text of every call, before it is answered.
  void on_call(std::function<void(const std::string&)> fn);
  // disconnect() counts one stuck thread, as a driver whose thread missed its wait.
  void stick_on_disconnect(bool on) { stick_disconnect_.store(on); }

  // ---- what happened ----
  std::vector<std::string> calls();
  // Calls whose text begins with prefix ("send_gain", "send_phantom LCL 5").
  std::vector<std::string> calls_of(const std::string& prefix);
  void clear_calls();
  EventFn callback() const { return callback_.load(); }
  // Pushes one desk value through the installed callback; false when none is installed.
  bool push(const char* bank, int32_t n, const char* kind, double value, uint8_t flag);
  int connects() const { return connects_.load(); }
  int disconnects() const { return disconnects_.load(); }

  // Used by the slot functions.
  bool enter(const char* slot, const std::string& call, const std::string& bank = "",
             uint32_t n = 0);
  std::mutex mu;
  std::map<std::pair<std::string, uint32_t>, FakeInput> inputs;
  std::map<std::string, std::map<uint32_t, FakeRoute>> routes;
  std::map<std::string, std::string> card_types;
  struct Range {
    double min, max, step;
  };
  std::map<std::string, Range> ranges;
  std::set<std::string> preamp_banks;
  struct Port {
    std::string devices;
    int remote;
    uint32_t stagebox;
  };
  std::map<std::string, Port> ports;
  struct Partner {
    int32_t result;
    std::string bank;
    int32_t n;
  };
  std::map<std::pair<std::string, uint32_t>, Partner> partners;
  std::atomic<bool> link_{true};
  std::atomic<bool> tcplock_{false};
  std::atomic<bool> hostile_{false};
  std::atomic<bool> stick_disconnect_{false};
  std::atomic<EventFn> callback_{nullptr};
  std::atomic<int> connects_{0};
  std::atomic<int> disconnects_{0};

private:
  std::set<std::string> failing_;
  std::set<std::string> failing_inputs_;
  std::map<std::string, uint32_t> delays_;
  std::vector<std::string> calls_;
  std::function<void(const std::string&)> on_call_;
  ManualClock* clock_ = nullptr;
};

FakeDesk& fake_desk();

// Upper-case form used as the fake's key for a bank name.
std::string fake_key(const std::string& bank);

}  // namespace ks
