// The configuration report, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "config/config_parser.h"
#include "config/line_reader.h"
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

TEST(ConfigReport, FreshConfiguration) {
    config_parser_c c;
    const std::string T = mix_n::True, F = mix_n::False;
    const std::string expected =
        "\n# Config filename \"None\"\n\n#AditionalRanks Absent\n\nPrintTime " + T + "\nLogFileSize 5242880\n"
                                                                                     "LogNumberOfFilesToKeep 5\nLogDirectoryName \nAddPIDtoLogFilename " +
        F + "\nPrintFile " + F + "\n"
                                 "PrintFunction " +
        T + "\nPrintLine " + F + "\nKeepStack " + F + "\nDoIndentation " + F + "\n"
                                                                               "PrintOnScreen " +
        F + "\nPrintToDebugVew " + T + "\n\nDefaultLoggingRank fatal +error +warning \n"
                                       "\n#ModuleContent Absent\n\n#File Absent\n\n#Class Absent\n\n#Function Absent\n"
                                       "\n# Threads Configuration is Absent\n";
    EXPECT_EQ(report_of(c), expected);
}

TEST(ConfigReport, RankLists) {
    config_parser_c c;
    c.additional_ranks.append_string("db");
    c.additional_ranks.append_string("net");
    const struct {
        unsigned mask;
        char sep;
        bool leading;
        const char* text;
    } cases[] = {
        {0, '+', true, ""},
        {KATR_RANK_DEBUG, '+', true, "+debug "},
        {KATR_RANK_TRACE, '-', true, "-trace "},
        {KATR_RANK_DEVELOPMENT, '+', false, "development "},
        {KATR_RANK_ALL, '+', false,
         "trace +fatal +error +warning +log +note +var +debug +development +qa +user1 +user2 +user3 +snc +db +net "},
    };
    for (const auto& k : cases) {
        tr_stream_c out;
        rank_list(c, out, k.mask, k.sep, k.leading);
        EXPECT_STREQ(out.c_str(), k.text) << k.mask;
    }
}

TEST(ConfigReport, ConfiguredRules) {
    config_parser_c c;
    tr_stream_c messages;
    ASSERT_TRUE(c.parse_text("AditionalRanks db\nLogDirectoryName /logs\nPrintOnScreen error\nPrintToDebugVew Off\n"
                             "DefaultLoggingRank all\nModuleContent net a.cpp b.cpp\nModuleRank net +db -trace\n"
                             "ModuleContent solo x.cpp\nFile *.cpp usr2\nFile main.cpp +devel\nClass Conn lrg_snc\n"
                             "ThreadBySysID 42 off\nThreadByName main off\nThreadByApplID 3 off\n",
                             messages))
        << messages.c_str();
    const std::string F = mix_n::False, r = report_of(c);
    for (const std::string& piece :
         {std::string("\n\nAditionalRanks db\n\nPrintTime "), std::string("LogDirectoryName /logs\n"),
          "DoIndentation " + F + "\n\nPrintOnScreen error \nPrintToDebugVew " + F + "\n\nDefaultLoggingRank trace +fatal",
          std::string("+snc +db \n\nModuleContent solo  x.cpp\nModuleRank solo  \nModuleContent net  b.cpp a.cpp\n"
                      "ModuleRank net +db  -trace \n\nFile main.cpp +development  \nFile *.cpp user2  \n\nClass Conn snc  \n"
                      "\n#Function Absent\n\nThreadByApplID 3 Exclude\nThreadByName main Exclude\nThreadBySysID 42 Exclude\n")})
        EXPECT_NE(r.find(piece), std::string::npos) << "missing: " << piece << "\nin:\n"
                                                    << r;
    EXPECT_EQ(r.find('\r'), std::string::npos);
    EXPECT_EQ(r.back(), '\n');

    c.config_file_name = str_list_c::copy_string("/etc/app.jot");
    EXPECT_EQ(report_of(c).rfind("\n# Config filename \"/etc/app.jot\"\n\nAditionalRanks db\n", 0), 0u);
    c.config_file_name[0] = 0;
    EXPECT_EQ(report_of(c).rfind("\n# Config filename \"\"\n\n", 0), 0u);
}

// The shipping keywords: reported only when a text gave them, in a form
// that parses back; bad values are reported and change nothing.
TEST(ConfigReport, ShippingKeywordsOnlyWhenSet) {
    config_parser_c c;
    tr_stream_c messages;
    tr_m_line_reader_c bad("LogFileNaming sideways\nLogRetentionGrace soon\nPrintSequence maybe\n");
    EXPECT_EQ(c.parse_lines(bad, messages), 2u);
    EXPECT_NE(std::string(messages.c_str()).find("LogFileNaming takes stable or rename"), std::string::npos);
    EXPECT_EQ(report_of(c).find("Sequence"), std::string::npos);
    EXPECT_EQ(report_of(c).find("LogFileNaming"), std::string::npos);

    tr_m_line_reader_c good("LogFileNaming STABLE\nLogRetentionGrace 30\nPrintSequence on\n");
    EXPECT_EQ(c.parse_lines(good, messages), 0u);
    const std::string T = mix_n::True, report = report_of(c);
    EXPECT_NE(report.find("AddPIDtoLogFilename " + std::string(mix_n::False) +
                          "\nLogFileNaming stable\nLogRetentionGrace 30\nPrintSequence " + T + "\n"),
              std::string::npos)
        << report;
    config_parser_c back;
    tr_m_line_reader_c again(report.c_str());
    back.parse_lines(again, messages);
    EXPECT_EQ(report_of(back), report);
    EXPECT_TRUE(back.log_naming_stable && back.print_sequence);
    EXPECT_EQ(back.log_retention_grace, 30u);
}

// The black box's keywords: bad values get a message and keep the setting;
// the report shows what a text gave, and reads back to itself.
TEST(ConfigReport, BlackBoxKeywordsOnlyWhenSet) {
    config_parser_c c;
    const std::string plain = report_of(c);
    tr_stream_c messages;
    tr_m_line_reader_c bad("BlackBoxSize 1048575\nBlackBoxSize 4294967297\nBlackBoxSize 10MB\nBlackBoxRank\nBlackBoxRank loud\nBlackBoxOnError x\n");
    EXPECT_EQ(c.parse_lines(bad, messages), 6u);
    EXPECT_NE(std::string(messages.c_str()).find("BlackBoxSize takes 0 (no black box) or 1048576 to 4294967296 bytes"), std::string::npos);
    EXPECT_EQ(c.black_box_size, 0u);
    EXPECT_EQ(c.black_box_ranks, RANK_ALL);
    EXPECT_EQ(report_of(c), plain);

    tr_m_line_reader_c good("BlackBoxSize 4294967296\nBlackBoxRank fatal error debug\nBlackBoxRank +trace -debug\nBlackBoxOnError 20\n");
    EXPECT_EQ(c.parse_lines(good, messages), 0u);
    EXPECT_EQ(c.black_box_size, 4ull << 30);
    EXPECT_EQ(c.black_box_ranks, find_rank_mask("fatal") | find_rank_mask("error") | find_rank_mask("trace"));
    const std::string report = report_of(c);
    EXPECT_NE(report.find("\nBlackBoxSize 4294967296\nBlackBoxRank trace +fatal +error \nBlackBoxOnError 20\n"), std::string::npos) << report;
    config_parser_c back;
    tr_m_line_reader_c again(report.c_str());
    back.parse_lines(again, messages);
    EXPECT_EQ(report_of(back), report);

    tr_m_line_reader_c none("BlackBoxSize 0\nBlackBoxRank -All\n");
    EXPECT_EQ(back.parse_lines(none, messages), 0u);
    EXPECT_EQ(back.black_box_size, 0u);
    EXPECT_EQ(back.black_box_ranks, 0u);
    EXPECT_NE(report_of(back).find("BlackBoxSize 0\nBlackBoxRank -All \n"), std::string::npos);
}
