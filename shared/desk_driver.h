// DeskDriver: the one static table through which the console bridge framework reaches a console.
// Each console module is built with one desk driver (WING or X32/M32) that fills it, and hands it
// to the framework at its entry; the framework never speaks to a desk itself. Also EventFn, the
// driver's push of desk values, and DeskAnswer, one console found on the network.
//
// Conventions of the table: bank is a desk input group ("LCL", "A", "AN", "CRD", ...) compared
// without case; n is an input number counted from 1. Unless a slot says "may be null" it is always
// filled (with a stub answering false, 0 or nothing where the desk has no such thing). Texts a
// driver writes into caller buffers are bounded by the length given and NUL-terminated; the
// framework still treats them as untrusted. Unless said otherwise the slots are called on the
// framework's threads (watcher, discovery) and may block for one network round trip.
#pragma once

#include <cstdint>

#include "shared/records.h"

namespace ks {

// Capability bits of DeskDriver::caps.
inline constexpr uint64_t CAP_STEREO_LINK = 1;  // stereo links may be set from here
inline constexpr uint64_t CAP_REPATCH = 2;      // the card patch may be changed (scan, reroute)

inline constexpr uint32_t kDeskDriverSize = 352;

// One console found by discovery: filled by the driver's discover, read by the framework.
struct DeskAnswer {
  char ip[48];    // dotted IPv4 text
  char name[40];  // the console's name
  char model[24];
  char id[40];         // serial, or MAC "%02x:..:%02x", else "name:" + name, else empty
  char identity[160];  // the IdentityLine: "WING,ip,name,model,serial,firmware" or
                       // "X32,ip,name,model,version"
  int32_t card;        // 1 a SoundGrid card is fitted, 0 none, -1 unknown
};
static_assert(sizeof(DeskAnswer) == 316 && kPlainRecord<DeskAnswer>);
static_assert(offsetof(DeskAnswer, name) == 48 && offsetof(DeskAnswer, model) == 88);
static_assert(offsetof(DeskAnswer, id) == 112 && offsetof(DeskAnswer, identity) == 152);
static_assert(offsetof(DeskAnswer, card) == 312);

// The driver's push of one desk value, called on the driver's receive or poll thread for every
// value the desk reports. kind says what ("g" gain dB in value, "vph" 48 V in flag, "mute",
// "$mute", "mode", "grp", "in", "$ha", "$ract", "rmt", "cgrp", "cin", "cnm", "name", "$reread",
// "$reseed"; others are ignored). All texts are the driver's, valid during the call only; extra is
// always null. The framework only records the value and returns at once.
using EventFn = void(KS_ABI*)(const char* bank, int32_t n, const char* kind, double value,
                              uint8_t flag, const void* extra);

struct DeskDriver {
  const char* model_name;  // for log texts: "Behringer WING", "Behringer X32 / Midas M32"
  const char* maker;       // not read by the framework

  // The chosen desk's IdentityLine, the driver's static text; null allowed.
  const char*(KS_ABI* identity)();
  // Start the link to this IPv4 text (called last when a desk is taken); false: could not start.
  bool(KS_ABI* connect)(const char* ip);
  // End the link and wait for the driver's threads (2000 ms each; one that does not stop adds
  // to the framework's stuck-thread count).
  void(KS_ABI* disconnect)();
  // True while the desk answers; tested before every read or write.
  bool(KS_ABI* link_alive)();
  // Ask ip (null: every reachable network) and wait up to wait_ms; writes at most max answers
  // into out and returns how many (0..max).
  int32_t(KS_ABI* discover)(const char* ip, DeskAnswer* out, int32_t max, uint32_t wait_ms);
  // The driver takes this console as its desk; the answer is the caller's, copied.
  void(KS_ABI* adopt)(const DeskAnswer* answer);

  // Gain and 48 V of one input in one read; gain_valid (may be null) says whether db holds a
  // gain. false: no answer, outputs unspecified.
  bool(KS_ABI* read_preamp)(const char* bank, int32_t n, double* db, uint8_t* phantom,
                            uint8_t* gain_valid);
  // Head-amp gain, dB. false: no answer.
  bool(KS_ABI* read_gain)(const char* bank, int32_t n, double* db);
  // 48 V (0/1). false: no answer. May be null.
  bool(KS_ABI* read_phantom)(const char* bank, int32_t n, uint8_t* on);
  // 0 open, 1 muted by "mute", 2 muted by "$mute". May be null.
  bool(KS_ABI* read_mute)(const char* bank, int32_t n, uint32_t* state);
  // 0 mono, 1/2 stereo lower/upper leg, 3/4 mid/side lower/upper (lower = odd n).
  bool(KS_ABI* read_mode)(const char* bank, int32_t n, uint32_t* mode);
  // Lead input of n's stereo pair (n - 1 for an even leg, else n); not read by the framework.
  uint32_t(KS_ABI* stereo_lead)(const char* bank, int32_t n);
  // Which desk input feeds input n of card slot `slot`: bank into bank_out (bank_len bytes),
  // number into n_out.
  bool(KS_ABI* read_source)(const char* slot, uint32_t n, char* bank_out, uint32_t bank_len,
                            uint32_t* n_out);
  // Repatch card channel n of slot to bank/input; false: could not send.
  bool(KS_ABI* set_patch)(const char* slot, uint32_t n, const char* bank, uint32_t input);
  // Read back leaf "grp" or "in" of card channel n (for logs only): value, and text into
  // text_len (32) bytes. May be null.
  bool(KS_ABI* read_route)(const char* slot, uint32_t n, const char* leaf, uint32_t* value,
                           char* text, int32_t text_len);
  // The input's name into out (len bytes).
  bool(KS_ABI* read_name)(const char* bank, int32_t n, char* out, int32_t len);
  // Gain range and step of a bank's head amps, dB.
  bool(KS_ABI* gain_range)(const char* bank, int32_t n, double* min, double* max, double* step);
  // Does this bank carry head amps.
  bool(KS_ABI* is_preamp_bank)(const char* bank);
  // Write a head-amp gain, dB; false: not sent.
  bool(KS_ABI* send_gain)(const char* bank, int32_t n, double db);
  // Write 48 V (on 0/1); false: not sent.
  bool(KS_ABI* send_phantom)(const char* bank, int32_t n, uint8_t on);
  // Write the input mode: "ST", "M" or "M/S"; false: not sent.
  bool(KS_ABI* send_mode)(const char* bank, int32_t n, const char* mode);
  // Install (or with null clear) the push callback. Once a clear returns, the driver makes no
  // further call to the old callback (the module may be unmapped after stop).
  void(KS_ABI* set_event_callback)(EventFn fn);

  // Start the meter stream of the taken desk; false: no meters.
  bool(KS_ABI* meters_start)(const DeskAnswer* answer);
  // Stop it and wait for the meter thread.
  void(KS_ABI* meters_stop)();
  // Meter frames are arriving.
  bool(KS_ABI* meters_flowing)();
  // Meter frames received so far.
  uint32_t(KS_ABI* meter_frames)();
  // Level of one input, dB; false: none (the framework shows -144.0).
  bool(KS_ABI* meter_now)(const char* bank, int32_t n, double* db);
  // Peak level of one input, dB; false: none (the framework shows -144.0).
  bool(KS_ABI* meter_peak)(const char* bank, int32_t n, double* db);
  // The input clipped recently.
  bool(KS_ABI* meter_clip)(const char* bank, int32_t n);

  // Messages sent to the desk (not read by the framework).
  uint32_t(KS_ABI* sent_count)();
  // Messages received from the desk (shown in the status block).
  uint32_t(KS_ABI* received_count)();
  // Values pushed through the EventFn (not read by the framework).
  uint32_t(KS_ABI* event_count)();

  // Card type text of slot "MOD" or "CRD" into out (len 16). May be null.
  bool(KS_ABI* read_card_type)(const char* slot, char* out, int32_t len);
  // Head-amp type of an input; a type below 2 (compared signed) means none. May be null.
  bool(KS_ABI* headamp_type)(const char* bank, int32_t n, uint32_t* type);
  // Names of the devices on port "A", "B", "C" or "SC" into out (len bytes). May be null.
  bool(KS_ABI* read_port_devices)(const char* port, char* out, int32_t len);
  // Whether that port's head amps are under remote control. May be null.
  bool(KS_ABI* read_port_remote)(const char* port, uint8_t* on);
  // Inputs offered by the named devices; 0xFFFFFFFF unknown. May be null.
  uint32_t(KS_ABI* stagebox_channels)(const char* names);

  uint64_t caps;  // CAP_STEREO_LINK | CAP_REPATCH; other bits not read

  // Inputs in a bank, used when 1..63 (else 64). May be null.
  uint32_t(KS_ABI* bank_size)(const char* bank);
  // The desk's network-control (TCP) lock. May be null.
  bool(KS_ABI* read_tcplock)(uint8_t* on);
  // The input linked with n for 48 V: 1 found (bank_out, n_out), 0 none, -1 unknown. May be null
  // (then stereo odd/even pairs are used).
  int32_t(KS_ABI* ha_link_partner)(const char* bank, int32_t n, char* bank_out, int32_t len,
                                   int32_t* n_out);
  // Is something connected on AES50 port "A" or "B": 1 yes, 0 no, -1 unknown. May be null.
  int32_t(KS_ABI* aes50_port_present)(const char* port);
};

static_assert(sizeof(DeskDriver) == kDeskDriverSize && kPlainRecord<DeskDriver>,
              "44 fields of 8 bytes");
static_assert(offsetof(DeskDriver, identity) == 0x10);
static_assert(offsetof(DeskDriver, connect) == 0x18);
static_assert(offsetof(DeskDriver, disconnect) == 0x20);
static_assert(offsetof(DeskDriver, link_alive) == 0x28);
static_assert(offsetof(DeskDriver, discover) == 0x30);
static_assert(offsetof(DeskDriver, adopt) == 0x38);
static_assert(offsetof(DeskDriver, read_preamp) == 0x40);
static_assert(offsetof(DeskDriver, read_gain) == 0x48);
static_assert(offsetof(DeskDriver, read_phantom) == 0x50);
static_assert(offsetof(DeskDriver, read_mute) == 0x58);
static_assert(offsetof(DeskDriver, read_mode) == 0x60);
static_assert(offsetof(DeskDriver, stereo_lead) == 0x68);
static_assert(offsetof(DeskDriver, read_source) == 0x70);
static_assert(offsetof(DeskDriver, set_patch) == 0x78);
static_assert(offsetof(DeskDriver, read_route) == 0x80);
static_assert(offsetof(DeskDriver, read_name) == 0x88);
static_assert(offsetof(DeskDriver, gain_range) == 0x90);
static_assert(offsetof(DeskDriver, is_preamp_bank) == 0x98);
static_assert(offsetof(DeskDriver, send_gain) == 0xa0);
static_assert(offsetof(DeskDriver, send_phantom) == 0xa8);
static_assert(offsetof(DeskDriver, send_mode) == 0xb0);
static_assert(offsetof(DeskDriver, set_event_callback) == 0xb8);
static_assert(offsetof(DeskDriver, meters_start) == 0xc0);
static_assert(offsetof(DeskDriver, meters_stop) == 0xc8);
static_assert(offsetof(DeskDriver, meters_flowing) == 0xd0);
static_assert(offsetof(DeskDriver, meter_frames) == 0xd8);
static_assert(offsetof(DeskDriver, meter_now) == 0xe0);
static_assert(offsetof(DeskDriver, meter_peak) == 0xe8);
static_assert(offsetof(DeskDriver, meter_clip) == 0xf0);
static_assert(offsetof(DeskDriver, sent_count) == 0xf8);
static_assert(offsetof(DeskDriver, received_count) == 0x100);
static_assert(offsetof(DeskDriver, event_count) == 0x108);
static_assert(offsetof(DeskDriver, read_card_type) == 0x110);
static_assert(offsetof(DeskDriver, headamp_type) == 0x118);
static_assert(offsetof(DeskDriver, read_port_devices) == 0x120);
static_assert(offsetof(DeskDriver, read_port_remote) == 0x128);
static_assert(offsetof(DeskDriver, stagebox_channels) == 0x130);
static_assert(offsetof(DeskDriver, caps) == 0x138);
static_assert(offsetof(DeskDriver, bank_size) == 0x140);
static_assert(offsetof(DeskDriver, read_tcplock) == 0x148);
static_assert(offsetof(DeskDriver, ha_link_partner) == 0x150);
static_assert(offsetof(DeskDriver, aes50_port_present) == 0x158);

}  // namespace ks
