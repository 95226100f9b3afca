// Mod pages and the mod console driven as a player and a mod would: markup
// parameters become named widgets the script reads and writes, a rebuilt page
// keeps what was typed only when it is the same page, and the console keys.
#include <gtest/gtest.h>

#include <unistd.h>

#include <GL/gl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/game.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_console.h"
#include "mods_gui/mods_gui.h"
#include "shell/game_video.h"
#include "shell/game_view.h"
#include "mods/mods_lua.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

const auto* env = testing::AddGlobalTestEnvironment(new z2test::GlFontEnv);

class ModsGuiTest : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<Game> game;

    void SetUp() override {
        char tmpl[] = "/tmp/z2modsgui-XXXXXX";
        root = mkdtemp(tmpl);
        std::ofstream(root + "/main.lua") << "function init() end function loop(t) end\n";
        // The console's font is the game's; a mod's start points the data directory at the mod.
        z2test::stdout_of([] { driver_set_altdir(Z2_DATA_DIR), font_load("font-console", 20); });
        game = std::make_unique<Game>();
        game->headless = 1;  // no screens to switch while the runtime starts
        snprintf(game->mod_file, sizeof(game->mod_file), "%s/main.lua", root.c_str());
        z2test::stdout_of([&] { mods_restart(*game, 0, var(VAR_DICT, 0)); });
        ASSERT_NE(api(), nullptr);
        game->headless = 0;  // page parameters now rebuild the page
    }
    void TearDown() override {
        z2test::stdout_of([&] { mods_deinit(*game); });
        GameView::unregister_states();
        game.reset();
        std::filesystem::remove_all(root);
    }

    ModsAPI* api() { return mods_api_of(*game); }
    ModsGui* page() { return mods_gui_of(api()); }
    void run(const std::string& code) {
        z2test::stdout_of([&] { mods_engine_of(*game)->script(code.c_str(), "test"); });
    }
    std::string global(const char* name) {
        lua_State* L = static_cast<ModsLua*>(mods_engine_of(*game))->L;
        lua_getglobal(L, name);
        std::string out = lua_isstring(L, -1) ? lua_tostring(L, -1) : "(nil)";
        lua_pop(L, 1);
        return out;
    }
    int key(int code) {
        Event e{};
        e.type = GUI_EV_KEYDOWN, e.key = code;
        int r = 0;
        z2test::stdout_of([&] { r = mods_event_handle(*game, e); });
        return r;
    }
    int release(float x, float y) {
        Event e{};
        e.type = GUI_EV_RELEASE, e.x = x, e.y = y, e.b = 1;
        return mods_event_handle(*game, e);
    }
};

TEST_F(ModsGuiTest, PageFromHtmlIsReadAndWrittenByName) {
    // The quit button shows its picture, as in the game.
    std::filesystem::copy_file(std::string(Z2_DATA_DIR) + "/icon-quit.png", root + "/icon-quit.png");
    z2test::stdout_of([] { gfx_init(); });
    run("z2_param_set('html', \"<table><tr><td><input type='text' name='nick' value='bob'/>"
        "<td><input type='button' value='Go' onclick='go'/></table>\")");
    ASSERT_FALSE(page()->children.empty());
    EXPECT_EQ(page()->children[0]->name, "none");
    EXPECT_NE(page()->find("html"), nullptr);
    EXPECT_NE(page()->find("quit"), nullptr);
    EXPECT_NE(page()->find("settings"), nullptr);
    // The page opens with the focus on its first field, not on the blank backdrop.
    auto focus_leaf = [&] {
        Widget* f = page();
        while (auto* c = dynamic_cast<Container*>(f)) {
            if (!c->focused) break;
            f = c->focused;
        }
        return f->name;
    };
    EXPECT_EQ(focus_leaf(), "nick");
    // A page with nothing to focus leaves the quit button alone: Return would leave.
    run("z2_param_set('html', '<p>Loading the levels</p>')");
    EXPECT_EQ(focus_leaf(), "none");
    run("z2_param_set('html', \"<table><tr><td><input type='text' name='nick' value='bob'/>"
        "<td><input type='button' value='Go' onclick='go'/></table>\")");
    EXPECT_EQ(focus_leaf(), "nick");

    run("a = z2_gui_get('nick') z2_gui_set('nick', 'alice') b = z2_gui_get('nick')"
        " c = tostring(z2_gui_get('nobody')) z2_gui_set('nobody', 'x') d = 'ran'");
    EXPECT_EQ(global("a"), "bob");
    EXPECT_EQ(global("b"), "alice");
    EXPECT_EQ(global("c"), "nil");
    EXPECT_EQ(global("d"), "ran");  // an unknown name is no error
    EXPECT_STREQ(page()->find("nick")->get_value_s(), "alice");
    z2test::stdout_of([&] { api()->gui_paint(); });

    // In state "tabs" there are no buttons, and a short page shows nothing.
    run("z2_param_set('html', '<p>hi</p>') z2_param_set('state', 'tabs')");
    EXPECT_EQ(page()->find("quit"), nullptr);
    EXPECT_EQ(page()->find("settings"), nullptr);
    EXPECT_EQ(page()->find("html"), nullptr);

    // Over a match the keys stay with the match: no button of its page takes the focus.
    run("z2_param_set('state', 'play') z2_param_set('html', \"<table><tr><td>"
        "<input type='button' value='Go' onclick='go'/></table>\")");
    EXPECT_EQ(focus_leaf(), "none");

    // The lobby: a tab bar of real height on top, the page in its scrolling box.
    run("z2_param_set('tabs', \"<input type='button' class='tab' value='news'/>\")"
        " z2_param_set('html', \"<table><tr><td><input type='text' name='n' value='v'/></table>\")"
        " z2_param_set('state', 'lobby')");
    ASSERT_NE(page()->find("tabs"), nullptr);
    EXPECT_EQ(page()->find("tabs")->oh, 44);
    ASSERT_NE(page()->find("htmlbox"), nullptr);
    EXPECT_EQ(page()->find("htmlbox")->y, 44);
    EXPECT_EQ(api()->gui_get("n").__str__(), "v");
    z2test::stdout_of([&] { api()->gui_paint(); });
}

TEST_F(ModsGuiTest, SamePageKeepsTypedValuesOtherPageStartsFresh) {
    auto page = [](const char* name) {
        return std::string("<table><tr><td><input type='hidden' name='_page' value='") + name +
               "'/><td><input type='text' name='f' value=''/></table>";
    };
    api()->param_set("html", var(page("one")));
    api()->gui_set("f", var("typed"));
    api()->param_set("html", var(page("one") + " "));
    EXPECT_EQ(api()->gui_get("f").__str__(), "typed");
    api()->param_set("html", var(page("two")));
    EXPECT_EQ(api()->gui_get("f").__str__(), "");

    // Many fields, one name twice: every field gets its own value back, and
    // the shared name goes to the one find() sees first, as the mod reads it.
    std::string many = page("three").substr(0, page("three").size() - 8);
    for (int i = 0; i < 300; i++)
        many += std::string(i % 20 ? "<td>" : "<tr><td>") + "<input type='text' name='g" + std::to_string(i) + "'/>";
    many += "<tr><td><input type='text' name='f' value='second'/></table>";
    api()->param_set("html", var(many));
    for (int i = 0; i < 300; i++) api()->gui_set("g" + std::to_string(i), var("v" + std::to_string(i)));
    api()->gui_set("f", var("first"));
    api()->param_set("html", var(many + " "));
    for (int i = 0; i < 300; i += 37) EXPECT_EQ(api()->gui_get("g" + std::to_string(i)).__str__(), "v" + std::to_string(i));
    EXPECT_EQ(api()->gui_get("g299").__str__(), "v299");
    EXPECT_EQ(api()->gui_get("f").__str__(), "first");
    std::vector<std::string> fs;
    for (Widget* d : ModsGuiTest::page()->_list_descendants())
        if (d->name == "f") fs.push_back(d->get_value().__str__());
    EXPECT_EQ(fs, (std::vector<std::string>{"first", "second"}));
}

// A screen that asks for the split lobby.
struct SplitScreen : State {
    var call(var msg) override { return msg.__str__() == "lobby:split" ? var(true) : var(); }
};

TEST_F(ModsGuiTest, SplitLobbyKeepsRightHalfScrollUntilItsMarkupChanges) {
    GameView::register_state("test_split", new SplitScreen());
    z2test::stdout_of([&] { game->view.next("test_split", 0); });
    std::string tall = "<table>";
    for (int i = 0; i < 60; i++) tall += "<tr><td><input type='button' value='row " + std::to_string(i) + "'/>";
    tall += "</table>";
    game->ui.screen[3] = (float)game_get_sh();
    api()->param_set("xhtml", var(tall));
    api()->param_set("state", var("xlobby"));
    Widget* xs = page()->find("_xscrollbox");
    ASSERT_NE(xs, nullptr);
    ASSERT_NE(page()->find("xhtmlbox"), nullptr);
    EXPECT_EQ(page()->find("xhtmlbox")->x, game_get_sw() / 2);
    EXPECT_NE(page()->find("settings"), nullptr);  // split: the settings button stays
    xs->set_value_i(50);
    ASSERT_EQ(xs->get_value_i(), 50);

    api()->param_set("html", var("<p>another main page</p>"));  // right half rebuilt, same text
    EXPECT_EQ(page()->find("_xscrollbox")->get_value_i(), 50);
    api()->param_set("xhtml", var(tall + " "));
    EXPECT_EQ(page()->find("_xscrollbox")->get_value_i(), 0);
}

TEST_F(ModsGuiTest, ConsoleKeys) {
    // Hidden: a tap near the top is for the screen; F1 shows the console.
    EXPECT_EQ(release(100, 10), 0);
    EXPECT_EQ(key(MODS_KEY_F1), 1);
    EXPECT_EQ(api()->console_visible & 1, 1);
    EXPECT_EQ(release(300, 200), 1);  // shown: even a click on nothing is used

    // A line typed at the prompt runs, is logged, and Up brings it back.
    Widget* input = modsapi_console(api()).find("input");
    ASSERT_NE(input, nullptr);
    input->set_value(var("x = 6 * 7"));
    modsapi_console(api()).focused = nullptr;
    input->_focus();
    EXPECT_EQ(key(GUI_KEY_RETURN), 1);
    EXPECT_EQ(global("x"), "42");
    ASSERT_FALSE(api()->log.empty());
    EXPECT_EQ(api()->log[0], "> x = 6 * 7");
    EXPECT_STREQ(input->get_value_s(), "");
    EXPECT_EQ(key(MODS_KEY_UP), 1);
    EXPECT_STREQ(input->get_value_s(), "x = 6 * 7");

    // A mod that writes its page every frame rebuilds the prompt each time:
    // what the player is typing there stays, and the next key adds to it.
    run("z2_param_set('html', '<p>frame 1</p>')");
    z2test::stdout_of([&] { modsapi_log_paint(api()); });
    Event typed{};
    typed.type = GUI_EV_KEYDOWN, typed.key = 0, typed.unicode = '!';
    EXPECT_EQ(mods_event_handle(*game, typed), 1);
    input = modsapi_console(api()).find("input");
    ASSERT_NE(input, nullptr);
    EXPECT_STREQ(input->get_value_s(), "x = 6 * 7!");

    // The prompt sits on the bottom edge, inside the screen, under the log lines.
    z2test::stdout_of([&] { modsapi_log_paint(api()); });
    Widget* table = modsapi_console(api()).find("table");
    ASSERT_NE(table, nullptr);
    EXPECT_GT(table->oh, 0);
    EXPECT_FLOAT_EQ(table->y + table->oh, (float)game_get_sh());
    EXPECT_EQ(key(MODS_KEY_F2), 1);
    EXPECT_TRUE(api()->log.empty());
    EXPECT_EQ(key(MODS_KEY_ESCAPE), 1);
    EXPECT_EQ(api()->console_visible & 1, 0);
    EXPECT_EQ(key(MODS_KEY_F2 + 1), 0);  // F3 is the console's only while shown

    // On the narrow screen of the largest font size the status band under
    // a logged line still fits across it, its last keys not off the edge.
    _game_data.GAME_THIS = game.get();  // the game whose font size sets the screen
    game->settings.vsize = 320;
    const int sw = game_get_sw(), sh = game_get_sh();  // 426 x 320 on the 640 x 480 window
    gfx_set_size(sw, sh);
    gfx_set_scale(480.0f / (float)sh);
    gfx_clear();
    gfx_ortho();
    api()->log_entry("line");
    z2test::stdout_of([&] { modsapi_log_paint(api()); });
    std::vector<unsigned char> px(640 * 480 * 4);
    glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    // Glyphs of the band, as runs of lit columns.
    int glyphs = 0;
    bool was_lit = false;
    for (int x = 0; x < 640; x++) {
        bool lit = false;
        for (int y = 452; y < 480; y++) lit = lit || px[((size_t)(479 - y) * 640 + x) * 4] > 128;
        glyphs += lit && !was_lit;
        was_lit = lit;
    }
    EXPECT_GE(glyphs, 55) << "of the band's 59 glyphs";
    game->settings.vsize = 0;
    _game_data.GAME_THIS = nullptr;
    gfx_set_size(640, 480);
    gfx_set_scale(1);
    api()->log.clear();

    // F5 restarts the mod that runs, not the one the menus put back since:
    // a new API object, hidden console, empty log.
    api()->log_entry("old");
    key(MODS_KEY_F1);
    run("y = 1");
    snprintf(game->mod_file, sizeof(game->mod_file), "%s", "menu_leftover.lua");
    EXPECT_EQ(key(MODS_KEY_F5), 1);
    ASSERT_NE(api(), nullptr);
    EXPECT_EQ(api()->mod_file, root + "/main.lua");
    EXPECT_TRUE(mods_engine_of(*game)->is_okay());
    EXPECT_EQ(api()->console_visible & 1, 0);
    EXPECT_EQ(global("y"), "(nil)");
}

TEST_F(ModsGuiTest, StateChoosesTheScreen) {
    struct Case {
        const char* state;
        int player2;
        const char* expect;
    };
    const Case cases[] = {
        {"play", 0, "states_play"},     {"play", 1, "states_play2"},
        {"pause", 0, "states_pause"},   {"pause", 1, "states_pause2"},
        {"menu", 1, "states_menu"},     {"lobby", 0, "states_lobby"},
        {"scene", 0, "states_scene"},   {"dialog", 0, "states_dialog"},
        {"overlay", 0, "states_overlay"}, {"xtabs", 0, "states_tabs"},
        {"tabs", 0, "states_tabs"},     {"login", 0, "menus_login"},
        {"xpause", 0, "states_pause"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.state) + " " + std::to_string(c.player2));
        snprintf(game->view.cur, sizeof(game->view.cur), "elsewhere");
        api()->param_set("player2", var(c.player2));
        api()->param_set("state", var(c.state));
        mods_loop(*game);
        EXPECT_STREQ(game->view.cur, c.expect);
    }
    EXPECT_EQ(api()->param_get("orient").__type__(), VAR_BOOL);

    // "xpause" with two players and unknown states change nothing.
    for (const char* s : {"xpause", "settings_x", "galaxy"}) {
        snprintf(game->view.cur, sizeof(game->view.cur), "elsewhere");
        api()->param_set("player2", var(1));
        api()->param_set("state", var(s));
        mods_loop(*game);
        EXPECT_STREQ(game->view.cur, "elsewhere") << s;
    }
    EXPECT_EQ(game->quit, 0);
}

TEST_F(ModsGuiTest, SettingsAndErrorScreensStayUnlessPlayBegins) {
    api()->param_set("player2", var(0));
    snprintf(game->view.cur, sizeof(game->view.cur), "menus_settings_audio");
    api()->param_set("state", var("pause"));
    mods_loop(*game);
    EXPECT_STREQ(game->view.cur, "menus_settings_audio");
    api()->param_set("state", var("play"));
    mods_loop(*game);
    EXPECT_STREQ(game->view.cur, "states_play");

    snprintf(game->view.cur, sizeof(game->view.cur), "menus_error");
    api()->param_set("state", var("exit"));
    mods_loop(*game);
    EXPECT_EQ(game->quit, 0);
    snprintf(game->view.cur, sizeof(game->view.cur), "states_play");
    mods_loop(*game);
    EXPECT_EQ(game->quit, 1);
    EXPECT_STREQ(game->view.cur, "states_play");
}

TEST_F(ModsGuiTest, PopupDismissTakesItsPageAwayUnseenByTheMod) {
    run("function event(e) seen = e.type end");
    api()->param_set("html", var("<popup/>"));
    // The page holding the popup, as the mod's markup made it.
    ModsGui* gui = page();
    ASSERT_NE(gui, nullptr);
    Container* page = new Container();
    page->name = "html";
    Widget* popup = new Widget();
    popup->name = "popup";
    page->add(popup, 0, 0);
    gui->add(page, 0, 0);
    gui->focused = gui->hovered = page;
    var dismiss(VAR_DICT, 0);
    dismiss["type"] = var("mods_popup_dismiss");
    mods_event(*game, dismiss);
    EXPECT_EQ(api()->param_get("html").__str__(), "");
    EXPECT_EQ(gui->find("popup"), nullptr);
    EXPECT_EQ(gui->focused, nullptr);
    EXPECT_EQ(gui->hovered, nullptr);
    EXPECT_EQ(global("seen"), "(nil)");  // the engine never saw it
}

// What the runtime asks of the Game: the player the settings name, and the
// in-match controls set up again after a world reset and at the end.
TEST_F(ModsGuiTest, RestartNamesThePlayerAndResetsRestartTheControls) {
    snprintf(game->settings.display_name, sizeof(game->settings.display_name), "Ann");
    snprintf(game->settings.uid, sizeof(game->settings.uid), "u42");
    game->settings.gsize = 640;
    z2test::stdout_of([&] { mods_restart(*game, 0, var(VAR_DICT, 0)); });
    EXPECT_EQ(api()->param_get("name").__str__(), "Ann");
    EXPECT_EQ(api()->param_get("uid").__str__(), "u42");
    EXPECT_EQ(api()->param_get("gsize").__str__(), "standard");

    game->ui.inited = game->ui.screen_set = 1;
    z2test::stdout_of([&] { api()->game_reset(); });
    EXPECT_EQ(game->ui.inited, 0);
    EXPECT_EQ(game->ui.screen_set, 0);
    game->ui.inited = game->ui.screen_set = 1;
    z2test::stdout_of([&] { mods_deinit(*game); });
    EXPECT_EQ(game->ui.inited, 0);
    EXPECT_EQ(game->ui.screen_set, 1);
}

}  // namespace
