// Many threads at once through the thread identity, the critical sections and
// the reader-writer lock; the thread-sanitizer build runs these.
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
    // Odd threads share one name, so the set sees equal texts at once; every
    // round must hand a thread the one interned copy of its name.
    std::vector<const char*> names(thread_count, nullptr);
    std::vector<unsigned long> ids(thread_count, 0);
    run_threads([&](int i) {
        const std::string name = (i % 2) ? "shared-name" : "thread-" + std::to_string(i);
        const unsigned long appl_id = static_cast<unsigned long>(i + 1);
        for (int round = 0; round < 200; ++round) {
            std::string given = name;
            katr_set_thread_info(given.c_str(), appl_id);
            given.assign("overwritten");  // the name was copied
            const char* got = nullptr;
            unsigned long appl = 0;
            kor_thread_c::get_current_thread(&ids[i], &got, &appl);
            if (!got || name != got || (round && got != names[i]) || appl != appl_id)
                ADD_FAILURE() << "thread " << i << " round " << round;
            names[i] = got;
        }
    });
    for (int i = 0; i < thread_count; ++i)
        for (int j = 0; j < i; ++j) EXPECT_FALSE(kor_thread_c::are_same_threads(ids[i], ids[j]));
    EXPECT_EQ(names[1], names[3]);  // equal names share one text
    EXPECT_STREQ(names[0], "thread-0");  // the text outlives its thread
}

TEST(KorConcurrent, SharedListUnderItsCriticalSection) {
    // Appends, then (the section is recursive) a walk with the list's own
    // cursor that removes one of this thread's elements, as the registry does.
    ptr_list_c list(true);
    static int values[thread_count];
    run_threads([&](int i) {
        for (int round = 0; round < 500; ++round) {
            {
                kor_lock_c hold(list.cs());
                list.append(&values[i]);
            }
            kor_lock_c hold(list.cs());
            kor_lock_c again(list.cs());
            if (list.find_data(&values[i])) list.remove_current();
        }
    });
    EXPECT_EQ(list.num(), 0u);
}

TEST(KorConcurrent, ReaderWriterLockExcludesWriters) {
    single_writer_multi_reader_c lock;
    long long counter = 0;  // written only under the writer lock
    std::atomic<int> readers{0};
    std::atomic<bool> overlap{false};
    run_threads([&](int i) {
        for (int round = 0; round < 2000; ++round) {
            if ((round + i) % 4 == 0) {
                single_writer_lock_c hold(lock);
                if (readers.load() != 0) overlap = true;
                ++counter;
            } else {
                multi_reader_lock_c hold(lock);
                ++readers;
                if (counter < 0) overlap = true;  // a read of what the writers change
                --readers;
            }
        }
    });
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(counter, thread_count * 2000 / 4);
}
