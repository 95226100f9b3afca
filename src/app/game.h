// game: the single Game object, its command line, start-up, frame loop,
// event handling and shutdown.
//
// One Game exists per process, on the heap (game_init in gamewrap.cpp makes
// it; it runs to several megabytes, almost all of it the match world). Every
// member starts zeroed through its initialiser, never by clearing the object
// wholesale; `active` starts at 1.
#pragma once

#include <cstdint>
#include <string>

#include "app/game_audio.h"
#include "app/game_settings.h"
#include "app/game_video.h"
#include "app/game_view.h"
#include "chat/chat.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_driver.h"
#include "world/zentar.h"

class ModsAPI;
class ModsBase;
class Net;

class Game {
public:
    Zentar world{};            // the match world
    ZentarUI ui{};             // in-match input state
    int32_t mod_builtin = 0;   // 1 while the running mod is a built-in script
    char mod_file[512]{};      // file name of the current mod
    ModsAPI* mods_api = nullptr;      // owned
    ModsBase* mods_engine = nullptr;  // owned, deleted through its virtual destructor
    Net* server_net = nullptr;  // host endpoint, null when not hosting
    Net* client_net = nullptr;  // client endpoint, null when not connected
    Chat* chat = nullptr;       // made by the first client or host start
    GameView view{};            // named screen stack
    Settings settings{};        // persisted settings
    GameAudio audio{};
    GameVideo video{};
    int32_t quit = 0;           // nonzero ends the frame loop
    int32_t headless = 0;       // no window, audio, settings files or screens
    int32_t port = 0;           // "-port"; also the tag of every log line
    char mod[512]{};            // "-mod"
    char server[256]{};         // online match host "host:port", from the web login
    char token[256]{};          // join token from the web login
    char web[256]{};            // "-web HOST[:PORT]": the web server of this run
    int32_t web_given = 0;      // 1 while `web` names a valid server
    int32_t argc = 0;
    char** argv = nullptr;      // saved, not copied
    int32_t crash = 0;          // headless engine failure: 0 wait, 1 exit, 2 restart
    int32_t active = 1;         // 0 after the suspend that precedes a Cmd+Q quit
    int32_t exit_status = 0;    // the process's: 1 once the crash policy ended a failed run

    Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    void args(int argc, char** argv);
    void init();
    void deinit();
    void event(Event e);
    void loop();
    void paint();
    void do_chvideo();
    void do_action(std::string action, std::string data);
    // Web API requests (game_web.cpp).
    void do_login();
    void web_friends();
    void web_store();
    void web_receipts();
    bool is_logged_in();
};

// Set by Game::init; code that isn't handed the game reaches it here.
extern Game* GAME_THIS;
Game* game_this();
bool game_is_active();

const char* _get_game_version();
const char* _get_game_version_info();
const char* game_log_info();

// Frame loop helpers.
bool game_server_is_idle(Game& game);
bool game_server_reset_ok(Game& game);  // no caller: Game::loop tests the idle state itself
void game_do_daily_server_reset(Game& game);
void _do_post_reset(Game& game);
bool game_show_user_title();
// Tick count of the previous frame of Game::loop, -1 before the first.
extern int _game_loop_ticks;

// Named accessors of the shell that no code in the game calls; kept so the
// interface is whole (game_init(Game&) is the wrapper's step without args).
int game_get_vquality();
bool battery_do_delay();
bool battery_do_skip();
void game_social_loop(Game& game);
void game_reliable_remove(std::string uid);
void game_init(Game& game);

// Default web API hosts, used while the settings store no web server.
extern const char* const GAME_WEB_HOST;
extern const char* const GAME_WEB_HOST_DEBUG;
