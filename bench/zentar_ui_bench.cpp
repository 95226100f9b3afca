// Pointer motion in a big match: a drag with the left button, begun on an own
// planet, over a map of 1,000 to 8,000 world units across with forty planets
// and about 4,000 units of two players in flight. BM_PointerDragMotion
// sweeps round the screen, each motion event moving 320 screen units, a
// quick flick; BM_PointerLongFlick throws the pointer back and forth across
// the dense middle of the map, 1,000 to 4,000 screen units an event (the
// window's width and more, as a captured mouse flings). A motion is walked
// in up to 1,024 steps, each looking for the item under the pointer, so the
// longer the path the more items lie along it. Target: at most 1 ms per
// motion event, whatever the map's size and the flick's length.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "render/zentar_ui.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

constexpr float SCREEN_W = 1280, SCREEN_H = 720;

struct Scene {
    std::unique_ptr<Zentar> w = std::make_unique<Zentar>();
    std::unique_ptr<ZentarUI> ui = std::make_unique<ZentarUI>();
    int me = 0;
    int home = 0;  // an own planet, where the drag begins
};

std::unique_ptr<Scene> make_scene(float map_w, int units) {
    srand(7);
    auto s = std::make_unique<Scene>();
    Zentar& w = *s->w;
    sys_init(w);
    s->me = user_init(w, "me", 0x3080ff, 0)->n;
    int foe = user_init(w, "foe", 0xff4020, 0)->n;
    float map_h = map_w * 0.6f;
    int planets[40];
    for (int i = 0; i < 40; i++) {
        float x = static_cast<float>(rand() % 1000) * map_w / 1000, y = static_cast<float>(rand() % 1000) * map_h / 1000;
        planets[i] = planet_init(w, i % 2 ? foe : s->me, x, y, 20 + rand() % 60, 100)->n;
    }
    s->home = planets[0];
    // Swarms of a hundred over the whole map, each bound for a planet.
    for (int made = 0; made + 100 <= units; made += 100) {
        Item* f = item_init(w);
        if (!f->n) break;
        float x = static_cast<float>(rand() % 1000) * map_w / 1000, y = static_cast<float>(rand() % 1000) * map_h / 1000;
        _fleet_init(w, made / 100 % 2 ? foe : s->me, 200, x, y, planets[rand() % 40], f->n, 100);
    }
    w.view[0] = w.view[1] = 0;
    w.view[2] = map_w;
    w.view[3] = map_h;
    ZentarUI& ui = *s->ui;
    ui.screen_set = 1;
    ui.screen[2] = SCREEN_W;
    ui.screen[3] = SCREEN_H;
    ui.options.ui_drag_drop = 1;
    ui_init(w, ui, 1);
    return s;
}

Event pointer(int type, float x, float y, float dx = 0, float dy = 0) {
    Event e{};
    e.type = type;
    e.x = x;
    e.y = y;
    e.b = 1;
    e.dx = dx;
    e.dy = dy;
    return e;
}

void BM_PointerDragMotion(benchmark::State& state) {
    auto s = make_scene(static_cast<float>(state.range(0)), 4000);
    Zentar& w = *s->w;
    ZentarUI& ui = *s->ui;
    const Item& home = w.items[s->home];
    Vector3 start = ui.to_screen * Vector3{home.position_x, home.position_y, 0};
    ui_event(w, ui, s->me, pointer(8, start.x, start.y));
    // Round and round a circle through the screen, 320 units per event.
    const float cx = SCREEN_W / 2, cy = SCREEN_H / 2, r = 300, step = 2 * std::asin(320 / (2 * r));
    float a = 0, x = start.x, y = start.y;
    for (auto _ : state) {
        a += step;
        float nx = cx + r * std::cos(a), ny = cy + r * std::sin(a);
        ui_event(w, ui, s->me, pointer(9, nx, ny, nx - x, ny - y));
        x = nx;
        y = ny;
    }
    int units = 0;
    for (int i = 1; i < w.top; i++) units += w.items[i].in_use && w.items[i].has_unit;
    state.counters["units"] = units;
    state.counters["world_units_per_event"] = 320 * ui.scale;
}

// Back and forth along a line through the middle of the screen, with the
// map zoomed so that the line crosses the whole of it.
void BM_PointerLongFlick(benchmark::State& state) {
    auto s = make_scene(static_cast<float>(state.range(0)), 4000);
    Zentar& w = *s->w;
    ZentarUI& ui = *s->ui;
    const float len = static_cast<float>(state.range(1));
    const Item& home = w.items[s->home];
    Vector3 start = ui.to_screen * Vector3{home.position_x, home.position_y, 0};
    ui_event(w, ui, s->me, pointer(8, start.x, start.y));
    const float cy = SCREEN_H / 2, x0 = SCREEN_W / 2 - len / 2, x1 = SCREEN_W / 2 + len / 2;
    float x = start.x, y = start.y;
    bool right = true;
    for (auto _ : state) {
        float nx = right ? x1 : x0;
        ui_event(w, ui, s->me, pointer(9, nx, cy, nx - x, cy - y));
        x = nx;
        y = cy;
        right = !right;
    }
    state.counters["world_units_per_event"] = len * ui.scale;
}

}  // namespace

// Map width in world units.
BENCHMARK(BM_PointerDragMotion)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond);
// Map width in world units, length of each motion in screen units.
BENCHMARK(BM_PointerLongFlick)
    ->Args({1000, 1000})
    ->Args({1000, 4000})
    ->Args({4000, 1000})
    ->Args({4000, 2000})
    ->Args({4000, 4000})
    ->Unit(benchmark::kMillisecond);
