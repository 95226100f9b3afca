// zentar: world reset and item slot allocation.
//
// The byte layout of Item (the record the world sync carries) is written
// beside its fields in zentar.h, with a static_assert on every offset.
//
// Invariants kept here: live counts the used slots; every used slot lies in
// 1 .. top-1; every slot below free_hint is used; a used slot's n is its
// index; uids only grow.
#include "world/zentar.h"

#include <cstring>  // memset
#include <ctime>    // time, for seed_time

#include "ruvezor/util/qel_log.h"
#include "world/zentar_sim.h"  // sys_listeners

// ---- other modules reset with the world -----------------------------------------
// The colour-blind palette and the host's temporary-id lookup.
static void _sys_init_others(Zentar& world) {
    if (sys_listeners.palette_reset) sys_listeners.palette_reset();
    if (sys_listeners.host_reset) sys_listeners.host_reset(world);
}

// ---- module state ------------------------------------------------------------------

// Handed out when the table is full; never reachable through a slot index.
static Item _item_scratch;
// Read by _item_read for slot numbers outside the table; never written.
const Item _item_none{};

// ---- public ------------------------------------------------------------------------

void sys_init(Zentar& world) {
    uint32_t uid = world.uid_counter;
    std::memset(static_cast<void*>(&world), 0, sizeof(world));
    world.uid_counter = uid;
    world.seed_time = static_cast<int32_t>(time(nullptr));
    world.free_hint = 1;
    world.top = 1;
    world.bkgr_stars = 1;
    world.bkgr_zoom = 1.0f;
    _sys_init_others(world);
}

Item* item_init(Zentar& world) {
    int start = world.free_hint < 1 ? 1 : world.free_hint;
    int slot = 0;
    for (int i = start; i < ZT_ITEMS; i++) {
        if (!world.items[i].in_use) {
            slot = i;
            break;
        }
    }
    if (!slot) {
        std::memset(static_cast<void*>(&_item_scratch), 0, sizeof(Item));
        return &_item_scratch;
    }
    Item& it = world.items[slot];
    std::memset(static_cast<void*>(&it), 0, sizeof(Item));
    it.in_use = 1;
    it.n = slot;
    world.uid_counter += 1;
    it.sync_id = static_cast<int32_t>(world.uid_counter);
    it.has_sync = 1;
    it.sync_full = 1;
    world.live += 1;
    if (slot < world.top) {
        world.free_hint = slot + 1;
    } else {
        world.top = slot + 1;
        world.free_hint = slot + 1;
    }
    return &it;
}

void item_deinit(Zentar& world, Item* item) {
    if (!item) return;
    if (item == &_item_scratch) {
        item->in_use = 0;
        return;
    }
    // The slot comes from the pointer, not from the record's own n, which raw
    // copies from the network could have set to anything.
    if (item < world.items + 1 || item >= world.items + ZT_ITEMS) {
        qel_log("item_deinit: not an item of this world\n");
        return;
    }
    int n = static_cast<int>(item - world.items);
    if (!item->in_use) {  // already free: counting it again would break live
        item->n = 0;
        return;
    }
    item->in_use = 0;
    world.live -= 1;
    if (n < world.free_hint) world.free_hint = n;
    if (n == world.top - 1) {
        int t = n - 1;
        while (t >= 1 && !world.items[t].in_use) t--;
        world.top = t + 1;
    }
    item->n = 0;
}

