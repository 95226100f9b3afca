#include <GL/gl.h>

#include <algorithm>

#include "chat/chat_widgets.h"
#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "net/net.h"
#include "shell/game_video.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_console.h"
#include "mods_gui/mods_gui.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "screens/states.h"
#include "screens/states_sim.h"
#include "render/zentar_ui.h"

void states_remove_pause_icon(Container& root) {
    Widget* icon = root.find("pause");
    if (!icon || icon == &root) return;
    if (root.hovered == icon) root.hovered = nullptr;
    if (root.focused == icon) root.focused = nullptr;
    auto it = std::find(root.children.begin(), root.children.end(), icon);
    if (it == root.children.end()) return;
    root.children.erase(it);
    // nothing may tab into the deleted widget
    for (Widget* d : root._list_descendants())
        if (d->next == icon) d->next = icon->next;
    if (root.next == icon) root.next = icon->next;
    delete icon;
}

Container* StatesCover::below_root() {
    if (scene_) {
        auto* s = dynamic_cast<StatesScene*>(below);
        return s ? &s->root : nullptr;
    }
    auto* p = dynamic_cast<StatesPlay*>(below);
    return p ? &p->root : nullptr;
}

int32_t* StatesCover::below_player() {
    if (scene_) {
        auto* s = dynamic_cast<StatesScene*>(below);
        return s ? &s->player : nullptr;
    }
    auto* p = dynamic_cast<StatesPlay*>(below);
    return p ? &p->player : nullptr;
}

void StatesCover::init() {
    if (scene_) game.ui.orient_lock = 1;
    if (ModsAPI* api = mods_api_of(game)) api->_gui_init(1);
    below = GameView::find_state(below_name_);
    if (below) below->init();
    if (Container* r = below_root()) states_remove_pause_icon(*r);
}

void StatesCover::deinit() {
    if (below) below->deinit();
}

void StatesCover::loop(float dt) {
    // The player's own mark first, as the match screens do: a host's records
    // carry the mark of the host's own player, and a mod that looked for ours
    // before it was put right would take that player for us.
    if (int32_t* p = below_player()) *p = get_uid_mark_has_player(game, 0);
    mods_gui_loop(mods_api_of(game));
    mods_loop(game);
    // local play holds the match and the mod still under the page
    if (game.client_net || game.server_net) run_the_game_sim(game, dt);
    Container* r = below_root();
    int32_t* p = below_player();
    if (!r || !p) return;
    *p = get_uid_mark_has_player(game, 0);
    chat_loop(game, *r);
    r->loop();
}

void StatesCover::paint() {
    if (scene_) {
        if (auto* s = dynamic_cast<StatesScene*>(below)) s->game_paint();
    } else {
        if (auto* p = dynamic_cast<StatesPlay*>(below)) p->view_paint();
    }
    states_mod_page_paint(game, cover_);
}

void StatesCover::event(Event e) {
    if (mods_event_handle(game, e)) return;
    below = GameView::find_state(below_name_);
    if (e.type == GUI_EV_KEYDOWN || e.type == GUI_EV_KEYUP) {
        Container* r = below_root();
        if (r && chat_event_handle(game, *r, e, var(), 0)) return;
    }
    ModsAPI* api = mods_api_of(game);
    var action = mods_gui_event(api, e);
    if (e.type == GUI_EV_KEYDOWN && e.key == 5) {
        action = var(VAR_DICT, 0);
        if (scene_) {
            action["type"] = var("onclick");
            action["value"] = var("resume");
        } else {
            action["type"] = var("back");
        }
    }
    if (action.__type__() == VAR_NONE) return;
    std::string type = action.__type__() == VAR_DICT && action.__has__(var("type"))
                           ? action["type"].__str__()
                           : std::string();
    if (type == "quit") {
        api = mods_api_of(game);
        if (!scene_ && api && api->param_get("state").__str__() == "xpause") {
            action = var(VAR_DICT, 0);
            action["type"] = var("back");
            mods_event(game, action);
        } else {
            states_do_quit(game, action);
        }
    } else if (type == "console") {
        mods_console_toggle(game);
    } else if (type == "settings") {
        game.view.push("menus_settings_popup", 2);
    } else {
        mods_event(game, action);
    }
}
