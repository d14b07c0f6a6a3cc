// Many threads through the thread identity, the critical sections and the reader-writer lock.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "katrace.h"
#include "kor/crit_section.h"
#include "kor/kor_thread.h"
#include "kor/ptr_list.h"
#include "kor/rw_lock.h"

namespace {
const int thread_count = 8;
template <class F> void run_threads(F f) {
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i) threads.emplace_back(f, i);
    for (auto& t : threads) t.join();
}
}  // namespace

TEST(KorConcurrent, ThreadNamesAreInternedAndOutliveTheirThreads) {
    // Odd threads share one name; every round hands a thread the one interned copy of its name.
    const char* names[thread_count] = {};
    unsigned long ids[thread_count] = {};
    run_threads([&](int i) {
        const std::string name = (i % 2) ? "shared-name" : "thread-" + std::to_string(i);
        for (unsigned long round = 0, appl = 0; round < 200; ++round) {
            std::string given = name;
            kor_thread_c::set_current_thread_info(given.c_str(), i + 1UL);
            given.assign("overwritten");  // the name was copied
            const char* got = nullptr;
            kor_thread_c::get_current_thread(&ids[i], &got, &appl);
            if (!got || name != got || (round && got != names[i]) || appl != i + 1UL) ADD_FAILURE() << i << " " << round;
            names[i] = got;
        }
    });
    for (int i = 0; i < thread_count; ++i)
        for (int j = 0; j < i; ++j) EXPECT_FALSE(kor_thread_c::are_same_threads(ids[i], ids[j]));
    EXPECT_EQ(names[1], names[3]);  // equal names share one text, which outlives its thread
    EXPECT_STREQ(names[0], "thread-0");
}

