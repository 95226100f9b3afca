// The settings screens driven as a player would: which tabs and sections show,
// values in and out of Settings, the volume and video changes applied at once.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/game.h"
#include "shell/game_audio.h"
#include "screens/menus.h"
#include "screens/menus_settings.h"
#include "net/net.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_audio.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_mixer.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"
#include "world/zentar_sim.h"

namespace {

using z2test::stdout_of;

const auto* env = testing::AddGlobalTestEnvironment(new z2test::HomeGlFontEnv("z2settings"));

using Blank = z2test::BlankScreen;

class SettingsScreens : public ::testing::Test {
protected:
    std::unique_ptr<Game> game = std::make_unique<Game>();

    void SetUp() override {
        _game_data.GAME_THIS = game.get();
        game->settings.vfull = -1;
        game->settings.vsize = 640;  // a 640 x 480 window: 853 x 640 units
        strcpy(game->settings.name, "Bob");
        stdout_of([&] { menus_init(*game); });
        delete GameView::find_state("menus_login");  // replaced below, so its widgets stay out of the way
        GameView::register_state("menus_login", new Blank());
        preboard_set(1);
        _game_audio._game_audio_sounds = var(VAR_DICT, 0);
    }
    void TearDown() override {
        GameView::unregister_states();
        game->client_net.reset();
        sys_hooks.sound = nullptr;
        _game_data.GAME_THIS = nullptr;
    }
    // Settings over an online match.
    void connect() {
        game->client_net = std::make_unique<NetClient>();
    }
    template <class T>
    T* show(const char* name) {
        stdout_of([&] { game->view.next(name, -1); });
        return dynamic_cast<T*>(GameView::find_state(name));
    }
    static OptionBox* group(Container& root, const char* name) {
        auto* o = dynamic_cast<OptionBox*>(root.find(name));
        return o ? (o->leader ? o->leader : o) : nullptr;
    }
};

TEST_F(SettingsScreens, EntriesPassOnToLoginOrAudio) {
    show<State>("menus_settings");
    EXPECT_STREQ(game->view.cur, "menus_login");  // policy accepted
    preboard_set(-1);
    show<State>("menus_settings");
    EXPECT_STREQ(game->view.cur, "menus_settings_audio");
    show<State>("menus_settings_account");
    EXPECT_STREQ(game->view.cur, "menus_login");
    show<State>("menus_settings_popup");
    EXPECT_STREQ(game->view.cur, "menus_settings_audio");
}

TEST_F(SettingsScreens, TabBarHasAccountAndExtremeTabsOnlyWhenAllowed) {
    int sw = game_get_sw();
    auto tabs = [&](int expect_n, bool account, bool extreme) {
        auto* page = show<MenusSettingsPage>("menus_settings_video");
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->root.find("tab:settings:account") != nullptr, account);
        EXPECT_EQ(page->root.find("tab:settings:extreme") != nullptr, extreme);
        Widget* video = page->root.find("tab:settings:video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->style.declared().width, (float)(sw / expect_n));
        EXPECT_TRUE(video->_is_focus()) << "the current tab has the focus";
        EXPECT_EQ(page->root.find("gsize") != nullptr, account) << "game size goes with the account tab";
    };
    tabs(5, true, false);
    strcpy(game->settings.name, "~dev");
    tabs(6, true, true);
    connect();
    tabs(5, false, true);
    strcpy(game->settings.name, "Dev~");
    tabs(4, false, false);
}

TEST_F(SettingsScreens, ResolutionsLargestFirstInRowsThatFitTheScreen) {
    auto rows = [&](int vsize) {
        game->settings.vsize = vsize;
        auto* page = show<MenusSettingsPage>("menus_settings_video");
        OptionBox* vres = group(page->root, "vres");
        EXPECT_NE(vres, nullptr);
        return vres;
    };
    OptionBox* vres = rows(573);  // 764 units wide: 8 to a row
    ASSERT_EQ(game_get_sw(), 764);
    ASSERT_EQ(vres->members.size(), 11u);
    EXPECT_EQ(vres->members[0]->value.__str__(), "-1");
    EXPECT_EQ(vres->members[1]->value.__str__(), std::to_string(1920 << 16 | 1080));
    EXPECT_EQ(vres->members[5]->value.__str__(), std::to_string(1136 << 16 | 640));  // 1024x768 is larger
    EXPECT_EQ(vres->members[10]->value.__str__(), std::to_string(480 << 16 | 320));
    auto at = [&](int i) { return vres->members[i]->get_abs_rect(true); };
    for (int i = 1; i < 11; i++) {
        if (i % 8) {
            EXPECT_EQ(at(i).y, at(i - 1).y) << i;
            EXPECT_GT(at(i).x, at(i - 1).x) << i;
        } else {
            EXPECT_GT(at(i).y, at(i - 1).y) << i;
            EXPECT_EQ(at(i).x, at(0).x) << i;
        }
    }
    vres = rows(100);  // 133 units wide: one to a row
    ASSERT_EQ(game_get_sw(), 133);
    for (int i = 1; i < 11; i++) {
        EXPECT_GT(at(i).y, at(i - 1).y) << i;
        EXPECT_EQ(at(i).x, at(0).x) << i;
    }
}

TEST_F(SettingsScreens, VideoModeChangeRebuildsAndSavesQualityDoesNot) {
    game->settings.vfull = 1, game->settings.vquality = 2;
    auto* page = show<MenusSettingsPage>("menus_settings_video");
    EXPECT_EQ(group(page->root, "vfull")->get_value().__num__(), 1);
    EXPECT_EQ(group(page->root, "vquality")->get_value().__num__(), 2);
    std::string saved = driver_doc_fname("settings-local.dat");
    remove(saved.c_str());

    group(page->root, "vquality")->set_value(var("3"));
    Widget* before = page->root.find("vfull");
    stdout_of([&] { page->loop(0); });
    EXPECT_EQ(game->settings.vquality, 3);
    EXPECT_EQ(page->root.find("vfull"), before);
    EXPECT_FALSE(driver_file_exists(saved.c_str()));

    group(page->root, "vfull")->set_value(var("-1"));  // Windowed
    std::string log = stdout_of([&] { page->loop(0); });
    EXPECT_EQ(game->settings.vfull, -1);
    EXPECT_NE(log.find("Settings::save"), std::string::npos) << log;
    EXPECT_TRUE(driver_file_exists(saved.c_str()));
    EXPECT_STREQ(game->view.cur, "menus_settings_video");
    ASSERT_NE(group(page->root, "vfull"), nullptr);
    EXPECT_EQ(group(page->root, "vfull")->get_value().__num__(), -1) << "the rebuilt screen shows the new mode";
}

// The music playing in the menu follows its slider at once, not only the next piece.
TEST_F(SettingsScreens, VolumesApplyAtOnceAndSfxPings) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    stdout_of([] { _driver_audio_open(); });
    ASSERT_TRUE(_driver_audio_running());
    SDL_PauseAudio(1);
    stdout_of([] { mixer_init(); });
    _game_audio._game_audio_vols = var(VAR_DICT, 0);
    _game_audio._game_music_id = _game_audio._game_music_pause = 0;
    game->settings.music = 30, game->settings.sfx = 40;
    stdout_of([&] {
        game->audio.play_music("mus-menu");
        game->audio.loop(1.0f);  // faded in: the level holds from here on
    });
    int menu = mixer_stream_load("mus-menu");
    auto music_volume = [menu] {
        AudioPlaying all[64];
        int n = _driver_audio_playing(all, 64);
        for (int i = 0; i < n && i < 64; i++)
            if (all[i].source == menu) return all[i].volume;
        return -1.0f;
    };
    EXPECT_FLOAT_EQ(music_volume(), 0.3f);

    auto* page = show<MenusSettingsAudio>("menus_settings_audio");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->root.find("music")->get_value_i(), 30);
    EXPECT_EQ(page->root.find("sfx")->get_value_i(), 40);

    page->root.find("music")->set_value_i(90);
    stdout_of([&] { page->loop(0); });
    EXPECT_EQ(game->settings.music, 90);
    EXPECT_FLOAT_EQ(music_volume(), 0.9f) << "the music playing now is as loud as the slider says";

    var sfx(VAR_DICT, 0);
    sfx["type"] = var("onchange"), sfx["value"] = var("sfx");
    page->_act(Event{}, sfx);
    EXPECT_TRUE(_game_audio._game_audio_sounds.__has__(var("sfx-ping")));
    page->root.find("sfx")->set_value_i(70);
    stdout_of([&] { page->loop(0); });
    EXPECT_EQ(game->settings.sfx, 70);
    EXPECT_FALSE(_game_audio._game_audio_sounds.__has__(var("sfx-ping"))) << "volume applied and the ping played";
    EXPECT_FLOAT_EQ(music_volume(), 0.9f);

    stdout_of([] { mixer_deinit(); });
    _game_audio._game_audio_vols = var(VAR_DICT, 0);
    _game_audio._game_music_id = 0;
}

TEST_F(SettingsScreens, EachTogglePageTouchesOnlyItsOwnFields) {
    Settings& s = game->settings;
    s.ui_percent = 35, s.ui_lefty = 1, s.ui_box = 7, s.ui_colorblind = -1;
    auto* controls = show<MenusSettingsPage>("menus_settings_controls");
    EXPECT_EQ(controls->root.find("ui_percent")->get_value_i(), 35);
    EXPECT_EQ(controls->root.find("ui_box"), nullptr);
    controls->root.find("ui_lefty")->set_value_i(-1);
    controls->loop(0);
    EXPECT_EQ(s.ui_lefty, -1);
    EXPECT_EQ(s.ui_box, 7);

    auto* options = show<MenusSettingsPage>("menus_settings_options");
    EXPECT_EQ(options->root.find("ui_box")->get_value_i(), 7);
    options->root.find("ui_box")->set_value_i(1);
    options->loop(0);
    EXPECT_EQ(s.ui_box, 1);
    EXPECT_EQ(s.ui_lefty, -1);
    EXPECT_EQ(s.ui_percent, 35);
}

TEST_F(SettingsScreens, ExtremeShowsScreenAndVersionAndWritesItsToggles) {
    game->settings.x_hud = 1;
    auto* page = show<MenusSettingsPage>("menus_settings_extreme");
    EXPECT_EQ(page->root.find("x_hud")->get_value_i(), 1);
    page->root.find("x_hide")->set_value_i(1);
    page->loop(0);
    EXPECT_EQ(game->settings.x_hide, 1);
    EXPECT_EQ(game->settings.x_hud, 1);

    int w = 0, h = 0;
    driver_get_size(&w, &h);
    char res[64];
    snprintf(res, sizeof(res), "%dx%d (%.3fx)", w, h, (double)driver_get_scale());
    std::string text;
    for (Widget* d : page->root._list_descendants())
        if (auto* l = dynamic_cast<Label*>(d)) text += l->text + "\n";
    EXPECT_NE(text.find(res), std::string::npos) << text;
    EXPECT_NE(text.find("1.9.6-Desktop-Linux-DAV"), std::string::npos) << text;
}

}  // namespace
