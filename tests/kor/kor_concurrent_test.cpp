// Many threads at once through the thread identity, the critical sections and
// the reader-writer lock; the thread-sanitizer build runs these.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kor/crit_section.h"
#include "kor/kor_thread.h"
#include "kor/ptr_list.h"
#include "kor/rw_lock.h"

namespace {
const int thread_count = 8;
}

TEST(KorConcurrent, ThreadNamesAreInternedAndOutliveTheirThreads) {
    std::vector<const char*> names(thread_count * 2, nullptr);
    std::vector<unsigned long> ids(thread_count, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i) {
        threads.emplace_back([i, &names, &ids] {
            // Half the threads share one name, so the set sees equal texts
            // from several threads at once.
            std::string name = (i % 2) ? "shared-name" : "thread-" + std::to_string(i);
            for (int round = 0; round < 200; ++round) {
                kor_thread_c::set_current_thread_info(name.c_str(), static_cast<unsigned long>(i + 1));
                const char* got = nullptr;
                unsigned long appl = 0;
                kor_thread_c::get_current_thread(&ids[i], &got, &appl);
                if (round == 0) names[i * 2] = got;
                names[i * 2 + 1] = got;
                if (appl != static_cast<unsigned long>(i + 1)) ADD_FAILURE() << "application id of thread " << i;
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < thread_count; ++i) {
        ASSERT_NE(names[i * 2], nullptr);
        // Repeated calls hand out the one interned text.
        EXPECT_EQ(names[i * 2], names[i * 2 + 1]);
        EXPECT_STREQ(names[i * 2], (i % 2) ? "shared-name" : ("thread-" + std::to_string(i)).c_str());
        for (int j = 0; j < i; ++j) EXPECT_FALSE(kor_thread_c::are_same_threads(ids[i], ids[j]));
    }
    EXPECT_EQ(names[1 * 2], names[3 * 2]);  // equal names share one text
}

TEST(KorConcurrent, SharedListUnderItsCriticalSection) {
    ptr_list_c list(true);
    static int values[thread_count];
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i) {
        threads.emplace_back([i, &list] {
            for (int round = 0; round < 500; ++round) {
                {
                    kor_lock_c hold(list.cs());
                    list.append(&values[i]);
                }
                // A full walk with the list's own cursor, then removal of
                // one of this thread's elements, as the registry does.
                kor_lock_c hold(list.cs());
                for (void* p = list.first(); p; p = list.next()) {
                    if (p == &values[i]) {
                        list.remove_current();
                        break;
                    }
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(list.num(), 0u);
}

TEST(KorConcurrent, ReaderWriterLockExcludesWriters) {
    single_writer_multi_reader_c lock;
    long long counter = 0;         // written only under the writer lock
    std::atomic<int> readers{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i) {
        threads.emplace_back([i, &lock, &counter, &readers, &overlap] {
            for (int round = 0; round < 2000; ++round) {
                if ((round + i) % 4 == 0) {
                    single_writer_lock_c hold(lock);
                    if (readers.load() != 0) overlap = true;
                    ++counter;
                } else {
                    multi_reader_lock_c hold(lock);
                    ++readers;
                    volatile long long seen = counter;
                    (void)seen;
                    --readers;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(counter, thread_count * 2000 / 4);
}
