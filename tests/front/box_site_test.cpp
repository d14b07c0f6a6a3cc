// The black box as the trace sites fill it: scopes and messages recorded in
// order with depth, arguments and the written flag, the written line still
// formatted from the same arguments, a scope left after its box was replaced,
// and threads recording at once into regions of their own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/box_decoder.h"
#include "front/front_fixture.h"

namespace {

class BoxSiteTest : public front_test {
protected:
    unsigned outer_mask = KATR_RANK_SITE_DEFAULT, outer_gen = 0, inner_mask = KATR_RANK_SITE_DEFAULT, inner_gen = 0;

    // enter outer, debug message, enter inner, error message, leave inner, leave outer
    void work(int i) {
        katr_entry_c outer("Box::outer", "box.cpp", &outer_mask, &outer_gen, 10, true);
        KATR_PRINT(outer, KATR_RANK_DEBUG, "d=%d %s", i, "ab");
        {
            katr_entry_c inner("Box::inner", "box.cpp", &inner_mask, &inner_gen, 20, true);
            KATR_PRINT(inner, KATR_RANK_ERROR, "e=%d %s", i, "xyz");
        }
    }

    std::vector<box_event_s> events(const std::string& box) {
        const std::string bytes = read_file(box);
        std::vector<uint64_t> copy(bytes.size() / 8 + 1);
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        box_decoder_c d;
        std::vector<box_event_s> out;
        EXPECT_TRUE(d.open(reinterpret_cast<const unsigned char*>(copy.data()), bytes.size()));
        d.read_all(&out);
        return out;
    }
};

using BoxSiteConcurrent = BoxSiteTest;

// What one thread's work(i) leaves, from index k of events on, inside
// outside open scopes.
void expect_work(const std::vector<box_event_s>& ev, size_t k, int i, unsigned outside = 0) {
    ASSERT_GE(ev.size(), k + 6);
    const uint8_t kinds[6] = {BOX_REC_ENTER, BOX_REC_MESSAGE, BOX_REC_ENTER, BOX_REC_MESSAGE, BOX_REC_LEAVE, BOX_REC_LEAVE};
    const unsigned depths[6] = {1, 1, 2, 2, 2, 1};
    const char* functions[6] = {"Box::outer", "Box::outer", "Box::inner", "Box::inner", "Box::inner", "Box::outer"};
    for (size_t j = 0; j < 6; ++j) {
        const box_event_s& e = ev[k + j];
        EXPECT_EQ(e.kind, kinds[j]) << j;
        EXPECT_EQ(e.depth, depths[j] + outside) << j;
        EXPECT_EQ(e.function, functions[j]) << j;
        EXPECT_EQ(e.written, j == 3) << j;
    }
    const box_event_s& d = ev[k + 1];
    const box_event_s& e = ev[k + 3];
    EXPECT_EQ(d.rank, KATR_RANK_DEBUG);
    EXPECT_EQ(e.rank, KATR_RANK_ERROR);
    ASSERT_EQ(d.args.size(), 2u);
    ASSERT_EQ(e.args.size(), 2u);
    EXPECT_EQ(static_cast<int64_t>(d.args[0].bits), i);
    EXPECT_EQ(d.args[1].text, "ab");
    EXPECT_EQ(static_cast<int64_t>(e.args[0].bits), i);
    EXPECT_EQ(e.args[1].text, "xyz");
}

}  // namespace

TEST_F(BoxSiteTest, ScopesAndMessagesInOrderAndAScopeLeftAfterItsBoxWasReplaced) {
    load("DefaultLoggingRank error\nBlackBoxSize 1048576");
    const std::string first = m->box.path();
    ASSERT_FALSE(first.empty());
    work(1);
    work(2);
    // The written line is formatted from the arguments the box took too.
    EXPECT_NE(since_load().find("e=1 xyz"), std::string::npos);
    EXPECT_NE(since_load().find("e=2 xyz"), std::string::npos);
    std::vector<box_event_s> ev = events(first);
    ASSERT_EQ(ev.size(), 12u);
    expect_work(ev, 0, 1);
    expect_work(ev, 6, 2);

    // A scope entered in one box and left after a reload gave another:
    // the leave goes to the new box, under its own site.
    {
        katr_entry_c outer("Box::outer", "box.cpp", &outer_mask, &outer_gen, 10, true);
        load("DefaultLoggingRank error\nBlackBoxSize 2097152");
        ASSERT_NE(m->box.path(), first);
        work(3);
    }
    ev = events(m->box.path());
    ASSERT_EQ(ev.size(), 7u);
    expect_work(ev, 0, 3, 1);
    EXPECT_EQ(ev[6].kind, BOX_REC_LEAVE);
    EXPECT_EQ(ev[6].function, "Box::outer");
    EXPECT_EQ(ev[6].depth, 1u);
}

// Each thread's events in its own region, whole and in order.
TEST_F(BoxSiteConcurrent, ThreadsRecordIntoRegionsOfTheirOwn) {
    load("DefaultLoggingRank error\nBlackBoxSize 4194304");
    const int threads = 4, rounds = 200;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) work(t * 1000 + i);
        });
    for (std::thread& t : pool) t.join();
    std::vector<std::vector<box_event_s>> by_region;
    for (const box_event_s& e : events(m->box.path())) {
        if (e.region >= by_region.size()) by_region.resize(e.region + 1);
        by_region[e.region].push_back(e);
    }
    int seen = 0;
    for (const std::vector<box_event_s>& r : by_region) {
        if (r.empty()) continue;
        ASSERT_EQ(r.size(), size_t(6 * rounds));
        const int base = static_cast<int>(r[1].args.at(0).bits) / 1000 * 1000;
        for (int i = 0; i < rounds; ++i) expect_work(r, size_t(6 * i), base + i);
        ++seen;
    }
    EXPECT_EQ(seen, threads);
}
