// chat_widgets: the chat log, the input bar and the chat icon.
#include "chat/chat_widgets.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "chat/chat.h"
#include "render/colorblind.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_settings_io.h"  // game_account_id
#include "shell/game_view.h"
#include "world/zentar.h"
#include "shell/game_video.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"
#include "render/zentar_ui.h"
#include "mods/mods_api.h"
#include "net/net.h"

// A float as an int without undefined conversions (NaN and huge values).
static int _ti(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483520.0) return 2147483520;
    if (v <= -2147483520.0) return -2147483520;
    return (int)v;
}

static var _action(const char* type) {
    var a(4, 0);
    a["type"] = var(type);
    return a;
}

// ---- height slots ------------------------------------------------------------------------

int chat_slot(GameParts& game, int layout) {
    if (game.ui.orient_lock == 1) return 2;
    return layout == 1 ? 1 : 0;
}

int chat_slot_to_px(int value, int sh) {
    if (sh <= 0) sh = 1;
    return (int)(((long long)value - 1) * sh / 1000);
}

int chat_px_to_slot(float px, int sh) {
    if (sh <= 0) sh = 1;
    return _ti(std::trunc((double)px * 1000.0 / sh + 1.0));
}

int chat_slot_px(GameParts& game, int slot) {
    if (slot < 0 || slot > 2) return 0;
    return chat_slot_to_px(game.settings.chat_height[slot], game_get_sh());
}

bool chat_split(GameParts& game) { return game.view.state_call(var("lobby:split")).__bool__(); }

bool chat_corner_rule(GameParts& game) {
    return game.settings.ui_lefty >= 1 && !chat_split(game) && strcmp(game.view.cur, "states_lobby") != 0;
}

int chat_fh() { return _ti(font_get_height(font_load("font", 20), nullptr, 0)); }
int chat_fc() { return _ti(font_get_height(font_load("font-console", 20), nullptr, 0)); }

ChatLog* chat_log_find(Container& root) { return dynamic_cast<ChatLog*>(root.find("chat")); }

// ---- the local player ----------------------------------------------------------------

int get_uid_mark_has_player(GameParts& game, int which) {
    Zentar& w = game.world;
    int top = w.top < ZT_ITEMS ? w.top : ZT_ITEMS;
    int player = 0;
    // The world knows the account by the form packets carry. Without a web
    // login the player joined a host under this device's own uid, which the
    // host gave to the player's user.
    std::string account = game_account_id(game);
    std::string uid = !account.empty() ? net_uid(account) : game.client_net ? game.client_net->uid : "";
    if (!uid.empty() && top > 1) {
        for (int i = 1; i < top; i++) {
            const Item& it = w.items[i];
            if (it.in_use && it.has_user && uid == std::string(it.user_uid, strnlen(it.user_uid, sizeof(it.user_uid))))
                player = i;
        }
    }
    if (!player) {
        if (ModsAPI* api = mods_api_of(game)) {
            double v = api->param_get(which == 2 ? "player2" : "player").__num__();
            // out-of-range or NaN numbers would make the cast undefined
            player = (v > -2147483648.0 && v < 2147483648.0) ? (int)v : 0;
        }
    }
    if (top > 1) {
        for (int i = 1; i < top; i++) {
            Item& it = w.items[i];
            if (it.in_use && it.has_user) it.has_player = i == player ? 1 : 0;
        }
    }
    return player;
}

// ---- chat log ------------------------------------------------------------------------

ChatLog::ChatLog(GameParts* g) : game(g) {
    font = font_load("font", 20);
    on_change = _action("chat_scroll");
}

ChatLog::~ChatLog() = default;

int ChatLog::slot() { return chat_slot(*game, layout); }
int ChatLog::slot_px() { return chat_slot_px(*game, slot()); }

void ChatLog::_log_size() {
    _qel_iprintf(__FILE__, __LINE__, "ChatLog", 0, "size: %d, height=%d\n", slot_px(),
                 _ti(style_or(style.declared().height, 0.0f)));
}

void ChatLog::_apply_slot(float H, int s) {
    tab_pos = H;
    int h = _ti(std::trunc(H));
    float prev = style_or(style.declared().height, 0.0f);
    style.declared().height = (float)h;
    height = (float)h;
    if (s >= 0 && s <= 2) game->settings.chat_height[s] = chat_px_to_slot((float)h, game_get_sh());
    y -= (float)h - prev;  // the bottom edge stays, the log grows upward
    style.loop();
    _resize();
}

void ChatLog::_apply(float H) { _apply_slot(H, slot()); }

void ChatLog::set_value_i(int n) { scroll = (float)n * (float)chat_fh(); }

void ChatLog::change_tabpos(float h) { _apply(h); }

void ChatLog::do_expand() { _apply(std::trunc((float)std::max(slot_px(), 88))); }

bool ChatLog::_on_tab(const Event* e) {
    if (e->type < GUI_EV_PRESS || e->type > GUI_EV_RELEASE || e->y < 0) return false;
    if (chat_corner_rule(*game)) return e->x > w - 44;
    return e->x < 44;
}

var ChatLog::event(Event* e) {
    if (tab_held) return tab_event(e);
    if (!(layout == 1 && !has_tab) && _on_tab(e)) return tab_event(e);

    int fh = chat_fh();
    if (e->type == GUI_EV_WHEEL) {
        if (layout == 1 && e->y < 0) return var();
        if (layout == 0 && fade && e->y < 44) return var();
        scroll += e->dy < 0 ? (float)fh : (float)-fh;
        return on_change;
    }
    if (layout == 1) {
        if (e->type == GUI_EV_PRESS && e->y >= 0) {
            dragging = 1;
        } else if (e->type == GUI_EV_RELEASE || e->type == GUI_EV_BLUR) {
            dragging = 0;
            return var();
        } else if (e->type == GUI_EV_MOVE && dragging && e->b != 0) {
            float M = std::max(std::trunc(22 + content_height - h), 0.0f);
            float f = (scroll >= 0 && scroll <= M) ? 1.0f : 0.5f;
            scroll += f * e->dy;
            momentum = -e->dy;
            return on_change;
        }
    }
    return var();
}

var ChatLog::tab_event(Event* e) {
    int sh = game_get_sh();
    if (e->type == GUI_EV_PRESS) {
        tab_held = 1;
        drag_height = 0;
        press_ticks = driver_timer_get_ticks();
        moved = 0;
        live = layout;
        if (layout == 0) {
            press_height = height;
            press_event = *e;
        }
        return on_change;
    }
    if (e->type == GUI_EV_MOVE && tab_held && (live == 1 || _on_tab(e))) {
        int L = chat_split(*game) ? sh - 88 : sh - 132;
        if (game->ui.orient_lock == 1) L = sh / 3 + 44;
        float v = tab_pos - e->dy;
        v = std::min(v, (float)L);
        v = std::max(v, 0.0f);
        moved = 1;
        tab_pos = drag_height = v;
        if (live) _apply(v);
        return on_change;
    }
    if (e->type == GUI_EV_MOVE && tab_held && layout == 0) {
        // the gesture was not meant for the tab: give the press to the match
        tab_held = 0;
        if (press_height != height) {
            _apply(press_height);
            if (Container* r = dynamic_cast<Container*>(root())) chat_loop(*game, *r);
        }
        GfxRect a = get_abs_rect(false);
        Event p = press_event;
        p.x += a.x;
        p.y += a.y;
        ui_event(game->world, game->ui, get_uid_mark_has_player(*game, 0), p);
        return var();
    }
    if (e->type == GUI_EV_RELEASE && tab_held) {
        tab_held = 0;
        if (!live && moved) _apply(drag_height);
        return on_change;
    }
    return var();
}

void ChatLog::loop() {
    line_heights.clear();
    content_height = 0;
    int wrap = _ti(std::trunc(w - 44));
    if (game->chat) {
        for (const ChatLine& l : game->chat->lines) {
            float lh = std::trunc(font_get_height(font, l.text.c_str(), (float)wrap));
            line_heights.push_back(lh);
            content_height += lh;
        }
    }
    scrollbox_loop();

    int sh = game_get_sh();
    if (!tab_held) {
        int T = slot_px();
        int t = T < 44 ? 0 : T;
        int L = chat_split(*game) ? sh - 88 : sh - 176;
        if (game->ui.orient_lock == 1) L = sh / 3;
        int v = T > L ? L : t;
        if (v != T) _apply(0.85f * (float)T + 0.14999998f * (float)v);
    } else if (!live && moved && drag_height != 0) {
        int age = driver_timer_get_ticks() - press_ticks;
        if (age >= 125) {
            _apply(drag_height);
            if (age >= 500) live = 1;  // a long hold turns the gesture live
        }
    }
}

void ChatLog::scrollbox_loop() {
    if (dragging) return;
    float M = std::max(std::trunc(content_height + 22 - h), 0.0f);
    float d = scroll - momentum;
    if (d < 0) {
        scroll = (float)(0.8499999940395355 * d);
        momentum *= 0.5f;
    } else if (d <= M) {
        scroll = d;
        momentum *= 0.95f;
    } else {
        scroll = (float)(0.8499999940395355 * d + 0.15f * M);
        momentum *= 0.5f;
    }
    float m = std::fabs(momentum);
    float cut = std::trunc(m * 10) / 10;
    momentum = momentum < 0 ? -cut : cut;
}

void ChatLog::paint() {
    if (!game->chat) return;
    int fh = chat_fh();
    if (fade) {
        float top = (layout == 1 && !chat_split(*game)) ? 0.0f : (float)fh;
        if (game->ui.orient_lock == 1 && h > 44) {
            glColor4f(0.75f, 0.75f, 0.75f, 0.75f);
            gfx_img_blit(gfx_img_load("fade"), 0, top, (float)game_get_sw(), 3.0f * fh);
            gfx_img_blit(gfx_img_load("black"), 0, top + 3.0f * fh, (float)game_get_sw(), h - top + 44 - 3.0f * fh);
            glColor4f(1, 1, 1, 1);
        }
        gfx_clip(0, top, w, h - top);
        // the fade ramp goes into destination alpha, the text is weighted by it
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
        glBlendFunc(GL_ONE, GL_ZERO);
        gfx_img_blit(gfx_img_load("fade"), 0, top, w, 3.0f * fh);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glBlendFunc(GL_DST_ALPHA, GL_ONE);
        _paint_text();
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
        gfx_img_blit(gfx_img_load("white"), 0, 0, w, 3.0f * fh);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        gfx_unclip();
    } else {
        gfx_clip(0, 0, w, h);
        _paint_text();
        gfx_unclip();
    }
    if (has_tab) {
        float a = std::min((float)slot_px() / 88.0f, 1.0f) * 85.0f / 255.0f;
        float x = chat_corner_rule(*game) ? w - 44 : 2;
        glColor4f(a, a, a, a);
        gfx_img_blit(gfx_img_load("chat-tab"), x, 2, 40, 2.0f * fh - 4);
        glColor4f(1, 1, 1, 1);
    }
}

// Dark colours are lifted until they read on the dark log.
static void _lift(int rgb, int& r, int& g, int& b) {
    r = (rgb >> 16) & 255;
    g = (rgb >> 8) & 255;
    b = rgb & 255;
    for (;;) {
        int lum = (int)(0.21 * r + 0.71 * g + 0.07 * b);
        if (lum > 84) break;
        int add = 85 - lum;
        r = std::min(r + add, 255);
        g = std::min(g + add, 255);
        b = std::min(b + add, 255);
    }
}

void ChatLog::_paint_text() {
    int tw = _ti(std::ceil(font_get_width(font, " 88:88  ")));
    int tfont = font_load("font", tw > 0 ? std::max(880 / tw, 1) : 20);
    Chat* chat = game->chat.get();
    if (!chat || chat->lines.empty()) {
        glColor4f(1, 1, 1, 1);
        return;
    }
    int fh = chat_fh();
    int tfh = _ti(font_get_height(tfont, nullptr, 0));
    int wrap = _ti(std::trunc(w - 44));
    float y = h + scroll;
    for (size_t i = chat->lines.size(); i-- > 0;) {
        const ChatLine& l = chat->lines[i];
        float lh = std::trunc(font_get_height(font, l.text.c_str(), (float)wrap));
        y -= lh;
        if (y >= h) continue;
        if (l.bgcolor > 0) gfx_fill((unsigned)l.bgcolor & 0xFFFFFFu, 0, y, w, lh);
        int r, g, b;
        _lift(colorblind_map(l.color), r, g, b);
        glColor4ub((GLubyte)r, (GLubyte)g, (GLubyte)b, 255);
        font_draw(font, l.text.c_str(), 44, std::trunc(y), (float)wrap, -1);

        time_t t = l.time;
        struct tm tmv {};
        char when[32] = "";
        if (localtime_r(&t, &tmv)) {
            int hour = tmv.tm_hour % 12;
            snprintf(when, sizeof when, "%2d:%02d", hour == 0 ? 12 : hour, tmv.tm_min);
        }
        glColor4ub((GLubyte)(r * 165 / 255), (GLubyte)(g * 165 / 255), (GLubyte)(b * 165 / 255), 165);
        int ww = _ti(std::ceil(font_get_width(tfont, when)));
        font_draw(tfont, when, (float)((44 - ww) / 2), std::trunc(y + (float)(fh - tfh) / 2), 0, -1);
        if (y < (float)-fh) break;
    }
    glColor4f(1, 1, 1, 1);
}

// ---- input bar ------------------------------------------------------------------------

void ChatTable::loop() {
    if (root) {
        if (ChatLog* log = chat_log_find(*root)) visible = log->is_open() ? 1 : 0;
    }
    Container::loop();
}

void ChatTable::paint() {
    if (visible) Container::paint();
}

// ---- chat icon ------------------------------------------------------------------------

ChatIcon::ChatIcon(GameParts* g) : game(g) { image = gfx_img_load("chat-icon"); }

void ChatIcon::loop() {
    if (!root) return;
    if (ChatLog* l = chat_log_find(*root)) on_click = _action(l->is_open() ? "keyboard" : "expand");
}

void ChatIcon::paint() {
    if (!image) image = gfx_img_load("chat-icon");
    float a = style.hover ? 1.0f : 0.75f;
    glColor4f(a, a, a, a);
    gfx_img_blit(image, 0, 0, w, h);
    glColor4f(1, 1, 1, 1);
}

var ChatIcon::event(Event* e) {
    var answer;
    switch (e->type) {
        case GUI_EV_PRESS:
            pressed = 1;
            press = *e;
            press_x = e->x;
            press_y = e->y;
            answer = Widget::event(e);
            break;
        case GUI_EV_MOVE:
            if (pressed) {
                float dx = e->x - press_x, dy = e->y - press_y;
                bool off = e->x < 0 || e->y < 0 || e->x >= w || e->y >= h;
                if (dx * dx + dy * dy > 100 || off) {
                    // a drag that began on the icon belongs to the match
                    pressed = 0;
                    GfxRect a = get_abs_rect(false);
                    Event p = press;
                    p.x += a.x;
                    p.y += a.y;
                    ui_event(game->world, game->ui, get_uid_mark_has_player(*game, 0), p);
                    answer = var();
                    break;
                }
            }
            {
                var r = Widget::event(e);
                answer = pressed ? r : var();
            }
            break;
        case GUI_EV_CLICK:
            pressed = 0;
            answer = Widget::event(e);
            break;
        default: {
            var r = Widget::event(e);  // hover and focus still follow
            answer = pressed ? r : var();
            break;
        }
    }
    if (!pressed && log) {
        Event c = *e;
        if (c.type >= GUI_EV_PRESS && c.type <= GUI_EV_RELEASE) {
            GfxRect mine = get_abs_rect(false), theirs = log->get_abs_rect(false);
            c.x += mine.x - theirs.x;
            c.y += mine.y - theirs.y;
        }
        log->event(&c);
    }
    return answer;
}
