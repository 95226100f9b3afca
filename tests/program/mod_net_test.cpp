// Mods on the network. End to end: a headless zentar2 hosting the dedicated
// server mod, and a player's client in this process (the same endpoint and
// world sync code the game uses) that joins, receives the world, sends a
// fleet, sees the host adopt it and takes a planet; SIGTERM then ends the
// host cleanly. The same host joined by a whole game in this process running
// the LAN client mod, driven by SDL input, with no web account and with a
// long one that a second player's id begins like. In process:
// where a mod's messages go, and chat calls with and without a chat.
#include <gtest/gtest.h>

#include <SDL.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <thread>

#include "app/game.h"
#include "app/game_net.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_gui.h"
#include "net/net.h"
#include "shell/trans.h"
#include "screens/menus_misc.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_gfx.h"
#include "z2_test_util.h"
#include "world/zentar.h"
#include "net/zentar_client.h"
#include "world/zentar_sim.h"

namespace {

namespace fs = std::filesystem;

// A player's side of a match: its own world copy, fed only by the host (it
// does not simulate, so every change it sees came from the host).
struct Player {
    std::unique_ptr<Zentar> world{new Zentar()};
    NetClient net;
    std::vector<std::string> got;  // every message from the host, as "type=value"

    Player() { sys_init(*world); }
    ~Player() { net.deinit(); }

    Item& at(int n) { return world->items[n]; }
    // Takes what the host sent until done() holds; false once the wait
    // looks like a hang.
    bool until(const std::function<bool()>& done) {
        auto take = [&] {
            net.loop(0);
            NetMessage m;
            while (net.poll(&m)) {
                got.push_back(m.type + "=" + m.value);
                zentar_client_handle(&net, *world, m);
            }
            zentar_client_loop(&net, *world);
        };
        return z2test::step_until([&] { return take(), done(); },
                                  [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
    }
    int find(const std::function<bool(const Item&)>& pick) {
        for (int i = 1; i < ZT_ITEMS; i++)
            if (at(i).in_use && pick(at(i))) return i;
        return 0;
    }
};

TEST(ModNet, PlayerJoinsSendsAFleetAndTakesAPlanet) {
    z2test::HostRun host("z2modnet", "mod_server.lua");
    ASSERT_TRUE(host.hosting()) << host.out();
    int port = host.port;

    Player p;
    p.net.init("127.0.0.1", port, "u42", "Tester", "");
    ASSERT_TRUE(p.net.open_checked());

    // The world arrives with our user and the planet the mod gave it.
    int me = 0, mine = 0;
    ASSERT_TRUE(p.until(
        [&] {
            me = p.find([](const Item& it) { return it.has_user && strcmp(it.user_uid, "u42") == 0; });
            mine = me ? p.find([&](const Item& it) { return it.has_planet && it.owner_n == me; }) : 0;
            return mine != 0;
        }))
        << host.out();
    EXPECT_TRUE(host.wait_out("$ join: Tester gets planet"));

    // The nearest planet that half our ships can take.
    int target = 0;
    float near = INFINITY;
    for (int i = 1; i < ZT_ITEMS; i++) {
        const Item& it = p.at(i);
        if (!it.in_use || !it.has_planet || it.owner_n == me) continue;
        if (it.ships_value >= p.at(mine).ships_value / 2) continue;
        float d = std::hypot(it.position_x - p.at(mine).position_x, it.position_y - p.at(mine).position_y);
        if (d < near) target = i, near = d;
    }
    ASSERT_NE(target, 0) << "no planet to take";

    zentar_client_send(&p.net, *p.world, 100, mine, target);
    int fleet = p.find([](const Item& it) { return it.has_fleet && it.sync_temp_id && !it.sync_index; });
    ASSERT_NE(fleet, 0) << "no provisional fleet";

    // The host's fleet takes the prediction's slot, then the planet is ours.
    bool adopted = false, taken = false;
    EXPECT_TRUE(p.until(
        [&] {
            const Item& f = p.at(fleet);
            adopted = adopted || (f.in_use && f.has_fleet && f.sync_index != 0);
            taken = taken || p.at(target).owner_n == me;
            return adopted && taken;
        }))
        << "adopted " << adopted << " taken " << taken << "\n"
        << host.out();

    // A typed line goes to the host's mod, which relays it to every player's
    // chat; blank ones, Return on an empty entry, go no further.
    p.net.send("", "message", "", 1);
    p.net.send("", "message", " \t ", 1);
    p.net.send("", "message", "hello all", 1);
    EXPECT_TRUE(p.until(
        [&] {
            for (const std::string& g : p.got)
                if (g.rfind("chat=", 0) == 0 && g.find("Tester: hello all") != std::string::npos) return true;
            return false;
        }))
        << host.out();
    EXPECT_TRUE(host.wait_out("$ chat: Tester: hello all"));
    EXPECT_EQ(host.out().find("$ chat: Tester: \n"), std::string::npos);
    EXPECT_EQ(host.out().find("$ chat: Tester:    \n"), std::string::npos);

    // A line as long as a packet takes is cut to what the chat entry takes,
    // and a player who types faster than anybody can has the rest dropped:
    // one client cannot fill every chat and the host's log.
    p.net.send("", "message", std::string(60000, 'w'), 1);
    for (int i = 0; i < 40; i++) p.net.send("", "message", "spam\n$ winner: Tester", 1);
    EXPECT_TRUE(p.until([&] { return host.said("$ chat: lines from Tester dropped"); }))
        << host.out();
    std::string out = host.out();
    EXPECT_NE(out.find("$ chat: Tester: " + std::string(255, 'w') + "\n"), std::string::npos) << out.size();
    EXPECT_EQ(out.find(std::string(256, 'w')), std::string::npos);
    int relayed = z2test::count_of(out, "$ chat: Tester: spam $ winner: Tester\n");
    EXPECT_GE(relayed, 1);
    EXPECT_LE(relayed, 5);
    EXPECT_EQ(z2test::count_of(out, "$ winner: Tester"), relayed);

    kill(host.pid, SIGTERM);
    EXPECT_EQ(host.wait_exit(), 0);
    std::string log = host.log();
    ASSERT_GE(log.size(), 22u);
    EXPECT_EQ(log.substr(log.size() - 22), "\n[_driver_log_deinit]\n");
}

// A whole windowed game (offscreen GL, dummy audio) in this process, with a
// fresh HOME and the data directory beside its working directory, fed with
// SDL events the way the platform delivers them.
struct WindowedGame {
    z2test::TempDir dir;
    fs::path was;
    std::unique_ptr<Game> game{new Game()};

    WindowedGame() {
        dir.enter_as_home("z2langame", "home");
        fs::create_directories(dir.root / "bin");
        fs::create_directory_symlink(Z2_DATA_DIR, dir.root / "data");
        was = fs::current_path();
        fs::current_path(dir.root / "bin");
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        z2test::stdout_of_quiet([&] { game->init(); });
    }
    ~WindowedGame() {
        z2test::stdout_of_quiet([&] { game->deinit(); });
        _game_data.GAME_THIS = nullptr;  // init pointed it at this game
        fs::current_path(was);
    }

    ModsAPI* api() { return mods_api_of(*game); }
    std::string param(const char* key) { return api() ? api()->param_get(key).__str__() : ""; }

    // One frame of the program's main loop.
    void frame() {
        Event e;
        memset(&e, 0, sizeof(e));
        while (driver_event_poll(&e)) game->event(e);
        game->loop();
        game->paint();
    }
    // Frames until done() holds: false after `frames` of them (none: no
    // count), or once the wait looks like a hang. What the game waits for
    // here is mostly the host, whose speed is its own.
    bool until(const std::function<bool()>& done, long frames = -1) {
        return z2test::step_until(done, [&] { z2test::stdout_of_quiet([&] { frame(); }); }, frames);
    }
    // Frames for that long by the clock, which the host's match time keeps.
    void run_for(std::chrono::milliseconds span) {
        auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) z2test::stdout_of_quiet([&] { frame(); });
    }

    // The pointer in screen units, as the window's pixels.
    static void mouse(Uint32 type, float x, float y) {
        GfxRect px = gfx_rect_to_hwrect(GfxRect{x, y, 0, 0});
        SDL_Event ev{};
        ev.type = type;
        if (type == SDL_MOUSEMOTION) {
            ev.motion.x = (Sint32)px.x, ev.motion.y = (Sint32)px.y, ev.motion.state = SDL_BUTTON_LMASK;
        } else {
            ev.button.x = (Sint32)px.x, ev.button.y = (Sint32)px.y, ev.button.button = SDL_BUTTON_LEFT;
            ev.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        }
        SDL_PushEvent(&ev);
    }
    void drag(float x0, float y0, float x1, float y1) {
        mouse(SDL_MOUSEBUTTONDOWN, x0, y0);
        frame();
        for (int i = 1; i <= 4; i++) {
            mouse(SDL_MOUSEMOTION, x0 + (x1 - x0) * i / 4, y0 + (y1 - y0) * i / 4);
            frame();
        }
        mouse(SDL_MOUSEBUTTONUP, x1, y1);
        frame();
    }
    // A click in the middle of a widget, once the screen has stopped moving.
    bool click(Widget* w) {
        if (!w) return false;
        GfxRect r = w->get_abs_rect(true);
        mouse(SDL_MOUSEBUTTONDOWN, r.x + r.w / 2, r.y + r.h / 2);
        frame();
        mouse(SDL_MOUSEBUTTONUP, r.x + r.w / 2, r.y + r.h / 2);
        frame();
        return true;
    }
    bool settled() { return !game_trans_active(*game); }
    // The mod page's widget of that name.
    Widget* page(const char* name) { return api() && settled() ? mods_gui_of(api())->find(name) : nullptr; }
    // The button under w whose click action has that value.
    static Widget* button(Widget* w, const std::string& value) {
        if (w->on_click.__type__() == VAR_DICT && w->on_click["value"].__str__() == value) return w;
        if (Container* c = dynamic_cast<Container*>(w))
            for (Widget* child : c->children)
                if (Widget* found = button(child, value)) return found;
        return nullptr;
    }
    static void escape() {
        SDL_Event ev{};
        ev.type = SDL_KEYDOWN;
        ev.key.keysym.sym = SDLK_ESCAPE;
        ev.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
        ev.key.state = SDL_PRESSED;
        SDL_PushEvent(&ev);
    }
    // Where a world position is on the screen.
    Vector3 on_screen(const Item& it) {
        return game->ui.to_screen * Vector3{it.position_x, it.position_y, 0};
    }
};

// The game's dedicated host with its bots held still: only what the players
// do happens on the field. Live bots take a fresh player's planet, or the one
// the player aims at, within a few seconds, sooner than a loaded machine
// shows the match. The first bot stands in for a player at the host's own
// screen, whom the host's world marks as that screen's own: the mark travels
// with the user's records to every client. A player who types "give up"
// hands every planet to that bot. As a player joins, a fleet of that bot
// sets off for the weakest unclaimed planet, the one a live bot would go for.
const char* const CALM_HOST =
    "require('mod_server')\n"
    "function mod_bots.loop(t) end\n"
    "local function first_bot()\n"
    "  for _, u in ipairs(z2_items_find('user')) do\n"
    "    if z2_item_get(u, 'has_bot') then return u end\n"
    "  end\n"
    "end\n"
    "local host_loop, host_event = loop, event\n"
    "function loop(t)\n"
    "  host_loop(t)\n"
    "  local bot = first_bot()\n"
    "  if bot then z2_item_set(bot, 'has_player', true) end\n"
    "end\n"
    "function event(e)\n"
    "  if e.type == 'net:join' then\n"
    "    local weakest, least = nil, math.huge\n"
    "    for _, p in ipairs(z2_items_find('planet')) do\n"
    "      local o = z2_item_get(p, 'owner_n')\n"
    "      if not z2_item_get(o, 'ships_production_enabled') and z2_item_get(p, 'ships_value') < least then\n"
    "        weakest, least = p, z2_item_get(p, 'ships_value')\n"
    "      end\n"
    "    end\n"
    "    local from = z2_items_find('planet owner:' .. first_bot())[1]\n"
    "    if weakest and from and z2_fleet_init(first_bot(), 1, from, weakest) ~= 0 then\n"
    "      print('aimed at planet ' .. weakest .. '.')\n"
    "    end\n"
    "  end\n"
    "  if e.type == 'net:message' and e.value == 'give up' then\n"
    "    for _, u in ipairs(z2_items_find('user')) do\n"
    "      if z2_item_get(u, 'user_uid') == e.uid then\n"
    "        for _, p in ipairs(z2_items_find('planet owner:' .. u)) do z2_planet_chown(p, first_bot()) end\n"
    "      end\n"
    "    end\n"
    "    return\n"
    "  end\n"
    "  host_event(e)\n"
    "end\n";

// A player starts the LAN client from the Mods screen, types the host's
// address, joins, sends ships by dragging from their planet, pauses and
// resumes, sees the host go away and goes back to the menu. Without a web
// account the player joins under this device's own uid; with one, under the
// form of its id that packets and the world carry, and another player whose
// id begins with the same 15 characters joins as somebody else.
void lan_road(const std::string& account) {
    z2test::HostRun host("z2lanhost", "calm_host.lua", {}, CALM_HOST);
    ASSERT_TRUE(host.hosting()) << host.out();
    int port = host.port;

    WindowedGame p;
    Game& g = *p.game;
    ASSERT_EQ(g.settings.uid[0], 0) << "no web account yet";
    str_put(g.settings.uid, account);
    g.view.push("menus_mods", 2);
    Widget* client = nullptr;
    ASSERT_TRUE(p.until(
        [&] {
            auto* mods = dynamic_cast<MenusMods*>(GameView::find_state("menus_mods"));
            client = p.settled() && mods ? WindowedGame::button(&mods->root, "mod_client.lua") : nullptr;
            return client != nullptr;
        }));
    p.click(client);
    ASSERT_TRUE(p.until([&] { return strcmp(g.view.cur, "states_tabs") == 0 && p.page("join"); }));
    p.api()->gui_set("host", var("127.0.0.1"));
    p.api()->gui_set("port", var(std::to_string(port)));
    // A double click on Join makes one call: a second would hang up on the first.
    Widget* join = p.page("join");
    ASSERT_NE(join, nullptr);
    GfxRect at = join->get_abs_rect(true);
    for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP, SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP})
        WindowedGame::mouse(type, at.x + at.w / 2, at.y + at.h / 2);

    // Admitted under this device's own uid and an auto-name; the host gives
    // that player a planet, and the play screen knows it as ours.
    int me = 0, mine = 0;
    Zentar& w = g.world;
    ASSERT_TRUE(p.until(
        [&] {
            // The host's records bring its own screen's mark too, which the
            // play screen's loop puts right: ours is the one with our uid.
            std::string ours = g.client_net ? g.client_net->uid : "";
            me = 0;
            for (int i = 1; i < ZT_ITEMS && !me; i++)
                if (w.items[i].in_use && w.items[i].has_user && w.items[i].has_player &&
                    ours == std::string(w.items[i].user_uid, strnlen(w.items[i].user_uid, 16)))
                    me = i;
            mine = 0;
            for (int i = 1; i < ZT_ITEMS && me && !mine; i++)
                if (w.items[i].in_use && w.items[i].has_planet && w.items[i].owner_n == me) mine = i;
            return strcmp(g.view.cur, "states_play") == 0 && mine;
        }))
        << host.out();
    ASSERT_NE(g.client_net, nullptr);
    std::string uid = g.client_net->uid, name = g.client_net->name;
    EXPECT_EQ(uid.size(), 15u);
    if (account.empty()) EXPECT_EQ(uid.rfind("lan", 0), 0u) << uid;
    else EXPECT_EQ(uid, net_uid(account));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name, g.settings.qname) << "the auto-name is kept";
    // Names travel in 15-character packet header fields: an auto-name can be
    // longer, so the host knows the player by its first 15 characters.
    const std::string on_host = name.substr(0, 15);
    EXPECT_TRUE(host.wait_out("$ join: " + on_host + " gets planet"));
    // Not the planet a fleet is on its way to take.
    std::string said = host.out();
    size_t aimed = said.find("$ aimed at planet ");
    ASSERT_NE(aimed, std::string::npos) << said;
    std::string doomed = said.substr(aimed + 18, said.find('.', aimed) - aimed - 18);
    EXPECT_EQ(said.find("$ join: " + on_host + " gets planet " + doomed + "\n"), std::string::npos) << said;
    std::string log = z2test::slurp(p.dir.root / "home/.local/share/Zentar 2/ruvezor.log");
    EXPECT_EQ(z2test::count_of(log, "game_client_init: 127.0.0.1 " + std::to_string(port) + " "), 1);

    // Drag from our planet to the nearest one that half its ships can take,
    // once the screen has stopped moving (a change of screen swallows the
    // pointer).
    ASSERT_TRUE(p.until([&] { return p.settled(); }));
    int target = 0;
    float near = INFINITY;
    for (int i = 1; i < ZT_ITEMS; i++) {
        const Item& it = w.items[i];
        if (!it.in_use || !it.has_planet || it.owner_n == me) continue;
        if (it.ships_value >= w.items[mine].ships_value / 2 - 3) continue;
        float d = std::hypot(it.position_x - w.items[mine].position_x, it.position_y - w.items[mine].position_y);
        if (d < near) target = i, near = d;
    }
    ASSERT_NE(target, 0) << "no planet to take";
    Vector3 a = p.on_screen(w.items[mine]), b = p.on_screen(w.items[target]);
    p.drag(a.x, a.y, b.x, b.y);
    // Taken: seen here and in the host's log.
    EXPECT_TRUE(p.until([&] { return w.items[target].owner_n == me; })) << host.out();
    EXPECT_TRUE(host.wait_out(" by " + on_host + " from ")) << host.out();

    // Another account whose id begins the same is another player: the host
    // gives it a planet of its own and this player stays in the match.
    Player other;
    if (!account.empty()) {
        std::string theirs = account.substr(0, 15) + "-another-player";
        ASSERT_NE(net_uid(theirs), uid);
        other.net.init("127.0.0.1", port, net_uid(theirs), "Other", "");
        ASSERT_TRUE(other.net.open_checked());
        EXPECT_TRUE(other.until([&] { return host.out().find("$ join: Other gets planet") != std::string::npos; }))
            << host.out();
        EXPECT_TRUE(
            p.until([&] { return w.items[me].has_player && g.client_net && !g.client_net->closed; }));
    }

    // Escape pauses over the match; Escape again is "back" to it.
    p.escape();
    EXPECT_TRUE(p.until([&] { return strcmp(g.view.cur, "states_pause") == 0; }));
    EXPECT_TRUE(p.until([&] { return p.page("resume"); }));
    p.escape();
    EXPECT_TRUE(p.until([&] { return strcmp(g.view.cur, "states_play") == 0; }));

    // Out of the match: the player watches, and says so on the status line
    // through a pause and back, while the host's own player's mark keeps
    // coming with its records.
    if (account.empty()) {
        const std::string watching = "You are out: watching the match. Escape for the menu.";
        // The mod counts a player as in the match a second of match time
        // after their user came (their planet may come a moment later).
        ASSERT_TRUE(p.until([&] { return p.settled(); }));
        p.run_for(std::chrono::seconds(3));
        g.client_net->send("", "message", "give up", 1);
        EXPECT_TRUE(p.until([&] { return strcmp(g.view.cur, "states_scene") == 0 && p.param("status") == watching; }))
            << g.view.cur << " " << p.param("status");
        p.escape();
        EXPECT_TRUE(p.until([&] { return p.page("resume"); }));
        auto still_watching = [&] { return !p.until([&] { return p.param("status") != watching; }, 2 * z2test::kFps); };
        EXPECT_TRUE(still_watching()) << p.param("status") << " on " << g.view.cur;
        p.escape();
        EXPECT_TRUE(p.until([&] { return strcmp(g.view.cur, "states_scene") == 0; }));
        EXPECT_TRUE(still_watching()) << p.param("status") << " on " << g.view.cur;
    }

    // The host goes away: the page says so and leads back to the menu.
    kill(host.pid, SIGTERM);
    EXPECT_EQ(host.wait_exit(), 0);
    EXPECT_TRUE(p.until([&] { return strcmp(g.view.cur, "states_tabs") == 0; }));
    EXPECT_NE(p.param("html").find("Lost the connection to 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << p.param("html");
    ASSERT_TRUE(p.until([&] { return p.page("menu"); }));
    p.click(p.page("menu"));
    EXPECT_TRUE(p.until([&] { return !g.client_net && strncmp(g.view.cur, "states_", 7) != 0; }))
        << g.view.cur;
}

TEST(ModNet, LanClientModPlaysThroughAHeadlessHost) { lan_road(""); }

TEST(ModNet, LanClientModPlaysUnderALongAccountId) { lan_road("5f2b8c1e-4d7a-4c39-9e0b-000000001001"); }

TEST(ModNet, BusyPortIsAnErrorTheModCanCatchAndAFailedRunIfItDoesNot) {
    int held = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof(a);
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    ASSERT_EQ(getsockname(held, reinterpret_cast<sockaddr*>(&a), &len), 0);
    std::string port = std::to_string(ntohs(a.sin_port));

    z2test::ProgramRun host("z2modnet");
    fs::copy_file(Z2_DATA_DIR "/mod_server.lua", host.root + "/data/mod_server.lua");
    fs::copy_file(Z2_DATA_DIR "/mod_bots.lua", host.root + "/data/mod_bots.lua");
    fs::copy_file(Z2_DATA_DIR "/mod_match.lua", host.root + "/data/mod_match.lua");
    EXPECT_EQ(host.run({"-headless", "-mod", "mod_server.lua", "-port", port, "-frames", "3"}), 0);
    EXPECT_NE(host.out().find("$ not hosting: cannot host on port " + port), std::string::npos) << host.out();
    EXPECT_NE(host.out().find("cannot host on port " + port + ": Address already in use"), std::string::npos);

    z2test::ProgramRun bare("z2modnet");
    z2test::write_text(bare.root + "/data/bare.lua",
                       "function init() z2_net_host(" + port + ") end\nfunction loop(t) end\nfunction event(e) end\n");
    EXPECT_EQ(bare.run({"-headless", "-mod", "bare.lua", "-crash", "exit"}), 1) << bare.out();
    close(held);
}

// The last message queued on an endpoint, as "uid type value reliable".
std::string last_sent(Net* net) {
    if (!net || net->outbox.empty()) return "";
    const NetMessage& m = net->outbox.back();
    return m.uid + " " + m.type + " " + m.value + " " + std::to_string(m.reliable);
}

TEST(ModNet, MessagesGoToTheRightEndpointAndChatNeedsAChat) {
    std::unique_ptr<Game> game(new Game());
    game->headless = 1;
    ModsAPI api(*game);

    // Before any host or join: nothing to send through, no chat to fill.
    api.net_send("", "hello", "x");
    api.chat_append(0xff0000, "lost", 0);
    api.chat_keywords(var(VAR_LIST, 0));
    EXPECT_EQ(game->chat, nullptr);

    api.net_host(0, "k3y");
    ASSERT_NE(game->server_net, nullptr);
    EXPECT_EQ(game->server_net->key, "k3y");
    ASSERT_NE(game->chat, nullptr);

    api.net_send("", "hello", "all");
    EXPECT_EQ(last_sent(game->server_net.get()), " hello all 1");
    api.net_send("u7", "hello", "one");
    EXPECT_EQ(last_sent(game->server_net.get()), "u7 hello one 1");
    // "$" is the mod's own host, reached only through a client endpoint.
    size_t queued = game->server_net->outbox.size();
    api.net_send("$", "hello", "self");
    EXPECT_EQ(game->server_net->outbox.size(), queued);

    game->client_net.reset(new Net());
    api.net_send("$", "hello", "self");
    EXPECT_EQ(last_sent(game->client_net.get()), "$ hello self 1");
    game_server_deinit(*game);
    api.net_send("u7", "hello", "host");
    EXPECT_EQ(last_sent(game->client_net.get()), "u7 hello host 1");

    api.chat_append(0x00ff00, "hi", 0x101010);
    ASSERT_EQ(game->chat->lines.size(), 1u);
    EXPECT_EQ(game->chat->lines[0].text, "hi");
    EXPECT_EQ(game->chat->lines[0].color, 0x00ff00);
    EXPECT_EQ(game->chat->lines[0].bgcolor, 0x101010);
    var words(VAR_LIST, 0);
    list_append(words, var("Vega"));
    list_append(words, var(7));
    api.chat_keywords(words);
    EXPECT_EQ(game->chat->keywords, (std::vector<std::string>{"Vega", "7"}));
    EXPECT_EQ(api.api_error(), 0);

    game_client_deinit(*game);
    game->chat.reset();
}

// A one-off message reaches the host from "*" and the poke then hangs up;
// a second poke starts afresh.
TEST(ModNet, PokeDeliversOneMessageAndLeaves) {
    std::unique_ptr<Game> game(new Game());
    game->headless = 1;
    ModsAPI api(*game);
    NetServer server;
    server.init("", 0, "server", "Server", "");
    ASSERT_TRUE(server.open_checked());
    int port = server.enet_host->address.port;

    std::string seen;
    auto pump = [&](const std::string& until) {
        for (int i = 0; i < 300 && seen.find(until) == std::string::npos; i++) {
            api.net.loop(0);
            server.loop(0);
            NetMessage m;
            while (server.poll(&m)) seen += m.uid + ":" + m.type + "=" + m.value + " ";
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    api.net_poke("127.0.0.1", port, "Bob", "knock", "1");
    pump("leave");
    api.net_poke("127.0.0.1", port, "Bob", "knock", "2");
    pump("knock=2");
    EXPECT_EQ(seen.substr(0, seen.find("leave")), "*:join= *:knock=1 *:");
    EXPECT_NE(seen.find("*:knock=2"), std::string::npos) << seen;
    EXPECT_EQ(z2test::count_of(seen, "knock=1"), 1) << seen;
    server.deinit();
}

}  // namespace
