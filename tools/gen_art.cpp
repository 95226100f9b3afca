// gen_art: draws the game's fonts, window icon and GUI pictures.
//
//   gen_art [out_dir] [ttf_dir]   (defaults "data", "/usr/share/fonts/truetype/dejavu")
//
// Fonts: each "<name>.png" holds white glyphs (an outline, where there is
// one, in black) for the bytes 32..126 and 160..255 read as Latin-1, and
// "<name>.fnt" describes them, one "char" line a glyph:
//   common lineHeight=<px> base=<px> scaleW=<png w> scaleH=<png h>
//   char id=<byte> x= y= width= height= xoffset= yoffset= xadvance=
// xoffset/yoffset place the glyph's box relative to the pen and the line's
// top. The faces are DejaVu (fonts-dejavu-core), rendered with stb_truetype.
//
// GUI pictures are 48 x 48 nine-slice boxes (each third a corner, edge or
// middle), each its own "gui-*.png" file. "icon.png" is the window icon.
// Everything is drawn from plain shapes and gradients.
//
// Planet pictures: "planet-tex0".."planet-tex4" (sphere surface maps),
// "planet-aura" (the halo sprite) and "black", drawn from hashed noise.
//
// Sprites and icons: the match's glows, lines, markers and rank badges
// ("flag1".."flag15", "wings1".., "stars1"..), the map's pictures ("map-*",
// "ship"), the menu icons ("icon-*"), chat and slider pictures, more nine-slice
// "gui-*" boxes (outside the atlas), the start-up "logo" and the match
// backgrounds "background01".."background05" (JPEG, opaque).
#include <stb_image_write.h>  // PNG output; the implementation lives in libstb
#include <stb_truetype.h>     // glyph rasterising; likewise

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// ---- pictures ----------------------------------------------------------------------

struct Rgba {
  float r, g, b, a;  // straight (not premultiplied), 0..1
};

// Premultiplied float pixels, so that layers compose with plain "over".
struct Picture {
  int w = 0, h = 0;
  std::vector<float> px;  // r, g, b, a premultiplied

  Picture(int w_, int h_) : w(w_), h(h_), px((size_t)w_ * h_ * 4, 0.0f) {}

  void over(int x, int y, Rgba c, float cover) {
    if (x < 0 || y < 0 || x >= w || y >= h || cover <= 0) return;
    float a = c.a * std::min(cover, 1.0f);
    float* p = &px[((size_t)y * w + x) * 4];
    p[0] = c.r * a + p[0] * (1 - a);
    p[1] = c.g * a + p[1] * (1 - a);
    p[2] = c.b * a + p[2] * (1 - a);
    p[3] = a + p[3] * (1 - a);
  }
};

bool write_png(const std::string& path, const Picture& p) {
  std::vector<uint8_t> out((size_t)p.w * p.h * 4);
  for (size_t i = 0; i < (size_t)p.w * p.h; i++) {
    float a = p.px[i * 4 + 3];
    for (int c = 0; c < 3; c++) {
      float v = a > 0 ? p.px[i * 4 + c] / a : 0.0f;
      out[i * 4 + c] = (uint8_t)std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f);
    }
    out[i * 4 + 3] = (uint8_t)std::lround(std::clamp(a, 0.0f, 1.0f) * 255.0f);
  }
  if (!stbi_write_png(path.c_str(), p.w, p.h, 4, out.data(), p.w * 4)) {
    fprintf(stderr, "gen_art: cannot write %s\n", path.c_str());
    return false;
  }
  printf("%s: %d x %d\n", path.c_str(), p.w, p.h);
  return true;
}

bool write_text(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "gen_art: cannot write %s\n", path.c_str());
    return false;
  }
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  ok &= fclose(f) == 0;
  printf("%s: %zu bytes\n", path.c_str(), text.size());
  return ok;
}

int pow2_at_least(int n) {
  int p = 64;
  while (p < n) p *= 2;
  return p;
}

Rgba mix(Rgba a, Rgba b, float t) {
  return Rgba{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Rgba hex(uint32_t rgb, float a = 1.0f) {
  return Rgba{((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, a};
}

// ---- fonts ----------------------------------------------------------------------------

struct FontStyle {
  const char* name;     // data name
  const char* ttf;      // DejaVu face file
  int line;             // line height in pixels
  int outline;          // black outline radius in pixels, 0 for none
  float narrow = 1;     // width of the letters against their height
};

struct Glyph {
  int id = 0;
  int w = 0, h = 0;           // bitmap size with outline padding
  int xoff = 0, yoff = 0;     // from pen / line top
  int adv = 0;
  std::vector<float> fill;    // white coverage
  std::vector<float> edge;    // outline coverage
  int x = 0, y = 0;           // place in the sheet
};

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> data;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return data;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) data.insert(data.end(), buf, buf + n);
  fclose(f);
  return data;
}

// Coverage grown by a disc of radius r: the outline under the glyph.
std::vector<float> dilate(const std::vector<float>& src, int w, int h, int r) {
  std::vector<float> out(src.size(), 0.0f);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      float best = 0;
      for (int dy = -r - 1; dy <= r + 1; dy++)
        for (int dx = -r - 1; dx <= r + 1; dx++) {
          int sx = x + dx, sy = y + dy;
          if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
          float d = std::sqrt((float)(dx * dx + dy * dy));
          float k = std::clamp(r + 0.5f - d, 0.0f, 1.0f);  // soft rim of the disc
          best = std::max(best, src[(size_t)sy * w + sx] * k);
        }
      out[(size_t)y * w + x] = best;
    }
  return out;
}

bool make_font(const std::string& out, const std::string& ttf_dir, const FontStyle& st) {
  std::vector<uint8_t> ttf = read_file(ttf_dir + "/" + st.ttf);
  stbtt_fontinfo info;
  if (ttf.empty() || !stbtt_InitFont(&info, ttf.data(), stbtt_GetFontOffsetForIndex(ttf.data(), 0))) {
    fprintf(stderr, "gen_art: cannot read %s/%s\n", ttf_dir.c_str(), st.ttf);
    return false;
  }
  const int pad = st.outline;
  int ascent, descent, line_gap;
  stbtt_GetFontVMetrics(&info, &ascent, &descent, &line_gap);
  // The lowest ink of any glyph: the underscore reaches below the descent.
  int lowest = descent;
  for (int c = 32; c < 256; c++) {
    int cp = c == 160 ? ' ' : c, x0, y0, x1, y1;
    if ((c < 127 || c >= 160) && stbtt_FindGlyphIndex(&info, cp) && stbtt_GetCodepointBox(&info, cp, &x0, &y0, &x1, &y1))
      lowest = std::min(lowest, y0);
  }
  // The menus draw text a sixteenth of a line below the top of a box one
  // line high (the fonts' top margin), so the ink from the ascent down to
  // the lowest glyph, with its outline and one pixel of soft edge, fills the
  // upper fifteen sixteenths: nothing hangs below the box to be cut off.
  float room = st.line * 15.0f / 16.0f - 2 * pad - 1;
  float scale = room / (float)(ascent - lowest);
  int base = pad + (int)std::floor(ascent * scale);
  float sx = scale * st.narrow;

  std::vector<Glyph> glyphs;
  for (int c = 32; c < 256; c++) {
    if (c >= 127 && c < 160) continue;  // C1 controls have no picture
    int cp = c == 160 ? ' ' : c;        // Latin-1: the byte is the code point
    if (!stbtt_FindGlyphIndex(&info, cp)) continue;
    Glyph g;
    g.id = c;
    int adv, lsb;
    stbtt_GetCodepointHMetrics(&info, cp, &adv, &lsb);
    g.adv = (int)std::lround(adv * sx);
    int x0, y0, x1, y1;
    stbtt_GetCodepointBitmapBox(&info, cp, sx, scale, &x0, &y0, &x1, &y1);
    int bw = x1 - x0, bh = y1 - y0;
    if (bw > 0 && bh > 0) {
      g.w = bw + 2 * pad;
      g.h = bh + 2 * pad;
      g.xoff = x0 - pad;
      g.yoff = base + y0 - pad;
      std::vector<uint8_t> bm((size_t)bw * bh);
      stbtt_MakeCodepointBitmap(&info, bm.data(), bw, bh, bw, sx, scale, cp);
      g.fill.assign((size_t)g.w * g.h, 0.0f);
      for (int y = 0; y < bh; y++)
        for (int x = 0; x < bw; x++) g.fill[(size_t)(y + pad) * g.w + x + pad] = bm[(size_t)y * bw + x] / 255.0f;
      g.edge = pad ? dilate(g.fill, g.w, g.h, pad) : g.fill;
    }
    glyphs.push_back(std::move(g));
  }

  // Shelf packing; the gap keeps neighbours apart in the smaller mipmaps.
  const int sheet_w = 512, gap = 4;
  int x = gap, y = gap, shelf = 0;
  for (Glyph& g : glyphs) {
    if (!g.w) continue;
    if (x + g.w + gap > sheet_w) {
      x = gap;
      y += shelf + gap;
      shelf = 0;
    }
    g.x = x;
    g.y = y;
    x += g.w + gap;
    shelf = std::max(shelf, g.h);
  }
  int sheet_h = pow2_at_least(y + shelf + gap);

  Picture pic(sheet_w, sheet_h);
  const Rgba white = {1, 1, 1, 1}, black = {0, 0, 0, 1};
  for (const Glyph& g : glyphs)
    for (int gy = 0; gy < g.h; gy++)
      for (int gx = 0; gx < g.w; gx++) {
        size_t i = (size_t)gy * g.w + gx;
        if (pad) pic.over(g.x + gx, g.y + gy, black, g.edge[i]);
        pic.over(g.x + gx, g.y + gy, white, g.fill[i]);
      }

  std::string fnt;
  char line[256];
  snprintf(line, sizeof(line), "info face=%s size=%d outline=%d\n", st.ttf, st.line, st.outline);
  fnt += line;
  snprintf(line, sizeof(line), "common lineHeight=%d base=%d scaleW=%d scaleH=%d pages=1\n", st.line, base, sheet_w,
           sheet_h);
  fnt += line;
  snprintf(line, sizeof(line), "chars count=%zu\n", glyphs.size());
  fnt += line;
  for (const Glyph& g : glyphs) {
    snprintf(line, sizeof(line), "char id=%d x=%d y=%d width=%d height=%d xoffset=%d yoffset=%d xadvance=%d\n", g.id,
             g.x, g.y, g.w, g.h, g.xoff, g.yoff, g.adv);
    fnt += line;
  }
  return write_png(out + "/" + st.name + ".png", pic) && write_text(out + "/" + st.name + ".fnt", fnt);
}

// ---- shapes ---------------------------------------------------------------------------

// Signed distance to a rounded box (negative inside); corner radii differ
// above and below the middle.
float rbox_dist(float px, float py, float x0, float y0, float x1, float y1, float rtop, float rbot) {
  float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  float r = py < cy ? rtop : rbot;
  float qx = std::fabs(px - cx) - ((x1 - x0) / 2 - r);
  float qy = std::fabs(py - cy) - ((y1 - y0) / 2 - r);
  float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - r;
}

// Pixel coverage of a rounded box, 4 x 4 samples a pixel.
float rbox_cover(int x, int y, float x0, float y0, float x1, float y1, float rtop, float rbot) {
  int in = 0;
  for (int sy = 0; sy < 4; sy++)
    for (int sx = 0; sx < 4; sx++)
      if (rbox_dist(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4, x0, y0, x1, y1, rtop, rbot) < 0) in++;
  return in / 16.0f;
}

struct Panel {
  float inset;       // empty margin around the shape
  float rtop, rbot;  // corner radii
  float border;      // rim width
  Rgba rim;          // rim colour
  Rgba top, bottom;  // fill gradient
  float gloss;       // white sheen over the upper half, 0..1
};

void draw_panel(Picture& p, const Panel& s, float y0 = -1, float y1 = -1) {
  float x0 = s.inset, x1 = p.w - s.inset;
  if (y0 < 0) y0 = s.inset;
  if (y1 < 0) y1 = p.h - s.inset;
  float b = s.border;
  for (int y = 0; y < p.h; y++)
    for (int x = 0; x < p.w; x++) {
      float outer = rbox_cover(x, y, x0, y0, x1, y1, s.rtop, s.rbot);
      if (outer <= 0) continue;
      float inner = rbox_cover(x, y, x0 + b, y0 + b, x1 - b, y1 - b, std::max(s.rtop - b, 0.0f),
                               std::max(s.rbot - b, 0.0f));
      float t = std::clamp((y + 0.5f - y0) / (y1 - y0), 0.0f, 1.0f);
      Rgba fill = mix(s.top, s.bottom, t);
      if (s.gloss > 0 && t < 0.5f) fill = mix(fill, Rgba{1, 1, 1, fill.a}, s.gloss * (0.5f - t));
      // Rim and fill blend across the inner edge; the shape's edge fades out.
      Rgba c = {s.rim.r * s.rim.a * (1 - inner) + fill.r * fill.a * inner,
                s.rim.g * s.rim.a * (1 - inner) + fill.g * fill.a * inner,
                s.rim.b * s.rim.a * (1 - inner) + fill.b * fill.a * inner, s.rim.a * (1 - inner) + fill.a * inner};
      if (c.a <= 0) continue;
      p.over(x, y, Rgba{c.r / c.a, c.g / c.a, c.b / c.a, c.a}, outer);
    }
}

// ---- GUI pictures ---------------------------------------------------------------------

struct GuiPicture {
  std::string name;
  Picture pic;
};

Panel plain(uint32_t rim, uint32_t top, uint32_t bottom, float alpha, float r = 10, float gloss = 0) {
  return Panel{1, r, r, 2, hex(rim), hex(top, alpha), hex(bottom, alpha), gloss};
}

// The hover/focus layer: a bright rim and a faint glow inside, nothing else.
Panel overlay(uint32_t rim, float r = 10) { return Panel{1, r, r, 3, hex(rim), hex(rim, 0.18f), hex(rim, 0.05f), 0}; }

std::vector<GuiPicture> make_gui() {
  std::vector<GuiPicture> out;
  auto add = [&](const std::string& name, const Panel& s) {
    Picture p(48, 48);
    draw_panel(p, s);
    out.push_back({name, std::move(p)});
  };
  // Panels.
  add("gui-box1", plain(0x5a7fb0, 0x1c2a44, 0x111a2c, 0.92f));
  add("gui-box2", plain(0x3b5275, 0x121a2a, 0x0b111c, 0.95f));
  add("gui-box3", plain(0x8fb3e0, 0x2a3e60, 0x1a2740, 0.92f));
  add("gui-header", Panel{1, 10, 2, 2, hex(0x8fb3e0), hex(0x3d6aa8), hex(0x264a7c), 0.5f});
  add("gui-error", plain(0xe07070, 0x5a1c1c, 0x3a1010, 0.95f));
  add("gui-alert", plain(0xffb0a0, 0xe04838, 0xb02818, 1.0f, 14, 0.4f));
  // Buttons: blue, green, red; the icon buttons are rounder.
  add("gui-button1", plain(0x9cc4ff, 0x3f7fd0, 0x23508e, 1.0f, 10, 0.5f));
  add("gui-button2", plain(0xa8f0b0, 0x3aa850, 0x1f6e30, 1.0f, 10, 0.5f));
  add("gui-button3", plain(0xffb8a8, 0xd05040, 0x8c2a20, 1.0f, 10, 0.5f));
  add("gui-ibutton1", plain(0x9cc4ff, 0x3f7fd0, 0x23508e, 1.0f, 15, 0.5f));
  add("gui-ibutton2", plain(0xa8f0b0, 0x3aa850, 0x1f6e30, 1.0f, 15, 0.5f));
  add("gui-ibutton3", plain(0xffb8a8, 0xd05040, 0x8c2a20, 1.0f, 15, 0.5f));
  for (const char* b : {"gui-button1o", "gui-button2o", "gui-button3o"}) add(b, overlay(0xffffff));
  for (const char* b : {"gui-ibutton1o", "gui-ibutton2o", "gui-ibutton3o"}) add(b, overlay(0xffffff, 15));
  // Text entry.
  add("gui-input1", plain(0x6a7f9c, 0x06090f, 0x101826, 0.95f, 6));
  add("gui-input1o", overlay(0x9cc4ff, 6));
  // Toggles and check boxes: off grey, on green.
  add("gui-toggle0", plain(0x8a96a8, 0x3a4454, 0x262e3a, 1.0f, 10, 0.3f));
  add("gui-toggle1", plain(0xb8f5c0, 0x46c060, 0x24803a, 1.0f, 10, 0.4f));
  add("gui-toggle0o", overlay(0xffffff));
  add("gui-toggle1o", overlay(0xffffff));
  // Tabs: rounded above, square below.
  add("gui-tab0", Panel{1, 10, 1, 2, hex(0x3b5275), hex(0x1c2a44), hex(0x121a2a), 0});
  add("gui-tab1", Panel{1, 10, 1, 2, hex(0x9cc4ff), hex(0x3f7fd0), hex(0x2a5a9a), 0.4f});
  add("gui-tabx", Panel{1, 10, 1, 2, hex(0xffb8a8), hex(0xb04838), hex(0x7a2a20), 0.3f});
  for (const char* t : {"gui-tab0o", "gui-tab1o", "gui-tabxo"}) add(t, Panel{1, 10, 1, 3, hex(0xffffff), hex(0xffffff, 0.15f), hex(0xffffff, 0.0f), 0});
  // Lists and small option boxes.
  add("gui-list1", plain(0x2e4260, 0x172236, 0x131c2c, 0.9f, 6));
  add("gui-list3", plain(0x6a8fc0, 0x284068, 0x1e3050, 0.95f, 6));
  add("gui-option0", plain(0x6a7f9c, 0x1a2230, 0x121822, 1.0f, 8));
  add("gui-option1", plain(0x9cc4ff, 0x3f7fd0, 0x23508e, 1.0f, 8, 0.4f));
  add("gui-tiny1", plain(0x9cc4ff, 0x3f7fd0, 0x23508e, 1.0f, 6, 0.4f));
  add("gui-tiny3", plain(0xffb8a8, 0xd05040, 0x8c2a20, 1.0f, 6, 0.4f));
  for (const char* o : {"gui-list1o", "gui-list3o", "gui-option0o", "gui-option1o"}) add(o, overlay(0xffffff, 6));
  for (const char* o : {"gui-tiny1o", "gui-tiny3o"}) add(o, overlay(0xffffff, 6));
  // Scroll bar: track and thumb.
  add("gui-scroll1", plain(0x2e4260, 0x0c1220, 0x0c1220, 0.8f, 8));
  add("gui-scroll2", plain(0x9cc4ff, 0x4a74aa, 0x33567f, 1.0f, 8, 0.3f));
  add("gui-scroll2o", overlay(0xffffff, 8));
  // Slider: a thin track across the middle, and a square knob.
  {
    Picture p(48, 48);
    draw_panel(p, plain(0x5a7fb0, 0x0c1220, 0x1c2a44, 1.0f, 5), 18, 30);
    out.push_back({"gui-slider1", std::move(p)});
  }
  add("gui-slider2", plain(0xffffff, 0xdde8f8, 0x8ea6c8, 1.0f, 12, 0.3f));
  add("gui-slider2o", plain(0xffffff, 0xffffff, 0xb8cce8, 1.0f, 12, 0.3f));
  return out;
}

// ---- icon ----------------------------------------------------------------------------

// A lit planet with a ring and a small moon.
Picture make_icon() {
  const int n = 64;
  Picture p(n, n);
  const float cx = 32, cy = 32, r = 20;
  auto ring = [&](bool front) {
    for (int y = 0; y < n; y++)
      for (int x = 0; x < n; x++) {
        int in = 0;
        for (int s = 0; s < 16; s++) {
          float sx = x + (s % 4 + 0.5f) / 4 - cx, sy = y + (s / 4 + 0.5f) / 4 - cy;
          // Ellipse tilted by 20 degrees, 29 x 9.
          float c = std::cos(0.35f), sn = std::sin(0.35f);
          float u = sx * c + sy * sn, v = -sx * sn + sy * c;
          float d = std::sqrt((u / 29) * (u / 29) + (v / 9) * (v / 9));
          if (d > 0.86f && d < 1.0f && ((v > 0) == front)) in++;
        }
        p.over(x, y, hex(0xf0d890), in / 16.0f);
      }
  };
  ring(false);
  for (int y = 0; y < n; y++)
    for (int x = 0; x < n; x++) {
      int in = 0;
      for (int s = 0; s < 16; s++) {
        float sx = x + (s % 4 + 0.5f) / 4 - cx, sy = y + (s / 4 + 0.5f) / 4 - cy;
        if (sx * sx + sy * sy < r * r) in++;
      }
      if (!in) continue;
      float dx = (x + 0.5f - cx) / r, dy = (y + 0.5f - cy) / r;
      float dz = std::sqrt(std::max(0.0f, 1 - dx * dx - dy * dy));
      float light = std::clamp(-0.5f * dx - 0.6f * dy + 0.62f * dz, 0.0f, 1.0f);
      Rgba c = mix(hex(0x10306a), hex(0x64b4ff), light);
      p.over(x, y, c, in / 16.0f);
    }
  ring(true);
  for (int y = 0; y < n; y++)
    for (int x = 0; x < n; x++) {
      float dx = x + 0.5f - 53, dy = y + 0.5f - 11;
      float d = std::sqrt(dx * dx + dy * dy);
      p.over(x, y, hex(0xdde4ee), std::clamp(4.5f - d, 0.0f, 1.0f));
    }
  return p;
}

// ---- planets ---------------------------------------------------------------------------

// Surface maps for the lit spheres: 128 x 64, longitude across (seamless at
// the left and right edges), latitude down. They are light greys and blues
// because the sphere's lights bring the owner's colour; the additive layers
// (ice, lava glow) are dark wherever they should leave the surface below.

float hash01(int x, int y, int seed) {
  uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u + (uint32_t)seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return ((h ^ (h >> 16)) & 0xffffff) / 16777216.0f;
}

// Smooth value noise on a grid of `cells` columns that wraps across x.
float vnoise(float x, float y, int cells, int seed) {
  int x0 = (int)std::floor(x), y0 = (int)std::floor(y);
  float fx = x - x0, fy = y - y0;
  fx = fx * fx * (3 - 2 * fx);
  fy = fy * fy * (3 - 2 * fy);
  auto at = [&](int ix, int iy) { return hash01(((ix % cells) + cells) % cells, iy, seed); };
  float a = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
  float b = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
  return a + (b - a) * fy;
}

// Octaves of value noise at texel (u, v) of a w-wide map; about 0..1.
float fbm(float u, float v, int w, int base_cells, int octaves, int seed) {
  float sum = 0, amp = 0.5f, norm = 0;
  int cells = base_cells;
  for (int o = 0; o < octaves; o++) {
    float k = (float)cells / w;
    sum += amp * vnoise(u * k, v * k, cells, seed + o * 101);
    norm += amp;
    amp *= 0.5f;
    cells *= 2;
  }
  return sum / norm;
}

Picture surface(int w, int h, const std::function<Rgba(float u, float v)>& at) {
  Picture p(w, h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) p.over(x, y, at(x + 0.5f, y + 0.5f), 1.0f);
  return p;
}

// Crater shading at (u, v): a dark bowl with a bright rim; 0 far from any.
float craters(float u, float v, int w, int h, int count, int seed) {
  float shade = 0;
  for (int i = 0; i < count; i++) {
    float cx = hash01(i, 1, seed) * w, cy = h * (0.15f + 0.7f * hash01(i, 2, seed));
    float r = 2.0f + 6.0f * hash01(i, 3, seed) * hash01(i, 4, seed);
    float dx = std::fabs(u - cx);
    dx = std::min(dx, w - dx);  // wraps across the seam
    float d = std::sqrt(dx * dx + (v - cy) * (v - cy)) / r;
    if (d < 0.85f) shade -= 0.22f * (1 - d * d);
    else if (d < 1.15f) shade += 0.16f * (1 - std::fabs(d - 1) / 0.15f);
  }
  return shade;
}

std::vector<std::pair<std::string, Picture>> make_planets() {
  const int W = 128, H = 64;
  std::vector<std::pair<std::string, Picture>> out;
  // Rocky, the default: mottled grey with craters.
  out.push_back({"planet-tex0", surface(W, H, [&](float u, float v) {
                   float n = fbm(u, v, W, 8, 4, 11);
                   float l = std::clamp(0.62f + 0.45f * (n - 0.5f) + craters(u, v, W, H, 14, 5), 0.35f, 1.0f);
                   return mix(hex(0x8a8680), hex(0xf4f0ea), l);
                 })});
  // Neutral: dull, pale and heavily cratered.
  out.push_back({"planet-tex1", surface(W, H, [&](float u, float v) {
                   float n = fbm(u, v, W, 16, 3, 23);
                   float l = std::clamp(0.7f + 0.25f * (n - 0.5f) + craters(u, v, W, H, 26, 9), 0.4f, 1.0f);
                   return mix(hex(0x808080), hex(0xe8e8e8), l);
                 })});
  // Gas giant: wavy latitude bands.
  out.push_back({"planet-tex2", surface(W, H, [&](float u, float v) {
                   float warp = 3.0f * (fbm(u, v, W, 8, 3, 37) - 0.5f);
                   float band = 0.5f + 0.5f * std::sin((v + warp) * 0.55f) * std::cos((v + warp) * 0.19f);
                   float l = std::clamp(0.55f + 0.4f * band + 0.1f * (fbm(u, v, W, 32, 2, 41) - 0.5f), 0.0f, 1.0f);
                   return mix(hex(0x6e6258), hex(0xfaf4ea), l);
                 })});
  // Ice, drawn additively: bright caps and frost over dark, cracked water.
  out.push_back({"planet-tex3", surface(W, H, [&](float u, float v) {
                   float lat = std::fabs(v / H - 0.5f) * 2;  // 0 equator, 1 poles
                   float frost = fbm(u, v, W, 16, 4, 53);
                   float crack = std::fabs(fbm(u, v, W, 8, 3, 59) - 0.5f);
                   float l = std::clamp(0.3f + 0.5f * frost + 0.9f * std::max(0.0f, lat - 0.6f) * 2.5f -
                                            (crack < 0.03f ? 0.25f : 0.0f),
                                        0.05f, 1.0f);
                   return mix(hex(0x0a1420), hex(0xeef6ff), l);
                 })});
  // Lava glow, drawn additively over the rock: black but for hot cracks.
  out.push_back({"planet-tex4", surface(W, H, [&](float u, float v) {
                   float ridge = 1 - std::fabs(fbm(u, v, W, 8, 4, 71) - 0.5f) * 2;  // 1 on the crack lines
                   float glow = std::clamp((ridge - 0.82f) / 0.18f, 0.0f, 1.0f);
                   return mix(hex(0x000000), hex(0xffffff), glow * glow);
                 })});
  // The aura sprite: a soft halo just outside the sphere. The sprite's box is
  // 3.875 planet radii wide, so the sphere's rim lies 128 / 3.875 = 33 texels out.
  Picture aura(128, 128);
  const float rim = 128 / 3.875f;
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) {
      float d = std::sqrt((x + 0.5f - 64) * (x + 0.5f - 64) + (y + 0.5f - 64) * (y + 0.5f - 64)) / rim;
      float a = d < 0.94f ? 0 : d < 1.04f ? (d - 0.94f) / 0.1f : std::max(0.0f, 1 - (d - 1.04f) / 0.86f);
      aura.over(x, y, hex(0xffffff, 0.75f * a * a), 1.0f);
    }
  out.push_back({"planet-aura", aura});
  // Plain black, stretched by dimming overlays and scan lines.
  Picture black(4, 4);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) black.over(x, y, hex(0x000000), 1.0f);
  out.push_back({"black", black});
  return out;
}


// ---- sprites, icons and badges -----------------------------------------------------------

// Pictures for the match, the menus and the map. Anything drawn with raw
// texture coordinates over the whole texture ("line", "white", "star",
// particles, box corners) is a power of two of at least 64 a side, so no
// padding shows. Glows and lines are white: the game tints them.

float smooth01(float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

// Coverage from a signed distance in pixels (negative inside).
float edge(float d) { return std::clamp(0.5f - d, 0.0f, 1.0f); }

float seg_dist(float px, float py, float ax, float ay, float bx, float by) {
  float dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
  float t = len2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0f, 1.0f) : 0.0f;
  float qx = px - ax - t * dx, qy = py - ay - t * dy;
  return std::sqrt(qx * qx + qy * qy);
}

bool in_poly(float x, float y, const std::vector<std::pair<float, float>>& pts) {
  bool in = false;
  for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
    auto [xi, yi] = pts[i];
    auto [xj, yj] = pts[j];
    if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
  }
  return in;
}

float poly_cover(int x, int y, const std::vector<std::pair<float, float>>& pts) {
  int in = 0;
  for (int s = 0; s < 16; s++) in += in_poly(x + (s % 4 + 0.5f) / 4, y + (s / 4 + 0.5f) / 4, pts);
  return in / 16.0f;
}

// Every pixel takes the colour f gives at its centre.
void paint(Picture& p, const std::function<Rgba(float x, float y)>& f) {
  for (int y = 0; y < p.h; y++)
    for (int x = 0; x < p.w; x++) {
      Rgba c = f(x + 0.5f, y + 0.5f);
      if (c.a > 0) p.over(x, y, Rgba{c.r, c.g, c.b, std::min(c.a, 1.0f)}, 1.0f);
    }
}

Picture glow_sprite(int n, const std::function<float(float dx, float dy)>& alpha, uint32_t rgb = 0xffffff) {
  Picture p(n, n);
  paint(p, [&](float x, float y) { return hex(rgb, alpha(x - n / 2.0f, y - n / 2.0f)); });
  return p;
}

// Across a line's width, u = 0 at its middle and +-32 at its sides: a hot
// core inside a soft glow.
float line_profile(float u) {
  u = std::fabs(u);
  return std::clamp(0.45f * std::exp(-(u / 11) * (u / 11)) + 0.55f * std::clamp((7 - u) / 3, 0.0f, 1.0f), 0.0f, 1.0f) *
         std::clamp((32 - u) / 3, 0.0f, 1.0f);
}

// A light icon shape with a dark rim, so it reads over any background; a
// little darker towards the bottom.
Picture icon(int n, const std::function<float(float x, float y)>& sdf, uint32_t fill = 0xffffff) {
  Picture p(n, n);
  paint(p, [&](float x, float y) { return hex(0x000000, 0.55f * edge(sdf(x, y) - 2.5f)); });
  paint(p, [&](float x, float y) {
    Rgba c = mix(hex(fill), hex(0x000000), 0.22f * y / n);
    c.a = edge(sdf(x, y));
    return c;
  });
  return p;
}

float ring_dist(float x, float y, float cx, float cy, float r, float width) {
  return std::fabs(std::hypot(x - cx, y - cy) - r) - width / 2;
}

// Signed distance to a polygon (negative inside).
float poly_dist(float x, float y, const std::vector<std::pair<float, float>>& pts) {
  float d = 1e9f;
  for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++)
    d = std::min(d, seg_dist(x, y, pts[j].first, pts[j].second, pts[i].first, pts[i].second));
  return in_poly(x, y, pts) ? -d : d;
}

// Distance to the arc of radius r about (cx, cy) from angle a0 round to a1
// (radians, y downwards, a0 < a1), as a stroke of the given width.
float arc_dist(float x, float y, float cx, float cy, float r, float a0, float a1, float width) {
  float a = std::atan2(y - cy, x - cx);
  while (a < a0) a += 2 * (float)M_PI;
  if (a <= a1) return std::fabs(std::hypot(x - cx, y - cy) - r) - width / 2;
  float e0 = std::hypot(x - cx - r * std::cos(a0), y - cy - r * std::sin(a0));
  float e1 = std::hypot(x - cx - r * std::cos(a1), y - cy - r * std::sin(a1));
  return std::min(e0, e1) - width / 2;
}

float circle_dist(float x, float y, float cx, float cy, float r) { return std::hypot(x - cx, y - cy) - r; }

// a with a gap of the given width cut round b, then b over it: two shapes
// that overlap stay apart (the gap shows the icon's dark rim).
float over_dist(float a, float b, float gap) { return std::min(std::max(a, -(b - gap)), b); }

// A head and shoulders whose head is centred at (cx, cy), k times the
// 48-pixel size.
float person_dist(float x, float y, float cx, float cy, float k) {
  float head = circle_dist(x, y, cx, cy, 7 * k);
  float body = rbox_dist(x, y, cx - 13 * k, cy + 10 * k, cx + 13 * k, cy + 27 * k, 11 * k, 2 * k);
  return over_dist(body, head, 2.5f * k);
}

std::vector<std::pair<float, float>> star_points(float cx, float cy, float r, float inner) {
  std::vector<std::pair<float, float>> pts;
  for (int i = 0; i < 10; i++) {
    float a = -(float)M_PI / 2 + i * (float)M_PI / 5, rr = i % 2 ? r * inner : r;
    pts.push_back({cx + rr * std::cos(a), cy + rr * std::sin(a)});
  }
  return pts;
}

Rgba hsv(float h, float s, float v) {
  h = std::fmod(h, 1.0f) * 6;
  int i = (int)h;
  float f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  switch (i) {
    case 0: return {v, t, p, 1};
    case 1: return {q, v, p, 1};
    case 2: return {p, v, t, 1};
    case 3: return {p, q, v, 1};
    case 4: return {t, p, v, 1};
    default: return {v, p, q, 1};
  }
}

// Rank badges, drawn at 44 x 29.3: "flag<k>" a pennant in the middle,
// "wings<k>" a pair of wings either side, "stars<k>" a row of stars along the
// bottom, for k = 1..15 (0 draws nothing: the picture is missing). The star
// count is 1..5 (feathers one more), the metal bronze, silver, then gold.
const Rgba kMetal[3][2] = {{hex(0xf0b080), hex(0x8a4a20)}, {hex(0xffffff), hex(0x8a98aa)}, {hex(0xfff0a0), hex(0xb08010)}};

Picture badge_flag(int k) {
  Picture p(66, 44);
  Rgba base = hsv((k - 1) / 15.0f + 0.58f, 0.7f, 0.95f);
  std::vector<std::pair<float, float>> pts = {{24, 3}, {42, 3}, {42, 34}, {33, 28}, {24, 34}};
  std::vector<std::pair<float, float>> inner = {{26, 5}, {40, 5}, {40, 30.5f}, {33, 25.5f}, {26, 30.5f}};
  for (int y = 0; y < p.h; y++)
    for (int x = 0; x < p.w; x++) {
      float t = (y + 0.5f) / 34;
      p.over(x, y, mix(base, hex(0x101010), 0.55f), poly_cover(x, y, pts));
      p.over(x, y, mix(mix(base, hex(0xffffff), 0.3f), base, t), poly_cover(x, y, inner));
    }
  return p;
}

Picture badge_wings(int k) {
  Picture p(66, 44);
  int n = 2 + (k - 1) % 5;  // one feather alone would not read as a wing
  const Rgba* m = kMetal[std::min((k - 1) / 5, 2)];
  for (int side = 0; side < 2; side++)
    for (int pass = 0; pass < 2; pass++)
      paint(p, [&](float x, float y) {
        if (side) x = 66 - x;
        float d = 1e9f;
        for (int i = 0; i < n; i++) {
          float a = (float)M_PI * (1.02f + 0.09f * i), len = 19.0f - 2.2f * i;
          float ex = 23 + len * std::cos(a), ey = 14 - len * std::sin(a) + 4.0f * i;
          float t = std::clamp(seg_dist(x, y, 23, 14 + 3.0f * i, ex, ey) > 0 ? (23 - x) / len : 0.0f, 0.0f, 1.0f);
          d = std::min(d, seg_dist(x, y, 23, 14 + 3.0f * i, ex, ey) - (2.6f - 1.2f * t));
        }
        if (pass == 0) return hex(0x000000, 0.6f * edge(d - 1.2f));
        Rgba c = mix(m[0], m[1], std::clamp((y - 6) / 26, 0.0f, 1.0f));
        c.a = edge(d);
        return c;
      });
  return p;
}

Picture badge_stars(int k) {
  Picture p(66, 44);
  int n = 1 + (k - 1) % 5;
  const Rgba* m = kMetal[std::min((k - 1) / 5, 2)];
  for (int i = 0; i < n; i++) {
    float cx = 33 + (i - (n - 1) / 2.0f) * 10.5f, cy = 38;
    auto outer = star_points(cx, cy, 6.2f, 0.45f), inner = star_points(cx, cy, 4.6f, 0.45f);
    for (int y = 28; y < 44; y++)
      for (int x = 0; x < 66; x++) {
        p.over(x, y, mix(m[1], hex(0x000000), 0.5f), poly_cover(x, y, outer));
        p.over(x, y, mix(m[0], m[1], std::clamp((y - 33) / 10.0f, 0.0f, 1.0f)), poly_cover(x, y, inner));
      }
  }
  return p;
}

// A dark sky with two tinted gas clouds, for the match background.
Picture background(int seed, uint32_t c1, uint32_t c2) {
  const int n = 512;
  Picture p(n, n);
  paint(p, [&](float x, float y) {
    float wx = 40 * (fbm(x, y, n, 4, 3, seed + 1) - 0.5f), wy = 40 * (fbm(x, y, n, 4, 3, seed + 2) - 0.5f);
    float a = fbm(x + wx, y + wy, n, 4, 5, seed + 3), b = fbm(x - wy, y + wx, n, 3, 5, seed + 4);
    float r = std::hypot(x - n / 2.0f, y - n / 2.0f) / (n / 2.0f);
    float fall = 1 - smooth01((r - 0.35f) / 0.75f);
    float ka = std::pow(smooth01((a - 0.38f) / 0.4f), 2.0f) * fall, kb = std::pow(smooth01((b - 0.42f) / 0.4f), 2.0f) * fall;
    Rgba c = hex(0x020308);
    c = mix(c, hex(c1), 0.55f * ka);
    c = mix(c, hex(c2), 0.45f * kb);
    float dust = hash01((int)x, (int)y, seed + 9);
    if (dust > 0.9985f) c = mix(c, hex(0xffffff), 0.35f + 0.4f * (dust - 0.9985f) / 0.0015f);
    c.a = 1;
    return c;
  });
  return p;
}

// A cloud sprite for the map, transparent at its sides.
Picture nebula(int seed) {
  const int n = 128;
  Picture p(n, n);
  paint(p, [&](float x, float y) {
    float r = std::hypot(x - n / 2.0f, y - n / 2.0f) / (n / 2.0f);
    float a = fbm(x, y, n, 4, 4, seed) * (1 - smooth01(r));
    return hex(0xffffff, 0.8f * smooth01((a - 0.12f) / 0.5f));
  });
  return p;
}

// The start-up banner: the title in bold letters over a blue glow.
bool make_logo(const std::string& out, const std::string& ttf_dir) {
  std::vector<uint8_t> ttf = read_file(ttf_dir + "/DejaVuSans-Bold.ttf");
  stbtt_fontinfo info;
  if (ttf.empty() || !stbtt_InitFont(&info, ttf.data(), stbtt_GetFontOffsetForIndex(ttf.data(), 0))) {
    fprintf(stderr, "gen_art: cannot read %s/DejaVuSans-Bold.ttf\n", ttf_dir.c_str());
    return false;
  }
  const int W = 1024, H = 256;
  const char* text = "ZENTAR 2";
  float scale = stbtt_ScaleForPixelHeight(&info, 150);
  int ascent, descent, gap;
  stbtt_GetFontVMetrics(&info, &ascent, &descent, &gap);
  const float spacing = 10;
  float width = 0;
  for (const char* c = text; *c; c++) {
    int adv, lsb;
    stbtt_GetCodepointHMetrics(&info, *c, &adv, &lsb);
    width += adv * scale + (c[1] ? spacing : 0);
  }
  std::vector<float> cover((size_t)W * H, 0.0f);
  float pen = (W - width) / 2;
  int base = (int)((H - (ascent - descent) * scale) / 2 + ascent * scale);
  for (const char* c = text; *c; c++) {
    int adv, lsb, x0, y0, x1, y1;
    stbtt_GetCodepointHMetrics(&info, *c, &adv, &lsb);
    stbtt_GetCodepointBitmapBox(&info, *c, scale, scale, &x0, &y0, &x1, &y1);
    int bw = x1 - x0, bh = y1 - y0;
    if (bw > 0 && bh > 0) {
      std::vector<uint8_t> bm((size_t)bw * bh);
      stbtt_MakeCodepointBitmap(&info, bm.data(), bw, bh, bw, scale, scale, *c);
      for (int y = 0; y < bh; y++)
        for (int x = 0; x < bw; x++) {
          int px = (int)pen + x0 + x, py = base + y0 + y;
          if (px >= 0 && py >= 0 && px < W && py < H) cover[(size_t)py * W + px] = std::max(cover[(size_t)py * W + px], bm[(size_t)y * bw + x] / 255.0f);
        }
    }
    pen += adv * scale + spacing;
  }
  // The glow: the letters blurred by three box passes each way.
  std::vector<float> blur = cover, tmp(blur.size());
  const int R = 9;
  for (int pass = 0; pass < 3; pass++)
    for (int dir = 0; dir < 2; dir++) {
      for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
          float s = 0;
          for (int k = -R; k <= R; k++) {
            int sx = dir ? x : x + k, sy = dir ? y + k : y;
            if (sx >= 0 && sy >= 0 && sx < W && sy < H) s += blur[(size_t)sy * W + sx];
          }
          tmp[(size_t)y * W + x] = s / (2 * R + 1);
        }
      blur.swap(tmp);
    }
  std::vector<float> rim = dilate(cover, W, H, 3);
  Picture p(W, H);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      size_t i = (size_t)y * W + x;
      p.over(x, y, hex(0x3a8cff), std::min(1.0f, 1.6f * blur[i]));
      p.over(x, y, hex(0x0a1a3a), rim[i]);
      float t = (y - (base - 110.0f)) / 120.0f;
      p.over(x, y, mix(hex(0xffffff), hex(0x8cc4ff), std::clamp(t, 0.0f, 1.0f)), cover[i]);
    }
  return write_png(out + "/logo.png", p);
}

bool write_jpg(const std::string& path, const Picture& p) {
  std::vector<uint8_t> rgb((size_t)p.w * p.h * 3);
  for (size_t i = 0; i < (size_t)p.w * p.h; i++)
    for (int c = 0; c < 3; c++) rgb[i * 3 + c] = (uint8_t)std::lround(std::clamp(p.px[i * 4 + c], 0.0f, 1.0f) * 255.0f);
  if (!stbi_write_jpg(path.c_str(), p.w, p.h, 3, rgb.data(), 88)) {
    fprintf(stderr, "gen_art: cannot write %s\n", path.c_str());
    return false;
  }
  printf("%s: %d x %d\n", path.c_str(), p.w, p.h);
  return true;
}

std::vector<std::pair<std::string, Picture>> make_sprites() {
  std::vector<std::pair<std::string, Picture>> out;
  const float pi = (float)M_PI;
  // Flat fills for triangles and masks.
  {
    Picture white(64, 64), blank(8, 8);
    paint(white, [](float, float) { return hex(0xffffff); });
    out.push_back({"white", white});
    out.push_back({"blank", blank});
  }
  // A shade from clear (top) to black (bottom).
  {
    Picture fade(4, 64);
    paint(fade, [](float, float y) { return hex(0x000000, smooth01(y / 64)); });
    out.push_back({"fade", fade});
  }
  // Glowing lines: u along the length, v across it.
  {
    Picture line(64, 64), map_line(64, 64);
    paint(line, [](float, float y) { return hex(0xffffff, line_profile(y - 32)); });
    paint(map_line, [](float, float y) { return hex(0xffffff, 0.7f * line_profile(1.6f * (y - 32))); });
    out.push_back({"line", line});
    out.push_back({"map-line", map_line});
  }
  // Box corners carry the line round a quarter turn about their bottom-right
  // point: "corner" is one line wide (radius half a width), "corner0" half
  // a width and square.
  {
    Picture corner(64, 64), corner0(64, 64);
    paint(corner, [](float x, float y) { return hex(0xffffff, line_profile(std::hypot(64 - x, 64 - y) - 32)); });
    paint(corner0, [](float x, float y) { return hex(0xffffff, line_profile(0.5f * std::hypot(64 - x, 64 - y))); });
    out.push_back({"corner", corner});
    out.push_back({"corner0", corner0});
  }
  // Points of light.
  out.push_back({"star", glow_sprite(64, [](float dx, float dy) {
                   float d = std::hypot(dx, dy);
                   return (std::exp(-(d / 5) * (d / 5)) + 0.35f * std::exp(-(d / 14) * (d / 14))) * std::clamp((32 - d) / 6, 0.0f, 1.0f);
                 })});
  auto sparkle = [](float dx, float dy, float ray, float glow) {
    float d = std::hypot(dx, dy);
    float a = glow * std::exp(-(d / 9) * (d / 9)) + std::exp(-(d / 3.5f) * (d / 3.5f));
    a += ray * std::exp(-(dy / 1.6f) * (dy / 1.6f)) * std::max(0.0f, 1 - std::fabs(dx) / 30);
    a += ray * std::exp(-(dx / 1.6f) * (dx / 1.6f)) * std::max(0.0f, 1 - std::fabs(dy) / 30);
    return std::min(a, 1.0f) * std::clamp((32 - d) / 4, 0.0f, 1.0f);
  };
  out.push_back({"spark", glow_sprite(64, [&](float dx, float dy) { return sparkle(dx, dy, 0.7f, 0.6f); })});
  out.push_back({"trophy-shinestar", glow_sprite(64, [&](float dx, float dy) { return sparkle(dx, dy, 1.0f, 0.3f); }, 0xfffbe8)});
  out.push_back({"trophy-shineglow", glow_sprite(128, [](float dx, float dy) {
                   float t = std::max(0.0f, 1 - std::hypot(dx, dy) / 64);
                   return 0.85f * t * t;
                 }, 0xfff0c0)});
  out.push_back({"trophy-shineburst", glow_sprite(256, [&](float dx, float dy) {
                   float d = std::hypot(dx, dy) / 128, a = std::atan2(dy, dx);
                   float ray = std::pow(std::fabs(std::cos(6 * a)), 12.0f);
                   return 0.5f * ray * smooth01(d / 0.25f) * std::max(0.0f, 1 - d) * std::max(0.0f, 1 - d);
                 }, 0xfff4d0)});
  {
    Picture shine(64, 64);  // a slanted band of light swept down the trophy
    paint(shine, [](float x, float y) {
      float u = (x + y - 64) / 7;
      return hex(0xffffff, 0.7f * std::exp(-u * u));
    });
    out.push_back({"trophy-shineline", shine});
  }
  // Turning dashes round the player's own planets (drawn 4 radii across,
  // so the planet's rim is 32 texels out).
  {
    Picture you(128, 128);
    paint(you, [&](float x, float y) {
      float dx = x - 64, dy = y - 64, d = std::hypot(dx, dy);
      float f = std::fmod((std::atan2(dy, dx) + pi) / (2 * pi) * 8, 1.0f);
      float dash = smooth01(std::min(f, 0.62f - f) * 40) * (f < 0.62f);
      float a = dash * edge(std::fabs(d - 44) - 2.5f) + 0.25f * std::exp(-((d - 44) / 8) * ((d - 44) / 8));
      return hex(0xffffff, std::min(a, 1.0f) * std::clamp((63 - d) / 3, 0.0f, 1.0f));
    });
    out.push_back({"you", you});
  }
  // A ship, nose up, light so the owner's colour tints it.
  {
    Picture ship(64, 64);
    std::vector<std::pair<float, float>> hull = {{32, 4}, {54, 56}, {32, 45}, {10, 56}};
    std::vector<std::pair<float, float>> top = {{32, 4}, {32, 45}, {10, 56}};
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) {
        ship.over(x, y, hex(0xb8c0cc), poly_cover(x, y, hull));
        ship.over(x, y, hex(0xffffff), poly_cover(x, y, top));
      }
    out.push_back({"ship", ship});
  }
  // Map markers.
  out.push_back({"map-circle", glow_sprite(128, [](float dx, float dy) {
                   float d = std::hypot(dx, dy);
                   return edge(std::fabs(d - 56) - 2.5f) + 0.3f * std::exp(-((d - 56) / 5) * ((d - 56) / 5));
                 })});
  {
    Picture marker(128, 128);
    paint(marker, [&](float x, float y) {
      float dx = x - 64, dy = y - 64, d = std::hypot(dx, dy);
      float a = edge(std::fabs(d - 50) - 2.5f);
      for (int i = 0; i < 4; i++) {  // four pointers aimed at the middle
        float c = std::cos(i * pi / 2), s = std::sin(i * pi / 2);
        float u = dx * c + dy * s, v = -dx * s + dy * c;  // u outward
        if (u > 36 && u < 60) a = std::max(a, edge(std::fabs(v) - (u - 36) * 0.45f));
      }
      return hex(0xffffff, a);
    });
    out.push_back({"map-marker", marker});
  }
  out.push_back({"map-flare3", glow_sprite(128, [&](float dx, float dy) {
                   float d = std::hypot(dx, dy);
                   float a = 0.9f * std::exp(-(d / 8) * (d / 8)) + 0.3f * std::exp(-(d / 26) * (d / 26));
                   a += 0.18f * std::exp(-((d - 42) / 3) * ((d - 42) / 3));
                   a += 0.6f * std::exp(-(dy / 1.5f) * (dy / 1.5f)) * std::max(0.0f, 1 - std::fabs(dx) / 62);
                   a += 0.4f * std::exp(-(dx / 1.5f) * (dx / 1.5f)) * std::max(0.0f, 1 - std::fabs(dy) / 40);
                   return std::min(a, 1.0f) * std::clamp((64 - d) / 4, 0.0f, 1.0f);
                 })});
  // A sun for the map: a bright disc with a corona, on the aura sprite's
  // scale (the rim 33 texels out of 128).
  {
    Picture sun(128, 128);
    const float rim = 128 / 3.875f;
    paint(sun, [&](float x, float y) {
      float d = std::hypot(x - 64, y - 64) / rim;
      Rgba c = mix(hex(0xffffff), hex(0xffd890), std::clamp(d, 0.0f, 1.0f));
      c.a = d < 1 ? 1.0f : 0.85f * std::exp(-(d - 1) * 3.2f);
      c.a *= std::clamp((64 - d * rim) / 4, 0.0f, 1.0f);
      return c;
    });
    out.push_back({"map-aura-sun", sun});
  }
  out.push_back({"map-nebula1", nebula(301)});
  out.push_back({"map-nebula2", nebula(401)});
  // Icons.
  out.push_back({"icon-zoom", icon(64, [](float x, float y) {
                   return std::min(ring_dist(x, y, 26, 26, 15, 5), seg_dist(x, y, 37.5f, 37.5f, 54, 54) - 4.5f);
                 })});
  out.push_back({"icon-quit", icon(48, [](float x, float y) {
                   float cross = std::min(seg_dist(x, y, 17, 17, 31, 31), seg_dist(x, y, 31, 17, 17, 31)) - 2.5f;
                   return std::min(ring_dist(x, y, 24, 24, 17, 3.5f), cross);
                 })});
  out.push_back({"quit", out.back().second});  // the test scenes' close button
  out.push_back({"icon-pause", icon(48, [](float x, float y) {
                   return std::min(rbox_dist(x, y, 13, 11, 21, 37, 2, 2), rbox_dist(x, y, 27, 11, 35, 37, 2, 2));
                 })});
  out.push_back({"icon-about", icon(48, [](float x, float y) {
                   float dot = std::hypot(x - 24, y - 15) - 3.2f, bar = seg_dist(x, y, 24, 22, 24, 33) - 2.6f;
                   return std::min(ring_dist(x, y, 24, 24, 17, 3.5f), std::min(dot, bar));
                 })});
  out.push_back({"icon-settings", icon(68, [&](float x, float y) {
                   float dx = x - 34, dy = y - 34, d = std::hypot(dx, dy), a = std::atan2(dy, dx);
                   float R = 22 + 5 * std::clamp(3 * std::cos(8 * a), -1.0f, 1.0f);
                   return std::max(d - R, 9 - d);
                 })});
  out.push_back({"icon-buy", icon(56, [](float x, float y) {
                   return std::min(seg_dist(x, y, 14, 29, 24, 39), seg_dist(x, y, 24, 39, 43, 17)) - 3.5f;
                 }, 0x70e088)});
  // The menu icons, 48 pixels drawn for 18 to 40: strokes at least 4 wide so
  // they still read at the smallest size.
  out.push_back({"icon-play", icon(48, [](float x, float y) {
                   return poly_dist(x, y, {{15, 9}, {39, 24}, {15, 39}}) - 1.5f;
                 })});
  out.push_back({"icon-news", icon(48, [](float x, float y) {
                   float page = std::fabs(rbox_dist(x, y, 10, 7, 38, 41, 4, 4)) - 2;
                   float lines = 1e9f;
                   for (float ly : {16.0f, 24.0f, 32.0f}) lines = std::min(lines, seg_dist(x, y, 17, ly, 31, ly) - 2);
                   return std::min(page, lines);
                 })});
  out.push_back({"icon-practice", icon(48, [](float x, float y) {
                   float rings = std::min(ring_dist(x, y, 24, 24, 17, 4), ring_dist(x, y, 24, 24, 9, 4));
                   return std::min(rings, circle_dist(x, y, 24, 24, 3));
                 })});
  out.push_back({"icon-mods", icon(48, [](float x, float y) {  // a puzzle piece
                   float piece = std::min({rbox_dist(x, y, 9, 14, 33, 38, 3, 3), circle_dist(x, y, 21, 12, 5.5f),
                                           circle_dist(x, y, 35, 26, 5.5f)});
                   return std::max(piece, -circle_dist(x, y, 9, 26, 4.5f));
                 })});
  out.push_back({"icon-forums", icon(48, [](float x, float y) {  // two speech bubbles
                   float back = std::min(rbox_dist(x, y, 18, 6, 43, 25, 6, 6), poly_dist(x, y, {{33, 22}, {40, 22}, {41, 31}}));
                   float front = std::min(rbox_dist(x, y, 5, 16, 32, 36, 6, 6), poly_dist(x, y, {{10, 33}, {18, 33}, {8, 43}}));
                   return over_dist(back, front, 3);
                 })});
  out.push_back({"icon-review", icon(48, [](float x, float y) {
                   return poly_dist(x, y, star_points(24, 25, 19, 0.45f)) - 1;
                 }, 0xffe070)});
  out.push_back({"icon-account", icon(48, [](float x, float y) { return person_dist(x, y, 24, 15, 1); })});
  out.push_back({"icon-audio", icon(48, [](float x, float y) {  // a loudspeaker and two waves
                   float box = poly_dist(x, y, {{6, 18}, {14, 18}, {24, 9}, {24, 39}, {14, 30}, {6, 30}}) - 1;
                   float waves = std::min(arc_dist(x, y, 24, 24, 9, -0.9f, 0.9f, 4), arc_dist(x, y, 24, 24, 17, -0.85f, 0.85f, 4));
                   return std::min(box, waves);
                 })});
  out.push_back({"icon-video", icon(48, [](float x, float y) {  // a screen on its stand
                   float screen = std::fabs(rbox_dist(x, y, 5, 8, 43, 33, 3, 3)) - 2;
                   float stand = std::min(seg_dist(x, y, 24, 34, 24, 39), seg_dist(x, y, 15, 40, 33, 40)) - 2;
                   return std::min(screen, stand);
                 })});
  out.push_back({"icon-controls", icon(48, [](float x, float y) {  // three sliders
                   float d = 1e9f;
                   const float knob[3] = {31, 15, 26};
                   for (int i = 0; i < 3; i++) {
                     float ly = 12 + 12.0f * i;
                     d = std::min(d, over_dist(seg_dist(x, y, 7, ly, 41, ly) - 2, circle_dist(x, y, knob[i], ly, 5), 2));
                   }
                   return d;
                 })});
  out.push_back({"icon-control", icon(48, [](float x, float y) {  // a game pad
                   float pad = std::min({rbox_dist(x, y, 5, 14, 43, 32, 8, 8), circle_dist(x, y, 12, 31, 7),
                                         circle_dist(x, y, 36, 31, 7)});
                   float cross = std::min(rbox_dist(x, y, 10, 21, 20, 25, 1, 1), rbox_dist(x, y, 13, 18, 17, 28, 1, 1));
                   float buttons = std::min(circle_dist(x, y, 31, 21, 2.5f), circle_dist(x, y, 36, 26, 2.5f));
                   return std::max(pad, -std::min(cross, buttons));
                 })});
  out.push_back({"icon-more", icon(48, [](float x, float y) {
                   return std::min({circle_dist(x, y, 11, 24, 4.5f), circle_dist(x, y, 24, 24, 4.5f), circle_dist(x, y, 37, 24, 4.5f)});
                 })});
  out.push_back({"icon-clans", icon(48, [](float x, float y) {  // a shield with a chevron
                   float shield = poly_dist(x, y, {{24, 5}, {40, 10}, {38, 27}, {24, 42}, {10, 27}, {8, 10}}) - 1;
                   float chevron = std::min(seg_dist(x, y, 15, 18, 24, 27), seg_dist(x, y, 24, 27, 33, 18)) - 2.5f;
                   return std::max(shield, -chevron);
                 })});
  out.push_back({"icon-menu", icon(48, [](float x, float y) {
                   float d = 1e9f;
                   for (float ly : {13.0f, 24.0f, 35.0f}) d = std::min(d, seg_dist(x, y, 10, ly, 38, ly) - 3);
                   return d;
                 })});
  out.push_back({"icon-help", icon(48, [](float x, float y) {  // a question mark
                   float hook = arc_dist(x, y, 24, 17, 9, -(float)M_PI, 0.5f * (float)M_PI, 5);
                   float stem = seg_dist(x, y, 24, 26, 24, 30) - 2.5f;
                   return std::min({hook, stem, circle_dist(x, y, 24, 38, 3.2f)});
                 })});
  auto coin = [](float x, float y) {  // a gold coin with a star struck in it
    float disc = circle_dist(x, y, 24, 24, 19);
    float groove = ring_dist(x, y, 24, 24, 15, 1.6f);
    float star = poly_dist(x, y, star_points(24, 25, 9, 0.45f));
    return std::max(disc, -std::min(groove, star));
  };
  out.push_back({"icon-coin", icon(48, coin, 0xffd040)});
  out.push_back({"coin", icon(48, coin, 0xffd040)});
  out.push_back({"icon-cancel", icon(48, [](float x, float y) {
                   return std::min(seg_dist(x, y, 13, 13, 35, 35), seg_dist(x, y, 35, 13, 13, 35)) - 3.5f;
                 })});
  out.push_back({"icon-friends", icon(48, [](float x, float y) {
                   return over_dist(person_dist(x, y, 31, 12, 0.8f), person_dist(x, y, 19, 17, 0.9f), 2.5f);
                 })});
  out.push_back({"icon-friend", icon(48, [](float x, float y) {  // a heart
                   float lobes = std::min(circle_dist(x, y, 16, 18, 9), circle_dist(x, y, 32, 18, 9));
                   return std::min(lobes, poly_dist(x, y, {{8.2f, 22}, {39.8f, 22}, {24, 40}}) - 1);
                 }, 0xff8098)});
  // Chat: the icon that opens it and the tab at the log's corner.
  {
    Picture chat(64, 64);
    auto bubble = [](float x, float y) {
      float t = std::clamp((y - 38) / 17, 0.0f, 1.0f);  // the tail narrows downwards
      float tail = seg_dist(x, y, 21, 38, 12, 55) - 5.5f * (1 - t) - 0.5f;
      return std::min(rbox_dist(x, y, 6, 8, 58, 44, 11, 11), tail);
    };
    paint(chat, [&](float x, float y) { return hex(0x000000, 0.55f * edge(bubble(x, y) - 2.5f)); });
    paint(chat, [&](float x, float y) { return hex(0xe8f0fc, edge(bubble(x, y))); });
    paint(chat, [&](float x, float y) {
      float d = std::min({std::hypot(x - 20, y - 26), std::hypot(x - 32, y - 26), std::hypot(x - 44, y - 26)}) - 4;
      return hex(0x23508e, edge(d));
    });
    out.push_back({"chat-icon", chat});
    Picture tab(40, 80);
    draw_panel(tab, plain(0x5a7fb0, 0x1c2a44, 0x111a2c, 0.92f, 10));
    paint(tab, [](float x, float y) {
      float d = 1e9f;
      for (int i = -1; i <= 1; i++) d = std::min(d, seg_dist(x, y, 12, 40 + 9.0f * i, 28, 40 + 9.0f * i) - 2);
      return hex(0xdde8f8, 0.85f * edge(d));
    });
    out.push_back({"chat-tab", tab});
  }
  // The side slider's track (a nine-slice, corner 7) and its knob.
  {
    Picture track(22, 22), dot(44, 44);
    paint(track, [](float x, float y) {
      float d = rbox_dist(x, y, 7, 1, 15, 21, 4, 4);
      Rgba c = d > -1.5f ? hex(0x6a8fc0) : hex(0x101826, 0.9f);
      c.a *= edge(d);
      return c;
    });
    draw_panel(dot, Panel{3, 19, 19, 2.5f, hex(0x3f7fd0), hex(0xffffff), hex(0xa8c4ec), 0.3f});
    out.push_back({"slider-line", track});
    out.push_back({"slider-dot", dot});
  }
  // Rank badges.
  for (int k = 1; k <= 15; k++) {
    out.push_back({"flag" + std::to_string(k), badge_flag(k)});
    out.push_back({"wings" + std::to_string(k), badge_wings(k)});
    out.push_back({"stars" + std::to_string(k), badge_stars(k)});
  }
  // The stats page's badge: the highest rank's flag, stars and wings in one.
  {
    Picture rank(66, 44);
    for (const Picture& layer : {badge_flag(10), badge_stars(10), badge_wings(10)})
      for (size_t i = 0; i < rank.px.size(); i += 4) {
        float a = layer.px[i + 3];
        for (int c = 0; c < 4; c++) rank.px[i + c] = layer.px[i + c] + rank.px[i + c] * (1 - a);
      }
    out.push_back({"rank10", rank});
  }
  // More nine-slice GUI pictures, as separate files.
  auto panel = [&](const std::string& name, const Panel& s) {
    Picture p(48, 48);
    draw_panel(p, s);
    out.push_back({name, std::move(p)});
  };
  const uint32_t rims[5] = {0x8a96a8, 0x9cc4ff, 0xa8f0b0, 0xffb8a8, 0xffe8a0};
  const uint32_t tops[5] = {0x3a4454, 0x3f7fd0, 0x3aa850, 0xd05040, 0xd0a030};
  const uint32_t bots[5] = {0x262e3a, 0x23508e, 0x1f6e30, 0x8c2a20, 0x8a6410};
  for (int i = 0; i <= 4; i++) {
    panel("gui-icon" + std::to_string(i), plain(rims[i], tops[i], bots[i], 1.0f, 20, 0.45f));
    panel("gui-icon" + std::to_string(i) + "o", overlay(0xffffff, 20));
  }
  for (int i = 1; i <= 3; i++) {
    panel("gui-xicon" + std::to_string(i), plain(rims[i], tops[i], bots[i], 0.85f, 12, 0.3f));
    panel("gui-xicon" + std::to_string(i) + "o", overlay(0xffffff, 12));
    panel("gui-sector" + std::to_string(i), Panel{1, 4, 4, 2, hex(rims[i]), hex(tops[i], 0.55f), hex(bots[i], 0.75f), 0.2f});
    panel("gui-sector" + std::to_string(i) + "o", overlay(0xffffff, 4));
  }
  panel("gui-tiny2", plain(0xa8f0b0, 0x3aa850, 0x1f6e30, 1.0f, 6, 0.4f));
  panel("gui-tiny2o", overlay(0xffffff, 6));
  panel("gui-list2", plain(0x4a6690, 0x1e2e48, 0x18243a, 0.92f, 6));
  panel("gui-list2o", overlay(0xffffff, 6));
  panel("gui-clan1", plain(0x8fb3e0, 0x2a3e60, 0x1a2740, 0.95f, 10, 0.2f));
  panel("gui-clan1o", overlay(0xffffff, 10));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = argc > 1 ? argv[1] : "data";
  std::string ttf = argc > 2 ? argv[2] : "/usr/share/fonts/truetype/dejavu";
  const FontStyle fonts[] = {
      {"font", "DejaVuSans.ttf", 40, 0},
      // The menus' labels: narrower still, so the widest option and button
      // labels ("1920x1080", "Create ZentarID") keep clear of their rims.
      {"font-gui", "DejaVuSansCondensed.ttf", 40, 0, 0.92f},
      {"font-gui2", "DejaVuSansCondensed-Bold.ttf", 40, 0},
      {"font-play", "DejaVuSans-Bold.ttf", 36, 2},
      {"font-outline", "DejaVuSans-Bold.ttf", 40, 3},
      {"font-console", "DejaVuSansMono.ttf", 40, 0},
  };
  bool ok = true;
  for (const FontStyle& f : fonts) ok &= make_font(out, ttf, f);
  std::vector<GuiPicture> gui = make_gui();
  for (const GuiPicture& g : gui) ok &= write_png(out + "/" + g.name + ".png", g.pic);
  ok &= write_png(out + "/icon.png", make_icon());
  for (const auto& [name, pic] : make_planets()) ok &= write_png(out + "/" + name + ".png", pic);
  for (const auto& [name, pic] : make_sprites()) ok &= write_png(out + "/" + name + ".png", pic);
  ok &= make_logo(out, ttf);
  const uint32_t sky[5][2] = {{0x3a5cc8, 0x9a3ab0}, {0x2a9aa0, 0x3a50c0}, {0xb04a6a, 0x4a3ac0},
                              {0x3a8a5a, 0x2a5ab0}, {0x6a4ac8, 0xc0702a}};
  for (int i = 0; i < 5; i++) {
    char name[32];
    snprintf(name, sizeof name, "/background%02d.jpg", i + 1);
    ok &= write_jpg(out + name, background(1000 + 97 * i, sky[i][0], sky[i][1]));
  }
  return ok ? 0 : 1;
}
