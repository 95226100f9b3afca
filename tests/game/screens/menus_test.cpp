// The menu registry, the shared menu actions and the policy gate, driven the
// way a player would: the boxes ticked or not, Continue, Escape.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/game.h"
#include "screens/menus.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_web.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

const auto* env = testing::AddGlobalTestEnvironment(new z2test::HomeGlFontEnv("z2menus"));

using Blank = z2test::BlankScreen;
using z2test::click;
using z2test::key;

class Menus : public ::testing::Test {
protected:
    std::unique_ptr<Game> game = std::make_unique<Game>();
    Blank* main_menu = new Blank();

    void SetUp() override {
        game->settings.vfull = -1;
        z2test::stdout_of([&] { menus_init(*game); });
        for (const char* n : {"menus_main", "menus_play"}) delete GameView::find_state(n);  // replaced below
        GameView::register_state("menus_main", main_menu);
        GameView::register_state("menus_play", new Blank());
        preboard_set(0);
    }
    void TearDown() override { GameView::unregister_states(); }

    MenusPreboard* gate() { return dynamic_cast<MenusPreboard*>(GameView::find_state("menus_preboard")); }
    // The gate with its text known, without asking the web host.
    MenusPreboard* shown_gate(const std::string& text) {
        MenusPreboard* g = gate();
        g->first = 0, g->loaded = 1, g->text = text;
        z2test::stdout_of([&] { game->view.next("menus_preboard", -1); });
        return g;
    }
    std::string stored() { return z2test::slurp(driver_doc_fname("preboard.txt")); }
};

TEST_F(Menus, GateStoresTheAnswerAndAlwaysMovesToTheMainMenu) {
    ASSERT_NE(gate(), nullptr);
    MenusPreboard* g = shown_gate("Play nice.");
    ASSERT_NE(g->root.find("age"), nullptr);
    ASSERT_NE(g->root.find("tos"), nullptr);

    g->root.find("age")->set_value_i(1);  // one box only: a refusal
    EXPECT_EQ(g->_act(click("continue")), 1);
    EXPECT_EQ(preboard_get(), -1);
    EXPECT_EQ(stored(), "FAIL");
    EXPECT_STREQ(game->view.cur, "menus_main");
    EXPECT_EQ(main_menu->inits, 1);

    g = shown_gate("Play nice.");
    g->root.find("age")->set_value_i(1);
    g->root.find("tos")->set_value_i(1);
    g->_act(click("continue"));
    EXPECT_EQ(preboard_get(), 1);
    EXPECT_EQ(stored(), "OK");
    EXPECT_EQ(main_menu->inits, 2);
}

TEST_F(Menus, GateIgnoresContinueWhileLoadingAndEscapeQuits) {
    MenusPreboard* g = gate();
    g->first = 0;  // no request
    game->view.next("menus_preboard", -1);
    EXPECT_EQ(g->_act(click("continue")), 0);
    EXPECT_EQ(preboard_get(), -2);
    EXPECT_STREQ(game->view.cur, "menus_preboard");

    g->event(key(5));
    EXPECT_EQ(game->quit, 1);
}

TEST_F(Menus, UnreachableHostShowsTheLocalPolicyWithTheErrorLine) {
    qel_web_disable();  // every request fails at once
    MenusPreboard* g = gate();
    z2test::stdout_of([&] {
        game->view.next("menus_preboard", -1);
        g->loop(0);
    });
    ASSERT_EQ(g->loaded, 1);
    EXPECT_EQ(g->request.handle, nullptr);
    std::string local = str_strip(driver_data_load("policy.txt"));
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(g->text, local + "\n\nHTTP Error Code 0.");
    EXPECT_NE(g->root.find("tos"), nullptr);  // the page is built
}

TEST_F(Menus, PolicyTextIsEscapedForTheMarkup) {
    EXPECT_EQ(menus_html_escape("a<b>&\"c\"\nd"), "a&lt;b&gt;&amp;&quot;c&quot;<br/>d");
}

TEST_F(Menus, SharedActionsMoveQuitAndPop) {
    game->view.next("menus_main", -1);
    z2test::stdout_of([&] { EXPECT_EQ(menus_tabs_handle(*game, Event{}, click("tab:play")), 1); });
    EXPECT_STREQ(game->view.cur, "menus_play");
    z2test::stdout_of([&] { EXPECT_EQ(menus_tabs_handle(*game, Event{}, click("tab:play")), 1); });
    EXPECT_STREQ(game->view.cur, "menus_play");  // already there: nothing changes

    game->view.push("menus_main", -1);
    EXPECT_EQ(menus_tabs_handle(*game, key(5), var()), 1);  // Escape pops
    EXPECT_STREQ(game->view.cur, "menus_play");

    EXPECT_EQ(menus_tabs_handle(*game, Event{}, click("tab:quit")), 0);
    EXPECT_EQ(game->quit, 1);
    EXPECT_EQ(menus_tabs_handle(*game, Event{}, click("nothing")), 0);
}

TEST_F(Menus, BarSitsAtTheBottomOverTheBackground) {
    Container root;
    z2test::stdout_of([&] { menus_tabs_init_popup(*game, root, "play", 1); });
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_NE(dynamic_cast<MenusBG*>(root.children[0]), nullptr);
    EXPECT_EQ(root.children[1]->y, (float)(game_get_sh() - 44));
    EXPECT_NE(root.children[1]->find("popup:done"), nullptr);

    Container bare;
    menus_tabs_init_popup(*game, bare, "play", 0);
    EXPECT_EQ(bare.children.size(), 1u);
}

TEST_F(Menus, InPopupOnlyOverAMatch) {
    game->view.next("menus_main", -1);
    EXPECT_FALSE(menus_in_popup(*game));
    GameView::register_state("states_pause", new Blank());
    game->view.next("states_pause", -1);
    game->view.push("menus_main", -1);
    EXPECT_TRUE(menus_in_popup(*game));
}

TEST_F(Menus, BackgroundLeavesTheWorldsSettingsAlone) {
    Zentar& w = game->world;
    w.seed_time = 77, w.bkgr_stars = 1;
    memcpy(w.bkgr_src, "fifteen-chars-x", 16);
    z2test::stdout_of([&] { menus_paint_bkgr(*game); });
    EXPECT_EQ(w.seed_time, 77);
    EXPECT_EQ(w.bkgr_stars, 1);
    EXPECT_STREQ(w.bkgr_src, "fifteen-chars-x");
}

TEST_F(Menus, ScrollboxWrapsOnlyTallContent) {
    auto tall = [](float h) {
        Widget* c = new Widget();
        c->style.declared().width = 100;
        c->style.declared().height = h;
        return c;
    };
    std::unique_ptr<Container> small(menus_scrollbox(tall(50), 300, 0));
    ASSERT_EQ(small->children.size(), 1u);
    EXPECT_EQ(dynamic_cast<ScrollBox2*>(small->children[0]), nullptr);
    EXPECT_EQ(small->style.declared().height, (float)game_get_sh());
    std::unique_ptr<Container> big(menus_scrollbox(tall(5000), 300, 200));
    EXPECT_NE(dynamic_cast<ScrollBox2*>(big->children[0]), nullptr);
}

TEST_F(Menus, NamegenIsAdjectiveNounTildeThreeDigits) {
    for (int i = 0; i < 500; i++) {
        std::string n = namegen();
        size_t t = n.find('~');
        ASSERT_NE(t, std::string::npos) << n;
        ASSERT_GE(t, 6u) << n;  // every word has at least three letters
        int num = atoi(n.c_str() + t + 1);
        ASSERT_EQ(n.size() - t - 1, 3u) << n;
        ASSERT_TRUE(num >= 100 && num <= 999) << n;
    }
}

}  // namespace
