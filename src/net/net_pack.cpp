// net_pack: run-length packing of packets and their 64-byte headers.
//
// Header layout (both directions, 64 bytes; see net_pack.h for the table):
//   client to host: uid[16] name[16] token[16] type[16], then the value
//   host to client: zero[48] type[16], then the value
// Packed form: code byte 1..127 = that many literals follow; 129..255 = one
// byte follows, repeated (code & 127) times; 0 and 128 b are skipped.
#include "net/net_pack.h"

#include <cstring>
#include <vector>
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

// ---- packing, sixteen and sixty-four bytes at a time ---------------------------------
//
// Packets are mostly long stretches of one byte (the zeros of an item delta)
// with a few bytes changed here and there. A stretch of equal bytes is found
// whole, sixty-four and then sixteen bytes compared at a time, and written
// as all the run blocks it makes (127 bytes each, then the rest); the end of
// a literal block (the next three equal bytes) is found sixteen positions at
// a time, and the block is copied in whole sixteens. Every block is what
// the byte-by-byte packer writes.
//
// The packer reads its input from a copy with room behind it, so those
// loads may run past the end (what lies there is never taken for input),
// and writes into a buffer with room past the limit, stopping once the
// limit is reached; what lies beyond is then cut. A block is at most 128
// bytes, so this gives exactly the first NET_PACK_SIZE bytes of the whole
// packed form.

// How far past the input's end the packer may read, and past the limit
// it may write: a literal block's bytes in whole sixteens, and more.
constexpr size_t SLACK = 256;
uint8_t raw_buf[NET_PACK_SIZE + SLACK];     // the input, when it fits
uint8_t packed_buf[NET_PACK_SIZE + SLACK];  // the output

#if defined(__SSE2__)
// Bit k set where p[k] == b, for k < 16.
inline unsigned equal_bits(const uint8_t* p, __m128i b) {
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), b)));
}

// Bit k set where p[k], p[k + 1] and p[k + 2] are equal, for k < 16.
inline unsigned triple_bits(const uint8_t* p) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c))));
}
#endif

// The first position from j on (j <= n) whose byte differs from b, or n.
inline size_t stretch_end(const uint8_t* in, size_t n, size_t j, uint8_t b) {
#if defined(__SSE2__)
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    for (; j + 64 <= n; j += 64) {
        auto off = [&](size_t at) {
            return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j + at)), vb);
        };
        __m128i any = _mm_or_si128(_mm_or_si128(off(0), off(16)), _mm_or_si128(off(32), off(48)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xffff) break;
    }
    for (; j < n; j += 16) {
        unsigned differ = ~equal_bits(in + j, vb) & 0xffffu;
        if (differ) {
            j += static_cast<size_t>(__builtin_ctz(differ));
            break;
        }
    }
    return j < n ? j : n;
#else
    while (j < n && in[j] == b) j++;
    return j;
#endif
}

// Length of the literal block at in[i]: it grows up to 127 bytes and stops
// before the first position t > i that begins three equal bytes lying
// inside the n bytes of the input. None begins before `from` (> i).
inline size_t literal_length(const uint8_t* in, size_t n, size_t i, size_t from) {
    size_t lim = n - i < 127 ? n - i : 127;
#if defined(__SSE2__)
    for (size_t t = from; t < i + lim; t += 16) {
        unsigned found = triple_bits(in + t);
        if (found) {
            size_t at = t + static_cast<size_t>(__builtin_ctz(found));
            // Past n - 3 the three bytes are not all input: no real run follows.
            return at + 2 < n && at < i + lim ? at - i : lim;
        }
    }
    return lim;
#else
    for (size_t t = from; t < i + lim; t++)
        if (t + 2 < n && in[t] == in[t + 1] && in[t + 1] == in[t + 2]) return t - i;
    return lim;
#endif
}

inline void copy16(uint8_t* out, const uint8_t* in) {
#if defined(__SSE2__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
#else
    memcpy(out, in, 16);
#endif
}

// The run blocks of a stretch of `left` bytes b, from packed_buf[o] on while
// o is below the limit: blocks of 127, then one of the rest when two or
// more are left. Returns the bytes not written: a single one left over
// starts the literal block that follows; more only where the limit came.
inline size_t put_runs(uint8_t b, size_t left, size_t& o, size_t limit) {
    for (; left >= 127 && o < limit; left -= 127, o += 2) {
        packed_buf[o] = 128 + 127;
        packed_buf[o + 1] = b;
    }
    if (left >= 2 && o < limit) {
        packed_buf[o] = static_cast<uint8_t>(128 + left);
        packed_buf[o + 1] = b;
        o += 2;
        left = 0;
    }
    return left;
}

// Packs the n bytes at in (readable SLACK bytes further) into packed_buf,
// from position i on and after the o bytes already there, while the output
// is below the limit. Returns the output's length; i is left where packing
// stopped.
size_t pack_blocks(const uint8_t* in, size_t n, size_t& i, size_t o = 0) {
    const size_t limit = NET_PACK_SIZE;
    while (i < n && o < limit) {
        // What the sixteen bytes at i already told: the stretch of equal
        // bytes goes on at least to `stretch`; no three equal bytes begin
        // before `triple_from`.
        size_t stretch = i + 2, triple_from = i + 1;
#if defined(__SSE2__)
        // Most blocks of an item delta are short: a few changed bytes, or
        // the zeros between them. Both kinds are settled from the sixteen
        // bytes at i and their neighbours (bit k: byte i + k equals the
        // next one, inside the input); longer ones go the long way below.
        {
            __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 1));
            unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
            size_t left = n - i;
            if (left <= 16) same &= (1u << (left - 1)) - 1;
            if (same & 1) {
                unsigned run = static_cast<unsigned>(__builtin_ctz(~same));  // equal neighbours from i
                if (run < 16) {
                    packed_buf[o] = static_cast<uint8_t>(128 + run + 1);
                    packed_buf[o + 1] = in[i];
                    o += 2;
                    i += run + 1;
                    continue;
                }
                stretch = i + 17;
            } else {
                // Three equal bytes from t on start the next block; t + 2
                // lies inside what `same` covers for t up to 14.
                unsigned triple = same & (same >> 1) & 0x7ffeu;
                if (triple || left <= 16) {
                    size_t count = triple ? static_cast<size_t>(__builtin_ctz(triple)) : left;
                    packed_buf[o] = static_cast<uint8_t>(count);
                    copy16(packed_buf + o + 1, in + i);
                    o += 1 + count;
                    i += count;
                    continue;
                }
                triple_from = i + 15;
            }
        }
#endif
        uint8_t b = in[i];
        if (i + 1 < n && in[i + 1] == b) {
            size_t length = stretch_end(in, n, stretch, b) - i;
            size_t left = put_runs(b, length, o, limit);
            i += length - left;
            if (o >= limit || left == 0) continue;
            triple_from = i + 1;  // i moved on to the single byte left
        }
        size_t count = literal_length(in, n, i, triple_from);
        packed_buf[o] = static_cast<uint8_t>(count);
        for (size_t k = 0; k < count; k += 16) copy16(packed_buf + o + 1 + k, in + i + k);
        o += 1 + count;
        i += count;
    }
    return o;
}

// ---- packing from a mask of equal triples, on CPUs with AVX2 ---------------------------
//
// The packer above settles one block after another, each from bytes loaded
// where the last one ended: a chain of dependent steps, about thirteen for
// an item delta. Here the positions that begin three equal bytes are found
// for the whole input at once, as bits, and the blocks follow from them
// with little left to wait for. A maximal stretch of equal bytes three or
// more long (a "segment") is always written as run blocks of 127 and one
// of the rest, a single byte left over starting the literal that follows.
// Between segments lie no three equal bytes: literal blocks of at most 127,
// and a run of two wherever such a block would begin on an equal pair.
// That is block for block what the byte-by-byte packer writes.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define Z2_PACK_MASKS 1
#include <immintrin.h>

// The largest input packed this way: its mask and segment lists stay
// small, and its packed form can never reach the limit.
constexpr size_t MASK_MAX = 8192;
static_assert(MASK_MAX + MASK_MAX / 64 + 64 < static_cast<size_t>(NET_PACK_SIZE), "never cut");
uint64_t triple_words[MASK_MAX / 64 + 1];
uint16_t seg_first[MASK_MAX / 3 + 8];  // where each segment's triples begin
uint16_t seg_last[MASK_MAX / 3 + 8];   // and where its last triple begins

#define Z2_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define Z2_AVX512 __attribute__((target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt")))

// Bit j of word w: bytes 64w + j, + 1 and + 2 are equal and all input.
Z2_AVX2 void triples_avx2(const uint8_t* in, size_t words) {
    for (size_t w = 0; w < words; w++) {
        uint64_t m = 0;
        for (size_t h = 0; h < 2; h++) {
            const uint8_t* p = in + 64 * w + 32 * h;
            __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
            __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
            __m256i eq = _mm256_and_si256(_mm256_cmpeq_epi8(a, b), _mm256_cmpeq_epi8(b, c));
            m |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(eq))) << (32 * h);
        }
        triple_words[w] = m;
    }
}

Z2_AVX512 void triples_avx512(const uint8_t* in, size_t words) {
    for (size_t w = 0; w < words; w++) {
        const uint8_t* p = in + 64 * w;
        __m512i a = _mm512_loadu_si512(p), b = _mm512_loadu_si512(p + 1), c = _mm512_loadu_si512(p + 2);
        triple_words[w] = _mm512_cmpeq_epi8_mask(a, b) & _mm512_cmpeq_epi8_mask(b, c);
    }
}

// Literal and pair-run blocks for in[a, b), which holds no three equal bytes.
Z2_AVX2 inline size_t pack_between(const uint8_t* in, size_t a, size_t b, size_t o) {
    while (a < b) {
        if (a + 1 < b && in[a] == in[a + 1]) {
            packed_buf[o] = 128 + 2;
            packed_buf[o + 1] = in[a];
            o += 2;
            a += 2;
            continue;
        }
        size_t count = b - a < 127 ? b - a : 127;
        packed_buf[o] = static_cast<uint8_t>(count);
        for (size_t k = 0; k < count; k += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(packed_buf + o + 1 + k),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + a + k)));
        o += 1 + count;
        a += count;
    }
    return o;
}

// Packs in[i, n) (n <= MASK_MAX, readable SLACK bytes further) after the o
// bytes already in packed_buf, from the mask in triple_words; i begins a block.
Z2_AVX2 size_t pack_segments(const uint8_t* in, size_t n, size_t i, size_t o) {
    const size_t words = (n + 63) / 64;
    // Only triples that lie wholly inside the input, from i on.
    if (n < 3) {
        for (size_t w = 0; w < words; w++) triple_words[w] = 0;
    } else {
        size_t end = n - 2;  // triples begin before this
        size_t lw = (end - 1) / 64;
        triple_words[lw] &= ~uint64_t{0} >> (63 - (end - 1) % 64);
        for (size_t w = lw + 1; w < words; w++) triple_words[w] = 0;
    }
    for (size_t w = 0; w < i / 64; w++) triple_words[w] = 0;
    if (i / 64 < words) triple_words[i / 64] &= ~uint64_t{0} << (i % 64);
    triple_words[words] = 0;

    size_t segments = 0, lasts = 0;
    uint64_t carry = 0;
    for (size_t w = 0; w < words; w++) {
        uint64_t x = triple_words[w];
        uint64_t first = x & ~((x << 1) | carry);
        uint64_t last = x & ~((x >> 1) | (triple_words[w + 1] << 63));
        carry = x >> 63;
        if (!(first | last)) continue;  // inside one segment, or between two
        const uint16_t base = static_cast<uint16_t>(64 * w);
        for (; first; first = _blsr_u64(first)) seg_first[segments++] = static_cast<uint16_t>(base + _tzcnt_u64(first));
        for (; last; last = _blsr_u64(last)) seg_last[lasts++] = static_cast<uint16_t>(base + _tzcnt_u64(last));
    }

    size_t at = i;
    for (size_t k = 0; k < segments; k++) {
        size_t s = seg_first[k], end = seg_last[k] + size_t{3};
        o = pack_between(in, at, s, o);
        at = end - put_runs(in[s], end - s, o, NET_PACK_SIZE);  // never reaches the limit
    }
    return pack_between(in, at, n, o);
}

enum class MaskKind { none, avx2, avx512 };
MaskKind mask_kind() {
    static const MaskKind kind = [] {
        __builtin_cpu_init();
        bool base = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                    __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
        if (!base) return MaskKind::none;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) return MaskKind::avx512;
        return MaskKind::avx2;
    }();
    return kind;
}
#endif

int masks_allowed = 1;

// pack_blocks, or the same blocks from a mask where the CPU allows.
size_t pack_any(const uint8_t* in, size_t n, size_t& i, size_t o = 0) {
#if defined(Z2_PACK_MASKS)
    if (n <= MASK_MAX && i < n && masks_allowed) {
        MaskKind kind = mask_kind();
        if (kind != MaskKind::none) {
            size_t words = (n + 63) / 64;
            if (kind == MaskKind::avx512 && masks_allowed == 1) triples_avx512(in, words);
            else triples_avx2(in, words);
            o = pack_segments(in, n, i, o);
            i = n;
            return o;
        }
    }
#endif
    return pack_blocks(in, n, i, o);
}

// The packed length, cut to NET_PACK_SIZE; *cut says whether anything was.
size_t pack_end(size_t o, bool all_read, int* cut) {
    int over = o > static_cast<size_t>(NET_PACK_SIZE) || !all_read;
    if (cut) *cut = over;
    return over ? static_cast<size_t>(NET_PACK_SIZE) : o;
}

// Packs bytes that are not yet in a copy with room behind them. Only a
// result cut at the limit can have read more than NET_PACK_SIZE bytes.
size_t pack_copy(const uint8_t* bytes, size_t n, size_t& i) {
    if (n <= static_cast<size_t>(NET_PACK_SIZE)) {
        memcpy(raw_buf, bytes, n);
        return pack_any(raw_buf, n, i);
    }
    std::vector<uint8_t> copy(n + SLACK);
    memcpy(copy.data(), bytes, n);
    return pack_blocks(copy.data(), n, i);
}

}  // namespace

std::string net_pack(const std::string& bytes, int* cut) {
    size_t i = 0;
    size_t o = pack_copy(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), i);
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

void _net_pack_masks(int on) { masks_allowed = on == 0 || on == 2 ? on : 1; }

void net_header_field(char field[16], const std::string& text) {
    memset(field, 0, 16);
    size_t k = text.size() < 15 ? text.size() : 15;
    memcpy(field, text.data(), k);
}

void net_build_into(const NetMessage& msg, std::string& out, int* cut) {
    size_t vlen = msg.value.size(), n = NET_HEADER_SIZE + vlen;
    size_t i = 0, o = 0;
    if (n <= static_cast<size_t>(NET_PACK_SIZE)) {
        memset(raw_buf, 0, NET_HEADER_SIZE);
        net_header_field(reinterpret_cast<char*>(raw_buf) + offsetof(NetHostHeader, type), msg.type);
        memcpy(raw_buf + NET_HEADER_SIZE, msg.value.data(), vlen);
        // The reserved zeros before a type make one run block of their own.
        if (!msg.type.empty() && msg.type[0] != '\0') {
            constexpr size_t reserved = offsetof(NetHostHeader, type);
            static_assert(reserved >= 2 && reserved <= 127, "the reserved zeros are one run block");
            packed_buf[0] = static_cast<uint8_t>(128 + reserved);
            packed_buf[1] = 0;
            i = reserved;
            o = 2;
        }
        o = pack_any(raw_buf, n, i, o);
    } else {  // too long for the wire: only the cut matters, and it is rare
        std::string raw(NET_HEADER_SIZE, '\0');
        net_header_field(&raw[offsetof(NetHostHeader, type)], msg.type);
        raw += msg.value;
        o = pack_copy(reinterpret_cast<const uint8_t*>(raw.data()), n, i);
    }
    int packed_cut = 0;
    out.assign(reinterpret_cast<const char*>(packed_buf), pack_end(o, i >= n, &packed_cut));
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
