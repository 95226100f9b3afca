// builds: build switches, the screen flow after a login with content, and
// the debug overlay of this edition.
#include "shell/builds.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "ruvezor/util/qel_driver.h"  // marker lookup, timer
#include "ruvezor/util/qel_font.h"    // overlay text
#include "ruvezor/util/qel_gfx.h"     // gfx_ortho
#include "ruvezor/util/qel_gui.h"     // State::call
#include "ruvezor/util/qel_var.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "world/zentar.h"  // the overlay's counts

// ==== module state ================================================================

_BuildsData _builds;

static const char* const BUILDS_DEBUG_MARKER = ".zentar2-debug";

// ==== switches ====================================================================

const char* builds_font_play() { return "font-play"; }
bool builds_zentar_ui_use_gmap() { return false; }
bool builds_zentar_ui_show_rank_label() { return true; }

// Full path of the debug marker, "" without a home directory; static buffer.
static const char* _builds_debug_marker() {
    static char path[512];
    const char* home = driver_get_home_dir();
    int n = snprintf(path, sizeof(path), "%s/%s", home, BUILDS_DEBUG_MARKER);
    if (!home[0] || n < 0 || n >= (int)sizeof(path)) path[0] = 0;
    return path;
}

bool builds_get_debug() {
    const char* path = _builds_debug_marker();
    return path[0] && driver_file_exists(path);
}

bool builds_get_debug_server() {
    GameParts* g = game_parts();
    return (g && g->settings.name[0] == '`') || builds_get_debug();
}

// ==== screen flow ================================================================

void builds_game_web_handle_login_content(GameParts& game, std::string content) {
    game.view.pop(2);
    game.view.next("menus_main", 2);
    game.view.push("menus_news", 2);
    State* top = game.view.get_state(0);
    if (!top) return;
    var msg(VAR_DICT, 0);
    msg["type"] = var("content");
    msg["value"] = var(content);
    top->call(msg);
}

// ==== overlay ====================================================================

bool _builds_overlay_on() {
    GameParts* g = game_parts();
    bool hud = g && g->settings.x_hud == 1;
    // Either switch shows it; both together hide it again.
    return _builds.show_hud != hud;
}

void builds_game_paint_overlay() {
    int f = font_load("font-play", 24);
    font_set_margins(f, 0.09375f, 0.09375f, -0.09375f, -0.09375f);
    f = font_load("font-outline", 20);
    font_set_margins(f, 0.0625f, 0.0625f, -0.0625f, -0.0625f);
    f = font_load("font", 20);
    font_set_margins(f, 0.0625f, 0.0625f, -0.0625f, -0.0625f);
    gfx_ortho();
    if (_builds_overlay_on()) hud_fps();
}

void hud_fps() {
    _BuildsHud& h = _builds.hud;
    int now = driver_timer_get_ticks();
    if (!h.started) {
        h.prev_ticks = now;
        h.started = true;
    }
    // The clock is reset now and then (daily restart): no negative frames.
    int64_t d = (int64_t)now - (int64_t)h.prev_ticks;
    if (d < 0) d = 0;
    h.prev_ticks = now;
    h.smoothed_ms = 0.95f * h.smoothed_ms + 0.050000012f * (float)d;
    if (h.frames == 0) {
        // A stalled or skewed clock must not push the rate out of int range.
        float rate = h.smoothed_ms > 0.001f ? 1000.0f / h.smoothed_ms : 1e6f;
        h.fps = (int)lroundf(rate < 1e6f ? rate : 1e6f);
    }
    h.frames = (h.frames + 1) % 15;

    int font = font_load("font-gui", 16);
    font_set_margins(font, 0.0625f, 0.0625f, -0.0625f, -0.0625f);
    GameParts* g = game_parts();
    char text[128];
    snprintf(text, sizeof(text), "%s\n%d FPS\n%d PING\n%d ITEMS", "CTRL-H", h.fps,
             g ? g->world.lag : 0, g ? g->world.live : 0);
    font_draw(font, text, 0, 0, 0, -1);
}

int _builds_hud_fps_shown() { return _builds.hud.fps; }
void _builds_hud_reset() { _builds.hud = _BuildsHud{}; }
