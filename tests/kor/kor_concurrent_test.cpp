// Many threads through the thread identity of the support library.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kor/kor_thread.h"

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
