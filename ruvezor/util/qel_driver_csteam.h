// qel_driver_csteam: the driver's Steam part.
//
// Steam is reached through libCSteamworks, a flat C wrapper library that is
// not shipped with the game. It is opened at run time; when it is missing or
// does not start, every operation here does nothing, reports failure, or
// falls back to the document directory, so the game runs the same without it.
//
// Steam is available when InitSafe succeeded at start and SteamUser answers
// with an object. Ids are 64-bit Steam ids written as "%016llx".
#pragma once

#include <string>
#include <vector>

// ---- start, loop and stop (driven by the social layer) -----------------------

// Starts Steam once and logs the user in to the social layer (or out).
void driver_social_init();
// Stores pending statistics changes, then runs Steam's callbacks.
void driver_social_loop();
// Shuts Steam down; afterwards it counts as not available.
void driver_social_deinit();

// ---- identity ------------------------------------------------------------------

int driver_steam_is_init();                       // 1 while Steam is available
const char* driver_steam_get_uid();               // 16 hex digits, "" without Steam
std::vector<std::string> driver_social_friends_get();  // "s:%016llx" each

// ---- overlay and screenshots ---------------------------------------------------

// 0 when the overlay opened on the page, -1 otherwise (the caller then uses
// the system browser).
int driver_open_url_steam(const char* url);
int driver_steam_open_overlay(const char* dialog);      // 0 opened, -1 not
int driver_steam_open_overlay_to_store(int app);         // 0 opened, -1 not
int driver_social_achievements_show();                   // 1 opened, 0 not
void driver_steam_trigger_screenshot();

// ---- achievements and statistics -------------------------------------------------

// Marks the achievement as achieved; the store waits for the next loop.
void driver_social_achievment_set(const char* name, double value);
void driver_social_achievements_reset();
void driver_social_leaderboard_submit(const char* name, double value);
void driver_social_leaderboard_show(const char* name);
void driver_social_friends_invite();
void driver_social_share(const char* text, const char* url, const char* extra);

// ---- cloud files (Steam remote storage, else the document directory) -------------

int driver_cloud_save(const char* name, const void* buf, int n);  // 1 written, 0 failed
int driver_cloud_exists(const char* name);
int driver_cloud_fsize(const char* name);
// Bytes read, at most cap. With Steam a failed read zeroes all cap bytes.
int driver_cloud_load(const char* name, void* buf, int cap);
// The whole file; "" when it is missing, empty or unreadable.
std::string driver_cloud_load(const char* name);

// ---- seams -------------------------------------------------------------------------

// The library file opened by the next driver_social_init; null restores
// "libCSteamworks.so" (searched the usual way, then beside the program).
void _driver_steam_set_library(const char* path);
