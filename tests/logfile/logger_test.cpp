// The log file writer: mark and banner, writes, rotation, failing disks, naming,
// adoption of earlier files, retention; the path texts (the same on every build).
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

#include "common/fault.h"
#include "common/planted.h"
#include "common/temp_dir.h"
#include "logfile/logger.h"  // with the configuration, string lists and the platform layer
#include "logfile/path_ops.h"

#if defined(__linux__)
#  include <sys/resource.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

const std::string BOM = "\xEF\xBB\xBF";
#if defined(_WIN32)
const bool ON_WINDOWS = true;
#else
const bool ON_WINDOWS = false;
#endif

std::string banner_tail(unsigned n) {
    return " JOT Log File #" + std::to_string(n) + ", Version = " + std::to_string(KATR_VERSION_MAJOR) + "." +
           std::to_string(KATR_VERSION_MINOR) + "." + std::to_string(KATR_VERSION_RELEASE) + "." +
           std::to_string(KATR_VERSION_BUILD) + "\r\n";
}
bool ends_with(const std::string& s, const std::string& t) { return s.size() >= t.size() && s.substr(s.size() - t.size()) == t; }
std::string str(const tr_stream_c& s) { return s.c_str(); }
std::string backslashed(std::string s) {
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}
strings list_of(str_list_c& list) {
    strings v;
    for (void* p = list.first(); p; p = list.next()) v.push_back(static_cast<const char*>(p));
    return v;
}
std::string norm(const char* s) {
    char out[LOG_PATH_SIZE] = "x";
    return normalize_path(s, out) ? std::string(out) : "<refused:" + std::string(out) + ">";
}
// The form the platform layer hands to a Windows system: the canonical path, extended.
std::string long_form(const char* s) {
    char canonical[LOG_PATH_SIZE] = "x", out[LOG_PATH_SIZE] = "x";
    if (!normalize_path(s, canonical)) return "<refused:" + std::string(canonical) + ">";
    bool ok = plat_long_path(canonical, out, sizeof out);
    return ok ? std::string(out) : "<refused:" + std::string(out) + ">";
}

class LogFile : public temp_dir_test {
protected:
    std::string d() const { return dir() + "/"; }
    bool exists(const std::string& name) const { return path_exists(path(name).c_str()); }
    void touch(std::initializer_list<const char*> names) {
        for (const char* n : names) write_file(path(n), n);
    }
    strings files(const std::string& sub = "") const {
        strings v;
        for (auto& e : fs::directory_iterator(fs::u8path(dir() + sub))) v.push_back(e.path().filename().u8string());
        std::sort(v.begin(), v.end());
        return v;
    }
    // A logger for dir()/<sub>host.log; with a configuration it is opened as a load does.
    void setup(logger_c& l, unsigned long long limit, const std::string& sub = "") {
        l.directory.append((d() + sub).c_str());
        std::snprintf(l.module_name, sizeof l.module_name, "host");
        l.max_file_size = limit, l.files_to_keep = 10;
        l.make_file_name();
    }
    void setup(logger_c& l, config_parser_c& cfg, tr_stream_c& err, const std::string& sub = "") {
        cfg.log_directory.append((dir() + sub).c_str());
        l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, "host", SCAN_DIRECTORY);
    }
    // Writes a line that reaches the limit exactly: one size rotation.
    static void rotate(logger_c& l, const std::string& line) {
        l.max_file_size = l.bytes_written + line.size();
        l.write(line.data(), static_cast<unsigned>(line.size()), nullptr, 0);
    }
};

}  // namespace

TEST_F(LogFile, OpenWriteAndRotateAtTheLimit) {
    logger_c l;
    setup(l, 1u << 20);
    write_file(path("host.log"), "old\n");
    tr_stream_c err;
    l.open_file(&err);
    EXPECT_EQ(str(err), "");
    EXPECT_EQ(l.rotated_files.num(), 0u);  // the first open never rotates
    const std::string content = read_file(path("host.log"));
    EXPECT_EQ(content.compare(0, 7, "old\n" + BOM), 0);
    EXPECT_TRUE(ends_with(content, banner_tail(0))) << content;
    EXPECT_EQ(l.bytes_written, content.size() - 3);        // the content found counts, the mark does not
    l.write("pre|", 4, "body\r\n", 6);                     // null pieces count as empty; nothing is held back
    l.write(nullptr, 5, "x\r\n", 3), l.write("y\r\n", 3, nullptr, 9);
    EXPECT_EQ(read_file(path("host.log")), content + "pre|body\r\nx\r\ny\r\n");
    EXPECT_EQ(l.bytes_written, content.size() - 3 + 16);
    const std::string first = read_file(path("host.log")), line = std::string(18, 'a') + "\r\n";
    l.max_file_size = l.bytes_written + 30;  // 20 bytes stay, 20 more rotate
    l.write(line.data(), 10, line.data() + 10, 10);
    EXPECT_FALSE(exists("host.log.1"));
    l.write_piece = 7;  // a text longer than a piece: every piece, then one rotation
    l.write(line.data(), 20, nullptr, 0);
    l.write_piece = LOG_WRITE_PIECE;
    EXPECT_EQ(read_file(path("host.log.1")), first + line + line);
    EXPECT_TRUE(ends_with(read_file(path("host.log")), banner_tail(1)));
    // A file found with no room below the limit is left as it is: the log
    // goes on in the first free numbered file.
    logger_c full;
    setup(full, 100, "full/");
    fs::create_directory(fs::u8path(path("full")));
    write_file(path("full/host.log"), std::string(100, 'f'));
    full.open_file(nullptr);
    EXPECT_EQ(str(full.continued), path("full/host.log.1"));
    EXPECT_EQ(read_file(path("full/host.log")), std::string(100, 'f'));
}

// An open that fails (too many open files): the message goes to the caller's
// text or, once per failure episode, to the standard error stream; the next
// line a second later opens the file.
TEST_F(LogFile, OpenFailuresAreReportedOnceAndRetried) {
    logger_c l, quiet;
    setup(l, 1u << 20), setup(quiet, 1u << 20);
    const std::string code = std::to_string(ERR_TOO_MANY_FILES);
    tr_stream_c err;
    testing::internal::CaptureStderr();
    {
        fault_c emfile(PLAT_CALL_OPEN, PLAT_FAULT_TOO_MANY_FILES);
        l.open_file(&err);
        quiet.open_file(nullptr), quiet.open_file(nullptr);
        l.write("dropped\r\n", 9, nullptr, 0);
    }
    l.write("early\r\n", 7, nullptr, 0);  // less than a second after the failure
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(str(err), "Unable to open logfile " + path("host.log") + ", err=" + code + "\r\n");
    EXPECT_EQ(out, "Unable to open logfile " + path("host.log") + "! Error code=" + code + "\n");
    EXPECT_EQ(l.file, PLAT_NO_FILE);
    EXPECT_FALSE(l.opened);
    plat_sleep_ms(logger_c::REOPEN_DELAY_MS + 100);
    l.write("line\r\n", 6, nullptr, 0);
    EXPECT_TRUE(ends_with(read_file(path("host.log")), banner_tail(0) + "line\r\n"));
}

// A full disk: a banner that cannot be written is reported to the caller; a
// line that meets it in its middle keeps what was written and closes the
// file, and later lines are lost quietly. (The one message on standard error
// and the reopen a second later: the front end's full-disk test.)
TEST_F(LogFile, FullDiskClosesTheLog) {
    logger_c b;
    setup(b, 1u << 20, "b_");
    tr_stream_c err;
    {
        fault_c full(PLAT_CALL_WRITE, PLAT_FAULT_NO_SPACE);
        b.open_file(&err);
    }
    EXPECT_EQ(str(err), "Unable to write to file " + d() + "b_host.log! Error code= " + std::to_string(ERR_NO_SPACE) + "\r\n");
    EXPECT_EQ(b.file, PLAT_NO_FILE);
    EXPECT_TRUE(b.opened);

    logger_c l;
    setup(l, 1u << 20);
    l.open_file(nullptr);
    l.write("kept|", 5, "line\r\n", 6);
    const std::string before = read_file(path("host.log"));
    const unsigned counted = l.bytes_written;
    testing::internal::CaptureStderr();
    {
        fault_c full(PLAT_CALL_WRITE, PLAT_FAULT_NO_SPACE, -1, 1, 4);  // 4 bytes, then no space
        l.write("lost|", 5, "line\r\n", 6);
        l.write("dropped\r\n", 9, nullptr, 0);
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(l.file, PLAT_NO_FILE);
    EXPECT_EQ(l.bytes_written, counted);
    EXPECT_EQ(read_file(path("host.log")), before + "lost");
}

// A rotation whose move fails says nothing: the lines before it stay in the
// file, which keeps its name, and the log goes on in the next numbered file
// (new banner, later lines), so that no file passes the limit.
TEST_F(LogFile, FailedRenameDuringRotationKeepsTheFile) {
    logger_c l;
    setup(l, 1u << 20);
    l.open_file(nullptr);
    l.write("a\r\n", 3, nullptr, 0);
    testing::internal::CaptureStderr();
    {
        fault_c denied(PLAT_CALL_RENAME, PLAT_FAULT_ACCESS_DENIED);
        rotate(l, "b\r\n");
        EXPECT_GE(denied.calls(), 1);
    }
    l.write("c\r\n", 3, nullptr, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const std::string content = read_file(path("host.log"));
    EXPECT_TRUE(ends_with(content, "a\r\nb\r\n")) << content;
    EXPECT_EQ(files(), (strings{"host.log", "host.log.2"}));  // .1 was the refused number
    const std::string next = read_file(path("host.log.2"));
    EXPECT_EQ(next.compare(0, 3, BOM), 0) << next;
    EXPECT_TRUE(ends_with(next, "c\r\n")) << next;
}

TEST_F(LogFile, ScanAdoptsFilesOfEarlierRunsAndRetentionRemovesTheOldest) {
    // None of the foreign names is ours (a name ending in '.' cannot exist on Windows).
    strings foreign = {"host.log.2x", "host.log.2.bak", "other.log.5", "host_1.txt", "host.log.-1", "host.log. 7",
                       "host_x.log", "host.log.99999999999", "HOST.log.8", "host.log.4.log"};
#if !defined(_WIN32)
    foreign.push_back("host.log.");
#endif
    touch({"host.log", "host.log.1", "host.log.3", "host_77.log.2"});
    for (const std::string& n : foreign) write_file(path(n), n);
    // (Entries that are not regular files: the test of planted entries.)
    logger_c l, m;
    l.files_to_keep = m.files_to_keep = 10;
    EXPECT_TRUE(l.set_directory(dir().c_str(), "host", false));
    EXPECT_EQ(list_of(l.rotated_files),
              (strings{d() + "host.log.4", d() + "host.log.3", d() + "host_77.log.2", d() + "host.log.1"}));
    EXPECT_EQ(read_file(path("host.log.4")), "host.log");  // the current file moved past the highest number
    EXPECT_FALSE(exists("host.log"));
    for (const std::string& n : foreign) EXPECT_TRUE(exists(n)) << n;
    l.file_number = 9;  // the same directory in another form is counted once; the number never goes down
    EXPECT_TRUE(l.set_directory(backslashed(dir()).c_str(), nullptr, false));
    EXPECT_EQ(l.rotated_files.num(), 4u);
    EXPECT_EQ(l.file_number, 9u);
    l.files_to_keep = 2, l.apply_retention();
    EXPECT_EQ(l.rotated_files.num(), 2u);
    EXPECT_TRUE(exists("host.log.4") && exists("host.log.3"));
    EXPECT_FALSE(exists("host.log.1") || exists("host_77.log.2"));
    touch({"a%u.log.1", "a5.log.2", "a%u_3.log"});  // the module name is taken literally, not as a format
    m.set_directory(dir().c_str(), "a%u", false);
    EXPECT_EQ(list_of(m.rotated_files), (strings{d() + "a%u_3.log.2", d() + "a%u.log.1"}));
}

TEST_F(LogFile, CurrentFilesOfOtherProcessesAndNames) {
    logger_c a, b;
    touch({"host_1.log", "host_2.log"});  // the first met is rotated, the other deleted
    a.set_directory(dir().c_str(), "host", false);
    const strings left = files();
    EXPECT_TRUE(left == strings{"host_1.log.1"} || left == strings{"host_2.log.1"}) << left.size();
    fs::remove(fs::u8path(path(left[0])));
    touch({"host_1.log", "host.log", "host_2.log"});  // the file without a process id wins
    b.set_directory(dir().c_str(), "host", false);
    EXPECT_EQ(files(), strings{"host.log.1"});
    EXPECT_EQ(read_file(path("host.log.1")), "host.log");
    // (The same directory again, a new name, a new directory: the
    // reconfiguration test, by the files it opens.)
}

TEST_F(LogFile, ReconfigureAndSetLogDirectory) {
    config_parser_c cfg, empty;
    logger_c l, f;
    tr_stream_c err, e1;
    cfg.log_files_to_keep = 3;
    setup(l, cfg, err, "/first/");
    EXPECT_EQ(str(l.file_name), path("first/host.log"));
    l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, nullptr, SCAN_DIRECTORY);      // a load starts a new file, a parse
    l.reconfigure(cfg, &err, OPEN_WHEN_MOVED, nullptr, nullptr, SCAN_DIRECTORY);  // changing nothing opens nothing
    EXPECT_EQ(l.file_number, 1u);
    // The text without its trailing '/' names the same directory: a parse
    // changes nothing, a load rotates once and, with none kept, deletes every
    // rotated file. (Retention by count: the scan and shipping tests.)
    cfg.log_directory.truncate(cfg.log_directory.length - 1);
    l.reconfigure(cfg, &err, OPEN_WHEN_MOVED, nullptr, nullptr, SCAN_DIRECTORY);
    EXPECT_EQ(l.file_number, 1u);
    cfg.log_files_to_keep = 0;
    l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, nullptr, SCAN_DIRECTORY);
    EXPECT_EQ(l.file_number, 2u);
    EXPECT_EQ(l.rotated_files.num(), 0u);
    EXPECT_EQ(files(), strings{"first"});
    EXPECT_EQ(files("/first"), strings{"host.log"});
    cfg.log_files_to_keep = 3;
    f.reconfigure(empty, &err, OPEN_WHEN_MOVED, path("fallback").c_str(), "host", SKIP_SCAN);  // only without a directory
    EXPECT_EQ(str(f.directory), path("fallback") + "/");
    EXPECT_FALSE(f.opened);

    EXPECT_FALSE(l.set_log_directory(cfg, path("first/host.log/x").c_str(), &e1, nullptr, SCAN_DIRECTORY));
    EXPECT_EQ(str(e1), "Unable to create directory " + path("first/host.log/x"));
    // A relative path is refused (which paths are full by which rules: the path text test).
    tr_stream_c e2;
    EXPECT_FALSE(l.set_log_directory(cfg, "logs/x", &e2, nullptr, SCAN_DIRECTORY));
    EXPECT_EQ(str(e2), "Error! \"logs/x\" is not full path");
    EXPECT_EQ(str(cfg.log_directory), path("first"));
    // Canonical in the configuration, '/'-ended in the logger; the same text
    // again changes nothing, a new name with it moves to that name.
    const std::string second = dir() + "/second/./deep//";
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, nullptr, SCAN_DIRECTORY));
    EXPECT_TRUE(exists("first/host.log.3"));
    EXPECT_EQ(str(cfg.log_directory), path("second/deep"));
    EXPECT_EQ(str(l.directory), path("second/deep") + "/");
    EXPECT_NE(read_file(path("second/deep/host.log")).find("#4"), std::string::npos);
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, nullptr, SCAN_DIRECTORY));
    EXPECT_EQ(l.file_number, 4u);
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, "named", SCAN_DIRECTORY));
    EXPECT_TRUE(exists("second/deep/host.log.5"));
    EXPECT_NE(l.file, PLAT_NO_FILE);
    EXPECT_EQ(str(l.file_name), path("second/deep/named.log"));
    EXPECT_EQ(str(err), "");
}

// A new process id (after fork) moves a name with an id to a fresh file.
TEST_F(LogFile, ProcessIdChange) {
    config_parser_c cfg;
    logger_c l;
    tr_stream_c err;
    l.change_pid(10);  // nothing open: only the id changes
    setup(l, cfg, err, "/pid/");
    l.change_pid(12), l.change_pid(10);  // the name has no id: no new file
    EXPECT_EQ(l.file_number, 0u);
    l.set_add_pid(cfg, true, &err);
    l.write("ten\r\n", 5, nullptr, 0);
    const unsigned number = l.file_number;
    l.change_pid(10);  // same id: nothing; a new one rotates the old file, then open_file's
    l.change_pid(11);
    EXPECT_EQ(l.file_number, number + 2);
    EXPECT_TRUE(ends_with(read_file(path("pid/host_10.log." + std::to_string(number + 1))), "ten\r\n"));
    EXPECT_FALSE(exists("pid/host_10.log"));
    EXPECT_TRUE(exists("pid/host_11.log"));
    EXPECT_EQ(str(err), "");
}

// The directory is often shared: what someone else put at a name the writer
// wants is left alone and reported once, a link is never followed, nothing
// blocks. Without its file the log goes on without one; a rotation takes the
// next free number.
TEST_F(LogFile, PlantedEntriesAreLeftAlone) {
    using planted::kind;
    const std::string kept = path("kept.log"), made = path("made.log"), line = std::string(30, 'x') + "\r\n";
    write_file(kept, "outside");
    const struct { kind k; const char* at; std::string to; } cases[] = {
        {kind::fifo, "host.log", ""}, {kind::symlink, "host.log", made}, {kind::directory, "host.log", ""}, {kind::fifo, "host.log.1", ""}, {kind::symlink, "host.log.1", kept}, {kind::directory, "host.log.1", ""}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        const std::string sub = "/c" + std::to_string(i) + "/", at = dir() + sub + c.at;
        SCOPED_TRACE(at);
        if (!planted::plant(kind::directory, dir() + sub) || !planted::plant(c.k, at, c.to)) continue;
        config_parser_c cfg;
        logger_c l;
        tr_stream_c err;
        testing::internal::CaptureStderr();
        // As a load opens the log; two rotations; a second load.
        EXPECT_TRUE(planted::finishes_within(
            std::chrono::seconds(3), [&] {
            setup(l, cfg, err, sub);
            l.max_file_size = l.bytes_written + line.size();
            for (int n = 0; n < 2; ++n) l.write(line.data(), static_cast<unsigned>(line.size()), nullptr, 0);
            l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, nullptr, SCAN_DIRECTORY); }, [&] { planted::free_pipe(at); }));
        const std::string out = testing::internal::GetCapturedStderr(), rotated = dir() + sub + "host.log.";
        EXPECT_EQ(count(out, at), 1u) << out;
        EXPECT_EQ(count(out, "not a regular file"), 1u) << out;
        EXPECT_TRUE(planted::at(at) == c.k);
        EXPECT_EQ(read_file(kept), "outside");
        EXPECT_FALSE(path_exists(made.c_str()));
        if (std::string(c.at) == "host.log") {
            EXPECT_EQ(l.file, PLAT_NO_FILE);
            EXPECT_FALSE(l.opened);
            EXPECT_EQ(l.rotated_files.num(), 0u);
        } else {  // .1 is skipped; the second load's rotation gives .4
            EXPECT_EQ(list_of(l.rotated_files), (strings{rotated + "4", rotated + "3", rotated + "2"}));
        }
    }
}

// The directory removed while the host runs is made again by the next
// open, whether a load or a size rotation opens it and whether its text
// ends in '/' or not; the lines after that open are kept. (Windows removes
// no directory holding an open file: there the file is closed first, as
// after a failure, and only a load reopens it.)
TEST_F(LogFile, RemovedDirectoryIsMadeAgain) {
    const std::string line = std::string(28, 'r') + "\r\n";
    for (bool slash : {true, false}) {
        for (bool load : {true, false}) {
            if (ON_WINDOWS && !load) continue;
            const std::string sub = std::string("/") + (load ? "load" : "size") + (slash ? "s/" : "");
            SCOPED_TRACE(sub);
            config_parser_c cfg;
            logger_c l;
            tr_stream_c err;
            setup(l, cfg, err, sub);
            if (ON_WINDOWS) plat_file_close(l.file), l.file = PLAT_NO_FILE;
            fs::remove_all(fs::u8path(dir() + sub));
            if (load) {
                l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, nullptr, SCAN_DIRECTORY);
            } else {
                rotate(l, line);
            }
            l.write("after\r\n", 7, nullptr, 0);
            EXPECT_TRUE(ends_with(read_file(dir() + sub + (slash ? "" : "/") + "host.log"), "after\r\n"));
            EXPECT_EQ(str(err), "");
        }
    }
}

// A rotation never replaces a file: names that exist are skipped. Numbers
// never wrap onto the files of earlier runs: the highest number is not
// adopted, and at the top of the numbers the file stays (said once), its
// lines kept.
TEST_F(LogFile, RotationNeverReplacesAFileNorWraps) {
    const std::string line = std::string(28, 'n') + "\r\n";
    touch({"host.log.1", "host.log.2"});  // no scan ran: the writer does not know them
    logger_c l;
    setup(l, 1u << 20);
    l.open_file(nullptr);
    rotate(l, line);
    EXPECT_EQ(list_of(l.rotated_files), strings{d() + "host.log.3"});
    EXPECT_TRUE(ends_with(read_file(path("host.log.3")), line));
    for (const char* n : {"host.log.1", "host.log.2"}) EXPECT_EQ(read_file(path(n)), n);

    const std::string top = path("top") + "/", highest = top + "host.log.4294967295";
    fs::create_directory(fs::u8path(path("top")));
    write_file(highest, "planted"), write_file(top + "host.log.7", "7"), write_file(top + "host.log", "earlier");
    logger_c m;
    m.files_to_keep = 10;
    m.set_directory(top.c_str(), "host", false);
    EXPECT_EQ(list_of(m.rotated_files), (strings{top + "host.log.8", top + "host.log.7"}));
    m.make_file_name();
    m.open_file(nullptr);
    rotate(m, line);
    EXPECT_EQ(m.file_number, 9u);
    m.file_number = 0xFFFFFFFDu;
    testing::internal::CaptureStderr();
    for (int n = 0; n < 3; ++n) rotate(m, line);
    EXPECT_EQ(count(testing::internal::GetCapturedStderr(), "no rotation number is left for " + top + "host.log"), 1u);
    EXPECT_EQ(count(read_file(top + "host.log"), line), 2u);
    EXPECT_TRUE(ends_with(read_file(top + "host.log.4294967294"), line));
    EXPECT_EQ(read_file(highest), "planted");
    EXPECT_EQ(read_file(top + "host.log.7"), "7");
    EXPECT_FALSE(path_exists((top + "host.log.0").c_str()));
}

// Two writers of one name (two processes of one executable without the
// process id in the name): the second one's scan does not take the first
// one's live file, no file has two writers, every file keeps to the size
// limit (plus the line that reached it and the uncounted mark), and every
// line of both is kept, each writer's in order. Two loggers of this process
// take turns (their file locks exclude each other as two processes' do);
// on Linux two processes also write at once.
TEST_F(LogFile, TwoWritersOfOneNameShareNoFile) {
    const unsigned limit = 400;
    auto write_lines = [&](const std::string& sub, std::vector<logger_c*> writers, unsigned lines, char tag) {
        std::vector<config_parser_c> cfgs(writers.size());
        tr_stream_c err;
        for (size_t w = 0; w < writers.size(); ++w) {
            cfgs[w].log_file_size = limit, cfgs[w].log_files_to_keep = 100000;
            setup(*writers[w], cfgs[w], err, sub);
        }
        char text[32];
        for (unsigned i = 0; i < lines; ++i) {
            for (size_t w = 0; w < writers.size(); ++w) {
                const int n = std::snprintf(text, sizeof text, "%c %05u ..................\r\n", tag + static_cast<int>(w), i);
                writers[w]->write(text, static_cast<unsigned>(n), nullptr, 0);
                // What the manager does after a write: held files tried again, a pause apart.
                for (unsigned r = 1; writers[w]->claim_retry() && r <= logger_c::RETRY_ROUNDS; ++r) {
                    plat_sleep_ms(logger_c::RETRY_PAUSE_MS);
                    writers[w]->retry_held_files(r == logger_c::RETRY_ROUNDS);
                }
            }
        }
        EXPECT_EQ(str(err), "");
    };
    // Each line of both writers once; with in_order, each writer's in order
    // along the file numbers (writers taking turns; two at once may leave a
    // file behind a later number when one appends to a file the other just
    // closed).
    auto check = [&](const std::string& sub, unsigned lines, bool in_order) {
        std::vector<std::pair<unsigned long long, std::string>> ordered;  // by number, the current one last
        for (auto& e : fs::directory_iterator(fs::u8path(dir() + sub))) {
            const std::string f = e.path().filename().u8string();
            ordered.emplace_back(f == "host.log" ? ~0ull : std::stoull(f.substr(9)), dir() + sub + f);
        }
        std::sort(ordered.begin(), ordered.end());
        std::vector<unsigned> seen[2] = {std::vector<unsigned>(lines), std::vector<unsigned>(lines)};
        unsigned next[2] = {0, 0};
        for (const auto& f : ordered) {
            const std::string content = read_file(f.second);
            EXPECT_LE(content.size(), limit + 28 + BOM.size()) << f.second;
            for (size_t at = content.find("\r\n"), from = 0; at != std::string::npos;
                 from = at + 2, at = content.find("\r\n", from)) {
                const std::string l = content.substr(from, at - from);
                if (l.size() != 26 || (l[0] != 'a' && l[0] != 'b')) continue;
                const unsigned i = static_cast<unsigned>(std::stoul(l.substr(2, 5))), w = l[0] == 'b';
                if (i < lines) ++seen[w][i];
                if (in_order) { EXPECT_EQ(i, next[w]++) << f.second; }
            }
        }
        for (unsigned w = 0; w < 2; ++w)
            EXPECT_EQ(std::count(seen[w].begin(), seen[w].end(), 1u), static_cast<long>(lines)) << w;
    };
    {
        logger_c a, b;
        write_lines("/turns/", {&a, &b}, 300, 'a');
    }
    check("/turns/", 300, true);
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)  // the address sanitizer's allocator is not fork-safe
    fs::create_directory(fs::u8path(path("at_once")));
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        if ((writers[w] = fork()) != 0) continue;
        logger_c l;
        write_lines("/at_once/", {&l}, 2000, static_cast<char>('a' + w));
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    for (pid_t w : writers) {
        int status = -1;
        waitpid(w, &status, 0);
        EXPECT_EQ(status, 0);
    }
    check("/at_once/", 2000, false);
#endif
}

// A move or delete that meets a file held open waits for retry_held_files
// (which the manager runs without its lock, one caller at a time); it stops
// when done, after its last attempt, or when its file is the one in use.
TEST_F(LogFile, HeldFilesAreTriedAgainLater) {
    touch({"host.log", "host_7.log"});  // current files of other writers, held open
    plat_file_t held = plat_file_open_append(path("host.log").c_str()),
                held7 = plat_file_open_append(path("host_7.log").c_str());
    ASSERT_NE(held, PLAT_NO_FILE);
    config_parser_c cfg;
    logger_c l;
    tr_stream_c err;
    setup(l, cfg, err);  // the scan moves host.log and deletes host_7.log: both held
    EXPECT_EQ(str(l.continued), path("host.log.2"));
    EXPECT_EQ(l.retries.num(), 2u);
    EXPECT_TRUE(l.claim_retry());
    EXPECT_FALSE(l.claim_retry());
    EXPECT_TRUE(l.retry_held_files(false));
    plat_file_close(held), plat_file_close(held7);
    l.retries.append(new logger_c::retry_list_s::item_s{l.continued, tr_stream_c(), 1});  // the file in use
    EXPECT_FALSE(l.retry_held_files(false));
    EXPECT_EQ(files(), (strings{"host.log.1", "host.log.2"}));
    EXPECT_EQ(read_file(path("host.log.1")), "host.log");
    held = plat_file_open_append(path("host.log.1").c_str());
    l.files_to_keep = 0, l.apply_retention();
    EXPECT_TRUE(l.claim_retry());
    for (unsigned round = 1; round < logger_c::RETRY_ROUNDS; ++round) EXPECT_TRUE(l.retry_held_files(false));
    EXPECT_FALSE(l.retry_held_files(true));  // the last attempt
    EXPECT_FALSE(l.claim_retry());
    plat_file_close(held);
    EXPECT_TRUE(exists("host.log.1"));
}

TEST(PathText, FormsFullPathsAndTooLong) {
    // Long form null: not checked. A dot where a network share stands is resolved too.
    const struct { const char *in, *canonical, *long_form; } cases[] = {
        {"C:\\logs\\\\app\\", "C:/logs/app", "\\\\?\\C:\\logs\\app"},
        {"C:/", "C:/", "\\\\?\\C:\\"}, {"C:", "C:", nullptr},
        {"\\\\?\\D:\\x\\y", "D:/x/y", "\\\\?\\D:\\x\\y"},
        {"C:/l\xC3\xB6gs/\xE6\x97\xA5", "C:/l\xC3\xB6gs/\xE6\x97\xA5", "\\\\?\\C:\\l\xC3\xB6gs\\\xE6\x97\xA5"},
        {"\\\\server/share//logs/", "\\\\server/share/logs", "\\\\?\\UNC\\server\\share\\logs"},
        {"\\\\?\\UNC\\server\\share\\d", "\\\\server/share/d", "\\\\?\\UNC\\server\\share\\d"},
        {"\\\\srv\\sh\\a\\..\\..\\..", "\\\\srv/sh", nullptr}, {"\\\\srv\\..\\x\\y", "\\\\srv/x/y", nullptr},
        {"logs/x", "logs/x", "logs\\x"}, {"//var//log//", "/var/log", "\\var\\log"}, {"/", "/", nullptr},
        {".hidden/.b/c..d", ".hidden/.b/c..d", nullptr}, {"/a/./b/../c", "/a/c", nullptr}, {"a/..", ".", nullptr},
        {"C:\\x\\..", "C:/", nullptr}, {"C:/..", "C:/", nullptr}, {"./x", "x", nullptr},
        {"/../a", "/a", nullptr}, {"a/../../b", "b", nullptr}, {nullptr, "<refused:>", "<refused:>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in ? c.in : "null");
        EXPECT_EQ(norm(c.in), c.canonical);
        if (c.long_form) { EXPECT_EQ(long_form(c.in), c.long_form); }
    }

    // Full paths by either system's rules, on every build; the native rules by default.
    const std::vector<const char*> by_rules[3] = {{"C:\\x", "c:/x", "\\\\s", "\\\\?\\C:\\x"}, {"/x", "/"},
                                                  {"C:", "C:x", "1:/x", "\\\\", "\\x", "logs/x", "", nullptr}};
    for (int rules = 0; rules < 3; ++rules) {  // Windows only, POSIX only, neither
        for (const char* p : by_rules[rules]) {
            EXPECT_EQ(is_full_path(p, PLAT_PATH_WINDOWS), rules == 0) << (p ? p : "null");
            EXPECT_EQ(is_full_path(p, PLAT_PATH_POSIX), rules == 1) << (p ? p : "null");
            EXPECT_EQ(is_full_path(p), rules == (ON_WINDOWS ? 0 : 1)) << (p ? p : "null");
        }
    }
    // The same place: canonical forms equal, without regard to case by the Windows rules.
    EXPECT_TRUE(same_path("C:\\Logs\\", "c:/logs", PLAT_PATH_WINDOWS));
    EXPECT_FALSE(same_path("C:\\Logs\\", "c:/logs", PLAT_PATH_POSIX));
    EXPECT_TRUE(same_path("/var/log/./x/", "/var/log/x", PLAT_PATH_POSIX));
    EXPECT_FALSE(same_path("/var/Log", "/var/log", PLAT_PATH_POSIX));
    // Any path text the system is handed: dots are left for the system to resolve, unprefixed.
    for (auto c : {std::make_pair("C:/a/../b", "C:\\a\\..\\b"), {"\\\\s\\.\\x", "\\\\s\\.\\x"}, {"\\\\?\\C:\\x", "\\\\?\\C:\\x"}, {"D:\\\\x", "\\\\?\\D:\\x"}, {"\\\\s//sh", "\\\\?\\UNC\\s\\sh"}}) {
        char out[16];
        EXPECT_TRUE(plat_long_path(c.first, out, sizeof out)) << c.first;
        EXPECT_STREQ(out, c.second);
    }
    const std::string too_long = "/tmp/" + std::string(LOG_PATH_SIZE, 'd');  // file operations refuse it too
    EXPECT_FALSE(path_exists(too_long.c_str()) || create_directories(too_long.c_str()));
    // The longest path that fits, one byte more, and the long form's prefix.
    std::string fits = "C:/" + std::string(LOG_PATH_SIZE - 4, 'a');
    EXPECT_EQ(norm(fits.c_str()), fits);
    EXPECT_EQ(norm((fits + "b").c_str()), "<refused:>");
    EXPECT_EQ(long_form(fits.c_str()), "<refused:>");
    EXPECT_EQ(long_form(("C:/" + std::string(LOG_PATH_SIZE - 8, 'a')).c_str()).size(), LOG_PATH_SIZE - 1);
    EXPECT_EQ(norm(std::string(LOG_PATH_SIZE - 1, '/').c_str()), "/");
}

namespace {

const bool LINKS = !ON_WINDOWS;

class Shipping : public LogFile {
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
        EXPECT_EQ(std::string(l.continued.c_str()), path("host.log.1"));
        rotate(l, 4);
        // host.log.1 and .2 went by count; .3 and .4 stay beside the newest, .5.
        const strings numbered = {"host.log.3", "host.log.4", "host.log.5"};
        strings expect = numbered;
        if (LINKS) expect.insert(expect.begin(), "host.log");
        EXPECT_EQ(files(), expect);
        EXPECT_EQ(link_target("host.log"), LINKS ? "host.log.5" : "<no link>");
        EXPECT_NE(read_file(path("host.log.3")).find("#3, Version"), std::string::npos);
        EXPECT_NE(read_file(path("host.log.3")).find("line"), std::string::npos);  // written under its final name
    }
    logger_c again;
    start(again, true, 2);
    EXPECT_EQ(again.file_number, 6u);  // never reused
    EXPECT_EQ(link_target("host.log"), LINKS ? "host.log.6" : "<no link>");
    again.write("x\r\n", 3, nullptr, 0);
    EXPECT_EQ(files().size(), LINKS ? 4u : 3u);  // .4 .5 kept, .6 written, the link

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
    const size_t before = files().size();
    const std::string renamed_text = read_file(path("host.log"));
    {
        logger_c stable;
        start(stable, true, 10);
        // The renamed run's current file went to the next number, the new
        // file above it.
        EXPECT_EQ(read_file(path("host.log.5")), renamed_text);
        EXPECT_EQ(std::string(stable.continued.c_str()), path("host.log.6"));
        EXPECT_EQ(link_target("host.log"), LINKS ? "host.log.6" : "<no link>");
        EXPECT_EQ(files().size(), before + (LINKS ? 2u : 1u));  // .6 and the link
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
        for (const std::string& name : files()) {
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
