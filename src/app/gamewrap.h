// gamewrap: the program entry's only door into the game.
//
// The wrappers own the one Game (`_game`). Apart from game_init, each does
// nothing when no game exists.
#pragma once

#include "ruvezor/util/qel_driver.h"  // Event

// Makes the game, reads the command line and starts it; a second call while
// a game exists changes nothing.
void game_init(int argc, char** argv);
void game_event(Event e);
void game_loop();
void game_paint();
// Every pending event, in arrival order.
int _main_event_poll();
// One whole frame: the events, then loop and paint. The entry runs it until
// the game quits; the tests that drive the real game run it the same way.
int _main_tick();
// True when no game exists or it asked to quit.
bool game_is_quit();
// Shuts the game down and deletes it.
void game_deinit();
// The status the process ends with: 0, or non-zero after a failed run.
int game_exit_status();
