// One simulation step of a match with forty planets and N units in flight:
// four players' swarms crossing the map, turning, pushing apart and fighting
// where they meet. Targets: at most 0.5 ms per step at 4,000 units, and time
// growing no faster than n log n (the fitted complexity below); and at most
// 0.8 ms for the step right after 4,000 units were launched, when every
// swarm is still bunched on the rim of its planet.
//
// The counter `units` is the number of units the measured step starts with.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "world/zentar.h"
#include "world/zentar_sim.h"

namespace {

constexpr int UNITS_PER_FLEET = 100;  // 4,000 units, their fleets, planets and users fit the table

int count_units(const Zentar& w) {
    int n = 0;
    for (int i = 1; i < w.top; i++) n += w.items[i].in_use && w.items[i].has_unit;
    return n;
}

// Forty planets of four players, settled, and swarms launched from the rims
// of planets toward enemy planets far away (so that none lands during the
// warm-up or the measured step). After `warm_up` steps the swarms that met
// have lost units in fights; fresh launches bring the count back to n, so
// the measured step starts with n units.
std::unique_ptr<Zentar> world_in_flight(int units, int warm_up) {
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
        planets[i] = planet_init(*w, users[i % 4], rand() % 3000, rand() % 2000, 20 + rand() % 80,
                                 200 + rand() % 200)->n;
    z2_settle(*w, 0, 0, 3000, 2000);
    auto launch = [&](int until) {
        for (int made = count_units(*w); made < until;) {
            const Item& from = w->items[planets[rand() % 40]];
            const Item& to = w->items[planets[rand() % 40]];
            float dx = to.position_x - from.position_x, dy = to.position_y - from.position_y;
            if (from.owner_n == to.owner_n || dx * dx + dy * dy < 800 * 800) continue;
            int n = std::min(UNITS_PER_FLEET, until - made);
            float d = std::sqrt(dx * dx + dy * dy), r = from.collide_r;  // from the rim, as launches do
            Item* f = item_init(*w);
            _fleet_init(*w, from.owner_n, 2.0f * n, from.position_x + r * dx / d, from.position_y + r * dy / d,
                        to.n, f->n, n);
            made += n;
        }
    };
    launch(units);
    for (int i = 0; i < warm_up; i++) sys_loop(*w, 1 / 60.0f, 1);
    launch(units);
    return w;
}

// Steps a fresh copy of the template each time.
void step_copies(benchmark::State& state, const Zentar& tmpl) {
    std::unique_ptr<Zentar> w(new Zentar());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(static_cast<void*>(w.get()), &tmpl, sizeof(Zentar));
        state.ResumeTiming();
        sys_loop(*w, 1 / 60.0f, 1);
        benchmark::DoNotOptimize(w->items[1].ticks);
    }
    state.counters["units"] = count_units(tmpl);
    state.counters["items"] = tmpl.live;
}

// Swarms spread out over a second of flight.
void BM_sys_loop_units(benchmark::State& state) {
    auto tmpl = world_in_flight(static_cast<int>(state.range(0)), 60);
    step_copies(state, *tmpl);
    state.SetComplexityN(count_units(*tmpl));
}
BENCHMARK(BM_sys_loop_units)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);

// The first step after the launch: every swarm a dense disc on its planet's rim.
void BM_sys_loop_after_launch(benchmark::State& state) {
    auto tmpl = world_in_flight(static_cast<int>(state.range(0)), 0);
    step_copies(state, *tmpl);
}
BENCHMARK(BM_sys_loop_after_launch)->Arg(4000)->Unit(benchmark::kMicrosecond);

}  // namespace
