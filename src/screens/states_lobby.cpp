#include "screens/states_lobby.h"

#include <cstring>
#include <string>

#include "chat/chat_widgets.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "chat/chat.h"
#include "world/zentar.h"
#include "shell/game_video.h"
#include "screens/menus.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_console.h"
#include "mods_gui/mods_gui.h"
#include "mods/mods_lua.h"
#include "ruvezor/util/qel_gfx.h"
#include "screens/states.h"
#include "screens/states_sim.h"
#include "render/zentar_ui.h"

static bool is_escape(const Event& e) { return e.type == GUI_EV_KEYDOWN && e.key == 5; }

static var type_action(const char* type) {
    var a(VAR_DICT, 0);
    a["type"] = var(type);
    return a;
}

static std::string action_type(var& action) {
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return std::string();
    return action["type"].__str__();
}

static std::string state_param(GameParts& game) {
    ModsAPI* api = mods_api_of(game);
    return api ? api->param_get("state").__str__() : std::string();
}

static var mod_page_event(GameParts& game, Event& e) {
    ModsAPI* api = mods_api_of(game);
    return mods_gui_event(api, e);
}

static void mod_page_loop(GameParts& game) {
    mods_gui_loop(mods_api_of(game));
}

static void mod_page_init(GameParts& game) {
    if (ModsAPI* api = mods_api_of(game)) api->_gui_init(1);
}

static void mod_page_paint(GameParts& game) {
    if (ModsAPI* api = mods_api_of(game)) api->gui_paint();
}

// The tail every page screen shares once it holds a dictionary action.
static void page_action(GameParts& game, var action) {
    std::string type = action_type(action);
    if (type == "quit") states_do_quit(game, action);
    else if (type == "settings") game.view.push("menus_settings_popup", 2);
    else mods_event(game, action);
}

// ---- lobby ---------------------------------------------------------------------------

var StatesLobby::call(var msg) {
    if (msg.__str__() == "lobby:split" && game_get_sw() > 639) return var(true);
    return var();
}

void StatesLobby::init() {
    mod_page_init(game);
    init_resume();
}

void StatesLobby::init_resume() {
    states_root_reset(root);
    bool split = game.view.state_call(var("lobby:split")).__bool__();
    chat_init(game, root, 1, split ? 0 : 1, 1);
    // the chat panel settles its size over a few passes
    for (int i = 0; i < 3; i++) {
        chat_loop(game, root);
        root.loop();
        root.resize();
    }
}

void StatesLobby::deinit() { chat_deinit(game, root); }

void StatesLobby::loop(float dt) {
    mod_page_loop(game);
    chat_loop(game, root);
    root.loop();
    if (ModsBase* engine = mods_engine_of(game)) engine->loop(dt);
    mods_loop(game);
}

void StatesLobby::paint() {
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_ortho();
    menus_paint_bkgr(game);
    gfx_ortho();
    mod_page_paint(game);
    gfx_ortho();
    root.resize();
    root.paint();
    modsapi_log_paint(mods_api_of(game));
}

void StatesLobby::event(Event e) {
    if (mods_event_handle(game, e)) return;
    var action = gui_event_no_kb(root, e);
    if (chat_event_handle(game, root, e, action, 0)) return;
    action = mod_page_event(game, e);
    if (is_escape(e)) action = type_action("quit");
    if (action.__type__() != VAR_DICT) return;
    if (action_type(action) == "quit" && state_param(game) == "xlobby") {
        mods_event(game, type_action("back"));
        return;
    }
    page_action(game, action);
}

// ---- menu ----------------------------------------------------------------------------

void StatesMenu::init() { mod_page_init(game); }

// neither the mod's loop nor the world runs in this state
void StatesMenu::loop(float) {
    mod_page_loop(game);
    mods_loop(game);
}

void StatesMenu::paint() {
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_clear();
    gfx_ortho();
    menus_paint_bkgr(game);
    gfx_ortho();
    mod_page_paint(game);
    modsapi_log_paint(mods_api_of(game));
}

void StatesMenu::event(Event e) {
    if (mods_event_handle(game, e)) return;
    var action = mod_page_event(game, e);
    if (is_escape(e)) action = type_action("quit");
    if (action.__type__() == VAR_NONE) return;
    page_action(game, action);
}

// ---- tabs ----------------------------------------------------------------------------

void StatesTabs::init() {
    mod_page_init(game);
    game.ui.orient_lock = 2;
    memcpy(&game.ui.options, &game.settings.ui_box, SETTINGS_UI_WORDS * 4);
    init_resume();
    ui_init(game.world, game.ui, 0);
    ui_reset_all(game.world, game.ui);
    ui_calc_trans(game.world, game.ui);
    // entering the tabs starts a fresh chat log; "xlobby" keeps it
    if (state_param(game) != "xlobby" && game.chat) game.chat->reset();
}

void StatesTabs::init_resume() {
    states_root_reset(root);
    ModsAPI* api = mods_api_of(game);
    tabs = state_param(game) == "tabs" ? 1 : 0;
    std::string tab = api ? api->param_get("tab").__str__() : std::string();
    menus_tabs_init(game, root, tab.c_str(), 1, tabs);
    if (!root.children.empty()) root.children[0]->_focus();
}

// one pass: the mod's loop runs, the world does not step in these states
void StatesTabs::loop(float dt) {
    mod_page_loop(game);
    run_the_game_sim(game, dt);
}

void StatesTabs::paint() {
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_ortho();
    root.resize();
    root.paint();
    gfx_ortho();
    mod_page_paint(game);
    modsapi_log_paint(mods_api_of(game));
}

void StatesTabs::event(Event e) {
    if (mods_event_handle(game, e)) return;
    var action = gui_event_no_kb(root, e);
    if (tabs && menus_tabs_handle(game, e, action)) return;
    action = mod_page_event(game, e);
    if (is_escape(e)) action = type_action(tabs ? "quit" : "back");
    if (action.__type__() != VAR_DICT) return;
    page_action(game, action);
}
