// Texture loading under a real GL context (SDL's offscreen driver): the
// uploaded levels are read back with glGetTexImage.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "z2_test_util.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using z2test::stdout_of;

void sink(void* ctx, void* data, int n) { static_cast<std::string*>(ctx)->append((const char*)data, n); }

std::string tmp_path(const char* name) {
  return std::string("/tmp/qel_tex_load_test_") + std::to_string(getpid()) + "_" + name;
}

std::string write_file(const char* name, const std::string& bytes) {
  std::string path = tmp_path(name);
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  return path;
}

std::string write_png(const char* name, int w, int h, const std::vector<unsigned char>& rgba) {
  std::string bytes;
  stbi_write_png_to_func(sink, &bytes, w, h, 4, rgba.data(), w * 4);
  return write_file(name, bytes);
}

// Distinct colour per pixel, alpha 255.
std::vector<unsigned char> pattern(int w, int h) {
  std::vector<unsigned char> p((size_t)w * h * 4);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      unsigned char* q = &p[((size_t)y * w + x) * 4];
      q[0] = (unsigned char)(x * 2 + 1);
      q[1] = (unsigned char)(y * 5 + 3);
      q[2] = (unsigned char)(x + y);
      q[3] = 255;
    }
  return p;
}

unsigned char pm(unsigned char c, unsigned char a) { return (unsigned char)((c * a) >> 8); }

// A load's reported sizes: the image's "w x h" in the texture's "tw x th".
std::string sizes(int w, int h, int tw, int th) {
  return std::to_string(w) + "x" + std::to_string(h) + " in " + std::to_string(tw) + "x" + std::to_string(th);
}

class TexLoadTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_video_init(256, 256, 640, 480, 64, 64, 0);
    ASSERT_NE(driver_sdl2_window(), nullptr);
    ASSERT_NE(glGetString(GL_VERSION), nullptr);
  }
  void TearDown() override {
    for (auto& p : files) unlink(p.c_str());
    driver_deinit();
  }
  std::vector<std::string> files;

  static std::vector<unsigned char> level(GLuint tex, int lv, int* w, int* h) {
    glBindTexture(GL_TEXTURE_2D, tex);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, lv, GL_TEXTURE_WIDTH, w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, lv, GL_TEXTURE_HEIGHT, h);
    std::vector<unsigned char> out((size_t)*w * *h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!out.empty()) glGetTexImage(GL_TEXTURE_2D, lv, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    return out;
  }
};

// ---- sizes and padding ---------------------------------------------------------------------------

TEST(TexSize, PowersOfTwoFromSixtyFourUpToFourThousand) {
  const int sizes[][2] = {{1, 64},       {64, 64},     {65, 128},    {100, 128},
                          {1025, 2048}, {4096, 4096}, {4097, 4097}, {5000, 5000}};
  for (auto& c : sizes) EXPECT_EQ(_driver_tex_size(c[0]), c[1]) << c[0];
}

TEST_F(TexLoadTest, PaddingRepeatsTheLastColumnAndRow) {
  std::vector<unsigned char> px = pattern(100, 30);
  std::vector<unsigned char> orig = px;
  int w = 0, h = 0, tw = 0, th = 0;
  GLuint tex = _driver_tex_load_from_data(px.data(), 100, 30, &w, &h, &tw, &th);
  ASSERT_NE(tex, 0u);
  EXPECT_EQ(sizes(w, h, tw, th), "100x30 in 128x64");
  int lw, lh;
  std::vector<unsigned char> l0 = level(tex, 0, &lw, &lh);
  ASSERT_EQ(lw, 128);
  ASSERT_EQ(lh, 64);
  auto at = [&](int x, int y) { return &l0[((size_t)y * 128 + x) * 4]; };
  for (int y = 0; y < 64; y++) {
    int sy = y < 30 ? y : 29;
    for (int x = 0; x < 128; x++) {
      int sx = x < 100 ? x : 99;
      const unsigned char* o = &orig[((size_t)sy * 100 + sx) * 4];
      const unsigned char* t = at(x, y);
      ASSERT_EQ(t[0], pm(o[0], 255)) << x << "," << y;
      ASSERT_EQ(t[1], pm(o[1], 255)) << x << "," << y;
      ASSERT_EQ(t[2], pm(o[2], 255)) << x << "," << y;
      ASSERT_EQ(t[3], 255) << x << "," << y;
    }
  }
  GLint v = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &v);
  EXPECT_EQ(v, GL_LINEAR_MIPMAP_LINEAR);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &v);
  EXPECT_EQ(v, GL_LINEAR);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &v);
  EXPECT_EQ(v, GL_CLAMP_TO_EDGE);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &v);
  EXPECT_EQ(v, GL_CLAMP_TO_EDGE);
  // Non-square chain: 128 x 64 down to 1 x 1 in seven halvings.
  level(tex, 7, &lw, &lh);
  EXPECT_EQ(lw, 1);
  EXPECT_EQ(lh, 1);
  level(tex, 6, &lw, &lh);
  EXPECT_EQ(lw, 2);
  EXPECT_EQ(lh, 1);

  // Past 4096 a side keeps its own size.
  std::vector<unsigned char> wide(5000 * 10 * 4, 255);
  ASSERT_NE(_driver_tex_load_from_data(wide.data(), 5000, 10, &w, &h, &tw, &th), 0u);
  EXPECT_EQ(sizes(w, h, tw, th), "5000x10 in 5000x64");
}

TEST_F(TexLoadTest, SquareImageGetsSevenLevelsOfRoundedMeans) {
  std::vector<unsigned char> px(64 * 64 * 4);
  for (size_t i = 0; i < px.size(); i += 4) {
    int p = (int)(i / 4), x = p % 64, y = p / 64;
    px[i] = (unsigned char)((x & 1) ? 255 : 0);  // columns alternate: means round up
    px[i + 1] = (unsigned char)((y & 1) ? 3 : 0);
    px[i + 2] = 0;
    px[i + 3] = 255;
  }
  int w, h, tw, th;
  GLuint tex = 0;
  std::string out = stdout_of([&] { tex = _driver_tex_load_from_data(px.data(), 64, 64, &w, &h, &tw, &th); });
  ASSERT_NE(tex, 0u);
  EXPECT_EQ(tw, 64);
  EXPECT_EQ(th, 64);
  char want[64];
  snprintf(want, sizeof(want), "texture %u: mipmap levels: 6, gen=", tex);
  EXPECT_NE(out.find(want), std::string::npos) << out;
  snprintf(want, sizeof(want), "texture %u: mipmaps v1 (GL_VERSION=", tex);
  EXPECT_NE(out.find(want), std::string::npos) << out;
  for (int lv = 0; lv <= 6; lv++) {
    int lw, lh;
    level(tex, lv, &lw, &lh);
    EXPECT_EQ(lw, 64 >> lv);
    EXPECT_EQ(lh, 64 >> lv);
  }
  int lw, lh;
  std::vector<unsigned char> l1 = level(tex, 1, &lw, &lh);
  // Premultiplied 255 -> 254; (0 + 254 + 0 + 254 + 2) >> 2 = 127; (0 + 0 + 2 + 2 + 2) >> 2 = 1.
  EXPECT_EQ(l1[0], 127);
  EXPECT_EQ(l1[1], 1);
  EXPECT_EQ(l1[3], 255);  // alpha itself is kept
}

// ---- premultiplied alpha ------------------------------------------------------------------------

TEST_F(TexLoadTest, AlphaComesOutPremultipliedInTextureAndOnScreen) {
  std::vector<unsigned char> px;
  for (int i = 0; i < 64 * 64; i++) px.insert(px.end(), {200, 100, 50, 128});
  int w, h, tw, th;
  GLuint tex = _driver_tex_load_from_data(px.data(), 64, 64, &w, &h, &tw, &th);
  ASSERT_NE(tex, 0u);
  int lw, lh;
  std::vector<unsigned char> l0 = level(tex, 0, &lw, &lh);
  EXPECT_EQ(l0[0], 100);
  EXPECT_EQ(l0[1], 50);
  EXPECT_EQ(l0[2], 25);
  EXPECT_EQ(l0[3], 128);

  // Drawn 1:1 over white with the engine's blending: c + white * (1 - a).
  gfx_init();
  gfx_set_size(256, 256);
  gfx_gl_state_reset();
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  gfx_ortho();
  float v[8] = {10, 10, 74, 10, 10, 74, 74, 74};
  float t[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  glBindTexture(GL_TEXTURE_2D, tex);
  glVertexPointer(2, GL_FLOAT, 0, v);
  glTexCoordPointer(2, GL_FLOAT, 0, t);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  unsigned char c[4] = {};
  glReadPixels(40, 256 - 1 - 40, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, c);
  // 100 + 255 * 127 / 255 = 227, 50 + 127 = 177, 25 + 127 = 152 (give or take rounding)
  EXPECT_NEAR(c[0], 227, 1);
  EXPECT_NEAR(c[1], 177, 1);
  EXPECT_NEAR(c[2], 152, 1);
  gfx_deinit();
}

// ---- halving ------------------------------------------------------------------------------------

TEST(TexDownscale, RoundedMeansInEachDirection) {
  unsigned char both[16] = {0, 1, 2, 255, 1, 1, 2, 255, 1, 1, 3, 0, 1, 2, 3, 0};
  int w = 2, h = 2;
  _driver_tex_load_downscale(both, &w, &h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(both[0], 1);    // (0+1+1+1+2)>>2
  EXPECT_EQ(both[1], 1);    // (1+1+1+2+2)>>2
  EXPECT_EQ(both[2], 3);    // (2+2+3+3+2)>>2
  EXPECT_EQ(both[3], 128);  // (510+2)>>2

  unsigned char white[8] = {255, 255, 255, 255, 255, 255, 255, 255};
  w = 2, h = 1;
  _driver_tex_load_downscale(white, &w, &h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  for (int i = 0; i < 4; i++) EXPECT_EQ(white[i], 255);

  unsigned char vert[12] = {0, 10, 20, 30, 1, 11, 21, 31, 99, 99, 99, 99};
  w = 1, h = 3;
  _driver_tex_load_downscale(vert, &w, &h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(vert[0], 1);  // (0+1+1)>>1
  EXPECT_EQ(vert[3], 31);

  unsigned char one[4] = {9, 8, 7, 6};
  w = 1, h = 1;
  _driver_tex_load_downscale(one, &w, &h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(one[0], 9);

  // 4 x 2 -> 2 x 1, packed from the start of the buffer.
  unsigned char row[32];
  for (int i = 0; i < 32; i++) row[i] = (unsigned char)(i * 4);
  w = 4, h = 2;
  _driver_tex_load_downscale_both(row, &w, &h);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(row[0], (0 + 16 + 64 + 80 + 2) >> 2);
  EXPECT_EQ(row[4], (32 + 48 + 96 + 112 + 2) >> 2);
}

TEST_F(TexLoadTest, SmallScreensHalveLargeTextures) {
  driver_set_idiom("phone");
  driver_set_size(480, 320);
  driver_set_scale(1);
  std::vector<unsigned char> px(128 * 100 * 4, 255);
  int w, h, tw, th;
  GLuint tex = _driver_tex_load_from_data(px.data(), 128, 100, &w, &h, &tw, &th);
  ASSERT_NE(tex, 0u);
  EXPECT_EQ(sizes(w, h, tw, th), "64x50 in 64x64");
  int lw, lh;
  level(tex, 0, &lw, &lh);
  EXPECT_EQ(lw, 64);

  // Not when one side is only 64.
  std::vector<unsigned char> px2(128 * 64 * 4, 255);
  _driver_tex_load_from_data(px2.data(), 128, 64, &w, &h, &tw, &th);
  EXPECT_EQ(tw, 128);
  EXPECT_EQ(w, 128);
  // Nor on a large screen.
  driver_set_size(640, 360);
  driver_set_scale(2);
  std::vector<unsigned char> px3(128 * 128 * 4, 255);
  _driver_tex_load_from_data(px3.data(), 128, 128, &w, &h, &tw, &th);
  EXPECT_EQ(tw, 128);
}

// ---- files --------------------------------------------------------------------------------------

TEST_F(TexLoadTest, FileLoadsReportSizesAndLog) {
  std::vector<unsigned char> px = pattern(20, 10);
  files.push_back(write_png("pic.png", 20, 10, px));
  int w, h, tw, th;
  unsigned tex = 0;
  std::string out = stdout_of([&] { tex = driver_tex_load(files[0].c_str(), &w, &h, &tw, &th); });
  ASSERT_NE(tex, 0u);
  EXPECT_TRUE(glIsTexture(tex));
  EXPECT_EQ(sizes(w, h, tw, th), "20x10 in 64x64");
  char want[512];
  snprintf(want, sizeof(want), "loaded %s as %u (20,10)->(20,10):(64,64)\n", files[0].c_str(), tex);
  EXPECT_NE(out.find(want), std::string::npos) << out;

  int comp = 0;
  unsigned char* raw = _stbi_load(files[0].c_str(), &w, &h, &comp, 4);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(memcmp(raw, px.data(), px.size()), 0);
  free(raw);
  EXPECT_EQ(_stbi_load(tmp_path("none.png").c_str(), &w, &h, &comp, 4), nullptr);
}

TEST_F(TexLoadTest, MissingOrBrokenFilesGiveZero) {
  int w = 7, h = 7, tw = 7, th = 7;
  std::string missing = tmp_path("missing.png");
  std::string out = stdout_of([&] { EXPECT_EQ(_driver_tex_load(missing.c_str(), &w, &h, &tw, &th), 0u); });
  EXPECT_NE(out.find("stbi_load failed " + missing + " - "), std::string::npos) << out;
  EXPECT_EQ(w | h | tw | th, 0);

  files.push_back(write_file("junk.png", "\x89PNG\r\n\x1a\nnot really"));
  out = stdout_of([&] { EXPECT_EQ(_driver_tex_load(files.back().c_str(), &w, &h, &tw, &th), 0u); });
  EXPECT_NE(out.find("stbi_load failed " + files.back() + " - "), std::string::npos) << out;
  EXPECT_EQ(_driver_tex_load(nullptr, &w, &h, &tw, &th), 0u);
}

TEST_F(TexLoadTest, OversizedImagesAreRefused) {
  GLint max = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max);
  ASSERT_GT(max, 0);
  ASSERT_LT(max, 65535);
  // A file that decodes but is wider than GL takes.
  std::vector<unsigned char> wide((size_t)(max + 1) * 4, 200);
  files.push_back(write_png("wide.png", max + 1, 1, wide));
  int w = 7, h = 7, tw = 7, th = 7;
  std::string out = stdout_of([&] { EXPECT_EQ(_driver_tex_load(files.back().c_str(), &w, &h, &tw, &th), 0u); });
  EXPECT_NE(out.find("GL_MAX_TEXTURE_SIZE"), std::string::npos) << out;
  EXPECT_EQ(w | h | tw | th, 0);

  // A file whose header names a size no texture holds is refused for that
  // size, not unpacked first: 20000 x 20000 grey, 400 MB unpacked and four
  // times that as RGBA, from a file of a few hundred KB (cut short here).
  std::string bytes = z2test::slurp(files.back());
  ASSERT_GT(bytes.size(), 26u);
  for (int i = 0; i < 4; i++) bytes[16 + i] = bytes[20 + i] = (char)((20000 >> (24 - 8 * i)) & 0xff);
  bytes[24] = 8;  // bit depth
  bytes[25] = 0;  // grey
  files.push_back(write_file("huge.png", bytes.substr(0, 60)));
  out = stdout_of([&] { EXPECT_EQ(_driver_tex_load(files.back().c_str(), &w, &h, &tw, &th), 0u); });
  EXPECT_NE(out.find("texture refused: 20000 x 20000"), std::string::npos) << out;
  EXPECT_EQ(w | h | tw | th, 0);

  // Nor is one GL would take but that is too big to unpack and mipmap at
  // once: 8192 x 8192 is 256 MB as RGBA before its mipmaps.
  for (int i = 0; i < 4; i++) bytes[16 + i] = bytes[20 + i] = (char)((8192 >> (24 - 8 * i)) & 0xff);
  files.push_back(write_file("big.png", bytes.substr(0, 60)));
  out = stdout_of([&] { EXPECT_EQ(_driver_tex_load(files.back().c_str(), &w, &h, &tw, &th), 0u); });
  EXPECT_NE(out.find("texture refused: 8192 x 8192"), std::string::npos) << out;

  // A padded size whose byte count overflows is refused before a pixel is read.
  unsigned char tiny[4] = {1, 2, 3, 4};
  out = stdout_of([&] { EXPECT_EQ(_driver_tex_load_from_data(tiny, 70000, 70000, &w, &h, &tw, &th), 0u); });
  EXPECT_NE(out.find("texture refused"), std::string::npos) << out;
  EXPECT_EQ(tiny[0], 1);
  EXPECT_EQ(_driver_tex_load_from_data(tiny, 40000, 1 << 16, &w, &h, &tw, &th), 0u);
  EXPECT_EQ(_driver_tex_load_from_data(tiny, 0, 5, &w, &h, &tw, &th), 0u);
  EXPECT_EQ(_driver_tex_load_from_data(tiny, -3, 5, &w, &h, &tw, &th), 0u);
  EXPECT_EQ(_driver_tex_load_from_data(nullptr, 1, 1, &w, &h, &tw, &th), 0u);
  EXPECT_EQ(w | h | tw | th, 0);
}

TEST_F(TexLoadTest, GlVersionFixedAnswersAndNoContext) {
  const char* v = (const char*)glGetString(GL_VERSION);
  int major = 0, minor = 0, release = 0;
  sscanf(v, "%d.%d.%d", &major, &minor, &release);
  EXPECT_EQ(_driver_gl_version(), major * 65536 + minor * 256 + release) << v;
  EXPECT_GE(_driver_gl_version(), 0x010100);
  EXPECT_EQ(_has_glGenerateMipmap() + _has_gl_generate_mipmap(), 0);
  EXPECT_EQ(_has_gl_manual_mipmap(), 1);
  EXPECT_EQ(_qel_gl_texture_min_filter(), GL_LINEAR_MIPMAP_LINEAR);
  EXPECT_EQ(_qel_gl_texture_mag_filter(), GL_LINEAR);

  // Without a current context: 0 and all sizes 0, quietly, pixels untouched.
  SDL_Window* win = driver_sdl2_window();
  ASSERT_EQ(SDL_GL_MakeCurrent(win, nullptr), 0);
  ASSERT_EQ(glGetString(GL_VERSION), nullptr);
  unsigned char px[4] = {10, 20, 30, 40};
  int w = 7, h = 7, tw = 7, th = 7;
  std::string out = stdout_of([&] { EXPECT_EQ(_driver_tex_load_from_data(px, 1, 1, &w, &h, &tw, &th), 0u); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(w | h | tw | th, 0);
  EXPECT_EQ(px[0], 10);  // untouched
  EXPECT_EQ(_driver_gl_version(), 0);
  _sdl2_create_context(win);  // back to a working context
  EXPECT_NE(glGetString(GL_VERSION), nullptr);
}

}  // namespace
