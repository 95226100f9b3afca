// menus_settings: the settings screens. Five content screens (audio, video,
// controls, more options, extreme) under a shared tab bar, and three that only
// pass on to another screen (the entry, the popup entry, the account tab).
//
// A content screen shows the Settings values when it starts, writes its
// widgets back into Settings every frame, applies volume and video changes at
// once and saves both settings files when it is left. Over a network match it
// keeps the match running. Main thread only.
#pragma once

#include <string>

#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

// Adds the settings tab bar to root, the tab `current` marked and focused.
void settings_tabs_init(GameParts& game, Container& root, const char* current);
// Steps the match while the settings sit over a network match.
void settings_loop(GameParts& game, float dt);

// ---- screens that only pass on ----------------------------------------------------

// "menus_settings": the login screen once the policy was accepted, else audio.
class MenusSettings : public State {
public:
    GameParts* game;
    Container root;
    explicit MenusSettings(GameParts* g) : game(g) {}
    void init() override;
};

// "menus_settings_popup": opened over a screen; goes on to audio.
class MenusSettingsPopup : public State {
public:
    GameParts* game;
    Container root;
    explicit MenusSettingsPopup(GameParts* g) : game(g) {}
    void init() override;
};

// "menus_settings_account": the account tab is the login screen.
class MenusSettingsAccount : public State {
public:
    GameParts* game;
    Container root;
    explicit MenusSettingsAccount(GameParts* g) : game(g) {}
    void init() override;
};

// ---- content screens --------------------------------------------------------------

// What the five content screens share: bars, content placement, paint, the
// save on leaving and the match step.
class MenusSettingsPage : public State {
public:
    GameParts* game;
    Container root;

    MenusSettingsPage(GameParts* g, const char* tab_name) : game(g), tab(tab_name) {}
    void init() override;
    void deinit() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;

    // Acts on a widget action; returns 1 when it used it.
    virtual int _act(Event e, var action);

protected:
    const char* tab;  // the tab name: "audio", "video", ...
    virtual std::string _markup() = 0;
    // The content placed at 0,44; by default it scrolls when too tall.
    virtual Widget* _place(Widget* content);
    virtual void _read() = 0;
    // Writes the widget values into Settings; false ends the frame.
    virtual bool _write() = 0;

    // The widget's value as a whole number; 0 when it is not on the screen.
    int _get(const char* name, bool* found = nullptr);
    void _set(const char* name, int value);
};

class MenusSettingsAudio : public MenusSettingsPage {
public:
    explicit MenusSettingsAudio(GameParts* g) : MenusSettingsPage(g, "audio") {}
    int _act(Event e, var action) override;

protected:
    std::string _markup() override;
    Widget* _place(Widget* content) override;
    void _read() override;
    bool _write() override;
};

class MenusSettingsVideo : public MenusSettingsPage {
public:
    explicit MenusSettingsVideo(GameParts* g) : MenusSettingsPage(g, "video") {}

protected:
    std::string _markup() override;
    void _read() override;
    bool _write() override;
};

class MenusSettingsControls : public MenusSettingsPage {
public:
    explicit MenusSettingsControls(GameParts* g) : MenusSettingsPage(g, "controls") {}

protected:
    std::string _markup() override;
    void _read() override;
    bool _write() override;
};

class MenusSettingsOptions : public MenusSettingsPage {
public:
    explicit MenusSettingsOptions(GameParts* g) : MenusSettingsPage(g, "options") {}

protected:
    std::string _markup() override;
    void _read() override;
    bool _write() override;
};

class MenusSettingsExtreme : public MenusSettingsPage {
public:
    explicit MenusSettingsExtreme(GameParts* g) : MenusSettingsPage(g, "extreme") {}

protected:
    std::string _markup() override;
    void _read() override;
    bool _write() override;
};
