// mods_api_world: the ModsAPI operations through which a mod builds and steers
// a match: constructors, owner changes, sends and redirects, layout, view,
// bounce and clip rectangles, the world reset, sounds and music.
//
// Each operation checks its item numbers (ModsAPI::_item_ok) before the world
// is touched. Changes other processes must see at once go to the clients
// straight away; those calls do nothing unless this process hosts.
#include "mods/mods_api.h"

#include <algorithm>
#include <cstring>

#include "net/net.h"
#include "ruvezor/util/qel_log.h"
#include "net/zentar_server.h"
#include "world/zentar_sim.h"

// ==== constructors ===============================================================

int ModsAPI::item_init() { return ::item_init(game.world)->n; }

int ModsAPI::team_init(const std::string& name, int color) {
    return ::team_init(game.world, name.c_str(), color)->n;
}

int ModsAPI::user_init(const std::string& name, int color, int team) {
    return ::user_init(game.world, name.c_str(), color, team)->n;
}

void ModsAPI::part_init(const std::string& src, float d, float x, float y, float r, float q,
                        float a, float vx, float vy, float vr, float vq, float va) {
    Part* p = ::part_init(game.world);
    // The ring entry comes zeroed, so the copied name stays terminated.
    size_t len = std::min(src.size(), sizeof(p->src) - 1);
    std::memcpy(p->src, src.data(), len);
    p->d = d;
    p->x = x;
    p->y = y;
    p->r = r;
    p->q = q;
    p->a = a;
    p->vx = vx;
    p->vy = vy;
    p->vr = vr;
    p->vq = vq;
    p->va = va;
}

int ModsAPI::planet_init(int owner, float x, float y, float production, float ships) {
    if (!_item_ok(owner, "planet_init:uid")) return 0;
    return ::planet_init(game.world, owner, x, y, production, ships)->n;
}

int ModsAPI::fleet_init(int owner, float ships, int from, int to) {
    if (!_item_ok(owner, "fleet_init:uid") || !_item_ok(from, "fleet_init:from") ||
        !_item_ok(to, "fleet_init:to"))
        return 0;
    Item* fleet = ::fleet_init(game.world, owner, ships, from, to);
    // A refused launch hands back a freed or scratch record.
    int n = fleet->in_use ? fleet->n : 0;
    zentar_server_sync_item_now(n);
    return n;
}

// ==== owners and fleets ==========================================================

void ModsAPI::planet_chown(int planet, int owner) {
    if (!_item_ok(planet, "planet_chown:pid") || !_item_ok(owner, "planet_chown:uid")) return;
    z2_chown(game.world, planet, owner);
}

void ModsAPI::fleet_redirect(int fleet, int to) {
    if (!_item_ok(fleet, "fleet_redirect:fleet") || !_item_ok(to, "fleet_redirect:to")) return;
    z2_redirect(game.world, fleet, to);
    zentar_server_sync_redirect_now(fleet, 1);
}

int ModsAPI::fleet_send(int percent, int from, int to) {
    if (!_item_ok(from, "fleet_send:from") || !_item_ok(to, "fleet_send:to")) return 0;
    int n = z2_send(game.world, percent, from, to);
    zentar_server_sync_item_now(n);
    return n;
}

// ==== layout and rectangles ======================================================

void ModsAPI::planets_settle(float x, float y, float w, float h) {
    z2_settle(game.world, x, y, w, h);
    game.world.ext_changed = 1;
}

void ModsAPI::view_set(float x, float y, float w, float h) {
    Zentar& world = game.world;
    if (game.headless) {
        world.view[0] = x;
        world.view[1] = y;
        world.view[2] = w;
        world.view[3] = h;
    } else {
        game.ui_view(x, y, w, h);
    }
    // A client keeps a view its mod set; a host passes it on in the header.
    world.view_set = 1;
    world.ext_changed = 1;
}

void ModsAPI::bounds_set(float x, float y, float w, float h) {
    Zentar& world = game.world;
    world.bounds[0] = x;
    world.bounds[1] = y;
    world.bounds[2] = w;
    world.bounds[3] = h;
    world.ext_changed = 1;
}

void ModsAPI::clip_set(float x, float y, float w, float h) {
    // The clip is a viewer's choice; the host's world has none.
    if (game.server_net) return;
    Zentar& world = game.world;
    world.clip[0] = x;
    world.clip[1] = y;
    world.clip[2] = w;
    world.clip[3] = h;
}

// ==== reset ======================================================================

void ModsAPI::game_reset() {
    game.mods_trans_grab();
    sys_init(game.world);
    // The in-match controls set themselves up afresh, screen rectangle included.
    game.ui_restart(1);
    if (game.server_net) game.server_net->send("", "R", "", 1);
}

// ==== sound ======================================================================

// Longer names name no sound of ours (the mixer looks a name up with its
// suffix in 511 characters). The online play script plays what a host's
// messages name, and every line about a name would be as long as it.
static constexpr size_t MODS_SOUND_NAME_MAX = 255;

static bool _sound_name_ok(const std::string& name) {
    if (name.size() <= MODS_SOUND_NAME_MAX) return true;
    static QelLogLimit refused("mods", "sound names that were too long were not logged");
    if (refused.allow(static_cast<long>(sys_ticks() / 1000)))
        qel_log("mods: a sound name of %zu bytes is too long, not played\n", name.size());
    return false;
}

void ModsAPI::play_sound(const std::string& name) {
    if (_sound_name_ok(name)) game.play_sound(name);
}

void ModsAPI::play_music(const std::string& name) {
    if (_sound_name_ok(name)) game.play_music(name);
}
