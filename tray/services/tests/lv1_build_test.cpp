// Finding LV1 and checking its build, over generated MixerCoreSG.dll images and an installation
// held in memory.
#include "tray/services/lv1_build.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sim/lv1proc/mixercore_image.h"
#include "tray/services/tests/support/fake_lv1_system.h"

namespace ks::tray {
namespace {

using sim::make_mixercore_image;
using sim::MixerImage;
using sim::MixerImagePlan;
using testing::FakeLv1System;

MixerImagePlan plan_of(const BuiltinProfile& p, bool patterns = true) {
  return {p.prologue_rva, p.load_rva, p.displacement, patterns};
}

void put32(std::string& s, size_t at, uint32_t v) { std::memcpy(&s[at], &v, 4); }
void put16(std::string& s, size_t at, uint16_t v) { std::memcpy(&s[at], &v, 2); }

// Each built-in profile matches an image made for it and no other profile does.
TEST(BuildProfiles, EachBuiltinMatchesItsOwnImageOnly) {
  for (const BuiltinProfile& made : kBuiltinProfiles) {
    SCOPED_TRACE(made.name);
    const std::string image = make_mixercore_image(plan_of(made)).bytes;
    for (const BuiltinProfile& p : kBuiltinProfiles)
      EXPECT_EQ(matches_build_profile(image, p.prologue_rva, p.load_rva, p.displacement),
                &p == &made)
          << p.name;
    EXPECT_FALSE(matches_build_profile(make_mixercore_image(plan_of(made, false)).bytes,
                                       made.prologue_rva, made.load_rva, made.displacement));
  }
}

// Any one of the 11 pattern bytes wrong breaks the match.
TEST(BuildProfiles, EachPatternByteWrongFails) {
  const BuiltinProfile& p = kBuiltinProfiles[2];
  const MixerImage m = make_mixercore_image(plan_of(p));
  ASSERT_TRUE(matches_build_profile(m.bytes, p.prologue_rva, p.load_rva, p.displacement));
  std::vector<uint64_t> at;
  for (int i = 0; i < 4; ++i) at.push_back(m.prologue_offset + i);
  for (int i = 0; i < 7; ++i) at.push_back(m.load_offset + i);
  for (uint64_t off : at) {
    std::string bad = m.bytes;
    bad[off] ^= 0x01;
    EXPECT_FALSE(matches_build_profile(bad, p.prologue_rva, p.load_rva, p.displacement)) << off;
  }
  EXPECT_FALSE(matches_build_profile(m.bytes, p.prologue_rva, p.load_rva, p.displacement + 8));
}

TEST(PeMapper, MapsRvasThroughTheSectionTable) {
  const MixerImage m = make_mixercore_image({0x8EE560, 0x8EEAAB, 0x118, true});
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0x8EE560), m.prologue_offset);
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0x8EEAAB), m.load_offset);
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0x1000), 0x400u);  // the data section's start
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0x11FF), 0x5FFu);  // its raw size decides ...
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0x17FF), 0xBFFu);  // ... or its larger virtual size
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0x1800), 0u);      // between the sections
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0x0FFF), 0u);      // below every section
  EXPECT_EQ(pe_rva_to_offset(m.bytes, 0xFFFFFFFF), 0u);
  const uint64_t last = m.bytes.size() - 8;
  const uint32_t code_va = 0x8EE000;
  EXPECT_EQ(pe_rva_to_offset(m.bytes, uint32_t(code_va + last - 0x600)), last);    // 8 bytes left
  EXPECT_EQ(pe_rva_to_offset(m.bytes, uint32_t(code_va + last - 0x600 + 1)), 0u);  // 7 left
}

// Damaged images: each bound the mapper checks, crossed by one.
TEST(PeMapper, DamagedImagesNeverMatch) {
  const BuiltinProfile& p = kBuiltinProfiles[0];
  const MixerImage good = make_mixercore_image(plan_of(p));
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"shorter than 64 bytes", [](std::string& s) { s.resize(63); }},
      {"cut before the code section's bytes",
       [&](std::string& s) { s.resize(good.prologue_offset + 2); }},
      {"e_lfanew past the end", [](std::string& s) { put32(s, 60, uint32_t(s.size())); }},
      {"e_lfanew with 23 bytes to spare",
       [](std::string& s) { put32(s, 60, uint32_t(s.size() - 23)); }},
      {"e_lfanew near 4 GiB", [](std::string& s) { put32(s, 60, 0xFFFFFFF0u); }},
      {"no PE signature", [&](std::string& s) { s[good.pe_offset + 2] = 'X'; }},
      {"no sections", [&](std::string& s) { put16(s, good.pe_offset + 6, 0); }},
      {"section table past the end",
       [&](std::string& s) { put16(s, good.pe_offset + 20, 0xFFFF); }},
      {"more sections than the image holds",
       [&](std::string& s) {
         put16(s, good.pe_offset + 6, 0xFFFF);
         std::memset(&s[good.code_section], 0,
                     40);  // the code section no longer maps; the walk runs off
       }},
      {"code section's raw pointer past the end",
       [&](std::string& s) { put32(s, good.code_section + 20, 0xFFFFF000u); }},
      {"code section moved away",
       [&](std::string& s) { put32(s, good.code_section + 12, 0x10000000u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good.bytes;
    c.damage(bad);
    EXPECT_FALSE(matches_build_profile(bad, p.prologue_rva, p.load_rva, p.displacement));
  }
  EXPECT_FALSE(matches_build_profile({}, p.prologue_rva, p.load_rva, p.displacement));
}

TEST(ProfilesFile, LinesAreReadAsTheFileFormatSays) {
  struct Case {
    const char* line;
    bool ok;
    const char* name;
    uint32_t prologue, load, disp;
  } cases[] = {
      {"v17.4 0x8F0000 0x8F054B 0x118 0 0", true, "v17.4", 0x8F0000, 0x8F054B, 0x118},
      {"v17.4 8f0000 8F054B 118 0", true, "v17.4", 0x8F0000, 0x8F054B,
       0x118},  // five fields suffice
      {"\tname\t1\t2\t3\t4\r", true, "name", 1, 2, 3},
      {"abcdefghijklmnopqrstuvw 1 2 3 4", true, "abcdefghijklmnopqrstuvw", 1, 2,
       3},                                                       // 23 characters
      {"abcdefghijklmnopqrstuvwx 1 2 3 4", false, "", 0, 0, 0},  // 24: its tail is no number
      {"v1 1 2 3", false, "", 0, 0, 0},
      {"onlyaname", false, "", 0, 0, 0},
      {"v1 1 2 3z 4", false, "", 0, 0, 0},
      {"v1 0x 2 3 4", false, "", 0, 0, 0},
      {"v1 1 2 123456789 4", false, "", 0, 0, 0},  // wider than 32 bits
      {"v1 -1 2 3 4", false, "", 0, 0, 0},
      {"v1 FFFFFFFF 0X10 3 4", true, "v1", 0xFFFFFFFF, 0x10, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    BuildProfile p;
    std::string why;
    ASSERT_EQ(parse_profile_line(c.line, p, &why), c.ok);
    if (c.ok) {
      EXPECT_EQ(p.name, c.name);
      EXPECT_EQ(p.prologue_rva, c.prologue);
      EXPECT_EQ(p.load_rva, c.load);
      EXPECT_EQ(p.displacement, c.disp);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }

  std::vector<std::string> problems;
  const std::string body = "# extra builds\n\n   \n;x\n\r\nonlyname\n  a 1 2 3 4\n" +
                           std::string(300, 'z') + "\nb " + std::string(251, ' ') +
                           "1 2 3 4\nc 5 6 7 8";
  auto ps = parse_profiles(body, [&](const std::string& s) { problems.push_back(s); });
  ASSERT_EQ(ps.size(), 2u);
  EXPECT_EQ(ps[0].name, "a");
  EXPECT_EQ(ps[1].name, "c");  // no end of line needed
  // The name-only line, the 300-character one (cut at 255) and the one whose numbers lie past 255.
  EXPECT_EQ(problems, (std::vector<std::string>{"line 6: fewer than four hexadecimal numbers",
                                                "line 8: name longer than 23 characters",
                                                "line 9: fewer than four hexadecimal numbers"}));
}

// ---- process facts ----

// The list the tray asks every second: taken again once 500 ms old, unless its LV1 still runs.
TEST(PacedProcessList, ListWithoutLv1IsTakenAgainOnceOld) {
  FakeLv1System sys;
  sys.procs = {{"explorer.exe", 4}};
  PacedProcessList paced;
  std::vector<ProcessEntry> out;
  for (uint64_t now : {0, 1, 499}) ASSERT_TRUE(paced.get(sys, now, out));
  EXPECT_EQ(sys.lists, 1);
  sys.procs.push_back({"eMotion LV1.exe", 10});
  ASSERT_TRUE(paced.get(sys, 500, out));
  EXPECT_EQ(sys.lists, 2);
  ASSERT_EQ(out.size(), 2u);  // an LV1 started meanwhile is seen
  EXPECT_EQ(out[1].pid, 10u);
}

TEST(PacedProcessList, RunningLv1KeepsItsListUntilItEnds) {
  FakeLv1System sys;
  sys.procs = {{"explorer.exe", 4}, {"EMOTION lv1.exe", 10}, {"eMotion LV1.exe", 11}};
  sys.watch[10] = ProcessWatch::runs;
  sys.watch[11] = ProcessWatch::ended;  // not the first LV1: never asked
  PacedProcessList paced;
  std::vector<ProcessEntry> out;
  for (uint64_t now : {0ull, 500ull, 60000ull, 6ull * 3600 * 1000}) {
    ASSERT_TRUE(paced.get(sys, now, out));
    ASSERT_EQ(out.size(), 3u);
  }
  EXPECT_EQ(sys.lists, 1);

  sys.procs = {{"explorer.exe", 4}};
  sys.watch[10] = ProcessWatch::ended;
  ASSERT_TRUE(paced.get(sys, 6ull * 3600 * 1000 + 1, out));
  EXPECT_EQ(sys.lists, 2);
  EXPECT_EQ(out.size(), 1u);

  // The same with a system that cannot watch: the LV1 list ages like any other.
  FakeLv1System blind;
  blind.procs = {{"eMotion LV1.exe", 10}};
  PacedProcessList paced2;
  ASSERT_TRUE(paced2.get(blind, 0, out));
  ASSERT_TRUE(paced2.get(blind, 499, out));
  EXPECT_EQ(blind.lists, 1);
  blind.procs.clear();
  ASSERT_TRUE(paced2.get(blind, 500, out));
  EXPECT_EQ(blind.lists, 2);
  EXPECT_TRUE(out.empty());
}

// A list that cannot be taken is no answer (LV1 counts as running then) and is tried again at
// the next question.
TEST(PacedProcessList, FailedListIsTriedAgainAtOnce) {
  FakeLv1System sys;
  sys.list_fails = true;
  PacedProcessList paced;
  std::vector<ProcessEntry> out = {{"stale.exe", 1}};
  EXPECT_FALSE(paced.get(sys, 0, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(paced.get(sys, 1, out));
  EXPECT_EQ(sys.lists, 2);
  sys.list_fails = false;
  sys.procs = {{"eMotion LV1.exe", 10}};
  EXPECT_TRUE(paced.get(sys, 2, out));
  EXPECT_EQ(out.size(), 1u);
}

TEST(Lv1Process, RunningUptimeAndPath) {
  FakeLv1System sys;
  EXPECT_FALSE(lv1_running(sys));
  EXPECT_EQ(lv1_uptime_ms(sys), -1);
  sys.procs = {{"explorer.exe", 4}, {"EMOTION lv1.EXE", 10}, {"eMotion LV1.exe", 11}};
  EXPECT_TRUE(lv1_running(sys));
  EXPECT_EQ(lv1_uptime_ms(sys), -1);  // cannot be opened
  sys.created = {{10, 1000000}, {11, 5000000}};
  sys.now = 1000000 + 12345 * 10000;
  EXPECT_EQ(lv1_uptime_ms(sys), 12345);  // the first in the list
  sys.now = 1000000;
  EXPECT_EQ(lv1_uptime_ms(sys), -1);                     // not later than its start
  sys.now = 1000000 + 30ull * 24 * 3600 * 1000 * 10000;  // 30 days
  EXPECT_EQ(lv1_uptime_ms(sys), INT32_MAX);
  sys.list_fails = true;
  EXPECT_TRUE(lv1_running(sys));  // a failed look counts as running
  EXPECT_EQ(lv1_uptime_ms(sys), -1);

  EXPECT_EQ(lv1_exe_path(sys), "");
  sys.files[kLv1Locations[1]] = {};
  EXPECT_EQ(lv1_exe_path(sys), kLv1Locations[1]);
  sys.files[kLv1Locations[0]] = {};
  EXPECT_EQ(lv1_exe_path(sys), kLv1Locations[0]);
}

// ---- the cached record ----

struct BuildInfo : ::testing::Test {
  const std::string exe = kLv1Locations[0];
  const std::string mixer = "C:\\Program Files (x86)\\Waves\\eMotion LV1\\Modules\\MixerCoreSG.dll";
  const std::string dir = "C:\\bundle\\Contents\\Win64";
  const std::string cfg =
      dir + (dir.back() == '\\' ? "" : std::string(1, ks::path_separator())) + kProfilesFileName;
  FakeLv1System sys;
  std::vector<std::string> logged;
  // A trailer check for the test: the signed part ends before "\n#sig ok", anything else fails.
  Lv1BuildEnv env{&sys, [this] { return dir; },
                  [](std::string_view f, size_t& n) {
                    const size_t at = f.rfind("\n#sig ok");
                    if (at == std::string_view::npos) return false;
                    n = at + 1;
                    return true;
                  },
                  [this](const std::string& s) { logged.push_back(s); }};

  void install(const MixerImagePlan& s) {
    sys.files[exe] = {"", 1, "16.5.0.1"};
    sys.files[mixer] = {make_mixercore_image(s).bytes, 7, "1.2.3.4"};
  }
};

TEST_F(BuildInfo, NoLv1GivesAValidEmptyRecord) {
  Lv1BuildCache cache(env);
  const Lv1BuildInfo& i = cache.get();
  EXPECT_TRUE(i.valid);
  EXPECT_FALSE(i.matched);
  EXPECT_EQ(i.lv1_version, "");
  EXPECT_EQ(i.mixer_path, "");
  EXPECT_EQ(i.mixer_size, 0u);
}

TEST_F(BuildInfo, BuiltinProfileMatches) {
  install(plan_of(kBuiltinProfiles[1]));
  Lv1BuildCache cache(env);
  const Lv1BuildInfo& i = cache.get();
  EXPECT_TRUE(i.matched);
  EXPECT_FALSE(i.from_file);
  EXPECT_EQ(i.profile_name, "v16.5.289");
  EXPECT_EQ(i.lv1_version, "16.5.0.1");
  EXPECT_EQ(i.mixer_path, mixer);
  EXPECT_EQ(i.mixer_version, "1.2.3.4");
  EXPECT_EQ(i.mixer_size, sys.files[mixer].bytes.size());
}

TEST_F(BuildInfo, SignedProfilesFileDecidesFirstAndAnUnsignedOneIsIgnored) {
  install({0x8F0000, 0x8F054B, 0x118, true});
  const std::string body =
      "# extra\nv17.3-dup 0x8EE560 0x8EEAAB 0x118 0 0\nv17.4 0x8F0000 0x8F054B 0x118 0 0\n";
  sys.files[cfg] = {body + "#sig ok\nv99 0x8F0000 0x8F054B 0x118 0 0\n", 3, ""};
  Lv1BuildCache cache(env);
  Lv1BuildInfo i = cache.get();
  EXPECT_TRUE(i.matched);
  EXPECT_TRUE(i.from_file);
  EXPECT_EQ(i.profile_name, "v17.4");

  sys.files[cfg] = {body + "#sig bad\n", 4, ""};  // replaced by one that does not verify
  i = cache.get();
  EXPECT_FALSE(i.matched);  // and no built-in profile knows this build
  EXPECT_FALSE(i.from_file);
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged.back().find("not signed"), std::string::npos);

  // Text after the signed part never counts.
  sys.files[cfg] = {"# none\n#sig ok\nv17.4 0x8F0000 0x8F054B 0x118 0 0\n", 5, ""};
  EXPECT_FALSE(cache.get().matched);
}

// The image is read again only when MixerCoreSG.dll or the profiles file changes time or size.
TEST_F(BuildInfo, RecomputedOnlyWhenAFileChanges) {
  install(plan_of(kBuiltinProfiles[0]));
  Lv1BuildCache cache(env);
  cache.get();
  cache.get();
  EXPECT_EQ(sys.reads[mixer], 1);
  const uint64_t s = cache.stamp();
  sys.files[mixer].write_time = 8;
  EXPECT_NE(cache.stamp(), s);
  cache.get();
  EXPECT_EQ(sys.reads[mixer], 2);
  sys.files[cfg] = {"x", 1, ""};
  cache.get();
  EXPECT_EQ(sys.reads[mixer], 3);
  sys.files[cfg].bytes = "xy";  // same time, other size
  cache.get();
  EXPECT_EQ(sys.reads[mixer], 4);
  cache.get(true);
  EXPECT_EQ(sys.reads[mixer], 5);
  cache.get();
  EXPECT_EQ(sys.reads[mixer], 5);
}

TEST_F(BuildInfo, MixerThatCannotBeReadMatchesNothing) {
  install(plan_of(kBuiltinProfiles[0]));
  sys.files[mixer].bytes.clear();  // empty file
  Lv1BuildCache cache(env);
  EXPECT_FALSE(cache.get().matched);
  EXPECT_EQ(cache.get().mixer_size, 0u);
  EXPECT_EQ(cache.get().mixer_version, "1.2.3.4");
}

}  // namespace
}  // namespace ks::tray
