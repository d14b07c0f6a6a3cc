// Many threads tracing through nested scopes at once, with reloads in
// between: every accepted line arrives whole, scopes balance per thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "front/front_fixture.h"
#include "support/tr_stream.h"

namespace {

void nested(int level, int thread, std::atomic<int>& lines) {
    KATR_SCOPE(t);
    KATR_PRINT_NL(t, KATR_RANK_ERROR, "t%d level %d", thread, level);
    KATR_PRINT_NL(t, KATR_RANK_DEBUG, "t%d hidden", thread);
    lines += 1;
    if (level < 3) nested(level + 1, thread, lines);
}

}  // namespace

using FrontConcurrent = front_test;

TEST_F(FrontConcurrent, NestedScopesFromManyThreads) {
    load("KeepStack on\nDoIndentation on\nPrintFunction on\nDefaultLoggingRank trace error");
    const int threads = 4, rounds = 50;
    std::atomic<int> lines{0};
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i)
        pool.emplace_back([&, i] {
            for (int r = 0; r < rounds; ++r) nested(1, i, lines);
            EXPECT_EQ(m->get_thread_record()->depth, 0);
        });
    // Reloads raise the generation while the sites are in use.
    for (int r = 0; r < 5; ++r) {
        tr_stream_c messages;
        m->parse_buffer(r % 2 ? "DefaultLoggingRank trace error" : "DefaultLoggingRank +error", messages);
    }
    for (auto& t : pool) t.join();

    std::string log = since_load();
    size_t enters = 0, leaves = 0, messages = 0, pos = 0;
    while ((pos = log.find("\r\n", pos)) != std::string::npos) ++pos;
    for (size_t p = 0; (p = log.find("nested:enter->\r\n", p)) != std::string::npos; ++p) ++enters;
    for (size_t p = 0; (p = log.find("nested:<-leave\r\n", p)) != std::string::npos; ++p) ++leaves;
    for (size_t p = 0; (p = log.find(" level ", p)) != std::string::npos; ++p) ++messages;
    EXPECT_EQ(lines.load(), threads * rounds * 3);
    EXPECT_EQ(enters, static_cast<size_t>(threads * rounds * 3));
    EXPECT_EQ(leaves, enters);
    EXPECT_EQ(messages, enters);
    EXPECT_EQ(log.find("hidden"), std::string::npos);
    // Indentation follows each thread's own depth.
    EXPECT_NE(log.find("error-> .  .  .    t"), std::string::npos);
}
