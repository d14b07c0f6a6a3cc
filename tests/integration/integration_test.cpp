// Runs the integration host as a child process in its modes and checks what
// reached its log file, standard output and standard error.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "common/temp_dir.h"

#if defined(__linux__)
#  include <sys/stat.h>
#  include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#  define KATR_TEST_ASAN 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define KATR_TEST_ASAN 1
#  endif
#endif

namespace fs = std::filesystem;

namespace {

// The hosts lie in the working directory of the test (the binary directory).
std::string host_command(const std::string& args, bool windowed = false) {
    return (windowed ? "start \"\" /wait integration_gui_host.exe " : program("integration_host") + " ") + args;
}

// cmd run with one environment variable set.
std::string with_env(const std::string& name, const std::string& value, const std::string& cmd) {
#if defined(_WIN32)
    return "set \"" + name + "=" + value + "\"&& " + cmd;
#else
    return name + "='" + value + "' " + cmd;
#endif
}

class IntegrationTest : public temp_dir_test {
protected:
    // Standard output and error of a command to out.txt and err.txt.
    std::string to_files() const { return " > \"" + path("out.txt") + "\" 2> \"" + path("err.txt") + "\""; }
    // Runs the host with a configuration naming the log folder.
    int run(const std::string& mode, const std::string& jot_text, const std::string& log_dir = "") {
        write_file(path("host.jot"), "LogDirectoryName " + (log_dir.empty() ? dir() + "/log/" : log_dir) + "\n" + jot_text + "\n");
        return std::system((host_command(mode + " \"" + path("host.jot") + "\"") + to_files()).c_str());
    }
    std::string log() { return read_file(dir() + "/log/integration_host.log"); }
};

}  // namespace

// Without a file name the configuration is the executable's name with the
// extension "jot" in the executable's directory, also when that directory's
// own name has a dot.
TEST_F(IntegrationTest, DefaultConfigurationBesideTheExecutable) {
    const fs::path app = fs::u8path(dir() + "/app.d");
    fs::create_directories(app);
    for (const auto& e : fs::directory_iterator(fs::current_path())) {
        const std::string name = e.path().filename().u8string();
        if (name.rfind("integration_host", 0) == 0 || e.path().extension() == ".dll") fs::copy_file(e.path(), app / name);
    }
    write_file((app / "integration_host.jot").u8string(), "LogDirectoryName " + dir() + "/log/\nDefaultLoggingRank error\n");
#if defined(_WIN32)
    const std::string go = "cd /d \"" + fs::path(app).make_preferred().u8string() + "\" && ";
#else
    const std::string go = "cd \"" + app.u8string() + "\" && ";
#endif
    const std::string cmd = go + host_command("scope -") + " > \"" + path("out.txt") + "\" 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << read_file(path("out.txt"));
    EXPECT_NE(log().find("sending 7\r\n"), std::string::npos) << log();
}

// (A host killed hard loses no line: every front-end test reads the log
// file right after its calls, with nothing closed or flushed.)
TEST_F(IntegrationTest, FailingDiskIsReportedAndTheHostGoesOn) {
    // The log directory cannot be created: a file stands in its path.
    write_file(path("blocker"), "x");
    EXPECT_EQ(run("scope", "DefaultLoggingRank error", dir() + "/blocker/log/"), 0);  // its lines go nowhere
    const std::string err = read_file(path("err.txt"));
    EXPECT_EQ(err.find("Error in trace initialisation:"), 0u) << err;
}

#if defined(__linux__)
// The library unloaded with dlclose while threads that traced through it
// still run: neither their exit nor a thread started later crashes.
TEST_F(IntegrationTest, ConcurrentUnloadWhileThreadsLive) {
    write_file(path("host.jot"), "LogDirectoryName " + dir() + "/log/\nDefaultLoggingRank error\n");
    const std::string cmd = "timeout 120 ./unload_host ./libkatrace.so \"" + path("host.jot") + "\" > \"" +
                            path("out.txt") + "\" 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << read_file(path("out.txt"));
    EXPECT_EQ(read_file(path("out.txt")), "survived\n");
    EXPECT_NE(read_file(dir() + "/log/unload_host.log").find("round 49 thread 2\r\n"), std::string::npos);
}

// Children forked while threads trace, with the shared library: those that
// trace and call exit() run the library's unload in the child; the others
// exec. (The front end's fork test checks the fork handlers themselves.)
TEST_F(IntegrationTest, ForkedChildrenExitOrExec) {
#  if defined(KATR_TEST_ASAN)
    GTEST_SKIP() << "the address sanitizer's allocator is not fork-safe (see the front-end fork test)";
#  endif
    ASSERT_EQ(run("fork", "DefaultLoggingRank error"), 0) << read_file(path("err.txt"));
    EXPECT_EQ(read_file(path("out.txt")), "children=10 ok=10\n");
    const std::string text = log();
    for (int c = 0; c < 10; c += 2) EXPECT_NE(text.find("child " + std::to_string(c) + " traced\r\n"), std::string::npos) << c;
    EXPECT_NE(text.find("parent goes on\r\n"), std::string::npos);
}
#endif

TEST_F(IntegrationTest, SitesDecideWithTheHostMaskBeforeInit) {
    ASSERT_EQ(std::system((host_command("early -") + " > \"" + path("out.txt") + "\"").c_str()), 0);
    std::string out = read_file(path("out.txt"));
    EXPECT_NE(out.find("error->early:mix error\r"), std::string::npos) << out;
    EXPECT_NE(out.find("warning->trace_before_init:scope warning\r"), std::string::npos) << out;
    EXPECT_EQ(out.find("debug"), std::string::npos) << out;
    EXPECT_EQ(out.find("enter->"), std::string::npos) << out;  // the trace rank is not in KATR_RANK_SITE_DEFAULT
    EXPECT_FALSE(fs::exists(dir() + "/log")) << out;
}

TEST_F(IntegrationTest, ThreadRecordsFollowThreadStartAndExit) {
    ASSERT_EQ(run("threads", "DefaultLoggingRank error"), 0) << read_file(path("err.txt"));
    int during = 0, after = 0, named = 0;
    ASSERT_EQ(std::sscanf(read_file(path("out.txt")).c_str(), "during=%d after=%d named=%d", &during, &after, &named), 3);
    EXPECT_EQ(during - after, 3);
    EXPECT_EQ(named, 3);  // names given after the records were made are reported
    EXPECT_GE(after, 1);  // the main thread
}

#if defined(_WIN32)
// A console host and a windowed one (an ELF executable: the front end's console test).
TEST_F(IntegrationTest, ConsoleSubsystem) {
    ASSERT_EQ(std::system(host_command("console \"" + path("console.txt") + "\"").c_str()), 0);
    EXPECT_EQ(read_file(path("console.txt")), "console=1");
    std::system(host_command("console \"" + path("gui.txt") + "\"", true).c_str());
    for (int i = 0; i < 100 && read_file(path("gui.txt")).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(read_file(path("gui.txt")), "console=0");
}
#endif

// KATRACE_CONFIG starts the library at the first trace of a host that
// calls no katr_init; the host's own katr_init later takes over as a reload
// with its arguments, and one made before any trace leaves the variable
// unused.
TEST_F(IntegrationTest, EnvironmentStartsTheLibraryUntilTheHostInitialises) {
    write_file(path("env.jot"), "LogDirectoryName " + dir() + "/envlog/\nDefaultLoggingRank error\n");
    write_file(path("host.jot"), "LogDirectoryName " + dir() + "/log/\nDefaultLoggingRank error\n");
    const std::string out = to_files();
    ASSERT_EQ(std::system(with_env("KATRACE_CONFIG", path("env.jot"), host_command("late \"" + path("host.jot") + "\"") + out).c_str()), 0);
    EXPECT_EQ(read_file(path("err.txt")), "");
    // The reload into another directory rotated the first file away there.
    const std::string before = read_file(dir() + "/envlog/integration_host.log.1");
    EXPECT_NE(before.find("before init\r\n"), std::string::npos) << before;
    EXPECT_EQ(before.find("after init"), std::string::npos) << before;
    EXPECT_NE(log().find("after init\r\n"), std::string::npos) << log();

    fs::remove_all(dir() + "/envlog");
    fs::remove_all(dir() + "/log");
    ASSERT_EQ(std::system(with_env("KATRACE_CONFIG", path("env.jot"), host_command("scope \"" + path("host.jot") + "\"") + out).c_str()), 0);
    EXPECT_NE(log().find("sending 7"), std::string::npos) << log();
    EXPECT_FALSE(fs::exists(dir() + "/envlog"));
}

// A plug-in traces in a host that knows nothing of katrace: with the
// variable set its lines reach the log, without it nothing is written and
// nothing is said.
TEST_F(IntegrationTest, PluginTracesOnlyWithTheEnvironment) {
    write_file(path("plugin.jot"), "LogDirectoryName " + dir() + "/plog/\nDefaultLoggingRank trace error\nPrintToDebugVew Off\n");
    const std::string out = to_files();
    ASSERT_EQ(std::system(with_env("KATRACE_CONFIG", path("plugin.jot"), program("plugin_host") + out).c_str()), 0) << read_file(path("err.txt"));
    EXPECT_EQ(read_file(path("out.txt")).find("result 14"), 0u);
    EXPECT_EQ(read_file(path("err.txt")), "");
    const std::string text = read_file(dir() + "/plog/plugin_host.log");
    EXPECT_NE(text.find("shapes::Square::area:enter->\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("error->   negative side -1\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("side 1"), std::string::npos) << text;  // debug is off

    fs::remove_all(dir() + "/plog");
    ASSERT_EQ(std::system((program("plugin_host") + out).c_str()), 0);
    EXPECT_EQ(read_file(path("out.txt")).find("result 14"), 0u);
    EXPECT_EQ(read_file(path("err.txt")), "");
    EXPECT_FALSE(fs::exists(dir() + "/plog"));
}

#if defined(__linux__)
// A set-user-id process does not let its caller's environment choose what it
// opens. The same copy of the host reads the variable without the bit; set-
// user-id to nobody it never looks at it: nothing is written and nothing is
// said about the file or the directory it names.
TEST_F(IntegrationTest, EnvironmentIgnoredWhenSetUserId) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a set-user-id copy";
#  if defined(KATR_TEST_ASAN)
    // The leak checker stops a set-user-id process (it cannot read its own
    // /proc entries there); the native run covers this.
    GTEST_SKIP() << "the leak checker cannot run in a set-user-id process";
#  endif
    write_file(path("env.jot"), "LogDirectoryName " + dir() + "/envlog/\nDefaultLoggingRank error\n");
    fs::copy_file("integration_host", path("suid_host"));
    const std::string run = with_env("KATRACE_CONFIG", path("env.jot"), "\"" + path("suid_host") + "\" early -") + to_files();
    ASSERT_EQ(std::system(run.c_str()), 0) << read_file(path("err.txt"));
    ASSERT_TRUE(fs::exists(dir() + "/envlog/suid_host.log")) << read_file(path("err.txt"));
    fs::remove_all(dir() + "/envlog");
    ASSERT_EQ(chown(path("suid_host").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(path("suid_host").c_str(), 04755), 0);
    ASSERT_EQ(std::system(run.c_str()), 0) << read_file(path("err.txt"));
    EXPECT_EQ(read_file(path("err.txt")).find(dir()), std::string::npos) << read_file(path("err.txt"));
    EXPECT_NE(read_file(path("out.txt")).find("mix error"), std::string::npos);  // it did trace
    EXPECT_FALSE(fs::exists(dir() + "/envlog"));
}
#endif
