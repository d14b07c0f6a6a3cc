// The configuration model: copies, swaps and the name lookups of rank rules.
#include <gtest/gtest.h>

#include <string>

#include "config_text.h"
#include "katrace.h"

// A parse into a copy gives what a parse into the original gives (report,
// messages, rule order); swapping exchanges whole contents. Duplicates are
// still found after the lists were emptied or exchanged.
TEST(ConfigModel, CopySwapAndNameLookups) {
    const char* first = "AditionalRanks db net\nLogDirectoryName /var/log/x\nPrintFile on\nVerbose error\n"
                        "File a.cpp +db\nFile *.h -warning\nClass K log\nFunction f::* +debug\n"
                        "ModuleContent m x.cpp *.inl Y.c\nModuleRank m +net\nThreadByName io* on\nThreadBySysID 9 on\n";
    const char* second = "File a.cpp -db +note\nFile b.cpp trace\nModuleContent m X.CPP z.cpp\nFunction f::* -debug\n"
                         "ThreadByName io* on\nThreadByName io2 on\nAditionalRanks -db\nbad line\nFile\n";
    config_parser_c original;
    std::string msg, copy_msg;
    ASSERT_EQ(parse(original, first, msg), 0u) << msg;
    config_parser_c* copy = copy_config(original);
    ASSERT_NE(copy, nullptr);
    const auto report_of = [](config_parser_c& c) { tr_stream_c out; config_report(c, out); return std::string(out.c_str()); };
    EXPECT_EQ(report_of(*copy), report_of(original));
    EXPECT_EQ(parse(*copy, second, copy_msg), parse(original, second, msg));
    EXPECT_EQ(copy_msg, msg);
    EXPECT_EQ(report_of(*copy), report_of(original));
    EXPECT_EQ(rules_of(copy->thread_ranks), rules_of(original.thread_ranks));

    config_parser_c fresh;
    const std::string full = report_of(original), empty = report_of(fresh);
    swap_config(fresh, original);
    EXPECT_EQ(report_of(fresh), full);
    EXPECT_EQ(report_of(original), empty);
    delete copy;

    // Emptied and refilled lists: the same name again merges into the new record.
    EXPECT_EQ(parse(fresh, "ThreadByName io* off\nThreadByName io* off\nModuleContent m y.CPP Y.cpp", msg), 0u) << msg;
    EXPECT_EQ(rules_of(fresh.thread_ranks), "io*:a/0/0 ");
    fresh.file_ranks.destroy_all();
    EXPECT_EQ(parse(fresh, "File a.cpp +log\nFile a.cpp -log", msg), 0u) << msg;
    EXPECT_EQ(rules_of(fresh.file_ranks), "a.cpp:r/0/16 ");
    EXPECT_NE(report_of(fresh).find("\nModuleContent m  y.CPP z.cpp Y.c x.cpp *.inl\n"), std::string::npos) << report_of(fresh);
}
