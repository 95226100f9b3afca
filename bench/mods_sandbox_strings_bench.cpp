// Ordinary string patterns inside z2_sandbox: the step-counting functions the
// sandbox uses (arg 1) against Lua's own (arg 0), both run under the same
// instruction limit and count hook. The budget is met when arg 1 costs at
// most twice arg 0.
//
// BM_sandbox_budget_cpu: code that spends a budget of 1,000 thousand
// instructions in as much work as it can (long C calls, long strings,
// long argument lists); the time per iteration is the CPU time of one such
// run, which must stay below about a second.
#include <benchmark/benchmark.h>

#include <string>

#include "mods/mods_lua.h"
#include "z2_bench.h"  // z2_bench_size: a small budget in the smoke run

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

// Each attack loops until the limit stops it.
const char* const ATTACKS[][2] = {
    {"upper", "local s = string.rep('x', 1e6) while true do local u = string.upper(s) end"},
    {"concat_op", "local s = string.rep('x', 1e6) while true do local u = s .. s end"},
    {"table_concat", "local t = {} for i = 1, 30000 do t[i] = '' end while true do local u = table.concat(t) end"},
    {"sort", "local t = {} for i = 1, 100000 do t[i] = i end while true do table.sort(t) end"},
    {"insert", "local t = {} for i = 1, 100000 do t[i] = i end while true do table.insert(t, 1, 0) end"},
    {"unpack", "local t = {} for i = 1, 100000 do t[i] = i end while true do local a = table.unpack(t) end"},
    {"byte", "local s = string.rep('x', 1e5) while true do local a = string.byte(s, 1, -1) end"},
    {"rep_empty", "while true do local a = string.rep('', 1e8) end"},
    {"tonumber", "local s = string.rep('0', 1e6) .. '1' while true do local a = tonumber(s) end"},
    {"format_q", "local s = string.rep('\\0', 1e6) while true do local a = string.format('%q', s) end"},
    {"gsub", "local s = string.rep('x', 1e4) while true do local a = string.gsub(s, '.', '%0%0%0%0') end"},
    {"errors", "while true do pcall(error, 'x') end"},
    {"string_eq", "local a = string.rep('x', 1e6) local b = string.rep('x', 1e6) while true do local c = a == b end"},
    {"string_lt_nul", "local a = string.rep('\\0', 2e6) while true do local c = a < a end"},
    {"vararg", "local t = {} for i = 1, 100000 do t[i] = i end local function g() end "
               "local function f(...) while true do g(...) end end f(table.unpack(t))"},
};

void BM_sandbox_budget_cpu(benchmark::State& state) {
    ModsLimiter lim;
    lua_State* L = sandbox_newstate(&lim);
    luaL_openlibs(L);
    mods_lua_strings_open(L);
    mods_lua_limits_open(L);
    const char* const* attack = ATTACKS[state.range(0)];
    luaL_loadstring(L, attack[1]);
    int f = lua_gettop(L);
    for (auto _ : state) {
        if (_sandbox_run(L, f, (lua_Number)z2_bench_size(1000, 20), 0) == LUA_OK) {
            state.SkipWithError("the run was not stopped");
            break;
        }
        lua_pop(L, 1);
    }
    state.SetLabel(attack[0]);
    lua_close(L);
}

BENCHMARK(BM_sandbox_find)->Arg(0)->Arg(1);
BENCHMARK(BM_sandbox_match)->Arg(0)->Arg(1);
BENCHMARK(BM_sandbox_gmatch)->Arg(0)->Arg(1);
BENCHMARK(BM_sandbox_gsub)->Arg(0)->Arg(1);
BENCHMARK(BM_sandbox_budget_cpu)
    ->DenseRange(0, sizeof(ATTACKS) / sizeof(ATTACKS[0]) - 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(z2_bench_size(2, 1));
