// game_seams: STAND-INS for modules that are not written yet.
//
// Everything in this file and in game_seams.cpp is the smallest layer that
// lets the Game object start, run its frame loop and shut down before the
// real modules exist: the mod runtime, the in-match controls and screen
// transitions, the screens, the web services, the screen stack, the video
// and audio front ends, the build switches, paint, and the engine's image and
// font reload entries (declared by their headers, not built yet). Each piece
// keeps the name the real module will have, does as little as it can, and is
// to be DELETED from here when its real module lands (function stand-ins are
// weak, so a real definition linked beside them takes over).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game_settings_io.h"  // game_settings_sync
#include "qel_driver.h"         // Event, window and input entries
#include "qel_font.h"
#include "qel_gfx.h"
#include "qel_gfx_image.h"  // gfx_reload_auto
#include "qel_mixer.h"
#include "qel_social.h"
#include "qel_var.h"

class Game;
struct WebHandle;

// ==== mod runtime ==============================================================

// The script engine and the game API of the running mod (mods_lua.h,
// mods_api.h).
class ModsAPI;
class ModsBase;

// ==== in-match controls and screen transitions ==================================

// In-match input state; only the fields the shell touches.
struct ZentarUI {
    int32_t inited;        // 0: set up again at the next paint or event
    int32_t rect_inited;   // 0: read the screen rectangle again
    int32_t percent;       // send percentage
    int32_t percent_keep;  // percentage carried over a screen restart
    int32_t ui_options[64];  // copied from Settings from ui_box on
};

bool game_trans_active(Game& game);
void game_trans_loop(Game& game, float dt);
void game_trans_paint(Game& game);
bool game_trans_ready(Game& game);
void game_trans_grab(Game& game, int which, int mode);
bool game_trans_support();
void game_trans_fbo0();
void game_trans_init(Game& game);
void game_trans_deinit(Game& game);
void planet_paint_init();

// ==== screens and chat ==========================================================

void menus_init(Game& game);
void states_init(Game& game);
void test_init(Game& game);


// ==== online services ===========================================================

class WebRequest {
public:
    std::string host;
    int port = 80;
    std::string path = "/";
    std::string body;
    float timeout = 30.0f;
    WebHandle* handle = nullptr;  // 0 until started

    virtual ~WebRequest();
};

// The process-wide web request queue, in queueing order.
extern std::vector<WebRequest*> web_reqs;

void ext_store_init(Game& game);
void ext_store_loop(Game& game);
void game_web_loop(Game& game);
std::string game_core_request(Game& game, WebRequest& request, std::string action);
void game_web_queue(Game& game, WebRequest* request);

// ==== screen stack ===============================================================

class State;

struct GameView {
    char cur[32];        // current screen name, "" before the first move
    char stack[16][32];  // entry 0 is the top, "" marks a free entry

    static void register_state(const char* name, State* s);
    static void unregister_states();
    void next(const char* name, int arg);
    void state_init();
    void state_deinit();
    void state_paint();
    void state_event(Event e);
    void state_loop(float dt);
};

// ==== video and audio front ends =================================================

struct GameVideo {
    int32_t fullscreen_toggle;

    void video_reset();
    void video_init(int teardown);
    void event(Event e);
    void paint_tick();
};

struct GameAudio {
    void loop(float dt);
};

int game_get_sw();
int game_get_sh();
void game_set_scale();
void game_startup_paint();
void game_grab(std::string name, Event e);

// ==== build switches =============================================================

void builds_init(Game& game);
void builds_game_init_start(Game& game);
bool builds_get_debug();
bool builds_get_debug_server();
void builds_game_paint_overlay();

// ==== paint ======================================================================

bool Tov3_ok(Game& game);
void Tov3_begin(Game& game);
void Tov3_end(Game& game);
// The frame limiter at the end of every paint; returns the milliseconds slept.
int _game_paint_tick(Game& game);
// Tick count of the previous pacing step, -1 before the first.
extern int _game_paint_ticks;
