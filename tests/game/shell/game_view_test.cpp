// The screen registry and stack, the transition rules, and the frame painter
// with its low-resolution mode, read back from a real GL context.
#include <gtest/gtest.h>

#include <SDL.h>
#include <GL/gl.h>
#include <stb_image_write.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/game.h"
#include "app/game_paint.h"
#include "render/zentar_draw_paint.h"  // my_gfx_fill_a
#include "shell/trans.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gui.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

using z2test::count_of;
using z2test::stdout_of;
using Calls = std::vector<std::string>;

Calls calls;  // what the test screens saw, in order

struct Screen : State {
    std::string name;
    explicit Screen(std::string n) : name(std::move(n)) {}
    void init() override { calls.push_back(name + ":init"); }
    void deinit() override { calls.push_back(name + ":deinit"); }
    std::function<void()> on_event;
    void event(Event e) override {
        calls.push_back(name + ":event" + std::to_string(e.type));
        if (on_event) on_event();
    }
    void loop(float dt) override { calls.push_back(name + ":loop" + std::to_string((int)dt)); }
    var call(var msg) override { return var(name + "<" + msg.__str__()); }
    ~Screen() override { calls.push_back(name + ":deleted"); }
};

struct ViewTest : testing::Test {
    GameView view{};
    void SetUp() override {
        for (const char* n : {"a", "b", "c"}) GameView::register_state(n, new Screen(n));
        calls.clear();
    }
    void TearDown() override { GameView::unregister_states(); }
    Calls take() { return std::exchange(calls, {}); }
};

TEST_F(ViewTest, RegistryCutsLongNamesAndDeletesEachScreenOnce) {
    Screen* twice = new Screen("twice");
    std::string out = stdout_of([&] { GameView::register_state(std::string(40, 'x').c_str(), twice); });
    EXPECT_EQ(count_of(out, "cut"), 1) << out;
    EXPECT_EQ(GameView::find_state(std::string(31, 'x').c_str()), twice);
    EXPECT_EQ(GameView::find_state("nobody"), nullptr);
    GameView::register_state("also", twice);
    GameView::unregister_states();
    EXPECT_EQ(take(), (Calls{"a:deleted", "twice:deleted", "b:deleted", "c:deleted"}));
    EXPECT_EQ(GameView::find_state("a"), nullptr);
}

TEST_F(ViewTest, MovesDeinitThenInitAndUnwindToTheDeepestOccurrence) {
    view.next("a", -1);
    view.push("b", -1);
    view.push("c", -1);
    EXPECT_EQ(take(), (Calls{"a:init", "a:deinit", "b:init", "b:deinit", "c:init"}));
    Event e{};
    e.type = 8;
    view.state_event(e);
    view.state_loop(3.0f);
    EXPECT_EQ(view.state_call(var("hi")).__str__(), "c<hi");
    EXPECT_EQ(static_cast<Screen*>(view.get_state(2))->name, "a");
    EXPECT_EQ(view.get_state(16), nullptr);

    view.next("a", -1);  // a is deeper too: everything above it goes
    EXPECT_EQ(take(), (Calls{"c:event8", "c:loop3", "c:deinit", "a:init"}));
    EXPECT_TRUE(!strcmp(view.cur, "a") && !strcmp(view.stack[0], "a") && !view.stack[1][0]);
    view.next("a", -1);  // the current name restarts
    view.push("b", -1);
    view.push("a", -1);  // a pushed name already stacked returns to it
    EXPECT_TRUE(!strcmp(view.stack[0], "a") && !view.stack[1][0]);

    // A move asked for while a screen handles an event comes once it returned.
    static_cast<Screen*>(GameView::find_state("a"))->on_event = [&] {
        view.next("c", -1);
        EXPECT_STREQ(view.cur, "a");
        EXPECT_EQ(view.dest(), "c");
    };
    take();
    view.state_event(e);
    EXPECT_EQ(take(), (Calls{"a:event8", "a:deinit", "c:init"}));

    snprintf(view.cur, sizeof(view.cur), "elsewhere");
    EXPECT_FALSE(view.in_stack("elsewhere")) << "in_stack reads the stack only";
}

TEST_F(ViewTest, FullStackDropsItsBottomAndPopKeepsTheLast) {
    std::string out = stdout_of([&] { view.next(std::string(50, 'q').c_str(), -1); });
    EXPECT_EQ(std::string(view.cur), std::string(31, 'q'));
    EXPECT_EQ(count_of(out, "cut") + count_of(out, "no screen named"), 2) << out;
    EXPECT_EQ(view.state_call(var("x"))._obj, nullptr);
    view.next("n0", -1);
    for (int i = 1; i < 16; i++) view.push(("n" + std::to_string(i)).c_str(), -1);
    out = stdout_of([&] { view.push("b", -1); });
    EXPECT_EQ(count_of(out, "\"n0\" dropped"), 1) << out;
    for (int i = 0; i < 15; i++) view.pop(-1);
    EXPECT_STREQ(view.cur, "n1");
    take();
    EXPECT_EQ(stdout_of([&] { view.pop(2); }), "");
    EXPECT_STREQ(view.cur, "n1");
    EXPECT_TRUE(take().empty());
}

TEST_F(ViewTest, MovesAskTheRulesOnceWithTheirNames) {
    view.next("menus_settings", -1);
    std::string out = stdout_of([&] {
        view.push("menus_settings_video", 2);
        view.pop(4);
        view.push("a", -1);
    });
    EXPECT_EQ(count_of(out, "trans:"), 2) << out;
    EXPECT_EQ(count_of(out, "trans: menus_settings (settings) -> menus_settings_video (settings)\n"), 1);
    EXPECT_EQ(count_of(out, "trans: menus_settings_video (settings) -> menus_settings (settings)\n"), 1);
}

TEST(ViewRules, TransitionTable) {
    struct {
        const char *from, *to;
        int arg, dir, want;
    } cases[] = {
        {"a", "b", -1, 0, -1},           {"states_lobby", "states_xlobby", 2, 0, 0},
        {"states_play", "states_pause", 7, 0, 7}, {"menus_settings_video", "menus_login", 3, 1, 3},
        {"", "menus_main", 2, 0, 1},     {"", "", 5, 0, 5},
        {"menus_main", "states_play", 2, 0, 1},   {"menus_settings_video", "menus_main", 2, 0, 4},
        {"states_play", "menus_news", 2, 1, 1},   {"menus_news", "states_play", 2, -1, 1},
        {"menus_lite", "states_tabs", 2, 0, 1},   {"states_lobby", "states_play", 2, 1, 2},
        {"states_lobby", "states_play", 2, 0, 1}, {"states_pause", "states_xlobby", 2, 0, 4},
        {"states_tabs", "states_lobby", 2, 0, 1}, {"states_xlobby", "states_tabs", 2, 0, 4},
        {"states_tabs", "states_pause", 2, 0, 1}, {"states_play", "states_tabs", 2, 0, 4},
        {"states_play", "menus_settings", 9, 0, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(builds_trans_get(c.from, c.to, c.arg, c.dir), c.want) << c.from << " -> " << c.to;
}

// ---- paint ----------------------------------------------------------------------

using FbGen = void (*)(GLsizei, GLuint*);
using FbTex = void (*)(GLenum, GLenum, GLenum, GLuint, GLint);

// Top half of the logical screen red, bottom half green.
struct PaintScreen : State {
    int paints = 0, fbo = -1, blend = -1, viewport[4] = {};
    bool make_error = false;
    void paint() override {
        paints++;
        glGetIntegerv(0x8CA6 /* framebuffer binding */, &fbo);
        glGetIntegerv(GL_VIEWPORT, viewport);
        blend = glIsEnabled(GL_BLEND);
        gfx_ortho();
        gfx_fill(0xFF0000, 0, 0, game_get_sw(), game_get_sh() / 2);
        gfx_fill(0x00FF00, 0, game_get_sh() / 2, game_get_sw(), game_get_sh());
        if (make_error) glEnable(0xFFFF);
    }
};

struct PaintTest : z2test::ShellGLTest {
    std::string home;
    PaintScreen* screen = new PaintScreen();
    GLuint fbo = 0, tex = 0;

    void SetUp() override {
        char tmpl[] = "/tmp/z2view-XXXXXX";
        home = mkdtemp(tmpl);
        setenv("HOME", home.c_str(), 1);
        ShellGLTest::SetUp();
        unsigned char black[4] = {0, 0, 0, 255};  // the scan lines' image
        stbi_write_png((home + "/black.png").c_str(), 1, 1, 4, black, 4);
        driver_set_altdir(home.c_str());
        // Transition framebuffer 1, as the transition module makes it.
        glGenTextures(1, &tex);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2048, 1024, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        ((FbGen)SDL_GL_GetProcAddress("glGenFramebuffersEXT"))(1, &fbo);
        fbo_bind(fbo);
        ((FbTex)SDL_GL_GetProcAddress("glFramebufferTexture2DEXT"))(0x8D40, 0x8CE0, GL_TEXTURE_2D, tex, 0);
        fbo_bind(0);
        _game_trans._game_trans_fbo[1] = fbo;
        _game_trans._game_trans_tex[1] = tex;
        GameView::register_state("paint", screen);
        game->view.next("paint", -1);
    }

    void TearDown() override {
        ((FbGen)SDL_GL_GetProcAddress("glDeleteFramebuffersEXT"))(1, &fbo);
        glDeleteTextures(1, &tex);
        _game_trans._game_trans_fbo[1] = _game_trans._game_trans_tex[1] = 0;
        driver_set_altdir(nullptr);
        ShellGLTest::TearDown();
        std::filesystem::remove_all(home);
    }

    // Pixel (x, y) of the bound framebuffer, y from the bottom.
    static unsigned px(int x, int y) {
        unsigned char c[4] = {};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, c);
        return (unsigned)c[0] << 16 | (unsigned)c[1] << 8 | c[2];
    }

    // Column x of the low-resolution frame, top row first: R/G full, r/g half.
    std::string lowres_column(int x, int rows) {
        fbo_bind(fbo);
        std::string out;
        for (int r = rows - 1; r >= 0; r--) {
            unsigned c = px(x, r);
            out += c == 0xFF0000 ? 'R' : c == 0x7F0000 ? 'r' : c == 0xFF00 ? 'G' : c == 0x7F00 ? 'g' : '?';
        }
        fbo_bind(0);
        return out;
    }
};

// Half-dark even rows, red over green.
std::string scan_rows(int n) {
    std::string out;
    for (int r = 0; r < 2 * n; r++) out += "rgRG"[(r < n ? 0 : 1) + 2 * (r % 2)];
    return out;
}

TEST_F(PaintTest, ScreenPaintsOverAFreshGlStateAndNotWhileInactive) {
    glDisable(GL_BLEND);
    game->paint();
    EXPECT_EQ(screen->blend, 1) << "the GL state is reset first";
    EXPECT_EQ(screen->fbo, 0);
    EXPECT_EQ(px(100, kH - 10), 0xFF0000u);
    EXPECT_EQ(px(100, 10), 0x00FF00u);
    game->active = 0;
    _game_paint.ticks = -1;
    game->paint();
    EXPECT_EQ(screen->paints, 1);
    EXPECT_GE(_game_paint.ticks, 0) << "pacing runs while inactive";
}

TEST_F(PaintTest, RetroModeRendersLowResolutionWithScanLines) {
    game->settings.x_retro = 1;
    game->paint();
    EXPECT_EQ(screen->fbo, (int)fbo);
    EXPECT_TRUE(screen->viewport[2] == 480 && screen->viewport[3] == 320);
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_TRUE(vp[2] == kW && vp[3] == kH) << "the window's viewport comes back";
    EXPECT_EQ(lowres_column(100, 320), scan_rows(160));
    // Stretched over the window the right way up.
    unsigned top = px(kW / 2, kH - 20), bottom = px(kW / 2, 20);
    EXPECT_TRUE(top >> 16 >= 0x7F && (top & 0xFFFF) == 0) << std::hex << top;
    EXPECT_TRUE((bottom >> 8) >= 0x7F && (bottom & 0xFF00FF) == 0) << std::hex << bottom;

    driver_set_size(kH, kW);  // portrait
    gfx_set_size(game_get_sw(), game_get_sh());
    game->paint();
    EXPECT_TRUE(screen->viewport[2] == 320 && screen->viewport[3] == 480);
    EXPECT_EQ(lowres_column(100, 480), scan_rows(240));
}

TEST_F(PaintTest, GlErrorIsLoggedOncePerChange) {
    screen->make_error = true;
    std::string out = stdout_of([&] { game->paint(), game->paint(); });
    EXPECT_EQ(count_of(out, "glGetError() -> 1280"), 1) << out;
    screen->make_error = false;
    out = stdout_of([&] { game->paint(), game->paint(); });
    EXPECT_EQ(count_of(out, "glGetError() -> 0"), 1) << out;
}

TEST_F(PaintTest, TranslucentFillIsPremultipliedAndRestoresState) {
    gfx_gl_state_reset();
    gfx_ortho();
    gfx_fill(0xFF0000, 0, 0, 480, 320);
    my_gfx_fill_a(0x00FF00, 0, 0, 240, 320, 128);
    EXPECT_EQ(px(100, 100), 0x7F8000u);
    EXPECT_EQ(px(700, 100), 0xFF0000u);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D) && colour[0] + colour[1] + colour[2] + colour[3] == 4.0f);
}

}  // namespace
