// Layout containers and labels: where boxes, tables and scroll boxes put
// their children, option groups, label wrapping; then the theme's layers read
// back from a real GL context.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_gui.h"
#include "z2_gl_util.h"
#include "z2_test_util.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A leaf of a declared size; counts the sizes forced on it, records events.
struct Cell : Widget {
  int forced = 0;
  std::vector<int> got;
  Cell(float w_, float h_, int col_ = 0, int row_ = 0, int colspan_ = 1) {
    style.declared().width = w_, style.declared().height = h_;
    col = col_, row = row_, colspan = colspan_;
  }
  using Widget::resize;
  void resize(int, int) override { forced++, Widget::resize(); }
  var event(Event* e) override { return got.push_back(e->type), Widget::event(e); }
};

var send(Widget& w, int type, float x = 0, float y = 0, float dy = 0, int b = 0) {
  Event e{};
  e.type = type, e.x = x, e.y = y, e.dy = dy, e.b = b;
  return w.event(&e);
}

void declare(Widget& w, float width, float height, int clip = STYLE_UNSET, int align = STYLE_UNSET) {
  StyleBlock& d = w.style.declared();
  d.width = width, d.height = height, d.clip = clip, d.align = d.valign = align;
  w.style.loop();
}

TEST(GuiLayout, BoxGrowsUnlessItClipsAndAlignsItsChild) {
  Box b(new Cell(100, 20));
  declare(b, 60, 0);
  b.resize();
  EXPECT_EQ(b.w, 100);
  declare(b, 60, 0, 1);
  b.resize();
  EXPECT_EQ(b.w, 60);
  EXPECT_EQ(b.h, 20);

  const int aligns[] = {-1, STYLE_UNSET, 0, 1};
  const float x[] = {0, 2, 2, 5}, y[] = {0, 2, 2, 4};
  for (int i = 0; i < 4; i++) {
    Box a(new Cell(10, 4));
    declare(a, 15, 8, STYLE_UNSET, aligns[i]);
    a.resize();
    EXPECT_EQ(a.children[0]->x, x[i]) << i;
    EXPECT_EQ(a.children[0]->y, y[i]) << i;
  }
}

TEST(GuiLayout, TableSpansDeclaredSizeAndBadCells) {
  Table t;
  Cell *a = new Cell(10, 20), *b = new Cell(20, 20, 1), *d = new Cell(10, 20, 2), *c = new Cell(35, 5, 1, 1, 2);
  for (Cell* k : {a, b, d, c}) t.add(k, 0, 0);
  t.resize();
  // c lacks 5 over columns 1 and 2: the odd unit goes to column 2 (2 mod 2 < 1)
  EXPECT_EQ(d->x, 10 + 22);
  EXPECT_EQ(t.w, 10 + 22 + 13);
  EXPECT_EQ(t.h, 25);
  EXPECT_EQ(a->forced, 0);  // already fills its cell
  EXPECT_EQ(b->forced, 1);

  Table e;  // no cells: one column and one row of the declared size
  declare(e, 31, 7);
  e.resize();
  EXPECT_EQ(e.w, 31);
  EXPECT_EQ(e.h, 7);

  Table bad;
  Cell* far = new Cell(1e30f, 10, INT_MAX, 0, INT_MAX);
  far->rowspan = -3;
  bad.add(new Cell(10, 10, -5, INT_MAX, INT_MAX), 0, 0);
  bad.add(far, 0, 0);
  bad.resize();
  EXPECT_TRUE(std::isfinite(bad.h));
}

// 100 x 100 over 100 x 420 of content: focusable A on top, plain B below.
struct Scroll : testing::Test {
  ScrollBox sb;
  Container* content = new Container();
  Cell *a = new Cell(100, 20), *b = new Cell(100, 400);
  void SetUp() override {
    a->focusable = 1;
    content->add(a, 0, 0);
    content->add(b, 0, 20);
    declare(sb, 100, 100);
    sb.add(content, 0, 0);
    sb._resize();
  }
  var drag(float dy) {
    send(sb, GUI_EV_PRESS, 50, 50, 0, 1);
    send(sb, GUI_EV_MOVE, 50, 50 + dy, dy, 1);
    return send(sb, GUI_EV_RELEASE, 50, 50 + dy);
  }
};

TEST_F(Scroll, DragsOverTenUnitsSwallowTheRelease) {
  send(sb, GUI_EV_PRESS, 10, 5, 0, 1);  // focuses A and the chain above it
  send(sb, GUI_EV_RELEASE, 10, 5);
  a->got.clear();
  drag(-10);
  EXPECT_EQ(sb.sy, 10);
  EXPECT_EQ(a->got, (std::vector<int>{GUI_EV_LEAVE, GUI_EV_RELEASE}));  // no click: B is hovered
  a->got.clear();
  EXPECT_EQ(drag(-11).__str__(), "0");
  EXPECT_EQ(sb.get_value_i(), 21);
  EXPECT_TRUE(a->got.empty());
  sb.sy = 0;
  send(sb, GUI_EV_PRESS, 10, 5, 0, 1);  // on the focused A: the drag is A's
  EXPECT_EQ(sb.drag_ok, 0);
}

TEST_F(Scroll, WheelMomentumAndSpring) {
  send(sb, GUI_EV_WHEEL, 0, 0, 2);
  EXPECT_EQ(sb.sy, 60);
  send(sb, GUI_EV_WHEEL, 0, 0, 1000);
  EXPECT_EQ(sb.sy, 320);
  sb.sy = 50, sb.momentum = 0.04f;
  sb.loop();
  EXPECT_EQ(sb.momentum, 0);  // 0.038 cut to tenths
  sb.sy = 420;                 // 100 past the bottom
  sb.loop();
  EXPECT_FLOAT_EQ(sb.sy, 0.85f * 420 + 0.15f * 320);
  sb.sy = -100, sb.momentum = NAN;
  sb.loop();
  EXPECT_FLOAT_EQ(sb.sy, -85);
  EXPECT_EQ(sb.momentum, 0);
}

TEST(GuiLayout, OptionClickMarksEqualTextForms) {
  Container root;
  OptionBox* o[3];
  const var values[3] = {var(1.0), var("two"), var("1")};
  for (int i = 0; i < 3; i++) {
    o[i] = new OptionBox(new Cell(10, 10));
    o[i]->value = values[i], o[i]->leader = o[0], o[i]->on_change = var(10.0 + i);
    o[0]->members.push_back(o[i]);
    root.add(o[i], 0, 20 * i);
  }
  EXPECT_EQ(send(*o[2], GUI_EV_CLICK).__str__(), "12");
  EXPECT_EQ(o[0]->style.override_on + o[1]->style.override_on * 2 + o[2]->style.override_on * 4, 5);
  o[1]->set_value(var("two"));
  EXPECT_EQ(o[0]->style.override_on + o[1]->style.override_on * 2 + o[2]->style.override_on * 4, 2);
  EXPECT_EQ(o[2]->get_value().__str__(), "two");
}

TEST(GuiLayout, LabelWrapsAtItsWidth) {
  z2test::TempDir tmp;
  std::string dir = tmp.enter("guilabel-").string();
  driver_init(0);
  driver_set_altdir(dir.c_str());
  font_init();
  std::string f = "common lineHeight=20 scaleW=256 scaleH=256\n";  // every glyph 10 wide
  for (int c = 32; c < 127; c++) f += "char id=" + std::to_string(c) + " width=8 height=16 xadvance=10\n";
  z2test::write_text(dir + "/mono.fnt", f);
  int font = font_load("mono", 0);
  float line = font_get_height(font, "x", 0);
  ASSERT_GT(line, 0);

  Label l(font, "abcd efgh ijkl");
  l.resize();
  EXPECT_EQ(l.w, std::ceil(font_get_width(font, "abcd efgh ijkl")));
  EXPECT_EQ(l.h, line);
  declare(l, 50, 0);  // one word a line
  l.resize();
  EXPECT_EQ(l.h, 3 * line);
  declare(l, -40, 0);  // nonsense widths stay neutral
  l.resize();
  EXPECT_EQ(l.h, line);
  Label none(0, nullptr);
  none.resize();
  EXPECT_EQ(none.w + none.h, 0);

  font_deinit();
  _gfx_img_deinit();
  driver_deinit();
  tmp.leave();
}

TEST(GuiLayout, ThemePaintsBorderBackgroundForegroundAndTints) {
  const int S = 64;
  z2test::TempDir tmp;
  std::string dir = tmp.enter_as_home("themepaint-").string();
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  driver_init(DRIVER_VIDEO | DRIVER_TIMER);
  driver_set_altdir(dir.c_str());
  driver_video_init(S, S, S, S, S, S, 0);
  gfx_init();
  gfx_set_size(S, S), gfx_set_scale(1), gfx_set_view(0, 0, S, S);
  gfx_gl_state_reset(), gfx_clear(), gfx_ortho();
  unsigned char white[64];
  for (unsigned char& v : white) v = 255;
  ASSERT_NE(stbi_write_png((dir + "/white.png").c_str(), 4, 4, 4, white, 16), 0);
  {
    Container root;
    Cell* c = new Cell(20, 20);  // outer 10..41: margin 2, border 3, padding 1
    StyleBlock& d = c->style.declared();
    for (int s = 0; s < 4; s++) d.margin[s] = 2, d.border[s] = 3, d.padding[s] = 1;
    d.border_color = 0xFF0000, d.bg_color = 0x0000FF;
    Cell* f = new Cell(10, 10);  // border colour without widths; foreground over background
    f->style.declared().border_color = 0xFF0000;
    f->style.declared().bg_color = 0x0000FF, f->style.declared().fg_color = 0x00FF00;
    Cell* t = new Cell(8, 8);  // white picture at half opacity
    t->style.declared().bg_image = gfx_img_load("white");
    t->style.declared().bg_alpha = 128;
    Cell* z = new Cell(0, 0);  // no room: the picture must not come at its own size
    z->style.declared().bg_image = gfx_img_load("white");
    root.add(c, 10, 10), root.add(f, 50, 50), root.add(t, 50, 0), root.add(z, 0, 50);
    root.resize();
    root.paint();
  }
  auto px = [](int x, int y) { return (int)z2test::rgb_at(x, y, S); };
  EXPECT_EQ(px(11, 20), 0);  // margin
  EXPECT_EQ(px(12, 12), 0xFF0000);  // corner, from the top strip
  EXPECT_EQ(px(39, 30), 0xFF0000);
  EXPECT_EQ(px(40, 30), 0);
  EXPECT_EQ(px(15, 15), 0x0000FF);  // padding carries the background
  EXPECT_EQ(px(50, 50), 0x00FF00);
  EXPECT_NEAR(px(54, 4) >> 16, 128, 1);  // premultiplied tint
  EXPECT_EQ(px(1, 51), 0);
  gfx_deinit();
  driver_deinit();
  tmp.leave();
}

}  // namespace
