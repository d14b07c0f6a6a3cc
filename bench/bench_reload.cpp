// Configuration reloads and the accepted line under a loaded configuration:
//   - one reparse_file of a 100-line configuration with rules of every kind
//     (settings, additional ranks, modules, file, class and function rules,
//     thread rules): load into a fresh object, install, re-judge the
//     threads, start a new log file (rotation and retention included) and
//     write the reload banner with the configuration report;
//   - the load of that file alone into a fresh configuration object, to show
//     how much of a reload is the parse;
//   - one accepted line through a configuration loaded by katr_init with the
//     default settings (debugger output on for every rank, no viewer
//     listening, a 5 MiB log file in a temporary directory), with the full
//     prefix (time, line, rank, file, function) and a message with an int
//     and a short string.
//
// Build: cmake -DKATR_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run bin/bench_reload.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_parser.h"
#include "katrace.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace fs = std::filesystem;

namespace {

fs::path g_dir;
std::string g_rules_jot;  // the 100-line configuration
std::string g_line_jot;   // defaults, full prefix

// 100 lines as a host would write them: a commented header with the
// settings, then groups of module, file, class, function and thread rules.
std::string hundred_lines(const fs::path& log_dir) {
    std::vector<std::string> lines = {
        "# Trace configuration of the order service",
        "",
        "LogDirectoryName " + log_dir.generic_string() + "/",
        "LogFileSize 5242880",
        "LogNumberOfFilesToKeep 3",
        "AddPIDtoLogFilename off",
        "DefaultLoggingRank fatal error warning",
        "AditionalRanks net dbase ui audit",
        "PrintOnScreen Off",
        "PrintToDebugVew fatal error warning",
        "PrintFile on",
        "PrintFunction on",
        "PrintLine on",
        "PrintTime on",
        "KeepStack on",
        "DoIndentation on",
        "RefreshTime 30",
        "",
        "# per-component rules",
    };
    char buf[200];
    for (int i = 0; lines.size() < 100; ++i) {
        switch (i % 9) {
        case 0: std::snprintf(buf, sizeof buf, "ModuleContent comp%d comp%d_*.cpp comp%d_main.cpp comp%d.h", i, i, i, i); break;
        case 1: std::snprintf(buf, sizeof buf, "ModuleRank comp%d +note +net -warning", i - 1); break;
        case 2: std::snprintf(buf, sizeof buf, "File file%d.cpp +debug", i); break;
        case 3: std::snprintf(buf, sizeof buf, "File gen_%d_*.cpp -warning", i); break;
        case 4: std::snprintf(buf, sizeof buf, "Class Order%d +log +dbase", i); break;
        case 5: std::snprintf(buf, sizeof buf, "Function Order%d::on_* +var -debug", i - 1); break;
        case 6: std::snprintf(buf, sizeof buf, "Function helper%d trace error", i); break;
        case 7: std::snprintf(buf, sizeof buf, "ThreadByName idle-%d* off", i); break;
        default: std::snprintf(buf, sizeof buf, i % 2 ? "ThreadByApplID %d off" : "ThreadBySysID %d off", 900000 + i); break;
        }
        lines.push_back(buf);
    }
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

void write_text(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

// The manager as the library's load notification would create it, and the
// two configuration files.
void start() {
    katr_on_process_attach();
    g_dir = fs::temp_directory_path() / ("katr_bench_reload_" + std::to_string(plat_pid()));
    fs::create_directories(g_dir);
    g_rules_jot = (g_dir / "rules.jot").generic_string();
    write_text(g_rules_jot, hundred_lines(g_dir / "rules_log"));
    g_line_jot = (g_dir / "line.jot").generic_string();
    write_text(g_line_jot, "LogDirectoryName " + (g_dir / "line_log").generic_string() + "/\nPrintFile on\nPrintLine on\n");
}

// ------------------------------------------------------------------ reload

void BM_ReparseFile100Lines(benchmark::State& state) {
    trace_manager_c* m = katr_manager();
    tr_stream_c first;
    if (!m->reparse_file(g_rules_jot.c_str(), nullptr, first)) {
        state.SkipWithError(first.c_str());
        return;
    }
    for (auto _ : state) {
        tr_stream_c msgs;
        benchmark::DoNotOptimize(m->reparse_file(g_rules_jot.c_str(), nullptr, msgs));
    }
    tr_stream_c report;
    m->config_content(report);
    state.counters["report_bytes"] = static_cast<double>(report.length);
}
BENCHMARK(BM_ReparseFile100Lines)->Unit(benchmark::kMicrosecond);

void BM_LoadFile100LinesOnly(benchmark::State& state) {
    for (auto _ : state) {
        config_parser_c fresh;
        tr_stream_c msgs;
        bool opened = false;
        benchmark::DoNotOptimize(fresh.load_file(g_rules_jot.c_str(), msgs, opened));
    }
}
BENCHMARK(BM_LoadFile100LinesOnly)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------- accepted line

// The last line written to the current log file.
std::string last_log_line() {
    trace_manager_c* m = katr_manager();
    tr_stream_c file_name;
    m->log_file_name(file_name);
    const std::string name = file_name.c_str();
    std::ifstream in(fs::u8path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string all = s.str();
    if (all.size() < 2) return "";
    size_t start = all.rfind("\r\n", all.size() - 3);
    return start == std::string::npos ? all : all.substr(start + 2);
}

void BM_AcceptedLineDefaultSettings(benchmark::State& state) {
    if (state.thread_index() == 0) katr_init(g_line_jot.c_str(), nullptr);
    static unsigned mask = 0x0E, generation = 0;
    katr_entry_c site("Order::submit", "orders.cpp", &mask, &generation, 40, false);
    int i = 10000;
    for (auto _ : state) {
        site.print_nl(KATR_RANK_ERROR, 57, "order %d for %s", i, "widget");
        ++i;
    }
    if (state.thread_index() == 0) {
        std::string line = last_log_line();
        state.counters["line_bytes"] = static_cast<double>(line.size());
        state.SetLabel(line.substr(0, line.size() >= 2 ? line.size() - 2 : 0));
    }
}
BENCHMARK(BM_AcceptedLineDefaultSettings)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    start();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    return 0;
}
