// menus_misc: the mods screen, the rolling credits and the stats, clans and
// store pages of the front end.
#pragma once

#include "ruvezor/util/qel_gui.h"

struct GameParts;

// Starts an example mod, a user mod or a typed mod file.
class MenusMods : public State {
public:
    GameParts* game;
    Container root;
    explicit MenusMods(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};

// The credits rising over the star field; they close once they have passed.
class MenusAbout : public State {
public:
    GameParts* game;
    Container root;
    float pos = 0;  // y of the credits page
    explicit MenusAbout(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};

// Pages with the logo, a line of text and the bottom bar.
class MenusStats : public State {
public:
    GameParts* game;
    Container root;
    explicit MenusStats(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};

class MenusClans : public State {
public:
    GameParts* game;
    Container root;
    explicit MenusClans(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};

class MenusStore : public State {
public:
    GameParts* game;
    Container root;
    explicit MenusStore(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
};
