// The support library's text helpers, and many threads through its thread identity.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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

namespace {
const int thread_count = 8;
template <class F> void run_threads(F f) {
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i) threads.emplace_back(f, i);
    for (auto& t : threads) t.join();
}
}  // namespace

TEST(KorConcurrent, EachThreadKeepsItsOwnNameCopy) {
    // Threads set and read their names at once; each sees its own copy, never another's.
    unsigned long ids[thread_count] = {};
    run_threads([&](int i) {
        const std::string name = (i % 2) ? "shared-name" : "thread-" + std::to_string(i);
        for (unsigned long round = 0, appl = 0; round < 200; ++round) {
            std::string given = name;
            kor_thread_c::set_current_thread_info(given.c_str(), i + 1UL);
            given.assign("overwritten");  // the name was copied
            const char* got = nullptr;
            kor_thread_c::get_current_thread(&ids[i], &got, &appl);
            if (!got || name != got || appl != i + 1UL) ADD_FAILURE() << i << " " << round;
        }
        // Too long a name is cut to the buffer; an empty one gives the OS name back.
        const std::string long_name(KOR_THREAD_NAME_SIZE + 10, 'n');
        kor_thread_c::set_current_thread_info(long_name.c_str(), 0);
        const char* got = nullptr;
        kor_thread_c::get_current_thread(nullptr, &got, nullptr);
        if (!got || std::string(got) != long_name.substr(0, KOR_THREAD_NAME_SIZE - 1)) ADD_FAILURE() << "cut " << i;
        kor_thread_c::set_current_thread_info("", 0);
        kor_thread_c::get_current_thread(nullptr, &got, nullptr);
        if (got && std::string(got) == long_name.substr(0, KOR_THREAD_NAME_SIZE - 1)) ADD_FAILURE() << "kept " << i;
    });
    for (int i = 0; i < thread_count; ++i)
        for (int j = 0; j < i; ++j) EXPECT_FALSE(kor_thread_c::are_same_threads(ids[i], ids[j]));
}
