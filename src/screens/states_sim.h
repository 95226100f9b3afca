// states_sim: steps a running match once per frame (the in-game screens with
// a window, Game::loop when headless).
#pragma once

#include <string>

struct GameParts;

// Whether the world steps in this mod "state" (the match is on, whatever
// page is over it).
bool states_sim_stepping(const std::string& state);

// Runs one to "ticks" passes of the mod's loop, the mod runtime's screen
// switch and, while "state" is a playing state, the world step of
// "speed" x dt. A mod must be running; without one it does nothing.
void run_the_game_sim(GameParts& game, float dt);
