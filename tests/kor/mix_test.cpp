#include <gtest/gtest.h>

#include <string>

#include "kor/kor_thread.h"
#include "kor/mix.h"
#include "platform/platform.h"

TEST(Mix, RegcmpWildcards) {
    const char* const nul = nullptr;
    const struct { const char* pattern; const char* text; bool no_case, match; } cases[] = {
        // Plain text must match whole; case folding only when asked.
        {"MAIN.cpp", "main.CPP", true, true}, {"MAIN.cpp", "main.cpp", false, false},
        {"main", "main.cpp", true, false}, {"main.cpp", "main", true, false}, {"", "", true, true}, {"", "x", true, false},
        // '*' takes any run, also none; '?' exactly one character.
        {"*.cpp", "a/b/main.cpp", true, true}, {"*.cpp", ".cpp", true, true}, {"*.cpp", "main.cppx", true, false},
        {"*", "", true, true}, {"**", "anything", true, true}, {"?", "", true, false},
        {"file?.c", "FILE1.C", true, true}, {"file?.c", "file.c", true, false},
        // Backtracking: the first candidate for the star is not the right one.
        {"*ab*ac", "xabyabac", true, true}, {"a*b?d", "aXbYbZd", true, true}, {"a*b?d", "aXbYbZ", true, false},
        // Bytes above ASCII compare as themselves (UTF-8 names); null never matches.
        {"caf\xC3\xA9*", "caf\xC3\xA9_bar", true, true}, {"caf\xC3\xA9", "caf\xC3\x89", true, false},
        {nul, "x", true, false}, {"*", nul, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern ? c.pattern : "(null)") + " ~ " + (c.text ? c.text : "(null)"));
        EXPECT_EQ(mix_n::regcmp(c.pattern, c.text, c.no_case), c.match);
    }
    // Many stars against a long text without a match must finish quickly (a
    // naive recursive matcher takes exponential time here).
    std::string pattern, text(5000, 'a');
    for (int i = 0; i < 30; ++i) pattern += "*a";
    pattern += "b";
    EXPECT_FALSE(mix_n::regcmp(pattern.c_str(), text.c_str(), true));
    EXPECT_TRUE(mix_n::regcmp(pattern.c_str(), (text + "b").c_str(), true));
}

TEST(Mix, TimeTextAndExecutablePath) {
    char buf[64];
    long long now = plat_time();
    struct tm tmv;
    ASSERT_TRUE(mix_n::localtime_r(&now, &tmv));
    ASSERT_EQ(mix_n::ctime_r(&now, buf), buf);
    const std::string text = buf;  // "Www Mmm dd hh:mm:ss yyyy", no line feed
    ASSERT_EQ(text.size(), 24u) << text;
    EXPECT_EQ(text.substr(19), " " + std::to_string(tmv.tm_year + 1900)) << text;
    EXPECT_EQ(std::stoi(text.substr(8, 2)), tmv.tm_mday);
    EXPECT_FALSE(mix_n::localtime_r(nullptr, &tmv) || mix_n::localtime_r(&now, nullptr));
    EXPECT_STREQ(mix_n::ctime_r(nullptr, buf), "");
    EXPECT_EQ(mix_n::ctime_r(&now, nullptr), nullptr);

    char dir[KOR_MAX_PATH], name[KOR_MAX_PATH];
    ASSERT_EQ(mix_n::get_exe_dir(dir), dir);
    ASSERT_EQ(mix_n::get_exe_name(name), name);
#ifdef _WIN32
    EXPECT_STREQ(name, "test_kor.exe");
    EXPECT_EQ(dir[1], ':') << dir;
#else
    EXPECT_STREQ(name, "test_kor");
    EXPECT_EQ(dir[0], '/') << dir;
#endif
    const std::string d = dir;
    EXPECT_TRUE(d.size() > 1 && d.find('\\') == std::string::npos && d.back() != '/') << d;
    // The library's own copy: same text, same pointer every time.
    EXPECT_STREQ(mix_n::get_exe_dir(nullptr), dir);
    EXPECT_EQ(mix_n::get_exe_dir(nullptr), mix_n::get_exe_dir(nullptr));
    EXPECT_STREQ(mix_n::get_exe_name(nullptr), name);
}

TEST(KorThread, OwnRecordAndTheOsName) {
    // Other threads' records are set in the concurrent tests; here the
    // defaults and the way back to the OS name.
    unsigned long id = 0, appl = 99;
    const char *name = nullptr, *os_name = nullptr;
    ASSERT_TRUE(kor_thread_c::get_current_thread(&id, &os_name, &appl));
    EXPECT_TRUE(kor_thread_c::are_same_threads(id, kor_thread_c::curr_thread_id()));
    EXPECT_EQ(appl, 0u);
    EXPECT_TRUE(kor_thread_c::get_current_thread(nullptr, nullptr, nullptr));
    kor_thread_c::set_current_thread_info("main-host", 3);
    kor_thread_c::get_current_thread(&id, &name, &appl);
    EXPECT_STREQ(name, "main-host");
    EXPECT_EQ(appl, 3u);
    kor_thread_c::set_current_thread_info(nullptr, 0);  // the same interned OS name as before
    kor_thread_c::get_current_thread(&id, &name, &appl);
    EXPECT_EQ(name, os_name);
    EXPECT_EQ(appl, 0u);
}
