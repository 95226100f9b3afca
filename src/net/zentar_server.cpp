// zentar_server: host side of world sync.
//
// Host to clients ("all" = empty addressee uid):
//   "A"  4096 bytes: byte n is has_sync of slot n while it is in use, else 0
//        (byte 0 always 0). Reliable only when a synced item was removed since
//        the last "A"; to all.
//   "I"  the 640-byte Item (sync_full already cleared); reliable; to all.
//        Becomes the slot's base.
//   "S"  the 640-byte base copy of a slot; reliable; to the refreshing uid.
//        An item still waiting for its whole record goes to that uid as "I".
//   "D"  640 bytes: base XOR item, except bytes 4..7, which hold the slot
//        number n (i32, little-endian). Unreliable in the regular passes,
//        reliable inside a refresh.
//   "F"  "%d %d %d %d": slot, old uid, target slot, new uid; reliable; to all.
//   "R"  empty; reliable; to the refreshing uid: reset before a full resend.
//   "X"  "%s %f %f %f %f %f %f %f %f": bkgr_src, view x y w h, bounds x y w h
//        (at most 511 characters); reliable.
//   "P"  the client's value, unchanged; unreliable; to the sender.
// Clients to host (fields separated by single blanks, read as numbers and
// truncated to integers; a missing field reads 0):
//   "send"      percent, source slot, target slot, source sync_id, temporary id
//   "redirect"  fleet slot or temporary id (> 65535), target slot, fleet
//               sync_id (0 = unchecked); the fleet goes out whole with the
//               next pass
//   "refresh", and the endpoint's "join" / "rejoin": full resend to that uid
//   "P"         echoed
// Both commands are the sender's own: its planet or fleet, a target its
// match controls would let it pick, and a redirect only while its mod lets
// it turn fleets.
// A temporary id is the client's user slot << 16 plus a counter, so it is at
// least 65536 and its upper 16 bits name the user that may use it.
#include "net/zentar_server.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>  // records XORed sixteen bytes at a time
#endif

#include "net/zentar_sync_hooks.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar_sim.h"  // z2_send, z2_redirect, sys_ticks

// ---- module state ------------------------------------------------------------------

namespace {

struct ZentarServer {
    std::map<int32_t, int32_t> temp;  // client temporary id -> host fleet slot
    int64_t prev = -1;                // timer at the previous loop, -1 before the first
    int64_t next = 0;                 // timer at which the next full pass is due
};
ZentarServer zs;

// Past this many entries the lookup sweeps out ids whose fleet is gone
// (fleets removed by z2_destroy never reach the destroy hook).
constexpr size_t TEMP_SWEEP_AT = 8192;

// Fields of a command, split at single blanks; missing ones read 0.
std::vector<int32_t> _zs_fields(const std::string& value, size_t want) {
    std::vector<int32_t> out;
    size_t pos = 0;
    while (pos <= value.size() && out.size() < want) {
        size_t end = value.find(' ', pos);
        if (end == std::string::npos) end = value.size();
        std::string tok = value.substr(pos, end - pos);
        out.push_back(zt_sat_int(strtod(tok.c_str(), nullptr)));
        pos = end + 1;
    }
    out.resize(want, 0);
    return out;
}

// Message types and the everybody address, made once rather than for each
// of the thousands of records a pass sends.
const std::string zs_all, zs_item("I"), zs_base("S"), zs_delta("D");

// d = a XOR b over one record, a cache line at a time.
void _zs_xor(char* d, const Item* a, const Item* b) {
    static_assert(sizeof(Item) % 64 == 0, "records XOR in whole sixty-fours");
    const char* pa = reinterpret_cast<const char*>(a);
    const char* pb = reinterpret_cast<const char*>(b);
    for (size_t k = 0; k < sizeof(Item); k += 64) {
#if defined(__SSE2__)
        // A cache line at a time, four sixteens loaded before any is stored.
        auto at = [](const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
        __m128i x0 = _mm_xor_si128(at(pa + k), at(pb + k));
        __m128i x1 = _mm_xor_si128(at(pa + k + 16), at(pb + k + 16));
        __m128i x2 = _mm_xor_si128(at(pa + k + 32), at(pb + k + 32));
        __m128i x3 = _mm_xor_si128(at(pa + k + 48), at(pb + k + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), x0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k + 16), x1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k + 32), x2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k + 48), x3);
#else
        for (size_t j = k; j < k + 64; j++) d[j] = static_cast<char>(pa[j] ^ pb[j]);
#endif
    }
}

// Slot of the sender's user item, 0 when none. Bots have no account id, so
// an empty uid never matches.
int _zs_user(const Zentar& world, const std::string& account) {
    if (account.empty()) return 0;
    std::string uid = net_uid(account);
    for (int i = 1; i < world.top && i < ZT_ITEMS; i++) {
        const Item& it = world.items[i];
        if (!it.in_use || !it.has_user) continue;
        size_t len = strnlen(it.user_uid, sizeof(it.user_uid));
        if (len == uid.size() && memcmp(it.user_uid, uid.data(), len) == 0) return i;
    }
    return 0;
}

// Whether user u's match controls let it aim at planet t: one the controls
// can pick (selectable, not hidden from the pointer), of a kind its
// ui_to_mask takes (1 own, 2 team, 4 neutral, 8 others, unless the planet
// keeps others away, 16 revealed owner). A mod blocks sends, or sends to
// some planets, with these; a client that skipped its controls would
// otherwise get past the mod's rules.
bool _zs_may_aim(const Zentar& world, int u, int t) {
    const Item& target = world.items[t];
    if (!target.has_select || (target.planet_mask & 8)) return false;
    return (zt_aim_kinds(world, u, target) & static_cast<uint8_t>(world.items[u].ui_to_mask)) != 0;
}

void _zs_temp_set(Zentar& world, int32_t t, int32_t slot) {
    if (zs.temp.size() >= TEMP_SWEEP_AT) {
        for (auto it = zs.temp.begin(); it != zs.temp.end();) {
            const Item& f = _item_read(world, it->second);
            if (!f.in_use || f.sync_temp_id != it->first) it = zs.temp.erase(it);
            else ++it;
        }
    }
    zs.temp[t] = slot;
    // The world forgets the entries with the fleets and at its reset.
    sys_listeners.host_reset = _zentar_server_on_reset;
    sys_listeners.host_fleet_gone = _zentar_server_on_destroy;
}

// Sends slot n to all at once and clears its fleet_source.
void _zs_sync_now(Net* net, Zentar& world, int n) {
    if (!net || !zt_used(world, n) || !world.items[n].has_sync) return;
    zentar_server_sync_item(net, world, n, 0, "");
    world.items[n].fleet_source = 0;
}

void _zs_send(Net* net, Zentar& world, const NetMessage& msg) {
    int u = _zs_user(world, msg.uid);
    if (!u) return;
    std::vector<int32_t> f = _zs_fields(msg.value, 5);
    int percent = f[0], src = f[1], dst = f[2];
    int32_t t = f[4];
    if (percent < 1 || percent > 100) return;
    if (!zt_used(world, src) || !world.items[src].has_planet) return;
    if (!zt_used(world, dst) || !world.items[dst].has_planet) return;
    if (f[3] != world.items[src].sync_id) return;
    if (t != 0 && (t < 0 || (t >> 16) != u)) return;
    if (world.items[src].owner_n != u) return;
    if (!_zs_may_aim(world, u, dst)) return;
    int fleet = z2_send(world, percent, src, dst);
    if (!zt_slot(fleet)) return;
    world.items[fleet].sync_temp_id = t;
    if (t) _zs_temp_set(world, t, fleet);
    _zs_sync_now(net, world, fleet);
}

void _zs_redirect(Zentar& world, const NetMessage& msg) {
    int u = _zs_user(world, msg.uid);
    if (!u) return;
    std::vector<int32_t> f = _zs_fields(msg.value, 3);
    int fleet = f[0], dst = f[1];
    if (fleet > 65535) {
        int32_t t = fleet;
        fleet = _zentar_server_temp_lookup(t);
        // The slot may have been taken by another fleet since.
        if (fleet && world.items[fleet].sync_temp_id != t) fleet = 0;
    }
    if (!zt_used(world, fleet)) return;
    const Item& fl = world.items[fleet];
    if (!fl.has_fleet || fl.owner_n != u) return;
    if (!zt_used(world, dst) || !world.items[dst].has_planet) return;
    if (f[2] != 0 && f[2] != fl.sync_id) return;
    // The controls turn fleets only for a user whose mod lets them.
    if (!world.items[u].ui_fleet_redirect || !_zs_may_aim(world, u, dst)) return;
    // The turned fleet waits for its whole record, which the host loop's
    // next pass sends, before anything it queues now leaves: one record to
    // every player however often the fleet was turned meanwhile. Sent at
    // once, each command of twenty bytes made a record of 640 for each of
    // them, and a client turning one fleet thousands of times a second
    // flooded every other player's line.
    z2_redirect(world, fleet, dst);
}

void _zs_refresh(Net* net, Zentar& world, const std::string& uid) {
    // An empty addressee would reset every client.
    if (uid.empty()) return;
    net->send(uid, "R", "", 1);
    zentar_server_sync_ext(net, world, uid);
    for (int i = 1; i < world.top && i < ZT_ITEMS; i++) {
        Item& it = world.items[i];
        if (!it.in_use || !it.has_sync) continue;
        if (!it.sync_full) {
            zentar_server_sync_item(net, world, i, 1, uid);
            continue;
        }
        // Waiting for its whole record, which may not have gone out yet: its
        // base can be no copy of it. This client gets it whole now; everybody
        // gets it with the next pass, before any delta of it.
        memset(it.collide_box, 0, sizeof(it.collide_box));
        Item whole = it;
        whole.sync_full = 0;
        net->send(uid, "I", reinterpret_cast<const char*>(&whole), sizeof(Item), 1);
    }
}

}  // namespace

// ---- items ---------------------------------------------------------------------------

void zentar_server_sync_item(Net* net, Zentar& world, int n, int mode, const std::string& uid) {
    if (!net || !zt_slot(n)) return;
    Item& it = world.items[n];
    Item& base = world.base[n];
    memset(it.collide_box, 0, sizeof(it.collide_box));
    if (mode == 0 && it.sync_full == 1) {
        it.sync_full = 0;
        memcpy(static_cast<void*>(&base), &it, sizeof(Item));
        net->send(uid, zs_item, reinterpret_cast<const char*>(&it), sizeof(Item), 1);
        it.sync_ships_sent = zt_sat_int(it.fleet_ships);
        return;
    }
    if (mode == 1) net->send(uid, zs_base, reinterpret_cast<const char*>(&base), sizeof(Item), 1);

    // The delta is written straight into the queued message's room.
    std::string& delta = net->queue(uid, zs_delta, mode == 1 ? 1 : 0).value;
    delta.resize(sizeof(Item));
    _zs_xor(delta.data(), &base, &it);
    int32_t slot = n;
    memcpy(delta.data() + offsetof(Item, n), &slot, sizeof(slot));
    if (mode == 0) it.sync_ships_sent = zt_sat_int(it.fleet_ships);
}

void zentar_server_sync_active(Net* net, Zentar& world) {
    if (!net) return;
    std::string map(ZT_ITEMS, '\0');
    for (int i = 1; i < world.top && i < ZT_ITEMS; i++) {
        const Item& it = world.items[i];
        if (it.in_use) map[static_cast<size_t>(i)] = static_cast<char>(it.has_sync);
    }
    int changed = world.active_changed;
    world.active_changed = 0;
    net->send("", "A", map, changed ? 1 : 0);
}

void zentar_server_sync_ext(Net* net, Zentar& world, const std::string& uid) {
    if (!net) return;
    char text[512];
    snprintf(text, sizeof(text), "%.15s %f %f %f %f %f %f %f %f", world.bkgr_src,
             static_cast<double>(world.view[0]), static_cast<double>(world.view[1]),
             static_cast<double>(world.view[2]), static_cast<double>(world.view[3]),
             static_cast<double>(world.bounds[0]), static_cast<double>(world.bounds[1]),
             static_cast<double>(world.bounds[2]), static_cast<double>(world.bounds[3]));
    net->send(uid, "X", text, 1);
}

void zentar_server_sync_items_all(Net* net, Zentar& world) {
    if (!net) return;
    zentar_server_sync_active(net, world);
    for (int i = 1; i < world.top && i < ZT_ITEMS; i++) {
        const Item& it = world.items[i];
        if (it.in_use && it.has_sync) zentar_server_sync_item(net, world, i, 0, zs_all);
    }
}

void zentar_server_sync_items_now(Net* net, Zentar& world) {
    if (!net) return;
    if (world.active_changed) zentar_server_sync_active(net, world);
    for (int i = 1; i < world.top && i < ZT_ITEMS; i++) {
        const Item& it = world.items[i];
        if (it.in_use && it.has_sync && it.sync_full) zentar_server_sync_item(net, world, i, 0, zs_all);
    }
}

// ---- schedule --------------------------------------------------------------------------

void zentar_server_loop(Net* net, Zentar& world) {
    if (!net) return;
    if (world.ext_changed) {
        zentar_server_sync_ext(net, world, "");
        world.ext_changed = 0;
    }
    int64_t now = sys_ticks();
    if (zs.prev < 0) zs.prev = now;
    bool full;
    if (now < zs.prev) {
        // The timer went back (daily reset): start the schedule again.
        zs.prev = now;
        zs.next = now + 1000;
        full = true;
    } else {
        zs.prev = now;
        if (now < zs.next) {
            full = false;
        } else {
            zs.next += 1000;
            if (now >= zs.next) zs.next = now + 1000;
            full = true;
        }
    }
    if (full) zentar_server_sync_items_all(net, world);
    else zentar_server_sync_items_now(net, world);
}

// ---- commands --------------------------------------------------------------------------

void zentar_server_handle(Net* net, Zentar& world, NetMessage& msg) {
    if (!net) return;
    const std::string& type = msg.type;
    if (type == "P") {
        net->send(msg.uid, "P", msg.value, 0);
    } else if (type == "send") {
        _zs_send(net, world, msg);
    } else if (type == "redirect") {
        _zs_redirect(world, msg);
    } else if (type == "refresh" || type == "join" || type == "rejoin") {
        _zs_refresh(net, world, msg.uid);
    }
}

// ---- through the Game -------------------------------------------------------------------

ZentarSyncHooks zentar_sync_hooks{};

// The host endpoint this process runs and the world it serves; null without one.
static Net* _zs_host(Zentar** world) {
    *world = nullptr;
    Net* host = zentar_sync_hooks.host ? zentar_sync_hooks.host(world) : nullptr;
    return host && *world ? host : nullptr;
}

void zentar_server_sync_item_now(int n) {
    Zentar* served = nullptr;
    Net* host = _zs_host(&served);
    if (!host) return;
    _zs_sync_now(host, *served, n);
}

void zentar_server_sync_redirect_now(int n, int reissue) {
    Zentar* served = nullptr;
    Net* host = _zs_host(&served);
    if (!host || !zt_slot(n)) return;
    Zentar& world = *served;
    Item& it = world.items[n];
    if (reissue == 1 && it.in_use && it.sync_temp_id != 0) {
        int32_t old_id = it.sync_id;
        world.uid_counter += 1;
        int32_t new_id = static_cast<int32_t>(world.uid_counter);
        it.sync_id = new_id;
        world.base[n].sync_id = new_id;
        char text[64];
        snprintf(text, sizeof(text), "%d %d %d %d", n, old_id, it.fleet_target, new_id);
        host->send("", "F", text, 1);
        return;
    }
    _zs_sync_now(host, world, n);
}

// ---- world hooks ---------------------------------------------------------------------------

void _zentar_server_on_destroy(Zentar& world, int n) {
    if (!zt_slot(n)) return;
    int32_t t = world.items[n].sync_temp_id;
    if (!t) return;
    auto it = zs.temp.find(t);
    if (it != zs.temp.end() && it->second == n) zs.temp.erase(it);
}

void _zentar_server_on_reset(Zentar&) { zs.temp.clear(); }

int _zentar_server_temp_lookup(int temp_id) {
    auto it = zs.temp.find(temp_id);
    return it == zs.temp.end() ? 0 : it->second;
}

int _zentar_server_temp_count() { return static_cast<int>(zs.temp.size()); }

void _zentar_server_schedule_reset() {
    zs.prev = -1;
    zs.next = 0;
}
