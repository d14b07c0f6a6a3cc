// The black box's record path, measured the way a host links the library
// (the shared library, through its header), beside two references:
//   - spdlog's backtrace: a debug call below the logger's level with
//     enable_backtrace(4096), which formats the message into spdlog's ring;
//   - the limit: the time-stamp counter read and a 48-byte record stored
//     into a thread-local ring (a plain array, no library);
//   - a recorded message the log does not write: KATR_PRINT of a debug
//     message with three arguments (int, short string, int) while the log
//     writes errors only and a 64 MiB box records every rank, at 1 and 2
//     threads;
//   - a recorded enter and leave: a function with KATR_SCOPE alone.
// The goals, as ratios of the same run, are printed after the runs.
//
// Build: cmake -DKATR_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run
// bin/bench_box --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// (the ratios then use the medians).
#include <benchmark/benchmark.h>
#include <katrace.h>
#include <time.h>
#include <unistd.h>
#include <x86intrin.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/median_reporter.h"

#if defined(KATR_HAVE_SPDLOG)
#  include <spdlog/sinks/null_sink.h>
#  include <spdlog/spdlog.h>
#endif

namespace fs = std::filesystem;

namespace {

fs::path g_dir;

// Errors written, every rank recorded into a box of box_size bytes (0: none).
bool load(unsigned long long box_size) {
    fs::create_directories(g_dir);
    const fs::path jot = g_dir / "bench.jot";
    std::ofstream(jot) << "LogDirectoryName " << g_dir.generic_string() << "/\n"
                       << "DefaultLoggingRank error\nPrintToDebugVew Off\n"
                       << "BlackBoxSize " << box_size << "\n";
    char reply[1024];
    unsigned long long len = sizeof reply;
    katr_reparse_file(reply, len, jot.generic_string().c_str());
    const bool open = (katr_state_flags & KATR_STATE_BLACK_BOX) != 0;
    if (open != (box_size != 0)) std::fprintf(stderr, "black box not as configured: %.*s\n", static_cast<int>(len), reply);
    return open == (box_size != 0);
}

// ------------------------------------------------------------ the limit

// A thread's ring of 48-byte records: the counter, a site, a rank and
// three arguments, as a record of the box would hold them.
struct limit_ring_s {
    static const unsigned RECORDS = 4096;
    uint64_t words[RECORDS * 6];
    unsigned head = 0;
};
thread_local limit_ring_s t_ring;

inline void limit_record(int i) {
    limit_ring_s& r = t_ring;
    uint64_t* at = r.words + r.head * 6;
    at[0] = __rdtsc();
    at[1] = 0x0000000400000123ull;
    at[2] = static_cast<uint64_t>(i);
    at[3] = reinterpret_cast<uintptr_t>("widget");
    at[4] = 7;
    at[5] = 0x0000000300000001ull;
    r.head = (r.head + 1) & (limit_ring_s::RECORDS - 1);
}

// -------------------------------------------------------------- the cases

typedef void (*case_f)(int);

// Each case is a function called through a pointer, so that none is
// folded into the loop; the message cases' scope is quiet (no enter and
// leave), so that one call is one recorded event.
__attribute__((noinline)) void limit_case(int i) { limit_record(i); }

__attribute__((noinline)) void recorded_message(int i) {
    KATR_SCOPE_QUIET(t);
    KATR_PRINT(t, KATR_RANK_DEBUG, "order %d for %s (%d)", i, "widget", 7);
}

__attribute__((noinline)) void recorded_scope(int i) {
    KATR_SCOPE(t);
    benchmark::DoNotOptimize(i);
}

#if defined(KATR_HAVE_SPDLOG)
spdlog::logger* g_spd = nullptr;

__attribute__((noinline)) void spdlog_backtrace(int i) { g_spd->debug("order {} for {} ({})", i, "widget", 7); }
#endif

double thread_cpu_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Each thread's own CPU time per call, when there are two or more, as the
// counters t0_ns and t1_ns (a counter is summed over the threads, and each
// of these is set by one thread only): every thread runs the same number
// of calls, so a thread slowed by a shared cache line shows here.
void run(benchmark::State& state, case_f f) {
    case_f volatile call = f;
    int i = 0;
    const double t0 = thread_cpu_ns();
    for (auto _ : state) call(i++);
    const double ns = thread_cpu_ns() - t0;
    if (state.threads() > 1 && state.thread_index() < 2 && state.iterations())
        state.counters[state.thread_index() == 0 ? "t0_ns" : "t1_ns"] = ns / static_cast<double>(state.iterations());
}

void BM_Limit(benchmark::State& s) { run(s, limit_case); }
void BM_BoxMessage(benchmark::State& s) { run(s, recorded_message); }
void BM_BoxEnterLeave(benchmark::State& s) { run(s, recorded_scope); }
BENCHMARK(BM_Limit);
BENCHMARK(BM_BoxMessage);
BENCHMARK(BM_BoxEnterLeave);
BENCHMARK(BM_BoxMessage)->Threads(1)->Threads(2)->UseRealTime();
#if defined(KATR_HAVE_SPDLOG)
void BM_SpdlogBacktrace(benchmark::State& s) { run(s, spdlog_backtrace); }
BENCHMARK(BM_SpdlogBacktrace);
#endif

// Keeps every run's times and the spread of the threads' own times in the
// 2-thread run.
class ratio_reporter_c : public median_reporter_c {
public:
    void print_goals() const {
        const double limit = cpu("BM_Limit"), msg = cpu("BM_BoxMessage"), scope = cpu("BM_BoxEnterLeave");
        const double spd = cpu("BM_SpdlogBacktrace");
        const double t1 = real("BM_BoxMessage/real_time/threads:1"), t2 = real("BM_BoxMessage/real_time/threads:2");
        std::printf("\n%-46s %9s %7s %9s %s\n", "case (cpu time per call)", "ns", "ratio", "goal", "met");
        auto row = [](const char* label, double ns, double base, double goal) {
            const double ratio = base > 0 ? ns / base : 0;
            std::printf("%-46s %9.2f %7.2f %9.2f %s\n", label, ns, ratio, goal, base > 0 && ratio <= goal ? "yes" : "no");
        };
        std::printf("%-46s %9.2f\n", "(a) spdlog backtrace, debug below level", spd);
        std::printf("%-46s %9.2f\n", "(b) limit: counter + 48-byte thread ring", limit);
        row("(c) recorded message / (a)", msg, spd, 0.25);
        row("(c) recorded message / (b)", msg, limit, 1.5);
        row("(d) recorded enter + leave / (b)", scope, limit, 2.0);
        // Google Benchmark's real time of a multi-threaded run is the wall
        // time over the calls of all threads: the aggregate time per event.
        // Its CPU time is the threads' CPU time over their calls, so half of
        // it is the time per event that two free cores would give (the
        // figure that does not depend on what else the machine runs).
        const double c1 = cpu("BM_BoxMessage/real_time/threads:1"), c2 = cpu("BM_BoxMessage/real_time/threads:2");
        std::printf("%-46s %9.2f\n", "(e) 1 thread, real time per event", t1);
        row("(e) 2 threads, real time per event / 1 thread", t2, t1, 0.6);
        std::printf("%-46s %9.2f\n", "(e) 1 thread, cpu time per event", c1);
        row("(e) 2 threads, cpu time per event / 2 / 1 thr.", c2 / 2, c1, 0.6);
        if (spread_ > 0)
            std::printf("%-46s %9s %7.2f %9.2f %s\n", "(e) 2 threads, slower / faster thread", "", spread_, 1.2,
                        spread_ <= 1.2 ? "yes" : "no");
    }

private:
    void noted(const std::string& name, const Run& r) override {
        auto a = r.counters.find("t0_ns"), b = r.counters.find("t1_ns");
        if (name == "BM_BoxMessage/real_time/threads:2" && a != r.counters.end() && b != r.counters.end() &&
            a->second.value > 0 && b->second.value > 0) {
            const double x = a->second.value, y = b->second.value;
            spread_ = x > y ? x / y : y / x;
        }
    }
    double spread_ = 0;  // the 2-thread run's slower thread's time over the faster one's
};

}  // namespace

int main(int argc, char** argv) {
    g_dir = fs::temp_directory_path() / ("katr_bench_box_" + std::to_string(::getpid()));
    if (!load(64ull << 20)) return 1;
#if defined(KATR_HAVE_SPDLOG)
    auto spd = std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    spd->set_level(spdlog::level::info);
    spd->enable_backtrace(4096);
    g_spd = spd.get();
#endif
    benchmark::Initialize(&argc, argv);
    ratio_reporter_c reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_goals();
    benchmark::Shutdown();
    load(0);
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    return 0;
}
