// zentar_loop: one simulation step of the match world.
//
// Order inside a step: units move (and fight, arrive, capture), free-moving
// items drift, collision pushes everything apart, fleets gather their units,
// then units turn to face, planets produce, physics items bounce, and the
// particles age last.
#include <cmath>
#include <cstdint>  // INT32_MAX
#include <cstdio>

#include "ruvezor/util/qel_driver.h"  // driver_timer_get_ticks, the default clock
#include "world/zentar.h"
#include "world/zentar_scratch.h"
#include "world/zentar_sim.h"

SysHooks sys_hooks = {nullptr, nullptr, nullptr};
SysListeners sys_listeners = {nullptr, nullptr, nullptr};

// ---- seams -----------------------------------------------------------------------

void sys_sound(const char* word) {
    if (!sys_hooks.sound || !word) return;
    char name[64];
    snprintf(name, sizeof(name), "sfx-%s", word);
    sys_hooks.sound(name);
}

void sys_sound_at(const Zentar& world, const char* word, float x, float y) {
    if (!sys_hooks.sound) return;
    if (!zt_in_clip(world, x, y)) return;
    sys_sound(word);
}

int sys_ticks() {
    return sys_hooks.ticks ? sys_hooks.ticks() : driver_timer_get_ticks();
}

// Tells the host that fleet n is about to be released.
void _sys_fleet_gone(Zentar& world, int n) {
    if (sys_hooks.fleet_gone)
        sys_hooks.fleet_gone(world, n);
    else if (sys_listeners.host_fleet_gone)
        sys_listeners.host_fleet_gone(world, n);
}

int sys_same_side(const Zentar& world, int user_a, int user_b) {
    return _item_read(world, user_a).user_team_n == _item_read(world, user_b).user_team_n;
}

// ---- vector helpers --------------------------------------------------------------

float zt_dot(float x1, float y1, float x2, float y2) { return x1 * x2 + y1 * y2; }

void zt_norm(float& x, float& y) {
    float len = std::sqrt(x * x + y * y);
    if (len > 0) {
        x /= len;
        y /= len;
    }
}

// ---- step ------------------------------------------------------------------------

void planet_loop(Zentar& world, Item& planet, float dt) {
    if (!planet.ships_production_enabled) return;
    const Item& owner = _item_read(world, planet.owner_n);
    planet.ships_value += dt * owner.ships_production_factor * planet.ships_production / 50;
}

void sys_loop0(Zentar& world) {
    for (int i = 1; i < world.top; i++) {
        Item& it = world.items[i];
        if (it.in_use && it.has_planet) planet_loop(world, it, 0);
    }
}

// Impulse against the largest touching neighbour, then the bounce off the
// bounds. Positions are never clamped: only the velocity sign changes.
static void _sys_physics(Zentar& world, Item& it) {
    int t = it.collide_target;
    if (t) {
        if (t >= 1 && t < ZT_ITEMS && t != it.n && world.items[t].in_use) {
            Item& other = world.items[t];
            zt_do_collide(world, it, other);
            if (other.collide_target == it.n) other.collide_target = 0;
        }
        it.collide_target = 0;
    }
    float bx = world.bounds[0], by = world.bounds[1], bw = world.bounds[2], bh = world.bounds[3];
    if (bw == 0 || bh == 0) return;
    float r = it.collide_r;
    if (bx > it.position_x - r) it.motion_vx = std::fabs(it.motion_vx);
    if (by > it.position_y - r) it.motion_vy = std::fabs(it.motion_vy);
    if (it.position_x + r > bx + bw) it.motion_vx = -std::fabs(it.motion_vx);
    if (it.position_y + r > by + bh) it.motion_vy = -std::fabs(it.motion_vy);
}

void sys_loop(Zentar& world, float dt, int particles) {
    if (!(dt > 0)) {  // NaN steps count as empty too
        sys_loop0(world);
        return;
    }
    world.time += dt;
    // The clock only turns the planets and makes the stars twinkle. Summed
    // for days in single precision it ran twice as fast after three and
    // stood still after five; kept within the hour it stays exact, and every
    // planet has turned whole turns in an hour, so none of them jumps.
    if (!(world.time < ZT_CLOCK_TURN))
        world.time = std::isfinite(world.time) ? std::fmod(world.time, ZT_CLOCK_TURN) : 0.0f;
    if (world.intro_time != 0) world.intro_time += dt;

    units_move_plan(world, dt);
    // Units may free themselves, their fleet and enemy units; top is re-read.
    int* fleets = zt_scratch(world).fleets;
    bool physics = false;
    int nfleets = units_first_pass(world, dt, fleets, physics);

    collide_loop(world);
    // The fleets gather their units' sums in the last pass, which visits
    // the units in the same order and changes nothing the sums read, unless
    // physics items are about: their impulses move items in that pass.
    if (physics) fleets_loop(world);
    else nfleets = _fleets_reset(world, fleets, nfleets);
    // A unit's facing reads only its own record, and in the pass below only
    // physics impulses move anything: without physics items the pass only
    // gathers the facings, and every unit turns to face after it, all
    // together.
    //
    // The pass holds the fleet sums in a copy of its own and tells the
    // compiler that planets and physics items are few: so the sums stay in
    // registers over the units instead of going through memory at each.
    FleetSums sums;
    {
        FleetSums held;
        for (int i = 1; i < world.top; i++) {
            Item& it = world.items[i];
            if (!it.in_use) continue;
            if (it.has_unit) {
                if (__builtin_expect(physics, 0)) {
                    unit_rotate(world, it, dt);
                } else {
                    _fleet_gather(world, held, it);
                    units_rotate_add(world, it, i);
                }
            }
            if (__builtin_expect(it.has_planet, 0)) planet_loop(world, it, dt);
            if (__builtin_expect(it.has_physics, 0)) _sys_physics(world, it);
            // A count that reached the top stays there: a host's record may
            // carry any number, and the step must not overflow on it.
            it.ticks += it.ticks < INT32_MAX;
        }
        sums = held;
    }
    if (!physics) {
        _fleets_finish(world, sums, fleets, nfleets);
        units_rotate_finish(world, dt);
    }

    if (particles) parts_loop(world, dt);
}
