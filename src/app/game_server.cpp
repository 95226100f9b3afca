// game_server: the host half of the match glue. Hosts a match, syncs the
// world while the mod plays, and hands every message to the world sync and
// then to the mod.
#include <cstdint>
#include <string>

#include "app/game.h"
#include "app/game_net.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "net/net.h"
#include "net/zentar_server.h"
#include "screens/states_sim.h"

bool game_server_blocking_ok(Game& game) { return game_server_is_idle(game); }

bool game_server_init(Game& game, int port, std::string key) {
    game_server_deinit(game);
    auto net = std::make_unique<NetServer>();
    net->init("", port, "server", "Server", key);
    if (!net->open_checked()) return false;
    game.server_net = std::move(net);
    _game_data.server_generation++;
    if (!game.chat) game.chat = std::make_unique<Chat>();
    game.chat->reset();
    return true;
}

void game_server_loop(Game& game) {
    Net* net = game.server_net.get();
    if (!net) return;
    uint64_t generation = _game_data.server_generation;
    // The players see the world in every state that steps it: a hosting
    // player on the pause page ("the match goes on while you are away") left
    // them with a world that no longer moved, without the new fleets and
    // captures, and empty after a rematch.
    if (states_sim_stepping(_game_net_state(game))) zentar_server_loop(net, game.world);
    net->loop(game_server_blocking_ok(game) ? 1000 : 0);
    NetMessage msg;
    // Stop as soon as a handler replaced or removed the endpoint: the old
    // one may be freed already.
    while (game.server_net.get() == net && generation == _game_data.server_generation && net->poll(&msg)) {
        zentar_server_handle(net, game.world, msg);
        if (!game.mods_engine) continue;
        _game_net_mods_event(game, msg);
    }
}

void game_server_deinit(Game& game) {
    if (!game.server_net) return;
    game.server_net->deinit();
    game.server_net.reset();
    _game_data.server_generation++;
}
