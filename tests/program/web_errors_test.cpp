// The real game when the web API fails it: no server, an answer 500, a reply
// that is not JSON, a reply slower than the request may wait, and an error
// the server words itself. Each ends "One moment..." on the error screen with
// a way back, and nothing the account or the documents held is lost.
#include <gtest/gtest.h>

#include "z2_fake_web.h"
#include "z2_player.h"
#include "z2_test_util.h"

namespace {

using z2test::FakeWeb;
using z2test::Player;

std::string field(const char* f, size_t n) { return std::string(f, strnlen(f, n)); }

TEST(WebErrors, EveryFailedRequestEndsOnTheErrorScreenAndKeepsTheAccount) {
    FakeWeb web;
    web.account.docs = {{"notes.txt", "kept"}};
    Player p({"-web", web.address()});
    Game& game = p.game();
    Settings& s = game.settings;

    ASSERT_TRUE(p.until([&] { return p.on("menus_preboard") && p.texts().find("Play fair") != std::string::npos; }));
    ASSERT_TRUE(p.click("age"));
    ASSERT_TRUE(p.click("tos"));
    ASSERT_TRUE(p.click("continue"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_main"); }));
    ASSERT_TRUE(p.click("menus_settings"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_login"); }));
    ASSERT_TRUE(p.click("qlogin"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_news"); }));
    const std::string key = field(s.session_key, 64), sync = p.doc("sync.dat");
    ASSERT_EQ(field(s.uid, 64), "1001");
    ASSERT_EQ(p.doc("notes.txt"), "kept");
    ASSERT_TRUE(p.click("back"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_main"); }));
    ASSERT_TRUE(p.click("menus_settings"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_login"); }));

    const int wait_ms = (int)(GAME_WEB_TIMEOUT * 1000);
    struct Road {
        const char* what;
        FakeWeb::Mode mode;
        std::string shown;
    } roads[] = {
        {"no server", FakeWeb::REFUSE, GAME_WEB_UNREACHABLE},
        {"an answer 500", FakeWeb::FAIL_500, GAME_WEB_UNREACHABLE},
        {"a reply that is not JSON", FakeWeb::GARBAGE, GAME_WEB_UNREACHABLE},
        {"the server's own error", FakeWeb::ANSWER, "This account is resting."},
        {"a reply slower than the time-out", FakeWeb::SLOW, GAME_WEB_UNREACHABLE},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.what);
        web.set_mode(road.mode, wait_ms + 2000);
        if (road.shown != GAME_WEB_UNREACHABLE)
            web.script(FakeWeb::ok("login", "{}", "X-Error: " + road.shown + "\r\n"));
        size_t asked = web.requests().size();
        ASSERT_TRUE(p.click("qlogin"));
        if (road.mode == FakeWeb::SLOW) {
            EXPECT_NE(p.texts().find("One moment..."), std::string::npos) << p.texts();
            EXPECT_TRUE(p.until([&] { return web.requests().size() > asked; }));
        }
        ASSERT_TRUE(p.until([&] { return p.on("menus_error"); }, wait_ms + 3000)) << p.screen();
        EXPECT_NE(p.texts().find(road.shown), std::string::npos) << p.texts();
        EXPECT_EQ(field(s.uid, 64), "1001");
        EXPECT_EQ(field(s.display_name, 64), "Guest 1001");
        EXPECT_EQ(field(s.session_key, 64), key);
        EXPECT_EQ(p.doc("sync.dat"), sync);
        EXPECT_EQ(p.doc("notes.txt"), "kept");
        // Continue goes back to the page, ready for another try.
        ASSERT_TRUE(p.click("continue"));
        ASSERT_TRUE(p.until([&] { return p.on("menus_login"); }));
        EXPECT_EQ(p.texts().find("One moment..."), std::string::npos);
    }

    // Creating a ZentarID waits the same way and ends the same way.
    web.set_mode(FakeWeb::FAIL_500);
    ASSERT_TRUE(p.click("create"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_create"); }));
    ASSERT_TRUE(p.click("create_do"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_error"); }));
    EXPECT_EQ(web.requests().back().action, "create");
    ASSERT_TRUE(p.click("continue"));
    ASSERT_TRUE(p.until([&] { return p.on("menus_create"); }));

    p.quit();
    Settings saved{};
    std::string cloud = p.doc("settings-cloud.dat");
    ASSERT_EQ(cloud.size(), sizeof(Settings));
    memcpy(&saved, cloud.data(), sizeof(saved));
    EXPECT_EQ(field(saved.uid, 64), "1001");
    EXPECT_EQ(field(saved.qname, 64), "Guest 1001");
    EXPECT_EQ(field(saved.session_key, 64), key);
    EXPECT_EQ(p.doc("sync.dat"), sync);
    EXPECT_EQ(p.doc("notes.txt"), "kept");
}

}  // namespace
