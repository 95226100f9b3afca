// game_video: the video front end. Turns the settings into a video mode, sets
// up the 2D layer and the logical screen after every mode change, opens web
// pages and carries two keyboard toggles; also the logical screen size that
// nearly all drawing and layout goes by, and the start-up logo.
#pragma once

#include <cstdint>
#include <string>

#include "ruvezor/util/qel_driver.h"  // Event

struct GameVideo {
    int32_t fullscreen_toggle;  // flipped by open_url when it had to leave full screen

    void video_reset();
    void video_init(int teardown);
    void open_url(const char* url);
    // Every frame: a page that no browser could open brings the window back
    // and shows the player its address to copy.
    void open_url_loop();
    void event(Event e);
    void paint_tick();
};

// The logical screen: the short side is settings.vsize units, the long side
// follows the window's aspect.
int game_get_sw();
int game_get_sh();
// Logical units to window units, so the logical screen fits the window.
void game_set_scale();
// Run after every video (re)initialisation, once the fonts are up: the match
// painter's own GL set-up (planet_paint_init), which the game fills in.
extern void (*game_video_gl_init)();
// Clears and draws the "logo" image across the logical width; doesn't flip.
void game_startup_paint();
void game_grab(std::string name, Event e);
// -1 asks whether the window holds the pointer grab; nonzero turns it on, 0 off.
// For a screen that keeps the pointer in the window (Ctrl+L flips it itself).
int SDL_WM_GrabInput(int mode);
