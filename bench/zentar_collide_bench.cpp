// Push-apart pass over swarms of units around planets, the hot path of every
// simulation step.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "world/zentar.h"

namespace {

// n units in fleets converging on a few planets, as a busy match has them.
std::unique_ptr<Zentar> make_world(int units, float spread) {
    auto w = std::make_unique<Zentar>();
    sys_init(*w);
    srand(5);
    for (int i = 0; i < 12; i++) {
        Item& p = *item_init(*w);
        p.has_collide = 1;
        p.position_x = static_cast<float>(rand() % 1000);
        p.position_y = static_cast<float>(rand() % 700);
        p.collide_r = 24;
        p.collide_mass = 1810;
        p.collide_group = 1;
    }
    for (int i = 0; i < units && w->live < ZT_ITEMS - 1; i++) {
        Item& u = *item_init(*w);
        int fleet = i / 60;
        u.has_collide = 1;
        u.position_x = static_cast<float>(fleet * 97 % 1000) + static_cast<float>(rand() % 1000) * spread / 1000;
        u.position_y = static_cast<float>(fleet * 61 % 700) + static_cast<float>(rand() % 1000) * spread / 1000;
        u.collide_r = 6;
        u.collide_mass = 1;
        u.collide_group = u.collide_yield_id = (((fleet % 4 + 1) << 12) | (fleet % 12 + 1)) << 8;
        u.collide_yield_mask = 1;
    }
    return w;
}

void BM_collide_loop(benchmark::State& state) {
    auto w = make_world(static_cast<int>(state.range(0)), static_cast<float>(state.range(1)));
    for (auto _ : state) {
        collide_loop(*w);
        benchmark::DoNotOptimize(w->items[20].position_x);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

// Units, spread of each fleet in world units (small = dense clusters).
BENCHMARK(BM_collide_loop)->Args({500, 100})->Args({2000, 100})->Args({4000, 100})->Args({4000, 20});
