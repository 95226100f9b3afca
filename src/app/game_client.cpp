// game_client: the client half of the match glue. Joins a host, pings it
// while a match runs, feeds host messages to the world sync and then to the
// mod, and turns the player's sends and redirects into commands.
#include <algorithm>
#include <cstring>

#include "app/game.h"
#include "shell/game_settings_io.h"  // game_settings_sync
#include "app/game_net.h"
#include "mods/mods_api.h"
#include "screens/menus.h"  // namegen
#include "mods/mods_lua.h"
#include "net/net.h"
#include "ruvezor/util/qel_log.h"
#include "net/zentar_client.h"
#include "web/game_web.h"  // md5_digest
#include "world/zentar_sim.h"  // z2_send, z2_redirect without a network

namespace {

std::string _gc_text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

int _gc_hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

void _gc_field_set(char* field, size_t size, const std::string& text) {
    memset(field, 0, size);
    memcpy(field, text.data(), std::min(text.size(), size - 1));
}

}  // namespace

void game_net_identity(Game& game, std::string* uid, std::string* name) {
    Settings& s = game.settings;
    *uid = net_uid(game_account_id(game));
    *name = _gc_text(s.display_name, sizeof(s.display_name));
    // No web login: hosts still need a uid that tells players apart and
    // stays the same when the player comes back. A digest of the device id
    // is stable for this installation and does not give the device id away
    // (the web password form is built from it).
    std::string udid = _gc_text(s.udid, sizeof(s.udid));
    if (uid->empty() && !udid.empty()) *uid = "lan" + md5_digest("lan|" + udid).substr(0, NET_LOCAL_UID_HEX);
    // Hosts turn away a player without a name (a login reply may lack one).
    if (!name->empty()) return;
    *name = _gc_text(s.web_name, sizeof(s.web_name));
    if (!name->empty()) return;
    // Nobody named this player yet: the auto-name the login screen would
    // offer, made now and kept for good.
    if (!s.qname[0]) {
        _gc_field_set(s.qname, sizeof(s.qname), namegen());
        game_settings_sync(game);
    }
    *name = _gc_text(s.qname, sizeof(s.qname));
}

std::string mk_mask(const std::string& token, const std::string& session_key) {
    static const char digits[] = "0123456789abcdef";
    size_t n = std::min(token.size(), session_key.size());
    if (n > 255) n = 255;
    if (n > 15) n = 15;
    std::string out;
    for (size_t i = 0; i < n; i++) out += digits[_gc_hex(token[i]) ^ _gc_hex(session_key[i])];
    return out;
}

bool game_client_init(Game& game, const char* host, int port, std::string token) {
    game_client_deinit(game);
    std::string where = host ? host : "";
    std::unique_ptr<NetClient> net;
    if (!where.empty()) {
        net = std::make_unique<NetClient>();
    } else {
        net = std::make_unique<NetLocal>();
        where = "localhost";
    }
    // Only the built-in scripts may use the player's login token.
    if (!game.mod_builtin) token.clear();
    std::string key = mk_mask(token, _gc_text(game.settings.session_key, sizeof(game.settings.session_key)));
    std::string uid, name;
    game_net_identity(game, &uid, &name);
    qel_log("game_client_init: %s %d %s %s\n", where.c_str(), port, uid.c_str(), name.c_str());
    net->init(where, port, uid, name, key);
    // A host name that does not resolve still gives an endpoint, which
    // reports the lost connection.
    if (net->start() == NetClient::Start::no_host) return false;
    game.client_net = std::move(net);
    if (!game.chat) game.chat = std::make_unique<Chat>();
    game.chat->reset();
    return true;
}

void game_client_loop(Game& game) {
    if (!game.client_net) return;
    std::string state = _game_net_state(game);
    if (state == "play" || state == "pause" || state == "lobby" || state == "xlobby")
        zentar_client_loop(game.client_net.get(), game.world);
    game.client_net->loop(0);
    NetMessage msg;
    // A frame handles a bounded share of what the host sent, in order; the
    // rest waits in the inbox for the next frame, so a host that floods its
    // players slows their match down but never holds a frame.
    int handled = 0, to_mod = 0, resets = 0;
    // A mod handler may replace or remove the endpoint: read it again each time.
    while (Net* net = game.client_net.get()) {
        const NetMessage* next = net->peek();
        if (!next || handled >= GAME_CLIENT_FRAME_MESSAGES || to_mod >= GAME_CLIENT_FRAME_MOD_EVENTS) break;
        // Each reset clears the whole world: one a frame.
        if (next->type == "R" && resets) break;
        if (!net->poll(&msg)) break;
        handled++;
        resets += msg.type == "R";
        zentar_client_handle(net, game.world, msg);
        // One-letter sync messages stay out of mods; a hosting player's mod
        // hears everything through the host loop.
        if (game.server_net || !game.mods_engine || msg.type.size() < 2) continue;
        to_mod++;
        _game_net_mods_event(game, msg);
    }
}

void game_client_deinit(Game& game) {
    if (!game.client_net) return;
    game.client_net->deinit();
    game.client_net.reset();
}

void game_send(Game& game, int percent, int from, int to) {
    if (game.client_net) zentar_client_send(game.client_net.get(), game.world, percent, from, to);
    else z2_send(game.world, percent, from, to);
}

void game_redirect(Game& game, int fleet, int to) {
    if (game.client_net) zentar_client_redirect(game.client_net.get(), game.world, fleet, to);
    else z2_redirect(game.world, fleet, to);
}
