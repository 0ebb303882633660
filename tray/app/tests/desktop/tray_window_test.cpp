// The real Kestrune.exe in a virtual X display with a Wine desktop (so the notification area has
// a host), beside the real plug-in side: one instance, the icon added and following the state,
// the dashboard shown, captured and scrolled, the WING switched off through its confirmation (the
// real loader stops its module) and on again (it starts again), and an address typed into the
// address dialog that ends up in the console's settings file. This program plays the user: it
// clicks at the centres of the regions the same painters give for the same state, and reads the
// files and logs the clicks led to.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
using std::max;
using std::min;
#include <objidl.h>
#include <gdiplus.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "shared/names.h"
#include "shared/status_block.h"
#include "tray/app/tests/desktop/desktop_helpers.h"
#include "tray/app/tests/desktop/plugin_side.h"
#include "tray/app/tests/desktop/window_capture.h"
#include "tray/app/win/live_bindings.h"
#include "tray/services/install_paths.h"
#include "tray/services/tray_log.h"
#include "tray/ui/dialogs.h"
#include "tray/ui/setup_page.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {
namespace {

namespace fs = std::filesystem;

using testing::click;
using testing::eventually;
using testing::Process;
using testing::read_text;
using testing::visible_dashboard;
using testing::wide;

std::string win(const char* unix_path) { return testing::win_path(unix_path); }

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
    ++n;
  return n;
}

size_t capture(HWND hwnd, const fs::path& png, std::vector<uint32_t>* pixels = nullptr) {
  return testing::capture_window(hwnd, png.wstring(), pixels);
}

// The regions the painters give for the state of this moment at the window's client size, in
// the order they were painted; the dialog's when one is open.
std::vector<HitRegion> regions_now(TrayProgram& p, HWND dash, int32_t modal, int32_t pending,
                                   bool wing_panel = false) {
  RECT rc;
  GetClientRect(dash, &rc);
  const float W = static_cast<float>(rc.right), H = static_cast<float>(rc.bottom);
  JsonValue model;
  if (!p.page_model(model)) return {};
  Gdiplus::Bitmap scratch(rc.right, rc.bottom, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&scratch);
  GdiplusCanvas canvas(g);
  PaintContext pc;
  SetupPageInputs in;
  in.panel_open = {wing_panel, false};
  paint_setup_page(canvas, pc, model, in, W);
  if (modal >= kModalConfirmOff) {
    pc.regions.clear();
    if (modal == kModalAddress) {
      AddressInputs ai;
      ai.console = 0;
      ai.edit_exists = true;
      paint_address_dialog(canvas, pc, model, ai, W, H);
    } else {
      paint_confirm_dialog(canvas, pc, model, {modal, pending, true}, W, H);
    }
  }
  return pc.regions;
}

TEST(TrayWindow, TheResidentProgramAsAUserMeetsItBesideThePluginSide) {
  testing::PluginSide plugin;
  std::string why;
  ASSERT_TRUE(plugin.install(why)) << why;
  const std::string win64_ = plugin.win64();
  const fs::path out = fs::path(win(KS_RESULTS_DIR)) / "tray-window";
  fs::create_directories(out);
  const std::string log_path = tray_log_path();
  const size_t log_start = read_text(log_path).size();
  auto log_since = [&] {
    const std::string all = read_text(log_path);
    return all.size() > log_start ? all.substr(log_start) : std::string();
  };

  // First start, without its dashboard: the icon is added (the desktop hosts a tray).
  Process first;
  ASSERT_TRUE(first.start(win(KS_KESTRUNE_EXE), "--tray"));
  ASSERT_TRUE(eventually([] { return FindWindowW(L"KestruneTray", nullptr) != nullptr; }, 20000));
  ASSERT_TRUE(
      eventually([&] { return log_since().find("startup: ") != std::string::npos; }, 10000));
  EXPECT_NE(log_since().find("NIM_ADD=1"), std::string::npos) << log_since();
  EXPECT_EQ(visible_dashboard(), nullptr);

  // A second start shows the first one's dashboard and ends.
  Process second;
  ASSERT_TRUE(second.start(win(KS_KESTRUNE_EXE), "--tray C:\\--install\\--remove.png"));
  EXPECT_EQ(second.wait(15000), 0);
  ASSERT_TRUE(eventually([] { return visible_dashboard() != nullptr; }, 10000));
  HWND dash = visible_dashboard();
  EXPECT_EQ(first.wait(0), -1) << "the first copy still runs";
  EXPECT_TRUE(fs::exists(win64_ + "\\Kestrune.dll")) << "no option inside a path acted";

  // LV1 starts, its loader starts the WING module and the module links with the desk: the icon
  // turns to linked.
  ASSERT_TRUE(plugin.start(why)) << why;
  ASSERT_TRUE(eventually([&] { return count(plugin.module_log(), " loaded from ") == 1; }, 30000))
      << plugin.module_log();
  auto linked = [&] {
    const std::string l = log_since();
    for (size_t at = l.find(" -> 1"); at != std::string::npos; at = l.find(" -> 1", at + 1))
      if (at + 5 == l.size() || l[at + 5] == '\r' || l[at + 5] == '\n') return true;
    return false;
  };
  EXPECT_TRUE(eventually(linked, 30000)) << log_since();

  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a few frames at the new state
  EXPECT_GT(capture(dash, out / "dashboard.png"), 8u);

  TrayProgram mine;  // reads the same machine the program reads
  mine.paths.locate_install();
  ASSERT_TRUE(mine.paths.state().installed);

  // The WING's switch while LV1 runs asks first; confirming writes state.cfg.
  auto regions = regions_now(mine, dash, 0, -1);
  ASSERT_TRUE(click(dash, regions, 400)) << "no enabled WING switch on the page";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_GT(capture(dash, out / "confirm-off.png"), 8u);
  EXPECT_NE(read_text(win64_ + "\\state.cfg").find("wing=on"), std::string::npos)
      << "nothing changes before the confirm";
  ASSERT_TRUE(click(dash, regions_now(mine, dash, kModalConfirmOff, 0), 463));
  EXPECT_TRUE(eventually(
      [&] { return read_text(win64_ + "\\state.cfg").find("wing=off") != std::string::npos; },
      5000))
      << read_text(win64_ + "\\state.cfg");
  // The loader heard the modules event and stopped the module.
  EXPECT_TRUE(eventually([&] { return count(plugin.module_log(), " switched off") == 1; }, 15000))
      << plugin.module_log();

  // Switching it on again needs no confirmation.
  mine.sources->poll_tick();
  ASSERT_TRUE(click(dash, regions_now(mine, dash, 0, -1), 400));
  EXPECT_TRUE(eventually(
      [&] { return read_text(win64_ + "\\state.cfg").find("wing=on") != std::string::npos; }, 5000))
      << read_text(win64_ + "\\state.cfg");
  EXPECT_TRUE(eventually([&] { return count(plugin.module_log(), " loaded from ") == 2; }, 15000))
      << plugin.module_log();
  // The card's rows follow the module's link: it is up again, and the program has seen it (one
  // of its 1 s poll ticks) before the regions are taken from this state.
  ASSERT_TRUE(eventually(
      [&] {
        const StatusSnapshot s = mine.link.read_status_snapshot("");
        return s.present && s.lv1_loaded && s.desk_answering;
      },
      15000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  // The address dialog: its edit box takes a typed address; Enter saves it without zeros.
  mine.sources->poll_tick();
  ASSERT_TRUE(click(dash, regions_now(mine, dash, 0, -1), 410))
      << "no details button on the WING card";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  ASSERT_TRUE(click(dash, regions_now(mine, dash, 0, -1, true), 500))
      << "no address button in the WING's details";
  HWND edit = nullptr;
  ASSERT_TRUE(eventually(
      [&] { return (edit = FindWindowExW(dash, nullptr, L"EDIT", nullptr)) != nullptr; }, 5000));
  SendMessageW(edit, EM_SETSEL, 0, -1);
  for (wchar_t c : std::wstring(L"192.168.001.020")) PostMessageW(edit, WM_CHAR, c, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_GT(capture(dash, out / "address.png"), 8u);
  PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(edit, WM_CHAR, L'\r', 0);
  EXPECT_TRUE(eventually(
      [&] { return read_text(win64_ + "\\wing.cfg").find("ip=192.168.1.20") != std::string::npos; },
      5000))
      << read_text(win64_ + "\\wing.cfg");
  EXPECT_TRUE(
      eventually([&] { return FindWindowExW(dash, nullptr, L"EDIT", nullptr) == nullptr; }, 5000));

  // Scrolling: the WING's details make the page taller than the desktop's work area, so the
  // window stops at the work area and the wheel moves the page.
  std::vector<uint32_t> top, scrolled;
  capture(dash, out / "top.png", &top);
  POINT centre{200, 200};
  ClientToScreen(dash, &centre);
  PostMessageW(dash, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)),
               MAKELPARAM(centre.x, centre.y));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  capture(dash, out / "scrolled.png", &scrolled);
  RECT wr, work{};
  GetWindowRect(dash, &wr);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(wr.bottom - wr.top, work.bottom - work.top) << "never taller than the work area";
  ASSERT_EQ(top.size(), scrolled.size());
  EXPECT_NE(top, scrolled) << "the wheel did not move the page";

  // Exit from the menu's command ends the program and takes its icon with it.
  PostMessageW(FindWindowW(L"KestruneTray", nullptr), WM_COMMAND, 1022, 0);
  EXPECT_EQ(first.wait(10000), 0);
  EXPECT_EQ(FindWindowW(L"KestruneTray", nullptr), nullptr);
  std::printf("tray-window: screenshots in %s\n", out.string().c_str());
}

}  // namespace
}  // namespace ks::tray
