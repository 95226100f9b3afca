// Match drawing: the triangle batch and immediate primitives read back from a
// real GL context (SDL offscreen), the pixel-art codec, the star table and
// the particle painter.
#define GL_GLEXT_PROTOTYPES  // occlusion queries count the pixels a paint fills
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "render/pixart_codec.h"
#include "ruvezor/util/qel_base64.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "world/zentar.h"
#include "render/zentar_bkgr.h"
#include "render/zentar_draw_paint.h"
#include "z2_gl_util.h"

namespace {

const int kW = 256, kH = 256;  // window pixels = logical units

class DrawGL : public z2test::SquareGLTest {
 protected:
  DrawGL() : SquareGLTest(kW) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SquareGLTest::SetUp());
    // A 1x1 white texture: every textured primitive shows its vertex colour.
    unsigned char white[4] = {255, 255, 255, 255};
    glGenTextures(1, &tex_);
    glBindTexture(GL_TEXTURE_2D, tex_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
  }
  void TearDown() override {
    glDeleteTextures(1, &tex_);
    SquareGLTest::TearDown();
  }
  unsigned px(int x, int y) const { return rgb(x, y); }  // 0xRRGGBB

  // What every painter must leave behind.
  static void expect_default_state() {
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));
    GLfloat c[4] = {};
    glGetFloatv(GL_CURRENT_COLOR, c);
    for (float f : c) EXPECT_FLOAT_EQ(f, 1.0f);
  }

  GLuint tex_ = 0;
};

// ---- batch -------------------------------------------------------------------------------

TEST_F(DrawGL, BatchDrawsPremultipliedAndRestoresBlend) {
  GBatch b;
  // A right triangle in the top-left corner, opaque red.
  batch_draw_triangle(b, (int)tex_, 0xFF0000, GBATCH_PREMUL, 10, 10, 10, 60, 60, 10);
  // An image at half alpha: colour (255, 128, 0) becomes (128, 64, 0) over black.
  GfxImage img = {};
  img.src = {0, 0, 1, 1};
  GfxTexture t = {};
  t.gl_name = tex_;
  t.rect = {0, 0, 1, 1};
  batch_ext_blit_ra(b, img, t, 150, 150, 40, 20, 20, 10, 1.0f, 0.0f, 0xFF8000, 128, GBATCH_PREMUL);
  EXPECT_EQ(b.size(), 3);
  b.flush();
  EXPECT_EQ(b.size(), 0);
  EXPECT_EQ(b.texture, 0);
  expect_default_state();

  EXPECT_EQ(px(15, 15), 0xFF0000u);
  EXPECT_EQ(px(55, 55), 0u);  // beyond the hypotenuse
  EXPECT_EQ(px(5, 5), 0u);
  EXPECT_EQ(px(150, 150), 0x804000u);
  EXPECT_EQ(px(131, 141), 0x804000u);  // anchor at the centre: spans 130..170 x 140..160
  EXPECT_EQ(px(128, 150), 0u);
  EXPECT_EQ(px(150, 162), 0u);
}

TEST_F(DrawGL, BatchAdditiveBlendAndRotatedBlit) {
  GBatch b;
  // Two overlapping additive quads add up channel by channel.
  batch_draw_line(b, (int)tex_, 0x400000, GBATCH_ADD, 20, 100, 120, 100, 20);
  batch_draw_line(b, (int)tex_, 0x004000, GBATCH_ADD, 70, 50, 70, 150, 20);
  b.flush();
  expect_default_state();
  EXPECT_EQ(px(70, 100), 0x404000u);
  EXPECT_EQ(px(30, 100), 0x400000u);
  EXPECT_EQ(px(70, 60), 0x004000u);
  EXPECT_EQ(px(30, 115), 0u);  // half width 10 around y 100

  // A quarter turn about the top-left anchor swings a wide strip downward
  // and to the left of the anchor.
  GfxImage img = {};
  img.src = {0, 0, 1, 1};
  GfxTexture t = {};
  t.gl_name = tex_;
  t.rect = {0, 0, 1, 1};
  batch_ext_blit_ra(b, img, t, 200, 150, 40, 10, 0, 0, 1.0f, (float)(M_PI / 2), 0xFFFFFF, 255, GBATCH_PREMUL);
  b.flush();
  EXPECT_EQ(px(195, 180), 0xFFFFFFu);
  EXPECT_EQ(px(205, 180), 0u);
  EXPECT_EQ(px(230, 155), 0u);
}

TEST_F(DrawGL, BatchRunsAreCutByTextureBlendAndSize) {
  GBatch b;
  for (int i = 0; i < GBATCH_MAX - 1; i++) batch_draw_triangle(b, 7, 0, GBATCH_PREMUL, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(b.size(), GBATCH_MAX - 1);
  batch_draw_triangle(b, 7, 0, GBATCH_PREMUL, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(b.size(), 0);  // flushed at the 8192nd
  batch_draw_triangle(b, 7, 0, GBATCH_PREMUL, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(b.size(), 1);
  EXPECT_EQ(b.texture, 7);

  batch_draw_triangle(b, 7, 0, GBATCH_ADD, 0, 0, 0, 0, 0, 0);  // same texture, new blend
  EXPECT_EQ(b.size(), 1);
  EXPECT_EQ(b.blend, GBATCH_ADD);
  batch_draw_triangle(b, 8, 0, GBATCH_ADD, 0, 0, 0, 0, 0, 0);  // new texture
  EXPECT_EQ(b.size(), 1);
  EXPECT_EQ(b.texture, 8);

  batch_draw_line(b, 8, 0, GBATCH_ADD, 5, 5, 5, 5, 20);  // no length
  EXPECT_EQ(b.size(), 1);
  b.flush();
  expect_default_state();
}

TEST_F(DrawGL, LineCornersAndTextureSides) {
  GBatch b;
  batch_draw_line(b, 3, 0xFFFFFF, GBATCH_PREMUL, 10, 50, 100, 50, 10);
  ASSERT_EQ(b.size(), 2);
  const GTri& t0 = b.tris[0];
  // Travelling right in a y-down screen, v = 0 is the lower side (y + 5).
  EXPECT_FLOAT_EQ(t0.p[0].x, 10);
  EXPECT_FLOAT_EQ(t0.p[0].y, 55);
  EXPECT_FLOAT_EQ(t0.p[0].v, 0);
  EXPECT_FLOAT_EQ(t0.p[1].y, 45);
  EXPECT_FLOAT_EQ(t0.p[1].v, 1);
  EXPECT_FLOAT_EQ(t0.p[2].x, 100);
  EXPECT_FLOAT_EQ(t0.p[2].u, 1);
  EXPECT_EQ(t0.p[0].a, 255);
  b.tris.clear();
}

// ---- immediate primitives ----------------------------------------------------------------

TEST_F(DrawGL, ColourRingLineBoxAndConnect) {
  draw_color(0xFF8000, 128);
  GLfloat c[4] = {};
  glGetFloatv(GL_CURRENT_COLOR, c);
  EXPECT_NEAR(c[0] * 255, 128, 0.01);
  EXPECT_NEAR(c[1] * 255, 64, 0.01);
  EXPECT_NEAR(c[2] * 255, 0, 0.01);
  EXPECT_NEAR(c[3] * 255, 128, 0.01);

  EXPECT_EQ(_draw_circle_points(0), 33);
  EXPECT_EQ(_draw_circle_points(500), 128);
  EXPECT_EQ(_draw_circle_points(64), 64);

  // Ring of radius 40 and width 20 around (64, 64): lit from 30 to 50.
  draw_circle(tex_, 0x00FF00, 64, 64, 40, 0, 20);
  EXPECT_EQ(px(64, 64), 0u);
  EXPECT_EQ(px(64 + 40, 64), 0x00FF00u);
  EXPECT_EQ(px(64, 64 - 40), 0x00FF00u);
  EXPECT_EQ(px(64 + 28, 64 + 28), 0x00FF00u);  // 39.6 out on the diagonal
  EXPECT_EQ(px(64 + 55, 64), 0u);

  draw_line(tex_, 0x0000FF, 140, 20, 240, 20, 6);
  EXPECT_EQ(px(190, 20), 0x0000FFu);
  EXPECT_EQ(px(190, 26), 0u);
  EXPECT_EQ(px(138, 20), 0u);

  // Half a unit wide: no horizontal edges, one vertical line centred on x + 0.25.
  draw_box(tex_, 0xFF0000, 150.25f, 100, 0.5f, 60, 4);
  EXPECT_EQ(px(150, 130), 0xFF0000u);
  EXPECT_EQ(px(149, 130), 0xFF0000u);
  EXPECT_EQ(px(154, 130), 0u);
  EXPECT_EQ(px(160, 100), 0u);

  auto a = std::make_unique<Item>();
  auto bb = std::make_unique<Item>();
  a->position_x = 20, a->position_y = 200, a->fleet_r = 10;
  bb->position_x = 60, bb->position_y = 200, bb->fleet_r = 10;
  draw_connect(tex_, 0xFFFF00, *a, *bb, 4, 10);  // rims touch: nothing
  EXPECT_EQ(px(40, 200), 0u);
  bb->position_x = 120;
  draw_connect(tex_, 0xFFFF00, *a, *bb, 4, 10);  // from x 40 to x 100
  EXPECT_EQ(px(70, 200), 0xFFFF00u);
  EXPECT_EQ(px(38, 200), 0u);
  EXPECT_EQ(px(102, 200), 0u);
  glColor4f(1, 1, 1, 1);
}

// ---- particles -------------------------------------------------------------------------

TEST_F(DrawGL, ParticlesDrawAdditiveSquaresOfLiveEntries) {
  auto world = std::make_unique<Zentar>();
  std::memset(world.get(), 0, sizeof(Zentar));
  // An image that is missing draws with texture 0: the plain vertex colour.
  Part* p = part_init(*world);
  std::strcpy(p->src, "nopart");
  p->d = 10, p->x = 100, p->y = 100, p->r = 10, p->a = 2, p->va = -1, p->age = 0.5f;
  p->vx = 20;  // moved 10 to the right by its age
  Part* q = part_init(*world);
  std::strcpy(q->src, "nopart");
  q->d = 10, q->x = 200, q->y = 200, q->r = 10, q->a = 0.5f;
  Part* dead = part_init(*world);
  *dead = Part{};
  dead->x = 50, dead->y = 50, dead->r = 10;
  parts_paint(*world);
  expect_default_state();
  EXPECT_EQ(px(110, 100), 0xFFFFFFu);  // alpha min(1, 2 - 0.5)
  EXPECT_EQ(px(101, 91), 0xFFFFFFu);
  EXPECT_EQ(px(98, 100), 0u);
  EXPECT_EQ(px(200, 200), 0x7F7F7Fu);
  EXPECT_EQ(px(50, 50), 0u);
  EXPECT_EQ(p->tex, -1);  // the missing image is not looked up again
}

// ---- mod drawing items ---------------------------------------------------------------------

TEST_F(DrawGL, ItemsDrawByLayerAndLeaveBlend) {
  auto world = std::make_unique<Zentar>();
  std::memset(world.get(), 0, sizeof(Zentar));
  auto item = [&](int n, int layer) -> Item& {
    Item& it = world->items[n];
    it.in_use = 1, it.n = n, it.render_zindex = (int8_t)layer, it.has_draw = 1, it.draw_type = 'T';
    world->top = n + 1;
    return it;
  };
  Item& t = item(1, 0);
  t.render_color = 0x00FF00, t.position_x = 10, t.position_y = 10, t.draw_x2 = 10, t.draw_y2 = 60;
  t.draw_x3 = 60, t.draw_y3 = 10;
  Item& below = item(2, -1);
  below.render_color = 0xFF0000, below.position_x = 100, below.position_y = 100, below.draw_x2 = 100;
  below.draw_y2 = 150, below.draw_x3 = 150, below.draw_y3 = 100;
  Item& line = item(3, 0);
  line.draw_type = 'L', line.render_color = 0x0000FF, line.position_x = 200, line.position_y = 20;
  line.draw_x2 = 200, line.draw_y2 = 20;  // no length: nothing
  Item& odd = item(4, 0);
  odd.draw_type = 'Q';
  draw_paint_pre();
  draw_paint(*world, 0, 0, 0);
  draw_paint_post();
  expect_default_state();
  EXPECT_EQ(px(15, 15), 0x00FF00u);
  EXPECT_EQ(px(105, 105), 0u);  // other layer
  EXPECT_EQ(px(200, 20), 0u);
  draw_paint(*world, 0, 0, -1);
  EXPECT_EQ(px(105, 105), 0xFF0000u);
  expect_default_state();

  // A picture or a line textured by a picture that is missing draws
  // nothing, not a plain quad in the item's colour.
  Item& pic = item(5, 0);
  pic.has_draw = 0, pic.has_image = 1, pic.render_color = 0xFFFFFF, pic.render_alpha = 255;
  std::strcpy(pic.image_src, "no-such-picture");
  pic.position_x = 150, pic.position_y = 150, pic.image_w = pic.image_h = 40, pic.image_scale = 1;
  Item& textured = item(6, 0);
  textured.draw_type = 'L', textured.render_color = 0xFFFFFF, textured.position_x = 20;
  textured.position_y = 200, textured.draw_x2 = 120, textured.draw_y2 = 200;
  std::strcpy(textured.image_src, "no-such-picture");
  draw_paint(*world, 0, 0, 0);
  EXPECT_EQ(px(170, 170), 0u);
  EXPECT_EQ(px(70, 200), 0u);
  expect_default_state();

  // Thousands of shapes, pictures and labels that each cover the whole
  // screen: one layer fills a bounded number of screens, whatever it holds,
  // and the small items still draw.
  for (int n = 10; n < 3010; n++) {
    Item& big = item(n, 0);
    big.position_x = -1e4f, big.position_y = -1e4f;
    big.draw_x2 = -1e4f, big.draw_y2 = 3e4f, big.draw_x3 = 3e4f, big.draw_y3 = -1e4f;
    big.draw_r = 1e4f;
    big.draw_type = "TLC"[n % 3];
    big.has_image = n % 5 == 0;
    big.image_w = big.image_h = 1e4f, big.image_cx = big.image_cy = 5e3f, big.image_scale = 1;
    big.has_label = n % 7 == 0;
    big.label_size = 256;
    std::memset(big.label_text, 'W', sizeof(big.label_text) - 1);
  }
  Item& last = item(3010, 0);
  last.render_color = 0x0000FF, last.position_x = 200, last.position_y = 200, last.draw_x2 = 200;
  last.draw_y2 = 240, last.draw_x3 = 240, last.draw_y3 = 200;
  GLuint query = 0;
  glGenQueries(1, &query);
  glBeginQuery(GL_SAMPLES_PASSED, query);
  draw_paint(*world, 0, 0, 0);
  glEndQuery(GL_SAMPLES_PASSED);
  GLuint filled = 0;
  glGetQueryObjectuiv(query, GL_QUERY_RESULT, &filled);
  glDeleteQueries(1, &query);
  EXPECT_LE(filled, 10u * kW * kH);
  EXPECT_EQ(px(205, 205), 0x0000FFu);
  expect_default_state();

  // Zoomed into a big map, most items lie off the screen: they draw nothing
  // there and leave the budget to those on it, the last one here included.
  for (int n = 10; n < 3010; n++) {
    Item& far = world->items[n];
    far.draw_type = 'T', far.has_image = far.has_label = 0;
    far.position_x = far.draw_x2 = 1e5f, far.draw_x3 = 1e5f + 30;
    far.position_y = far.draw_y3 = 0, far.draw_y2 = 30;
  }
  last.render_color = 0xFF00FF;
  draw_paint(*world, 0, 0, 0);
  EXPECT_EQ(px(205, 205), 0xFF00FFu);
  expect_default_state();
}

TEST_F(DrawGL, ShipCountLabelsFollowTheViewersMask) {
  auto world = std::make_unique<Zentar>();
  std::memset(world.get(), 0, sizeof(Zentar));
  Item& neutral = world->items[1];
  neutral.in_use = 1, neutral.user_neutral = 1, neutral.user_team_n = 9;
  Item& me = world->items[2];
  me.in_use = 1, me.user_team_n = 1, me.ui_ships_show_mask = 23;
  Item& foe = world->items[3];
  foe.in_use = 1, foe.user_team_n = 2;
  auto planet = [&](int n, int owner, float ships) -> Item& {
    Item& p = world->items[n];
    p.in_use = 1, p.has_planet = 1, p.owner_n = owner, p.ships_value = ships, p.render_color = 0x123456;
    world->top = n + 1;
    return p;
  };
  Item& mine = planet(4, 2, 12.9f);
  Item& theirs = planet(5, 3, 5);
  Item& empty = planet(6, 1, -3);
  auto paint = [&](int viewer) { draw_paint(*world, viewer, 0, 0); };

  paint(2);
  EXPECT_TRUE(mine.has_label);
  EXPECT_STREQ(mine.label_text, "12");
  EXPECT_STREQ(mine.label_font, "font-play");
  EXPECT_EQ(mine.label_size, 24);
  EXPECT_EQ(mine.render_color, 0xFFFFFF);
  EXPECT_EQ(mine.render_alpha, 255);
  EXPECT_FALSE(theirs.has_label);  // other owner: hidden by 23
  EXPECT_TRUE(empty.has_label);
  EXPECT_STREQ(empty.label_text, "0");

  foe.user_reveal = 1;  // revealed owners show
  paint(2);
  EXPECT_TRUE(theirs.has_label);
  foe.user_reveal = 0;
  paint(0);  // no viewer: mask 23, neutral shown, owned hidden
  EXPECT_FALSE(mine.has_label);
  EXPECT_TRUE(empty.has_label);
  me.ui_ships_show_mask = 0;
  paint(2);
  EXPECT_FALSE(mine.has_label || theirs.has_label || empty.has_label);
  me.ui_ships_show_mask = -1;  // signed byte: every kind
  paint(2);
  EXPECT_TRUE(mine.has_label && theirs.has_label && empty.has_label);

  // Outside a set clip the labels stay as they were.
  world->clip[0] = 1000, world->clip[1] = 1000, world->clip[2] = 10, world->clip[3] = 10;
  me.ui_ships_show_mask = 0;
  paint(2);
  EXPECT_TRUE(mine.has_label);
  // The clip holds its left and top edges but not its right and bottom ones,
  // as for the planet painter (the planets lie at 0, 0).
  world->clip[0] = -10, world->clip[1] = -5;
  paint(2);
  EXPECT_TRUE(mine.has_label);
  world->clip[0] = 0;
  paint(2);
  EXPECT_FALSE(mine.has_label);
  expect_default_state();
}

// ---- star table ---------------------------------------------------------------------------

TEST_F(DrawGL, StarsReinitialiseOnStyleChangeAndLeaveBlend) {
  auto world = std::make_unique<Zentar>();
  std::memset(world.get(), 0, sizeof(Zentar));
  world->bkgr_zoom = 1;
  world->bkgr_stars = 1;
  bkgr_paint(*world);
  expect_default_state();
  // A background picture that is missing leaves the frame black, not with
  // what was drawn before.
  std::strcpy(world->bkgr_src, "no-such-picture");
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  ASSERT_EQ(px(10, 10), 0xFF0000u);
  _bkgr_paint_background(*world);
  EXPECT_EQ(px(10, 10), 0u);
  EXPECT_EQ(px(kW - 10, kH - 10), 0u);
  expect_default_state();
  _bkgr.stars[0].x = 100000;  // far outside star space; only a new table brings it back
  _bkgr_paint_stars(*world);
  EXPECT_GT(_bkgr.stars[0].x, 99000);
  world->bkgr_stars = 2;
  _bkgr_paint_stars(*world);
  EXPECT_LT(_bkgr.stars[0].x, 2000);
  expect_default_state();

  // The match clock starts again from 0 after an hour: no star's twinkle
  // jumps there.
  float before[BKGR_STARS_MAX];
  world->time = ZT_CLOCK_TURN - 1 / 60.0f;
  _bkgr_stars_loop_3(*world, BKGR_STARS_MAX);
  for (int i = 0; i < BKGR_STARS_MAX; i++) before[i] = _bkgr.stars[i].a;
  world->time = 0;
  _bkgr_stars_loop_3(*world, BKGR_STARS_MAX);
  for (int i = 0; i < BKGR_STARS_MAX; i++) ASSERT_NEAR(_bkgr.stars[i].a, before[i], 0.03f) << i;
}

}  // namespace

// ---- pixel-art codec -----------------------------------------------------------------------

namespace {

PixArtData fresh() {
  PixArtData d = {};
  d.palette[1] = 3, d.palette[2] = 48, d.palette[3] = 63;
  return d;
}

std::string bytes_of(const std::string& text) { return base64_decode(text); }

std::string text_of(std::string bytes) {
  return base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), (unsigned)bytes.size());
}

TEST(PixArtCodec, FreshPictureAndPacking) {
  PixArtData d = fresh();
  std::string t = pixart_encode(d);
  ASSERT_EQ(t.size(), 76u);
  EXPECT_EQ(t.find('='), std::string::npos);
  std::string b = bytes_of(t);
  ASSERT_EQ(b.size(), 57u);
  EXPECT_EQ(b.substr(0, 8), std::string("\x01\x0E\x0E\x04\x00\x03\x30\x3F", 8));
  EXPECT_EQ(b.substr(8), std::string(49, '\0'));

  d.pixels[0] = 3, d.pixels[1] = 2, d.pixels[2] = 1, d.pixels[3] = 0;
  d.pixels[195] = 7;  // out of range: only its low two bits travel
  b = bytes_of(pixart_encode(d));
  EXPECT_EQ((unsigned char)b[8], 0xE4);
  EXPECT_EQ((unsigned char)b[56], 0x03);
  EXPECT_EQ((unsigned char)b[55], 0x00);

  EXPECT_EQ(pixart_color(0), 0x000000u);
  EXPECT_EQ(pixart_color(3), 0x0000FFu);
  EXPECT_EQ(pixart_color(12), 0x00FF00u);
  EXPECT_EQ(pixart_color(48), 0xFF0000u);
  EXPECT_EQ(pixart_color(63), 0xFFFFFFu);
  EXPECT_EQ(pixart_color(22), 0x5555AAu);
}

TEST(PixArtCodec, RoundTripsEveryPixelAndPalette) {
  PixArtData a = {};
  srand(11);
  for (int& p : a.pixels) p = rand() % 4;
  for (int& c : a.palette) c = rand() % 64;
  PixArtData b = fresh();
  b.version = 9;
  pixart_decode(pixart_encode(a), b);
  EXPECT_EQ(b.version, 9);  // not written by decoding
  EXPECT_EQ(std::memcmp(a.palette, b.palette, sizeof a.palette), 0);
  EXPECT_EQ(std::memcmp(a.pixels, b.pixels, sizeof a.pixels), 0);
}

TEST(PixArtCodec, MalformedTextChangesOnlyWhatItCovers) {
  PixArtData src = {};
  for (int i = 0; i < 196; i++) src.pixels[i] = 1 + i % 3;
  src.palette[0] = 1, src.palette[1] = 2, src.palette[2] = 3, src.palette[3] = 4;
  std::string good = bytes_of(pixart_encode(src));
  const PixArtData base = fresh();

  // Version 2 is refused whole; version 0 reads like 1.
  std::string b = good;
  b[0] = 2;
  PixArtData d = base;
  pixart_decode(text_of(b), d);
  EXPECT_EQ(std::memcmp(&d, &base, sizeof d), 0);
  b[0] = 0;
  pixart_decode(text_of(b), d);
  EXPECT_EQ(d.pixels[5], src.pixels[5]);

  // Palette bytes are capped; size bytes are ignored.
  b = good;
  b[1] = 99, b[2] = 1, b[3] = 0, b[4] = (char)200;
  d = base;
  pixart_decode(text_of(b), d);
  EXPECT_EQ(d.palette[0], 63);
  EXPECT_EQ(d.palette[1], 2);
  EXPECT_EQ(std::memcmp(d.pixels, src.pixels, sizeof d.pixels), 0);

  // 12 characters = 9 bytes: the palette and the first four pixels.
  d = base;
  pixart_decode(pixart_encode(src).substr(0, 12), d);
  EXPECT_EQ(d.palette[3], 4);
  for (int i = 0; i < 4; i++) EXPECT_EQ(d.pixels[i], src.pixels[i]) << i;
  for (int i = 4; i < 196; i++) ASSERT_EQ(d.pixels[i], 0) << i;

  // Nothing decodable, or an empty text: nothing changes.
  for (std::string t : {std::string(), std::string("!!!!"), std::string(76, '*'), std::string("=AAAAAAA")}) {
    d = base;
    pixart_decode(t, d);
    EXPECT_EQ(std::memcmp(&d, &base, sizeof d), 0) << t;
  }
  // A text stopped by a bad character keeps the prefix before it.
  std::string t = pixart_encode(src);
  t[12] = '#';
  d = base;
  pixart_decode(t, d);
  EXPECT_EQ(d.pixels[3], src.pixels[3]);
  EXPECT_EQ(d.pixels[4], 0);

  // Bytes past the record are ignored, and never read beyond the pixels.
  d = base;
  pixart_decode(text_of(good + std::string(300, '\xFF')), d);
  EXPECT_EQ(std::memcmp(d.pixels, src.pixels, sizeof d.pixels), 0);
}

// ---- star table -------------------------------------------------------------------------

TEST(Stars, CountRadiusAndImageName) {
  EXPECT_EQ(_bkgr_star_count(800, 480), 106);
  EXPECT_EQ(_bkgr_star_radius(800, 480), 565);
  EXPECT_EQ(_bkgr_star_count(1920, 1080), 256);
  EXPECT_EQ(_bkgr_star_radius(1920, 1080), 1357);
  EXPECT_EQ(_bkgr_star_count(0, 0), 0);

  auto w = std::make_unique<Zentar>();
  std::memset(w.get(), 0, sizeof(Zentar));
  w->seed_time = 1001;
  EXPECT_STREQ(_bkgr_image_name(*w), "background02");
  w->seed_time = 0;
  EXPECT_STREQ(_bkgr_image_name(*w), "background05");
  w->seed_time = -3;
  EXPECT_STREQ(_bkgr_image_name(*w), "background02");
  std::memcpy(w->bkgr_src, "nebula0123456789", 16);  // full field, no terminator
  EXPECT_STREQ(_bkgr_image_name(*w), "nebula0123456789");
}

TEST(Stars, TableIsDeterministicAndInRange) {
  const int R = 565, n = 106;
  srand(42);
  _bkgr_stars_init_1(n, R);
  BkgrStar first[BKGR_STARS_MAX];
  std::memcpy(first, _bkgr.stars, sizeof first);
  srand(42);
  _bkgr_stars_init_2(n, R);
  EXPECT_EQ(std::memcmp(first, _bkgr.stars, sizeof first), 0);
  for (int i = 0; i < n; i++) {
    ASSERT_GE(_bkgr.stars[i].x, -R);
    ASSERT_LT(_bkgr.stars[i].x, R);
    ASSERT_GE(_bkgr.stars[i].z, 0);
    ASSERT_LT(_bkgr.stars[i].z, 2 * R);
    ASSERT_GE(_bkgr.stars[i].size, 1);
    ASSERT_LT(_bkgr.stars[i].size, 2);
    ASSERT_EQ(_bkgr.stars[i].a, 1);
  }
  _bkgr_stars_init_3(n, 0);  // a screen of no size divides by nothing
  EXPECT_EQ(_bkgr.stars[0].x, 0);
}

TEST(Stars, MotionOfTheThreeStyles) {
  const int R = 100;
  _bkgr.stars[0] = {-99, 0, 50, 1, 1};
  _bkgr.stars[1] = {10, 10, 150, 1, 1};
  _bkgr_stars_loop_1(2, R, 1.0f);  // 3 units a second, wrapping below -R
  EXPECT_FLOAT_EQ(_bkgr.stars[0].x, 98);
  EXPECT_FLOAT_EQ(_bkgr.stars[1].x, 7);

  _bkgr.stars[0] = {1, 1, 30, 1, 1};   // z passes 0: pushed back by 2R
  _bkgr.stars[1] = {90, 90, 70, 1, 1}; // projects outside R at z 10: reborn at the back
  _bkgr_stars_loop_2(2, R, 1.0f);
  EXPECT_FLOAT_EQ(_bkgr.stars[0].z, 170);
  EXPECT_FLOAT_EQ(_bkgr.stars[0].x, 1);
  EXPECT_FLOAT_EQ(_bkgr.stars[1].z, 200);

  auto w = std::make_unique<Zentar>();
  std::memset(w.get(), 0, sizeof(Zentar));
  w->time = 0;  // frozen: brightness follows the phase i only
  _bkgr_stars_loop_3(*w, 64);
  EXPECT_NEAR(_bkgr.stars[0].a, 0.5, 1e-6);
  EXPECT_NEAR(_bkgr.stars[32].a, (std::sin(32.0) + 1) * 0.5, 1e-6);
  w->time = 3;
  _bkgr_stars_loop_3(*w, 64);
  // About a radian a second: the nearest rate that fits the clock's hour.
  EXPECT_NEAR(_bkgr.stars[32].a, (std::sin(2.0 * 3 * 0.5 + 32) + 1) * 0.5, 1e-3);
}

}  // namespace
