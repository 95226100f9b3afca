// Consistency checks of a match world, shared by the world's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "world/zentar.h"
#include "world/zentar_sim.h"

// Empty when the world is consistent, else one line per fault: slot counters
// (live, top, free_hint, n, untouched slot 0, distinct uids), links (fleets
// and units aim at used planets, units belong to a used fleet of their
// owner), and each fleet's unit count and ship total against its units.
std::string zentar_invariants(const Zentar& world);

// Ships in the world: planets' garrisons plus what units carry.
double zentar_ship_total(const Zentar& world);

// The most that production can add in one step of dt, whoever ends up
// owning each planet.
double zentar_production_bound(const Zentar& world, float dt);

// A reset world on the heap (the record is several megabytes).
inline std::unique_ptr<Zentar> zentar_new_world() {
    std::unique_ptr<Zentar> w(new Zentar());
    sys_init(*w);
    return w;
}

// A fresh world with two rival users, a and b, and recorders on the world's
// seams: sounds played, fleets reported gone, a clock stuck at 5000 ms.
class ZentarWorldTest : public ::testing::Test {
protected:
    static inline std::vector<std::string> sounds;
    static inline std::vector<int> gone;

    void SetUp() override {
        srand(77);
        sounds.clear();
        gone.clear();
        sys_hooks.sound = [](const char* name) { sounds.push_back(name); };
        sys_hooks.fleet_gone = [](Zentar& w, int n) {
            EXPECT_TRUE(w.items[n].in_use && w.items[n].has_fleet);  // told before the release
            gone.push_back(n);
        };
        sys_hooks.ticks = [] { return 5000; };
        w = zentar_new_world();
        a = user_init(*w, "a", 0xff0000, 0)->n;
        b = user_init(*w, "b", 0x0000ff, 0)->n;
    }
    void TearDown() override { sys_hooks = SysHooks{}; }

    Item& at(int n) { return w->items[n]; }
    int planet(int owner, float x, float y, float ships, float production = 10) {
        return planet_init(*w, owner, x, y, production, ships)->n;
    }
    // Used items with the flag (has_unit, has_fleet...), optionally only the
    // units of one fleet.
    std::vector<int> items(uint8_t Item::*flag, int fleet = 0) {
        std::vector<int> found;
        for (int i = 1; i < w->top; i++)
            if (at(i).in_use && at(i).*flag && (!fleet || at(i).unit_fleet == fleet)) found.push_back(i);
        return found;
    }

    std::unique_ptr<Zentar> w;
    int a = 0, b = 0;
};
