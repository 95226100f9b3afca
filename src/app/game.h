// game: the single Game object, its command line, start-up, frame loop,
// event handling and shutdown.
//
// One Game exists per process, on the heap (game_init in gamewrap.cpp makes
// it; it runs to several megabytes, almost all of it the match world). Every
// member starts zeroed through its initialiser, never by clearing the object
// wholesale; `active` starts at 1. The records with padding (the world, the
// UI state, the screen stack) are value-initialised, "= T()", which zeroes
// their padding too; a braced "{}" initialises them member by member and
// leaves it as the allocation had it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "chat/chat.h"
#include "mods/mods_game.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_driver.h"
#include "shell/game_audio.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_video.h"
#include "shell/game_view.h"
#include "world/zentar.h"

// The composition root: it owns every part of the game and wires them. The
// world, the mod runtime's objects, the network endpoints and the command
// line that the mod runtime works on are its ModsGame part (mods/mods_game.h:
// world, mod_builtin, mod_file, mods_api, mods_engine, server_net,
// client_net, quit, headless, port, server, token, argc, argv), whose hooks
// the Game fills with its own (game_mods.cpp); the front end is handed its
// parts (parts, a GameParts).
class Game : public ModsGame {
public:
    ZentarUI ui = ZentarUI();     // in-match input state
    std::unique_ptr<Chat> chat;   // made by the first client or host start
    GameView view = GameView();   // named screen stack
    Settings settings{};          // persisted settings
    GameAudio audio{};
    GameVideo video{};
    char mod[512]{};              // "-mod"
    char web[256]{};              // "-web HOST[:PORT]": the web server of this run
    int32_t web_given = 0;        // 1 while `web` names a valid server
    int32_t crash = 0;            // headless engine failure: 0 wait, 1 exit, 2 restart
    int32_t active = 1;           // 0 after the suspend that precedes a Cmd+Q quit
    int32_t exit_status = 0;      // the process's: non-zero once a run failed (no start, crash policy)
    // What the front end is given of all the above; last, after what it names.
    GameParts parts;

    Game();
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;
    operator GameParts&() { return parts; }

    void args(int argc, char** argv);
    void init();
    void deinit();
    void event(Event e);
    void loop();
    void paint();
    void do_chvideo();
    void do_action(std::string action, std::string data);
    // Web API requests (web/game_web.cpp).
    void do_login();
    void web_friends();
    void web_store();
    void web_receipts();
    bool is_logged_in();
};

// What the Game answers the mod runtime (game_mods.cpp).
ModsHooks& game_mods_hooks();

// The app's process-wide state beside the Game.
struct _GameData {
    // Set by Game::init; code of the app that isn't handed the game reaches
    // it here (the layers below reach its parts through game_parts()).
    Game* GAME_THIS = nullptr;
    int loop_ticks = -1;  // tick count of the previous frame of Game::loop, -1 before the first
    // Bumped whenever the host endpoint is made or removed, so that the host
    // loop handing out messages notices a mod handler that replaced it.
    uint64_t server_generation = 0;
};
extern _GameData _game_data;

Game* game_this();

const char* game_log_info();

// Frame loop helpers.
bool game_server_is_idle(Game& game);
// For a host loop of its own that asks before the daily restart (Game::loop
// asks game_server_is_idle).
bool game_server_reset_ok(Game& game);
void game_do_daily_server_reset(Game& game);
bool game_show_user_title();

// Named accessors of the shell that no code in the game calls; kept so the
// interface is whole (game_init(Game&) is the wrapper's step without args).
// game_is_active, game_get_vquality and the battery accessors are in
// shell/game_parts.h, the version in mods/mods_game.h.
void game_social_loop(Game& game);
void game_reliable_remove(std::string uid);
void game_init(Game& game);

// With a window, once per frame: a mod whose engine has failed is not left
// behind an empty screen. The crash policy decides: "exit" quits, "restart"
// starts a mod that crashed after a good start again, and otherwise (or when
// it never started) the main menu comes back with the error screen over it.
void mods_failure_check(Game& game);
// The screen restart after a change of the video mode or window size.
void _do_post_reset(Game& game);
