// The report's facts from the shared blocks: a block written by a hostile or torn writer (texts
// without their NUL, counts past their arrays) gives bounded lines, and the report made from a
// module's block carries its values.
#include "tray/services/diagnostics_facts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace ks::tray {
namespace {

struct Block {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(sizeof(StatusBlock), 0);
  StatusBlock& b() { return *reinterpret_cast<StatusBlock*>(bytes.data()); }
  BlockView view() { return {bytes.data(), bytes.size()}; }
};

Block wing_block() {
  Block k;
  StatusBlock& b = k.b();
  b.magic = kStatusMagic;
  b.version = kStatusLayoutVersion;
  std::strcpy(b.desk_ip, "127.0.0.1");
  std::strcpy(b.desk_line, "WING,127.0.0.1,FOH-Wing,ngc-full,S123,3.0.5");
  std::strcpy(b.mac, "0a:1b:2c:3d:4e:5f");
  std::strcpy(b.profile, "box");
  std::strcpy(b.watch_bank, "LCL");
  b.watch_base = 1;
  b.watch_count = 2;
  b.desk_answering = 1;
  b.lv1_loaded = 1;
  b.patch_age_ms = 1200;
  b.sent_count = 7;
  b.recv_count = 9;
  std::strcpy(b.src_bank[0], "LCL");
  b.src_input[0] = 6;
  std::strcpy(b.channel_name[0], "Kick");
  b.gain_db[0] = 24.0;
  b.phantom[0] = 1;
  b.gain_db[1] = -2.5;
  b.range_count = 1;
  std::strcpy(b.ranges[0].bank, "LCL");
  b.ranges[0].min = -3, b.ranges[0].max = 45.5, b.ranges[0].step = 0.5, b.ranges[0].known = 1,
  b.ranges[0].watched = 2;
  return k;
}

TEST(DiagnosticsFacts, ReportFromAModulesBlock) {
  Block k = wing_block();
  DiagFacts f;
  f.status = status_facts_of(k.view());
  ASSERT_TRUE(f.status);
  const std::string r = format_diagnostics_report(f);
  for (const char* line :
       {"status block version : 17 (tray expects 17)\n", "LV1 build profile    : box\n",
        "device MAC           : 0a:1b:2c:3d:4e:5f\n",
        "desk                 : FOH-Wing  (WING,127.0.0.1,FOH-Wing,ngc-full,S123,3.0.5)\n",
        "connected / loaded   : 1 / 1\n", "watching             : 2 ch, fallback bank LCL base 1\n",
        "patch age            : 1200 ms\n", "sent / recv          : 7 / 9\n\n",
        "  LCL      -3.0 ..   45.5 dB  step 0.50  (2 ch)\n",
        "  LV1  1 <- LCL   6   Kick  gain   24.0  48V 1\n",
        "  LV1  2 <-       0   (none)  gain   -2.5  48V 0\n"})
    EXPECT_NE(r.find(line), std::string::npos) << "missing: " << line << "--- report ---\n" << r;
  EXPECT_EQ(r.find("MISMATCH"), std::string::npos);
  EXPECT_EQ(r.find("remote ports"), std::string::npos) << "a WING lists none";
}

TEST(DiagnosticsFacts, HostileBlockStaysInsideItsFields) {
  Block k = wing_block();
  StatusBlock& b = k.b();
  b.version = 16;
  std::memset(b.desk_line, 'W',
              sizeof b.desk_line);  // no NUL, and no commas: the address is the name
  std::memset(b.mac, 'M', sizeof b.mac);
  std::memset(b.src_bank[0], 'B', kBankBytes);
  b.watch_count = 1000;
  b.range_count = 99;
  for (GroupRange& g : b.ranges) g.known = 1;
  b.source_device_count = 50;
  std::memset(b.source_devices[0].port, 'P', kBankBytes);
  b.source_devices[0].device = 3;
  std::optional<DiagStatus> s = status_facts_of(k.view());
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->mismatch);
  EXPECT_EQ(s->desk_identity, std::string(sizeof b.desk_line, 'W'));
  EXPECT_EQ(s->desk_name, "127.0.0.1");
  EXPECT_EQ(s->device_mac, std::string(sizeof b.mac, 'M'));
  EXPECT_EQ(s->watching, 64);
  EXPECT_EQ(s->patch.size(), 64u);
  EXPECT_EQ(s->patch[0].input_group, std::string(kBankBytes, 'B'));
  EXPECT_EQ(s->groups.size(), size_t(kGroupRanges));
  ASSERT_EQ(s->ports.size(), size_t(kSourceDevices));
  EXPECT_EQ(s->ports[0].name, std::string(kBankBytes, 'P'));
  EXPECT_TRUE(s->ports[0].connected);
  DiagFacts f;
  f.status = s;
  EXPECT_NE(format_diagnostics_report(f).find("   ** MISMATCH **\n"), std::string::npos);

  // Not a block: no section.
  b.magic = 0;
  EXPECT_FALSE(status_facts_of(k.view()));
  Block whole = wing_block();
  EXPECT_FALSE(status_facts_of({whole.bytes.data(), sizeof(StatusBlock) - 1}));
}

TEST(DiagnosticsFacts, LoaderRecordsWithANameOnly) {
  LoaderBlock b{};
  b.magic = kLoaderMagic;
  b.size = kLoaderBlockSize;
  std::strcpy(b.loader_version, "3.2.0");
  std::strcpy(b.types[0].type_name, "wing");
  b.types[0].enabled = 1;
  b.types[0].waves_loaded = 1;
  std::strcpy(b.types[0].running_version, "3.2.0");
  std::memset(b.types[0].failed_file, 'F', sizeof b.types[0].failed_file);  // no NUL
  b.types[0].failure_count = 1;
  b.types[0].last_error = 1114;
  uint8_t copy[kLoaderBlockSize];
  std::memcpy(copy, &b, sizeof b);
  DiagFacts f;
  loader_facts_of(copy, f);
  ASSERT_TRUE(f.loader_version);
  EXPECT_EQ(*f.loader_version, "3.2.0");
  ASSERT_EQ(f.loader_types.size(), 1u) << "the nameless second record is left out";
  EXPECT_EQ(f.loader_types[0].last_refused, std::string(sizeof b.types[0].failed_file, 'F'));
  EXPECT_NE(format_diagnostics_report(f).find(
                "  wing               : on, Waves module yes, running 3.2.0, last refused "),
            std::string::npos);
}

TEST(DiagnosticsFacts, InstallState) {
  EXPECT_EQ(install_state_of(false, false, false), DiagInstall::not_installed);
  EXPECT_EQ(install_state_of(true, true, true), DiagInstall::older_layout);
  EXPECT_EQ(install_state_of(true, false, true), DiagInstall::behind);
  EXPECT_EQ(install_state_of(true, false, false), DiagInstall::current);
}

}  // namespace
}  // namespace ks::tray
