// menus_login: Quick Play and ZentarID login, and ZentarID creation.
#include "screens/menus_login.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "shell/builds.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "shell/game_settings_io.h"
#include "web/game_web.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "screens/menus_settings.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_log.h"

// ---- shared with the news screen ------------------------------------------------------

std::string menus_web_host() { return game_web_server(game_parts()).host; }

std::string menus_server_note() {
    GameParts* game = game_parts();
    if (!game_web_server_custom(game)) return "";
    return "<tr><td><p width=290 align=center>Account server: " +
           menus_html_escape(game_web_server_name(game_web_server(game))) + "</p><tr><td><p>&nbsp;</p>";
}

std::string menus_policy_note() {
    return std::string("<tr><td><table><tr><td><p width=200 align=center>* By playing you agree to the ") +
           str_upper(menus_web_host()) +
           " policies.</p><td><input type='button' onclick='policy' class='button2' width=100 "
           "tabindex=-2><h3>View Policies</h3></input></table>";
}

void menus_open_policy(GameParts& game) {
    std::string url = game_web_url(&game, "/classic/policy.html");
    game.video.open_url(url.c_str());
}

std::string menus_cut_utf8(const std::string& text, size_t max) {
    if (text.size() <= max) return text;
    size_t n = max;
    // back off continuation bytes so a character is not cut in two
    while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80) n--;
    return text.substr(0, n);
}

static int _hex_digit(char c) {
    if (c >= 'A' && c <= 'F') c = (char)(c - 'A' + 'a');
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

std::string menus_create_data(const char* email, const char* passwd, const char* udid) {
    std::string h = md5_digest(passwd ? passwd : "");
    std::string id = udid ? udid : "";
    size_t n = std::min({h.size(), id.size(), (size_t)255, (size_t)32});
    std::string p;
    for (size_t i = 0; i < n; i++) p += "0123456789abcdef"[_hex_digit(h[i]) ^ _hex_digit(id[i])];
    var data(VAR_DICT, 0);
    data["email"] = var(email ? email : "");
    data["passwd"] = var(p);
    return json_encode(data);
}

// A settings text field as a string; the record's fields need not end in a zero.
template <size_t N>
static std::string _field(const char (&f)[N]) {
    return std::string(f, strnlen(f, N));
}

// ---- login ------------------------------------------------------------------------------

MenusLogin::MenusLogin(GameParts* g) : game(g) {}

static void _login_page(Container& root, const std::string& markup) {
    Widget* page = html2gui(markup, var(VAR_DICT, 0));
    root.add(menus_scrollbox(page, game_get_sw(), -88), 0, 44);
}

static void _login_set(Container& root, const char* name, const std::string& value) {
    if (Widget* w = root.find(name)) w->set_value(var(value));
}

void MenusLogin::_fill() {
    Settings& s = game->settings;
    _login_set(root, "qname", _field(s.qname));
    _login_set(root, "name", _field(s.name));
    _login_set(root, "passwd", _field(s.passwd));
}

void MenusLogin::init() {
    driver_keyboard_hide();
    Settings& s = game->settings;
    if (!s.qname[0]) str_put(s.qname, menus_cut_utf8(namegen(), 63));

    root = Container();
    menus_tabs_init_popup(*game, root, "settings", 1);
    settings_tabs_init(*game, root, "account");

    std::string m = "<table>" + menus_server_note();
    if (!s.name[0]) {
        m += "<tr><td align=left><h2 class='header'>Quick Play</h2></td><tr><td><table class='box' "
             "width='290'><tr><td><table><tr><td width=100><p>Auto-Name</p><td><input type='text' name='qname' "
             "width=160 tabindex=10 maxlength=16 background='gui-input1:#777777' disabled=1/></table><tr><td>"
             "<table><tr><td><img src='blank' width=100 height=1/><td><input type='button' onclick='qlogin' "
             "width=100 tabindex=30 class='button1' ><h3>Play*</h3></input></table></table><tr><td><p>&nbsp;"
             "</p><tr><td><p width=300 align=center>To sign in on multiple devices and get a<br/>custom name, "
             "upgrade to a ZentarID.</p><tr><td><p>&nbsp;</p>";
    }
    m += "<tr><td align=left><h2 class='header'>ZentarID</h2></td><tr><td><table class='box' width='290'><tr>"
         "<td><table><tr><td width=100><p>ZentarID</p><td><input type='text' name='name' width=160 tabindex=10 "
         "maxlength=12 /><tr><td width=100><p>Password</p><td><input type='password' name='passwd' width=160 "
         "tabindex=20 maxlength=63 /></table><tr><td><table><tr>";
    // Only an account without an id can still become a named one.
    if (!s.name[0] || !s.uid[0])
        m += "<td><input type='button' class='button2' onclick='create' width=100 tabindex=-1 ><h3 "
             "align=center>Create ZentarID</h3></input>";
    else
        m += "<td><img src='blank' width=100 height=1/>";
    m += "<td><input type='button' onclick='login' width=100 tabindex=30 class='button1' ><h3>Play*</h3>"
         "</input></table></table><tr><td><p>&nbsp;</p>";
    m += menus_policy_note() + "</table>";

    _login_page(root, m);
    _fill();
    if (game_web_pending(this)) one_moment();  // the login still runs
}

void MenusLogin::deinit() { game->settings.save(); }

void MenusLogin::paint() { menus_paint_common(root); }

void MenusLogin::loop(float) {
    menus_loop_common(root);

    Settings& s = game->settings;
    struct Bound {
        const char* name;
        char* field;
    } bound[] = {{"name", s.name}, {"email", s.email}, {"passwd", s.passwd}};
    static_assert(sizeof(s.name) == 64 && sizeof(s.email) == 64 && sizeof(s.passwd) == 64);
    for (const Bound& b : bound) {
        Widget* w = root.find(b.name);
        if (!w) continue;
        const char* raw = w->get_value_s();
        // compared as it would be stored, so an over-long paste settles after one frame
        std::string value = menus_cut_utf8(str_strip(raw ? raw : ""), 63);
        if (value == std::string(b.field, strnlen(b.field, 64))) continue;
        memset(b.field, 0, 64);
        memcpy(b.field, value.data(), value.size());
        s.logged_in = 0;
        game_settings_sync(*game);
        if (strcmp(b.name, "name") == 0 && value.empty()) init();  // brings Quick Play back
    }
}

void MenusLogin::event(Event e) {
    var action = root.event(&e);
    if (menus_tabs_handle(*game, e, action) == 1) return;
    _act(action);
}

void MenusLogin::_act(var action) {
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return;
    if (action["type"].__str__() != "onclick") return;
    std::string value = action.__has__(var("value")) ? action["value"].__str__() : std::string();

    if (value == "login" || value == "qlogin") {
        game->do_login();
    } else if (value == "policy") {
        menus_open_policy(*game);
    } else if (value == "create") {
        game->view.next("menus_create", 2);
    } else if (value == "create_do") {
        Settings& s = game->settings;
        std::string data = menus_create_data(_field(s.email).c_str(), _field(s.passwd).c_str(),
                                             _field(s.udid).c_str());
        game_web_create(*game, data, before);
        one_moment();
    } else if (value == "beta") {
        std::string url = game_web_url(game, "/z2/beta.php");
        game->video.open_url(url.c_str());
    }
}

var MenusLogin::call(var msg) {
    std::string type = msg.__type__() == VAR_DICT && msg.__has__(var("type")) ? msg["type"].__str__() : "";
    if (type == "one_moment") one_moment();
    // The stored account changed under the form (a refused creation put it
    // back): the page shows it, or the form would copy the old text back.
    if (type == "account") init();
    return var();
}

void MenusLogin::one_moment() {
    Box* box = new Box(html2gui("<table class='box'><tr><td><p width=240 align=center>&nbsp;<br/>One moment..."
                                "<br/>&nbsp;</p></table>",
                                var(VAR_DICT, 0)));
    StyleBlock& d = box->style.declared();
    d.bg_image = gfx_img_load("black");
    d.bg_alpha = 170;
    d.width = (float)game_get_sw();
    d.height = (float)(game_get_sh() - 88);
    box->focusable = 1;
    root.add(box, 0, 44);
    box->_focus();  // typed keys no longer reach the form
}

// ---- create -----------------------------------------------------------------------------

MenusCreate::MenusCreate(GameParts* g) : MenusLogin(g) {}

void MenusCreate::init() {
    driver_keyboard_hide();
    root = Container();
    menus_tabs_init_popup(*game, root, "settings", 1);
    settings_tabs_init(*game, root, "account");

    // What a creation the server refuses puts back.
    const Settings& s = game->settings;
    before = WebAccountForm{_field(s.name), _field(s.passwd), _field(s.email)};

    std::string m =
        "<table>" + menus_server_note() +
        "<tr><td class='box2'><p width=280 align=center>Your Zencoins and progress will be transferred "
        "from your Auto-Name account to your ZentarID account.</p><tr><td><p>&nbsp;</p><tr><td align=left><h2 "
        "class='header'>Create ZentarID</h2></td><tr><td><table class='box' width=290><tr><td><table><tr><td "
        "width=100><p>Auto-Name</p><td><input type='text' name='qname' width=160 tabindex=10 maxlength=16 "
        "background='gui-input1:#777777' disabled=1/><tr><td width=100><p align=center>ZentarID<br/>(new "
        "name)</p><td><input type='text' name='name' width=160 tabindex=20 maxlength=12 /><tr><td "
        "width=100><p>Password</p><td><input type='password' name='passwd' width=160 tabindex=30 "
        "maxlength=63 /><tr><td width=100><p>E-mail</p><td><input type='text' name='email' width=160 "
        "tabindex=40 maxlength=63 /></table><tr><td><table><tr><td><img src='blank' width=100 height=1/><td>"
        "<input type='button' onclick='create_do' width=100 tabindex=-1 ><h3 align=center>Create "
        "ZentarID*</h3></input></table></table><tr><td><p>&nbsp;</p>";
    m += menus_policy_note() + "</table>";

    _login_page(root, m);
    _fill();
    if (Widget* w = root.find("email")) w->set_value(var(_field(game->settings.email)));
    if (game_web_pending(this)) one_moment();  // the creation still runs
}
