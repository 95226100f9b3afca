// Push-apart, neighbour tracking, the partition of large groups and impulses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

// Runs fn in a child process: false when it did not end cleanly within the
// limit (a hang is killed there, so the test fails instead of blocking).
bool ends_within(int seconds, const std::function<void()>& fn) {
    pid_t pid = fork();
    if (pid == 0) {
        fn();
        _exit(0);
    }
    for (int ms = 0; ms < seconds * 1000; ms += 10) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

int group_of(int owner, int target) { return ((owner << 12) | target) << 8; }

struct ZentarCollide : ::testing::Test {
    std::unique_ptr<Zentar> wp = std::make_unique<Zentar>();
    Zentar& w = *wp;
    void SetUp() override {
        sys_init(w);
        srand(11);
    }

    // A ship sprite as fleets make them: gives way to planets and to its own fleet.
    Item& unit(float x, float y, int owner = 2, int target = 9) {
        Item& u = *item_init(w);
        u.has_collide = 1;
        u.position_x = x;
        u.position_y = y;
        u.collide_r = 6.0f;
        u.collide_mass = 1.0f;
        u.collide_group = u.collide_yield_id = group_of(owner, target);
        u.collide_yield_mask = 1;
        return u;
    }
    Item& planet(float x, float y, float r) {
        Item& p = *item_init(w);
        p.has_collide = 1;
        p.has_planet = 1;
        p.position_x = x;
        p.position_y = y;
        p.collide_r = r;
        p.collide_mass = 3.14159265f * r * r;
        p.collide_group = 1;
        return p;
    }
    static float dist(const Item& a, const Item& b) {
        return std::hypot(a.position_x - b.position_x, a.position_y - b.position_y);
    }
};

TEST_F(ZentarCollide, OverlappingPlanetsStayButLearnEachOther) {
    Item& a = planet(0, 0, 20);
    Item& b = planet(10, 0, 24);
    collide_loop(w);
    EXPECT_EQ(a.position_x, 0.0f);
    EXPECT_EQ(b.position_x, 10.0f);
    EXPECT_EQ(a.collide_target, b.n);
    EXPECT_EQ(b.collide_target, a.n);
    EXPECT_EQ(a.collide_box[0], -20.0f);
    EXPECT_EQ(b.collide_box[3], 24.0f);
}

TEST_F(ZentarCollide, CoincidentUnitsOfOneFleetSplitAlongARandomVector) {
    Item& a = unit(50, 50);
    Item& b = unit(50, 50);
    collide_loop(w);
    float dx = b.position_x - a.position_x, dy = b.position_y - a.position_y;
    // Both moved, symmetrically about the old spot, 12 times a vector in [-1, 1)^2.
    EXPECT_NEAR(a.position_x + b.position_x, 100.0f, 1e-3f);
    EXPECT_NEAR(a.position_y + b.position_y, 100.0f, 1e-3f);
    EXPECT_LE(std::fabs(dx), 12.0f);
    EXPECT_LE(std::fabs(dy), 12.0f);
    EXPECT_GT(std::hypot(dx, dy), 0.0f);
    EXPECT_EQ(a.collide_target, b.n);
    EXPECT_EQ(b.collide_target, a.n);
}

TEST_F(ZentarCollide, UnitYieldsToPlanetAndPrefersItAsNeighbour) {
    Item& p = planet(0, 0, 24);
    Item& u = unit(20, 0, 2, 9);
    Item& enemy = unit(31, 8, 3, 9);  // clear of the planet; touches u once u is pushed out
    collide_loop(w);
    EXPECT_EQ(p.position_x, 0.0f);
    EXPECT_EQ(p.position_y, 0.0f);
    float mp = p.collide_mass, M = mp + 1.0f;
    // Pushed by the heavy planet: lands at R - m_unit (R - d) / M from it.
    EXPECT_NEAR(dist(p, u), 30.0f - 1.0f * (30.0f - 20.0f) / M, 1e-3f);
    EXPECT_EQ(u.collide_target, p.n);
    EXPECT_EQ(enemy.position_x, 31.0f);  // other owner: no push between them
    EXPECT_EQ(enemy.collide_target, u.n);
}

TEST_F(ZentarCollide, UnitsOfDifferentOwnersDoNotPush) {
    Item& a = unit(0, 0, 2, 9);
    Item& b = unit(5, 0, 3, 9);
    Item& c = unit(0, 5, 2, 8);  // same owner, other target
    collide_loop(w);
    EXPECT_EQ(a.position_x, 0.0f);
    EXPECT_EQ(b.position_x, 5.0f);
    EXPECT_EQ(c.position_y, 5.0f);
    EXPECT_NE(a.collide_target, 0);
}

TEST_F(ZentarCollide, DenseClusterIsSampledByAWindowOf32) {
    // 40 items inside 4 x 4 that never move: only the neighbours show who met.
    std::vector<Item*> all;
    for (int i = 0; i < 40; i++) {
        Item& p = planet(0.02f * i, 0.0f, 1.0f);
        all.push_back(&p);
    }
    collide_loop(w);
    std::vector<int> met;
    for (Item* p : all)
        if (p->collide_target) met.push_back(p->n);
    ASSERT_EQ(met.size(), 32u);
    EXPECT_EQ(met.back() - met.front(), 31);
}

TEST_F(ZentarCollide, PartitionFindsEveryTouchingPair) {
    // Sparse items with distinct radii that never move: each one's neighbour
    // must be its largest touching neighbour, exactly as a brute force finds it.
    std::vector<Item*> all;
    for (int i = 0; i < 1500; i++) {
        float x = static_cast<float>(rand() % 3000), y = static_cast<float>(rand() % 3000);
        Item& p = planet(x, y, 2.0f + 0.005f * i);
        all.push_back(&p);
    }
    collide_loop(w);
    int touching = 0;
    for (Item* a : all) {
        int best = 0;
        float best_r = -1;
        for (Item* b : all) {
            if (a == b) continue;
            float R = a->collide_r + b->collide_r;
            float dx = b->position_x - a->position_x, dy = b->position_y - a->position_y;
            if (dx * dx + dy * dy > R * R) continue;
            if (b->collide_r > best_r) best_r = b->collide_r, best = b->n;
        }
        touching += best != 0;
        EXPECT_EQ(a->collide_target, best) << a->n;
    }
    EXPECT_GT(touching, 50);  // the test means something
}

TEST_F(ZentarCollide, LargeSwarmPairsAllSeparated) {
    // 600 overlapping pairs on a grid, each pair its own fleet: one pass puts
    // every pair exactly touching, across all the splits.
    std::vector<std::pair<Item*, Item*>> pairs;
    for (int gx = 0; gx < 30; gx++)
        for (int gy = 0; gy < 20; gy++) {
            float x = gx * 50.0f + 7, y = gy * 50.0f + 3;
            int target = gx * 20 + gy + 1;
            Item& a = unit(x, y, 2, target);
            Item& b = unit(x + 3, y + 2, 2, target);
            pairs.push_back({&a, &b});
        }
    collide_loop(w);
    for (auto& [a, b] : pairs) EXPECT_NEAR(dist(*a, *b), 12.0f, 1e-3f);
}

TEST_F(ZentarCollide, SettleRoundsSpreadAMap) {
    // Planets give way to each other with enlarged radii, sixteen rounds.
    std::vector<Item*> ps;
    for (int i = 0; i < 12; i++) {
        Item& p = planet(static_cast<float>(rand() % 120), static_cast<float>(rand() % 120),
                         12.0f + static_cast<float>(rand() % 12));
        p.collide_yield_id = 1;
        p.collide_r += 8;
        ps.push_back(&p);
    }
    for (int round = 0; round < 16; round++) collide_loop(w);
    float worst = 1e9f;
    for (size_t i = 0; i < ps.size(); i++)
        for (size_t j = i + 1; j < ps.size(); j++)
            worst = std::min(worst, dist(*ps[i], *ps[j]) - (ps[i]->collide_r - 8) - (ps[j]->collide_r - 8));
    EXPECT_GT(worst, 14.0f);  // about 16 rim to rim
}

TEST_F(ZentarCollide, ZeroMassBrokenAndHugeItemsStaySafe) {
    Item& a = unit(0, 0);
    Item& b = unit(1, 0);
    a.collide_mass = b.collide_mass = 0;  // as mods leave them
    Item& bad = unit(NAN, 0);
    Item& inf = unit(INFINITY, 5);
    for (int i = 0; i < 40; i++) unit(1000.0f + i % 5, static_cast<float>(i / 5));  // enough to split
    collide_loop(w);
    EXPECT_TRUE(std::isfinite(a.position_x) && std::isfinite(b.position_x));
    EXPECT_NEAR(dist(a, b), 12.0f, 1e-4f);
    EXPECT_EQ(bad.collide_target, 0);
    EXPECT_EQ(inf.collide_target, 0);

    int ids[] = {a.n, -4, 0, 99999, b.n};  // slot lists are checked too
    collide_do(w, ids, 5);

    // Far-apart huge coordinates: the split must still come to an end.
    sys_init(w);
    for (int i = 0; i < 100; i++) unit(1e30f + i * 1e23f, -3e38f + i * 6e36f);
    collide_loop(w);

    // Huge circles, as a hostile host's records can bring them: every item
    // straddles every middle line, so each split hands all of them to both
    // halves. A step still ends, whatever the numbers.
    sys_init(w);
    for (float r : {1e30f, 3e38f, 1e6f, INFINITY, NAN})
        for (int i = 0; i < 40; i++) planet(static_cast<float>(rand() % 3000), static_cast<float>(rand() % 2000), r);
    for (int i = 0; i < 200; i++) unit(static_cast<float>(rand() % 3000), static_cast<float>(rand() % 2000));
    EXPECT_TRUE(ends_within(60, [&] { sys_loop(w, 1 / 60.0f, 0); }));
}

// Masses that mods leave at zero, or set to cancel out or to NaN, make the
// pair act as equals instead of dividing by a zero total.
TEST_F(ZentarCollide, ImpulseWithoutCombinedMass) {
    const float masses[][2] = {{0, 0}, {1, -1}, {NAN, 1}, {INFINITY, 1}};
    float y = 0;
    for (auto& m : masses) {
        Item& a = unit(0, y);
        Item& b = unit(4, y);
        a.collide_mass = m[0];
        b.collide_mass = m[1];
        a.motion_vx = 5;
        b.motion_vx = -3;
        zt_do_collide(w, a, b);
        EXPECT_NEAR(a.motion_vx, -3.0f, 1e-5f) << m[0] << " " << m[1];  // equals swap
        EXPECT_NEAR(b.motion_vx, 5.0f, 1e-5f) << m[0] << " " << m[1];
        EXPECT_NEAR(dist(a, b), 12.0f, 1e-4f) << m[0] << " " << m[1];
        EXPECT_NEAR(a.position_x + b.position_x, 4.0f, 1e-4f);
        y += 100;
    }
}

TEST_F(ZentarCollide, MoveApartAnchoredAndFree) {
    Item& a = unit(0, 0);
    Item& b = unit(3, 4);
    zt_do_move_apart(w, a, b, 1);
    EXPECT_EQ(a.position_x, 0.0f);
    EXPECT_NEAR(b.position_x, 12 * 0.6f, 1e-5f);
    EXPECT_NEAR(b.position_y, 12 * 0.8f, 1e-5f);

    Item& c = unit(100, 0);
    Item& d = unit(104, 0);
    d.collide_mass = 3;
    zt_do_move_apart(w, c, d, 0);
    EXPECT_NEAR(d.position_x - c.position_x, 12.0f, 1e-4f);
    EXPECT_NEAR(c.position_x * 1 + d.position_x * 3, 100.0f + 312.0f, 1e-3f);  // mass centre kept

    float before = d.position_x;
    zt_do_move_apart(w, c, d, 0);  // already apart
    EXPECT_EQ(d.position_x, before);
}

TEST_F(ZentarCollide, ImpulseSwapsHeadOnVelocitiesOfEqualMasses) {
    Item& a = unit(0, 0);
    Item& b = unit(10, 0);
    a.motion_vx = 5;
    b.motion_vx = -3;
    zt_do_collide(w, a, b);
    EXPECT_NEAR(a.motion_vx, -3.0f, 1e-5f);
    EXPECT_NEAR(b.motion_vx, 5.0f, 1e-5f);
    EXPECT_NEAR(a.motion_vy, 0.0f, 1e-6f);
    EXPECT_NEAR(dist(a, b), 12.0f, 1e-4f);

    // Heavy and light: momentum is kept.
    Item& c = unit(100, 0);
    Item& d = unit(100, 8);
    c.collide_mass = 4;
    c.motion_vy = 2;
    zt_do_collide(w, c, d);
    EXPECT_NEAR(4 * c.motion_vy + d.motion_vy, 8.0f, 1e-4f);
    EXPECT_GT(d.motion_vy, 0.0f);

    // Coincident: no normal, so no impulse; only the separation.
    Item& e = unit(200, 0);
    Item& f = unit(200, 0);
    e.motion_vx = 7;
    zt_do_collide(w, e, f);
    EXPECT_EQ(e.motion_vx, 7.0f);
    EXPECT_GT(dist(e, f), 0.0f);
}

}  // namespace
