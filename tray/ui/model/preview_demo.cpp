#include "tray/ui/model/preview_demo.h"

#include <cmath>
#include <cstring>

#include "bridge/text.h"

namespace ks::tray {

namespace {

constexpr int32_t kRigUptimeMs = 600000;
constexpr int32_t kFreshUptimeMs = 8000;

void full_console(PreviewConsole& c, uint32_t product) {
  c.installed = true;
  c.on = true;
  c.found = true;
  c.status_block = true;
  c.answering = true;
  c.link_age_ms = 0;
  c.loaded = true;
  c.live_card = true;
  c.product_id = product;
  c.module_version = "3.1.0";
}

void full_rig(PreviewDemo& d) {
  d.lv1_running = true;
  d.lv1_uptime_ms = kRigUptimeMs;
  full_console(d.con[kWing], 5);
  full_console(d.con[kX32], 3);
}

void lv1_up(PreviewDemo& d, int32_t ms = kRigUptimeMs) {
  d.lv1_running = true;
  d.lv1_uptime_ms = ms;
}

// Installed and on, loaded in LV1 with a live card, its status block up but the desk silent.
void silent_console(PreviewConsole& c, uint32_t product) {
  full_console(c, product);
  c.answering = false;
  c.link_age_ms = kLinkAgeNever;
}

void not_answering(PreviewConsole& c) {
  c.answering = false;
  c.link_age_ms = kLinkAgeNever;
}

constexpr char kNetBlockedText[] =
    "Blocked from the local network - allow eMotion LV1 under Local Network";

using StateFn = void (*)(PreviewDemo&);

struct SetupState {
  const char* name;
  StateFn set;
};

void other_platform_rig(PreviewDemo& d) { full_rig(d); }
void other_platform_found(PreviewDemo& d) {
  lv1_up(d);
  d.con[kWing].found = true;
}

const SetupState kStates[] = {
    {"setup-first", [](PreviewDemo& d) { d.con[kWing].found = true; }},
    {"setup-rig",
     [](PreviewDemo& d) {
       full_rig(d);
       d.con[kX32].live_card = false;
       d.con[kX32].product_id = 0;
     }},
    {"setup-x32",
     [](PreviewDemo& d) {
       lv1_up(d);
       full_console(d.con[kX32], 4);
     }},
    {"setup-off",
     [](PreviewDemo& d) {
       full_console(d.con[kWing], 5);
       full_console(d.con[kX32], 3);
       d.con[kWing].on = false;
       for (auto& c : d.con) {
         not_answering(c);
         c.loaded = c.live_card = false;
         c.product_id = 0;
         c.module_version.clear();
       }
     }},
    {"setup-looking",
     [](PreviewDemo& d) {
       full_rig(d);
       d.lv1_uptime_ms = kFreshUptimeMs;
       for (auto& c : d.con) not_answering(c);
     }},
    {"setup-trouble",
     [](PreviewDemo& d) {
       full_rig(d);
       for (auto& c : d.con) not_answering(c);
       d.con[kX32].status_text = "Desk refused the control link";
     }},
    {"setup-lost",
     [](PreviewDemo& d) {
       full_rig(d);
       d.con[kWing].answering = false;
       d.con[kWing].link_age_ms = 95000;
       d.con[kWing].status_text = "Desk not answering";
       d.con[kX32].failures = 1;
       d.con[kX32].failed_file = "x32-3.2.0.dll";
     }},
    {"setup-blocked",
     [](PreviewDemo& d) {
       full_rig(d);
       for (auto& c : d.con) not_answering(c);
       d.blocked = true;
     }},
    {"setup-modblocked",
     [](PreviewDemo& d) {
       lv1_up(d);
       PreviewConsole& w = d.con[kWing];
       w.installed = w.on = w.found = w.loaded = true;
       w.failures = 1;
       w.failed_file = "wing-3.2.0.dll";
     }},
    {"setup-choose",
     [](PreviewDemo& d) {
       lv1_up(d);
       silent_console(d.con[kWing], 5);
       d.con[kWing].decision = 4;
       d.con[kWing].two_answers = true;
     }},
    {"setup-pingone",
     [](PreviewDemo& d) {
       lv1_up(d);
       silent_console(d.con[kWing], 5);
       d.con[kWing].decision = 5;
       d.con[kWing].two_answers = true;
       d.con[kWing].chosen_console = "WING-PP-20061180";
     }},
    {"setup-extracard",
     [](PreviewDemo& d) {
       lv1_up(d);
       full_console(d.con[kWing], 5);
       d.con[kWing].extra_cards = 1;
     }},
    {"setup-aes50",
     [](PreviewDemo& d) {
       lv1_up(d);
       full_console(d.con[kX32], 3);
       d.con[kX32].aes50_unconnected = 1;
     }},
    {"setup-aes50-both",
     [](PreviewDemo& d) {
       full_rig(d);
       d.con[kX32].aes50_unconnected = 3;
     }},
    {"setup-noslot",
     [](PreviewDemo& d) {
       lv1_up(d);
       PreviewConsole& w = d.con[kWing];
       w.installed = w.on = w.found = w.loaded = true;
       w.module_version = "3.1.0";
     }},
    {"setup-netblocked",
     [](PreviewDemo& d) {
       full_rig(d);
       for (auto& c : d.con) {
         not_answering(c);
         c.status_text = kNetBlockedText;
       }
     }},
    {"setup-unseen",
     [](PreviewDemo& d) {
       lv1_up(d);
       full_console(d.con[kWing], 5);
       PreviewConsole& x = d.con[kX32];
       x.installed = x.on = x.loaded = x.live_card = true;
       x.product_id = 3;
       x.module_version = "3.1.0";
     }},
    {"setup-remembered",
     [](PreviewDemo& d) {
       lv1_up(d);
       full_console(d.con[kWing], 5);
       PreviewConsole& x = d.con[kX32];
       x.installed = x.on = x.loaded = x.live_card = true;
       x.product_id = 3;
       x.module_version = "3.1.0";
       x.status_block = true;
       x.hint = "10.42.20.40";
     }},
    {"setup-shared",
     [](PreviewDemo& d) {
       lv1_up(d);
       PreviewConsole& w = d.con[kWing];
       w.installed = w.on = w.found = w.loaded = true;
       w.hands_off = true;
     }},
    {"setup-translocated", other_platform_rig},
    {"setup-fromdmg", other_platform_rig},
    {"setup-adminfree", other_platform_rig},
    {"setup-lv1off", other_platform_rig},
    {"setup-netask", other_platform_found},
    {"setup-netwait", other_platform_found},
    {"setup-perms", other_platform_rig},
    {"setup-netself", other_platform_rig},
    {"setup-macos14", other_platform_rig},
    {"setup-gonedesk",
     [](PreviewDemo& d) {
       full_rig(d);
       not_answering(d.con[kX32]);
       d.con[kX32].status_text = kNetBlockedText;
     }},
    {"setup-refind",
     [](PreviewDemo& d) {
       lv1_up(d);
       silent_console(d.con[kWing], 5);
       d.con[kWing].link_age_ms = 40000;
       d.con[kWing].status_text = "Looking for WING-PP-20060733 again - did its address change?";
       d.con[kWing].address_state = 1;
     }},
    {"setup-moved",
     [](PreviewDemo& d) {
       lv1_up(d);
       full_console(d.con[kWing], 5);
       d.con[kWing].address_moves = 1;
     }},
    {"setup-ipother",
     [](PreviewDemo& d) {
       lv1_up(d);
       silent_console(d.con[kWing], 5);
       PreviewConsole& w = d.con[kWing];
       w.typed_ip = "10.42.20.2";
       w.address_state = 3;
       w.decision = 5;
       w.chosen_console = "WING-PP-20060733";
       w.address_id = "WING-CP-20071502";
       w.address_name = "WING Compact";
     }},
    {"setup-ipsilent",
     [](PreviewDemo& d) {
       full_rig(d);
       PreviewConsole& x = d.con[kX32];
       not_answering(x);
       x.typed_ip = "10.42.30.40";
       x.address_state = 2;
       x.chosen_console = "M32C-09-6C-83";
     }},
    {"setup-notfound",
     [](PreviewDemo& d) {
       lv1_up(d);
       silent_console(d.con[kWing], 5);
       d.con[kWing].found = false;
     }},
    {"setup-addr",
     [](PreviewDemo& d) {
       lv1_up(d);
       silent_console(d.con[kWing], 5);
       d.con[kWing].found = false;
       d.modal = "addr";
       d.modal_con = kWing;
     }},
    {"setup-addr-set",
     [](PreviewDemo& d) {
       lv1_up(d);
       PreviewConsole& x = d.con[kX32];
       x.installed = x.on = x.loaded = x.live_card = true;
       x.product_id = 3;
       x.module_version = "3.1.0";
       PreviewConsole& w = d.con[kWing];
       w.installed = w.on = true;
       w.typed_ip = "10.42.20.2";
     }},
    {"setup-update",
     [](PreviewDemo& d) {
       lv1_up(d);
       full_console(d.con[kWing], 5);
       d.update_pending = true;
     }},
    {"setup-nothing", [](PreviewDemo&) {}},
    {"setup-nothing-addr",
     [](PreviewDemo& d) {
       for (auto& c : d.con) c.installed = c.on = true;
     }},
    {"setup-nothing-addr-open",
     [](PreviewDemo& d) {
       for (auto& c : d.con) c.installed = c.on = true;
       d.modal = "addr";
       d.modal_con = kWing;
       d.address_message = "Type the console's address, like 192.168.1.20.";
     }},
    {"setup-nolv1",
     [](PreviewDemo& d) {
       d.lv1_installed = false;
       d.con[kWing].found = true;
     }},
    {"setup-reopen",
     [](PreviewDemo& d) {
       lv1_up(d, kFreshUptimeMs);
       PreviewConsole& w = d.con[kWing];
       w.installed = w.on = w.found = true;
     }},
    {"setup-migrate",
     [](PreviewDemo& d) {
       full_rig(d);
       for (auto& c : d.con) {
         c.installed = false;
         c.legacy = true;
         c.module_version = "2.4.1";
       }
       d.legacy_any = true;
     }},
    {"setup-cfm-update",
     [](PreviewDemo& d) {
       for (auto& c : d.con) {
         c.on = true;
         c.found = true;
         c.legacy = true;
       }
       d.legacy_any = true;
       d.modal = "update";
     }},
    {"setup-cfm-off",
     [](PreviewDemo& d) {
       full_rig(d);
       d.modal = "off";
       d.modal_con = kWing;
     }},
    {"setup-cfm-remove",
     [](PreviewDemo& d) {
       for (auto& c : d.con) c.installed = c.on = c.found = true;
       d.modal = "remove";
     }},
    {"setup-cfm-remove-lv1",
     [](PreviewDemo& d) {
       lv1_up(d);
       for (auto& c : d.con) c.installed = c.on = c.found = true;
       d.modal = "remove";
     }},
};
static_assert(sizeof kStates / sizeof kStates[0] == kSetupStateCount);

// The status snapshot of one demo console.
void demo_snapshot(const PreviewConsole& c, int kind, StatusSnapshot& s) {
  std::memset(&s, 0, sizeof s);
  if (!c.status_block) return;
  s.present = 1;
  s.version = kStatusLayoutVersion;
  s.desk_answering = c.answering;
  s.lv1_loaded = c.loaded;
  copy_text(s.status_text, sizeof s.status_text,
            c.status_text.empty() ? (c.answering ? "Linked" : "Desk not answering")
                                  : c.status_text.c_str());
  const char* line = kind == kWing ? kDemoWingLine : kDemoX32Line;
  if (c.answering || c.link_age_ms != kLinkAgeNever)
    copy_text(s.desk_line, sizeof s.desk_line, line);
  // 38 WING or 16 X32/M32 strips with head amps, from "LCL" and "A".
  const uint32_t strips = kind == kWing ? 38 : 16;
  const uint32_t local = kind == kWing ? 8 : 8;
  for (uint32_t ch = 0; ch < strips; ++ch) {
    bool on_a = ch >= local;
    copy_text(s.src_bank[ch], sizeof s.src_bank[ch], on_a ? "A" : "LCL");
    s.src_input[ch] = on_a ? ch - local + 1 : ch + 1;
    s.has_head_amp[ch] = !(on_a && kind == kX32 && (c.aes50_unconnected & 1));
  }
  if (kind == kX32) {
    // The X32/M32 reads AES50 A and B; nothing connected leaves their strips without head amps.
    s.source_device_count = 2;
    copy_text(s.source_devices[0].port, sizeof s.source_devices[0].port, "A");
    s.source_devices[0].device = (c.aes50_unconnected & 1) ? 0 : 1;
    s.source_devices[0].strips_without_head_amp = (c.aes50_unconnected & 1) ? strips - local : 0;
    copy_text(s.source_devices[1].port, sizeof s.source_devices[1].port, "B");
    s.source_devices[1].device = (c.aes50_unconnected & 2) ? 0 : 1;
    s.source_devices[1].strips_without_head_amp = (c.aes50_unconnected & 2) ? 8 : 0;
  }
  s.discovery_decision = c.decision;
  if (c.two_answers) {
    s.answer_count = 2;
    auto put = [](DeskAnswerSummary& a, const char* ip, const char* name, const char* model,
                  const char* id, int card) {
      copy_text(a.ip, sizeof a.ip, ip);
      copy_text(a.name, sizeof a.name, name);
      copy_text(a.model, sizeof a.model, model);
      copy_text(a.id, sizeof a.id, id);
      a.card = card;
    };
    if (kind == kWing) {
      put(s.answers[0], "10.42.20.2", "WING Rack", "wing-rack", "WING-PP-20060733", 1);
      put(s.answers[1], "10.42.20.7", "WING Compact", "wing-compact", "WING-CP-20071502", 0);
    } else {
      put(s.answers[0], "10.42.20.40", "M32C", "M32C", "M32C-09-6C-83", 1);
      put(s.answers[1], "10.42.20.41", "X32 Rack", "X32RACK", "X32RACK-0A-11-52", 0);
    }
  }
  copy_text(s.chosen_console, sizeof s.chosen_console, c.chosen_console.c_str());
  s.address_state = c.address_state;
  s.address_moves = c.address_moves;
  copy_text(s.address_ip, sizeof s.address_ip, c.typed_ip.c_str());
  copy_text(s.address_id, sizeof s.address_id, c.address_id.c_str());
  copy_text(s.address_name, sizeof s.address_name, c.address_name.c_str());
}

}  // namespace

bool apply_setup_state(PreviewDemo& demo, std::string_view name) {
  for (const auto& st : kStates) {
    if (name != st.name) continue;
    demo = PreviewDemo{};
    demo.preview = true;
    st.set(demo);
    return true;
  }
  return false;
}

bool apply_render_state(std::string_view name, PreviewDemo& demo, DashboardUiState& ui,
                        PageModelInputs& in) {
  if (!apply_setup_state(demo, name)) return false;
  ui.modal = kModalNone;
  ui.pending_console = -1;
  if (demo.modal == "off") {
    ui.modal = kModalConfirmOff;
    ui.pending_console = demo.modal_con;
  } else if (demo.modal == "remove") {
    ui.modal = kModalConfirmRemove;
  } else if (demo.modal == "update") {
    ui.modal = kModalConfirmUpdate;
  } else if (demo.modal == "addr") {
    ui.modal = kModalAddress;
    ui.pending_console = demo.modal_con;
  }
  ui.address_message = demo.address_message;
  ui.setup_panel_open[0] = demo.open[0];
  ui.setup_panel_open[1] = demo.open[1];
  in.preview = true;
  in.fake_modal = demo.modal;
  in.fake_modal_con = demo.modal.empty() ? -1 : demo.modal_con;
  in.fake_open[0] = demo.open[0];
  in.fake_open[1] = demo.open[1];
  return true;
}

void fill_demo_snapshot(const PreviewDemo& d, DashboardState& out) {
  dashboard_state_init(out);
  out.lv1_version = d.lv1_installed ? kDemoLv1Version : "";
  out.lv1_found = !out.lv1_version.empty();
  out.lv1_exe_present = d.lv1_installed;
  out.lv1_running = d.lv1_installed && d.lv1_running;
  out.lv1_uptime_ms = out.lv1_running ? d.lv1_uptime_ms : -1;
  out.blocked = d.blocked;
  out.update_pending = d.update_pending;
  out.legacy_any = d.legacy_any;

  bool any_loaded = d.con[0].loaded || d.con[1].loaded;
  out.loader_block_present = !d.blocked && out.lv1_running && any_loaded;
  LoaderBlock& lb = out.loader_block;
  if (out.loader_block_present) {
    lb.magic = kLoaderMagic;
    lb.size = kLoaderBlockSize;
    copy_text(lb.loader_version, sizeof lb.loader_version, kLoaderVersionText);
  }
  for (int t = 0; t < 2; ++t) {
    const PreviewConsole& c = d.con[t];
    if (out.loader_block_present) {
      LoaderTypeRecord& r = lb.types[t];
      copy_text(r.type_name, sizeof r.type_name, kTypeNames[t]);
      r.enabled = c.on;
      r.waves_loaded = c.loaded;
      r.live_usable = c.loaded && c.live_card;
      r.product_id = c.loaded && c.live_card ? c.product_id : 0;
      copy_text(r.running_version, sizeof r.running_version,
                c.loaded ? c.module_version.c_str() : "");
      r.failure_count = c.failures;
      r.last_error = c.failures ? 1 : 0;
      copy_text(r.failed_file, sizeof r.failed_file, c.failed_file.c_str());
      lb.extra_live_cards[t] = c.extra_cards;
      lb.hands_off[t] = c.hands_off;
    }
    out.card_module_present[t] = c.card_module;
    out.installed[t] = c.installed;
    out.on[t] = c.installed && c.on;
    out.legacy[t] = c.legacy;
    if (c.installed) {
      out.session_recall[t] = c.recall;
      out.resync_lv1[t] = c.resync_lv1;
      out.address_known[t] = !c.hint.empty() || !c.chosen_console.empty() || !c.typed_ip.empty();
      out.typed_ip[t] = c.typed_ip;
    }
    demo_snapshot(c, t, out.snapshot[t]);
    out.discovery[t].found = c.found;
    out.discovery[t].line = c.found ? (t == kWing ? kDemoWingLine : kDemoX32Line) : "";
    out.hands_off[t] = out.loader_block_present && c.hands_off;
    out.link_age_ms[t] = out.lv1_running ? c.link_age_ms : kLinkAgeNever;
  }
  out.platform = 1;
  out.network_gate = 0;
  out.identify_offered = 0;
}

bool PreviewSources::whole_picture(DashboardState& out) {
  fill_demo_snapshot(demo_, out);
  return true;
}

bool PreviewSources::read_loader_block(LoaderBlock& out) {
  DashboardState st;
  fill_demo_snapshot(demo_, st);
  out = st.loader_block;
  return st.loader_block_present;
}

bool PreviewSources::console_module_state(int kind, bool& on) {
  const PreviewConsole& c = demo_.con[kind & 1];
  on = c.on;
  return c.installed;
}

void PreviewSources::read_status_snapshot(int kind, StatusSnapshot& out) {
  std::memset(&out, 0, sizeof out);
  demo_snapshot(demo_.con[kind & 1], kind & 1, out);
}

DiscoveryRecord PreviewSources::discovery(int kind) {
  DiscoveryRecord r;
  r.found = demo_.con[kind & 1].found;
  if (r.found) r.line = (kind & 1) == kWing ? kDemoWingLine : kDemoX32Line;
  return r;
}

bool PreviewSources::read_settings(int kind, std::string& text) {
  const PreviewConsole& c = demo_.con[kind & 1];
  if (!c.installed) return false;
  text = std::string("resync=") + (c.resync_lv1 ? "lv1" : "desk") +
         "\nsession_recall=" + (c.recall ? "on" : "off") + "\n";
  if (!c.typed_ip.empty()) text += "ip=" + c.typed_ip + "\n";
  if (!c.hint.empty()) text += "hint=" + c.hint + "\n";
  if (!c.chosen_console.empty()) text += "console=" + c.chosen_console + "\n";
  return true;
}

void make_demo_status_block(StatusBlock& b) {
  std::memset(&b, 0, sizeof b);
  b.magic = kStatusMagic;
  b.version = kStatusLayoutVersion;
  copy_text(b.desk_ip, sizeof b.desk_ip, "10.42.20.2");
  copy_text(b.desk_line, sizeof b.desk_line, kDemoBlockLine);
  b.desk_answering = 1;
  b.lv1_loaded = 1;
  b.meter_frames = 4210;
  b.meters_live = 1;
  copy_text(b.mac, sizeof b.mac, "00:1c:d1:01:b0:d9");
  copy_text(b.profile, sizeof b.profile, "v17.3");
  copy_text(b.watch_bank, sizeof b.watch_bank, "LCL");
  b.watch_base = 1;
  b.watch_count = 64;
  b.range_min = -3.0;
  b.range_max = 45.5;
  b.range_step = 0.5;
  b.patch_age_ms = 12000;
  b.resync_echo = 0;
  copy_text(b.status_text, sizeof b.status_text, "Linked");

  static const char* const names[] = {
      "Kick In", "Kick Out", "Snare Top", "Snare Bot",  "Hat",        "Tom 1",    "Tom 2",
      "Floor",   "OH L",     "OH R",      "Bass DI",    "Bass Mic",   "Gtr 1",    "Gtr 2",
      "Keys L",  "Keys R",   "Vox Lead",  "Vox BV 1",   "Vox BV 2",   "Vox BV 3", "Sax",
      "Trumpet", "Amb L",    "Amb R",     "Playback L", "Playback R", "Click",    "Shout"};
  constexpr uint32_t named = sizeof names / sizeof names[0];
  // Channels 1-16 local, 17-40 AES50 A, 41-48 B, 49-56 StageConnect, 57-62 USB, 63-64 off.
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    const char* bank;
    uint32_t input;
    if (ch < 16)
      bank = "LCL", input = ch + 1;
    else if (ch < 40)
      bank = "A", input = ch - 15;
    else if (ch < 48)
      bank = "B", input = ch - 39;
    else if (ch < 56)
      bank = "SC", input = ch - 47;
    else if (ch < 62)
      bank = "USB", input = ch - 55;
    else
      bank = "OFF", input = 0;
    copy_text(b.src_bank[ch], sizeof b.src_bank[ch], bank);
    b.src_input[ch] = input;
    bool amp = ch < 48;
    b.has_head_amp[ch] = amp;
    b.gain_db[ch] = amp ? 10.0 + double((ch * 7) % 30) : 0.0;
    b.phantom[ch] = amp && (ch % 5 == 2 || (ch >= 8 && ch <= 9));
    b.level_db[ch] = ch < 62 ? -60.0 + double((ch * 13) % 55) : kNoLevelDb;
    b.peak_db[ch] = ch < 62 ? b.level_db[ch] + 6.0 : kNoLevelDb;
    b.clip[ch] = ch == 4;
    if (ch < named) copy_text(b.channel_name[ch], sizeof b.channel_name[ch], names[ch]);
    b.parked_gain_db[ch] = 0.0;
  }
  // Channels 16/17 a stereo pair (counted from 1), 28/29 mid/side, 23/24 the ambience pair.
  b.link_mode[15] = 1, b.link_mode[16] = 2;
  b.link_mode[27] = 3, b.link_mode[28] = 4;
  b.link_mode[22] = 1, b.link_mode[23] = 2;
  b.mute_state[19] = 1;
  b.is_protected[2] = 1;  // snare top: a ribbon on the protect list
  b.phantom[2] = 0;
  b.protect_count = 1;
  copy_text(b.protect[0].bank, sizeof b.protect[0].bank, "LCL");
  b.protect[0].input = 3;

  static const char* const groups[] = {"LCL", "A", "B", "SC", "USB"};
  b.range_count = 5;
  for (uint32_t i = 0; i < 5; ++i) {
    GroupRange& r = b.ranges[i];
    copy_text(r.bank, sizeof r.bank, groups[i]);
    r.min = i == 4 ? 0.0 : -3.0;
    r.max = i == 4 ? 0.0 : 45.5;
    r.step = i == 4 ? 0.0 : 0.5;
    r.known = 1;
  }
  // The reroute page's list: 24 inputs of AES50 A.
  b.input_list_serial = 3;
  copy_text(b.input_list_group, sizeof b.input_list_group, "A");
  b.input_list_count = 24;
  for (uint32_t i = 0; i < 24; ++i) {
    ListedInput& li = b.input_list[i];
    li.input = uint16_t(i + 1);
    li.has_head_amp = 1;
    li.gain_valid = 1;
    li.gain_db = b.gain_db[16 + i];
    li.phantom = b.phantom[16 + i];
    if (16 + i < named) copy_text(li.name, sizeof li.name, names[16 + i]);
    li.fed_count = 1;
    li.fed[0] = uint8_t(16 + i);
  }
  b.discovery_decision = 2;
  b.answer_count = 1;
  copy_text(b.answers[0].ip, sizeof b.answers[0].ip, "10.42.20.2");
  copy_text(b.answers[0].name, sizeof b.answers[0].name, "wing-rack");
  copy_text(b.answers[0].model, sizeof b.answers[0].model, "wing-rack");
  copy_text(b.answers[0].id, sizeof b.answers[0].id, "WING-PP-20060733");
  b.answers[0].card = 1;
  copy_text(b.chosen_console, sizeof b.chosen_console, "WING-PP-20060733");
}

}  // namespace ks::tray
