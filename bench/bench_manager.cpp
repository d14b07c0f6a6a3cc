// Trace manager hot paths: the record lookup of a known thread, the reader
// lock on its own, and the rank decision of a new call site against a
// configuration of 200 rules.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "manager/trace_manager.h"

namespace {

trace_manager_c& manager() {
    static trace_manager_c* m = new trace_manager_c;
    return *m;
}

// 50 function, 50 class, 50 file rules and 50 modules, mostly relative so
// that an evaluation walks every list.
void load_200_rules(trace_manager_c& m) {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    std::string text;
    char line[160];
    for (int i = 0; i < 50; ++i) {
        std::snprintf(line, sizeof line, "Function Func%d::call* +debug\n", i);
        text += line;
        std::snprintf(line, sizeof line, "Class Klass%d +note\n", i);
        text += line;
        std::snprintf(line, sizeof line, "File file%d.cpp +log -warning\n", i);
        text += line;
        std::snprintf(line, sizeof line, "ModuleContent mod%d part%d_*.cpp other%d.h\nModuleRank mod%d +var\n", i, i, i, i);
        text += line;
    }
    tr_stream_c msgs;
    if (!m.parse_buffer(text.c_str(), msgs)) std::fprintf(stderr, "rules: %s\n", msgs.c_str());
}

void BM_GetThreadRecordKnownThread(benchmark::State& state) {
    trace_manager_c& m = manager();
    m.get_thread_record();
    for (auto _ : state) benchmark::DoNotOptimize(m.get_thread_record());
}
BENCHMARK(BM_GetThreadRecordKnownThread)->ThreadRange(1, 4);

void BM_ReaderLockUncontended(benchmark::State& state) {
    single_writer_multi_reader_c lock;
    for (auto _ : state) {
        multi_reader_lock_c hold(lock);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ReaderLockUncontended);

void BM_GetRankMask200Rules(benchmark::State& state) {
    trace_manager_c& m = manager();
    load_200_rules(m);
    unsigned generation = 0;
    // Matches the last class rule and the last module; no function rule.
    for (auto _ : state)
        benchmark::DoNotOptimize(m.get_rank_mask("Klass49::send", "part49_net.cpp", &generation));
    state.counters["mask"] = m.get_rank_mask("Klass49::send", "part49_net.cpp", &generation);
}
BENCHMARK(BM_GetRankMask200Rules)->ThreadRange(1, 4);

void BM_PushPop(benchmark::State& state) {
    trace_manager_c& m = manager();
    thread_trace_s* r = m.get_thread_record();
    for (auto _ : state) {
        m.push(r, "bench.cpp", "Bench::scope");
        m.pop(r);
    }
}
BENCHMARK(BM_PushPop);

}  // namespace

BENCHMARK_MAIN();
