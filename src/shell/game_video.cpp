// game_video: video mode, 2D set-up, logical screen size, start-up logo,
// opening web pages and the Ctrl/Cmd+H and Ctrl/Cmd+L toggles.
#include "shell/game_video.h"

#include <SDL.h>

#include <cstdint>
#include <cstring>

#include "shell/builds.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "shell/game_audio.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gui.h"  // State
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_font.h"
#include "shell/trans.h"

// A short side outside this range can only come from a damaged settings file.
static const int GAME_VSIZE_DEFAULT = 640;
static const int GAME_VSIZE_MAX = 32767;

void (*game_video_gl_init)() = nullptr;

static int _game_vsize() {
    GameParts* g = game_parts();
    int v = g ? g->settings.vsize : 0;
    return (v > 0 && v <= GAME_VSIZE_MAX) ? v : GAME_VSIZE_DEFAULT;
}

// Before the window has an area the logical screen is vsize square, so that
// nothing divides by a zero size.
static int _game_logical(bool width) {
    int vsize = _game_vsize();
    int w = 0, h = 0;
    driver_get_size(&w, &h);
    int m = w < h ? w : h;
    if (m <= 0) return vsize;
    return (int)((int64_t)vsize * (width ? w : h) / m);
}

int game_get_sw() { return _game_logical(true); }
int game_get_sh() { return _game_logical(false); }

void game_set_scale() {
    int pw = 0, ph = 0, lw = 0, lh = 0;
    driver_get_size(&pw, &ph);
    gfx_get_size(&lw, &lh);
    if (pw <= 0 || ph <= 0 || lw <= 0 || lh <= 0) return;  // keep the last good scale
    if ((int)gfx_get_orient() % 180 != 0) {
        int t = pw;
        pw = ph;
        ph = t;
    }
    float sx = (float)pw / (float)lw, sy = (float)ph / (float)lh;
    gfx_set_scale(sx < sy ? sx : sy);
}

void game_startup_paint() {
    gfx_clear();
    gfx_ortho();
    int img = gfx_img_load("logo");
    if (!img) return;  // nothing to draw, and no aspect to divide by
    int sw = game_get_sw(), sh = game_get_sh();
    int h = (int)(sw / gfx_img_get_ratio(img));
    gfx_img_blit(img, 0, (float)((sh - h) / 2), (float)sw, (float)h);
}

void game_grab(std::string, Event) {}

int SDL_WM_GrabInput(int mode) {
    SDL_Window* win = driver_sdl2_window();
    if (mode == -1) return win && SDL_GetWindowGrab(win) ? 1 : 0;
    if (win) SDL_SetWindowGrab(win, mode ? SDL_TRUE : SDL_FALSE);
    return mode ? 1 : 0;
}

// ---- GameVideo ------------------------------------------------------------------

static bool _game_video_fullscreen(const GameVideo& v) {
    GameParts* g = game_parts();
    bool want = !g || g->settings.vfull != -1;
    return want != (v.fullscreen_toggle != 0);
}

// Full screen at a chosen size is the display mode nearest it, and the
// window must be that mode's size: a window of the chosen size where the
// display has no such mode sits smaller than the screen, in its middle,
// while the Video tab says "Fullscreen". With no mode as large, the
// desktop's own size (0 x 0).
static void _game_video_fullscreen_size(int& w, int& h) {
    SDL_Window* win = driver_sdl2_window();
    int display = win ? SDL_GetWindowDisplayIndex(win) : 0;
    SDL_DisplayMode want{}, mode{};
    want.w = w, want.h = h;
    if (display < 0 || !SDL_GetClosestDisplayMode(display, &want, &mode) || mode.w <= 0 || mode.h <= 0) {
        w = h = 0;
        return;
    }
    w = mode.w, h = mode.h;
}

// The window size from the settings; 0 x 0 lets the driver choose.
static void _game_video_mode(const GameVideo& v) {
    GameParts* g = game_parts();
    int w = 0, h = 0;
    if (g && g->settings.vres > 0) {
        w = g->settings.vres >> 16;
        h = g->settings.vres & 0xFFFF;
    }
    bool full = _game_video_fullscreen(v);
    if (full && w > 0 && h > 0) _game_video_fullscreen_size(w, h);
    driver_video_init(w, h, 640, 480, 320, 320, full ? 1 : 0);
}

void GameVideo::video_reset() {
    _game_video_mode(*this);
    // A window means sound: world events now play through the audio front end.
    _game_audio_hook_world();
    video_init(0);
}

void GameVideo::video_init(int teardown) {
    GameParts* g = game_parts();
    if (teardown) {
        // A new GL context: every GL name made before is gone with the old
        // one. The image, texture and font tables stay, so the ids that
        // widgets, particles and fonts hold stay good; each texture drops
        // its name and loads again on its next use. The transition
        // framebuffers are made again below.
        if (g) game_trans_deinit(*g);
        gfx_init();
        gfx_gl_state_reset();
    }
    gfx_init();
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_set_orient(0);
    gfx_set_ortho_near_far(-1000, 1000);
    // The logo is drawn once, unseen, before the black frame: its picture is
    // decoded and the driver has set up its drawing by then (a software GL
    // compiles it on first use), so the black frame stays up only while the
    // fonts and planet meshes are set up.
    game_startup_paint();
    gfx_clear();
    driver_video_flip();
    font_init();
    game_set_scale();
    if (game_video_gl_init) game_video_gl_init();
    game_startup_paint();
    driver_video_flip();
    if (g) game_trans_init(*g);
}

void GameVideo::open_url(const char* url) {
    driver_open_url(url);
    if (driver_video_minimize()) return;
    // No window to minimise. A headless run has none to leave full screen for.
    GameParts* g = game_parts();
    if (!g || g->headless || !_game_video_fullscreen(*this)) return;
    fullscreen_toggle = !fullscreen_toggle;
    _game_video_mode(*this);
    video_init(0);
    g->view.state_init();
    driver_video_minimize();
}

void GameVideo::open_url_loop() {
    std::string url = driver_open_url_failed();
    GameParts* g = game_parts();
    if (url.empty() || !g || g->headless) return;
    driver_video_restore();  // open_url minimised it for the browser
    // The purchase box below would go on to say the browser was opened: the
    // error takes its place, and Continue leads back to where the player was.
    if (strcmp(g->view.cur, "menus_webiap") == 0) g->view.next("menus_error", 2);
    else if (strcmp(g->view.cur, "menus_error") != 0) g->view.push("menus_error", 2);
    var msg(VAR_DICT, 0);
    msg["type"] = var("content");
    msg["value"] = var("No web browser could be opened here. To see the page, copy its address into one:");
    msg["copy"] = var(url);
    if (State* top = g->view.get_state(0)) top->call(msg);
}

void GameVideo::event(Event e) {
    if (e.type != 6) return;
    if (!(e.b & (EVENT_MOD_CTRL | EVENT_MOD_GUI))) return;  // the key's own modifiers
    if (e.key == 45) {
        _builds.show_hud = !_builds.show_hud;
    } else if (e.key == 49) {
        SDL_Window* win = SDL_GetMouseFocus();
        if (win) SDL_SetWindowGrab(win, SDL_GetWindowGrab(win) ? SDL_FALSE : SDL_TRUE);
    }
}

// A grabbed pointer keeps the window in the middle of the display.
void GameVideo::paint_tick() {
    SDL_Window* win = SDL_GetMouseFocus();
    if (win && SDL_GetWindowGrab(win)) SDL_SetWindowPosition(win, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
}
