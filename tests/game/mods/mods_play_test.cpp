// The built-in online play client and its galaxy map, run headless through
// real Lua over a game whose host never answers: host messages are fed in as
// mod events; what the client sends stays in the endpoint's outbox.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "app/game.h"
#include "net/net.h"
#include "world/zentar.h"
#include "z2_mods_tree.h"

namespace {

class ModsPlayTest : public z2test::ModsTree<Game> {
protected:
    void SetUp() override {
        make("z2modsplay");
        game->mod_builtin = 1;
        snprintf(game->mod_file, sizeof(game->mod_file), "mod_play.lua");
        var p(VAR_DICT, 0);
        p["host"] = var("127.0.0.1");
        p["port"] = var(9);
        p["token"] = var("tok");
        p["name"] = var("Ann");
        p["uid"] = var("u1");
        mods_restart(*game, 0, p);
    }

    std::string log() { return z2test::mod_log(*api()); }

    void send(const std::string& type, const std::string& value) {
        var e(VAR_DICT, 0);
        e["type"] = var(type);
        e["value"] = var(value);
        mods_event(*game, e);
    }

    // Types of the messages queued for the host, space separated.
    std::string sent() {
        std::string s;
        if (!game->client_net) return s;
        for (const NetMessage& m : game->client_net->outbox) s += (s.empty() ? "" : " ") + m.type;
        return s;
    }
    std::string last_value() {
        if (!game->client_net || game->client_net->outbox.empty()) return "";
        return game->client_net->outbox.back().value;
    }
    std::string last_chat() { return game->chat && !game->chat->lines.empty() ? game->chat->lines.back().text : ""; }
    int last_color() { return game->chat && !game->chat->lines.empty() ? game->chat->lines.back().color : -1; }
};

TEST_F(ModsPlayTest, JoinsTheGalaxyAndMapsHostMessages) {
    ASSERT_TRUE(mods_engine_of(*game)->is_okay()) << log();
    EXPECT_EQ(sent(), "opts cookie session vinfo") << log();
    EXPECT_EQ(param("tab"), "play");

    send("net:chat", R"({"uid":"u2","value":"hi there","color":255})");
    EXPECT_EQ(last_chat(), "hi there");
    EXPECT_EQ(last_color(), 255);
    send("net:message", "server says");
    EXPECT_EQ(last_chat(), "server says");
    EXPECT_EQ(last_color(), 0x555555);

    send("net:state", "lobby");
    EXPECT_EQ(param("state"), "lobby");
    send("net:html", "<p>x</p>");
    EXPECT_EQ(param("html"), "<p>x</p>");
    send("net:session:set", "S1");
    send("net:session:get", "");
    EXPECT_EQ(last_value(), "S1");

    // Typed lines are echoed only once the host gave a colour.
    size_t before = game->chat->lines.size();
    send("message", "hello");
    EXPECT_EQ(game->chat->lines.size(), before);
    send("net:color", "65280");
    send("message", "  hello  ");
    EXPECT_EQ(last_chat(), "<Ann> hello");
    EXPECT_EQ(last_color(), 0x00ff00);
    send("message", ".me waves");
    EXPECT_EQ(last_chat(), "Ann waves");
    before = game->chat->lines.size();
    send("message", "m hello");
    send("message", "/who");
    EXPECT_EQ(game->chat->lines.size(), before);

    send("onclick", "*!buy\tred");
    EXPECT_EQ(game->client_net->outbox.back().type, "buy");
    EXPECT_EQ(last_value(), "red");
    EXPECT_EQ(param("html"), "<p>ihtml</p>");
    EXPECT_EQ(log(), "");
}

// A host may send its players long values in as many messages as it likes:
// the lines they make in the player's log stay few and short.
TEST_F(ModsPlayTest, HostMessagesCannotFillThePlayersLog) {
    const std::string big(65000, '7');
    // The clock stands still: the bound holds however slowly the machine runs.
    _driver_timer_set_source([] { return uint64_t(5000000); });
    testing::internal::CaptureStdout();
    for (int i = 0; i < 200; i++)
        for (const char* type : {"net:ads:init", "net:ads:show", "net:ext:rank", "net:music", "net:sound"})
            send(type, type == std::string("net:ext:rank") ? "x" + big : big);
    std::string out = testing::internal::GetCapturedStdout();
    _driver_timer_set_source(nullptr);
    EXPECT_LT(out.size(), 100000u);
    EXPECT_NE(out.find("zentar2:ads:init 777"), std::string::npos);
    EXPECT_NE(out.find("mods: a sound name of 65000 bytes is too long, not played"), std::string::npos);
    ASSERT_TRUE(mods_engine_of(*game)->is_okay()) << log();
}

// A host may set its players' stored blob many times a frame; each write
// is synced to disk. One write a second goes out, and the last blob set is
// the one kept.
TEST_F(ModsPlayTest, HostCookiesReachTheDiskOnceASecond) {
    driver_set_gamename("Zentar 2");
    static uint64_t now_us = 5000000;
    _driver_timer_set_source([] { return now_us; });
    const std::string file = driver_doc_fname("mod_play.bin");
    auto stored = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    send("net:cookie:set", "v0");
    EXPECT_EQ(stored(), "v0");
    for (int i = 1; i <= 200; i++) send("net:cookie:set", "v" + std::to_string(i));
    EXPECT_EQ(stored(), "v0") << "written again within the second";
    EXPECT_EQ(param("data"), "v200");
    now_us += 1000000;
    send("net:ping", "");
    EXPECT_EQ(stored(), "v200");
    send("net:cookie:set", "last");
    _driver_timer_set_source(nullptr);
    mods_deinit(*game);
    EXPECT_EQ(stored(), "last");
}

TEST_F(ModsPlayTest, JoinOrdersQuitAndErrors) {
    send("onclick", "join:127.0.0.1:99:t:r");  // a name that resolves: the endpoint stays open
    EXPECT_EQ(sent(), "opts cookie session vinfo request");
    EXPECT_EQ(last_value(), "r");
    EXPECT_EQ(game->client_net->port, 99);

    // Quitting a match goes back to the galaxy and vetoes the quit.
    api()->param_set("state", var("play"));
    api()->param_set("quit", var(true));
    send("quit", "");
    EXPECT_EQ(game->client_net->port, 9);
    EXPECT_EQ(param("quit"), "False");
    EXPECT_EQ(param("state"), "play");

    // A join order whose endpoint cannot even start (a port past 16 bits)
    // is a lost connection: back to the galaxy, the script still running.
    send("net:join", R"({"host":"127.0.0.1","port":70000,"token":"","request":"r"})");
    EXPECT_TRUE(mods_engine_of(*game)->is_okay()) << log();
    ASSERT_TRUE(game->client_net);
    EXPECT_EQ(game->client_net->port, 9);

    // After a host error nothing leaves any more.
    send("net:error", "down");
    EXPECT_EQ(param("html"), "<p>down</p>");
    EXPECT_EQ(param("state"), "menu");
    api()->param_set("state", var("play"));
    send("net:disconnect", "");
    EXPECT_EQ(param("state"), "play");

    send("net:module", "nothing");
    send("net:module", "client");
    EXPECT_EQ(log(), "");
}

TEST_F(ModsPlayTest, GalaxyMapIsBuiltFromTheHostData) {
    const char* data = R"({"clans_id":3,
        "stars":"id,x,y,size,color,name,label,routes,regions,marker,clans_id`1,0,0,20,ff0000,Sol,home,+2;3,-2:3,00ff00,3`2,100,0,10,ff0000,Vega,,,,,0`3,0,100,10,0000ff,Rigel,,,,,0,extra",
        "wars":"stars_id,attacker_id`1,3",
        "users":"id,stars_id,clans_id,image,color,name`u1,1,3,,ffffff,Ann",
        "clans":"id,name,icon`3,Red,"})";
    send("net:map:show", data);
    ASSERT_EQ(param("state"), "scene") << log();
    EXPECT_EQ(param("bkgr_src"), "background05");

    int planets = 0, users = 0, lines = 0, triangles = 0, circles = 0;
    const Zentar& w = game->world;
    for (int n = 1; n < ZT_ITEMS; n++) {
        const Item& it = w.items[n];
        if (it.has_planet) planets++;
        if (it.has_user && !it.has_planet) users++;
        if (it.has_draw && it.draw_type == 'L') lines++;
        if (it.has_draw && it.draw_type == 'T') triangles++;
        if (it.has_draw && it.draw_type == 'C') circles++;
    }
    EXPECT_EQ(planets, 3);
    EXPECT_GE(users, 2);   // one per star colour (teams counted too)
    EXPECT_LE(users, 4);
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(triangles, 1);
    EXPECT_EQ(circles, 1);

    // The extra field of a row is keyed "?".
    ModsLua* lua = static_cast<ModsLua*>(mods_engine_of(*game));
    lua->script("z2_param_set('extra', GAME.map.stars[3]['?'])", "probe");
    EXPECT_EQ(param("extra"), "extra");

    // A free zoom shows the names near its centre on labels of their own,
    // which the planet painter leaves alone; they go with the zoom.
    auto shown = [&](const char* name) {
        for (int n = 1; n < ZT_ITEMS; n++) {
            const Item& it = w.items[n];
            if (it.in_use && it.has_label && !it.has_planet && !it.has_image && it.render_alpha > 0 &&
                std::string(it.label_text) == name)
                return true;
        }
        return false;
    };
    EXPECT_FALSE(shown("Sol"));
    var at(VAR_DICT, 0);
    at["x"] = var(21);
    at["y"] = var(0);
    for (const char* kind : {"ui:down", "ui:up"}) {
        at["type"] = var(kind);
        mods_event(*game, var(at.__copy__()));
    }
    for (int i = 0; i < 100; i++) lua->loop(0.016f);
    EXPECT_TRUE(shown("Sol")) << log();
    EXPECT_TRUE(shown("Ann"));

    // Focusing a star asks the host for its buttons, which land beside it.
    send("net:map:focus", "1");
    EXPECT_EQ(game->client_net->outbox.back().type, "map:view");
    EXPECT_EQ(last_value(), "1");
    send("net:map:buttons", R"([{"icon":"icon-attack","label":"Attack","onclick":"attack"}])");
    bool button = false;
    for (int n = 1; n < ZT_ITEMS; n++)
        button = button || (w.items[n].has_button && std::string(w.items[n].button_name) == "attack/1");
    EXPECT_TRUE(button) << log();
    lua->loop(0.016f);
    EXPECT_FALSE(shown("Sol"));

    // A quit on the map asks the host to leave it.
    api()->param_set("quit", var(true));
    send("quit", "");
    EXPECT_EQ(game->client_net->outbox.back().type, "map:leave");
    EXPECT_EQ(param("quit"), "False");
    EXPECT_EQ(param("state"), "scene");

    mods_loop(*game);
    send("net:map:cleanup", "");
    EXPECT_EQ(param("state"), "menu");
    EXPECT_EQ(log(), "");

    // Colours wider than 24 bits and numbers beyond a float's reach fall
    // back to defaults instead of stopping the script.
    send("net:map:show", R"({"clans_id":0,
        "stars":"id,x,y,size,color,name`1,1e300,-1e999,1e300,ffffffffffffffffff,Far`2,0,0,10,-5,Near",
        "wars":"stars_id,attacker_points,defender_points,defender_color`1,1e300,1,1000000",
        "users":"id,stars_id,clans_id,image,color,name`u1,1,0,,ffffffffff,Ann", "clans":""})");
    EXPECT_TRUE(mods_engine_of(*game)->is_okay()) << log();
    EXPECT_EQ(param("state"), "scene");
    send("net:map:focus", "1");
    lua->loop(0.016f);
    EXPECT_TRUE(mods_engine_of(*game)->is_okay()) << log();
}

}  // namespace
