// Fuzz entry for world sync: a host world and a client world that joined it,
// and the input a script of what a hostile peer can do between simulation
// steps on both sides: host records of every type ("A", "I", "S", "D", "F",
// "R", "X", "P") patched at will into the client, and client commands
// ("send", "redirect", "refresh", "join", "rejoin", "P") under any account id
// into the host. Whatever arrives, both slot tables must stay whole, and every
// step must return.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "fuzz_bytes.h"
#include "net/net.h"
#include "net/zentar_client.h"
#include "net/zentar_server.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

// The client's player; "b" is the other player at the host.
const char* const ME = "a";
constexpr int MAX_OPS = 256;

struct Match {
    Zentar* host = new Zentar();
    Zentar* client = new Zentar();
    Net host_net;    // queues only: its outbox is what the host sends
    Net client_net;  // the same for the client
    int clock_ms = 0;
};
Match* m;

int match_ticks() { return m->clock_ms; }

void fail(const char* side, const std::string& why) { fuzz_fail(std::string(side) + " world: " + why); }

// What a client receives from the host: messages to all and to this player.
void to_client() {
    std::vector<NetMessage> out;
    out.swap(m->host_net.outbox);
    for (NetMessage& msg : out)
        if (msg.uid.empty() || msg.uid == ME) zentar_client_handle(&m->client_net, *m->client, msg);
}

// What the host receives from the client, under the client's account id.
void to_host() {
    std::vector<NetMessage> out;
    out.swap(m->client_net.outbox);
    for (NetMessage& msg : out) {
        msg.uid = ME;
        zentar_server_handle(&m->host_net, *m->host, msg);
    }
    to_client();
}

void host_message(const std::string& uid, const std::string& type, const std::string& value) {
    NetMessage msg;
    msg.uid = uid;
    msg.type = type;
    msg.value = value;
    zentar_server_handle(&m->host_net, *m->host, msg);
    to_client();
}

void client_message(const std::string& type, const std::string& value) {
    NetMessage msg;
    msg.type = type;
    msg.value = value;
    zentar_client_handle(&m->client_net, *m->client, msg);
}

// A small match: two players, a neutral side, planets of each and fleets in
// flight; the client then joins as a player does.
void match_start() {
    srand(1);
    m->clock_ms = 1000;
    m->host_net.outbox.clear();
    m->client_net.outbox.clear();
    _zentar_server_schedule_reset();
    _zentar_client_schedule_reset();
    for (Zentar* w : {m->host, m->client}) {
        w->uid_counter = 0;
        sys_init(*w);
    }
    Zentar& h = *m->host;
    int a = user_init(h, "alpha", 0xff4040, 0)->n;
    int b = user_init(h, "beta", 0x4040ff, 0)->n;
    int n = user_init(h, "neutral", 0x808080, 0)->n;
    snprintf(h.items[a].user_uid, sizeof(h.items[a].user_uid), "%s", ME);
    snprintf(h.items[b].user_uid, sizeof(h.items[b].user_uid), "b");
    int pa = planet_init(h, a, 100, 100, 40, 60)->n;
    int pa2 = planet_init(h, a, 160, 300, 20, 30)->n;
    int pb = planet_init(h, b, 500, 300, 40, 60)->n;
    int pn = planet_init(h, n, 300, 200, 10, 15)->n;
    fleet_init(h, a, 20, pa, pb);
    fleet_init(h, b, 25, pb, pn);
    fleet_init(h, a, 8, pa2, pn);
    h.view[2] = 600;
    h.view[3] = 400;
    h.bounds[2] = 600;
    h.bounds[3] = 400;
    snprintf(h.bkgr_src, sizeof(h.bkgr_src), "background01");
    h.ext_changed = 1;
    zentar_server_loop(&m->host_net, h);
    host_message(ME, "join", "");
}

// ---- choices -------------------------------------------------------------------------

// A slot number: mostly one in use on that side, sometimes any number.
int32_t pick_slot(FuzzBytes& in, const Zentar& w) {
    uint8_t k = in.u8();
    if (k < 200) return 1 + k % (w.top > 1 ? w.top : 2);
    static const int32_t odd[] = {0, -1, ZT_ITEMS - 1, ZT_ITEMS, 65535, 65536, INT_MAX, INT_MIN};
    if (k < 200 + sizeof(odd) / sizeof(odd[0])) return odd[k - 200];
    return static_cast<int32_t>(in.u32());
}

// A number a field may hold: a slot, a uid, a temporary id or anything.
int32_t pick_int(FuzzBytes& in, const Zentar& w) {
    switch (in.u8() % 6) {
        case 0: return pick_slot(in, w);
        case 1: return _item_read(w, pick_slot(in, w)).sync_id;
        case 2: return static_cast<int32_t>((static_cast<uint32_t>(pick_slot(in, w)) << 16) + in.u16());
        case 3: return static_cast<int32_t>(in.u32());
        case 4: return static_cast<int8_t>(in.u8());
        default: return _item_read(w, pick_slot(in, w)).sync_temp_id;
    }
}

// Blank-separated numbers, as the commands and the renumbering notice carry
// them; now and then any bytes instead.
std::string pick_fields(FuzzBytes& in, const Zentar& w, int count) {
    if (in.u8() % 8 == 7) return in.bytes(in.u8());
    std::string s;
    for (int i = 0; i < count; i++) {
        if (i) s += ' ';
        s += std::to_string(pick_int(in, w));
    }
    return s;
}

// ---- what a hostile host sends ---------------------------------------------------------

// A record of the host's item (or a blank one) with fields overwritten, sent
// whole, as a base or as a delta against what this client holds.
void send_record(FuzzBytes& in) {
    static const char* const types[] = {"I", "S", "D"};
    const char* type = types[in.u8() % 3];
    int32_t h = pick_slot(in, *m->host);
    Item r;
    memset(static_cast<void*>(&r), 0, sizeof(r));
    if (zt_slot(h)) memcpy(static_cast<void*>(&r), &m->host->items[h], sizeof(r));
    r.n = h;
    r.sync_full = 0;
    for (int k = in.u8() % 5; k > 0; k--) {
        size_t off = (in.u8() % (sizeof(Item) / 4)) * 4;
        uint32_t v;
        if (in.u8() & 1) {
            float f = in.real();
            memcpy(&v, &f, sizeof(v));
        } else {
            v = static_cast<uint32_t>(pick_int(in, *m->host));
        }
        memcpy(reinterpret_cast<char*>(&r) + off, &v, sizeof(v));
    }
    std::string value(reinterpret_cast<const char*>(&r), sizeof(Item));
    if (type[0] == 'D' && zt_slot(h)) {
        const char* base = reinterpret_cast<const char*>(&m->client->base[h]);
        for (size_t i = 0; i < sizeof(Item); i++) value[i] = static_cast<char>(value[i] ^ base[i]);
        memcpy(value.data() + offsetof(Item, n), &h, sizeof(h));
    }
    if (in.u8() % 16 == 15) value.resize(in.u16() % (sizeof(Item) + 64), '\0');
    client_message(type, value);
}

void send_active(FuzzBytes& in) {
    std::string map(ZT_ITEMS, '\0');
    const Zentar& h = *m->host;
    for (int i = 1; i < h.top; i++)
        if (h.items[i].in_use) map[static_cast<size_t>(i)] = static_cast<char>(h.items[i].has_sync);
    for (int k = in.u8() % 8; k > 0; k--) map[in.u16() % ZT_ITEMS] = static_cast<char>(in.u8());
    if (in.u8() % 16 == 15) map.resize(in.u16() % (ZT_ITEMS + 16), '\0');
    client_message("A", map);
}

void send_ext(FuzzBytes& in) {
    if (in.u8() % 4 == 3) {
        client_message("X", in.bytes(in.u8()));
        return;
    }
    std::string text = in.bytes(in.u8() % 24);
    for (int i = 0; i < 8; i++) {
        char num[64];
        snprintf(num, sizeof(num), " %f", static_cast<double>(in.real()));
        text += num;
    }
    client_message("X", text);
}

void send_ping(FuzzBytes& in) {
    if (in.u8() % 4 == 3) {
        client_message("P", in.bytes(in.u8()));
        return;
    }
    client_message("P", std::to_string(static_cast<int64_t>(m->clock_ms) - static_cast<int16_t>(in.u16())));
}

// ---- what a hostile client sends --------------------------------------------------------

void send_command(FuzzBytes& in) {
    static const char* const types[] = {"send", "redirect", "refresh", "join", "rejoin", "P"};
    static const char* const uids[] = {ME, "b", "", "nobody"};
    const char* type = types[in.u8() % 6];
    const char* uid = uids[in.u8() % 4];
    host_message(uid, type, pick_fields(in, *m->host, 5));
}

// The player's own commands, as the match controls give them: local slots.
void player_command(FuzzBytes& in) {
    Zentar& c = *m->client;
    int32_t from = pick_slot(in, c), to = pick_slot(in, c);
    if (in.u8() & 1) zentar_client_send(&m->client_net, c, in.u8() % 101, from, to);
    else zentar_client_redirect(&m->client_net, c, from, to);
    to_host();
}

// ---- time ----------------------------------------------------------------------------------

float pick_dt(FuzzBytes& in) {
    uint8_t k = in.u8();
    if (k == 255) return in.real();
    return static_cast<float>(k) / 254.0f;
}

void host_frame(int ms, float dt) {
    m->clock_ms += ms;
    {
        FuzzWatch watch("the host's simulation step");
        sys_loop(*m->host, dt, 0);
    }
    zentar_server_loop(&m->host_net, *m->host);
    to_client();
}

void client_frame(int ms, float dt, int particles) {
    m->clock_ms += ms;
    {
        FuzzWatch watch("the client's simulation step");
        sys_loop(*m->client, dt, particles);
    }
    zentar_client_loop(&m->client_net, *m->client);
    to_host();
}

// ---- checks ----------------------------------------------------------------------------------

void check_table(const Zentar& w, const char* side) {
    if (w.top < 1 || w.top > ZT_ITEMS) fail(side, "top out of range");
    if (w.items[0].in_use) fail(side, "slot 0 in use");
    int live = 0;
    for (int i = 1; i < ZT_ITEMS; i++) {
        const Item& it = w.items[i];
        if (!it.in_use) continue;
        live++;
        if (i >= w.top) fail(side, "slot in use above top");
        if (it.n != i) fail(side, "slot " + std::to_string(i) + " names itself " + std::to_string(it.n));
        for (int32_t ref : {it.owner_n, it.fleet_target, it.user_team_n, it.fleet_source, it.unit_fleet,
                            it.unit_target, it.collide_target})
            if (ref < 0 || ref >= ZT_ITEMS) fail(side, "slot " + std::to_string(i) + " refers outside the table");
    }
    if (live != w.live) fail(side, "live count off");
}

void check_client(const Zentar& w) {
    if (w.client_map_count < 0 || w.client_map_count > ZT_ITEMS) fail("client", "map count out of range");
    if (w.client_map_local[0]) fail("client", "host slot 0 mapped");
    for (int h = 1; h < ZT_ITEMS; h++) {
        int32_t l = w.client_map_local[h];
        if (l < 0 || l >= ZT_ITEMS) fail("client", "map entry out of range");
        if (l && h >= w.client_map_count) fail("client", "mapped host slot above the map count");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::once_flag once;
    std::call_once(once, [] {
        m = new Match();
        sys_hooks = SysHooks{};
        sys_hooks.ticks = match_ticks;
    });
    match_start();
    FuzzBytes in(data, size);
    for (int ops = 0; in.more() && ops < MAX_OPS; ops++) {
        switch (in.u8() % 12) {
            case 0: send_record(in); break;
            case 1: send_record(in); break;
            case 2: send_active(in); break;
            case 3: client_message("F", pick_fields(in, *m->host, 4)); break;
            case 4: client_message("R", ""); break;
            case 5: send_ext(in); break;
            case 6: send_ping(in); break;
            case 7: send_command(in); break;
            case 8: player_command(in); break;
            case 9: {
                int ms = 1 + in.u8() * 8;
                host_frame(ms, pick_dt(in));
                break;
            }
            default: {
                int ms = 1 + in.u8() * 8;
                float dt = pick_dt(in);
                client_frame(ms, dt, in.u8() & 1);
                break;
            }
        }
        check_table(*m->host, "host");
        check_table(*m->client, "client");
        check_client(*m->client);
    }
    // A frame on each side after the last message: its records take effect.
    host_frame(16, 0.016f);
    client_frame(16, 0.016f, 1);
    check_table(*m->client, "client");
    return 0;
}
