// menus: the front-end screens' shared parts: their registration, the menu
// background widget, the common paint and loop every menu screen runs, the
// bottom bar with the actions all menus share, and the policy gate.
//
// Every menu screen owns one root Container that its init empties and
// rebuilds from markup, so no widget outlives a visit. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "web/game_web.h"  // WebRequest
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

// The star field behind the menus, placed first at 0,0 with the screen's size.
class MenusBG : public Widget {
public:
    GameParts* game;
    explicit MenusBG(GameParts* g);
    void paint() override;
};

// The first screen of a fresh installation: the policy text, the age and
// terms boxes and Continue, which stores the answer and goes to the main menu.
class MenusPreboard : public State {
public:
    GameParts* game;
    Container root;
    WebRequest request;                // the policy text, fetched once per run
    std::string text = "Loading\n...";
    uint8_t loaded = 0;                // 1 once text holds the policy
    uint8_t first = 1;                 // 1 until the first init

    explicit MenusPreboard(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;

    // Acts on a widget action; returns 1 when it used it.
    int _act(var action);
};

// Registers every menu screen under its name.
void menus_init(GameParts& game);

// content fitted into w x h, scrolling when taller; sizes below 1 count from
// the screen size (0 is the whole screen, -44 the screen less 44).
Container* menus_scrollbox(Widget* content, int w, int h);
void menus_paint_bkgr(GameParts& game);
// True when the menus are shown over a match (an in-game state is stacked).
bool menus_in_popup(GameParts& game);
// True when the current screen is "states_tabs": for menus that look
// different over the tabbed screen.
bool menus_in_tabs(GameParts& game);
// True when the policy was accepted and no client endpoint is open.
bool menus_do_account(GameParts& game);
void _sfx_play(const char* name);
// A random auto-name such as "AcidYak~512".
std::string namegen();

// The paint and loop most menu screens share. menus_paint_root is that paint
// without its clear, for screens that draw something of their own behind the
// page (the main menu's demo match, the error screen's darkened screen below).
void menus_paint_common(Container& root);
void menus_paint_root(Container& root);
void menus_loop_common(Container& root);
// The part of menus_paint_common after the clear: every child's style step and
// layout, the root's extent, then the children.
void menus_paint_root(Container& root);

// The escapes of a text placed in markup: & < > " and line feeds as <br/>.
std::string menus_html_escape(std::string text);

// ---- bottom bar and shared actions (menus_bar.cpp) ------------------------------------

void menus_tabs_init(GameParts& game, Container& root, const char* tab, int unused, int bar);
void menus_tabs_init_popup(GameParts& game, Container& root, const char* tab, int bar);
// 1 when the action was handled, 0 when the caller should look at it.
int menus_tabs_handle(GameParts& game, Event ev, var action);
