// Offscreen GL for the tests that draw and read the pixels back: a square
// window whose pixels are the 2D mode's units, and its pixels with y counted
// from the top.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"

namespace z2test {

// Pixel (x, y) of a window `rows` pixels high, as RGBA; the bytes last until
// the next call.
inline const unsigned char* rgba_at(int x, int y, int rows) {
  static unsigned char c[4];
  glReadPixels(x, rows - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, c);
  return c;
}

// Its red, green and blue added up: 0 where nothing lit the black.
inline int sum_at(int x, int y, int rows) {
  const unsigned char* c = rgba_at(x, y, rows);
  return c[0] + c[1] + c[2];
}

// Its colour as 0xRRGGBB.
inline unsigned rgb_at(int x, int y, int rows) {
  const unsigned char* c = rgba_at(x, y, rows);
  return (unsigned)c[0] << 16 | (unsigned)c[1] << 8 | c[2];
}

// A side x side offscreen window, one pixel to the logical unit, GL in the
// engine's defaults with room in depth for the match's painters, cleared to
// black. A fixture that adds to SetUp runs this one under
// ASSERT_NO_FATAL_FAILURE: without a window there is nothing to draw into.
class SquareGLTest : public testing::Test {
 protected:
  explicit SquareGLTest(int side) : side_(side) {}

  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_video_init(side_, side_, side_, side_, side_, side_, 0);
    ASSERT_NE(driver_sdl2_window(), nullptr);
    gfx_init();
    gfx_set_size(side_, side_);
    gfx_set_ortho_near_far(-1000, 1000);
    gfx_gl_state_reset();
    gfx_ortho();
    gfx_clear();
  }
  void TearDown() override {
    gfx_deinit();
    driver_deinit();
  }

  const unsigned char* px(int x, int y) const { return rgba_at(x, y, side_); }
  int sum(int x, int y) const { return sum_at(x, y, side_); }
  unsigned rgb(int x, int y) const { return rgb_at(x, y, side_); }

 private:
  int side_;
};

}  // namespace z2test
