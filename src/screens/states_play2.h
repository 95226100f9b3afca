// states_play2: two players face to face on one screen. The lower half shows
// the match upright for the first player, the upper half turned by 180
// degrees for the second; each half has its own input record and player.
#pragma once

#include <cstdint>
#include <map>

#include "ruvezor/util/qel_driver.h"  // Event
#include "ruvezor/util/qel_gui.h"
#include "render/zentar_ui.h"

struct GameParts;

class StatesPlay2 : public State {
public:
    GameParts& game;
    Container root;
    // 0 the whole screen (widgets, middle line), 1 the lower half, 2 the
    // upper half; the live Game.ui holds the current one, the others wait here.
    ZentarUI views[3];
    int32_t cur = 0;
    int32_t player = 0;  // the current half's user item
    // Pointer id to the half its press began in (1 or 2); missing = none.
    std::map<int32_t, int32_t> touch;

    explicit StatesPlay2(GameParts& g);
    void init() override;
    void init_resume();
    void deinit() override {}
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    void chplayer(int k);
    void game_paint();

private:
    void init_views();
    // e's x, y, dx, dy back to window pixels, then to the current view's units.
    static void remap(Event& e);
};

// The pause page over the two-player match.
class StatesPause2 : public State {
public:
    GameParts& game;
    State* below = nullptr;

    explicit StatesPause2(GameParts& g) : game(g) {}
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};
