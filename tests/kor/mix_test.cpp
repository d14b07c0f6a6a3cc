#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "katrace.h"
#include "kor/kor_thread.h"
#include "kor/mix.h"
#include "platform/platform.h"

TEST(Mix, BooleanWords) {
    EXPECT_STREQ(mix_n::True, "true");
    EXPECT_STREQ(mix_n::False, "false");
}

TEST(Mix, RegcmpWildcards) {
    using mix_n::regcmp;
    // Plain text must match whole; case folding only when asked.
    EXPECT_TRUE(regcmp("main.cpp", "main.cpp", true));
    EXPECT_TRUE(regcmp("MAIN.cpp", "main.CPP", true));
    EXPECT_FALSE(regcmp("MAIN.cpp", "main.cpp", false));
    EXPECT_FALSE(regcmp("main", "main.cpp", true));
    EXPECT_FALSE(regcmp("main.cpp", "main", true));
    // '*' takes any run, also none; '?' exactly one character.
    EXPECT_TRUE(regcmp("*.cpp", "a/b/main.cpp", true));
    EXPECT_TRUE(regcmp("*.cpp", ".cpp", true));
    EXPECT_FALSE(regcmp("*.cpp", "main.cppx", true));
    EXPECT_TRUE(regcmp("*", "", true));
    EXPECT_TRUE(regcmp("**", "anything", true));
    EXPECT_TRUE(regcmp("", "", true));
    EXPECT_FALSE(regcmp("", "x", true));
    EXPECT_FALSE(regcmp("?", "", true));
    EXPECT_TRUE(regcmp("file?.c", "FILE1.C", true));
    EXPECT_FALSE(regcmp("file?.c", "file.c", true));
    EXPECT_TRUE(regcmp("ns::*::get*", "ns::Class::getValue", true));
    EXPECT_FALSE(regcmp("ns::*::get*", "ns::Class::setValue", true));
    // Backtracking: the first candidate for the star is not the right one.
    EXPECT_TRUE(regcmp("*ab*ac", "xabyabac", true));
    EXPECT_TRUE(regcmp("a*b?d", "aXbYbZd", true));
    EXPECT_FALSE(regcmp("a*b?d", "aXbYbZ", true));
    // Bytes above ASCII compare as themselves (UTF-8 names).
    EXPECT_TRUE(regcmp("caf\xC3\xA9*", "caf\xC3\xA9_bar", true));
    EXPECT_FALSE(regcmp("caf\xC3\xA9", "caf\xC3\x89", true));
    // Null on either side never matches.
    EXPECT_FALSE(regcmp(nullptr, "x", true));
    EXPECT_FALSE(regcmp("*", nullptr, true));
}

TEST(Mix, RegcmpDoesNotExplode) {
    // Many stars against a long text without a match: must finish quickly
    // (a naive recursive matcher takes exponential time here).
    std::string pattern;
    for (int i = 0; i < 30; ++i) pattern += "*a";
    pattern += "b";
    std::string text(5000, 'a');
    EXPECT_FALSE(mix_n::regcmp(pattern.c_str(), text.c_str(), true));
    text += "b";
    EXPECT_TRUE(mix_n::regcmp(pattern.c_str(), text.c_str(), true));
}

TEST(Mix, TimeText) {
    char buf[64];
    long long now = plat_time();
    struct tm tmv;
    ASSERT_TRUE(mix_n::localtime_r(&now, &tmv));
    EXPECT_EQ(mix_n::ctime_r(&now, buf), buf);
    // "Www Mmm dd hh:mm:ss yyyy", no line feed.
    std::string text = buf;
    ASSERT_EQ(text.size(), 24u) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text[3], ' ');
    EXPECT_EQ(text[13], ':');
    EXPECT_EQ(std::stoi(text.substr(20)), tmv.tm_year + 1900);
    EXPECT_EQ(std::stoi(text.substr(8, 2)), tmv.tm_mday);

    EXPECT_FALSE(mix_n::localtime_r(nullptr, &tmv));
    EXPECT_FALSE(mix_n::localtime_r(&now, nullptr));
    EXPECT_STREQ(mix_n::ctime_r(nullptr, buf), "");
    EXPECT_EQ(mix_n::ctime_r(&now, nullptr), nullptr);
}

TEST(Mix, ExecutableDirAndName) {
    char dir[KOR_MAX_PATH];
    char name[KOR_MAX_PATH];
    ASSERT_EQ(mix_n::get_exe_dir(dir), dir);
    ASSERT_EQ(mix_n::get_exe_name(name), name);
    std::string d = dir;
    std::string n = name;
    EXPECT_EQ(d.find('\\'), std::string::npos);
    ASSERT_FALSE(d.empty());
    EXPECT_NE(d.back(), '/');
    EXPECT_EQ(n.find('/'), std::string::npos);
    EXPECT_EQ(n.rfind("test_kor", 0), 0u) << n;
#ifdef _WIN32
    EXPECT_EQ(n, "test_kor.exe");
    EXPECT_EQ(d[1], ':');
#else
    EXPECT_EQ(n, "test_kor");
    EXPECT_EQ(d[0], '/');
#endif
    // The library's own copy: same text, same pointer every time.
    const char* own = mix_n::get_exe_dir(nullptr);
    ASSERT_NE(own, nullptr);
    EXPECT_STREQ(own, dir);
    EXPECT_EQ(mix_n::get_exe_dir(nullptr), own);
    EXPECT_STREQ(mix_n::get_exe_name(nullptr), name);
}

TEST(KorThread, IdentityAndHostGivenName) {
    unsigned long id = 0, appl = 99;
    const char* name = nullptr;
    ASSERT_TRUE(kor_thread_c::get_current_thread(&id, &name, &appl));
    EXPECT_EQ(id, kor_thread_c::curr_thread_id());
    EXPECT_TRUE(kor_thread_c::are_same_threads(id, kor_thread_c::curr_thread_id()));
    EXPECT_EQ(appl, 0u);
    EXPECT_TRUE(kor_thread_c::get_current_thread(nullptr, nullptr, nullptr));

    // In another thread: a different id; the host's name and id stick to
    // the thread and the text outlives both the caller's buffer and the thread.
    unsigned long other_id = 0, other_appl = 0;
    const char* other_name = nullptr;
    std::thread t([&] {
        char given[32];
        std::strcpy(given, "worker-7");
        katr_set_thread_info(given, 7);
        std::strcpy(given, "overwritten");
        kor_thread_c::get_current_thread(&other_id, &other_name, &other_appl);
    });
    t.join();
    EXPECT_FALSE(kor_thread_c::are_same_threads(id, other_id));
    EXPECT_STREQ(other_name, "worker-7");
    EXPECT_EQ(other_appl, 7u);

    // The caller's own record was not touched; a null name goes back to the
    // OS name (the same interned text as before).
    ASSERT_TRUE(kor_thread_c::get_current_thread(&id, &name, &appl));
    EXPECT_EQ(appl, 0u);
    const char* os_name = name;
    kor_thread_c::set_current_thread_info("main-host", 3);
    kor_thread_c::get_current_thread(&id, &name, &appl);
    EXPECT_STREQ(name, "main-host");
    EXPECT_EQ(appl, 3u);
    kor_thread_c::set_current_thread_info(nullptr, 0);
    kor_thread_c::get_current_thread(&id, &name, &appl);
    EXPECT_EQ(name, os_name);
    EXPECT_EQ(appl, 0u);
}
