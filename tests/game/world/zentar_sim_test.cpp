// The simulation step: empty steps, production, free motion and bouncing,
// and whole matches played headless (scripted and random).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "world/zentar_invariants.h"

namespace {

using SimTest = ZentarWorldTest;

TEST_F(SimTest, EmptyStepOnlyRunsProduction) {
    int p = planet(a, 10, 20, 5, 50);
    at(p).has_motion = 1;
    at(p).motion_vx = 7;
    for (float dt : {0.0f, -0.5f, NAN}) sys_loop(*w, dt, 1);
    EXPECT_EQ(w->time, 0);
    EXPECT_EQ(at(p).ticks, 0);
    EXPECT_EQ(at(p).position_x, 10);
    EXPECT_EQ(at(p).ships_value, 5);

    sys_loop(*w, 0.25f, 0);
    EXPECT_EQ(w->intro_time, 0);  // off until the controls start it
    w->intro_time = 1;
    sys_loop(*w, 0.25f, 0);
    EXPECT_FLOAT_EQ(w->time, 0.5f);
    EXPECT_FLOAT_EQ(w->intro_time, 1.25f);
    EXPECT_EQ(at(p).ticks, 2);

    // A clock summed for days (here as it stood after six) still advances
    // by the frames, within the hour.
    w->time = 600000;
    sys_loop(*w, 1 / 60.0f, 0);
    float start = w->time;
    for (int i = 0; i < 60; i++) sys_loop(*w, 1 / 60.0f, 0);
    EXPECT_NEAR(w->time - start, 1.0f, 0.01f);
    EXPECT_LT(w->time, ZT_CLOCK_TURN);
}

TEST_F(SimTest, ProductionFollowsTheOwnersFactor) {
    at(b).ships_production_factor = 2;
    int pa = planet(a, 0, 0, 0, 50), pb = planet(b, 300, 0, 0, 50);
    int none = planet(0, 600, 0, 0, 50);  // no owner: produces nothing
    for (int i = 0; i < 4; i++) sys_loop(*w, 0.25f, 0);
    EXPECT_FLOAT_EQ(at(pa).ships_value, 1);  // production 50, factor 1: dt per step
    EXPECT_FLOAT_EQ(at(pb).ships_value, 2);
    EXPECT_EQ(at(none).ships_value, 0);
}

TEST_F(SimTest, PhysicsItemsMoveThenBounce) {
    Item* it = item_init(*w);
    it->has_motion = it->has_physics = 1;
    it->collide_r = 5;
    it->position_x = 4;
    it->motion_vx = -10;
    sys_loop(*w, 0.1f, 0);  // bounds off: no bounce
    EXPECT_FLOAT_EQ(it->position_x, 3);
    EXPECT_FLOAT_EQ(it->motion_vx, -10);
    w->bounds[2] = w->bounds[3] = 100;
    sys_loop(*w, 0.1f, 0);  // moves first, then bounces; no clamping
    EXPECT_FLOAT_EQ(it->position_x, 2);
    EXPECT_FLOAT_EQ(it->motion_vx, 10);
    sys_loop(*w, 0.1f, 0);  // already moving right: stays right
    EXPECT_FLOAT_EQ(it->motion_vx, 10);
    it->position_x = 97;
    it->position_y = 200;
    it->motion_vy = 4;
    sys_loop(*w, 0.1f, 0);
    EXPECT_FLOAT_EQ(it->motion_vx, -10);
    EXPECT_FLOAT_EQ(it->motion_vy, -4);
}

// One player attacks across the map: the swarm closes in, arrives and takes
// the planet; every ship is accounted for.
TEST_F(SimTest, HeadlessMatchCapturesAPlanet) {
    int pa = planet(a, 0, 0, 100, 50), pb = planet(b, 400, 0, 20, 15);
    int f = z2_send(*w, 100, pa, pb);
    ASSERT_GT(f, 0);
    EXPECT_GT(at(f).fleet_units, 10);
    float dist = 1e9f;
    double made_for_b = 0, made_for_a = 0;  // pb's production, by owner at the end of each step
    int steps = 0;
    for (; at(f).in_use && steps < 2000; steps++) {
        sys_loop(*w, 1 / 60.0f, 0);
        ASSERT_EQ(zentar_invariants(*w), "") << "step " << steps;
        (at(pb).owner_n == b ? made_for_b : made_for_a) += 15 / 50.0 / 60.0;
        if (at(f).in_use && steps % 30 == 29 && at(pb).owner_n == b) {
            float d = std::hypot(at(f).position_x - 400, at(f).position_y);
            EXPECT_LT(d, dist) << "step " << steps;
            dist = d;
        }
    }
    EXPECT_LT(steps, 2000);
    EXPECT_TRUE(items(&Item::has_unit).empty());
    EXPECT_EQ(gone, std::vector<int>{f});
    EXPECT_EQ(at(pb).owner_n, a);
    EXPECT_GT(made_for_b, 0);
    EXPECT_NEAR(at(pb).ships_value, 100 - 20 - made_for_b + made_for_a, 0.01);
    EXPECT_NE(std::find(sounds.begin(), sounds.end(), "sfx-hit"), sounds.end());
    EXPECT_NE(std::find(sounds.begin(), sounds.end(), "sfx-explode"), sounds.end());
}

// A short match driven only by rand(), the injected clock and the sound
// sink: the same seed and clock must give the same world, byte for byte.
// Some planets are mirrored and every fleet predicted, so arrivals read the
// clock for their hold times.
struct Replay {
    std::unique_ptr<Zentar> w;
    std::vector<std::string> sounds;
    int peak_units = 0;
};

int replay_now = 0;
int replay_clock_step = 16;
std::vector<std::string>* replay_sounds = nullptr;

// How big the replayed match is: players, planets, steps, map size, and one
// send in every `send_odds` steps on average.
struct ReplayShape {
    int users = 3, planets = 12, steps = 900;
    int map_w = 600, map_h = 400;
    int send_odds = 8;
    int ships = 10;  // least garrison of a planet at the start
};

Replay replay(unsigned seed, int clock_step, const ReplayShape& shape = ReplayShape{}) {
    Replay r;
    replay_now = 1000;
    replay_clock_step = clock_step;
    replay_sounds = &r.sounds;
    sys_hooks.ticks = [] { return replay_now; };
    sys_hooks.sound = [](const char* name) { replay_sounds->push_back(name); };
    srand(seed);
    r.w = zentar_new_world();
    Zentar& w = *r.w;
    w.lag = 80;
    std::vector<int> users;
    for (int i = 0; i < shape.users; i++) {
        users.push_back(user_init(w, "bot", 0x102030 * (i + 1), 0)->n);
        w.items[users.back()].fleet_crash = 100 * i;
    }
    std::vector<int> planets;
    for (int i = 0; i < shape.planets; i++) {
        int owner = users[i % shape.users];
        // One draw a statement: the order of a call's arguments is the
        // compiler's (these are the order the recorded digest was made in).
        int ships = shape.ships + rand() % 40, production = 20 + rand() % 60;
        int y = rand() % shape.map_h, x = rand() % shape.map_w;
        int p = planet_init(w, owner, x, y, production, ships)->n;
        if (i % 4 == 3) w.items[p].sync_index = p;  // mirrored: the clock decides its hold
        planets.push_back(p);
    }
    z2_settle(w, 0, 0, shape.map_w, shape.map_h);
    int np = shape.planets;
    for (int step = 0; step < shape.steps; step++) {
        if (rand() % shape.send_odds == 0) {
            int to = planets[rand() % np], from = planets[rand() % np];
            int f = z2_send(w, 30 + rand() % 70, from, to);
            if (f) w.items[f].sync_hold_until = -1;
        }
        if (rand() % 40 == 0) {
            for (int i = 1; i < w.top; i++)
                if (w.items[i].in_use && w.items[i].has_fleet) {
                    z2_redirect(w, i, planets[rand() % np]);
                    break;
                }
        }
        sys_loop(w, 1 / 60.0f, 1);
        replay_now += replay_clock_step;
        int units = 0;
        for (int i = 1; i < w.top; i++) units += w.items[i].in_use && w.items[i].has_unit;
        r.peak_units = std::max(r.peak_units, units);
    }
    sys_hooks = SysHooks{};
    return r;
}

TEST(SimReplay, SameSeedAndClockGiveTheSameWorld) {
    Replay one = replay(4242, 16), two = replay(4242, 16);
    const Zentar &a = *one.w, &b = *two.w;
    EXPECT_EQ(std::memcmp(a.items, b.items, sizeof(a.items)), 0);
    EXPECT_EQ(std::memcmp(a.parts, b.parts, sizeof(a.parts)), 0);
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.parts_start, b.parts_start);
    EXPECT_EQ(a.parts_count, b.parts_count);
    EXPECT_EQ(a.live, b.live);
    EXPECT_EQ(one.sounds, two.sounds);

    // The run really depends on what was injected.
    int held = 0;
    for (int i = 1; i < a.top; i++) {
        const Item& p = a.items[i];
        held += p.in_use && p.has_planet && p.sync_index && p.sync_hold_until > 1000;
    }
    EXPECT_GT(held, 0);
    EXPECT_GT(one.sounds.size(), 10u);
    Replay other_seed = replay(4243, 16), other_clock = replay(4242, 17);
    EXPECT_NE(std::memcmp(a.items, other_seed.w->items, sizeof(a.items)), 0);
    EXPECT_NE(std::memcmp(a.items, other_clock.w->items, sizeof(a.items)), 0);
}

// FNV-1a over everything a step writes: items, particles, clock, counters.
uint64_t world_digest(const Zentar& w) {
    uint64_t h = 1469598103934665603ull;
    auto add = [&h](const void* p, size_t n) {
        const unsigned char* b = static_cast<const unsigned char*>(p);
        for (size_t i = 0; i < n; i++) h = (h ^ b[i]) * 1099511628211ull;
    };
    add(w.items, sizeof(w.items));
    add(w.parts, sizeof(w.parts));
    add(&w.time, sizeof(w.time));
    add(&w.parts_start, sizeof(w.parts_start));
    add(&w.parts_count, sizeof(w.parts_count));
    add(&w.live, sizeof(w.live));
    add(&w.top, sizeof(w.top));
    return h;
}

// A crowded match, four players over forty planets with swarms meeting all
// over the map, must end in exactly the world this build of the step has
// always produced: a faster step may not play a different match. (The digest
// follows the C library's rand, atan2f and sincosf: recorded on Debian 12.)
// The collision pass has a version for each instruction set; every one this
// processor runs plays the match, so none can drift unseen.
TEST(SimReplay, ACrowdedMatchEndsInTheRecordedWorld) {
    ReplayShape shape;
    shape.users = 4;
    shape.planets = 40;
    shape.steps = 3000;
    shape.map_w = 1600;
    shape.map_h = 1000;
    shape.send_odds = 1;
    shape.ships = 300;
    int played = 0;
    for (int width : {ZT_COLLIDE_BASE, ZT_COLLIDE_AVX2, ZT_COLLIDE_AVX512}) {
        if (!collide_force_width(width)) continue;
        Replay r = replay(9001, 16, shape);
        EXPECT_GT(r.peak_units, 2000) << width;  // the run really was crowded
        EXPECT_EQ(world_digest(*r.w), 0x1dc8cc0c5a2a98d9ull) << "instruction set " << width;
        played++;
    }
    collide_force_width(0);
    EXPECT_GE(played, 1);
}

// The step in its plainest form, from the world's public operations: the
// moves, fights and arrivals in slot order, the drift of moving items, the
// collision pass, the fleets, then facings, production, impulses, bounces
// and ticks in slot order.
void plain_step(Zentar& w, float dt) {
    w.time += dt;
    for (int i = 1; i < w.top; i++) {
        Item& it = w.items[i];
        if (it.in_use && it.has_unit) unit_loop(w, it, dt);
        if (it.in_use && it.has_motion) {
            it.position_x += it.motion_vx * dt;
            it.position_y += it.motion_vy * dt;
        }
    }
    collide_loop(w);
    fleets_loop(w);
    for (int i = 1; i < w.top; i++) {
        Item& it = w.items[i];
        if (!it.in_use) continue;
        if (it.has_unit) unit_rotate(w, it, dt);
        if (it.has_planet) planet_loop(w, it, dt);
        if (it.has_physics) {
            int t = it.collide_target;
            if (t >= 1 && t < ZT_ITEMS && t != i && w.items[t].in_use) {
                zt_do_collide(w, it, w.items[t]);
                if (w.items[t].collide_target == i) w.items[t].collide_target = 0;
            }
            it.collide_target = 0;
            float r = it.collide_r;
            if (w.bounds[2] != 0 && w.bounds[3] != 0) {
                if (w.bounds[0] > it.position_x - r) it.motion_vx = std::fabs(it.motion_vx);
                if (w.bounds[1] > it.position_y - r) it.motion_vy = std::fabs(it.motion_vy);
                if (it.position_x + r > w.bounds[0] + w.bounds[2]) it.motion_vx = -std::fabs(it.motion_vx);
                if (it.position_y + r > w.bounds[1] + w.bounds[3]) it.motion_vy = -std::fabs(it.motion_vy);
            }
        }
        it.ticks += 1;
    }
}

// The step works ahead (moves and facings of all units at once) and takes
// that work only where nothing it read has changed since. Planets that
// drift under the swarms aimed at them, and a physics item knocking units
// about, change such inputs in mid-step: the world must stay the one the
// plain step makes, to the byte.
TEST_F(SimTest, AStepIsItsPartsInOrder) {
    for (bool physics : {false, true}) {
        srand(5);
        std::unique_ptr<Zentar> plain = zentar_new_world();
        std::vector<int> planets;
        for (int i = 0; i < 12; i++) {
            int p = planet(i % 2 ? a : b, rand() % 800, rand() % 600, 100 + rand() % 100, 20 + rand() % 60);
            if (i % 3 == 0) {
                at(p).has_motion = 1;
                at(p).motion_vx = rand() % 200 - 100;
                at(p).motion_vy = rand() % 200 - 100;
            }
            planets.push_back(p);
        }
        for (int k = 0; physics && k < 8; k++) {
            Item* ball = item_init(*w);
            ball->has_motion = ball->has_physics = ball->has_collide = 1;
            ball->collide_r = 10;
            ball->collide_mass = 5;
            ball->position_x = rand() % 800;
            ball->position_y = rand() % 600;
            ball->motion_vx = rand() % 200 - 100;
            ball->motion_vy = rand() % 200 - 100;
            w->bounds[2] = 800;
            w->bounds[3] = 600;
        }
        std::memcpy(static_cast<void*>(plain.get()), w.get(), sizeof(Zentar));
        int peak = 0;
        for (int step = 0; step < 600; step++) {
            // Both worlds draw the same random numbers.
            unsigned seed = static_cast<unsigned>(rand());
            int from = planets[seed % 12], to = planets[seed / 12 % 12];
            srand(seed);
            if (seed % 4 == 0) z2_send(*w, 60, from, to);
            sys_loop(*w, 1 / 60.0f, 0);
            srand(seed);
            if (seed % 4 == 0) z2_send(*plain, 60, from, to);
            plain_step(*plain, 1 / 60.0f);
            ASSERT_EQ(std::memcmp(w->items, plain->items, sizeof(w->items)), 0) << "step " << step;
            peak = std::max(peak, static_cast<int>(items(&Item::has_unit).size()));
        }
        EXPECT_GT(peak, 200) << physics;
        sys_init(*w);
        a = user_init(*w, "a", 0xff0000, 0)->n;
        b = user_init(*w, "b", 0x0000ff, 0)->n;
    }
}

// Bots send and redirect at random for thousands of steps; the world stays
// consistent after every command and every step, and ships appear only by
// production.
TEST_F(SimTest, RandomBotsKeepTheWorldConsistent) {
    srand(20261208);
    int team = team_init(*w, "blue", 0x3366ff)->n;
    int neutral = user_init(*w, "neutral", 0x808080, 0)->n;
    at(neutral).ships_production_factor = 0;  // neutral planets do not grow
    int bots[3] = {user_init(*w, "ann", 1, team)->n, user_init(*w, "bob", 2, team)->n, a};
    at(bots[1]).fleet_crash = 150;
    at(a).fleet_crash = 300;
    at(a).fleet_v_factor = 1.5f;
    std::vector<int> planets;
    for (int i = 0; i < 14; i++)
        planets.push_back(planet(i < 6 ? bots[i % 3] : neutral, rand() % 800, rand() % 600, 5 + rand() % 20,
                                 20 + rand() % 60));
    at(planets[7]).planet_mask = 1;  // enemy units crash on it
    at(planets[8]).planet_mask = 2;  // arrivals never lower it
    z2_settle(*w, 0, 0, 800, 600);
    ASSERT_EQ(zentar_invariants(*w), "");

    auto pick = [&](const std::vector<int>& from) { return from.empty() ? 0 : from[rand() % from.size()]; };
    int sends = 0, redirects = 0, captures = 0, peak = 0;
    std::vector<int> owners(ZT_ITEMS, 0);
    for (int step = 0; step < 8000; step++) {
        for (int bot : bots) {
            std::vector<int> rich;  // own planets with something to send
            for (int p : planets)
                if (at(p).owner_n == bot && at(p).ships_value >= 5) rich.push_back(p);
            int from = pick(rich), to = pick(planets);
            if (rand() % 16 == 0 && from) {
                double before = zentar_ship_total(*w);
                sends += z2_send(*w, 20 + rand() % 81, from, to) > 0;
                ASSERT_NEAR(zentar_ship_total(*w), before, 1e-4 * before + 1e-3) << "step " << step;
            }
            int f = pick(items(&Item::has_fleet));
            if (rand() % 25 == 0 && f) {
                z2_redirect(*w, f, to);
                redirects++;
                EXPECT_EQ(at(f).fleet_target, to);
            }
        }
        if (rand() % 300 == 0) z2_destroy(*w, pick(items(&Item::has_unit)));
        if (rand() % 700 == 0) z2_destroy(*w, pick(items(&Item::has_fleet)));
        if (step == 3000) w->clip[0] = w->clip[1] = 100, w->clip[2] = w->clip[3] = 400;  // zoomed in
        if (step == 6000) {  // fleets bound there go with it
            z2_destroy(*w, planets.back());
            planets.pop_back();
        }
        ASSERT_EQ(zentar_invariants(*w), "") << "after commands, step " << step;

        float dt = step % 97 == 0 ? 0.0f : 0.005f + (rand() % 40) / 1000.0f;
        double before = zentar_ship_total(*w), made = zentar_production_bound(*w, dt);
        sys_loop(*w, dt, 1);
        ASSERT_EQ(zentar_invariants(*w), "") << "after step " << step;
        ASSERT_LE(zentar_ship_total(*w), before + made + 1e-4 * before + 1e-3) << "step " << step;
        for (int p : planets) {
            captures += owners[p] && at(p).owner_n != owners[p];
            owners[p] = at(p).owner_n;
        }
        peak = std::max(peak, static_cast<int>(items(&Item::has_unit).size()));
    }
    // The run really played a match.
    EXPECT_GT(sends, 250);
    EXPECT_GT(redirects, 400);
    EXPECT_GT(captures, 8);
    EXPECT_GT(peak, 60);
}

}  // namespace
