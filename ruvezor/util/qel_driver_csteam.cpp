// qel_driver_csteam: the driver's Steam part, over libCSteamworks opened at
// run time. The flat functions are declared here as function pointers; every
// interface call takes the interface object (SteamUser(), SteamFriends() ...)
// as its first argument. A library that lacks any of them is not used.
#include "ruvezor/util/qel_driver_csteam.h"

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_social.h"

#include <dlfcn.h>    // dlopen, dlsym
#include <unistd.h>   // readlink of /proc/self/exe

#include <cstdint>
#include <cstdio>
#include <cstring>

// ---- types ----------------------------------------------------------------------

// Friend lists hold immediate friends only.
static const int STEAM_FRIEND_FLAG_IMMEDIATE = 4;
// Store overlay: add to cart and show it.
static const int STEAM_STORE_FLAG_ADD_TO_CART_AND_SHOW = 2;

struct _SteamLib {
  void* handle;                 // dlopen handle, null when not loaded
  char path[512];               // file the handle came from
  bool (*InitSafe)();
  void (*RunCallbacks)();
  void (*Shutdown)();
  void* (*SteamUser)();
  void* (*SteamFriends)();
  void* (*SteamUserStats)();
  void* (*SteamRemoteStorage)();
  void* (*SteamScreenshots)();
  void* (*SteamUtils)();
  uint64_t (*ISteamUser_GetSteamID)(void* user);
  const char* (*ISteamFriends_GetPersonaName)(void* friends);
  int (*ISteamFriends_GetFriendCount)(void* friends, int flags);
  uint64_t (*ISteamFriends_GetFriendByIndex)(void* friends, int index, int flags);
  void (*ISteamFriends_ActivateGameOverlay)(void* friends, const char* dialog);
  void (*ISteamFriends_ActivateGameOverlayToWebPage)(void* friends, const char* url);
  void (*ISteamFriends_ActivateGameOverlayToStore)(void* friends, uint32_t app, int flag);
  bool (*ISteamUserStats_RequestCurrentStats)(void* stats);
  bool (*ISteamUserStats_SetAchievement)(void* stats, const char* name);
  bool (*ISteamUserStats_StoreStats)(void* stats);
  bool (*ISteamUserStats_ResetAllStats)(void* stats, bool achievements_too);
  bool (*ISteamRemoteStorage_FileExists)(void* storage, const char* name);
  int32_t (*ISteamRemoteStorage_GetFileSize)(void* storage, const char* name);
  int32_t (*ISteamRemoteStorage_FileRead)(void* storage, const char* name, void* buf, int32_t cap);
  bool (*ISteamRemoteStorage_FileWrite)(void* storage, const char* name, const void* buf, int32_t n);
  uint32_t (*ISteamScreenshots_TriggerScreenshot)(void* screenshots);
  bool (*ISteamUtils_IsOverlayEnabled)(void* utils);
};

static_assert(sizeof(void*) == sizeof(void (*)()), "dlsym results fit function pointers");

// ---- globals ----------------------------------------------------------------------

static int _driver_steam_api = 0;         // InitSafe's result, 0 after Shutdown
static int _driver_steam_storestats = 0;  // statistics changes not yet stored
static char _driver_steam_uid[256];       // driver_steam_get_uid's answer
static _SteamLib _driver_steam_lib;       // the loaded library
static char _driver_steam_libname[512];   // "" = the default name

// ---- module-internal functions ----------------------------------------------------

// Resolves one symbol into its pointer; false when it is missing.
template <typename F>
static bool _steam_bind(void* handle, const char* name, F* slot) {
  void* sym = dlsym(handle, name);
  if (!sym) {
    qel_log("libCSteamworks lacks %s\n", name);
    return false;
  }
  memcpy(slot, &sym, sizeof(sym));
  return true;
}

static bool _steam_bind_all(void* h) {
  _SteamLib& L = _driver_steam_lib;
  bool ok = true;
  ok = _steam_bind(h, "InitSafe", &L.InitSafe) && ok;
  ok = _steam_bind(h, "RunCallbacks", &L.RunCallbacks) && ok;
  ok = _steam_bind(h, "Shutdown", &L.Shutdown) && ok;
  ok = _steam_bind(h, "SteamUser", &L.SteamUser) && ok;
  ok = _steam_bind(h, "SteamFriends", &L.SteamFriends) && ok;
  ok = _steam_bind(h, "SteamUserStats", &L.SteamUserStats) && ok;
  ok = _steam_bind(h, "SteamRemoteStorage", &L.SteamRemoteStorage) && ok;
  ok = _steam_bind(h, "SteamScreenshots", &L.SteamScreenshots) && ok;
  ok = _steam_bind(h, "SteamUtils", &L.SteamUtils) && ok;
  ok = _steam_bind(h, "ISteamUser_GetSteamID", &L.ISteamUser_GetSteamID) && ok;
  ok = _steam_bind(h, "ISteamFriends_GetPersonaName", &L.ISteamFriends_GetPersonaName) && ok;
  ok = _steam_bind(h, "ISteamFriends_GetFriendCount", &L.ISteamFriends_GetFriendCount) && ok;
  ok = _steam_bind(h, "ISteamFriends_GetFriendByIndex", &L.ISteamFriends_GetFriendByIndex) && ok;
  ok = _steam_bind(h, "ISteamFriends_ActivateGameOverlay", &L.ISteamFriends_ActivateGameOverlay) && ok;
  ok = _steam_bind(h, "ISteamFriends_ActivateGameOverlayToWebPage",
                   &L.ISteamFriends_ActivateGameOverlayToWebPage) && ok;
  ok = _steam_bind(h, "ISteamFriends_ActivateGameOverlayToStore",
                   &L.ISteamFriends_ActivateGameOverlayToStore) && ok;
  ok = _steam_bind(h, "ISteamUserStats_RequestCurrentStats",
                   &L.ISteamUserStats_RequestCurrentStats) && ok;
  ok = _steam_bind(h, "ISteamUserStats_SetAchievement", &L.ISteamUserStats_SetAchievement) && ok;
  ok = _steam_bind(h, "ISteamUserStats_StoreStats", &L.ISteamUserStats_StoreStats) && ok;
  ok = _steam_bind(h, "ISteamUserStats_ResetAllStats", &L.ISteamUserStats_ResetAllStats) && ok;
  ok = _steam_bind(h, "ISteamRemoteStorage_FileExists", &L.ISteamRemoteStorage_FileExists) && ok;
  ok = _steam_bind(h, "ISteamRemoteStorage_GetFileSize", &L.ISteamRemoteStorage_GetFileSize) && ok;
  ok = _steam_bind(h, "ISteamRemoteStorage_FileRead", &L.ISteamRemoteStorage_FileRead) && ok;
  ok = _steam_bind(h, "ISteamRemoteStorage_FileWrite", &L.ISteamRemoteStorage_FileWrite) && ok;
  ok = _steam_bind(h, "ISteamScreenshots_TriggerScreenshot",
                   &L.ISteamScreenshots_TriggerScreenshot) && ok;
  ok = _steam_bind(h, "ISteamUtils_IsOverlayEnabled", &L.ISteamUtils_IsOverlayEnabled) && ok;
  return ok;
}

static void _steam_unload() {
  if (_driver_steam_lib.handle) dlclose(_driver_steam_lib.handle);
  memset(&_driver_steam_lib, 0, sizeof(_driver_steam_lib));
}

static void* _steam_open(const char* path) {
  void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* err = dlerror();
    qel_log("libCSteamworks not loaded: %s\n", err ? err : path);
  }
  return h;
}

// Opens the library (again when its name changed); false when unusable.
static bool _steam_load() {
  const char* want = _driver_steam_libname[0] ? _driver_steam_libname : "libCSteamworks.so";
  if (_driver_steam_lib.handle && strcmp(_driver_steam_lib.path, want) == 0) return true;
  _steam_unload();

  void* h = _steam_open(want);
  if (!h && !_driver_steam_libname[0]) {
    // A shipped game keeps the library beside the program.
    char exe[512];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n > 0) {
      exe[n] = 0;
      char* slash = strrchr(exe, '/');
      char beside[1040];
      if (slash) {
        *slash = 0;
        int len = snprintf(beside, sizeof(beside), "%s/%s", exe, want);
        if (len > 0 && len < static_cast<int>(sizeof(beside))) h = _steam_open(beside);
      }
    }
  }
  if (!h) return false;
  _driver_steam_lib.handle = h;
  if (!_steam_bind_all(h)) {
    _steam_unload();
    return false;
  }
  snprintf(_driver_steam_lib.path, sizeof(_driver_steam_lib.path), "%s", want);
  return true;
}

// The user object while Steam is available, else null.
static void* _steam_user() {
  if (!_driver_steam_api || !_driver_steam_lib.handle) return nullptr;
  return _driver_steam_lib.SteamUser();
}

static bool _steam_ok() { return _steam_user() != nullptr; }

static bool _steam_overlay_enabled() {
  if (!_steam_ok()) return false;
  void* utils = _driver_steam_lib.SteamUtils();
  return utils && _driver_steam_lib.ISteamUtils_IsOverlayEnabled(utils);
}

// Copies at most max bytes without splitting a UTF-8 sequence: unlike
// str_put, since the player's name is shown, and half a letter shows as junk.
static void _steam_copy_text(char* dst, size_t max, const char* src) {
  size_t n = src ? strlen(src) : 0;
  if (n > max) {
    n = max;
    while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) n--;
  }
  if (n) memcpy(dst, src, n);
  dst[n] = 0;
}

// ---- start, loop and stop -----------------------------------------------------------

void driver_social_init() {
  // The login below makes the social state when it is missing, and making
  // it starts Steam: that inner start must not run InitSafe a second time.
  static bool starting = false;
  if (starting) return;
  starting = true;
  _driver_steam_api = 0;
  _driver_steam_storestats = 0;
  if (_steam_load()) _driver_steam_api = _driver_steam_lib.InitSafe() ? 1 : 0;
  qel_log("_driver_steam_api: %d\n", _driver_steam_api);

  if (!_steam_ok()) {
    fprintf(stderr, "steam init FAIL\n");
    social_login(nullptr, nullptr, nullptr);
    starting = false;
    return;
  }
  fprintf(stderr, "steam init OK\n");
  std::string uid = driver_steam_get_uid();
  char name[256];
  void* friends = _driver_steam_lib.SteamFriends();
  _steam_copy_text(name, sizeof(name) - 1,
                   friends ? _driver_steam_lib.ISteamFriends_GetPersonaName(friends) : nullptr);
  void* stats = _driver_steam_lib.SteamUserStats();
  if (stats) _driver_steam_lib.ISteamUserStats_RequestCurrentStats(stats);
  social_login("s", uid.c_str(), name);
  starting = false;
}

void driver_social_loop() {
  if (!_steam_ok()) return;
  if (_driver_steam_storestats != 0) {
    void* stats = _driver_steam_lib.SteamUserStats();
    if (stats) _driver_steam_lib.ISteamUserStats_StoreStats(stats);
    _driver_steam_storestats = 0;
  }
  _driver_steam_lib.RunCallbacks();
}

void driver_social_deinit() {
  if (_steam_ok()) _driver_steam_lib.Shutdown();
  // Nothing may reach into Steam after its shutdown.
  _driver_steam_api = 0;
  _driver_steam_storestats = 0;
}

void _driver_cloud_deinit() {}

// ---- identity -------------------------------------------------------------------------

int driver_steam_is_init() { return _steam_ok() ? 1 : 0; }

const char* driver_steam_get_uid() {
  _driver_steam_uid[0] = 0;
  void* user = _steam_user();
  if (user) {
    unsigned long long id = _driver_steam_lib.ISteamUser_GetSteamID(user);
    snprintf(_driver_steam_uid, sizeof(_driver_steam_uid), "%016llx", id);
  }
  return _driver_steam_uid;
}

std::vector<std::string> driver_social_friends_get() {
  std::vector<std::string> out;
  if (!_steam_ok()) return out;
  void* friends = _driver_steam_lib.SteamFriends();
  if (!friends) return out;
  int count = _driver_steam_lib.ISteamFriends_GetFriendCount(friends, STEAM_FRIEND_FLAG_IMMEDIATE);
  for (int i = 0; i < count; i++) {
    unsigned long long id =
        _driver_steam_lib.ISteamFriends_GetFriendByIndex(friends, i, STEAM_FRIEND_FLAG_IMMEDIATE);
    char text[256];
    snprintf(text, sizeof(text), "%s:%016llx", "s", id);
    out.push_back(text);
  }
  return out;
}

// ---- overlay and screenshots -----------------------------------------------------------

int driver_open_url_steam(const char* url) {
  qel_log("driver_open_url_steam\n");
  if (!_steam_ok()) {
    qel_log("...failed\n");
    return -1;
  }
  qel_log("Steam:WebPage\n");
  if (!_steam_overlay_enabled()) {
    qel_log("OverlayFail\n");
    return -1;
  }
  qel_log("OverlayEnabled\n");
  void* friends = _driver_steam_lib.SteamFriends();
  if (!friends) {
    qel_log("SteamFriends() is null\n");
    return -1;
  }
  qel_log("SteamFriends() is okay!\n");
  _driver_steam_lib.ISteamFriends_ActivateGameOverlayToWebPage(friends, url ? url : "");
  qel_log("We Made it!");
  return 0;
}

int driver_steam_open_overlay(const char* dialog) {
  if (!_steam_overlay_enabled()) return -1;
  void* friends = _driver_steam_lib.SteamFriends();
  if (!friends) return -1;
  _driver_steam_lib.ISteamFriends_ActivateGameOverlay(friends, dialog ? dialog : "");
  return 0;
}

int driver_steam_open_overlay_to_store(int app) {
  if (!_steam_overlay_enabled()) return -1;
  void* friends = _driver_steam_lib.SteamFriends();
  if (!friends) return -1;
  _driver_steam_lib.ISteamFriends_ActivateGameOverlayToStore(friends, static_cast<uint32_t>(app),
                                                            STEAM_STORE_FLAG_ADD_TO_CART_AND_SHOW);
  return 0;
}

int driver_social_achievements_show() {
  if (!_steam_ok()) return 0;
  driver_steam_open_overlay("Achievements");
  return 1;
}

void driver_steam_trigger_screenshot() {
  if (!_steam_ok()) return;
  void* shots = _driver_steam_lib.SteamScreenshots();
  if (shots) _driver_steam_lib.ISteamScreenshots_TriggerScreenshot(shots);
}

// ---- achievements and statistics ---------------------------------------------------------

void driver_social_achievment_set(const char* name, double value) {
  (void)value;
  if (!_steam_ok() || !name) return;
  void* stats = _driver_steam_lib.SteamUserStats();
  if (stats) _driver_steam_lib.ISteamUserStats_SetAchievement(stats, name);
  _driver_steam_storestats++;
}

void driver_social_achievements_reset() {
  if (!_steam_ok()) return;
  void* stats = _driver_steam_lib.SteamUserStats();
  if (stats) _driver_steam_lib.ISteamUserStats_ResetAllStats(stats, true);
  _driver_steam_storestats++;
}

void driver_social_leaderboard_submit(const char* name, double value) {
  if (_steam_ok()) qel_log("steam:driver_social_leaderboard_submit - not implemented\n");
}

void driver_social_leaderboard_show(const char* name) {}
void driver_social_friends_invite() {}
void driver_social_share(const char* text, const char* url, const char* extra) {}

// ---- cloud files -------------------------------------------------------------------------

// Remote storage while Steam is available, else null (document directory).
static void* _steam_storage() {
  if (!_steam_ok()) return nullptr;
  return _driver_steam_lib.SteamRemoteStorage();
}

int driver_cloud_save(const char* name, const void* buf, int n) {
  if (!_steam_ok()) return driver_doc_save(name, buf, n);
  void* storage = _steam_storage();
  bool ok = storage && name && n >= 0 && (n == 0 || buf) &&
            _driver_steam_lib.ISteamRemoteStorage_FileWrite(storage, name, buf, n);
  if (!ok) {
    qel_log("SteamRemoteStorage()->FileWrite failed\n");
    return 0;
  }
  return 1;
}

int driver_cloud_exists(const char* name) {
  if (!_steam_ok()) return driver_doc_exists(name);
  void* storage = _steam_storage();
  return storage && name && _driver_steam_lib.ISteamRemoteStorage_FileExists(storage, name) ? 1 : 0;
}

int driver_cloud_fsize(const char* name) {
  if (!_steam_ok()) return driver_doc_fsize(name);
  void* storage = _steam_storage();
  if (!storage || !name) return 0;
  int32_t size = _driver_steam_lib.ISteamRemoteStorage_GetFileSize(storage, name);
  return size < 0 ? 0 : size;
}

int driver_cloud_load(const char* name, void* buf, int cap) {
  if (!_steam_ok()) return driver_doc_load(name, buf, cap);
  if (!buf || cap <= 0) return 0;
  void* storage = _steam_storage();
  int32_t got = (storage && name)
                    ? _driver_steam_lib.ISteamRemoteStorage_FileRead(storage, name, buf, cap)
                    : 0;
  if (got <= 0) {
    memset(buf, 0, static_cast<size_t>(cap));
    qel_log("SteamRemoteStorage_FileRead failed\n");
    return 0;
  }
  return got > cap ? cap : got;
}

std::string driver_cloud_load(const char* name) {
  if (!driver_cloud_exists(name)) return std::string();
  int size = driver_cloud_fsize(name);
  if (size <= 0) return std::string();
  if (size > DRIVER_FILE_MAX) {
    qel_log("file too large: %s\n", name);
    return std::string();
  }
  std::string s(static_cast<size_t>(size), '\0');
  int got = driver_cloud_load(name, s.data(), size);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

// ---- seams -------------------------------------------------------------------------------

void _driver_steam_set_library(const char* path) {
  snprintf(_driver_steam_libname, sizeof(_driver_steam_libname), "%s", path ? path : "");
}
