#include "chat/chat.h"

#include "shell/game_parts.h"
#include "ruvezor/util/qel_log.h"

// ==== text caps ========================================================================

// Byte length of text cut to at most max bytes without splitting a UTF-8 sequence.
static size_t _chat_cut(const std::string& text, size_t max) {
    if (text.size() <= max) return text.size();
    size_t n = max;
    // Back off over UTF-8 continuation bytes so no character is split.
    for (int i = 0; i < 3 && n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80; i++) n--;
    return n;
}

// ==== the model =======================================================================

Chat::Chat() : entry(nullptr) { reset(); }

Chat::~Chat() {
    if (entry) _chat_entry_delete(entry);
    entry = nullptr;
}

void Chat::reset() {
    GameParts* game = game_parts();
    if (game && !game->headless) {
        TextInput* fresh = _chat_entry_new();
        if (entry) _chat_entry_delete(entry);
        entry = fresh;
    }
    lines.clear();
}

void Chat::append(int color, const std::string& text, int bgcolor) {
    size_t n = _chat_cut(text, CHAT_LINE_BYTES_MAX);
    if (n < text.size()) qel_log("chat: line of %d bytes cut to %d\n", (int)text.size(), (int)n);
    // Past the cap the oldest lines make room; erased in one go, not one a line.
    if (lines.size() >= CHAT_LINES_MAX)
        lines.erase(lines.begin(), lines.begin() + (ptrdiff_t)(lines.size() - CHAT_LINES_MAX + 1));
    lines.push_back(ChatLine{time(nullptr), color, text.substr(0, n), bgcolor});
}

void Chat::set_keywords(const var& list) {
    keywords.clear();
    int type = list.__type__();
    if (type != VAR_LIST && type != VAR_DICT) {
        if (type != VAR_NONE) qel_log("chat: keywords must be a list, not a %s\n", var_typename(type));
        return;
    }
    var it(list.__iter__());
    var key, value;
    int dropped = 0, cut = 0;
    while (it.__pair__(key, value)) {
        if (keywords.size() >= CHAT_KEYWORDS_MAX) {
            dropped++;
            continue;
        }
        std::string text = value.__str__();
        size_t n = _chat_cut(text, CHAT_KEYWORD_BYTES_MAX);
        if (n < text.size()) cut++;
        keywords.push_back(text.substr(0, n));
    }
    if (dropped || cut) qel_log("chat: keywords capped: %d dropped, %d cut\n", dropped, cut);
}

void chat_append(GameParts& game, int color, const std::string& text, int bgcolor) {
    if (game.chat) game.chat->append(color, text, bgcolor);
}

void chat_keywords(GameParts& game, const var& list) {
    if (game.chat) game.chat->set_keywords(list);
}
