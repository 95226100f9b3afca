// The in-game screens over a real mod: registration, the mod's state picking
// the screen, events falling through to the match controls, Escape pausing,
// the quit veto and the local player.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/game.h"
#include "chat/chat.h"
#include "mods/mods_api.h"
#include "net/net.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "ruvezor/util/qel_driver.h"
#include "screens/states.h"
#include "world/zentar.h"
#include "z2_game_fixture.h"

namespace {

// Records the last event type in "seen"; refuses a quit while "veto" is set.
const char* const MOD = R"LUA(
function init() end
function loop(t) end
function event(e)
  z2_param_set("seen", e.type)
  if e.type == "quit" and z2_param_get("veto") then z2_param_set("quit", false) end
  if e.type == "pause" and z2_param_get("leave") then z2_param_set("state", "quit") end
  if e.type == "message" then z2_param_set("said", e.value) z2_param_set("state", "pause") end
end
)LUA";

class StatesTest : public z2test::ModGameTest {
protected:
    void SetUp() override {
        make_game("z2states", true);
        states_init(*game);
        start_mod(MOD);
    }
    static var action(const char* type) {
        var a(VAR_DICT, 0);
        a["type"] = var(type);
        return a;
    }
};

TEST_F(StatesTest, RegistersTheMatchScreensAndTheModStatePicksThem) {
    EXPECT_NE(GameView::find_state("states_play"), nullptr);
    EXPECT_NE(GameView::find_state("states_scene"), nullptr);
    for (const char* n : {"states_pause", "states_dialog", "states_overlay"})
        EXPECT_NE(GameView::find_state(n), nullptr) << n;
    enter("play");
    EXPECT_STREQ(game->view.cur, "states_play");
    enter("scene");
    EXPECT_STREQ(game->view.cur, "states_scene");
}

TEST_F(StatesTest, UnclaimedEventReachesMatchControlsAndEscapePauses) {
    enter("play");
    State* play = GameView::find_state("states_play");
    game->ui.percent = 50;
    Event wheel{};
    wheel.type = 14;
    wheel.x = 100;
    wheel.y = 100;
    wheel.dy = 1;
    play->event(wheel);
    EXPECT_EQ(game->ui.percent, 45);
    EXPECT_EQ(param("state").__str__(), "play");

    Event esc{};
    esc.type = 6;
    esc.key = 5;
    play->event(esc);
    EXPECT_EQ(param("seen").__str__(), "pause");
    EXPECT_EQ(param("state").__str__(), "pause");

    // the scene pauses into its dialog
    enter("scene");
    GameView::find_state("states_scene")->event(esc);
    EXPECT_EQ(param("state").__str__(), "dialog");
}

TEST_F(StatesTest, AModThatLeavesOnPauseIsNotPutBackIntoPause) {
    enter("play");
    set("leave", var(true));
    Event esc{};
    esc.type = 6;
    esc.key = 5;
    GameView::find_state("states_play")->event(esc);
    EXPECT_EQ(param("state").__str__(), "quit");
}

TEST_F(StatesTest, CoverScreensHoldLocalPlayAndAnswerEscape) {
    enter("play");
    enter("pause");
    ASSERT_STREQ(game->view.cur, "states_pause");
    State* pause = GameView::find_state("states_pause");
    float clock = game->world.time;
    pause->loop(0.5f);
    EXPECT_EQ(game->world.time, clock);  // no network: the match stands still

    Event esc{};
    esc.type = 6;
    esc.key = 5;
    pause->event(esc);
    EXPECT_EQ(param("seen").__str__(), "back");

    enter("scene");
    enter("dialog");
    ASSERT_STREQ(game->view.cur, "states_dialog");
    GameView::find_state("states_dialog")->event(esc);
    EXPECT_EQ(param("seen").__str__(), "onclick");
}

TEST_F(StatesTest, ChatLineThatPausesLeavesTheNewEntryEmptyAndGoesOutOnce) {
    game->client_net.reset(new Net());
    game->chat.reset(new Chat());
    game->settings.chat_height[0] = 500;  // the log is open
    enter("play");
    auto key = [&](int unicode, int code) {
        Event e{};
        e.type = 6;
        e.key = code;
        e.unicode = unicode;
        game->view.state_event(e);
    };
    for (char c : std::string("gl hf")) key(c, 0);
    key(13, 8);  // Return: the mod pauses while the line is being sent

    EXPECT_STREQ(game->view.cur, "states_pause");
    EXPECT_EQ(param("said").__str__(), "gl hf");
    ASSERT_EQ(game->client_net->outbox.size(), 1u);
    EXPECT_EQ(game->client_net->outbox[0].value, "gl hf");
    auto* play = static_cast<StatesPlay*>(GameView::find_state("states_play"));
    auto* entry = dynamic_cast<TextInput*>(play->root.find("input"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->value, "");
    game->chat.reset();
}

TEST_F(StatesTest, PauseIconIsTakenOutOfTheRootBelow) {
    Container root;
    states_root_reset(root);
    Widget* icon = new Widget();
    icon->name = "pause";
    root.add(icon, 10, 0);
    root.children[0]->next = icon;
    root.focused = icon;
    states_remove_pause_icon(root);
    EXPECT_EQ(root.find("pause"), nullptr);
    EXPECT_EQ(root.children.size(), 1u);
    EXPECT_EQ(root.focused, nullptr);
    EXPECT_EQ(root.children[0]->next, nullptr);
}

TEST_F(StatesTest, QuitPassesTheModsVeto) {
    set("state", var("lobby"));
    set("veto", var(true));
    EXPECT_EQ(states_do_quit(*game, action("quit")), 1);
    EXPECT_EQ(param("seen").__str__(), "quit");
    EXPECT_EQ(param("state").__str__(), "lobby");
    set("veto", var(false));
    EXPECT_EQ(states_do_quit(*game, action("quit")), 0);
    EXPECT_EQ(param("state").__str__(), "quit");
    mods_deinit(*game);
    EXPECT_EQ(states_do_quit(*game, action("quit")), 1);
}

TEST_F(StatesTest, LocalPlayerByAccountIdElseByParameter) {
    Zentar& w = game->world;
    auto user = [&](int n, const char* uid) {
        Item& it = w.items[n];
        it.in_use = 1;
        it.n = n;
        it.has_user = 1;
        strncpy(it.user_uid, uid, sizeof(it.user_uid) - 1);
    };
    user(2, "u7");
    user(3, "other");
    user(5, "u7");
    w.top = 6;
    strcpy(game->settings.uid, "u7");
    EXPECT_EQ(get_uid_mark_has_player(*game, 0), 5);  // the higher index wins
    EXPECT_EQ(w.items[5].has_player, 1);
    EXPECT_EQ(w.items[2].has_player, 0);

    game->settings.uid[0] = 0;
    set("player", var(3.7));
    set("player2", var(2.0));
    EXPECT_EQ(get_uid_mark_has_player(*game, 0), 3);
    EXPECT_EQ(w.items[3].has_player, 1);
    EXPECT_EQ(w.items[5].has_player, 0);
    EXPECT_EQ(get_uid_mark_has_player(*game, 2), 2);
    set("player", var(1e300));  // no sane integer: nobody
    EXPECT_EQ(get_uid_mark_has_player(*game, 0), 0);
    EXPECT_EQ(w.items[2].has_player + w.items[3].has_player + w.items[5].has_player, 0);
}

}  // namespace
