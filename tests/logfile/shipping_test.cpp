// Logs for collectors that follow files by name: stable names with a link to
// the newest file, restarts and directories left by the other naming, the
// retention grace and its bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "logfile/logger.h"

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

#if defined(_WIN32)
const bool LINKS = false;
const bool ON_WINDOWS = true;
#else
const bool ON_WINDOWS = false;
const bool LINKS = true;
#endif

class Shipping : public temp_dir_test {
protected:
    // A logger for dir()/host[_pid].log opened as a configuration load does.
    void start(logger_c& l, bool stable, unsigned keep, unsigned grace = 0, bool with_pid = false) {
        config_parser_c cfg;
        cfg.log_directory.append(dir().c_str());
        cfg.log_naming_stable = stable, cfg.log_files_to_keep = keep, cfg.log_retention_grace = grace;
        cfg.log_file_size = 200, cfg.add_pid_to_log_filename = with_pid;
        tr_stream_c err;
        l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, "host", SCAN_DIRECTORY);
        EXPECT_EQ(std::string(err.c_str()), "");
    }
    // Writes lines "<tag><i>" until n rotations have happened.
    void rotate(logger_c& l, unsigned n, const std::string& tag = "line") {
        for (unsigned start = l.file_number, i = 0; l.file_number < start + n; ++i) {
            const std::string line = tag + std::to_string(i) + std::string(60, '.') + "\r\n";
            l.write(line.data(), line.size(), nullptr, 0);
        }
    }
    // Directory entries (links included), sorted.
    strings entries() const {
        strings v;
        for (auto& e : fs::directory_iterator(fs::u8path(dir()))) v.push_back(e.path().filename().u8string());
        std::sort(v.begin(), v.end());
        return v;
    }
    std::string link_target(const std::string& name) const {
        std::error_code ec;
        fs::path p = fs::read_symlink(fs::u8path(path(name)), ec);
        return ec ? "<no link>" : p.u8string();
    }
    void age(const std::string& name, int seconds) {
        fs::last_write_time(fs::u8path(path(name)), fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
    }
    std::string all_text() const {
        std::string all;
        for (auto& e : fs::directory_iterator(fs::u8path(dir())))
            if (!fs::is_symlink(e.symlink_status())) all += read_file(e.path().u8string());
        return all;
    }
};

}  // namespace

// Files are born numbered and never renamed; the link follows the newest;
// retention keeps the numbered files as it keeps rotated ones; a restart
// (also with the pid in the name) goes on above the highest number.
TEST_F(Shipping, StableNamesLinkRetentionAndRestart) {
    {
        logger_c l;
        start(l, true, 2);
        EXPECT_EQ(l.file_number, 1u);
        EXPECT_EQ(std::string(l.continued.c_str()), path("host.log.1"));
        const std::string first = read_file(path("host.log.1"));
        EXPECT_EQ(first.compare(0, 3, "\xEF\xBB\xBF"), 0);
        EXPECT_NE(first.find(" JOT Log File #1, Version = "), std::string::npos);
        rotate(l, 4);
        // host.log.1 and .2 went by count; .3 and .4 stay beside the newest, .5.
        const strings numbered = {"host.log.3", "host.log.4", "host.log.5"};
        strings expect = numbered;
        if (LINKS) expect.insert(expect.begin(), "host.log");
        EXPECT_EQ(entries(), expect);
        EXPECT_EQ(link_target("host.log"), LINKS ? "host.log.5" : "<no link>");
        EXPECT_NE(read_file(path("host.log.3")).find("#3, Version"), std::string::npos);
        EXPECT_NE(read_file(path("host.log.3")).find("line"), std::string::npos);  // written under its final name
    }
    logger_c again;
    start(again, true, 2);
    EXPECT_EQ(again.file_number, 6u);  // never reused
    EXPECT_EQ(link_target("host.log"), LINKS ? "host.log.6" : "<no link>");
    again.write("x\r\n", 3, nullptr, 0);
    EXPECT_EQ(entries().size(), LINKS ? 4u : 3u);  // .4 .5 kept, .6 written, the link

    logger_c with_pid;
    start(with_pid, true, 2, 0, true);
    const std::string own = "host_" + std::to_string(with_pid.pid) + ".log";
    EXPECT_EQ(std::string(with_pid.continued.c_str()), path(own + ".7"));
    EXPECT_EQ(link_target(own), LINKS ? own + ".7" : "<no link>");
}

// A directory left by one naming, taken over by the other: no line is lost,
// and a stable run's numbered files are never renamed. (A link someone else
// made at the name: the log file test of planted entries.)
TEST_F(Shipping, MixedNamingDirectories) {
    {
        logger_c stable;
        start(stable, true, 10);
        rotate(stable, 2, "stable");
    }
    const std::string stable_text = all_text();
    {
        logger_c renamed;
        start(renamed, false, 10);
        // The link is gone (on POSIX), host.log is a regular file again.
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(fs::u8path(path("host.log")))));
        for (const char* n : {"host.log.1", "host.log.2", "host.log.3"})
            EXPECT_TRUE(fs::exists(fs::u8path(path(n)))) << n;
        rotate(renamed, 1, "renamed");
        EXPECT_TRUE(fs::exists(fs::u8path(path("host.log.4"))));
        EXPECT_NE(all_text().find(stable_text.substr(stable_text.size() - 40)), std::string::npos);
    }
    const size_t before = entries().size();
    const std::string renamed_text = read_file(path("host.log"));
    {
        logger_c stable;
        start(stable, true, 10);
        // The renamed run's current file went to the next number, the new
        // file above it.
        EXPECT_EQ(read_file(path("host.log.5")), renamed_text);
        EXPECT_EQ(std::string(stable.continued.c_str()), path("host.log.6"));
        EXPECT_EQ(link_target("host.log"), LINKS ? "host.log.6" : "<no link>");
        EXPECT_EQ(entries().size(), before + (LINKS ? 2u : 1u));  // .6 and the link
    }
}

// Young rotated files outlive the count, up to four times the count; the
// bound's deletions are said in the log; old ones go at the next rotation.
TEST_F(Shipping, RetentionGraceAndItsBound) {
    for (bool stable : {false, true}) {
        SCOPED_TRACE(stable);
        for (auto& e : fs::directory_iterator(fs::u8path(dir()))) fs::remove(e.path());
        logger_c l;
        start(l, stable, 1, 3600);
        rotate(l, 3);
        EXPECT_EQ(l.rotated_files.num(), 3u);  // all young: all kept
        rotate(l, 3);
        EXPECT_EQ(l.rotated_files.num(), 4u);  // the bound: 4 x 1
        EXPECT_NE(all_text().find("katrace: 1 rotated log files deleted inside their retention grace: more than 4 files"),
                  std::string::npos);
        // Age every rotated file past the grace: the next rotation keeps one.
        for (void* p = l.rotated_files.first(); p; p = l.rotated_files.next())
            age(fs::u8path(static_cast<const char*>(p)).filename().u8string(), 7200);
        rotate(l, 1);
        EXPECT_EQ(l.rotated_files.num(), 1u);
    }
}

// Renamed names: with the exchange the current name exists whenever a file
// is opened during a rotation (Linux); without it the new file is opened
// where the name is missing. Either way the files get the same names,
// numbers and lines.
namespace {
std::string g_current;
std::atomic<unsigned> g_missing{0};
plat_fault_e count_missing(plat_call_e, size_t*) {
    if (plat_entry_kind(g_current.c_str()) == PLAT_ENTRY_NONE) ++g_missing;
    return PLAT_FAULT_NONE;
}
}  // namespace

TEST_F(Shipping, RenameRotationKeepsTheCurrentName) {
    strings result[2];
    g_current = path("host.log");
    for (bool exchange : {true, false}) {
        for (auto& e : fs::directory_iterator(fs::u8path(dir()))) fs::remove(e.path());
        logger_c l;
        l.exchange_ok = exchange;
        start(l, false, 100);
        g_missing = 0;
        plat_set_fault_hook(PLAT_CALL_OPEN, &count_missing);
        rotate(l, 5);
        plat_set_fault_hook(PLAT_CALL_OPEN, nullptr);
        EXPECT_EQ(g_missing.load(), exchange && !ON_WINDOWS ? 0u : 5u);
        for (const std::string& name : entries()) {
            const std::string text = read_file(path(name));
            const size_t banner = text.find(" JOT Log File #"), line = text.find("line");
            result[exchange].push_back(name + text.substr(banner, 18) +
                                       (line == std::string::npos ? "" : text.substr(line, 6)));
        }
    }
    EXPECT_EQ(result[0], result[1]);

    // A file exchanged out of the name whose process ended before its move
    // is adopted by the next scan with the next number.
    for (auto& e : fs::directory_iterator(fs::u8path(dir()))) fs::remove(e.path());
    write_file(path("host.log.3"), "three");
    write_file(path(".host.log.77.next"), "left");
    write_file(path(".host_5.log.77.next"), "left with pid");
    write_file(path(".other.log.77.next"), "not ours");
    logger_c l;
    start(l, false, 100);
    EXPECT_EQ(read_file(path("host.log.4")) + read_file(path("host.log.5")), "left");  // in listing order
    EXPECT_EQ(read_file(path("host_5.log.4")) + read_file(path("host_5.log.5")), "left with pid");
    EXPECT_EQ(l.file_number, 5u);
    EXPECT_TRUE(fs::exists(fs::u8path(path(".other.log.77.next"))));
}
