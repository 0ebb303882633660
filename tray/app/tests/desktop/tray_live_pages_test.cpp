// The real Kestrune.exe beside the real plug-in side (the LV1 stand-in running the loader and the
// signed WING module against the WING simulator), in a virtual X display with a Wine desktop. The
// dashboard, opened from the tray while the module runs, shows the status page; a click on a
// channel opens its page, a click on its gain step reaches the desk's head amp, and its Reroute
// page repatches the channel to an input it listed. Every page fits the window. The menu's
// diagnostics report and support bundle land on the Desktop with their message boxes. This
// program plays the user: it clicks at the centres of the regions the same painters give for the
// same state, and reads the desk, the files and the boxes the clicks led to.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
using std::max;
using std::min;
#include <objidl.h>
#include <gdiplus.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "shared/status_block.h"
#include "tray/app/tests/desktop/desktop_helpers.h"
#include "tray/app/tests/desktop/plugin_side.h"
#include "tray/app/tests/desktop/window_capture.h"
#include "tray/app/win/bridge_bindings.h"
#include "tray/app/win/live_bindings.h"
#include "tray/services/diagnostics_machine.h"
#include "tray/services/text_utils.h"
#include "tray/ui/lookups.h"
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

// The regions the bridge pages give for this state at the window's client size: the status page
// with what lies over it, or the modal page while one is open.
std::vector<HitRegion> page_regions(TrayProgram& p, HWND dash, DashboardUiState& ui) {
  RECT rc;
  GetClientRect(dash, &rc);
  Gdiplus::Bitmap scratch(rc.right, rc.bottom, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&scratch);
  GdiplusCanvas canvas(g);
  PaintContext pc;
  const float W = static_cast<float>(rc.right), H = static_cast<float>(rc.bottom);
  p.bridge->paint_page(canvas, pc, ui, W, H);
  if (ui.modal != kModalNone) {
    pc.regions.clear();
    p.bridge->paint_modal(canvas, pc, ui, W, H);
  }
  return pc.regions;
}

bool has(const std::vector<HitRegion>& regions, int32_t id) {
  return std::any_of(regions.begin(), regions.end(),
                     [id](const HitRegion& r) { return r.id == id && r.enabled; });
}

// Every region of the ids from `first` on lies inside the client area: nothing to click is cut
// off by a window too short for it.
bool inside_window(HWND dash, const std::vector<HitRegion>& regions, int32_t first) {
  RECT rc;
  GetClientRect(dash, &rc);
  for (const HitRegion& r : regions)
    if (r.id >= first && (r.y < 0 || r.y + r.h > static_cast<float>(rc.bottom))) return false;
  return true;
}

// A message box of the program: its text and owner, then closed with OK.
struct Box {
  std::string text;
  HWND owner = nullptr;
};
bool take_box(const wchar_t* title, Box& out, int limit_ms) {
  HWND box = nullptr;
  if (!eventually([&] { return (box = FindWindowW(L"#32770", title)) != nullptr; }, limit_ms))
    return false;
  wchar_t text[2048] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 2048);  // the box's message
  out.text = to_utf8(std::u16string(reinterpret_cast<const char16_t*>(text)));
  out.owner = GetWindow(box, GW_OWNER);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return eventually([&] { return !IsWindow(box); }, 5000);
}

// The path a "Saved to your Desktop:" box names.
std::string saved_path(const std::string& text) {
  const std::string head = "Saved to your Desktop:\n\n";
  if (text.rfind(head, 0) != 0) return {};
  const size_t end = text.find("\n\n", head.size());
  return text.substr(head.size(), end == std::string::npos ? std::string::npos : end - head.size());
}

TEST(TrayLivePages, TheStatusPageAChannelsGainStepAndTheMenusReports) {
  GdiplusSession gdiplus;
  ASSERT_TRUE(gdiplus.ok());
  testing::PluginSide plugin;
  std::string why;
  ASSERT_TRUE(plugin.install(why)) << why;
  ASSERT_TRUE(plugin.start(why)) << why;
  const fs::path out = fs::path(win(KS_RESULTS_DIR)) / "tray-live-pages";
  fs::create_directories(out);

  // The module links with the desk and has read its patch before the tray program starts.
  TrayProgram mine;  // reads the same machine the program reads
  int ch = -1, input = 0;
  ASSERT_TRUE(eventually(
      [&] {
        const StatusBlock* b = mine.bridge->view().block;
        if (!b || !b->lv1_loaded || !b->desk_answering) return false;
        for (int c = 0; c < watched_channels(b); ++c) {
          if (!b->has_head_amp[c] || field_text(b->src_bank[c]) != "LCL" || b->src_input[c] < 1)
            continue;
          const GainRange r = channel_gain_range(b, c);
          if (b->gain_db[c] < r.max - r.step) {
            ch = c;
            input = static_cast<int>(b->src_input[c]);
            return true;
          }
        }
        return false;
      },
      60000))
      << plugin.module_log();

  // Started for the tray, then opened from it as the hot key and a double click open it.
  Process tray;
  ASSERT_TRUE(tray.start(win(KS_KESTRUNE_EXE), "--tray"));
  HWND tray_window = nullptr;
  ASSERT_TRUE(eventually(
      [&] { return (tray_window = FindWindowW(L"KestruneTray", nullptr)) != nullptr; }, 20000));
  EXPECT_EQ(visible_dashboard(), nullptr);
  PostMessageW(tray_window, WM_COMMAND, 1001, 0);
  HWND dash = nullptr;
  ASSERT_TRUE(eventually([&] { return (dash = visible_dashboard()) != nullptr; }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // sized to its content
  EXPECT_GT(testing::capture_window(dash, (out / "status.png").wstring()), 8u);

  // The page's facts as the program reads them: the log scan and the install state.
  make_poll_steps(
      mine, [](TrayState, TrayState) {}, [] {}, [] {})
      ->scan_module_logs();
  mine.paths.locate_install();

  // The channel's cell opens its page, which offers the step up; the window grows to the card.
  DashboardUiState ui;
  ASSERT_TRUE(click(dash, page_regions(mine, dash, ui), 1000 + ch))
      << "no cell for channel " << ch + 1;
  ui.selected_channel = ch;
  std::vector<HitRegion> regions;
  EXPECT_TRUE(eventually(
      [&] {
        regions = page_regions(mine, dash, ui);
        return has(regions, 32) && inside_window(dash, regions, 20);
      },
      5000))
      << "the channel page does not fit the window";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_GT(testing::capture_window(dash, (out / "channel.png").wstring()), 8u);

  // The step up goes through the status block's ring to the module, and on to the desk.
  const StatusBlock* b = mine.bridge->view().block;
  ASSERT_NE(b, nullptr);
  const GainRange r = channel_gain_range(b, ch);
  const double before = plugin.desk_gain_db(input);
  ASSERT_FALSE(std::isnan(before));
  const double want = std::min(b->gain_db[ch] + r.step, r.max);
  ASSERT_TRUE(click(dash, regions, 32));
  EXPECT_TRUE(
      eventually([&] { return std::fabs(plugin.desk_gain_db(input) - want) < 0.01; }, 10000))
      << "LCL " << input << " stayed at " << plugin.desk_gain_db(input) << " dB (was " << before
      << ", want " << want << ")";
  EXPECT_TRUE(eventually(
      [&] { return std::fabs(mine.bridge->view().block->gain_db[ch] - want) < 0.01; }, 5000))
      << "the module did not publish the new gain";

  // Reroute...: the page lists the channel's group as the module scans it; an input picked
  // from those drawn, then Repatch, and the module reads the channel from the new input.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the step's outcome taken
  ASSERT_TRUE(click(dash, page_regions(mine, dash, ui), 24));
  ASSERT_TRUE(eventually(
      [&] {
        const StatusBlock* l = mine.bridge->view().block;
        return l && field_text(l->input_list_group) == "LCL" && l->input_list_count >= 2;
      },
      10000))
      << "the group was not listed";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the scan's outcome taken
  ui.selected_channel = -1;
  ui.modal = kModalReroute;
  ui.reroute_channel = ch;
  std::memcpy(ui.reroute_group, "LCL", 4);
  {
    char groups[16][kBankBytes] = {};
    uint32_t counts[16] = {};
    const StatusBlock* l = mine.bridge->view().block;
    ui.reroute_group_count = static_cast<uint32_t>(reroute_groups_of(
        {reinterpret_cast<uint8_t*>(const_cast<StatusBlock*>(l)), sizeof *l}, groups, counts, 16));
    std::memcpy(ui.reroute_groups, groups, sizeof groups);
  }
  regions = page_regions(mine, dash, ui);
  const std::vector<uint16_t> cells = mine.bridge->state().cell_inputs;
  int cell = -1;
  for (size_t i = 0; i < cells.size() && cell < 0; ++i)
    if (cells[i] >= 1 && cells[i] != input) cell = static_cast<int>(i);
  ASSERT_GE(cell, 0) << cells.size() << " inputs drawn";
  const uint16_t target = cells[static_cast<size_t>(cell)];
  ASSERT_TRUE(click(dash, regions, 700 + cell));
  ui.reroute_input = target;
  EXPECT_TRUE(eventually(
      [&] {
        regions = page_regions(mine, dash, ui);
        return has(regions, 37) && inside_window(dash, regions, 0);
      },
      5000))
      << "the reroute page does not fit the window";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_GT(testing::capture_window(dash, (out / "reroute.png").wstring()), 8u);
  ASSERT_TRUE(click(dash, regions, 37));
  EXPECT_TRUE(eventually(
      [&] {
        const StatusBlock* l = mine.bridge->view().block;
        return l && field_text(l->src_bank[ch]) == "LCL" && l->src_input[ch] == target;
      },
      15000))
      << "channel " << ch + 1 << " still reads LCL " << mine.bridge->view().block->src_input[ch];

  // The menu's diagnostics report: the file of this system, then its box over the dashboard.
  PostMessageW(tray_window, WM_COMMAND, 1014, 0);
  Box box;
  ASSERT_TRUE(take_box(L"Kestrune diagnostics", box, 20000));
  EXPECT_EQ(box.owner, dash);
  const std::string report = saved_path(box.text);
  ASSERT_FALSE(report.empty()) << box.text;
  EXPECT_NE(
      box.text.find(
          "\n\nNothing has been sent anywhere. Attach this file if you are reporting a problem."),
      std::string::npos)
      << box.text;
  EXPECT_EQ(fs::path(report).parent_path(), fs::path(desktop_folder()));
  const std::string text = read_text(report);
  EXPECT_EQ(text.rfind("Kestrune diagnostics  ", 0), 0u) << text.substr(0, 200);
  for (const char* line : {"status block version : 17 (tray expects 17)", "(WING,127.0.0.1,",
                           "connected / loaded   : 1 / 1"})
    EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line;
  std::error_code ec;
  fs::remove(report, ec);

  // The support bundle: the folder, or its zip where the system has tar.exe.
  PostMessageW(tray_window, WM_COMMAND, 1021, 0);
  ASSERT_TRUE(take_box(L"Kestrune support file", box, 30000));
  const std::string bundle = saved_path(box.text);
  ASSERT_FALSE(bundle.empty()) << box.text;
  EXPECT_TRUE(fs::exists(bundle)) << bundle;
  if (fs::is_directory(bundle)) {
    EXPECT_NE(
        read_text(fs::path(bundle) / "Kestrune-diagnostics.txt").find("status block version : 17"),
        std::string::npos);
    fs::remove_all(bundle, ec);
  } else {
    fs::remove(bundle, ec);
  }

  PostMessageW(tray_window, WM_COMMAND, 1022, 0);
  EXPECT_EQ(tray.wait(10000), 0);
  std::printf("tray-live-pages: screenshots in %s\n", out.string().c_str());
}

}  // namespace
}  // namespace ks::tray
