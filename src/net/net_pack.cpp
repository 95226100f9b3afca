// net_pack: run-length packing of packets and their 64-byte headers.
//
// Header layout (both directions, 64 bytes; see net_pack.h for the table):
//   client to host: uid[16] name[16] token[16] type[16], then the value
//   host to client: zero[48] type[16], then the value
// Packed form: code byte 1..127 = that many literals follow; 129..255 = one
// byte follows, repeated (code & 127) times; 0 and 128 b are skipped.
#include "net/net_pack.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>  // sixteen bytes compared at a time
#endif

namespace {

// One buffer for both directions; the wire never carries more.
uint8_t pack_buf[NET_PACK_SIZE];

// Appends bytes to pack_buf, dropping whatever does not fit.
struct Out {
    size_t n = 0;
    int cut = 0;

    void put(uint8_t b) {
        if (n < sizeof(pack_buf))
            pack_buf[n++] = b;
        else
            cut = 1;
    }
    // The part of k bytes that still fits; marks the cut when it is less.
    size_t fit(size_t k) {
        size_t room = sizeof(pack_buf) - n;
        if (k > room) {
            k = room;
            cut = 1;
        }
        return k;
    }
    void put(const uint8_t* p, size_t k) {
        k = fit(k);
        memcpy(pack_buf + n, p, k);
        n += k;
    }
    void fill(uint8_t b, size_t k) {
        k = fit(k);
        memset(pack_buf + n, b, k);
        n += k;
    }
};

// ---- packing, sixteen bytes at a time ---------------------------------------------
//
// The packer writes into a buffer one block longer than the limit and stops
// once the limit is reached; what lies beyond is then cut. Every block is at
// most 128 bytes, so this gives exactly the first NET_PACK_SIZE bytes of the
// whole packed form.

uint8_t packed_buf[NET_PACK_SIZE + 128 + 16];

#if defined(__SSE2__)
// Bit k set where p[k] == b, for k < 16.
unsigned equal_bits(const uint8_t* p, __m128i b) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, b)));
}

// Bit k set where p[k], p[k + 1] and p[k + 2] are equal, for k < 16.
unsigned triple_bits(const uint8_t* p) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c))));
}
#endif

// Bytes equal to in[0] from in[0] on, at most lim (lim <= left, the bytes
// that may be read).
size_t run_length(const uint8_t* in, size_t lim, size_t left) {
    size_t k = 0;
#if defined(__SSE2__)
    __m128i b = in[0] ? _mm_set1_epi8(static_cast<char>(in[0])) : _mm_setzero_si128();
    // Long runs (the zeros of a delta) are tried sixty-four bytes at a time.
    for (; k + 64 <= lim; k += 64) {
        auto off = [&](size_t at) {
            return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k + at)), b);
        };
        __m128i any = _mm_or_si128(_mm_or_si128(off(0), off(16)), _mm_or_si128(off(32), off(48)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xffff) break;
    }
    for (; k + 16 <= lim; k += 16) {
        unsigned differ = ~equal_bits(in + k, b) & 0xffffu;
        if (differ) return k + static_cast<size_t>(__builtin_ctz(differ));
    }
    if (k < lim && lim >= 16) {
        // The last sixteen, overlapping bytes already known equal.
        unsigned differ = ~equal_bits(in + lim - 16, b) & 0xffffu;
        return differ ? lim - 16 + static_cast<size_t>(__builtin_ctz(differ)) : lim;
    }
#endif
    while (k < lim && in[k] == in[0]) k++;
    return k;
}

// Length of the literal block that starts at in[0]: it grows up to lim
// bytes and stops before the first position j >= 1 that begins three equal
// bytes lying inside the n bytes left.
size_t literal_length(const uint8_t* in, size_t lim, size_t n) {
    size_t j = 1;
#if defined(__SSE2__)
    for (; j < lim && j + 18 <= n; j += 16) {
        unsigned t = triple_bits(in + j);
        if (t) {
            size_t at = j + static_cast<size_t>(__builtin_ctz(t));
            return at < lim ? at : lim;
        }
    }
#endif
    for (; j < lim; j++)
        if (j + 2 < n && in[j] == in[j + 1] && in[j + 1] == in[j + 2]) return j;
    return lim;
}

// Copies a literal block of count <= 127 bytes, sixteen at a time where
// `left` bytes of input allow it (the output always has room for that).
void copy_literal(uint8_t* out, const uint8_t* in, size_t count, size_t left) {
#if defined(__SSE2__)
    if (left >= ((count + 15) & ~size_t{15})) {
        for (size_t k = 0; k < count; k += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k)));
        return;
    }
#endif
    memcpy(out, in, count);
}

// Packs blocks of the n bytes at in into packed_buf from position o on,
// starting at i and going on while i < stop and the output has room.
// Returns the new output position; i is left at the next block.
size_t pack_blocks(const uint8_t* in, size_t n, size_t& i, size_t o, size_t stop) {
    while (i < stop && o < static_cast<size_t>(NET_PACK_SIZE)) {
        size_t left = n - i, lim = left < 127 ? left : 127;
        if (left > 1 && in[i + 1] == in[i]) {
            size_t count = run_length(in + i, lim, left);
            packed_buf[o++] = static_cast<uint8_t>(128 + count);
            packed_buf[o++] = in[i];
            i += count;
        } else {
            size_t count = literal_length(in + i, lim, left);
            packed_buf[o++] = static_cast<uint8_t>(count);
            copy_literal(packed_buf + o, in + i, count, left);
            o += count;
            i += count;
        }
    }
    return o;
}

// The packed length, cut to NET_PACK_SIZE; *cut says whether anything was.
size_t pack_end(size_t o, bool all_read, int* cut) {
    int over = o > static_cast<size_t>(NET_PACK_SIZE) || !all_read;
    if (cut) *cut = over;
    return over ? static_cast<size_t>(NET_PACK_SIZE) : o;
}

// How far past its start a block reads: a literal's last look for three
// equal bytes.
constexpr size_t BLOCK_REACH = 127 + 18;

}  // namespace

std::string net_pack(const std::string& bytes, int* cut) {
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t i = 0;
    size_t o = pack_blocks(in, bytes.size(), i, 0, bytes.size());
    return std::string(reinterpret_cast<const char*>(packed_buf), pack_end(o, i >= bytes.size(), cut));
}

std::string net_unpack(const std::string& bytes, int* cut) {
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t n = bytes.size();
    Out out;
    size_t p = 0;
    while (p < n) {
        uint8_t c = in[p++];
        if (!(c & 128)) {
            if (c == 0) continue;
            if (p >= n) {
                out.cut = 1;
                break;
            }
            size_t k = c;
            if (k > n - p) {
                k = n - p;
                out.cut = 1;
            }
            out.put(in + p, k);
            p += k;
        } else {
            if (p >= n) {
                out.cut = 1;
                break;
            }
            uint8_t b = in[p++];
            out.fill(b, c & 127);
        }
    }
    if (cut) *cut = out.cut;
    return std::string(reinterpret_cast<const char*>(pack_buf), out.n);
}

void net_header_field(char field[16], const std::string& text) {
    memset(field, 0, 16);
    size_t k = text.size() < 15 ? text.size() : 15;
    memcpy(field, text.data(), k);
}

void net_build_into(const NetMessage& msg, std::string& out, int* cut) {
    // The packet is the header followed by the value. Blocks that start in
    // the header are packed from a copy of it with the value's first bytes
    // behind; the rest straight from the value, without copying it.
    const uint8_t* value = reinterpret_cast<const uint8_t*>(msg.value.data());
    size_t vlen = msg.value.size(), n = NET_HEADER_SIZE + vlen;
    uint8_t head[NET_HEADER_SIZE + BLOCK_REACH] = {};
    net_header_field(reinterpret_cast<char*>(head) + offsetof(NetHostHeader, type), msg.type);
    memcpy(head + NET_HEADER_SIZE, value, vlen < BLOCK_REACH ? vlen : BLOCK_REACH);
    size_t i = 0;
    size_t o = pack_blocks(head, n, i, 0, NET_HEADER_SIZE);
    bool all_read = i >= n;
    if (!all_read && i >= static_cast<size_t>(NET_HEADER_SIZE)) {
        size_t vi = i - NET_HEADER_SIZE;  // the header's last block may reach into the value
        o = pack_blocks(value, vlen, vi, o, vlen);
        all_read = vi >= vlen;
    }
    int packed_cut = 0;
    out.assign(reinterpret_cast<const char*>(packed_buf), pack_end(o, all_read, &packed_cut));
    if (cut) *cut = packed_cut || n > static_cast<size_t>(NET_PACK_SIZE);
}

std::string net_build(const NetMessage& msg, int* cut) {
    std::string packed;
    net_build_into(msg, packed, cut);
    return packed;
}

namespace {

int header_read(const std::string& unpacked, void* out) {
    if (unpacked.size() < static_cast<size_t>(NET_HEADER_SIZE)) return 0;
    char h[NET_HEADER_SIZE];
    memcpy(h, unpacked.data(), sizeof(h));
    h[15] = h[31] = h[47] = h[63] = 0;
    memcpy(out, h, sizeof(h));
    return 1;
}

}  // namespace

int net_header_read(const std::string& unpacked, NetClientHeader* out) {
    return header_read(unpacked, out);
}

int net_header_read(const std::string& unpacked, NetHostHeader* out) {
    return header_read(unpacked, out);
}
