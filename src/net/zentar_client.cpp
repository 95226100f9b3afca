// zentar_client: client side of world sync.
//
// Host messages are laid out at the top of zentar_server.cpp. Records ("I",
// "S", "D") are raw 640-byte Items whose bytes 4..7 name the host slot h.
// Every record is cleaned before use: its host slot references are
// range-checked and translated to local slots (0 when out of range or not
// mapped), its text fields get their terminators, its reals that are not
// finite, or lie outside what the simulation and the painter handle
// (positions, radii, masses, speeds, ship counts, picture and label sizes;
// see the bounds in zentar_client.h), become 0 with a log line, its hold
// time (a client-only field) is cleared, and a claim to be a unit is
// dropped. An item's reference to a host slot not mapped yet (a joining
// client meets planets before their owners) reads 0 and is filled in once
// that slot is mapped; a fleet that would fly for an unknown owner or to an
// unknown target waits for the host's next record instead. A local endpoint
// (the hosting player's own) ignores all of this: its world is the host's.
#include "net/zentar_client.h"

#include <algorithm>  // min
#include <array>
#include <cfloat>     // FLT_MAX
#include <cmath>
#include <cstddef>
#include <cstdint>    // SIZE_MAX
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "net/zentar_sync_hooks.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar_sim.h"

// ---- module state ------------------------------------------------------------------

namespace {

// A local item's reference to a host slot that is not mapped yet.
struct ZcPending {
    int32_t local;   // the item holding the reference
    int32_t item_h;  // that item's host slot
    int32_t ref_h;   // the host slot it names
    uint32_t off;    // where the reference lies in the Item
};

struct ZentarClient {
    std::map<int32_t, int32_t> zlag;  // temporary id -> local slot of the provisional fleet
    std::vector<ZcPending> pending;   // at most one per item and reference field
    int64_t prev = -1;                // timer at the previous ping check, -1 before the first
    int64_t next = 0;                 // timer at which the next ping is due
    int cleaned_logged = 0;           // log lines about cleaned records since the last reset
    // Lines the host's messages make, across resets.
    QelLogLimit log{"net", "lines about the host's messages were left out"};
};
ZentarClient zc;

// A line about a host message may be logged now (the game clock's second).
bool _zc_log_ok() { return zc.log.allow(static_cast<long>(sys_ticks() / 1000)); }

// A hostile host could fill the log with one line per record.
constexpr int CLEANED_LOG_MAX = 20;

constexpr size_t TEMP_SWEEP_AT = 8192;
constexpr size_t REC = sizeof(Item);

// The fields of one kind from the table beside Item, picked at compile time.
template <ZtFieldKind K>
constexpr auto _zc_fields() {
    constexpr size_t n = [] {
        size_t c = 0;
        for (const ZtField& f : ZT_ITEM_FIELDS) c += f.kind == K;
        return c;
    }();
    std::array<ZtField, n> out{};
    size_t i = 0;
    for (const ZtField& f : ZT_ITEM_FIELDS)
        if (f.kind == K) out[i++] = f;
    return out;
}
// Reals a non-finite value would poison in the simulation.
constexpr auto FLOAT_FIELDS = _zc_fields<ZT_F32>();
// Texts outside the planet style block (whose bytes double as pixel art).
constexpr auto TEXT_FIELDS = _zc_fields<ZT_TEXT>();
// Slot references, translated from host to local slots.
constexpr auto SLOT_FIELDS = _zc_fields<ZT_SLOT>();

// The references that name other synced items; the rest are local only.
bool _zc_waits(size_t off) {
    return off == offsetof(Item, owner_n) || off == offsetof(Item, fleet_target) ||
           off == offsetof(Item, user_team_n) || off == offsetof(Item, fleet_source);
}

// This process hosts the match: commands go out unpredicted, slots as they are.
bool _zc_hosting(Net* net, Zentar& world) {
    if (net && net->is_local()) return true;
    Zentar* served = nullptr;
    Net* host = zentar_sync_hooks.host ? zentar_sync_hooks.host(&served) : nullptr;
    return host && served == &world;
}

void _zc_ui_reset(Zentar& world) {
    if (zentar_sync_hooks.ui_reset) zentar_sync_hooks.ui_reset(world);
}

int _zc_temp_get(int32_t t) {
    auto it = zc.zlag.find(t);
    return it == zc.zlag.end() ? 0 : it->second;
}

void _zc_temp_set(Zentar& world, int32_t t, int32_t slot) {
    if (zc.zlag.size() >= TEMP_SWEEP_AT) {
        for (auto it = zc.zlag.begin(); it != zc.zlag.end();) {
            const Item& f = _item_read(world, it->second);
            if (!f.in_use || f.sync_temp_id != it->first) it = zc.zlag.erase(it);
            else ++it;
        }
    }
    zc.zlag[t] = slot;
}

// Host slot of a local item as the host knows it; a provisional fleet goes by
// its temporary id.
int32_t _zc_host_slot(const Zentar& world, int n) {
    const Item& it = _item_read(world, n);
    return it.sync_index ? it.sync_index : it.sync_temp_id;
}

int32_t _zc_rd32(const unsigned char* p) {
    int32_t v;
    memcpy(&v, p, sizeof(v));
    return v;
}

// Reals the simulation works with, and the values it handles. A host sends
// nothing beyond them; past them the collision split of a step runs
// practically for ever (a fleet's units far off the field, radii that cover
// it) and sums run out of the float range.
struct ZcRange {
    size_t off;
    float lo, hi;
};
constexpr ZcRange RANGES[] = {
    {offsetof(Item, position_x), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, position_y), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, collide_r), 0, ZC_RADIUS_MAX},
    {offsetof(Item, planet_r), 0, ZC_RADIUS_MAX},
    {offsetof(Item, fleet_r), 0, ZC_RADIUS_MAX},
    {offsetof(Item, collide_mass), 0, ZC_MASS_MAX},
    {offsetof(Item, unit_speed), 0, ZC_SPEED_MAX},
    {offsetof(Item, motion_vx), -ZC_SPEED_MAX, ZC_SPEED_MAX},
    {offsetof(Item, motion_vy), -ZC_SPEED_MAX, ZC_SPEED_MAX},
    // A user's units fly at 40 times this.
    {offsetof(Item, fleet_v_factor), 0, ZC_SPEED_MAX / 40},
    {offsetof(Item, ships_value), -ZC_SHIPS_MAX, ZC_SHIPS_MAX},
    {offsetof(Item, fleet_ships), -ZC_SHIPS_MAX, ZC_SHIPS_MAX},
    {offsetof(Item, ships_production), -ZC_SHIPS_MAX, ZC_SHIPS_MAX},
    {offsetof(Item, ships_production_factor), -ZC_FACTOR_MAX, ZC_FACTOR_MAX},
    {offsetof(Item, ships_value_factor), -ZC_FACTOR_MAX, ZC_FACTOR_MAX},
    // What the painter sizes its work by.
    {offsetof(Item, image_w), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, image_h), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, image_cx), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, image_cy), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, image_scale), -ZC_IMAGE_SCALE_MAX, ZC_IMAGE_SCALE_MAX},
    {offsetof(Item, draw_r), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, draw_x2), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, draw_y2), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, draw_x3), -ZC_COORD_MAX, ZC_COORD_MAX},
    {offsetof(Item, draw_y3), -ZC_COORD_MAX, ZC_COORD_MAX},
};

const char* _zc_field_name(size_t off) {
    for (const ZtField& f : ZT_ITEM_FIELDS)
        if (off >= f.off && off < static_cast<size_t>(f.off) + f.size) return f.name;
    return "?";
}

// Sets the real at off to 0 when it is not finite or out of its range;
// returns the field's offset when it did, else SIZE_MAX.
size_t _zc_clean_real(unsigned char* b, size_t off, float lo, float hi) {
    float v;
    memcpy(&v, b + off, sizeof(v));
    if (std::isfinite(v) && v >= lo && v <= hi) return SIZE_MAX;
    v = 0;
    memcpy(b + off, &v, sizeof(v));
    return off;
}

void _zc_clean(Item& r, int h) {
    unsigned char* b = reinterpret_cast<unsigned char*>(&r);
    size_t bad = SIZE_MAX;  // the first field set to 0
    int count = 0;
    auto note = [&](size_t off) {
        if (off == SIZE_MAX) return;
        if (bad == SIZE_MAX) bad = off;
        count++;
    };
    for (const ZtField& f : FLOAT_FIELDS)
        for (size_t off = f.off; off < f.off + f.size; off += sizeof(float))
            note(_zc_clean_real(b, off, -FLT_MAX, FLT_MAX));
    for (const ZcRange& g : RANGES) note(_zc_clean_real(b, g.off, g.lo, g.hi));
    if (r.label_size < 0 || r.label_size > ZC_LABEL_SIZE_MAX) {
        r.label_size = 0;  // the painter's own size
        note(offsetof(Item, label_size));
    }
    for (const ZtField& f : TEXT_FIELDS) b[f.off + f.size - 1] = 0;
    r.sync_hold_until = 0;
    r.in_use = 1;
    r.has_sync = 1;
    // Units are never sent (each side spawns its own); one claimed by a
    // record would be counted out of a fleet here that never counted it in.
    r.has_unit = 0;
    // A reset starts the count again, and a host may reset every frame.
    if (!count || zc.cleaned_logged > CLEANED_LOG_MAX || !_zc_log_ok()) return;
    if (++zc.cleaned_logged > CLEANED_LOG_MAX) {
        qel_log("net: more host records with bad values; no more lines until the next reset\n");
        return;
    }
    qel_log("net: host record for slot %d: %d value(s) out of range set to 0, the first in %s\n", h, count,
            _zc_field_name(bad));
}

// Translates the record's references; those naming host slots not mapped yet
// become 0 and are listed in `waiting` for the local item `local` (host slot h).
void _zc_translate(Zentar& world, Item& r, int local, int h, std::vector<ZcPending>& waiting) {
    unsigned char* b = reinterpret_cast<unsigned char*>(&r);
    for (const ZtField& f : SLOT_FIELDS) {
        int32_t v = _zc_rd32(b + f.off);
        int32_t l = zt_slot(v) ? world.client_map_local[v] : 0;
        if (!l && zt_slot(v) && _zc_waits(f.off))
            waiting.push_back(ZcPending{local, h, v, f.off});
        memcpy(b + f.off, &l, sizeof(l));
    }
}

bool _zc_waits_for(const std::vector<ZcPending>& waiting, size_t off) {
    for (const ZcPending& p : waiting)
        if (p.off == off) return true;
    return false;
}

// The references of the record the local item took now replace its old ones.
void _zc_pending_set(int local, const std::vector<ZcPending>& waiting) {
    if (!zc.pending.empty())
        std::erase_if(zc.pending, [local](const ZcPending& p) { return p.local == local; });
    zc.pending.insert(zc.pending.end(), waiting.begin(), waiting.end());
}

// Host slot h is mapped now: the references waiting for it are filled in,
// quietly: an owner that was only unknown here is no capture.
void _zc_pending_resolve(Zentar& world, int h) {
    if (zc.pending.empty()) return;
    int32_t local = world.client_map_local[h];
    std::erase_if(zc.pending, [&](const ZcPending& p) {
        if (p.ref_h != h) return false;
        Item& it = world.items[p.local];
        if (it.in_use && it.has_sync && it.sync_index == p.item_h)
            memcpy(reinterpret_cast<unsigned char*>(&it) + p.off, &local, sizeof(local));
        return true;
    });
}

void _zc_map(Zentar& world, int h, int local, int32_t uid) {
    world.client_map_local[h] = local;
    if (world.client_map_count < h + 1) world.client_map_count = h + 1;
    world.client_map_uid[h] = uid;
    _zc_pending_resolve(world, h);
}

// Multiplies a fleet's ships and those of its units by r.
void _zc_scale(Zentar& world, Item& fleet, float r) {
    if (!(r > 0) || !std::isfinite(r)) return;
    fleet.fleet_ships *= r;
    for (int i = 1; i < world.top && i < ZT_ITEMS; i++) {
        Item& u = world.items[i];
        if (u.in_use && u.has_unit && u.unit_fleet == fleet.n) u.ships_value *= r;
    }
}

void _zentar_client_delete(Zentar& world, int h) {
    if (!zt_slot(h)) return;
    int local = world.client_map_local[h];
    if (!local) return;
    world.client_map_local[h] = 0;
    world.client_map_uid[h] = 0;
    if (h == world.client_map_count - 1) {
        int k = h - 1;
        while (k >= 1 && !world.client_map_local[k]) k--;
        if (k >= 1) world.client_map_count = k + 1;
    }
    if (int32_t t = world.client_map_temp[h]) {
        auto it = zc.zlag.find(t);
        if (it != zc.zlag.end() && it->second == local) zc.zlag.erase(it);
        world.client_map_temp[h] = 0;
    }
    _zc_pending_set(local, {});
    const Item& it = world.items[local];
    if (it.in_use && it.has_sync && it.sync_index == h) z2_destroy(world, local);
}

// debit: take the fleet's ships from its source planet, which a prediction
// of this client already did.
void _zentar_client_new(Zentar& world, int local, const Item& r, bool debit) {
    Item& it = world.items[local];
    memcpy(static_cast<void*>(&it), &r, sizeof(Item));
    it.in_use = 1;
    it.n = local;
    if (it.has_fleet) {
        int units = r.fleet_units;
        int avail = _fleet_items_available(world);
        if (units > avail) units = avail;
        // The record was cleaned: its position is finite.
        if (!zt_in_clip(world, it.position_x, it.position_y)) units = 1;
        // A host fleet is never dropped for want of room: one unit at least.
        if (units < 1) units = 1;
        _fleet_init(world, it.owner_n, r.fleet_ships, it.position_x, it.position_y, it.fleet_target,
                     local, units);
        int src = r.fleet_source;
        if (debit && zt_used(world, src) && world.items[src].has_planet)
            world.items[src].ships_value -= r.fleet_ships;
    } else if (it.has_planet) {
        _zc_ui_reset(world);
    }
}

// False when the record is no update of p. owner_waits: R's owner is a host
// slot not mapped yet, so a different owner here is no capture.
bool _zentar_client_update(Zentar& world, Item& p, const Item& r, int adopt, bool owner_waits) {
    if (!p.in_use || !p.has_sync || p.sync_index != r.sync_index) return false;
    // A record of another kind than the local item is no update of it.
    if (p.has_fleet != r.has_fleet) return false;
    if (!p.has_fleet) {
        if (p.has_planet && p.owner_n != r.owner_n && !owner_waits) z2_chown(world, p.n, r.owner_n);
        int local = p.n;
        memcpy(static_cast<void*>(&p), &r, sizeof(Item));
        p.in_use = 1;
        p.n = local;
        return true;
    }

    bool same_target = p.fleet_target == r.fleet_target;
    if (!same_target && p.sync_hold_until != -1) {
        z2_redirect(world, p.n, r.fleet_target);
        same_target = p.fleet_target == r.fleet_target;
    }
    if (same_target) {
        // Arrive when the host's fleet does.
        const Item& t = _item_read(world, p.fleet_target);
        float dl = std::hypot(p.position_x - t.position_x, p.position_y - t.position_y);
        float dh = std::hypot(r.position_x - t.position_x, r.position_y - t.position_y);
        if (t.in_use && dh > 1 && dl > 1 && std::fabs(dl - dh) > 1 && r.unit_speed > 0 &&
            std::isfinite(r.unit_speed)) {
            // A fleet far behind the host's, which nearly arrived, would
            // catch up faster than anything flies.
            float s = dl / (dh / r.unit_speed);
            if (s > 0 && std::isfinite(s)) p.unit_speed = std::min(s, ZC_SPEED_MAX);
        }
    }
    if (adopt) {
        if (p.fleet_ships > 0 && r.fleet_ships > 0 && p.sync_ships_sent > 0 &&
            r.fleet_ships != static_cast<float>(p.sync_ships_sent)) {
            float d = r.fleet_ships - static_cast<float>(p.sync_ships_sent);
            _zc_scale(world, p, (p.fleet_ships + d) / p.fleet_ships);
        }
    } else {
        int32_t pw = zt_sat_int(p.fleet_ships), rw = zt_sat_int(r.fleet_ships);
        if (p.sync_ships_sent == pw && r.sync_ships_sent == rw && p.fleet_target == r.fleet_target &&
            pw != rw && p.fleet_ships > 0 && r.fleet_ships > 0)
            _zc_scale(world, p, r.fleet_ships / p.fleet_ships);
    }
    p.sync_ships_sent = zt_sat_int(p.fleet_ships);
    return true;
}

// Skips the record while the local item's hold runs; true when skipped.
bool _zc_hold(Item& p, const Item& r) {
    if (p.sync_hold_until < 1) return false;
    if (r.owner_n == p.owner_n && sys_ticks() < p.sync_hold_until) return true;
    p.sync_hold_until = 0;
    return false;
}

void _zentar_client_handle_item_(Zentar& world, int h, Item r) {
    _zc_clean(r, h);
    std::vector<ZcPending> waiting;
    int local = world.client_map_local[h];
    bool again = false;  // the item's copy here was spent, and it comes whole
    if (local) {
        const Item& copy = world.items[local];
        bool spent = !(copy.in_use && copy.has_sync && copy.sync_index == h);
        if (world.client_map_uid[h] == r.sync_id && !(spent && r.sync_full)) {
            _zc_translate(world, r, local, h, waiting);
            r.n = local;
            r.sync_index = h;
            Item& p = world.items[local];
            if (_zc_hold(p, r)) return;
            if (_zentar_client_update(world, p, r, 0, _zc_waits_for(waiting, offsetof(Item, owner_n))) &&
                !p.has_fleet)
                _zc_pending_set(local, waiting);
            return;
        }
        // The host reused its slot for another item, or sends whole an item
        // whose copy here was spent: a fleet that landed here just before the
        // host turned it elsewhere. Its deltas alone leave it be (the host's
        // fleet lands in a moment too), but its whole record makes it again,
        // or it would fly on unseen here until it lands.
        again = world.client_map_uid[h] == r.sync_id;
        _zentar_client_delete(world, h);
    }

    int32_t t = r.sync_temp_id;
    bool predicted = false;  // this client launched the fleet and took its ships already
    if (t) {
        int pl = _zc_temp_get(t);
        if (pl) {
            Item& p = world.items[pl];
            if (p.in_use && p.sync_temp_id == t && p.sync_index == 0 && p.has_fleet && r.has_fleet) {
                world.client_map_temp[h] = t;
                _zc_map(world, h, pl, r.sync_id);
                _zc_translate(world, r, pl, h, waiting);
                r.n = pl;
                p.sync_index = h;
                r.sync_index = h;
                p.sync_id = r.sync_id;
                if (_zc_hold(p, r)) return;
                _zentar_client_update(world, p, r, 1, false);
                return;
            }
            // The prediction is gone (spent, or its slot reused): make the
            // host's fleet instead of losing it.
            zc.zlag.erase(t);
            predicted = true;
        }
    }

    // A fleet needs its owner and target to fly: without them it waits for
    // the host's next record, which decodes against the base kept above.
    if (r.has_fleet) {
        for (size_t off : {offsetof(Item, owner_n), offsetof(Item, fleet_target)}) {
            int32_t v = _zc_rd32(reinterpret_cast<const unsigned char*>(&r) + off);
            if (zt_slot(v) && !world.client_map_local[v]) return;
        }
    }

    Item* it = item_init(world);
    if (it->n == 0) return;  // local world full
    _zc_map(world, h, it->n, r.sync_id);
    _zc_translate(world, r, it->n, h, waiting);
    r.n = it->n;
    r.sync_index = h;
    // A copy made again took its ships from the source the first time.
    _zentar_client_new(world, it->n, r, !predicted && !again);
    if (!r.has_fleet) _zc_pending_set(it->n, waiting);
}

// Fields of a text split at single blanks.
std::vector<std::string> _zc_split(const std::string& value) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (true) {
        size_t end = value.find(' ', pos);
        if (end == std::string::npos) {
            out.push_back(value.substr(pos));
            break;
        }
        out.push_back(value.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

// A view or bounds number; 0 past the field the simulation handles.
float _zc_real(const std::string& s) {
    double v = strtod(s.c_str(), nullptr);
    if (!std::isfinite(v) || v > ZC_COORD_MAX || v < -ZC_COORD_MAX) return 0;
    return static_cast<float>(v);
}

void _zc_handle_ext(Zentar& world, const std::string& value) {
    if (_zc_log_ok()) qel_log("r: %.511s\n", value.c_str());
    std::vector<std::string> f = _zc_split(value);
    if (f.size() < 9) return;
    snprintf(world.bkgr_src, sizeof(world.bkgr_src), "%.15s", f[0].c_str());
    if (world.view_set != 1) {
        float v[4] = {_zc_real(f[1]), _zc_real(f[2]), _zc_real(f[3]), _zc_real(f[4])};
        if (zentar_sync_hooks.view_set) {
            zentar_sync_hooks.view_set(world, v[0], v[1], v[2], v[3]);
        } else {
            for (int i = 0; i < 4; i++) world.view[i] = v[i];
        }
    }
    for (int i = 0; i < 4; i++) world.bounds[i] = _zc_real(f[static_cast<size_t>(5 + i)]);
}

void _zc_handle_rename(Zentar& world, const std::string& value) {
    std::vector<std::string> f = _zc_split(value);
    f.resize(4);
    int32_t n = zt_sat_int(strtod(f[0].c_str(), nullptr));
    int32_t old_id = zt_sat_int(strtod(f[1].c_str(), nullptr));
    int32_t target = zt_sat_int(strtod(f[2].c_str(), nullptr));
    int32_t new_id = zt_sat_int(strtod(f[3].c_str(), nullptr));
    if (!zt_slot(n)) {
        if (_zc_log_ok()) qel_log("n out of range\n");
        return;
    }
    if (world.client_map_uid[n] != old_id) {
        if (_zc_log_ok()) qel_log("sync_id != old_id\n");
        return;
    }
    if (!zt_slot(target)) {
        if (_zc_log_ok()) qel_log("target out of range\n");
        return;
    }
    int from = world.client_map_local[n], to = world.client_map_local[target];
    if (!from || !to) {
        if (_zc_log_ok()) qel_log("from==%d to==%d\n", from, to);
        return;
    }
    world.client_map_uid[n] = new_id;
    world.base[n].sync_id = new_id;
    // The copy here may have landed, and its slot gone to another fleet
    // since (a newer prediction): that one is not the host's to turn. The
    // host sends the turned fleet whole next, and it is made again here.
    Item& fleet = world.items[from];
    if (!fleet.in_use || !fleet.has_sync || fleet.sync_index != n) return;
    z2_redirect(world, from, to);
    fleet.sync_id = new_id;
}

void _zc_handle_ping(Net* net, Zentar& world, const std::string& value) {
    const char* s = value.c_str();
    char* end = nullptr;
    double sent = strtod(s, &end);
    if (end == s || !std::isfinite(sent)) return;  // garbled
    double rtt = static_cast<double>(sys_ticks()) - sent;
    // Answers from the future or from long ago must not unsettle the lag.
    double sample = rtt < 0 ? 0 : rtt > 1000 ? 1000 : rtt;
    double old = net ? net->lag : world.lag;
    if (old <= 0 || old > 1000) old = sample;
    int32_t lag = zt_sat_int(0.25 * sample + 0.75 * old);
    if (net) net->lag = lag;
    world.lag = lag;
}

}  // namespace

// ---- host messages -------------------------------------------------------------------

void zentar_client_handle(Net* net, Zentar& world, NetMessage& msg) {
    if (net && net->is_local()) return;
    const std::string& type = msg.type;
    const std::string& v = msg.value;
    if (type == "S" || type == "I" || type == "D") {
        if (v.size() < REC) return;
        const unsigned char* b = reinterpret_cast<const unsigned char*>(v.data());
        int h = _zc_rd32(b + offsetof(Item, n));
        if (!zt_slot(h)) return;
        Item& base = world.base[h];
        if (type == "S") {
            memcpy(static_cast<void*>(&base), b, REC);
            return;
        }
        Item r;
        if (type == "I") {
            memcpy(static_cast<void*>(&base), b, REC);
            memcpy(static_cast<void*>(&r), b, REC);
            r.sync_full = 1;
        } else {
            unsigned char* d = reinterpret_cast<unsigned char*>(&r);
            const unsigned char* a = reinterpret_cast<const unsigned char*>(&base);
            for (size_t i = 0; i < REC; i++) d[i] = a[i] ^ b[i];
            r.n = h;
        }
        _zentar_client_handle_item_(world, h, r);
    } else if (type == "A") {
        if (v.size() < static_cast<size_t>(ZT_ITEMS)) return;
        for (int h = 1; h < world.client_map_count && h < ZT_ITEMS; h++)
            if (v[static_cast<size_t>(h)] == 0 && world.client_map_local[h]) _zentar_client_delete(world, h);
    } else if (type == "F") {
        _zc_handle_rename(world, v);
    } else if (type == "R") {
        if (_zc_log_ok()) qel_log("**** _zentar_client_handle_reset\n");
        sys_init(world);
        _zc_ui_reset(world);
        zc.zlag.clear();
        zc.pending.clear();
        zc.cleaned_logged = 0;
    } else if (type == "X") {
        _zc_handle_ext(world, v);
    } else if (type == "P") {
        _zc_handle_ping(net, world, v);
    }
}

// ---- ping ----------------------------------------------------------------------------

void zentar_client_loop(Net* net, Zentar& world) {
    if (!net) return;
    int64_t now = sys_ticks();
    // First call, or the timer went back: ping now and count from here.
    if (zc.prev < 0 || now < zc.prev) zc.next = now;
    zc.prev = now;
    if (now < zc.next) return;
    zc.next += 1000;
    if (now >= zc.next) zc.next = now + 1000;
    char text[32];
    snprintf(text, sizeof(text), "%ld", static_cast<long>(now));
    net->send("", "P", text, 0);
    (void)world;
}

// ---- the player's commands --------------------------------------------------------------

void zentar_client_send(Net* net, Zentar& world, int percent, int from, int to) {
    if (!net) return;
    bool hosting = _zc_hosting(net, world);
    int32_t t = 0;
    if (!hosting) {
        const Item& owner = _item_read(world, _item_read(world, from).owner_n);
        uint32_t hs = static_cast<uint32_t>(owner.sync_index ? owner.sync_index : owner.sync_temp_id);
        t = static_cast<int32_t>((hs << 16) + (world.uid_counter & 0xffffu));
        int f = z2_send(world, percent, from, to);
        if (zt_slot(f)) {
            Item& fl = world.items[f];
            fl.sync_temp_id = t;
            fl.sync_id = 0;
            fl.sync_hold_until = -1;
            if (t) _zc_temp_set(world, t, f);
            // The count launched, which the host's fleet is measured against
            // on adoption. The units' shares add up a hair below it (30 ships
            // in 22 units make 29.99999), and a bare whole part loses a ship.
            fl.sync_ships_sent = zt_sat_int(fl.fleet_ships * (1 + 1e-4f));
            // Slow it so that it lands when the host's copy does.
            const Item& dst = _item_read(world, to);
            float d = std::hypot(dst.position_x - fl.position_x, dst.position_y - fl.position_y);
            float s = fl.unit_speed;
            if (d > 0 && s > 0 && std::isfinite(d) && std::isfinite(s)) {
                float v = d / (d / s + static_cast<float>(world.lag) / 1000.0f);
                if (v > 0 && std::isfinite(v)) fl.unit_speed = v;
            }
        } else {
            // No fleet here, but the host's count may be a hair ahead and
            // make one under this id. A fleet made here takes the counter on;
            // without one the next send (another selected planet, this same
            // frame) would carry the same id, and the host's fleet of this
            // planet would be taken for that one's prediction.
            world.uid_counter++;
        }
        if (zt_used(world, from))
            world.items[from].sync_hold_until =
                zt_sat_int(static_cast<double>(sys_ticks()) + 1.5 * world.lag);
    }
    int32_t hf = hosting ? from : _zc_host_slot(world, from);
    int32_t ht = hosting ? to : _zc_host_slot(world, to);
    char text[96];
    snprintf(text, sizeof(text), "%d %d %d %d %d", percent, hf, ht, _item_read(world, from).sync_id, t);
    net->send("", "send", text, 1);
}

void zentar_client_redirect(Net* net, Zentar& world, int fleet, int to) {
    if (!net) return;
    bool hosting = _zc_hosting(net, world);
    if (!hosting) z2_redirect(world, fleet, to);
    int32_t hf = hosting ? fleet : _zc_host_slot(world, fleet);
    int32_t ht = hosting ? to : _zc_host_slot(world, to);
    char text[64];
    snprintf(text, sizeof(text), "%d %d %d", hf, ht, _item_read(world, fleet).sync_id);
    net->send("", "redirect", text, 1);
}

// ---- for tests -----------------------------------------------------------------------------

int _zentar_client_temp_lookup(int temp_id) { return _zc_temp_get(temp_id); }

int _zentar_client_temp_count() { return static_cast<int>(zc.zlag.size()); }

void _zentar_client_schedule_reset() {
    zc.prev = -1;
    zc.next = 0;
}
