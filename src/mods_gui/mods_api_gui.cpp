// mods_api_gui: the mod's own pages. The markup parameters "html", "tabs" and
// "xhtml" become widgets inside the ModsGui root container, laid out for the
// current "state", with the quit and settings buttons on top.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "markup/html2gui.h"
#include "mods_gui/mods_console.h"
#include "mods_gui/mods_gui.h"
#include "render/zentar_ui.h"  // ZentarUI: the screen rectangle
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_md5.h"
#include "shell/game_video.h"  // game_get_sw, game_get_sh
#include "shell/game_view.h"

static constexpr int GUI_TAB_H = 44;        // height of the tab bar and the page's top offset
static constexpr int GUI_TAB_MIN = 22;      // a tab bar this low or lower is not shown
static constexpr int GUI_BAR_W = 11;        // room of the scroll bar
static constexpr int GUI_LOBBY_H = 276;     // lobby page height when not split
static constexpr size_t GUI_PAGE_MIN = 16;  // an "html" text this short shows no page there

// MD5 of the last right-half markup shown, kept across mod restarts.
static std::string g_xhtml_md5;

static Box* _box(Widget* child, int w, int h) {
    Box* b = new Box(child);
    if (w >= 0) b->style.declared().width = (float)w;
    if (h >= 0) b->style.declared().height = (float)h;
    return b;
}

static void _resolve(int& w, int& h) {
    if (w < 1) w += game_get_sw();
    if (h < 1) h += game_get_sh();
    w = std::max(w, 0);
    h = std::max(h, 0);
}

// The content in a padded box of width w - 11, laid out.
static Box* _padded(Widget* content, int w, int pad) {
    Box* box = new Box(content);
    content->x = content->y = 0;
    box->style.declared().width = (float)std::max(w - GUI_BAR_W, 0);
    int32_t* p = box->style.declared().padding;
    p[0] = pad, p[1] = 0, p[2] = pad, p[3] = 0;
    box->style.loop();
    box->_resize();
    return box;
}

static ScrollBox* _scroll(Box* box, int w, int h, const std::string& name) {
    ScrollBox* scroll = new ScrollBox();
    scroll->name = name;
    scroll->focusable = 1;
    scroll->style.declared().width = (float)std::max(w - GUI_BAR_W, 0);
    scroll->style.declared().height = (float)h;
    scroll->add(box, 0, 0);
    scroll->set_value_i(0);
    return scroll;
}

Widget* lobby_scrollbox(Widget* content, int w, int h, const std::string& name) {
    _resolve(w, h);
    return new ScrollBox2(_scroll(_padded(content, w, 5), w, h, name));
}

Widget* mods_scrollbox(Widget* content, int w, int h) {
    _resolve(w, h);
    Box* box = _padded(content, w, 10);
    if (h >= box->oh) return _box(box, w, h);
    return _box(new ScrollBox2(_scroll(box, w, h, "_scrollbox")), w, h);
}

void _mods_gui_layout(Container& root) {
    float rw = 0, rh = 0;
    for (Widget* c : root.children) {
        c->style.loop();
        c->_resize();
        rw = std::max(rw, c->x + c->ow);
        rh = std::max(rh, c->y + c->oh);
    }
    root.w = root.ow = rw;
    root.h = root.oh = rh;
}

// The deepest widget on the focus chain below root, or null.
static Widget* _focus_leaf(Container& root) {
    Widget* f = root.focused;
    while (Container* c = dynamic_cast<Container*>(f)) {
        if (!c->focused) break;
        f = c->focused;
    }
    return f;
}

static Widget* _build(ModsAPI& api, const char* key) {
    return html2gui(api.param_get(key).__str__(), var(VAR_DICT, 0));
}

// ==== the page, step by step ======================================================

namespace {

// What the "state" parameter asks of the page, read once per rebuild.
struct GuiState {
    bool tabs, xtabs, lobby, xlobby;
    explicit GuiState(const std::string& s)
        : tabs(s == "tabs"), xtabs(s == "xtabs"), lobby(s == "lobby"), xlobby(s == "xlobby"),
          page_keys(s != "play" && s != "scene") {}
    bool tab_bar() const { return tabs || xtabs || lobby || xlobby; }  // the tab bar may show
    bool lobby_any() const { return lobby || xlobby; }
    // The match screens keep the keys for the match; every other screen hands them to the page.
    bool page_keys;
};

// What the old page held; the same page shown again gets it back.
struct GuiKept {
    std::string page;  // the "_page" value, "" for none
    int scroll = -1;   // the main and right-hand scroll positions, -1 for none
    int xscroll = -1;
    // Named values, the first widget of each name as find() would see it;
    // widgets without a value (none) have nothing to give back.
    std::vector<std::pair<std::string, var>> values;
    std::string focus;  // name of the focused widget
};

GuiKept _gui_kept(Container& root) {
    GuiKept k;
    Widget* w = root.find("_page");
    k.page = w ? std::string(w->get_value_s() ? w->get_value_s() : "") : "";
    w = root.find("_scrollbox");
    k.scroll = w ? w->get_value_i() : -1;
    w = root.find("_xscrollbox");
    k.xscroll = w ? w->get_value_i() : -1;
    std::set<std::string> seen;
    for (Widget* d : root._list_descendants()) {
        if (d->name.empty() || !seen.insert(d->name).second) continue;
        var v = d->get_value();
        if (v.__type__() != VAR_NONE) k.values.emplace_back(d->name, var(v.__copy__()));
    }
    Widget* leaf = _focus_leaf(root);
    k.focus = leaf ? leaf->name : "";
    return k;
}

// The blank backdrop takes clicks that hit nothing else.
void _gui_backdrop(Container& root, int sw, int sh) {
    Widget* none = new Widget();
    none->name = "none";
    none->focusable = 1;
    none->style.declared().width = (float)sw;
    none->style.declared().height = (float)sh;
    root.add(none, 0, 0);
}

// The tab bar, when the state has one and the mod's tabs are tall enough;
// returns the page's top offset.
int _gui_tab_bar(ModsGui& g, const GuiState& state, int sw) {
    Box* tabs = new Box(_build(g.api, "tabs"));
    tabs->style.loop();
    tabs->_resize();
    if (!(tabs->oh > GUI_TAB_MIN && state.tab_bar())) {
        delete tabs;
        return 0;
    }
    tabs->name = "tabs";
    tabs->style.declared().width = (float)sw;
    tabs->style.declared().height = (float)GUI_TAB_H;
    var ignore(VAR_DICT, 0);
    ignore.__set__(var("type"), var("ignore"));
    tabs->on_press = ignore;
    tabs->on_release = var(ignore.__copy__());
    g.add(tabs, 0, 0);
    return GUI_TAB_H;
}

// The right half of the split lobby, keeping its scroll while its markup stays.
void _gui_xhtml(ModsGui& g, bool split, int sw, int sh, int screen_h, int old_xscroll) {
    if (!split) {
        g_xhtml_md5.clear();
        return;
    }
    Widget* xhtml = _build(g.api, "xhtml");
    xhtml->name = "_xhtml";
    Widget* xbox = lobby_scrollbox(xhtml, sw / 2, sh - 2 * GUI_TAB_H, "_xscrollbox");
    xbox->name = "xhtmlbox";
    g.add(xbox, sw / 2, GUI_TAB_H);
    xbox->style.declared().height = (float)screen_h;
    _mods_gui_layout(g);
    std::string markup = g.api.param_get("xhtml").__str__();
    std::string md5 = md5_hex(markup.data(), markup.size());
    if (md5 == g_xhtml_md5 && old_xscroll >= 0)
        if (Widget* xs = g.find("_xscrollbox")) xs->set_value_i(old_xscroll);
    g_xhtml_md5 = md5;
}

// The main page from "html"; the same "_page" as before keeps what it held.
Widget* _gui_page(ModsGui& g, std::string old_page, int& keep) {
    Widget* html = _build(g.api, "html");
    Widget* page = html->find("_page");  // before the root takes its own name
    std::string new_page = page && page->get_value_s() ? page->get_value_s() : "";
    html->name = "_html";
    if (new_page.empty()) new_page = "_unknown";
    if (old_page.empty()) old_page = "_unknown";
    if (new_page == old_page) keep = 1;
    return html;
}

// The main page placed for the state: in the lobby's scroll box, under the
// tab bar, or over the whole screen.
void _gui_place(ModsGui& g, Widget* html, const GuiState& state, bool split, int top, int sw, int sh,
                int screen_h) {
    int32_t align = html->style.declared().align, valign = html->style.declared().valign;
    if (state.lobby || split) {
        int bw = split ? sw / 2 : sw, bh = split ? sh - GUI_TAB_H : GUI_LOBBY_H;
        Widget* box = lobby_scrollbox(html, bw, bh, "_scrollbox");
        box->name = "htmlbox";
        g.add(box, 0, GUI_TAB_H);
        if (!split) box->style.declared().height = (float)screen_h;
        _mods_gui_layout(g);
    } else if (state.tabs || state.xtabs || state.xlobby) {
        if (g.api.param_get("html").__str__().size() > GUI_PAGE_MIN) {
            int t = (top ? 1 : 0) + (state.tabs ? 1 : 0);
            Widget* box = mods_scrollbox(html, 0, -GUI_TAB_H * t);
            box->name = "html";
            box->style.declared().align = align;
            box->style.declared().valign = valign;
            if (!(state.tabs && top)) {
                Box* plain = new Box(box);
                plain->style.declared().valign = -1;
                int32_t* m = plain->style.declared().margin;
                m[0] = 0, m[1] = 0, m[2] = GUI_TAB_H, m[3] = 0;
                box = plain;
            }
            g.add(box, 0, top);
        } else {
            delete html;
        }
    } else {
        Widget* box = mods_scrollbox(html, 0, 0);
        box->name = "html";
        box->style.declared().align = align;
        box->style.declared().valign = valign;
        g.add(box, 0, 0);
    }
}

// An icon button named `name` whose click reports {type = name}.
Widget* _gui_icon(const char* name, float size, int32_t margin, int32_t alpha) {
    Widget* w = mk_img_src(std::string("icon-") + name);
    w->name = name;
    w->focusable = 1;
    w->style.declared().width = w->style.declared().height = size;
    for (int32_t& m : w->style.declared().margin) m = margin;
    w->style.declared().fg_alpha = alpha;
    var a(VAR_DICT, 0);
    a.__set__(var("type"), var(name));
    w->on_click = a;
    return w;
}

// The quit and settings buttons the state has room for.
void _gui_buttons(ModsGui& g, const GuiState& state, bool split, int sw, int sh) {
    if (state.tabs) return;
    if (!g.api.param_get("remove_quit").__bool__()) g.add(_gui_icon("quit", 24, 10, 170), 0, 0);
    if (state.xtabs || (state.xlobby && !split)) return;
    g.add(_gui_icon("settings", 34, 5, 255), sw - GUI_TAB_H, sh - GUI_TAB_H);
}

// Each name's first widget in the order find() walks (children before their
// container), gathered in one walk: a find() per kept value would walk the
// whole page once per named field, seconds for a page of thousands.
void _gui_first_named(Widget* w, std::map<std::string, Widget*>& out) {
    if (Container* c = dynamic_cast<Container*>(w))
        for (Widget* child : c->children) _gui_first_named(child, out);
    if (!w->name.empty()) out.emplace(w->name, w);  // an earlier one stays
}

// What the user had on the same page keeps: scroll, focus and values.
void _gui_restore(ModsGui& g, const GuiKept& k) {
    if (k.scroll >= 0)
        if (Widget* s = g.find("_scrollbox")) s->set_value_i(k.scroll);
    if (!k.focus.empty())
        if (Widget* f = g.find(k.focus.c_str())) f->_focus();
    std::map<std::string, Widget*> named;
    _gui_first_named(&g, named);
    for (auto& [name, v] : k.values) {
        auto at = named.find(name);
        if (at != named.end()) at->second->set_value(var(v.__copy__()));
    }
}

// A page that takes keys opens with the focus on something the player sees:
// the blank backdrop comes first in the tree, and from it the first arrow key
// would jump to the far edge. Only the mod's own markup is looked at: the
// quit button would leave the page on the first Return. A focusable widget
// with none of its own below it (a button, a field) is preferred to a scroll
// area that holds them.
void _gui_focus_seen(Container& root) {
    Widget* leaf = _focus_leaf(root);
    if (leaf && gui_seen(leaf)) return;
    std::vector<Widget*> all;
    for (Widget* c : root.children) {
        if (c->name == "none" || c->name == "quit" || c->name == "settings") continue;
        all.push_back(c);
        if (Container* cc = dynamic_cast<Container*>(c)) {
            std::vector<Widget*> sub = cc->_list_descendants();
            all.insert(all.end(), sub.begin(), sub.end());
        }
    }
    Widget* pick = nullptr;
    for (size_t i = 0; i < all.size(); i++) {
        Widget* d = all[i];
        if (d->disabled || !d->focusable || !gui_seen(d)) continue;
        bool inner = false;  // a focusable widget inside d
        if (Container* c = dynamic_cast<Container*>(d))
            for (Widget* e : c->_list_descendants()) inner = inner || (!e->disabled && e->focusable);
        if (!inner) {
            pick = d;
            break;
        }
        if (!pick) pick = d;
    }
    if (!pick) return;
    // Hover too, as the arrow keys give it, so that the focus look shows; but
    // not to a named widget: with both, the chat of the lobby and the pause
    // page would leave it every key, and typing to the chat would stop.
    bool named = !pick->name.empty() && pick->name[0] != '_';
    if (!named) pick->_hover();
    pick->_focus();
}

}  // namespace

// ==== ModsGui ======================================================================

ModsGui::ModsGui(ModsAPI& api_, GameView& view_, ZentarUI& ui_) : api(api_), view(view_), ui(ui_) {}

ModsGui* mods_gui_of(ModsAPI* api) { return api ? dynamic_cast<ModsGui*>(api->pages.get()) : nullptr; }

var mods_gui_event(ModsAPI* api, Event& e) {
    ModsGui* gui = mods_gui_of(api);
    return gui ? gui->event(&e) : var();
}

void mods_gui_loop(ModsAPI* api) {
    if (ModsGui* gui = mods_gui_of(api)) gui->loop();
}

void ModsGui::gui_init(int keep) {
    int sw = game_get_sw(), sh = game_get_sh();
    const GuiState state(api.param_get("state").__str__());
    GuiKept kept = _gui_kept(*this);

    // A fresh console and an empty root.
    modsapi_console_gui_rebuild(&api);
    Container::operator=(Container());

    _gui_backdrop(*this, sw, sh);
    int top = _gui_tab_bar(*this, state, sw);
    bool split = state.lobby_any() && view.state_call(var("lobby:split")).__bool__();
    int screen_h = std::max((int)ui.screen[3] - 2 * GUI_TAB_H, 0);
    _gui_xhtml(*this, split, sw, sh, screen_h, kept.xscroll);
    Widget* html = _gui_page(*this, kept.page, keep);
    _gui_place(*this, html, state, split, top, sw, sh, screen_h);
    _gui_buttons(*this, state, split, sw, sh);
    if (keep) _gui_restore(*this, kept);

    _mods_gui_layout(*this);
    if (!parent && !focused) _find_focus();
    if (state.page_keys) _gui_focus_seen(*this);
    for (Widget* c : children) c->loop();
}

var ModsGui::gui_get(const std::string& name) {
    Widget* w = find(name.c_str());
    return w ? w->get_value() : var();
}

void ModsGui::gui_set(const std::string& name, const var& value) {
    if (Widget* w = find(name.c_str())) w->set_value(var(value.__copy__()));
}

void ModsGui::gui_paint() {
    int sw = game_get_sw(), sh = game_get_sh();
    if (Widget* html = find("html")) {
        const StyleBlock& s = html->style.computed();
        int ax = style_or(s.align, 0), ay = style_or(s.valign, 0);
        html->x = (sw - html->ow) * (ax + 1) / 2;
        html->y = (sh - html->oh) * (ay + 1) / 2;
    }
    _mods_gui_layout(*this);
    for (Widget* c : children) {
        GfxRect r = {c->x, c->y, c->ow, c->oh};
        if (!_gfx_clip(&r, nullptr)) continue;
        gfx_translate(c->x, c->y);
        c->_paint();
        gfx_translate(-c->x, -c->y);
    }
}

void ModsGui::gui_popup_dismiss() {
    // The page that holds the popup goes, or the root itself is the popup.
    Widget* popup = nullptr;
    for (Widget* c : children)
        if (c->find("popup")) {
            popup = c;
            break;
        }
    if (!popup && name == "popup") popup = this;
    if (!popup) return;
    if (focused == popup) focused = nullptr;
    if (hovered == popup) hovered = nullptr;
    auto at = std::find(children.begin(), children.end(), popup);
    if (at != children.end()) {
        children.erase(at);
        delete popup;
    }
}
