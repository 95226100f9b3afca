// Texture cache, images, atlases and the drawing calls, under a real GL
// context (SDL's offscreen driver). Pictures are written into a fresh data
// directory (the driver's alternative directory) and document directory per
// test; pixels are read back from the frame.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "z2_test_util.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const int W = 320, H = 240;
using Px = std::array<int, 4>;

int g_now = 0;
int test_clock() { return g_now; }

void write_png(const std::string& path, int w, int h, const std::function<Px(int, int)>& f) {
  std::vector<unsigned char> px((size_t)w * h * 4);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      Px p = f(x, y);
      for (int c = 0; c < 4; c++) px[((size_t)y * w + x) * 4 + c] = (unsigned char)p[c];
    }
  ASSERT_TRUE(stbi_write_png(path.c_str(), w, h, 4, px.data(), w * 4));
}

void write_solid(const std::string& path, int w, int h, Px c) {
  write_png(path, w, h, [&](int, int) { return c; });
}

using z2test::set_mtime;
using z2test::write_text;

class GfxImageTest : public testing::Test {
 protected:
  z2test::TempDir tmp;
  std::string root, data, doc;

  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    root = tmp.enter_as_home("gfximg-").string();
    data = root + "/data";
    fs::create_directories(data);
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_set_gamename("gfximg");
    driver_set_altdir(data.c_str());
    doc = root + "/.local/share/gfximg";
    driver_doc_fname("");  // makes the document directory
    driver_video_init(W, H, W, H, 64, 64, 0);
    ASSERT_TRUE(_gfx_is_ready());
    gfx_init();
    gfx_set_size(W, H);
    gfx_set_scale(1);
    gfx_set_view(0, 0, W, H);
    _gfx_img_set_clock(nullptr);
    _gfx_img_set_memmax(0);
    frame();
  }

  void TearDown() override {
    gfx_deinit();
    _gfx_img_set_clock(nullptr);
    _gfx_img_set_memmax(0);
    driver_deinit();
    tmp.leave();
  }

  static void frame() {
    gfx_gl_state_reset();
    gfx_clear();
    gfx_ortho();
  }

  static Px pixel(int x, int y) {
    unsigned char p[4] = {0, 0, 0, 0};
    glFinish();
    glReadPixels(x, H - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return Px{p[0], p[1], p[2], p[3]};
  }

  static std::vector<unsigned char> frame_pixels() {
    std::vector<unsigned char> p((size_t)W * H * 4);
    glFinish();
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
    return p;
  }

  static bool all_black() {
    auto p = frame_pixels();
    for (size_t i = 0; i < p.size(); i += 4)
      if (p[i] || p[i + 1] || p[i + 2]) return false;
    return true;
  }
};

// Broad colour classes with room for filtering at the edges.
bool is_red(Px p) { return p[0] > 180 && p[1] < 70 && p[2] < 70; }
bool is_green(Px p) { return p[0] < 70 && p[1] > 180 && p[2] < 70; }
bool is_blue(Px p) { return p[0] < 70 && p[1] < 70 && p[2] > 180; }
bool is_yellow(Px p) { return p[0] > 180 && p[1] > 180 && p[2] < 70; }
bool is_grey(Px p) { return p[0] > 90 && p[0] < 170 && p[1] > 90 && p[1] < 170 && p[2] > 90 && p[2] < 170; }
bool is_black(Px p) { return p[0] < 20 && p[1] < 20 && p[2] < 20; }

std::string show(Px p) {
  return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) + "," + std::to_string(p[3]);
}

// ---- finding and caching ------------------------------------------------------------

TEST_F(GfxImageTest, SuffixesAreTriedInOrderDataBeforeDocumentPerSuffix) {
  write_solid(data + "/ship.png", 8, 8, {255, 0, 0, 255});
  write_solid(doc + "/ship.tga", 8, 8, {0, 255, 0, 255});
  ASSERT_STREQ(_gfx_find_ext("ship"), "ship.tga");

  // A dotted name is tried bare first; an undotted one never is.
  write_solid(data + "/ship.png.tga", 8, 8, {0, 0, 255, 255});
  EXPECT_STREQ(_gfx_find_ext("ship.png"), "ship.png");
  write_text(data + "/plain", "not a picture");
  write_solid(data + "/plain.jpg", 8, 8, {0, 0, 255, 255});
  EXPECT_STREQ(_gfx_find_ext("plain"), "plain.jpg");
  EXPECT_EQ(_gfx_find_ext("nothing"), nullptr);

  // Names come from mods and hosts: one that climbs out of the directories
  // finds nothing there, and loads nothing.
  write_solid(root + "/outside.png", 8, 8, {255, 0, 0, 255});
  EXPECT_EQ(_gfx_find_ext("../outside"), nullptr);
  EXPECT_EQ(_gfx_find_ext("x/../../outside.png"), nullptr);
  EXPECT_EQ(gfx_img_load("../outside"), 0);

  // The document-directory file is what gets loaded, and drawn.
  int img = gfx_img_load("ship");
  ASSERT_NE(img, 0);
  EXPECT_EQ(std::string(_gfx_get_tex(_gfx_get_img(img)->tex)->file), doc + "/ship.tga");
  gfx_img_blit(img, 10, 10, 8, 8);
  EXPECT_TRUE(is_green(pixel(13, 13))) << show(pixel(13, 13));
}

TEST_F(GfxImageTest, NamesAreLoadedOnceAndMissesRemembered) {
  write_solid(data + "/dot.png", 4, 4, {255, 255, 255, 255});
  testing::internal::CaptureStdout();
  int a = gfx_img_load("dot");
  int b = gfx_img_load("dot");
  int miss = gfx_img_load("ghost");
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(a, 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(miss, 0);
  EXPECT_EQ(log.find("doing load tex dot"), log.rfind("doing load tex dot"));
  EXPECT_NE(log.find("unable to find img ghost"), std::string::npos);

  // A file that turns up later is not looked for again.
  write_solid(data + "/ghost.png", 4, 4, {255, 255, 255, 255});
  testing::internal::CaptureStdout();
  EXPECT_EQ(gfx_img_load("ghost"), 0);
  EXPECT_EQ(gfx_tex_load("ghost"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("_gfx_find"), std::string::npos);

  // Every texture is also an image of the same name covering the picture.
  write_solid(data + "/wide.png", 100, 30, {255, 255, 255, 255});
  int wide = gfx_img_load("wide");
  EXPECT_EQ(gfx_img_get_width(wide), 100);
  EXPECT_EQ(gfx_img_get_height(wide), 30);
  EXPECT_DOUBLE_EQ(gfx_img_get_ratio(wide), 100.0 / 30.0);
  const GfxTexture* t = _gfx_get_tex(_gfx_get_img(wide)->tex);
  EXPECT_EQ(t->rect.w, 128);
  EXPECT_EQ(t->rect.h, 64);
  EXPECT_EQ(t->mem, 128u * 64u * 16u / 3u);
  EXPECT_EQ(gfx_img_get_ratio(0), 1.0);
}

// Names from a host's records, a new one in each: the lookups are logged a
// few a second, the misses remembered are bounded (the oldest are looked for
// again), and the pictures loaded stay.
TEST_F(GfxImageTest, ANewNameInEveryRecordGrowsNeitherTheTablesNorTheLog) {
  write_solid(data + "/dot.png", 4, 4, {255, 255, 255, 255});
  int now = 100;
  static int* clock = nullptr;
  clock = &now;
  _gfx_img_set_clock([] { return *clock; });
  int dot = gfx_img_load("dot");
  EXPECT_EQ(gfx_img_load("ghost"), 0);
  write_solid(data + "/ghost.png", 4, 4, {255, 255, 255, 255});
  testing::internal::CaptureStdout();
  // Within one second: a few hundred lookups are made, a few of them logged.
  now++;
  for (int i = 0; i < 5000; i++) EXPECT_EQ(gfx_img_load(("q" + std::to_string(i)).c_str()), 0);
  write_solid(data + "/late.png", 4, 4, {255, 255, 255, 255});
  EXPECT_EQ(gfx_img_load("late"), 0) << "looked up past the second's share";
  // Seconds later every name is looked for once more.
  int seconds = 0;
  for (int i = 0; i < 5000; i += 256, seconds++) {
    now++;
    for (int k = i; k < i + 256 && k < 5000; k++) gfx_img_load(("q" + std::to_string(k)).c_str());
  }
  now++;
  int late = gfx_img_load("late");
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(late, 0) << "a name put off is looked up later";
  size_t lines = 0;
  for (size_t at = 0; (at = log.find("unable to find img", at)) != std::string::npos; at++) lines++;
  EXPECT_LE(lines, 20u * (seconds + 2));
  EXPECT_NE(log.find("gfx: 4981 more lookups of new names were not logged or put off"), std::string::npos)
      << log.substr(0, 2000);
  EXPECT_NE(gfx_img_load("ghost"), 0) << "the oldest misses are forgotten: a file that turned up is found";
  EXPECT_EQ(gfx_img_load("dot"), dot);
}

TEST_F(GfxImageTest, NothingIsRememberedWithoutAContext) {
  write_solid(data + "/late.png", 4, 4, {255, 255, 255, 255});
  SDL_GLContext ctx = SDL_GL_GetCurrentContext();
  ASSERT_EQ(SDL_GL_MakeCurrent(driver_sdl2_window(), nullptr), 0);
  ASSERT_FALSE(_gfx_is_ready());
  EXPECT_EQ(gfx_img_load("late"), 0);
  ASSERT_EQ(SDL_GL_MakeCurrent(driver_sdl2_window(), ctx), 0);
  EXPECT_NE(gfx_img_load("late"), 0);
}

TEST_F(GfxImageTest, UndecodableFileGivesAnIdThatDrawsNothing) {
  write_text(data + "/broken.png", "definitely not a png");
  int img = gfx_img_load("broken");
  ASSERT_NE(img, 0);
  EXPECT_EQ(gfx_img_get_tex(img), 0u);
  gfx_img_blit(img, 0, 0, 100, 100);
  gfx_img_box(img, 0, 0, 100, 100, 10);
  gfx_img_tile(img, 0, 0, 100, 100, 10);
  EXPECT_TRUE(all_black());
}

// ---- atlases --------------------------------------------------------------------------

const char* kAtlas = R"({"frames":{
  "ship.png":{"frame":{"x":0,"y":0,"w":20,"h":10},"spriteSourceSize":{"x":6,"y":3,"w":20,"h":10},
              "sourceSize":{"w":32,"h":16}},
  "a.b.png":{"frame":{"x":32,"y":0,"w":8,"h":8},"spriteSourceSize":{"x":0,"y":0},"sourceSize":{"w":8,"h":8}},
  "odd":{"frame":"not an object","sourceSize":7}
}})";

TEST_F(GfxImageTest, AtlasFoundInTheDocumentDirectoryIsReadFromThere) {
  write_png(doc + "/sheet.png", 64, 64, [](int x, int y) -> Px {
    if (x < 20 && y < 10) return {255, 0, 0, 255};
    if (x >= 32 && x < 40 && y < 8) return {0, 255, 0, 255};
    return {0, 0, 0, 0};
  });
  write_text(doc + "/sheet.json", kAtlas);
  gfx_atlas_load("sheet");

  int ship = gfx_img_load("ship");
  ASSERT_NE(ship, 0);
  const GfxImage* im = _gfx_get_img(ship);
  EXPECT_EQ(im->tex, gfx_tex_load("sheet"));
  EXPECT_EQ(im->src.w, 20);
  EXPECT_EQ(im->src.h, 10);
  EXPECT_EQ(im->trim.x, 6);
  EXPECT_EQ(im->trim.y, 3);
  EXPECT_EQ(gfx_img_get_width(ship), 32);
  EXPECT_EQ(gfx_img_get_height(ship), 16);
  EXPECT_NE(gfx_img_load("a.b"), 0);  // cut at the last '.'
  int odd = gfx_img_load("odd");       // bad members read as zero
  ASSERT_NE(odd, 0);
  EXPECT_EQ(_gfx_get_img(odd)->src.w, 0);
  EXPECT_EQ(std::string(_gfx_get_tex(im->tex)->atlas), doc + "/sheet.json");

  // The trimmed frame lands where the untrimmed picture's pixels would.
  gfx_img_blit(ship, 100, 100, 64, 32);
  EXPECT_TRUE(is_red(pixel(112, 106))) << show(pixel(112, 106));
  EXPECT_TRUE(is_red(pixel(150, 124))) << show(pixel(150, 124));
  EXPECT_TRUE(is_black(pixel(111, 110)));
  EXPECT_TRUE(is_black(pixel(152, 110)));
  EXPECT_TRUE(is_black(pixel(130, 105)));
  EXPECT_TRUE(is_black(pixel(130, 126)));
  // A frame drawn past an overlay-free image 0 draws nothing.
  gfx_img_blit(odd, 0, 0, 50, 50);
  gfx_img_blit(0, 0, 0, 50, 50);
  EXPECT_TRUE(is_black(pixel(10, 10)));
}

TEST_F(GfxImageTest, BadAtlasDescriptionsAddNothing) {
  write_solid(data + "/junk.png", 16, 16, {255, 255, 255, 255});
  write_text(data + "/junk.json", "{\"frames\": [1, 2");
  gfx_atlas_load("junk");
  write_solid(data + "/list.png", 16, 16, {255, 255, 255, 255});
  write_text(data + "/list.json", "{\"frames\": [1, 2]}");
  gfx_atlas_load("list");
  EXPECT_NE(gfx_img_load("junk"), 0);  // the picture itself still loads
  EXPECT_EQ(std::string(_gfx_get_tex(gfx_tex_load("junk"))->atlas), data + "/junk.json");
}

// ---- memory cap ------------------------------------------------------------------------

TEST_F(GfxImageTest, RecyclingFreesTheLongestIdleAndReloadsOnUse) {
  const uint32_t each = 64 * 64 * 16 / 3;
  for (const char* n : {"t1", "t2", "t3", "t4", "t5"}) write_solid(data + "/" + n + ".png", 64, 64, {0, 0, 255, 255});
  _gfx_img_set_clock(test_clock);
  _gfx_img_set_memmax(2 * each + 100);

  // Idle for 4 s is not idle enough: the cap stays exceeded.
  g_now = 1000;
  int t1 = gfx_tex_load("t1");
  g_now = 1004;
  int t2 = gfx_tex_load("t2");
  int t3 = gfx_tex_load("t3");
  EXPECT_EQ(_gfx_memused(), 3 * each);
  EXPECT_TRUE(_gfx_get_tex(t1)->loaded);

  // At 1010: t1 idle 10, t2 and t3 idle 6 (a tie the later id wins).
  g_now = 1010;
  int t4 = gfx_tex_load("t4");
  EXPECT_FALSE(_gfx_get_tex(t1)->loaded);
  EXPECT_FALSE(_gfx_get_tex(t3)->loaded);
  EXPECT_TRUE(_gfx_get_tex(t2)->loaded);
  EXPECT_TRUE(_gfx_get_tex(t4)->loaded);
  EXPECT_EQ(_gfx_memused(), 2 * each);
  EXPECT_EQ(_gfx_get_tex(t1)->gl_name, 0u);

  // Using a freed texture's image reloads it under the same id and filters.
  int img = gfx_img_load("t1");
  EXPECT_EQ(_gfx_get_img(img)->tex, t1);
  EXPECT_TRUE(_gfx_get_tex(t1)->loaded);
  EXPECT_NE(_gfx_get_tex(t1)->gl_name, 0u);
  EXPECT_EQ(_gfx_get_tex(t1)->min_filter, GL_LINEAR_MIPMAP_LINEAR);
  EXPECT_EQ(_gfx_get_tex(t1)->mag_filter, GL_LINEAR);
  gfx_img_blit(img, 0, 0, 20, 20);
  EXPECT_TRUE(is_blue(pixel(10, 10)));
  EXPECT_EQ(_gfx_get_tex(t1)->last_use, 1010);
  (void)t3;
}

// ---- hot reload --------------------------------------------------------------------------

TEST_F(GfxImageTest, ChangedFilesReloadTwoSecondsAfterTheirTime) {
  const int T = 1500000000;
  std::string file = data + "/hot.png";
  write_solid(file, 8, 8, {255, 0, 0, 255});
  set_mtime(file, T);
  _gfx_img_set_clock(test_clock);
  g_now = T + 100;
  int img = gfx_img_load("hot");
  int tex = _gfx_get_img(img)->tex;
  EXPECT_EQ(_gfx_get_tex(tex)->mtime, T);

  write_solid(file, 8, 8, {0, 255, 0, 255});
  set_mtime(file, T + 200);
  g_now = T + 201;
  gfx_reload_auto();
  EXPECT_EQ(_gfx_get_tex(tex)->mtime, T);
  g_now = T + 202;
  gfx_reload_auto();
  EXPECT_EQ(_gfx_get_tex(tex)->mtime, T + 200);
  EXPECT_EQ(gfx_img_load("hot"), img);
  gfx_img_blit(img, 0, 0, 16, 16);
  EXPECT_TRUE(is_green(pixel(8, 8))) << show(pixel(8, 8));

  // One pass a second: a change seen within the same second waits.
  write_solid(file, 8, 8, {0, 0, 255, 255});
  set_mtime(file, T + 210);
  g_now = T + 300;
  gfx_reload_auto();
  EXPECT_EQ(_gfx_get_tex(tex)->mtime, T + 210);
  set_mtime(file, T + 250);
  gfx_reload_auto();
  EXPECT_EQ(_gfx_get_tex(tex)->mtime, T + 210);
  g_now = T + 301;
  gfx_reload_auto();
  EXPECT_EQ(_gfx_get_tex(tex)->mtime, T + 250);
}

TEST_F(GfxImageTest, ChangedAtlasDescriptionMovesItsFrames) {
  const int T = 1500000000;
  write_solid(data + "/moving.png", 64, 64, {255, 255, 255, 255});
  std::string json = data + "/moving.json";
  write_text(json, R"({"frames":{"f.png":{"frame":{"x":0,"y":0,"w":8,"h":8},"sourceSize":{"w":8,"h":8}}}})");
  set_mtime(json, T);
  _gfx_img_set_clock(test_clock);
  g_now = T + 10;
  gfx_atlas_load("moving");
  int f = gfx_img_load("f");
  ASSERT_NE(f, 0);
  EXPECT_EQ(_gfx_get_img(f)->src.x, 0);
  write_text(json, R"({"frames":{"f.png":{"frame":{"x":16,"y":0,"w":8,"h":8},"sourceSize":{"w":8,"h":8}}}})");
  set_mtime(json, T + 20);
  g_now = T + 22;
  gfx_reload_auto();
  EXPECT_EQ(gfx_img_load("f"), f);
  EXPECT_EQ(_gfx_get_img(f)->src.x, 16);
}

// ---- drawing ------------------------------------------------------------------------------

TEST_F(GfxImageTest, BlitOfNaturalSizeAndMirroredBlit) {
  write_png(data + "/half.png", 32, 16, [](int x, int) -> Px {
    return x < 16 ? Px{255, 0, 0, 255} : Px{0, 0, 255, 255};
  });
  int img = gfx_img_load("half");
  gfx_img_blit(img, 10, 20, 0, 0);
  EXPECT_TRUE(is_red(pixel(10, 20)));
  EXPECT_TRUE(is_blue(pixel(41, 35)));
  EXPECT_TRUE(is_black(pixel(42, 25)));
  EXPECT_TRUE(is_black(pixel(9, 25)));
  EXPECT_TRUE(is_black(pixel(20, 36)));
  EXPECT_TRUE(is_black(pixel(20, 19)));

  // A negative width mirrors, also under a clip.
  gfx_clip(0, 0, W, H);
  gfx_img_blit(img, 100, 60, -32, 16);
  gfx_unclip();
  EXPECT_TRUE(is_blue(pixel(70, 65)));
  EXPECT_TRUE(is_red(pixel(97, 65)));
}

TEST_F(GfxImageTest, BlitCutByTheClipKeepsTheMatchingPartOfTheSource) {
  write_png(data + "/half.png", 32, 16, [](int x, int) -> Px {
    return x < 16 ? Px{255, 0, 0, 255} : Px{0, 0, 255, 255};
  });
  int img = gfx_img_load("half");
  gfx_clip(0, 0, 50, H);
  gfx_img_blit(img, 34, 10, 32, 16);
  gfx_unclip();
  EXPECT_TRUE(is_red(pixel(36, 15)));
  EXPECT_TRUE(is_red(pixel(48, 15))) << show(pixel(48, 15));
  EXPECT_TRUE(is_black(pixel(51, 15)));
  EXPECT_TRUE(is_black(pixel(60, 15)));
}

TEST_F(GfxImageTest, FillIsOpaqueAndLeavesTheColourWhite) {
  gfx_fill(0xff0000, 5, 5, 10, 10);
  Px p = pixel(10, 10);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 0);
  EXPECT_TRUE(is_black(pixel(16, 10)));
  float c[4];
  glGetFloatv(GL_CURRENT_COLOR, c);
  EXPECT_EQ(c[0], 1.0f);
  EXPECT_EQ(c[1], 1.0f);
  EXPECT_EQ(c[2], 1.0f);
  EXPECT_EQ(c[3], 1.0f);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
}

// Corners red, green, blue, yellow; edges grey; middle white.
void write_nine(const std::string& path) {
  write_png(path, 48, 48, [](int x, int y) -> Px {
    int cx = x / 16, cy = y / 16;
    if (cx == 0 && cy == 0) return {255, 0, 0, 255};
    if (cx == 2 && cy == 0) return {0, 255, 0, 255};
    if (cx == 0 && cy == 2) return {0, 0, 255, 255};
    if (cx == 2 && cy == 2) return {255, 255, 0, 255};
    if (cx == 1 && cy == 1) return {255, 255, 255, 255};
    return {128, 128, 128, 255};
  });
}

TEST_F(GfxImageTest, NineSliceBoxKeepsItsCornersAtAnySize) {
  write_nine(data + "/nine.png");
  int img = gfx_img_load("nine");
  struct Case {
    int x, y, w, h, border, corner;
  } cases[] = {
      {10, 10, 200, 120, 15, 15},  // plenty of room
      {220, 10, 60, 45, 15, 15},   // exactly three corners high
      {220, 100, 90, 30, 20, 10},  // capped by the height
      {10, 150, 300, 80, 24, 24},
  };
  for (const Case& c : cases) {
    gfx_img_box(img, c.x, c.y, c.w, c.h, c.border);
    int k = c.corner, m = k / 2;
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_TRUE(is_red(pixel(c.x + m, c.y + m))) << show(pixel(c.x + m, c.y + m));
    EXPECT_TRUE(is_green(pixel(c.x + c.w - 1 - m, c.y + m)));
    EXPECT_TRUE(is_blue(pixel(c.x + m, c.y + c.h - 1 - m)));
    EXPECT_TRUE(is_yellow(pixel(c.x + c.w - 1 - m, c.y + c.h - 1 - m)));
    // The corner reaches k units in; then the edges, stretched between.
    EXPECT_TRUE(is_red(pixel(c.x + k - 2, c.y + k - 2))) << show(pixel(c.x + k - 2, c.y + k - 2));
    EXPECT_TRUE(is_grey(pixel(c.x + c.w / 2, c.y + m))) << show(pixel(c.x + c.w / 2, c.y + m));
    EXPECT_TRUE(is_grey(pixel(c.x + m, c.y + c.h / 2)));
    EXPECT_TRUE(is_grey(pixel(c.x + c.w - 1 - m, c.y + c.h / 2)));
    EXPECT_FALSE(is_red(pixel(c.x + k + 3 * c.w / 100 + 3, c.y + m)));
    EXPECT_TRUE(is_black(pixel(c.x - 1, c.y + m)));
    EXPECT_TRUE(is_black(pixel(c.x + c.w, c.y + c.h - 1 - m)));
  }
  Px mid = pixel(110, 70);
  EXPECT_GT(mid[0], 240);
  EXPECT_GT(mid[2], 240);
}

TEST_F(GfxImageTest, EmptyOrNegativeBoxesTilesAndBordersDrawNothing) {
  write_nine(data + "/nine.png");
  int img = gfx_img_load("nine");
  gfx_img_box(img, 10, 10, 0, 50, 10);
  gfx_img_box(img, 10, 10, 50, -5, 10);
  gfx_img_box(img, 10, 10, 50, 50, 0);
  gfx_img_box(img, 10, 10, 50, 50, -7);
  gfx_img_box(0, 10, 10, 50, 50, 10);
  gfx_img_tile(img, 10, 10, 50, 50, 0);
  gfx_img_tile(img, 10, 10, 50, 50, -3);
  gfx_img_tile(img, 10, 10, -50, 50, 8);
  gfx_img_tile(0, 10, 10, 50, 50, 8);
  gfx_img_tile(img, 0, 0, 2000000000, 2000000000, 1);  // would take hours
  unsigned tex = gfx_img_get_tex(img);
  ASSERT_NE(tex, 0u);
  gfx_tex_box(tex, 10, 10, 50, 50, 0);
  gfx_tex_box(tex, 10, 10, -50, 50, 10);
  gfx_tex_box_slow(tex, 10, 10, 50, 50, 0);
  gfx_tex_box_slow(tex, 10, 10, 50, 50, -1);
  gfx_tex_box_slow(tex, 10, 10, 50, 0, 10);
  gfx_tex_box_slow(tex, 0, 0, 2000000000, 2000000000, 1);
  gfx_img_blit(0, 10, 10, 50, 50);
  gfx_img_blit2(img, 0, 0, 1, 1, 10, 10, 0, 50);
  gfx_tex_blit(0, 10, 10, 50, 50);
  gfx_fill(0xffffff, 10, 10, 0, 50);
  EXPECT_TRUE(all_black());
  // Stranger ids are as harmless as 0.
  gfx_img_blit(-4, 10, 10, 50, 50);
  gfx_img_blit(1 << 30, 10, 10, 50, 50);
  EXPECT_EQ(gfx_img_get_tex(-1), 0u);
  EXPECT_EQ(gfx_img_get_width(99999), 0);
  EXPECT_TRUE(all_black());
}

TEST_F(GfxImageTest, TilesRepeatAndAreCutAtTheBoxEdge) {
  write_png(data + "/stripe.png", 32, 32, [](int x, int) -> Px {
    return x < 8 ? Px{0, 255, 0, 255} : Px{255, 0, 0, 255};
  });
  int img = gfx_img_load("stripe");
  gfx_img_tile(img, 0, 50, 100, 40, 32);
  for (int col : {0, 32, 64, 96}) EXPECT_TRUE(is_green(pixel(col + 2, 60))) << col;
  EXPECT_TRUE(is_red(pixel(50, 60)));
  EXPECT_TRUE(is_green(pixel(99, 60)));
  EXPECT_TRUE(is_black(pixel(101, 60)));
  EXPECT_TRUE(is_green(pixel(2, 88)));  // second row, cut at the bottom
  EXPECT_TRUE(is_black(pixel(2, 91)));
  // The tile's clip is gone again.
  gfx_fill(0x0000ff, 200, 200, 10, 10);
  EXPECT_TRUE(is_blue(pixel(205, 205)));
}

TEST_F(GfxImageTest, TiledTextureBoxEndsExactlyAtItsEdges) {
  write_nine(data + "/nine.png");
  unsigned tex = gfx_img_get_tex(gfx_img_load("nine"));
  // The picture is padded to 64 x 64, so its thirds are scaled into 3 x border cells
  // of the whole texture: use a box wide enough to show corners and middles.
  gfx_tex_box_slow(tex, 20, 20, 100, 70, 16);
  EXPECT_FALSE(is_black(pixel(21, 21)));
  EXPECT_FALSE(is_black(pixel(119, 89)));
  EXPECT_TRUE(is_black(pixel(120, 50)));
  EXPECT_TRUE(is_black(pixel(60, 90)));
  EXPECT_TRUE(is_black(pixel(19, 50)));
}

}  // namespace
