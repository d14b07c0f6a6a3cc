// The arguments of a command-line tool as UTF-8 strings, without the
// program name. On Windows the tools take them as UTF-16 (wmain), so that any
// file name or text arrives intact.
#ifndef KATRACE_TOOLS_TOOL_ARGS_H
#define KATRACE_TOOLS_TOOL_ARGS_H

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

inline std::vector<std::string> tool_args(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

#ifdef _WIN32
inline std::vector<std::string> tool_args(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = plat_utf16_to_utf8(argv[i], nullptr, 0);
        std::string a(n > 0 ? static_cast<size_t>(n) : 1, '\0');
        if (n > 0 && plat_utf16_to_utf8(argv[i], &a[0], n) == n)
            a.resize(static_cast<size_t>(n - 1));
        else
            a.clear();
        args.push_back(a);
    }
    return args;
}
#endif

// A decimal number without sign of at most max; false for anything else.
inline bool tool_number(const std::string& text, unsigned long long max, unsigned long long* value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > max) return false;
    *value = v;
    return true;
}

// The tool's entry: run(arguments) from main, or from wmain on Windows.
#ifdef _WIN32
#  define KATR_TOOL_MAIN(run) \
    int wmain(int argc, wchar_t** argv) { return run(tool_args(argc, argv)); }
#else
#  define KATR_TOOL_MAIN(run) \
    int main(int argc, char** argv) { return run(tool_args(argc, argv)); }
#endif

#endif
