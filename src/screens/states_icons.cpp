#include "screens/states_icons.h"

#include "shell/game_parts.h"
#include "world/zentar.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "screens/states.h"
#include "render/zentar_ui.h"

GameIcon::~GameIcon() = default;

var GameIcon::event(Event* e) {
    if (e->type == GUI_EV_PRESS) {
        pressed = 1;
        press = *e;
        press_x = e->x;
        press_y = e->y;
        return Widget::event(e);
    }
    if (!pressed) {
        // hover and focus flags still follow, but the icon claims nothing
        if (e->type == GUI_EV_FOCUS || e->type == GUI_EV_BLUR || e->type == GUI_EV_ENTER ||
            e->type == GUI_EV_LEAVE)
            Widget::event(e);
        return var();
    }
    if (e->type == GUI_EV_MOVE) {
        float dx = e->x - press_x, dy = e->y - press_y;
        float sw = style_or(style.computed().width, style.declared().width);
        float sh = style_or(style.computed().height, style.declared().height);
        if (dx * dx + dy * dy > 100.0f || e->x < 0 || e->y < 0 || e->x > sw || e->y > sh) {
            pressed = 0;
            // the kept press is in the icon's inner coordinates; its inner
            // origin on screen makes it a screen position again
            GfxRect a = get_abs_rect(false);
            Event p = press;
            p.x += a.x;
            p.y += a.y;
            ui_event(game.world, game.ui, get_uid_mark_has_player(game, 0), p);
            return var();
        }
        return Widget::event(e);
    }
    if (e->type == GUI_EV_CLICK) pressed = 0;
    return Widget::event(e);
}

static var icon_action(const char* type) {
    var a(VAR_DICT, 0);
    a["type"] = var(type);
    return a;
}

WPause::WPause(GameParts& g) : GameIcon(g) {
    StyleBlock& s = style.declared();
    s.bg_image = gfx_img_load("icon-pause");
    s.bg_alpha = 85;
    s.width = 34;
    s.height = 34;
    for (int i = 0; i < 4; i++) s.margin[i] = 5;
    on_click = icon_action("pause");
    on_press = icon_action("ignore");
    focusable = 1;
    name = "pause";
}
