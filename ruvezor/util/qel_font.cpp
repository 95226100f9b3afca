// qel_font: bitmap fonts loaded by name and pixel size.
//
// Metrics are kept in font pixels and turned into logical units by the font's
// scale, so that one description serves every size. Measuring never touches
// GL; drawing builds one line's glyphs in static buffers and draws them with
// one call per 256 glyphs.
#include "ruvezor/util/qel_font.h"

#include "ruvezor/util/qel_driver.h"     // data lookup, file reading and times
#include "ruvezor/util/qel_gfx_image.h"  // glyph picture as a texture
#include "ruvezor/util/qel_log.h"

#include <GL/gl.h>  // client arrays, texture binding

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

// Labels of a host's records name their font and size, a new one in every
// record if the host likes: past this many missing keys remembered they are
// forgotten together, and past this many lookups of new keys a second a key
// is looked for again later. Twenty lookups a second are logged.
static const int _FONT_MISSES_MAX = 1024;
static const int _FONT_LOOKUPS_PER_SECOND = 256;
// A picture's side is never longer; and a line is never more than this many
// times its glyphs' height, nor less than that part of it.
static const float _FONT_PICTURE_MAX = 16384;
static const float _FONT_LINE_FACTOR = 8;

// ---- types ------------------------------------------------------------------------

struct _FontData {
  std::map<std::string, int> names;  // "name:size" -> font id (0 = known missing)
  std::vector<FontInfo> fonts;       // slot 0 is a zeroed placeholder
  int reload_last = 0;               // second of the last hot-reload pass
  int misses = 0;                    // keys remembered as missing
  QelPerSecond lookups{_FONT_LOOKUPS_PER_SECOND};  // lookups of new keys
  QelLogLimit lookup_log{"font", "lookups of new fonts were not logged or put off"};

  _FontData() : fonts(1, FontInfo{}) {}
};

// ---- globals ----------------------------------------------------------------------

static _FontData* _font = nullptr;
static int (*_font_clock)() = nullptr;  // test seam; null = time()

// Reused by every draw: 256 glyphs of 6 vertices of 2 floats.
static float _font_pos[FONT_GLYPHS * 6 * 2];
static float _font_tc[FONT_GLYPHS * 6 * 2];

enum { _FONT_TOP = 0, _FONT_RIGHT = 1, _FONT_BOTTOM = 2, _FONT_LEFT = 3 };

// ---- module-internal functions ----------------------------------------------------

static int _font_now() { return _font_clock ? _font_clock() : (int)time(nullptr); }

static bool _font_valid(int font) { return _font && font > 0 && font < (int)_font->fonts.size(); }

// (int) of a float without the undefined cases: NaN gives 0, the rest saturates.
static int _font_int(double v) {
  if (!(v == v)) return 0;
  if (v >= (double)INT_MAX) return INT_MAX;
  if (v <= (double)INT_MIN) return INT_MIN;
  return (int)v;
}

static float _font_adv(const FontInfo& f, unsigned char c) { return f.glyphs[c].xadvance * f.scale; }

// scale and line from lineHeight, margins and size. A font whose line has no
// height keeps scale 1 rather than dividing by zero.
static void _font_metrics(FontInfo& f) {
  float denom = f.margins[_FONT_TOP] + f.lineHeight + f.margins[_FONT_BOTTOM];
  f.scale = (f.size != 0 && denom > 0) ? f.size / denom : 1.0f;
  f.line = denom * f.scale;
}

// Leading number of a value; unreadable or non-finite text reads 0.
static float _font_number(const char* p, const char* end) {
  char buf[64];
  size_t n = (size_t)(end - p) < sizeof(buf) - 1 ? (size_t)(end - p) : sizeof(buf) - 1;
  memcpy(buf, p, n);
  buf[n] = 0;
  double v = strtod(buf, nullptr);
  return std::isfinite(v) && std::fabs(v) < 1e30 ? (float)v : 0.0f;
}

// Pen x of a line's first position for the caret queries. With wrap 0 every
// line starts at px, where the first one does, as when drawn.
static float _font_line_x(const FontInfo& f, const FontWrapLine& l, float wrap, int align, float px) {
  if (wrap == 0) return px;
  return (align + 1) * (wrap - l.width) / 2 + f.margins[_FONT_LEFT] * f.scale;
}

// Window pixels one unit of the current drawing coordinates spans along x
// and along y, from the GL matrices and viewport; 0 when they say nothing
// usable.
static void _font_pixels_per_unit(float* px, float* py) {
  *px = *py = 0;
  GLfloat mv[16], pr[16];
  GLint vp[4] = {0, 0, 0, 0};
  glGetFloatv(GL_MODELVIEW_MATRIX, mv);
  glGetFloatv(GL_PROJECTION_MATRIX, pr);
  glGetIntegerv(GL_VIEWPORT, vp);
  // Clip-space x and y of the model-view's x and y axes (column-major).
  double ax[2], ay[2];
  for (int r = 0; r < 2; r++) {
    ax[r] = ay[r] = 0;
    for (int k = 0; k < 4; k++) {
      ax[r] += (double)pr[k * 4 + r] * mv[0 * 4 + k];
      ay[r] += (double)pr[k * 4 + r] * mv[1 * 4 + k];
    }
  }
  double hw = vp[2] / 2.0, hh = vp[3] / 2.0;
  double kx = std::hypot(ax[0] * hw, ax[1] * hh), ky = std::hypot(ay[0] * hw, ay[1] * hh);
  if (std::isfinite(kx) && kx > 0) *px = (float)kx;
  if (std::isfinite(ky) && ky > 0) *py = (float)ky;
}

// Grows a glyph span narrower than `least` units to that size around its
// middle. A glyph shrunk below a pixel would otherwise fall between pixel
// centres and show nothing at all; grown, it always lights one, with the
// glyph's own picture spread over it.
static void _font_at_least(float& pos, float& size, float least) {
  if (!(size < least)) return;
  pos -= (least - size) / 2;
  size = least;
}

// Draws n bytes of one line with the pen at (x, y).
static void _font_draw_n(int font, const char* text, int n, float x, float y) {
  if (!_font_valid(font) || !text) return;
  const FontInfo& f = _font->fonts[font];
  float tw = f.scaleW, th = f.scaleH;
  if (!(tw > 0) || !(th > 0)) {  // no declared size: the picture's own
    const GfxTexture* t = _gfx_get_tex(f.tex);
    tw = t->rect.w;
    th = t->rect.h;
  }
  if (!(tw > 0) || !(th > 0)) return;
  GLuint gl = gfx_tex_get_id(f.tex);
  if (!gl) return;
  glBindTexture(GL_TEXTURE_2D, gl);
  glVertexPointer(2, GL_FLOAT, 0, _font_pos);
  glTexCoordPointer(2, GL_FLOAT, 0, _font_tc);

  float s = f.scale;
  // Slightly over a pixel, so that rounding never leaves it short of one.
  float kx, ky;
  _font_pixels_per_unit(&kx, &ky);
  float least_w = kx > 0 ? 1.05f / kx : 0, least_h = ky > 0 ? 1.05f / ky : 0;
  int count = 0;
  for (int i = 0; i < n; i++) {
    unsigned char c = (unsigned char)text[i];
    const GfxRect& r = f.rects[c];
    const FontGlyph& g = f.glyphs[c];
    GfxRect src = {r.x / tw, r.y / th, r.w / tw, r.h / th};
    GfxRect dst = {x + g.xoffset * s, y + g.yoffset * s, r.w * s, r.h * s};
    x += g.xadvance * s;
    if (!(dst.w > 0) || !(dst.h > 0)) continue;
    _font_at_least(dst.x, dst.w, least_w);
    _font_at_least(dst.y, dst.h, least_h);
    if (!_gfx_clip(&dst, &src)) continue;
    if (count == FONT_GLYPHS) {  // a long line goes out in batches
      glDrawArrays(GL_TRIANGLES, 0, count * 6);
      count = 0;
    }
    float x0 = dst.x, y0 = dst.y, x1 = dst.x + dst.w, y1 = dst.y + dst.h;
    float s0 = src.x, t0 = src.y, s1 = src.x + src.w, t1 = src.y + src.h;
    const float pv[12] = {x0, y0, x1, y0, x0, y1, x0, y1, x1, y0, x1, y1};
    const float tv[12] = {s0, t0, s1, t0, s0, t1, s0, t1, s1, t0, s1, t1};
    memcpy(_font_pos + count * 12, pv, sizeof(pv));
    memcpy(_font_tc + count * 12, tv, sizeof(tv));
    count++;
  }
  if (count) glDrawArrays(GL_TRIANGLES, 0, count * 6);
}

// ---- module life ------------------------------------------------------------------

void font_init() {
  if (!_font) _font = new _FontData();
}

void font_deinit() {
  delete _font;
  _font = nullptr;
}

FontInfo* _font_get(int font) {
  static FontInfo none;
  if (!_font) {
    none = FontInfo{};
    return &none;
  }
  return _font_valid(font) ? &_font->fonts[font] : &_font->fonts[0];
}

void _font_set_clock(int (*now)()) { _font_clock = now; }

// ---- loading ----------------------------------------------------------------------

const char* _font_find(const char* name) {
  static char found[512];
  static const char* const exts[] = {"", ".fnt", ".txt"};
  if (!name || !*name || !driver_name_inside(name)) return nullptr;
  for (const char* ext : exts) {
    int n = snprintf(found, sizeof(found), "%s%s", name, ext);
    if (n < 0 || n >= (int)sizeof(found)) continue;
    if (driver_data_exists(found)) return found;
  }
  return nullptr;
}

int font_load(const char* name, int size) {
  if (!_font) return 0;
  if (!name) name = "";
  char key[256];
  snprintf(key, sizeof(key), "%s:%d", name, size);
  auto it = _font->names.find(key);
  if (it != _font->names.end()) return it->second;

  int now = _font_now();
  bool said = _font->lookup_log.allow(now);
  if (!_font->lookups.take(now)) return 0;
  if (said) qel_log("trying load font %s\n", name);
  const char* hit = _font_find(name);
  if (!hit) {
    if (said && !driver_name_inside(name)) qel_log("font %s leaves the game's folders, not looked for\n", name);
    if (said) qel_log("unable to find font %s\n", name);
    if (++_font->misses > _FONT_MISSES_MAX) {
      for (auto it = _font->names.begin(); it != _font->names.end();)
        it = it->second ? std::next(it) : _font->names.erase(it);
      _font->misses = 1;
    }
    _font->names[key] = 0;
    return 0;
  }
  std::string found = hit;
  int tex = gfx_tex_load(name);
  int id = (int)_font->fonts.size();
  qel_log("doing load font %s (%d)\n", name, id);
  _font->names[key] = id;
  _font->fonts.push_back(FontInfo{});
  FontInfo& f = _font->fonts[id];
  f.tex = tex;
  f.size = (float)size;
  f.scale = 1;
  snprintf(f.file, sizeof(f.file), "%s", driver_data_fname(found.c_str()));
  font_reload(id);
  return id;
}

void _font_parse(FontInfo& f, const char* text, int length) {
  if (!text || length <= 0) return;
  const char* p = text;
  const char* end = text + length;
  while (p < end) {
    const char* eol = (const char*)memchr(p, '\n', (size_t)(end - p));
    if (!eol) eol = end;
    // Words of the line; the first names the kind.
    std::string kind;
    float v[10] = {0};  // id x y width height xoffset yoffset xadvance / lineHeight scaleW scaleH
    static const char* const char_keys[8] = {"id", "x", "y", "width", "height", "xoffset", "yoffset", "xadvance"};
    static const char* const common_keys[3] = {"lineHeight", "scaleW", "scaleH"};
    bool first = true;
    const char* w = p;
    while (w < eol) {
      const char* we = (const char*)memchr(w, ' ', (size_t)(eol - w));
      if (!we) we = eol;
      if (first) {
        kind.assign(w, (size_t)(we - w));
        first = false;
      } else {
        const char* eq = (const char*)memchr(w, '=', (size_t)(we - w));
        if (eq) {
          std::string k(w, (size_t)(eq - w));
          if (kind == "char") {
            for (int i = 0; i < 8; i++)
              if (k == char_keys[i]) v[i] = _font_number(eq + 1, we);
          } else if (kind == "common") {
            for (int i = 0; i < 3; i++)
              if (k == common_keys[i]) v[i] = _font_number(eq + 1, we);
          }
        }
      }
      w = we + 1;
    }
    if (kind == "common") {
      f.lineHeight = v[0];
      f.scaleW = v[1];
      f.scaleH = v[2];
      for (float& m : f.margins) m = 0;
      _font_metrics(f);
    } else if (kind == "char") {
      // The tables hold one entry per byte value: other ids are not ours.
      float id = v[0];
      if (id >= 1 && id < FONT_GLYPHS) {
        int c = (int)id;
        f.rects[c] = GfxRect{v[1], v[2], v[3], v[4]};
        f.glyphs[c] = FontGlyph{v[5], v[6], v[7]};
      }
    }
    p = eol + 1;
  }
}

// A description file that is broken or made for another picture can give a
// line with no height (every line drawn on the first, widgets of no height),
// one thousands of times the glyphs' (text shrunk to dots), or glyphs reaching
// outside the picture or far larger than the others (a smear of the picture
// across the screen). Such values are put right here, once a read, and said in
// the log: the text then shows at about its asked size, without the glyphs
// that cannot be shown.
static void _font_repair(FontInfo& f) {
  float pw = f.scaleW, ph = f.scaleH;
  if (!(pw > 0) || !(ph > 0)) {
    const GfxTexture* t = _gfx_get_tex(f.tex);
    pw = t->rect.w > 0 ? t->rect.w : _FONT_PICTURE_MAX;
    ph = t->rect.h > 0 ? t->rect.h : _FONT_PICTURE_MAX;
  }
  int cut = 0;
  std::vector<float> heights;
  for (int c = 1; c < FONT_GLYPHS; c++) {
    GfxRect& r = f.rects[c];
    if (r.w == 0 && r.h == 0) continue;
    if (!(r.x >= 0 && r.y >= 0 && r.w >= 0 && r.h >= 0 && r.x + r.w <= pw && r.y + r.h <= ph)) {
      r = GfxRect{0, 0, 0, 0};
      cut++;
    } else if (r.w > 0 && r.h > 0) {
      heights.push_back(r.h);
    }
  }
  float typical = 0, tallest = 0;
  if (!heights.empty()) {
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    typical = heights[heights.size() / 2];
  }
  for (int c = 1; c < FONT_GLYPHS; c++) {
    GfxRect& r = f.rects[c];
    if (!(r.w > 0 && r.h > 0)) continue;
    if (r.h > typical * _FONT_LINE_FACTOR) {
      r = GfxRect{0, 0, 0, 0};
      cut++;
      continue;
    }
    // With its drop below the line's top, as far as its own height.
    tallest = std::max(tallest, r.h + std::min(std::max(f.glyphs[c].yoffset, 0.0f), r.h));
  }
  if (cut) qel_log("font %s: %d glyphs outside the %gx%g picture or far too big, not drawn\n", f.file, cut, pw, ph);
  if (tallest == 0) qel_log("font %s: no glyph has a picture, its text shows nothing\n", f.file);

  bool sane = tallest > 0 ? f.lineHeight >= tallest / _FONT_LINE_FACTOR && f.lineHeight <= tallest * _FONT_LINE_FACTOR
                          : f.lineHeight > 0 && f.lineHeight <= _FONT_PICTURE_MAX;
  if (!sane) {
    float was = f.lineHeight;
    f.lineHeight = tallest > 0 ? tallest : f.size > 0 ? f.size : 1;
    qel_log("font %s: line height %g does not fit its glyphs, %g used\n", f.file, was, f.lineHeight);
    _font_metrics(f);
  }
  // Pen moves far past the line height would throw a glyph off the screen
  // or stretch its text over thousands of pixels.
  float far = f.lineHeight * _FONT_LINE_FACTOR;
  int moved = 0;
  for (int c = 1; c < FONT_GLYPHS; c++) {
    FontGlyph& g = f.glyphs[c];
    for (float* v : {&g.xoffset, &g.yoffset, &g.xadvance}) {
      if (std::fabs(*v) <= far) continue;
      *v = *v > 0 ? far : -far;
      moved++;
    }
  }
  if (moved) qel_log("font %s: %d glyph offsets or advances past %g kept to it\n", f.file, moved, far);
}

void font_reload(int font) {
  if (!_font_valid(font)) return;
  FontInfo& f = _font->fonts[font];
  f.mtime = driver_file_mtime(f.file);
  std::string text = driver_file_load(f.file);
  _font_parse(f, text.data(), (int)text.size());
  _font_repair(f);
}

void font_reload_auto() {
  if (!_font) return;
  int now = _font_now();
  if (now == _font->reload_last) return;
  _font->reload_last = now;
  for (int i = 1; i < (int)_font->fonts.size(); i++) {
    if (driver_file_changed(_font->fonts[i].file, _font->fonts[i].mtime, now)) font_reload(i);
  }
}

void font_set_margins(int font, float top, float right, float bottom, float left) {
  if (!_font_valid(font)) return;
  FontInfo& f = _font->fonts[font];
  f.margins[_FONT_TOP] = top * f.lineHeight;
  f.margins[_FONT_RIGHT] = right * f.lineHeight;
  f.margins[_FONT_BOTTOM] = bottom * f.lineHeight;
  f.margins[_FONT_LEFT] = left * f.lineHeight;
  _font_metrics(f);
}

// ---- measuring --------------------------------------------------------------------

float font_get_width(int font, const char* text) {
  if (!_font_valid(font)) return 0;
  const FontInfo& f = _font->fonts[font];
  if (!text) text = "";
  float left = f.margins[_FONT_LEFT] * f.scale;
  float pen = left, widest = 0;
  for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
    if (*p == '\n') {
      pen = left;
      continue;
    }
    pen += _font_adv(f, *p);
    if (pen > widest) widest = pen;
  }
  return std::ceil(widest + f.margins[_FONT_RIGHT] * f.scale + 0.01f);
}

float font_get_height(int font, const char* text, float wrap) {
  if (!_font_valid(font)) return 0;
  const FontInfo& f = _font->fonts[font];
  if (!text || wrap == 0) return f.line;
  FontWrap w;
  _font_wrap_calc(font, text, wrap, w);
  return w.count * f.line;
}

void _font_wrap_calc(int font, const char* text, float wrap, FontWrap& out) {
  out.count = 0;
  if (!_font_valid(font)) return;
  const FontInfo& f = _font->fonts[font];
  if (!text) text = "";
  const unsigned char* t = (const unsigned char*)text;
  float base = (f.margins[_FONT_LEFT] + f.margins[_FONT_RIGHT]) * f.scale;

  if (wrap == 0) {
    int start = 0;
    float width = base;
    for (int i = 0;; i++) {
      if (t[i] == 0 || t[i] == '\n') {
        out.lines[out.count++] = FontWrapLine{start, i, _font_int(width)};
        if (t[i] == 0 || out.count == FONT_WRAP_LINES) return;
        start = i + 1;
        width = base;
      } else {
        width += _font_adv(f, t[i]);
      }
    }
  }

  int start = 0;
  while (out.count < FONT_WRAP_LINES) {
    float pen = base, blank_w = 0;
    int blank = -1, end = start, j = start;
    float width = base;
    for (;; j++) {
      unsigned char c = t[j];
      if (c == 0 || c == '\n') {
        end = j;
        width = pen;
        break;
      }
      float adv = _font_adv(f, c);
      if (pen + adv <= wrap) {
        if (c == ' ' && j != 0) {
          blank = j;
          blank_w = pen;
        }
        pen += adv;
        continue;
      }
      // Past the width. A blank that does not fit ends the line itself: the
      // word before it fits and need not move down. Else back to the last
      // blank, else the word is broken here.
      if (c == ' ' && j != 0) {
        end = j;
        width = pen;
      } else if (blank >= 0) {
        end = blank;
        width = blank_w;
      } else {
        end = j;
        width = pen;
      }
      break;
    }
    out.lines[out.count++] = FontWrapLine{start, end, _font_int(width)};
    unsigned char c = t[end];
    if (c == 0) return;
    start = (c == ' ' || c == '\n') ? end + 1 : end;
  }
}

// ---- drawing ----------------------------------------------------------------------

void _font_draw(int font, const char* text, float x, float y) {
  if (!text) return;
  _font_draw_n(font, text, (int)strlen(text), x, y);
}

void font_draw(int font, const char* text, float x, float y, float wrap, int align) {
  if (!_font_valid(font) || !text) return;
  FontWrap w;
  _font_wrap_calc(font, text, wrap, w);
  std::string scratch = _font_filter(text);
  const FontInfo& f = _font->fonts[font];
  float s = f.scale;
  float py = y + f.margins[_FONT_TOP] * s;
  for (int i = 0; i < w.count; i++) {
    const FontWrapLine& l = w.lines[i];
    float px = x + f.margins[_FONT_LEFT] * s;
    if (wrap != 0) px += (align + 1) * (wrap - l.width) / 2;
    GfxRect box = {px, py, (float)l.width, f.lineHeight * s};
    if (_gfx_clip(&box, nullptr)) _font_draw_n(font, scratch.data() + l.start, l.end - l.start, px, py);
    py += f.line;
  }
}

const char* _font_filter(const char* text) { return text; }

// ---- caret queries ------------------------------------------------------------------

GfxRect font_crect(int font, const char* text, int i, float wrap, int align) {
  if (!_font_valid(font)) return GfxRect{0, 0, 0, 0};
  const FontInfo& f = _font->fonts[font];
  if (!text) text = "";
  const unsigned char* t = (const unsigned char*)text;
  FontWrap w;
  _font_wrap_calc(font, text, wrap, w);
  float lh = f.line, py = f.margins[_FONT_TOP] * f.scale, px = 0;
  for (int n = 0; n < w.count; n++) {
    const FontWrapLine& l = w.lines[n];
    px = _font_line_x(f, l, wrap, align, 0);
    for (int j = l.start; j <= l.end; j++) {
      if (j == i || i <= l.start) return GfxRect{px, py, _font_adv(f, t[j]), lh};
      px += _font_adv(f, t[j]);
    }
    py += lh;
  }
  return GfxRect{px, py - lh, 0, lh};
}

int _font_dist(GfxRect& r, int x, int y) {
  long long dy = std::llabs((long long)_font_int(r.y + r.h / 2 - y));
  long long dx = std::llabs((long long)_font_int(r.x - x));
  long long d = dy * 65536 + dx;
  return d > INT_MAX ? INT_MAX : (int)d;
}

int font_cnear(int font, const char* text, int x, int y, float wrap, int align) {
  if (!_font_valid(font)) return 0;
  const FontInfo& f = _font->fonts[font];
  if (!text) text = "";
  const unsigned char* t = (const unsigned char*)text;
  FontWrap w;
  _font_wrap_calc(font, text, wrap, w);
  if (w.count == 0) return 0;
  float lh = f.line, py = f.margins[_FONT_TOP] * f.scale, px = 0;
  long long best = -1;
  int result = 0;
  for (int n = 0; n < w.count; n++) {
    const FontWrapLine& l = w.lines[n];
    px = _font_line_x(f, l, wrap, align, 0);
    for (int j = l.start; j <= l.end; j++) {
      long long dy = std::llabs((long long)_font_int(py + lh / 2 - y));
      long long dx = std::llabs((long long)_font_int(px - x));
      long long d = dy * 65536 + dx;
      if (best < 0 || d < best) {
        best = d;
        result = j;
      }
      px += _font_adv(f, t[j]);
    }
    py += lh;
  }
  return result;
}
