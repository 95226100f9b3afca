// The built-in script layer through real Lua over a headless game: item
// objects and their cache, the constructors' keys, search, parameters as
// fields of z2, the text tables, strict mode, json, and the globals the
// layer leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "world/zentar.h"
#include "z2_mods_tree.h"

namespace {

namespace fs = std::filesystem;

class ModsScriptsTest : public z2test::ModsTree<> {
protected:
    void SetUp() override {
        make("z2modsscripts");
        start_file("main.lua", "function init() end function loop(t) end function event(e) end\n");
    }

    // Runs code in which check(name, ok) records failed checks and r(k, v)
    // sets a parameter; returns the names of the failed checks.
    std::string run(const std::string& code) {
        api()->log.clear();
        std::string wrapped =
            "local bad = {}\n"
            "local function check(k, ok) if not ok then bad[#bad + 1] = k end end\n"
            "local function r(k, v) z2_param_set(k, v) end\n" + code +
            "\nz2_param_set('bad', table.concat(bad, ' ')) z2_param_set('done', true)";
        api()->params["done"] = var();
        lua()->script(wrapped.c_str(), "test");
        EXPECT_EQ(param("done"), "True") << z2test::mod_log(*api());
        return param("bad");
    }
};

TEST_F(ModsScriptsTest, ItemObjectsAreCachedAndReadAndWriteTheWorld) {
    EXPECT_EQ(run(R"LUA(
        local u = z2.new_user("ann", 0xff0000)
        local p = z2.new_planet(u, 10, 20, 1, 50)
        local q = z2.new_planet(u, 300, 20, 1, 5)
        check("own team", u.user_team_n == u.n)
        local seen = {}
        seen[z2.item(p.n)] = true
        check("cached", seen[z2.item(p.n)] and z2.item(p.n) == p and p ~= q)
        check("owner", p:owner() == u)
        check("text", tostring(p) == tostring(p.n) and ("#" .. p) == "#" .. p.n)
        check("distance", z2.distance(p, q) == 290 and p:distance(q) == 290)
        local f = p:fleet_send(50, q)
        check("fleet", f.fleet_target == q.n and f:owner() == u)
        local found = z2.search("planet")
        check("search", #found == 2 and found[1] == p and found[2] == q)
        check("methods", type(p.selected) == "function")
        p.position_x = 42
        r("p", p.n)
        check("nothing stored", next(p, next(p)) == nil)
        local ok, msg = pcall(function() return z2.item(4000).position_x end)
        check("error passes", not ok and msg:find("invalid item"))
        check("no number", z2.item(nil) == nil and z2.item("x") == nil)
    )LUA"), "");
    EXPECT_EQ(game->world.items[atoi(param("p").c_str())].position_x, 42.0f);
}

TEST_F(ModsScriptsTest, ConstructorsWriteTheirKeysAndDefaults) {
    EXPECT_EQ(run(R"LUA(
        local t = z2.new_team("blue", 255)
        check("team", z2.new_user("bob", 0x00ff00, t):team() == t)
        local l = z2.new_label("hello", 5, 6)
        check("label", l.has_label and l.label_text == "hello" and l.label_font == "font" and
              l.label_size == 20 and l.has_position and l.position_x == 5 and l.position_y == 6)
        check("label colours", l.render_color == 0xffffff and l.render_alpha == 255 and
              l.render_blend == 0 and z2.new_label("x", 0, 0, 0xff0000).render_color == 0xff0000)
        local i = z2.new_image("ship", 1, 2, 30, 40)
        check("image", i.has_image and i.image_src == "ship" and i.image_w == 30 and
              i.image_h == 40 and i.image_scale == 1 and i.render_color == 0xffffff)
        local c = z2.new_circle(0x112233, 7, 8, 9)
        check("circle", c.has_draw and c.draw_type == 67 and c.draw_r == 9 and
              c.render_color == 0x112233 and c.render_blend == 1 and c.render_alpha == 255)
        local ln = z2.new_line(0x445566, 1, 2, 3, 4)
        check("line", ln.draw_type == 76 and ln.draw_x2 == 3 and ln.draw_y2 == 4)
        local tr = z2.new_triangle(0x778899, 1, 2, 3, 4, 5, 6)
        check("triangle", tr.draw_type == 84 and tr.draw_x3 == 5 and tr.draw_y3 == 6 and
              tr.position_y == 2)
    )LUA"), "");
}

TEST_F(ModsScriptsTest, FieldsOfZ2AreParameters) {
    EXPECT_EQ(run(R"LUA(
        z2.state = z2.item(7)
        check("speed", z2.speed == 1)
        check("unset", z2.nothing_here == nil)
        z2.custom = "abc"
        check("custom", z2_param_get("custom") == "abc")
        local ok, msg = pcall(function() z2.x = {} end)
        check("table", not ok and msg:find("null string"))
    )LUA"), "");
    EXPECT_EQ(api()->param_get("state").__num__(), 7) << "an object is stored as its number";
}

TEST_F(ModsScriptsTest, FinalizersCannotBeSmuggledOntoObjects) {
    // The object metatable is a global; a finalizer put there would run
    // outside every limit when the object is collected.
    EXPECT_EQ(run(R"LUA(
        _z2_object_meta.__gc = function() z2_param_set("gc", "ran") end
        z2.item(123)
    )LUA"), "");
    lua_gc(lua()->L, LUA_GCCOLLECT, 0);
    EXPECT_EQ(param("gc"), "");
}

TEST_F(ModsScriptsTest, TextTablesAndStrictMode) {
    EXPECT_EQ(run(R"LUA(
        check("encode", _s_encode("a\\b\tc\nd") == "a\\sb\\tc\\nd" and _s_encode(nil) == "")
        check("decode", _s_decode(_s_encode("x\\ny\\\tz\n")) == "x\\ny\\\tz\n")
        local rows = {{name = "a\tb", score = 3}, {name = "c\\n", extra = "line\nbreak"}}
        local text = t_encode(rows)
        check("lines", select(2, string.gsub(text, "\n", "")) == 2)
        local back = t_decode(text)
        check("rows", #back == 2 and back[1].name == "a\tb" and back[1].score == "3" and
              back[1].extra == "" and back[2].extra == "line\nbreak")
        check("odd key", t_decode(t_encode({{["k\tey"] = 1}}))[1]["k\tey"] == "1")
        check("empty", #t_decode(t_encode({})) == 0)
        -- No string metatable needed, so they work in sandbox runs too.
        local out
        check("sandboxed", z2_sandbox(function() out = t_encode({{a = "x"}}) end, 100, 0) and
              out == "a\nx")

        existing = 1
        strict(true)
        local ok, msg = pcall(function() x = 5 end)
        check("undeclared", not ok and msg:find("undeclared global 'x'") and x == nil)
        check("function", pcall(function() helper = function() end end))
        global("declared")
        check("declared", pcall(function() declared = 7 end) and declared == 7)
        check("existing", pcall(function() existing = 2 end))
        -- The built-in scripts run again under strict mode, keeping the objects.
        local a = z2.item(9)
        require("mod_api") require("mod_util") require("mod_json")
        check("again", z2.item(9) == a and json.encode({1}) == "[1]")
        -- The layer run again still makes objects, and the removed names stay out of reach.
        local l = z2.new_label("x", 1, 2)
        check("layer", l.label_text == "x" and l.position_y == 2 and z2.item(l.n) == l)
        check("removed", setmetatable == nil and getmetatable == nil and rawget == nil and rawset == nil)
        strict(false)
        check("off", pcall(function() y = 1 end) and y == 1)
    )LUA"), "");
}

TEST_F(ModsScriptsTest, JsonIsPublishedAndConfigured) {
    EXPECT_EQ(run(R"LUA(
        check("empty", json.decode("") == nil and json.decode(nil) == nil and cjson == nil)
        local sparse = json.encode({[1] = 1, [3] = 3})
        check("sparse", sparse == '{"1":1,"3":3}' or sparse == '{"3":3,"1":1}')
        check("array", json.encode({1, 2, 3}) == "[1,2,3]")
        local t = json.decode("[1,null,3]")
        check("hole", t[1] == 1 and t[2] == nil and t[3] == 3)
        check("hex", json.decode("0x10") == 16)
        local ok, msg = pcall(json.encode, 0/0)
        check("nan", not ok and msg:find("must not be NaN or Inf"))
        check("deep", not pcall(json.decode, string.rep("[", 257) .. string.rep("]", 257)))
    )LUA"), "");
}

TEST_F(ModsScriptsTest, OnlyTheNamedGlobalsAreLeft) {
    run(R"LUA(
        local names = {}
        for k in pairs(_G) do
            if not string.find(k, "^z2_") then names[#names + 1] = k end
        end
        table.sort(names)
        r("names", table.concat(names, " "))
    )LUA");
    EXPECT_EQ(param("names"),
              "_G _event _init _loop _s_decode _s_encode _z2_distance _z2_form _z2_form_meta "
              "_z2_items_find _z2_module_meta _z2_net_send _z2_new_circle _z2_new_fleet "
              "_z2_new_image _z2_new_label _z2_new_line _z2_new_part _z2_new_planet "
              "_z2_new_team _z2_new_triangle _z2_new_user _z2_object _z2_object_cache "
              "_z2_object_meta assert bit32 coroutine error event global init ipairs json loop "
              "math next os pairs pcall print require select strict string t_decode t_encode "
              "table tonumber tostring type z2");
}

}  // namespace
