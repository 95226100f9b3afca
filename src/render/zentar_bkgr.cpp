// zentar_bkgr: background image and star layer, drawn in screen coordinates.
#include "render/zentar_bkgr.h"

#include <GL/gl.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "shell/game_video.h"  // game_get_sw, game_get_sh
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "world/zentar.h"

_BkgrData _bkgr;

int _bkgr_star_count(int sw, int sh) {
    long long n = (long long)sw * sh / 3600;
    if (n < 0) n = 0;
    return n > BKGR_STARS_MAX ? BKGR_STARS_MAX : (int)n;
}

int _bkgr_star_radius(int sw, int sh) {
    int m = sw > sh ? sw : sh;
    return (int)(m * 0.5 * std::sqrt(2.0));
}

const char* _bkgr_image_name(const Zentar& world) {
    static char name[32];
    if (world.bkgr_src[0]) {
        snprintf(name, sizeof name, "%.*s", (int)sizeof world.bkgr_src, world.bkgr_src);
        return name;
    }
    // A seed before 1970 must not give a negative number.
    int k = world.seed_time == 0 ? 5 : (int)(((long long)world.seed_time % 4 + 4) % 4) + 1;
    snprintf(name, sizeof name, "background%02d", k);
    return name;
}

void _bkgr_paint_background(Zentar& world) {
    int w = 0, h = 0;
    gfx_get_size(&w, &h);
    int m = w < h ? w : h;
    double ticks = driver_timer_get_ticks();
    int img = gfx_img_load(_bkgr_image_name(world));
    // The picture is the match's backdrop: its screens clear nothing under
    // it. When a mod names one that is missing, or zooms or moves it so that
    // it may leave a corner bare, the frame starts black there rather than
    // showing what the last frames left behind.
    bool covers = gfx_img_get_tex(img) && world.bkgr_zoom >= 1 && world.bkgr_dx == 0 && world.bkgr_dy == 0;
    if (!covers) gfx_fill_a(0x000000, 0, 0, (float)w, (float)h, 255);
    glPushMatrix();
    glTranslatef(w / 2 + m * world.bkgr_dx, h / 2 + m * world.bkgr_dy, 0);
    glRotatef((float)(ticks * 60 / 1000 / 240), 0, 0, 1);
    float s = (float)(std::sqrt((double)w * w + (double)h * h) * 0.5 * world.bkgr_zoom);
    // Size 0 would blit the picture at its own size: a zero zoom shows nothing.
    if (s != 0) gfx_img_blit(img, -s, -s, 2 * s, 2 * s);
    glPopMatrix();
}

// x, y in -R..R, z in 0..2R; a star space of no size keeps everything at 0.
static void _bkgr_stars_fill(int count, int R) {
    for (int i = 0; i < count; i++) {
        BkgrStar& s = _bkgr.stars[i];
        if (R > 0) {
            s.x = (float)(rand() % (2 * R) - R);
            s.y = (float)(rand() % (2 * R) - R);
            s.z = (float)(rand() % (2 * R));
        } else {
            s.x = s.y = s.z = 0;
        }
        s.size = (float)(rand() / 2147483648.0 + 1);
        s.a = 1;
    }
}

void _bkgr_stars_init_1(int count, int R) { _bkgr_stars_fill(count, R); }
void _bkgr_stars_init_2(int count, int R) { _bkgr_stars_fill(count, R); }
void _bkgr_stars_init_3(int count, int R) { _bkgr_stars_fill(count, R); }

void _bkgr_stars_loop_1(int count, int R, float dt) {
    for (int i = 0; i < count; i++) {
        _bkgr.stars[i].x -= 0.05f * dt * 60;
        if (_bkgr.stars[i].x < -R) _bkgr.stars[i].x += 2 * R;
    }
}

void _bkgr_stars_loop_2(int count, int R, float dt) {
    if (R <= 0) return;
    float r2 = (float)R * R;
    for (int i = 0; i < count; i++) {
        BkgrStar& s = _bkgr.stars[i];
        s.z -= dt * 60;
        if (s.z <= 0) s.z += 2 * R;
        if (s.z <= 0) continue;  // dt so large it passed the whole depth: leave it for next frame
        float px = s.x * R / s.z, py = s.y * R / s.z;
        if (px * px + py * py > r2) {
            s.x = (float)(rand() % (2 * R) - R);
            s.y = (float)(rand() % (2 * R) - R);
            s.z = (float)(2 * R);
        }
    }
}

// Each star twinkles a whole number of times in the match clock's hour (at
// 1 to 3 radians a second), so that none of them jumps as the clock starts
// again from 0.
void _bkgr_stars_loop_3(Zentar& world, int count) {
    static const std::array<double, 32> rates = [] {
        std::array<double, 32> r{};
        const double turn = 2 * M_PI, hour = ZT_CLOCK_TURN;
        for (int k = 0; k < 32; k++) r[k] = std::round((k * 0.125 + 2) * 0.5 * hour / turn) * turn / hour;
        return r;
    }();
    for (int i = 0; i < count; i++)
        _bkgr.stars[i].a = (float)((std::sin(rates[i % 32] * world.time + i) + 1) * 0.5);
}

void _bkgr_stars_draw(Zentar& world, int count, int R, int style) {
    (void)style;
    static float pos[BKGR_STARS_MAX * 6 * 3];
    static float tc[BKGR_STARS_MAX * 6 * 2];
    static uint8_t col[BKGR_STARS_MAX * 6 * 4];
    static const float corner_tc[12] = {0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 1, 1};
    if (count > BKGR_STARS_MAX) count = BKGR_STARS_MAX;
    if (count <= 0) return;
    for (int i = 0; i < count; i++) {
        const BkgrStar& s = _bkgr.stars[i];
        float hs = 0, px = 0, py = 0;
        int alpha = 0;
        // A star at the viewer's depth (or a table never initialised) has no
        // projection: it stays an invisible point.
        if (s.z > 0 && R > 0) {
            float f = (2 * R - s.z) / R;
            double fa = 2040.0 * f;
            int a = fa >= 255 ? 255 : (fa <= 0 ? 0 : (int)fa);
            double av = a * (double)s.a;
            alpha = av <= 0 ? 0 : (av >= 255 ? 255 : (int)av);
            hs = (2 * f + 1) * s.size * 0.5f;
            px = s.x * R / s.z;
            py = s.y * R / s.z;
        }
        const float cx[6] = {px - hs, px + hs, px - hs, px + hs, px - hs, px + hs};
        const float cy[6] = {py - hs, py - hs, py + hs, py - hs, py + hs, py + hs};
        for (int k = 0; k < 6; k++) {
            int v = i * 6 + k;
            pos[v * 3 + 0] = cx[k];
            pos[v * 3 + 1] = cy[k];
            pos[v * 3 + 2] = 1;
            tc[v * 2 + 0] = corner_tc[k * 2];
            tc[v * 2 + 1] = corner_tc[k * 2 + 1];
            col[v * 4 + 0] = col[v * 4 + 1] = col[v * 4 + 2] = 255;
            col[v * 4 + 3] = (uint8_t)alpha;
        }
    }
    int sw = game_get_sw(), sh = game_get_sh();
    int m = sw < sh ? sw : sh;
    double ticks = driver_timer_get_ticks();
    glPushMatrix();
    glTranslatef(sw / 2 + m * world.bkgr_dx * 0.5f, sh / 2 + m * world.bkgr_dy * 0.5f, 0);
    glScalef(world.bkgr_zoom, world.bkgr_zoom, 1);
    glRotatef((float)(ticks * 60 / 1000 / 220), 0, 0, 1);
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, gfx_img_get_tex(gfx_img_load("star")));
    glVertexPointer(3, GL_FLOAT, 0, pos);
    glTexCoordPointer(2, GL_FLOAT, 0, tc);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, col);
    glDrawArrays(GL_TRIANGLES, 0, 6 * count);
    glDisableClientState(GL_COLOR_ARRAY);
    glColor4f(1, 1, 1, 1);
    glPopMatrix();
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

void _bkgr_paint_stars(Zentar& world) {
    int style = world.bkgr_stars;
    if (style == 0) return;
    int sw = game_get_sw(), sh = game_get_sh();
    int count = _bkgr_star_count(sw, sh);
    int ticks = driver_timer_get_ticks();
    float dt = (float)(((long long)ticks - _bkgr.prev_ticks) / 1000.0);
    dt = dt < 0 ? 0 : (dt > 1 ? 1 : dt);
    _bkgr.prev_ticks = ticks;
    int R = _bkgr_star_radius(sw, sh);
    int key = (int)((unsigned)sw * 65536u + (unsigned)sh * 4u + (unsigned)style);
    if (key != _bkgr.key) {
        _bkgr.key = key;
        if (style == 1) _bkgr_stars_init_1(count, R);
        if (style == 2) _bkgr_stars_init_2(count, R);
        if (style == 3) _bkgr_stars_init_3(count, R);
    }
    if (style == 1) _bkgr_stars_loop_1(count, R, dt);
    if (style == 2) _bkgr_stars_loop_2(count, R, dt);
    if (style == 3) _bkgr_stars_loop_3(world, count);
    _bkgr_stars_draw(world, count, R, style);
}

void bkgr_paint(Zentar& world) {
    _bkgr_paint_background(world);
    _bkgr_paint_stars(world);
}
