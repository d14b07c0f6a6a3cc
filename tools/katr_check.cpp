// katr_check: the configuration checker. Loads a katrace configuration file
// the way the library does and reports like a compiler: each message of the
// library on standard error as "FILE:LINE: message" (the message text as the
// library gives it), the library's summary line, then the checker's own
// count; the configuration as the library understood it (the configuration
// report) on standard output. Besides the library's messages it warns where
// a value is accepted but read differently from what it says (check_values).
// After a message of the library it adds a note with the keyword or rank
// name the line most likely meant (check_hints), not counted.
// --rank asks which ranks a trace site of a function and file would get.
// Exit status 0 when nothing was reported, 1 when any error or warning was
// counted (also for a file that cannot be read), 2 for bad arguments.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "check_hints.h"
#include "check_values.h"
#include "config/config_parser.h"
#include "config/line_reader.h"
#include "config/str_list.h"
#include "katrace_version.h"
#include "platform/platform.h"
#include "support/tr_stream.h"
#include "tool_args.h"

namespace {

int usage(FILE* out) {
    std::fputs("usage: katr_check [--report-only | --quiet] [--rank FUNCTION FILE]... FILE.jot\n"
               "Checks a katrace configuration file: its messages on standard error as\n"
               "FILE:LINE: message, then the configuration as katrace reads it on standard\n"
               "output. Exit status 0 when nothing was reported, 1 when errors or warnings were.\n"
               "  --report-only  print only the configuration report (the exit status still\n"
               "                 tells whether the file had errors or warnings)\n"
               "  --quiet        print only the messages, not the report\n"
               "  --rank FUNCTION FILE\n"
               "                 print the ranks a trace site in function FUNCTION\n"
               "                 (ns::Class::method) of source file FILE gets\n"
               "  --version      print the version and exit\n",
               out);
    return out == stdout ? 0 : 2;
}

// Text with CR LF turned into LF and without the final line end.
std::string lf_text(const char* text) {
    std::string s;
    for (const char* p = text; *p; ++p)
        if (!(p[0] == '\r' && p[1] == '\n')) s += *p;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// Splits a library text made of "Warning! ..." messages into the messages.
std::vector<std::string> split_warnings(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t next = text.find("\nWarning! ", at);
        out.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next == std::string::npos ? text.size() : next + 1;
    }
    return out;
}

struct counts_s {
    unsigned errors = 0;    // the library's error messages, counted by it or not
    unsigned counted = 0;   // of those, the ones the library counts
    unsigned warnings = 0;  // the library's warnings and the checker's own
};

void diagnose(bool show, const char* file, unsigned line, const std::string& message) {
    if (show) std::fprintf(stderr, "%s:%u: %s\n", file, line, message.c_str());
}

// Parses the text one physical line at a time into config, as the library's
// parse does in one pass (every line is handled on its own; the
// configuration carries over), so that every message has its line number.
// Messages are printed when show is true, counted in any case.
void check_lines(const char* file, const char* text, config_parser_c& config, counts_s& counts, bool show) {
    tr_stream_c warnings;
    config.warnings = &warnings;
    unsigned number = 1;
    for (const char* p = text; *p;) {
        const char* end = p + std::strcspn(p, "\r\n");
        const std::string line(p, end);
        tr_stream_c messages;
        warnings.truncate(0);
        {
            tr_m_line_reader_c reader(line.c_str());
            counts.counted += config.parse_lines(reader, messages);
        }
        if (messages.length) {
            ++counts.errors;
            diagnose(show, file, number, lf_text(messages.c_str()));
        }
        if (warnings.length) {
            for (const std::string& w : split_warnings(lf_text(warnings.c_str()))) {
                ++counts.warnings;
                diagnose(show, file, number, w);
            }
        } else if (!messages.length) {
            for (const std::string& w : check_values(line)) {
                ++counts.warnings;
                diagnose(show, file, number, w);
            }
        }
        // After a message of the library, what the line most likely meant.
        if (messages.length || warnings.length)
            for (const std::string& note : check_hints(line)) diagnose(show, file, number, "note: " + note);
        p = end;
        if (*p == '\r' && p[1] == '\n') ++p;
        if (*p) ++p;
        ++number;
    }
    config.warnings = nullptr;
}

int run(const std::vector<std::string>& args) {
    bool report_only = false, quiet = false;
    const char* file = nullptr;
    std::vector<std::pair<std::string, std::string>> sites;  // --rank queries
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--report-only") {
            report_only = true;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a == "--rank") {
            if (i + 2 >= args.size()) {
                std::fprintf(stderr, "katr_check: --rank needs a function and a file name\n");
                return usage(stderr);
            }
            sites.emplace_back(args[i + 1], args[i + 2]);
            i += 2;
        } else if (a == "--help" || a == "-h") {
            return usage(stdout);
        } else if (a == "--version") {
            std::printf("katr_check (katrace) %d.%d.%d\n", KATRACE_VERSION_MAJOR, KATRACE_VERSION_MINOR,
                        KATRACE_VERSION_PATCH);
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "katr_check: unknown option \"%s\"\n", a.c_str());
            return usage(stderr);
        } else if (file) {
            std::fprintf(stderr, "katr_check: more than one file given\n");
            return usage(stderr);
        } else if (a.empty()) {
            std::fprintf(stderr, "katr_check: empty file name\n");
            return usage(stderr);
        } else {
            file = a.c_str();
        }
    }
    if (!file) {
        std::fprintf(stderr, "katr_check: no configuration file given\n");
        return usage(stderr);
    }

    // The library's own load: its messages with the summary line, and the
    // configuration the report shows. Its warnings are taken from the pass
    // by lines below instead of being printed here.
    config_parser_c config;
    tr_stream_c load_warnings;
    config.warnings = &load_warnings;
    tr_stream_c errors;
    bool opened = false;
    config.load_file(file, errors, opened);
    config.warnings = nullptr;

    counts_s counts;
    if (!opened) {
        ++counts.errors;
        if (!report_only) std::fprintf(stderr, "%s: %s\n", file, lf_text(errors.c_str()).c_str());
    } else {
        // The same file once more, by lines, into a configuration of its own.
        config_parser_c by_lines;
        by_lines.config_file_name = str_list_c::copy_string(file);
        plat_mapping_s mapping;
        std::memset(&mapping, 0, sizeof mapping);
        const char* text = by_lines.map_config_file(&mapping);
        if (text) {
            check_lines(file, text, by_lines, counts, !report_only);
            plat_unmap_file(&mapping);
        }
        const char* summary = std::strstr(errors.c_str(), "Incomplete result. ");
        if (summary && !report_only) std::fprintf(stderr, "%s\n", lf_text(summary).c_str());
    }
    if (!report_only && (counts.errors || counts.warnings))
        std::fprintf(stderr, "katr_check: %s: %u error%s (%u counted by katrace), %u warning%s\n", file,
                     counts.errors, counts.errors == 1 ? "" : "s", counts.counted, counts.warnings,
                     counts.warnings == 1 ? "" : "s");
    std::fflush(stderr);

    for (const auto& site : sites) {
        tr_stream_c ranks;
        rank_list(config, ranks, config.evaluate_rank(site.first.c_str(), site.second.c_str()), '+', false);
        std::string names = ranks.c_str();
        while (!names.empty() && names.back() == ' ') names.pop_back();
        std::printf("%s %s: %s\n", site.first.c_str(), site.second.c_str(), names.c_str());
    }
    if (!quiet) {
        tr_stream_c report;
        config_report(config, report);
        std::fputs(lf_text(report.c_str()).c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    return counts.errors || counts.warnings || errors.length ? 1 : 0;
}

}  // namespace

KATR_TOOL_MAIN(run)
