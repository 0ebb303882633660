// The setup pages of "--render" without GDI+: the arguments, the facts of the four plain pages,
// and the preview paint with its measured height.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tray/ui/recording_canvas.h"
#include "tray/ui/setup_preview.h"

namespace ks::tray {
namespace {

TEST(RenderArgs, DefaultsAndNumbers) {
  struct Case {
    std::vector<std::u16string> args;  // after "Kestrune.exe --render"
    std::u16string out;
    std::string page;
    int scale, width;  // after clamping
  } cases[] = {
      {{}, u"preview.png", "setup", 1, 628},
      {{u"a.png"}, u"a.png", "setup", 1, 628},
      {{u"a.png", u"setup-rig"}, u"a.png", "setup-rig", 1, 628},
      {{u"a.png", u"setup", u"2"}, u"a.png", "setup", 2, 628},
      {{u"a.png", u"setup", u"2", u"900"}, u"a.png", "setup", 2, 900},
      {{u"a.png", u"setup", u"0", u"0"}, u"a.png", "setup", 1, 628},  // 0 width: the default
      {{u"a.png", u"setup", u"-3", u"100"}, u"a.png", "setup", 1, 540},
      {{u"a.png", u"setup", u"9", u"539"}, u"a.png", "setup", 4, 540},
      {{u"a.png", u"setup", u"x", u"wide"}, u"a.png", "setup", 1, 628},
      {{u"a.png", u"setup", u"3", u"99999999999"}, u"a.png", "setup", 3, 100000},
      {{u"", u""}, u"preview.png", "setup", 1, 628},
  };
  for (const Case& c : cases) {
    std::vector<std::u16string> args = {u"Kestrune.exe", u"--render"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RenderArgs r = render_args(args, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.page, c.page);
    EXPECT_EQ(render_scale(r.scale), c.scale) << c.page << " " << c.args.size();
    EXPECT_EQ(setup_render_width(r.width), c.width) << c.args.size();
  }
}

TEST(SetupPreview, NamesSortedIntoPagesStatesAndUnknowns) {
  struct Case {
    const char* page;
    PreviewPage want;
  } cases[] = {
      {"setup", PreviewPage::ok},
      {"setupopen", PreviewPage::ok},
      {"setupinstalled", PreviewPage::ok},
      {"setupbusy", PreviewPage::ok},
      {"setupxyz", PreviewPage::ok},
      {"setup-rig", PreviewPage::ok},
      {"setup-", PreviewPage::unknown_state},
      {"setup-nosuch", PreviewPage::unknown_state},
      {"channels", PreviewPage::unknown_page},
      {"", PreviewPage::unknown_page},
      {"Setup", PreviewPage::unknown_page},
  };
  for (const Case& c : cases) {
    SetupPreview p;
    EXPECT_EQ(prepare_setup_preview(c.page, p), c.want) << c.page;
  }
}

struct Painted {
  std::vector<int32_t> ids;
  std::vector<std::u16string> texts;
  PreviewPaint paint;
  SetupPreview p;
};

Painted paint(const char* page, float W = 628, float H = 800) {
  Painted out;
  EXPECT_EQ(prepare_setup_preview(page, out.p), PreviewPage::ok) << page;
  JsonValue model;
  EXPECT_TRUE(build_preview_model(out.p, model)) << page;
  RecordingCanvas g;
  PaintContext pc;
  out.paint = paint_setup_preview(g, pc, out.p, model, W, H);
  for (auto& r : pc.regions) out.ids.push_back(r.id);
  out.texts = g.texts();
  return out;
}

bool has(const std::vector<int32_t>& ids, int32_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}
bool has_text_part(const std::vector<std::u16string>& texts, const std::u16string& part) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::u16string& t) { return t.find(part) != std::u16string::npos; });
}

// The four plain pages are four different situations, each showing what its name says.
TEST(SetupPreview, PlainPagesAreDistinct) {
  const Painted setup = paint("setup"), installed = paint("setupinstalled"),
                open = paint("setupopen"), busy = paint("setupbusy");

  // Nothing installed: no details buttons and the bundle note instead of the remove link.
  EXPECT_FALSE(has(setup.ids, 410));
  EXPECT_FALSE(has(setup.ids, 462));
  // Installed: the found WING's card has its details button and the footer the remove link.
  for (const Painted* p : {&installed, &open, &busy}) {
    EXPECT_TRUE(has(p->ids, 410));
    EXPECT_TRUE(has(p->ids, 462));
  }
  // Open: the panel unfolds, with the recall switch, the resync choice and the address row.
  for (int32_t id : {420, 430, 440, 500}) {
    EXPECT_TRUE(has(open.ids, id)) << id;
    EXPECT_FALSE(has(installed.ids, id)) << id;
  }
  EXPECT_TRUE(has_text_part(open.texts, u"Hide details"));
  EXPECT_GT(open.paint.content_height, installed.paint.content_height + 200);
  // Busy: LV1 runs.
  EXPECT_TRUE(has_text_part(busy.texts, u"\u00B7 running"));
  EXPECT_FALSE(has_text_part(installed.texts, u"\u00B7 running"));
  EXPECT_TRUE(has_text_part(installed.texts, u"Not running"));
  // Every plain page is drawn without a dialog.
  for (const Painted* p : {&setup, &installed, &open, &busy}) EXPECT_FALSE(p->paint.dialog.drawn);
}

// The image is as tall as what was painted: the content, or an open dialog with its margins
// when the dialog is the taller (a short page under a long confirmation is never cut off).
TEST(SetupPreview, HeightHoldsTheContentAndAnyDialog) {
  for (const char* name : kSetupStates) {
    const Painted m = paint(name, 628, 64);
    const int h = setup_preview_height(m.paint);
    EXPECT_GE(h, m.paint.content_height) << name;
    if (m.paint.dialog.drawn) {
      // Painted again in a client of that height, the card keeps 40 above and below.
      const Painted again = paint(name, 628, static_cast<float>(h));
      EXPECT_GE(again.paint.dialog.y, 40 - 0.01f) << name;
      EXPECT_LE(again.paint.dialog.y + again.paint.dialog.h, h - 40 + 0.5f) << name;
      // Only the dialog's buttons take clicks while it is open.
      for (int32_t id : again.ids) EXPECT_TRUE(id == 463 || id == 464 || id == 502) << name;
    }
  }
  PreviewPaint tall_dialog;
  tall_dialog.content_height = 300;
  tall_dialog.dialog = {0, 40, 452, 500, true};
  EXPECT_EQ(setup_preview_height(tall_dialog), 580);
  PreviewPaint short_dialog;
  short_dialog.content_height = 900.2f;
  short_dialog.dialog = {0, 40, 452, 200, true};
  EXPECT_EQ(setup_preview_height(short_dialog), 901);
}

}  // namespace
}  // namespace ks::tray
