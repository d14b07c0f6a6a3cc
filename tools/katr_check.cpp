// katr_check: the configuration checker. Loads a katrace configuration file
// the way the library does (a fresh configuration object, the file loader),
// prints the error text, if any, and then the configuration as the library
// understood it (the configuration report). Exit code 0 when the error text
// is empty, 1 when it is not (also for a file that cannot be read), 2 for
// bad arguments.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_parser.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace {

int usage(FILE* out) {
    std::fputs("usage: katr_check [--report-only] FILE.jot\n"
               "Loads a katrace configuration file, prints its error messages and then\n"
               "the configuration as katrace reads it. Exit code 0 without errors, 1 with.\n"
               "  --report-only  print only the configuration report (the exit code still\n"
               "                 tells whether the file had errors)\n",
               out);
    return out == stdout ? 0 : 2;
}

// Writes text with LF line ends (the error text ends its lines in CR LF, the
// report in LF); the C library adds CRs again where the system wants them.
void print_lf(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (p[0] == '\r' && p[1] == '\n') continue;
        std::fputc(*p, stdout);
    }
}

int run(const std::vector<std::string>& args) {
    bool report_only = false;
    const char* file = nullptr;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--report-only") {
            report_only = true;
        } else if (a == "--help" || a == "-h") {
            return usage(stdout);
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

    config_parser_c config;
    tr_stream_c errors;
    bool opened = false;
    config.load_file(file, errors, opened);
    if (!report_only) print_lf(errors.c_str());
    tr_stream_c report;
    config_report(config, report);
    print_lf(report.c_str());
    std::fflush(stdout);
    return errors.length == 0 ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
// The arguments as UTF-16, so that any file name arrives intact; the
// configuration layer takes UTF-8.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = plat_utf16_to_utf8(argv[i], nullptr, 0);
        std::string a(n > 0 ? static_cast<size_t>(n) : 1, '\0');
        if (n > 0 && plat_utf16_to_utf8(argv[i], &a[0], n) == n) a.resize(static_cast<size_t>(n - 1));
        else a.clear();
        args.push_back(a);
    }
    return run(args);
}
#else
int main(int argc, char** argv) {
    return run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
