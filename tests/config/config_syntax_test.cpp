// The configuration language: keywords, values, rules and every error report.
#include <gtest/gtest.h>

#include <string>

#include "config/config_parser.h"
#include "config/line_reader.h"

namespace {

// Parses text into c; returns the number of counted errors, the messages in msg.
unsigned parse(config_parser_c& c, const char* text, std::string& msg, std::string* warnings = nullptr)
{
    tr_stream_c messages;
    tr_m_line_reader_c reader(text);
    testing::internal::CaptureStderr();
    unsigned n = c.parse_lines(reader, messages);
    std::string err = testing::internal::GetCapturedStderr();
    if (warnings)
        *warnings = err;
    msg = messages.c_str();
    return n;
}

config_parser_c::log_rank_s* first_rule(config_parser_c::log_rank_list_c& list)
{
    return config_parser_c::log_rank_list_c::rule_of(list.first());
}

} // namespace

TEST(ConfigSyntax, SettingsAndBooleans)
{
    config_parser_c c;
    std::string msg;
    EXPECT_EQ(parse(c, "RefreshTime 30\nLogDirectoryName /var/log/x extra\nAddPIDtoLogFilename ON\n"
                       "PrintFile true\nPrintFunction off\nPrintLine TRUE\nPrintTime False\n"
                       "KeepStack on\nDoIndentation On\nLogFileSize 10M\nTraceNumberOfFilesToKeep 3 files\n"
                       "  # comment\n\n",
                    msg), 0u);
    EXPECT_EQ(msg, "");
    EXPECT_STREQ(c.get_log_directory(), "/var/log/x");
    EXPECT_TRUE(c.add_pid_to_log_filename && c.print_file && c.print_line && c.keep_stack && c.do_indentation);
    EXPECT_FALSE(c.print_function || c.print_time);
    EXPECT_EQ(c.log_file_size, 10u);
    EXPECT_EQ(c.log_files_to_keep, 3u);
}

TEST(ConfigSyntax, ReportedLines)
{
    config_parser_c c;
    std::string msg;
    // not counted
    EXPECT_EQ(parse(c, "verbose On", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"verbose On\"\n bad keyword \"verbose\" is provided\n");
    EXPECT_EQ(parse(c, "PrintFile maybe", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"PrintFile maybe\"\n\t valid Boolean key must be provided\n");
    EXPECT_FALSE(c.print_file);
    EXPECT_EQ(parse(c, "ModuleContent", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"ModuleContent\"\n\t empty module content line is provided\n");
    EXPECT_EQ(parse(c, "ModuleContent net", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"ModuleContent net\"\n\t empty module \"net\" is provided\n");
    EXPECT_EQ(parse(c, "Class", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"Class\"\n\t empty Class content line is provide\n");
    EXPECT_EQ(parse(c, "ModuleRank", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"ModuleRank\"\n\t empty ModuleRank content line is provide\n");
    EXPECT_EQ(parse(c, "ThreadByName", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"ThreadByName\"\n\t valid thread name must be provided\n");
    EXPECT_EQ(parse(c, "ThreadBySysID 0 on", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"ThreadBySysID 0 on\"\n\t valid ID value must be provided\n");
    EXPECT_EQ(parse(c, "ThreadByApplID 5 yes", msg), 0u);
    EXPECT_EQ(msg, "Error in config data line \"ThreadByApplID 5 yes\"\n\t valid Boolean key must be provided\n");
    EXPECT_EQ(parse(c, "LogDirectoryName", msg), 0u);
    EXPECT_EQ(msg.rfind("Error in config data line \"LogDirectoryName\"", 0), 0u);
    EXPECT_EQ(c.thread_ranks.num() + c.module_ranks.num() + c.class_ranks.num(), 0u);
    EXPECT_STREQ(c.get_log_directory(), "");

    // counted
    EXPECT_EQ(parse(c, "LogFileSize big\nLogNumberOfFilesToKeep\nClenAll\nFile main.cpp Debug\n"
                       "DefaultLoggingRank\nPrintToDebugVew\nVerbose +nothing",
                    msg), 7u);
    EXPECT_EQ(msg,
              "Error in config data line \"LogFileSize big\"\n\t no valid log_file_size is provided\n"
              "Error in config data line \"LogNumberOfFilesToKeep\"\n\t no valid numver of log_files_to_keep is provided\n"
              "Error in config data line \"ClenAll\"\n"
              "Error in config data line \"File main.cpp Debug\"\n"
              "Error in config data line \"DefaultLoggingRank\"\n"
              "Error in config data line \"PrintToDebugVew\"\n"
              "Error in config data line \"Verbose +nothing\"\n");
    // a bad line changes nothing
    EXPECT_EQ(c.log_file_size, 5242880u);
    EXPECT_EQ(c.file_ranks.num(), 0u);
    EXPECT_EQ(c.default_rank, 14u);
    EXPECT_EQ(c.debugger_ranks, 0xFFFFFFFFu);
    EXPECT_EQ(c.screen_ranks, 0u);
}

TEST(ConfigSyntax, RankLists)
{
    config_parser_c c;
    std::string msg, warn;
    EXPECT_EQ(parse(c, "DefaultLoggingRank debug", msg), 0u);
    EXPECT_EQ(c.default_rank, 0x80u);
    c.default_rank = 14;
    EXPECT_EQ(parse(c, "DefaultDebugLevel +debug -  warning", msg), 0u);
    EXPECT_EQ(c.default_rank, 0x86u);

    EXPECT_EQ(parse(c, "DefaultLoggingRank debug -trace", msg, &warn), 0u);
    EXPECT_EQ(c.default_rank, 0x80u);
    EXPECT_EQ(warn, "Warning! Entries for removal are meaningless in the line:\n\"DefaultLoggingRank debug -trace\"\n");

    EXPECT_EQ(parse(c, "File main.cpp +debug -debug", msg, &warn), 0u);
    EXPECT_EQ(warn, "Warning! Inconsistent logging rank line, the same ranks are found for addition and removal\n");
    config_parser_c::log_rank_s* r = first_rule(c.file_ranks);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->relative);
    EXPECT_EQ(r->add_ranks, 0x80u);
    EXPECT_EQ(r->remove_ranks, 0u);

    // a later line for the same name merges
    EXPECT_EQ(parse(c, "File main.cpp error usr1\nFile main.cpp -error", msg), 0u);
    EXPECT_EQ(c.file_ranks.num(), 1u);
    EXPECT_FALSE(r->relative);
    EXPECT_EQ(r->add_ranks, 0x400u);

    EXPECT_EQ(parse(c, "Class Conn", msg), 1u);   // rank list missing
    EXPECT_EQ(parse(c, "Function f +", msg), 1u);
    EXPECT_EQ(parse(c, "ModuleRank net +note", msg), 0u);
    ASSERT_EQ(c.module_ranks.num(), 1u);
    EXPECT_EQ(static_cast<config_parser_c::module_rank_s*>(first_rule(c.module_ranks))->content.num(), 0u);
    EXPECT_EQ(c.class_ranks.num() + c.function_ranks.num(), 0u);
}

TEST(ConfigSyntax, AdditionalRanks)
{
    config_parser_c c;
    std::string msg;
    EXPECT_EQ(parse(c, "AditionalRanks dbase net\nFunction Db::open dbase\nFunction Net::x +net -dbase", msg), 0u);
    EXPECT_EQ(msg, "");
    EXPECT_EQ(first_rule(c.function_ranks)->add_ranks, 0x4000u);
    config_parser_c::log_rank_s* x = config_parser_c::log_rank_list_c::rule_of(c.function_ranks.last());
    EXPECT_STREQ(x->name, "Net::x");
    EXPECT_EQ(x->add_ranks, 0x8000u);
    EXPECT_EQ(x->remove_ranks, 0x4000u);
    EXPECT_EQ(parse(c, "AditionalRanks -dbase +net -missing", msg), 0u);
    EXPECT_EQ(c.additional_ranks.num(), 1u);
    EXPECT_EQ(c.additional_rank_mask("net"), 0x4000u);

    std::string line = "AditionalRanks";
    for (int i = 0; i < 19; ++i)
        line += " r" + std::to_string(i);
    EXPECT_EQ(parse(c, line.c_str(), msg), 0u);
    EXPECT_EQ(c.additional_ranks.num(), 18u);
    EXPECT_EQ(msg, "Error in config data line \"" + line +
                       "\"\n\t Unable to add RegistredRank \"r17\", maximum=18 has been reached\n");
    EXPECT_EQ(c.additional_rank_mask("r16"), 0x80000000u);
}

TEST(ConfigSyntax, ThreadRules)
{
    config_parser_c c;
    std::string msg;
    EXPECT_EQ(parse(c, "ThreadByName worker on\nThreadByName worker on\nThreadBySysID 12 on\n"
                       "ThreadBySysID 12 true\nThreadByApplID 7 On\nThreadByName io* on\n",
                    msg), 0u);
    EXPECT_EQ(msg, "");
    ASSERT_EQ(c.thread_ranks.num(), 4u);
    // plain and id rules at the front, the pattern at the end
    config_parser_c::thread_rank_c* t = config_parser_c::thread_rank_c::from_element(c.thread_ranks.first());
    EXPECT_EQ(t->appl_id(), 7u);
    EXPECT_EQ(t->name, nullptr);
    t = config_parser_c::thread_rank_c::from_element(c.thread_ranks.last());
    EXPECT_STREQ(t->name, "io*");
    EXPECT_TRUE(t->enabled());

    EXPECT_EQ(parse(c, "ThreadByName io off", msg), 0u);
    ASSERT_EQ(c.thread_ranks.num(), 1u);
    t = config_parser_c::thread_rank_c::from_element(c.thread_ranks.first());
    EXPECT_STREQ(t->name, "io");
    EXPECT_FALSE(t->enabled());
    EXPECT_EQ(t->sys_id(), 0u);

    EXPECT_EQ(parse(c, "ThreadResume", msg), 0u);
    EXPECT_EQ(c.thread_ranks.num(), 0u);
    EXPECT_EQ(parse(c, "ThreadByName io off\nThreadResumeAll", msg), 0u);
    EXPECT_EQ(c.thread_ranks.num(), 0u);
}

TEST(ConfigSyntax, ModuleContent)
{
    config_parser_c c;
    std::string msg;
    EXPECT_EQ(parse(c, "ModuleContent net a.cpp *.h A.CPP\nModuleContent net b.c\nModuleContent *x y.cpp", msg), 0u);
    EXPECT_EQ(msg, "");
    ASSERT_EQ(c.module_ranks.num(), 2u);
    config_parser_c::module_rank_s* m = static_cast<config_parser_c::module_rank_s*>(first_rule(c.module_ranks));
    EXPECT_STREQ(m->name, "net");
    ASSERT_EQ(m->content.num(), 3u);
    EXPECT_STREQ(static_cast<char*>(m->content.first()), "b.c");
    EXPECT_STREQ(static_cast<char*>(m->content.next()), "a.cpp");
    EXPECT_STREQ(static_cast<char*>(m->content.next()), "*.h");
    EXPECT_STREQ(config_parser_c::log_rank_list_c::rule_of(c.module_ranks.last())->name, "*x");
}

TEST(ConfigSyntax, OutputRanks)
{
    config_parser_c c;
    std::string msg;
    EXPECT_EQ(parse(c, "PrintToDebugVew Off\nPrintOnScreen error warning", msg), 0u);
    EXPECT_EQ(c.debugger_ranks, 0u);
    EXPECT_EQ(c.screen_ranks, 0xCu);
    EXPECT_EQ(parse(c, "PrintOnScreen +debug", msg), 0u);
    EXPECT_EQ(c.screen_ranks, 0x8Cu);
    EXPECT_EQ(parse(c, "Verbose On -debug", msg), 0u);
    EXPECT_EQ(c.screen_ranks, ~0x80u);
    EXPECT_EQ(parse(c, "PrintOnScreen false\nPrintToDebugVew true ^M", msg), 0u);
    EXPECT_EQ(c.screen_ranks, 0u);
    EXPECT_EQ(c.debugger_ranks, 0xFFFFFFFFu);
    EXPECT_EQ(parse(c, "PrintOnScreen On bogus", msg), 1u);
    EXPECT_EQ(c.screen_ranks, 0u);
}
