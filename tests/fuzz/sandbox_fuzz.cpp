// Fuzz entry for code a mod accepts from others and runs with z2_compile and
// z2_sandbox: any text as a script in a fresh environment of the library a
// mod can hand over, and any subject, pattern and replacement given to the
// string and table functions that a limited run swaps for its own counting
// versions. Every run must return within its limits and leave the mod as it
// was (no hook, no limits, string methods back); a pattern call that ends
// inside its limit must give exactly what Lua's own function gives for it,
// result or error message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_bytes.h"
#include "fuzz_home.h"
#include "mods/mods_api.h"
#include "mods/mods_game.h"
#include "mods/mods_lua.h"

namespace {

// The mod around the runs. fuzz_code runs a script; fuzz_call runs one call
// of a swapped function in the sandbox and, when that ended inside its
// limit, the same compiled call again unlimited, and says whether they agree.
const char HARNESS[] = R"LUA(
local function copy(t) local c = {} for k, v in pairs(t) do c[k] = v end return c end
local function env()
  return {string = copy(string), table = copy(table), math = copy(math), bit32 = copy(bit32),
          coroutine = copy(coroutine), os = {clock = os.clock, time = os.time, difftime = os.difftime},
          print = print, pairs = pairs, ipairs = ipairs, next = next, select = select, type = type,
          tostring = tostring, tonumber = tonumber, error = error, assert = assert, pcall = pcall}
end
local function limited(msg)
  return msg == "instruction limit exceeded" or msg == "not enough memory"
end
function fuzz_code(code)
  -- A binary chunk is refused with an error, other bad code with nil.
  local ok, f = pcall(z2_compile, code, env())
  if ok and f then z2_sandbox(f, 200, 1024) end
  z2_param_set("verdict", "same")
end
local CALL = [[
local out = {}
local function put(...)
  local n = select("#", ...)
  for i = 1, n do out[#out + 1] = tostring((select(i, ...))) end
  out[#out + 1] = ";"
end
if name == "gmatch" then
  local n = 0
  for a, b, c in string.gmatch(s, p) do put(a, b, c) n = n + 1 if n > 64 then break end end
elseif name == "gsub" then put(string.gsub(s, p, r, i))
elseif name == "gsubt" then put(string.gsub(s, p, {a = "A", ["1"] = 2, x = false}, i))
elseif name == "gsubf" then put(string.gsub(s, p, function(a, b) return b end, i))
elseif name == "concat" then
  local t = {} for k = 1, #r do t[k] = string.sub(r, k, k) end
  put(table.concat(t, s, i, #p))
elseif name == "insert" then
  local t = {} for k = 1, #r do t[k] = string.sub(r, k, k) end
  put(pcall(table.insert, t, i, s)) put(table.concat(t, ","))
  put(pcall(table.remove, t, #p)) put(table.concat(t, ","))
else put(string[name](s, p, i)) end
return table.concat(out, " ")
]]
local NAMES = {"find", "match", "gmatch", "gsub", "gsubt", "gsubf", "concat", "insert"}
function fuzz_call(which, s, p, r, i)
  local e = env()
  e.name, e.s, e.p, e.r, e.i = NAMES[which % #NAMES + 1], s, p, r, i
  local f = z2_compile(CALL, e)
  local got
  local ok, msg = z2_sandbox(function() got = f() end, 200, 1024)
  -- A failed run's message carries a traceback after its first line.
  if not ok then msg = string.match(msg, "^[^\n]*") end
  if not ok and limited(msg) then z2_param_set("verdict", "same") return end
  ("x"):upper()
  local ok2, want = pcall(f)
  if ok2 ~= ok or (ok and got ~= want) or (not ok and msg ~= want) then
    z2_param_set("verdict", "differ: " .. tostring(ok) .. " " .. tostring(ok and got or msg) ..
                 " / " .. tostring(ok2) .. " " .. tostring(want))
  else
    z2_param_set("verdict", "same")
  end
end
)LUA";

// A Lua literal of any bytes.
std::string lua_text(const std::string& s) {
    std::string q = "\"";
    char buf[8];
    for (unsigned char c : s) {
        snprintf(buf, sizeof(buf), "\\%u", c);
        q += buf;
    }
    return q + "\"";
}

struct Mod {
    ModsGame game;
    ModsAPI* api = nullptr;
    ModsLua* lua = nullptr;
};

Mod* start() {
    FuzzHome::fresh_docs();
    std::string dir = FuzzHome::root() + "/mod";
    std::filesystem::create_directories(dir);
    FuzzHome::put(dir + "/main.lua", "function init() end function loop(t) end function event(e) end");
    Mod* m = new Mod();
    m->game.headless = 1;
    snprintf(m->game.mod_file, sizeof(m->game.mod_file), "%s/main.lua", dir.c_str());
    mods_restart(m->game, 0, var(VAR_DICT, 0));
    m->api = mods_api_of(m->game);
    m->lua = static_cast<ModsLua*>(mods_engine_of(m->game));
    if (!m->api || !m->lua || !m->lua->L || !m->lua->is_okay()) fuzz_fail("the mod did not start");
    m->lua->script(HARNESS, "harness");
    return m;
}

void run(Mod& m, const std::string& chunk) {
    m.api->params.__set__(var("verdict"), var());
    m.api->log.clear();
    {
        FuzzWatch watch("a sandbox run");
        m.lua->script(chunk.c_str(), "fuzz");
    }
    std::string verdict = m.api->param_get("verdict").__str__();
    if (verdict != "same") {
        std::string why = verdict.empty() ? "the harness did not end" : verdict;
        for (const std::string& line : m.api->log) why += "\n  " + line;
        fuzz_fail(why);
    }
    const ModsLimiter& lim = m.lua->limiter;
    if (lim.running || lim.count_limit || lim.mem_limit || lim.tripped || lua_gethook(m.lua->L))
        fuzz_fail("the mod kept the sandbox's limits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Mod* m = start();
    FuzzBytes in(data, size);
    uint8_t mode = in.u8();
    std::string chunk;
    if (mode % 2 == 0) {
        chunk = "fuzz_code(" + lua_text(in.rest()) + ")";
    } else {
        int which = mode / 2;
        int init = static_cast<int8_t>(in.u8());
        std::string s = in.bytes(in.u8());
        std::string p = in.bytes(in.u8());
        std::string r = in.rest();
        chunk = "fuzz_call(" + std::to_string(which) + ", " + lua_text(s) + ", " + lua_text(p) + ", " + lua_text(r) +
                ", " + std::to_string(init) + ")";
    }
    run(*m, chunk);
    return 0;
}
