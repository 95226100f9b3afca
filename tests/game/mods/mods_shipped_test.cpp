// Every mod shipped in data/, started the way the menus start it and played
// for a few hundred frames on offscreen GL: its first page button pressed,
// fleets sent by pointer drags from the local player's planets, Escape
// pausing and resuming. Each does what its kind of mod must: a player owns
// a planet and plays, a spectator mod says so; a player who is out is told
// so; a match with a winner, fast-forwarded, reaches its own outcome. And
// every example of the modder's guide, run in the mod runtime and checked
// for what the guide says it does. No Lua error
// may reach the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/game.h"
#include "shell/game_audio.h"
#include "chat/chat.h"
#include "net/net.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_gui.h"
#include "mods/mods_lua.h"
#include "app/game_net.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"
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

// The guide's web call stays on this machine.
const auto* env = testing::AddGlobalTestEnvironment(new z2test::HomeGlFontEnv("z2shipped", true));

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
        _game_data.GAME_THIS = game.get();
        z2test::stdout_of([&] { game->settings.load(); });  // the player's defaults: drag and drop
        states_init(*game);
    }
    void TearDown() override {
        z2test::stdout_of([&] { mods_deinit(*game); });
        GameView::unregister_states();
        game_web_drop_all();  // the guide's web call never gets an answer
        if (_game_data.GAME_THIS == game.get()) _game_data.GAME_THIS = nullptr;
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
    // A mod of data/ started as a headless host runs it, two frames in.
    void start_headless(const char* mod, var params = var(VAR_DICT, 0)) {
        snprintf(game->mod_file, sizeof(game->mod_file), "%s/%s", Z2_DATA_DIR, mod);
        params["headless"] = var(1);
        mods_restart(*game, 1, params);
        frames(2, false);
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
    void key_escape() { game->view.state_event(z2test::key(5)); }
    // The actions of the buttons on the mod's page, as a click would report them.
    std::vector<var> buttons() {
        std::vector<var> out;
        if (ModsGui* page = mods_gui_of(api()))
            for (Widget* w : page->_list_descendants()) {
                var& a = w->on_click;
                if (a.__type__() == VAR_DICT && a["type"].__str__() == "onclick" && !a["value"].__str__().empty())
                    out.push_back(a);
            }
        return out;
    }
    bool press_first_button() {
        std::vector<var> all = buttons();
        if (!all.empty()) mods_event(*game, var(all[0].__copy__()));
        return !all.empty();
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
    std::string first, before, paused, after, status, html, nobody_read, heir_fleets;
    int pause_buttons = 0, who = -1;
    // Failures are checked after the capture, which would swallow them.
    // Progress damaged by hand (JSON's nan reads as a number) opens level 1.
    bool practice = GetParam() == "mod_practice.lua";
    if (practice) driver_cloud_save("mod_practice.bin", "{\"rank\": nan}", 13);
    std::string out = z2test::stdout_of([&] {
        start();
        if (practice) fs::remove(driver_doc_fname("mod_practice.bin"));
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
            pause_buttons = (int)buttons().size();
            key_escape();
            frames(3);
            after = state();
        }

        // A rival's user is removed, as the guide allows: its planets are
        // left to nobody, and the match goes on without a failure a frame.
        if (want->kind == Kind::Player && api() && (state() == "play" || state() == "scene")) {
            int rival = 0;
            for (int i = 1; i < world().top && !rival; i++) {
                const Item& it = world().items[i];
                if (it.in_use && it.has_planet && it.owner_n != player() && it.owner_n > 0 &&
                    !world().items[it.owner_n].user_neutral)
                    rival = it.owner_n;
            }
            if (rival) {
                lua("z2_item_destroy(" + std::to_string(rival) + ")");
                api()->log.clear();
                frames(60);
                if (api())
                    for (const std::string& line : api()->log)
                        if (line.find("invalid item") != std::string::npos) nobody_read = line;
                // Its bot, given another user as the guide allows, plays that one (a
                // user in the rival's old slot is nobody's to play).
                lua("for _, b in ipairs(type(mod_bots) == 'table' and mod_bots.list or {}) do\n"
                    "  if b.user == " + std::to_string(rival) + " then\n"
                    "    local u = z2_user_init('Heir', 0x40ff40, 0)\n"
                    "    if u == b.user then u = z2_user_init('Heir', 0x40ff40, 0) end\n"
                    "    z2_planet_init(u, 0, 0, 50, 100)\n"
                    "    z2_planet_init(z2_user_init('Prey', 0x808080, 0), 60, 0, 20, 1)\n"
                    "    b.user, b.send, b.margin, b.sources, b.defend, b.aim = u, 100, 1, 1, false, 'near'\n"
                    "    mod_bots.move(b)\n"
                    "    z2_param_set('heir_fleets', #z2_items_find('fleet owner:' .. u))\n"
                    "  end\n"
                    "end");
                heir_fleets = param("heir_fleets");
            }
        }
        if (ModsBase* engine = mods_engine_of(*game)) okay = engine->is_okay();
    });
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_TRUE(okay);
    EXPECT_EQ(nobody_read, "") << "the owner of planets left to nobody is read";
    EXPECT_NE(heir_fleets, "0") << "a bot given a new user stays stopped";
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
    const bool server = GetParam() == "mod_server.lua";
    int me = 0;
    std::string before, told, text;
    std::string out = z2test::stdout_of([&] {
        start();
        frames(10);
        before = state();
        me = player();
        // Every planet of the player goes to the first other side, its fleets
        // go. On the host that side takes the whole field: the match is won
        // as the player is put out, and the line says who won.
        int foe = 0;
        for (int i = 1; i < world().top && !foe; i++) {
            const Item& it = world().items[i];
            if (it.in_use && it.has_planet && it.owner_n != me && !world().items[it.owner_n].user_neutral)
                foe = it.owner_n;
        }
        for (int i = 1; i < world().top; i++) {
            const Item& it = world().items[i];
            if (!it.in_use || (it.owner_n != me && !server) || !me) continue;
            if (it.has_planet) z2_chown(world(), i, foe);
            if (it.has_fleet) z2_destroy(world(), i);
        }
        frames(server ? 2 : 20, true, server ? 0.3f : 0.05f);  // the host looks at its player each frame
        told = state();
        text = param("status") + " " + param("html");
    });
    ASSERT_NE(me, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_EQ(before, "play");
    EXPECT_TRUE(told == "dialog" || told == "scene") << told;
    EXPECT_NE(text.find(server ? " wins!" : "You are out"), std::string::npos) << text;
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
}

// Played on by bots (the player's own too) at many passes a frame, a match
// with a winner reaches its own outcome: its end page, or for the host that
// starts the next match at once, the winner's line, in every player's chat
// and on the status line it sends its online players, which the next match
// clears.
TEST_P(WinnerMod, FastForwardedPlayReachesItsOutcome) {
    const Expect* want = expect_of(GetParam());
    bool server = GetParam() == "mod_server.lua";
    bool over = false;
    int frame = 0;
    std::string sent_status;
    std::string out = z2test::stdout_of([&] {
        // The host's word on the winner goes to every player's chat: it hosts here.
        var params(VAR_DICT, 0);
        if (server) params["port"] = var(z2test::free_udp_port());
        start(params);
        if (server)
            lua("local send = z2_net_send\n"
                "function z2_net_send(uid, kind, value)\n"
                "  if uid == '' and kind == 'status' then\n"
                "    z2_param_set('sent_status', (z2_param_get('sent_status') or '') .. '[' .. value .. ']')\n"
                "  end\n"
                "  return send(uid, kind, value)\n"
                "end");
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
        if (server && over) {  // on into the next match, a tick at a time
            api()->param_set("ticks", var(1));
            frames(40, false, 0.1f);
        }
        sent_status = param("sent_status");
    });
    // The next match clears the line for all, the seatless among them.
    if (server) {
        EXPECT_NE(sent_status.find(" wins! The next match begins in 3 seconds.][]"), std::string::npos)
            << "online players hear it: " << sent_status;
    }
    EXPECT_TRUE(over) << "after " << frame << " frames: " << state() << " " << param("status") << "\n"
                      << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
}

// The dedicated host joined by thousands of account ids, one after another
// (any client names its own, and comes and goes as it likes): the user of
// one who watched, finding no planet left, goes when they leave, so the
// world keeps room for the match's fleets. One who types too fast gets no
// fresh allowance of lines by leaving and joining again.
TEST_F(ShippedMod, JoinsPastThePlanetsLeaveTheWorldRoomToPlay) {
    int before = 0, after = 0, fleet = 0;
    std::string out = z2test::stdout_of([&] {
        start_headless("mod_server.lua");
        for (int round = 0; round < 2; round++) {
            for (const char* type : {"net:join", "net:message", "net:message", "net:message", "net:message",
                                     "net:message", "net:message", "net:leave"}) {
                var e(VAR_DICT, 0);
                e["type"] = var(type);
                e["uid"] = var("talker");
                e["name"] = var("Talker");
                e["value"] = var("hello");
                mods_event(*game, e);
            }
        }
        before = world().live;
        for (int i = 0; i < ZT_ITEMS + 100 && api(); i++) {
            var join(VAR_DICT, 0);
            join["type"] = var("net:join");
            join["uid"] = var("u" + std::to_string(i));
            join["name"] = var("P" + std::to_string(i));
            mods_event(*game, join);
            join["type"] = var("net:leave");
            mods_event(*game, join);
        }
        after = world().live;
        // A player with a planet can still launch ships.
        int from = 0, to = 0;
        for (int i = 1; i < world().top; i++) {
            const Item& it = world().items[i];
            if (!it.in_use || !it.has_planet) continue;
            if (!from && it.ships_value >= 2) from = i;
            else if (!to) to = i;
        }
        if (from && to) fleet = z2_send(world(), 50, from, to);
    });
    EXPECT_LE(after, before + 20) << "watchers who left kept their items";
    EXPECT_NE(fleet, 0) << "no room for a fleet";
    EXPECT_EQ(out.find("Lua error"), std::string::npos) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_NE(out.find("watches, no planet left"), std::string::npos);
    EXPECT_EQ(z2test::count_of(out, "chat: Talker: hello"), 5);
}

// A player who leaves for good gives their planets back to the field after
// a while: kept, they would grow without end, out of the bots' reach, and
// the match would never end for those who join later.
// Bob, who left with a fleet still flying, keeps his user until it lands;
// back before that, he has no planet left and must get one as a newcomer.
// Cal, who calls himself "neutral", is a player like the others and not the
// side of the unclaimed planets. Four more come and go before Dee joins: she
// gets a colour that neither Bob nor Cal wears. The line breaks in Eve's
// name break no label up. A bot that takes every planet has not won while
// Bob's fleet still flies, only once no other side's fleet is left.
TEST_F(ShippedMod, APlayerWhoLeftGivesTheirPlanetsBack) {
    int ann = 0, bob = 0, owned = -1, bob_flying = 0, bob_owned = -1, bob_back = -1, others_flying = 0;
    bool ann_left = false, won_over_fleets = true, won_after = false;
    Item cal{}, dee{}, eve{};
    std::string out = z2test::stdout_of([&] {
        start_headless("mod_server.lua");
        std::vector<int> users;
        for (int i = 1; i < world().top; i++)
            if (world().items[i].in_use && world().items[i].has_user) users.push_back(i);
        auto join = [&](const char* type, const char* uid, const char* name) {
            var e(VAR_DICT, 0);
            e["type"] = var(type);
            e["uid"] = var(uid);
            e["name"] = var(name);
            mods_event(*game, e);
            for (int i = 1; i < world().top; i++)
                if (world().items[i].in_use && world().items[i].has_user &&
                    std::find(users.begin(), users.end(), i) == users.end()) {
                    users.push_back(i);
                    return i;
                }
            return 0;
        };
        ann = join("net:join", "ann", "Ann");
        bob = join("net:join", "bob", "Bob");
        if (int c = join("net:join", "cal", "neutral")) cal = world().items[c];
        // Bob's fleet is kept flying, always toward the planet farthest from it.
        auto farthest = [&](float x, float y) {
            int best = 0;
            float most = -1;
            for (int i = 1; i < world().top; i++) {
                const Item& p = world().items[i];
                float d = (p.position_x - x) * (p.position_x - x) + (p.position_y - y) * (p.position_y - y);
                if (p.in_use && p.has_planet && d > most) best = i, most = d;
            }
            return best;
        };
        int fleet = 0;
        for (int i = 1; i < world().top && !fleet; i++) {
            const Item& p = world().items[i];
            if (p.in_use && p.has_planet && p.owner_n == bob)
                fleet = z2_send(world(), 50, i, farthest(p.position_x, p.position_y));
        }
        join("net:leave", "ann", "Ann");
        join("net:leave", "bob", "Bob");
        for (const char* passer : {"x1", "x2", "x3", "x4"}) {
            join("net:join", passer, passer);
            join("net:leave", passer, passer);
        }
        for (int i = 0; i < 280; i++) {  // a little more than a minute
            if (fleet && world().items[fleet].in_use && world().items[fleet].has_fleet)
                z2_redirect(world(), fleet, farthest(world().items[fleet].position_x, world().items[fleet].position_y));
            frames(1, false, 0.25f);
        }
        ann_left = !world().items[ann].in_use || !world().items[ann].has_user;
        owned = 0;
        for (int i = 1; i < world().top; i++)
            owned += world().items[i].in_use && world().items[i].has_planet && world().items[i].owner_n == ann;
        bob_flying = count(true, bob);
        bob_owned = count(false, bob);
        join("net:join", "bob", "Bob");
        bob_back = count(false, bob);
        if (int d = join("net:join", "dee", "Dee")) dee = world().items[d];
        if (int e = join("net:join", "eve", "E\nv\re")) eve = world().items[e];
        if (cal.n) cal = world().items[cal.n];

        int vega = 0;
        for (int i = 1; i < world().top && !vega; i++)
            if (world().items[i].in_use && world().items[i].has_user && world().items[i].has_bot) vega = i;
        auto winner_told = [&] {
            for (const std::string& line : api()->log)
                if (line.find("winner:") != std::string::npos) return true;
            return false;
        };
        api()->log.clear();
        for (int i = 1; i < world().top; i++)
            if (world().items[i].in_use && world().items[i].has_planet) z2_chown(world(), i, vega);
        for (int i = 1; i < world().top; i++)
            others_flying += world().items[i].in_use && world().items[i].has_fleet && world().items[i].owner_n != vega;
        frames(2, false, 0.25f);
        won_over_fleets = winner_told();
        // Fleets turned again and again never land: the wait for them ends.
        for (int k = 0; k < 124; k++) {
            for (int i = 1; i < world().top; i++) {
                const Item& f = world().items[i];
                if (f.in_use && f.has_fleet && f.owner_n != vega) z2_redirect(world(), i, farthest(f.position_x, f.position_y));
            }
            frames(1, false, 0.25f);
        }
        won_after = winner_told();
    });
    ASSERT_NE(ann, 0);
    EXPECT_TRUE(ann_left);
    EXPECT_EQ(owned, 0);
    ASSERT_NE(bob, 0);
    EXPECT_GT(bob_flying, 0);
    EXPECT_EQ(bob_owned, 0);
    EXPECT_EQ(bob_back, 1);
    EXPECT_TRUE(cal.in_use && cal.has_user);
    EXPECT_EQ(cal.user_neutral, 0u);
    EXPECT_STREQ(cal.title_value, "neutral");
    ASSERT_TRUE(dee.in_use && dee.has_user);
    EXPECT_NE(dee.render_color, world().items[bob].render_color);
    EXPECT_NE(dee.render_color, cal.render_color);
    EXPECT_STREQ(eve.title_value, "E v e");
    EXPECT_GT(others_flying, 0);
    EXPECT_FALSE(won_over_fleets) << "won while another side's fleet flies";
    EXPECT_TRUE(won_after) << "fleets kept turning held the match";
    EXPECT_NE(out.find("away: Ann's planets go back to the field"), std::string::npos)
        << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_EQ(out.find("Lua error"), std::string::npos);
}

// The galaxy host sends a player to the match once a visit, however often
// the client asks: one line in the log, and again after they come back.
// With nobody on it, it is an idle host (its loop waits for the network).
TEST_F(ShippedMod, TheGalaxySendsAPlayerToTheMatchOnceAVisit) {
    std::string idle;
    std::string out = z2test::stdout_of([&] {
        var params(VAR_DICT, 0);
        params["match"] = var("127.0.0.1:7000");
        start_headless("mod_galaxy.lua", params);
        idle = state();
        auto send = [&](const char* type, const char* value) {
            var e(VAR_DICT, 0);
            e["type"] = var(type);
            e["uid"] = var("u1");
            e["name"] = var("Ann");
            e["value"] = var(value);
            mods_event(*game, e);
        };
        send("net:join", "");
        for (int i = 0; i < 100; i++) send("net:play", "2");
        send("net:leave", "");
        send("net:join", "");
        send("net:play", "3");
    });
    EXPECT_EQ(idle, "galaxy");
    EXPECT_EQ(z2test::count_of(out, "$ play: Ann at Brisa\n"), 1) << out.substr(0, 3000);
    EXPECT_EQ(z2test::count_of(out, "$ play: Ann at Cendre\n"), 1);
    EXPECT_EQ(out.find("Lua error"), std::string::npos);
}

// The LAN client in a match, its host's world built here as the sync would
// build it: a player who loses the last planet watches, without the
// controls that send ships, and is told so; given a planet, they play
// again. One put out as the match is won hears who won, and is told when
// the next has no planet for them.
// One who joins with no planet free watches and is told that instead, and
// one whose host gives no user at all (it runs no match) is told that.
TEST_F(ShippedMod, ALanPlayerWhoIsOutWatchesAndIsToldSo) {
    std::string joined, no_match, seatless, in, out_state, out_status, won, next_seatless, again, rejoined;
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
        run(140);  // seven seconds, and no user of ours: a host that runs no match
        no_match = param("status");

        std::string uid = game->client_net->uid;
        Item* me = user_init(world(), "Ann", 0x3080ff, 0);
        snprintf(me->user_uid, sizeof(me->user_uid), "%s", uid.c_str());
        Item* foe = user_init(world(), "Vega", 0xff5040, 0);
        planet_init(world(), foe->n, 400, 100, 50, 20);
        run(30);
        seatless = param("status");
        int mine = planet_init(world(), me->n, 100, 100, 50, 20)->n;
        run(30);
        in = state();

        z2_chown(world(), mine, foe->n);
        run(30);
        out_state = state();
        out_status = param("status");

        z2_chown(world(), mine, me->n);
        run(30);
        again = state();

        // Our last planet falls and the match is won: the host's line and
        // the record that puts us out come in one frame.
        var word(VAR_DICT, 0);
        word["type"] = var("net:status");
        word["value"] = var("Vega wins! The next match begins in 3 seconds.");
        mods_event(*game, word);
        z2_chown(world(), mine, foe->n);
        run(30);
        won = param("status");
        // The next match has no planet for us: the host clears its line.
        word["value"] = var("");
        mods_event(*game, word);
        run(3);
        next_seatless = param("status");

        // Back on another connection, to a match with no planet free: the
        // user has the same number as before, but never had a planet here.
        var gone(VAR_DICT, 0);
        gone["type"] = var("net:disconnect");
        mods_event(*game, gone);
        mods_event(*game, join);
        mods_event(*game, connect);
        z2_chown(world(), mine, foe->n);
        run(30);
        rejoined = param("status");
    });
    EXPECT_EQ(joined, "play");
    EXPECT_NE(no_match.find("runs no LAN match"), std::string::npos) << no_match;
    EXPECT_NE(seatless.find("No planet is free"), std::string::npos) << "joined a full match: " << seatless;
    EXPECT_EQ(in, "play");
    EXPECT_EQ(out_state, "scene") << "no slider, no sending";
    EXPECT_NE(out_status.find("You are out"), std::string::npos) << out_status;
    EXPECT_NE(won.find("Vega wins!"), std::string::npos) << won;
    EXPECT_NE(next_seatless.find("No planet is free"), std::string::npos) << next_seatless;
    EXPECT_EQ(again, "play");
    EXPECT_NE(rejoined.find("No planet is free"), std::string::npos) << rejoined;
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

// What the guide says one example does. `marks` is text only that example
// has, or with `whole` the example's entire text (a one-line example). `lua`
// runs at the end of the example's own chunk, so it sees its locals, after a
// whole mod has started, run a frame and heard a pause and a back; it calls
// want(condition, what) for each effect (near(a, b) for numbers that went
// through the world's single precision). `after` checks what only the game
// shows (its log: these tests have no sound device). Every example runs on
// an emptied world, with no network endpoint and no sound asked for.
struct GuideCheck {
    const char* marks;
    bool whole;
    const char* lua;
    std::function<void(Game&, const std::string& log)> after = nullptr;
};

const GuideCheck GUIDE_CHECKS[] = {
    {"local foe = z2_user_init(\"Foe\"", false, R"(
        local me = z2_param_get("player")
        want(z2_item_get(me, "has_user") and z2_item_get(me, "title_value") == "You", "the player is the user You")
        want(#z2_items_find("planet owner:" .. me) == 1 and #z2_items_find("planet -owner:" .. me) == 1, "one planet each")
        want(z2_param_get("state") == "play", "the play screen, also after a back"))",
     [](Game& g, const std::string&) {
         EXPECT_EQ(g.world.view[2], 600.0f);
         EXPECT_EQ(g.world.view[3], 400.0f);
     }},
    {"onclick='resume'", false, R"(
        want(z2.html == PAUSE, "a pause shows the pause page")
        want(z2.state == "play", "back resumes")
        z2.state = "pause"
        event({type = "onclick", value = "resume"})
        want(z2.state == "play", "the first button resumes")
        event({type = "onclick", value = "menu"})
        want(z2.state == "quit", "the second button leaves"))"},
    {"z2_game_reset()\n", true, R"(
        want(#z2_items_find("user OR planet OR fleet OR team") == 0, "no item is left"))",
     [](Game& g, const std::string&) { EXPECT_EQ(g.world.parts_count, 0) << "no particle is left"; }},
    {"local red = z2_user_init(\"Red\", 0xff5040, 0)\n", false, R"(
        want(z2_item_get(red, "has_user") and z2_item_get(red, "title_value") == "Red", "a user named Red")
        want(z2_item_get(red, "render_color") == 0xff5040, "in its colour")
        want(z2_item_get(red, "user_team_n") == red, "on a side of its own"))",
     [](Game& g, const std::string&) {
         // The neutral planet took its owner's flag: it does not grow.
         for (int i = 1; i < g.world.top; i++) {
             const Item& p = g.world.items[i];
             if (!p.in_use || !p.has_planet) continue;
             sys_loop(g.world, 2.0f, 0);
             EXPECT_FLOAT_EQ(p.ships_value, 10.0f);
             return;
         }
         ADD_FAILURE() << "no planet";
     }},
    {"z2_team_init(\"Armada\"", false, R"(
        want(z2_item_get(a, "user_team_n") == team and z2_item_get(b, "user_team_n") == team, "both users are on the team")
        want(z2_item_get(team, "title_value") == "Armada" and z2_item_get(team, "render_color") == 0xff5040, "the team"))"},
    {"local p = z2_planet_init(u, 100, 100, 60, 25)", false, R"(
        want(z2_item_get(p, "has_planet") and z2_item_get(p, "owner_n") == u, "Blue's planet")
        want(z2_item_get(p, "position_x") == 100 and z2_item_get(p, "position_y") == 100, "where it was put")
        want(z2_item_get(p, "ships_production") == 60 and z2_item_get(p, "ships_value") == 25, "its production and ships")
        want(z2_item_get(p, "planet_r") > z2_item_get(z2_planet_init(u, 0, 0, 15, 0), "planet_r"), "more production, a bigger planet"))"},
    {"z2_planets_settle(0, 0, 400, 400)", false, R"(
        local ps = z2_items_find("planet owner:" .. u)
        want(#ps == 5, "five planets")
        for i, a in ipairs(ps) do
          local ax, ay = z2_item_get(a, "position_x"), z2_item_get(a, "position_y")
          want(ax >= 0 and ax <= 400 and ay >= 0 and ay <= 400, "inside the rectangle")
          for j = i + 1, #ps do
            local bx, by = z2_item_get(ps[j], "position_x"), z2_item_get(ps[j], "position_y")
            want(ax ~= bx or ay ~= by, "pushed apart")
          end
        end)"},
    {"local fleet = z2_fleet_send(", false, R"(
        want(fleet ~= 0 and z2_item_get(fleet, "has_fleet"), "a new fleet")
        want(z2_item_get(fleet, "fleet_target") == b, "bound for the other planet")
        want(near(z2_item_get(fleet, "fleet_ships"), 20) and near(z2_item_get(a, "ships_value"), 20), "half the ships left"))"},
    {"z2_fleet_init(u, 30, a, b)", false, R"(
        local fleets = z2_items_find("fleet owner:" .. u)
        want(#fleets == 1 and near(z2_item_get(fleets[1], "fleet_ships"), 30), "a fleet of 30")
        want(z2_item_get(fleets[1], "fleet_target") == b, "bound for b")
        want(z2_item_get(a, "ships_value") == 0, "the planet gave none"))"},
    {"z2_fleet_redirect(z2_fleet_send(100, a, b), c)", false, R"(
        local fleets = z2_items_find("fleet owner:" .. u)
        want(#fleets == 1 and z2_item_get(fleets[1], "fleet_target") == c, "the fleet turned to c"))"},
    {"z2_planet_chown(p, b)", false, R"(
        want(z2_item_get(p, "owner_n") == b, "Bob owns the planet"))"},
    {"local dot = z2_item_init()", false, R"(
        want(z2_item_get(dot, "has_position") and z2_item_get(dot, "position_x") == 10, "the keys were set")
        want(not z2_item_get(dot, "has_planet") and not z2_item_get(dot, "has_user"), "nothing else"))"},
    {"z2_item_set(u, \"ui_ships_show_mask\", 1)", false, R"(
        want(z2_item_get(p, "ships_value") == 15, "five ships more")
        want(z2_item_get(u, "ui_ships_show_mask") == 1, "Blue sees only its own counts"))"},
    {"z2_item_destroy(z2_planet_init(", false, R"(
        want(#z2_items_find("planet") == 0, "the planet is gone"))"},
    {"z2_item_sync(u)", false, R"(
        want(z2_item_get(u, "has_user"), "not hosting: the user stays as it was"))"},
    {"local picked = z2_item_selected(", false, R"(
        want(picked == false, "nothing is selected"))"},
    {"local others = z2_items_find(\"planet -owner:\" .. u)", false, R"(
        want(#mine == 1 and z2_item_get(mine[1], "owner_n") == u, "Blue's one planet")
        want(#others == 0, "no other planet"))"},
    {"z2_part_init(", false, "",
     [](Game& g, const std::string&) {
         ASSERT_EQ(g.world.parts_count, 1);
         const Part& p = g.world.parts[g.world.parts_start];
         EXPECT_STREQ(p.src, "spark");
         EXPECT_EQ(p.d, 1.5f);
         EXPECT_EQ(p.x, 200.0f);
         EXPECT_EQ(p.vy, -30.0f);
     }},
    {"z2_view_set(0, 0, 800, 600)\n", true, "",
     [](Game& g, const std::string&) {
         EXPECT_EQ(g.world.view[2], 800.0f);
         EXPECT_EQ(g.world.view[3], 600.0f);
         EXPECT_EQ(g.ui.view[2], 800.0f) << "the match shows it";
     }},
    {"z2_bounds_set(0, 0, 800, 600)", false, "",
     [](Game& g, const std::string&) {
         EXPECT_EQ(g.world.bounds[2], 800.0f);
         EXPECT_EQ(g.world.bounds[3], 600.0f);
         EXPECT_EQ(g.world.clip[2], 800.0f);
         EXPECT_EQ(g.world.clip[3], 600.0f);
     }},
    {"z2_param_set(\"status\", \"Take every red planet\")", false, R"(
        want(z2_param_get("status") == "Take every red planet" and z2.status == z2_param_get("status"), "the status line")
        want(z2_param_get("speed") == 2, "twice the speed")
        want(type(who) == "string", "the player's name"))"},
    {"saved.best = (saved.best or 0) + 1", false, R"(
        want(saved.best >= 1 and json.decode(z2.data).best == saved.best, "the data is kept"))"},
    {"z2_gui_set(\"bots\", 4)", false, R"(
        want(bots == 4, "the slider reads what was set")
        want(z2.state == "menu", "the page over the menu"))"},
    {"z2_play_sound(\"sfx-click\")", false, "",
     [](Game&, const std::string& log) {
         EXPECT_TRUE(_game_audio._game_audio_sounds.__has__(var("sfx-click"))) << "the sound is queued for this frame";
         EXPECT_NE(log.find("play_music: mus-galaxy"), std::string::npos) << "the music is asked for";
     }},
    {"z2_chat_keywords('[\"Vega\", \"Rigel\"]')", false, "",
     [](Game& g, const std::string&) {
         ASSERT_NE(g.server_net, nullptr);
         EXPECT_TRUE(g.server_net->opened) << "hosting";
         ASSERT_NE(g.chat, nullptr);
         ASSERT_FALSE(g.chat->lines.empty());
         EXPECT_EQ(g.chat->lines.back().text, "Welcome!");
         EXPECT_EQ(g.chat->keywords, (std::vector<std::string>{"Vega", "Rigel"}));
     }},
    {"z2_net_join(\"127.0.0.1\", 7000, \"\")", false, "",
     [](Game& g, const std::string&) {
         ASSERT_NE(g.client_net, nullptr);
         EXPECT_EQ(g.client_net->port, 7000) << "joining the host";
     }},
    {"z2_api_call(", false, "",
     [](Game&, const std::string&) {
         EXPECT_TRUE(std::any_of(_game_web.web_reqs.begin(), _game_web.web_reqs.end(),
                                 [](WebRequest* r) { return r->path.find("news") != std::string::npos; }))
             << "the web service is asked";
     }},
    {"local h = z2_md5_digest(\"hello\")", false, R"(
        want(type(mod_match) == "table" and type(mod_match.tally) == "function", "the module ran")
        want(h == "5d41402abc4b2a76b9719d911017c592", "the MD5 of hello"))"},
    {"local stopped, why = z2_sandbox(spin, 5, 0)", false, R"(
        want(ok == true and err == nil, "the code ran")
        want(stopped == false and why:find("instruction limit exceeded"), "the loop was stopped")
        want(type(thousands) == "number" and type(kb) == "number", "what it used"))"},
    {"local fleet = p:fleet_send(50, q)", false, R"(
        want(near(z2_item_get(p.n, "ships_value"), 20), "p had 40 and sent half")
        want(z2_item_get(fleet.n, "fleet_target") == q.n, "the fleet goes to q")
        want(p:owner() == me, "p's owner is me")
        for _, n in ipairs(z2_items_find("planet")) do want(z2_item_get(n, "ships_production") == 80, "every planet makes 80") end
        want(z2_param_get("player") == me.n, "the player is stored as its number"))"},
    {"button.button_name = \"go\"", false, R"(
        want(z2_item_get(ring.n, "has_draw") and z2_item_get(ring.n, "draw_r") == 30, "a circle of radius 30")
        want(z2_item_get(ring.n, "position_x") == 250, "moved to 250")
        want(z2_item_get(bar.n, "draw_x2") == 100 and z2_item_get(bar.n, "draw_y3") == 20, "the triangle's corners")
        want(z2_item_get(title.n, "label_text") == "Hello" and z2_item_get(title.n, "label_align") == 0, "a centred label")
        want(z2_item_get(button.n, "has_image") and z2_item_get(button.n, "image_src") == "white", "an image")
        want(z2_item_get(button.n, "has_button") and z2_item_get(button.n, "button_name") == "go", "a touch button named go"))"},
    {"local rows = t_decode(t_encode(", false, R"(
        want(back.rank == 3 and back.names[2] == "b", "JSON round trip")
        want(rows[1].name == "Vega" and tonumber(rows[1].wins) == 3, "table round trip")
        want(SCORE == 1, "a declared global")
        strict(true)
        want(not pcall(function() UNDECLARED = 1 end), "strict refuses a new global")
        strict(false))"},
    {"mod_match.new_bot(\"Red\"", false, R"(
        want(#z2_items_find("planet owner:" .. grey) == 6, "six neutral planets scattered")
        want(tally[red].planets == 1, "Red's tally")
        want(#z2_items_find("fleet owner:" .. red) >= 1, "the bot moved")
        want(z2.html:find("Red holds 1") ~= nil, "the page"))",
     [](Game& g, const std::string&) {
         // The screen takes a user as the player's, and it holds a planet.
         int me = get_uid_mark_has_player(g, 0);
         int owned = 0;
         for (int i = 1; i < g.world.top; i++)
             owned += g.world.items[i].in_use && g.world.items[i].has_planet && me && g.world.items[i].owner_n == me;
         EXPECT_EQ(owned, 1) << "the player at the screen has a planet to play";
     }},
};

TEST_F(ShippedMod, EveryExampleOfTheModdersGuideRuns) {
    std::vector<std::string> examples = guide_examples();
    ASSERT_GE(examples.size(), 30u);
    std::string dir = fs::path(getenv("HOME")).string();
    // The guide's mod lives beside the shipped modules it requires.
    for (const char* m : {"mod_bots.lua", "mod_match.lua"})
        if (!fs::exists(dir + "/" + m)) fs::create_symlink(std::string(Z2_DATA_DIR) + "/" + m, dir + "/" + m);
    z2test::write_text(dir + "/blank.lua", "function init() end\nfunction loop(t) end\nfunction event(e) end\n");
    snprintf(game->mod_file, sizeof(game->mod_file), "%s/blank.lua", dir.c_str());
    std::vector<int> used(std::size(GUIDE_CHECKS));
    for (size_t i = 0; i < examples.size(); i++) {
        std::vector<const GuideCheck*> mine;
        for (const GuideCheck& c : GUIDE_CHECKS)
            if (c.whole ? examples[i] == c.marks : examples[i].find(c.marks) != std::string::npos) mine.push_back(&c);
        if (mine.size() != 1) {
            ADD_FAILURE() << "example " << i + 1 << " needs one check of what it does, has " << mine.size() << ":\n"
                          << examples[i];
            continue;
        }
        const GuideCheck* check = mine[0];
        used[check - GUIDE_CHECKS]++;
        std::string out = z2test::stdout_of([&] {
            game_server_deinit(*game);
            game_client_deinit(*game);
            _game_audio._game_audio_sounds = var(VAR_DICT, 0);
            mods_restart(*game, 0, var(VAR_DICT, 0));
            ModsBase* engine = mods_engine_of(*game);
            engine->script("init, loop, event = nil, nil, nil z2_game_reset() "
                           "function want(ok, what) if not ok then error('not so: ' .. what, 2) end end "
                           "function near(a, b) return math.abs(a - b) < 0.001 end",
                           "guide");
            // An example that is a whole mod also starts, runs and hears a pause.
            std::string chunk = examples[i] +
                                "\nif init then init() end if loop then loop(0.05) end "
                                "if event then event({type = 'pause'}) event({type = 'back'}) end\n" +
                                check->lua + "\nguide_checked = true";
            engine->script(chunk.c_str(), "guide");
            engine->script("if not guide_checked then error('the check did not run') end guide_checked = nil", "guide");
        });
        EXPECT_EQ(out.find("Lua error"), std::string::npos) << "example " << i + 1 << ":\n" << examples[i] << "\n" << out;
        if (check->after) {
            SCOPED_TRACE("example " + std::to_string(i + 1) + ":\n" + examples[i]);
            check->after(*game, out);
        }
    }
    for (size_t k = 0; k < used.size(); k++)
        EXPECT_EQ(used[k], 1) << "the check marked \"" << GUIDE_CHECKS[k].marks << "\" belongs to one example";
}

std::string mod_name(const testing::TestParamInfo<std::string>& p) { return p.param.substr(0, p.param.size() - 4); }
INSTANTIATE_TEST_SUITE_P(Data, ShippedMod, testing::ValuesIn(shipped_mods()), mod_name);
INSTANTIATE_TEST_SUITE_P(Data, PlayerMod,
                         testing::ValuesIn(shipped_where([](const Expect& e) { return e.kind == Kind::Player; })),
                         mod_name);
INSTANTIATE_TEST_SUITE_P(Data, WinnerMod, testing::ValuesIn(shipped_where([](const Expect& e) { return e.winner; })),
                         mod_name);

}  // namespace
