// The sandbox against the known escapes: binary chunks on every loading road,
// the debug library and the other removed globals, the string metatable,
// finalizers, runaway loops (also under pcall and in coroutines), memory
// exhaustion, nested z2_sandbox calls and bad arguments. Each case runs real
// Lua in a real engine and checks that the outer mod still works afterwards.
#include <gtest/gtest.h>

#include <time.h>

#include <filesystem>
#include <functional>
#include <string>

#include "z2_mods_tree.h"

namespace {

class SandboxTest : public z2test::ModsTree<> {
protected:
    void SetUp() override {
        make("z2sandbox", {"mod"});
        start_file("mod/main.lua", "function init() end function loop(t) end function event(e) end");
        ASSERT_TRUE(api() && lua() && lua()->L);
        ASSERT_TRUE(lua()->is_okay());
    }

    // Runs a chunk as the console would; the chunk reports through r(k, v).
    void run(const std::string& code) {
        std::string full = "local function r(k, v) z2_param_set(k, tostring(v)) end\n" + code;
        lua()->script(full.c_str(), "test");
    }

    // The largest block the mod's state is given while `work` runs.
    size_t largest_block(const std::function<void()>& work) {
        static lua_Alloc own;
        static size_t largest;
        void* ud = nullptr;
        own = lua_getallocf(lua()->L, &ud);
        largest = 0;
        lua_setallocf(lua()->L, [](void* u, void* p, size_t o, size_t n) -> void* {
            void* r = own(u, p, o, n);
            if (r && n > largest) largest = n;
            return r;
        }, ud);
        work();
        lua_setallocf(lua()->L, own, ud);
        return largest;
    }

    // The outer mod still works: string methods, unlimited loops, allocation.
    void expect_mod_healthy() {
        api()->params.__set__(var("healthy"), var());
        run(R"LUA(
            local s = ("abc"):upper()
            local n = 0
            for i = 1, 3000000 do n = n + 1 end
            local t = {}
            for i = 1, 100000 do t[i] = i end
            r("healthy", s .. n .. #t)
        )LUA");
        EXPECT_EQ(param("healthy"), "ABC3000000100000");
        EXPECT_EQ(lua()->limiter.count_limit, 0u);
        EXPECT_EQ(lua()->limiter.mem_limit, 0u);
        EXPECT_EQ(lua()->limiter.running, 0);
        EXPECT_EQ(lua_gethook(lua()->L), nullptr);
    }
};

// A test-only door to setmetatable, which mods never have.
int test_setmt(lua_State* L) {
    lua_settop(L, 2);
    lua_setmetatable(L, 1);
    return 1;
}

// ---- runaway loops ---------------------------------------------------------------

TEST_F(SandboxTest, EndlessLoopStopsAtTheInstructionLimit) {
    run(R"LUA(
        local f = z2_compile("while true do end", {})
        local ok, msg = z2_sandbox(f, 5, 0)
        local k = z2_sandbox_stats()
        r("ok", ok) r("msg", msg) r("k", k)
        -- A loop of n empty passes runs n + 6 instructions: 100,006 is past a
        -- budget of 100 thousand, 99,906 is not. Both take a fraction of the
        -- CPU time the budget allows, so only the count tells them apart.
        for _, n in ipairs({99900, 100000}) do
            local ok, msg = z2_sandbox(z2_compile("for i = 1, " .. n .. " do end", {}), 100, 0)
            r("loop" .. n, tostring(ok) .. " " .. tostring(msg))
            r("loop" .. n .. "_k", z2_sandbox_stats())
        end
    )LUA");
    EXPECT_EQ(param("ok"), "false");
    EXPECT_NE(param("msg").find("instruction limit exceeded"), std::string::npos);
    EXPECT_EQ(param("k"), "5");
    EXPECT_EQ(param("loop99900"), "true nil");
    EXPECT_EQ(param("loop99900_k"), "99");
    EXPECT_EQ(param("loop100000").rfind("false ", 0), 0u);
    EXPECT_NE(param("loop100000").find("instruction limit exceeded"), std::string::npos);
    EXPECT_EQ(param("loop100000_k"), "100");
    expect_mod_healthy();
}

// The thread's CPU time in seconds, for the mod.
int test_cpu(lua_State* L) {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    lua_pushnumber(L, (lua_Number)ts.tv_sec + (lua_Number)ts.tv_nsec * 1e-9);
    return 1;
}

// Work that one instruction or the parser does inside C stops at the run's
// CPU time (1 us per instruction of its budget), not at the next thousand
// instructions: comparing two strings of NUL bytes costs Lua a call of
// strcoll per byte, and every `and` of a long chain makes the parser walk
// all the jumps before it. A hosting mod's frame that runs such a script
// under a budget of a few hundred thousand stays well under a second.
TEST_F(SandboxTest, CpuTimeEndsARunWhateverOneInstructionOrTheParserCosts) {
    lua_register(lua()->L, "test_cpu", test_cpu);
    run(R"LUA(
        local zeros = string.rep("\0", 4e6)
        local env = {a = zeros, b = zeros, coroutine = coroutine, z2_compile = z2_compile,
                     chain = "local t = {" .. string.rep("a,", 131100) .. "} return a" .. string.rep(" and a", 50000)}
        local cases = {
            compare = {200, "n = 0 while true do local c = a < b n = n + 1 end"},
            coroutine = {200, "n = 0 coroutine.wrap(function() while true do local c = a <= b n = n + 1 end end)()"},
            -- The table takes the parser's code to the size the chain needs,
            -- so that no block is made while the chain is parsed. The text
            -- and the blocks cost 550 thousand; the whole parse takes seconds.
            parse = {600, "n = 0 z2_compile(chain, {})"},
        }
        for name, c in pairs(cases) do
            local f = z2_compile(c[2], env)
            local t = test_cpu()
            local ok, msg = z2_sandbox(f, c[1], 0)
            r(name, tostring(ok) .. " " .. tostring(msg))
            r(name .. "_cpu", test_cpu() - t)
            r(name .. "_allowed", c[1] / 1000)
            r(name .. "_n", env.n)
        end
    )LUA");
    for (const char* name : {"compare", "coroutine", "parse"}) {
        SCOPED_TRACE(name);
        std::string key = name;
        EXPECT_EQ(param(name).rfind("false ", 0), 0u) << param(name);
        EXPECT_NE(param(name).find("instruction limit exceeded"), std::string::npos) << param(name);
        EXPECT_LT(std::stod(param((key + "_cpu").c_str())), 2 * std::stod(param((key + "_allowed").c_str())) + 0.5);
        // About 0.2 s of compares of 30 ms each; the count of instructions
        // alone would allow a hundred or more.
        EXPECT_LT(std::stoi(param((key + "_n").c_str())), 50);
    }
    expect_mod_healthy();
}

// Long C calls are counted too; ordinary ones give Lua's own answers. A
// result past the budget is refused before it is made: not even once the
// limit has fired (when Lua asks again for a block just refused) does the
// run get a large one.
TEST_F(SandboxTest, StringCallsRunUnderTheLimitAndAnswerAsLuaDoes) {
    size_t largest = largest_block([&] { run(R"LUA(
        local A, big = string.rep("x", 1e5), {}
        for i = 1, 2000 do big[i] = A end
        local env = {string = string, table = table, pcall = pcall, select = select,
                     a60 = string.rep("a", 60), bad = string.rep("a-", 4) .. "b", A = A, big = big}
        local cases = {
            find = "string.find(a60, bad)",
            match = "string.match(a60, bad)",
            gmatch = "for m in string.gmatch(a60, bad) do end",
            gsub = "string.gsub(a60, bad, '')",
            rep = "string.rep('x', 1e8)",
            rep_sep = "string.rep('x', 1e7, 'yyy')",
            tconcat = "table.concat(big)",
            concat = "local s = A .. A .. A .. A .. A .. A .. A .. A .. A .. A",
        }
        for name, code in pairs(cases) do
            local ok, msg = z2_sandbox(z2_compile(code, env), 10, 0)
            r(name, msg)
        end
        local ok, msg = z2_sandbox(z2_compile([[
            out = table.concat({string.find("k = 12", "(%w+)%s*=%s*(%d+)")}, ",") .. "|" ..
                  string.gsub("a,b,,c", ",+", ";") .. "|" .. string.format("%5.2f", 2.5) .. "|" ..
                  select(2, pcall(string.find, "abc", "[a"))
            for k, v in string.gmatch("x=1, y=22", "(%w+)=(%w+)") do out = out .. "|" .. k .. v end
        ]], env), 10, 0)
        r("ok", ok) r("out", env.out) r("msg", msg)
    )LUA"); });
    for (const char* name : {"find", "match", "gmatch", "gsub", "rep", "rep_sep", "tconcat", "concat"})
        EXPECT_NE(param(name).find("instruction limit exceeded"), std::string::npos) << name;
    EXPECT_LT(largest, 1u << 20);
    EXPECT_EQ(param("ok"), "true") << param("msg");
    EXPECT_EQ(param("out"), "1,6,k,12|a;b;c| 2.50|malformed pattern (missing ']')|x1|y22");
    expect_mod_healthy();
}

// The pattern functions of a limited run against Lua's own, outside one, on
// the same seeded stream of random subjects, patterns (well formed or not,
// sometimes long or deeply nested) and replacements: every result and every
// error message must be the same.
TEST_F(SandboxTest, PatternFunctionsAnswerAsLuaOwnOnRandomCases) {
    run(R"LUA(
        local seed = 20240611
        local function rnd(n) seed = (seed * 1103515245 + 12345) % 2147483648 return seed % n + 1 end
        local function pick(t) return t[rnd(#t)] end
        local atoms = {"a", "b", "x", " ", "1", ".", "%a", "%d", "%s", "%w", "%p", "%u", "%l", "%x",
                       "%c", "%g", "%z", "%A", "%S", "%D", "%%", "%.", "%(", "[ab]", "[^a]", "[a-c]",
                       "[%d%s]", "[]]", "[^]a]", "[%a-]", "[a-]", "[-a]", "[%]]", "%b()", "%bab", "%bxx",
                       "%f[%w]", "%f[%W]", "%f[a]", "%f[^b]", "%1", "%2", "%0", "()", "$", "^", "-"}
        local broken = {"(", ")", "[", "[^", "%", "%f", "%fa", "%b", "%b(", "[a%", "[%", "%9", "((",
                        "[a-", "%f[a"}
        local reps = {"", "", "", "*", "+", "-", "?"}
        local letters = {"a", "b", "x", "(", ")", " ", "1", "%", ".", "\0", "]", "A"}
        local function subject()
            local t = {}
            for i = 1, rnd(13) - 1 do t[i] = pick(letters) end
            return table.concat(t)
        end
        local function pattern()
            local kind = rnd(40)
            if kind == 1 then return string.rep(pick({"a?", "a*", "a-", "(a)", ".-"}), 150 + rnd(100)) end
            if kind == 2 then return string.rep("(", 30 + rnd(5)) .. "a" .. string.rep(")", 30 + rnd(5)) end
            local t, open = {}, 0
            if rnd(5) == 1 then t[#t + 1] = "^" end
            for i = 1, rnd(7) do
                local r = rnd(10)
                if r == 1 then t[#t + 1] = "(" open = open + 1
                elseif r == 2 and open > 0 then t[#t + 1] = ")" open = open - 1
                else t[#t + 1] = pick(atoms) .. pick(reps) end
            end
            if rnd(3) > 1 then t[#t + 1] = string.rep(")", open) end
            if rnd(5) == 1 then t[#t + 1] = "$" end
            if rnd(8) == 1 then table.insert(t, rnd(#t + 1), pick(broken)) end
            return table.concat(t)
        end
        local repls = {"", "<%0>", "%1", "%2-%1", "%%", "x%", "%a", "[%0%0]", 7,
                       {a = "A", b = false, x = 1, ["1"] = "one", ["("] = {}},
                       function(a, b) if a == "b" then return {} end return b or (a and a .. "!") end,
                       function() return nil end, function(a) return #a end}
        local inits = {nil, 1, 2, -1, -3, 0, 5, 20, -100}
        local cases = {}
        for i = 1, 4000 do
            cases[i] = {s = subject(), p = pattern(), r = rnd(#repls), init = inits[rnd(#inits)],
                        max = ({nil, 0, 1, 2, -1})[rnd(5)], plain = rnd(4) == 1}
        end
        local function show(ok, ...)
            local t = {tostring(ok)}
            for i = 1, select("#", ...) do t[#t + 1] = tostring((select(i, ...))) end
            return table.concat(t, "|")
        end
        local function all()
            local out = {}
            for i, c in ipairs(cases) do
                local s, p = c.s, c.p
                out[#out + 1] = show(pcall(string.find, s, p, c.init, c.plain))
                out[#out + 1] = show(pcall(string.match, s, p, c.init))
                out[#out + 1] = show(pcall(function()
                    local seen = {}
                    for a, b, d in string.gmatch(s, p) do
                        seen[#seen + 1] = tostring(a) .. "," .. tostring(b) .. "," .. tostring(d)
                    end
                    return table.concat(seen, ";")
                end))
                out[#out + 1] = show(pcall(string.gsub, s, p, repls[c.r], c.max))
            end
            return out
        end
        local want = all()
        local got
        local ok, msg = z2_sandbox(function() got = all() end, 4000000, 0)
        r("ok", tostring(ok) .. " " .. tostring(msg))
        local diffs, found, failed = {}, 0, 0
        for i = 1, #want do
            if want[i] ~= got[i] and #diffs < 5 then
                local c = cases[math.floor((i - 1) / 4) + 1]
                diffs[#diffs + 1] = string.format("%q %q %d: %s ~= %s", c.s, c.p, (i - 1) % 4, want[i], got[i])
            end
            if want[i]:find("^true|[^n]") then found = found + 1 end
            if want[i]:find("^false") then failed = failed + 1 end
        end
        r("compared", #got) r("diffs", table.concat(diffs, "\n"))
        r("found", found) r("failed", failed)
    )LUA");
    EXPECT_EQ(param("ok"), "true nil");
    EXPECT_EQ(param("compared"), "16000");
    EXPECT_EQ(param("diffs"), "");
    // The stream reaches both roads: matches and pattern errors.
    EXPECT_GT(std::stoi(param("found")), 3000);
    EXPECT_GT(std::stoi(param("failed")), 400);
}

// One call that works a long time inside C costs what it does: values taken,
// given, moved or compared, bytes read or made, log lines and caught errors.
// Each case is one call on data the mod made; its size is about n
// instructions' worth at the charge rates, so under a budget of 20 thousand
// the call passes with n = 2,000 and fails with n = 200,000.
TEST_F(SandboxTest, LongCallsPayForTheirWork) {
    run(R"LUA(
        local function str(bytes) return function(n) return string.rep("x", bytes * n) end end
        local function list(n) local t = {} for i = 1, n do t[i] = (i * 7919) % n end return t end
        local cases = {
            upper = {str(16), "string.upper(A)"},
            concat = {str(16), "local c = A .. A"},
            format = {str(16), "string.format('%s', A)"},
            byte = {str(1), "string.byte(A, 1, -1)"},
            rep = {function(n) return n end, "string.rep('', A)"},
            tonumber = {function(n) return string.rep("0", 16 * n) .. "1" end, "tonumber(A)"},
            tconcat = {function(n) local t = {} for i = 1, n do t[i] = "" end return t end, "table.concat(A)"},
            sort = {function(n) return list(math.floor(n / 10)) end, "table.sort(A)"},
            insert = {list, "table.insert(A, 1, 0)"},
            remove = {list, "table.remove(A, 1)"},
            unpack = {list, "select('#', table.unpack(A))"},
            max = {list, "math.max(table.unpack(A))"},
            json = {list, "json.encode(A)"},
            errors = {function(n) return math.floor(n / 1000) end, "for i = 1, A do pcall(error, 'x') end"},
            print = {function(n) return string.rep("\n", math.floor(n / 1000)) end, "print(A)"},
            md5 = {str(4), "z2_md5_digest(A)"},
        }
        for name, c in pairs(cases) do
            for _, n in ipairs({2000, 200000}) do
                local env = {A = c[1](n), string = string, table = table, select = select, math = math,
                             tonumber = tonumber, json = json, pcall = pcall, error = error,
                             print = print, z2_md5_digest = z2_md5_digest}
                local ok, msg = z2_sandbox(z2_compile(c[2], env), 20, 0)
                r(name .. n, tostring(ok) .. " " .. tostring(msg))
            end
        end
        -- The parser pairs every break with its loop's end in the one call:
        -- 20,000 of them cost their pairs, which the bytes do not cover.
        local env = {z2_compile = z2_compile, few = "while true do " .. string.rep("break ", 200) .. "end",
                     many = "while true do " .. string.rep("break ", 20000) .. "end"}
        for _, name in ipairs({"few", "many"}) do
            local ok, msg = z2_sandbox(z2_compile("z2_compile(" .. name .. ", {})", env), 1000, 0)
            r("jumps_" .. name, tostring(ok) .. " " .. tostring(msg))
        end
    )LUA");
    EXPECT_EQ(param("jumps_few"), "true nil");
    EXPECT_NE(param("jumps_many").find("instruction limit exceeded"), std::string::npos);
    for (const char* name : {"upper", "concat", "format", "byte", "rep", "tonumber", "tconcat", "sort",
                             "insert", "remove", "unpack", "max", "json", "errors", "print", "md5"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(param((std::string(name) + "2000").c_str()), "true nil");
        EXPECT_NE(param((std::string(name) + "200000").c_str()).find("instruction limit exceeded"),
                  std::string::npos);
    }
    expect_mod_healthy();
}

// A pcall inside a run catches neither limit: the instruction limit escapes
// every nested pcall (the loops are long but finite, so a broken limit shows
// as a run that succeeds rather than as a hang), and memory refused inside a
// pcall stays refused, so the loop around it meets the instruction limit.
TEST_F(SandboxTest, InnerPcallsCatchNeitherLimit) {
    run(R"LUA(
        local cases = {
            nested = {{pcall = pcall}, 20, 0, [[
                for i = 1, 300 do
                    pcall(function()
                        for j = 1, 300 do pcall(function() for k = 1, 1e5 do end end) end
                    end)
                end
            ]]},
            memory = {{pcall = pcall, string = string}, 200, 256, [[
                local keep = {}
                while true do
                    pcall(function() keep[#keep + 1] = string.rep("x", 4096) end)
                end
            ]]},
        }
        for name, c in pairs(cases) do
            local ok, msg = z2_sandbox(z2_compile(c[4], c[1]), c[2], c[3])
            r(name, tostring(ok) .. " " .. tostring(msg))
        end
    )LUA");
    for (const char* name : {"nested", "memory"}) {
        EXPECT_EQ(param(name).rfind("false ", 0), 0u) << name;
        EXPECT_NE(param(name).find("instruction limit exceeded"), std::string::npos) << name;
    }
    expect_mod_healthy();
}

TEST_F(SandboxTest, LimitReachesCoroutinesMadeInsideAndOutside) {
    run(R"LUA(
        local long = function() for i = 1, 3e7 do end end
        local outside = coroutine.create(long)
        local wrapped = coroutine.wrap(long)
        local env = {coroutine = coroutine, pcall = pcall, outside = outside, wrapped = wrapped, long = long}
        local cases = {
            inside = "for n = 1, 3 do coroutine.resume(coroutine.create(long)) end",
            resumed = "coroutine.resume(outside)",
            wrap = "pcall(wrapped)",
            newwrap = "local w = coroutine.wrap(long) for n = 1, 3 do pcall(w) end",
        }
        for name, code in pairs(cases) do
            local ok, msg = z2_sandbox(z2_compile(code, env), 10, 0)
            r(name, tostring(ok) .. " " .. tostring(msg))
        end
    )LUA");
    for (const char* name : {"inside", "resumed", "wrap", "newwrap"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(param(name).rfind("false ", 0), 0u);
        EXPECT_NE(param(name).find("instruction limit exceeded"), std::string::npos);
    }
    expect_mod_healthy();
}

TEST_F(SandboxTest, LeftoverHookIsSilentOutsideARun) {
    // A coroutine made during a limited run keeps its copy of the hook; once
    // the run is over it must not count or raise.
    run(R"LUA(
        local env = {coroutine = coroutine}
        env.keep = nil
        local f = z2_compile("keep = coroutine.create(function() local n = 0 for i = 1, 5000000 do n = n + 1 end return n end)", env)
        r("made", z2_sandbox(f, 1000, 0))
        local ok, n = coroutine.resume(env.keep)
        r("ok", ok) r("n", n)
    )LUA");
    EXPECT_EQ(param("made"), "true");
    EXPECT_EQ(param("ok"), "true");
    EXPECT_EQ(param("n"), "5000000");
    // No instruction limit at all: a long loop runs to its end.
    run(R"LUA(
        local f = z2_compile("local n = 0 for i = 1, 3000000 do n = n + 1 end", {})
        r("free", z2_sandbox(f, 0, 1024))
    )LUA");
    EXPECT_EQ(param("free"), "true");
}

// ---- memory ------------------------------------------------------------------------

TEST_F(SandboxTest, MemoryCapFailsCleanlyAndIsLiftedAfterwards) {
    run(R"LUA(
        local small = z2_compile("local t = {} for i = 1, 2000 do t[i] = i end", {})
        r("small", z2_sandbox(small, 0, 64))
        local big = z2_compile("local t = {} for i = 1, 10000000 do t[i] = i end", {})
        local ok, msg = z2_sandbox(big, 0, 64)
        r("ok", ok) r("msg", msg)
        local _, kb = z2_sandbox_stats()
        r("kb", kb)
        -- The mod's garbage, collected while a run goes on, makes it no room.
        local junk = {} for i = 1, 200000 do junk[i] = {i} end junk = nil
        local out = {n = 0}
        z2_sandbox(z2_compile("local t = {} for i = 1, 1e7 do t[i] = {} out.n = i end", {out = out}), 0, 64)
        r("held", out.n)
    )LUA");
    EXPECT_EQ(param("small"), "true");
    EXPECT_EQ(param("ok"), "false");
    EXPECT_NE(param("msg").find("not enough memory"), std::string::npos);
    EXPECT_LE(std::stoi(param("kb")), 64);
    // 64 KB hold fewer than 64 * 1024 / 56 empty tables.
    EXPECT_LT(std::stoi(param("held")), 1200);
    expect_mod_healthy();
}

TEST_F(SandboxTest, NegativeHugeAndNonFiniteLimitsAreClamped) {
    run(R"LUA(
        local loop = z2_compile("while true do end", {})
        local long = z2_compile("for i = 1, 3e7 do end", {})
        local alloc = z2_compile("local t = {} for i = 1, 100000 do t[i] = i end", {})
        local short = z2_compile("local t = {} for i = 1, 1000 do t[i] = i end", {})
        local function try(name, f, i, m)
            local ok, msg = z2_sandbox(f, i, m)
            r(name, tostring(ok) .. " " .. tostring(msg))
        end
        try("neg_count", loop, -5, 0)
        try("nan_count", loop, 0/0, 0)
        try("half_count", long, 0.5, 0)
        try("tiny_count", long, 1e-9, 0)
        try("neg_mem", alloc, 0, -1)
        try("half_mem", alloc, 0, 0.5)
        try("huge", short, 1e300, 1e300)
        try("inf", short, 1/0, 1/0)
    )LUA");
    // Only 0 is no limit: whatever else is below the smallest limit is that limit.
    for (const char* name : {"neg_count", "nan_count", "half_count", "tiny_count"})
        EXPECT_NE(param(name).find("instruction limit exceeded"), std::string::npos) << name;
    for (const char* name : {"neg_mem", "half_mem"})
        EXPECT_NE(param(name).find("not enough memory"), std::string::npos) << name;
    EXPECT_EQ(param("huge"), "true nil");
    EXPECT_EQ(param("inf"), "true nil");
    expect_mod_healthy();
}

TEST_F(SandboxTest, CEntryRunsOnItsOwnLimitedState) {
    ModsLimiter lim;
    lua_State* L = sandbox_newstate(&lim);
    ASSERT_NE(L, nullptr);
    ASSERT_EQ(luaL_loadstring(L, "local t = {} for i = 1, 1e7 do t[i] = i end"), LUA_OK);
    EXPECT_EQ(_sandbox_run(L, -1, 0, 32), LUA_ERRMEM);
    lua_settop(L, 0);
    ASSERT_EQ(luaL_loadstring(L, "while true do end"), LUA_OK);
    EXPECT_EQ(_sandbox_run(L, -1, 3, 0), LUA_ERRRUN);
    EXPECT_NE(std::string(lua_tostring(L, -1)).find("instruction limit exceeded"), std::string::npos);
    lua_close(L);
    EXPECT_EQ(lim.used, 0u);

    // A cap below what a state needs: no state, no crash.
    ModsLimiter tiny;
    tiny.mem_limit = 64;
    EXPECT_EQ(sandbox_newstate(&tiny), nullptr);
}

// ---- string metatable, bad calls, nesting -------------------------------------------

TEST_F(SandboxTest, StringMethodsAreGoneInsideAndBackAfter) {
    run(R"LUA(
        local f = z2_compile("return ('x'):upper()", {})
        local ok, msg = z2_sandbox(f, 10, 0)
        r("ok", ok) r("msg", msg)
        r("after", ("x"):upper())
        local dumped = z2_compile("local d = ('').dump return d", {})
        r("dump", (z2_sandbox(dumped, 10, 0)))
    )LUA");
    EXPECT_EQ(param("ok"), "false");
    EXPECT_EQ(param("after"), "X");
    EXPECT_EQ(param("dump"), "false");
    expect_mod_healthy();
}

TEST_F(SandboxTest, BadCallsChangeNothing) {
    run(R"LUA(
        local f = z2_compile("return 1", {})
        local function try(name, ...)
            local ok, msg = pcall(z2_sandbox, ...)
            r(name, tostring(ok) .. " " .. tostring(msg))
        end
        try("notfn", "while true do end", 1, 1)
        try("badcount", f, "many", 1)
        try("badmem", f, 1, {})
        try("few", f, 1)
        try("many", f, 1, 1, 1)
        r("upper", ("ok"):upper())
    )LUA");
    for (const char* name : {"notfn", "badcount", "badmem"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(param(name).rfind("false ", 0), 0u);
    }
    EXPECT_EQ(param("few"), "false incorrect number of arguments");
    EXPECT_EQ(param("many"), "false incorrect number of arguments");
    EXPECT_EQ(param("upper"), "OK");
    expect_mod_healthy();
}

TEST_F(SandboxTest, NestedCallsAreRefusedAndTheOuterLimitsHold) {
    run(R"LUA(
        local env = {z2_sandbox = z2_sandbox, pcall = pcall, inner = function() while true do end end}
        local refused = z2_compile("return z2_sandbox(inner, 0, 0)", env)
        local ok, msg = z2_sandbox(refused, 50, 0)
        r("ok", ok) r("msg", msg)
        -- The refusal caught inside: the outer run keeps its hook and limit.
        local caught = z2_compile("pcall(z2_sandbox, inner, 0, 0) while true do end", env)
        local ok2, msg2 = z2_sandbox(caught, 50, 0)
        r("ok2", ok2) r("msg2", msg2)
        r("upper", ("x"):upper())
    )LUA");
    EXPECT_EQ(param("ok"), "false");
    EXPECT_NE(param("msg").find("nested sandbox refused"), std::string::npos);
    EXPECT_EQ(param("ok2"), "false");
    EXPECT_NE(param("msg2").find("instruction limit exceeded"), std::string::npos);
    EXPECT_EQ(param("upper"), "X");
    expect_mod_healthy();
}

TEST_F(SandboxTest, CompileInsideARunNeverReachesTheModsGlobals) {
    run(R"LUA(
        secret = "mod global"
        local env = {z2_compile = z2_compile}
        local f = z2_compile("return z2_compile('return secret, _G')()", env)
        local seen, g
        r("ok", z2_sandbox(function() seen, g = f() end, 10, 0))
        r("seen", seen) r("g", g)
        r("outside", z2_compile("return secret")())
    )LUA");
    EXPECT_EQ(param("ok"), "true");
    EXPECT_EQ(param("seen"), "nil");
    EXPECT_EQ(param("g"), "nil");
    EXPECT_EQ(param("outside"), "mod global");
}

// ---- loading roads: text only ------------------------------------------------------

TEST_F(SandboxTest, BinaryChunksAreRefusedOnEveryRoad) {
    // The mod can still make bytecode through the strings' metatable ...
    run(R"LUA(
        local dump = ("").dump
        bytecode = dump(function() return 42 end)
        r("sig", bytecode:byte(1))
        local ok, msg = pcall(z2_compile, bytecode)
        r("compile", tostring(ok) .. " " .. tostring(msg))
        local f, err = z2_compile(" " .. bytecode)
        r("padded", tostring(f) .. " " .. tostring(err))
    )LUA");
    EXPECT_EQ(param("sig"), "27");
    EXPECT_EQ(param("compile"), "false invalid string");
    EXPECT_EQ(param("padded").rfind("nil ", 0), 0u);

    // ... but neither a required file nor a script line will run it.
    std::string bytecode;
    lua_getglobal(lua()->L, "bytecode");
    size_t len = 0;
    const char* b = lua_tolstring(lua()->L, -1, &len);
    bytecode.assign(b, len);
    lua_pop(lua()->L, 1);
    write("mod/evil.lua", bytecode);
    run(R"LUA( local ok, msg = pcall(require, "evil") r("req", ok) )LUA");
    EXPECT_EQ(param("req"), "true");  // the file is loaded, not run
    EXPECT_TRUE(logged("binary chunk"));

    api()->log.clear();
    lua()->script(bytecode.c_str(), "console");
    EXPECT_TRUE(logged("binary chunk"));
    EXPECT_TRUE(lua()->is_okay());
    expect_mod_healthy();
}

TEST_F(SandboxTest, DangerousGlobalsAreAbsentEvenWithTheWholeGlobalTable) {
    const char* names =
        "load loadstring loadfile dofile debug io package collectgarbage rawequal "
        "rawlen xpcall module unpack setmetatable getmetatable rawset rawget newproxy";
    std::string code = R"LUA(
        local names = ")LUA" + std::string(names) + R"LUA("
        local found = {}
        for n in names:gmatch("%S+") do
            if _G[n] ~= nil then found[#found + 1] = n end
        end
        for _, lib in ipairs({"string.dump", "os.execute", "os.exit", "os.getenv", "os.remove",
                              "table.maxn", "math.log10"}) do
            local t, k = lib:match("(%w+)%.(%w+)")
            if _G[t][k] ~= nil then found[#found + 1] = lib end
        end
        r("outside", table.concat(found, ","))
        local probe = z2_compile([[
            local found = {}
            for _, n in ipairs({"debug", "load", "setmetatable", "getmetatable", "rawget", "io", "package"}) do
                if _G[n] ~= nil then found[#found + 1] = n end
            end
            return table.concat(found, ",")
        ]], _G)
        local env_found
        r("inside", z2_sandbox(function() env_found = probe() end, 100, 0))
        r("inside_found", env_found)
    )LUA";
    run(code);
    EXPECT_EQ(param("outside"), "");
    EXPECT_EQ(param("inside"), "true");
    EXPECT_EQ(param("inside_found"), "");
}

// ---- finalizers ---------------------------------------------------------------------

TEST_F(SandboxTest, FailingFinalizersNeverAbortOrBreakTheMod) {
    lua_register(lua()->L, "test_setmt", test_setmt);
    // A finalizer that fails during the collection after a script error, and
    // one that fails during a sandbox run: the program must go on.
    run(R"LUA(
        test_setmt({}, {__gc = function() error("gc boom") end})
        error("first failure")
    )LUA");
    EXPECT_TRUE(logged("first failure"));
    run(R"LUA(
        test_setmt({}, {__gc = function() error("gc boom 2") end})
        local f = z2_compile("local t = {} for i = 1, 200000 do t[i] = {} end", {})
        r("ran", (z2_sandbox(f, 0, 0)))
    )LUA");
    EXPECT_NE(param("ran"), "");
    // A finalizer that prints while the state closes writes into the mod log.
    run(R"LUA( test_setmt({}, {__gc = function() print("closing finalizer") end}) )LUA");
    expect_mod_healthy();
    ModsLua* engine = lua();
    ModsAPI* keep_api = api();
    game->mods_engine.release();
    delete engine;
    bool found = false;
    for (const std::string& line : keep_api->log) found = found || line == "closing finalizer";
    EXPECT_TRUE(found);
}

TEST_F(SandboxTest, SandboxedCodeCannotInstallFinalizers) {
    run(R"LUA(
        local probe = z2_compile([[
            local mt = getmetatable and getmetatable("") or nil
            local ok = pcall(function() setmetatable({}, {__gc = function() while true do end end}) end)
            return tostring(mt) .. " " .. tostring(ok)
        ]], _G)
        local out
        r("ok", z2_sandbox(function() out = probe() end, 100, 0))
        r("out", out)
    )LUA");
    EXPECT_EQ(param("ok"), "true") << param("msg");
    EXPECT_EQ(param("out"), "nil false");
}

// ---- z2_compile ---------------------------------------------------------------------

TEST_F(SandboxTest, CompileBindsTheEnvironmentAndReportsErrors) {
    run(R"LUA(
        local env = {}
        local f = z2_compile("x = 5 return y", {y = 7})
        r("y", f())
        local g = z2_compile("x = 5", env)
        g()
        r("envx", env.x) r("globalx", x)
        local bad, msg = z2_compile("x = = 1")
        r("bad", bad) r("msg", msg)
        r("badenv", (pcall(z2_compile, "return 1", 5)))
        r("badcode", (pcall(z2_compile, 5)))
        local ok, msg = z2_sandbox(z2_compile("error(nil)", {error = error}), 10, 0)
        r("errnil", tostring(ok) .. " " .. tostring(msg))
    )LUA");
    EXPECT_EQ(param("y"), "7");
    EXPECT_EQ(param("envx"), "5");
    EXPECT_EQ(param("globalx"), "nil");
    EXPECT_EQ(param("bad"), "nil");
    EXPECT_NE(param("msg").find("script"), std::string::npos);
    EXPECT_EQ(param("badenv"), "false");
    EXPECT_EQ(param("badcode"), "false");
    EXPECT_EQ(param("errnil"), "false (error object is not a string)");
}

}  // namespace
