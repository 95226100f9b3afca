// The store page built from a store reply, the receipts and verdicts kept in
// the document directory, and the store and web purchase boxes driven by keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "screens/ext_store.h"
#include "app/game.h"
#include "web/game_web.h"
#include "screens/menus_misc.h"
#include "screens/menus_webiap.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_web.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

// The receipts request never leaves.
const auto* env = testing::AddGlobalTestEnvironment(new z2test::HomeGlFontEnv("z2store", true));

using Blank = z2test::BlankScreen;

var json(const std::string& text) {
    var v;
    EXPECT_EQ(json_decode(v, text.data(), text.size()), 0) << text;
    return v;
}

std::string doc(const char* name) { return driver_doc_load(name); }

class Store : public ::testing::Test {
protected:
    std::unique_ptr<Game> game = std::make_unique<Game>();

    void SetUp() override {
        _game_data.GAME_THIS = game.get();
        GameView::register_state("menus_main", new Blank());
        game->view.next("menus_main", -1);
        driver_doc_save("receipts.dat", "", 0);
        driver_doc_save("valid.dat", "", 0);
    }
    void TearDown() override {
        GameView::unregister_states();
        _game_data.GAME_THIS = nullptr;
    }
    void key(int k, int type = 6) {
        Event e{};
        e.type = type, e.key = k;
        z2test::stdout_of([&] { game->view.state_event(e); });
    }
    void enter() { key(8, 6), key(8, 7); }  // Return clicks the focused button
    void frame() { game->view.state_loop(0); }
};

TEST(StoreMarkup, ShowsReadyProductsWithinTheLimitTwoToARow) {
    std::string m = ext_store_markup(json(R"({"limit": 10000.9, "recent": 9000, "header": "Top", "footer": "End",
        "data": {"1": {"id": "small", "ready": 1, "coins": 1000, "price": "$1", "title": "Pile"},
                 "2": {"id": "big", "ready": 1, "coins": 5000, "price": "$5", "title": "Heap"},
                 "3": {"id": "hidden", "ready": 0, "coins": 1, "price": "$0", "title": "Nope"}}})"));
    EXPECT_NE(m.find("onclick='small'"), std::string::npos);
    EXPECT_EQ(m.find("onclick='big'"), std::string::npos);     // 5000 + 9000 > 10000
    EXPECT_EQ(m.find("onclick='hidden'"), std::string::npos);  // not ready
    EXPECT_NE(m.find("<h3>1,000&nbsp;</h3>"), std::string::npos);
    EXPECT_NE(m.find(">Top</p>"), std::string::npos);
    EXPECT_NE(m.find(">End</p>"), std::string::npos);

    // Three shown products: rows open before the first and the third; the
    // order is that of the numbers, not of the keys' text.
    std::string three = ext_store_markup(json(R"({"limit": 1000000, "data": {
        "10": {"id": "c", "ready": true, "coins": 500}, "2": {"id": "b", "ready": true, "coins": 1000000},
        "1": {"id": "a", "ready": true, "coins": 1}}})"));
    EXPECT_EQ(z2test::count_of(three, "<tr><td><input type='button' onclick="), 2);
    EXPECT_LT(three.find("'a'"), three.find("'b'"));
    EXPECT_LT(three.find("'b'"), three.find("'c'"));
    EXPECT_NE(three.find("<td><input type='button' onclick='b'"), std::string::npos);
    EXPECT_NE(three.find("<h3>500.&nbsp;</h3>"), std::string::npos);
    EXPECT_NE(three.find("<h3>1000,000&nbsp;</h3>"), std::string::npos);

    // Not a dict, or members of the wrong kind: only the boxes and Cancel.
    for (const char* bad : {"[1,2]", R"({"data": [1], "limit": "x"})", R"({"data": {"1": 7}})"}) {
        std::string b = ext_store_markup(json(bad));
        EXPECT_EQ(z2test::count_of(b, "class='xicon1'"), 0) << bad;
        EXPECT_EQ(z2test::count_of(b, "class='box2'"), 2) << bad;
        EXPECT_NE(b.find("onclick='cancel'"), std::string::npos);
    }
}

TEST_F(Store, ConfirmedReceiptsStayOnDiskButAreNotSent) {
    z2test::stdout_of([] {
        _ext_store_callback_receipt("k1", "r1");
        _ext_store_callback_receipt("k2", "r2");
    });
    EXPECT_EQ(doc("receipts.dat"), R"({"k1":"r1","k2":"r2"})");
    EXPECT_EQ(doc("valid.dat"), R"({"k1":0,"k2":0})");
    game->headless = 1;  // the two receipts requests fail quietly and are dropped
    z2test::stdout_of([&] { game_web_loop(*game); });

    // The server confirms k1 only; k2, missing from the verdicts, stays 0.
    ext_store_web_receipts_callback(json(R"({"k1": 1})"));
    EXPECT_EQ(doc("valid.dat"), R"({"k1":1,"k2":0})");
    var sent;
    std::string out = z2test::stdout_of([&] { sent = ext_store_web_data(); });
    EXPECT_NE(out.find("receipts len: 1, valid len: 2"), std::string::npos);
    EXPECT_EQ(json_encode(sent), R"({"receipts":{"k2":"r2"},"valid":{"k1":1,"k2":0}})");
    EXPECT_EQ(doc("receipts.dat"), R"({"k1":"r1","k2":"r2"})");

    // Empty or non-dict verdicts change nothing.
    for (var none : {json("{}"), json("[]"), var(3)}) ext_store_web_receipts_callback(none);
    EXPECT_EQ(doc("valid.dat"), R"({"k1":1,"k2":0})");

    // Every login carries the verdicts, encoded: a dict that fits in a reply
    // but not in a request would make each later login fail before it is sent.
    std::string huge = "{";
    char entry[40];
    for (int i = 0; i < 400000; i++) {
        snprintf(entry, sizeof(entry), "%s\"..........%06d\":1", i ? "," : "", i);
        huge += entry;
    }
    huge += "}";
    ASSERT_LT(huge.size(), (size_t)QEL_WEB_MAX_ANSWER);
    out = z2test::stdout_of([&] { ext_store_web_receipts_callback(json(huge)); });
    EXPECT_NE(out.find("store: verdicts of "), std::string::npos);
    EXPECT_TRUE(doc("valid.dat") == R"({"k1":1,"k2":0})");
    z2test::stdout_of([&] { sent = ext_store_web_data(); });
    EXPECT_LT(WebRequest::urlencode(json_encode(sent)).size(), (size_t)QEL_WEB_MAX_ANSWER);

    // Damaged files read as empty.
    driver_doc_save("valid.dat", "{oops", 5);
    z2test::stdout_of([&] { sent = ext_store_web_data(); });
    EXPECT_EQ(json_encode(sent), R"({"receipts":{"k1":"r1","k2":"r2"},"valid":{}})");
}

TEST_F(Store, StoreReplyPushesTheStoreAndButtonsBuyOrClose) {
    var reply = json(R"({"limit": 100, "data": {"1": {"id": "p1", "ready": 1, "coins": 10, "price": "$1"}}})");
    z2test::stdout_of([&] { ext_store_web_store_callback(reply); });
    ASSERT_STREQ(game->view.cur, "ext_store_view");
    EXPECT_STREQ(game->view.stack[1], "menus_main");
    auto* view = dynamic_cast<ExtStoreView*>(GameView::find_state("ext_store_view"));
    ASSERT_NE(view, nullptr);

    // Return on the focused product buys it: the waiting box replaces the grid.
    frame();
    z2test::stdout_of([&] { game->view.state_paint(); });
    size_t grid = view->root._list_descendants().size();
    enter();
    EXPECT_STREQ(game->view.cur, "ext_store_view");
    EXPECT_NE(view->root._list_descendants().size(), grid);
    game->view.state_call(var("success"));
    frame();
    enter();  // OK closes the store
    EXPECT_STREQ(game->view.cur, "menus_main");

    // A later reply reuses the registered screen; a failed purchase closes it.
    z2test::stdout_of([&] { ext_store_web_store_callback(json("{}")); });
    EXPECT_EQ(GameView::find_state("ext_store_view"), view);
    EXPECT_STREQ(game->view.cur, "ext_store_view");
    key(1);  // a key that makes no action leaves it open
    EXPECT_STREQ(game->view.cur, "ext_store_view");
    _ext_store_callback_failed();
    EXPECT_STREQ(game->view.cur, "menus_main");
    _ext_store_callback_failed();  // not on top: nothing
    EXPECT_STREQ(game->view.cur, "menus_main");
}

TEST_F(Store, WebPurchaseBoxClosesOnDoneOnly) {
    GameView::register_state("menus_webiap", new MenusWebIAP(&game->parts));
    game->view.push("menus_webiap", -1);
    frame();
    z2test::stdout_of([&] { game->view.state_paint(); });
    key(1);  // arrow keys only move the focus
    Event move{};
    move.type = 9, move.x = 3, move.y = 3;
    game->view.state_event(move);
    EXPECT_STREQ(game->view.cur, "menus_webiap");
    enter();
    EXPECT_STREQ(game->view.cur, "menus_main");
}

TEST_F(Store, CreditsRiseAndCloseThemselvesOrOnEscape) {
    GameView::register_state("menus_about", new MenusAbout(&game->parts));
    z2test::stdout_of([&] { game->view.push("menus_about", -1); });
    auto* about = dynamic_cast<MenusAbout*>(GameView::find_state("menus_about"));
    Widget* page = about->root.find("about");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(about->pos, (float)game_get_sh());
    // 0.1 s frames: gone after about (screen height + page height) / 35 s.
    float expected = ((float)game_get_sh() + page->h) / 35.0f;
    int frames = 0;
    while (strcmp(game->view.cur, "menus_about") == 0 && frames < 100000) {
        z2test::stdout_of([&] { game->view.state_loop(0.1f); });
        frames++;
    }
    EXPECT_NEAR(frames * 0.1f, expected, 0.2f);
    EXPECT_STREQ(game->view.cur, "menus_main");

    z2test::stdout_of([&] { game->view.push("menus_about", -1); });
    key(5);
    EXPECT_STREQ(game->view.cur, "menus_main");
}

TEST_F(Store, ModsScreenShowsTheHomeDirectoryAtFirstAndTheMagnetSceneToDevelopers) {
    GameView::register_state("menus_mods", new MenusMods(&game->parts));
    GameView::register_state("test_magnetset", new Blank());
    z2test::stdout_of([&] { game->view.next("menus_mods", -1); });
    auto* mods = dynamic_cast<MenusMods*>(GameView::find_state("menus_mods"));
    ASSERT_NE(mods->root.find("fname"), nullptr);
    EXPECT_STREQ(game->mod_file, driver_get_home_dir());
    EXPECT_STREQ(mods->root.find("fname")->get_value_s(), driver_get_home_dir());
    auto magnet = [&]() -> Widget* {
        for (Widget* w : mods->root._list_descendants())
            if (w->on_click.__type__() == VAR_DICT && w->on_click["value"].__str__() == "magnet") return w;
        return nullptr;
    };
    EXPECT_EQ(magnet(), nullptr) << "players get no debug scene";

    // The debug marker in the home directory offers it, and the button opens it.
    std::string marker = std::string(driver_get_home_dir()) + "/.zentar2-debug";
    z2test::write_text(marker, "");
    z2test::stdout_of([&] { game->view.next("menus_mods", -1); });
    std::remove(marker.c_str());
    ASSERT_NE(magnet(), nullptr);
    magnet()->_focus();
    enter();
    EXPECT_STREQ(game->view.cur, "test_magnetset");
}

}  // namespace
