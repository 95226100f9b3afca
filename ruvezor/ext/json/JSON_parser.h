// JSON_parser: a table-driven push parser for JSON text.
//
// Bytes go in one at a time through JSON_parser_char; every completed token is
// reported to the configured callback. Nothing recurses, so nesting costs only
// the mode stack, which is capped by the configured depth.
#pragma once

#include <cstddef>

// Token types handed to the callback.
enum JSON_type {
    JSON_T_NONE = 0,
    JSON_T_ARRAY_BEGIN,
    JSON_T_ARRAY_END,
    JSON_T_OBJECT_BEGIN,
    JSON_T_OBJECT_END,
    JSON_T_INTEGER,
    JSON_T_FLOAT,
    JSON_T_NULL,
    JSON_T_TRUE,
    JSON_T_FALSE,
    JSON_T_STRING,
    JSON_T_KEY,
    JSON_T_MAX
};

// Error codes, read with JSON_parser_get_last_error.
enum JSON_error {
    JSON_E_NONE = 0,
    JSON_E_INVALID_CHAR,
    JSON_E_INVALID_KEYWORD,
    JSON_E_INVALID_ESCAPE_SEQUENCE,
    JSON_E_INVALID_UNICODE_SEQUENCE,
    JSON_E_INVALID_NUMBER,
    JSON_E_NESTING_DEPTH_REACHED,
    JSON_E_UNBALANCED_COLLECTION,
    JSON_E_EXPECTED_KEY,
    JSON_E_EXPECTED_COLON,
    JSON_E_OUT_OF_MEMORY
};

// The value of a token. Numbers also carry their token text, so a callback
// can convert them at whatever precision it wants.
struct JSON_value {
    long long integer_value;  // JSON_T_INTEGER, saturated to 64 bits
    double float_value;       // JSON_T_FLOAT, unless floats are handled manually
    struct {
        const char* value;    // NUL-terminated; may also hold NUL bytes (\u0000)
        size_t length;
    } str;                    // JSON_T_STRING, JSON_T_KEY, and the text of numbers
};

// Returns non-zero to go on, 0 to stop the parse with an error.
typedef int (*JSON_parser_callback)(void* ctx, int type, const JSON_value* value);
typedef void* (*JSON_malloc_t)(size_t n);
typedef void (*JSON_free_t)(void* p);

struct JSON_config {
    JSON_parser_callback callback;
    void* callback_ctx;
    int depth;                   // most nested arrays/objects; below 1 means 16, at most 65536
    int allow_comments;          // accept /* ... */ between tokens
    int handle_floats_manually;  // leave float_value 0; the callback reads str
    JSON_malloc_t malloc;        // default: the C library's
    JSON_free_t free;
};

typedef struct JSON_parser_struct* JSON_parser;

void init_JSON_config(JSON_config* config);
JSON_parser new_JSON_parser(const JSON_config* config);  // null on failure
void delete_JSON_parser(JSON_parser jc);
// 1 while the text is still valid, 0 on error.
int JSON_parser_char(JSON_parser jc, int next_char);
// 1 when the text fed so far ends in a complete value (or holds none).
int JSON_parser_done(JSON_parser jc);
// Back to the start state, keeping the configuration.
int JSON_parser_reset(JSON_parser jc);
int JSON_parser_get_last_error(JSON_parser jc);
// 1 for an empty text or one of only spaces, tabs, LF and CR; 0 for null.
int JSON_parser_is_legal_white_space_string(const char* s);
