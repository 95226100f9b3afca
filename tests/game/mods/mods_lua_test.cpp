// The script engine and script loading: output into the mod log, error
// reports and blocking, the trimmed standard library, the event literal
// (NUL bytes, odd keys, non-finite numbers, locale), the built-in scripts and
// their zlib blocks, and `require` with its name cleaning and lookups.
#include <gtest/gtest.h>

#include <stb_image.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <string>

#include "ruvezor/util/qel_driver.h"  // DRIVER_FILE_MAX
#include "tools/embed_scripts.h"
#include "mods/mods_scripts.h"
#include "z2_mods_tree.h"

namespace {

// A temporary tree: <root>/bin is the working directory (so the data
// directory is <root>/data), <root>/mod holds the mod, HOME is <root>/home.
class ModsLuaTest : public z2test::ModsTree<> {
protected:
    void SetUp() override { make("z2modslua", {"bin", "data", "mod", "mod/sub"}, true); }

    // Starts the mod file <root>/<rel> (or a bare name) with the given text.
    void start(const std::string& text, const std::string& rel = "mod/main.lua") { start_file(rel, text); }
};

const char* const PLAIN_MOD = R"LUA(
function init() z2_param_set("inited", "yes") end
function loop(t) z2_param_set("t", t) end
function event(e) last = e end
)LUA";

// ---- output and errors -------------------------------------------------------

TEST_F(ModsLuaTest, PrintWritesPiecesIntoTheModLog) {
    start(PLAIN_MOD);
    api()->log.clear();
    run("print('a', 1) print('  ', 'b\\tc')");
    ASSERT_EQ(api()->log.size(), 3u);
    EXPECT_EQ(api()->log[0], "b    c");
    EXPECT_EQ(api()->log[1], "1");
    EXPECT_EQ(api()->log[2], "a");
}

TEST_F(ModsLuaTest, ScriptErrorsAreReportedAndNeverBlock) {
    start(PLAIN_MOD);
    api()->log.clear();
    run("local x = nil\nx.field = 1");
    EXPECT_TRUE(lua()->is_okay());
    EXPECT_TRUE(logged("zentar2:"));
    EXPECT_TRUE(logged("attempt to index local 'x'"));
    EXPECT_TRUE(logged("stack traceback:"));
    // A syntax error is reported the same way.
    api()->log.clear();
    run("this is not lua");
    EXPECT_TRUE(logged("zentar2:"));
    EXPECT_TRUE(lua()->is_okay());
}

TEST_F(ModsLuaTest, FailedLoopBlocksUntilTheNextScript) {
    start(R"LUA(
        calls = 0
        function init() end
        function loop(t) calls = calls + 1 z2_param_set("calls", calls) if broken then error("loop broke") end end
        function event(e) z2_param_set("ev", e.type) end
    )LUA");
    ASSERT_TRUE(lua()->is_okay());
    run("broken = true");
    lua()->loop(0.5f);
    EXPECT_FALSE(lua()->is_okay());
    EXPECT_EQ(param("calls"), "1");
    lua()->loop(0.5f);
    lua()->init();
    var e(VAR_DICT, 0);
    e["type"] = var("x");
    lua()->event(e);
    EXPECT_EQ(param("calls"), "1");
    EXPECT_EQ(param("ev"), "");
    // Any script (a console line, a require, a reload) unblocks.
    run("broken = false");
    EXPECT_TRUE(lua()->is_okay());
    lua()->loop(0.5f);
    EXPECT_EQ(param("calls"), "2");
}

TEST_F(ModsLuaTest, ModWithoutInitFailsInInit) {
    start("function loop(t) end function event(e) end");
    EXPECT_FALSE(lua()->is_okay());
    EXPECT_TRUE(logged("init"));
}

TEST_F(ModsLuaTest, CompatibilityNamesAndUnsafeLibrariesAreGone) {
    start(PLAIN_MOD);
    run(R"LUA(
        local gone = {}
        for _, n in ipairs({"unpack", "loadstring", "module", "load", "dofile", "loadfile",
                            "debug", "io", "package", "collectgarbage", "xpcall"}) do
            if _G[n] ~= nil then gone[#gone + 1] = n end
        end
        if table.maxn or math.log10 or string.dump or os.exit then gone[#gone + 1] = "lib" end
        z2_param_set("left", table.concat(gone, ","))
        z2_param_set("kept", type(table.unpack) .. type(bit32.band) .. type(math.ldexp) ..
                             type(coroutine.wrap) .. type(os.time))
    )LUA");
    EXPECT_EQ(param("left"), "");
    EXPECT_EQ(param("kept"), "functionfunctionfunctionfunctionfunction");
}

// ---- calls into Lua ------------------------------------------------------------

TEST_F(ModsLuaTest, LoopPassesTheFrameTimeInTheCLocale) {
    start(PLAIN_MOD);
    EXPECT_EQ(param("inited"), "yes");
    const char* old = setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    setlocale(LC_NUMERIC, "C.UTF-8");
    lua()->loop(0.016f);
    setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_NEAR(api()->param_get("t").__num__(), 0.016, 1e-6);
}

TEST_F(ModsLuaTest, EventLiteralCarriesEveryValueIntact) {
    start(R"LUA(
        function init() end function loop(t) end
        function event(e)
            z2_param_set("type", e.type)
            z2_param_set("len", #e.value)
            z2_param_set("nul", e.value:byte(3))
            z2_param_set("tail", e.value:sub(4))
            z2_param_set("spaced", e["a key"])
            z2_param_set("reserved", e["end"])
            z2_param_set("digit", e["1st"])
            z2_param_set("quote", e["q\"\\\n"])
            z2_param_set("inf", e.inf == math.huge)
            z2_param_set("ninf", e.ninf == -math.huge)
            z2_param_set("nan", e.nan ~= e.nan)
            z2_param_set("tiny", e.tiny == 1e-7)
            z2_param_set("big", e.big == 1.5e300)
            z2_param_set("third", e.third == 1/3)
            z2_param_set("flag", e.flag)
            z2_param_set("none", e.none == nil)
            z2_param_set("inner", e.sub.deeper.x)
            z2_param_set("bracket", e.bracket)
            z2_param_set("lines", e.lines == "\nfirst\r\nsecond\rthird\n\r")
        end
    )LUA");
    ASSERT_TRUE(lua()->is_okay());
    var e(VAR_DICT, 0);
    e["type"] = var("net:chat");
    e["value"] = var(std::string("hi\0there", 8));
    e["a key"] = var("s");
    e["end"] = var("r");
    e["1st"] = var("d");
    e["q\"\\\n"] = var("q");
    e["inf"] = var(INFINITY);
    e["ninf"] = var(-INFINITY);
    e["nan"] = var(NAN);
    e["tiny"] = var(1e-7);
    e["big"] = var(1.5e300);
    e["third"] = var(1.0 / 3.0);
    e["flag"] = var(true);
    e["none"] = var();
    var sub(VAR_DICT, 0), deeper(VAR_DICT, 0);
    deeper["x"] = var(7);
    sub["deeper"] = deeper;
    e["sub"] = sub;
    e["bracket"] = var("a]===]b]==]c");
    e["lines"] = var("\nfirst\r\nsecond\rthird\n\r");
    mods_event(*game, e);
    EXPECT_TRUE(lua()->is_okay());
    EXPECT_EQ(param("type"), "net:chat");
    EXPECT_EQ(param("len"), "8");
    EXPECT_EQ(param("nul"), "0");
    EXPECT_EQ(param("tail"), "there");
    EXPECT_EQ(param("spaced"), "s");
    EXPECT_EQ(param("reserved"), "r");
    EXPECT_EQ(param("digit"), "d");
    EXPECT_EQ(param("quote"), "q");
    for (const char* k : {"inf", "ninf", "nan", "tiny", "big", "third", "flag", "none"}) {
        SCOPED_TRACE(k);
        EXPECT_EQ(param(k), "True");
    }
    EXPECT_EQ(param("inner"), "7");
    EXPECT_EQ(param("bracket"), "a?]b]==]c");
    EXPECT_EQ(param("lines"), "True");
}

TEST_F(ModsLuaTest, DictLiteralText) {
    var e(VAR_DICT, 0);
    e["type"] = var("x");
    e["n"] = var(2);
    e["for"] = var(false);
    EXPECT_EQ(ModsLua::dict2lua(e), "{[\"for\"]=false,n=2,type=\"x\"}");
    // Nesting beyond what the parser takes is cut, not sent.
    var deep(VAR_DICT, 0);
    for (int i = 0; i < 300; i++) {
        var outer(VAR_DICT, 0);
        outer["d"] = deep;
        deep = outer;
    }
    std::string text = ModsLua::dict2lua(deep);
    EXPECT_NE(text.find("nil"), std::string::npos);
    EXPECT_LT(std::count(text.begin(), text.end(), '{'), 100);
}

// ---- built-in scripts and their blocks -------------------------------------------

TEST_F(ModsLuaTest, ZlibWriterRoundTripsThroughTheGameInflater) {
    EXPECT_EQ(embed_adler32("Wikipedia"), 0x11E60398u);
    uint32_t seed = 12345;
    auto noise = [&] { return (char)((seed = seed * 1103515245u + 12345u) >> 24); };
    for (size_t size : {0, 1, 2, 3, 1000, 40000, 65536, 70000}) {
        SCOPED_TRACE(size);
        // Runs of text, repeats at every distance and raw bytes of every value.
        std::string text;
        while (text.size() < size) {
            size_t pick = text.size() % 3;
            if (pick == 0) text += "function f(x) return x end\n";
            else if (pick == 1 && text.size() > 300) text += text.substr(text.size() / 3, 200);
            else for (int k = 0; k < 40; k++) text += noise();
        }
        text.resize(size);
        std::string z = embed_zlib(text);
        if (size >= 40000) {
            EXPECT_LT(z.size(), size);
        }
        std::string out(size + 16, '\0');
        int n = stbi_zlib_decode_buffer(&out[0], (int)out.size(), z.data(), (int)z.size());
        ASSERT_EQ(n, (int)size);
        EXPECT_EQ(out.substr(0, size), text);
        uint32_t adler = ((uint32_t)(unsigned char)z[z.size() - 4] << 24) |
                         ((uint32_t)(unsigned char)z[z.size() - 3] << 16) |
                         ((uint32_t)(unsigned char)z[z.size() - 2] << 8) |
                         (uint32_t)(unsigned char)z[z.size() - 1];
        EXPECT_EQ(adler, embed_adler32(text));
    }
}

TEST_F(ModsLuaTest, DecodeRefusesBadAndOversizedBlocks) {
    std::string ok = embed_zlib("print('x')");
    EXPECT_EQ(_mods_embed_decode((const unsigned char*)ok.data(), (int)ok.size()), "print('x')");
    std::string big = embed_zlib(std::string(MODS_EMBED_MAX + 1, 'x'));
    EXPECT_EQ(_mods_embed_decode((const unsigned char*)big.data(), (int)big.size()), "");
    std::string full = embed_zlib(std::string(MODS_EMBED_MAX, 'x'));
    EXPECT_EQ(_mods_embed_decode((const unsigned char*)full.data(), (int)full.size()).size(),
              (size_t)MODS_EMBED_MAX);
    const unsigned char junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(_mods_embed_decode(junk, sizeof(junk)), "");
    EXPECT_EQ(_mods_embed_decode(nullptr, 0), "");
    std::string empty = embed_zlib("");
    EXPECT_EQ(_mods_embed_decode((const unsigned char*)empty.data(), (int)empty.size()), "");
}

TEST_F(ModsLuaTest, BuiltInTableHoldsTheEntryPointsScript) {
    const ModsEmbed* row = mods_embed;
    while (row->name && std::string(row->name) != "mod_api.lua") row++;
    ASSERT_NE(row->name, nullptr) << "the built-in table was not generated";
    std::string text = _mods_embed_decode(row->data, row->length);
    EXPECT_EQ((int)text.size(), row->raw_length);
    EXPECT_NE(text.find("function _init()"), std::string::npos);
    for (const ModsEmbed* r = mods_embed; r->name; r++) EXPECT_LE(r->raw_length, MODS_EMBED_MAX);

    // The engine loads it first thing, and the reload after construction
    // empties the list, so the mod file is the first script.
    start(PLAIN_MOD);
    ASSERT_FALSE(api()->scripts.empty());
    EXPECT_EQ(api()->scripts[0].name, "main.lua");
    EXPECT_EQ(mods_embed_load(api(), lua(), "x", "mod_api.lua"), 1);
    EXPECT_EQ(api()->scripts.back().mtime, 0);
    EXPECT_EQ(mods_embed_load(api(), lua(), "x", "nothing.lua"), 0);
}

TEST_F(ModsLuaTest, GeneratorStopsTheBuildOnOversizedScripts) {
    std::string tool = std::string(Z2_BINARY_DIR) + "/embed_scripts";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "no generator in this build";
    write("data/fits.lua", std::string(MODS_EMBED_MAX, '-'));
    write("data/mod_big.lua", std::string(MODS_EMBED_MAX + 1, '-'));
    std::string out = root + "/out.h";
    std::string fits = tool + " " + out + " " + root + "/data/fits.lua 2>/dev/null";
    std::string big = tool + " " + out + ".big " + root + "/data/fits.lua " + root +
                      "/data/mod_big.lua 2>/dev/null";
    EXPECT_EQ(std::system(fits.c_str()), 0);
    std::ifstream header(out);
    std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("{\"fits.lua\", 65536, _mods_embed_0,"), std::string::npos);
    EXPECT_NE(std::system(big.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(out + ".big"));
}

// ---- require ----------------------------------------------------------------------

TEST_F(ModsLuaTest, RequireCleansNamesAndLoadsOnce) {
    write("mod/util.lua", "util_runs = (util_runs or 0) + 1");
    write("mod/x.lua", "x_runs = (x_runs or 0) + 1");
    // Saved by an editor that marks UTF-8, or with a first line for the shell,
    // as the lua program itself takes them; errors keep their line numbers.
    write("mod/bom.lua", "\xEF\xBB\xBF" "bom_runs = 1");
    write("mod/sh.lua", "#!/usr/bin/env lua\nsh_runs = 1\nerror('on line 3')");
    start(PLAIN_MOD);
    run(R"LUA(
        require("util") require("util.lua") require("sub/util")
        require("../x") require("..\\x") require("bom") require("sh")
        z2_param_set("util", util_runs) z2_param_set("x", x_runs)
        z2_param_set("bom", bom_runs) z2_param_set("sh", sh_runs)
    )LUA");
    EXPECT_EQ(param("util"), "1");
    EXPECT_EQ(param("x"), "1");
    EXPECT_EQ(param("bom"), "1");
    EXPECT_EQ(param("sh"), "1");
    EXPECT_TRUE(logged("[string \"sh.lua\"]:3: on line 3"));
    bool found = false;
    for (const ModScript& s : api()->scripts)
        if (s.name == "x.lua") {
            found = true;
            EXPECT_EQ(s.arg, "../x");
            EXPECT_EQ(s.path, root + "/mod/x.lua");
            EXPECT_GT(s.mtime, 0);
        }
    EXPECT_TRUE(found);
}

TEST_F(ModsLuaTest, RequireFallsBackToTheDataDirectoryAndReportsMissingFiles) {
    write("data/shared.lua", "shared_runs = 1");
    start(PLAIN_MOD);
    run(R"LUA(
        require("shared")
        z2_param_set("shared", shared_runs)
        local ok, msg = pcall(require, "missing")
        z2_param_set("ok", ok) z2_param_set("msg", msg)
    )LUA");
    EXPECT_EQ(param("shared"), "1");
    EXPECT_EQ(param("ok"), "False");
    EXPECT_EQ(param("msg"), "file missing");
    EXPECT_TRUE(logged("ModsAPI::require(\"missing\") file missing"));
    EXPECT_EQ(api()->api_error(), 0);

    // A file far larger than any script is not read, and says why.
    write("data/huge.lua", "huge_runs = 1");
    std::filesystem::resize_file(root + "/data/huge.lua", (uintmax_t)DRIVER_FILE_MAX + 1);
    run(R"LUA(
        local ok, msg = pcall(require, "huge")
        z2_param_set("ok", ok) z2_param_set("msg", msg) z2_param_set("huge", huge_runs)
    )LUA");
    EXPECT_EQ(param("ok"), "False");
    EXPECT_EQ(param("msg"), "file unreadable");
    EXPECT_EQ(param("huge"), "");
    EXPECT_TRUE(logged("ModsAPI::require(\"huge\") file unreadable"));
}

TEST_F(ModsLuaTest, ModWithoutDirectoryNeverReadsFromTheRoot) {
    write("data/main.lua", "function init() end function loop(t) end function event(e) end");
    write("data/helper.lua", "helper_runs = 1");
    snprintf(game->mod_file, sizeof(game->mod_file), "main.lua");
    mods_restart(*game, 0, var(VAR_DICT, 0));
    ASSERT_TRUE(lua()->is_okay());
    run("require('helper') z2_param_set('helper', helper_runs)");
    EXPECT_EQ(param("helper"), "1");
    for (const ModScript& s : api()->scripts) {
        SCOPED_TRACE(s.name);
        EXPECT_NE(s.path.rfind("/", 0), 0u) << s.path;  // "../data/..", never "/helper.lua"
    }
}

TEST_F(ModsLuaTest, BuiltInOnlyModsSkipFilesSilently) {
    write("mod/util.lua", "util_runs = 1");
    game->mod_builtin = 1;
    start(PLAIN_MOD);
    // The mod file itself is not built in: nothing loads, nothing is raised.
    EXPECT_FALSE(lua()->is_okay());
    run(R"LUA(
        local ok = pcall(require, "util")
        z2_param_set("ok", ok) z2_param_set("util", util_runs)
    )LUA");
    EXPECT_EQ(param("ok"), "True");
    EXPECT_EQ(param("util"), "");
}

}  // namespace
