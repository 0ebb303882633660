// Finding WING consoles: "WING?" on UDP 2222 answered by the desk's identity line, then two OSC
// questions on UDP 2223 that tell whether a SoundGrid card sits in the option slot.
#pragma once

#include <cstdint>
#include <string_view>

#include "shared/desk_driver.h"

namespace ks {

inline constexpr uint16_t kWingDiscoveryPort = 2222;
inline constexpr uint16_t kWingOscPort = 2223;
inline constexpr int kWingMaxAnswers = 8;
inline constexpr int kWingMaxTargets = 32;
inline constexpr int kWingMaxBroadcastSockets = 16;
inline constexpr uint32_t kWingCardWaitMs = 500;
inline constexpr int kWingAnswerMax = 511;  // bytes of an answer datagram

// Fills `out` from one answer datagram received from `sender_ip`. False (out untouched) when it
// is not an identity line: it must begin "WING," and hold the five commas of
// "WING,ip,name,model,serial,firmware" (the name may hold more). Fields are cut to their record
// fields; control characters become '?'. card is set to -1 (unknown).
bool wing_parse_identity(std::string_view datagram, const char* sender_ip, DeskAnswer* out);

// The card from the two OSC answers: 1 when either says "WSG"; 0 when both answered with a
// string and neither does; -1 otherwise. A null text means that question got no string.
int32_t wing_card_from(const char* opt_mod, const char* card_type);

// The discover slot of the WING driver: asks ip (null: every reachable network) and waits up to
// timeout_ms for answers, at most min(max, 8); then asks each answer about its card (500 ms per
// question) unless the module is stopping (the driver services say). Returns the number of
// answers.
int32_t KS_ABI wing_discover(const char* ip, DeskAnswer* out, int32_t max, uint32_t timeout_ms);

}  // namespace ks
