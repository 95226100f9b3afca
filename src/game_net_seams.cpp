// game_net_seams: STAND-INS for what the match glue needs from modules that
// are not written yet (declared in game_net.h). Each is weak, so the real
// definition takes over once it is linked, and each goes from here then.
#include "game.h"
#include "game_net.h"

#define Z2_STANDIN __attribute__((weak))


// In-match controls: until they exist, the view from the host is kept in the
// world's own view rectangle, where the painter reads it.
Z2_STANDIN void ui_view_set(Zentar& world, ZentarUI&, float x, float y, float w, float h) {
    world.view[0] = x;
    world.view[1] = y;
    world.view[2] = w;
    world.view[3] = h;
}
