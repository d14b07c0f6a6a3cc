// File-system operations of the log files against a real temporary directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "config/str_list.h"
#include "logfile/logger.h"
#include "logfile/path_ops.h"

namespace fs = std::filesystem;

namespace {

class PathFs : public temp_dir_test {};

std::string backslashed(std::string s) {
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::vector<std::string> strings_of(str_list_c& list) {
    std::vector<std::string> v;
    for (void* p = list.first(); p; p = list.next()) v.push_back(static_cast<const char*>(p));
    return v;
}

}  // namespace

TEST_F(PathFs, ExistsAndCreatesDirectories) {
    write_file(path("f"), "x");
    EXPECT_TRUE(path_exists(path("f").c_str()));
    EXPECT_TRUE(path_exists(dir().c_str()));
    EXPECT_TRUE(path_exists((dir() + "/").c_str()));
    EXPECT_FALSE(path_exists(path("missing").c_str()));
    EXPECT_FALSE(path_exists(nullptr));
    EXPECT_FALSE(path_exists(""));

    // Only "a" exists: "b" and "c" are created, the second call finds them.
    fs::create_directory(fs::u8path(path("a")));
    std::string deep = path("a/b/c");
    EXPECT_TRUE(create_directories(deep.c_str()));
    EXPECT_TRUE(fs::is_directory(fs::u8path(deep)));
    EXPECT_TRUE(create_directories(deep.c_str()));
    // Backslashes, doubled and trailing separators and dots.
    std::string odd = backslashed(dir()) + "\\\\x\\.\\y\\..\\z\\";
    EXPECT_TRUE(create_directories(odd.c_str()));
    EXPECT_TRUE(fs::is_directory(fs::u8path(path("x/z"))));
    EXPECT_FALSE(fs::exists(fs::u8path(path("x/y"))));

    // A file in the way: the directory cannot be created.
    EXPECT_FALSE(create_directories(path("f/sub").c_str()));
    EXPECT_FALSE(create_directories(nullptr));
    EXPECT_FALSE(create_directories(""));
    std::string too_long = dir() + "/" + std::string(LOG_PATH_SIZE, 'd');
    EXPECT_FALSE(create_directories(too_long.c_str()));
    EXPECT_FALSE(path_exists(too_long.c_str()));
}

TEST_F(PathFs, MovesAndDeletes) {
    logger_c logger;
    logger.directory.append(dir().c_str()).append('/');
    write_file(path("old.log"), "old");
    write_file(path("new.log"), "in the way");

    // The existing target is deleted first.
    EXPECT_TRUE(move_file(logger, path("old.log").c_str(), path("new.log").c_str()));
    EXPECT_FALSE(fs::exists(fs::u8path(path("old.log"))));
    EXPECT_EQ(read_file(path("new.log")), "old");

    // Names equal without regard to case: nothing happens.
    EXPECT_TRUE(move_file(logger, path("new.log").c_str(), path("NEW.LOG").c_str()));
    EXPECT_EQ(read_file(path("new.log")), "old");

    EXPECT_FALSE(move_file(logger, path("missing").c_str(), path("other").c_str()));
    EXPECT_FALSE(move_file(logger, nullptr, path("other").c_str()));
    EXPECT_FALSE(move_file(logger, path("new.log").c_str(), nullptr));

    // Inside the logger's directory, and by full path.
    EXPECT_TRUE(delete_file(logger, "new.log", true));
    EXPECT_FALSE(fs::exists(fs::u8path(path("new.log"))));
    EXPECT_FALSE(delete_file(logger, "new.log", true));
    write_file(path("g"), "g");
    EXPECT_TRUE(delete_file(logger, backslashed(path("g")).c_str(), false));
    EXPECT_FALSE(delete_file(logger, nullptr, true));
}

TEST_F(PathFs, ListsFilesOnly) {
    logger_c logger;
    logger.directory.append(dir().c_str()).append('/');
    write_file(path("one"), "1");
    write_file(path("two"), "2");
    write_file(path("l\xC3\xB6g"), "3");
    fs::create_directory(fs::u8path(path("sub")));

    str_list_c list;
    list.append_string("before");
    ASSERT_TRUE(list_directory(logger, list));
    std::vector<std::string> names = strings_of(list);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names.back(), "before");   // new names go to the front
    names.pop_back();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"l\xC3\xB6g", "one", "two"}));

    logger_c missing;
    missing.directory.append(path("nowhere/").c_str());
    str_list_c untouched;
    untouched.append_string("keep");
    EXPECT_FALSE(list_directory(missing, untouched));
    EXPECT_EQ(strings_of(untouched), std::vector<std::string>{"keep"});
}
