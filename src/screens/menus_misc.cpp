// menus_misc: the mods screen, the credits and the stats, clans and store
// pages. The mods screen hands a file to the mod runtime, which then moves
// the screens through the mod's "state".
#include "screens/menus_misc.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "shell/builds.h"
#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "world/zentar.h"
#include "shell/game_video.h"
#include "shell/game_audio.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "mods/mods_api.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"


static const char* const MODS_FRUSTRATION = "mod_frustration.lua";
static const char* const CLANS_PAGE = "http://www.zentar2.net/clans/moustache/";

static var _dict() { return var(VAR_DICT, 0); }

static std::string _action_member(var& action, const char* key) {
    if (action.__type__() != VAR_DICT || !action.__has__(var(key))) return std::string();
    return action[key].__str__();
}

// Stores a mod path in Game.mod_file; a path that does not fit is refused.
static bool _set_mod_file(GameParts& game, const std::string& path) {
    if (path.size() >= sizeof(game.mod_file)) {
        qel_log("mods: path too long (%d bytes), not started\n", (int)path.size());
        return false;
    }
    memcpy(game.mod_file, path.c_str(), path.size() + 1);
    return true;
}

static void _run_mod(GameParts& game, const std::string& path) {
    game.audio.play_music("mus-none");
    if (!_set_mod_file(game, path)) return;
    game.mod_builtin = 0;
    mods_restart(game, 1, _dict());
}

// ==== mods ===========================================================================

MenusMods::MenusMods(GameParts* g) : game(g) {}

static std::string _mod_button(const char* label, const char* file) {
    return std::string("<input type='button' value='") + label + "' width=100 onclick='" + file + "'/>";
}

void MenusMods::init() {
    root = Container();
    menus_tabs_init_popup(*game, root, "mods", 1);

    std::string m = "<table><tr><td><p>Example Mods:</p>";
    m += "<tr><td><table><tr><td>" + _mod_button("classic", "mod_classic.lua") + "<td>" +
         _mod_button("turns", "mod_turns.lua");
    m += "<tr><td>" + _mod_button("botwar", "mod_botwar.lua") + "<td>" + _mod_button("bricks", "mod_bricks.lua");
    m += "</table>";
    m += "<tr><td><table><tr><td>" + _mod_button("client", "mod_client.lua") + "<td>" +
         _mod_button("server", "mod_server.lua") + "</table>";
    // The developers' scene, on their machines only.
    if (builds_get_debug()) m += "<tr><td>" + _mod_button("magnet", "magnet");
    m += "<tr><td><p>User Mods:</p>";
    m += "<tr><td><table><tr><td>" + _mod_button("frustration", MODS_FRUSTRATION) + "<td>" +
         _mod_button("ultracon", "mod_ultracon.lua") + "</table>";
    m += "<tr><td>&nbsp;<tr><td><input type='button' class='ibutton1' icon='icon-mods' value='Learn to mod' "
         "onclick='learn' />";
    m += "<tr><td><p>&nbsp;</p><tr><td><p>Pick a mod from your computer:</p><tr><td><table><tr><td><input "
         "type='text' name='fname' value='' width=200 /><tr><td><input type='button' value='Play' onclick='open' "
         "width=100 /></table></table>";
    root.add(menus_scrollbox(html2gui(m, _dict()), game_get_sw(), -44), 0, 0);

    if (!game->mod_file[0]) _set_mod_file(*game, driver_get_home_dir());
    if (Widget* fname = root.find("fname")) fname->set_value_s(game->mod_file);
}

void MenusMods::paint() { menus_paint_common(root); }
void MenusMods::loop(float) { menus_loop_common(root); }

void MenusMods::event(Event e) {
    var action = root.event(&e);
    if (menus_tabs_handle(*game, e, action)) return;
    if (action.__type__() != VAR_DICT || !action.__has__(var("value"))) return;
    std::string value = action["value"].__str__();

    if (value == "open") {
        Widget* fname = root.find("fname");
        const char* typed = fname ? fname->get_value_s() : "";
        _run_mod(*game, typed ? typed : "");
    } else if (value == "learn") {
        std::string url = game_web_url(game, "/z2/learn.php");
        game->video.open_url(url.c_str());
    } else if (value == "magnet") {
        game->audio.play_music("mus-none");
        game->view.next("test_magnetset", 2);
    } else {
        _run_mod(*game, driver_data_fname(value.c_str()));
    }
}

// ==== credits ========================================================================

static const char* const ABOUT_LINES[] = {
    "Zentar 2",
    "",
    "Design and programming",
    "Oren Talvik",
    "",
    "Art and interface",
    "Mira Castellane",
    "",
    "Music",
    "Jonas Helder",
    "",
    "Sound effects",
    "Pia Rendall",
    "<img src='icon-coin' width=40 height=40/>",
    "Server and web services",
    "Dario Vennet",
    "",
    "Mod tools and scripting",
    "Kell Ashbury",
    "<img src='icon-friends' width=40 height=40/>",
    "Community",
    "Sanne Olofsdottir",
    "",
    "Testing",
    "Ravi Menon, Tomas Brandt, Ilse Varga",
    "<img src='icon-control' width=40 height=40/>",
    "Special thanks to everyone who backed Zentar 2",
    "",
    "Grand Admirals",
    "Lukas Fenwright",
    "Amara Osei",
    "Henrik Stahl",
    "<img src='icon-clans' width=40 height=40/>",
    "Admirals",
    "Noor Haddad",
    "Bea Lindqvist",
    "Caspar Moreau",
    "Dana Whitcombe",
    "",
    "Captains",
    "Elif Kaya",
    "Finn Gallagher",
    "Greta Novak",
    "Hugo Marchetti",
    "Isak Berg",
    "Jade Okafor",
    "",
    "Pilots",
    "Kai Nakamura, Lena Fischer, Milo Duarte",
    "Nadia Petrova, Oscar Lund, Paula Ruiz",
    "Quinn Barlow, Rosa Ibarra, Sven Aalto",
    "",
    "<img src='icon' width=80 height=80 />",
    "And to every commander",
    "who ever sent a fleet",
    "",
    "Thank you for playing!",
    "<img src='icon-friend' width=40 height=40/>",
    "",
    "Made with SDL, Lua and ENet",
    "",
    "See you among the stars",
    "",
    "Zentar 2"};
static_assert(sizeof(ABOUT_LINES) / sizeof(ABOUT_LINES[0]) == 64);

MenusAbout::MenusAbout(GameParts* g) : game(g) {}

void MenusAbout::init() {
    game->audio.play_music("mus-galaxy");
    root = Container();
    MenusBG* bg = new MenusBG(game);
    root.add(bg, 0, 0);

    pos = (float)game_get_sh();

    const std::string spacer = "<tr><td><img src='blank' width=1 height=15 />";
    char logo_h[16];
    snprintf(logo_h, sizeof(logo_h), "%d", 67);
    std::string m = "<table>" + spacer + "<tr><td><img src='logo' width='280' height='" + logo_h + "' />" + spacer;
    for (const char* line : ABOUT_LINES) {
        m += spacer;
        if (line[0] == '<')
            m += std::string("<tr><td>") + line;
        else
            m += std::string("<tr><td><p width=280 align=center>") + line + "</p>";
    }
    m += spacer + "</table>";

    Box* about = new Box(html2gui(m, _dict()));
    about->name = "about";
    about->style.declared().width = (float)game_get_sw();
    root.add(about, 0, (int)pos);

    Widget* quit = new Widget();
    quit->name = "quit";
    StyleBlock& d = quit->style.declared();
    d.bg_image = gfx_img_load("icon-quit");
    d.bg_alpha = 170;
    d.width = d.height = 24;
    for (int i = 0; i < 4; i++) d.margin[i] = 10;
    quit->focusable = 1;
    quit->on_click = _dict();
    quit->on_click["type"] = var("quit");
    root.add(quit, 0, 0);
}

void MenusAbout::paint() { menus_paint_common(root); }

void MenusAbout::loop(float dt) {
    pos -= 35.0f * dt;
    Widget* about = root.find("about");
    if (about) about->y = pos;
    menus_loop_common(root);
    // Gone once the whole page has left the top of the screen.
    if (about && pos < -about->h) game->view.pop(2);
}

void MenusAbout::event(Event e) {
    var action = root.event(&e);
    if (e.type == GUI_EV_KEYDOWN && e.key == 5) {
        action = _dict();
        action["type"] = var("quit");
    }
    if (_action_member(action, "type") == "quit") game->view.pop(2);
}

// ==== placeholder pages ===============================================================

static void _misc_page(GameParts& game, Container& root, const char* tab, const char* markup) {
    root = Container();
    menus_tabs_init_popup(game, root, tab, 1);
    Box* box = new Box(html2gui(markup, _dict()));
    box->style.declared().width = (float)game_get_sw();
    box->style.declared().height = (float)(game_get_sh() - 44);
    root.add(box, 0, 0);
}

MenusStats::MenusStats(GameParts* g) : game(g) {}
void MenusStats::init() {
    _misc_page(*game, root, "stats",
               "<table><tr><td><img src='logo' width=320 /><tr><td><p>Thanks for backing Zentar 2!!</p><tr><td><p>You "
               "are a GRAND ADMIRAL!!!</p><tr><td><img src='rank10' width=120 /><tr><td><p>(in my heart)</p></table>");
}
void MenusStats::paint() { menus_paint_common(root); }
void MenusStats::loop(float) { menus_loop_common(root); }
void MenusStats::event(Event e) { menus_tabs_handle(*game, e, root.event(&e)); }

MenusClans::MenusClans(GameParts* g) : game(g) {}
void MenusClans::init() {
    _misc_page(*game, root, "clans",
               "<table><tr><td><img src='logo' width=320 /><tr><td><input type='button' value='Join the ULTIMATE "
               "MOUSTACHE Clan!' onclick='moustache' /></table>");
}
void MenusClans::paint() { menus_paint_common(root); }
void MenusClans::loop(float) { menus_loop_common(root); }
void MenusClans::event(Event e) {
    var action = root.event(&e);
    if (menus_tabs_handle(*game, e, action)) return;
    if (_action_member(action, "type") == "onclick" && _action_member(action, "value") == "moustache")
        game->video.open_url(CLANS_PAGE);
}

MenusStore::MenusStore(GameParts* g) : game(g) {}
void MenusStore::init() {
    _misc_page(*game, root, "store",
               "<table><tr><td><img src='logo' width=320 /><tr><td><p>&nbsp;</p><tr><td><p>Buy more awesome .. "
               "eventually!</p></table>");
}
void MenusStore::paint() { menus_paint_common(root); }
void MenusStore::loop(float) { menus_loop_common(root); }
void MenusStore::event(Event e) { menus_tabs_handle(*game, e, root.event(&e)); }
