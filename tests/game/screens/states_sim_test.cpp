// Simulation stepping over a real headless mod: passes per frame, the world
// step and its states, a mod stopped or restarted during a pass, particles,
// and parameters that are not sane numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "app/game.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "ruvezor/util/qel_driver.h"
#include "screens/states_sim.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"
#include "z2_game_fixture.h"

namespace {

// Counts its passes in "loops", records each frame time as "t<pass>" and
// the last as "t", and sets "state" to "menu" on the pass named by
// "switch_at".
const char* const COUNTING_MOD = R"LUA(
loops = 0
function init() end
function loop(t)
  loops = loops + 1
  z2_param_set("loops", loops)
  z2_param_set("t" .. loops, t)
  z2_param_set("t", t)
  if z2_param_get("switch_at") == loops then z2_param_set("state", "menu") end
end
function event(e) end
)LUA";

class StatesSimTest : public z2test::ModGameTest {
protected:
    void SetUp() override {
        make_game("z2statessim", true);
        game->headless = 1;
        start_mod(COUNTING_MOD);
    }

    void restart(var params = var(VAR_DICT, 0)) { mods_restart(*game, 0, params); }
    // One frame in the given state; the passes the mod ran in it.
    double frame(const char* state, float dt) {
        double before = loops();
        set("state", var(state));
        run_the_game_sim(*game, dt);
        return loops() - before;
    }
    double loops() { return param("loops").__num__(); }
};

// An engine whose loop stops the mod runtime, or restarts it as "play".
struct RuntimeChangingEngine : ModsBase {
    Game* game;
    bool restart;
    RuntimeChangingEngine(Game* g, bool r) : game(g), restart(r) {}
    void loop(float) override {
        // The runtime deletes this engine; nothing of it is touched after.
        Game& g = *game;
        if (!restart) {
            mods_deinit(g);
            return;
        }
        var params(VAR_DICT, 0);
        params["state"] = var("play");
        params["ticks"] = var(2);
        mods_restart(g, 0, params);
    }
    bool is_okay() override { return true; }
};

TEST_F(StatesSimTest, PassesPerFrameAndTheStatesThatStepTheWorld) {
    // Three passes in a playing state: each runs the mod and steps the world
    // by the full speed x dt.
    set("ticks", var(3));
    set("speed", var(2));
    EXPECT_EQ(frame("play", 0.016f), 3);
    for (const char* k : {"t1", "t2", "t3"}) EXPECT_NEAR(param(k).__num__(), 0.032, 1e-6) << k;
    EXPECT_NEAR(game->world.time, 3 * 0.032f, 1e-5);

    // Other states: one pass, and the world stands still.
    for (const char* state : {"lobby", "menu", "tabs", "overlay", "pause", "xpause", "scene",
                              "dialog"}) {
        restart();
        set("ticks", var(3));
        bool steps = std::string("pause xpause scene dialog").find(state) != std::string::npos;
        EXPECT_EQ(frame(state, 0.5f), steps ? 3 : 1) << state;
        EXPECT_NEAR(game->world.time, steps ? 1.5f : 0.0f, 1e-6) << state;
    }

    // The mod leaves play during the second of three passes: no third pass,
    // one world step.
    restart();
    set("ticks", var(3));
    set("switch_at", var(2));
    EXPECT_EQ(frame("play", 0.25f), 2);
    EXPECT_NEAR(game->world.time, 0.25f, 1e-6);

    // ticks read as a number from text; none, zero and negatives give one pass.
    for (var ticks : {var("2"), var(0), var(-5), var()}) {
        restart();
        set("ticks", ticks);
        EXPECT_EQ(frame("play", 0.1f), ticks.__type__() == VAR_STRING ? 2 : 1) << ticks.__str__();
    }
    // speed none: the mod and the world still run, with a zero step.
    set("speed", var());
    float before = game->world.time;
    EXPECT_EQ(frame("play", 0.1f), 1);
    EXPECT_EQ(param("t").__num__(), 0.0);
    EXPECT_EQ(game->world.time, before);
}

TEST_F(StatesSimTest, ParticlesAgeOnlyWithAWindow) {
    set("state", var("play"));
    Part* p = part_init(game->world);
    p->d = 10.0f;
    run_the_game_sim(*game, 0.5f);
    EXPECT_EQ(p->age, 0.0f) << "headless";
    game->headless = 0;
    run_the_game_sim(*game, 0.5f);
    game->headless = 1;
    EXPECT_NEAR(p->age, 0.5f, 1e-6);
}

TEST_F(StatesSimTest, AModStoppedOrRestartedDuringAPassIsReadAfresh) {
    // Stopped: nothing of the old runtime is touched afterwards (the
    // sanitizer build catches a stale pointer).
    set("state", var("play"));
    set("ticks", var(3));
    game->mods_engine.reset();
    game->mods_engine.reset(new RuntimeChangingEngine(game.get(), false));
    run_the_game_sim(*game, 0.1f);
    EXPECT_EQ(game->mods_api, nullptr);
    EXPECT_EQ(game->world.time, 0.0f);
    // Without a runtime the call does nothing at all.
    run_the_game_sim(*game, 0.1f);

    // Restarted with state "play" and ticks 2: the rest of the frame runs
    // the new mod under its own parameters.
    restart();
    set("state", var("menu"));
    set("ticks", var(50));
    game->mods_engine.reset();
    game->mods_engine.reset(new RuntimeChangingEngine(game.get(), true));
    run_the_game_sim(*game, 0.1f);
    ASSERT_NE(api(), nullptr);
    EXPECT_EQ(loops(), 1) << "the new mod ran the second pass";
    EXPECT_NEAR(game->world.time, 0.2f, 1e-6);
}

TEST_F(StatesSimTest, InsaneTicksAndSpeedNeitherHangNorCorruptTheWorld) {
    set("state", var("play"));
    // Huge, infinite or NaN ticks: capped or one pass, never a hang.
    for (double ticks : {1e12, (double)INFINITY, (double)NAN, -(double)INFINITY}) {
        double before = loops();
        set("ticks", var(ticks));
        run_the_game_sim(*game, 0.001f);
        EXPECT_GE(loops() - before, 1) << ticks;
        EXPECT_LE(loops() - before, 100) << ticks;
    }

    // A world with moving things; non-finite speeds are ignored (normal
    // speed), huge ones capped: everything stays finite.
    int user = user_init(game->world, "u", 0xff0000, 0)->n;
    int a = planet_init(game->world, user, 0, 0, 1, 50)->n;
    int b = planet_init(game->world, user, 300, 0, 1, 0)->n;
    z2_send(game->world, 50, a, b);
    set("ticks", var(1));
    for (double speed : {(double)NAN, (double)INFINITY, -(double)INFINITY, 1e30, 3.5e38, -1e300}) {
        float before = game->world.time;
        set("speed", var(speed));
        run_the_game_sim(*game, 0.1f);
        float t = (float)param("t").__num__();
        EXPECT_TRUE(std::isfinite(t)) << speed;
        if (!std::isfinite(speed)) {
            EXPECT_NEAR(game->world.time - before, 0.1f, 1e-4) << speed;
        }
    }
    for (int i = 1; i < game->world.top; i++) {
        const Item& it = game->world.items[i];
        if (!it.in_use) continue;
        EXPECT_TRUE(std::isfinite(it.position_x) && std::isfinite(it.position_y)) << i;
        EXPECT_TRUE(std::isfinite(it.ships_value)) << i;
    }
    EXPECT_TRUE(std::isfinite(game->world.time));
}

}  // namespace
