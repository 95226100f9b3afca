// builds_app: the build switches that need the whole game (the other
// switches and the debug overlay are in shell/builds.h).
#pragma once

#include <string>

class Game;

// Registers this edition's extra screen, the web purchase waiting screen.
void builds_init(Game& game);
// The first screen: the policy gate until it is answered, else the main menu.
void builds_game_init_start(Game& game);
std::string builds_store_url(Game& game);
// A mod's external call ("zentar2:..."); always answers "".
std::string builds_mods_api_ext_call(Game& game, std::string name, std::string value);
