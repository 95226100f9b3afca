// zentar_collide: push-apart of colliding items, largest-neighbour tracking
// and the impulse of physics items.
//
// Thousands of units can be alive, so a pass partitions the items along x
// and y at the middle of their box and only tests pairs inside groups of at
// most 32. A group too dense to split is treated by a random window of 32,
// so a cluster relaxes over several steps instead of all at once.
//
// Who gives way to whom: A gives way to B when A's yield mask shares a bit
// with B's group, or B's group equals A's yield id.
//
// The outcome of a pass is fixed to the bit: replays and the host/client
// lockstep compare worlds byte for byte. Every speed-up below keeps the
// same float operations in the same order (or, where noted, operations
// that round the very same real values) and the same rand() calls.
#include "world/zentar.h"
#include "world/zentar_scratch.h"

#include <cmath>    // sqrt, isfinite
#include <cstdint>
#include <cstdlib>  // rand
#include <cstring>  // memmove
#if defined(__SSE2__)
#include <emmintrin.h>  // four pair tests at a time
#endif
// Eight and sixteen at a time where the processor has AVX2 or AVX-512
// (chosen at run time; GCC and clang on x86-64).
#if defined(__x86_64__) && defined(__GNUC__)
#define ZT_COLLIDE_WIDE 1
#include <immintrin.h>
#if defined(__clang__)
#pragma clang fp contract(off)  // see _collide_pairs_avx2
#endif
#else
#define ZT_COLLIDE_WIDE 0
#endif

// ---- limits ------------------------------------------------------------------------

enum {
    ZT_SPLIT = 33,  // smallest group worth splitting
    // Splits nest at most this deep. Matches nest 12 to 16 deep where their
    // swarms are thickest; a map a hundred times as wide, about 30.
    ZT_SPLIT_DEPTH = 48,
};
// Ids the splits of one pass may partition in all, about five times what
// 4,000 units bunched right after their launch take (54,000). An item that
// straddles a middle line goes to both halves, so huge circles (a mod's or
// a hostile host's numbers) would otherwise double the work at every level
// and a step would never end. Past either limit, groups are resolved as
// they are. Both are the same for every input.
constexpr int64_t ZT_SPLIT_WORK = int64_t{16} * ZT_CIDS;

// ---- internal ----------------------------------------------------------------------

static bool _collide_slot(int n) { return n >= 1 && n < ZT_ITEMS; }

// A copy takes the copy it meets as its neighbour when it holds none, or
// when the new one's radius is strictly larger than the held one's (the
// first of equal neighbours stays). Radii take part as ranks, whole numbers
// that compare as the radii do: one comparison of two ranks is the whole
// test. Zeros of either sign are one rank; a radius that is not a number
// is never larger than anything, so it ranks lowest met and highest held;
// holding nothing ranks below everything.
enum : int32_t { ZT_RANK_NONE = INT32_MIN, ZT_RANK_NAN_MET = INT32_MIN + 1, ZT_RANK_NAN_HELD = INT32_MAX };

// A radius's rank as held; the rank as met differs only for a radius that
// is not a number (see _collide_gather).
static inline int32_t _collide_rank(float r) {
    r += 0.0f;  // -0 becomes +0
    int32_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    int32_t rank = bits >= 0 ? bits : bits ^ 0x7fffffff;  // negatives count down
    bool nan = (bits & 0x7fffffff) > 0x7f800000;
    return nan ? ZT_RANK_NAN_HELD : rank;
}


static void _collide_box_copy(CollideScratch& P, const Item& it, int n) {
    for (int axis = 0; axis < 2; axis++) {
        P.edges[axis][n][0] = it.collide_box[axis];
        P.edges[axis][n][1] = -it.collide_box[axis + 2];
    }
}

static_assert(sizeof(CollideRow) == 32 && offsetof(Item, position_y) == offsetof(Item, position_x) + 4 &&
                  offsetof(Item, collide_r) == offsetof(Item, position_x) + 8 &&
                  offsetof(Item, collide_mass) == offsetof(Item, position_x) + 12 &&
                  offsetof(Item, collide_target) == offsetof(Item, position_x) + 16 &&
                  offsetof(Item, collide_group) == offsetof(Item, position_x) + 20 &&
                  offsetof(Item, collide_yield_mask) == offsetof(Item, position_x) + 24 &&
                  offsetof(Item, collide_yield_id) == offsetof(Item, position_x) + 28,
              "a row is the record's bytes from position_x on");

static void _collide_row_load(CollideScratch& P, const Item& it, int n) {
    std::memcpy(&P.rows[n], &it.position_x, sizeof(CollideRow));
}

// Only positions and neighbours change in a pass.
static void _collide_row_store(const CollideScratch& P, Item& it, int n) {
    const CollideRow& row = P.rows[n];
    it.position_x = row.x;
    it.position_y = row.y;
    it.collide_target = row.target;
}

// Items that nearly coincide are pushed along a random vector, components in [-1, 1).
static void _collide_random_dir(float& dx, float& dy, float& dist) {
    dx = static_cast<float>((rand() / 2147483648.0 * 200.0 - 100.0) / 100.0);
    dy = static_cast<float>((rand() / 2147483648.0 * 200.0 - 100.0) / 100.0);
    dist = 1.0f;
}

// Mass-weighted centre and push factor of a pair; mods make collidable
// items with mass 0, which are treated as equals.
struct CollideMasses {
    float ma, mb, m;
};
static CollideMasses _collide_masses(float ma, float mb) {
    float m = ma + mb;
    if (!(m > 0.0f) || !std::isfinite(m)) return {1.0f, 1.0f, 2.0f};
    return {ma, mb, m};
}

// Move a and/or b about their mass centre so that they end R apart (along
// d = b - a of length dist). Both use the centre from before either moved.
static void _collide_push(float& ax, float& ay, float& bx, float& by, CollideMasses w, float dx, float dy,
                          float dist, float R, bool a_moves, bool b_moves) {
    float ma = w.ma, mb = w.mb, m = w.m;
    float cx = (ax * ma + bx * mb) / m;
    float cy = (ay * ma + by * mb) / m;
    float k = R / (dist * m);
    if (a_moves) {
        ax = cx - mb * k * dx;
        ay = cy - mb * k * dy;
    }
    if (b_moves) {
        bx = cx + ma * k * dx;
        by = cy + ma * k * dy;
    }
}

// t when c holds, else f, chosen by masking the bits rather than by a branch.
static inline int32_t _collide_pick(bool c, int32_t t, int32_t f) {
    int32_t m = -static_cast<int32_t>(c);
    return (t & m) | (f & ~m);
}

// A neighbour as a copy holds it: the rank of its radius in the high half,
// its slot in the low one.
static inline int64_t _collide_held(int32_t rank, int32_t slot) {
    return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(rank)) << 32 | static_cast<uint32_t>(slot));
}

// Whether copy a of a group gives way to copy b.
static inline bool _collide_gives_way(const CollideGroup& g, int a, int b) {
    return ((g.row[a].yield_mask & g.row[b].group) != 0) | (g.row[b].group == g.row[a].yield_id);
}

// Remember copy b as a's neighbour (see the ranks above). A conditional
// move: whether a larger neighbour turns up is a coin toss the branch
// predictor loses, and the optimizer would make a branch of a plain select.
static inline void _collide_note(CollideGroup& g, int a, int b) {
    int64_t held = g.held[a];
#if defined(__x86_64__) && defined(__GNUC__)
    asm("cmpl %k[held_rank], %[met]\n\tcmovg %[as], %[held]"
        : [held] "+r"(held)
        : [held_rank] "r"(held >> 32), [met] "rm"(g.met_rank[b]), [as] "rm"(g.as_held[b])
        : "cc");
    g.held[a] = held;
#else
    g.held[a] = g.met_rank[b] > static_cast<int32_t>(held >> 32) ? g.as_held[b] : held;
#endif
}

// Moves a and/or b of a touching pair about their mass centre.
__attribute__((always_inline)) inline static void _collide_group_push(CollideGroup& g, int a, int b,
                                                                     bool a_moves, bool b_moves) {
    float dx = g.x[b] - g.x[a], dy = g.y[b] - g.y[a];
    float R = g.r[a] + g.r[b];
    float dist = std::sqrt(dx * dx + dy * dy);
    if (__builtin_expect(dist < 0.001f, 0)) _collide_random_dir(dx, dy, dist);
    _collide_push(g.x[a], g.y[a], g.x[b], g.y[b], _collide_masses(g.row[a].mass, g.row[b].mass), dx, dy, dist, R,
                  a_moves, b_moves);
}

// A fresh serial for the stamps: slots stamped before no longer count as met.
static void _collide_new_serial(CollideScratch& P) {
    if (++P.serial == 0) {  // wrapped: old stamps could match again
        std::memset(P.stamp, 0, sizeof(P.stamp));
        P.serial = 1;
    }
}

// Copies the listed items. The pass's own lists name distinct real slots
// (CHECKED false); a caller's list may name anything. True when every entry
// is a distinct item, so that copy k is entry k.
template <bool CHECKED>
static bool _collide_gather(const Zentar& world, CollideScratch& P, const int* w, int n) {
    CollideGroup& g = P.group;
    int m = 0;  // copies so far
    if (CHECKED) _collide_new_serial(P);
    bool plain = true;
    for (int k = 0; k < n; k++) {
        int id = w[k];
        if (CHECKED) {
            if (!_collide_slot(id)) {
                g.loc[k] = -1;
                plain = false;
                continue;
            }
            if (P.stamp[id] == P.serial) {
                g.loc[k] = P.copy_of[id];
                plain = false;
                continue;
            }
            P.stamp[id] = P.serial;
            P.copy_of[id] = static_cast<uint8_t>(m);
        }
        int c = m++;
        g.loc[k] = c;
        const CollideRow& row = P.rows[id];
        g.slot[c] = id;
#if defined(__SSE2__)
        // Two 16-byte moves; the optimizer would copy the row field by field.
        const __m128i* from = reinterpret_cast<const __m128i*>(&row);
        __m128i* to = reinterpret_cast<__m128i*>(&g.row[c]);
        _mm_storeu_si128(to, _mm_loadu_si128(from));
        _mm_storeu_si128(to + 1, _mm_loadu_si128(from + 1));
#else
        g.row[c] = row;
#endif
        g.x[c] = row.x;
        g.y[c] = row.y;
        g.r[c] = row.r;
        // The radius of the neighbour named so far, read without a branch:
        // whether there is one is a coin toss the branch predictor loses.
        int t = row.target;
        bool has = _collide_slot(t);
        int tt = _collide_pick(has, t, 0);  // items[0] is never written
        int32_t rank = tt < P.radius_top ? P.rank[tt] : _collide_rank(world.items[tt].collide_r);
        g.held[c] = _collide_held(_collide_pick(has, rank, static_cast<int32_t>(ZT_RANK_NONE)), t);
        int32_t own = CHECKED ? _collide_rank(row.r) : P.rank[id];
        g.as_held[c] = _collide_held(own, id);
        g.met_rank[c] = own == ZT_RANK_NAN_HELD ? static_cast<int32_t>(ZT_RANK_NAN_MET) : own;
        g.unit_mass[c] = (row.mass == 1.0f) & (row.r >= 0x1p-126f);
    }
    g.m = m;
    return plain;
}

// ---- touching tests, by instruction set ------------------------------------------------
//
// Bits of the copies from `from` on that touch a copy standing at (xi, yi)
// with radius ri (or whose distance is not a number, which counts as
// touching too); bit j for copy j, and bits at or past the group's count
// mean nothing. Each takes `lanes` vectors from `from` on, whatever from
// is: the group's count fixes that number, so the loop's end is always
// predicted (a loop ending at the count would be mispredicted on nearly
// every call). The loads start at `from` itself because the copies just
// before it may have been stored a moment ago by a push, and a wide load
// over a fresh narrow store waits for the store to land.
//
// Every lane makes the same IEEE single operations as the scalar test, in
// the same order, so the wider sets give the very same bits. SSE2 is the
// x86-64 baseline; AVX2 and AVX-512 are used where the processor has them.

#if defined(__SSE2__)
struct CollideScanBase {
    static constexpr int WIDTH = 4;
    static int lanes(int n) { return (n + 2) / 4; }  // covers copies 1 .. n-1
    __attribute__((always_inline)) static uint32_t touching(const CollideGroup& g, float xi, float yi, float ri,
                                                           int from, int lanes) {
        uint32_t mask = 0;
        __m128 ax = _mm_set1_ps(xi), ay = _mm_set1_ps(yi), ra = _mm_set1_ps(ri);
#pragma GCC unroll 8
        for (int k = 0; k < lanes; k++) {
            int j = from + 4 * k;
            __m128 dx = _mm_sub_ps(_mm_loadu_ps(g.x + j), ax);
            __m128 dy = _mm_sub_ps(_mm_loadu_ps(g.y + j), ay);
            __m128 R = _mm_add_ps(ra, _mm_loadu_ps(g.r + j));
            __m128 d2 = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
            uint64_t bits = static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpngt_ps(d2, _mm_mul_ps(R, R))));
            mask |= static_cast<uint32_t>(bits << j);  // j may pass 31: those bits are past n anyway
        }
        return mask;
    }
};
#else
struct CollideScanBase {  // without SSE2: one copy at a time
    static constexpr int WIDTH = 1;
    static int lanes(int n) { return n - 1; }
    static uint32_t touching(const CollideGroup& g, float xi, float yi, float ri, int from, int lanes) {
        uint32_t mask = 0;
        for (int j = from; j < from + lanes && j < ZT_WINDOW; j++) {
            float dx = g.x[j] - xi, dy = g.y[j] - yi;
            float R = ri + g.r[j];
            mask |= static_cast<uint32_t>(!(dx * dx + dy * dy > R * R)) << j;
        }
        return mask;
    }
};
#endif

#if ZT_COLLIDE_WIDE
struct CollideScanAvx2 {
    static constexpr int WIDTH = 8;
    static int lanes(int n) { return (n + 6) / 8; }
    __attribute__((target("avx2"))) static inline uint32_t touching(const CollideGroup& g, float xi, float yi,
                                                                    float ri, int from, int lanes) {
        uint32_t mask = 0;
        __m256 ax = _mm256_set1_ps(xi), ay = _mm256_set1_ps(yi), ra = _mm256_set1_ps(ri);
#pragma GCC unroll 8
        for (int k = 0; k < lanes; k++) {
            int j = from + 8 * k;
            __m256 dx = _mm256_sub_ps(_mm256_loadu_ps(g.x + j), ax);
            __m256 dy = _mm256_sub_ps(_mm256_loadu_ps(g.y + j), ay);
            __m256 R = _mm256_add_ps(ra, _mm256_loadu_ps(g.r + j));
            __m256 d2 = _mm256_add_ps(_mm256_mul_ps(dx, dx), _mm256_mul_ps(dy, dy));
            uint64_t bits =
                static_cast<uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(d2, _mm256_mul_ps(R, R), _CMP_NGT_UQ)));
            mask |= static_cast<uint32_t>(bits << j);
        }
        return mask;
    }
};

struct CollideScanAvx512 {
    static constexpr int WIDTH = 16;
    static int lanes(int n) { return (n + 14) / 16; }
    __attribute__((target("avx512f"))) static inline uint32_t touching(const CollideGroup& g, float xi, float yi,
                                                                       float ri, int from, int lanes) {
        uint32_t mask = 0;
        __m512 ax = _mm512_set1_ps(xi), ay = _mm512_set1_ps(yi), ra = _mm512_set1_ps(ri);
#pragma GCC unroll 8
        for (int k = 0; k < lanes; k++) {
            int j = from + 16 * k;
            __m512 dx = _mm512_sub_ps(_mm512_loadu_ps(g.x + j), ax);
            __m512 dy = _mm512_sub_ps(_mm512_loadu_ps(g.y + j), ay);
            __m512 R = _mm512_add_ps(ra, _mm512_loadu_ps(g.r + j));
            __m512 d2 = _mm512_add_ps(_mm512_mul_ps(dx, dx), _mm512_mul_ps(dy, dy));
            uint64_t bits = _mm512_cmp_ps_mask(d2, _mm512_mul_ps(R, R), _CMP_NGT_UQ);
            mask |= static_cast<uint32_t>(bits << j);
        }
        return mask;
    }
};
#endif

// The value unchanged, but opaque to the optimizer (see its use).
static inline uint32_t _collide_opaque(uint32_t v) {
    asm("" : "+r"(v));
    return v;
}

// The pairs of a group whose entries are its copies, as _collide_pairs
// below, with A's position kept in registers along its row. Only a push
// moves anything, so the pairs of A that touch are found together, and
// tested again after a push that moved A (one that moved only B changes no
// later test of A's). The push is _collide_group_push written out, with
// the same operations in the same order.
//
// L is the number of vectors a test takes in rows i .. end-1 (see
// _collide_phases): fixed for those rows, so each test is unrolled and has
// no loop.
template <class Scan, int L>
__attribute__((always_inline)) inline static void _collide_rows(CollideGroup& g, uint32_t below_n, int& row,
                                                               int end) {
    const int lanes = L;
    for (int i = row; i < end; i++) {
        float xi = g.x[i], yi = g.y[i];
        const float ri = g.r[i], mi = g.row[i].mass;
        const bool unit_i = g.unit_mass[i];
        // The pushes of a row are a chain: each waits for the one before,
        // and then for the tests of the rest of the row against where A
        // now stands, before it knows which pair comes next. Those tests
        // rarely change the answer, so the loop goes on with the answer
        // it already has and only checks the new one, as a branch that is
        // almost always predicted: the next push then need not wait for the
        // tests. The optimizer must not see through the check (as `mask =
        // fresh` or a conditional move the wait would come back), hence
        // the opaque value and the empty asm statement.
        uint32_t mask = Scan::touching(g, xi, yi, ri, i + 1, lanes) & below_n;
        while (mask) {
            int j = __builtin_ctz(mask);
            mask &= mask - 1;
            _collide_note(g, i, j);
            _collide_note(g, j, i);
            bool a_moves = _collide_gives_way(g, i, j), b_moves = _collide_gives_way(g, j, i);
            if (!(a_moves | b_moves)) continue;
            float xj = g.x[j], yj = g.y[j];
            float dx = xj - xi, dy = yj - yi;
            float R = ri + g.r[j];
            float dist = std::sqrt(dx * dx + dy * dy);
            if (__builtin_expect(dist < 0.001f, 0)) _collide_random_dir(dx, dy, dist);
            if (unit_i & g.unit_mass[j]) {
                // Two items of mass 1, the usual pair. The sums below give
                // the very same bits in fewer steps along the chain of the
                // row, which waits on every step: a product with 1 is its
                // factor, halving rounds as dividing by 2 does, dist * 2
                // is exact (dist is at least 0.001 here, or infinite), and
                // so is R * 0.5 with both radii at least 2^-126, which
                // makes R * 0.5 / dist the rounding of R / (dist * 2).
                float cx = (xi + xj) * 0.5f;
                float cy = (yi + yj) * 0.5f;
                float k = R * 0.5f / dist;
                if (b_moves) {
                    g.x[j] = cx + k * dx;
                    g.y[j] = cy + k * dy;
                }
                if (!a_moves) continue;
                xi = cx - k * dx;
                yi = cy - k * dy;
            } else {
                CollideMasses w = _collide_masses(mi, g.row[j].mass);
                float cx = (xi * w.ma + xj * w.mb) / w.m;
                float cy = (yi * w.ma + yj * w.mb) / w.m;
                float k = R / (dist * w.m);
                if (b_moves) {
                    g.x[j] = cx + w.ma * k * dx;
                    g.y[j] = cy + w.ma * k * dy;
                }
                if (!a_moves) continue;
                xi = cx - w.mb * k * dx;
                yi = cy - w.mb * k * dy;
            }
            g.x[i] = xi;
            g.y[i] = yi;
            uint32_t fresh = Scan::touching(g, xi, yi, ri, j + 1, lanes) & below_n;
            if (__builtin_expect(_collide_opaque(fresh ^ mask) != 0, 0)) {
                asm volatile("");  // keeps this a branch
                mask = fresh;
            }
        }
    }
    if (row < end) row = end;
}

// Row i tests the copies after it, n - 1 - i of them, so the rows need
// fewer vectors as they go: the rows that need L are done with L, then
// those that need fewer with fewer. The last row has nothing left to test.
template <class Scan, int L>
__attribute__((always_inline)) inline static void _collide_phases(CollideGroup& g, int n, uint32_t below_n,
                                                                 int& row) {
    if constexpr (Scan::WIDTH == 1) {
        _collide_rows<Scan, L>(g, below_n, row, n - 1);  // one copy a vector: no phases
    } else {
        _collide_rows<Scan, L>(g, below_n, row, n - 1 - (L - 1) * Scan::WIDTH);
        if constexpr (L > 1) _collide_phases<Scan, L - 1>(g, n, below_n, row);
    }
}

// LANES is the number of vectors the first row's test takes for a group of
// n (Scan::lanes).
template <class Scan, int LANES>
__attribute__((always_inline)) inline static void _collide_pairs_plain(CollideGroup& g, int n) {
    const uint32_t below_n = n >= 32 ? ~0u : (1u << n) - 1;
    int row = 0;
    _collide_phases<Scan, LANES>(g, n, below_n, row);
}

// The wider sets, each a whole copy of the loop compiled for it, with the
// tests inlined (flatten). Those sets have FMA instructions: contracting
// a * b + c into one would round once instead of twice and change the
// world, so contraction stays off here whatever the build's default.
using CollidePairsFn = void (*)(CollideGroup&, int);

// The loop for the group's number of vectors, 1 .. MAX (ZT_WINDOW copies).
template <class Scan, int L, int MAX>
__attribute__((always_inline)) inline static void _collide_pairs_by_lanes(CollideGroup& g, int n, int lanes) {
    if constexpr (L < MAX) {
        if (lanes > L) {
            _collide_pairs_by_lanes<Scan, L + 1, MAX>(g, n, lanes);
            return;
        }
    }
    _collide_pairs_plain<Scan, L>(g, n);
}

#if defined(__SSE2__)
static void _collide_pairs_base(CollideGroup& g, int n) {
    _collide_pairs_by_lanes<CollideScanBase, 1, (ZT_WINDOW + 2) / 4>(g, n, CollideScanBase::lanes(n));
}
#else
static void _collide_pairs_base(CollideGroup& g, int n) {
    _collide_pairs_by_lanes<CollideScanBase, 1, ZT_WINDOW - 1>(g, n, CollideScanBase::lanes(n));
}
#endif
#if ZT_COLLIDE_WIDE
// The wide scans must round as the base one does: no fused multiply-adds.
// gcc takes that per function; clang has no such attribute and is built
// with -ffp-contract=off instead.
#if defined(__clang__)
#define ZT_NO_FMA
#else
#define ZT_NO_FMA optimize("fp-contract=off"),
#endif
__attribute__((target("avx2"), ZT_NO_FMA flatten)) static void _collide_pairs_avx2(
    CollideGroup& g, int n) {
    _collide_pairs_by_lanes<CollideScanAvx2, 1, (ZT_WINDOW + 6) / 8>(g, n, CollideScanAvx2::lanes(n));
}
__attribute__((target("avx512f"), ZT_NO_FMA flatten)) static void _collide_pairs_avx512(
    CollideGroup& g, int n) {
    _collide_pairs_by_lanes<CollideScanAvx512, 1, (ZT_WINDOW + 14) / 16>(g, n, CollideScanAvx512::lanes(n));
}
#endif

// The widest instructions this processor runs, found at the first pass,
// unless a test forced narrower ones (collide_force_width). Process-wide:
// it describes the processor, not a world.
static int collide_wide;  // 0 until picked
static CollidePairsFn collide_pairs_plain = _collide_pairs_base;

static int _collide_widest() {
    int widest = ZT_COLLIDE_BASE;
#if ZT_COLLIDE_WIDE
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        widest = ZT_COLLIDE_AVX512;
    else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))
        widest = ZT_COLLIDE_AVX2;
#endif
    return widest;
}

static void _collide_use(int width) {
    collide_wide = width;
    collide_pairs_plain = _collide_pairs_base;
#if ZT_COLLIDE_WIDE
    if (width == ZT_COLLIDE_AVX512) collide_pairs_plain = _collide_pairs_avx512;
    if (width == ZT_COLLIDE_AVX2) collide_pairs_plain = _collide_pairs_avx2;
#endif
}

static void _collide_wide_pick() {
    if (!collide_wide) _collide_use(_collide_widest());
}

#if ZT_COLLIDE_WIDE
// The partition loop of a split (see _collide_split), sixteen ids at a
// time: the same comparisons, and each part keeps the order of the list.
// The stores are masked to the ids each part gains, so nothing is written
// past what the scalar loop writes.
__attribute__((target("avx512f"))) static void _collide_partition_avx512(int* ids, int count,
                                                                         const float (*edges)[2], float mid,
                                                                         bool far_front, int& front, int& back) {
    int* behind = ids + count;
    // The scalar loop stores every id behind, keeping those it counts: the
    // last id, when not kept, is left just past the back part. Scratch, but
    // a caller's list looks the same either way.
    int last = count > 0 ? ids[count - 1] : 0;
    bool last_far = count > 0 && edges[last][1] < -mid;
    bool last_behind = far_front ? ((count > 0 && edges[last][0] < mid) || !last_far) : last_far;
    const __m512 m = _mm512_set1_ps(mid), neg_m = _mm512_set1_ps(-mid);
    for (int i = 0; i < count; i += 16) {
        __mmask16 live = count - i >= 16 ? 0xFFFF : static_cast<__mmask16>((1u << (count - i)) - 1);
        __m512i id = _mm512_maskz_loadu_epi32(live, ids + i);
        __m512 neg_h = _mm512_mask_i32gather_ps(_mm512_setzero_ps(), live, id, &edges[0][1], 8);
        __m512 l = _mm512_mask_i32gather_ps(_mm512_setzero_ps(), live, id, &edges[0][0], 8);
        __mmask16 is_far = _mm512_mask_cmp_ps_mask(live, neg_h, neg_m, _CMP_LT_OQ);  // high edge > mid
        __mmask16 is_near = (_mm512_mask_cmp_ps_mask(live, l, m, _CMP_LT_OQ) | ~is_far) & live;
        __mmask16 to_front = far_front ? is_far : is_near, to_back = far_front ? is_near : is_far;
        int nf = __builtin_popcount(to_front), nb = __builtin_popcount(to_back);
        // front + nf <= i + 16: only ids already loaded are overwritten.
        _mm512_mask_storeu_epi32(ids + front, static_cast<__mmask16>((1u << nf) - 1),
                                 _mm512_maskz_compress_epi32(to_front, id));
        _mm512_mask_storeu_epi32(behind + back, static_cast<__mmask16>((1u << nb) - 1),
                                 _mm512_maskz_compress_epi32(to_back, id));
        front += nf;
        back += nb;
    }
    if (count > 0 && !last_behind) behind[back] = last;
}
#endif

// The partition loop of a split (see _collide_split) eight ids at a time,
// for the pass's own lists: the same comparisons, and each part keeps the
// order of the list. Whole vectors are stored, so up to seven ids past
// each part are scratch: at the front those are ids already loaded, and
// behind they stay below twice the count, which the room covers. The ids
// left over after the last whole eight go one by one.
struct CollidePackTable {
    uint64_t lanes[256];  // the set bits of the index, as lane numbers in order, a byte each
    constexpr CollidePackTable() : lanes() {
        for (int m = 0; m < 256; m++) {
            uint64_t v = 0;
            int k = 0;
            for (int b = 0; b < 8; b++)
                if (m >> b & 1) v |= static_cast<uint64_t>(b) << (8 * k++);
            lanes[m] = v;
        }
    }
};
static constexpr CollidePackTable collide_pack;

__attribute__((target("avx2,popcnt"))) static int _collide_partition_avx2(int* ids, int count,
                                                                         const float (*edges)[2], float mid,
                                                                         bool far_front, int& front, int& back) {
    int* behind = ids + count;
    const __m256 m = _mm256_set1_ps(mid), neg_m = _mm256_set1_ps(-mid);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const int* w = ids + i;
        // Ids 0, 1, 4, 5 and 2, 3, 6, 7, each with its (low, -high).
        __m256 a = _mm256_castps128_ps256(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(edges[w[0]]))));
        __m256 b = _mm256_castps128_ps256(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(edges[w[2]]))));
        __m128 a1 = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(edges[w[4]])));
        __m128 b1 = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(edges[w[6]])));
        a = _mm256_castpd_ps(_mm256_castpd128_pd256(
            _mm_loadh_pd(_mm256_castpd256_pd128(_mm256_castps_pd(a)), reinterpret_cast<const double*>(edges[w[1]]))));
        b = _mm256_castpd_ps(_mm256_castpd128_pd256(
            _mm_loadh_pd(_mm256_castpd256_pd128(_mm256_castps_pd(b)), reinterpret_cast<const double*>(edges[w[3]]))));
        a1 = _mm_castpd_ps(_mm_loadh_pd(_mm_castps_pd(a1), reinterpret_cast<const double*>(edges[w[5]])));
        b1 = _mm_castpd_ps(_mm_loadh_pd(_mm_castps_pd(b1), reinterpret_cast<const double*>(edges[w[7]])));
        a = _mm256_insertf128_ps(a, a1, 1);
        b = _mm256_insertf128_ps(b, b1, 1);
        __m256 lo = _mm256_shuffle_ps(a, b, 0x88), neg_hi = _mm256_shuffle_ps(a, b, 0xDD);  // ids 0..7
        unsigned is_far = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(neg_hi, neg_m, _CMP_LT_OQ)));
        unsigned is_near =
            (static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(lo, m, _CMP_LT_OQ))) | ~is_far) & 0xFFu;
        unsigned to_front = far_front ? is_far : is_near, to_back = far_front ? is_near : is_far;
        __m256i id = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w));
        __m256i pf = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&collide_pack.lanes[to_front])));
        __m256i pb = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&collide_pack.lanes[to_back])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ids + front), _mm256_permutevar8x32_epi32(id, pf));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(behind + back), _mm256_permutevar8x32_epi32(id, pb));
        front += __builtin_popcount(to_front);
        back += __builtin_popcount(to_back);
    }
    return i;
}

// Every pair of the group, A before B in list order, each tested on the
// positions left by the pairs before it.
template <bool CHECKED>
static void _collide_pairs(Zentar& world, CollideScratch& P, const int* w, int n) {
    CollideGroup& g = P.group;
    if (_collide_gather<CHECKED>(world, P, w, n)) {
        collide_pairs_plain(g, n);
    } else {
        for (int i = 0; i < n; i++) {
            int a = g.loc[i];
            if (a < 0) continue;
            for (int j = i + 1; j < n; j++) {
                int b = g.loc[j];
                if (b < 0) continue;
                float dx = g.x[b] - g.x[a], dy = g.y[b] - g.y[a];
                float R = g.r[a] + g.r[b];
                if (dx * dx + dy * dy > R * R) continue;
                _collide_note(g, a, b);
                _collide_note(g, b, a);
                bool a_moves = _collide_gives_way(g, a, b), b_moves = _collide_gives_way(g, b, a);
                if (a_moves || b_moves) _collide_group_push(g, a, b, a_moves, b_moves);
            }
        }
    }
    for (int c = 0; c < g.m; c++) {
        CollideRow& row = P.rows[g.slot[c]];
        row.x = g.x[c];
        row.y = g.y[c];
        row.target = static_cast<int32_t>(g.held[c]);
    }
}

// A group: all pairs when small, else a random window of 32 consecutive ids.
// The lists of collide_loop name distinct real slots; the lists callers
// hand to collide_do and the splits may name anything, and are checked
// entry by entry.
static void _collide_leaf(Zentar& world, CollideScratch& P, int* ids, int count) {
    if (count < 2) return;
    int start = 0, n = count;
    if (count >= ZT_SPLIT) {
        start = rand() % (count - ZT_WINDOW);
        n = ZT_WINDOW;
    }
    if (P.checked)
        _collide_pairs<true>(world, P, ids + start, n);
    else
        _collide_pairs<false>(world, P, ids + start, n);
}

// Splits: along x (Y false) or y; FAR_FRONT puts the far part (box max
// beyond mid) at the front of the list, else the near part (box min below
// mid). The four of them are the x0, x1, y0 and y1 splits.
template <bool Y, bool FAR_FRONT>
static void _collide_split(Zentar& world, CollideScratch& P, int* ids, int count, int room, float x0, float y0,
                           float x1, float y1, int depth);

// Split a group when it is big, has room and spans a box of 4 or more, and
// the splits have depth and work left; otherwise resolve it as it is.
template <bool Y, bool FAR_FRONT>
static void _collide_enter(Zentar& world, CollideScratch& P, int* ids, int count, int room, float x0, float y0,
                           float x1, float y1, int depth) {
    if (count < 2) return;
    if (count >= ZT_SPLIT && room >= 2 * count && (x1 - x0 >= 4.0f || y1 - y0 >= 4.0f))
        _collide_split<Y, FAR_FRONT>(world, P, ids, count, room, x0, y0, x1, y1, depth);
    else
        _collide_leaf(world, P, ids, count);
}

// The part written behind is resolved first, then the front one; far parts
// continue with the other axis' "0" split, near parts with its "1".
template <bool Y, bool FAR_FRONT>
static void _collide_split(Zentar& world, CollideScratch& P, int* ids, int count, int room, float x0, float y0,
                           float x1, float y1, int depth) {
    if (count < 2) return;
    if (count < ZT_SPLIT || room < 2 * count || !(x1 - x0 >= 4.0f || y1 - y0 >= 4.0f) ||
        depth >= ZT_SPLIT_DEPTH || P.split_budget < count) {
        _collide_leaf(world, P, ids, count);
        return;
    }
    float lo_edge = Y ? y0 : x0, hi_edge = Y ? y1 : x1;
    float mid = (lo_edge + hi_edge) / 2.0f;
    // A wide box whose middle float equals an edge would never shrink.
    if (hi_edge - lo_edge >= 4.0f && !(mid > lo_edge && mid < hi_edge)) {
        _collide_leaf(world, P, ids, count);
        return;
    }
    P.split_budget -= count;

    int front = 0, back = 0;
    const float(*edges)[2] = P.edges[Y ? 1 : 0];
    int* behind = ids + count;
#if ZT_COLLIDE_WIDE
    if (collide_wide == ZT_COLLIDE_AVX512) {
        _collide_partition_avx512(ids, count, edges, mid, FAR_FRONT, front, back);
    } else
#endif
    {
        int i = 0;
#if ZT_COLLIDE_WIDE
        if (collide_wide == ZT_COLLIDE_AVX2 && !P.checked)
            i = _collide_partition_avx2(ids, count, edges, mid, FAR_FRONT, front, back);
#endif
#if defined(__SSE2__)
        const __m128 m = _mm_setr_ps(mid, -mid, 0.0f, 0.0f);
#endif
        for (; i < count; i++) {
            int id = ids[i];
            // Far: the high edge lies beyond mid. Near: the low edge lies
            // before it, or the box is not far (a point on mid lands near).
#if defined(__SSE2__)
            __m128 e = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(edges[id])));
            int below = _mm_movemask_ps(_mm_cmplt_ps(e, m));  // 1: low < mid, 2: -high < -mid
            bool is_far = below >> 1;
            bool is_near = below != 2;
#else
            bool is_far = edges[id][1] < -mid;
            bool is_near = (edges[id][0] < mid) | !is_far;
#endif
            ids[front] = id;  // front <= i: reads stay ahead
            front += FAR_FRONT ? is_far : is_near;
            behind[back] = id;
            back += FAR_FRONT ? is_near : is_far;
        }
    }
    std::memmove(ids + front, behind, static_cast<size_t>(back) * sizeof(int));
    int left = room - front;

    float fx0 = Y ? x0 : mid, fy0 = Y ? mid : y0;  // far box
    float nx1 = Y ? x1 : mid, ny1 = Y ? mid : y1;  // near box
    if (FAR_FRONT) {
        _collide_enter<!Y, true>(world, P, ids + front, back, left, x0, y0, nx1, ny1, depth + 1);
        _collide_enter<!Y, false>(world, P, ids, front, left, fx0, fy0, x1, y1, depth + 1);
    } else {
        _collide_enter<!Y, false>(world, P, ids + front, back, left, fx0, fy0, x1, y1, depth + 1);
        _collide_enter<!Y, true>(world, P, ids, front, left, x0, y0, nx1, ny1, depth + 1);
    }
}

using SplitFn = void (*)(Zentar&, CollideScratch&, int*, int, int, float, float, float, float, int);

// Loads the rows of a caller's list (radii of neighbours from the records)
// and lists its distinct real slots, for the store at the end; returns
// their number.
static int _collide_list_load(const Zentar& world, CollideScratch& P, const int* ids, int count) {
    _collide_new_serial(P);
    P.radius_top = 0;
    P.checked = 1;
    P.split_budget = ZT_SPLIT_WORK;
    int m = 0;
    for (int i = 0; i < count; i++) {
        int id = ids[i];
        if (!_collide_slot(id) || P.stamp[id] == P.serial) continue;
        P.stamp[id] = P.serial;
        _collide_row_load(P, world.items[id], id);
        P.listed[m++] = id;
    }
    return m;
}

static void _collide_list_store(Zentar& world, const CollideScratch& P, int m) {
    for (int k = 0; k < m; k++) _collide_row_store(P, world.items[P.listed[k]], P.listed[k]);
}

// A list handed in from outside may name any slot; only real slots are
// partitioned by their boxes.
static void _collide_split_list(SplitFn split, Zentar& world, int* ids, int count, int room, float x0,
                                float y0, float x1, float y1) {
    _collide_wide_pick();
    CollideScratch& P = zt_scratch(world).collide;
    for (int i = 0; i < count; i++) {
        if (_collide_slot(ids[i])) _collide_box_copy(P, world.items[ids[i]], ids[i]);
        else ids[i] = 0;  // partitioned, never paired
    }
    int m = _collide_list_load(world, P, ids, count);
    split(world, P, ids, count, room, x0, y0, x1, y1, 0);
    _collide_list_store(world, P, m);
}

// ---- public ----------------------------------------------------------------------------

void collide_split_x0(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split_list((_collide_split<false, false>), world, ids, count, room, x0, y0, x1, y1);
}

void collide_split_x1(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split_list((_collide_split<false, true>), world, ids, count, room, x0, y0, x1, y1);
}

void collide_split_y0(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split_list((_collide_split<true, false>), world, ids, count, room, x0, y0, x1, y1);
}

void collide_split_y1(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split_list((_collide_split<true, true>), world, ids, count, room, x0, y0, x1, y1);
}

void collide_do(Zentar& world, int* ids, int count) {
    _collide_wide_pick();
    CollideScratch& P = zt_scratch(world).collide;
    int m = _collide_list_load(world, P, ids, count);
    _collide_leaf(world, P, ids, count);
    _collide_list_store(world, P, m);
}

void collide_loop(Zentar& world) {
    _collide_wide_pick();
    int top = world.top < ZT_ITEMS ? world.top : ZT_ITEMS;
    if (top < 2) return;
    CollideScratch& P = zt_scratch(world).collide;
    // The partition scrambles ids; the slots to store back are listed
    // beyond the room it may use.
    int* ids = P.cids;
    int count = 0;
    float bx0 = 99999.0f, by0 = 99999.0f, bx1 = -99999.0f, by1 = -99999.0f;
    P.radius_top = top;
    P.checked = 0;
    P.split_budget = ZT_SPLIT_WORK;
    P.rank[0] = 0;  // slot 0 is never anyone's neighbour
    P.serial = UINT32_MAX;  // the ranks overwrite the stamps: the next caller's list clears them
#if defined(__SSE2__)
    // Four at a time: the box, whether it is finite, its edges and the
    // overall box, with the same operations as the loop below.
    __m128 lows = _mm_set1_ps(99999.0f), highs = _mm_set1_ps(-99999.0f);
    const __m128 sign = _mm_set1_ps(-0.0f), zero = _mm_setzero_ps();
    for (int n = 1; n < top; n++) {
        Item& it = world.items[n];
        P.rank[n] = _collide_rank(it.collide_r);
        if (!it.in_use || !it.has_collide) continue;
        __m128 p = _mm_loadu_ps(&it.position_x);  // x, y, r, mass
        __m128 r = _mm_shuffle_ps(p, p, _MM_SHUFFLE(2, 2, 2, 2));
        __m128 lo = _mm_sub_ps(p, r), hi = _mm_add_ps(p, r);
        __m128 box = _mm_movelh_ps(lo, hi);
        _mm_storeu_ps(it.collide_box, box);
        // Positions come from mods too; an infinite or NaN box could not be split.
        if (_mm_movemask_ps(_mm_cmpeq_ps(_mm_sub_ps(box, box), zero)) != 0xF) continue;
        __m128 edges = _mm_unpacklo_ps(lo, _mm_xor_ps(hi, sign));  // x0, -x1, y0, -y1
        _mm_storel_pi(reinterpret_cast<__m64*>(P.edges[0][n]), edges);
        _mm_storeh_pi(reinterpret_cast<__m64*>(P.edges[1][n]), edges);
        _collide_row_load(P, it, n);
        ids[count] = n;
        P.listed[count++] = n;
        lows = _mm_min_ps(box, lows);  // box < low ? box : low
        highs = _mm_max_ps(box, highs);
    }
    bx0 = _mm_cvtss_f32(lows);
    by0 = _mm_cvtss_f32(_mm_shuffle_ps(lows, lows, _MM_SHUFFLE(1, 1, 1, 1)));
    bx1 = _mm_cvtss_f32(_mm_shuffle_ps(highs, highs, _MM_SHUFFLE(2, 2, 2, 2)));
    by1 = _mm_cvtss_f32(_mm_shuffle_ps(highs, highs, _MM_SHUFFLE(3, 3, 3, 3)));
#else
    for (int n = 1; n < top; n++) {
        Item& it = world.items[n];
        P.rank[n] = _collide_rank(it.collide_r);
        if (!it.in_use || !it.has_collide) continue;
        float r = it.collide_r;
        float* box = it.collide_box;
        box[0] = it.position_x - r;
        box[1] = it.position_y - r;
        box[2] = it.position_x + r;
        box[3] = it.position_y + r;
        // Positions come from mods too; an infinite or NaN box could not be split.
        if (!std::isfinite(box[0]) || !std::isfinite(box[1]) || !std::isfinite(box[2]) ||
            !std::isfinite(box[3]))
            continue;
        _collide_box_copy(P, it, n);
        _collide_row_load(P, it, n);
        ids[count] = n;
        P.listed[count++] = n;
        if (box[0] < bx0) bx0 = box[0];
        if (box[1] < by0) by0 = box[1];
        if (box[2] > bx1) bx1 = box[2];
        if (box[3] > by1) by1 = box[3];
    }
#endif
    if (count < 2) return;
    if (count >= ZT_SPLIT && 2 * count <= ZT_CIDS) {
        if (by1 - by0 < 4.0f && bx1 - bx0 < 4.0f)
            _collide_leaf(world, P, ids, count);
        else
            _collide_split<false, false>(world, P, ids, count, ZT_CIDS, bx0, by0, bx1, by1, 0);
    } else {
        _collide_leaf(world, P, ids, count);
    }
    _collide_list_store(world, P, count);
}

bool collide_force_width(int width) {
    if (width == 0) {
        _collide_use(_collide_widest());
        return true;
    }
    if (width < ZT_COLLIDE_BASE || width > _collide_widest()) return false;
    _collide_use(width);
    return true;
}

int collide_width() {
    _collide_wide_pick();
    return collide_wide;
}

void zt_do_move_apart(Zentar& world, Item& a, Item& b, int anchored) {
    (void)world;
    float dx = b.position_x - a.position_x, dy = b.position_y - a.position_y;
    float R = a.collide_r + b.collide_r;
    float dist = std::sqrt(dx * dx + dy * dy);
    if (!(dist < R)) return;
    if (dist < 0.001f) _collide_random_dir(dx, dy, dist);
    if (anchored) {
        b.position_x = a.position_x + R * dx / dist;
        b.position_y = a.position_y + R * dy / dist;
    } else {
        _collide_push(a.position_x, a.position_y, b.position_x, b.position_y,
                      _collide_masses(a.collide_mass, b.collide_mass), dx, dy, dist, R, true, true);
    }
}

void zt_do_collide(Zentar& world, Item& a, Item& b) {
    float nx = a.position_x - b.position_x, ny = a.position_y - b.position_y;
    float len = std::sqrt(nx * nx + ny * ny);
    if (len > 0.0f) {  // coincident items keep the zero normal: no impulse
        nx /= len;
        ny /= len;
    }
    CollideMasses w = _collide_masses(a.collide_mass, b.collide_mass);
    float ma = w.ma, mb = w.mb, m = w.m;
    float j = 2.0f * ((a.motion_vx * nx + a.motion_vy * ny) - (b.motion_vx * nx + b.motion_vy * ny)) / m;
    a.motion_vx -= j * mb * nx;
    a.motion_vy -= j * mb * ny;
    b.motion_vx += j * ma * nx;
    b.motion_vy += j * ma * ny;
    zt_do_move_apart(world, a, b, 0);
}
