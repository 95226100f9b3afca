// The chat model: reset and the stored entry, appending, keywords, and the
// caps on what a host can push into it.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "chat/chat.h"
#include "app/game.h"
#include "app/game_net.h"

// The stored entry is a widget; here it is a token that records its life.
namespace {
int entry_slots[64];
int entries_made = 0;
std::set<TextInput*> entries_alive;
std::vector<TextInput*> entries_deleted;
}  // namespace

TextInput* _chat_entry_new() {
    auto* e = reinterpret_cast<TextInput*>(&entry_slots[entries_made++ % 64]);
    entries_alive.insert(e);
    return e;
}

void _chat_entry_delete(TextInput* e) {
    EXPECT_EQ(entries_alive.erase(e), 1u) << "an entry was deleted twice or never made";
    entries_deleted.push_back(e);
}

namespace {

class ChatTest : public ::testing::Test {
protected:
    std::unique_ptr<Game> game;

    void SetUp() override {
        testing::internal::CaptureStdout();  // the Game constructor logs
        game = std::make_unique<Game>();
        testing::internal::GetCapturedStdout();
        _game_data.GAME_THIS = game.get();
        entries_made = 0;
        entries_alive.clear();
        entries_deleted.clear();
    }
    void TearDown() override {
        game->chat.reset();
        EXPECT_TRUE(entries_alive.empty()) << "an entry outlived its chat";
        _game_data.GAME_THIS = nullptr;
    }
};

var list_of(std::vector<var> items) {
    var l = var(3, 0);
    for (auto& v : items) list_append(l, v);
    return l;
}

// ==== life cycle ===================================================================

TEST_F(ChatTest, ResetGivesAFreshEntryAndEmptiesLinesButKeepsKeywords) {
    Chat chat;
    ASSERT_EQ(entries_made, 1);
    TextInput* first = chat.entry;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(chat.lines.empty());
    EXPECT_TRUE(chat.keywords.empty());

    chat.append(0xff0000, "hello", 0);
    chat.set_keywords(list_of({"ann", "bob"}));
    chat.reset();
    EXPECT_TRUE(chat.lines.empty());
    EXPECT_EQ(chat.keywords, (std::vector<std::string>{"ann", "bob"}));
    ASSERT_EQ(entries_made, 2);
    EXPECT_NE(chat.entry, first);
    EXPECT_EQ(entries_deleted, std::vector<TextInput*>{first});
}

TEST_F(ChatTest, DestroyingTheChatDeletesItsEntry) {
    auto* chat = new Chat();
    TextInput* e = chat->entry;
    delete chat;
    EXPECT_EQ(entries_deleted, std::vector<TextInput*>{e});
}

TEST_F(ChatTest, HeadlessResetOnlyEmptiesTheLines) {
    game->headless = 1;
    Chat chat;
    chat.append(1, "x", 1);
    chat.reset();
    EXPECT_EQ(chat.entry, nullptr);
    EXPECT_TRUE(chat.lines.empty());
    EXPECT_EQ(entries_made, 0);
}

TEST_F(ChatTest, NoGameMeansNoEntry) {
    _game_data.GAME_THIS = nullptr;
    Chat chat;
    EXPECT_EQ(chat.entry, nullptr);
    EXPECT_EQ(entries_made, 0);
}

TEST_F(ChatTest, NetworkStartsMakeTheChatOnceAndResetItEachTime) {
    testing::internal::CaptureStdout();
    game_server_init(*game, 0, "");
    testing::internal::GetCapturedStdout();
    Chat* chat = game->chat.get();
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(entries_made, 2) << "a new chat is reset by its constructor and again by the glue";
    EXPECT_EQ(entries_alive.size(), 1u);

    chat->append(1, "from the last match", 0);
    chat->set_keywords(list_of({"ann"}));
    testing::internal::CaptureStdout();
    game_server_init(*game, 0, "");
    game_server_deinit(*game);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(game->chat.get(), chat);
    EXPECT_TRUE(chat->lines.empty());
    EXPECT_EQ(chat->keywords, std::vector<std::string>{"ann"});
    EXPECT_EQ(entries_made, 3);
}

// ==== lines ========================================================================

TEST_F(ChatTest, AppendStampsTheTimeAndKeepsOrder) {
    game->chat.reset(new Chat());
    time_t before = time(nullptr);
    chat_append(*game, 0x00ff00, "first", 0);
    chat_append(*game, 0x000001, "second", -5);
    chat_append(*game, 0x123456, "", 0xabcdef);
    time_t after = time(nullptr);

    const auto& lines = game->chat->lines;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "first");
    EXPECT_EQ(lines[0].color, 0x00ff00);
    EXPECT_EQ(lines[0].bgcolor, 0);
    EXPECT_EQ(lines[1].text, "second");
    EXPECT_EQ(lines[1].color, 1);
    EXPECT_EQ(lines[1].bgcolor, -5);
    EXPECT_EQ(lines[2].text, "");
    EXPECT_EQ(lines[2].bgcolor, 0xabcdef);
    for (const auto& l : lines) {
        EXPECT_GE(l.time, before);
        EXPECT_LE(l.time, after);
    }
}

TEST_F(ChatTest, WithoutAChatAppendAndKeywordsDoNothingQuietly) {
    testing::internal::CaptureStdout();
    chat_append(*game, 0xffffff, "lost", 0);
    chat_keywords(*game, list_of({"a"}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(game->chat, nullptr);
}

TEST_F(ChatTest, LinesAreCappedInCountAndLength) {
    Chat chat;
    for (int i = 0; i < (int)CHAT_LINES_MAX + 100; i++) chat.append(i, "line " + std::to_string(i), 0);
    ASSERT_EQ(chat.lines.size(), CHAT_LINES_MAX);
    EXPECT_EQ(chat.lines.front().text, "line 100");
    EXPECT_EQ(chat.lines.front().color, 100);
    EXPECT_EQ(chat.lines.back().text, "line " + std::to_string(CHAT_LINES_MAX + 99));

    testing::internal::CaptureStdout();
    chat.append(7, std::string(100000, 'z'), 0);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(chat.lines.back().text, std::string(CHAT_LINE_BYTES_MAX, 'z'));
    EXPECT_EQ(chat.lines.back().color, 7);
    EXPECT_NE(log.find("cut"), std::string::npos);

    // The cut never splits a UTF-8 character: "a" then two-byte characters.
    std::string text = "a";
    for (int i = 0; i < 600; i++) text += "\xc3\xa9";
    testing::internal::CaptureStdout();
    chat.append(0, text, 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(chat.lines.back().text, text.substr(0, CHAT_LINE_BYTES_MAX - 1));

    // Exactly at the cap nothing is cut, and nothing is logged.
    testing::internal::CaptureStdout();
    chat.append(0, std::string(CHAT_LINE_BYTES_MAX, 'k'), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(chat.lines.back().text.size(), CHAT_LINE_BYTES_MAX);
}

// ==== keywords =====================================================================

TEST_F(ChatTest, KeywordsAreTheTextOfEachValueInOrder) {
    game->chat.reset(new Chat());
    chat_keywords(*game, list_of({"zed", 5, 2.5, "amy"}));
    EXPECT_EQ(game->chat->keywords, (std::vector<std::string>{"zed", "5", "2.5", "amy"}));

    // A dict gives its values in key order; the old list is replaced whole.
    var d = var(4, 0);
    d["b"] = "second";
    d["a"] = "first";
    chat_keywords(*game, d);
    EXPECT_EQ(game->chat->keywords, (std::vector<std::string>{"first", "second"}));

    chat_keywords(*game, list_of({}));
    EXPECT_TRUE(game->chat->keywords.empty());

    // Anything else leaves no keywords, with one log line.
    chat_keywords(*game, list_of({"x"}));
    testing::internal::CaptureStdout();
    chat_keywords(*game, var("ann,bob"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("keywords"), std::string::npos);
    EXPECT_TRUE(game->chat->keywords.empty());
}

TEST_F(ChatTest, KeywordsAreCappedInCountAndLength) {
    Chat chat;
    var many = var(3, 0);
    for (int i = 0; i < (int)CHAT_KEYWORDS_MAX + 50; i++) list_append(many, var("p" + std::to_string(i)));
    list_append(many, var(std::string(1000, 'n')));
    testing::internal::CaptureStdout();
    chat.set_keywords(many);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("dropped"), std::string::npos);
    ASSERT_EQ(chat.keywords.size(), CHAT_KEYWORDS_MAX);
    EXPECT_EQ(chat.keywords.front(), "p0");
    EXPECT_EQ(chat.keywords.back(), "p" + std::to_string(CHAT_KEYWORDS_MAX - 1));

    testing::internal::CaptureStdout();
    chat.set_keywords(list_of({"short", std::string(1000, 'n')}));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(chat.keywords.size(), 2u);
    EXPECT_EQ(chat.keywords[1], std::string(CHAT_KEYWORD_BYTES_MAX, 'n'));
}

}  // namespace
