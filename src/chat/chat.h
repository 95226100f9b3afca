// chat: the chat model of online play.
//
// The lines received since the last join, the names that Tab completion
// offers and the half-typed entry kept while the in-game screens rebuild their
// widgets. One per run in Game.chat: made by the first client or host start,
// emptied by every later one, kept until the program ends. Mods fill it.
//
// Lines and keywords come from hosts, so both are capped in length and count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "ruvezor/util/qel_var.h"

struct GameParts;
class TextInput;

// One line of the chat log.
struct ChatLine {
    time_t time;       // when it was added; shown as hour and minute
    int32_t color;     // text colour 0xRRGGBB
    std::string text;  // drawn wrapped
    int32_t bgcolor;   // band behind the line when > 0; 0 means none
};

constexpr size_t CHAT_LINES_MAX = 500;         // oldest lines go first past this
constexpr size_t CHAT_LINE_BYTES_MAX = 1024;   // longer text is cut
constexpr size_t CHAT_KEYWORDS_MAX = 256;      // further keywords are dropped
constexpr size_t CHAT_KEYWORD_BYTES_MAX = 64;  // longer keywords are cut

class Chat {
public:
    std::vector<ChatLine> lines;        // oldest first
    std::vector<std::string> keywords;  // completion candidates, in the mod's order
    TextInput* entry;                   // owned stored entry; none when headless

    // Empties both lists, then reset().
    Chat();
    Chat(const Chat&) = delete;
    Chat& operator=(const Chat&) = delete;
    virtual ~Chat();

    // Empties the lines and, with a window, replaces the stored entry by a
    // fresh empty one (the old text is not carried over). Keywords stay.
    void reset();
    // Adds a line stamped with the current time.
    void append(int color, const std::string& text, int bgcolor);
    // Replaces the keywords by the text form of each value of a list or dict.
    void set_keywords(const var& list);
};

// The stored entry is a text entry widget (font "font" 20, 255 characters,
// single line, focusable, sized to its font, caret shown); these make and
// free it. Weak: the widget toolkit's build of them takes over.
TextInput* _chat_entry_new();
void _chat_entry_delete(TextInput* entry);

// What the mod API's chat_append and chat_keywords do: act on Game.chat, and
// nothing at all while there is none (before the first join or host start).
void chat_append(GameParts& game, int color, const std::string& text, int bgcolor);
void chat_keywords(GameParts& game, const var& list);
