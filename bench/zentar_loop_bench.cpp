// One simulation step of a busy match: four players, forty planets and a
// couple of thousand units in flight, fighting and pushing apart.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "zentar.h"
#include "zentar_sim.h"

namespace {

std::unique_ptr<Zentar> busy_world() {
    srand(1);
    std::unique_ptr<Zentar> w(new Zentar());
    sys_init(*w);
    int users[4];
    for (int i = 0; i < 4; i++) {
        users[i] = user_init(*w, "bot", 0x203040 * (i + 1), 0)->n;
        w->items[users[i]].fleet_crash = 100 + 100 * i;
    }
    int planets[40];
    for (int i = 0; i < 40; i++)
        planets[i] = planet_init(*w, users[i % 4], rand() % 1600, rand() % 1200, 20 + rand() % 80,
                                 200 + rand() % 200)->n;
    z2_settle(*w, 0, 0, 1600, 1200);
    // Everybody attacks everybody until the unit budget runs dry.
    for (int k = 0; k < 400 && w->live < 2400; k++) {
        int from = planets[rand() % 40], to = planets[rand() % 40];
        z2_send(*w, 60, from, to);
    }
    // Let the swarms leave their planets and meet.
    for (int i = 0; i < 120; i++) sys_loop(*w, 1 / 60.0f, 1);
    return w;
}

void BM_sys_loop_busy(benchmark::State& state) {
    auto tmpl = busy_world();
    std::unique_ptr<Zentar> w(new Zentar());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(static_cast<void*>(w.get()), tmpl.get(), sizeof(Zentar));
        state.ResumeTiming();
        sys_loop(*w, 1 / 60.0f, 1);
        benchmark::DoNotOptimize(w->items[1].ticks);
    }
    state.counters["items"] = tmpl->live;
}
BENCHMARK(BM_sys_loop_busy)->Unit(benchmark::kMicrosecond);

}  // namespace
