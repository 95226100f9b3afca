// chat_client: the chat panel of the in-game screens: building it into a
// screen's root container, its per-frame layout, the keys it takes, Tab name
// completion and sending a typed line.
#include <GL/gl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "chat/chat.h"
#include "chat/chat_widgets.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "world/zentar.h"
#include "shell/game_video.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_gui.h"
#include "net/net.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "ruvezor/util/qel_log.h"
#include "render/zentar_ui.h"

// ---- module state --------------------------------------------------------------------------

// The Tab completion cycle, shared by every screen's entry.
struct _ChatClientData {
    std::string p_txt;  // the entry text when the cycle began
    int p_pos = 0;      // the caret position then
    int count = 0;      // Tab presses the cycle has seen; 0 = no cycle
};
static _ChatClientData _chat_client;

static var _action(const char* type) {
    var a(4, 0);
    a["type"] = var(type);
    return a;
}

static void _pad(Widget* w, int top, int right, int bottom, int left) {
    StyleBlock& d = w->style.declared();
    d.padding[0] = top;
    d.padding[1] = right;
    d.padding[2] = bottom;
    d.padding[3] = left;
}

// ---- stored entry ----------------------------------------------------------------------

void chat_input_restore(GameParts& game, TextInput* entry) {
    qel_log("chat_input_restore\n");
    if (!entry || !game.chat || !game.chat->entry) return;
    TextInput* stored = game.chat->entry;
    stored->font = entry->font;
    stored->encoding = entry->encoding;
    stored->name = entry->name;
    Container* parent = entry->parent;
    Widget* next = entry->next;
    int32_t disabled = entry->disabled;
    *entry = *stored;
    entry->parent = parent;
    entry->next = next;
    // the chat feeds the entry itself; the root's dispatch must keep passing it by
    entry->disabled = disabled;
}

void chat_input_save(GameParts& game, TextInput* entry) {
    qel_log("chat_input_save\n");
    if (!entry || !game.chat || !game.chat->entry) return;
    *game.chat->entry = *entry;
    // the panel's tree goes away with its screen; keep no links into it
    game.chat->entry->parent = nullptr;
    game.chat->entry->next = nullptr;
}

// ---- building and tearing down ---------------------------------------------------------------

static void _chat_bar_init(GameParts& game, Container& root, ChatLog* log, int enabled, int X0, int W) {
    int sw = game_get_sw(), sh = game_get_sh();
    int FH = chat_fh();
    int font = font_load("font", 20);

    auto* icon = new ChatIcon(&game);
    StyleBlock& id = icon->style.declared();
    id.width = 34;
    id.height = 34;
    for (int i = 0; i < 4; i++) id.margin[i] = 5;
    id.bg_alpha = 85;
    icon->focusable = 1;
    icon->name = "chat_icon";
    icon->on_click = _action("chat");
    icon->on_press = _action("ignore");
    icon->log = log;
    icon->root = &root;
    root.add(icon, X0 + (chat_corner_rule(game) ? sw - 44 : 0), sh - 44);

    auto* table = new ChatTable();
    table->name = "table";
    table->root = &root;
    table->visible = 1;

    auto* label = new Label(font, "> ");
    label->col = 0;
    label->row = 0;

    auto* entry = new TextInput(font, 255);
    entry->focusable = 1;
    entry->encoding = 1;
    entry->name = enabled ? "input" : "_input";
    entry->disabled = 1;
    entry->_mktxt2();
    entry->style.loop();
    entry->_resize();
    entry->_adjust(true, true);
    chat_input_restore(game, entry);

    int inset = (44 - FH) / 2;
    _pad(label, inset, 0, inset, 0);
    _pad(entry, inset, 0, inset, 0);
    StyleBlock& td = table->style.declared();
    td.margin[0] = -inset;
    td.margin[1] = 0;
    td.margin[2] = -inset;
    td.margin[3] = 0;

    table->add(label, 0, 0);
    auto* box = new Box(entry);
    box->col = 1;
    box->row = 0;
    table->add(box, 0, 0);

    label->style.loop();
    label->_resize();
    entry->style.declared().width = (float)(W - ((int)label->ow + 88));
    entry->on_change = _action("input");
    entry->style.loop();
    entry->_resize();
    box->style.loop();
    box->_resize();

    table->style.loop();
    table->_resize();
    table->disabled = 1;
    root.add(table, X0 + 44, sh - (FH + 44) / 2);
}

void chat_init(GameParts& game, Container& root, int enabled, int tab, int layout) {
    if (!game.client_net) return;
    int sw = game_get_sw(), sh = game_get_sh();
    bool split = chat_split(game);
    int W = split ? sw / 2 : sw;
    int X0 = split ? sw / 2 : 0;
    int FH = chat_fh(), FC = chat_fc();

    auto* log = new ChatLog(&game);
    log->name = "chat";
    log->focusable = 1;
    log->scroll = 0;
    log->fade = 1;
    log->has_tab = tab;
    log->layout = layout;

    bool reopen = false;
    if (split) {
        log->has_tab = 1;
        log->fade = 1;
        log->layout = 1;
    } else if (log->has_tab == 1 && log->layout == 0 && game.world.chat_first_done == 0 && game.ui.orient_lock != 1) {
        // the first match panel after a reset opens small, or stays shut
        game.world.chat_first_done = 1;
        reopen = log->slot_px() >= 44;
        game.settings.chat_height[0] = -1;
    }

    float hgt = (float)log->slot_px();
    if (reopen) {
        hgt = (float)std::max(log->slot_px(), 88);
        game.settings.chat_height[log->slot()] = chat_px_to_slot(hgt, sh);
    }
    log->style.declared().height = hgt;
    log->tab_pos = hgt;
    log->height = hgt;

    log->dragging = 0;
    log->tab_held = 0;
    log->live = 0;
    log->moved = 0;
    log->momentum = 0;
    log->_log_size();

    log->style.declared().width = (float)(W - 44);
    _pad(log, sh, 0, FH + FC, 0);
    int x = X0 + (chat_corner_rule(game) ? 44 * log->has_tab : 0);
    int y = -(int)(hgt + FH + FC);
    root.add(log, x, y);
    root.resize();

    _chat_bar_init(game, root, log, enabled, X0, W);
}

void chat_deinit(GameParts& game, Container& root) {
    auto* entry = dynamic_cast<TextInput*>(root.find("input"));
    if (!entry) return;
    chat_input_save(game, entry);
}

void chat_loop(GameParts& game, Container& root) {
    ModsAPI* mods = game.mods_api.get();
    if (!mods) return;
    int sw = game_get_sw(), sh = game_get_sh();
    int FH = chat_fh(), FC = chat_fc();

    if (Widget* table = root.find("table"); table && table != &root)
        table->y = mods->log.empty() ? (float)(sh - (FH + 44) / 2) : (float)(sh - (FH + FC));
    if (Widget* in = root.find("input"); in && in != &root) {
        in->style.focus = 1;
        in->style.vstate = in->style.hover ? 4 : 3;
    }
    ChatLog* log = chat_log_find(root);
    mods->param_set("chat_enabled", var(log && log->is_open() ? 1 : 0));
    if (!log) return;

    GfxRect r = log->get_abs_rect(false);
    int T = std::min((int)std::max(std::min(std::trunc(r.y), 2e9f), -2e9f), sh);
    ModsGui* pages = mods_gui_of(mods);
    Widget* box = pages ? pages->find(chat_split(game) ? "xhtmlbox" : "htmlbox") : nullptr;
    if (!box && log->tab_held && !log->live) return;  // the match waits for the release
    game.ui.screen[0] = 0;
    game.ui.screen[1] = 0;
    game.ui.screen[2] = (float)sw;
    game.ui.screen[3] = (float)(T + 44);
    ui_calc_trans(game.world, game.ui);
    if (box) box->style.declared().height = (float)(T + 44 - 88);
}

void chat_do_close_fix(GameParts&, Container& root) {
    for (const char* name : {"tab", "dismiss", "/"}) {
        Widget* w = root.find(name);
        if (!w || w == &root || !w->parent) continue;
        Container* p = w->parent;
        if (p->hovered == w) p->hovered = nullptr;
        if (p->focused == w) p->focused = nullptr;
        p->children.erase(std::remove(p->children.begin(), p->children.end(), w), p->children.end());
        // nothing may keep tabbing into the deleted widget
        for (Widget* d : root._list_descendants())
            if (d->next == w) d->next = w->next;
        if (root.next == w) root.next = w->next;
        delete w;
    }
}

void chat_do_close(GameParts& game, Container& root) {
    if (ChatLog* log = chat_log_find(root)) log->set_value_i(0);
    chat_do_close_fix(game, root);
}

// ---- sending and completion -------------------------------------------------------------------

void chat_send(GameParts& game, TextInput* entry) {
    if (!entry) return;
    std::string text = entry->get_value().__str__();
    // Emptied first: what the mod does with the line may take the entry's
    // screen away, and a kept entry must not send the line again.
    entry->set_value_s("");
    var ev(4, 0);
    ev["type"] = var("message");
    ev["value"] = var(text);
    mods_event(game, ev);
    if (game.client_net) game.client_net->send(text, 1);
}

static std::string _lower(std::string s) {
    for (char& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

var _chat_event_input(GameParts& game, Widget* entry, Event e) {
    _ChatClientData& cycle = _chat_client;
    auto* in = dynamic_cast<TextInput*>(entry);
    if (!in) return entry ? entry->event(&e) : var();
    if (e.type != GUI_EV_KEYDOWN) return in->event(&e);
    if (e.key != GUI_KEY_TAB) {
        cycle.count = 0;
        return in->event(&e);
    }
    std::vector<std::string> keywords;
    if (game.chat) keywords = game.chat->keywords;

    int length = (int)in->value.size();
    if (cycle.count == 0) {
        cycle.p_txt = in->value;
        cycle.p_pos = std::clamp(in->caret, 0, length);
    } else if (_lower(in->value.substr(0, (size_t)std::min(cycle.p_pos, length))) ==
               _lower(cycle.p_txt.substr(0, (size_t)std::min<int>(cycle.p_pos, (int)cycle.p_txt.size())))) {
        in->_change(0, length, cycle.p_txt);
        in->caret = in->anchor = std::clamp(cycle.p_pos, 0, (int)in->value.size());
    }
    cycle.count += 1;

    int caret = std::clamp(in->caret, 0, (int)in->value.size());
    std::string s = " " + in->value.substr(0, (size_t)caret);
    std::replace(s.begin(), s.end(), '@', ' ');
    std::string word = s.substr(s.rfind(' ') + 1);
    if (word.empty()) return var();

    std::string lw = _lower(word);
    std::vector<const std::string*> matches;
    for (const std::string& k : keywords)
        if (_lower(k).compare(0, lw.size(), lw) == 0) matches.push_back(&k);
    if (matches.empty()) return var();
    const std::string& pick = *matches[(size_t)(cycle.count - 1) % matches.size()];
    in->_change(caret - (int)word.size(), (int)word.size(), pick);
    in->_adjust(true, true);
    return var();
}

// ---- event routing ------------------------------------------------------------------------

static bool _is_digit(int c) { return c >= '0' && c <= '9'; }

static std::string _result_type(const var& result) {
    if (result.__type__() != 4) return "";
    var r = result;
    if (!r.__has__(var("type"))) return "";
    return r["type"].__str__();
}

static void _unhover(Widget* w) {
    if (!w) return;
    w->style.hover = 0;
    w->style.hover_focus = 0;
    w->style.vstate = w->style.focus ? 3 : 0;
}

int chat_event_handle(GameParts& game, Container& root, Event e, var result, int in_match) {
    ChatLog* log = chat_log_find(root);
    if (!log) return 0;

    Widget* nc = root.find("num_catch");
    if (!nc || nc == &root) {
        nc = new Widget();
        nc->name = "num_catch";
        root.add(nc, 0, 0);
    }
    int F = nc->disabled;
    if (!game.view.in_stack("states_play")) nc->disabled = 1;

    if (ModsGui* pages = mods_gui_of(game.mods_api.get()); in_match == 0 && pages) {
        // a focused field of the mod's page keeps the keys
        for (Widget* d : pages->_list_descendants()) {
            if (!d->name.empty() && d->name[0] != '_' && d->name != "none" && d->focusable && d->style.focus &&
                d->style.hover)
                return 0;
        }
    }

    bool key = e.type == GUI_EV_KEYDOWN || e.type == GUI_EV_KEYUP;
    if (key) {
        if (e.key == 5 || e.unicode == 96) return 0;
        if (e.type == GUI_EV_KEYDOWN &&
            (e.key == GUI_KEY_UP || e.key == GUI_KEY_DOWN || e.key == 77 || e.key == 78))
            return 0;
        if (e.type == GUI_EV_KEYDOWN) {
            if (e.unicode > 0 && !_is_digit(e.unicode)) F = 1;
            if (e.key == GUI_KEY_RETURN) F = 0;
            if (in_match == 0) F = 1;
        }
    } else if (e.type == GUI_EV_PRESS || e.type == GUI_EV_RELEASE || e.type == GUI_EV_WHEEL) {
        F = 0;
    }
    nc->disabled = F;

    bool open = log->is_open();
    if (!open) F = 0;
    if (key && _is_digit(e.unicode) && F == 0) return 0;

    int used = 0;
    Widget* input = root.find("input");
    if (input == &root) input = nullptr;
    if (result.__type__() == 0 && key && input) {
        used = 1;
        if (open) result = _chat_event_input(game, input, e);
    }

    if (_result_type(result) == "tab") {
        _unhover(root.find("tab"));
        if (Widget* b = root.find("blur")) b->_focus();
        if (input) {
            Event k{};
            k.type = GUI_EV_KEYDOWN;
            k.key = GUI_KEY_TAB;
            k.unicode = 9;
            result = _chat_event_input(game, input, k);
        }
        used = 1;
    }
    if (_result_type(result) == "dismiss") {
        _unhover(root.find("dismiss"));
        driver_keyboard_hide();
        chat_do_close(game, root);
        used = 1;
    }
    if (_result_type(result) == "/") {
        if (input) {
            Event k{};
            k.type = GUI_EV_KEYDOWN;
            k.key = 0;
            k.unicode = '/';
            result = _chat_event_input(game, input, k);
        }
        used = 1;
    }
    if (_result_type(result) == "keyboard") {
        if (driver_keyboard_state()) {
            driver_keyboard_hide();
            chat_do_close(game, root);
        } else {
            gfx_focus(GfxRect{0, (float)(game_get_sh() - 44), (float)game_get_sw(), 44});
            driver_keyboard_show();
        }
        used = 1;
    }
    if (_result_type(result) == "expand") {
        if (driver_keyboard_state()) driver_keyboard_hide();
        log->do_expand();
        used = 1;
    }
    if (_result_type(result) == "input") {
        chat_send(game, dynamic_cast<TextInput*>(input));
        chat_do_close(game, root);
        used = 1;
    }
    return used;
}
