// Bitmap fonts: description files, measuring, wrapping and the caret
// queries without GL; then drawing with the generated fonts under a real GL
// context (SDL's offscreen driver), checked by reading the pixels back.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "z2_test_util.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int g_now = 0;
int test_clock() { return g_now; }

using z2test::set_mtime;
using z2test::write_text;

// Every printable ASCII glyph advances `adv` pixels; rectangles are 8 x 16.
std::string mono_font(int line, int adv, const std::string& extra = "") {
  std::string s = "info face=test size=" + std::to_string(line) + "\n";
  s += "common lineHeight=" + std::to_string(line) + " base=16 scaleW=256 scaleH=256 pages=1\n";
  for (int c = 32; c < 127; c++) {
    char buf[160];
    snprintf(buf, sizeof(buf), "char id=%d x=%d y=%d width=8 height=16 xoffset=1 yoffset=2 xadvance=%d page=0\n", c,
             (c % 16) * 16, (c / 16) * 16, adv);
    s += buf;
  }
  return s + extra;
}

class FontTest : public testing::Test {
 protected:
  z2test::TempDir tmp;
  std::string root, data;

  void SetUp() override {
    root = tmp.enter("fonttest-").string();
    data = root + "/data";
    fs::create_directories(data);
    driver_init(0);
    driver_set_altdir(data.c_str());
    font_init();
    _font_set_clock(nullptr);
  }

  void TearDown() override {
    font_deinit();
    _gfx_img_deinit();  // texture lookups made without GL leave empty tables
    _font_set_clock(nullptr);
    driver_deinit();
    tmp.leave();
  }

  int mono(const char* name, int size, int line = 20, int adv = 10) {
    write_text(data + "/" + name + ".fnt", mono_font(line, adv));
    return font_load(name, size);
  }
};

// ---- description files ------------------------------------------------------------------

TEST_F(FontTest, DescriptionLinesAndKeysAreRead) {
  FontInfo f{};
  f.scale = 1;
  const char* text =
      "info face=\"Some Face\" size=32 bold=0\r\n"
      "common lineHeight=32 base=26 scaleW=512 scaleH=256 pages=1\r\n"
      "page id=0 file=\"x.png\"\n"
      "char id=65   x=10 y=20 width=30 height=40 xoffset=-2 yoffset=5 xadvance=27 page=0\r\n"
      "char id=0 x=1 y=1 width=1 height=1 xadvance=99\n"
      "char id=66 x=junk y=3.5px width= height=7\n"
      "kerning first=65 second=66 amount=-3\n"
      "char";  // a last line with no newline and no keys
  _font_parse(f, text, (int)strlen(text));
  EXPECT_EQ(f.lineHeight, 32);
  EXPECT_EQ(f.scaleW, 512);
  EXPECT_EQ(f.scaleH, 256);
  EXPECT_EQ(f.rects[65].x, 10);
  EXPECT_EQ(f.rects[65].y, 20);
  EXPECT_EQ(f.rects[65].w, 30);
  EXPECT_EQ(f.rects[65].h, 40);
  EXPECT_EQ(f.glyphs[65].xoffset, -2);
  EXPECT_EQ(f.glyphs[65].yoffset, 5);
  EXPECT_EQ(f.glyphs[65].xadvance, 27);
  EXPECT_EQ(f.glyphs[0].xadvance, 0);  // id 0 is skipped
  EXPECT_EQ(f.rects[66].x, 0);         // unreadable numbers read 0
  EXPECT_EQ(f.rects[66].y, 3.5f);
  EXPECT_EQ(f.rects[66].h, 7);
}

TEST_F(FontTest, GlyphIdsOutsideTheTableAreIgnored) {
  FontInfo f{};
  f.scale = 1;
  std::string text =
      "common lineHeight=10 scaleW=64 scaleH=64\n"
      "char id=300 x=1 y=1 width=1 height=1 xadvance=300\n"   // 300 - 256 = 44 must stay untouched
      "char id=256 x=1 y=1 width=1 height=1 xadvance=256\n"
      "char id=-212 x=1 y=1 width=1 height=1 xadvance=5\n"    // -212 + 256 = 44 as well
      "char id=1e9 x=1 y=1 width=1 height=1 xadvance=5\n"
      "char id=nan x=1 y=1 width=1 height=1 xadvance=5\n"
      "char id=255 x=2 y=2 width=2 height=2 xadvance=7\n";
  _font_parse(f, text.data(), (int)text.size());
  for (int c = 0; c < 255; c++) EXPECT_EQ(f.glyphs[c].xadvance, 0) << c;
  EXPECT_EQ(f.glyphs[255].xadvance, 7);
  // Bytes above 127 are glyphs like any other.
  EXPECT_EQ(f.rects[255].w, 2);
}

TEST_F(FontTest, ReloadKeepsGlyphsTheFileNoLongerListsAndClearsMargins) {
  int id = mono("keep", 0);
  ASSERT_NE(id, 0);
  font_set_margins(id, 0.5f, 0, 0, 0);
  EXPECT_EQ(_font_get(id)->line, 30);
  write_text(data + "/keep.fnt", "common lineHeight=24 scaleW=256 scaleH=256\nchar id=65 xadvance=3\n");
  font_reload(id);
  const FontInfo* f = _font_get(id);
  EXPECT_EQ(f->lineHeight, 24);
  EXPECT_EQ(f->line, 24);
  EXPECT_EQ(f->glyphs[(unsigned char)'A'].xadvance, 3);
  EXPECT_EQ(f->glyphs[(unsigned char)'B'].xadvance, 10);
  EXPECT_EQ(f->margins[0], 0);
}

// ---- loading ------------------------------------------------------------------------------

TEST_F(FontTest, FontsAreCachedByNameAndSizeAndMissesRemembered) {
  int a = mono("plain", 20);
  ASSERT_NE(a, 0);
  EXPECT_EQ(font_load("plain", 20), a);
  int b = font_load("plain", 30);
  EXPECT_NE(b, a);
  EXPECT_EQ(_font_get(b)->tex, _font_get(a)->tex);
  EXPECT_EQ(std::string(_font_get(a)->file), data + "/plain.fnt");

  EXPECT_EQ(font_load("absent", 20), 0);
  write_text(data + "/absent.fnt", mono_font(20, 10));
  EXPECT_EQ(font_load("absent", 20), 0);
  EXPECT_NE(font_load("absent", 21), 0);  // another key is looked for afresh

  // name, then .fnt, then .txt
  write_text(data + "/both.txt", mono_font(20, 10));
  EXPECT_STREQ(_font_find("both"), "both.txt");
  write_text(data + "/both.fnt", mono_font(20, 10));
  EXPECT_STREQ(_font_find("both"), "both.fnt");
  EXPECT_EQ(_font_find("nope"), nullptr);
  EXPECT_EQ(font_load(nullptr, 1), 0);
}

// Fonts named by a host's labels, a new one in each: a few dozen lookups a
// second (the rest are looked for later), few lines, and a bounded memory of
// the misses.
TEST_F(FontTest, ANewFontInEveryLabelIsLookedUpAFewTimesASecond) {
  static int now = 100;
  _font_set_clock([] { return now; });
  EXPECT_EQ(font_load("ghost", 20), 0);
  write_text(data + "/ghost.fnt", mono_font(20, 10));
  testing::internal::CaptureStdout();
  now++;
  for (int i = 0; i < 3000; i++) EXPECT_EQ(font_load(("f" + std::to_string(i)).c_str(), 20), 0);
  write_text(data + "/late.fnt", mono_font(20, 10));
  EXPECT_EQ(font_load("late", 20), 0) << "looked up past the second's share";
  for (int i = 0; i < 3000; i += 256) {
    now++;
    for (int k = i; k < i + 256 && k < 3000; k++) font_load(("f" + std::to_string(k)).c_str(), 20);
  }
  now++;
  int late = font_load("late", 20);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(late, 0) << "a font put off is looked up later";
  EXPECT_NE(log.find("font: 2981 more lookups of new fonts were not logged or put off"), std::string::npos)
      << log.substr(0, 2000);
  EXPECT_LT(log.size(), 100000u);
  EXPECT_NE(font_load("ghost", 20), 0) << "the oldest misses are forgotten: a file that turned up is found";
}

TEST_F(FontTest, ScaleAndLineFollowSizeAndMargins) {
  int id = mono("m", 24, 32);
  const FontInfo* f = _font_get(id);
  EXPECT_FLOAT_EQ(f->scale, 0.75f);
  EXPECT_FLOAT_EQ(f->line, 24);
  font_set_margins(id, 0.0625f, 0.0625f, -0.0625f, -0.0625f);
  EXPECT_FLOAT_EQ(f->line, 24);
  EXPECT_FLOAT_EQ(f->scale, 0.75f);
  // Drawn 1.5 lower and 1.5 further left: the caret before the first byte.
  GfxRect r = font_crect(id, "ab", 0, 100, -1);
  EXPECT_FLOAT_EQ(r.y, 1.5f);
  EXPECT_FLOAT_EQ(r.x, -1.5f);

  int own = mono("own", 0, 32);
  EXPECT_EQ(_font_get(own)->scale, 1);
  EXPECT_EQ(_font_get(own)->line, 32);
}

TEST_F(FontTest, AbsurdLineHeightsAndGlyphsAreSaidAndPutRight) {
  write_text(data + "/flat.fnt", "common lineHeight=0 scaleW=0 scaleH=0\nchar id=65 width=4 height=4 xadvance=5\n");
  int id = font_load("flat", 20);
  ASSERT_NE(id, 0);
  const FontInfo* f = _font_get(id);
  EXPECT_TRUE(std::isfinite(f->scale));
  EXPECT_TRUE(std::isfinite(f->line));
  font_set_margins(id, -1, 0, -1, 0);  // pulls the line below zero
  EXPECT_TRUE(std::isfinite(f->scale));
  EXPECT_TRUE(std::isfinite(font_get_height(id, "A\nA", 100)));
  EXPECT_TRUE(std::isfinite(font_get_width(id, "AAA")));
  GfxRect r = font_crect(id, "AA", 1, 50, 0);
  EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y));

  // Absurd metrics are said and put right: the line takes the glyphs' height,
  // glyphs outside the picture or far too big are dropped, pen moves are kept
  // near the line, so text shows at its asked size.
  for (const char* line : {"0", "100000", "0.001"}) {
    SCOPED_TRACE(line);
    std::string name = std::string("odd") + line;
    std::string desc = mono_font(16, 10,
                                 "char id=66 x=0 y=0 width=100000 height=100000 xadvance=10\n"
                                 "char id=67 x=0 y=0 width=8 height=250 xadvance=10\n"
                                 "char id=68 x=0 y=0 width=8 height=16 yoffset=-90000 xadvance=90000\n");
    desc.replace(desc.find("lineHeight=16"), 13, std::string("lineHeight=") + line);
    write_text(data + "/" + name + ".fnt", desc);
    int odd = 0;
    std::string out = z2test::stdout_of([&] { odd = font_load(name.c_str(), 20); });
    ASSERT_NE(odd, 0);
    const FontInfo* o = _font_get(odd);
    EXPECT_FLOAT_EQ(o->lineHeight, 18);  // 16 high, 2 below the line's top
    EXPECT_FLOAT_EQ(o->line, 20);
    EXPECT_NE(out.find(std::string("line height ") + line + " does not fit its glyphs, 18 used"), std::string::npos)
        << out;
    EXPECT_NE(out.find("2 glyphs outside the 256x256 picture or far too big, not drawn"), std::string::npos) << out;
    EXPECT_EQ(o->rects[(unsigned char)'B'].w, 0);
    EXPECT_EQ(o->rects[(unsigned char)'C'].h, 0);
    EXPECT_EQ(o->rects[(unsigned char)'A'].h, 16);
    EXPECT_NE(out.find("2 glyph offsets or advances past 144 kept to it"), std::string::npos) << out;
    EXPECT_FLOAT_EQ(font_get_width(odd, "AD"), std::ceil((10 + 144) * 20 / 18.0f + 0.01f));
  }
  write_text(data + "/blank.fnt", "common lineHeight=20 scaleW=64 scaleH=64\nchar id=65 xadvance=5\n");
  std::string out = z2test::stdout_of([&] { EXPECT_NE(font_load("blank", 20), 0); });
  EXPECT_NE(out.find("no glyph has a picture, its text shows nothing"), std::string::npos) << out;
}

// ---- measuring ----------------------------------------------------------------------------

TEST_F(FontTest, WidthIsTheWidestLineRoundedUp) {
  int id = mono("w", 0);  // scale 1, every glyph 10
  EXPECT_EQ(font_get_width(id, ""), 1);
  EXPECT_EQ(font_get_width(id, nullptr), 1);
  EXPECT_EQ(font_get_width(id, "ab"), 21);  // ends on a whole number: one more
  EXPECT_EQ(font_get_width(id, "abc\na\nabcd"), 41);
  EXPECT_EQ(font_get_width(id, "\n\n"), 1);
  int half = mono("half", 10, 20);  // scale 0.5, glyph 5
  EXPECT_EQ(font_get_width(half, "abc"), 16);
  font_set_margins(half, 0, 0.25f, 0, -0.25f);  // right +2.5, left -2.5
  EXPECT_EQ(font_get_width(half, "abc"), 16);   // -2.5 + 15 + 2.5 + 0.01
  EXPECT_EQ(font_get_width(0, "abc"), 0);
}

TEST_F(FontTest, HeightCountsWrappedLinesOnlyWithAWrapWidth) {
  int id = mono("h", 0);
  EXPECT_EQ(font_get_height(id, "one\ntwo", 0), 20);
  EXPECT_EQ(font_get_height(id, "one\ntwo", 1000), 40);
  EXPECT_EQ(font_get_height(id, nullptr, 1000), 20);
  EXPECT_EQ(font_get_height(id, "aaa bbb ccc", 75), 40);
}

// ---- wrapping -------------------------------------------------------------------------------

// The lines _font_wrap_calc makes of text, each as "start-end:width".
std::string wrapped(int font, const char* text, float wrap) {
  FontWrap w;
  _font_wrap_calc(font, text, wrap, w);
  std::string s;
  for (int i = 0; i < w.count; i++)
    s += (i ? " " : "") + std::to_string(w.lines[i].start) + "-" + std::to_string(w.lines[i].end) + ":" +
         std::to_string(w.lines[i].width);
  return s;
}

TEST_F(FontTest, WrapBreaksAtTheLastBlankThatFits) {
  int id = mono("wrap", 0);
  // Room for two words and the blank after them: the break is that blank,
  // which is on no line.
  EXPECT_EQ(wrapped(id, "aaa bbb ccc", 85), "0-7:70 8-11:30");
  // Room for the two words only: the blank that does not fit still ends the
  // line after "bbb" rather than sending "bbb" down.
  EXPECT_EQ(wrapped(id, "aaa bbb ccc", 75), "0-7:70 8-11:30");
  // A word longer than the width is broken between characters.
  EXPECT_EQ(wrapped(id, "abcdefgh", 35), "0-3:30 3-6:30 6-8:20");
  // Newlines end lines; a blank at index 0 is never a break (the word is
  // broken inside instead).
  EXPECT_EQ(wrapped(id, " ab\ncd", 1000), "0-3:30 4-6:20");
  EXPECT_EQ(wrapped(id, " abcdef", 45), "0-4:40 4-7:30");
  // Margins count toward every line's width.
  font_set_margins(id, 0, 0.25f, 0, 0.25f);  // 5 + 5
  EXPECT_EQ(wrapped(id, "aaa bbb ccc", 75), "0-3:40 4-7:40 8-11:40");
}

TEST_F(FontTest, WrapIsBoundedByItsLineTable) {
  int id = mono("narrow", 0);
  FontWrap w;
  _font_wrap_calc(id, "abc", 5, w);  // narrower than one glyph
  ASSERT_EQ(w.count, FONT_WRAP_LINES);
  for (int i = 0; i < w.count; i++) EXPECT_EQ(w.lines[i].start, w.lines[i].end);
  std::string many(1000, '\n');
  _font_wrap_calc(id, many.c_str(), 0, w);
  EXPECT_EQ(w.count, FONT_WRAP_LINES);
  _font_wrap_calc(id, many.c_str(), 100, w);
  EXPECT_EQ(w.count, FONT_WRAP_LINES);
  EXPECT_EQ(wrapped(id, "a\nbc", 0), "0-1:10 2-4:20");
  _font_wrap_calc(0, "abc", 100, w);
  EXPECT_EQ(w.count, 0);
}

// ---- caret queries ----------------------------------------------------------------------------

TEST_F(FontTest, CaretBoxesAndNearestPositions) {
  int id = mono("caret", 0);
  const char* text = "aaa bbb ccc";
  // Line 0 "aaa bbb" (positions 0..7), line 1 "ccc" (8..11), left aligned in 75.
  GfxRect r = font_crect(id, text, 2, 75, -1);
  EXPECT_EQ(r.x, 20);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(r.w, 10);
  EXPECT_EQ(r.h, 20);
  r = font_crect(id, text, 9, 75, -1);
  EXPECT_EQ(r.x, 10);
  EXPECT_EQ(r.y, 20);
  r = font_crect(id, text, 11, 75, -1);  // at the end: nothing after it
  EXPECT_EQ(r.x, 30);
  EXPECT_EQ(r.y, 20);
  EXPECT_EQ(r.w, 0);
  r = font_crect(id, text, 500, 75, -1);  // beyond the text
  EXPECT_EQ(r.y, 20);
  EXPECT_EQ(r.w, 0);
  r = font_crect(id, text, 9, 75, 1);  // right aligned: 75 - 30 further
  EXPECT_EQ(r.x, 55);

  EXPECT_EQ(font_cnear(id, text, -50, 5, 75, -1), 0);    // left of line 0
  EXPECT_EQ(font_cnear(id, text, -50, 25, 75, -1), 8);   // left of line 1
  EXPECT_EQ(font_cnear(id, text, 22, 5, 75, -1), 2);
  EXPECT_EQ(font_cnear(id, text, 26, 5, 75, -1), 3);
  EXPECT_EQ(font_cnear(id, text, 25, 500, 75, -1), 10);  // below the last line
  EXPECT_EQ(font_cnear(id, text, 1000, 25, 75, -1), 11);
  EXPECT_EQ(font_cnear(id, "", 10, 10, 75, -1), 0);
  // Far-off points do not overflow the distance measure.
  EXPECT_EQ(font_cnear(id, text, 0, 100000, 75, -1), 8);
  GfxRect far = {0, 0, 0, 0};
  EXPECT_GT(_font_dist(far, 0, -2000000000), 0);
  EXPECT_EQ(_font_dist(far, 3, 0), 3);
}

TEST_F(FontTest, WithoutWrapEveryLineStartsWhereTheFirstDoes) {
  int id = mono("nowrap", 0);
  GfxRect r = font_crect(id, "ab\ncd", 4, 0, -1);
  EXPECT_EQ(r.x, 10);
  EXPECT_EQ(r.y, 20);
  EXPECT_EQ(font_cnear(id, "ab\ncd", 0, 25, 0, -1), 3);
}

// ---- hot reload ---------------------------------------------------------------------------------

TEST_F(FontTest, ChangedDescriptionReloadsOnceItHasBeenStill) {
  const int T = 1600000000;
  int id = mono("hot", 0);
  std::string file = data + "/hot.fnt";
  set_mtime(file, T);
  font_reload(id);
  _font_set_clock(test_clock);
  write_text(file, mono_font(20, 12));
  set_mtime(file, T + 50);
  g_now = T + 51;
  font_reload_auto();
  EXPECT_EQ(_font_get(id)->glyphs[(unsigned char)'a'].xadvance, 10);
  g_now = T + 52;
  font_reload_auto();
  EXPECT_EQ(_font_get(id)->glyphs[(unsigned char)'a'].xadvance, 12);
  EXPECT_EQ(_font_get(id)->mtime, T + 50);
}

// ---- drawing ------------------------------------------------------------------------------------

const int W = 320, H = 240;

class FontDrawTest : public FontTest {
 protected:
  void SetUp() override {
    FontTest::SetUp();
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    driver_deinit();
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_set_altdir(data.c_str());
    driver_video_init(W, H, W, H, 64, 64, 0);
    ASSERT_TRUE(_gfx_is_ready());
    gfx_init();
    gfx_set_size(W, H);
    gfx_set_scale(1);
    gfx_set_view(0, 0, W, H);
    gfx_gl_state_reset();
    gfx_clear();
    gfx_ortho();
  }

  void TearDown() override {
    gfx_deinit();
    FontTest::TearDown();
  }

  // The generated fonts from the game's data directory.
  int game_font(const char* name, int size) {
    for (const char* ext : {".fnt", ".png"}) {
      fs::copy_file(std::string(Z2_DATA_DIR) + "/" + name + ext, data + "/" + name + ext,
                    fs::copy_options::overwrite_existing);
    }
    return font_load(name, size);
  }

  struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // inclusive ink bounds
    bool empty() const { return x1 < 0; }
  };

  static std::vector<unsigned char> pixels() {
    std::vector<unsigned char> p((size_t)W * H * 4);
    glFinish();
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
    return p;
  }

  static Box ink(int x0, int y0, int x1, int y1) {
    std::vector<unsigned char> p = pixels();
    Box b;
    for (int y = y0; y < y1; y++)
      for (int x = x0; x < x1; x++) {
        const unsigned char* q = &p[((size_t)(H - 1 - y) * W + x) * 4];
        if (q[0] < 64 && q[1] < 64 && q[2] < 64) continue;
        b.x0 = std::min(b.x0, x);
        b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x);
        b.y1 = std::max(b.y1, y);
      }
    return b;
  }
};

TEST_F(FontDrawTest, TextCoversTheAreaItsMeasuresGive) {
  for (const char* name : {"font", "font-gui", "font-gui2", "font-play", "font-outline", "font-console"}) {
    SCOPED_TRACE(name);
    gfx_clear();
    int id = game_font(name, 40);
    ASSERT_NE(id, 0);
    font_set_margins(id, 0.0625f, 0.0625f, -0.0625f, -0.0625f);
    const char* text = "Hello World";
    float w = font_get_width(id, text), h = font_get_height(id, text, 0);
    EXPECT_EQ(h, 40);
    EXPECT_GT(w, 150);
    font_draw(id, text, 20, 30, 0, -1);
    Box b = ink(0, 0, W, H);
    ASSERT_FALSE(b.empty());
    // Inside the measured box, and reaching close to all four of its sides.
    EXPECT_GE(b.x0, 20 - 4);
    EXPECT_LE(b.x0, 20 + 6);
    EXPECT_LE(b.x1, 20 + w);
    EXPECT_GE(b.x1, 20 + w - 10);
    EXPECT_GE(b.y0, 30);
    EXPECT_LE(b.y0, 30 + 12);
    EXPECT_LT(b.y1, 30 + h);
    EXPECT_GE(b.y1, 30 + h - 16);
  }
}

TEST_F(FontDrawTest, SmallerSizesScaleTheSameGlyphs) {
  int big = game_font("font", 40);
  int small = font_load("font", 20);
  EXPECT_EQ(_font_get(big)->tex, _font_get(small)->tex);
  float wb = font_get_width(big, "Zentar"), ws = font_get_width(small, "Zentar");
  EXPECT_NEAR(ws, wb / 2, 1.5);
  font_draw(small, "Zentar", 10, 10, 0, -1);
  Box b = ink(0, 0, W, H);
  ASSERT_FALSE(b.empty());
  EXPECT_LE(b.x1, 10 + ws);
  EXPECT_LT(b.y1, 10 + 20);
}

// A small window shows the logical screen shrunk: thin glyphs ("i", ".")
// come out narrower than a pixel there, and each must still show wherever
// it lands between pixels.
TEST_F(FontDrawTest, ThinGlyphsShowAtEverySizeAndPlace) {
  const char* thin = "il.,:;'!|-I1j";
  for (const char* name : {"font", "font-gui", "font-gui2", "font-play", "font-outline", "font-console"}) {
    for (float scale : {0.625f, 0.5f}) {
      for (int size : {12, 16, 20, 28}) {
        SCOPED_TRACE(std::string(name) + " scale " + std::to_string(scale) + " size " + std::to_string(size));
        gfx_set_scale(scale);
        gfx_ortho();
        gfx_clear();
        int id = game_font(name, size);
        ASSERT_NE(id, 0);
        const FontInfo* f = _font_get(id);
        // Screen pixel of a logical point, as gfx_ortho maps it.
        auto sx = [&](float x) { return W / 2 + scale * (x - W / 2); };
        auto sy = [&](float y) { return H / 2 + scale * (y - H / 2); };
        struct Spot {
          float x0, y0, x1, y1;
          char c;
        };
        std::vector<Spot> spots;
        // Each glyph at several fractions of a pixel, far enough apart.
        float step = 13.0f / scale + 0.37f, row = 40.0f / scale;
        float y = 2;
        for (int k = 0; k < 7; k++, y += row / 2 + 0.29f) {
          float x = 2 + 0.23f * k;
          for (const char* c = thin; *c; c++, x += step) {
            char one[2] = {*c, 0};
            font_draw(id, one, x, y, 0, -1);
            const GfxRect& r = f->rects[(unsigned char)*c];
            const FontGlyph& g = f->glyphs[(unsigned char)*c];
            float gx = x + g.xoffset * f->scale, gy = y + g.yoffset * f->scale;
            spots.push_back(Spot{sx(gx), sy(gy), sx(gx + r.w * f->scale), sy(gy + r.h * f->scale), *c});
          }
        }
        std::vector<unsigned char> p = pixels();
        int missing = 0;
        for (const Spot& s : spots) {
          // So small a glyph is faint, but some pixel of its box must be lit.
          int most = 0;
          for (int py = std::max((int)std::floor(s.y0) - 1, 0); py < std::min((int)std::ceil(s.y1) + 1, H); py++)
            for (int px = std::max((int)std::floor(s.x0) - 1, 0); px < std::min((int)std::ceil(s.x1) + 1, W); px++)
              most = std::max(most, (int)p[((size_t)(H - 1 - py) * W + px) * 4]);
          if (most < 16) {
            missing++;
            ADD_FAILURE() << "'" << s.c << "' at " << s.x0 << "," << s.y0 << " shows nothing";
          }
        }
        if (missing) return;
      }
    }
  }
}

TEST_F(FontDrawTest, WrappedTextBreaksAtTheBlankAndStaysInsideTheWidth) {
  int id = game_font("font-gui", 20);
  const char* text = "alpha beta gamma";
  float wrap = font_get_width(id, "alpha beta") + 4;
  FontWrap w;
  _font_wrap_calc(id, text, wrap, w);
  ASSERT_EQ(w.count, 2);
  EXPECT_EQ(w.lines[0].end, 10);
  EXPECT_EQ(w.lines[1].start, 11);
  EXPECT_EQ(font_get_height(id, text, wrap), 40);

  font_draw(id, text, 10, 100, wrap, -1);
  Box l0 = ink(0, 100, W, 120), l1 = ink(0, 120, W, 140);
  ASSERT_FALSE(l0.empty());
  ASSERT_FALSE(l1.empty());
  EXPECT_LE(l0.x1, 10 + wrap);
  EXPECT_GE(l0.x1, 10 + w.lines[0].width - 6);
  EXPECT_LE(l1.x1, 10 + font_get_width(id, "gamma"));
  EXPECT_TRUE(ink(0, 140, W, H).empty());

  // Right aligned: each line ends at the right edge of the wrap box.
  gfx_clear();
  font_draw(id, text, 10, 100, wrap, 1);
  Box r1 = ink(0, 120, W, 140);
  EXPECT_GE(r1.x0, 10 + wrap - font_get_width(id, "gamma") - 2);
  EXPECT_LE(r1.x1, 10 + wrap);
}

TEST_F(FontDrawTest, LongLinesAreDrawnInBatchesAndClipped) {
  // A tiny font: every glyph a 2 x 4 block of the picture, one unit apart.
  std::vector<unsigned char> white(64 * 64 * 4, 255);
  ASSERT_TRUE(stbi_write_png((data + "/tiny.png").c_str(), 64, 64, 4, white.data(), 64 * 4));
  write_text(data + "/tiny.fnt", "common lineHeight=4 scaleW=0 scaleH=0\nchar id=120 x=0 y=0 width=2 height=4 xadvance=1\n");
  int id = font_load("tiny", 0);
  ASSERT_NE(id, 0);
  std::string line(300, 'x');
  font_draw(id, line.c_str(), 5, 50, 0, -1);
  Box b = ink(0, 40, W, 60);
  EXPECT_EQ(b.x0, 5);
  EXPECT_EQ(b.x1, 5 + 299 + 1);
  EXPECT_EQ(b.y0, 50);
  EXPECT_EQ(b.y1, 53);

  // Clipped: only what lies inside is drawn.
  gfx_clear();
  gfx_clip(100, 0, 50, H);
  font_draw(id, line.c_str(), 5, 50, 0, -1);
  _font_draw(id, line.c_str(), 5, 70);
  gfx_unclip();
  b = ink(0, 0, W, H);
  EXPECT_EQ(b.x0, 100);
  EXPECT_EQ(b.x1, 149);
  EXPECT_EQ(b.y1, 73);

  // Font 0 and a missing font draw nothing.
  gfx_clear();
  font_draw(0, "xxx", 5, 5, 0, -1);
  font_draw(font_load("missing", 10), "xxx", 5, 5, 0, -1);
  EXPECT_TRUE(ink(0, 0, W, H).empty());
}

}  // namespace
