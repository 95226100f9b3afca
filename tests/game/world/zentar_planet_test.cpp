// Planet creation, the name generator and the default planet styles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "world/zentar.h"

namespace {

uint32_t seed_of(uint32_t prod, uint32_t ships, uint32_t x, uint32_t y) {
    return ((prod * 256u + ships) * 256u + x) * 256u + y;
}

TEST(ZentarNames, KnownSeedsShapeAndDraws) {
    EXPECT_STREQ(_zt_gen_name(0), "paxa");
    EXPECT_STREQ(_zt_gen_name(12345678), "eravux");
    auto vowel = [](char c) { return std::strchr("aeiou", c) != nullptr; };
    for (uint32_t i = 0; i < 30000; i++) {
        std::string name = _zt_gen_name(i * 2654435761u);
        ASSERT_TRUE(name.size() >= 4 && name.size() <= 8) << name;
        for (size_t k = 1; k < name.size(); k++) ASSERT_NE(vowel(name[k]), vowel(name[k - 1])) << name;
    }
    uint32_t s = 0x1234;
    EXPECT_EQ(_zt_gen_rand(s), 0x1234u + 0x41u);  // table entry 0x34
    EXPECT_EQ(s, 0x123u);
}

struct ZentarPlanet : ::testing::Test {
    std::unique_ptr<Zentar> wp = std::make_unique<Zentar>();
    Zentar& w = *wp;
    int owner = 0;
    void SetUp() override {
        sys_init(w);
        Item* u = item_init(w);
        u->ships_value_factor = 1.0f;
        u->ships_production_enabled = 1;
        u->planet_mask = 3;
        owner = u->n;
    }
};

TEST_F(ZentarPlanet, SizeMassAndCollisionFollowProduction) {
    struct { float prod, r; } cases[] = {{0, 12}, {15, 12}, {100, 24}, {10000, 1421.647f}};
    for (auto c : cases) {
        Item* p = planet_init(w, owner, 10, 20, c.prod, 5);
        EXPECT_NEAR(p->planet_r, c.r, 0.01f) << c.prod;
        EXPECT_EQ(p->collide_r, p->planet_r);
        EXPECT_EQ(p->fleet_r, p->planet_r);
        EXPECT_NEAR(p->collide_mass, 3.14159265f * c.r * c.r, c.r * c.r * 1e-4f);
        EXPECT_EQ(p->collide_group, 1);
        EXPECT_EQ(p->collide_yield_mask + p->collide_yield_id, 0);
        EXPECT_TRUE(p->planet_seed >= 0 && p->planet_seed <= 9998);
    }
}

TEST_F(ZentarPlanet, OwnerScalesShipsAndTheNameUsesTheScaledCount) {
    w.items[owner].ships_value_factor = 2.0f;
    planet_style_init(w, owner, 0x112233, 0x445566, "lava", nullptr);
    Item* p = planet_init(w, owner, 30, 40, 50, 10);
    EXPECT_TRUE(p->has_planet && p->has_object && p->has_ships && p->has_owner && p->has_position &&
                p->has_title && p->has_collide && p->has_select);
    EXPECT_EQ(p->owner_n, owner);
    EXPECT_EQ(p->ships_value, 20.0f);
    EXPECT_EQ(p->ships_production_enabled, 1u);
    EXPECT_EQ(p->planet_mask, 3);
    EXPECT_STREQ(p->title_value, _zt_gen_name(seed_of(50, 20, 30, 40)));
    EXPECT_EQ(std::memcmp(&p->planet_style, &w.items[owner].planet_style, sizeof(PlanetStyle)), 0);

    // An owner slot outside the table reads as zero.
    Item* q = planet_init(w, 5000, 0, 0, 30, 5);
    EXPECT_EQ(q->ships_value, 0.0f);
    EXPECT_EQ(q->ships_production_enabled, 0u);
}

TEST_F(ZentarPlanet, NamesRepeatForTheSameInputsAndWrapOddCoordinates) {
    Item* a = planet_init(w, owner, 100, 200, 60, 12);
    Item* b = planet_init(w, owner, 100, 200, 60, 12);
    EXPECT_STREQ(a->title_value, b->title_value);
    // Negative terms wrap, huge ones saturate at the int range, NaN counts 0.
    Item* c = planet_init(w, owner, -5, 1e30f, 20, 3);
    EXPECT_STREQ(c->title_value, _zt_gen_name(seed_of(20, 3, static_cast<uint32_t>(-5), 0x7fffffffu)));
    Item* d = planet_init(w, owner, NAN, -70000, 20, 3);
    EXPECT_STREQ(d->title_value, _zt_gen_name(seed_of(20, 3, 0, static_cast<uint32_t>(-70000))));
    Item* e = planet_init(w, owner, -INFINITY, 7, NAN, 3e9f);
    EXPECT_STREQ(e->title_value, _zt_gen_name(seed_of(0, 0x7fffffffu, 0x80000000u, 7)));

    a->ships_value = 77.9f;
    a->position_x = 250;
    zt_gen_name(*a);
    EXPECT_STREQ(a->title_value, _zt_gen_name(seed_of(60, 77, 250, 200)));
}

TEST_F(ZentarPlanet, FullTableWritesNoSlot) {
    while (item_init(w)->n) {}
    std::unique_ptr<Zentar> copy = std::make_unique<Zentar>(w);
    Item* p = planet_init(w, owner, 1, 2, 100, 8);
    EXPECT_EQ(p->n, 0);
    EXPECT_EQ(p->planet_r, 24.0f);  // the scratch record is filled all the same
    planet_style_init(w, 0, 1, 2, "gas", nullptr);
    planet_style_init(w, -3, 1, 2, "gas", nullptr);
    planet_style_init(w, ZT_ITEMS, 1, 2, "gas", nullptr);
    EXPECT_EQ(std::memcmp(copy.get(), &w, sizeof(Zentar)), 0);
}

// ---- styles ---------------------------------------------------------------------------

struct ZentarStyle : ZentarPlanet {
    PlanetStyle& style(const char* name, const char* aura = nullptr) {
        Item& it = w.items[owner];
        std::memset(&it.planet_style, 0xee, sizeof(PlanetStyle));  // stale bytes must not leak
        planet_style_init(w, owner, 0x102030, 0x405060, name, aura);
        return it.planet_style;
    }
    static void expect_layer(const PlanetLayer& l, int colour, const char* tex, int flags, float alpha) {
        EXPECT_EQ(l.color, colour);
        EXPECT_STREQ(l.tex, tex);
        for (size_t i = std::strlen(tex); i < sizeof(l.tex); i++) EXPECT_EQ(l.tex[i], 0);
        EXPECT_EQ(l.core, 0);
        EXPECT_EQ(l.flags, flags);
        EXPECT_EQ(l.alpha, alpha);
    }
};

TEST_F(ZentarStyle, TableOfStyles) {
    expect_layer(style("neutral").layer[0], 0x102030, "planet-tex1", 0x1805, 0.5f);
    expect_layer(style("gas").layer[0], 0x102030, "planet-tex2", 0x0c09, 0.65f);
    EXPECT_EQ(style("gas").layer[1].flags, 0);
    PlanetStyle& ice = style("ice");
    EXPECT_EQ(ice.layer[0].flags, 0);  // only the second surface is drawn
    expect_layer(ice.layer[1], 0x102030, "planet-tex3", 0x0e09, 0.65f);
    PlanetStyle& lava = style("lava");
    expect_layer(lava.layer[0], 0x102030, "planet-tex0", 0x0805, 1.0f);
    expect_layer(lava.layer[1], 0xffaa00, "planet-tex4", 0x0a09, 1.0f);
    expect_layer(style(nullptr).layer[0], 0x102030, "planet-tex0", 0x0805, 1.0f);
    PlanetStyle& other = style("plaid");
    expect_layer(other.layer[0], 0x102030, "planet-tex0", 0x0805, 1.0f);
    EXPECT_EQ(other.layer[1].flags, 0);
}

TEST_F(ZentarStyle, AuraIsTheSecondSprite) {
    PlanetStyle& s = style("gas");
    EXPECT_EQ(s.sprite[0].enabled, 0);
    EXPECT_EQ(s.sprite[1].enabled, 1);
    EXPECT_EQ(s.sprite[1].color, 0x405060);
    EXPECT_STREQ(s.sprite[1].tex, "planet-aura");
    EXPECT_EQ(s.sprite[1].tex[15], 0);
    EXPECT_STREQ(style("gas", "a-very-long-aura-name").sprite[1].tex, "a-very-long-aur");
}

}  // namespace
