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

#include <cstdint>

struct Zentar;
struct Item;

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
// Vector helpers of the world; no caller today, the steering inlines its sums.
float zt_dot(float x1, float y1, float x2, float y2);
void zt_norm(float& x, float& y);

// ---- fleets -------------------------------------------------------------
Item* fleet_init(Zentar& world, int owner, float ships, int from, int to);
Item* _fleet_init(Zentar& world, int owner, float ships, float x, float y, int target,
                  int fleet, int units);
int _fleet_init_units(Zentar& world, float ships);
int _fleet_items_available(Zentar& world);
void fleets_loop(Zentar& world);

// ---- units --------------------------------------------------------------
Item* unit_init(Zentar& world, int fleet, int owner, float x, float y, int target, float ships);
void unit_loop(Zentar& world, Item& unit, float dt);
void unit_move(Zentar& world, Item& unit, float dt);
void unit_rotate(Zentar& world, Item& unit, float dt);
// Works out ahead the move of every unit, as unit_move would make it now
// (a memo: unit_move takes it only while nothing it reads has changed).
void units_move_plan(Zentar& world, float dt);
// Works out ahead the angles the facing of every unit will ask libm for
// (a memo: unit_rotate takes one only for the very same arguments).
void units_face_plan(Zentar& world);
Item* unit_test(Zentar& world, Item& unit);
void unit_logic(Zentar& world, Item& unit);
void unit_use(Zentar& world, Item& unit, float amount);
void unit_destroy(Zentar& world, Item& unit);
// Collision group word of the units of one owner bound for one target.
int32_t _unit_group(int owner, int target);

// ---- world operations ---------------------------------------------------
Item* team_init(Zentar& world, const char* name, int color);
Item* user_init(Zentar& world, const char* name, int color, int team);
void z2_settle(Zentar& world, float x, float y, float w, float h);
int z2_send(Zentar& world, int percent, int from, int to);
void z2_redirect(Zentar& world, int fleet, int target);
void z2_chown(Zentar& world, int item, int user);
void z2_destroy(Zentar& world, int n);
void _z2_cancan(Zentar& world, int fleet);

// Two users are on one side when their team slots match; slot 0 and
// out-of-range owners read as the zero record (team 0).
int sys_same_side(const Zentar& world, int user_a, int user_b);
