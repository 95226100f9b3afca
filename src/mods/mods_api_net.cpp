// mods_api_net: what a mod does over the network, in the chat and on the web:
// hosting and joining a match, typed messages to the other side, one-off
// messages through the API's own client, chat lines and completion keywords,
// web actions and the platform's external calls.
#include <string>

#include "mods/mods_api.h"
#include "net/net.h"

// An endpoint that cannot be made is the mod's to handle: a Lua error it can
// catch (the reason is in the log), never the end of the program.
void ModsAPI::net_host(int port, const std::string& text) {
    if (!game.net_host(port, text)) api_error_set("cannot host on port " + std::to_string(port));
}

void ModsAPI::net_join(const std::string& host, int port, const std::string& token) {
    if (!game.net_join(host, port, token))
        api_error_set("cannot join " + host + ":" + std::to_string(port));
}

// A hosting mod that also joins its own match reaches its host with "$".
void ModsAPI::net_send(const std::string& uid, const std::string& type,
                       const std::string& value) {
    if (game.server_net && uid != "$") {
        game.server_net->send(uid, type, value, 1);
    } else if (game.client_net) {
        game.client_net->send(uid, type, value, 1);
    }
}

void ModsAPI::net_poke(const std::string& host, int port, const std::string& name,
                       const std::string& type, const std::string& value) {
    net.deinit();
    // Whatever a previous poke left unsent or unread is not for this host.
    net.outbox.clear();
    net.inbox.clear();
    net.inbox_cursor = 0;
    net.init(host, port, "*", name, "");
    // The endpoint has logged why; nothing is queued.
    if (!net.open_checked()) return;
    net.send("", type, value, 1);
    net.send("", "disconnect", "", 1);
}

void ModsAPI::api_call(const std::string& type, const std::string& data) {
    game.do_action(type, data);
}

std::string ModsAPI::ext_call(const std::string& name, const std::string& data) {
    return game.ext_call(name, data);
}

void ModsAPI::chat_append(int color, const std::string& text, int bgcolor) {
    game.chat_append(color, text, bgcolor);
}

void ModsAPI::chat_keywords(const var& list) { game.chat_keywords(list); }
