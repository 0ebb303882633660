#include "bridge/watcher_mailbox.h"

#include <bit>

namespace ks {

namespace {

DeskValueMailbox g_mailboxes[kMailboxChannels];

DeskValueMailbox* box(int channel) {
  if (channel < 0 || channel >= kMailboxChannels) return nullptr;
  return &g_mailboxes[channel];
}

void bump(DeskValueMailbox& m) { m.change_count.fetch_add(1, std::memory_order_release); }

}  // namespace

void mailbox_put_gain(int channel, double db) {
  DeskValueMailbox* m = box(channel);
  if (!m) return;
  m->gain_bits.store(std::bit_cast<std::uint64_t>(db), std::memory_order_relaxed);
  m->gain_valid.store(1, std::memory_order_release);
  bump(*m);
}

void mailbox_put_phantom(int channel, bool on) {
  DeskValueMailbox* m = box(channel);
  if (!m) return;
  m->phantom_on.store(on ? 1 : 0, std::memory_order_relaxed);
  m->phantom_valid.store(1, std::memory_order_release);
  bump(*m);
}

void mailbox_put_mute(int channel, MuteKind kind, bool muted) {
  DeskValueMailbox* m = box(channel);
  if (!m) return;
  m->mute_kind.store(kind, std::memory_order_relaxed);
  m->muted.store(muted ? 1 : 0, std::memory_order_relaxed);
  m->mute_valid.store(1, std::memory_order_release);
  bump(*m);
}

void mailbox_put_own_gain(int channel, double db) {
  DeskValueMailbox* m = box(channel);
  if (!m) return;
  m->own_gain_bits.store(std::bit_cast<std::uint64_t>(db), std::memory_order_relaxed);
  m->own_gain_valid.store(1, std::memory_order_release);
  bump(*m);
}

bool mailbox_take(int channel, std::uint32_t* last_seen, MailboxTake* out) {
  DeskValueMailbox* m = box(channel);
  if (!m || !last_seen || !out) return false;
  std::uint32_t count = m->change_count.load(std::memory_order_acquire);
  if (count == *last_seen) return false;
  *last_seen = count;
  *out = MailboxTake{};
  if (m->own_gain_valid.exchange(0, std::memory_order_acq_rel)) {
    out->has_own_gain = true;
    out->own_gain = std::bit_cast<double>(m->own_gain_bits.load(std::memory_order_relaxed));
  }
  if (m->gain_valid.exchange(0, std::memory_order_acq_rel)) {
    out->has_gain = true;
    out->gain = std::bit_cast<double>(m->gain_bits.load(std::memory_order_relaxed));
  }
  if (m->phantom_valid.exchange(0, std::memory_order_acq_rel)) {
    out->has_phantom = true;
    out->phantom = m->phantom_on.load(std::memory_order_relaxed) != 0;
  }
  if (m->mute_valid.exchange(0, std::memory_order_acq_rel)) {
    out->has_mute = true;
    std::uint8_t k = m->mute_kind.load(std::memory_order_relaxed);
    out->mute_kind = k == kMuteByDollarMute ? kMuteByDollarMute : kMuteByMute;
    out->muted = m->muted.load(std::memory_order_relaxed) != 0;
  }
  return true;
}

void mailbox_invalidate_all() {
  for (DeskValueMailbox& m : g_mailboxes) {
    m.gain_valid.store(0, std::memory_order_release);
    m.phantom_valid.store(0, std::memory_order_release);
    m.mute_valid.store(0, std::memory_order_release);
    m.own_gain_valid.store(0, std::memory_order_release);
  }
}

void mailbox_reset_all() {
  mailbox_invalidate_all();
  for (DeskValueMailbox& m : g_mailboxes) m.change_count.store(0, std::memory_order_release);
}

}  // namespace ks
