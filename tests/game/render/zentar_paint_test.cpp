// The match frame and the HUD over it, drawn under a real GL context
// (SDL offscreen) and read back.
#include "render/zentar_paint.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "shell/builds.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"
#include "render/zentar_planet_paint.h"
#include "render/zentar_ui.h"
#include "z2_gl_util.h"

namespace {

// Square, and as large as the default logical screen, so window pixels,
// the 2D mode and the shell's screen width all agree.
const int kW = 640, kH = 640;

class FrameGL : public z2test::SquareGLTest {
 protected:
  FrameGL() : SquareGLTest(kW) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SquareGLTest::SetUp());
    driver_set_altdir(Z2_DATA_DIR);
    font_init();
    planet_paint_init();
    world_ = std::make_unique<Zentar>();
    ui_ = std::make_unique<ZentarUI>();
    sys_init(*world_);
    a_ = planet(300, 200, 50);
    b_ = planet(900, 700, 50);
    ui_init(*world_, *ui_, 0);
    begin();
  }
  void TearDown() override {
    font_deinit();
    SquareGLTest::TearDown();
  }

  int planet(float x, float y, float production) {
    Item* p = planet_init(*world_, 0, x, y, production, 10);
    planet_style_init(*world_, p->n, 0x00FF00, 0x00FF00, "default", nullptr);
    p->planet_style.sprite[1].enabled = 0;
    return p->n;
  }
  void begin() {
    gfx_clear();
    gfx_ortho();
  }
  Vector3 screen(float x, float y) const { return ui_->to_screen * Vector3{x, y, 0}; }
  // Lit pixels in a rectangle of the screen.
  int lit(int x, int y, int w, int h) const {
    int n = 0;
    for (int j = y; j < y + h; j++)
      for (int i = x; i < x + w; i++) n += sum(i, j) > 0;
    return n;
  }
  Item& item(int n) { return world_->items[n]; }

  std::unique_ptr<Zentar> world_;
  std::unique_ptr<ZentarUI> ui_;
  int a_ = 0, b_ = 0;
};

TEST_F(FrameGL, PlanetsLandWhereTheViewTransformPutsThem) {
  sys_paint(*world_, *ui_, 0, 0);

  for (int n : {a_, b_}) {
    Vector3 c = screen(item(n).position_x, item(n).position_y);
    ASSERT_GT(c.x, 0);
    ASSERT_LT(c.x, kW);
    ASSERT_GT(c.y, 0);
    ASSERT_LT(c.y, kH);
    EXPECT_GT(sum(c.x, c.y), 0) << "planet " << n;
  }
  // Halfway between the two planets is empty space.
  Vector3 mid = screen(600, 450);
  EXPECT_EQ(sum(mid.x, mid.y), 0);

  // GL got the row-by-row matrix column by column; the plain 2D mode is back.
  for (int r = 0; r < 4; r++)
    for (int c = 0; c < 4; c++) EXPECT_EQ(ui_->to_screen_gl[c * 4 + r], ui_->to_screen.m[r * 4 + c]);
  float mv[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, mv);
  for (int i = 0; i < 16; i++) EXPECT_EQ(mv[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_EQ(src, GL_ONE);
  EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// A mod's bar in layer 1 stays over a ship that took a later slot.
TEST_F(FrameGL, TopLayerCoversShipsInLaterSlots) {
  auto square = [&](int layer, int colour) -> Item& {
    Item& it = *item_init(*world_);
    it.render_zindex = (int8_t)layer, it.has_image = 1, it.has_position = 1;
    std::strcpy(it.image_src, "white");
    it.position_x = 550, it.position_y = 400, it.image_w = it.image_h = 100, it.image_scale = 1;
    it.render_color = colour, it.render_alpha = 255;
    return it;
  };
  square(1, 0x0000FF);
  Item& ship = square(0, 0xFF0000);
  ship.has_unit = 1;
  sys_paint(*world_, *ui_, 0, 0);

  Vector3 c = screen(600, 450);
  const unsigned char* p = px(c.x, c.y);
  EXPECT_EQ(p[0], 0);
  EXPECT_GT(p[2], 200);
}

TEST_F(FrameGL, HudRingsTheSelectionAndDropsStaleOnes) {
  ui_->sel[a_] = 1;
  ui_->sel[ZT_ITEMS - 1] = 1;  // beyond top: a freed slot
  ui_->ptr[1].active = 1;
  ui_->ptr[1].over = ZT_ITEMS - 2;  // freed hover target
  std::strcpy(world_->status, "WAITING FOR PLAYERS");
  ui_paint(*world_, *ui_, 0);

  EXPECT_EQ(ui_->sel[a_], 1);
  EXPECT_EQ(ui_->sel[ZT_ITEMS - 1], 0);
  EXPECT_EQ(ui_->ptr[1].over, 0);

  const Item& a = item(a_);
  Vector3 ring = screen(a.position_x + a.fleet_r + 8, a.position_y);
  const unsigned char* c = px(ring.x, ring.y);
  EXPECT_EQ(c[0], 0);
  EXPECT_GT(c[1], 128);
  EXPECT_GT(c[2], 128);
  Vector3 centre = screen(a.position_x, a.position_y);
  EXPECT_EQ(sum(centre.x, centre.y), 0);
  Vector3 other = screen(item(b_).position_x + item(b_).fleet_r + 8, item(b_).position_y);
  EXPECT_EQ(sum(other.x, other.y), 0);

  // The status line sits centred in the top strip.
  EXPECT_GT(lit(kW / 2 - 60, 0, 120, 22), 20);

  // In the overview the status line (and everything after it) stays off.
  begin();
  ui_->gmap_mode = 1;
  ui_paint(*world_, *ui_, 0);
  EXPECT_EQ(lit(kW / 2 - 60, 0, 120, 22), 0);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// A hovered planet's label goes where it covers no neighbour's count (the
// other side, or above), and names a production only for a planet that grows.
TEST_F(FrameGL, HoverLabelLeavesTheNeighbourAndNamesOnlyGrowth) {
  Item* ann = user_init(*world_, "Ann", 0x3080ff, 0);
  Item* grey = user_init(*world_, "neutral", 0x808080, 0);
  grey->ships_production_enabled = 0;
  Item* home = planet_init(*world_, ann->n, 560, 450, 50, 10);
  // Right beside it, where a label on the left half of the screen would go.
  float r = home->fleet_r;
  planet_init(*world_, grey->n, 560 + r + 40, 450, 15, 5);
  ui_init(*world_, *ui_, 1);
  ui_->ptr[1].active = 1;
  ui_->ptr[1].over = home->n;
  begin();
  ui_paint(*world_, *ui_, 0);
  Vector3 c = screen(560, 450);
  ASSERT_LT(c.x, kW / 2);
  float k = 1.0f / (ui_->scale * ui_->zoom);
  // Past the hover ring (radius r + 8, 16 wide) on either side.
  int w = (int)(60 * k), h = (int)(20 * k);
  int left = lit((int)(c.x - (r + 18) * k) - w, (int)c.y - h, w, 2 * h);
  int right = lit((int)(c.x + (r + 18) * k), (int)c.y - h, w, 2 * h);
  EXPECT_GT(left, 10) << "the label went to the free side";
  EXPECT_EQ(right, 0) << "the neighbour's count stays clear";
  // Its second line: Ann's planet grows.
  EXPECT_GT(lit((int)(c.x - (r + 18) * k) - w, (int)c.y + h / 2, w, h / 2), 10);

  // A neighbour on either side: the label goes above.
  planet_init(*world_, grey->n, 560 - r - 40, 450, 15, 5);
  begin();
  ui_paint(*world_, *ui_, 0);
  EXPECT_EQ(lit((int)(c.x - (r + 18) * k) - w, (int)c.y - h, w, 2 * h), 0);
  EXPECT_EQ(lit((int)(c.x + (r + 18) * k), (int)c.y - h, w, 2 * h), 0);
  EXPECT_GT(lit((int)c.x - w, (int)(c.y - (r + 18) * k) - 2 * h, 2 * w, 2 * h), 10);

  // A neutral planet that does not grow: its name and no "+N" under it.
  Item* still = planet_init(*world_, grey->n, 900, 200, 60, 5);
  ui_->ptr[1].over = still->n;
  begin();
  ui_paint(*world_, *ui_, 0);
  Vector3 n = screen(900, 200);
  float rs = still->fleet_r;
  int name = lit((int)(n.x - (rs + 12) * k) - 4 * w, (int)n.y - h, 4 * w, h);
  int prod = lit((int)(n.x - (rs + 12) * k) - 4 * w, (int)n.y + h / 2, 4 * w, h / 2);
  EXPECT_GT(name, 10);
  EXPECT_EQ(prod, 0) << "no production line for a planet that does not grow";

  // A planet a mod makes shrink reads "-5": its line is no wider than "+5",
  // not a whole minus sign wider ("+-5"). The label is right-aligned beside
  // the planet, so its width is how far left its first lit column lies.
  still->owner_n = ann->n;
  still->ships_production_enabled = 1;
  auto prod_width = [&](float production) {
    still->ships_production = production;
    begin();
    ui_paint(*world_, *ui_, 0);
    int x0 = (int)(n.x - (rs + 12) * k) - 4 * w, y0 = (int)n.y + h / 2;
    for (int x = x0; x < (int)n.x; x++)
      if (lit(x, y0, 1, h / 2) > 0) return n.x - x;
    return 0.0f;
  };
  float grow = prod_width(5), shrink = prod_width(-5);
  float minus = font_get_width(font_load(builds_font_play(), 24), "-") * k;
  ASSERT_GT(grow, minus);
  EXPECT_LT(shrink, grow + minus / 2) << "grows " << grow << ", shrinks " << shrink;

  // A count far wider than its planet: the name keeps clear of it too.
  std::strcpy(still->label_text, "2000000000");
  std::strcpy(still->label_font, builds_font_play());
  still->label_size = 24;
  still->has_label = 1;
  float cw = font_get_width(font_load(builds_font_play(), 24), still->label_text);
  ASSERT_GT(cw / 2, rs + 30);
  begin();
  ui_paint(*world_, *ui_, 0);
  EXPECT_EQ(lit((int)(n.x - (cw / 2 + 8) * k), (int)n.y - h, (int)((cw / 2 - rs - 10) * k), 2 * h), 0)
      << "the name is drawn over the count";
  EXPECT_GT(lit((int)(n.x - (cw / 2 + 12) * k) - 4 * w, (int)n.y - h, 4 * w, h), 10);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST(HudColour, DarkColoursBrightenUntilReadable) {
  EXPECT_EQ(_chat_color_brighten(0x000000), 0x565656);
  EXPECT_EQ(_chat_color_brighten(0x00FF00), 0x00FF00);  // already light enough
  EXPECT_EQ(_chat_color_brighten(0x555555), 0x565656);  // lum 84.15 truncates to 84: one more step
  int blue = _chat_color_brighten(0x0000FF);
  int r = blue >> 16, g = (blue >> 8) & 0xFF, b = blue & 0xFF;
  EXPECT_GT((int)(0.21 * r + 0.71 * g + 0.07 * b), 84);
  EXPECT_EQ(b, 255);
}

}  // namespace
