// builds_app: the build switches that need the whole game: the extra screen
// this edition registers, its first screen, the store address and the
// external calls mods may make.
#include "app/builds_app.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/game.h"
#include "ruvezor/util/qel_driver.h"  // Steam identity and overlay
#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_json.h"    // external call arguments
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_social.h"  // invite, share
#include "ruvezor/util/qel_var.h"
#include "screens/menus_webiap.h"     // the web purchase waiting screen
#include "shell/game_settings_io.h"   // game_account_id
#include "web/game_web.h"              // md5_digest, WebRequest::urlencode: the store address
#include "world/preboard.h"           // preboard_get: the first screen

// ==== switches ====================================================================

void builds_init(Game& game) { GameView::register_state("menus_webiap", new MenusWebIAP(&game.parts)); }

void builds_game_init_start(Game& game) {
    game.view.next(preboard_get() == -2 ? "menus_preboard" : "menus_main", 2);
}

// ==== store ======================================================================

// Settings texts are fixed arrays that a damaged file may leave unterminated.
static std::string _builds_field(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

std::string builds_store_url(Game& game) {
    std::string uid = game_account_id(game);
    std::string udid = _builds_field(game.settings.udid, sizeof(game.settings.udid));
    std::string url = game_web_url(&game.parts, "/z2/store.php?");
    url += "&uid=" + uid;
    url += "&token=" + md5_digest(uid + "|" + udid);
    return url;
}

// ==== external calls =============================================================

// The JSON argument of a call as a dict; none (and one log line) otherwise.
static bool _builds_json_dict(const std::string& name, const std::string& value, var& out) {
    out = var();
    if (json_decode(out, value.data(), value.size()) != 0 || out.__type__() != VAR_DICT) {
        qel_log("%s: argument is not a JSON object\n", name.c_str());
        return false;
    }
    return true;
}

static std::string _builds_text(var& d, const char* key) {
    return d.__has__(var(key)) ? d[key].__str__() : std::string();
}

// A member that must be a finite number; false (and one log line) otherwise.
static bool _builds_number(const std::string& name, var& d, const char* key, double& out) {
    out = 0;
    if (!d.__has__(var(key)) || d[key].__type__() != VAR_NUMBER || !std::isfinite(d[key].__num__())) {
        qel_log("%s: \"%s\" is not a number\n", name.c_str(), key);
        return false;
    }
    out = d[key].__num__();
    return true;
}

// The mod keeps the unrotated values in the "_" fields; the shown ones are
// made from them, squashed vertically for a tilted view.
static void _builds_map_rotate(Game& game, double aa, double zscale, double zstar, double t) {
    float s = (float)sin(aa), c = (float)cos(aa);
    float zs = (float)zscale;
    Zentar& w = game.world;
    int top = w.top < ZT_ITEMS ? w.top : ZT_ITEMS;
    for (int n = 1; n < top; n++) {
        Item& it = w.items[n];
        if (!it.in_use || !it.has_xflag) continue;
        it.position_x = it._position_x * c - it._position_y * s;
        it.position_y = (it._position_x * s + it._position_y * c) * zs;
        if (it.has_draw && (it.draw_type == 'L' || it.draw_type == 'T')) {
            it.draw_x2 = it._draw_x2 * c - it._draw_y2 * s;
            it.draw_y2 = (it._draw_x2 * s + it._draw_y2 * c) * zs;
            if (it.draw_type == 'T') {
                it.draw_x3 = it._draw_x3 * c - it._draw_y3 * s;
                it.draw_y3 = (it._draw_x3 * s + it._draw_y3 * c) * zs;
            }
        }
        if (it.has_planet) {
            it.planet_r = (float)(zstar * it.ships_production);
            // Neighbouring stars spin in opposite senses.
            float da = (float)(0.05 * t);
            it.image_a += (n % 2) ? -da : da;
        }
    }
}

static void _builds_iap(Game& game) {
    qel_log("IAP:USING_STEAM:BEGIN\n");
    std::string url = builds_store_url(game);
    if (!driver_steam_is_init()) {
        qel_log("IAP:USING_STEAM:FALLBACK\n");
        game.view.push("menus_webiap", 2);
        game.video.open_url(url.c_str());
        return;
    }
    qel_log("IAP:USING_STEAM:OVERLAY\n");
    url += "&target=steam&steamid=" + WebRequest::urlencode(driver_steam_get_uid());
    if (driver_open_url_steam(url.c_str()) == -1) {
        qel_log("IAP:USING_STEAM:WEB\n");
        game.view.push("menus_webiap", 2);
        game.video.open_url(url.c_str());
    }
}

// A decimal rank; text that isn't one, or is out of range, gives no call.
static bool _builds_rank(const std::string& value, int& out) {
    errno = 0;
    char* end = nullptr;
    long v = strtol(value.c_str(), &end, 10);
    if (end == value.c_str() || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    out = (int)v;
    return true;
}

// A mod may ask for a page every frame, and each one opens a browser (and
// the store's also a screen): one of each kind a second is let through.
static bool _builds_page_allowed(QelPerSecond& pages, const std::string& name) {
    static QelLogLimit refused("mods", "refused pages were not logged");
    long now = static_cast<long>(driver_timer_get_ticks() / 1000);
    if (pages.take(now)) return true;
    if (refused.allow(now)) qel_log("%s: refused, one was opened less than a second ago\n", name.c_str());
    return false;
}

// A host's messages reach the calls below through the online play script,
// as many and as long as it likes: the lines that show their values are
// limited and cut, or a host could fill its players' disks with them.
static bool _builds_host_line_allowed() {
    static QelLogLimit lines("mods", "lines about ads and ranks were not logged");
    return lines.allow(static_cast<long>(driver_timer_get_ticks() / 1000));
}

std::string builds_mods_api_ext_call(Game& game, std::string name, std::string value) {
    // A rank is logged and sets achievements: twenty a second are plenty.
    static QelPerSecond pages(1), stores(1), ranks(20);
    if (name == "zentar2:ext:invite") {
        social_friends_invite();
    } else if (name == "zentar2:ext:share") {
        var d;
        if (!_builds_json_dict(name, value, d)) return "";
        std::string text = _builds_text(d, "text"), url = _builds_text(d, "url");
        social_share(text.c_str(), url.c_str(), "");
    } else if (name == "zentar2:map_rotate") {
        var d;
        double aa, zscale, zstar, t;
        if (!_builds_json_dict(name, value, d)) return "";
        if (!_builds_number(name, d, "aa", aa) || !_builds_number(name, d, "zscale", zscale) ||
            !_builds_number(name, d, "zstar", zstar) || !_builds_number(name, d, "t", t))
            return "";
        _builds_map_rotate(game, aa, zscale, zstar, t);
    } else if (name == "zentar2:ads:init") {
        if (_builds_host_line_allowed()) qel_log("zentar2:ads:init %.200s\n", value.c_str());
    } else if (name == "zentar2:ads:show") {
        if (_builds_host_line_allowed()) qel_log("zentar2:ads:show %.200s\n", value.c_str());
    } else if (name == "zentar2:rank") {
        int rank = 0;
        if (!_builds_rank(value, rank)) {
            if (_builds_host_line_allowed()) qel_log("zentar2:rank: not a number: %.200s\n", value.c_str());
        } else if (ranks.take(static_cast<long>(driver_timer_get_ticks() / 1000))) {
            game_web_handle_rank(game, rank);
        }
    } else if (name == "zentar2:open_url") {
        if (_builds_page_allowed(pages, name)) game.video.open_url(value.c_str());
    } else if (name == "zentar2:iap") {
        if (_builds_page_allowed(stores, name)) _builds_iap(game);
    }
    return "";
}
