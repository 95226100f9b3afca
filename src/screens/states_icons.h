// states_icons: small icons laid over the match. A tap on one gives its
// action; a drag that starts on it and leaves it goes to the match controls
// as if it had begun there, so an icon never blocks a gesture.
#pragma once

#include <cstdint>

#include "ruvezor/util/qel_driver.h"  // Event
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

class GameIcon : public Widget {
public:
    GameParts& game;
    int32_t pressed = 0;  // 1 from a press on the icon until it is used up
    float press_x = 0, press_y = 0;  // that press in the icon's own coordinates
    Event press{};

    explicit GameIcon(GameParts& g) : game(g) {}
    ~GameIcon() override;
    var event(Event* e) override;
};

// The pause icon ("pause"): click {type "pause"}, press {type "ignore"}.
class WPause : public GameIcon {
public:
    explicit WPause(GameParts& g);
};
