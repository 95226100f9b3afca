// The Game object in-process: construction, command line, frame loop, events,
// pacing, shutdown order and the wrappers, with a fake clock and test engines.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "app/game.h"
#include "app/game_paint.h"
#include "app/gamewrap.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "shell/builds.h"  // _builds.show_hud
#include "net/net.h"
#include "net/zentar_sync_hooks.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_web.h"
#include "web/game_web.h"
#include "z2_test_util.h"

namespace {

static_assert(!std::is_polymorphic_v<Game>, "Game is a plain record");
static_assert(std::is_trivially_copyable_v<Settings>, "Settings is stored byte for byte");

uint64_t fake_us = 0;
uint64_t fake_clock() { return fake_us; }
void advance_ms(int64_t ms) { fake_us += (uint64_t)(ms * 1000); }

// What a test engine saw.
struct EngineLog {
    std::vector<float> loops;
    std::vector<std::string> events;
    bool destroyed = false;
};

class TestEngine : public ModsBase {
public:
    EngineLog* log;
    bool okay;
    TestEngine(EngineLog* l, bool ok) : log(l), okay(ok) {}
    void loop(float dt) override { log->loops.push_back(dt); }
    void event(var e) override { log->events.push_back(e["type"].__str__() + "|" + e["value"].__str__()); }
    bool is_okay() override { return okay; }
    ~TestEngine() override {
        log->destroyed = true;
        qel_log("test engine closed\n");
    }
};

class TestNet : public Net {
public:
    int peers = 0;
    int count_peers() override { return peers; }
};

using z2test::slurp;

std::vector<char*> make_argv(std::vector<std::string>& args) {
    std::vector<char*> v;
    for (auto& a : args) v.push_back(a.data());
    v.push_back(nullptr);
    return v;
}

Event make_event(int type, int key = 0, float w = 0, float h = 0) {
    Event e{};
    e.type = type;
    e.key = key;
    e.w = w;
    e.h = h;
    return e;
}

// A key that came with the modifier bits; the live state says none is held.
Event make_key(int key, int mods) {
    Event e = make_event(6, key);
    e.b = mods;
    return e;
}

// A temporary HOME, the driver running headless, a fake clock, a headless game.
class GameTest : public ::testing::Test {
protected:
    std::string home;
    std::unique_ptr<Game> game;
    std::vector<std::string> args;
    std::vector<char*> argv;
    EngineLog engine_log;

    void SetUp() override {
        char tmpl[] = "/tmp/z2game-XXXXXX";
        home = mkdtemp(tmpl);
        setenv("HOME", home.c_str(), 1);
        driver_init(12);
        fake_us = 1000000000ull;
        _driver_timer_set_source(fake_clock);
        driver_timer_reset_ticks();
        _game_data.loop_ticks = -1;
        _game_paint.ticks = -1;
        game = std::make_unique<Game>();
        game->headless = 1;
    }

    void TearDown() override {
        SDL_SetModState(KMOD_NONE);
        game.reset();
        _game_data.GAME_THIS = nullptr;
        for (WebRequest* r : _game_web.web_reqs) delete r;
        _game_web.web_reqs.clear();
        driver_deinit();
        _driver_timer_set_source(nullptr);
        std::filesystem::remove_all(home);
    }

    void parse(std::vector<std::string> a) {
        args = std::move(a);
        args.insert(args.begin(), "zentar2");
        argv = make_argv(args);
        game->args((int)args.size(), argv.data());
    }

    void use_engine(bool okay) {
        game->mods_engine.reset();
        engine_log = EngineLog{};
        game->mods_engine = std::make_unique<TestEngine>(&engine_log, okay);
    }

    // A headless host with no peers, no web requests and an idle mod.
    void make_idle() {
        parse({"-headless", "-mod", "nothere.lua"});
        strcpy(game->mod_file, "nothere.lua");
        game->mods_api = std::make_unique<ModsAPI>(*game);
        game->mods_api->params["state"] = var("idle");
        game->server_net = std::make_unique<TestNet>();
    }

    // The screen restart ran since the last call.
    bool screen_restarted() {
        bool r = game->ui.inited == 0 && game->ui.screen_set == 0 && game->ui.percent_next == 70;
        game->ui = ZentarUI{};
        game->ui.inited = game->ui.screen_set = 1;
        game->ui.percent = 70;
        return r;
    }

    void go_windowed() {
        game->headless = 0;
        _game_data.GAME_THIS = game.get();
        screen_restarted();
    }
};

std::string captured(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// ---- construction and accessors --------------------------------------------------

TEST(GameRecord, ConstructionZeroesEveryMemberAndSetsActive) {
    // Built over garbage: nothing of it may be left.
    void* raw = ::operator new(sizeof(Game));
    memset(raw, 0xAB, sizeof(Game));
    Game* g = new (raw) Game();
    auto zero = [](const void* p, size_t n) {
        for (size_t i = 0; i < n; i++)
            if (static_cast<const unsigned char*>(p)[i]) return false;
        return true;
    };
    EXPECT_TRUE(zero(&g->world, sizeof(g->world)));
    // Whole records, padding included.
    EXPECT_TRUE(zero(&g->ui, sizeof(g->ui)));
    EXPECT_TRUE(zero(&g->settings, sizeof(g->settings)));
    EXPECT_TRUE(zero(&g->view, offsetof(GameView, waiting)) && g->view.waiting.empty());
    EXPECT_TRUE(zero(g->mod_file, 512) && zero(g->mod, 512) && zero(g->server, 256) && zero(g->token, 256));
    EXPECT_TRUE(!g->mods_api && !g->mods_engine && !g->server_net && !g->client_net && !g->chat && !g->argv);
    EXPECT_EQ(g->mod_builtin | g->quit | g->headless | g->port | g->argc | g->crash |
                  g->video.fullscreen_toggle, 0);
    EXPECT_EQ(g->active, 1);
    g->~Game();
    ::operator delete(raw);
}

TEST(GameRecord, VersionTextsAndLogTag) {
    EXPECT_STREQ(_get_game_version_info(), "1.9.6-Desktop-Linux-DAV");
    _game_data.GAME_THIS = nullptr;
    EXPECT_STREQ(game_log_info(), "-1");
    auto g = std::make_unique<Game>();
    g->port = 2000;
    game_init(*g);
    EXPECT_STREQ(game_log_info(), "2000");
    g->active = 0;
    EXPECT_FALSE(game_is_active());
    GameView::unregister_states();
    _game_data.GAME_THIS = nullptr;
}

// ---- command line ----------------------------------------------------------------

TEST_F(GameTest, ArgsReadsEveryOption) {
    game->headless = 0;
    parse({"-port", "2000", "-mod", "one.lua", "-crash", "restart", "-name", "Bob", "-passwd", "pw"});
    EXPECT_EQ(game->argc, 11);
    EXPECT_EQ(game->argv, argv.data());
    EXPECT_EQ(game->port, 2000);
    EXPECT_STREQ(game->mod, "one.lua");
    EXPECT_EQ(game->crash, 2);
    EXPECT_STREQ(game->settings.name, "Bob");
    EXPECT_STREQ(game->settings.passwd, "pw");
    EXPECT_EQ(game->headless, 0);

    parse({"-mod", "-headless", "-name", "-port", "77"});  // values are options in their turn
    EXPECT_STREQ(game->mod, "-headless");
    EXPECT_EQ(game->headless, 1);
    EXPECT_STREQ(game->settings.name, "-port");
    EXPECT_EQ(game->port, 77);

    // A mistyped port is the operator's to hear of, and hosts nothing ("7000x" included).
    for (const char* bad : {"abc", "-5", "70000", "7000x"}) {
        std::string out = captured([&] { parse({"-port", bad}); });
        EXPECT_NE(out.find(std::string("-port: \"") + bad + "\" is not a port number"), std::string::npos) << out;
        EXPECT_EQ(game->port, 0) << bad;
    }
    EXPECT_EQ(captured([&] { parse({"-port", "0"}); }), "") << "no port is no mistake";
    parse({"-port", "5", "-port"});  // a last option has no value and no effect
    EXPECT_EQ(game->port, 5);
    const struct { const char* value; int32_t before, after; } crash[] = {
        {"wait", 2, 0}, {"exit", 0, 1}, {"restart", 0, 2}, {"boom", 1, 1}, {"EXIT", 2, 2}};
    for (const auto& c : crash) {
        game->crash = c.before;
        parse({"-crash", c.value});
        EXPECT_EQ(game->crash, c.after) << c.value;
    }
}

TEST_F(GameTest, ArgsCutsOverlongValuesWithALogLine) {
    std::string mod(600, 'm'), name(100, 'n'), pass(100, 'p');
    std::string out = captured([&] { parse({"-mod", mod, "-name", name, "-passwd", pass}); });
    EXPECT_EQ(std::string(game->mod), mod.substr(0, 511));
    EXPECT_EQ(std::string(game->settings.name), name.substr(0, 63));
    EXPECT_EQ(std::string(game->settings.passwd), pass.substr(0, 63));
    EXPECT_EQ(game->server[0] | game->settings.udid[0], 0) << "the next fields are untouched";
    EXPECT_NE(out.find("-mod: value of 600 characters cut to 511"), std::string::npos) << out;
    EXPECT_NE(out.find("-name: value of 100 characters cut to 63"), std::string::npos);
    EXPECT_NE(out.find("-passwd: value of 100 characters cut to 63"), std::string::npos);
    out = captured([&] { parse({"-name", name.substr(0, 63)}); });
    EXPECT_EQ(out.find("cut"), std::string::npos) << "a value that fits exactly is kept";
}

// ---- frame loop ------------------------------------------------------------------

TEST_F(GameTest, FrameTimeIsMeasuredAndClamped) {
    use_engine(true);
    // One pass a frame at normal speed, outside play: the mod sees the frame time itself.
    game->mods_api = std::make_unique<ModsAPI>(*game);
    game->mods_api->params["speed"] = var(1.0);
    game->mods_api->params["ticks"] = var(1);
    game->mods_api->params["state"] = var("menu");
    for (int64_t step : {0, 250, 3000, 16}) {
        advance_ms(step);
        game->loop();
    }
    fake_us -= 9000000;  // the clock reads negative: it is reset, and no time passed
    game->loop();
    advance_ms(100);
    game->loop();
    const float want[] = {0.0f, 0.25f, 1.0f, 0.016f, 0.0f, 0.1f};
    ASSERT_EQ(engine_log.loops.size(), 6u);
    for (int i = 0; i < 6; i++) EXPECT_FLOAT_EQ(engine_log.loops[i], want[i]) << i;
}

TEST_F(GameTest, CrashPolicyActsOnAFailedEngine) {
    use_engine(true);
    game->crash = 1;
    game->loop();
    EXPECT_EQ(game->quit, 0) << "a healthy engine is left alone";

    use_engine(false);
    game->crash = 0;
    game->loop();
    game->loop();
    EXPECT_FALSE(engine_log.destroyed);
    EXPECT_EQ(game->quit, 0) << "wait";

    game->crash = 1;
    game->loop();
    EXPECT_EQ(game->quit, 1) << "exit";

    game->quit = 0;
    game->crash = 2;
    game->loop();
    EXPECT_TRUE(engine_log.destroyed) << "restart";
    EXPECT_NE(game->mods_engine, nullptr);
    EXPECT_EQ(game->quit, 0);
}

TEST_F(GameTest, IdleHostRestartsItsModAfter24Hours) {
    make_idle();
    // The restart tears the host endpoint down and frees it: give it one of its own.
    game->server_net = std::make_unique<TestNet>();
    use_engine(false);
    game->crash = 1;  // quits in any frame that gets past the restart step
    game->loop();
    EXPECT_EQ(game->quit, 1);

    game->quit = 0;
    advance_ms(86400001);
    std::string out = captured([&] { game->loop(); });
    EXPECT_NE(out.find("game_do_daily_server_reset\n"), std::string::npos);
    EXPECT_TRUE(engine_log.destroyed);
    EXPECT_EQ(game->quit, 0) << "nothing else runs in the restart frame";
    EXPECT_EQ(_game_data.loop_ticks, 0);
    EXPECT_EQ(driver_timer_get_ticks(), 0) << "the clock counts again from 0";

    advance_ms(16);  // an ordinary frame: the restarted mod has no file and fails
    game->loop();
    EXPECT_EQ(game->quit, 1);
}

TEST_F(GameTest, OnlyAnIdleHeadlessHostRestarts) {
    for (std::string c : {"24h exactly", "peer", "web", "no net", "windowed", "no api", "menu",
                          "empty", "galaxy"}) {
        SCOPED_TRACE(c);
        game = std::make_unique<Game>();
        game->headless = 1;
        make_idle();
        // An idle restart tears the host endpoint down and frees it: give it one of its own.
        auto host = std::make_unique<TestNet>();
        host->peers = c == "peer";
        game->server_net = c == "no net" ? nullptr : std::move(host);
        if (c == "web") _game_web.web_reqs.push_back(new WebRequest());
        if (c == "windowed") game->headless = 0;
        if (c == "no api") game->mods_api.reset();
        if (game->mods_api && c != "24h exactly" && c != "peer" && c != "web")
            game->mods_api->params["state"] = var(c.c_str());
        bool idle = c == "24h exactly" || c == "empty" || c == "galaxy";
        EXPECT_EQ(game_server_is_idle(*game), idle);

        _game_data.loop_ticks = -1;
        driver_timer_reset_ticks();
        advance_ms(c == "24h exactly" ? 86400000 : 86400001);
        use_engine(true);
        std::string out = captured([&] { game->loop(); });
        EXPECT_EQ(out.find("game_do_daily_server_reset") != std::string::npos, idle && c != "24h exactly");

        for (WebRequest* r : _game_web.web_reqs) delete r;
        _game_web.web_reqs.clear();
        game->server_net.reset();
        game->mods_api.reset();
        game->mods_engine.reset();
    }
}

// ---- events ----------------------------------------------------------------------

TEST_F(GameTest, HeadlessHandlesOnlyQuit) {
    use_engine(true);
    game->event(make_key(54, EVENT_MOD_GUI));  // Cmd+Q
    game->event(make_event(2));
    EXPECT_EQ(game->quit, 0);
    EXPECT_EQ(game->active, 1);
    EXPECT_TRUE(engine_log.events.empty());
    game->event(make_event(1));
    EXPECT_EQ(game->quit, 1);
}

TEST_F(GameTest, ResizeAppliesEverySizeSquareIncluded) {
    go_windowed();
    driver_set_size(500, 500);  // the driver holds the new size before the event
    game->event(make_event(4, 0, 500, 500));
    EXPECT_TRUE(screen_restarted()) << "a square window is resized too";

    game->event(make_event(4, 0, 800.7f, 600.2f));
    EXPECT_TRUE(screen_restarted());
    int w = 0, h = 0;
    driver_get_size(&w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    EXPECT_FLOAT_EQ(driver_get_aspect(), 800.0f / 600.0f);

    const float bad[][2] = {{0, 480}, {640, -1}, {0.5f, 480}, {NAN, 480}, {640, INFINITY}, {1e12f, 480}};
    for (const auto& b : bad) {
        game->event(make_event(4, 0, b[0], b[1]));
        EXPECT_FALSE(screen_restarted()) << b[0] << " x " << b[1] << " is ignored";
        driver_get_size(&w, &h);
        EXPECT_EQ(w * 1000 + h, 800600);
    }
}

// A mod (or a host) sets its match up before the match screen starts: the
// controls start from the player's options, default percentage included.
TEST_F(GameTest, ControlsRestartFromThePlayersOptions) {
    go_windowed();
    game->settings.ui_percent = 100;
    game->settings.ui_lefty = 1;
    for (int via = 0; via < 2; via++) {
        game->ui.options = UIOptions{};  // what the menus' scene left
        if (via == 0)
            game->ui_restart(1);
        else
            zentar_sync_hooks.ui_reset(game->world);
        EXPECT_EQ(game->ui.inited, 0) << via;
        EXPECT_EQ(game->ui.options.ui_lefty, 1) << via;
        ui_init(game->world, game->ui, 0);
        EXPECT_EQ(game->ui.percent, 100) << via;
    }
}

TEST_F(GameTest, CtrlOrCmdFTogglesFullScreen) {
    go_windowed();
    game->event(make_event(6, 43));
    EXPECT_EQ(game->settings.vfull, 0) << "no modifier, no shortcut";
    EXPECT_FALSE(screen_restarted());
    SDL_SetModState(KMOD_LCTRL);  // held now, but not when the key came
    game->event(make_event(6, 43));
    EXPECT_EQ(game->settings.vfull, 0) << "the key's own modifiers count";
    SDL_SetModState(KMOD_NONE);
    game->event(make_key(43, EVENT_MOD_CTRL));
    EXPECT_EQ(game->settings.vfull, 1) << "a stored 0 becomes 1";
    EXPECT_TRUE(screen_restarted());
    game->event(make_key(43, EVENT_MOD_CTRL | EVENT_MOD_SHIFT));
    EXPECT_EQ(game->settings.vfull, -1);
    game->event(make_key(43, EVENT_MOD_GUI));
    EXPECT_EQ(game->settings.vfull, 1);
    // Ctrl+H of the video front end reads the same bits.
    bool hud = _builds.show_hud;
    game->event(make_key(45, EVENT_MOD_CTRL));
    EXPECT_NE(_builds.show_hud, hud);
    _builds.show_hud = hud;
}

TEST_F(GameTest, CmdQSuspendsTellsTheModAndQuits) {
    go_windowed();
    use_engine(true);
    game->mods_api = std::make_unique<ModsAPI>(*game);  // events reach a mod only through its API object
    game->event(make_key(54, EVENT_MOD_CTRL));
    EXPECT_EQ(game->quit, 0) << "Ctrl+Q is no shortcut";

    std::string out = captured([&] { game->event(make_key(54, EVENT_MOD_GUI)); });
    EXPECT_NE(out.find("EVT_SUSPEND"), std::string::npos);
    EXPECT_EQ(game->quit, 1);
    EXPECT_EQ(game->active, 0);
    ASSERT_EQ(engine_log.events.size(), 1u);
    EXPECT_EQ(engine_log.events[0], "suspend|");
}

TEST_F(GameTest, CtrlRResetsTheGraphicsContext) {
    go_windowed();
    std::string out = captured([&] { game->event(make_key(55, EVENT_MOD_CTRL)); });
    EXPECT_NE(out.find("EVT_RESET"), std::string::npos);
    EXPECT_TRUE(screen_restarted());
    EXPECT_EQ(game->quit, 0);
}

// ---- pacing ----------------------------------------------------------------------

TEST_F(GameTest, PacingSleepsTheRestOfASixtiethOfASecond) {
    EXPECT_EQ(_game_paint_tick(*game), 16) << "the first frame measures 0 ms";
    const struct { int took, vquality, sleeps; } frames[] = {
        {30, 0, 0}, {5, 0, 11}, {2000, 0, 0}, {5, -1, 11 + 25}, {40, -1, 25}};
    for (const auto& f : frames) {
        advance_ms(f.took);
        game->settings.vquality = f.vquality;
        EXPECT_EQ(_game_paint_tick(*game), f.sleeps) << f.took;
    }
    advance_ms(7);
    game->paint();  // headless paint is the pacing step alone
    EXPECT_EQ(_game_paint.ticks, driver_timer_get_ticks());
}

// ---- shutdown and web actions ----------------------------------------------------

TEST_F(GameTest, ShutdownClosesTheModBeforeTheDriver) {
    driver_set_gamename("Zentar 2");
    game->mods_api = std::make_unique<ModsAPI>(*game);
    use_engine(true);
    game->deinit();
    EXPECT_TRUE(engine_log.destroyed);
    driver_init(12);  // for TearDown

    std::string log = slurp(home + "/.local/share/Zentar 2/ruvezor.log");
    std::string tail = "\n[_driver_log_deinit]\n";
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_EQ(log.find(tail), log.size() - tail.size()) << "the driver stops last";
    EXPECT_NE(log.find("test engine closed\n"), std::string::npos) << "the engine goes while the log is open";
}

TEST_F(GameTest, DoActionQueuesAnEncodedRequest) {
    _game_data.GAME_THIS = game.get();
    game->do_action("login", "a b&c/\xc3\xa9");
    ASSERT_EQ(_game_web.web_reqs.size(), 1u);
    EXPECT_EQ(_game_web.web_reqs[0]->host, GAME_WEB_HOST);
    EXPECT_EQ(_game_web.web_reqs[0]->port, 80);
    EXPECT_FLOAT_EQ(_game_web.web_reqs[0]->timeout, GAME_WEB_TIMEOUT);
    EXPECT_EQ(_game_web.web_reqs[0]->body, "&data=a%20b%26c%2f%c3%a9");
    strcpy(game->settings.name, "`dev");
    game->do_action("login", "");
    EXPECT_EQ(_game_web.web_reqs.at(1)->host, GAME_WEB_HOST_DEBUG);
    EXPECT_EQ(_game_web.web_reqs.at(1)->body, "&data=");
}

// ---- wrappers --------------------------------------------------------------------

TEST(GameWrap, LifecycleThroughTheWrappers) {
    char tmpl[] = "/tmp/z2wrap-XXXXXX";
    std::string home = mkdtemp(tmpl);
    setenv("HOME", home.c_str(), 1);
    EXPECT_TRUE(game_is_quit()) << "no game: quit";
    game_event(make_event(1));  // without a game these do nothing
    game_loop();
    game_deinit();

    std::vector<std::string> a = {"zentar2", "-headless", "-mod", "nothere.lua", "-port", "2300",
                                  "-name", "Bob", "-passwd", "pw"};
    std::vector<char*> av = make_argv(a);
    game_init((int)a.size(), av.data());
    Game* g = game_this();
    ASSERT_NE(g, nullptr);
    EXPECT_STREQ(g->settings.name, "Bob") << "headless keeps -name";
    EXPECT_STREQ(g->settings.passwd, "pw");
    EXPECT_EQ(g->settings.version, 6);
    EXPECT_STREQ(g->mod_file, "nothere.lua");
    EXPECT_NE(g->mods_engine, nullptr) << "the mod runtime was started";
    EXPECT_FALSE(game_is_quit());

    std::vector<std::string> b = {"zentar2", "-headless", "-mod", "other.lua", "-port", "9"};
    std::vector<char*> bv = make_argv(b);
    game_init((int)b.size(), bv.data());
    EXPECT_EQ(game_this(), g);
    EXPECT_EQ(g->port, 2300) << "a second game_init changes nothing";

    game_event(make_event(1));
    EXPECT_TRUE(game_is_quit());
    game_deinit();
    EXPECT_EQ(game_this(), nullptr);
    EXPECT_STREQ(game_log_info(), "-1");
    EXPECT_TRUE(game_is_quit());
    std::string log = slurp(home + "/.local/share/Zentar 2/ruvezor.log");
    EXPECT_EQ(log.rfind("[_driver_log_init]\n", 0), 0u);
    EXPECT_EQ(log.substr(log.size() - 22), "\n[_driver_log_deinit]\n");
    std::filesystem::remove_all(home);
}

}  // namespace
