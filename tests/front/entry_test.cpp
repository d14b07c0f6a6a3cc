// The entry object against a live manager: line layout in the log file,
// the call-site cache, ranks, the scope stack, the last error and the
// callback.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "front/output.h"
#include "front/front_fixture.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace {

std::vector<std::string> g_calls;
void record_callback(const char* text, unsigned long rank) {
    g_calls.push_back(std::string(text) + "|" + std::to_string(rank));
}

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

TEST_F(EntryTest, ScopeLinesCarryThePrefixPieces) {
    load("PrintLine on\nPrintFile on\nPrintFunction on\nKeepStack on\nDoIndentation on\n"
         "DefaultLoggingRank trace fatal error warning");
    std::string b = banner();
    {
        static unsigned mask = 0x0E, gen = 0;
        katr_entry_c e("Conn::send", ".\\conn.cpp", &mask, &gen, 10, true);
        e.print_nl(KATR_RANK_ERROR, 57, "x=%d", 5);
        EXPECT_EQ(m->get_thread_record()->depth, 1);
        e.print(0x6, -1, "two bits\r\n");
        e.print(KATR_RANK_DEBUG, 59, "not enabled\r\n");
    }
    EXPECT_EQ(m->get_thread_record()->depth, 0);
    EXPECT_EQ(since_load(), b +
              "10: . conn.cpp:Conn::send:enter->\r\n"
              "57:error-> .    x=5\r\n"
              "UNKNOWN<- . conn.cpp:Conn::send:two bits\r\n"
              " . conn.cpp:Conn::send:<-leave\r\n");
}

TEST_F(EntryTest, SiteWithoutTraceRankAndTrimming) {
    load("PrintFile on\nPrintFunction on\nDefaultLoggingRank error debug");
    std::string b = banner();
    {
        unsigned mask = 0, gen = 0;
        katr_entry_c e("f", "..\\x.cpp", &mask, &gen, 3, true);
        e.print_nl(KATR_RANK_DEBUG, 4, "a");
        e.print_nl(KATR_RANK_ERROR, 5, "b");
        katr_entry_c unused("g", "y.cpp", &mask, &gen, 3, true);  // never used: prints nothing
    }
    EXPECT_EQ(since_load(), b + "..\\x.cpp:f:a\r\nerror->..\\x.cpp:f:b\r\n");
}

// A rank of several bits passes when any one of them is enabled; a line
// number of 0 is not shown; names follow the first row of the rank table;
// an object that is never used leaves the scope stack alone.
TEST_F(EntryTest, RankEdgesAndUnusedObjectInsideAScope) {
    load("PrintLine on\nKeepStack on\nAditionalRanks alpha\nDefaultLoggingRank fatal development alpha");
    std::string b = banner();
    thread_trace_s* r = m->get_thread_record();
    {
        unsigned mask = 0x0E, gen = 0;
        katr_entry_c e("f", "a.cpp", &mask, &gen, 3, true);  // no trace rank: no enter line
        e.print_nl(0x6, 4, "either");
        e.print_user_defined_nl("alpha", "u");
        e.print_nl(0x100, 0, "d");
        e.print_nl(0xFFFFFFFF, 5, "a");
        e.print_nl(KATR_RANK_ERROR, 6, "no");
        EXPECT_EQ(r->depth, 1);
        { katr_entry_c unused("g", "b.cpp", &mask, &gen, 7, true); }
        EXPECT_EQ(r->depth, 1);
    }
    EXPECT_EQ(r->depth, 0);
    EXPECT_EQ(since_load(), b + "4:UNKNOWN->either\r\nalpha->u\r\ndevelopment->d\r\n5:All->a\r\n");
}

TEST_F(EntryTest, SiteCacheFollowsTheGeneration) {
    unsigned mask = 0x80, gen = 0;
    {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
        EXPECT_TRUE(e.is_set(0x80));  // no configuration yet: the host's mask decides
    }
    EXPECT_EQ(gen, 0u);
    EXPECT_EQ(mask, 0x80u);
    load("DefaultLoggingRank error");
    unsigned live = m->generation.load();
    {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
        EXPECT_FALSE(e.is_set(0x80));
    }
    EXPECT_EQ(gen, live);
    EXPECT_EQ(mask, 0x4u);
    mask = 0x80;  // a current site is not asked again
    {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
        EXPECT_TRUE(e.is_set(0x80));
    }
    tr_stream_c messages;
    m->parse_buffer("File a.cpp +debug", messages);
    {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
        EXPECT_TRUE(e.is_set(0x80));
        EXPECT_TRUE(e.is_set(0x4));
    }
    EXPECT_EQ(gen, live + 1);
    EXPECT_EQ(mask, 0x84u);
}

TEST_F(EntryTest, LastErrorSurvivesEveryOperation) {
    load("DefaultLoggingRank all\nKeepStack on");
    plat_set_last_error(4321);
    {
        unsigned mask = 0x0E, gen = 0;
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, true);
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

TEST_F(EntryTest, UserDefinedRanksAndLongStrings) {
    load("AditionalRanks alpha beta\nDefaultLoggingRank error beta");
    std::string b = banner();
    unsigned mask = 0x0E, gen = 0;
    katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
    e.print_user_defined_nl("beta", "b%d", 1);
    e.print_user_defined_nl("alpha", "no");
    e.print_user_defined_nl("gamma", "no");
    e.print_user_defined_nl(nullptr, "no");
    EXPECT_TRUE(e.is_set_user_defined("beta"));
    EXPECT_FALSE(e.is_set_user_defined("alpha"));
    const char raw[] = {'r', 0, '%', 'd', '\n'};
    e.print_long_string(KATR_RANK_ERROR, 9, raw, sizeof raw);
    e.print_long_string(KATR_RANK_ERROR, 9, nullptr, 5);
    e.print_user_defined_long_string("beta", "|L", 2);
    e.print_user_defined_long_string("beta", nullptr, 2);
    EXPECT_EQ(since_load(), b + "beta->b1\r\nerror->" + std::string(raw, sizeof raw) + "beta->|L");
}

TEST_F(EntryTest, TooLongMessageAndFirstUseByIsSet) {
    load("DefaultLoggingRank trace error");
    std::string b = banner();
    std::string big(3000, 'z');
    {
        unsigned mask = 0x0E, gen = 0;
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, true);
        EXPECT_TRUE(e.is_set(KATR_RANK_ERROR));  // first use: the enter line comes first
        e.print(KATR_RANK_ERROR, 2, "%s", big.c_str());
    }
    EXPECT_EQ(since_load(), b + "enter->\r\nerror->   \r\nError!, Formatted string (%s) is too long!!!\r\n<-leave\r\n");
}

TEST_F(EntryTest, KeepStackSwitchedOnWhileAScopeIsOpen) {
    load("DefaultLoggingRank error");
    unsigned mask = 0x0E, gen = 0;
    {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, true);
        e.is_set(1);
        tr_stream_c messages;
        m->parse_buffer("KeepStack on", messages);
    }
    EXPECT_EQ(m->get_thread_record()->depth, 0);
    {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, true);
        e.is_set(1);
        EXPECT_EQ(m->get_thread_record()->depth, 1);
        tr_stream_c messages;
        m->parse_buffer("KeepStack off", messages);
    }
    EXPECT_EQ(m->get_thread_record()->depth, 1);  // not popped while the switch is off
}

TEST_F(EntryTest, CallbackGetsFirstLinesOfSevereMessages) {
    load("DefaultLoggingRank all\nAditionalRanks alpha");
    g_calls.clear();
    katr_set_callback(record_callback);
    unsigned mask = 0x0E, gen = 0;
    katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
    e.print_nl(KATR_RANK_WARNING, 2, "w=%d", 3);
    e.print(KATR_RANK_ERROR, 2, "first\nsecond\n");
    e.print_nl(KATR_RANK_DEBUG, 2, "debug");
    e.print_long_string(KATR_RANK_FATAL, 2, "long", 4);
    e.print_user_defined_nl("alpha", "user");
    katr_set_callback(nullptr);
    e.print_nl(KATR_RANK_WARNING, 2, "after");
    if (katr_is_console_application())
        EXPECT_TRUE(g_calls.empty());
    else
        EXPECT_EQ(g_calls, (std::vector<std::string>{"w=3|8", "first|4"}));
}

TEST_F(EntryTest, BannersMarkChangesOfThread) {
    load("DefaultLoggingRank error");
    unsigned mask = 0x0E, gen = 0;
    std::string b = banner(), other;
    auto say = [&](const char* text) {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
        e.print_nl(KATR_RANK_ERROR, 1, "%s", text);
    };
    // Long strings and formatted lines share one notion of the last thread.
    auto say_long = [&](const char* text) {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
        e.print_long_string(KATR_RANK_ERROR, 1, text, std::strlen(text));
    };
    say("1");
    say("2");
    std::thread t([&] {
        katr_reset_thread_trace_name("worker");
        other = banner();
        say_long("L|");
        say("3");
    });
    t.join();
    say("4");
    say_long("M|");
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
    w.run(evaluated, [this] {
        tr_stream_c messages;
        m->parse_buffer("Class EntryTestWidget +debug", messages);
    });
    EXPECT_EQ(evaluated, 1);  // the used object noticed the new generation
    std::string scope = "entry_test.cpp:EntryTestWidget::run:";
    EXPECT_EQ(since_load(), b + scope + "enter->\r\nerror->   e=0\r\n" + scope + "<-leave\r\n" +
                                scope + "enter->\r\nerror->   e=0\r\n   d=1\r\n" + scope + "<-leave\r\n");
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
    auto receive = [&] {
        char buf[256];
        int n = plat_debug_viewer_receive(viewer, buf, sizeof buf, 200);
        return n <= 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
    };
    while (receive() != "<none>") {}  // the reload banner
    unsigned mask = 0x0E, gen = 0;
    katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
    e.print_nl(KATR_RANK_WARNING, 1, "not for the debugger");  // takes the thread banner
    e.print_nl(KATR_RANK_ERROR, 1, "caf\xc3\xa9 %d", 1);
    const char raw[] = {'x', 'y', 0, 'z'};
    e.print_long_string(KATR_RANK_ERROR, 1, raw, sizeof raw);
    EXPECT_EQ(receive(), "error->");
    EXPECT_EQ(receive(), "caf\xc3\xa9 1\r\n");
    EXPECT_EQ(receive(), "error->");
    EXPECT_EQ(receive(), "xy");
    EXPECT_EQ(receive(), "<none>");
    plat_set_debug_endpoint(nullptr);
    plat_debug_viewer_close(viewer);
}
#endif

TEST_F(EntryTest, MessageMacroAsksUntilTheCounterIsPublished) {
    load("DefaultLoggingRank error debug\nPrintFunction on");
    std::string b = banner();
    publish_generation(nullptr);  // as before any entry object was used
    int evaluated = 0;
    for (int i = 0; i < 2; ++i) KATR_MSG(KATR_RANK_DEBUG, "d=%d", ++evaluated);
    EXPECT_EQ(evaluated, 2);
    EXPECT_EQ(since_load(), b + "EntryTest_MessageMacroAsksUntilTheCounterIsPublished_Test::TestBody:d=1\r\n"
                                "EntryTest_MessageMacroAsksUntilTheCounterIsPublished_Test::TestBody:d=2\r\n");
}
