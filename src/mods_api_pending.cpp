// mods_api_pending: the mod GUI page operations, which need the page builder
// that does not exist yet. Each fails the way a real operation does (a log
// line and the stored error "<operation> not available") and returns a neutral
// value; the Lua bindings turn that into a Lua error the mod can catch. The
// page builder replaces this file.
#include "mods_api.h"

#include "qel_log.h"

// Logs and stores the failure of an operation that is not in this build.
static void _mods_pending(ModsAPI* api, const char* op) {
    api->log_printf("ModsAPI::%s not available\n", op);
    api->api_error_set(std::string(op) + " not available");
}

// ==== GUI pages ==================================================================
// No widget toolkit in this build: reads and writes fail, painting draws nothing.

var ModsAPI::gui_get(const std::string&) {
    _mods_pending(this, "gui_get");
    return var();
}
void ModsAPI::gui_set(const std::string&, const var&) {
    _mods_pending(this, "gui_set");
}
// Called every frame by the screens, never by a binding: no error to leave behind.
void ModsAPI::gui_paint() {}
