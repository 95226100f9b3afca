// Every mod shipped in data/, started the way the menus start it and played
// for a few hundred frames on offscreen GL: its first page button pressed,
// fleets sent by pointer drags from the local player's planets, Escape
// pausing and resuming. Each does what its kind of mod must: a player owns
// a planet and plays, a spectator mod says so; a player who is out is told
// so; a match with a winner, fast-forwarded, reaches its own outcome. And
// every example of the modder's guide, run in the mod runtime. No Lua error
// may reach the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/game.h"
#include "chat/chat.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "net/game_net.h"
#include "ruvezor/util/qel_web.h"
#include "render/zentar_ui.h"
#include "screens/states.h"
#include "web/game_web.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"
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

// What each shipped mod is for, and so what it must do.
enum class Kind {
    Player,     // the player at the screen owns a planet and plays
    Spectator,  // nobody plays: the match is watched, and the mod says so
    Scene,      // a scene of its own, no planets to play
    Menu,       // the match behind the main menu
    Client,     // plays on a host it joins; a page first
    Host,       // a headless host with no screen of its own
};
struct Expect {
    const char* mod;
    Kind kind;
    bool winner;         // a match that ends with one side on top
    const char* driver;  // Lua run every frame of a fast-forwarded match
};
const Expect EXPECT[] = {
    {"mod_about.lua", Kind::Scene, false, ""},
    {"mod_botwar.lua", Kind::Spectator, true, ""},
    {"mod_bricks.lua", Kind::Scene, true, ""},
    {"mod_classic.lua", Kind::Player, true, ""},
    {"mod_client.lua", Kind::Client, false, ""},
    {"mod_demo.lua", Kind::Menu, false, ""},
    {"mod_frustration.lua", Kind::Player, true, ""},
    {"mod_galaxy.lua", Kind::Host, false, ""},
    {"mod_practice.lua", Kind::Player, true, ""},
    {"mod_server.lua", Kind::Player, true, ""},
    // Turn bots move only when told to: the player's bot is run here.
    {"mod_turns.lua", Kind::Player, true, "mod_bots.loop(0.05)"},
    {"mod_ultracon.lua", Kind::Player, true, ""},
};
const Expect* expect_of(const std::string& mod) {
    for (const Expect& e : EXPECT)
        if (mod == e.mod) return &e;
    return nullptr;
}

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
        delete game->chat;  // Game::deinit frees it; these tests never init
        game->chat = nullptr;
        GameView::unregister_states();
        game_web_drop_all();  // the guide's web call never gets an answer
        if (GAME_THIS == game.get()) GAME_THIS = nullptr;
    }

    ModsAPI* api() { return mods_api_of(*game); }
    std::string state() { return api() ? api()->param_get("state").__str__() : ""; }
    Zentar& world() { return game->world; }

    std::string param(const char* key) { return api() ? api()->param_get(key).__str__() : ""; }
    // The frame loop's network and screen steps (a mod may host or join),
    // painted now and then.
    void frames(int n, bool paint = true, float dt = 0.05f) {
        for (int i = 0; i < n && api(); i++) {
            game_server_loop(*game);
            game_client_loop(*game);
            game->view.state_loop(dt);
            if (paint && i % 10 == 0) game->view.state_paint();
        }
    }
    void lua(const std::string& code) {
        if (ModsBase* engine = mods_engine_of(*game)) engine->script(code.c_str(), "test");
    }
    // Started the way the menus start it; a page first (a level picker, the
    // settings): its first button starts the match.
    void start(var params = var(VAR_DICT, 0)) {
        snprintf(game->mod_file, sizeof(game->mod_file), "%s/%s", Z2_DATA_DIR, GetParam().c_str());
        mods_restart(*game, 1, params);
        frames(5);
        if (state() == "menu" || state() == "tabs") press_first_button();
        frames(5);
    }
    // A line of the chat holds that text.
    bool told(const std::string& text) {
        if (game->chat)
            for (const auto& line : game->chat->lines)
                if (line.text.find(text) != std::string::npos) return true;
        return false;
    }
    // The page of a match that is over: its title is the status line.
    bool outcome_shown() {
        std::string status = param("status");
        return state() == "dialog" && !status.empty() &&
               param("html").find("<h1>" + status + "</h1>") != std::string::npos;
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
        if (api())
            for (Widget* w : api()->_list_descendants())
                n += w->on_click.__type__() == VAR_DICT && w->on_click["type"].__str__() == "onclick" &&
                     !w->on_click["value"].__str__().empty();
        return n;
    }
    // The first button of the mod's page, as a click would report it.
    bool press_first_button() {
        if (!api()) return false;
        for (Widget* w : api()->_list_descendants()) {
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
    const Expect* want = expect_of(GetParam());
    ASSERT_NE(want, nullptr) << GetParam() << " is new: say in EXPECT what it must do";
    bool had_planet = false, sent = false, okay = true;
    std::string first, before, paused, after, status, html;
    int pause_buttons = 0, who = -1;
    // Failures are checked after the capture, which would swallow them.
    std::string out = z2test::stdout_of([&] {
        start();
        first = state();
        status = param("status");
        html = param("html");
        for (int round = 0; round < 8 && api(); round++) {
            if (round == 1) who = player();
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
    switch (want->kind) {
        case Kind::Player:
            EXPECT_EQ(first, "play");
            EXPECT_TRUE(had_planet) << "the player owns a planet";
            EXPECT_TRUE(sent) << "a drag from an own planet sends a fleet";
            break;
        case Kind::Spectator:
            EXPECT_EQ(first, "scene") << "no slider, no selection for nobody's planets";
            EXPECT_EQ(who, 0);
            EXPECT_NE(status.find("watch"), std::string::npos) << status;
            break;
        case Kind::Scene:
            EXPECT_EQ(first, "scene");
            break;
        case Kind::Menu:
            EXPECT_EQ(first, "demo") << "no screen: the menu stays in front";
            break;
        case Kind::Client:
            EXPECT_EQ(first, "xtabs");
            EXPECT_NE(html.find("'server' mod"), std::string::npos) << "where a host comes from: " << html;
            break;
        case Kind::Host:
            EXPECT_TRUE(html.empty()) << "no screen of its own: " << html;
            EXPECT_NE(out.find("no match host"), std::string::npos) << "says what it needs to host";
            break;
    }
    if (!paused.empty() && paused != "quit") {  // the credits close on Escape instead
        EXPECT_TRUE(paused == "pause" || paused == "dialog") << paused;
        EXPECT_GE(pause_buttons, 2) << "the pause page offers the match and the menu";
        EXPECT_EQ(after, before);
    }
}

// The player loses every planet and fleet: the mod says so, and the match
// is no longer shown with the controls that send ships.
class PlayerMod : public ShippedMod {};
class WinnerMod : public ShippedMod {};

// The shipped mods the table gives that kind, or a winner.
std::vector<std::string> shipped_where(bool (*pick)(const Expect&)) {
    std::vector<std::string> out;
    for (const std::string& m : shipped_mods())
        if (const Expect* e = expect_of(m); e && pick(*e)) out.push_back(m);
    return out;
}

TEST_P(PlayerMod, APlayerWhoIsOutIsToldSo) {
    int me = 0;
    std::string before, told, text;
    std::string out = z2test::stdout_of([&] {
        start();
        frames(10);
        before = state();
        me = player();
        // Every planet of the player goes to the first other side, its fleets go.
        int foe = 0;
        for (int i = 1; i < world().top && !foe; i++) {
            const Item& it = world().items[i];
            if (it.in_use && it.has_planet && it.owner_n != me && !world().items[it.owner_n].user_neutral)
                foe = it.owner_n;
        }
        for (int i = 1; i < world().top; i++) {
            const Item& it = world().items[i];
            if (!it.in_use || it.owner_n != me || !me) continue;
            if (it.has_planet) z2_chown(world(), i, foe);
            if (it.has_fleet) z2_destroy(world(), i);
        }
        frames(20);
        told = state();
        text = param("status") + " " + param("html");
    });
    ASSERT_NE(me, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_EQ(before, "play");
    EXPECT_TRUE(told == "dialog" || told == "scene") << told;
    EXPECT_NE(text.find("You are out"), std::string::npos) << text;
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
}

// Played on by bots (the player's own too) at many passes a frame, a match
// with a winner reaches its own outcome: its end page, or for the host that
// starts the next match at once, the winner's line.
TEST_P(WinnerMod, FastForwardedPlayReachesItsOutcome) {
    const Expect* want = expect_of(GetParam());
    bool server = GetParam() == "mod_server.lua";
    bool over = false;
    int frame = 0;
    std::string out = z2test::stdout_of([&] {
        // The host's word on the winner goes to every player's chat: it hosts here.
        var params(VAR_DICT, 0);
        if (server) params["port"] = var(z2test::free_udp_port());
        start(params);
        if (want->kind == Kind::Player) lua("mod_bots.new(mod_match.me(), 10)");
        // Every bot moves at least twice a second: the match ends sooner.
        lua("for _, b in ipairs(mod_bots.list) do b.think = math.min(b.think, 0.5) b.wait = 0 end");
        api()->param_set("ticks", var(100));
        // A generous limit that only catches a match that never ends.
        for (frame = 0; frame < 3000 && api() && !over; frame++) {
            if (*want->driver) lua(want->driver);
            // A waiting ball is launched, and a turn ended.
            var up(VAR_DICT, 0);
            up["type"] = var("ui:up");
            up["value"] = var("end");
            mods_event(*game, up);
            frames(1, frame % 50 == 0, 0.1f);
            over = server ? told(" wins!") : outcome_shown();
        }
    });
    EXPECT_TRUE(over) << "after " << frame << " frames: " << state() << " " << param("status") << "\n"
                      << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
}

// The LAN client in a match, its host's world built here as the sync would
// build it: a player who loses the last planet watches, without the
// controls that send ships, and is told so; given a planet, they play again.
TEST_F(ShippedMod, ALanPlayerWhoIsOutWatchesAndIsToldSo) {
    std::string joined, in, out_state, out_status, again;
    std::string out = z2test::stdout_of([&] {
        snprintf(game->mod_file, sizeof(game->mod_file), "%s/mod_client.lua", Z2_DATA_DIR);
        mods_restart(*game, 1, var(VAR_DICT, 0));
        // No host answers: only the screens run here, never the network.
        auto run = [&](int n) {
            for (int i = 0; i < n && api(); i++) game->view.state_loop(0.05f);
        };
        run(5);
        var join(VAR_DICT, 0);
        join["type"] = var("onclick");
        join["value"] = var("join");
        mods_event(*game, join);
        ASSERT_NE(game->client_net, nullptr);
        var connect(VAR_DICT, 0);
        connect["type"] = var("net:connect");
        mods_event(*game, connect);
        run(3);
        joined = state();

        std::string uid = game->client_net->uid;
        Item* me = user_init(world(), "Ann", 0x3080ff, 0);
        snprintf(me->user_uid, sizeof(me->user_uid), "%s", uid.c_str());
        Item* foe = user_init(world(), "Vega", 0xff5040, 0);
        int mine = planet_init(world(), me->n, 100, 100, 50, 20)->n;
        planet_init(world(), foe->n, 400, 100, 50, 20);
        run(30);
        in = state();

        z2_chown(world(), mine, foe->n);
        run(30);
        out_state = state();
        out_status = param("status");

        z2_chown(world(), mine, me->n);
        run(30);
        again = state();
    });
    EXPECT_EQ(joined, "play");
    EXPECT_EQ(in, "play");
    EXPECT_EQ(out_state, "scene") << "no slider, no sending";
    EXPECT_NE(out_status.find("You are out"), std::string::npos) << out_status;
    EXPECT_EQ(again, "play");
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
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

std::string mod_name(const testing::TestParamInfo<std::string>& p) { return p.param.substr(0, p.param.size() - 4); }
INSTANTIATE_TEST_SUITE_P(Data, ShippedMod, testing::ValuesIn(shipped_mods()), mod_name);
INSTANTIATE_TEST_SUITE_P(Data, PlayerMod,
                         testing::ValuesIn(shipped_where([](const Expect& e) { return e.kind == Kind::Player; })),
                         mod_name);
INSTANTIATE_TEST_SUITE_P(Data, WinnerMod, testing::ValuesIn(shipped_where([](const Expect& e) { return e.winner; })),
                         mod_name);

}  // namespace
