// mods_lua: the Lua 5.2 script engine, its sandbox and the global bindings.
//
// Trust model: the mod itself runs unlimited but inside a whitelisted global
// table; code a mod accepts from others goes through z2_compile (text only)
// and z2_sandbox (instruction and memory caps, no string metatable, no
// nesting). Every road into the Lua loader is text only.
#include "mods/mods_lua.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "mods/mods_scripts.h"
#include "ruvezor/util/qel_log.h"

#include "ext/lua/cj-lua_cjson.h"  // luaopen_cjson, the JSON module for scripts

_ModsLuaData _mods_lua;

static constexpr int MODS_LITERAL_DEPTH = 64;     // deeper dicts in an event become nil
static constexpr lua_Number MODS_MEM_KB_MAX = 1099511627776.0;  // 2^40 KB
static constexpr const char* MODS_BUILTIN_ENV = "z2_builtin_env";  // registry key
static constexpr uint64_t MODS_JSON_BYTES_PER_STEP = 2;  // text made or read by json

// ==== output redirect ============================================================

static void _lua_out(FILE* stream, const char* text, size_t n) {
    if (n == 0 || (stream != stdout && stream != stderr) || !_mods_lua._lua_modsapi) return;
    _mods_lua._lua_modsapi->log_entry(std::string(text, n));
}

size_t lua_fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    if (size == 0 || count == 0 || count > SIZE_MAX / size) return 0;
    _lua_out(stream, (const char*)data, size * count);
    return size * count;
}

int lua_fputs(const char* text, FILE* stream) {
    size_t n = text ? strlen(text) : 0;
    if (n == 0) return 0;
    _lua_out(stream, text, n);
    return (int)n;
}

int lua_fprintf(FILE* stream, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = str_vformat(format, ap);
    va_end(ap);
    if (text.empty()) return 0;
    _lua_out(stream, text.data(), text.size());
    return (int)text.size();
}

// The log lines a text makes, and its bytes, as instructions of a limited run.
static uint64_t _log_cost(const char* s, size_t len) {
    uint64_t lines = 1;
    for (const char* end = s + len; (s = (const char*)memchr(s, '\n', (size_t)(end - s))); s++) lines++;
    return lines * MODS_LOG_LINE_STEPS + len / MODS_BYTES_PER_STEP;
}

// print, as the library's, but through the redirect: one write per piece.
static int _mods_lua_print(lua_State* L) {
    int n = lua_gettop(L);
    for (int i = 1; i <= n; i++) {
        size_t len = 0;
        const char* s = luaL_tolstring(L, i, &len);
        if (mods_lua_limited(L)) mods_lua_charge(L, _log_cost(s, len));
        if (i > 1) lua_fwrite("\t", 1, 1, stdout);
        lua_fwrite(s, 1, len, stdout);
        lua_pop(L, 1);
    }
    lua_fwrite("\n", 1, 1, stdout);
    return 0;
}

// ==== engine interface ==============================================================

void ModsBase::init() {}
void ModsBase::loop(float) {}
void ModsBase::event(var) {}
void ModsBase::script(const char*, const char*) {}
void ModsBase::script_builtin(const char* code, const char* name) { script(code, name); }
bool ModsBase::is_okay() { return false; }
ModsBase::~ModsBase() {}

// ==== limiter: allocator, hook, coroutines =======================================

static ModsLimiter* _limiter(lua_State* L) {
    void* ud = nullptr;
    lua_getallocf(L, &ud);
    return (ModsLimiter*)ud;
}

// Thread CPU time in nanoseconds: coroutines share their thread's clock.
static uint64_t _cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

static void _sandbox_hook(lua_State* L, lua_Debug*);

// ---- the CPU backstop ----
//
// Some work inside one C call is seen by no hook and no charge: comparing
// two long strings piece by piece is one instruction, and the parser runs
// none. A limited run therefore arms a timer on its thread's CPU clock for
// the whole of its CPU time; the timer's signal only marks the run as expired
// and sets the hook of the thread running it to fire at the next instruction,
// which ends the run. The parser looks at the mark between the pieces of text
// it is fed. Where no timer can be had, the clock is read at every thousand
// instructions instead.

// The CPU time a limited run may take, in nanoseconds.
static uint64_t _limiter_cpu_allowed(const ModsLimiter* lim) {
    return std::max((uint64_t)lim->count_limit * MODS_HOOK_STEP * MODS_CPU_NS_PER_STEP, MODS_CPU_NS_MIN);
}

// The thread's timer and the run it is armed for. The signal handler reads
// it, so it is constant-initialised static TLS (no allocation on first use).
// The timer is made once per thread and only set and stopped for each run.
struct _CpuTimer {
    ModsLimiter* lim = nullptr;
    int made = 0;  // 1: `timer` exists; -1: it could not be made
    timer_t timer{};
};
static constinit thread_local _CpuTimer _cpu_timer __attribute__((tls_model("initial-exec")));

// Deletes the thread's timer as the thread ends.
struct _CpuTimerOwner {
    ~_CpuTimerOwner() {
        if (_cpu_timer.made > 0) timer_delete(_cpu_timer.timer);
    }
};

// A real-time signal that nothing else in the program uses.
static int _cpu_signal() { return SIGRTMIN + 3; }

// Async-signal-safe: timer_gettime, a store and lua_sethook, which Lua
// allows here. A signal of an earlier run, held up somewhere, finds the
// timer still running for the run armed now and changes nothing.
static void _cpu_on_signal(int, siginfo_t* info, void*) {
    ModsLimiter* lim = _cpu_timer.lim;
    if (!lim || info->si_code != SI_TIMER) return;
    int was = errno;  // the interrupted code may be about to read it
    struct itimerspec left = {};
    bool stale = timer_gettime(_cpu_timer.timer, &left) != 0 || left.it_value.tv_sec || left.it_value.tv_nsec;
    errno = was;
    if (stale) return;
    lim->expired = 1;
    if (lua_State* L = lim->thread) lua_sethook(L, _sandbox_hook, LUA_MASKCOUNT, 1);
}

static bool _cpu_timer_make() {
    if (_cpu_timer.made) return _cpu_timer.made > 0;
    _cpu_timer.made = -1;
    static const bool installed = [] {
        struct sigaction sa = {};
        sa.sa_sigaction = _cpu_on_signal;
        sigemptyset(&sa.sa_mask);
        // The signal may land in a system call of the run's (a z2_ call, the
        // log): it goes on instead of failing with EINTR.
        sa.sa_flags = SA_SIGINFO | SA_RESTART;
        if (sigaction(_cpu_signal(), &sa, nullptr) == 0) return true;
        qel_log("mods_lua: no CPU timer signal (%s): limited runs read the clock\n", strerror(errno));
        return false;
    }();
    if (!installed) return false;
    struct sigevent ev = {};
    ev.sigev_notify = SIGEV_THREAD_ID;
    ev.sigev_signo = _cpu_signal();
    ev._sigev_un._tid = gettid();  // sigev_notify_thread_id, which glibc's header does not name
    if (timer_create(CLOCK_THREAD_CPUTIME_ID, &ev, &_cpu_timer.timer) != 0) {
        qel_log("mods_lua: no CPU timer (%s): limited runs read the clock\n", strerror(errno));
        return false;
    }
    static thread_local _CpuTimerOwner owner;
    (void)owner;
    _cpu_timer.made = 1;
    return true;
}

// Arms the thread's timer for the run's CPU time from now; without one
// (or while a run of another state on this thread holds it) the run is not
// timed.
static void _cpu_timer_arm(ModsLimiter* lim) {
    lim->timed = 0;
    if (_cpu_timer.lim || !_cpu_timer_make()) return;
    uint64_t ns = _limiter_cpu_allowed(lim);
    struct itimerspec at = {};
    at.it_value.tv_sec = (time_t)(ns / 1000000000u);
    at.it_value.tv_nsec = (long)(ns % 1000000000u);
    _cpu_timer.lim = lim;
    if (timer_settime(_cpu_timer.timer, 0, &at, nullptr) != 0) {
        _cpu_timer.lim = nullptr;
        return;
    }
    lim->timed = 1;
}

// Before the run's hooks go: a signal after this changes nothing.
static void _cpu_timer_disarm(ModsLimiter* lim) {
    if (!lim->timed) return;
    _cpu_timer.lim = nullptr;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    struct itimerspec stop = {};
    timer_settime(_cpu_timer.timer, 0, &stop, nullptr);
    lim->timed = 0;
}

// The run has had its CPU time: by its timer, or by the clock where it has none.
static bool _limiter_cpu_over(ModsLimiter* lim) {
    if (lim->expired) return true;
    return !lim->timed && _cpu_ns() - lim->cpu_start > _limiter_cpu_allowed(lim);
}

// Adds `steps` instructions' worth of work to the limited run in progress;
// false once the run is past its limit: by count, or by CPU time.
static bool _limiter_spend(ModsLimiter* lim, uint64_t steps) {
    if (lim->tripped || lim->expired) return false;
    uint64_t total = (uint64_t)lim->steps + steps;
    uint64_t thousands = total / MODS_HOOK_STEP;
    lim->steps = (uint32_t)(total % MODS_HOOK_STEP);
    uint64_t count = (uint64_t)lim->count + thousands;
    lim->count = count > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)count;
    if (lim->count >= lim->count_limit) return false;
    return !thousands || !_limiter_cpu_over(lim);
}

// From the next instruction on, the hook sees every instruction of `L`.
static void _limiter_watch(lua_State* L) {
    if (L && lua_gethookcount(L) != 1) lua_sethook(L, _sandbox_hook, LUA_MASKCOUNT, 1);
}

// `L` runs in the limited run from now on; had the timer fired for another
// thread meanwhile, `L` ends at its next instruction.
static void _limiter_enter(ModsLimiter* lim, lua_State* L) {
    lim->thread = L;
    if (lim->expired) _limiter_watch(L);
}

static void* _sandbox_l_alloc(void* ud, void* ptr, size_t osize, size_t nsize) {
    ModsLimiter* lim = (ModsLimiter*)ud;
    uint64_t old = ptr ? (uint64_t)osize : 0;
    if (nsize == 0) {
        free(ptr);
        lim->used -= old;
        return nullptr;
    }
    bool limited = lim->running && lim->count_limit;
    bool counted = limited && !lim->tripped;
    // Once the limit has fired, the run only unwinds, which takes small
    // blocks: a large one is what Lua asks for again after a refused one
    // (after a full collection), to do the work just refused, uncharged.
    if (limited && lim->tripped && nsize > old + MODS_TRIPPED_BLOCK_MAX) return nullptr;
    // Only growth is refused: Lua expects a shrinking block to stay put.
    if (lim->mem_limit && nsize > old && lim->mem_limit < lim->used + (nsize - old)) {
        // Lua answers with a full collection of the whole heap before it
        // gives up: that work is charged too, and a run that catches the
        // memory error and goes on stops at its next instruction if it ran
        // out of budget here.
        if (counted && !_limiter_spend(lim, lim->used / MODS_BYTES_PER_STEP)) _limiter_watch(lim->thread);
        return nullptr;
    }
    // Every byte made in a limited run is charged before it is made: this is
    // what the concatenation instruction and the functions that build
    // strings, tables and stacks pay by.
    if (counted && nsize > old && !_limiter_spend(lim, (nsize - old) / MODS_BYTES_PER_STEP)) {
        lim->tripped = 1;
        _limiter_watch(lim->thread);
        return nullptr;
    }
    void* p = realloc(ptr, nsize);
    if (!p) return nullptr;
    lim->used = lim->used - old + nsize;
    return p;
}

static int _sandbox_panic(lua_State* L) {
    const char* msg = lua_tostring(L, -1);
    lua_fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n", msg ? msg : "?");
    fflush(stderr);
    return 0;
}

// Once the limit has fired, the hook fires on every instruction of every
// thread it reaches, so a pcall that catches the error gets no further.
static void _sandbox_hook(lua_State* L, lua_Debug*) {
    ModsLimiter* lim = _limiter(L);
    if (!lim || !lim->count_limit) return;  // stale hook outside a limited run
    if (!lim->tripped && _limiter_spend(lim, (uint64_t)lua_gethookcount(L))) {
        if (lua_gethookcount(L) != MODS_HOOK_STEP) {
            lua_sethook(L, _sandbox_hook, LUA_MASKCOUNT, MODS_HOOK_STEP);
            // The timer's signal may have set the hook just before this did.
            if (lim->expired) _limiter_watch(L);
        }
        return;
    }
    mods_lua_limit_tripped(L);
}

void mods_lua_limit_tripped(lua_State* L) {
    if (ModsLimiter* lim = _limiter(L)) lim->tripped = 1;
    lua_sethook(L, _sandbox_hook, LUA_MASKCOUNT, 1);
    luaL_error(L, "instruction limit exceeded");
    abort();  // not reached: luaL_error does not return
}

void mods_lua_charge(lua_State* L, uint64_t instructions) {
    ModsLimiter* lim = _limiter(L);
    if (!lim || !lim->running || !lim->count_limit) return;
    if (!_limiter_spend(lim, instructions)) mods_lua_limit_tripped(L);
}

// Hooks are per thread: a coroutine resumed during a limited run gets the
// running thread's hook, or it would run uncounted.
static void _co_share_hook(lua_State* L, lua_State* co) {
    if (lua_gethook(L) == _sandbox_hook)
        lua_sethook(co, _sandbox_hook, lua_gethookmask(L), lua_gethookcount(L));
}

// Resumes co with narg values from L; the count of results moved to L, or
// -1 with the error value on L.
static int _co_resume_into(lua_State* L, lua_State* co, int narg) {
    if (!lua_checkstack(co, narg)) {
        lua_pushliteral(L, "too many arguments to resume");
        return -1;
    }
    if (lua_status(co) == LUA_OK && lua_gettop(co) == 0) {
        lua_pushliteral(L, "cannot resume dead coroutine");
        return -1;
    }
    mods_lua_charge(L, (uint64_t)narg);
    lua_xmove(L, co, narg);
    ModsLimiter* lim = _limiter(L);
    bool running = lim && lim->running;
    lua_State* resumer = running ? lim->thread : nullptr;
    if (running) lim->thread = co;
    _co_share_hook(L, co);
    if (running) _limiter_enter(lim, co);
    int status = lua_resume(co, L, narg);
    if (running) _limiter_enter(lim, resumer);
    if (status == LUA_OK || status == LUA_YIELD) {
        int nres = lua_gettop(co);
        mods_lua_charge(L, (uint64_t)nres);
        if (!lua_checkstack(L, nres + 1)) {
            lua_pop(co, nres);
            lua_pushliteral(L, "too many results to resume");
            return -1;
        }
        lua_xmove(co, L, nres);
        return nres;
    }
    lua_xmove(co, L, 1);
    mods_lua_charge(L, MODS_ERROR_STEPS);
    return -1;
}

// A limit that fired inside a coroutine fires in the resuming thread too,
// on its every next instruction, whoever catches this error.
static void _co_check_tripped(lua_State* L) {
    ModsLimiter* lim = _limiter(L);
    if (!lim || !lim->count_limit || !lim->tripped) return;
    lua_sethook(L, _sandbox_hook, LUA_MASKCOUNT, 1);
    luaL_error(L, "instruction limit exceeded");
}

static int _co_resume(lua_State* L) {
    lua_State* co = lua_tothread(L, 1);
    luaL_argcheck(L, co, 1, "coroutine expected");
    int r = _co_resume_into(L, co, lua_gettop(L) - 1);
    if (r < 0) {
        _co_check_tripped(L);
        lua_pushboolean(L, 0);
        lua_insert(L, -2);
        return 2;
    }
    lua_pushboolean(L, 1);
    lua_insert(L, -(r + 1));
    return r + 1;
}

static int _co_wrap_call(lua_State* L) {
    lua_State* co = lua_tothread(L, lua_upvalueindex(1));
    int r = _co_resume_into(L, co, lua_gettop(L));
    if (r < 0) {
        _co_check_tripped(L);
        if (lua_isstring(L, -1)) {
            luaL_where(L, 1);
            lua_insert(L, -2);
            lua_concat(L, 2);
        }
        return lua_error(L);
    }
    return r;
}

static int _co_wrap(lua_State* L) {
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_State* co = lua_newthread(L);
    lua_pushvalue(L, 1);
    lua_xmove(L, co, 1);
    lua_pushcclosure(L, _co_wrap_call, 1);
    return 1;
}

// ==== running chunks ================================================================

// Message handler: the message with a traceback.
static int _lua_traceback(lua_State* L) {
    if (lua_isstring(L, 1)) {
        luaL_traceback(L, L, lua_tostring(L, 1), 1);
        return 1;
    }
    if (luaL_callmeta(L, 1, "__tostring")) return 1;
    if (!lua_isnoneornil(L, 1)) lua_pushliteral(L, "(no error message)");
    else lua_settop(L, 1);
    return 1;
}

static int _lua_collect_call(lua_State* L) {
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

// A full collection; a finalizer that fails must not abort the program.
static void _lua_collect(lua_State* L) {
    lua_pushcfunction(L, _lua_collect_call);
    if (lua_pcall(L, 0, 0, 0) != LUA_OK) lua_pop(L, 1);
}

int ModsLua::dostring(const char* code, size_t length, const char* name, bool builtin) {
    if (!L) return LUA_ERRMEM;
    int base = lua_gettop(L);
    lua_pushcfunction(L, _lua_traceback);
    int status = luaL_loadbufferx(L, code, length, name, "t");
    if (status == LUA_OK && builtin) {
        // A main chunk's one upvalue is its _ENV.
        lua_getfield(L, LUA_REGISTRYINDEX, MODS_BUILTIN_ENV);
        if (!lua_istable(L, -1) || !lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
    }
    if (status == LUA_OK) status = lua_pcall(L, 0, 0, base + 1);
    if (status != LUA_OK) {
        if (!lua_isnil(L, -1)) {
            const char* msg = lua_tostring(L, -1);
            lua_fprintf(stderr, "%s: ", "zentar2");
            lua_fprintf(stderr, "%s\n", msg ? msg : "(error object is not a string)");
            fflush(stderr);
            if (api && msg) api->error_note(msg);
        }
        lua_settop(L, base);
        _lua_collect(L);
    }
    lua_settop(L, base);
    return status;
}

// ==== literals ======================================================================

// Numbers in the C locale; non-finite ones as expressions that make them.
static std::string _lua_number(double v, bool fixed6) {
    if (std::isnan(v)) return "(0/0)";
    if (std::isinf(v)) return v > 0 ? "(1/0)" : "(-1/0)";
    char buf[512];
    std::to_chars_result r = fixed6
        ? std::to_chars(buf, buf + sizeof(buf), v, std::chars_format::fixed, 6)
        : std::to_chars(buf, buf + sizeof(buf), v);
    if (r.ec != std::errc()) return "(0/0)";
    return std::string(buf, r.ptr);
}

static bool _lua_is_name(const std::string& s) {
    static const char* const reserved[] = {
        "and", "break", "do", "else", "elseif", "end", "false", "for", "function", "goto", "if",
        "in", "local", "nil", "not", "or", "repeat", "return", "then", "true", "until", "while"};
    if (s.empty()) return false;
    for (size_t i = 0; i < s.size(); i++) {
        unsigned char c = (unsigned char)s[i];
        bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        bool digit = c >= '0' && c <= '9';
        if (!alpha && !(digit && i > 0)) return false;
    }
    for (const char* r : reserved)
        if (s == r) return false;
    return true;
}

// A quoted Lua string that reads back byte for byte.
static std::string _lua_quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 32 || c == 127) {
            char esc[8];
            snprintf(esc, sizeof(esc), "\\%03u", (unsigned)c);
            out += esc;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

static void _dict2lua(std::string& out, const var& e, int depth) {
    if (depth > MODS_LITERAL_DEPTH) {
        out += "nil";
        return;
    }
    out += "{";
    bool first = true;
    var walk(e.__iter__());
    var key, value;
    while (walk.__pair__(key, value)) {
        if (!first) out += ",";
        first = false;
        std::string k = key.__str__();
        if (_lua_is_name(k)) out += k;
        else out += "[" + _lua_quote(k) + "]";
        out += "=";
        switch (value.__type__()) {
        case VAR_NONE: out += "nil"; break;
        case VAR_BOOL: out += value.__bool__() ? "true" : "false"; break;
        case VAR_DICT: _dict2lua(out, value, depth + 1); break;
        case VAR_NUMBER: out += _lua_number(value.__num__(), false); break;
        default:
            // Quoted, not in long brackets: those would drop a first line
            // break and turn every "\r\n" and "\r" into "\n". A "]===" in
            // the text still reads "?", as event values always have.
            out += _lua_quote(str_replace(value.__str__(), "]===", "?"));
            break;
        }
    }
    out += "}";
}

std::string ModsLua::dict2lua(const var& e) {
    std::string out;
    _dict2lua(out, e, 0);
    return out;
}

// ==== sandbox ========================================================================

lua_State* sandbox_newstate(void* limiter) {
    lua_State* L = lua_newstate(_sandbox_l_alloc, limiter);
    if (L) lua_atpanic(L, _sandbox_panic);
    return L;
}

// Only 0 means no limit: any other budget, however small, is at least the
// smallest one.
static uint32_t _clamp_count(lua_Number n) {
    if (n == 0) return 0;
    lua_Number t = std::trunc(n);
    if (std::isnan(t) || t < 1) return 1;
    if (t > 4294967295.0) return 0xFFFFFFFFu;
    return (uint32_t)t;
}

static uint64_t _clamp_kb(lua_Number n) {
    if (n == 0) return 0;
    lua_Number t = std::trunc(n);
    if (std::isnan(t) || t < 1) return 1;
    if (t > MODS_MEM_KB_MAX) return (uint64_t)MODS_MEM_KB_MAX;
    return (uint64_t)t;
}

int _sandbox_run(lua_State* L, int index, lua_Number instructions, lua_Number memory) {
    ModsLimiter* lim = _limiter(L);
    index = lua_absindex(L, index);
    if (!lim || lim->running) {
        lua_pushliteral(L, "nested sandbox refused");
        return LUA_ERRRUN;
    }
    uint32_t count_limit = _clamp_count(instructions);
    uint64_t mem_kb = _clamp_kb(memory);
    // The cap counts from the bytes in use when the run begins: garbage of
    // the mod's among them would be freed while the run goes on and leave
    // the run that much more room (a heap's worth, not the KB asked for).
    if (mem_kb) _lua_collect(L);

    int base = lua_gettop(L);
    // The strings' metatable goes for the run (kept here to restore it).
    lua_pushliteral(L, "");
    if (!lua_getmetatable(L, -1)) lua_pushnil(L);
    lua_remove(L, -2);
    int mt = base + 1;
    lua_pushliteral(L, "");
    lua_pushnil(L);
    lua_setmetatable(L, -2);
    lua_pop(L, 1);
    lua_pushcfunction(L, _lua_traceback);
    int handler = base + 2;
    lua_pushvalue(L, index);

    lim->running = 1;
    lim->tripped = 0;
    lim->steps = 0;
    lim->expired = 0;
    lim->thread = L;
    if (mem_kb) lim->mem_limit = lim->used + mem_kb * 1024;
    lim->mem_start = lim->used;
    if (count_limit) {
        lim->count_limit = count_limit;
        lim->count = 0;
        lua_sethook(L, _sandbox_hook, LUA_MASKCOUNT, MODS_HOOK_STEP);
        _cpu_timer_arm(lim);
        if (!lim->timed) lim->cpu_start = _cpu_ns();
    }
    lim->count_start = lim->count;

    int status = lua_pcall(L, 0, 0, handler);
    _cpu_timer_disarm(lim);
    bool tripped = lim->tripped || lim->expired;

    lim->mem_limit = 0;
    lua_sethook(L, nullptr, 0, 0);
    lim->count_limit = 0;
    lim->tripped = 0;
    lim->expired = 0;
    lim->thread = nullptr;
    lim->running = 0;
    lua_pushliteral(L, "");
    lua_pushvalue(L, mt);
    lua_setmetatable(L, -2);
    lua_pop(L, 1);

    if (status != LUA_OK) {
        // Past the limit every failure is the limit's, whatever the code caught
        // and whatever message could still be allocated under the memory cap.
        if (tripped) {
            lua_pop(L, 1);
            lua_pushliteral(L, "instruction limit exceeded");
            status = LUA_ERRRUN;
        }
        lua_replace(L, base + 1);  // the error value takes the first slot
        lua_settop(L, base + 1);
    } else {
        lua_settop(L, base);
    }
    return status;
}

// z2_sandbox(f, instructions, memory): true, or false and the message.
static int z2_sandbox(lua_State* L) {
    if (lua_gettop(L) != 3) return luaL_error(L, "incorrect number of arguments");
    // Every check before anything changes: a bad call leaves the state as it was.
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_Number instructions = luaL_checknumber(L, 2);
    lua_Number memory = luaL_checknumber(L, 3);
    ModsLimiter* lim = _limiter(L);
    if (!lim || lim->running) return luaL_error(L, "nested sandbox refused");

    int status = _sandbox_run(L, 1, instructions, memory);
    if (status == LUA_OK) {
        lua_pushboolean(L, 1);
        return 1;
    }
    const char* msg = lua_tostring(L, -1);
    lua_pushboolean(L, 0);
    lua_pushstring(L, msg ? msg : "(error object is not a string)");
    _lua_collect(L);
    return 2;
}

// Lua's parser matches each goto and break with the labels of its block pair
// by pair, and takes each matched one out of the middle of its list: a text
// with k of them costs about k * k / 2 steps inside the one C call, far more
// than its bytes pay for (32,000 breaks in one loop take a second and a
// half). Inside a limited run that is paid before the text is parsed, on an
// upper bound of k: every "break", "goto" and "::" in it, wherever they stand.
static constexpr uint64_t MODS_JUMP_PAIRS_PER_STEP = 256;

static uint64_t _compile_jump_steps(const char* code, size_t len) {
    uint64_t k = 0;
    for (const char* word : {"break", "goto", "::"}) {
        size_t wl = strlen(word);
        for (const char* p = code; (p = (const char*)memmem(p, (size_t)(code + len - p), word, wl)); p += wl) k++;
    }
    return k * k / MODS_JUMP_PAIRS_PER_STEP;
}

// Inside a limited run the parser is fed its text in pieces of this many
// bytes, and the run's CPU time is looked at before each piece: some texts
// cost the parser far more than their bytes (a long `a and a and ...` chain
// patches a longer jump list at every `and`).
static constexpr size_t MODS_COMPILE_PIECE = 256;

struct _CompileText {
    const char* at;
    size_t left;
    ModsLimiter* lim;  // null outside a limited run: one piece
};

static const char* _compile_read(lua_State* L, void* data, size_t* size) {
    _CompileText* text = (_CompileText*)data;
    // Raised inside the parser's protected call: the load fails with it.
    if (text->lim && _limiter_cpu_over(text->lim)) mods_lua_limit_tripped(L);
    *size = text->lim ? std::min(text->left, MODS_COMPILE_PIECE) : text->left;
    const char* piece = text->at;
    text->at += *size;
    text->left -= *size;
    return *size ? piece : nullptr;
}

// z2_compile(code [, env]): the function, or nil and the load message.
static int z2_compile(lua_State* L) {
    luaL_checktype(L, 1, LUA_TSTRING);
    size_t len = 0;
    const char* code = lua_tolstring(L, 1, &len);
    if (len > 0 && code[0] == LUA_SIGNATURE[0]) return luaL_error(L, "invalid string");
    bool env = lua_gettop(L) >= 2;
    if (env) luaL_checktype(L, 2, LUA_TTABLE);
    bool limited = mods_lua_limited(L);
    if (limited) mods_lua_charge(L, _compile_jump_steps(code, len));
    lua_settop(L, env ? 2 : 1);
    ModsLimiter* lim = _limiter(L);
    _CompileText text = {code, len, limited ? lim : nullptr};
    if (lua_load(L, _compile_read, &text, "script", "t") != LUA_OK) {
        if (limited && lim->tripped) mods_lua_limit_tripped(L);
        lua_pushnil(L);
        lua_insert(L, -2);
        return 2;
    }
    if (env) {
        lua_pushvalue(L, 2);
        lua_setupvalue(L, -2, 1);
    } else if (lim && lim->running) {
        // Code compiled from inside a sandbox run never sees the mod's globals.
        lua_newtable(L);
        lua_setupvalue(L, -2, 1);
    }
    return 1;
}

// z2_sandbox_stats(): thousands of instructions and KB of the last or current run.
static int z2_sandbox_stats(lua_State* L) {
    ModsLimiter* lim = _limiter(L);
    if (!lim) return 0;
    lua_pushinteger(L, (lua_Integer)(uint32_t)(lim->count - lim->count_start));
    uint64_t kb = lim->used >= lim->mem_start ? (lim->used - lim->mem_start) / 1024 : 0;
    lua_pushnumber(L, (lua_Number)kb);
    return 2;
}

// ==== globals ========================================================================

// Registration order is the order of the game's global list. The steps are
// what one call of the game operation costs at most, in instructions, inside
// a limited sandbox run (operations that walk the world charge by its size
// themselves); the last number is the bytes of text per step where that
// text costs more than copying it.
const ModsLuaGlobal mods_lua_globals[] = {
    {"z2_game_reset", z2_game_reset, 40000},
    {"z2_planets_settle", z2_planets_settle, 1000},
    {"z2_view_set", z2_view_set, 50},
    {"z2_bounds_set", z2_bounds_set, 50},
    {"z2_clip_set", z2_clip_set, 50},
    {"z2_user_init", z2_user_init, 1000},
    {"z2_team_init", z2_team_init, 1000},
    {"z2_planet_init", z2_planet_init, 1000},
    {"z2_fleet_init", z2_fleet_init, 1000},
    {"z2_item_init", z2_item_init, 1000},
    {"z2_fleet_send", z2_fleet_send, 5000},
    {"z2_fleet_redirect", z2_fleet_redirect, 1000},
    {"z2_planet_chown", z2_planet_chown, 1000},
    {"z2_part_init", z2_part_init, 1000},
    {"z2_items_find", z2_items_find, 1000},
    {"z2_item_set", z2_item_set, 50},
    {"z2_item_get", z2_item_get, 50},
    {"z2_item_destroy", z2_item_destroy, 1000},
    {"z2_item_sync", z2_item_sync, 50},
    {"z2_item_selected", z2_item_selected, 50},
    {"z2_param_set", z2_param_set, 50},
    {"z2_param_get", z2_param_get, 50},
    {"z2_gui_set", z2_gui_set, 1000, 4},
    {"z2_gui_get", z2_gui_get, 50},
    {"z2_net_host", z2_net_host, 50000},
    {"z2_net_join", z2_net_join, 50000},
    {"z2_net_send", z2_net_send, 1000},
    {"z2_chat_append", z2_chat_append, 1000},
    {"z2_chat_keywords", z2_chat_keywords, 1000, 2},
    {"z2_play_sound", z2_play_sound, 5000},
    {"z2_play_music", z2_play_music, 50000},
    {"z2_api_call", z2_api_call, 30000},
    {"z2_ext_call", z2_ext_call, 1000},
    {"require", z2_require, 10000, 2},
    {"z2_md5_digest", z2_md5_digest, 50, 4},
    {"z2_sandbox", z2_sandbox, 50},
    {"z2_compile", z2_compile, 50, 2},
    {"z2_sandbox_stats", z2_sandbox_stats, 0},
    {nullptr, nullptr},
};

// ==== state construction ===============================================================

// Rebuilds the global table from a whitelist; the table object stays the same.
static const char _mods_sandbox_chunk[] = R"LUA(
local function sandbox()
  local bit = bit32 or bit
  local env = _ENV or _G
  local pairs, ipairs = pairs, ipairs
  local function pick(lib, names)
    local t = {}
    if lib then
      for _, k in ipairs(names) do t[k] = lib[k] end
    end
    return t
  end
  local safe = {
    _G = env,
    setmetatable = setmetatable, getmetatable = getmetatable,
    rawset = rawset, rawget = rawget,
    error = error, assert = assert, ipairs = ipairs, next = next, pairs = pairs,
    pcall = pcall, print = print, select = select, tonumber = tonumber,
    tostring = tostring, type = type, unpack = unpack,
    coroutine = pick(coroutine, {"create", "resume", "running", "status", "wrap", "yield"}),
    string = pick(string, {"byte", "char", "find", "format", "gmatch", "gsub", "len",
      "lower", "match", "rep", "reverse", "sub", "upper"}),
    table = pick(table, {"insert", "maxn", "remove", "sort", "unpack", "concat"}),
    math = pick(math, {"abs", "acos", "asin", "atan", "atan2", "ceil", "cos", "cosh", "deg",
      "exp", "floor", "fmod", "frexp", "huge", "ldexp", "log", "log10", "max", "min", "modf",
      "pi", "pow", "rad", "random", "sin", "sinh", "sqrt", "tan", "tanh", "randomseed"}),
    os = pick(os, {"clock", "difftime", "time"}),
    bit32 = pick(bit, {"arshift", "band", "bnot", "bor", "btest", "bxor", "extract",
      "lrotate", "lshift", "replace", "rrotate", "rshift"}),
  }
  for i in ipairs(env) do env[i] = nil end
  for k in pairs(env) do env[k] = nil end
  for k, v in pairs(safe) do env[k] = v end
end
sandbox()
)LUA";

// The built-in scripts' globals: the mods' global table seen through a table
// that also holds the metatable functions, which leave the mods' globals once
// the built-in scripts first ran. Writes go straight into the global table, so
// a mod's strict mode does not stop the game's own scripts. Mods never reach
// this table: it lives in the registry and in the built-in functions' _ENV.
static int _builtin_env_newindex(lua_State* L) {
    lua_settop(L, 3);
    lua_rawset(L, lua_upvalueindex(1));
    return 0;
}

static void _mods_lua_builtin_env(lua_State* L) {
    lua_newtable(L);
    for (const char* name : {"setmetatable", "getmetatable", "rawset", "rawget"}) {
        lua_getglobal(L, name);
        lua_setfield(L, -2, name);
    }
    lua_newtable(L);
    lua_pushglobaltable(L);
    lua_setfield(L, -2, "__index");
    lua_pushglobaltable(L);
    lua_pushcclosure(L, _builtin_env_newindex, 1);
    lua_setfield(L, -2, "__newindex");
    lua_setmetatable(L, -2);
    lua_setfield(L, LUA_REGISTRYINDEX, MODS_BUILTIN_ENV);
}

static void _lua_unset(lua_State* L, const char* table, const char* field) {
    lua_getglobal(L, table);
    if (lua_istable(L, -1)) {
        lua_pushnil(L);
        lua_setfield(L, -2, field);
    }
    lua_pop(L, 1);
}

// This Lua build carries the 5.1 compatibility names; the game's Lua has none.
static void _mods_lua_trim_libs(lua_State* L) {
    static const char* const globals[] = {"unpack", "loadstring", "module"};
    for (const char* g : globals) {
        lua_pushnil(L);
        lua_setglobal(L, g);
    }
    _lua_unset(L, "table", "maxn");
    _lua_unset(L, "math", "log10");
    _lua_unset(L, "package", "loaders");
    _lua_unset(L, "package", "seeall");

    lua_pushcfunction(L, _mods_lua_print);
    lua_setglobal(L, "print");
    mods_lua_strings_open(L);
    mods_lua_limits_open(L);

    lua_getglobal(L, "coroutine");
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, _co_resume);
        lua_setfield(L, -2, "resume");
        lua_pushcfunction(L, _co_wrap);
        lua_setfield(L, -2, "wrap");
    }
    lua_pop(L, 1);
}

static int _mods_lua_open(lua_State* L) {
    luaL_openlibs(L);
    _mods_lua_trim_libs(L);
    return 0;
}

void ModsLua::lua_init() {
    if (L) return;
    _mods_lua._lua_modsapi = api;
    L = sandbox_newstate(&limiter);
    if (!L) {
        qel_log("mods_lua: no Lua state\n");
        err = LUA_ERRMEM;
        return;
    }
    lua_pushcfunction(L, _mods_lua_open);
    if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
        qel_log("mods_lua: libraries failed: %s\n", lua_tostring(L, -1));
        lua_pop(L, 1);
    }
    if (dostring(_mods_sandbox_chunk, sizeof(_mods_sandbox_chunk) - 1, "sandbox") != LUA_OK) {
        // Never run a mod over the unfiltered libraries.
        qel_log("mods_lua: sandbox failed\n");
        lua_close(L);
        L = nullptr;
        err = LUA_ERRRUN;
        return;
    }

    _mods_lua_builtin_env(L);
    lua_pushlightuserdata(L, api);
    lua_setfield(L, LUA_REGISTRYINDEX, "z2");
    for (const ModsLuaGlobal* g = mods_lua_globals; g->name; g++) {
        lua_pushcfunction(L, g->fn);
        mods_lua_charged(L, g->steps, g->bytes);
        lua_setglobal(L, g->name);
    }

    qel_log("mod_api: mods_embed_load\n");
    mods_embed_load(api, this, "mod_api.lua", "mod_api.lua");
    mods_embed_load(api, this, "mod_util.lua", "mod_util.lua");
    lua_pushcfunction(L, luaopen_cjson);
    if (lua_pcall(L, 0, 1, 0) == LUA_OK) {
        // Numbers and nesting cost more than the text they make or read.
        for (const char* name : {"encode", "decode"}) {
            if (!lua_istable(L, -1)) break;
            lua_getfield(L, -1, name);
            mods_lua_charged(L, 0, MODS_JSON_BYTES_PER_STEP);
            lua_setfield(L, -2, name);
        }
        lua_getglobal(L, "cjson");
        if (lua_isnil(L, -1) && lua_istable(L, -2)) {
            lua_pushvalue(L, -2);
            lua_setglobal(L, "cjson");
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    mods_embed_load(api, this, "mod_json.lua", "mod_json.lua");

    static const char* const strip[] = {"setmetatable=nil", "getmetatable=nil", "rawset=nil",
                                        "rawget=nil"};
    for (const char* s : strip) dostring(s, strlen(s), "sandbox2");
}

// ==== engine ==========================================================================

ModsLua::ModsLua(ModsAPI& api_) : api(&api_) {}

ModsLua::~ModsLua() {
    _mods_lua._lua_modsapi = api;
    if (L) lua_close(L);
    L = nullptr;
}

ModsBase* mods_lua(ModsAPI& api) {
    ModsLua* engine = new ModsLua(api);
    engine->lua_init();
    return engine;
}

void ModsLua::init() {
    if (err) return;
    static const char code[] = "_init()";
    err = dostring(code, sizeof(code) - 1, "init");
    if (err) qel_log("Lua error: %d\n", err);
}

void ModsLua::loop(float dt) {
    if (err) return;
    std::string code = "_loop(" + _lua_number((double)dt, true) + ")";
    err = dostring(code.data(), code.size(), "loop");
    if (err) qel_log("Lua error: %d\n", err);
}

void ModsLua::event(var e) {
    if (err || e.__type__() != VAR_DICT) return;
    std::string code = "_event(" + dict2lua(e) + ");";
    err = dostring(code.data(), code.size(), "event");
    if (err) qel_log("Lua error: %d\n", err);
}

void ModsLua::script(const char* code, const char* name) {
    err = 0;
    int status = dostring(code ? code : "", code ? strlen(code) : 0, name ? name : "script");
    if (status) qel_log("Lua error: %d\n", status);
    err = 0;
}

void ModsLua::script_builtin(const char* code, const char* name) {
    err = 0;
    int status = dostring(code ? code : "", code ? strlen(code) : 0, name ? name : "script", true);
    if (status) qel_log("Lua error: %d\n", status);
    err = 0;
}

bool ModsLua::is_okay() { return err == 0; }
