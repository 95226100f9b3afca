// mods_lua_strings: the string functions that code run by z2_sandbox can
// reach and whose work happens inside one C call. The count hook only fires
// between VM instructions, so a pattern that backtracks for minutes (or a
// rep of a billion empty strings) would escape the instruction limit.
// Inside a limited run find, match, gmatch and gsub therefore work on our
// own pattern matcher, which counts its steps, and every function here
// charges its work to the same limit, failing with the same "instruction
// limit exceeded" (the bytes a function makes are charged by the allocator,
// before they are made). Everywhere else they are Lua's own, untouched.
//
// The matcher follows Lua 5.2's pattern language exactly (classes, sets,
// %b, %f, captures, back references, anchors, the four repetitions) and
// gives the same results and the same error messages.
#include <lua.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "mods/mods_lua.h"

namespace {

constexpr int PAT_CAPTURES = 32;   // as many captures as Lua allows
constexpr int PAT_DEPTH = 200;     // nested repetitions and captures before "pattern too complex"
constexpr ptrdiff_t CAP_OPEN = -1;     // capture still open
constexpr ptrdiff_t CAP_POSITION = -2; // "()" capture: a position
constexpr uint64_t BYTES_PER_STEP = MODS_BYTES_PER_STEP;

ModsLimiter* _limiter_of(lua_State* L) {
    void* ud = nullptr;
    lua_getallocf(L, &ud);
    return static_cast<ModsLimiter*>(ud);
}

// What a limited run may still spend, in instructions.
int64_t _budget(lua_State* L) {
    ModsLimiter* lim = _limiter_of(L);
    if (!lim || !lim->running || !lim->count_limit || lim->tripped) return 0;
    int64_t left = ((int64_t)lim->count_limit - (int64_t)lim->count) * MODS_HOOK_STEP - (int64_t)lim->steps;
    return left > 0 ? left : 0;
}

// ---- one match -------------------------------------------------------------

struct Matcher {
    const char* src;       // subject
    const char* src_end;
    const char* pat_end;
    int depth = 0;
    int level = 0;         // captures started so far
    struct {
        const char* at;
        ptrdiff_t len;     // CAP_OPEN, CAP_POSITION or a length
    } cap[PAT_CAPTURES];
    int64_t left;          // steps this call may still take; below 0: out
    const char* fail = nullptr;  // a pattern error, raised once the match is unwound
    char fail_text[64];

    Matcher(const char* s, size_t ls, const char* p, size_t lp, int64_t budget)
        : src(s), src_end(s + ls), pat_end(p + lp), left(budget) {}

    bool stopped() const { return fail || left < 0; }
    void error(const char* msg) {
        if (!fail) fail = msg;
    }

    // The end of the single-character item at p ("x", "%x", "[...]").
    const char* item_end(const char* p) {
        if (*p == '%') {
            if (p + 1 >= pat_end) {
                error("malformed pattern (ends with '%')");
                return nullptr;
            }
            return p + 2;
        }
        if (*p != '[') return p + 1;
        const char* q = p + 1;
        if (q < pat_end && *q == '^') q++;
        // The first character of a set may be ']' itself.
        do {
            if (q >= pat_end) {
                error("malformed pattern (missing ']')");
                return nullptr;
            }
            if (*q++ == '%' && q < pat_end) q++;
        } while (q >= pat_end || *q != ']');
        return q + 1;
    }

    static bool in_class(unsigned char c, unsigned char cl) {
        bool r;
        switch (tolower(cl)) {
            case 'a': r = isalpha(c); break;
            case 'c': r = iscntrl(c); break;
            case 'd': r = isdigit(c); break;
            case 'g': r = isgraph(c); break;
            case 'l': r = islower(c); break;
            case 'p': r = ispunct(c); break;
            case 's': r = isspace(c); break;
            case 'u': r = isupper(c); break;
            case 'w': r = isalnum(c); break;
            case 'x': r = isxdigit(c); break;
            case 'z': r = c == 0; break;
            default: return cl == c;
        }
        return isupper(cl) ? !r : r;
    }

    // set points at '[', close at its ']'.
    static bool in_set(unsigned char c, const char* set, const char* close) {
        const char* q = set + 1;
        bool want = true;
        if (*q == '^') {
            want = false;
            q++;
        }
        for (; q < close; q++) {
            if (*q == '%' && q + 1 < close) {
                q++;
                if (in_class(c, (unsigned char)*q)) return want;
            } else if (q + 2 < close && q[1] == '-') {
                if ((unsigned char)q[0] <= c && c <= (unsigned char)q[2]) return want;
                q += 2;
            } else if ((unsigned char)*q == c) {
                return want;
            }
        }
        return !want;
    }

    // Whether the subject character at s fits the item p..ep.
    bool fits(const char* s, const char* p, const char* ep) {
        --left;
        if (s >= src_end) return false;
        unsigned char c = (unsigned char)*s;
        switch (*p) {
            case '.': return true;
            case '%': return in_class(c, (unsigned char)p[1]);
            case '[': return in_set(c, p, ep - 1);
            default: return (unsigned char)*p == c;
        }
    }

    const char* greedy(const char* s, const char* p, const char* ep) {
        ptrdiff_t n = 0;
        while (fits(s + n, p, ep)) n++;
        for (; n >= 0 && !stopped(); n--) {
            if (const char* r = match(s + n, ep + 1)) return r;
        }
        return nullptr;
    }

    const char* lazy(const char* s, const char* p, const char* ep) {
        for (;;) {
            if (const char* r = match(s, ep + 1)) return r;
            if (stopped() || !fits(s, p, ep)) return nullptr;
            s++;
        }
    }

    const char* open_capture(const char* s, const char* p, ptrdiff_t what) {
        if (level >= PAT_CAPTURES) {
            error("too many captures");
            return nullptr;
        }
        cap[level].at = s;
        cap[level].len = what;
        level++;
        const char* r = match(s, p);
        if (!r) level--;
        return r;
    }

    const char* close_capture(const char* s, const char* p) {
        int l = level - 1;
        while (l >= 0 && cap[l].len != CAP_OPEN) l--;
        if (l < 0) {
            error("invalid pattern capture");
            return nullptr;
        }
        cap[l].len = s - cap[l].at;
        const char* r = match(s, p);
        if (!r) cap[l].len = CAP_OPEN;
        return r;
    }

    // The end of s when it begins with the balanced pair p[0] ... p[1].
    const char* balanced(const char* s, const char* p) {
        if (p + 1 >= pat_end) {
            error("malformed pattern (missing arguments to '%b')");
            return nullptr;
        }
        if (s >= src_end || *s != p[0]) return nullptr;
        int open = 1;
        for (const char* q = s + 1; q < src_end; q++) {
            --left;
            if (*q == p[1]) {
                if (--open == 0) return q + 1;
            } else if (*q == p[0]) {
                open++;
            }
        }
        return nullptr;
    }

    // The end of a copy of capture `digit` at s.
    const char* backref(const char* s, char digit) {
        int l = digit - '1';
        if (l < 0 || l >= level || cap[l].len == CAP_OPEN) {
            snprintf(fail_text, sizeof(fail_text), "invalid capture index %%%d", l + 1);
            error(fail_text);
            return nullptr;
        }
        ptrdiff_t len = cap[l].len;
        if (len < 0 || src_end - s < len) return nullptr;  // a position copies nothing
        left -= len / (ptrdiff_t)BYTES_PER_STEP + 1;
        return memcmp(cap[l].at, s, (size_t)len) == 0 ? s + len : nullptr;
    }

    // Matches the pattern from p against the subject from s; the end of
    // the match, or null.
    const char* match(const char* s, const char* p) {
        if (++depth > PAT_DEPTH) {
            error("pattern too complex");
            depth--;
            return nullptr;
        }
        const char* r = run(s, p);
        depth--;
        return r;
    }

    const char* run(const char* s, const char* p) {
        while (p < pat_end) {
            if (--left < 0 || fail) return nullptr;
            switch (*p) {
                case '(':
                    if (p + 1 < pat_end && p[1] == ')') return open_capture(s, p + 2, CAP_POSITION);
                    return open_capture(s, p + 1, CAP_OPEN);
                case ')':
                    return close_capture(s, p + 1);
                case '$':
                    if (p + 1 == pat_end) return s == src_end ? s : nullptr;
                    break;
                case '%':
                    if (p + 1 >= pat_end) break;  // item_end reports it
                    if (p[1] == 'b') {
                        s = balanced(s, p + 2);
                        if (!s) return nullptr;
                        p += 4;
                        continue;
                    }
                    if (p[1] == 'f') {
                        p += 2;
                        if (p >= pat_end || *p != '[') {
                            error("missing '[' after '%f' in pattern");
                            return nullptr;
                        }
                        const char* ep = item_end(p);
                        if (!ep) return nullptr;
                        unsigned char before = s == src ? 0 : (unsigned char)s[-1];
                        unsigned char here = s < src_end ? (unsigned char)*s : 0;
                        if (in_set(before, p, ep - 1) || !in_set(here, p, ep - 1)) return nullptr;
                        p = ep;
                        continue;
                    }
                    if (isdigit((unsigned char)p[1])) {
                        s = backref(s, p[1]);
                        if (!s) return nullptr;
                        p += 2;
                        continue;
                    }
                    break;
                default:
                    break;
            }
            const char* ep = item_end(p);
            if (!ep) return nullptr;
            char rep = ep < pat_end ? *ep : 0;
            if (rep == '?') {
                if (fits(s, p, ep)) {
                    if (const char* r = match(s + 1, ep + 1)) return r;
                    if (stopped()) return nullptr;
                }
                p = ep + 1;
                continue;
            }
            if (rep == '+') return fits(s, p, ep) ? greedy(s + 1, p, ep) : nullptr;
            if (rep == '*' || rep == '-') {
                // No repetition at all goes on in place, as Lua's does: the
                // depth that makes a pattern "too complex" must be the same.
                if (!fits(s, p, ep)) {
                    p = ep + 1;
                    continue;
                }
                return rep == '*' ? greedy(s, p, ep) : lazy(s, p, ep);
            }
            if (!fits(s, p, ep)) return nullptr;
            s++;
            p = ep;
        }
        return s;
    }

    // Pushes capture i of the match s..e (the whole match when there are
    // none and i is 0).
    void push_capture(lua_State* L, int i, const char* s, const char* e) {
        if (i >= level) {
            if (i != 0) luaL_error(L, "invalid capture index");
            lua_pushlstring(L, s, (size_t)(e - s));
            return;
        }
        ptrdiff_t len = cap[i].len;
        if (len == CAP_OPEN) luaL_error(L, "unfinished capture");
        if (len == CAP_POSITION)
            lua_pushinteger(L, (lua_Integer)(cap[i].at - src) + 1);
        else
            lua_pushlstring(L, cap[i].at, (size_t)len);
    }

    // Pushes every capture (or the whole match when whole and there are
    // none); returns how many.
    int push_captures(lua_State* L, const char* s, const char* e, bool whole) {
        int n = (level == 0 && whole) ? 1 : level;
        luaL_checkstack(L, n, "too many captures");
        for (int i = 0; i < n; i++) push_capture(L, i, s, e);
        return n;
    }
};

// Settles a matcher's account with the run: charges what it spent, then
// raises its pattern error or the limit's.
void _settle(lua_State* L, Matcher& m, int64_t budget) {
    int64_t spent = budget - (m.left > 0 ? m.left : 0);
    if (m.fail) {
        mods_lua_charge(L, (uint64_t)(spent > 0 ? spent : 0));
        luaL_error(L, "%s", m.fail);
    }
    // Out of steps: the whole budget and one more, so the charge trips.
    mods_lua_charge(L, (uint64_t)(m.left < 0 ? budget + 1 : spent));
}

lua_Integer _position(lua_Integer pos, size_t len) {
    if (pos >= 0) return pos;
    if ((size_t)0 - (size_t)pos > len) return 0;
    return (lua_Integer)len + pos + 1;
}

bool _has_specials(const char* p, size_t lp) {
    for (size_t i = 0; i < lp; i++)
        if (strchr("^$*+?.([%-", p[i]) && p[i]) return true;
    return false;
}

// find and match.
int _find(lua_State* L, bool find) {
    size_t ls = 0, lp = 0;
    const char* s = luaL_checklstring(L, 1, &ls);
    const char* p = luaL_checklstring(L, 2, &lp);
    lua_Integer init = _position(luaL_optinteger(L, 3, 1), ls);
    if (init < 1) init = 1;
    if ((size_t)init > ls + 1) {
        lua_pushnil(L);
        return 1;
    }
    int64_t budget = _budget(L);
    if (find && (lua_toboolean(L, 4) || !_has_specials(p, lp))) {
        // Plain search: every place the first byte fits is compared whole.
        const char* at = s + init - 1;
        const char* end = s + ls;
        int64_t spent = 0;
        const char* hit = nullptr;
        if (lp == 0) {
            hit = at;
        } else {
            for (; (size_t)(end - at) >= lp; at++) {
                const char* from = at;
                at = static_cast<const char*>(memchr(at, p[0], (size_t)(end - at) - lp + 1));
                spent += (int64_t)(((at ? at : end) - from) / (ptrdiff_t)BYTES_PER_STEP);
                if (!at) break;
                spent += (int64_t)(lp / BYTES_PER_STEP) + 1;
                if (spent > budget) break;
                if (memcmp(at, p, lp) == 0) {
                    hit = at;
                    break;
                }
            }
        }
        mods_lua_charge(L, (uint64_t)(spent > budget ? budget + 1 : spent));
        if (!hit) {
            lua_pushnil(L);
            return 1;
        }
        lua_pushinteger(L, (lua_Integer)(hit - s) + 1);
        lua_pushinteger(L, (lua_Integer)(hit - s) + (lua_Integer)lp);
        return 2;
    }
    bool anchor = lp > 0 && *p == '^';
    if (anchor) {
        p++;
        lp--;
    }
    Matcher m(s, ls, p, lp, budget);
    const char* from = s + init - 1;
    for (;;) {
        m.level = 0;
        const char* e = m.match(from, p);
        if (m.stopped()) break;
        if (e) {
            _settle(L, m, budget);
            if (!find) return m.push_captures(L, from, e, true);
            lua_pushinteger(L, (lua_Integer)(from - s) + 1);
            lua_pushinteger(L, (lua_Integer)(e - s));
            return m.push_captures(L, nullptr, nullptr, false) + 2;
        }
        if (anchor || from >= m.src_end) break;
        from++;
    }
    _settle(L, m, budget);
    lua_pushnil(L);
    return 1;
}

int _sb_find(lua_State* L) { return _find(L, true); }
int _sb_match(lua_State* L) { return _find(L, false); }

// The iterator of gmatch: upvalues subject, pattern and the next position.
int _sb_gmatch_next(lua_State* L) {
    size_t ls = 0, lp = 0;
    const char* s = lua_tolstring(L, lua_upvalueindex(1), &ls);
    const char* p = lua_tolstring(L, lua_upvalueindex(2), &lp);
    int64_t budget = mods_lua_limited(L) ? _budget(L) : INT64_MAX;
    Matcher m(s, ls, p, lp, budget);
    for (size_t i = (size_t)lua_tointeger(L, lua_upvalueindex(3)); i <= ls; i++) {
        const char* from = s + i;
        m.level = 0;
        const char* e = m.match(from, p);
        if (m.stopped()) break;
        if (e) {
            if (budget != INT64_MAX) _settle(L, m, budget);
            lua_Integer next = (lua_Integer)(e - s);
            if (e == from) next++;  // an empty match moves on by one
            lua_pushinteger(L, next);
            lua_replace(L, lua_upvalueindex(3));
            return m.push_captures(L, from, e, true);
        }
    }
    if (budget != INT64_MAX) _settle(L, m, budget);
    else if (m.fail) luaL_error(L, "%s", m.fail);
    return 0;
}

int _sb_gmatch(lua_State* L) {
    luaL_checkstring(L, 1);
    luaL_checkstring(L, 2);
    lua_settop(L, 2);
    lua_pushinteger(L, 0);
    lua_pushcclosure(L, _sb_gmatch_next, 3);
    return 1;
}

// Appends the replacement for the match s..e to b.
void _gsub_add(lua_State* L, Matcher& m, luaL_Buffer* b, const char* s, const char* e, int kind) {
    if (kind == LUA_TFUNCTION) {
        lua_pushvalue(L, 3);
        int n = m.push_captures(L, s, e, true);
        lua_call(L, n, 1);
    } else if (kind == LUA_TTABLE) {
        m.push_capture(L, 0, s, e);
        lua_gettable(L, 3);
    } else {
        size_t lr = 0;
        const char* r = lua_tolstring(L, 3, &lr);
        mods_lua_charge(L, lr / BYTES_PER_STEP + 1);
        for (size_t i = 0; i < lr; i++) {
            if (r[i] != '%') {
                luaL_addchar(b, r[i]);
                continue;
            }
            i++;
            char c = i < lr ? r[i] : 0;
            if (!isdigit((unsigned char)c)) {
                if (c != '%') luaL_error(L, "invalid use of '%%' in replacement string");
                luaL_addchar(b, c);
            } else if (c == '0') {
                luaL_addlstring(b, s, (size_t)(e - s));
            } else {
                m.push_capture(L, c - '1', s, e);
                luaL_addvalue(b);
            }
        }
        return;
    }
    if (!lua_toboolean(L, -1)) {
        lua_pop(L, 1);
        lua_pushlstring(L, s, (size_t)(e - s));  // false or nil keeps the match
    } else if (!lua_isstring(L, -1)) {
        luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1));
    }
    luaL_addvalue(b);
}

int _sb_gsub(lua_State* L) {
    size_t ls = 0, lp = 0;
    const char* src = luaL_checklstring(L, 1, &ls);
    const char* p = luaL_checklstring(L, 2, &lp);
    int kind = lua_type(L, 3);
    // A negative count is a huge one, as in Lua's own.
    size_t max = (size_t)luaL_optinteger(L, 4, (lua_Integer)ls + 1);
    luaL_argcheck(L, kind == LUA_TNUMBER || kind == LUA_TSTRING || kind == LUA_TFUNCTION || kind == LUA_TTABLE,
                  3, "string/function/table expected");
    bool anchor = lp > 0 && *p == '^';
    if (anchor) {
        p++;
        lp--;
    }
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    const char* s = src;
    size_t n = 0;
    while (n < max) {
        // A fresh budget each time round: a replacement function may have spent some.
        int64_t budget = _budget(L);
        Matcher m(src, ls, p, lp, budget);
        const char* e = m.match(s, p);
        _settle(L, m, budget);
        if (e) {
            n++;
            _gsub_add(L, m, &b, s, e, kind);
        }
        if (e && e > s) {
            s = e;
        } else if (s < src + ls) {
            luaL_addchar(&b, *s++);
        } else {
            break;
        }
        if (anchor) break;
    }
    mods_lua_charge(L, (uint64_t)ls / BYTES_PER_STEP);
    luaL_addlstring(&b, s, (size_t)(src + ls - s));
    luaL_pushresult(&b);
    lua_pushinteger(L, (lua_Integer)n);
    return 2;
}

// Calls Lua's own function (upvalue 1) with the same arguments.
int _lua_own(lua_State* L) {
    lua_CFunction own = lua_tocfunction(L, lua_upvalueindex(1));
    return own(L);
}

int _sb_rep(lua_State* L) {
    if (mods_lua_limited(L)) {
        size_t l = 0, lsep = 0;
        luaL_checklstring(L, 1, &l);
        lua_Integer n = luaL_checkinteger(L, 2);
        luaL_optlstring(L, 3, "", &lsep);
        if (n > 0) {
            // The result is made whole, in a buffer and then as the string,
            // and the allocator charges both; repetitions of nothing make no
            // bytes and are paid one by one. A result the run cannot pay for
            // is refused before a byte of it is made or copied.
            uint64_t reps = (uint64_t)n, unit = (uint64_t)l + (uint64_t)lsep;
            uint64_t budget = (uint64_t)_budget(L);
            uint64_t most = (budget + 1) * BYTES_PER_STEP / 2;  // bytes a result may have
            if (!unit) mods_lua_charge(L, std::min(reps, budget + 1));
            else if (reps > most / unit) mods_lua_charge(L, budget + 1);
        }
    }
    return _lua_own(L);
}

}  // namespace

void mods_lua_strings_open(lua_State* L) {
    mods_lua_replace(L, "string", "find", mods_lua_when_limited<_sb_find>);
    mods_lua_replace(L, "string", "match", mods_lua_when_limited<_sb_match>);
    mods_lua_replace(L, "string", "gmatch", mods_lua_when_limited<_sb_gmatch>);
    mods_lua_replace(L, "string", "gsub", mods_lua_when_limited<_sb_gsub>);
    mods_lua_replace(L, "string", "rep", _sb_rep);
    // The rest pay by the values they take and give and the text they read;
    // what they make is paid to the allocator. (sub and len read no more
    // than they make.)
    for (const char* name : {"format", "upper", "lower", "reverse"})
        mods_lua_charge_calls(L, "string", name, 0, MODS_BYTES_PER_STEP);
    for (const char* name : {"byte", "char"}) mods_lua_charge_calls(L, "string", name, 0, 0);
}
