// game_web_login: the answer to a login request: the account identity from its
// headers, the login key, and from its JSON body the synced documents, the
// rank, the receipt verdicts and the news shown over the main menu.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_settings_io.h"  // game_account_id_put
#include "web/game_web.h"
#include "world/zentar.h"  // zt_sat_int
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_web.h"
#include "shell/builds.h"

// ==== internal helpers ===============================================================

static std::string _login_header(WebHandle* h, const char* name) {
    char buf[256];
    qel_web_get_header(h, buf, sizeof(buf), name);
    buf[sizeof(buf) - 1] = 0;
    return buf;
}

// A whole decimal number that fits an int; 0 for anything else.
static int _login_number(const std::string& text) {
    if (text.empty()) return 0;
    errno = 0;
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (errno || end == text.c_str() || *end || v < INT_MIN || v > INT_MAX) return 0;
    return (int)v;
}

// The name as a field of `size` bytes holds it: cut before the character
// that would not fit whole, never inside one, or the name shown in the menus
// and sent to the hosts would end in a broken character.
static std::string _login_name_fit(const std::string& name, size_t size) {
    if (!size) return std::string();
    if (name.size() < size) return name;
    size_t n = size - 1;
    while (n > 0 && ((unsigned char)name[n] & 0xC0) == 0x80) n--;
    return name.substr(0, n);
}

// ==== login answer ===================================================================

void game_web_handle_login(GameParts& game, WebRequest* request) {
    WebHandle* h = request->handle;
    Settings& s = game.settings;

    // The record keeps what fits; hosts, the store and the login key get
    // the whole id, or two ids that begin alike would be one account.
    std::string uid = game_web_reply_uid(h);
    std::string name = _login_name_fit(_login_header(h, "X-Name"), sizeof(s.display_name));
    game_account_id_put(game, uid, true);
    str_put(s.display_name, sizeof(s.display_name), name);
    str_put(game.server, sizeof(game.server), _login_header(h, "X-Server"));
    str_put(game.token, sizeof(game.token), _login_header(h, "X-Token"));
    s.news = _login_number(_login_header(h, "X-News"));
    s.logged_in = 1;
    qel_log("login: %s %s\n", uid.c_str(), s.display_name);
    qel_log("login-server: %s\n", game.server);

    std::string key;
    if (s.name[0]) {
        memset(s.email, 0, sizeof(s.email));
        memset(s.qname, 0, sizeof(s.qname));
        std::string web_name(s.web_name, strnlen(s.web_name, sizeof(s.web_name)));
        key = md5_digest(uid + "|" + md5_digest(web_name));
    } else {
        static_assert(sizeof(s.qname) == sizeof(s.display_name), "the name is cut to fit both");
        str_put(s.qname, sizeof(s.qname), name);
        std::string udid(s.udid, strnlen(s.udid, sizeof(s.udid)));
        key = md5_digest(uid + "|" + udid);
    }
    str_put(s.session_key, sizeof(s.session_key), key);

    std::string body = h->body && h->body_len > 0 ? std::string(h->body, (size_t)h->body_len) : "";
    body = str_strip(body);
    if (body.size() <= 1) return;

    var reply;
    if (json_decode(reply, body.data(), body.size()) != 0) reply = var();
    std::string html = _game_web_member(reply, "html").__str__();
    game_web_handle_sync(game, _game_web_member(reply, "sync").__str__());
    game_web_handle_rank(game, zt_sat_int(_game_web_member(reply, "rank").__num__()));
    if (web_store_hooks.receipts) web_store_hooks.receipts(_game_web_member(reply, "valid"));
    // A player who has gone on to something else (a practice match) stays
    // there: the account is stored, the news waits for the menu.
    if (!game_web_waited(game, request)) {
        qel_log("login: stored; the player has left the screen that asked\n");
        return;
    }
    builds_game_web_handle_login_content(game, html);
}
