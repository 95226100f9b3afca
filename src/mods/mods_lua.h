// mods_lua: the script engine (ModsBase, implemented by ModsLua over one Lua
// 5.2 state) with its sandbox: a whitelisted global table, text-only loading,
// Lua output routed into the mod log, and z2_sandbox/z2_compile for code that
// a mod accepts from others, run under instruction and memory limits.
//
// One engine is alive at a time; Game.mods_engine owns it. Main thread only.
#pragma once

#include <lua.hpp>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "mods/mods_api.h"
#include "ruvezor/util/qel_var.h"

// The engine interface the rest of the game sees. The base does nothing.
class ModsBase {
public:
    virtual void init();
    virtual void loop(float dt);
    virtual void event(var e);
    virtual void script(const char* code, const char* name);
    // A built-in script: as script(), but it also reaches the metatable
    // functions that the mods' globals lack, however often it runs.
    virtual void script_builtin(const char* code, const char* name);
    virtual bool is_okay();
    virtual ~ModsBase();
};

// The allocator and count-hook state of one Lua state. Memory figures are
// 64-bit so that neither the cap nor the running total can wrap.
struct ModsLimiter {
    uint64_t used = 0;         // bytes allocated now
    uint64_t mem_limit = 0;    // absolute cap in bytes, 0 = none
    uint64_t mem_start = 0;    // `used` when the current sandbox run began
    uint32_t count = 0;        // count-hook calls (thousands of instructions)
    uint32_t count_limit = 0;  // 0 = none
    uint32_t count_start = 0;  // `count` when the current sandbox run began
    uint32_t steps = 0;        // work charged by C functions below one hook step
    int32_t running = 0;       // 1 while a sandbox run is in progress
    int32_t tripped = 0;       // the instruction limit fired in this run
    int32_t timed = 0;         // the run's CPU timer is armed
    volatile sig_atomic_t expired = 0;  // the run passed its CPU time (set by the timer's signal)
    lua_State* volatile thread = nullptr;  // the thread running in the limited run now
    uint64_t cpu_start = 0;    // thread CPU time (ns) when a limited run without a timer began
};

class ModsLua : public ModsBase {
public:
    ModsAPI* api = nullptr;    // not owned
    lua_State* L = nullptr;    // owned
    int err = 0;               // status of the last init/loop/event; blocks them while set
    ModsLimiter limiter;

    explicit ModsLua(ModsAPI& api);
    ~ModsLua() override;

    void init() override;
    void loop(float dt) override;
    void event(var e) override;
    void script(const char* code, const char* name) override;
    void script_builtin(const char* code, const char* name) override;
    bool is_okay() override;

    // Builds the state (nothing when it exists).
    void lua_init();
    // Loads code (its full byte length, text only) and runs it; 0 on success,
    // else the Lua status after reporting the message into the mod log.
    // A built-in chunk runs in the built-in scripts' view of the globals.
    int dostring(const char* code, size_t length, const char* name, bool builtin = false);
    // The Lua literal of a dict, for "_event(...)".
    static std::string dict2lua(const var& e);
};

// A new engine with its state built.
ModsBase* mods_lua(ModsAPI& api);

// The script engine's process-wide state; one engine is alive at a time.
struct _ModsLuaData {
    ModsAPI* _lua_modsapi = nullptr;  // receiver of the Lua library's output (print and error reports)
};
extern _ModsLuaData _mods_lua;

// Output redirect: standard output and error become mod log entries.
size_t lua_fwrite(const void* data, size_t size, size_t count, FILE* stream);
int lua_fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// For a Lua library built to write through it; Debian's Lua 5.2 writes
// through the other two.
int lua_fputs(const char* text, FILE* stream);

// VM instructions between two calls of the count hook in a limited run.
constexpr int MODS_HOOK_STEP = 1000;
// Inside a limited run, work done outside the VM's instruction stream is
// charged to the same limit, in instructions, at about what an instruction
// costs: one per value a library function takes, gives, moves or compares,
// one per MODS_BYTES_PER_STEP bytes it makes (every allocation) or reads.
constexpr uint64_t MODS_BYTES_PER_STEP = 16;
// A line written to the mod log (and the game log behind it).
constexpr uint64_t MODS_LOG_LINE_STEPS = 1000;
// An error raised and caught (pcall, coroutine.resume).
constexpr uint64_t MODS_ERROR_STEPS = 1000;
// The largest block a limited run gets once its limit has fired (messages
// and tracebacks of the unwinding fit easily).
constexpr uint64_t MODS_TRIPPED_BLOCK_MAX = 64 * 1024;
// What one VM instruction does is not always small (comparing two long
// strings, copying a long argument list), nor is the parser's work on a text
// (no instruction runs while z2_compile parses): a limited run also ends
// once its CPU time passes this many nanoseconds per instruction of its
// budget. A timer on the thread's CPU clock tells it, whatever the C call
// running then; the run ends at its next instruction, or at the parser's
// next piece of text.
constexpr uint64_t MODS_CPU_NS_PER_STEP = 1000;
// ... but never before this much CPU time, so that a collection of a big
// heap during a short run does not end it.
constexpr uint64_t MODS_CPU_NS_MIN = 20000000;

// True while a z2_sandbox run with an instruction limit is in progress.
bool mods_lua_limited(lua_State* L);
// The string functions whose work happens inside one C call (find, match,
// gmatch, gsub, rep, format, byte, char): replaced in the "string" table by
// versions that, inside a z2_sandbox run with an instruction limit, work on
// our own step-counting pattern matcher and charge their work to that limit.
// Outside such a run they are Lua's own.
void mods_lua_strings_open(lua_State* L);
// The same for the rest of the library a mod can hand to a sandbox run:
// pcall, the table functions, select, tonumber, math.max/min, the n-ary
// bit32 functions, coroutine.yield and the os functions.
void mods_lua_limits_open(lua_State* L);
// Wraps the function on top of the stack (a C function) in one that, inside
// a limited run, charges `steps` per call, one per argument and result, and
// one per `bytes` bytes of text in its arguments and results (0: text not
// charged).
void mods_lua_charged(lua_State* L, uint64_t steps, uint64_t bytes);
// The same for the library function lib.name (lib null: a global).
void mods_lua_charge_calls(lua_State* L, const char* lib, const char* name, uint64_t steps, uint64_t bytes);
// Puts `ours` in place of the library function lib.name, with Lua's own as
// its upvalue 1. Both do nothing when there is no such C function.
void mods_lua_replace(lua_State* L, const char* lib, const char* name, lua_CFunction ours);
// For mods_lua_replace: `Ours` inside a limited run, Lua's own (upvalue 1,
// called in this same call) everywhere else.
template <lua_CFunction Ours>
int mods_lua_when_limited(lua_State* L) {
    if (mods_lua_limited(L)) return Ours(L);
    return lua_tocfunction(L, lua_upvalueindex(1))(L);
}
// Charges work done in C to the running limited sandbox run, in
// instructions; past the limit it fails like the count hook. Nothing outside
// a limited run.
void mods_lua_charge(lua_State* L, uint64_t instructions);
// The limit has fired: from now on every instruction of the run fails too;
// raises "instruction limit exceeded".
[[noreturn]] void mods_lua_limit_tripped(lua_State* L);

// C entry to the same sandbox: a state on the limiter allocator (null when
// Lua cannot make one), and one limited run of the function at `index`.
lua_State* sandbox_newstate(void* limiter);
int _sandbox_run(lua_State* L, int index, lua_Number instructions, lua_Number memory);

// The globals that the engine registers, in order: one row per Lua name.
// Inside a limited run a call costs `steps` instructions (what the game
// operation does at most, besides what the binding charges itself), one per
// argument, and one per `bytes` bytes of text in its arguments.
struct ModsLuaGlobal {
    const char* name;
    lua_CFunction fn;
    uint32_t steps = 0;
    uint32_t bytes = MODS_BYTES_PER_STEP;
};
extern const ModsLuaGlobal mods_lua_globals[];  // ends with a null name

// ---- bindings and conversions (mods_lua_z2.cpp) ----------------------------------

// The `ModsAPI` of a state (registry key "z2"); raises a Lua error when absent.
ModsAPI* mods_lua_api(lua_State* L);
// Raises the stored API error, if any, as a Lua error (clearing it first).
void mods_lua_raise_api_error(lua_State* L, ModsAPI* api);
// The argument's text; `fallback` when it has none, else the error "null string".
std::string my_lua_tostring(lua_State* L, int index, const char* fallback = nullptr);
// Lua value -> var ("null string" for tables, functions ...) and back.
var mods_lua_to_var(lua_State* L, int index);
void mods_lua_push_var(lua_State* L, const var& v);
// Lua's integer conversion for every binding: a non-number gives 0, NaN gives
// 0 and values beyond the int range saturate.
int mods_lua_toint(lua_State* L, int index);
// Lua's number conversion narrowed to float (beyond float range: infinity).
float mods_lua_tofloat(lua_State* L, int index);

// The globals, named as in Lua (`require` is z2_require).
int z2_game_reset(lua_State* L);
int z2_planets_settle(lua_State* L);
int z2_view_set(lua_State* L);
int z2_bounds_set(lua_State* L);
int z2_clip_set(lua_State* L);
int z2_user_init(lua_State* L);
int z2_team_init(lua_State* L);
int z2_planet_init(lua_State* L);
int z2_fleet_init(lua_State* L);
int z2_item_init(lua_State* L);
int z2_fleet_send(lua_State* L);
int z2_fleet_redirect(lua_State* L);
int z2_planet_chown(lua_State* L);
int z2_part_init(lua_State* L);
int z2_items_find(lua_State* L);
int z2_item_set(lua_State* L);
int z2_item_get(lua_State* L);
int z2_item_destroy(lua_State* L);
int z2_item_sync(lua_State* L);
int z2_item_selected(lua_State* L);
int z2_param_set(lua_State* L);
int z2_param_get(lua_State* L);
int z2_gui_set(lua_State* L);
int z2_gui_get(lua_State* L);
int z2_net_host(lua_State* L);
int z2_net_join(lua_State* L);
int z2_net_send(lua_State* L);
int z2_chat_append(lua_State* L);
int z2_chat_keywords(lua_State* L);
int z2_play_sound(lua_State* L);
int z2_play_music(lua_State* L);
int z2_api_call(lua_State* L);
int z2_ext_call(lua_State* L);
int z2_require(lua_State* L);
int z2_md5_digest(lua_State* L);
