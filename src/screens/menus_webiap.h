// menus_webiap: the box shown while a Zencoin purchase runs in the system
// web browser; "Done" closes it.
#pragma once

#include "ruvezor/util/qel_gui.h"

struct GameParts;

class MenusWebIAP : public State {
public:
    GameParts* game;
    Container root;

    explicit MenusWebIAP(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};
