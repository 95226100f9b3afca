// test: two screens for the developers' own checks.
//
// "test" runs a host and a client endpoint against each other over the
// loopback inside its init and logs what each side receives. The mods menu
// opens "test_magnetset": a random four-sided map of 21 planets, relaxed into
// place, played with the normal in-match controls; each opening uses the next
// random seed, so a layout can be brought back by its number.
#pragma once

#include "ruvezor/util/qel_gui.h"  // State, Container

class Game;

class Test : public State {
public:
    explicit Test(Game& game);
    ~Test() override;
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;

protected:
    Game& game;
    Container* gui;  // owned
};

class TestMagnetSet : public State {
public:
    explicit TestMagnetSet(Game& game);
    ~TestMagnetSet() override;
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;

    int seed = 0;     // raised by every init
    int running = 0;  // the world steps in loop while set

protected:
    Game& game;
    Container* gui;  // owned
};

// Registers "test" and "test_magnetset".
void test_init(Game& game);
