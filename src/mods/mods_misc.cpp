// mods_misc: script loading (built-in scripts and files, `require`) and the
// mod runtime's life cycle: restart, teardown, reload, the per-frame driver
// that turns the "state" parameter into the in-game screen, and events.
#include <stb_image.h>  // stbi_zlib_decode_buffer

#include <algorithm>
#include <cstring>
#include <ctime>

#include "net/game_net.h"  // game_client_deinit, game_server_deinit
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "mods/mods_scripts.h"
#include "net/net.h"  // net_uid
#include "screens/menus.h"  // menus_html_escape
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_log.h"

// ==== built-in scripts ==============================================================

// Generated at build time (tools/embed_scripts): the zlib blocks and the
// MODS_EMBED_ROWS list.
#include "mods_embed_data.h"

const ModsEmbed mods_embed[] = {
    MODS_EMBED_ROWS
    {nullptr, 0, nullptr, 0},
};

static char _mods_embed_buf[MODS_EMBED_MAX];

std::string _mods_embed_decode(const unsigned char* data, int length) {
    memset(_mods_embed_buf, 0, sizeof(_mods_embed_buf));
    int n = -1;
    if (data && length > 0)
        n = stbi_zlib_decode_buffer(_mods_embed_buf, (int)sizeof(_mods_embed_buf),
                                    (const char*)data, length);
    if (n <= 0) {
        qel_log("_mods_embed_decode(): zlib fail\n");
        return "";
    }
    return std::string(_mods_embed_buf, (size_t)n);
}

static const ModsEmbed* _mods_embed_find(const std::string& name) {
    for (const ModsEmbed* row = mods_embed; row->name; row++)
        if (name == row->name) return row;
    return nullptr;
}

int mods_embed_load(ModsAPI* api, ModsBase* engine, std::string arg, std::string name) {
    const ModsEmbed* row = _mods_embed_find(name);
    if (!row) return 0;
    api->scripts.push_back(ModScript{arg, name, 0, name});
    qel_log("ModsAPI::require:embed: %s\n", name.c_str());
    std::string text = _mods_embed_decode(row->data, row->length);
    if (engine) engine->script_builtin(text.c_str(), name.c_str());
    return 1;
}

// ==== names ===========================================================================

std::string get_basename(std::string path) {
    path = str_replace(str_replace(path, "..", "_"), "\\", "/");
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string get_dirname(std::string path) {
    path = str_replace(path, "\\", "/");
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// ==== loading ===========================================================================

void ModsAPI::require(std::string name) {
    std::string clean = str_replace(str_replace(name, "..", "_"), "\\", "/");
    size_t slash = clean.rfind('/');
    std::string base = slash == std::string::npos ? clean : clean.substr(slash + 1);
    if (base.find('.') == std::string::npos) base += ".lua";
    for (const ModScript& s : scripts)
        if (s.name == base) return;

    ModsBase* engine = mods_engine_of(game);
    if (const ModsEmbed* row = _mods_embed_find(base)) {
        scripts.push_back(ModScript{name, clean, 0, base});
        qel_log("ModsAPI::require:embed: %s\n", base.c_str());
        std::string text = _mods_embed_decode(row->data, row->length);
        if (engine) engine->script_builtin(text.c_str(), base.c_str());
        return;
    }
    if (mod_builtin) return;

    // The running mod's directory first. A mod named without a directory has
    // none: its scripts come from the data directory, never from "/".
    std::string dir = get_dirname(mod_file);
    driver_set_altdir(dir.empty() ? nullptr : dir.c_str());
    std::string path;
    if (!dir.empty()) path = dir + "/" + base;
    if (path.empty() || !driver_file_exists(path.c_str())) {
        path = driver_data_fname(base.c_str());
        if (path.empty() || !driver_file_exists(path.c_str())) {
            log_printf("ModsAPI::require(\"%s\") file missing\n", name.c_str());
            error_note("file missing: " + base);
            api_error_set("file missing");
            return;
        }
    }
    scripts.push_back(ModScript{name, path, driver_file_mtime(path.c_str()), base});
    qel_log("ModsAPI::require: %s\n", path.c_str());
    std::string text = driver_file_load(path.c_str());
    if (engine) engine->script(text.c_str(), base.c_str());
}

// ==== life cycle =========================================================================

static void _mods_param_str(ModsAPI* api, const char* key, const std::string& value) {
    api->param_set(key, var(value));
}

int mods_restart(Game& game, int run_loop, var params) {
    mods_deinit(game);

    ModsAPI* api = new ModsAPI(game);
    game.mods_api = reinterpret_cast<decltype(game.mods_api)>(api);
    api->mod_file = game.mod_file;
    api->mod_builtin = game.mod_builtin;

    // Command-line pairs; the value of a pair is examined as a key in its turn.
    static const char* const own[] = {"-name", "-passwd", "-mod", "-headless", "-port"};
    for (int i = 0; game.argv && i < game.argc; i++) {
        const char* a = game.argv[i];
        if (!a || a[0] != '-') continue;
        bool skip = false;
        for (const char* o : own) skip = skip || strcmp(a, o) == 0;
        if (skip) continue;
        if (i + 1 >= game.argc || !game.argv[i + 1]) break;
        _mods_param_str(api, a + 1, game.argv[i + 1]);
    }

    _mods_param_str(api, "vinfo", _get_game_version_info());
    _mods_param_str(api, "version", _get_game_version());
    _mods_param_str(api, "html", "");
    _mods_param_str(api, "html_page", "");
    _mods_param_str(api, "state", "menu");
    _mods_param_str(api, "tab", "mods");
    api->param_set("speed", var(1.0));
    api->param_set("ticks", var(1));
    _mods_param_str(api, "name", game.settings.display_name);
    // As the world and the messages know the player.
    const Settings& s = game.settings;
    _mods_param_str(api, "uid", net_uid(std::string(s.uid, strnlen(s.uid, sizeof(s.uid)))));
    api->param_set("player", var(0));

    var& p = api->params;
    if (game.headless) p.__set__(var("headless"), var(1));
    if (game.port) p.__set__(var("port"), var(game.port));
    if (game.server[0]) {
        std::string server(game.server, strnlen(game.server, sizeof(game.server)));
        size_t colon = server.find(':');
        p.__set__(var("host"), var(server.substr(0, colon)));
        // Without a port in it, the server names only the host.
        if (colon != std::string::npos) p.__set__(var("port"), var(server.substr(colon + 1)));
    }
    p.__set__(var("token"), var(std::string(game.token, strnlen(game.token, sizeof(game.token)))));

    _mods_param_str(api, "platform", "Linux");
    _mods_param_str(api, "gsize", game.settings.gsize < 321 ? "phone" : "standard");

    if (params.__type__() == VAR_DICT) {
        var walk(params.__iter__());
        var key, value;
        while (walk.__pair__(key, value)) api->param_set(key.__str__(), value);
    }

    ModsBase* engine = mods_lua(*api);
    game.mods_engine = reinterpret_cast<decltype(game.mods_engine)>(engine);
    mods_reload(game);
    engine->init();
    api->started = engine->is_okay();
    if (run_loop) mods_loop(game);
    return 0;
}

int mods_restart_current(Game& game) {
    if (ModsAPI* api = mods_api_of(game)) {
        memset(game.mod_file, 0, sizeof(game.mod_file));
        strncpy(game.mod_file, api->mod_file.c_str(), sizeof(game.mod_file) - 1);
        game.mod_builtin = api->mod_builtin;
    }
    return mods_restart(game, 1, var(VAR_DICT, 0));
}

void mods_deinit(Game& game) {
    driver_set_altdir(nullptr);
    game_client_deinit(game);
    game_server_deinit(game);
    sys_init(game.world);
    game.ui.inited = 0;
    // The engine goes first: finalizers that print while the state closes
    // still find their log.
    if (ModsBase* engine = mods_engine_of(game)) {
        delete engine;
        game.mods_engine = nullptr;
    }
    if (ModsAPI* api = mods_api_of(game)) {
        if (_lua_modsapi == api) _lua_modsapi = nullptr;
        delete api;
        game.mods_api = nullptr;
    }
}

void mods_reload(Game& game) {
    ModsAPI* api = mods_api_of(game);
    if (!api) return;
    api->log.clear();
    qel_log("mods_reload: %s\n", api->mod_file.c_str());
    api->scripts.clear();
    api->require(api->mod_file);
    // Nobody raises a reload's failure later: it is reported here.
    if (api->api_error()) {
        qel_log("mods_reload: %s\n", api->api_error_get().c_str());
        api->api_error_clear();
    }
}

void mods_reload_auto(Game& game) {
    static time_t last = 0;
    time_t now = time(nullptr);
    if (now == last) return;
    last = now;
    ModsAPI* api = mods_api_of(game);
    if (!api) return;
    bool changed = false;
    for (const ModScript& s : api->scripts)
        if (s.mtime && driver_file_changed(s.path.c_str(), s.mtime, (long)now)) changed = true;
    if (!changed) return;
    qel_log("reload...\n");
    mods_reload(game);
}

// Against where the view is going: a move may still wait for the handling
// that asked for it to end.
static void _mods_view_next(Game& game, const char* name) {
    if (game.view.dest() != name) game.view.next(name, 2);
}

static bool _mods_prefix(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

int mods_loop(Game& game) {
    mods_reload_auto(game);
    ModsAPI* api = mods_api_of(game);
    if (!api) return 0;
    api->net.loop(0);

    std::string state = api->param_get("state").__str__();
    bool player2 = api->param_get("player2").__num__() != 0;  // NaN counts as set

    if (game.headless) {
        if (state == "quit") {
            Event e{};
            e.type = 1;
            game.event(e);
        } else if (state == "exit") {
            game.quit = 1;
        }
        return 0;
    }

    api->param_set("orient", var(game_get_sw() < game_get_sh()));

    std::string dest = game.view.dest();
    const char* cur = dest.c_str();
    if (_mods_prefix(cur, "menus_settings_") && state != "play") return 0;
    if (_mods_prefix(cur, "menus_error") || _mods_prefix(cur, "menus_webiap") ||
        _mods_prefix(cur, "ext_store_view"))
        return 0;

    if (state == "exit") game.quit = 1;

    struct Row {
        const char* state;
        const char* one;  // player2 = 0
        const char* two;  // player2 non-zero; null = no change
    };
    static const Row rows[] = {
        {"menu", "states_menu", "states_menu"},
        {"login", "menus_login", "menus_login"},
        {"play", "states_play", "states_play2"},
        {"pause", "states_pause", "states_pause2"},
        {"xpause", "states_pause", nullptr},
        {"lobby", "states_lobby", "states_lobby"},
        {"scene", "states_scene", "states_scene"},
        {"dialog", "states_dialog", "states_dialog"},
        {"overlay", "states_overlay", "states_overlay"},
        {"tabs", "states_tabs", "states_tabs"},
        {"xtabs", "states_tabs", "states_tabs"},
    };
    for (const Row& r : rows) {
        if (state != r.state) continue;
        const char* target = player2 ? r.two : r.one;
        if (target) _mods_view_next(game, target);
        return 0;
    }

    if (state == "xlobby") {
        // Asked twice: entering the lobby may change the answer.
        if (game.view.state_call(var("lobby:split")).__bool__())
            _mods_view_next(game, "states_lobby");
        if (!game.view.state_call(var("lobby:split")).__bool__())
            _mods_view_next(game, "states_xlobby");
    } else if (state == "quit") {
        game_client_deinit(game);
        game_server_deinit(game);
        game.view.pop(2);
    }
    return 0;
}

void mods_event(Game& game, var e) {
    ModsAPI* api = mods_api_of(game);
    ModsBase* engine = mods_engine_of(game);
    if (!api || !engine) return;
    if (e.__type__() == VAR_DICT && e.__has__(var("type")) &&
        e["type"].__str__() == "mods_popup_dismiss") {
        // The page that holds the popup goes, or the root itself is the popup.
        Widget* popup = nullptr;
        for (Widget* c : api->children)
            if (c->find("popup")) {
                popup = c;
                break;
            }
        if (!popup && api->name == "popup") popup = api;
        if (popup) {
            if (api->focused == popup) api->focused = nullptr;
            if (api->hovered == popup) api->hovered = nullptr;
            auto at = std::find(api->children.begin(), api->children.end(), popup);
            if (at != api->children.end()) {
                api->children.erase(at);
                delete popup;
            }
        }
        api->params.__set__(var("html"), var(""));
        return;
    }
    // The screen the mod asks for comes once the mod is done with this event.
    GameView::Hold hold(game.view);
    engine->event(var(e.__copy__()));
    mods_loop(game);
}

// The line of a failure report: long Lua messages are cut so the box stays on screen.
static std::string _mods_failure_line(const std::string& line) {
    static constexpr size_t MAX = 160;
    if (line.empty()) return "(no message)";
    if (line.size() <= MAX) return line;
    size_t cut = MAX;
    while (cut > 0 && ((unsigned char)line[cut] & 0xC0) == 0x80) cut--;  // not inside a character
    return line.substr(0, cut) + "...";
}

void mods_failure_check(Game& game) {
    ModsAPI* api = mods_api_of(game);
    ModsBase* engine = mods_engine_of(game);
    if (!api || !engine || engine->is_okay() || api->failure_shown) return;
    // One message at a time: a failure behind the error screen waits for it.
    if (_mods_prefix(game.view.cur, "menus_error")) return;
    api->failure_shown = 1;
    if (game.crash == 1) {
        game.quit = 1;
        return;
    }
    // A mod that never started would only fail again at once.
    if (game.crash == 2 && api->started) {
        mods_restart_current(game);
        return;
    }
    std::string text = api->started ? "The mod stopped with an error:" : "The mod could not be started:";
    text += "<br/><br/>" + menus_html_escape(_mods_failure_line(api->started ? api->error_last : api->error_first));
    qel_log("mods: failure shown: %s\n", text.c_str());
    // The main menu ends the failed mod (api is gone after this) and is what
    // the error screen's Continue goes back to.
    game.view.next("menus_main", 2);
    game.view.push("menus_error", 2);
    var msg(VAR_DICT, 0);
    msg["type"] = var("content");
    msg["value"] = var(text);
    game.view.state_call(msg);
}

void mods_log_clear(Game& game) {
    if (ModsAPI* api = mods_api_of(game)) api->log.clear();
}

void mods_console_toggle(Game& game) {
    if (ModsAPI* api = mods_api_of(game)) api->console_visible ^= 1;
}
