// game_web: the web request queue, the reply loop and dispatch, and the
// requests the game sends to the web API.
#include "web/game_web.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "mods/mods_api.h"   // mods_event
#include "ruvezor/util/qel_driver.h"  // driver_doc_load, driver_get_osinfo
#include "ruvezor/util/qel_gui.h"     // State::call
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_md5.h"
#include "ruvezor/util/qel_social.h"  // social_user_uuid, social_user_name
#include "ruvezor/util/qel_web.h"
#include "shell/builds.h"
#include "shell/game_settings_io.h"

// ==== module state ===================================================================

_GameWebData _game_web;

static const char* const GAME_WEB_PATH = "/z2/api.php";
static const char* const GAME_WEB_PATH_DEBUG = "/z2/dev/api.php";

// Header values are read into buffers of this size.
enum { GAME_WEB_HEADER_MAX = 256 };
// An invalid reply's body is logged up to this many bytes.
enum { GAME_WEB_LOG_BODY_MAX = 1024 };

// A request that changes the account: what its failure puts back. A login
// clears the account id and display name while it waits; "Create ZentarID"
// is sent with the form as the player typed it.
class WebAccountRequest : public WebRequest {
public:
    bool has_id = false;  // uid and display_name hold the cleared account
    std::string uid, display_name;
    bool has_form = false;  // form holds the fields from before the new ZentarID
    WebAccountForm form;
};

// ==== internal helpers ===============================================================

static std::string _game_web_header(WebHandle* h, const char* name) {
    char buf[GAME_WEB_HEADER_MAX];
    qel_web_get_header(h, buf, sizeof(buf), name);
    buf[sizeof(buf) - 1] = 0;
    return buf;
}

static std::string _game_web_body(WebHandle* h) {
    if (!h->body || h->body_len <= 0) return std::string();
    return std::string(h->body, (size_t)h->body_len);
}

// A settings text field, which a damaged file may leave unterminated.
static std::string _game_web_field(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

var _game_web_member(const var& v, const char* key) {
    if (v.__type__() != VAR_DICT || !v.__has__(var(key))) return var();
    return const_cast<var&>(v).__get__(var(key));
}

// Decodes stripped text; none when it is not JSON (the decoder logs why).
static var _game_web_json(const std::string& text) {
    std::string s = str_strip(text);
    var out;
    if (json_decode(out, s.data(), s.size()) != 0) return var();
    return out;
}

// The friend list: this edition has no source for one.
static std::vector<std::string> _game_web_friend_list() {
    std::vector<std::string> friends;
    std::sort(friends.begin(), friends.end());
    qel_log("player has %d friends\n", (int)friends.size());
    return friends;
}

static std::string _game_web_join(const std::vector<std::string>& list, const char* sep) {
    std::string out;
    for (size_t i = 0; i < list.size(); i++) {
        if (i) out += sep;
        out += list[i];
    }
    return out;
}

// ==== the web server =================================================================

bool game_web_server_parse(const std::string& text, WebServer& out) {
    std::string host = text;
    int port = 80;
    size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        std::string digits = text.substr(colon + 1);
        host = text.substr(0, colon);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = atoi(digits.c_str());
        if (port < 1 || port > 65535) return false;
    }
    // The HTTP client takes IPv4 names and addresses of at most 255 characters.
    if (host.empty() || host.size() > 255 || host.find_first_of(" \t\r\n/:@?#") != std::string::npos)
        return false;
    out.host = host;
    out.port = port;
    return true;
}

const char* const GAME_WEB_HOST = "api.zentar2.net";
const char* const GAME_WEB_HOST_DEBUG = "dev.zentar2.net";

WebStoreHooks web_store_hooks{};

// What a request tells the server of the store's receipts; {} without a store.
static var _game_web_store_data() { return web_store_hooks.data ? web_store_hooks.data() : var(VAR_DICT, 0); }

WebServer game_web_server(const GameParts* game) {
    WebServer out;
    if (game && game->web_given) {
        std::string given = _game_web_field(game->web, sizeof(game->web));
        if (!given.empty() && game_web_server_parse(given, out)) return out;
    }
    out.host = builds_get_debug_server() ? GAME_WEB_HOST_DEBUG : GAME_WEB_HOST;
    out.port = 80;
    return out;
}

bool game_web_server_custom(const GameParts* game) {
    WebServer used = game_web_server(game), usual = game_web_server(nullptr);
    return used.host != usual.host || used.port != usual.port;
}

std::string game_web_server_name(const WebServer& server) {
    return server.port == 80 ? server.host : server.host + ":" + std::to_string(server.port);
}

std::string game_web_url(const GameParts* game, const char* path) {
    return "http://" + game_web_server_name(game_web_server(game)) + (path ? path : "");
}

void game_web_configure(GameParts& game, const char* text) {
    std::string t = text ? text : "";
    WebServer server;
    game.web_given = 0;
    if (t.empty()) {
        memset(game.web, 0, sizeof(game.web));
        qel_log("web server: default %s\n", GAME_WEB_HOST);
        return;
    }
    if (t.size() >= sizeof(game.web) || !game_web_server_parse(t, server)) {
        memset(game.web, 0, sizeof(game.web));
        qel_log("-web: '%s' is not HOST[:PORT]; the default web server is used\n", t.c_str());
        return;
    }
    str_put(game.web, sizeof(game.web), t);
    game.web_given = 1;
    qel_log("web server: %s, for this run\n", t.c_str());
}

// ==== requests =======================================================================

WebRequest::~WebRequest() {
    if (handle) qel_web_destroy(handle);
    handle = nullptr;
}

std::string WebRequest::urlencode(std::string text) {
    int n = (int)text.size();
    std::string out((size_t)qel_web_urlencode_len(text.data(), n), '\0');
    qel_web_urlencode(out.data(), (int)out.size(), text.data(), n);
    out.resize(strnlen(out.c_str(), out.size()));
    return out;
}

std::string md5_digest(std::string text) { return md5_hex(text.data(), text.size()); }

std::string game_core_request(GameParts& game, WebRequest&, std::string action) {
    game_settings_sync(game);
    Settings& s = game.settings;
    const std::pair<const char*, std::string> fields[] = {
        {"&_udata=", ""},
        {"&_vinfo=", _get_game_version_info()},
        {"&_version=", "1"},
        {"&_osinfo=", driver_get_osinfo()},
        {"&_lid=", _game_web_field(s.lid, sizeof(s.lid))},
        {"&_name=", _game_web_field(s.web_name, sizeof(s.web_name))},
        {"&_token=", _game_web_field(s.web_token, sizeof(s.web_token))},
        {"&_passwd=", _game_web_field(s.web_passwd, sizeof(s.web_passwd))},
        {"&_udid=", _game_web_field(s.udid, sizeof(s.udid))},
        // Asking the social layer starts it, which a headless host never does.
        {"&_suuid=", game.headless ? std::string() : social_user_uuid()},
        {"&_sname=", game.headless ? std::string() : social_user_name()},
        {"&_action=", action},
    };
    std::string path = builds_get_debug_server() ? GAME_WEB_PATH_DEBUG : GAME_WEB_PATH;
    path += "?";
    for (const auto& f : fields) path += f.first + WebRequest::urlencode(f.second);
    return path;
}

static void _game_web_fill(GameParts& game, WebRequest& r, const std::string& action) {
    WebServer server = game_web_server(&game);
    r.path = "/";
    r.timeout = GAME_WEB_TIMEOUT;
    r.deadline = _game_web.deadline;
    r.handle = nullptr;
    r.host = server.host;
    r.port = server.port;
    r.action = action;
    r.path = game_core_request(game, r, action);
}

// The player waits on the screen that is current once the moves asked for
// so far are made (the main menu opens the login page and logs in at once).
static void _game_web_for_player(GameParts& game, WebRequest& r) {
    r.waiter = WebFor::player;
    r.screen = GameView::find_state(game.view.dest().c_str());
}

void game_web_set_deadline(float seconds) { _game_web.deadline = seconds; }

WebRequest* game_web_request(GameParts& game, const std::string& action) {
    WebRequest* r = new WebRequest();
    _game_web_fill(game, *r, action);
    return r;
}

static std::string _game_web_data_body(const std::string& data) { return "&data=" + WebRequest::urlencode(data); }

WebRequest* game_web_action(GameParts& game, const std::string& action, const std::string& data) {
    WebRequest* r = game_web_request(game, action);
    r->body = _game_web_data_body(data);
    return r;
}

void game_web_create(GameParts& game, const std::string& data, const WebAccountForm& before) {
    WebAccountRequest* r = new WebAccountRequest();
    _game_web_fill(game, *r, "create");
    r->body = _game_web_data_body(data);
    r->has_form = true;
    r->form = before;
    _game_web_for_player(game, *r);
    game_web_queue(game, r);
}

void game_web_login(GameParts& game) {
    game_settings_sync(game);
    Settings& s = game.settings;
    WebAccountRequest* r = new WebAccountRequest();
    r->has_id = true;
    r->uid = game_account_id(game);
    r->display_name = _game_web_field(s.display_name, sizeof(s.display_name));
    memset(s.uid, 0, sizeof(s.uid));
    memset(s.display_name, 0, sizeof(s.display_name));
    _game_web_fill(game, *r, "login");
    _game_web_for_player(game, *r);

    std::string sync = driver_doc_load("sync.dat");
    std::string friends = _game_web_join(_game_web_friend_list(), "\t");
    std::string rdata = json_encode(_game_web_store_data());
    qel_log("rdata: %s\n", rdata.c_str());
    r->body = "sync=" + WebRequest::urlencode(sync) + "&friends=" + WebRequest::urlencode(friends) +
              "&rdata=" + WebRequest::urlencode(rdata);
    game_web_queue(game, r);

    var msg(VAR_DICT, 0);
    msg["type"] = var("one_moment");
    game.view.state_call(msg);
}

void game_web_friends(GameParts& game) {
    std::vector<std::string> friends = _game_web_friend_list();
    if (friends.empty()) return;
    game_web_queue(game, game_web_action(game, "friends", _game_web_join(friends, "\t")));
}

void game_web_store(GameParts& game) { game_web_queue(game, game_web_request(game, "store")); }

void game_web_receipts(GameParts& game) {
    WebRequest* r = game_web_request(game, "receipts");
    r->body = "&rdata=" + WebRequest::urlencode(json_encode(_game_web_store_data()));
    game_web_queue(game, r);
}

// ==== queue ==========================================================================

void game_web_queue(GameParts&, WebRequest* request) {
    if (!request) return;
    if (!request->handle) {
        request->handle = qel_web_create(request->host.c_str(), request->port, request->path.c_str(),
                                         request->body.data(), (int)request->body.size(),
                                         (int)request->timeout);
        qel_web_set_limit(request->handle, (int)request->deadline);
    }
    _game_web.web_reqs.push_back(request);
}

// ==== replies ========================================================================

void game_web_error(GameParts& game, std::string text) {
    if (game.headless) return;
    // A second failure in the same moment changes the text, not the stack.
    if (strcmp(game.view.cur, "menus_error") != 0) game.view.push("menus_error", 2);
    State* top = game.view.get_state(0);
    if (!top) return;
    var msg(VAR_DICT, 0);
    msg["type"] = var("content");
    msg["value"] = var(text);
    top->call(msg);
}

void game_web_handle(GameParts& game, WebRequest* request) {
    std::string type = _game_web_header(request->handle, "X-Type");
    if (game.headless) {
        // A host keeps its own mod and has no screens: the reply is its mod's.
        WebHandle* h = request->handle;
        qel_log("web_loop %p: '%s' reply of %d bytes for the mod\n", (void*)request, type.c_str(),
                h->body && h->body_len > 0 ? h->body_len : 0);
    } else if (type == "login") {
        game_web_handle_login(game, request);
    } else if (type == "receipts") {
        var reply = _game_web_json(_game_web_body(request->handle));
        if (web_store_hooks.receipts) web_store_hooks.receipts(_game_web_member(reply, "valid"));
    } else if (type == "store") {
        if (web_store_hooks.store) web_store_hooks.store(_game_web_json(_game_web_body(request->handle)));
    }
    if (game.mods_engine) {
        var e(VAR_DICT, 0);
        e["type"] = var("api:" + type);
        e["value"] = var(_game_web_body(request->handle));
        mods_event(game, e);
    }
}

bool game_web_waited(GameParts& game, const WebRequest* r) {
    return r && r->waiter == WebFor::player && r->screen && GameView::find_state(game.view.cur) == r->screen;
}

bool game_web_pending(const State* screen) {
    for (const WebRequest* r : _game_web.web_reqs)
        if (r && r->waiter == WebFor::player && r->screen == screen) return true;
    return false;
}

// Puts back what a failed login or creation changed: the account id and name
// a login cleared (unless an answer that came in since has set them), and
// the form fields a creation was sent with.
static void _game_web_account_undo(GameParts& game, WebRequest* r) {
    WebAccountRequest* a = dynamic_cast<WebAccountRequest*>(r);
    if (!a) return;
    Settings& s = game.settings;
    if (a->has_id && !s.uid[0] && !s.display_name[0]) {
        game_account_id_put(game, a->uid, false);
        str_put(s.display_name, sizeof(s.display_name), a->display_name);
    }
    if (a->has_form) {
        str_put(s.name, sizeof(s.name), a->form.name);
        str_put(s.passwd, sizeof(s.passwd), a->form.passwd);
        str_put(s.email, sizeof(s.email), a->form.email);
        game_settings_sync(game);
        var msg(VAR_DICT, 0);
        msg["type"] = var("account");
        game.view.state_call(msg);
    }
}

// A request that came to nothing: whoever waits on it is told, with the
// server's own words when it sent some.
static void _game_web_fail(GameParts& game, WebRequest* r, const std::string& error) {
    _game_web_account_undo(game, r);
    std::string text = error.empty() ? GAME_WEB_UNREACHABLE : error;
    if (r->waiter == WebFor::player && game_web_waited(game, r)) {
        game_web_error(game, text);
    } else if (r->waiter == WebFor::mod && game.mods_engine) {
        var e(VAR_DICT, 0);
        e["type"] = var("api:error");
        e["action"] = var(r->action);
        e["value"] = var(text);
        mods_event(game, e);
    } else {
        qel_log("web_loop %p: '%s' failed, nobody waits on it: %s\n", (void*)r, r->action.c_str(), text.c_str());
    }
}

static void _game_web_log_reply(WebRequest* r, const char* what, const std::string& response) {
    WebHandle* h = r->handle;
    int n = std::min(h->body && h->body_len > 0 ? h->body_len : 0, (int)GAME_WEB_LOG_BODY_MAX);
    qel_log("web_loop %p: %s '%s' body %d '%.*s'\n", (void*)r, what, response.c_str(), qel_web_get_status(h), n,
            n ? h->body : "");
}

std::string game_web_reply_uid(WebHandle* h) {
    std::string buf(GAME_ACCOUNT_ID_MAX + 2, '\0');
    qel_web_get_header(h, buf.data(), (int)buf.size(), "X-UID");
    buf.resize(strnlen(buf.c_str(), buf.size()));
    return buf;
}

// A login answer is read only when it names an account the game can keep
// whole and its body is a JSON object; anything else would store an empty
// or cut account (the next Quick Play another one, or two accounts one) or
// leave the player waiting.
static bool _game_web_login_readable(WebHandle* h) {
    std::string uid = game_web_reply_uid(h);
    if (!uid.empty() && !game_account_id_ok(uid))
        qel_log("web_loop: the login's account id is longer than %d bytes or holds control characters\n",
                (int)GAME_ACCOUNT_ID_MAX);
    return game_account_id_ok(uid) && _game_web_json(_game_web_body(h)).__type__() == VAR_DICT;
}

// Takes a finished request's answer: refuses, shows its error, or handles it.
static void _game_web_finish(GameParts& game, WebRequest* r) {
    WebHandle* h = r->handle;
    if (h->error) {
        qel_log("web_loop %p: failure\n", (void*)r);
        _game_web_fail(game, r, "");
        return;
    }
    std::string response = _game_web_header(h, "X-Response");
    std::string error = _game_web_header(h, "X-Error");
    if (response != "OK") {
        _game_web_log_reply(r, "invalid response", response);
        _game_web_fail(game, r, error);
        return;
    }
    if (!error.empty()) {
        qel_log("web_loop %p: error '%s'\n", (void*)r, error.c_str());
        _game_web_fail(game, r, error);
        return;
    }
    if (_game_web_header(h, "X-Type") == "login" && !_game_web_login_readable(h)) {
        _game_web_log_reply(r, "unreadable login", response);
        _game_web_fail(game, r, "");
        return;
    }
    game_web_handle(game, r);
}

void game_web_drop_all() {
    std::vector<WebRequest*> left = std::move(_game_web.web_reqs);
    _game_web.web_reqs.clear();
    for (WebRequest* r : left) delete r;
}

void game_web_loop(GameParts& game) {
    size_t i = 0;
    while (i < _game_web.web_reqs.size()) {
        WebRequest* r = _game_web.web_reqs[i];
        if (!r || !r->handle || !qel_web_poll(r->handle)) {
            i++;
            continue;
        }
        // Out of the queue before handling: a handler may queue new requests.
        _game_web.web_reqs.erase(_game_web.web_reqs.begin() + (long)i);
        _game_web_finish(game, r);
        qel_web_destroy(r->handle);
        r->handle = nullptr;
        delete r;
    }
}
