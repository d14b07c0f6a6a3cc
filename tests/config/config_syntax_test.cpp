// The configuration language: keywords, values, rules and every error report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_text.h"
#include "katrace.h"

TEST(ConfigSyntax, SettingsBooleansAndOutputRanks) {
    config_parser_c c;
    std::string msg;
    EXPECT_EQ(parse(c, "RefreshTime 30\nLogDirectoryName /var/log/x extra\nAddPIDtoLogFilename ON\nPrintFile true\n"
                       "PrintFunction off\nPrintLine TRUE\nPrintTime False\nKeepStack on\nDoIndentation On\n"
                       "LogFileSize 10M\nTraceNumberOfFilesToKeep 3 files\n  # comment\n\n",
                    msg) +
                  msg.size(),
              0u);
    EXPECT_STREQ(c.get_log_directory(), "/var/log/x");
    EXPECT_EQ((std::vector<bool>{c.add_pid_to_log_filename, c.print_file, c.print_line, c.keep_stack, c.do_indentation,
                                 c.print_function, c.print_time}),
              (std::vector<bool>{true, true, true, true, true, false, false}));
    EXPECT_EQ(std::make_pair(c.log_file_size, c.log_files_to_keep), std::make_pair(10ull, 3u));
    const struct { const char* text; unsigned counted, screen, debugger; } steps[] = {
        {"PrintToDebugVew Off\nPrintOnScreen error warning", 0, KATR_RANK_ERROR | KATR_RANK_WARNING, 0},
        {"PrintOnScreen +debug", 0, KATR_RANK_ERROR | KATR_RANK_WARNING | KATR_RANK_DEBUG, 0},
        {"Verbose On -debug", 0, ~KATR_RANK_DEBUG, 0},
        {"PrintOnScreen false\nPrintToDebugVew true ^M", 0, 0, KATR_RANK_ALL},
        {"PrintOnScreen On bogus", 1, 0, KATR_RANK_ALL},
        // The same rank added and removed: the addition wins (with a warning).
        {"PrintOnScreen On +debug -debug", 0, KATR_RANK_ALL, KATR_RANK_ALL},
        {"PrintOnScreen Off\nPrintOnScreen +debug -debug", 0, KATR_RANK_DEBUG, KATR_RANK_ALL},
    };
    for (const auto& k : steps) {
        EXPECT_EQ(parse(c, k.text, msg), k.counted) << k.text;
        EXPECT_EQ(c.screen_ranks, k.screen) << k.text;
        EXPECT_EQ(c.debugger_ranks, k.debugger) << k.text;
    }
}

TEST(ConfigSyntax, ReportedLines) {
    // Each bad line alone: counted as an error or not, and its report after the quoted line. (The
    // configuration page's examples, run through katr_check, show the other keywords' reports.)
    const struct { const char* line; unsigned counted; const char* report; } cases[] = {
        {"ModuleRank", 0, "\t empty ModuleRank content line is provide\n"},
        {"ThreadByApplID 5 yes", 0, "\t valid Boolean key must be provided\n"},
        {"LogNumberOfFilesToKeep", 1, "\t no valid numver of log_files_to_keep is provided\n"},
        {"DefaultLoggingRank", 1, ""},
        {"Verbose +nothing", 1, ""},
    };
    config_parser_c c;
    std::string msg;
    for (const auto& k : cases) {
        EXPECT_EQ(parse(c, k.line, msg), k.counted) << k.line;
        EXPECT_EQ(msg, "Error in config data line \"" + std::string(k.line) + "\"\n" + k.report);
    }
    // The lines whose reports the configuration page shows, as one text: errors count over its lines
    // and a bad line changes nothing.
    EXPECT_EQ(parse(c, "LogDirectoryName\nPrintFile maybe\nClass\nModuleContent net\nThreadBySysID 0 on\nLogFileSize big\n"
                       "File main.cpp Debug\nPrintToDebugVew\nClenAll",
                    msg),
              4u);
    EXPECT_STREQ(c.get_log_directory(), "");
    EXPECT_FALSE(c.print_file);
    EXPECT_EQ(c.screen_ranks, 0u);
    EXPECT_EQ(c.thread_ranks.num() + c.module_ranks.num() + c.class_ranks.num() + c.file_ranks.num(), 0u);
    EXPECT_EQ(c.log_file_size, 5242880u);
    EXPECT_EQ(c.default_rank, 14u);
    EXPECT_EQ(c.debugger_ranks, KATR_RANK_ALL);
}

TEST(ConfigSyntax, RankRules) {
    config_parser_c c;
    std::string msg;
    EXPECT_EQ(parse(c, "DefaultDebugLevel +debug -  warning", msg), 0u);
    EXPECT_EQ(c.default_rank, KATR_RANK_FATAL | KATR_RANK_ERROR | KATR_RANK_DEBUG);
    // An item without a sign adds, also after a '-' item.
    EXPECT_EQ(parse(c, "DefaultLoggingRank +debug -warning trace", msg), 0u);
    EXPECT_EQ(c.default_rank, KATR_RANK_FATAL | KATR_RANK_ERROR | KATR_RANK_DEBUG | KATR_RANK_TRACE);
    // The warnings of these two lines: the configuration page's examples.
    EXPECT_EQ(parse(c, "DefaultLoggingRank debug -trace", msg), 0u);
    EXPECT_EQ(c.default_rank, KATR_RANK_DEBUG);
    EXPECT_EQ(parse(c, "File main.cpp +debug -debug", msg), 0u);
    EXPECT_EQ(rules_of(c.file_ranks), "main.cpp:r/128/0 ");
    EXPECT_EQ(parse(c, "Class Conn\nFunction f +", msg), 2u);  // rank list missing
    EXPECT_EQ(c.class_ranks.num() + c.function_ranks.num(), 0u);
    EXPECT_EQ(parse(c, "ModuleRank net +note", msg), 0u);
    EXPECT_EQ(rules_of(c.module_ranks), "net:r/32/0 ");
    // Additional ranks take the bits from 0x4000 on, at most 18 of them.
    EXPECT_EQ(parse(c, "AditionalRanks dbase net\nFunction Db::open dbase\nFunction Net::x +net -dbase", msg) + msg.size(), 0u);
    EXPECT_EQ(rules_of(c.function_ranks), "Db::open:a/16384/0 Net::x:r/32768/16384 ");
    EXPECT_EQ(parse(c, "AditionalRanks -dbase +net -missing", msg), 0u);
    EXPECT_EQ(c.additional_ranks.num(), 1u);
    EXPECT_EQ(c.additional_rank_mask("net"), 0x4000u);  // the bit is the position
    EXPECT_EQ(c.additional_rank_mask("Net") | c.additional_rank_mask("dbase"), 0u);
    std::string line = "AditionalRanks";
    for (int i = 0; i < 19; ++i) line += " r" + std::to_string(i);
    EXPECT_EQ(parse(c, line.c_str(), msg), 0u);
    EXPECT_EQ(c.additional_ranks.num(), 18u);
    EXPECT_EQ(msg, "Error in config data line \"" + line +
                       "\"\n\t Unable to add RegistredRank \"r17\", maximum=18 has been reached\n");
    EXPECT_EQ(c.additional_rank_mask("r16"), 0x80000000u);
}
