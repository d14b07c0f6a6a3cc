// The log file writer: mark and banner, writes, rotation, failing disks, naming,
// adoption of earlier files, retention; the path texts (the same on every build).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "common/planted.h"
#include "common/temp_dir.h"
#include "logfile/logger.h"   // with the configuration, string lists and the platform layer
#include "logfile/path_ops.h"

#if defined(__linux__)
#include <sys/resource.h>
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
size_t count(const std::string& s, const std::string& t) {
    size_t n = 0;
    for (size_t at = s.find(t); at != std::string::npos; at = s.find(t, at + 1)) ++n;
    return n;
}
std::string backslashed(std::string s) { std::replace(s.begin(), s.end(), '/', '\\'); return s; }
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
        l.max_file_size = limit, l.files_to_keep = 10;
        l.make_file_name();
    }
    void setup(logger_c& l, config_parser_c& cfg, tr_stream_c& err, const std::string& sub = "") {
        cfg.log_directory.append((dir() + sub).c_str());
        l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, "host", SCAN_DIRECTORY);
    }
};

}  // namespace

TEST_F(LogFile, OpenWriteAndRotateAtTheLimit) {
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
    EXPECT_GT(content.size(), 7 + banner_tail(0).size());   // time first
    EXPECT_EQ(l.bytes_written, content.size() - 7);
    l.write("pre|", 4, "body\r\n", 6);   // null pieces count as empty; nothing is held back
    l.write(nullptr, 5, "x\r\n", 3), l.write("y\r\n", 3, nullptr, 9);
    EXPECT_EQ(read_file(path("host.log")), content + "pre|body\r\nx\r\ny\r\n");
    EXPECT_EQ(l.bytes_written, content.size() - 7 + 16);
    const std::string first = read_file(path("host.log")), line = std::string(18, 'a') + "\r\n";
    l.max_file_size = l.bytes_written + 30;   // 20 bytes stay, 20 more rotate
    l.write(line.data(), 10, line.data() + 10, 10);
    EXPECT_FALSE(exists("host.log.1"));
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_EQ(read_file(path("host.log.1")), first + line + line);
    EXPECT_TRUE(ends_with(read_file(path("host.log")), banner_tail(1)));
    l.max_file_size = l.bytes_written + 20;   // exactly at the limit rotates too
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_TRUE(exists("host.log.2"));
    l.max_file_size = 4294967296ull;   // the counter is 32 bits wide: never reached
    l.bytes_written = 0xFFFFFFF0u;
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_EQ(l.bytes_written, 4u);
    EXPECT_EQ(l.file_number, 2u);
}

TEST_F(LogFile, OpenFailuresAreReported) {
    write_file(path("blocker"), "x");   // a parent of the directory is a file
    logger_c l;
    setup(l, 0, "blocker/logs/");
    const std::string head = "Unable to open logfile " + str(l.file_name);
    tr_stream_c err;
    l.open_file(&err);
    EXPECT_EQ(l.file, PLAT_NO_FILE);
    EXPECT_FALSE(l.opened);
    EXPECT_EQ(str(err).rfind(head + ", err=", 0), 0u) << str(err);
    EXPECT_TRUE(ends_with(str(err), "\r\n")) << str(err);
    EXPECT_GT(err.length, head.size() + 8) << str(err);
    testing::internal::CaptureStderr();
    l.open_file(nullptr);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.rfind(head + "! Error code=", 0), 0u) << out;
    EXPECT_TRUE(ends_with(out, "\n")) << out;
}

#if defined(__linux__)
// Runs op while every write at or past cap bytes into a file fails with
// EFBIG (RLIMIT_FSIZE, SIGXFSZ ignored), as a full disk fails it with ENOSPC.
template <class op_f>
void with_file_size_cap(rlim_t cap, op_f op) {
    rlimit old, capped;
    getrlimit(RLIMIT_FSIZE, &old);
    capped = old, capped.rlim_cur = cap;
    void (*old_signal)(int) = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &capped), op(), setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_signal);
}

TEST_F(LogFile, FullDiskIsReported) {
    const std::string full(4096, 'o');   // the size of the cap
    write_file(path("full.log"), full);
    logger_c l, w;
    tr_stream_c err;
    l.file_name.append(path("full.log").c_str());
    with_file_size_cap(full.size(), [&] { l.open_file(&err); });
    EXPECT_EQ(str(err), "Unable to write to file " + path("full.log") + "! Error code= 27\r\n");
    EXPECT_EQ(l.file, PLAT_NO_FILE);
    EXPECT_TRUE(l.opened);
    // A writer meeting the full disk later (its message stays below the cap);
    // the next open rotates the old name away.
    setup(w, 1u << 20);
    w.open_file(nullptr);
    w.write(full.data(), static_cast<unsigned>(full.size()), nullptr, 0);
    const unsigned before = w.bytes_written;
    testing::internal::CaptureStderr();
    with_file_size_cap(full.size(), [&] {   // the second line is dropped silently
        w.write("prefix ", 7, "line\r\n", 6), w.write("later ", 6, "line\r\n", 6);
    });
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "Unable to write to file " + path("host.log") + "! Error code=27\n");
    EXPECT_EQ(w.file, PLAT_NO_FILE);
    EXPECT_EQ(w.bytes_written, before);
    w.open_file(nullptr);
    EXPECT_NE(w.file, PLAT_NO_FILE);
    EXPECT_TRUE(exists("host.log.1"));
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
    // Entries that are not regular files neither count nor go: the file left
    // current moves to the first free number; a link's target stays.
    fs::create_directory(fs::u8path(path("host.log.50")));
    write_file(path("host.log.50/target"), "outside");
    const bool link = planted::plant(planted::kind::symlink, path("host.log.4"), path("host.log.50/target")),
               pipe = planted::plant(planted::kind::fifo, path("host.log.5"));
    const std::string moved = "host.log." + std::to_string(link ? (pipe ? 6 : 5) : 4);
    logger_c l, m;
    l.files_to_keep = m.files_to_keep = 10;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(l.set_directory(dir().c_str(), "host", false));
    EXPECT_EQ(count(testing::internal::GetCapturedStderr(), "not a regular file"), size_t(link) + size_t(pipe));
    EXPECT_EQ(list_of(l.rotated_files),
              (strings{d() + moved, d() + "host.log.3", d() + "host_77.log.2", d() + "host.log.1"}));
    EXPECT_EQ(read_file(path(moved)), "host.log");
    EXPECT_FALSE(exists("host.log"));
    for (const std::string& n : foreign) EXPECT_TRUE(exists(n)) << n;
    l.file_number = 9;   // the same directory in another form is counted once; the number never goes down
    EXPECT_TRUE(l.set_directory(backslashed(dir()).c_str(), nullptr, false));
    EXPECT_EQ(l.rotated_files.num(), 4u);
    EXPECT_EQ(l.file_number, 9u);
    l.files_to_keep = 2, l.apply_retention();
    EXPECT_EQ(l.rotated_files.num(), 2u);
    EXPECT_TRUE(exists(moved));
    EXPECT_TRUE(exists("host.log.3"));
    EXPECT_FALSE(exists("host.log.1"));
    EXPECT_FALSE(exists("host_77.log.2"));
    EXPECT_EQ(read_file(path("host.log.50/target")), "outside");
    EXPECT_TRUE(!link || planted::at(path("host.log.4")) == planted::kind::symlink);
    // Highest number first, equal numbers in the order met (retention removes the last met first).
    logger_c::si_list_s list;
    for (auto e : {std::make_pair("a", 2u), {"b", 2u}, {"c", 3u}, {"d", 1u}, {"e", 2u}}) list.add(e.first, e.second);
    std::string order;
    for (void* p = list.first(); p; p = list.next()) order += static_cast<logger_c::si_list_s::item_s*>(p)->name;
    EXPECT_EQ(order, "cabed");
    logger_c::si_list_s bulk;  // the scan's way: unordered, then one sort, to the same order
    for (auto e : {std::make_pair("a", 2u), {"b", 2u}, {"c", 3u}, {"d", 1u}, {"e", 2u}}) bulk.add_unordered(e.first, e.second);
    bulk.order_by_number();
    order.clear();
    for (void* p = bulk.first(); p; p = bulk.next()) order += static_cast<logger_c::si_list_s::item_s*>(p)->name;
    EXPECT_EQ(order, "cabed");

    touch({"a%u.log.1", "a5.log.2", "a%u_3.log"});   // the module name is taken literally, not as a format
    m.set_directory(dir().c_str(), "a%u", false);
    EXPECT_EQ(list_of(m.rotated_files), (strings{d() + "a%u_3.log.2", d() + "a%u.log.1"}));
}

TEST_F(LogFile, CurrentFilesOfOtherProcessesAndNames) {
    logger_c a, b, l, def;
    touch({"host_1.log", "host_2.log"});   // the first met is rotated, the other deleted
    a.set_directory(dir().c_str(), "host", false);
    const strings left = files();
    EXPECT_TRUE(left == strings{"host_1.log.1"} || left == strings{"host_2.log.1"}) << left.size();
    fs::remove(fs::u8path(path(left[0])));
    touch({"host_1.log", "host.log", "host_2.log"});   // the file without a process id wins
    b.set_directory(dir().c_str(), "host", false);
    EXPECT_EQ(files(), strings{"host.log.1"});
    EXPECT_EQ(read_file(path("host.log.1")), "host.log");
    l.set_directory(dir().c_str(), "host", true);
    // The stored directory is no change and keeps the name; a new one takes it, cut to the buffer.
    EXPECT_FALSE(l.set_directory(d().c_str(), "other", true));
    EXPECT_FALSE(l.set_directory(nullptr, "other", true));
    EXPECT_STREQ(l.module_name, "host");
    EXPECT_TRUE(l.set_directory(path("sub").c_str(), std::string(KOR_MAX_PATH + 10, 'n').c_str(), true));
    EXPECT_TRUE(exists("sub"));
    EXPECT_EQ(std::string(l.module_name), std::string(KOR_MAX_PATH - 1, 'n'));
    // The default: exe_dir/log/ and the executable's name cut at its first '.'.
    const std::string default_dir = std::string(mix_n::get_exe_dir(nullptr)) + "/log/";
    const bool existed = path_exists(default_dir.c_str()), made = def.set_directory(nullptr, nullptr, true);
    EXPECT_TRUE(made);
    EXPECT_EQ(str(def.directory), default_dir);
    EXPECT_STREQ(def.module_name, "test_logfile");
    if (!existed && path_exists(default_dir.c_str())) fs::remove(fs::u8path(default_dir));
}

TEST_F(LogFile, ReconfigureAndSetLogDirectory) {
    config_parser_c cfg, empty;
    logger_c l, f;
    tr_stream_c err, e1;
    cfg.log_files_to_keep = 3;
    cfg.log_file_size = 1000;
    setup(l, cfg, err, "/first/");
    EXPECT_EQ(l.max_file_size, 1000u);
    EXPECT_EQ(l.files_to_keep, 3u);
    EXPECT_EQ(str(l.file_name), path("first/host.log"));
    l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, nullptr, SCAN_DIRECTORY);   // a load starts a new file, a parse
    l.reconfigure(cfg, &err, OPEN_WHEN_MOVED, nullptr, nullptr, SCAN_DIRECTORY);   // changing nothing opens nothing
    EXPECT_EQ(l.file_number, 1u);
    // A directory text without the trailing '/' differs: two rotations (.3 names no file).
    cfg.log_directory.truncate(cfg.log_directory.length - 1);
    l.reconfigure(cfg, &err, OPEN_WHEN_MOVED, nullptr, nullptr, SCAN_DIRECTORY);
    EXPECT_EQ(l.file_number, 3u);
    EXPECT_EQ(l.rotated_files.num(), 3u);
    EXPECT_TRUE(exists("first/host.log.2"));
    f.reconfigure(empty, &err, OPEN_WHEN_MOVED, path("fallback").c_str(), "host", SKIP_SCAN);   // only without a directory
    EXPECT_EQ(str(f.directory), path("fallback") + "/");
    EXPECT_FALSE(f.opened);

    EXPECT_FALSE(l.set_log_directory(cfg, path("first/host.log/x").c_str(), &e1, nullptr, SCAN_DIRECTORY));
    EXPECT_EQ(str(e1), "Unable to create directory " + path("first/host.log/x"));
    EXPECT_FALSE(l.set_log_directory(cfg, "x", nullptr, nullptr, SCAN_DIRECTORY));   // no error text: no crash
    EXPECT_FALSE(l.set_log_directory(cfg, nullptr, nullptr, nullptr, SCAN_DIRECTORY));
    // Relative paths are refused; on POSIX drive and network paths are relative.
    const strings relative = {"x", "C:/x", "c:\\x", "\\\\srv\\share"};
    for (size_t i = 0; i < (ON_WINDOWS ? 1 : relative.size()); ++i) {
        tr_stream_c e;
        EXPECT_FALSE(l.set_log_directory(cfg, relative[i].c_str(), &e, nullptr, SCAN_DIRECTORY));
        EXPECT_EQ(str(e), "Error! \"" + relative[i] + "\" is not full path");
    }
    for (const char* p : {"C:", "c:\\x", "\\\\srv"}) EXPECT_FALSE(!ON_WINDOWS && fs::exists(p)) << p;
    EXPECT_EQ(str(cfg.log_directory), path("first"));
    // Canonical in the configuration, '/'-ended in the logger; the same text again rotates again.
    const std::string second = dir() + "/second/./deep//";
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, nullptr, SCAN_DIRECTORY));
    EXPECT_TRUE(exists("first/host.log.4"));
    EXPECT_EQ(str(cfg.log_directory), path("second/deep"));
    EXPECT_EQ(str(l.directory), path("second/deep") + "/");
    EXPECT_NE(read_file(path("second/deep/host.log")).find("#5"), std::string::npos);
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, "named", SCAN_DIRECTORY));
    EXPECT_TRUE(exists("second/deep/host.log.6"));
    EXPECT_NE(l.file, PLAT_NO_FILE);
    EXPECT_EQ(str(l.file_name), path("second/deep/named.log"));
    EXPECT_EQ(str(err), "");
}

// A new process id (after fork) moves a name with an id to a fresh file. A
// second writer of one executable in a shared directory may not take the
// first one's lines away (on POSIX the live file is renamed and written on).
TEST_F(LogFile, ProcessIdChangeAndSharedDirectory) {
    config_parser_c cfg, cfg_a, cfg_b;
    logger_c l, a, b;
    tr_stream_c err;
    l.change_pid(10);   // nothing open: only the id changes
    setup(l, cfg, err, "/pid/");
    l.change_pid(12), l.change_pid(10);   // the name has no id: no new file
    EXPECT_EQ(l.file_number, 0u);
    l.set_add_pid(cfg, true, &err);
    l.write("ten\r\n", 5, nullptr, 0);
    const unsigned number = l.file_number;
    l.change_pid(10);   // same id: nothing; a new one rotates the old file, then open_file's
    l.change_pid(11);
    EXPECT_EQ(l.file_number, number + 2);
    EXPECT_TRUE(ends_with(read_file(path("pid/host_10.log." + std::to_string(number + 1))), "ten\r\n"));
    EXPECT_FALSE(exists("pid/host_10.log"));
    EXPECT_TRUE(exists("pid/host_11.log"));
    setup(a, cfg_a, err);
    a.write("before\r\n", 8, nullptr, 0);
    cfg_b.add_pid_to_log_filename = true;   // two writers of one name exclude each other on Windows
    b.pid = a.pid + 1;
    setup(b, cfg_b, err);
    a.write("after\r\n", 7, nullptr, 0);
    unsigned holding = 0;
    for (const std::string& f : files()) {
        const std::string content = read_file(path(f));
        if (content.find("after\r\n") == std::string::npos) continue;
        ++holding;
        EXPECT_NE(content.find("before\r\nafter\r\n"), std::string::npos) << f;
    }
    EXPECT_EQ(holding, 1u);
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
        {kind::fifo, "host.log", ""}, {kind::symlink, "host.log", made}, {kind::directory, "host.log", ""},
        {kind::fifo, "host.log.1", ""}, {kind::symlink, "host.log.1", kept}, {kind::directory, "host.log.1", ""}};
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
        EXPECT_TRUE(planted::finishes_within(std::chrono::seconds(3), [&] {
            setup(l, cfg, err, sub);
            l.max_file_size = l.bytes_written + line.size();
            for (int n = 0; n < 2; ++n) l.write(line.data(), static_cast<unsigned>(line.size()), nullptr, 0);
            l.reconfigure(cfg, &err, OPEN_ALWAYS, nullptr, nullptr, SCAN_DIRECTORY);
        }, [&] { planted::free_pipe(at); }));
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
        } else {   // .1 is skipped; the second load's rotation gives .4
            EXPECT_EQ(list_of(l.rotated_files), (strings{rotated + "4", rotated + "3", rotated + "2"}));
        }
    }
}

TEST(PathText, FormsFullPathsAndTooLong) {
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

    // Full paths by either system's rules, on every build; the native rules by default.
    const struct { const char* p; bool windows, posix; } full_paths[] = {
        {"C:\\x", true, false}, {"c:/x", true, false}, {"\\\\s", true, false}, {"\\\\?\\C:\\x", true, false},
        {"/x", false, true}, {"/", false, true}, {"C:", false, false}, {"C:x", false, false}, {"1:/x", false, false},
        {"\\\\", false, false}, {"\\x", false, false}, {"logs/x", false, false}, {"", false, false}, {nullptr, false, false},
    };
    for (const auto& c : full_paths) {
        const char* shown = c.p ? c.p : "null";
        EXPECT_EQ(is_full_path(c.p, PLAT_PATH_WINDOWS), c.windows) << shown;
        EXPECT_EQ(is_full_path(c.p, PLAT_PATH_POSIX), c.posix) << shown;
        EXPECT_EQ(is_full_path(c.p), ON_WINDOWS ? c.windows : c.posix) << shown;
    }
    // The same place: canonical forms equal, without regard to case by the Windows rules.
    EXPECT_TRUE(same_path("C:\\Logs\\", "c:/logs", PLAT_PATH_WINDOWS));
    EXPECT_FALSE(same_path("C:\\Logs\\", "c:/logs", PLAT_PATH_POSIX));
    EXPECT_TRUE(same_path("/var/log/./x/", "/var/log/x", PLAT_PATH_POSIX));
    EXPECT_FALSE(same_path("/var/Log", "/var/log", PLAT_PATH_POSIX));
    EXPECT_EQ(long_form(""), "<refused:>");
    EXPECT_FALSE(normalize_path("x", nullptr));
    EXPECT_FALSE(plat_long_path("x", nullptr, 1));
    // Any path text the system is handed: dots are left for the system to resolve, unprefixed.
    for (auto c : {std::make_pair("C:/a/../b", "C:\\a\\..\\b"), {"\\\\s\\.\\x", "\\\\s\\.\\x"},
                   {"\\\\?\\C:\\x", "\\\\?\\C:\\x"}, {"D:\\\\x", "\\\\?\\D:\\x"}, {"\\\\s//sh", "\\\\?\\UNC\\s\\sh"}}) {
        char out[16];
        EXPECT_TRUE(plat_long_path(c.first, out, sizeof out)) << c.first;
        EXPECT_STREQ(out, c.second);
    }
    const std::string too_long = "/tmp/" + std::string(LOG_PATH_SIZE, 'd');   // file operations refuse these too
    for (const char* p : {static_cast<const char*>(nullptr), "", too_long.c_str()}) {
        EXPECT_FALSE(path_exists(p)) << (p ? p : "null");
        EXPECT_FALSE(create_directories(p)) << (p ? p : "null");
    }
    // The longest path that fits, one byte more, and the long form's prefix.
    std::string fits = "C:/" + std::string(LOG_PATH_SIZE - 4, 'a');
    EXPECT_EQ(norm(fits.c_str()), fits);
    EXPECT_EQ(norm((fits + "b").c_str()), "<refused:>");
    EXPECT_EQ(long_form(fits.c_str()), "<refused:>");
    EXPECT_EQ(long_form(("C:/" + std::string(LOG_PATH_SIZE - 8, 'a')).c_str()).size(), LOG_PATH_SIZE - 1);
    EXPECT_EQ(norm(std::string(LOG_PATH_SIZE - 1, '/').c_str()), "/");
}
