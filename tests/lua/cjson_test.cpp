// The JSON module for scripts, driven from Lua chunks in a plain state whose
// allocator counts every byte and can refuse on demand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <lua.hpp>

#include "ext/lua/cj-lua_cjson.h"

namespace {

// Counts live bytes; refuses growth past `cap` or at the `fail_at`-th growth.
struct Limiter {
    size_t live = 0;
    size_t peak = 0;
    size_t cap = SIZE_MAX;
    long grows = 0;
    long fail_at = -1;
};

void* limiter_alloc(void* ud, void* ptr, size_t osize, size_t nsize) {
    auto* m = static_cast<Limiter*>(ud);
    size_t old = ptr ? osize : 0;
    if (nsize == 0) {
        free(ptr);
        m->live -= old;
        return nullptr;
    }
    if (nsize > old) {  // Lua takes shrinking as never failing
        m->grows++;
        if (m->grows == m->fail_at) return nullptr;
        if (m->live - old + nsize > m->cap) return nullptr;
    }
    void* p = realloc(ptr, nsize);
    if (!p) return nullptr;
    m->live = m->live - old + nsize;
    if (m->live > m->peak) m->peak = m->live;
    return p;
}

// The settings the game's own script layer gives the module.
const char* const kGameSettings =
    "cjson.decode_invalid_numbers(true) cjson.decode_max_depth(256) cjson.encode_invalid_numbers(false) "
    "cjson.encode_keep_buffer(true) cjson.encode_max_depth(256) cjson.encode_number_precision(14) "
    "cjson.encode_sparse_array(true, 1, 1)";

const char* const kDeepEqual =
    "function deq(a, b) "
    "  if type(a) ~= type(b) then return false end "
    "  if type(a) ~= 'table' then return a == b end "
    "  for k, v in pairs(a) do if not deq(v, b[k]) then return false end end "
    "  for k in pairs(b) do if a[k] == nil then return false end end "
    "  return true "
    "end";

class Lua {
public:
    Limiter mem;
    lua_State* L;

    Lua() {
        L = lua_newstate(limiter_alloc, &mem);
        luaL_openlibs(L);
        lua_pushcfunction(L, luaopen_cjson);
        lua_call(L, 0, 1);
        lua_pop(L, 1);
        run(kDeepEqual);
    }
    ~Lua() {
        mem.fail_at = -1;
        mem.cap = SIZE_MAX;
        if (L) lua_close(L);
    }

    // Runs a chunk; its first result through tostring, or "ERR: " and the message.
    std::string run(const std::string& code) {
        int top = lua_gettop(L);
        std::string out;
        if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK) {
            const char* msg = lua_tostring(L, -1);
            std::string m = msg ? msg : "?";
            // The caller's position that Lua puts before a library error.
            if (m.rfind("test:1: ", 0) == 0) m.erase(0, 8);
            out = "ERR: " + m;
        } else {
            lua_getglobal(L, "tostring");
            lua_pushvalue(L, -2);
            lua_call(L, 1, 1);
            size_t n;
            const char* s = lua_tolstring(L, -1, &n);
            out.assign(s, n);
        }
        lua_settop(L, top);
        return out;
    }

    // cjson.decode on raw bytes; the status of the protected call.
    int decode_bytes(const std::string& bytes) {
        int top = lua_gettop(L);
        lua_getglobal(L, "cjson");
        lua_getfield(L, -1, "decode");
        lua_pushlstring(L, bytes.data(), bytes.size());
        int rc = lua_pcall(L, 1, 1, 0);
        if (rc == LUA_OK) lua_setglobal(L, "decoded");
        lua_settop(L, top);
        return rc;
    }
};

std::string q(const std::string& s) { return "return " + s; }

// ==== module table and settings ======================================================

TEST(CjsonModule, TableGlobalAndSettings) {
    Lua lua;
    EXPECT_EQ(lua.run(q("cjson._NAME .. ' ' .. cjson._VERSION")), "cjson 2.1.0");
    EXPECT_EQ(lua.run(q("type(cjson.null) .. tostring(cjson.null == nil)")), "userdatafalse");
    EXPECT_EQ(lua.run(q("cjson.encode(cjson.null)")), "null");
    EXPECT_EQ(lua.run(q("select('#', cjson.encode_sparse_array())")), "3");
    EXPECT_EQ(lua.run(q("table.concat({tostring(cjson.encode_sparse_array(true, 1, 1))}, ',')")), "true");
    EXPECT_EQ(lua.run("local a, b, c = cjson.encode_sparse_array() return tostring(a)..b..c"), "true11");
    EXPECT_EQ(lua.run(q("cjson.encode_max_depth() .. ' ' .. cjson.decode_max_depth()")), "1000 1000");
    EXPECT_EQ(lua.run(q("cjson.encode_number_precision(3)")), "3");
    EXPECT_EQ(lua.run(q("cjson.encode(math.pi)")), "3.14");
    EXPECT_EQ(lua.run(q("cjson.encode_invalid_numbers('null')")), "null");
    EXPECT_EQ(lua.run(q("cjson.encode_invalid_numbers(false)")), "false");
    EXPECT_EQ(lua.run(q("cjson.decode_invalid_numbers()")), "true");
    EXPECT_EQ(lua.run(q("cjson.encode_keep_buffer('off')")), "false");

    EXPECT_NE(lua.run("cjson.encode_number_precision(15)").find("expected integer between 1 and 14"), std::string::npos);
    EXPECT_NE(lua.run("cjson.encode_number_precision(2.5)").find("expected integer between 1 and 14"), std::string::npos);
    EXPECT_NE(lua.run("cjson.encode_max_depth(0)").find("expected integer between 1 and 2147483647"), std::string::npos);
    EXPECT_NE(lua.run("cjson.decode_max_depth(1e300)").find("expected integer between 1 and 2147483647"), std::string::npos);
    EXPECT_NE(lua.run("cjson.encode_sparse_array(true, -1)").find("expected integer between 0 and 2147483647"), std::string::npos);
    EXPECT_NE(lua.run("cjson.encode_sparse_array(true, 1, 1, 1)").find("found too many arguments"), std::string::npos);
    EXPECT_NE(lua.run("cjson.encode_max_depth(5, 6)").find("found too many arguments"), std::string::npos);
    EXPECT_NE(lua.run("cjson.encode_invalid_numbers('maybe')").find("invalid option"), std::string::npos);
    EXPECT_NE(lua.run("cjson.decode_invalid_numbers('null')").find("invalid option"), std::string::npos);
    // A failed change leaves the setting as it was.
    EXPECT_EQ(lua.run(q("cjson.encode_number_precision()")), "3");

    for (const char* call : {"cjson.encode()", "cjson.encode(1, 2)", "cjson.decode()", "cjson.decode('1', '2')"})
        EXPECT_NE(lua.run(call).find("expected 1 argument"), std::string::npos) << call;

    // `new` gives a table with settings of its own.
    EXPECT_EQ(lua.run("local c = cjson.new() c.encode_number_precision(5) "
                      "return c.encode(1/3) .. ' ' .. cjson.encode(1/3) .. ' ' .. tostring(c._VERSION)"),
              "0.33333 0.333 2.1.0");
}

// ==== encoding ============================================================================

TEST(CjsonEncode, StringsAreEscapedByTheTable) {
    Lua lua;
    EXPECT_EQ(lua.run(q("cjson.encode('a\"b\\\\c/d')")), "\"a\\\"b\\\\c\\/d\"");
    EXPECT_EQ(lua.run(q("cjson.encode('\\b\\t\\n\\f\\r')")), "\"\\b\\t\\n\\f\\r\"");
    EXPECT_EQ(lua.run(q("cjson.encode('\\0\\1\\31\\127')")), "\"\\u0000\\u0001\\u001f\\u007f\"");
    // High bytes (UTF-8 or not) go out unchanged.
    EXPECT_EQ(lua.run(q("cjson.encode('\\128\\255\\195\\169')")), "\"\x80\xff\xc3\xa9\"");
    EXPECT_EQ(lua.run(q("cjson.encode('')")), "\"\"");
}

TEST(CjsonEncode, NumbersAndInvalidNumbers) {
    Lua lua;
    lua.run(kGameSettings);
    EXPECT_EQ(lua.run(q("cjson.encode(1/3)")), "0.33333333333333");
    EXPECT_EQ(lua.run(q("cjson.encode(10)")), "10");
    EXPECT_EQ(lua.run(q("cjson.encode(1e300)")), "1e+300");
    EXPECT_EQ(lua.run(q("cjson.encode(123456789012345678)")), "1.2345678901235e+17");
    EXPECT_EQ(lua.run(q("cjson.encode(true) .. cjson.encode(false) .. cjson.encode(nil)")), "truefalsenull");

    EXPECT_EQ(lua.run("return cjson.encode(0/0)"), "ERR: Cannot serialise number: must not be NaN or Inf");
    EXPECT_EQ(lua.run("return cjson.encode({1, 1/0})"), "ERR: Cannot serialise number: must not be NaN or Inf");
    lua.run("cjson.encode_invalid_numbers('null')");
    EXPECT_EQ(lua.run(q("cjson.encode({0/0, 1/0, -1/0})")), "[null,null,null]");
    lua.run("cjson.encode_invalid_numbers(true)");
    EXPECT_EQ(lua.run(q("cjson.encode({0/0, 1/0, -1/0})")), "[nan,inf,-inf]");
}

TEST(CjsonEncode, TablesArraysAndSparseness) {
    Lua lua;
    EXPECT_EQ(lua.run(q("cjson.encode({})")), "{}");
    EXPECT_EQ(lua.run(q("cjson.encode({[1]=true,[2]=false})")), "[true,false]");
    EXPECT_EQ(lua.run(q("cjson.encode({1,{2,{}},'x'})")), "[1,[2,{}],\"x\"]");
    EXPECT_EQ(lua.run(q("cjson.encode({a={b=cjson.null}})")), "{\"a\":{\"b\":null}}");
    EXPECT_EQ(lua.run(q("cjson.encode({[1.5]=1})")), "{\"1.5\":1}");
    EXPECT_EQ(lua.run(q("cjson.encode({[-1]=1})")), "{\"-1\":1}");
    // Defaults (ratio 2, safe 10): a few holes are nulls, far ones are refused.
    EXPECT_EQ(lua.run(q("cjson.encode({[1]=1,[3]=3})")), "[1,null,3]");
    EXPECT_EQ(lua.run(q("cjson.encode({[10]=1})")), "[null,null,null,null,null,null,null,null,null,1]");
    EXPECT_EQ(lua.run("return cjson.encode({[11]=1})"), "ERR: Cannot serialise table: excessively sparse array");
    // A key no index can reach is sparse even when the ratio check is off.
    lua.run("cjson.encode_sparse_array(false, 0)");
    EXPECT_EQ(lua.run("return cjson.encode({[2^40]=1})"), "ERR: Cannot serialise table: excessively sparse array");

    lua.run(kGameSettings);
    EXPECT_EQ(lua.run(q("cjson.encode({1,2,3})")), "[1,2,3]");
    // Sparse becomes an object; its member order is the table's own.
    std::string obj = lua.run(q("cjson.encode({[1]=1,[3]=3})"));
    EXPECT_TRUE(obj == "{\"1\":1,\"3\":3}" || obj == "{\"3\":3,\"1\":1}") << obj;
    EXPECT_EQ(lua.run(q("cjson.encode({[2^40]=1})")), "{\"1099511627776\":1}");

    EXPECT_EQ(lua.run("return cjson.encode({[true]=1})"),
              "ERR: Cannot serialise boolean: table key must be a number or string");
    EXPECT_EQ(lua.run("return cjson.encode({f=print})"), "ERR: Cannot serialise function: type not supported");
    EXPECT_EQ(lua.run("return cjson.encode(io.stdout)"), "ERR: Cannot serialise userdata: type not supported");
    EXPECT_EQ(lua.run("return cjson.encode(coroutine.create(print))"),
              "ERR: Cannot serialise thread: type not supported");
    // The kept buffer raises on the thread that is encoding.
    EXPECT_EQ(lua.run("local co = coroutine.create(function() return cjson.encode({print}) end) "
                      "return select(2, coroutine.resume(co))"),
              "test:1: Cannot serialise function: type not supported");
    // It starts empty again after an error.
    EXPECT_EQ(lua.run(q("cjson.encode({'ok'})")), "[\"ok\"]");
}

TEST(CjsonEncode, FinalizersThatEncodeMidwayLeaveTheOuterTextIntact) {
    Lua lua;
    // A deep table grows a fresh coroutine's stack, so the collector steps in
    // the allocation that pushes the result and runs pending finalizers there;
    // these encode and drop the kept buffer under the outer call.
    EXPECT_EQ(lua.run("collectgarbage('stop') "
                      "local t = {string.rep('v', 3000)} for i = 1, 900 do t = {t} end "
                      "local want = cjson.encode(t) "
                      "local ran = 0 "
                      "local fin = {__gc = function() ran = ran + 1 "
                      "  cjson.encode(string.rep('y', 3000)) "
                      "  cjson.encode_keep_buffer(false) cjson.encode_keep_buffer(true) end} "
                      "for i = 1, 20000 do setmetatable({}, fin) end "
                      "collectgarbage('restart') while ran == 0 do collectgarbage('step') end "
                      "local bad = 0 "
                      "for round = 1, 300 do "
                      "  if coroutine.wrap(function() return cjson.encode(t) end)() ~= want then bad = bad + 1 end "
                      "end "
                      "return bad .. ' ' .. tostring(ran > 1000)"),
              "0 true");
}

// ==== decoding ============================================================================

TEST(CjsonDecode, ValuesAndNullAsNil) {
    Lua lua;
    lua.run(kGameSettings);
    EXPECT_EQ(lua.run("local t = cjson.decode('[1, null, 3]') return t[1] .. tostring(t[2]) .. t[3]"), "1nil3");
    EXPECT_EQ(lua.run("local t = cjson.decode('{\"a\": null}') return type(t) .. tostring(next(t))"), "tablenil");
    EXPECT_EQ(lua.run(q("cjson.decode('null')")), "nil");
    EXPECT_EQ(lua.run(q("cjson.decode(' \\t\\r\\n true ')")), "true");
    EXPECT_EQ(lua.run(q("cjson.decode('-1.5e3')")), "-1500");
    EXPECT_EQ(lua.run("local t = cjson.decode('{\"a\":[{\"b\":\"c\"}],\"a\":2}') return t.a"), "2");
    EXPECT_EQ(lua.run("local t = cjson.decode('{\"1\":5}') return tostring(t[1]) .. t['1']"), "nil5");
    EXPECT_EQ(lua.run(q("#cjson.decode('[[],{},[[]]]')")), "3");

    EXPECT_EQ(lua.run(q("cjson.decode('\"\\\\\" \\\\\\\\ \\\\/ \\\\b \\\\f \\\\n \\\\r \\\\t\"')")), "\" \\ / \b \f \n \r \t");
    EXPECT_EQ(lua.run(q("cjson.decode('\"\\\\u00e9\\\\u20AC\"')")), "\303\251\342\202\254");
    EXPECT_EQ(lua.run(q("cjson.decode('\"\\\\ud83d\\\\ude00\"')")), "\360\237\230\200");
    EXPECT_EQ(lua.run(q("#cjson.decode('\"a\\\\u0000b\"')")), "3");
    // Raw bytes, valid UTF-8 or not, and control characters pass as they are.
    EXPECT_EQ(lua.run(q("cjson.decode('\"\\255\\1\\195\"')")), "\377\001\303");
    EXPECT_EQ(lua.run(q("#cjson.decode('\"' .. string.rep('x', 5000) .. '\"')")), "5000");
}

TEST(CjsonDecode, ErrorsNameTheTokenAndPosition) {
    Lua lua;
    auto err = [&](const std::string& text) {
        lua_pushlstring(lua.L, text.data(), text.size());
        lua_setglobal(lua.L, "input");
        return lua.run("return cjson.decode(input)");
    };
    EXPECT_EQ(err(""), "ERR: Expected value but found T_END at character 1");
    EXPECT_EQ(err("[1,]"), "ERR: Expected value but found T_ARR_END at character 4");
    EXPECT_EQ(err("{\"a\" 1}"), "ERR: Expected colon but found T_NUMBER at character 6");
    EXPECT_EQ(err("{1:2}"), "ERR: Expected object key string but found T_NUMBER at character 2");
    EXPECT_EQ(err("{\"a\":1,}"), "ERR: Expected object key string but found T_OBJ_END at character 8");
    EXPECT_EQ(err("[1 2]"), "ERR: Expected comma or array end but found T_NUMBER at character 4");
    EXPECT_EQ(err("{\"a\":1 \"b\"}"), "ERR: Expected comma or object end but found T_STRING at character 8");
    EXPECT_EQ(err("1 2"), "ERR: Expected the end but found T_NUMBER at character 3");
    EXPECT_EQ(err("[true] x"), "ERR: Expected the end but found invalid token at character 8");
    EXPECT_EQ(err("@"), "ERR: Expected value but found invalid token at character 1");
    EXPECT_EQ(err("\"abc"), "ERR: Expected value but found unexpected end of string at character 5");
    EXPECT_EQ(err("\"abc\\"), "ERR: Expected value but found unexpected end of string at character 5");
    EXPECT_EQ(err("\"\\q\""), "ERR: Expected value but found invalid escape code at character 2");
    EXPECT_EQ(err("\"\\ud800\""), "ERR: Expected value but found invalid unicode escape code at character 2");
    EXPECT_EQ(err("\"\\ud800\\u0041\""), "ERR: Expected value but found invalid unicode escape code at character 2");
    EXPECT_EQ(err("\"\\u12\""), "ERR: Expected value but found invalid unicode escape code at character 2");
    EXPECT_EQ(err("-"), "ERR: Expected value but found invalid number at character 1");
    EXPECT_EQ(err(std::string("\0{", 2)), "ERR: JSON parser does not support UTF-16 or UTF-32");
    EXPECT_EQ(err(std::string("{\0", 2)), "ERR: JSON parser does not support UTF-16 or UTF-32");
    // A NUL later on is just a bad byte.
    EXPECT_EQ(err(std::string("[1,\0]", 5)), "ERR: Expected value but found invalid token at character 4");
    EXPECT_EQ(err(std::string("\"a\0b\"", 5)), std::string("a\0b", 3));
    // Keys past 40 bytes share hashes at will: one object takes 1024 of them,
    // and any number of shorter ones.
    auto keys = [](int n, int len) {
        std::string doc = "{";
        for (int i = 0; i < n; i++) {
            std::string k = std::to_string(i);
            doc += (i ? ",\"" : "\"") + std::string(len - k.size(), 'k') + k + "\":1";
        }
        return doc + "}";
    };
    EXPECT_EQ(err(keys(1024, 41)).substr(0, 6), "table:");
    EXPECT_EQ(err(keys(5000, 40)).substr(0, 6), "table:");
    std::string many = keys(1025, 41);
    EXPECT_EQ(err(many), "ERR: Found too many long keys (1025) in one object at character " +
                             std::to_string(many.size() - 45));
}

TEST(CjsonDecode, NumbersJsonForbidsFollowTheSetting) {
    Lua lua;
    lua.run(kGameSettings);
    EXPECT_EQ(lua.run(q("cjson.decode('0x10')")), "16");
    EXPECT_EQ(lua.run(q("cjson.decode('+1')")), "1");
    EXPECT_EQ(lua.run(q("cjson.decode('007')")), "7");
    EXPECT_EQ(lua.run(q("cjson.decode('-0X1f')")), "-31");
    EXPECT_EQ(lua.run(q("cjson.decode('[InF, -infinity]')[2]")), "-inf");
    EXPECT_EQ(lua.run("local n = cjson.decode('NaN') return tostring(n ~= n)"), "true");
    EXPECT_EQ(lua.run(q("cjson.decode('1e999')")), "inf");
    EXPECT_EQ(lua.run(q("cjson.decode('0')")), "0");
    EXPECT_EQ(lua.run(q("cjson.decode('[0]')[1]")), "0");

    lua.run("cjson.decode_invalid_numbers(false)");
    for (const char* bad : {"0x10", "+1", "007", "-01", "inf", "-Infinity", "NaN"}) {
        lua_pushstring(lua.L, bad);
        lua_setglobal(lua.L, "input");
        EXPECT_EQ(lua.run("return cjson.decode(input)"), "ERR: Expected value but found invalid number at character 1")
            << bad;
    }
    EXPECT_EQ(lua.run(q("cjson.decode('[-0.5e-1, 0, 12]')[1]")), "-0.05");
    EXPECT_EQ(lua.run(q("cjson.decode('nan')")).substr(0, 4), "ERR:");
    EXPECT_EQ(lua.run(q("cjson.decode('null')")), "nil");
}

// ==== nesting ============================================================================

TEST(CjsonDepth, BoundedInBothDirections) {
    Lua lua;
    lua.run(kGameSettings);
    lua.run("function nest(n) local t = {} for i = 2, n do t = {t} end return t end");
    EXPECT_EQ(lua.run(q("#cjson.encode(nest(256))")), "512");
    EXPECT_EQ(lua.run("return cjson.encode(nest(257))"), "ERR: Cannot serialise, excessive nesting (257)");
    EXPECT_EQ(lua.run(q("type(cjson.decode(string.rep('[', 256) .. string.rep(']', 256)))")), "table");
    EXPECT_EQ(lua.run("return cjson.decode(string.rep('[', 257) .. string.rep(']', 257))"),
              "ERR: Found too many nested data structures (257) at character 257");
    EXPECT_EQ(lua.run("return cjson.decode(string.rep('{\"a\":', 257) .. '1' .. string.rep('}', 257))"),
              "ERR: Found too many nested data structures (257) at character 1281");

    // Whatever depth a script allows, C recursion stops at a fixed ceiling.
    lua.run("cjson.encode_max_depth(2147483647) cjson.decode_max_depth(2147483647)");
    EXPECT_EQ(lua.run("local t = {} t[1] = t return cjson.encode(t)"), "ERR: Cannot serialise, excessive nesting (1001)");
    EXPECT_EQ(lua.run(q("#cjson.encode(nest(1000))")), "2000");
    EXPECT_EQ(lua.run("return cjson.decode(string.rep('[', 200000))"),
              "ERR: Found too many nested data structures (1001) at character 1001");
    EXPECT_EQ(lua.run("return cjson.decode(string.rep('{\"\":', 200000))"),
              "ERR: Found too many nested data structures (1001) at character 4001");
    EXPECT_EQ(lua.run(q("type(cjson.decode(string.rep('[', 1000) .. string.rep(']', 1000)))")), "table");
}

// ==== memory ============================================================================

TEST(CjsonMemory, BuffersComeFromTheStateAllocator) {
    const size_t n = 1 << 20;
    {
        Lua lua;
        lua.run("cjson.encode_keep_buffer(false) s = string.rep('a', " + std::to_string(n) + ") collectgarbage()");
        lua.mem.peak = lua.mem.live;
        size_t before = lua.mem.live;
        EXPECT_EQ(lua.run(q("#cjson.encode(s)")), std::to_string(n + 2));
        // The output buffer (at least n) and the result (n) were alive together.
        EXPECT_GE(lua.mem.peak - before, 2 * n);

        // The kept buffer stays counted until it is let go ...
        const std::string small = std::to_string(4 * 1024);
        lua.run("cjson.encode_keep_buffer(true) cjson.encode(string.rep('b', " + small + ")) collectgarbage()");
        size_t kept = lua.mem.live;
        EXPECT_GE(kept, before + 4 * 1024);
        lua.run("cjson.encode_keep_buffer(false) collectgarbage()");
        EXPECT_LE(lua.mem.live + 4 * 1024, kept);
        // ... but one that a large text grew goes back after that encode.
        lua.run("cjson.encode_keep_buffer(true) cjson.encode(s) collectgarbage()");
        EXPECT_LT(lua.mem.live, before + n / 2);
        lua.run("cjson.encode_keep_buffer(false) collectgarbage()");

        // The decoder's string buffer as well.
        lua.run("j = cjson.encode(s) s = nil collectgarbage()");
        lua.mem.peak = lua.mem.live;
        before = lua.mem.live;
        EXPECT_EQ(lua.run(q("#cjson.decode(j)")), std::to_string(n));
        EXPECT_GE(lua.mem.peak - before, 2 * n);
        lua.run("cjson.encode_keep_buffer(true) cjson.encode({1})");
    }
    // Every block went back with its true size, the kept one through __gc.
    Limiter after;
    {
        lua_State* L = lua_newstate(limiter_alloc, &after);
        luaL_openlibs(L);
        luaopen_cjson(L);
        luaL_dostring(L, "cjson.encode(string.rep('x', 100000)) cjson.new().encode({string.rep('y', 5000)})");
        lua_close(L);
    }
    EXPECT_EQ(after.live, 0u);
}

TEST(CjsonMemory, RunningOutIsALuaError) {
    Lua lua;
    lua.run("s = string.rep('\\1', 1000000) j = '\"' .. string.rep('b', 3000000) .. '\"' collectgarbage()");
    lua.mem.cap = lua.mem.live + 4000000;
    // Every byte of s escapes to six: far past the cap.
    for (const char* keep : {"true", "false"}) {
        lua.run(std::string("cjson.encode_keep_buffer(") + keep + ")");
        std::string r = lua.run("return cjson.encode(s)");
        EXPECT_NE(r.find("not enough memory"), std::string::npos) << r;
    }
    // The decoder needs a 3 MB string buffer and a 3 MB result.
    std::string r = lua.run("return cjson.decode(j)");
    EXPECT_NE(r.find("not enough memory"), std::string::npos) << r;
    // The state goes on working and nothing stayed behind.
    lua.run("collectgarbage()");
    EXPECT_EQ(lua.run(q("cjson.encode(cjson.decode('[1,\"x\"]'))")), "[1,\"x\"]");
    EXPECT_LT(lua.mem.live, lua.mem.cap - 3000000);
}

TEST(CjsonMemory, EveryFailingAllocationIsALuaError) {
    const char* chunk =
        "local t = cjson.decode('{\"a\":[1,2,{\"b\":\"\\\\u00e9xyz\"}],\"c\":\"' .. string.rep('q', 3000) .. '\"}') "
        "return cjson.encode(t)";
    for (const char* keep : {"true", "false"}) {
        int failures = 0;
        for (long n = 1;; n++) {
            Lua lua;
            lua.run(std::string("cjson.encode_keep_buffer(") + keep + ")");
            ASSERT_EQ(luaL_loadbuffer(lua.L, chunk, strlen(chunk), "=chunk"), LUA_OK);
            lua.mem.grows = 0;
            lua.mem.fail_at = n;
            int rc = lua_pcall(lua.L, 0, 1, 0);
            lua.mem.fail_at = -1;
            ASSERT_TRUE(rc == LUA_OK || rc == LUA_ERRRUN || rc == LUA_ERRMEM) << rc;
            lua_pop(lua.L, 1);
            if (rc == LUA_OK && lua.mem.grows < n) break;  // no allocation was refused
            failures++;
            EXPECT_EQ(lua.run(q("cjson.encode({cjson.decode('[2]')})")), "[[2]]");
            ASSERT_LT(n, 5000);
        }
        EXPECT_GT(failures, 5);
    }
}

// ==== untrusted input ===================================================================

std::string random_json(std::mt19937& rng, int depth) {
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    int kind = depth > 4 ? pick(4) : pick(6);
    switch (kind) {
    case 0: {
        // Exact in 14 digits, so a round trip keeps it.
        int v = pick(2000001) - 1000000;
        return pick(2) ? std::to_string(v) : std::to_string(v) + ".5";
    }
    case 1: {
        std::string s = "\"";
        int len = pick(12);
        for (int i = 0; i < len; i++) {
            unsigned char c = (unsigned char)pick(256);
            if (c == '"' || c == '\\')
                s += '\\', s += (char)c;
            else if (c < 32 || c == 127) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\u%04x", c);
                s += esc;
            } else
                s += (char)c;
        }
        return s + "\"";
    }
    case 2:
        return pick(2) ? "true" : "false";
    case 3:
        return "\"\\ud83d\\ude00\\u00e9\"";
    case 4: {
        std::string s = "[";
        int n = pick(5);
        for (int i = 0; i < n; i++) s += (i ? "," : "") + random_json(rng, depth + 1);
        return s + "]";
    }
    default: {
        std::string s = "{";
        int n = pick(5);
        for (int i = 0; i < n; i++) s += (i ? ",\"k" : "\"k") + std::to_string(pick(8)) + "\":" + random_json(rng, depth + 1);
        return s + "}";
    }
    }
}

TEST(CjsonUntrusted, ValidDocumentsRoundTrip) {
    Lua lua;
    lua.run(kGameSettings);
    std::mt19937 rng(20261208);
    for (int i = 0; i < 1500; i++) {
        std::string text = random_json(rng, 0);
        lua_pushlstring(lua.L, text.data(), text.size());
        lua_setglobal(lua.L, "input");
        ASSERT_EQ(lua.run("local v = cjson.decode(input) return deq(v, cjson.decode(cjson.encode(v)))"), "true")
            << text;
    }
}

TEST(CjsonUntrusted, MutatedAndRandomBytesGiveAValueOrAnError) {
    Lua lua;
    lua.run(kGameSettings);
    std::mt19937 rng(7);
    auto pick = [&](size_t n) { return n ? (size_t)(rng() % n) : 0; };
    const std::vector<std::string> tokens = {"[", "]", "{", "}", ",", ":", "\"", "\\", "\\u", "\\ud800",
                                             "null", "true", "-", "0x", "1e", "1e999", "inf", "nan", "+",
                                             std::string(1, '\0'), "\xff", "\xc3", "99999999999999999999999999"};
    int values = 0, errors = 0;
    for (int i = 0; i < 4000; i++) {
        std::string s = random_json(rng, 0);
        int edits = 1 + (int)pick(6);
        for (int e = 0; e < edits; e++) {
            size_t at = pick(s.size() + 1);
            switch (pick(7)) {
            case 0: if (!s.empty()) s[pick(s.size())] = (char)pick(256); break;
            case 1: s.insert(at, 1, (char)pick(256)); break;
            case 2: s.resize(at); break;
            case 3: s.insert(at, tokens[pick(tokens.size())]); break;
            case 4: if (at < s.size()) s.erase(at, 1 + pick(4)); break;
            case 5: s.insert(at, s.substr(0, pick(s.size() + 1))); break;
            default: s.insert(at, std::string(pick(400), pick(2) ? '[' : '{')); break;
            }
        }
        if (i % 10 == 0) {  // now and then, plain noise
            s.clear();
            for (size_t n = pick(64); n > 0; n--) s += (char)pick(256);
        }
        if (i % 500 == 0) lua.run(std::string("cjson.decode_invalid_numbers(") + (i % 1000 ? "false" : "true") + ")");

        int rc = lua.decode_bytes(s);
        ASSERT_TRUE(rc == LUA_OK || rc == LUA_ERRRUN) << rc;
        if (rc == LUA_OK) {
            values++;
            // A decoded value writes back, or is refused with an error (NaN, inf).
            std::string w = lua.run("return cjson.encode(decoded)");
            ASSERT_FALSE(w.empty());
        } else {
            errors++;
        }
    }
    // Both outcomes were exercised.
    EXPECT_GT(values, 100);
    EXPECT_GT(errors, 1000);
    EXPECT_EQ(lua.run(q("cjson.encode({1})")), "[1]");
}

}  // namespace
