// menus_news: the news of a login reply and the error box of a failed request.
#include "screens/menus_news.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "screens/menus_login.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"

// The text of a {type "content", value ...} message, or false for any other.
static bool _content_of(var& msg, std::string& out) {
    if (msg.__type__() != VAR_DICT || !msg.__has__(var("type"))) return false;
    if (msg["type"].__str__() != "content") return false;
    out = msg.__has__(var("value")) ? msg["value"].__str__() : std::string();
    return true;
}

static std::string _onclick_of(var& action) {
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return std::string();
    if (action["type"].__str__() != "onclick" || !action.__has__(var("value"))) return std::string();
    return action["value"].__str__();
}

// ---- news -------------------------------------------------------------------------------

MenusNews::MenusNews(GameParts* g) : game(g) {}

void MenusNews::init() {
    Settings& s = game->settings;
    // Nothing new and not asked for: straight on to play. The page is still
    // built below, so this screen stays sound if it is shown again.
    if (s.news_open == 0 && s.news == 0) game->view.next("menus_play", 2);

    int sw = game_get_sw(), sh = game_get_sh();
    root = Container();
    root.add(new MenusBG(game), 0, 0);

    if (!content.empty()) {
        std::string m = "<table><tr><td>" + content + "<tr><td><p>&nbsp;</p>" + menus_policy_note() + "</table>";
        var options(VAR_DICT, 0);
        options["p:max-width"] = var(309);
        root.add(menus_scrollbox(html2gui(m, options), sw, -44), 0, 0);
    } else {
        Widget* quit = new Widget();
        quit->name = "quit";
        StyleBlock& d = quit->style.declared();
        d.bg_image = gfx_img_load("icon-quit");
        d.bg_alpha = 170;
        d.width = 24, d.height = 24;
        for (int i = 0; i < 4; i++) d.margin[i] = 10;
        quit->focusable = 1;
        var action(VAR_DICT, 0);
        action["type"] = var("quit");
        quit->on_click = action;
        root.add(quit, 0, 0);
    }

    std::string bar = str_replace(
        "<table width='100%'><tr><td><input type='button' value='Back' onclick='back' width=$WIDTH  class='tiny1' />",
        "$WIDTH", std::to_string(sw - 10));
    Widget* w = html2gui(bar, var(VAR_DICT, 0));
    w->style.declared().width = (float)sw;
    root.add(w, 0, sh - 44);
}

void MenusNews::paint() { menus_paint_common(root); }

void MenusNews::loop(float) { menus_loop_common(root); }

void MenusNews::event(Event e) {
    var action = root.event(&e);
    if (menus_tabs_handle(*game, e, action) == 1) return;
    _act(action);
}

void MenusNews::_act(var action) {
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return;
    if (action["type"].__str__() == "quit") {
        game->view.pop(2);
        return;
    }
    std::string value = _onclick_of(action);
    if (value.empty()) return;
    if (value == "back") {
        game->view.pop(2);
    } else if (value == "policy") {
        menus_open_policy(*game);
    } else {
        qel_log("value: %s\n", value.c_str());
        var parts = str_split(value, ":");
        std::string head = parts.__len__() > 0 ? parts[0].__str__() : std::string();
        if (head == "state") {
            // "state" with no screen after it is no link at all
            if (parts.__len__() > 1 && !parts[1].__str__().empty()) game->view.next(parts[1].__str__().c_str(), 2);
        } else if (head == "http" || head == "https") {
            game->video.open_url(value.c_str());
        }
    }
}

var MenusNews::call(var msg) {
    if (_content_of(msg, content)) init();
    return var();
}

// ---- error ------------------------------------------------------------------------------

MenusError::MenusError(GameParts* g) : game(g) {}

// A field to copy from is as wide as its text, within the screen: a focused
// field follows its caret to the end, so a narrower one cut off the start of
// an address.
static int _error_copy_width(const std::string& copy) {
    int need = (int)std::ceil(font_get_width(font_load("font-gui", 20), copy.c_str())) + 4;
    return std::clamp(need, 240, std::max(240, game_get_sw() - 60));
}

void MenusError::init() {
    root = Container();
    std::string m = "<table class='error'><tr><td><p width=240 align=center>" + text + "</p>";
    if (!copy.empty())
        m += "<tr><td><input type='text' name='copy' value=\"" + menus_html_escape(copy) + "\" width=" +
             std::to_string(_error_copy_width(copy)) + " />";
    m += "<tr><td><input type='button' value='Continue' onclick='continue'></table>";
    Box* box = new Box(html2gui(m, var(VAR_DICT, 0)));
    box->style.declared().width = (float)game_get_sw();
    box->style.declared().height = (float)game_get_sh();
    root.add(box, 0, 0);
}

void MenusError::paint() {
    // The screen below, darkened; with nothing below only the darkening shows.
    State* below = game->view.get_state(1);
    if (below && below != this)
        below->paint();
    else
        gfx_set_size(game_get_sw(), game_get_sh()), gfx_clear();
    gfx_ortho();
    glColor4ub(0, 0, 0, 170);
    gfx_img_blit(gfx_img_load("black"), 0, 0, (float)game_get_sw(), (float)game_get_sh());
    glColor4ub(255, 255, 255, 255);

    menus_paint_root(root);  // the common menu paint without its clear
}

void MenusError::loop(float) { menus_loop_common(root); }

void MenusError::event(Event e) {
    var action = root.event(&e);
    if (menus_tabs_handle(*game, e, action) == 1) return;
    if (action.__type__() == VAR_DICT && action.__has__(var("type")) && action["type"].__str__() == "onclick")
        game->view.pop(2);
}

var MenusError::call(var msg) {
    if (!_content_of(msg, text)) return var();
    copy = msg.__has__(var("copy")) ? msg["copy"].__str__() : std::string();
    init();
    return var();
}
