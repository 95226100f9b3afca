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
// middle) written both as their own "gui-*.png" files and packed together
// into the atlas "gui.png" with its frame list "gui.json". "icon.png" is the
// window icon. Everything is drawn from plain shapes and gradients.
//
// Planet pictures: "planet-tex0".."planet-tex4" (sphere surface maps),
// "planet-aura" (the halo sprite) and "black", drawn from hashed noise.
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
  // The whole line (ascent to descent) fills the line height.
  float scale = (float)(st.line - 2 * pad) / (float)(ascent - descent);
  int base = pad + (int)std::lround(ascent * scale);

  std::vector<Glyph> glyphs;
  for (int c = 32; c < 256; c++) {
    if (c >= 127 && c < 160) continue;  // C1 controls have no picture
    int cp = c == 160 ? ' ' : c;        // Latin-1: the byte is the code point
    if (!stbtt_FindGlyphIndex(&info, cp)) continue;
    Glyph g;
    g.id = c;
    int adv, lsb;
    stbtt_GetCodepointHMetrics(&info, cp, &adv, &lsb);
    g.adv = (int)std::lround(adv * scale);
    int x0, y0, x1, y1;
    stbtt_GetCodepointBitmapBox(&info, cp, scale, scale, &x0, &y0, &x1, &y1);
    int bw = x1 - x0, bh = y1 - y0;
    if (bw > 0 && bh > 0) {
      g.w = bw + 2 * pad;
      g.h = bh + 2 * pad;
      g.xoff = x0 - pad;
      g.yoff = base + y0 - pad;
      std::vector<uint8_t> bm((size_t)bw * bh);
      stbtt_MakeCodepointBitmap(&info, bm.data(), bw, bh, bw, scale, scale, cp);
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

// One sheet holding every GUI picture, and its frame list. The pictures are
// stored whole (nine-slice boxes need their full thirds), two pixels apart.
bool make_atlas(const std::string& out, const std::vector<GuiPicture>& pics) {
  const int sheet_w = 512, gap = 2;
  std::vector<std::pair<int, int>> at;
  int x = gap, y = gap, shelf = 0;
  for (const GuiPicture& g : pics) {
    if (x + g.pic.w + gap > sheet_w) {
      x = gap;
      y += shelf + gap;
      shelf = 0;
    }
    at.push_back({x, y});
    x += g.pic.w + gap;
    shelf = std::max(shelf, g.pic.h);
  }
  Picture sheet(sheet_w, pow2_at_least(y + shelf + gap));
  std::string json = "{\"frames\":{";
  for (size_t i = 0; i < pics.size(); i++) {
    const Picture& p = pics[i].pic;
    for (int py = 0; py < p.h; py++)
      for (int px = 0; px < p.w; px++)
        for (int c = 0; c < 4; c++)
          sheet.px[((size_t)(at[i].second + py) * sheet.w + at[i].first + px) * 4 + c] =
              p.px[((size_t)py * p.w + px) * 4 + c];
    char entry[512];
    snprintf(entry, sizeof(entry),
             "%s\n\"%s.png\":{\"frame\":{\"x\":%d,\"y\":%d,\"w\":%d,\"h\":%d},\"rotated\":false,\"trimmed\":false,"
             "\"spriteSourceSize\":{\"x\":0,\"y\":0,\"w\":%d,\"h\":%d},\"sourceSize\":{\"w\":%d,\"h\":%d}}",
             i ? "," : "", pics[i].name.c_str(), at[i].first, at[i].second, p.w, p.h, p.w, p.h, p.w, p.h);
    json += entry;
  }
  char meta[256];
  snprintf(meta, sizeof(meta), "\n},\"meta\":{\"image\":\"gui.png\",\"size\":{\"w\":%d,\"h\":%d}}}\n", sheet.w,
           sheet.h);
  json += meta;
  return write_png(out + "/gui.png", sheet) && write_text(out + "/gui.json", json);
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

}  // namespace

int main(int argc, char** argv) {
  std::string out = argc > 1 ? argv[1] : "data";
  std::string ttf = argc > 2 ? argv[2] : "/usr/share/fonts/truetype/dejavu";
  const FontStyle fonts[] = {
      {"font", "DejaVuSans.ttf", 40, 0},
      {"font-gui", "DejaVuSansCondensed.ttf", 40, 0},
      {"font-gui2", "DejaVuSansCondensed-Bold.ttf", 40, 0},
      {"font-play", "DejaVuSans-Bold.ttf", 36, 2},
      {"font-outline", "DejaVuSans-Bold.ttf", 40, 3},
      {"font-console", "DejaVuSansMono.ttf", 40, 0},
  };
  bool ok = true;
  for (const FontStyle& f : fonts) ok &= make_font(out, ttf, f);
  std::vector<GuiPicture> gui = make_gui();
  for (const GuiPicture& g : gui) ok &= write_png(out + "/" + g.name + ".png", g.pic);
  ok &= make_atlas(out, gui);
  ok &= write_png(out + "/icon.png", make_icon());
  for (const auto& [name, pic] : make_planets()) ok &= write_png(out + "/" + name + ".png", pic);
  return ok ? 0 : 1;
}
