#include <gtest/gtest.h>

#include <string>

#include "kor/kor_thread.h"
#include "kor/mix.h"
#include "platform/platform.h"

TEST(Mix, RegcmpWildcards) {
    const char* const nul = nullptr;
    const struct { const char *pattern, *text; bool no_case, match; } cases[] = {
        // Whole text; case folding only when asked; '*' any run, also none; '?' exactly one character.
        {"MAIN.cpp", "main.CPP", true, true}, {"MAIN.cpp", "main.cpp", false, false}, {"main", "main.cpp", true, false},
        {"main.cpp", "main", true, false}, {"", "", true, true}, {"", "x", true, false}, {"*", "", true, true},
        {"*.cpp", "a/b/main.cpp", true, true}, {"*.cpp", ".cpp", true, true}, {"*.cpp", "main.cppx", true, false},
        {"**", "anything", true, true}, {"?", "", true, false}, {"file?.c", "FILE1.C", true, true},
        {"file?.c", "file.c", true, false}, {"*ab*ac", "xabyabac", true, true}, {"a*b?d", "aXbYbZd", true, true},
        {"a*b?d", "aXbYbZ", true, false}, {"caf\xC3\xA9*", "caf\xC3\xA9_bar", true, true},  // bytes above ASCII as they are
        {"caf\xC3\xA9", "caf\xC3\x89", true, false}, {nul, "x", true, false}, {"*", nul, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mix_n::regcmp(c.pattern, c.text, c.no_case), c.match) << c.pattern << " " << c.text;
    // Many stars against a long text without a match: exponential for a naive recursive matcher.
    std::string pattern, text(5000, 'a');
    for (int i = 0; i < 30; ++i) pattern += "*a";
    EXPECT_FALSE(mix_n::regcmp((pattern + "b").c_str(), text.c_str(), true));
    EXPECT_TRUE(mix_n::regcmp((pattern + "b").c_str(), (text + "b").c_str(), true));
}

TEST(Mix, TimeText) {
    char buf[64];
    long long now = plat_time();
    struct tm tmv;
    ASSERT_TRUE(mix_n::localtime_r(&now, &tmv));
    ASSERT_EQ(mix_n::ctime_r(&now, buf), buf);
    const std::string text = buf;  // "Www Mmm dd hh:mm:ss yyyy", no line feed
    ASSERT_EQ(text.size(), 24u) << text;
    EXPECT_EQ(text.substr(19), " " + std::to_string(tmv.tm_year + 1900));
    EXPECT_EQ(std::stoi(text.substr(8, 2)), tmv.tm_mday);
}
