// The two-player screen: each touch belongs to the half its press began in,
// each half keeps its own input record and player, Escape pauses into the
// two-player pause page.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/game.h"
#include "mods/mods_api.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "screens/states.h"
#include "screens/states_play2.h"
#include "z2_game_fixture.h"
#include "world/zentar.h"

namespace {

// Counts the match controls' pointer events and records the last event type.
const char* const MOD = R"LUA(
function init() end
function loop(t) end
function event(e)
  z2_param_set("seen", e.type)
  if e.type == "ui:down" or e.type == "ui:motion" or e.type == "ui:up" then
    z2_param_set(e.type, (tonumber(z2_param_get(e.type)) or 0) + 1)
  end
end
)LUA";

class Env : public testing::Environment {
public:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        z2test::stdout_of([] {
            driver_init(DRIVER_VIDEO | DRIVER_TIMER);
            driver_set_altdir(Z2_DATA_DIR);
            driver_video_init(800, 600, 800, 600, 64, 64, 0);
            gfx_init();
        });
    }
    void TearDown() override {
        z2test::stdout_of([] { gfx_deinit(), driver_deinit(); });
    }
};
const auto* env = testing::AddGlobalTestEnvironment(new Env);

class Play2Test : public z2test::ModGameTest {
protected:
    StatesPlay2* play2 = nullptr;

    void SetUp() override {
        make_game("z2play2", false);
        name_game();
        game->settings.vsize = 600;  // logical units are window pixels
        states_init(*game);
        play2 = dynamic_cast<StatesPlay2*>(GameView::find_state("states_play2"));
        z2test::stdout_of([&] { start_mod(MOD); });
        for (int n : {3, 4}) {
            Item& it = game->world.items[n];
            it.in_use = 1;
            it.n = n;
            it.has_user = 1;
        }
        game->world.top = 5;
        set("player", var(3));
        set("player2", var(4));
        set("state", var("play"));
        mods_loop(*game);
    }
    void TearDown() override {
        z2test::stdout_of([&] { ModGameTest::TearDown(); });
    }
    int count(const char* k) { return (int)param(k).__num__(); }
    // A pointer event in window pixels, as the shell hands it on.
    void pointer(int type, float x, float y, int id) {
        Event e{};
        e.type = type;
        e.x = e.raw_x = x;
        e.y = e.raw_y = y;
        e.b = id;
        play2->event(e);
    }
};

TEST_F(Play2Test, EachTouchStaysWithTheHalfItsPressBeganIn) {
    ASSERT_NE(play2, nullptr);
    ASSERT_STREQ(game->view.cur, "states_play2");
    pointer(8, 400, 450, 7);  // first player's half
    EXPECT_EQ(count("ui:down"), 1);
    pointer(9, 400, 150, 7);  // dragged into the upper half: still the first player's only
    EXPECT_EQ(count("ui:motion"), 1);
    pointer(8, 400, 150, 8);  // second finger in the upper half
    EXPECT_EQ(count("ui:down"), 2);
    pointer(9, 200, 200, 0);  // no pointer id: both halves
    EXPECT_EQ(count("ui:motion"), 3);
    pointer(10, 400, 150, 7);
    EXPECT_EQ(count("ui:up"), 1);
    pointer(9, 400, 150, 7);  // released: belongs to nobody
    EXPECT_EQ(count("ui:motion"), 3);
    pointer(8, 400, 300, 9);  // on the middle line: in neither half
    pointer(9, 400, 310, 9);
    EXPECT_EQ(count("ui:down"), 2);
    EXPECT_EQ(count("ui:motion"), 3);
    EXPECT_EQ(play2->cur, 0);

    // each player's pause icon sits at his own top right corner
    std::vector<std::pair<float, float>> icons;
    for (Widget* w : play2->root.children)
        if (w->name == "pause") icons.push_back({w->x, w->y});
    ASSERT_EQ(icons.size(), 2u);
    EXPECT_EQ(icons[0], std::make_pair(800.0f - 44, 300.0f));
    EXPECT_EQ(icons[1], std::make_pair(0.0f, 300.0f - 44));
    pointer(8, 800 - 20, 320, 1);  // a tap on the first player's icon
    pointer(10, 800 - 20, 320, 1);
    EXPECT_EQ(param("state").__str__(), "pause");
}

TEST_F(Play2Test, HalvesKeepTheirOwnRecordsAndPlayers) {
    play2->chplayer(1);
    EXPECT_EQ(play2->player, 3);
    EXPECT_FLOAT_EQ(game->ui.screen[3], 300);
    game->ui.percent = 30;
    play2->chplayer(2);
    EXPECT_EQ(play2->player, 4);
    game->ui.percent = 70;
    play2->chplayer(0);

    // keys go to the widgets and the mod, never to the halves
    Event key{};
    key.type = 6;
    key.key = 64 + 9;
    play2->event(key);
    play2->loop(0.0f);
    EXPECT_EQ(play2->cur, 0);
    // the frame ends on the second player's half
    EXPECT_EQ(game->world.items[4].has_player, 1);
    EXPECT_EQ(game->world.items[3].has_player, 0);
    play2->chplayer(1);
    EXPECT_EQ(game->ui.percent, 30);
    play2->chplayer(2);
    EXPECT_EQ(game->ui.percent, 70);

    // a matching account id wins in both halves
    Item& mine = game->world.items[3];
    strcpy(mine.user_uid, "acct");
    strcpy(game->settings.uid, "acct");
    play2->chplayer(1);
    EXPECT_EQ(play2->player, 3);
    play2->chplayer(2);
    EXPECT_EQ(play2->player, 3);
    play2->chplayer(0);
}

TEST_F(Play2Test, EscapePausesAndThePausePageResumes) {
    Event esc{};
    esc.type = 6;
    esc.key = 5;
    play2->event(esc);
    EXPECT_EQ(param("seen").__str__(), "pause");
    EXPECT_EQ(param("state").__str__(), "pause");
    mods_loop(*game);
    ASSERT_STREQ(game->view.cur, "states_pause2");
    State* pause2 = GameView::find_state("states_pause2");
    float clock = game->world.time;
    pause2->loop(0.5f);
    EXPECT_EQ(game->world.time, clock);  // local play stands still
    pause2->event(esc);
    EXPECT_EQ(param("seen").__str__(), "onclick");

    // painting both halves leaves the 2D state as it found it
    z2test::stdout_of([&] { pause2->paint(); });
    play2->paint();
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_FLOAT_EQ(gfx_get_orient(), 0);
    int w = 0, h = 0;
    gfx_get_size(&w, &h);
    EXPECT_EQ(h, 600);
}

}  // namespace
