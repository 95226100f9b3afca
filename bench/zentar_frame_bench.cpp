// A painted match frame: 1280x720 on SDL's offscreen GL (Mesa's software
// renderer, as in CI) with 100 planets, 2,000 units in flight, the HUD and
// the star layer over the background. Target: at most 8 ms per frame. And a
// big match of 500 planets seen zoomed in.
// glFinish ends every frame, so the renderer's work is counted; no flip,
// which would wait for a frame time.
//
// The hostile frames: a client's step and frame of a world a hostile host
// sent, thousands of full-size planets on one spot or thousands of fleets
// each asking for a million units. Target: well under 100 ms each.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "render/zentar_bkgr.h"
#include "render/zentar_paint.h"
#include "render/zentar_planet_paint.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "net/net.h"
#include "net/zentar_client.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

const int W = 1280, H = 720;

// The offscreen window and the painters, around the benchmark's body.
template <class Body>
void with_gl(benchmark::State& state, Body body) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_video_init(W, H, W, H, W, H, 0);
    if (!driver_sdl2_window()) {
        state.SkipWithError("no offscreen GL window");
        return;
    }
    driver_set_altdir(Z2_DATA_DIR);
    gfx_init();
    font_init();
    gfx_set_size(W, H);
    gfx_set_ortho_near_far(-1000, 1000);
    gfx_gl_state_reset();
    planet_paint_init();
    body();
    font_deinit();
    gfx_deinit();
    driver_deinit();
}

// A match of `count` planets on a map of map_w x map_h, 2,000 units in
// flight, seen `zoom` times closer than the whole map.
void match_frames(benchmark::State& state, int count, int map_w, int map_h, float zoom) {
    with_gl(state, [&] {
        srand(5);
        auto w = std::make_unique<Zentar>();
        auto ui = std::make_unique<ZentarUI>();
        sys_init(*w);
        int users[4];
        const int colours[4] = {0x3080ff, 0xff4020, 0x40e060, 0xe0c030};
        for (int i = 0; i < 4; i++) users[i] = user_init(*w, "bot", colours[i], 0)->n;
        std::vector<int> planets(count);
        for (int i = 0; i < count; i++) {
            Item* p = planet_init(*w, users[i % 4], rand() % map_w, rand() % map_h, 20 + rand() % 80, 100);
            planet_style_init(*w, p->n, colours[i % 4], colours[i % 4], "default", nullptr);
            planets[i] = p->n;
        }
        z2_settle(*w, 0, 0, map_w, map_h);
        for (int made = 0; made < 2000; made += 100) {
            const Item& from = w->items[planets[rand() % count]];
            Item* f = item_init(*w);
            _fleet_init(*w, from.owner_n, 200, from.position_x, from.position_y, planets[rand() % count], f->n, 100);
        }
        for (int i = 0; i < 30; i++) sys_loop(*w, 1 / 60.0f, 1);  // the swarms leave their planets
        w->bkgr_stars = 1;
        w->bkgr_zoom = 1;
        ui_init(*w, *ui, 0);
        ui->zoom = 1 / zoom;
        ui_calc_trans(*w, *ui);
        int units = 0;
        for (int i = 1; i < w->top; i++) units += w->items[i].in_use && w->items[i].has_unit;
        for (auto _ : state) {
            gfx_clear();
            gfx_ortho();
            sys_paint(*w, *ui, users[0], 1);
            ui_paint(*w, *ui, users[0]);
            glFinish();
        }
        state.counters["units"] = units;
    });
}

void BM_MatchFrame(benchmark::State& state) { match_frames(state, 100, 3000, 1700, 1); }
BENCHMARK(BM_MatchFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// A big match seen close: 500 planets on a map eight screens across, zoomed
// in eight times, so that most planets, units and counts lie off the screen.
// Target: no slower than the whole small match above.
void BM_BigMatchZoomedFrame(benchmark::State& state) { match_frames(state, 500, 8000, 4500, 8); }
BENCHMARK(BM_BigMatchZoomedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// Host records as a client takes them.
struct HostFeed {
    Net net;  // a client endpoint that only queues
    Zentar& world;
    Zentar& styles;  // where the planets' looks are made
    int uid = 100;
    void feed(const char* type, const std::string& value) {
        NetMessage m;
        m.type = type;
        m.value = value;
        zentar_client_handle(&net, world, m);
    }
    Item record(int n) {
        Item it{};
        it.in_use = 1;
        it.n = n;
        it.has_sync = 1;
        it.sync_id = uid++;
        return it;
    }
    void send(const Item& it) { feed("I", std::string(reinterpret_cast<const char*>(&it), sizeof it)); }
    void user(int n, int colour) {
        Item u = record(n);
        u.has_user = 1;
        u.fleet_color = u.render_color = colour;
        u.ships_production_factor = u.ships_value_factor = u.fleet_v_factor = 1;
        send(u);
    }
    void planet(int n, int owner, float x, float y, float r) {
        Item p = record(n);
        p.has_position = p.has_planet = p.has_owner = p.has_ships = p.has_collide = p.has_render = 1;
        p.owner_n = owner;
        p.position_x = x;
        p.position_y = y;
        p.planet_r = p.collide_r = p.fleet_r = r;
        p.collide_mass = r * r;
        p.ships_value = 10;
        p.render_alpha = 255;
        p.planet_seed = n;
        planet_style_init(styles, 1, 0x3080ff, 0x3080ff, "default", "planet-aura");
        p.planet_style = styles.items[1].planet_style;
        send(p);
    }
};

// One client frame of the world the host sent: the step, then the paint.
void hostile_frames(benchmark::State& state, void (*send)(HostFeed&)) {
    with_gl(state, [&] {
        srand(5);
        auto w = std::make_unique<Zentar>();
        auto ui = std::make_unique<ZentarUI>();
        auto styles = std::make_unique<Zentar>();
        sys_init(*w);
        sys_init(*styles);
        item_init(*styles);
        HostFeed host{{}, *w, *styles};
        host.feed("R", "");
        host.feed("X", "bkgr 0 0 800 600 0 0 800 600");
        send(host);
        ui_init(*w, *ui, 0);
        int units = 0;
        for (int i = 1; i < w->top; i++) units += w->items[i].in_use && w->items[i].has_unit;
        for (auto _ : state) {
            sys_loop(*w, 1 / 60.0f, 1);
            gfx_clear();
            gfx_ortho();
            sys_paint(*w, *ui, 0, 1);
            ui_paint(*w, *ui, 0);
            glFinish();
        }
        state.counters["units"] = units;
    });
}

// 4,094 planets all on one spot, of the largest radius a host may send or
// of the smallest that shows.
float crowd_r = 0;
void BM_HostileCrowdFrame(benchmark::State& state) {
    crowd_r = state.range(0);
    hostile_frames(state, [](HostFeed& host) {
        host.user(1, 0x808080);
        for (int n = 2; n < ZT_ITEMS; n++) host.planet(n, 1, 400 + n % 3, 300, crowd_r);
    });
}
BENCHMARK(BM_HostileCrowdFrame)->Arg(ZC_RADIUS_MAX)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 3,990 fleets each asking for a million units of a billion ships, at the
// largest radius and speed a host may send.
void BM_HostileFleetsFrame(benchmark::State& state) {
    hostile_frames(state, [](HostFeed& host) {
        host.user(1, 0x808080);
        host.user(2, 0xff0000);
        host.planet(3, 1, 100, 100, 30);
        host.planet(4, 2, 600, 400, 40);
        host.planet(5, 1, 400, 300, 20);
        for (int n = 10; n < 4000; n++) {
            Item f = host.record(n);
            f.has_fleet = f.has_position = f.has_owner = f.has_render = 1;
            f.owner_n = 2;
            f.fleet_target = 3;
            f.fleet_units = 1000000;
            f.fleet_ships = ZC_SHIPS_MAX;
            f.position_x = n % 2 ? 500 : -ZC_COORD_MAX;
            f.position_y = n % 2 ? 400 : ZC_COORD_MAX;
            f.unit_speed = ZC_SPEED_MAX - 1;
            f.fleet_r = ZC_RADIUS_MAX;
            host.send(f);
        }
    });
}
BENCHMARK(BM_HostileFleetsFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
