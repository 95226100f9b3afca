// states_lobby: the in-game screens that show the mod's own pages instead of
// a match: the lobby (page and chat panel, side by side on wide screens), the
// plain menu page, and the tabs page over the menu background.
#pragma once

#include <cstdint>

#include "ruvezor/util/qel_driver.h"  // Event
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

class StatesLobby : public State {
public:
    GameParts& game;
    Container root;

    explicit StatesLobby(GameParts& g) : game(g) {}
    void init() override;
    void init_resume();
    void deinit() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    // "lobby:split" answers true on a screen at least 640 wide.
    var call(var msg) override;
};

class StatesMenu : public State {
public:
    GameParts& game;

    explicit StatesMenu(GameParts& g) : game(g) {}
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};

// Registered twice: "states_tabs" and "states_xlobby".
class StatesTabs : public State {
public:
    GameParts& game;
    Container root;
    int32_t tabs = 0;  // 1 when "state" was "tabs" on entry: the bottom bar shows

    explicit StatesTabs(GameParts& g) : game(g) {}
    void init() override;
    void init_resume();
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};
