// game_mods: what the mod runtime asks of the Game (the hooks the Game puts
// in its ModsGame part), and the check that a failed mod is not left behind
// an empty screen.
#include <cstring>
#include <string>

#include "app/builds_app.h"
#include "app/game.h"
#include "app/game_net.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "mods_gui/mods_gui.h"
#include "ruvezor/util/qel_log.h"
#include "screens/menus.h"  // menus_html_escape
#include "shell/game_settings_io.h"  // game_account_id
#include "shell/trans.h"

namespace {

// Only a Game installs these hooks, on itself.
Game& _g(ModsGame& game) { return static_cast<Game&>(game); }

class GameModsHooks : public ModsHooks {
public:
    void event(ModsGame& game, Event e) override { _g(game).event(e); }

    void do_action(ModsGame& game, std::string action, std::string data) override {
        _g(game).do_action(action, data);
    }

    // ---- the mod's window side ----

    // Headless too, as ever: a host's mod has pages that nothing builds.
    std::unique_ptr<ModsPages> mods_pages(ModsGame& game, ModsAPI& api) override {
        return std::make_unique<ModsGui>(api, _g(game).view, _g(game).ui);
    }

    void mods_follow(ModsGame& game, ModsAPI& api, const std::string& state, bool player2) override {
        mods_gui_follow(_g(game).parts, api, state, player2);
    }

    void mods_settings_popup(ModsGame& game) override { _g(game).view.push("menus_settings_popup", 2); }

    // As GameView::Hold does.
    void mods_hold(ModsGame& game) override { _g(game).view.held++; }
    void mods_release(ModsGame& game) override { _g(game).view.release(); }

    void mods_trans_grab(ModsGame& game) override { game_trans_grab(_g(game), 1, 2); }

    // ---- the in-match controls ----

    void ui_restart(ModsGame& game, int screen) override {
        Game& g = _g(game);
        ZentarUI& ui = g.ui;
        // A mod sets its match up before the match screen starts: the
        // controls must start from the player's options (the default
        // percentage among them), not from what the menus left there.
        if (!g.headless) memcpy(&ui.options, &g.settings.ui_box, SETTINGS_UI_WORDS * 4);
        ui.inited = 0;
        if (screen) ui.screen_set = 0;
    }

    void ui_follow(ModsGame& game) override { ui_calc_trans(game.world, _g(game).ui); }

    void ui_view(ModsGame& game, float x, float y, float w, float h) override {
        ui_view_set(game.world, _g(game).ui, x, y, w, h);
    }

    bool ui_selected(ModsGame& game, int n) override { return _g(game).ui.sel[n] != 0; }

    // ---- sound, chat, the platform ----

    void play_sound(ModsGame& game, const std::string& name) override {
        _g(game).audio.play_sound(name.c_str());
    }

    void play_music(ModsGame& game, const std::string& name) override {
        _g(game).audio.play_music(name.c_str());
    }

    void chat_append(ModsGame& game, int color, const std::string& text, int bgcolor) override {
        ::chat_append(_g(game), color, text, bgcolor);
    }

    void chat_keywords(ModsGame& game, const var& list) override { ::chat_keywords(_g(game), list); }

    std::string ext_call(ModsGame& game, const std::string& name, const std::string& data) override {
        return builds_mods_api_ext_call(_g(game), name, data);
    }

    // ---- the match glue ----

    bool net_host(ModsGame& game, int port, const std::string& key) override {
        return game_server_init(_g(game), port, key);
    }

    bool net_join(ModsGame& game, const std::string& host, int port, const std::string& token) override {
        return game_client_init(_g(game), host.c_str(), port, token);
    }

    void net_stop(ModsGame& game) override {
        game_client_deinit(_g(game));
        game_server_deinit(_g(game));
    }

    void mods_player(ModsGame& game, std::string* name, std::string* uid, int* gsize) override {
        const Settings& s = _g(game).settings;
        *name = std::string(s.display_name, strnlen(s.display_name, sizeof(s.display_name)));
        *uid = game_account_id(_g(game));
        *gsize = s.gsize;
    }
};

}  // namespace

ModsHooks& game_mods_hooks() {
    static GameModsHooks hooks;
    return hooks;
}

// ---- failure ---------------------------------------------------------------------------

static bool _mods_prefix(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
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

