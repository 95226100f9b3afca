// The mod-page screens (lobby, menu, tabs) and the in-game icons over a real
// mod: the split answer, Escape and the quit veto, the menu state holding the
// mod's loop, and the pause icon's tap against a drag into the match.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/game.h"
#include "mods/mods_api.h"
#include "ruvezor/util/qel_driver.h"
#include "screens/states.h"
#include "screens/states_icons.h"
#include "render/zentar_ui.h"
#include "z2_game_fixture.h"

namespace {

// "seen" is the last event type, "loops" counts the mod's loop calls, and
// "veto" makes it refuse a quit.
const char* const MOD = R"LUA(
function init() end
function loop(t) z2_param_set("loops", (z2_param_get("loops") or 0) + 1) end
function event(e)
  z2_param_set("seen", e.type)
  if e.type == "quit" and z2_param_get("veto") then z2_param_set("quit", false) end
end
)LUA";

class StatesLobbyTest : public z2test::ModGameTest {
protected:
    void SetUp() override {
        make_game("z2lobby", true);
        name_game();
        states_init(*game);
        start_mod(MOD);
    }
    static Event escape() {
        Event e{};
        e.type = 6;
        e.key = 5;
        return e;
    }
};

TEST_F(StatesLobbyTest, LobbySplitsFrom640UnitsWide) {
    State* lobby = GameView::find_state("states_lobby");
    ASSERT_NE(lobby, nullptr);
    for (const char* n : {"states_menu", "states_tabs", "states_xlobby"})
        EXPECT_NE(GameView::find_state(n), nullptr) << n;
    game->settings.vsize = 640;
    EXPECT_TRUE(lobby->call(var("lobby:split")).__bool__());
    EXPECT_EQ(lobby->call(var("other")).__type__(), VAR_NONE);
    game->settings.vsize = 639;
    EXPECT_EQ(lobby->call(var("lobby:split")).__type__(), VAR_NONE);
}

TEST_F(StatesLobbyTest, LobbyEscapeQuitsUnlessVetoedOrInXlobby) {
    enter("lobby");
    ASSERT_STREQ(game->view.cur, "states_lobby");
    State* lobby = GameView::find_state("states_lobby");

    set("veto", var(true));
    lobby->event(escape());
    EXPECT_EQ(param("seen").__str__(), "quit");
    EXPECT_EQ(param("state").__str__(), "lobby");

    // "xlobby" on the lobby screen turns a quit into a step back
    set("veto", var());
    set("quit", var());
    set("state", var("xlobby"));
    lobby->event(escape());
    EXPECT_EQ(param("seen").__str__(), "back");
    EXPECT_FALSE(param("quit").__bool__());
    EXPECT_EQ(param("state").__str__(), "xlobby");

    set("state", var("lobby"));
    lobby->event(escape());
    EXPECT_EQ(param("state").__str__(), "quit");
}

TEST_F(StatesLobbyTest, XlobbyTabsEscapeStepsBack) {
    enter("xlobby");
    ASSERT_STREQ(game->view.cur, "states_xlobby");
    State* xlobby = GameView::find_state("states_xlobby");
    xlobby->event(escape());
    EXPECT_EQ(param("seen").__str__(), "back");
    EXPECT_FALSE(param("quit").__bool__());
    EXPECT_EQ(param("state").__str__(), "xlobby");
}

TEST_F(StatesLobbyTest, MenuHoldsTheModLoopWhileTabsRunIt) {
    enter("menu");
    ASSERT_STREQ(game->view.cur, "states_menu");
    set("loops", var(0));
    GameView::find_state("states_menu")->loop(0.1f);
    EXPECT_EQ(param("loops").__num__(), 0);

    enter("tabs");
    float clock = game->world.time;
    GameView::find_state("states_tabs")->loop(0.1f);
    EXPECT_GE(param("loops").__num__(), 1);
    EXPECT_EQ(game->world.time, clock);  // the world does not step in the tabs
}

TEST_F(StatesLobbyTest, PauseIconTapPausesAndADragGoesToTheMatch) {
    Container root;
    states_root_reset(root);
    auto* icon = new WPause(*game);
    root.add(icon, 200, 200);
    root.resize();
    EXPECT_EQ(root.find("pause"), icon);

    Event press{};
    press.type = 8;
    press.b = 1;
    press.x = 217;
    press.y = 217;
    var a = root.event(&press);
    EXPECT_EQ(a["type"].__str__(), "ignore");
    Event move = press;
    move.type = 9;
    move.x += 6;
    move.y += 8;  // exactly 10 units: still the icon's
    EXPECT_EQ(icon->pressed, 1);
    root.event(&move);
    EXPECT_EQ(icon->pressed, 1);
    Event release = move;
    release.type = 10;
    a = root.event(&release);
    EXPECT_EQ(a["type"].__str__(), "pause");
    EXPECT_EQ(icon->pressed, 0);

    // a second press that drags 11 units away belongs to the match
    root.event(&press);
    game->ui.ptr[1].active = 0;
    move = press;
    move.type = 9;
    move.x += 11;
    EXPECT_EQ(root.event(&move).__type__(), VAR_NONE);
    EXPECT_EQ(icon->pressed, 0);
    EXPECT_NE(game->ui.ptr[1].active, 0);  // the kept press reached the controls
    move.x += 5;
    EXPECT_EQ(root.event(&move).__type__(), VAR_NONE);
}

}  // namespace
