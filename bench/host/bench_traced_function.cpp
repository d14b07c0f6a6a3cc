// What a host pays per traced function while tracing is off, measured the
// way a host links the library (the shared library, through its header):
//   - an empty function (the harness's own cost);
//   - KATR_SCOPE alone;
//   - KATR_SCOPE with one disabled KATR_PRINT (the common traced function);
//   - a disabled print without the macro (a call into the library);
//   - the traced function with KeepStack on (push and pop of the scope stack);
//   - spdlog's disabled call (a logger below its level) for comparison.
// Each case is a function called through a pointer, so that no case is
// folded into the loop. Ratios against spdlog (of CPU times, steadier than
// wall time on a shared machine) are printed after the runs.
//
// Build: cmake -DKATR_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run
// bin/bench_traced_function --benchmark_repetitions=5
// --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <katrace.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "median_reporter.h"

#if defined(KATR_HAVE_SPDLOG)
#  include <spdlog/sinks/null_sink.h>
#  include <spdlog/spdlog.h>
#endif

namespace fs = std::filesystem;

namespace {

// Loads a configuration with tracing off (the defaults: fatal, error and
// warning) and KeepStack as asked.
void load(bool keep_stack) {
    static const fs::path dir = fs::temp_directory_path() / "katr_bench_traced";
    fs::create_directories(dir);
    const fs::path jot = dir / "bench.jot";
    std::ofstream(jot) << "LogDirectoryName " << dir.generic_string() << "/\n"
                       << "KeepStack " << (keep_stack ? "true" : "false") << "\n";
    char reply[512];
    unsigned long long len = sizeof reply;
    katr_reparse_file(reply, len, jot.generic_string().c_str());
}

typedef void (*case_f)(int);

__attribute__((noinline)) void empty_function(int i) { benchmark::DoNotOptimize(i); }

__attribute__((noinline)) void scope_only(int i) {
    KATR_SCOPE(t);
    benchmark::DoNotOptimize(i);
}

__attribute__((noinline)) void scope_and_disabled_print(int i) {
    KATR_SCOPE(t);
    KATR_PRINT(t, KATR_RANK_DEBUG, "order %d for %s", i, "widget");
}

__attribute__((noinline)) void disabled_print_call(int i) {
    KATR_SCOPE_QUIET(t);
    t.print(KATR_RANK_DEBUG, __LINE__, "order %d for %s", i, "widget");
}

#if defined(KATR_HAVE_SPDLOG)
spdlog::logger* g_spd = nullptr;

__attribute__((noinline)) void spdlog_disabled(int i) { g_spd->debug("order {} for {}", i, "widget"); }
#endif

void run(benchmark::State& state, case_f f) {
    case_f volatile call = f;
    int i = 0;
    for (auto _ : state) call(i++);
}

void BM_EmptyFunction(benchmark::State& s) { run(s, empty_function); }
void BM_ScopeOnly(benchmark::State& s) { run(s, scope_only); }
void BM_ScopeAndDisabledPrint(benchmark::State& s) { run(s, scope_and_disabled_print); }
void BM_DisabledPrintCall(benchmark::State& s) { run(s, disabled_print_call); }
void BM_KeepStackScope(benchmark::State& s) {
    load(true);
    run(s, scope_and_disabled_print);
    load(false);
}
BENCHMARK(BM_EmptyFunction);
BENCHMARK(BM_ScopeOnly);
BENCHMARK(BM_ScopeAndDisabledPrint);
BENCHMARK(BM_DisabledPrintCall);
BENCHMARK(BM_KeepStackScope);
#if defined(KATR_HAVE_SPDLOG)
void BM_SpdlogDisabled(benchmark::State& s) { run(s, spdlog_disabled); }
BENCHMARK(BM_SpdlogDisabled);
#endif

// The times of every run, for the ratios printed at the end.
class ratio_reporter_c : public median_reporter_c {
public:
    void print_ratios() const {
        const double empty = cpu("BM_EmptyFunction"), spd = cpu("BM_SpdlogDisabled");
        std::printf("\nKATR_SCOPE alone over an empty function: %.2f ns\n", cpu("BM_ScopeOnly") - empty);
        std::printf("KeepStack push + pop: %.2f ns\n", cpu("BM_KeepStackScope") - cpu("BM_ScopeAndDisabledPrint"));
        if (spd > 0) {
            std::printf("traced function / spdlog disabled call: %.2f\n", cpu("BM_ScopeAndDisabledPrint") / spd);
            std::printf("disabled print call / spdlog disabled call: %.2f\n", cpu("BM_DisabledPrintCall") / spd);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    load(false);
#if defined(KATR_HAVE_SPDLOG)
    auto spd = std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_st>());
    spd->set_level(spdlog::level::info);
    g_spd = spd.get();
#endif
    benchmark::Initialize(&argc, argv);
    ratio_reporter_c reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    return 0;
}
