#include "tray/ui/model/console_card.h"

#include <cstdio>
#include <cstring>

#include "bridge/text.h"

namespace ks::tray {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

bool contains(std::string_view s, std::string_view part) {
  return s.find(part) != std::string_view::npos;
}

std::string fmt(const char* f, long long a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, a);
  return buf;
}

// " for 12 s" / " for 3 min"-style duration: whole seconds below 90 s, else whole minutes.
std::string duration_text(uint32_t age_ms) {
  long long s = age_ms / 1000;
  return s < 90 ? fmt("%lld s", s) : fmt("%lld min", s / 60);
}

const char* kind_word(int kind) { return kind == kX32 ? "X32 / M32 desk" : "WING"; }

std::string port_name(std::string_view bank) {
  if (iequals(bank, "A") || iequals(bank, "B") || iequals(bank, "C"))
    return "AES50 " + std::string(1, char(bank[0] & ~0x20));
  if (iequals(bank, "SC")) return "StageConnect";
  return std::string(bank);
}

std::string group_name(std::string_view bank) {
  if (iequals(bank, "LCL")) return "Local";
  return port_name(bank);
}

// "Local 1–8, AES50 A 3": the desk inputs feeding the strips that have a head amp, per group.
void describe_inputs(const StatusSnapshot& s, uint32_t& count, std::string& groups) {
  struct Group {
    std::string bank;
    uint32_t lo, hi;
  };
  std::vector<Group> seen;
  count = 0;
  if (!s.present) return;
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    if (!s.has_head_amp[ch]) continue;
    std::string_view bank = snap_text(s.src_bank[ch]);
    if (bank.empty() || iequals(bank, "OFF")) continue;
    ++count;
    uint32_t in = s.src_input[ch];
    bool found = false;
    for (auto& g : seen)
      if (iequals(g.bank, bank)) {
        if (in < g.lo) g.lo = in;
        if (in > g.hi) g.hi = in;
        found = true;
      }
    if (!found) seen.push_back({std::string(bank), in, in});
  }
  groups.clear();
  for (auto& g : seen) {
    if (!groups.empty()) groups += ", ";
    groups += group_name(g.bank);
    groups +=
        g.lo == g.hi ? fmt(" %lld", g.lo) : fmt(" %lld", g.lo) + "\u2013" + std::to_string(g.hi);
  }
}

std::string identity_line_of(const DashboardState& st, int kind) {
  std::string_view desk = snap_text(st.snapshot[kind].desk_line);
  if (st.snapshot[kind].present && !desk.empty()) return std::string(desk);
  return st.discovery[kind].line;
}

void set_state(ConsoleCard& c, uint32_t code, std::string status, uint32_t dot, uint32_t edge,
               std::string msg, uint32_t msg_tone) {
  c.state = code;
  c.status = std::move(status);
  c.dot = dot;
  c.edge = edge;
  c.msg = std::move(msg);
  c.msg_tone = msg_tone;
}

}  // namespace

const char* tone_name(uint32_t tone) {
  switch (tone) {
    case kToneOk: return "ok";
    case kToneWarn: return "warn";
    case kToneBad: return "bad";
    case kToneLv1: return "lv1";
    default: return "dim";
  }
}

ConsoleIdentity parse_identity_line(std::string_view line) {
  std::vector<std::string_view> f;
  size_t pos = 0;
  while (true) {
    size_t comma = line.find(',', pos);
    f.push_back(
        line.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  ConsoleIdentity id;
  if (f.size() > 1) id.address = std::string(f[1]);
  if (f.size() > 2) id.name = std::string(f[2]);
  if (f.size() > 3) id.model = std::string(f[3]);
  if (f.size() > 4) {  // the last field is the firmware only when there is one beyond the model
    std::string_view fw = f.back();
    size_t g = fw.find("-g");
    if (g != std::string_view::npos) fw = fw.substr(0, g);
    size_t colon = fw.find(':');
    if (colon != std::string_view::npos) fw = fw.substr(0, colon);
    id.firmware = std::string(fw);
  }
  return id;
}

std::string console_model_name(int kind, std::string_view model_code) {
  std::string m = lower(model_code);
  if (kind == kWing) {
    if (contains(m, "compact")) return "WING Compact";
    if (contains(m, "rack")) return "WING Rack";
    return "WING";
  }
  if (m.empty()) return "X32 / M32";
  if (contains(m, "m32r")) return "Midas M32R";
  bool midas = contains(m, "m32");
  std::string name = midas ? "Midas M32" : "Behringer X32";
  if (contains(m, "rack") || m == "m32c" || m == "x32c")
    name += " Rack";
  else if (contains(m, "producer"))
    name += " Producer";
  return name;
}

bool live_card(const DashboardState& st, int kind) {
  return st.loader_block_present && st.loader_block.types[kind].live_usable != 0;
}

ConsoleCard build_console_card(const DashboardState& st, int kind) {
  ConsoleCard c;
  if (kind != kWing && kind != kX32) return c;
  const StatusSnapshot& s = st.snapshot[kind];
  const LoaderTypeRecord& lt = st.loader_block.types[kind];
  c.kind = uint32_t(kind);
  c.card_module_present = st.card_module_present[kind];
  c.installed = st.installed[kind];
  c.on = st.on[kind] || st.legacy[kind];
  c.older = st.legacy[kind];
  c.beta = kind == kX32;

  ConsoleIdentity id = parse_identity_line(identity_line_of(st, kind));
  c.name = id.model.empty() && id.name.empty() ? console_model_name(kind, "")
                                               : console_model_name(kind, id.model);
  c.address = id.address;
  uint32_t product = st.loader_block_present ? lt.product_id : 0;
  c.card_type =
      kind == kWing ? "WSG card" : (product == 1 || product == 4 ? "DN32-WSG card" : "X-WSG card");
  c.meta = c.card_type;
  if (!id.address.empty()) c.meta += " \u00b7 " + id.address;
  if (!id.firmware.empty()) c.meta += " \u00b7 fw " + id.firmware;

  bool names_desk = s.present && !snap_text(s.desk_line).empty();
  c.shown =
      (c.card_module_present && (st.discovery[kind].found || st.legacy[kind] || names_desk)) ||
      (st.on[kind] && (st.address_known[kind] || live_card(st, kind)));

  const bool answering = s.present && s.desk_answering;
  const bool v17 = s.present && s.version >= 17;
  const std::string_view status_text = snap_text(s.status_text);
  const std::string running = std::string(snap_text(lt.running_version));
  const bool has_record = st.loader_block_present && !snap_text(lt.type_name).empty();
  const uint32_t age = st.link_age_ms[kind];
  const std::string& name = c.name;

  if (st.hands_off[kind]) {
    set_state(c, kCodeShared, "Shared from another LV1", kToneDim, kToneDim,
              "This LV1 uses the " + c.card_type +
                  " through Waves IO Sharing. The LV1 that owns it controls the " + name +
                  "'s preamps, so Kestrune stays hands-off here.",
              kToneDim);
  } else if (st.legacy[kind]) {
    set_state(c, kCodeOlderLayout, answering ? "Connected \u00b7 Kestrune 2" : "Kestrune 2",
              answering ? kToneOk : kToneDim, kToneLv1, "Running on Kestrune 2 until you update.",
              kToneDim);
  } else if (!st.on[kind]) {
    set_state(c, kCodeSwitchedOff, "", kToneDim, kToneDim,
              c.installed ? "LV1 uses Waves' stock module for this card. Settings are kept." : "",
              kToneDim);
  } else if (!st.lv1_running) {
    set_state(c, kCodeWaitingForLv1, "On \u00b7 waiting for LV1", kToneDim, kToneDim, "", kToneDim);
  } else if (st.blocked || (has_record && running.empty() && lt.failure_count != 0)) {
    set_state(
        c, st.blocked ? kCodeLoaderBlocked : kCodeModuleBlocked, "Blocked by Windows", kToneBad,
        kToneBad,
        "Windows blocked this console's Kestrune module, so its strips have no gain or 48V. LV1 and its audio "
        "are fine.",
        kToneBad);
  } else if (s.present && contains(status_text, "refused")) {
    set_state(
        c, kCodeRefused, "Refused", kToneWarn, kToneWarn,
        "The " + name + " refused the control link. Close " +
            (kind == kWing ? "WING Edit" : "X32-Edit / M32-Edit") +
            " or any other app connected to it; otherwise a firewall on this PC is blocking Kestrune. Trying "
            "again every few seconds.",
        kToneWarn);
  } else if (s.present && !answering && (s.version < 17 || s.address_state != 1) &&
             age != kLinkAgeNever && age > 5000) {
    set_state(
        c, kCodeLostContact, "Lost contact", kToneBad, kToneBad,
        "No answer for " + duration_text(age) +
            ". Gain and 48V on its strips are inert; audio is untouched. When it answers, the desk's values "
            "stand.",
        kToneBad);
  } else if (v17 && !answering && s.address_state == 1) {
    std::string m = c.address.empty() ? "No answer" : "No answer at " + c.address;
    if (age != kLinkAgeNever) m += " for " + duration_text(age);
    m +=
        ". Kestrune is looking for this same " + name +
        " at any address, in case its address changed, and reconnects where it answers. Gain and 48V on its "
        "strips are inert; audio is untouched.";
    set_state(c, kCodeRefinding, "Looking for it again", kToneBad, kToneBad, m, kToneBad);
  } else if (has_record && !running.empty() && lt.failure_count != 0) {
    std::string_view failed = snap_text(lt.failed_file);
    std::string m = failed.empty() ? "The update to " + name + " would not load."
                                   : "Windows blocked the update to " + std::string(failed) + ".";
    m += " Kestrune keeps running " + running + " \u2014 nothing on the strip changed.";
    set_state(c, kCodeUpdateBlocked, "Update blocked", kToneWarn, kToneWarn, m, kToneWarn);
  } else if (v17 && !answering && s.address_state == 3 && !snap_text(s.address_id).empty()) {
    std::string other = std::string(snap_text(s.address_name));
    std::string other_said = other.empty() ? std::string(snap_text(s.address_id)) : other;
    std::string chosen = std::string(snap_text(s.chosen_console));
    set_state(c, kCodeOtherAtAddress, "Another console at its address", kToneWarn, kToneWarn,
              std::string(snap_text(s.address_ip)) + ", the address set for it, answers as " +
                  other_said + ", not the " + name + " chosen for this LV1 (" +
                  (chosen.empty() ? "the one chosen in Setup" : chosen) +
                  "). Kestrune won't drive it, and is looking for " + name +
                  " on the network instead. If " + (other.empty() ? "that one" : other) +
                  " is this LV1's console, use it.",
              kToneWarn);
  } else if (v17 && s.address_state == 2 && !snap_text(s.address_ip).empty()) {
    std::string m =
        "Nothing answers at " + std::string(snap_text(s.address_ip)) + ", the address set for it. ";
    m += snap_text(s.chosen_console).empty()
             ? "Is it powered, and is that still its address? Trying again every few seconds."
             : "Kestrune is also looking for " + name + " everywhere else on the network.";
    set_state(c, kCodeNotAnswering, "Not answering", kToneWarn, kToneWarn, m, kToneWarn);
  } else if (s.present && !answering && answer_count(s) > 0 && s.version >= 15 &&
             (s.discovery_decision == 4 || s.discovery_decision == 5)) {
    std::string m;
    char buf[256];
    if (s.discovery_decision == 5) {
      std::string chosen = std::string(snap_text(s.chosen_console));
      std::snprintf(
          buf, sizeof buf,
          "The %s chosen for this LV1 (%s) is not on the network. Kestrune drives none of the others until "
          "you choose one.",
          kind_word(kind), chosen.c_str());
    } else if (answer_count(s) == 1) {
      std::snprintf(
          buf, sizeof buf,
          "The only %s that answered has no SoundGrid card, so it is probably not this LV1's console. If it "
          "is, choose it \u2014 until then Kestrune drives nothing.",
          kind_word(kind));
    } else {
      std::snprintf(
          buf, sizeof buf,
          "%u %ss answered. Choose the one whose card is in this LV1 \u2014 until then Kestrune drives none "
          "of them.",
          answer_count(s), kind_word(kind));
    }
    m = buf;
    set_state(c, kCodeChoose, "Choose the console", kToneWarn, kToneWarn, m, kToneWarn);
  } else if (s.present && !answering) {
    std::string m;
    if (!c.address.empty())
      m = "Not answering at " + c.address +
          ". Is it powered and on this network? Trying again every few seconds.";
    else if (st.address_known[kind])
      m = "Not answering. Is it powered and on this network? Trying again every few seconds.";
    else
      m = "Not answering. Is it powered and on this network? If it is on another subnet or VLAN, set its address. "
          "Trying again every few seconds.";
    set_state(c, kCodeNotAnswering, "Not answering", kToneWarn, kToneWarn, m, kToneWarn);
  } else if (answering && !live_card(st, kind)) {
    set_state(
        c, kCodeNoRackSlot, "Not in a rack slot", kToneWarn, kToneWarn,
        "Its strips have no knobs until the card is in a rack slot. In LV1: Setup \u25b8 System Inventory \u25b8 "
        "assign the " +
            c.card_type + " to a rack slot, then its strips get gain and 48V.",
        kToneWarn);
  } else if (!answering) {
    set_state(c, kCodeLooking, "Looking for it\u2026", kToneDim, kToneDim, "", kToneDim);
  } else {
    set_state(c, kCodeConnected, "Connected", kToneOk, kToneLv1, "", kToneDim);
  }

  // Candidates: while the user must choose, every answer the module's discovery recorded. In
  // other states the list would offer "use this one" beside a console already in use.
  if (c.state == kCodeChoose) {
    for (uint32_t i = 0; i < answer_count(s); ++i) {
      const DeskAnswerSummary& a = s.answers[i];
      CardCandidate cand;
      cand.head = std::string(snap_text(a.name));
      cand.sub = std::string(snap_text(a.ip)) +
                 (a.card == 1 ? " \u00b7 SoundGrid card" : " \u00b7 no SoundGrid card");
      cand.card = a.card == 1;
      cand.id = std::string(snap_text(a.id));
      c.cands.push_back(std::move(cand));
    }
  }

  // Extra live cards of the type.
  uint32_t extra = st.loader_block_present ? st.loader_block.extra_live_cards[kind] : 0;
  if (extra > 0 && st.on[kind] && st.lv1_running && c.msg.empty()) {
    bool one = extra == 1;
    c.msg = "LV1 has " + std::string(one ? "another " : "more ") + c.card_type + (one ? "" : "s") +
            " in a rack slot. Kestrune drives one " + c.card_type + " per LV1, so " +
            (one ? "that card's" : "those cards'") + " strips have no gain or 48V.";
    c.msg_tone = kToneWarn;
  }

  // Missing head amps: X32/M32 sources with strips but nothing connected.
  if (kind == kX32 && c.msg.empty() && s.present && s.version >= 16) {
    uint32_t strips = 0;
    std::string ports;
    for (uint32_t i = 0; i < source_device_count(s); ++i) {
      const SourceDevice& d = s.source_devices[i];
      if (d.device != 0 || d.strips_without_head_amp == 0) continue;
      strips += d.strips_without_head_amp > kChannels ? kChannels : d.strips_without_head_amp;
      if (!ports.empty()) ports += " or ";
      ports += port_name(snap_text(d.port));
    }
    if (strips > 0) {
      char buf[512];
      if (strips == 1)
        std::snprintf(
            buf, sizeof buf,
            "No gain knob on 1 strip: nothing is connected to the %s's %s, where the %s takes it from. "
            "Connect the stagebox and the knob appears by itself.",
            name.c_str(), ports.c_str(), c.card_type.c_str());
      else
        std::snprintf(
            buf, sizeof buf,
            "No gain knobs on %u strips: nothing is connected to the %s's %s, where the %s takes them "
            "from. Connect the stagebox and the knobs appear by themselves.",
            strips, name.c_str(), ports.c_str(), c.card_type.c_str());
      c.msg = buf;
      c.msg_tone = kToneWarn;
    }
  }

  c.switch_enabled = !c.older && c.state != kCodeShared;
  c.retry = c.state == 2 || c.state == 1 || c.state == 15 || c.state == 3 || c.state == 5;
  c.support = c.state == 0 || c.state == 4 || c.state == 3;
  c.blink = st.identify_offered && live_card(st, kind);
  c.recall = st.session_recall[kind];
  c.resync_lv1 = st.resync_lv1[kind];

  describe_inputs(s, c.input_count, c.input_groups);
  {
    CardDetail inputs{"Inputs", "", false};
    if (c.input_count > 0)
      inputs.v = fmt("%lld input", c.input_count) + (c.input_count == 1 ? "" : "s") + " \u00b7 " +
                 c.input_groups;
    else if (c.state == kCodeConnected)
      inputs.v = "none";
    else
      inputs.v = "known once LV1 runs and the console answers";
    c.details.push_back(inputs);
    c.details.push_back({"Gain and 48V",
                         c.state == kCodeConnected
                             ? (c.input_count > 0 ? "on LV1's strips" : "no strip has a head amp")
                             : "not on LV1's strips right now",
                         false});
    c.details.push_back({"Module", running.empty() ? "not running" : running, true});
    std::string console = c.address.empty() ? name : name + " \u00b7 " + c.address;
    c.details.push_back({"Console", console, false});
  }

  c.addr_set = st.typed_ip[kind];
  c.addr_can = c.installed && !c.older && !st.hands_off[kind];
  c.addr_band = c.state == kCodeNotAnswering || c.state == kCodeOtherAtAddress;
  c.discovered = st.discovery[kind].found;
  return c;
}

void write_address_object(JsonWriter& w, const ConsoleCard& c) {
  const bool typed = !c.addr_set.empty();
  json_begin_object(w, "addr");
  json_string(w, "set", c.addr_set);
  json_bool(w, "can", c.addr_can);
  json_bool(w, "band", c.addr_band);
  json_string(w, "btn", typed ? "Change address\u2026" : "Set address\u2026");
  json_string(w, "short", typed ? "Change\u2026" : "Set\u2026");
  std::string desc;
  if (typed)
    desc = c.addr_set +
           ", typed here. Kestrune asks that address first, and checks which console answers.";
  else if (c.discovered && !c.address.empty())
    desc = "Found automatically, at " + c.address;
  else
    desc = "Found automatically on the network.";
  json_string(w, "desc", desc);
  json_string(w, "title", "Address of the " + c.name);
  json_string(
      w, "body",
      "Kestrune finds the console by itself on most networks. If it can't \u2014 the console is on another "
      "subnet or VLAN, or the network blocks broadcasts \u2014 type the IP address on the console's Setup "
      "\u25b8 Network page. Kestrune asks that address which console it is before it drives anything.");
  json_string(w, "placeholder", "e.g. 192.168.1.20");
  json_end_object(w);
}

void write_console_card(JsonWriter& w, const ConsoleCard& c) {
  json_begin_object(w);
  json_int(w, "c", c.kind);
  json_string(w, "name", c.name);
  json_bool(w, "beta", c.beta);
  json_string(w, "meta", c.meta);
  json_string(w, "status", c.status);
  json_string(w, "dot", tone_name(c.dot));
  json_string(w, "edge", tone_name(c.edge));
  json_int(w, "state", c.state);
  json_bool(w, "on", c.on);
  json_bool(w, "switchEnabled", c.switch_enabled);
  json_string(w, "msg", c.msg);
  json_string(w, "msgTone", tone_name(c.msg_tone));
  json_bool(w, "retry", c.retry);
  json_bool(w, "support", c.support);
  json_bool(w, "blink", c.blink);
  json_bool(w, "installed", c.installed);
  if (c.installed) {
    json_bool(w, "recall", c.recall);
    json_bool(w, "resyncLv1", c.resync_lv1);
  }
  json_begin_array(w, "cands");
  for (const auto& cand : c.cands) {
    json_begin_object(w);
    json_string(w, "head", cand.head);
    json_string(w, "sub", cand.sub);
    json_bool(w, "card", cand.card);
    json_string(w, "id", cand.id);
    json_end_object(w);
  }
  json_end_array(w);
  json_begin_array(w, "details");
  for (const auto& d : c.details) {
    json_begin_object(w);
    json_string(w, "k", d.k);
    json_string(w, "v", d.v);
    json_bool(w, "mono", d.mono);
    json_end_object(w);
  }
  json_end_array(w);
  json_string(
      w, "recallDesc",
      "Opening a session \u2014 or LV1 starting on Previous Session or Last State \u2014 sends "
      "its saved gain and 48V to the " +
          c.name + ".");
  json_string(w, "dropTitle", "When the " + c.name + " comes back after a dropout");
  json_string(w, "dropDesc", "Scene recall always applies, within LV1's own recall-safe.");
  json_string(
      w, "summary",
      std::string("Recall with sessions: ") + (c.recall ? "on" : "off") +
          " \u00b7 After a dropout: " + (c.resync_lv1 ? "resend LV1 values" : "keep desk values"));
  write_address_object(w, c);
  json_begin_object(w, "confirmOff");
  json_string(w, "title", "Switch the " + c.name + " off?");
  std::string body;
  if (c.input_count > 0) {
    char buf[320];
    bool one = c.input_count == 1;
    std::snprintf(
        buf, sizeof buf,
        "The sound is not affected. Its %u strip%s lose%s their gain and 48V controls in LV1 until you switch "
        "it back on; the %s keeps every value it has now.",
        c.input_count, one ? "" : "s", one ? "s" : "", c.name.c_str());
    body = buf;
  } else {
    body =
        "The sound is not affected. Its strips lose their gain and 48V controls in LV1 until you switch it back "
        "on; the console keeps every value it has now.";
  }
  json_string(w, "body", body);
  json_string(w, "ok", "Switch off");
  json_end_object(w);
  json_end_object(w);
}

}  // namespace ks::tray
