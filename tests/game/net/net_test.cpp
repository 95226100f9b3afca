// Endpoints: queues, and host and client talking over real ENet on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/net.h"
#include "net/net_pack.h"
#include "ruvezor/util/qel_driver.h"
#include "z2_test_util.h"  // kHangMs

namespace {

using Clock = std::chrono::steady_clock;
using Types = std::vector<std::string>;

int ms_since(Clock::time_point t) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Closing an endpoint reads the game clock once, and once more for each pass
// of its wait for answers: counting the readings a close makes tells whether
// it waited, however slow the machine. (A host also reads it to time its
// peers: only what `run` does is counted.)
bool counting = false;
int clock_reads = 0;
uint64_t frozen_at = 0;  // while set, the game clock stands still there
uint64_t counted_clock() {
    clock_reads += counting;
    if (frozen_at) return frozen_at;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count());
}
const bool clock_counted = (_driver_timer_set_source(counted_clock), true);
bool waits_for_answers(const std::function<void()>& run) {
    clock_reads = 0;
    counting = true;
    run();
    counting = false;
    return clock_reads > 1;
}

// An endpoint under test and everything it reported.
struct Ep {
    Net* net;
    std::vector<NetMessage> got;
    void pump() {
        net->loop(1);
        NetMessage m;
        while (net->poll(&m)) got.push_back(m);
    }
    Types types() const {
        Types t;
        for (const auto& m : got) t.push_back(m.type);
        return t;
    }
    int count(const std::string& type) const {
        int n = 0;
        for (const auto& m : got) n += m.type == type;
        return n;
    }
};

// A bare ENet host (range coder on) playing a foreign peer.
struct Raw {
    struct Ev {
        ENetEventType type;
        uint32_t data;
        std::string payload;
        ENetPeer* peer;
    };
    ENetHost* host;
    std::vector<Ev> ev;
    uint32_t refuse_with = 0;  // disconnect every connection with this data

    explicit Raw(size_t peers, bool bind = false, const char* at = "127.0.0.1") {
        ENetAddress a;
        enet_address_set_host(&a, at);
        a.port = 0;
        host = enet_host_create(bind ? &a : nullptr, peers, 1, 0, 0);
        enet_host_compress_with_range_coder(host);
    }
    ~Raw() { enet_host_destroy(host); }
    void service() {
        ENetEvent e;
        while (enet_host_service(host, &e, 0) > 0) {
            Ev r{e.type, e.data, {}, e.peer};
            if (e.type == ENET_EVENT_TYPE_CONNECT && refuse_with) enet_peer_disconnect(e.peer, refuse_with);
            if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                r.payload.assign(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
                enet_packet_destroy(e.packet);
            }
            ev.push_back(r);
        }
    }
    ENetPeer* connect(int port, uint32_t data) {
        ENetAddress a;
        enet_address_set_host(&a, "127.0.0.1");
        a.port = static_cast<enet_uint16>(port);
        return enet_host_connect(host, &a, 1, data);
    }
    void send(ENetPeer* peer, const std::string& packed) {
        ENetPacket* pk = enet_packet_create(packed.data(), packed.size(), ENET_PACKET_FLAG_RELIABLE);
        if (enet_peer_send(peer, 0, pk) < 0) enet_packet_destroy(pk);  // the connection is gone: not taken
        enet_host_flush(host);
    }
    std::vector<const Ev*> all(ENetEventType t) const {
        std::vector<const Ev*> v;
        for (const auto& e : ev)
            if (e.type == t) v.push_back(&e);
        return v;
    }
    size_t count(ENetEventType t) const { return all(t).size(); }
};

// Type and value of a packed host packet.
std::pair<std::string, std::string> decode(const std::string& payload) {
    std::string raw = net_unpack(payload);
    return {std::string(raw.c_str() + 48), raw.substr(64)};
}

// Waits count what arrives; the clock only catches a hang (a busy machine
// takes long to deliver a flood, and that is no failure).
bool pump_until(const std::vector<Ep*>& eps, const std::vector<Raw*>& raws, const std::function<bool()>& done,
                int ms = z2test::kHangMs) {
    auto start = Clock::now();
    while (ms_since(start) < ms && !done()) {
        for (Ep* e : eps) e->pump();
        for (Raw* r : raws) r->service();
    }
    return done();
}

void settle(const std::vector<Ep*>& eps, const std::vector<Raw*>& raws) {
    pump_until(eps, raws, [] { return false; }, 150);
}

struct Closer {
    void operator()(Net* n) const {
        n->deinit();
        delete n;
    }
};
using NetPtr = std::unique_ptr<Net, Closer>;

NetPtr make_server(const std::string& key) {
    NetPtr s(new NetServer());
    s->init("", 0, "server", "Server", key);
    s->open();
    return s;
}

int port_of(Net* n) { return n->enet_host->address.port; }

NetPtr make_client(int port, const std::string& uid, const std::string& name, const std::string& key,
                   bool local = false) {
    NetPtr c(local ? new NetLocal() : new NetClient());
    c->init(local ? "localhost" : "127.0.0.1", port, uid, name, key);
    return c;
}

}  // namespace

TEST(NetQueues, PollDrainsInArrivalOrderAndSentRoomStaysBounded) {
    Net n;
    n.init("h", 7, "me", "Me", "k");
    n.receive("a", "one", "1");
    n.receive("b", "two", std::string("\0x", 2));
    n.receive("c", "three", "3");
    NetMessage m;
    ASSERT_EQ(n.poll(&m), 1);
    EXPECT_EQ(m.uid + m.type, "aone");
    ASSERT_EQ(n.poll(&m), 1);
    EXPECT_EQ(m.value, std::string("\0x", 2));
    ASSERT_EQ(n.poll(&m), 1);
    EXPECT_TRUE(n.inbox.empty());
    EXPECT_EQ(n.inbox_cursor, 0);
    EXPECT_EQ(n.poll(&m), 0);
    EXPECT_EQ(m.type, "three");

    n.send("hello", 0);
    ASSERT_EQ(n.outbox.size(), 1u);
    EXPECT_EQ(n.outbox[0].uid + "/" + n.outbox[0].type + "/" + n.outbox[0].value, "/message/hello");
    n.outbox_sent();

    // The room of sent values is kept for as many records as one send's
    // worth of queue() took, however many values came whole beside them:
    // a host sending its 4 KB map every second grew by one kept value a
    // second, to megabytes of idle room.
    for (int pass = 0; pass < 50; pass++) {
        for (int k = 0; k < 10; k++) n.queue("", "D", 0).value.assign(640, 'd');
        n.send("", "A", std::string(4096, 'a'), 0);
        n.outbox_sent();
    }
    EXPECT_EQ(n.outbox_room.size(), 10u);
}

TEST(NetTokens, ChainedMd5) {
    // Reference digests computed independently of this code.
    EXPECT_STREQ(mk_token2("secret", "u1|Alice"), "93289741794fb7a");
    EXPECT_STREQ(mk_token3("secret", "u1|Alice", "12345"), "3bbf1b759018707");
    EXPECT_STREQ(mk_token2("abc", ""), "5ab49371a78310b");
    EXPECT_STREQ(mk_token2("k", std::string(300, 'x').c_str()), "2768d5af7a60359");  // cut at 255
}

// Keyed join; the uid of 20 characters counts by its first 15.
TEST(NetLoopback, JoinHoldsOutboxUntilChallengeThenFlows) {
    NetPtr server = make_server("k");
    NetPtr client = make_client(port_of(server.get()), "abcdefghijklmnopqrst", "Alice",
                                mk_token2("k", "abcdefghijklmno|Alice"));
    client->send("", "opts", "o", 1);
    client->send("", "cookie", "c", 1);
    client->open();
    EXPECT_EQ(client->count_peers(), 1);
    Ep s{server.get(), {}}, c{client.get(), {}};

    ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return s.count("ping") == 1; }));
    EXPECT_EQ(s.types(), (Types{"join", "opts", "cookie", "ping"}));
    EXPECT_EQ(s.got[0].uid, "abcdefghijklmno");
    EXPECT_EQ(s.got[0].name, "Alice");
    EXPECT_EQ(s.got[1].value, "o");
    EXPECT_EQ(c.types(), Types{"connect"});  // the challenge is consumed

    std::string blob("\0\1\0\0\0\0\2", 7);
    server->send("abcdefghijklmno", "exactly15chars!", blob, 1);
    server->send("abcdefghijklmno", "a-much-longer-type", "x", 0);
    server->send("nobody", "lost", "x", 1);
    client->send("", "sixteen-chars-xx", blob, 0);
    ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return c.got.size() == 3 && s.got.size() == 5; }));
    settle({&s, &c}, {});
    EXPECT_EQ(c.types(), (Types{"connect", "exactly15chars!", "a-much-longer-t"}));
    EXPECT_EQ(c.got[1].value, blob);
    EXPECT_EQ(c.got[1].uid, "");
    EXPECT_EQ(s.got[4].type, "sixteen-chars-x");
    EXPECT_EQ(s.got[4].value, blob);

    client->deinit();  // the uid's only connection ends: one "leave"
    ASSERT_TRUE(pump_until({&s}, {}, [&] { return server->count_peers() == 0; }));
    settle({&s}, {});
    EXPECT_EQ(s.count("leave"), 1);
    EXPECT_EQ(s.got.back().uid, "abcdefghijklmno");
}

TEST(NetLoopback, WrongOrMissingTokenIsRefused) {
    NetPtr server = make_server("secret");
    Ep s{server.get(), {}};
    for (const std::string key : {"0123456789abcde", ""}) {
        NetPtr client = make_client(port_of(server.get()), "u1", "Alice", key);
        client->open();
        Ep c{client.get(), {}};
        bool waited = false;
        ASSERT_TRUE(pump_until({&s}, {}, [&] {
            waited |= waits_for_answers([&] { c.pump(); });
            return c.count("disconnect") == 1;
        })) << key;
        EXPECT_FALSE(waited);
        // Data 12 is a refusal, not an incompatibility; closing waits for nobody.
        EXPECT_EQ(c.types(), (Types{"connect", "disconnect"}));
        EXPECT_EQ(client->opened, 0);
    }
    ASSERT_TRUE(pump_until({&s}, {}, [&] { return server->count_peers() == 0; }));
    EXPECT_TRUE(s.got.empty());
}

// Empty key: any token passes and the challenge is empty. Broadcasts reach
// the connections that exist and have joined: one that never answers its
// challenge hears nothing but the challenge, neither chat nor the world.
TEST(NetLoopback, EmptyKeyAndBroadcasts) {
    NetPtr server = make_server("");
    server->send("", "early", "", 1);
    server->loop(0);
    NetPtr local = make_client(port_of(server.get()), "me", "Host", "ffffffffffffffff", true);
    EXPECT_EQ(local->is_local(), 1);
    local->open();
    Raw raw(1);
    raw.connect(port_of(server.get()), NET_VERSION);
    Ep s{server.get(), {}}, l{local.get(), {}};
    ASSERT_TRUE(pump_until({&s, &l}, {&raw}, [&] { return s.count("ping") && raw.count(ENET_EVENT_TYPE_RECEIVE); }));
    EXPECT_EQ(s.types(), (Types{"join", "ping"}));
    EXPECT_EQ(decode(raw.ev.back().payload), std::make_pair(std::string("challenge"), std::string()));

    server->send("", "B", "all", 1);
    server->send("", "A", std::string(4096, '\0'), 0);
    server->send("me", "P", "one", 1);
    ASSERT_TRUE(pump_until({&s, &l}, {&raw}, [&] { return l.count("P") == 1; }));
    settle({&s, &l}, {&raw});
    EXPECT_EQ(l.types(), (Types{"connect", "B", "A", "P"}));
    EXPECT_EQ(raw.count(ENET_EVENT_TYPE_RECEIVE), 1u);
    EXPECT_EQ(decode(raw.ev.back().payload).first, "challenge");

    // A connection that never passed the checks leaves no notice.
    enet_peer_disconnect(raw.all(ENET_EVENT_TYPE_CONNECT)[0]->peer, 0);
    ASSERT_TRUE(pump_until({&s, &l}, {&raw}, [&] { return server->count_peers() == 1; }));
    EXPECT_EQ(s.count("leave"), 0);

    // Nor does one claiming "$", a hosting mod's name for its own host, even
    // where no key is asked.
    NetPtr dollar = make_client(port_of(server.get()), "$", "Cheat", "");
    dollar->open();
    dollar->send("", "hi", "", 1);
    Ep d{dollar.get(), {}};
    ASSERT_TRUE(pump_until({&s, &l, &d}, {}, [&] { return d.count("disconnect") > 0; }));
    EXPECT_EQ(s.count("join"), 1);
    EXPECT_EQ(s.count("hi"), 0);
}

TEST(NetLoopback, NewerConnectionOfAUidWins) {
    NetPtr server = make_server("k");
    const std::string key = mk_token2("k", "u1|Alice");
    NetPtr first = make_client(port_of(server.get()), "u1", "Alice", key);
    NetPtr second = make_client(port_of(server.get()), "u1", "Alice", key);
    first->open();
    Ep s{server.get(), {}}, a{first.get(), {}}, b{second.get(), {}};
    ASSERT_TRUE(pump_until({&s, &a}, {}, [&] { return s.count("ping") == 1; }));
    second->open();
    ASSERT_TRUE(pump_until({&s, &a, &b}, {}, [&] { return a.count("disconnect") && server->count_peers() == 1; }));
    settle({&s, &b}, {});
    EXPECT_EQ(s.types(), (Types{"join", "ping", "rejoin", "ping"}));
    EXPECT_EQ(a.types(), (Types{"connect", "disconnect"}));  // data 0: no error

    server->send("u1", "hi", "", 1);
    ASSERT_TRUE(pump_until({&s, &b}, {}, [&] { return b.count("hi") == 1; }));

    // A third connection replaces the second, which no longer answers: it
    // is given the join wait to go, and dropped for what happened.
    static_cast<NetServer*>(server.get())->join_wait_ms = 300;
    NetPtr third = make_client(port_of(server.get()), "u1", "Alice", key);
    third->open();
    Ep t{third.get(), {}};
    testing::internal::CaptureStdout();
    ASSERT_TRUE(pump_until({&s, &t}, {}, [&] { return s.count("rejoin") == 2; }));
    bool gone = pump_until({&s, &t}, {}, [&] { return server->count_peers() == 1; });
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(gone);
    EXPECT_NE(log.find("did not go when a newer connection of its uid came"), std::string::npos) << log;
    EXPECT_NE(log.find("net: \"u1\" joined again from 127.0.0.1: its older connection from 127.0.0.1 goes\n"),
              std::string::npos) << log;
    EXPECT_EQ(log.find("refused"), std::string::npos) << log;
    third->deinit();
    ASSERT_TRUE(pump_until({&s}, {}, [&] { return s.count("leave") == 1; }));
}

// A packet of type "disconnect", or of a notice only the endpoint makes,
// ends even an admitted connection: a peer never speaks for the endpoint.
TEST(NetLoopback, DisconnectAndNoticeTypesEndAnAdmittedConnection) {
    NetPtr server = make_server("k");
    Ep s{server.get(), {}};
    for (const char* type : {"disconnect", "join", "rejoin", "leave", "connect", "error"}) {
        s.got.clear();
        NetPtr client = make_client(port_of(server.get()), "u1", "Alice", mk_token2("k", "u1|Alice"));
        client->open();
        Ep c{client.get(), {}};
        ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return s.count("join") == 1; })) << type;
        client->send("", type, "", 1);
        client->send("", "after", "", 1);
        ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return c.count("disconnect") && s.count("leave"); })) << type;
        EXPECT_EQ(c.count("error"), 0) << type;
        EXPECT_EQ(s.types(), (Types{"join", "ping", "leave"})) << type;
        // The closed endpoint would never send them: a ping is not even queued.
        client->send("", "P", "1000", 0);
        EXPECT_TRUE(client->outbox.empty());
    }
}

// A client that hears nothing for seconds (a stalled link, a frozen frame)
// and then comes back finds the match going on: neither end gave up on it,
// and what the host sent meanwhile arrives.
TEST(NetLoopback, AStallOfSecondsKeepsTheConnection) {
    NetPtr server = make_server("");
    NetPtr client = make_client(port_of(server.get()), "u1", "Alice", "");
    client->open();
    Ep s{server.get(), {}}, c{client.get(), {}};
    ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return s.count("join") == 1 && c.count("connect") == 1; }));
    // Longer than the 5 s after which ENet let a quick link's connection go.
    auto start = Clock::now();
    int sent = 0;
    while (ms_since(start) < 6500) {
        server->send("u1", "tick", std::to_string(sent++), 1);
        s.pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Even a frame that took the client past its silence limit: what waits
    // unread was heard.
    frozen_at = counted_clock() + 2ull * NET_CLIENT_SILENCE_MS * 1000;
    ASSERT_TRUE(pump_until(
        {&s, &c}, {}, [&] { return c.count("tick") == sent || c.count("disconnect") || s.count("leave"); }));
    frozen_at = 0;
    EXPECT_EQ(c.count("disconnect"), 0);
    EXPECT_EQ(s.count("leave"), 0);
    EXPECT_EQ(c.count("tick"), sent);
}

// A host that goes away is gone for its player: one that stops cleanly at
// once, one killed (it answers nothing more) once it has been silent for the
// limit of game time, however fast or slow the frames come.
TEST(NetLoopback, AHostThatGoesAwayIsGoneForItsPlayer) {
    for (bool killed : {true, false}) {
        NetPtr server = make_server("");
        NetPtr client = make_client(port_of(server.get()), "u1", "Alice", "");
        client->open();
        Ep s{server.get(), {}}, c{client.get(), {}};
        ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return s.count("ping") == 1 && c.count("connect") == 1; }));
        if (killed) {
            // The host is never serviced again; frames of 100 ms of game time.
            frozen_at = counted_clock();
            int frames = 0;
            while (!c.count("disconnect") && frames < 2 * NET_CLIENT_SILENCE_MS / 100) {
                frozen_at += 100 * 1000;
                client->send("", "send", "1 2 50", 1);  // the player keeps dragging
                c.pump();
                frames++;
            }
            frozen_at = 0;
            EXPECT_GE(frames, NET_CLIENT_SILENCE_MS / 100);
            EXPECT_LE(frames, NET_CLIENT_SILENCE_MS / 100 + 5);
        } else {
            server->deinit();
            ASSERT_TRUE(pump_until({&c}, {}, [&] { return c.count("disconnect") == 1; }));
        }
        EXPECT_EQ(c.types(), (Types{"connect", "disconnect"})) << killed;
        EXPECT_EQ(client->opened, 0) << killed;
    }
}

TEST(NetLoopback, HostRefusesOtherVersionsAndMalformedPackets) {
    NetPtr server = make_server("k");
    static_cast<NetServer*>(server.get())->max_per_address = 32;  // all of them dial from 127.0.0.1
    Ep s{server.get(), {}};
    Raw old(1), shorty(1), anon(1), fuzz(16);
    old.connect(port_of(server.get()), 13);
    ENetPeer* p1 = shorty.connect(port_of(server.get()), NET_VERSION);
    ENetPeer* p2 = anon.connect(port_of(server.get()), NET_VERSION);
    std::vector<ENetPeer*> conns;
    for (int i = 0; i < 16; i++) conns.push_back(fuzz.connect(port_of(server.get()), NET_VERSION));
    std::vector<Raw*> raws{&old, &shorty, &anon, &fuzz};
    ASSERT_TRUE(pump_until({&s}, raws, [&] {
        return old.count(ENET_EVENT_TYPE_DISCONNECT) && shorty.count(ENET_EVENT_TYPE_RECEIVE) &&
               anon.count(ENET_EVENT_TYPE_RECEIVE) && fuzz.count(ENET_EVENT_TYPE_RECEIVE) == 16;
    }));
    EXPECT_EQ(old.ev.back().data, 12u);
    EXPECT_EQ(old.count(ENET_EVENT_TYPE_RECEIVE), 0u);  // no challenge for it

    shorty.send(p1, net_pack("short"));
    anon.send(p2, net_pack(std::string(64, '\0') + "x"));
    std::mt19937 rng(77);
    for (size_t i = 0; i < conns.size(); i++) {
        for (int k = 0; k < 4; k++) {
            std::string junk(1 + rng() % 300, '\0');
            for (auto& ch : junk) ch = static_cast<char>(rng() % (i & 1 ? 4 : 256));
            // Odd connections send validly packed bytes, which reach the header checks.
            fuzz.send(conns[i], i & 1 ? net_pack(junk + std::string(64, 'a')) : junk);
        }
    }
    ASSERT_TRUE(pump_until({&s}, raws, [&] { return server->count_peers() == 0; }));
    for (Raw* r : {&shorty, &anon, &fuzz})
        for (const auto* e : r->all(ENET_EVENT_TYPE_DISCONNECT)) EXPECT_EQ(e->data, 12u);
    EXPECT_EQ(fuzz.count(ENET_EVENT_TYPE_DISCONNECT), 16u);
    EXPECT_TRUE(s.got.empty());
}

TEST(NetLoopback, ClientReportsIncompatibleServer) {
    Raw old(4, true);
    old.refuse_with = 11;
    NetPtr client = make_client(old.host->address.port, "u", "U", "");
    client->send("", "opts", "", 1);
    client->open();
    Ep c{client.get(), {}};
    ASSERT_TRUE(pump_until({&c}, {&old}, [&] { return c.count("disconnect") == 1; }));
    EXPECT_EQ(c.types(), (Types{"error", "disconnect"}));
    EXPECT_EQ(c.got[0].value, "incompatible server v11 (you have v12)");
    EXPECT_EQ(client->enet_host, nullptr);
    EXPECT_EQ(old.count(ENET_EVENT_TYPE_RECEIVE), 0u);  // never admitted, nothing sent
}

TEST(NetLoopback, ClientDropsMalformedHostPackets) {
    Raw fake(1, true);
    NetPtr client = make_client(fake.host->address.port, "u", "U", "");
    client->open();
    Ep c{client.get(), {}};
    ASSERT_TRUE(pump_until({&c}, {&fake}, [&] { return fake.count(ENET_EVENT_TYPE_CONNECT) == 1; }));
    ENetPeer* peer = fake.ev[0].peer;
    EXPECT_EQ(fake.ev[0].data, 12u);
    NetMessage ch, ok;
    ch.type = "challenge";
    ch.value = "42";
    ok.type = "R";
    ok.value = std::string(5, '\0');
    std::mt19937 rng(3);
    std::string noise(1 << 20, '\0');  // 1 MiB: cut at 64 KiB when unpacked, so dropped
    for (auto& b : noise) b = static_cast<char>(rng());
    for (const std::string& p :
         {net_pack(std::string(63, '\0')), std::string("\x7f\x01", 2), noise, net_build(ch), net_build(ok)})
        fake.send(peer, p);
    ASSERT_TRUE(pump_until({&c}, {&fake}, [&] { return c.count("R") && fake.count(ENET_EVENT_TYPE_RECEIVE); }));
    EXPECT_EQ(c.types(), (Types{"connect", "R"}));
    EXPECT_EQ(c.got[1].value, ok.value);

    // The answer's header: uid, name, empty token (no key), "ping".
    std::string expect(64, '\0');
    expect.replace(0, 1, "u").replace(16, 1, "U").replace(48, 4, "ping");
    EXPECT_EQ(net_unpack(fake.all(ENET_EVENT_TYPE_RECEIVE)[0]->payload), expect);
}

// A host's packets of a kilobyte that unpack to 64 KiB each wait in ENet once
// the unread ones in the inbox reach their bound in bytes; none is lost.
TEST(NetLoopback, ClientInboxIsBoundedInBytes) {
    Raw fake(1, true);
    NetPtr client = make_client(fake.host->address.port, "u", "U", "");
    NetClient* nc = static_cast<NetClient*>(client.get());
    nc->max_inbox_bytes = 1u << 20;
    client->open();
    Ep c{client.get(), {}};
    ASSERT_TRUE(pump_until({&c}, {&fake}, [&] { return fake.count(ENET_EVENT_TYPE_CONNECT) == 1; }));
    ENetPeer* peer = fake.ev[0].peer;
    NetMessage ch, big;
    ch.type = "challenge";
    big.type = "html";
    big.value = std::string(65536 - 64, 'x');
    fake.send(peer, net_build(ch));
    const std::string p = net_build(big);
    ASSERT_LT(p.size(), 1100u);
    const int sent = 100;
    for (int i = 0; i < sent; i++)
        enet_peer_send(peer, 0, enet_packet_create(p.data(), p.size(), ENET_PACKET_FLAG_RELIABLE));
    enet_host_flush(fake.host);
    size_t most = 0;
    auto unread = [&] {
        size_t bytes = 0;
        for (const NetMessage& m : client->inbox) bytes += m.value.size();
        return bytes;
    };
    // Looped but never read: what waits stops at the bound.
    for (int i = 0; i < 300; i++) {
        fake.service();
        client->loop(1);
        most = std::max(most, unread());
    }
    EXPECT_GT(most, 0u);
    EXPECT_LT(most, nc->max_inbox_bytes + big.value.size());
    // Read as the game does, the rest comes, every message whole.
    ASSERT_TRUE(pump_until({&c}, {&fake}, [&] { return c.count("html") == sent; }, 8000));
    for (const NetMessage& m : c.got) {
        if (m.type != "html") continue;
        EXPECT_EQ(m.value, big.value);
    }
}

TEST(NetServerLife, DeinitWithoutPeersIsImmediateAndIdempotent) {
    NetPtr server = make_server("");
    EXPECT_FALSE(waits_for_answers([&] { server->deinit(); }));
    EXPECT_EQ(server->enet_host, nullptr);
    server->deinit();
    server->loop(0);
    EXPECT_EQ(server->opened, 0);
}

TEST(NetServerLife, PortInUseLeavesTheSecondServerClosed) {
    NetPtr server = make_server("");
    int port = port_of(server.get());
    NetServer other;
    other.init("", port, "server", "Server", "");
    other.open();
    EXPECT_EQ(other.opened, 0);
    EXPECT_EQ(other.enet_host, nullptr);
    EXPECT_EQ(server->opened, 1);
}

// ---- Crafted packets from a bare ENet peer ------------------------------------

namespace {

// A packed client packet; token may be longer than the field to fill all 16 bytes.
std::string client_packet(const std::string& uid, const std::string& name, const std::string& token,
                          const std::string& type, const std::string& value) {
    std::string raw(64, '\0');
    raw.replace(0, std::min<size_t>(uid.size(), 15), uid.substr(0, 15));
    raw.replace(16, std::min<size_t>(name.size(), 15), name.substr(0, 15));
    raw.replace(32, std::min<size_t>(token.size(), 16), token.substr(0, 16));
    raw.replace(48, std::min<size_t>(type.size(), 15), type.substr(0, 15));
    return net_pack(raw + value);
}

// One bare connection to a host: connects, waits for the challenge.
struct Caller {
    Raw raw{1};
    ENetPeer* peer = nullptr;
    std::string challenge;
    void dial(int port) { peer = raw.connect(port, NET_VERSION); }
    bool heard = false;
    bool challenged() {
        if (!heard && raw.count(ENET_EVENT_TYPE_RECEIVE)) {
            auto [type, value] = decode(raw.all(ENET_EVENT_TYPE_RECEIVE)[0]->payload);
            EXPECT_EQ(type, "challenge");
            challenge = value;
            heard = true;
        }
        return heard;
    }
    const Raw::Ev* refusal() const {
        auto d = raw.all(ENET_EVENT_TYPE_DISCONNECT);
        return d.empty() ? nullptr : d[0];
    }
};

// Dials n callers to the host; true once every one holds its challenge.
bool dial_callers(Ep& s, int port, size_t n, std::vector<std::unique_ptr<Caller>>& callers,
                  std::vector<Raw*>& raws) {
    for (size_t i = 0; i < n; i++) {
        callers.push_back(std::make_unique<Caller>());
        callers.back()->dial(port);
        raws.push_back(&callers.back()->raw);
    }
    return pump_until({&s}, raws, [&] {
        for (auto& c : callers)
            if (!c->challenged()) return false;
        return true;
    });
}

}  // namespace

// Every token variant is checked against the exact 15 characters the host expects.
TEST(NetRawPeer, TokensAreCheckedExactly) {
    NetPtr server = make_server("k");
    Ep s{server.get(), {}};
    struct Case {
        std::string what;
        std::function<std::string(const std::string& uid, const std::string& challenge)> token;
        bool admitted;
    };
    auto good = [](const std::string& uid, const std::string& ch) {
        return std::string(mk_token3("k", (uid + "|N").c_str(), ch.c_str()));
    };
    const std::vector<Case> cases = {
        {"right", good, true},
        {"right, 16th byte set", [&](auto& u, auto& c) { return good(u, c) + "Z"; }, true},
        {"upper case", [&](auto& u, auto& c) {
             std::string t = good(u, c);
             for (auto& ch : t) ch = static_cast<char>(toupper(ch));
             return t == good(u, c) ? std::string("0") : t;
         }, false},
        {"other challenge", [](auto& u, auto& c) { return std::string(mk_token3("k", (u + "|N").c_str(), (c + "1").c_str())); }, false},
        {"other name", [](auto& u, auto& c) { return std::string(mk_token3("k", (u + "|M").c_str(), c.c_str())); }, false},
        {"other key", [](auto& u, auto& c) { return std::string(mk_token3("j", (u + "|N").c_str(), c.c_str())); }, false},
        {"only 14 right", [&](auto& u, auto& c) { return good(u, c).substr(0, 14); }, false},
        {"empty", [](auto&, auto&) { return std::string(); }, false},
    };
    std::vector<std::unique_ptr<Caller>> callers;
    std::vector<Raw*> raws;
    ASSERT_TRUE(dial_callers(s, port_of(server.get()), cases.size(), callers, raws));
    for (size_t i = 0; i < cases.size(); i++) {
        const std::string uid = "r" + std::to_string(i);
        Caller& c = *callers[i];
        ASSERT_FALSE(c.challenge.empty());
        c.raw.send(c.peer, client_packet(uid, "N", cases[i].token(uid, c.challenge), "hi", cases[i].what));
    }
    ASSERT_TRUE(pump_until({&s}, raws, [&] { return server->count_peers() == 2 && s.got.size() == 4; }));
    settle({&s}, raws);
    EXPECT_EQ(s.types(), (Types{"join", "hi", "join", "hi"}));
    EXPECT_EQ(s.got[1].value, "right");
    EXPECT_EQ(s.got[3].value, "right, 16th byte set");
    for (size_t i = 0; i < cases.size(); i++) {
        const Raw::Ev* gone = callers[i]->refusal();
        EXPECT_EQ(gone != nullptr, !cases[i].admitted) << cases[i].what;
        if (gone) {
            EXPECT_EQ(gone->data, 12u) << cases[i].what;
        }
    }
}

// A packet that follows a refused one in the same datagram must not get
// through, even when it carries the right token.
TEST(NetRawPeer, PacketsAfterARefusalAreIgnored) {
    NetPtr server = make_server("k");
    Ep s{server.get(), {}};
    Caller c;
    c.dial(port_of(server.get()));
    ASSERT_TRUE(pump_until({&s}, {&c.raw}, [&] { return c.challenged(); }));
    const std::string right = mk_token3("k", "r1|N", c.challenge.c_str());
    for (const std::string& token : {std::string("000000000000000"), right}) {
        std::string p = client_packet("r1", "N", token, "hi", "");
        enet_peer_send(c.peer, 0, enet_packet_create(p.data(), p.size(), ENET_PACKET_FLAG_RELIABLE));
    }
    enet_host_flush(c.raw.host);
    ASSERT_TRUE(pump_until({&s}, {&c.raw}, [&] { return c.refusal() != nullptr; }));
    settle({&s}, {&c.raw});
    EXPECT_EQ(c.refusal()->data, 12u);
    EXPECT_TRUE(s.got.empty());
    EXPECT_EQ(server->count_peers(), 0);
}

// A stranger who claims a player's uid with a bad token is refused, and its
// record, still waiting for ENet's disconnect, does not count for that uid:
// the player's departure gives "leave" and a return gives "join".
TEST(NetRawPeer, RefusedStrangerDoesNotCountForTheUid) {
    NetPtr server = make_server("k");
    Ep s{server.get(), {}};
    const std::string key = mk_token2("k", "u1|Alice");
    NetPtr victim = make_client(port_of(server.get()), "u1", "Alice", key);
    victim->open();
    Ep v{victim.get(), {}};
    ASSERT_TRUE(pump_until({&s, &v}, {}, [&] { return s.count("ping") == 1; }));

    Caller stranger;
    stranger.dial(port_of(server.get()));
    ASSERT_TRUE(pump_until({&s, &v}, {&stranger.raw}, [&] { return stranger.challenged(); }));
    stranger.raw.send(stranger.peer, client_packet("u1", "Alice", "0123456789abcde", "send", "1 2 3 4 5"));
    // The stranger stops answering, so its record stays until ENet gives up.
    ASSERT_TRUE(pump_until({&s, &v}, {}, [&] {
        for (const NetPeer* p : server->peers)
            if (!p->active) return true;
        return false;
    }));
    EXPECT_EQ(server->count_peers(), 2);
    EXPECT_EQ(_count_uid(static_cast<NetServer*>(server.get()), "u1"), 1);
    EXPECT_EQ(server->get_name("u1"), "Alice");

    victim->deinit();
    ASSERT_TRUE(pump_until({&s}, {}, [&] { return s.count("leave") == 1; }));
    EXPECT_EQ(server->count_peers(), 1);  // the stranger's record is still there
    EXPECT_EQ(s.types(), (Types{"join", "ping", "leave"}));
    EXPECT_EQ(s.got.back().uid, "u1");

    NetPtr back = make_client(port_of(server.get()), "u1", "Alice", key);
    back->open();
    Ep b{back.get(), {}};
    ASSERT_TRUE(pump_until({&s, &b}, {}, [&] { return s.count("ping") == 2; }));
    EXPECT_EQ(s.types(), (Types{"join", "ping", "leave", "join", "ping"}));
}

// One socket dialling every slot of a keyed host, then keeping silent:
// beyond a few connections from its address it is turned away at once, the
// connections it holds are dropped when they have not joined in time, and
// a player from another address gets in all along.
TEST(NetRawPeer, OneAddressCannotTakeEverySlot) {
    NetPtr server = make_server("k");
    NetServer* host = static_cast<NetServer*>(server.get());
    host->join_wait_ms = 1000;
    Ep s{server.get(), {}};
    Raw flood(256, true, "127.0.0.2");
    for (int i = 0; i < 256; i++) flood.connect(port_of(server.get()), NET_VERSION);
    auto from_flood = [&] {
        int n = 0;
        for (const NetPeer* p : server->peers) n += p->peer->address.host == flood.host->address.host;
        return n;
    };
    int most = 0;
    // Within one second of the game clock the refusals make one log line.
    testing::internal::CaptureStdout();
    frozen_at = counted_clock();
    pump_until({&s}, {&flood}, [&] {
        most = std::max(most, from_flood());
        return false;
    }, 500);
    frozen_at = 0;
    std::string refusals = testing::internal::GetCapturedStdout();
    size_t lines = 0;
    for (size_t at = 0; (at = refusals.find("net: refused a connection from 127.0.0.2", at)) != std::string::npos; at++)
        lines++;
    EXPECT_EQ(lines, 1u) << refusals;
    testing::internal::CaptureStdout();

    // The flood keeps silent from now on; a player dials from 127.0.0.1.
    NetPtr player = make_client(port_of(server.get()), "u1", "Alice", mk_token2("k", "u1|Alice"));
    player->open();
    Ep c{player.get(), {}};
    bool joined = pump_until({&s, &c}, {}, [&] { return s.count("join") == 1; });
    bool flood_gone = pump_until({&s, &c}, {}, [&] { return from_flood() == 0; });
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_LE(most, host->max_per_address);
    EXPECT_TRUE(joined) << "the player was locked out";
    EXPECT_TRUE(flood_gone);
    EXPECT_EQ(server->count_peers(), 1);
    EXPECT_EQ(s.count("leave"), 0);
    EXPECT_NE(log.find("did not join in time"), std::string::npos);
}

// The bound on what waits for a peer's acknowledgement holds within one
// loop: messages queued for it between two loops (answers to a burst of its
// requests) go out only while they fit, and once one would not, the peer is
// dropped at the end of that loop with whatever it sent that still waits in
// the inbox, so nothing it asked for is answered after.
TEST(NetRawPeer, OneLoopCannotQueuePastTheBacklogBound) {
    NetPtr server = make_server("");
    NetServer* host = static_cast<NetServer*>(server.get());
    host->max_unacked = 20000;
    Ep s{server.get(), {}};
    Caller c;
    c.dial(port_of(server.get()));
    ASSERT_TRUE(pump_until({&s}, {&c.raw}, [&] { return c.challenged(); }));
    c.raw.send(c.peer, client_packet("u1", "N", "", "hi", ""));
    ASSERT_TRUE(pump_until({&s}, {&c.raw}, [&] { return s.count("hi") == 1; }));

    // The peer services nothing from now on, so nothing sent to it is
    // acknowledged; what it sends still arrives.
    std::mt19937 rng(5);
    for (int i = 0; i < 40; i++) {
        std::string noise(1000, '\0');
        for (auto& ch : noise) ch = static_cast<char>(rng());
        server->send("u1", "big", noise, 1);
    }
    for (int i = 0; i < 20; i++) {
        std::string p = client_packet("u1", "N", "", "P", std::to_string(i));
        enet_peer_send(c.peer, 0, enet_packet_create(p.data(), p.size(), ENET_PACKET_FLAG_RELIABLE));
    }
    enet_host_flush(c.raw.host);
    testing::internal::CaptureStdout();
    s.pump();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(server->count_peers(), 0);
    EXPECT_EQ(s.types(), (Types{"join", "hi", "leave"}));
    const std::string said = "net: dropping connection \"u1\" from 127.0.0.1: ";
    size_t at = log.find(said);
    ASSERT_NE(at, std::string::npos) << log;
    size_t waiting = std::stoul(log.substr(at + said.size()));
    EXPECT_GT(waiting, host->max_unacked);
    EXPECT_LE(waiting, host->max_unacked + 1200) << "more than one message past the bound was queued";
}

// A host and one player ("u2", Bob) on it: the bystander of a flood.
class NetFlood : public testing::Test {
protected:
    NetPtr server = make_server("");
    NetServer* host = static_cast<NetServer*>(server.get());
    Ep s{server.get(), {}};
    NetPtr player = make_client(port_of(server.get()), "u2", "Bob", "");
    Ep b{player.get(), {}};
    void SetUp() override { player->open(); }

    // A bare connection joins as "u1" and sends `count` copies of `packet`
    // on a stopped clock, the host looking every `every` of them; true once
    // the host dropped it. The log of the flood goes to *log.
    bool flood_with(const std::string& packet, int count, int every, std::string* log) {
        Caller c;
        c.dial(port_of(server.get()));
        EXPECT_TRUE(pump_until({&s, &b}, {&c.raw}, [&] { return c.challenged() && s.count("join") == 1; }));
        frozen_at = counted_clock();
        testing::internal::CaptureStdout();
        for (int i = 0; i < count; i++) {
            enet_peer_send(c.peer, 0, enet_packet_create(packet.data(), packet.size(), ENET_PACKET_FLAG_RELIABLE));
            if (i % every == every - 1) {
                enet_host_flush(c.raw.host);
                s.pump();
            }
        }
        enet_host_flush(c.raw.host);
        bool gone = pump_until({&s, &b}, {&c.raw}, [&] { return s.count("leave") == 1; });
        *log = testing::internal::GetCapturedStdout();
        frozen_at = 0;
        return gone;
    }

    // The log says the flooding connection "u1" from `from` went for sending
    // more than `what`.
    static void expect_dropped(const std::string& log, const std::string& from, const std::string& what) {
        EXPECT_NE(log.find("net: dropping connection \"u1\" from " + from + ": sent more than " + what),
                  std::string::npos)
            << log.substr(0, 2000);
    }
    // The log says a connection from `from` was then turned away.
    static void expect_turned_away(const std::string& log, const std::string& from) {
        EXPECT_NE(log.find("net: refused a connection from " + from + ": a connection from there flooded the host lately"),
                  std::string::npos);
    }

    // The other player is still served.
    void expect_bob_served() {
        server->send("u2", "after", "", 1);
        EXPECT_TRUE(pump_until({&s, &b}, {}, [&] { return b.count("after") == 1; }));
        EXPECT_EQ(server->count_peers(), 1);
    }
};

// A connection that sends more messages in one second than any player's
// commands make is dropped at the one past the bound, with what it sent that
// still waits, and the host goes on serving the others. (The game clock
// stands still, so the whole flood falls into one second however slow the
// machine.)
TEST_F(NetFlood, AFloodOfMessagesIsDroppedAndTheOthersPlayOn) {
    std::string log;
    bool gone = flood_with(client_packet("u1", "N", "", "zz", ""), host->max_per_second + 500, 500, &log);
    EXPECT_TRUE(gone) << "the flooding connection stayed";
    EXPECT_LE(s.count("zz"), host->max_per_second);
    expect_dropped(log, "127.0.0.1", std::to_string(host->max_per_second) + " messages in one second");
    expect_bob_served();
}

// Well within the message and datagram budgets, a connection whose packets of
// a kilobyte each unpack to 64 KiB is dropped once its bytes pass their own
// budget, and the host goes on serving the others.
TEST_F(NetFlood, AFloodOfBigMessagesIsDropped) {
    const std::string p = client_packet("u1", "N", "", "zz", std::string(65536 - 64, 'x'));
    ASSERT_LT(p.size(), 1100u);
    const int flood = host->max_bytes_per_ten_seconds / 65536 + 50;
    ASSERT_LT(flood, host->max_datagrams_per_second);
    std::string log;
    bool gone = flood_with(p, flood, 50, &log);
    EXPECT_TRUE(gone) << "the flooding connection stayed";
    EXPECT_LE(s.count("zz"), host->max_bytes_per_ten_seconds / 65536);
    expect_dropped(log, "127.0.0.1", std::to_string(host->max_bytes_per_ten_seconds) + " bytes in ten seconds");
    expect_bob_served();
}

// Every admission makes the host resend the whole world: an address whose
// connections join, go and join again is turned away once it passes its
// budget of admissions, while a player from elsewhere plays on.
TEST_F(NetFlood, JoinChurnFromOneAddressIsTurnedAway) {
    frozen_at = counted_clock();
    Raw churn(1, true, "127.0.0.2");
    const int rounds = host->max_joins_per_ten_seconds + 3;
    testing::internal::CaptureStdout();
    for (int i = 0; i < rounds; i++) {
        size_t heard = churn.count(ENET_EVENT_TYPE_RECEIVE);
        ENetPeer* cp = churn.connect(port_of(server.get()), NET_VERSION);
        // A turned-away dial hears nothing at all: only it waits the time out.
        if (!pump_until({&s, &b}, {&churn}, [&] { return churn.count(ENET_EVENT_TYPE_RECEIVE) > heard; }, 10000))
            break;  // no challenge: turned away
        churn.send(cp, client_packet("c" + std::to_string(i), "N", "", "hi", ""));
        pump_until({&s, &b}, {&churn}, [&] { return s.count("hi") == i + 1 || server->count_peers() == 1; });
        enet_peer_disconnect_now(cp, 0);
        enet_host_flush(churn.host);
        pump_until({&s, &b}, {&churn}, [&] { return server->count_peers() == 1; });
    }
    std::string log = testing::internal::GetCapturedStdout();
    frozen_at = 0;
    EXPECT_EQ(s.count("join"), host->max_joins_per_ten_seconds + 1);  // Bob's, then the churn's
    EXPECT_NE(log.find("from 127.0.0.2: joined more than " + std::to_string(host->max_joins_per_ten_seconds) +
                       " times in ten seconds"),
              std::string::npos)
        << log.substr(0, 2000);
    expect_turned_away(log, "127.0.0.2");
    expect_bob_served();
}

// A connection that sends datagram after datagram, each far below the message
// budget, is dropped once it passes the datagram budget, before ENet decodes
// the rest, while a player already connected from elsewhere plays on at a
// player's pace. Its address may dial again at once: a rate says nothing of
// who sent it. (The game clock stands still: the flood falls into one second.)
TEST_F(NetFlood, AFloodOfDatagramsIsDroppedAndItsAddressMayDialAgain) {
    Raw flood(1, true, "127.0.0.2");
    ENetPeer* fp = flood.connect(port_of(server.get()), NET_VERSION);
    ASSERT_TRUE(pump_until({&s, &b}, {&flood}, [&] {
        return flood.count(ENET_EVENT_TYPE_RECEIVE) == 1 && s.count("join") == 1;
    }));
    flood.send(fp, client_packet("u1", "N", "", "hi", ""));
    ASSERT_TRUE(pump_until({&s, &b}, {&flood}, [&] { return s.count("hi") == 1; }));

    frozen_at = counted_clock();
    const std::string p = client_packet("u1", "N", "", "zz", "");
    const int datagrams = host->max_datagrams_per_second + 200;
    ASSERT_LT(datagrams, host->max_per_second);
    testing::internal::CaptureStdout();
    int pace = 0;
    for (int i = 0; i < datagrams; i++) {
        flood.send(fp, p);  // one packet, flushed: a datagram of its own
        if (i % 100 == 99) {
            player->send("", "move", std::to_string(pace++), 1);
            s.pump();
            b.pump();
            flood.service();  // the acknowledgements: its window stays open, one packet a datagram
        }
    }
    bool gone = pump_until({&s, &b}, {&flood}, [&] { return s.count("leave") == 1; });
    // The flood dials again from its address; the player's own messages all came.
    Raw again(1, true, "127.0.0.2");
    ENetPeer* ap = again.connect(port_of(server.get()), NET_VERSION);
    pump_until({&s, &b}, {&again, &flood}, [&] { return again.count(ENET_EVENT_TYPE_RECEIVE) == 1; });
    std::string log = testing::internal::GetCapturedStdout();
    frozen_at = 0;
    EXPECT_TRUE(gone) << "the flooding connection stayed";
    EXPECT_LT(s.count("zz"), host->max_datagrams_per_second + 1);
    expect_dropped(log, "127.0.0.2", std::to_string(host->max_datagrams_per_second) + " datagrams in one second");
    EXPECT_EQ(again.count(ENET_EVENT_TYPE_RECEIVE), 1u) << "the flood's address was turned away";
    EXPECT_EQ(log.find("flooded the host lately"), std::string::npos);
    EXPECT_EQ(s.count("move"), pace);
    enet_peer_disconnect_now(ap, 0);
    enet_host_flush(again.host);
    expect_bob_served();
}

// Datagrams forged with a player's own address and port, naming the
// player's connection under every session, hold nothing that ENet would take
// from it (no command, a compressed nothing, a packet for a channel it does
// not have). However many come, they cost the player nothing: no drop, and
// its address is not turned away.
TEST_F(NetFlood, ForgedDatagramsInAPlayersNameCostItNothing) {
    ASSERT_TRUE(pump_until({&s, &b}, {}, [&] { return s.count("join") == 1; }));
    ASSERT_EQ(host->peers.size(), 1u);
    const uint16_t id = host->peers[0]->peer->incomingPeerID;
    auto header = [&](int session, uint16_t flags) {
        uint16_t field = ENET_HOST_TO_NET_16(static_cast<uint16_t>(id | (session << ENET_PROTOCOL_HEADER_SESSION_SHIFT) |
                                                                  ENET_PROTOCOL_HEADER_FLAG_SENT_TIME | flags));
        std::string h(4, '\0');
        memcpy(h.data(), &field, 2);
        return h;
    };
    // A compressed run of zero bytes: decoded, still no command.
    std::string zeros(64, '\0');
    std::string squeezed(256, '\0');
    ENetBuffer in{zeros.data(), zeros.size()};
    void* coder = enet_range_coder_create();
    size_t n = enet_range_coder_compress(coder, &in, 1, zeros.size(), reinterpret_cast<enet_uint8*>(squeezed.data()),
                                         squeezed.size());
    enet_range_coder_destroy(coder);
    ASSERT_GT(n, 0u);
    squeezed.resize(n);
    // A reliable packet for channel 3 of a connection of one channel.
    std::string stray(6, '\0');
    stray[0] = static_cast<char>(static_cast<int>(ENET_PROTOCOL_COMMAND_SEND_RELIABLE) |
                                 static_cast<int>(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE));
    stray[1] = 3;
    ENetAddress to;
    enet_address_set_host(&to, "127.0.0.1");
    to.port = static_cast<enet_uint16>(port_of(server.get()));

    frozen_at = counted_clock();
    const int forged = host->max_datagrams_per_second + 1000;
    testing::internal::CaptureStdout();
    for (int i = 0; i < forged; i++) {
        int session = i % 4;
        std::string d;
        switch (i / 4 % 3) {
            case 0: d = header(session, 0) + std::string(8, '\0'); break;
            case 1: d = header(session, ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) + squeezed; break;
            default: d = header(session, 0) + stray; break;
        }
        ENetBuffer buf{d.data(), d.size()};
        if (!player->enet_host) break;  // the player was dropped, and its endpoint closed
        enet_socket_send(player->enet_host->socket, &to, &buf, 1);
        if (i % 100 == 99) {
            s.pump();
            b.pump();
        }
    }
    settle({&s, &b}, {});
    // Another connection from the player's address is answered.
    Raw again(1);
    again.connect(port_of(server.get()), NET_VERSION);
    pump_until({&s, &b}, {&again}, [&] { return again.count(ENET_EVENT_TYPE_RECEIVE) == 1; });
    std::string log = testing::internal::GetCapturedStdout();
    frozen_at = 0;
    EXPECT_EQ(log.find("dropping connection"), std::string::npos) << log.substr(0, 2000);
    EXPECT_EQ(s.count("leave"), 0);
    EXPECT_EQ(again.count(ENET_EVENT_TYPE_RECEIVE), 1u) << "the player's address was turned away";
    server->send("u2", "after", "", 1);
    EXPECT_TRUE(pump_until({&s, &b}, {}, [&] { return b.count("after") == 1; }));
}

// Hand-made run-length streams and oversized packets against a host without a
// key: only the stream that unpacks whole into a header and value is accepted.
TEST(NetRawPeer, HostileRunLengthCodesAndHugePackets) {
    NetPtr server = make_server("");
    Ep s{server.get(), {}};
    const std::string value("\0v\0\0\0", 5);
    const std::string good = net_unpack(client_packet("ok", "N", "", "hi", value));
    std::mt19937 rng(9);
    std::string noise(1 << 20, '\0');
    for (auto& ch : noise) ch = static_cast<char>(rng());
    std::string zero_runs;
    for (int i = 0; i < 600; i++) zero_runs += std::string("\xff\0", 2);  // 76200 bytes unpacked
    // The last block claims more bytes than follow.
    const std::string lying_literal = net_pack(good) + "\x7f" + "ab";

    // Skip codes (0, and 128 with any byte) between the blocks are harmless.
    const std::string skipped = std::string("\0\x80\x55", 3) + net_pack(good.substr(0, 40)) +
                                std::string("\0\0\x80\x80", 4) + net_pack(good.substr(40)) + std::string(1, '\0');
    const std::vector<std::pair<std::string, std::string>> packets = {
        {"skip codes", skipped},
        {"63 bytes", net_pack(good.substr(0, 63))},
        {"literal past the end", lying_literal},
        {"run without its byte", net_pack(good) + "\x85"},
        {"unpacks past 64 KiB", net_pack(good) + zero_runs},
        {"1 MiB of noise", noise},
        {"1 MiB of empty blocks", std::string(1 << 20, '\0')},
        {"1 MiB of runs", std::string(1 << 20, '\xff')},
    };
    std::vector<std::unique_ptr<Caller>> callers;
    std::vector<Raw*> raws;
    ASSERT_TRUE(dial_callers(s, port_of(server.get()), packets.size(), callers, raws));
    for (size_t i = 0; i < packets.size(); i++) callers[i]->raw.send(callers[i]->peer, packets[i].second);
    ASSERT_TRUE(pump_until({&s}, raws, [&] { return server->count_peers() == 1 && s.got.size() == 2; }, 8000));
    settle({&s}, raws);
    EXPECT_EQ(s.types(), (Types{"join", "hi"}));
    EXPECT_EQ(s.got[1].uid, "ok");
    EXPECT_EQ(s.got[1].value, value);
    EXPECT_EQ(callers[0]->refusal(), nullptr);
    for (size_t i = 1; i < packets.size(); i++) {
        ASSERT_NE(callers[i]->refusal(), nullptr) << packets[i].first;
        EXPECT_EQ(callers[i]->refusal()->data, 12u) << packets[i].first;
    }
}

// ---- Opening, closing and keys ---------------------------------------------------

TEST(NetServerLife, OpenCheckedReportsWhatOpenWouldExitOn) {
    NetPtr server = make_server("");
    NetServer other;
    other.init("", port_of(server.get()), "server", "Server", "");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(other.open_checked());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("An error occurred while trying to create an ENet server host. (1)\n"), std::string::npos);
    EXPECT_EQ(other.opened, 0);
    EXPECT_EQ(other.enet_host, nullptr);
    other.loop(0);  // still closed: nothing happens
    other.deinit();

    // A port past 16 bits is refused, not wrapped onto another port.
    NetServer wide;
    wide.init("", 65536 + port_of(server.get()), "server", "Server", "");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(wide.open_checked());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("is not a port number"), std::string::npos);
    EXPECT_EQ(wide.enet_host, nullptr);

    // A client whose host name does not resolve reports it as a lost connection.
    NetClient lost;
    lost.init("", 5, "u", "U", "");
    EXPECT_FALSE(lost.open_checked());
    NetMessage m;
    ASSERT_EQ(lost.poll(&m), 1);
    EXPECT_EQ(m.type, "disconnect");
    EXPECT_EQ(lost.opened, 0);
}

// The host turns away every join with a key too long for the token text, and
// says so once when it opens.
TEST(NetServerLife, JoinKeyLengthLimit) {
    for (size_t len : {223u, 224u}) {
        const std::string key(len, 'k');
        testing::internal::CaptureStdout();
        NetPtr server = make_server(key);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.find("join key of 224 characters is longer than 223") != std::string::npos, len == 224);

        NetPtr client = make_client(port_of(server.get()), "abcdefghijklmno", "ABCDEFGHIJKLMNO",
                                    mk_token2(key.c_str(), "abcdefghijklmno|ABCDEFGHIJKLMNO"));
        client->open();
        Ep s{server.get(), {}}, c{client.get(), {}};
        ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return s.count("join") || c.count("disconnect"); })) << len;
        EXPECT_EQ(s.count("join"), len == 223 ? 1 : 0);
    }
}

// Deleting an open endpoint closes it: the host hears the client leave, and
// the host's port is free again.
TEST(NetServerLife, DestructorClosesAnOpenEndpoint) {
    NetServer* server = new NetServer();
    server->init("", 0, "server", "Server", "");
    ASSERT_TRUE(server->open_checked());
    const int port = port_of(server);
    NetClient* client = new NetClient();
    client->init("127.0.0.1", port, "u1", "A", "");
    client->open();
    Ep s{server, {}}, c{client, {}};
    ASSERT_TRUE(pump_until({&s, &c}, {}, [&] { return s.count("ping") == 1; }));
    delete client;
    ASSERT_TRUE(pump_until({&s}, {}, [&] { return s.count("leave") == 1; }));
    delete server;

    NetServer again;
    again.init("", port, "server", "Server", "");
    EXPECT_TRUE(again.open_checked());
}

// Closing waits only for connections that can still answer.
TEST(NetServerLife, DeinitDoesNotWaitForDeadConnections) {
    int dead_port;
    {
        Raw gone(1, true);
        dead_port = gone.host->address.port;
    }
    NetPtr client = make_client(dead_port, "u", "U", "");
    client->open();
    client->loop(0);
    EXPECT_FALSE(waits_for_answers([&] { client->deinit(); }));
    EXPECT_EQ(client->opened, 0);
    client->deinit();  // a second one does nothing
    EXPECT_EQ(client->count_peers(), 0);
}
