// The configuration report (the configured rules, optional keywords that
// read back) and the model behind it: copies, swaps and rule name lookups.
#include <gtest/gtest.h>

#include <string>

#include "config_text.h"
#include "katrace.h"
#include "kor/mix.h"

namespace {
std::string report_of(config_parser_c& c) {
    tr_stream_c out;
    out.append("old content");
    config_report(c, out);
    return out.c_str();
}
}  // namespace

TEST(ConfigReport, ConfiguredRules) {
    config_parser_c c;
    tr_stream_c messages;
    ASSERT_TRUE(c.parse_text("AditionalRanks db\nLogDirectoryName /logs\nPrintOnScreen error\nPrintToDebugVew Off\n"
                             "DefaultLoggingRank all\nModuleContent net a.cpp b.cpp\nModuleRank net +db -trace\n"
                             "ModuleContent solo x.cpp\nFile *.cpp usr2\nFile main.cpp +devel\nClass Conn lrg_snc\n"
                             "ThreadBySysID 42 off\nThreadByName main off\nThreadByApplID 3 off\n",
                             messages))
        << messages.c_str();
    // Rank names as the table spells them, newest rules first, threads excluded.
    const std::string F = mix_n::False, r = report_of(c);
    const std::string pieces[] = {"LogDirectoryName /logs\n", "PrintOnScreen error \nPrintToDebugVew " + F + "\n",
                                  "DefaultLoggingRank trace +fatal", "ModuleRank solo  \n",
                                  "ModuleContent net  b.cpp a.cpp\nModuleRank net +db  -trace \n",
                                  "File main.cpp +development  \nFile *.cpp user2  \n\nClass Conn snc  \n",
                                  "#Function Absent\n\nThreadByApplID 3 Exclude\nThreadByName main Exclude\n"};
    for (const std::string& piece : pieces) EXPECT_NE(r.find(piece), std::string::npos) << piece << "\nin:\n" << r;
    EXPECT_EQ(r.find('\r'), std::string::npos);
    EXPECT_EQ(r.back(), '\n');

    c.config_file_name = str_list_c::copy_string("/etc/app.jot");
    EXPECT_EQ(report_of(c).rfind("\n# Config filename \"/etc/app.jot\"\n\nAditionalRanks db\n", 0), 0u);
    c.config_file_name[0] = 0;
    EXPECT_EQ(report_of(c).rfind("\n# Config filename \"\"\n\n", 0), 0u);
}

// The shipping and black-box keywords: bad values are reported and change
// nothing; the report shows only what a text gave, in a form that parses
// back to itself.
TEST(ConfigReport, OptionalKeywordsOnlyWhenSet) {
    const struct { const char *bad, *bad_message; unsigned counted; const char *good, *reported; } cases[] = {
        {"LogFileNaming sideways\nLogRetentionGrace soon\nPrintSequence maybe\n", "LogFileNaming takes stable or rename", 2,
         "LogFileNaming STABLE\nLogRetentionGrace 30\nPrintSequence on\n",
         "\nLogFileNaming stable\nLogRetentionGrace 30\nPrintSequence "},
        {"BlackBoxSize 1048575\nBlackBoxSize 4294967297\nBlackBoxSize 10MB\nBlackBoxRank\nBlackBoxRank loud\nBlackBoxOnError x\n",
         "BlackBoxSize takes 0 (no black box) or 1048576 to 4294967296 bytes", 6,
         "BlackBoxSize 4294967296\nBlackBoxRank fatal error debug\nBlackBoxRank +trace -debug\nBlackBoxOnError 20\n",
         "\nBlackBoxSize 4294967296\nBlackBoxRank trace +fatal +error \nBlackBoxOnError 20\n"},
    };
    for (const auto& k : cases) {
        config_parser_c c;
        const std::string plain = report_of(c);
        tr_stream_c messages;
        tr_m_line_reader_c bad(k.bad);
        EXPECT_EQ(c.parse_lines(bad, messages), k.counted);
        EXPECT_NE(std::string(messages.c_str()).find(k.bad_message), std::string::npos) << messages.c_str();
        EXPECT_EQ(report_of(c), plain);
        tr_m_line_reader_c good(k.good);
        EXPECT_EQ(c.parse_lines(good, messages), 0u);
        const std::string report = report_of(c);
        EXPECT_NE(report.find(k.reported), std::string::npos) << report;
        config_parser_c back;
        tr_m_line_reader_c again(report.c_str());
        back.parse_lines(again, messages);
        EXPECT_EQ(report_of(back), report);
    }
    config_parser_c c;
    tr_stream_c messages;
    tr_m_line_reader_c none("BlackBoxSize 0\nBlackBoxRank -All\n");
    EXPECT_EQ(c.parse_lines(none, messages), 0u);
    EXPECT_EQ(c.black_box_size, 0u);
    EXPECT_EQ(c.black_box_ranks, 0u);
    EXPECT_NE(report_of(c).find("BlackBoxSize 0\nBlackBoxRank -All \n"), std::string::npos);
}

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
