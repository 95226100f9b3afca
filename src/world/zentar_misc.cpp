// zentar_misc: the operations a match is set up and played with.
//
// Mods, the host's command handler, the client's predictions and the unit
// step all come through here. Slot numbers come from scripts and the network,
// so each operation checks that its slots are used items of the right kind
// and otherwise does nothing.
#include <algorithm>
#include <cfloat>  // FLT_MAX
#include <cmath>
#include <cstring>

#include "world/zentar.h"
#include "world/zentar_sim.h"

static void _z2_title(Item& it, const char* name) {
    std::memset(it.title_value, 0, sizeof(it.title_value));
    if (name) std::strncpy(it.title_value, name, sizeof(it.title_value) - 1);
}

// Releases one slot; clients must learn that a synced slot left.
static void _z2_release(Zentar& world, Item& it) {
    if (it.has_sync) world.active_changed = 1;
    item_deinit(world, &it);
}

// ---- teams and users -------------------------------------------------------------

Item* team_init(Zentar& world, const char* name, int color) {
    Item* team = item_init(world);
    if (!name) name = "";
    team->render_color = color;
    team->has_object = 1;
    team->has_title = 1;
    _z2_title(*team, name);
    // The scratch record of a full table has no slot to style.
    if (team->n)
        planet_style_init(world, team->n, color, color,
                          std::strcmp(name, "neutral") == 0 ? "neutral" : nullptr, nullptr);
    return team;
}

Item* user_init(Zentar& world, const char* name, int color, int team) {
    Item* user = item_init(world);
    if (!name) name = "";
    bool neutral = std::strcmp(name, "neutral") == 0;
    user->has_user = 1;
    user->has_object = 1;
    user->has_title = 1;
    user->ships_production_enabled = 1;
    user->render_color = color;
    _z2_title(*user, name);
    user->user_neutral = neutral ? 1 : 0;
    // Without a team a user is a side of its own.
    user->user_team_n = (team >= 1 && team < ZT_ITEMS) ? team : user->n;
    std::memset(user->fleet_image, 0, sizeof(user->fleet_image));
    std::strcpy(user->fleet_image, "ship");
    user->planet_color = color;
    user->fleet_color = color;
    user->ui_ships_show_mask = 23;
    user->ui_fleet_redirect = 1;
    user->ui_to_mask = 15;
    user->fleet_v_factor = 1.0f;
    user->ships_production_factor = 1.0f;
    user->ships_value_factor = 1.0f;
    user->parts_style = 0;
    if (user->n) {
        int team_color = _item_read(world, user->user_team_n).render_color;
        planet_style_init(world, user->n, user->planet_color, team_color,
                          neutral ? "neutral" : nullptr, nullptr);
    }
    return user;
}

int zt_aim_kinds(const Zentar& world, int user, const Item& target) {
    static const Item none{};
    const Item& o = zt_used(world, target.owner_n) ? world.items[target.owner_n] : none;
    int kinds;
    if (!zt_used(world, user))
        kinds = o.user_neutral ? 4 : 8;
    else if (&o == &world.items[user])
        kinds = 1;
    else if (&o != &none && o.user_team_n == world.items[user].user_team_n)
        kinds = 2;
    else if (o.user_neutral)
        kinds = 4;
    else
        kinds = (target.planet_mask & 4) ? 0 : 8;
    return o.user_reveal ? kinds + 16 : kinds;
}

// ---- map layout ------------------------------------------------------------------

// Spreads the planets of a new map apart with sixteen collision passes on
// radii grown by 8. With a rectangle, four immovable corner planets of radius
// 72 push everything off the corners, and every item is clamped inside.
void z2_settle(Zentar& world, float x, float y, float w, float h) {
    bool corners = w != 0 && h != 0;
    float x2 = x + w, y2 = y + h;

    for (int i = 1; i < world.top; i++) {
        Item& it = world.items[i];
        if (!it.in_use || !it.has_collide) continue;
        it.collide_r += 8;
        if (it.has_planet) it.collide_yield_id = 1;  // planets give way to each other
    }

    Item* corner[4] = {nullptr, nullptr, nullptr, nullptr};
    if (corners) {
        for (auto& c : corner) {
            c = planet_init(world, 1, 0, 0, 10000, 0);
            c->collide_r = 72;
        }
    }
    const float cx[4] = {x, x2, x, x2};
    const float cy[4] = {y, y, y2, y2};

    for (int round = 0; round < 16; round++) {
        if (corners) {
            for (int i = 1; i < world.top; i++) {
                Item& it = world.items[i];
                if (!it.in_use || !it.has_collide) continue;
                float r = it.collide_r;
                it.position_x = std::min(std::max(x + r, it.position_x), x2 - r);
                it.position_y = std::min(std::max(y + r, it.position_y), y2 - r);
            }
            for (int k = 0; k < 4; k++) {
                corner[k]->position_x = cx[k];
                corner[k]->position_y = cy[k];
            }
        }
        collide_loop(world);
    }

    if (corners) {
        for (auto* c : corner)
            if (c->n) item_deinit(world, c);
    }

    for (int i = 1; i < world.top; i++) {
        Item& it = world.items[i];
        if (!it.in_use || !it.has_collide) continue;
        it.collide_r -= 8;
        it.collide_target = 0;
        if (it.has_planet) it.collide_yield_id = 0;
    }
}

// ---- commands --------------------------------------------------------------------

int z2_send(Zentar& world, int percent, int from, int to) {
    if (!zt_used(world, from) || !zt_used(world, to)) return 0;
    Item& src = world.items[from];
    if (!src.has_planet || !world.items[to].has_planet) return 0;
    if (percent < 1 || percent > 100) return 0;

    float n = percent * src.ships_value / 100;
    n = std::copysign(std::trunc(std::fabs(n) + 0.5f), n);  // half away from zero
    n = std::min(n, src.ships_value);
    if (!(n >= 1)) return 0;

    // An infinite garrison (ships near the float limit grow into one) sends
    // the most a count can hold, and keeps its infinity: infinity less
    // infinity is no number, and would spread to every planet it lands on.
    n = std::min(n, FLT_MAX);
    Item* fleet = fleet_init(world, src.owner_n, n, from, to);
    if (fleet->n == 0) return 0;
    // What the units really carry leaves the planet, not what was asked.
    if (!std::isinf(src.ships_value)) src.ships_value -= fleet->fleet_ships;
    fleet->fleet_source = from;
    return fleet->n;
}

void z2_redirect(Zentar& world, int fleet, int target) {
    if (!zt_used(world, fleet) || !zt_used(world, target)) return;
    Item& f = world.items[fleet];
    if (!f.has_fleet || !world.items[target].has_planet) return;
    f.fleet_target = target;
    f.sync_full = 1;
    for (int i = 1; i < world.top; i++) {
        Item& u = world.items[i];
        if (!u.in_use || !u.has_unit || u.unit_fleet != fleet) continue;
        u.collide_group = u.collide_yield_id = _unit_group(u.owner_n, target);
        u.collide_yield_mask = 1;
        u.unit_target = target;
    }
    _z2_cancan(world, fleet);
}

// The last fleet of a player with no planet left gets its sound, once.
void _z2_cancan(Zentar& world, int fleet) {
    if (!zt_used(world, fleet)) return;
    const Item& f = world.items[fleet];
    if (!f.has_fleet || f.fleet_units >= 2 || world.lost_fleet == fleet) return;
    for (int i = 1; i < world.top; i++) {
        const Item& it = world.items[i];
        if (!it.in_use) continue;
        if (it.has_fleet && i != fleet) return;
        if (it.has_planet && it.owner_n == f.owner_n) return;
    }
    sys_sound("kazoo");
    world.lost_fleet = fleet;
}

void z2_chown(Zentar& world, int item, int user) {
    if (!zt_used(world, item) || user < 0 || user >= ZT_ITEMS) return;
    Item& it = world.items[item];
    const Item& u = _item_read(world, user);
    it.owner_n = user;
    it.sync_full = 1;
    it.render_color = u.render_color;
    std::memmove(static_cast<void*>(&it.planet_style), &u.planet_style, sizeof(it.planet_style));
    it.ships_production_enabled = u.ships_production_enabled;
    it.planet_mask = u.planet_mask;
    parts_planet_explode(world, it.position_x, it.position_y, it.collide_r, u.parts_style);
    sys_sound_at(world, "explode", it.position_x, it.position_y);
}

void z2_destroy(Zentar& world, int n) {
    if (!zt_used(world, n)) return;
    Item& it = world.items[n];
    if (it.has_fleet) {
        for (int i = 1; i < world.top; i++) {
            Item& u = world.items[i];
            if (u.in_use && u.has_unit && u.unit_fleet == n) _z2_release(world, u);
        }
    }
    if (it.has_planet) {
        for (int i = 1; i < world.top; i++) {
            Item& f = world.items[i];
            if (f.in_use && f.has_fleet && f.fleet_target == n) z2_destroy(world, i);
        }
    }
    // Slot numbers come round again: what a departed user owned, or a user
    // that had it as its team, would pass to the next item in its slot (a
    // player joining later would find planets of their own and allies). Its
    // planets stay where they are with nobody's name on them (no sound, no
    // burst: nobody took them), its fleets have nobody to fly for and go,
    // and a member is a side of its own again.
    // Units and fleets, which go by the thousand, are nobody's team or owner.
    if (!it.has_unit && !it.has_fleet) {
        for (int i = 1; i < world.top; i++) {
            Item& o = world.items[i];
            if (i == n || !o.in_use) continue;
            if (o.has_user && o.user_team_n == n) {
                o.user_team_n = i;
                o.sync_full = 1;
            }
            if (!it.has_user || o.has_unit || o.owner_n != n) continue;
            if (o.has_fleet) {
                z2_destroy(world, i);
            } else {
                o.owner_n = 0;
                o.sync_full = 1;
            }
        }
    }
    // A unit removed on its own leaves its fleet's totals right, and an
    // emptied fleet goes with it.
    int emptied = 0;
    if (it.has_unit && zt_used(world, it.unit_fleet) && it.unit_fleet != n) {
        Item& f = world.items[it.unit_fleet];
        if (f.has_fleet) {
            f.fleet_units -= 1;
            f.fleet_ships -= it.ships_value;
            if (f.fleet_units < 1) emptied = f.n;
        }
    }
    _z2_release(world, it);
    if (emptied) z2_destroy(world, emptied);
}
