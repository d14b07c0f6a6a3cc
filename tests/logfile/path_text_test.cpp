// Path texts: canonical form, dot resolution, full-path test, long form.
// These are pure text functions and give the same results on every build.
#include <gtest/gtest.h>

#include <string>

#include "logfile/path_ops.h"
#include "platform/platform.h"

namespace {

std::string norm(const char* s) {
    char out[LOG_PATH_SIZE];
    out[0] = 'x';
    bool ok = normalize_path(s, out);
    return ok ? std::string(out) : "<refused:" + std::string(out) + ">";
}

std::string dots(const char* s) {
    char buf[LOG_PATH_SIZE];
    std::snprintf(buf, sizeof buf, "%s", s);
    resolve_dots(buf);
    return buf;
}

// The long form, converted back to UTF-8 for comparison.
std::string long_form(const char* s) {
    katr_wchar_t wide[LOG_PATH_SIZE];
    wide[0] = 'x';
    bool ok = to_long_path(s, wide);
    char narrow[LOG_PATH_SIZE * 3];
    narrow[0] = 0;
    if (wide[0]) plat_utf16_to_utf8(wide, narrow, sizeof narrow);
    return ok ? std::string(narrow) : "<refused:" + std::string(narrow) + ">";
}

}  // namespace

TEST(PathText, DrivePathsCanonicalAndLong) {
    EXPECT_EQ(norm("C:\\logs\\\\app\\"), "C:/logs/app");
    EXPECT_EQ(long_form("C:\\logs\\\\app\\"), "\\\\?\\C:\\logs\\app");
    EXPECT_EQ(norm("C:/"), "C:/");
    EXPECT_EQ(norm("C:\\"), "C:/");
    EXPECT_EQ(norm("C:"), "C:");
    EXPECT_EQ(long_form("C:/"), "\\\\?\\C:\\");
    // An existing extended-length prefix is dropped and given back once.
    EXPECT_EQ(norm("\\\\?\\D:\\x\\y"), "D:/x/y");
    EXPECT_EQ(long_form("\\\\?\\D:\\x\\y"), "\\\\?\\D:\\x\\y");
    // UTF-8 survives the conversion to UTF-16.
    EXPECT_EQ(long_form("C:/l\xC3\xB6gs/\xE6\x97\xA5"), "\\\\?\\C:\\l\xC3\xB6gs\\\xE6\x97\xA5");
}

TEST(PathText, NetworkPathsCanonicalAndLong) {
    EXPECT_EQ(norm("\\\\server\\share\\logs"), "\\\\server/share/logs");
    EXPECT_EQ(long_form("\\\\server\\share\\logs"), "\\\\?\\UNC\\server\\share\\logs");
    EXPECT_EQ(norm("\\\\server/share//logs/"), "\\\\server/share/logs");
    // The long network form reads back as the network path.
    EXPECT_EQ(norm("\\\\?\\UNC\\server\\share\\d"), "\\\\server/share/d");
    EXPECT_EQ(long_form("\\\\?\\UNC\\server\\share\\d"), "\\\\?\\UNC\\server\\share\\d");
    // ".." never climbs above the server and share; a dot component where
    // the share stands is resolved too (the long form would name a share ".").
    EXPECT_EQ(norm("\\\\srv\\sh\\a\\..\\..\\.."), "\\\\srv/sh");
    EXPECT_EQ(norm("\\\\srv\\.\\x"), "\\\\srv/x");
    EXPECT_EQ(norm("\\\\srv\\..\\x\\y"), "\\\\srv/x/y");
    EXPECT_EQ(long_form("\\\\?\\UNC\\srv\\.\\sh\\d"), "\\\\?\\UNC\\srv\\sh\\d");
}

TEST(PathText, RelativeAndRootedPaths) {
    EXPECT_EQ(norm("logs/x"), "logs/x");
    EXPECT_EQ(long_form("logs/x"), "logs\\x");
    EXPECT_EQ(norm("//a//b//"), "/a/b");
    EXPECT_EQ(norm("/"), "/");
    EXPECT_EQ(long_form("/var/log"), "\\var\\log");
    EXPECT_EQ(norm(".hidden/a"), ".hidden/a");
    EXPECT_EQ(norm("a/.b/c..d"), "a/.b/c..d");
}

TEST(PathText, DotResolution) {
    EXPECT_EQ(norm("/a/./b/../c"), "/a/c");
    EXPECT_EQ(norm("a/.."), ".");
    EXPECT_EQ(norm("C:/x/.."), "C:/");
    EXPECT_EQ(norm("./x"), "x");
    EXPECT_EQ(norm("x/."), "x");
    EXPECT_EQ(norm("C:\\a\\.\\b\\..\\..\\c\\"), "C:/c");
    // Climbing above the first component: the extra ".." is dropped.
    EXPECT_EQ(norm("C:/.."), "C:/");
    EXPECT_EQ(norm("/../a"), "/a");
    EXPECT_EQ(norm("a/../../b"), "b");
    EXPECT_EQ(dots("C:"), "C:/");
    EXPECT_EQ(dots(""), ".");
    EXPECT_EQ(dots("/"), "/");
    resolve_dots(nullptr);  // no crash
}

TEST(PathText, FullPathTest) {
    EXPECT_TRUE(is_full_path("C:\\x"));
    EXPECT_TRUE(is_full_path("c:/x"));
    EXPECT_TRUE(is_full_path("\\\\s"));
    EXPECT_FALSE(is_full_path("C:"));
    EXPECT_FALSE(is_full_path("C:x"));
    EXPECT_FALSE(is_full_path("1:/x"));
    EXPECT_FALSE(is_full_path("\\\\"));
    EXPECT_FALSE(is_full_path("\\x"));
    EXPECT_FALSE(is_full_path("logs/x"));
    EXPECT_FALSE(is_full_path(""));
    EXPECT_FALSE(is_full_path(nullptr));
#if defined(_WIN32)
    EXPECT_FALSE(is_full_path("/x"));
#else
    EXPECT_TRUE(is_full_path("/x"));
#endif
}

TEST(PathText, BadInputIsRefused) {
    EXPECT_EQ(norm(nullptr), "<refused:>");
    EXPECT_EQ(long_form(nullptr), "<refused:>");
    EXPECT_EQ(long_form(""), "<refused:>");
    EXPECT_FALSE(normalize_path("x", nullptr));
    EXPECT_FALSE(to_long_path("x", nullptr));

    // The longest path that fits, and one byte more.
    std::string fits = "C:/" + std::string(LOG_PATH_SIZE - 4, 'a');
    std::string too_long = fits + "b";
    EXPECT_EQ(norm(fits.c_str()), fits);
    EXPECT_EQ(norm(too_long.c_str()), "<refused:>");
    // The long form adds a prefix: a canonical path that fits may not.
    EXPECT_EQ(long_form(fits.c_str()), "<refused:>");
    std::string fits_long = "C:/" + std::string(LOG_PATH_SIZE - 8, 'a');
    EXPECT_EQ(long_form(fits_long.c_str()).size(), LOG_PATH_SIZE - 1);
    // Dot components in a long path are resolved without overflow.
    std::string many_dots;
    while (many_dots.size() + 2 < LOG_PATH_SIZE - 1) many_dots += "./";
    EXPECT_EQ(norm(many_dots.c_str()), ".");
    std::string many_seps(LOG_PATH_SIZE - 1, '/');
    EXPECT_EQ(norm(many_seps.c_str()), "/");
}
