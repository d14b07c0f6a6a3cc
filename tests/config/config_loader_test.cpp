// Loading configuration files and texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "common/temp_dir.h"
#include "config/config_parser.h"
#include "kor/mix.h"

class ConfigLoader : public temp_dir_test {};

TEST_F(ConfigLoader, FileWithAndWithoutErrors) {
    const std::string good = path("good.jot"), bad = path("bad.jot");
    write_file(good, "LogFileSize 1000\r\nPrintLine on\r\nbogus x\r\n");
    config_parser_c c, d;
    tr_stream_c messages, m2;
    bool opened = false;
    EXPECT_TRUE(c.load_file(good.c_str(), messages, opened));
    EXPECT_TRUE(opened);
    EXPECT_EQ(c.log_file_size, 1000u);
    EXPECT_TRUE(c.print_line);
    EXPECT_STREQ(messages.c_str(), "Error in config data line \"bogus x\"\n bad keyword \"bogus\" is provided\n");

    write_file(bad, "LogFileSize x\nPrintTime off\nClenAll\n");
    EXPECT_FALSE(d.load_file(bad.c_str(), m2, opened));
    EXPECT_TRUE(opened);
    EXPECT_FALSE(d.print_time);         // the closing count of a file: the configuration page's examples
    write_file(bad, "KeepStack on\n");  // a reload without a path reads the same file again
    EXPECT_TRUE(d.load_file(nullptr, m2, opened));
    EXPECT_TRUE(d.keep_stack);
}

TEST_F(ConfigLoader, UnopenableFiles) {
    // No path: the executable's name with ".jot" in its directory.
    const std::string exe = mix_n::get_exe_name(nullptr);
    const size_t dot = exe.rfind('.');
    const std::string def = std::string(mix_n::get_exe_dir(nullptr)) + "/" + exe.substr(0, dot) + ".jot";
    write_file(path("empty.jot"), "");
    for (const std::string& name : {path("missing.jot"), path("empty.jot"), std::string(), def}) {
        config_parser_c c;
        tr_stream_c messages;
        messages.append("kept ");
        bool opened = true;
        EXPECT_FALSE(c.load_file(name == def ? nullptr : name.c_str(), messages, opened));
        EXPECT_FALSE(opened);
        EXPECT_EQ(std::string(messages.c_str()), "kept Unable to open katrace configuration file " + name + "\r\n");
        EXPECT_STREQ(name == def ? c.config_file_name : def.c_str(), def.c_str());
    }
}

TEST(ConfigText, ParseText) {
    config_parser_c c;
    tr_stream_c messages;
    EXPECT_FALSE(c.parse_text("", messages));
    EXPECT_STREQ(messages.c_str(), "");
    EXPECT_FALSE(c.parse_text("LogFileSize x", messages));
    EXPECT_STREQ(messages.c_str(),
                 "Error in config data line \"LogFileSize x\"\n\t no valid log_file_size is provided\n"
                 "Incomplete result. 1 error is found during parsing of output string \"LogFileSize x\"\r\n");
    EXPECT_TRUE(c.parse_text("PrintFile on", messages));
    EXPECT_TRUE(c.print_file);
}

// A file rewritten in place (truncated, then written short or long) while it
// is loaded again and again: every load sees some text and ends cleanly.
TEST_F(ConfigLoader, FileRewrittenWhileItIsRead) {
    const std::string name = path("moving.jot");
    const std::string long_text = std::string(1 << 20, '#') + "\nLogFileSize 77\n", short_text = "LogFileSize 5\n";
    write_file(name, long_text);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i) {
            std::ofstream f(name, std::ios::binary | std::ios::trunc);  // may fail on Windows while mapped
            f << (i % 2 ? long_text : short_text);
        }
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    int loads = 0;
    while (std::chrono::steady_clock::now() < until) {
        config_parser_c c;
        tr_stream_c messages;
        bool opened = false;
        c.load_file(name.c_str(), messages, opened);
        EXPECT_TRUE(c.log_file_size == 77u || c.log_file_size == 5u || c.log_file_size == config_parser_c().log_file_size);
        ++loads;
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(loads, 0);
}
