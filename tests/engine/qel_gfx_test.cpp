// Graphics state, projection, coordinate mapping and the clip stack, under a
// real GL context on SDL's offscreen driver: what is drawn is read back.
#include "ruvezor/util/qel_gfx.h"

#include "ruvezor/util/qel_driver.h"
#include "z2_gl_util.h"
#include "z2_test_util.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int kW = 480, kH = 320;  // window size in pixels

using z2test::stdout_of;

class GfxTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_video_init(kW, kH, 640, 480, 320, 320, 0);
    ASSERT_NE(driver_sdl2_window(), nullptr);
    gfx_init();
  }
  void TearDown() override {
    gfx_deinit();
    driver_deinit();
  }

  // Clips like every blit does, then fills what is left with an opaque colour.
  static void fill(float x, float y, float w, float h, unsigned char r, unsigned char g, unsigned char b) {
    GfxRect d = {x, y, w, h};
    if (!_gfx_clip(&d, nullptr)) return;
    float v[8] = {d.x, d.y, d.x + d.w, d.y, d.x, d.y + d.h, d.x + d.w, d.y + d.h};
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glColor4ub(r, g, b, 255);
    glVertexPointer(2, GL_FLOAT, 0, v);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  }

  // Window pixel (x, y) as 0xRRGGBB, y counted from the top.
  static unsigned px(int x, int y) { return z2test::rgb_at(x, y, kH); }

  // Exactly the pixels [x0, x1) x [y0, y1) hold the colour; the ring around is black.
  static void expect_box(int x0, int y0, int x1, int y1, unsigned rgb) {
    for (int y : {y0, (y0 + y1) / 2, y1 - 1})
      for (int x : {x0, (x0 + x1) / 2, x1 - 1}) EXPECT_EQ(px(x, y), rgb) << x << "," << y;
    for (int y : {y0 - 1, y1})
      for (int x : {x0, x1 - 1}) EXPECT_EQ(px(x, y), 0u) << x << "," << y;
    for (int x : {x0 - 1, x1})
      for (int y : {y0, y1 - 1}) EXPECT_EQ(px(x, y), 0u) << x << "," << y;
  }
};

void expect_rect(GfxRect r, float x, float y, float w, float h) {
  EXPECT_NEAR(r.x, x, 1e-3);
  EXPECT_NEAR(r.y, y, 1e-3);
  EXPECT_NEAR(r.w, w, 1e-3);
  EXPECT_NEAR(r.h, h, 1e-3);
}

// What _gfx_clip says of d (1: something is left) under the clip in force.
int clip_of(GfxRect d) { return _gfx_clip(&d, nullptr); }

// Something of d is left under the clip in force, and that is x, y, w, h.
void expect_clipped(GfxRect d, float x, float y, float w, float h) {
  EXPECT_EQ(_gfx_clip(&d, nullptr), 1);
  expect_rect(d, x, y, w, h);
}

// ---- module life and GL state ----------------------------------------------------------

TEST_F(GfxTest, InitDefaultsAndViewFromTheWindow) {
  int w = 0, h = 0, x = -1, y = -1;
  gfx_get_size(&w, &h);
  EXPECT_EQ(w, 256);
  EXPECT_EQ(h, 256);
  EXPECT_EQ(gfx_get_scale(), 1.0f);
  EXPECT_EQ(gfx_get_orient(), 0.0f);
  gfx_get_view(&x, &y, &w, &h);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);
  EXPECT_TRUE(_gfx_is_ready());

  // A second init keeps the state; only the view follows the screen.
  gfx_set_size(640, 400);
  driver_set_size(800, 600);
  gfx_init();
  gfx_get_size(&w, &h);
  EXPECT_EQ(w, 640);
  gfx_get_view(&x, &y, &w, &h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);

  std::string out = stdout_of([] { gfx_deinit(); });
  EXPECT_NE(out.find("gfx_deinit()\n"), std::string::npos);
  EXPECT_NE(out.find("_gfx->memused: 0.00M\n"), std::string::npos);
  gfx_deinit();  // harmless without a state
  gfx_init();
  gfx_get_size(&w, &h);
  EXPECT_EQ(w, 256);  // a fresh state
}

TEST_F(GfxTest, StateResetSetsPremultipliedTwoDState) {
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnableClientState(GL_COLOR_ARRAY);
  glColor4f(0.5f, 0.25f, 0, 0);
  gfx_gl_state_reset();
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));
  GLint v = 0;
  glGetIntegerv(GL_BLEND_SRC, &v);
  EXPECT_EQ(v, GL_ONE);
  glGetIntegerv(GL_BLEND_DST, &v);
  EXPECT_EQ(v, GL_ONE_MINUS_SRC_ALPHA);
  glGetIntegerv(GL_FRONT_FACE, &v);
  EXPECT_EQ(v, GL_CCW);
  glGetIntegerv(GL_CULL_FACE_MODE, &v);
  EXPECT_EQ(v, GL_BACK);
  glGetIntegerv(GL_ACTIVE_TEXTURE, &v);
  EXPECT_EQ(v, GL_TEXTURE0);
  float c[4] = {};
  glGetFloatv(GL_CURRENT_COLOR, c);
  for (float f : c) EXPECT_EQ(f, 1.0f);
}

TEST_F(GfxTest, GlErrorsAreLoggedWhenTheyChange) {
  gfx_gl_state_reset();
  glEnable(0x7fff);  // GL_INVALID_ENUM
  std::string out = stdout_of([] { gfx_gl_state_reset(); });
  EXPECT_NE(out.find("glGetError() -> 1280\n"), std::string::npos) << out;
  glEnable(0x7fff);
  out = stdout_of([] { gfx_gl_state_reset(); });
  EXPECT_EQ(out.find("glGetError()"), std::string::npos) << out;  // same as last time
  out = stdout_of([] { gfx_gl_state_reset(); });
  EXPECT_NE(out.find("glGetError() -> 0\n"), std::string::npos) << out;
  // gfx_clear keeps its own memory.
  glEnable(0x7fff);
  out = stdout_of([] { gfx_clear(); });
  EXPECT_NE(out.find("glGetError() -> 1280\n"), std::string::npos) << out;
}

// ---- view and mapping -------------------------------------------------------------------

TEST_F(GfxTest, MappingIdentityHalfTurnAndFocus) {
  gfx_set_size(kW, kH);
  for (GfxRect p : {GfxRect{0, 0, 3, 4}, GfxRect{123.5f, 77.25f, 0, 0}}) {
    expect_rect(gfx_pos_to_hwpos(p), p.x, p.y, p.w, p.h);
    expect_rect(gfx_hwpos_to_pos(p), p.x, p.y, p.w, p.h);
  }
  gfx_set_orient(180);
  GfxRect p = gfx_pos_to_hwpos(GfxRect{0, 0, 0, 0});
  EXPECT_NEAR(p.x, kW, 1e-3);  // the view's bottom-right corner
  EXPECT_NEAR(p.y, kH, 1e-3);
  expect_rect(gfx_rect_to_hwrect(GfxRect{10, 20, 30, 40}), kW - 10, kH - 20, -30, -40);
  expect_rect(gfx_hwrect_to_rect(GfxRect{kW - 10.f, kH - 20.f, -30, -40}), 10, 20, 30, 40);
  gfx_focus(GfxRect{10, 20, 30, 40});
  expect_rect(_gfx_get_focus_fixed(), kW - 10, kH - 20, -30, -40);
  gfx_blur();
  expect_rect(_gfx_get_focus_fixed(), kW, kH, 0, 0);  // no width: no focus
}

TEST_F(GfxTest, MappingRoundTripsWithViewScaleShiftAndTurn) {
  gfx_set_size(300, 500);
  gfx_set_view(40, 10, 400, 300);
  gfx_set_scale(0.6f);
  gfx_set_shift(7.5f, -3);
  for (float o : {0.f, 90.f, 180.f, 270.f, 33.f}) {
    gfx_set_orient(o);
    for (GfxRect p : {GfxRect{0, 0, 0, 0}, GfxRect{150, 250, 0, 0}, GfxRect{299, 17, 0, 0}}) {
      GfxRect q = gfx_hwpos_to_pos(gfx_pos_to_hwpos(p));
      EXPECT_NEAR(q.x, p.x, 1e-3) << o;
      EXPECT_NEAR(q.y, p.y, 1e-3) << o;
    }
  }
  // The logical centre less the shift lands on the view's centre.
  GfxRect c = gfx_pos_to_hwpos(GfxRect{150 - 7.5f, 250 + 3, 0, 0});
  EXPECT_NEAR(c.x, 240, 1e-3);
  EXPECT_NEAR(c.y, 160, 1e-3);
  int x, y;
  gfx_get_shift(&x, &y);
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, -3);
}

TEST_F(GfxTest, PointerEventsAreMappedKeysAreNot) {
  gfx_set_size(kH, kW);
  gfx_set_orient(90);
  Event e = {};
  e.type = 9;
  e.x = 240;  // the view's centre
  e.y = 160;
  e.dx = 10;  // pure horizontal motion in pixels
  e.dy = 0;
  gfx_event_correct(&e);
  EXPECT_EQ(e.raw_x, 240.0f);
  EXPECT_EQ(e.raw_dx, 10.0f);
  EXPECT_NEAR(e.x, kH / 2, 1e-3);
  EXPECT_NEAR(e.y, kW / 2, 1e-3);
  EXPECT_NEAR(e.dx, 0, 1e-3);
  EXPECT_NEAR(e.dy, -10, 1e-3);  // becomes vertical motion

  for (int type : {8, 10, 14}) {
    Event p = {};
    p.type = type;
    p.x = 240;
    p.y = 160;
    gfx_event_correct(&p);
    EXPECT_NEAR(p.x, kH / 2, 1e-3) << type;
  }
  for (int type : {0, 4, 6, 7, 11, 12, 13}) {
    Event k = {};
    k.type = type;
    k.x = 5;
    k.dx = 7;
    k.raw_x = 99;
    Event before = k;
    gfx_event_correct(&k);
    EXPECT_EQ(memcmp(&k, &before, sizeof(k)), 0) << type;
  }
  gfx_event_correct(nullptr);
}

TEST_F(GfxTest, ViewSetByHandLastsUntilTheScreenChanges) {
  gfx_set_view(0, 0, kW / 2, kH);
  gfx_ortho();
  int x, y, w, h;
  gfx_get_view(&x, &y, &w, &h);
  EXPECT_EQ(w, kW / 2);
  driver_set_size(500, 300);
  gfx_ortho();
  gfx_get_view(&x, &y, &w, &h);
  EXPECT_EQ(w, 500);
  EXPECT_EQ(h, 300);
}

TEST_F(GfxTest, EmptyWindowNeverDividesByZero) {
  gfx_set_size(kW, kH);
  // A minimised window can report no area; the last good view stays.
  driver_set_size(0, 0);
  gfx_init();
  gfx_ortho();
  int x, y, w, h;
  gfx_get_view(&x, &y, &w, &h);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);
  driver_set_size(kW, 0);
  gfx_ortho();
  gfx_get_view(&x, &y, &w, &h);
  EXPECT_EQ(h, kH);
  // A scale computed from an empty window is refused.
  gfx_set_scale(0);
  EXPECT_EQ(gfx_get_scale(), 1.0f);
  gfx_set_scale(NAN);
  gfx_set_scale(INFINITY);
  gfx_set_scale(-2);
  EXPECT_EQ(gfx_get_scale(), 1.0f);
  GfxRect p = gfx_hwpos_to_pos(GfxRect{100, 50, 0, 0});
  EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
  EXPECT_NEAR(p.x, 100, 1e-3);
  Event e = {};
  e.type = 9;
  e.x = 100;
  e.dx = 3;
  gfx_event_correct(&e);
  EXPECT_TRUE(std::isfinite(e.x) && std::isfinite(e.dx));
}

// ---- drawing through the projection ---------------------------------------------------------

TEST_F(GfxTest, ClippedFillLandsWhereTheMappingSaysForEachOrientation) {
  struct {
    float orient;
    int lw, lh;          // logical size that fills the window
    int x0, y0, x1, y1;  // expected window pixels of the logical box (20, 30, 60, 60)
  } cases[] = {
      {0, kW, kH, 20, 30, 80, 90},
      {90, kH, kW, kW - 90, 20, kW - 30, 80},
      {180, kW, kH, kW - 80, kH - 90, kW - 20, kH - 30},
      {270, kH, kW, 30, kH - 80, 90, kH - 20},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.orient);
    gfx_set_size(c.lw, c.lh);
    gfx_set_orient(c.orient);
    gfx_gl_state_reset();
    gfx_clear();
    gfx_ortho();
    gfx_clip(20, 30, 100, 60);
    fill(0, 0, 80, 200, 255, 128, 0);  // cut to (20, 30, 60, 60)
    gfx_unclip();
    expect_box(c.x0, c.y0, c.x1, c.y1, 0xff8000);
    // The mapping agrees with what was drawn.
    GfxRect r = gfx_rect_to_hwrect(GfxRect{20, 30, 60, 60});
    EXPECT_NEAR(std::min(r.x, r.x + r.w), c.x0, 1e-3);
    EXPECT_NEAR(std::min(r.y, r.y + r.h), c.y0, 1e-3);
    EXPECT_NEAR(std::fabs(r.w), c.x1 - c.x0, 1e-3);
    // And a window pixel maps back into the box.
    GfxRect l = gfx_hwpos_to_pos(GfxRect{c.x0 + 0.5f, c.y0 + 0.5f, 0, 0});
    EXPECT_TRUE(l.x >= 20 && l.x <= 80 && l.y >= 30 && l.y <= 90) << l.x << "," << l.y;
  }
}

TEST_F(GfxTest, ScaledShiftedViewportAndTranslation) {
  gfx_set_size(240, 160);
  gfx_set_scale(2);
  gfx_set_shift(10, 5);
  gfx_gl_state_reset();
  gfx_clear();
  gfx_ortho();
  gfx_translate(20, 10);
  fill(0, 0, 10, 10, 0, 0, 255);  // logical (20, 10) + shift (10, 5) -> pixels (60, 30)
  gfx_translate(-20, -10);
  expect_box(60, 30, 80, 50, 0x0000ff);
}

// ---- clip stack ---------------------------------------------------------------------------------

TEST_F(GfxTest, ClipCutsDestinationAndSourceInProportion) {
  expect_clipped({0, 0, 10, 10}, 0, 0, 10, 10);  // no clip: untouched

  gfx_clip(50, 50, 100, 100);
  // Half hangs out on the left: the right half of the source is drawn.
  GfxRect d = {0, 60, 100, 20};
  GfxRect s = {0, 0, 1, 1};
  EXPECT_EQ(_gfx_clip(&d, &s), 1);
  expect_rect(d, 50, 60, 50, 20);
  expect_rect(s, 0.5f, 0, 0.5f, 1);
  // Right and bottom.
  d = {120, 140, 40, 20};
  s = {0, 0, 40, 20};
  EXPECT_EQ(_gfx_clip(&d, &s), 1);
  expect_rect(d, 120, 140, 30, 10);
  expect_rect(s, 0, 0, 30, 10);
  // Top.
  d = {60, 40, 10, 20};
  s = {0, 0, 1, 1};
  EXPECT_EQ(_gfx_clip(&d, &s), 1);
  expect_rect(d, 60, 50, 10, 10);
  expect_rect(s, 0, 0.5f, 1, 0.5f);
  // Entirely outside, or empty.
  EXPECT_EQ(clip_of({0, 0, 50, 50}), 0);
  EXPECT_EQ(clip_of({200, 60, 10, 10}), 0);
  EXPECT_EQ(clip_of({60, 60, 0, 10}), 0);
  EXPECT_EQ(clip_of({60, 60, 10, -1}), 0);
  gfx_unclip();
}

TEST_F(GfxTest, ClipFollowsTranslation) {
  gfx_translate(10, 20);
  gfx_clip(0, 0, 50, 50);
  gfx_translate(-10, -20);
  expect_clipped({0, 0, 100, 100}, 10, 20, 50, 50);
  // Tested from inside a translation, the clip comes back in the caller's units.
  gfx_translate(30, 30);
  expect_clipped({-100, -100, 300, 300}, -20, -10, 50, 50);
  gfx_translate(-30, -30);
  gfx_unclip();
  glLoadIdentity();
}

TEST_F(GfxTest, NestedClipsIntersectAndOverflowHidesAll) {
  gfx_clip(0, 0, 100, 100);
  gfx_clip(50, -20, 100, 100);  // -> (50, 0, 50, 80)
  expect_clipped({0, 0, 200, 200}, 50, 0, 50, 80);
  for (int i = 2; i < 8; i++) gfx_clip(0, 0, 1000, 1000);
  expect_clipped({0, 0, 200, 200}, 50, 0, 50, 80);
  gfx_clip(0, 0, 1000, 1000);  // the ninth
  EXPECT_EQ(clip_of({60, 10, 5, 5}), 0);
  gfx_clip(0, 0, 1000, 1000);  // tenth: still counted
  gfx_unclip();
  EXPECT_EQ(clip_of({60, 10, 5, 5}), 0);
  gfx_unclip();  // back to eight
  expect_clipped({0, 0, 200, 200}, 50, 0, 50, 80);
  gfx_clip(200, 200, 10, 10);  // no overlap: no area, hides everything
  EXPECT_EQ(clip_of({0, 0, 1000, 1000}), 0);
  for (int i = 0; i < 20; i++) gfx_unclip();  // popping at depth 0 is ignored
  gfx_clip(5, 5, 10, 10);
  expect_clipped({0, 0, 200, 200}, 5, 5, 10, 10);
  gfx_unclip();
}

}  // namespace
