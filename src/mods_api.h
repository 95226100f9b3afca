// mods_api: the game API object of the running mod (ModsAPI), its error
// record, the mod log, the mod parameters, and the mod runtime's life cycle
// (mods_restart ... mods_loop, in mods_misc.cpp).
//
// One ModsAPI lives from one mod restart to the next; Game.mods_api points at
// it. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game.h"   // Game, and the shell's mod runtime declarations
#include "net.h"    // NetClient, the API's own client object
#include "qel_var.h"


class ModsBase;

// One loaded script, in load order; the first is the mod file itself.
struct ModScript {
    std::string arg;   // the name as requested
    std::string path;  // the cleaned name (built-in) or the file read
    int32_t mtime = 0; // file modification time; 0 marks a built-in script
    std::string name;  // clean base name ("util.lua")
};

class ModsAPI {
public:
    Game& game;                     // not owned
    var params;                     // mod parameters, a dict
    std::vector<std::string> log;   // mod log, newest first, at most 255 lines
    int32_t console_visible = 0;    // console panel shown (bit 0)
    std::string console_last;       // last line run from the console prompt
    std::string api_error_text;     // last failure, "" when none
    int32_t api_error_flag = 0;     // 1 while a failure is stored
    NetClient net;                  // own client object for one-off messages
    std::vector<ModScript> scripts; // loaded scripts, in load order
    // The mod this object runs, recorded at restart: reloads and restarts of
    // the running mod use these, not whatever Game.mod_file holds later.
    std::string mod_file;
    int32_t mod_builtin = 0;

    explicit ModsAPI(Game& game);
    ~ModsAPI();
    ModsAPI(const ModsAPI&) = delete;
    ModsAPI& operator=(const ModsAPI&) = delete;

    // ---- error record ----
    void api_error_set(const std::string& text);
    int api_error();
    std::string api_error_get();
    void api_error_clear();
    // 1 when n names an item slot in use; else logs, stores "invalid item", 0.
    int _item_ok(int n, const char* label);

    // ---- log ----
    void log_entry(const std::string& text);
    void log_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // ---- parameters ----
    var param_get(const std::string& key);
    void param_set(const std::string& key, const var& value);

    // ---- scripts (mods_misc.cpp) ----
    void require(std::string name);

    // ---- stored data ----
    std::string _name_clean(const std::string& name);
    void _data_save(const std::string& name, const std::string& data);
    std::string _data_load(const std::string& name);

    // ---- GUI page ----
    // Rebuilds the mod's page from its markup parameters (the page builder
    // defines it; the default here keeps the page as it is).
    void _gui_init(int keep);
};

// Game.mods_api / Game.mods_engine, typed as the real classes.
inline ModsAPI* mods_api_of(Game& game) { return reinterpret_cast<ModsAPI*>(game.mods_api); }
inline ModsBase* mods_engine_of(Game& game) {
    return reinterpret_cast<ModsBase*>(game.mods_engine);
}

// ---- screen stack ----------------------------------------------------------------
// GameView operations that the screen stack may not offer yet; each does
// nothing (and state_call answers none) until GameView has it.
template <class View>
void mods_view_push(View& view, const char* name, int transition) {
    if constexpr (requires { view.push(name, transition); }) view.push(name, transition);
}
template <class View>
void mods_view_pop(View& view, int transition) {
    if constexpr (requires { view.pop(transition); }) view.pop(transition);
}
template <class View>
var mods_view_call(View& view, const var& msg) {
    if constexpr (requires { view.state_call(msg); }) return view.state_call(msg);
    else return var();
}

// ---- life cycle (mods_misc.cpp) -------------------------------------------------

// Tears the runtime down and builds it again for Game.mod_file; runs
// mods_loop once at the end when run_loop is non-zero. Returns 0.
int mods_restart(Game& game, int run_loop, var params);
// Restarts the mod that is running now (F5, the crash policy), whatever
// Game.mod_file was set to since; a plain restart when none runs.
int mods_restart_current(Game& game);
void mods_deinit(Game& game);
void mods_reload(Game& game);
void mods_reload_auto(Game& game);
int mods_loop(Game& game);
void mods_event(Game& game, var event);
void mods_log_clear(Game& game);
void mods_console_toggle(Game& game);
