// main: the process entry. Makes the game, runs whole frames until it asks
// to quit, and tears it down. Timing lives in the game's paint. A game that
// could not start (a headless host without a mod) ends the process at once
// with its status, as it stands.
#include "app/gamewrap.h"

int main(int argc, char** argv) {
    game_init(argc, argv);
    if (int failed = game_exit_status()) return failed;
    while (!game_is_quit()) _main_tick();
    int status = game_exit_status();
    game_deinit();
    return status;
}
