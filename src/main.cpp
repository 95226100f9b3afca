// main: the process entry. Makes the game, runs whole frames until it asks
// to quit, and tears it down. Timing lives in the game's paint.
#include <cstring>

#include "app/gamewrap.h"
#include "ruvezor/util/qel_driver.h"

// Every pending event, in arrival order.
int _main_event_poll() {
    Event e;
    memset(&e, 0, sizeof(e));
    while (driver_event_poll(&e)) game_event(e);
    return 0;
}

// One whole frame.
int _main_tick() {
    _main_event_poll();
    game_loop();
    game_paint();
    return 0;
}

int main(int argc, char** argv) {
    game_init(argc, argv);
    while (!game_is_quit()) {
        Event e;
        memset(&e, 0, sizeof(e));
        while (driver_event_poll(&e)) game_event(e);
        game_loop();
        game_paint();
    }
    int status = game_exit_status();
    game_deinit();
    return status;
}
