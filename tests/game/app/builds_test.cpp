// Build switches, the mods' external calls, the store address, the debug
// marker, the debug overlay's rate, the colour-blind palette and the test map.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "shell/builds.h"
#include "render/colorblind.h"
#include "app/builds_app.h"
#include "app/game.h"
#include "web/game_web.h"  // GAME_WEB_HOST
#include "app/test.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

// The web layer's rank handler, recorded here instead.
static std::vector<int> g_ranks;
void game_web_handle_rank(GameParts&, int rank) { g_ranks.push_back(rank); }

namespace {

using z2test::stdout_of;
using z2test::TempDir;

using z2test::Recorder;

class BuildsTest : public ::testing::Test {
protected:
    std::unique_ptr<Game> game;
    void SetUp() override {
        game = std::make_unique<Game>();
        _game_data.GAME_THIS = game.get();
        game->settings.vfull = -1;  // open_url must not try to leave full screen
        g_ranks.clear();
    }
    void TearDown() override {
        GameView::unregister_states();
        _game_data.GAME_THIS = nullptr;
    }
    Item& item(int n) {
        Item& it = game->world.items[n];
        it.in_use = it.has_xflag = 1;
        it.n = n;
        if (game->world.top <= n) game->world.top = n + 1;
        return it;
    }
    void set(char* field, const char* text) { snprintf(field, 64, "%s", text); }
    std::string ext(const std::string& name, const std::string& value) {
        return builds_mods_api_ext_call(*game, name, value);
    }
};

TEST_F(BuildsTest, DebugMarkerMovesDataDirAndWebHost) {
    TempDir home;
    home.enter_as_home("builds_home");
    set(game->settings.name, "pilot");
    EXPECT_FALSE(builds_get_debug());
    EXPECT_FALSE(builds_get_debug_server());

    // A backquoted name alone picks the debug web host.
    set(game->settings.name, "`pilot");
    EXPECT_TRUE(builds_get_debug_server());
    EXPECT_FALSE(builds_get_debug());

    set(game->settings.name, "pilot");
    z2test::write_text((home.root / ".zentar2-debug").string(), "");
    EXPECT_TRUE(builds_get_debug());
    EXPECT_TRUE(builds_get_debug_server());
    driver_init(12);
    EXPECT_STREQ(driver_data_fname("x.png"), "../data-debug/x.png");
    driver_deinit();

    unsetenv("HOME");
    EXPECT_FALSE(builds_get_debug());  // no home, no marker
}

TEST_F(BuildsTest, StoreUrlCarriesUidAndItsToken) {
    set(game->settings.uid, "42");
    set(game->settings.udid, "abc");
    EXPECT_EQ(builds_store_url(*game), std::string("http://") + GAME_WEB_HOST +
                                           "/z2/store.php?&uid=42&token=c5d09d53985ac682ddf4903b01f07430");
    // A damaged record without terminators must not be read past its field.
    memset(game->settings.uid, 'u', sizeof(game->settings.uid));
    EXPECT_NE(builds_store_url(*game).find("&uid=" + std::string(64, 'u') + "&token="), std::string::npos);
}

TEST_F(BuildsTest, ExternalCallsRankAdsUnknownAndBadInput) {
    EXPECT_EQ(ext("zentar2:rank", "12"), "");
    ext("zentar2:rank", "nope");
    ext("zentar2:rank", "99999999999");
    EXPECT_EQ(g_ranks, std::vector<int>{12});

    std::string out = stdout_of([&] {
        ext("zentar2:ads:show", "banner");
        ext("zentar2:ads:init", "id7");
        EXPECT_EQ(ext("zentar2:nothing", "x"), "");
    });
    EXPECT_NE(out.find("zentar2:ads:show banner"), std::string::npos);
    EXPECT_NE(out.find("zentar2:ads:init id7"), std::string::npos);

    // Malformed arguments are logged and dropped.
    Item& star = item(3);
    star._position_x = 5;
    star.position_x = 77;
    for (const char* bad : {"", "[1,2]", "{\"aa\":\"x\",\"zscale\":1,\"zstar\":1,\"t\":0}",
                            "{\"aa\":0,\"zscale\":1,\"zstar\":1}", "{\"aa\":1e999,\"zscale\":1,\"zstar\":1,\"t\":0}"}) {
        out = stdout_of([&] { ext("zentar2:map_rotate", bad); });
        EXPECT_NE(out.find("zentar2:map_rotate"), std::string::npos) << bad;
    }
    EXPECT_EQ(star.position_x, 77);
}

TEST_F(BuildsTest, MapRotationTurnsAndSquashesTheModsCopies) {
    Item& a = item(1);  // odd: spins one way
    a.has_planet = 1, a._position_x = 10, a.ships_production = 3, a.image_a = 1;
    Item& b = item(2);  // even: the other way
    b.has_planet = 1, b.image_a = 1;
    Item& t = item(4);
    t.has_draw = 1, t.draw_type = 'T', t._draw_y2 = 4, t._draw_x3 = 2;
    Item& l = item(5);  // lines have no third point
    l.has_draw = 1, l.draw_type = 'L', l._draw_x3 = 9, l.draw_x3 = 1;
    Item& off = item(6);
    off.has_xflag = 0, off._position_x = 8, off.position_x = 1;

    ext("zentar2:map_rotate", "{\"aa\":1.5707963267948966,\"zscale\":0.5,\"zstar\":2,\"t\":2}");
    EXPECT_NEAR(a.position_x, 0, 1e-5);
    EXPECT_NEAR(a.position_y, 5, 1e-5);
    EXPECT_FLOAT_EQ(a.planet_r, 6);
    EXPECT_NEAR(a.image_a, 0.9, 1e-6);
    EXPECT_NEAR(b.image_a, 1.1, 1e-6);
    EXPECT_NEAR(t.draw_x2, -4, 1e-5);
    EXPECT_NEAR(t.draw_y2, 0, 1e-5);
    EXPECT_NEAR(t.draw_x3, 0, 1e-5);
    EXPECT_NEAR(t.draw_y3, 1, 1e-5);
    EXPECT_EQ(l.draw_x3, 1);
    EXPECT_EQ(off.position_x, 1);

    // No turn and no squash copies the positions unchanged.
    a._position_x = 3.25f, a._position_y = -7.5f;
    ext("zentar2:map_rotate", "{\"aa\":0,\"zscale\":1,\"zstar\":1,\"t\":0}");
    EXPECT_EQ(a.position_x, 3.25f);
    EXPECT_EQ(a.position_y, -7.5f);
}

TEST_F(BuildsTest, OpenUrlAndIapWithoutSteamUseTheBrowserAndWaitScreen) {
    setenv("PATH", "/nonexistent", 1);  // no browser starts from a test
    std::vector<std::string> calls;
    for (const char* name : {"menus_main", "menus_webiap"}) GameView::register_state(name, new Recorder(&calls));
    game->view.next("menus_main", -1);
    set(game->settings.uid, "42");
    set(game->settings.udid, "abc");

    _driver_timer_set_source([]() -> uint64_t { return 7500000; });  // the clock stands still
    std::string out = stdout_of([&] { ext("zentar2:open_url", "http://example.org/a"); });
    EXPECT_NE(out.find("http://example.org/a"), std::string::npos);
    // A mod that asks again within the second opens no second browser.
    out = stdout_of([&] { ext("zentar2:open_url", "http://example.org/b"); });
    EXPECT_EQ(out.find("http://example.org/b"), std::string::npos) << out;
    EXPECT_NE(out.find("zentar2:open_url: refused, one was opened less than a second ago"), std::string::npos);

    out = stdout_of([&] { ext("zentar2:iap", ""); });
    EXPECT_NE(out.find("IAP:USING_STEAM:BEGIN"), std::string::npos);
    EXPECT_NE(out.find("IAP:USING_STEAM:FALLBACK"), std::string::npos);
    // The page is logged without its token, the account's session key.
    std::string url = builds_store_url(*game);
    EXPECT_NE(out.find(url.substr(0, url.find("&token=") + 7) + "***"), std::string::npos) << out;
    EXPECT_STREQ(game->view.cur, "menus_webiap");
    EXPECT_STREQ(game->view.stack[1], "menus_main");
    _driver_timer_set_source(nullptr);
}

TEST_F(BuildsTest, LoginContentShowsNewsOverMainWithTheContent) {
    std::vector<std::string> main_calls, news_calls;
    for (const char* name : {"menus_main", "menus_login"}) GameView::register_state(name, new Recorder(&main_calls));
    GameView::register_state("menus_news", new Recorder(&news_calls));
    game->view.next("menus_main", -1);
    game->view.push("menus_login", -1);

    builds_game_web_handle_login_content(*game, "<p>hi</p>");
    EXPECT_STREQ(game->view.stack[0], "menus_news");
    EXPECT_STREQ(game->view.stack[1], "menus_main");
    EXPECT_STREQ(game->view.stack[2], "");
    EXPECT_EQ(news_calls, std::vector<std::string>{"content|<p>hi</p>"});
    EXPECT_TRUE(main_calls.empty());
}

TEST_F(BuildsTest, OverlayShowsForExactlyOneSwitchAndRefreshesEvery15Frames) {
    for (int hud : {0, 1})
        for (int x_hud : {-1, 1}) {
            _builds.show_hud = hud;
            game->settings.x_hud = x_hud;
            EXPECT_EQ(_builds_overlay_on(), (hud == 1) != (x_hud == 1)) << hud << " " << x_hud;
        }
    _builds.show_hud = false;

    static uint64_t now_us = 0;
    _driver_timer_set_source([] { return now_us; });
    _builds_hud_reset();
    hud_fps();
    EXPECT_EQ(_builds_hud_fps_shown(), 1);  // 1000 / 950
    for (int i = 1; i < 15; i++) {
        now_us += 16000;
        hud_fps();
        EXPECT_EQ(_builds_hud_fps_shown(), 1) << i;
    }
    now_us += 16000;
    hud_fps();
    EXPECT_EQ(_builds_hud_fps_shown(), 2);  // 1000 / 448.7
    // After a 20 s stall the clock is reset: that frame counts 0 ms, not -20 s.
    now_us += 20000000;
    hud_fps();
    now_us = 0;
    for (int i = 0; i < 14; i++) hud_fps();
    EXPECT_EQ(_builds_hud_fps_shown(), 1);  // 1000 / 695.6
    _driver_timer_set_source(nullptr);
}

TEST_F(BuildsTest, ColourBlindPaletteMapsInOrderOfFirstUseAndGivesUpAt13) {
    const int palette[12] = {0x0000FF, 0xFF0000, 0xFFFF00, 0x00FFFF, 0xFFFFFF, 0xFF8800,
                             0x99FF99, 0xFF9999, 0x00FF00, 0xBB00FF, 0xFF88FF, 0x9999FF};
    colorblind_reset();
    EXPECT_EQ(colorblind_map(0x123456), 0x123456);  // option off
    game->ui.options.ui_colorblind = 1;
    EXPECT_EQ(colorblind_map(0x555555), 0x555555);  // dark grey passes
    EXPECT_EQ(colorblind_map(0xAAAAAA), 0x0000FF);  // light grey is a colour
    sys_init(game->world);                          // the world reset starts over
    for (int i = 0; i < 12; i++) EXPECT_EQ(colorblind_map(0x010000 * (i + 1)), palette[i]) << i;
    EXPECT_EQ(colorblind_map(0x020000), palette[1]);  // a colour keeps its entry
    EXPECT_EQ(colorblind_map(0x0D0000), 0x0D0000);    // the 13th turns it off
    EXPECT_EQ(colorblind_map(0x010000), 0x010000);    // for earlier colours too
    colorblind_reset();
    EXPECT_EQ(colorblind_map(0x0D0000), 0x0000FF);
    game->ui.options.ui_colorblind = 0;
}

// Planet positions of the test map, in slot order.
std::vector<std::pair<float, float>> planets_of(Zentar& world) {
    std::vector<std::pair<float, float>> v;
    for (int n = 1; n < world.top; n++)
        if (world.items[n].in_use && world.items[n].has_planet)
            v.emplace_back(world.items[n].position_x, world.items[n].position_y);
    return v;
}

TEST_F(BuildsTest, TestMapIsSeededPerOpeningAndQuitsToSplash) {
    std::string out;
    auto* first = new TestMagnetSet(*game);
    GameView::register_state("test_magnetset", first);
    out = stdout_of([&] { first->init(); });
    EXPECT_NE(out.find("seed: 1"), std::string::npos);
    auto map1 = planets_of(game->world);
    EXPECT_EQ(map1.size(), 21u);
    EXPECT_EQ(game->world.time, 100);
    int neutral = 0;
    for (int n = 1; n < game->world.top; n++) {
        const Item& p = game->world.items[n];
        if (p.in_use && p.has_planet && p.owner_n == 1) neutral++;
    }
    EXPECT_EQ(neutral, 6);

    stdout_of([&] { first->init(); });
    EXPECT_EQ(first->seed, 2);
    EXPECT_NE(planets_of(game->world), map1);

    TestMagnetSet again(*game);
    stdout_of([&] { again.init(); });
    EXPECT_EQ(planets_of(game->world), map1);  // a fresh screen starts at seed 1

    // Clicking the quit image leaves for the splash screen.
    std::vector<std::string> calls;
    GameView::register_state("menus_splash", new Recorder(&calls));
    game->view.next("test_magnetset", -1);
    Event e{};
    e.x = (float)game_get_sw() - 44 + 17, e.y = 17, e.b = 1;
    for (int type : {8, 10}) e.type = type, first->event(e);
    EXPECT_STREQ(game->view.cur, "menus_splash");
}

}  // namespace
