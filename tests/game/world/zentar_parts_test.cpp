// The particle ring, its ageing and the ship and planet bursts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

struct ZentarParts : ::testing::Test {
    std::unique_ptr<Zentar> wp = std::make_unique<Zentar>();
    Zentar& w = *wp;
    void SetUp() override {
        sys_init(w);
        srand(3);
    }
    Part& make(float d) {
        Part& p = *part_init(w);
        p.d = d;
        return p;
    }
};

TEST_F(ZentarParts, FullRingOverwritesTheOldestWithAFreshEntry) {
    Part* first = part_init(w);
    first->x = 5;
    first->age = 9;
    for (int i = 1; i < ZT_PARTS; i++) part_init(w);
    EXPECT_EQ(w.parts_count, 2048);
    Part* last = part_init(w);
    ASSERT_EQ(last, first);
    EXPECT_EQ(w.parts_count, 2048);
    EXPECT_EQ(w.parts_start, 1);
    EXPECT_EQ(last->alive, 1);
    EXPECT_EQ(last->x + last->age, 0.0f);
}

TEST_F(ZentarParts, AgeingDropsTheDeadFront) {
    Part& a = make(0.5f);
    Part& b = make(2.0f);
    parts_loop(w, 0.25f);
    EXPECT_EQ(a.alive, 1);
    EXPECT_EQ(w.parts_count, 2);
    parts_loop(w, 0.25f);
    EXPECT_EQ(a.alive, 0);
    EXPECT_EQ(b.alive, 1);
    EXPECT_EQ(b.age, 0.5f);
    EXPECT_EQ(w.parts_start, 1);
    EXPECT_EQ(w.parts_count, 1);
}

TEST_F(ZentarParts, DeadBehindALiveOneWaitForTheFront) {
    make(5.0f);
    Part& mid = make(0.1f);
    make(5.0f);
    parts_loop(w, 0.2f);
    EXPECT_EQ(mid.alive, 0);
    EXPECT_EQ(w.parts_start, 0);
    EXPECT_EQ(w.parts_count, 3);
    parts_loop(w, 5.0f);
    EXPECT_EQ(w.parts_count, 0);
}

TEST_F(ZentarParts, WrappedWindowAgesEveryEntry) {
    w.parts_start = 2040;
    for (int i = 0; i < 20; i++) make(10.0f);
    EXPECT_EQ(w.parts_count, 20);
    parts_loop(w, 0.5f);
    for (int i = 0; i < 20; i++) EXPECT_EQ(w.parts[(2040 + i) % ZT_PARTS].age, 0.5f) << i;
    EXPECT_EQ(w.parts[2039].age + w.parts[12].age, 0.0f);

    // A damaged window is emptied, not followed outside the ring.
    w.parts_start = 5000;
    w.parts_count = -2;
    parts_loop(w, 0.1f);
    EXPECT_EQ(w.parts_count, 0);
    w.parts_count = 99999;
    EXPECT_EQ(part_init(w), &w.parts[0]);
}

TEST_F(ZentarParts, ShipBurst) {
    parts_ship_explode(w, 100, -50, 3);
    ASSERT_EQ(w.parts_count, 16);
    for (int i = 0; i < 16; i++) {
        const Part& p = w.parts[i];
        EXPECT_STREQ(p.src, "spark");
        EXPECT_GE(p.r, 4.0f);
        EXPECT_LE(p.r, 8.0f);
        float speed = std::hypot(p.vx, p.vy);
        EXPECT_LE(speed, 39.6f + 1e-3f);
        // Within the unit disc plus up to a fortieth of a second of flight.
        EXPECT_LE(std::hypot(p.x - 100, p.y + 50), 1.0f + speed / 40.0f + 1e-3f);
        EXPECT_GE(p.d, 0.5f);
        EXPECT_LT(p.d, 0.7f + 1e-6f);
        EXPECT_EQ(p.a, 1.0f);
        EXPECT_NEAR(p.va, -1.0f / p.d, 1e-6f);
        EXPECT_GE(p.q, 0.0f);
        EXPECT_LT(p.q, 2 * 3.1416f);
    }
}

TEST_F(ZentarParts, PlanetBurstCountFollowsTheArea) {
    parts_planet_explode(w, 0, 0, 24, 0);
    EXPECT_EQ(w.parts_count, 16);  // 576 / 35 = 16.5
    for (int i = 0; i < 16; i++) {
        const Part& p = w.parts[i];
        EXPECT_LE(std::hypot(p.x, p.y), 24.0f);
        EXPECT_EQ(std::fmod(p.r, 3.0f), 0.0f);
        EXPECT_GE(p.r, 12.0f);
        EXPECT_LE(p.r, 24.0f);
        EXPECT_NEAR(p.va * p.d, -1.0f, 1e-6f);
    }
    parts_planet_explode(w, 0, 0, 5, 0);
    EXPECT_EQ(w.parts_count, 16);
}

TEST_F(ZentarParts, PlanetBurstOfBrokenOrHugeRadius) {
    parts_planet_explode(w, 0, 0, NAN, 0);
    parts_planet_explode(w, 0, 0, INFINITY, 0);
    parts_planet_explode(w, NAN, 0, 30, 0);
    parts_ship_explode(w, NAN, 3e38f, 0);
    EXPECT_EQ(w.parts_count, 0);
    parts_planet_explode(w, 0, 0, 1421.6f, 0);  // 57000 wanted; the ring holds 2048
    EXPECT_EQ(w.parts_count, 2048);
    sys_init(w);
    parts_planet_explode(w, 0, 0, 1e20f, 0);  // r^2 / 35 overflows the float
    EXPECT_EQ(w.parts_count, 2048);
}

// A mod can make any radius negative; the burst still ends, drawn over the
// disc of the radius' size.
TEST_F(ZentarParts, PlanetBurstOfNegativeRadiusEnds) {
    parts_planet_explode(w, 0, 0, -5, 0);
    EXPECT_EQ(w.parts_count, 0);  // 25 / 35
    parts_planet_explode(w, 100, 0, -40, 0);
    ASSERT_EQ(w.parts_count, 45);  // 1600 / 35
    for (int i = 0; i < 45; i++) EXPECT_LE(std::hypot(w.parts[i].x - 100, w.parts[i].y), 40.0f);
    parts_planet_explode(w, 0, 0, -INFINITY, 0);
    EXPECT_EQ(w.parts_count, 45);

    // Capturing such a planet bursts with its collision radius.
    sys_init(w);
    Item& user = *item_init(w);
    Item& p = *planet_init(w, user.n, 0, 0, 50, 5);
    p.planet_r = p.collide_r = -5;
    z2_chown(w, p.n, user.n);
    EXPECT_EQ(w.parts_count, 0);
    p.collide_r = -24;
    z2_chown(w, p.n, user.n);
    EXPECT_EQ(w.parts_count, 16);
}

TEST_F(ZentarParts, TheWorldStepAgesParticlesOnlyWhenAsked) {
    make(1.0f);
    sys_loop(w, 0.1f, 0);
    EXPECT_EQ(w.parts[0].age, 0.0f);
    sys_loop(w, 0.1f, 1);
    EXPECT_FLOAT_EQ(w.parts[0].age, 0.1f);
    sys_init(w);
    EXPECT_EQ(w.parts_count, 0);
}

}  // namespace
