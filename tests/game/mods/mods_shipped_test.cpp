// Every mod shipped in data/, started the way the menus start it and played
// for a few hundred frames on offscreen GL: its first page button pressed,
// fleets sent by pointer drags from the local player's planets, Escape
// pausing and resuming. And every example of the modder's guide, run in
// the mod runtime. No Lua error may reach the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/game.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_gui.h"
#include "mods/mods_lua.h"
#include "ruvezor/util/qel_web.h"
#include "render/zentar_ui.h"
#include "screens/states.h"
#include "web/game_web.h"
#include "world/zentar.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

namespace fs = std::filesystem;

class Env : public testing::Environment {
public:
    z2test::TempDir home;
    static std::string home_dir() { return fs::path(getenv("HOME")).string(); }
    void SetUp() override {
        home.enter_as_home("z2shipped");
        z2test::gl_font_up("Zentar 2");
        qel_web_disable();  // the guide's web call stays on this machine
    }
    void TearDown() override {
        z2test::gl_font_down();
        home.leave();
    }
};
const auto* env = testing::AddGlobalTestEnvironment(new Env);

// The mods of data/: every mod_*.lua with an init of its own (the others
// are modules that mods require).
std::vector<std::string> shipped_mods() {
    std::vector<std::string> out;
    for (const auto& f : fs::directory_iterator(Z2_DATA_DIR)) {
        std::string name = f.path().filename().string();
        if (name.rfind("mod_", 0) != 0 || f.path().extension() != ".lua") continue;
        if (z2test::slurp(f.path()).find("function init(") == std::string::npos) continue;
        out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

class ShippedMod : public ::testing::TestWithParam<std::string> {
protected:
    std::unique_ptr<Game> game = std::make_unique<Game>();

    void SetUp() override {
        GAME_THIS = game.get();
        z2test::stdout_of([&] { game->settings.load(); });  // the player's defaults: drag and drop
        states_init(*game);
    }
    void TearDown() override {
        z2test::stdout_of([&] { mods_deinit(*game); });
        GameView::unregister_states();
        game_web_drop_all();  // the guide's web call never gets an answer
        if (GAME_THIS == game.get()) GAME_THIS = nullptr;
    }

    ModsAPI* api() { return mods_api_of(*game); }
    std::string state() { return api() ? api()->param_get("state").__str__() : ""; }
    Zentar& world() { return game->world; }

    void frames(int n) {
        for (int i = 0; i < n && api(); i++) {
            game->view.state_loop(0.05f);
            if (i % 10 == 0) game->view.state_paint();
        }
    }
    void pointer(int type, float x, float y, int b) {
        Event e{};
        e.type = type;
        e.x = x, e.y = y, e.b = b;
        game->view.state_event(e);
    }
    void key_escape() {
        Event e{};
        e.type = 6, e.key = 5;
        game->view.state_event(e);
    }
    // The buttons on the mod's page.
    int buttons() {
        int n = 0;
        if (ModsGui* page = mods_gui_of(api()))
            for (Widget* w : page->_list_descendants())
                n += w->on_click.__type__() == VAR_DICT && w->on_click["type"].__str__() == "onclick" &&
                     !w->on_click["value"].__str__().empty();
        return n;
    }
    // The first button of the mod's page, as a click would report it.
    bool press_first_button() {
        ModsGui* page = mods_gui_of(api());
        if (!page) return false;
        for (Widget* w : page->_list_descendants()) {
            var& a = w->on_click;
            if (a.__type__() != VAR_DICT || a["type"].__str__() != "onclick") continue;
            if (a["value"].__str__().empty()) continue;
            mods_event(*game, var(a.__copy__()));
            return true;
        }
        return false;
    }
    int player() { return get_uid_mark_has_player(*game, 0); }
    int count(bool fleets, int owner) {
        int n = 0;
        for (int i = 1; i < world().top; i++) {
            const Item& it = world().items[i];
            if (it.in_use && it.owner_n == owner && (fleets ? it.has_fleet : it.has_planet)) n++;
        }
        return n;
    }
    // Drags from the player's fullest planet to the nearest planet of someone else.
    bool drag_a_send() {
        int me = player(), from = 0, to = 0;
        if (!me) return false;
        for (int i = 1; i < world().top; i++) {
            const Item& it = world().items[i];
            if (it.in_use && it.has_planet && it.owner_n == me &&
                (!from || it.ships_value > world().items[from].ships_value))
                from = i;
        }
        if (!from) return false;
        const Item& f = world().items[from];
        float near = INFINITY;
        for (int i = 1; i < world().top; i++) {
            const Item& it = world().items[i];
            if (!it.in_use || !it.has_planet || it.owner_n == me) continue;
            float d = std::hypot(it.position_x - f.position_x, it.position_y - f.position_y);
            if (d < near) near = d, to = i;
        }
        if (!to) return false;
        Vector3 a = game->ui.to_screen * Vector3{f.position_x, f.position_y, 0};
        Vector3 b = game->ui.to_screen * Vector3{world().items[to].position_x, world().items[to].position_y, 0};
        pointer(8, a.x, a.y, 1);
        for (int k = 1; k <= 4; k++) {
            float x = a.x + (b.x - a.x) * k / 4, y = a.y + (b.y - a.y) * k / 4;
            Event m{};
            m.type = 9, m.x = x, m.y = y, m.dx = (b.x - a.x) / 4, m.dy = (b.y - a.y) / 4, m.b = 1;
            game->view.state_event(m);
        }
        pointer(10, b.x, b.y, 1);
        return true;
    }
};

TEST_P(ShippedMod, PlaysWithoutALuaError) {
    bool had_planet = false, sent = false, okay = true;
    std::string before, paused, after;
    int pause_buttons = 0;
    // Failures are checked after the capture, which would swallow them.
    std::string out = z2test::stdout_of([&] {
        snprintf(game->mod_file, sizeof(game->mod_file), "%s/%s", Z2_DATA_DIR, GetParam().c_str());
        mods_restart(*game, 1, var(VAR_DICT, 0));
        frames(5);
        // A page first (a level picker, the settings): its first button starts the match.
        if (state() == "menu" || state() == "tabs") press_first_button();
        frames(5);

        for (int round = 0; round < 8 && api(); round++) {
            had_planet = had_planet || count(false, player()) > 0;
            if (drag_a_send()) {
                frames(2);
                sent = sent || count(true, player()) > 0;
            }
            frames(35);
        }

        // Escape pauses, and the pause page's Escape returns to the match.
        before = state();
        if (api() && (before == "play" || before == "scene")) {
            key_escape();
            frames(3);
            paused = state();
            pause_buttons = buttons();
            key_escape();
            frames(3);
            after = state();
        }
        if (ModsBase* engine = mods_engine_of(*game)) okay = engine->is_okay();
    });
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_TRUE(okay);
    if (had_planet) {
        EXPECT_TRUE(sent) << "a drag from an own planet sends a fleet";
    }
    if (!paused.empty() && paused != "quit") {  // the credits close on Escape instead
        EXPECT_TRUE(paused == "pause" || paused == "dialog") << paused;
        EXPECT_GE(pause_buttons, 2) << "the pause page offers the match and the menu";
        EXPECT_EQ(after, before);
    }
}

// The ```lua blocks of the guide, in order.
std::vector<std::string> guide_examples() {
    std::string text = z2test::slurp(std::string(Z2_SOURCE_DIR) + "/docs/modding.md");
    std::vector<std::string> out;
    const std::string open = "```lua\n", close = "```";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
        at += open.size();
        size_t end = text.find(close, at);
        if (end == std::string::npos) break;
        out.push_back(text.substr(at, end - at));
        at = end + close.size();
    }
    return out;
}

TEST_F(ShippedMod, EveryExampleOfTheModdersGuideRuns) {
    std::vector<std::string> examples = guide_examples();
    ASSERT_GE(examples.size(), 30u);
    std::string dir = Env::home_dir();
    // The guide's mod lives beside the shipped modules it requires.
    for (const char* m : {"mod_bots.lua", "mod_match.lua"})
        if (!fs::exists(dir + "/" + m)) fs::create_symlink(std::string(Z2_DATA_DIR) + "/" + m, dir + "/" + m);
    z2test::write_text(dir + "/blank.lua", "function init() end\nfunction loop(t) end\nfunction event(e) end\n");
    snprintf(game->mod_file, sizeof(game->mod_file), "%s/blank.lua", dir.c_str());
    for (size_t i = 0; i < examples.size(); i++) {
        std::string out = z2test::stdout_of([&] {
            mods_restart(*game, 0, var(VAR_DICT, 0));
            ModsBase* engine = mods_engine_of(*game);
            engine->script("init, loop, event = nil, nil, nil", "guide");
            engine->script(examples[i].c_str(), "guide");
            // An example that is a whole mod also starts, runs and hears a pause.
            engine->script("if init then init() end if loop then loop(0.05) end "
                           "if event then event({type = 'pause'}) event({type = 'back'}) end",
                           "guide");
        });
        EXPECT_EQ(out.find("Lua error"), std::string::npos) << "example " << i + 1 << ":\n" << examples[i] << "\n" << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Data, ShippedMod, testing::ValuesIn(shipped_mods()),
                         [](const testing::TestParamInfo<std::string>& p) {
                             return p.param.substr(0, p.param.size() - 4);
                         });

}  // namespace
