// JSON_parser: table-driven push parser.
//
// Each byte is mapped to one of 32 character classes; a table of 36 states
// by 32 classes gives the next state, an action (index >= 0 is a state,
// negative is an action) or an error. Containers are tracked on a mode stack
// whose size is fixed at creation, so deep input fails instead of growing.
//
// Departures from the plain grammar: the top level must be an object or an
// array, /* block comments */ may stand wherever whitespace may, and a
// number starting with 0 continues only with a fraction.
#include "ruvezor/ext/json/JSON_parser.h"

#include <array>
#include <cstdlib>
#include <cstring>

// ---- character classes ------------------------------------------------------

enum {
    C_SPACE,  // space
    C_WHITE,  // tab, line feed, carriage return
    C_LCURB,
    C_RCURB,
    C_LSQRB,
    C_RSQRB,
    C_COLON,
    C_COMMA,
    C_QUOTE,
    C_BACKS,
    C_SLASH,
    C_PLUS,
    C_MINUS,
    C_POINT,
    C_ZERO,
    C_DIGIT,  // 1..9
    C_LOW_A,
    C_LOW_B,
    C_LOW_C,
    C_LOW_D,
    C_LOW_E,
    C_LOW_F,
    C_LOW_L,
    C_LOW_N,
    C_LOW_R,
    C_LOW_S,
    C_LOW_T,
    C_LOW_U,
    C_ABCDF,  // A B C D F
    C_E,      // E
    C_ETC,    // any other printable byte, 0x80 and above included
    C_STAR,
    NR_CLASSES
};
static_assert(NR_CLASSES == 32, "class count");

static constexpr std::array<signed char, 128> make_ascii_class() {
    std::array<signed char, 128> t{};
    for (int c = 0; c < 128; c++) t[(size_t)c] = c < 32 ? -1 : C_ETC;
    t['\t'] = t['\n'] = t['\r'] = C_WHITE;
    t[' '] = C_SPACE;
    t['{'] = C_LCURB;
    t['}'] = C_RCURB;
    t['['] = C_LSQRB;
    t[']'] = C_RSQRB;
    t[':'] = C_COLON;
    t[','] = C_COMMA;
    t['"'] = C_QUOTE;
    t['\\'] = C_BACKS;
    t['/'] = C_SLASH;
    t['+'] = C_PLUS;
    t['-'] = C_MINUS;
    t['.'] = C_POINT;
    t['0'] = C_ZERO;
    for (int c = '1'; c <= '9'; c++) t[(size_t)c] = C_DIGIT;
    t['a'] = C_LOW_A;
    t['b'] = C_LOW_B;
    t['c'] = C_LOW_C;
    t['d'] = C_LOW_D;
    t['e'] = C_LOW_E;
    t['f'] = C_LOW_F;
    t['l'] = C_LOW_L;
    t['n'] = C_LOW_N;
    t['r'] = C_LOW_R;
    t['s'] = C_LOW_S;
    t['t'] = C_LOW_T;
    t['u'] = C_LOW_U;
    t['A'] = t['B'] = t['C'] = t['D'] = t['F'] = C_ABCDF;
    t['E'] = C_E;
    t['*'] = C_STAR;
    return t;
}
static constexpr std::array<signed char, 128> k_ascii_class = make_ascii_class();

// ---- states and actions -----------------------------------------------------

enum {
    GO,  // start: only { or [
    OK,  // after a value
    OB,  // after {: key or }
    KE,  // after , in an object: key
    CO,  // after a key: colon
    VA,  // value
    AR,  // after [: value or ]
    ST,  // inside a string
    ES,  // after a backslash
    U1, U2, U3, U4,  // hex digits of a \u escape
    S1,  // after a high surrogate: backslash
    S2,  // after a high surrogate: u
    MI,  // minus
    ZE,  // leading zero
    IN,  // integer digits
    FR,  // point, needs a digit
    FS,  // fraction digits
    E1,  // e or E
    E2,  // exponent sign
    E3,  // exponent digits
    T1, T2, T3,      // tr tru true
    F1, F2, F3, F4,  // fa fal fals false
    N1, N2, N3,      // nu nul null
    C1,  // slash, needs a star
    C2,  // inside a comment
    C3,  // star inside a comment
    NR_STATES
};
static_assert(NR_STATES == 36, "state count");

enum {
    A_ERR = -1,
    A_OBJ_BEGIN = -2,
    A_OBJ_END = -3,
    A_ARR_BEGIN = -4,
    A_ARR_END = -5,
    A_COLON = -6,
    A_COMMA = -7,
    A_STR_BEGIN = -8,
    A_STR_END = -9,
    A_CMT_BEGIN = -10,
    A_CMT_END = -11,
    A_NUM_END = -12,  // finish the number, then read the byte again after it
    A_ESC = -13,
    A_HEX = -14,
    A_TRUE = -15,
    A_FALSE = -16,
    A_NULL = -17,
};

enum { MODE_DONE, MODE_KEY, MODE_OBJECT, MODE_ARRAY };

using Table = std::array<std::array<signed char, NR_CLASSES>, NR_STATES>;

static constexpr Table make_table() {
    Table t{};
    for (auto& row : t)
        for (auto& x : row) x = A_ERR;

    // Whitespace and comments between tokens.
    for (int s : {GO, OK, OB, KE, CO, VA, AR}) {
        t[s][C_SPACE] = t[s][C_WHITE] = (signed char)s;
        t[s][C_SLASH] = A_CMT_BEGIN;
    }
    t[GO][C_LCURB] = A_OBJ_BEGIN;
    t[GO][C_LSQRB] = A_ARR_BEGIN;
    for (int s : {VA, AR}) {
        t[s][C_LCURB] = A_OBJ_BEGIN;
        t[s][C_LSQRB] = A_ARR_BEGIN;
        t[s][C_QUOTE] = A_STR_BEGIN;
        t[s][C_MINUS] = MI;
        t[s][C_ZERO] = ZE;
        t[s][C_DIGIT] = IN;
        t[s][C_LOW_T] = T1;
        t[s][C_LOW_F] = F1;
        t[s][C_LOW_N] = N1;
    }
    t[AR][C_RSQRB] = A_ARR_END;
    t[OB][C_QUOTE] = A_STR_BEGIN;
    t[OB][C_RCURB] = A_OBJ_END;
    t[KE][C_QUOTE] = A_STR_BEGIN;
    t[CO][C_COLON] = A_COLON;
    t[OK][C_COMMA] = A_COMMA;
    t[OK][C_RSQRB] = A_ARR_END;
    t[OK][C_RCURB] = A_OBJ_END;

    // Strings: raw tab, line feed and carriage return are refused.
    for (int c = 0; c < NR_CLASSES; c++) t[ST][c] = ST;
    t[ST][C_WHITE] = A_ERR;
    t[ST][C_QUOTE] = A_STR_END;
    t[ST][C_BACKS] = ES;
    for (int c : {C_QUOTE, C_BACKS, C_SLASH, C_LOW_B, C_LOW_F, C_LOW_N, C_LOW_R, C_LOW_T}) t[ES][c] = A_ESC;
    t[ES][C_LOW_U] = U1;
    for (int s : {U1, U2, U3, U4})
        for (int c : {C_ZERO, C_DIGIT, C_LOW_A, C_LOW_B, C_LOW_C, C_LOW_D, C_LOW_E, C_LOW_F, C_ABCDF, C_E})
            t[s][c] = A_HEX;
    t[S1][C_BACKS] = S2;
    t[S2][C_LOW_U] = U1;

    // Numbers.
    t[MI][C_ZERO] = ZE;
    t[MI][C_DIGIT] = IN;
    t[ZE][C_POINT] = FR;
    t[IN][C_ZERO] = t[IN][C_DIGIT] = IN;
    t[IN][C_POINT] = FR;
    t[IN][C_LOW_E] = t[IN][C_E] = E1;
    t[FR][C_ZERO] = t[FR][C_DIGIT] = FS;
    t[FS][C_ZERO] = t[FS][C_DIGIT] = FS;
    t[FS][C_LOW_E] = t[FS][C_E] = E1;
    t[E1][C_PLUS] = t[E1][C_MINUS] = E2;
    t[E1][C_ZERO] = t[E1][C_DIGIT] = E3;
    t[E2][C_ZERO] = t[E2][C_DIGIT] = E3;
    t[E3][C_ZERO] = t[E3][C_DIGIT] = E3;
    for (int s : {ZE, IN, FS, E3})
        for (int c : {C_SPACE, C_WHITE, C_COMMA, C_RSQRB, C_RCURB, C_SLASH}) t[s][c] = A_NUM_END;

    // Keywords.
    t[T1][C_LOW_R] = T2;
    t[T2][C_LOW_U] = T3;
    t[T3][C_LOW_E] = A_TRUE;
    t[F1][C_LOW_A] = F2;
    t[F2][C_LOW_L] = F3;
    t[F3][C_LOW_S] = F4;
    t[F4][C_LOW_E] = A_FALSE;
    t[N1][C_LOW_U] = N2;
    t[N2][C_LOW_L] = N3;
    t[N3][C_LOW_L] = A_NULL;

    // Block comments; a second slash (a line comment) is refused.
    t[C1][C_STAR] = C2;
    for (int c = 0; c < NR_CLASSES; c++) t[C2][c] = C2, t[C3][c] = C2;
    t[C2][C_STAR] = C3;
    t[C3][C_STAR] = C3;
    t[C3][C_SLASH] = A_CMT_END;
    return t;
}
static constexpr Table k_table = make_table();

static bool is_number_state(int s) { return s >= MI && s <= E3; }

// The error a refused byte means in each state.
static int state_error(int s) {
    if (s == OB || s == KE) return JSON_E_EXPECTED_KEY;
    if (s == CO) return JSON_E_EXPECTED_COLON;
    if (s == ES) return JSON_E_INVALID_ESCAPE_SEQUENCE;
    if ((s >= U1 && s <= U4) || s == S1 || s == S2) return JSON_E_INVALID_UNICODE_SEQUENCE;
    if (is_number_state(s)) return JSON_E_INVALID_NUMBER;
    if (s >= T1 && s <= N3) return JSON_E_INVALID_KEYWORD;
    return JSON_E_INVALID_CHAR;
}

// ---- the parser object ------------------------------------------------------

enum { DEFAULT_DEPTH = 16, MAX_DEPTH = 65536, STATIC_BUF = 64 };

struct JSON_parser_struct {
    JSON_parser_callback callback;
    void* ctx;
    JSON_malloc_t malloc_fn;
    JSON_free_t free_fn;
    int allow_comments;
    int handle_floats_manually;

    int state;
    int comment_return;  // state to resume after a comment
    int depth;           // mode stack capacity above the DONE entry
    int top;
    signed char* stack;  // depth + 1 modes
    int error;
    int failed;          // sticky: every later byte is refused until reset

    char* buf;           // token text, NUL-terminated; static_buf until it grows
    size_t len, cap;
    unsigned hex;        // \u digits read so far
    unsigned high;       // pending high surrogate, 0 when none
    char static_buf[STATIC_BUF];
};

static int fail(JSON_parser jc, int code) {
    jc->error = code;
    jc->failed = 1;
    return 0;
}

static bool buf_push(JSON_parser jc, char c) {
    if (jc->len + 1 >= jc->cap) {
        if (jc->cap > ((size_t)-1) / 2) return false;
        size_t cap = jc->cap * 2;
        char* n = (char*)jc->malloc_fn(cap);
        if (!n) return false;
        memcpy(n, jc->buf, jc->len);
        if (jc->buf != jc->static_buf) jc->free_fn(jc->buf);
        jc->buf = n;
        jc->cap = cap;
    }
    jc->buf[jc->len++] = c;
    jc->buf[jc->len] = '\0';
    return true;
}

static void buf_clear(JSON_parser jc) {
    jc->len = 0;
    jc->buf[0] = '\0';
}

static bool buf_push_utf8(JSON_parser jc, unsigned cp) {
    char b[4];
    int n;
    if (cp < 0x80) {
        b[0] = (char)cp;
        n = 1;
    } else if (cp < 0x800) {
        b[0] = (char)(0xC0 | (cp >> 6));
        b[1] = (char)(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        b[0] = (char)(0xE0 | (cp >> 12));
        b[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        b[2] = (char)(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        b[0] = (char)(0xF0 | (cp >> 18));
        b[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
        b[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
        b[3] = (char)(0x80 | (cp & 0x3F));
        n = 4;
    }
    for (int i = 0; i < n; i++)
        if (!buf_push(jc, b[i])) return false;
    return true;
}

static bool emit(JSON_parser jc, int type, const JSON_value* v) {
    return !jc->callback || jc->callback(jc->ctx, type, v) != 0;
}

static bool emit_text(JSON_parser jc, int type) {
    JSON_value v{};
    v.str.value = jc->buf;
    v.str.length = jc->len;
    if (type == JSON_T_INTEGER) v.integer_value = strtoll(jc->buf, nullptr, 10);  // saturates
    if (type == JSON_T_FLOAT && !jc->handle_floats_manually) v.float_value = strtod(jc->buf, nullptr);
    return emit(jc, type, &v);
}

static bool push_mode(JSON_parser jc, int mode) {
    if (jc->top >= jc->depth) return false;
    jc->stack[++jc->top] = (signed char)mode;
    return true;
}

static int hex_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

static char escape_value(int c) {
    switch (c) {
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return (char)c;  // " \ /
    }
}

// ---- public functions -------------------------------------------------------

void init_JSON_config(JSON_config* config) {
    if (config) memset(config, 0, sizeof *config);
}

JSON_parser new_JSON_parser(const JSON_config* config) {
    JSON_config def;
    init_JSON_config(&def);
    if (!config) config = &def;
    JSON_malloc_t m = config->malloc ? config->malloc : malloc;
    JSON_free_t f = config->free ? config->free : free;
    int depth = config->depth < 1 ? DEFAULT_DEPTH : config->depth > MAX_DEPTH ? MAX_DEPTH : config->depth;

    auto* jc = (JSON_parser)m(sizeof(JSON_parser_struct));
    if (!jc) return nullptr;
    memset(jc, 0, sizeof *jc);
    jc->stack = (signed char*)m((size_t)depth + 1);
    if (!jc->stack) {
        f(jc);
        return nullptr;
    }
    jc->callback = config->callback;
    jc->ctx = config->callback_ctx;
    jc->malloc_fn = m;
    jc->free_fn = f;
    jc->allow_comments = config->allow_comments;
    jc->handle_floats_manually = config->handle_floats_manually;
    jc->depth = depth;
    jc->buf = jc->static_buf;
    jc->cap = STATIC_BUF;
    JSON_parser_reset(jc);
    return jc;
}

void delete_JSON_parser(JSON_parser jc) {
    if (!jc) return;
    if (jc->buf != jc->static_buf) jc->free_fn(jc->buf);
    jc->free_fn(jc->stack);
    jc->free_fn(jc);
}

int JSON_parser_reset(JSON_parser jc) {
    if (!jc) return 0;
    jc->state = GO;
    jc->comment_return = GO;
    jc->top = 0;
    jc->stack[0] = MODE_DONE;
    jc->error = JSON_E_NONE;
    jc->failed = 0;
    jc->hex = 0;
    jc->high = 0;
    buf_clear(jc);
    return 1;
}

int JSON_parser_get_last_error(JSON_parser jc) { return jc ? jc->error : JSON_E_NONE; }

int JSON_parser_done(JSON_parser jc) {
    if (!jc || jc->failed) return 0;
    return (jc->state == GO || jc->state == OK) && jc->top == 0;
}

int JSON_parser_char(JSON_parser jc, int next_char) {
    if (!jc || jc->failed) return 0;
    // Accept the byte as unsigned or as a signed char.
    if (next_char < -128 || next_char > 255) return fail(jc, JSON_E_INVALID_CHAR);
    int c = next_char & 0xFF;
    int cls = c < 128 ? (int)k_ascii_class[(size_t)c] : (int)C_ETC;
    if (cls < 0) return fail(jc, JSON_E_INVALID_CHAR);

    for (;;) {
        int s = jc->state;
        int a = k_table[(size_t)s][(size_t)cls];
        if (a >= 0) {
            if (is_number_state(a)) {
                if (!is_number_state(s)) buf_clear(jc);
                if (!buf_push(jc, (char)c)) return fail(jc, JSON_E_OUT_OF_MEMORY);
            } else if (a == ST && s == ST) {
                if (!buf_push(jc, (char)c)) return fail(jc, JSON_E_OUT_OF_MEMORY);
            } else if (a == U1) {
                jc->hex = 0;
            }
            jc->state = a;
            return 1;
        }
        int top = jc->stack[jc->top];
        switch (a) {
        case A_ERR:
            return fail(jc, state_error(s));
        case A_OBJ_BEGIN:
            if (!push_mode(jc, MODE_KEY)) return fail(jc, JSON_E_NESTING_DEPTH_REACHED);
            if (!emit(jc, JSON_T_OBJECT_BEGIN, nullptr)) return fail(jc, JSON_E_INVALID_CHAR);
            jc->state = OB;
            return 1;
        case A_ARR_BEGIN:
            if (!push_mode(jc, MODE_ARRAY)) return fail(jc, JSON_E_NESTING_DEPTH_REACHED);
            if (!emit(jc, JSON_T_ARRAY_BEGIN, nullptr)) return fail(jc, JSON_E_INVALID_CHAR);
            jc->state = AR;
            return 1;
        case A_OBJ_END:
            if (!((s == OB && top == MODE_KEY) || (s == OK && top == MODE_OBJECT)))
                return fail(jc, JSON_E_UNBALANCED_COLLECTION);
            jc->top--;
            if (!emit(jc, JSON_T_OBJECT_END, nullptr)) return fail(jc, JSON_E_INVALID_CHAR);
            jc->state = OK;
            return 1;
        case A_ARR_END:
            if (top != MODE_ARRAY) return fail(jc, JSON_E_UNBALANCED_COLLECTION);
            jc->top--;
            if (!emit(jc, JSON_T_ARRAY_END, nullptr)) return fail(jc, JSON_E_INVALID_CHAR);
            jc->state = OK;
            return 1;
        case A_COLON:
            if (top != MODE_KEY) return fail(jc, JSON_E_EXPECTED_COLON);
            jc->stack[jc->top] = MODE_OBJECT;
            jc->state = VA;
            return 1;
        case A_COMMA:
            if (top == MODE_OBJECT) {
                jc->stack[jc->top] = MODE_KEY;
                jc->state = KE;
            } else if (top == MODE_ARRAY) {
                jc->state = VA;
            } else {
                return fail(jc, JSON_E_INVALID_CHAR);
            }
            return 1;
        case A_STR_BEGIN:
            buf_clear(jc);
            jc->high = 0;
            jc->state = ST;
            return 1;
        case A_STR_END:
            if (top == MODE_KEY) {
                if (!emit_text(jc, JSON_T_KEY)) return fail(jc, JSON_E_INVALID_CHAR);
                jc->state = CO;
            } else {
                if (!emit_text(jc, JSON_T_STRING)) return fail(jc, JSON_E_INVALID_CHAR);
                jc->state = OK;
            }
            return 1;
        case A_ESC:
            if (!buf_push(jc, escape_value(c))) return fail(jc, JSON_E_OUT_OF_MEMORY);
            jc->state = ST;
            return 1;
        case A_HEX: {
            jc->hex = jc->hex * 16 + (unsigned)hex_value(c);
            if (s != U4) {
                jc->state = s + 1;
                return 1;
            }
            unsigned cp = jc->hex;
            if (jc->high) {
                if (cp < 0xDC00 || cp > 0xDFFF) return fail(jc, JSON_E_INVALID_UNICODE_SEQUENCE);
                cp = 0x10000 + ((jc->high - 0xD800) << 10) + (cp - 0xDC00);
                jc->high = 0;
            } else if (cp >= 0xD800 && cp <= 0xDBFF) {
                jc->high = cp;
                jc->state = S1;
                return 1;
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                return fail(jc, JSON_E_INVALID_UNICODE_SEQUENCE);  // low surrogate alone
            }
            if (!buf_push_utf8(jc, cp)) return fail(jc, JSON_E_OUT_OF_MEMORY);
            jc->state = ST;
            return 1;
        }
        case A_CMT_BEGIN:
            if (!jc->allow_comments) return fail(jc, JSON_E_INVALID_CHAR);
            jc->comment_return = s;
            jc->state = C1;
            return 1;
        case A_CMT_END:
            jc->state = jc->comment_return;
            return 1;
        case A_NUM_END:
            if (!emit_text(jc, (s == ZE || s == IN) ? JSON_T_INTEGER : JSON_T_FLOAT))
                return fail(jc, JSON_E_INVALID_CHAR);
            jc->state = OK;
            continue;  // the byte that ended the number is read again after it
        case A_TRUE:
        case A_FALSE:
        case A_NULL:
            if (!emit(jc, a == A_TRUE ? JSON_T_TRUE : a == A_FALSE ? JSON_T_FALSE : JSON_T_NULL, nullptr))
                return fail(jc, JSON_E_INVALID_CHAR);
            jc->state = OK;
            return 1;
        default:
            return fail(jc, JSON_E_INVALID_CHAR);
        }
    }
}

int JSON_parser_is_legal_white_space_string(const char* s) {
    if (!s) return 0;
    for (; *s; s++)
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return 0;
    return 1;
}
