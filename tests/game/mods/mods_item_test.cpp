// What mods see of world items through ModsAPI: the key table of item_get /
// item_set (ranges, field widths, texts cut to their fields, read-only and
// set-only keys, hostile numbers), the item search query, and planet style
// blocks built from JSON.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "mods/mods_api.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

using V = std::vector<int>;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

class ModsItemTest : public ::testing::Test {
protected:
    std::unique_ptr<ModsGame> game = std::make_unique<ModsGame>();
    std::unique_ptr<ModsAPI> api;

    void SetUp() override {
        game->headless = 1;
        sys_init(game->world);
        api = std::make_unique<ModsAPI>(*game);
    }
    Zentar& world() { return game->world; }
    Item& item(int n) { return game->world.items[n]; }

    // The error a write leaves ("" for none), cleared for the next call.
    std::string set(int n, const std::string& key, const var& v) {
        api->item_set(n, key, v);
        std::string e = api->api_error() ? api->api_error_get() : "";
        api->api_error_clear();
        return e;
    }
    V find(const std::string& q) {
        var list = api->items_find(q);
        V out;
        for (int i = 0; i < list.__len__(); i++) out.push_back((int)list[i]);
        return out;
    }
};

// ==== key table ====================================================================

TEST_F(ModsItemTest, IntegerRangesAcceptTheirEdgesOnly) {
    struct Case { const char* key; double lo, hi; };
    const Case cases[] = {
        {"owner_n", 1, 4095},         {"user_team_n", 1, 4095},     {"label_align", -1, 1},
        {"render_color", 0, 0xffffff}, {"render_alpha", 0, 255},      {"render_zindex", -1, 1},
        {"ui_ships_show_mask", 0, 31}, {"ui_to_mask", 0, 15},         {"fleet_crash", 0, 1000},
        {"planet_mask", 0, 15},       {"planet_color", 0, 0xffffff},
    };
    int n = api->item_init();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        for (double v : {c.lo, c.hi}) {
            EXPECT_EQ(set(n, c.key, var(v)), "");
            EXPECT_EQ(api->item_get(n, c.key).__num__(), v);
        }
        Item before = item(n);  // a refused write changes nothing
        EXPECT_EQ(set(n, c.key, var(c.lo - 1)), "out of range");
        EXPECT_EQ(set(n, c.key, var(c.hi + 1)), "out of range");
        EXPECT_EQ(std::memcmp(&before, &item(n), sizeof(Item)), 0);
    }
    EXPECT_EQ(set(n, "render_alpha", var(255.9)), "");  // truncated first
    EXPECT_EQ(item(n).render_alpha, 255);
    set(n, "owner_n", var(0));
    EXPECT_EQ(api->log[0], "ModsAPI::item_set(" + std::to_string(n) + ",\"owner_n\",0) out of range");
}

TEST_F(ModsItemTest, HostileNumbersNeitherWrapNorSaturateIntoRange) {
    int n = api->item_init();
    item(n).owner_n = 7;
    item(n).position_x = 3;
    for (double v : {NaN, Inf, -Inf, 1e300, 4294967297.0}) {
        EXPECT_EQ(set(n, "owner_n", var(v)), "out of range") << v;
        EXPECT_EQ(set(n, "label_size", var(v)), "out of range") << v;  // i32, no other range
        EXPECT_EQ(set(n, "parts_style", var(v)), "out of range") << v;
    }
    EXPECT_EQ(item(n).owner_n, 7);
    EXPECT_EQ(set(n, "label_size", var(-2147483648.0)), "");
    EXPECT_EQ(item(n).label_size, INT32_MIN);
    EXPECT_EQ(set(n, "parts_style", var(-1)), "out of range");
    // Floats: a finite number beyond the field is refused; infinities are floats.
    EXPECT_EQ(set(n, "position_x", var(1e300)), "out of range");
    EXPECT_EQ(item(n).position_x, 3);
    EXPECT_EQ(set(n, "position_x", var(-Inf)), "");
    EXPECT_EQ(item(n).position_x, -std::numeric_limits<float>::infinity());
}

TEST_F(ModsItemTest, TextsAreCutToTheFieldLessOneAndNeverSpill) {
    int n = api->item_init();
    std::memset(item(n).label_font, 'F', sizeof(item(n).label_font));
    set(n, "label_text", var(std::string(50, 'x')));
    EXPECT_EQ(api->item_get(n, "label_text").__str__(), std::string(39, 'x'));
    EXPECT_EQ(item(n).label_font[0], 'F');  // the next field is untouched
    set(n, "label_text", var("hi"));        // and a short text clears the rest
    EXPECT_EQ(std::string(item(n).label_text, 40), "hi" + std::string(38, '\0'));
    set(n, "user_rank", var("abcdef"));
    EXPECT_EQ(api->item_get(n, "user_rank").__str__(), "abc");
    set(n, "title_value", var(2.5));
    EXPECT_EQ(api->item_get(n, "title_value").__str__(), "2.5");

    // Pixel art shares the style bytes: 111 characters, the field after intact...
    std::strcpy(item(n).button_name, "btn");
    EXPECT_EQ(set(n, "draw_pixart", var(std::string(200, 'p'))), "");
    EXPECT_EQ(std::string(item(n).draw_pixart), std::string(111, 'p'));
    EXPECT_STREQ(item(n).button_name, "btn");
    // ...and refused on a planet, whose style it would overwrite.
    int p = planet_init(world(), api->user_init("u", 1, 0), 0, 0, 10, 5)->n;
    PlanetStyle style = item(p).planet_style;
    EXPECT_EQ(set(p, "draw_pixart", var("zzz")), "invalid key");
    EXPECT_EQ(std::memcmp(&style, &item(p).planet_style, sizeof style), 0);
}

TEST_F(ModsItemTest, SpecialKeys) {
    int n = api->item_init();
    set(n, "draw_type", var("Circle"));
    EXPECT_EQ(api->item_get(n, "draw_type").__num__(), 67);
    set(n, "planet_r", var(20));
    EXPECT_EQ(api->item_get(n, "collide_r").__num__(), 20);
    EXPECT_EQ(api->item_get(n, "fleet_r").__num__(), 20);
    set(n, "planet_crash", var(3));
    EXPECT_EQ(api->item_get(n, "planet_mask").__num__(), 3);
    set(n, "render_blend", var(200));  // one byte, read back signed
    EXPECT_EQ(api->item_get(n, "render_blend").__num__(), -56);
    set(n, "user_neutral", var("yes"));
    EXPECT_EQ(api->item_get(n, "user_neutral").__type__(), VAR_BOOL);
    EXPECT_EQ(api->item_get(n, "has_planet").__type__(), VAR_BOOL);  // a Lua 0 would be true
    EXPECT_EQ(item(n).user_neutral, 1u);
    EXPECT_EQ(set(n, "_draw_y3", var(-4)), "");  // a field of its own
    EXPECT_EQ(item(n).draw_y3, 0);
    EXPECT_EQ(item(n)._draw_y3, -4);
}

TEST_F(ModsItemTest, ReadOnlySetOnlyUnknownKeysAndBadItems) {
    int n = api->item_init();
    Item before = item(n);
    for (const char* key : {"has_planet", "fleet_target", "fleet_ships", "collide_r", "fleet_r",
                            "has_title", "sync_id", "in_use", "n", ""})
        EXPECT_EQ(set(n, key, var(1)), "invalid key") << key;
    EXPECT_EQ(set(n, std::string("owner_n\0x", 9), var(1)), "invalid key");
    EXPECT_EQ(std::memcmp(&before, &item(n), sizeof(Item)), 0);
    EXPECT_EQ(api->log[2], "ModsAPI::item_set(" + std::to_string(n) + ",\"n\",?) invalid key");
    for (const char* key : {"planet_style", "parts_style", "draw_pixart", "in_use"}) {
        EXPECT_EQ(api->item_get(n, key).__type__(), VAR_NONE) << key;
        EXPECT_EQ(api->api_error_get(), "invalid key") << key;
    }
    EXPECT_EQ(api->log[0], "ModsAPI::item_get(" + std::to_string(n) + ",\"in_use\") invalid key");
    for (int bad : {0, -1, 4096, n + 1}) {
        EXPECT_EQ(api->item_get(bad, "owner_n").__type__(), VAR_NONE);
        EXPECT_EQ(set(bad, "owner_n", var(1)), "invalid item");
        EXPECT_FALSE(api->item_selected(bad));
        api->item_sync(bad);
        EXPECT_EQ(api->log[0], "ModsAPI::item_sync:n:" + std::to_string(bad) + " invalid item");
    }
}

// ==== search ========================================================================

class ModsFindTest : public ModsItemTest {
protected:
    int team, neutral, red, blue, pn, pr1, pr2, pb, fr, fb;

    void SetUp() override {
        ModsItemTest::SetUp();
        team = api->team_init("t", 0x00ff00);
        item(team).has_team = 1;
        neutral = api->user_init("neutral", 0x808080, 0);
        red = api->user_init("red", 0xff0000, team);
        blue = api->user_init("blue", 0x0000ff, 0);
        pn = planet_init(world(), neutral, 0, 0, 1, 1)->n;
        pr1 = planet_init(world(), red, 100, 0, 1, 1)->n;
        pr2 = planet_init(world(), red, 200, 0, 1, 1)->n;
        pb = planet_init(world(), blue, 300, 0, 1, 1)->n;
        fr = fleet(red, pb, 150);
        fb = fleet(blue, pr1, 250);
        Item* label = ::item_init(world());  // no search flag: never listed
        label->has_label = 1;
        label->owner_n = red;
    }
    // A fleet record flagged as the world's constructor flags it, without units.
    int fleet(int owner, int target, float x) {
        Item* f = ::item_init(world());
        f->has_fleet = f->has_object = 1;
        f->owner_n = owner;
        f->fleet_target = target;
        f->position_x = x;
        return f->n;
    }
    std::string s(int n) { return std::to_string(n); }
};

TEST_F(ModsFindTest, WordsKeysAndOr) {
    EXPECT_EQ(find("planet"), (V{pn, pr1, pr2, pb}));
    EXPECT_EQ(find("team"), (V{team}));
    EXPECT_EQ(find("planet OR fleet"), (V{pn, pr1, pr2, pb, fr, fb}));
    EXPECT_EQ(find("planet -neutral"), (V{pr1, pr2, pb}));
    EXPECT_EQ(find("fleet target:" + s(pb)), (V{fr}));
    EXPECT_EQ(find("owner:" + s(red)), (V{pr1, pr2, fr}));
    EXPECT_EQ(find("planet team:" + s(team)), (V{pr1, pr2}));
    EXPECT_EQ(find("-planet -user -team"), (V{fr, fb}));
    // OR binds tighter than the blank's AND, on either side.
    EXPECT_EQ(find("user OR planet owner:" + s(red)), (V{pr1, pr2}));
    EXPECT_EQ(find("planet owner:" + s(red) + " OR owner:" + s(blue)), (V{pr1, pr2, pb}));
    EXPECT_EQ(find("OR planet"), find("planet"));
    EXPECT_EQ(find("planet OR x fleet"), find("planet OR fleet"));  // one letter keeps the OR
    EXPECT_EQ(find("planet OR  fleet"), V{});    // an empty piece cancels it
    EXPECT_EQ(find("planet OR foo fleet"), V{});  // so does an unknown word
}

TEST_F(ModsFindTest, EdgeQueries) {
    for (const char* q : {"", "p", " ", "owner:0", "team:abc", "-", "OR", "Planet", "neutral:1", "clip"})
        EXPECT_TRUE(find(q).empty()) << q;  // "clip" too: no clip rectangle yet
    float clip[4] = {50, -10, 200, 20};  // x in [50, 250)
    std::memcpy(world().clip, clip, sizeof clip);
    EXPECT_EQ(find("planet clip"), (V{pn, pb}));
    EXPECT_EQ(find("fleet -clip"), (V{fr}));
    std::string q;
    for (int i = 0; i < 15; i++) q += "planet ";
    EXPECT_EQ(find(q + "-planet").size(), 4u);           // the 16th term is ignored
    EXPECT_TRUE(find(q.substr(7) + "-planet").empty());  // as the 15th it counts
}

TEST_F(ModsFindTest, HostileSlotNumbersStayInsideTheTable) {
    item(pr1).owner_n = 999999;
    item(pr2).owner_n = -5;
    item(fr).owner_n = ZT_ITEMS;
    EXPECT_EQ(find("planet neutral"), (V{pn}));
    EXPECT_EQ(find("team:" + s(team)), V{});
    EXPECT_EQ(find("owner:999999"), (V{pr1}));
    world().top = ZT_ITEMS + 1000;  // a corrupt top never walks past the table
    EXPECT_EQ(find("user").size(), 3u);
}

// ==== planet styles ======================================================================

class ModsStyleTest : public ModsItemTest {
protected:
    int team, user;
    void SetUp() override {
        ModsItemTest::SetUp();
        team = api->team_init("t", 0x123456);
        user = api->user_init("u", 0xabcdef, team);
        item(user).planet_color = 0x445566;
    }
    const PlanetStyle& style(const std::string& text) {
        planet_style_set(*game, item(user), text);
        return item(user).planet_style;
    }
};

TEST_F(ModsStyleTest, DefaultsFlagsLayersAndAura) {
    const PlanetStyle& s = style("{}");
    EXPECT_EQ(s.layer[0].flags, 0x1);
    EXPECT_STREQ(s.layer[0].tex, "planet-tex0");
    EXPECT_EQ(s.layer[0].alpha, 1.0f);
    EXPECT_EQ(s.layer[0].color, 0x445566);
    EXPECT_EQ(s.layer[1].flags, 0);
    EXPECT_STREQ(s.sprite[1].tex, "planet-aura");
    EXPECT_EQ(s.sprite[1].color, 0x123456);  // the team's colour
    EXPECT_EQ(s.sprite[1].enabled, 1);

    style("{\"lighting\":0,\"reflection\":null,\"disco\":false,\"core\":7,\"alpha\":0.25}");
    EXPECT_EQ(s.layer[0].flags, 0x1 | 0x800 | 0x1000 | 0x200000 | 0x4000);
    EXPECT_EQ(s.layer[0].core, 7);
    EXPECT_EQ(s.layer[0].alpha, 0.25f);
    style("{\"overdraw\":{\"texture\":\"ring\",\"addition\":1}}");
    EXPECT_EQ(s.layer[1].flags, 0x9);
    EXPECT_STREQ(s.layer[1].tex, "planet-ring");
    style("{\"hidden\":1,\"aura\":\"glow\"}");
    EXPECT_EQ(s.layer[0].flags | s.layer[1].flags, 0);
    EXPECT_STREQ(s.sprite[1].tex, "glow");
    // Through the item key; the user's planets keep their style until captured.
    int p = planet_init(world(), user, 0, 0, 1, 1)->n;
    PlanetStyle before = item(p).planet_style;
    EXPECT_EQ(set(user, "planet_style", var("{\"normal\":1}")), "");
    EXPECT_EQ(s.layer[0].flags, 0x5);
    EXPECT_EQ(std::memcmp(&before, &item(p).planet_style, sizeof before), 0);
}

TEST_F(ModsStyleTest, BadInputGivesDefaultsAndLongNamesAreCut) {
    for (const char* text : {"", "not json", "[1,2]", "{\"texture\":", "{\"overdraw\":\"hidden\"}"}) {
        const PlanetStyle& s = style(text);
        EXPECT_EQ(s.layer[0].flags, 0x1) << text;
        EXPECT_STREQ(s.layer[0].tex, "planet-tex0") << text;
    }
    EXPECT_EQ(item(user).planet_style.layer[1].flags, 0x1);  // a non-object overdraw has no keys
    const PlanetStyle& s = style("{\"core\":1e300,\"alpha\":-1e300}");  // saturated, not UB
    EXPECT_EQ(s.layer[0].core, INT32_MAX);
    EXPECT_EQ(s.layer[0].alpha, -FLT_MAX);

    style("{\"texture\":\"abcdefghijklmnopqrstuvwxyz0123456789\",\"core\":3,\"aura\":\"" +
          std::string(100, 'a') + "\"}");
    EXPECT_EQ(std::string(s.layer[0].tex, 16), "planet-abcdefgh" + std::string(1, '\0'));
    EXPECT_EQ(s.layer[0].core, 3);  // the word after the name is intact
    EXPECT_EQ(std::string(s.sprite[1].tex, 16), std::string(15, 'a') + '\0');
    EXPECT_EQ(s.sprite[1].enabled, 1);
    style("{\"texture\":\"x\"}");
    EXPECT_EQ(std::string(s.layer[0].tex, 16), "planet-x" + std::string(8, '\0'));
}

}  // namespace
