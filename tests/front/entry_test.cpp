// The entry object and the exports against a live manager: line layout in
// the log file, the call-site cache, the scope stack, the last error, the
// callback, standard output, the debugger output and many threads at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "front/front_fixture.h"
#include "front/output.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace {
const katr_wchar_t* W(const char16_t* s) { return reinterpret_cast<const katr_wchar_t*>(s); }
size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
    return n;
}
std::vector<std::string> g_calls;
void record_callback(const char* text, unsigned long rank) { g_calls.push_back(text + ("|" + std::to_string(rank))); }
}  // namespace

// Outside the anonymous namespace, so that its scope is named EntryTestWidget::run.
class EntryTestWidget {
public:
    template <class F>
    void run(int& evaluated, F between) {
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
    struct {
        const char* config;
        std::function<void()> calls;
        std::string log;
    } cases[] = {
        {"PrintLine on\nPrintFile on\nPrintFunction on\nKeepStack on\nDoIndentation on\n"
         "DefaultLoggingRank trace fatal error warning",
         [&] {
             {
                 katr_entry_c e = site(true, ".\\conn.cpp", "Conn::send", 10);
                 e.print_nl(KATR_RANK_ERROR, 57, "x=%d", 5);
                 EXPECT_EQ(depth(), 1);
                 e.print(0x6, -1, "two bits\r\n");
                 e.print(KATR_RANK_DEBUG, 59, "not enabled\r\n");
             }
             EXPECT_EQ(depth(), 0);
         },
         "10: . conn.cpp:Conn::send:enter->\r\n57:error-> .    x=5\r\n"
         "UNKNOWN<- . conn.cpp:Conn::send:two bits\r\n . conn.cpp:Conn::send:<-leave\r\n"},
        // Only a leading ".\\" is cut from the file name.
        {"PrintFile on\nPrintFunction on\nDefaultLoggingRank error",
         [&] { site(true, "..\\x.cpp").print_nl(KATR_RANK_ERROR, 5, "b"); }, "error->..\\x.cpp:f:b\r\n"},
        // A rank of several bits passes when any one of them is enabled; line
        // 0 is not shown; names follow the first row of the rank table; an
        // unused object inside a scope leaves the scope stack alone.
        {"PrintLine on\nKeepStack on\nAditionalRanks alpha\nDefaultLoggingRank fatal development alpha",
         [&] {
             {
                 katr_entry_c e = site(true, "a.cpp", "f", 3);
                 e.print_nl(0x6, 4, "either");
                 e.print_user_defined_nl("alpha", "u");
                 e.print_nl(0x100, 0, "d");
                 e.print_nl(0xFFFFFFFF, 5, "a");
                 e.print_nl(KATR_RANK_ERROR, 6, "no");
                 { katr_entry_c unused = site(true, "b.cpp", "g", 7); }
                 EXPECT_EQ(depth(), 1);
             }
             EXPECT_EQ(depth(), 0);
         },
         "4:UNKNOWN->either\r\nalpha->u\r\ndevelopment->d\r\n5:All->a\r\n"},
        {"AditionalRanks alpha beta\nDefaultLoggingRank error beta",
         [&] {
             katr_entry_c e = site();
             e.print_user_defined_nl("beta", "b%d", 1);
             for (const char* no : {"alpha", "gamma", static_cast<const char*>(nullptr)})
                 e.print_user_defined_nl(no, "n");
             EXPECT_TRUE(e.is_set_user_defined("beta"));
             EXPECT_FALSE(e.is_set_user_defined("alpha"));
             e.print_long_string(KATR_RANK_ERROR, 9, raw, sizeof raw);
             e.print_long_string(KATR_RANK_ERROR, 9, nullptr, 5);
             e.print_user_defined_long_string("beta", "|L", 2);
             e.print_user_defined_long_string("beta", nullptr, 2);
         },
         "beta->b1\r\nerror->" + std::string(raw, sizeof raw) + "beta->|L"},
        // A first use by is_set writes the enter line first.
        {"DefaultLoggingRank trace error",
         [&] {
             katr_entry_c e = site(true);
             EXPECT_TRUE(e.is_set(KATR_RANK_ERROR));
             e.print(KATR_RANK_ERROR, 2, "%s", big.c_str());
         },
         "enter->\r\nerror->   \r\nError!, Formatted string (%s) is too long!!!\r\n<-leave\r\n"},
        // The UTF-16 wrappers: one site per kind, the text printed as it is,
        // names may be missing, every call pops what it pushed.
        {"DefaultLoggingRank error\nFile one.cpp +debug\nPrintFile on\nKeepStack on",
         [&] {
             mix_trace(0x80, 1, W(u"f"), W(u"one.cpp"), W(u"100%d \u00e9"));  // first after the load decides
             mix_trace(0x80, 2, W(u"f"), W(u"two.cpp"), W(u"shared"));
             mix_trace(0x4, 3, W(u"f"), W(u"two.cpp"), nullptr);
             mix_trace_long_str(0x80, 4, W(u"f"), W(u"two.cpp"), W(u"long"));  // its own site: debug off
             mix_trace_long_str(0x4, 5, W(u"f"), W(u"two.cpp"), W(u"L%s"));
             mix_trace_long_str(0x4, 5, W(u"f"), W(u"two.cpp"), nullptr);
             mix_trace(0x4, 6, nullptr, nullptr, W(u"n"));
             EXPECT_EQ(depth(), 0);
         },
         "one.cpp:100%d \xc3\xa9\r\ntwo.cpp:shared\r\nerror->two.cpp:\r\nerror->two.cpp:L%serror->:n\r\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.config);
        fresh();
        load(c.config);
        std::string b = banner();
        c.calls();
        EXPECT_EQ(since_load(), b + c.log);
    }
}

TEST_F(EntryTest, SiteCacheFollowsTheGeneration) {
    mask = 0x80;
    EXPECT_TRUE(site().is_set(0x80));  // no configuration yet: the host's mask decides
    EXPECT_EQ(gen, 0u);
    EXPECT_EQ(mask, 0x80u);
    load("DefaultLoggingRank error");
    unsigned live = m->generation.load();
    EXPECT_FALSE(site().is_set(0x80));
    EXPECT_EQ(gen, live);
    EXPECT_EQ(mask, 0x4u);
    mask = 0x80;  // a current site is not asked again
    EXPECT_TRUE(site().is_set(0x80));
    tr_stream_c messages;
    m->parse_buffer("File a.cpp +debug", messages);
    EXPECT_TRUE(site().is_set(0x80));
    EXPECT_EQ(gen, live + 1);
    EXPECT_EQ(mask, 0x84u);
}

TEST_F(EntryTest, LastErrorSurvivesEveryOperation) {
    load("DefaultLoggingRank all\nKeepStack on");
    plat_set_last_error(4321);
    {
        katr_entry_c e = site(true);
        e.print_nl(KATR_RANK_ERROR, 2, "x");
        EXPECT_EQ(plat_last_error(), 4321u);
        e.print_long_string(KATR_RANK_ERROR, 2, "abc", 3);
        e.is_set(1);
        e.print_user_defined("none", "x");
        EXPECT_EQ(plat_last_error(), 4321u);
        plat_set_last_error(77);
    }
    EXPECT_EQ(plat_last_error(), 77u);
}

// A scope pushes only while KeepStack is on, and pops only while it is on.
TEST_F(EntryTest, KeepStackSwitchedWhileAScopeIsOpen) {
    load("DefaultLoggingRank error");
    auto scope = [&](const char* change) {
        katr_entry_c e = site(true);
        e.is_set(1);
        tr_stream_c messages;
        m->parse_buffer(change, messages);
    };
    scope("KeepStack on");
    EXPECT_EQ(depth(), 0);
    scope("KeepStack off");
    EXPECT_EQ(depth(), 1);
}

TEST_F(EntryTest, CallbackGetsFirstLinesOfSevereMessages) {
    load("DefaultLoggingRank all\nAditionalRanks alpha");
    g_calls.clear();
    katr_set_callback(record_callback);
    katr_entry_c e = site();
    e.print_nl(KATR_RANK_WARNING, 2, "w=%d", 3);
    e.print(KATR_RANK_ERROR, 2, "first\nsecond\n");
    e.print_nl(KATR_RANK_DEBUG, 2, "debug");
    e.print_long_string(KATR_RANK_FATAL, 2, "long", 4);
    e.print_user_defined_nl("alpha", "user");
    katr_set_callback(nullptr);
    e.print_nl(KATR_RANK_WARNING, 2, "after");
    EXPECT_EQ(g_calls, (katr_is_console_application() ? std::vector<std::string>{}
                                                      : std::vector<std::string>{"w=3|8", "first|4"}));
}

// Formatted lines and long strings share one notion of the last thread.
TEST_F(EntryTest, BannersMarkChangesOfThread) {
    load("DefaultLoggingRank error");
    std::string b = banner(), other;
    auto say = [&](const char* text, bool as_long) {
        katr_entry_c e = site();
        if (as_long) e.print_long_string(KATR_RANK_ERROR, 1, text, std::strlen(text));
        else e.print_nl(KATR_RANK_ERROR, 1, "%s", text);
    };
    say("1", false);
    say("2", false);
    std::thread([&] {
        katr_reset_thread_trace_name("worker");
        other = banner();
        say("L|", true);
        say("3", false);
    }).join();
    say("4", false);
    say("M|", true);
    EXPECT_NE(other.find("(worker)"), std::string::npos);
    EXPECT_EQ(since_load(), b + "error->1\r\nerror->2\r\n" + other + "error->L|error->3\r\n" + b +
                                "error->4\r\nerror->M|");
}

TEST_F(EntryTest, HostMacrosNameTheScopeAndTestInline) {
    load("PrintFile on\nPrintFunction on\nDefaultLoggingRank trace error");
    std::string b = banner();
    EntryTestWidget w;
    int evaluated = 0;
    w.run(evaluated, [] {});
    EXPECT_EQ(evaluated, 0);
    tr_stream_c messages;
    w.run(evaluated, [&] { m->parse_buffer("Class EntryTestWidget +debug", messages); });
    EXPECT_EQ(evaluated, 1);  // the used object noticed the new generation
    std::string scope = "entry_test.cpp:EntryTestWidget::run:";
    EXPECT_EQ(since_load(), b + scope + "enter->\r\nerror->   e=0\r\n" + scope + "<-leave\r\n" +
                                scope + "enter->\r\nerror->   e=0\r\n   d=1\r\n" + scope + "<-leave\r\n");
    // Until an entry object publishes the counter, the inline test asks.
    m->parse_buffer("DefaultLoggingRank trace error debug", messages);
    publish_generation(nullptr);
    for (int i = 0; i < 2; ++i) KATR_MSG(KATR_RANK_DEBUG, "d=%d", ++evaluated);
    EXPECT_EQ(evaluated, 3);
}

#if !defined(_WIN32)
// With a viewer listening, prefix and message go to the debugger output as
// two texts, for the ranks in the debugger mask only.
TEST_F(EntryTest, DebuggerOutputReachesAListeningViewer) {
    std::string endpoint = path("viewer.sock");
    intptr_t viewer = plat_debug_viewer_open(endpoint.c_str());
    ASSERT_NE(viewer, -1);
    plat_set_debug_endpoint(endpoint.c_str());
    load("DefaultLoggingRank error warning\nPrintToDebugVew error");
    auto received = [&] {
        std::vector<std::string> all;
        char buf[256];
        for (int n; (n = plat_debug_viewer_receive(viewer, buf, sizeof buf, 200)) > 0;)
            all.emplace_back(buf, static_cast<size_t>(n));
        return all;
    };
    received();  // the reload banner
    katr_entry_c e = site();
    e.print_nl(KATR_RANK_WARNING, 1, "not for the debugger");  // takes the thread banner
    e.print_nl(KATR_RANK_ERROR, 1, "caf\xc3\xa9 %d", 1);
    e.print_long_string(KATR_RANK_ERROR, 1, "xy\0z", 4);
    EXPECT_EQ(received(), (std::vector<std::string>{"error->", "caf\xc3\xa9 1\r\n", "error->", "xy"}));
    plat_set_debug_endpoint(nullptr);
    plat_debug_viewer_close(viewer);
}
#endif

// Standard output takes the ranks of its mask (a long string up to its first
// NUL byte), or every line while verbose; the switches change the
// configuration itself, so a buffer parse that does not name them keeps them.
TEST_F(EntryTest, StandardOutputAndSwitches) {
    load("DefaultLoggingRank error warning debug\nPrintOnScreen error debug\nPrintLine on");
    std::string b = banner();
    katr_entry_c e = site();
    testing::internal::CaptureStdout();
    e.print_nl(KATR_RANK_ERROR, 1, "e");
    e.print_nl(KATR_RANK_WARNING, 2, "w");
    e.print_nl(KATR_RANK_DEBUG, 0, "d%d", 1);
    e.print_long_string(KATR_RANK_ERROR, 0, "x\0y", 3);
    katr_set_verbose(1);
    tr_stream_c messages;
    m->parse_buffer("DefaultLoggingRank error warning", messages);
    e.print_nl(KATR_RANK_WARNING, 3, "loud");
    katr_set_verbose(0);
    e.print_nl(KATR_RANK_WARNING, 4, "quiet");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), b + "1:error->e\r\nd1\r\nerror->x3:warning->loud\r\n");
    EXPECT_EQ(since_load(), b + "1:error->e\r\n2:warning->w\r\nd1\r\nerror->" + std::string("x\0y", 3) +
                                "3:warning->loud\r\n4:warning->quiet\r\n");
    katr_set_print_to_debug_vew(true);
    m->parse_buffer("PrintLine off", messages);
    EXPECT_EQ(m->debugger_ranks.load(), 0xFFFFFFFFu);
    katr_set_print_to_debug_vew(false);
    EXPECT_EQ(m->debugger_ranks.load(), 0u);
    std::string before = log_name();
    katr_change_pid(0);
    EXPECT_EQ(log_name(), before);
}

TEST_F(EntryTest, InitialisationAndNoManager) {
    testing::internal::CaptureStderr();
    katr_init(path("missing.jot").c_str(), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Error in trace initialisation:\n"), 0u) << err;
    write_file(path("ok.jot"), "DefaultLoggingRank error\n");
    std::string ok = path("ok.jot");
    std::u16string wide(ok.begin(), ok.end()), wide_dir(dir().begin(), dir().end());  // ASCII paths
    testing::internal::CaptureStderr();
    mix_trace_init(W(wide.c_str()), W(wide_dir.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // Without a manager nothing happens; the callback is the one switch that needs none.
    g_katr_manager.store(nullptr);
    mask = 0xFFFFFFFF;
    {
        katr_entry_c e = site(true);
        EXPECT_FALSE(e.is_set(1));
        e.print(1, 1, "x");
        EXPECT_FALSE(e.is_set_user_defined("a"));
    }
    mix_trace(1, 1, nullptr, nullptr, nullptr);
    katr_set_verbose(1);
    katr_change_pid(5);
    katr_set_callback(record_callback);
    EXPECT_EQ(g_katr_callback.load(), &record_callback);
    testing::internal::CaptureStderr();
    katr_init(nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error in trace initialisation:\nkatrace module has not been properly set\n");
}

namespace {
void nested(int level) {
    KATR_SCOPE(t);
    KATR_PRINT_NL(t, KATR_RANK_ERROR, "level %d", level);
    KATR_PRINT_NL(t, KATR_RANK_DEBUG, "hidden");
    if (level < 3) nested(level + 1);
}
}  // namespace

using FrontConcurrent = front_test;

// Threads share the macros' sites while reloads raise the generation: every
// line arrives whole, scopes balance and indent per thread.
TEST_F(FrontConcurrent, SharedSitesFromManyThreadsDuringReloads) {
    load("KeepStack on\nDoIndentation on\nPrintFunction on\nDefaultLoggingRank trace error");
    std::vector<std::thread> pool;
    for (int i = 0; i < 4; ++i)
        pool.emplace_back([this] {
            for (int r = 0; r < 50; ++r) nested(1);
            EXPECT_EQ(depth(), 0);
        });
    tr_stream_c messages;
    for (int r = 0; r < 5; ++r)
        m->parse_buffer(r % 2 ? "DefaultLoggingRank trace error" : "DefaultLoggingRank +error", messages);
    for (auto& t : pool) t.join();
    std::string log = since_load();
    EXPECT_EQ(count(log, "nested:enter->\r\n"), 600u);
    EXPECT_EQ(count(log, "nested:<-leave\r\n"), 600u);
    EXPECT_EQ(count(log, "level "), 600u);
    EXPECT_EQ(count(log, "hidden"), 0u);
    EXPECT_NE(log.find("error-> .  .  .    level 3\r\n"), std::string::npos);
}
