#include "tray/app/win/live_bindings.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <map>

#include "os/file.h"
#include "shared/names.h"
#include "tray/app/win/bridge_bindings.h"
#include "tray/services/console_switch.h"
#include "tray/services/console_table.h"
#include "tray/services/diagnostics_machine.h"
#include "tray/services/install_machine.h"
#include "tray/services/lv1_build.h"
#include "tray/services/settings_file.h"
#include "tray/services/text_utils.h"
#include "tray/services/tray_log.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/page_loader.h"
#include "tray/ui/win/dashboard_window.h"

namespace ks::tray {

namespace {

std::wstring wide(const std::string& s) {
  const std::u16string w = from_utf8(s);
  return std::wstring(w.begin(), w.end());
}

InstallProbe probe_of(InstallPaths& paths) {
  InstallProbe p;
  p.is_own_module = [&paths](const std::string& file) { return paths.env().is_own_module(file); };
  p.card_module_path = [&paths](int console) { return paths.card_module_path(console); };
  return p;
}

// File facts keyed by the file's size and write time: a verdict or version is read again only
// when the file changed.
struct FileStamp {
  uint64_t size = 0, time = 0;
  bool operator==(const FileStamp&) const = default;
};
bool stamp_of(const std::string& path, FileStamp& out) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &a)) return false;
  out.size = (static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  out.time = (static_cast<uint64_t>(a.ftLastWriteTime.dwHighDateTime) << 32) |
             a.ftLastWriteTime.dwLowDateTime;
  return true;
}

template <typename T>
class FileMemo {
public:
  template <typename Read>
  T get(const std::string& path, Read read) {
    FileStamp st;
    if (!stamp_of(path, st)) return read(path);
    auto it = memo_.find(path);
    if (it != memo_.end() && it->second.first == st) return it->second.second;
    T v = read(path);
    memo_[path] = {st, v};
    return v;
  }

private:
  std::map<std::string, std::pair<FileStamp, T>> memo_;
};

// The system's LV1 facts with the process list paced (kept while its LV1 runs, else for 500 ms)
// and file versions per file stamp.
class PacedLv1 final : public Lv1System {
public:
  bool processes(std::vector<ProcessEntry>& out) override {
    return list_.get(system_lv1(), GetTickCount64(), out);
  }
  bool process_creation_time(uint32_t pid, uint64_t& t) override {
    return system_lv1().process_creation_time(pid, t);
  }
  uint64_t now_filetime() override { return system_lv1().now_filetime(); }
  std::string file_version(const std::string& path) override {
    return versions_.get(path, [](const std::string& p) { return system_lv1().file_version(p); });
  }
  bool file_exists(const std::string& path) override { return system_lv1().file_exists(path); }

private:
  PacedProcessList list_;
  FileMemo<std::string> versions_;
};

class LiveSources final : public DashboardSources {
public:
  explicit LiveSources(TrayProgram& p) : p_(p) {}

  bool lv1_running() override { return ks::tray::lv1_running(*p_.lv1); }
  int32_t lv1_uptime_ms() override { return ks::tray::lv1_uptime_ms(*p_.lv1); }
  std::string lv1_version() override {
    const std::string exe = lv1_exe_path(*p_.lv1);
    return exe.empty() ? std::string() : p_.lv1->file_version(exe);
  }
  bool lv1_exe_present() override { return !lv1_exe_path(*p_.lv1).empty(); }
  bool read_loader_block(LoaderBlock& out) override {
    uint8_t bytes[kLoaderBlockSize];
    if (!p_.link.read_loader_block(bytes)) return false;
    std::memcpy(&out, bytes, sizeof out);
    return true;
  }
  bool load_blocked() override { return p_.load_watch && p_.load_watch->blocked(); }
  bool update_pending() override {
    if (p_.paths.env().update_staged && p_.paths.env().update_staged()) return true;
    return !p_.install_dir().empty() && p_.paths.loader_needs_update();
  }
  bool legacy_install() override { return p_.paths.state().legacy; }
  bool card_module_present(int kind) override {
    return file_exists(p_.paths.card_module_path(kind));
  }
  bool console_module_state(int kind, bool& on) override {
    on = false;
    return !p_.install_dir().empty() &&
           ks::tray::console_module_state(p_.install_dir(), kind, probe_of(p_.paths), on);
  }
  bool legacy_console(int kind) override {
    return p_.paths.card_module_is_ours(kind) || p_.paths.legacy_bundle_present(kind);
  }
  void read_status_snapshot(int kind, StatusSnapshot& out) override {
    out = p_.link.read_status_snapshot(status_suffix(kind));
  }
  DiscoveryRecord discovery(int kind) override {
    return p_.discovery.record ? p_.discovery.record(kind) : DiscoveryRecord{};
  }
  bool read_settings(int kind, std::string& text) override {
    if (p_.install_dir().empty()) return false;
    return read_file(console_cfg_path(p_.install_dir(), kind), kCfgFileCap, text) == ReadStatus::ok;
  }
  std::string confirm_typed_address(int kind, const StatusSnapshot& s,
                                    std::string_view key) override {
    return ks::tray::confirm_typed_address(p_.ui, kind, s, key);
  }
  bool write_setting(int kind, const char* key, std::string_view value) override {
    return !p_.install_dir().empty() &&
           cfg_set(console_cfg_path(p_.install_dir(), kind), key, value);
  }
  uint64_t steady_ms() override { return GetTickCount64(); }
  void log(std::string_view line) override {
    tray_log("%.*s", static_cast<int>(line.size()), line.data());
  }

private:
  TrayProgram& p_;
};

class LiveActions final : public ShellActions {
public:
  explicit LiveActions(TrayProgram& p) : p_(p) {}

  void locate_install() override {
    p_.paths.locate_install();
    p_.sources->poll_tick();  // what the pages read must follow at once
  }
  bool lv1_running() override { return ks::tray::lv1_running(*p_.lv1); }
  bool card_module_present(int i) override { return file_exists(p_.paths.card_module_path(i)); }
  bool console_state(int i, bool& on) override {
    on = false;
    return !p_.install_dir().empty() &&
           console_module_state(p_.install_dir(), i, probe_of(p_.paths), on);
  }
  bool set_console_on(int i, bool on, std::string& message) override {
    if (p_.install_dir().empty()) {
      message = "Nothing is installed.";
      return false;
    }
    const bool ok = set_module_enabled(p_.install_dir(), i, on, message);
    tray_log("%s %s: %s", console_table[i].type_key, on ? "on" : "off",
             ok ? "OK" : message.c_str());
    p_.sources->poll_tick();
    return ok;
  }
  bool install(std::string& message, std::string& notice) override {
    p_.installer.clear_notice();
    const bool ok = p_.installer.install_bundle(message);
    notice = p_.installer.notice();
    p_.sources->poll_tick();
    return ok;
  }
  bool remove(std::string& message) override {
    const bool ok = p_.installer.remove_installation(message);
    p_.sources->poll_tick();
    return ok;
  }
  void discover_consoles() override {
    if (p_.discovery.discover_consoles) p_.discovery.discover_consoles();
  }
  bool console_found(int i) override {
    return p_.discovery.record && p_.discovery.record(i).found != 0;
  }
  void save_console_hints() override {
    if (p_.discovery.save_console_hints) p_.discovery.save_console_hints();
  }
  std::string setting(int i, std::string_view key) override {
    return p_.install_dir().empty() ? std::string()
                                    : cfg_get(console_cfg_path(p_.install_dir(), i), key);
  }
  bool write_setting(int i, std::string_view key, std::string_view value) override {
    const bool ok =
        !p_.install_dir().empty() && cfg_set(console_cfg_path(p_.install_dir(), i), key, value);
    p_.sources->poll_tick();
    return ok;
  }
  void post_resync(int i, bool lv1) override { p_.link.status_post_request(status_suffix(i), lv1); }
  void signal_modules_changed() override { ks::tray::signal_modules_changed(); }
  bool blink_card(int i) override { return blink_card_in_loader(i); }
  StatusSnapshot snapshot(int i) override { return p_.link.read_status_snapshot(status_suffix(i)); }
  std::string address_initial_text(int i) override {
    JsonValue model;
    if (!p_.page_model(model)) return {};
    return to_utf8(address_text_of(model, i));
  }
  void open_address_edit(int i, const std::string& text) override {
    create_address_edit(i, from_utf8(text));
  }
  std::string address_edit_text() override { return to_utf8(ks::tray::address_edit_text()); }
  void close_address_edit() override { destroy_address_edit(); }
  bool open_lv1() override {
    const std::string exe = lv1_exe_path(*p_.lv1);
    if (exe.empty()) return false;
    const std::wstring w = wide(exe);
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", w.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
  }
  void write_support_bundle() override {
    if (p_.services.write_support_bundle) p_.services.write_support_bundle();
  }
  void write_diagnostics_report() override {
    if (p_.services.write_diagnostics_report) p_.services.write_diagnostics_report();
  }
  void place_window() override { place_dashboard_window(); }

private:
  TrayProgram& p_;
};

// The load watch's notices reach the user through the setup page's line and the icon's balloon.
class TrayNotices final : public NoticeSink {
public:
  explicit TrayNotices(TrayProgram& p) : p_(p) {}
  void set_notice_and_status(const std::string& text) override {
    notice_ = text;
    p_.ui.action_message.set(text, true);
  }
  void set_status(const std::string& text) override { tray_log("load watch: %s", text.c_str()); }
  void clear_notice() override {
    if (!notice_.empty() && p_.ui.action_message.text == notice_) p_.ui.action_message.clear();
    notice_.clear();
  }
  void balloon(const std::string& title, const std::string& text) override {
    tray_log("notice: %s - %s", title.c_str(), text.c_str());
  }

private:
  TrayProgram& p_;
  std::string notice_;
};

class LivePollSteps final : public PollSteps {
public:
  LivePollSteps(TrayProgram& p, std::function<void(TrayState, TrayState)> icon,
                std::function<void()> tip, std::function<void()> invalidate)
      : p_(p), icon_(std::move(icon)), tip_(std::move(tip)), invalidate_(std::move(invalidate)) {}

  void scan_module_logs() override {
    std::string lines[2];
    int counts[2] = {0, 0};
    const char* names[2] = {"kestrune.log", "kestrune-x32.log"};
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    const std::string folder =
        n ? to_utf8(std::u16string(reinterpret_cast<const char16_t*>(temp), n)) : "";
    for (int i = 0; i < 2; ++i) counts[i] = scan_file(folder + names[i], lines[i]);
    fold_fault_scans(p_.faults, counts[0], lines[0], counts[1], lines[1]);
  }
  void load_watch_tick() override {
    p_.sources->poll_tick();  // a new second: every file and process fact is read afresh
    if (p_.load_watch) p_.load_watch->tick();
  }
  void update_tick() override {
    if (p_.services.update_tick) p_.services.update_tick();
  }
  void locate_install() override { p_.paths.locate_install(); }
  bool lv1_running() override { return ks::tray::lv1_running(*p_.lv1); }
  bool selected_block_lv1_loaded() override {
    if (!p_.link.select()) return false;
    return snapshot_of(p_.link.active_view()).lv1_loaded != 0;
  }
  TrayState tray_state() override { return p_.link.tray_state(); }
  void show_state_icon(TrayState from, TrayState to) override { icon_(from, to); }
  void refresh_tooltip() override { tip_(); }
  void invalidate_dashboard() override { invalidate_(); }

private:
  // The log's last 64 KiB, read while the module may be writing it.
  static int scan_file(const std::string& path, std::string& line) {
    line.clear();
    const std::wstring w = wide(path);
    HANDLE f =
        CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size{};
    std::string tail;
    if (GetFileSizeEx(f, &size)) {
      const LONGLONG want =
          size.QuadPart < static_cast<LONGLONG>(kModuleLogTail) ? size.QuadPart : kModuleLogTail;
      LARGE_INTEGER at;
      at.QuadPart = size.QuadPart - want;
      tail.resize(static_cast<size_t>(want));
      DWORD got = 0;
      if (SetFilePointerEx(f, at, nullptr, FILE_BEGIN) &&
          ReadFile(f, tail.data(), static_cast<DWORD>(want), &got, nullptr))
        tail.resize(got);
      else
        tail.clear();
    }
    CloseHandle(f);
    std::string ansi;
    const int count = scan_module_log(tail, ansi);
    // The module writes in the ANSI code page.
    if (!ansi.empty()) {
      wchar_t buf[kFaultLineMax + 1] = {};
      const int k = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), buf,
                                        kFaultLineMax);
      line = to_utf8(std::u16string(reinterpret_cast<const char16_t*>(buf), k > 0 ? k : 0));
    }
    return count;
  }

  TrayProgram& p_;
  std::function<void(TrayState, TrayState)> icon_;
  std::function<void()> tip_, invalidate_;
};

}  // namespace

TrayProgram::TrayProgram(StatusLinkEnv names)
    : lv1(std::make_unique<PacedLv1>()),
      link([this, &names] {
        StatusLinkEnv env = std::move(names);
        env.lv1_running = [this] { return ks::tray::lv1_running(*lv1); };
        env.blocked = [this] { return load_watch && load_watch->blocked(); };
        env.log_problems = [this] { return static_cast<int>(faults.count); };
        return env;
      }()),
      paths(machine_install_env([this] { return ks::tray::lv1_running(*lv1); })),
      installer(paths) {
  // Whether a module file is ours reads its version resource; the install is located every
  // second while the setup page is open, so each file is judged once per change.
  auto memo = std::make_shared<FileMemo<bool>>();
  auto judge = paths.env().is_own_module;
  paths.env().is_own_module = [memo, judge](const std::string& file) {
    return judge && memo->get(file, [&judge](const std::string& f) { return judge(f); });
  };
  live_sources = std::make_unique<LiveSources>(*this);
  sources = std::make_unique<PollCachedSources>(*live_sources);
  actions = std::make_unique<LiveActions>(*this);
  notices = std::make_unique<TrayNotices>(*this);
  bridge = std::make_unique<BridgePages>(*this);
  LoadWatchEnv env;
  env.read_loader_block = [this](uint8_t(&out)[kLoaderBlockSize]) {
    return link.read_loader_block(out);
  };
  env.install_dir = [this] {
    return paths.state().installed ? paths.state().install_dir : std::string();
  };
  env.is_own_module = [this](const std::string& file) { return paths.env().is_own_module(file); };
  env.sink = notices.get();
  env.sys = lv1.get();
  load_watch = std::make_unique<LoadWatch>(env);
}

TrayProgram::~TrayProgram() = default;

bool TrayProgram::page_model(JsonValue& out) {
  DashboardState state;
  gather_dashboard_state(*sources, state, ages);
  PageModelInputs in;
  in.message = ui.action_message.text;
  in.message_failed = ui.action_message.failed;
  in.version = version_text();
  std::string text;
  build_page_model(state, in, text);
  return parse_page_model(text, out);
}

std::unique_ptr<PollSteps> make_poll_steps(TrayProgram& p,
                                           std::function<void(TrayState, TrayState)> show_icon,
                                           std::function<void()> refresh_tooltip,
                                           std::function<void()> invalidate) {
  return std::make_unique<LivePollSteps>(p, std::move(show_icon), std::move(refresh_tooltip),
                                         std::move(invalidate));
}

void bind_discovery(TrayProgram& p, DiscoveryEnv env) {
  if (!env.desk_line) env.desk_line = desk_lines_of(p.link);
  if (!env.install_dir)
    env.install_dir = [&p] {
      return p.paths.state().installed ? p.paths.state().install_dir : std::string();
    };
  p.finder = std::make_unique<ConsoleDiscovery>(std::move(env));
  ConsoleDiscovery& f = *p.finder;
  p.discovery.discover_consoles = [&f] { f.discover_consoles(); };
  p.discovery.record = [&f](int console) {
    if (console == 0) return f.wing();
    if (console == 1) return f.x32();
    return DiscoveryRecord{};
  };
  // The hints are saved by every search; saving again writes the records found last.
  p.discovery.save_console_hints = [&f] {
    const DiscoveryRecord keep = f.current();
    for (const DiscoveryRecord* r : {&f.wing(), &f.x32()}) {
      if (!r->found) continue;
      f.set_current(*r);
      f.save_console_hint();
    }
    f.set_current(keep);
  };
  p.paths.env().current_is_x32 = [&f] {
    return f.current().found && f.current().line.rfind("X32,", 0) == 0;
  };
}

UpdateHost update_host_of(TrayProgram& p, void* tray_window) {
  UpdateHost h;
  h.tray_window = tray_window;
  h.install_folder = [&p] {
    return p.paths.state().installed ? p.paths.state().install_dir : std::string();
  };
  h.auto_install = [&p] { return p.paths.state().installed && !p.paths.state().legacy; };
  h.lv1_running = [&p] { return ks::tray::lv1_running(*p.lv1); };
  h.install_loader = [&p](std::string& error) { return p.installer.install_bundle(error); };
  h.deferred_install_tick = [&p] { p.installer.deferred_install_tick(); };
  return h;
}

void bind_updater(TrayProgram& p, void* tray_window) {
  p.paths.env().update_staged = [] { return update_staged(); };
  p.paths.env().update_busy = [] { return update_busy(); };
  p.services.update_tick = [host = update_host_of(p, tray_window)] { update_tick(host); };
}

void bind_diagnostics(TrayProgram& p, void* tray_window) {
  auto owner = [tray_window] {
    HWND d = dashboard_window();
    return d && IsWindowVisible(d) ? d : static_cast<HWND>(tray_window);
  };
  p.services.write_diagnostics_report = [owner] { save_diagnostics_to_desktop(owner()); };
  p.services.write_support_bundle = [owner] { save_support_bundle_to_desktop(owner()); };
}

bool blink_card_in_loader(int console) {
  if (!valid_console(console)) return false;
  HANDLE map = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE,
                                reinterpret_cast<const wchar_t*>(kLoaderBlockNameU16));
  if (!map) return false;
  auto* block =
      static_cast<LoaderBlock*>(MapViewOfFile(map, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  bool ok = false;
  if (block) {
    MEMORY_BASIC_INFORMATION mi{};
    const bool whole = VirtualQuery(block, &mi, sizeof mi) && mi.RegionSize >= sizeof(LoaderBlock);
    if (whole && block->magic == kLoaderMagic && block->size >= 296) {
      InterlockedExchange(reinterpret_cast<volatile LONG*>(&block->identify_on[console]), 1);
      InterlockedIncrement(reinterpret_cast<volatile LONG*>(&block->identify_counter[console]));
      ok = true;
    }
    UnmapViewOfFile(block);
  }
  CloseHandle(map);
  if (ok) signal_modules_changed();
  return ok;
}

}  // namespace ks::tray
