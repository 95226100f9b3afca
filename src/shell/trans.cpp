// trans: animated screen changes between captured pictures, and the
// unprojection of window points onto the z = 0 plane.
#include "shell/trans.h"

#include <SDL.h>
#include <GL/gl.h>

#include <cmath>
#include <utility>

#include "shell/game_parts.h"
#include "shell/game_video.h"  // game_startup_paint
#include "shell/game_view.h"   // game_fbo_paint
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_log.h"

_TransData _game_trans;

static constexpr int TRANS_W = 2048, TRANS_H = 1024;
static constexpr int TRANS_STEPS = 15;
static constexpr float TRANS_STEP = 0.016666668f;  // one step, 1/60 s

// ---- EXT framebuffer entry points ------------------------------------------------

// The GLVND library does not export these; ask the driver, again after a
// miss (there may have been no GL yet).
template <class F>
static F _trans_proc(F& cache, const char* name) {
    if (!cache) cache = (F)SDL_GL_GetProcAddress(name);
    return cache;
}

#define TRANS_GL_FRAMEBUFFER 0x8D40
#define TRANS_GL_COLOR_ATTACHMENT0 0x8CE0
#define TRANS_GL_FRAMEBUFFER_COMPLETE 0x8CD5

void fbo_bind(unsigned int id) {
    if (auto bind = _trans_proc(_game_trans.bind_fb, "glBindFramebufferEXT")) bind(TRANS_GL_FRAMEBUFFER, id);
}

// ---- framebuffers ----------------------------------------------------------------

// Slot's texture and framebuffer; the old ids are forgotten, not deleted.
static void fbo_create(int slot) {
    _game_trans._game_trans_fbo[slot] = 0;
    _game_trans._game_trans_tex[slot] = 0;
    GLuint tex = 0, fbo = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, TRANS_W, TRANS_H, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLenum status = 0;
    auto gen = _trans_proc(_game_trans.gen_fb, "glGenFramebuffersEXT");
    auto attach = _trans_proc(_game_trans.fb_tex, "glFramebufferTexture2DEXT");
    auto check = _trans_proc(_game_trans.fb_status, "glCheckFramebufferStatusEXT");
    if (gen && attach && check) {
        gen(1, &fbo);
        fbo_bind(fbo);
        attach(TRANS_GL_FRAMEBUFFER, TRANS_GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
        status = check(TRANS_GL_FRAMEBUFFER);
        fbo_bind(0);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    _game_trans._game_trans_fbo[slot] = fbo;
    _game_trans._game_trans_tex[slot] = tex;
    if (status == TRANS_GL_FRAMEBUFFER_COMPLETE) qel_log("create_fbo success\n");
    else qel_log("create_fbo failed\n");
}

// Paints the current screen (the logo the first time) into the whole of a
// slot's texture.
static void _trans_capture(GameParts& game, int slot) {
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    fbo_bind(_game_trans._game_trans_fbo[slot]);
    glViewport(0, 0, TRANS_W, TRANS_H);
    if (_game_trans._game_trans_first) {
        gfx_clear();
        _game_trans._game_trans_mode = 2;
        game_startup_paint();
        _game_trans._game_trans_first = 0;
    } else {
        game_fbo_paint(game);
    }
    fbo_bind(_game_trans._game_trans_fbo[0]);
    glViewport(vp[0], vp[1], vp[2], vp[3]);
    _game_trans._game_trans_n = 0;
}

static void _trans_arm(int mode) {
    _game_trans._game_trans_mode = mode;
    _game_trans._game_trans_len = _game_trans._game_trans_frame = TRANS_STEPS;
    _game_trans._game_trans_ready = 0;
}

// ---- life ------------------------------------------------------------------------

void game_trans_init(GameParts& game) {
    if (_game_trans._game_trans_init || !game_is_active()) return;
    _game_trans._game_trans_init = 1;
    _game_trans._game_trans_first = 1;
    _game_trans._game_trans_n = 1;
    for (int slot = 1; slot <= 3; slot++) fbo_create(slot);
    _trans_arm(2);
    _trans_capture(game, 1);
    _game_trans._game_trans_n = 0;
}

void game_trans_deinit(GameParts&) { _game_trans._game_trans_init = 0; }

bool game_trans_support() { return game_is_active(); }

bool game_trans_active(GameParts&) { return game_is_active() && _game_trans._game_trans_frame != 0; }

bool game_trans_ready(GameParts&) { return _game_trans._game_trans_ready != 0; }

void game_trans_fbo0() {
    if (game_is_active()) fbo_bind(_game_trans._game_trans_fbo[0]);
}

// ---- capture and steps -----------------------------------------------------------

void game_trans_grab(GameParts& game, int which, int mode) {
    // No framebuffers (a headless host, or before the video starts): nothing
    // to capture into, and an armed transition would never be painted.
    if (!game_is_active() || !_game_trans._game_trans_init || which < 1 || which > 3) return;
    if (which == 2 && _game_trans._game_trans_frame) {
        _game_trans._game_trans_ready = 1;
        if (mode != -1) _trans_arm(mode);
    } else if (mode != -1) {
        _trans_arm(mode);
    }
    int effective = mode == -1 ? _game_trans._game_trans_mode : mode;
    if (effective == 0) {
        _game_trans._game_trans_first = 0;
        _game_trans._game_trans_frame = 0;
        _game_trans._game_trans_ready = 0;
        return;
    }
    // Two screen changes within one step keep the first old picture.
    if (which == 1 && _game_trans._game_trans_n == 0) return;
    _trans_capture(game, which);
}

void game_trans_loop(GameParts&, float seconds) {
    if (!game_is_active() || !std::isfinite(seconds)) return;
    _game_trans._game_trans_t += seconds;
    while (_game_trans._game_trans_t >= TRANS_STEP) {
        if (_game_trans._game_trans_frame <= 0) {
            // Nothing left to count: drop the whole steps at once, so a huge
            // time cannot spin here.
            _game_trans._game_trans_t = std::fmod(_game_trans._game_trans_t, TRANS_STEP);
            break;
        }
        _game_trans._game_trans_frame--;
        _game_trans._game_trans_n++;
        _game_trans._game_trans_t -= TRANS_STEP;
    }
}

// ---- paint -----------------------------------------------------------------------

// A slot's picture at k times the screen size about its centre, faded by a.
static void _trans_layer(unsigned tex, float cx, float cy, float w, float h, float k, float a) {
    glColor4f(a, a, a, a);
    gfx_tex_blit2(tex, 0, 1, 1, -1, cx - k * w / 2, cy - k * h / 2, k * w, k * h);
}

void game_trans_paint(GameParts&) {
    if (!game_is_active() || !_game_trans._game_trans_len) return;
    float orient = gfx_get_orient();
    gfx_set_orient(0);
    gfx_ortho();
    gfx_clear();
    float t = 1.0f - (float)_game_trans._game_trans_frame / (float)_game_trans._game_trans_len;

    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    CVector3 a = pmyview_get_coords(0, 0);
    CVector3 b = pmyview_get_coords((float)vp[2], (float)vp[3]);
    float cx = (a.x + b.x) / 2, cy = (a.y + b.y) / 2, w = b.x - a.x, h = b.y - a.y;

    unsigned old_tex = _game_trans._game_trans_tex[1], new_tex = _game_trans._game_trans_tex[2];
    switch (_game_trans._game_trans_mode) {
        case 1:  // zoom in
            _trans_layer(old_tex, cx, cy, w, h, 1 + 2 * t, 1 - t);
            _trans_layer(new_tex, cx, cy, w, h, 0.5f + 0.5f * t, t);
            break;
        case 4:  // zoom out
            _trans_layer(old_tex, cx, cy, w, h, 1 - 0.5f * t, 1 - t);
            _trans_layer(new_tex, cx, cy, w, h, 2 - t, t);
            break;
        case 2:  // fade
            _trans_layer(old_tex, cx, cy, w, h, 1, 1);
            _trans_layer(new_tex, cx, cy, w, h, 1, t);
            break;
        default:
            break;
    }
    glColor4f(1, 1, 1, 1);
    gfx_set_orient(orient);
}

// ---- unprojection ----------------------------------------------------------------

// Inverse of a column-major 4x4 matrix by Gauss-Jordan elimination with
// partial pivoting; false when it is singular.
static bool _trans_invert(const double m[16], double out[16]) {
    double a[4][8];
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) {
            a[r][c] = m[c * 4 + r];
            a[r][c + 4] = r == c ? 1.0 : 0.0;
        }
    for (int col = 0; col < 4; col++) {
        int pivot = col;
        for (int r = col + 1; r < 4; r++)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (a[pivot][col] == 0.0) return false;
        if (pivot != col) std::swap(a[pivot], a[col]);
        double p = a[col][col];
        for (int c = 0; c < 8; c++) a[col][c] /= p;
        for (int r = 0; r < 4; r++) {
            if (r == col || a[r][col] == 0.0) continue;
            double f = a[r][col];
            for (int c = 0; c < 8; c++) a[r][c] -= f * a[col][c];
        }
    }
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) out[c * 4 + r] = a[r][c + 4];
    return true;
}

int gluUnProject(float winx, float winy, float winz, const float model[16], const float proj[16],
                 const int viewport[4], float* objx, float* objy, float* objz) {
    if (viewport[2] == 0 || viewport[3] == 0) return 0;
    double pm[16], inv[16];
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 4; r++) {
            double s = 0;
            for (int k = 0; k < 4; k++) s += (double)proj[k * 4 + r] * (double)model[c * 4 + k];
            pm[c * 4 + r] = s;
        }
    if (!_trans_invert(pm, inv)) return 0;
    const double in[4] = {2.0 * (winx - viewport[0]) / viewport[2] - 1.0, 2.0 * (winy - viewport[1]) / viewport[3] - 1.0,
                          2.0 * winz - 1.0, 1.0};
    double out[4];
    for (int r = 0; r < 4; r++) {
        out[r] = 0;
        for (int c = 0; c < 4; c++) out[r] += inv[c * 4 + r] * in[c];
    }
    if (out[3] == 0.0) return 0;
    *objx = (float)(out[0] / out[3]);
    *objy = (float)(out[1] / out[3]);
    *objz = (float)(out[2] / out[3]);
    return 1;
}

CVector3 pmyview_get_coords(float x, float y) {
    float model[16] = {}, proj[16] = {};
    GLint vp[4] = {0, 0, 0, 0};
    glGetFloatv(GL_MODELVIEW_MATRIX, model);
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    glGetIntegerv(GL_VIEWPORT, vp);
    float wx = (float)vp[0] + x, wy = (float)(vp[1] + vp[3]) - y;
    CVector3 near_p{}, far_p{};
    if (!gluUnProject(wx, wy, 0, model, proj, vp, &near_p.x, &near_p.y, &near_p.z) ||
        !gluUnProject(wx, wy, 1, model, proj, vp, &far_p.x, &far_p.y, &far_p.z))
        return CVector3{0, 0, 0};
    CVector3 ray = Vector(far_p, near_p);  // far - near
    if (ray.x == 0 && ray.y == 0 && ray.z == 0) return near_p;
    CVector3 dir = Normalize(ray);
    float d = intersectRayPlane(near_p, dir, CVector3{0, 0, 0}, CVector3{0, 0, 1});
    return CVector3{near_p.x + dir.x * d, near_p.y + dir.y * d, near_p.z + dir.z * d};
}
