// JSON reader and writer throughput on a web-answer-sized document.
#include <benchmark/benchmark.h>

#include <string>

#include "ruvezor/util/qel_json.h"

static std::string sample_document() {
    std::string s = "{\"news\":[";
    for (int i = 0; i < 200; i++) {
        if (i) s += ",";
        s += "{\"id\":" + std::to_string(76561198000000000LL + i) + ",\"title\":\"Item \\u00e9 " +
             std::to_string(i) + "\",\"score\":" + std::to_string(i * 0.25) + ",\"ok\":true,\"tags\":[\"a\",\"b\",null]}";
    }
    s += "],\"rank\":{\"pos\":12,\"of\":34567}}";
    return s;
}

static void BM_json_decode(benchmark::State& state) {
    std::string doc = sample_document();
    for (auto _ : state) {
        var out;
        benchmark::DoNotOptimize(json_decode(out, doc.data(), doc.size()));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)doc.size());
}
BENCHMARK(BM_json_decode);

static void BM_json_encode(benchmark::State& state) {
    std::string doc = sample_document();
    var v;
    json_decode(v, doc.data(), doc.size());
    for (auto _ : state) benchmark::DoNotOptimize(json_encode(v));
}
BENCHMARK(BM_json_encode);
