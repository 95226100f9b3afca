// qel_gfx: graphics state, view, projection, coordinate mapping and the clip
// stack. A logical point p lands at window pixel
//   view centre + scale * R(orient) * (p + shift - size / 2)
// with R rotating in the y-down plane; input goes back the same way.
#include "ruvezor/util/qel_gfx.h"

#include "ruvezor/util/qel_driver.h"     // screen size in pixels, Event
#include "ruvezor/util/qel_gfx_image.h"  // the texture tables end with the module
#include "ruvezor/util/qel_log.h"

#include <GL/gl.h>  // fixed-function state, matrix stack, textures

#include <cmath>
#include <numbers>

// ---- types ------------------------------------------------------------------------------

struct _GfxData {
  float hw_w = 0, hw_h = 0;             // screen size in pixels last seen from the driver
  GfxRect view = {0, 0, 0, 0};          // viewport in window pixels
  float size_w = 0, size_h = 0;         // logical screen size (whole numbers)
  float orient = 0;                     // rotation of the logical screen, degrees
  float scale = 1;                      // logical units to pixels
  GfxRect focus = {0, 0, 0, 0};         // focus rectangle, logical units; zero = none
  float shift_x = 0, shift_y = 0;       // added to logical coordinates before centring
  // (the image and texture tables and memused live in qel_gfx_image)
  float trans_x = 0, trans_y = 0;       // sum of the gfx_translate offsets in force
  GfxRect clips[GFX_CLIP_MAX] = {};     // clip stack, untranslated logical units
  int32_t clip_depth = 0;               // pushes not yet undone (may exceed the stack)
  float ortho_near = -1, ortho_far = 1; // depth range of the projection
};

// ---- globals ------------------------------------------------------------------------------

static _GfxData* _gfx = nullptr;

// Each caller keeps its own memory of the GL error it logged last.
static GLenum _gfx_err_reset = GL_NO_ERROR;
static GLenum _gfx_err_clear = GL_NO_ERROR;
static GLenum _gfx_err_ortho = GL_NO_ERROR;

// ---- module-internal functions ------------------------------------------------------------

static void _gfx_log_gl_error(GLenum* last) {
  if (!_gfx_is_ready()) return;
  GLenum err = glGetError();
  if (err != *last) {
    qel_log("glGetError() -> %d\n", (int)err);
    *last = err;
  }
}

// A window with no area (minimised, or not yet sized) keeps the last view, so
// that nothing downstream maps through a zero-sized screen.
static void _gfx_view_refresh() {
  int w = 0, h = 0;
  driver_get_size(&w, &h);
  if (w <= 0 || h <= 0) return;
  if ((float)w == _gfx->hw_w && (float)h == _gfx->hw_h) return;
  _gfx->view = GfxRect{0, 0, (float)w, (float)h};
  _gfx->hw_w = (float)w;
  _gfx->hw_h = (float)h;
}

static void _gfx_rotation(float* c, float* s) {
  double a = (double)_gfx->orient * std::numbers::pi / 180.0;
  *c = (float)cos(a);
  *s = (float)sin(a);
}

// ---- module life and GL state ---------------------------------------------------------------

bool _gfx_is_ready() { return glGetString(GL_VERSION) != nullptr; }

void gfx_init() {
  if (!_gfx) {
    _gfx = new _GfxData();
    gfx_gl_state_reset();
    _gfx->size_w = 256;
    _gfx->size_h = 256;
    _gfx->orient = 0;
    _gfx->scale = 1;
  }
  _gfx_view_refresh();
}

void gfx_deinit() {
  if (!_gfx) return;
  qel_log("gfx_deinit()\n");
  qel_log("_gfx->memused: %.2fM\n", _gfx_memused() / 1048576.0);
  _gfx_img_deinit();
  qel_log("_gfx->memused: %.2fM\n", _gfx_memused() / 1048576.0);
  delete _gfx;
  _gfx = nullptr;
}

bool gfx_gl_name_dropped(uint32_t& name, uint32_t& context) {
  if (!name || context == driver_gl_context_serial()) return false;
  name = 0;
  return true;
}

void gfx_gl_name_free(uint32_t& name, uint32_t& context) {
  if (!gfx_gl_name_dropped(name, context) && name && _gfx_is_ready()) {
    GLuint n = name;
    glDeleteTextures(1, &n);
  }
  name = 0;
}

void gfx_gl_state_reset() {
  _gfx_log_gl_error(&_gfx_err_reset);
  glDisable(GL_DEPTH_TEST);
  glActiveTexture(GL_TEXTURE0);
  glClientActiveTexture(GL_TEXTURE0);
  glEnable(GL_TEXTURE_2D);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);  // every texture is premultiplied
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
  glDisable(GL_CULL_FACE);
  glColor4f(1, 1, 1, 1);
}

void gfx_clear() {
  _gfx_log_gl_error(&_gfx_err_clear);
  glClearColor(0, 0, 0, 1);
  glClearDepth(1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// ---- view and projection ------------------------------------------------------------------

void gfx_set_view(int x, int y, int w, int h) { _gfx->view = GfxRect{(float)x, (float)y, (float)w, (float)h}; }

void gfx_get_view(int* x, int* y, int* w, int* h) {
  if (x) *x = (int)_gfx->view.x;
  if (y) *y = (int)_gfx->view.y;
  if (w) *w = (int)_gfx->view.w;
  if (h) *h = (int)_gfx->view.h;
}

void gfx_set_size(int w, int h) {
  _gfx->size_w = (float)w;
  _gfx->size_h = (float)h;
}

void gfx_get_size(int* w, int* h) {
  // Before the 2D state exists (headless, no window yet) the size reads 0.
  if (w) *w = _gfx ? (int)_gfx->size_w : 0;
  if (h) *h = _gfx ? (int)_gfx->size_h : 0;
}

// The reverse mapping divides by the scale, so only a positive finite one is taken.
void gfx_set_scale(float scale) {
  if (!(scale > 0) || !std::isfinite(scale)) {
    qel_log("gfx_set_scale: ignoring %f\n", (double)scale);
    return;
  }
  _gfx->scale = scale;
}

float gfx_get_scale() { return _gfx->scale; }
void gfx_set_orient(float degrees) { _gfx->orient = degrees; }
float gfx_get_orient() { return _gfx->orient; }

void gfx_set_shift(float x, float y) {
  _gfx->shift_x = x;
  _gfx->shift_y = y;
}

void gfx_get_shift(int* x, int* y) {
  if (x) *x = (int)_gfx->shift_x;
  if (y) *y = (int)_gfx->shift_y;
}

void gfx_set_ortho_near_far(float near_z, float far_z) {
  _gfx->ortho_near = near_z;
  _gfx->ortho_far = far_z;
}

void gfx_ortho() {
  _gfx_log_gl_error(&_gfx_err_ortho);
  _gfx_view_refresh();
  // The last non-empty screen size: equal to the driver's unless the window
  // has no area right now.
  double w = _gfx->hw_w, h = _gfx->hw_h;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  if (w > 0 && h > 0 && _gfx->ortho_near != _gfx->ortho_far) glOrtho(0, w, h, 0, _gfx->ortho_near, _gfx->ortho_far);
  glTranslatef(_gfx->view.x + _gfx->view.w / 2, _gfx->view.y + _gfx->view.h / 2, 0);
  glScalef(_gfx->scale, _gfx->scale, 1);
  glRotatef(_gfx->orient, 0, 0, 1);
  glTranslatef(-_gfx->size_w / 2, -_gfx->size_h / 2, 0);
  glTranslatef(_gfx->shift_x, _gfx->shift_y, 0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void gfx_translate(float x, float y) {
  glTranslatef(x, y, 0);
  _gfx->trans_x += x;
  _gfx->trans_y += y;
}

// ---- coordinate mapping ---------------------------------------------------------------------

GfxRect gfx_pos_to_hwpos(GfxRect r) {
  float c, s;
  _gfx_rotation(&c, &s);
  float x = r.x + _gfx->shift_x - _gfx->size_w / 2;
  float y = r.y + _gfx->shift_y - _gfx->size_h / 2;
  r.x = (x * c - y * s) * _gfx->scale + _gfx->view.x + _gfx->view.w / 2;
  r.y = (x * s + y * c) * _gfx->scale + _gfx->view.y + _gfx->view.h / 2;
  return r;
}

GfxRect gfx_hwpos_to_pos(GfxRect r) {
  float c, s;
  _gfx_rotation(&c, &s);
  float scale = _gfx->scale > 0 ? _gfx->scale : 1;
  float u = (r.x - _gfx->view.x - _gfx->view.w / 2) / scale;
  float v = (r.y - _gfx->view.y - _gfx->view.h / 2) / scale;
  r.x = u * c + v * s + _gfx->size_w / 2 - _gfx->shift_x;
  r.y = v * c - u * s + _gfx->size_h / 2 - _gfx->shift_y;
  return r;
}

GfxRect gfx_rect_to_hwrect(GfxRect r) {
  GfxRect a = gfx_pos_to_hwpos(GfxRect{r.x, r.y, 0, 0});
  GfxRect b = gfx_pos_to_hwpos(GfxRect{r.x + r.w, r.y + r.h, 0, 0});
  return GfxRect{a.x, a.y, b.x - a.x, b.y - a.y};
}

GfxRect gfx_hwrect_to_rect(GfxRect r) {
  GfxRect a = gfx_hwpos_to_pos(GfxRect{r.x, r.y, 0, 0});
  GfxRect b = gfx_hwpos_to_pos(GfxRect{r.x + r.w, r.y + r.h, 0, 0});
  return GfxRect{a.x, a.y, b.x - a.x, b.y - a.y};
}

void gfx_event_correct(Event* e) {
  if (!e) return;
  if (e->type != 8 && e->type != 9 && e->type != 10 && e->type != 14) return;
  e->raw_x = e->x;
  e->raw_y = e->y;
  e->raw_dx = e->dx;
  e->raw_dy = e->dy;
  GfxRect r = gfx_hwrect_to_rect(GfxRect{e->x, e->y, e->dx, e->dy});
  e->x = r.x;
  e->y = r.y;
  e->dx = r.w;
  e->dy = r.h;
}

// ---- focus -------------------------------------------------------------------------------------

// Text entry marks its area from event handling, which may run before the
// 2D state exists (no window yet): then there is nothing to mark.
void gfx_focus(GfxRect r) {
  if (_gfx) _gfx->focus = r;
}
void gfx_blur() {
  if (_gfx) _gfx->focus = GfxRect{0, 0, 0, 0};
}
GfxRect _gfx_get_focus_fixed() { return _gfx ? gfx_rect_to_hwrect(_gfx->focus) : GfxRect{0, 0, 0, 0}; }

// ---- clip stack ----------------------------------------------------------------------------------

void gfx_clip(float x, float y, float w, float h) {
  _gfx->clip_depth++;
  int d = _gfx->clip_depth;
  if (d > GFX_CLIP_MAX) return;
  GfxRect c = {x + _gfx->trans_x, y + _gfx->trans_y, w, h};
  if (d > 1 && c.w > 0 && c.h > 0) {
    const GfxRect& lo = _gfx->clips[d - 2];
    if (lo.x > c.x) {
      c.w -= lo.x - c.x;
      c.x = lo.x;
    }
    if (c.w > 0 && c.x + c.w > lo.x + lo.w) c.w -= (c.x + c.w) - (lo.x + lo.w);
    if (c.w > 0 && lo.y > c.y) {
      c.h -= lo.y - c.y;
      c.y = lo.y;
    }
    if (c.w > 0 && c.h > 0 && c.y + c.h > lo.y + lo.h) c.h -= (c.y + c.h) - (lo.y + lo.h);
  }
  _gfx->clips[d - 1] = c;
}

void gfx_unclip() {
  if (_gfx->clip_depth > 0) _gfx->clip_depth--;
}

// One axis of _gfx_clip: the span at pos of size on screen kept within
// [lo, lo + len); the source span (when given) loses the same share.
// False when nothing is left.
static bool _gfx_clip_axis(float& pos, float& size, float* src_pos, float* src_size, float lo, float len) {
  if (lo > pos) {
    float cut = lo - pos;
    if (src_pos) {
      float k = *src_size * cut / size;
      *src_pos += k;
      *src_size -= k;
    }
    pos += cut;
    size -= cut;
    if (!(size > 0)) return false;
  }
  if (pos + size > lo + len) {
    float cut = pos + size - (lo + len);
    if (src_pos) *src_size -= *src_size * cut / size;
    size -= cut;
    if (!(size > 0)) return false;
  }
  return true;
}

int _gfx_clip(GfxRect* dst, GfxRect* src) {
  int d = _gfx->clip_depth;
  if (d == 0) return 1;
  if (d > GFX_CLIP_MAX) return 0;
  GfxRect c = _gfx->clips[d - 1];
  c.x -= _gfx->trans_x;
  c.y -= _gfx->trans_y;
  if (!(dst->w > 0) || !(dst->h > 0)) return 0;
  if (!_gfx_clip_axis(dst->x, dst->w, src ? &src->x : nullptr, src ? &src->w : nullptr, c.x, c.w)) return 0;
  if (!_gfx_clip_axis(dst->y, dst->h, src ? &src->y : nullptr, src ? &src->h : nullptr, c.y, c.h)) return 0;
  return 1;
}
