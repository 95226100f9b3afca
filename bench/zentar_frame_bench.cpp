// A painted match frame: 1280x720 on SDL's offscreen GL (Mesa's software
// renderer, as in CI) with 100 planets, 2,000 units in flight, the HUD and
// the star layer over the background. Target: at most 8 ms per frame.
// glFinish ends every frame, so the renderer's work is counted; no flip,
// which would wait for a frame time.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include <cstdlib>
#include <memory>

#include "render/zentar_bkgr.h"
#include "render/zentar_paint.h"
#include "render/zentar_planet_paint.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

const int W = 1280, H = 720;

void BM_MatchFrame(benchmark::State& state) {
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
    {
        srand(5);
        auto w = std::make_unique<Zentar>();
        auto ui = std::make_unique<ZentarUI>();
        sys_init(*w);
        int users[4];
        const int colours[4] = {0x3080ff, 0xff4020, 0x40e060, 0xe0c030};
        for (int i = 0; i < 4; i++) users[i] = user_init(*w, "bot", colours[i], 0)->n;
        int planets[100];
        for (int i = 0; i < 100; i++) {
            Item* p = planet_init(*w, users[i % 4], rand() % 3000, rand() % 1700, 20 + rand() % 80, 100);
            planet_style_init(*w, p->n, colours[i % 4], colours[i % 4], "default", nullptr);
            planets[i] = p->n;
        }
        z2_settle(*w, 0, 0, 3000, 1700);
        for (int made = 0; made < 2000; made += 100) {
            const Item& from = w->items[planets[rand() % 100]];
            Item* f = item_init(*w);
            _fleet_init(*w, from.owner_n, 200, from.position_x, from.position_y, planets[rand() % 100], f->n, 100);
        }
        for (int i = 0; i < 30; i++) sys_loop(*w, 1 / 60.0f, 1);  // the swarms leave their planets
        w->bkgr_stars = 1;
        w->bkgr_zoom = 1;
        ui_init(*w, *ui, 0);
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
    }
    font_deinit();
    gfx_deinit();
    driver_deinit();
}
BENCHMARK(BM_MatchFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
