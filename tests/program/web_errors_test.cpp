// The real game when the web API fails it: no server, an answer 500, a reply
// that is not JSON, a login reply that names no account, a reply slower than
// the request may wait, one that trickles in past its deadline, an error the
// server words itself, a refused new ZentarID, and a synced document the
// disk will not take. Each ends "One moment..." on the error screen with a
// way back, and nothing the account or the documents held is lost. A reply
// that comes after the player has left the screen that asked acts on no
// other screen.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include "z2_fake_web.h"
#include "z2_player.h"
#include "z2_test_util.h"

namespace {

using z2test::FakeWeb;
using z2test::field;
using z2test::Player;

// Runs f while no file of the process may grow past `bytes`, as on a full
// disk: a write beyond it fails instead of raising SIGXFSZ.
void with_file_limit(rlim_t bytes, const std::function<void()>& f) {
    rlimit was{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
    rlimit low = was;
    low.rlim_cur = bytes;
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    f();
    setrlimit(RLIMIT_FSIZE, &was);
    signal(SIGXFSZ, old_handler);
}

// From the news or the main menu to the account page.
void account_page(Player& p) {
    if (p.on("menus_news")) {
        EXPECT_TRUE(p.click("back"));
    }
    EXPECT_TRUE(p.until([&] { return p.on("menus_main"); })) << p.screen();
    EXPECT_TRUE(p.click("menus_settings"));
    EXPECT_TRUE(p.until([&] { return p.on("menus_login"); }));
}

// Quick Play from there; true once the news show.
bool quick_play(Player& p) {
    account_page(p);
    return p.click("qlogin") && p.until([&] { return p.on("menus_news"); });
}

TEST(WebErrors, EveryFailedRequestEndsOnTheErrorScreenAndKeepsTheAccount) {
    FakeWeb web;
    web.account.docs = {{"notes.txt", "kept"}};
    Player p({"-web", web.address()});
    Game& game = p.game();
    Settings& s = game.settings;
    const std::string uid = web.account.uid;

    ASSERT_TRUE(p.pass_gate()) << p.screen();
    ASSERT_TRUE(quick_play(p));
    ASSERT_EQ(field(s.uid, 64), uid);
    ASSERT_EQ(p.doc("notes.txt"), "kept");
    ASSERT_EQ(p.doc("sync.dat"), "{\"notes.txt\":1}");

    // A new version of the document that the disk will not take: the old
    // file stays and so does its version on record, so the next login
    // brings it again.
    const std::string next(64 * 1024, 'n');
    web.account.docs = {{"notes.txt", next}};
    web.account.docs_version = 2;
    with_file_limit(16 * 1024, [&] { EXPECT_TRUE(quick_play(p)); });
    EXPECT_EQ(p.doc("notes.txt"), "kept");
    EXPECT_EQ(p.doc("sync.dat"), "{\"notes.txt\":1}");
    ASSERT_TRUE(quick_play(p));
    ASSERT_EQ(p.doc("notes.txt"), next);
    ASSERT_EQ(p.doc("sync.dat"), "{\"notes.txt\":2}");

    const std::string key = field(s.session_key, 64), sync = p.doc("sync.dat");
    account_page(p);

    const int wait_ms = (int)(GAME_WEB_TIMEOUT * 1000);
    const float deadline_s = 2;
    struct Road {
        const char* what;
        FakeWeb::Mode mode;
        std::string reply;  // what the server answers instead of the account
        std::string shown;
    } roads[] = {
        {"no server", FakeWeb::REFUSE, "", GAME_WEB_UNREACHABLE},
        {"an answer 500", FakeWeb::FAIL_500, "", GAME_WEB_UNREACHABLE},
        {"a reply that is not JSON", FakeWeb::GARBAGE, "", GAME_WEB_UNREACHABLE},
        {"a login reply that names no account", FakeWeb::ANSWER, FakeWeb::ok("login", "{\"rank\":1}"),
         GAME_WEB_UNREACHABLE},
        {"the server's own error", FakeWeb::ANSWER, FakeWeb::ok("login", "{}", "X-Error: This account is resting.\r\n"),
         "This account is resting."},
        {"a reply slower than the time-out", FakeWeb::SLOW, "", GAME_WEB_UNREACHABLE},
        {"a reply that trickles in past its deadline", FakeWeb::TRICKLE, "", GAME_WEB_UNREACHABLE},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.what);
        bool trickle = road.mode == FakeWeb::TRICKLE;
        web.set_mode(road.mode, trickle ? 200 : wait_ms + 2000);
        if (!road.reply.empty()) web.script(road.reply);
        // The deadline is shortened for this test; the server never stops.
        game_web_set_deadline(trickle ? deadline_s : GAME_WEB_DEADLINE);
        size_t asked = web.requests().size();
        ASSERT_TRUE(p.click("qlogin"));
        if (road.mode == FakeWeb::SLOW || trickle) {
            EXPECT_NE(p.texts().find("One moment..."), std::string::npos) << p.texts();
            EXPECT_TRUE(p.until([&] { return web.requests().size() > asked; }));
        }
        ASSERT_TRUE(p.until([&] { return p.on("menus_error"); })) << p.screen();
        EXPECT_NE(p.texts().find(road.shown), std::string::npos) << p.texts();
        EXPECT_EQ(field(s.uid, 64), uid);
        EXPECT_EQ(field(s.display_name, 64), "Guest 1001");
        EXPECT_EQ(field(s.qname, 64), "Guest 1001");
        EXPECT_EQ(field(s.session_key, 64), key);
        EXPECT_EQ(p.doc("sync.dat"), sync);
        EXPECT_EQ(p.doc("notes.txt"), next);
        // Continue goes back to the page, ready for another try.
        ASSERT_TRUE(p.click("continue"));
        ASSERT_TRUE(p.until([&] { return p.on("menus_login"); }));
        EXPECT_EQ(p.texts().find("One moment..."), std::string::npos);
    }
    game_web_set_deadline(GAME_WEB_DEADLINE);

    // Creating a ZentarID waits the same way and ends the same way; the name
    // and password typed for it are kept only if the server takes them, so
    // Quick Play is there again.
    web.set_mode(FakeWeb::FAIL_500);
    ASSERT_TRUE(p.click("create"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_create"); }));
    p.settle();
    p.widget("name")->set_value(var("Skipper"));
    p.widget("passwd")->set_value(var("s3cret"));
    ASSERT_TRUE(p.until([&] { return field(s.name, 64) == "Skipper"; }));
    ASSERT_TRUE(p.click("create_do"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_error"); }));
    EXPECT_EQ(web.requests().back().action, "create");
    ASSERT_TRUE(p.click("continue"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_create"); }));
    EXPECT_EQ(field(s.name, 64), "");
    EXPECT_EQ(field(s.passwd, 64), "");
    p.key(SDLK_ESCAPE);
    account_page(p);
    EXPECT_NE(p.widget("qlogin"), nullptr) << p.texts();

    Settings saved = p.saved_settings();
    EXPECT_EQ(field(saved.uid, 64), uid);
    EXPECT_EQ(field(saved.name, 64), "");
    EXPECT_EQ(field(saved.qname, 64), "Guest 1001");
    EXPECT_EQ(field(saved.session_key, 64), key);
    EXPECT_EQ(p.doc("sync.dat"), sync);
    EXPECT_EQ(p.doc("notes.txt"), next);
}

// Quick Play on a slow server, and the player does not wait for it: a
// success is stored but leaves the player on the main menu; a failure that
// arrives during a practice match is only logged.
TEST(WebErrors, ALateReplyLeavesThePlayerWhereTheyAre) {
    FakeWeb web;
    Player p({"-web", web.address()});
    Settings& s = p.game().settings;
    // The gate's answer is kept for the process: an earlier test may have given it.
    ASSERT_TRUE(p.until([&] { return p.on("menus_preboard") || p.on("menus_main"); }));
    if (p.on("menus_preboard")) {
        ASSERT_TRUE(p.pass_gate()) << p.screen();
    }

    auto login_and_leave = [&] {
        account_page(p);
        size_t asked = web.requests().size();
        ASSERT_TRUE(p.click("qlogin"));
        ASSERT_TRUE(p.until([&] { return web.requests().size() > asked; }));
        EXPECT_NE(p.texts().find("One moment..."), std::string::npos) << p.texts();
        p.key(SDLK_ESCAPE);
        ASSERT_TRUE(p.until([&] { return p.on("menus_main"); })) << p.screen();
    };
    auto answer = [&] {
        web.set_mode(FakeWeb::ANSWER);
        ASSERT_TRUE(p.until([&] { return _game_web.web_reqs.empty(); }));
        p.frames(10);
    };

    web.set_mode(FakeWeb::SLOW, 60000);
    login_and_leave();
    answer();
    EXPECT_TRUE(p.on("menus_main")) << p.screen();
    EXPECT_EQ(field(s.uid, 64), web.account.uid);
    EXPECT_EQ(s.logged_in, 1);

    web.set_mode(FakeWeb::SLOW, 60000);
    web.script(FakeWeb::ok("login", "{}", "X-Error: This account is resting.\r\n"));
    login_and_leave();
    ASSERT_TRUE(p.click("menus_lite"));
    ASSERT_TRUE(p.until([&] { return p.widget("level:1") != nullptr; })) << p.screen();
    ASSERT_TRUE(p.click("level:1"));
    ASSERT_TRUE(p.until([&] { return p.on("states_play"); })) << p.screen();
    answer();
    EXPECT_TRUE(p.on("states_play")) << p.screen();
    EXPECT_NE(p.out().find("This account is resting."), std::string::npos);
    EXPECT_EQ(field(s.uid, 64), web.account.uid) << "the account stays as it was";
}

}  // namespace
