// Screen transitions read back from a real GL context: captures land in the
// framebuffer textures, the steps count down, the layers blend and zoom; and
// window points unproject onto the z = 0 plane.
#include <gtest/gtest.h>

#include <SDL.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdlib>
#include <memory>

#include "app/game.h"
#include "shell/trans.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gui.h"
#include "z2_game_fixture.h"
#include "z2_gl_util.h"
#include "z2_test_util.h"

namespace {

constexpr float kStep = 0.016666668f;

// A band of `top` colour over the first `band` logical rows, `rest` below.
struct BandScreen : State {
    unsigned top = 0, rest = 0;
    float band = 0;
    void paint() override {
        gfx_ortho();
        gfx_fill(top, 0, 0, game_get_sw(), band);
        gfx_fill(rest, 0, band, game_get_sw(), game_get_sh() - band);
    }
};

struct TransTest : z2test::ShellGLTest {
    BandScreen* screen = new BandScreen();

    void SetUp() override {
        ShellGLTest::SetUp();
        gfx_set_orient(0);
        gfx_set_ortho_near_far(-1000, 1000);
        GameView::register_state("band", screen);
        game->view.next("band", -1);
    }

    void TearDown() override {
        game_trans_deinit(*game);
        _game_trans._game_trans_frame = _game_trans._game_trans_len = _game_trans._game_trans_mode = 0;
        _game_trans._game_trans_t = 0;
        ShellGLTest::TearDown();
    }

    void show(unsigned top, float band, unsigned rest) {
        screen->top = top;
        screen->band = band;
        screen->rest = rest;
    }
    void steps(int n) {
        for (int i = 0; i < n; i++) game_trans_loop(*game, kStep);
    }
    // 0xRRGGBB at (x, y) of a framebuffer, y from its top row of `rows`.
    static unsigned px(unsigned fbo, int x, int y, int rows) {
        fbo_bind(fbo);
        unsigned c = z2test::rgb_at(x, y, rows);
        fbo_bind(0);
        return c;
    }
    static unsigned win(int x, int y) { return px(0, x, y, kH); }
    static unsigned slot(int s, int x, int y) { return px(_game_trans._game_trans_fbo[s], x, y, 1024); }
};

// Each channel of got within 2 of want.
::testing::AssertionResult near_rgb(unsigned got, unsigned want) {
    for (int sh : {16, 8, 0})
        if (std::abs((int)((got >> sh) & 255) - (int)((want >> sh) & 255)) > 2)
            return ::testing::AssertionFailure() << std::hex << "got 0x" << got << ", want 0x" << want;
    return ::testing::AssertionSuccess();
}

TEST_F(TransTest, FadeCapturesOldAndNewScreensAndBlendsThem) {
    std::string out = z2test::stdout_of([&] { game_trans_init(*game); });
    EXPECT_EQ(z2test::count_of(out, "create_fbo success"), 3) << out;
    EXPECT_TRUE(_game_trans._game_trans_fbo[1] && _game_trans._game_trans_fbo[2] && _game_trans._game_trans_fbo[3]);
    EXPECT_NE(_game_trans._game_trans_tex[1], _game_trans._game_trans_tex[2]);
    EXPECT_TRUE(game_trans_active(*game));
    EXPECT_EQ(_game_trans._game_trans_frame, 15);
    EXPECT_EQ(_game_trans._game_trans_mode, 2) << "the start-up fade";
    EXPECT_FALSE(game_trans_ready(*game));

    game_trans_loop(*game, 0.04f);
    EXPECT_EQ(_game_trans._game_trans_frame, 13);
    EXPECT_NEAR(_game_trans._game_trans_t, 0.04f - 2 * kStep, 1e-6);

    // A screen change captures the old screen whole into slot 1, flipped.
    show(0xFF0000, 160, 0x00FF00);
    game_trans_grab(*game, 1, 2);
    EXPECT_EQ(_game_trans._game_trans_frame, 15);
    EXPECT_EQ(slot(1, 10, 10), 0xFF0000u);
    EXPECT_EQ(slot(1, 2040, 1014), 0x00FF00u);
    // A second change before any step keeps that picture.
    show(0xFFFF00, 320, 0);
    game_trans_grab(*game, 1, 2);
    EXPECT_EQ(slot(1, 10, 10), 0xFF0000u);

    show(0x0000FF, 320, 0);
    game_trans_grab(*game, 2, -1);
    EXPECT_TRUE(game_trans_ready(*game));
    EXPECT_EQ(slot(2, 1000, 500), 0x0000FFu);

    steps(7);  // t = 7/15: old whole, new at 7/15 over it
    game_trans_paint(*game);
    EXPECT_TRUE(near_rgb(win(100, 10), 0x880077)) << "old red under the new blue";
    EXPECT_TRUE(near_rgb(win(100, kH - 10), 0x008877));

    game_trans_grab(*game, 1, 0);
    EXPECT_FALSE(game_trans_active(*game)) << "mode 0 stops at once";
}

TEST_F(TransTest, ZoomInGrowsTheOldPictureAndBringsTheNewInSmall) {
    game_trans_init(*game);
    steps(15);
    EXPECT_FALSE(game_trans_active(*game));
    show(0xFF0000, 80, 0x00FF00);  // a red band over the top quarter
    game_trans_grab(*game, 1, 1);
    show(0x0000FF, 320, 0);
    game_trans_grab(*game, 2, -1);
    steps(6);  // t = 0.4: old k 1.8 at 0.6, new k 0.7 at 0.4
    game_trans_paint(*game);
    // The band's edge moves from 1/4 of the height to 160 - 80 x 1.8 = 16 units.
    EXPECT_TRUE(near_rgb(win(20, 20), 0x990000));
    EXPECT_TRUE(near_rgb(win(20, 50), 0x009900));
    // The new picture spans 0.7 of the window about its centre (x 144..816).
    EXPECT_TRUE(near_rgb(win(130, 320), 0x009900));
    EXPECT_TRUE(near_rgb(win(160, 320), 0x005C66));
    EXPECT_TRUE(near_rgb(win(800, 320), 0x005C66));
    EXPECT_TRUE(near_rgb(win(830, 320), 0x009900));
    steps(9);
    EXPECT_FALSE(game_trans_active(*game));
}

TEST_F(TransTest, WindowCornersUnprojectToTheLogicalScreen) {
    gfx_ortho();
    CVector3 a = pmyview_get_coords(0, 0), b = pmyview_get_coords(kW, kH);
    EXPECT_NEAR(a.x, 0, 1e-3);
    EXPECT_NEAR(a.y, 0, 1e-3);
    EXPECT_NEAR(b.x, 480, 1e-3);
    EXPECT_NEAR(b.y, 320, 1e-3);
    EXPECT_NEAR(b.z, 0, 1e-3);
    gfx_set_orient(180);
    gfx_ortho();
    a = pmyview_get_coords(0, 0);
    EXPECT_NEAR(a.x, 480, 1e-3);
    EXPECT_NEAR(a.y, 320, 1e-3);

    // A perspective view: the float unprojection agrees with the library's.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(50, 1.5, 1, 500);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(30, -200, 150, 20, 10, 0, 0, 0, 1);
    float mf[16], pf[16];
    double md[16], pd[16];
    int vp[4];
    glGetFloatv(GL_MODELVIEW_MATRIX, mf);
    glGetFloatv(GL_PROJECTION_MATRIX, pf);
    glGetIntegerv(GL_VIEWPORT, vp);
    for (int i = 0; i < 16; i++) md[i] = mf[i], pd[i] = pf[i];
    for (float z : {0.0f, 0.5f, 1.0f}) {
        float x, y, zz;
        double dx, dy, dz;
        ASSERT_EQ(gluUnProject(123.0f, 456.0f, z, mf, pf, vp, &x, &y, &zz), 1);
        ASSERT_EQ(gluUnProject(123.0, 456.0, (double)z, md, pd, vp, &dx, &dy, &dz), GL_TRUE);
        EXPECT_NEAR(x, dx, 1e-3 * (1 + std::abs(dx)));
        EXPECT_NEAR(y, dy, 1e-3 * (1 + std::abs(dy)));
        EXPECT_NEAR(zz, dz, 1e-3 * (1 + std::abs(dz)));
    }
    // The point under the window centre lies on the ground plane, on the
    // line of sight towards the look-at point (20, 10, 0).
    CVector3 c = pmyview_get_coords(kW / 2.0f, kH / 2.0f);
    EXPECT_NEAR(c.x, 20, 0.05);
    EXPECT_NEAR(c.y, 10, 0.05);
    EXPECT_NEAR(c.z, 0, 1e-3);

    const float zero[16] = {};
    float x = -1, y = -1, z = -1;
    EXPECT_EQ(gluUnProject(1.0f, 1.0f, 0.0f, zero, pf, vp, &x, &y, &z), 0);
    const int empty[4] = {0, 0, 0, 0};
    EXPECT_EQ(gluUnProject(1.0f, 1.0f, 0.0f, mf, pf, empty, &x, &y, &z), 0);
}

}  // namespace
