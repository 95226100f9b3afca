// menus_news: the two screens that show text from the web API: the news of
// a login reply, with links to screens and pages, and an error box over a
// darkened copy of the screen below.
#pragma once

#include <string>

#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

class MenusNews : public State {
public:
    GameParts* game;
    Container root;
    std::string content;  // news markup, kept for later visits

    explicit MenusNews(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    // {type "content", value markup} stores the news and rebuilds; returns none.
    var call(var msg) override;

    // Acts on a widget action.
    void _act(var action);
};

class MenusError : public State {
public:
    GameParts* game;
    Container root;
    std::string text;  // shown unescaped, so it may carry markup
    std::string copy;  // plain text shown in a field to select and copy, or empty

    explicit MenusError(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    // {type "content", value text} stores the text and rebuilds; returns none.
    // An optional "copy" puts that text in a field under it.
    var call(var msg) override;
};
