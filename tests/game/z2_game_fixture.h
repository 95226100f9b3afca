// Shared test setup for game tests: an offscreen 640x480 GL window with the
// fonts loaded, its start-up chatter kept off the test output.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
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

}  // namespace z2test
