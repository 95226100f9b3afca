// game_seams: STAND-INS for modules that are not written yet (see game_seams.h).
//
// Functions are weak so that the real module, once linked, takes over; each
// still goes from here when its module lands. They do the least that keeps a
// run going: a headless host starts its mod, runs paced frames and shuts
// down; the windowed paths call through but draw nothing.
#include "game_seams.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "game.h"
#include "mods_api.h"
#include "mods_lua.h"
#include "preboard.h"
#include "qel_log.h"

#define Z2_STANDIN __attribute__((weak))

// ==== mod runtime ==============================================================

// ==== in-match controls and screen transitions ==================================

Z2_STANDIN bool game_trans_active(Game&) { return false; }
Z2_STANDIN void game_trans_loop(Game&, float) {}
Z2_STANDIN void game_trans_paint(Game&) {}
Z2_STANDIN bool game_trans_ready(Game&) { return true; }
Z2_STANDIN void game_trans_grab(Game&, int, int) {}
Z2_STANDIN bool game_trans_support() { return game_is_active(); }
Z2_STANDIN void game_trans_fbo0() {}
Z2_STANDIN void game_trans_init(Game&) {}
Z2_STANDIN void game_trans_deinit(Game&) {}
Z2_STANDIN void planet_paint_init() {}

// ==== screens and chat ==========================================================

Z2_STANDIN void menus_init(Game&) {}
Z2_STANDIN void states_init(Game&) {}
Z2_STANDIN void test_init(Game&) {}

// ==== online services ===========================================================

Z2_STANDIN std::vector<WebRequest*> web_reqs;

Z2_STANDIN WebRequest::~WebRequest() {}

Z2_STANDIN void ext_store_init(Game&) {}
Z2_STANDIN void ext_store_loop(Game&) {}
Z2_STANDIN void game_web_loop(Game&) {}
Z2_STANDIN std::string game_core_request(Game&, WebRequest&, std::string action) {
    return "/";
}
Z2_STANDIN void game_web_queue(Game&, WebRequest* request) { web_reqs.push_back(request); }

// ==== screen stack ===============================================================

Z2_STANDIN void GameView::register_state(const char*, State*) {}
Z2_STANDIN void GameView::unregister_states() {}

Z2_STANDIN void GameView::next(const char* name, int) {
    snprintf(stack[0], sizeof(stack[0]), "%s", name);
    snprintf(cur, sizeof(cur), "%s", name);
}

Z2_STANDIN void GameView::state_init() {}
Z2_STANDIN void GameView::state_deinit() {}
Z2_STANDIN void GameView::state_paint() {}
Z2_STANDIN void GameView::state_event(Event) {}
Z2_STANDIN void GameView::state_loop(float) {}

// ==== video and audio front ends =================================================

// Just enough of the video front end for a windowed start to open its window
// and clear it: the mode from the settings, then the 2D state and fonts.
Z2_STANDIN void GameVideo::video_reset() {
    Game* g = game_this();
    int w = 0, h = 0;
    if (g && g->settings.vres > 0) {
        w = g->settings.vres >> 16;
        h = g->settings.vres & 0xFFFF;
    }
    driver_video_init(w, h, 640, 480, 320, 320, g && g->settings.vfull == 1);
    video_init(0);
}
Z2_STANDIN void GameVideo::video_init(int teardown) {
    if (teardown) {
        font_deinit();
        gfx_deinit();
    }
    gfx_init();
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_set_orient(0);
    gfx_set_ortho_near_far(-1000, 1000);
    gfx_clear();
    driver_video_flip();
    font_init();
}
Z2_STANDIN void GameVideo::event(Event) {}
Z2_STANDIN void GameVideo::paint_tick() {}
Z2_STANDIN void GameAudio::loop(float) {}

// The short side of the logical screen is vsize units; before a window has
// area the logical screen is vsize square.
static int _game_logical(bool width) {
    Game* g = game_this();
    int vsize = (g && g->settings.vsize > 0) ? g->settings.vsize : 640;
    int w = 0, h = 0;
    driver_get_size(&w, &h);
    int m = w < h ? w : h;
    if (m <= 0) return vsize;
    return (int)((int64_t)vsize * (width ? w : h) / m);
}

Z2_STANDIN int game_get_sw() { return _game_logical(true); }
Z2_STANDIN int game_get_sh() { return _game_logical(false); }
Z2_STANDIN void game_set_scale() {}
Z2_STANDIN void game_startup_paint() {}
Z2_STANDIN void game_grab(std::string, Event) {}

// ==== build switches =============================================================

Z2_STANDIN void builds_init(Game&) {}

Z2_STANDIN void builds_game_init_start(Game& game) {
    game.view.next(preboard_get() == -2 ? "menus_preboard" : "menus_main", 2);
}

Z2_STANDIN bool builds_get_debug() { return false; }

Z2_STANDIN bool builds_get_debug_server() {
    Game* g = game_this();
    return (g && g->settings.name[0] == '`') || builds_get_debug();
}

Z2_STANDIN void builds_game_paint_overlay() {}

// ==== paint ======================================================================

int _game_paint_ticks = -1;

Z2_STANDIN bool Tov3_ok(Game& game) { return game_trans_support() && game.settings.x_retro == 1; }
Z2_STANDIN void Tov3_begin(Game&) {}
Z2_STANDIN void Tov3_end(Game&) {}

// Logs a GL error once per check point, and again when it changes.
static void _game_gl_check(int point) {
    static int last[8];
    int code = (int)glGetError();
    if (code == last[point]) return;
    last[point] = code;
    qel_log("glGetError() -> %d\n", code);
}

Z2_STANDIN int _game_paint_tick(Game& game) {
    if (_game_paint_ticks < 0) _game_paint_ticks = driver_timer_get_ticks();
    int now = driver_timer_get_ticks();
    int64_t d = (int64_t)now - (int64_t)_game_paint_ticks;
    if (d < 0) d = 0;
    // Stored before the sleep, so the next interval includes it.
    _game_paint_ticks = now;
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

Z2_STANDIN void Game::paint() {
    if (!headless && game_is_active()) {
        game_trans_fbo0();
        _game_gl_check(1);
        if (game_trans_active(*this) && !Tov3_ok(*this)) {
            if (!game_trans_ready(*this)) game_trans_grab(*this, 2, -1);
            game_trans_paint(*this);
            driver_video_flip();
            return;
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

// ==== engine parts declared but not built yet =====================================

Z2_STANDIN void gfx_reload_auto() {}
Z2_STANDIN void font_deinit() {}
Z2_STANDIN void font_reload_auto() {}
