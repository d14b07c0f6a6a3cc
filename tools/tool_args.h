// The arguments of a command-line tool as UTF-8 strings, without the
// program name. On Windows the tools take them as UTF-16 (wmain), so that any
// file name or text arrives intact.
#ifndef KATRACE_TOOLS_TOOL_ARGS_H
#define KATRACE_TOOLS_TOOL_ARGS_H

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

#endif
