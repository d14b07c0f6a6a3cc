// Configuration reloads: file loads into a fresh object, text parses into
// the live one, the reload banner and the new log file of every load.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_dir.h"
#include "config/config_parser.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "manager/manager_test.h"

namespace {

class ReloadTest : public temp_dir_test {
protected:
    static std::string exe_stem() {
        std::string name = mix_n::get_exe_name(nullptr);
        return name.substr(0, name.find('.'));
    }
    static bool contains(const std::string& text, const std::string& piece) {
        return text.find(piece) != std::string::npos;
    }
};

TEST_F(ReloadTest, MissingFileChangesNothing) {
    trace_manager_c m;
    config_parser_c* before = m.config;
    tr_stream_c msgs;
    EXPECT_FALSE(m.reparse_file(path("absent.jot").c_str(), dir().c_str(), msgs));
    EXPECT_TRUE(contains(msgs.c_str(), "Unable to open katrace configuration file")) << msgs.c_str();
    EXPECT_EQ(0u, m.generation.load());
    EXPECT_EQ(before, m.config);
    EXPECT_FALSE(m.logger->opened);
}

TEST_F(ReloadTest, FileWithBadLineIsInstalledAndEveryLoadStartsANewFile) {
    trace_manager_c m;
    const std::string cfg = path("host.jot");
    const std::string logs = path("logs");
    const std::string arg_dir = path("arg");
    write_file(cfg, "LogDirectoryName " + logs + "\nKeepStack on\nClenAll\n");

    tr_stream_c msgs;
    EXPECT_FALSE(m.reparse_file(cfg.c_str(), arg_dir.c_str(), msgs));
    EXPECT_TRUE(contains(msgs.c_str(), "Incomplete result. 1 error is found")) << msgs.c_str();
    EXPECT_EQ(1u, m.generation.load());
    EXPECT_TRUE(m.keep_stack.load());
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::u8path(arg_dir)));
    // The configuration's directory wins over the argument.
    const std::string log = logs + "/" + exe_stem() + ".log";
    EXPECT_EQ(log, m.logger->file_name.c_str());
    std::string content = read_file(log);
    EXPECT_TRUE(contains(content, " JOT Trace config file \"" + cfg + "\" is tobe reparsed, Log directory is " +
                                      arg_dir + ":\n(tls_index="))
        << content;
    EXPECT_TRUE(contains(content, "# Config filename \"" + cfg + "\""));

    // A second load rotates the first file away and writes a new banner.
    tr_stream_c msgs2;
    EXPECT_FALSE(m.reparse_file(cfg.c_str(), nullptr, msgs2));
    EXPECT_EQ(2u, m.generation.load());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(log + ".1")));
    content = read_file(log);
    EXPECT_TRUE(contains(content, "\" is tobe reparsed:\n(tls_index=")) << content;

    // A text parse changes the live object in place, also an empty one.
    config_parser_c* live = m.config;
    tr_stream_c msgs3;
    EXPECT_FALSE(m.parse_buffer("", msgs3));
    EXPECT_EQ(3u, m.generation.load());
    EXPECT_TRUE(m.parse_buffer("KeepStack off\nPrintLine on\n", msgs3)) << msgs3.c_str();
    EXPECT_EQ(live, m.config);
    EXPECT_FALSE(m.keep_stack.load());
    EXPECT_TRUE(m.print_line.load());
    EXPECT_EQ(4u, m.generation.load());

    tr_stream_c report;
    m.config_content(report);
    EXPECT_TRUE(contains(report.c_str(), "# Config filename \"" + cfg + "\"")) << report.c_str();
}

// The banner marks installed configurations only, and reaches standard
// output as the newly installed settings say.
TEST_F(ReloadTest, BannerFollowsTheNewSettings) {
    trace_manager_c m;
    const std::string cfg = path("v.jot");
    write_file(cfg, "LogDirectoryName " + path("logs") + "\nVerbose on\n");
    tr_stream_c msgs;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(m.reparse_file(cfg.c_str(), nullptr, msgs)) << msgs.c_str();
    const std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(shown, " JOT Trace config file \"" + cfg + "\" is tobe reparsed:\n(tls_index=")) << shown;
    EXPECT_TRUE(contains(shown, ")\n# Config filename \"" + cfg + "\"")) << shown;

    // Neither a file that cannot be opened nor a text parse writes a banner.
    const std::string log = m.logger->file_name.c_str();
    const std::string before = read_file(log);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(m.reparse_file(path("absent.jot").c_str(), nullptr, msgs));
    EXPECT_TRUE(m.parse_buffer("Verbose off\n", msgs)) << msgs.c_str();
    write_file(cfg, "LogDirectoryName " + path("logs") + "\n");
    EXPECT_TRUE(m.reparse_file(cfg.c_str(), nullptr, msgs)) << msgs.c_str();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(before, read_file(log + ".1"));
    EXPECT_EQ(3u, m.generation.load());
}

TEST_F(ReloadTest, DefaultFileAndDirectoryArgument) {
    const std::string jot = std::string(mix_n::get_exe_dir(nullptr)) + "/" + exe_stem() + ".jot";
    write_file(jot, "PrintFile on\n");
    trace_manager_c m;
    const std::string d = path("d");
    tr_stream_c msgs;
    const bool loaded = m.reparse_file(nullptr, d.c_str(), msgs);
    std::filesystem::remove(std::filesystem::u8path(jot));
    EXPECT_TRUE(loaded) << msgs.c_str();
    EXPECT_TRUE(m.print_file.load());
    const std::string content = read_file(d + "/" + exe_stem() + ".log");
    EXPECT_TRUE(contains(content, " JOT Default Trace config file exe_dir/exe_name.jot is tobe reparsed, Log directory is " +
                                      d + ":\n(tls_index=" + std::to_string(m.tls_index) + ")\n"))
        << content;
}

}  // namespace
