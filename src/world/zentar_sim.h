// zentar_sim: the match simulation over the world record.
//
//   zentar_loop.cpp   sys_    the step, planet production, vector helpers and
//                             the seams through which the world reaches the
//                             shell (sounds, the host's fleet hook, the clock)
//   zentar_fleet.cpp  fleet_  launch, unit budget, per-step fleet bookkeeping
//   zentar_unit.cpp   unit_   steering, facing, arrival, combat, capture
//   zentar_misc.cpp   z2_     teams, users, layout, send, redirect, chown, destroy
//
// Every operation takes the world by reference. Items passed by slot number
// are checked against the table (1..4095, in use) before anything is touched.
#pragma once

#include <algorithm>
#include <cstdint>

#include "world/zentar.h"

// ---- seams to the rest of the game --------------------------------------
// The world never reaches for the Game object. The windowed shell points
// `sound` at GameAudio::play_sound; a headless run leaves it null, which is
// what "not headless" means down here. A released fleet is reported to
// `fleet_gone` when set, else to the host's listener below. `ticks` is the
// millisecond clock; null reads the driver's timer. Tests point all three at
// recorders.
struct SysHooks {
    void (*sound)(const char* name);          // "sfx-hit", "sfx-explode", "sfx-kazoo"
    void (*fleet_gone)(Zentar& world, int n); // a fleet's last unit was spent
    int (*ticks)();                           // milliseconds
};
extern SysHooks sys_hooks;

// State kept beside the world by higher layers, which must follow its
// resets: the host's temporary-id lookup (_zentar_server_on_reset and
// _zentar_server_on_destroy) and the colour-blind palette
// (colorblind_reset). Each layer points its entries here when it first
// stores something, so until then there is nothing to forget.
struct SysListeners {
    void (*host_reset)(Zentar& world);
    void (*host_fleet_gone)(Zentar& world, int n);
    void (*palette_reset)();
};
extern SysListeners sys_listeners;

// Plays "sfx-<word>" when a sound player is installed.
void sys_sound(const char* word);
// The same, for an event at a world position: only when the clip rectangle is
// off or holds the position.
void sys_sound_at(const Zentar& world, const char* word, float x, float y);
int sys_ticks();
// Tells the host (or the test's recorder) that fleet n is about to be released.
void _sys_fleet_gone(Zentar& world, int n);

// ---- simulation step ----------------------------------------------------
void sys_loop(Zentar& world, float dt, int particles);
void sys_loop0(Zentar& world);
void planet_loop(Zentar& world, Item& planet, float dt);
// Vector helpers for any code of the world that wants them (the steering
// inlines its own sums for speed).
float zt_dot(float x1, float y1, float x2, float y2);
void zt_norm(float& x, float& y);

// ---- fleets -------------------------------------------------------------
Item* fleet_init(Zentar& world, int owner, float ships, int from, int to);
Item* _fleet_init(Zentar& world, int owner, float ships, float x, float y, int target,
                  int fleet, int units);
int _fleet_init_units(Zentar& world, float ships);
int _fleet_items_available(Zentar& world);
void fleets_loop(Zentar& world);

// fleets_loop in parts, for a step that gathers the units' sums in a pass
// of its own: reset the fleets listed (returns how many of them are still
// fleets, kept at the front), gather every unit in slot order, then finish
// the listed fleets (means and spreads).
//
// The units of a fleet mostly sit in consecutive slots. While they do, the
// fleet's running box and sums stay in FleetSums instead of going through
// its record for every unit: the same operations in the same order. They
// go back to the record when another fleet's units start, at the finish,
// and before a unit that is itself a fleet is read.
struct FleetSums {
    int held = 0;  // the fleet whose sums are held here, 0 none
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0, sx = 0, sy = 0, speed = 0;
    void put_back(Zentar& world) {
        if (!held) return;
        Item& f = world.items[held];
        f.collide_box[0] = x0;
        f.collide_box[1] = y0;
        f.collide_box[2] = x1;
        f.collide_box[3] = y1;
        f.position_x = sx;
        f.position_y = sy;
        held = 0;
    }
};
int _fleets_reset(Zentar& world, int* fleets, int count);
inline void _fleet_gather(Zentar& world, FleetSums& s, Item& u) {
    if (u.has_fleet) s.put_back(world);
    int fn = u.unit_fleet;
    if (fn < 1 || fn >= ZT_ITEMS) return;
    if (fn != s.held) {
        Item& f = world.items[fn];
        if (!f.in_use || !f.has_fleet) return;
        s.put_back(world);
        s.held = fn;
        s.x0 = f.collide_box[0];
        s.y0 = f.collide_box[1];
        s.x1 = f.collide_box[2];
        s.y1 = f.collide_box[3];
        s.sx = f.position_x;
        s.sy = f.position_y;
        s.speed = f.unit_speed;
    }
    s.x0 = std::min(s.x0, u.position_x);
    s.y0 = std::min(s.y0, u.position_y);
    s.x1 = std::max(s.x1, u.position_x);
    s.y1 = std::max(s.y1, u.position_y);
    s.sx += u.position_x;
    s.sy += u.position_y;
    u.unit_speed = s.speed;
}
void _fleets_finish(Zentar& world, FleetSums& sums, const int* fleets, int count);

// ---- units --------------------------------------------------------------
Item* unit_init(Zentar& world, int fleet, int owner, float x, float y, int target, float ships);
void unit_loop(Zentar& world, Item& unit, float dt);
void unit_move(Zentar& world, Item& unit, float dt);
void unit_rotate(Zentar& world, Item& unit, float dt);
// Works out ahead the move of every unit, as unit_move would make it now
// (a memo: units_first_pass takes it only while nothing it reads has
// changed).
void units_move_plan(Zentar& world, float dt);
// A step's first pass, after units_move_plan: in slot order, unit_loop for
// every unit (the move from the plan while it holds) and the drift of every
// moving item. Lists the fleets met in `fleets` and returns how many; tells
// whether any physics item is in use.
int units_first_pass(Zentar& world, float dt, int* fleets, bool& physics);
// unit_rotate for the units gathered by units_rotate_add (zentar_scratch.h),
// in the order they were added.
void units_rotate_finish(Zentar& world, float dt);
Item* unit_test(Zentar& world, Item& unit);
void unit_logic(Zentar& world, Item& unit);
void unit_use(Zentar& world, Item& unit, float amount);
void unit_destroy(Zentar& world, Item& unit);
// Collision group word of the units of one owner bound for one target.
int32_t _unit_group(int owner, int target);

// ---- world operations ---------------------------------------------------
Item* team_init(Zentar& world, const char* name, int color);
Item* user_init(Zentar& world, const char* name, int color, int team);
// What planet `target` is to `user`, in the bits of ui_to_mask: 1 own,
// 2 team, 4 neutral, 8 others (0 when the planet keeps others away), plus
// 16 when its owner is revealed. No user: neutral or others.
int zt_aim_kinds(const Zentar& world, int user, const Item& target);
void z2_settle(Zentar& world, float x, float y, float w, float h);
int z2_send(Zentar& world, int percent, int from, int to);
void z2_redirect(Zentar& world, int fleet, int target);
void z2_chown(Zentar& world, int item, int user);
void z2_destroy(Zentar& world, int n);
void _z2_cancan(Zentar& world, int fleet);

// Two users are on one side when their team slots match; slot 0 and
// out-of-range owners read as the zero record (team 0).
int sys_same_side(const Zentar& world, int user_a, int user_b);
