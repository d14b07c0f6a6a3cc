// The trace path side by side with spdlog and glog, in one binary:
//   - a disabled trace site: the bare generation-compare-and-AND, the
//     katrace host macro, glog's VLOG and spdlog below its level;
//   - an accepted line of about 84 bytes (time, line, rank, file, function,
//     a message with an int and a short string) written to a file that is
//     flushed to the kernel after every line, at 1 and 2 threads;
//   - the extra cost of the debugger sink while no viewer listens.
// Ratios against the peers are printed after the runs.
//
// Build: cmake -DKATR_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run bin/bench_trace
// (--benchmark_repetitions=5 makes the ratios use the medians).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "katrace.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

#if defined(KATR_HAVE_SPDLOG)
#  include <spdlog/sinks/basic_file_sink.h>
#  include <spdlog/spdlog.h>
#endif
#if defined(KATR_HAVE_GLOG)
#  include <glog/logging.h>
#endif

namespace fs = std::filesystem;

namespace {

fs::path g_dir;

// The manager as the library's load notification would create it, with a
// configuration for the accepted-line runs.
void start_katrace() {
    katr_on_process_attach();
    g_dir = fs::temp_directory_path() / ("katr_bench_" + std::to_string(plat_pid()));
    fs::create_directories(g_dir / "katrace");
    fs::path jot = g_dir / "bench.jot";
    std::ofstream(jot) << "LogDirectoryName " << (g_dir / "katrace").generic_string() << "/\n"
                       << "LogFileSize 1000000000\nLogNumberOfFilesToKeep 1\n"
                       << "PrintTime on\nPrintLine on\nPrintFile on\nPrintFunction on\n"
                       << "PrintToDebugVew Off\nDefaultLoggingRank fatal error warning\n";
    katr_init(jot.generic_string().c_str(), nullptr);
}

void set_debugger_sink(bool on) {
    katr_set_print_to_debug_vew(on);
}

// Out of line, so that the bare check compares against a real call.
__attribute__((noinline)) void sink_call(unsigned rank, int value) { benchmark::DoNotOptimize(rank + value); }

// ------------------------------------------------------------ disabled site

void BM_Disabled_BareCheck(benchmark::State& state) {
    // A site that is current: its generation is the manager's.
    const unsigned* live = reinterpret_cast<const unsigned*>(&katr_manager()->generation);
    static unsigned mask = 0x0E, generation = *live;
    int i = 0;
    for (auto _ : state) {
        if (__atomic_load_n(&generation, __ATOMIC_RELAXED) < __atomic_load_n(live, __ATOMIC_RELAXED) ||
            (__atomic_load_n(&mask, __ATOMIC_RELAXED) & KATR_RANK_DEBUG))
            sink_call(KATR_RANK_DEBUG, i);
        benchmark::ClobberMemory();
        ++i;
    }
}
BENCHMARK(BM_Disabled_BareCheck);

void BM_Disabled_KatraceMacro(benchmark::State& state) {
    KATR_SCOPE_QUIET(t);
    t.is_set(KATR_RANK_DEBUG);  // first use: the site is current from now on
    int i = 0;
    for (auto _ : state) {
        KATR_PRINT(t, KATR_RANK_DEBUG, "order %d for %s", i, "widget");
        benchmark::ClobberMemory();
        ++i;
    }
}
BENCHMARK(BM_Disabled_KatraceMacro);

#if defined(KATR_HAVE_GLOG)
void BM_Disabled_GlogVlog(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        VLOG(1) << "order " << i << " for "
                << "widget";
        benchmark::ClobberMemory();
        ++i;
    }
}
BENCHMARK(BM_Disabled_GlogVlog);
#endif

#if defined(KATR_HAVE_SPDLOG)
std::shared_ptr<spdlog::logger> g_spd;

void BM_Disabled_SpdlogLevel(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        SPDLOG_LOGGER_DEBUG(g_spd, "order {} for {}", i, "widget");
        benchmark::ClobberMemory();
        ++i;
    }
}
BENCHMARK(BM_Disabled_SpdlogLevel);
#endif

// ------------------------------------------------------------ accepted line

void katrace_lines(benchmark::State& state) {
    KATR_SCOPE_QUIET(bench_site);
    int i = 0;
    for (auto _ : state) {
        bench_site.print_nl(KATR_RANK_ERROR, __LINE__, "order %d for %s", i, "widget");
        ++i;
    }
    state.SetBytesProcessed(state.iterations() * 84);
}

void BM_Line_Katrace(benchmark::State& state) { katrace_lines(state); }
BENCHMARK(BM_Line_Katrace)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

void BM_Line_KatraceDebugSink(benchmark::State& state) {
    if (state.thread_index() == 0) set_debugger_sink(true);
    katrace_lines(state);
    if (state.thread_index() == 0) set_debugger_sink(false);
}
BENCHMARK(BM_Line_KatraceDebugSink)->Threads(1)->UseRealTime();

// Everything but the file write: the log file is set aside for the run, so
// that the line is assembled, formatted and dispatched and the writer drops
// it. Shows what katrace itself adds to the system call.
void BM_Line_KatraceWithoutWrite(benchmark::State& state) {
    trace_manager_c* m = katr_manager();
    // One thread runs this benchmark: the writer is changed without its lock.
    plat_file_t file = m->logger->file;
    m->logger->file = PLAT_NO_FILE;
    katrace_lines(state);
    m->logger->file = file;
}
BENCHMARK(BM_Line_KatraceWithoutWrite);

// The debugger sink alone, as write_line runs it for a line while no viewer
// listens: the rank test and the viewer test.
void BM_DebugSinkNoViewer(benchmark::State& state) {
    trace_manager_c* m = katr_manager();
    set_debugger_sink(true);
    for (auto _ : state) {
        bool send = (m->debugger_ranks.load(std::memory_order_relaxed) & KATR_RANK_ERROR) && plat_debug_output_active();
        benchmark::DoNotOptimize(send);
    }
    set_debugger_sink(false);
}
BENCHMARK(BM_DebugSinkNoViewer);

#if defined(KATR_HAVE_SPDLOG)
void BM_Line_Spdlog(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        SPDLOG_LOGGER_ERROR(g_spd, "order {} for {}", i, "widget");
        ++i;
    }
    state.SetBytesProcessed(state.iterations() * 84);
}
BENCHMARK(BM_Line_Spdlog)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();
#endif

#if defined(KATR_HAVE_GLOG)
void BM_Line_Glog(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        LOG(INFO) << "order " << i << " for "
                  << "widget";
        ++i;
    }
    state.SetBytesProcessed(state.iterations() * 84);
}
BENCHMARK(BM_Line_Glog)->Threads(1)->Threads(2)->UseRealTime();
#endif

// Keeps every run's time per iteration (ns) for the ratios.
class ratio_reporter_c : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ns, cpu;
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions the median (reported after the single runs) wins.
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median") {
                ns[r.run_name.str()] = r.GetAdjustedRealTime();
                cpu[r.run_name.str()] = r.GetAdjustedCPUTime();
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

void print_ratio(const ratio_reporter_c& rep, const char* label, const std::string& a, const std::string& b,
                 const char* goal) {
    auto ia = rep.ns.find(a), ib = rep.ns.find(b);
    if (ia == rep.ns.end() || ib == rep.ns.end() || ib->second <= 0) return;
    double ca = rep.cpu.at(a), cb = rep.cpu.at(b);
    // CPU time too: on a shared machine it is the steadier of the two.
    std::printf("  %-40s %8.2f ns / %8.2f ns = %5.2f   cpu %5.2f   (%s)\n", label, ia->second, ib->second,
                ia->second / ib->second, cb > 0 ? ca / cb : 0.0, goal);
}

void print_difference(const ratio_reporter_c& rep, const char* label, const std::string& a, const std::string& b,
                      const char* goal) {
    auto ia = rep.ns.find(a), ib = rep.ns.find(b);
    if (ia == rep.ns.end() || ib == rep.ns.end()) return;
    std::printf("  %-40s %8.2f ns - %8.2f ns = %+6.2f ns (%s)\n", label, ia->second, ib->second,
                ia->second - ib->second, goal);
}

}  // namespace

int main(int argc, char** argv) {
    start_katrace();
#if defined(KATR_HAVE_SPDLOG)
    g_spd = spdlog::basic_logger_mt("bench", (g_dir / "spdlog" / "bench.log").string(), true);
    g_spd->set_pattern("(%Y/%m/%d %H:%M:%S) %#:%l->%s:%!:%v");
    g_spd->set_level(spdlog::level::info);
    g_spd->flush_on(spdlog::level::trace);
#endif
#if defined(KATR_HAVE_GLOG)
    fs::create_directories(g_dir / "glog");
    FLAGS_log_dir = (g_dir / "glog").string();
    FLAGS_logbuflevel = -1;
    FLAGS_logbufsecs = 0;
    FLAGS_stderrthreshold = 3;
    FLAGS_v = 0;
    google::InitGoogleLogging(argv[0]);
#endif
    benchmark::Initialize(&argc, argv);
    ratio_reporter_c rep;
    benchmark::RunSpecifiedBenchmarks(&rep);

    std::printf("\nRatios (time per line):\n");
    print_ratio(rep, "disabled: katrace macro / bare check", "BM_Disabled_KatraceMacro", "BM_Disabled_BareCheck",
                "goal <= 3, and <= 1 ns");
    print_ratio(rep, "disabled: katrace macro / glog VLOG", "BM_Disabled_KatraceMacro", "BM_Disabled_GlogVlog", "-");
    print_ratio(rep, "disabled: katrace macro / spdlog level", "BM_Disabled_KatraceMacro", "BM_Disabled_SpdlogLevel",
                "-");
    print_ratio(rep, "line, 1 thread: katrace / spdlog", "BM_Line_Katrace/real_time/threads:1",
                "BM_Line_Spdlog/real_time/threads:1", "goal <= 0.95");
    print_ratio(rep, "line, 2 threads: katrace / spdlog", "BM_Line_Katrace/real_time/threads:2",
                "BM_Line_Spdlog/real_time/threads:2", "goal <= 1.0");
    print_ratio(rep, "line, 1 thread: katrace / glog", "BM_Line_Katrace/real_time/threads:1",
                "BM_Line_Glog/real_time/threads:1", "-");
    print_ratio(rep, "line, 2 threads: katrace / glog", "BM_Line_Katrace/real_time/threads:2",
                "BM_Line_Glog/real_time/threads:2", "-");
    print_difference(rep, "debugger sink, no viewer (whole line)", "BM_Line_KatraceDebugSink/real_time/threads:1",
                     "BM_Line_Katrace/real_time/threads:1", "goal <= 20 ns, noisy");
    auto own = rep.ns.find("BM_Line_KatraceWithoutWrite");
    if (own != rep.ns.end())
        std::printf("  %-40s %8.2f ns\n", "katrace line without the file write", own->second);
    auto sink = rep.ns.find("BM_DebugSinkNoViewer");
    if (sink != rep.ns.end())
        std::printf("  %-40s %8.2f ns (goal <= 20 ns)\n", "debugger sink, no viewer (the sink alone)", sink->second);

    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    return 0;
}
