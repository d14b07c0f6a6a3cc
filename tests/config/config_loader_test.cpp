// Loading configuration files and texts.
#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "config/config_parser.h"
#include "kor/mix.h"

class ConfigLoader : public temp_dir_test {};

TEST_F(ConfigLoader, FileWithAndWithoutErrors)
{
    std::string good = path("good.jot");
    write_file(good, "LogFileSize 1000\r\nPrintLine on\r\nbogus x\r\n");
    config_parser_c c;
    tr_stream_c messages;
    bool opened = false;
    EXPECT_TRUE(c.load_file(good.c_str(), messages, opened));
    EXPECT_TRUE(opened);
    EXPECT_EQ(c.log_file_size, 1000u);
    EXPECT_TRUE(c.print_line);
    EXPECT_STREQ(c.config_file_name, good.c_str());
    EXPECT_STREQ(messages.c_str(), "Error in config data line \"bogus x\"\n bad keyword \"bogus\" is provided\n");

    std::string bad = path("bad.jot");
    write_file(bad, "LogFileSize x\nPrintTime off\nClenAll\n");
    config_parser_c d;
    tr_stream_c m2;
    EXPECT_FALSE(d.load_file(bad.c_str(), m2, opened));
    EXPECT_TRUE(opened);
    EXPECT_FALSE(d.print_time);
    std::string text = m2.c_str();
    std::string summary = "Incomplete result. 2 errors are found during parsing of katrace config file " + bad + "\r\n";
    ASSERT_GE(text.size(), summary.size());
    EXPECT_EQ(text.substr(text.size() - summary.size()), summary);

    // a reload without a path reads the same file again
    write_file(bad, "KeepStack on\n");
    EXPECT_TRUE(d.load_file(nullptr, m2, opened));
    EXPECT_TRUE(d.keep_stack);
}

TEST_F(ConfigLoader, UnopenableFiles)
{
    std::string missing = path("missing.jot");
    std::string empty = path("empty.jot");
    write_file(empty, "");
    for (const std::string& name : {missing, empty}) {
        config_parser_c c;
        tr_stream_c messages;
        messages.append("kept ");
        bool opened = true;
        EXPECT_FALSE(c.load_file(name.c_str(), messages, opened));
        EXPECT_FALSE(opened);
        EXPECT_EQ(std::string(messages.c_str()), "kept Unable to open katrace configuration file " + name + "\r\n");
    }
    config_parser_c c;
    tr_stream_c messages;
    bool opened = true;
    EXPECT_FALSE(c.load_file("", messages, opened));
    EXPECT_STREQ(messages.c_str(), "Unable to open katrace configuration file \r\n");
}

TEST_F(ConfigLoader, PageSizedFile)
{
    // sizes that fill whole pages (4 KiB and 64 KiB pages) end without a NUL of their own
    for (size_t size : {size_t(4096), size_t(65536)}) {
        std::string text = "PrintFile on\n";
        std::string last = "LogFileSize 77";
        text += std::string(size - text.size() - last.size() - 1, '#');
        text += "\n" + last;
        ASSERT_EQ(text.size(), size);
        std::string name = path("page.jot");
        write_file(name, text);
        config_parser_c c;
        tr_stream_c messages;
        bool opened = false;
        EXPECT_TRUE(c.load_file(name.c_str(), messages, opened)) << messages.c_str();
        EXPECT_TRUE(c.print_file);
        EXPECT_EQ(c.log_file_size, 77u);
    }
}

TEST_F(ConfigLoader, DefaultFileName)
{
    config_parser_c c;
    tr_stream_c messages;
    bool opened = true;
    EXPECT_FALSE(c.load_file(nullptr, messages, opened));
    ASSERT_NE(c.config_file_name, nullptr);
    std::string exe = mix_n::get_exe_name(nullptr);
    size_t dot = exe.rfind('.');
    std::string expected = std::string(mix_n::get_exe_dir(nullptr)) + "/" +
                           (dot == std::string::npos ? exe + ".jot" : exe.substr(0, dot) + ".jot");
    EXPECT_EQ(std::string(c.config_file_name), expected);
    EXPECT_EQ(std::string(messages.c_str()), "Unable to open katrace configuration file " + expected + "\r\n");
}

TEST(ConfigText, ParseText)
{
    config_parser_c c;
    tr_stream_c messages;
    EXPECT_FALSE(c.parse_text(nullptr, messages));
    EXPECT_FALSE(c.parse_text("", messages));
    EXPECT_STREQ(messages.c_str(), "");
    EXPECT_FALSE(c.parse_text("LogFileSize x", messages));
    EXPECT_STREQ(messages.c_str(),
                 "Error in config data line \"LogFileSize x\"\n\t no valid log_file_size is provided\n"
                 "Incomplete result. 1 error is found during parsing of output string \"LogFileSize x\"\r\n");
    EXPECT_TRUE(c.parse_text("PrintFile on", messages));
    EXPECT_TRUE(c.print_file);
    EXPECT_EQ(c.config_file_name, nullptr);
}
