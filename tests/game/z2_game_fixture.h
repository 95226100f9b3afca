// Shared test setup for game tests: an offscreen 640x480 GL window with the
// fonts loaded, its start-up chatter kept off the test output; a scratch home
// around it; a screen to stand in for others and the actions of a player's
// clicks and keys; a game running a small mod from a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/game.h"
#include "mods/mods_api.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_web.h"
#include "shell/game_view.h"
#include "z2_test_util.h"

namespace z2test {

// gamename, when given, is set before the data dir so the user dir follows it.
inline void gl_font_up(const char* gamename = nullptr) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    stdout_of([gamename] {
        driver_init(DRIVER_VIDEO | DRIVER_TIMER);
        if (gamename) driver_set_gamename(gamename);
        driver_set_altdir(Z2_DATA_DIR);
        driver_video_init(640, 480, 640, 480, 64, 64, 0);
        gfx_init();
        gfx_set_size(640, 480);
        font_init();
    });
}

inline void gl_font_down() {
    stdout_of([] { font_deinit(), gfx_deinit(), driver_deinit(); });
}

// The window and fonts for a whole test program.
class GlFontEnv : public testing::Environment {
public:
    void SetUp() override { gl_font_up(); }
    void TearDown() override { gl_font_down(); }
};

// The same in a scratch HOME (named after tag), the user directory the
// game's own; web_off keeps every web request on this machine.
class HomeGlFontEnv : public testing::Environment {
public:
    TempDir home;
    explicit HomeGlFontEnv(std::string tag, bool web_off = false) : tag_(std::move(tag)), web_off_(web_off) {}
    void SetUp() override {
        home.enter_as_home(tag_);
        gl_font_up("Zentar 2");
        if (web_off_) qel_web_disable();
    }
    void TearDown() override {
        gl_font_down();
        home.leave();
    }

private:
    std::string tag_;
    bool web_off_;
};

// A 960x640 window showing the game's 480x320 logical screen at scale 2,
// with a game named in GAME_THIS: the shell as it paints its screens. A test
// sets HOME before SetUp when it needs one and registers its screens after;
// TearDown unregisters them.
class ShellGLTest : public testing::Test {
protected:
    static constexpr int kW = 960, kH = 640;
    std::unique_ptr<Game> game;

    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        driver_init(DRIVER_VIDEO | DRIVER_TIMER | DRIVER_LOG);
        driver_video_init(kW, kH, 640, 480, 320, 320, 0);
        game = std::make_unique<Game>();
        _game_data.GAME_THIS = game.get();
        game->settings.vsize = 320;
        gfx_init();
        gfx_set_size(game_get_sw(), game_get_sh());
        gfx_set_scale(2);
    }
    void TearDown() override {
        GameView::unregister_states();
        game.reset();
        _game_data.GAME_THIS = nullptr;
        gfx_deinit();
        driver_deinit();
    }
};

// Stands in for a screen the test does not look at.
struct BlankScreen : State {
    int inits = 0, paints = 0;
    void init() override { inits++; }
    void paint() override { paints++; }
};

// A screen that records the calls it gets, each as "type|value".
struct Recorder : State {
    std::vector<std::string>* calls;
    explicit Recorder(std::vector<std::string>* c) : calls(c) {}
    var call(var msg) override {
        calls->push_back(msg["type"].__str__() + "|" + msg["value"].__str__());
        return var();
    }
};

// What a click on a button whose onclick is value returns.
inline var click(const char* value) {
    var a(VAR_DICT, 0);
    a["type"] = var("onclick");
    a["value"] = var(value);
    return a;
}

// A key down (type 6) or up (7).
inline Event key(int k, int type = 6) {
    Event e{};
    e.type = type, e.key = k;
    return e;
}

// A game running a small mod from a scratch directory. SetUp makes the game
// (make_game), names it in GAME_THIS when asked (name_game), registers what
// it needs and starts the mod (start_mod); TearDown undoes all of it.
class ModGameTest : public testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<Game> game;

    // With home, HOME is dir/home and the driver runs without a window for
    // the test; else the driver is the program's.
    void make_game(const std::string& tag, bool home) {
        if (home) {
            dir.enter_as_home(tag, "home");
            driver_init(0);
            driver_ = true;
        } else {
            dir.enter(tag);
        }
        game = std::make_unique<Game>();
    }
    void name_game() {
        _game_data.GAME_THIS = game.get();
        named_ = true;
    }
    // The mod's Lua text as dir/main.lua, started.
    void start_mod(const char* lua) {
        spit(dir.root / "main.lua", lua);
        snprintf(game->mod_file, sizeof(game->mod_file), "%s/main.lua", dir.root.c_str());
        mods_restart(*game, 0, var(VAR_DICT, 0));
    }
    void TearDown() override {
        mods_deinit(*game);
        GameView::unregister_states();
        if (named_) _game_data.GAME_THIS = nullptr;
        game.reset();
        if (driver_) driver_deinit();
        dir.leave();
    }

    ModsAPI* api() { return mods_api_of(*game); }
    var param(const char* k) { return api()->param_get(k); }
    void set(const char* k, var v) { api()->param_set(k, v); }
    // The mod's state parameter set and one pass of the mod.
    void enter(const char* state) {
        set("state", var(state));
        mods_loop(*game);
    }

private:
    bool driver_ = false, named_ = false;
};

}  // namespace z2test
