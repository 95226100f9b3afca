// qel_social: the user's identity on the platform's social network (Steam).
//
// The state is made by the first call (which starts the Steam part of the
// driver) and freed by social_deinit. Identity changes are sent to the
// application's event entry as a zeroed Event with only the type set:
// 30 a user logged in, 31 the user logged out.
#pragma once

#include <string>
#include <vector>

#include "ruvezor/util/qel_driver.h"  // Event

enum {
  SOCIAL_EVENT_LOGIN = 30,
  SOCIAL_EVENT_LOGOUT = 31,
};

int social_init();  // 1
// Any argument null or empty logs out. Same network and id: nothing happens.
void social_login(const char* network, const char* id, const char* name);
void social_logout();
void social_reset();  // logged out, no event
std::string social_user_uuid();     // "network:id", "" when logged out
std::string social_user_name();
std::string social_user_network();
void social_loop();
// Stops Steam, logs out and frees the state; nothing when never started.
void social_deinit();

void social_achievement_set(const char* name, double value);
void social_achievements_reset();
int social_achievements_show();
std::vector<std::string> social_friends_get();
void social_leaderboard_submit(const char* name, double value);
void social_leaderboard_show(const char* name);
void social_friends_invite();
void social_share(const char* text, const char* url, const char* extra);

// Where the login and logout events go: the application shell points this at
// its game_event; null drops them.
void _social_set_event_handler(void (*handler)(Event e));
