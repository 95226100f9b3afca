// game_web: the web request queue, the reply loop and dispatch, and the
// requests the game sends to the web API.
#include "web/game_web.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/game.h"
#include "mods/mods_api.h"   // mods_event
#include "ruvezor/util/qel_driver.h"  // driver_doc_load, driver_get_osinfo
#include "ruvezor/util/qel_gui.h"     // State::call
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_md5.h"
#include "ruvezor/util/qel_social.h"  // social_user_uuid, social_user_name
#include "ruvezor/util/qel_web.h"

// ==== module state ===================================================================

std::vector<WebRequest*> web_reqs;

static struct {
    std::string host;  // replaces the web host when not empty (a test server)
    int port = 0;
} _game_web;

static const char* const GAME_WEB_PATH = "/z2/api.php";
static const char* const GAME_WEB_PATH_DEBUG = "/z2/dev/api.php";

// Header values are read into buffers of this size.
enum { GAME_WEB_HEADER_MAX = 256 };
// An invalid reply's body is logged up to this many bytes.
enum { GAME_WEB_LOG_BODY_MAX = 1024 };

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

// The dict member, or none when v is not a dict or lacks it.
static var _game_web_member(var& v, const char* key) {
    if (v.__type__() != VAR_DICT || !v.__has__(var(key))) return var();
    return v[key];
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

std::string md5_digest(std::string text) {
    md5_state_s st;
    unsigned char digest[16];
    md5_init(&st);
    md5_append(&st, reinterpret_cast<const unsigned char*>(text.data()), (int)text.size());
    md5_finish(&st, digest);
    static const char hex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; i++) {
        out[(size_t)i * 2] = hex[digest[i] >> 4];
        out[(size_t)i * 2 + 1] = hex[digest[i] & 15];
    }
    return out;
}

std::string game_core_request(Game& game, WebRequest&, std::string action) {
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
        {"&_suuid=", social_user_uuid()},
        {"&_sname=", social_user_name()},
        {"&_action=", action},
    };
    std::string path = builds_get_debug_server() ? GAME_WEB_PATH_DEBUG : GAME_WEB_PATH;
    path += "?";
    for (const auto& f : fields) path += f.first + WebRequest::urlencode(f.second);
    return path;
}

WebRequest* game_web_request(Game& game, const std::string& action) {
    WebRequest* r = new WebRequest();
    r->path = "/";
    r->timeout = 30.0f;
    r->handle = nullptr;
    r->host = builds_get_debug_server() ? GAME_WEB_HOST_DEBUG : GAME_WEB_HOST;
    r->port = 80;
    r->path = game_core_request(game, *r, action);
    return r;
}

void game_web_login(Game& game) {
    game_settings_sync(game);
    memset(game.settings.uid, 0, sizeof(game.settings.uid));
    memset(game.settings.display_name, 0, sizeof(game.settings.display_name));
    WebRequest* r = game_web_request(game, "login");

    std::string sync = driver_doc_load("sync.dat");
    std::string friends = _game_web_join(_game_web_friend_list(), "\t");
    std::string rdata = json_encode(ext_store_web_data());
    qel_log("rdata: %s\n", rdata.c_str());
    r->body = "sync=" + WebRequest::urlencode(sync) + "&friends=" + WebRequest::urlencode(friends) +
              "&rdata=" + WebRequest::urlencode(rdata);
    game_web_queue(game, r);

    var msg(VAR_DICT, 0);
    msg["type"] = var("one_moment");
    game.view.state_call(msg);
}

void game_web_friends(Game& game) {
    std::vector<std::string> friends = _game_web_friend_list();
    if (friends.empty()) return;
    WebRequest* r = game_web_request(game, "friends");
    r->body = "&data=" + WebRequest::urlencode(_game_web_join(friends, "\t"));
    game_web_queue(game, r);
}

void game_web_store(Game& game) { game_web_queue(game, game_web_request(game, "store")); }

void game_web_receipts(Game& game) {
    WebRequest* r = game_web_request(game, "receipts");
    r->body = "&rdata=" + WebRequest::urlencode(json_encode(ext_store_web_data()));
    game_web_queue(game, r);
}

// ==== queue ==========================================================================

void game_web_set_host(const char* host, int port) {
    _game_web.host = host ? host : "";
    _game_web.port = port;
}

void game_web_queue(Game&, WebRequest* request) {
    if (!request) return;
    if (!_game_web.host.empty()) {
        request->host = _game_web.host;
        request->port = _game_web.port;
    }
    if (!request->handle) {
        request->handle = qel_web_create(request->host.c_str(), request->port, request->path.c_str(),
                                         request->body.data(), (int)request->body.size(),
                                         (int)request->timeout);
    }
    web_reqs.push_back(request);
}

// ==== replies ========================================================================

void game_web_error(Game& game, std::string text) {
    if (game.headless) return;
    game.view.push("menus_error", 2);
    State* top = game.view.get_state(0);
    if (!top) return;
    var msg(VAR_DICT, 0);
    msg["type"] = var("content");
    msg["value"] = var(text);
    top->call(msg);
}

void game_web_handle(Game& game, WebRequest* request) {
    std::string type = _game_web_header(request->handle, "X-Type");
    if (type == "login") {
        game_web_handle_login(game, request);
    } else if (type == "receipts") {
        var reply = _game_web_json(_game_web_body(request->handle));
        ext_store_web_receipts_callback(_game_web_member(reply, "valid"));
    } else if (type == "store") {
        ext_store_web_store_callback(_game_web_json(_game_web_body(request->handle)));
    }
    if (game.mods_engine) {
        var e(VAR_DICT, 0);
        e["type"] = var("api:" + type);
        e["value"] = var(_game_web_body(request->handle));
        mods_event(game, e);
    }
}

// Takes a finished request's answer: refuses, shows its error, or handles it.
static void _game_web_finish(Game& game, WebRequest* r) {
    WebHandle* h = r->handle;
    if (h->error) {
        qel_log("web_loop %p: failure\n", (void*)r);
        return;
    }
    std::string response = _game_web_header(h, "X-Response");
    if (response != "OK") {
        int n = std::min(h->body && h->body_len > 0 ? h->body_len : 0, (int)GAME_WEB_LOG_BODY_MAX);
        qel_log("web_loop %p: invalid response '%s' body %d '%.*s'\n", (void*)r, response.c_str(),
                qel_web_get_status(h), n, n ? h->body : "");
        return;
    }
    std::string error = _game_web_header(h, "X-Error");
    if (!error.empty()) {
        qel_log("web_loop %p: error '%s'\n", (void*)r, error.c_str());
        game_web_error(game, error);
        return;
    }
    game_web_handle(game, r);
}

void game_web_drop_all() {
    std::vector<WebRequest*> left = std::move(web_reqs);
    web_reqs.clear();
    for (WebRequest* r : left) delete r;
}

void game_web_loop(Game& game) {
    size_t i = 0;
    while (i < web_reqs.size()) {
        WebRequest* r = web_reqs[i];
        if (!r || !r->handle || !qel_web_poll(r->handle)) {
            i++;
            continue;
        }
        // Out of the queue before handling: a handler may queue new requests.
        web_reqs.erase(web_reqs.begin() + (long)i);
        _game_web_finish(game, r);
        qel_web_destroy(r->handle);
        r->handle = nullptr;
        delete r;
    }
}
