// Packing speed for the packets a match sends most: 640-byte item deltas
// (mostly zeros), the 4096-byte live-slot map, and incompressible bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "net/net_pack.h"

namespace {

std::string item_delta() {
    std::string d(64 + 640, '\0');
    d[48] = 'D';
    std::mt19937 rng(5);
    for (int i = 0; i < 24; i++) d[64 + rng() % 640] = static_cast<char>(rng());
    return d;
}

std::string slot_map() {
    std::string d(64 + 4096, '\0');
    d[48] = 'A';
    for (int i = 1; i < 900; i++) d[64 + i] = static_cast<char>(1 + (i % 7 == 0));
    return d;
}

std::string noise(size_t n) {
    std::string d(n, '\0');
    std::mt19937 rng(9);
    for (auto& c : d) c = static_cast<char>(rng());
    return d;
}

void pack(benchmark::State& state, const std::string& in) {
    for (auto _ : state) benchmark::DoNotOptimize(net_pack(in));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

void unpack(benchmark::State& state, const std::string& in) {
    std::string packed = net_pack(in);
    for (auto _ : state) benchmark::DoNotOptimize(net_unpack(packed));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

void BM_PackItemDelta(benchmark::State& s) { pack(s, item_delta()); }
void BM_UnpackItemDelta(benchmark::State& s) { unpack(s, item_delta()); }
void BM_PackSlotMap(benchmark::State& s) { pack(s, slot_map()); }
void BM_UnpackSlotMap(benchmark::State& s) { unpack(s, slot_map()); }
void BM_PackNoise60k(benchmark::State& s) { pack(s, noise(60000)); }
void BM_UnpackNoise60k(benchmark::State& s) { unpack(s, noise(60000)); }

}  // namespace

BENCHMARK(BM_PackItemDelta);
BENCHMARK(BM_UnpackItemDelta);
BENCHMARK(BM_PackSlotMap);
BENCHMARK(BM_UnpackSlotMap);
BENCHMARK(BM_PackNoise60k);
BENCHMARK(BM_UnpackNoise60k);
