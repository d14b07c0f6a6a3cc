// The configuration model: the two tables, string lists, pattern names and
// the storing and merging of rank rules.
#include <gtest/gtest.h>

#include <string>

#include "config_text.h"
#include "katrace.h"

namespace {
config_parser_c::log_rank_s* set(config_parser_c::log_rank_s* r, bool relative, unsigned add, unsigned remove) {
    r->relative = relative;
    r->add_ranks = add;
    r->remove_ranks = remove;
    return r;
}
}  // namespace

TEST(ConfigModel, StoreAndMerge) {
    // The same name (byte-wise): merged, or dropped as a duplicate; other case: a new rule.
    config_parser_c c;
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, set(new config_parser_c::log_rank_s("a.cpp"), true, KATR_RANK_DEBUG, 0)));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, set(new config_parser_c::log_rank_s("*.h"), true, KATR_RANK_LOG, 0)));
    EXPECT_FALSE(config_parser_c::store_rank_rule(c.file_ranks, set(new config_parser_c::log_rank_s("a.cpp"), true, 1, KATR_RANK_DEBUG)));
    EXPECT_FALSE(config_parser_c::store_rank_rule(c.file_ranks, set(new config_parser_c::log_rank_s("*.h"), false, 4, 0), false));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, set(new config_parser_c::log_rank_s("A.cpp"), true, 1, 0)));
    EXPECT_EQ(rules_of(c.file_ranks), "A.cpp:r/1/0 a.cpp:r/1/128 *.h:r/16/0 ");

    // A relative rule into an absolute one stays absolute; two relative ones
    // combine; an absolute new rule replaces.
    const struct {
        bool rel;
        unsigned add, remove;
        bool new_rel;
        unsigned new_add, new_remove;
        const char* merged;
    } merges[] = {
        {false, KATR_RANK_FATAL | KATR_RANK_ERROR, 0, true, KATR_RANK_DEBUG, KATR_RANK_ERROR, ":a/130/0 "},
        {true, KATR_RANK_TRACE | KATR_RANK_FATAL, KATR_RANK_LOG | KATR_RANK_NOTE, true, KATR_RANK_LOG, KATR_RANK_TRACE, ":r/18/33 "},
        {true, KATR_RANK_TRACE | KATR_RANK_FATAL, KATR_RANK_LOG | KATR_RANK_NOTE, false, KATR_RANK_WARNING, 0, ":a/8/0 "},
    };
    for (const auto& m : merges) {
        config_parser_c::log_rank_s stored(nullptr), added(nullptr);
        config_parser_c::merge_rank_rule(*set(&stored, m.rel, m.add, m.remove), *set(&added, m.new_rel, m.new_add, m.new_remove));
        EXPECT_EQ(text_of(stored), m.merged);
    }
}

// A parse into a copy gives what a parse into the original gives (report,
// messages, rule order); swapping exchanges whole contents. Duplicates are
// still found after the lists were emptied or exchanged.
TEST(ConfigModel, CopySwapAndNameLookups) {
    const char* first = "AditionalRanks db net\nLogDirectoryName /var/log/x\nPrintFile on\nVerbose error\n"
                        "File a.cpp +db\nFile *.h -warning\nClass K log\nFunction f::* +debug\n"
                        "ModuleContent m x.cpp *.inl Y.c\nModuleRank m +net\nThreadByName io* on\nThreadBySysID 9 on\n";
    const char* second = "File a.cpp -db +note\nFile b.cpp trace\nModuleContent m X.CPP z.cpp\nFunction f::* -debug\n"
                         "ThreadByName io* on\nThreadByName io2 on\nAditionalRanks -db\nbad line\nFile\n";
    config_parser_c original;
    std::string msg, copy_msg;
    ASSERT_EQ(parse(original, first, msg), 0u) << msg;
    config_parser_c* copy = copy_config(original);
    ASSERT_NE(copy, nullptr);
    const auto report_of = [](config_parser_c& c) { tr_stream_c out; config_report(c, out); return std::string(out.c_str()); };
    EXPECT_EQ(report_of(*copy), report_of(original));
    EXPECT_EQ(parse(*copy, second, copy_msg), parse(original, second, msg));
    EXPECT_EQ(copy_msg, msg);
    EXPECT_EQ(report_of(*copy), report_of(original));
    EXPECT_EQ(rules_of(copy->thread_ranks), rules_of(original.thread_ranks));

    config_parser_c fresh;
    const std::string full = report_of(original), empty = report_of(fresh);
    swap_config(fresh, original);
    EXPECT_EQ(report_of(fresh), full);
    EXPECT_EQ(report_of(original), empty);
    delete copy;

    // Emptied and refilled lists: the same name again merges into the new record.
    EXPECT_EQ(parse(fresh, "ThreadByName io* off\nThreadByName io* off\nModuleContent m y.CPP Y.cpp", msg), 0u) << msg;
    EXPECT_EQ(rules_of(fresh.thread_ranks), "io*:a/0/0 ");
    fresh.file_ranks.destroy_all();
    EXPECT_EQ(parse(fresh, "File a.cpp +log\nFile a.cpp -log", msg), 0u) << msg;
    EXPECT_EQ(rules_of(fresh.file_ranks), "a.cpp:r/0/16 ");
    EXPECT_NE(report_of(fresh).find("\nModuleContent m  y.CPP z.cpp Y.c x.cpp *.inl\n"), std::string::npos) << report_of(fresh);
}
