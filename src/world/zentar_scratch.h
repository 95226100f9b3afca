// zentar_scratch: the tables the simulation step works in, one set per world.
//
// The collision pass, the unit moves and facings and the fleet bookkeeping
// gather what they read into packed tables, and the moves are worked out
// ahead as a memo. None of it is world state: every pass rebuilds what it
// uses, and a planned move is taken only for the very same inputs. The
// tables live inside the world (Zentar::step_scratch, after the documented
// fields), so every world steps on its own: a host and a client, or two
// tests' worlds, in one process. sys_init clears them with the rest; a
// copied world carries them along, which changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "world/zentar.h"

// ---- collision (zentar_collide.cpp) ----------------------------------------------

enum {
    ZT_CIDS = 16384,  // four times the item table: room for straddling copies
    ZT_WINDOW = 32,   // largest group tested pair by pair
};

// What the pair tests read and write of each listed item, 32 bytes a slot,
// in the record's order (position_x .. collide_yield_id).
struct CollideRow {
    float x, y, r, mass;
    int32_t target, group, yield_mask, yield_id;
};

// One group of at most 32, copied out of the rows so that the pair loop
// runs on a few packed arrays. A slot named twice in a caller's list gets
// one copy and so moves as one item, as on the records.
struct CollideGroup {
    // The tests read x, y and r many at a time from any copy on, as far as
    // a whole window past the last copy. What lies there is whatever earlier
    // groups left (zero at first, then positions and radii): those lanes are
    // masked off, and never denormal, which some processors handle slowly.
    static constexpr int PAD = 2 * ZT_WINDOW;
    int m;                                // distinct items
    int slot[ZT_WINDOW], loc[ZT_WINDOW];  // by copy; copy of each list entry (-1: no item)
    alignas(64) float x[PAD], y[PAD], r[PAD];
    CollideRow row[ZT_WINDOW];  // as gathered: masses and group words (x, y and target go stale)
    // Radii as ranks that compare as the pass compares radii (see
    // _collide_note): the neighbour held so far (rank high, slot low), the
    // copy itself as another copy holds it (the same), and as one meets it.
    int64_t held[ZT_WINDOW], as_held[ZT_WINDOW];
    int32_t met_rank[ZT_WINDOW];
    uint8_t unit_mass[ZT_WINDOW];  // mass exactly 1, radius at least 2^-126 (see _collide_rows)
};

struct CollideScratch {
    // Slot numbers of one pass, partitioned in place; the room beyond the
    // filled part is scratch for the partition.
    int cids[ZT_CIDS];
    // Collision boxes of the pass by slot and axis, as the partition reads
    // them for every id at every level: the low edge and the high edge
    // negated, side by side, so that one load and one comparison of the
    // pair against (mid, -mid) tell both sides.
    float edges[2][ZT_ITEMS][2];
    // The listed items' rows by slot.
    CollideRow rows[ZT_ITEMS];
    int radius_top;
    int checked;  // the lists name anything (a caller's), not distinct real slots
    // The distinct slots whose rows go back to the records at the end.
    int listed[ZT_ITEMS];
    // Marks of slots met in a caller's list or group (stamp == serial).
    // collide_loop's own pass needs none, and keeps there the rank of every
    // slot's collide_r below radius_top instead, for the neighbour
    // comparisons (a neighbour may be any item; above it, radii come from
    // the records).
    union {
        uint32_t stamp[ZT_ITEMS];
        int32_t rank[ZT_ITEMS];
    };
    uint32_t serial;
    uint8_t copy_of[ZT_ITEMS];
    // What the splits of this pass may still partition (see _collide_split).
    int64_t split_budget;
    CollideGroup group;
};

// ---- passes over the table ---------------------------------------------------------

// A pass over the table strides 640 bytes a record, and the processor's own
// prefetcher loses the stride at every page: the passes of the step ask for
// the records this many slots ahead early.
enum { ZT_AHEAD = 6 };

// ---- units (zentar_unit.cpp) -------------------------------------------------------

// The moves of the units worked out ahead: what unit_move reads and what it
// writes, in packed arrays, in slot order (plan k is of slot slot[k]).
struct UnitMovePlans {
    static constexpr int CAP = ZT_ITEMS + 4;  // the turns are made four at a time
    // by plan, read:
    int32_t slot[CAP], ticks[CAP];
    float px[CAP], py[CAP], speed[CAP], heading[CAP], rate[CAP], time[CAP];
    float target[CAP][2];  // the target's position (its bytes 68..75)
    float to[CAP];  // atan2f(target y - py, target x - px)
    // The record's bytes 4..11, 68..75 and 176..207 as planned: every input
    // of the move from the unit itself, with some neighbours that a step's
    // first pass never changes.
    alignas(16) uint8_t seen[CAP][48];
    // by plan, written:
    float out_x[CAP], out_y[CAP], out_heading[CAP], out_rate[CAP], out_time[CAP];
    float dt;
    int count;  // slot[count] is past every slot
};

struct UnitScratch {
    UnitMovePlans moves;
    // The facings of a step's units (units_rotate_add), four at a time.
    static constexpr int CAP = ZT_ITEMS + 4;
    int32_t face_count;
    int32_t face_slot[CAP];
    float face_y[CAP], face_x[CAP], face_a[CAP];
    alignas(16) uint32_t face_in[CAP][4];
    // The order in which a batch of atan2f calls is made, by the path each
    // takes (see _unit_atan2_all; paths are read sixteen at a time).
    uint16_t call_order[CAP];
    uint8_t call_path[CAP + 16];
};

// ---- the whole block ----------------------------------------------------------------

struct ZentarScratch {
    CollideScratch collide;
    UnitScratch unit;
    int fleets[ZT_ITEMS];  // fleets_loop: the fleets of the step
};
static_assert(sizeof(ZentarScratch) <= sizeof(Zentar::step_scratch), "Zentar::step_scratch holds the step's tables");
static_assert(alignof(ZentarScratch) <= alignof(Zentar), "Zentar::step_scratch is aligned for the step's tables");

// Every member is a plain number or an array of them, so the zeroed bytes
// of the world are a valid (empty) block.
inline ZentarScratch& zt_scratch(Zentar& world) {
    return *std::launder(reinterpret_cast<ZentarScratch*>(world.step_scratch));
}

// The record's turn rate, turn time, facing and facing count, in a row.
static_assert(offsetof(Item, unit_turn_time) == offsetof(Item, unit_turn_rate) + 4 &&
                  offsetof(Item, unit_face) == offsetof(Item, unit_turn_rate) + 8 &&
                  offsetof(Item, unit_face_steps) == offsetof(Item, unit_turn_rate) + 12,
              "the facing's inputs lie in a row");
inline const unsigned char* _unit_face_in(const Item& unit) {
    return reinterpret_cast<const unsigned char*>(&unit) + offsetof(Item, unit_turn_rate);
}

// Adds unit u, in slot n, to the facings units_rotate_finish works out.
// What it reads of the record must not change until then.
inline void units_rotate_add(Zentar& world, const Item& u, int n) {
    UnitScratch& U = zt_scratch(world).unit;
    int k = U.face_count++;
    U.face_slot[k] = n;
    U.face_y[k] = u.position_y - u.unit_last_y;
    U.face_x[k] = u.position_x - u.unit_last_x;
    std::memcpy(U.face_in[k], _unit_face_in(u), sizeof(U.face_in[k]));
}
