#include "tray/services/lv1_build.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "tray/services/sig_trailer.h"
#include "tray/services/tray_log.h"

namespace ks::tray {

namespace {

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

const ProcessEntry* first_lv1(const std::vector<ProcessEntry>& list) {
  for (const ProcessEntry& p : list)
    if (same_name(p.exe, kLv1ExeName)) return &p;
  return nullptr;
}

uint32_t rd32(std::string_view s, uint64_t at) {
  uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

uint16_t rd16(std::string_view s, uint64_t at) {
  uint16_t v;
  std::memcpy(&v, s.data() + at, 2);
  return v;
}

}  // namespace

bool Lv1System::file_stat(const std::string& path, uint64_t& write_time, uint64_t& size) {
  if (!ks::file_size(path, size)) return false;
  write_time = ks::last_write_time(path);
  return write_time != 0;
}

bool PacedProcessList::get(Lv1System& sys, uint64_t now_ms, std::vector<ProcessEntry>& out) {
  bool fresh = !have_ || now_ms - at_ >= max_age_ms_;
  if (fresh && have_ && lv1_ >= 0 &&
      sys.watch_process(list_[static_cast<size_t>(lv1_)]) == ProcessWatch::runs)
    fresh = false;
  if (fresh) {
    list_.clear();
    lv1_ = -1;
    have_ = sys.processes(list_);
    at_ = now_ms;
    if (!have_) list_.clear();
    const ProcessEntry* p = first_lv1(list_);
    if (p) lv1_ = static_cast<int>(p - list_.data());
  }
  out = list_;
  return have_;
}

bool lv1_running(Lv1System& sys) {
  std::vector<ProcessEntry> list;
  if (!sys.processes(list)) return true;
  return first_lv1(list) != nullptr;
}

bool lv1_creation_time(Lv1System& sys, uint64_t& filetime) {
  std::vector<ProcessEntry> list;
  if (!sys.processes(list)) return false;
  const ProcessEntry* p = first_lv1(list);
  return p && sys.process_creation_time(p->pid, filetime);
}

int32_t lv1_uptime_ms(Lv1System& sys) {
  uint64_t created = 0;
  if (!lv1_creation_time(sys, created)) return -1;
  const uint64_t now = sys.now_filetime();
  if (now <= created) return -1;
  // An LV1 that has run for more than 24.8 days stays at the top instead of wrapping negative.
  return static_cast<int32_t>(std::min<uint64_t>((now - created) / 10000, INT32_MAX));
}

std::string lv1_exe_path(Lv1System& sys) {
  for (const char* path : kLv1Locations)
    if (sys.file_exists(path)) return path;
  return {};
}

// ---- PE images ----------------------------------------------------------------------------------

uint64_t pe_rva_to_offset(std::string_view image, uint32_t rva) {
  const uint64_t size = image.size();
  if (size < 64) return 0;
  const uint64_t pe = rd32(image, 60);
  if (pe > size || size - pe < 24) return 0;
  if (std::memcmp(image.data() + pe, "PE\0\0", 4) != 0) return 0;
  const uint32_t sections = rd16(image, pe + 6);
  if (sections == 0) return 0;
  const uint64_t table = pe + 24 + rd16(image, pe + 20);
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t sh = table + 40ull * i;
    if (sh + 40 > size) return 0;
    const uint64_t vsize = rd32(image, sh + 8), va = rd32(image, sh + 12);
    const uint64_t raw_size = rd32(image, sh + 16), raw_ptr = rd32(image, sh + 20);
    if (rva >= va && rva < va + std::max(vsize, raw_size)) {
      const uint64_t off = rva - va + raw_ptr;
      return off + 8 > size ? 0 : off;
    }
  }
  return 0;
}

bool matches_build_profile(std::string_view image, uint32_t prologue_rva, uint32_t load_rva,
                           uint32_t displacement) {
  const uint64_t p = pe_rva_to_offset(image, prologue_rva);
  const uint64_t l = pe_rva_to_offset(image, load_rva);
  if (p == 0 || l == 0) return false;
  static const unsigned char kPrologue[4] = {0x48, 0x89, 0x5C, 0x24};
  unsigned char load[7] = {0x48, 0x8B, 0x8F};
  std::memcpy(load + 3, &displacement, 4);
  return std::memcmp(image.data() + p, kPrologue, 4) == 0 &&
         std::memcmp(image.data() + l, load, 7) == 0;
}

// ---- the profiles file --------------------------------------------------------------------------

namespace {

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One hexadecimal field after blanks: an optional 0x, then digits. False when there is no digit
// or the value does not fit 32 bits (a wider value never names an address in the image).
bool hex_field(std::string_view s, size_t& at, uint32_t& value, bool& too_wide) {
  while (at < s.size() && blank(s[at])) ++at;
  if (at + 2 < s.size() && s[at] == '0' && (s[at + 1] == 'x' || s[at + 1] == 'X') &&
      hex_digit(s[at + 2]) >= 0)
    at += 2;
  uint64_t v = 0;
  size_t digits = 0;
  while (at < s.size() && hex_digit(s[at]) >= 0) {
    v = v * 16 + hex_digit(s[at++]);
    if (v > 0xFFFFFFFFull) too_wide = true;
    ++digits;
  }
  value = static_cast<uint32_t>(v);
  return digits > 0 && !too_wide;
}

}  // namespace

bool parse_profile_line(std::string_view line, BuildProfile& out, std::string* why) {
  auto refuse = [&](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  size_t at = 0;
  while (at < line.size() && blank(line[at])) ++at;
  const size_t name_at = at;
  while (at < line.size() && !blank(line[at])) ++at;
  const size_t name_end = at;
  if (at == name_at) return refuse("no name");
  // A longer name is refused whole: cut at 23, its tail would be read as the first number.
  if (at - name_at > 23) return refuse("name longer than 23 characters");
  uint32_t v[5] = {};
  int fields = 0;
  for (; fields < 5; ++fields) {
    bool too_wide = false;
    if (!hex_field(line, at, v[fields], too_wide)) {
      if (too_wide) return refuse("number wider than 32 bits");
      break;
    }
  }
  if (fields < 4) return refuse("fewer than four hexadecimal numbers");
  out.name = std::string(line.substr(name_at, name_end - name_at));
  out.prologue_rva = v[0];
  out.load_rva = v[1];
  out.displacement = v[2];
  return true;
}

std::vector<BuildProfile> parse_profiles(std::string_view body,
                                         const std::function<void(const std::string&)>& problem) {
  std::vector<BuildProfile> out;
  size_t at = 0;
  int number = 0;
  while (at < body.size()) {
    size_t end = body.find('\n', at);
    if (end == std::string_view::npos) end = body.size();
    std::string_view line = body.substr(at, std::min<size_t>(end - at, 255));
    at = end + 1;
    ++number;
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    line.remove_prefix(i);
    if (line.empty() || line[0] == '\r' || line[0] == '#' || line[0] == ';') continue;
    BuildProfile p;
    std::string why;
    if (parse_profile_line(line, p, &why)) {
      out.push_back(std::move(p));
    } else if (problem) {
      problem("line " + std::to_string(number) + ": " + why);
    }
  }
  return out;
}

// ---- the cached record --------------------------------------------------------------------------

Lv1BuildCache::Lv1BuildCache(Lv1BuildEnv env) : env_(std::move(env)) {
  if (!env_.log) env_.log = [](const std::string& line) { tray_log("%s", line.c_str()); };
}

Lv1System& Lv1BuildCache::sys() { return env_.sys ? *env_.sys : system_lv1(); }

std::string Lv1BuildCache::mixer_path_of(const std::string& exe) const {
  const size_t slash = exe.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : exe.substr(0, slash);
  return folder + "\\Modules\\MixerCoreSG.dll";
}

std::string Lv1BuildCache::profiles_path() {
  const std::string dir = env_.install_dir ? env_.install_dir() : std::string();
  return dir.empty() ? std::string() : path_join(dir, kProfilesFileName);
}

uint64_t Lv1BuildCache::stamp() {
  uint64_t h = 0xCBF29CE484222325ull;
  auto mix = [&h](uint64_t v) {
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 0x100000001B3ull;
    }
  };
  auto mix_file = [&](const std::string& path) {
    uint64_t time = 0, size = 0;
    if (!path.empty() && sys().file_stat(path, time, size)) {
      mix(time);
      mix(size);
    } else {
      mix(0x44BD2BD473CCF799ull);
    }
  };
  const std::string exe = lv1_exe_path(sys());
  mix_file(exe.empty() ? std::string() : mixer_path_of(exe));
  mix_file(profiles_path());
  return h;
}

const Lv1BuildInfo& Lv1BuildCache::get(bool force) {
  const uint64_t s = stamp();
  if (info_.valid && !force && s == stamp_) return info_;
  compute(s);
  return info_;
}

void Lv1BuildCache::compute(uint64_t s) {
  info_ = Lv1BuildInfo{};
  info_.valid = true;
  stamp_ = s;
  Lv1System& os = sys();
  const std::string exe = lv1_exe_path(os);
  if (exe.empty()) return;
  info_.lv1_version = os.file_version(exe);
  info_.mixer_path = mixer_path_of(exe);
  info_.mixer_version = os.file_version(info_.mixer_path);

  std::string image;
  uint64_t time = 0, size = 0;
  if (os.file_stat(info_.mixer_path, time, size)) {
    info_.mixer_size = size;
    if (size < 1 || size > kMixerImageMax ||
        os.read_file(info_.mixer_path, kMixerImageMax, image) != ReadStatus::ok ||
        image.size() != size)
      image.clear();  // nothing can match
  }

  const std::string cfg = profiles_path();
  std::string file;
  if (!cfg.empty() && os.read_file(cfg, kProfilesFileMax, file) == ReadStatus::ok) {
    size_t signed_length = 0;
    const bool trusted = env_.verify
                             ? env_.verify(file, signed_length)
                             : verify_sig_trailer(reinterpret_cast<const uint8_t*>(file.data()),
                                                  file.size(), &signed_length);
    if (trusted && signed_length <= file.size()) {
      auto said = [this](const std::string& why) {
        env_.log(std::string(kProfilesFileName) + " " + why + " - ignored");
      };
      for (const BuildProfile& p :
           parse_profiles(std::string_view(file).substr(0, signed_length), said)) {
        if (matches_build_profile(image, p.prologue_rva, p.load_rva, p.displacement)) {
          info_.matched = true;
          info_.from_file = true;
          info_.profile_name = p.name;
          return;
        }
      }
    } else {
      env_.log(std::string(kProfilesFileName) + " is not signed with the profiles key - ignored");
    }
  }
  for (const BuiltinProfile& p : kBuiltinProfiles) {
    if (matches_build_profile(image, p.prologue_rva, p.load_rva, p.displacement)) {
      info_.matched = true;
      info_.profile_name = p.name;
      return;
    }
  }
}

}  // namespace ks::tray
