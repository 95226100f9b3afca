// game_settings_io: the device id and the web identity derived from the
// settings record, the whole account id beside it, and the helpers that
// seed the device id.
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

// The account id the web login gave, whole. The record's uid field holds
// 63 characters; a longer id lives whole in the game's parts and, for later
// runs, in SETTINGS_ACCOUNT_FILE beside the record. The record decides: a
// whole id stands only while the record holds its beginning, so a cleared or
// changed record never pairs with an old id. After a restart the file is
// read once; without a file that fits, the record's text is the id.
std::string game_account_id(GameParts& game);
// Makes id the account's: cut into the record, whole beside it. `keep`
// (a login's answer) also writes or empties the file, in windowed runs.
void game_account_id_put(GameParts& game, const std::string& id, bool keep);
// Longest account id the game takes from a login or from the file.
enum { GAME_ACCOUNT_ID_MAX = 1024 };
// True for an id the game takes: 1..GAME_ACCOUNT_ID_MAX bytes, no control
// characters (what one header line can carry).
bool game_account_id_ok(const std::string& id);

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
// The whole account id when the record's field cuts it, else empty; kept in
// the cloud store like the record's account part.
extern const char* const SETTINGS_ACCOUNT_FILE;  // "account-id.dat"
