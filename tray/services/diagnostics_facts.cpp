#include "tray/services/diagnostics_facts.h"

#include <cstring>

#include "bridge/text.h"

namespace ks::tray {
namespace {

template <size_t N>
std::string text_of(const char (&field)[N]) {
  return std::string(field, bounded_len(field, N));
}

// The desk's name: the third field of its identity line ("WING,<ip>,<name>,..." or
// "X32,<ip>,<name>,..."), else its address.
std::string desk_name_of(const std::string& line, const std::string& ip) {
  size_t a = line.find(',');
  size_t b = a == std::string::npos ? a : line.find(',', a + 1);
  if (b != std::string::npos) {
    size_t c = line.find(',', b + 1);
    std::string name = line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
    if (!name.empty()) return name;
  }
  return ip;
}

}  // namespace

void loader_facts_of(const uint8_t (&copy)[kLoaderBlockSize], DiagFacts& f) {
  LoaderBlock b;
  std::memcpy(&b, copy, sizeof b);
  f.loader_version = text_of(b.loader_version);
  f.loader_types.clear();
  for (const LoaderTypeRecord& r : b.types) {
    DiagLoaderType t;
    t.type = text_of(r.type_name);
    if (t.type.empty()) continue;
    t.enabled = r.enabled != 0;
    t.waves_module_loaded = r.waves_loaded != 0;
    t.running_version = text_of(r.running_version);
    t.load_failures = r.failure_count;
    t.last_refused = text_of(r.failed_file);
    t.last_error = r.last_error;
    f.loader_types.push_back(std::move(t));
  }
}

std::optional<DiagStatus> status_facts_of(BlockView v) {
  const StatusBlock* live = status_block_of(v);
  if (!live) return std::nullopt;
  // One copy, so that the module's next publish cannot change a line half-way.
  StatusBlock b;
  std::memcpy(&b, live, sizeof b);
  DiagStatus s;
  s.layout_version = b.version;
  s.expected_version = kStatusLayoutVersion;
  s.mismatch = b.version != kStatusLayoutVersion;
  s.lv1_build_profile = text_of(b.profile);
  s.device_mac = text_of(b.mac);
  s.desk_identity = text_of(b.desk_line);
  s.desk_name = desk_name_of(s.desk_identity, text_of(b.desk_ip));
  s.connected = b.desk_answering;
  s.loaded = b.lv1_loaded;
  s.degraded = b.degraded;
  s.degraded_reason = text_of(b.status_text);
  s.watching = static_cast<int32_t>(b.watch_count > kChannels ? kChannels : b.watch_count);
  s.fallback_bank = text_of(b.watch_bank);
  s.fallback_base = static_cast<int32_t>(b.watch_base > 0x7FFFFFFF ? 0x7FFFFFFF : b.watch_base);
  s.patch_age_ms = b.patch_age_ms;
  s.sent = b.sent_count;
  s.received = b.recv_count;
  const uint32_t groups = b.range_count < kGroupRanges ? b.range_count : kGroupRanges;
  for (uint32_t i = 0; i < groups; ++i) {
    const GroupRange& g = b.ranges[i];
    if (!g.known) continue;
    s.groups.push_back({text_of(g.bank), g.min, g.max, g.step, g.watched});
  }
  if (b.version >= 16) {
    const uint32_t ports =
        b.source_device_count < kSourceDevices ? b.source_device_count : kSourceDevices;
    for (uint32_t i = 0; i < ports; ++i) {
      const SourceDevice& d = b.source_devices[i];
      s.ports.push_back({text_of(d.port), d.device != 0, d.strips_without_head_amp});
    }
  }
  for (int32_t ch = 0; ch < s.watching; ++ch) {
    DiagPatchRow row;
    row.lv1_channel = ch + 1;  // as LV1 numbers its strips
    row.input_group = text_of(b.src_bank[ch]);
    row.input_number = static_cast<int32_t>(b.src_input[ch] > 0xFFFF ? 0 : b.src_input[ch]);
    row.input_name = text_of(b.channel_name[ch]);
    row.gain_db = b.gain_db[ch];
    row.phantom = b.phantom[ch] ? 1 : 0;
    s.patch.push_back(std::move(row));
  }
  return s;
}

DiagInstall install_state_of(bool installed, bool legacy, bool update_pending) {
  if (legacy) return DiagInstall::older_layout;
  if (!installed) return DiagInstall::not_installed;
  return update_pending ? DiagInstall::behind : DiagInstall::current;
}

}  // namespace ks::tray
