#include <GL/gl.h>

#include <cstring>

#include "chat/chat_widgets.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "world/zentar.h"
#include "mods/mods_api.h"
#include "shell/game_video.h"
#include "mods_gui/mods_console.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_log.h"
#include "screens/states.h"
#include "screens/states_icons.h"
#include "render/zentar_bkgr.h"
#include "render/zentar_paint.h"
#include "render/zentar_ui.h"

void StatesScene::init() {
    game.ui.orient_lock = 1;
    player = 0;
    memcpy(&game.ui.options, &game.settings.ui_box, SETTINGS_UI_WORDS * 4);
    init_resume();
    _states_match_start(game, root, player);
}

void StatesScene::init_resume() {
    states_root_reset(root);
    chat_init(game, root, 1, 1, 0);
    root.add(new WPause(game), game_get_sw() - 44, 0);  // a scene always offers pause
    // the paint lays the root out
}

void StatesScene::deinit() { chat_deinit(game, root); }

void StatesScene::loop(float dt) { _states_match_loop(game, root, player, dt); }

// Each point logs only when its code changes, so a lasting fault is one line.
static void scene_gl_check(int point) {
    static int last[8] = {};
    int code = (int)glGetError();
    if (code != last[point]) {
        qel_log("glGetError() -> %d\n", code);
        last[point] = code;
    }
}

void StatesScene::game_paint() {
    gfx_set_size(game_get_sw(), game_get_sh());
    scene_gl_check(0);
    gfx_ortho();
    scene_gl_check(1);
    bkgr_paint(game.world);
    scene_gl_check(2);
    gfx_ortho();
    scene_gl_check(3);
    sys_paint(game.world, game.ui, player, 0);
    scene_gl_check(4);
    ui_paint_status(game.world);
    gfx_ortho();
    scene_gl_check(5);
    root.resize();
    scene_gl_check(6);
    if (game.settings.x_hide != 1) root.paint();
    scene_gl_check(7);
}

void StatesScene::paint() {
    game_paint();
    modsapi_log_paint(game.mods_api.get());
}

void StatesScene::event(Event e) { _states_match_event(game, root, player, e, "dialog"); }
