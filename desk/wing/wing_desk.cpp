// The WING's DeskDriver record: the framework reaches the desk only through it.
#include "desk/wing/wing_desk.h"

#include "desk/wing/wing_desk_rules.h"
#include "desk/wing/wing_discovery.h"
#include "desk/wing/wing_link.h"
#include "desk/wing/wing_meters.h"
#include "desk/wing/wing_slots.h"

namespace ks {

namespace {

// The link's counters are plain functions; the record's slots use the module ABI.
uint32_t KS_ABI d_sent() { return link_sent_count(); }
uint32_t KS_ABI d_received() { return link_received_count(); }
uint32_t KS_ABI d_events() { return link_event_count(); }

const DeskDriver kWingDriver = {
    "Behringer WING", "Music Tribe", wing_identity, wing_connect, wing_disconnect, wing_link_alive,
    wing_discover, wing_adopt, wing_read_preamp, wing_read_gain, wing_read_phantom, wing_read_mute,
    wing_read_mode, wing_stereo_lead, wing_read_source, wing_set_patch, wing_read_route,
    wing_read_name, wing_gain_range, wing_is_preamp_bank, wing_send_gain, wing_send_phantom,
    wing_send_mode, wing_set_event_callback, wing_meters_start, wing_meters_stop,
    wing_meters_flowing, wing_meter_frames, wing_meter_now, wing_meter_peak, wing_meter_clip,
    d_sent, d_received, d_events, wing_read_card_type, wing_headamp_type, wing_read_port_devices,
    wing_read_port_remote, wing_stagebox_channels,
    // Stereo links and the card patch may be set from here; 0x1C keeps the word the desk has
    // always handed over (0x1F), bits that no reader looks at.
    CAP_STEREO_LINK | CAP_REPATCH | 0x1C, wing_bank_size, wing_read_tcplock,
    nullptr,  // ha_link_partner: 48 V pairs follow the stereo links
    nullptr,  // aes50_port_present
};

const ModuleParts kWingModule = {"wing", &kWingDriver, link_failed_connects};

}  // namespace

const ModuleParts& wing_module_parts() { return kWingModule; }

}  // namespace ks
