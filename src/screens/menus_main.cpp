// menus_main: the main menu (a demo match behind a sliding page), the splash
// logo and the screens that hand over to the online play and practice mods.
#include "screens/menus_main.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/builds.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "world/zentar.h"
#include "shell/game_video.h"
#include "shell/game_audio.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_log.h"
#include "render/zentar_bkgr.h"
#include "render/zentar_paint.h"
#include "world/zentar_sim.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_gfx_image.h"

// The game's review page, on the game's own web host until the store page exists.
static std::string menus_review_url() { return game_web_url(game_parts(), "/z2/review.php"); }

// A box of the screen's size around w, appended to root.
static void _menus_main_fill(Container& root, Widget* w) {
    Box* box = new Box(w);
    box->style.declared().width = (float)game_get_sw();
    box->style.declared().height = (float)game_get_sh();
    root.add(box, 0, 0);
}

void menus_start_mod(GameParts& game, const char* name, int builtin, var params, int restore) {
    char before[sizeof(game.mod_file)];
    memcpy(before, game.mod_file, sizeof(before));
    game.mod_builtin = builtin;
    snprintf(game.mod_file, sizeof(game.mod_file), "%s", driver_data_fname(name));
    mods_restart(game, 1, params);
    if (restore) memcpy(game.mod_file, before, sizeof(before));
}

bool menus_main_experienced(const std::string& record) {
    if (record.empty()) return false;
    var doc(VAR_DICT, 0);
    // A record that doesn't parse has no rank, and a player who has one has played.
    if (json_decode(doc, record.data(), record.size()) != 0 || doc.__type__() != VAR_DICT) return true;
    if (!doc.__has__(var("rank"))) return true;
    return doc["rank"].__num__() > 1.0;
}

// ---- main menu ---------------------------------------------------------------------

MenusMain::MenusMain(GameParts* g) : game(g) {}

static std::string _menus_main_markup() {
    // Asked for each piece: the answer can't change during one build, but it costs nothing.
    std::string m = "<table>";
    if (game_get_sh() > 320) m += "<tr><td><img src='logo' width=240 /><tr><td>&nbsp;";
    m += "<tr><td><table>";
    if (preboard_get() == 1)
        m += "<tr><td><img src='blank' width=44 height=44 /><td><input type='button' class='xibutton1' "
             "icon='icon-play' onclick='menus_play' value='Play' height=66><h1>PLAY</h1></input><td><input "
             "type='button' onclick='news' class='none' width=44 height=44><img src='icon-news' width=32 "
             "height=32 /></input>";
    if (preboard_get() == 1)
        m += "<tr><td><td><input type='button' class='ibutton1' icon='icon-practice' onclick='menus_lite' "
             "value='Practice' />";
    else
        m += "<tr><td><td><input type='button' class='ibutton1' icon='icon-play' onclick='menus_lite' "
             "value='Play' />";
    if (preboard_get() == 1)
        m += "<tr><td><td><input type='button' class='ibutton1' icon='icon-mods' onclick='menus_mods' "
             "value='Mods' />";
    m += "<tr><td><td><input type='button' class='ibutton1' icon='icon-settings' onclick='menus_settings' "
         "value='Settings' />";
    if (preboard_get() == 1) {
        m += "<tr><td><td><input type='button' class='ibutton1' icon='icon-forums' onclick='forums' "
             "value='Forums' />";
        m += "<tr><td><td><input type='button' class='ibutton1' icon='icon-review' onclick='review' "
             "value='Review' />";
    }
    m += "<tr><td><td><input type='button' class='ibutton1' icon='icon-quit' onclick='quit' value='Quit' "
         "/></table><tr><td>&nbsp;<tr><td><h4>$VERSION</h4></table>";
    return str_replace(m, "$VERSION", _get_game_version_info());
}

void MenusMain::init() {
    if (first == 1) {
        timer = 0;
        offset = 1280.0f;
        first = 0;
    }
    mods_deinit(*game);
    game->audio.play_music("mus-menu");

    root = Container();
    _menus_main_fill(root, html2gui(_menus_main_markup(), var(VAR_DICT, 0)));

    Widget* about = new Widget();
    StyleBlock& d = about->style.declared();
    d.fg_image = gfx_img_load("icon-about");
    d.fg_alpha = 0;
    d.width = 24;
    d.height = 24;
    for (int& p : d.padding) p = 10;
    var action(VAR_DICT, 0);
    action["type"] = var("onclick");
    action["value"] = var("menus_about");
    about->on_click = action;
    about->focusable = 1;
    root.add(about, game_get_sw() - 44, game_get_sh() - 44);

    menus_start_mod(*game, "mod_demo.lua", 0, var(VAR_DICT, 0), 1);

    // The demo match's view starts fresh on every visit.
    ui_init(game->world, game->ui, 0);
    ui_reset_all(game->world, game->ui);
    ui_calc_trans(game->world, game->ui);
}

void MenusMain::loop(float dt) {
    timer += dt;
    if (timer > 2.0f) offset *= 0.95f;  // eases the page up into place
    menus_loop_common(root);

    game->ui.orient_lock = 1;
    ui_loop(game->world, game->ui);
    if (ModsBase* engine = mods_engine_of(*game)) engine->loop(dt);
    mods_loop(*game);
    sys_loop(game->world, dt, 1);
}

void MenusMain::paint() {
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_clear();
    gfx_ortho();
    bkgr_paint(game->world);
    gfx_ortho();
    sys_paint(game->world, game->ui, 0, 0);
    gfx_ortho();

    Widget* page = root.children.size() > 0 ? root.children[0] : nullptr;
    Widget* about = root.children.size() > 1 ? root.children[1] : nullptr;
    float y = skip == 1 ? 0.0f : offset;
    int alpha = 255;
    if (skip != 1) {
        alpha = (int)(255.0f - 0.5f * offset);
        if (alpha < 0) alpha = 0;
    }
    if (page) page->y = y;
    if (about) about->style.declared().fg_alpha = alpha;
    menus_paint_root(root);  // the demo match is the page's background: no clear
}

void MenusMain::event(Event e) {
    if (e.type == 6 && e.key == 5) game->quit = 1;
    if (e.type == 10) skip = 1;
    _act(root.event(&e));
}

void MenusMain::_act(var action) {
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return;
    if (action["type"].__str__() != "onclick") return;
    std::string v = action.__has__(var("value")) ? action["value"].__str__() : std::string();

    if (v == "quit") {
        Event q{};
        q.type = 1;
        game->event(q);
        return;
    }
    if (v == "about") {
        menus_start_mod(*game, "mod_about.lua", 0, var(VAR_DICT, 0), 0);
        return;
    }
    if (v == "forums") {
        std::string url = game_web_url(game, "/z2/community.php");
        game->video.open_url(url.c_str());
        return;
    }
    if (v == "review") {
        std::string url = menus_review_url();
        if (driver_open_url_steam(url.c_str()) == -1) game->video.open_url(url.c_str());
        return;
    }
    if (v == "test") return;

    Settings& s = game->settings;
    bool known = strnlen(s.name, sizeof(s.name)) > 0;
    std::string target = v;
    if (v == "news" || v == "menus_play") {
        s.news_open = v == "news" ? 1 : 0;
        s.news = 0;
        bool experienced = menus_main_experienced(driver_cloud_load("mod_practice.bin"));
        target = known || experienced ? "menus_login" : "menus_first";
    }

    if (target == "menus_login" && known) {
        game->view.push("menus_login", 2);
        game->do_login();  // a known account logs in at once
        return;
    }
    qel_log("%s / %s\n", target.c_str(), game->view.cur);
    if (target != game->view.cur) game->view.push(target.c_str(), 2);
}

// ---- splash -------------------------------------------------------------------------

MenusSplash::MenusSplash(GameParts* g) : game(g) {}

void MenusSplash::init() {
    timer = 0;
    root = Container();
    _menus_main_fill(root, html2gui("<table><tr><td><img src='logo' width=320 /></table>", var(VAR_DICT, 0)));
}

void MenusSplash::paint() { menus_paint_common(root); }

void MenusSplash::loop(float dt) {
    menus_loop_common(root);
    timer += dt;
    if (timer >= 0.25f) game->view.next("menus_play", 2);
}

void MenusSplash::event(Event e) { root.event(&e); }

// ---- play, first-run and practice ---------------------------------------------------

MenusModScreen::MenusModScreen(GameParts* g) : game(g) {}

void MenusModScreen::paint() { menus_paint_common(root); }

void MenusModScreen::loop(float) { menus_loop_common(root); }

void MenusModScreen::event(Event e) { menus_tabs_handle(*game, e, root.event(&e)); }

void MenusPlay::init() {
    qel_log("menus_play\n");
    root = Container();
    menus_tabs_init_popup(*game, root, "play", 1);
    menus_start_mod(*game, "mod_play.lua", 1, var(VAR_DICT, 0), 1);
}

void MenusFirst::init() {
    root = Container();
    menus_tabs_init_popup(*game, root, "lite", 1);
    var params(VAR_DICT, 0);
    params["first"] = var(1);
    menus_start_mod(*game, "mod_practice.lua", 0, params, 1);
}

void MenusLite::init() {
    root = Container();
    menus_tabs_init_popup(*game, root, "lite", 1);
    menus_start_mod(*game, "mod_practice.lua", 0, var(VAR_DICT, 0), 1);
}
