// mods_follow: the window side of the mod loop: the in-game screen that
// the mod's "state" asks for.
#include <cstring>
#include <string>

#include "mods/mods_game.h"
#include "mods_gui/mods_gui.h"
#include "shell/game_parts.h"
#include "shell/game_video.h"  // game_get_sw, game_get_sh
#include "shell/game_view.h"

// Against where the view is going: a move may still wait for the handling
// that asked for it to end.
static void _mods_view_next(GameView& view, const char* name) {
    if (view.dest() != name) view.next(name, 2);
}

static bool _mods_prefix(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

void mods_gui_follow(GameParts& game, ModsAPI& api, const std::string& state, bool player2) {
    api.param_set("orient", var(game_get_sw() < game_get_sh()));

    std::string dest = game.view.dest();
    const char* cur = dest.c_str();
    if (_mods_prefix(cur, "menus_settings_") && state != "play") return;
    if (_mods_prefix(cur, "menus_error") || _mods_prefix(cur, "menus_webiap") ||
        _mods_prefix(cur, "ext_store_view"))
        return;

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
        if (target) _mods_view_next(game.view, target);
        return;
    }

    if (state == "xlobby") {
        // Asked twice: entering the lobby may change the answer.
        if (game.view.state_call(var("lobby:split")).__bool__())
            _mods_view_next(game.view, "states_lobby");
        if (!game.view.state_call(var("lobby:split")).__bool__())
            _mods_view_next(game.view, "states_xlobby");
    } else if (state == "quit") {
        game.mods.net_stop();
        game.view.pop(2);
    }
}
