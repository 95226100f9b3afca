// mods_lua_limits: what the library functions a mod can hand to a limited
// z2_sandbox run pay for the work they do inside one C call.
//
// The count hook only sees VM instructions, and the allocator only sees the
// bytes that are made: a call that moves a million values, shifts a long
// table or compares its elements would otherwise cost one instruction.
// Inside a limited run these functions charge that work to the same limit
// (one instruction per value taken, given, moved or compared); everywhere
// else they are Lua's own, untouched. Where a charge cannot be known before
// the work (the length of a table, the number of comparisons of a sort) the
// function is ours, and charges as it goes.
#include <lua.hpp>

#include <climits>
#include <cstdint>

#include "mods/mods_lua.h"

namespace {

// ---- the generic wrapper ---------------------------------------------------------

// Upvalues: the wrapped function's own upvalues, then the wrapped function,
// the steps per call and the bytes per step (0: text is free).
int _charged_call(lua_State* L) {
    int last = 3;
    while (lua_type(L, lua_upvalueindex(last + 1)) != LUA_TNONE) last++;
    lua_CFunction own = lua_tocfunction(L, lua_upvalueindex(last - 2));
    if (!mods_lua_limited(L)) return own(L);
    uint64_t per = (uint64_t)lua_tointeger(L, lua_upvalueindex(last));
    int n = lua_gettop(L);
    uint64_t steps = (uint64_t)lua_tointeger(L, lua_upvalueindex(last - 1)) + (uint64_t)n;
    for (int i = 1; per && i <= n; i++) {
        if (lua_type(L, i) != LUA_TSTRING) continue;
        size_t len = 0;
        lua_tolstring(L, i, &len);
        steps += len / per;
    }
    mods_lua_charge(L, steps);
    // The wrapped function runs in this call: its argument errors name it
    // as the caller wrote it, and it sees its own upvalues.
    int r = own(L);
    steps = (uint64_t)r;
    for (int i = lua_gettop(L) - r + 1; per && i <= lua_gettop(L); i++) {
        if (lua_type(L, i) != LUA_TSTRING) continue;
        size_t len = 0;
        lua_tolstring(L, i, &len);
        steps += len / per;
    }
    mods_lua_charge(L, steps);
    return r;
}

// ---- table functions -----------------------------------------------------------------

// Values a loop handles between two charges.
constexpr int BATCH = 256;

int _tconcat_add(lua_State* L, luaL_Buffer* b, int i) {
    lua_rawgeti(L, 1, i);
    if (!lua_isstring(L, -1))
        return luaL_error(L, "invalid value (%s) at index %d in table for 'concat'", luaL_typename(L, -1), i);
    luaL_addvalue(b);
    return 0;
}

// table.concat, one step per element (empty strings make no bytes).
int _sb_concat(lua_State* L) {
    size_t lsep = 0;
    const char* sep = luaL_optlstring(L, 2, "", &lsep);
    luaL_checktype(L, 1, LUA_TTABLE);
    int i = luaL_optint(L, 3, 1);
    int last = luaL_opt(L, luaL_checkint, 4, luaL_len(L, 1));
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    int batch = 0;
    for (; i < last; i++) {
        if (++batch == BATCH) {
            mods_lua_charge(L, BATCH);
            batch = 0;
        }
        _tconcat_add(L, &b, i);
        luaL_addlstring(&b, sep, lsep);
    }
    if (i == last) _tconcat_add(L, &b, i);
    mods_lua_charge(L, (uint64_t)batch + 1);
    luaL_pushresult(&b);
    return 1;
}

// table.insert, one step per element moved up, charged before the move.
int _sb_insert(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    int e = luaL_len(L, 1) + 1;  // first empty element
    int pos;
    switch (lua_gettop(L)) {
        case 2:
            pos = e;
            break;
        case 3: {
            pos = luaL_checkint(L, 2);
            luaL_argcheck(L, 1 <= pos && pos <= e, 2, "position out of bounds");
            mods_lua_charge(L, (uint64_t)(e - pos));
            for (int i = e; i > pos; i--) {
                lua_rawgeti(L, 1, i - 1);
                lua_rawseti(L, 1, i);
            }
            break;
        }
        default:
            return luaL_error(L, "wrong number of arguments to 'insert'");
    }
    lua_rawseti(L, 1, pos);
    return 0;
}

// table.remove, one step per element moved down, charged before the move.
int _sb_remove(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    int size = luaL_len(L, 1);
    int pos = luaL_optint(L, 2, size);
    if (pos != size) luaL_argcheck(L, 1 <= pos && pos <= size + 1, 1, "position out of bounds");
    if (pos < size) mods_lua_charge(L, (uint64_t)size - (uint64_t)pos);
    lua_rawgeti(L, 1, pos);
    for (; pos < size; pos++) {
        lua_rawgeti(L, 1, pos + 1);
        lua_rawseti(L, 1, pos);
    }
    lua_pushnil(L);
    lua_rawseti(L, 1, pos);
    return 1;
}

// The order table.sort uses inside a limited run: the caller's function
// (upvalue 1) or Lua's own, one step per comparison and one per
// MODS_BYTES_PER_STEP bytes of two strings compared. A sort's comparisons
// are not bounded by n log n (a crafted order makes it quadratic), so they
// are paid one by one.
int _sort_less(lua_State* L) {
    if (!lua_isnil(L, lua_upvalueindex(1))) {
        mods_lua_charge(L, 1);
        lua_pushvalue(L, lua_upvalueindex(1));
        lua_insert(L, 1);
        lua_call(L, 2, 1);
        return 1;
    }
    uint64_t steps = 1;
    if (lua_type(L, 1) == LUA_TSTRING && lua_type(L, 2) == LUA_TSTRING) {
        size_t la = 0, lb = 0;
        lua_tolstring(L, 1, &la);
        lua_tolstring(L, 2, &lb);
        steps += (la < lb ? la : lb) / MODS_BYTES_PER_STEP;
    }
    mods_lua_charge(L, steps);
    lua_pushboolean(L, lua_compare(L, 1, 2, LUA_OPLT));
    return 1;
}

int _sb_sort(lua_State* L) {
    lua_CFunction own = lua_tocfunction(L, lua_upvalueindex(1));
    if (!mods_lua_limited(L)) return own(L);
    luaL_checktype(L, 1, LUA_TTABLE);
    if (!lua_isnoneornil(L, 2)) luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_settop(L, 2);
    lua_pushcclosure(L, _sort_less, 1);
    return own(L);
}

// ---- pcall ------------------------------------------------------------------------------

// pcall, as the library's, but an error it catches is charged: this Lua
// raises errors as C++ exceptions, and unwinding one costs about as much as
// a log line.
int _pcall_finish(lua_State* L, int ok) {
    if (!lua_checkstack(L, 1)) {
        lua_settop(L, 0);
        lua_pushboolean(L, 0);
        lua_pushstring(L, "stack overflow");
        return 2;
    }
    lua_pushboolean(L, ok);
    lua_replace(L, 1);
    return lua_gettop(L);
}

// Back from a yield inside the call: LUA_YIELD, or the error that ended it.
int _pcall_cont(lua_State* L) {
    int status = lua_getctx(L, nullptr);
    if (status != LUA_YIELD) mods_lua_charge(L, MODS_ERROR_STEPS);
    return _pcall_finish(L, status == LUA_YIELD);
}

int _sb_pcall(lua_State* L) {
    luaL_checkany(L, 1);
    lua_pushnil(L);
    lua_insert(L, 1);  // the slot of the status
    int status = lua_pcallk(L, lua_gettop(L) - 2, LUA_MULTRET, 0, 0, _pcall_cont);
    if (status != LUA_OK) mods_lua_charge(L, MODS_ERROR_STEPS);
    return _pcall_finish(L, status == LUA_OK);
}

struct Wrap {
    const char* lib;
    const char* name;
    uint64_t steps;  // per call
    uint64_t bytes;  // bytes of text per step, 0: text is free
};

// What the rest of the library pays beyond one step per value it takes and
// gives. os.clock and os.time ask the system.
const Wrap WRAPS[] = {
    {nullptr, "select", 0, 0},      {nullptr, "tonumber", 0, MODS_BYTES_PER_STEP},
    {"table", "unpack", 0, 0},      {"math", "max", 0, 0},
    {"math", "min", 0, 0},          {"bit32", "band", 0, 0},
    {"bit32", "bor", 0, 0},         {"bit32", "bxor", 0, 0},
    {"bit32", "btest", 0, 0},       {"coroutine", "yield", 0, 0},
    {"os", "clock", 100, 0},        {"os", "time", 1000, 0},
};

}  // namespace

bool mods_lua_limited(lua_State* L) {
    void* ud = nullptr;
    lua_getallocf(L, &ud);
    ModsLimiter* lim = static_cast<ModsLimiter*>(ud);
    return lim && lim->running && lim->count_limit;
}

void mods_lua_charged(lua_State* L, uint64_t steps, uint64_t bytes) {
    int fn = lua_gettop(L);
    lua_CFunction own = lua_tocfunction(L, fn);
    if (!own) return;
    int k = 0;
    while (lua_getupvalue(L, fn, k + 1)) k++;
    lua_pushcfunction(L, own);
    lua_pushinteger(L, (lua_Integer)steps);
    lua_pushinteger(L, (lua_Integer)bytes);
    lua_pushcclosure(L, _charged_call, k + 3);
    lua_replace(L, fn);
}

// Runs `change` on the C function lib.name on top of the stack and stores
// what it leaves there in its place.
template <typename Change>
static void _lib_change(lua_State* L, const char* lib, const char* name, Change change) {
    if (lib) {
        lua_getglobal(L, lib);
    } else {
        lua_pushglobaltable(L);
    }
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, name);
        if (lua_tocfunction(L, -1)) {
            change();
            lua_setfield(L, -2, name);
        } else {
            lua_pop(L, 1);
        }
    }
    lua_pop(L, 1);
}

void mods_lua_charge_calls(lua_State* L, const char* lib, const char* name, uint64_t steps, uint64_t bytes) {
    _lib_change(L, lib, name, [&] { mods_lua_charged(L, steps, bytes); });
}

void mods_lua_replace(lua_State* L, const char* lib, const char* name, lua_CFunction ours) {
    _lib_change(L, lib, name, [&] { lua_pushcclosure(L, ours, 1); });
}

void mods_lua_limits_open(lua_State* L) {
    lua_pushcfunction(L, _sb_pcall);
    lua_setglobal(L, "pcall");
    for (const Wrap& w : WRAPS) mods_lua_charge_calls(L, w.lib, w.name, w.steps, w.bytes);
    mods_lua_replace(L, "table", "concat", mods_lua_when_limited<_sb_concat>);
    mods_lua_replace(L, "table", "insert", mods_lua_when_limited<_sb_insert>);
    mods_lua_replace(L, "table", "remove", mods_lua_when_limited<_sb_remove>);
    mods_lua_replace(L, "table", "sort", _sb_sort);
}
