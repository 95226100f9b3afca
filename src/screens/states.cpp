#include "screens/states.h"

#include <GL/gl.h>

#include <cstring>
#include <string>

#include "chat/chat_widgets.h"
#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_console.h"
#include "net/net.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "screens/states_lobby.h"
#include "screens/states_play2.h"
#include "screens/states_sim.h"
#include "world/zentar.h"
#include "render/zentar_ui.h"

void states_init(GameParts& game) {
    GameView::register_state("states_lobby", new StatesLobby(game));
    GameView::register_state("states_menu", new StatesMenu(game));
    GameView::register_state("states_overlay", new StatesOverlay(game));
    GameView::register_state("states_pause", new StatesPause(game));
    GameView::register_state("states_pause2", new StatesPause2(game));
    GameView::register_state("states_dialog", new StatesDialog(game));
    GameView::register_state("states_play", new StatesPlay(game));
    GameView::register_state("states_play2", new StatesPlay2(game));
    GameView::register_state("states_scene", new StatesScene(game));
    GameView::register_state("states_tabs", new StatesTabs(game));
    GameView::register_state("states_xlobby", new StatesTabs(game));
}

int states_do_quit(GameParts& game, var action) {
    if (ModsAPI* api = mods_api_of(game)) api->param_set("quit", var(true));
    mods_event(game, action);
    ModsAPI* api = mods_api_of(game);  // the event may have stopped the mod
    if (!api) return 1;
    if (!api->param_get("quit").__bool__()) return 1;
    api->param_set("state", var("quit"));
    return 0;
}

var gui_event_no_kb(Container& root, Event& e) {
    if (e.type == GUI_EV_KEYDOWN || e.type == GUI_EV_KEYUP) return var();
    return root.event(&e);
}

void states_root_reset(Container& root) {
    Container fresh;
    root = fresh;
    Widget* full = new Widget();
    full->style.declared().width = (float)game_get_sw();
    full->style.declared().height = (float)game_get_sh();
    full->focusable = 1;
    root.add(full, 0, 0);
}

void states_mod_page_paint(GameParts& game, bool veil) {
    gfx_ortho();
    if (veil) {
        glColor4ub(0, 0, 0, 170);
        gfx_img_blit(gfx_img_load("black"), 0, 0, (float)game_get_sw(), (float)game_get_sh());
        glColor4ub(255, 255, 255, 255);
    }
    ModsAPI* api = mods_api_of(game);
    if (api) api->gui_paint();
    modsapi_log_paint(api);
}

void _states_match_start(GameParts& game, Container& root, int32_t& player) {
    ui_init(game.world, game.ui, 0);
    player = get_uid_mark_has_player(game, 0);
    chat_loop(game, root);
    root.loop();
    ui_reset_all(game.world, game.ui);
    ui_calc_trans(game.world, game.ui);
}

void _states_match_loop(GameParts& game, Container& root, int32_t& player, float dt) {
    player = get_uid_mark_has_player(game, 0);
    chat_loop(game, root);
    root.loop();
    run_the_game_sim(game, dt);
    ui_loop(game.world, game.ui);
}

void _states_match_event(GameParts& game, Container& root, int player, Event e, const char* pause_state) {
    if (mods_event_handle(game, e)) return;
    var action = gui_event_no_kb(root, e);
    if (chat_event_handle(game, root, e, action, 1)) return;
    if (e.type == GUI_EV_KEYDOWN && e.key == 5) {
        action = var(VAR_DICT, 0);
        action["type"] = var("pause");
    }
    if (action.__type__() == VAR_NONE) {
        ui_event(game.world, game.ui, player, e);
        return;
    }
    bool pause = action.__type__() == VAR_DICT && action.__has__(var("type")) &&
                 action["type"].__str__() == "pause";
    ModsAPI* api = mods_api_of(game);
    std::string before = api ? api->param_get("state").__str__() : std::string();
    mods_event(game, action);
    // A mod that answered the pause with a state of its own (leaving, say)
    // keeps it, and after a screen change the running mod may be another.
    api = mods_api_of(game);
    if (pause && api && api->param_get("state").__str__() == before) api->param_set("state", var(pause_state));
}
