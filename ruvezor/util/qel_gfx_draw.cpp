// qel_gfx_draw: blits, 9-slice boxes, tiles, quads and fills.
//
// Every box call clips on the CPU (the clip stack of qel_gfx) before any GL
// work, so fully hidden calls cost nothing; a drawn box is one 4-vertex
// triangle strip (x0,y0) (x0,y1) (x1,y0) (x1,y1) with vertex data on the stack.
#include "ruvezor/util/qel_gfx_draw.h"

#include "ruvezor/util/qel_gfx.h"        // clip stack
#include "ruvezor/util/qel_gfx_image.h"  // image and texture records
#include "ruvezor/util/qel_log.h"

#include <GL/gl.h>  // client arrays, texture binding, colour

#include <cstdint>

// ---- globals ------------------------------------------------------------------------

// Tiled calls stop short of this many cells: a tiny step over a huge box
// would otherwise spin for hours.
static const long long _GFX_DRAW_CELLS_MAX = 1 << 20;

// ---- module-internal functions --------------------------------------------------------

static void _gfx_draw_strip(GLuint gl, const GfxRect& d, const GfxRect& s) {
  float x0 = d.x, y0 = d.y, x1 = d.x + d.w, y1 = d.y + d.h;
  float s0 = s.x, t0 = s.y, s1 = s.x + s.w, t1 = s.y + s.h;
  const float v[8] = {x0, y0, x0, y1, x1, y0, x1, y1};
  const float tc[8] = {s0, t0, s0, t1, s1, t0, s1, t1};
  glBindTexture(GL_TEXTURE_2D, gl);
  glVertexPointer(2, GL_FLOAT, 0, v);
  glTexCoordPointer(2, GL_FLOAT, 0, tc);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// A negative size mirrors: the box is turned positive and its source flipped,
// so that a mirrored picture clips like any other.
static void _gfx_draw_rect(GLuint gl, GfxRect d, GfxRect s) {
  if (!gl || d.w == 0 || d.h == 0) return;
  if (d.w < 0) {
    d.x += d.w;
    d.w = -d.w;
    s.x += s.w;
    s.w = -s.w;
  }
  if (d.h < 0) {
    d.y += d.h;
    d.h = -d.h;
    s.y += s.h;
    s.h = -s.h;
  }
  if (!_gfx_clip(&d, &s)) return;
  _gfx_draw_strip(gl, d, s);
}

// The texture record behind an image, or null when it has no usable picture.
static const GfxTexture* _gfx_draw_tex_of(const GfxImage* im) {
  if (!im->id || !im->tex) return nullptr;
  const GfxTexture* t = _gfx_get_tex(im->tex);
  if (!t->id || !t->gl_name || !(t->rect.w > 0) || !(t->rect.h > 0)) return nullptr;
  if (!(im->trim.w > 0) || !(im->trim.h > 0)) return nullptr;
  return t;
}

static void _gfx_img_rect(int img, float sx, float sy, float sw, float sh, float x, float y, float w, float h) {
  const GfxImage* im = _gfx_get_img(img);
  const GfxTexture* t = _gfx_draw_tex_of(im);
  if (!t) return;
  const GfxRect& src = im->src;
  const GfxRect& trim = im->trim;
  float tw = t->rect.w, th = t->rect.h;
  GfxRect d = {x + w * trim.x / trim.w, y + h * trim.y / trim.h, w * src.w / trim.w, h * src.h / trim.h};
  GfxRect s = {(src.x + sx * src.w) / tw, (src.y + sy * src.h) / th, sw * src.w / tw, sh * src.h / th};
  _gfx_draw_rect(t->gl_name, d, s);
}

static void _gfx_draw_quad(GLuint gl, const float* pos, const float* tc) {
  if (!gl) return;
  glBindTexture(GL_TEXTURE_2D, gl);
  glVertexPointer(3, GL_FLOAT, 0, pos);
  glTexCoordPointer(2, GL_FLOAT, 0, tc);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// ---- images -------------------------------------------------------------------------

void gfx_img_blit(int img, float x, float y, float w, float h) {
  const GfxImage* im = _gfx_get_img(img);
  if (w == 0) w = im->trim.w;
  if (h == 0) h = im->trim.h;
  _gfx_img_rect(img, 0, 0, 1, 1, x, y, w, h);
}

void gfx_img_blit2(int img, float sx, float sy, float sw, float sh, float x, float y, float w, float h) {
  if (w == 0 || h == 0) return;
  _gfx_img_rect(img, sx, sy, sw, sh, x, y, w, h);
}

void gfx_img_quad(int img, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2,
                  float z2, float x3, float y3, float z3) {
  const GfxImage* im = _gfx_get_img(img);
  const GfxTexture* t = _gfx_draw_tex_of(im);
  if (!t) return;
  float s0 = im->src.x / t->rect.w, t0 = im->src.y / t->rect.h;
  float s1 = s0 + im->src.w / t->rect.w, t1 = t0 + im->src.h / t->rect.h;
  const float pos[12] = {x0, y0, z0, x1, y1, z1, x2, y2, z2, x3, y3, z3};
  const float tc[8] = {s0, t1, s1, t1, s0, t0, s1, t0};  // bottom-left, bottom-right, top-left, top-right
  _gfx_draw_quad(t->gl_name, pos, tc);
}

void gfx_img_box(int img, int x, int y, int w, int h, int border) {
  if (w <= 0 || h <= 0 || border <= 0) return;
  const GfxImage* im = _gfx_get_img(img);
  if (!_gfx_draw_tex_of(im)) return;
  long long iw = (long long)im->trim.w, ih = (long long)im->trim.h;
  if (iw <= 0 || ih <= 0) return;
  // Corners keep the picture's aspect, border units on the short side.
  long long cw = border, ch = border;
  if (iw > ih) cw = iw * border / ih;
  if (ih > iw) ch = ih * border / iw;
  long long w3 = w / 3, h3 = h / 3;
  if (cw > w3) {
    long long old = cw;
    cw = cw * w3 / old;
    ch = ch * w3 / old;
  }
  if (ch > h3 && ch > 0) {
    long long old = ch;
    ch = ch * h3 / old;
    cw = cw * h3 / old;
  }
  const long long xs[3] = {x, x + cw, (long long)x + w - cw};
  const long long ws[3] = {cw, w - 2 * cw, cw};
  const long long ys[3] = {y, y + ch, (long long)y + h - ch};
  const long long hs[3] = {ch, h - 2 * ch, ch};
  const float third = 1.0f / 3.0f;
  for (int r = 0; r < 3; r++) {
    for (int c = 0; c < 3; c++) {
      if (ws[c] <= 0 || hs[r] <= 0) continue;
      gfx_img_blit2(img, c * third, r * third, third, third, (float)xs[c], (float)ys[r], (float)ws[c], (float)hs[r]);
    }
  }
}

void gfx_img_tile(int img, int x, int y, int w, int h, int size) {
  if (w <= 0 || h <= 0 || size <= 0) return;
  if (!_gfx_draw_tex_of(_gfx_get_img(img))) return;
  long long cols = ((long long)w + size - 1) / size, rows = ((long long)h + size - 1) / size;
  if (cols * rows > _GFX_DRAW_CELLS_MAX) {
    qel_log("gfx_img_tile: %lld x %lld tiles, not drawn\n", cols, rows);
    return;
  }
  gfx_clip((float)x, (float)y, (float)w, (float)h);
  for (long long r = y; r < (long long)y + h; r += size)
    for (long long c = x; c < (long long)x + w; c += size) gfx_img_blit(img, (float)c, (float)r, (float)size, (float)size);
  gfx_unclip();
}

// ---- raw GL textures ------------------------------------------------------------------

void gfx_tex_blit(unsigned tex, float x, float y, float w, float h) {
  _gfx_draw_rect(tex, GfxRect{x, y, w, h}, GfxRect{0, 0, 1, 1});
}

void gfx_tex_blit2(unsigned tex, float s, float t, float ds, float dt, float x, float y, float w, float h) {
  _gfx_draw_rect(tex, GfxRect{x, y, w, h}, GfxRect{s, t, ds, dt});
}

void gfx_tex_quad(unsigned tex, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2,
                  float z2, float x3, float y3, float z3) {
  const float pos[12] = {x0, y0, z0, x1, y1, z1, x2, y2, z2, x3, y3, z3};
  const float tc[8] = {0, 1, 1, 1, 0, 0, 1, 0};
  _gfx_draw_quad(tex, pos, tc);
}

void gfx_tex_box(unsigned tex, int x, int y, int w, int h, int border) {
  if (!tex || w <= 0 || h <= 0 || border <= 0) return;
  const float b = (float)border, third = 1.0f / 3.0f;
  const float xs[3] = {(float)x, (float)x + b, (float)x + w - b};
  const float ws[3] = {b, (float)w - 2 * b, b};
  const float ys[3] = {(float)y, (float)y + b, (float)y + h - b};
  const float hs[3] = {b, (float)h - 2 * b, b};
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++) gfx_tex_blit2(tex, c * third, r * third, third, third, xs[c], ys[r], ws[c], hs[r]);
}

// One axis of the tiled box: where the cell starting at p goes, its length,
// and which third of the texture it takes.
static void _gfx_box_cell(long long p, long long start, long long len, long long b, long long* at, long long* n,
                          int* third) {
  long long last = start + len - b;  // where the closing cell begins
  if (p >= last) {
    *at = last;
    *n = b;
    *third = 2;
    return;
  }
  *at = p;
  *n = p + b > last ? last - p : b;
  *third = p == start ? 0 : 1;
}

void gfx_tex_box_slow(unsigned tex, int x, int y, int w, int h, int border) {
  if (!tex || w <= 0 || h <= 0 || border <= 0) return;
  long long b = border;
  long long cols = (w + b - 1) / b, rows = (h + b - 1) / b;
  if (cols * rows > _GFX_DRAW_CELLS_MAX) {
    qel_log("gfx_tex_box_slow: %lld x %lld cells, not drawn\n", cols, rows);
    return;
  }
  const float grid = 3.0f * (float)b;
  for (long long cy = y; cy < (long long)y + h; cy += b) {
    long long py, ph;
    int ty;
    _gfx_box_cell(cy, y, h, b, &py, &ph, &ty);
    for (long long cx = x; cx < (long long)x + w; cx += b) {
      long long px, pw;
      int tx;
      _gfx_box_cell(cx, x, w, b, &px, &pw, &tx);
      gfx_tex_blit2(tex, tx * b / grid, ty * b / grid, pw / grid, ph / grid, (float)px, (float)py, (float)pw,
                    (float)ph);
    }
  }
}

// ---- colour -----------------------------------------------------------------------------

void gfx_fill(unsigned rgb, float x, float y, float w, float h) { gfx_fill_a(rgb, x, y, w, h, 255); }

void gfx_fill_a(unsigned rgb, float x, float y, float w, float h, unsigned char alpha) {
  GfxRect d = {x, y, w, h};
  if (d.w < 0) {
    d.x += d.w;
    d.w = -d.w;
  }
  if (d.h < 0) {
    d.y += d.h;
    d.h = -d.h;
  }
  if (d.w == 0 || d.h == 0 || !_gfx_clip(&d, nullptr)) return;
  const float v[8] = {d.x, d.y, d.x, d.y + d.h, d.x + d.w, d.y, d.x + d.w, d.y + d.h};
  unsigned a = alpha;
  glColor4ub((GLubyte)(((rgb >> 16) & 255) * a / 255), (GLubyte)(((rgb >> 8) & 255) * a / 255),
             (GLubyte)((rgb & 255) * a / 255), (GLubyte)a);
  glDisable(GL_TEXTURE_2D);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glVertexPointer(2, GL_FLOAT, 0, v);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glEnable(GL_TEXTURE_2D);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glColor4f(1, 1, 1, 1);
}
