// The confirm and address dialogs through the recording canvas: regions, card heights, texts.
#include <gtest/gtest.h>

#include <algorithm>

#include "tray/ui/dialogs.h"
#include "tray/ui/recording_canvas.h"

namespace ks::tray {
namespace {

JsonValue model(const char* text) {
  JsonValue v;
  EXPECT_TRUE(parsed_then_blank(text, v)) << text;
  return v;
}

bool has_text(const RecordingCanvas& g, const std::u16string& t) {
  auto all = g.texts();
  return std::find(all.begin(), all.end(), t) != all.end();
}

const char* kModel = R"({
  "cards": [{"c": 0, "confirmOff": {"title": "Switch WING off?", "body": "Body text", "ok": "Switch off"},
             "addr": {"title": "", "body": "Type it", "placeholder": "192.168.1.20", "set": ""}},
            {"c": 1e300}, {"c": 1, "addr": {"set": "10.42.20.2"}}],
  "confirmRemove": {"title": "Remove?", "body": "Body text", "ok": "Remove",
                    "list": [{"name": "WING", "card": "SoundGrid", "beta": true},
                             {"name": "X32", "card": "DN32-WSG", "beta": "true"}]},
  "confirmUpdate": {"title": "Update", "body": "Body text", "ok": "Update now"}
})";

TEST(ConfirmDialog, RegionsTextsAndTheLv1Line) {
  const JsonValue m = model(kModel);
  for (int modal : {kModalConfirmRemove, kModalConfirmUpdate}) {
    for (bool running : {true, false}) {
      RecordingCanvas g;
      PaintContext pc;
      auto lay = paint_confirm_dialog(g, pc, m, {modal, -1, running}, 800, 700);
      ASSERT_TRUE(lay.drawn);
      ASSERT_EQ(pc.regions.size(), 2u);
      EXPECT_EQ(pc.regions[0].id, 463);
      EXPECT_EQ(pc.regions[0].enabled, running ? 0 : 1);
      EXPECT_EQ(pc.regions[1].id, 464);
      EXPECT_EQ(pc.regions[1].enabled, 1);
      EXPECT_EQ(has_text(g, u"\u25CC  Waiting for eMotion LV1 to close\u2026"), running);
      EXPECT_EQ(has_text(g, u"\u2713  eMotion LV1 is closed."), !running);
      // Cancel ends 10 left of the confirm button.
      EXPECT_FLOAT_EQ(pc.regions[1].x + pc.regions[1].w + 10, pc.regions[0].x);
      EXPECT_FLOAT_EQ(pc.regions[0].x + pc.regions[0].w, lay.x + 452 - 24);
    }
  }
}

TEST(ConfirmDialog, CardHeightsByKind) {
  const JsonValue m = model(kModel);
  RecordingCanvas g;
  PaintContext pc;
  const float off = paint_confirm_dialog(g, pc, m, {kModalConfirmOff, 0, true}, 800, 900).h;
  const float upd = paint_confirm_dialog(g, pc, m, {kModalConfirmUpdate, -1, true}, 800, 900).h;
  const float rem = paint_confirm_dialog(g, pc, m, {kModalConfirmRemove, -1, true}, 800, 900).h;
  EXPECT_FLOAT_EQ(upd - off, 44);
  EXPECT_FLOAT_EQ(rem - off, 44 + 30 * 2 + 22);
  const float B = text_height(g, u"Body text", {"Segoe UI", 12.5f, FontWeight::regular}, 404);
  EXPECT_FLOAT_EQ(off, B + 54 + 74);
}

TEST(ConfirmDialog, ListBadgesOnlyForJsonTrue) {
  const JsonValue m = model(kModel);
  RecordingCanvas g;
  PaintContext pc;
  paint_confirm_dialog(g, pc, m, {kModalConfirmRemove, -1, false}, 800, 700);
  auto t = g.texts();
  EXPECT_EQ(std::count(t.begin(), t.end(), u"BETA"), 1);
  EXPECT_TRUE(has_text(g, u"DN32-WSG"));
  std::vector<ConsoleChoice> none;
  read_console_choices(none, json_find(m, "confirmUpdate"));
  read_console_choices(none, nullptr);
  EXPECT_TRUE(none.empty());
}

TEST(ConfirmDialog, FallbacksPlacementAndOtherModals) {
  const JsonValue empty = model("{}");
  RecordingCanvas g;
  PaintContext pc;
  auto lay = paint_confirm_dialog(g, pc, empty, {kModalConfirmUpdate, -1, false}, 300, 100);
  const auto shown = g.texts();
  EXPECT_EQ(std::count(shown.begin(), shown.end(), u"Update to Kestrune 3"), 2);
  EXPECT_FLOAT_EQ(lay.y, 40);                  // a small window keeps the card 40 from the top
  EXPECT_FLOAT_EQ(lay.x, (300 - 452) / 2.0f);  // centred even when narrower than the card

  RecordingCanvas g2;
  PaintContext pc2;
  paint_confirm_dialog(g2, pc2, empty, {kModalConfirmOff, 1, false}, 800, 700);
  EXPECT_TRUE(has_text(g2, u"Switch this console off?"));
  EXPECT_TRUE(has_text(g2, u"Switch off"));

  RecordingCanvas g3;
  PaintContext pc3;
  EXPECT_FALSE(paint_confirm_dialog(g3, pc3, empty, {0, -1, false}, 800, 700).drawn);
  EXPECT_TRUE(g3.ops.empty());
  EXPECT_TRUE(pc3.regions.empty());
}

TEST(AddressDialog, ButtonsByAddressAndTheEditBoxPlace) {
  const JsonValue m = model(kModel);
  for (int console : {0, 1}) {
    RecordingCanvas g;
    PaintContext pc;
    AddressInputs in;
    in.console = console;
    paint_confirm_dialog(g, pc, m, {kModalAddress, -1, false}, 800, 700, &in);
    std::vector<int32_t> ids;
    for (auto& r : pc.regions) ids.push_back(r.id);
    const std::vector<int32_t> want =
        console == 0 ? std::vector<int32_t>{463, 464} : std::vector<int32_t>{463, 464, 502};
    EXPECT_EQ(ids, want);
    EXPECT_TRUE(has_text(g, console == 0 ? u"192.168.1.20" : u"10.42.20.2"));
    EXPECT_TRUE(has_text(g, u"Console address"));
  }

  AddressEditPlace last;
  AddressInputs in;
  in.last_posted = &last;
  RecordingCanvas g;
  PaintContext pc;
  EXPECT_TRUE(paint_address_dialog(g, pc, m, in, 800, 700).place_changed);
  EXPECT_FALSE(paint_address_dialog(g, pc, m, in, 800, 700).place_changed);
  auto moved = paint_address_dialog(g, pc, m, in, 900, 700);
  EXPECT_TRUE(moved.place_changed);
  EXPECT_FLOAT_EQ(last.x, (900 - 452) / 2.0f + 35);
  in.edit_exists = true;  // with the native box up, the painter leaves the text to it
  RecordingCanvas g2;
  paint_address_dialog(g2, pc, m, in, 900, 700);
  EXPECT_FALSE(has_text(g2, u"192.168.1.20"));
}

// While no console answered there is no card; the dialog then takes its texts from the
// console's address offer, so the typed-address dialog still explains itself.
TEST(AddressDialog, TextsComeFromTheAddressOfferWhenNoCardIsShown) {
  const JsonValue m = model(R"({"cards": [], "nothingAddr": [
      {"c": 1, "btn": "X32 / M32 address", "addr": {"title": "Address of the X32", "body": "X body",
       "placeholder": "e.g. 10.0.0.9", "set": ""}},
      {"c": 0, "btn": "WING address", "addr": {"title": "Address of the WING", "body": "WING body",
       "placeholder": "e.g. 192.168.1.20", "set": ""}}]})");
  for (int console : {0, 1}) {
    RecordingCanvas g;
    PaintContext pc;
    AddressInputs in;
    in.console = console;
    paint_address_dialog(g, pc, m, in, 800, 700);
    EXPECT_TRUE(has_text(g, console == 0 ? u"Address of the WING" : u"Address of the X32"));
    EXPECT_TRUE(has_text(g, console == 0 ? u"WING body" : u"X body"));
    EXPECT_TRUE(has_text(g, console == 0 ? u"e.g. 192.168.1.20" : u"e.g. 10.0.0.9"));
  }
}

// The window moves its edit box once per change of place: a resize, a DPI change (same design
// rectangle, other device pixels) and a reopened dialog (a new box at the same size) each post.
TEST(AddressDialog, EditBoxIsPlacedAgainAfterReopenAndDpiChange) {
  const JsonValue m = model(kModel);
  struct Frame {
    const char* what;
    float W, dpi_scale;
    bool reopen;  // the dialog was closed and opened again: a new edit box
    bool posts;
  } frames[] = {
      {"first frame", 800, 1, false, true},
      {"same frame again", 800, 1, false, false},
      {"resized", 900, 1, false, true},
      {"dpi 144", 900, 1.5f, false, true},
      {"dpi unchanged", 900, 1.5f, false, false},
      {"closed and reopened at the same size", 900, 1.5f, true, true},
      {"next frame of the reopened dialog", 900, 1.5f, false, false},
      {"back to 96 dpi", 900, 1, false, true},
  };
  AddressEditPlace last;
  for (const Frame& f : frames) {
    if (f.reopen) forget_address_edit_place(last);
    AddressInputs in;
    in.last_posted = &last;
    in.dpi_scale = f.dpi_scale;
    in.edit_exists = true;
    RecordingCanvas g;
    PaintContext pc;
    const AddressLayout out = paint_address_dialog(g, pc, m, in, f.W, 700);
    EXPECT_EQ(out.place_changed, f.posts) << f.what;
    EXPECT_EQ(last, out.edit) << f.what;
    EXPECT_FLOAT_EQ(last.scale, f.dpi_scale) << f.what;
  }
}

TEST(AddressDialog, ALongMessageGrowsTheCardInsteadOfBeingCut) {
  const JsonValue m = model(kModel);
  RecordingCanvas g;
  PaintContext pc;
  AddressInputs in;
  const float plain = paint_address_dialog(g, pc, m, in, 800, 900).card.h;
  std::u16string msg;
  for (int i = 0; i < 40; ++i) msg += u"That address did not answer. ";
  in.message = msg;
  pc.regions.clear();
  auto lay = paint_address_dialog(g, pc, m, in, 800, 900);
  EXPECT_GT(lay.card.h, plain + 3 * RecordingCanvas::line_height({"Segoe UI", 11.5f}));
  // The buttons stay inside the card.
  for (auto& r : pc.regions) EXPECT_LE(r.y + r.h, lay.card.y + lay.card.h);
}

}  // namespace
}  // namespace ks::tray
