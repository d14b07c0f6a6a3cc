// The free-function exports: UTF-16 wrappers, switches and initialisation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "front/front_fixture.h"
#include "support/tr_stream.h"

namespace {
const katr_wchar_t* W(const char16_t* s) { return reinterpret_cast<const katr_wchar_t*>(s); }
}  // namespace

using ExportsTest = front_test;

TEST_F(ExportsTest, MixTraceSharesOneSiteAndPrintsTextAsIs) {
    load("DefaultLoggingRank error\nFile one.cpp +debug\nPrintFile on");
    std::string b = banner();
    mix_trace(0x80, 1, W(u"f"), W(u"one.cpp"), W(u"100%d \u00e9"));  // first after the load decides
    mix_trace(0x80, 2, W(u"f"), W(u"two.cpp"), W(u"shared"));
    mix_trace(0x4, 3, W(u"f"), W(u"two.cpp"), nullptr);
    mix_trace_long_str(0x80, 4, W(u"f"), W(u"two.cpp"), W(u"long"));  // its own site: debug off
    mix_trace_long_str(0x4, 5, W(u"f"), W(u"two.cpp"), W(u"L%s"));
    mix_trace_long_str(0x4, 5, W(u"f"), W(u"two.cpp"), nullptr);
    EXPECT_EQ(since_load(), b + "one.cpp:100%d \xc3\xa9\r\n" "two.cpp:shared\r\n" "error->two.cpp:\r\n"
                                "error->two.cpp:L%s");
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

    katr_set_print_to_debug_vew(true);
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
    testing::internal::CaptureStderr();
    katr_init(nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error in trace initialisation:\nkatrace module has not been properly set\n");
}
