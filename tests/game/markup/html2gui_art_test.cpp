// Picture widgets of markup pages, drawn under a real GL context (SDL
// offscreen) and read back: data images, planet art, and what bad data gives.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/game.h"
#include "markup/html2gui.h"
#include "markup/html2gui_art.h"
#include "ruvezor/util/qel_base64.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "z2_gl_util.h"
#include "z2_test_util.h"
#include "render/zentar_planet_paint.h"

namespace {

const int kW = 256, kH = 256;  // window pixels = logical units

class ArtGL : public z2test::SquareGLTest {
 protected:
  ArtGL() : SquareGLTest(kW) {}
  void TearDown() override {
    game_.reset();
    _game_data.GAME_THIS = nullptr;
    SquareGLTest::TearDown();
  }

  std::unique_ptr<Widget> build(const std::string& markup) {
    std::unique_ptr<Widget> w;
    log_ = z2test::stdout_of([&] { w.reset(html2gui(markup, var())); });
    return w;
  }
  // Paints w's own picture with its inner box at (x, y), size iw x ih.
  static void paint_at(Widget* w, float x, float y, float iw, float ih) {
    w->w = iw, w->h = ih;
    gfx_translate(x, y);
    w->paint();
    gfx_translate(-x, -y);
  }
  std::unique_ptr<Game> game_;
  std::string log_;
};

// A w x h PNG, each pixel from colours (0xRRGGBB, opaque), as base64.
std::string png_base64(int w, int h, const std::vector<unsigned>& colours) {
  std::vector<unsigned char> rgba;
  for (unsigned c : colours)
    rgba.insert(rgba.end(), {(unsigned char)(c >> 16), (unsigned char)(c >> 8), (unsigned char)c, 255});
  std::vector<unsigned char> png;
  stbi_write_png_to_func(
      [](void* ctx, void* data, int size) {
        auto* out = (std::vector<unsigned char>*)ctx;
        out->insert(out->end(), (unsigned char*)data, (unsigned char*)data + size);
      },
      &png, w, h, 4, rgba.data(), w * 4);
  return base64_encode(png.data(), (unsigned)png.size());
}

TEST_F(ArtGL, DataImageShowsItsPixelsAtHalfSize) {
  auto w = build("<img data=\"" + png_base64(2, 1, {0xff0000, 0x0000ff}) + "\" />");
  auto* img = dynamic_cast<DataImage*>(w.get());
  ASSERT_NE(img, nullptr) << log_;
  ASSERT_NE(img->texture, 0u);
  EXPECT_EQ(img->style.declared().width, 1);
  EXPECT_EQ(img->style.declared().height, 0.5f);
  EXPECT_GT(img->u, 0);
  EXPECT_LE(img->u, 1);

  paint_at(img, 20, 20, 64, 32);
  const unsigned char* left = px(30, 36);
  EXPECT_GT(left[0], 200);
  EXPECT_LT(left[2], 60);
  const unsigned char* right = px(74, 36);
  EXPECT_LT(right[0], 60);
  EXPECT_GT(right[2], 200);
  EXPECT_EQ(sum(10, 36), 0);  // nothing outside the box
  EXPECT_EQ(sum(90, 36), 0);
}

TEST_F(ArtGL, PlanetArtDrawsALitDiscAndGivesTheWorldBack) {
  game_ = std::make_unique<Game>();
  _game_data.GAME_THIS = game_.get();
  planet_paint_init();
  Zentar& world = game_->world;
  world.top = 7;
  world.time = 3;
  world.items[1].in_use = 1;
  world.items[1].planet_r = 5;

  auto w = build("<planet color=#00ff00 data='{\"lighting\":1,\"ambient\":1}' name=p />");
  auto* art = dynamic_cast<PlanetArt*>(w.get());
  ASSERT_NE(art, nullptr) << log_;
  EXPECT_EQ(art->name, "p");
  EXPECT_EQ(art->items[0].in_use, 0);
  EXPECT_EQ(art->planet->planet_color, 0x00ff00);
  EXPECT_EQ(art->planet->planet_style.sprite[1].color, 0x00ff00);  // team colour defaults to the colour
  art->planet->planet_style.sprite[1].enabled = 0;                 // no aura image here

  const float x0 = 50, y0 = 80, cx = x0 + 50, cy = y0 + 30;
  paint_at(art, x0, y0, 100, 60);
  EXPECT_FLOAT_EQ(art->planet->planet_r, 27.9f);
  EXPECT_GT(sum((int)cx, (int)cy), 0);
  for (int s : {-1, 1}) {
    EXPECT_GT(sum((int)(cx + s * 22), (int)cy), 0) << s;       // inside the radius
    EXPECT_EQ(sum((int)(cx + s * 40), (int)cy), 0) << s;       // in the box, past the rim
    EXPECT_EQ(sum((int)cx, (int)(cy + s * 29 * 1.25f)), 0) << s;  // above and below
  }
  const unsigned char* c = px((int)cx + 8, (int)cy - 8);
  EXPECT_GT(c[1], c[0]);
  EXPECT_GT(c[1], c[2]);

  // Its clock, as it stands after days on one page, still moves.
  art->clock = 600000;
  paint_at(art, x0, y0, 100, 60);
  EXPECT_LT(art->clock, ZT_CLOCK_TURN);
  const float was = art->clock;
  paint_at(art, x0, y0, 100, 60);
  EXPECT_GT(art->clock, was);

  EXPECT_EQ(world.top, 7);
  EXPECT_EQ(world.time, 3);
  EXPECT_EQ(world.items[1].planet_r, 5);
  EXPECT_EQ(world.items[0].in_use, 0);
}

TEST_F(ArtGL, BadDataGivesNeutralWidgets) {
  for (std::string data : {"!!not base64", "", "aGVsbG8gd29ybGQ="}) {  // the last: text, no picture
    auto w = build("<img data=\"" + data + "\" />");
    auto* img = dynamic_cast<DataImage*>(w.get());
    ASSERT_NE(img, nullptr) << data;
    EXPECT_EQ(img->texture, 0u) << data;
    EXPECT_NE(log_.find("img data is not a picture"), std::string::npos) << log_;
    paint_at(img, 10, 10, 50, 50);
  }
  // Vector text: no T adds nothing; a colour reaches only the P groups to its left.
  auto none = build("<vectors data=\"P X1 Y2 P X3 Y4 C ff0000\" />");
  EXPECT_TRUE(dynamic_cast<VectorArt*>(none.get())->vertices.empty());
  auto red = build("<vectors data=\"T P X0 Y0 P X10 Y0 P X0 Y10 C ff0000\" />");
  auto white = build("<vectors data=\"T C ff0000 P X0 Y0 P X10 Y0 P X0 Y10\" />");
  const auto& rv = dynamic_cast<VectorArt*>(red.get())->vertices;
  const auto& wv = dynamic_cast<VectorArt*>(white.get())->vertices;
  ASSERT_EQ(rv.size(), 3u);
  ASSERT_EQ(wv.size(), 3u);
  EXPECT_EQ(rv[0].r, 255);
  EXPECT_EQ(rv[0].g, 0);
  EXPECT_EQ(wv[0].g, 255);
  EXPECT_EQ(rv[0].y, 10);  // the P written last fills vertex 0
  EXPECT_EQ(rv[1].x, 10);
  EXPECT_EQ(rv[2].x + rv[2].y, 0);

  // A planet with no running game is built and paints nothing.
  auto planet = build("<planet color=zz data=\"{\" />");
  ASSERT_NE(dynamic_cast<PlanetArt*>(planet.get()), nullptr);
  paint_at(planet.get(), 10, 10, 100, 100);
  // A trophy with a bare name: white layers, and a huge page size does not wrap the shine line.
  auto trophy = build("<trophy value=cup />");
  auto* t = dynamic_cast<TrophyWidget*>(trophy.get());
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t->image3, "cup3");
  EXPECT_EQ(t->color3, 0xffffff);
  t->shine_clock = 1e9;
  t->glow_clock = 600000;  // days on one page: the glow still turns
  paint_at(t, 0, 0, 65536, 0.5f);
  EXPECT_GT(t->glow_clock, 600000);
  for (int y = 0; y < kH; y += 16) EXPECT_EQ(sum(128, y), 0);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

}  // namespace
