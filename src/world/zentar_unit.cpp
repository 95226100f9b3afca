// zentar_unit: one ship sprite of a fleet.
//
// A unit steers toward its target planet with a limited turn rate, is pushed
// apart by the collision pass, fights the enemy unit it touches, crashes on a
// guarded enemy planet, and on arrival adds its ships to a friendly target or
// takes them off a hostile one, capturing it when the count goes below zero.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "world/zentar.h"
#include "world/zentar_sim.h"

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

// Facing follows the last displacement; s is the number of 1/40-s steps.
static void _unit_face(Item& unit, float s) {
    float a = std::atan2(unit.position_y - unit.unit_last_y, unit.position_x - unit.unit_last_x);
    float prev = unit.unit_face_steps > 0 ? unit.unit_face : a;
    float inc = 4 * unit.unit_turn_rate * s;
    if (a - prev > ZT_PI) prev += 2 * ZT_PI;
    if (prev - a > ZT_PI) a += 2 * ZT_PI;
    float face = prev;
    if (a > face) {
        face += inc;
        unit.unit_turn_time += s;
    }
    if (face > a) face -= inc;
    if (std::fabs(a - face) < inc) face = a;
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

void unit_move(Zentar& world, Item& unit, float dt) {
    const Item& T = _item_read(world, unit.unit_target);
    float speed = unit.unit_speed;
    float moved = std::fabs(unit.position_x - unit.unit_last_x) +
                  std::fabs(unit.position_y - unit.unit_last_y);
    // A unit wedged between others gets a nudge now and then.
    if (unit.ticks >= 1 && moved < dt * speed / 15 && (unit.ticks + unit.n) % 48 == 0) {
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
    unit.position_x += std::cos(heading) * speed * dt;
    unit.position_y += std::sin(heading) * speed * dt;
}

void unit_rotate(Zentar& world, Item& unit, float dt) { _unit_face(unit, 40 * dt); }

Item* unit_test(Zentar& world, Item& unit) {
    int t = unit.unit_target;
    // Slot numbers outside the table read as the zero record; never hand out
    // a writable slot 0.
    Item* T = (t >= 1 && t < ZT_ITEMS) ? &world.items[t] : nullptr;
    const Item& tr = _item_read(world, t);
    float R = unit.collide_r + tr.collide_r;
    float dx = unit.position_x - tr.position_x, dy = unit.position_y - tr.position_y;
    if (R * R > dx * dx + dy * dy) unit.unit_arrived = 1;
    return T;
}

void unit_loop(Zentar& world, Item& unit, float dt) {
    unit_move(world, unit, dt);
    unit_test(world, unit);
    unit_logic(world, unit);
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

void unit_logic(Zentar& world, Item& unit) {
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
    if (sys_same_side(world, unit.owner_n, other.owner_n)) return;
    if (other.has_planet && (other.planet_mask & 1)) {
        parts_ship_explode(world, unit.position_x, unit.position_y, unit.parts_style);
        sys_sound_at(world, "hit", other.position_x, other.position_y);
        unit_destroy(world, unit);
    } else if (other.has_unit) {
        _unit_fight(world, unit, other);
    }
}
