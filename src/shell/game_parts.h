// game_parts: the running game's parts, as the front end sees them.
//
// The Game (app/game.h) owns every part named here and hands this view of
// them to what it makes: the front end (chat, screens, the web client) is
// given a GameParts where it works on the whole game, and the shell's own
// services find the running one through game_parts(). It holds references,
// so declarations of the parts are enough here (code that uses a part
// includes that part's header), and the one thing only the front end keeps:
// the whole account id.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ruvezor/util/qel_driver.h"  // Event

class Chat;
class ModsAPI;
class ModsBase;
class ModsGame;
class Net;
struct GameAudio;
struct GameVideo;
struct GameView;
struct Settings;
struct Zentar;
struct ZentarUI;

struct GameParts;

// The Game's own operations that its parts ask for, filled in by the Game.
struct GameOps {
    void (*event)(GameParts& game, Event e);                                  // Game::event
    void (*do_action)(GameParts& game, std::string action, std::string data);  // Game::do_action
    void (*do_chvideo)(GameParts& game);                                      // Game::do_chvideo
    void (*do_login)(GameParts& game);                                        // Game::do_login
    void (*web_receipts)(GameParts& game);                                    // Game::web_receipts
};

struct GameParts {
    const GameOps& ops;
    ModsGame& mods;  // the mod runtime's part of the game, which holds the next seven
    Zentar& world;
    ZentarUI& ui;
    int32_t& mod_builtin;
    char (&mod_file)[512];
    std::unique_ptr<ModsAPI>& mods_api;
    std::unique_ptr<ModsBase>& mods_engine;
    std::unique_ptr<Net>& server_net;
    std::unique_ptr<Net>& client_net;
    std::unique_ptr<Chat>& chat;
    GameView& view;
    Settings& settings;
    GameAudio& audio;
    GameVideo& video;
    int32_t& quit;
    int32_t& headless;
    int32_t& active;
    char (&server)[256];
    char (&token)[256];
    char (&web)[256];
    int32_t& web_given;
    // The account id as the web login gave it, however long; the settings
    // record keeps what fits its field. Read it through game_account_id
    // (shell/game_settings_io.h), which holds the two in step.
    std::string account_id{};

    // The mod runtime's calls take the game as the runtime sees it.
    operator ModsGame&() const { return mods; }

    // The Game's own operations, for the screens that ask for them.
    void event(Event e) { ops.event(*this, e); }
    void do_action(std::string action, std::string data) { ops.do_action(*this, action, data); }
    void do_chvideo() { ops.do_chvideo(*this); }
    void do_login() { ops.do_login(*this); }
    void web_receipts() { ops.web_receipts(*this); }
    bool is_logged_in();  // Game::is_logged_in
};

// The running game's parts; null while no Game has started.
GameParts* game_parts();
// How game_parts() finds them: filled in by the Game (app/game.cpp).
extern GameParts* (*game_parts_source)();

// Accessors of the running game for code that isn't handed it.
bool game_is_active();
int game_get_vquality();
// Named accessors that no code in the game calls.
bool battery_do_delay();
bool battery_do_skip();
