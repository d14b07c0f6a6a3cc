// The library inside a host whose disk fills up while threads trace.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/fault.h"
#include "front/front_fixture.h"

using FrontFaultConcurrent = front_test;

// Four threads trace into a full disk: one message, the host goes on, the
// lines written before the fault stay in the file that the reopen rotates
// away, and every line started a second after space came back is written.
TEST_F(FrontFaultConcurrent, FullDiskWithFourThreadsReopensASecondAfterSpaceComesBack) {
    load("DefaultLoggingRank error");
    site().print_nl(KATR_RANK_ERROR, 1, "before the fault");
    const std::string first_file = log_name();
    enum {
        FULL,
        SPACE_BACK,
        SECOND_LATER,
        STOP
    };
    std::atomic<int> phase{FULL};
    std::vector<int> late(4, 0);
    testing::internal::CaptureStderr();
    fault_c full(PLAT_CALL_WRITE, PLAT_FAULT_NO_SPACE);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            unsigned tmask = KATR_RANK_SITE_DEFAULT, tgen = 0;
            for (int i = 0;; ++i) {
                const int p = phase.load();
                if (p == STOP) break;
                katr_entry_c("f", "t.cpp", &tmask, &tgen, 1, false).print_nl(KATR_RANK_ERROR, 1, "t%d p%d i%d", t, p, i);
                if (p == SECOND_LATER) ++late[t];
                plat_sleep_ms(1);
            }
        });
    }
    plat_sleep_ms(300);
    full.clear();
    phase = SPACE_BACK;
    plat_sleep_ms(logger_c::REOPEN_DELAY_MS + 200);
    phase = SECOND_LATER;
    plat_sleep_ms(300);
    phase = STOP;
    for (auto& t : threads) t.join();
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count(out, "Unable to write to file " + first_file + "! Error code=" + std::to_string(ERR_NO_SPACE) + "\n"), 1u) << out;
    EXPECT_EQ(count(out, "Unable"), 1u) << out;
    EXPECT_NE(read_file(first_file + ".1").find("error->before the fault\r\n"), std::string::npos);
    const std::string now = read_file(first_file);
    EXPECT_EQ(count(now, " JOT Log File #1, Version = "), 1u);
    for (int t = 0; t < 4; ++t) {
        SCOPED_TRACE(t);
        EXPECT_GT(late[t], 0);
        EXPECT_EQ(count(now, "error->t" + std::to_string(t) + " p2 "), static_cast<size_t>(late[t]));
    }
}
