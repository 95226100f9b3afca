// states_sim: the per-frame simulation stepping of a running match.
//
// Every pass may restart or stop the mod (mods_loop switches screens, and a
// screen may start another mod), so the API and engine pointers are read
// afresh each time they are used, never kept across a pass.
#include "screens/states_sim.h"

#include <cmath>
#include <string>

#include "shell/game_parts.h"
#include "world/zentar.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar_sim.h"

// More passes than this per frame would stall the frame (and a huge or
// non-finite "ticks" would hang it); a mod that wants more speeds up instead.
static constexpr int STATES_SIM_MAX_TICKS = 100;
// Beyond this factor one pass would move items by unbounded distances; the
// world's arithmetic stays finite below it.
static constexpr double STATES_SIM_MAX_SPEED = 1000.0;

// Logs a bad parameter once per distinct text, not once per frame.
static void _states_sim_bad(const char* key, const var& value) {
    static std::string last;
    std::string text = std::string(key) + "=" + value.__str__();
    if (text == last) return;
    last = text;
    qel_log("run_the_game_sim: ignoring %s\n", text.c_str());
}

// "speed" as a factor. A value that is not finite is ignored (normal speed)
// rather than filling the world with infinities; a huge one is capped.
static float _states_sim_speed(ModsAPI* api) {
    var v = api->param_get("speed");
    double speed = v.__num__();
    if (!std::isfinite(speed)) {
        _states_sim_bad("speed", v);
        return 1.0f;
    }
    if (std::fabs(speed) > STATES_SIM_MAX_SPEED) {
        _states_sim_bad("speed", v);
        return (float)std::copysign(STATES_SIM_MAX_SPEED, speed);
    }
    return (float)speed;
}

// "ticks" truncated; none, zero and negatives give one pass, and the count is
// capped.
static int _states_sim_ticks(ModsAPI* api) {
    var v = api->param_get("ticks");
    double ticks = std::trunc(v.__num__());
    if (std::isnan(ticks)) {
        _states_sim_bad("ticks", v);
        return 1;
    }
    if (ticks > STATES_SIM_MAX_TICKS) {
        _states_sim_bad("ticks", v);
        return STATES_SIM_MAX_TICKS;
    }
    return ticks < 1 ? 1 : (int)ticks;
}

bool states_sim_stepping(const std::string& state) {
    return state == "play" || state == "pause" || state == "xpause" || state == "scene" ||
           state == "dialog";
}

void run_the_game_sim(GameParts& game, float dt) {
    for (int i = 0;;) {
        ModsAPI* api = mods_api_of(game);
        ModsBase* engine = mods_engine_of(game);
        if (!api || !engine) return;

        float step = _states_sim_speed(api) * dt;
        if (!std::isfinite(step)) step = 0.0f;  // a frame time that is not finite
        engine->loop(step);
        mods_loop(game);

        api = mods_api_of(game);
        if (!api) return;
        if (!states_sim_stepping(api->param_get("state").__str__())) return;
        sys_loop(game.world, step, game.headless ? 0 : 1);

        api = mods_api_of(game);
        if (!api) return;
        if (++i >= _states_sim_ticks(api)) return;
    }
}
