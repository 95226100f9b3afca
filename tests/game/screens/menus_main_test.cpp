// The main menu, the splash and the hand-over screens, driven by clicks,
// keys and frames the way a player's session would.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/game.h"
#include "screens/menus.h"
#include "screens/menus_main.h"
#include "screens/menus_webiap.h"
#include "screens/menus_misc.h"
#include "screens/menus_news.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "ruvezor/util/qel_web.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

// No login request leaves the machine.
z2test::HomeGlFontEnv* const env_ptr = new z2test::HomeGlFontEnv("z2mainmenu", true);
const auto* env = testing::AddGlobalTestEnvironment(env_ptr);
std::string env_home() { return env_ptr->home.root.string(); }

using Blank = z2test::BlankScreen;
using z2test::click;

class MainMenu : public ::testing::Test {
protected:
    std::unique_ptr<Game> game = std::make_unique<Game>();
    Blank* first = new Blank();
    Blank* login = new Blank();
    Blank* play = new Blank();

    void SetUp() override {
        game->settings.vfull = -1;
        z2test::stdout_of([&] { menus_init(*game); });
        replace("menus_first", first);
        replace("menus_login", login);
        replace("menus_play", play);
        replace("menus_lite", new Blank());
        driver_cloud_save("mod_practice.bin", "", 0);
        preboard_set(0);
    }
    void TearDown() override {
        z2test::stdout_of([&] { mods_deinit(*game); });
        GameView::unregister_states();
        game_web_drop_all();  // the login the test asked for never gets an answer
    }
    // The registry keeps the last screen under a name; the one it drops is ours to free.
    static void replace(const char* name, State* s) {
        State* old = GameView::find_state(name);
        GameView::register_state(name, s);
        delete old;
    }

    MenusMain* shown(int policy) {
        preboard_set(policy);
        auto* m = dynamic_cast<MenusMain*>(GameView::find_state("menus_main"));
        z2test::stdout_of([&] { game->view.next("menus_main", -1); });
        return m;
    }
    // Return on the button of s whose onclick is value, as a player's click.
    static void press(State* s, Container& root, const char* value) {
        for (Widget* w : root._list_descendants())
            if (w->on_click.__type__() == VAR_DICT && w->on_click["value"].__str__() == value) w->_focus();
        Event e{};
        e.type = 6, e.key = 8;
        z2test::stdout_of([&] { s->event(e); });
        e.type = 7;
        z2test::stdout_of([&] { s->event(e); });
    }
    // Starts the typed mod file from the Mods screen over the main menu.
    void start_typed(const std::string& path) {
        z2test::stdout_of([&] {
            game->view.next("menus_main", -1);
            game->view.push("menus_mods", -1);
        });
        auto* mods = dynamic_cast<MenusMods*>(GameView::find_state("menus_mods"));
        mods->root.find("fname")->set_value_s(path.c_str());
        press(mods, mods->root, "open");
    }
    std::string error_text() { return dynamic_cast<MenusError*>(GameView::find_state("menus_error"))->text; }
    static std::set<std::string> actions(Container& root) {
        std::set<std::string> out;
        for (Widget* w : root._list_descendants())
            if (w->on_click.__type__() == VAR_DICT && w->on_click.__has__(var("value")))
                out.insert(w->on_click["value"].__str__());
        return out;
    }
};

TEST_F(MainMenu, PolicyDecidesWhichButtonsShow) {
    MenusMain* m = shown(-1);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(actions(m->root), (std::set<std::string>{"menus_lite", "menus_settings", "quit", "menus_about"}));

    m = shown(1);
    EXPECT_EQ(actions(m->root), (std::set<std::string>{"menus_play", "news", "menus_lite", "menus_mods",
                                                       "menus_settings", "forums", "review", "quit",
                                                       "menus_about"}));
}

TEST_F(MainMenu, SlideRunsOncePerProgramAndReleaseFinishesIt) {
    strcpy(game->mod_file, "chosen.lua");
    MenusMain* m = shown(1);
    EXPECT_STREQ(game->mod_file, "chosen.lua");  // the demo doesn't replace the player's mod
    EXPECT_FLOAT_EQ(m->offset, 1280.0f);
    z2test::stdout_of([&] {
        m->loop(1.0f);
        m->loop(1.5f);  // past two seconds: the page starts to ease up
    });
    EXPECT_FLOAT_EQ(m->offset, 1280.0f * 0.95f);
    z2test::stdout_of([&] { m->paint(); });
    EXPECT_FLOAT_EQ(m->root.children[0]->y, 1280.0f * 0.95f);
    EXPECT_EQ(m->root.children[1]->style.declared().fg_alpha, 0);
    // The page is still below the screen and the icon clear: what shows is
    // the demo match, which the page's own paint must not wipe.
    std::vector<unsigned char> px(640 * 480 * 4);
    glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    int lit = 0;
    for (size_t i = 0; i < px.size(); i += 4) lit += px[i] + px[i + 1] + px[i + 2] > 60;
    EXPECT_GT(lit, 200);

    z2test::stdout_of([&] { game->view.next("menus_main", -1); });  // a later visit keeps the slide
    EXPECT_FLOAT_EQ(m->offset, 1280.0f * 0.95f);

    Event up{};
    up.type = 10;
    z2test::stdout_of([&] {
        m->event(up);
        m->paint();
    });
    EXPECT_EQ(m->skip, 1);
    EXPECT_FLOAT_EQ(m->root.children[0]->y, 0.0f);
    EXPECT_EQ(m->root.children[1]->style.declared().fg_alpha, 255);

    Event esc{};
    esc.type = 6, esc.key = 5;
    m->event(esc);
    EXPECT_EQ(game->quit, 1);
}

TEST_F(MainMenu, PlayChoosesFirstRunLoginOrAutoLogin) {
    MenusMain* m = shown(1);
    z2test::stdout_of([&] { m->_act(click("menus_play")); });
    EXPECT_STREQ(game->view.cur, "menus_first");
    EXPECT_EQ(game->settings.news_open, 0);

    m = shown(1);
    const char record[] = "{\"rank\": 3}";
    driver_cloud_save("mod_practice.bin", record, (int)strlen(record));
    z2test::stdout_of([&] { m->_act(click("news")); });
    EXPECT_STREQ(game->view.cur, "menus_login");
    EXPECT_EQ(game->settings.news_open, 1);
    EXPECT_EQ(login->inits, 1);

    m = shown(1);
    driver_cloud_save("mod_practice.bin", "", 0);
    strcpy(game->settings.name, "AcidYak");
    z2test::stdout_of([&] { m->_act(click("menus_play")); });
    EXPECT_STREQ(game->view.cur, "menus_login");
    EXPECT_EQ(login->inits, 2);

    // A value naming the current screen moves nothing.
    m = shown(1);
    std::string cur = game->view.cur, below = game->view.stack[1];
    z2test::stdout_of([&] { m->_act(click(cur.c_str())); });
    EXPECT_EQ(game->view.cur, cur);
    EXPECT_EQ(game->view.stack[1], below);
}

TEST_F(MainMenu, PracticeRecordDecidesExperience) {
    EXPECT_FALSE(menus_main_experienced(""));
    EXPECT_FALSE(menus_main_experienced("{\"rank\": 1.0}"));
    EXPECT_TRUE(menus_main_experienced("{\"rank\": 1.5}"));
    EXPECT_TRUE(menus_main_experienced("{\"wins\": 2}"));
    EXPECT_TRUE(menus_main_experienced("not json"));
    EXPECT_TRUE(menus_main_experienced("[1, 2]"));
}

TEST_F(MainMenu, SplashMovesOnAtAQuarterSecond) {
    z2test::stdout_of([&] { game->view.next("menus_splash", -1); });
    State* splash = GameView::find_state("menus_splash");
    z2test::stdout_of([&] { splash->loop(0.2f); });
    EXPECT_STREQ(game->view.cur, "menus_splash");
    z2test::stdout_of([&] { splash->loop(0.05f); });
    EXPECT_STREQ(game->view.cur, "menus_play");
    EXPECT_EQ(play->inits, 1);
}

TEST_F(MainMenu, PracticeScreensKeepThePlayersMod) {
    strcpy(game->mod_file, "chosen.lua");
    replace("menus_lite", new MenusLite(&game->parts));
    z2test::stdout_of([&] { game->view.next("menus_lite", -1); });
    EXPECT_STREQ(game->mod_file, "chosen.lua");
    EXPECT_EQ(game->mod_builtin, 0);
    auto* lite = dynamic_cast<MenusLite*>(GameView::find_state("menus_lite"));
    EXPECT_FALSE(lite->root.children.empty());  // background and bar
}

TEST_F(MainMenu, AFailedModShowsItsErrorOverTheMenuAndContinueGoesBack) {
    std::string dir = env_home();
    // Without the data directory here the demo could not run behind the menu.
    Blank* main = new Blank();
    replace("menus_main", main);
    start_typed(dir + "/nowhere.lua");
    z2test::stdout_of([&] { game->loop(); });
    ASSERT_STREQ(game->view.cur, "menus_error");
    EXPECT_STREQ(game->view.stack[1], "menus_main");
    EXPECT_NE(error_text().find("could not be started"), std::string::npos) << error_text();
    EXPECT_NE(error_text().find("file missing: nowhere.lua"), std::string::npos) << error_text();
    press(GameView::find_state("menus_error"), dynamic_cast<MenusError*>(GameView::find_state("menus_error"))->root,
          "continue");
    EXPECT_STREQ(game->view.cur, "menus_main");
    EXPECT_EQ(main->inits, 3) << "the menu, the failure's way back to it, Continue";

    // One that starts and then fails in its loop: the Lua message is shown.
    z2test::write_text(dir + "/breach.lua", "function init() end function loop(t) error('reactor <breach>') end\n");
    start_typed(dir + "/breach.lua");
    z2test::stdout_of([&] { game->loop(); });
    EXPECT_STRNE(game->view.cur, "menus_error") << "it started well";
    z2test::stdout_of([&] { mods_engine_of(*game)->loop(0.1f), game->loop(); });
    ASSERT_STREQ(game->view.cur, "menus_error");
    EXPECT_NE(error_text().find("stopped with an error"), std::string::npos) << error_text();
    EXPECT_NE(error_text().find("reactor &lt;breach&gt;"), std::string::npos) << error_text();

    // Under the "restart" policy the crashed mod starts again instead.
    game->crash = 2;
    start_typed(dir + "/breach.lua");
    z2test::stdout_of([&] { mods_engine_of(*game)->loop(0.1f), game->loop(); });
    EXPECT_STRNE(game->view.cur, "menus_error");
    EXPECT_TRUE(mods_engine_of(*game)->is_okay()) << "a fresh runtime";
    EXPECT_EQ(mods_api_of(*game)->mod_file, dir + "/breach.lua");
}

// No child process left, asked without reaping one: that is the driver's to do.
bool no_child() {
    siginfo_t info{};
    errno = 0;
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
}

// Forums where no web browser can be started: the window comes back and the
// player gets the page's address to copy. Where one opens, the menu stays.
TEST_F(MainMenu, ALinkNoBrowserOpensShowsItsAddressToCopy) {
    // The field's font, before this second's look-ups of new fonts run out.
    z2test::stdout_of([] { font_load("font-gui", 20); });
    std::string tools = env_home() + "/tools", path = getenv("PATH") ? getenv("PATH") : "";
    mkdir(tools.c_str(), 0755);
    z2test::write_text(tools + "/xdg-open", "#!/bin/sh\nexit 0\n");
    chmod((tools + "/xdg-open").c_str(), 0755);
    setenv("PATH", tools.c_str(), 1);
    // The frame loop's look at the opener, until it has answered and its
    // launcher is gone (the menu's own demo has no data directory here).
    auto answered = [&] {
        for (int i = 0; i < 1000; i++) {
            z2test::stdout_of([&] { game->video.open_url_loop(); });
            if (strcmp(game->view.cur, "menus_error") == 0 || no_child()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    _game_data.GAME_THIS = game.get();  // the video front end's game, until the end of the test
    struct Forget {
        ~Forget() { _game_data.GAME_THIS = nullptr; }
    } forget;
    MenusMain* m = shown(1);
    z2test::stdout_of([&] { m->_act(click("forums")); });
    answered();
    EXPECT_STRNE(game->view.cur, "menus_error");

    remove((tools + "/xdg-open").c_str());
    z2test::stdout_of([&] { m->_act(click("forums")); });
    answered();
    setenv("PATH", path.c_str(), 1);
    ASSERT_STREQ(game->view.cur, "menus_error");
    auto* e = dynamic_cast<MenusError*>(GameView::find_state("menus_error"));
    EXPECT_NE(e->text.find("No web browser could be opened"), std::string::npos) << e->text;
    Widget* copy = e->root.find("copy");
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(std::string(copy->get_value_s()).find("/z2/community.php"), std::string::npos) << copy->get_value_s();
    // Focused, with all of it selected for copying, it shows the address from its start.
    z2test::stdout_of([&] { e->loop(0); });
    auto* field = dynamic_cast<TextInput*>(copy);
    ASSERT_NE(field, nullptr);
    EXPECT_NE(field->style.focus, 0);
    EXPECT_EQ(field->sx, 0);
    press(e, e->root, "continue");
    EXPECT_STRNE(game->view.cur, "menus_error");

    // A web purchase whose browser never opens: the error takes the place of
    // the box that says it opened, and Continue leads back to the menu.
    GameView::register_state("menus_webiap", new MenusWebIAP(&game->parts));
    remove((tools + "/xdg-open").c_str());
    setenv("PATH", tools.c_str(), 1);
    const std::string before = game->view.cur;
    game->view.push("menus_webiap", 2);
    z2test::stdout_of([&] { game->video.open_url("http://127.0.0.1:9/z2/store.php"); });
    answered();
    setenv("PATH", path.c_str(), 1);
    ASSERT_STREQ(game->view.cur, "menus_error");
    press(e, e->root, "continue");
    EXPECT_EQ(game->view.cur, before);
}

}  // namespace
