// game_seams: STAND-INS for modules that are not written yet (see game_seams.h).
//
// Functions are weak so that the real module, once linked, takes over; each
// still goes from here when its module lands. They do the least that keeps a
// run going: the screens registries are empty and the store answers that
// nothing was bought.
#include "game_seams.h"

#include "game.h"

#define Z2_STANDIN __attribute__((weak))

// ==== screens and chat ==========================================================


// ==== online services ===========================================================

Z2_STANDIN void ext_store_init(Game&) {}
Z2_STANDIN void ext_store_loop(Game&) {}
Z2_STANDIN var ext_store_web_data() {
    var d(VAR_DICT, 0);
    d["receipts"] = var(VAR_DICT, 0);
    d["valid"] = var(VAR_DICT, 0);
    return d;
}
Z2_STANDIN void ext_store_web_receipts_callback(var) {}
Z2_STANDIN void ext_store_web_store_callback(var) {}
