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

#include "app/game_settings_io.h"  // game_settings_sync
#include "ruvezor/util/qel_driver.h"         // Event, window and input entries
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"  // gfx_reload_auto
#include "ruvezor/util/qel_mixer.h"
#include "ruvezor/util/qel_social.h"
#include "ruvezor/util/qel_var.h"

class Game;
struct WebHandle;

// ==== mod runtime ==============================================================

// The script engine and the game API of the running mod (mods_lua.h,
// mods_api.h).
class ModsAPI;
class ModsBase;

// ==== in-match controls, screen transitions, planet painting ===================

#include "render/trans.h"                // game_trans_*, the transition framebuffers
#include "render/zentar_planet_paint.h"  // planet_paint_init
#include "render/zentar_ui.h"            // ZentarUI

// ==== screens and chat ==========================================================

void menus_init(Game& game);
void states_init(Game& game);
#include "app/test.h"  // test_init


// ==== online services ===========================================================

#include "web/game_web.h"

// The store and its receipts.
void ext_store_init(Game& game);
void ext_store_loop(Game& game);
// {"receipts": {}, "valid": {}} until the receipts files are kept.
var ext_store_web_data();
void ext_store_web_receipts_callback(var valid);
void ext_store_web_store_callback(var reply);

// ==== screen stack ===============================================================

#include "app/game_view.h"

// ==== video and audio front ends =================================================

#include "app/game_audio.h"
#include "app/game_video.h"

// ==== build switches =============================================================

#include "app/builds.h"

// ==== paint ======================================================================

#include "app/game_paint.h"
