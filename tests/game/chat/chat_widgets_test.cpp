// The chat panel: Tab completion from the keywords, a typed line leaving for
// the mod and the host, and the log's wrapping and scrolling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "chat/chat.h"
#include "chat/chat_widgets.h"
#include <GL/gl.h>

#include "app/game.h"
#include "shell/game_video.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "net/net.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "z2_game_fixture.h"
#include "z2_gl_util.h"
#include "z2_test_util.h"

namespace {

const auto* env = testing::AddGlobalTestEnvironment(new z2test::GlFontEnv);

// Records what the mod is sent, and how many network messages were queued by then.
struct RecordingEngine : ModsBase {
    Game* game = nullptr;
    std::vector<var> events;
    std::vector<size_t> outbox_then;
    void init() override {}
    void loop(float) override {}
    void event(var e) override {
        events.push_back(e);
        outbox_then.push_back(game->client_net->outbox.size());
    }
    void script(const char*, const char*) override {}
    bool is_okay() override { return true; }
};

class ChatPanel : public ::testing::Test {
protected:
    std::unique_ptr<Game> game;
    Container root;
    RecordingEngine* engine = nullptr;

    void SetUp() override {
        z2test::stdout_of([&] {
            game = std::make_unique<Game>();
            _game_data.GAME_THIS = game.get();
            game->chat.reset(new Chat());
            game->client_net.reset(new Net());
            game->mods_api.reset(new ModsAPI(*game));
            engine = new RecordingEngine();
            engine->game = game.get();
            game->mods_engine.reset(engine);
            // left open last time: the first match panel opens at 88
            game->settings.chat_height[0] = chat_px_to_slot(200, game_get_sh());
            chat_init(*game, root, 1, 1, 0);
        });
    }
    void TearDown() override {
        root = Container();
        game->mods_engine.reset();
        game->mods_api.reset();
        game->client_net.reset();
        game->chat.reset();
        _game_data.GAME_THIS = nullptr;
    }

    TextInput* input() { return dynamic_cast<TextInput*>(root.find("input")); }
    ChatLog* log() { return chat_log_find(root); }

    int key(int unicode, int code = 0, int in_match = 0) {
        Event e{};
        e.type = GUI_EV_KEYDOWN;
        e.key = code;
        e.unicode = unicode;
        int used = 0;
        z2test::stdout_of([&] { used = chat_event_handle(*game, root, e, var(), in_match); });
        return used;
    }
    void type(const std::string& s) {
        for (char c : s) key((unsigned char)c);
    }
    void tab() { key(9, GUI_KEY_TAB); }
};

TEST_F(ChatPanel, FirstMatchPanelOpensAtEightyEightWithItsWidgets) {
    ASSERT_NE(log(), nullptr);
    EXPECT_EQ(chat_slot_px(*game, 0), 87);  // 88 stored, read back truncated
    EXPECT_EQ(game->settings.chat_height[0], chat_px_to_slot(88, game_get_sh()));
    EXPECT_TRUE(log()->is_open());
    ASSERT_NE(input(), nullptr);
    EXPECT_TRUE(input()->disabled) << "the root's dispatch must pass the entry by";
    EXPECT_NE(root.find("chat_icon"), nullptr);
    EXPECT_NE(root.find("table"), nullptr);
}

TEST_F(ChatPanel, TabCyclesThroughMatchingKeywordsInListOrder) {
    var names(3, 0);
    for (const char* n : {"Alice", "alfred", "Bob"}) list_append(names, var(n));
    game->chat->set_keywords(names);

    type("hi al");
    tab();
    EXPECT_EQ(input()->value, "hi Alice");
    tab();
    EXPECT_EQ(input()->value, "hi alfred");
    tab();
    EXPECT_EQ(input()->value, "hi Alice");

    input()->set_value_s("");
    type("@bo");
    tab();
    EXPECT_EQ(input()->value, "@Bob") << "an @ separates words and stays";

    type(" ");
    tab();
    EXPECT_EQ(input()->value, "@Bob ") << "nothing to complete after a blank";
}

TEST_F(ChatPanel, ReturnSendsToTheModFirstThenToTheHostAndEmptiesTheEntry) {
    type("gl hf");
    EXPECT_EQ(key(13, GUI_KEY_RETURN), 1);

    ASSERT_EQ(engine->events.size(), 1u);
    EXPECT_EQ(engine->events[0]["type"].__str__(), "message");
    EXPECT_EQ(engine->events[0]["value"].__str__(), "gl hf");
    EXPECT_EQ(engine->outbox_then[0], 0u) << "the mod hears it before the host";
    ASSERT_EQ(game->client_net->outbox.size(), 1u);
    EXPECT_EQ(game->client_net->outbox[0].type, "message");
    EXPECT_EQ(game->client_net->outbox[0].value, "gl hf");
    EXPECT_EQ(game->client_net->outbox[0].reliable & 1, 1);
    EXPECT_EQ(input()->value, "");

    // an empty line still goes out
    key(13, GUI_KEY_RETURN);
    EXPECT_EQ(engine->events.size(), 2u);
    EXPECT_EQ(game->client_net->outbox.size(), 2u);
}

TEST_F(ChatPanel, DigitsGoToTheMatchAfterASentLineUntilALetterIsTyped) {
    key(13, GUI_KEY_RETURN, 1);
    EXPECT_EQ(key('1', 0, 1), 0) << "the digit chooses the send percentage";
    EXPECT_EQ(input()->value, "");
    EXPECT_EQ(key('a', 0, 1), 1);
    EXPECT_EQ(key('1', 0, 1), 1);
    EXPECT_EQ(input()->value, "a1");
}

TEST_F(ChatPanel, IconOpensAShutLogAndThenTogglesTheKeyboard) {
    auto* icon = dynamic_cast<ChatIcon*>(root.find("chat_icon"));
    ASSERT_NE(icon, nullptr);
    game->settings.chat_height[0] = 1;
    Event click{};
    click.type = GUI_EV_CLICK;
    icon->loop();
    var answer = icon->event(&click);
    EXPECT_EQ(answer["type"].__str__(), "expand");

    Event e{};
    e.type = GUI_EV_CLICK;
    EXPECT_EQ(chat_event_handle(*game, root, e, answer, 0), 1);
    EXPECT_GE(chat_slot_px(*game, 0), 87);
    icon->loop();
    EXPECT_EQ(icon->event(&click)["type"].__str__(), "keyboard");
}

TEST_F(ChatPanel, LogWrapsLongLinesAndScrollsWithTheWheelBelowTheFade) {
    ChatLog* l = log();
    std::string long_line;
    for (int i = 0; i < 40; i++) long_line += "word ";
    game->chat->append(0xffffff, "short", 0);
    game->chat->append(0xffffff, long_line, 0);
    l->loop();
    int fh = chat_fh();
    ASSERT_EQ(l->line_heights.size(), 2u);
    EXPECT_EQ((int)l->line_heights[0], fh);
    EXPECT_GE((int)l->line_heights[1], 2 * fh) << "a long line wraps";
    EXPECT_EQ(l->content_height, l->line_heights[0] + l->line_heights[1]);

    Event wheel{};
    wheel.type = GUI_EV_WHEEL;
    wheel.x = 100;
    wheel.y = 20;  // over the faded top
    wheel.dy = -1;
    EXPECT_EQ(l->event(&wheel).__type__(), 0);
    EXPECT_EQ(l->scroll, 0);
    wheel.y = 60;
    EXPECT_EQ(l->event(&wheel)["type"].__str__(), "chat_scroll");
    EXPECT_EQ((int)l->scroll, fh) << "toward older lines";

    // past the oldest line it eases back to the end of the content
    l->scroll = 10000;
    for (int i = 0; i < 200; i++) l->scrollbox_loop();
    float M = std::max(std::trunc(l->content_height + 22 - l->h), 0.0f);
    EXPECT_NEAR(l->scroll, M, 1.0f);
}

TEST_F(ChatPanel, LogPaintsALineBandAtTheBottomOfItsBox) {
    ChatLog* l = log();
    l->fade = 0;
    l->has_tab = 0;
    game->chat->append(0xffffff, "x", 0xff0000);
    l->w = 300;
    l->h = 100;
    l->loop();
    int lh = (int)l->line_heights.at(0);
    gfx_set_ortho_near_far(-1000, 1000);
    gfx_gl_state_reset();
    gfx_ortho();
    gfx_clear();
    gfx_translate(20, 20);
    l->paint();
    gfx_translate(-20, -20);
    auto px = [](int x, int y) { return z2test::rgb_at(x, y, 480); };
    EXPECT_EQ(px(270, 20 + 100 - lh / 2), 0xff0000u) << "the newest line sits on the bottom edge";
    EXPECT_EQ(px(270, 20 + 100 - lh - 4), 0u) << "nothing above the only line";
}

}  // namespace
