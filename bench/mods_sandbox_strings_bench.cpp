// Ordinary string patterns inside z2_sandbox: the step-counting functions the
// sandbox uses (arg 1) against Lua's own (arg 0), both run under the same
// instruction limit and count hook. The budget is met when arg 1 costs at
// most twice arg 0.
#include <benchmark/benchmark.h>

#include <string>

#include "mods/mods_lua.h"

namespace {

// The text every workload reads: a lobby-sized list of players.
const char* const SETUP = R"LUA(
local parts = {}
for i = 1, 40 do
  parts[#parts + 1] = "name=Player" .. i .. " score=" .. (i * 37) .. " team=" .. (i % 2 == 0 and "red" or "blue") .. "; "
end
text = table.concat(parts)
)LUA";

const char* const WORKLOADS[] = {
    // find: a capture, then a plain search
    "return function() local a, b, t = string.find(text, 'team=(%a+);', 200) "
    "local c = string.find(text, 'Player39', 1, true) return a end",
    // match: anchored trim and a key-value pair
    "return function() local m = string.match(text, '^%s*(.-)%s*$') "
    "local k, v = string.match(text, '(%w+)=(%d+)') return m end",
    // gmatch over every pair
    "return function() local n = 0 for k, v in string.gmatch(text, '(%w+)=(%w+)') do n = n + 1 end return n end",
    // gsub with a string replacement
    "return function() return (string.gsub(text, '%d+', '#')) end",
};
const char* const NAMES[] = {"find", "match", "gmatch", "gsub"};

void run(benchmark::State& state, int workload) {
    ModsLimiter lim;
    lua_State* L = sandbox_newstate(&lim);
    luaL_openlibs(L);
    if (state.range(0)) mods_lua_strings_open(L);
    luaL_dostring(L, SETUP);
    luaL_dostring(L, WORKLOADS[workload]);
    int f = lua_gettop(L);
    for (auto _ : state) {
        int status = _sandbox_run(L, f, 1e9, 0);
        if (status != LUA_OK) {
            state.SkipWithError(lua_tostring(L, -1));
            break;
        }
    }
    state.SetLabel(std::string(NAMES[workload]) + (state.range(0) ? " counted" : " lua"));
    lua_close(L);
}

void BM_sandbox_find(benchmark::State& s) { run(s, 0); }
void BM_sandbox_match(benchmark::State& s) { run(s, 1); }
void BM_sandbox_gmatch(benchmark::State& s) { run(s, 2); }
void BM_sandbox_gsub(benchmark::State& s) { run(s, 3); }

}  // namespace

BENCHMARK(BM_sandbox_find)->Arg(0)->Arg(1);
BENCHMARK(BM_sandbox_match)->Arg(0)->Arg(1);
BENCHMARK(BM_sandbox_gmatch)->Arg(0)->Arg(1);
BENCHMARK(BM_sandbox_gsub)->Arg(0)->Arg(1);
