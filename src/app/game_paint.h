// game_paint: Game::paint's helpers: the low-resolution ("retro") frame, the
// frame limiter and a translucent fill for the match renderer.
//
// In the low-resolution mode the frame renders into the corner of transition
// framebuffer 1 (480x320 landscape, 320x480 portrait), gets every other row
// darkened and is then stretched over the window.
#pragma once

class Game;

// Module state, process-wide.
struct _GamePaintData {
    int Tov3_viewport[4] = {};  // viewport saved while the low-resolution frame is bound
    int ticks = -1;             // tick count of the previous pacing step, -1 before the first
    int gl_errors[8] = {};      // last error code logged at each GL check point (1..7)
};
extern _GamePaintData _game_paint;

// Transitions are supported and the x_retro setting is on.
bool Tov3_ok(Game& game);
// Binds the low-resolution frame when Tov3_ok.
void Tov3_begin(Game& game);
// Scan lines, then the frame stretched over the window, when Tov3_ok.
void Tov3_end(Game& game);

// The frame limiter at the end of every paint; returns the milliseconds slept.
int _game_paint_tick(Game& game);

