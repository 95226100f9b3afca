// mods_api: the game API object of the running mod (ModsAPI), its error
// record, the mod log, the mod parameters, and the mod runtime's life cycle
// (mods_restart ... mods_loop, in mods_misc.cpp).
//
// One ModsAPI lives from one mod restart to the next; the game's mods_api
// owns it. It works on a ModsGame (mods/mods_game.h) and needs no window: its
// GUI pages are made by the window side when there is one. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mods/mods_game.h"  // ModsGame, ModsPages
#include "net/net.h"    // NetClient, the API's own client object
#include "ruvezor/util/qel_var.h"

class ModsBase;

// One loaded script, in load order; the first is the mod file itself.
struct ModScript {
    std::string arg;   // the name as requested
    std::string path;  // the cleaned name (built-in) or the file read
    int32_t mtime = 0; // file modification time; 0 marks a built-in script
    std::string name;  // clean base name ("util.lua")
};

// The running mod's game API.
class ModsAPI {
public:
    ModsGame& game;                 // not owned
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
    // What the player is told when the mod fails (mods_failure_check): the
    // first and the latest script error of this run, one line each; whether
    // the mod's init went well; and whether the failure was already shown.
    std::string error_first, error_last;
    int32_t started = 0;
    int32_t failure_shown = 0;
    // The mod's GUI pages (and the console's prompt); null without a window side.
    std::unique_ptr<ModsPages> pages;
    // The "data" blob set last and not yet in its file (data_dirty), the
    // file's name, and the second of the last write (-1 before the first).
    std::string data_waiting, data_file;
    int32_t data_dirty = 0;
    long data_saved_second = -1;

    explicit ModsAPI(ModsGame& game);
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
    // Keeps the first line of a script error for the failure report.
    void error_note(const std::string& text);

    // ---- parameters ----
    var param_get(const std::string& key);
    void param_set(const std::string& key, const var& value);

    // ---- scripts (mods_misc.cpp) ----
    void require(std::string name);

    // Every operation below that fails logs one line and stores its error
    // text (api_error_set); the caller reads and clears it.

    // ---- item access (mods_api_item.cpp) ----
    var item_get(int n, const std::string& key);  // none on failure
    void item_set(int n, const std::string& key, const var& value);
    bool item_selected(int n);
    void item_sync(int n);
    void item_destroy(int n);

    // ---- world operations (mods_api_world.cpp) ----
    // Constructors return the new item number, 0 on failure or a full world.
    int item_init();
    int team_init(const std::string& name, int color);
    int user_init(const std::string& name, int color, int team);
    void part_init(const std::string& src, float d, float x, float y, float r, float q, float a,
                   float vx, float vy, float vr, float vq, float va);
    int planet_init(int owner, float x, float y, float production, float ships);
    int fleet_init(int owner, float ships, int from, int to);
    void planet_chown(int planet, int owner);
    void fleet_redirect(int fleet, int to);
    int fleet_send(int percent, int from, int to);
    void planets_settle(float x, float y, float w, float h);
    void view_set(float x, float y, float w, float h);
    void bounds_set(float x, float y, float w, float h);
    void clip_set(float x, float y, float w, float h);
    void game_reset();
    void play_sound(const std::string& name);
    void play_music(const std::string& name);

    // ---- item search (mods_api_search.cpp) ----
    // A list of item numbers in ascending slot order; empty when none match.
    var items_find(const std::string& query);

    // ---- GUI pages: the pages' own, nothing without them ----
    // Rebuilds the mod's page from its markup parameters (mods_gui/mods_api_gui.cpp).
    void _gui_init(int keep);
    var gui_get(const std::string& name);  // none when no widget has the name
    void gui_set(const std::string& name, const var& value);
    void gui_paint();

    // ---- networking, chat and stored data (mods_api_net.cpp, mods_api.cpp) ----
    void net_host(int port, const std::string& text);
    void net_join(const std::string& host, int port, const std::string& token);
    void net_send(const std::string& uid, const std::string& type, const std::string& value);
    // A one-off message through the API's own client object; no script reaches it.
    void net_poke(const std::string& host, int port, const std::string& name,
                  const std::string& type, const std::string& value);
    void api_call(const std::string& type, const std::string& data);
    std::string ext_call(const std::string& name, const std::string& data);
    void chat_append(int color, const std::string& text, int bgcolor);
    void chat_keywords(const var& list);
    std::string _name_clean(const std::string& name);
    void _data_save(const std::string& name, const std::string& data);
    // Writes the waiting "data" blob: at once when `now`, else unless a
    // write was made this second already (each write is synced to disk, and
    // a host's messages may set the blob many times a frame).
    void data_flush(bool now);
    std::string _data_load(const std::string& name);
};

// ---- planet styles (mods_api_style.cpp) ----
// Fills item.planet_style from a small JSON object; never fails.
void planet_style_set(ModsGame& game, Item& item, const std::string& text);

// The game's mods_api / mods_engine, null when no mod runs.
inline ModsAPI* mods_api_of(ModsGame& game) { return game.mods_api.get(); }
inline ModsBase* mods_engine_of(ModsGame& game) { return game.mods_engine.get(); }

// ---- life cycle (mods_misc.cpp) -------------------------------------------------

// Tears the runtime down and builds it again for the game's mod_file; runs
// mods_loop once at the end when run_loop is non-zero. Returns 0.
int mods_restart(ModsGame& game, int run_loop, var params);
// Restarts the mod that is running now (F5, the crash policy), whatever
// mod_file was set to since; a plain restart when none runs.
int mods_restart_current(ModsGame& game);
void mods_deinit(ModsGame& game);
void mods_reload(ModsGame& game);
void mods_reload_auto(ModsGame& game);
int mods_loop(ModsGame& game);
void mods_event(ModsGame& game, var event);
void mods_log_clear(ModsGame& game);
void mods_console_toggle(ModsGame& game);
