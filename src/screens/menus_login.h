// menus_login: the account page of the settings: Quick Play with a generated
// auto-name or a named ZentarID with a password, and the screen that turns
// the auto-name account into a named one. Both edit the account fields of
// the settings live and start the web login or the creation request.
#pragma once

#include <string>

#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"
#include "web/game_web.h"  // WebAccountForm

struct GameParts;

class MenusLogin : public State {
public:
    GameParts* game;
    Container root;

    explicit MenusLogin(GameParts* g);
    void init() override;
    void deinit() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    // {type "one_moment"} covers the page while a request runs, {type
    // "account"} rebuilds it from the stored account; returns none.
    var call(var msg) override;

    // The "One moment..." box over the page, holding the keyboard focus.
    void one_moment();
    // Acts on a widget action the shared handler left.
    void _act(var action);

protected:
    // The form fields filled from the settings after a rebuild.
    void _fill();
    // The account form as the creation screen found it.
    WebAccountForm before;
};

// Turns the auto-name account into a named one; acts like the login screen.
class MenusCreate : public MenusLogin {
public:
    explicit MenusCreate(GameParts* g);
    void init() override;
};

// The data of the creation request: the e-mail and the password's MD5 hex
// digits XORed digit by digit with the device id, as JSON.
std::string menus_create_data(const char* email, const char* passwd, const char* udid);
// text cut to at most max bytes without splitting a UTF-8 sequence.
std::string menus_cut_utf8(const std::string& text, size_t max);

// The web server's host name, as the policy note shows it.
std::string menus_web_host();
// A table row naming the web server when it is not the default one, else "".
std::string menus_server_note();
// The policy note and its View Policies button: a table row ending a page.
std::string menus_policy_note();
// Opens the policy page in the browser.
void menus_open_policy(GameParts& game);
