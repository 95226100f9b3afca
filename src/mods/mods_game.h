// mods_game: the game as the mod runtime sees it, and the mod's pages as
// the runtime sees them.
//
// The runtime (ModsAPI, the script engine, the life cycle in mods_misc.cpp)
// works on a ModsGame: the match world, the runtime's own two objects, the
// network endpoints that mods open and the command line it hands on. What it
// asks of the rest of the game (screens and pages, the in-match controls,
// sounds, chat, the web, the match glue) goes through its ModsHooks, which
// the Game (app/game.h, itself a ModsGame) fills in with its own. A bare
// ModsGame has only its world: the runtime on it behaves as on a host that
// shows nothing, plays nothing and cannot open endpoints.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ruvezor/util/qel_driver.h"  // Event
#include "ruvezor/util/qel_var.h"
#include "world/zentar.h"

class ModsAPI;
class ModsBase;
class Net;

// The program's version ("1.9.6") and the version text
// "1.9.6-Desktop-Linux-DAV" (static buffer), which every mod is given.
const char* _get_game_version();
const char* _get_game_version_info();

// The mod's GUI pages: made for each ModsAPI by the window side
// (ModsGame::mods_pages), absent where it is not linked.
class ModsPages {
public:
    virtual ~ModsPages();
    // What ModsAPI::_gui_init, gui_get, gui_set and gui_paint do.
    virtual void gui_init(int keep) = 0;
    virtual var gui_get(const std::string& name) = 0;
    virtual void gui_set(const std::string& name, const var& value) = 0;
    virtual void gui_paint() = 0;
    // Takes the page holding the widget "popup" (or the popup root) away.
    virtual void gui_popup_dismiss() = 0;
};

class ModsGame;

// What the runtime asks of the game around it. Each operation is given the
// game it is asked for; these defaults are a bare game's.
class ModsHooks {
public:
    virtual ~ModsHooks();

    // ---- the Game's own operations ----
    // An event handed to the game as the platform's would be (a mod's
    // "quit"); a bare game only takes the quit event.
    virtual void event(ModsGame& game, Event e);
    // A web action (ModsAPI::api_call).
    virtual void do_action(ModsGame& game, std::string action, std::string data);

    // ---- the mod's window side ----
    // The pages of a new ModsAPI; null without a window side.
    virtual std::unique_ptr<ModsPages> mods_pages(ModsGame& game, ModsAPI& api);
    // Once per mod loop with a window: the screen the mod's "state" asks for.
    virtual void mods_follow(ModsGame& game, ModsAPI& api, const std::string& state, bool player2);
    // "state" = "settings": the settings over the game.
    virtual void mods_settings_popup(ModsGame& game);
    // While held, screen moves asked for wait until the release.
    virtual void mods_hold(ModsGame& game);
    virtual void mods_release(ModsGame& game);
    // The current screen, captured for the transition a new state starts.
    virtual void mods_trans_grab(ModsGame& game);

    // ---- the in-match controls ----
    // They set themselves up again on their next frame; screen 1 also has
    // them read the screen rectangle again.
    virtual void ui_restart(ModsGame& game, int screen);
    // The view transform again, after a change of state.
    virtual void ui_follow(ModsGame& game);
    // The visible world rectangle, with a window; a bare game sets the world's own.
    virtual void ui_view(ModsGame& game, float x, float y, float w, float h);
    virtual bool ui_selected(ModsGame& game, int n);

    // ---- sound, chat, the platform ----
    virtual void play_sound(ModsGame& game, const std::string& name);
    virtual void play_music(ModsGame& game, const std::string& name);
    virtual void chat_append(ModsGame& game, int color, const std::string& text, int bgcolor);
    virtual void chat_keywords(ModsGame& game, const var& list);
    virtual std::string ext_call(ModsGame& game, const std::string& name, const std::string& data);

    // ---- the match glue (z2_net_host, z2_net_join, the runtime's teardown) ----
    // False, with the reason logged, when no endpoint could be made; a bare
    // game makes none.
    virtual bool net_host(ModsGame& game, int port, const std::string& key);
    virtual bool net_join(ModsGame& game, const std::string& host, int port, const std::string& token);
    // Both endpoints shut down and freed.
    virtual void net_stop(ModsGame& game);

    // ---- what the restart tells the mod about the player ----
    // The display name, account id and match size (settings) of the player;
    // none on a bare game.
    virtual void mods_player(ModsGame& game, std::string* name, std::string* uid, int* gsize);
};

// A plain record: the game that fills the hooks in (the Game) is one too.
class ModsGame {
public:
    // Value-initialised, "= Zentar()": that zeroes the whole record, the
    // padding before the step's aligned tables included. Braces would
    // initialise it member by member and leave the padding as it was.
    Zentar world = Zentar();               // the match world
    int32_t mod_builtin = 0;               // 1 while the running mod is a built-in script
    char mod_file[512]{};                  // file name of the current mod
    std::unique_ptr<ModsAPI> mods_api;     // the running mod's API object
    std::unique_ptr<ModsBase> mods_engine; // its script engine; goes before mods_api
    std::unique_ptr<Net> server_net;       // host endpoint, null when not hosting
    std::unique_ptr<Net> client_net;       // client endpoint, null when not connected
    int32_t quit = 0;                      // nonzero ends the frame loop
    int32_t headless = 0;                  // no window, audio, settings files or screens
    int32_t port = 0;                      // "-port"
    char server[256]{};                    // online match host "host:port", from the web login
    char token[256]{};                     // join token from the web login
    int32_t argc = 0;
    char** argv = nullptr;                 // saved, not copied
    ModsHooks* hooks;                      // never null; a bare game's own to start with

    ModsGame();
    ModsGame(const ModsGame&) = delete;
    ModsGame& operator=(const ModsGame&) = delete;
    ~ModsGame();

    // The hooks' operations on this game.
    void event(Event e) { hooks->event(*this, e); }
    void do_action(std::string action, std::string data) { hooks->do_action(*this, action, data); }
    std::unique_ptr<ModsPages> mods_pages(ModsAPI& api) { return hooks->mods_pages(*this, api); }
    void mods_follow(ModsAPI& api, const std::string& state, bool player2) {
        hooks->mods_follow(*this, api, state, player2);
    }
    void mods_settings_popup() { hooks->mods_settings_popup(*this); }
    void mods_hold() { hooks->mods_hold(*this); }
    void mods_release() { hooks->mods_release(*this); }
    void mods_trans_grab() { hooks->mods_trans_grab(*this); }
    void ui_restart(int screen) { hooks->ui_restart(*this, screen); }
    void ui_follow() { hooks->ui_follow(*this); }
    void ui_view(float x, float y, float w, float h) { hooks->ui_view(*this, x, y, w, h); }
    bool ui_selected(int n) { return hooks->ui_selected(*this, n); }
    void play_sound(const std::string& name) { hooks->play_sound(*this, name); }
    void play_music(const std::string& name) { hooks->play_music(*this, name); }
    void chat_append(int color, const std::string& text, int bgcolor) {
        hooks->chat_append(*this, color, text, bgcolor);
    }
    void chat_keywords(const var& list) { hooks->chat_keywords(*this, list); }
    std::string ext_call(const std::string& name, const std::string& data) {
        return hooks->ext_call(*this, name, data);
    }
    bool net_host(int port_, const std::string& key) { return hooks->net_host(*this, port_, key); }
    bool net_join(const std::string& host, int port_, const std::string& token_) {
        return hooks->net_join(*this, host, port_, token_);
    }
    void net_stop() { hooks->net_stop(*this); }
    void mods_player(std::string* name, std::string* uid, int* gsize) {
        hooks->mods_player(*this, name, uid, gsize);
    }
};

// Holds the screen moves of a ModsGame for as long as it lives.
class ModsHold {
public:
    explicit ModsHold(ModsGame& game) : game_(game) { game_.mods_hold(); }
    ~ModsHold() { game_.mods_release(); }
    ModsHold(const ModsHold&) = delete;
    ModsHold& operator=(const ModsHold&) = delete;

private:
    ModsGame& game_;
};
