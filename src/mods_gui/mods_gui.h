// mods_gui: the window side of the mod runtime: the mod's GUI pages and the
// console's prompt (ModsGui, the pages every ModsAPI of the Game gets; a
// headless host's are never built), and the in-game screen that the mod's
// "state" asks for.
//
// The markup parameters "html", "tabs" and "xhtml" become widgets inside the
// ModsGui root container, laid out for the current "state", with the quit and
// settings buttons on top (mods_api_gui.cpp). Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "mods/mods_api.h"
#include "ruvezor/util/qel_gui.h"

struct GameParts;
struct GameView;
struct ZentarUI;

class ModsGui : public ModsPages, public Container {
public:
    ModsAPI& api;       // the API whose pages these are
    GameView& view;     // asked whether the lobby is split
    ZentarUI& ui;       // its screen rectangle sizes the lobby page
    Container console;  // the console's prompt, built on first use
    int32_t console_built = 0;  // 1 once the prompt above was built

    ModsGui(ModsAPI& api, GameView& view, ZentarUI& ui);

    void gui_init(int keep) override;
    var gui_get(const std::string& name) override;
    void gui_set(const std::string& name, const var& value) override;
    void gui_paint() override;
    void gui_popup_dismiss() override;
};

// The pages of the running mod as the widget tree they are; null when no
// mod runs or it has no pages (no window side).
ModsGui* mods_gui_of(ModsAPI* api);
// The pages' answer to an event and their step of a frame (the root
// container's own); none and nothing without pages.
var mods_gui_event(ModsAPI* api, Event& e);
void mods_gui_loop(ModsAPI* api);

// Scrolling wrappers around a page; w or h below 1 count from the screen size.
Widget* lobby_scrollbox(Widget* content, int w, int h, const std::string& name);
Widget* mods_scrollbox(Widget* content, int w, int h);

// Style update and layout of every child of a mod page or the console; the
// root takes their extent.
void _mods_gui_layout(Container& root);

// The window side of mods_loop: moves the screen stack to the screen the
// mod's state asks for (the play screens for "play", the lobby for "lobby"
// ...), and ends the match for "quit" and the run for "exit".
void mods_gui_follow(GameParts& game, ModsAPI& api, const std::string& state, bool player2);
