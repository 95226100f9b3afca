// A new player's first road through the real program, in this process on
// offscreen GL, driven only by SDL mouse events: the policy gate accepted,
// the main menu's Practice, the first level won by dragging fleets, the
// progress stored, and PLAY then leading to the login screen.
#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "app/game.h"
#include "app/gamewrap.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_gui.h"
#include "shell/trans.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_web.h"
#include "screens/menus.h"
#include "screens/menus_main.h"
#include "world/zentar.h"
#include "z2_test_util.h"

namespace {

namespace fs = std::filesystem;

void frame() { _main_tick(); }

using z2test::kFps;

// Runs frames until done() holds; false after that many frames.
bool until(const std::function<bool()>& done, long frames) { return z2test::step_until(done, frame, frames); }

void frames(int n) {
    for (int i = 0; i < n; i++) frame();
}

// Logical units to window pixels.
void to_pixels(float& x, float& y) {
    int w = 0, h = 0;
    SDL_GetWindowSize(SDL_GL_GetCurrentWindow(), &w, &h);
    x = x * w / game_get_sw();
    y = y * h / game_get_sh();
}

void mouse(Uint32 type, float x, float y, Uint32 held = 0) {
    to_pixels(x, y);
    SDL_Event ev{};
    ev.type = type;
    if (type == SDL_MOUSEMOTION) {
        ev.motion.x = (int)x, ev.motion.y = (int)y, ev.motion.state = held;
    } else {
        ev.button.x = (int)x, ev.button.y = (int)y, ev.button.button = SDL_BUTTON_LEFT;
        ev.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    }
    SDL_PushEvent(&ev);
}

// While the screens change only keys pass: pointer events wait for the end.
void settle() {
    until([] { return !game_this() || !game_trans_active(*game_this()); }, 10 * kFps);
}

void click(float x, float y) {
    settle();
    mouse(SDL_MOUSEMOTION, x, y);
    frames(2);
    mouse(SDL_MOUSEBUTTONDOWN, x, y);
    frames(2);
    mouse(SDL_MOUSEBUTTONUP, x, y);
    frames(3);
}

void drag(float x0, float y0, float x1, float y1) {
    settle();
    mouse(SDL_MOUSEMOTION, x0, y0);
    frames(2);
    mouse(SDL_MOUSEBUTTONDOWN, x0, y0);
    frames(2);
    for (int k = 1; k <= 5; k++) {
        mouse(SDL_MOUSEMOTION, x0 + (x1 - x0) * k / 5, y0 + (y1 - y0) * k / 5, SDL_BUTTON_LMASK);
        frames(1);
    }
    mouse(SDL_MOUSEBUTTONUP, x1, y1);
    frames(3);
}

// The centre of a widget, in logical units; false when there is none.
bool centre_of(Widget* w, float& x, float& y) {
    if (!w) return false;
    GfxRect r = w->get_abs_rect(true);
    x = r.x + r.w / 2, y = r.y + r.h / 2;
    return r.w > 0 && r.h > 0;
}

Widget* by_name(Container& root, const char* name) { return root.find(name); }

Widget* by_action(Container& root, const std::string& value) {
    for (Widget* w : root._list_descendants())
        if (w->on_click.__type__() == VAR_DICT && w->on_click.__has__(var("value")) &&
            w->on_click["value"].__str__() == value)
            return w;
    return nullptr;
}

bool click_widget(Widget* w) {
    settle();
    float x, y;
    if (!centre_of(w, x, y)) return false;
    click(x, y);
    return true;
}

std::string screen() { return game_this() ? game_this()->view.cur : ""; }

std::string mod_state() {
    ModsAPI* api = game_this() ? mods_api_of(*game_this()) : nullptr;
    return api ? api->param_get("state").__str__() : "";
}

class PracticeRoad : public ::testing::Test {
protected:
    std::string root, cwd;

    void SetUp() override {
        char tmpl[] = "/tmp/z2practice-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/bin");
        fs::create_directories(root + "/home");
        fs::create_directory_symlink(Z2_DATA_DIR, root + "/data");
        cwd = fs::current_path().string();
        ASSERT_EQ(chdir((root + "/bin").c_str()), 0);
        setenv("HOME", (root + "/home").c_str(), 1);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        qel_web_disable();  // the policy comes from the data directory; nothing leaves the machine
    }
    void TearDown() override {
        game_deinit();
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) ADD_FAILURE() << "chdir back";
        fs::remove_all(root);
    }
};

TEST_F(PracticeRoad, FirstLevelWonMakesThePlayerExperienced) {
    char name[] = "zentar2";
    char* argv[] = {name, nullptr};
    z2test::stdout_of_quiet([&] { game_init(1, argv); });
    Game* game = game_this();
    ASSERT_NE(game, nullptr);

    std::string out = z2test::stdout_of_quiet([&] {
        // The policy gate: both boxes, then Continue.
        auto* gate = dynamic_cast<MenusPreboard*>(GameView::find_state("menus_preboard"));
        ASSERT_NE(gate, nullptr);
        ASSERT_TRUE(until([&] { return gate->loaded == 1 && by_name(gate->root, "tos"); }, 10 * kFps)) << screen();
        frames(3);
        ASSERT_TRUE(click_widget(by_name(gate->root, "age")));
        ASSERT_TRUE(click_widget(by_name(gate->root, "tos")));
        ASSERT_TRUE(click_widget(by_action(gate->root, "continue")));
        ASSERT_TRUE(until([] { return screen() == "menus_main"; }, 5 * kFps)) << screen();

        // The page slides up into place; then Practice.
        auto* menu = dynamic_cast<MenusMain*>(GameView::find_state("menus_main"));
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(until([&] { return menu->offset < 1.0f; }, 20 * kFps)) << menu->offset;
        ASSERT_TRUE(click_widget(by_action(menu->root, "menus_lite")));
        ASSERT_TRUE(until([] { return mod_state() == "menu"; }, 5 * kFps)) << screen();

        // The level picker, drawn at least once so its buttons have their places.
        frames(3);
        ModsAPI* api = mods_api_of(*game);
        ASSERT_NE(api, nullptr);
        ASSERT_TRUE(click_widget(by_action(*mods_gui_of(api), "level:1")));
        ASSERT_TRUE(until([] { return screen() == "states_play"; }, 5 * kFps)) << screen() << " " << mod_state();

        // Fleets from our planet to the rival's until the level is won: a
        // fleet every 40 frames, for up to five minutes of play.
        auto planet_of = [&](bool ours) {
            int me = (int)mods_api_of(*game)->param_get("player").__num__(), pick = 0;
            Zentar& w = game->world;
            for (int i = 1; i < w.top; i++) {
                const Item& it = w.items[i];
                if (!it.in_use || !it.has_planet) continue;
                bool neutral = w.items[it.owner_n].user_neutral;
                if (ours ? it.owner_n == me : (it.owner_n != me && !neutral)) pick = i;
            }
            return pick;
        };
        bool won = z2test::step_until(
            [] { return mod_state() == "dialog"; },
            [&] {
                int from = planet_of(true), to = planet_of(false);
                if (from && to) {
                    const Item& a = game->world.items[from];
                    const Item& b = game->world.items[to];
                    Vector3 p = game->ui.to_screen * Vector3{a.position_x, a.position_y, 0};
                    Vector3 q = game->ui.to_screen * Vector3{b.position_x, b.position_y, 0};
                    drag(p.x, p.y, q.x, q.y);
                }
                frames(40);
            },
            5 * 60 * kFps / 40);
        ASSERT_TRUE(won) << mod_state();
        EXPECT_EQ(mods_api_of(*game)->param_get("status").__str__(), "Victory!");

        // The menu's button on the result page leads home.
        frames(3);
        ASSERT_TRUE(click_widget(by_action(*mods_gui_of(mods_api_of(*game)), "menu")));
        ASSERT_TRUE(until([] { return screen() == "menus_main"; }, 5 * kFps)) << screen();
    });

    // Failures inside a capture print into it.
    if (HasFailure()) FAIL() << out.substr(out.size() > 6000 ? out.size() - 6000 : 0);

    std::string record = z2test::slurp(root + "/home/.local/share/Zentar 2/mod_practice.bin");
    var doc(VAR_DICT, 0);
    ASSERT_EQ(json_decode(doc, record.data(), record.size()), 0) << record;
    EXPECT_GT(doc["rank"].__num__(), 1.0) << record;

    // PLAY now counts the player as experienced: to the login screen.
    z2test::stdout_of_quiet([&] {
        auto* menu = dynamic_cast<MenusMain*>(GameView::find_state("menus_main"));
        frames(3);
        ASSERT_TRUE(click_widget(by_action(menu->root, "menus_play")));
        until([] { return screen() == "menus_login"; }, 5 * kFps);
    });
    EXPECT_EQ(screen(), "menus_login");
    EXPECT_EQ(out.find("Lua error"), std::string::npos);
}

}  // namespace
