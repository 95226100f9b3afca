// menus_bar: the background and bottom bar every menu screen adds, and the
// handler of the actions that mean the same on every menu screen.
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "shell/game_audio.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "mods/mods_api.h"
#include "net/net.h"
#include "ruvezor/util/qel_log.h"

void menus_tabs_init(GameParts& game, Container& root, const char* tab, int, int bar) {
    menus_tabs_init_popup(game, root, tab, bar);
}

// The middle of the in-game MENU / HELP bar: the logo, with the mod's status
// line under it when it has something to say.
static std::string _menus_bar_middle(GameParts& game) {
    std::string logo = "<img src='logo' height=24 />";
    if (!game.mods_api) return logo;
    var& params = game.mods_api->params;
    if (params.__type__() != VAR_DICT || !params.__has__(var("status"))) return logo;
    std::string status = params["status"].__str__();
    if (status.size() <= 1) return logo;
    return "<table><tr><td>" + logo + "<tr><td><div font='font-gui:12'>" + status + "</div></table>";
}

static std::string _menus_bar_markup(GameParts& game) {
    if (strcmp(game.view.cur, "states_tabs") == 0) {
        return "<table width='100%' height=44 ><tr><td><input type='button' class='tabx' pseudo=first "
               "onclick='popup:done'  width='15%'  height=44 ><table><tr><td><img src='icon-menu:#ffffff' "
               "width=18 height=18 /><tr><td><div font='font-gui2:20'>MENU</div></table></button><td><input "
               "type='button' class='tabx' onclick='#'  width='70%'  height=44 icon='blank' value='' disabled=1 >" +
               _menus_bar_middle(game) +
               "</button><td><input type='button' class='tabx' pseudo=last onclick='popup:help'  width='15%'  "
               "height=44 ><table><tr><td><img src='icon-help:#ffffff' width=18 height=18 /><tr><td><div "
               "font='font-gui2:20'>HELP</div></table></button></table>";
    }
    // Over a match the button goes back to it rather than to the main menu.
    const char* label = menus_in_popup(game) ? "Back" : "Main Menu";
    return std::string("<table width='100%'><tr><td><input type='button' value='") + label +
           "' onclick='popup:done' name='popup:done'  width=$WIDTH  height=$HEIGHT class='tiny1' />";
}

void menus_tabs_init_popup(GameParts& game, Container& root, const char* /*tab*/, int bar) {
    int sw = game_get_sw(), sh = game_get_sh();
    root.add(new MenusBG(&game), 0, 0);
    if (!bar) return;

    std::string markup = _menus_bar_markup(game) + "</tr></table>";
    markup = str_replace(markup, "$WIDTH", std::to_string(sw - 10));
    Box* box = new Box(html2gui(markup, var(VAR_DICT, 0)));
    box->style.declared().width = (float)sw;
    root.add(box, 0, sh - 44);
}

struct _MenusTarget {
    const char* action;
    const char* screen;
};

static const _MenusTarget MENUS_TARGETS[] = {
    {"tab:lite", "menus_lite"},
    {"tab:play", "menus_play"},
    {"tab:mods", "menus_mods"},
    {"tab:stats", "menus_stats"},
    {"tab:clans", "menus_clans"},
    {"tab:store", "menus_store"},
    {"tab:settings", "menus_settings"},
    {"tab:settings:account", "menus_settings_account"},
    {"tab:settings:audio", "menus_settings_audio"},
    {"tab:settings:video", "menus_settings_video"},
    {"tab:settings:controls", "menus_settings_controls"},
    {"tab:settings:options", "menus_settings_options"},
    {"tab:settings:extreme", "menus_settings_extreme"},
};

int menus_tabs_handle(GameParts& game, Event ev, var action) {
    if (ev.type == 6 && ev.key == 5) {
        action = var(VAR_DICT, 0);
        action["type"] = var("onclick");
        action["value"] = var("popup:done");
    }
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return 0;
    if (action["type"].__str__() != "onclick") return 0;
    std::string value = action.__has__(var("value")) ? action["value"].__str__() : std::string();

    const char* target = nullptr;
    for (const _MenusTarget& t : MENUS_TARGETS)
        if (value == t.action) target = t.screen;

    if (value == "tab:legends") {
        if (!game.is_logged_in()) {
            game.view.next("menus_login", 2);
            return 1;
        }
        game.audio.play_music("mus-none");
        snprintf(game.mod_file, sizeof(game.mod_file), "%s",
                 driver_data_fname("ZentarLegends/ZentarLegends.lua"));
        mods_restart(game, 1, var(VAR_DICT, 0));
        return 1;
    }
    if (value == "tab:quit") {
        Event q{};
        q.type = 1;
        game.event(q);
    }
    if (value == "popup:settings") {
        game.view.push("menus_settings_popup", 2);
        return 1;
    }
    if (value == "popup:help") {
        if (game.client_net) {
            game.client_net->send("", "help", "", 1);
        } else {
            var e(VAR_DICT, 0);
            e["type"] = var("help");
            mods_event(game, e);
        }
        return 1;
    }
    if (value == "popup:done") {
        game.view.pop(2);
        return 1;
    }
    if (!target) return 0;
    qel_log("%s / %s\n", target, game.view.cur);
    if (strcmp(target, game.view.cur) == 0) return 1;
    game.view.next(target, 2);
    return 1;
}
