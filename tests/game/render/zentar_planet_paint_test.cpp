// Planet spheres and the pixel-art widget, drawn under a real GL context
// (SDL offscreen) and read back.
#define GL_GLEXT_PROTOTYPES 1  // the fragment count query
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "render/pixart.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "world/zentar.h"
#include "render/zentar_draw_paint.h"
#include "render/zentar_planet_paint.h"
#include "z2_gl_util.h"

namespace {

const int kW = 256, kH = 256;  // window pixels = logical units

class PlanetGL : public z2test::SquareGLTest {
 protected:
  PlanetGL() : SquareGLTest(kW) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SquareGLTest::SetUp());
    driver_set_altdir(Z2_DATA_DIR);
    planet_paint_init();
    world_ = std::make_unique<Zentar>();
    sys_init(*world_);
  }
  // A green-owned rocky planet of radius r with its aura off.
  Item& planet(float x, float y, float r) {
    Item* p = planet_init(*world_, 0, x, y, 50, 10);
    planet_style_init(*world_, p->n, 0x00FF00, 0x00FF00, "default", nullptr);
    p->planet_r = r;
    p->planet_style.sprite[1].enabled = 0;
    p->planet_seed = 7;
    return *p;
  }

  // Mean channel sum of the 5 x 5 patch around (x, y): evens out the surface map.
  int patch(int x, int y) const {
    int s = 0;
    for (int dy = -2; dy <= 2; dy++)
      for (int dx = -2; dx <= 2; dx++) s += sum(x + dx, y + dy);
    return s / 25;
  }

  std::unique_ptr<Zentar> world_;
};

TEST_F(PlanetGL, LitPlanetCoversItsDiscAndIsBrighterTowardTheLights) {
  const float r = 60, cx = 128, cy = 128;
  planet(cx, cy, r);
  planets_paint(*world_, 1.0f);

  for (int a = 0; a < 16; a++) {
    float q = a * 3.14159265f / 8;
    int ix = (int)(cx + 0.9f * r * std::cos(q)), iy = (int)(cy + 0.9f * r * std::sin(q));
    EXPECT_GT(sum(ix, iy), 0) << "inside at " << a;
    // The faceted outline reaches a little past r, never a quarter past it.
    int ox = (int)(cx + 1.25f * r * std::cos(q)), oy = (int)(cy + 1.25f * r * std::sin(q));
    EXPECT_EQ(sum(ox, oy), 0) << "outside at " << a;
  }
  EXPECT_GT(sum((int)cx, (int)cy), 0);

  // The key lights stand up and to the right of the planets' centre.
  const int d = (int)(0.5f * r);
  int lit = patch((int)cx + d, (int)cy - d), dark = patch((int)cx - d, (int)cy + d);
  int side = patch((int)cx - d, (int)cy - d);
  EXPECT_GT(lit, dark * 11 / 10) << lit << " " << dark << " " << side;
  EXPECT_GT(lit, side);
  // The owner's colour: green leads on the lit side.
  const unsigned char* c = px((int)cx + d, (int)cy - d);
  EXPECT_GT(c[1], c[0]);
  EXPECT_GT(c[1], c[2]);

  // What the painter leaves behind.
  EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
  EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
  EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_EQ(src, GL_ONE);
  EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(PlanetGL, ClipRectangleAndAuraOverlay) {
  Item& a = planet(64, 128, 20);
  Item& b = planet(192, 128, 20);
  b.planet_style.layer[0].flags = 0;  // b shows only its aura, in white
  b.planet_style.sprite[1].enabled = 1;
  b.planet_style.sprite[1].color = 0xFFFFFF;
  // A clip around a only: b is neither drawn nor given its overlay.
  world_->clip[0] = 0;
  world_->clip[1] = 0;
  world_->clip[2] = 128;
  world_->clip[3] = 256;
  planets_paint(*world_, 1.0f);
  EXPECT_GT(sum(64, 128), 0);
  EXPECT_EQ(sum(192 + 25, 128), 0);

  // Without the clip the aura rings b: a halo just outside the sphere's
  // radius, clear inside it and gone before the overlay box's edge.
  gfx_clear();
  world_->clip[2] = 0;
  a.in_use = 0;
  planets_paint(*world_, 1.0f);
  EXPECT_EQ(sum(64, 128), 0);
  EXPECT_EQ(sum(192, 128), 0);
  EXPECT_GT(sum(192 + 21, 128), 100);
  EXPECT_GT(sum(192, 128 - 21), 100);
  EXPECT_EQ(sum(192 + 40, 128), 0);
}

// Fragments the renderer makes for one planets_paint.
static GLuint fragments_of_paint(Zentar& world) {
  GLuint q = 0, n = 0;
  glGenQueries(1, &q);
  glBeginQuery(GL_SAMPLES_PASSED, q);
  planets_paint(world, 1.0f);
  glEndQuery(GL_SAMPLES_PASSED);
  glGetQueryObjectuiv(q, GL_QUERY_RESULT, &n);
  glDeleteQueries(1, &q);
  return n;
}

TEST_F(PlanetGL, PlanetsStackedOnOneSpotPaintAFewScreensNotAllOfThem) {
  // A row of planets apart, as a match lays them out: every one shows.
  for (int i = 0; i < 12; i++) planet(10 + 21 * i, 40, 8).planet_style.sprite[1].enabled = 1;
  const GLuint row = fragments_of_paint(*world_);
  for (int i = 0; i < 12; i++) EXPECT_GT(sum(10 + 21 * i, 40), 0) << "planet " << i;
  EXPECT_GT(row, 0u);

  // A thousand screen-sized planets on one spot, auras on: the renderer
  // paints a few screens' worth, not a thousand.
  sys_init(*world_);
  gfx_clear();
  for (int i = 0; i < 1000; i++) planet(128 + i % 3, 128, 100).planet_style.sprite[1].enabled = 1;
  const GLuint stack = fragments_of_paint(*world_);
  EXPECT_GT(stack, 0u);
  // Two sphere layers and two screen-filling overlays a planet.
  const GLuint screen = kW * kH;
  EXPECT_LE(stack, (GLuint)(4 * (PLANET_COVER_MAX + 1)) * screen);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST(PlanetMesh, LevelsAndMeshSizes) {
  EXPECT_EQ(_planet_level(20, 1), 9);
  EXPECT_EQ(_planet_level(100, 1), 15);
  EXPECT_EQ(_planet_level(1, 1), 0);
  EXPECT_EQ(_planet_level(NAN, 1), 0);

  planet_paint_init();
  planet_paint_init();  // once only
  // n rings give 4n^2 triangle slots, the last 4n empty.
  const struct {
    int variant, level, n;
  } cases[] = {{0, 0, 4}, {0, 15, 4}, {1, 0, 5}, {1, 5, 6}, {1, 15, 8}, {2, 3, 5}, {3, 0, 7}, {3, 15, 11}};
  for (const auto& k : cases) {
    const PlanetSphere& m = _planet_paint._planet_spheres[k.variant][k.level];
    ASSERT_EQ(m.count, 4 * k.n * k.n) << k.variant << "/" << k.level;
    const double R = 1 / std::cos(2 * 3.14159265358979 / (3.5 * k.n));
    const int real = (4 * k.n * k.n - 4 * k.n) * 3;
    for (int v = 0; v < m.count * 3; v++) {
      const float* p = &m.vertices[v * 3];
      const float* nv = &m.normals[v * 3];
      double len = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
      if (v >= real) {
        EXPECT_EQ(len, 0.0);
        continue;
      }
      ASSERT_NEAR(len, R, 1e-4);
      ASSERT_NEAR(std::sqrt(nv[0] * nv[0] + nv[1] * nv[1] + nv[2] * nv[2]), 1.0, 1e-4);
      // Facets tilt their normals, never by more than the jitter allows.
      ASSERT_GT((p[0] * nv[0] + p[1] * nv[1] + p[2] * nv[2]) / len, k.variant >= 2 ? 0.7 : 0.9999);
    }
  }
}

TEST(PlanetMesh, FleetLightsSortStrongestFirstEvenAtExtremes) {
  std::vector<PlanetLight> l(4);
  l[0].key = 1000;
  l[1].key = INT_MIN;
  l[2].key = INT_MAX;
  l[3].key = 4000;
  qsort(l.data(), l.size(), sizeof(PlanetLight), my_light_sort);
  EXPECT_EQ(l[0].key, INT_MAX);
  EXPECT_EQ(l[1].key, 4000);
  EXPECT_EQ(l[2].key, 1000);
  EXPECT_EQ(l[3].key, INT_MIN);
}

// ---- pixel art --------------------------------------------------------------------------

TEST(PixArtScale, IsolatedPixelLosesCornersAndDiagonalsRoundOff) {
  std::vector<int32_t> src(14 * 14, 0), dst(42 * 42, -1);
  src[5 * 14 + 5] = 3;
  _rescale_brom3x(14, 14, src.data(), dst.data());
  for (int y = 15; y < 18; y++)
    for (int x = 15; x < 18; x++) {
      bool corner = (x != 16) && (y != 16);
      EXPECT_EQ(dst[y * 42 + x], corner ? 0 : 3) << x << "," << y;
    }
  int threes = 0;
  for (int v : dst) threes += v == 3;
  EXPECT_EQ(threes, 5);

  // A diagonal: each pixel keeps the corners toward its neighbours on the line.
  std::fill(src.begin(), src.end(), 0);
  for (int i = 3; i < 8; i++) src[i * 14 + i] = 2;
  _rescale_brom3x(14, 14, src.data(), dst.data());
  const int b = 5 * 3;  // pixel (5, 5)
  EXPECT_EQ(dst[b * 42 + b], 2);
  EXPECT_EQ(dst[(b + 2) * 42 + b + 2], 2);
  EXPECT_EQ(dst[b * 42 + b + 2], 0);
  EXPECT_EQ(dst[(b + 2) * 42 + b], 0);
  // The background pixel beside the line stays whole.
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 3; x++) EXPECT_EQ(dst[(b + y) * 42 + b + 3 + x], 0);
}

PixArtData art() {
  PixArtData d = {};
  d.palette[0] = 0;
  d.palette[1] = 3;   // blue
  d.palette[2] = 48;  // red
  d.palette[3] = 63;  // white
  for (int y = 2; y <= 6; y++)
    for (int x = 2; x <= 6; x++) d.pixels[y * 14 + x] = 2;
  for (int y = 8; y <= 11; y++)
    for (int x = 8; x <= 11; x++) d.pixels[y * 14 + x] = 1;
  d.pixels[2 * 14 + 10] = 3;  // alone
  return d;
}

TEST_F(PlanetGL, PixArtPictureColoursAndTexture) {
  const std::string text = pixart_encode(art());
  PixArt w(text.c_str(), 0, -1, 0);
  ASSERT_NE(w.texture, 0u);
  EXPECT_FLOAT_EQ(w.tex_u, 126.0f / 128);
  EXPECT_EQ(w.get_value().__str__(), text);

  auto at = [&](int x, int y) {
    const uint8_t* p = &w.rgba[(y * 126 + x) * 4];
    return (unsigned)p[0] << 24 | (unsigned)p[1] << 16 | (unsigned)p[2] << 8 | p[3];
  };
  // Lightened toward white by (21420 - 170 y) / 126 on row y.
  EXPECT_EQ(at(40, 40), 0xFF7474FFu);  // red, m 116
  EXPECT_EQ(at(90, 90), 0x3030FFFFu);  // blue, m 48
  EXPECT_EQ(at(94, 22), 0xFFFFFFFFu);  // white
  EXPECT_EQ(at(90, 18), 0u);           // its cut corner: transparent
  EXPECT_EQ(at(120, 5), 0u);
  PixArtData blank = {};
  w.set_value(var(pixart_encode(blank)));
  EXPECT_EQ(at(40, 40), 0u);  // the shown picture follows a new value

  // The match painter's form: black background, a 9-texel frame, and only
  // the inner 12 x 12 pixels shown. At 108 units a unit is one texel.
  PixArt* m = _draw_pixart_new(text.c_str());
  ASSERT_NE(m, nullptr);
  float u = 0, v = 0;
  EXPECT_EQ(_draw_pixart_texture(m, &u, &v), m->texture);
  EXPECT_EQ(m->rgba[3], 255);  // frame texels are opaque background
  m->w = m->h = 108;
  m->paint();
  // Premultiplying and filtering may round by one step.
  const unsigned char* c = px(40 - 9, 40 - 9);
  EXPECT_NEAR(c[0], 255, 1);
  EXPECT_NEAR(c[1], 116, 1);
  EXPECT_NEAR(c[2], 116, 1);
  c = px(90 - 9, 90 - 9);
  EXPECT_NEAR(c[0], 48, 1);
  EXPECT_NEAR(c[2], 255, 1);
  EXPECT_EQ(sum(120 - 9, 5), 0);  // background black
  _draw_pixart_delete(m);
}

TEST_F(PlanetGL, TexturesAreMadeAgainInANewContextAndOldNamesNeverDeleted) {
  PixArt* m = _draw_pixart_new(pixart_encode(art()).c_str());
  int img = gfx_img_load("white");
  float u = 0, v = 0;
  GLuint art_old = _draw_pixart_texture(m, &u, &v), img_old = gfx_img_get_tex(img);
  ASSERT_TRUE(art_old && img_old);

  _sdl2_create_context(driver_sdl2_window());  // Ctrl+R
  // The new context hands out the old names again, for textures of its own.
  std::vector<GLuint> fresh(std::max(art_old, img_old) + 1);
  glGenTextures((GLsizei)fresh.size(), fresh.data());
  for (GLuint t : fresh) glBindTexture(GL_TEXTURE_2D, t);
  glBindTexture(GL_TEXTURE_2D, 0);

  GLuint art_new = _draw_pixart_texture(m, &u, &v);
  EXPECT_NE(art_new, art_old);
  EXPECT_TRUE(glIsTexture(art_new));
  EXPECT_EQ(gfx_img_load("white"), img) << "ids stay";
  GLuint img_new = gfx_img_get_tex(img);
  EXPECT_NE(img_new, img_old);
  EXPECT_TRUE(glIsTexture(img_new));
  _draw_pixart_delete(m);
  EXPECT_TRUE(glIsTexture(art_old)) << "a name of the old context now belongs to someone else";
  EXPECT_TRUE(glIsTexture(art_new) == GL_FALSE);
}

TEST_F(PlanetGL, PixArtEditorSlotsPickerAndStrokes) {
  PixArt w("", 1, -1, 0);
  EXPECT_EQ(w.focusable, 1);
  EXPECT_EQ(w.order[0], 0);  // greys first, dark to light
  EXPECT_EQ(w.order[1], 21);
  EXPECT_EQ(w.order[2], 42);
  EXPECT_EQ(w.order[3], 63);
  w.w = 126;
  w.h = 160;
  auto ev = [&](int type, float x, float y, float dx = 0, float dy = 0, int b = 1) {
    Event e = {};
    e.type = type;
    e.x = x;
    e.y = y;
    e.dx = dx;
    e.dy = dy;
    e.b = b;
    return w.event(&e);
  };
  // Slot bar: a press picks the slot; a second press on slot 0 opens nothing.
  ev(8, 10, 140);
  EXPECT_EQ(w.slot, 0);
  ev(8, 10, 140);
  EXPECT_EQ(w.picking, 0);
  ev(8, 70, 140);
  ev(10, 70, 140);
  EXPECT_EQ(w.slot, 2);
  EXPECT_EQ(w.picking, 0);
  ev(8, 70, 140);  // the current slot 2: the picker opens for palette entry 2
  EXPECT_EQ(w.picking, 1);
  ev(10, 70, 140);  // the rest of that press is not a pick
  EXPECT_EQ(w.picking, 1);
  ev(8, 100, 20);  // swatch column 6, row 1
  ev(10, 100, 20);
  EXPECT_EQ(w.picking, 0);
  EXPECT_EQ(w.data.palette[2], w.order[8 + 6]);

  // A fast drag paints every cell along its way.
  ev(8, 4, 4);
  ev(9, 122, 122, 118, 118);
  for (int i = 0; i < 14; i++) EXPECT_EQ(w.data.pixels[i * 14 + i], 2) << i;
  EXPECT_EQ(w.data.pixels[13], 0);
  // A move without a button paints nothing.
  ev(9, 122, 4, 0, 0, 0);
  EXPECT_EQ(w.data.pixels[13], 0);
}

}  // namespace
