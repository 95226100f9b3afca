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
#include "world/zentar.h"

#include <cmath>    // sqrt, isfinite
#include <cstdint>
#include <cstdlib>  // rand
#include <cstring>  // memmove
#if defined(__SSE2__)
#include <emmintrin.h>  // four pair tests at a time
#endif

// ---- module state ------------------------------------------------------------------

enum {
    ZT_CIDS = 16384,  // four times the item table: room for straddling copies
    ZT_WINDOW = 32,   // largest group tested pair by pair
    ZT_SPLIT = 33,    // smallest group worth splitting
};

// Slot numbers of one pass, partitioned in place; the room beyond the filled
// part is scratch for the partition. One list, so passes must not overlap.
static int collide_loop_cids[ZT_CIDS];

// Collision boxes of the pass by slot, one array per corner value: the
// partition reads two of them for every id at every level, so they are kept
// packed instead of one 640-byte record apart.
static float collide_boxes[4][ZT_ITEMS];
// collide_r of every slot below collide_radius_top, for the neighbour
// comparisons: a neighbour may be any item.
static float collide_radius[ZT_ITEMS];
static int collide_radius_top;

// ---- internal ----------------------------------------------------------------------

static bool _collide_slot(int n) { return n >= 1 && n < ZT_ITEMS; }

static void _collide_box_copy(const Item& it, int n) {
    for (int k = 0; k < 4; k++) collide_boxes[k][n] = it.collide_box[k];
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

// One group of at most 32, copied out of the records so that the pair loop
// runs on a few packed arrays. A slot named twice in the list gets one copy
// and so moves as one item, as on the records.
struct CollideGroup {
    int m = 0;                            // distinct items
    int slot[ZT_WINDOW], loc[ZT_WINDOW];  // by copy; copy of each list entry (-1: no item)
    float x[ZT_WINDOW], y[ZT_WINDOW], r[ZT_WINDOW], mass[ZT_WINDOW];
    int32_t group[ZT_WINDOW], yield_mask[ZT_WINDOW], yield_id[ZT_WINDOW];
    int32_t target[ZT_WINDOW];  // collide_target
    float target_r[ZT_WINDOW];  // its collide_r, while it names a real slot
    bool has_target[ZT_WINDOW];

    bool gives_way(int a, int b) const {
        return (yield_mask[a] & group[b]) != 0 || group[b] == yield_id[a];
    }
    // Remember b as a's neighbour when a has none or b is strictly larger;
    // the first of equal neighbours stays.
    void note(int a, int b) {
        if (has_target[a] && !(r[b] > target_r[a])) return;
        target[a] = slot[b];
        target_r[a] = r[b];
        has_target[a] = true;
    }
};

// Moves a and/or b of a touching pair about their mass centre.
__attribute__((noinline)) static void _collide_group_push(CollideGroup& g, int a, int b, bool a_moves,
                                                         bool b_moves) {
    float dx = g.x[b] - g.x[a], dy = g.y[b] - g.y[a];
    float R = g.r[a] + g.r[b];
    float dist = std::sqrt(dx * dx + dy * dy);
    if (dist < 0.001f) _collide_random_dir(dx, dy, dist);
    _collide_push(g.x[a], g.y[a], g.x[b], g.y[b], _collide_masses(g.mass[a], g.mass[b]), dx, dy, dist, R,
                  a_moves, b_moves);
}

// Copies the listed items; true when every entry is a distinct item, so
// that copy k is entry k.
static bool _collide_gather(Zentar& world, CollideGroup& g, const int* w, int n) {
    static uint32_t stamp[ZT_ITEMS], serial;
    static uint8_t copy_of[ZT_ITEMS];
    if (++serial == 0) {  // wrapped: old stamps could match again
        std::memset(stamp, 0, sizeof(stamp));
        serial = 1;
    }
    bool plain = true;
    for (int k = 0; k < n; k++) {
        int id = w[k];
        if (!_collide_slot(id)) {
            g.loc[k] = -1;
            plain = false;
            continue;
        }
        if (stamp[id] == serial) {
            g.loc[k] = copy_of[id];
            plain = false;
            continue;
        }
        stamp[id] = serial;
        int c = g.m++;
        copy_of[id] = static_cast<uint8_t>(c);
        g.loc[k] = c;
        const Item& it = world.items[id];
        g.slot[c] = id;
        g.x[c] = it.position_x;
        g.y[c] = it.position_y;
        g.r[c] = it.collide_r;
        g.mass[c] = it.collide_mass;
        g.group[c] = it.collide_group;
        g.yield_mask[c] = it.collide_yield_mask;
        g.yield_id[c] = it.collide_yield_id;
        int t = it.collide_target;
        g.target[c] = t;
        g.has_target[c] = _collide_slot(t);
        g.target_r[c] = !g.has_target[c]           ? 0.0f
                        : t < collide_radius_top ? collide_radius[t]
                                                 : world.items[t].collide_r;
    }
    for (int c = g.m; c < ZT_WINDOW; c++) g.x[c] = g.y[c] = g.r[c] = 0.0f;  // read four at a time
    return plain;
}

// Bit j set, for from <= j < n, when copy j touches copy i where they stand
// now (or their distance is not a number, which counts as touching too).
__attribute__((always_inline)) inline static uint32_t _collide_touching(const CollideGroup& g, int i,
                                                                       int from, int n) {
    uint32_t mask = 0;
#if defined(__SSE2__)
    __m128 ax = _mm_set1_ps(g.x[i]), ay = _mm_set1_ps(g.y[i]), ra = _mm_set1_ps(g.r[i]);
    for (int j = from & ~3; j < n; j += 4) {
        __m128 dx = _mm_sub_ps(_mm_loadu_ps(g.x + j), ax);
        __m128 dy = _mm_sub_ps(_mm_loadu_ps(g.y + j), ay);
        __m128 R = _mm_add_ps(ra, _mm_loadu_ps(g.r + j));
        __m128 d2 = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
        mask |= static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpngt_ps(d2, _mm_mul_ps(R, R)))) << j;
    }
#else
    for (int j = from; j < n; j++) {
        float dx = g.x[j] - g.x[i], dy = g.y[j] - g.y[i];
        float R = g.r[i] + g.r[j];
        mask |= static_cast<uint32_t>(!(dx * dx + dy * dy > R * R)) << j;
    }
#endif
    uint32_t below_n = n >= 32 ? ~0u : (1u << n) - 1;
    return mask & below_n & (from >= 32 ? 0u : ~0u << from);
}

// Every pair of the group, A before B in list order, each tested on the
// positions left by the pairs before it. Only a push moves anything, so
// the pairs of A that touch are found together and found again after each
// push.
static void _collide_pairs(Zentar& world, const int* w, int n) {
    CollideGroup g;
    if (_collide_gather(world, g, w, n)) {
        for (int i = 0; i < n; i++) {
            uint32_t mask = _collide_touching(g, i, i + 1, n);
            while (mask) {
                int j = __builtin_ctz(mask);
                mask &= mask - 1;
                g.note(i, j);
                g.note(j, i);
                bool a_moves = g.gives_way(i, j), b_moves = g.gives_way(j, i);
                if (!a_moves && !b_moves) continue;
                _collide_group_push(g, i, j, a_moves, b_moves);
                mask = _collide_touching(g, i, j + 1, n);
            }
        }
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
                g.note(a, b);
                g.note(b, a);
                bool a_moves = g.gives_way(a, b), b_moves = g.gives_way(b, a);
                if (a_moves || b_moves) _collide_group_push(g, a, b, a_moves, b_moves);
            }
        }
    }
    for (int c = 0; c < g.m; c++) {
        Item& it = world.items[g.slot[c]];
        it.position_x = g.x[c];
        it.position_y = g.y[c];
        it.collide_target = g.target[c];
    }
}

// A group: all pairs when small, else a random window of 32 consecutive ids.
static void _collide_group(Zentar& world, int* ids, int count) {
    if (count < 2) return;
    int start = 0, n = count;
    if (count >= ZT_SPLIT) {
        start = rand() % (count - ZT_WINDOW);
        n = ZT_WINDOW;
    }
    _collide_pairs(world, ids + start, n);
}

// Splits: along x (Y false) or y; FAR_FRONT puts the far part (box max
// beyond mid) at the front of the list, else the near part (box min below
// mid). The four of them are the x0, x1, y0 and y1 splits.
template <bool Y, bool FAR_FRONT>
static void _collide_split(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1,
                           float y1);

// Split a group when it is big, has room and spans a box of 4 or more;
// otherwise resolve it as it is.
template <bool Y, bool FAR_FRONT>
static void _collide_enter(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1,
                           float y1) {
    if (count < 2) return;
    if (count >= ZT_SPLIT && room >= 2 * count && (x1 - x0 >= 4.0f || y1 - y0 >= 4.0f))
        _collide_split<Y, FAR_FRONT>(world, ids, count, room, x0, y0, x1, y1);
    else
        _collide_group(world, ids, count);
}

// The part written behind is resolved first, then the front one; far parts
// continue with the other axis' "0" split, near parts with its "1".
template <bool Y, bool FAR_FRONT>
static void _collide_split(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1,
                           float y1) {
    if (count < 2) return;
    if (count < ZT_SPLIT || room < 2 * count || !(x1 - x0 >= 4.0f || y1 - y0 >= 4.0f)) {
        _collide_group(world, ids, count);
        return;
    }
    float lo_edge = Y ? y0 : x0, hi_edge = Y ? y1 : x1;
    float mid = (lo_edge + hi_edge) / 2.0f;
    // A wide box whose middle float equals an edge would never shrink.
    if (hi_edge - lo_edge >= 4.0f && !(mid > lo_edge && mid < hi_edge)) {
        _collide_group(world, ids, count);
        return;
    }

    int front = 0, back = 0;
    const float* lo = collide_boxes[Y ? 1 : 0];
    const float* hi = collide_boxes[Y ? 3 : 2];
    int* behind = ids + count;
    for (int i = 0; i < count; i++) {
        int id = ids[i];
        bool is_far = hi[id] > mid;
        bool is_near = (lo[id] < mid) | !is_far;  // a point on mid lands near
        ids[front] = id;                         // front <= i: reads stay ahead
        front += FAR_FRONT ? is_far : is_near;
        behind[back] = id;
        back += FAR_FRONT ? is_near : is_far;
    }
    std::memmove(ids + front, behind, static_cast<size_t>(back) * sizeof(int));
    int left = room - front;

    float fx0 = Y ? x0 : mid, fy0 = Y ? mid : y0;  // far box
    float nx1 = Y ? x1 : mid, ny1 = Y ? mid : y1;  // near box
    if (FAR_FRONT) {
        _collide_enter<!Y, true>(world, ids + front, back, left, x0, y0, nx1, ny1);
        _collide_enter<!Y, false>(world, ids, front, left, fx0, fy0, x1, y1);
    } else {
        _collide_enter<!Y, false>(world, ids + front, back, left, fx0, fy0, x1, y1);
        _collide_enter<!Y, true>(world, ids, front, left, x0, y0, nx1, ny1);
    }
}

using SplitFn = void (*)(Zentar&, int*, int, int, float, float, float, float);

// A list handed in from outside may name any slot; only real slots are
// partitioned by their boxes.
static void _collide_split_list(SplitFn split, Zentar& world, int* ids, int count, int room, float x0,
                                float y0, float x1, float y1) {
    collide_radius_top = 0;  // radii from the records
    for (int i = 0; i < count; i++) {
        if (_collide_slot(ids[i])) _collide_box_copy(world.items[ids[i]], ids[i]);
        else ids[i] = 0;  // partitioned, never paired
    }
    split(world, ids, count, room, x0, y0, x1, y1);
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
    collide_radius_top = 0;  // radii from the records
    _collide_group(world, ids, count);
}

void collide_loop(Zentar& world) {
    int top = world.top < ZT_ITEMS ? world.top : ZT_ITEMS;
    if (top < 2) return;
    int* ids = collide_loop_cids;
    int count = 0;
    float bx0 = 99999.0f, by0 = 99999.0f, bx1 = -99999.0f, by1 = -99999.0f;
    collide_radius_top = top;
    for (int n = 1; n < top; n++) {
        Item& it = world.items[n];
        collide_radius[n] = it.collide_r;
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
        _collide_box_copy(it, n);
        ids[count++] = n;
        if (box[0] < bx0) bx0 = box[0];
        if (box[1] < by0) by0 = box[1];
        if (box[2] > bx1) bx1 = box[2];
        if (box[3] > by1) by1 = box[3];
    }
    if (count < 2) return;
    if (count >= ZT_SPLIT && 2 * count <= ZT_CIDS) {
        if (by1 - by0 < 4.0f && bx1 - bx0 < 4.0f)
            _collide_group(world, ids, count);
        else
            _collide_split<false, false>(world, ids, count, ZT_CIDS, bx0, by0, bx1, by1);
    } else {
        _collide_group(world, ids, count);
    }
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
