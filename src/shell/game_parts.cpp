// game_parts: how the running game's parts are found, and the accessors of
// the running game.
#include "shell/game_parts.h"

#include "shell/game_settings.h"

GameParts* (*game_parts_source)() = nullptr;

GameParts* game_parts() { return game_parts_source ? game_parts_source() : nullptr; }

bool GameParts::is_logged_in() { return settings.logged_in != 0; }

bool game_is_active() {
    GameParts* g = game_parts();
    return g && g->active != 0;
}

int game_get_vquality() {
    GameParts* g = game_parts();
    return g ? g->settings.vquality : 0;
}

bool battery_do_delay() { return game_get_vquality() < 0; }
bool battery_do_skip() { return false; }
