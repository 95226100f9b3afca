// builds: the decisions that belong to this edition of the program: the
// extra screen it registers, its fonts and in-match features, the debug
// marker, the store page, the screen flow after a login with content, the
// external calls mods may make, and the debug overlay.
//
// The debug marker is the file ".zentar2-debug" in the user's home
// directory. When it exists the driver reads "../data-debug", web requests
// go to the debug web host and the window caption shows the account name.
#pragma once

#include <string>

struct GameParts;

// The debug overlay's smoothed frame time and the rate last shown.
struct _BuildsHud {
    float smoothed_ms = 1000.0f;  // 0.95 / 0.05 running average
    int prev_ticks = 0;           // tick count of the previous call
    int frames = 0;               // calls modulo 15; the rate is refreshed at 0
    int fps = 0;                  // the rate on screen
    bool started = false;         // prev_ticks holds a reading
};

// Module state, process-wide.
struct _BuildsData {
    // Flipped by Ctrl/Cmd+H; the overlay shows when exactly one of this and
    // the x_hud setting is on.
    bool show_hud = false;
    _BuildsHud hud;  // the overlay's rate
};
extern _BuildsData _builds;

// The ones that need the whole game (the extra screen, the first screen, the
// store address, the external calls) are in app/builds_app.h.
const char* builds_font_play();
bool builds_zentar_ui_use_gmap();
bool builds_zentar_ui_show_rank_label();

// The marker is looked up on every call; callers that need one answer per
// run cache it (game_show_user_title).
bool builds_get_debug();
bool builds_get_debug_server();

void builds_game_web_handle_login_content(GameParts& game, std::string content);

void builds_game_paint_overlay();
// Whether this frame draws the overlay: show_hud XOR (x_hud is 1).
bool _builds_overlay_on();
void hud_fps();
// The overlay's rate counters as hud_fps shows them (tests read them).
int _builds_hud_fps_shown();
void _builds_hud_reset();
