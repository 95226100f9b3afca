// states: the in-game screens a running mod chooses through its "state"
// parameter, and the steps they share (root reset, the quit request with the
// mod's veto, the local player, keys kept away from a screen's own widgets).
#pragma once

#include "ruvezor/util/qel_driver.h"  // Event
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

// Creates and registers the in-game screens with the screen stack.
void states_init(GameParts& game);
// Quit with the mod's veto: 0 when the state became "quit", 1 otherwise.
int states_do_quit(GameParts& game, var action);
// The local player's user item n (0 for none); marks every user's has_player.
// which 2 asks for the second player. (chat/chat_widgets.cpp: the chat panel
// hands the match its presses for that player.)
int get_uid_mark_has_player(GameParts& game, int which);
// None for key events, else the container's event result.
var gui_event_no_kb(Container& root, Event& e);
// Empties the root and gives it a full-screen focus holder.
void states_root_reset(Container& root);
// The mod's page and its log over what is painted, dimmed first when veiled.
void states_mod_page_paint(GameParts& game, bool veil);

// A running one-player match.
class StatesPlay : public State {
public:
    GameParts& game;
    Container root;
    int32_t player = 0;

    explicit StatesPlay(GameParts& g) : game(g) {}
    void init() override;
    void init_resume();
    void deinit() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    void view_paint();  // world, HUD and root, without the console
};

// A scripted scene: the play screen with the status line for a HUD and the
// view's orientation locked.
class StatesScene : public State {
public:
    GameParts& game;
    Container root;
    int32_t player = 0;

    explicit StatesScene(GameParts& g) : game(g) {}
    void init() override;
    void init_resume();
    void deinit() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    void game_paint();
};

// The mod's page over a match that stays visible below: the play screen for
// the pause screen, the scene for the dialog and overlay screens.
class StatesCover : public State {
public:
    GameParts& game;
    State* below = nullptr;

    StatesCover(GameParts& g, const char* below_name, int scene, int cover)
        : game(g), below_name_(below_name), scene_(scene), cover_(cover) {}
    void init() override;
    void deinit() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;

private:
    const char* below_name_;
    int scene_;  // 1: the scene is below (orientation locked)
    int cover_;  // 1: darken the match
    // The below screen's root and player, null when it is not the kind expected.
    Container* below_root();
    int32_t* below_player();
};

class StatesPause : public StatesCover {
public:
    explicit StatesPause(GameParts& g) : StatesCover(g, "states_play", 0, 1) {}
};
class StatesDialog : public StatesCover {
public:
    explicit StatesDialog(GameParts& g) : StatesCover(g, "states_scene", 1, 1) {}
};
class StatesOverlay : public StatesCover {
public:
    explicit StatesOverlay(GameParts& g) : StatesCover(g, "states_scene", 1, 0) {}
};

// Takes the widget named "pause" out of root (only a direct child is deleted).
void states_remove_pause_icon(Container& root);

// Shared by the play and scene screens: the frame and event handling that
// differ only in the HUD and the state a pause goes to.
// The rest of their init, once the options and root are in place.
void _states_match_start(GameParts& game, Container& root, int32_t& player);
void _states_match_loop(GameParts& game, Container& root, int32_t& player, float dt);
void _states_match_event(GameParts& game, Container& root, int player, Event e, const char* pause_state);
