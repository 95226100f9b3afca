// zentar_planet_paint: the planet sphere renderer (see zentar_planet_paint.h).
#include "render/zentar_planet_paint.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "render/colorblind.h"  // colorblind_map
#include "shell/game_parts.h"  // game_get_vquality
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar.h"
#include "render/zentar_draw_paint.h"

_PlanetPaintData _planet_paint;

namespace {

constexpr double PI = 3.14159265358979323846;

// High-quality face parameter by level; the low-quality one is always 32.
constexpr int HQ_FACES[PLANET_LEVELS] = {50, 55, 60, 65, 70, 76, 81, 86, 91, 96, 102, 107, 112, 117, 122, 128};
constexpr int LQ_FACES = 32;

void _check(int point) {
    int e = (int)glGetError();
    if (e != _planet_paint.gl_err[point]) {
        _planet_paint.gl_err[point] = e;
        _qel_iprintf(__FILE__, __LINE__, "planets_paint_spheres", 0, "glGetError() -> %d\n", e);
    }
}

struct Vec3 {
    double x, y, z;
};

Vec3 _normalised(Vec3 v) {
    double l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (l > 0) v = {v.x / l, v.y / l, v.z / l};
    return v;
}

// Fills the lattice of n rings and 2n segments into s; disco replaces the
// normals of every full quad by one jittered facet normal.
void _build(PlanetSphere& s, int n, bool disco) {
    const int tris = 4 * n * n;
    s.vertices.assign((size_t)tris * 9, 0.0f);
    s.texcoords.assign((size_t)tris * 6, 0.0f);
    s.normals.assign((size_t)tris * 9, 0.0f);
    s.count = tris;
    // Scaled out so the faceted outline does not look smaller than radius 1.
    const double R = 1.0 / std::cos(2 * PI / (3.5 * n));
    auto unit = [&](int i, int j) {
        double th = i * PI / n, ph = j * PI / n;
        return Vec3{std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)};
    };
    int at = 0;  // vertex index
    auto put = [&](int i, int j) {
        Vec3 p = unit(i, j);
        s.vertices[at * 3 + 0] = (float)(R * p.x);
        s.vertices[at * 3 + 1] = (float)(R * p.y);
        s.vertices[at * 3 + 2] = (float)(R * p.z);
        s.texcoords[at * 2 + 0] = (float)j / (float)(2 * n);
        s.texcoords[at * 2 + 1] = (float)i / (float)n;
        Vec3 nv = _normalised(p);
        s.normals[at * 3 + 0] = (float)nv.x;
        s.normals[at * 3 + 1] = (float)nv.y;
        s.normals[at * 3 + 2] = (float)nv.z;
        at++;
    };
    for (int i = 0; i < n; i++)
        for (int j = 0; j < 2 * n; j++) {
            const int first = at;
            if (i != 0) {
                put(i + 1, j);
                put(i, j);
                put(i, j + 1);
            }
            if (i != n - 1) {
                put(i, j + 1);
                put(i + 1, j + 1);
                put(i + 1, j);
            }
            if (!disco || i == 0 || i == n - 1) continue;
            Vec3 m = {0, 0, 0};
            for (int v = first; v < at; v++) {
                m.x += s.normals[v * 3 + 0];
                m.y += s.normals[v * 3 + 1];
                m.z += s.normals[v * 3 + 2];
            }
            m = {m.x / 6, m.y / 6, m.z / 6};
            m.x += rand() / 2147483648.0 * 0.3 - 0.15;
            m.y += rand() / 2147483648.0 * 0.3 - 0.15;
            m.z += rand() / 2147483648.0 * 0.3 - 0.15;
            m = _normalised(m);
            for (int v = first; v < at; v++) {
                s.normals[v * 3 + 0] = (float)m.x;
                s.normals[v * 3 + 1] = (float)m.y;
                s.normals[v * 3 + 2] = (float)m.z;
            }
        }
}

template <size_t N>
std::string _name(const char (&f)[N]) {
    return std::string(f, strnlen(f, N));
}

const float ZERO4[4] = {0, 0, 0, 0};

void _light(GLenum l, GLenum what, const float* v) { glLightfv(l, what, v); }

}  // namespace

int _planet_rings(int faces, bool disco) {
    return (int)std::sqrt(disco ? (double)faces : faces / 2.0);
}

int _planet_level(float r, float k) {
    double surface = 4 * PI * (double)r * r * k;
    return std::clamp(zt_sat_int(surface * 16 / 8192), 0, PLANET_LEVELS - 1);
}

int my_light_sort(const void* a, const void* b) {
    int32_t ka = ((const PlanetLight*)a)->key, kb = ((const PlanetLight*)b)->key;
    // The sign of kb - ka, without overflowing on extreme keys.
    return (kb > ka) - (kb < ka);
}

void planet_paint_init() {
    if (_planet_paint.built) return;
    _planet_paint.built = true;
    for (int L = 0; L < PLANET_LEVELS; L++) {
        const int P = HQ_FACES[L];
        qel_log("planet_paint_init: (hq) %d = %d faces\n", L, P);
        _build(_planet_paint._planet_spheres[1][L], _planet_rings(P, false), false);
        _build(_planet_paint._planet_spheres[3][L], _planet_rings(P, true), true);
        qel_log("planet_paint_init: (lq) %d = %d faces\n", L, LQ_FACES);
        _build(_planet_paint._planet_spheres[0][L], _planet_rings(LQ_FACES, false), false);
        _build(_planet_paint._planet_spheres[2][L], _planet_rings(LQ_FACES, true), true);
    }
}

void planets_paint(Zentar& world, float k) {
    planets_paint_spheres(world, k);
    planets_paint_overlays(world);
}

// ---- the sphere pass, step by step ------------------------------------------------

namespace {

const GLenum FLEET_GL[4] = {GL_LIGHT4, GL_LIGHT5, GL_LIGHT6, GL_LIGHT7};

// Normals, lighting, culling and colour material on for the pass.
void _spheres_gl_begin() {
    _check(0);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnable(GL_NORMALIZE);
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glEnable(GL_COLOR_MATERIAL);
    _check(1);
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    _check(2);
    glColorMaterial(GL_FRONT, GL_AMBIENT);
    _check(3);
}

// The visible fleets into the light table, and the centre of the visible
// planets ((0, 0) when none shows).
void _spheres_gather(Zentar& world, int top, float& cx, float& cy) {
    int& lights_n = _planet_paint.lights_n;
    lights_n = 0;
    double sx = 0, sy = 0;
    int planets = 0;
    for (int n = 1; n < top; n++) {
        const Item& it = world.items[n];
        if (it.in_use != 1 || !zt_in_clip(world, it.position_x, it.position_y)) continue;
        if (it.has_planet) {
            sx += it.position_x;
            sy += it.position_y;
            planets++;
        }
        if (it.has_fleet && lights_n < PLANET_LIGHTS_MAX)
            _planet_paint.lights[lights_n++] = PlanetLight{0, 0, it.position_x, it.position_y, (float)it.fleet_units, n};
    }
    cx = planets ? (float)(sx / planets) : 0;
    cy = planets ? (float)(sy / planets) : 0;
}

// Lights 0-2 around the centre, light 3 for the ambient tint, and the fleet
// lights 4-7 dark (on only with fleet lights); the layers give the colours.
void _spheres_lights_place(float cx, float cy, bool fleet_lights) {
    for (GLenum l : {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2}) {
        _light(l, GL_AMBIENT, ZERO4);
        _light(l, GL_DIFFUSE, ZERO4);
        _light(l, GL_SPECULAR, ZERO4);
    }
    const float p0[4] = {cx + 1440, cy - 720, -720, 1};
    const float p1[4] = {cx + 1440, cy - 720, 720, 1};
    const float p2[4] = {cx - 1440, cy + 720, -360, 1};
    _light(GL_LIGHT0, GL_POSITION, p0);
    _light(GL_LIGHT1, GL_POSITION, p1);
    _light(GL_LIGHT2, GL_POSITION, p2);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHT2);
    // Light 3 only ever gives ambient.
    _light(GL_LIGHT3, GL_DIFFUSE, ZERO4);
    _light(GL_LIGHT3, GL_SPECULAR, ZERO4);
    glEnable(GL_LIGHT3);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ZERO4);
    _check(4);

    for (GLenum l : FLEET_GL) glDisable(l);
    if (fleet_lights)
        for (GLenum l : FLEET_GL) {
            _light(l, GL_SPECULAR, ZERO4);
            _light(l, GL_DIFFUSE, ZERO4);
            _light(l, GL_AMBIENT, ZERO4);
            glEnable(l);
        }
    _check(5);
}

// A layer's colour into the ambient light 3 and the shading lights 0-2.
void _layer_lights(uint32_t flags, unsigned c, float alpha) {
    _light(GL_LIGHT3, GL_AMBIENT, (flags & PLANET_AMBIENT) ? _color_2f(c, alpha) : ZERO4);
    if (flags & PLANET_LIGHTING) {
        _light(GL_LIGHT0, GL_DIFFUSE, _color_2f(c, alpha));
        _light(GL_LIGHT1, GL_DIFFUSE, _color_2f(0xAAAAAA, alpha));
        _light(GL_LIGHT2, GL_DIFFUSE, _color_2f(c, alpha));
    } else {
        for (GLenum l : {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2}) _light(l, GL_DIFFUSE, ZERO4);
    }
}

// The four fleets that weigh most on the planet (units over squared
// distance) light it in their colours; a layer without fleet lights is dark
// to them.
void _layer_fleet_lights(Zentar& world, const Item& it, uint32_t flags) {
    if (!(flags & PLANET_FLEETS)) {
        for (GLenum l : FLEET_GL) _light(l, GL_DIFFUSE, ZERO4);
        return;
    }
    PlanetLight* lights = _planet_paint.lights;
    const int lights_n = _planet_paint.lights_n;
    for (int i = 0; i < lights_n; i++) {
        PlanetLight& f = lights[i];
        const double dx = f.x - it.position_x, dy = f.y - it.position_y;
        double w = f.units * 1000.0 / (dx * dx + dy * dy);
        if (!(w == w)) w = 0;  // no units at no distance
        f.weight = (float)w;
        f.key = zt_sat_int(w * 1000);
    }
    qsort(lights, (size_t)lights_n, sizeof(PlanetLight), my_light_sort);
    for (int i = 0; i < 4; i++) {
        PlanetLight f = i < lights_n ? lights[i] : PlanetLight{};
        const unsigned fc = i < lights_n ? (unsigned)world.items[f.item].render_color & 0xFFFFFF : 0;
        _light(FLEET_GL[i], GL_DIFFUSE, _color_2f(fc, std::min(1.0f, f.weight / 2)));
        const float pos[4] = {f.x, f.y, 32, 1};
        _light(FLEET_GL[i], GL_POSITION, pos);
    }
}

// Blending and face culling of a layer.
void _layer_blend(uint32_t flags) {
    if (flags & PLANET_PREMUL) glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    if (flags & PLANET_ADD) glBlendFunc(GL_ONE, GL_ONE);
    if (flags & PLANET_BACKFACES)
        glDisable(GL_CULL_FACE);
    else
        glEnable(GL_CULL_FACE);
}

// Pushes the layer's place, size and spin at time t. A spin-by-three layer
// triples the seed for the layers after it too.
void _layer_transform(const Item& it, float r, uint32_t flags, int64_t& seed, double t) {
    if (flags & PLANET_SPIN3) seed *= 3;  // 64 bits: a mod's seed cannot overflow
    const double s = (double)seed;
    glPushMatrix();
    glTranslatef(it.position_x, it.position_y, 0);
    glScalef(r, r, r);
    if (!(flags & PLANET_YAXIS)) {
        const double sign = (seed & 1) ? 1.0 : -1.0;
        glRotated(std::fmod(s * 37, 360.0), 0, 1, 0);
        glRotated(std::fmod(s * 113, 360.0), 1, 0, 0);
        glRotated(sign * ((double)(seed % 43) / 100 + 1) * t * 60 / 3 + std::fmod(s * 73, 360.0), 0, 0, 1);
    } else {
        glRotated(t * 60 / 3 + std::fmod(s * 36, 360.0), 0, 1, 0);
    }
}

// Binds the layer's texture; the name looked up last is remembered.
void _layer_texture(const PlanetLayer& layer, std::string& tex_name, unsigned& tex_gl) {
    const std::string name = _name(layer.tex);
    if (name != tex_name) {
        tex_name = name;
        tex_gl = gfx_img_get_tex(gfx_img_load(name.c_str()));
    }
    glBindTexture(GL_TEXTURE_2D, tex_gl);
}

void _layer_mesh(const PlanetSphere& m) {
    if (m.count <= 0) return;
    glVertexPointer(3, GL_FLOAT, 0, m.vertices.data());
    glTexCoordPointer(2, GL_FLOAT, 0, m.texcoords.data());
    glNormalPointer(GL_FLOAT, 0, m.normals.data());
    glDrawArrays(GL_TRIANGLES, 0, m.count * 3);
}

// What every planet of one pass shares.
struct SpherePass {
    double t;           // world time: the spin
    int hq;             // high-quality meshes
    bool fleet_lights;  // lights 4-7 in use
    std::string tex_name = "\n";  // no layer names a texture this way
    unsigned tex_gl = 0;
};

// A planet's two sphere layers.
void _planet_sphere(Zentar& world, const Item& it, float k, SpherePass& pass) {
    const float r = it.planet_r;
    const int level = _planet_level(r, k);
    int64_t seed = it.planet_seed;
    for (const PlanetLayer& layer : it.planet_style.layer) {
        const uint32_t flags = (uint32_t)layer.flags;
        if (!flags) continue;
        glColor4f(1, 1, 1, 1);
        _layer_lights(flags, (unsigned)colorblind_map(layer.color) & 0xFFFFFF, layer.alpha);
        if (pass.fleet_lights) _layer_fleet_lights(world, it, flags);
        _layer_blend(flags);
        _layer_transform(it, r, flags, seed, pass.t);
        _layer_texture(layer, pass.tex_name, pass.tex_gl);
        _layer_mesh(_planet_paint._planet_spheres[pass.hq + ((flags & PLANET_DISCO) ? 2 : 0)][level]);
        glPopMatrix();
        _check(6);
    }
}

// How much of the screen the box of a planet's aura covers, by the view in
// GL (a square the planet sits in, 3.875 radii wide): 1 is the whole
// screen, and numbers a view cannot place count as that.
struct ScreenCover {
    float m[16];  // projection x modelview, column by column

    ScreenCover() { draw_clip_matrix(m); }
    float of(const Item& it) const {
        const double x = it.position_x, y = it.position_y, h = 1.9375 * std::fabs((double)it.planet_r);
        const double w = m[3] * x + m[7] * y + m[15];
        if (!(w > 0)) return 1.0f;
        const double cx = (m[0] * x + m[4] * y + m[12]) / w, cy = (m[1] * x + m[5] * y + m[13]) / w;
        // The box's reach on the screen, whichever way the view turns it.
        const double ex = h * (std::fabs((double)m[0]) + std::fabs((double)m[4])) / w;
        const double ey = h * (std::fabs((double)m[1]) + std::fabs((double)m[5])) / w;
        const double wx = std::min(1.0, cx + ex) - std::max(-1.0, cx - ex);
        const double wy = std::min(1.0, cy + ey) - std::max(-1.0, cy - ey);
        const double cover = wx > 0 && wy > 0 ? wx * wy / 4 : 0;
        return std::isfinite(cover) ? (float)std::min(cover, 1.0) : 1.0f;
    }
};

// The planets a pass paints, in slot order: they are visible and the ones
// before them leave room on the screen (see PLANET_COVER_MAX). A planet
// whose box lies wholly off the screen draws nothing there: zoomed into a
// big map, most of them would still cost their lit spheres every frame.
struct PlanetsShown {
    Zentar& world;
    ScreenCover view;
    int top;
    float covered = 0;
    int shown = 0;
    int left_out = 0;

    explicit PlanetsShown(Zentar& w) : world(w), top(std::clamp(w.top, 0, ZT_ITEMS)) {}
    bool shows(const Item& it) {
        if (it.in_use != 1 || !it.has_planet || !zt_in_clip(world, it.position_x, it.position_y)) return false;
        const float c = view.of(it);
        if (!(c > 0)) return false;
        if (covered + c > PLANET_COVER_MAX || shown >= PLANET_SHOWN_MAX) {
            left_out++;
            return false;
        }
        covered += c;
        shown++;
        return true;
    }
};

// Everything back as the other painters expect it.
void _spheres_gl_end() {
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_NORMALIZE);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDisableClientState(GL_NORMAL_ARRAY);
    glColor4f(1, 1, 1, 1);
    _check(7);
}

}  // namespace

void planets_paint_spheres(Zentar& world, float k) {
    _spheres_gl_begin();
    const int quality = game_get_vquality();
    SpherePass pass{world.time, quality >= 2 ? 1 : 0, quality >= 3};
    const int top = std::clamp(world.top, 0, ZT_ITEMS);
    float cx = 0, cy = 0;
    _spheres_gather(world, top, cx, cy);
    _spheres_lights_place(cx, cy, pass.fleet_lights);
    glColor4f(1, 1, 1, 1);
    PlanetsShown shown(world);
    for (int n = 1; n < top; n++) {
        const Item& it = world.items[n];
        if (shown.shows(it)) _planet_sphere(world, it, k, pass);
    }
    _spheres_gl_end();
    // Once a crowd begins, not every frame.
    if (shown.left_out && !_planet_paint.crowded)
        qel_log("planets_paint: more planets on the screen than %d or %g screens of them; %d are not drawn\n",
                PLANET_SHOWN_MAX, (double)PLANET_COVER_MAX, shown.left_out);
    _planet_paint.crowded = shown.left_out > 0;
}

void planets_paint_overlays(Zentar& world) {
    static GBatch batch;
    std::string img_name;
    int img = 0;
    PlanetsShown shown(world);
    for (int n = 1; n < shown.top; n++) {
        const Item& it = world.items[n];
        if (!shown.shows(it)) continue;
        const float S = 3.875f * it.planet_r;
        const float left = it.position_x - S / 2, top_y = it.position_y - S / 2;
        for (const PlanetSprite& sp : it.planet_style.sprite) {
            if (!sp.enabled) continue;
            const std::string name = _name(sp.tex);
            if (name != img_name) {
                img_name = name;
                img = gfx_img_load(name.c_str());
            }
            const unsigned gl = gfx_img_get_tex(img);
            const GfxImage im = *_gfx_get_img(img);
            const GfxTexture& tx = *_gfx_get_tex(im.tex);
            const float fw = im.trim.w, fh = im.trim.h, tw = tx.rect.w, th = tx.rect.h;
            // A missing image has no size to place: nothing to draw.
            if (!(fw > 0 && fh > 0 && tw > 0 && th > 0)) continue;
            const unsigned c = (unsigned)colorblind_map(sp.color) & 0xFFFFFF;
            const float x0 = left + S * im.trim.x / fw, y0 = top_y + S * im.trim.y / fh;
            const float x1 = x0 + S * im.src.w / fw, y1 = y0 + S * im.src.h / fh;
            const float u0 = im.src.x / tw, v0 = im.src.y / th;
            const float u1 = (im.src.x + im.src.w) / tw, v1 = (im.src.y + im.src.h) / th;
            const GVert a = gvert(u0, v0, x0, y0, c, 255), b = gvert(u1, v0, x1, y0, c, 255);
            const GVert d = gvert(u0, v1, x0, y1, c, 255), e = gvert(u1, v1, x1, y1, c, 255);
            batch.add((int)gl, GBATCH_PREMUL, GTri{{a, b, d}});
            batch.add((int)gl, GBATCH_PREMUL, GTri{{b, d, e}});
        }
    }
    if (batch.size()) batch.flush();
}
