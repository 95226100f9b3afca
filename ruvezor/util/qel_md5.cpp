// qel_md5: the MD5 message digest (RFC 1321), fed in pieces of any size.
#include "ruvezor/util/qel_md5.h"

#include <cstring>  // memcpy

// ---- module-internal ---------------------------------------------------------

static inline uint32_t _md5_rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Per-step shift amounts, by round and step within the group of four.
static const int _md5_shift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// T[i] = floor(2^32 * |sin(i + 1)|), the RFC's table.
static const uint32_t _md5_t[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Mixes one 64-byte block into the chaining words. Words are read little-endian
// byte by byte, so the result does not depend on the host's byte order.
static void md5_process(md5_state_s* state, const uint8_t* block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = (uint32_t)block[i * 4] | ((uint32_t)block[i * 4 + 1] << 8) |
               ((uint32_t)block[i * 4 + 2] << 16) | ((uint32_t)block[i * 4 + 3] << 24);

    uint32_t a = state->abcd[0], b = state->abcd[1], c = state->abcd[2], d = state->abcd[3];
    for (int i = 0; i < 64; i++) {
        int round = i / 16;
        uint32_t f;
        int k;
        switch (round) {
        case 0: f = (b & c) | (~b & d); k = i; break;
        case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) & 15; break;
        case 2: f = b ^ c ^ d; k = (3 * i + 5) & 15; break;
        default: f = c ^ (b | ~d); k = (7 * i) & 15; break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + _md5_rol(a + f + x[k] + _md5_t[i], _md5_shift[round][i & 3]);
        a = t;
    }
    state->abcd[0] += a;
    state->abcd[1] += b;
    state->abcd[2] += c;
    state->abcd[3] += d;
}

// ---- public ------------------------------------------------------------------

void md5_init(md5_state_s* state)
{
    state->count[0] = state->count[1] = 0;
    state->abcd[0] = 0x67452301;
    state->abcd[1] = 0xefcdab89;
    state->abcd[2] = 0x98badcfe;
    state->abcd[3] = 0x10325476;
    memset(state->buf, 0, sizeof(state->buf));
}

void md5_append(md5_state_s* state, const unsigned char* data, int nbytes)
{
    if (nbytes <= 0 || !data) return;
    size_t left = (size_t)nbytes;
    size_t used = (state->count[0] >> 3) & 63;  // bytes already waiting in buf

    // 64-bit bit count kept in two words
    uint32_t bits = (uint32_t)nbytes << 3;
    state->count[1] += (uint32_t)nbytes >> 29;
    state->count[0] += bits;
    if (state->count[0] < bits) state->count[1]++;

    if (used) {
        size_t take = 64 - used < left ? 64 - used : left;
        memcpy(state->buf + used, data, take);
        data += take;
        left -= take;
        if (used + take < 64) return;
        md5_process(state, state->buf);
    }
    for (; left >= 64; data += 64, left -= 64) md5_process(state, data);
    if (left) memcpy(state->buf, data, left);
}

void md5_finish(md5_state_s* state, unsigned char digest[16])
{
    static const unsigned char pad[64] = {0x80};
    unsigned char len[8];
    for (int i = 0; i < 8; i++) len[i] = (unsigned char)(state->count[i >> 2] >> ((i & 3) * 8));

    // pad to 56 bytes mod 64, then the length that was counted before padding
    size_t used = (state->count[0] >> 3) & 63;
    int padlen = (int)(used < 56 ? 56 - used : 120 - used);
    md5_append(state, pad, padlen);
    md5_append(state, len, 8);
    for (int i = 0; i < 16; i++) digest[i] = (unsigned char)(state->abcd[i >> 2] >> ((i & 3) * 8));
}

std::string md5_hex(const void* data, size_t n)
{
    md5_state_s st;
    md5_init(&st);
    // md5_append takes an int length: long inputs go in pieces.
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        int piece = n > (1u << 30) ? (1 << 30) : (int)n;
        md5_append(&st, p, piece);
        p += piece;
        n -= (size_t)piece;
    }
    unsigned char digest[16];
    md5_finish(&st, digest);
    static const char hex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; i++) {
        out[(size_t)i * 2] = hex[digest[i] >> 4];
        out[(size_t)i * 2 + 1] = hex[digest[i] & 15];
    }
    return out;
}
