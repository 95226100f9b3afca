// Mods on the network. End to end: a headless zentar2 hosting the dedicated
// server mod, and a player's client in this process (the same endpoint and
// world sync code the game uses) that joins, receives the world, sends a
// fleet, sees the host adopt it and takes a planet; SIGTERM then ends the
// host cleanly. In process: where a mod's messages go, and chat calls with
// and without a chat.
#include <gtest/gtest.h>

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
#include "net/game_net.h"
#include "mods/mods_api.h"
#include "net/net.h"
#include "z2_test_util.h"
#include "world/zentar.h"
#include "net/zentar_client.h"
#include "world/zentar_sim.h"

namespace {

namespace fs = std::filesystem;

// A UDP port nobody holds right now.
int free_udp_port() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

// A player's side of a match: its own world copy, fed only by the host (it
// does not simulate, so every change it sees came from the host).
struct Player {
    std::unique_ptr<Zentar> world{new Zentar()};
    NetClient net;
    std::vector<std::string> got;  // every message from the host, as "type=value"

    Player() { sys_init(*world); }
    ~Player() { net.deinit(); }

    Item& at(int n) { return world->items[n]; }
    // Runs frames until done() holds; false after limit_ms.
    bool until(const std::function<bool()>& done, int limit_ms) {
        for (int waited = 0; waited < limit_ms; waited += 10) {
            net.loop(0);
            NetMessage m;
            while (net.poll(&m)) {
                got.push_back(m.type + "=" + m.value);
                zentar_client_handle(&net, *world, m);
            }
            zentar_client_loop(&net, *world);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int find(const std::function<bool(const Item&)>& pick) {
        for (int i = 1; i < ZT_ITEMS; i++)
            if (at(i).in_use && pick(at(i))) return i;
        return 0;
    }
};

TEST(ModNet, PlayerJoinsSendsAFleetAndTakesAPlanet) {
    z2test::ProgramRun host("z2modnet");
    fs::copy_file(Z2_DATA_DIR "/mod_server.lua", host.root + "/data/mod_server.lua");
    int port = free_udp_port();
    ASSERT_GT(port, 0);
    host.start({"-headless", "-mod", "mod_server.lua", "-port", std::to_string(port)});
    ASSERT_TRUE(host.wait_out("$ hosting on port " + std::to_string(port), 1, 10000)) << host.out();

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
        },
        8000))
        << host.out();
    EXPECT_TRUE(host.wait_out("$ join: Tester gets planet", 1, 2000));

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
        },
        10000))
        << "adopted " << adopted << " taken " << taken << "\n"
        << host.out();

    // A typed line goes to the host's mod, which relays it to every player's chat.
    p.net.send("", "message", "hello all", 1);
    EXPECT_TRUE(p.until(
        [&] {
            for (const std::string& g : p.got)
                if (g.rfind("chat=", 0) == 0 && g.find("Tester: hello all") != std::string::npos) return true;
            return false;
        },
        5000))
        << host.out();
    EXPECT_TRUE(host.wait_out("$ chat: Tester: hello all", 1, 2000));

    kill(host.pid, SIGTERM);
    EXPECT_EQ(host.wait_exit(5000), 0);
    std::string log = host.log();
    ASSERT_GE(log.size(), 22u);
    EXPECT_EQ(log.substr(log.size() - 22), "\n[_driver_log_deinit]\n");
}

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
    EXPECT_EQ(last_sent(game->server_net), " hello all 1");
    api.net_send("u7", "hello", "one");
    EXPECT_EQ(last_sent(game->server_net), "u7 hello one 1");
    // "$" is the mod's own host, reached only through a client endpoint.
    size_t queued = game->server_net->outbox.size();
    api.net_send("$", "hello", "self");
    EXPECT_EQ(game->server_net->outbox.size(), queued);

    game->client_net = new Net();
    api.net_send("$", "hello", "self");
    EXPECT_EQ(last_sent(game->client_net), "$ hello self 1");
    game_server_deinit(*game);
    api.net_send("u7", "hello", "host");
    EXPECT_EQ(last_sent(game->client_net), "u7 hello host 1");

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
    delete game->chat;
    game->chat = nullptr;
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
