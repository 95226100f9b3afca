#include <cstring>

#include "chat/chat_widgets.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "world/zentar.h"
#include "mods/mods_api.h"
#include "shell/game_video.h"
#include "mods_gui/mods_console.h"
#include "ruvezor/util/qel_gfx.h"
#include "screens/states.h"
#include "screens/states_icons.h"
#include "render/zentar_bkgr.h"
#include "render/zentar_paint.h"
#include "render/zentar_ui.h"

static_assert(sizeof(UIOptions) >= SETTINGS_UI_WORDS * 4, "options block must take the settings' words");

void StatesPlay::init() {
    game.ui.orient_lock = 0;
    player = 0;
    memcpy(&game.ui.options, &game.settings.ui_box, SETTINGS_UI_WORDS * 4);
    init_resume();
    _states_match_start(game, root, player);
}

void StatesPlay::init_resume() {
    states_root_reset(root);
    chat_init(game, root, 1, 1, 0);
    if (game.settings.x_pause != 1) root.add(new WPause(game), game_get_sw() - 44, 0);
    root.resize();
}

void StatesPlay::deinit() { chat_deinit(game, root); }

void StatesPlay::loop(float dt) { _states_match_loop(game, root, player, dt); }

void StatesPlay::view_paint() {
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_ortho();
    bkgr_paint(game.world);
    gfx_ortho();
    sys_paint(game.world, game.ui, player, 0);
    ui_paint(game.world, game.ui, player);
    gfx_ortho();
    root.resize();
    if (game.settings.x_hide != 1) root.paint();
}

void StatesPlay::paint() {
    view_paint();
    modsapi_log_paint(game.mods_api.get());
}

void StatesPlay::event(Event e) { _states_match_event(game, root, player, e, "pause"); }
