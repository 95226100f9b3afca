// zentar_unit: one ship sprite of a fleet.
//
// A unit steers toward its target planet with a limited turn rate, is pushed
// apart by the collision pass, fights the enemy unit it touches, crashes on a
// guarded enemy planet, and on arrival adds its ships to a friendly target or
// takes them off a hostile one, capturing it when the count goes below zero.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "world/zentar.h"
#include "world/zentar_scratch.h"
#include "world/zentar_sim.h"

#if defined(__SSE2__)
#include <emmintrin.h>  // the selects of the turns
#endif

static const float ZT_PI = 3.14159265358979f;

// Units of one owner bound for one target share a group word, so they push
// each other apart and nothing else of theirs. Built unsigned: with slots
// near 4095 the word needs all 32 bits.
int32_t _unit_group(int owner, int target) {
    uint32_t g = ((static_cast<uint32_t>(owner) << 12) | static_cast<uint32_t>(target)) << 8;
    return static_cast<int32_t>(g);
}

static Item* _unit_fleet(Zentar& world, const Item& unit) {
    int f = unit.unit_fleet;
    if (f < 1 || f >= ZT_ITEMS) return nullptr;
    Item& fleet = world.items[f];
    return fleet.in_use && fleet.has_fleet ? &fleet : nullptr;
}

// ---- facings, four at a time -------------------------------------------------------
//
// A pass over the units is a chain per unit: atan2f, then what depends on
// its result. The processor overlaps little of one unit's chain with the
// next one's, so in such a pass the libm calls cost several times what they
// cost back to back. A step gathers its units' facings as it passes them
// (units_rotate_add), then units_rotate_finish makes the calls back to
// back and works the facings out four at a time.

static bool _unit_same(float a, float b) {
    uint32_t ba, bb;
    std::memcpy(&ba, &a, sizeof ba);
    std::memcpy(&bb, &b, sizeof bb);
    return ba == bb;
}

// a[k] = atan2f(y[k], x[k]) for every k < count; y and x are read four at a
// time, as far as the next multiple of four.
//
// libm's atan2f takes one of a score of paths by the signs of its arguments
// and the size of |y/x|, and the processor guesses each call's path from the
// calls before. Units in flight come in runs of one path, slot by slot, but
// the facings of swarms bunched up after a launch point every way, and then
// a wrong guess costs about as much as the call. When the path changes that
// often, the calls are made path by path (a counting sort by the path each
// would take, near enough: a unit sorted to the wrong side of a bound only
// costs a wrong guess). The results are the same whatever the order.
// Sorting costs about as much as a change of path in every fourth call:
// below a change in every third call, slot order it is.
static void _unit_atan2_all(UnitScratch& U, const float* y, const float* x, float* a, int count) {
    enum { PATHS = 20 };  // four quadrants, five spans of |y/x|
    int changes = 0;
#if defined(__SSE2__)
    const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    for (int k = 0; k < count; k += 4) {
        __m128 Y = _mm_loadu_ps(y + k), X = _mm_loadu_ps(x + k);
        __m128 AY = _mm_and_ps(Y, abs_mask), AX = _mm_and_ps(X, abs_mask);
        __m128i span = _mm_setzero_si128();  // minus the bounds |y/x| reaches
        span = _mm_add_epi32(span, _mm_castps_si128(_mm_cmpge_ps(AY, _mm_mul_ps(AX, _mm_set1_ps(0.4375f)))));
        span = _mm_add_epi32(span, _mm_castps_si128(_mm_cmpge_ps(AY, _mm_mul_ps(AX, _mm_set1_ps(0.6875f)))));
        span = _mm_add_epi32(span, _mm_castps_si128(_mm_cmpge_ps(AY, _mm_mul_ps(AX, _mm_set1_ps(1.1875f)))));
        span = _mm_add_epi32(span, _mm_castps_si128(_mm_cmpge_ps(AY, _mm_mul_ps(AX, _mm_set1_ps(2.4375f)))));
        __m128i path = _mm_sub_epi32(_mm_setzero_si128(), _mm_slli_epi32(span, 2));
        path = _mm_add_epi32(path, _mm_srli_epi32(_mm_castps_si128(Y), 31));
        path = _mm_add_epi32(path, _mm_slli_epi32(_mm_srli_epi32(_mm_castps_si128(X), 31), 1));
        path = _mm_packs_epi32(path, path);
        int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(path, path));
        std::memcpy(U.call_path + k, &four, sizeof four);
    }
    // Changes of path from one call to the next, sixteen at a time.
    for (int k = 0; k + 1 < count; k += 16) {
        __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(U.call_path + k));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(U.call_path + k + 1));
        int pairs = std::min(16, count - 1 - k);
        uint32_t differ = static_cast<uint32_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(now, next))) & ((1u << pairs) - 1);
        changes += __builtin_popcount(differ);
    }
#else
    (void)U;
#endif
    if (changes * 3 <= count) {
        for (int k = 0; k < count; k++) a[k] = std::atan2(y[k], x[k]);
        return;
    }
    // Four tallies, for calls k with k % 4 = 0, 1, 2, 3, so that the counts
    // of a run of one path do not wait on each other; the calls of a path
    // then come in four groups, which changes nothing.
    int32_t start[PATHS][4] = {};
    for (int k = 0; k < count; k++) start[U.call_path[k]][k & 3]++;
    for (int p = 0, at = 0; p < PATHS; p++) {
        for (int q = 0; q < 4; q++) {
            int n = start[p][q];
            start[p][q] = at;
            at += n;
        }
    }
    for (int k = 0; k < count; k++) U.call_order[start[U.call_path[k]][k & 3]++] = static_cast<uint16_t>(k);
    for (int j = 0; j < count; j++) {
        int k = U.call_order[j];
        a[k] = std::atan2(y[k], x[k]);
    }
}

#if defined(__SSE2__)
// t where m is set, else f (m from an SSE comparison).
static inline __m128 _unit_select(__m128 m, __m128 t, __m128 f) {
    return _mm_or_ps(_mm_and_ps(m, t), _mm_andnot_ps(m, f));
}

// The facing update of four units at a time: a the angles of their
// displacements, then their turn rates, turn times, facings and facing
// counts; s the step in 1/40 s. Every lane makes the operations of the
// branches it would have taken.
static inline void _unit_face4(__m128 A, __m128 RATE, __m128 T, __m128 FACE, __m128i STEPS, __m128 S,
                               __m128& face_out, __m128& time_out) {
    const __m128 pi = _mm_set1_ps(ZT_PI), two_pi = _mm_set1_ps(2 * ZT_PI);
    const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 P = _unit_select(_mm_castsi128_ps(_mm_cmpgt_epi32(STEPS, _mm_setzero_si128())), FACE, A);
    __m128 I = _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(4.0f), RATE), S);
    P = _unit_select(_mm_cmpgt_ps(_mm_sub_ps(A, P), pi), _mm_add_ps(P, two_pi), P);
    A = _unit_select(_mm_cmpgt_ps(_mm_sub_ps(P, A), pi), _mm_add_ps(A, two_pi), A);
    __m128 up = _mm_cmpgt_ps(A, P);  // turning up counts as turning time
    __m128 F = _unit_select(up, _mm_add_ps(P, I), P);
    time_out = _unit_select(up, _mm_add_ps(T, S), T);
    F = _unit_select(_mm_cmpgt_ps(F, A), _mm_sub_ps(F, I), F);
    face_out = _unit_select(_mm_cmplt_ps(_mm_and_ps(_mm_sub_ps(A, F), abs_mask), I), A, F);
}
#endif

// Facing follows the last displacement; s is the number of 1/40-s steps.
static void _unit_face(Item& unit, float s) {
    float y = unit.position_y - unit.unit_last_y, x = unit.position_x - unit.unit_last_x;
    float a = std::atan2(y, x);
    float face;
#if defined(__SSE2__)
    __m128 F, T;
    _unit_face4(_mm_set1_ps(a), _mm_set1_ps(unit.unit_turn_rate), _mm_set1_ps(unit.unit_turn_time),
                _mm_set1_ps(unit.unit_face), _mm_set1_epi32(unit.unit_face_steps), _mm_set1_ps(s), F, T);
    face = _mm_cvtss_f32(F);
    unit.unit_turn_time = _mm_cvtss_f32(T);
#else
    float prev = unit.unit_face_steps > 0 ? unit.unit_face : a;
    float inc = 4 * unit.unit_turn_rate * s;
    if (a - prev > ZT_PI) prev += 2 * ZT_PI;
    if (prev - a > ZT_PI) a += 2 * ZT_PI;
    face = prev;
    if (a > face) {
        face += inc;
        unit.unit_turn_time += s;
    }
    if (face > a) face -= inc;
    if (std::fabs(a - face) < inc) face = a;
#endif
    unit.unit_face = face;
    unit.unit_face_steps += 1;
    unit.image_a = face + ZT_PI / 2;
}

// ---- creation ----------------------------------------------------------------------

Item* unit_init(Zentar& world, int fleet, int owner, float x, float y, int target, float ships) {
    Item* unit = item_init(world);
    if (unit->n == 0) return unit;
    const Item& own = _item_read(world, owner);

    unit->has_unit = 1;
    unit->has_owner = 1;
    unit->has_image = 1;
    unit->has_ships = 1;
    unit->has_position = 1;
    unit->has_collide = 1;
    unit->has_select = 1;
    unit->has_sync = 0;  // clients spawn their own units

    unit->owner_n = owner;
    unit->unit_fleet = fleet;
    unit->unit_target = target;
    unit->ships_value = ships;
    unit->ships_production = 0;
    unit->position_x = x;
    unit->position_y = y;
    unit->unit_last_x = x;
    unit->unit_last_y = y;

    std::memcpy(unit->image_src, own.fleet_image, sizeof(unit->image_src) - 1);
    unit->image_src[sizeof(unit->image_src) - 1] = 0;
    unit->render_color = own.fleet_color;
    unit->render_alpha = 255;
    unit->render_blend = 1;
    unit->image_w = 1.0f;
    unit->image_h = 1.0f;
    unit->image_cx = 0.5f;
    unit->image_cy = 0.5f;
    unit->image_scale = 14.4f;
    unit->parts_style = own.parts_style;
    unit->fleet_crash = own.fleet_crash;

    unit->unit_speed = 40 * own.fleet_v_factor;
    unit->unit_turn_rate = ZT_PI / 32;
    unit->unit_turn_time = 0;
    unit->unit_face = 0;
    unit->unit_face_steps = 0;

    unit->collide_r = 6.0f;
    unit->fleet_r = 6.0f;
    unit->collide_mass = 1.0f;
    unit->collide_group = unit->collide_yield_id = _unit_group(owner, target);
    unit->collide_yield_mask = 1;

    // A new unit starts 0.15 s of flight away from where it was placed.
    for (int k = 0; k < 6; k++) unit_move(world, *unit, 0.025f);
    _unit_face(*unit, 1);
    return unit;
}

// ---- movement ----------------------------------------------------------------------

// The moves of the units worked out ahead by units_move_plan: the same idea
// as the facings above, for the whole move, whose chain is atan2f, the turn,
// then sincosf. A plan keeps everything unit_move reads and what it writes;
// the step's first pass takes the planned outcome only when every input is
// still the very same bits (no nudge is planned), and then it is what the
// move would compute. Kept in packed arrays (UnitMovePlans) in slot order.

// A unit wedged between others gets a nudge now and then: one step in 48,
// when it moved less than a fifteenth of its speed. The cheap test first;
// none of them has a side effect.
static inline bool _unit_nudged(const Item& unit, float dt) {
    if (unit.ticks < 1 || (static_cast<int64_t>(unit.ticks) + unit.n) % 48 != 0) return false;
    float moved = std::fabs(unit.position_x - unit.unit_last_x) + std::fabs(unit.position_y - unit.unit_last_y);
    return moved < dt * unit.unit_speed / 15;
}

// The record's bytes a plan is checked against (UnitMovePlans::seen).
static_assert(offsetof(Item, n) == 4 && offsetof(Item, ticks) == 8, "a plan sees n and ticks");
static_assert(offsetof(Item, position_x) == 68 && offsetof(Item, position_y) == 72, "a plan sees the position");
static_assert(offsetof(Item, unit_speed) >= 176 && offsetof(Item, unit_turn_time) + 4 <= 208,
              "a plan sees the speed, heading, last position, turn rate and turn time");
static inline void _unit_seen(uint8_t* out, const Item& unit) {
    const unsigned char* rec = reinterpret_cast<const unsigned char*>(&unit);
    std::memcpy(out, rec + 4, 8);
    std::memcpy(out + 8, rec + 68, 8);
    std::memcpy(out + 16, rec + 176, 32);
}

#if defined(__SSE2__)
// unit_move's turn for plans k .. k+3, as selects (see _unit_face): every
// lane makes the operations of the branches it would have taken.
static void _unit_turn4(UnitMovePlans& P, int k, float s) {
    const __m128 pi = _mm_set1_ps(ZT_PI), two_pi = _mm_set1_ps(2 * ZT_PI);
    const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    const __m128 S = _mm_set1_ps(s);
    __m128 TO0 = _mm_loadu_ps(P.to + k), TIME0 = _mm_loadu_ps(P.time + k), RATE = _mm_loadu_ps(P.rate + k);
    __m128 first = _mm_castsi128_ps(
        _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P.ticks + k)), _mm_setzero_si128()));
    __m128 C = _mm_loadu_ps(P.heading + k), TO = TO0, TT = TIME0;
    __m128 I = _mm_mul_ps(RATE, S);
    C = _unit_select(_mm_cmpgt_ps(_mm_sub_ps(TO, C), pi), _mm_add_ps(C, two_pi), C);
    TO = _unit_select(_mm_cmpgt_ps(_mm_sub_ps(C, TO), pi), _mm_add_ps(TO, two_pi), TO);
    __m128 m = _mm_cmpgt_ps(TO, C);
    C = _unit_select(m, _mm_add_ps(C, I), C);
    TT = _unit_select(m, _mm_add_ps(TT, S), TT);
    m = _mm_cmpgt_ps(C, TO);
    C = _unit_select(m, _mm_sub_ps(C, I), C);
    TT = _unit_select(m, _mm_add_ps(TT, S), TT);
    __m128 settled = _mm_cmplt_ps(_mm_and_ps(_mm_sub_ps(TO, C), abs_mask), I);
    __m128 H = _unit_select(settled, TO, C);
    TT = _unit_select(settled, _mm_setzero_ps(), TT);
    // A unit's first move heads straight at the target.
    H = _unit_select(first, TO0, H);
    TT = _unit_select(first, TIME0, TT);
    settled = _mm_andnot_ps(first, settled);
    // Circling for more than a second: turn ever faster (see unit_move).
    __m128 more = _mm_andnot_ps(settled, _mm_cmpgt_ps(TT, _mm_set1_ps(40.0f)));
    RATE = _unit_select(more, _mm_add_ps(RATE, _mm_set1_ps(s * ZT_PI / 1280)), RATE);
    H = _unit_select(_mm_cmpgt_ps(H, pi), _mm_sub_ps(H, two_pi),
                     _unit_select(_mm_cmplt_ps(H, _mm_set1_ps(-ZT_PI)), _mm_add_ps(H, two_pi), H));
    _mm_storeu_ps(P.out_heading + k, H);
    _mm_storeu_ps(P.out_rate + k, RATE);
    _mm_storeu_ps(P.out_time + k, TT);
}
#endif

void units_move_plan(Zentar& world, float dt) {
#if defined(__SSE2__)
    UnitMovePlans& P = zt_scratch(world).unit.moves;
    P.dt = dt;
    // Four loops, so that no libm call waits on another: the inputs, all
    // the atan2f, the turns, all the sincosf.
    int count = 0;
    int top = world.top < ZT_ITEMS ? world.top : ZT_ITEMS;
    for (int i = 1; i < top; i++) {
        if (i + ZT_AHEAD < ZT_ITEMS) {
            const Item& a = world.items[i + ZT_AHEAD];
            __builtin_prefetch(&a.in_use);
            __builtin_prefetch(&a.position_x);
            __builtin_prefetch(&a.unit_target);
            __builtin_prefetch(&a.unit_turn_rate);
        }
        const Item& u = world.items[i];
        if (!u.in_use || !u.has_unit || _unit_nudged(u, dt)) continue;  // a nudge calls rand(): no plan
        const Item& T = _item_read(world, u.unit_target);
        int k = count++;
        P.slot[k] = i;
        _unit_seen(P.seen[k], u);
        P.ticks[k] = u.ticks;
        P.px[k] = u.position_x;
        P.py[k] = u.position_y;
        P.speed[k] = u.unit_speed;
        P.heading[k] = u.unit_heading;
        P.rate[k] = u.unit_turn_rate;
        P.time[k] = u.unit_turn_time;
        std::memcpy(P.target[k], &T.position_x, sizeof(P.target[k]));
    }
    P.count = count;
    P.slot[count] = ZT_ITEMS;
    for (int k = 0; k < count; k++) P.to[k] = std::atan2(P.target[k][1] - P.py[k], P.target[k][0] - P.px[k]);
    for (int k = count; k < (count + 3) / 4 * 4; k++) {  // lanes past the end: any numbers
        P.to[k] = P.heading[k] = P.rate[k] = P.time[k] = 0;
        P.px[k] = P.py[k] = P.speed[k] = P.out_x[k] = P.out_y[k] = 0;
        P.ticks[k] = 0;
    }
    float s = 40 * dt;
    for (int k = 0; k < count; k += 4) _unit_turn4(P, k, s);
    // The cosines and sines land where the positions go, which are then
    // made from them four at a time (the same operations, in the same order).
    for (int k = 0; k < count; k++) sincosf(P.out_heading[k], &P.out_y[k], &P.out_x[k]);
    const __m128 DT = _mm_set1_ps(dt);
    for (int k = 0; k < count; k += 4) {
        __m128 V = _mm_loadu_ps(P.speed + k);
        _mm_storeu_ps(P.out_x + k, _mm_add_ps(_mm_loadu_ps(P.px + k), _mm_mul_ps(_mm_mul_ps(_mm_loadu_ps(P.out_x + k), V), DT)));
        _mm_storeu_ps(P.out_y + k, _mm_add_ps(_mm_loadu_ps(P.py + k), _mm_mul_ps(_mm_mul_ps(_mm_loadu_ps(P.out_y + k), V), DT)));
    }
#else
    UnitMovePlans& P = zt_scratch(world).unit.moves;
    P.count = 0;
    P.slot[0] = ZT_ITEMS;
    (void)dt;
#endif
}

// Whether plan k still applies to the unit: every byte it was made from is
// the same, and the target stands where it stood. (The caller checks that
// the step is the same.)
static_assert(offsetof(Item, position_y) == offsetof(Item, position_x) + 4, "a position is 8 bytes in a row");
static bool _unit_plan_holds(const UnitMovePlans& P, int k, const Item& unit, const Item& T) {
    alignas(16) uint8_t now[sizeof(P.seen[0])];
    _unit_seen(now, unit);
#if defined(__SSE2__)
    __m128i same = _mm_set1_epi8(-1);
#pragma GCC unroll 4
    for (size_t q = 0; q < sizeof(now); q += 16)
        same = _mm_and_si128(same, _mm_cmpeq_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(now + q)),
                                                  _mm_load_si128(reinterpret_cast<const __m128i*>(P.seen[k] + q))));
    bool record = _mm_movemask_epi8(same) == 0xffff;
#else
    bool record = std::memcmp(now, P.seen[k], sizeof(now)) == 0;
#endif
    uint64_t planned, now_at;
    std::memcpy(&planned, P.target[k], sizeof planned);
    std::memcpy(&now_at, &T.position_x, sizeof now_at);
    return record && planned == now_at;
}

void units_rotate_finish(Zentar& world, float dt) {
    UnitScratch& U = zt_scratch(world).unit;
    const int count = U.face_count;
    U.face_count = 0;
#if defined(__SSE2__)
    // The calls back to back, then the facings four at a time, written
    // back in slot order.
    const float s = 40 * dt;
    _unit_atan2_all(U, U.face_y, U.face_x, U.face_a, count);
    for (int k = count; k < count + 4; k++) {  // lanes past the end: any numbers
        U.face_a[k] = 0;
        std::memset(U.face_in[k], 0, sizeof(U.face_in[k]));
    }
    const __m128 S = _mm_set1_ps(s);
    for (int k = 0; k < count; k += 4) {
        // Rows of rate, time, facing and count turned into columns.
        __m128 r0 = _mm_load_ps(reinterpret_cast<const float*>(U.face_in[k]));
        __m128 r1 = _mm_load_ps(reinterpret_cast<const float*>(U.face_in[k + 1]));
        __m128 r2 = _mm_load_ps(reinterpret_cast<const float*>(U.face_in[k + 2]));
        __m128 r3 = _mm_load_ps(reinterpret_cast<const float*>(U.face_in[k + 3]));
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        alignas(16) float face[4], time[4];
        __m128 F, T;
        _unit_face4(_mm_loadu_ps(U.face_a + k), r0, r1, r2, _mm_castps_si128(r3), S, F, T);
        _mm_store_ps(face, F);
        _mm_store_ps(time, T);
        for (int l = 0; l < 4 && k + l < count; l++) {
            Item& u = world.items[U.face_slot[k + l]];
            u.unit_face = face[l];
            u.unit_turn_time = time[l];
            u.unit_face_steps += 1;
            u.image_a = face[l] + ZT_PI / 2;
        }
    }
#else
    for (int k = 0; k < count; k++) _unit_face(world.items[U.face_slot[k]], 40 * dt);
#endif
}

// The move itself, for a unit the plan does not cover.
__attribute__((noinline)) static void _unit_move_unplanned(Item& unit, const Item& T, float dt) {
    float speed = unit.unit_speed;
    if (_unit_nudged(unit, dt)) {
        unit.position_x += (rand() % 200 - 100) * dt * speed / 100;
        unit.position_y += (rand() % 200 - 100) * dt * speed / 100;
    }
    unit.unit_last_x = unit.position_x;
    unit.unit_last_y = unit.position_y;

    float to = std::atan2(T.position_y - unit.position_y, T.position_x - unit.position_x);
    float s = 40 * dt;
    float heading;
    bool settled = false;
    if (unit.ticks == 0) {
        heading = to;
    } else {
        float cur = unit.unit_heading;
        float inc = unit.unit_turn_rate * s;
        if (to - cur > ZT_PI) cur += 2 * ZT_PI;
        if (cur - to > ZT_PI) to += 2 * ZT_PI;
        if (to > cur) {
            cur += inc;
            unit.unit_turn_time += s;
        }
        if (cur > to) {
            cur -= inc;
            unit.unit_turn_time += s;
        }
        if (std::fabs(to - cur) < inc) {
            heading = to;
            unit.unit_turn_time = 0;
            settled = true;
        } else {
            heading = cur;
        }
    }
    // Circling for more than a second: turn ever faster so it cannot orbit forever.
    if (!settled && unit.unit_turn_time > 40) unit.unit_turn_rate += s * ZT_PI / 1280;
    if (heading > ZT_PI)
        heading -= 2 * ZT_PI;
    else if (heading < -ZT_PI)
        heading += 2 * ZT_PI;

    unit.unit_heading = heading;
    unit.unit_course = heading;
    // sincosf, as the compiler makes of cos and sin of one angle.
    float sn, cs;
    sincosf(heading, &sn, &cs);
    unit.position_x += cs * speed * dt;
    unit.position_y += sn * speed * dt;
}

// The per-unit calls of a step are inlined into units_first_pass below (the
// public functions are the same code): a pass over thousands of units pays
// for every call.
//
// The move toward T, the unit's target record, from plan k when it still
// holds (k -1: none; a plan of this step's dt).
__attribute__((always_inline)) inline static void _unit_move(Zentar& world, Item& unit, const Item& T, float dt,
                                                              int k) {
    const UnitMovePlans& P = zt_scratch(world).unit.moves;
    if (k < 0 || !_unit_plan_holds(P, k, unit, T)) {
        _unit_move_unplanned(unit, T, dt);
        return;
    }
    unit.unit_last_x = unit.position_x;
    unit.unit_last_y = unit.position_y;
    unit.unit_turn_time = P.out_time[k];
    unit.unit_turn_rate = P.out_rate[k];
    unit.unit_heading = P.out_heading[k];
    unit.unit_course = P.out_heading[k];
    unit.position_x = P.out_x[k];
    unit.position_y = P.out_y[k];
}

void unit_move(Zentar& world, Item& unit, float dt) {
    _unit_move(world, unit, _item_read(world, unit.unit_target), dt, -1);
}

void unit_rotate(Zentar&, Item& unit, float dt) { _unit_face(unit, 40 * dt); }

// The arrival test against tr, the unit's target record. A distance or
// radius that is no number (a mod's NaN position, radius or speed) lands
// the unit too: it could never come nearer, and would carry its ships round
// for ever.
__attribute__((always_inline)) inline static void _unit_arrival(Item& unit, const Item& tr) {
    float R = unit.collide_r + tr.collide_r;
    float dx = unit.position_x - tr.position_x, dy = unit.position_y - tr.position_y;
    if (!(R * R <= dx * dx + dy * dy)) unit.unit_arrived = 1;
}

Item* unit_test(Zentar& world, Item& unit) {
    int t = unit.unit_target;
    _unit_arrival(unit, _item_read(world, t));
    // Slot numbers outside the table read as the zero record; never hand out
    // a writable slot 0.
    return (t >= 1 && t < ZT_ITEMS) ? &world.items[t] : nullptr;
}

static void _unit_logic(Zentar& world, Item& unit);

// unit_loop, the move from plan k when it still holds (k -1: none).
__attribute__((always_inline)) inline static void _unit_step(Zentar& world, Item& unit, float dt, int k) {
    const Item& T = _item_read(world, unit.unit_target);  // the move keeps the target
    _unit_move(world, unit, T, dt, k);
    _unit_arrival(unit, T);
    _unit_logic(world, unit);
}

void unit_loop(Zentar& world, Item& unit, float dt) { _unit_step(world, unit, dt, -1); }

int units_first_pass(Zentar& world, float dt, int* fleets, bool& physics) {
    const UnitMovePlans& P = zt_scratch(world).unit.moves;
    const int count = _unit_same(P.dt, dt) ? P.count : 0;  // plans of another step hold nothing
    int nfleets = 0, cursor = 0;
    uint8_t any_physics = 0;
    for (int i = 1; i < world.top; i++) {
        Item& it = world.items[i];
        if (!it.in_use) continue;
        any_physics |= it.has_physics;
        if (it.has_fleet) fleets[nfleets++] = i;
        if (it.has_unit) {
            // The plans follow the pass, which visits the slots in order.
            int k = cursor;
            while (P.slot[k] < i) k++;  // plans of units freed before their turn
            cursor = k;
            _unit_step(world, it, dt, k < count && P.slot[k] == i ? k : -1);
        }
        if (it.in_use && it.has_motion) {
            it.position_x += it.motion_vx * dt;
            it.position_y += it.motion_vy * dt;
        }
    }
    physics = any_physics != 0;
    return nfleets;
}

// ---- spending ----------------------------------------------------------------------

void unit_use(Zentar& world, Item& unit, float amount) {
    float take = std::min(amount, unit.ships_value);
    if (!(take > 0)) take = 0;  // a negative or NaN loss never adds ships
    unit.ships_value -= take;
    Item* fleet = _unit_fleet(world, unit);
    if (fleet) fleet->fleet_ships -= take;
    if (!(unit.ships_value < 0.001f) && !std::isnan(unit.ships_value)) return;
    if (fleet) {
        fleet->fleet_units -= 1;
        if (fleet->fleet_units < 1) {
            _sys_fleet_gone(world, fleet->n);
            item_deinit(world, fleet);
        }
    }
    item_deinit(world, &unit);
}

void unit_destroy(Zentar& world, Item& unit) { unit_use(world, unit, unit.ships_value); }

// ---- outcome -----------------------------------------------------------------------

// Combat strength 0..1000; 0 fights as 100.
static int _unit_crash(const Item& it) {
    int c = std::clamp(it.fleet_crash, 0, 1000);
    return c ? c : 100;
}

static void _unit_fight(Zentar& world, Item& unit, Item& other) {
    if (unit.fleet_crash == 0 && other.fleet_crash == 0) return;
    int A = _unit_crash(unit), B = _unit_crash(other);
    int M = std::max(A, B);
    int pa = 100 * A / M, pb = 100 * B / M;
    float loss_unit = pb * other.ships_value / 100;
    float loss_other = pa * unit.ships_value / 100;
    if (unit.ships_value <= loss_unit)
        parts_ship_explode(world, unit.position_x, unit.position_y, unit.parts_style);
    if (other.ships_value <= loss_other)
        parts_ship_explode(world, other.position_x, other.position_y, other.parts_style);
    sys_sound_at(world, "hit", unit.position_x, unit.position_y);
    unit_use(world, unit, loss_unit);
    unit_use(world, other, loss_other);
}

static void _unit_arrive(Zentar& world, Item& unit) {
    int t = unit.unit_target;
    if (t < 1 || t >= ZT_ITEMS || !world.items[t].in_use) {
        // The target left the world: the ships go with it.
        unit_destroy(world, unit);
        return;
    }
    Item& T = world.items[t];
    if (sys_same_side(world, unit.owner_n, T.owner_n)) {
        T.ships_value += unit.ships_value;
    } else {
        if (!(T.planet_mask & 2)) T.ships_value -= unit.ships_value;
        parts_ship_explode(world, unit.position_x, unit.position_y, unit.parts_style);
        sys_sound_at(world, "hit", unit.position_x, unit.position_y);
    }
    if (T.sync_index == 0) {
        if (T.ships_value < 0) {
            T.ships_value = -T.ships_value;  // the surplus is the new garrison
            z2_chown(world, t, unit.owner_n);
        }
    } else {
        // Mirrored world: the host decides captures. Hold its updates of T off
        // a little so the arrival this client predicted is not undone at once.
        Item* fleet = _unit_fleet(world, unit);
        if (fleet && fleet->sync_hold_until < 0) {
            // Never negative: -1 marks predicted fleets, not a hold.
            T.sync_hold_until = std::max(0, zt_sat_int(world.lag * 1.5 + sys_ticks()));
        }
    }
    unit_destroy(world, unit);
}

// An enemy met: a guarded planet destroys the unit, another unit fights it.
__attribute__((noinline)) static void _unit_meet(Zentar& world, Item& unit, Item& other) {
    if (other.has_planet && (other.planet_mask & 1)) {
        parts_ship_explode(world, unit.position_x, unit.position_y, unit.parts_style);
        sys_sound_at(world, "hit", other.position_x, other.position_y);
        unit_destroy(world, unit);
    } else if (other.has_unit) {
        _unit_fight(world, unit, other);
    }
}

// sys_same_side, inlined: team slots, the zero record (team 0) outside the table.
static inline int32_t _unit_team(const Zentar& world, int user) { return _item_read(world, user).user_team_n; }

__attribute__((always_inline)) inline static void _unit_logic(Zentar& world, Item& unit) {
    if (unit.unit_arrived) {
        _unit_arrive(world, unit);
        return;
    }
    int o = unit.collide_target;
    if (!o) return;
    unit.collide_target = 0;
    if (o < 1 || o >= ZT_ITEMS || o == unit.n) return;
    Item& other = world.items[o];
    if (!other.in_use) return;
    if (other.collide_target == unit.n) other.collide_target = 0;
    if (_unit_team(world, unit.owner_n) == _unit_team(world, other.owner_n)) return;
    _unit_meet(world, unit, other);
}

void unit_logic(Zentar& world, Item& unit) { _unit_logic(world, unit); }
