// mods_lua_z2: the z2_ globals (and `require`) through which a mod reaches the
// game, and the conversions of their arguments and results.
//
// Every binding has one shape: check the argument count, fetch the ModsAPI
// from the registry, convert the arguments, call one operation, then raise a
// failure that the operation stored as a Lua error (catchable with pcall),
// else push the result. Lua errors are C++ exceptions in this Lua build, so
// the strings and vars held here are released when one is raised.
#include "mods/mods_lua.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_md5.h"

// ==== helpers ========================================================================

ModsAPI* mods_lua_api(lua_State* L) {
    lua_getfield(L, LUA_REGISTRYINDEX, "z2");
    ModsAPI* api = (ModsAPI*)lua_touserdata(L, -1);
    lua_pop(L, 1);
    if (!api) luaL_error(L, "no game API");
    return api;
}

void mods_lua_raise_api_error(lua_State* L, ModsAPI* api) {
    if (!api->api_error()) return;
    std::string msg = api->api_error_get();
    api->api_error_clear();
    // The failure wrote a line to the mod log.
    mods_lua_charge(L, MODS_LOG_LINE_STEPS + msg.size() / MODS_BYTES_PER_STEP);
    lua_pushlstring(L, msg.data(), msg.size());
    lua_error(L);
}

std::string my_lua_tostring(lua_State* L, int index, const char* fallback) {
    int t = lua_type(L, index);
    if (t == LUA_TSTRING || t == LUA_TNUMBER) {
        size_t len = 0;
        const char* s = lua_tolstring(L, index, &len);
        return std::string(s, len);
    }
    if (fallback) return fallback;
    luaL_error(L, "null string");
    return "";
}

int mods_lua_toint(lua_State* L, int index) {
    int isnum = 0;
    lua_Number v = lua_tonumberx(L, index, &isnum);
    return isnum ? zt_sat_int((double)v) : 0;
}

float mods_lua_tofloat(lua_State* L, int index) {
    double v = (double)lua_tonumber(L, index);
    // Out of float range is undefined as a cast; the nearest float is infinity.
    if (v > FLT_MAX) return HUGE_VALF;
    if (v < -FLT_MAX) return -HUGE_VALF;
    return (float)v;
}

var mods_lua_to_var(lua_State* L, int index) {
    switch (lua_type(L, index)) {
    case LUA_TNONE:
    case LUA_TNIL: return var();
    case LUA_TNUMBER: return var((double)lua_tonumber(L, index));
    case LUA_TBOOLEAN: return var(lua_toboolean(L, index) != 0);
    case LUA_TSTRING: {
        size_t len = 0;
        const char* s = lua_tolstring(L, index, &len);
        return var(std::string(s, len));
    }
    default: luaL_error(L, "null string"); return var();
    }
}

void mods_lua_push_var(lua_State* L, const var& v) {
    switch (v.__type__()) {
    case VAR_NONE: lua_pushnil(L); break;
    case VAR_NUMBER: lua_pushnumber(L, (lua_Number)v.__num__()); break;
    case VAR_BOOL: lua_pushboolean(L, v.__bool__() ? 1 : 0); break;
    default: {
        std::string s = v.__str__();
        lua_pushlstring(L, s.data(), s.size());
        break;
    }
    }
}

static void _check_args(lua_State* L, int n) {
    if (lua_gettop(L) != n) luaL_error(L, "incorrect number of arguments");
}

static void _check_args_min(lua_State* L, int n) {
    if (lua_gettop(L) < n) luaL_error(L, "incorrect number of arguments");
}

// The four numbers of a rectangle at arguments 1..4.
struct _Rect {
    float x, y, w, h;
};
static _Rect _rect_args(lua_State* L) {
    return {mods_lua_tofloat(L, 1), mods_lua_tofloat(L, 2), mods_lua_tofloat(L, 3),
            mods_lua_tofloat(L, 4)};
}

// Raises a stored failure, else pushes the item number.
static int _push_n(lua_State* L, ModsAPI* api, int n) {
    mods_lua_raise_api_error(L, api);
    lua_pushinteger(L, n);
    return 1;
}

static int _done(lua_State* L, ModsAPI* api) {
    mods_lua_raise_api_error(L, api);
    return 0;
}

// ==== world ==========================================================================

int z2_game_reset(lua_State* L) {
    _check_args(L, 0);
    ModsAPI* api = mods_lua_api(L);
    api->game_reset();
    return _done(L, api);
}

// Any count other than four settles into an empty rectangle.
int z2_planets_settle(lua_State* L) {
    ModsAPI* api = mods_lua_api(L);
    _Rect r = lua_gettop(L) == 4 ? _rect_args(L) : _Rect{0, 0, 0, 0};
    // Sixteen rounds of collisions over every item slot in use.
    mods_lua_charge(L, (uint64_t)std::max(api->game.world.top, 0) * 400);
    api->planets_settle(r.x, r.y, r.w, r.h);
    return _done(L, api);
}

int z2_view_set(lua_State* L) {
    _check_args(L, 4);
    ModsAPI* api = mods_lua_api(L);
    _Rect r = _rect_args(L);
    api->view_set(r.x, r.y, r.w, r.h);
    return _done(L, api);
}

int z2_bounds_set(lua_State* L) {
    _check_args(L, 4);
    ModsAPI* api = mods_lua_api(L);
    _Rect r = _rect_args(L);
    api->bounds_set(r.x, r.y, r.w, r.h);
    return _done(L, api);
}

int z2_clip_set(lua_State* L) {
    _check_args(L, 4);
    ModsAPI* api = mods_lua_api(L);
    _Rect r = _rect_args(L);
    api->clip_set(r.x, r.y, r.w, r.h);
    return _done(L, api);
}

int z2_user_init(lua_State* L) {
    _check_args(L, 3);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    int n = api->user_init(name, mods_lua_toint(L, 2), mods_lua_toint(L, 3));
    return _push_n(L, api, n);
}

int z2_team_init(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    int n = api->team_init(name, mods_lua_toint(L, 2));
    return _push_n(L, api, n);
}

int z2_planet_init(lua_State* L) {
    _check_args(L, 5);
    ModsAPI* api = mods_lua_api(L);
    int n = api->planet_init(mods_lua_toint(L, 1), mods_lua_tofloat(L, 2), mods_lua_tofloat(L, 3),
                             mods_lua_tofloat(L, 4), mods_lua_tofloat(L, 5));
    return _push_n(L, api, n);
}

int z2_fleet_init(lua_State* L) {
    _check_args(L, 4);
    ModsAPI* api = mods_lua_api(L);
    int n = api->fleet_init(mods_lua_toint(L, 1), mods_lua_tofloat(L, 2), mods_lua_toint(L, 3),
                            mods_lua_toint(L, 4));
    return _push_n(L, api, n);
}

int z2_item_init(lua_State* L) {
    _check_args(L, 0);
    ModsAPI* api = mods_lua_api(L);
    int n = api->item_init();
    return _push_n(L, api, n);
}

int z2_fleet_send(lua_State* L) {
    _check_args(L, 3);
    ModsAPI* api = mods_lua_api(L);
    int n = api->fleet_send(mods_lua_toint(L, 1), mods_lua_toint(L, 2), mods_lua_toint(L, 3));
    return _push_n(L, api, n);
}

int z2_fleet_redirect(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    api->fleet_redirect(mods_lua_toint(L, 1), mods_lua_toint(L, 2));
    return _done(L, api);
}

int z2_planet_chown(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    api->planet_chown(mods_lua_toint(L, 1), mods_lua_toint(L, 2));
    return _done(L, api);
}

// The image name is text like every other name argument: nil or a table is
// refused, not passed on as an empty name.
int z2_part_init(lua_State* L) {
    _check_args(L, 12);
    ModsAPI* api = mods_lua_api(L);
    std::string src = my_lua_tostring(L, 1);
    float f[11];
    for (int i = 0; i < 11; i++) f[i] = mods_lua_tofloat(L, i + 2);
    api->part_init(src, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10]);
    return _done(L, api);
}

// ==== items ==========================================================================

int z2_items_find(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    std::string query = my_lua_tostring(L, 1);
    // The search reads every item slot in use.
    mods_lua_charge(L, (uint64_t)std::max(api->game.world.top, 0) * 40);
    var found = api->items_find(query);
    mods_lua_raise_api_error(L, api);
    int count = found.__type__() == VAR_LIST ? found.__len__() : 0;
    lua_createtable(L, count, 0);
    for (int i = 0; i < count; i++) {
        lua_pushnumber(L, (lua_Number)found[i].__num__());
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

int z2_item_set(lua_State* L) {
    _check_args(L, 3);
    ModsAPI* api = mods_lua_api(L);
    int n = mods_lua_toint(L, 1);
    std::string key = my_lua_tostring(L, 2);
    var value = mods_lua_to_var(L, 3);
    api->item_set(n, key, value);
    return _done(L, api);
}

int z2_item_get(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    int n = mods_lua_toint(L, 1);
    std::string key = my_lua_tostring(L, 2);
    var value = api->item_get(n, key);
    mods_lua_raise_api_error(L, api);
    mods_lua_push_var(L, value);
    return 1;
}

int z2_item_destroy(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    api->item_destroy(mods_lua_toint(L, 1));
    return _done(L, api);
}

int z2_item_sync(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    api->item_sync(mods_lua_toint(L, 1));
    return _done(L, api);
}

int z2_item_selected(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    bool selected = api->item_selected(mods_lua_toint(L, 1));
    mods_lua_raise_api_error(L, api);
    lua_pushboolean(L, selected ? 1 : 0);
    return 1;
}

// ==== parameters and GUI =============================================================

int z2_param_set(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    std::string key = my_lua_tostring(L, 1);
    var value = mods_lua_to_var(L, 2);
    api->param_set(key, value);
    return _done(L, api);
}

int z2_param_get(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    std::string key = my_lua_tostring(L, 1);
    var value = api->param_get(key);
    mods_lua_raise_api_error(L, api);
    mods_lua_push_var(L, value);
    return 1;
}

int z2_gui_set(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    var value = mods_lua_to_var(L, 2);
    api->gui_set(name, value);
    return _done(L, api);
}

int z2_gui_get(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    var value = api->gui_get(name);
    mods_lua_raise_api_error(L, api);
    mods_lua_push_var(L, value);
    return 1;
}

// ==== network, chat, sounds, outside calls ===========================================

int z2_net_host(lua_State* L) {
    _check_args_min(L, 1);
    ModsAPI* api = mods_lua_api(L);
    int port = mods_lua_toint(L, 1);
    std::string token = lua_gettop(L) >= 2 ? my_lua_tostring(L, 2) : std::string();
    api->net_host(port, token);
    return _done(L, api);
}

int z2_net_join(lua_State* L) {
    _check_args_min(L, 2);
    ModsAPI* api = mods_lua_api(L);
    std::string host = my_lua_tostring(L, 1);
    int port = mods_lua_toint(L, 2);
    std::string token = lua_gettop(L) >= 3 ? my_lua_tostring(L, 3) : std::string();
    api->net_join(host, port, token);
    return _done(L, api);
}

// A uid without text addresses everybody.
int z2_net_send(lua_State* L) {
    _check_args(L, 3);
    ModsAPI* api = mods_lua_api(L);
    std::string uid = my_lua_tostring(L, 1, "");
    std::string type = my_lua_tostring(L, 2);
    std::string value = my_lua_tostring(L, 3);
    api->net_send(uid, type, value);
    return _done(L, api);
}

int z2_chat_append(lua_State* L) {
    _check_args_min(L, 2);
    ModsAPI* api = mods_lua_api(L);
    int color = mods_lua_toint(L, 1);
    std::string text = mods_lua_to_var(L, 2).__str__();
    int bgcolor = lua_gettop(L) >= 3 ? mods_lua_toint(L, 3) : 0;
    api->chat_append(color, text, bgcolor);
    return _done(L, api);
}

int z2_chat_keywords(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    std::string text = my_lua_tostring(L, 1);
    var list;
    json_decode(list, text.data(), text.size());  // a bad text is logged by the reader
    api->chat_keywords(list);
    return _done(L, api);
}

int z2_play_sound(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    api->play_sound(name);
    return _done(L, api);
}

int z2_play_music(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    api->play_music(name);
    return _done(L, api);
}

int z2_api_call(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    std::string action = my_lua_tostring(L, 1);
    std::string data = my_lua_tostring(L, 2);
    api->api_call(action, data);
    return _done(L, api);
}

int z2_ext_call(lua_State* L) {
    _check_args(L, 2);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    std::string value = my_lua_tostring(L, 2);
    std::string answer = api->ext_call(name, value);
    mods_lua_raise_api_error(L, api);
    lua_pushlstring(L, answer.data(), answer.size());
    return 1;
}

int z2_require(lua_State* L) {
    _check_args(L, 1);
    ModsAPI* api = mods_lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    api->require(name);
    return _done(L, api);
}

// Refuses a non-text argument like the other bindings instead of digesting
// an empty text.
int z2_md5_digest(lua_State* L) {
    _check_args(L, 1);
    std::string text = my_lua_tostring(L, 1);
    std::string hex = md5_hex(text.data(), text.size());
    lua_pushlstring(L, hex.data(), hex.size());
    return 1;
}
