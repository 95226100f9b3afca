// What the benchmarks share. CI runs each one once with Z2_BENCH_SMOKE set
// (bench/CMakeLists.txt), only to show it still builds, runs and reports no
// error; a benchmark whose run is long by its own make-up asks here for the
// size to use, so the smoke run stays short and a measuring run is unchanged.
#pragma once

#include <cstdint>
#include <cstdlib>

inline bool z2_bench_smoke() {
    static const bool smoke = std::getenv("Z2_BENCH_SMOKE") != nullptr;
    return smoke;
}

// `full` when measuring, `smoke` in the smoke run.
inline int64_t z2_bench_size(int64_t full, int64_t smoke) { return z2_bench_smoke() ? smoke : full; }
