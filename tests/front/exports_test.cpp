// The free-function exports: UTF-16 wrappers, switches and initialisation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "front/front_fixture.h"
#include "front/output.h"
#include "support/tr_stream.h"

namespace {
const katr_wchar_t* W(const char16_t* s) { return reinterpret_cast<const katr_wchar_t*>(s); }
}  // namespace

using ExportsTest = front_test;

TEST_F(ExportsTest, MixTraceSharesOneSiteAndPrintsTextAsIs) {
    load("DefaultLoggingRank error\nFile one.cpp +debug\nPrintFile on\nKeepStack on");
    std::string b = banner();
    mix_trace(0x80, 1, W(u"f"), W(u"one.cpp"), W(u"100%d \u00e9"));  // first after the load decides
    mix_trace(0x80, 2, W(u"f"), W(u"two.cpp"), W(u"shared"));
    mix_trace(0x4, 3, W(u"f"), W(u"two.cpp"), nullptr);
    mix_trace_long_str(0x80, 4, W(u"f"), W(u"two.cpp"), W(u"long"));  // its own site: debug off
    mix_trace_long_str(0x4, 5, W(u"f"), W(u"two.cpp"), W(u"L%s"));
    mix_trace_long_str(0x4, 5, W(u"f"), W(u"two.cpp"), nullptr);
    mix_trace(0x4, 6, nullptr, nullptr, W(u"n"));  // no names: nothing shown for them
    EXPECT_EQ(since_load(), b + "one.cpp:100%d \xc3\xa9\r\n" "two.cpp:shared\r\n" "error->two.cpp:\r\n"
                                "error->two.cpp:L%s" "error->:n\r\n");
    EXPECT_EQ(m->get_thread_record()->depth, 0);  // every wrapper call popped what it pushed
}

TEST_F(ExportsTest, SwitchesAndInitialisation) {
    load("DefaultLoggingRank error");
    unsigned mask = 0x0E, gen = 0;
    katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
    testing::internal::CaptureStdout();
    katr_set_verbose(1);
    e.print_nl(KATR_RANK_ERROR, 1, "loud");
    katr_set_verbose(0);
    e.print_nl(KATR_RANK_ERROR, 1, "quiet");
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("error->loud\r\n"), std::string::npos);
    EXPECT_EQ(out.find("quiet"), std::string::npos);

    // The switches change the configuration itself: a buffer parse that
    // does not name them keeps them.
    testing::internal::CaptureStdout();
    katr_set_verbose(1);
    tr_stream_c messages;
    m->parse_buffer("DefaultLoggingRank error warning", messages);
    e.print_nl(KATR_RANK_WARNING, 1, "still loud");
    katr_set_verbose(0);
    std::fflush(stdout);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("warning->still loud"), std::string::npos);

    katr_set_print_to_debug_vew(true);
    m->parse_buffer("PrintLine off", messages);
    EXPECT_EQ(m->debugger_ranks.load(), 0xFFFFFFFFu);
    katr_set_print_to_debug_vew(false);
    EXPECT_EQ(m->debugger_ranks.load(), 0u);

    std::string before = log_name();
    katr_change_pid(0);
    EXPECT_EQ(log_name(), before);

    testing::internal::CaptureStderr();
    katr_init(path("missing.jot").c_str(), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Error in trace initialisation:\n"), 0u) << err;
    testing::internal::CaptureStderr();
    write_file(path("ok.jot"), "DefaultLoggingRank error\n");
    std::string ok = path("ok.jot");
    std::u16string wide(ok.begin(), ok.end()), wide_dir(dir().begin(), dir().end());  // ASCII paths
    mix_trace_init(W(wide.c_str()), W(wide_dir.c_str()));
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
}

// Standard output takes the ranks of its mask only: with an empty prefix the
// message alone, and a long string up to its first NUL byte.
TEST_F(ExportsTest, ScreenRanksSelectStandardOutput) {
    load("DefaultLoggingRank error warning debug\nPrintOnScreen error debug\nPrintLine on");
    std::string b = banner();
    unsigned mask = 0x0E, gen = 0;
    katr_entry_c e("f", "a.cpp", &mask, &gen, 1, false);
    testing::internal::CaptureStdout();
    e.print_nl(KATR_RANK_ERROR, 1, "e");
    e.print_nl(KATR_RANK_WARNING, 2, "w");
    e.print_nl(KATR_RANK_DEBUG, 0, "d%d", 1);
    const char raw[] = {'x', 0, 'y'};
    e.print_long_string(KATR_RANK_ERROR, 0, raw, sizeof raw);
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, b + "1:error->e\r\nd1\r\nerror->x");
    EXPECT_EQ(since_load(), b + "1:error->e\r\n2:warning->w\r\nd1\r\nerror->" + std::string(raw, sizeof raw));
}

namespace {
void ignore_callback(const char*, unsigned long) {}
}  // namespace

TEST(ExportsWithoutManager, NothingHappens) {
    ASSERT_EQ(katr_manager(), nullptr);
    unsigned mask = 0xFFFFFFFF, gen = 0;
    {
        katr_entry_c e("f", "a.cpp", &mask, &gen, 1, true);
        EXPECT_FALSE(e.is_set(1));
        e.print(1, 1, "x");
        EXPECT_FALSE(e.is_set_user_defined("a"));
    }
    mix_trace(1, 1, nullptr, nullptr, nullptr);
    katr_set_verbose(1);
    katr_change_pid(5);
    katr_set_callback(ignore_callback);  // the one switch that needs no manager
    EXPECT_EQ(g_katr_callback.load(), &ignore_callback);
    katr_set_callback(nullptr);
    testing::internal::CaptureStderr();
    katr_init(nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error in trace initialisation:\nkatrace module has not been properly set\n");
}
