// The account screens and the news and error screens, driven as a player
// would: typing into the fields, clicking links, and the replies that arrive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/game.h"
#include "screens/menus.h"
#include "screens/menus_login.h"
#include "screens/menus_news.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

const auto* env = testing::AddGlobalTestEnvironment(new z2test::HomeGlFontEnv("z2login"));

using Blank = z2test::BlankScreen;
using z2test::click;

class Screens : public ::testing::Test {
protected:
    std::unique_ptr<Game> game = std::make_unique<Game>();
    Blank* play = new Blank();
    Blank* mods = new Blank();
    Blank* main_menu = new Blank();
    MenusLogin* login = new MenusLogin(&game->parts);
    MenusNews* news = new MenusNews(&game->parts);
    MenusError* error = new MenusError(&game->parts);

    void SetUp() override {
        game->settings.vfull = -1;
        GameView::register_state("menus_main", main_menu);
        GameView::register_state("menus_play", play);
        GameView::register_state("menus_mods", mods);
        GameView::register_state("menus_login", login);
        GameView::register_state("menus_create", new MenusCreate(&game->parts));
        GameView::register_state("menus_news", news);
        GameView::register_state("menus_error", error);
    }
    void TearDown() override { GameView::unregister_states(); }

    template <typename F>
    void quiet(F f) { z2test::stdout_of(f); }
    static var message(const char* type, const char* value) {
        var m(VAR_DICT, 0);
        m["type"] = var(type);
        if (value) m["value"] = var(value);
        return m;
    }
    // How many widgets under root would answer a click with this onclick value.
    static int buttons(Container& root, const char* value) {
        int n = 0;
        for (Widget* w : root._list_descendants())
            if (w->on_click.__type__() == VAR_DICT && w->on_click.__has__(var("value")) &&
                w->on_click["value"].__str__() == value)
                n++;
        return n;
    }
    void type_into(Container& root, const char* name, const std::string& text) {
        Widget* w = root.find(name);
        ASSERT_NE(w, nullptr) << name;
        w->set_value_s(text.c_str());
    }
};

TEST_F(Screens, LoginShowsQuickPlayAndCreateOnlyWithoutANamedAccount) {
    Settings& s = game->settings;
    quiet([&] { game->view.next("menus_login", -1); });
    EXPECT_NE(s.qname[0], 0);  // an auto-name is made once and kept
    std::string qname = s.qname;
    ASSERT_NE(login->root.find("qname"), nullptr);
    EXPECT_STREQ(login->root.find("qname")->get_value_s(), qname.c_str());
    EXPECT_EQ(buttons(login->root, "qlogin"), 1);
    EXPECT_EQ(buttons(login->root, "create"), 1);
    // Its two written lines stay two: the first must not leave its last word alone.
    for (Widget* w : login->root._list_descendants()) {
        if (auto* l = dynamic_cast<Label*>(w); l && l->text.rfind("To sign in", 0) == 0) {
            EXPECT_EQ(l->h, 2 * font_get_height(l->font, nullptr, 0)) << l->text;
        }
    }

    strcpy(s.name, "pilot");
    quiet([&] { login->init(); });
    EXPECT_EQ(login->root.find("qname"), nullptr);
    EXPECT_EQ(buttons(login->root, "create"), 1);  // a name but no account id yet
    EXPECT_STREQ(login->root.find("name")->get_value_s(), "pilot");

    strcpy(s.uid, "42");
    quiet([&] { login->init(); });
    EXPECT_EQ(buttons(login->root, "create"), 0);
    EXPECT_EQ(buttons(login->root, "login"), 1);
    EXPECT_STREQ(s.qname, qname.c_str());
}

TEST_F(Screens, TypedFieldsReachTheSettingsAndLogOut) {
    Settings& s = game->settings;
    strcpy(s.name, "pilot");
    quiet([&] { game->view.next("menus_login", -1); });
    s.logged_in = 1;

    type_into(login->root, "passwd", "  secret  ");
    quiet([&] { login->loop(0); });
    EXPECT_STREQ(s.passwd, "secret");
    EXPECT_EQ(s.logged_in, 0);

    s.logged_in = 1;
    quiet([&] { login->loop(0); });
    EXPECT_EQ(s.logged_in, 1);  // nothing changed, nothing logged out

    // a paste past the field's limit is cut and then left alone
    type_into(login->root, "passwd", std::string(100, 'x'));
    quiet([&] { login->loop(0); });
    EXPECT_EQ(strlen(s.passwd), 63u);
    s.logged_in = 1;
    quiet([&] { login->loop(0); });
    EXPECT_EQ(s.logged_in, 1);

    // emptying the name brings Quick Play back on the next frame
    type_into(login->root, "name", "");
    quiet([&] { login->loop(0); });
    EXPECT_EQ(s.name[0], 0);
    EXPECT_NE(login->root.find("qname"), nullptr);
    EXPECT_EQ(login->root.find("passwd")->get_value_s(), std::string(63, 'x'));
}

TEST_F(Screens, CreateScreenBindsTheEmailAndOneMomentCoversThePage) {
    Settings& s = game->settings;
    strcpy(s.email, "a@b.c");
    quiet([&] { game->view.next("menus_login", -1); });
    quiet([&] { login->_act(click("create")); });
    ASSERT_STREQ(game->view.cur, "menus_create");
    auto* create = dynamic_cast<MenusCreate*>(game->view.get_state(0));
    ASSERT_NE(create, nullptr);
    EXPECT_STREQ(create->root.find("email")->get_value_s(), "a@b.c");
    type_into(create->root, "email", "new@b.c");
    quiet([&] { create->loop(0); });
    EXPECT_STREQ(s.email, "new@b.c");

    size_t before = create->root.children.size();
    EXPECT_EQ(game->view.state_call(message("other", nullptr)).__type__(), VAR_NONE);
    EXPECT_EQ(create->root.children.size(), before);
    quiet([&] { game->view.state_call(message("one_moment", nullptr)); });
    ASSERT_EQ(create->root.children.size(), before + 1);
    Widget* box = create->root.children.back();
    quiet([&] { menus_paint_common(create->root); });
    EXPECT_EQ(box->y, 44.0f);
    EXPECT_EQ(box->oh, (float)(game_get_sh() - 88));
    EXPECT_EQ(create->root.focused, box);  // typed keys go to the box, not the form
}

TEST_F(Screens, CreationDataXorsThePasswordDigestWithTheDeviceId) {
    // MD5 of "" is d41d8cd98f00b204e9800998ecf8427e; capitals count as hex, other characters as 0
    EXPECT_EQ(menus_create_data("a@b.c", "", "0123456789ABCDEFzz23456789abcdef"),
              "{\"email\":\"a@b.c\",\"passwd\":\"d53ec9be06ab7febe9a34cff65538f91\"}");
    EXPECT_EQ(menus_create_data("", "", "f00d"), "{\"email\":\"\",\"passwd\":\"2410\"}");  // the shorter text ends it
    EXPECT_EQ(menus_cut_utf8("ab\xc3\xa9", 3), "ab");  // never half a character
}

TEST_F(Screens, NewsMovesOnWhenNothingIsWaitingAndFollowsLinks) {
    quiet([&] { game->view.next("menus_main", -1); });
    quiet([&] { game->view.push("menus_news", -1); });
    EXPECT_STREQ(game->view.cur, "menus_play");
    EXPECT_EQ(play->inits, 1);

    game->settings.news = 1;
    quiet([&] { game->view.next("menus_news", -1); });
    quiet([&] { game->view.state_call(message("content", "<p>Hello news</p>")); });
    ASSERT_STREQ(game->view.cur, "menus_news");
    EXPECT_EQ(news->content, "<p>Hello news</p>");
    EXPECT_EQ(news->root.find("quit"), nullptr);
    EXPECT_EQ(buttons(news->root, "policy"), 1);
    EXPECT_EQ(buttons(news->root, "back"), 1);
    EXPECT_EQ(news->root.children.back()->y, (float)(game_get_sh() - 44));

    quiet([&] { news->_act(click("state")); });  // no screen named: no link
    EXPECT_STREQ(game->view.cur, "menus_news");
    quiet([&] { news->_act(click("state:menus_mods")); });
    EXPECT_STREQ(game->view.cur, "menus_mods");
    EXPECT_EQ(mods->inits, 1);

    // with no news at all the quit icon stands in for the page
    news->content.clear();
    quiet([&] { game->view.next("menus_news", -1); });
    Widget* quit = news->root.find("quit");
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->on_click["type"].__str__(), "quit");
}

TEST_F(Screens, NewsParagraphsAreLimitedInWidth) {
    game->settings.news_open = 1;
    std::string words;
    for (int i = 0; i < 200; i++) words += "word ";
    quiet([&] { game->view.next("menus_news", -1); });
    quiet([&] { news->call(message("content", ("<p name='long'>" + words + "</p>").c_str())); });
    Widget* p = news->root.find("long");
    ASSERT_NE(p, nullptr);
    quiet([&] { menus_paint_common(news->root); });
    EXPECT_LE(p->ow, 309.0f);
    EXPECT_GT(p->oh, 100.0f);  // wrapped, not cut
}

TEST_F(Screens, ErrorShowsOverTheScreenBelowAndAnyClickPops) {
    quiet([&] { game->view.next("menus_main", -1); });
    quiet([&] { game->view.push("menus_error", -1); });
    quiet([&] { game->view.state_call(message("content", "Bad <b>name</b>")); });
    EXPECT_EQ(error->text, "Bad <b>name</b>");
    EXPECT_EQ(buttons(error->root, "continue"), 1);

    quiet([&] { error->paint(); });
    EXPECT_EQ(main_menu->paints, 1);

    Event none{};
    quiet([&] { error->event(none); });
    EXPECT_STREQ(game->view.cur, "menus_error");
    EXPECT_EQ(error->root.event(&none).__type__(), VAR_NONE);

    // the shared handler's Escape pops it like Continue does
    Event esc{};
    esc.type = 6, esc.key = 5;
    quiet([&] { error->event(esc); });
    EXPECT_STREQ(game->view.cur, "menus_main");

    // alone on the stack it paints only the darkening
    quiet([&] { game->view.next("menus_error", -1); });
    quiet([&] { error->paint(); });
    EXPECT_EQ(main_menu->paints, 1);
}

}  // namespace
