// The video and audio front ends: logical screen size; video mode and start-up
// logo under a real GL context (offscreen driver); sounds and music as they
// reach the mixer (dummy audio driver, held paused so nothing plays out).
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL.h>
#include <stb_image_write.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/game.h"
#include "ruvezor/util/qel_driver_audio.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_mixer.h"
#include "world/zentar_sim.h"
#include "z2_test_util.h"

namespace {

using z2test::stdout_of;

// A scratch HOME, the driver started with flags, and a game that GAME_THIS names.
class FrontEnd : public ::testing::Test {
protected:
    std::string home;
    std::unique_ptr<Game> game;

    void start(int flags) {
        char tmpl[] = "/tmp/z2-avfront-XXXXXX";
        home = mkdtemp(tmpl);
        setenv("HOME", home.c_str(), 1);
        driver_init(flags);
        game = std::make_unique<Game>();
        _game_data.GAME_THIS = game.get();
    }
    void TearDown() override {
        sys_hooks.sound = nullptr;
        mixer_deinit();
        font_deinit();
        gfx_deinit();
        game.reset();
        _game_data.GAME_THIS = nullptr;
        driver_deinit();
        std::filesystem::remove_all(home);
    }
};

TEST_F(FrontEnd, LogicalSizeFollowsWindowAndVsize) {
    start(DRIVER_TIMER);
    const int cases[][5] = {{1280, 720, 640, 1137, 640}, {720, 1280, 640, 640, 1137}, {1000, 500, 320, 640, 320},
                            {0, 0, 640, 640, 640},       {0, 720, 400, 400, 400},     {1280, 720, -5, 1137, 640}};
    for (const auto& c : cases) {
        driver_set_size(c[0], c[1]);
        game->settings.vsize = c[2];
        EXPECT_EQ(game_get_sw() * 10000 + game_get_sh(), c[3] * 10000 + c[4]) << c[0] << "x" << c[1];
    }
}

TEST_F(FrontEnd, VideoModeFromSettingsAndStartupLogo) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    start(DRIVER_VIDEO | DRIVER_TIMER);
    std::vector<unsigned char> red(8 * 2 * 4);  // 8 x 2 opaque red: aspect 4
    for (size_t i = 0; i < red.size(); i += 4) red[i] = red[i + 3] = 255;
    ASSERT_TRUE(stbi_write_png((home + "/logo.png").c_str(), 8, 2, 4, red.data(), 32));
    driver_set_altdir(home.c_str());
    game->settings.vsize = 640;
    game->settings.vres = 640 << 16 | 400;
    game->settings.vfull = -1;

    std::string log = stdout_of([&] { game->video.video_reset(); });
    EXPECT_NE(log.find("init_video: 640 400 640 480 320 320 0\n"), std::string::npos) << log;
    int w = 0, h = 0;
    SDL_GetWindowSize(driver_sdl2_window(), &w, &h);
    EXPECT_EQ(w * 10000 + h, 640 * 10000 + 400);
    EXPECT_NE(sys_hooks.sound, nullptr) << "with a window the world's sounds reach the game";

    // Logical 1024 x 640 at scale 0.625: the 1024 x 256 logo covers rows 120 to 280.
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    game_startup_paint();
    auto px = [](int x, int y) {
        unsigned char c[4] = {};
        glReadPixels(x, 399 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, c);
        return (unsigned)(c[0] & 0xF0) << 16 | (unsigned)(c[1] & 0xF0) << 8 | (c[2] & 0xF0);
    };
    for (auto [x, y] : {std::pair{320, 200}, {10, 125}, {630, 275}}) EXPECT_EQ(px(x, y), 0xF00000u) << x << "," << y;
    for (auto [x, y] : {std::pair{320, 110}, {320, 290}}) EXPECT_EQ(px(x, y), 0u) << x << "," << y;

    game->video.fullscreen_toggle = 1;  // windowed setting, flipped
    log = stdout_of([&] { game->video.video_reset(); });
    EXPECT_NE(log.find("init_video: 640 400 640 480 320 320 1\n"), std::string::npos) << log;
}

// Audio through the real mixer, sounds from the data directory.
class Audio : public FrontEnd {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        start(DRIVER_TIMER);
        driver_set_altdir(Z2_DATA_DIR);
        _driver_audio_open();
        ASSERT_TRUE(_driver_audio_running());
        SDL_PauseAudio(1);
        mixer_init();
        game->settings.sfx = 50;
        game->settings.music = 80;
        _game_audio._game_audio_vols = var(VAR_DICT, 0);
        _game_audio._game_music_id = _game_audio._game_music_pause = 0;
    }
    static std::vector<AudioPlaying> playing(int id) {
        AudioPlaying all[64];
        int n = _driver_audio_playing(all, 64);
        std::vector<AudioPlaying> out;
        for (int i = 0; i < n && i < 64; i++)
            if (all[i].source == id) out.push_back(all[i]);
        return out;
    }
    static float volume(int id) {
        auto p = playing(id);
        return p.size() == 1 ? p[0].volume : -1;
    }
    void frame(float dt) { stdout_of([&] { game->audio.loop(dt); }); }
    void music(const char* name) { stdout_of([&] { game->audio.play_music(name); }); }
};

TEST_F(Audio, EachSoundPlaysOncePerFrame) {
    for (int i = 0; i < 3; i++) game->audio.play_sound("sfx-hit");
    frame(0.016f);
    int hit = mixer_sample_load("sfx-hit");
    ASSERT_EQ(playing(hit).size(), 1u);
    EXPECT_FLOAT_EQ(volume(hit), 0.5f);
    frame(0.016f);
    game->active = 0;
    game->audio.play_sound("sfx-hit");
    game->active = 1;
    frame(0.016f);
    EXPECT_EQ(playing(hit).size(), 1u) << "used up in one frame; dropped while suspended";

    _game_audio_hook_world();
    sys_sound("hit");
    frame(0.016f);
    EXPECT_EQ(playing(hit).size(), 2u) << "world events play through the front end";

    game->settings.sfx = 0;
    game->audio.play_sound("sfx-kazoo");
    EXPECT_EQ(stdout_of([&] { game->audio.loop(0.016f); }).find("sfx-kazoo"), std::string::npos);
}

TEST_F(Audio, MusicCrossFadesAndVolumeResetApplies) {
    music("mus-menu");
    int a = mixer_stream_load("mus-menu");
    EXPECT_FLOAT_EQ(volume(a), 0.0f);
    frame(0.25f);
    EXPECT_FLOAT_EQ(volume(a), 0.4f);
    frame(0.25f);
    music("mus-menu");
    frame(0.25f);
    EXPECT_FLOAT_EQ(volume(a), 0.8f) << "full after 0.5 s; the same name plays on";

    music("mus-galaxy");
    int b = mixer_stream_load("mus-galaxy");
    frame(0.25f);
    EXPECT_FLOAT_EQ(volume(a), 0.4f);
    EXPECT_FLOAT_EQ(volume(b), 0.4f);
    frame(0.25f);
    EXPECT_TRUE(playing(a).empty()) << "faded out and stopped";
    EXPECT_EQ(_game_audio._game_audio_vols.__len__(), 1);

    game->settings.music = 40;
    frame(0.25f);
    EXPECT_FLOAT_EQ(volume(b), 0.8f) << "a steady level isn't touched";
    stdout_of([&] { game->audio.volume_reset(); });
    EXPECT_FLOAT_EQ(volume(b), 0.4f);
}

// A host may ask for music in every message: a few lines a second.
TEST_F(Audio, MusicAskedForOverAndOverIsLoggedAFewTimesASecond) {
    std::string log = stdout_of([&] {
        for (int i = 0; i < 500; i++) game->audio.play_music(i % 2 ? "mus-menu" : "mus-galaxy");
    });
    EXPECT_LT(z2test::count_of(log, "play_music: "), 100);
}

TEST_F(Audio, MusicVolumeZeroPausesTheFirstStreamInIdOrder) {
    // Stream ids 9 and 10, where text order and number order part.
    stdout_of([] {
        for (const char* n : {"sfx-click", "sfx-explode", "sfx-hit", "sfx-kazoo", "sfx-ping", "mus-menu", "mus-galaxy"})
            mixer_sample_load(n);
        mixer_stream_load("sfx-click");
    });
    music("sfx-explode");
    ASSERT_EQ(mixer_stream_load("sfx-explode"), 9);
    frame(0.5f);
    game->settings.music = 0;
    frame(0.1f);
    ASSERT_EQ(playing(9).size(), 1u) << "paused, not stopped";
    EXPECT_EQ(playing(9)[0].paused, 1);
    game->settings.music = 80;
    frame(0.1f);
    EXPECT_EQ(playing(9)[0].paused, 0);

    music("mus-menu");
    ASSERT_EQ(mixer_stream_load("mus-menu"), 10);
    game->settings.music = 0;
    frame(0.1f);
    EXPECT_EQ(playing(9)[0].paused * 10 + playing(10)[0].paused, 10);
}

}  // namespace
