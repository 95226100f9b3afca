// game_net: what the client and host halves of the match glue share.
#include "app/game.h"
#include "app/game_net.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "net/net.h"

std::string _game_net_state(Game& game) {
    if (!game.mods_api) return "";
    var state = game.mods_api->param_get("state");
    return state.__type__() == VAR_STRING ? state.__str__() : "";
}

void _game_net_mods_event(Game& game, const NetMessage& msg) {
    var ev(VAR_DICT, 0);
    ev["uid"] = var(msg.uid);
    ev["name"] = var(msg.name);
    ev["value"] = var(msg.value);
    ev["type"] = var("net:" + msg.type);
    mods_event(game, ev);
}
