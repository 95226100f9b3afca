// The web API client against a scripted HTTP server on 127.0.0.1: what the
// requests carry, which replies are taken, the login answer, ranks, document
// sync in a temporary HOME, and the "api:" events a running Lua mod receives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/builds_app.h"  // builds_store_url
#include "app/game.h"
#include "app/game_net.h"     // game_net_identity
#include "web/game_web.h"
#include "mods/mods_api.h"
#include "net/net.h"  // net_uid
#include "shell/game_settings_io.h"  // game_account_id
#include "ruvezor/util/qel_base64.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_web.h"
#include "z2_fake_web.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"
#include "mods/z2_mods_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using z2test::slurp;
using z2test::spit;
using z2test::stdout_of;

using z2test::FakeWeb;
std::string reply(const std::string& headers, const std::string& body = "") { return FakeWeb::reply(headers, body); }
std::string ok(const std::string& type, const std::string& body = "", const std::string& more = "") {
    return FakeWeb::ok(type, body, more);
}

using z2test::Recorder;

// Every event the mod gets is appended to its parameter "seen".
const char* const RECORDING_MOD =
    "function init() end\n"
    "function loop(t) end\n"
    "function event(e) z2_param_set('seen', (z2_param_get('seen') or '') .. e.type .. '|' .. e.value .. ';') end\n";

class GameWebTest : public z2test::ModsTree<Game> {
protected:
    std::unique_ptr<FakeWeb> server;
    std::vector<std::string> calls;

    void SetUp() override {
        make("z2web", {"data"}, false, "Zentar 2");
        driver_set_altdir((root + "/data").c_str());
        server = std::make_unique<FakeWeb>();
        stdout_of([&] { game_web_configure(*game, server->address().c_str()); });
        for (const char* name : {"menus_login", "menus_main", "menus_news", "menus_error"})
            GameView::register_state(name, new Recorder(&calls));
        game->view.next("menus_login", -1);
    }

    void TearDown() override {
        mods_deinit(*game);
        for (WebRequest* r : _game_web.web_reqs) delete r;
        _game_web.web_reqs.clear();
        GameView::unregister_states();
        _game_data.GAME_THIS = nullptr;
        game.reset();
        server.reset();
        driver_set_altdir(nullptr);
        ModsTree::TearDown();
    }

    void start_mod() {
        start_file("main.lua", RECORDING_MOD);
        ASSERT_TRUE(game->mods_engine);
    }
    // "type|value;" of every event the mod received.
    std::string mod_events() { return mods_api_of(*game)->param_get("seen").__str__(); }

    // Runs the frame loop until the queue is empty; the log it wrote.
    std::string pump() {
        return stdout_of([&] {
            auto t0 = std::chrono::steady_clock::now();
            while (!_game_web.web_reqs.empty() && std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(z2test::kHangMs)) {
                game_web_loop(*game);
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    // Queues a request for the action, answered by the scripted reply.
    void queue(const std::string& answer, const std::string& action = "test") {
        server->script(answer);
        game_web_queue(*game, game_web_request(*game, action));
    }
    // A login the player waits on, answered by the scripted reply.
    void queue_login(const std::string& answer) {
        server->script(answer);
        game_web_login(*game);
        calls.clear();  // the login screen's "one_moment"
    }

    std::string doc(const std::string& name) { return root + "/home/.local/share/Zentar 2/" + name; }
    std::string sync(const std::string& text) {
        return stdout_of([&] { game_web_handle_sync(*game, text); });
    }
    static std::string msg(const std::string& list, const std::string& data) {
        return "{\"sync\":" + list + ",\"data\":" + data + "}";
    }
    static std::string b64(const std::string& s) {
        return base64_encode((const unsigned char*)s.data(), (unsigned)s.size());
    }
    void set(char* field, const char* text) { snprintf(field, 64, "%s", text); }
    std::vector<std::string> raw_requests() {
        std::vector<std::string> out;
        for (const FakeWeb::Request& r : server->requests()) out.push_back(r.raw);
        return out;
    }
};

bool has(const std::string& log, const std::string& part) { return log.find(part) != std::string::npos; }

// ---- requests ---------------------------------------------------------------------

TEST_F(GameWebTest, LoginRequestCarriesIdentityFieldsAndFormBody) {
    set(game->settings.uid, "old");
    set(game->settings.display_name, "Old");
    std::string log = stdout_of([&] { game_web_login(*game); });
    EXPECT_EQ(game->settings.uid[0], 0) << "cleared before the reply";
    EXPECT_EQ(game->settings.display_name[0], 0);
    EXPECT_TRUE(has(log, "player has 0 friends\n"));
    EXPECT_TRUE(has(log, "rdata: {\"receipts\":{},\"valid\":{}}\n"));
    ASSERT_EQ(calls, std::vector<std::string>{"one_moment|"});
    pump();
    game_web_friends(*game);  // nothing to send without friends
    EXPECT_TRUE(_game_web.web_reqs.empty());

    auto reqs = raw_requests();
    ASSERT_EQ(reqs.size(), 1u);
    std::string rdata = WebRequest::urlencode("{\"receipts\":{},\"valid\":{}}");
    std::string body = "sync=&friends=&rdata=" + rdata;
    EXPECT_EQ(reqs[0], "POST /z2/api.php?&_udata=&_vinfo=1%2e9%2e6%2dDesktop%2dLinux%2dDAV&_version=1"
                       "&_osinfo=Linux&_lid=&_name=&_token=&_passwd=&_udid=&_suuid=&_sname="
                       "&_action=login HTTP/1.0\r\nHost: 127.0.0.1:" +
                           std::to_string(server->port) +
                           "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST_F(GameWebTest, NamedAccountSyncListAndActionBodiesAreEncoded) {
    game->settings.version = 1;
    set(game->settings.name, "a b");
    set(game->settings.passwd, "pw");
    spit(doc("sync.dat"), std::string("{\"n.txt\":5}"));
    game_web_login(*game);
    game->do_action("create", "x y&z/~");
    pump();

    // The identity as the settings sync derived it, encoded.
    Settings& s = game->settings;
    std::string want = "&_lid=g%3aa%20b&_name=a%20b&_token=&_passwd=" + std::string(s.web_passwd) +
                       "&_udid=" + s.udid + "&";
    ASSERT_EQ(strlen(s.udid), 32u);
    auto reqs = raw_requests();
    ASSERT_EQ(reqs.size(), 2u);
    std::string login = reqs[0].find("action=login") != std::string::npos ? reqs[0] : reqs[1];
    std::string create = reqs[0].find("action=login") != std::string::npos ? reqs[1] : reqs[0];
    EXPECT_TRUE(has(login, want)) << login;
    EXPECT_TRUE(has(login, "\r\n\r\nsync=%7b%22n%2etxt%22%3a5%7d&friends=&rdata="));
    EXPECT_TRUE(has(create, "&_action=create HTTP/1.0\r\n"));
    EXPECT_EQ(create.substr(create.find("\r\n\r\n") + 4), "&data=x%20y%26z%2f%7e");

    // A backquoted name asks the debug script.
    set(game->settings.name, "`dev");
    _game_data.GAME_THIS = game.get();
    game_web_store(*game);
    _game_data.GAME_THIS = nullptr;
    pump();
    reqs = raw_requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[2].rfind("GET /z2/dev/api.php?&_udata=", 0), 0u) << reqs[2];
}

// ---- replies ----------------------------------------------------------------------

TEST_F(GameWebTest, OnlyOkRepliesReachTheModAndAllFinishInOnePass) {
    start_mod();
    queue(ok("custom", "{\"a\":1}\n"));
    queue(reply("X-Response: ok\r\nX-Type: custom\r\n", "lower"));
    queue(reply("X-Type: custom\r\n", "nothing"));
    queue(ok("", "untyped"));
    queue(reply("X-Response: OK\r\n", "no type"));
    queue(ok("receipts", "not json"));
    ASSERT_EQ(_game_web.web_reqs.size(), 6u);
    // Let every answer arrive, then one pass of the loop takes them all.
    for (WebRequest* r : _game_web.web_reqs)
        for (int i = 0; i < 5000 && !qel_web_poll(r->handle); i++) std::this_thread::sleep_for(1ms);
    std::string log = stdout_of([&] { game_web_loop(*game); });
    EXPECT_TRUE(_game_web.web_reqs.empty());
    EXPECT_TRUE(has(log, "invalid response 'ok' body 200 'lower'\n")) << log;
    EXPECT_TRUE(has(log, "invalid response '' body 200 'nothing'\n"));
    EXPECT_EQ(mod_events(), "api:custom|{\"a\":1}\n;api:|untyped;api:|no type;api:receipts|not json;");
}

TEST_F(GameWebTest, ErrorReplyShowsTheErrorScreenUnlessHeadless) {
    start_mod();
    queue_login(ok("login", "{}", "X-Error: Bad password\r\nX-UID: 7\r\n"));
    std::string log = pump();
    EXPECT_TRUE(has(log, "error 'Bad password'\n"));
    EXPECT_TRUE(calls.empty()) << "headless: logged only";

    game->headless = 0;
    queue_login(ok("login", "{}", "X-Error: Bad password\r\nX-UID: 7\r\n"));
    pump();
    EXPECT_STREQ(game->view.cur, "menus_error");
    EXPECT_EQ(calls, std::vector<std::string>{"content|Bad password"});
    EXPECT_EQ(game->settings.uid[0], 0) << "an error reply is not dispatched";
    EXPECT_EQ(mod_events(), "");
}

TEST_F(GameWebTest, TransportFailureShowsTheErrorAndKeepsTheAccount) {
    start_mod();
    server->set_mode(FakeWeb::REFUSE);
    WebRequest* r = game_web_request(*game, "test");
    game_web_queue(*game, r);
    char want[64];
    snprintf(want, sizeof(want), "web_loop %p: failure\n", (void*)r);
    EXPECT_TRUE(has(pump(), want));
    EXPECT_TRUE(calls.empty()) << "nobody waits on it: logged only";

    // A mod's own request tells the mod, which can handle it; no screen changes.
    game->headless = 0;
    game->do_action("news", "");
    pump();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(mod_events(), "api:error|Could not reach the game server;");
    mods_api_of(*game)->param_set("seen", var(""));

    // A login that fails puts back the account it cleared while it waited.
    game->view.next("menus_login", -1);
    set(game->settings.uid, "77");
    set(game->settings.display_name, "Seventy");
    game_web_login(*game);
    EXPECT_EQ(game->settings.uid[0], 0);
    pump();
    EXPECT_STREQ(game->view.cur, "menus_error");
    EXPECT_EQ(calls.back(), "content|Could not reach the game server");
    EXPECT_STREQ(game->settings.uid, "77");
    EXPECT_STREQ(game->settings.display_name, "Seventy");
    EXPECT_EQ(mod_events(), "");
}

// ---- login answer -----------------------------------------------------------------

TEST_F(GameWebTest, LoginReplyStoresTheNamedAccountAndShowsTheNews) {
    start_mod();
    game->headless = 0;
    mods_api_of(*game)->params["state"] = var("idle");  // a state that maps to no screen
    game->settings.version = 1;
    set(game->settings.name, "pilot");
    set(game->settings.email, "p@x");
    set(game->settings.qname, "q");
    std::string uid(70, 'u');
    std::string sync = msg("{\"n.txt\":5}", "{\"n.txt\":\"" + b64("hello") + "\"}");
    var body(VAR_DICT, 0);
    body["html"] = var("<p>news</p>");
    body["sync"] = var(sync);
    body["rank"] = var(3.9);
    std::string text = json_encode(body);
    server->script(ok("login", text,
                      "X-UID: " + uid + "\r\nX-Name: Pilot One\r\nX-Server: 10.0.0.1:9999\r\n"
                      "X-Token: tok\r\nX-News: 4\r\n"));
    game_web_login(*game);
    calls.clear();
    std::string log = pump();

    Settings& s = game->settings;
    EXPECT_EQ(std::string(s.uid), uid.substr(0, 63)) << "the record keeps its layout";
    EXPECT_EQ(game_account_id(*game), uid);
    EXPECT_STREQ(s.display_name, "Pilot One");
    EXPECT_STREQ(game->server, "10.0.0.1:9999");
    EXPECT_STREQ(game->token, "tok");
    EXPECT_EQ(s.news, 4);
    EXPECT_EQ(s.logged_in, 1);
    EXPECT_EQ(s.email[0], 0);
    EXPECT_EQ(s.qname[0], 0);
    EXPECT_EQ(std::string(s.session_key), md5_digest(uid + "|" + md5_digest("pilot")));
    EXPECT_TRUE(has(log, "login: " + uid + " Pilot One\n"));
    EXPECT_TRUE(has(log, "login-server: 10.0.0.1:9999\n"));
    EXPECT_TRUE(has(log, "rank: cur = 3\n"));
    EXPECT_EQ(slurp(doc("n.txt")), "hello");
    EXPECT_EQ(slurp(doc("sync.dat")), "{\"n.txt\":5}");
    EXPECT_STREQ(game->view.cur, "menus_news");
    EXPECT_EQ(calls, std::vector<std::string>{"content|<p>news</p>"});
    EXPECT_EQ(mod_events(), "api:login|" + text + ";");

    // Another account whose id begins with the same 63 characters is another
    // player to the hosts and another buyer to the store.
    auto identity = [&] {
        std::string net, name;
        game_net_identity(*game, &net, &name);
        return net + " " + builds_store_url(*game) + " " + s.session_key;
    };
    std::string first = identity();
    EXPECT_NE(first.find(net_uid(uid) + " "), std::string::npos) << first;
    EXPECT_NE(first.find("&uid=" + uid + "&token=" + md5_digest(uid + "|" + s.udid)), std::string::npos);
    std::string other = uid.substr(0, 63) + "vvvvvvv";
    queue_login(ok("login", "{}", "X-UID: " + other + "\r\nX-Name: Pilot Two\r\n"));
    pump();
    EXPECT_EQ(std::string(s.uid), uid.substr(0, 63));
    EXPECT_EQ(game_account_id(*game), other);
    std::string second = identity();
    EXPECT_NE(second.find(net_uid(other) + " "), std::string::npos) << second;
    EXPECT_NE(second.find("&uid=" + other + "&"), std::string::npos) << second;
    EXPECT_NE(net_uid(other), net_uid(uid));
    EXPECT_NE(std::string(s.session_key), md5_digest(uid + "|" + md5_digest("pilot")));

    // A restart keeps the whole id until the next login answers; a later
    // account that the record holds whole drops it.
    auto restarted = [&] {
        std::string id;
        stdout_of([&] {
            s.save();
            auto again = std::make_unique<Game>();
            again->settings.load();
            id = game_account_id(*again);
        });
        return id;
    };
    EXPECT_EQ(restarted(), other);
    queue_login(ok("login", "{}", "X-UID: " + uid.substr(0, 63) + "\r\nX-Name: Pilot Three\r\n"));
    pump();
    EXPECT_EQ(restarted(), uid.substr(0, 63));
}

TEST_F(GameWebTest, LoginReplyForAnAutoNameAndItsBrokenBodies) {
    game->headless = 0;
    game->settings.version = 1;
    game->headless = 0;
    set(game->settings.udid, "0123456789abcdef0123456789abcdef");
    set(game->settings.qname, "Blue Fox");
    // An empty body or one that is not JSON is no answer, and neither is an
    // account id the game cannot keep whole or send on (past 1024 bytes, a
    // control character): nothing is stored and the player sees the error
    // instead of waiting on.
    const std::pair<std::string, std::string> broken[] = {
        {" \r\n", "42"}, {"{\"html\":\"x\",\"rank\":2,", "42"}, {"{}", std::string(1025, 'u')}, {"{}", "4\x01" "2"}};
    for (const auto& [body, uid] : broken) {
        SCOPED_TRACE(body + " " + uid.substr(0, 8));
        game->view.next("menus_login", -1);
        queue_login(ok("login", body, "X-UID: " + uid + "\r\nX-Name: Guest 7\r\nX-News: many\r\n"));
        EXPECT_TRUE(has(pump(), "unreadable login"));
        EXPECT_STREQ(game->settings.qname, "Blue Fox");
        EXPECT_EQ(game->settings.uid[0], 0);
        EXPECT_EQ(game->settings.logged_in, 0);
        EXPECT_STREQ(game->view.cur, "menus_error");
        EXPECT_EQ(calls, std::vector<std::string>{"content|Could not reach the game server"});
    }
    EXPECT_FALSE(fs::exists(doc("sync.dat")));

    // A JSON body without members: the account, the menu and an empty news screen.
    game->view.next("menus_login", -1);
    queue_login(ok("login", "{}", "X-UID: 42\r\nX-Name: Guest 7\r\nX-News: many\r\n"));
    pump();
    EXPECT_STREQ(game->settings.qname, "Guest 7");
    EXPECT_EQ(std::string(game->settings.session_key), md5_digest("42|0123456789abcdef0123456789abcdef"));
    EXPECT_EQ(game->settings.news, 0);
    EXPECT_EQ(game->settings.logged_in, 1);
    EXPECT_STREQ(game->view.cur, "menus_news");
    EXPECT_EQ(calls, std::vector<std::string>{"content|"});

    // A name longer than its field is cut before a character, not inside one.
    std::string e = "\xc3\xa9";
    std::string name = "Guest ", fit;
    for (int i = 0; i < 30; i++) name += e;
    fit = name.substr(0, 62);
    game->view.next("menus_login", -1);
    queue_login(ok("login", "{}", "X-UID: 42\r\nX-Name: " + name + "\r\n"));
    pump();
    EXPECT_EQ(std::string(game->settings.display_name), fit);
    EXPECT_EQ(std::string(game->settings.qname), fit);
}

TEST_F(GameWebTest, RankLogsAndIsBounded) {
    EXPECT_TRUE(has(stdout_of([&] { game_web_handle_rank(*game, 0); }), "rank: cur = 0\n"));
    // A hostile rank must finish at once.
    EXPECT_TRUE(has(stdout_of([&] { game_web_handle_rank(*game, INT_MAX); }),
                    "rank: cur = 2147483647\n"));
}

TEST_F(GameWebTest, HeadlessHostHandsLoginAndStoreRepliesToItsModOnly) {
    start_mod();
    _game_data.GAME_THIS = game.get();
    queue(ok("login", "{\"html\":\"<p>news</p>\",\"rank\":2}", "X-UID: 7\r\nX-Name: Host\r\n"), "login");
    queue(ok("store", "{\"header\":\"h\"}"), "store");
    std::string log = pump();
    EXPECT_STREQ(game->view.cur, "menus_login");
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(GameView::find_state("ext_store_view"), nullptr) << "no store screen";
    EXPECT_EQ(game->settings.uid[0], 0);
    EXPECT_FALSE(has(log, "rank: cur"));
    EXPECT_TRUE(has(log, "'login' reply of 31 bytes for the mod\n")) << log;
    EXPECT_TRUE(has(log, "'store' reply of 14 bytes for the mod\n"));
    std::string seen = mod_events();
    EXPECT_TRUE(has(seen, "api:login|{\"html\":\"<p>news</p>\",\"rank\":2};")) << seen;
    EXPECT_TRUE(has(seen, "api:store|{\"header\":\"h\"};"));
}

// ---- document sync ----------------------------------------------------------------

TEST_F(GameWebTest, SyncWritesManagesAndRemovesOnlyItsOwnDocuments) {
    spit(doc("mine.txt"), std::string("player's"));
    spit(root + "/data/asset.png", std::string("img"));
    std::string list = "{\"a.txt\":5,\"mine.txt\":1,\"asset.png\":2}";
    std::string data = "{\"a.txt\":\"" + b64("A") + "\",\"mine.txt\":\"" + b64("x") +
                       "\",\"asset.png\":\"" + b64("x") + "\",\"extra.txt\":\"" + b64("E") + "\"}";
    std::string log = sync(msg(list, data));
    EXPECT_EQ(slurp(doc("a.txt")), "A");
    EXPECT_EQ(slurp(doc("mine.txt")), "player's");
    EXPECT_FALSE(fs::exists(doc("asset.png")));
    EXPECT_EQ(slurp(doc("extra.txt")), "E") << "written though not listed";
    EXPECT_EQ(slurp(doc("sync.dat")), "{\"a.txt\":5,\"asset.png\":-1,\"mine.txt\":-1}");
    EXPECT_TRUE(has(log, "sync: ignore 'mine.txt' already exists\n"));
    EXPECT_TRUE(has(log, "sync: skipped 'mine.txt'\n"));
    EXPECT_TRUE(has(log, "sync: adding 'a.txt' 1 bytes\n"));

    // Later: protected names stay skipped, an unlisted existing file is not
    // overwritten, and a managed document the list drops is removed.
    data = "{\"mine.txt\":\"" + b64("y") + "\",\"extra.txt\":\"" + b64("F") + "\"}";
    log = sync(msg("{\"mine.txt\":1,\"asset.png\":2}", data));
    EXPECT_EQ(slurp(doc("mine.txt")), "player's");
    EXPECT_EQ(slurp(doc("extra.txt")), "E");
    EXPECT_FALSE(fs::exists(doc("a.txt")));
    EXPECT_TRUE(has(log, "sync: removing 'a.txt'"));
    EXPECT_EQ(slurp(doc("sync.dat")), "{\"asset.png\":-1,\"mine.txt\":-1}");

    // A value of 0 removes a managed document the same way.
    sync(msg("{\"b.txt\":3}", "{\"b.txt\":\"" + b64("B") + "\"}"));
    EXPECT_EQ(slurp(doc("b.txt")), "B");
    sync(msg("{\"b.txt\":0}", "{}"));
    EXPECT_FALSE(fs::exists(doc("b.txt")));
    EXPECT_EQ(slurp(doc("sync.dat")), "{}");
    // So does an empty list written as an array, as some servers write an empty map.
    sync(msg("{\"b.txt\":3}", "{\"b.txt\":\"" + b64("B") + "\"}"));
    sync(msg("[]", "{}"));
    EXPECT_FALSE(fs::exists(doc("b.txt")));

    // Versions sync.dat could not hold (infinity, one that reads back as 0)
    // are not taken: their documents would stay behind unmanaged.
    log = sync(msg("{\"c.txt\":1e999,\"d.txt\":0.0000001}", "{\"c.txt\":\"" + b64("C") + "\",\"d.txt\":\"" + b64("D") + "\"}"));
    EXPECT_FALSE(fs::exists(doc("c.txt")));
    EXPECT_FALSE(fs::exists(doc("d.txt")));
    EXPECT_TRUE(has(log, "sync: 'c.txt' has a version that cannot be kept, skipped\n"));
    EXPECT_EQ(slurp(doc("sync.dat")), "{\"c.txt\":-1,\"d.txt\":-1}");
}

TEST_F(GameWebTest, SyncChangesABoundedNumberOfDocumentsPerMessage) {
    // Each document is a durable save on the frame loop: a long list is taken
    // over several logins, each recording only what it wrote.
    const int n = SYNC_CHANGES_MAX + 3;
    std::string list = "{", data = "{";
    for (int i = 0; i < n; i++) {
        std::string name = "d" + std::to_string(1000 + i);
        list += std::string(i ? "," : "") + "\"" + name + "\":1";
        data += std::string(i ? "," : "") + "\"" + name + "\":\"" + b64(name) + "\"";
    }
    list += "}", data += "}";
    auto written = [&] {
        int count = 0;
        for (int i = 0; i < n; i++) count += fs::exists(doc("d" + std::to_string(1000 + i)));
        return count;
    };
    auto recorded = [&] {
        var rec;
        std::string text = slurp(doc("sync.dat"));
        return json_decode(rec, text.data(), text.size()) == 0 ? (int)rec.__len__() : -1;
    };
    std::string log = sync(msg(list, data));
    EXPECT_EQ(written(), SYNC_CHANGES_MAX);
    EXPECT_EQ(recorded(), SYNC_CHANGES_MAX);
    EXPECT_TRUE(has(log, "sync: 3 documents left for the next login"));
    sync(msg(list, data));
    EXPECT_EQ(written(), n);
    EXPECT_EQ(recorded(), n);
    EXPECT_EQ(slurp(doc("d1102")), "d1102");

    // Removing them takes as many messages; the rest stay managed meanwhile.
    sync(msg("{}", "{}"));
    EXPECT_EQ(written(), 3);
    EXPECT_EQ(recorded(), 3);
    sync(msg("{}", "{}"));
    EXPECT_EQ(written(), 0);
    EXPECT_EQ(slurp(doc("sync.dat")), "{}");
}

TEST_F(GameWebTest, SyncRefusesBadNamesAndBadMessagesWhole) {
    sync(msg("{\"k.txt\":1}", "{\"k.txt\":\"" + b64("K") + "\"}"));
    std::string before = slurp(doc("sync.dat"));
    for (std::string bad : {"../x", "a/b", "a\\\\b", "..", "", "a\\u0000b"}) {
        SCOPED_TRACE(bad);
        std::string log = sync(msg("{}", "{\"ok.txt\":\"" + b64("o") + "\",\"" + bad + "\":\"eA==\"}"));
        EXPECT_TRUE(has(log, "sync: invalid filename '"));
        EXPECT_FALSE(fs::exists(doc("ok.txt")));
        EXPECT_EQ(slurp(doc("sync.dat")), before);
        EXPECT_EQ(slurp(doc("k.txt")), "K");
    }
    EXPECT_TRUE(sync_fname_ok("a.b_c"));
    // A broken or non-object message, or one without its list, changes nothing at all.
    for (std::string text : {"{\"sync\":{}", "[1]", "\"x\"", "{\"data\":{}}", "{\"sync\":[1],\"data\":{}}", "{\"sync\":\"k.txt\"}"}) {
        sync(text);
        EXPECT_EQ(slurp(doc("k.txt")), "K");
        EXPECT_EQ(slurp(doc("sync.dat")), before);
    }
}

}  // namespace
