#include "ext/lua/cj-lua_cjson.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ext/lua/cj-fpconv.h"
#include "ext/lua/cj-strbuf.h"

// ==== settings ====================================================================

constexpr int DEFAULT_SPARSE_CONVERT = 0;
constexpr int DEFAULT_SPARSE_RATIO = 2;
constexpr int DEFAULT_SPARSE_SAFE = 10;
constexpr int DEFAULT_ENCODE_MAX_DEPTH = 1000;
constexpr int DEFAULT_DECODE_MAX_DEPTH = 1000;
constexpr int DEFAULT_ENCODE_INVALID_NUMBERS = 0;
constexpr int DEFAULT_DECODE_INVALID_NUMBERS = 1;
constexpr int DEFAULT_ENCODE_KEEP_BUFFER = 1;
constexpr int DEFAULT_ENCODE_NUMBER_PRECISION = 14;

// Both codecs recurse in C once per level: whatever depth a script allows,
// they stop here, well inside the C stack (and the Lua stack, 3 slots a level).
constexpr int JSON_DEPTH_CEILING = 1000;

// The kept buffer saves an allocation per small text; one grown past this by
// a large text goes back after that encode, or the state would hold the
// largest text ever made (from a sandbox run, say) for as long as it lives.
constexpr size_t JSON_KEEP_BUFFER_MAX = 64 * 1024;

// Lua 5.2 hashes a string longer than 40 bytes from about 32 of its bytes
// only, so a document can hold any number of distinct long keys of one hash:
// each key put into the object's table is then compared with all before it,
// and 20,000 such keys (1.4 MB of text) took four seconds. One object may
// hold this many keys past that length, enough for any document of ours.
constexpr size_t JSON_SHORT_KEY_MAX = 40;
constexpr int JSON_LONG_KEYS_MAX = 1024;

// encode_invalid_numbers values.
enum { INVALID_NUMBERS_OFF = 0, INVALID_NUMBERS_ON = 1, INVALID_NUMBERS_NULL = 2 };

// One per module table, in a full user data shared as upvalue 1 by its
// functions; its __gc gives the kept buffer back.
struct json_config_t {
    strbuf_t encode_buf;  // kept between encode calls while keep buffer is on
    int encode_sparse_convert;
    int encode_sparse_ratio;
    int encode_sparse_safe;
    int encode_max_depth;
    int encode_invalid_numbers;
    int encode_number_precision;
    int encode_keep_buffer;
    int decode_invalid_numbers;
    int decode_max_depth;
    int encode_busy;  // an encode below on the C stack is writing encode_buf
};

static json_config_t* json_fetch_config(lua_State* l) {
    auto* cfg = static_cast<json_config_t*>(lua_touserdata(l, lua_upvalueindex(1)));
    if (!cfg) luaL_error(l, "BUG: Unable to fetch CJSON configuration");
    return cfg;
}

// Checks the argument count and pads the missing ones with nil.
static json_config_t* json_arg_init(lua_State* l, int args) {
    luaL_argcheck(l, lua_gettop(l) <= args, args + 1, "found too many arguments");
    while (lua_gettop(l) < args) lua_pushnil(l);
    return json_fetch_config(l);
}

// A whole number in [min, max] at optindex (nil keeps the setting); pushes the setting.
static void json_integer_option(lua_State* l, int optindex, int* setting, int min, int max) {
    if (!lua_isnil(l, optindex)) {
        lua_Number n = luaL_checknumber(l, optindex);
        // Checked as a double: converting an out-of-range one to int would be undefined.
        if (!(n >= min && n <= max) || n != std::floor(n))
            luaL_argerror(l, optindex, lua_pushfstring(l, "expected integer between %d and %d", min, max));
        *setting = (int)n;
    }
    lua_pushinteger(l, *setting);
}

// A boolean or one of the option words at optindex (nil keeps the setting).
// With the plain words "off"/"on" and booleans it pushes a boolean, else the word.
static void json_enum_option(lua_State* l, int optindex, int* setting, const char* const* options) {
    static const char* const bool_options[] = {"off", "on", nullptr};
    if (!options) options = bool_options;
    if (!lua_isnil(l, optindex)) {
        if (lua_isboolean(l, optindex))
            *setting = lua_toboolean(l, optindex);
        else
            *setting = luaL_checkoption(l, optindex, nullptr, options);
    }
    if (*setting == 0 || *setting == 1)
        lua_pushboolean(l, *setting);
    else
        lua_pushstring(l, options[*setting]);
}

static int json_cfg_encode_sparse_array(lua_State* l) {
    json_config_t* cfg = json_arg_init(l, 3);
    json_enum_option(l, 1, &cfg->encode_sparse_convert, nullptr);
    json_integer_option(l, 2, &cfg->encode_sparse_ratio, 0, INT_MAX);
    json_integer_option(l, 3, &cfg->encode_sparse_safe, 0, INT_MAX);
    return 3;
}

static int json_cfg_encode_max_depth(lua_State* l) {
    json_config_t* cfg = json_arg_init(l, 1);
    json_integer_option(l, 1, &cfg->encode_max_depth, 1, INT_MAX);
    return 1;
}

static int json_cfg_decode_max_depth(lua_State* l) {
    json_config_t* cfg = json_arg_init(l, 1);
    json_integer_option(l, 1, &cfg->decode_max_depth, 1, INT_MAX);
    return 1;
}

static int json_cfg_encode_number_precision(lua_State* l) {
    json_config_t* cfg = json_arg_init(l, 1);
    json_integer_option(l, 1, &cfg->encode_number_precision, 1, 14);
    return 1;
}

static int json_cfg_encode_keep_buffer(lua_State* l) {
    json_config_t* cfg = json_arg_init(l, 1);
    int old = cfg->encode_keep_buffer;
    json_enum_option(l, 1, &cfg->encode_keep_buffer, nullptr);
    // A busy buffer goes when the encode that uses it is done.
    if (old && !cfg->encode_keep_buffer && !cfg->encode_busy) strbuf_free(&cfg->encode_buf);
    return 1;
}

static int json_cfg_encode_invalid_numbers(lua_State* l) {
    static const char* const options[] = {"off", "on", "null", nullptr};
    json_config_t* cfg = json_arg_init(l, 1);
    json_enum_option(l, 1, &cfg->encode_invalid_numbers, options);
    return 1;
}

static int json_cfg_decode_invalid_numbers(lua_State* l) {
    json_config_t* cfg = json_arg_init(l, 1);
    json_enum_option(l, 1, &cfg->decode_invalid_numbers, nullptr);
    return 1;
}

static int json_destroy_config(lua_State* l) {
    auto* cfg = static_cast<json_config_t*>(lua_touserdata(l, 1));
    if (cfg) strbuf_free(&cfg->encode_buf);
    return 0;
}

// Pushes a new settings user data with the defaults.
static void json_create_config(lua_State* l) {
    auto* cfg = static_cast<json_config_t*>(lua_newuserdata(l, sizeof(json_config_t)));
    memset(cfg, 0, sizeof *cfg);
    strbuf_init(&cfg->encode_buf, l);
    cfg->encode_sparse_convert = DEFAULT_SPARSE_CONVERT;
    cfg->encode_sparse_ratio = DEFAULT_SPARSE_RATIO;
    cfg->encode_sparse_safe = DEFAULT_SPARSE_SAFE;
    cfg->encode_max_depth = DEFAULT_ENCODE_MAX_DEPTH;
    cfg->decode_max_depth = DEFAULT_DECODE_MAX_DEPTH;
    cfg->encode_invalid_numbers = DEFAULT_ENCODE_INVALID_NUMBERS;
    cfg->decode_invalid_numbers = DEFAULT_DECODE_INVALID_NUMBERS;
    cfg->encode_keep_buffer = DEFAULT_ENCODE_KEEP_BUFFER;
    cfg->encode_number_precision = DEFAULT_ENCODE_NUMBER_PRECISION;

    lua_newtable(l);
    lua_pushcfunction(l, json_destroy_config);
    lua_setfield(l, -2, "__gc");
    lua_setmetatable(l, -2);
}

// Frees a buffer that nobody kept when a Lua error unwinds past its owner
// (Lua errors are C++ exceptions in this build).
struct json_buffer_guard {
    strbuf_t* buf;
    ~json_buffer_guard() {
        if (buf) strbuf_free(buf);
    }
};

// Holds the kept buffer for one encode. A finalizer may run inside any Lua
// call and encode too: it then gets a buffer of its own, so the text being
// pushed is never rewritten or freed under the outer call.
struct json_keep_guard {
    json_config_t* cfg;
    ~json_keep_guard() {
        if (!cfg) return;
        cfg->encode_busy = 0;
        // Turned off meanwhile, or grown too large to keep.
        if (!cfg->encode_keep_buffer || cfg->encode_buf.size > JSON_KEEP_BUFFER_MAX) strbuf_free(&cfg->encode_buf);
    }
};

// ==== encoding ====================================================================

struct json_escape_t {
    char text[7];
    unsigned char len;  // 0: the byte goes out unchanged
};

static constexpr std::array<json_escape_t, 256> json_make_escapes() {
    std::array<json_escape_t, 256> t{};
    const char hex[] = "0123456789abcdef";
    for (int c = 0; c < 32; c++) {
        t[c] = {{'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15], 0}, 6};
    }
    t['\b'] = {{'\\', 'b'}, 2};
    t['\t'] = {{'\\', 't'}, 2};
    t['\n'] = {{'\\', 'n'}, 2};
    t['\f'] = {{'\\', 'f'}, 2};
    t['\r'] = {{'\\', 'r'}, 2};
    t['"'] = {{'\\', '"'}, 2};
    t['/'] = {{'\\', '/'}, 2};
    t['\\'] = {{'\\', '\\'}, 2};
    t[127] = {{'\\', 'u', '0', '0', '7', 'f', 0}, 6};
    return t;
}
static constexpr std::array<json_escape_t, 256> json_escapes = json_make_escapes();

struct json_encoder_t {
    lua_State* l;
    json_config_t* cfg;
    strbuf_t* buf;
    bool owned;  // the buffer is this call's own and goes with an error
};

[[noreturn]] static void json_encode_fail(json_encoder_t* e, const char* fmt, const char* a, const char* b) {
    if (e->owned) strbuf_free(e->buf);
    luaL_error(e->l, fmt, a, b);
    abort();  // luaL_error does not return
}

// "Cannot serialise <type>: <reason>" for the value at lindex.
[[noreturn]] static void json_encode_exception(json_encoder_t* e, int lindex, const char* reason) {
    json_encode_fail(e, "Cannot serialise %s: %s", luaL_typename(e->l, lindex), reason);
}

static void json_append_string(json_encoder_t* e, int lindex) {
    size_t len;
    const char* s = lua_tolstring(e->l, lindex, &len);
    strbuf_t* buf = e->buf;
    // Worst case every byte becomes "\u00XX"; checked so the product cannot wrap.
    if (len > (SIZE_MAX / 2) / 6) luaL_error(e->l, "not enough memory");
    strbuf_ensure_empty_length(buf, len * 6 + 2);
    strbuf_append_char_unsafe(buf, '"');
    for (size_t i = 0; i < len; i++) {
        const json_escape_t& esc = json_escapes[(unsigned char)s[i]];
        if (esc.len)
            strbuf_append_mem_unsafe(buf, esc.text, esc.len);
        else
            strbuf_append_char_unsafe(buf, s[i]);
    }
    strbuf_append_char_unsafe(buf, '"');
}

static void json_append_number(json_encoder_t* e, int lindex) {
    double num = lua_tonumber(e->l, lindex);
    if (std::isinf(num) || std::isnan(num)) {
        switch (e->cfg->encode_invalid_numbers) {
        case INVALID_NUMBERS_OFF:
            json_encode_exception(e, lindex, "must not be NaN or Inf");
        case INVALID_NUMBERS_NULL:
            strbuf_append_mem(e->buf, "null", 4);
            return;
        default:
            if (std::isnan(num)) {
                strbuf_append_mem(e->buf, "nan", 3);
                return;
            }
            break;  // inf and -inf as the number format writes them
        }
    }
    strbuf_ensure_empty_length(e->buf, FPCONV_G_FMT_BUFSIZE);
    int len = fpconv_g_fmt(strbuf_empty_ptr(e->buf), num, e->cfg->encode_number_precision);
    strbuf_extend_length(e->buf, (size_t)len);
}

// The array length of the table on top: its largest key when every key is a
// whole number >= 1 and the table is not too sparse; 0 for an empty table and
// -1 for one to write as an object.
static int json_array_length(json_encoder_t* e) {
    lua_State* l = e->l;
    json_config_t* cfg = e->cfg;
    double max = 0;
    double items = 0;
    lua_pushnil(l);
    while (lua_next(l, -2) != 0) {
        if (lua_type(l, -2) == LUA_TNUMBER) {
            double k = lua_tonumber(l, -2);
            if (k >= 1 && std::floor(k) == k) {
                if (k > max) max = k;
                items++;
                lua_pop(l, 1);
                continue;
            }
        }
        lua_pop(l, 2);
        return -1;
    }
    // A key past INT_MAX cannot be walked as an index: as sparse as it gets.
    bool sparse = max > INT_MAX;
    if (cfg->encode_sparse_ratio > 0 && max > items * cfg->encode_sparse_ratio && max > cfg->encode_sparse_safe)
        sparse = true;
    if (sparse) {
        if (!cfg->encode_sparse_convert) json_encode_exception(e, -1, "excessively sparse array");
        return -1;
    }
    return (int)max;
}

static void json_append_data(json_encoder_t* e, int depth);

static void json_append_array(json_encoder_t* e, int depth, int len) {
    strbuf_append_char(e->buf, '[');
    for (int i = 1; i <= len; i++) {
        if (i > 1) strbuf_append_char(e->buf, ',');
        lua_rawgeti(e->l, -1, i);
        json_append_data(e, depth);
        lua_pop(e->l, 1);
    }
    strbuf_append_char(e->buf, ']');
}

static void json_append_object(json_encoder_t* e, int depth) {
    lua_State* l = e->l;
    strbuf_append_char(e->buf, '{');
    bool comma = false;
    lua_pushnil(l);
    while (lua_next(l, -2) != 0) {
        if (comma) strbuf_append_char(e->buf, ',');
        comma = true;
        // Key at -2, value at -1. The key is only read, never converted,
        // so lua_next can go on from it.
        int keytype = lua_type(l, -2);
        if (keytype == LUA_TNUMBER) {
            strbuf_append_char(e->buf, '"');
            json_append_number(e, -2);
            strbuf_append_mem(e->buf, "\":", 2);
        } else if (keytype == LUA_TSTRING) {
            json_append_string(e, -2);
            strbuf_append_char(e->buf, ':');
        } else {
            json_encode_exception(e, -2, "table key must be a number or string");
        }
        json_append_data(e, depth);
        lua_pop(l, 1);
    }
    strbuf_append_char(e->buf, '}');
}

// Writes the value on top of the stack.
static void json_append_data(json_encoder_t* e, int depth) {
    lua_State* l = e->l;
    switch (lua_type(l, -1)) {
    case LUA_TSTRING:
        json_append_string(e, -1);
        return;
    case LUA_TNUMBER:
        json_append_number(e, -1);
        return;
    case LUA_TBOOLEAN:
        if (lua_toboolean(l, -1))
            strbuf_append_mem(e->buf, "true", 4);
        else
            strbuf_append_mem(e->buf, "false", 5);
        return;
    case LUA_TNIL:
        strbuf_append_mem(e->buf, "null", 4);
        return;
    case LUA_TLIGHTUSERDATA:
        if (lua_touserdata(l, -1) == nullptr) {
            strbuf_append_mem(e->buf, "null", 4);
            return;
        }
        break;
    case LUA_TTABLE: {
        depth++;
        if (depth > e->cfg->encode_max_depth || depth > JSON_DEPTH_CEILING) {
            if (e->owned) strbuf_free(e->buf);
            luaL_error(l, "Cannot serialise, excessive nesting (%d)", depth);
        }
        luaL_checkstack(l, 3, "too many nested tables");
        int len = json_array_length(e);
        if (len > 0)
            json_append_array(e, depth, len);
        else
            json_append_object(e, depth);
        return;
    }
    default:
        break;
    }
    json_encode_exception(e, -1, "type not supported");
}

static int json_encode(lua_State* l) {
    luaL_argcheck(l, lua_gettop(l) == 1, 1, "expected 1 argument");
    json_config_t* cfg = json_fetch_config(l);

    strbuf_t local;
    json_buffer_guard guard{nullptr};
    json_keep_guard keep{nullptr};
    json_encoder_t e{l, cfg, nullptr, false};
    if (cfg->encode_keep_buffer && !cfg->encode_busy) {
        cfg->encode_busy = 1;
        keep.cfg = cfg;
        e.buf = &cfg->encode_buf;
        strbuf_reset(e.buf);
        e.buf->L = l;  // this call's thread raises the failures
    } else {
        strbuf_init(&local, l);
        e.buf = &local;
        e.owned = true;
        guard.buf = &local;
    }

    json_append_data(&e, 0);
    size_t len;
    const char* text = strbuf_string(e.buf, &len);
    lua_pushlstring(l, text, len);
    return 1;  // the guard frees a buffer of this call's own
}

// ==== decoding ====================================================================

enum json_token_type_t {
    T_OBJ_BEGIN,
    T_OBJ_END,
    T_ARR_BEGIN,
    T_ARR_END,
    T_STRING,
    T_NUMBER,
    T_BOOLEAN,
    T_NULL,
    T_COLON,
    T_COMMA,
    T_END,
    T_WHITESPACE,
    T_ERROR,
    T_UNKNOWN,
};

static const char* const json_token_type_name[] = {
    "T_OBJ_BEGIN", "T_OBJ_END", "T_ARR_BEGIN", "T_ARR_END", "T_STRING", "T_NUMBER", "T_BOOLEAN",
    "T_NULL",      "T_COLON",   "T_COMMA",     "T_END",     "T_WHITESPACE", "T_ERROR", "T_UNKNOWN",
};

struct json_token_t {
    json_token_type_t type;
    size_t index;           // byte offset of the token in the text
    double number;          // T_NUMBER
    int boolean;            // T_BOOLEAN
    const char* error;      // T_ERROR: what was wrong
};

struct json_parse_t {
    lua_State* l;
    json_config_t* cfg;
    const char* data;  // the text; Lua keeps a NUL after its last byte
    const char* ptr;   // next unread byte
    const char* end;   // one past the last byte
    strbuf_t* tmp;     // the text of the last string token
    int depth;
};

static bool json_is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
static bool json_is_digit(char c) { return c >= '0' && c <= '9'; }

static bool json_prefix(const char* p, const char* end, const char* word, bool any_case) {
    for (; *word; word++, p++) {
        if (p >= end) return false;
        char c = *p;
        if (any_case && c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != *word) return false;
    }
    return true;
}

// A number JSON forbids but strtod reads: leading "+", leading zero, hex, inf, nan.
static bool json_is_invalid_number(const char* p, const char* end) {
    if (*p == '+') return true;
    if (*p == '-') {
        p++;
        if (p >= end) return false;
    }
    if (*p == '0') {
        if (p + 1 >= end) return false;
        char n = p[1];
        return n == 'x' || n == 'X' || json_is_digit(n);
    }
    if (json_is_digit(*p)) return false;
    return json_prefix(p, end, "inf", true) || json_prefix(p, end, "nan", true);
}

static void json_set_token_error(json_token_t* token, json_parse_t* json, const char* error) {
    token->type = T_ERROR;
    token->index = (size_t)(json->ptr - json->data);
    token->error = error;
}

static int json_hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four hex digits at p (bounds checked by the caller); -1 when not.
static int json_hex4(const char* p) {
    int cp = 0;
    for (int i = 0; i < 4; i++) {
        int v = json_hex_value(p[i]);
        if (v < 0) return -1;
        cp = cp << 4 | v;
    }
    return cp;
}

// Reads the \uXXXX (or surrogate pair) escape at json->ptr into the string
// buffer as UTF-8; false when it is malformed.
static bool json_append_unicode_escape(json_parse_t* json) {
    const char* p = json->ptr;
    if (json->end - p < 6) return false;
    int cp = json_hex4(p + 2);
    if (cp < 0) return false;
    int used = 6;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        // A high surrogate must come with its low half, as a second escape.
        if (json->end - p < 12 || p[6] != '\\' || p[7] != 'u') return false;
        int lo = json_hex4(p + 8);
        if (lo < 0xDC00 || lo > 0xDFFF) return false;
        cp = 0x10000 + ((cp & 0x3FF) << 10) + (lo & 0x3FF);
        used = 12;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
        return false;
    }

    char utf8[4];
    int n;
    if (cp < 0x80) {
        utf8[0] = (char)cp;
        n = 1;
    } else if (cp < 0x800) {
        utf8[0] = (char)(0xC0 | (cp >> 6));
        utf8[1] = (char)(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        utf8[0] = (char)(0xE0 | (cp >> 12));
        utf8[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        utf8[2] = (char)(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        utf8[0] = (char)(0xF0 | (cp >> 18));
        utf8[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
        utf8[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
        utf8[3] = (char)(0x80 | (cp & 0x3F));
        n = 4;
    }
    strbuf_append_mem(json->tmp, utf8, (size_t)n);
    json->ptr += used;
    return true;
}

static void json_next_string_token(json_parse_t* json, json_token_t* token) {
    strbuf_reset(json->tmp);
    json->ptr++;  // the opening quote
    for (;;) {
        const char* run = json->ptr;
        while (json->ptr < json->end && *json->ptr != '"' && *json->ptr != '\\') json->ptr++;
        strbuf_append_mem(json->tmp, run, (size_t)(json->ptr - run));
        if (json->ptr >= json->end) {
            json_set_token_error(token, json, "unexpected end of string");
            return;
        }
        if (*json->ptr == '"') break;

        // A backslash escape.
        if (json->ptr + 1 >= json->end) {
            json_set_token_error(token, json, "unexpected end of string");
            return;
        }
        char esc = json->ptr[1];
        char out;
        switch (esc) {
        case '"': out = '"'; break;
        case '\\': out = '\\'; break;
        case '/': out = '/'; break;
        case 'b': out = '\b'; break;
        case 'f': out = '\f'; break;
        case 'n': out = '\n'; break;
        case 'r': out = '\r'; break;
        case 't': out = '\t'; break;
        case 'u':
            if (!json_append_unicode_escape(json)) {
                json_set_token_error(token, json, "invalid unicode escape code");
                return;
            }
            continue;
        default:
            json_set_token_error(token, json, "invalid escape code");
            return;
        }
        strbuf_append_char(json->tmp, out);
        json->ptr += 2;
    }
    json->ptr++;  // the closing quote
    token->type = T_STRING;
}

static void json_next_number_token(json_parse_t* json, json_token_t* token) {
    char* endp;
    // The text ends in a NUL (Lua keeps one), so strtod cannot read past it.
    double value = fpconv_strtod(json->ptr, &endp);
    if (endp == json->ptr || endp > json->end) {
        json_set_token_error(token, json, "invalid number");
        return;
    }
    token->type = T_NUMBER;
    token->number = value;
    json->ptr = endp;
}

static void json_next_token(json_parse_t* json, json_token_t* token) {
    while (json->ptr < json->end && json_is_space(*json->ptr)) json->ptr++;
    token->index = (size_t)(json->ptr - json->data);
    if (json->ptr >= json->end) {
        token->type = T_END;
        return;
    }

    char ch = *json->ptr;
    switch (ch) {
    case '{': token->type = T_OBJ_BEGIN; json->ptr++; return;
    case '}': token->type = T_OBJ_END; json->ptr++; return;
    case '[': token->type = T_ARR_BEGIN; json->ptr++; return;
    case ']': token->type = T_ARR_END; json->ptr++; return;
    case ':': token->type = T_COLON; json->ptr++; return;
    case ',': token->type = T_COMMA; json->ptr++; return;
    case '"': json_next_string_token(json, token); return;
    default: break;
    }

    if (json_is_invalid_number(json->ptr, json->end)) {
        if (json->cfg->decode_invalid_numbers)
            json_next_number_token(json, token);
        else
            json_set_token_error(token, json, "invalid number");
        return;
    }
    if (ch == '-' || json_is_digit(ch)) {
        json_next_number_token(json, token);
        return;
    }
    if (json_prefix(json->ptr, json->end, "true", false)) {
        token->type = T_BOOLEAN;
        token->boolean = 1;
        json->ptr += 4;
        return;
    }
    if (json_prefix(json->ptr, json->end, "false", false)) {
        token->type = T_BOOLEAN;
        token->boolean = 0;
        json->ptr += 5;
        return;
    }
    if (json_prefix(json->ptr, json->end, "null", false)) {
        token->type = T_NULL;
        json->ptr += 4;
        return;
    }
    json_set_token_error(token, json, "invalid token");
}

static int json_position(size_t index) { return index >= (size_t)INT_MAX ? INT_MAX : (int)index + 1; }

[[noreturn]] static void json_throw_parse_error(json_parse_t* json, const char* exp, const json_token_t* token) {
    const char* found = token->type == T_ERROR ? token->error : json_token_type_name[token->type];
    strbuf_free(json->tmp);
    luaL_error(json->l, "Expected %s but found %s at character %d", exp, found, json_position(token->index));
    abort();  // luaL_error does not return
}

static void json_decode_descend(json_parse_t* json, const json_token_t* token) {
    json->depth++;
    if (json->depth > json->cfg->decode_max_depth || json->depth > JSON_DEPTH_CEILING) {
        strbuf_free(json->tmp);
        luaL_error(json->l, "Found too many nested data structures (%d) at character %d", json->depth,
                   json_position(token->index));
    }
    // The table, a key and a value of this level.
    luaL_checkstack(json->l, 3, "too many nested data structures");
}

static void json_process_value(json_parse_t* json, json_token_t* token);

static void json_parse_object_context(json_parse_t* json, const json_token_t* open) {
    lua_State* l = json->l;
    json_decode_descend(json, open);
    lua_newtable(l);

    json_token_t token;
    json_next_token(json, &token);
    if (token.type == T_OBJ_END) {
        json->depth--;
        return;
    }
    int long_keys = 0;
    for (;;) {
        if (token.type != T_STRING) json_throw_parse_error(json, "object key string", &token);
        if (json->tmp->length > JSON_SHORT_KEY_MAX && ++long_keys > JSON_LONG_KEYS_MAX) {
            strbuf_free(json->tmp);
            luaL_error(l, "Found too many long keys (%d) in one object at character %d", long_keys,
                       json_position(token.index));
        }
        lua_pushlstring(l, json->tmp->buf ? json->tmp->buf : "", json->tmp->length);

        json_next_token(json, &token);
        if (token.type != T_COLON) json_throw_parse_error(json, "colon", &token);

        json_next_token(json, &token);
        json_process_value(json, &token);
        lua_rawset(l, -3);  // a null value leaves the key absent

        json_next_token(json, &token);
        if (token.type == T_OBJ_END) {
            json->depth--;
            return;
        }
        if (token.type != T_COMMA) json_throw_parse_error(json, "comma or object end", &token);
        json_next_token(json, &token);
    }
}

static void json_parse_array_context(json_parse_t* json, const json_token_t* open) {
    lua_State* l = json->l;
    json_decode_descend(json, open);
    lua_newtable(l);

    json_token_t token;
    json_next_token(json, &token);
    if (token.type == T_ARR_END) {
        json->depth--;
        return;
    }
    for (int i = 1;; i++) {
        json_process_value(json, &token);
        lua_rawseti(l, -2, i);  // a null element leaves a hole

        json_next_token(json, &token);
        if (token.type == T_ARR_END) {
            json->depth--;
            return;
        }
        if (token.type != T_COMMA) json_throw_parse_error(json, "comma or array end", &token);
        if (i == INT_MAX) json_throw_parse_error(json, "the end", &token);
        json_next_token(json, &token);
    }
}

// Pushes the value that starts with token.
static void json_process_value(json_parse_t* json, json_token_t* token) {
    lua_State* l = json->l;
    switch (token->type) {
    case T_STRING:
        lua_pushlstring(l, json->tmp->buf ? json->tmp->buf : "", json->tmp->length);
        return;
    case T_NUMBER:
        lua_pushnumber(l, token->number);
        return;
    case T_BOOLEAN:
        lua_pushboolean(l, token->boolean);
        return;
    case T_OBJ_BEGIN:
        json_parse_object_context(json, token);
        return;
    case T_ARR_BEGIN:
        json_parse_array_context(json, token);
        return;
    case T_NULL:
        lua_pushnil(l);
        return;
    default:
        json_throw_parse_error(json, "value", token);
    }
}

static int json_decode(lua_State* l) {
    luaL_argcheck(l, lua_gettop(l) == 1, 1, "expected 1 argument");
    json_config_t* cfg = json_fetch_config(l);
    size_t len;
    const char* text = luaL_checklstring(l, 1, &len);

    // A NUL among the first two bytes marks UTF-16 or UTF-32 text.
    if (len >= 2 && (!text[0] || !text[1])) luaL_error(l, "JSON parser does not support UTF-16 or UTF-32");

    strbuf_t tmp;
    strbuf_init(&tmp, l);
    json_buffer_guard guard{&tmp};  // grows only as far as the longest string

    json_parse_t json{l, cfg, text, text, text + len, &tmp, 0};
    json_token_t token;
    json_next_token(&json, &token);
    json_process_value(&json, &token);

    json_next_token(&json, &token);
    if (token.type != T_END) json_throw_parse_error(&json, "the end", &token);
    return 1;  // the guard frees the string buffer
}

// ==== module ======================================================================

static int lua_cjson_new(lua_State* l) {
    static const luaL_Reg reg[] = {
        {"encode", json_encode},
        {"decode", json_decode},
        {"encode_sparse_array", json_cfg_encode_sparse_array},
        {"encode_max_depth", json_cfg_encode_max_depth},
        {"decode_max_depth", json_cfg_decode_max_depth},
        {"encode_number_precision", json_cfg_encode_number_precision},
        {"encode_keep_buffer", json_cfg_encode_keep_buffer},
        {"encode_invalid_numbers", json_cfg_encode_invalid_numbers},
        {"decode_invalid_numbers", json_cfg_decode_invalid_numbers},
        {"new", lua_cjson_new},
        {nullptr, nullptr},
    };
    lua_newtable(l);
    json_create_config(l);
    luaL_setfuncs(l, reg, 1);  // every function shares the settings as upvalue 1

    lua_pushlightuserdata(l, nullptr);
    lua_setfield(l, -2, "null");
    lua_pushliteral(l, "cjson");
    lua_setfield(l, -2, "_NAME");
    lua_pushliteral(l, "2.1.0");
    lua_setfield(l, -2, "_VERSION");
    return 1;
}

int luaopen_cjson(lua_State* L) {
    lua_cjson_new(L);
    lua_pushvalue(L, -1);
    lua_setglobal(L, "cjson");
    return 1;
}
