// One console kind's card on the setup page: whether it is shown, its name and hardware line,
// one of the card state codes with its label, tones and message, its buttons, candidates,
// detail rows, address facts and switch-off texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tray/ui/model/dashboard_state.h"
#include "tray/ui/model/json_writer.h"

namespace ks::tray {

// Tone codes of labels and edges; every other value is dim.
enum Tone : uint32_t { kToneDim = 0, kToneOk = 1, kToneWarn = 2, kToneBad = 3, kToneLv1 = 4 };
const char* tone_name(uint32_t tone);  // "ok", "warn", "bad", "lv1", "dim"

// Card state codes, tried in the order of decide_card_state.
enum CardCode : uint32_t {
  kCodeLoaderBlocked = 0,
  kCodeLostContact = 1,
  kCodeRefused = 2,
  kCodeUpdateBlocked = 3,
  kCodeModuleBlocked = 4,
  kCodeNotAnswering = 5,
  kCodeNoRackSlot = 6,
  kCodeLooking = 7,
  kCodeWaitingForLv1 = 8,
  kCodeOlderLayout = 9,
  kCodeConnected = 10,
  kCodeSwitchedOff = 11,
  kCodeChoose = 12,
  kCodeOtherPlatform = 13,  // ranked, never produced here
  kCodeShared = 14,
  kCodeRefinding = 15,
  kCodeOtherAtAddress = 16,
};

struct CardCandidate {
  std::string head, sub;
  bool card = false;
  std::string id;
};

struct CardDetail {
  std::string k, v;
  bool mono = false;
};

// The identity line split: address, model code and firmware (cut at "-g" and at the first ":").
struct ConsoleIdentity {
  std::string address, name, model, firmware;
};
ConsoleIdentity parse_identity_line(std::string_view line);
// "WING Rack", "Midas M32R", "Behringer X32 Rack", ...; "WING" or "X32 / M32" without a model.
std::string console_model_name(int kind, std::string_view model_code);

struct ConsoleCard {
  uint32_t kind = 0;
  bool shown = false, card_module_present = false, installed = false, on = false, older = false,
       beta = false;
  std::string name, meta, status, msg;
  std::string card_type;  // "WSG card", "DN32-WSG card", "X-WSG card"
  std::string address;    // from the identity line, "" unknown
  uint32_t state = kCodeLooking;
  uint32_t dot = kToneDim, edge = kToneDim, msg_tone = kToneDim;
  bool switch_enabled = false;
  bool retry = false, support = false, blink = false, recall = true, resync_lv1 = false;
  std::vector<CardCandidate> cands;
  uint32_t input_count = 0;  // strips with a head amp; 0 unknown
  std::string input_groups;
  std::vector<CardDetail> details;
  // address object
  std::string addr_set;
  bool addr_can = false, addr_band = false, discovered = false;
};

ConsoleCard build_console_card(const DashboardState& state, int kind);
void write_console_card(JsonWriter& w, const ConsoleCard& card);
// The address object of a card (also offered by the page model while no card is shown).
void write_address_object(JsonWriter& w, const ConsoleCard& card);

// True while the loader block reports a usable live card of the type.
bool live_card(const DashboardState& state, int kind);

}  // namespace ks::tray
