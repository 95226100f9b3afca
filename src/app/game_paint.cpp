// game_paint: one frame: the running transition or the current screen (into
// the low-resolution frame when the retro mode is on), the video tick and the
// build overlay, the flip, then the frame limiter.
#include "app/game_paint.h"

#include <GL/gl.h>

#include <cstdint>

#include "app/game.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_log.h"
#include "shell/builds.h"
#include "shell/trans.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"

_GamePaintData _game_paint;

// Logs a GL error once per check point, and again whenever it changes.
static void _game_gl_check(int point) {
    int code = (int)glGetError();
    if (code == _game_paint.gl_errors[point]) return;
    _game_paint.gl_errors[point] = code;
    qel_log("glGetError() -> %d\n", code);
}

static bool _game_landscape() { return game_get_sw() > game_get_sh(); }

// ---- low-resolution mode --------------------------------------------------------

bool Tov3_ok(Game& game) {
    // Without the transition framebuffer there is nothing to render into, and
    // stretching an absent texture would hide the screen.
    return game_trans_support() && game.settings.x_retro == 1 && _game_trans._game_trans_fbo[1] &&
           _game_trans._game_trans_tex[1];
}

void Tov3_begin(Game& game) {
    if (!Tov3_ok(game)) return;
    glGetIntegerv(GL_VIEWPORT, _game_paint.Tov3_viewport);
    fbo_bind(_game_trans._game_trans_fbo[1]);
    if (_game_landscape()) glViewport(0, 0, 480, 320);
    else glViewport(0, 0, 320, 480);
}

void Tov3_end(Game& game) {
    if (!Tov3_ok(game)) return;
    int sw = game_get_sw(), sh = game_get_sh();
    bool landscape = sw > sh;
    int rows = landscape ? 320 : 480;
    int cols = landscape ? 480 : 320;

    // Scan lines: every other row darkened by half.
    gfx_ortho();
    glColor4f(0, 0, 0, 0.5f);
    int black = gfx_img_load("black");
    float k = (float)sh / (float)rows;
    for (int y = 0; y < rows; y += 2) gfx_img_blit(black, 0, (float)y * k, (float)sw, k);
    glColor4f(1, 1, 1, 1);

    fbo_bind(_game_trans._game_trans_fbo[0]);
    const int* vp = _game_paint.Tov3_viewport;
    glViewport(vp[0], vp[1], vp[2], vp[3]);
    gfx_ortho();

    unsigned tex = _game_trans._game_trans_tex[1];
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // The frame sits upside down in the texture's corner.
    gfx_tex_blit2(tex, 0, rows / 1024.0f, cols / 2048.0f, -rows / 1024.0f, 0, 0, (float)sw, (float)sh);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

// ---- pacing ---------------------------------------------------------------------

int _game_paint_tick(Game& game) {
    if (_game_paint.ticks < 0) _game_paint.ticks = driver_timer_get_ticks();
    int now = driver_timer_get_ticks();
    int64_t d = (int64_t)now - (int64_t)_game_paint.ticks;
    if (d < 0) d = 0;
    // Stored before the sleep, so the next interval includes it.
    _game_paint.ticks = now;
    float t = (float)d / 1000.0f;
    int slept = 0;
    if (t <= 1.0f && 0.016666668f - t > 0.0f) {
        int ms = (int)((0.016666668f - t) * 1000.0f);
        driver_timer_delay(ms);
        slept += ms;
    }
    if (game.settings.vquality < 0) {
        driver_timer_delay(25);
        slept += 25;
    }
    return slept;
}

// ---- the frame ------------------------------------------------------------------

void Game::paint() {
    if (!headless && game_is_active()) {
        game_trans_fbo0();
        _game_gl_check(1);
        bool retro = Tov3_ok(*this);
        if (game_trans_active(*this) && !retro) {
            if (!game_trans_ready(*this)) game_trans_grab(*this, 2, -1);
            game_trans_paint(*this);
            driver_video_flip();
            return;  // no pacing step for a transition frame
        }
        Tov3_begin(*this);
        gfx_gl_state_reset();
        _game_gl_check(2);
        _game_gl_check(3);
        view.state_paint();
        _game_gl_check(4);
        video.paint_tick();
        _game_gl_check(5);
        builds_game_paint_overlay();
        _game_gl_check(6);
        Tov3_end(*this);
        driver_video_flip();
        _game_gl_check(7);
    }
    _game_paint_tick(*this);
}
