// Fleets and units: the unit budget, launch, steering, combat, crashes,
// arrival and capture, and the spending that frees units and fleets.
#include <cmath>
#include <cstring>

#include "world/zentar_invariants.h"

namespace {

const float PI = 3.14159265358979f;

class FleetTest : public ZentarWorldTest {
protected:
    // A fleet of exactly one unit carrying `ships`, put at (x, y); returns the unit.
    int lone_unit(int owner, float ships, float x, float y, int target, int crash = 0) {
        Item* f = item_init(*w);
        _fleet_init(*w, owner, ships, x, y, target, f->n, 1);
        int u = items(&Item::has_unit, f->n).at(0);
        at(u).position_x = at(u).unit_last_x = x;
        at(u).position_y = at(u).unit_last_y = y;
        at(u).fleet_crash = crash;
        return u;
    }
    void pad_to_live(int live) {
        while (w->live < live) item_init(*w);
    }
};

TEST_F(FleetTest, UnitBudget) {
    int p = planet(a, 0, 0, 100), q = planet(b, 300, 0, 0);
    pad_to_live(80);
    EXPECT_EQ(_fleet_items_available(*w), 2000);
    EXPECT_EQ(_fleet_init_units(*w, 50), 29);  // min(sqrt(850), 2000 x 50 / 100)
    Item* f = fleet_init(*w, a, 50, p, q);
    ASSERT_EQ(f->fleet_units, 29);
    for (int u : items(&Item::has_unit)) EXPECT_FLOAT_EQ(at(u).ships_value, 50.0f / 29);
    EXPECT_EQ(zentar_invariants(*w), "");

    // Odd cargo gives a sane count, never an overflowing conversion.
    EXPECT_EQ(_fleet_init_units(*w, 1), 1);
    EXPECT_EQ(_fleet_init_units(*zentar_new_world(), 50), 29);  // no ships anywhere: the whole budget
    EXPECT_EQ(_fleet_init_units(*w, NAN), 1);
    EXPECT_LE(_fleet_init_units(*w, 1e30f), ZT_ITEMS);

    planet(b, 1000, 1000, 950);
    pad_to_live(4000);
    EXPECT_EQ(_fleet_init_units(*w, 50), 1);  // 40 x 50 / 1050
    w->clip[0] = w->clip[1] = -50;
    w->clip[2] = w->clip[3] = 100;  // only the 100-ship planet is in view
    EXPECT_EQ(_fleet_init_units(*w, 50), 20);
    pad_to_live(4080);
    EXPECT_EQ(_fleet_init_units(*w, 500), 1);
}

TEST_F(FleetTest, LaunchFromTheRimOrNotAtAll) {
    int p = planet(a, 100, 100, 100, 100);  // radius 24
    int q = planet(b, 100, 500, 0);
    int live = w->live;
    for (float ships : {0.5f, NAN}) EXPECT_EQ(fleet_init(*w, a, ships, p, q)->n, 0);
    for (int to : {p, 0, 4096, b}) EXPECT_EQ(fleet_init(*w, a, 10, p, to)->n, 0);
    // Nobody's units never move (a destroyed user leaves its planets to nobody).
    for (int owner : {0, q, 4096}) EXPECT_EQ(fleet_init(*w, owner, 10, p, q)->n, 0) << owner;
    // A source or target without a place has no rim to start from.
    struct Odd {
        int end;
        float Item::*f;
        float v;
    };
    for (Odd o : {Odd{p, &Item::position_x, NAN}, Odd{q, &Item::position_x, NAN}, Odd{p, &Item::collide_r, INFINITY}}) {
        float keep = at(o.end).*o.f;
        at(o.end).*o.f = o.v;
        EXPECT_EQ(fleet_init(*w, a, 10, p, q)->n, 0);
        at(o.end).*o.f = keep;
    }
    EXPECT_EQ(w->live, live);

    at(a).fleet_v_factor = 2;
    Item* f = fleet_init(*w, a, 9, p, q);
    EXPECT_FLOAT_EQ(f->position_x, 100);
    EXPECT_FLOAT_EQ(f->position_y, 124);
    EXPECT_FLOAT_EQ(f->unit_speed, 80);
    EXPECT_EQ(f->fleet_target, q);
    EXPECT_EQ(f->render_color, 0xff0000);
}

TEST_F(FleetTest, FullTableKeepsTheUnitsMade) {
    int p = planet(a, 0, 0, 100), q = planet(b, 300, 0, 0);
    pad_to_live(ZT_ITEMS - 1 - 4);
    Item* f = item_init(*w);
    EXPECT_EQ(_fleet_init(*w, a, 30, 0, 0, q, f->n, 10), f);
    EXPECT_EQ(f->fleet_units, 3);  // three slots were left
    EXPECT_FLOAT_EQ(f->fleet_ships, 9);

    z2_destroy(*w, f->n);
    pad_to_live(ZT_ITEMS - 2);  // room for the fleet item only
    EXPECT_EQ(z2_send(*w, 50, p, q), 0);
    EXPECT_FLOAT_EQ(at(p).ships_value, 100);
    EXPECT_EQ(w->live, ZT_ITEMS - 2);
    for (int bad : {0, 99999}) EXPECT_EQ(_fleet_init(*w, a, 5, 0, 0, q, bad, 3)->n, 0);
    EXPECT_EQ(zentar_invariants(*w), "");
}

// With two slots left a launch still flies, as one unit carrying the whole
// cargo; with one slot left nothing is launched and nothing is lost.
TEST_F(FleetTest, NearlyFullTableLaunchesOneUnitOrNothing) {
    int p = planet(a, 0, 0, 100, 0), q = planet(b, 300, 0, 0);
    pad_to_live(ZT_ITEMS - 3);  // 4093 used, 2 free
    int f = z2_send(*w, 50, p, q);
    ASSERT_NE(f, 0);
    ASSERT_EQ(items(&Item::has_unit, f).size(), 1u);
    EXPECT_EQ(at(f).fleet_units, 1);
    EXPECT_FLOAT_EQ(at(f).fleet_ships, 50);
    EXPECT_FLOAT_EQ(at(p).ships_value, 50);
    EXPECT_EQ(w->live, ZT_ITEMS - 1);
    for (int i = 0; i < 5; i++) sys_loop(*w, 1 / 60.0f, 1);
    EXPECT_EQ(at(f).fleet_units, 1);  // it flies
    EXPECT_EQ(zentar_invariants(*w), "");

    // Free one slot in the middle of the table: 4094 used, 1 free.
    int hole = 2000;
    ASSERT_FALSE(at(hole).has_planet || at(hole).has_unit || at(hole).has_fleet || at(hole).has_user);
    item_deinit(*w, &at(hole));
    uint32_t uids = w->uid_counter;
    EXPECT_EQ(z2_send(*w, 50, p, q), 0);
    EXPECT_EQ(fleet_init(*w, a, 10, p, q)->n, 0);
    EXPECT_FLOAT_EQ(at(p).ships_value, 50);
    EXPECT_EQ(w->live, ZT_ITEMS - 2);
    EXPECT_EQ(w->uid_counter, uids);  // not even a uid was spent
    EXPECT_FALSE(at(hole).in_use);
    EXPECT_EQ(items(&Item::has_fleet).size(), 1u);
    EXPECT_EQ(zentar_invariants(*w), "");

    // Room again: the next launch goes.
    item_deinit(*w, &at(hole - 1));
    f = z2_send(*w, 100, p, q);
    ASSERT_NE(f, 0);
    EXPECT_EQ(at(f).fleet_units, 1);
    EXPECT_FLOAT_EQ(at(p).ships_value, 0);
    EXPECT_EQ(zentar_invariants(*w), "");
}

// Bookkeeping of fleets without units and budgets over empty or broken
// totals: finite results, never a division by zero.
TEST_F(FleetTest, EmptyFleetsAndOddTotalsStayFinite) {
    int q = planet(b, 300, 0, 0);
    for (int units : {0, -3}) {
        Item* f = item_init(*w);
        f->has_fleet = 1;
        f->fleet_units = units;
        f->position_x = 40;
        f->fleet_target = q;
        fleets_loop(*w);
        EXPECT_EQ(f->position_x, 0);
        EXPECT_EQ(f->position_y, 0);
        EXPECT_TRUE(std::isfinite(f->fleet_r));
        z2_destroy(*w, f->n);
    }

    // Every planet empty or in debt: total 0, the whole budget is the launch's.
    at(q).ships_value = -40;
    planet(a, 0, 0, 0);
    int avail = _fleet_items_available(*w);
    EXPECT_EQ(_fleet_init_units(*w, 50), 29);
    EXPECT_EQ(_fleet_init_units(*w, 0), 1);
    EXPECT_EQ(_fleet_init_units(*w, -5), 1);
    EXPECT_EQ(_fleet_init_units(*w, -INFINITY), 1);
    EXPECT_EQ(_fleet_init_units(*w, INFINITY), avail);
    at(q).ships_value = NAN;  // ignored, like a negative count
    EXPECT_EQ(_fleet_init_units(*w, 50), 29);
    at(q).ships_value = INFINITY;
    EXPECT_EQ(_fleet_init_units(*w, 50), 1);  // a vanishing share
    EXPECT_EQ(_fleet_init_units(*w, INFINITY), avail);  // inf of inf: all of it

    pad_to_live(4090);  // no budget left
    EXPECT_EQ(_fleet_items_available(*w), 0);
    for (float ships : {50.0f, INFINITY, 0.0f, NAN}) EXPECT_EQ(_fleet_init_units(*w, ships), 1) << ships;
}

TEST_F(FleetTest, NewUnitsFlyAndGroup) {
    int q = planet(b, 1000, 0, 0);
    std::strcpy(at(a).fleet_image, "arrow");
    Item* u = unit_init(*w, item_init(*w)->n, a, 0, 0, q, 3);
    EXPECT_STREQ(u->image_src, "arrow");
    EXPECT_EQ(u->has_sync, 0);
    EXPECT_EQ(u->collide_group, ((a << 12) | q) << 8);
    EXPECT_EQ(u->collide_yield_id, u->collide_group);
    EXPECT_NEAR(u->position_x, 6, 1e-4);  // six pre-steps of 1/40 s at 40
    EXPECT_NEAR(u->image_a, PI / 2, 1e-4);
    EXPECT_EQ(_unit_group(4095, 4095), static_cast<int32_t>(((4095u << 12) | 4095u) << 8));
}

TEST_F(FleetTest, SteeringTurnsGraduallyAndEverFaster) {
    int q = planet(b, 0, 500, 0);
    Item& u = at(lone_unit(a, 5, 0, 0, q));
    u.unit_heading = PI;
    unit_move(*w, u, 0.025f);  // first move: straight at the target
    EXPECT_NEAR(u.unit_heading, PI / 2, 1e-5);
    u.ticks = 5;
    u.unit_heading = 0;
    unit_move(*w, u, 0.025f);  // then one increment per 1/40 s
    EXPECT_NEAR(u.unit_heading, PI / 32, 1e-5);
    unit_move(*w, u, 0.05f);
    EXPECT_NEAR(u.unit_heading, 3 * PI / 32, 1e-5);
    u.unit_heading = PI / 2 - 0.01f;  // within one increment: settles
    unit_move(*w, u, 0.025f);
    EXPECT_EQ(u.unit_turn_time, 0);

    // A target inside the turning circle: the unit circles, turning faster.
    Item& c = at(lone_unit(a, 5, 0, 0, planet(b, 0, 4, 0)));
    c.ticks = 1;
    float rate = c.unit_turn_rate;
    for (int i = 0; i < 200; i++, c.ticks++) {
        float before = c.unit_turn_rate;
        unit_move(*w, c, 0.025f);
        ASSERT_GE(c.unit_turn_rate, before);
        ASSERT_LE(std::fabs(c.unit_heading), PI + 1e-5f);
    }
    EXPECT_GT(c.unit_turn_rate, rate);
}

// Combat: each row is two touching enemy units (ships, strength) and what
// each carries afterwards (0 = destroyed).
TEST_F(FleetTest, CombatRules) {
    struct Row { float su; int cu; float sv; int cv; float after_u, after_v; bool sound; };
    const Row rows[] = {
        {10, 0, 10, 0, 10, 10, false},    // no strength on either side: no fight
        {10, 200, 10, 0, 5, 0, true},     // 200 against 100: half of the weaker's ships
        {4, 300, 10, 300, 0, 6, true},    // equal: ship for ship
        {4, -500, 10, 0, 0, 6, true},     // out-of-range strength fights as 100
    };
    int q = planet(b, 1000, 0, 0), r = planet(a, -1000, 0, 0);
    for (const Row& row : rows) {
        sounds.clear();
        int u = lone_unit(a, row.su, 0, 0, q, row.cu), v = lone_unit(b, row.sv, 5, 0, r, row.cv);
        int fu = at(u).unit_fleet;
        at(u).collide_target = v;
        at(v).collide_target = u;
        unit_logic(*w, at(u));
        EXPECT_EQ(at(u).in_use ? at(u).ships_value : 0, row.after_u) << row.su << " vs " << row.sv;
        EXPECT_EQ(at(v).in_use ? at(v).ships_value : 0, row.after_v) << row.su << " vs " << row.sv;
        EXPECT_EQ(at(fu).in_use, row.after_u > 0);  // a fleet goes with its last unit
        EXPECT_EQ(sounds.size(), row.sound ? 1u : 0u);
        EXPECT_EQ(at(v).in_use ? at(v).collide_target : 0, 0);  // it pointed back: cleared
        EXPECT_EQ(zentar_invariants(*w), "");
        for (int it : items(&Item::has_fleet)) z2_destroy(*w, it);
    }
    // Teammates never fight; a fight out of view is silent.
    int team = team_init(*w, "t", 0)->n;
    int c = user_init(*w, "c", 0, team)->n, d = user_init(*w, "d", 0, team)->n;
    int u = lone_unit(c, 4, 0, 0, q, 500), v = lone_unit(d, 4, 5, 0, q, 500);
    at(u).collide_target = v;
    unit_logic(*w, at(u));
    EXPECT_FLOAT_EQ(at(v).ships_value, 4);
    unit_use(*w, at(v), -7);  // a negative loss never adds ships
    EXPECT_FLOAT_EQ(at(v).ships_value, 4);
    w->clip[0] = w->clip[1] = 100;
    w->clip[2] = w->clip[3] = 50;
    sounds.clear();
    int e = lone_unit(b, 4, 5, 0, r, 100);
    at(e).collide_target = u;
    unit_logic(*w, at(e));
    EXPECT_FALSE(at(u).in_use && at(e).in_use);
    EXPECT_TRUE(sounds.empty());
}

TEST_F(FleetTest, GuardedPlanetWrecksOnlyEnemies) {
    int q = planet(b, 100, 0, 7), mine = planet(a, -100, 0, 7);
    at(q).planet_mask = at(mine).planet_mask = 1;
    int u = lone_unit(a, 5, 80, 0, q), v = lone_unit(a, 5, -80, 0, q);
    at(u).collide_target = q;
    at(v).collide_target = mine;
    unit_logic(*w, at(u));
    unit_logic(*w, at(v));
    EXPECT_FALSE(at(u).in_use);
    EXPECT_TRUE(at(v).in_use);
    EXPECT_FLOAT_EQ(at(q).ships_value, 7);
    EXPECT_EQ(sounds, std::vector<std::string>{"sfx-hit"});
}

// Arrival: each row is a unit of a landing on a planet of b.
TEST_F(FleetTest, ArrivalAndCapture) {
    struct Row { float cargo, garrison; int mask; float after; bool captured; };
    const Row rows[] = {
        {10, 4, 0, 6, true},    // the surplus is the new garrison
        {10, 10, 0, 0, false},  // emptied, not taken
        {10, 3, 2, 3, false},   // enemy arrivals do not lower it
    };
    at(a).planet_mask = 2;
    for (const Row& row : rows) {
        sounds.clear();
        int q = planet(b, 100, 0, row.garrison);
        at(q).planet_mask = row.mask;
        int u = lone_unit(a, row.cargo, 90, 0, q);
        unit_loop(*w, at(u), 0.01f);
        EXPECT_FALSE(at(u).in_use);
        EXPECT_FLOAT_EQ(at(q).ships_value, row.after);
        EXPECT_EQ(at(q).owner_n, row.captured ? a : b);
        if (row.captured) {  // the new owner's look and rules
            EXPECT_EQ(at(q).planet_mask, 2);
            EXPECT_EQ(std::memcmp(&at(q).planet_style, &at(a).planet_style, sizeof(PlanetStyle)), 0);
            EXPECT_EQ(sounds, (std::vector<std::string>{"sfx-hit", "sfx-explode"}));
        }
        z2_destroy(*w, q);
    }
    int q = planet(b, 100, 0, 3);  // friends arrive quietly and add up
    unit_loop(*w, at(lone_unit(b, 10, 90, 0, q)), 0.01f);
    EXPECT_FLOAT_EQ(at(q).ships_value, 13);
    // No number for the distance: landed, or the ships would fly for ever.
    for (float Item::*f : {&Item::collide_r, &Item::position_y}) {
        int far = lone_unit(b, 1, 900, 900, q);
        float keep = at(q).*f;
        at(q).*f = NAN;
        unit_loop(*w, at(far), 0.01f);
        at(q).*f = keep;
        EXPECT_FALSE(at(far).in_use);
    }
    EXPECT_FLOAT_EQ(at(q).ships_value, 15);

    int u = lone_unit(a, 10, 90, 0, q);  // the target was freed behind the world's back
    item_deinit(*w, &at(q));
    unit_loop(*w, at(u), 0.01f);
    EXPECT_FALSE(at(u).in_use);
    EXPECT_FLOAT_EQ(at(q).ships_value, 15);
}

TEST_F(FleetTest, MirroredPlanetsAreCapturedOnlyByTheHost) {
    int q = planet(b, 100, 0, 4);
    at(q).sync_index = 17;
    w->lag = 100;
    int u = lone_unit(a, 10, 90, 0, q);
    at(at(u).unit_fleet).sync_hold_until = -1;  // a fleet this client predicted
    unit_loop(*w, at(u), 0.01f);
    EXPECT_EQ(at(q).owner_n, b);
    EXPECT_FLOAT_EQ(at(q).ships_value, -6);
    EXPECT_EQ(at(q).sync_hold_until, 5150);  // now + 1.5 x lag
    at(q).sync_hold_until = 0;
    unit_loop(*w, at(lone_unit(a, 1, 90, 0, q)), 0.01f);  // a host fleet holds nothing
    EXPECT_EQ(at(q).sync_hold_until, 0);

    // A lag from the network far out of range saturates; a hold is never
    // negative (that marks a predicted fleet).
    for (auto [lag, hold] : {std::pair{INT32_MAX, INT32_MAX}, std::pair{INT32_MIN, 0}}) {
        w->lag = lag;
        u = lone_unit(a, 1, 90, 0, q);
        at(at(u).unit_fleet).sync_hold_until = -1;
        unit_loop(*w, at(u), 0.01f);
        EXPECT_EQ(at(q).sync_hold_until, hold) << lag;
    }
}

TEST_F(FleetTest, SpendingFreesTheUnitThenTheFleet) {
    Item* f = item_init(*w);
    int fleet = f->n;
    _fleet_init(*w, a, 6, 0, 0, planet(b, 1000, 0, 0), fleet, 2);
    auto u = items(&Item::has_unit);
    unit_use(*w, at(u[0]), 2.9995f);  // less than 0.001 left: gone
    EXPECT_FALSE(at(u[0]).in_use);
    EXPECT_EQ(at(fleet).fleet_units, 1);
    EXPECT_NEAR(at(fleet).fleet_ships, 3.0005f, 1e-5);
    EXPECT_TRUE(gone.empty());
    unit_destroy(*w, at(u[1]));
    EXPECT_FALSE(at(fleet).in_use);
    EXPECT_EQ(gone, std::vector<int>{fleet});
    EXPECT_EQ(zentar_invariants(*w), "");
}

}  // namespace
