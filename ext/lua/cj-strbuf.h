// cj-strbuf: the growable byte buffer of the JSON module.
//
// Its memory comes from the Lua state's own allocator, so a sandbox memory cap
// covers it too, and running short raises a Lua error on the state that is
// using the buffer instead of ending the program. On failure the buffer keeps
// its old block and contents; its owner still frees it.
#pragma once

#include <cstddef>

#include <lua.hpp>

struct strbuf_t {
    char* buf;        // the block, null until the first write
    size_t size;      // bytes in the block, the closing NUL included
    size_t length;    // bytes of text
    lua_Alloc alloc;  // allocator of the state the buffer was made for
    void* ud;         // its user data
    lua_State* L;     // where a failure is raised; set by each user
};

// Text bytes of a fresh buffer's first block.
constexpr size_t STRBUF_DEFAULT_SIZE = 1023;

// Takes the state's allocator; allocates nothing until the first write.
void strbuf_init(strbuf_t* s, lua_State* L);
// Gives the block back to the allocator; the buffer can be used again.
void strbuf_free(strbuf_t* s);
// Makes room for `len` more text bytes (and the NUL), doubling the block.
void strbuf_ensure_empty_length(strbuf_t* s, size_t len);

void strbuf_append_mem(strbuf_t* s, const char* data, size_t len);
void strbuf_append_string(strbuf_t* s, const char* text);

inline void strbuf_reset(strbuf_t* s) { s->length = 0; }
inline void strbuf_append_char(strbuf_t* s, char c) {
    strbuf_ensure_empty_length(s, 1);
    s->buf[s->length++] = c;
}
// Only after strbuf_ensure_empty_length has made the room.
inline void strbuf_append_char_unsafe(strbuf_t* s, char c) { s->buf[s->length++] = c; }
inline void strbuf_append_mem_unsafe(strbuf_t* s, const char* data, size_t len) {
    for (size_t i = 0; i < len; i++) s->buf[s->length + i] = data[i];
    s->length += len;
}
inline char* strbuf_empty_ptr(strbuf_t* s) { return s->buf + s->length; }
inline void strbuf_extend_length(strbuf_t* s, size_t len) { s->length += len; }

// The text, NUL-terminated (the NUL is not counted in *len).
const char* strbuf_string(strbuf_t* s, size_t* len);
