// World operations: teams and users, map layout, send, redirect, change of
// owner, destroy, and the last-stand sound.
#include <cmath>
#include <cstring>

#include "world/zentar_invariants.h"

namespace {

using MiscTest = ZentarWorldTest;

TEST_F(MiscTest, TeamsUsersAndSides) {
    Item* t = team_init(*w, "a-team-with-a-long-name", 0x00ff00);
    EXPECT_STREQ(t->title_value, "a-team-with-a-l");  // 15 characters
    EXPECT_FALSE(t->has_user);
    int c = user_init(*w, "c", 0x123456, t->n)->n, d = user_init(*w, "d", 0, t->n)->n;
    EXPECT_TRUE(sys_same_side(*w, c, d));
    EXPECT_FALSE(sys_same_side(*w, a, b));  // no team: each its own side
    EXPECT_EQ(at(a).user_team_n, a);
    Item* e = user_init(*w, "e", 0, 5000);  // a team slot outside the table: none
    EXPECT_EQ(e->user_team_n, e->n);
    // Surface in the user's colour, aura in the team's.
    EXPECT_EQ(at(c).planet_style.layer[0].color, 0x123456);
    EXPECT_EQ(at(c).planet_style.sprite[1].color, 0x00ff00);
    EXPECT_STREQ(at(c).fleet_image, "ship");
    Item* n = user_init(*w, "neutral", 0x808080, 0);
    EXPECT_EQ(n->user_neutral, 1u);
    EXPECT_STREQ(n->planet_style.layer[0].tex, "planet-tex1");
    EXPECT_EQ(at(c).user_neutral, 0u);

    while (w->live < ZT_ITEMS - 1) item_init(*w);  // full: the scratch record, nothing written
    EXPECT_EQ(team_init(*w, "late", 1)->n, 0);
    EXPECT_EQ(user_init(*w, "late", 1, 0)->n, 0);
    EXPECT_EQ(zentar_invariants(*w), "");
}

TEST_F(MiscTest, SettleWithoutRectangleOnlySpreads) {
    int p = planet(a, 0, 0, 5), q = planet(b, 10, 0, 5);
    int top = w->top;
    uint32_t uid = w->uid_counter;
    z2_settle(*w, 0, 0, 0, 0);
    EXPECT_EQ(w->top, top);
    EXPECT_EQ(w->uid_counter, uid);  // no corner planets were made
    EXPECT_GE(std::hypot(at(q).position_x - at(p).position_x, at(q).position_y - at(p).position_y),
              12 + 12 + 16 - 0.01f);  // at least 16 apart rim to rim
    EXPECT_FLOAT_EQ(at(p).collide_r, 12);
    EXPECT_EQ(at(p).collide_yield_id, 0);
    EXPECT_EQ(at(p).collide_target, 0);
}

TEST_F(MiscTest, SettleInsideARectangleLeavesNoTrace) {
    std::vector<int> ps;
    for (int i = 0; i < 12; i++) ps.push_back(planet(i % 2 ? a : b, 500 + i, 400 - i, 5, 10 + 5 * i));
    ps.push_back(planet(a, -400, 2000, 5));  // far outside: clamped in
    int top = w->top, live = w->live;
    z2_settle(*w, 0, 0, 600, 400);
    EXPECT_EQ(w->live, live);
    EXPECT_EQ(w->top, top);
    float closest = 1e9f;
    for (int p : ps) {
        const Item& it = at(p);
        EXPECT_FLOAT_EQ(it.collide_r, it.planet_r);
        EXPECT_EQ(it.collide_yield_id, 0);
        EXPECT_TRUE(it.position_x >= it.planet_r - 1 && it.position_x <= 600 - it.planet_r + 1) << p;
        EXPECT_TRUE(it.position_y >= it.planet_r - 1 && it.position_y <= 400 - it.planet_r + 1) << p;
        for (int o : ps)
            if (o != p)
                closest = std::min(closest, std::hypot(it.position_x - at(o).position_x, it.position_y - at(o).position_y) -
                                                it.planet_r - at(o).planet_r);
    }
    EXPECT_GT(closest, 0);  // the pile no longer overlaps
    EXPECT_EQ(zentar_invariants(*w), "");
}

TEST_F(MiscTest, SendRoundsHalfUpAndCapsAtTheGarrison) {
    int p = planet(a, 0, 0, 3), q = planet(b, 300, 0, 0);
    int f = z2_send(*w, 50, p, q);  // 1.5 rounds up to 2
    EXPECT_FLOAT_EQ(at(f).fleet_ships, 2);
    EXPECT_FLOAT_EQ(at(p).ships_value, 1);
    EXPECT_EQ(at(f).fleet_source, p);
    at(p).ships_value = 4;
    EXPECT_EQ(z2_send(*w, 10, p, q), 0);  // 0.4: nothing
    EXPECT_FLOAT_EQ(at(p).ships_value, 4);
    at(p).ships_value = 7.6f;
    f = z2_send(*w, 100, p, q);  // 8, capped at 7.6
    EXPECT_NEAR(at(f).fleet_ships, 7.6f, 1e-5);
    EXPECT_NEAR(at(p).ships_value, 0, 1e-5);
    EXPECT_EQ(zentar_invariants(*w), "");

    int gone = planet(b, 600, 0, 80);
    z2_destroy(*w, gone);
    at(p).ships_value = 50;
    int live = w->live;
    const int bad[][3] = {{50, p, p}, {0, p, q}, {101, p, q}, {50, a, q}, {50, p, a}, {50, gone, q},
                          {50, p, gone}, {50, 0, q}, {50, p, 4096}, {50, -1, q}};
    for (auto& c : bad) EXPECT_EQ(z2_send(*w, c[0], c[1], c[2]), 0) << c[0] << " " << c[1] << " " << c[2];
    at(p).ships_value = NAN;
    EXPECT_EQ(z2_send(*w, 50, p, q), 0);
    EXPECT_EQ(w->live, live);

    // Two garrisons near the float limit merge into an infinite one, which
    // sends the largest count and stays infinite; nothing turns into no number.
    at(p).ships_value = INFINITY;
    at(q).ships_value = 3e38f;
    f = z2_send(*w, 50, p, q);
    ASSERT_NE(f, 0);
    EXPECT_EQ(at(p).ships_value, INFINITY);
    EXPECT_FALSE(std::isnan(at(f).fleet_ships));
    for (int u : items(&Item::has_unit, f)) EXPECT_TRUE(std::isfinite(at(u).ships_value));
    for (int k = 0; k < 600 && at(f).in_use; k++) sys_loop(*w, 0.05f, 0);
    EXPECT_FALSE(at(f).in_use);
    EXPECT_EQ(at(q).owner_n, a);
    EXPECT_FALSE(std::isnan(at(q).ships_value));
    EXPECT_FALSE(std::isnan(at(p).ships_value));
}

TEST_F(MiscTest, RedirectTurnsEveryUnitButKeepsTheirMotion) {
    int p = planet(a, 0, 0, 40), q = planet(b, 300, 0, 0), r = planet(b, 0, 300, 0);
    int f = z2_send(*w, 100, p, q);
    sys_loop(*w, 0.1f, 0);
    std::vector<float> headings;
    for (int u : items(&Item::has_unit)) headings.push_back(at(u).unit_heading);
    at(f).sync_full = 0;
    z2_redirect(*w, f, r);
    EXPECT_EQ(at(f).fleet_target, r);
    EXPECT_EQ(at(f).sync_full, 1);
    size_t k = 0;
    for (int u : items(&Item::has_unit)) {
        EXPECT_EQ(at(u).unit_target, r);
        EXPECT_EQ(at(u).collide_group, _unit_group(a, r));
        EXPECT_EQ(at(u).unit_heading, headings[k++]);
    }
    const std::pair<int, int> bad[] = {{p, q}, {f, a}, {f, 9999}, {-2, q}};
    for (auto [fleet, to] : bad) z2_redirect(*w, fleet, to);
    EXPECT_EQ(at(f).fleet_target, r);  // none of those was a fleet and a planet
    EXPECT_EQ(zentar_invariants(*w), "");
}

TEST_F(MiscTest, LastStandPlaysOnceForTheLastFleet) {
    int p = planet(a, 0, 0, 1), q = planet(b, 300, 0, 10);
    int f = z2_send(*w, 100, p, q);
    z2_redirect(*w, f, q);  // still owns a planet
    z2_chown(*w, p, b);
    int other = z2_send(*w, 50, q, p);
    sounds.clear();
    z2_redirect(*w, f, p);  // another fleet is still flying
    EXPECT_TRUE(sounds.empty());
    z2_destroy(*w, other);
    z2_redirect(*w, f, p);
    EXPECT_EQ(sounds, std::vector<std::string>{"sfx-kazoo"});
    EXPECT_EQ(w->lost_fleet, f);
    z2_redirect(*w, f, q);  // not twice in a row for the same fleet
    EXPECT_EQ(sounds.size(), 1u);
    sys_hooks.sound = nullptr;  // headless: silent, but the fleet is still marked
    w->lost_fleet = 0;
    z2_redirect(*w, f, p);
    EXPECT_EQ(w->lost_fleet, f);
}

TEST_F(MiscTest, ChownTakesTheNewOwnersLookAndRules) {
    int p = planet(a, 50, 50, 10);
    at(b).planet_mask = 1;
    at(b).ships_production_enabled = 0;
    z2_chown(*w, p, b);
    EXPECT_EQ(at(p).owner_n, b);
    EXPECT_EQ(at(p).render_color, 0x0000ff);
    EXPECT_EQ(at(p).planet_mask, 1);
    EXPECT_EQ(at(p).ships_production_enabled, 0u);
    EXPECT_EQ(std::memcmp(&at(p).planet_style, &at(b).planet_style, sizeof(PlanetStyle)), 0);
    EXPECT_GT(w->parts_count, 0);  // the capture burst
    EXPECT_EQ(sounds, std::vector<std::string>{"sfx-explode"});
    w->clip[0] = w->clip[1] = 100;
    w->clip[2] = w->clip[3] = 100;
    z2_chown(*w, p, a);  // outside the clip rectangle: silent
    EXPECT_EQ(sounds.size(), 1u);
    w->clip[0] = w->clip[1] = 0;
    z2_chown(*w, p, b);  // inside: heard
    EXPECT_EQ(sounds.size(), 2u);
    z2_chown(*w, 0, a);
    z2_chown(*w, p, 77777);
    EXPECT_EQ(at(p).owner_n, b);
    EXPECT_EQ(zentar_invariants(*w), "");
}

TEST_F(MiscTest, DestroyCascadesAndKeepsTotals) {
    int p = planet(a, 0, 0, 60), q = planet(b, 400, 0, 10), r = planet(b, 0, 400, 10);
    int f1 = z2_send(*w, 50, p, q), f2 = z2_send(*w, 50, p, r);
    w->active_changed = 0;
    z2_destroy(*w, q);  // the planet takes the fleets bound for it
    EXPECT_FALSE(at(q).in_use || at(f1).in_use);
    EXPECT_TRUE(items(&Item::has_unit, f1).empty());
    EXPECT_FALSE(items(&Item::has_unit, f2).empty());
    EXPECT_EQ(w->active_changed, 1);
    EXPECT_EQ(zentar_invariants(*w), "");

    auto units = items(&Item::has_unit, f2);
    ASSERT_GE(units.size(), 2u);
    w->active_changed = 0;
    z2_destroy(*w, units[0]);  // one unit: its fleet's totals follow
    EXPECT_EQ(at(f2).fleet_units, static_cast<int>(units.size()) - 1);
    EXPECT_EQ(w->active_changed, 0);  // units are never synced
    EXPECT_EQ(zentar_invariants(*w), "");
    for (size_t i = 1; i < units.size(); i++) z2_destroy(*w, units[i]);
    EXPECT_FALSE(at(f2).in_use);  // the emptied fleet goes with its last unit
    EXPECT_EQ(w->active_changed, 1);

    int live = w->live;
    for (int n : {q, 0, 4096}) z2_destroy(*w, n);  // already free or outside: counters stay right
    EXPECT_EQ(w->live, live);
    EXPECT_EQ(zentar_invariants(*w), "");

    // A user who goes leaves nothing for whoever takes its slot next: its
    // planets belong to nobody, its fleets go, and a user that named it as
    // its team is a side of its own again.
    int mate = user_init(*w, "mate", 0x00ff00, b)->n;
    int f3 = z2_send(*w, 50, r, p);
    ASSERT_TRUE(at(f3).in_use);
    z2_destroy(*w, b);
    EXPECT_EQ(at(r).owner_n, 0);
    EXPECT_FALSE(at(f3).in_use);
    EXPECT_TRUE(items(&Item::has_unit, f3).empty());
    EXPECT_EQ(at(mate).user_team_n, mate);
    int late = user_init(*w, "late", 0x00ffff, 0)->n;
    EXPECT_EQ(late, b);
    EXPECT_EQ(at(r).owner_n, 0);
    EXPECT_FALSE(sys_same_side(*w, mate, late));
    EXPECT_EQ(zentar_invariants(*w), "");
}

}  // namespace
