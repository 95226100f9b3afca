// states_sim: steps a running match once per frame (the in-game screens with
// a window, Game::loop when headless).
#pragma once

struct GameParts;

// Runs one to "ticks" passes of the mod's loop, the mod runtime's screen
// switch and, while "state" is a playing state, the world step of
// "speed" x dt. A mod must be running; without one it does nothing.
void run_the_game_sim(GameParts& game, float dt);
