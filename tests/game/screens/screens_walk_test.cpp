// Every registered screen of the real game, started as the program starts
// (offscreen window, the real data directory), shown for a few frames: no
// screen may ask for an image, font, sound or music that data/ lacks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/game.h"
#include "app/game_view.h"
#include "app/gamewrap.h"
#include "mods/mods_api.h"
#include "screens/menus.h"
#include "screens/menus_misc.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_web.h"
#include "z2_test_util.h"

namespace {

namespace fs = std::filesystem;

void frame() {
    Event e;
    memset(&e, 0, sizeof(e));
    while (driver_event_poll(&e)) game_event(e);
    game_loop();
    game_paint();
}

// The lines of the log that name something missing.
std::vector<std::string> missing(const std::string& out) {
    std::vector<std::string> found;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find("unable to find") != std::string::npos) found.push_back(line);
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
    for (const auto& [name, state] : _game_states) names.push_back(name);
    ASSERT_GT(names.size(), 30u);
    for (const std::string& name : names) {
        std::string out = z2test::stdout_of([&] {
            game.view.next("menus_main", -1);  // a known place to leave from, the demo mod running
            // An in-match screen is shown as its mod's "state" asks for it.
            if (name.rfind("states_", 0) == 0 && game.mods_api) game.mods_api->params["state"] = var(name.substr(7));
            game.view.push(name.c_str(), -1);
            for (int i = 0; i < 4; i++) frame();
        });
        seen[name] = missing(out);
    }
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
