// game_seams: STAND-INS for modules that are not written yet (see game_seams.h).
//
// Functions are weak so that the real module, once linked, takes over; each
// still goes from here when its module lands. They do the least that keeps a
// run going: a headless host starts its mod, runs paced frames and shuts
// down; the windowed paths call through but draw nothing.
#include "game_seams.h"

#include <SDL.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "game.h"
#include "mods_api.h"
#include "mods_lua.h"
#include "preboard.h"
#include "qel_log.h"

#define Z2_STANDIN __attribute__((weak))

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

// No framebuffers are made yet, so every slot reads 0 (the window).
Z2_STANDIN uint32_t _game_trans_fbo[4];
Z2_STANDIN uint32_t _game_trans_tex[4];
Z2_STANDIN void fbo_bind(unsigned int id) {
    using Bind = void (*)(GLenum, GLuint);
    static Bind bind = nullptr;
    if (!bind) bind = (Bind)SDL_GL_GetProcAddress("glBindFramebufferEXT");
    if (bind) bind(0x8D40 /* GL_FRAMEBUFFER_EXT */, id);
}

// ==== screens and chat ==========================================================

Z2_STANDIN void menus_init(Game&) {}
Z2_STANDIN void states_init(Game&) {}

// ==== online services ===========================================================

Z2_STANDIN void ext_store_init(Game&) {}
Z2_STANDIN void ext_store_loop(Game&) {}
Z2_STANDIN var ext_store_web_data() {
    var d(VAR_DICT, 0);
    d["receipts"] = var(VAR_DICT, 0);
    d["valid"] = var(VAR_DICT, 0);
    return d;
}
Z2_STANDIN void ext_store_web_receipts_callback(var) {}
Z2_STANDIN void ext_store_web_store_callback(var) {}
