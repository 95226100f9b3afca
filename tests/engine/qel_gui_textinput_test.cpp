// Text entry: editing keys, selection, limits and byte cleaning, undo, the
// clipboard (UTF-8 outside, one byte per character inside), passwords, text
// areas, pointer selection and painting. SDL's offscreen driver provides the
// clipboard and GL.
#include "ruvezor/util/qel_gui_textinput.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx_draw.h"  // gfx_fill
#include "z2_gl_util.h"
#include "z2_test_util.h"

namespace {

const int W = 320, H = 240;
int g_mono = 0;   // every glyph 10 wide, lines 20 high, no margins
int g_blank = 0;  // the same metrics, glyphs without pixels

std::string font_text(int glyph_size) {
  std::string s = "common lineHeight=20 scaleW=256 scaleH=256\n", g = std::to_string(glyph_size);
  for (int c = 32; c < 255; c++)
    s += "char id=" + std::to_string(c) + " width=" + g + " height=" + g + " xadvance=10\n";
  return s;
}

class Env : public testing::Environment {
  z2test::TempDir tmp;

public:
  void SetUp() override {
    std::string data = tmp.enter("textin-").string();
    z2test::write_text(data + "/mono.fnt", font_text(8));
    z2test::write_text(data + "/blank.fnt", font_text(0));
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    z2test::stdout_of([&] {
      driver_init(DRIVER_VIDEO | DRIVER_TIMER);
      driver_set_altdir(data.c_str());
      driver_video_init(W, H, W, H, 64, 64, 0);
      gfx_init();
      gfx_set_size(W, H);
      font_init();
      g_mono = font_load("mono", 0);
      g_blank = font_load("blank", 0);
    });
  }
  void TearDown() override {
    z2test::stdout_of([] { font_deinit(), gfx_deinit(), driver_deinit(); });
    tmp.leave();
  }
};
const auto* env = testing::AddGlobalTestEnvironment(new Env);

enum { SHIFT = 1, CTRL = 2, GUI = 8 };
enum {
  K_UP = 1, K_RIGHT = 2, K_DOWN = 3, K_LEFT = 4, K_BACK = 6, K_DEL = 7, K_RET = 8, K_HOME = 9, K_END = 10,
  K_TAB = 26, K_A = 38, K_C = 40, K_V = 59, K_X = 61, K_Z = 63,
};

var key(TextInput& t, int k, int mods = 0, int ch = 0) {
  Event e{};
  e.type = 6, e.key = k, e.b = mods, e.unicode = ch;
  return t.event(&e);
}
void keys(TextInput& t, std::initializer_list<int> ks, int mods = 0) {
  for (int k : ks) key(t, k, mods);
}
void type(TextInput& t, const std::string& s) {
  for (unsigned char c : s) key(t, 0, 0, c);
}
void send(TextInput& t, int type, float x = 0, float y = 0, int b = 0) {
  Event e{};
  e.type = type, e.x = x, e.y = y, e.b = b;
  t.event(&e);
}
std::string selected(TextInput& t) { return t.value.substr(t.sel_start(), t.sel_end() - t.sel_start()); }

std::unique_ptr<TextInput> field(int maxlength = 255, int textarea = 0, float width = 0) {
  auto t = std::make_unique<TextInput>(g_mono, maxlength);
  t->textarea = textarea;
  t->style.loop();
  t->resize();
  if (width > 0) t->w = width;
  if (textarea) t->h = 60;
  return t;
}

// ---- editing -------------------------------------------------------------------------------

TEST(TextInput, SingleLineKeysSelectionAndFocus) {
  auto t = field();
  t->on_change = "submit";
  type(*t, "abcdef");
  keys(*t, {K_LEFT, K_LEFT, K_BACK, K_DEL, K_HOME, K_BACK});
  type(*t, "X");
  EXPECT_EQ(t->value, "Xabcf");
  key(*t, K_END);
  keys(*t, {K_LEFT, K_LEFT}, SHIFT);
  EXPECT_EQ(selected(*t), "cf");
  key(*t, K_LEFT);  // collapses to the start, no further
  EXPECT_EQ(t->caret, 3);
  EXPECT_EQ(t->anchor, 3);
  key(*t, K_HOME, SHIFT);
  type(*t, "y");  // replaces the selection
  EXPECT_EQ(t->value, "ycf");
  // Key-downs whose character comes separately, control characters and
  // command with other letters type nothing; Return submits; Tab and the
  // vertical arrows belong to the widget tree.
  key(*t, 27);
  key(*t, 0, 0, 127);
  key(*t, K_A + 1, CTRL);
  EXPECT_EQ(key(*t, K_RET).__str__(), "submit");
  keys(*t, {K_TAB, K_UP, K_DOWN});
  EXPECT_EQ(t->value, "ycf");
  EXPECT_EQ(t->caret, 1);

  send(*t, GUI_EV_FOCUS);
  EXPECT_EQ(selected(*t), "ycf");
  auto area = field(255, 1, 102);
  area->set_value_s("abc");
  area->caret = area->anchor = 1;
  send(*area, GUI_EV_FOCUS);  // a text area keeps its caret
  EXPECT_EQ(area->caret, 1);
  EXPECT_EQ(area->anchor, 1);
  EXPECT_EQ(field()->w, 20);  // empty: as wide as a line is high
}

TEST(TextInput, EditsAreCutToMaxlengthAndCleaned) {
  auto t = field(5);
  t->set_value_s("abcd");
  t->_change(4, 0, "xy");
  EXPECT_EQ(t->value, "abcdx");
  size_t entries = t->changes.size();
  type(*t, "z");  // full: nothing, and nothing to undo
  t->_change(-1, 0, "a");
  t->_change(0, -1, "a");
  t->_change(9, 0, "a");
  EXPECT_EQ(t->value, "abcdx");
  EXPECT_EQ(t->changes.size(), entries);

  auto line = field(), area = field(255, 1, 102);
  line->_change(0, 0, "a\nb\tc\x7f\x01");
  area->_change(0, 0, "a\nb\tc");
  EXPECT_EQ(line->value, "a b?c??");
  EXPECT_EQ(area->value, "a\nb?c");

  // Latin-1 only in the wide mode; a character beyond one byte is refused
  // whole, never cut to its low byte (U+0141 would become 'A').
  auto wide = field();
  wide->encoding = 1;
  for (int c : {0xE9, 0xFF, 0x20AC, 0x141}) key(*wide, 0, 0, c), key(*line, 0, 0, c);
  EXPECT_EQ(wide->value, "\xE9");
  EXPECT_EQ(line->value, "a b?c??");

  // A value longer than the limit (assigned by its maker) may still shrink.
  auto over = field(3);
  over->value = "abcdef";
  over->caret = over->anchor = 6;
  key(*over, K_BACK);
  type(*over, "x");
  EXPECT_EQ(over->value, "abcde");
}

TEST(TextInput, UndoAndRedo) {
  auto t = field(1000);
  type(*t, "abc");
  keys(*t, {K_Z, K_Z}, CTRL);
  EXPECT_EQ(t->value, "a");
  key(*t, K_Z, CTRL | SHIFT);
  EXPECT_EQ(t->value, "ab");
  EXPECT_EQ(t->caret, 2);
  type(*t, "X");  // drops the redo of "c"
  key(*t, K_Z, GUI | SHIFT);
  EXPECT_EQ(t->value, "abX");

  t->set_value_s("hello");
  t->anchor = 1;
  t->caret = 4;
  type(*t, "a");
  key(*t, K_Z, CTRL);
  EXPECT_EQ(t->value, "hello");
  EXPECT_EQ(t->caret, 4);

  for (int i = 0; i < 300; i++) type(*t, "q");
  for (int i = 0; i < 300; i++) key(*t, K_Z, CTRL);
  EXPECT_EQ(t->value.size(), 5u + 300 - 255);
}

// ---- clipboard and passwords -----------------------------------------------------------------

TEST(TextInput, ClipboardIsUtf8OutsideAndNoCharacterIsSplit) {
  auto t = field(6);
  t->set_value_s("hello");
  key(*t, K_HOME);
  keys(*t, {K_RIGHT, K_RIGHT}, SHIFT);
  key(*t, K_X, CTRL);
  EXPECT_EQ(driver_clipboard_get_text(), "he");
  key(*t, K_END);
  key(*t, K_V, GUI);
  EXPECT_EQ(t->value, "llohe");
  driver_clipboard_set_text("1\t2\n345");
  keys(*t, {K_A, K_V}, CTRL);
  EXPECT_EQ(t->value, "1?2 34");

  auto wide = field(6);
  wide->encoding = 1;
  driver_clipboard_set_text("caf\xC3\xA9\xE2\x82\xAC\xC3\xA9");
  key(*wide, K_V, CTRL);
  EXPECT_EQ(wide->value, "caf\xE9?\xE9");
  key(*wide, K_BACK);
  keys(*wide, {K_A, K_C}, CTRL);
  EXPECT_EQ(driver_clipboard_get_text(), "caf\xC3\xA9?");
  key(*wide, K_END);
  driver_clipboard_set_text("\xC3\xA9\xC3\xA9");  // room for one of them
  key(*wide, K_V, CTRL);
  EXPECT_EQ(wide->value, "caf\xE9?\xE9");

  EXPECT_EQ(textinput_utf8_to_latin1("\xE9 a\xC3"), "\xE9 a\xC3");  // not UTF-8: as it is
  EXPECT_EQ(textinput_utf8_to_latin1("\xF0\x9F\x98\x80!\xC0\x80"), "?!\xC0\x80");
}

TEST(TextInput, PasswordsAreMaskedNeverCopiedAndNeverLogged) {
  auto t = field();
  t->password = 1;
  driver_clipboard_set_text("keep");
  std::string log = z2test::stdout_of([&] {
    for (int ev : {GUI_EV_FOCUS, GUI_EV_CLICK}) send(*t, ev);
    type(*t, "s3cretpw");
    send(*t, GUI_EV_PRESS, 15, 5);
    keys(*t, {K_A, K_C, K_X, K_Z}, CTRL);
    key(*t, K_RET);
    send(*t, GUI_EV_BLUR);
  });
  EXPECT_EQ(t->display, "********");
  EXPECT_EQ(driver_clipboard_get_text(), "keep");
  EXPECT_EQ(t->value, "s3cretpw");  // the cut deleted, the undo put it back
  EXPECT_EQ(log.find("cret"), std::string::npos) << log;
}

// ---- text area, pointer and painting ---------------------------------------------------------

TEST(TextInput, TextAreaMovesByLineKeepingTheColumn) {
  auto t = field(255, 1, 102);  // wraps at 100: ten glyphs
  type(*t, "abcd");
  key(*t, K_RET);
  type(*t, "x");
  key(*t, K_RET);
  type(*t, "abcd");
  ASSERT_EQ(t->value, "abcd\nx\nabcd");
  key(*t, K_UP);
  EXPECT_EQ(t->caret, 6);  // end of the short line
  key(*t, K_UP);
  EXPECT_EQ(t->caret, 4);  // back in the column it started from
  keys(*t, {K_DOWN, K_DOWN}, SHIFT);
  EXPECT_EQ(selected(*t), "\nx\nabcd");
  keys(*t, {K_UP, K_HOME});
  key(*t, K_END, SHIFT);
  EXPECT_EQ(selected(*t), "x");

  auto small = field(255, 1, 52);  // five glyphs a line, one line shown
  small->h = 20;
  type(*small, "abc def ghi");
  EXPECT_EQ(small->sy, 40);  // wrapped at the blanks, caret line in view
}

TEST(TextInput, PointerDragSelectsAndTheViewFollowsTheCaret) {
  auto t = field(255, 0, 50);
  send(*t, GUI_EV_FOCUS);
  type(*t, "0123456789");
  EXPECT_EQ(t->sx, 52);  // caret at 100 plus its width, just in view
  key(*t, K_HOME);
  send(*t, GUI_EV_PRESS, 21, 5, 1);
  send(*t, GUI_EV_MOVE, 38, 5, 0);  // no button: no drag
  EXPECT_EQ(t->caret, 2);
  send(*t, GUI_EV_MOVE, 48, 5, 1);
  send(*t, GUI_EV_RELEASE, 48 - t->sx, 5);
  EXPECT_EQ(selected(*t), "234");
}

TEST(TextInput, PaintFillsTheSelectionAcrossLinesAndDrawsTheCaret) {
  auto t = field(255, 1, 102);
  t->font.font = g_blank;  // only the fills leave pixels
  t->set_value_s("abcd\nx\nabcd");
  send(*t, GUI_EV_FOCUS);
  t->anchor = 2;
  t->caret = 9;
  t->h = 50;  // cuts the last line
  gfx_set_scale(1);
  gfx_set_view(0, 0, W, H);
  gfx_gl_state_reset();
  gfx_clear();
  gfx_ortho();
  t->paint();
  gfx_fill(0x00FF00, 200, 200, 10, 10);  // the widget's clip is gone again
  glFinish();
  // Line 0 from the anchor to the wrap width, all of line 1, line 2 up to
  // the caret, then the caret; nothing below the inner box.
  const int xy[][2] = {{10, 10}, {50, 10}, {99, 10}, {50, 30}, {10, 45}, {20, 45}, {50, 45}, {10, 55}, {205, 205}};
  const unsigned want[] = {0, 0x55AAFF, 0x55AAFF, 0x55AAFF, 0x55AAFF, 0xFFFFFF, 0, 0, 0x00FF00};
  for (int i = 0; i < 9; i++) EXPECT_EQ(z2test::rgb_at(xy[i][0], xy[i][1], H), want[i]) << xy[i][0] << "," << xy[i][1];
}

}  // namespace
