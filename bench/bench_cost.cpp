// Costs that grow with the size of the input, each of which once ran under
// the manager's writer lock:
//   - katr_parse_buffer of N lines that each carry an unknown keyword (each
//     adds an error text to the reply);
//   - a parse of N distinct rules of one kind (File, Function, ThreadByName,
//     and N content items of one module) into a fresh configuration;
//   - the configuration report of a live configuration of 20,000 rules;
//   - katr_init in a log directory holding 40,000 numbered log files;
//   - the longest wait of a tracing thread while the manager parses
//     100,000 rules (counter max_wait_ms).
//
// Build: cmake -DKATR_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run bin/bench_cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "config/config_parser.h"
#include "katrace.h"
#include "kor/mix.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace fs = std::filesystem;

namespace {

fs::path g_dir;

// The module name of the log files: the program name up to its first dot.
std::string exe_module() {
    const char* name = mix_n::get_exe_name(nullptr);
    std::string s = name ? name : "";
    return s.substr(0, s.find('.'));
}

// N lines made by line(i).
template <typename F>
std::string lines(int n, F line) {
    std::string text;
    char buf[160];
    for (int i = 0; i < n; ++i) {
        line(buf, sizeof buf, i);
        text += buf;
    }
    return text;
}

std::string rules_of(const char* kind, int n) {
    const std::string k = kind;
    return lines(n, [&](char* b, size_t size, int i) {
        if (k == "File") std::snprintf(b, size, "File src/file%d.cpp +debug\n", i);
        else if (k == "Function") std::snprintf(b, size, "Function ns::Cls%d::run* +var\n", i);
        else if (k == "ModuleContent") std::snprintf(b, size, "ModuleContent core part%d.cpp\n", i);
        else std::snprintf(b, size, "ThreadByName worker-%d on\n", i);
    });
}

// --------------------------------------------------------------- parsing

void BM_ParseBufferBadKeywordLines(benchmark::State& state) {
    const std::string text = lines(static_cast<int>(state.range(0)), [](char* b, size_t size, int i) {
        std::snprintf(b, size, "NoSuchKeyword%d some value\n", i);
    });
    std::string reply(4u << 20, '\0');
    unsigned long long len = 0;
    for (auto _ : state) {
        len = reply.size();
        benchmark::DoNotOptimize(katr_parse_buffer(&reply[0], len, text.c_str()));
    }
    state.counters["reply_bytes"] = static_cast<double>(len);
}
BENCHMARK(BM_ParseBufferBadKeywordLines)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

template <int Kind>
void BM_ParseDistinctRules(benchmark::State& state) {
    static const char* const kinds[] = {"File", "Function", "ModuleContent", "ThreadByName"};
    const std::string text = rules_of(kinds[Kind], static_cast<int>(state.range(0)));
    for (auto _ : state) {
        config_parser_c fresh;
        tr_stream_c messages;
        benchmark::DoNotOptimize(fresh.parse_text(text.c_str(), messages));
    }
}
BENCHMARK_TEMPLATE(BM_ParseDistinctRules, 0)->Name("BM_ParseDistinctRules/File")->Arg(25000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_ParseDistinctRules, 1)->Name("BM_ParseDistinctRules/Function")->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_ParseDistinctRules, 2)->Name("BM_ParseDistinctRules/ModuleContent")->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_ParseDistinctRules, 3)->Name("BM_ParseDistinctRules/ThreadByName")->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- report

// The live configuration gets 5,000 rules of each of four kinds once.
void BM_ConfigContent20000Rules(benchmark::State& state) {
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        std::string text = rules_of("File", 5000) + rules_of("Function", 5000) +
                           lines(5000, [](char* b, size_t size, int i) {
                               std::snprintf(b, size, "Class Klass%d -warning\n", i);
                           }) +
                           lines(5000, [](char* b, size_t size, int i) {
                               std::snprintf(b, size, "ModuleContent mod%d a%d.cpp b%d_*.h\n", i, i, i);
                           });
        tr_stream_c messages;
        katr_manager()->parse_buffer(text.c_str(), messages);
    }
    unsigned long long bytes = 0;
    for (auto _ : state) {
        tr_stream_c out;  // fresh, as for every control call: the growth is part of the cost
        katr_manager()->config_content(out);
        bytes = out.length;
    }
    state.counters["report_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ConfigContent20000Rules)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------- directory scan

// katr_init in a directory of 40,000 rotated files of this program (kept:
// the configuration keeps a million files, so no iteration deletes them).
void BM_InitScan40000LogFiles(benchmark::State& state) {
    const fs::path logs = g_dir / "many";
    fs::create_directories(logs);
    const std::string module = exe_module();
    for (int i = 1; i <= 40000; ++i) std::ofstream(logs / (module + ".log." + std::to_string(i)));
    const std::string jot = (g_dir / "many.jot").generic_string();
    std::ofstream(jot) << "LogDirectoryName " << logs.generic_string() << "/\nLogNumberOfFilesToKeep 1000000\n";
    const std::string small = (g_dir / "small.jot").generic_string();
    for (auto _ : state) {
        // A directory that did not change is not scanned again: come from another one.
        state.PauseTiming();
        katr_init(small.c_str(), nullptr);
        state.ResumeTiming();
        katr_init(jot.c_str(), nullptr);
    }
    katr_init(small.c_str(), nullptr);
    fs::remove_all(logs);
}
BENCHMARK(BM_InitScan40000LogFiles)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------ tracing meanwhile

// A thread writes lines to the log (the writer lock's path of an accepted
// line, without the rank evaluation, whose own cost grows with the rules)
// while the manager parses 100,000 File rules; max_wait_ms is the longest
// time one line took. idle_max_wait_ms is the same thread's longest line
// over the same time with no parse running: what the machine's scheduling
// alone costs.
double longest_line_while(const std::function<void()>& work) {
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    double longest = 0;
    std::thread tracer([&] {
        static const char line[] = "tick\r\n";
        while (!stop.load()) {
            auto t0 = std::chrono::steady_clock::now();
            katr_manager()->write_text("", 0, line, sizeof line - 1);
            auto dt = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (dt > longest) longest = dt;
            started.store(true);
        }
    });
    while (!started.load()) std::this_thread::yield();
    work();
    stop.store(true);
    tracer.join();
    return longest;
}

void BM_TraceWaitDuringParse100000Rules(benchmark::State& state) {
    const std::string text = rules_of("File", 100000);
    double worst_ms = 0, idle_ms = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        worst_ms = std::max(worst_ms, longest_line_while([&] {
                                tr_stream_c messages;
                                katr_manager()->parse_buffer(text.c_str(), messages);
                            }));
        const auto parse_time = std::chrono::steady_clock::now() - t0;
        state.PauseTiming();
        idle_ms = std::max(idle_ms, longest_line_while([&] { std::this_thread::sleep_for(parse_time); }));
        katr_init((g_dir / "small.jot").generic_string().c_str(), nullptr);
        state.ResumeTiming();
    }
    state.counters["max_wait_ms"] = worst_ms;
    state.counters["idle_max_wait_ms"] = idle_ms;
}
BENCHMARK(BM_TraceWaitDuringParse100000Rules)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    katr_on_process_attach();
    g_dir = fs::temp_directory_path() / ("katr_bench_cost_" + std::to_string(plat_pid()));
    fs::create_directories(g_dir / "log");
    const std::string small = (g_dir / "small.jot").generic_string();
    // Retention keeps every file, so that switching to this directory does
    // not delete the 40,000 files of the scan benchmark.
    std::ofstream(small) << "LogDirectoryName " << (g_dir / "log").generic_string()
                         << "/\nPrintToDebugVew Off\nLogNumberOfFilesToKeep 1000000\n";
    katr_init(small.c_str(), nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    return 0;
}
