// game_settings_io: the device id and the web identity derived from the
// settings record, and the helpers that seed the device id.
#pragma once

#include <string>

#include "shell/game_settings.h"

struct GameParts;

// Makes the device id when missing and derives lid, web_name, web_token and
// web_passwd from the account fields. Does nothing before the record has a
// version. Returns 0.
int game_settings_sync(GameParts& game);
// The same on a bare record.
int _settings_sync(Settings& s);

// A fixed 17-character text in the form of a hardware address.
std::string get_mac_address();
// Time of day as "seconds.microseconds".
std::string get_time_str();
// 32 lowercase hex digits: MD5 of 16 bytes of /dev/urandom, or of time, pid
// and clocks when that can't be read.
std::string get_rand_str();
// get_rand_str over another random source.
std::string _get_rand_str_from(const char* path);
// Returns a: for settings code that picks the first of three values.
int bset(int a, int b, int c);


// File names of the two images.
extern const char* const SETTINGS_CLOUD_FILE;  // "settings-cloud.dat"
extern const char* const SETTINGS_LOCAL_FILE;  // "settings-local.dat"
