// game_server: the host half of the match glue. Hosts a match, syncs the
// world while the mod plays, and hands every message to the world sync and
// then to the mod.
#include <cstdint>

#include "game.h"
#include "game_net.h"
#include "net.h"
#include "zentar_server.h"

namespace {

// Bumped whenever the host endpoint is made or removed, so that a loop
// handing out messages notices a mod handler that replaced it.
uint64_t _gs_generation = 0;

std::string _gs_state(Game& game) {
    if (!game.mods_api) return "";
    var state = game.mods_api->param_get("state");
    return state.__type__() == VAR_STRING ? state.__str__() : "";
}

}  // namespace

bool game_server_blocking_ok(Game& game) { return game_server_is_idle(game); }

void game_server_init(Game& game, int port, std::string key) {
    game_server_deinit(game);
    Net* net = new NetServer();
    net->init("", port, "server", "Server", key);
    net->open();
    game.server_net = net;
    _gs_generation++;
    if (!game.chat) game.chat = _game_net_chat_new();
    _game_net_chat_reset(*game.chat);
}

void game_server_loop(Game& game) {
    Net* net = game.server_net;
    if (!net) return;
    uint64_t generation = _gs_generation;
    if (_gs_state(game) == "play") zentar_server_loop(net, game.world);
    net->loop(game_server_blocking_ok(game) ? 1000 : 0);
    NetMessage msg;
    // Stop as soon as a handler replaced or removed the endpoint: the old
    // one may be freed already.
    while (game.server_net == net && generation == _gs_generation && net->poll(&msg)) {
        zentar_server_handle(net, game.world, msg);
        if (!game.mods_engine) continue;
        var ev(VAR_DICT, 0);
        ev["uid"] = var(msg.uid);
        ev["name"] = var(msg.name);
        ev["value"] = var(msg.value);
        ev["type"] = var("net:" + msg.type);
        mods_event(game, ev);
    }
}

void game_server_deinit(Game& game) {
    if (!game.server_net) return;
    game.server_net->deinit();
    delete game.server_net;
    game.server_net = nullptr;
    _gs_generation++;
}
