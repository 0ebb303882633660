#include "tray/ui/bridge_link.h"

#include "tray/services/ansi_text.h"

namespace ks::tray {

const char* refusal_text(PostRefusal why) {
  switch (why) {
    case PostRefusal::too_old: return kRefusedTooOld;
    case PostRefusal::ring_full: return kRefusedRingFull;
    case PostRefusal::not_running:
    case PostRefusal::none: break;
  }
  return kRefusedNotRunning;
}

uint32_t BlockBridgeLink::post(const CommandRequest& r, std::string* refusal) {
  PostRefusal why = PostRefusal::none;
  const uint32_t seq = ring_post(v_, r, &why);
  if (!seq && refusal) *refusal = refusal_text(why);
  return seq;
}

bool BlockBridgeLink::result(uint32_t seq, uint32_t* result, std::string* reply) {
  std::string raw;
  if (!ring_result(v_, seq, result, &raw)) return false;
  if (reply) *reply = ansi_to_utf8(raw);
  return true;
}

const StatusBlock* StatusLinkBridge::block() {
  if (!link_.select()) return nullptr;
  return status_block_of(link_.active_view());
}

uint32_t StatusLinkBridge::post(const CommandRequest& r, std::string* refusal) {
  const uint32_t seq = link_.post_command(r.op, r.channel, r.arg, r.value, r.group, r.arg2);
  if (!seq && refusal) *refusal = link_.command_refusal_text(r.op, r.channel);
  return seq;
}

bool StatusLinkBridge::result(uint32_t seq, uint32_t* result, std::string* reply) {
  return link_.command_result(seq, result, reply);
}

bool StatusLinkBridge::console_alive(int i) { return StatusLink::alive(link_.view(i)); }

}  // namespace ks::tray
