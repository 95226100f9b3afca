// menus_webiap: the box shown while a Zencoin purchase runs in the system
// web browser; "Done" closes it.
#pragma once

#include "ruvezor/util/qel_gui.h"

class Game;

class MenusWebIAP : public State {
public:
    Game* game;
    Container root;

    explicit MenusWebIAP(Game* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};
