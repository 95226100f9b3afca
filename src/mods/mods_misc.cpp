// mods_misc: script loading (built-in scripts and files, `require`) and the
// mod runtime's life cycle: restart, teardown, reload, the per-frame driver
// that turns the "state" parameter into the in-game screen, and events.
#include <stb_image.h>  // stbi_zlib_decode_buffer

#include <algorithm>
#include <cstring>
#include <ctime>

#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "mods/mods_scripts.h"
#include "net/net.h"  // net_uid
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

// What the lua program skips at the start of a file: an editor's UTF-8 mark,
// then a first line for the shell ("#!..."). The line's end stays, so the
// lines of an error report still match the file.
static void _mods_skip_header(std::string& text) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    if (!text.empty() && text[0] == '#') text.erase(0, std::min(text.find('\n'), text.size()));
}

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
    if (text.empty() && driver_file_fsize(path.c_str()) > 0) {
        // Too large or unreadable: the load logged which; the mod says so
        // instead of running as an empty script.
        log_printf("ModsAPI::require(\"%s\") file unreadable\n", name.c_str());
        error_note("file unreadable: " + base);
        api_error_set("file unreadable");
        return;
    }
    _mods_skip_header(text);
    if (engine) engine->script(text.c_str(), base.c_str());
}

// ==== life cycle =========================================================================

static void _mods_param_str(ModsAPI* api, const char* key, const std::string& value) {
    api->param_set(key, var(value));
}

int mods_restart(ModsGame& game, int run_loop, var params) {
    mods_deinit(game);

    game.mods_api = std::make_unique<ModsAPI>(game);
    ModsAPI* api = game.mods_api.get();
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
    std::string name, uid;
    int gsize = 0;
    game.mods_player(&name, &uid, &gsize);
    _mods_param_str(api, "name", name);
    // As the world and the messages know the player.
    _mods_param_str(api, "uid", net_uid(uid));
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
    _mods_param_str(api, "gsize", gsize < 321 ? "phone" : "standard");

    if (params.__type__() == VAR_DICT) {
        var walk(params.__iter__());
        var key, value;
        while (walk.__pair__(key, value)) api->param_set(key.__str__(), value);
    }

    game.mods_engine.reset(mods_lua(*api));
    ModsBase* engine = game.mods_engine.get();
    mods_reload(game);
    engine->init();
    api->started = engine->is_okay();
    if (run_loop) mods_loop(game);
    return 0;
}

int mods_restart_current(ModsGame& game) {
    if (ModsAPI* api = mods_api_of(game)) {
        memset(game.mod_file, 0, sizeof(game.mod_file));
        strncpy(game.mod_file, api->mod_file.c_str(), sizeof(game.mod_file) - 1);
        game.mod_builtin = api->mod_builtin;
    }
    return mods_restart(game, 1, var(VAR_DICT, 0));
}

void mods_deinit(ModsGame& game) {
    driver_set_altdir(nullptr);
    game.net_stop();
    sys_init(game.world);
    game.ui_restart(0);
    // The engine goes first: finalizers that print while the state closes
    // still find their log.
    game.mods_engine.reset();
    if (ModsAPI* api = mods_api_of(game)) {
        if (_mods_lua._lua_modsapi == api) _mods_lua._lua_modsapi = nullptr;
        game.mods_api.reset();
    }
}

void mods_reload(ModsGame& game) {
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

void mods_reload_auto(ModsGame& game) {
    // A running host keeps the mod it started with: a reload runs the files
    // again without init and drops the match (the mod's state) under every
    // player, and an operator updates the files of a host that is running.
    if (game.headless) return;
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

int mods_loop(ModsGame& game) {
    mods_reload_auto(game);
    ModsAPI* api = mods_api_of(game);
    if (!api) return 0;
    api->net.loop(0);
    api->data_flush(false);

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

    // With a window the game shows the screen the state asks for.
    game.mods_follow(*api, state, player2);
    return 0;
}

void mods_event(ModsGame& game, var e) {
    ModsAPI* api = mods_api_of(game);
    ModsBase* engine = mods_engine_of(game);
    if (!api || !engine) return;
    if (e.__type__() == VAR_DICT && e.__has__(var("type")) &&
        e["type"].__str__() == "mods_popup_dismiss") {
        if (api->pages) api->pages->gui_popup_dismiss();
        api->params.__set__(var("html"), var(""));
        return;
    }
    // The screen the mod asks for comes once the mod is done with this event.
    ModsHold hold(game);
    engine->event(var(e.__copy__()));
    mods_loop(game);
}

void mods_log_clear(ModsGame& game) {
    if (ModsAPI* api = mods_api_of(game)) api->log.clear();
}

void mods_console_toggle(ModsGame& game) {
    if (ModsAPI* api = mods_api_of(game)) api->console_visible ^= 1;
}
