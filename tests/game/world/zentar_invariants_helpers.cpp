// World consistency checks for the tests. Reads the record only: no call
// into the game library, so every test program can link this file.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "world/zentar_invariants.h"

namespace {

struct Faults {
    std::string text;
    int count = 0;
    void add(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        if (++count > 20) return;  // enough to see what went wrong
        char line[256];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(line, sizeof(line), fmt, ap);
        va_end(ap);
        text += line;
        text += '\n';
    }
};

bool used(const Zentar& w, int n) { return n >= 1 && n < ZT_ITEMS && w.items[n].in_use; }
bool used_as(const Zentar& w, int n, uint8_t Item::*flag) { return used(w, n) && w.items[n].*flag; }

}  // namespace

std::string zentar_invariants(const Zentar& w) {
    Faults f;
    static const Item zero{};
    if (std::memcmp(&w.items[0], &zero, sizeof(Item)) != 0) f.add("slot 0 was written");
    if (w.top < 1 || w.top > ZT_ITEMS) return "top out of range\n";
    if (w.free_hint < 1 || w.free_hint > w.top) f.add("free_hint %d outside 1..top %d", w.free_hint, w.top);
    if (w.top > 1 && !w.items[w.top - 1].in_use) f.add("slot under top %d is free", w.top);

    int live = 0;
    std::set<int32_t> uids;
    std::vector<int> units(ZT_ITEMS, 0);
    std::vector<double> ships(ZT_ITEMS, 0.0);
    for (int i = 1; i < ZT_ITEMS; i++) {
        const Item& it = w.items[i];
        if (!it.in_use) {
            if (i < w.free_hint) f.add("slot %d below free_hint %d is free", i, w.free_hint);
            continue;
        }
        live++;
        if (i >= w.top) f.add("slot %d used at or above top %d", i, w.top);
        if (it.n != i) f.add("slot %d has n %d", i, it.n);
        if (!uids.insert(it.sync_id).second || static_cast<uint32_t>(it.sync_id) > w.uid_counter)
            f.add("slot %d has a repeated or unissued uid %d", i, it.sync_id);
        if (it.has_unit) {
            if (!used_as(w, it.unit_fleet, &Item::has_fleet)) {
                f.add("unit %d belongs to no used fleet (%d)", i, it.unit_fleet);
            } else {
                units[it.unit_fleet]++;
                ships[it.unit_fleet] += it.ships_value;
                if (w.items[it.unit_fleet].owner_n != it.owner_n) f.add("unit %d owner differs from its fleet", i);
            }
            if (!used_as(w, it.unit_target, &Item::has_planet)) f.add("unit %d aims at %d", i, it.unit_target);
            if (!(it.ships_value >= 0.001f)) f.add("unit %d carries %f ships", i, it.ships_value);
        }
        if (it.has_fleet) {
            if (!used_as(w, it.fleet_target, &Item::has_planet)) f.add("fleet %d aims at %d", i, it.fleet_target);
            if (!used_as(w, it.owner_n, &Item::has_user)) f.add("fleet %d owner %d is no user", i, it.owner_n);
        }
        if (it.has_planet) {
            if (it.owner_n != 0 && !used_as(w, it.owner_n, &Item::has_user))
                f.add("planet %d owner %d is no user", i, it.owner_n);
            // A send takes the float sum of its units' shares, which may
            // exceed the garrison by a rounding step.
            if (!(it.ships_value >= -1e-3f) || std::isinf(it.ships_value))
                f.add("planet %d holds %f ships", i, it.ships_value);
        }
        if (it.has_user && !used(w, it.user_team_n)) f.add("user %d team %d is not used", i, it.user_team_n);
    }
    if (live != w.live) f.add("live %d but %d slots used", w.live, live);

    for (int i = 1; i < w.top; i++) {
        const Item& it = w.items[i];
        if (!it.in_use || !it.has_fleet) continue;
        if (it.fleet_units != units[i] || units[i] < 1)
            f.add("fleet %d counts %d units but has %d", i, it.fleet_units, units[i]);
        double tol = 1e-3 * std::fabs(ships[i]) + 0.01 + 0.002 * units[i];
        if (std::fabs(it.fleet_ships - ships[i]) > tol)
            f.add("fleet %d ship total %f, units carry %f", i, it.fleet_ships, ships[i]);
    }
    if (f.count > 20) f.text += "...\n";
    return f.text;
}

double zentar_ship_total(const Zentar& w) {
    double total = 0;
    for (int i = 1; i < w.top && i < ZT_ITEMS; i++) {
        const Item& it = w.items[i];
        if (it.in_use && (it.has_planet || it.has_unit)) total += it.ships_value;
    }
    return total;
}

double zentar_production_bound(const Zentar& w, float dt) {
    double factor = 0, production = 0;
    for (int i = 1; i < w.top && i < ZT_ITEMS; i++) {
        const Item& it = w.items[i];
        if (!it.in_use) continue;
        if (it.has_user) factor = std::max(factor, static_cast<double>(it.ships_production_factor));
        if (it.has_planet) production += std::max(0.0f, it.ships_production);
    }
    return dt * factor * production / 50;
}
