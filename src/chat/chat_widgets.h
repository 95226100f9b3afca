// chat_widgets: the widgets of the in-match chat panel and the panel itself.
//
// ChatLog shows Game.chat's lines above the input bar, newest at the bottom,
// and is pulled open or shut with a tab at its side; its open height is kept
// per layout in Settings.chat_height as per-mille of the screen height plus 1
// (so 0 and -1 mean never set, 1 a closed log). ChatTable is the input bar,
// drawn only while the log is open; ChatIcon is the corner button that opens
// the log or toggles the on-screen keyboard.
//
// The panel functions (chat_client.cpp) build these into a screen's root
// container and find them again by name: "chat", "chat_icon", "table",
// "input", "num_catch". Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;
class TextInput;

// ---- height slots ------------------------------------------------------------------------

// The settings slot a log of this layout uses: 2 under the orientation lock,
// 1 for the lobby layout, else 0.
int chat_slot(GameParts& game, int layout);
// Stored value <-> pixels for a screen height sh (sh <= 0 counts as 1).
int chat_slot_to_px(int value, int sh);
int chat_px_to_slot(float px, int sh);
// Pixel height of a slot on the current screen.
int chat_slot_px(GameParts& game, int slot);
// The panel is split into the right half of a wide lobby screen.
bool chat_split(GameParts& game);
// Lefty players get the tab and the icon at the right-hand corner.
bool chat_corner_rule(GameParts& game);
// Truncated line height of "font" 20 and "font-console" 20.
int chat_fh();
int chat_fc();

// ---- chat log ------------------------------------------------------------------------

class ChatLog : public Widget {
public:
    int32_t dragging = 0;
    float momentum = 0;
    GameParts* game = nullptr;
    int32_t font = 0;
    float scroll = 0;  // 0: the newest line at the bottom; larger shows older lines
    int32_t fade = 1;
    int32_t has_tab = 0;
    int32_t tab_held = 0;
    float tab_pos = 0;
    int32_t layout = 0;  // 1 lobby, 0 play
    float height = 0;    // the height last applied
    Event press_event{};
    float press_height = 0;
    float drag_height = 0;
    int32_t press_ticks = 0;
    int32_t live = 0;
    int32_t moved = 0;
    std::vector<float> line_heights;
    float content_height = 0;

    explicit ChatLog(GameParts* game);
    ~ChatLog() override;

    void set_value_i(int n) override;
    var event(Event* e) override;
    void loop() override;
    void paint() override;
    virtual void scrollbox_loop();

    // Applies the height h: for a screen that sizes the log; the tab
    // gesture applies its height itself.
    void change_tabpos(float h);
    void do_expand();
    var tab_event(Event* e);
    void _paint_text();
    // The slot this log writes and its pixel height.
    int slot();
    int slot_px();
    bool is_open() { return slot_px() > 1; }
    // Declared height, settings slot and position for a height h.
    void _apply(float h);
    void _apply_slot(float h, int slot);
    bool _on_tab(const Event* e);
    void _log_size();
};

// The log "chat" of a root container, null when it has none.
ChatLog* chat_log_find(Container& root);

// ---- input bar and icon ------------------------------------------------------------------

class ChatTable : public Table {
public:
    Container* root = nullptr;
    int32_t visible = 1;

    ChatTable() = default;
    void loop() override;
    void paint() override;
};

class ChatIcon : public Widget {
public:
    // What an in-game icon keeps of a press, so a drag can go to the match.
    GameParts* game = nullptr;
    int32_t pressed = 0;
    float press_x = 0, press_y = 0;
    Event press{};
    int32_t image = 0;  // "chat-icon"

    ChatLog* log = nullptr;
    Container* root = nullptr;

    explicit ChatIcon(GameParts* game);
    var event(Event* e) override;
    void loop() override;
    void paint() override;
};

// The user the local player's pointer acts for in the match.
int get_uid_mark_has_player(GameParts& game, int mark);

// ---- the panel (chat_client.cpp) -----------------------------------------------------------

void chat_init(GameParts& game, Container& root, int enabled, int tab, int layout);
void chat_deinit(GameParts& game, Container& root);
void chat_loop(GameParts& game, Container& root);
void chat_do_close(GameParts& game, Container& root);
void chat_do_close_fix(GameParts& game, Container& root);
// 1 when the chat took the event, 0 when the screen goes on with it.
int chat_event_handle(GameParts& game, Container& root, Event e, var result, int in_match);
var _chat_event_input(GameParts& game, Widget* entry, Event e);
// Sends the entry's line to the mod and the host and empties it.
void chat_send(GameParts& game, TextInput* entry);
// The half-typed line moves between the panel's entry and Chat.entry.
void chat_input_restore(GameParts& game, TextInput* entry);
void chat_input_save(GameParts& game, TextInput* entry);
