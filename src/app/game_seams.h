// game_seams: STAND-INS for modules that are not written yet.
//
// The smallest layer that lets the Game object start, run its frame loop and
// shut down before the real modules exist: the in-match controls and screen
// transitions, the screens, and the web services. Each piece keeps the name
// the real module will have, does as little as it can, and is to be DELETED
// from here when its real module lands: the function stand-ins are weak, and
// a weak definition in a static library can hide a real one that the linker
// never pulls in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game_settings_io.h"  // game_settings_sync
#include "qel_driver.h"         // Event, window and input entries
#include "qel_font.h"
#include "qel_gfx.h"
#include "qel_gfx_image.h"  // gfx_reload_auto
#include "qel_mixer.h"
#include "qel_social.h"
#include "qel_var.h"

class Game;
struct WebHandle;

// ==== mod runtime ==============================================================

// The script engine and the game API of the running mod (mods_lua.h,
// mods_api.h).
class ModsAPI;
class ModsBase;

// ==== in-match controls, screen transitions, planet painting ===================

#include "trans.h"                // game_trans_*, the transition framebuffers
#include "zentar_planet_paint.h"  // planet_paint_init
#include "zentar_ui.h"            // ZentarUI

// ==== screens and chat ==========================================================

void menus_init(Game& game);
void states_init(Game& game);
#include "test.h"  // test_init


// ==== online services ===========================================================

#include "game_web.h"

// The store and its receipts.
void ext_store_init(Game& game);
void ext_store_loop(Game& game);
// {"receipts": {}, "valid": {}} until the receipts files are kept.
var ext_store_web_data();
void ext_store_web_receipts_callback(var valid);
void ext_store_web_store_callback(var reply);

// ==== screen stack ===============================================================

#include "game_view.h"

// ==== video and audio front ends =================================================

#include "game_audio.h"
#include "game_video.h"

// ==== build switches =============================================================

#include "builds.h"

// ==== paint ======================================================================

#include "game_paint.h"
