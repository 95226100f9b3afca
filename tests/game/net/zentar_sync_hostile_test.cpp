// World sync against bad input: a host fed hostile client commands, a client
// fed hostile host records, and the edge rules of both sides (schedules,
// holds, adoption, renumbering). Run under the sanitizers, where any read
// outside the item table or the maps is an error.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "app/game.h"
#include "net/net.h"
#include "ruvezor/util/qel_driver.h"
#include "world/zentar.h"
#include "net/zentar_client.h"
#include "net/zentar_server.h"
#include "world/zentar_sim.h"

namespace {

int clock_ms = 5000;

std::unique_ptr<Zentar> new_world() {
    std::unique_ptr<Zentar> w(new Zentar());
    sys_init(*w);
    return w;
}

std::string rec(const Item& it) { return std::string(reinterpret_cast<const char*>(&it), sizeof(Item)); }

std::vector<NetMessage> take(Net& net) {
    std::vector<NetMessage> out;
    out.swap(net.outbox);
    return out;
}

std::string types(const std::vector<NetMessage>& v) {
    std::string s;
    for (const auto& m : v) s += m.type + (m.reliable ? "!" : "") + " ";
    return s;
}

// Consistency of the slot table and the client maps after any input.
std::string table_faults(const Zentar& w) {
    std::string out;
    int live = 0;
    if (w.top < 1 || w.top > ZT_ITEMS) out += "top out of range; ";
    if (w.items[0].in_use || w.items[0].n) out += "slot 0 touched; ";
    for (int i = 1; i < ZT_ITEMS; i++) {
        const Item& it = w.items[i];
        if (!it.in_use) continue;
        live++;
        if (it.n != i) out += "slot " + std::to_string(i) + " has n " + std::to_string(it.n) + "; ";
        if (i >= w.top) out += "used slot above top; ";
        for (int32_t ref : {it.owner_n, it.fleet_target, it.user_team_n, it.fleet_source, it.unit_fleet,
                            it.unit_target, it.collide_target})
            if (ref < 0 || ref >= ZT_ITEMS) out += "slot " + std::to_string(i) + " refers outside the table; ";
        if (!std::isfinite(it.position_x) || !std::isfinite(it.position_y))
            out += "slot " + std::to_string(i) + " has no finite position; ";
        // Units spread a little beyond the bound of what a host may place.
        if (std::fabs(it.position_x) > 2 * ZC_COORD_MAX || std::fabs(it.position_y) > 2 * ZC_COORD_MAX)
            out += "slot " + std::to_string(i) + " lies far off the field; ";
        if (!(it.collide_r >= 0 && it.collide_r <= ZC_RADIUS_MAX))
            out += "slot " + std::to_string(i) + " has a radius out of range; ";
        if (!(it.unit_speed >= 0 && it.unit_speed <= ZC_SPEED_MAX))
            out += "slot " + std::to_string(i) + " has a speed out of range; ";
    }
    if (live != w.live) out += "live count off; ";
    if (w.client_map_count < 0 || w.client_map_count > ZT_ITEMS) out += "map count out of range; ";
    for (int h = 0; h < ZT_ITEMS; h++)
        if (w.client_map_local[h] < 0 || w.client_map_local[h] >= ZT_ITEMS) out += "map entry out of range; ";
    if (w.client_map_local[0]) out += "host slot 0 mapped; ";
    return out;
}

class SyncBase : public ::testing::Test {
protected:
    void SetUp() override {
        srand(3);
        sys_hooks = SysHooks{};
        sys_hooks.ticks = [] { return clock_ms; };
        clock_ms = 5000;
        _zentar_server_schedule_reset();
        _zentar_client_schedule_reset();
    }
    void TearDown() override {
        sys_hooks = SysHooks{};
        _game_data.GAME_THIS = nullptr;
    }
};

// ---- host --------------------------------------------------------------------------------

class HostTest : public SyncBase {
protected:
    std::unique_ptr<Zentar> w = new_world();
    Net net;  // queues only: the outbox is what the host would send
    int me = 0, other = 0, mine = 0, mine2 = 0, theirs = 0;

    void SetUp() override {
        SyncBase::SetUp();
        sys_init(*w);
        me = user_init(*w, "me", 0xff, 0)->n;
        other = user_init(*w, "other", 0xff00, 0)->n;
        snprintf(w->items[me].user_uid, 16, "me");
        snprintf(w->items[other].user_uid, 16, "other");
        mine = planet_init(*w, me, 0, 0, 20, 50)->n;
        mine2 = planet_init(*w, me, 300, 0, 20, 50)->n;
        theirs = planet_init(*w, other, 0, 300, 20, 50)->n;
    }

    void handle(const std::string& uid, const std::string& type, const std::string& value) {
        NetMessage m;
        m.uid = uid;
        m.type = type;
        m.value = value;
        zentar_server_handle(&net, *w, m);
    }
    int fleets() const {
        int n = 0;
        for (int i = 1; i < w->top; i++) n += w->items[i].in_use && w->items[i].has_fleet;
        return n;
    }
    // The outbox, which must hold one whole record, taken; that record.
    Item whole_record() {
        auto out = take(net);
        EXPECT_EQ(types(out), "I! ");
        Item it{};
        if (!out.empty() && out[0].value.size() == sizeof(Item)) memcpy(&it, out[0].value.data(), sizeof(Item));
        return it;
    }
    std::string send_text(int percent, int from, int to, int uid, int temp) {
        char t[128];
        snprintf(t, sizeof(t), "%d %d %d %d %d", percent, from, to, uid, temp);
        return t;
    }
};

TEST_F(HostTest, HostileSendsAreDroppedWithoutTrace) {
    int uid = w->items[mine].sync_id;
    int live = w->live;
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"me", ""},
        {"me", "50"},
        {"me", "50 0 4096 0 0"},
        {"me", "50 99999 -1 0 0"},
        {"me", "1e30 1e30 1e30 1e30 1e30"},
        {"me", "nan nan nan nan nan"},
        {"me", "50 a b c d"},
        {"me", send_text(0, mine, mine2, uid, 0)},
        {"me", send_text(101, mine, mine2, uid, 0)},
        {"me", send_text(50, mine, mine2, uid + 1, 0)},               // stale uid
        {"me", send_text(50, mine, mine2, uid, (other << 16) + 1)},   // another user's temporary id
        {"me", send_text(50, mine, mine2, uid, -65536)},
        {"me", send_text(50, theirs, mine, w->items[theirs].sync_id, 0)},  // not the sender's planet
        {"me", send_text(50, mine, me, uid, 0)},                      // target no planet
        {"", send_text(50, mine, mine2, uid, 0)},                     // no account
        {"nobody", send_text(50, mine, mine2, uid, 0)},
        {"me", std::string(70000, '9')},
        {"me", std::string("50\0 1 2 3 4", 11)},
    };
    for (const auto& [who, value] : bad) {
        handle(who, "send", value);
        EXPECT_EQ(fleets(), 0) << value.substr(0, 40);
    }
    // What the mod's rules keep the controls from: sends while it blocks
    // them, to kinds of planet it does not let the user aim at, and to
    // planets the pointer cannot pick.
    auto rule = [&](const char* why, std::function<void()> set, int to) {
        Item user = w->items[me], target = w->items[theirs];
        set();
        handle("me", "send", send_text(50, mine, to, uid, 0));
        EXPECT_EQ(fleets(), 0) << why;
        w->items[me] = user;
        w->items[theirs] = target;
    };
    rule("sends blocked", [&] { w->items[me].ui_to_mask = 0; }, theirs);
    rule("others' planets barred", [&] { w->items[me].ui_to_mask = 7; }, theirs);
    rule("own planets barred", [&] { w->items[me].ui_to_mask = 8; }, mine2);
    rule("planet kept from others", [&] { w->items[theirs].planet_mask |= 4; }, theirs);
    rule("planet hidden from the pointer", [&] { w->items[theirs].planet_mask |= 8; }, theirs);
    rule("planet not selectable", [&] { w->items[theirs].has_select = 0; }, theirs);
    EXPECT_EQ(w->live, live);
    EXPECT_TRUE(net.outbox.empty());
    EXPECT_EQ(_zentar_server_temp_count(), 0);
}

TEST_F(HostTest, SendLaunchesRecordsTheTemporaryIdAndSendsTheFleetWhole) {
    int uid = w->items[mine].sync_id;
    handle("me", "send", send_text(50, mine, mine2, uid, 0));  // temporary id 0 passes
    ASSERT_EQ(fleets(), 1);
    EXPECT_EQ(_zentar_server_temp_count(), 0);
    take(net);

    int t = (me << 16) + 7;
    handle("me", "send", send_text(50, mine, mine2, uid, t));
    ASSERT_EQ(fleets(), 2);
    int f = _zentar_server_temp_lookup(t);
    ASSERT_NE(f, 0);
    EXPECT_EQ(w->items[f].sync_temp_id, t);
    EXPECT_EQ(w->items[f].fleet_source, 0) << "cleared once sent";
    Item sent = whole_record();
    EXPECT_EQ(sent.n, f);
    EXPECT_EQ(sent.sync_temp_id, t);
    EXPECT_EQ(sent.fleet_source, mine) << "the whole item still names its source";
    EXPECT_EQ(sent.sync_full, 0);
    EXPECT_EQ(w->items[f].sync_ships_sent, static_cast<int>(w->items[f].fleet_ships));

    // The fleet's end erases its lookup entry; the world reset empties it.
    _zentar_server_on_destroy(*w, f);
    EXPECT_EQ(_zentar_server_temp_lookup(t), 0);
    handle("me", "send", send_text(50, mine2, mine, w->items[mine2].sync_id, t + 1));
    EXPECT_EQ(_zentar_server_temp_count(), 1);
    sys_init(*w);
    EXPECT_EQ(_zentar_server_temp_count(), 0);
}

TEST_F(HostTest, RedirectChecksAndUnknownTemporaryIdsDoNotGrowTheLookup) {
    int t = (me << 16) + 9;
    handle("me", "send", send_text(50, mine, theirs, w->items[mine].sync_id, t));
    int f = _zentar_server_temp_lookup(t);
    ASSERT_NE(f, 0);
    zentar_server_sync_items_now(&net, *w);  // the world's first whole records
    take(net);
    const std::vector<std::string> bad = {
        "", "0 2 0", "4096 2 0", "99999 2 0", "-1 2 0", "70000 2 0", "2147483647 2 0", "1e30 1e30 1e30",
        std::to_string(f) + " " + std::to_string(me) + " 0",        // target no planet
        std::to_string(f) + " 4096 0",
        std::to_string(f) + " " + std::to_string(mine2) + " " + std::to_string(w->items[f].sync_id + 5),
        std::to_string(mine) + " " + std::to_string(mine2) + " 0",  // not a fleet
    };
    for (const auto& v : bad) {
        handle("me", "redirect", v);
        EXPECT_EQ(w->items[f].fleet_target, theirs) << v;
    }
    handle("other", "redirect", std::to_string(t) + " " + std::to_string(mine2) + " 0");  // not theirs
    EXPECT_EQ(w->items[f].fleet_target, theirs);
    // Nor while the mod keeps the user's fleets on course, or to a planet it
    // does not let the user aim at.
    w->items[me].ui_fleet_redirect = 0;
    handle("me", "redirect", std::to_string(t) + " " + std::to_string(mine2) + " 0");
    EXPECT_EQ(w->items[f].fleet_target, theirs);
    w->items[me].ui_fleet_redirect = 1;
    w->items[me].ui_to_mask = 8;
    handle("me", "redirect", std::to_string(t) + " " + std::to_string(mine2) + " 0");
    EXPECT_EQ(w->items[f].fleet_target, theirs);
    w->items[me].ui_to_mask = 15;
    EXPECT_EQ(_zentar_server_temp_count(), 1) << "lookups of unknown ids inserted entries";
    EXPECT_TRUE(net.outbox.empty());

    // By temporary id (a provisional fleet has no uid yet), then by slot and
    // uid; the whole record goes with the next pass.
    handle("me", "redirect", std::to_string(t) + " " + std::to_string(mine2) + " 0");
    EXPECT_EQ(w->items[f].fleet_target, mine2);
    EXPECT_TRUE(net.outbox.empty());
    zentar_server_sync_items_now(&net, *w);
    EXPECT_EQ(types(take(net)), "I! ");
    handle("me", "redirect", std::to_string(f) + " " + std::to_string(theirs) + " " + std::to_string(w->items[f].sync_id));
    EXPECT_EQ(w->items[f].fleet_target, theirs);

    // A temporary id whose slot now holds another fleet resolves to nothing.
    w->items[f].sync_temp_id = t + 1;
    handle("me", "redirect", std::to_string(t) + " " + std::to_string(mine2) + " 0");
    EXPECT_EQ(w->items[f].fleet_target, theirs);
}

// A client that turns its fleet back and forth thousands of times between
// two passes makes one whole record of it for the other players, not one
// for each command.
TEST_F(HostTest, AFleetTurnedOverAndOverGoesOutOncePerPass) {
    handle("me", "send", send_text(50, mine, theirs, w->items[mine].sync_id, 0));
    ASSERT_EQ(fleets(), 1);
    int f = 0;
    for (int i = 1; i < w->top; i++)
        if (w->items[i].in_use && w->items[i].has_fleet) f = i;
    zentar_server_sync_items_now(&net, *w);  // the world's first whole records
    take(net);
    for (int i = 0; i < 2000; i++)
        handle("me", "redirect", std::to_string(f) + " " + std::to_string(i % 2 ? theirs : mine2) + " 0");
    zentar_server_sync_items_now(&net, *w);
    Item sent = whole_record();
    EXPECT_EQ(sent.n, f);
    EXPECT_EQ(sent.fleet_target, theirs);
}

TEST_F(HostTest, PingEchoRefreshOrderAndNoRefreshForEverybody) {
    handle("me", "P", std::string("12\0x", 4));
    auto out = take(net);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].uid, "me");
    EXPECT_EQ(out[0].value, std::string("12\0x", 4));
    EXPECT_EQ(out[0].reliable, 0);

    handle("", "refresh", "");
    EXPECT_TRUE(net.outbox.empty()) << "an empty addressee would reset every client";

    w->items[other].has_sync = 0;  // not sent
    zentar_server_sync_items_now(&net, *w);  // each item goes out whole once
    take(net);
    // One made since has no base yet: it goes whole, never as a base and delta.
    int fresh = planet_init(*w, me, 600, 0, 20, 50)->n;
    handle("me", "join", "");
    out = take(net);
    EXPECT_EQ(types(out), "R! X! S! D! S! D! S! D! S! D! I! ");
    for (const auto& m : out) EXPECT_EQ(m.uid, "me");
    EXPECT_EQ(out[1].value.substr(0, 1), " ") << "empty background name first";
    Item got;
    memcpy(&got, out.back().value.data(), sizeof(Item));
    EXPECT_EQ(got.n, fresh);
    EXPECT_EQ(got.sync_id, w->items[fresh].sync_id);
    zentar_server_sync_items_now(&net, *w);  // and to everybody with the next pass
    out = take(net);
    EXPECT_EQ(types(out), "I! ");
    EXPECT_EQ(out[0].uid, "");
}

TEST_F(HostTest, ScheduleFullPassesDirtyPassesAndDeltas) {
    // First frame: a full pass; everything is new, so it goes out whole.
    zentar_server_loop(&net, *w);
    EXPECT_EQ(types(take(net)), "A I! I! I! I! I! ");
    clock_ms += 16;
    zentar_server_loop(&net, *w);
    EXPECT_EQ(types(take(net)), "") << "nothing flagged between passes";

    // A new item goes out whole in the next frame, as a delta only from the
    // next full pass on.
    int p = planet_init(*w, other, 50, 50, 10, 3)->n;
    clock_ms += 16;
    zentar_server_loop(&net, *w);
    EXPECT_EQ(types(take(net)), "I! ");
    w->items[p].ships_value = 77;
    clock_ms = 6000;
    zentar_server_loop(&net, *w);
    auto out = take(net);
    ASSERT_EQ(types(out), "A D D D D D D ");
    const NetMessage& d = out.back();
    ASSERT_EQ(d.value.size(), sizeof(Item));
    int32_t slot;
    memcpy(&slot, d.value.data() + 4, 4);
    EXPECT_EQ(slot, p);
    // The delta XORed onto the base gives the item back.
    std::string back = rec(w->base[p]);
    for (size_t i = 0; i < back.size(); i++) back[i] ^= d.value[i];
    Item r;
    memcpy(&r, back.data(), sizeof(Item));
    EXPECT_EQ(r.ships_value, 77);
    EXPECT_EQ(r.sync_id, w->items[p].sync_id);

    // Removing a synced item makes the next "A" reliable, even in a dirty pass.
    z2_destroy(*w, p);
    clock_ms += 16;
    zentar_server_loop(&net, *w);
    out = take(net);
    ASSERT_EQ(types(out), "A! ");
    EXPECT_EQ(out[0].value.size(), static_cast<size_t>(ZT_ITEMS));
    EXPECT_EQ(out[0].value[static_cast<size_t>(mine)], 1);
    EXPECT_EQ(out[0].value[static_cast<size_t>(p)], 0);
    EXPECT_EQ(out[0].value[0], 0);

    // A timer that goes back restarts the schedule with a full pass.
    clock_ms = 100;
    zentar_server_loop(&net, *w);
    EXPECT_EQ(types(take(net)).substr(0, 2), "A ");
    clock_ms = 700;
    zentar_server_loop(&net, *w);
    EXPECT_EQ(types(take(net)), "");
    clock_ms = 1100;
    zentar_server_loop(&net, *w);
    EXPECT_EQ(types(take(net)).substr(0, 2), "A ");
}

TEST_F(HostTest, ReissueGivesThePredictedFleetANewUidThroughTheGame) {
    auto game = std::make_unique<Game>();
    _game_data.GAME_THIS = game.get();
    game->server_net = std::make_unique<Net>();
    Net& host = *game->server_net;
    Zentar& g = game->world;
    sys_init(g);
    int u = user_init(g, "me", 1, 0)->n;
    int a = planet_init(g, u, 0, 0, 10, 40)->n, b = planet_init(g, u, 200, 0, 10, 40)->n;
    int f = z2_send(g, 50, a, b);
    ASSERT_NE(f, 0);
    zentar_server_sync_item_now(f);
    EXPECT_EQ(types(take(host)), "I! ");
    EXPECT_EQ(g.items[f].fleet_source, 0);

    g.items[f].sync_temp_id = (u << 16) + 1;
    int old_id = g.items[f].sync_id;
    z2_redirect(g, f, a);
    zentar_server_sync_redirect_now(f, 1);
    auto out = take(host);
    ASSERT_EQ(types(out), "F! ");
    int new_id = g.items[f].sync_id;
    EXPECT_GT(new_id, old_id);
    EXPECT_EQ(g.base[f].sync_id, new_id);
    EXPECT_EQ(out[0].value, std::to_string(f) + " " + std::to_string(old_id) + " " + std::to_string(a) + " " +
                                std::to_string(new_id));
    zentar_server_sync_redirect_now(0, 1);
    zentar_server_sync_redirect_now(99999, 0);
    zentar_server_sync_item_now(-4);
    EXPECT_TRUE(host.outbox.empty());
}

// ---- client ---------------------------------------------------------------------------------

// A host world whose records are fed to a client world by hand.
class ClientTest : public SyncBase {
protected:
    std::unique_ptr<Zentar> h = new_world();
    std::unique_ptr<Zentar> c = new_world();
    Net net;
    int hu = 0, hv = 0, hp1 = 0, hp2 = 0, hp3 = 0;

    void SetUp() override {
        SyncBase::SetUp();
        sys_init(*h);
        feed("R", "");  // also empties the process-wide temporary ids a test left
        hu = user_init(*h, "me", 0xff, 0)->n;
        hv = user_init(*h, "you", 0xff00, 0)->n;
        hp1 = planet_init(*h, hu, 0, 0, 20, 60)->n;
        hp2 = planet_init(*h, hu, 400, 0, 20, 60)->n;
        hp3 = planet_init(*h, hv, 0, 400, 20, 60)->n;
        for (int i = 1; i < h->top; i++) feed("I", rec(h->items[i]));
    }

    void feed(const std::string& type, const std::string& value) {
        NetMessage m;
        m.type = type;
        m.value = value;
        zentar_client_handle(&net, *c, m);
    }
    // A record as the host would send it whole.
    void whole(int n) { feed("I", rec(h->items[n])); }
    // A delta against what the client holds as base.
    void delta(int n) {
        std::string d = rec(h->items[n]);
        std::string b = rec(c->base[n]);
        for (size_t i = 0; i < d.size(); i++) d[i] ^= b[i];
        memcpy(d.data() + 4, &n, 4);
        feed("D", d);
    }
    // A fleet record as a host could send it for host slot n.
    static Item fleet_record(int n, int32_t uid, int owner, int target, int32_t units, float ships) {
        Item f{};
        f.in_use = 1;
        f.n = n;
        f.sync_id = uid;
        f.has_fleet = 1;
        f.has_sync = 1;
        f.owner_n = owner;
        f.fleet_target = target;
        f.fleet_units = units;
        f.fleet_ships = ships;
        return f;
    }
    int L(int n) const { return c->client_map_local[n]; }
    Item& local(int n) { return c->items[L(n)]; }
    int client_fleets() const {
        int n = 0;
        for (int i = 1; i < c->top; i++) n += c->items[i].in_use && c->items[i].has_fleet;
        return n;
    }
    int units_of(int fleet) const {
        int n = 0;
        for (int i = 1; i < c->top; i++) n += c->items[i].in_use && c->items[i].has_unit && c->items[i].unit_fleet == fleet;
        return n;
    }
    // A predicted send from the client's first planet to its second.
    int predict(int percent = 50) {
        zentar_client_send(&net, *c, percent, L(hp1), L(hp2));
        for (int i = 1; i < c->top; i++)
            if (c->items[i].in_use && c->items[i].has_fleet && c->items[i].sync_index == 0) return i;
        return 0;
    }
};

TEST_F(ClientTest, RecordsLandInMappedSlotsWithTranslatedReferences) {
    EXPECT_EQ(table_faults(*c), "");
    ASSERT_NE(L(hp3), 0);
    EXPECT_EQ(local(hp3).owner_n, L(hv));
    EXPECT_EQ(local(hv).user_team_n, L(hv));
    EXPECT_EQ(local(hp3).sync_index, hp3);
    EXPECT_EQ(c->client_map_count, h->top);
    // A delta before any whole record decodes against a zero base.
    int hp4 = planet_init(*h, hv, 800, 800, 20, 5)->n;
    delta(hp4);
    ASSERT_NE(L(hp4), 0);
    EXPECT_EQ(local(hp4).ships_value, h->items[hp4].ships_value);
    // A reused host slot replaces the local item.
    int before = L(hp3);
    z2_destroy(*h, hp3);
    int again = planet_init(*h, hu, 5, 5, 20, 1)->n;
    ASSERT_EQ(again, hp3);
    whole(hp3);
    EXPECT_EQ(local(hp3).owner_n, L(hu));
    EXPECT_EQ(c->client_map_uid[hp3], h->items[hp3].sync_id);
    EXPECT_EQ(L(hp3), before) << "the freed local slot was taken again";
    EXPECT_EQ(table_faults(*c), "");
}

TEST_F(ClientTest, HostileRecordsAreCleanedOrIgnored) {
    int live = c->live;
    Item bad = h->items[hp1];
    std::string r = rec(bad);
    // Slots 0, 4096, 99999 and -1, and short records: ignored.
    for (int32_t slot : {0, 4096, 99999, -1}) {
        std::string x = r;
        memcpy(x.data() + 4, &slot, 4);
        for (const char* t : {"I", "S", "D"}) feed(t, x);
    }
    for (const char* t : {"I", "S", "D", "A"}) {
        feed(t, r.substr(0, 639));
        feed(t, "");
    }
    EXPECT_EQ(c->live, live);

    // Slot references out of range become 0, texts get terminators, reals
    // that are not finite become 0, a hold from the future is dropped. So
    // does what the painter sizes its work by (a label's font, a picture's
    // size and scale, the ends of drawn shapes): huge values would make
    // every frame fill the screen thousands of times.
#define FIELD(f) &Item::f, #f
    struct Whole { int32_t Item::*field; const char* name; int32_t sent; };
    const Whole wholes[] = {{FIELD(owner_n), 99999}, {FIELD(fleet_target), -5}, {FIELD(user_team_n), 4096},
                            {FIELD(fleet_source), 1000000000}, {FIELD(unit_fleet), 77777},
                            {FIELD(unit_target), INT_MIN}, {FIELD(collide_target), -1},
                            {FIELD(sync_hold_until), INT_MAX}, {FIELD(label_size), 2000000000}};
    struct Real { float Item::*field; const char* name; float sent, kept; };
    const Real reals[] = {{FIELD(position_x), NAN, 0}, {FIELD(position_y), INFINITY, 0},
                          {FIELD(ships_value), -INFINITY, 0},
                          {FIELD(collide_r), 1e30f, 0},  // a radius over the whole field
                          {FIELD(collide_mass), -1, 0},
                          {FIELD(fleet_v_factor), 1e30f, 0},  // the user's units would fly off the field in one step
                          {FIELD(image_w), 3e38f, 0}, {FIELD(image_h), 500, 500}, {FIELD(image_scale), 1e30f, 0},
                          {FIELD(draw_r), -3e38f, 0}, {FIELD(draw_x2), 1e6f, 0}, {FIELD(draw_y3), -1e30f, 0}};
#undef FIELD
    int hx = 77;
    Item x{};
    x.in_use = 0;  // a record that lies about being used
    x.n = hx;
    x.sync_id = 123456;
    x.has_planet = 1;
    x.has_sync = 0;
    for (const Whole& f : wholes) x.*f.field = f.sent;
    for (const Real& f : reals) x.*f.field = f.sent;
    memset(x.title_value, 'A', sizeof(x.title_value));
    memset(x.label_text, 'B', sizeof(x.label_text));
    memset(x.user_uid, 'C', sizeof(x.user_uid));
    feed("I", rec(x));
    ASSERT_NE(L(hx), 0);
    const Item& got = local(hx);
    EXPECT_EQ(got.in_use, 1);
    EXPECT_EQ(got.n, L(hx));
    EXPECT_EQ(got.has_sync, 1);
    for (const Whole& f : wholes) EXPECT_EQ(got.*f.field, 0) << f.name;
    for (const Real& f : reals) EXPECT_EQ(got.*f.field, f.kept) << f.name;
    EXPECT_EQ(strnlen(got.title_value, 16), 15u);
    EXPECT_EQ(strnlen(got.label_text, 40), 39u);
    EXPECT_EQ(strnlen(got.user_uid, 16), 15u);

    // A hostile fleet: absurd unit counts and ships.
    Item f = fleet_record(90, 999, 5000, hp2, 1000000000, 1e30f);
    f.fleet_source = hp1;
    feed("I", rec(f));
    f.n = 91;
    f.sync_id = 1000;
    f.fleet_units = -7;
    f.fleet_ships = NAN;
    feed("I", rec(f));
    EXPECT_EQ(table_faults(*c), "");
    // A record claiming to be a unit of a fleet here is no unit of it: its
    // landing would count the fleet out a unit early, leaving units of none.
    int hf = z2_send(*h, 50, hp3, hp1);
    whole(hf);
    ASSERT_NE(L(hf), 0);
    Item u = fleet_record(92, 1001, hv, hp1, 0, 0);
    u.has_fleet = 0;
    u.has_unit = 1;
    u.unit_fleet = hf;
    u.unit_target = hp1;
    u.ships_value = 5;
    feed("I", rec(u));
    ASSERT_NE(L(92), 0);
    EXPECT_EQ(units_of(L(hf)), local(hf).fleet_units);
    EXPECT_LE(c->live, 4095);

    // The world still runs on all this.
    for (int i = 0; i < 40; i++) sys_loop(*c, 0.05f, 1);
    EXPECT_EQ(table_faults(*c), "");
}

// Runs work() in a child process and reports whether it ended with status 0.
// A child still running after the outer limit (which only catches a hang) is
// killed and counts as a failure.
bool ends_well(const std::function<int()>& work) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) _exit(work());
    int status = 0;
    for (int waited_ms = 0; waited_ms < 60000; waited_ms += 20) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "the child never finished";
    return false;
}

TEST_F(ClientTest, CraftedRecordsCannotFreezeTheStep) {
    // The host's user item, then a delta for a slot never sent whole (it
    // decodes against a zero base): a fleet of that user with two thousand
    // units far beyond any field. Spread in y but not in x (floats that large
    // have no room for it), they once made the collision split of the next
    // step recurse practically for ever.
    Item f = fleet_record(200, 4242, hu, hp1, 2000, 2000);
    f.unit_speed = 40;
    f.position_x = 1e38f;
    EXPECT_TRUE(ends_well([&] {
        whole(hu);
        feed("D", rec(f));
        if (!L(200)) return 2;
        for (int i = 0; i < 3; i++) sys_loop(*c, 0.05f, 1);
        std::string faults = table_faults(*c);
        fprintf(stderr, "%.300s\n", faults.c_str());
        return faults.empty() ? 0 : 1;
    }));
}

TEST_F(ClientTest, HostileHeaderPingAndRenumberingLeaveTheWorldSane) {
    for (const char* v : {"", "x", "a 1 2", "bg 1e30 1e30 1e30 1e30 nan inf -inf 1e99", "1 2 3 4 5 6 7 8 9 10 11",
                          "a-background-name-far-too-long 1 2 3 4 5 6 7 8"}) {
        feed("X", v);
        EXPECT_LT(strnlen(c->bkgr_src, 16), 16u);
        for (float b : c->bounds) EXPECT_TRUE(std::isfinite(b));
        for (float b : c->view) EXPECT_TRUE(std::isfinite(b));
    }
    feed("X", "stars 1 2 3 4 5 6 7 8");
    EXPECT_STREQ(c->bkgr_src, "stars");
    EXPECT_EQ(c->view[2], 3);
    EXPECT_EQ(c->bounds[3], 8);
    c->view_set = 1;
    feed("X", "stars 9 9 9 9 5 6 7 8");
    EXPECT_EQ(c->view[2], 3) << "a mod's own view wins";

    // Ping answers: the lag never leaves [0, 1000].
    clock_ms = 10000;
    for (const char* v : {"9800", "1e30", "-1e30", "99999999999", "abc", "", "nan", "20000", "9999"}) {
        feed("P", v);
        EXPECT_GE(net.lag, 0) << v;
        EXPECT_LE(net.lag, 1000) << v;
        EXPECT_EQ(c->lag, net.lag);
    }
    net.lag = 0;
    c->lag = 0;
    feed("P", "9800");
    EXPECT_EQ(net.lag, 200) << "the first sample is taken whole";
    feed("P", "9000");  // 1000 ms late counts as 1000
    EXPECT_EQ(net.lag, 400);
    feed("P", "60000");  // from the future: a zero sample
    EXPECT_EQ(net.lag, 300);

    // Renumbering notices with every kind of fault change nothing.
    for (const char* v : {"", "0 0 0 0", "4096 1 1 1", "-3 1 1 1", "1 999 1 1", "1e30 1e30 1e30 1e30"}) feed("F", v);
    std::string uidtext = std::to_string(c->client_map_uid[hp1]);
    feed("F", std::to_string(hp1) + " " + uidtext + " 99999 5");
    feed("F", std::to_string(hp1) + " " + uidtext + " 200 5");  // target not mapped
    EXPECT_EQ(c->client_map_uid[hp1], h->items[hp1].sync_id);
    EXPECT_EQ(table_faults(*c), "");

    // A renumbered fleet whose copy here landed, and whose slot a newer
    // prediction took since: the newcomer keeps its course and its uid.
    int p = predict();
    ASSERT_NE(p, 0);
    int hf = z2_send(*h, 50, hp1, hp2);
    h->items[hf].sync_temp_id = c->items[p].sync_temp_id;
    whole(hf);
    ASSERT_EQ(L(hf), p);
    z2_destroy(*c, p);
    ASSERT_EQ(predict(30), p);
    int32_t renewed = h->items[hf].sync_id + 100;
    feed("F", std::to_string(hf) + " " + std::to_string(h->items[hf].sync_id) + " " + std::to_string(hp3) + " " +
                  std::to_string(renewed));
    EXPECT_EQ(c->items[p].fleet_target, L(hp2));
    EXPECT_EQ(c->items[p].sync_id, 0);
    EXPECT_EQ(c->client_map_uid[hf], renewed);
}

TEST_F(ClientTest, ActiveMapDeletesAndLowersTheCount) {
    std::string a(ZT_ITEMS, '\0');
    for (int i = 1; i < h->top; i++) a[static_cast<size_t>(i)] = 1;
    a[static_cast<size_t>(hp3)] = 0;  // the highest slot left
    int gone = L(hp3);
    feed("A", a);
    EXPECT_FALSE(c->items[gone].in_use);
    EXPECT_EQ(L(hp3), 0);
    EXPECT_EQ(c->client_map_count, hp3);
    feed("A", std::string(ZT_ITEMS + 100, '\1'));  // longer is fine, nothing to delete
    EXPECT_EQ(L(hp2) != 0, true);
    feed("A", std::string(ZT_ITEMS, '\0'));
    for (int i = 1; i < h->top; i++) EXPECT_EQ(L(i), 0);
    EXPECT_EQ(table_faults(*c), "");
}

TEST_F(ClientTest, PredictionIsAdoptedIntoItsOwnSlotAndScaled) {
    clock_ms = 7000;
    c->lag = 100;
    int p = predict();
    ASSERT_NE(p, 0);
    Item& f = c->items[p];
    int32_t t = f.sync_temp_id;
    EXPECT_EQ(t >> 16, hu);
    EXPECT_EQ(f.sync_hold_until, -1);
    EXPECT_LT(f.unit_speed, 40) << "slowed by the lag";
    EXPECT_EQ(f.sync_ships_sent, 30) << "half of 60 went, whatever its units' shares add up to";
    EXPECT_EQ(local(hp1).sync_hold_until, 7150);
    auto out = take(net);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].type, "send");
    EXPECT_EQ(out[0].value, "50 " + std::to_string(hp1) + " " + std::to_string(hp2) + " " +
                                std::to_string(h->items[hp1].sync_id) + " " + std::to_string(t));

    // The host's fleet carries two ships more than predicted.
    int hf = z2_send(*h, 50, hp1, hp2);
    ASSERT_NE(hf, 0);
    h->items[hf].sync_temp_id = t;
    float predicted = f.fleet_ships;
    h->items[hf].fleet_ships = static_cast<float>(f.sync_ships_sent) + 2;
    int fleets = client_fleets();
    whole(hf);
    EXPECT_EQ(client_fleets(), fleets) << "adopted, not duplicated";
    EXPECT_EQ(L(hf), p);
    EXPECT_EQ(f.sync_index, hf);
    EXPECT_EQ(f.sync_id, h->items[hf].sync_id);
    EXPECT_EQ(c->client_map_temp[hf], t);
    EXPECT_NEAR(f.fleet_ships, predicted + 2, 1e-3);
    float sum = 0;
    for (int i = 1; i < c->top; i++)
        if (c->items[i].in_use && c->items[i].has_unit && c->items[i].unit_fleet == p) sum += c->items[i].ships_value;
    EXPECT_NEAR(sum, f.fleet_ships, 1e-3);

    // The source planet's hold skips host updates of the same owner ...
    h->items[hp1].ships_value = 1234;
    delta(hp1);
    EXPECT_NE(local(hp1).ships_value, 1234);
    // ... until it runs out.
    clock_ms = 7200;
    delta(hp1);
    EXPECT_EQ(local(hp1).ships_value, 1234);

    // Host slot deleted: the adopted fleet goes, its temporary id with it.
    EXPECT_EQ(_zentar_client_temp_lookup(t), p);
    std::string a(ZT_ITEMS, '\0');
    for (int i = 1; i < h->top; i++) a[static_cast<size_t>(i)] = i != hf;
    feed("A", a);
    EXPECT_FALSE(c->items[p].in_use);
    EXPECT_EQ(_zentar_client_temp_lookup(t), 0);
    EXPECT_EQ(_zentar_client_temp_count(), 0);
}

TEST_F(ClientTest, AStaleOrUnknownTemporaryIdStillGetsTheHostFleetAndGrowsNothing) {
    int p = predict();
    ASSERT_NE(p, 0);
    int32_t t = c->items[p].sync_temp_id;
    z2_destroy(*c, p);  // the prediction is gone before the host's copy comes
    int hf = z2_send(*h, 50, hp1, hp2);
    h->items[hf].sync_temp_id = t;
    whole(hf);
    ASSERT_NE(L(hf), 0);
    EXPECT_TRUE(local(hf).in_use && local(hf).has_fleet);
    EXPECT_GE(units_of(L(hf)), 1);
    EXPECT_EQ(_zentar_client_temp_count(), 0) << "the stale entry is dropped";

    // Unknown temporary ids neither adopt nor insert.
    int hg = z2_send(*h, 50, hp2, hp1);
    h->items[hg].sync_temp_id = (hu << 16) + 4242;
    whole(hg);
    EXPECT_NE(L(hg), 0);
    EXPECT_EQ(_zentar_client_temp_count(), 0);
    EXPECT_EQ(_zentar_client_temp_lookup((hu << 16) + 4242), 0);
    EXPECT_EQ(_zentar_client_temp_count(), 0);

    // A prediction whose slot was reused by another prediction is not
    // adopted by the wrong fleet.
    int p1 = predict(30);
    int32_t t1 = c->items[p1].sync_temp_id;
    z2_destroy(*c, p1);
    int p2 = predict(30);
    ASSERT_EQ(p2, p1);
    int hh = z2_send(*h, 30, hp1, hp2);
    h->items[hh].sync_temp_id = t1;
    whole(hh);
    EXPECT_NE(L(hh), p2);
    EXPECT_EQ(c->items[p2].sync_index, 0) << "the newer prediction waits for its own fleet";
}

TEST_F(ClientTest, AdoptionNeverScalesShipsToZeroOrBelow) {
    int p = predict();
    ASSERT_NE(p, 0);
    Item& f = c->items[p];
    // The prediction lost most of its ships in a fight before the host's
    // copy came; the host's copy lost even more on its side.
    for (int i = 1; i < c->top; i++)
        if (c->items[i].in_use && c->items[i].has_unit && c->items[i].unit_fleet == p) c->items[i].ships_value *= 0.1f;
    f.fleet_ships *= 0.1f;
    float before = f.fleet_ships;
    int hf = z2_send(*h, 50, hp1, hp2);
    h->items[hf].sync_temp_id = f.sync_temp_id;
    h->items[hf].fleet_ships = 1;
    whole(hf);
    EXPECT_EQ(L(hf), p);
    EXPECT_EQ(f.fleet_ships, before) << "a scale of zero or less is no scale";
    for (int i = 1; i < c->top; i++) {
        const Item& u = c->items[i];
        if (u.in_use && u.has_unit && u.unit_fleet == p) {
            EXPECT_GT(u.ships_value, 0);
        }
    }
}

TEST_F(ClientTest, HostFleetGetsAUnitWhenTheTableIsNearlyFull) {
    while (c->live < 4085) item_init(*c);
    int hf = z2_send(*h, 50, hp3, hp1);
    ASSERT_NE(hf, 0);
    h->items[hf].fleet_units = 12;
    whole(hf);
    ASSERT_NE(L(hf), 0);
    EXPECT_TRUE(local(hf).in_use);
    EXPECT_EQ(units_of(L(hf)), 1);
    EXPECT_NEAR(local(hf).fleet_ships, h->items[hf].fleet_ships, 1e-3);
}

TEST_F(ClientTest, FleetUpdatesKeepSpeedAndShipsSane) {
    int hf = z2_send(*h, 50, hp3, hp1);
    whole(hf);
    Item& f = local(hf);
    float speed = f.unit_speed, ships = f.fleet_ships;
    // The host's fleet is further along: the local one speeds up to match.
    h->items[hf].position_x = 0;
    h->items[hf].position_y = 100;
    f.position_x = 0;
    f.position_y = 300;
    delta(hf);
    EXPECT_GT(f.unit_speed, speed);
    speed = f.unit_speed;
    for (float bad : {0.0f, -3.0f, NAN, INFINITY}) {
        h->items[hf].unit_speed = bad;
        delta(hf);
        EXPECT_EQ(f.unit_speed, speed) << bad;
    }
    // Ship counts: a host count of zero or less never scales.
    f.sync_ships_sent = static_cast<int>(f.fleet_ships);
    for (float bad : {0.0f, -50.0f, NAN}) {
        h->items[hf].fleet_ships = bad;
        h->items[hf].sync_ships_sent = static_cast<int>(std::isfinite(bad) ? bad : 0);
        delta(hf);
        EXPECT_GT(f.fleet_ships, 0) << bad;
    }
    // A real change is taken over.
    h->items[hf].fleet_ships = ships / 2;
    h->items[hf].sync_ships_sent = static_cast<int>(ships / 2);
    f.sync_ships_sent = static_cast<int>(f.fleet_ships);
    delta(hf);
    EXPECT_NEAR(f.fleet_ships, ships / 2, 1e-3);
    // A retarget from the host is followed (this fleet was not predicted).
    h->items[hf].fleet_target = hp2;
    delta(hf);
    EXPECT_EQ(f.fleet_target, L(hp2));
}

TEST_F(ClientTest, ResetLocalEndpointAndHostingProcess) {
    predict();
    EXPECT_EQ(_zentar_client_temp_count(), 1);
    take(net);
    feed("R", "");
    EXPECT_EQ(c->live, 0);
    EXPECT_EQ(c->client_map_count, 0);
    EXPECT_EQ(_zentar_client_temp_count(), 0);

    // A local endpoint shares the host's world: host messages are ignored.
    NetLocal local;
    NetMessage m;
    m.type = "R";
    planet_init(*c, 0, 0, 0, 1, 1);
    zentar_client_handle(&local, *c, m);
    EXPECT_EQ(c->live, 1);

    // From a hosting process commands go out unpredicted, slots as they are.
    int u = user_init(*c, "me", 1, 0)->n;
    int a = planet_init(*c, u, 0, 0, 1, 40)->n, b = planet_init(*c, u, 100, 0, 1, 40)->n;
    zentar_client_send(&local, *c, 50, a, b);
    EXPECT_EQ(c->items[a].ships_value, 40);
    ASSERT_EQ(local.outbox.size(), 1u);
    EXPECT_EQ(local.outbox[0].value,
              "50 " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c->items[a].sync_id) + " 0");
    local.outbox.clear();
    zentar_client_redirect(&local, *c, 9, b);
    ASSERT_EQ(local.outbox.size(), 1u);
    EXPECT_EQ(local.outbox[0].value, "9 " + std::to_string(b) + " 0");

    // A send that makes no fleet still holds the source and still goes out.
    clock_ms = 100;
    c->lag = 10;
    zentar_client_send(&net, *c, 1, a, b);
    EXPECT_EQ(c->items[a].sync_hold_until, 115);
    EXPECT_EQ(take(net).size(), 1u);
}

TEST_F(ClientTest, PingScheduleOncePerSecond) {
    clock_ms = 1000;
    zentar_client_loop(&net, *c);
    ASSERT_EQ(net.outbox.size(), 1u);
    EXPECT_EQ(net.outbox[0].value, "1000");
    EXPECT_EQ(net.outbox[0].reliable, 0);
    clock_ms = 1999;
    zentar_client_loop(&net, *c);
    EXPECT_EQ(net.outbox.size(), 1u);
    clock_ms = 2000;
    zentar_client_loop(&net, *c);
    EXPECT_EQ(net.outbox.size(), 2u);
    clock_ms = 9000;  // many periods missed: one ping, then a second from now
    zentar_client_loop(&net, *c);
    clock_ms = 9500;
    zentar_client_loop(&net, *c);
    EXPECT_EQ(net.outbox.size(), 3u);
    clock_ms = 10000;
    zentar_client_loop(&net, *c);
    EXPECT_EQ(net.outbox.size(), 4u);
}

}  // namespace
