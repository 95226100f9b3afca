#include "screens/states_play2.h"

#include <GL/gl.h>

#include <cstring>

#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "render/zentar_ui.h"
#include "world/zentar.h"
#include "net/net.h"
#include "shell/game_video.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_console.h"
#include "mods_gui/mods_gui.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "screens/states.h"
#include "screens/states_icons.h"
#include "screens/states_sim.h"
#include "render/zentar_paint.h"

StatesPlay2::StatesPlay2(GameParts& g) : game(g) {}

// Without a 2D state (no window yet) only the input records are switched.
static bool _play2_has_gfx() {
    int w = 0, h = 0;
    gfx_get_size(&w, &h);
    return w > 0 && h > 0;
}

void StatesPlay2::chplayer(int k) {
    if (k < 0 || k > 2) return;
    views[cur] = game.ui;
    cur = k;
    game.ui = views[k];

    int w = 0, h = 0;
    driver_get_size(&w, &h);
    int sw = game_get_sw(), sh = game_get_sh();
    bool gfx = _play2_has_gfx();
    if (k == 0) {
        if (!gfx) return;
        gfx_set_orient(0);
        gfx_set_size(sw, sh);
        gfx_set_view(0, 0, w, h);
        gfx_ortho();
        return;
    }
    if (gfx) {
        gfx_set_orient(k == 2 ? 180 : 0);
        gfx_set_size(sw, sh / 2);
        gfx_set_view(0, k == 1 ? h / 2 : 0, w, h / 2);
        gfx_ortho();
    }
    // marked set, so that a first ui_init keeps the half instead of the draw size
    game.ui.screen_set = 1;
    game.ui.screen[0] = 0;
    game.ui.screen[1] = 0;
    game.ui.screen[2] = (float)sw;
    game.ui.screen[3] = (float)(sh / 2);
    ui_calc_trans(game.world, game.ui);
    player = get_uid_mark_has_player(game, k);
}

void StatesPlay2::init_views() {
    if (game.ui.inited) return;
    for (int k = 0; k < 3; k++) {
        chplayer(k);
        game.ui.inited = 0;
        ui_init(game.world, game.ui, 0);
    }
    chplayer(0);
}

void StatesPlay2::remap(Event& e) {
    if (!_play2_has_gfx()) return;
    e.x = e.raw_x;
    e.y = e.raw_y;
    e.dx = e.raw_dx;
    e.dy = e.raw_dy;
    gfx_event_correct(&e);
}

void StatesPlay2::init() {
    game.ui.orient_lock = 0;
    cur = 0;
    // the live record stands for view 0 here
    memcpy(&game.ui.options, &game.settings.ui_box, SETTINGS_UI_WORDS * 4);
    for (ZentarUI& v : views) memcpy(&v.options, &game.settings.ui_box, SETTINGS_UI_WORDS * 4);
    init_resume();
    touch.clear();
    init_views();
    for (int k = 0; k < 3; k++) {
        chplayer(k);
        ui_reset_all(game.world, game.ui);
    }
    chplayer(0);
}

void StatesPlay2::init_resume() {
    chplayer(0);
    states_root_reset(root);
    int sw = game_get_sw(), sh = game_get_sh();
    root.add(new WPause(game), sw - 44, sh / 2);  // the first player's top right
    root.add(new WPause(game), 0, sh / 2 - 44);   // the second's, in his turned view
    root.resize();
}

void StatesPlay2::loop(float dt) {
    chplayer(0);
    root.loop();
    run_the_game_sim(game, dt);
    for (int k = 1; k <= 2; k++) {
        chplayer(k);
        ui_loop(game.world, game.ui);
    }
    chplayer(0);
    ui_loop(game.world, game.ui);
}

void StatesPlay2::game_paint() {
    init_views();

    glEnable(GL_SCISSOR_TEST);
    GLint box[4] = {0, 0, 0, 0}, vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_SCISSOR_BOX, box);
    glGetIntegerv(GL_VIEWPORT, vp);
    int ww = 0, wh = 0;
    driver_get_size(&ww, &wh);
    // the viewport may be a framebuffer of another size than the window
    float fx = ww > 0 ? (float)vp[2] / (float)ww : 1.0f;
    float fy = wh > 0 ? (float)vp[3] / (float)wh : 1.0f;

    for (int k = 1; k <= 2; k++) {
        chplayer(k);
        const float* s = game.ui.screen;
        GfxRect r = gfx_rect_to_hwrect(GfxRect{s[0], s[1], s[2], s[3]});
        if (r.w < 0) {
            r.x += r.w;
            r.w = -r.w;
        }
        if (r.h < 0) {
            r.y += r.h;
            r.h = -r.h;
        }
        glScissor((GLint)(r.x * fx), (GLint)((float)vp[3] - (r.y + r.h) * fy), (GLsizei)(r.w * fx),
                  (GLsizei)(r.h * fy));
        sys_paint(game.world, game.ui, player, 1);
        ui_paint(game.world, game.ui, player);
    }

    glScissor(box[0], box[1], box[2], box[3]);
    glDisable(GL_SCISSOR_TEST);

    chplayer(0);
    gfx_ortho();
    glBlendFunc(GL_ONE, GL_ONE);
    gfx_img_blit(gfx_img_load("line"), 0, (float)(game_get_sh() / 2 - 5), (float)game_get_sw(), 10);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

void StatesPlay2::paint() {
    game_paint();
    chplayer(0);
    gfx_ortho();
    root.resize();
    root.paint();
    modsapi_log_paint(game.mods_api.get());
}

void StatesPlay2::event(Event e) {
    chplayer(0);
    remap(e);
    if (mods_event_handle(game, e)) return;

    bool pointer = e.type == GUI_EV_PRESS || e.type == GUI_EV_MOVE || e.type == GUI_EV_RELEASE;
    bool key = e.type == GUI_EV_KEYDOWN || e.type == GUI_EV_KEYUP;
    int used[3] = {0, 0, 0};
    for (int k = 1; k <= 2; k++) {
        chplayer(k);
        Event ek = e;
        remap(ek);
        if (ek.type == GUI_EV_WHEEL || key) continue;
        if (pointer) {
            if (ek.type == GUI_EV_PRESS) {
                if (ek.y <= 0) continue;  // not in this half
                touch[ek.b] = k;
            }
            if (ek.b != 0) {
                auto it = touch.find(ek.b);
                if (it == touch.end() || it->second != k) continue;
                // a pointer belongs to its half until released; dropping the
                // entry keeps the map from growing with finger ids
                if (ek.type == GUI_EV_RELEASE) touch.erase(it);
            }
        }
        used[k] = ui_event(game.world, game.ui, player, ek);
    }
    chplayer(0);
    remap(e);

    if (!pointer && (used[1] || used[2])) return;
    var action = key ? var() : root.event(&e);
    if (e.type == GUI_EV_KEYDOWN && e.key == 5) {
        action = var(VAR_DICT, 0);
        action["type"] = var("pause");
    }
    if (action.__type__() == VAR_NONE) return;
    bool pause = action.__type__() == VAR_DICT && action.__has__(var("type")) &&
                 action["type"].__str__() == "pause";
    mods_event(game, action);
    if (pause) {
        if (ModsAPI* api = mods_api_of(game)) api->param_set("state", var("pause"));
    }
}

// ---- pause ----------------------------------------------------------------------------

void StatesPause2::init() {
    below = GameView::find_state("states_play2");
    if (below) below->init();
    if (auto* p = dynamic_cast<StatesPlay2*>(below)) states_remove_pause_icon(p->root);
}

void StatesPause2::loop(float dt) {
    mods_gui_loop(mods_api_of(game));
    mods_loop(game);
    // local play holds the match and the mod still under the page
    if (game.client_net || game.server_net) run_the_game_sim(game, dt);
}

void StatesPause2::paint() {
    if (auto* p = dynamic_cast<StatesPlay2*>(below)) p->game_paint();
    states_mod_page_paint(game, true);
}

void StatesPause2::event(Event e) {
    if (mods_event_handle(game, e)) return;
    ModsAPI* api = mods_api_of(game);
    var action = mods_gui_event(api, e);
    if (e.type == GUI_EV_KEYDOWN && e.key == 5) {
        action = var(VAR_DICT, 0);
        action["type"] = var("onclick");
        action["value"] = var("resume");
    }
    if (action.__type__() == VAR_NONE) return;
    bool quit = action.__type__() == VAR_DICT && action.__has__(var("type")) &&
                action["type"].__str__() == "quit";
    if (quit) states_do_quit(game, action);
    else mods_event(game, action);
}
