#include "tray/services/release_manifest.h"

#include <cmath>

#include "crypto/ed25519.h"
#include "tray/services/base64.h"

namespace ks::tray {
namespace {

// A member that must be a string; false when absent or of another type.
bool string_member(const JsonValue& object, std::string_view key, std::string& out) {
  const JsonValue* v = json_find(object, key);
  if (!v || v->kind != JsonKind::string) return false;
  out = v->text;
  return true;
}

// An optional string member: absent is fine, another type is not.
bool optional_string(const JsonValue& object, std::string_view key, std::string& out) {
  const JsonValue* v = json_find(object, key);
  if (!v) return true;
  if (v->kind != JsonKind::string) return false;
  out = v->text;
  return true;
}

bool file_name_ok(std::string_view s) {
  if (s.empty() || s.size() > 255) return false;
  for (char c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  // "." and ".." name folders, not files.
  return s != "." && s != "..";
}

bool lower_hex64(std::string_view s) {
  if (s.size() != 64) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool console_ok(std::string_view s) {
  if (s.empty() || s.size() > 16 || s[0] < 'a' || s[0] > 'z') return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

}  // namespace

bool version_newer(const VersionTriple& a, const VersionTriple& b) {
  if (a.major != b.major) return a.major > b.major;
  if (a.minor != b.minor) return a.minor > b.minor;
  if (a.patch != b.patch) return a.patch > b.patch;
  return b.prerelease && !a.prerelease;
}

bool parse_release_entry(const JsonValue& object, ReleaseEntry& out) {
  out = ReleaseEntry{};
  if (object.kind != JsonKind::object) return false;
  if (!string_member(object, "file", out.file) || !file_name_ok(out.file)) return false;
  // Bounded: the version goes into file names, log lines and the ready marker.
  if (!string_member(object, "version", out.version) || out.version.size() > 64 ||
      parse_version(out.version).major < 0)
    return false;
  if (!string_member(object, "url", out.url) || out.url.rfind("https://", 0) != 0 ||
      out.url.size() > 2048)
    return false;
  if (!string_member(object, "sha256", out.sha256) || !lower_hex64(out.sha256)) return false;
  if (!optional_string(object, "console", out.console) ||
      !optional_string(object, "edition", out.edition))
    return false;
  if (out.edition.size() > 32) return false;
  const JsonValue* size = json_find(object, "size");
  if (!size || size->kind != JsonKind::number) return false;
  double n = size->number;
  if (!(n > 0) || n > double(kReleaseFileLimit) || std::floor(n) != n) return false;
  out.size = int64_t(n);
  if (const JsonValue* abi = json_find(object, "abi")) {
    if (abi->kind != JsonKind::number) return false;
    double a = abi->number;
    if (std::floor(a) != a || a > 2147483647.0) return false;
    out.abi = a < 0 ? -1 : int32_t(a);
  }
  std::string sig_text;
  if (!string_member(object, "sig", sig_text)) return false;
  // The signature is written out as the file's 64-byte .sig: anything else is refused here.
  std::vector<uint8_t> sig;
  if (!base64_decode(sig_text, sig) || sig.size() != 64) return false;
  std::copy(sig.begin(), sig.end(), out.sig.begin());
  return true;
}

bool validate_module_entry(const ReleaseEntry& entry, std::string_view suffix) {
  if (!console_ok(entry.console)) return false;
  std::string expected = entry.console + "-" + entry.version + std::string(suffix);
  return entry.file == expected;
}

bool parse_release_manifest(std::string_view reply, const ReleaseNames& names,
                            const uint8_t key[32], Release& out, std::string& message) {
  out = Release{};
  JsonValue root;
  if (reply.size() > kManifestLimit || !parsed_then_blank(reply, root)) {
    message = "reply is not JSON";
    return false;
  }
  const JsonValue* manifest = json_find(root, "manifest");
  const JsonValue* format = manifest ? json_find(*manifest, "format") : nullptr;
  if (!format || format->kind != JsonKind::string || format->text != kManifestFormat) {
    message = "no release in the current format";
    return false;
  }
  const JsonValue* platforms = json_find(*manifest, "platforms");
  const JsonValue* mine = platforms && platforms->kind == JsonKind::object
                              ? json_find(*platforms, names.platform)
                              : nullptr;
  if (!mine || mine->kind != JsonKind::object) {
    message = "no release for this platform";
    return false;
  }
  std::string body_text, sig_text;
  std::vector<uint8_t> body, sig;
  if (!string_member(*mine, "body", body_text) || !string_member(*mine, "sig", sig_text) ||
      !base64_decode(body_text, body) || !base64_decode(sig_text, sig) || sig.size() != 64) {
    message = "malformed release entry";
    return false;
  }
  if (!ed25519_verify(sig.data(), body.data(), body.size(), key)) {
    message = "release manifest is NOT signed by Kestrune - ignored";
    return false;
  }
  JsonValue signed_body;
  std::string_view body_view(reinterpret_cast<const char*>(body.data()), body.size());
  if (!parsed_then_blank(body_view, signed_body) || signed_body.kind != JsonKind::object) {
    message = "signed manifest is not JSON";
    return false;
  }
  std::string product, platform;
  if (!string_member(signed_body, "product", product) || product != "kestrune" ||
      !string_member(signed_body, "platform", platform) || platform != names.platform) {
    message = "manifest is for another product or platform";
    return false;
  }
  // The release version names the staged release and goes into log lines: it must be one.
  if (!string_member(signed_body, "version", out.version) || out.version.size() > 64 ||
      parse_version(out.version).major < 0) {
    out.version.clear();
    message = "signed manifest has no valid release version";
    return false;
  }
  if (const JsonValue* modules = json_find(signed_body, "modules");
      modules && modules->kind == JsonKind::array) {
    for (const JsonValue& item : modules->items) {
      ReleaseEntry e;
      if (parse_release_entry(item, e) && validate_module_entry(e, names.module_suffix))
        out.modules.push_back(e);
    }
  }
  if (const JsonValue* loader = json_find(signed_body, "loader")) {
    ReleaseEntry e;
    if (parse_release_entry(*loader, e) && e.file == names.loader_name) out.loader = e;
  }
  if (const JsonValue* app = json_find(signed_body, "app")) {
    ReleaseEntry e;
    if (parse_release_entry(*app, e) && e.file == names.program_name) out.app = e;
  }
  if (const JsonValue* apps = json_find(signed_body, "apps");
      apps && apps->kind == JsonKind::array) {
    // The edition's own file name: "Kestrune-<edition>.exe" for "Kestrune.exe".
    std::string edition_file = names.program_name;
    size_t dot = edition_file.rfind('.');
    if (dot != std::string::npos) edition_file.insert(dot, "-" + names.edition);
    for (const JsonValue& item : apps->items) {
      ReleaseEntry e;
      if (!parse_release_entry(item, e) || names.edition.empty() || e.edition != names.edition)
        continue;
      if (e.file != names.program_name && e.file != edition_file) continue;
      out.app = e;
      break;
    }
  }
  return true;
}

}  // namespace ks::tray
