// The X32/M32's DeskDriver record: the framework reaches the desk only through it.
#include "desk/x32/x32_desk.h"

#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "desk/x32/x32_tables.h"

#include <cstring>

namespace ks {

namespace {

const char* KS_ABI d_identity() { return x32_identity(); }
bool KS_ABI d_connect(const char* ip) { return x32_connect(ip); }
void KS_ABI d_disconnect() { x32_disconnect(); }
bool KS_ABI d_link_alive() { return x32_link_alive(); }
int32_t KS_ABI d_discover(const char* ip, DeskAnswer* out, int32_t max, uint32_t wait_ms) {
  return x32_discover(ip, out, max, wait_ms);
}
void KS_ABI d_adopt(const DeskAnswer* a) { x32_adopt(a); }
bool KS_ABI d_read_preamp(const char* bank, int32_t n, double* db, uint8_t* ph, uint8_t* valid) {
  return x32_read_preamp(bank, n, db, ph, valid);
}
bool KS_ABI d_read_gain(const char* bank, int32_t n, double* db) {
  return x32_read_gain(bank, n, db);
}
bool KS_ABI d_read_phantom(const char* bank, int32_t n, uint8_t* on) {
  return x32_read_phantom(bank, n, on);
}
bool KS_ABI d_read_mute(const char*, int32_t, uint32_t* state) {
  if (state) *state = 0;
  return false;
}
bool KS_ABI d_read_mode(const char*, int32_t, uint32_t* mode) {
  if (mode) *mode = 0;
  return true;
}
uint32_t KS_ABI d_stereo_lead(const char*, int32_t n) { return uint32_t(n); }
bool KS_ABI d_read_source(const char* slot, uint32_t n, char* bank, uint32_t len, uint32_t* n_out) {
  return x32_read_source(slot, n, bank, len, n_out);
}
bool KS_ABI d_set_patch(const char*, uint32_t, const char*, uint32_t) { return false; }
bool KS_ABI d_read_route(const char*, uint32_t, const char*, uint32_t* value, char* text,
                         int32_t len) {
  if (value) *value = 0;
  if (text && len > 0) text[0] = 0;
  return false;
}
bool KS_ABI d_read_name(const char*, int32_t, char* out, int32_t len) {
  if (out && len > 0) out[0] = 0;
  return false;
}
bool KS_ABI d_gain_range(const char* bank, int32_t n, double* min, double* max, double* step) {
  if (x32_headamp_index(bank, n) < 0) return false;
  *min = kX32GainMin;
  *max = kX32GainMax;
  *step = kX32GainStep;
  return true;
}
bool KS_ABI d_is_preamp_bank(const char* bank) { return x32_headamp_index(bank, 1) >= 0; }
bool KS_ABI d_send_gain(const char* bank, int32_t n, double db) {
  return x32_send_gain(bank, n, db);
}
bool KS_ABI d_send_phantom(const char* bank, int32_t n, uint8_t on) {
  return x32_send_phantom(bank, n, on);
}
bool KS_ABI d_send_mode(const char*, int32_t, const char*) { return false; }
void KS_ABI d_set_event_callback(EventFn fn) { x32_set_event_callback(fn); }
bool KS_ABI d_meters_start(const DeskAnswer*) { return false; }
void KS_ABI d_meters_stop() {}
bool KS_ABI d_meters_flowing() { return false; }
uint32_t KS_ABI d_meter_frames() { return 0; }
bool KS_ABI d_meter_level(const char*, int32_t, double*) { return false; }
bool KS_ABI d_meter_clip(const char*, int32_t) { return false; }
uint32_t KS_ABI d_sent() { return x32_sent_count(); }
uint32_t KS_ABI d_received() { return x32_received_count(); }
uint32_t KS_ABI d_events() { return x32_event_count(); }
bool KS_ABI d_headamp_type(const char* bank, int32_t n, uint32_t* type) {
  return x32_headamp_type(bank, n, type);
}
int32_t KS_ABI d_ha_link_partner(const char* bank, int32_t n, char* out, int32_t len,
                                 int32_t* n_out) {
  return x32_ha_link_partner(bank, n, out, len, n_out);
}
int32_t KS_ABI d_aes50_port_present(const char* port) { return x32_aes50_port_present(port); }

const DeskDriver kX32Driver = {
    "Behringer X32 / Midas M32",
    "Music Tribe",
    d_identity,
    d_connect,
    d_disconnect,
    d_link_alive,
    d_discover,
    d_adopt,
    d_read_preamp,
    d_read_gain,
    d_read_phantom,
    d_read_mute,
    d_read_mode,
    d_stereo_lead,
    d_read_source,
    d_set_patch,
    d_read_route,
    d_read_name,
    d_gain_range,
    d_is_preamp_bank,
    d_send_gain,
    d_send_phantom,
    d_send_mode,
    d_set_event_callback,
    d_meters_start,
    d_meters_stop,
    d_meters_flowing,
    d_meter_frames,
    d_meter_level,
    d_meter_level,
    d_meter_clip,
    d_sent,
    d_received,
    d_events,
    nullptr,  // read_card_type
    d_headamp_type,
    nullptr,  // read_port_devices
    nullptr,  // read_port_remote
    nullptr,  // stagebox_channels
    0,        // caps: stereo links and the card patch are set on the desk
    nullptr,  // bank_size
    nullptr,  // read_tcplock
    d_ha_link_partner,
    d_aes50_port_present,
};

const ModuleParts kX32Module = {"x32", &kX32Driver, nullptr};

}  // namespace

const ModuleParts& x32_module_parts() { return kX32Module; }

}  // namespace ks
