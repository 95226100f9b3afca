// mods_console: the running mod's developer console, a translucent panel
// over the match listing the mod log with a one-line Lua prompt, and the
// status band that shows while the log is not empty.
//
// The in-game screens offer every event to mods_event_handle first and call
// modsapi_log_paint after their own painting. Main thread only.
#pragma once

#include "mods/mods_api.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gui.h"

// Engine key codes the console reacts to.
enum {
    MODS_KEY_UP = 1,
    MODS_KEY_ESCAPE = 5,
    MODS_KEY_F1 = 14,
    MODS_KEY_F2 = 15,
    MODS_KEY_F3 = 16,
    MODS_KEY_F5 = 18,
};

// Non-zero when the console used the event (nothing else should see it).
int mods_event_handle(ModsGame& game, Event e);
// Paints the console panel (when shown) and the status band.
void modsapi_log_paint(ModsAPI* api);
// Empties the console container and builds the prompt row again.
void modsapi_console_gui_rebuild(ModsAPI* api);
// The console container of api (the prompt row lives in it), kept with the
// mod's pages (an empty one serves an api without pages); a new api gets a
// fresh prompt.
Container& modsapi_console(ModsAPI* api);
