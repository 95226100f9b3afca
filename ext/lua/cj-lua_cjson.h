// cj-lua_cjson: the JSON module offered to Lua scripts as the table `cjson`.
//
// encode/decode and their settings (sparse arrays, depths, number precision,
// keep buffer, invalid numbers), plus `new` for a table with its own settings,
// `null`, `_NAME` "cjson" and `_VERSION` "2.1.0". JSON null decodes to nil: a
// null array element leaves a hole and a null object member is absent.
//
// Every buffer comes from the state's allocator and every failure, running
// out of memory and nesting too deep included, is a Lua error.
#pragma once

#include <lua.hpp>

// Pushes a fresh module table, stores it in the global `cjson` and returns 1.
int luaopen_cjson(lua_State* L);
