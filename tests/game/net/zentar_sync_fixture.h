// A host world and a client world in one process, talking over real ENet on
// 127.0.0.1, on a test clock that the frames advance by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/net.h"
#include "ruvezor/util/qel_driver.h"
#include "world/zentar.h"
#include "net/zentar_client.h"
#include "net/zentar_server.h"
#include "world/zentar_sim.h"
#include "z2_test_util.h"

namespace zsync {

// ---- test clock ----------------------------------------------------------------------

inline uint64_t clock_us = 0;
inline uint64_t clock_now() { return clock_us; }
inline void clock_install() {
    clock_us = 1000000;
    _driver_timer_set_source(clock_now);
    (void)driver_timer_get_ticks();  // the first reading is the origin: ticks start at 0
}
inline void clock_advance_ms(int ms) { clock_us += static_cast<uint64_t>(ms) * 1000; }

// ---- worlds ------------------------------------------------------------------------------

inline std::unique_ptr<Zentar> new_world() {
    std::unique_ptr<Zentar> w(new Zentar());
    sys_init(*w);
    return w;
}

struct NetCloser {
    void operator()(Net* n) const {
        n->deinit();
        delete n;
    }
};
using NetPtr = std::unique_ptr<Net, NetCloser>;

// Slot fields that hold slot numbers: a client stores them translated.
inline constexpr size_t SLOT_FIELDS[] = {
    offsetof(Item, n),           offsetof(Item, owner_n),    offsetof(Item, fleet_target),
    offsetof(Item, user_team_n), offsetof(Item, fleet_source), offsetof(Item, unit_fleet),
    offsetof(Item, unit_target), offsetof(Item, collide_target), offsetof(Item, sync_index),
};

inline int32_t rd32(const Item& it, size_t off) {
    int32_t v;
    memcpy(&v, reinterpret_cast<const char*>(&it) + off, 4);
    return v;
}

// Empty when the client item mirrors the host item: every byte equal apart
// from the slot fields, which must name the mapped local slots.
inline std::string item_diff(const Zentar& host, int h, const Zentar& client, int local) {
    const Item& a = host.items[h];
    const Item& b = client.items[local];
    const unsigned char* pa = reinterpret_cast<const unsigned char*>(&a);
    const unsigned char* pb = reinterpret_cast<const unsigned char*>(&b);
    std::string out;
    for (size_t i = 0; i < sizeof(Item); i++) {
        bool slot = false;
        for (size_t off : SLOT_FIELDS) slot = slot || (i >= off && i < off + 4);
        if (!slot && pa[i] != pb[i]) {
            out += "byte " + std::to_string(i) + " differs; ";
            break;
        }
    }
    auto map = [&](int32_t v) { return v >= 1 && v < ZT_ITEMS ? client.client_map_local[v] : 0; };
    if (b.n != local) out += "n; ";
    if (b.sync_index != h) out += "sync_index; ";
    if (b.owner_n != map(a.owner_n)) out += "owner_n; ";
    if (b.user_team_n != map(a.user_team_n)) out += "user_team_n; ";
    if (b.fleet_target != map(a.fleet_target)) out += "fleet_target; ";
    return out;
}

// ---- the pair -----------------------------------------------------------------------------

struct SyncPair {
    std::unique_ptr<Zentar> host = new_world();
    std::unique_ptr<Zentar> client = new_world();
    NetPtr host_net;
    NetPtr client_net;
    bool host_sim = true, client_sim = true;
    float dt = 0.016f;
    int frame_ms = 16;
    // A lossy line from the host, played between the sync and ENet on the
    // match clock so that the course of a match does not hang on the
    // machine's load: a share of the unreliable messages vanish, and a share
    // of the reliable ones come late, as a datagram that ENet sends again
    // does, holding back everything queued after it.
    double drop_unreliable = 0;
    double late_reliable = 0;
    int resend_frames = 30;
    std::mt19937 rng{1234};
    int dropped = 0, late = 0;
    int frames = 0;
    int hold_until = 0;                            // nothing queued now leaves before this frame
    std::deque<std::pair<int, NetMessage>> held;   // frame it leaves in, message
    std::function<void()> on_host_frame;  // bots
    std::function<void()> after_frame;    // checks once both sides are through
    std::function<void(const NetMessage&)> on_host_message;  // each message the host takes in

    void open(const char* uid) {
        host_net.reset(new NetServer());
        host_net->init("", 0, "server", "Server", "");
        host_net->open();
        int port = host_net->enet_host->address.port;
        client_net.reset(new NetClient());
        client_net->init("127.0.0.1", port, uid, "Player", "");
        client_net->open();
    }

    void frame() {
        frames++;
        clock_advance_ms(frame_ms);
        if (host_sim) {
            if (on_host_frame) on_host_frame();
            sys_loop(*host, dt, 0);
        }
        zentar_server_loop(host_net.get(), *host);
        service_host();
        if (client_sim) sys_loop(*client, dt, 0);
        zentar_client_loop(client_net.get(), *client);
        service_client();
        if (after_frame) after_frame();
    }

    void service_host() {
        if (drop_unreliable > 0 || late_reliable > 0 || !held.empty()) {
            std::uniform_real_distribution<double> u(0, 1);
            auto& out = host_net->outbox;
            for (auto& m : out) {
                if (!(m.reliable & 1) && u(rng) < drop_unreliable) {
                    dropped++;
                    continue;
                }
                if ((m.reliable & 1) && u(rng) < late_reliable) {
                    late++;
                    hold_until = std::max(hold_until, frames + resend_frames);
                }
                held.emplace_back(hold_until, m);
            }
            out.clear();
            while (!held.empty() && held.front().first <= frames) {
                out.push_back(held.front().second);
                held.pop_front();
            }
        }
        host_net->loop(0);
        NetMessage m;
        while (host_net->poll(&m)) {
            if (on_host_message) on_host_message(m);
            zentar_server_handle(host_net.get(), *host, m);
        }
    }

    void service_client() {
        client_net->loop(0);
        NetMessage m;
        while (client_net->poll(&m)) zentar_client_handle(client_net.get(), *client, m);
    }

    // Frames until done() holds; false once the wait looks like a hang. The
    // frames run on the pair's own clock, so a busy machine only makes them
    // come slower.
    bool run_until(const std::function<bool()>& done, int sleep_us = 0) {
        return z2test::step_until(done, [&] {
            frame();
            if (sleep_us) std::this_thread::sleep_for(std::chrono::microseconds(sleep_us));
        });
    }

    void run(int frames) {
        for (int i = 0; i < frames; i++) frame();
    }

    // Local slot of the client's copy of host slot h, 0 when none.
    int local_of(int h) const { return h >= 1 && h < ZT_ITEMS ? client->client_map_local[h] : 0; }
};

}  // namespace zsync
