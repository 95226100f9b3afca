// Every registered screen of the real game, started as the program starts
// (offscreen window, the real data directory), shown for a few frames in a
// 1280 x 800 and an 800 x 600 window: no screen may ask for an image, font,
// sound or music that data/ lacks, let a button's label come near the
// button's rim, set a tab's label off the tab's middle, or wrap a text so
// that one letter stands alone on a line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/game.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "app/gamewrap.h"
#include "app/test.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_gui.h"
#include "screens/menus.h"
#include "screens/menus_login.h"
#include "screens/menus_main.h"
#include "screens/menus_misc.h"
#include "screens/menus_news.h"
#include "screens/menus_settings.h"
#include "screens/states.h"
#include "screens/states_lobby.h"
#include "screens/states_play2.h"
#include "screens/ext_store.h"
#include "screens/menus_webiap.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_web.h"
#include "z2_test_util.h"

namespace {

namespace fs = std::filesystem;

void frame() { _main_tick(); }

// The lines of the log that name something missing.
std::vector<std::string> missing(const std::string& out) {
    std::vector<std::string> found;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find("unable to find") != std::string::npos) found.push_back(line);
    return found;
}

template <class T, class... More>
Container* first_root(State* s) {
    if (auto* t = dynamic_cast<T*>(s)) return &t->root;
    if constexpr (sizeof...(More) > 0) return first_root<More...>(s);
    return nullptr;
}

// The debug scenes keep their widgets to themselves; a pointer to the member
// named through a derived class reaches them.
struct TestPeek : Test {
    static constexpr Container* Test::*gui_of = &TestPeek::gui;
};
struct MagnetPeek : TestMagnetSet {
    static constexpr Container* TestMagnetSet::*gui_of = &MagnetPeek::gui;
};

// The widgets a screen shows: its own, the mod's page for the screens that
// show only that, or for a page over a match the match's.
Container* root_of(State* s, Game& game) {
    if (auto* cover = dynamic_cast<StatesCover*>(s)) return cover->below ? root_of(cover->below, game) : nullptr;
    if (dynamic_cast<StatesMenu*>(s) || dynamic_cast<StatesPause2*>(s)) return mods_gui_of(game.mods_api.get());
    if (auto* t = dynamic_cast<Test*>(s)) return t->*TestPeek::gui_of;
    if (auto* t = dynamic_cast<TestMagnetSet*>(s)) return t->*MagnetPeek::gui_of;
    return first_root<MenusPreboard, MenusMain, MenusSplash, MenusModScreen, MenusLogin, MenusNews, MenusError,
                      MenusMods, MenusAbout, MenusStats, MenusClans, MenusStore, MenusSettings, MenusSettingsPopup,
                      MenusSettingsAccount, MenusSettingsPage, StatesPlay, StatesScene, StatesLobby, StatesTabs,
                      StatesPlay2, ExtStoreView, MenusWebIAP>(s);
}

// What a player would see as broken: a label that comes within 6 units of
// its button's painted edge (the plain face's rim is 3 wide: nearer, the
// label touches it), a tab label off its tab's middle, and a wrapped line of
// one letter.
std::vector<std::string> layout_faults(Container& root) {
    constexpr float ROOM = 6;
    int tab_look = gfx_img_load("gui-tab1");
    std::vector<std::string> found;
    for (Widget* w : root._list_descendants()) {
        auto* l = dynamic_cast<Label*>(w);
        if (!l || l->text.empty()) continue;
        std::string quoted = "\"" + l->text + "\"";
        Widget* button = l->parent;
        while (button && button->on_click.__type__() != VAR_DICT && !dynamic_cast<OptionBox*>(button))
            button = button->parent;
        if (button) {
            const StyleBlock& st = button->style.computed();
            auto side = [&](int k) { return (float)(style_or(st.padding[k], 0) + style_or(st.border[k], 0)); };
            GfxRect in = button->get_abs_rect(false), t = l->get_abs_rect(false);
            float left = in.x - side(3), right = in.x + in.w + side(1);
            if (t.x < left + ROOM - 0.5f || t.x + t.w > right - ROOM + 0.5f)
                found.push_back(quoted + " is " + std::to_string((int)t.w) + " wide in a button " +
                                std::to_string((int)(right - left)) + " wide");
            auto* tab = dynamic_cast<Box*>(button);
            if (st.bg_image == tab_look && tab && !tab->children.empty()) {
                // The icon and label together sit in the middle of the tab's face
                GfxRect group = tab->children[0]->get_abs_rect(false);
                float top = in.y - side(0), bottom = in.y + in.h + side(2);
                // (across, the inner box: the first and last tabs run on past the window's edge)
                if (std::fabs((t.x + t.w / 2) - (in.x + in.w / 2)) > 1.5f ||
                    std::fabs((group.y - top) - (bottom - group.y - group.h)) > 4)
                    found.push_back(quoted + " is off the middle of its tab");
            }
        }
        FontWrap wrap;
        _font_wrap_calc(l->font, l->text.c_str(), std::trunc(l->w), wrap);
        for (int i = 1; i < wrap.count; i++) {
            const FontWrapLine& line = wrap.lines[i];
            if (line.end - line.start == 1 && l->text[line.start - 1] != '\n' && l->text[line.start] != ' ')
                found.push_back(quoted + " leaves \"" + l->text.substr(line.start, 1) + "\" alone on line " +
                                std::to_string(i + 1));
        }
    }
    return found;
}

TEST(ScreensWalk, NoScreenAsksForAMissingPictureOrSound) {
    // The program's layout: it runs in bin/ beside data/, with a home of its own.
    z2test::TempDir room;
    room.enter_as_home("z2walk", "home");
    fs::create_directories(room.root / "bin");
    fs::create_directory_symlink(Z2_DATA_DIR, room.root / "data");
    fs::path cwd = fs::current_path();
    fs::current_path(room.root / "bin");
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    qel_web_disable();  // no request leaves the machine
    preboard_set(1);    // the policy accepted: every button shows

    char arg0[] = "zentar2";
    char* argv[] = {arg0, nullptr};
    std::map<std::string, std::vector<std::string>> seen;
    seen["start"] = missing(z2test::stdout_of([&] {
        game_init(1, argv);
        for (int i = 0; i < 20; i++) frame();
    }));
    Game& game = *game_this();
    strcpy(game.settings.name, "~Walker");  // a name that shows the Extreme tab too

    std::vector<std::string> names;
    for (const auto& [name, state] : _game_view._game_states) names.push_back(name);
    ASSERT_GT(names.size(), 30u);
    for (auto [sw, sh] : {std::pair{1280, 800}, std::pair{800, 600}}) {
        game.settings.vres = sw << 16 | sh;
        game.settings.vfull = -1;
        z2test::stdout_of([&] { game.video.video_reset(); });
        int w = 0, h = 0;
        driver_get_size(&w, &h);
        ASSERT_EQ(w, sw);
        ASSERT_EQ(h, sh);
        std::string at = std::to_string(sw) + "x" + std::to_string(sh) + " ";
        for (const std::string& name : names) {
            std::string out = z2test::stdout_of([&] {
                game.view.next("menus_main", -1);  // a known place to leave from, the demo mod running
                // An in-match screen is shown as its mod's "state" asks for it.
                if (name.rfind("states_", 0) == 0 && game.mods_api) game.mods_api->params["state"] = var(name.substr(7));
                game.view.push(name.c_str(), -1);
                for (int i = 0; i < 3; i++) frame();
            });
            seen[at + name] = missing(out);
            State* shown = GameView::find_state(game.view.cur);
            if (Container* root = shown ? root_of(shown, game) : nullptr)
                for (const std::string& fault : layout_faults(*root)) seen[at + game.view.cur].push_back(fault);
            else
                seen[at + name].push_back(std::string("no widgets known for ") + game.view.cur);
        }
    }
    // The volume slider plays the test sound at its new level.
    seen["menus_settings_audio: SFX Volume"] = missing(z2test::stdout_of([&] {
        game.view.next("menus_settings_audio", -1);
        var change(VAR_DICT, 0);
        change["type"] = var("onchange");
        change["value"] = var("sfx");
        dynamic_cast<MenusSettingsPage*>(GameView::find_state("menus_settings_audio"))->_act(Event{}, change);
        frame();
    }));
    // Play on the mods page, with the path it shows (the home directory, no
    // mod), asks for silence first.
    std::string played = z2test::stdout_of([&] {
        game.view.next("menus_mods", -1);
        for (int i = 0; i < 2; i++) frame();
        auto* mods = dynamic_cast<MenusMods*>(GameView::find_state("menus_mods"));
        Widget* play = nullptr;
        for (Widget* w : mods->root._list_descendants())
            if (w->on_click.__type__() == VAR_DICT && w->on_click["value"].__str__() == "open") play = w;
        ASSERT_NE(play, nullptr);
        play->_focus();  // as the Tab key gets there, then Return presses it
        Event e{};
        e.type = GUI_EV_KEYUP, e.key = GUI_KEY_RETURN;
        game_event(e);
        for (int i = 0; i < 2; i++) frame();
    });
    EXPECT_NE(played.find("play_music: mus-none"), std::string::npos);
    seen["menus_mods: Play"] = missing(played);

    z2test::stdout_of([] { game_deinit(); });
    fs::current_path(cwd);
    for (const auto& [name, lines] : seen)
        for (const std::string& line : lines) ADD_FAILURE() << name << ": " << line;
}

}  // namespace
