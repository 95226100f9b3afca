// qel_driver_tex_load: image files and RGBA blocks become GL textures.
//
// Every texture is premultiplied (R, G, B := C * A >> 8), padded to a power of
// two of at least 64 a side (up to 4096; larger sides stay as they are) by
// repeating the last column and row, and uploaded with a mipmap chain built
// here by 2x2 box filtering down to 1 x 1.
#include "ruvezor/util/qel_driver.h"

#include "ruvezor/util/qel_log.h"

#include <GL/gl.h>       // texture upload
#include <stb_image.h>   // decoding; the implementation lives in libstb

#include <cstdlib>
#include <cstring>

// ---- globals ------------------------------------------------------------------------------

// Milliseconds spent building mipmaps over the whole run; only logged.
static long _driver_tex_mipmap_ms = 0;

// ---- module-internal functions ----------------------------------------------------------------

static void _driver_tex_zero(int* a, int* b, int* c, int* d) {
  if (a) *a = 0;
  if (b) *b = 0;
  if (c) *c = 0;
  if (d) *d = 0;
}

// The device class asks for halved textures (never on the desktop).
static bool _driver_tex_small_screen() {
  if (strcmp(driver_get_idiom(), "desktop") == 0) return false;
  int w = 0, h = 0;
  driver_get_size(&w, &h);
  float s = driver_get_scale();
  int pw = (int)(w * s), ph = (int)(h * s);
  return !(pw >= 720 && ph >= 720 && (pw > 1279 || ph > 1279));
}

// ---- public functions ---------------------------------------------------------------------------

int _driver_tex_size(int n) {
  for (int s = 64; s <= 4096; s *= 2)
    if (s >= n) return s;
  return n;
}

void _driver_tex_load_downscale_both(unsigned char* p, int* w, int* h) {
  int nw = *w / 2, nh = *h / 2;
  size_t stride = (size_t)*w * 4;
  for (int y = 0; y < nh; y++) {
    const unsigned char* r0 = p + (size_t)(2 * y) * stride;
    const unsigned char* r1 = r0 + stride;
    for (int x = 0; x < nw; x++) {
      unsigned char* o = p + ((size_t)y * nw + x) * 4;
      for (int c = 0; c < 4; c++) {
        int sum = r0[8 * x + c] + r0[8 * x + 4 + c] + r1[8 * x + c] + r1[8 * x + 4 + c];
        o[c] = (unsigned char)((sum + 2) >> 2);
      }
    }
  }
  *w = nw;
  *h = nh;
}

void _driver_tex_load_downscale_horz(unsigned char* p, int* w, int* h) {
  int nw = *w / 2;
  for (int y = 0; y < *h; y++) {
    const unsigned char* r = p + (size_t)y * *w * 4;
    for (int x = 0; x < nw; x++) {
      unsigned char* o = p + ((size_t)y * nw + x) * 4;
      for (int c = 0; c < 4; c++) o[c] = (unsigned char)((r[8 * x + c] + r[8 * x + 4 + c] + 1) >> 1);
    }
  }
  *w = nw;
}

void _driver_tex_load_downscale_vert(unsigned char* p, int* w, int* h) {
  int nh = *h / 2;
  size_t stride = (size_t)*w * 4;
  for (int y = 0; y < nh; y++) {
    const unsigned char* r0 = p + (size_t)(2 * y) * stride;
    const unsigned char* r1 = r0 + stride;
    unsigned char* o = p + (size_t)y * stride;
    for (size_t i = 0; i < stride; i++) o[i] = (unsigned char)((r0[i] + r1[i] + 1) >> 1);
  }
  *h = nh;
}

void _driver_tex_load_downscale(unsigned char* p, int* w, int* h) {
  if (*w >= 2 && *h >= 2)
    _driver_tex_load_downscale_both(p, w, h);
  else if (*w >= 2)
    _driver_tex_load_downscale_horz(p, w, h);
  else if (*h >= 2)
    _driver_tex_load_downscale_vert(p, w, h);
}

int _driver_gl_version() {
  const char* v = (const char*)glGetString(GL_VERSION);
  if (!v) return 0;
  char buf[256];
  size_t n = 0;
  while (n < sizeof(buf) - 1 && v[n] && (v[n] == '.' || (v[n] >= '0' && v[n] <= '9'))) {
    buf[n] = v[n];
    n++;
  }
  buf[n] = 0;
  int part[3] = {0, 0, 0};
  const char* s = buf;
  for (int i = 0; i < 3 && s; i++) {
    long v = strtol(s, nullptr, 10);  // clamped: a version field fits a byte
    part[i] = (int)(v < 0 ? 0 : v > 255 ? 255 : v);
    s = strchr(s, '.');
    if (s) s++;
  }
  return part[0] * 65536 + part[1] * 256 + part[2];
}

int _has_glGenerateMipmap() { return 0; }
int _has_gl_generate_mipmap() { return 0; }
int _has_gl_manual_mipmap() { return 1; }
int _qel_gl_texture_min_filter() { return GL_LINEAR_MIPMAP_LINEAR; }
int _qel_gl_texture_mag_filter() { return GL_LINEAR; }

// Padded pixels a texture may have. Every one is unpacked, premultiplied
// and box-filtered here and copied by GL: a 16384 x 16384 picture (a file of
// a few hundred KB can be one) held the game still for half a minute and
// took gigabytes. 4096 x 4096 is the largest picture the game pads to.
static const long long _DRIVER_TEX_MAX_PIXELS = 4096LL * 4096LL;

// An image of w x h pixels that no texture can hold, said in the log.
static bool _driver_tex_too_large(int w, int h) {
  int pw = _driver_tex_size(w), ph = _driver_tex_size(h);
  // Also keeps the padded buffer's byte count within an int (GL takes int sizes).
  if ((long long)pw * ph > _DRIVER_TEX_MAX_PIXELS) {
    qel_log("texture refused: %d x %d pads to %d x %d, too large\n", w, h, pw, ph);
    return true;
  }
  bool halve = _driver_tex_small_screen() && pw > 64 && ph > 64;
  int uw = halve ? pw / 2 : pw, uh = halve ? ph / 2 : ph;
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  if (max_size > 0 && (uw > max_size || uh > max_size)) {
    qel_log("texture refused: %d x %d exceeds GL_MAX_TEXTURE_SIZE %d\n", uw, uh, (int)max_size);
    return true;
  }
  return false;
}

unsigned int _driver_tex_load_from_data(unsigned char* pixels, int w, int h, int* out_w, int* out_h, int* tw,
                                        int* th) {
  _driver_tex_zero(out_w, out_h, tw, th);
  if (!glGetString(GL_VERSION)) return 0;
  if (!pixels || w <= 0 || h <= 0) {
    qel_log("texture refused: no pixels (%d x %d)\n", w, h);
    return 0;
  }

  if (_driver_tex_too_large(w, h)) return 0;
  int pw = _driver_tex_size(w), ph = _driver_tex_size(h);
  bool halve = _driver_tex_small_screen() && pw > 64 && ph > 64;

  size_t count = (size_t)w * h;
  for (size_t i = 0; i < count; i++) {
    unsigned char* p = pixels + i * 4;
    unsigned a = p[3];
    p[0] = (unsigned char)((p[0] * a) >> 8);
    p[1] = (unsigned char)((p[1] * a) >> 8);
    p[2] = (unsigned char)((p[2] * a) >> 8);
  }

  unsigned char* buf = pixels;
  unsigned char* padded = nullptr;
  if (pw != w || ph != h) {
    padded = (unsigned char*)calloc((size_t)pw * ph, 4);
    if (!padded) {
      qel_log("texture refused: out of memory for %d x %d\n", pw, ph);
      return 0;
    }
    size_t row = (size_t)w * 4, prow = (size_t)pw * 4;
    for (int y = 0; y < h; y++) {
      unsigned char* d = padded + (size_t)y * prow;
      memcpy(d, pixels + (size_t)y * row, row);
      const unsigned char* last = d + row - 4;
      for (int x = w; x < pw; x++) memcpy(d + (size_t)x * 4, last, 4);
    }
    const unsigned char* last_row = padded + (size_t)(h - 1) * prow;
    for (int y = h; y < ph; y++) memcpy(padded + (size_t)y * prow, last_row, prow);
    buf = padded;
  }

  int iw = w, ih = h;
  int sw = pw, sh = ph;
  if (halve) {
    _driver_tex_load_downscale(buf, &sw, &sh);
    iw /= 2;
    ih /= 2;
  }

  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glEnable(GL_TEXTURE_2D);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, sw, sh, 0, GL_RGBA, GL_UNSIGNED_BYTE, buf);

  int t0 = driver_timer_get_ticks();
  int level = 0;
  int mw = sw, mh = sh;
  while (mw > 1 || mh > 1) {
    _driver_tex_load_downscale(buf, &mw, &mh);
    level++;
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA, mw, mh, 0, GL_RGBA, GL_UNSIGNED_BYTE, buf);
  }
  long gen = (long)(driver_timer_get_ticks() - t0);
  _driver_tex_mipmap_ms += gen;
  qel_log("texture %d: mipmap levels: %d, gen=%ld ms total=%ld ms\n", (int)name, level, gen,
          _driver_tex_mipmap_ms);
  qel_log("texture %d: mipmaps v%d (GL_VERSION=%s)\n", (int)name, 1, (const char*)glGetString(GL_VERSION));

  free(padded);
  if (out_w) *out_w = iw;
  if (out_h) *out_h = ih;
  if (tw) *tw = sw;
  if (th) *th = sh;
  return name;
}

unsigned char* _stbi_load(const char* path, int* w, int* h, int* comp, int req_comp) {
  if (!path || !*path) return nullptr;
  int len = 0;
  void* data = driver_file_alloc(path, &len);
  if (!data) return nullptr;
  unsigned char* px = stbi_load_from_memory((const stbi_uc*)data, len, w, h, comp, req_comp);
  free(data);
  return px;
}

unsigned int _driver_tex_load(const char* path, int* w, int* h, int* tw, int* th) {
  _driver_tex_zero(w, h, tw, th);
  if (!path) path = "";
  int len = 0;
  void* data = driver_file_alloc(path, &len);
  if (!data) {
    qel_log("stbi_load failed %s - %s\n", path, "unreadable file");
    return 0;
  }
  int iw = 0, ih = 0, comp = 0;
  // The size first: a small file can unpack to gigabytes (a mod's image
  // made to do so), and one a texture can't hold is not worth unpacking.
  if (glGetString(GL_VERSION) && stbi_info_from_memory((const stbi_uc*)data, len, &iw, &ih, &comp) && iw > 0 &&
      ih > 0 && _driver_tex_too_large(iw, ih)) {
    free(data);
    return 0;
  }
  unsigned char* px = stbi_load_from_memory((const stbi_uc*)data, len, &iw, &ih, &comp, 4);
  free(data);
  if (!px) {
    const char* why = stbi_failure_reason();
    qel_log("stbi_load failed %s - %s\n", path, why ? why : "unknown");
    return 0;
  }
  unsigned int name = _driver_tex_load_from_data(px, iw, ih, w, h, tw, th);
  stbi_image_free(px);
  qel_log("loaded %s as %d (%d,%d)->(%d,%d):(%d,%d)\n", path, (int)name, iw, ih, w ? *w : 0, h ? *h : 0,
          tw ? *tw : 0, th ? *th : 0);
  return name;
}

unsigned int driver_tex_load(const char* path, int* w, int* h, int* tw, int* th) {
  qel_log("driver_tex_load %s\n", path ? path : "");
  return _driver_tex_load(path, w, h, tw, th);
}
