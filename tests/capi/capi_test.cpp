// Runs the C hosts of the library as child processes and checks their logs
// line by line: scopes with enter and leave lines, formatted messages, a
// disabled message whose arguments are never evaluated, a reload and a
// command, all through katrace_c.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace {

// The trace lines of a log file, without their CR LF: the lines that end
// in CR LF, after the first (the file's banner line); the configuration
// report of the banner ends its lines in LF alone.
std::vector<std::string> trace_lines(const std::string& log) {
    std::vector<std::string> lines;
    size_t at = log.find("\r\n");
    if (at == std::string::npos) return lines;
    for (at += 2; at < log.size();) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        if (end > at && log[end - 1] == '\r') lines.push_back(log.substr(at, end - 1 - at));
        at = end + 1;
    }
    return lines;
}

const char* const plain_prefix = "PrintTime off\nPrintLine off\nPrintFile on\nPrintFunction on\nPrintToDebugVew off\n";

class CapiTest : public temp_dir_test {};

}  // namespace

TEST_F(CapiTest, CHostScopesFormatsReloadsAndRunsACommand) {
    write_file(path("a.jot"), "LogDirectoryName " + dir() + "/log/\n" + plain_prefix + "DefaultLoggingRank trace error\n");
    write_file(path("b.jot"), "LogDirectoryName " + dir() + "/log/\n" + plain_prefix + "DefaultLoggingRank trace error debug\n");
    const std::string cmd = program("capi_host") + " \"" + path("a.jot") + "\" \"" + path("b.jot") + "\" > \"" + path("out.txt") +
                            "\" 2> \"" + path("err.txt") + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(path("err.txt"));
    // The disabled debug message of the first pass never reached the library.
    std::string out = read_file(path("out.txt"));
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());  // text mode on Windows
    EXPECT_EQ(out, "evaluated 1\n");
    EXPECT_EQ(read_file(path("err.txt")), "");

    // The reload moved the first file aside.
    std::vector<std::string> lines = trace_lines(read_file(dir() + "/log/capi_host.log.1"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("== Thread ", 0), 0u);
    lines.erase(lines.begin());
    for (const std::string& line : trace_lines(read_file(dir() + "/log/capi_host.log"))) lines.push_back(line);
    const std::vector<std::string> expected = {
        "capi_host.c:work:enter->", "error->   working on 1", "capi_host.c:work:<-leave",
        "capi_host.c:work:enter->", "error->   working on 2", "   evaluation 1", "capi_host.c:work:<-leave",
        "capi_host.c:main:enter->", "error->   ranks of work: trace +error +debug ", "capi_host.c:main:<-leave"};
    EXPECT_EQ(lines, expected);
}

#if defined(KATR_MSVC_HOST)
// A host built for the MSVC ABI, linked with katrace.lib, without a C
// runtime; its configuration is the default one beside the executable.
TEST_F(CapiTest, MsvcAbiHostTracesThroughTheCInterface) {
    write_file("msvc_host.jot", "LogDirectoryName " + dir() + "/log/\n" + plain_prefix + "DefaultLoggingRank trace error warning\n");
    ASSERT_EQ(std::system("msvc_host.exe"), 0);
    std::vector<std::string> lines = trace_lines(read_file(dir() + "/log/msvc_host.log"));
    ASSERT_GE(lines.size(), 1u);
    lines.erase(lines.begin());
    const std::vector<std::string> expected = {
        "msvc_host.c:run:enter->", "error->   step 1 of 2", "msvc_host.c:run:<-leave",
        "msvc_host.c:run:enter->", "error->   step 2 of 2", "msvc_host.c:run:<-leave",
        "warning->msvc_host.c:reply:ranks of run: trace +error +warning (23 bytes)"};
    EXPECT_EQ(lines, expected);
}
#endif
