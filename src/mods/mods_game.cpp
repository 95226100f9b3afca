// mods_game: what a bare ModsGame answers the runtime: a game that shows
// nothing, plays nothing and opens no endpoints; and the program's version.
#include "mods/mods_game.h"

#include <cstdio>

#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "net/net.h"

const char* _get_game_version() { return "1.9.6"; }

const char* _get_game_version_info() {
    static char s[256];
    snprintf(s, sizeof(s), "%s-%s-%s-%s", _get_game_version(), "Desktop", "Linux", "DAV");
    return s;
}

ModsPages::~ModsPages() = default;

ModsHooks::~ModsHooks() = default;

// The bare game's hooks, for every ModsGame until its owner puts its own.
static ModsHooks _mods_bare_hooks;

ModsGame::ModsGame() : hooks(&_mods_bare_hooks) {}
ModsGame::~ModsGame() = default;

void ModsHooks::event(ModsGame& game, Event e) {
    if (e.type == 1) game.quit = 1;
}

void ModsHooks::do_action(ModsGame&, std::string, std::string) {}

std::unique_ptr<ModsPages> ModsHooks::mods_pages(ModsGame&, ModsAPI&) { return nullptr; }
void ModsHooks::mods_follow(ModsGame&, ModsAPI&, const std::string&, bool) {}
void ModsHooks::mods_settings_popup(ModsGame&) {}
void ModsHooks::mods_hold(ModsGame&) {}
void ModsHooks::mods_release(ModsGame&) {}
void ModsHooks::mods_trans_grab(ModsGame&) {}

void ModsHooks::ui_restart(ModsGame&, int) {}
void ModsHooks::ui_follow(ModsGame&) {}

void ModsHooks::ui_view(ModsGame& game, float x, float y, float w, float h) {
    game.world.view[0] = x;
    game.world.view[1] = y;
    game.world.view[2] = w;
    game.world.view[3] = h;
}

bool ModsHooks::ui_selected(ModsGame&, int) { return false; }

void ModsHooks::play_sound(ModsGame&, const std::string&) {}
void ModsHooks::play_music(ModsGame&, const std::string&) {}
void ModsHooks::chat_append(ModsGame&, int, const std::string&, int) {}
void ModsHooks::chat_keywords(ModsGame&, const var&) {}
std::string ModsHooks::ext_call(ModsGame&, const std::string&, const std::string&) { return ""; }

bool ModsHooks::net_host(ModsGame&, int, const std::string&) { return false; }
bool ModsHooks::net_join(ModsGame&, const std::string&, int, const std::string&) { return false; }

void ModsHooks::net_stop(ModsGame& game) {
    for (std::unique_ptr<Net>* net : {&game.client_net, &game.server_net}) {
        if (!*net) continue;
        (*net)->deinit();
        net->reset();
    }
}

void ModsHooks::mods_player(ModsGame&, std::string* name, std::string* uid, int* gsize) {
    name->clear();
    uid->clear();
    *gsize = 0;
}
