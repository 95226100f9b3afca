// qel_gfx_image: texture cache, images and atlases.
//
// Atlas description ("<name>.json"):
//   { "frames": { "<frame>.png": { "frame": {x, y, w, h},
//                                  "spriteSourceSize": {x, y, ...},
//                                  "sourceSize": {w, h} }, ... } }
// "frame" is where the pixels sit in the atlas picture; spriteSourceSize.x/y
// place them inside the untrimmed picture of size sourceSize.w/h.
#include "ruvezor/util/qel_gfx_image.h"

#include "ruvezor/util/qel_driver.h"  // data/document lookup, file times, texture loader, ticks
#include "ruvezor/util/qel_json.h"    // atlas descriptions
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_var.h"

#include <GL/gl.h>  // texture filters

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

// Names come from the network too (the images and planet styles of a host's
// records), and a host may name a new one in every record: a name that is
// no picture is remembered so that drawing it again looks for no file, but
// past this many the remembered misses are forgotten together. Each lookup
// of a new name asks the disk for every suffix in two directories: past
// this many a second, a new name draws nothing and is looked for again
// later. Twenty lookups a second are logged.
static const int _GFX_MISSES_MAX = 2048;
static const int _GFX_LOOKUPS_PER_SECOND = 256;

// ---- types ------------------------------------------------------------------------

struct _GfxImageData {
  std::map<std::string, int> img_names;  // image name -> id (0 = known missing)
  std::vector<GfxImage> imgs;            // slot 0 is a zeroed placeholder
  std::map<std::string, int> tex_names;  // texture name -> id (0 = known missing)
  std::vector<GfxTexture> texs;          // slot 0 is a zeroed placeholder
  uint32_t memused = 0;                  // sum of mem over all textures
  int reload_last = 0;                   // second of the last hot-reload pass
  long load_ms_total = 0;                // time spent in gfx_tex_load, only logged
  uint32_t context = 0;                  // GL context serial the names belong to
  int misses = 0;                        // names remembered as missing (0 entries of both maps)
  QelPerSecond lookups{_GFX_LOOKUPS_PER_SECOND};  // lookups of new names
  QelLogLimit lookup_log{"gfx", "lookups of new names were not logged or put off"};

  _GfxImageData() : imgs(1, GfxImage{}), texs(1, GfxTexture{}) {}
};

// ---- globals ----------------------------------------------------------------------

static _GfxImageData* _gfxi = nullptr;
static int (*_gfxi_clock)() = nullptr;  // test seam; null = time()
static uint32_t _gfxi_memmax_override = 0;

static const uint32_t _GFX_MEMMAX_BIG = 83886080;    // 80 MB
static const uint32_t _GFX_MEMMAX_SMALL = 33554432;  // 32 MB
static const int _GFX_IDLE_MIN = 5;                  // seconds before a texture may be freed

// ---- module-internal functions ----------------------------------------------------

static _GfxImageData& _gfxi_state() {
  if (!_gfxi) _gfxi = new _GfxImageData();
  return *_gfxi;
}

static int _gfxi_now() { return _gfxi_clock ? _gfxi_clock() : (int)time(nullptr); }

// Counts a lookup of a new name: false when it is put off to a later second;
// `said` tells whether it is made with its log lines.
static bool _gfxi_lookup(bool& said) {
  _GfxImageData& d = _gfxi_state();
  int now = _gfxi_now();
  said = d.lookup_log.allow(now);
  return d.lookups.take(now);
}

// Remembers that `name` of `names` is no picture.
static void _gfxi_miss(std::map<std::string, int>& names, const char* name) {
  _GfxImageData& d = _gfxi_state();
  if (++d.misses > _GFX_MISSES_MAX) {
    for (auto* m : {&d.tex_names, &d.img_names})
      for (auto it = m->begin(); it != m->end();) it = it->second ? std::next(it) : m->erase(it);
    d.misses = 1;
  }
  names[name] = 0;
}

static bool _gfxi_tex_valid(int tex) { return _gfxi && tex > 0 && tex < (int)_gfxi->texs.size(); }
static bool _gfxi_img_valid(int img) { return _gfxi && img > 0 && img < (int)_gfxi->imgs.size(); }


// A member of a JSON object, or null when v is no object or lacks it. Read
// without __get__, which would insert the key.
static const var* _gfxi_member(const var& v, const char* key) {
  if (v.__type__() != VAR_DICT) return nullptr;
  const auto& m = static_cast<const _var_dict*>(v._obj)->value;
  auto it = m.find(key);
  return it == m.end() ? nullptr : &it->second;
}

static float _gfxi_number(const var& v, const char* key) {
  const var* m = _gfxi_member(v, key);
  return m && m->__type__() == VAR_NUMBER ? (float)m->__num__() : 0.0f;
}

static GfxRect _gfxi_rect_of(const var& v, const char* key) {
  const var* m = _gfxi_member(v, key);
  if (!m) return GfxRect{0, 0, 0, 0};
  var copy = *m;
  return _gfx_json_rect(copy);
}

// ---- finding files ------------------------------------------------------------------

const char* _gfx_find_ext(const char* name) {
  static char found[512];
  static const char* const exts[] = {"", ".tga", ".png", ".jpg", ".qel"};
  if (!name || !driver_name_inside(name)) return nullptr;
  bool dotted = strchr(name, '.') != nullptr;
  for (int i = 0; i < 5; i++) {
    if (i == 0 && !dotted) continue;
    char cand[512];
    int n = snprintf(cand, sizeof(cand), "%s%s", name, exts[i]);
    if (n < 0 || n >= (int)sizeof(cand)) continue;
    if (driver_data_exists(cand) || driver_doc_exists(cand)) {
      str_put(found, sizeof(found), cand);
      return found;
    }
  }
  return nullptr;
}

const char* _gfx_find(const char* name) {
  if (!name) name = "";
  const char* dot = strchr(name, '.');
  std::string base = dot ? std::string(name, dot - name) : std::string(name);
  qel_log("_gfx_find(%s):%s:%s\n", name, base.c_str(), dot ? dot : "");
  if (!driver_name_inside(name)) qel_log("_gfx_find: %s leaves the game's folders, not looked for\n", name);
  return _gfx_find_ext(name);
}

int driver_gfx_exists(const char* name) { return driver_data_exists(name) || driver_doc_exists(name); }

const char* driver_gfx_fname(const char* name) {
  static char path[512];
  if (driver_data_exists(name)) {
    str_put(path, sizeof(path), driver_data_fname(name));
  } else if (driver_doc_exists(name)) {
    str_put(path, sizeof(path), driver_doc_fname(name));
  } else {
    str_put(path, sizeof(path), driver_data_fname(name));
  }
  return path;
}

// ---- textures -----------------------------------------------------------------------

GfxTexture* _gfx_get_tex(int tex) {
  _GfxImageData& d = _gfxi_state();
  return _gfxi_tex_valid(tex) ? &d.texs[tex] : &d.texs[0];
}

GfxImage* _gfx_get_img(int img) {
  _GfxImageData& d = _gfxi_state();
  return _gfxi_img_valid(img) ? &d.imgs[img] : &d.imgs[0];
}

// After the GL context was re-created every name of the table belongs to a
// context that is gone: they are all dropped (never deleted) and each texture
// loads again on its next use, under the same id.
static void _gfxi_context_check() {
  if (!_gfxi || _gfxi->context == driver_gl_context_serial()) return;
  _gfxi->context = driver_gl_context_serial();
  for (GfxTexture& t : _gfxi->texs) {
    t.gl_name = 0;
    t.loaded = 0;
    t.mem = 0;
  }
  _gfxi->memused = 0;
}

void _gfx_tex_gl_free(int tex) {
  if (!_gfxi_tex_valid(tex)) return;
  _gfxi_context_check();
  GfxTexture& t = _gfxi->texs[tex];
  if (t.gl_name && _gfx_is_ready() && glIsTexture(t.gl_name)) {
    GLuint name = t.gl_name;
    glDeleteTextures(1, &name);
  }
  t.gl_name = 0;
  _gfxi->memused = _gfxi->memused >= t.mem ? _gfxi->memused - t.mem : 0;
  t.mem = 0;
  t.loaded = 0;
}

void _gfx_tex_check(int tex) {
  if (!_gfxi_tex_valid(tex)) return;
  _gfxi_context_check();
  if (!_gfxi->texs[tex].loaded) gfx_tex_reload(tex);
  _gfxi->texs[tex].last_use = _gfxi_now();
}

unsigned gfx_tex_get_id(int tex) {
  if (!_gfxi_tex_valid(tex)) return 0;
  _gfx_tex_check(tex);
  return _gfxi->texs[tex].gl_name;
}

// gfx_tex_load, telling the image loader whether a new name was put off and
// whether its lookup was logged.
static int _gfxi_tex_load(const char* name, bool& put_off, bool& said) {
  put_off = false;
  said = true;
  if (!name) name = "";
  _GfxImageData& d = _gfxi_state();
  auto it = d.tex_names.find(name);
  if (it != d.tex_names.end()) {
    if (it->second) _gfx_tex_check(it->second);
    return it->second;
  }
  if (!_gfx_is_ready()) return 0;

  put_off = !_gfxi_lookup(said);
  if (put_off) return 0;
  if (said) qel_log("trying load tex %s\n", name);
  const char* hit = said ? _gfx_find(name) : _gfx_find_ext(name);
  if (!hit) {
    if (said) qel_log("unable to find tex %s\n", name);
    _gfxi_miss(d.tex_names, name);
    return 0;
  }
  std::string found = hit;

  d.texs.push_back(GfxTexture{});
  int id = (int)d.texs.size() - 1;
  qel_log("doing load tex %s (%d)\n", name, id);
  int t0 = driver_timer_get_ticks();
  d.tex_names[name] = id;
  GfxTexture& t = d.texs[id];
  t.id = id;
  str_put(t.file, sizeof(t.file), driver_gfx_fname(found.c_str()));
  str_put(t.name, sizeof(t.name), name);

  gfx_tex_reload(id);
  long ms = (long)(driver_timer_get_ticks() - t0);
  d.load_ms_total += ms;
  qel_log("gfx_tex_load: %ld ms, total %ld ms\n\n", ms, d.load_ms_total);

  _gfx_tex_check(id);
  return id;
}

int gfx_tex_load(const char* name) {
  bool put_off, said;
  return _gfxi_tex_load(name, put_off, said);
}

void gfx_tex_reload(int tex) {
  if (!_gfxi_tex_valid(tex)) return;
  _gfxi_context_check();
  _GfxImageData& d = *_gfxi;
  {
    GfxTexture& t = d.texs[tex];
    qel_log("gfx_tex_reload: %d %s %s\n", tex, t.name, t.file);
    if (t.gl_name) _gfx_tex_gl_free(tex);
  }
  GfxTexture& t = d.texs[tex];
  t.loaded = 1;
  t.mtime = driver_file_mtime(t.file);

  int w = 0, h = 0, tw = 0, th = 0;
  t.gl_name = driver_tex_load(t.file, &w, &h, &tw, &th);
  if (!t.filtered) {
    t.mag_filter = _qel_gl_texture_mag_filter();
    t.min_filter = _qel_gl_texture_min_filter();
    t.filtered = 1;
  }
  if (t.gl_name) {
    glBindTexture(GL_TEXTURE_2D, t.gl_name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, t.mag_filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, t.min_filter);
  }
  t.rect = GfxRect{0, 0, (float)tw, (float)th};
  // 4 bytes a pixel plus a third for the mipmaps; wide textures can pass 32 bits.
  uint64_t mem = (uint64_t)(tw > 0 ? tw : 0) * (uint64_t)(th > 0 ? th : 0) * 16 / 3;
  t.mem = mem > UINT32_MAX ? UINT32_MAX : (uint32_t)mem;
  t.last_use = _gfxi_now();
  d.memused = d.memused > UINT32_MAX - t.mem ? UINT32_MAX : d.memused + t.mem;

  char name[sizeof(t.name)];
  str_put(name, sizeof(name), t.name);
  GfxRect whole = {0, 0, (float)w, (float)h};
  gfx_img_add(name, tex, whole, whole);
  _gfx_tex_recycle();
}

uint32_t _gfx_memused() { return _gfxi ? _gfxi->memused : 0; }

uint32_t _gfx_memmax() {
  if (_gfxi_memmax_override) return _gfxi_memmax_override;
  if (strcmp(driver_get_idiom(), "desktop") == 0) return _GFX_MEMMAX_BIG;
  int w = 0, h = 0;
  driver_get_size(&w, &h);
  float s = driver_get_scale();
  int pw = (int)(w * s), ph = (int)(h * s);
  return pw >= 720 && ph >= 720 && (pw > 1279 || ph > 1279) ? _GFX_MEMMAX_BIG : _GFX_MEMMAX_SMALL;
}

void _gfx_tex_recycle() {
  if (!_gfxi) return;
  _GfxImageData& d = *_gfxi;
  qel_log("_gfx->memused: %.2fM\n", d.memused / 1048576.0);
  uint32_t cap = _gfx_memmax();
  while (d.memused > cap) {
    qel_log("QEL_GFX_MEMMAX: %.2fM exceeded by %.2f\n", cap / 1048576.0, d.memused / 1048576.0 - cap / 1048576.0);
    int now = _gfxi_now();
    int best = 0;
    long best_idle = -1;
    for (int i = 1; i < (int)d.texs.size(); i++) {
      const GfxTexture& t = d.texs[i];
      long idle = (long)now - t.last_use;
      if (!t.loaded || idle < _GFX_IDLE_MIN) continue;
      if (idle >= best_idle) {  // the later id wins a tie
        best = i;
        best_idle = idle;
      }
    }
    if (!best) break;
    qel_log("_gfx_tex_recycle: %d (%s)\n", best, d.texs[best].name);
    _gfx_tex_gl_free(best);
  }
}

// ---- images -------------------------------------------------------------------------

void gfx_img_add(const char* name, int tex, GfxRect src, GfxRect trim) {
  if (!name) name = "";
  _GfxImageData& d = _gfxi_state();
  int& slot = d.img_names[name];
  if (!slot) {
    d.imgs.push_back(GfxImage{});
    slot = (int)d.imgs.size() - 1;
  }
  GfxImage& img = d.imgs[slot];
  img.id = slot;
  img.tex = tex;
  img.src = src;
  img.trim = trim;
}

int gfx_img_load(const char* name) {
  if (!name) name = "";
  _GfxImageData& d = _gfxi_state();
  auto it = d.img_names.find(name);
  if (it == d.img_names.end()) {
    if (!_gfx_is_ready()) return 0;
    bool put_off, said;
    int tex = _gfxi_tex_load(name, put_off, said);
    if (put_off) return 0;
    if (!tex) {
      if (said) qel_log("unable to find img %s\n", name);
      _gfxi_miss(d.img_names, name);
      return 0;
    }
    it = d.img_names.find(name);
    if (it == d.img_names.end()) {
      // A name longer than a texture record keeps was added cut; give the
      // full name the same picture.
      const GfxImage* cut = _gfx_get_img(d.img_names[d.texs[tex].name]);
      GfxRect src = cut->src, trim = cut->trim;
      gfx_img_add(name, tex, src, trim);
      it = d.img_names.find(name);
    }
  }
  int id = it->second;
  if (id && d.imgs[id].tex) _gfx_tex_check(d.imgs[id].tex);
  return id;
}

unsigned gfx_img_get_tex(int img) {
  if (!_gfxi_img_valid(img)) return 0;
  int tex = _gfxi->imgs[img].tex;
  if (!_gfxi_tex_valid(tex)) return 0;
  _gfx_tex_check(tex);
  return _gfxi->texs[tex].gl_name;
}

int gfx_img_get_width(int img) { return _gfxi_img_valid(img) ? (int)_gfxi->imgs[img].trim.w : 0; }
int gfx_img_get_height(int img) { return _gfxi_img_valid(img) ? (int)_gfxi->imgs[img].trim.h : 0; }

double gfx_img_get_ratio(int img) {
  int w = gfx_img_get_width(img), h = gfx_img_get_height(img);
  return (double)(w > 1 ? w : 1) / (double)(h > 1 ? h : 1);
}

// ---- atlases ------------------------------------------------------------------------

GfxRect _gfx_json_rect(var& v) {
  return GfxRect{_gfxi_number(v, "x"), _gfxi_number(v, "y"), _gfxi_number(v, "w"), _gfxi_number(v, "h")};
}

void gfx_atlas_load(const char* name) {
  if (!name) name = "";
  _GfxImageData& d = _gfxi_state();
  if (d.tex_names.count(name)) return;
  if (!_gfx_is_ready()) return;  // nothing remembered: tried again once GL is up
  int tex = gfx_tex_load(name);
  char json[256];
  snprintf(json, sizeof(json), "%s.json", name);
  qel_log("gfx_atlas_load: %s\n", json);
  const char* found = _gfx_find(json);
  if (!found || !tex) return;
  // The description is read where it was found, which may be the document
  // directory, not only the data directory.
  char path[512];
  str_put(path, sizeof(path), driver_gfx_fname(found));
  str_put(d.texs[tex].atlas, sizeof(d.texs[tex].atlas), path);
  gfx_atlas_reload(tex, path);
}

void gfx_atlas_reload(int tex, const char* path) {
  if (!_gfxi_tex_valid(tex) || !path) return;
  char file[512];
  str_put(file, sizeof(file), path);
  _gfxi->texs[tex].atlas_mtime = driver_file_mtime(file);

  std::string text = driver_file_load(file);
  var root;
  if (text.empty() || json_decode(root, text.data(), text.size()) != 0) {
    qel_log("gfx_atlas_reload: unreadable atlas %s\n", file);
    return;
  }
  const var* frames = _gfxi_member(root, "frames");
  if (!frames || frames->__type__() != VAR_DICT) {
    qel_log("gfx_atlas_reload: no frames in %s\n", file);
    return;
  }
  // Copied first: adding images must not touch the map being walked.
  std::map<std::string, var> members = static_cast<const _var_dict*>(frames->_obj)->value;
  for (auto& [key, frame] : members) {
    std::string fname = key.substr(0, 255);
    size_t dot = fname.rfind('.');
    if (dot != std::string::npos) fname.resize(dot);
    GfxRect src = _gfxi_rect_of(frame, "frame");
    GfxRect off = _gfxi_rect_of(frame, "spriteSourceSize");
    GfxRect size = _gfxi_rect_of(frame, "sourceSize");
    gfx_img_add(fname.c_str(), tex, src, GfxRect{off.x, off.y, size.w, size.h});
  }
}

// ---- hot reload ---------------------------------------------------------------------

void gfx_reload_auto() {
  if (!_gfxi || !_gfx_is_ready()) return;
  int now = _gfxi_now();
  if (now == _gfxi->reload_last) return;
  _gfxi->reload_last = now;
  for (int i = 1; i < (int)_gfxi->texs.size(); i++) {
    const GfxTexture& t = _gfxi->texs[i];
    if (t.file[0] && driver_file_changed(t.file, t.mtime, now)) gfx_tex_reload(i);
  }
  for (int i = 1; i < (int)_gfxi->texs.size(); i++) {
    const GfxTexture& t = _gfxi->texs[i];
    if (t.atlas[0] && driver_file_changed(t.atlas, t.atlas_mtime, now)) {
      char path[512];
      str_put(path, sizeof(path), t.atlas);
      gfx_atlas_reload(i, path);
    }
  }
}

// ---- module life and seams ----------------------------------------------------------

void _gfx_img_deinit() {
  if (!_gfxi) return;
  for (int i = 1; i < (int)_gfxi->texs.size(); i++) _gfx_tex_gl_free(i);
  delete _gfxi;
  _gfxi = nullptr;
}

void _gfx_img_set_clock(int (*now)()) { _gfxi_clock = now; }
void _gfx_img_set_memmax(uint32_t bytes) { _gfxi_memmax_override = bytes; }
