// The z2_ bindings run from real Lua chunks: argument counts, text and value
// conversions, failures of game operations raised as catchable Lua errors and
// reported in the mod log, saturating number conversions, and the MD5 digest.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <string>

#include "z2_mods_tree.h"

namespace {

class ModsZ2Test : public z2test::ModsTree<> {
protected:
    void SetUp() override {
        make("z2modsz2", {"bin", "data", "mod"}, true);
        start_file("mod/main.lua", "function init() end function loop(t) end\n");
        ASSERT_NE(lua(), nullptr);
        api()->log.clear();
    }

    // "true|<first result>" or "false|<error message>" of a protected call.
    std::string pc(const std::string& call) {
        run("local ok, r = pcall(function() return " + call + " end) " +
            "_r = tostring(ok) .. '|' .. tostring(r)");
        lua_getglobal(lua()->L, "_r");
        std::string out =
            lua_isstring(lua()->L, -1) ? lua_tostring(lua()->L, -1) : "(chunk failed)";
        lua_pop(lua()->L, 1);
        return out;
    }

    // The call fails with the message (after the caller's position, if any).
    bool fails_with(const std::string& call, const std::string& msg) {
        std::string r = pc(call);
        return r.rfind("false|", 0) == 0 && r.size() >= msg.size() + 6 &&
               r.compare(r.size() - msg.size(), msg.size(), msg) == 0;
    }
};

TEST_F(ModsZ2Test, EveryGlobalIsRegisteredOnce) {
    std::set<std::string> names;
    for (const ModsLuaGlobal* g = mods_lua_globals; g->name; g++) {
        SCOPED_TRACE(g->name);
        EXPECT_TRUE(names.insert(g->name).second);
        EXPECT_EQ(pc("type(" + std::string(g->name) + ")"), "true|function");
    }
    EXPECT_EQ(names.size(), 38u);
    EXPECT_TRUE(names.count("require"));
}

TEST_F(ModsZ2Test, WrongArgumentCountsAreRefusedBeforeTheGameIsTouched) {
    for (const char* call :
         {"z2_game_reset(1)", "z2_view_set(1, 2, 3)", "z2_bounds_set(1, 2, 3, 4, 5)",
          "z2_user_init('a', 1)", "z2_team_init('a')", "z2_planet_init(1, 2, 3, 4)",
          "z2_fleet_init(1, 2, 3)", "z2_item_init(nil)", "z2_fleet_send(50, 1)",
          "z2_part_init('x', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10)", "z2_items_find()",
          "z2_item_set(1, 'x')", "z2_item_get(1)", "z2_item_selected()", "z2_param_set('x')",
          "z2_param_get('x', 1)", "z2_gui_get()", "z2_net_host()", "z2_net_join('h')",
          "z2_net_send('', 'chat')", "z2_chat_append(1)", "z2_chat_keywords()",
          "z2_play_sound()", "z2_api_call('a')", "z2_ext_call('a')", "require()",
          "z2_md5_digest('a', 'b')"}) {
        SCOPED_TRACE(call);
        EXPECT_TRUE(fails_with(call, "incorrect number of arguments")) << pc(call);
    }
    // Counts are checked before any operation could run or log.
    EXPECT_TRUE(api()->log.empty());
    EXPECT_FALSE(api()->api_error());
    // The settle call takes any count and never raises a count error.
    EXPECT_EQ(pc("z2_planets_settle()").find("incorrect number"), std::string::npos);
    EXPECT_EQ(pc("z2_planets_settle(1, 2)").find("incorrect number"), std::string::npos);
}

TEST_F(ModsZ2Test, TextArgumentsRefuseValuesWithoutText) {
    for (const char* call :
         {"z2_param_get(nil)", "z2_param_get({})", "z2_param_set(true, 1)", "z2_item_get(1, print)",
          "z2_md5_digest(nil)", "z2_md5_digest({})",
          "z2_part_init(nil, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)",
          "z2_part_init({}, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)", "z2_net_send(nil, nil, 'x')",
          "z2_net_host(1, {})", "require(false)", "z2_chat_keywords(nil)"}) {
        SCOPED_TRACE(call);
        EXPECT_TRUE(fails_with(call, "null string")) << pc(call);
    }
    // A number is text; a uid without text addresses everybody.
    EXPECT_EQ(pc("z2_param_set(5, 'five')"), "true|nil");
    EXPECT_EQ(pc("z2_param_get('5')"), "true|five");
    EXPECT_FALSE(fails_with("z2_net_send(nil, 'chat', 'hi')", "null string"));
}

TEST_F(ModsZ2Test, ValuesCrossBothWays) {
    EXPECT_TRUE(fails_with("z2_param_set('x', {})", "null string"));
    EXPECT_TRUE(fails_with("z2_param_set('x', print)", "null string"));
    EXPECT_TRUE(fails_with("z2_param_set('x', coroutine.create(print))", "null string"));
    run("z2_param_set('b', true) z2_param_set('n', 1.5) z2_param_set('s', 'a\\0b') "
        "z2_param_set('x', 'old') z2_param_set('x', nil)");
    EXPECT_EQ(api()->param_get("b").__type__(), VAR_BOOL);
    EXPECT_EQ(api()->param_get("n").__num__(), 1.5);
    EXPECT_EQ(api()->param_get("s").__str__(), std::string("a\0b", 3));
    EXPECT_EQ(api()->param_get("x").__type__(), VAR_NONE);
    EXPECT_EQ(pc("type(z2_param_get('b'))"), "true|boolean");
    EXPECT_EQ(pc("z2_param_get('n') + 1"), "true|2.5");
    EXPECT_EQ(pc("#z2_param_get('s')"), "true|3");
    EXPECT_EQ(pc("z2_param_get('x') == nil"), "true|true");
    // Lists and dicts reach Lua as their text.
    var list(VAR_LIST, 0);
    list.__set__(var(0), var(7));
    api()->param_set("l", list);
    EXPECT_EQ(pc("type(z2_param_get('l'))"), "true|string");
    EXPECT_EQ(pc("z2_param_get('l')").rfind("true|<list", 0), 0u);
}

TEST_F(ModsZ2Test, OperationFailuresAreCatchableReportedOnceAndLogged) {
    api()->api_error_set("boom");
    EXPECT_EQ(pc("z2_param_get('x')"), "false|boom");
    EXPECT_FALSE(api()->api_error());
    EXPECT_EQ(pc("z2_param_get('x')"), "true|nil");

    // A real failure: the operation's own log line, then the Lua error.
    EXPECT_EQ(pc("require('nothere')"), "false|file missing");
    EXPECT_TRUE(logged("ModsAPI::require(\"nothere\") file missing"));
    EXPECT_EQ(pc("z2_item_get(5, 'position_x')"), "false|invalid item");

    // Uncaught, it ends the chunk and reaches the mod log with its traceback.
    api()->log.clear();
    run("require('nothere') z2_param_set('after', 1)");
    EXPECT_TRUE(logged("zentar2:"));
    EXPECT_TRUE(logged("file missing"));
    EXPECT_EQ(api()->param_get("after").__type__(), VAR_NONE);
    EXPECT_FALSE(api()->api_error());
}

TEST_F(ModsZ2Test, NumberConversionsSaturateInsteadOfOverflowing) {
    lua_State* L = lua()->L;
    struct Case {
        const char* expr;
        int want;
    } cases[] = {{"0/0", 0},          {"1/0", INT32_MAX},     {"-1/0", INT32_MIN},
                 {"1e300", INT32_MAX}, {"-1e300", INT32_MIN},  {"2^31", INT32_MAX},
                 {"3.9", 3},          {"-3.9", -3},           {"'12'", 12},
                 {"'abc'", 0},        {"nil", 0},             {"{}", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expr);
        run(std::string("_v = ") + c.expr);
        lua_getglobal(L, "_v");
        EXPECT_EQ(mods_lua_toint(L, -1), c.want);
        lua_pop(L, 1);
    }
    run("_v = 1e300");
    lua_getglobal(L, "_v");
    EXPECT_EQ(mods_lua_tofloat(L, -1), HUGE_VALF);
    lua_pop(L, 1);
    run("_v = -1e300");
    lua_getglobal(L, "_v");
    EXPECT_EQ(mods_lua_tofloat(L, -1), -HUGE_VALF);
    lua_pop(L, 1);
    // Through the bindings, hostile numbers are plain arguments.
    for (const char* call : {"z2_fleet_send(0/0, 1e300, -1/0)", "z2_chat_append(1e300, 'x', 0/0)",
                             "z2_item_get(-1e300, 'x')", "z2_view_set(1e300, -1e300, 0/0, 1/0)"}) {
        SCOPED_TRACE(call);
        EXPECT_FALSE(fails_with(call, "incorrect number of arguments"));
    }
}

TEST_F(ModsZ2Test, Md5DigestCoversEveryByte) {
    EXPECT_EQ(pc("z2_md5_digest('')"), "true|d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(pc("z2_md5_digest('abc')"), "true|900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(pc("z2_md5_digest('a\\0b')"), "true|70350f6027bce3713f6b76473084309b");
    EXPECT_EQ(pc("z2_md5_digest(12)"), "true|c20ad4d76fe97759aa27a0c99bff6710");
}

}  // namespace
