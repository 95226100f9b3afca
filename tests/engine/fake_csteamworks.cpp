// A stand-in for libCSteamworks, built as a loadable module for the Steam and
// social tests. It answers the flat functions the driver's Steam part opens,
// keeps remote storage in memory, and counts every call; the tests steer it
// and read it back through the fake_steam_ functions.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Fake {
  int init_ok = 1;          // InitSafe's answer
  int user = 1;             // SteamUser gives an object
  int friends_obj = 1;      // SteamFriends gives an object
  int overlay = 1;          // IsOverlayEnabled
  int write_ok = 1;         // FileWrite succeeds
  int read_ok = 1;          // FileRead reads
  uint64_t id = 0x0110000100abcdefULL;
  std::string persona = "Fake Pilot";
  int friends = 0;          // immediate friends
  std::map<std::string, int> calls;
  std::map<std::string, std::string> last;  // last arguments, as text
  std::map<std::string, std::string> files; // remote storage
  std::string log;          // call names in order, one per line
};

Fake& fake() {
  static Fake f;
  return f;
}

// Distinct non-null interface objects.
char obj_user, obj_friends, obj_stats, obj_storage, obj_shots, obj_utils;

void note(const char* fn, const std::string& args = std::string()) {
  fake().calls[fn]++;
  fake().last[fn] = args;
  fake().log += fn;
  fake().log += "\n";
}

}  // namespace

extern "C" {

// ---- control ------------------------------------------------------------------

void fake_steam_reset() { fake() = Fake(); }

// Steers one switch by name: "init_ok", "user", "friends_obj", "overlay",
// "write_ok", "read_ok", "friends" (count).
void fake_steam_set(const char* what, int value) {
  std::string w = what;
  Fake& f = fake();
  if (w == "init_ok") f.init_ok = value;
  else if (w == "user") f.user = value;
  else if (w == "friends_obj") f.friends_obj = value;
  else if (w == "overlay") f.overlay = value;
  else if (w == "write_ok") f.write_ok = value;
  else if (w == "read_ok") f.read_ok = value;
  else if (w == "friends") f.friends = value;
}

void fake_steam_set_user(unsigned long long id, const char* persona) {
  fake().id = id;
  fake().persona = persona ? persona : "";
}

int fake_steam_calls(const char* fn) {
  auto it = fake().calls.find(fn);
  return it == fake().calls.end() ? 0 : it->second;
}

const char* fake_steam_last(const char* fn) {
  static std::string s;
  auto it = fake().last.find(fn);
  s = it == fake().last.end() ? std::string() : it->second;
  return s.c_str();
}

const char* fake_steam_log() {
  static std::string s;
  s = fake().log;
  return s.c_str();
}

// Remote storage content; -1 when the file is absent.
int fake_steam_file(const char* name, char* out, int cap) {
  auto it = fake().files.find(name);
  if (it == fake().files.end()) return -1;
  int n = static_cast<int>(it->second.size());
  if (out) memcpy(out, it->second.data(), static_cast<size_t>(n < cap ? n : cap));
  return n;
}

void fake_steam_put_file(const char* name, const char* data, int n) {
  fake().files[name] = std::string(data, static_cast<size_t>(n));
}

// ---- the library's flat functions --------------------------------------------

bool InitSafe() {
  note("InitSafe");
  return fake().init_ok != 0;
}
void RunCallbacks() { note("RunCallbacks"); }
void Shutdown() { note("Shutdown"); }

void* SteamUser() { return fake().user ? &obj_user : nullptr; }
void* SteamFriends() { return fake().friends_obj ? &obj_friends : nullptr; }
void* SteamUserStats() { return &obj_stats; }
void* SteamRemoteStorage() { return &obj_storage; }
void* SteamScreenshots() { return &obj_shots; }
void* SteamUtils() { return &obj_utils; }

uint64_t ISteamUser_GetSteamID(void* self) {
  note("ISteamUser_GetSteamID", self == &obj_user ? "" : "bad self");
  return fake().id;
}

const char* ISteamFriends_GetPersonaName(void* self) {
  note("ISteamFriends_GetPersonaName", self == &obj_friends ? "" : "bad self");
  return fake().persona.c_str();
}

int ISteamFriends_GetFriendCount(void* self, int flags) {
  note("ISteamFriends_GetFriendCount", std::to_string(flags));
  return flags == 4 ? fake().friends : 0;
}

uint64_t ISteamFriends_GetFriendByIndex(void* self, int index, int flags) {
  note("ISteamFriends_GetFriendByIndex", std::to_string(index) + " " + std::to_string(flags));
  if (flags != 4 || index < 0 || index >= fake().friends) return 0;
  return 0x0110000100000000ULL + static_cast<uint64_t>(index) + 1;
}

void ISteamFriends_ActivateGameOverlay(void* self, const char* dialog) {
  note("ISteamFriends_ActivateGameOverlay", dialog ? dialog : "(null)");
}

void ISteamFriends_ActivateGameOverlayToWebPage(void* self, const char* url) {
  note("ISteamFriends_ActivateGameOverlayToWebPage", url ? url : "(null)");
}

void ISteamFriends_ActivateGameOverlayToStore(void* self, uint32_t app, int flag) {
  note("ISteamFriends_ActivateGameOverlayToStore", std::to_string(app) + " " + std::to_string(flag));
}

bool ISteamUserStats_RequestCurrentStats(void* self) {
  note("ISteamUserStats_RequestCurrentStats");
  return true;
}

bool ISteamUserStats_SetAchievement(void* self, const char* name) {
  note("ISteamUserStats_SetAchievement", name ? name : "(null)");
  return true;
}

bool ISteamUserStats_StoreStats(void* self) {
  note("ISteamUserStats_StoreStats");
  return true;
}

bool ISteamUserStats_ResetAllStats(void* self, bool achievements_too) {
  note("ISteamUserStats_ResetAllStats", achievements_too ? "true" : "false");
  return true;
}

bool ISteamRemoteStorage_FileExists(void* self, const char* name) {
  note("ISteamRemoteStorage_FileExists", name);
  return fake().files.count(name) != 0;
}

int32_t ISteamRemoteStorage_GetFileSize(void* self, const char* name) {
  note("ISteamRemoteStorage_GetFileSize", name);
  auto it = fake().files.find(name);
  return it == fake().files.end() ? 0 : static_cast<int32_t>(it->second.size());
}

int32_t ISteamRemoteStorage_FileRead(void* self, const char* name, void* buf, int32_t cap) {
  note("ISteamRemoteStorage_FileRead", std::string(name) + " " + std::to_string(cap));
  auto it = fake().files.find(name);
  if (!fake().read_ok || it == fake().files.end() || cap <= 0) return 0;
  int32_t n = static_cast<int32_t>(it->second.size());
  if (n > cap) n = cap;
  memcpy(buf, it->second.data(), static_cast<size_t>(n));
  return n;
}

bool ISteamRemoteStorage_FileWrite(void* self, const char* name, const void* buf, int32_t n) {
  note("ISteamRemoteStorage_FileWrite", std::string(name) + " " + std::to_string(n));
  if (!fake().write_ok || n < 0 || (n > 0 && !buf)) return false;
  fake().files[name] = n ? std::string(static_cast<const char*>(buf), static_cast<size_t>(n)) : std::string();
  return true;
}

uint32_t ISteamScreenshots_TriggerScreenshot(void* self) {
  note("ISteamScreenshots_TriggerScreenshot");
  return 1;
}

bool ISteamUtils_IsOverlayEnabled(void* self) {
  note("ISteamUtils_IsOverlayEnabled");
  return fake().overlay != 0;
}

}  // extern "C"
