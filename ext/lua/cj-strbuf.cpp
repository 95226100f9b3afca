#include "ext/lua/cj-strbuf.h"

#include <cstdint>
#include <cstring>

#include <lua.hpp>

void strbuf_init(strbuf_t* s, lua_State* L) {
    s->buf = nullptr;
    s->size = 0;
    s->length = 0;
    s->alloc = lua_getallocf(L, &s->ud);
    s->L = L;
}

void strbuf_free(strbuf_t* s) {
    // The allocator is told the block's true size, so a limiter's count stays right.
    if (s->buf) s->alloc(s->ud, s->buf, s->size, 0);
    s->buf = nullptr;
    s->size = 0;
    s->length = 0;
}

static void strbuf_resize(strbuf_t* s, size_t size) {
    // osize is 0 for a fresh block: Lua reads it as "no type" there.
    void* p = s->alloc(s->ud, s->buf, s->buf ? s->size : 0, size);
    if (!p) luaL_error(s->L, "not enough memory");
    s->buf = static_cast<char*>(p);
    s->size = size;
}

void strbuf_ensure_empty_length(strbuf_t* s, size_t len) {
    // Room for the text, the new bytes and the NUL that strbuf_string writes.
    if (len > SIZE_MAX / 2 - s->length - 1) luaL_error(s->L, "not enough memory");
    size_t need = s->length + len + 1;
    if (need <= s->size) return;
    size_t size = s->size ? s->size : STRBUF_DEFAULT_SIZE + 1;
    while (size < need) size *= 2;
    strbuf_resize(s, size);
}

void strbuf_append_mem(strbuf_t* s, const char* data, size_t len) {
    if (!len) return;
    strbuf_ensure_empty_length(s, len);
    memcpy(s->buf + s->length, data, len);
    s->length += len;
}

void strbuf_append_string(strbuf_t* s, const char* text) { strbuf_append_mem(s, text, strlen(text)); }

const char* strbuf_string(strbuf_t* s, size_t* len) {
    strbuf_ensure_empty_length(s, 0);
    s->buf[s->length] = '\0';
    if (len) *len = s->length;
    return s->buf;
}
