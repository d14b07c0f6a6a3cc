// The black box as trace sites use it: what is recorded beside what the log
// writes, the context written before an error line, and a reload that
// changes the box.
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <thread>
#include <vector>

#include "blackbox/box_decoder.h"
#include "blackbox/box_format.h"
#include "front/front_fixture.h"

namespace {

class BlackBox : public front_test {
protected:
    // The events of the open box, every region, oldest first per region.
    std::vector<box_event_s> events(std::string path = "") {
        if (path.empty()) path = m->box.path();
        const std::string bytes = read_file(path);
        copy_.assign((bytes.size() + 7) / 8, 0);
        memcpy(copy_.data(), bytes.data(), bytes.size());
        box_decoder_c d;
        std::vector<box_event_s> out;
        EXPECT_TRUE(d.open(reinterpret_cast<const unsigned char*>(copy_.data()), bytes.size())) << path;
        d.read_all(&out);
        EXPECT_TRUE(d.problems().empty()) << d.problems().front();
        return out;
    }
    // The events of a box as text, with their depth when asked.
    std::vector<std::string> texts(const std::string& path = "", bool depth = false) {
        std::vector<std::string> out;
        for (const box_event_s& e : events(path)) {
            out.push_back(e.kind == BOX_REC_ENTER   ? "enter " + e.function
                          : e.kind == BOX_REC_LEAVE ? "leave " + e.function
                                                    : box_rank_name(e) + " " + box_format_message(e.format, e.args) +
                                                          (e.written ? " (written)" : ""));
            if (depth) out.back() += " @" + std::to_string(e.depth);
        }
        return out;
    }
    std::vector<uint64_t> copy_;
};

// Every argument is read as printf reads it, so the box's message is the
// text printf makes; %n is taken and never written through.
TEST_F(BlackBox, RecordsEverySiteEventWhileTheLogKeepsItsRules) {
    load("DefaultLoggingRank error\nBlackBoxSize 1048576\nBlackBoxRank trace debug");
    int untouched = 7;
    {
        katr_entry_c e = site(true, "shop.cpp", "Store::save");
        KATR_PRINT(e, KATR_RANK_DEBUG, "order %d of %s: %.3s %ld %lld %zu %5.2f %c %ls %hd%n|%*d|%.*s", 42, "ann",
                   "abcdef", -5L, 1ll << 40, sizeof(int), 2.5, 'x', L"wide", static_cast<short>(-3), &untouched, 4, 9, 2,
                   "xyz");
        KATR_PRINT(e, KATR_RANK_WARNING, "not recorded, not written");
        KATR_PRINT(e, KATR_RANK_ERROR, "failed: %s", "disk full");
    }
    EXPECT_EQ(untouched, 7);
    const std::string log = since_load();
    EXPECT_EQ(log.find("order"), std::string::npos) << log;
    EXPECT_NE(log.find("error->failed: disk full"), std::string::npos) << log;

    char expected[256];
    snprintf(expected, sizeof expected, "order %d of %s: %.3s %ld %lld %zu %5.2f %c %ls %hd|%*d|%.*s", 42, "ann", "abcdef", -5L,
             1ll << 40, sizeof(int), 2.5, 'x', L"wide", static_cast<short>(-3), 4, 9, 2, "xyz");
    const std::vector<std::string> want = {"enter Store::save", std::string("debug ") + expected,
                                           "error failed: disk full (written)", "leave Store::save"};
    EXPECT_EQ(texts(), want);
}

// A scope entered in one box and left after a reload gave another leaves
// in the new box, under its own site and at its depth. (Nested scopes in
// order: the crash tests.)
TEST_F(BlackBox, AScopeLeftAfterItsBoxWasReplaced) {
    load("DefaultLoggingRank error\nBlackBoxSize 1048576");
    const std::string first = m->box.path();
    unsigned inner_mask = KATR_RANK_SITE_DEFAULT, inner_gen = 0;
    {
        katr_entry_c outer = site(true, "box.cpp", "Box::outer");
        KATR_PRINT(outer, KATR_RANK_DEBUG, "d=%d", 1);
        load("DefaultLoggingRank error\nBlackBoxSize 2097152");
        ASSERT_NE(m->box.path(), first);
        katr_entry_c inner("Box::inner", "box.cpp", &inner_mask, &inner_gen, 20, true);
        KATR_PRINT(inner, KATR_RANK_ERROR, "e=%d %s", 2, "xyz");
    }
    EXPECT_EQ(texts(first, true), (std::vector<std::string>{"enter Box::outer @1", "debug d=1 @1"}));
    EXPECT_EQ(texts("", true), (std::vector<std::string>{"enter Box::inner @2", "error e=2 xyz (written) @2", "leave Box::inner @2",
                                                "leave Box::outer @1"}));
}

// The lines before an error line are the thread's newest events that the
// log did not show, oldest first; written ones are not repeated.
TEST_F(BlackBox, ErrorLineFollowsItsThreadsLastEvents) {
    load("DefaultLoggingRank error warning\nBlackBoxSize 1048576\nBlackBoxOnError 3");
    std::thread other([this] {
        katr_entry_c e = site(false, "o.cpp", "other");
        e.print(KATR_RANK_DEBUG, 3, "other thread %d", 1);
        m->on_thread_detach();  // what the library's thread-exit notification does
    });
    other.join();
    {
        katr_entry_c e = site(true, "shop.cpp", "Store::save");
        for (int i = 1; i <= 4; ++i) KATR_PRINT(e, KATR_RANK_DEBUG, "step %d", i);
        KATR_PRINT(e, KATR_RANK_WARNING, "shown %d", 5);
        KATR_PRINT(e, KATR_RANK_ERROR, "failed");
    }
    const std::string log = since_load();
    const size_t step3 = log.find("box->"), error = log.find("error->");
    ASSERT_NE(step3, std::string::npos) << log;
    ASSERT_NE(error, std::string::npos) << log;
    const std::string context = log.substr(step3, error - step3);
    EXPECT_NE(context.find("debug-> . Store::save:step 2\r\n"), std::string::npos) << log;
    EXPECT_LT(context.find("step 2"), context.find("step 3"));
    EXPECT_LT(context.find("step 3"), context.find("step 4"));
    EXPECT_EQ(context.find("step 1"), std::string::npos) << context;
    EXPECT_EQ(context.find("other thread"), std::string::npos) << context;
    EXPECT_EQ(context.find("shown"), std::string::npos) << context;
    EXPECT_EQ(log.substr(error), "error->failed") << log;
}

// A reload that resizes the box opens a new one under the name; the old
// one keeps what it had. Ranks reach the sites through the generation, and
// size 0 closes the box: the sites write as they did without one.
TEST_F(BlackBox, ReloadChangesTheBoxAndTheRanks) {
    load("DefaultLoggingRank error\nBlackBoxSize 1048576\nBlackBoxRank debug");
    const std::string first = m->box.path();
    auto message = [this](int i) {
        katr_entry_c e = site(true);
        KATR_PRINT(e, KATR_RANK_DEBUG, "n=%d", i);
        KATR_PRINT(e, KATR_RANK_NOTE, "note %d", i);
    };
    message(1);
    parse("BlackBoxSize 2097152\nBlackBoxRank note");
    EXPECT_EQ(m->box.path(), first);
    message(2);
    EXPECT_EQ(texts(), std::vector<std::string>({"note note 2"}));
    EXPECT_NE(read_file(first.substr(0, first.size() - 5) + ".1.kbox").size(), 0u);

    parse("BlackBoxSize 0");
    EXPECT_EQ(m->box.path(), "");
    EXPECT_EQ(katr_state_flags & KATR_STATE_BLACK_BOX, 0u);
    message(3);
    EXPECT_EQ(mask & KATR_RANK_NOTE, 0u);
    EXPECT_EQ(since_load().find("n=3"), std::string::npos);
}

}  // namespace

namespace {

using BlackBoxConcurrent = BlackBox;

// Threads record scopes and messages (and error lines with their context)
// while reloads replace the box and change its ranks: every box decodes,
// and each thread's events in a box are its own, in order.
TEST_F(BlackBoxConcurrent, ThreadsRecordWhileReloadsReplaceTheBox) {
    load("DefaultLoggingRank error\nBlackBoxSize 1048576\nBlackBoxOnError 2\nLogNumberOfFilesToKeep 50");
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            static unsigned masks[3] = {KATR_RANK_SITE_DEFAULT, KATR_RANK_SITE_DEFAULT, KATR_RANK_SITE_DEFAULT}, gens[3];
            for (int i = 0; !stop.load(); ++i) {
                katr_entry_c e("work", "w.cpp", &masks[t], &gens[t], 1, true);
                KATR_PRINT(e, KATR_RANK_DEBUG, "thread %d step %d %s", t, i, "abc");
                if (i % 500 == 0) KATR_PRINT(e, KATR_RANK_ERROR, "thread %d error %d", t, i);
            }
            m->on_thread_detach();
        });
    for (int r = 0; r < 6; ++r) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        parse(r % 2 ? "BlackBoxSize 1048576\nBlackBoxRank +debug" : "BlackBoxSize 2097152\nBlackBoxRank -debug");
    }
    stop.store(true);
    for (auto& t : threads) t.join();
    for (const std::string& p : {m->box.path(), m->box.path().substr(0, m->box.path().size() - 5) + ".3.kbox"}) {
        int last[3] = {-1, -1, -1};
        for (const box_event_s& e : events(p)) {
            if (e.kind != BOX_REC_MESSAGE || e.rank != KATR_RANK_DEBUG) continue;
            ASSERT_EQ(e.args.size(), 3u);
            const int t = static_cast<int>(e.args[0].bits), i = static_cast<int>(e.args[1].bits);
            ASSERT_TRUE(t >= 0 && t < 3);
            EXPECT_GT(i, last[t]) << p;
            EXPECT_EQ(e.args[2].text, "abc");
            last[t] = i;
        }
    }
}

}  // namespace
