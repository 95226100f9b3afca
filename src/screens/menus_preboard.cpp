// menus_preboard: the policy and age gate shown before anything else on a
// fresh installation. The policy text comes from the web host, or from the
// data directory's "policy.txt" when the host can't be reached.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/builds.h"
#include "mods/mods_game.h"  // _get_game_version_info
#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_web.h"


MenusPreboard::MenusPreboard(GameParts* g) : game(g) {}

// The policy page: logo, the text in a white box, the two boxes, Continue.
static std::string _preboard_markup(const std::string& text) {
    std::string body = menus_html_escape(text);
    if (body.size() < 256) body += "<br/><br/><br/><br/><br/><br/><br/><br/>";
    // Small screens have no room for the spacer rows.
    std::string spacer = game_get_sh() > 320 ? "<tr><td>&nbsp;" : "";
    std::string m = "<table>";
    m += "<tr><td><img src='logo' width=240 />";
    m += spacer;
    m += "<tr><td><textbox width=280 height=120 font='font-gui2:16' color='#000000' background='white:ffffff'>";
    m += body;
    m += "</textbox>";
    m += spacer;
    m += "<tr><td align=center><table><tr><td align=left><input type='checkbox' width=64 name='age' /><td>&nbsp;"
         "&nbsp;<td align=left><p align=center width=220>I certify that I am at least 16 years of age</p><tr><td "
         "align=left><input type='checkbox' width=64 name='tos' /><td>&nbsp;&nbsp;<td align=left><p align=center "
         "width=220>I agree to the terms of service</p></table>";
    m += spacer;
    m += "<tr><td><table><tr><td><input type='button' class='button' icon='icon-review' onclick='continue'  "
         "width=140 ><h3>Continue</h3></input>";
    m += "</table></table>";
    return str_replace(m, "$VERSION", _get_game_version_info());
}

// A box of the screen's size around w, appended to root.
static void _preboard_fill(Container& root, Widget* w) {
    Box* box = new Box(w);
    box->style.declared().width = (float)game_get_sw();
    box->style.declared().height = (float)game_get_sh();
    root.add(box, 0, 0);
}

void MenusPreboard::init() {
    if (first) {
        first = 0;
        WebServer server = game_web_server(game);
        request.host = server.host;
        request.port = server.port;
        request.path = "/z2/preboard.php";
        request.timeout = 5.0f;
        if (!request.handle)
            request.handle = qel_web_create(request.host.c_str(), request.port, request.path.c_str(),
                                            request.body.c_str(), (int)request.body.size(), 5);
    }

    root = Container();

    if (!loaded) {
        int font = font_load("font-gui", 20);
        font_set_margins(font, 0.0625f, -0.0625f, -0.0625f, 0.0625f);  // top, right, bottom, left
        Label* label = new Label(font, text.c_str());
        label->style.declared().align = 0;
        _preboard_fill(root, label);
        return;
    }
    _preboard_fill(root, html2gui(_preboard_markup(text), var(VAR_DICT, 0)));
}

void MenusPreboard::paint() { menus_paint_common(root); }

void MenusPreboard::loop(float) {
    menus_loop_common(root);

    if (request.handle && qel_web_poll(request.handle)) {
        WebHandle* h = request.handle;
        int status = qel_web_get_status(h);
        if (!h->error && status == 200) {
            text = str_strip(h->body && h->body_len > 0 ? std::string(h->body, (size_t)h->body_len) : "");
        } else {
            char line[64];
            snprintf(line, sizeof(line), "HTTP Error Code %d.", status);
            text = str_strip(driver_data_load("policy.txt")) + "\n\n" + line;
        }
        loaded = 1;
        qel_web_destroy(h);
        request.handle = nullptr;
        init();
    }

    // The loading message grows a dot now and then while we wait.
    if (!loaded && rand() % 30 == 0) {
        text += ".";
        init();
    }
}

void MenusPreboard::event(Event e) {
    if (e.type == 6 && e.key == 5) game->quit = 1;  // the event still reaches the page
    _act(root.event(&e));
}

int MenusPreboard::_act(var action) {
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return 0;
    if (action["type"].__str__() != "onclick") return 0;
    std::string value = action.__has__(var("value")) ? action["value"].__str__() : std::string();

    if (value == "policy") {
        std::string url = game_web_url(game, "/policy/");
        game->video.open_url(url.c_str());
        return 1;
    }
    if (value == "continue") {
        if (loaded != 1) return 0;  // nothing to agree to yet
        preboard_set(-1);
        Widget* age = root.find("age");
        Widget* tos = root.find("tos");
        if (age && tos && age->get_value_i() == 1 && tos->get_value_i() == 1) preboard_set(1);
        game->view.next("menus_main", 2);
        return 1;
    }
    return 0;
}
