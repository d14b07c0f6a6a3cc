// The entry object and the exports against a live manager.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/fault.h"
#include "front/front_fixture.h"
#include "front/output.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace {
const katr_wchar_t* W(const char16_t* s) { return reinterpret_cast<const katr_wchar_t*>(s); }
std::vector<std::string> g_calls;
void record_callback(const char* text, unsigned long rank) { g_calls.push_back(text + ("|" + std::to_string(rank))); }
}  // namespace

// Outside the anonymous namespace, so that its scope is named EntryTestWidget::run.
class EntryTestWidget {
public:
    template <class F> void run(int& evaluated, F between) {
        KATR_SCOPE(t);
        KATR_PRINT_NL(t, KATR_RANK_ERROR, "e=%d", evaluated);
        KATR_PRINT_NL(t, KATR_RANK_DEBUG, "d=%d", ++evaluated);  // disabled: not even evaluated
        between();
        KATR_PRINT_NL(t, KATR_RANK_DEBUG, "d=%d", ++evaluated);
    }
};

using EntryTest = front_test;

// Each case: a configuration, calls on a fresh manager, and what the log file
// receives behind the thread banner.
TEST_F(EntryTest, LinesInTheLogFile) {
    const char raw[] = {'r', 0, '%', 'd', '\n'};
    const std::string big(3000, 'z');
    struct { const char* config; std::function<void()> calls; std::string log; } cases[] = {
        // Only a leading ".\\" is cut from the file name.
        {"PrintFile on\nPrintFunction on\nDefaultLoggingRank error",
         [&] { site(false, ".\\c.cpp").print_nl(4, 5, "a"), site(false, "..\\x.cpp").print_nl(4, 5, "b"); },
         "error->c.cpp:f:a\r\nerror->..\\x.cpp:f:b\r\n"},
        // A rank of several bits passes when any one bit is enabled; line 0 is not shown, a negative one
        // (a leave line) turns the arrow; names follow the first row of the rank table; an unused object
        // inside a scope leaves the scope stack alone.
        {"PrintLine on\nKeepStack on\nAditionalRanks alpha\nDefaultLoggingRank fatal development alpha",
         [&] {
             {
                 katr_entry_c e = site(true, "a.cpp", "f", 3);
                 e.print_nl(KATR_RANK_FATAL | KATR_RANK_ERROR, 4, "either"), e.print_user_defined_nl("alpha", "u");
                 e.print_nl(KATR_RANK_DEVELOPMENT, 0, "d"), e.print_nl(KATR_RANK_FATAL, -1, "back");
                 e.print_nl(KATR_RANK_ALL, 5, "a"), e.print_nl(KATR_RANK_ERROR, 6, "no");
                 { katr_entry_c unused = site(true, "b.cpp", "g", 7); }
                 EXPECT_EQ(depth(), 1);
             }
             EXPECT_EQ(depth(), 0);
         },
         "4:UNKNOWN->either\r\nalpha->u\r\ndevelopment->d\r\nfatal<-back\r\n5:All->a\r\n"},
        // Later lines of a site with the trace rank stand indented; a first use by is_set writes the enter line.
        {"AditionalRanks alpha beta\nDefaultLoggingRank trace error beta",
         [&] {
             katr_entry_c e = site();
             e.print_user_defined_nl("beta", "b%d", 1);
             for (const char* no : {"alpha", "gamma", static_cast<const char*>(nullptr)}) e.print_user_defined_nl(no, "n");
             EXPECT_TRUE(e.is_set_user_defined("beta"));
             EXPECT_FALSE(e.is_set_user_defined("alpha"));
             e.print_long_string(KATR_RANK_ERROR, 9, raw, sizeof raw), e.print_long_string(KATR_RANK_ERROR, 9, nullptr, 5);
             e.print_user_defined_long_string("beta", "|L", 2), e.print_user_defined_long_string("beta", nullptr, 2);
             katr_entry_c s = site(true);
             EXPECT_TRUE(s.is_set(KATR_RANK_ERROR));
             s.print(KATR_RANK_ERROR, 2, "%s", big.c_str());
         },
         "beta->b1\r\nerror->   " + std::string(raw, sizeof raw) + "beta->   |Lenter->\r\nerror->   \r\n"
                                                                   "Error!, Formatted string (%s) is too long!!!\r\n<-leave\r\n"},
        // The UTF-16 wrappers: one site per kind, the text printed as it is,
        // names may be missing, every call pops what it pushed.
        {"DefaultLoggingRank error\nFile one.cpp +debug\nPrintFile on\nKeepStack on",
         [&] {
             mix_trace(KATR_RANK_DEBUG, 1, W(u"f"), W(u"one.cpp"), W(u"100%d \u00e9"));  // first after the load decides
             mix_trace(KATR_RANK_DEBUG, 2, W(u"f"), W(u"two.cpp"), W(u"shared"));
             mix_trace(KATR_RANK_ERROR, 3, W(u"f"), W(u"two.cpp"), nullptr);
             mix_trace_long_str(KATR_RANK_DEBUG, 4, W(u"f"), W(u"two.cpp"), W(u"long"));  // its own site: debug off
             mix_trace_long_str(KATR_RANK_ERROR, 5, W(u"f"), W(u"two.cpp"), W(u"L%s"));
             mix_trace_long_str(KATR_RANK_ERROR, 5, W(u"f"), W(u"two.cpp"), nullptr);
             mix_trace(KATR_RANK_ERROR, 6, nullptr, nullptr, W(u"n"));
             EXPECT_EQ(depth(), 0);
         },
         "one.cpp:100%d \xc3\xa9\r\ntwo.cpp:shared\r\nerror->two.cpp:\r\nerror->two.cpp:L%serror->:n\r\n"},
        // A thread the thread rules disable writes nothing: no message, no long string, no leave line
        // for a scope entered while enabled; lifting the rule lets it write again.
        {"DefaultLoggingRank trace error",
         [&] {
             {
                 katr_entry_c e = site(true);
                 e.print_nl(KATR_RANK_ERROR, 1, "enabled");
                 parse(("ThreadBySysID " + std::to_string(plat_thread_id()) + " off").c_str());
                 e.print_nl(KATR_RANK_ERROR, 1, "disabled"), e.print_long_string(KATR_RANK_ERROR, 1, "long", 4);
             }
             {
                 katr_entry_c e = site(true);
                 e.print_nl(KATR_RANK_ERROR, 1, "disabled scope");
             }
             parse("ThreadResume");
             site().print_nl(KATR_RANK_ERROR, 1, "again");
         },
         "enter->\r\nerror->   enabled\r\nerror->again\r\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.config);
        fresh(), load(c.config);
        std::string b = banner();
        c.calls();
        EXPECT_EQ(since_load(), b + c.log);
    }
}

// The callback gets the first line of warnings and worse; no operation
// changes the last error; a scope pushes and pops only while KeepStack is on.
TEST_F(EntryTest, CallbackLastErrorAndKeepStack) {
    load("DefaultLoggingRank all\nAditionalRanks alpha\nKeepStack on");
    g_calls.clear();
    katr_set_callback(record_callback);
    plat_set_last_error(4321);
    {
        katr_entry_c e = site(true);
        e.print_nl(KATR_RANK_WARNING, 2, "w=%d", 3), e.print(KATR_RANK_ERROR, 2, "first\nsecond\n");
        e.print_nl(KATR_RANK_DEBUG, 2, "debug"), e.print_long_string(KATR_RANK_FATAL, 2, "long", 4);
        e.print_user_defined_nl("alpha", "user"), e.is_set(1), e.print_user_defined("none", "x");
        EXPECT_EQ(plat_last_error(), 4321u);
        katr_set_callback(nullptr);
        e.print_nl(KATR_RANK_WARNING, 2, "after");
        plat_set_last_error(77);
    }
    EXPECT_EQ(plat_last_error(), 77u);
    EXPECT_EQ(g_calls, (katr_is_console_application() ? std::vector<std::string>{}
                                                      : std::vector<std::string>{"w=3|8", "first|4"}));
    auto scope = [&](const char* change) { katr_entry_c e = site(true); e.is_set(1), parse(change); };
    parse("KeepStack off");
    scope("KeepStack on");
    EXPECT_EQ(depth(), 0);
    scope("KeepStack off");
    EXPECT_EQ(depth(), 1);
}

// The host macros name the scope by its class and function and decide
// inline: a disabled message's arguments are never evaluated, a used object
// notices a new generation, a site whose generation is behind asks the
// library once. A first use is made inline when the library would do nothing
// more (a current mask without the trace rank, no stack kept); without a
// manager the library's rules hold. (A scope's push while the stack is kept:
// the KeepStack test.)
TEST_F(EntryTest, HostMacrosAndInlineDecisions) {
    load("PrintFile on\nPrintFunction on\nDefaultLoggingRank trace error");
    std::string b = banner();
    EntryTestWidget w;
    int evaluated = 0;
    w.run(evaluated, [] {});
    EXPECT_EQ(evaluated, 0);
    w.run(evaluated, [&] { parse("Class EntryTestWidget +debug"); });
    EXPECT_EQ(evaluated, 1);  // the used object noticed the new generation
    std::string scope = "entry_test.cpp:EntryTestWidget::run:";
    EXPECT_EQ(since_load(), b + scope + "enter->\r\nerror->   e=0\r\n" + scope + "<-leave\r\n" +
                                scope + "enter->\r\nerror->   e=0\r\n   d=1\r\n" + scope + "<-leave\r\n");
    parse("DefaultLoggingRank trace error debug");
    for (int i = 0; i < 2; ++i) KATR_MSG(KATR_RANK_DEBUG, "d=%d", ++evaluated);
    EXPECT_EQ(evaluated, 3);

    parse("DefaultLoggingRank error");
    {
        katr_entry_c e = site(true, ".\\dot.cpp");
        e.is_set(KATR_RANK_DEBUG);  // the site is current from here on
        katr_entry_c f = site(true, ".\\dot.cpp");
        KATR_PRINT_NL(f, KATR_RANK_DEBUG, "d=%d", ++evaluated);
        EXPECT_TRUE(f.initialised);
        parse("DefaultLoggingRank error debug");
        KATR_PRINT_NL(f, KATR_RANK_DEBUG, "d=%d", ++evaluated);
    }
    EXPECT_EQ(evaluated, 4);
    EXPECT_NE(since_load().find("\r\ndot.cpp:f:d=4\r\n"), std::string::npos) << since_load();
    g_katr_manager.store(nullptr);
    m->withdraw_generation();
    {
        katr_entry_c e = site(true);
        KATR_PRINT_NL(e, KATR_RANK_ERROR, "e=%d", ++evaluated);
        EXPECT_FALSE(e.initialised);
    }
    EXPECT_EQ(evaluated, 4);
    g_katr_manager.store(m);
    m->publish_generation();
}

#if !defined(_WIN32)
// Prefix and message reach a listening viewer as two texts, for the debugger mask's ranks only.
TEST_F(EntryTest, DebuggerOutputReachesAListeningViewer) {
    std::string endpoint = path("viewer.sock");
    intptr_t viewer = plat_debug_viewer_open(endpoint.c_str());
    ASSERT_NE(viewer, -1);
    plat_set_debug_endpoint(endpoint.c_str());
    load("DefaultLoggingRank error warning\nPrintToDebugVew error");
    std::vector<std::string> got;
    char buf[256];
    for (int n; (n = plat_debug_viewer_receive(viewer, buf, sizeof buf, 200)) > 0;) {}  // the reload banner
    katr_entry_c e = site();
    e.print_nl(KATR_RANK_WARNING, 1, "not for the debugger"), e.print_nl(KATR_RANK_ERROR, 1, "caf\xc3\xa9 %d", 1);
    e.print_long_string(KATR_RANK_ERROR, 1, "xy\0z", 4);
    for (int n; (n = plat_debug_viewer_receive(viewer, buf, sizeof buf, 200)) > 0;) got.emplace_back(buf, size_t(n));
    EXPECT_EQ(got, (std::vector<std::string>{"error->", "caf\xc3\xa9 1\r\n", "error->", "xy"}));
    plat_set_debug_endpoint(nullptr), plat_debug_viewer_close(viewer);
}
#endif

// Standard output takes the ranks of its mask (a long string up to its first NUL byte), or every line
// while verbose; the switch changes the configuration, so a parse that does not name it keeps it (the
// debugger switch: the remote request tests).
TEST_F(EntryTest, StandardOutputAndSwitches) {
    load("DefaultLoggingRank error warning debug\nPrintOnScreen error debug\nPrintLine on");
    std::string b = banner();
    katr_entry_c e = site();
    testing::internal::CaptureStdout();
    e.print_nl(KATR_RANK_ERROR, 1, "e"), e.print_nl(KATR_RANK_WARNING, 2, "w"), e.print_nl(KATR_RANK_DEBUG, 0, "d%d", 1);
    e.print_long_string(KATR_RANK_ERROR, 0, "x\0y", 3);
    katr_set_verbose(1);
    parse("DefaultLoggingRank error warning");
    e.print_nl(KATR_RANK_WARNING, 3, "loud");
    katr_set_verbose(0), e.print_nl(KATR_RANK_WARNING, 4, "quiet");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), b + "1:error->e\r\nd1\r\nerror->x3:warning->loud\r\n");
    EXPECT_EQ(since_load(), b + "1:error->e\r\n2:warning->w\r\nd1\r\nerror->" + std::string("x\0y", 3) +
                                "3:warning->loud\r\n4:warning->quiet\r\n");
}

// Two threads take turns without a thread-local slot (the manager finds
// each record by thread id; the load test covers the slot): a banner stands
// before each run of lines of one thread and nowhere else, with the name the
// host gave the thread.
TEST_F(EntryTest, ThreadBannerOnEachChangeOfThread) {
    {
        fault_c no_slot(PLAT_CALL_TLS_ALLOC, PLAT_FAULT_NO_SPACE);
        fresh();
    }
    EXPECT_FALSE(m->has_tls);
    load("DefaultLoggingRank error");
    katr_set_thread_info("main-host", 3);
    std::atomic<int> turn{0};
    auto wait_for = [&](int t) { while (turn.load() != t) std::this_thread::yield(); };
    unsigned long worker_id = 0;
    std::thread worker([&] {
        unsigned wmask = KATR_RANK_SITE_DEFAULT, wgen = 0;
        auto say = [&](const char* text) { katr_entry_c("g", "w.cpp", &wmask, &wgen, 1, false).print_nl(KATR_RANK_ERROR, 1, "%s", text); };
        worker_id = plat_thread_id();
        katr_reset_thread_trace_name("reader-7");
        wait_for(1), say("w1"), turn = 2;
        wait_for(3), say("w2"), say("w3"), turn = 4;
    });
    site().print_nl(KATR_RANK_ERROR, 1, "m1"), site().print_nl(KATR_RANK_ERROR, 1, "m2"), turn = 1;
    wait_for(2), site().print_nl(KATR_RANK_ERROR, 1, "m3"), turn = 3;
    wait_for(4), worker.join();
    const std::string main_banner = "== Thread " + std::to_string(plat_thread_id()) + " (main-host) ==\r\n",
                      worker_banner = "== Thread " + std::to_string(worker_id) + " (reader-7) ==\r\n";
    EXPECT_EQ(since_load(), main_banner + "error->m1\r\nerror->m2\r\n" + worker_banner + "error->w1\r\n" +
                                main_banner + "error->m3\r\n" + worker_banner + "error->w2\r\nerror->w3\r\n");
}

// PrintSequence: "<pid>:<sequence> " opens every line, one counter per
// process that only counts up, also across a reload.
TEST_F(EntryTest, SequenceNumbersInThePrefix) {
    load("PrintSequence on\nPrintLine on");
    katr_entry_c e = site();
    e.print_nl(KATR_RANK_ERROR, 7, "a"), e.print_nl(KATR_RANK_ERROR, 8, "b");
    const std::string pid = std::to_string(plat_pid()) + ":", first = since_load();
    ASSERT_NE(first.find(pid), std::string::npos) << first;
    const unsigned long long n = std::stoull(first.substr(first.find(pid) + pid.size()));
    auto numbered = [&](int k, const char* rest) { return pid + std::to_string(n + k) + " " + rest; };
    EXPECT_NE(first.find(numbered(0, "7:error->a\r\n") + numbered(1, "8:error->b\r\n")), std::string::npos) << first;
    load("PrintSequence on");
    e.print_nl(KATR_RANK_ERROR, 9, "c");
    EXPECT_NE(since_load().find(numbered(2, "error->c")), std::string::npos) << since_load();
    load("");
    e.print_nl(KATR_RANK_ERROR, 9, "d");
    EXPECT_EQ(since_load().find(pid), std::string::npos);
}
