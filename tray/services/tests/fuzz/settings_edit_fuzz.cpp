// The tray's single-key edit on any file text: an edit the tray calls done means key=value to the
// tray's own reader and to the console module's reader, a second edit changes nothing, and every
// line that is not a key line survives in its order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/config.h"
#include "tests/support/fuzz_check.h"
#include "tray/services/settings_file.h"

namespace {

// The lines of a text as readers see them: LF-separated, CRs at the end of a line dropped (a
// last line that ends in CR without LF keeps it in the file, and gains the LF when a line is
// appended after it).
std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(at, end - at));
    while (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    at = end + 1;
  }
  return out;
}

bool starts_with_key(const std::string& line, std::string_view key) {
  if (line.size() <= key.size() || line[key.size()] != '=') return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) !=
        std::tolower(static_cast<unsigned char>(key[i])))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ks::tray;
  if (size < 2) return 0;
  // The first byte picks the key, the next ones (up to the first NUL, at most 40) the value, the
  // rest is the file.
  static const char* const keys[] = {"ip",     "hint",           "console", "diag",
                                     "resync", "session_recall", "wing",    "x32"};
  const std::string_view key = keys[data[0] % 8];
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const size_t rest_size = size - 1;
  const size_t value_size = strnlen(rest, std::min<size_t>(rest_size, 40));
  const std::string value(rest, value_size);
  const std::string original(rest + std::min(rest_size, value_size + 1), rest + rest_size);

  std::string text = original;
  const CfgEdit first = cfg_edit(text, key, value);
  if (first != CfgEdit::edited && first != CfgEdit::unchanged) {
    KS_FUZZ_CHECK(text == original);  // a refused edit leaves the file alone
    return 0;
  }
  if (first == CfgEdit::unchanged) KS_FUZZ_CHECK(text == original);

  // Readers: the tray's (values are cut at 127 bytes and cleaned, so compare plain short ones).
  bool plain = true;
  for (char c : value) plain = plain && c > ' ' && c < 0x7f;
  if (plain) KS_FUZZ_CHECK(cfg_value(text, key) == value);

  std::string again = text;
  KS_FUZZ_CHECK(cfg_edit(again, key, value) == CfgEdit::unchanged && again == text);

  // Every other line is kept, in order.
  std::vector<std::string> kept;
  for (const std::string& line : lines_of(original))
    if (!starts_with_key(line, key)) kept.push_back(line);
  size_t k = 0;
  for (const std::string& line : lines_of(text))
    if (k < kept.size() && line == kept[k]) ++k;
  KS_FUZZ_CHECK(k == kept.size());

  // The console module reads the same address the tray wrote.
  if (plain && (key == "ip" || key == "hint") && value.size() < 60) {
    ks::ConsoleConfig c;
    ks::config_defaults(c);
    ks::config_parse(text, c, [](const char*) {});
    KS_FUZZ_CHECK(value == (key == "ip" ? c.ip : c.hint));
  }
  return 0;
}
