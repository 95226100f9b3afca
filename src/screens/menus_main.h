// menus_main: the main menu over its demo match, the splash logo, and the
// three small screens (online play, first-run practice, practice) that start
// a mod and leave the next move to the mod's "state" parameter.
#pragma once

#include <string>

#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

class MenusMain : public State {
public:
    GameParts* game;
    Container root;
    float timer = 0;     // seconds since the first visit
    float offset = 0;    // slide offset of the page
    int32_t first = 1;   // 1 until the first init
    int32_t skip = 0;    // 1 once a pointer was released: the slide shows finished

    explicit MenusMain(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;

    // Acts on a widget action the way a click would.
    void _act(var action);
};

class MenusSplash : public State {
public:
    GameParts* game;
    Container root;
    float timer = 0;

    explicit MenusSplash(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};

// Background and bar only, until the mod started in init moves on.
class MenusModScreen : public State {
public:
    GameParts* game;
    Container root;

    explicit MenusModScreen(GameParts* g);
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};

class MenusPlay : public MenusModScreen {
public:
    using MenusModScreen::MenusModScreen;
    void init() override;
};

class MenusFirst : public MenusModScreen {
public:
    using MenusModScreen::MenusModScreen;
    void init() override;
};

class MenusLite : public MenusModScreen {
public:
    using MenusModScreen::MenusModScreen;
    void init() override;
};

// Starts the data file `name` as the mod; `restore` puts Game.mod_file back
// afterwards so the screen's mod doesn't replace the player's choice.
void menus_start_mod(GameParts& game, const char* name, int builtin, var params, int restore);

// True when the cloud practice record says the player has played before.
bool menus_main_experienced(const std::string& record);
