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
#include <cstdlib>  // rand
#include <cstring>  // memmove

// ---- module state ------------------------------------------------------------------

enum {
    ZT_CIDS = 16384,  // four times the item table: room for straddling copies
    ZT_WINDOW = 32,   // largest group tested pair by pair
    ZT_SPLIT = 33,    // smallest group worth splitting
};

// Slot numbers of one pass, partitioned in place; the room beyond the filled
// part is scratch for the partition. One list, so passes must not overlap.
static int collide_loop_cids[ZT_CIDS];

// ---- internal ----------------------------------------------------------------------

static bool _collide_gives_way(const Item& a, const Item& b) {
    return (a.collide_yield_mask & b.collide_group) != 0 || b.collide_group == a.collide_yield_id;
}

// Remember b as a's neighbour when a has none or b is strictly larger; the
// first of equal neighbours stays. Stored slots may come from mods.
static void _collide_note(const Zentar& world, Item& a, int b_slot, const Item& b) {
    int t = a.collide_target;
    if (t < 1 || t >= ZT_ITEMS || b.collide_r > world.items[t].collide_r) a.collide_target = b_slot;
}

// Items that nearly coincide are pushed along a random vector, components in [-1, 1).
static void _collide_random_dir(float& dx, float& dy, float& dist) {
    dx = static_cast<float>((rand() / 2147483648.0 * 200.0 - 100.0) / 100.0);
    dy = static_cast<float>((rand() / 2147483648.0 * 200.0 - 100.0) / 100.0);
    dist = 1.0f;
}

// Move a and/or b about their mass centre so that they end R apart (along
// d = b - a of length dist). Both use the centre from before either moved.
static void _collide_push(Item& a, Item& b, float dx, float dy, float dist, float R, bool a_moves,
                          bool b_moves) {
    float ma = a.collide_mass, mb = b.collide_mass, m = ma + mb;
    if (!(m > 0.0f) || !std::isfinite(m)) {
        // Mods make collidable items with mass 0: treat them as equals.
        ma = mb = 1.0f;
        m = 2.0f;
    }
    float cx = (a.position_x * ma + b.position_x * mb) / m;
    float cy = (a.position_y * ma + b.position_y * mb) / m;
    float k = R / (dist * m);
    if (a_moves) {
        a.position_x = cx - mb * k * dx;
        a.position_y = cy - mb * k * dy;
    }
    if (b_moves) {
        b.position_x = cx + ma * k * dx;
        b.position_y = cy + ma * k * dy;
    }
}

using SplitFn = void (*)(Zentar&, int*, int, int, float, float, float, float);

// Split a group when it is big, has room and spans a box of 4 or more;
// otherwise resolve it as it is.
static void _collide_enter(SplitFn split, Zentar& world, int* ids, int count, int room, float x0,
                           float y0, float x1, float y1) {
    if (count < 2) return;
    if (count >= ZT_SPLIT && room >= 2 * count && (x1 - x0 >= 4.0f || y1 - y0 >= 4.0f))
        split(world, ids, count, room, x0, y0, x1, y1);
    else
        collide_do(world, ids, count);
}

// One split along x (yaxis false) or y. far_front puts the far part (box max
// beyond mid) at the front of the list, else the near part (box min below
// mid). The part written behind is resolved first, then the front one; far
// parts continue with the other axis' "0" split, near parts with its "1".
static void _collide_split(Zentar& world, int* ids, int count, int room, float x0, float y0,
                           float x1, float y1, bool yaxis, bool far_front) {
    if (count < 2) return;
    if (count < ZT_SPLIT || room < 2 * count || !(x1 - x0 >= 4.0f || y1 - y0 >= 4.0f)) {
        collide_do(world, ids, count);
        return;
    }
    float lo_edge = yaxis ? y0 : x0, hi_edge = yaxis ? y1 : x1;
    float mid = (lo_edge + hi_edge) / 2.0f;
    // A wide box whose middle float equals an edge would never shrink.
    if (hi_edge - lo_edge >= 4.0f && !(mid > lo_edge && mid < hi_edge)) {
        collide_do(world, ids, count);
        return;
    }

    int front = 0, back = 0;
    int lo_i = yaxis ? 1 : 0, hi_i = yaxis ? 3 : 2;
    for (int i = 0; i < count; i++) {
        int id = ids[i];
        const float* box = world.items[id].collide_box;
        bool is_far = box[hi_i] > mid;
        bool is_near = box[lo_i] < mid || !is_far;  // a point on mid lands near
        if (far_front ? is_far : is_near) ids[front++] = id;  // front <= i: reads stay ahead
        if (far_front ? is_near : is_far) ids[count + back++] = id;
    }
    std::memmove(ids + front, ids + count, static_cast<size_t>(back) * sizeof(int));
    int left = room - front;

    SplitFn far_next = yaxis ? collide_split_x0 : collide_split_y0;
    SplitFn near_next = yaxis ? collide_split_x1 : collide_split_y1;
    float fx0 = yaxis ? x0 : mid, fy0 = yaxis ? mid : y0;  // far box
    float nx1 = yaxis ? x1 : mid, ny1 = yaxis ? mid : y1;  // near box
    if (far_front) {
        _collide_enter(near_next, world, ids + front, back, left, x0, y0, nx1, ny1);
        _collide_enter(far_next, world, ids, front, left, fx0, fy0, x1, y1);
    } else {
        _collide_enter(far_next, world, ids + front, back, left, fx0, fy0, x1, y1);
        _collide_enter(near_next, world, ids, front, left, x0, y0, nx1, ny1);
    }
}

// ---- public ----------------------------------------------------------------------------

void collide_split_x0(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split(world, ids, count, room, x0, y0, x1, y1, false, false);
}

void collide_split_x1(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split(world, ids, count, room, x0, y0, x1, y1, false, true);
}

void collide_split_y0(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split(world, ids, count, room, x0, y0, x1, y1, true, false);
}

void collide_split_y1(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1) {
    _collide_split(world, ids, count, room, x0, y0, x1, y1, true, true);
}

void collide_do(Zentar& world, int* ids, int count) {
    if (count < 2) return;
    int start = 0, n = count;
    if (count >= ZT_SPLIT) {
        start = rand() % (count - ZT_WINDOW);
        n = ZT_WINDOW;
    }
    int* w = ids + start;
    for (int i = 0; i < n; i++) {
        int ia = w[i];
        if (ia < 1 || ia >= ZT_ITEMS) continue;
        Item& a = world.items[ia];
        for (int j = i + 1; j < n; j++) {
            int ib = w[j];
            if (ib < 1 || ib >= ZT_ITEMS) continue;
            Item& b = world.items[ib];
            float dx = b.position_x - a.position_x, dy = b.position_y - a.position_y;
            float R = a.collide_r + b.collide_r;
            float d2 = dx * dx + dy * dy;
            if (d2 > R * R) continue;

            _collide_note(world, a, ib, b);
            _collide_note(world, b, ia, a);

            bool a_moves = _collide_gives_way(a, b), b_moves = _collide_gives_way(b, a);
            if (!a_moves && !b_moves) continue;
            float dist = std::sqrt(d2);
            if (dist < 0.001f) _collide_random_dir(dx, dy, dist);
            _collide_push(a, b, dx, dy, dist, R, a_moves, b_moves);
        }
    }
}

void collide_loop(Zentar& world) {
    int top = world.top < ZT_ITEMS ? world.top : ZT_ITEMS;
    if (top < 2) return;
    int* ids = collide_loop_cids;
    int count = 0;
    float bx0 = 99999.0f, by0 = 99999.0f, bx1 = -99999.0f, by1 = -99999.0f;
    for (int n = 1; n < top; n++) {
        Item& it = world.items[n];
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
        ids[count++] = n;
        if (box[0] < bx0) bx0 = box[0];
        if (box[1] < by0) by0 = box[1];
        if (box[2] > bx1) bx1 = box[2];
        if (box[3] > by1) by1 = box[3];
    }
    if (count < 2) return;
    if (count >= ZT_SPLIT && 2 * count <= ZT_CIDS) {
        if (by1 - by0 < 4.0f && bx1 - bx0 < 4.0f)
            collide_do(world, ids, count);
        else
            collide_split_x0(world, ids, count, ZT_CIDS, bx0, by0, bx1, by1);
    } else {
        collide_do(world, ids, count);
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
        _collide_push(a, b, dx, dy, dist, R, true, true);
    }
}

void zt_do_collide(Zentar& world, Item& a, Item& b) {
    float nx = a.position_x - b.position_x, ny = a.position_y - b.position_y;
    float len = std::sqrt(nx * nx + ny * ny);
    if (len > 0.0f) {  // coincident items keep the zero normal: no impulse
        nx /= len;
        ny /= len;
    }
    float ma = a.collide_mass, mb = b.collide_mass, m = ma + mb;
    if (!(m > 0.0f) || !std::isfinite(m)) {
        ma = mb = 1.0f;
        m = 2.0f;
    }
    float j = 2.0f * ((a.motion_vx * nx + a.motion_vy * ny) - (b.motion_vx * nx + b.motion_vy * ny)) / m;
    a.motion_vx -= j * mb * nx;
    a.motion_vy -= j * mb * ny;
    b.motion_vx += j * ma * nx;
    b.motion_vy += j * ma * ny;
    zt_do_move_apart(world, a, b, 0);
}
