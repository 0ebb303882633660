#include "sim/lv1machine/lv1_machine.h"

#include <filesystem>
#include <fstream>

namespace ks::sim {
namespace {

namespace fsys = std::filesystem;

bool put(const std::string& path, const std::string& bytes, std::string& why) {
  std::error_code ec;
  fsys::create_directories(fsys::u8path(path).parent_path(), ec);
  std::ofstream out(fsys::u8path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  if (out.flush()) return true;
  why = "cannot write " + path;
  return false;
}

bool copy(const std::string& from, const std::string& to, std::string& why) {
  std::error_code ec;
  fsys::create_directories(fsys::u8path(to).parent_path(), ec);
  fsys::remove(fsys::u8path(to), ec);  // this libstdc++ refuses overwrite_existing under Wine
  if (fsys::copy_file(fsys::u8path(from), fsys::u8path(to), ec)) return true;
  why = "cannot copy " + from + " to " + to;
  return false;
}

// A build path as Wine sees it: a Unix path lies on drive Z:.
std::string build_file(const char* name) {
  std::string p = std::string(KS_LV1MACHINE_DIR) + "/" + name;
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

}  // namespace

std::string own_module_dll() { return build_file("lv1machine_own.dll"); }
std::string waves_module_dll() { return build_file("lv1machine_waves.dll"); }

bool lay_out_lv1_machine(const Lv1Machine& m, std::string& why) {
  const std::string sep = m.io_modules.find('\\') != std::string::npos ? "\\" : "/";
  auto path = [&sep](std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : sep) + p;
    return out;
  };
  for (int c = 0; c < 3; ++c) {
    if (!m.cards[c]) continue;
    const std::string n = kCardBundles[c], b = path({m.io_modules, n + ".bundle"});
    const std::string res = path({b, "Contents", "Resources"});
    if (!put(path({b, n + ".ico"}), "icon of " + n, why) ||
        !put(path({b, "Contents", "manifest.yaml"}),
             "name: " + n + "\r\nbinary: Win64/" + n + ".dll\r\n", why) ||
        !put(path({res, "APPINFO", n + ".yaml"}),
             "name: " + n + "\r\nassignment_priority: 350.25\r\n", why) ||
        !put(path({res, "VDID", "1000"}), kVdid[c], why) ||
        !put(path({res, "IOM_VERSION", "1000"}), "12.1.4", why) ||
        !put(path({res, "shared.txt"}), "shared from " + n, why) ||
        !put(path({b, "Contents", "Wfis", n + ".wfi"}), "wfi of " + n, why))
      return false;
    const std::string card = path({b, "Contents", "Win64", n + ".dll"});
    if (!m.waves_dll.empty() && !copy(m.waves_dll, card, why)) return false;
    if (m.waves_dll.empty() && !m.waves_module_text.empty() &&
        !put(card, m.waves_module_text + n, why))
      return false;
  }
  if (!m.older_in_place_loader.empty()) {
    const std::string w =
        path({m.io_modules, std::string(kCardBundles[0]) + ".bundle", "Contents", "Win64"});
    const std::string card = path({w, std::string(kCardBundles[0]) + ".dll"});
    const std::string kept = path({w, std::string(kCardBundles[0]) + ".orig.dll"});
    if (!copy(card, kept, why) || !copy(m.older_in_place_loader, card, why) ||
        !put(path({w, "kestrune.cfg"}), m.older_settings, why))
      return false;
  }
  if (m.older_bundles) {
    if (!put(path({m.io_modules, "Kestrune WING.bundle", "Contents", "Win64", "kestrune.cfg"}),
             m.older_settings, why) ||
        !put(path({m.disabled, "Kestrune X32.bundle", "Contents", "Win64", "kestrune.cfg"}),
             "console=x32\r\n", why))
      return false;
  }
  return true;
}

}  // namespace ks::sim
