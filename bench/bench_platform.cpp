// Costs of the platform calls on the trace path: the debugger-output test
// while no viewer listens, one two-piece log line write, the thread id and
// the thread-local slot lookup.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace {

// No viewer listens at this endpoint; after the first probe the test only
// reads a coarse clock (re-probing once a second).
void BM_DebugOutputActiveNoViewer(benchmark::State& state) {
    if (state.thread_index() == 0) plat_set_debug_endpoint("/tmp/katr_bench_nobody_listens.sock");
    for (auto _ : state) benchmark::DoNotOptimize(plat_debug_output_active());
    if (state.thread_index() == 0) plat_set_debug_endpoint(nullptr);
}
BENCHMARK(BM_DebugOutputActiveNoViewer)->Threads(1)->Threads(2);

// One log line: a 40-byte prefix and a 44-byte message in one call.
void BM_FileWrite2Line(benchmark::State& state) {
    const std::string path = (std::filesystem::temp_directory_path() / "katr_bench_platform.log").string();
    plat_file_t f = plat_file_open_append(path.c_str());
    if (f == PLAT_NO_FILE) {
        state.SkipWithError("cannot open the log file");
        return;
    }
    const std::string prefix = "12:34:56 T 1234 [main] file.cpp:42 fn() ";
    const std::string message = "a message of a typical length to the log\r\n";
    for (auto _ : state) plat_file_write2(f, prefix.data(), prefix.size(), message.data(), message.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(prefix.size() + message.size()));
    plat_file_close(f);
    plat_delete_file(path.c_str());
}
BENCHMARK(BM_FileWrite2Line)->Unit(benchmark::kMicrosecond);

void BM_ThreadId(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(plat_thread_id());
}
BENCHMARK(BM_ThreadId);

void BM_TlsGet(benchmark::State& state) {
    unsigned slot = 0;
    plat_tls_alloc(&slot, nullptr);
    plat_tls_set(slot, &slot);
    for (auto _ : state) benchmark::DoNotOptimize(plat_tls_get(slot));
    plat_tls_free(slot);
}
BENCHMARK(BM_TlsGet);

}  // namespace

BENCHMARK_MAIN();
