// The library inside a host that calls it from awkward places: from its own
// trace callback, from a signal handler that interrupts a trace on the same
// thread, and from a child forked while other threads trace. Whatever the
// host does, the process neither hangs nor dies; a hang fails the test
// through a watchdog instead of stalling the run. And a disk that fills up
// while threads trace.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/fault.h"
#include "front/front_fixture.h"
#include "platform/platform.h"

#if !defined(_WIN32)
#  include <csignal>
#  include <sys/time.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#if defined(__SANITIZE_THREAD__)
// The signal test traces from a handler on purpose, which the thread
// sanitizer would report as an unsafe call.
extern "C" const char* __tsan_default_options() { return "report_signal_unsafe=0"; }
#endif

namespace {

// Ends the process with a message when the test has not called done() in time.
class watchdog_c {
public:
    explicit watchdog_c(int seconds) : thread_([this, seconds] { watch(seconds); }) {}
    ~watchdog_c() { done(); }
    void done() {
        done_.store(true);
        if (thread_.joinable()) thread_.join();
    }
private:
    void watch(int seconds) {
        for (int i = 0; i < seconds * 100 && !done_.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done_.load()) std::fprintf(stderr, "watchdog: the test hangs\n"), std::_Exit(3);
    }
    std::atomic<bool> done_{false};
    std::thread thread_;
};

std::atomic<int> g_callback_calls{0};

// A callback that traces a warning of its own.
void tracing_callback(const char*, unsigned long) {
    ++g_callback_calls;
    static unsigned mask = KATR_RANK_SITE_DEFAULT, gen = 0;
    katr_entry_c e("callback", "cb.cpp", &mask, &gen, 1, false);
    e.print_nl(KATR_RANK_WARNING, 2, "from the callback %d", g_callback_calls.load());
}

}  // namespace

using HostSafety = front_test;

// A line the callback traces reaches the log but not the callback again.
TEST_F(HostSafety, CallbackThatTracesIsNotCalledAgain) {
    if (katr_is_console_application()) GTEST_SKIP() << "a console host gets no callback";
    load("DefaultLoggingRank fatal error warning");
    g_callback_calls = 0;
    katr_set_callback(tracing_callback);
    watchdog_c watchdog(10);
    site().print_nl(KATR_RANK_ERROR, 1, "host error");
    site().print_nl(KATR_RANK_ERROR, 1, "second host error");
    watchdog.done();
    EXPECT_EQ(g_callback_calls.load(), 2);
    const std::string log = since_load();
    EXPECT_EQ(count(log, "host error\r\n"), 2u);
    EXPECT_EQ(count(log, "warning->from the callback 1\r\n"), 1u) << log;
    EXPECT_EQ(count(log, "warning->from the callback 2\r\n"), 1u) << log;
}

#if !defined(_WIN32)

using HostSafetyConcurrent = front_test;

namespace {

std::atomic<int> g_handler_calls{0};

// Traces through a site of its own from inside a signal handler.
extern "C" void trace_from_handler(int) {
    ++g_handler_calls;
    static unsigned mask = KATR_RANK_SITE_DEFAULT, gen = 0;
    katr_entry_c e("handler", "sig.cpp", &mask, &gen, 1, true);
    e.print_nl(KATR_RANK_ERROR, 2, "from the handler");
}

}  // namespace

// A timer signal lands again and again while the same thread traces, loads
// configurations and asks for rank masks: traces from the handler that
// interrupt the library are dropped, the others are written, and nothing
// throws or deadlocks.
TEST_F(HostSafetyConcurrent, SignalHandlerTracesWhileTheThreadIsInsideTheLibrary) {
    load("DefaultLoggingRank trace fatal error warning");
    g_handler_calls = 0;
    struct sigaction action = {}, previous = {};
    action.sa_handler = trace_from_handler;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval every = {{0, 50}, {0, 50}}, off = {};
    watchdog_c watchdog(30);
    ASSERT_EQ(setitimer(ITIMER_REAL, &every, nullptr), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    int lines = 0;
    while (std::chrono::steady_clock::now() < until || g_handler_calls.load() < 50) {
        katr_entry_c e = site(true);
        e.print_nl(KATR_RANK_ERROR, 3, "host line %d", ++lines);
        if (lines % 16 == 0) parse(lines % 32 ? "DefaultLoggingRank +debug" : "DefaultLoggingRank -debug");
    }
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    watchdog.done();
    const std::string log = since_load();
    EXPECT_EQ(count(log, "host line "), static_cast<size_t>(lines));
    EXPECT_LE(count(log, "from the handler\r\n"), static_cast<size_t>(g_handler_calls.load()));
}

// Children forked while other threads trace (and hold the library's locks
// now and then) trace a line each and exit; the parent goes on tracing.
TEST_F(HostSafetyConcurrent, ForkedChildrenTraceWhileOtherThreadsTrace) {
#  if defined(__SANITIZE_ADDRESS__)
    // This compiler's address sanitizer does not lock its allocator around
    // fork: a child can hang in malloc when another thread held it. The
    // native and thread-sanitizer runs cover fork.
    GTEST_SKIP() << "the address sanitizer's allocator is not fork-safe";
#  endif
    load("DefaultLoggingRank trace fatal error warning\nKeepStack on");
    std::atomic<bool> stop{false};
    std::vector<std::thread> tracers;
    for (int t = 0; t < 3; ++t)
        tracers.emplace_back([&, t] {
            unsigned mask = KATR_RANK_SITE_DEFAULT, gen = 0;
            for (int i = 0; !stop.load(); ++i) {
                katr_entry_c e("tracer", "t.cpp", &mask, &gen, 1, true);
                e.print_nl(KATR_RANK_ERROR, 2, "tracer %d line %d", t, i);
                if (t == 0 && i % 8 == 0) parse(i % 16 ? "DefaultLoggingRank +debug" : "DefaultLoggingRank -debug");
                if (t == 1 && i % 8 == 0) {
                    tr_stream_c out;
                    m->print_threads(out);
                }
            }
        });
    watchdog_c watchdog(60);
    const int children = 20;
    for (int c = 0; c < children; ++c) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            alarm(10);  // a child that hangs ends by itself, also when the parent is gone
            {
                katr_entry_c e = site(true);
                e.print_nl(KATR_RANK_ERROR, 5, "child %d traced", c);
            }
            tr_stream_c out;
            m->print_threads(out);
            // Only the forking thread exists in the child, under the child's id.
            const std::string only = "Single thread is found: + ID=" + std::to_string(getpid()) + ",";
            _exit(std::string(out.c_str()).compare(0, only.size(), only) == 0 ? 0 : 4);
        }
        // A child that hangs is killed after a few seconds and fails (killed, it did not exit).
        pid_t got = 0;
        int status = 0;
        for (int w = 0; w < 500 && (got = waitpid(pid, &status, WNOHANG)) == 0; ++w)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (got == 0) kill(pid, SIGKILL), waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << c << " status " << status;
    }
    stop.store(true);
    for (auto& t : tracers) t.join();
    watchdog.done();
    site().print_nl(KATR_RANK_ERROR, 6, "parent goes on");
    const std::string log = since_load();
    for (int c = 0; c < children; ++c) EXPECT_EQ(count(log, "child " + std::to_string(c) + " traced\r\n"), 1u) << c;
    EXPECT_EQ(count(log, "parent goes on\r\n"), 1u);
}

#endif

using FrontFaultConcurrent = front_test;

// Four threads trace into a full disk: one message, the host goes on, the
// lines written before the fault stay in the file that the reopen rotates
// away, and every line started a second after space came back is written.
TEST_F(FrontFaultConcurrent, FullDiskWithFourThreadsReopensASecondAfterSpaceComesBack) {
    load("DefaultLoggingRank error");
    site().print_nl(KATR_RANK_ERROR, 1, "before the fault");
    const std::string first_file = log_name();
    enum {
        FULL,
        SPACE_BACK,
        SECOND_LATER,
        STOP
    };
    std::atomic<int> phase{FULL};
    std::vector<int> late(4, 0);
    testing::internal::CaptureStderr();
    fault_c full(PLAT_CALL_WRITE, PLAT_FAULT_NO_SPACE);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            unsigned tmask = KATR_RANK_SITE_DEFAULT, tgen = 0;
            for (int i = 0;; ++i) {
                const int p = phase.load();
                if (p == STOP) break;
                katr_entry_c("f", "t.cpp", &tmask, &tgen, 1, false).print_nl(KATR_RANK_ERROR, 1, "t%d p%d i%d", t, p, i);
                if (p == SECOND_LATER) ++late[t];
                plat_sleep_ms(1);
            }
        });
    }
    plat_sleep_ms(300);
    full.clear();
    phase = SPACE_BACK;
    plat_sleep_ms(logger_c::REOPEN_DELAY_MS + 200);
    phase = SECOND_LATER;
    plat_sleep_ms(300);
    phase = STOP;
    for (auto& t : threads) t.join();
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count(out, "Unable to write to file " + first_file + "! Error code=" + std::to_string(ERR_NO_SPACE) + "\n"), 1u) << out;
    EXPECT_EQ(count(out, "Unable"), 1u) << out;
    EXPECT_NE(read_file(first_file + ".1").find("error->before the fault\r\n"), std::string::npos);
    const std::string now = read_file(first_file);
    EXPECT_EQ(count(now, " JOT Log File #1, Version = "), 1u);
    for (int t = 0; t < 4; ++t) {
        SCOPED_TRACE(t);
        EXPECT_GT(late[t], 0);
        EXPECT_EQ(count(now, "error->t" + std::to_string(t) + " p2 "), static_cast<size_t>(late[t]));
    }
}
