// The log file writer: mark and banner, two-piece writes, rotation, failing
// disks; its naming, adoption of earlier files, retention and settings
// changes; the path texts (the same on every build) and file operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "logfile/logger.h"   // with the configuration, string lists and the platform layer
#include "logfile/path_ops.h"

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

const std::string BOM = "\xEF\xBB\xBF";

// The banner behind the time text.
std::string banner_tail(unsigned n) {
    return " JOT Log File #" + std::to_string(n) + ", Version = " + std::to_string(KATR_VERSION_MAJOR) + "." +
           std::to_string(KATR_VERSION_MINOR) + "." + std::to_string(KATR_VERSION_RELEASE) + "." +
           std::to_string(KATR_VERSION_BUILD) + "\r\n";
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string str(const tr_stream_c& s) { return s.c_str(); }

strings list_of(str_list_c& list) {
    strings v;
    for (void* p = list.first(); p; p = list.next()) v.push_back(static_cast<const char*>(p));
    return v;
}

std::string backslashed(std::string s) {
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::string norm(const char* s) {
    char out[LOG_PATH_SIZE] = "x";
    return normalize_path(s, out) ? std::string(out) : "<refused:" + std::string(out) + ">";
}

// The long form, converted back to UTF-8 for comparison.
std::string long_form(const char* s) {
    katr_wchar_t wide[LOG_PATH_SIZE] = {'x'};
    bool ok = to_long_path(s, wide);
    char narrow[LOG_PATH_SIZE * 3] = "";
    if (wide[0]) plat_utf16_to_utf8(wide, narrow, sizeof narrow);
    return ok ? std::string(narrow) : "<refused:" + std::string(narrow) + ">";
}

class LogFile : public temp_dir_test {
protected:
    std::string d() const { return dir() + "/"; }
    bool exists(const std::string& name) const { return path_exists(path(name).c_str()); }
    void touch(std::initializer_list<const char*> names) { for (const char* n : names) write_file(path(n), n); }
    strings files() const {
        strings v;
        for (auto& e : fs::directory_iterator(fs::u8path(dir()))) v.push_back(e.path().filename().u8string());
        std::sort(v.begin(), v.end());
        return v;
    }
    // A logger for dir()/<sub>host.log; with a configuration it is opened as a load does.
    void setup(logger_c& l, unsigned long long limit, const std::string& sub = "") {
        l.directory.append((d() + sub).c_str());
        std::snprintf(l.module_name, sizeof l.module_name, "host");
        l.max_file_size = limit;
        l.files_to_keep = 10;
        l.make_file_name();
    }
    void setup(logger_c& l, config_parser_c& cfg, tr_stream_c& err, const std::string& sub = "") {
        cfg.log_directory.append((dir() + sub).c_str());
        l.reconfigure(cfg, &err, true, nullptr, "host", false);
    }
};

}  // namespace

TEST_F(LogFile, OpenAppendsMarkAndBannerAndWritesTwoPieces) {
    logger_c l;
    l.write("dropped", 7, nullptr, 0);   // no file yet
    setup(l, 1u << 20);
    write_file(path("host.log"), "old\n");
    tr_stream_c err;
    l.open_file(&err);
    EXPECT_EQ(str(err), "");
    EXPECT_EQ(l.rotated_files.num(), 0u);   // the first open never rotates
    const std::string content = read_file(path("host.log"));
    EXPECT_EQ(content.compare(0, 7, "old\n" + BOM), 0);
    EXPECT_TRUE(ends_with(content, banner_tail(0))) << content;
    EXPECT_GT(content.size(), 7 + banner_tail(0).size());   // the time text comes first
    EXPECT_EQ(l.bytes_written, content.size() - 7);
    l.write("pre|", 4, "body\r\n", 6);   // null pieces count as empty; nothing is held back
    l.write(nullptr, 5, "x\r\n", 3);
    l.write("y\r\n", 3, nullptr, 9);
    EXPECT_EQ(read_file(path("host.log")), content + "pre|body\r\nx\r\ny\r\n");
    EXPECT_EQ(l.bytes_written, content.size() - 7 + 16);
}

TEST_F(LogFile, RotatesAtTheLimitAndKeepsTheConfiguredNumber) {
    logger_c l;
    setup(l, 0);
    l.open_file(nullptr);
    const std::string first_banner = read_file(path("host.log"));
    const std::string line = std::string(18, 'a') + "\r\n";
    l.max_file_size = l.bytes_written + 30;   // 20 bytes stay, 20 more rotate
    l.write(line.data(), 10, line.data() + 10, 10);
    EXPECT_FALSE(exists("host.log.1"));
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_EQ(read_file(path("host.log.1")), first_banner + line + line);
    EXPECT_TRUE(ends_with(read_file(path("host.log")), banner_tail(1)));
    l.max_file_size = l.bytes_written + 20;   // exactly at the limit rotates too
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_TRUE(exists("host.log.2"));
    l.max_file_size = 0;   // rotates after every write
    l.files_to_keep = 2;
    for (int i = 0; i < 2; ++i) l.write("z", 1, nullptr, 0);
    EXPECT_EQ(files(), (strings{"host.log", "host.log.3", "host.log.4"}));
    l.max_file_size = 4294967296ull;   // the counter is 32 bits wide: never reached
    l.bytes_written = 0xFFFFFFF0u;
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_TRUE(l.bytes_written == 4u && l.file_number == 4u);
}

TEST_F(LogFile, OpenFailuresAreReported) {
    write_file(path("blocker"), "x");   // a parent of the directory is a file
    logger_c l;
    setup(l, 0, "blocker/logs/");
    const std::string head = "Unable to open logfile " + str(l.file_name);
    tr_stream_c err;
    l.open_file(&err);
    EXPECT_TRUE(l.file == PLAT_NO_FILE && !l.opened);
    EXPECT_EQ(str(err).rfind(head + ", err=", 0), 0u) << str(err);
    EXPECT_TRUE(ends_with(str(err), "\r\n") && err.length > head.size() + 8) << str(err);
    testing::internal::CaptureStderr();
    l.open_file(nullptr);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.rfind(head + "! Error code=", 0), 0u) << out;
    EXPECT_TRUE(ends_with(out, "\n"));
}

#if defined(__linux__)
// /dev/full takes the open but fails every write with ENOSPC.
TEST_F(LogFile, FullDiskIsReported) {
    logger_c l, quiet, w;
    tr_stream_c err;
    l.file_name.append("/dev/full");
    l.open_file(&err);
    EXPECT_EQ(str(err), "Unable to write to file /dev/full! Error code= 28\r\n");
    EXPECT_TRUE(l.file == PLAT_NO_FILE && l.opened);
    quiet.file_name.append("/dev/full");   // without an error text: not reported at all
    testing::internal::CaptureStderr();
    quiet.open_file(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(quiet.file, PLAT_NO_FILE);

    // A writer that opened fine and then meets the full disk; the next open
    // (a reconfiguration) rotates the old name away.
    setup(w, 1u << 20);
    w.open_file(nullptr);
    plat_file_close(w.file);
    w.file = plat_file_open_append("/dev/full");
    const unsigned before = w.bytes_written;
    testing::internal::CaptureStderr();
    w.write("prefix ", 7, "line\r\n", 6);
    w.write("later ", 6, "line\r\n", 6);   // file closed: silently dropped
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "Unable to write to file " + path("host.log") + "! Error code=28\n");
    EXPECT_TRUE(w.file == PLAT_NO_FILE && w.bytes_written == before);
    w.open_file(nullptr);
    EXPECT_TRUE(w.file != PLAT_NO_FILE && exists("host.log.1"));
}
#endif

TEST_F(LogFile, ScanAdoptsFilesOfEarlierRunsAndRetentionRemovesTheOldest) {
    // None of the foreign names is ours (a name ending in '.' cannot exist on Windows).
    strings foreign = {"host.log.2x", "host.log.2.bak", "other.log.5", "host_1.txt", "host.log.-1", "host.log. 7",
                       "host_x.log", "host.log.99999999999", "HOST.log.8", "host.log.4.log"};
#if !defined(_WIN32)
    foreign.push_back("host.log.");
#endif
    touch({"host.log", "host.log.1", "host.log.3", "host_77.log.2"});
    for (const std::string& n : foreign) write_file(path(n), n);
    fs::create_directory(fs::u8path(path("host.log.50")));   // a directory, not a file
    logger_c l, m;
    l.files_to_keep = m.files_to_keep = 10;
    EXPECT_TRUE(l.set_directory(dir().c_str(), "host", false));
    EXPECT_EQ(list_of(l.rotated_files),
              (strings{d() + "host.log.4", d() + "host.log.3", d() + "host_77.log.2", d() + "host.log.1"}));
    EXPECT_EQ(read_file(path("host.log.4")), "host.log");
    EXPECT_FALSE(exists("host.log"));
    for (const std::string& n : foreign) EXPECT_TRUE(exists(n)) << n;
    l.file_number = 9;   // the same directory in another form is counted once; the counter never goes down
    EXPECT_TRUE(l.set_directory(backslashed(dir()).c_str(), nullptr, false));
    EXPECT_TRUE(l.rotated_files.num() == 4u && l.file_number == 9u);
    l.files_to_keep = 2;
    l.apply_retention();
    EXPECT_TRUE(l.rotated_files.num() == 2u && exists("host.log.4") && exists("host.log.3"));
    EXPECT_FALSE(exists("host.log.1") || exists("host_77.log.2"));
    // Highest number first, equal numbers in the order met, so retention
    // removes the one met last first.
    logger_c::si_list_s list;
    for (auto e : {std::make_pair("a", 2u), {"b", 2u}, {"c", 3u}, {"d", 1u}, {"e", 2u}}) list.add(e.first, e.second);
    std::string order;
    for (void* p = list.first(); p; p = list.next()) order += static_cast<logger_c::si_list_s::item_s*>(p)->name;
    EXPECT_EQ(order, "cabed");

    touch({"a%u.log.1", "a5.log.2", "a%u_3.log"});   // the module name is taken literally, not as a format
    m.set_directory(dir().c_str(), "a%u", false);
    EXPECT_EQ(list_of(m.rotated_files), (strings{d() + "a%u_3.log.2", d() + "a%u.log.1"}));
}

TEST_F(LogFile, CurrentFilesOfOtherProcesses) {
    logger_c a, b;
    touch({"host_1.log", "host_2.log"});   // the first met is rotated, the other deleted
    a.set_directory(dir().c_str(), "host", false);
    const strings left = files();
    EXPECT_TRUE(left == strings{"host_1.log.1"} || left == strings{"host_2.log.1"}) << left.size();
    fs::remove(fs::u8path(path(left[0])));
    touch({"host_1.log", "host.log", "host_2.log"});   // the file without a process id wins
    b.set_directory(dir().c_str(), "host", false);
    EXPECT_EQ(files(), strings{"host.log.1"});
    EXPECT_EQ(read_file(path("host.log.1")), "host.log");
}

TEST_F(LogFile, FileNamesAndDirectories) {
    logger_c l, def;
    l.set_directory(dir().c_str(), "host", true);
    // The stored directory is no change and keeps the name; a new one takes it.
    EXPECT_FALSE(l.set_directory(d().c_str(), "other", true) || l.set_directory(nullptr, "other", true));
    EXPECT_EQ(std::string(l.module_name), "host");
    EXPECT_TRUE(l.set_directory(path("sub").c_str(), std::string(KOR_MAX_PATH + 10, 'n').c_str(), true));
    EXPECT_TRUE(exists("sub"));
    EXPECT_EQ(std::string(l.module_name), std::string(KOR_MAX_PATH - 1, 'n'));   // cut to the buffer
    // The default: exe_dir/log/ and the executable's name cut at its first '.'.
    const std::string default_dir = std::string(mix_n::get_exe_dir(nullptr)) + "/log/";
    const bool existed = path_exists(default_dir.c_str());
    EXPECT_TRUE(def.set_directory(nullptr, nullptr, true));
    EXPECT_EQ(str(def.directory), default_dir);
    EXPECT_EQ(std::string(def.module_name), "test_logfile");
    EXPECT_TRUE(path_exists(default_dir.c_str()));
    std::error_code ec;
    if (!existed) fs::remove(fs::u8path(default_dir), ec);
}

TEST_F(LogFile, ReconfigureAndSetLogDirectory) {
    config_parser_c cfg, empty;
    logger_c l, f;
    tr_stream_c err, e1, e2, e3;
    cfg.log_files_to_keep = 3;
    cfg.log_file_size = 1000;
    setup(l, cfg, err, "/first/");
    EXPECT_TRUE(l.max_file_size == 1000u && l.files_to_keep == 3u);
    EXPECT_EQ(str(l.file_name), path("first/host.log"));
    l.reconfigure(cfg, &err, true, nullptr, nullptr, false);   // a load starts a new file
    l.reconfigure(cfg, &err, false, nullptr, nullptr, false);   // a parse changing nothing opens nothing
    EXPECT_EQ(l.file_number, 1u);
    // A directory text without the trailing '/' differs from the stored one:
    // the old file rotates, then open_file's rotation step (.3 names no file).
    cfg.log_directory.truncate(cfg.log_directory.length - 1);
    l.reconfigure(cfg, &err, false, nullptr, nullptr, false);
    EXPECT_TRUE(l.file_number == 3u && l.rotated_files.num() == 3u && exists("first/host.log.2"));
    f.reconfigure(empty, &err, false, path("fallback").c_str(), "host", true);   // only without a directory
    EXPECT_EQ(str(f.directory), path("fallback") + "/");
    EXPECT_FALSE(f.opened);

    EXPECT_FALSE(l.set_log_directory(cfg, nullptr, &e1, nullptr, false));
    EXPECT_EQ(str(e1), "Error! No LogDirName string has been provided");
    EXPECT_FALSE(l.set_log_directory(cfg, "logs/x", &e2, nullptr, false));
    EXPECT_EQ(str(e2), "Error! \"logs/x\" is not full path");
    EXPECT_FALSE(l.set_log_directory(cfg, path("first/host.log/x").c_str(), &e3, nullptr, false));
    EXPECT_EQ(str(e3), "Unable to create directory " + path("first/host.log/x"));
    EXPECT_FALSE(l.set_log_directory(cfg, "x", nullptr, nullptr, false));   // no error text: no crash
    EXPECT_EQ(str(cfg.log_directory), path("first"));
    // Stored canonical in the configuration, with '/' in the logger; the old
    // file is rotated, and the same text again rotates again.
    const std::string second = dir() + "/second/./deep//";
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, nullptr, false));
    EXPECT_EQ(str(cfg.log_directory), path("second/deep"));
    EXPECT_EQ(str(l.directory), path("second/deep") + "/");
    EXPECT_TRUE(exists("first/host.log.4"));
    EXPECT_NE(read_file(path("second/deep/host.log")).find("#5"), std::string::npos);
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, "named", false));
    EXPECT_TRUE(exists("second/deep/host.log.6") && l.file != PLAT_NO_FILE);
    EXPECT_EQ(str(l.file_name), path("second/deep/named.log"));
    EXPECT_EQ(str(err), "");
}

TEST_F(LogFile, AddPidSwitchAndProcessIdChange) {
    config_parser_c cfg;
    logger_c l;
    tr_stream_c err;
    l.change_pid(10);   // nothing open: only the id changes
    setup(l, cfg, err);
    l.change_pid(12);   // the name has no id: no new file
    l.change_pid(10);
    EXPECT_EQ(l.file_number, 0u);
    l.set_add_pid(cfg, true, &err);
    EXPECT_TRUE(cfg.add_pid_to_log_filename && exists("host.log.1"));
    EXPECT_EQ(str(l.file_name), d() + "host_10.log");
    l.write("ten\r\n", 5, nullptr, 0);
    const unsigned number = l.file_number;
    l.change_pid(10);   // same id: nothing
    EXPECT_EQ(l.file_number, number);
    l.change_pid(11);   // the old file's rotation, then open_file's
    EXPECT_EQ(l.file_number, number + 2);
    EXPECT_TRUE(ends_with(read_file(path("host_10.log." + std::to_string(number + 1))), "ten\r\n"));
    EXPECT_FALSE(exists("host_10.log"));
    EXPECT_NE(read_file(path("host_11.log")).find(", Version = "), std::string::npos);
    l.change_pid(0);   // the current process
    EXPECT_EQ(str(l.file_name), d() + "host_" + std::to_string(plat_pid()) + ".log");
    l.set_add_pid(cfg, false, &err);
    EXPECT_EQ(str(l.file_name), d() + "host.log");
    EXPECT_EQ(str(err), "");
}

// A second writer of one executable in a shared directory may not take the
// first one's lines away (on POSIX the live file is renamed and written on).
TEST_F(LogFile, SharedDirectoryLosesNoLines) {
    config_parser_c cfg, cfg_b;
    logger_c a, b;
    tr_stream_c err;
    setup(a, cfg, err);
    a.write("before\r\n", 8, nullptr, 0);
    cfg_b.add_pid_to_log_filename = true;   // two writers of one name exclude each other on Windows
    b.pid = a.pid + 1;
    setup(b, cfg_b, err);
    EXPECT_EQ(str(err), "");
    a.write("after\r\n", 7, nullptr, 0);
    unsigned holding = 0;
    for (const std::string& f : files()) {
        const std::string content = read_file(path(f));
        if (content.find("after\r\n") == std::string::npos) continue;
        ++holding;
        EXPECT_NE(content.find("before\r\nafter\r\n"), std::string::npos) << f;
    }
    EXPECT_EQ(holding, 1u);
}

TEST(PathText, CanonicalAndLongForms) {
    // Long form null: not checked. A dot where a network share stands is resolved too.
    const struct { const char *in, *canonical, *long_form; } cases[] = {
        {"C:\\logs\\\\app\\", "C:/logs/app", "\\\\?\\C:\\logs\\app"}, {"C:/", "C:/", "\\\\?\\C:\\"},
        {"C:", "C:", nullptr}, {"\\\\?\\D:\\x\\y", "D:/x/y", "\\\\?\\D:\\x\\y"},
        {"C:/l\xC3\xB6gs/\xE6\x97\xA5", "C:/l\xC3\xB6gs/\xE6\x97\xA5", "\\\\?\\C:\\l\xC3\xB6gs\\\xE6\x97\xA5"},
        {"\\\\server/share//logs/", "\\\\server/share/logs", "\\\\?\\UNC\\server\\share\\logs"},
        {"\\\\?\\UNC\\server\\share\\d", "\\\\server/share/d", "\\\\?\\UNC\\server\\share\\d"},
        {"\\\\srv\\sh\\a\\..\\..\\..", "\\\\srv/sh", nullptr}, {"\\\\srv\\.\\x", "\\\\srv/x", nullptr},
        {"\\\\srv\\..\\x\\y", "\\\\srv/x/y", nullptr},
        {"\\\\?\\UNC\\srv\\.\\sh\\d", "\\\\srv/sh/d", "\\\\?\\UNC\\srv\\sh\\d"},
        {"logs/x", "logs/x", "logs\\x"}, {"//var//log//", "/var/log", "\\var\\log"}, {"/", "/", nullptr},
        {".hidden/.b/c..d", ".hidden/.b/c..d", nullptr}, {"/a/./b/../c", "/a/c", nullptr}, {"a/..", ".", nullptr},
        {"C:\\x\\..", "C:/", nullptr}, {"./x", "x", nullptr}, {"x/.", "x", nullptr}, {"C:/..", "C:/", nullptr},
        {"/../a", "/a", nullptr}, {"a/../../b", "b", nullptr}, {nullptr, "<refused:>", "<refused:>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in ? c.in : "null");
        EXPECT_EQ(norm(c.in), c.canonical);
        if (c.long_form) { EXPECT_EQ(long_form(c.in), c.long_form); }
    }
    for (auto c : {std::make_pair("C:", "C:/"), {"", "."}, {"/", "/"}}) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%s", c.first);
        resolve_dots(buf);
        EXPECT_STREQ(buf, c.second);
    }
    resolve_dots(nullptr);
}

TEST(PathText, FullPathAndTooLong) {
    for (const char* p : {"C:\\x", "c:/x", "\\\\s"}) EXPECT_TRUE(is_full_path(p)) << p;
    for (const char* p : {"C:", "C:x", "1:/x", "\\\\", "\\x", "logs/x", ""}) EXPECT_FALSE(is_full_path(p)) << p;
    EXPECT_FALSE(is_full_path(nullptr));
#if defined(_WIN32)
    EXPECT_FALSE(is_full_path("/x"));
#else
    EXPECT_TRUE(is_full_path("/x"));
#endif
    EXPECT_EQ(long_form(""), "<refused:>");
    EXPECT_FALSE(normalize_path("x", nullptr) || to_long_path("x", nullptr));
    // The longest path that fits, one byte more, and the long form's prefix.
    std::string fits = "C:/" + std::string(LOG_PATH_SIZE - 4, 'a');
    EXPECT_EQ(norm(fits.c_str()), fits);
    EXPECT_EQ(norm((fits + "b").c_str()), "<refused:>");
    EXPECT_EQ(long_form(fits.c_str()), "<refused:>");
    EXPECT_EQ(long_form(("C:/" + std::string(LOG_PATH_SIZE - 8, 'a')).c_str()).size(), LOG_PATH_SIZE - 1);
    std::string many_dots;
    while (many_dots.size() + 2 < LOG_PATH_SIZE - 1) many_dots += "./";
    EXPECT_EQ(norm(many_dots.c_str()), ".");
    EXPECT_EQ(norm(std::string(LOG_PATH_SIZE - 1, '/').c_str()), "/");
}

TEST_F(LogFile, PathOperationsAtTheEdges) {
    logger_c logger;
    logger.directory.append(d().c_str());
    write_file(path("f"), "x");
    write_file(path("new.log"), "in the way");
    write_file(path("l\xC3\xB6g"), "");
    const std::string too_long = d() + std::string(LOG_PATH_SIZE, 'd');
    EXPECT_FALSE(path_exists(nullptr) || path_exists("") || create_directories(nullptr) || create_directories("") ||
                 create_directories(too_long.c_str()) || path_exists(too_long.c_str()) ||
                 create_directories(path("f/sub").c_str()));
    EXPECT_TRUE(create_directories((backslashed(dir()) + "\\\\x\\.\\y\\..\\z\\").c_str()));
    EXPECT_TRUE(exists("x/z") && !exists("x/y"));
    // A move deletes the target first; names equal but for case are left alone.
    EXPECT_TRUE(move_file(logger, path("f").c_str(), path("new.log").c_str()));
    EXPECT_TRUE(move_file(logger, path("new.log").c_str(), path("NEW.LOG").c_str()));
    EXPECT_EQ(read_file(path("new.log")), "x");
    EXPECT_FALSE(move_file(logger, path("f").c_str(), path("o").c_str()) || move_file(logger, nullptr, "o") ||
                 move_file(logger, "o", nullptr) || delete_file(logger, nullptr, true));
    // Files only, in front of what the list held; a failed listing adds nothing.
    str_list_c list;
    list.append_string("before");
    ASSERT_TRUE(list_directory(logger, list));
    strings names = list_of(list);
    std::sort(names.begin(), names.end() - 1);
    EXPECT_EQ(names, (strings{"l\xC3\xB6g", "new.log", "before"}));
    logger_c missing;
    missing.directory.append(path("nowhere/").c_str());
    EXPECT_FALSE(list_directory(missing, list));
    EXPECT_EQ(list.num(), 3u);
    EXPECT_TRUE(delete_file(logger, backslashed(path("l\xC3\xB6g")).c_str(), false) && !exists("l\xC3\xB6g"));
}
