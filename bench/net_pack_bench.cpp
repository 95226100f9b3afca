// Packing speed for the packets a match sends most: 640-byte item deltas
// (mostly zeros), the 4096-byte live-slot map, and incompressible bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

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

// The item deltas of one full pass over 4,000 synced items a few seconds
// into a match: the slot number, and the bits of the tick count, the ships
// and, for a tenth, the position that changed since the whole item went out.
std::vector<NetMessage> pass_of_deltas(size_t items) {
    std::vector<NetMessage> pass(items);
    std::mt19937 rng(7);
    for (size_t k = 0; k < pass.size(); k++) {
        NetMessage& m = pass[k];
        m.type.assign(1, 'D');  // (= "D" trips a false -Wrestrict in GCC 12)
        m.value.assign(640, '\0');
        int32_t slot = static_cast<int32_t>(k + 2);
        memcpy(&m.value[4], &slot, 4);
        auto changed = [&](size_t at, uint32_t bits) {
            uint32_t x = bits & static_cast<uint32_t>(rng());
            memcpy(&m.value[at], &x, 4);
        };
        changed(8, 0x3ff);          // ticks
        changed(212, 0x407fffff);   // ships_value
        changed(236, 0x1f0000);     // fleet_ships
        if (k % 10 == 0) changed(68, 0x7fff);  // position_x
    }
    return pass;
}

// The host's send of such a pass: every packet built into one string.
void BM_BuildPassOfItemDeltas(benchmark::State& state) {
    std::vector<NetMessage> pass = pass_of_deltas(static_cast<size_t>(state.range(0)));
    std::string wire;
    size_t bytes = 0;
    for (auto _ : state) {
        for (const NetMessage& m : pass) {
            net_build_into(m, wire);
            bytes += wire.size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["packed_bytes_per_packet"] =
        static_cast<double>(bytes) / static_cast<double>(state.iterations() * pass.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pass.size() * 640));
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

BENCHMARK(BM_BuildPassOfItemDeltas)->Arg(100)->Arg(4000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PackItemDelta);
BENCHMARK(BM_UnpackItemDelta);
BENCHMARK(BM_PackSlotMap);
BENCHMARK(BM_UnpackSlotMap);
BENCHMARK(BM_PackNoise60k);
BENCHMARK(BM_UnpackNoise60k);
