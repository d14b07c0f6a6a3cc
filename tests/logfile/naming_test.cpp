// Log file naming, adoption of files left by earlier runs, retention and the
// settings changes (directory, process-id flag, process id).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "config/config_parser.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "logfile/path_ops.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class LogNaming : public temp_dir_test {
protected:
    bool exists(const std::string& name) const { return fs::exists(fs::u8path(path(name))); }
    void touch(const std::string& name) { write_file(path(name), name); }
    std::string d() const { return dir() + "/"; }
    // The files of the directory, sorted.
    std::vector<std::string> files(const std::string& sub = "") const {
        std::vector<std::string> v;
        for (auto& e : fs::directory_iterator(fs::u8path(sub.empty() ? dir() : path(sub))))
            v.push_back(e.path().filename().u8string());
        std::sort(v.begin(), v.end());
        return v;
    }
};

std::vector<std::string> rotated(logger_c& l) {
    std::vector<std::string> v;
    for (void* p = l.rotated_files.first(); p; p = l.rotated_files.next())
        v.push_back(static_cast<const char*>(p));
    return v;
}

}  // namespace

TEST_F(LogNaming, ScanAdoptsFilesOfEarlierRuns) {
    // None of the foreign names is ours (a name ending in '.' cannot exist on Windows).
    std::vector<std::string> foreign = {"host.log.2x", "host.log.2.bak", "other.log.5", "host_1.txt",
                                        "host.log.-1", "host.log. 7", "host_x.log", "host.log.99999999999",
                                        "HOST.log.8", "host.log.4.log"};
#if !defined(_WIN32)
    foreign.push_back("host.log.");
#endif
    for (const char* n : {"host.log", "host.log.1", "host.log.3", "host_77.log.2"}) touch(n);
    for (const std::string& n : foreign) touch(n);
    fs::create_directory(fs::u8path(path("host.log.50")));   // a directory, not a file

    logger_c l;
    l.files_to_keep = 10;
    EXPECT_TRUE(l.set_directory(dir().c_str(), "host", false));
    EXPECT_EQ(std::string(l.directory.c_str()), d());
    EXPECT_EQ(std::string(l.module_name), "host");
    EXPECT_EQ(rotated(l), (std::vector<std::string>{d() + "host.log.4", d() + "host.log.3",
                                                     d() + "host_77.log.2", d() + "host.log.1"}));
    EXPECT_EQ(l.file_number, 4u);
    EXPECT_FALSE(exists("host.log"));
    EXPECT_EQ(read_file(path("host.log.4")), "host.log");
    for (const std::string& n : foreign) EXPECT_TRUE(exists(n)) << n;

    // The same directory once more, named in another form: counted once.
    l.make_file_name();
    std::string other_form = dir();
    std::replace(other_form.begin(), other_form.end(), '/', '\\');
    EXPECT_TRUE(l.set_directory(other_form.c_str(), nullptr, false));
    EXPECT_EQ(l.rotated_files.num(), 4u);
    EXPECT_EQ(l.file_number, 4u);

    // The counter never goes down.
    l.file_number = 9;
    EXPECT_TRUE(l.set_directory(dir().c_str(), nullptr, false));
    EXPECT_EQ(l.file_number, 9u);
}

TEST_F(LogNaming, CurrentFilesOfOtherProcesses) {
    touch("host_1.log");
    touch("host_2.log");
    logger_c a;
    a.files_to_keep = 10;
    a.set_directory(dir().c_str(), "host", false);
    // One of the two (the first met) is rotated, the other deleted.
    std::vector<std::string> left = files();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left[0] == "host_1.log.1" || left[0] == "host_2.log.1") << left[0];
    EXPECT_EQ(a.file_number, 1u);

    // The file without a process id wins; every other current file goes.
    fs::remove_all(fs::u8path(dir()));
    fs::create_directory(fs::u8path(dir()));
    touch("host_1.log");
    touch("host.log");
    touch("host_2.log");
    logger_c b;
    b.files_to_keep = 10;
    b.set_directory(dir().c_str(), "host", false);
    EXPECT_EQ(files(), std::vector<std::string>{"host.log.1"});
    EXPECT_EQ(read_file(path("host.log.1")), "host.log");
}

TEST_F(LogNaming, ModuleNameIsTakenLiterally) {
    touch("a%u.log.1");
    touch("a5.log.2");
    touch("a%u_3.log");
    logger_c l;
    l.files_to_keep = 10;
    l.set_directory(dir().c_str(), "a%u", false);
    EXPECT_EQ(rotated(l), (std::vector<std::string>{d() + "a%u_3.log.2", d() + "a%u.log.1"}));
    EXPECT_TRUE(exists("a5.log.2"));
}

TEST_F(LogNaming, RetentionKeepsTheConfiguredNumber) {
    for (const char* n : {"host.log.1", "host.log.2", "host.log.3", "host.log.4"}) touch(n);
    logger_c l;
    l.files_to_keep = 2;
    l.set_directory(dir().c_str(), "host", false);
    l.apply_retention();
    EXPECT_EQ(files(), (std::vector<std::string>{"host.log.3", "host.log.4"}));
    EXPECT_EQ(rotated(l), (std::vector<std::string>{d() + "host.log.4", d() + "host.log.3"}));

    l.files_to_keep = 0;
    l.apply_retention();
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(l.rotated_files.num(), 0u);

    // Scan order: highest number first, equal numbers in the order met, so
    // retention removes the one met last first.
    logger_c::si_list_s list;
    for (auto e : {std::make_pair("a", 2u), {"b", 2u}, {"c", 3u}, {"d", 1u}, {"e", 2u}}) list.add(e.first, e.second);
    std::string order;
    for (void* p = list.first(); p; p = list.next()) order += static_cast<logger_c::si_list_s::item_s*>(p)->name;
    EXPECT_EQ(order, "cabed");
}

TEST_F(LogNaming, FileNames) {
    logger_c l;
    l.make_file_name();
    EXPECT_EQ(std::string(l.file_name.c_str()), ".log");
    l.set_directory(dir().c_str(), "host", true);
    l.make_file_name();
    EXPECT_EQ(std::string(l.file_name.c_str()), d() + "host.log");
    l.add_pid = true;
    l.pid = 1234;
    l.make_file_name();
    EXPECT_EQ(std::string(l.file_name.c_str()), d() + "host_1234.log");

    // A directory text ending in '/' that equals the stored one is no change;
    // the name is not taken then. A new name comes with a new directory.
    EXPECT_FALSE(l.set_directory(d().c_str(), "other", true));
    EXPECT_FALSE(l.set_directory(nullptr, "other", true));
    EXPECT_EQ(std::string(l.module_name), "host");
    EXPECT_TRUE(l.set_directory(path("sub").c_str(), "other", true));
    EXPECT_TRUE(fs::is_directory(fs::u8path(path("sub"))));
    EXPECT_EQ(std::string(l.module_name), "other");
    std::string long_name(KOR_MAX_PATH + 10, 'n');   // cut to the buffer
    l.set_directory(path("sub2").c_str(), long_name.c_str(), true);
    EXPECT_EQ(std::string(l.module_name), std::string(KOR_MAX_PATH - 1, 'n'));
}

TEST_F(LogNaming, DefaultDirectoryAndName) {
    const char* exe_dir = mix_n::get_exe_dir(nullptr);
    ASSERT_NE(exe_dir, nullptr);
    std::string default_dir = std::string(exe_dir) + "/log/";
    const bool existed = fs::exists(fs::u8path(default_dir));
    logger_c l;
    EXPECT_TRUE(l.set_directory(nullptr, nullptr, true));
    EXPECT_EQ(std::string(l.directory.c_str()), default_dir);
    EXPECT_EQ(std::string(l.module_name), "test_logfile");   // the executable, cut at its first '.'
    EXPECT_TRUE(fs::is_directory(fs::u8path(default_dir)));
    if (!existed) {
        std::error_code ec;
        fs::remove(fs::u8path(default_dir), ec);
    }
}

TEST_F(LogNaming, ReconfigureFollowsTheConfiguration) {
    config_parser_c cfg;
    cfg.log_directory.append(path("logs/").c_str());
    cfg.log_files_to_keep = 3;
    cfg.log_file_size = 1000;
    logger_c l;
    tr_stream_c err;
    l.reconfigure(cfg, &err, true, nullptr, "host", false);
    EXPECT_EQ(std::string(err.c_str()), "");
    EXPECT_EQ(l.max_file_size, 1000u);
    EXPECT_EQ(l.files_to_keep, 3u);
    EXPECT_EQ(std::string(l.file_name.c_str()), path("logs/host.log"));
    EXPECT_TRUE(l.opened);
    EXPECT_EQ(l.file_number, 0u);

    // A load with the same settings starts a new file all the same.
    l.reconfigure(cfg, &err, true, nullptr, nullptr, false);
    EXPECT_EQ(l.file_number, 1u);
    EXPECT_TRUE(exists("logs/host.log.1"));

    // A parse that changes nothing opens nothing.
    l.reconfigure(cfg, &err, false, nullptr, nullptr, false);
    EXPECT_EQ(l.file_number, 1u);

    // A directory text without the trailing '/' differs from the stored one:
    // a parse rotates (the old file, then open_file's rotation step).
    cfg.log_directory.truncate(cfg.log_directory.length - 1);
    l.reconfigure(cfg, &err, false, nullptr, nullptr, false);
    EXPECT_EQ(l.file_number, 3u);
    EXPECT_TRUE(exists("logs/host.log.2"));
    EXPECT_EQ(l.rotated_files.num(), 3u);   // .3 names no file; retention counts it
    EXPECT_EQ(std::string(err.c_str()), "");

    // The fallback directory is used only when the configuration has none.
    config_parser_c empty;
    logger_c f;
    f.reconfigure(empty, &err, false, path("fallback").c_str(), "host", true);
    EXPECT_EQ(std::string(f.directory.c_str()), path("fallback") + "/");
    EXPECT_FALSE(f.opened);
    EXPECT_EQ(f.max_file_size, 5242880u);
    EXPECT_EQ(f.files_to_keep, 5u);
    EXPECT_EQ(std::string(err.c_str()), "");
}

TEST_F(LogNaming, SetLogDirectory) {
    config_parser_c cfg;
    cfg.log_directory.append(path("first").c_str());
    logger_c l;
    tr_stream_c err;
    l.reconfigure(cfg, &err, true, nullptr, "host", false);
    l.write("one\r\n", 5, nullptr, 0);

    tr_stream_c e1, e2, e3;
    EXPECT_FALSE(l.set_log_directory(cfg, nullptr, &e1, nullptr, false));
    EXPECT_EQ(std::string(e1.c_str()), "Error! No LogDirName string has been provided");
    EXPECT_FALSE(l.set_log_directory(cfg, "logs/x", &e2, nullptr, false));
    EXPECT_EQ(std::string(e2.c_str()), "Error! \"logs/x\" is not full path");
    touch("blocker");
    std::string blocked = path("blocker/x");
    EXPECT_FALSE(l.set_log_directory(cfg, blocked.c_str(), &e3, nullptr, false));
    EXPECT_EQ(std::string(e3.c_str()), "Unable to create directory " + blocked);
    EXPECT_FALSE(l.set_log_directory(cfg, "x", nullptr, nullptr, false));   // no error text: no crash
    EXPECT_EQ(std::string(cfg.log_directory.c_str()), path("first"));
    EXPECT_EQ(l.file_number, 0u);

    // A new directory: stored canonical in the configuration, with '/' in
    // the logger; the old file is rotated, a new one opened there, and the
    // number advances by two (the old file, then open_file's rotation step).
    std::string second = dir() + "/second/./deep//";
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, nullptr, false));
    EXPECT_EQ(std::string(err.c_str()), "");
    EXPECT_EQ(std::string(cfg.log_directory.c_str()), path("second/deep"));
    EXPECT_EQ(std::string(l.directory.c_str()), path("second/deep") + "/");
    EXPECT_EQ(l.file_number, 2u);
    EXPECT_TRUE(fs::exists(fs::u8path(path("first/host.log.1"))));
    EXPECT_EQ(std::string(l.file_name.c_str()), path("second/deep/host.log"));
    EXPECT_NE(read_file(path("second/deep/host.log")).find("#2"), std::string::npos);

    // The same text again rotates again.
    EXPECT_TRUE(l.set_log_directory(cfg, second.c_str(), &err, nullptr, false));
    EXPECT_GE(l.file_number, 3u);
    EXPECT_TRUE(fs::exists(fs::u8path(path("second/deep/host.log.3"))));
    EXPECT_NE(l.file, PLAT_NO_FILE);

    // A module name is taken with a new directory.
    EXPECT_TRUE(l.set_log_directory(cfg, path("third").c_str(), &err, "named", true));
    EXPECT_EQ(std::string(l.file_name.c_str()), path("third/named.log"));
    EXPECT_EQ(std::string(err.c_str()), "");
}

TEST_F(LogNaming, AddPidSwitchAndProcessIdChange) {
    config_parser_c cfg;
    cfg.log_directory.append(dir().c_str());
    logger_c l;
    EXPECT_EQ(l.pid, static_cast<unsigned>(plat_pid()));
    // Before anything is open, and without the flag, only the id changes.
    l.change_pid(10);
    EXPECT_EQ(l.pid, 10u);
    tr_stream_c err;
    l.reconfigure(cfg, &err, true, nullptr, "host", false);
    EXPECT_EQ(std::string(l.file_name.c_str()), d() + "host.log");
    l.change_pid(12);
    l.change_pid(10);
    EXPECT_EQ(l.file_number, 0u);

    l.set_add_pid(cfg, true, &err);
    EXPECT_TRUE(cfg.add_pid_to_log_filename);
    EXPECT_EQ(std::string(l.file_name.c_str()), d() + "host_10.log");
    EXPECT_TRUE(exists("host.log.1"));
    EXPECT_TRUE(exists("host_10.log"));
    l.write("ten\r\n", 5, nullptr, 0);
    const unsigned number = l.file_number;

    l.change_pid(10);   // same id: nothing
    EXPECT_EQ(l.file_number, number);
    l.change_pid(11);
    EXPECT_EQ(l.file_number, number + 2);   // the old file's rotation, then open_file's
    std::string moved = read_file(path("host_10.log." + std::to_string(number + 1)));
    EXPECT_EQ(moved.substr(moved.size() - 5), "ten\r\n");
    EXPECT_FALSE(exists("host_10.log"));
    EXPECT_TRUE(exists("host_11.log"));
    EXPECT_EQ(std::string(l.file_name.c_str()), d() + "host_11.log");
    EXPECT_NE(read_file(path("host_11.log")).find(", Version = "), std::string::npos);
    l.change_pid(0);   // the current process
    EXPECT_EQ(std::string(l.file_name.c_str()), d() + "host_" + std::to_string(plat_pid()) + ".log");

    l.set_add_pid(cfg, false, &err);
    EXPECT_EQ(std::string(l.file_name.c_str()), d() + "host.log");
    EXPECT_EQ(std::string(err.c_str()), "");
}

// Two writers of one executable share a directory: the later one's scan may
// not take the earlier one's lines away. (On Windows the live file cannot be
// moved; on POSIX it is renamed and the writer goes on writing into it.)
TEST_F(LogNaming, SharedDirectoryLosesNoLines) {
    config_parser_c cfg;
    cfg.log_directory.append(dir().c_str());
    logger_c a;
    tr_stream_c err;
    a.reconfigure(cfg, &err, true, nullptr, "host", false);
    a.write("before\r\n", 8, nullptr, 0);

    // The second process names its file with its process id (two writers of
    // one name exclude each other on Windows).
    config_parser_c cfg_b;
    cfg_b.log_directory.append(dir().c_str());
    cfg_b.add_pid_to_log_filename = true;
    logger_c b;
    b.pid = a.pid + 1;
    b.reconfigure(cfg_b, &err, true, nullptr, "host", false);
    EXPECT_EQ(std::string(err.c_str()), "");
    EXPECT_GE(b.file_number, 1u);
    a.write("after\r\n", 7, nullptr, 0);
    EXPECT_NE(a.file, PLAT_NO_FILE);

    unsigned holding = 0;
    for (const std::string& f : files()) {
        std::string content = read_file(path(f));
        if (content.find("after\r\n") != std::string::npos) {
            ++holding;
            EXPECT_NE(content.find("before\r\nafter\r\n"), std::string::npos) << f;
        }
    }
    EXPECT_EQ(holding, 1u);
}
