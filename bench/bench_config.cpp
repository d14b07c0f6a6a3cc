// Costs of the configuration: parsing a 1,000-line configuration text,
// writing its report, and one rank decision against 200 rules.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/config_parser.h"

namespace {

// A configuration of 1,000 lines with every kind of line: settings, rank
// rules on all four levels (plain names and patterns, absolute and
// relative), modules, thread rules, additional ranks and comments.
std::string thousand_lines() {
    std::string text;
    char line[160];
    text += "AditionalRanks dbase net cache\n";
    const char* settings[] = {"LogFileSize 1048576", "LogNumberOfFilesToKeep 7", "PrintFile on",
                              "PrintLine true", "KeepStack off", "DoIndentation On",
                              "PrintOnScreen error warning", "PrintToDebugVew On -trace",
                              "DefaultLoggingRank fatal error warning log", "LogDirectoryName /var/log/app"};
    for (const char* s : settings)
        text += std::string(s) + "\n";
    int n = 11;
    for (int i = 0; n < 1000; ++i) {
        switch (i % 8) {
        case 0: std::snprintf(line, sizeof line, "File src/file%d.cpp +debug -note\n", i); break;
        case 1: std::snprintf(line, sizeof line, "File *gen%d*.cpp trace error\n", i); break;
        case 2: std::snprintf(line, sizeof line, "Class Class%d +dbase\n", i); break;
        case 3: std::snprintf(line, sizeof line, "Function ns::Class%d::run development qa\n", i); break;
        case 4: std::snprintf(line, sizeof line, "ModuleContent mod%d a%d.cpp b%d.h *.inl\n", i % 40, i, i); break;
        case 5: std::snprintf(line, sizeof line, "ModuleRank mod%d +net -warning\n", i % 40); break;
        case 6: std::snprintf(line, sizeof line, "ThreadByName worker%d on\n", i); break;
        default: std::snprintf(line, sizeof line, "# comment line %d\n", i); break;
        }
        text += line;
        ++n;
    }
    return text;
}

void BM_ParseThousandLines(benchmark::State& state) {
    const std::string text = thousand_lines();
    for (auto _ : state) {
        config_parser_c c;
        tr_stream_c messages;
        benchmark::DoNotOptimize(c.parse_text(text.c_str(), messages));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseThousandLines)->Unit(benchmark::kMicrosecond);

void BM_ReportThousandLines(benchmark::State& state) {
    const std::string text = thousand_lines();
    config_parser_c c;
    tr_stream_c messages;
    c.parse_text(text.c_str(), messages);
    tr_stream_c out;
    for (auto _ : state) {
        config_report(c, out);
        benchmark::DoNotOptimize(out.buffer);
    }
    state.counters["report_bytes"] = static_cast<double>(out.length);
}
BENCHMARK(BM_ReportThousandLines)->Unit(benchmark::kMicrosecond);

// 200 rules, 50 per level (module, file, class, function), half plain names
// and half patterns, half relative; trace sites hitting each level and none.
void BM_EvaluateRank200Rules(benchmark::State& state) {
    std::string text;
    char line[160];
    for (int i = 0; i < 50; ++i) {
        bool pattern = i % 2 == 1;
        const char* sign = i % 4 < 2 ? "+" : "";
        std::snprintf(line, sizeof line, pattern ? "ModuleContent m%d *mod%d_*.cpp\n" : "ModuleContent m%d mod%d.cpp\n", i, i);
        text += line;
        std::snprintf(line, sizeof line, "ModuleRank m%d %snote\n", i, sign);
        text += line;
        std::snprintf(line, sizeof line, pattern ? "File *file%d_*.cpp %sdebug\n" : "File file%d.cpp %sdebug\n", i, sign);
        text += line;
        std::snprintf(line, sizeof line, pattern ? "Class *Cls%d_* %slog\n" : "Class Cls%d %slog\n", i, sign);
        text += line;
        std::snprintf(line, sizeof line, pattern ? "Function *::fn%d_* %svar\n" : "Function Cls::fn%d %svar\n", i, sign);
        text += line;
    }
    config_parser_c c;
    tr_stream_c messages;
    if (!c.parse_text(text.c_str(), messages)) {
        state.SkipWithError(messages.c_str());
        return;
    }
    struct site_s {
        std::string function;
        std::string file;
    };
    std::vector<site_s> sites;
    for (int i = 0; i < 50; i += 7) {
        sites.push_back({"Cls::fn" + std::to_string(i), "x.cpp"});                         // function, plain
        sites.push_back({"A::fn" + std::to_string(i | 1) + "_z", "x.cpp"});                // function, pattern
        sites.push_back({"Cls" + std::to_string(i) + "::other", "x.cpp"});                 // class
        sites.push_back({"free_function", "file" + std::to_string(i) + ".cpp"});           // file
        sites.push_back({"free_function", "dir/mod" + std::to_string(i | 1) + "_a.cpp"});  // module pattern
        sites.push_back({"Nobody::nothing", "nowhere.cpp"});                               // no rule
    }
    size_t k = 0;
    for (auto _ : state) {
        const site_s& s = sites[k];
        benchmark::DoNotOptimize(c.evaluate_rank(s.function.c_str(), s.file.c_str()));
        if (++k == sites.size())
            k = 0;
    }
}
BENCHMARK(BM_EvaluateRank200Rules);

}  // namespace

BENCHMARK_MAIN();
