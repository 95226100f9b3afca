// zentar_fleet: launching fleets and keeping their totals.
//
// A fleet item only holds the sums of its units (count, ships), their mean
// position, box and spread, and the speed its units copy every step. The
// ships themselves are carried by the units (zentar_unit.cpp).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "world/zentar.h"
#include "world/zentar_scratch.h"
#include "world/zentar_sim.h"

// Handed back (zeroed, n 0) when nothing is launched for want of room or
// when _fleet_init is given a slot that is not a used item.
static Item _fleet_none;

int _fleet_items_available(Zentar& world) {
    int left = 4080 - world.live;
    return left > 0 ? left / 2 : 0;
}

// A launch gets at most sqrt(17 ships) units and at most its share (by ships
// in view) of half the slots left below 4080; never fewer than one.
int _fleet_init_units(Zentar& world, float ships) {
    float total = 0;
    for (int i = 1; i < world.top; i++) {
        const Item& it = world.items[i];
        if (!it.in_use || !it.has_ships || it.has_unit) continue;
        if (!zt_in_clip(world, it.position_x, it.position_y)) continue;
        total += std::max(0.0f, it.ships_value);
    }
    int avail = _fleet_items_available(world);
    float u1 = std::trunc(std::min(std::sqrt(17 * ships), std::trunc(ships)));
    // No ships in view at all: the share rule has nothing to divide by, so
    // the whole budget is this launch's. Infinite cargo over an infinite
    // total is a share of one.
    float share = total > 0 ? ships / total : 1.0f;
    if (std::isnan(share)) share = 1.0f;
    float u2 = avail > 0 ? avail * share : 0.0f;
    float u = std::min(u1, u2);
    // Zero, negative and NaN cargo still make the one unit a fleet needs.
    return std::clamp(zt_sat_int(u), 1, static_cast<int32_t>(ZT_ITEMS));
}

Item* fleet_init(Zentar& world, int owner, float ships, int from, int to) {
    // A fleet flies with one unit at least. Without room for the fleet and
    // that unit nothing is launched, and no slot or uid is spent on trying.
    if (ZT_ITEMS - 1 - world.live < 2) {
        std::memset(static_cast<void*>(&_fleet_none), 0, sizeof(Item));
        return &_fleet_none;
    }
    Item* fleet = item_init(world);
    if (fleet->n == 0) return fleet;
    // Units fly for a user (whose factor gives their speed: nobody's would
    // never move) and land on a planet (their ships go into its garrison).
    if (from == to || !(ships >= 1) || !zt_used(world, from) || !zt_used(world, to) ||
        !world.items[to].has_planet || !zt_used(world, owner) || !world.items[owner].has_user) {
        item_deinit(world, fleet);
        return fleet;
    }
    const Item& src = world.items[from];
    const Item& dst = world.items[to];
    // Spawn on the rim of the source, facing the target.
    float angle = std::atan2(dst.position_y - src.position_y, dst.position_x - src.position_x);
    float cx = src.position_x + src.collide_r * std::cos(angle);
    float cy = src.position_y + src.collide_r * std::sin(angle);
    // A source or target off every map (a mod's NaN or infinite position or
    // radius) has no rim: its units would fly nowhere for ever, ships and all.
    if (!std::isfinite(cx) || !std::isfinite(cy)) {
        item_deinit(world, fleet);
        return fleet;
    }
    int units = _fleet_init_units(world, ships);
    return _fleet_init(world, owner, ships, cx, cy, to, fleet->n, units);
}

Item* _fleet_init(Zentar& world, int owner, float ships, float x, float y, int target,
                  int fleet_n, int units) {
    if (!zt_used(world, fleet_n)) {
        std::memset(static_cast<void*>(&_fleet_none), 0, sizeof(Item));
        return &_fleet_none;
    }
    Item& fleet = world.items[fleet_n];
    if (units < 1) {
        item_deinit(world, &fleet);
        return &fleet;
    }
    const Item& own = _item_read(world, owner);
    float per = ships / units;

    fleet.has_fleet = 1;
    fleet.has_object = 1;
    fleet.has_owner = 1;
    fleet.sync_full = 1;
    fleet.owner_n = owner;
    fleet.render_color = own.render_color;
    fleet.parts_style = own.parts_style;
    fleet.fleet_r = 1.0f;
    fleet.position_x = x;
    fleet.position_y = y;
    fleet.unit_speed = 40 * own.fleet_v_factor;
    fleet.fleet_units = 0;
    fleet.fleet_ships = 0;
    fleet.fleet_target = target;

    // Units start scattered over a disc whose area grows with their number.
    float R = std::sqrt(36.0f * units);
    for (int k = 0; k < units; k++) {
        float dx, dy;
        do {
            dx = (rand() % 2000 - 1000) * R / 1000;
            dy = (rand() % 2000 - 1000) * R / 1000;
        } while (std::sqrt(dx * dx + dy * dy) > R);
        Item* unit = unit_init(world, fleet_n, owner, x + dx, y + dy, target, per);
        if (unit->n == 0) break;  // table full: keep what was made
        fleet.fleet_units += 1;
        fleet.fleet_ships += unit->ships_value;
    }
    if (fleet.fleet_units == 0) item_deinit(world, &fleet);
    return &fleet;
}

int _fleets_reset(Zentar& world, int* fleets, int count) {
    int kept = 0;
    for (int k = 0; k < count; k++) {
        Item& f = world.items[fleets[k]];
        if (!f.in_use || !f.has_fleet) continue;
        f.collide_box[0] = 99999;
        f.collide_box[1] = 99999;
        f.collide_box[2] = -99999;
        f.collide_box[3] = -99999;
        f.position_x = 0;
        f.position_y = 0;
        fleets[kept++] = fleets[k];
    }
    return kept;
}

void _fleets_finish(Zentar& world, FleetSums& sums, const int* fleets, int count) {
    sums.put_back(world);
    for (int k = 0; k < count; k++) {
        Item& f = world.items[fleets[k]];
        if (f.fleet_units > 0) {
            f.position_x /= f.fleet_units;
            f.position_y /= f.fleet_units;
        }
        f.fleet_r = ((f.collide_box[2] - f.collide_box[0]) + (f.collide_box[3] - f.collide_box[1])) / 5;
    }
}

void fleets_loop(Zentar& world) {
    // The fleets are few; remember them instead of walking the table twice more.
    int* fleets = zt_scratch(world).fleets;
    int count = 0;
    int top = world.top;
    for (int i = 1; i < top; i++) {
        const Item& f = world.items[i];
        if (f.in_use && f.has_fleet) fleets[count++] = i;
    }
    count = _fleets_reset(world, fleets, count);
    if (count == 0) return;
    FleetSums sums;
    for (int i = 1; i < top; i++) {
        Item& u = world.items[i];
        if (u.in_use && u.has_unit) _fleet_gather(world, sums, u);
    }
    _fleets_finish(world, sums, fleets, count);
}
