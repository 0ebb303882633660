// Per-channel mailboxes between the desk driver's thread and the LV1 watcher.
//
// The driver's receive thread (through on_desk_event) and the value writer's gang copies (on
// LV1's threads) drop values here; only the watcher takes them out. Writers never block: every
// field is an atomic, the value is stored before its valid flag, and the change count is raised
// last. The watcher looks at a record only when its count moved, and clears each valid flag
// (exchange) before it uses the value, so a value written meanwhile is seen at the next look.
#pragma once

#include <atomic>
#include <cstdint>

namespace ks {

constexpr int kMailboxChannels = 64;

enum MuteKind : std::uint8_t { kMuteNone = 0, kMuteByMute = 1, kMuteByDollarMute = 2 };

struct DeskValueMailbox {
  std::atomic<std::uint32_t> change_count{0};
  std::atomic<std::uint64_t> gain_bits{0};  // double dB, bit for bit
  std::atomic<std::uint8_t> gain_valid{0};
  std::atomic<std::uint8_t> phantom_on{0};
  std::atomic<std::uint8_t> phantom_valid{0};
  std::atomic<std::uint8_t> mute_kind{0};  // MuteKind
  std::atomic<std::uint8_t> muted{0};
  std::atomic<std::uint8_t> mute_valid{0};
  // Gain of the channel's own input while its head amp comes from another input.
  std::atomic<std::uint64_t> own_gain_bits{0};
  std::atomic<std::uint8_t> own_gain_valid{0};
};

// Writers; channels outside 0..63 are ignored. Safe from any thread, never block.
void mailbox_put_gain(int channel, double db);
void mailbox_put_phantom(int channel, bool on);
void mailbox_put_mute(int channel, MuteKind kind, bool muted);
void mailbox_put_own_gain(int channel, double db);

// What the watcher took out of one mailbox.
struct MailboxTake {
  bool has_gain = false;
  double gain = 0.0;
  bool has_phantom = false;
  bool phantom = false;
  bool has_mute = false;
  MuteKind mute_kind = kMuteNone;
  bool muted = false;
  bool has_own_gain = false;
  double own_gain = 0.0;
};

// When the channel's change count differs from *last_seen: remember it, clear each valid flag
// and return the values that were valid. False when nothing changed.
bool mailbox_take(int channel, std::uint32_t* last_seen, MailboxTake* out);

// Clears every valid flag (a value from a desk that is no longer ours must not be reported).
void mailbox_invalidate_all();

// Back to the state at load (tests and a module re-armed after stop).
void mailbox_reset_all();

}  // namespace ks
