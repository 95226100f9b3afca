// qel_social: the platform user's identity and achievements, in front of the
// driver's Steam part. The state is made by the first call and starts Steam.
#include "ruvezor/util/qel_social.h"

#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_log.h"

#include <cstdio>
#include <cstring>

// ---- types ----------------------------------------------------------------------

struct _SocialData {
  int32_t logged_in = 0;  // 1 while a user is logged in
  std::string network;    // "s" for Steam
  std::string id;         // id on that network
  std::string uuid;       // "network:id"
  std::string name;       // display name on the network
};

// ---- globals --------------------------------------------------------------------

static _SocialData* _social = nullptr;
static void (*_social_event_handler)(Event e) = nullptr;  // null: dropped

// ---- module-internal functions ----------------------------------------------------

static void _social_send(int type) {
  Event e;
  memset(&e, 0, sizeof(e));
  e.type = type;
  if (_social_event_handler) _social_event_handler(e);
}

// Makes the state on first use; starting Steam logs its user in or out.
static void _social_need() {
  if (_social) return;
  qel_log("social_init\n");
  _social = new _SocialData();
  driver_social_init();
}

static bool _social_missing(const char* s) { return !s || !*s; }

// ---- public functions --------------------------------------------------------------

int social_init() {
  _social_need();
  return 1;
}

void social_login(const char* network, const char* id, const char* name) {
  _social_need();
  // An empty name is still a name; no network or id is no identity.
  if (_social_missing(network) || _social_missing(id) || !name) {
    social_logout();
    return;
  }
  char uuid[256];
  snprintf(uuid, sizeof(uuid), "%s:%s", network, id);
  if (_social->logged_in && _social->uuid == uuid) return;
  social_logout();
  _social->logged_in = 1;
  _social->network = network;
  _social->id = id;
  _social->uuid = uuid;
  _social->name = name;
  qel_log("social_login name: %s, uuid: %s\n", _social->name.c_str(), _social->uuid.c_str());
  _social_send(SOCIAL_EVENT_LOGIN);
}

void social_logout() {
  _social_need();
  if (!_social->logged_in) return;
  qel_log("social_logout: %s\n", _social->uuid.c_str());
  // The handler sees the user still in place; the reset follows.
  _social_send(SOCIAL_EVENT_LOGOUT);
  if (_social) *_social = _SocialData();
}

void social_reset() {
  _social_need();
  *_social = _SocialData();
}

std::string social_user_uuid() {
  _social_need();
  return _social->uuid;
}

std::string social_user_name() {
  _social_need();
  return _social->name;
}

std::string social_user_network() {
  _social_need();
  return _social->network;
}

void social_loop() {
  _social_need();
  driver_social_loop();
}

void social_deinit() {
  // A run that never started the layer (a headless host) has nothing to stop.
  if (!_social) return;
  qel_log("social_deinit\n");
  driver_social_deinit();
  social_logout();
  delete _social;
  _social = nullptr;
}

void social_achievement_set(const char* name, double value) {
  _social_need();
  driver_social_achievment_set(name, value);
}

void social_achievements_reset() {
  _social_need();
  driver_social_achievements_reset();
}

int social_achievements_show() {
  _social_need();
  return driver_social_achievements_show();
}

std::vector<std::string> social_friends_get() {
  _social_need();
  return driver_social_friends_get();
}

void social_leaderboard_submit(const char* name, double value) {
  _social_need();
  driver_social_leaderboard_submit(name, value);
}

void social_leaderboard_show(const char* name) {
  _social_need();
  driver_social_leaderboard_show(name);
}

void social_friends_invite() { driver_social_friends_invite(); }

void social_share(const char* text, const char* url, const char* extra) {
  driver_social_share(text, url, extra);
}

void _social_set_event_handler(void (*handler)(Event e)) { _social_event_handler = handler; }
