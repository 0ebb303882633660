// ks-test: lock=system32-tar,status-block
// The support bundle under Wine with the stand-in tar.exe placed in the prefix's system32: what
// goes into it, the command line tar gets, and the folder kept when tar fails, hangs or is
// missing; a Desktop that cannot be written; the report file on the known folder Desktop.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

#include "os/win/wide.h"
#include "tray/services/diagnostics_machine.h"
#include "tray/services/install_machine.h"
#include "tray/services/install_paths.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

namespace fsys = std::filesystem;
using testing::mk;
using testing::slurp;
using testing::snapshot;
using testing::TempFolder;
using testing::Tree;

std::string system_dir() {
  wchar_t buf[MAX_PATH + 1];
  UINT n = GetSystemDirectoryW(buf, MAX_PATH + 1);
  return win::narrow(std::wstring(buf, n));
}

std::string windows_path(std::string p) {
  if (p.empty() || p[0] != '/') return p;
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}

void set_env(const char* name, const std::string& value) {
  SetEnvironmentVariableW(win::widen(name).c_str(),
                          value.empty() ? nullptr : win::widen(value).c_str());
}

class SupportBundle : public ::testing::Test {
protected:
  void SetUp() override {
    tar_ = system_dir() + "\\tar.exe";
    std::error_code ec;
    fsys::remove(fsys::u8path(tar_), ec);
    ASSERT_TRUE(fsys::copy_file(fsys::u8path(windows_path(KS_TAR_STANDIN)), fsys::u8path(tar_), ec))
        << ec.message();
    record_ = tmp_.at("tar-record.txt");
    set_env("KS_TAR_RECORD", record_);
    // The facts of the report come from this test's folders, not the machine's.
    InstallEnv ie = machine_install_env([] { return false; });
    ie.io_modules_dir = tmp_.at("io");
    ie.disabled_dir = tmp_.at("disabled");
    paths_ = std::make_unique<InstallPaths>(ie);
    env_.desktop = tmp_.at("Desktop");
    fsys::create_directories(fsys::u8path(env_.desktop));
    env_.temp = tmp_.at("temp");
    env_.install_folder = tmp_.at("install");
    env_.system_dir = system_dir();
    env_.stamp = {2026, 12, 11, 9, 41};
    env_.report.temp = env_.temp;
    env_.report.users_root = tmp_.at("Users");
    env_.report.install = paths_.get();
  }
  void TearDown() override {
    set_env("KS_TAR_MODE", "");
    set_env("KS_TAR_RECORD", "");
    std::error_code ec;
    fsys::remove(fsys::u8path(tar_), ec);
  }
  void logs_and_settings() {
    mk(env_.temp + "\\kestrune-loader.log", "09:40:00.000  [loader] started\n");
    mk(env_.temp + "\\kestrune.log", "09:40:01.000  [bridge] seeded 8 channels\n");
    mk(env_.temp + "\\kestrune-tray.log", "09:40:02  tray started\n");
    mk(env_.install_folder + "\\wing.cfg", "protect=LCL:3\r\n");
    mk(env_.install_folder + "\\state.cfg", "wing=on\r\nx32=off\r\n");
  }
  std::string folder() const { return env_.desktop + "\\Kestrune-support-20261211-0941"; }

  TempFolder tmp_;
  std::string tar_, record_;
  std::unique_ptr<InstallPaths> paths_;
  SupportBundleEnv env_;
};

TEST_F(SupportBundle, ZippedWithTheReportLogsAndSettings) {
  logs_and_settings();
  std::string path, message;
  ASSERT_TRUE(create_support_bundle(env_, path, message)) << message;
  EXPECT_EQ(path, folder() + ".zip");
  EXPECT_FALSE(fsys::exists(fsys::u8path(folder())))
      << "the collected copies are removed once zipped";
  const std::string zip = slurp(path);
  EXPECT_EQ(zip.substr(0, 4), std::string("PK\x03\x04", 4));
  const std::string rec = slurp(record_);
  EXPECT_NE(
      rec.find("\"" + tar_ + "\" -a -c -f \"" + folder() + ".zip\" -C \"" + folder() + "\" ."),
      std::string::npos)
      << rec;
  // What tar found in the folder: the report, the logs that exist and the settings files.
  for (const char* f : {"Kestrune-diagnostics.txt", "kestrune-loader.log", "kestrune.log",
                        "kestrune-tray.log", "wing.cfg", "state.cfg"})
    EXPECT_NE(rec.find(std::string("file ") + f + " "), std::string::npos) << f << "\n" << rec;
  for (const char* absent : {"kestrune-x32.log", "x32.cfg"})
    EXPECT_EQ(rec.find(absent), std::string::npos) << absent;
  // The copies are the files' bytes; the report is a CR LF text.
  EXPECT_NE(zip.find("protect=LCL:3\r\n"), std::string::npos);
  EXPECT_NE(zip.find("Kestrune diagnostics  "), std::string::npos);
  EXPECT_NE(zip.find("bridge not running (LV1 closed, or the module was not loaded)\r\n"),
            std::string::npos);

  // A second bundle in the same minute is made again, not refused.
  std::string again;
  ASSERT_TRUE(create_support_bundle(env_, again, message)) << message;
  EXPECT_EQ(again, path);
  EXPECT_EQ(slurp(again).substr(0, 4), std::string("PK\x03\x04", 4));
}

TEST_F(SupportBundle, FolderStaysWhenTarFailsHangsOrIsMissing) {
  struct Case {
    const char* name;
    const char* mode;
    bool remove_tar;
  } cases[] = {{"fails", "fail", false}, {"hangs", "hang", false}, {"missing", "", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    logs_and_settings();
    set_env("KS_TAR_MODE", c.mode);
    std::error_code ec;
    if (c.remove_tar) fsys::remove(fsys::u8path(tar_), ec);
    env_.tar_timeout_ms = 3000;  // the hang is ended after this, not after the product's 60 s
    std::string path, message;
    ASSERT_TRUE(create_support_bundle(env_, path, message)) << message;
    EXPECT_EQ(path, folder());
    EXPECT_FALSE(fsys::exists(fsys::u8path(folder() + ".zip")));
    const Tree kept = snapshot(folder());
    EXPECT_EQ(kept.at("wing.cfg"), "protect=LCL:3\r\n");
    EXPECT_EQ(kept.at("kestrune.log"), "09:40:01.000  [bridge] seeded 8 channels\n");
    EXPECT_NE(kept.at("Kestrune-diagnostics.txt").find("Kestrune diagnostics  "),
              std::string::npos);
    // The folder stays for the next case: a bundle in the same minute fills it again.
  }
}

TEST_F(SupportBundle, DesktopThatCannotBeWrittenAndNothingToCollect) {
  logs_and_settings();
  // A Desktop that is a file: the folder cannot be made and nothing is written anywhere.
  const std::string desktop_file = tmp_.at("Desktop-file");
  mk(desktop_file, "not a folder");
  SupportBundleEnv blocked = env_;
  blocked.desktop = desktop_file;
  std::string path, message;
  EXPECT_FALSE(create_support_bundle(blocked, path, message));
  EXPECT_EQ(message, "Could not create the support folder on the Desktop.");
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(slurp(desktop_file), "not a folder");
  EXPECT_FALSE(fsys::exists(fsys::u8path(record_))) << "tar was started";
  EXPECT_EQ(support_bundle_message(false, message).title, "Kestrune");
  EXPECT_TRUE(support_bundle_message(false, message).warning);

  // No logs, no settings and a report that cannot be written (its name is taken by a folder):
  // the folder goes again.
  SupportBundleEnv empty = env_;
  empty.temp = tmp_.at("no-temp");
  empty.install_folder.clear();
  fsys::create_directories(fsys::u8path(folder() + "\\Kestrune-diagnostics.txt"));
  EXPECT_FALSE(create_support_bundle(empty, path, message));
  EXPECT_EQ(message, "There was nothing to collect yet.");
  EXPECT_FALSE(fsys::exists(fsys::u8path(record_))) << "tar was started";
}

TEST(DiagnosticsFile, OnTheKnownFolderDesktop) {
  const std::string desktop = desktop_folder();
  ASSERT_FALSE(desktop.empty());
  EXPECT_NE(desktop.back(), '\\');
  EXPECT_TRUE(fsys::is_directory(fsys::u8path(desktop))) << desktop;
  const std::string path = save_diagnostics_file();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.rfind(desktop + "\\Kestrune-diagnostics-", 0), 0u) << path;
  const std::string text = slurp(path);
  EXPECT_EQ(text.rfind("Kestrune diagnostics  ", 0), 0u);
  EXPECT_NE(text.find("\r\n================================================================\r\n"),
            std::string::npos);
  std::error_code ec;
  fsys::remove(fsys::u8path(path), ec);
}

}  // namespace
}  // namespace ks::tray
