// The settings file: any text is read without fault, what the module writes reads back as the
// values it wrote, the reload of the address keys agrees with the load, and a key edit means
// what it says to every reader of the file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <strings.h>
#include <unistd.h>

#include "bridge/config.h"
#include "bridge/settings.h"
#include "tests/support/fuzz_check.h"

namespace {

using ks::ConsoleConfig;

ConsoleConfig parse(std::string_view text) {
  ConsoleConfig c;
  ks::config_defaults(c);
  ks::config_parse(text, c, [](const char* line) { KS_FUZZ_CHECK(std::strlen(line) < 1024); });
  return c;
}

bool terminated(const char* s, size_t cap) { return std::memchr(s, '\0', cap) != nullptr; }

bool same(const ConsoleConfig& a, const ConsoleConfig& b) {
  if (std::strcmp(a.bank, b.bank) || a.base != b.base || a.watch != b.watch ||
      a.notify != b.notify || std::strcmp(a.card, b.card) || a.resync_lv1 != b.resync_lv1 ||
      a.diag != b.diag || std::strcmp(a.ip, b.ip) || std::strcmp(a.hint, b.hint) ||
      std::strcmp(a.console, b.console) || a.session_recall != b.session_recall ||
      a.protect_count != b.protect_count)
    return false;
  for (int i = 0; i < a.protect_count; ++i)
    if (std::strcmp(a.protect[i].bank, b.protect[i].bank) ||
        a.protect[i].input != b.protect[i].input)
      return false;
  return true;
}

std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  g_path = std::string(tmp && *tmp ? tmp : "/tmp") + "/ks_config_fuzz_" +
           std::to_string(long(getpid())) + ".cfg";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  // Any text: every field bounded and terminated, every number in its range.
  ConsoleConfig x = parse(text);
  KS_FUZZ_CHECK(terminated(x.bank, sizeof x.bank) && terminated(x.card, sizeof x.card));
  KS_FUZZ_CHECK(terminated(x.ip, sizeof x.ip) && terminated(x.hint, sizeof x.hint));
  KS_FUZZ_CHECK(terminated(x.console, sizeof x.console));
  KS_FUZZ_CHECK(x.watch >= 1 && x.watch <= 64);
  KS_FUZZ_CHECK(x.protect_count >= 0 && x.protect_count <= ks::kProtectMax);
  for (int i = 0; i < x.protect_count; ++i) {
    KS_FUZZ_CHECK(x.protect[i].bank[0] && terminated(x.protect[i].bank, sizeof x.protect[i].bank));
    KS_FUZZ_CHECK(x.protect[i].input >= 1 && x.protect[i].input <= 65535);
    for (int j = 0; j < i; ++j)
      KS_FUZZ_CHECK(x.protect[j].input != x.protect[i].input ||
                    strcasecmp(x.protect[j].bank, x.protect[i].bank));
  }

  // What the module writes is what it reads after a restart, and writing that again changes
  // nothing.
  std::string written = ks::config_format(x);
  ConsoleConfig back = parse(written);
  KS_FUZZ_CHECK(same(x, back));
  KS_FUZZ_CHECK(ks::config_format(back) == written);

  // A key edit: the file then means key=value to the readers (which take the last key line),
  // and the same edit again has nothing to do.
  static const char* const keys[] = {"hint",           "ip",     "console", "diag",
                                     "session_recall", "resync", "bank"};
  if (size > 0) {
    const char* key = keys[data[0] % (sizeof keys / sizeof keys[0])];
    std::string value;
    for (size_t i = 1; i < size && value.size() < 40; ++i) {
      char c = char(data[i]);
      if (c == '\n') break;
      if (c != '\r' && c != '\0' && c != ';') value += c;
    }
    std::string edited(text);
    ks::KeyEdit r = ks::config_edit_key(edited, key, value);
    if (r == ks::KeyEdit::edited || r == ks::KeyEdit::unchanged) {
      ConsoleConfig want = parse(text);
      ks::config_parse(std::string(key) + "=" + value, want, nullptr);
      ConsoleConfig got = parse(edited);
      KS_FUZZ_CHECK(same(want, got));
      std::string again = edited;
      KS_FUZZ_CHECK(ks::config_edit_key(again, key, value) == ks::KeyEdit::unchanged &&
                    again == edited);
    } else {
      KS_FUZZ_CHECK(edited == text);
    }
  }

  // The running module's re-read of ip= and console= reads the file as the load did.
  if (size <= 4096) {
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (f) {
      std::fwrite(data, 1, size, f);
      std::fclose(f);
      ks::config_load(g_path);
      char ip[64], console[40];
      ks::config_ip(ip);
      ks::config_console(console);
      KS_FUZZ_CHECK(std::strcmp(ip, x.ip) == 0 && std::strcmp(console, x.console) == 0);
      ks::AddressReload r = ks::config_reload_address();
      KS_FUZZ_CHECK(!r.ip_changed && !r.console_changed);
      ks::config_reset();
      std::remove(g_path.c_str());
    }
  }
  return 0;
}
