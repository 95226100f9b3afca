// Fuzz entry for what an online host sends the chat: "chat" lines (JSON
// {uid, value, color, bgcolor}) and "keywords" (a JSON list of names), both
// read by the built-in online play client, then Tab completion over those
// names in the chat entry. Whatever the host sends, the client script runs
// on without an error, the chat keeps within its caps, and completion leaves
// the entry inside its length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/game.h"
#include "chat/chat.h"
#include "chat/chat_widgets.h"
#include "fuzz_bytes.h"
#include "fuzz_home.h"
#include "mods/mods_api.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "ruvezor/util/qel_json.h"

namespace {

Game* start() {
    FuzzHome::fresh_docs();
    Game* game = new Game();
    game->headless = 1;
    game->mod_builtin = 1;
    snprintf(game->mod_file, sizeof(game->mod_file), "mod_play.lua");
    // What the play menu hands the client after a web login: a host that
    // never answers, so every message comes from this entry.
    static const char params[] = R"({"host":"127.0.0.1","port":9,"token":"tok","name":"Ann","uid":"u1"})";
    var p;
    json_decode(p, params, sizeof(params) - 1);
    mods_restart(*game, 0, p);
    if (!mods_api_of(*game) || !game->chat) fuzz_fail("the online play client did not start");
    return game;
}

void host_says(Game& game, const char* type, const std::string& value) {
    var e(VAR_DICT, 0);
    e["type"] = var(type);
    e["value"] = var(value);
    mods_event(game, e);
    ModsAPI* api = mods_api_of(game);
    if (!api) fuzz_fail("the client script is gone");
    if (!api->error_first.empty()) fuzz_fail("the client script failed: " + api->error_first);
}

void check(const Chat& chat) {
    if (chat.lines.size() > CHAT_LINES_MAX) fuzz_fail("more lines than the cap");
    for (const ChatLine& l : chat.lines)
        if (l.text.size() > CHAT_LINE_BYTES_MAX) fuzz_fail("a line over the cap");
    if (chat.keywords.size() > CHAT_KEYWORDS_MAX) fuzz_fail("more keywords than the cap");
    for (const std::string& k : chat.keywords)
        if (k.size() > CHAT_KEYWORD_BYTES_MAX) fuzz_fail("a keyword over the cap");
}

// The player types text and presses Tab a few times.
void complete(Game& game, const std::string& typed, int tabs) {
    TextInput entry(0, 255);
    entry.set_value_s(typed.c_str());
    entry.caret = entry.anchor = static_cast<int>(entry.value.size());
    for (int i = 0; i < tabs; i++) {
        Event tab{};
        tab.type = GUI_EV_KEYDOWN;
        tab.key = GUI_KEY_TAB;
        tab.unicode = 9;
        _chat_event_input(game, &entry, tab);
        if (entry.value.size() > 255 * 4) fuzz_fail("completion overran the entry");
        if (entry.caret < 0 || entry.caret > static_cast<int>(entry.value.size())) fuzz_fail("caret outside the entry");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Game* game = start();
    FuzzBytes in(data, size);
    while (in.more()) {
        uint8_t op = in.u8();
        std::string value = in.bytes(in.u16() % 4096);
        switch (op % 3) {
            case 0: host_says(*game, "net:chat", value); break;
            case 1: host_says(*game, "net:keywords", value); break;
            default: complete(*game, value, 1 + op / 3 % 4); break;
        }
        check(*game->chat);
    }
    return 0;
}
