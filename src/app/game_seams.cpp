// game_seams: STAND-INS for modules that are not written yet (see game_seams.h).
//
// Functions are weak so that the real module, once linked, takes over; each
// still goes from here when its module lands. They do the least that keeps a
// run going: the screens registries are empty and the store answers that
// nothing was bought.
#include "app/game_seams.h"

#include "app/game.h"

#define Z2_STANDIN __attribute__((weak))

// ==== screens and chat ==========================================================


// ==== online services ===========================================================

