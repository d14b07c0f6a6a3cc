// The configuration model: the two tables, string lists, pattern names and
// the storing and merging of rank rules.
#include <gtest/gtest.h>

#include <string>

#include "config_text.h"
#include "katrace.h"

namespace {
config_parser_c::log_rank_s* set(config_parser_c::log_rank_s* r, bool relative, unsigned add, unsigned remove)
{
    r->relative = relative;
    r->add_ranks = add;
    r->remove_ranks = remove;
    return r;
}
} // namespace

TEST(ConfigModel, StoreAndMerge)
{
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
    const struct { bool rel; unsigned add, remove; bool new_rel; unsigned new_add, new_remove; const char* merged; } merges[] = {
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
