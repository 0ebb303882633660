#include "tray/services/bundle_merge.h"

#include <cctype>
#include <set>
#include <vector>

#include "tray/services/install_paths.h"

namespace ks::tray {
namespace {

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view trimmed_line(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  return line;
}

template <class F>
void for_each_line(std::string_view text, F f) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string_view::npos ? text.size() : lf;
    f(text.substr(pos, end - pos));
    pos = end + 1;
  }
}

// Relative paths are kept with "\" between parts, as Waves' names are compared on Windows.
struct Walk {
  FileSystem& fs;
  const std::string& waves;
  const std::string& staging;
  const std::string& name;
  std::string& message;

  std::string at(const std::string& root, const std::vector<std::string>& parts) {
    std::string p = root;
    for (const std::string& s : parts) p = join(p, s);
    return p;
  }

  bool run(std::vector<std::string>& parts) {
    std::vector<FsEntry> entries;
    if (!fs.list(at(waves, parts), entries)) {
      message = "Could not read Waves' bundle " + name + ".";
      return false;
    }
    for (const FsEntry& e : entries) {
      parts.push_back(e.name);
      std::string rel;
      for (size_t i = 0; i < parts.size(); ++i) rel += (i ? "\\" : "") + parts[i];
      bool ok = visit(parts, rel, e.kind);
      parts.pop_back();
      if (!ok) return false;
    }
    return true;
  }

  bool visit(std::vector<std::string>& parts, const std::string& rel, PathKind kind) {
    // Waves' own module binaries never enter the staging bundle.
    if (rel.size() >= 14 && equal_nocase(std::string_view(rel).substr(0, 14), "Contents\\Win64"))
      return true;
    if (equal_nocase(rel, "Contents\\manifest.yaml") ||
        equal_nocase(rel, "Contents\\Resources\\VDID\\1000"))
      return true;
    // A junction or link may point anywhere: it is neither entered nor copied.
    if (kind == PathKind::link) return true;
    if (kind == PathKind::error) {
      message = "Could not read Waves' bundle " + name + ".";
      return false;
    }
    if (kind == PathKind::dir) {
      if (!fs.make_dirs(at(staging, parts))) {
        message = "Could not copy " + rel + " (need admin?).";
        return false;
      }
      return run(parts);
    }
    std::string target = (parts.size() == 1 && equal_nocase(rel, name + ".ico"))
                             ? join(staging, "Kestrune.ico")
                             : at(staging, parts);
    PathKind there = fs.kind(target);
    if (there == PathKind::none) {
      std::vector<std::string> parent(parts.begin(), parts.end() - 1);
      if (!fs.make_dirs(at(staging, parent)) || !fs.copy_file(at(waves, parts), target)) {
        message = "Could not copy " + rel + " (need admin?).";
        return false;
      }
    } else if (there == PathKind::error) {
      message = "Could not copy " + rel + " (need admin?).";
      return false;
    }
    return true;  // the first bundle in the merge order wins
  }
};

std::string vdid_path(const std::string& bundle) {
  return join(join(join(join(bundle, "Contents"), "Resources"), "VDID"), "1000");
}

}  // namespace

std::string device_id_union(std::string_view staging, std::string_view waves) {
  std::string out(staging);
  std::set<std::string, std::less<>> seen;
  for_each_line(staging, [&](std::string_view l) { seen.emplace(trimmed_line(l)); });
  for_each_line(waves, [&](std::string_view l) {
    l = trimmed_line(l);
    if (l.empty() || seen.count(l)) return;
    seen.emplace(l);
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out.append(l);
    out += "\r\n";
  });
  return out;
}

bool merge_waves_bundle(FileSystem& fs, const std::string& waves, const std::string& staging,
                        const std::string& waves_name, std::string& message) {
  std::vector<std::string> parts;
  Walk walk{fs, waves, staging, waves_name, message};
  if (!fs.make_dirs(staging)) {
    message = "Could not write Kestrune into LV1's modules folder (need admin?).";
    return false;
  }
  if (!walk.run(parts)) return false;
  std::string mine, theirs;
  const std::string ours_path = vdid_path(staging), theirs_path = vdid_path(waves);
  PathKind k = fs.kind(ours_path);
  if (k != PathKind::none && !fs.read(ours_path, kReadFileCap, mine)) {
    message = "Could not read the staged device list.";
    return false;
  }
  k = fs.kind(theirs_path);
  if (k != PathKind::none && !fs.read(theirs_path, kReadFileCap, theirs)) {
    message = "Could not read Waves' bundle " + waves_name + ".";
    return false;
  }
  std::string merged = device_id_union(mine, theirs);
  if (!fs.make_dirs(join(join(join(staging, "Contents"), "Resources"), "VDID")) ||
      !fs.write(ours_path, merged)) {
    message = "Could not copy Contents\\Resources\\VDID\\1000 (need admin?).";
    return false;
  }
  return true;
}

std::string patched_assignment_priority(std::string_view text) {
  static constexpr std::string_view kKey = "assignment_priority:";
  std::string out;
  out.reserve(text.size() + 8);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
    std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (line.substr(0, kKey.size()) != kKey) {
      out.append(line);
      continue;
    }
    size_t v = kKey.size();
    while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
    size_t d = v;
    while (d < line.size() && std::isdigit(static_cast<unsigned char>(line[d]))) ++d;
    if (d == v || d >= line.size() || line[d] != '.') {
      out.append(line);
      continue;
    }
    out.append(line.substr(0, v));
    out += "600";
    out.append(line.substr(d));
  }
  return out;
}

bool patch_assignment_priority(FileSystem& fs, const std::string& path) {
  std::string text;
  // A file over the cap would be written back cut short: leave it alone.
  if (!fs.read(path, kReadFileCap + 1, text) || text.size() > kReadFileCap) return false;
  std::string patched = patched_assignment_priority(text);
  return patched == text || fs.write(path, patched);
}

}  // namespace ks::tray
