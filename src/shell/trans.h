// trans: animated screen changes, and the window-to-plane unprojection they
// use to size their layers.
//
// Three off-screen framebuffers (2048 x 1024 RGBA textures) hold captures:
// slot 1 the old screen, slot 2 the new one, slot 3 spare; slot 0 is the
// window. A screen change captures the old screen and arms a 15-step blend
// (1/60 s a step); the first frame of the new screen is captured once, and
// until the steps run out the two are drawn zoomed and faded instead of the
// screens. Main (GL) thread only.
#pragma once

#include <cstdint>

#include "ruvezor/util/Matrices.h"  // CVector3

struct GameParts;

// Module state (one instance); the low-resolution frame borrows slot 1.
// It outlives game_trans_deinit, which only forgets the framebuffers.
struct _TransData {
    int32_t _game_trans_init = 0;      // 1 once the framebuffers exist
    int32_t _game_trans_first = 0;     // 1 until the first capture (the start-up logo)
    int32_t _game_trans_n = 0;         // steps since the last capture
    int32_t _game_trans_mode = 0;      // 0 none, 1 zoom in, 2 fade, 4 zoom out
    int32_t _game_trans_len = 0;       // steps a transition lasts
    int32_t _game_trans_frame = 0;     // steps left
    int32_t _game_trans_ready = 0;     // 1 once the new screen was captured
    float _game_trans_t = 0;           // seconds toward the next step
    uint32_t _game_trans_fbo[4] = {};  // framebuffer id by slot (0 the window's own)
    uint32_t _game_trans_tex[4] = {};  // colour texture by slot (none for slot 0)
    // The EXT framebuffer entry points, asked of the driver when first needed
    // (the GLVND library does not export them).
    void (*gen_fb)(int, unsigned*) = nullptr;                           // glGenFramebuffersEXT
    void (*bind_fb)(unsigned, unsigned) = nullptr;                      // glBindFramebufferEXT
    void (*fb_tex)(unsigned, unsigned, unsigned, unsigned, int) = nullptr;  // glFramebufferTexture2DEXT
    unsigned (*fb_status)(unsigned) = nullptr;                          // glCheckFramebufferStatusEXT
};
extern _TransData _game_trans;

// Makes the framebuffers and starts the fade in from the start-up logo.
// Nothing when already made or while the game is inactive.
void game_trans_init(GameParts& game);
// Forgets the framebuffers (a video reset drops the context holding them).
void game_trans_deinit(GameParts& game);
bool game_trans_support();
bool game_trans_active(GameParts& game);
bool game_trans_ready(GameParts& game);
// Captures the screen into slot 1 (old) or 2 (new); mode -1 keeps the
// running mode, 0 cancels the transition, others arm a new one.
void game_trans_grab(GameParts& game, int which, int mode);
void game_trans_loop(GameParts& game, float dt);
void game_trans_paint(GameParts& game);
void game_trans_fbo0();
void fbo_bind(unsigned int id);

// The point of the plane z = 0 under window point (x, y) (y downward,
// relative to the viewport) for the current matrices; (0, 0, 0) when they
// cannot be inverted.
CVector3 pmyview_get_coords(float x, float y);
// GLU's unprojection on float matrices (column-major, as GL returns them).
// 0 when the combined matrix is singular, the viewport empty or w is 0.
int gluUnProject(float winx, float winy, float winz, const float model[16], const float proj[16],
                 const int viewport[4], float* objx, float* objy, float* objz);
